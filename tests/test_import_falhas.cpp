// A process importing is killed at random moments; after each kill the
// current database must hold every return whole or not at all.
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#ifndef Q_MOC_RUN
#include "support/comparacao.h"
#include "support/test_support.h"
#include "test_reliability_apoio.h"

using namespace orlan;
#endif

class TestImportFalhas : public QObject {
  Q_OBJECT

 private slots:
  void mortoAQualquerMomento();
};

#ifndef Q_MOC_RUN
void TestImportFalhas::mortoAQualquerMomento() {
  QTemporaryDir dir;
  const QString temp = dir.filePath("BDTempPrf.fix");
  const QString atual = dir.filePath("atual.db");
  const QString prf = dir.filePath("gerado.prf");
  test::GerarArquivo(prf, 7, 6, 1, 28, 7);
  QCOMPARE(test::ContagensDoArquivo(prf, temp).size(), 42);
  test::CreateCurrentDatabase(atual);
  const QString programa = QStringLiteral(ORLAN_TEST_PROGRAM_DIR "/importacao_filho");
  // Kills land within about three whole runs, however fast this build runs
  // (a sanitized build is several times slower): one run on a scratch copy,
  // from "pronto" to its end, gives the measure.
  const QString medida = dir.filePath("medida.db");
  QVERIFY(QFile::copy(atual, medida));
  QProcess uma;
  uma.start(programa, {temp, medida, QStringLiteral("1")});
  QVERIFY(uma.waitForStarted() && uma.waitForReadyRead(10000));
  QElapsedTimer relógio;
  relógio.start();
  QVERIFY(uma.waitForFinished(60000) && uma.exitCode() == 0);
  const qint64 janela_us = std::max<qint64>(150000, 3000 * relógio.elapsed());
  QRandomGenerator aleatório(20060320);
  int abandonadas = 0;  // kills that left a transaction to roll back
  constexpr int kMortes = 120;
  for (int i = 0; i < kMortes; ++i) {
    QProcess filho;
    filho.start(programa, {temp, atual, QStringLiteral("1000")});
    QVERIFY2(filho.waitForStarted(), qPrintable(programa));
    QVERIFY2(filho.waitForReadyRead(10000), qPrintable(QString::fromUtf8(filho.readAllStandardError())));
    QThread::usleep(static_cast<unsigned long>(aleatório.bounded(janela_us)));
    filho.kill();
    QVERIFY(filho.waitForFinished(10000));
    QVERIFY2(filho.exitStatus() == QProcess::CrashExit,
             qPrintable(QStringLiteral("the child ended by itself: ") + QString::fromUtf8(filho.readAllStandardError())));
    if (QFile(atual + "-journal").size() > 0) ++abandonadas;

    auto db = test::OpenExisting(atual);
    QCOMPARE(db->scalar("PRAGMA integrity_check").toString(), QStringLiteral("ok"));
    QVERIFY2(!db->scalar("PRAGMA foreign_key_check").isValid(), "a row points at a missing parent");
    // The file cut down to the returns the current database holds: those
    // must be there exactly as the file has them, each once.
    const QString importadas = dir.filePath("importadas.fix");
    QFile::remove(importadas);
    QVERIFY(QFile::copy(temp, importadas));
    auto só = test::OpenExisting(importadas);
    só->execute("ATTACH DATABASE ? AS a", {atual});
    test::ManterSó(*só, "EXISTS (SELECT 1 FROM a.tblQUR m WHERE m.IE = tblQUR.IE AND m.Ref1 = tblQUR.Ref1)");
    const QString diferenças = test::Diferenças(*só, *db);
    QVERIFY2(diferenças.isEmpty(), qPrintable(QStringLiteral("after kill %1: %2").arg(i).arg(diferenças)));
  }
  auto db = test::OpenExisting(atual);
  QCOMPARE(test::Count(*db, "tblQUR"), 42);
  QVERIFY2(abandonadas >= kMortes / 4, qPrintable(QString::number(abandonadas)));
}
#endif  // Q_MOC_RUN

QTEST_GUILESS_MAIN(TestImportFalhas)
#include "test_import_falhas.moc"
