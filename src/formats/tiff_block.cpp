#include "formats/tiff_block.h"

#include <cstring>
#include <vector>

#include "formats/tiff_tags.h"

namespace {

constexpr size_t kTiff = sizeof kExifHeader; // the TIFF header follows it
constexpr size_t kEntry = kIfdEntry;
constexpr uint64_t kMostEntries = kMostBlockBytes / kEntry;
constexpr uint32_t kPastEnd = 0xFFFFFFFF;

enum Kind { kIfd0, kIfd1, kExif, kGps, kInterop, kKinds };

struct Pointer {
  unsigned tag;
  Kind kind;
};
constexpr Pointer kPointers[] = {{kExifPointer, kExif}, {kGpsPointer, kGps}, {kInteropPointer, kInterop}};

struct Compactor {
  FileSource &source;
  TiffRegion region;
  ByteOrder order;
  unsigned char *tiff; // the copy's TIFF header
  size_t used;         // bytes of the copy, from its TIFF header
  bool loaded[kKinds];

  unsigned u16(const unsigned char *p) const { return order.u16(p); }
  uint32_t u32(const unsigned char *p) const { return order.u32(p); }
  void put32(unsigned char *p, uint32_t value) const { order.put32(p, value); }
  bool read(uint64_t at, void *to, uint64_t length) {
    return at <= region.length && length <= region.length - at &&
           ReadAt(source, region.offset + at, to, static_cast<size_t>(length));
  }
  // Room for length bytes in the copy, at an even offset as TIFF wants.
  size_t reserve(uint64_t length) {
    size_t at = used + (used & 1);
    if (length > kMostBlockBytes - kTiff - at)
      return 0;
    used = at + static_cast<size_t>(length);
    return at;
  }
};

size_t copy_ifd(Compactor &c, Kind kind, uint64_t offset);

// The entry as it goes into the copy, or false when libexif would not load
// it or the survey does not need it; stop when libexif ends the IFD there.
bool copy_entry(Compactor &c, unsigned char *entry, Kind kind, bool &stop) {
  unsigned tag = c.u16(entry);
  uint32_t value = c.u32(entry + 8);
  if (tag == kJpegOffset || tag == kJpegLength) {
    stop = value >= c.region.length;
    return false;
  }
  for (const Pointer &pointer : kPointers) {
    if (tag != pointer.tag)
      continue;
    stop = value >= c.region.length;
    if (stop || pointer.kind == kind || c.loaded[pointer.kind])
      return false;
    size_t child = copy_ifd(c, pointer.kind, value);
    c.put32(entry + 8, static_cast<uint32_t>(child));
    return child != 0;
  }
  if (!IsHarvestedTag(tag))
    return false;
  uint64_t size = FormatSize(c.u16(entry + 2)) * c.u32(entry + 4);
  if (size <= 4) // in the entry itself
    return true;
  size_t at = c.reserve(size);
  if (at == 0 || !c.read(value, c.tiff + at, size))
    return false;
  c.put32(entry + 8, static_cast<uint32_t>(at));
  return true;
}

// Copies the IFD at offset, and what it points at, into the copy; its
// offset there, or 0 when libexif would load nothing from it.
size_t copy_ifd(Compactor &c, Kind kind, uint64_t offset) {
  unsigned char count_bytes[2];
  if (!c.read(offset, count_bytes, 2))
    return 0;
  uint64_t count = c.u16(count_bytes);
  c.loaded[kind] = count > 0;
  uint64_t room = (c.region.length - offset - 2) / kEntry;
  uint64_t entries = count < room ? count : room;
  entries = entries < kMostEntries ? entries : kMostEntries;
  std::vector<unsigned char> table(entries * kEntry);
  if (!c.read(offset + 2, table.data(), table.size()))
    return 0;
  // IFD 0's link to IFD 1 counts only when its whole table is there.
  unsigned char link[4] = {};
  bool linked = kind == kIfd0 && c.read(offset + 2 + count * kEntry, link, 4);
  size_t candidates = 0;
  for (size_t i = 0; i < entries; i++)
    candidates += IsIfdPointer(c.u16(&table[i * kEntry])) || IsHarvestedTag(c.u16(&table[i * kEntry]));
  size_t at = c.reserve(2 + kEntry * candidates + 4);
  if (at == 0)
    return 0;
  unsigned char *copy = c.tiff + at;
  size_t kept = 0;
  bool stop = false;
  for (size_t i = 0; i < entries && !stop; i++) {
    unsigned char *entry = &table[i * kEntry];
    if (copy_entry(c, entry, kind, stop))
      memcpy(copy + 2 + kEntry * kept++, entry, kEntry);
  }
  c.order.put16(copy, static_cast<uint32_t>(kept));
  uint32_t ifd1 = linked ? c.u32(link) : 0;
  size_t next = 0;
  if (ifd1 != 0)
    next = ifd1 < c.region.length ? copy_ifd(c, kIfd1, ifd1) : kPastEnd;
  c.put32(copy + 2 + kEntry * kept, static_cast<uint32_t>(next));
  return at;
}

} // namespace

bool FindWholeFileTiff(FileSource &source, TiffRegion &found) {
  found = {0, source.size};
  return true;
}

bool IsTiffHeader(const unsigned char *bytes) {
  static const unsigned char kMagics[][4] = {
      {'I', 'I', 42, 0},  {'M', 'M', 0, 42},    // TIFF, DNG and most raw files
      {'I', 'I', 'R', 'O'}, {'M', 'M', 'O', 'R'}, // ORF
      {'I', 'I', 'R', 'S'}, {'I', 'I', 'U', 0}};  // ORF, RW2
  for (const auto &magic : kMagics)
    if (memcmp(bytes, magic, 4) == 0)
      return true;
  return false;
}

size_t CompactTiff(FileSource &source, TiffRegion region, bool raw_magic,
                   unsigned char *block) {
  memcpy(block, kExifHeader, kTiff);
  unsigned char header[8] = {};
  size_t header_length = region.length < 8 ? static_cast<size_t>(region.length) : 8;
  if (!ReadAt(source, region.offset, header, header_length))
    header_length = 0;
  memcpy(block + kTiff, header, header_length);
  TiffView view;
  if (header_length < 8 || !ViewTiff(header, header_length, view))
    return kTiff + header_length;
  Compactor c{source, region, view.order, block + kTiff, 8, {}};
  if (raw_magic && IsTiffHeader(header))
    c.order.put16(block + kTiff + 2, 42);
  uint32_t ifd0 = c.u32(header + 4);
  size_t copy = ifd0 < region.length ? copy_ifd(c, kIfd0, ifd0) : 0;
  c.put32(c.tiff + 4, copy ? static_cast<uint32_t>(copy) : kPastEnd);
  return kTiff + c.used;
}
