#include "maphost/store/store.h"

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/own_file.h"

namespace {

constexpr const char *kSchema = R"(
CREATE TABLE IF NOT EXISTS position(id INTEGER PRIMARY KEY, picture INTEGER NOT NULL,
  latitude TEXT NOT NULL, longitude TEXT NOT NULL, name TEXT NOT NULL, path TEXT NOT NULL,
  href TEXT NOT NULL, raw TEXT NOT NULL, device INTEGER NOT NULL, inode INTEGER NOT NULL,
  changed_at INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS picture_by_link ON position(href) WHERE picture;
CREATE INDEX IF NOT EXISTS waypoint_by_fix ON position(name, latitude, longitude) WHERE NOT picture;
CREATE INDEX IF NOT EXISTS position_by_change ON position(changed_at);
CREATE TABLE IF NOT EXISTS fact(name TEXT PRIMARY KEY, value TEXT NOT NULL);
)";
#define POSITION_COLUMNS "id, picture, latitude, longitude, name, path, href, raw, device, inode, changed_at"

// The statements of the store on db; false when db holds no store of ours.
bool prepare(sqlite3 *db, StoreStatements &sql) {
  if (!RunSql(db, kSchema))
    return false;
  sql = StoreStatements{
      Prepare(db, "SELECT id, latitude, longitude, device, inode FROM position"
                  " WHERE picture AND href = ? ORDER BY id LIMIT 1"),
      Prepare(db, "SELECT 1 FROM position WHERE NOT picture AND name = ? AND latitude = ? AND longitude = ?"),
      Prepare(db, "REPLACE INTO position VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
      Prepare(db, "SELECT " POSITION_COLUMNS " FROM position WHERE id = ?"),
      Prepare(db, "SELECT " POSITION_COLUMNS " FROM position WHERE id >= ? AND id < ? ORDER BY id"),
      Prepare(db, "SELECT " POSITION_COLUMNS " FROM position WHERE changed_at >= ? AND changed_at < ?"
                  " ORDER BY changed_at"),
      Prepare(db, "SELECT value FROM fact WHERE name = ?"),
      Prepare(db, "REPLACE INTO fact VALUES (?, ?)"),
      Prepare(db, "SELECT (SELECT coalesce(max(id) + 1, 0) FROM position),"
                  " (SELECT coalesce(max(changed_at) + 1, 0) FROM position)")};
  return sql.counts != nullptr;
}

// The first result column of statement s, bound already; 0 for none.
int64_t first_number(sqlite3_stmt *s) {
  int64_t number = sqlite3_step(s) == SQLITE_ROW ? ColumnNumber(s, 0) : 0;
  sqlite3_reset(s);
  return number;
}

// Reads the counts of what the database holds.
void count_positions(Store &store) {
  sqlite3_stmt *s = Bound(store.sql.counts);
  if (sqlite3_step(s) == SQLITE_ROW) {
    store.position_count = static_cast<size_t>(ColumnNumber(s, 0));
    store.event_count = static_cast<size_t>(ColumnNumber(s, 1));
  }
  sqlite3_reset(s);
  sqlite3_stmt *fact = Bound(store.sql.fact, "pictures");
  store.picture_count = sqlite3_step(fact) == SQLITE_ROW ? static_cast<size_t>(ColumnNumber(fact, 0)) : 0;
  sqlite3_reset(fact);
}

Position position_of(sqlite3_stmt *row) {
  return Position{ColumnNumber(row, 1) != 0, ColumnText(row, 2), ColumnText(row, 3), ColumnText(row, 4),
                  ColumnText(row, 5), ColumnText(row, 6), ColumnText(row, 7),
                  static_cast<uint64_t>(ColumnNumber(row, 8)), static_cast<uint64_t>(ColumnNumber(row, 9))};
}

// Opens a transaction unless one is open: it lasts until the next commit.
bool begin_writing(Store &store) {
  if (!store.writing)
    store.writing = RunSql(store.db.get(), "BEGIN");
  return store.writing;
}

bool put_position(Store &store, size_t index, const Position &p) {
  sqlite3_stmt *s = Bound(store.sql.put, index, p.picture, p.latitude, p.longitude, p.name, p.path, p.href,
                          p.raw, p.device, p.inode, store.event_count);
  bool done = begin_writing(store) && sqlite3_step(s) == SQLITE_DONE;
  sqlite3_reset(s);
  return done;
}

// Whether the store keeps this very position already; else the index it
// takes.
bool kept_already(Store &store, const Position &position, size_t &index) {
  if (!position.picture)
    return first_number(Bound(store.sql.find_waypoint, position.name, position.latitude,
                              position.longitude)) != 0;
  sqlite3_stmt *s = Bound(store.sql.find_picture, position.href);
  bool same = false;
  if (sqlite3_step(s) == SQLITE_ROW) {
    index = static_cast<size_t>(ColumnNumber(s, 0));
    same = ColumnText(s, 1) == position.latitude && ColumnText(s, 2) == position.longitude &&
           static_cast<uint64_t>(ColumnNumber(s, 3)) == position.device &&
           static_cast<uint64_t>(ColumnNumber(s, 4)) == position.inode;
  }
  sqlite3_reset(s);
  return same;
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
    prepare(db.get(), sql);
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
  if (!RunSql(db.get(), "PRAGMA locking_mode = EXCLUSIVE; PRAGMA synchronous = FULL;"
                        " PRAGMA journal_mode = WAL;") ||
      !prepare(db.get(), sql)) {
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

Kept KeepPosition(Store &store, Position position, bool from_file) {
  std::lock_guard<std::mutex> hold(store.lock);
  size_t index = store.position_count;
  if (!from_file && kept_already(store, position, index))
    return Kept::Same;
  if (store.journal && !AppendJournal(*store.journal, position))
    return Kept::Lost;
  if (!put_position(store, index, position))
    return Kept::Lost;
  if (index == store.position_count) {
    store.position_count++;
    store.picture_count += position.picture;
  }
  store.event_count++;
  if (store.event_waiters > 0)
    store.changed.notify_all();
  return Kept::Changed;
}

bool CommitStore(Store &store) {
  std::lock_guard<std::mutex> hold(store.lock); // no position is journalled meanwhile
  if (store.writing) {
    sqlite3_stmt *s = Bound(store.sql.set_fact, "pictures", store.picture_count);
    bool counted = sqlite3_step(s) == SQLITE_DONE;
    sqlite3_reset(s);
    if (!counted || !RunSql(store.db.get(), "COMMIT"))
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
    RunSql(store.db.get(), "DELETE FROM position");
  store.position_count = store.picture_count = store.event_count = 0;
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
  std::lock_guard<std::mutex> hold(store.lock);
  return StoreCounts{store.position_count - store.picture_count, store.picture_count, store.event_count};
}

bool PictureAt(Store &store, size_t index, Position &picture) {
  std::lock_guard<std::mutex> hold(store.lock);
  sqlite3_stmt *s = Bound(store.sql.at, index);
  bool found = sqlite3_step(s) == SQLITE_ROW && ColumnNumber(s, 1) != 0;
  if (found)
    picture = position_of(s);
  sqlite3_reset(s);
  return found;
}

size_t VisitPositions(Store &store, size_t from, size_t end, bool by_events, const PositionVisit &visit) {
  std::lock_guard<std::mutex> hold(store.lock);
  end = std::min(end, by_events ? store.event_count : store.position_count);
  if (from >= end)
    return from;
  sqlite3_stmt *s = Bound(by_events ? store.sql.from_event : store.sql.from_index, from, end);
  while (sqlite3_step(s) == SQLITE_ROW) {
    Position position = position_of(s);
    auto index = static_cast<uint32_t>(ColumnNumber(s, 0));
    auto changed_at = static_cast<uint32_t>(ColumnNumber(s, 10));
    if (!visit(StoredPosition{index, position, changed_at})) {
      end = by_events ? changed_at : index;
      break;
    }
  }
  sqlite3_reset(s);
  return end;
}

std::vector<Position> AllPositions(Store &store) {
  constexpr size_t kSlice = 20000;
  std::vector<Position> positions;
  auto add = [&](const StoredPosition &stored) {
    positions.push_back(stored.position);
    return true;
  };
  for (size_t from = 0, next; (next = VisitPositions(store, from, from + kSlice, false, add)) != from;)
    from = next;
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
  std::lock_guard<std::mutex> hold(store.lock);
  store.journal = &journal;
}
