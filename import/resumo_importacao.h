// What one import run did, for hosts to show.
#ifndef ORLAN_IMPORT_RESUMO_IMPORTACAO_H_
#define ORLAN_IMPORT_RESUMO_IMPORTACAO_H_

#include <map>
#include <string>

// Qt's moc cannot read identifiers with accents and needs none of these.
#ifndef Q_MOC_RUN

namespace orlan {

struct ResumoImportação {
  int importados = 0;    // documents stored whole, new to the current database
  int substituídos = 0;  // documents stored whole in place of an existing return
  int ignorados = 0;     // documents declined at the overwrite question
  std::map<std::string, int> linhasPorTabela;  // rows added and kept, per table
};

}  // namespace orlan

#endif  // Q_MOC_RUN

#endif  // ORLAN_IMPORT_RESUMO_IMPORTACAO_H_
