// The map page: live, with its files served beside it, or exported as one
// self-contained file with the positions and thumbnails in it.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "maphost/store/store.h"

struct PageConfig {
  bool live = true;
  std::string tiles; // a Leaflet URL template; empty: OpenStreetMap's; "none": the outline map alone
  std::string token; // the live page's: its files' addresses carry it
};

// Pictures' folders, numbered as they first come: positions name theirs by number.
struct FolderTable {
  std::unordered_map<std::string, uint32_t> ids;
  std::vector<std::string> names;
};

// A picture's folder: its path, or link, up to and with the last "/".
std::string FolderOf(const Position &position);
// One position as a JSON array, with its number: [number, 0, latitude,
// longitude, name] for a waypoint; a picture's has 1 and its folder's
// number (its folder added to folders when new). Safe inside an HTML
// script element.
std::string PositionJson(const Position &position, uint32_t number, FolderTable &folders);
// Positions (their JSON joined by commas) as a JSON object: the folders as
// "f", the positions as "p".
std::string BatchJson(const std::string &positions, const FolderTable &folders);

std::string LivePage(const PageConfig &config);
// The exported page runs only its own scripts: the Content-Security-Policy
// names each by its SHA-256.
std::string ExportPage(const PageConfig &config, const std::vector<Position> &positions,
                       const std::vector<std::string> &thumbnails);

// Whether a page may be written over a file that holds contents: it is
// empty, or it is a page this host wrote.
bool IsOwnPage(const std::string &contents);

// The origin of a tile URL template, for the page's Content-Security-Policy
// ("https://*.tile.openstreetmap.org"); the scheme alone when the host part
// holds a placeholder other than {s}.
std::string TileSource(const std::string &tiles);
