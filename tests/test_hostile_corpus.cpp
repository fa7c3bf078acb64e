// Replays the fuzz target's seed corpus and every input that ever found a
// fault (fuzz/regressions/) as ordinary tests, in this build (with the
// sanitizers when the suite is built with them): each input goes through the
// fuzz target's own checks, and its file part through a whole check run,
// which must give a definite result and leave a temporary database only when
// it accepts.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#ifndef Q_MOC_RUN
#include "checker/cons_pre.h"
#include "support/test_support.h"

// The fuzz target itself, so that its checks of every row run here too.
#include "fuzz/fuzz_prf.cpp"

using namespace orlan;
#endif

class TestHostileCorpus : public QObject {
  Q_OBJECT

 private slots:
  void entradas_data();
  void entradas();
};

void TestHostileCorpus::entradas_data() {
  QTest::addColumn<QString>("caminho");
  int n = 0;
  for (const char* pasta : {"corpus", "regressions"}) {
    const QDir d(QStringLiteral(ORLAN_SOURCE_DIR "/fuzz/") + QLatin1String(pasta));
    for (const QString& nome : d.entryList(QDir::Files, QDir::Name)) {
      if (nome.endsWith(QLatin1String(".md"))) continue;
      QTest::newRow(qPrintable(QLatin1String(pasta) + '/' + nome)) << d.filePath(nome);
      ++n;
    }
  }
  QVERIFY2(n >= 10, "the seed corpus is missing");
}

void TestHostileCorpus::entradas() {
  QFETCH(QString, caminho);
  const QByteArray entrada = test::ReadFile(caminho);
  QVERIFY(!entrada.isNull());
  // Aborts the whole test on any breach of the fuzz target's checks.
  LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(entrada.constData()),
                         static_cast<std::size_t>(entrada.size()));

  // The fuzz target's first byte picks its chunk size; the rest is the file.
  QTemporaryDir dir;
  const QString arquivo = dir.filePath("entrada.prf");
  const QString temp = dir.filePath("BDTempPrf.fix");
  test::WriteFile(arquivo, entrada.mid(1));
  ConsPre verificador(nullptr, temp);
  verificador.SetInputFile(arquivo);
  const int resultado = verificador.RunCheck();
  switch (resultado) {
    case kVerificaçãoAceita: {
      QVERIFY(verificador.faults().empty());
      auto db = test::OpenExisting(temp);
      QCOMPARE(db->scalar("PRAGMA integrity_check").toString(), QStringLiteral("ok"));
      break;
    }
    case kArquivoIlegível:
    case kConteúdoInválido:
      QVERIFY(!verificador.faults().empty());
      QVERIFY(!QFile::exists(temp));
      break;
    default:
      QFAIL(qPrintable(QStringLiteral("result %1: %2").arg(resultado).arg(verificador.report())));
  }
  QStringList deixados{QStringLiteral("entrada.prf")};
  if (resultado == kVerificaçãoAceita) deixados.prepend(QStringLiteral("BDTempPrf.fix"));
  QCOMPARE(QDir(dir.path()).entryList(QDir::Files), deixados);
}

QTEST_GUILESS_MAIN(TestHostileCorpus)
#include "test_hostile_corpus.moc"
