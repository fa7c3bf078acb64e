#include "database/sqlite/database.h"

#include <QString>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "database/identificador.h"
#include "database/sqlite/recordset.h"
#include "database/sqlite/sqlite_handle.h"

namespace orlan {

namespace {

constexpr int kLockWaitMs = 5000;

[[noreturn]] void Throw(ErrorNumber number, std::string message) {
  throw DbError(Status(number, std::move(message)));
}

}  // namespace

Status Database::Open(const std::string& path, OpenMode mode, std::shared_ptr<Database>* out) {
  out->reset();
  if (path.empty()) return Status(kErrCannotOpen, "Nenhum banco de dados foi informado.");
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX;
  if (mode == OpenMode::kCreate) {
    // Every database this system makes holds taxpayers' data: a new file is
    // its owner's alone, whatever the umask (SQLite's journal takes the
    // file's mode). An existing file keeps its own.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) ::close(fd);
    flags |= SQLITE_OPEN_CREATE;
  }
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  Connection conn(raw);
  if (rc != SQLITE_OK) return StatusFromSqlite(raw, rc, path);
  sqlite3_extended_result_codes(raw, 1);
  sqlite3_busy_timeout(raw, kLockWaitMs);
  // Reading the schema is what tells a SQLite file from any other file.
  char* err = nullptr;
  int check = sqlite3_exec(raw, "PRAGMA foreign_keys = ON; SELECT count(*) FROM sqlite_schema;",
                           nullptr, nullptr, &err);
  sqlite3_free(err);
  if (check != SQLITE_OK) return StatusFromSqlite(raw, check, path);
  std::shared_ptr<Database> db(new Database(path, std::move(conn)));
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    db->device_ = static_cast<std::uint64_t>(st.st_dev);
    db->inode_ = static_cast<std::uint64_t>(st.st_ino);
  }
  sqlite3_commit_hook(db->conn_.get(), &Database::OnCommit, db.get());
  *out = std::move(db);
  return Status::OK();
}

Database::Database(std::string path, Connection conn) : path_(std::move(path)), conn_(std::move(conn)) {}

Database::~Database() { close(); }

bool Database::sameFileAsOpened() const {
  struct stat st {};
  if (::stat(path_.c_str(), &st) != 0) return false;
  return static_cast<std::uint64_t>(st.st_dev) == device_ && static_cast<std::uint64_t>(st.st_ino) == inode_;
}

int Database::OnCommit(void* self) {
  ++static_cast<Database*>(self)->commit_count_;
  return 0;
}

void Database::close() {
  if (!conn_) return;
  idle_statements_.clear();
  tables_.clear();
  sqlite3_commit_hook(conn_.get(), nullptr, nullptr);
  conn_.reset();
}

void Database::checkOpen() const {
  if (!conn_) Throw(kErrClosed, "O banco de dados \"" + path_ + "\" já foi fechado.");
}

Statement Database::acquireStatement(std::string_view sql) {
  checkOpen();
  ++statement_count_;
  auto it = idle_statements_.find(sql);
  if (it != idle_statements_.end() && !it->second.empty()) {
    Statement stmt = std::move(it->second.back());
    it->second.pop_back();
    return stmt;
  }
  sqlite3_stmt* raw = nullptr;
  const int rc = sqlite3_prepare_v3(conn_.get(), sql.data(), static_cast<int>(sql.size()),
                                    SQLITE_PREPARE_PERSISTENT, &raw, nullptr);
  if (rc != SQLITE_OK) throw DbError(StatusFromSqlite(conn_.get(), rc, path_));
  return Statement(raw);
}

void Database::releaseStatement(const std::string& sql, Statement stmt) {
  if (!stmt) return;
  if (!conn_) return;  // finalized by the Statement's destructor
  sqlite3_reset(stmt.get());
  sqlite3_clear_bindings(stmt.get());
  auto it = idle_statements_.find(sql);
  if (it == idle_statements_.end()) it = idle_statements_.emplace(sql, std::vector<Statement>()).first;
  it->second.push_back(std::move(stmt));
}

