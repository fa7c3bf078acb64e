// Replaced returns kept in the archive and brought back, on both engines, by
// the real programs: orlan-prf-gen makes the files, orlan-import replaces,
// restores and prunes.
#include <QDate>
#include <QTemporaryDir>
#include <QTest>

// moc reads ASCII only: it sees the test class and nothing else.
#ifndef Q_MOC_RUN
#include <memory>

#include "database/identificador.h"
#include "support/banco.h"
#endif

using namespace orlan;

class TestArquivo : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void substituirERestaurar_data();
  void substituirERestaurar();

  // moc reads ASCII only.
#ifndef Q_MOC_RUN
 private:
  // Every row of every table, keys replaced by each return's IE and Ref1.
  static QStringList Estado(test::Banco& a);
  test::ProcessResult importar(test::Banco& a, QStringList args);
  // The fields of `--history N`'s lines.
  QList<QStringList> histórico(test::Banco& a, int n);

  QTemporaryDir dir_;
  QString arquivo_a_;
  QString arquivo_b_;
#endif  // Q_MOC_RUN
};

#ifndef Q_MOC_RUN

namespace {

// Text a hand may have typed into a return after its import.
const QString kHostil = QStringLiteral("O'Brien \"; DROP TABLE tblQUR; --\ttab\nlinha ☃ %s \\");

}  // namespace

void TestArquivo::initTestCase() {
  QVERIFY(dir_.isValid());
  test::IsolateSettings(dir_.filePath(QStringLiteral("config")));
  arquivo_a_ = dir_.filePath(QStringLiteral("a.prf"));
  arquivo_b_ = dir_.filePath(QStringLiteral("b.prf"));
  // The same returns twice, with other values: b replaces each of a's.
  for (const auto& [arquivo, semente] : {std::pair{arquivo_a_, "1"}, std::pair{arquivo_b_, "2"}}) {
    const test::ProcessResult r = test::Run(test::ProgramPath(QStringLiteral("orlan-prf-gen")),
                                            {"-o", arquivo, "--taxpayers", "2", "--months", "2", "--rows", "12", "--seed", semente});
    QVERIFY2(r.exit_code == 0, qPrintable(r.err));
  }
}

QStringList TestArquivo::Estado(test::Banco& a) {
  QStringList todas;
  for (const test::Consulta& c : test::Consultas()) {
    for (const QString& linha : a.linhas(c)) todas << c.tabela + QLatin1Char('\t') + linha;
  }
  return todas;
}

test::ProcessResult TestArquivo::importar(test::Banco& a, QStringList args) {
  args << "--db" << a.atual->nome();
  if (!args.contains(QStringLiteral("--prune-archive"))) args << "--component-dir" << dir_.filePath(QStringLiteral("comp"));
  return test::Run(test::ProgramPath(QStringLiteral("orlan-import")), args);
}

QList<QStringList> TestArquivo::histórico(test::Banco& a, int n) {
  const test::ProcessResult r =
      test::Run(test::ProgramPath(QStringLiteral("orlan-import")), {"--db", a.atual->nome(), "--history", QString::number(n)});
  QList<QStringList> linhas;
  for (const QString& l : r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) linhas << l.split(QLatin1Char('\t'));
  return linhas;
}

void TestArquivo::substituirERestaurar_data() {
  QTest::addColumn<bool>("servidor");
  QTest::newRow("SQLite") << false;
  QTest::newRow("PostgreSQL") << true;
}

