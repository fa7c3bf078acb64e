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

#include "control/scripted_dialogs.h"
#include "import/importacao.h"
#include "test_import_dados.h"

namespace {

class Anfitrião : public orlan::AnfitriãoImportação {
 public:
  void raise(orlan::Evento) override {}
  orlan::Dialogs& dialogs() override { return diálogos; }
  orlan::ScriptedDialogs diálogos;
};

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
  estado.BancoAtual = Abrir(argv[2]);
  const std::vector<orlan::ItemLista> itens = orlan::test::ListaDe(*estado.BancoTemp);
  std::printf("pronto\n");
  std::fflush(stdout);
  const int execuções = std::atoi(argv[3]);
  for (int r = 0; r < execuções; ++r) {
    Anfitrião host;
    for (size_t i = 0; i < itens.size(); ++i) host.diálogos.queueAnswer(orlan::kRespostaSim, r % 2 == 1);
    const orlan::Status s = orlan::ExecutarImportação(estado, itens, host);
    if (!s.ok()) {
      std::fprintf(stderr, "run %d: %s\n", r, s.ToString().c_str());
      return 1;
    }
  }
  return 0;
}
