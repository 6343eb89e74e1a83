#include "fixture.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <libexif/exif-utils.h>
#include <memory>

namespace {

constexpr ExifByteOrder kOrder = EXIF_BYTE_ORDER_MOTOROLA;

// A 1x1 grey baseline JPEG after its SOI: quantisation and Huffman tables,
// frame, scan (DC 0, end of block) and EOI.
std::string image_segments() {
  std::string s;
  s += std::string("\xFF\xDB\x00\x43\x00", 5) + std::string(64, '\x01');
  s += std::string("\xFF\xC0\x00\x0B\x08\x00\x01\x00\x01\x01\x01\x11\x00", 13);
  for (char table_class : {'\x00', '\x10'}) {
    s += std::string("\xFF\xC4\x00\x14", 4);
    s += table_class;
    s += '\x01' + std::string(15, '\x00') + '\x00';
  }
  s += std::string("\xFF\xDA\x00\x08\x01\x01\x00\x00\x3F\x00", 10);
  s += std::string("\x3F\xFF\xD9", 3);
  return s;
}

FixtureEntry entry(ExifIfd ifd, uint16_t tag, ExifFormat format,
                   unsigned long components, std::string bytes) {
  return FixtureEntry{ifd, tag, format, components, std::move(bytes)};
}

uint32_t get_u32(const std::string &b, size_t at) {
  return (uint32_t(uint8_t(b[at])) << 24) | (uint32_t(uint8_t(b[at + 1])) << 16) |
         (uint32_t(uint8_t(b[at + 2])) << 8) | uint8_t(b[at + 3]);
}
unsigned get_u16(const std::string &b, size_t at) {
  return (unsigned(uint8_t(b[at])) << 8) | uint8_t(b[at + 1]);
}

// Offset (from the TIFF header) of the IFD a pointer tag in ifd_offset names.
size_t follow_pointer(const std::string &b, size_t tiff, size_t ifd_offset,
                      unsigned pointer_tag) {
  if (tiff + ifd_offset + 2 > b.size())
    return 0;
  unsigned count = get_u16(b, tiff + ifd_offset);
  for (unsigned i = 0; i < count; ++i) {
    size_t at = tiff + ifd_offset + 2 + 12 * i;
    if (at + 12 <= b.size() && get_u16(b, at) == pointer_tag)
      return get_u32(b, at + 8);
  }
  return 0;
}

} // namespace

FixtureEntry Ascii(ExifIfd ifd, uint16_t tag, const std::string &text) {
  return entry(ifd, tag, EXIF_FORMAT_ASCII, text.size() + 1,
               text + std::string(1, '\0'));
}

FixtureEntry Rationals(ExifIfd ifd, uint16_t tag,
                       const std::vector<Rational> &values) {
  std::string bytes(values.size() * 8, '\0');
  for (size_t i = 0; i < values.size(); ++i)
    exif_set_rational(reinterpret_cast<unsigned char *>(&bytes[i * 8]), kOrder,
                      ExifRational{values[i].first, values[i].second});
  return entry(ifd, tag, EXIF_FORMAT_RATIONAL, values.size(), bytes);
}

FixtureEntry Undefined(ExifIfd ifd, uint16_t tag, const std::string &bytes) {
  return entry(ifd, tag, EXIF_FORMAT_UNDEFINED, bytes.size(), bytes);
}

std::vector<FixtureEntry> GpsEntries(const GpsFix &fix) {
  std::vector<FixtureEntry> entries{
      Undefined(EXIF_IFD_GPS, 0x0000, std::string("\x02\x02\x00\x00", 4)),
      Ascii(EXIF_IFD_GPS, 0x0001, fix.lat_ref),
      Rationals(EXIF_IFD_GPS, 0x0002, fix.latitude),
      Ascii(EXIF_IFD_GPS, 0x0003, fix.lon_ref),
      Rationals(EXIF_IFD_GPS, 0x0004, fix.longitude),
      Ascii(EXIF_IFD_EXIF, 0x9003, fix.time),
  };
  entries[0].format = EXIF_FORMAT_BYTE;
  if (fix.with_altitude)
    entries.push_back(Rationals(EXIF_IFD_GPS, 0x0006, {fix.altitude}));
  return entries;
}

