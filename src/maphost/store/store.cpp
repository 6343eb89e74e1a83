#include "maphost/store/store.h"

#include <algorithm>
#include <utility>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "maphost/places/place.h"
#include "maphost/store/mercator.h"
#include "platform/own_file.h"

namespace {

constexpr size_t kMostCellChanges = 1 << 18; // about 16 MB

// The counts kept with the positions, each written at every commit.
struct CountFact {
  const char *name;
  size_t Store::*count;
};
constexpr CountFact kCountFacts[] = {{"pictures", &Store::picture_count},
                                     {"lone waypoints", &Store::lone_waypoints},
                                     {"places", &Store::places}};

void take_in(Store &store, MapPoint point) {
  store.least = MapPoint{std::min(store.least.x, point.x), std::min(store.least.y, point.y)};
  store.most = MapPoint{std::max(store.most.x, point.x), std::max(store.most.y, point.y)};
}

// A big-endian 32-bit number of an R*Tree node.
int32_t node_number(const unsigned char *at) {
  return static_cast<int32_t>(uint32_t(at[0]) << 24 | uint32_t(at[1]) << 16 | uint32_t(at[2]) << 8 | at[3]);
}

// The box of the spot index's root: the box of every position in it. The
// root node is two bytes of depth, two of its count, and its cells: an
// 8-byte id and x0, x1, y0, y1.
void read_bounds(Store &store) {
  store.least = MapPoint{kWorldSide, kWorldSide}, store.most = MapPoint{-1, -1};
  Statement root = Prepare(store.db.get(), "SELECT data FROM spot_node WHERE nodeno = 1");
  if (sqlite3_step(root.get()) != SQLITE_ROW)
    return;
  auto node = static_cast<const unsigned char *>(sqlite3_column_blob(root.get(), 0));
  size_t size = static_cast<size_t>(sqlite3_column_bytes(root.get(), 0)), cell = 8 + 4 * 4;
  size_t count = size >= 4 ? size_t(node[2]) << 8 | node[3] : 0;
  for (size_t i = 0; i < count && 4 + (i + 1) * cell <= size; i++) {
    const unsigned char *at = node + 4 + i * cell + 8;
    take_in(store, MapPoint{node_number(at), node_number(at + 8)});
    take_in(store, MapPoint{node_number(at + 4), node_number(at + 12)});
  }
}

// Reads the counts of what the database holds.
void count_positions(Store &store) {
  sqlite3_stmt *s = Bound(store.sql.counts);
  if (sqlite3_step(s) == SQLITE_ROW) {
    store.position_count = static_cast<size_t>(ColumnNumber(s, 0));
    store.event_count = static_cast<size_t>(ColumnNumber(s, 1));
  }
  sqlite3_reset(s);
  store.spots_written = store.event_count;
  read_bounds(store);
  for (const CountFact &fact : kCountFacts)
    store.*fact.count = static_cast<size_t>(FirstNumber(Bound(store.sql.fact, fact.name)));
}

bool write_counts(Store &store) {
  bool written = true;
  for (const CountFact &fact : kCountFacts) {
    sqlite3_stmt *s = Bound(store.sql.set_fact, fact.name, store.*fact.count);
    written = sqlite3_step(s) == SQLITE_DONE && written;
    sqlite3_reset(s);
  }
  return written;
}

} // namespace

void WriteMapIndex(Store &store) {
  WriteCellChanges(store.cells, store.sql.upsert_cell);
  if (store.spots_written == store.event_count)
    return;
  sqlite3_step(Bound(store.sql.refresh_spots, store.spots_written));
  sqlite3_reset(store.sql.refresh_spots.get());
  store.spots_written = store.event_count;
}

