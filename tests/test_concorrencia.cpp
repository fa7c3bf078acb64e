// Clerks importing at the same time: several orlan-import processes
// replacing the same returns of one current database at once, on either
// backend. Every round must end with one whole return per IE and month,
// whatever the order in which the processes took the locks.
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

// moc reads ASCII only: it sees the test class and nothing else.
#ifndef Q_MOC_RUN
#include <memory>
#include <vector>

#include "support/pg_support.h"
#include "support/test_support.h"
#include "test_reliability_apoio.h"

using namespace orlan;
#endif  // Q_MOC_RUN

class TestConcorrencia : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void substituicoesSimultaneas_data();
  void substituicoesSimultaneas();

 private:
  QTemporaryDir dir_;
  QString arquivo_;
};

#ifndef Q_MOC_RUN
namespace {

constexpr int kProcessos = 3;
constexpr int kRodadas = 10;

// Starts `kProcessos` imports of `arquivo` into `banco` at once, each with a
// component folder of its own and Yes to every question; waits for all.
QString RodadaSimultânea(const QString& banco, const QString& arquivo, const QString& pasta, int rodada) {
  std::vector<std::unique_ptr<QProcess>> processos;
  for (int p = 0; p < kProcessos; ++p) {
    auto processo = std::make_unique<QProcess>();
    processo->setStandardInputFile(QProcess::nullDevice());
    processo->start(test::ProgramPath(QStringLiteral("orlan-import")),
                    {QStringLiteral("--db"), banco, QStringLiteral("--component-dir"),
                     QStringLiteral("%1/c%2-%3").arg(pasta).arg(rodada).arg(p), QStringLiteral("--overwrite"),
                     QStringLiteral("yes"), arquivo});
    processos.push_back(std::move(processo));
  }
  QString falhas;
  for (auto& processo : processos) {
    if (!processo->waitForFinished(180000) || processo->exitStatus() != QProcess::NormalExit ||
        processo->exitCode() != 0) {
      falhas += QStringLiteral("a process ended with %1: %2\n")
                    .arg(processo->exitCode())
                    .arg(QString::fromUtf8(processo->readAllStandardError() + processo->readAllStandardOutput()));
    }
  }
  return falhas;
}

}  // namespace

void TestConcorrencia::initTestCase() {
  QVERIFY(dir_.isValid());
  test::IsolateSettings(dir_.filePath(QStringLiteral("config")));
  arquivo_ = dir_.filePath(QStringLiteral("escritorio.prf"));
  test::GerarArquivo(arquivo_, 12, 4, 1, 6, 11);
}

void TestConcorrencia::substituicoesSimultaneas_data() {
  QTest::addColumn<bool>("servidor");
  QTest::newRow("SQLite") << false;
  QTest::newRow("PostgreSQL") << true;
}

void TestConcorrencia::substituicoesSimultaneas() {
  QFETCH(bool, servidor);
  if (servidor && test::PgServidorDeTeste().isEmpty()) QSKIP(qPrintable(test::PgMotivoSemServidor()));
  const QString atual = servidor ? test::PgNovoBanco() : dir_.filePath(QStringLiteral("atual.db"));
  const test::ProcessResult novo = test::Run(test::ProgramPath(QStringLiteral("orlan-newdb")), {atual});
  QVERIFY2(novo.exit_code == 0, qPrintable(novo.err));
  const test::Contagens fontes = test::ContagensDoArquivo(arquivo_, dir_.filePath(QStringLiteral("fontes.fix")));
  QCOMPARE(fontes.size(), 48);
  const QString pasta = dir_.filePath(servidor ? QStringLiteral("pg") : QStringLiteral("sqlite"));
  for (int rodada = 0; rodada < kRodadas; ++rodada) {
    const QString falhas = RodadaSimultânea(atual, arquivo_, pasta, rodada);
    QVERIFY2(falhas.isEmpty(), qPrintable(falhas));
    test::Contagens depois;
    const QString violações = servidor ? test::Comparar(test::PgContarDeclarações(atual), fontes, fontes)
                                       : test::Violações(atual, fontes, fontes, &depois);
    QVERIFY2(violações.isEmpty(), qPrintable(QStringLiteral("round %1: %2").arg(rodada).arg(violações)));
  }
}
#endif  // Q_MOC_RUN

QTEST_GUILESS_MAIN(TestConcorrencia)
#include "test_concorrencia.moc"
