// Loading a picture's EXIF data through libexif.
//
// LoadExif is the survey's loader: the file's head read once, the EXIF block
// found in it (libexif's loader fed from it when the layout is unusual), the
// maker note and IFD 1 hidden from libexif's parser, its allocations served
// from an arena that is reset after each picture, and the conformance
// fix-ups (which add entries the survey never reads) left out.
// LoadExifDefault is libexif's own exif_data_new_from_file; both give the
// harvest the same entries.
#pragma once

#include <libexif/exif-data.h>
#include <memory>

struct ExifRelease {
  bool arena = false; // the data lives in the arena: reset it after the unref
  void operator()(ExifData *data) const;
};
using ExifHandle = std::unique_ptr<ExifData, ExifRelease>;

// The file's EXIF data, or nullptr when it has none (not readable, not a
// JPEG, or no EXIF block). One picture's data at a time. fd, when not -1,
// is the file already open; it is closed here either way. all_formats also
// reads the block of HEIF, PNG, WebP, TIFF and raw files.
ExifHandle LoadExif(const char *path, int fd = -1, bool all_formats = false);
ExifHandle LoadExifDefault(const char *path);
