#include "database/sqlite/recordset.h"

#include "database/sqlite/sqlite_handle.h"

namespace orlan {

Recordset::Recordset(std::shared_ptr<Database> db, std::string table, std::string sql, Statement stmt,
                     std::shared_ptr<const std::vector<ColumnInfo>> columns)
    : db_(std::move(db)),
      table_(std::move(table)),
      sql_(std::move(sql)),
      stmt_(std::move(stmt)),
      columns_(std::move(columns)) {}

Recordset::Recordset(Recordset&& other) noexcept { *this = std::move(other); }

Recordset& Recordset::operator=(Recordset&& other) noexcept {
  if (this == &other) return *this;
  close();
  db_ = std::move(other.db_);
  table_ = std::move(other.table_);
  sql_ = std::move(other.sql_);
  stmt_ = std::move(other.stmt_);
  columns_ = std::move(other.columns_);
  pos_ = other.pos_;
  other.db_.reset();
  return *this;
}

Recordset::~Recordset() { close(); }

void Recordset::close() {
  if (db_ && stmt_) db_->releaseStatement(sql_, std::move(stmt_));
  stmt_.reset();
  db_.reset();
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
    fail(kErrFieldNotFound, "O campo " + std::string(field) + " não existe em " +
                                (table_.empty() ? std::string("uma consulta") : table_) + " do banco de dados \"" +
                                db_->path() + "\".");
  }
  return col;
}

bool Recordset::hasField(std::string_view field) const { return findColumn(field) >= 0; }

void Recordset::step() {
  Status error;
  switch (Step(stmt_.get(), &error, db_->path())) {
    case StepResult::kRow:
      pos_ = Position::kLive;
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
  fetchFirst();
  if (pos_ == Position::kEof) fail(kErrNoCurrentRecord, "Não há registro atual: o fim já foi alcançado.");
  step();
}

QVariant Recordset::value(std::string_view field) {
  checkOpen();
  const int col = requireColumn(field);
  fetchFirst();
  if (pos_ != Position::kLive) fail(kErrNoCurrentRecord, "Não há registro atual para ler um campo.");
  return ColumnValue(stmt_.get(), col, (*columns_)[col].kind);
}

}  // namespace orlan
