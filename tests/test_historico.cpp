// The import run log on an SQLite current database: the table orlan-newdb
// makes, `orlan-import --history N` as a child process over lines written
// through a real copy session, and where a run's file and digest come from
// (the checker's reading, the control's choice of file).
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

// moc reads ASCII only: it sees the test class and nothing else.
#ifndef Q_MOC_RUN
#include <memory>
#include <string>

#include "checker/cons_pre.h"
#include "control/ctl_orlan.h"
#include "database/banco_atual.h"
#include "database/identificador.h"
#include "support/scripted_dialogs.h"
#include "support/test_support.h"
#include "test_historico_apoio.h"
#endif

using namespace orlan;

namespace {

const QString kCfop = QStringLiteral("CFOP|5102|100|100|18|0|0|0|0|0|0");

// coreutils' own SHA-256 of the file, in a process of its own.
QString Sha256DoArquivo(const QString& path) {
  const test::ProcessResult r = test::Run(QStringLiteral("sha256sum"), {QStringLiteral("--"), path});
  return r.exit_code == 0 && !r.crashed ? r.out.left(64) : QString();
}

}  // namespace

class TestHistorico : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();

  void newDatabaseHasTheLog();
  void historyPrintsTheLastRunsNewestFirst();
  void historyWithoutTableOrLines();
  void historyBadUsage();
  void checkerDigestIsTheFilesBytes();
  void controlKeepsTheChosenFileAndDigest();

  // moc reads ASCII only.
#ifndef Q_MOC_RUN
 private:
  // A current database made by orlan-newdb, opened; its path in `path`.
  std::shared_ptr<BancoAtual> NovoBanco(QString* path);
  std::shared_ptr<Database> Temporário();
  test::ProcessResult Histórico(const QStringList& args) {
    return test::Run(test::ProgramPath(QStringLiteral("orlan-import")), args);
  }

  QTemporaryDir dir_;
  int n_ = 0;
#endif  // Q_MOC_RUN
};

#ifndef Q_MOC_RUN

void TestHistorico::initTestCase() {
  QVERIFY(dir_.isValid());
  test::IsolateSettings(dir_.filePath(QStringLiteral("config")));
}

std::shared_ptr<BancoAtual> TestHistorico::NovoBanco(QString* path) {
  *path = dir_.filePath(QStringLiteral("atual%1.db").arg(++n_));
  const test::ProcessResult r = test::Run(test::ProgramPath(QStringLiteral("orlan-newdb")), {*path});
  if (r.exit_code != 0) qFatal("orlan-newdb %s: %s", qPrintable(*path), qPrintable(r.err));
  std::shared_ptr<BancoAtual> banco;
  const Status s = AbrirBancoAtual(*path, &banco);
  if (!s.ok()) qFatal("opening %s: %s", qPrintable(*path), s.ToString().c_str());
  return banco;
}

std::shared_ptr<Database> TestHistorico::Temporário() {
  const QString path = dir_.filePath(QStringLiteral("temp%1.db").arg(++n_));
  test::CreateEmptyDatabase(path);
  return test::OpenExisting(path);
}

void TestHistorico::newDatabaseHasTheLog() {
  QString path;
  std::shared_ptr<BancoAtual> banco = NovoBanco(&path);
  QVERIFY(banco->temHistórico());
  QVERIFY(banco->histórico(5).empty());
}

void TestHistorico::historyPrintsTheLastRunsNewestFirst() {
  QString path;
  std::shared_ptr<BancoAtual> banco = NovoBanco(&path);
  const QDateTime antes = QDateTime::currentDateTimeUtc();
  test::EscreverTrêsExecuções(*banco, Temporário());
  banco->fechar();

  const test::ProcessResult r = Histórico({"--db", path, "--history", "2"});
  QCOMPARE(r.exit_code, 0);
  QVERIFY2(r.err.isEmpty(), qPrintable(r.err));
  test::ConferirDuasÚltimas(r.out, antes, QString());

  // More runs asked for than there are: all three; "=" form of the value.
  const test::ProcessResult todas = Histórico({"--db", path, "--history=10"});
  QCOMPARE(todas.exit_code, 0);
  const QStringList linhas = todas.out.chopped(1).split(QLatin1Char('\n'));
  QCOMPARE(linhas.size(), 5);
  QCOMPARE(linhas.last().section(QLatin1Char('\t'), 1),
           QStringLiteral("ana\tmaq1\t/dados/a.prf\t%1\t111\t2006-03-01\timportado\t\t5\t\t")
               .arg(QString(64, QLatin1Char('a'))));

  // Without --db: the "DbAtual" setting, as an import takes it.
  test::WriteDbAtual(path);
  const test::ProcessResult configurado = Histórico({"--history", "1"});
  QCOMPARE(configurado.exit_code, 0);
  QCOMPARE(configurado.out.count(QLatin1Char('\n')), 2);
  QVERIFY(configurado.out.contains(QStringLiteral("\tcarla\t")));
  test::WriteDbAtual(QString());
}

