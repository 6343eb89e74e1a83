// Processing of one picture file: load, harvest, report, send.
#pragma once

#include "picture/georecord.h"

// Sets the switches, picture number 1 and clears flags and texts.
void InitGeoRecord(GeoRecord &record, int32_t verbose, int32_t position,
                   int32_t waypoint, int32_t piclist, int32_t all_formats = 0);

// What reading one picture found: whether it had EXIF data, and the texts
// and flags its harvest set in an empty record.
struct PictureTags {
  bool loaded = false;
  GeoRecord tags;
};

// Loads and harvests one picture: everything that needs no console and no
// run state, so it may run on any thread. fd, when not -1, is the file
// already open for reading; it is closed here. all_formats reads the EXIF
// block of every picture format, not only JPEG's.
void ReadPicture(const char *path, int fd, bool all_formats, PictureTags &read);
// The picture's reports and map commands, in the run's record: on the one
// thread that prints, in walk order.
void ReportPicture(const char *path, const PictureTags &read, GeoRecord &record);

// ReadPicture, then ReportPicture.
void ProcessPicture(const char *path, GeoRecord &record, int fd = -1);
// An entry that is no regular file (FIFO, device, dangling link): it is
// never opened, and reported like a file without EXIF data.
void ProcessUnreadable(const char *path, GeoRecord &record);
