// The web view's files, embedded in the program at build time: Leaflet and
// its marker clusters from Debian's packages, and the page's own.
#pragma once

#include <string_view>

struct Asset {
  const char *name; // as served under /assets/
  const char *type; // its media type
  std::string_view bytes;
};

// The asset of that name, or nullptr.
const Asset *FindAsset(std::string_view name);
// The page's HTML template.
std::string_view PageTemplate();
