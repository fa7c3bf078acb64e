// The import run: carries selected returns from the temporary database into
// the current database.
#ifndef ORLAN_IMPORT_IMPORTACAO_H_
#define ORLAN_IMPORT_IMPORTACAO_H_

#include <QString>
#include <QVariant>

#include <cstdint>
#include <optional>
#include <span>

#include "database/status.h"
#include "import/estado_importacao.h"

// Qt's moc cannot read identifiers with accents and needs none of these.
#ifndef Q_MOC_RUN

namespace orlan {

// The answer to "replace the return that exists?".
struct DecisãoSobrepor {
  enum class Resposta { kSim, kNão, kCancelar };
  Resposta resposta = Resposta::kCancelar;
  bool aplicarAosPróximos = false;  // the same answer for the next documents of the run, unasked
};

// What the run tells the person, besides the question.
enum class AvisoImportação {
  kNadaSelecionado,  // nothing was selected; the run does not start
  kFalhaCadastro,    // a taxpayer could not be stored; the run stops
  kConcluída,        // the run reached its end
};

// What the run needs from whoever hosts it. Calls are synchronous; none of
// them may start another run or register copy.
class AnfitriãoImportação {
 public:
  virtual ~AnfitriãoImportação() = default;
  virtual void iniciou() = 0;    // before the first document
  virtual void passo() = 0;      // before each step of a document
  virtual void finalizou() = 0;  // after kConcluída
  virtual void avisar(AvisoImportação aviso) = 0;
  // `ie` and `ref1` (a date) name the return that exists. Asked with no
  // transaction open: nothing is locked while a person reads.
  virtual DecisãoSobrepor perguntarSobrepor(const QString& ie, const QVariant& ref1) = 0;
  // Polled before each document: true ends the run there, as Cancel would.
  virtual bool interromper() = 0;
  // The answer (kSim or kNão) this host gives to every overwrite question
  // of the run without asking a person; nullopt when a person answers. When
  // known, documents whose return exists are copied in batches too: each
  // question is still asked, at its document's usual step, and must get
  // this answer.
  virtual std::optional<DecisãoSobrepor::Resposta> respostaConhecida() { return std::nullopt; }
  // True when the run starts waiting for a lock another user holds (while
  // that user makes progress), false when the wait ends.
  virtual void aguardando(bool) {}
};

// The click of Importar over the temporary headers `chaves` (their NroQUR,
// in list order). Gives back OK at every end the user chose (nothing
// selected, Cancel, the normal end); a failure status when an error ended
// the run, after rolling back the document in progress: each return is
// whole or absent.
Status ExecutarImportação(EstadoImportação& estado, std::span<const std::int32_t> chaves, AnfitriãoImportação& host);

// The two register copies of the occurrence named by the occurrence keys,
// each in a transaction of its own. Before a check run opened both
// databases they fail and write nothing.
Status GravaIERemetentes(EstadoImportação& estado);
Status GravaCredAcum(EstadoImportação& estado);

}  // namespace orlan

#endif  // Q_MOC_RUN

#endif  // ORLAN_IMPORT_IMPORTACAO_H_
