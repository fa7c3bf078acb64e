// Child of the import fault test: imports every document of a temporary
// database into a current database, run after run, answering Yes to every
// overwrite question, until it is killed or has made the runs asked for.
//
//   importacao_filho <temporary db> <current db> <runs>
//
// Even runs answer each question on its own (a commit per question); odd
// runs tick "apply to the next ones" (one transaction for the whole run).
// Prints "pronto" once both databases are open. Exits 1 on a failed run.
#include <cstdio>

#include <QCoreApplication>

#include "control/importacao_dialogos.h"
#include "database/sqlite/recordset.h"
#include "database/sqlite/sqlite_banco_atual.h"
#include "import/importacao.h"
#include "support/scripted_dialogs.h"

namespace {

std::shared_ptr<orlan::Database> Abrir(const char* path) {
  std::shared_ptr<orlan::Database> db;
  const orlan::Status s = orlan::Database::Open(path, orlan::Database::OpenMode::kExisting, &db);
  if (!s.ok()) {
    std::fprintf(stderr, "%s\n", s.ToString().c_str());
    std::exit(2);
  }
  return db;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc != 4) {
    std::fprintf(stderr, "usage: importacao_filho <temporary db> <current db> <runs>\n");
    return 2;
  }
  orlan::EstadoImportação estado;
  estado.BancoTemp = Abrir(argv[1]);
  estado.BancoAtual = std::make_shared<orlan::SqliteBancoAtual>(Abrir(argv[2]));
  std::vector<std::int32_t> chaves;
  for (orlan::Recordset r = estado.BancoTemp->openQuery("SELECT NroQUR FROM tblQUR ORDER BY NroQUR"); !r.eof();
       r.moveNext()) {
    chaves.push_back(r.value("NroQUR").toInt());
  }
  std::printf("pronto\n");
  std::fflush(stdout);
  const int execuções = std::atoi(argv[3]);
  for (int r = 0; r < execuções; ++r) {
    orlan::ScriptedDialogs diálogos;
    orlan::ImportaçãoPorDiálogos host(diálogos, [](orlan::Evento) {});
    for (size_t i = 0; i < chaves.size(); ++i) diálogos.queueAnswer(orlan::kRespostaSim, r % 2 == 1);
    const orlan::Status s = orlan::ExecutarImportação(estado, chaves, host);
    if (!s.ok()) {
      std::fprintf(stderr, "run %d: %s\n", r, s.ToString().c_str());
      return 1;
    }
  }
  return 0;
}
