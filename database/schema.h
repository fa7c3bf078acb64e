// The tables of the current and the temporary database, described once.
//
// Each record of a ".prf" file fills one table; its fields, in file order,
// are the table's columns after the key. The checker validates against these
// descriptions, the schema builders (database/sqlite/sqlite_schema.h and
// database/pg/pg_schema.h) make tables from them, and the sample generator
// writes records from them.
#ifndef ORLAN_DATABASE_SCHEMA_H_
#define ORLAN_DATABASE_SCHEMA_H_

#include <QString>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "database/status.h"

namespace orlan::schema {

enum class FieldType {
  kText,      // T(n): at most `length` characters          -> TEXT
  kIE,        // 1 to 14 ASCII letters or digits             -> TEXT
  kDate,      // dd/mm/yyyy                                   -> DATE "yyyy-mm-dd"
  kDateTime,  // dd/mm/yyyy [hh:mm:ss]                        -> DATETIME
  kMonth,     // mm/yyyy                                      -> DATE "yyyy-mm-20"
  kNumber,    // -digits[.digits], <= 15 significant digits   -> REAL
  kBoolean,   // 0 or 1                                       -> BOOLEAN 0/1
};

struct FieldDef {
  std::string_view name;
  FieldType type;
  int length;  // characters, for kText; 14 for kIE; 0 otherwise
  bool required;
  // Newer than some current databases that hosts made: a copy passes over it
  // when the current database's table lacks it.
  bool may_lack = false;
};

// What a record belongs to, and so which key its row carries.
enum class Parent {
  kFile,        // CONTRIBUINTE: no key
  kTaxpayer,    // QUR: gets its own NroQUR
  kReturn,      // detail tables: carry NroQUR; OCORRENCIA also gets its own Código
  kOccurrence,  // registers: carry Código
};

struct RecordDef {
  std::string_view code;   // record code in the file, e.g. "CFOP"
  std::string_view table;  // table it fills, e.g. "tblDetalhesCFOPs"
  Parent parent;
  std::span<const FieldDef> fields;  // in file order
};

inline constexpr std::string_view kReturnKey = "NroQUR";      // key of tblQUR
inline constexpr std::string_view kOccurrenceKey = "Código";  // key of tblOcorrências
inline constexpr std::string_view kReturnTable = "tblQUR";
inline constexpr std::string_view kOccurrenceTable = "tblOcorrências";
inline constexpr std::string_view kTaxpayerTable = "tblContribuinte";
inline constexpr std::string_view kLimitTable = "tblPerola";

// The thirteen data records, in the order the format lists them
// (CONTRIBUINTE, QUR, PAGAMENTO, CFOP, INTERUF, ZFMALC, OCORRENCIA,
// IEREMETENTE, IESUBSTITUIDO, IESUBSTITUTO, RECIBOCREDITO, DIPAM,
// REGEXPORTACAO).
std::span<const RecordDef> Records();

// The record of a code, or nullptr.
const RecordDef* FindRecord(std::string_view code);

// The record that fills a table, or nullptr.
const RecordDef* FindTable(std::string_view table);

// How one detail table of a return moves: the rows whose `link` field holds
// the parent's key, with `fields` (the record's fields) copied unchanged.
struct TableCopy {
  std::string_view table;
  std::string_view link;  // NroQUR for a return's tables, Código for an occurrence's registers
  std::span<const FieldDef> fields;
};

// The seven detail tables of a return, in the order an import copies them
// (payments, CFOPs, interstate, ZFM/ALC, occurrences, DIPAM, exports).
std::span<const TableCopy> ReturnDetailCopies();
// The four registers of an occurrence, in the order an import copies them.
std::span<const TableCopy> OccurrenceRegisterCopies();
// The copy of `table` (a detail or register table); throws std::out_of_range
// for any other.
const TableCopy& CopyOf(std::string_view table);

// The archive of replaced returns: a row of kArchiveTable per return
// ("Código", "Momento", "Login", "NroQUR", "IE", "Ref1"), and for
// every data table its copy, ArchivedTable(table), whose rows carry
// kArchiveLink (the archive row's Código) and kArchiveOrder before the
// table's own columns.
// Current databases made before it have none of these tables.
inline constexpr std::string_view kArchiveTable = "tblArquivamento";
inline constexpr std::string_view kArchiveLink = "Arquivamento";
// A copy's rows keep their order in this column, after kArchiveLink.
inline constexpr std::string_view kArchiveOrder = "Ordem";
std::string ArchivedTable(std::string_view table);

// The columns a record's table has before its fields: "Id" (taxpayer),
// "NroQUR" (header), "Código" and "NroQUR" (occurrence), "NroQUR" (other
// detail tables), "Código" (registers).
std::vector<std::string_view> KeyColumns(const RecordDef& r);

// Creates a new, empty current database file at `path`; refuses an existing
// file. `ref_limit` is the four-digit year for tblPerola.RefLimite. A
// "postgresql://" or "postgres://" name is a server's existing, empty
// database: the tables are made there, and any table already there makes it
// refuse without changing anything.
Status CreateCurrentDatabase(const std::string& path, const QString& ref_limit);

// What AddArchive made; nothing at all for a database that had it all.
struct ArchiveUpgrade {
  int archive_tables = 0;      // tables of the archive made
  bool log_created = false;    // the run log was missing and was made
  bool log_reshaped = false;   // the log took its current shape, every line kept with its "Código"
  std::int64_t log_lines = 0;  // the lines the reshaped log kept
  bool server_log = false;     // on a server: the log's function, deletion trigger or write rights set
  bool nothing() const { return archive_tables == 0 && !log_created && !log_reshaped && !server_log; }
};

// The tables without which a database is not a current one, for AddArchive.
inline constexpr std::string_view kCurrentTables[] = {kReturnTable, kTaxpayerTable, kLimitTable};
// kErrNotCurrentDatabase naming `where` (the database, as a message's
// subject) and the kCurrentTables it lacks.
Status NotCurrentDatabase(const std::string& where, const std::vector<std::string>& missing);

// Gives the existing current database `name` (a file's path, or a server's
// address as CreateCurrentDatabase takes it) what a new one has: the archive
// of replaced returns and the run log in its current shape, which an older
// log takes keeping every line (on a server, with the function that writes
// it, the trigger that logs deletions and no one but the owner allowed to
// write it). Only what is missing is made, in one transaction: on any
// failure nothing changes. `*done` tells what was made.
Status AddArchive(const std::string& name, ArchiveUpgrade* done);

}  // namespace orlan::schema

#endif  // ORLAN_DATABASE_SCHEMA_H_
