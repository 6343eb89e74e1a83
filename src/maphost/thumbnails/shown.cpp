#include "maphost/thumbnails/shown.h"

#include <cstring>
#include <fcntl.h>
#include <libexif/exif-data.h>
#include <libexif/exif-loader.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "formats/container.h"
#include "formats/heif.h"
#include "formats/sniff.h"
#include "formats/tiff_preview.h"
#include "maphost/thumbnails/decode.h"
#include "picture/harvest.h"
#include "platform/descriptor.h"
#include "platform/whole_file.h"

namespace {

struct LoaderUnref {
  void operator()(ExifLoader *loader) const { exif_loader_unref(loader); }
};
struct DataUnref {
  void operator()(ExifData *data) const { exif_data_unref(data); }
};
using ExifPointer = std::unique_ptr<ExifData, DataUnref>;

const unsigned char *unsigned_bytes(std::string_view bytes) {
  return reinterpret_cast<const unsigned char *>(bytes.data());
}

// libexif's view of the file's EXIF block, whatever its container.
ExifPointer load_exif(std::string_view file, PictureFormat format) {
  if (format == PictureFormat::Jpeg || format == PictureFormat::Raf) { // libexif's loader knows both
    std::unique_ptr<ExifLoader, LoaderUnref> loader(exif_loader_new());
    exif_loader_write(loader.get(), const_cast<unsigned char *>(unsigned_bytes(file)),
                      static_cast<unsigned>(std::min<size_t>(file.size(), 1 << 20)));
    return ExifPointer(exif_loader_get_data(loader.get()));
  }
  FileSource source = MemorySource(unsigned_bytes(file), file.size());
  std::unique_ptr<unsigned char[]> block(new unsigned char[kMostBlockBytes]);
  size_t size = format == PictureFormat::Unknown ? 0 : FindOtherFormatExif(source, block.get());
  return ExifPointer(size ? exif_data_new_from_data(block.get(), static_cast<unsigned>(size)) : nullptr);
}

double rational(ExifEntry *entry, ExifByteOrder order) {
  if (!entry || entry->format != EXIF_FORMAT_RATIONAL || entry->components < 1)
    return -1;
  ExifRational value = exif_get_rational(entry->data, order);
  return value.denominator ? double(value.numerator) / value.denominator : -1;
}

std::string ascii(ExifEntry *entry) {
  if (!entry || entry->format != EXIF_FORMAT_ASCII || !entry->data)
    return "";
  const char *text = reinterpret_cast<const char *>(entry->data);
  return std::string(text, strnlen(text, entry->size));
}

// Where a capture time is read, the first found giving it.
struct TimeTag {
  ExifIfd ifd;
  ExifTag tag;
  const char *from;
};
constexpr TimeTag kTimeTags[] = {{EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_ORIGINAL, "original"},
                                 {EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_DIGITIZED, "digitized"},
                                 {EXIF_IFD_0, EXIF_TAG_DATE_TIME, "changed"}};

// The capture time: the camera's, else the GPS receiver's date and time of
// day (UTC), "2016:07:05" and three rationals.
void read_time(ExifData *exif, ExifByteOrder order, PictureFacts &facts) {
  for (const TimeTag &time : kTimeTags)
    if (!(facts.time = ascii(exif_content_get_entry(exif->ifd[time.ifd], time.tag))).empty()) {
      facts.time_from = time.from;
      return;
    }
  ExifContent *gps = exif->ifd[EXIF_IFD_GPS];
  std::string date = ascii(exif_content_get_entry(gps, ExifTag(0x001D)));
  ExifEntry *day = exif_content_get_entry(gps, ExifTag(0x0007));
  if (date.size() != 10 || !day || day->format != EXIF_FORMAT_RATIONAL || day->components != 3)
    return;
  double part[3];
  for (int i = 0; i < 3; i++) {
    ExifRational r = exif_get_rational(day->data + 8 * i, order);
    if (!r.denominator)
      return;
    part[i] = double(r.numerator) / r.denominator;
  }
  char text[32];
  snprintf(text, sizeof text, "%s %02d:%02d:%02d", date.c_str(), int(part[0]) % 100, int(part[1]) % 100, int(part[2]) % 100);
  facts.time = text, facts.time_from = "GPS (UTC)";
}

std::string thumbnail_of(const Raster &picture, int orientation) {
  if (picture.rgb.empty())
    return "";
  return EncodeJpeg(Orient(FitWithin(picture, kThumbnailSide), orientation));
}

std::string jpeg_thumbnail(std::string_view jpeg, int orientation) {
  ExifPointer exif = load_exif(jpeg, PictureFormat::Jpeg);
  if (exif && exif->data && exif->size > 4) {
    std::string_view inner(reinterpret_cast<const char *>(exif->data), exif->size);
    std::string made = thumbnail_of(DecodeJpeg(inner, kThumbnailSide), orientation);
    if (!made.empty())
      return made;
  }
  return thumbnail_of(DecodeJpeg(jpeg, kThumbnailSide), orientation);
}

} // namespace

