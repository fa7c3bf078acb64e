// A recordset: a read-only cursor over the rows of a query.
//
// Recordsets come from Database::openRecordset (one table) or
// Database::openQuery (any SELECT). A recordset holds its database handle, so
// it may outlive the caller's copy; when the database is closed, every later
// call fails with kErrClosed. The destructor closes the recordset.
//
// Rows are fetched lazily: the first row is fetched by the first call that
// needs it (eof(), value(), ...). Field names are matched without regard to
// letter case, with Unicode case folding ("CÓDSUBITEM" finds "CódSubItem").
// Every failure throws DbError.
#ifndef ORLAN_DATABASE_SQLITE_RECORDSET_H_
#define ORLAN_DATABASE_SQLITE_RECORDSET_H_

#include <QVariant>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "database/sqlite/database.h"

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

  // True when there is no current row past the last one (at once for an
  // empty result).
  bool eof();
  void moveNext();

  // Reads a field of the current row.
  QVariant value(std::string_view field);
  bool hasField(std::string_view field) const;

  void close();

 private:
  friend class Database;
  enum class Position { kNotStarted, kLive, kEof };

  // `table` names the table for messages; empty for a query.
  Recordset(std::shared_ptr<Database> db, std::string table, std::string sql, Statement stmt,
            std::shared_ptr<const std::vector<ColumnInfo>> columns);

  void checkOpen() const;
  int findColumn(std::string_view field) const;  // -1 when absent
  int requireColumn(std::string_view field) const;
  void fetchFirst();
  void step();
  [[noreturn]] void fail(ErrorNumber number, const std::string& message) const;

  std::shared_ptr<Database> db_;
  std::string table_;
  std::string sql_;
  Statement stmt_;
  std::shared_ptr<const std::vector<ColumnInfo>> columns_;
  Position pos_ = Position::kNotStarted;
};

}  // namespace orlan

#endif  // ORLAN_DATABASE_SQLITE_RECORDSET_H_
