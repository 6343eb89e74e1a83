// The pictures of an area of the map as a file other programs read.
#pragma once

#include <string>
#include <string_view>

#include "maphost/store/mercator.h"
#include "maphost/store/query.h"
#include "maphost/store/store.h"

// Pictures at the most in one file: a larger selection is refused whole.
constexpr size_t kMostSelected = 100000;

struct SelectionFile {
  std::string bytes;
  const char *type = nullptr; // its media type
};

enum class Selected { Written, TooMany, Failed };
// The pictures of the box from north_west to south_east that the filter
// lets through, in capture-time order, as format says: "gpx", "geojson" or "kml". TooMany past
// kMostSelected pictures; Failed for another format, or a GPX that could
// not be made.
Selected ExportSelection(Store &store, MapPoint north_west, MapPoint south_east, const Filter &filter,
                         std::string_view format, SelectionFile &file);
