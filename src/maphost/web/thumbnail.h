// Thumbnails for the exported page, which carries them as data URIs.
#pragma once

#include <string>

// The thumbnail of the picture file at path, as a JPEG; empty when the file
// is gone, no longer a regular file, too large, or has none.
std::string ThumbnailOf(const std::string &path);

// The bytes as a data: URI of a JPEG.
std::string JpegDataUri(const std::string &jpeg);
