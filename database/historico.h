// The import run log's shape, the same for both engines: the columns a run
// writes and their values, and the query that reads the last runs back. Each
// engine reads and writes its own log with these (SqliteBancoAtual,
// PgBancoAtual). Internal to database/: callers go through BancoAtual and
// SessãoCópia.
#ifndef ORLAN_DATABASE_HISTORICO_H_
#define ORLAN_DATABASE_HISTORICO_H_

#include <QVariant>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "database/banco_atual.h"
#include "database/linha_historico.h"

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

// The query of the lines of the last runs, as BancoAtual::histórico gives
// them, for a log of shape `forma`: `momento` is the engine's expression of
// the line's time as "yyyy-mm-ddThh:mm:ssZ" text, and `limite` its
// parameter for the number of runs. Its columns, in order, are
// kColunasHistóricoLidas.
std::string ConsultaHistórico(const std::string& momento, const std::string& limite, const FormaHistórico& forma);
inline constexpr std::string_view kColunasHistóricoLidas[] = {
    "Momento", "Usuário", "Máquina", "Arquivo", "SHA256", "IE", "Ref1", "Resultado", "NroQURAnterior", "NroQURNovo",
    "Execução", "Login", "Arquivamento"};

// One line of that query, from `valor(i)`, its i-th column.
LinhaHistórico LinhaDoHistórico(const std::function<QVariant(int)>& valor);

}  // namespace orlan

#endif  // Q_MOC_RUN

#endif  // ORLAN_DATABASE_HISTORICO_H_
