// Thumbnails for the exported page, which carries them as data URIs.
#pragma once

#include <string>

#include "maphost/store/store.h"
#include "maphost/web/embedded.h"

// The thumbnail of a position's picture, as a data: URI of a JPEG, and its
// altitude; none when its file is gone, no longer the picture attached or
// too large, or when it has none.
Sample SampleOf(const Position &position);

// The bytes as a data: URI of a JPEG.
std::string JpegDataUri(const std::string &jpeg);
