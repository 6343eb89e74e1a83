// The world's countries by their borders, and the first-level regions of
// those Natural Earth draws at 1:50m (the United States, Canada, Brazil,
// Australia): the ones a point lies in.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct Area {
  bool region;      // else a country
  bool has_regions = false; // a country the borders have regions of
  std::string code; // ISO 3166 alpha-2; empty for none
  std::string name;
  int first_band = 0;          // the band of its southernmost edge
  uint32_t bands = 0, band = 0; // how many bands, and the first's in Borders::band_starts
};

struct Edge {
  int32_t x0, y0, x1, y1; // millionths of a degree
};

// Each area's edges by bands of latitude, so a point is tested against the
// few that cross its latitude; the areas by the one-degree cells their rings'
// boxes meet.
struct Borders {
  std::vector<Area> areas;
  std::vector<Edge> edges;
  std::vector<uint32_t> band_starts;  // where each area's each band's edges begin, and the end
  std::vector<uint32_t> cell_starts;  // where each cell's areas begin in cell_areas, and the end
  std::vector<uint16_t> cell_areas;
};

// Reads the borders file tools/borders.py writes. False when it is cut
// short or malformed.
bool ReadBorders(std::string_view packed, Borders &borders);

struct Where {
  const Area *country = nullptr, *region = nullptr; // nullptr: none
};
// The country and region a point lies in; on a coast the 1:50m borders
// miss, those within about 4 km.
Where AreasAt(const Borders &borders, double latitude, double longitude);
// The world's borders, embedded in the program, read once when first asked.
const Borders &WorldBorders();
