// The map page: live, with its files served beside it, or exported as one
// self-contained file with the positions and thumbnails in it.
#pragma once

#include <string>
#include <vector>

#include "maphost/web/embedded.h"

struct PageConfig {
  bool live = true;
  std::string tiles; // a Leaflet URL template; empty: OpenStreetMap's; "none": the outline map alone
  std::string token; // the live page's: its files' addresses carry it
};

std::string LivePage(const PageConfig &config);
// The exported page runs only its own scripts: the Content-Security-Policy
// names each by its SHA-256.
std::string ExportPage(const PageConfig &config, const PositionFeed &each, const Thumbnails &thumbnails);

// Whether a page may be written over a file that holds contents: it is
// empty, or it is a page this host wrote.
bool IsOwnPage(const std::string &contents);

// The origin of a tile URL template, for the page's Content-Security-Policy
// ("https://*.tile.openstreetmap.org"); the scheme alone when the host part
// holds a placeholder other than {s}.
std::string TileSource(const std::string &tiles);