int OpenPictureFile(const std::string &path, struct stat &status) {
  Descriptor file(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW));
  if (file.fd < 0 || fstat(file.fd, &status) != 0 || !S_ISREG(status.st_mode))
    return -1;
  return file.release();
}

bool ReadPictureFile(const std::string &path, std::string &bytes) {
  struct stat status;
  Descriptor file(OpenPictureFile(path, status));
  return file.fd >= 0 && ReadWholePicture(file.fd, status, bytes);
}

bool ReadWholePicture(int fd, const struct stat &status, std::string &bytes) {
  if (status.st_size > kMostPictureBytes)
    return false;
  bytes.reserve(static_cast<size_t>(status.st_size));
  ReadWholeFile(fd, bytes, static_cast<size_t>(status.st_size)); // one that shrank: what was there
  return true;
}

GeoRecord HarvestPicture(std::string_view file) {
  GeoRecord tags{};
  ExifPointer exif = load_exif(file, FormatOf(file));
  if (exif)
    HarvestData(exif.get(), tags);
  return tags;
}

std::string MakeThumbnail(std::string_view file) {
  switch (FormatOf(file)) {
  case PictureFormat::Jpeg: return jpeg_thumbnail(file, ReadFacts(file).orientation);
  case PictureFormat::Png: return thumbnail_of(DecodePng(file), ReadFacts(file).orientation);
  case PictureFormat::Webp: return thumbnail_of(DecodeWebp(file, kThumbnailSide), ReadFacts(file).orientation);
  case PictureFormat::Heif: return thumbnail_of(DecodeHeif(file, true), 1); // libheif turns it
  case PictureFormat::Tiff: {
    TiffFacts facts = ReadTiffFacts(file);
    return facts.preview.empty() ? thumbnail_of(DecodeTiff(file), 1) : jpeg_thumbnail(facts.preview, facts.orientation);
  }
  case PictureFormat::Raf: {
    std::string_view preview = RafPreview(file);
    return preview.empty() ? "" : MakeThumbnail(preview);
  }
  default: return "";
  }
}

namespace {

WholePicture as_jpeg(const Raster &decoded) {
  std::string jpeg = decoded.rgb.empty() ? "" : EncodeJpeg(decoded, 90);
  return jpeg.empty() ? WholePicture{} : WholePicture{"image/jpeg", jpeg};
}

} // namespace

WholePicture ShowWhole(std::string file) {
  switch (FormatOf(file)) {
  case PictureFormat::Jpeg: return {"image/jpeg", std::move(file)};
  case PictureFormat::Png: return {"image/png", std::move(file)};
  case PictureFormat::Webp: return {"image/webp", std::move(file)};
  case PictureFormat::Heif: return as_jpeg(DecodeHeif(file, false));
  case PictureFormat::Tiff: { // its largest preview, else the picture itself
    std::string_view preview = ReadTiffFacts(file).preview;
    return preview.empty() ? as_jpeg(DecodeTiff(file)) : WholePicture{"image/jpeg", std::string(preview)};
  }
  case PictureFormat::Raf: {
    std::string_view preview = RafPreview(file);
    return preview.empty() ? WholePicture{} : WholePicture{"image/jpeg", std::string(preview)};
  }
  default: return {};
  }
}

PictureFacts ReadFacts(std::string_view file) {
  PictureFacts facts;
  ExifPointer exif = load_exif(file, FormatOf(file));
  if (!exif)
    return facts;
  ExifByteOrder order = exif_data_get_byte_order(exif.get());
  read_time(exif.get(), order, facts);
  double altitude = rational(exif_content_get_entry(exif->ifd[EXIF_IFD_GPS], ExifTag(0x0006)), order);
  if (altitude >= 0) {
    ExifEntry *below = exif_content_get_entry(exif->ifd[EXIF_IFD_GPS], ExifTag(0x0005));
    facts.has_altitude = true;
    facts.altitude = MarksBelowSeaLevel(below) ? -altitude : altitude;
  }
  ExifEntry *orientation = exif_content_get_entry(exif->ifd[EXIF_IFD_0], EXIF_TAG_ORIENTATION);
  if (orientation && orientation->format == EXIF_FORMAT_SHORT && orientation->components >= 1)
    facts.orientation = exif_get_short(orientation->data, order);
  return facts;
}
