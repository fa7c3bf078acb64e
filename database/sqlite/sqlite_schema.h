// The current and the temporary database's tables in an SQLite file.
#ifndef ORLAN_DATABASE_SQLITE_SQLITE_SCHEMA_H_
#define ORLAN_DATABASE_SQLITE_SQLITE_SCHEMA_H_

#include <QString>

#include <string>

#include "database/schema.h"
#include "database/sqlite/database.h"
#include "database/status.h"

namespace orlan {

namespace schema {

// The current database: NroQUR and Código numbered by the database and never
// reused; detail rows cascade from their header, register rows from their
// occurrence; tblContribuinte.IE unique; tblPerola with one row holding
// `ref_limit`; the run log and the archive. Runs in one transaction.
void CreateCurrentSchema(Database& db, const QString& ref_limit);

// The temporary database's tables: same names and columns, keys given by the
// writer. Indexes come separately, so that a bulk load can build them last.
void CreateTemporaryTables(Database& db);
void CreateTemporaryIndexes(Database& db);

}  // namespace schema

// The file's side of schema::CreateCurrentDatabase: a new current database
// file at `path`, made readable by its owner alone; refuses an existing
// file, and leaves none behind when it fails.
Status CriarBancoAtualSqlite(const std::string& path, const QString& ref_limit);

// The file's side of schema::AddArchive, in one transaction of the file at
// `path`.
Status AcrescentarArquivoSqlite(const std::string& path, schema::ArchiveUpgrade* done);

}  // namespace orlan

#endif  // ORLAN_DATABASE_SQLITE_SQLITE_SCHEMA_H_
