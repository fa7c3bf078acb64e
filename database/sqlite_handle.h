// Move-only owners of the two SQLite objects, and the one place where SQLite's
// result codes become Status values.
#ifndef ORLAN_DATABASE_SQLITE_HANDLE_H_
#define ORLAN_DATABASE_SQLITE_HANDLE_H_

#include <sqlite3.h>

#include <string>
#include <string_view>

#include "database/status.h"

namespace orlan {

// Owns a sqlite3 connection; closes it (sqlite3_close_v2) when destroyed.
// sqlite3_close_v2 leaves a connection with live statements as a zombie that
// SQLite frees when the last statement is finalized, so a Statement may
// outlive its Connection without touching freed memory.
class Connection {
 public:
  Connection() = default;
  explicit Connection(sqlite3* db) : db_(db) {}
  Connection(Connection&& other) noexcept : db_(other.release()) {}
  Connection& operator=(Connection&& other) noexcept;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection() { reset(); }

  sqlite3* get() const { return db_; }
  explicit operator bool() const { return db_ != nullptr; }
  sqlite3* release();
  void reset();

 private:
  sqlite3* db_ = nullptr;
};

// Owns a prepared statement; finalizes it when destroyed.
class Statement {
 public:
  Statement() = default;
  explicit Statement(sqlite3_stmt* stmt) : stmt_(stmt) {}
  Statement(Statement&& other) noexcept : stmt_(other.release()) {}
  Statement& operator=(Statement&& other) noexcept;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement() { reset(); }

  sqlite3_stmt* get() const { return stmt_; }
  explicit operator bool() const { return stmt_ != nullptr; }
  sqlite3_stmt* release();
  void reset();

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

enum class StepResult { kRow, kDone, kError };

// Steps once. On kError, *error (when given) receives the mapped Status; the
// statement is reset so that it can be reused.
StepResult Step(sqlite3_stmt* stmt, Status* error, std::string_view doing);

// Maps SQLite's result code (extended codes included) to our numbering; `doing`
// becomes our text, sqlite3_errmsg(db) SQLite's.
Status StatusFromSqlite(sqlite3* db, int rc, std::string_view doing);

// Double-quoted SQL identifier, with inner quotes doubled. Identifiers come
// from our own code, never from input, but are quoted all the same.
std::string QuoteIdentifier(std::string_view name);

}  // namespace orlan

#endif  // ORLAN_DATABASE_SQLITE_HANDLE_H_
