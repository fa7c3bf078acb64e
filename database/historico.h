// Reading and writing the import run log, for each engine. Internal to
// database/: callers go through BancoAtual and SessãoCópia.
#ifndef ORLAN_DATABASE_HISTORICO_H_
#define ORLAN_DATABASE_HISTORICO_H_

#include <string>
#include <vector>

#include "database/banco_atual.h"
#include "database/pg/pg_conexao.h"
#include "database/sqlite/database.h"

#ifndef Q_MOC_RUN

namespace orlan {

// The log's columns that a run writes, in the order the writers bind them.
inline constexpr std::string_view kColunasHistórico[] = {
    "Execução", "Usuário", "Máquina", "Arquivo", "SHA256", "IE", "Ref1", "Resultado", "NroQURAnterior", "NroQURNovo"};

// kColunasHistórico quoted and comma-separated, for an INSERT's column list.
std::string ListaColunasHistórico();

// The values of kColunasHistórico for `linha` under `origem`.
std::vector<QVariant> ValoresHistórico(const OrigemHistórico& origem, const LinhaHistórico& linha);

// What a log has beyond its first columns: "Login" (a log made with the
// archive), and whether the database keeps the archive.
struct FormaHistórico {
  bool login = false;
  bool arquivo = false;
};

// The lines of the last `execuções` runs, as BancoAtual::histórico. The
// database must have the log table.
std::vector<LinhaHistórico> LerHistóricoSqlite(Database& db, int execuções);
std::vector<LinhaHistórico> LerHistóricoPg(PgConexão& conexão, int execuções, const FormaHistórico& forma);

}  // namespace orlan

#endif  // Q_MOC_RUN

#endif  // ORLAN_DATABASE_HISTORICO_H_
