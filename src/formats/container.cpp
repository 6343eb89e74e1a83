#include "formats/container.h"

#include "formats/chunks.h"
#include "formats/heif.h"
#include "formats/sniff.h"
#include "formats/tiff_block.h"

namespace {

using Finder = bool (*)(FileSource &, TiffRegion &);

struct Format {
  PictureFormat format;
  Finder find;
};

const Format kFormats[] = {
    {PictureFormat::Tiff, FindWholeFileTiff},
    {PictureFormat::Png, FindPngExif},
    {PictureFormat::Webp, FindWebpExif},
    {PictureFormat::Heif, FindHeifExif},
};

const Format *format_of(const unsigned char *head, size_t length) {
  PictureFormat sniffed = FormatOf(head, length);
  for (const Format &format : kFormats)
    if (format.format == sniffed)
      return &format;
  return nullptr;
}

} // namespace

bool IsOtherFormat(const unsigned char *head, size_t length) {
  return format_of(head, length) != nullptr;
}

size_t FindOtherFormatExif(FileSource &source, unsigned char *block) {
  const Format *format = format_of(source.head, source.head_length);
  TiffRegion region;
  if (!format || !format->find(source, region))
    return 0;
  return CompactTiff(source, region, format->find == FindWholeFileTiff, block);
}