void TestArquivo::substituirERestaurar() {
  QFETCH(bool, servidor);
  if (servidor && test::PgServidorDeTeste().isEmpty()) QSKIP(qPrintable(test::PgMotivoSemServidor()));
  std::unique_ptr<test::Banco> a = test::NovoBanco(servidor, dir_.filePath(QStringLiteral("atual.db")));
  QCOMPARE(importar(*a, {arquivo_a_}).exit_code, 0);
  // Amended by hand since: hostile text and Nulls in every table of a return.
  for (const schema::RecordDef& r : schema::Records()) {
    if (r.parent == schema::Parent::kFile) continue;
    for (const schema::FieldDef& f : r.fields) {
      if (f.type == schema::FieldType::kText) {
        a->executar("UPDATE " + QuoteIdentifier(r.table) + " SET " + QuoteIdentifier(f.name) + " = " + test::Literal(kHostil));
        break;
      }
    }
    for (const schema::FieldDef& f : r.fields) {
      if (!f.required && f.type == schema::FieldType::kNumber) {
        a->executar("UPDATE " + QuoteIdentifier(r.table) + " SET " + QuoteIdentifier(f.name) + " = NULL");
        break;
      }
    }
  }
  const QStringList antes = Estado(*a);
  for (const schema::RecordDef& r : schema::Records()) {
    QVERIFY2(!antes.filter(QString::fromUtf8(r.table.data(), static_cast<int>(r.table.size())) + QLatin1Char('\t')).isEmpty(),
             r.table.data());
  }
  QVERIFY(antes.filter(kHostil.left(8)).size() >= 10);

  QCOMPARE(importar(*a, {arquivo_b_, "--overwrite", "yes"}).exit_code, 0);
  const QStringList substituído = Estado(*a);
  QVERIFY(substituído != antes);
  const QList<QStringList> trocas = histórico(*a, 1);
  QCOMPARE(trocas.size(), 4);
  const QString login = servidor ? QStringLiteral("orlan") : QString();
  for (const QStringList& l : trocas) {
    QCOMPARE(l.size(), 12);
    QCOMPARE(l[7], QStringLiteral("substituído"));
    QCOMPARE(l[10], login);
    QVERIFY2(!l[11].isEmpty(), qPrintable(l.join(QLatin1Char('|'))));
  }

  // A dry run and a No change nothing but the log's "ignorado".
  const QString id = trocas.front()[11];
  const test::ProcessResult simulado = importar(*a, {"--restore", id, "--dry-run"});
  QCOMPARE(simulado.exit_code, 0);
  QVERIFY2(simulado.out.endsWith(QStringLiteral("\texiste\n")), qPrintable(simulado.out));
  QCOMPARE(histórico(*a, 1), trocas);
  const test::ProcessResult não = importar(*a, {"--restore", id, "--overwrite", "no"});
  QCOMPARE(não.exit_code, 0);
  QCOMPARE(histórico(*a, 1).front()[7], QStringLiteral("ignorado"));
  QCOMPARE(Estado(*a), substituído);

  // Each brought back, in place of b's: the database is as before b, field
  // by field, and b's returns are in the archive now.
  for (const QStringList& l : trocas) {
    const test::ProcessResult r = importar(*a, {"--restore", l[11], "--overwrite", "yes"});
    QVERIFY2(r.exit_code == 0, qPrintable(r.out + r.err));
    const QStringList feita = histórico(*a, 1).front();
    QCOMPARE(feita[3], QStringLiteral("arquivamento ") + l[11]);
    QCOMPARE(feita.mid(5, 3), (QStringList{l[5], l[6], QStringLiteral("restaurado")}));
    QCOMPARE(feita[8], l[9]);
    QVERIFY(feita[9].toLongLong() > l[9].toLongLong());
    QVERIFY(!feita[11].isEmpty());
  }
  QCOMPARE(Estado(*a), antes);

  // Pruning: what was archived before a day goes, the log stays.
  const QString amanhã = QDate::currentDate().addDays(1).toString(Qt::ISODate);
  QCOMPARE(importar(*a, {"--prune-archive", "2000-01-01"}).exit_code, 0);
  const test::ProcessResult podado = importar(*a, {"--prune-archive", amanhã});
  QCOMPARE(podado.exit_code, 0);
  QVERIFY2(podado.out.contains(QStringLiteral(": 8 declaração(ões) arquivada(s)")), qPrintable(podado.out));
  const QList<QStringList> depois = histórico(*a, 20);
  QCOMPARE(depois.size(), 13);
  for (const QStringList& l : depois) QVERIFY(l[11].isEmpty());
  const test::ProcessResult sem = importar(*a, {"--restore", id});
  QCOMPARE(sem.exit_code, 3);
  QVERIFY2(sem.out.contains(QStringLiteral("Não há declaração arquivada com o ID ") + id), qPrintable(sem.out));
  QCOMPARE(Estado(*a), antes);
}

QTEST_GUILESS_MAIN(TestArquivo)
#include "test_arquivo.moc"
#endif  // Q_MOC_RUN
