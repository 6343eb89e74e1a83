// An EXIF block for libexif made from a TIFF structure anywhere in a file
// (a TIFF or raw file itself, or the EXIF payload of another container),
// reading only the IFDs libexif would visit and the values the survey
// harvests. libexif reads no block past 64 KiB and no IFD or value past
// it; the compact copy puts everything it needs within reach.
#pragma once

#include <cstddef>
#include <cstdint>

#include "formats/source.h"

// Where a TIFF structure lies in a file: its header's offset, and how many
// bytes from there belong to it (offsets past them are invalid).
struct TiffRegion {
  uint64_t offset = 0;
  uint64_t length = 0;
};

// A block libexif loads whole, and the JPEG path's limit as well.
constexpr size_t kMostBlockBytes = 0xfffe;

// Writes into block (kMostBlockBytes long) the EXIF header and a copy of the
// region's TIFF structure that libexif loads into the same IFD entries the
// survey harvests: IFD 0, IFD 1 and the EXIF, GPS and Interoperability
// IFDs, each as libexif would reach it, keeping the IFD pointers and the
// harvested tags (GPS tags 1 to 6 and DateTimeOriginal) in their order.
// raw_magic accepts the header magics of raw files (ORF, RW2) as TIFF's 42.
// Returns the block's size; a region with no TIFF header gives a block
// libexif finds empty, as it would in a JPEG.
size_t CompactTiff(FileSource &source, TiffRegion region, bool raw_magic,
                   unsigned char *block);

// A TIFF or raw file: its TIFF structure is the whole file.
bool FindWholeFileTiff(FileSource &source, TiffRegion &found);

// Whether 4 bytes start a TIFF header of a TIFF or raw file.
bool IsTiffHeader(const unsigned char *bytes);
