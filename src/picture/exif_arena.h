// An ExifMem whose allocations come from one growing block and are all
// released at once: libexif's thousands of small calloc/free pairs per
// picture become pointer bumps.
#pragma once

#include <cstddef>
#include <libexif/exif-mem.h>

// The arena's ExifMem, made on first use; it lives for the whole run.
ExifMem *ExifArenaMem();
// Releases everything allocated since the last reset. No libexif object
// made from the arena may be used afterwards.
void ResetExifArena();
// Bytes allocated since the last reset, and the arena's capacity.
size_t ExifArenaUsed();
size_t ExifArenaCapacity();
