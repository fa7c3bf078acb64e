// Faults during an import, driven through the control as the widget drives
// it: a temporary database damaged or cut down after its check run, a
// current database that lacks a table or a column. After each one the current database must be sound, hold
// every return whole or not at all, keep what it held before, and the user
// must have been told what went wrong; then the same control must still work.
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#ifndef Q_MOC_RUN
#include "control/ctl_orlan.h"
#include "support/scripted_dialogs.h"
#include "support/test_support.h"
#include "test_reliability_apoio.h"

using namespace orlan;
#endif

namespace {

#ifndef Q_MOC_RUN
// A control with its own scripted dialogs and component folder.
struct Sessão {
  explicit Sessão(const QString& pasta) { c.setPastaComponente(pasta); }
  ScriptedDialogs d;
  ctlOrlan c{&d};
};

bool HáMensagem(const ScriptedDialogs& d, const QString& trecho, int estilo = kEstiloCritico) {
  for (const MessageRequest& m : d.messages()) {
    if (m.style == estilo && m.text.contains(trecho)) return true;
  }
  return false;
}
#endif

}  // namespace

class TestReliability : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void bancoTemporarioDanificadoDepoisDaVerificacao_data();
  void bancoTemporarioDanificadoDepoisDaVerificacao();
  void bancoAtualSemTabelaOuColuna_data();
  void bancoAtualSemTabelaOuColuna();

#ifndef Q_MOC_RUN
 private:
  // A new current database (the "DbAtual" setting points at it) that already
  // holds every return of file A, imported through the control.
  QString AtualComA();
  std::unique_ptr<Sessão> NovaSessão();
  // Picks `arquivo`, checks it and selects every item; false unless the
  // check accepted it and listed its twelve returns.
  bool Verificar(Sessão& s, const QString& arquivo);

  QTemporaryDir dir_;
  QString a_, b_;
  test::Contagens fontes_a_, fontes_ab_;
  int n_ = 0;
#endif
};

#ifndef Q_MOC_RUN
void TestReliability::initTestCase() {
  QVERIFY(dir_.isValid());
  test::IsolateSettings(dir_.filePath("settings"));
  // Two files of the same taxpayers: A holds January to March, B April to June.
  a_ = dir_.filePath("a.prf");
  b_ = dir_.filePath("b.prf");
  test::GerarArquivo(a_, 4, 3, 1, 24, 11);
  test::GerarArquivo(b_, 4, 3, 4, 24, 11);
  fontes_a_ = test::ContagensDoArquivo(a_, dir_.filePath("fonte-a.db"));
  const test::Contagens fontes_b = test::ContagensDoArquivo(b_, dir_.filePath("fonte-b.db"));
  QCOMPARE(fontes_a_.size(), 12);
  QCOMPARE(fontes_b.size(), 12);
  fontes_ab_ = fontes_a_;
  fontes_ab_.insert(fontes_b);
  QCOMPARE(fontes_ab_.size(), 24);
}

std::unique_ptr<Sessão> TestReliability::NovaSessão() {
  return std::make_unique<Sessão>(dir_.filePath(QStringLiteral("componente%1").arg(++n_)));
}

bool TestReliability::Verificar(Sessão& s, const QString& arquivo) {
  s.d.queueFile(arquivo);
  const bool ok = s.c.butSelecionarArquivo_Click().ok() && s.c.resultadoVerificação() == kVerificaçãoAceita &&
                  s.c.itens().size() == 12;
  if (!ok) qWarning("checking %s: %s", qPrintable(arquivo), qPrintable(test::Textos(s.d.messages())));
  for (int i = 0; i < 12; ++i) s.c.selecionarItem(i, true);
  return ok;
}

QString TestReliability::AtualComA() {
  const QString atual = dir_.filePath(QStringLiteral("atual%1.db").arg(n_ + 1));
  test::CreateCurrentDatabase(atual);
  test::WriteDbAtual(atual);
  auto s = NovaSessão();
  if (!Verificar(*s, a_) || !s->c.butImportar_Click().ok())
    qFatal("importing A: %s", qPrintable(test::Textos(s->d.messages())));
  return atual;
}

void TestReliability::bancoTemporarioDanificadoDepoisDaVerificacao_data() {
  QTest::addColumn<QString>("dano");
  QTest::addColumn<QString>("mensagem");
  QTest::newRow("bytes overwritten in the middle") << "bytes"
                                                   << "Erro 3049";
  QTest::newRow("a detail table dropped") << "DROP TABLE tblDIPAM"
                                          << "Erro 3078";
  QTest::newRow("a register column dropped") << "ALTER TABLE tblIESubstituto DROP COLUMN DataFim"
                                             << "Erro 3265";
}

