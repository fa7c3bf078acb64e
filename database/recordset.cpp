#include "database/recordset.h"

namespace orlan {

Recordset::Recordset(std::shared_ptr<Database> db, std::shared_ptr<TableMeta> table, std::string sql,
                     Statement stmt, std::shared_ptr<const std::vector<ColumnInfo>> columns, int first_column)
    : db_(std::move(db)),
      table_(std::move(table)),
      sql_(std::move(sql)),
      stmt_(std::move(stmt)),
      columns_(std::move(columns)),
      first_(first_column),
      pending_(columns_->size()) {}

Recordset::Recordset(Recordset&& other) noexcept { *this = std::move(other); }

Recordset& Recordset::operator=(Recordset&& other) noexcept {
  if (this == &other) return *this;
  close();
  db_ = std::move(other.db_);
  table_ = std::move(other.table_);
  sql_ = std::move(other.sql_);
  stmt_ = std::move(other.stmt_);
  columns_ = std::move(other.columns_);
  first_ = other.first_;
  mode_ = other.mode_;
  pos_ = other.pos_;
  reached_ = other.reached_;
  snapshot_ = std::move(other.snapshot_);
  snapshot_rowid_ = other.snapshot_rowid_;
  pending_ = std::move(other.pending_);
  last_modified_ = other.last_modified_;
  insert_stmt_ = std::move(other.insert_stmt_);
  insert_sql_ = std::move(other.insert_sql_);
  insert_mask_ = other.insert_mask_;
  other.db_.reset();
  other.pending_.clear();
  return *this;
}

Recordset::~Recordset() { close(); }

void Recordset::close() {
  clearPending();
  if (db_ && stmt_) db_->releaseStatement(sql_, std::move(stmt_));
  if (db_ && insert_stmt_) db_->releaseStatement(insert_sql_, std::move(insert_stmt_));
  stmt_.reset();
  insert_stmt_.reset();
  db_.reset();
  snapshot_.clear();
  mode_ = Mode::kBrowse;
  pos_ = Position::kEof;
}

void Recordset::fail(ErrorNumber number, const std::string& message) const { throw DbError(Status(number, message)); }

void Recordset::checkOpen() const {
  if (!db_) fail(kErrClosed, "O conjunto de registros já foi fechado.");
  db_->checkOpen();
}

int Recordset::findColumn(std::string_view field) const {
  const std::vector<ColumnInfo>& columns = *columns_;
  for (size_t i = 0; i < columns.size(); ++i) {
    if (columns[i].name == field) return static_cast<int>(i);
  }
  const QString folded = QString::fromUtf8(field.data(), static_cast<int>(field.size())).toCaseFolded();
  for (size_t i = 0; i < columns.size(); ++i) {
    if (columns[i].folded == folded) return static_cast<int>(i);
  }
  return -1;
}

int Recordset::requireColumn(std::string_view field) const {
  const int col = findColumn(field);
  if (col < 0) {
    fail(kErrFieldNotFound, "O campo " + std::string(field) + " não existe em " + (table_ ? table_->name : std::string("uma consulta")) + " do banco de dados \"" + db_->path() + "\".");
  }
  return col;
}

bool Recordset::hasField(std::string_view field) const { return findColumn(field) >= 0; }

QStringList Recordset::fieldNames() const {
  QStringList names;
  for (const auto& c : *columns_) names << QString::fromStdString(c.name);
  return names;
}

void Recordset::step() {
  Status error;
  switch (Step(stmt_.get(), &error, db_->path())) {
    case StepResult::kRow:
      pos_ = Position::kLive;
      ++reached_;
      break;
    case StepResult::kDone:
      pos_ = Position::kEof;
      break;
    case StepResult::kError:
      pos_ = Position::kEof;
      throw DbError(error);
  }
}

void Recordset::fetchFirst() {
  if (pos_ == Position::kNotStarted) step();
}

bool Recordset::eof() {
  checkOpen();
  fetchFirst();
  return pos_ == Position::kEof;
}

void Recordset::moveNext() {
  checkOpen();
  if (mode_ != Mode::kBrowse) cancelUpdate();
  fetchFirst();
  if (pos_ == Position::kEof) fail(kErrNoCurrentRecord, "Não há registro atual: o fim já foi alcançado.");
  if (pos_ == Position::kSnapshot && stmt_ && sqlite3_stmt_busy(stmt_.get()) == 0) {
    // The cursor ran to its end (moveLast); the snapshot was the last row.
    pos_ = Position::kEof;
    return;
  }
  step();
}

void Recordset::moveLast() {
  checkOpen();
  fetchFirst();
  if (pos_ == Position::kEof) fail(kErrNoCurrentRecord, "Não há registro atual: o conjunto está vazio.");
  if (pos_ == Position::kLive) snapshotCurrent();
  for (;;) {
    step();
    if (pos_ != Position::kLive) break;
    snapshotCurrent();
  }
  // The cursor is at its end; the last row lives on in the snapshot.
  pos_ = Position::kSnapshot;
}

void Recordset::snapshotCurrent() {
  const std::vector<ColumnInfo>& columns = *columns_;
  snapshot_.resize(columns.size());
  for (size_t i = 0; i < columns.size(); ++i) {
    snapshot_[i] = ColumnValue(stmt_.get(), static_cast<int>(i) + first_, columns[i].kind);
  }
  snapshot_rowid_ = first_ == 1 ? sqlite3_column_int64(stmt_.get(), 0) : 0;
}

void Recordset::requireCurrent(const char* doing) {
  fetchFirst();
  if (pos_ == Position::kLive || pos_ == Position::kSnapshot) return;
  fail(kErrNoCurrentRecord, std::string("Não há registro atual para ") + doing + ".");
}

std::int64_t Recordset::currentRowid() {
  if (pos_ == Position::kSnapshot) return snapshot_rowid_;
  return sqlite3_column_int64(stmt_.get(), 0);
}

void Recordset::clearPending() {
  for (auto& p : pending_) {
    if (!p.set) continue;
    if (p.raw != nullptr) sqlite3_value_free(p.raw);
    p = Pending{};
  }
}

QVariant Recordset::value(std::string_view field) {
  checkOpen();
  const int col = requireColumn(field);
  if (mode_ != Mode::kBrowse) {
    const Pending& p = pending_[col];
    if (p.set) {
      if (p.raw == nullptr) return p.value;
      // A value copied from another recordset: read it back through a
      // statement, so that it converts as a stored value would.
      const std::string echo_sql = "SELECT ?";
      Statement echo = db_->acquireStatement(echo_sql);
      sqlite3_bind_value(echo.get(), 1, p.raw);
      Status error;
      if (Step(echo.get(), &error, "reading a pending value") != StepResult::kRow) throw DbError(error);
      QVariant v = ColumnValue(echo.get(), 0, (*columns_)[col].kind);
      db_->releaseStatement(echo_sql, std::move(echo));
      return v;
    }
    if (mode_ == Mode::kAdding) return QVariant();
  }
  requireCurrent("ler um campo");
  if (pos_ == Position::kSnapshot) return snapshot_[col];
  return ColumnValue(stmt_.get(), col + first_, (*columns_)[col].kind);
}

sqlite3_value* Recordset::currentRaw(int col) {
  requireCurrent("ler um campo");
  if (pos_ == Position::kLive) return sqlite3_column_value(stmt_.get(), col + first_);
  return nullptr;
}

void Recordset::setValue(std::string_view field, const QVariant& value) {
  checkOpen();
  if (mode_ == Mode::kBrowse) fail(kErrUpdateWithoutEdit, "Um campo foi alterado sem inclusão ou edição iniciada.");
  Pending& p = pending_[requireColumn(field)];
  if (p.raw != nullptr) sqlite3_value_free(p.raw);
  p.raw = nullptr;
  p.value = value;
  p.set = true;
}

void Recordset::setValueFrom(std::string_view field, Recordset& source, std::string_view source_field) {
  checkOpen();
  source.checkOpen();
  if (mode_ == Mode::kBrowse) fail(kErrUpdateWithoutEdit, "Um campo foi alterado sem inclusão ou edição iniciada.");
  const int col = requireColumn(field);
  const int scol = source.requireColumn(source_field);
  if (source.mode_ != Mode::kBrowse && source.pending_[scol].set) {
    setValue(field, source.value(source_field));
    return;
  }
  sqlite3_value* raw = source.currentRaw(scol);
  if (raw == nullptr) {
    setValue(field, source.value(source_field));
    return;
  }
  Pending& p = pending_[col];
  if (p.raw != nullptr) sqlite3_value_free(p.raw);
  p.raw = sqlite3_value_dup(raw);
  if (p.raw == nullptr) fail(kErrOther, "Memória insuficiente para copiar o valor de um campo.");
  p.value = QVariant();
  p.set = true;
}

void Recordset::addNew() {
  checkOpen();
  if (!updatable()) fail(kErrReadOnly, "O resultado de uma consulta não pode ser alterado.");
  clearPending();
  mode_ = Mode::kAdding;
}

void Recordset::edit() {
  checkOpen();
  if (!updatable()) fail(kErrReadOnly, "O resultado de uma consulta não pode ser alterado.");
  requireCurrent("editar");
  clearPending();
  mode_ = Mode::kEditing;
}

void Recordset::cancelUpdate() {
  clearPending();
  mode_ = Mode::kBrowse;
}

std::string Recordset::insertSql(std::uint64_t mask, const std::vector<int>& cols) const {
  const std::string table = QuoteIdentifier(table_->name);
  if (cols.empty()) return "INSERT INTO " + table + " DEFAULT VALUES";
  std::string names, marks;
  for (int c : cols) {
    if (!names.empty()) {
      names += ", ";
      marks += ", ";
    }
    names += QuoteIdentifier((*columns_)[c].name);
    marks += "?";
  }
  std::string sql = "INSERT INTO " + table + " (" + names + ") VALUES (" + marks + ")";
  if (cols.size() <= 64) table_->inserts.emplace(mask, sql);
  return sql;
}

void Recordset::update() {
  checkOpen();
  if (mode_ == Mode::kBrowse) fail(kErrUpdateWithoutEdit, "Gravação sem inclusão ou edição iniciada.");
  std::uint64_t mask = 0;
  for (size_t i = 0; i < pending_.size() && i < 64; ++i) {
    if (pending_[i].set) mask |= std::uint64_t{1} << i;
  }
  if (mode_ == Mode::kAdding && pending_.size() <= 64) {
    storeNewRow(mask);
    return;
  }
  std::vector<int> cols;
  for (size_t i = 0; i < pending_.size(); ++i) {
    if (pending_[i].set) cols.push_back(static_cast<int>(i));
  }
  std::string sql;
  if (mode_ == Mode::kAdding) {
    auto cached = pending_.size() <= 64 ? table_->inserts.find(mask) : table_->inserts.end();
    sql = cached != table_->inserts.end() ? cached->second : insertSql(mask, cols);
  } else {
    if (cols.empty()) {
      cancelUpdate();
      return;
    }
    std::string sets;
    for (int c : cols) {
      if (!sets.empty()) sets += ", ";
      sets += QuoteIdentifier((*columns_)[c].name) + " = ?";
    }
    sql = "UPDATE " + QuoteIdentifier(table_->name) + " SET " + sets + " WHERE _rowid_ = ?";
  }
  Statement stmt = db_->acquireStatement(sql);
  int index = 1;
  for (int c : cols) {
    const Pending& p = pending_[c];
    if (p.raw != nullptr) {
      const int rc = sqlite3_bind_value(stmt.get(), index, p.raw);
      if (rc != SQLITE_OK) throw DbError(StatusFromSqlite(db_->handle(), rc, db_->path()));
    } else {
      BindValue(stmt.get(), index, p.value);
    }
    ++index;
  }
  std::int64_t rowid = 0;
  if (mode_ == Mode::kEditing) {
    rowid = currentRowid();
    sqlite3_bind_int64(stmt.get(), index, rowid);
  }
  Status error;
  const StepResult r = Step(stmt.get(), &error, db_->path());
  db_->releaseStatement(sql, std::move(stmt));
  if (r == StepResult::kError) {
    throw DbError(error);
  }
  last_modified_ = mode_ == Mode::kAdding ? sqlite3_last_insert_rowid(db_->handle()) : rowid;
  const bool edited = mode_ == Mode::kEditing;
  cancelUpdate();
  // The changed row is shown with its stored values.
  if (edited) moveToBookmark(rowid);
}

// The INSERT of a new row through the statement this recordset keeps: row
// after row with the same fields assigned, only the values are bound anew.
void Recordset::storeNewRow(std::uint64_t mask) {
  if (!insert_stmt_ || mask != insert_mask_) {
    if (insert_stmt_) db_->releaseStatement(insert_sql_, std::move(insert_stmt_));
    auto cached = table_->inserts.find(mask);
    if (cached != table_->inserts.end()) {
      insert_sql_ = cached->second;
    } else {
      std::vector<int> cols;
      for (size_t i = 0; i < pending_.size(); ++i) {
        if (pending_[i].set) cols.push_back(static_cast<int>(i));
      }
      insert_sql_ = insertSql(mask, cols);
    }
    insert_stmt_ = db_->acquireStatement(insert_sql_);
    insert_mask_ = mask;
  }
  sqlite3_stmt* stmt = insert_stmt_.get();
  int index = 1;
  for (const Pending& p : pending_) {
    if (!p.set) continue;
    if (p.raw != nullptr) {
      const int rc = sqlite3_bind_value(stmt, index, p.raw);
      if (rc != SQLITE_OK) throw DbError(StatusFromSqlite(db_->handle(), rc, db_->path()));
    } else {
      BindValue(stmt, index, p.value);
    }
    ++index;
  }
  Status error;
  const StepResult r = Step(stmt, &error, db_->path());
  if (r == StepResult::kError) {
    throw DbError(error);
  }
  sqlite3_reset(stmt);
  last_modified_ = sqlite3_last_insert_rowid(db_->handle());
  cancelUpdate();
}

void Recordset::deleteCurrent() {
  checkOpen();
  if (!updatable()) fail(kErrReadOnly, "O resultado de uma consulta não pode ser alterado.");
  if (mode_ != Mode::kBrowse) cancelUpdate();
  requireCurrent("excluir");
  const std::string sql = "DELETE FROM " + QuoteIdentifier(table_->name) + " WHERE _rowid_ = ?";
  db_->execute(sql, {QVariant(static_cast<qlonglong>(currentRowid()))});
  pos_ = pos_ == Position::kSnapshot && !sqlite3_stmt_busy(stmt_.get()) ? Position::kEof : Position::kDeleted;
}

void Recordset::moveToBookmark(std::int64_t bookmark) {
  checkOpen();
  if (!updatable()) fail(kErrInvalidOperation, "Uma consulta somente para leitura não tem marcadores.");
  if (mode_ != Mode::kBrowse) cancelUpdate();
  const std::string sql = table_->select_all + " WHERE _rowid_ = ?";
  Statement stmt = db_->acquireStatement(sql);
  sqlite3_bind_int64(stmt.get(), 1, bookmark);
  Status error;
  const StepResult r = Step(stmt.get(), &error, "moving to a bookmark");
  if (r == StepResult::kError) throw DbError(error);
  if (r == StepResult::kDone) {
    db_->releaseStatement(sql, std::move(stmt));
    fail(kErrNoCurrentRecord, "O registro marcado de " + table_->name + " não existe mais.");
  }
  const std::vector<ColumnInfo>& columns = *columns_;
  snapshot_.resize(columns.size());
  for (size_t i = 0; i < columns.size(); ++i) {
    snapshot_[i] = ColumnValue(stmt.get(), static_cast<int>(i) + 1, columns[i].kind);
  }
  snapshot_rowid_ = bookmark;
  db_->releaseStatement(sql, std::move(stmt));
  pos_ = Position::kSnapshot;
}

}  // namespace orlan
