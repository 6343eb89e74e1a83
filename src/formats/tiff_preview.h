// The JPEG previews that TIFF-based raw files (and some TIFFs) carry, and
// Fujifilm RAF's: the way to show a picture no decoder here reads.
#pragma once

#include <string_view>

struct TiffFacts {
  std::string_view preview; // the largest JPEG found; empty when none
  int orientation = 1;      // IFD 0's
};

// Looks through IFD 0, the IFDs chained after it and their sub-IFDs.
TiffFacts ReadTiffFacts(std::string_view file);
// The JPEG a RAF file's header points to; empty when none.
std::string_view RafPreview(std::string_view file);
