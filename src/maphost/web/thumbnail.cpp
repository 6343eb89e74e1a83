#include "maphost/web/thumbnail.h"


#include "maphost/thumbnails/attached.h"
#include "maphost/thumbnails/bounded.h"
#include "maphost/web/embedded.h"

std::string ThumbnailOf(const Position &position) {
  std::string file;
  return ReadAttachedPicture(position, file) ? BoundedThumbnail(file) : "";
}

std::string JpegDataUri(const std::string &jpeg) {
  return "data:image/jpeg;base64," + Base64(jpeg);
}
