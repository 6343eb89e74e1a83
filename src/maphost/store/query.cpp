#include "maphost/store/query.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "maphost/places/towns.h"
#include "maphost/store/capture_time.h"

namespace {

constexpr int64_t kMostListed = 1000;
constexpr size_t kMostOrdered = 1000;
constexpr size_t kMostCovers = 60; // clusters of a view that get one: the page shows no more
constexpr double kDay = 86400, kFarKm = 500;

// The cell's one shown position, or a picture of its many for its cover.
void find_single(Store &store, int zoom, Cluster &c) {
  sqlite3_stmt *s = Bound(store.sql.first_in_cell, CellStart(c.x, zoom), CellStart(c.x + 1, zoom) - 1,
                          CellStart(c.y, zoom), CellStart(c.y + 1, zoom) - 1, c.count == 1);
  if (sqlite3_step(s) == SQLITE_ROW) {
    bool picture = ColumnNumber(s, 1) != 0;
    if (c.count == 1)
      c.single = ColumnNumber(s, 0), c.picture = picture;
    c.cover = picture ? ColumnNumber(s, 0) : -1;
  }
  sqlite3_reset(s);
}

// From the cells kept for the zooms of the wider views.
std::vector<Cluster> kept_cells(Store &store, int zoom, MapPoint from, MapPoint to) {
  std::vector<Cluster> clusters;
  sqlite3_stmt *s = Bound(store.sql.cells_in_view, zoom, CellOf(from.x, zoom), CellOf(to.x, zoom),
                          CellOf(from.y, zoom), CellOf(to.y, zoom));
  while (sqlite3_step(s) == SQLITE_ROW) {
    Cluster c{int32_t(ColumnNumber(s, 0)), int32_t(ColumnNumber(s, 1)), size_t(ColumnNumber(s, 2)), 0, 0, -1, false};
    c.latitude = sqlite3_column_double(s, 3) / double(c.count);
    c.longitude = sqlite3_column_double(s, 4) / double(c.count);
    clusters.push_back(c);
  }
  sqlite3_reset(s);
  for (Cluster &c : clusters)
    if (c.count == 1 || clusters.size() <= kMostCovers)
      find_single(store, zoom, c);
  return clusters;
}

// Made from the positions of a statement bound already (spots_in_view's
// columns), for the zooms close in and for a narrowed view.
std::vector<Cluster> cells_of_rows(sqlite3_stmt *s, int zoom) {
  std::map<std::pair<int32_t, int32_t>, Cluster> cells;
  while (sqlite3_step(s) == SQLITE_ROW) {
    int32_t x = CellOf(int32_t(ColumnNumber(s, 1)), zoom), y = CellOf(int32_t(ColumnNumber(s, 2)), zoom);
    Cluster &c = cells.try_emplace({x, y}, Cluster{x, y, 0, 0, 0, ColumnNumber(s, 0), ColumnNumber(s, 5) != 0})
                     .first->second;
    if (c.cover < 0 && ColumnNumber(s, 5))
      c.cover = ColumnNumber(s, 0);
    c.count++;
    c.latitude += strtod(reinterpret_cast<const char *>(sqlite3_column_text(s, 3)), nullptr);
    c.longitude += strtod(reinterpret_cast<const char *>(sqlite3_column_text(s, 4)), nullptr);
  }
  sqlite3_reset(s);
  std::vector<Cluster> clusters;
  for (auto &[cell, c] : cells) {
    c.latitude /= double(c.count);
    c.longitude /= double(c.count);
    c.single = c.count == 1 ? c.single : -1;
    clusters.push_back(c);
  }
  return clusters;
}

// The box of every cell at zoom that the box from north_west to south_east
// meets: a cluster counts all of its cell.
std::pair<MapPoint, MapPoint> whole_cells(int zoom, MapPoint north_west, MapPoint south_east) {
  return {MapPoint{CellStart(CellOf(north_west.x, zoom), zoom), CellStart(CellOf(north_west.y, zoom), zoom)},
          MapPoint{CellStart(CellOf(south_east.x, zoom) + 1, zoom) - 1, CellStart(CellOf(south_east.y, zoom) + 1, zoom) - 1}};
}

std::string like_pattern(const std::string &search) {
  if (search.empty())
    return "";
  std::string pattern = "%";
  for (char c : search) {
    if (c == '%' || c == '_' || c == '\\')
      pattern += '\\';
    pattern += c;
  }
  return pattern + "%";
}

// The pictures in the box that the filter lets through, in capture-time
// order: count of them (-1: all) from from on.
sqlite3_stmt *filtered_rows(Store &store, MapPoint from, MapPoint to, const Filter &f, int64_t count = -1,
                            size_t first = 0) {
  return Bound(store.sql.filtered, f.from, f.until, from.x, to.x, from.y, to.y, like_pattern(f.search), count, first);
}

} // namespace

