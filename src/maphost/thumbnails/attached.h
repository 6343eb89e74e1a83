// The picture files the host opens: only those a command of its owner's
// survey delivered. A picture is attached to its position as the command
// arrives: the file at its canonical path, the last component never
// followed, a regular file. Its device and inode are kept, and every later
// open (thumbnail, facts, the whole picture, the exported page) must find
// that same file, and in it the position's own EXIF position. A position
// read from a GPX file or the journal has no file kept: the EXIF position
// alone decides.
#pragma once

#include <string>

#include "maphost/store/store.h"

// Records in position the device and inode of its picture as its command
// arrives, before the reply lets the survey go on; none when the path is no
// regular file.
void AttachPicture(Position &position);

// The whole file of position's picture, as ReadPictureFile reads it; false
// when it is not the file attached, or, none attached, no picture taken at
// the position.
bool ReadAttachedPicture(const Position &position, std::string &bytes);
