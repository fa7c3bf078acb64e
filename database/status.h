// Error values of the database layer and of the component's public entry points.
//
// A Status is either OK or carries an error number, our own text (Portuguese,
// for people) and, when the failure came from a database engine, the engine's
// own text as a detail. Neither text ever holds SQL. The numbers follow the
// ones the host program already knows from its previous database engine, so
// that callers that test a number (the taxpayer copy tests 3022) keep working.
#ifndef ORLAN_DATABASE_STATUS_H_
#define ORLAN_DATABASE_STATUS_H_

#include <exception>
#include <string>

namespace orlan {

enum ErrorNumber : int {
  kOk = 0,
  kErrOther = 3000,              // any other failure
  kErrUpdateWithoutEdit = 3020,  // no longer raised (the write recordsets are gone); kept for hosts that name it
  kErrNoCurrentRecord = 3021,    // no current record
  kErrDuplicateKey = 3022,       // duplicate value in a unique index or primary key
  kErrCannotOpen = 3024,         // no name, a missing file, a folder
  kErrDiskFull = 3026,
  kErrReadOnly = 3027,           // database or object is read-only
  kErrLoginRefused = 3029,       // the server refused the user or password
  kErrIo = 3043,                 // disk or I/O error
  kErrCorrupt = 3049,            // the database file is damaged
  kErrSql = 3075,                // a statement the engine refused
  kErrTableNotFound = 3078,
  kErrNotCurrentDatabase = 3112, // a database without the current database's tables
  kErrConnection = 3151,         // a server that cannot be reached, or a connection lost
  kErrForeignKey = 3201,         // a related record is required
  kErrLocked = 3218,             // another user held the lock longer than the wait
  kErrInvalidOperation = 3219,   // wrong state for the call
  kErrBusy = 3220,               // the control is running another action
  kErrRetry = 3260,              // a deadlock or serialization failure: the work may be redone
  kErrFieldNotFound = 3265,
  kErrRequiredNull = 3314,       // a required field is Null
  kErrNotADatabase = 3343,       // the file is not a database
  kErrClosed = 3420,             // the database or recordset was closed
};

class Status {
 public:
  Status() = default;  // OK
  Status(ErrorNumber number, std::string message, std::string detail = {})
      : number_(number), message_(std::move(message)), detail_(std::move(detail)) {}

  static Status OK() { return Status(); }

  bool ok() const { return number_ == kOk; }
  int number() const { return number_; }
  ErrorNumber code() const { return number_; }
  // Our own text: what failed, in Portuguese.
  const std::string& message() const { return message_; }
  // The engine's text for the failure (SQLite's or the server's), empty when
  // no engine was involved.
  const std::string& detail() const { return detail_; }

  bool IsDuplicateKey() const { return number_ == kErrDuplicateKey; }
  bool IsLocked() const { return number_ == kErrLocked; }
  bool IsReadOnly() const { return number_ == kErrReadOnly; }
  bool IsNotFound() const { return number_ == kErrTableNotFound || number_ == kErrFieldNotFound; }
  bool IsClosed() const { return number_ == kErrClosed; }
  bool IsBusy() const { return number_ == kErrBusy; }
  bool IsRetryable() const { return number_ == kErrRetry; }
  bool IsConnection() const { return number_ == kErrConnection || number_ == kErrLoginRefused; }

  // "Erro 3022: <ours>", then "Detalhe: <engine's>" on a line of its own when
  // there is one; "OK" for OK.
  std::string ToString() const;

 private:
  ErrorNumber number_ = kOk;
  std::string message_;
  std::string detail_;
};

// Inside the engine a failure unwinds as a DbError; public entry points catch
// it and hand the Status on.
class DbError : public std::exception {
 public:
  explicit DbError(Status status) : status_(std::move(status)), what_(status_.ToString()) {}
  DbError(ErrorNumber number, std::string message, std::string detail = {})
      : DbError(Status(number, std::move(message), std::move(detail))) {}
  const Status& status() const { return status_; }
  int number() const { return status_.number(); }
  const char* what() const noexcept override { return what_.c_str(); }

 private:
  Status status_;
  std::string what_;
};

// The Status of the exception being handled; call only inside a catch block.
// A DbError gives its own; anything else becomes kErrOther with `doing` (what
// was being done, in Portuguese) and the exception's text as the detail.
Status StatusFromCurrentException(const std::string& doing);

}  // namespace orlan

#endif  // ORLAN_DATABASE_STATUS_H_
