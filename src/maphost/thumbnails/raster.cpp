#include "maphost/thumbnails/raster.h"

#include <turbojpeg.h>

#include <memory>

bool FitsInMemory(uint64_t width, uint64_t height) {
  return width > 0 && height > 0 && width <= kMostPixels && height <= kMostPixels / width;
}

Raster FitWithin(const Raster &picture, int most) {
  int larger = std::max(picture.width, picture.height);
  if (larger <= most)
    return picture;
  Raster small;
  small.width = std::max(1, int(int64_t(picture.width) * most / larger));
  small.height = std::max(1, int(int64_t(picture.height) * most / larger));
  small.rgb.resize(size_t(small.width) * small.height * 3);
  for (int y = 0; y < small.height; y++) {
    int y0 = int(int64_t(y) * picture.height / small.height);
    int y1 = std::max(y0 + 1, int(int64_t(y + 1) * picture.height / small.height));
    for (int x = 0; x < small.width; x++) {
      int x0 = int(int64_t(x) * picture.width / small.width);
      int x1 = std::max(x0 + 1, int(int64_t(x + 1) * picture.width / small.width));
      uint32_t sum[3] = {0, 0, 0};
      for (int sy = y0; sy < y1; sy++)
        for (int sx = x0; sx < x1; sx++)
          for (int c = 0; c < 3; c++)
            sum[c] += picture.rgb[(size_t(sy) * picture.width + sx) * 3 + c];
      uint32_t count = uint32_t(y1 - y0) * uint32_t(x1 - x0);
      for (int c = 0; c < 3; c++)
        small.rgb[(size_t(y) * small.width + x) * 3 + c] = uint8_t(sum[c] / count);
    }
  }
  return small;
}

Raster Orient(const Raster &picture, int orientation) {
  if (orientation < 2 || orientation > 8)
    return picture;
  bool swap = orientation >= 5; // 5 to 8 turn a quarter: the sides change places
  Raster turned;
  turned.width = swap ? picture.height : picture.width;
  turned.height = swap ? picture.width : picture.height;
  turned.rgb.resize(picture.rgb.size());
  for (int y = 0; y < turned.height; y++)
    for (int x = 0; x < turned.width; x++) {
      // Where the upright pixel (x, y) lies in the stored picture.
      int w = turned.width - 1 - x, h = turned.height - 1 - y;
      int sx, sy;
      switch (orientation) {
      case 2: sx = w, sy = y; break;
      case 3: sx = w, sy = h; break;
      case 4: sx = x, sy = h; break;
      case 5: sx = y, sy = x; break;
      case 6: sx = y, sy = w; break;
      case 7: sx = h, sy = w; break;
      default: sx = h, sy = x; break; // 8
      }
      const uint8_t *from = &picture.rgb[(size_t(sy) * picture.width + sx) * 3];
      std::copy(from, from + 3, &turned.rgb[(size_t(y) * turned.width + x) * 3]);
    }
  return turned;
}

std::string EncodeJpeg(const Raster &picture, int quality) {
  TjHandle encoder(tjInitCompress());
  unsigned char *jpeg = nullptr;
  unsigned long size = 0;
  if (!encoder || picture.rgb.size() != size_t(picture.width) * picture.height * 3 ||
      tjCompress2(encoder.get(), picture.rgb.data(), picture.width, 0, picture.height, TJPF_RGB,
                  &jpeg, &size, TJSAMP_420, quality, 0) != 0) {
    tjFree(jpeg);
    return "";
  }
  std::string bytes(reinterpret_cast<char *>(jpeg), size);
  tjFree(jpeg);
  return bytes;
}