namespace {

Position position_of(sqlite3_stmt *row) {
  Position p{ColumnNumber(row, kPicture) != 0, ColumnText(row, kLatitude), ColumnText(row, kLongitude),
             ColumnText(row, kName), ColumnText(row, kPath), ColumnText(row, kHref), ColumnText(row, kRaw),
             static_cast<uint64_t>(ColumnNumber(row, kDevice)), static_cast<uint64_t>(ColumnNumber(row, kInode))};
  p.partner = ColumnNumber(row, kPartner);
  p.taken = ColumnText(row, kTaken);
  return p;
}

// Opens a transaction unless one is open: it lasts until the next commit.
bool begin_writing(Store &store) {
  if (!store.writing)
    store.writing = RunSql(store.db.get(), "BEGIN");
  return store.writing;
}

bool put_position(Store &store, size_t index, const Position &p, MapPoint point, bool placed) {
  sqlite3_stmt *s = Bound(store.sql.put, index, p.picture, p.latitude, p.longitude, p.name, p.path, p.href,
                          p.raw, p.device, p.inode, store.event_count, placed ? point.x : -1,
                          placed ? point.y : -1, p.partner, p.taken, p.picture ? PlaceKeyOf(p.latitude, p.longitude) : "");
  bool done = begin_writing(store) && sqlite3_step(s) == SQLITE_DONE;
  sqlite3_reset(s);
  return done;
}

// Whether the store keeps this very position already. Else, for a picture
// it keeps at another place, its index, and the old place in old.
bool kept_already(Store &store, Position &position, size_t &index, Position &old) {
  if (!position.picture)
    return FirstNumber(Bound(store.sql.find_waypoint, position.name, position.latitude,
                              position.longitude)) != 0;
  sqlite3_stmt *s = Bound(store.sql.find_picture, position.href);
  bool same = false;
  if (sqlite3_step(s) == SQLITE_ROW) {
    index = static_cast<size_t>(ColumnNumber(s, 0));
    old.latitude = ColumnText(s, 1);
    old.longitude = ColumnText(s, 2);
    same = old.latitude == position.latitude && old.longitude == position.longitude &&
           static_cast<uint64_t>(ColumnNumber(s, 3)) == position.device &&
           static_cast<uint64_t>(ColumnNumber(s, 4)) == position.inode;
    position.partner = ColumnNumber(s, 5); // a picture moved keeps its waypoint
    position.taken = ColumnText(s, 6);
  }
  sqlite3_reset(s);
  return same;
}

// Pairs a new position with the first of the other kind at its place that
// has no partner yet: the waypoint pintrail sends of a picture's capture
// time comes with it. A picture that finds none takes the time of the
// waypoint before it at its place, one kept already.
void pair(Store &store, size_t index, Position &position, const Position &before) {
  sqlite3_stmt *s = Bound(store.sql.find_partner, position.latitude, position.longitude, !position.picture);
  if (sqlite3_step(s) == SQLITE_ROW) {
    position.partner = ColumnNumber(s, 0);
    if (position.picture)
      position.taken = ColumnText(s, 1);
  }
  sqlite3_reset(s);
  if (position.picture && position.partner < 0 && before.latitude == position.latitude &&
      before.longitude == position.longitude)
    position.taken = before.name;
  if (position.partner < 0)
    return;
  sqlite3_step(Bound(store.sql.set_partner, index, position.picture ? "" : position.name, position.partner));
  sqlite3_reset(store.sql.set_partner.get());
}

// Counts a picture in or out of its place.
void count_place(Store &store, const Position &picture, int sign) {
  int64_t now = FirstNumber(Bound(store.sql.count_place, picture.latitude, picture.longitude, sign));
  store.places += sign > 0 ? now == 1 : -(now == 0);
}

// Counts a position in or out of the map: its place and its cells.
void count_on_map(Store &store, const Position &position, int sign) {
  double lat, lon;
  if (position.picture)
    count_place(store, position, sign);
  if (DegreesOf(position.latitude, position.longitude, lat, lon))
    CountInCells(store.cells, MapPointOf(lat, lon), lat, lon, sign);
  // Reading a large GPX file in would otherwise gather a change for every
  // cell it touches before its one commit.
  if (store.cells.size() >= kMostCellChanges)
    WriteCellChanges(store.cells, store.sql.upsert_cell);
}

// Waits, the lock held, until ready() or timeout, counted as waiting for
// the next position.
template <typename Ready>
void wait_for_events(Store &store, std::unique_lock<std::mutex> &hold,
                     std::chrono::milliseconds timeout, Ready ready) {
  store.event_waiters++;
  store.changed.wait_for(hold, timeout, ready);
  store.event_waiters--;
}

} // namespace

Store::Store() : db(OpenDatabase(":memory:", nullptr)) {
  if (db)
    PrepareStore(db.get(), sql);
}

