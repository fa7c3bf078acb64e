// Owners of the two SQLite objects, and the one place where SQLite's result
// codes become Status values.
#ifndef ORLAN_DATABASE_SQLITE_SQLITE_HANDLE_H_
#define ORLAN_DATABASE_SQLITE_SQLITE_HANDLE_H_

#include <sqlite3.h>

#include <memory>
#include <string>
#include <string_view>

#include "database/identificador.h"
#include "database/status.h"

namespace orlan {

// sqlite3_close_v2 leaves a connection with live statements as a zombie that
// SQLite frees when the last statement is finalized, so a Statement may
// outlive its Connection without touching freed memory.
struct ConnectionCloser {
  void operator()(sqlite3* db) const noexcept { sqlite3_close_v2(db); }
};
struct StatementFinalizer {
  void operator()(sqlite3_stmt* stmt) const noexcept { sqlite3_finalize(stmt); }
};

// A connection, closed when its owner goes.
using Connection = std::unique_ptr<sqlite3, ConnectionCloser>;
// A prepared statement, finalized when its owner goes.
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

enum class StepResult { kRow, kDone, kError };

// Steps once. On kError, *error (when given) receives the mapped Status; the
// statement is reset so that it can be reused. `onde` names the database for
// the message (its path).
StepResult Step(sqlite3_stmt* stmt, Status* error, std::string_view onde);

// Maps SQLite's result code (extended codes included) to our numbering and a
// Portuguese text that names the database `onde`; sqlite3_errmsg(db) becomes
// the detail.
Status StatusFromSqlite(sqlite3* db, int rc, std::string_view onde);

}  // namespace orlan

#endif  // ORLAN_DATABASE_SQLITE_SQLITE_HANDLE_H_
