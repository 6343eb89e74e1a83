// SQLite, held the RAII way: a connection and its prepared statements.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

#include <sqlite3.h>

struct CloseDatabase {
  void operator()(sqlite3 *db) const { sqlite3_close_v2(db); }
};
using Database = std::unique_ptr<sqlite3, CloseDatabase>;

struct FinalizeStatement {
  void operator()(sqlite3_stmt *statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, FinalizeStatement>;

// Opens the database file at path (":memory:": one in memory), never
// through a link; nullptr, with the reason, when it cannot be had.
Database OpenDatabase(const std::string &path, std::string *why);
// Runs statements that return no rows; false, with SQLite's reason.
bool RunSql(sqlite3 *db, const char *sql, std::string *why = nullptr);
// sql prepared to be run many times.
Statement Prepare(sqlite3 *db, const char *sql);

// A statement reset, its parameters bound from 1 in order: texts,
// real numbers and integers. It stays bound until the next Bound.
template <typename... Values>
sqlite3_stmt *Bound(const Statement &statement, const Values &...values) {
  sqlite3_stmt *s = statement.get();
  sqlite3_reset(s);
  int column = 0;
  auto bind = [&](const auto &value) {
    column++;
    if constexpr (std::is_convertible_v<decltype(value), std::string_view>) {
      std::string_view text(value);
      sqlite3_bind_text(s, column, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    } else if constexpr (std::is_floating_point_v<std::decay_t<decltype(value)>>) {
      sqlite3_bind_double(s, column, value);
    } else {
      sqlite3_bind_int64(s, column, static_cast<sqlite3_int64>(value));
    }
  };
  (bind(values), ...);
  (void)bind;
  return s;
}

// The first column of the first row of a statement, bound already, as a
// number; 0 for none.
int64_t FirstNumber(sqlite3_stmt *statement);
// Column i of the current row, as text (empty for NULL) and as a number.
std::string ColumnText(sqlite3_stmt *statement, int i);
int64_t ColumnNumber(sqlite3_stmt *statement, int i);
