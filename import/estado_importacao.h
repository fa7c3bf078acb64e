// The state that the import run and its table copies share. The control owns
// one of these for its whole life; nothing clears it between documents or runs.
#ifndef ORLAN_IMPORT_ESTADO_IMPORTACAO_H_
#define ORLAN_IMPORT_ESTADO_IMPORTACAO_H_

#include <QString>
#include <QVariant>

#include <cstdint>
#include <memory>

#include "database/banco_atual.h"
#include "database/sqlite/database.h"
#include "import/resumo_importacao.h"

// Qt's moc cannot read identifiers with accents and needs none of these.
#ifndef Q_MOC_RUN

namespace orlan {

struct EstadoImportação {
  // The two databases, opened by the check run; never closed by the control.
  std::shared_ptr<Database> BancoTemp;
  std::shared_ptr<orlan::BancoAtual> BancoAtual;

  // Per document.
  std::int32_t QtdeSelecionados = 0;
  std::int32_t NroQURTemp = 0;
  QVariant IEDocumento;
  // The list's filter text, or the Ref1 date of the document imported last.
  QVariant Ref1Documento;
  std::int32_t NroQURNovo = 0;
  // 1-based position of the document in progress among the selected ones;
  // 0 outside a run.
  int DocumentoEmCurso = 0;
  // True while a run goes on: a register copy asked for meanwhile is refused.
  bool EmExecução = false;

  // Per occurrence.
  std::int32_t CódigoOcorrênciaTemp = 0;
  std::int32_t CódigoOcorrênciaNovo = 0;

  // The ".prf" file the temporary database was checked from, and the
  // SHA-256 of the bytes the check read (64 lowercase hexadecimal digits),
  // for the run log. Set by each accepted check.
  QString ArquivoOrigem;
  QString Sha256Origem;
  // True when the temporary database holds an archived return brought back
  // (ArquivoOrigem then names its archive row): stored documents are
  // logged as restored.
  bool RestauraçãoOrigem = false;

  // The IE the taxpayer copy handled last.
  QString IEAnterior;
  // Why the last taxpayer copy that failed did (the database's refusal),
  // set before the host is told kFalhaCadastro. Never cleared by the run.
  Status FalhaCadastro;

  // The summary of the last import run.
  ResumoImportação resumo;
};

}  // namespace orlan

#endif  // Q_MOC_RUN

#endif  // ORLAN_IMPORT_ESTADO_IMPORTACAO_H_