std::shared_ptr<Database::TableMeta> Database::tableMeta(std::string_view table) {
  checkOpen();
  auto it = tables_.find(std::string(table));
  if (it != tables_.end()) return it->second;
  auto meta = std::make_shared<TableMeta>();
  meta->name = std::string(table);
  meta->select_all = "SELECT * FROM " + QuoteIdentifier(table);
  sqlite3_stmt* raw = nullptr;
  const int rc = sqlite3_prepare_v2(conn_.get(), meta->select_all.c_str(), -1, &raw, nullptr);
  Statement stmt(raw);
  if (rc != SQLITE_OK) {
    Status s = StatusFromSqlite(conn_.get(), rc, path_);
    if (s.IsNotFound()) {
      s = Status(kErrTableNotFound, "O banco de dados \"" + path_ + "\" não tem a tabela " + meta->name + ".", s.detail());
    }
    throw DbError(s);
  }
  meta->columns = DescribeColumns(stmt.get());
  tables_.emplace(meta->name, meta);
  return meta;
}

bool Database::hasTable(std::string_view table) {
  const QVariant n = scalar("SELECT count(*) FROM sqlite_schema WHERE type = 'table' AND name = ?",
                            {QString::fromUtf8(table.data(), static_cast<int>(table.size()))});
  return n.toLongLong() > 0;
}

Recordset Database::openRecordset(std::string_view table, std::string_view where, Params params) {
  // Resolving the table first gives "table not found" its own number.
  std::shared_ptr<TableMeta> meta = tableMeta(table);
  std::string sql = meta->select_all;
  if (!where.empty()) {
    sql += " WHERE ";
    sql += where;
  }
  Statement stmt = acquireStatement(sql);
  BindAll(stmt.get(), params);
  auto columns = std::shared_ptr<const std::vector<ColumnInfo>>(meta, &meta->columns);
  return Recordset(shared_from_this(), meta->name, std::move(sql), std::move(stmt), std::move(columns));
}

Recordset Database::openQuery(std::string_view sql, Params params) {
  checkOpen();
  Statement stmt = acquireStatement(sql);
  BindAll(stmt.get(), params);
  auto columns = std::make_shared<const std::vector<ColumnInfo>>(DescribeColumns(stmt.get()));
  return Recordset(shared_from_this(), std::string(), std::string(sql), std::move(stmt), std::move(columns));
}

void Database::runToEnd(sqlite3_stmt* stmt) {
  Status error;
  StepResult r;
  while ((r = Step(stmt, &error, path_)) == StepResult::kRow) {
  }
  if (r == StepResult::kError) throw DbError(error);
}

int Database::execute(std::string_view sql, const Params& params) {
  Statement stmt = acquireStatement(sql);
  BindAll(stmt.get(), params);
  runToEnd(stmt.get());
  const int changes = sqlite3_changes(conn_.get());
  releaseStatement(std::string(sql), std::move(stmt));
  return changes;
}

void Database::executeScript(const std::string& sql) {
  checkOpen();
  char* err = nullptr;
  const int rc = sqlite3_exec(conn_.get(), sql.c_str(), nullptr, nullptr, &err);
  sqlite3_free(err);
  if (rc != SQLITE_OK) throw DbError(StatusFromSqlite(conn_.get(), rc, path_));
}

QVariant Database::scalar(std::string_view sql, const Params& params) {
  Statement stmt = acquireStatement(sql);
  BindAll(stmt.get(), params);
  Status error;
  const StepResult r = Step(stmt.get(), &error, path_);
  if (r == StepResult::kError) throw DbError(error);
  QVariant v;
  if (r == StepResult::kRow) v = ColumnValue(stmt.get(), 0, ColumnInfo::Kind::kPlain);
  releaseStatement(std::string(sql), std::move(stmt));
  return v;
}

bool Database::inTransaction() const { return conn_ && sqlite3_get_autocommit(conn_.get()) == 0; }

