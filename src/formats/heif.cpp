#include "formats/heif.h"

#include <cstring>
#include <vector>

namespace {

constexpr int kMostTopBoxes = 1024;
constexpr uint64_t kMostMetaBytes = 1 << 20; // a meta box is a few KiB

// Big-endian fields read from bytes in memory; reading past them fails.
struct Cursor {
  const unsigned char *at;
  size_t left;
  bool ok = true;

  uint64_t take(size_t bytes) {
    if (!ok || left < bytes) {
      ok = false;
      return 0;
    }
    uint64_t value = 0;
    for (size_t i = 0; i < bytes; i++)
      value = value << 8 | *at++;
    left -= bytes;
    return value;
  }
  void skip(size_t bytes) {
    if (!ok || left < bytes)
      ok = false;
    else
      at += bytes, left -= bytes;
  }
};

// The next box in cursor: its type and its body; false at the end.
bool next_box(Cursor &cursor, char (&type)[5], Cursor &body) {
  if (cursor.left < 8)
    return false;
  const unsigned char *start = cursor.at;
  uint64_t size = cursor.take(4);
  memcpy(type, cursor.at, 4);
  type[4] = '\0';
  cursor.skip(4);
  if (size == 1)
    size = cursor.take(8);
  else if (size == 0)
    size = cursor.left + (cursor.at - start);
  size_t header = static_cast<size_t>(cursor.at - start);
  if (!cursor.ok || size < header || size - header > cursor.left)
    return false;
  body = Cursor{cursor.at, static_cast<size_t>(size - header)};
  cursor.skip(body.left);
  return true;
}

// The item id of the first Exif item in an iinf box's body.
bool exif_item(Cursor iinf, uint64_t &id) {
  unsigned version = static_cast<unsigned>(iinf.take(4) >> 24);
  iinf.take(version == 0 ? 2 : 4);
  char type[5];
  Cursor infe{nullptr, 0};
  while (iinf.ok && next_box(iinf, type, infe)) {
    unsigned infe_version = static_cast<unsigned>(infe.take(4) >> 24);
    if (strcmp(type, "infe") != 0 || infe_version < 2)
      continue;
    uint64_t item = infe.take(infe_version == 2 ? 2 : 4);
    infe.take(2); // protection index
    if (infe.ok && infe.left >= 4 && memcmp(infe.at, "Exif", 4) == 0) {
      id = item;
      return true;
    }
  }
  return false;
}

struct ItemPlace {
  unsigned method = 0; // 0: offsets in the file, 1: in the meta box's idat
  uint64_t offset = 0;
  uint64_t length = 0;
};

// Where an iloc box's body puts item id; false unless in one extent.
bool item_place(Cursor iloc, uint64_t id, ItemPlace &place) {
  unsigned version = static_cast<unsigned>(iloc.take(4) >> 24);
  unsigned sizes = static_cast<unsigned>(iloc.take(2));
  unsigned offset_size = sizes >> 12, length_size = sizes >> 8 & 15;
  unsigned base_size = sizes >> 4 & 15, index_size = version >= 1 ? sizes & 15 : 0;
  uint64_t items = iloc.take(version < 2 ? 2 : 4);
  for (uint64_t item = 0; item < items && iloc.ok; item++) {
    uint64_t item_id = iloc.take(version < 2 ? 2 : 4);
    unsigned method = version >= 1 ? iloc.take(2) & 15 : 0;
    uint64_t reference = iloc.take(2);
    uint64_t base = iloc.take(base_size);
    uint64_t extents = iloc.take(2);
    uint64_t offset = 0, length = 0;
    for (uint64_t extent = 0; extent < extents && iloc.ok; extent++) {
      iloc.take(index_size);
      offset = iloc.take(offset_size);
      length = iloc.take(length_size);
    }
    if (item_id != id || !iloc.ok)
      continue;
    if (extents != 1 || reference != 0 || method > 1 || base + offset < base)
      return false;
    place = ItemPlace{method, base + offset, length};
    return true;
  }
  return false;
}

// The meta box's offset and size among the file's top-level boxes.
bool find_meta(FileSource &source, uint64_t &offset, uint64_t &size) {
  uint64_t at = 0;
  for (int box = 0; box < kMostTopBoxes && source.size - at >= 8; box++) {
    unsigned char header[16];
    if (!ReadAt(source, at, header, 8))
      return false;
    uint64_t length = Big32(header);
    if (length == 1 && ReadAt(source, at + 8, header + 8, 8))
      length = Big64(header + 8);
    else if (length == 0)
      length = source.size - at;
    if (length < 8 || length > source.size - at)
      return false;
    if (memcmp(header + 4, "meta", 4) == 0) {
      offset = at;
      size = length;
      return true;
    }
    at += length;
  }
  return false;
}

} // namespace

bool IsHeif(const unsigned char *head, size_t length) {
  static const char kBrands[][5] = {"mif1", "msf1", "mif2", "heic", "heix", "heim", "heis",
                                    "hevc", "hevx", "avif", "avis"};
  if (length < 16 || memcmp(head + 4, "ftyp", 4) != 0)
    return false;
  uint64_t size = Big32(head);
  size_t end = static_cast<size_t>(size < length ? size : length);
  for (size_t at = 8; at + 4 <= end; at += at == 8 ? 8 : 4) // major brand, then compatible ones
    for (const char *brand : kBrands)
      if (memcmp(head + at, brand, 4) == 0)
        return true;
  return false;
}

bool FindHeifExif(FileSource &source, TiffRegion &found) {
  uint64_t meta_offset = 0, meta_size = 0;
  if (!find_meta(source, meta_offset, meta_size) || meta_size > kMostMetaBytes)
    return false;
  std::vector<unsigned char> meta(static_cast<size_t>(meta_size));
  if (!ReadAt(source, meta_offset, meta.data(), meta.size()))
    return false;
  Cursor box{meta.data(), meta.size()};
  char type[5];
  Cursor body{nullptr, 0}, iinf{nullptr, 0}, iloc{nullptr, 0};
  if (!next_box(box, type, body))
    return false;
  body.skip(4); // version and flags
  uint64_t idat = 0; // the idat box's data, as a file offset
  while (body.ok && next_box(body, type, box)) {
    if (strcmp(type, "iinf") == 0)
      iinf = box;
    else if (strcmp(type, "iloc") == 0)
      iloc = box;
    else if (strcmp(type, "idat") == 0)
      idat = meta_offset + static_cast<uint64_t>(box.at - meta.data());
  }
  uint64_t id = 0;
  ItemPlace place;
  if (!iinf.at || !iloc.at || !exif_item(iinf, id) || !item_place(iloc, id, place))
    return false;
  if (place.method == 1 && idat == 0)
    return false;
  uint64_t start = place.offset + (place.method == 1 ? idat : 0);
  if (start > source.size || start < place.offset)
    return false;
  uint64_t length = place.length ? place.length : source.size - start;
  unsigned char skip[4]; // the payload starts with the offset of its TIFF header
  if (length < 4 || !ReadAt(source, start, skip, 4) || Big32(skip) > length - 4)
    return false;
  found = {start + 4 + Big32(skip), length - 4 - Big32(skip)};
  if (found.offset > source.size)
    return false;
  found.length = found.length < source.size - found.offset ? found.length : source.size - found.offset;
  return true;
}
