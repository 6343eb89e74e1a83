// The EXIF block of a JPEG found in the bytes already read, as libexif's
// loader would find it, and the parts of it the survey never reads hidden
// from libexif's parser.
#pragma once

#include <cstddef>

// The block libexif's loader would hand out for a file whose first length
// bytes are head (whole_file: they are the whole file). False whenever the
// layout is anything but the common one (SOI, APP0 or APP2 segments, then
// an APP1 with the EXIF header) or the block runs past what was read: the
// loader then decides. In the last case size is how many bytes the head
// must hold, else 0.
bool FindExifBlock(unsigned char *head, size_t length, bool whole_file,
                   unsigned char **block, size_t *size);

// Rewrites the block so that libexif skips the maker note and IFD 1 (and its
// thumbnail): the maker note's tag becomes an unknown one, IFD 0's link to
// IFD 1 becomes 0. Each is done only when no other IFD, entry or value that
// libexif could read shares the rewritten bytes, and IFD 1 only when it
// links to no IFD, so every entry the survey reads stays as it was.
void HideUnreadParts(unsigned char *block, size_t size);
