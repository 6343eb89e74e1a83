#include "maphost/web/embedded.h"

#include <algorithm>
#include <cmath>
#include <nettle/base64.h>
#include <nlohmann/json.hpp>
#include <numeric>
#include <unordered_map>
#include <unordered_set>

#include "maphost/places/place.h"
#include "maphost/store/capture_time.h"
#include "maphost/store/cells.h"

namespace {

constexpr int32_t kNoOne = -1;

// A shown position as the page reads it.
struct Shown {
  size_t index; // among the positions given
  MapPoint point;
  int32_t lat, lon; // in ten-millionths of a degree
  int32_t folder;   // a picture's, numbered; kNoOne: a waypoint
  int32_t town;     // a picture's, numbered; kNoOne: none
  std::string name, taken;
};

// What the page is told of the positions given, gathered one by one.
struct Gathered {
  std::vector<Shown> shown;
  nlohmann::json folders = nlohmann::json::array();
  std::unordered_map<std::string, int32_t> folder_ids;
  nlohmann::json towns = nlohmann::json::array();
  std::unordered_map<std::string, int32_t> town_ids;
  size_t count = 0, pictures = 0, lone = 0;
  std::unordered_set<std::string> places; // where pictures are
};

// The clusters of one zoom: each cell's count, mean place and its one
// position's number when it holds one.
struct Cell {
  int64_t count = 0;
  double lat = 0, lon = 0; // sums, ten-millionths
  int32_t single = kNoOne;
  int32_t first = INT32_MAX; // its first position: a picture when it has any
};
using Level = std::unordered_map<uint64_t, Cell>;

uint64_t cell_key(int32_t x, int32_t y) { return uint64_t(uint32_t(x)) << 32 | uint32_t(y); }

struct Blob {
  std::string bytes;
  nlohmann::json sections = nlohmann::json::object(); // name: [offset, count]
  void begin(const char *name, size_t count) { sections[name] = {bytes.size(), count}; }
  void put(int64_t value) {
    auto v = uint32_t(value);
    char b[4] = {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
    bytes.append(b, 4);
  }
  void put_varint(uint64_t value) { // seven bits a byte, the lowest first; the top bit: more follow
    for (; value >= 0x80; value >>= 7)
      bytes += char(0x80 | (value & 0x7F));
    bytes += char(value);
  }
  void end_varints(const char *name) { // [offset, count, bytes]; the next section on a 32-bit boundary
    sections[name].push_back(bytes.size() - sections[name][0].get<size_t>());
    bytes.resize((bytes.size() + 3) / 4 * 4, '\0');
  }
};

// A signed step as an unsigned varint's value: 0, -1, 1, -2, 2... as 0, 1, 2, 3, 4...
uint64_t zigzag(int64_t step) { return step >= 0 ? 2 * uint64_t(step) : 2 * uint64_t(-step) - 1; }

// A column of positions as the steps from the one before: places met in
// capture-time order are mostly near the one before, a byte or two away.
void put_steps(Blob &blob, const char *name, const std::vector<Shown> &shown, int32_t Shown::*value) {
  blob.begin(name, shown.size());
  int64_t before = 0;
  for (const Shown &s : shown)
    blob.put_varint(zigzag(s.*value - before)), before = s.*value;
  blob.end_varints(name);
}

// The number of text among those met so far, a new one numbered next.
int32_t numbered(const std::string &text, nlohmann::json &texts, std::unordered_map<std::string, int32_t> &ids) {
  auto added = ids.try_emplace(text, int32_t(texts.size()));
  if (added.second)
    texts.push_back(text);
  return added.first->second;
}

void gather(Gathered &g, const Position &p) {
  size_t index = g.count++;
  g.pictures += p.picture, g.lone += !p.picture && p.partner < 0;
  if (p.picture)
    g.places.insert(p.latitude + ',' + p.longitude);
  double lat = 0, lon = 0;
  if ((!p.picture && p.partner >= 0) || !DegreesOf(p.latitude, p.longitude, lat, lon))
    return;
  int32_t folder = p.picture ? numbered(FolderOf(p), g.folders, g.folder_ids) : kNoOne;
  std::string place = p.picture ? PlaceKeyOf(p.latitude, p.longitude) : "";
  int32_t town = place.empty() ? kNoOne : numbered(place, g.towns, g.town_ids);
  g.shown.push_back({index, MapPointOf(lat, lon), int32_t(std::lround(lat * 1e7)), int32_t(std::lround(lon * 1e7)),
                     folder, town, p.name, p.taken});
}

// Pictures first, in capture-time order (arrival among equals), then the
// waypoints without a picture, in arrival order.
void sort_shown(std::vector<Shown> &shown) {
  std::stable_sort(shown.begin(), shown.end(), [](const Shown &a, const Shown &b) {
    bool p = a.folder != kNoOne, q = b.folder != kNoOne;
    return p != q ? p : p && a.taken < b.taken;
  });
}

// The deepest prebuilt zoom from the positions, each wider one from the
// one below it: a cell is four of the next zoom's.
std::vector<Level> cell_levels(const std::vector<Shown> &shown) {
  std::vector<Level> levels(kCellZooms);
  Level &deepest = levels.back();
  for (size_t k = 0; k < shown.size(); k++) {
    const Shown &s = shown[k];
    Cell &c = deepest[cell_key(CellOf(s.point.x, kCellZooms - 1), CellOf(s.point.y, kCellZooms - 1))];
    c.single = c.count++ ? kNoOne : int32_t(k);
    c.first = std::min(c.first, int32_t(k));
    c.lat += s.lat, c.lon += s.lon;
  }
  for (int zoom = kCellZooms - 2; zoom >= 0; zoom--)
    for (const auto &[key, below] : levels[zoom + 1]) {
      Cell &c = levels[zoom][cell_key(int32_t(key >> 33), int32_t(uint32_t(key) >> 1))];
      c.single = c.count ? kNoOne : below.single;
      c.first = std::min(c.first, below.first);
      c.count += below.count, c.lat += below.lat, c.lon += below.lon;
    }
  return levels;
}

void put_levels(Blob &blob, const std::vector<Shown> &shown) {
  std::vector<Level> levels = cell_levels(shown);
  size_t cells = 0;
  for (const Level &level : levels)
    cells += level.size();
  nlohmann::json starts = nlohmann::json::array();
  blob.begin("cells", cells * 5);
  for (const Level &level : levels) {
    starts.push_back((blob.bytes.size() - blob.sections["cells"][0].get<size_t>()) / 20);
    for (const auto &[key, c] : level) {
      blob.put(c.count);
      blob.put(std::lround(c.lat / double(c.count)));
      blob.put(std::lround(c.lon / double(c.count)));
      blob.put(c.single);
      blob.put(c.first);
    }
  }
  starts.push_back(cells);
  blob.sections["levels"] = starts; // each zoom's first cell, and the end
}

// JSON text of any value, its invalid UTF-8 replaced.
std::string text_of(const nlohmann::json &value) {
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// A text as the lengths of what it shares with the one before at its
// start and at its end (characters counting from '0'; ASCII alone, so that
// the page counts the same) and the rest between: names in capture-time
// order mostly differ in a few characters before the same extension.
void append_shared(std::string &array, const std::string &text, std::string &before) {
  constexpr size_t kMostShared = '~' - '0';
  auto ascii = [](char c) { return (c & 0x80) == 0; };
  size_t head = 0, tail = 0, most = std::min({text.size(), before.size(), kMostShared});
  while (head < most && text[head] == before[head] && ascii(text[head]))
    head++;
  most = std::min({text.size() - head, before.size() - head, kMostShared});
  while (tail < most && text[text.size() - 1 - tail] == before[before.size() - 1 - tail] && ascii(before[before.size() - 1 - tail]))
    tail++;
  if (array.size() > 1)
    array += ',';
  array += text_of(std::string{char('0' + head), char('0' + tail)} + text.substr(head, text.size() - head - tail));
  before = text;
}

// The pictures' capture times: each as the seconds from the one before,
// one more, 0 for a text that is no such time, which comes next in
// untimed. Pictures come in capture-time order: mostly minutes apart.
void put_times(Blob &blob, const std::vector<Shown> &shown, size_t pictures, nlohmann::json &untimed) {
  blob.begin("times", pictures);
  int64_t before = 0;
  for (size_t k = 0; k < pictures; k++) {
    std::optional<int64_t> seconds = CaptureSeconds(shown[k].taken);
    if (!seconds) {
      blob.put_varint(0), untimed.push_back(shown[k].taken);
      continue;
    }
    blob.put_varint(zigzag(*seconds - before) + 1);
    before = *seconds;
  }
  blob.end_varints("times");
}

// A column of positions as runs: the first position of each and its value.
// Pictures in capture-time order come a folder, and a town, at a time.
void put_runs(Blob &blob, const char *name, const std::vector<int32_t> &value_of) {
  size_t count = 0;
  for (size_t k = 0; k < value_of.size(); k++)
    if (k == 0 || value_of[k] != value_of[k - 1])
      count++;
  blob.begin(name, 2 * count);
  for (size_t k = 0; k < value_of.size(); k++)
    if (k == 0 || value_of[k] != value_of[k - 1])
      blob.put(int64_t(k)), blob.put(value_of[k]);
}

} // namespace

std::string Base64(std::string_view bytes) {
  std::string text(BASE64_ENCODE_RAW_LENGTH(bytes.size()), '\0');
  base64_encode_raw(text.data(), bytes.size(), reinterpret_cast<const uint8_t *>(bytes.data()));
  return text;
}

std::string ScriptSafe(const std::string &json) {
  std::string safe;
  safe.reserve(json.size());
  for (char c : json)
    c == '<' ? safe.append("\\u003c") : safe.append(1, c);
  return safe;
}

EmbeddedLibrary EmbedLibrary(const PositionFeed &each, const Thumbnails &thumbnails) {
  Gathered g;
  each([&](const Position &p) { gather(g, p); });
  std::vector<Shown> &shown = g.shown;
  sort_shown(shown);
  std::string names = "[", name_before;
  nlohmann::json thumbs = nlohmann::json::object(), altitudes = nlohmann::json::object(), untimed = nlohmann::json::array();
  Blob blob;
  put_steps(blob, "lat", shown, &Shown::lat);
  put_steps(blob, "lon", shown, &Shown::lon);
  std::vector<int32_t> folder_of(shown.size()), town_of(shown.size());
  for (size_t k = 0; k < shown.size(); k++) {
    append_shared(names, shown[k].name, name_before);
    auto thumbnail = thumbnails.find(shown[k].index);
    if (thumbnail != thumbnails.end() && !thumbnail->second.thumbnail.empty())
      thumbs[std::to_string(k)] = thumbnail->second.thumbnail;
    if (thumbnail != thumbnails.end() && thumbnail->second.altitude)
      altitudes[std::to_string(k)] = *thumbnail->second.altitude;
    folder_of[k] = shown[k].folder, town_of[k] = shown[k].town;
  }
  put_runs(blob, "folders", folder_of);
  put_runs(blob, "towns", town_of);
  put_levels(blob, shown);
  auto pictures = std::partition_point(shown.begin(), shown.end(), [](const Shown &s) { return s.folder != kNoOne; });
  put_times(blob, shown, size_t(pictures - shown.begin()), untimed);
  nlohmann::json counts = {g.pictures, g.places.size(), g.lone};
  std::string head = "{\"n\":" + counts.dump() + ",\"f\":" + text_of(g.folders) + ",\"t\":" + text_of(g.towns) + ",\"names\":" + names +
                     "],\"taken\":" + text_of(untimed) + ",\"s\":" + blob.sections.dump() + "}";
  thumbs["a"] = altitudes;
  return {ScriptSafe(head), Base64(blob.bytes), ScriptSafe(text_of(thumbs))};
}

std::string FolderOf(const Position &p) {
  const std::string &where = p.path.empty() ? p.href : p.path;
  size_t slash = where.rfind('/');
  return slash == std::string::npos ? "" : where.substr(0, slash + 1);
}
