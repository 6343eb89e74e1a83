// Decoded pictures as 8-bit RGB, made small, turned upright and written as
// JPEG for the web view.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <turbojpeg.h>
#include <vector>

// A libjpeg-turbo handle, destroyed with its scope.
struct TjFree {
  void operator()(void *handle) const { tjDestroy(handle); }
};
using TjHandle = std::unique_ptr<void, TjFree>;

struct Raster {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb; // width * height * 3 bytes, row after row
};

// No decoder is given a picture of more pixels than this: a 60,000 x 60,000
// PNG is refused by its header, never allocated.
constexpr uint64_t kMostPixels = 120'000'000;

bool FitsInMemory(uint64_t width, uint64_t height);

// The picture scaled down (averaging) so that neither side exceeds most;
// a smaller one is left as it is.
Raster FitWithin(const Raster &picture, int most);

// The picture turned upright from its EXIF orientation (1 to 8).
Raster Orient(const Raster &picture, int orientation);

// The picture as a baseline JPEG; empty when it cannot be encoded.
std::string EncodeJpeg(const Raster &picture, int quality = 80);