void TestReliability::bancoTemporarioDanificadoDepoisDaVerificacao() {
  QFETCH(QString, dano);
  QFETCH(QString, mensagem);
  const QString atual = AtualComA();
  auto s = NovaSessão();
  QVERIFY(Verificar(*s, b_));
  const QString temp = s->c.caminhoBancoTemp();
  if (dano == QLatin1String("bytes")) {
    // Whole pages in the middle of the file: the detail tables' rows and
    // indexes, which the list did not read.
    QFile f(temp);
    QVERIFY(f.open(QIODevice::ReadWrite));
    const qint64 página = 4096;
    QVERIFY(f.size() > 16 * página);
    QVERIFY(f.seek(f.size() / 2 / página * página));
    f.write(QByteArray(4 * página, '\xA5'));
  } else {
    auto outro = test::OpenExisting(temp);
    outro->execute(dano.toStdString());
  }

  const Status falha = s->c.butImportar_Click();
  qInfo("%s", qPrintable(test::Textos(s->d.messages())));
  QVERIFY(!falha.ok());
  QVERIFY2(HáMensagem(s->d, mensagem), qPrintable(test::Textos(s->d.messages())));
  test::Contagens depois;
  const QString violações = test::Violações(atual, fontes_ab_, fontes_a_, &depois);
  QVERIFY2(violações.isEmpty(), qPrintable(violações));
  QVERIFY(depois.size() < fontes_ab_.size());

  // A new check run of the same file replaces the damaged database, and the
  // same control then imports every return.
  QVERIFY(Verificar(*s, b_));
  s->d.clear();
  QVERIFY2(s->c.butImportar_Click().ok(), qPrintable(test::Textos(s->d.messages())));
  const QString finais = test::Violações(atual, fontes_ab_, fontes_ab_);
  QVERIFY2(finais.isEmpty(), qPrintable(finais));
}

void TestReliability::bancoAtualSemTabelaOuColuna_data() {
  QTest::addColumn<QString>("alteração");
  QTest::addColumn<QString>("mensagem");
  QTest::addColumn<bool>("importa");
  QTest::newRow("no tblDIPAM") << "DROP TABLE tblDIPAM"
                               << "Erro 3078" << false;
  QTest::newRow("no CFOP column Outras") << "ALTER TABLE tblDetalhesCFOPs DROP COLUMN Outras"
                                         << "Erro 3265" << false;
  QTest::newRow("no register column NF") << "ALTER TABLE tblIESubstituido DROP COLUMN NF"
                                         << "Erro 3265" << false;
  QTest::newRow("no tblContribuinte") << "DROP TABLE tblContribuinte"
                                      << "Erro na atualização do Cadastro (Arquivo Corrompido)!" << false;
  // The two newest header columns are optional: an older database takes the
  // returns without them.
  QTest::newRow("no newest tblQUR columns")
      << "ALTER TABLE tblQUR DROP COLUMN \"Autenticação\"; ALTER TABLE tblQUR DROP COLUMN \"DataGeraçãoColigida\""
      << "A Importação foi concluída com sucesso." << true;
}

void TestReliability::bancoAtualSemTabelaOuColuna() {
  QFETCH(QString, alteração);
  QFETCH(QString, mensagem);
  QFETCH(bool, importa);
  const QString atual = AtualComA();
  test::OpenExisting(atual)->executeScript(alteração.toStdString());
  auto s = NovaSessão();
  QVERIFY(Verificar(*s, b_));
  const Status status = s->c.butImportar_Click();
  qInfo("%s", qPrintable(test::Textos(s->d.messages())));
  QVERIFY2(HáMensagem(s->d, mensagem, importa ? kEstiloOk : kEstiloCritico), qPrintable(test::Textos(s->d.messages())));
  test::Contagens depois;
  const QString violações = test::Violações(atual, fontes_ab_, importa ? fontes_ab_ : fontes_a_, &depois);
  QVERIFY2(violações.isEmpty(), qPrintable(violações));
  if (importa) {
    QVERIFY(status.ok());
  } else {
    QCOMPARE(depois.size(), fontes_a_.size());
  }
}
#endif  // Q_MOC_RUN

QTEST_GUILESS_MAIN(TestReliability)
#include "test_reliability.moc"
