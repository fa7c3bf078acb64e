// Faults of a PostgreSQL current database while orlan-import writes it: the
// importer killed at random moments, its server session terminated, the
// server restarted. After each, every return is whole or absent (none
// half-written, none stored twice, none of the earlier ones lost), and the
// next run completes without any repair.
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

// moc reads ASCII only: it sees the test class and nothing else.
#ifndef Q_MOC_RUN
#include <memory>

#include "database/pg/pg_conexao.h"
#include "support/pg_support.h"
#include "support/test_support.h"
#include "test_reliability_apoio.h"

using namespace orlan;
#endif  // Q_MOC_RUN

class TestPgFalhas : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void importadorMortoAQualquerMomento();
  void falhaDoServidorNoMeio_data();
  void falhaDoServidorNoMeio();

 private:
#ifndef Q_MOC_RUN
  // A current database holding every return of the file once.
  QString bancoImportado();
  QStringList argumentos(const QString& banco) const;
  std::unique_ptr<QProcess> iniciarImportação(const QStringList& argumentos) const;
  QString violações(const QString& banco) const;

  QTemporaryDir dir_;
  QString arquivo_;
  test::Contagens fontes_;
  qint64 duração_ms_ = 0;  // a whole replacing run
#endif
};

#ifndef Q_MOC_RUN
namespace {

constexpr int kMortes = 50;

#define EXIGIR_SERVIDOR()                                                                      \
  do {                                                                                         \
    if (test::PgServidorDeTeste().isEmpty()) QSKIP(qPrintable(test::PgMotivoSemServidor())); \
  } while (false)

}  // namespace

void TestPgFalhas::initTestCase() {
  QVERIFY(dir_.isValid());
  test::IsolateSettings(dir_.filePath(QStringLiteral("config")));
  arquivo_ = dir_.filePath(QStringLiteral("grande.prf"));
  test::GerarArquivo(arquivo_, 30, 6, 1, 20, 5);
  fontes_ = test::ContagensDoArquivo(arquivo_, dir_.filePath(QStringLiteral("fontes.fix")));
  QCOMPARE(fontes_.size(), 180);
}

QStringList TestPgFalhas::argumentos(const QString& banco) const {
  return {QStringLiteral("--db"), banco, QStringLiteral("--component-dir"), dir_.filePath(QStringLiteral("componente")),
          QStringLiteral("--overwrite"), QStringLiteral("yes"), arquivo_};
}

QString TestPgFalhas::bancoImportado() {
  const QString banco = test::PgNovoBanco();
  const test::ProcessResult novo = test::Run(test::ProgramPath(QStringLiteral("orlan-newdb")), {banco});
  if (novo.exit_code != 0) qFatal("orlan-newdb: %s", qPrintable(novo.err));
  const test::ProcessResult r = test::Run(test::ProgramPath(QStringLiteral("orlan-import")), argumentos(banco));
  if (r.exit_code != 0) qFatal("orlan-import: %s%s", qPrintable(r.out), qPrintable(r.err));
  // How long a run that replaces every return takes, to aim the faults.
  QElapsedTimer t;
  t.start();
  const test::ProcessResult de_novo = test::Run(test::ProgramPath(QStringLiteral("orlan-import")), argumentos(banco));
  if (de_novo.exit_code != 0) qFatal("orlan-import: %s%s", qPrintable(de_novo.out), qPrintable(de_novo.err));
  duração_ms_ = t.elapsed();
  return banco;
}

std::unique_ptr<QProcess> TestPgFalhas::iniciarImportação(const QStringList& argumentos) const {
  auto p = std::make_unique<QProcess>();
  p->setStandardInputFile(QProcess::nullDevice());
  p->start(test::ProgramPath(QStringLiteral("orlan-import")), argumentos);
  p->waitForStarted();
  return p;
}

QString TestPgFalhas::violações(const QString& banco) const {
  QString erros = test::Comparar(test::ContarDeclarações(banco), fontes_, fontes_);
  std::unique_ptr<PgConexão> c;
  const Status s = PgConexão::Abrir(banco, &c);
  if (!s.ok()) return QString::fromStdString(s.ToString());
  const auto número = [&](const std::string& sql) { return c->executar(sql).valor(0, 0).toLongLong(); };
  for (const QString& e :
       {test::HistóricoIncoerente(número), test::ArquivoIncoerente(número), test::ArquivoIncompleto(número)}) {
    if (!e.isEmpty()) erros += (erros.isEmpty() ? QString() : QStringLiteral("; ")) + e;
  }
  return erros;
}

