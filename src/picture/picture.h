// Processing of one picture file: load, harvest, report, send.
#pragma once

#include "picture/georecord.h"

// Sets the switches, picture number 1 and clears flags and texts.
void InitGeoRecord(GeoRecord &record, int32_t verbose, int32_t position,
                   int32_t waypoint, int32_t piclist);

// fd, when not -1, is the file already open for reading; it is closed here.
void ProcessPicture(const char *path, GeoRecord &record, int fd = -1);
// An entry that is no regular file (FIFO, device, dangling link): it is
// never opened, and reported like a file without EXIF data.
void ProcessUnreadable(const char *path, GeoRecord &record);
