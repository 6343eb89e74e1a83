// What every reader here knows of TIFF and EXIF: the header that starts an
// EXIF block, the tags read, the IFD pointers libexif follows, the size of
// each format's components, and a bounded view of a TIFF structure.
#pragma once

#include <cstddef>
#include <cstdint>

#include "formats/source.h"

// "Exif\0\0": an EXIF block starts with it, its TIFF header follows.
constexpr unsigned char kExifHeader[] = {'E', 'x', 'i', 'f', 0, 0};

constexpr unsigned kExifPointer = 0x8769, kGpsPointer = 0x8825, kInteropPointer = 0xA005;
constexpr unsigned kCompression = 0x0103, kStripOffsets = 0x0111, kOrientation = 0x0112,
                   kStripByteCounts = 0x0117, kSubIfds = 0x014A, kMakerNote = 0x927C;
// A JPEG within the file (IFD 1's thumbnail, a raw file's preview): libexif
// reads both as offsets, and stops an IFD at one past the end.
constexpr unsigned kJpegOffset = 0x0201, kJpegLength = 0x0202;
// The tags the survey harvests: GPS tags 1 to 6 and DateTimeOriginal.
constexpr unsigned kDateTimeOriginal = 0x9003;
inline bool IsHarvestedTag(unsigned tag) { return (tag >= 0x0001 && tag <= 0x0006) || tag == kDateTimeOriginal; }

constexpr size_t kIfdEntry = 12;
// The IFDs one walk visits at most, chained or nested: no file needs more,
// and a loop of links ends there.
constexpr int kMostIfds = 32;

inline bool IsIfdPointer(unsigned tag) {
  return tag == kExifPointer || tag == kGpsPointer || tag == kInteropPointer;
}

// Bytes of one component of an EXIF format; 0 for a format libexif does not know.
inline uint64_t FormatSize(unsigned format) {
  static const uint8_t sizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
  return format < sizeof sizes ? sizes[format] : 0;
}

// Numbers in the byte order of a TIFF header ("II": Intel, little-endian).
struct ByteOrder {
  bool intel = false;
  uint32_t u16(const unsigned char *p) const { return intel ? Little16(p) : Big16(p); }
  uint32_t u32(const unsigned char *p) const { return intel ? Little32(p) : Big32(p); }
  void put16(unsigned char *p, uint32_t value) const {
    p[intel ? 0 : 1] = static_cast<unsigned char>(value);
    p[intel ? 1 : 0] = static_cast<unsigned char>(value >> 8);
  }
  void put32(unsigned char *p, uint32_t value) const {
    for (int i = 0; i < 4; i++)
      p[intel ? i : 3 - i] = static_cast<unsigned char>(value >> (8 * i));
  }
};

// A TIFF structure in memory, its header first: every read is bounded by
// its size, and a number past the end reads as 0.
struct TiffView {
  const unsigned char *bytes = nullptr;
  uint64_t size = 0;
  ByteOrder order;

  bool has(uint64_t at, uint64_t length) const { return at <= size && length <= size - at; }
  uint32_t u16(uint64_t at) const { return has(at, 2) ? order.u16(bytes + at) : 0; }
  uint32_t u32(uint64_t at) const { return has(at, 4) ? order.u32(bytes + at) : 0; }
};

// The view of the size bytes at bytes; false when they start with neither
// "II" nor "MM".
inline bool ViewTiff(const unsigned char *bytes, uint64_t size, TiffView &view) {
  if (size < 2 || bytes[0] != bytes[1] || (bytes[0] != 'I' && bytes[0] != 'M'))
    return false;
  view = TiffView{bytes, size, ByteOrder{bytes[0] == 'I'}};
  return true;
}
