// Where a position falls on the web map: Web Mercator in whole units, 2^30
// a side for the world, and the grid of 64-pixel cells the map's clusters
// are made of at each zoom (4 cells a side at zoom 0).
#pragma once

#include <cstdint>
#include <string_view>

constexpr int kWorldBits = 30;
constexpr int32_t kWorldSide = int32_t(1) << kWorldBits;
constexpr int kDeepestZoom = 20;

struct MapPoint {
  int32_t x = 0, y = 0; // 0 to kWorldSide - 1, from the west and from the north
};

// The degrees a latitude's and a longitude's texts hold; false for texts
// that are not numbers in range.
bool DegreesOf(std::string_view latitude, std::string_view longitude, double &lat, double &lon);
// A latitude and longitude in degrees (the north beyond 85.05° stays at the
// top); false for texts that are not numbers in range.
bool MapPointOf(std::string_view latitude, std::string_view longitude, MapPoint &point);
MapPoint MapPointOf(double latitude, double longitude);
// Back to degrees: the point's latitude and longitude.
double LatitudeOf(int32_t y);
double LongitudeOf(int32_t x);

// The cell of a coordinate at zoom (0 to kDeepestZoom).
inline int32_t CellOf(int32_t coordinate, int zoom) { return coordinate >> (kWorldBits - 2 - zoom); }
// The first coordinate of a cell at zoom.
inline int32_t CellStart(int32_t cell, int zoom) { return cell << (kWorldBits - 2 - zoom); }
