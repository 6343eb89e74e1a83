#include "maphost/web/thumbnail.h"

#include <fcntl.h>
#include <libexif/exif-data.h>
#include <libexif/exif-loader.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/descriptor.h"

namespace {

constexpr size_t kMostExifBytes = 256 * 1024; // the EXIF block lies at a JPEG's start

struct LoaderUnref {
  void operator()(ExifLoader *loader) const { exif_loader_unref(loader); }
};
struct DataUnref {
  void operator()(ExifData *data) const { exif_data_unref(data); }
};

} // namespace

std::string ReadThumbnail(const std::string &path) {
  // Non-blocking and never a terminal: the path may have become a FIFO or a device.
  Descriptor file(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  struct stat status;
  if (file.fd < 0 || fstat(file.fd, &status) != 0 || !S_ISREG(status.st_mode) ||
      status.st_size > kMostPictureBytes)
    return "";
  std::unique_ptr<ExifLoader, LoaderUnref> loader(exif_loader_new());
  unsigned char buffer[16 * 1024];
  for (size_t total = 0; total < kMostExifBytes;) {
    ssize_t got = read(file.fd, buffer, sizeof buffer);
    if (got <= 0 || !exif_loader_write(loader.get(), buffer, static_cast<unsigned>(got)))
      break;
    total += static_cast<size_t>(got);
  }
  std::unique_ptr<ExifData, DataUnref> data(exif_loader_get_data(loader.get()));
  if (!data || !data->data || data->size < 4 || data->data[0] != 0xFF || data->data[1] != 0xD8)
    return "";
  return std::string(reinterpret_cast<const char *>(data->data), data->size);
}

std::string JpegDataUri(const std::string &jpeg) {
  static const char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string uri = "data:image/jpeg;base64,";
  for (size_t at = 0; at < jpeg.size(); at += 3) {
    uint32_t group = uint32_t(uint8_t(jpeg[at])) << 16;
    if (at + 1 < jpeg.size())
      group |= uint32_t(uint8_t(jpeg[at + 1])) << 8;
    if (at + 2 < jpeg.size())
      group |= uint8_t(jpeg[at + 2]);
    size_t left = jpeg.size() - at; // a last group of one or two bytes is padded
    for (size_t i = 0; i < 4; i++)
      uri += i <= left ? kDigits[group >> (18 - 6 * i) & 63] : '=';
  }
  return uri;
}
