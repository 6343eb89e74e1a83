#include "picture/exif_load.h"

ExifHandle LoadExif(const char *path) {
  return ExifHandle(exif_data_new_from_file(path));
}