bool Narrows(const Filter &filter) { return !filter.search.empty() || !filter.from.empty() || !filter.until.empty(); }

std::vector<Cluster> ClustersInView(Store &store, int zoom, MapPoint north_west, MapPoint south_east,
                                    const Filter &filter) {
  zoom = std::clamp(zoom, 0, kDeepestZoom);
  std::unique_lock<std::mutex> hold = SettledLock(store);
  WriteMapIndex(store);
  auto [from, to] = whole_cells(zoom, north_west, south_east);
  if (Narrows(filter))
    return cells_of_rows(filtered_rows(store, from, to, filter), zoom);
  return zoom < kCellZooms ? kept_cells(store, zoom, north_west, south_east)
                           : cells_of_rows(Bound(store.sql.spots_in_view, from.x, to.x, from.y, to.y), zoom);
}

ListPage ListPictures(Store &store, ListOrder order, const Filter &filter, size_t from, size_t count) {
  const Statement *orders[] = {&store.sql.list_by_time, &store.sql.list_by_name, &store.sql.list_by_folder,
                               &store.sql.list_by_town};
  const Statement &listed = *orders[int(order)];
  std::string pattern = like_pattern(filter.search);
  std::unique_lock<std::mutex> hold = SettledLock(store);
  ListPage page;
  page.total = !Narrows(filter) ? store.picture_count
                                : size_t(FirstNumber(Bound(store.sql.list_matches, pattern, filter.from, filter.until)));
  sqlite3_stmt *s = Bound(listed, pattern, filter.from, filter.until, std::min<int64_t>(int64_t(count), kMostListed), from);
  while (sqlite3_step(s) == SQLITE_ROW)
    page.indexes.push_back(ColumnNumber(s, 0));
  sqlite3_reset(s);
  return page;
}

ListPage PicturesInArea(Store &store, MapPoint north_west, MapPoint south_east, size_t from, size_t count,
                        const Filter &filter) {
  std::unique_lock<std::mutex> hold = SettledLock(store);
  WriteMapIndex(store);
  ListPage page;
  int64_t most = std::min<int64_t>(int64_t(count), kMostListed);
  sqlite3_stmt *s;
  if (Narrows(filter)) {
    page.total = size_t(FirstNumber(Bound(store.sql.filtered_count, filter.from, filter.until, north_west.x,
                                          south_east.x, north_west.y, south_east.y, like_pattern(filter.search))));
    s = filtered_rows(store, north_west, south_east, filter, most, from);
  } else {
    page.total = size_t(FirstNumber(Bound(store.sql.area_count, north_west.x, south_east.x, north_west.y, south_east.y)));
    s = Bound(store.sql.in_area, north_west.x, south_east.x, north_west.y, south_east.y, most, from);
  }
  while (sqlite3_step(s) == SQLITE_ROW)
    page.indexes.push_back(ColumnNumber(s, 0));
  sqlite3_reset(s);
  return page;
}

std::vector<DayCount> PicturesByDay(Store &store, MapPoint north_west, MapPoint south_east, const Filter &filter) {
  std::vector<DayCount> days;
  std::unique_lock<std::mutex> hold = SettledLock(store);
  int column = Narrows(filter) ? 6 : 0;
  sqlite3_stmt *s = Narrows(filter) ? filtered_rows(store, north_west, south_east, filter)
                                    : Bound(store.sql.days, north_west.x, south_east.x, north_west.y, south_east.y);
  while (sqlite3_step(s) == SQLITE_ROW) {
    std::string_view day = std::string_view(reinterpret_cast<const char *>(sqlite3_column_text(s, column))).substr(0, 10);
    if (!days.empty() && days.back().day == day)
      days.back().pictures++;
    else if (CaptureSeconds(std::string(day) + " 00:00:00"))
      days.push_back(DayCount{std::string(day), 1});
  }
  sqlite3_reset(s);
  return days;
}

