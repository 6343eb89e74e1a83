#include "maphost/store/query.h"

#include <algorithm>
#include <map>

namespace {

constexpr int64_t kMostListed = 1000;

// The cell's one shown position.
int64_t single_in(Store &store, int zoom, int32_t x, int32_t y) {
  sqlite3_stmt *s = Bound(store.sql.spots_in_view, CellStart(x, zoom), CellStart(x + 1, zoom) - 1,
                          CellStart(y, zoom), CellStart(y + 1, zoom) - 1);
  int64_t single = sqlite3_step(s) == SQLITE_ROW ? ColumnNumber(s, 0) : -1;
  sqlite3_reset(s);
  return single;
}

// From the cells kept for the zooms of the wider views.
std::vector<Cluster> kept_cells(Store &store, int zoom, MapPoint from, MapPoint to) {
  std::vector<Cluster> clusters;
  sqlite3_stmt *s = Bound(store.sql.cells_in_view, zoom, CellOf(from.x, zoom), CellOf(to.x, zoom),
                          CellOf(from.y, zoom), CellOf(to.y, zoom));
  while (sqlite3_step(s) == SQLITE_ROW) {
    Cluster c{int32_t(ColumnNumber(s, 0)), int32_t(ColumnNumber(s, 1)), size_t(ColumnNumber(s, 2)), 0, 0, -1};
    c.latitude = sqlite3_column_double(s, 3) / double(c.count);
    c.longitude = sqlite3_column_double(s, 4) / double(c.count);
    clusters.push_back(c);
  }
  sqlite3_reset(s);
  for (Cluster &c : clusters)
    if (c.count == 1)
      c.single = single_in(store, zoom, c.x, c.y);
  return clusters;
}

// Made from the positions in view, for the zooms close in.
std::vector<Cluster> cells_of_spots(Store &store, int zoom, MapPoint from, MapPoint to) {
  std::map<std::pair<int32_t, int32_t>, Cluster> cells;
  sqlite3_stmt *s = Bound(store.sql.spots_in_view, CellStart(CellOf(from.x, zoom), zoom),
                          CellStart(CellOf(to.x, zoom) + 1, zoom) - 1, CellStart(CellOf(from.y, zoom), zoom),
                          CellStart(CellOf(to.y, zoom) + 1, zoom) - 1);
  while (sqlite3_step(s) == SQLITE_ROW) {
    int32_t x = CellOf(int32_t(ColumnNumber(s, 1)), zoom), y = CellOf(int32_t(ColumnNumber(s, 2)), zoom);
    Cluster &c = cells.try_emplace({x, y}, Cluster{x, y, 0, 0, 0, ColumnNumber(s, 0)}).first->second;
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

} // namespace

std::vector<Cluster> ClustersInView(Store &store, int zoom, MapPoint north_west, MapPoint south_east) {
  zoom = std::clamp(zoom, 0, kDeepestZoom);
  std::lock_guard<std::mutex> hold(store.lock);
  WriteMapIndex(store);
  return zoom < kCellZooms ? kept_cells(store, zoom, north_west, south_east)
                           : cells_of_spots(store, zoom, north_west, south_east);
}

ListPage ListPictures(Store &store, ListOrder order, const std::string &search, size_t from, size_t count) {
  const Statement &listed = order == ListOrder::Time   ? store.sql.list_by_time
                            : order == ListOrder::Name ? store.sql.list_by_name
                                                       : store.sql.list_by_folder;
  std::string pattern = like_pattern(search);
  std::lock_guard<std::mutex> hold(store.lock);
  ListPage page;
  page.total = pattern.empty() ? store.picture_count
                               : static_cast<size_t>(FirstNumber(Bound(store.sql.list_matches, pattern)));
  sqlite3_stmt *s = Bound(listed, pattern, std::min<int64_t>(int64_t(count), kMostListed), from);
  while (sqlite3_step(s) == SQLITE_ROW)
    page.indexes.push_back(ColumnNumber(s, 0));
  sqlite3_reset(s);
  return page;
}
