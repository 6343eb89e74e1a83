// Thumbnails for the exported page, which carries them as data URIs.
#pragma once

#include <string>

#include "maphost/store/store.h"

// The thumbnail of a position's picture, as a JPEG; empty when its file is
// gone, no longer the picture attached, too large, or has none.
std::string ThumbnailOf(const Position &position);

// The bytes as a data: URI of a JPEG.
std::string JpegDataUri(const std::string &jpeg);