namespace {

// A picture with a capture time, met in capture-time order; parted: the
// first, or a day or 500 km after the one before.
struct Step {
  int64_t index;
  MapPoint point;
  double latitude, longitude;
  const char *taken;
  bool parted;
};

// Visits the pictures with a capture time in the box in capture-time
// order; the lock held.
// A box a sixteenth of the world wide or more is read along the time index
// (in order already); a smaller one through the map index, then sorted.
template <typename Visit>
void in_time(Store &store, MapPoint north_west, MapPoint south_east, const Filter &filter, Visit visit) {
  bool wide = south_east.x - north_west.x >= kWorldSide / 16;
  sqlite3_stmt *s = Narrows(filter) || wide
                        ? filtered_rows(store, north_west, south_east, filter)
                        : Bound(store.sql.trail, north_west.x, south_east.x, north_west.y, south_east.y);
  double last_time = NAN, last_lat = 0, last_lon = 0;
  while (sqlite3_step(s) == SQLITE_ROW) {
    const char *taken = reinterpret_cast<const char *>(sqlite3_column_text(s, 6));
    std::optional<int64_t> time = CaptureSeconds(taken);
    double lat = strtod(reinterpret_cast<const char *>(sqlite3_column_text(s, 3)), nullptr);
    double lon = strtod(reinterpret_cast<const char *>(sqlite3_column_text(s, 4)), nullptr);
    if (!time)
      continue;
    bool parted = std::isnan(last_time) || double(*time) - last_time > kDay || Kilometres(last_lat, last_lon, lat, lon) > kFarKm;
    visit(Step{ColumnNumber(s, 0), MapPoint{int32_t(ColumnNumber(s, 1)), int32_t(ColumnNumber(s, 2))}, lat, lon, taken, parted});
    last_time = double(*time), last_lat = lat, last_lon = lon;
  }
  sqlite3_reset(s);
}

} // namespace

Trail TrailInView(Store &store, int zoom, MapPoint north_west, MapPoint south_east, const Filter &filter) {
  int pixel = std::clamp(zoom, 0, kDeepestZoom) + 6; // a cell's sixty-fourth
  Trail trail;
  std::unique_lock<std::mutex> hold = SettledLock(store);
  WriteMapIndex(store);
  int64_t last_x = -1, last_y = -1;
  in_time(store, north_west, south_east, filter, [&](const Step &step) {
    if (step.parted)
      trail.segments.emplace_back(), last_x = -1;
    int64_t x = CellOf(step.point.x, pixel), y = CellOf(step.point.y, pixel);
    if (x != last_x || y != last_y)
      trail.segments.back().insert(trail.segments.back().end(), {step.latitude, step.longitude});
    if (trail.order.size() < kMostOrdered)
      trail.order.push_back(step.index);
    last_x = x, last_y = y;
  });
  trail.segments.erase(std::remove_if(trail.segments.begin(), trail.segments.end(),
                                      [](const std::vector<double> &segment) { return segment.size() < 4; }),
                       trail.segments.end());
  return trail;
}

std::vector<Trip> TripsOf(Store &store) {
  std::vector<Trip> trips;
  std::unique_lock<std::mutex> hold = SettledLock(store);
  WriteMapIndex(store);
  in_time(store, MapPoint{0, 0}, MapPoint{kWorldSide - 1, kWorldSide - 1}, {}, [&](const Step &step) {
    if (step.parted)
      trips.push_back(Trip{step.taken, "", 0, step.latitude, step.longitude, step.latitude, step.longitude,
                           step.latitude, step.longitude});
    Trip &trip = trips.back();
    trip.last = step.taken;
    trip.pictures++;
    trip.south = std::min(trip.south, step.latitude), trip.north = std::max(trip.north, step.latitude);
    trip.west = std::min(trip.west, step.longitude), trip.east = std::max(trip.east, step.longitude);
  });
  return trips;
}