void TestHistorico::historyWithoutTableOrLines() {
  QString path;
  std::shared_ptr<BancoAtual> banco = NovoBanco(&path);
  banco->fechar();

  // An empty log: nothing listed, nothing on standard output.
  const test::ProcessResult vazio = Histórico({"--db", path, "--history", "3"});
  QCOMPARE(vazio.exit_code, 3);
  QVERIFY2(vazio.out.isEmpty(), qPrintable(vazio.out));

  // No log table: the same status, and a message naming the database.
  {
    std::shared_ptr<Database> db = test::OpenExisting(path);
    db->execute("DROP TABLE " + QuoteIdentifier(kTabelaHistórico));
    db->close();
  }
  const test::ProcessResult sem = Histórico({"--db", path, "--history", "3"});
  QCOMPARE(sem.exit_code, 3);
  QVERIFY2(sem.out.isEmpty(), qPrintable(sem.out));
  QVERIFY2(sem.err.contains(QStringLiteral("não tem histórico de importações")), qPrintable(sem.err));
  QVERIFY2(sem.err.contains(QFileInfo(path).absoluteFilePath()), qPrintable(sem.err));

  // A database that cannot be opened: as an import says it, status 4.
  const test::ProcessResult falta = Histórico({"--db", dir_.filePath(QStringLiteral("nenhum.db")), "--history", "1"});
  QCOMPARE(falta.exit_code, 4);
  QVERIFY2(falta.out.isEmpty(), qPrintable(falta.out));
  QVERIFY2(falta.err.contains(QStringLiteral("nenhum.db")) && falta.err.contains(QStringLiteral("não pôde ser aberto")),
           qPrintable(falta.err));
}

void TestHistorico::historyBadUsage() {
  QString path;
  NovoBanco(&path)->fechar();
  const QList<QStringList> casos = {
      {"--history", "0"},
      {"--history", "-1"},
      {"--history", "dois"},
      {"--history", "1.5"},
      {"--history", ""},
      {"--history", "+2"},
      {"--history", "99999999999"},
      {"--history"},
      {"--history", "2", "arquivo.prf"},
      {"--history", "2", "--list"},
      {"--history", "2", "--dry-run"},
      {"--history", "2", "--ref", "03/2006"},
      {"--history", "2", "--select", "111"},
      {"--history", "2", "--overwrite", "yes"},
      {"--history", "2", "--component-dir", "x"},
  };
  for (QStringList args : casos) {
    args.prepend(path);
    args.prepend(QStringLiteral("--db"));
    const test::ProcessResult r = Histórico(args);
    QVERIFY2(r.exit_code == 64, qPrintable(args.join(' ') + QStringLiteral(": %1").arg(r.exit_code)));
    QVERIFY2(r.out.isEmpty(), qPrintable(r.out));
    QVERIFY2(r.err.contains(QStringLiteral("--history")), qPrintable(r.err));
  }
  const test::ProcessResult ajuda = Histórico({"--help"});
  QCOMPARE(ajuda.exit_code, 0);
  QVERIFY(ajuda.out.contains(QStringLiteral("--history N")));
  QVERIFY(ajuda.out.contains(QStringLiteral("histórico vazio")));
}

