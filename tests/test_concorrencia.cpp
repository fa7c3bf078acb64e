// Clerks importing at the same time: several orlan-import processes
// replacing the same returns of one current database at once, on either
// backend. Every round must end with one whole return per IE and month,
// whatever the order in which the processes took the locks. And one user's
// runs side by side in one component folder, and a lock nobody lets go.
#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

// moc reads ASCII only: it sees the test class and nothing else.
#ifndef Q_MOC_RUN
#include <memory>
#include <vector>

#include "control/ctl_orlan.h"
#include "database/pg/pg_conexao.h"
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
  void mesmoUsuarioDuasExecucoes();
  void bloqueioSemProgresso_data();
  void bloqueioSemProgresso();

 private:
  QTemporaryDir dir_;
  QString arquivo_;
  QString grande_;  // 2,400 returns
};

#ifndef Q_MOC_RUN
namespace {

constexpr int kProcessos = 3;
constexpr int kRodadas = 10;

// Starts `quantos` imports of `arquivo` into `banco` at once, each with a
// component folder of its own and Yes to every question; waits for all.
QString RodadaSimultânea(const QString& banco, const QString& arquivo, const QString& pasta, int rodada,
                         int quantos = kProcessos) {
  QDir().mkpath(pasta);
  std::vector<std::unique_ptr<QProcess>> processos;
  for (int p = 0; p < quantos; ++p) {
    const QString nome = QStringLiteral("%1/c%2-%3").arg(pasta).arg(rodada).arg(p);
    auto processo = std::make_unique<QProcess>();
    processo->setStandardInputFile(QProcess::nullDevice());
    // To files: a pipe nobody drains while another process is waited for
    // would stop this one in the middle of a batch, its locks held.
    processo->setStandardOutputFile(nome + QStringLiteral(".out"));
    processo->setStandardErrorFile(nome + QStringLiteral(".err"));
    processo->start(test::ProgramPath(QStringLiteral("orlan-import")),
                    {QStringLiteral("--db"), banco, QStringLiteral("--component-dir"), nome, QStringLiteral("--overwrite"),
                     QStringLiteral("yes"), arquivo});
    processos.push_back(std::move(processo));
  }
  QString falhas;
  for (int p = 0; p < quantos; ++p) {
    QProcess& processo = *processos[static_cast<size_t>(p)];
    if (processo.waitForFinished(180000) && processo.exitStatus() == QProcess::NormalExit && processo.exitCode() == 0) {
      continue;
    }
    const QString nome = QStringLiteral("%1/c%2-%3").arg(pasta).arg(rodada).arg(p);
    QFile saída(nome + QStringLiteral(".out"));
    QFile erro(nome + QStringLiteral(".err"));
    saída.open(QIODevice::ReadOnly);
    erro.open(QIODevice::ReadOnly);
    // The error's lines, not the thousands of answered questions.
    const QStringList linhas = QString::fromUtf8(saída.readAll()).split(QLatin1Char('\n'));
    falhas += QStringLiteral("a process ended with %1: %2 %3\n")
                  .arg(processo.exitCode())
                  .arg(QString::fromUtf8(erro.readAll()),
                       linhas.filter(QRegularExpression(QStringLiteral("Erro [0-9]|^Detalhe|^Resumo"))).join('\n'));
  }
  return falhas;
}

}  // namespace

