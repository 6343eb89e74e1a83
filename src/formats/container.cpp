#include "formats/container.h"

#include "formats/chunks.h"
#include "formats/heif.h"
#include "formats/tiff_block.h"

namespace {

using Finder = bool (*)(FileSource &, TiffRegion &);

struct Format {
  bool (*sniff)(const unsigned char *head, size_t length);
  Finder find;
};

bool is_tiff(const unsigned char *head, size_t length) { return length >= 8 && IsTiffHeader(head); }

const Format kFormats[] = {
    {is_tiff, FindWholeFileTiff},
    {IsPng, FindPngExif},
    {IsWebp, FindWebpExif},
    {IsHeif, FindHeifExif},
};

const Format *format_of(const unsigned char *head, size_t length) {
  for (const Format &format : kFormats)
    if (format.sniff(head, length))
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
