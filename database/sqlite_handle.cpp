#include "database/sqlite_handle.h"

#include <cstring>

namespace orlan {

std::string Status::ToString() const {
  if (ok()) return "OK";
  std::string s = "Erro " + std::to_string(number_) + ": " + message_;
  if (!sqlite_message_.empty()) s += " (" + sqlite_message_ + ")";
  return s;
}

Connection& Connection::operator=(Connection&& other) noexcept {
  if (this != &other) {
    reset();
    db_ = other.release();
  }
  return *this;
}

sqlite3* Connection::release() {
  sqlite3* db = db_;
  db_ = nullptr;
  return db;
}

void Connection::reset() {
  if (db_ != nullptr) sqlite3_close_v2(db_);
  db_ = nullptr;
}

Statement& Statement::operator=(Statement&& other) noexcept {
  if (this != &other) {
    reset();
    stmt_ = other.release();
  }
  return *this;
}

sqlite3_stmt* Statement::release() {
  sqlite3_stmt* stmt = stmt_;
  stmt_ = nullptr;
  return stmt;
}

void Statement::reset() {
  if (stmt_ != nullptr) sqlite3_finalize(stmt_);
  stmt_ = nullptr;
}

StepResult Step(sqlite3_stmt* stmt, Status* error, std::string_view doing) {
  const int rc = sqlite3_step(stmt);
  if (rc == SQLITE_ROW) return StepResult::kRow;
  if (rc == SQLITE_DONE) return StepResult::kDone;
  if (error != nullptr) *error = StatusFromSqlite(sqlite3_db_handle(stmt), rc, doing);
  sqlite3_reset(stmt);
  return StepResult::kError;
}

Status StatusFromSqlite(sqlite3* db, int rc, std::string_view doing) {
  const std::string theirs = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  std::string ours(doing);
  int number = kErrOther;
  switch (rc) {
    case SQLITE_CONSTRAINT_UNIQUE:
    case SQLITE_CONSTRAINT_PRIMARYKEY:
    case SQLITE_CONSTRAINT_ROWID:
      number = kErrDuplicateKey;
      break;
    case SQLITE_CONSTRAINT_FOREIGNKEY:
      number = kErrForeignKey;
      break;
    case SQLITE_CONSTRAINT_NOTNULL:
      number = kErrRequiredNull;
      break;
    default:
      switch (rc & 0xff) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
          number = kErrLocked;
          ours += ": database is locked";
          break;
        case SQLITE_READONLY:
          number = kErrReadOnly;
          ours += ": database is read-only";
          break;
        case SQLITE_FULL:
          number = kErrDiskFull;
          ours += ": disk full";
          break;
        case SQLITE_IOERR:
          number = kErrIo;
          ours += ": disk I/O error";
          break;
        case SQLITE_CORRUPT:
          number = kErrCorrupt;
          ours += ": database file is damaged";
          break;
        case SQLITE_NOTADB:
          number = kErrNotADatabase;
          ours += ": file is not a database";
          break;
        case SQLITE_CANTOPEN:
          number = kErrCannotOpen;
          ours += ": cannot open the database file";
          break;
        case SQLITE_MISUSE:
          number = kErrInvalidOperation;
          break;
        case SQLITE_CONSTRAINT:
          number = kErrOther;
          break;
        case SQLITE_ERROR:
          if (theirs.rfind("no such table", 0) == 0) {
            number = kErrTableNotFound;
          } else if (theirs.rfind("no such column", 0) == 0 ||
                     theirs.find("has no column named") != std::string::npos) {
            number = kErrFieldNotFound;
          } else {
            number = kErrSql;
          }
          break;
        default:
          break;
      }
  }
  return Status(number, std::move(ours), theirs);
}

std::string QuoteIdentifier(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

}  // namespace orlan
