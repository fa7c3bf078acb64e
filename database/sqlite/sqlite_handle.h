// SQLite's C API behind the handle: SQLite's result codes become Status
// values here, and statements are bound, stepped and read. Private to
// database/: code outside it goes through Database and Recordset.
#ifndef ORLAN_DATABASE_SQLITE_SQLITE_HANDLE_H_
#define ORLAN_DATABASE_SQLITE_SQLITE_HANDLE_H_

#include <sqlite3.h>

#include <QVariant>

#include <string_view>
#include <vector>

#include "database/sqlite/database.h"
#include "database/status.h"

namespace orlan {

enum class StepResult { kRow, kDone, kError };

// Steps once. On kError, *error (when given) receives the mapped Status; the
// statement is reset so that it can be reused. `onde` names the database for
// the message (its path).
StepResult Step(sqlite3_stmt* stmt, Status* error, std::string_view onde);

// Maps SQLite's result code (extended codes included) to our numbering and a
// Portuguese text that names the database `onde`; sqlite3_errmsg(db) becomes
// the detail.
Status StatusFromSqlite(sqlite3* db, int rc, std::string_view onde);

// Binds `value` to parameter `index` (1-based). Throws DbError on failure.
void BindValue(sqlite3_stmt* stmt, int index, const QVariant& value);
// Binds `params` to the ?s of `stmt`, in order.
void BindAll(sqlite3_stmt* stmt, const Params& params);

// Reads column `col` of the current row, turning DATE/DATETIME text into
// QDate/QDateTime (a DATETIME that holds only a date comes back as a QDate, so
// that copying it writes the same text back).
QVariant ColumnValue(sqlite3_stmt* stmt, int col, ColumnInfo::Kind kind);

// Column descriptions of a prepared statement.
std::vector<ColumnInfo> DescribeColumns(sqlite3_stmt* stmt);

}  // namespace orlan

#endif  // ORLAN_DATABASE_SQLITE_SQLITE_HANDLE_H_
