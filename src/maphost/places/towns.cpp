#include "maphost/places/towns.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <numeric>

#include "maphost/embed.h"

EMBED(world_towns, TOWNS_PBF);

namespace {

constexpr int kColumns = 360, kRows = 180;
constexpr uint32_t kNoTown = UINT32_MAX; // a population that marks a place left out

int cell_of(double latitude, double longitude) {
  int row = std::clamp(int(std::floor(latitude + 90)), 0, kRows - 1);
  int column = std::clamp(int(std::floor(longitude + 180)), 0, kColumns - 1);
  return row * kColumns + column;
}

// A protocol buffer reader: varints and length-delimited fields.
struct Reader {
  std::string_view bytes;
  size_t at = 0;
  bool failed = false;
  uint64_t varint() {
    uint64_t value = 0;
    for (int shift = 0; shift < 64; shift += 7) {
      if (at >= bytes.size())
        break;
      uint8_t byte = uint8_t(bytes[at++]);
      value |= uint64_t(byte & 0x7f) << shift;
      if (byte < 0x80)
        return value;
    }
    failed = true;
    return 0;
  }
  int64_t signed_varint() {
    uint64_t value = varint();
    return int64_t(value >> 1) ^ -int64_t(value & 1);
  }
  std::string_view text() {
    uint64_t length = varint();
    if (failed || length > bytes.size() - at)
      return failed = true, std::string_view();
    std::string_view found = bytes.substr(at, length);
    at += length;
    return found;
  }
};

// One town's message; the coordinates go on from the last town's.
bool read_town(Reader &in, size_t end, int64_t &lat, int64_t &lon, Town &town) {
  while (!in.failed && in.at < end) {
    uint64_t key = in.varint();
    int field = int(key >> 3), type = int(key & 7);
    if (type == 2) {
      std::string_view text = in.text();
      if (field == 2)
        town.name = text;
      else if (field == 3 && text.size() == 2)
        memcpy(town.country, text.data(), 2);
      else if (field == 7) // a part of a city, or a place gone
        town.population = text == "PPLX" || text == "PPLH" || text == "PPLQ" || text == "PPLW" ? kNoTown : town.population;
    } else if (type != 0) {
      return false;
    } else if (field == 10 || field == 11) {
      (field == 10 ? lon : lat) += in.signed_varint();
    } else {
      uint64_t number = in.varint();
      if (field == 9 && town.population != kNoTown)
        town.population = uint32_t(std::min<uint64_t>(number, kNoTown - 1));
    }
  }
  town.latitude = double(lat) / 1e5, town.longitude = double(lon) / 1e5;
  return !in.failed && in.at == end;
}

} // namespace

double Kilometres(double lat_a, double lon_a, double lat_b, double lon_b) {
  double r = M_PI / 180, x = (lon_b - lon_a) * r * std::cos((lat_a + lat_b) * r / 2);
  double y = (lat_b - lat_a) * r;
  return 6371 * std::sqrt(x * x + y * y);
}

bool ReadTowns(std::string_view packed, Towns &found) {
  Reader in{packed};
  int64_t lat = 0, lon = 0;
  std::vector<Town> towns;
  while (in.at < packed.size()) {
    uint64_t length = in.varint();
    if (in.failed || length > packed.size() - in.at)
      return false;
    Town town{0, 0, 0, 0, "", ""};
    if (!read_town(in, in.at + length, lat, lon, town))
      return false;
    town.reach = std::pow(std::max<uint32_t>(town.population, 1000), 0.25);
    if (town.population != kNoTown)
      towns.push_back(std::move(town));
  }
  std::stable_sort(towns.begin(), towns.end(), [](const Town &a, const Town &b) {
    return cell_of(a.latitude, a.longitude) < cell_of(b.latitude, b.longitude);
  });
  found.cell_starts.assign(kColumns * kRows + 1, 0);
  for (const Town &t : towns)
    found.cell_starts[size_t(cell_of(t.latitude, t.longitude)) + 1]++;
  std::partial_sum(found.cell_starts.begin(), found.cell_starts.end(), found.cell_starts.begin());
  found.towns = std::move(towns);
  return true;
}

const Town *TownAt(const Towns &towns, double latitude, double longitude, std::string_view country) {
  if (towns.cell_starts.empty() || !(std::fabs(latitude) <= 90 && std::fabs(longitude) <= 180))
    return nullptr;
  // The cells within kNearKm: a degree of latitude is 111 km, one of
  // longitude shrinks towards the poles.
  int rows = 1, columns = int(std::min(180.0, std::ceil(kNearKm / (111 * std::max(0.01, std::cos(latitude * M_PI / 180))))));
  const Town *best = nullptr;
  double best_score = INFINITY;
  int row = int(std::floor(latitude + 90)), column = int(std::floor(longitude + 180));
  for (int r = std::max(0, row - rows); r <= std::min(kRows - 1, row + rows); r++)
    for (int dc = -columns; dc <= columns; dc++) {
      int c = column + dc, cell = r * kColumns + c; // none across the antimeridian, as Kilometres
      if (c < 0 || c >= kColumns)
        continue;
      for (uint32_t k = towns.cell_starts[size_t(cell)]; k < towns.cell_starts[size_t(cell) + 1]; k++) {
        const Town &t = towns.towns[k];
        if (!country.empty() && country != t.country)
          continue;
        double km = Kilometres(latitude, longitude, t.latitude, t.longitude);
        double score = km / t.reach;
        if (km <= kNearKm && score < best_score)
          best = &t, best_score = score;
      }
    }
  return best;
}

const Towns &WorldTowns() {
  static Towns towns;
  static std::once_flag read;
  std::call_once(read, [] { ReadTowns(EMBEDDED(world_towns), towns); });
  return towns;
}

std::vector<const Town *> LargestTowns(const Towns &towns, uint32_t least) {
  std::vector<const Town *> found;
  for (const Town &t : towns.towns)
    if (t.population >= least)
      found.push_back(&t);
  std::sort(found.begin(), found.end(), [](const Town *a, const Town *b) { return a->population > b->population; });
  return found;
}
