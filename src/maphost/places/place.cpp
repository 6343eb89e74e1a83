#include "maphost/places/place.h"

#include <cstdlib>
#include <vector>

#include "maphost/places/borders.h"
#include "maphost/places/towns.h"

namespace {

constexpr char kBetween = '\x1f';

void add(std::string &key, const std::string &part) {
  if (!part.empty())
    key += (key.empty() ? "" : std::string(1, kBetween)) + part;
}

} // namespace

std::string PlaceKeyOf(const std::string &latitude, const std::string &longitude) {
  double lat = strtod(latitude.c_str(), nullptr), lon = strtod(longitude.c_str(), nullptr);
  Where where = AreasAt(WorldBorders(), lat, lon);
  const Town *town = TownAt(WorldTowns(), lat, lon, where.country ? where.country->code : "");
  std::string key;
  if (where.country)
    add(key, where.country->name);
  if (where.region)
    add(key, where.region->name);
  if (town)
    add(key, town->name);
  return key;
}

std::string ShownPlace(std::string_view key) {
  std::vector<std::string_view> parts;
  for (size_t from = 0; !key.empty();) {
    size_t at = key.find(kBetween, from);
    parts.push_back(key.substr(from, at - from));
    if (at == std::string_view::npos)
      break;
    from = at + 1;
  }
  std::string shown;
  for (auto part = parts.rbegin(); part != parts.rend(); ++part)
    shown += (shown.empty() ? "" : ", ") + std::string(*part);
  return shown;
}

std::string PlaceOf(const std::string &latitude, const std::string &longitude) {
  return ShownPlace(PlaceKeyOf(latitude, longitude));
}
