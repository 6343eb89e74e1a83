#include "formats/chunks.h"

#include <cstring>

#include "formats/tiff_tags.h"

namespace {

constexpr unsigned char kPngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// A walk ends after this many chunks: a file of empty chunks cannot keep it going.
constexpr int kMostChunks = 65536;

struct ChunkLayout {
  uint64_t first;     // offset of the first chunk
  bool little;        // byte order of the size
  bool type_first;    // the type comes before the size
  unsigned trailer;   // bytes after the data (PNG's CRC)
  bool padded;        // data padded to an even length
  const char *exif;   // the EXIF chunk's type
  const char *last;   // a type that ends the walk, or nullptr
};

const ChunkLayout kPng = {8, false, false, 4, false, "eXIf", "IEND"};
const ChunkLayout kWebp = {12, true, true, 0, true, "EXIF", nullptr};

bool find_chunk(FileSource &source, const ChunkLayout &layout, uint64_t end, TiffRegion &found) {
  uint64_t at = layout.first;
  for (int chunk = 0; chunk < kMostChunks && at <= end && end - at >= 8; chunk++) {
    unsigned char header[8];
    if (!ReadAt(source, at, header, 8))
      return false;
    const unsigned char *type = layout.type_first ? header : header + 4;
    const unsigned char *size = layout.type_first ? header + 4 : header;
    uint64_t length = layout.little ? Little32(size) : Big32(size);
    if (length > end - at - 8)
      return false;
    if (memcmp(type, layout.exif, 4) == 0) {
      found = SkipExifHeader(source, {at + 8, length});
      return true;
    }
    if (layout.last && memcmp(type, layout.last, 4) == 0)
      return false;
    at += 8 + length + layout.trailer + (layout.padded ? length & 1 : 0);
  }
  return false;
}

} // namespace

bool IsPng(const unsigned char *head, size_t length) {
  return length >= sizeof kPngSignature && memcmp(head, kPngSignature, sizeof kPngSignature) == 0;
}

bool IsWebp(const unsigned char *head, size_t length) {
  return length >= 12 && memcmp(head, "RIFF", 4) == 0 && memcmp(head + 8, "WEBP", 4) == 0;
}

bool FindPngExif(FileSource &source, TiffRegion &found) {
  return find_chunk(source, kPng, source.size, found);
}

bool FindWebpExif(FileSource &source, TiffRegion &found) {
  unsigned char riff[8];
  if (!ReadAt(source, 0, riff, 8))
    return false;
  uint64_t end = 8 + uint64_t(Little32(riff + 4)); // a RIFF size that lies is cut to the file
  return find_chunk(source, kWebp, end < source.size ? end : source.size, found);
}

TiffRegion SkipExifHeader(FileSource &source, TiffRegion payload) {
  constexpr size_t kHeader = sizeof kExifHeader;
  unsigned char start[kHeader];
  if (payload.length >= kHeader && ReadAt(source, payload.offset, start, kHeader) &&
      memcmp(start, kExifHeader, kHeader) == 0)
    return {payload.offset + kHeader, payload.length - kHeader};
  return payload;
}