std::vector<FixtureEntry> CameraEntries() {
  return {Ascii(EXIF_IFD_0, EXIF_TAG_MAKE, "Pintrail"),
          Ascii(EXIF_IFD_0, EXIF_TAG_MODEL, "Fixture 1"),
          Ascii(EXIF_IFD_0, EXIF_TAG_DATE_TIME, "2016:07:04 12:34:56"),
          Rationals(EXIF_IFD_EXIF, EXIF_TAG_EXPOSURE_TIME, {{1, 250}}),
          Rationals(EXIF_IFD_EXIF, EXIF_TAG_FNUMBER, {{28, 10}}),
          Undefined(EXIF_IFD_EXIF, EXIF_TAG_EXIF_VERSION, "0230")};
}

std::string MakeJpeg(const std::vector<FixtureEntry> &entries,
                     size_t thumbnail_bytes) {
  std::unique_ptr<ExifData, void (*)(ExifData *)> data(exif_data_new(),
                                                      exif_data_unref);
  exif_data_set_byte_order(data.get(), kOrder);
  for (const FixtureEntry &fixture : entries) {
    ExifEntry *e = exif_entry_new();
    e->tag = static_cast<ExifTag>(fixture.tag); // before adding: no duplicates

    e->format = fixture.format;
    e->components = fixture.components;
    e->size = static_cast<unsigned>(fixture.bytes.size());
    e->data = static_cast<unsigned char *>(malloc(e->size ? e->size : 1));
    memcpy(e->data, fixture.bytes.data(), e->size);
    exif_content_add_entry(data->ifd[fixture.ifd], e);
    exif_entry_unref(e);
  }
  if (thumbnail_bytes) {
    data->data = static_cast<unsigned char *>(malloc(thumbnail_bytes));
    memset(data->data, 0x5A, thumbnail_bytes);
    data->size = static_cast<unsigned>(thumbnail_bytes);
  }
  unsigned char *block = nullptr;
  unsigned int size = 0;
  exif_data_save_data(data.get(), &block, &size);
  std::string jpeg("\xFF\xD8\xFF\xE1", 4);
  jpeg += static_cast<char>(((size + 2) >> 8) & 0xFF);
  jpeg += static_cast<char>((size + 2) & 0xFF);
  jpeg.append(reinterpret_cast<char *>(block), size);
  free(block);
  return jpeg + image_segments();
}

std::string PlainJpeg() { return std::string("\xFF\xD8", 2) + image_segments(); }

bool ReverseStoredIfd(std::string &jpeg, ExifIfd ifd) {
  const size_t tiff = 12; // SOI, APP1 marker and length, "Exif\0\0"
  if (jpeg.size() < tiff + 8)
    return false;
  size_t offset = get_u32(jpeg, tiff + 4);
  if (ifd == EXIF_IFD_GPS)
    offset = follow_pointer(jpeg, tiff, offset, 0x8825);
  else if (ifd == EXIF_IFD_EXIF || ifd == EXIF_IFD_INTEROPERABILITY)
    offset = follow_pointer(jpeg, tiff, offset, 0x8769);
  if (offset && ifd == EXIF_IFD_INTEROPERABILITY)
    offset = follow_pointer(jpeg, tiff, offset, 0xA005);
  if (!offset || tiff + offset + 2 > jpeg.size())
    return false;
  unsigned count = get_u16(jpeg, tiff + offset);
  size_t first = tiff + offset + 2;
  if (first + 12 * count > jpeg.size())
    return false;
  for (unsigned i = 0; i < count / 2; ++i)
    for (size_t k = 0; k < 12; ++k)
      std::swap(jpeg[first + 12 * i + k], jpeg[first + 12 * (count - 1 - i) + k]);
  return true;
}

bool WriteFile(const std::string &path, const std::string &bytes) {
  FILE *file = fopen(path.c_str(), "wb");
  if (!file)
    return false;
  bool ok = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return fclose(file) == 0 && ok;
}
