// What the run log tests share, whatever engine holds the current database:
// three runs written through a real copy session, and a check of what
// `orlan-import --history 2` printed for them.
#ifndef ORLAN_TESTS_TEST_HISTORICO_APOIO_H_
#define ORLAN_TESTS_TEST_HISTORICO_APOIO_H_

#include <QDateTime>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTest>
#include <memory>
#include <vector>

#include "database/banco_atual.h"
#include "database/sqlite/database.h"
#include "support/test_support.h"

namespace orlan::test {

inline LinhaHistórico LinhaDoLog(const QString& ie, const QDate& ref1, ResultadoDocumento resultado,
                                 std::optional<std::int64_t> anterior, std::optional<std::int64_t> novo) {
  LinhaHistórico l;
  l.ie = ie;
  l.ref1 = ref1;
  l.resultado = resultado;
  l.anterior = anterior;
  l.novo = novo;
  return l;
}

// Writes three runs, oldest first, each in a transaction of its own: "a"
// (one document), "b" (a user, host and file name holding a tab, a line
// end and a CR; no digest) and "c" (a document without IE or reference).
// `temp` is any SQLite file: the session attaches it and copies nothing.
inline void EscreverTrêsExecuções(BancoAtual& banco, const std::shared_ptr<Database>& temp) {
  struct Execução {
    OrigemHistórico origem;
    std::vector<LinhaHistórico> linhas;
  };
  const std::vector<Execução> execuções = {
      {{"exec-a", "ana", "maq1", "/dados/a.prf", QString(64, QLatin1Char('a'))},
       {LinhaDoLog("111", QDate(2006, 3, 1), ResultadoDocumento::kImportado, std::nullopt, 5)}},
      {{"exec-b", "bruno\tsilva", "maq\n2", "/dados/b\r\nc.prf", QString()},
       {LinhaDoLog("111", QDate(2006, 3, 1), ResultadoDocumento::kSubstituído, 5, 7),
        LinhaDoLog("222", QDate(2006, 4, 1), ResultadoDocumento::kIgnorado, std::nullopt, std::nullopt)}},
      {{"exec-c", "carla", "maq3", "/dados/c.prf", QString(64, QLatin1Char('c'))},
       {LinhaDoLog("333", QDate(2006, 5, 1), ResultadoDocumento::kImportado, std::nullopt, 9),
        LinhaDoLog(QString(), QDate(), ResultadoDocumento::kFalhou, std::nullopt, std::nullopt)}},
  };
  for (const Execução& e : execuções) {
    std::unique_ptr<SessãoCópia> sessão = banco.abrirSessão(temp);
    sessão->iniciar();
    for (const LinhaHistórico& l : e.linhas) sessão->registrarHistórico(e.origem, l);
    sessão->confirmar();
  }
}

// `out` is what `orlan-import --history 2` printed after
// EscreverTrêsExecuções: runs "c" then "b", each in the order written, twelve
// fields a line, tabs and line ends folded into spaces, empty fields for
// what a line lacks (no restore ID: the archive holds none of them), the
// server's `login` (empty for a file), and the database's time of each
// line (UTC) close to `antes`.
inline void ConferirDuasÚltimas(const QString& out, const QDateTime& antes, const QString& login) {
  QVERIFY2(out.endsWith(QLatin1Char('\n')), qPrintable(out));
  const QStringList linhas = out.chopped(1).split(QLatin1Char('\n'));
  const QString sha_c(64, QLatin1Char('c'));
  // The expected fields after the time.
  const QList<QStringList> esperadas = {
      {"carla", "maq3", "/dados/c.prf", sha_c, "333", "2006-05-01", "importado", "", "9", login, ""},
      {"carla", "maq3", "/dados/c.prf", sha_c, "", "", "falhou", "", "", login, ""},
      {"bruno silva", "maq 2", "/dados/b  c.prf", "", "111", "2006-03-01", QStringLiteral("substituído"), "5", "7", login, ""},
      {"bruno silva", "maq 2", "/dados/b  c.prf", "", "222", "2006-04-01", "ignorado", "", "", login, ""},
  };
  QCOMPARE(linhas.size(), esperadas.size());
  static const QRegularExpression iso(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}T\\d{2}:\\d{2}:\\d{2}Z$"));
  for (int i = 0; i < linhas.size(); ++i) {
    QStringList campos = linhas[i].split(QLatin1Char('\t'));
    QCOMPARE(campos.size(), 12);
    const QString momento = campos.takeFirst();
    QVERIFY2(iso.match(momento).hasMatch(), qPrintable(momento));
    const QDateTime quando = QDateTime::fromString(momento, Qt::ISODate);
    QVERIFY2(quando.isValid() && quando.secsTo(antes) <= 5 && antes.secsTo(quando) <= 600, qPrintable(momento));
    QCOMPARE(campos, esperadas[i]);
  }
}

}  // namespace orlan::test

#endif  // ORLAN_TESTS_TEST_HISTORICO_APOIO_H_
