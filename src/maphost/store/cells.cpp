#include "maphost/store/cells.h"

namespace {

uint64_t key_of(int zoom, int32_t x, int32_t y) {
  return uint64_t(zoom) << 58 | uint64_t(uint32_t(x)) << 29 | uint64_t(uint32_t(y));
}

} // namespace

void CountInCells(CellChanges &changes, MapPoint point, double latitude, double longitude, int sign) {
  for (int zoom = 0; zoom < kCellZooms; zoom++) {
    CellSum &sum = changes[key_of(zoom, CellOf(point.x, zoom), CellOf(point.y, zoom))];
    sum.count += sign;
    sum.latitude += sign * latitude;
    sum.longitude += sign * longitude;
  }
}

void WriteCellChanges(CellChanges &changes, const Statement &upsert) {
  constexpr uint64_t kCellMask = (uint64_t(1) << 29) - 1;
  for (const auto &[key, sum] : changes) {
    if (sum.count == 0 && sum.latitude == 0 && sum.longitude == 0)
      continue;
    sqlite3_step(Bound(upsert, key >> 58, (key >> 29) & kCellMask, key & kCellMask, sum.count,
                       sum.latitude, sum.longitude));
  }
  sqlite3_reset(upsert.get());
  changes.clear();
}
