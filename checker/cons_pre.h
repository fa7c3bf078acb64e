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

#include "checker/analisador_prf.h"
#include "checker/resultado_verificacao.h"


// Qt's moc cannot read identifiers with accents and needs none of these.
#ifndef Q_MOC_RUN

namespace orlan {


// Receives the checker's two events, synchronously, from inside RunCheck.
class OuvinteConsPre {
 public:
  virtual ~OuvinteConsPre() = default;
  // Raised regularly while the check runs: at least once per percent of the
  // file read and once per phase, never thousands of times per second.
  // ConsPre::fraçãoLida() tells how far the reading is.
  virtual void ConsPre_Progresso() = 0;
  // Raised once, just before the new temporary database is put in place: the
  // listener releases any handle on that path.
  virtual void ConsPre_Fechar() = 0;
};


class ConsPre {
 public:
  // `listener` is not owned and may be null; it must outlive the checker.
  // `temporary_database` is the path the checker writes.
  ConsPre(OuvinteConsPre* listener, QString temporary_database);
  ~ConsPre();
  ConsPre(const ConsPre&) = delete;
  ConsPre& operator=(const ConsPre&) = delete;

  void SetInputFile(const QString& path);

  // Checks the file. Telling the user why a file was rejected is the
  // caller's part: faults() and report() hold the reasons.
  ResultadoVerificação RunCheck();

  // The part of the file read so far by the running check, 0 to 1 (1 after
  // the reading, while the database is written).
  double fraçãoLida() const { return fração_lida_; }
  const QString& inputFile() const { return input_file_; }

  // The SHA-256 of the bytes the last check read from the file, as 64
  // lowercase hexadecimal digits: what the temporary database was made
  // from, even when the file changed afterwards; a file read twice (not
  // UTF-8) counts once, as the second reading saw it. Empty before a check,
  // when the file could not be read to its end, and in the unlikely case
  // that libcrypto failed.
  const QString& sha256() const { return sha256_; }

  // The faults of the last run: at most 100, then a count of the rest.
  const std::vector<FalhaArquivo>& faults() const { return faults_; }
  int omittedFaults() const { return omitted_faults_; }
  // The whole report as text, one line per fault.
  QString report() const;

 private:
  class Progresso;

  ResultadoVerificação Verificar(Progresso& progresso);
  // Records a fault that is not about a line (unreadable file, database failure).
  void FalhaGeral(const QString& message);

  OuvinteConsPre* listener_;
  double fração_lida_ = 0;
  QString temporary_database_;
  QString input_file_;
  QString sha256_;
  std::vector<FalhaArquivo> faults_;
  int omitted_faults_ = 0;
};

// "Linha 3, campo CFOP: <message>", or the message alone for a fault that
// is not about a line.
QString TextoFalha(const FalhaArquivo& falha);

}  // namespace orlan

#endif  // Q_MOC_RUN

#endif  // ORLAN_CHECKER_CONS_PRE_H_
