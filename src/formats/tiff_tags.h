// What both EXIF block readers know of TIFF: the IFD pointer tags libexif
// follows, and the size of each format's components.
#pragma once

#include <cstdint>

constexpr unsigned kExifPointer = 0x8769, kGpsPointer = 0x8825, kInteropPointer = 0xA005;

inline bool IsIfdPointer(unsigned tag) {
  return tag == kExifPointer || tag == kGpsPointer || tag == kInteropPointer;
}

// Bytes of one component of an EXIF format; 0 for a format libexif does not know.
inline uint64_t FormatSize(unsigned format) {
  static const uint8_t sizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
  return format < sizeof sizes ? sizes[format] : 0;
}
