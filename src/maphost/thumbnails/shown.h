// What the web view shows of a picture file the host was told about: its
// thumbnail, the whole picture in a form browsers show, and the EXIF facts
// its popup gives. The format is known from the first bytes, never from
// the name.
#pragma once

#include <string>
#include <string_view>
#include <sys/stat.h>

#include "formats/sniff.h"
#include "picture/georecord.h"

// Files larger than this are not read.
constexpr long long kMostPictureBytes = 256LL << 20;
constexpr int kThumbnailSide = 256;


// The regular file at path, open, and its status; -1 for anything else,
// a link at its last component too. A FIFO or device never blocks.
int OpenPictureFile(const std::string &path, struct stat &status);
// The whole file that OpenPictureFile opens; false when there is none, or
// it is larger than kMostPictureBytes or unreadable.
bool ReadPictureFile(const std::string &path, std::string &bytes);
// The same of the regular file open at fd, whose status is given.
bool ReadWholePicture(int fd, const struct stat &status, std::string &bytes);

// The GPS tags of the file's EXIF data, harvested as the survey harvests
// them; none found when it has none.
GeoRecord HarvestPicture(std::string_view file);

// A JPEG of at most kThumbnailSide pixels a side, upright; empty when the
// picture has none that can be made.
std::string MakeThumbnail(std::string_view file);

struct WholePicture {
  const char *type = nullptr; // its media type; nullptr when none can be shown
  std::string bytes;
};
// JPEG, PNG and WebP as they are; HEIF as JPEG; TIFF and raw files as the
// largest JPEG preview they carry.
WholePicture ShowWhole(std::string file);

struct PictureFacts {
  std::string time; // the capture time as it stands, e.g. "2016:07:05 09:15:00"
  const char *time_from = ""; // which tag gave it: "original", "digitized", "changed", "GPS (UTC)"
  bool has_altitude = false;
  double altitude = 0; // metres above sea level; negative below it
  int orientation = 1;
};
PictureFacts ReadFacts(std::string_view file);
