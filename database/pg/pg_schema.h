// The current database's tables on a PostgreSQL server.
//
// The same tables and columns as the SQLite current database (names with
// their accents, as quoted identifiers), typed for the server: dates as date,
// date-times as timestamp, amounts as numeric(19,4), flags as boolean, text
// as text. Keys are identity columns, never reused; detail rows cascade from
// their header and register rows from their occurrence; a taxpayer's IE is
// unique without regard to letter case.
#ifndef ORLAN_DATABASE_PG_PG_SCHEMA_H_
#define ORLAN_DATABASE_PG_PG_SCHEMA_H_

#include <QString>

#include <string>
#include <string_view>

#include "database/schema.h"
#include "database/status.h"

namespace orlan {

// The statements that make the current database's tables and indexes (no
// transaction, no rows).
std::string PgTabelasAtuais();

// The function through which a run writes its log lines (clerks may not
// write the log table): (execução, usuário, máquina, arquivo, sha256,
// ies text[], ref1s date[], resultados text[], anteriores integer[],
// novos integer[]), one line per array position, in order; returns how
// many. The server adds its time, the login and the archive row of a
// replaced return.
inline constexpr std::string_view kFunçãoHistórico = "orlan_registrar_historico";

// Creates the current database's tables in the existing database at `uri`
// and stores `ref_limit` (a four-digit year) in tblPerola, in one transaction.
// Refuses, changing nothing, when any of the tables is already there.
Status CriarBancoAtualPostgres(const QString& uri, const QString& ref_limit);

// The server's side of schema::AddArchive: in one transaction, makes in the
// existing current database at `uri` what a new one has and it lacks (the
// archive's tables, the log or the log's new columns and CHECK, the log's
// function, deletion trigger and revoked write rights). Refuses, changing
// nothing, a database without the current database's tables, and one whose
// tables belong to a role other than the one connected.
Status AcrescentarArquivoPostgres(const QString& uri, schema::ArchiveUpgrade* feito);

}  // namespace orlan

#endif  // ORLAN_DATABASE_PG_PG_SCHEMA_H_
