// orlan-import as the acceptance scripts run it: the built program as a
// child process, real files, its output and its exit status.
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#ifndef Q_MOC_RUN
#include "support/test_support.h"
#endif

using namespace orlan;

namespace {

const QString kCfop = QStringLiteral("CFOP|5102|100|100|18|0|0|0|0|0|0");

}  // namespace

class TestCli : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void init();

  void badUsage();
  void listPrintsColumnsInOrder();
  void importAllThenOverwriteAnswers_data();
  void importAllThenOverwriteAnswers();
  void selectAndReference();
  void rejectedAndMissingFiles();
  void databaseFromSettingAndErrors();

 private:
  test::ProcessResult Import(QStringList args);
  qlonglong Count(const QString& table) { return test::Count(*test::OpenExisting(db_), table); }

  QTemporaryDir dir_;
  QString program_;
  QString amostra_;
  QString db_;
  int n_ = 0;
};

void TestCli::initTestCase() {
  QVERIFY(dir_.isValid());
  test::IsolateSettings(dir_.filePath("settings"));
  program_ = test::ProgramPath("orlan-import");
  QVERIFY2(QFile::exists(program_), qPrintable(program_));
  amostra_ = dir_.filePath("amostra.prf");
  // Listed by the IE's last digit: 5 before 6, then NroQUR.
  test::WriteFile(amostra_, test::ArquivoPrf({test::LinhaContribuinte("300000000016", "Gama & Cia"),
                                              test::LinhaQur("300000000016", "01", "03/2006"), kCfop,
                                              test::LinhaContribuinte("110042490115", "Comércio D'Ávila Ltda"),
                                              test::LinhaQur("110042490115", "01", "03/2006"), kCfop, kCfop,
                                              test::LinhaQur("110042490115", "01", "04/2006"), kCfop}));
}

void TestCli::init() {
  db_ = dir_.filePath(QStringLiteral("atual%1.db").arg(++n_));
  test::CreateCurrentDatabase(db_);
}

test::ProcessResult TestCli::Import(QStringList args) {
  args.prepend(dir_.filePath(QStringLiteral("componente%1").arg(n_)));
  args.prepend(QStringLiteral("--component-dir"));
  return test::Run(program_, args);
}

void TestCli::badUsage() {
  const QList<QStringList> cases = {
      {},
      {"--list"},
      {"a.prf", "b.prf"},
      {"--overwrite", "maybe", amostra_},
      {"--ref", "13/2006", amostra_},
      {"--ref", "3/2006", amostra_},
      {"--select", "", amostra_},
      {"--bogus", amostra_},
      {amostra_, "--db"},
  };
  for (const QStringList& args : cases) {
    const test::ProcessResult r = test::Run(program_, args);
    QVERIFY2(!r.crashed, qPrintable(args.join(' ')));
    QVERIFY2(r.exit_code == 64, qPrintable(args.join(' ') + ": " + QString::number(r.exit_code)));
    QVERIFY(r.err.contains("Uso: orlan-import"));
  }
  const test::ProcessResult help = test::Run(program_, {"--help"});
  QCOMPARE(help.exit_code, 0);
  QVERIFY(help.out.contains("--overwrite ask|yes|no|cancel"));
}

void TestCli::listPrintsColumnsInOrder() {
  const test::ProcessResult r = Import({"--db", db_, "--list", amostra_});
  QCOMPARE(r.exit_code, 0);
  QCOMPARE(r.out, QStringLiteral("110042490115\tComércio D'Ávila Ltda\t03/2006\t2\n"
                                 "110042490115\tComércio D'Ávila Ltda\t04/2006\t3\n"
                                 "300000000016\tGama & Cia\t03/2006\t1\n"));
  QCOMPARE(Count("tblQUR"), 0);
  QCOMPARE(Count("tblContribuinte"), 0);

  const test::ProcessResult filtered = Import({"--db", db_, "--list", "--ref", "04/2006", amostra_});
  QCOMPARE(filtered.exit_code, 0);
  QCOMPARE(filtered.out, QStringLiteral("110042490115\tComércio D'Ávila Ltda\t04/2006\t3\n"));

  const test::ProcessResult none = Import({"--db", db_, "--list", "--ref", "01/2001", amostra_});
  QCOMPARE(none.exit_code, 3);
  QVERIFY(none.out.isEmpty());
}

void TestCli::importAllThenOverwriteAnswers_data() {
  QTest::addColumn<QString>("answer");
  QTest::addColumn<int>("status");
  QTest::addColumn<int>("returns_replaced");  // of the 3 already there
  QTest::newRow("yes") << "yes" << 0 << 3;
  QTest::newRow("no") << "no" << 0 << 0;
  QTest::newRow("cancel") << "cancel" << 1 << 0;
  QTest::newRow("ask without a terminal") << "ask" << 1 << 0;
}

