// The run log's lines as the control and its hosts read them. A current
// database keeps one line per document an import run reached (see
// BancoAtual::histórico).
#ifndef ORLAN_DATABASE_LINHA_HISTORICO_H_
#define ORLAN_DATABASE_LINHA_HISTORICO_H_

#include <QDate>
#include <QString>

#include <cstdint>
#include <optional>
#include <string_view>

// Qt's moc cannot read identifiers with accents and needs none of these.
#ifndef Q_MOC_RUN

namespace orlan {

enum class ResultadoDocumento {
  kImportado,    // stored; no return of its IE and day was there
  kSubstituído,  // stored in place of the one that was there (archived, where the database keeps an archive)
  kIgnorado,     // left out: No, or Cancel on its question
  kFalhou,       // an error ended the run at this document; nothing of it stored
  kRestaurado,   // an archived return stored again (in place of the one there, if any)
  kApagado,      // deleted outside the programs; written by the server alone
};

// "importado", "substituído", "ignorado", "falhou", "restaurado",
// "apagado": the words the log holds.
std::string_view TextoResultado(ResultadoDocumento r);
// The inverse; nullopt for any other text.
std::optional<ResultadoDocumento> ResultadoDeTexto(std::string_view texto);

// Who ran an import and from what file: the same for every line of a run.
struct OrigemHistórico {
  QString execução;  // tells one run from another (a UUID)
  QString usuário;   // the operating-system user
  QString máquina;   // the host's name
  QString arquivo;   // the ".prf" file's path; for a restore, "arquivamento N"
  QString sha256;    // its SHA-256, 64 lowercase hexadecimal digits (empty when unknown)
  bool restauração = false;  // the documents stored come from the archive: their outcome is kRestaurado
};

// One line of the log.
struct LinhaHistórico {
  QString momento;  // when it was written, by the database's clock: "yyyy-MM-ddTHH:mm:ssZ" (UTC)
  OrigemHistórico origem;
  QString login;    // the server login that wrote it; empty on a file
  QString ie;
  QDate ref1;
  ResultadoDocumento resultado = ResultadoDocumento::kImportado;
  std::optional<std::int64_t> anterior;  // the NroQUR replaced
  std::optional<std::int64_t> novo;      // the NroQUR stored
  // The archive row that holds the return replaced (the one of its
  // NroQUR), while the archive still holds it: what restoring it takes.
  std::optional<std::int64_t> arquivamento;
};

// The outcome of a stored or declined document of a batch.
ResultadoDocumento ResultadoDoItem(const OrigemHistórico& origem, bool armazenar, bool substituir);

}  // namespace orlan

#endif  // Q_MOC_RUN

#endif  // ORLAN_DATABASE_LINHA_HISTORICO_H_
