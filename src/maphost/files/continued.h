// A GPX document the map host continues, against its store: read in once,
// and again only when someone else changed it since the host last wrote it.
#pragma once

#include <string>

#include "maphost/files/gpx.h"
#include "maphost/files/kept_file.h"
#include "maphost/store/store.h"

// The file as the file system tells it apart: device, inode, size and the
// times of its last change (which no one can set back).
std::string FileSignature(int fd);

// Brings store up to date with the GPX document in file (named name): when
// it is not the one the store last wrote or read, the store is emptied and
// the document read in, keeping what the store held that the document
// never got. Its other elements go to frame. announce: says so on the
// console. Missing or Loaded; NotGpx with the reason.
GpxLoad ContinueGpx(const KeptFile &file, const char *name, Store &store, GpxFrame &frame,
                    bool announce, std::string *why);

// Notes in store that the files hold its events up to events, and the GPX
// document (fd -1: none) is as it is now.
void NoteFilesWritten(Store &store, size_t events, int gpx_fd, const GpxFrame &frame);
// Whether the files hold every position of the store.
bool FilesHoldStore(Store &store);
