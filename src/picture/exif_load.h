// Loading a picture's EXIF data through libexif.
#pragma once

#include <libexif/exif-data.h>
#include <memory>

struct ExifDataUnref {
  void operator()(ExifData *data) const { exif_data_unref(data); }
};
using ExifHandle = std::unique_ptr<ExifData, ExifDataUnref>;

// The file's EXIF data, or nullptr when it has none (not readable, not a
// JPEG, or no EXIF block).
ExifHandle LoadExif(const char *path);
