#include "maphost/places/borders.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <numeric>

#include "maphost/embed.h"

EMBED(world_borders, BORDERS_FILE);

namespace {

constexpr int kColumns = 360, kRows = 180;
constexpr int32_t kBand = 250000; // a quarter of a degree
constexpr double kMillionths = 1e6;

int band_of(int32_t y) { return int((int64_t(y) + 90 * 1000000) / kBand); }

int cell_of(int row, int column) { return std::clamp(row, 0, kRows - 1) * kColumns + std::clamp(column, 0, kColumns - 1); }

struct Reader {
  std::string_view bytes;
  size_t at = 0;
  bool failed = false;
  std::string_view take(size_t n) {
    if (failed || n > bytes.size() - at)
      return failed = true, std::string_view();
    at += n;
    return bytes.substr(at - n, n);
  }
  uint32_t number(size_t size) {
    std::string_view b = take(size);
    uint32_t value = 0;
    for (size_t i = b.size(); i-- > 0;)
      value = value << 8 | uint8_t(b[i]);
    return value;
  }
};

using Ring = std::vector<std::pair<int32_t, int32_t>>;

// An area's rings; false when they are cut short.
bool read_rings(Reader &in, std::vector<Ring> &rings) {
  uint32_t count = in.number(4);
  for (uint32_t r = 0; r < count && !in.failed; r++) {
    uint32_t points = in.number(4);
    if (points > (in.bytes.size() - in.at) / 8)
      return false;
    Ring ring(points);
    for (auto &p : ring)
      p.first = int32_t(in.number(4)), p.second = int32_t(in.number(4));
    rings.push_back(std::move(ring));
  }
  return !in.failed;
}

// Files each edge of the area under every band it spans.
void add_edges(Borders &b, Area &area, const std::vector<Ring> &rings) {
  int south = INT32_MAX, north = INT32_MIN;
  for (const Ring &ring : rings)
    for (const auto &p : ring)
      south = std::min(south, band_of(p.second)), north = std::max(north, band_of(p.second));
  area.first_band = south, area.band = uint32_t(b.band_starts.size());
  area.bands = north >= south ? uint32_t(north - south + 1) : 0;
  std::vector<std::vector<Edge>> bands(area.bands);
  for (const Ring &ring : rings)
    for (size_t i = 0, j = ring.size() - 1; i < ring.size(); j = i++) {
      Edge e{ring[j].first, ring[j].second, ring[i].first, ring[i].second};
      for (int k = band_of(std::min(e.y0, e.y1)); k <= band_of(std::max(e.y0, e.y1)); k++)
        bands[size_t(k - south)].push_back(e);
    }
  for (const std::vector<Edge> &band : bands) {
    b.band_starts.push_back(uint32_t(b.edges.size()));
    b.edges.insert(b.edges.end(), band.begin(), band.end());
  }
}

void add_cells(std::vector<std::pair<int, uint16_t>> &entries, uint16_t area, const std::vector<Ring> &rings) {
  for (const Ring &ring : rings) {
    int32_t west = INT32_MAX, east = INT32_MIN, south = INT32_MAX, north = INT32_MIN;
    for (const auto &p : ring)
      west = std::min(west, p.first), east = std::max(east, p.first), south = std::min(south, p.second),
      north = std::max(north, p.second);
    for (int row = int(std::floor(south / kMillionths)) + 90; row <= int(std::floor(north / kMillionths)) + 90; row++)
      for (int col = int(std::floor(west / kMillionths)) + 180; col <= int(std::floor(east / kMillionths)) + 180; col++)
        entries.push_back({cell_of(row, col), area});
  }
}

// Even-odd along a ray to the east, over the edges of the point's band.
bool inside(const Borders &b, const Area &area, double x, double y) {
  int k = band_of(int32_t(std::floor(y))) - area.first_band;
  if (k < 0 || uint32_t(k) >= area.bands)
    return false;
  bool odd = false;
  for (uint32_t e = b.band_starts[area.band + uint32_t(k)]; e < b.band_starts[area.band + uint32_t(k) + 1]; e++) {
    const Edge &edge = b.edges[e];
    if ((edge.y0 > y) != (edge.y1 > y) &&
        x < double(edge.x1 - edge.x0) * (y - edge.y0) / double(edge.y1 - edge.y0) + edge.x0)
      odd = !odd;
  }
  return odd;
}

Where areas_at(const Borders &b, double latitude, double longitude) {
  Where found;
  if (!(std::fabs(latitude) <= 90 && std::fabs(longitude) <= 180))
    return found;
  int cell = cell_of(int(std::floor(latitude)) + 90, int(std::floor(longitude)) + 180);
  double x = longitude * kMillionths, y = latitude * kMillionths;
  for (uint32_t k = b.cell_starts[size_t(cell)]; k < b.cell_starts[size_t(cell) + 1]; k++) {
    const Area &area = b.areas[b.cell_areas[k]];
    const Area *&slot = area.region ? found.region : found.country;
    if (!slot && inside(b, area, x, y))
      slot = &area;
  }
  if (found.region && (!found.country || found.region->code != found.country->code))
    found.region = nullptr; // the two outlines differ by a little along a border
  return found;
}

} // namespace

bool ReadBorders(std::string_view packed, Borders &borders) {
  Reader in{packed};
  if (in.take(4) != "PTB1")
    return false;
  Borders b;
  std::vector<std::pair<int, uint16_t>> entries;
  while (in.at < packed.size() && b.areas.size() < UINT16_MAX) {
    Area area;
    area.region = in.take(1) == "R";
    std::string_view code = in.take(2);
    area.code = code == "  " ? "" : std::string(code);
    area.name = in.take(in.number(2));
    std::vector<Ring> rings;
    if (in.failed || !read_rings(in, rings))
      return false;
    add_edges(b, area, rings);
    add_cells(entries, uint16_t(b.areas.size()), rings);
    b.areas.push_back(std::move(area));
  }
  if (in.at != packed.size())
    return false;
  for (Area &country : b.areas)
    for (const Area &region : b.areas)
      country.has_regions |= !country.region && region.region && region.code == country.code && !region.code.empty();
  b.band_starts.push_back(uint32_t(b.edges.size()));
  std::sort(entries.begin(), entries.end());
  entries.erase(std::unique(entries.begin(), entries.end()), entries.end());
  b.cell_starts.assign(kColumns * kRows + 1, 0);
  for (const auto &[cell, area] : entries)
    b.cell_starts[size_t(cell) + 1]++, b.cell_areas.push_back(area);
  std::partial_sum(b.cell_starts.begin(), b.cell_starts.end(), b.cell_starts.begin());
  borders = std::move(b);
  return true;
}

Where AreasAt(const Borders &borders, double latitude, double longitude) {
  if (borders.cell_starts.empty())
    return {};
  Where found;
  for (double step = 0; step <= 0.04; step += 0.02)
    for (int a = 0; a < (step > 0 ? 8 : 1); a++) {
      Where at = areas_at(borders, latitude + step * std::sin(a * M_PI / 4), longitude + step * std::cos(a * M_PI / 4));
      found.country = found.country ? found.country : at.country;
      if (at.country == found.country && !found.region)
        found.region = at.region;
      if (found.country && (found.region || !found.country->has_regions))
        return found;
    }
  return found;
}

const Borders &WorldBorders() {
  static Borders borders;
  static std::once_flag read;
  std::call_once(read, [] { ReadBorders(EMBEDDED(world_borders), borders); });
  return borders;
}