bool OpenStoreFile(Store &store, const std::string &path, std::string *why) {
  Descriptor own(OpenOwnFile(path, O_RDWR | O_CREAT, "store", why));
  struct stat log;
  if (own.fd >= 0 && lstat((path + "-wal").c_str(), &log) == 0 &&
      (!S_ISREG(log.st_mode) || log.st_uid != geteuid() || log.st_nlink != 1)) {
    *why = path + "-wal is not this user's store; it is left as it is";
    return false;
  }
  if (own.fd < 0)
    return false;
  own.reset(-1); // before SQLite locks it: closing a descriptor drops the process's locks
  Database db = OpenDatabase(path, why);
  StoreStatements sql;
  if (!db)
    return false;
  // The log is cut back to 64 MiB after each checkpoint. Up to 128 MiB of
  // pages are cached: with half that, a million positions sent in no
  // order of place rewrite their index pages many times over between
  // commits, and the disk takes five times their files' size, not 2.5.
  if (!RunSql(db.get(), "PRAGMA locking_mode = EXCLUSIVE; PRAGMA synchronous = FULL;"
                        " PRAGMA journal_mode = WAL; PRAGMA journal_size_limit = 67108864;"
                        " PRAGMA cache_size = -131072;") ||
      !PrepareStore(db.get(), sql)) {
    *why = path + " is not a store of this host; it is left as it is";
    return false;
  }
  std::lock_guard<std::mutex> hold(store.lock);
  store.sql = std::move(sql);
  store.db = std::move(db);
  store.writing = false;
  count_positions(store);
  return true;
}

namespace {

// KeepPosition, the locks held; journal: the position is not in the journal yet.
Kept keep(Store &store, Position &position, bool from_file, bool journal) {
  size_t index = store.position_count;
  Position old;
  bool same = !from_file && kept_already(store, position, index, old);
  Position before = std::exchange(store.repeated, same && !position.picture ? position : Position{});
  if (same)
    return Kept::Same;
  if (journal && store.journal && !AppendJournal(*store.journal, position))
    return Kept::Lost;
  bool added = index == store.position_count;
  if (added)
    pair(store, index, position, before);
  MapPoint point;
  bool placed = MapPointOf(position.latitude, position.longitude, point);
  if (!put_position(store, index, position, point, placed))
    return Kept::Lost;
  if (placed)
    take_in(store, point);
  if (!added) {
    old.picture = true;
    count_on_map(store, old, -1);
  }
  // A picture that finds its waypoint takes its place on the map.
  bool shown = position.picture || position.partner < 0;
  if (shown && !(added && position.picture && position.partner >= 0))
    count_on_map(store, position, 1);
  else if (position.picture)
    count_place(store, position, 1);
  if (added) {
    store.position_count++;
    store.picture_count += position.picture;
    store.lone_waypoints += !position.picture && position.partner < 0;
    store.lone_waypoints -= position.picture && position.partner >= 0;
  }
  store.event_count++;
  if (store.event_waiters > 0)
    store.changed.notify_all();
  return Kept::Changed;
}

} // namespace

Kept KeepPosition(Store &store, Position position, bool from_file) {
  std::lock_guard<std::mutex> journal(store.journal_lock);
  std::lock_guard<std::mutex> hold(store.lock);
  return keep(store, position, from_file, true);
}

bool JournalPosition(Store &store, const Position &position) {
  std::lock_guard<std::mutex> journal(store.journal_lock);
  if (store.journal && !AppendJournal(*store.journal, position))
    return false;
  store.journalled++;
  return true;
}

void KeepJournalled(Store &store, Position position) {
  std::lock_guard<std::mutex> hold(store.lock);
  keep(store, position, false, false);
  store.taken_in++;
  if (store.settle_waiters > 0)
    store.changed.notify_all();
}

namespace {

// The store's lock, once the positions journalled before are kept.
std::unique_lock<std::mutex> settled_lock(Store &store, size_t journalled) {
  std::unique_lock<std::mutex> hold(store.lock);
  store.settle_waiters++;
  store.changed.wait(hold, [&] { return store.taken_in >= journalled; });
  store.settle_waiters--;
  return hold;
}

} // namespace

std::unique_lock<std::mutex> SettledLock(Store &store) { return settled_lock(store, store.journalled); }

bool CommitStore(Store &store) {
  // Nothing is journalled meanwhile, and all that was is taken in first.
  std::lock_guard<std::mutex> journal(store.journal_lock);
  std::unique_lock<std::mutex> hold = settled_lock(store, store.journalled);
  if (store.writing) {
    WriteMapIndex(store);
    if (!write_counts(store) || !RunSql(store.db.get(), "COMMIT"))
      return false;
    store.writing = false;
  }
  if (store.journal)
    ClearJournal(*store.journal);
  return true;
}

std::string StoreError(Store &store) {
  std::lock_guard<std::mutex> hold(store.lock);
  return store.db ? sqlite3_errmsg(store.db.get()) : "out of memory";
}

