#include "formats/sniff.h"

#include <cstring>

#include "formats/chunks.h"
#include "formats/heif.h"
#include "formats/jpeg_markers.h"
#include "formats/tiff_block.h"

namespace {

bool is_jpeg(const unsigned char *head, size_t length) {
  return StartsJpeg(head, length) && length >= 3 && head[2] == kMarker;
}

bool is_tiff(const unsigned char *head, size_t length) { return length >= 8 && IsTiffHeader(head); }

bool is_raf(const unsigned char *head, size_t length) {
  return length >= 16 && memcmp(head, "FUJIFILMCCD-RAW ", 16) == 0;
}

struct Sniffer {
  PictureFormat format;
  bool (*test)(const unsigned char *head, size_t length);
};

const Sniffer kSniffers[] = {
    {PictureFormat::Jpeg, is_jpeg}, {PictureFormat::Png, IsPng},   {PictureFormat::Webp, IsWebp},
    {PictureFormat::Heif, IsHeif},  {PictureFormat::Tiff, is_tiff}, {PictureFormat::Raf, is_raf},
};

} // namespace

PictureFormat FormatOf(const unsigned char *head, size_t length) {
  for (const Sniffer &sniffer : kSniffers)
    if (sniffer.test(head, length))
      return sniffer.format;
  return PictureFormat::Unknown;
}
