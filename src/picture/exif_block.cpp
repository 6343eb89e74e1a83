#include "picture/exif_block.h"

#include <cstdint>
#include <cstring>

#include "formats/jpeg_markers.h"
#include "formats/tiff_tags.h"

namespace {

constexpr size_t kTiff = sizeof kExifHeader; // the TIFF header follows it
constexpr int kMostRanges = 2048;

// Bytes of one component of an EXIF format; 8, the largest, when unknown.
uint64_t format_size(unsigned format) { return FormatSize(format) ? FormatSize(format) : 8; }

// The TIFF structure of a block, as far as libexif could read it: every
// IFD count, entry, value and link, as byte ranges from the TIFF header.
struct Layout {
  TiffView tiff;
  uint64_t begin[kMostRanges], end[kMostRanges];
  int ranges;
  int ifds;
  bool complete;            // false: too much to map, rewrite nothing
  uint64_t maker_notes[8];  // entry offsets of maker notes in EXIF IFDs
  int maker_note_count;
  uint64_t ifd1_link;       // offset of IFD 0's link to IFD 1; 0: none
  uint64_t ifd1;
  bool ifd1_links_on;

  unsigned u16(uint64_t at) const { return tiff.u16(at); }
  uint64_t u32(uint64_t at) const { return tiff.u32(at); }
  void add(uint64_t from, uint64_t length) {
    if (ranges == kMostRanges) {
      complete = false;
      return;
    }
    begin[ranges] = from;
    end[ranges++] = from + length;
  }
};

enum class Ifd { Plain, Exif, One };

void map_ifd(Layout &layout, uint64_t offset, Ifd kind, int depth);

void map_entry(Layout &layout, uint64_t at, Ifd kind, int depth) {
  layout.add(at, kIfdEntry);
  unsigned tag = layout.u16(at);
  uint64_t bytes = format_size(layout.u16(at + 2)) * layout.u32(at + 4);
  if (bytes > 4)
    layout.add(layout.u32(at + 8), bytes);
  if (tag == kMakerNote && kind == Ifd::Exif && layout.maker_note_count < 8)
    layout.maker_notes[layout.maker_note_count++] = at;
  if (!IsIfdPointer(tag))
    return;
  layout.ifd1_links_on |= kind == Ifd::One;
  map_ifd(layout, layout.u32(at + 8), tag == kExifPointer ? Ifd::Exif : Ifd::Plain, depth + 1);
}

void map_ifd(Layout &layout, uint64_t offset, Ifd kind, int depth) {
  if (++layout.ifds > kMostIfds || depth > kMostIfds) {
    layout.complete = false;
    return;
  }
  if (!layout.tiff.has(offset, 2))
    return;
  layout.add(offset, 2);
  uint64_t count = layout.u16(offset), at = offset + 2;
  for (uint64_t i = 0; i < count && layout.tiff.has(at, kIfdEntry); ++i, at += kIfdEntry)
    map_entry(layout, at, kind, depth);
}

// True when [at, at + length) meets no mapped range but, once, its own
// [own, own_end): the entry or link that holds it.
bool untouched(const Layout &layout, uint64_t at, uint64_t length, uint64_t own,
               uint64_t own_end) {
  bool own_seen = false;
  for (int i = 0; i < layout.ranges; ++i) {
    if (layout.end[i] <= at || layout.begin[i] >= at + length)
      continue;
    if (layout.begin[i] != own || layout.end[i] != own_end || own_seen)
      return false;
    own_seen = true;
  }
  return true;
}

} // namespace

bool FindExifBlock(unsigned char *head, size_t length, bool whole_file,
                   unsigned char **block, size_t *size) {
  // libexif's loader looks at 12 bytes at a time and knows Fujifilm's raw
  // files and bare EXIF data by their first ones.
  if (length < 12 || memcmp(head, "FUJIFILM", 8) == 0 ||
      memcmp(head + 2, kExifHeader, sizeof kExifHeader) == 0)
    return false;
  size_t at = 0;
  *size = 0;
  for (bool first = true;; first = false) {
    while (at < length && (head[at] == kMarker || head[at] == kStartOfImage)) // fill, SOI
      ++at;
    if (at + 3 > length || (first && at >= 12))
      return false;
    unsigned marker = head[at];
    size_t segment = Big16(head + at + 1);
    if (marker == kApp1) {
      size_t start = at + 3; // the block starts after the length, header and all
      if (start + sizeof kExifHeader > length ||
          memcmp(head + start, kExifHeader, sizeof kExifHeader) != 0)
        return false;
      if (start + segment > length && !whole_file) {
        *size = start + segment; // what the head must hold
        return false;
      }
      *block = head + start;
      *size = start + segment > length ? length - start : segment;
      return *size > 0;
    }
    if (marker != kApp0 && marker != kApp2)
      return false;
    at += 3 + (segment < 2 ? 0 : segment - 2);
  }
}

void HideUnreadParts(unsigned char *block, size_t size) {
  if (size < kTiff + 8)
    return;
  static thread_local Layout layout; // its range arrays are written before read
  layout.ranges = layout.ifds = layout.maker_note_count = 0;
  layout.complete = true;
  layout.ifd1_link = layout.ifd1 = 0;
  layout.ifd1_links_on = false;
  if (!ViewTiff(block + kTiff, size - kTiff, layout.tiff))
    return;
  uint64_t ifd0 = layout.u32(4);
  if (layout.tiff.has(ifd0, 2)) {
    uint64_t link = ifd0 + 2 + kIfdEntry * uint64_t(layout.u16(ifd0));
    if (layout.tiff.has(link, 4)) {
      layout.ifd1_link = link;
      layout.ifd1 = layout.u32(link);
      layout.add(link, 4);
    }
  }
  map_ifd(layout, ifd0, Ifd::Plain, 0);
  if (layout.ifd1)
    map_ifd(layout, layout.ifd1, Ifd::One, 0);
  if (!layout.complete)
    return;
  unsigned char *tiff = block + kTiff;
  for (int i = 0; i < layout.maker_note_count; ++i) {
    uint64_t at = layout.maker_notes[i];
    if (untouched(layout, at, 2, at, at + kIfdEntry))
      tiff[at] = tiff[at + 1] = 0xFF; // a tag libexif knows in no IFD
  }
  if (layout.ifd1 && !layout.ifd1_links_on &&
      untouched(layout, layout.ifd1_link, 4, layout.ifd1_link, layout.ifd1_link + 4))
    memset(tiff + layout.ifd1_link, 0, 4);
}
