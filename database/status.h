// Error values of the database layer and of the component's public entry points.
//
// A Status is either OK or carries an error number, our own text and, when the
// failure came from SQLite, SQLite's text. The numbers follow the ones the host
// program already knows from its previous database engine, so that callers that
// test a number (the taxpayer copy tests 3022) keep working:
//
//   3020  Update called without AddNew or Edit
//   3021  no current record (EOF, or a recordset that was never positioned)
//   3022  duplicate value in a unique index or primary key
//   3024  database file not found / cannot be opened
//   3026  disk full
//   3027  database or object is read-only
//   3043  disk or I/O error
//   3049  database file is damaged (corrupt)
//   3075  SQL that SQLite refused (syntax or any other statement error)
//   3078  table not found
//   3201  a related record is required (foreign key)
//   3218  database is locked (another process held the lock longer than the wait)
//   3219  invalid operation (wrong state for the call)
//   3265  field not found in the recordset
//   3314  a required field is Null
//   3343  the file is not a database
//   3420  the database or recordset was closed
//   3000  any other failure
#ifndef ORLAN_DATABASE_STATUS_H_
#define ORLAN_DATABASE_STATUS_H_

#include <exception>
#include <string>

namespace orlan {

enum ErrorNumber : int {
  kOk = 0,
  kErrOther = 3000,
  kErrUpdateWithoutEdit = 3020,
  kErrNoCurrentRecord = 3021,
  kErrDuplicateKey = 3022,
  kErrCannotOpen = 3024,
  kErrDiskFull = 3026,
  kErrReadOnly = 3027,
  kErrIo = 3043,
  kErrCorrupt = 3049,
  kErrSql = 3075,
  kErrTableNotFound = 3078,
  kErrForeignKey = 3201,
  kErrLocked = 3218,
  kErrInvalidOperation = 3219,
  kErrFieldNotFound = 3265,
  kErrRequiredNull = 3314,
  kErrNotADatabase = 3343,
  kErrClosed = 3420,
};

class Status {
 public:
  Status() = default;  // OK
  Status(int number, std::string message, std::string sqlite_message = {})
      : number_(number), message_(std::move(message)), sqlite_message_(std::move(sqlite_message)) {}

  static Status OK() { return Status(); }

  bool ok() const { return number_ == kOk; }
  int number() const { return number_; }
  // Our own text: what was being done and with what.
  const std::string& message() const { return message_; }
  // SQLite's text for the failure, empty when SQLite was not involved.
  const std::string& sqlite_message() const { return sqlite_message_; }

  // "Erro 3022: <ours> (<SQLite's>)", or "OK".
  std::string ToString() const;

 private:
  int number_ = kOk;
  std::string message_;
  std::string sqlite_message_;
};

// Inside the engine a failure unwinds as a DbError; public entry points catch
// it and hand the Status on.
class DbError : public std::exception {
 public:
  explicit DbError(Status status) : status_(std::move(status)), what_(status_.ToString()) {}
  const Status& status() const { return status_; }
  int number() const { return status_.number(); }
  const char* what() const noexcept override { return what_.c_str(); }

 private:
  Status status_;
  std::string what_;
};

}  // namespace orlan

#endif  // ORLAN_DATABASE_STATUS_H_
