#include "maphost/thumbnails/attached.h"

#include <cmath>
#include <cstdlib>
#include <sys/stat.h>

#include "maphost/thumbnails/shown.h"
#include "picture/report.h"
#include "platform/descriptor.h"

namespace {

// Degrees within which (about a decimetre) a file's EXIF position is the
// one a command or a GPX file carries: commands carry nine digits.
constexpr double kSamePlace = 1e-6;

bool taken_at(const GeoRecord &tags, const Position &position) {
  return tags.geo_tag_found == 1 &&
         std::fabs(LatitudeOf(tags) - strtod(position.latitude.c_str(), nullptr)) <= kSamePlace &&
         std::fabs(LongitudeOf(tags) - strtod(position.longitude.c_str(), nullptr)) <= kSamePlace;
}

} // namespace

void AttachPicture(Position &position) {
  struct stat status;
  Descriptor file(OpenPictureFile(position.path, status));
  if (file.fd < 0)
    return;
  position.device = status.st_dev;
  position.inode = status.st_ino;
}

bool ReadAttachedPicture(const Position &position, std::string &bytes) {
  struct stat status;
  Descriptor file(OpenPictureFile(position.path, status));
  bool attached = position.device != 0 || position.inode != 0;
  if (file.fd < 0 || (attached && (status.st_dev != position.device || status.st_ino != position.inode)))
    return false;
  return ReadWholePicture(file.fd, status, bytes) && taken_at(HarvestPicture(bytes), position);
}