void TestConcorrencia::initTestCase() {
  QVERIFY(dir_.isValid());
  test::IsolateSettings(dir_.filePath(QStringLiteral("config")));
  arquivo_ = dir_.filePath(QStringLiteral("escritorio.prf"));
  test::GerarArquivo(arquivo_, 12, 4, 1, 6, 11);
  grande_ = dir_.filePath(QStringLiteral("grande.prf"));
  test::GerarArquivo(grande_, 200, 12, 1, 1, 17);
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
    const QString violações = servidor ? test::Comparar(test::ContarDeclarações(atual), fontes, fontes)
                                       : test::Violações(atual, fontes, fontes, &depois);
    QVERIFY2(violações.isEmpty(), qPrintable(QStringLiteral("round %1: %2").arg(rodada).arg(violações)));
  }

  // Two clerks replacing the same 2,400 returns: each batch is committed,
  // so neither waits for the other's whole run, and both finish.
  const test::Contagens grandes = test::ContagensDoArquivo(grande_, dir_.filePath(QStringLiteral("grandes.fix")));
  QCOMPARE(grandes.size(), 2400);
  const QString falhas = RodadaSimultânea(atual, grande_, pasta, kRodadas, 2);
  QVERIFY2(falhas.isEmpty(), qPrintable(falhas));
  const QString violações = servidor ? test::Comparar(test::ContarDeclarações(atual), grandes, grandes)
                                     : test::Violações(atual, grandes, grandes);
  QVERIFY2(violações.isEmpty(), qPrintable(violações));
}

// One user's runs side by side from one component folder (two windows, a
// window and orlan-import): a listing or an import of another file never
// changes what the first run imports.
void TestConcorrencia::mesmoUsuarioDuasExecucoes() {
  const QString outro = dir_.filePath(QStringLiteral("outro.prf"));
  test::GerarArquivo(outro, 30, 12, 1, 1, 23);
  const test::Contagens fontes = test::ContagensDoArquivo(grande_, dir_.filePath(QStringLiteral("fontes-mu.fix")));
  const test::Contagens do_outro = test::ContagensDoArquivo(outro, dir_.filePath(QStringLiteral("outro.fix")));
  const QString pasta = dir_.filePath(QStringLiteral("mesmo-usuario"));
  const QString programa = test::ProgramPath(QStringLiteral("orlan-import"));
  for (int tentativa = 0; tentativa < 6; ++tentativa) {
    const QString atual = dir_.filePath(QStringLiteral("mu-%1.db").arg(tentativa));
    const QString segundo = dir_.filePath(QStringLiteral("mu-%1-b.db").arg(tentativa));
    for (const QString& banco : {atual, segundo}) {
      QCOMPARE(test::Run(test::ProgramPath(QStringLiteral("orlan-newdb")), {banco}).exit_code, 0);
    }
    QProcess primeiro;
    QProcess outro_processo;
    primeiro.setStandardInputFile(QProcess::nullDevice());
    outro_processo.setStandardInputFile(QProcess::nullDevice());
    primeiro.start(programa, {QStringLiteral("--db"), atual, QStringLiteral("--component-dir"), pasta, grande_});
    QStringList argumentos{QStringLiteral("--db"), segundo, QStringLiteral("--component-dir"), pasta};
    if (tentativa % 2 == 0) argumentos << QStringLiteral("--list");
    outro_processo.start(programa, argumentos << outro);
    for (QProcess* p : {&primeiro, &outro_processo}) {
      QVERIFY(p->waitForFinished(180000));
      QVERIFY2(p->exitStatus() == QProcess::NormalExit && p->exitCode() == 0,
               qPrintable(QString::fromUtf8(p->readAllStandardError())));
    }
    QString v = test::Violações(atual, fontes, fontes);
    QVERIFY2(v.isEmpty(), qPrintable(QStringLiteral("try %1: %2").arg(tentativa).arg(v)));
    v = test::Violações(segundo, do_outro, tentativa % 2 == 0 ? test::Contagens() : do_outro);
    QVERIFY2(v.isEmpty(), qPrintable(QStringLiteral("try %1, second: %2").arg(tentativa).arg(v)));
    std::shared_ptr<Database> db = test::OpenExisting(atual);
    QCOMPARE(db->scalar("SELECT count(*) FROM \"tblHistóricoImportação\" WHERE \"Arquivo\" = ?", {grande_}).toInt(),
             2400);
  }
}

