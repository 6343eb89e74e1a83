// The map's clusters, kept as positions arrive: for each zoom up to
// kCellZooms - 1, each 64-pixel cell's count of shown positions (pictures,
// and waypoints without a picture) and the sums of their coordinates.
// Changes gather in memory and reach the database in one go.
#pragma once

#include <cstdint>
#include <unordered_map>

#include "maphost/store/database.h"
#include "maphost/store/mercator.h"

constexpr int kCellZooms = 13;

struct CellSum {
  int64_t count = 0;
  double latitude = 0, longitude = 0;
};
using CellChanges = std::unordered_map<uint64_t, CellSum>; // by zoom, cell x and cell y

// Counts a shown position in (sign 1) or out (sign -1) of its cells.
void CountInCells(CellChanges &changes, MapPoint point, double latitude, double longitude, int sign);
// Adds the changes to the table cell with upsert, a statement of
// "INSERT INTO cell ... ON CONFLICT", and forgets them.
void WriteCellChanges(CellChanges &changes, const Statement &upsert);
