// The checker: validates a ".prf" file and writes its contents into the
// temporary database.
//
// A new checker is made for every check run. RunCheck reads the file named by
// SetInputFile as a stream, validates every line, and on acceptance writes the
// temporary database in one transaction to a side file, which is renamed onto
// the temporary database's path only when complete. A rejected file, or a
// failure on the way, leaves no temporary database at that path.
#ifndef ORLAN_CHECKER_CONS_PRE_H_
#define ORLAN_CHECKER_CONS_PRE_H_

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

#include "control/dialogs.h"

// Qt's moc cannot read identifiers with accents and needs none of these.
#ifndef Q_MOC_RUN

namespace orlan {

// Results of RunCheck.
enum ResultadoVerificação : std::int16_t {
  kVerificaçãoAceita = 0,        // accepted; the temporary database is written and complete
  kArquivoIlegível = 1,          // missing, unreadable or empty file
  kConteúdoInválido = 2,         // the file breaks the format; see report()
  kFalhaAoGravarBanco = 3,       // the temporary database could not be written
};

// Receives the checker's two events, synchronously, from inside RunCheck.
class OuvinteConsPre {
 public:
  virtual ~OuvinteConsPre() = default;
  // Raised regularly while the check runs: at least once per percent of the
  // file read and once per phase, never thousands of times per second.
  virtual void ConsPre_Progresso() = 0;
  // Raised once, just before the new temporary database is put in place: the
  // listener releases any handle on that path.
  virtual void ConsPre_Fechar() = 0;
};

// One fault of a rejected file.
struct FalhaArquivo {
  int line = 0;      // 1-based; 0 when the fault is not on a line (e.g. an empty file)
  QString field;     // field name, empty when the fault is not about one field
  QString message;
};

class ConsPre {
 public:
  // `listener` and `dialogs` are not owned and may be null; they must outlive
  // the checker. `temporary_database` is the path the checker writes.
  ConsPre(OuvinteConsPre* listener, Dialogs* dialogs, QString temporary_database);
  ~ConsPre();
  ConsPre(const ConsPre&) = delete;
  ConsPre& operator=(const ConsPre&) = delete;

  void SetInputFile(const QString& path);

  // Checks the file. On a rejection the user is shown a message (title
  // "Atenção!", style 16) that lists the first faults.
  std::int16_t RunCheck();

  // The faults of the last run: at most 100, then a count of the rest.
  const std::vector<FalhaArquivo>& faults() const { return faults_; }
  int omittedFaults() const { return omitted_faults_; }
  // The whole report as text, one line per fault.
  QString report() const;

 private:
  class Progresso;

  std::int16_t Verificar(Progresso& progresso);
  // Records a fault that is not about a line (unreadable file, database failure).
  void FalhaGeral(const QString& message);
  QString MensagemRejeição(std::int16_t resultado) const;

  OuvinteConsPre* listener_;
  Dialogs* dialogs_;
  QString temporary_database_;
  QString input_file_;
  std::vector<FalhaArquivo> faults_;
  int omitted_faults_ = 0;
};

}  // namespace orlan

#endif  // Q_MOC_RUN

#endif  // ORLAN_CHECKER_CONS_PRE_H_
