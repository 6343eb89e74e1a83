#include "maphost/web/thumbnail.h"


#include "maphost/thumbnails/attached.h"
#include "maphost/thumbnails/bounded.h"
#include "maphost/thumbnails/shown.h"
#include "maphost/web/embedded.h"

Sample SampleOf(const Position &position) {
  std::string file;
  if (!ReadAttachedPicture(position, file))
    return {};
  Sample sample;
  if (std::string jpeg = BoundedThumbnail(file); !jpeg.empty())
    sample.thumbnail = JpegDataUri(jpeg);
  if (PictureFacts facts = ReadFacts(file); facts.has_altitude)
    sample.altitude = facts.altitude;
  return sample;
}

std::string JpegDataUri(const std::string &jpeg) {
  return "data:image/jpeg;base64," + Base64(jpeg);
}
