// TIFF pictures without a JPEG preview, decoded by libtiff from memory.
#include "maphost/thumbnails/decode.h"

#include <cstring>
#include <memory>
#include <tiffio.h>

namespace {

// The file as libtiff reads it: a read-only stream over its bytes.
struct Memory {
  std::string_view bytes;
  uint64_t at = 0;
};

tsize_t read_bytes(thandle_t handle, tdata_t into, tsize_t size) {
  auto *memory = static_cast<Memory *>(handle);
  uint64_t left = memory->at < memory->bytes.size() ? memory->bytes.size() - memory->at : 0;
  size_t count = size_t(std::min<uint64_t>(left, uint64_t(std::max<tsize_t>(size, 0))));
  memcpy(into, memory->bytes.data() + memory->at, count);
  memory->at += count;
  return tsize_t(count);
}
tsize_t write_nothing(thandle_t, tdata_t, tsize_t) { return 0; }
toff_t seek(thandle_t handle, toff_t offset, int whence) {
  auto *memory = static_cast<Memory *>(handle);
  uint64_t from = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? memory->at : memory->bytes.size();
  return memory->at = from + offset;
}
int close_nothing(thandle_t) { return 0; }
toff_t size_of(thandle_t handle) { return static_cast<Memory *>(handle)->bytes.size(); }
int map_nothing(thandle_t, tdata_t *, toff_t *) { return 0; }
void unmap_nothing(thandle_t, tdata_t, toff_t) {}

struct TiffClose {
  void operator()(TIFF *tiff) const { TIFFClose(tiff); }
};

} // namespace

Raster DecodeTiff(std::string_view bytes) {
  TIFFSetErrorHandler(nullptr); // a broken file is no picture, and says nothing
  TIFFSetWarningHandler(nullptr);
  Memory memory{bytes};
  std::unique_ptr<TIFF, TiffClose> tiff(TIFFClientOpen("picture", "rm", &memory, read_bytes, write_nothing, seek,
                                                       close_nothing, size_of, map_nothing, unmap_nothing));
  uint32_t width = 0, height = 0;
  char why[1024];
  if (!tiff || !TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &width) ||
      !TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height) || !FitsInMemory(width, height) ||
      uint64_t(width) * height * 4 > kMostDecodeBytes || !TIFFRGBAImageOK(tiff.get(), why))
    return {};
  std::vector<uint32_t> rgba(size_t(width) * height);
  if (!TIFFReadRGBAImageOriented(tiff.get(), width, height, rgba.data(), ORIENTATION_TOPLEFT, 0))
    return {};
  Raster raster{int(width), int(height), std::vector<uint8_t>(rgba.size() * 3)};
  for (size_t i = 0; i < rgba.size(); i++) {
    raster.rgb[3 * i] = uint8_t(TIFFGetR(rgba[i]));
    raster.rgb[3 * i + 1] = uint8_t(TIFFGetG(rgba[i]));
    raster.rgb[3 * i + 2] = uint8_t(TIFFGetB(rgba[i]));
  }
  return raster;
}