std::string Database::fileName(std::string_view schema_name) const {
  checkOpen();
  const char* f = sqlite3_db_filename(conn_.get(), std::string(schema_name).c_str());
  return f != nullptr ? std::string(f) : std::string();
}

int Database::OnProgress(void* self) {
  const auto& aviso = static_cast<Database*>(self)->progress_;
  return aviso && aviso() ? 1 : 0;
}

void Database::setProgressHandler(int steps, std::function<bool()> aviso) {
  checkOpen();
  progress_ = std::move(aviso);
  if (progress_) {
    sqlite3_progress_handler(conn_.get(), steps, &Database::OnProgress, this);
  } else {
    sqlite3_progress_handler(conn_.get(), 0, nullptr, nullptr);
  }
}

Database::Prepared Database::prepare(std::string_view sql) {
  checkOpen();
  sqlite3_stmt* raw = nullptr;
  const int rc = sqlite3_prepare_v3(conn_.get(), sql.data(), static_cast<int>(sql.size()),
                                    SQLITE_PREPARE_PERSISTENT, &raw, nullptr);
  Statement stmt(raw);
  if (rc != SQLITE_OK) throw DbError(StatusFromSqlite(conn_.get(), rc, path_));
  return Prepared(this, std::move(stmt));
}

void Database::Prepared::bindNull(int index) { sqlite3_bind_null(stmt_.get(), index); }

void Database::Prepared::bindInt(int index, std::int64_t value) { sqlite3_bind_int64(stmt_.get(), index, value); }

void Database::Prepared::bindReal(int index, double value) { sqlite3_bind_double(stmt_.get(), index, value); }

void Database::Prepared::bindText(int index, std::string_view text) {
  sqlite3_bind_text(stmt_.get(), index, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
}

void Database::Prepared::bind(const Params& params) { BindAll(stmt_.get(), params); }

bool Database::Prepared::run() {
  db_->checkOpen();
  ++db_->statement_count_;
  Status error;
  const StepResult r = Step(stmt_.get(), &error, db_->path());
  if (r == StepResult::kError) throw DbError(error);
  sqlite3_reset(stmt_.get());
  return r == StepResult::kRow;
}

namespace {

// Ends a transaction from a destructor: a failed COMMIT may already have
// ended it, and then ROLLBACK has nothing to undo and its error is of no
// interest.
void RollBackQuietly(sqlite3* db) {
  if (db != nullptr && sqlite3_get_autocommit(db) == 0) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
}

}  // namespace

Transaction::Transaction(Database& db, Mode mode) : db_(db) {
  switch (mode) {
    case Mode::kImmediate:
      db_.execute("BEGIN IMMEDIATE");
      break;
    case Mode::kRead:
      db_.execute("BEGIN DEFERRED");
      break;
    case Mode::kWriteMain: {
      // A write that touches no row takes the main file's write lock at
      // once, with the connection's lock wait. The table is looked up before
      // BEGIN: a read inside the transaction would hold a shared lock, and
      // SQLite refuses at once, without waiting, to upgrade it while another
      // connection writes.
      const QVariant tabela = db_.scalar(
          "SELECT name FROM main.sqlite_schema WHERE type = 'table' AND name NOT LIKE 'sqlite%' LIMIT 1");
      db_.execute("BEGIN DEFERRED");
      active_ = true;
      try {
        if (tabela.isValid()) db_.execute("DELETE FROM main." + QuoteIdentifier(tabela.toString().toStdString()) + " WHERE 0");
      } catch (const DbError&) {
        // A constructor that throws leaves no destructor to end what BEGIN
        // started: a later try would find a transaction open.
        db_.execute("ROLLBACK");
        active_ = false;
        throw;
      }
      return;
    }
  }
  active_ = true;
}

Transaction::~Transaction() {
  if (active_ && db_.isOpen()) RollBackQuietly(db_.handle());
}

void Transaction::commit() {
  if (!active_) throw DbError(Status(kErrInvalidOperation, "Não há transação aberta para confirmar."));
  db_.execute("COMMIT");
  active_ = false;
}

}  // namespace orlan