void TestPgFalhas::importadorMortoAQualquerMomento() {
  EXIGIR_SERVIDOR();
  const QString banco = bancoImportado();
  int no_meio = 0;
  std::unique_ptr<PgConexão> c;
  QVERIFY(PgConexão::Abrir(banco, &c).ok());
  for (int i = 0; i < kMortes; ++i) {
    // Every fifth run brings back a replaced return instead.
    QStringList args = argumentos(banco);
    if (i % 5 == 4) {
      args.removeLast();
      args << QStringLiteral("--restore")
           << c->executar("SELECT max(\"Código\") FROM \"tblArquivamento\"").valor(0, 0).toString();
    }
    auto p = iniciarImportação(args);
    QTest::qWait(static_cast<int>(QRandomGenerator::global()->bounded(duração_ms_ + 1)));
    p->kill();
    p->waitForFinished(30000);
    if (p->exitStatus() == QProcess::CrashExit) ++no_meio;
    const QString v = violações(banco);
    QVERIFY2(v.isEmpty(), qPrintable(QStringLiteral("after kill %1: %2").arg(i).arg(v)));
  }
  QVERIFY2(no_meio >= kMortes / 2, qPrintable(QStringLiteral("only %1 kills met a run").arg(no_meio)));
  const test::ProcessResult r = test::Run(test::ProgramPath(QStringLiteral("orlan-import")), argumentos(banco));
  QVERIFY2(r.exit_code == 0, qPrintable(r.out + r.err));
  QCOMPARE(violações(banco), QString());
}

void TestPgFalhas::falhaDoServidorNoMeio_data() {
  QTest::addColumn<bool>("reiniciar");
  QTest::newRow("session terminated") << false;
  QTest::newRow("server restarted") << true;
}

void TestPgFalhas::falhaDoServidorNoMeio() {
  QFETCH(bool, reiniciar);
  EXIGIR_SERVIDOR();
  const QString banco = bancoImportado();
  // The fault must meet a run in progress: a run that ended first is tried
  // again, a little sooner.
  bool encontrou = false;
  for (int tentativa = 0; tentativa < 8 && !encontrou; ++tentativa) {
    auto p = iniciarImportação(argumentos(banco));
    QTest::qWait(static_cast<int>(duração_ms_ * (tentativa < 4 ? 0.4 : 0.2)));
    if (reiniciar) {
      QVERIFY(test::PgReiniciarServidor());
    } else {
      std::unique_ptr<PgConexão> admin;
      QVERIFY(PgConexão::Abrir(test::PgServidorDeTeste(), &admin).ok());
      const QString nome = banco.section(QLatin1Char('/'), 3).section(QLatin1Char('?'), 0, 0);
      admin->executar(
          "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = $1 AND pid <> pg_backend_pid()",
          {nome});
    }
    QVERIFY(p->waitForFinished(60000));
    const QString saída = QString::fromUtf8(p->readAllStandardOutput() + p->readAllStandardError());
    if (p->exitCode() == 0) continue;
    encontrou = true;
    const QString fim = QStringLiteral("exit %1: ").arg(p->exitCode()) + saída.right(800);
    QVERIFY2(p->exitCode() == 4, qPrintable(fim));
    QVERIFY2(saída.contains(QStringLiteral("Erro 3151")) && saída.contains(QStringLiteral("servidor PostgreSQL")),
             qPrintable(fim));
    QVERIFY2(!saída.contains(QStringLiteral("SELECT")) && !saída.contains(QStringLiteral("INSERT")), qPrintable(saída));
  }
  QVERIFY2(encontrou, "no fault met a run in progress");
  QCOMPARE(violações(banco), QString());
  const test::ProcessResult r = test::Run(test::ProgramPath(QStringLiteral("orlan-import")), argumentos(banco));
  QVERIFY2(r.exit_code == 0, qPrintable(r.out + r.err));
  QCOMPARE(violações(banco), QString());
}
#endif  // Q_MOC_RUN

QTEST_GUILESS_MAIN(TestPgFalhas)
#include "test_pg_falhas.moc"
