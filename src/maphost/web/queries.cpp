#include "maphost/web/queries.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "maphost/places/place.h"
#include "maphost/store/query.h"
#include "maphost/web/embedded.h"
#include "maphost/web/selection.h"

namespace {

using nlohmann::json;

constexpr size_t kMostRows = 1000;
constexpr size_t kMostTrips = 1000; // the latest

std::string dumped(const json &answer) { return answer.dump(-1, ' ', false, json::error_handler_t::replace); }

// A whole number from 0 to most; false for anything else.
bool number_of(const char *text, size_t most, size_t &number) {
  if (!text || !*text)
    return false;
  auto [end, error] = std::from_chars(text, text + strlen(text), number);
  return error == std::errc() && !*end && number <= most;
}

// A view: its zoom, and its box from its north-west corner to its
// south-east one.
struct View {
  int zoom;
  MapPoint from, to;
};

bool view_of(const std::function<const char *(const char *)> &argument, View &view) {
  size_t zoom;
  double west, south, east, north;
  const char *box = argument("b");
  if (!number_of(argument("z"), kDeepestZoom, zoom) || !box ||
      sscanf(box, "%lf,%lf,%lf,%lf", &west, &south, &east, &north) != 4 || !(west <= east && south <= north))
    return false;
  view = View{int(zoom), MapPointOf(north, west), MapPointOf(south, east)};
  return true;
}

// The search (q) and the capture times from t0 until before t1: any text,
// as each is compared with the times.
Filter filter_of(const std::function<const char *(const char *)> &argument) {
  const char *search = argument("q"), *from = argument("t0"), *until = argument("t1");
  return Filter{search ? search : "", from ? from : "", until ? until : ""};
}

std::string clusters(Store &store, const std::function<const char *(const char *)> &argument) {
  View view;
  if (!view_of(argument, view))
    return "";
  json found = json::array();
  for (const Cluster &c : ClustersInView(store, view.zoom, view.from, view.to, filter_of(argument)))
    found.push_back({c.latitude, c.longitude, c.count, c.single, c.picture, c.cover});
  return dumped({{"c", found}});
}

std::string trail(Store &store, const std::function<const char *(const char *)> &argument) {
  View view;
  if (!view_of(argument, view))
    return "";
  Trail trail = TrailInView(store, view.zoom, view.from, view.to, filter_of(argument));
  return dumped({{"s", trail.segments}, {"o", trail.order}});
}

std::string list(Store &store, const std::function<const char *(const char *)> &argument) {
  const char *order = argument("o");
  size_t from, count;
  if (!number_of(argument("from"), SIZE_MAX / 2, from) || !number_of(argument("n"), kMostRows, count))
    return "";
  std::string_view by = order ? order : "time";
  View area;
  const char *const orders[] = {"time", "name", "folder", "town"};
  auto known = std::find(std::begin(orders), std::end(orders), by);
  if (known == std::end(orders) || (argument("b") && !view_of(argument, area)))
    return "";
  ListOrder listed = ListOrder(known - std::begin(orders));
  ListPage page = argument("b") ? PicturesInArea(store, area.from, area.to, from, count, filter_of(argument))
                                : ListPictures(store, listed, filter_of(argument), from, count);
  json rows = json::array();
  for (int64_t index : page.indexes) {
    Position picture;
    if (PictureAt(store, size_t(index), picture))
      rows.push_back({index, picture.name, FolderOf(picture), PlaceOf(picture.latitude, picture.longitude)});
  }
  return dumped({{"total", page.total}, {"rows", rows}});
}

// Each day's pictures in view, as the search (not the times) narrows them.
std::string timeline(Store &store, const std::function<const char *(const char *)> &argument) {
  View view;
  if (!view_of(argument, view))
    return "";
  json days = json::array();
  for (const DayCount &d : PicturesByDay(store, view.from, view.to, Filter{filter_of(argument).search, "", ""}))
    days.push_back({d.day, d.pictures});
  return dumped({{"d", days}});
}

std::string position(Store &store, std::string_view number) {
  size_t index;
  Position p;
  std::string text(number);
  if (!number_of(text.c_str(), UINT32_MAX, index) || !PositionAt(store, index, p))
    return "";
  return dumped({{"i", index}, {"picture", p.picture}, {"name", p.name},
                 {"folder", p.picture ? FolderOf(p) : ""}, {"lat", strtod(p.latitude.c_str(), nullptr)},
                 {"lon", strtod(p.longitude.c_str(), nullptr)}, {"taken", p.taken},
                 {"town", PlaceOf(p.latitude, p.longitude)}});
}

std::string trips(Store &store) {
  std::vector<Trip> all = TripsOf(store);
  json found = json::array();
  for (size_t k = all.size() - std::min(all.size(), kMostTrips); k < all.size(); k++) {
    const Trip &t = all[k];
    found.push_back({t.first, t.last, t.pictures, t.south, t.west, t.north, t.east,
                     PlaceOf(std::to_string(t.first_latitude), std::to_string(t.first_longitude))});
  }
  return dumped({{"n", all.size()}, {"t", found}});
}

QueryAnswer selection(Store &store, const std::function<const char *(const char *)> &argument) {
  View area;
  SelectionFile file;
  const char *format = argument("f");
  if (!view_of(argument, area) || !format)
    return {};
  switch (ExportSelection(store, area.from, area.to, filter_of(argument), format, file)) {
  case Selected::Written: return QueryAnswer{std::move(file.bytes), file.type};
  case Selected::TooMany: return QueryAnswer{"", nullptr, "more than 100,000 pictures: select a smaller area"};
  default: return {};
  }
}

} // namespace

bool IsQuery(std::string_view path) {
  return path == "/clusters" || path == "/trail" || path == "/timeline" || path == "/list" || path == "/selection" || path == "/trips" ||
         path.substr(0, 10) == "/position/";
}

QueryAnswer AnswerQuery(Store &store, std::string_view path, const std::function<const char *(const char *)> &argument) {
  if (path == "/selection")
    return selection(store, argument);
  if (path == "/trips")
    return {trips(store)};
  if (path == "/clusters")
    return {clusters(store, argument)};
  if (path == "/trail")
    return {trail(store, argument)};
  if (path == "/timeline")
    return {timeline(store, argument)};
  if (path == "/list")
    return {list(store, argument)};
  return {position(store, path.substr(10))};
}
