// Arbitrary bytes as a picture file the map host shows: its thumbnail, the
// whole picture and its EXIF facts, whatever format the first bytes claim.
#include "maphost/thumbnails/shown.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string file(reinterpret_cast<const char *>(data), size);
  MakeThumbnail(file);
  ReadFacts(file);
  ShowWhole(file);
  return 0;
}
