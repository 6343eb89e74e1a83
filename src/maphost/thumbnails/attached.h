// The picture files the host opens: only those a command of its owner's
// survey delivered. A picture is attached to its position as the command
// arrives: the file at its canonical path, the last component never
// followed, a regular file whose EXIF position is the command's own. Its
// device and inode are kept, and every later open (thumbnail, facts, the
// whole picture, the exported page) must find that same file. A position
// read from a GPX file or the journal has none kept: its file must show the
// position's EXIF position at every open.
#pragma once

#include <string>

#include "maphost/store/store.h"

// The picture file of position, opened as its command arrives, before the
// reply lets the survey go on: -1 when it is no regular file.
int OpenDelivered(const Position &position);

// Records in position the device and inode of file, OpenDelivered's, and
// closes it; false, nothing recorded, when it is not the picture the
// position says.
bool AttachPicture(Position &position, int file);

// The whole file of position's picture, as ReadPictureFile reads it; false
// when it is not the file attached, or, none attached, no picture taken at
// the position.
bool ReadAttachedPicture(const Position &position, std::string &bytes);
