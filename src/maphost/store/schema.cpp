#include "maphost/store/schema.h"

#include "maphost/places/place.h"

namespace {

// x and y: the position on the web map (mercator.h), -1 when it is not a
// number; partner: the picture of a waypoint at its place, or the waypoint
// of a picture (-1: none); taken: the name of a picture's waypoint, its
// capture time; place: the town a picture was taken in or by. cell: the clusters (cells.h); place: pictures at each
// place; spot: every position on the map, by place.
// Statement journals stay in memory: on disk, each would cost a write.
constexpr const char *kSchema = R"(
PRAGMA temp_store = MEMORY;
CREATE TABLE IF NOT EXISTS position(id INTEGER PRIMARY KEY, picture INTEGER NOT NULL,
  latitude TEXT NOT NULL, longitude TEXT NOT NULL, name TEXT NOT NULL, path TEXT NOT NULL,
  href TEXT NOT NULL, raw TEXT NOT NULL, device INTEGER NOT NULL, inode INTEGER NOT NULL,
  changed_at INTEGER NOT NULL, x INTEGER NOT NULL, y INTEGER NOT NULL, partner INTEGER NOT NULL,
  taken TEXT NOT NULL, place TEXT NOT NULL DEFAULT '');
CREATE INDEX IF NOT EXISTS picture_by_link ON position(href) WHERE picture;
CREATE INDEX IF NOT EXISTS waypoint_by_fix ON position(name, latitude, longitude) WHERE NOT picture;
CREATE INDEX IF NOT EXISTS position_by_change ON position(changed_at);
CREATE INDEX IF NOT EXISTS position_by_place ON position(latitude, longitude, picture, partner);
DROP INDEX IF EXISTS picture_by_time;
CREATE INDEX IF NOT EXISTS picture_by_when ON position(taken, id, x, y) WHERE picture;
CREATE INDEX IF NOT EXISTS picture_by_name ON position(name, id) WHERE picture;
CREATE INDEX IF NOT EXISTS picture_by_path ON position(path, id) WHERE picture;
CREATE INDEX IF NOT EXISTS picture_by_town ON position(place, taken, id) WHERE picture;
CREATE TABLE IF NOT EXISTS fact(name TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS cell(zoom INTEGER, x INTEGER, y INTEGER, count INTEGER NOT NULL,
  latitude REAL NOT NULL, longitude REAL NOT NULL, PRIMARY KEY (zoom, x, y)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS place(latitude TEXT, longitude TEXT, pictures INTEGER NOT NULL,
  PRIMARY KEY (latitude, longitude)) WITHOUT ROWID;
CREATE VIRTUAL TABLE IF NOT EXISTS spot USING rtree_i32(id, x0, x1, y0, y1);
)";

// Shown on the map: a picture, or a waypoint without one.
#define SHOWN "(p.picture OR p.partner < 0)"
// The search in parameter p (a LIKE pattern; empty: every picture) in the
// picture's path or town.
#define MATCHES(p) "(" p " = '' OR path LIKE " p " ESCAPE '\\' OR place LIKE " p " ESCAPE '\\')"
// Before the time in parameter p; empty: every time (each text sorts
// before a blob), and the time index still bounds the search.
#define UNTIL(p) "iif(" p " = '', X'', " p ")"
// when: the capture time, or +taken to keep SQLite off its index for a
// list in another order.
#define LISTED(when)                                                                          \
  "FROM position WHERE picture AND " MATCHES("?1") " AND " when " >= ?2" \
  " AND " when " < " UNTIL("?3") " "
// The pictures of a box, of a time and of a search.
#define FILTERED                                                                                   \
  "FROM position WHERE picture AND taken >= ?1 AND taken < " UNTIL("?2") " AND x BETWEEN ?3 AND ?4" \
  " AND y BETWEEN ?5 AND ?6 AND " MATCHES("?7") " "

std::string text_of(sqlite3_value *value) {
  const unsigned char *text = sqlite3_value_text(value);
  return text ? reinterpret_cast<const char *>(text) : "";
}

// place_key(latitude, longitude), for SQL.
void place_key(sqlite3_context *context, int, sqlite3_value **values) {
  std::string key = PlaceKeyOf(text_of(values[0]), text_of(values[1]));
  sqlite3_result_text(context, key.c_str(), int(key.size()), SQLITE_TRANSIENT);
}

// A store of the first version gets its pictures' places, one of the
// second has them named again, by country, region and town: in one pass,
// the index of places made again after it.
bool add_places(sqlite3 *db, int64_t version) {
  if (sqlite3_create_function(db, "place_key", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, place_key, nullptr,
                              nullptr) != SQLITE_OK)
    return false;
  bool named = RunSql(db, version == 1 ? "BEGIN; ALTER TABLE position ADD COLUMN place TEXT NOT NULL DEFAULT ''" : "BEGIN") &&
               RunSql(db, "DROP INDEX IF EXISTS picture_by_town;"
                          " UPDATE position SET place = place_key(latitude, longitude) WHERE picture");
  return named ? RunSql(db, "PRAGMA user_version = 3; COMMIT") : (RunSql(db, "ROLLBACK"), false);
}

} // namespace

bool PrepareStore(sqlite3 *db, StoreStatements &sql) {
  constexpr int64_t kVersion = 3; // of the tables; a store of another is not read
  Statement version = Prepare(db, "PRAGMA user_version");
  int64_t found = version ? FirstNumber(version.get()) : -1;
  version.reset(); // or ALTER TABLE finds the schema in use
  if ((found == 1 || found == 2) && !add_places(db, found))
    return false;
  if ((found != 0 && found != 1 && found != 2 && found != kVersion) || !RunSql(db, kSchema) ||
      !RunSql(db, "PRAGMA user_version = 3"))
    return false;
  sql = StoreStatements{
      Prepare(db, "SELECT id, latitude, longitude, device, inode, partner, taken FROM position"
                  " WHERE picture AND href = ? ORDER BY id LIMIT 1"),
      Prepare(db, "SELECT 1 FROM position WHERE NOT picture AND name = ? AND latitude = ? AND longitude = ?"),
      Prepare(db, "SELECT id, name FROM position WHERE latitude = ? AND longitude = ? AND picture = ?"
                  " AND partner < 0 ORDER BY id LIMIT 1"),
      Prepare(db, "REPLACE INTO position VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
      Prepare(db, "UPDATE position SET partner = ?, taken = ? WHERE id = ?"),
      Prepare(db, "INSERT INTO place VALUES (?, ?, ?3) ON CONFLICT DO UPDATE SET pictures = pictures + ?3"
                  " RETURNING pictures"),
      Prepare(db, "SELECT " POSITION_COLUMNS " FROM position WHERE id = ?"),
      Prepare(db, "SELECT " POSITION_COLUMNS " FROM position WHERE id >= ? AND id < ? ORDER BY id"),
      Prepare(db, "SELECT " POSITION_COLUMNS " FROM position WHERE changed_at >= ? AND changed_at < ?"
                  " ORDER BY changed_at"),
      Prepare(db, "SELECT value FROM fact WHERE name = ?"),
      Prepare(db, "REPLACE INTO fact VALUES (?, ?)"),
      Prepare(db, "SELECT (SELECT coalesce(max(id) + 1, 0) FROM position),"
                  " (SELECT coalesce(max(changed_at) + 1, 0) FROM position)"),
      Prepare(db, "INSERT INTO cell VALUES (?, ?, ?, ?, ?, ?) ON CONFLICT DO UPDATE SET"
                  " count = count + excluded.count, latitude = latitude + excluded.latitude,"
                  " longitude = longitude + excluded.longitude"),
      Prepare(db, "INSERT OR REPLACE INTO spot SELECT id, x, x, y, y FROM position"
                  " WHERE changed_at >= ? AND x >= 0"),
      Prepare(db, "SELECT x, y, count, latitude, longitude FROM cell WHERE zoom = ? AND x BETWEEN ? AND ?"
                  " AND y BETWEEN ? AND ? AND count > 0"),
      Prepare(db, "SELECT p.id, p.x, p.y, p.latitude, p.longitude, p.picture FROM spot s"
                  " JOIN position p ON p.id = s.id"
                  " WHERE s.x0 >= ? AND s.x1 <= ? AND s.y0 >= ? AND s.y1 <= ? AND " SHOWN),
      Prepare(db, "SELECT id " LISTED("taken") "ORDER BY taken, id LIMIT ?4 OFFSET ?5"),
      Prepare(db, "SELECT id " LISTED("+taken") "ORDER BY name, id LIMIT ?4 OFFSET ?5"),
      Prepare(db, "SELECT id " LISTED("+taken") "ORDER BY path, id LIMIT ?4 OFFSET ?5"),
      Prepare(db, "SELECT count(*) " LISTED("taken")),
      Prepare(db, "SELECT p.id, p.x, p.y, p.latitude, p.longitude, p.picture, p.taken FROM spot s"
                  " JOIN position p ON p.id = s.id WHERE s.x0 >= ? AND s.x1 <= ? AND s.y0 >= ? AND s.y1 <= ?"
                  " AND p.picture AND p.taken != '' ORDER BY p.taken, p.id"),
      Prepare(db, "SELECT p.id FROM spot s JOIN position p ON p.id = s.id WHERE s.x0 >= ? AND s.x1 <= ?"
                  " AND s.y0 >= ? AND s.y1 <= ? AND p.picture ORDER BY p.taken, p.id LIMIT ? OFFSET ?"),
      Prepare(db, "SELECT count(*) FROM spot s JOIN position p ON p.id = s.id WHERE s.x0 >= ? AND s.x1 <= ?"
                  " AND s.y0 >= ? AND s.y1 <= ? AND p.picture"),
      Prepare(db, "SELECT id, x, y, latitude, longitude, picture, taken " FILTERED "ORDER BY taken, id LIMIT ?8 OFFSET ?9"),
      Prepare(db, "SELECT count(*) " FILTERED),
      Prepare(db, "SELECT p.id, p.picture FROM spot s JOIN position p ON p.id = s.id WHERE s.x0 >= ? AND s.x1 <= ?"
                  " AND s.y0 >= ? AND s.y1 <= ? AND (p.picture OR (?5 AND p.partner < 0)) LIMIT 1"),
      Prepare(db, "SELECT taken FROM position WHERE picture AND taken > '' AND x BETWEEN ?1 AND ?2"
                  " AND y BETWEEN ?3 AND ?4 ORDER BY taken"),
      Prepare(db, "SELECT id " LISTED("+taken") "ORDER BY place, taken, id LIMIT ?4 OFFSET ?5")};
  return sql.list_by_town != nullptr;
}
