// EXIF blocks in the picture formats other than JPEG: HEIF (HEIC, AVIF),
// PNG, WebP, and TIFF with the raw files built on it. The format is known
// from the file's first bytes, never from its name.
#pragma once

#include <cstddef>

#include "formats/source.h"

// Whether the head starts a file in one of these formats.
bool IsOtherFormat(const unsigned char *head, size_t length);

// Writes the file's EXIF block into block (kMostBlockBytes long), ready for
// libexif; returns its size, or 0 when the file carries none.
size_t FindOtherFormatExif(FileSource &source, unsigned char *block);
