// The state that the import run and its table copies share. The control owns
// one of these for its whole life; nothing clears it between documents or runs.
#ifndef ORLAN_IMPORT_ESTADO_IMPORTACAO_H_
#define ORLAN_IMPORT_ESTADO_IMPORTACAO_H_

#include <QString>
#include <QVariant>

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "database/database.h"

// Qt's moc cannot read identifiers with accents and needs none of these.
#ifndef Q_MOC_RUN

namespace orlan {

// What one import run did, for hosts to show.
struct ResumoImportação {
  int importados = 0;    // documents copied whole, new to the current database
  int substituídos = 0;  // documents that replaced an existing return
  int ignorados = 0;     // documents declined at the overwrite question
  std::map<std::string, int> linhasPorTabela;  // rows added, per table
};

struct EstadoImportação {
  // The two databases, opened by the check run; never closed by the control.
  std::shared_ptr<Database> BancoTemp;
  std::shared_ptr<Database> BancoAtual;

  // Per document.
  std::int32_t QtdeSelecionados = 0;
  std::int32_t NroQURTemp = 0;
  QVariant IEDocumento;
  // The list's filter text, or the Ref1 date of the document imported last.
  QVariant Ref1Documento;
  std::int32_t NroQURNovo = 0;

  // Per occurrence.
  std::int32_t CódigoOcorrênciaTemp = 0;
  std::int32_t CódigoOcorrênciaNovo = 0;

  // The IE the taxpayer copy handled last.
  QString IEAnterior;

  // The summary of the last import run.
  ResumoImportação resumo;
};

}  // namespace orlan

#endif  // Q_MOC_RUN

#endif  // ORLAN_IMPORT_ESTADO_IMPORTACAO_H_