void TestConcorrencia::bloqueioSemProgresso_data() {
  QTest::addColumn<bool>("servidor");
  QTest::newRow("SQLite") << false;
  QTest::newRow("PostgreSQL") << true;
}

// Another session holds the returns' table and does nothing: the import
// and the log's listing end with 3218 after one lock wait, not when it
// lets go.
void TestConcorrencia::bloqueioSemProgresso() {
  QFETCH(bool, servidor);
  if (servidor && test::PgServidorDeTeste().isEmpty()) QSKIP(qPrintable(test::PgMotivoSemServidor()));
  const QString atual = servidor ? test::PgNovoBanco() : dir_.filePath(QStringLiteral("bloqueado.db"));
  QCOMPARE(test::Run(test::ProgramPath(QStringLiteral("orlan-newdb")), {atual}).exit_code, 0);
  QCOMPARE(test::Run(test::ProgramPath(QStringLiteral("orlan-import")), {QStringLiteral("--db"), atual, arquivo_}).exit_code, 0);
  std::unique_ptr<PgConexão> pg;
  std::shared_ptr<Database> db;
  if (servidor) {
    QVERIFY(PgConexão::Abrir(atual, &pg).ok());
    pg->executarScript("BEGIN; LOCK TABLE \"tblQUR\", \"tblHistóricoImportação\" IN ACCESS EXCLUSIVE MODE");
  } else {
    db = test::OpenExisting(atual);
    db->execute("BEGIN IMMEDIATE");
  }
  QStringList execuções[] = {
      {QStringLiteral("--db"), atual, QStringLiteral("--overwrite"), QStringLiteral("yes"), arquivo_},
      {QStringLiteral("--db"), atual, QStringLiteral("--history"), QStringLiteral("1")}};
  // A file only blocks writers: its log can be read.
  const int quantas = servidor ? 2 : 1;
  QElapsedTimer relógio;
  relógio.start();
  std::vector<std::unique_ptr<QProcess>> processos;
  for (int i = 0; i < quantas; ++i) {
    processos.push_back(std::make_unique<QProcess>());
    processos.back()->setStandardInputFile(QProcess::nullDevice());
    processos.back()->start(test::ProgramPath(QStringLiteral("orlan-import")), execuções[i]);
  }
  for (auto& p : processos) {
    QVERIFY(p->waitForFinished(60000));
    const QString saída = QString::fromUtf8(p->readAllStandardOutput() + p->readAllStandardError());
    // The import says why it seems stuck while it waits.
    if (p == processos.front()) QVERIFY2(saída.contains(ctlOrlan::TextoAguardando()), qPrintable(saída));
    // The user's words, the engine's text at most as a detail: no SQL.
    QVERIFY2(p->exitCode() == 4 && saída.contains(QStringLiteral("Erro 3218: ")) &&
                 saída.contains(QStringLiteral("outro usuário")) && !saída.contains(QStringLiteral("DELETE")),
             qPrintable(saída));
  }
  // Three lock waits of 5 s without progress, then the end.
  QVERIFY2(relógio.elapsed() < 30000, "waited past the set time");
  if (servidor) {
    pg->executarScript("ROLLBACK");
  } else {
    db->execute("ROLLBACK");
  }
  // Nothing was lost, and once the other lets go the same run goes through.
  const test::Contagens fontes = test::ContagensDoArquivo(arquivo_, dir_.filePath(QStringLiteral("bloqueio.fix")));
  const auto violações = [&] {
    return servidor ? test::Comparar(test::ContarDeclarações(atual), fontes, fontes) : test::Violações(atual, fontes, fontes);
  };
  QCOMPARE(violações(), QString());
  QCOMPARE(test::Run(test::ProgramPath(QStringLiteral("orlan-import")), execuções[0]).exit_code, 0);
  QCOMPARE(violações(), QString());
}
#endif  // Q_MOC_RUN

QTEST_GUILESS_MAIN(TestConcorrencia)
#include "test_concorrencia.moc"
