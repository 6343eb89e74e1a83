// Arbitrary bytes as a picture file the map host shows: its thumbnail, the
// whole picture and its EXIF facts, whatever format the first bytes claim.
#include "maphost/pictures/picture_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string file(reinterpret_cast<const char *>(data), size);
  MakeThumbnail(file);
  ReadFacts(file);
  ShowWhole(file);
  return 0;
}
