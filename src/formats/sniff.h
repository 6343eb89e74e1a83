// Which picture format a file is, known from its first bytes, never from
// its name: the one place both programs ask.
#pragma once

#include <cstddef>
#include <string_view>

enum class PictureFormat { Unknown = 1, Jpeg, Png, Webp, Heif, Tiff, Raf }; // from 1: one made by default is no answer

PictureFormat FormatOf(const unsigned char *head, size_t length);
inline PictureFormat FormatOf(std::string_view file) {
  return FormatOf(reinterpret_cast<const unsigned char *>(file.data()), file.size());
}
