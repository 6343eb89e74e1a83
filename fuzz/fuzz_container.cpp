// Arbitrary bytes as a file of one container format, through its reader,
// the compact copy of the TIFF structure it finds, libexif and the harvest.
// Built once per reader: CONTAINER is tiff, png, webp or heif.
#include <libexif/exif-data.h>

#include "formats/chunks.h"
#include "formats/heif.h"
#include "formats/tiff_block.h"
#include "picture/georecord.h"
#include "picture/harvest.h"

namespace {

#define tiff FindWholeFileTiff
#define png FindPngExif
#define webp FindWebpExif
#define heif FindHeifExif
const auto kFind = CONTAINER;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static unsigned char block[kMostBlockBytes];
  FileSource source = MemorySource(data, size);
  TiffRegion region;
  if (!kFind(source, region))
    return 0;
  size_t length = CompactTiff(source, region, kFind == FindWholeFileTiff, block);
  ExifData *exif = exif_data_new();
  exif_data_load_data(exif, block, static_cast<unsigned>(length));
  GeoRecord record{};
  HarvestData(exif, record);
  exif_data_unref(exif);
  return 0;
}
