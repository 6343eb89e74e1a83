// The library an exported page carries: the positions it shows as columns
// of numbers the page reads without parsing one object per position, and
// their clusters at the zooms of the wider views made beforehand, so the
// page opens at once whatever the library's size.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "maphost/store/store.h"

struct EmbeddedLibrary {
  // Counts, folders, names, the capture times that are no plain time, and
  // where each column lies in the blob: JSON, safe inside an HTML script
  // element. Each name is the counts of ASCII characters it shares with
  // the one before at its start and at its end, as characters from '0', and
  // the rest between.
  std::string json;
  // Base64 of the columns: each position's latitude and longitude in
  // ten-millionths of a degree, as varints of the step from the one before;
  // then little-endian 32-bit numbers: its folder and its town (-1: none)
  // in runs, and each prebuilt zoom's cells: count, latitude, longitude and
  // the number of its one position (-1: more); then each picture's capture
  // time in varints, a step in seconds from the one before.
  std::string blob;
  std::string thumbnails; // JSON: data URIs by shown position's number, and "a": their altitudes
};

// The shown positions (pictures, and waypoints without one, on the map) of
// those each gives, numbered pictures first in capture-time order, then
// the waypoints; samples are by index among those each gives: a picture's
// thumbnail as a data URI (empty: none), and its altitude when it has one.
struct Sample {
  std::string thumbnail;
  std::optional<double> altitude;
};
using Thumbnails = std::unordered_map<size_t, Sample>;
EmbeddedLibrary EmbedLibrary(const PositionFeed &each, const Thumbnails &thumbnails);

// A picture's folder: its path, or link, up to and with the last "/".
std::string FolderOf(const Position &position);

std::string Base64(std::string_view bytes);
// JSON that no "<" can end or reopen inside an HTML script element.
std::string ScriptSafe(const std::string &json);
