#include "formats/tiff_preview.h"

#include <cstdint>

#include "formats/jpeg_markers.h"
#include "formats/tiff_tags.h"

namespace {

const unsigned char *bytes_of(std::string_view file) {
  return reinterpret_cast<const unsigned char *>(file.data());
}

struct Walk {
  std::string_view file;
  TiffView tiff;
  int ifds = 0;
  TiffFacts facts;

  bool has(uint64_t at, uint64_t length) const { return tiff.has(at, length); }
  uint32_t u16(uint64_t offset) const { return tiff.u16(offset); }
  uint32_t u32(uint64_t offset) const { return tiff.u32(offset); }
  // An entry's first value: a short's or a long's, as its type says.
  uint32_t value(uint64_t entry) const { return u16(entry + 2) == 3 ? u16(entry + 8) : u32(entry + 8); }

  void consider(uint64_t offset, uint64_t length) {
    if (length > facts.preview.size() && length >= 4 && has(offset, length) &&
        StartsJpeg(tiff.bytes + offset, length))
      facts.preview = file.substr(offset, length);
  }
};

void walk_ifd(Walk &walk, uint32_t offset, bool first);

void walk_sub_ifds(Walk &walk, uint64_t entry) {
  uint32_t count = walk.u32(entry + 4);
  uint64_t list = count == 1 ? entry + 8 : walk.u32(entry + 8);
  for (uint32_t i = 0; i < count && i < kMostIfds; i++)
    walk_ifd(walk, walk.u32(list + 4 * i), false);
}

void walk_ifd(Walk &walk, uint32_t offset, bool first) {
  while (offset != 0 && walk.ifds++ < kMostIfds && walk.has(offset, 2)) {
    uint32_t entries = walk.u16(offset);
    uint32_t jpeg = 0, jpeg_length = 0, compression = 0, strip = 0, strip_length = 0;
    for (uint32_t i = 0; i < entries; i++) {
      uint64_t entry = offset + 2 + kIfdEntry * uint64_t(i);
      if (!walk.has(entry, kIfdEntry))
        return;
      switch (walk.u16(entry)) {
      case kOrientation: if (first) walk.facts.orientation = int(walk.u16(entry + 8)); break;
      case kCompression: compression = walk.value(entry); break;
      case kStripOffsets: if (walk.u32(entry + 4) == 1) strip = walk.value(entry); break;
      case kStripByteCounts: if (walk.u32(entry + 4) == 1) strip_length = walk.value(entry); break;
      case kJpegOffset: jpeg = walk.value(entry); break;
      case kJpegLength: jpeg_length = walk.value(entry); break;
      case kSubIfds: walk_sub_ifds(walk, entry); break;
      }
    }
    walk.consider(jpeg, jpeg_length);
    if (compression == 6 || compression == 7) // old-style and new-style JPEG
      walk.consider(strip, strip_length);
    offset = walk.u32(offset + 2 + kIfdEntry * uint64_t(entries));
    first = false;
  }
}

} // namespace

TiffFacts ReadTiffFacts(std::string_view file) {
  Walk walk{file, {}, 0, {}};
  if (!ViewTiff(bytes_of(file), file.size(), walk.tiff))
    return walk.facts;
  walk_ifd(walk, walk.u32(4), true);
  if (walk.facts.orientation < 1 || walk.facts.orientation > 8)
    walk.facts.orientation = 1;
  return walk.facts;
}

std::string_view RafPreview(std::string_view file) {
  constexpr size_t kPointer = 84; // the JPEG's offset, then its length
  if (file.size() < kPointer + 8)
    return {};
  const unsigned char *p = bytes_of(file) + kPointer;
  uint64_t offset = Big32(p), length = Big32(p + 4);
  if (offset > file.size() || length > file.size() - offset || !StartsJpeg(bytes_of(file) + offset, length))
    return {};
  return file.substr(offset, length);
}
