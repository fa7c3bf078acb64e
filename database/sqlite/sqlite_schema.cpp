#include "database/sqlite/sqlite_schema.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "database/banco_atual.h"
#include "database/identificador.h"
#include "database/sqlite/recordset.h"

namespace orlan {

namespace {

// The tables' descriptions, throughout.
using namespace schema;

std::string Q(std::string_view name) { return QuoteIdentifier(name); }

QVariant Text(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<int>(text.size())); }

// The declared type of a field type's column ("TEXT", "DATE", ...); the
// handle reads DATE and DATETIME columns back as dates.
std::string_view SqlType(FieldType type) {
  switch (type) {
    case FieldType::kText:
    case FieldType::kIE:
      return "TEXT";
    case FieldType::kDate:
    case FieldType::kMonth:
      return "DATE";
    case FieldType::kDateTime:
      return "DATETIME";
    case FieldType::kNumber:
      return "REAL";
    case FieldType::kBoolean:
      return "BOOLEAN";
  }
  return "TEXT";
}

std::string ColumnList(const RecordDef& r) {
  std::string out;
  for (const FieldDef& f : r.fields) {
    out += ", ";
    out += Q(f.name);
    out += ' ';
    out += SqlType(f.type);
  }
  return out;
}

// `current` selects the host database's constraints; the temporary database
// holds plain tables whose keys the checker gives.
std::string TablesSql(bool current) {
  std::string sql;
  for (const RecordDef& r : Records()) {
    sql += "CREATE TABLE " + Q(r.table) + " (";
    switch (r.parent) {
      case Parent::kFile:
        sql += current ? "Id INTEGER PRIMARY KEY AUTOINCREMENT" : "Id INTEGER PRIMARY KEY";
        sql += ColumnList(r);
        // An IE is the same whatever the case of its letters.
        if (current) sql += ", UNIQUE (IE COLLATE NOCASE)";
        break;
      case Parent::kTaxpayer:
        sql += current ? "NroQUR INTEGER PRIMARY KEY AUTOINCREMENT" : "NroQUR INTEGER PRIMARY KEY";
        sql += ColumnList(r);
        break;
      case Parent::kReturn:
        if (r.table == kOccurrenceTable) {
          sql += current ? Q(kOccurrenceKey) + " INTEGER PRIMARY KEY AUTOINCREMENT, "
                         : Q(kOccurrenceKey) + " INTEGER PRIMARY KEY, ";
        }
        sql += current ? "NroQUR INTEGER NOT NULL REFERENCES tblQUR (NroQUR) ON DELETE CASCADE"
                       : "NroQUR INTEGER";
        sql += ColumnList(r);
        break;
      case Parent::kOccurrence:
        sql += Q(kOccurrenceKey) + (current ? " INTEGER NOT NULL REFERENCES " + Q(kOccurrenceTable) + " (" +
                                                  Q(kOccurrenceKey) + ") ON DELETE CASCADE"
                                            : std::string(" INTEGER"));
        sql += ColumnList(r);
        break;
    }
    sql += ");\n";
  }
  return sql;
}

// Indexes for the lookups of the list, the import and the cascades.
std::string IndexesSql(bool current) {
  std::string sql;
  int n = 0;
  auto add = [&](std::string_view table, const std::string& columns) {
    sql += "CREATE INDEX idx" + std::to_string(++n) + " ON " + Q(table) + " (" + columns + ");\n";
  };
  for (const RecordDef& r : Records()) {
    if (r.parent == Parent::kReturn) add(r.table, Q(kReturnKey));
    if (r.parent == Parent::kOccurrence) add(r.table, Q(kOccurrenceKey));
  }
  add(kReturnTable, Q("IE") + ", " + Q("Ref1"));
  // The duplicate test compares IEs without regard to letter case.
  if (current) add(kReturnTable, Q("IE") + " COLLATE NOCASE, " + Q("Ref1"));
  if (!current) add(kTaxpayerTable, Q("IE"));
  return sql;
}


// The import run log: written only by imports, read by people. The time is
// the database's own clock, so that clerks' machines with wrong clocks do
// not reorder the log. A file has no logins: "Login" stays empty.
std::string HistoryTableSql() {
  const std::string t = Q(kTabelaHistórico);
  return "CREATE TABLE " + t +
         " (\"Código\" INTEGER PRIMARY KEY AUTOINCREMENT,"
         " \"Momento\" TEXT NOT NULL DEFAULT (strftime('%Y-%m-%dT%H:%M:%SZ', 'now')),"
         " \"Execução\" TEXT NOT NULL, \"Usuário\" TEXT, \"Máquina\" TEXT, \"Arquivo\" TEXT, \"SHA256\" TEXT,"
         " \"IE\" TEXT, \"Ref1\" DATE,"
         " \"Resultado\" TEXT NOT NULL CHECK (\"Resultado\" IN (" + std::string(kResultadosSql) + ")),"
         " \"NroQURAnterior\" INTEGER, \"NroQURNovo\" INTEGER, \"Login\" TEXT);\n"
         "CREATE INDEX " + Q(std::string(kTabelaHistórico) + "_Execução") + " ON " + t + " (\"Execução\");\n";
}

// The archive, table by table (kArchiveTable first), each with its
// statements: each copy's columns free of the live tables' constraints, so
// that a return's rows go in as they were. A copy's rows are clustered by
// their archive row and their order ("Ordem", the live row's number): a
// replacement appends them at the end, and a restore reads one range. No
// foreign key: only the archiving statement writes them, with their row,
// and pruning deletes both; checking it per row would double the cost of
// archiving.
std::vector<std::pair<std::string, std::string>> ArchiveTables() {
  const std::string a = Q(kArchiveTable);
  std::vector<std::pair<std::string, std::string>> tables = {
      {std::string(kArchiveTable),
       "CREATE TABLE " + a +
           " (\"Código\" INTEGER PRIMARY KEY AUTOINCREMENT,"
           " \"Momento\" TEXT NOT NULL DEFAULT (strftime('%Y-%m-%dT%H:%M:%SZ', 'now')),"
           " \"Login\" TEXT, \"NroQUR\" INTEGER NOT NULL UNIQUE, \"IE\" TEXT, \"Ref1\" DATE);\n"}};
  for (const RecordDef& r : Records()) {
    const std::string t = ArchivedTable(r.table);
    std::string sql = "CREATE TABLE " + Q(t) + " (" + Q(kArchiveLink) + " INTEGER NOT NULL, " + Q(kArchiveOrder) +
                      " INTEGER NOT NULL";
    for (std::string_view k : KeyColumns(r)) sql += ", " + Q(k) + " INTEGER";
    sql += ColumnList(r) + ", PRIMARY KEY (" + Q(kArchiveLink) + ", " + Q(kArchiveOrder) + ")) WITHOUT ROWID;\n";
    tables.emplace_back(t, std::move(sql));
  }
  return tables;
}

std::string ArchiveSql() {
  std::string sql;
  for (const auto& [table, statements] : ArchiveTables()) sql += statements;
  return sql;
}

// The name an older log goes by while its lines move to the new one.
constexpr std::string_view kOldLog = "orlan_historico_anterior";

// True when the log has "Login" and a CHECK that takes every outcome.
bool LogIsCurrent(Database& db) {
  if (!db.scalar("SELECT 1 FROM pragma_table_info(?) WHERE name = 'Login'", {Text(kTabelaHistórico)}).isValid()) {
    return false;
  }
  const QString sql = db.scalar("SELECT sql FROM sqlite_schema WHERE type = 'table' AND name = ?",
                                {Text(kTabelaHistórico)}).toString();
  for (const std::string& literal : LiteraisDosResultados()) {
    if (!sql.contains(QString::fromStdString(literal))) return false;
  }
  return true;
}

// SQLite cannot change a CHECK: the log is made anew and every line moves
// to it with its "Código" (and its counter, so none is given twice).
// Returns how many lines it kept.
std::int64_t ReshapeLog(Database& db) {
  const std::string t = Q(kTabelaHistórico);
  const std::string old = Q(kOldLog);
  // Its indexes keep their names through the rename: they go first.
  std::vector<std::string> indexes;
  for (Recordset r = db.openQuery(
           "SELECT name FROM sqlite_schema WHERE type = 'index' AND tbl_name = ? AND sql IS NOT NULL",
           {Text(kTabelaHistórico)});
       !r.eof(); r.moveNext()) {
    indexes.push_back(r.value("name").toString().toStdString());
  }
  for (const std::string& i : indexes) db.executeScript("DROP INDEX " + Q(i) + ";\n");
  db.executeScript("ALTER TABLE " + t + " RENAME TO " + old + ";\n" + HistoryTableSql());
  std::string columns;
  for (Recordset r = db.openQuery(
           "SELECT name FROM pragma_table_info(?) WHERE name IN (SELECT name FROM pragma_table_info(?)) ORDER BY cid",
           {Text(kOldLog), Text(kTabelaHistórico)});
       !r.eof(); r.moveNext()) {
    columns += (columns.empty() ? "" : ", ") + Q(r.value("name").toString().toStdString());
  }
  const std::int64_t lines =
      db.execute("INSERT INTO " + t + " (" + columns + ") SELECT " + columns + " FROM " + old + " ORDER BY \"Código\"");
  db.execute("UPDATE sqlite_sequence SET seq = max(seq, (SELECT seq FROM sqlite_sequence WHERE name = ?)) WHERE name = ?",
             {Text(kOldLog), Text(kTabelaHistórico)});
  db.executeScript("DROP TABLE " + old + ";\n");
  return lines;
}

}  // namespace

