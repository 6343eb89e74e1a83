// The store's tables and the statements it runs on them.
#pragma once

#include "maphost/store/database.h"

// The columns of a position row, in the order position rows are read.
#define POSITION_COLUMNS                                                                       \
  "id, picture, latitude, longitude, name, path, href, raw, device, inode, changed_at, x, y, " \
  "partner, taken"
enum PositionColumn { kId, kPicture, kLatitude, kLongitude, kName, kPath, kHref, kRaw, kDevice,
                      kInode, kChangedAt, kX, kY, kPartner, kTaken };

struct StoreStatements {
  Statement find_picture, find_waypoint, find_partner, put, set_partner, count_place;
  Statement at, from_index, from_event, fact, set_fact, counts;
  Statement upsert_cell, refresh_spots, cells_in_view, spots_in_view;
  Statement list_by_time, list_by_name, list_by_folder, list_matches, trail, in_area, area_count;
  Statement filtered, filtered_count, first_in_cell, days, list_by_town;
};

// Makes the tables on db unless it has them, and prepares the statements;
// false when db holds something else.
bool PrepareStore(sqlite3 *db, StoreStatements &sql);
