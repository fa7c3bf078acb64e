// A database handle over one SQLite file.
//
// Handles are shared: whoever holds a std::shared_ptr<Database> may open
// recordsets on it. Every value reaches SQLite as a bound parameter. Every
// operation throws DbError on failure (see status.h for the numbers); callers
// at public entry points turn it into a Status.
//
// Connections enforce foreign keys and wait up to five seconds for a lock held
// by another process before failing with kErrLocked ("database is locked").
// The journal mode of the file is left as the file has it.
//
// After close() every operation on the handle, and on recordsets opened from
// it, fails with kErrClosed; nothing touches freed memory.
//
// SQLite's own types appear here by name only: the statement helpers that
// use them live in database/sqlite/sqlite_handle.h, private to database/.
#ifndef ORLAN_DATABASE_SQLITE_DATABASE_H_
#define ORLAN_DATABASE_SQLITE_DATABASE_H_

#include <QVariant>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "database/status.h"

// SQLite's handle types, by name only.
struct sqlite3;
struct sqlite3_stmt;

namespace orlan {

class Recordset;

// sqlite3_close_v2 leaves a connection with live statements as a zombie that
// SQLite frees when the last statement is finalized, so a Statement may
// outlive its Connection without touching freed memory.
struct ConnectionCloser {
  void operator()(sqlite3* db) const noexcept;
};
struct StatementFinalizer {
  void operator()(sqlite3_stmt* stmt) const noexcept;
};

// A connection, closed when its owner goes.
using Connection = std::unique_ptr<sqlite3, ConnectionCloser>;
// A prepared statement, finalized when its owner goes.
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

// Values bound to the ?s of a query, in order. A default-constructed (invalid)
// QVariant is Null; QDate and QDateTime are written as "yyyy-mm-dd" and
// "yyyy-mm-dd hh:mm:ss".
using Params = std::vector<QVariant>;

// The columns of one table or query, as SQLite declares them.
struct ColumnInfo {
  enum class Kind { kPlain, kDate, kDateTime };
  std::string name;
  QString folded;  // Unicode case-folded name, for lookups that ignore case
  Kind kind = Kind::kPlain;
};

class Database : public std::enable_shared_from_this<Database> {
 public:
  enum class OpenMode {
    kExisting,  // the file must exist and be a SQLite database; nothing is created
    kCreate,    // created when missing, readable and writable by its owner alone
  };

  // Opens `path`. On success *out holds the new handle.
  static Status Open(const std::string& path, OpenMode mode, std::shared_ptr<Database>* out);

  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  const std::string& path() const { return path_; }
  bool isOpen() const { return static_cast<bool>(conn_); }
  // True while path() still names the file this handle opened: it was not
  // deleted, nor replaced by another file under the same name, since.
  bool sameFileAsOpened() const;

  // Releases the file. Recordsets still open on this handle fail cleanly
  // from then on.
  void close();

  // A recordset over one table: every column of `table`, rows where `where`
  // holds (all rows when empty), with `params` bound to the ?s of `where`.
  Recordset openRecordset(std::string_view table, std::string_view where = {}, Params params = {});

  // A recordset over any SELECT.
  Recordset openQuery(std::string_view sql, Params params = {});

  // Runs one statement that gives no rows; returns the number of rows changed.
  int execute(std::string_view sql, const Params& params = {});

  // Runs a script of statements without parameters (schema creation).
  void executeScript(const std::string& sql);

  // The first column of the first row, or Null when there is no row.
  QVariant scalar(std::string_view sql, const Params& params = {});

  // True when the table exists in this file.
  bool hasTable(std::string_view table);

  // Number of transactions committed on this connection since it was opened.
  std::int64_t commitCount() const { return commit_count_; }
  // Number of statements run on this connection (each use of a cached one
  // counts), for benchmarks.
  std::int64_t statementCount() const { return statement_count_; }

