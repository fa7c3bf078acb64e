// The import run log on a PostgreSQL current database (the tests' private
// server): the table orlan-newdb makes there, and `orlan-import --history N`
// as a child process over lines written through a real copy session.
#include <QDateTime>
#include <QTemporaryDir>
#include <QTest>

// moc reads ASCII only: it sees the test class and nothing else.
#ifndef Q_MOC_RUN
#include <memory>

#include "database/banco_atual.h"
#include "database/pg/pg_conexao.h"
#include "database/sqlite_handle.h"
#include "support/pg_support.h"
#include "support/test_support.h"
#include "test_historico_apoio.h"
#endif

using namespace orlan;

class TestPgHistorico : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();

  void newDatabaseHasTheLog();
  void historyPrintsTheLastRunsNewestFirst();
  void historyWithoutTableOrLines();

  // moc reads ASCII only.
#ifndef Q_MOC_RUN
 private:
  // A new database on the test server with orlan-newdb's tables; its URI.
  QString NovoBanco();
  std::shared_ptr<BancoAtual> Abrir(const QString& uri);
  test::ProcessResult Histórico(const QString& uri, const QString& n) {
    return test::Run(test::ProgramPath(QStringLiteral("orlan-import")), {"--db", uri, "--history", n});
  }

  QTemporaryDir dir_;
#endif  // Q_MOC_RUN
};

#ifndef Q_MOC_RUN

#define EXIGIR_SERVIDOR()                                                                    \
  do {                                                                                       \
    if (test::PgServidorDeTeste().isEmpty()) QSKIP(qPrintable(test::PgMotivoSemServidor())); \
  } while (false)

void TestPgHistorico::initTestCase() {
  QVERIFY(dir_.isValid());
  test::IsolateSettings(dir_.filePath(QStringLiteral("config")));
}

QString TestPgHistorico::NovoBanco() {
  const QString uri = test::PgNovoBanco();
  const test::ProcessResult r = test::Run(test::ProgramPath(QStringLiteral("orlan-newdb")), {uri});
  if (r.exit_code != 0) qFatal("orlan-newdb %s: %s", qPrintable(uri), qPrintable(r.err));
  return uri;
}

std::shared_ptr<BancoAtual> TestPgHistorico::Abrir(const QString& uri) {
  std::shared_ptr<BancoAtual> b;
  const Status s = AbrirBancoAtual(uri, &b);
  if (!s.ok()) qFatal("opening %s: %s", qPrintable(uri), s.ToString().c_str());
  return b;
}

void TestPgHistorico::newDatabaseHasTheLog() {
  EXIGIR_SERVIDOR();
  std::shared_ptr<BancoAtual> banco = Abrir(NovoBanco());
  QVERIFY(banco->temHistórico());
  QVERIFY(banco->histórico(5).empty());
}

void TestPgHistorico::historyPrintsTheLastRunsNewestFirst() {
  EXIGIR_SERVIDOR();
  const QString uri = NovoBanco();
  std::shared_ptr<BancoAtual> banco = Abrir(uri);
  const QString temp = dir_.filePath(QStringLiteral("temp.db"));
  test::CreateEmptyDatabase(temp);
  const QDateTime antes = QDateTime::currentDateTimeUtc();
  test::EscreverTrêsExecuções(*banco, test::OpenExisting(temp));
  banco->fechar();

  const test::ProcessResult r = Histórico(uri, QStringLiteral("2"));
  QCOMPARE(r.exit_code, 0);
  QVERIFY2(r.err.isEmpty(), qPrintable(r.err));
  test::ConferirDuasÚltimas(r.out, antes, QStringLiteral("orlan"));

  const test::ProcessResult todas = Histórico(uri, QStringLiteral("3"));
  QCOMPARE(todas.exit_code, 0);
  QCOMPARE(todas.out.count(QLatin1Char('\n')), 5);
  QVERIFY(todas.out.startsWith(r.out));
  QVERIFY(todas.out.endsWith(QStringLiteral("\tana\tmaq1\t/dados/a.prf\t%1\t111\t2006-03-01\timportado\t\t5\torlan\t\n")
                                 .arg(QString(64, QLatin1Char('a')))));
}

void TestPgHistorico::historyWithoutTableOrLines() {
  EXIGIR_SERVIDOR();
  const QString uri = NovoBanco();
  const test::ProcessResult vazio = Histórico(uri, QStringLiteral("1"));
  QCOMPARE(vazio.exit_code, 3);
  QVERIFY2(vazio.out.isEmpty(), qPrintable(vazio.out));

  {
    std::unique_ptr<PgConexão> c;
    const Status s = PgConexão::Abrir(uri, &c);
    QVERIFY2(s.ok(), s.ToString().c_str());
    c->executar("DROP TABLE " + QuoteIdentifier(kTabelaHistórico));
  }
  // The server lets the socket in without asking for it, so a password in
  // the address is never needed, and must not be shown.
  const QString com_senha = uri + QStringLiteral("&password=segredo123");
  const test::ProcessResult sem = Histórico(com_senha, QStringLiteral("1"));
  QCOMPARE(sem.exit_code, 3);
  QVERIFY2(sem.out.isEmpty(), qPrintable(sem.out));
  QVERIFY2(sem.err.contains(QStringLiteral("não tem histórico de importações")), qPrintable(sem.err));
  QVERIFY2(sem.err.contains(NomeSemSenha(com_senha)), qPrintable(sem.err));
  QVERIFY2(!sem.err.contains(QStringLiteral("segredo123")), qPrintable(sem.err));
}

#endif  // Q_MOC_RUN

QTEST_GUILESS_MAIN(TestPgHistorico)
#include "test_pg_historico.moc"