void ClearStore(Store &store) {
  std::lock_guard<std::mutex> hold(store.lock);
  if (begin_writing(store))
    RunSql(store.db.get(), "DELETE FROM position; DELETE FROM cell; DELETE FROM place; DELETE FROM spot;");
  store.position_count = store.picture_count = store.event_count = 0;
  store.lone_waypoints = store.places = store.spots_written = 0;
  store.least = MapPoint{kWorldSide, kWorldSide}, store.most = MapPoint{-1, -1};
  store.cells.clear();
}

std::string StoreFact(Store &store, const char *name) {
  std::lock_guard<std::mutex> hold(store.lock);
  sqlite3_stmt *s = Bound(store.sql.fact, name);
  std::string value = sqlite3_step(s) == SQLITE_ROW ? ColumnText(s, 0) : "";
  sqlite3_reset(s);
  return value;
}

void SetStoreFact(Store &store, const char *name, const std::string &value) {
  std::lock_guard<std::mutex> hold(store.lock);
  sqlite3_stmt *s = Bound(store.sql.set_fact, name, value);
  if (begin_writing(store))
    sqlite3_step(s);
  sqlite3_reset(s);
}

StoreCounts CountsOf(Store &store) {
  std::unique_lock<std::mutex> hold = SettledLock(store);
  return StoreCounts{store.position_count - store.picture_count, store.picture_count, store.lone_waypoints,
                     store.places, store.event_count};
}

bool BoundsOf(Store &store, MapPoint &least, MapPoint &most) {
  std::unique_lock<std::mutex> hold = SettledLock(store);
  least = store.least, most = store.most;
  return most.x >= 0;
}

bool PositionAt(Store &store, size_t index, Position &position) {
  std::unique_lock<std::mutex> hold = SettledLock(store);
  sqlite3_stmt *s = Bound(store.sql.at, index);
  bool found = sqlite3_step(s) == SQLITE_ROW;
  if (found)
    position = position_of(s);
  sqlite3_reset(s);
  return found;
}

bool PictureAt(Store &store, size_t index, Position &picture) {
  Position position;
  if (!PositionAt(store, index, position) || !position.picture)
    return false;
  picture = std::move(position);
  return true;
}

size_t VisitPositions(Store &store, size_t from, size_t end, bool by_events, const PositionVisit &visit) {
  std::unique_lock<std::mutex> hold = SettledLock(store);
  end = std::min(end, by_events ? store.event_count : store.position_count);
  if (from >= end)
    return from;
  sqlite3_stmt *s = Bound(by_events ? store.sql.from_event : store.sql.from_index, from, end);
  while (sqlite3_step(s) == SQLITE_ROW) {
    Position position = position_of(s);
    auto index = static_cast<uint32_t>(ColumnNumber(s, 0));
    auto changed_at = static_cast<uint32_t>(ColumnNumber(s, kChangedAt));
    if (!visit(StoredPosition{index, position, changed_at})) {
      end = by_events ? changed_at : index;
      break;
    }
  }
  sqlite3_reset(s);
  return end;
}

void EachPosition(Store &store, const std::function<void(const Position &)> &visit) {
  constexpr size_t kSlice = 20000;
  std::vector<Position> slice;
  auto copy = [&](const StoredPosition &stored) {
    slice.push_back(stored.position);
    return true;
  };
  // Each slice is copied under the lock and visited without it.
  for (size_t from = 0, next; (next = VisitPositions(store, from, from + kSlice, false, copy)) != from; slice.clear()) {
    from = next;
    std::for_each(slice.begin(), slice.end(), visit);
  }
}

std::vector<Position> AllPositions(Store &store) {
  std::vector<Position> positions;
  EachPosition(store, [&](const Position &position) { positions.push_back(position); });
  return positions;
}

size_t WaitForChangesSince(Store &store, size_t seen, std::chrono::milliseconds timeout,
                           const std::atomic<bool> &stop) {
  std::unique_lock<std::mutex> hold(store.lock);
  wait_for_events(store, hold, timeout, [&] { return stop || store.event_count > seen; });
  return store.event_count;
}

bool PauseUnlessRaised(Store &store, std::chrono::milliseconds timeout, const std::atomic<bool> &stop) {
  std::unique_lock<std::mutex> hold(store.lock);
  store.changed.wait_for(hold, timeout, [&] { return stop.load(); });
  return stop.load();
}

void RaiseUnderLock(Store &store, std::atomic<bool> &flag) {
  std::lock_guard<std::mutex> hold(store.lock);
  flag = true;
  store.changed.notify_all();
}

void AttachJournal(Store &store, Journal &journal) {
  std::lock_guard<std::mutex> hold(store.journal_lock);
  store.journal = &journal;
}
