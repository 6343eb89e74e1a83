// The EXIF payloads of chunked containers: PNG's eXIf chunk and the EXIF
// chunk of WebP's extended format. Only chunk headers are read on the way.
#pragma once

#include "formats/source.h"
#include "formats/tiff_block.h"

bool IsPng(const unsigned char *head, size_t length);
bool IsWebp(const unsigned char *head, size_t length);

// The TIFF structure in the file's EXIF chunk; false when it has none.
bool FindPngExif(FileSource &source, TiffRegion &found);
bool FindWebpExif(FileSource &source, TiffRegion &found);

// The TIFF structure of an EXIF payload: some writers put JPEG's "Exif\0\0"
// header before it.
TiffRegion SkipExifHeader(FileSource &source, TiffRegion payload);