void schema::CreateCurrentSchema(Database& db, const QString& ref_limit) {
  Transaction tx(db);
  db.executeScript(TablesSql(true) + IndexesSql(true) + "CREATE TABLE tblPerola (RefLimite TEXT);\n" +
                   HistoryTableSql() + ArchiveSql());
  db.execute("INSERT INTO tblPerola (RefLimite) VALUES (?)", {ref_limit});
  tx.commit();
}

void schema::CreateTemporaryTables(Database& db) { db.executeScript(TablesSql(false)); }

void schema::CreateTemporaryIndexes(Database& db) { db.executeScript(IndexesSql(false)); }

Status CriarBancoAtualSqlite(const std::string& path, const QString& ref_limit) {
  if (path.empty()) return Status(kErrCannotOpen, "Nenhum banco de dados foi informado.");
  // Made here, exclusively and readable by its owner alone (it will hold
  // taxpayers' data), before SQLite opens it.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (errno == EEXIST) return Status(kErrInvalidOperation, "O arquivo \"" + path + "\" já existe e não será substituído.");
    return Status(kErrCannotOpen, "Não foi possível criar o arquivo \"" + path + "\".", std::strerror(errno));
  }
  ::close(fd);
  std::shared_ptr<Database> db;
  Status s = Database::Open(path, Database::OpenMode::kCreate, &db);
  if (!s.ok()) {
    ::unlink(path.c_str());
    return s;
  }
  try {
    schema::CreateCurrentSchema(*db, ref_limit);
  } catch (const DbError& e) {
    db->close();
    ::unlink(path.c_str());
    return e.status();
  }
  return Status::OK();
}

Status AcrescentarArquivoSqlite(const std::string& path, schema::ArchiveUpgrade* done) {
  std::shared_ptr<Database> db;
  const Status opened = Database::Open(path, Database::OpenMode::kExisting, &db);
  if (!opened.ok()) return opened;
  try {
    Transaction tx(*db);
    std::vector<std::string> missing;
    for (std::string_view t : kCurrentTables) {
      if (!db->hasTable(t)) missing.emplace_back(t);
    }
    if (!missing.empty()) return NotCurrentDatabase("O banco de dados \"" + path + "\"", missing);
    for (const auto& [table, statements] : ArchiveTables()) {
      if (db->hasTable(table)) continue;
      db->executeScript(statements);
      ++done->archive_tables;
    }
    if (!db->hasTable(kTabelaHistórico)) {
      db->executeScript(HistoryTableSql());
      done->log_created = true;
    } else if (!LogIsCurrent(*db)) {
      done->log_lines = ReshapeLog(*db);
      done->log_reshaped = true;
    }
    tx.commit();
  } catch (const DbError& e) {
    *done = schema::ArchiveUpgrade();
    return e.status();
  }
  return Status::OK();
}

}  // namespace orlan
