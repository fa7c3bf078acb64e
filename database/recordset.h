// A recordset: a cursor over the rows of a query, in the manner of a dynaset.
//
// Recordsets come from Database::openRecordset (updatable, over one table) or
// Database::openQuery (read-only). A recordset holds its database handle, so
// it may outlive the caller's copy; when the database is closed, every later
// call fails with kErrClosed. The destructor closes the recordset.
//
// Rows are fetched lazily: the first row is fetched by the first call that
// needs it (eof(), value(), ...). Field names are matched without regard to
// letter case, with Unicode case folding ("CÓDSUBITEM" finds "CódSubItem").
// Every failure throws DbError.
#ifndef ORLAN_DATABASE_RECORDSET_H_
#define ORLAN_DATABASE_RECORDSET_H_

#include <QStringList>
#include <QVariant>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "database/database.h"

namespace orlan {

class Recordset {
 public:
  Recordset() = default;  // a closed recordset
  Recordset(Recordset&& other) noexcept;
  Recordset& operator=(Recordset&& other) noexcept;
  Recordset(const Recordset&) = delete;
  Recordset& operator=(const Recordset&) = delete;
  ~Recordset();

  bool isOpen() const { return static_cast<bool>(db_); }
  bool updatable() const { return static_cast<bool>(table_); }

  // True when there is no current row past the last one (at once for an
  // empty result).
  bool eof();
  void moveNext();
  // Moves to the last row, reaching every row on the way.
  void moveLast();
  // Number of rows reached so far; after moveLast(), every row.
  int recordCount() const { return reached_; }

  // Begins a new row; fields not assigned get the table's defaults.
  void addNew();
  // Begins changing the current row.
  void edit();
  // Stores the new or changed row.
  void update();
  // Leaves addNew()/edit() without storing anything.
  void cancelUpdate();
  // Removes the current row; there is no current row until the next move.
  void deleteCurrent();

  // Reads a field of the current row (or the value assigned since addNew()/edit()).
  QVariant value(std::string_view field);
  // Assigns a field of the new or edited row.
  void setValue(std::string_view field, const QVariant& value);
  // Assigns a field of the new or edited row from a field of another
  // recordset's current row, passing SQLite's value on unchanged.
  void setValueFrom(std::string_view field, Recordset& source, std::string_view source_field);

  bool hasField(std::string_view field) const;
  QStringList fieldNames() const;

  // The key (rowid) of the row this recordset stored last, 0 before any.
  std::int64_t lastModified() const { return last_modified_; }
  // Makes the row with that key current (Bookmark = LastModified).
  void moveToBookmark(std::int64_t bookmark);

  void close();

 private:
  friend class Database;
  enum class Mode { kBrowse, kAdding, kEditing };
  enum class Position { kNotStarted, kLive, kSnapshot, kDeleted, kEof };

  Recordset(std::shared_ptr<Database> db, std::shared_ptr<TableMeta> table, std::string sql, Statement stmt,
            std::shared_ptr<const std::vector<ColumnInfo>> columns, int first_column);
  const std::string& source() const { return table_ ? table_->name : sql_; }
  std::string insertSql(std::uint64_t mask, const std::vector<int>& cols) const;
  void storeNewRow(std::uint64_t mask);

  void checkOpen() const;
  int findColumn(std::string_view field) const;  // -1 when absent
  int requireColumn(std::string_view field) const;
  void fetchFirst();
  void step();
  void snapshotCurrent();
  std::int64_t currentRowid();
  sqlite3_value* currentRaw(int col);
  void requireCurrent(const char* doing);
  void clearPending();
  [[noreturn]] void fail(ErrorNumber number, const std::string& message) const;

  std::shared_ptr<Database> db_;
  std::shared_ptr<TableMeta> table_;  // null for a read-only query
  std::string sql_;
  Statement stmt_;
  std::shared_ptr<const std::vector<ColumnInfo>> columns_;
  int first_ = 0;  // 1 when column 0 is the hidden rowid
  Mode mode_ = Mode::kBrowse;
  Position pos_ = Position::kNotStarted;
  int reached_ = 0;
  std::vector<QVariant> snapshot_;
  std::int64_t snapshot_rowid_ = 0;
  // Pending values of addNew()/edit(): either a QVariant or a copied SQLite value.
  struct Pending {
    bool set = false;
    QVariant value;
    sqlite3_value* raw = nullptr;
  };
  std::vector<Pending> pending_;
  std::int64_t last_modified_ = 0;
  // The INSERT of the last addNew()/update(), kept prepared while the same
  // fields are assigned row after row; given back to the handle's cache at
  // close().
  Statement insert_stmt_;
  std::string insert_sql_;
  std::uint64_t insert_mask_ = 0;
};

}  // namespace orlan

#endif  // ORLAN_DATABASE_RECORDSET_H_
