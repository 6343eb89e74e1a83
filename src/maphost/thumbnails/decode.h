// Decoders for the formats the web view shows, each refusing by its header
// a picture larger than kMostPixels, and scaling down as it decodes where
// the format lets it (JPEG by eighths, WebP to any size). Each returns an
// empty raster for a picture it cannot decode.
#pragma once

#include <string_view>

#include "maphost/thumbnails/raster.h"

// What one JPEG or PNG decode may allocate, counted from its header: the
// picture it makes, and a progressive JPEG's coefficients besides.
constexpr uint64_t kMostDecodeBytes = 256u << 20;

// At least least pixels on the shorter side when the picture has them;
// 0: the whole picture.
Raster DecodeJpeg(std::string_view bytes, int least);
Raster DecodePng(std::string_view bytes);
Raster DecodeWebp(std::string_view bytes, int least);
// A HEIF picture's primary image, turned as its container says, or its
// thumbnail item when thumbnail and it has one.
Raster DecodeHeif(std::string_view bytes, bool thumbnail);
// A TIFF picture's first image, upright as its orientation says; libtiff
// reads what it knows (strips or tiles, most compressions), not raw sensor
// data.
Raster DecodeTiff(std::string_view bytes);