void TestCli::importAllThenOverwriteAnswers() {
  QFETCH(QString, answer);
  QFETCH(int, status);
  QFETCH(int, returns_replaced);

  const test::ProcessResult first = Import({"--db", db_, amostra_});
  QCOMPARE(first.exit_code, 0);
  QVERIFY(first.out.contains("[Sucesso!] A Importação foi concluída com sucesso.\n"));
  QVERIFY(first.out.contains("Resumo: 3 importado(s), 0 substituído(s)"));
  QVERIFY(!first.out.contains("já existe"));
  QCOMPARE(Count("tblQUR"), 3);
  QCOMPARE(Count("tblDetalhesCFOPs"), 4);
  auto db = test::OpenExisting(db_);
  const qlonglong max_before = db->scalar("SELECT max(NroQUR) FROM tblQUR").toLongLong();
  db.reset();

  const test::ProcessResult again = Import({"--db", db_, "--overwrite", answer, amostra_});
  QVERIFY(!again.crashed);
  QVERIFY2(again.exit_code == status, qPrintable(again.out + again.err));
  // Every question is printed with its title; cancel stops at the first.
  const int questions = again.out.count("[Atenção!] A Referência: ");
  QCOMPARE(questions, status == 1 ? 1 : 3);
  QCOMPARE(again.out.contains("[Sucesso!]"), status == 0);
  if (answer == "ask") QVERIFY(again.out.contains("não há terminal"));

  QCOMPARE(Count("tblQUR"), 3);
  QCOMPARE(Count("tblDetalhesCFOPs"), 4);
  db = test::OpenExisting(db_);
  QCOMPARE(db->scalar("SELECT count(*) FROM tblQUR WHERE NroQUR > ?", {max_before}).toLongLong(),
           qlonglong(returns_replaced));
}

void TestCli::selectAndReference() {
  const test::ProcessResult one = Import({"--db", db_, "--select", "300000000016", amostra_});
  QCOMPARE(one.exit_code, 0);
  QCOMPARE(Count("tblQUR"), 1);

  const test::ProcessResult by_ref =
      Import({"--db", db_, "--ref", "04/2006", "--select", "110042490115,300000000016", amostra_});
  QCOMPARE(by_ref.exit_code, 0);
  QCOMPARE(Count("tblQUR"), 2);
  auto db = test::OpenExisting(db_);
  QCOMPARE(db->scalar("SELECT count(*) FROM tblQUR WHERE IE = '110042490115'").toLongLong(), 1);

  const test::ProcessResult unknown = Import({"--db", db_, "--select", "999", amostra_});
  QCOMPARE(unknown.exit_code, 3);
  QVERIFY(unknown.err.contains("999"));
  QVERIFY(unknown.out.contains("Não foi selecionado nenhum documento para ser importado!"));
  QCOMPARE(Count("tblQUR"), 2);
}

void TestCli::rejectedAndMissingFiles() {
  const QString ruim = dir_.filePath("ruim.prf");
  test::WriteFile(ruim, test::ArquivoPrf({test::LinhaContribuinte("1", "X"), QStringLiteral("QUR|sem-campos")}));
  const test::ProcessResult rejected = Import({"--db", db_, ruim});
  QCOMPARE(rejected.exit_code, 2);
  QVERIFY(rejected.out.startsWith("[Atenção!] "));
  QVERIFY(!rejected.out.contains("Resumo"));
  QCOMPARE(Count("tblContribuinte"), 0);
  QCOMPARE(Import({"--db", db_, "--list", ruim}).exit_code, 2);

  // The control's message, once: the second dialog is the user's Cancel.
  const test::ProcessResult missing = Import({"--db", db_, dir_.filePath("nao-existe.prf")});
  QCOMPARE(missing.exit_code, 2);
  QCOMPARE(missing.out, QStringLiteral("[Atenção!] O nome do arquivo não existe!\n\n"
                                       "Selecione um arquivo existente para a importação do arquivo Pré-formatado!\n"));
}

void TestCli::databaseFromSettingAndErrors() {
  // No --db: the "DbAtual" setting. --db holds for its own run only.
  test::WriteDbAtual(db_);
  const QString other = dir_.filePath("outro.db");
  test::CreateCurrentDatabase(other);
  QCOMPARE(Import({"--db", other, amostra_}).exit_code, 0);
  QCOMPARE(test::Count(*test::OpenExisting(other), "tblQUR"), 3);
  QCOMPARE(Count("tblQUR"), 0);
  QCOMPARE(QSettings("Selmar", "Selmar").value("DB/DbAtual").toString(), db_);
  QCOMPARE(Import({"--select", "300000000016", amostra_}).exit_code, 0);
  QCOMPARE(Count("tblQUR"), 1);

  // A current database that cannot be opened ends the run with an error.
  const test::ProcessResult absent = Import({"--db", dir_.filePath("nao-existe.db"), amostra_});
  QCOMPARE(absent.exit_code, 4);
  QVERIFY(absent.out.contains("nao-existe.db"));
  const QString not_db = dir_.filePath("texto.db");
  test::WriteFile(not_db, "isto não é um banco de dados");
  QCOMPARE(Import({"--db", not_db, amostra_}).exit_code, 4);
}

QTEST_GUILESS_MAIN(TestCli)
#include "test_cli.moc"
