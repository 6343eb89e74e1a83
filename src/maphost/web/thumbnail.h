// The EXIF thumbnail of a picture the host received, read with libexif.
#pragma once

#include <string>

// A file larger than this gets no thumbnail.
constexpr long long kMostPictureBytes = 1LL << 30;

// The JPEG thumbnail in the EXIF data of the file at path; empty when the
// file is gone, no longer a regular file, larger than kMostPictureBytes, or
// holds none.
std::string ReadThumbnail(const std::string &path);

// The bytes as a data: URI of a JPEG.
std::string JpegDataUri(const std::string &jpeg);
