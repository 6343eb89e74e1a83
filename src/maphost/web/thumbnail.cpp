#include "maphost/web/thumbnail.h"

#include "maphost/thumbnails/attached.h"
#include "maphost/thumbnails/bounded.h"

std::string ThumbnailOf(const Position &position) {
  std::string file;
  return ReadAttachedPicture(position, file) ? BoundedThumbnail(file) : "";
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
