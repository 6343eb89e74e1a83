#include "maphost/web/thumbnail.h"

#include <cstring>
#include <nettle/base64.h>

#include "maphost/thumbnails/attached.h"
#include "maphost/thumbnails/bounded.h"

std::string ThumbnailOf(const Position &position) {
  std::string file;
  return ReadAttachedPicture(position, file) ? BoundedThumbnail(file) : "";
}

std::string JpegDataUri(const std::string &jpeg) {
  static const char kScheme[] = "data:image/jpeg;base64,";
  std::string uri(sizeof kScheme - 1 + BASE64_ENCODE_RAW_LENGTH(jpeg.size()), '\0');
  memcpy(uri.data(), kScheme, sizeof kScheme - 1);
  base64_encode_raw(uri.data() + sizeof kScheme - 1, jpeg.size(),
                    reinterpret_cast<const uint8_t *>(jpeg.data()));
  return uri;
}
