#include "maphost/store/database.h"

Database OpenDatabase(const std::string &path, std::string *why) {
  sqlite3 *db = nullptr;
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX;
  int status = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  Database held(db); // closed, even when the open failed
  if (status != SQLITE_OK) {
    *why = path + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(status));
    return nullptr;
  }
  return held;
}

bool RunSql(sqlite3 *db, const char *sql, std::string *why) {
  char *error = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &error) == SQLITE_OK)
    return true;
  if (why)
    *why = error ? error : "out of memory";
  sqlite3_free(error);
  return false;
}

Statement Prepare(sqlite3 *db, const char *sql) {
  sqlite3_stmt *statement = nullptr;
  sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
  return Statement(statement);
}

std::string ColumnText(sqlite3_stmt *statement, int i) {
  const unsigned char *text = sqlite3_column_text(statement, i);
  return text ? std::string(reinterpret_cast<const char *>(text),
                            static_cast<size_t>(sqlite3_column_bytes(statement, i)))
              : std::string();
}

int64_t ColumnNumber(sqlite3_stmt *statement, int i) { return sqlite3_column_int64(statement, i); }

int64_t FirstNumber(sqlite3_stmt *statement) {
  int64_t number = sqlite3_step(statement) == SQLITE_ROW ? ColumnNumber(statement, 0) : 0;
  sqlite3_reset(statement);
  return number;
}