  // True while a transaction is open on this connection (SQLite also ends
  // one by itself after some I/O failures).
  bool inTransaction() const;

  // The path of the file this handle opened (the name given to Open), or of
  // an attached schema's file.
  std::string fileName(std::string_view schema_name = "main") const;

  // Calls `aviso` about every `steps` virtual-machine steps while statements
  // run on this connection; a true answer interrupts the running statement,
  // which then fails. An empty function removes the handler. `aviso` must
  // not throw.
  void setProgressHandler(int steps, std::function<bool()> aviso);

  // A statement the caller binds by hand, for bulk writers. Kept out of the
  // cache; finalized with the object.
  class Prepared {
   public:
    void bindNull(int index);
    void bindInt(int index, std::int64_t value);
    void bindReal(int index, double value);
    // The text is not copied: it must stay valid until run().
    void bindText(int index, std::string_view text);
    void bind(const Params& params);
    // Steps once, then resets; true when the statement gave a row. Throws
    // DbError.
    bool run();

   private:
    friend class Database;
    Prepared(Database* db, Statement stmt) : db_(db), stmt_(std::move(stmt)) {}
    Database* db_;
    Statement stmt_;
  };
  Prepared prepare(std::string_view sql);

  // The columns of `table`, cached per connection. Throws kErrTableNotFound.
  const std::vector<ColumnInfo>& tableColumns(std::string_view table) { return tableMeta(table)->columns; }

 private:
  friend class Recordset;
  friend class Transaction;

  // What the layer knows of one table, built once per connection.
  struct TableMeta {
    std::string name;
    std::vector<ColumnInfo> columns;
    std::string select_all;  // SELECT * FROM "table"
  };

  Database(std::string path, Connection conn);
  // Prepared statements are made once per connection and reused: acquire takes
  // one out of the cache (or prepares it), release puts it back reset and with
  // its bindings cleared. A statement never returned is simply finalized.
  Statement acquireStatement(std::string_view sql);
  void releaseStatement(const std::string& sql, Statement stmt);
  std::shared_ptr<TableMeta> tableMeta(std::string_view table);
  // Throws kErrClosed when the handle was closed.
  void checkOpen() const;
  static int OnCommit(void* self);
  static int OnProgress(void* self);
  sqlite3* handle() const { return conn_.get(); }
  // Runs `stmt` (from the cache) to its end; throws DbError.
  void runToEnd(sqlite3_stmt* stmt);

  std::string path_;
  // The opened file's identity on disk (device and inode), 0 when unknown.
  std::uint64_t device_ = 0;
  std::uint64_t inode_ = 0;
  Connection conn_;
  // Looked up by string_view without building a std::string per call.
  struct SqlHash {
    using is_transparent = void;
    size_t operator()(std::string_view sql) const { return std::hash<std::string_view>{}(sql); }
  };
  std::unordered_map<std::string, std::vector<Statement>, SqlHash, std::equal_to<>> idle_statements_;
  std::unordered_map<std::string, std::shared_ptr<TableMeta>> tables_;
  std::int64_t commit_count_ = 0;
  std::int64_t statement_count_ = 0;
  std::function<bool()> progress_;
};

// A transaction, rolled back at destruction unless commit() succeeded.
// Throws DbError.
class Transaction {
 public:
  enum class Mode {
    kImmediate,  // BEGIN IMMEDIATE: the write lock of every attached file at once
    kWriteMain,  // the write lock of the main file alone, waiting for other
                 // writers as kImmediate does; attached files are only read,
                 // so their readers never hold up the COMMIT
    kRead,       // BEGIN DEFERRED: a read snapshot until the end
  };
  explicit Transaction(Database& db, Mode mode = Mode::kImmediate);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  void commit();
  bool active() const { return active_; }

 private:
  Database& db_;
  bool active_ = false;
};

}  // namespace orlan

#endif  // ORLAN_DATABASE_SQLITE_DATABASE_H_
