// The EXIF item of a HEIF file (HEIC, AVIF and the other ISO base media
// brands of still pictures): the meta box's item information and item
// locations say where it lies; only the top-level box headers and the meta
// box are read to find it.
#pragma once

#include "formats/source.h"
#include "formats/tiff_block.h"

bool IsHeif(const unsigned char *head, size_t length);

// The TIFF structure in the file's Exif item; false when it has none, or
// one in a form not read here (several extents, data in another file).
bool FindHeifExif(FileSource &source, TiffRegion &found);
