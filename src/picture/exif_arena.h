// An ExifMem whose allocations come from one growing block and are all
// released at once: libexif's thousands of small calloc/free pairs per
// picture become pointer bumps.
#pragma once

#include <cstddef>
#include <libexif/exif-mem.h>

// This thread's arena's ExifMem, made on first use; it lives as long as the
// thread. Each thread has an arena of its own.
ExifMem *ExifArenaMem();
// Releases everything this thread allocated since the last reset. No
// libexif object made from the arena may be used afterwards.
void ResetExifArena();
// Bytes this thread allocated since the last reset, and its arena's capacity.
size_t ExifArenaUsed();
size_t ExifArenaCapacity();