void TestHistorico::checkerDigestIsTheFilesBytes() {
  const QString temp = dir_.filePath(QStringLiteral("checker-temp.db"));
  // UTF-8, read once, with and without a byte order mark; Windows-1252 (a
  // byte that is not UTF-8), read twice; the same in several MiB, the byte on
  // the last line, so that the first reading hashed nearly all of it in many
  // slices before it stopped; an empty file; rejected content, read whole.
  const QByteArray utf8 = test::ArquivoPrf({test::LinhaContribuinte("110042490114", QStringLiteral("Comércio Ltda")),
                                            test::LinhaQur("110042490114", "01", "03/2006"), kCfop});
  const QByteArray latino = QStringLiteral("Comércio").toUtf8();
  QByteArray latin = utf8;
  latin.replace(latino, QByteArray("Com\xe9rcio"));
  QStringList linhas{test::LinhaContribuinte("110042490114", "Alfa"), test::LinhaQur("110042490114", "01", "03/2006")};
  for (int i = 0; i < 150000; ++i) linhas << kCfop;
  linhas << test::LinhaContribuinte("220000000225", QStringLiteral("Comércio Beta"));
  QByteArray grande = test::ArquivoPrf(linhas);
  grande.replace(latino, QByteArray("Com\xe9rcio"));
  QVERIFY(grande.size() > 4 * 1024 * 1024);
  const QByteArray inválido = test::ArquivoPrf({test::LinhaQur("110042490114", "99", "13/2006")});
  struct Caso {
    const char* nome;
    QByteArray bytes;
    ResultadoVerificação esperado;
  };
  for (const Caso& c : {Caso{"utf8.prf", utf8, kVerificaçãoAceita},
                        Caso{"bom.prf", "\xEF\xBB\xBF" + utf8, kVerificaçãoAceita},
                        Caso{"latin.prf", latin, kVerificaçãoAceita}, Caso{"grande.prf", grande, kVerificaçãoAceita},
                        Caso{"vazio.prf", QByteArray(), kArquivoIlegível},
                        Caso{"invalido.prf", inválido, kConteúdoInválido}}) {
    const QString path = dir_.filePath(QString::fromLatin1(c.nome));
    test::WriteFile(path, c.bytes);
    ConsPre checker(nullptr, temp);
    QVERIFY(checker.sha256().isEmpty());
    checker.SetInputFile(path);
    QCOMPARE(checker.RunCheck(), c.esperado);
    const QString esperado = Sha256DoArquivo(path);
    QCOMPARE(esperado.size(), 64);
    QCOMPARE(checker.sha256(), esperado);
  }

  // A file that cannot be read: no digest, also after a check that had one.
  ConsPre checker(nullptr, temp);
  checker.SetInputFile(dir_.filePath(QStringLiteral("utf8.prf")));
  QCOMPARE(checker.RunCheck(), kVerificaçãoAceita);
  QVERIFY(!checker.sha256().isEmpty());
  checker.SetInputFile(dir_.filePath(QStringLiteral("nao-existe.prf")));
  QCOMPARE(checker.RunCheck(), kArquivoIlegível);
  QVERIFY(checker.sha256().isEmpty());
  checker.SetInputFile(dir_.path());
  QCOMPARE(checker.RunCheck(), kArquivoIlegível);
  QVERIFY(checker.sha256().isEmpty());
}

void TestHistorico::controlKeepsTheChosenFileAndDigest() {
  QString atual;
  NovoBanco(&atual)->fechar();
  test::WriteDbAtual(atual);
  ScriptedDialogs dialogs;
  ctlOrlan ctl(&dialogs);
  ctl.setPastaComponente(dir_.filePath(QStringLiteral("componente")));
  QVERIFY(ctl.ArquivoOrigem().isEmpty());
  QVERIFY(ctl.Sha256Origem().isEmpty());

  const QString local = dir_.filePath(QStringLiteral("local.prf"));
  test::WriteFile(local, test::ArquivoPrf({test::LinhaContribuinte("110042490114", "Alfa"),
                                           test::LinhaQur("110042490114", "01", "03/2006"), kCfop}));
  dialogs.queueFile(local);
  QVERIFY(ctl.butSelecionarArquivo_Click().ok());
  QCOMPARE(ctl.resultadoVerificação(), static_cast<std::int16_t>(kVerificaçãoAceita));
  QCOMPARE(ctl.ArquivoOrigem(), local);
  QCOMPARE(ctl.Sha256Origem(), Sha256DoArquivo(local));

  // A network name ("//..."): the check reads a local copy, the log names
  // what the user picked.
  const QString rede = dir_.filePath(QStringLiteral("rede.prf"));
  test::WriteFile(rede, test::ArquivoPrf({test::LinhaContribuinte("220000000225", "Beta"),
                                          test::LinhaQur("220000000225", "01", "04/2006"), kCfop, kCfop}));
  const QString nome_de_rede = QStringLiteral("/") + rede;
  dialogs.queueFile(nome_de_rede);
  QVERIFY(ctl.butSelecionarArquivo_Click().ok());
  QCOMPARE(ctl.resultadoVerificação(), static_cast<std::int16_t>(kVerificaçãoAceita));
  QCOMPARE(ctl.ArquivoPre(), ctl.caminhoCópiaRede());
  QCOMPARE(ctl.ArquivoOrigem(), nome_de_rede);
  QCOMPARE(ctl.Sha256Origem(), Sha256DoArquivo(rede));

  // A rejected file leaves no origin behind: nothing can be imported from it.
  const QString ruim = dir_.filePath(QStringLiteral("ruim.prf"));
  test::WriteFile(ruim, test::ArquivoPrf({test::LinhaQur("110042490114", "99", "13/2006")}));
  dialogs.queueFile(ruim);
  QVERIFY(ctl.butSelecionarArquivo_Click().ok());
  QCOMPARE(ctl.resultadoVerificação(), static_cast<std::int16_t>(kConteúdoInválido));
  QVERIFY(ctl.ArquivoOrigem().isEmpty());
  QVERIFY(ctl.Sha256Origem().isEmpty());
  test::WriteDbAtual(QString());
}

#endif  // Q_MOC_RUN

QTEST_GUILESS_MAIN(TestHistorico)
#include "test_historico.moc"
