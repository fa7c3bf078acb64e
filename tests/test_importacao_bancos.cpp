// The import run on both current-database engines, with the same cases: an
// SQLite file and a PostgreSQL server (the tests' private one). Each case
// imports a temporary database the checker wrote from a generated file,
// made hostile (quotes, backslashes, tabs, line ends, "|", accents, emoji,
// an IE with quotes, a return of Nulls), and compares every table and field
// of the current database with it; the events, questions and summary must be
// the same on both.
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

// moc reads ASCII only: it sees the test class and nothing else.
#ifndef Q_MOC_RUN
#include <functional>
#include <memory>
#include <stdexcept>

#include "checker/cons_pre.h"
#include "control/importacao_dialogos.h"
#include "database/banco_atual.h"
#include "database/pg/pg_conexao.h"
#include "database/sqlite/recordset.h"
#include "database/sqlite/sqlite_banco_atual.h"
#include "import/importacao.h"
#include "support/banco.h"
#include "support/comparacao.h"
#include "support/pg_support.h"
#include "support/scripted_dialogs.h"
#include "support/test_support.h"
#include "test_reliability_apoio.h"

using namespace orlan;
using orlan::test::Banco;
using orlan::test::BancoPg;

namespace {

const QString kHostil = QStringLiteral("O'Brien \"aspas\" \\barra\\ \\N\ttab\nlinha\r\nCR | pipe; -- ação 😀");

// A run hosted as the control hosts it, every event and message kept.
struct Execução {
  ScriptedDialogs diálogos;
  std::vector<Evento> eventos;
  std::function<void(Evento)> aoEvento;
  ImportaçãoPorDiálogos anfitrião{diálogos, [this](Evento e) {
                                    eventos.push_back(e);
                                    if (aoEvento) aoEvento(e);
                                  }};
  int conta(Evento e) const { return static_cast<int>(std::count(eventos.begin(), eventos.end(), e)); }
  bool concluída() const { return conta(Evento::FinalizouImportação) == 1; }
  int perguntas() const {
    int n = 0;
    for (const MessageRequest& m : diálogos.messages()) n += m.style == kEstiloCriticoSimNaoCancelar;
    return n;
  }
};

std::vector<std::int32_t> Chaves(Database& temp) {
  std::vector<std::int32_t> chaves;
  for (Recordset r = temp.openQuery("SELECT NroQUR FROM tblQUR ORDER BY NroQUR"); !r.eof(); r.moveNext()) {
    chaves.push_back(r.value("NroQUR").toInt());
  }
  return chaves;
}

EstadoImportação Estado(std::shared_ptr<Database> temp, Banco& banco) {
  EstadoImportação e;
  e.BancoTemp = std::move(temp);
  e.BancoAtual = banco.atual;
  return e;
}

// The condition on tblQUR that keeps the returns `chaves`.
std::string Em(const std::vector<std::int32_t>& chaves) {
  QStringList lista;
  for (std::int32_t k : chaves) lista << QString::number(k);
  return "NroQUR IN (" + lista.join(QLatin1Char(',')).toStdString() + ")";
}

Status Importar(EstadoImportação& e, const std::vector<std::int32_t>& chaves, Execução& x) {
  const Status s = ExecutarImportação(e, chaves, x.anfitrião);
  if (!s.ok()) qInfo("the run ended with %s", s.ToString().c_str());
  return s;
}

}  // namespace
#endif  // Q_MOC_RUN

class TestImportacaoBancos : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void documentosInteiros_data() { backends(); }
  void documentosInteiros();
  void respostasASobreposicao_data() { backends(); }
  void respostasASobreposicao();
  void contribuinteJaCadastrado_data() { backends(); }
  void contribuinteJaCadastrado();
  void falhaNoMeioDeUmLote_data() { backends(); }
  void falhaNoMeioDeUmLote();
  void interrupcaoNoMeioDeUmLote_data() { backends(); }
  void interrupcaoNoMeioDeUmLote();
  void historicoDasExecucoes_data() { backends(); }
  void historicoDasExecucoes();
  void lotesMostramOMesmoEstado_data() { backends(); }
  void lotesMostramOMesmoEstado();
  void contribuinteRecusadoAntesDosEventos_data() { backends(); }
  void contribuinteRecusadoAntesDosEventos();
  void colunasDoCabecalho_data() { backends(); }
  void colunasDoCabecalho();
  void regrasDoBancoAtual_data() { backends(); }
  void regrasDoBancoAtual();
  void gravacoesPublicas_data() { backends(); }
  void gravacoesPublicas();
  void valoresExatos_data() { backends(); }
  void valoresExatos();

 private:
  void backends();
#ifndef Q_MOC_RUN
  std::unique_ptr<Banco> novoBanco(bool servidor);
  // A copy of the temporary database, for a case to change.
  std::shared_ptr<Database> cópia();
  // A copy with only the returns `chaves`: what importing just them stores.
  std::shared_ptr<Database> só(const std::vector<std::int32_t>& chaves);

  QTemporaryDir dir_;
  std::shared_ptr<Database> temp_;
  int n_ = 0;
#endif
};

#ifndef Q_MOC_RUN
void TestImportacaoBancos::backends() {
  QTest::addColumn<bool>("servidor");
  QTest::newRow("SQLite") << false;
  QTest::newRow("PostgreSQL") << true;
}

std::unique_ptr<Banco> TestImportacaoBancos::novoBanco(bool servidor) {
  return test::NovoBanco(servidor, dir_.filePath(QStringLiteral("atual-%1.db").arg(++n_)));
}

std::shared_ptr<Database> TestImportacaoBancos::cópia() {
  const QString caminho = dir_.filePath(QStringLiteral("copia-%1.fix").arg(++n_));
  if (!QFile::copy(QString::fromStdString(temp_->fileName()), caminho)) qFatal("copying the temporary database");
  return test::OpenExisting(caminho);
}

std::shared_ptr<Database> TestImportacaoBancos::só(const std::vector<std::int32_t>& chaves) {
  std::shared_ptr<Database> temp = cópia();
  test::ManterSó(*temp, Em(chaves));
  return temp;
}

void TestImportacaoBancos::initTestCase() {
  QVERIFY(dir_.isValid());
  const QString prf = dir_.filePath(QStringLiteral("gerado.prf"));
  // 31 lines a return: the last occurrence of each has a row in each register.
  test::GerarArquivo(prf, 4, 2, 1, 31, 3);
  const QString caminho = dir_.filePath(QStringLiteral("BDTempPrf.fix"));
  ConsPre verificador(nullptr, caminho);
  verificador.SetInputFile(prf);
  QCOMPARE(int(verificador.RunCheck()), int(kVerificaçãoAceita));
  temp_ = test::OpenExisting(caminho);
  // Hostile text and Nulls in a field of each kind of table.
  temp_->execute("UPDATE tblContribuinte SET \"RazãoSocial\" = ?, CNAE = NULL", {kHostil});
  temp_->execute("UPDATE tblQUR SET \"Autenticação\" = ?, Origem = NULL", {kHostil});
  temp_->execute("UPDATE \"tblOcorrências\" SET \"Ocorrência\" = ?, FLegal = NULL", {kHostil});
  temp_->execute("UPDATE tblIESubstituido SET NF = ?", {kHostil});
  temp_->execute("UPDATE tblZFM_ALC SET \"MunicípioDest\" = ?, Data = NULL", {kHostil});
  // An IE with letters for the first taxpayer, for the letter-case rule, and
  // one with quotes for the last.
  const QString primeiro = temp_->scalar("SELECT IE FROM tblContribuinte ORDER BY Id LIMIT 1").toString();
  const QString último = temp_->scalar("SELECT IE FROM tblContribuinte ORDER BY Id DESC LIMIT 1").toString();
  for (const auto& [de, para] : {std::pair{primeiro, "AB" + primeiro}, std::pair{último, QStringLiteral("1'2\"3")}}) {
    for (const char* tabela : {"tblContribuinte", "tblQUR"}) {
      temp_->execute(std::string("UPDATE ") + tabela + " SET IE = ? WHERE IE = ?", {para, de});
    }
  }
  // The last return: every field Null but its IE and Ref1.
  const QVariant nulo = temp_->scalar("SELECT max(NroQUR) FROM tblQUR");
  for (const schema::RecordDef& r : schema::Records()) {
    if (r.parent == schema::Parent::kFile) continue;
    std::string campos;
    for (const schema::FieldDef& f : r.fields) {
      if (f.name != "IE" && f.name != "Ref1")
        campos += (campos.empty() ? "" : ", ") + QuoteIdentifier(f.name) + " = NULL";
    }
    temp_->execute("UPDATE " + QuoteIdentifier(r.table) + " SET " + campos +
                       (r.parent == schema::Parent::kOccurrence
                            ? " WHERE \"Código\" IN (SELECT \"Código\" FROM \"tblOcorrências\" WHERE NroQUR = ?)"
                            : " WHERE NroQUR = ?"),
                   {nulo});
  }
}

// The engine of the row; without a test server its row is skipped.
#define SERVIDOR()        \
  QFETCH(bool, servidor); \
  if (servidor && test::PgServidorDeTeste().isEmpty()) QSKIP(qPrintable(test::PgMotivoSemServidor()))
#define NOVO_BANCO(banco) \
  SERVIDOR();             \
  std::unique_ptr<Banco> banco = novoBanco(servidor)

// Nothing selected: the person is told, nothing starts. A selection with
// gaps: the selected documents whole, in one commit, none of the others; a
// return selected whose taxpayer and month another return in the file has
// too is the one copied, by its key.
void TestImportacaoBancos::documentosInteiros() {
  NOVO_BANCO(banco);
  std::vector<std::int32_t> chaves = Chaves(*temp_);
  std::shared_ptr<Database> temp = cópia();
  temp->execute("UPDATE tblQUR SET Ref1 = (SELECT Ref1 FROM tblQUR WHERE NroQUR = ?) WHERE NroQUR = ?",
                {chaves[2], chaves[3]});
  EstadoImportação e = Estado(temp, *banco);
  Execução nada;
  QVERIFY(Importar(e, {}, nada).ok());
  QVERIFY(nada.eventos.empty());
  QCOMPARE(test::Textos(nada.diálogos.messages()),
           QStringLiteral("[Atenção!|16] Não foi selecionado nenhum documento para ser importado!"));

  chaves.erase(chaves.begin() + 5);
  chaves.erase(chaves.begin() + 2);
  Execução x;
  const ContagemBanco antes = banco->atual->contagem();
  QVERIFY(Importar(e, chaves, x).ok());
  // Documents that need no question go together: on a server the run waits
  // for a handful of answers, however many documents there are.
  const ContagemBanco depois = banco->atual->contagem();
  if (servidor) QVERIFY2(depois.idasEVoltas - antes.idasEVoltas <= 12, "a round trip per document");
  QCOMPARE(depois.commits - antes.commits, 1);
  QCOMPARE(x.eventos.front(), Evento::IniciouImportação);
  QCOMPARE(x.conta(Evento::NoMeio), 10 * int(chaves.size()));
  QCOMPARE(x.eventos.back(), Evento::FinalizouImportação);
  QCOMPARE(test::Textos(x.diálogos.messages()), QStringLiteral("[Sucesso!|0] A Importação foi concluída com sucesso."));
  QCOMPARE(e.resumo.importados, int(chaves.size()));
  QCOMPARE(e.NroQURNovo, banco->número("SELECT max(\"NroQUR\") FROM \"tblQUR\""));
  test::ManterSó(*temp, Em(chaves));
  for (const schema::RecordDef& r : schema::Records()) {
    const QString tabela = QString::fromUtf8(r.table.data(), int(r.table.size()));
    QCOMPARE(e.resumo.linhasPorTabela[std::string(r.table)], test::Count(*temp, tabela));
  }
  QCOMPARE(banco->diferenças(*temp), QString());
  QCOMPARE(banco->número("SELECT count(*) FROM \"tblContribuinte\" WHERE \"DataCadastro\" = CURRENT_DATE"), 4);
}

// The question about a return that exists, Cancel, No (each counted, the
// last one too) and No for the next ones. A taxpayer gone from the current
// database is stored again before the question, whatever the answer. A
// commit per batch, before each question, and for what the end still holds.
void TestImportacaoBancos::respostasASobreposicao() {
  NOVO_BANCO(banco);
  EstadoImportação e = Estado(temp_, *banco);
  const std::vector<std::int32_t> c = Chaves(*temp_);
  Execução primeira;
  QVERIFY(Importar(e, {c[2]}, primeira).ok());
  const std::string antigo = "SELECT count(*) FROM \"tblQUR\" WHERE \"NroQUR\" = " + std::to_string(e.NroQURNovo);
  const std::string máximo = "SELECT max(\"NroQUR\") FROM \"tblQUR\"";

  banco->executar("DELETE FROM \"tblContribuinte\"");
  Execução cancelada;
  cancelada.diálogos.queueAnswer(kRespostaCancelar);
  qlonglong commits = banco->commits();
  QVERIFY(Importar(e, {c[0], c[2], c[4]}, cancelada).ok());
  QCOMPARE(cancelada.diálogos.messages().size(), size_t{1});
  const MessageRequest& q = cancelada.diálogos.messages()[0];
  QCOMPARE(q.text, QStringLiteral("A Referência: 01/2006 do Contribuinte com IE: %1 já existe!\r\n\r\n"
                                  "Deseja sobrepor todas as informações associadas a esta referência?")
                       .arg(temp_->scalar("SELECT IE FROM tblQUR WHERE NroQUR = ?", {c[2]}).toString()));
  QCOMPARE(q.title, QStringLiteral("Atenção!"));
  QCOMPARE(q.style, int(kEstiloCriticoSimNaoCancelar));
  QCOMPARE(q.check_box, QStringLiteral("Aplicar esta resposta aos próximos documentos"));
  QCOMPARE(cancelada.conta(Evento::NoMeio), 10 + 3);
  QCOMPARE(cancelada.conta(Evento::FinalizouImportação), 0);
  QCOMPARE(banco->commits() - commits, 3);
  QCOMPARE(e.resumo.importados, 1);
  QCOMPARE(e.NroQURNovo, banco->número(máximo));
  QCOMPARE(banco->diferenças(*só({c[0], c[2]})), QString());

  banco->executar("DELETE FROM \"tblContribuinte\"");
  Execução não;
  não.diálogos.queueAnswer(kRespostaNao);
  não.diálogos.queueAnswer(kRespostaNao);
  commits = banco->commits();
  QVERIFY(Importar(e, {c[4], c[0], c[2]}, não).ok());
  QCOMPARE(não.perguntas(), 2);
  QCOMPARE(não.conta(Evento::NoMeio), 10 + 3 + 3);
  QVERIFY(não.concluída());
  QCOMPARE(banco->commits() - commits, 4);
  QCOMPARE(e.resumo.ignorados, 2);
  QCOMPARE(e.resumo.importados, 1);
  QCOMPARE(e.NroQURNovo, banco->número(máximo));
  QCOMPARE(banco->diferenças(*só({c[0], c[2], c[4]})), QString());

  Execução nenhum;
  nenhum.diálogos.queueAnswer(kRespostaNao, true);
  commits = banco->commits();
  QVERIFY(Importar(e, c, nenhum).ok());
  QCOMPARE(nenhum.perguntas(), 1);
  QCOMPARE(nenhum.conta(Evento::NoMeio), 3 * 3 + 5 * 10);
  QVERIFY(nenhum.concluída());
  QCOMPARE(banco->commits() - commits, 2);
  QCOMPARE(e.resumo.ignorados, 3);
  QCOMPARE(e.resumo.importados, 5);
  QCOMPARE(banco->número(antigo), 1);
  QCOMPARE(banco->diferenças(*temp_), QString());
}

// A taxpayer already stored, with its letters in small case and other
// values, is kept as it is and not stored again; a return stored with its
// IE in small letters is the same return. A taxpayer that leaves the current
// database during a run (taxpayers X, Y, X) is stored again by its next
// document, not taken for the one copied.
void TestImportacaoBancos::contribuinteJaCadastrado() {
  NOVO_BANCO(banco);
  const std::vector<std::int32_t> c = Chaves(*temp_);
  const QString x = temp_->scalar("SELECT IE FROM tblQUR WHERE NroQUR = ?", {c[0]}).toString();
  QVERIFY(x.startsWith(QStringLiteral("AB")));
  const std::string literal = "lower('" + x.toStdString() + "')";
  banco->executar("INSERT INTO \"tblContribuinte\" (\"IE\", \"RazãoSocial\", \"DataCadastro\") VALUES (" + literal +
                  ", 'Outro', '2001-02-03')");
  EstadoImportação e = Estado(temp_, *banco);
  Execução primeira;
  QVERIFY(Importar(e, c, primeira).ok());
  QCOMPARE(banco->número("SELECT count(*) FROM \"tblContribuinte\""), 4);
  QCOMPARE(banco->número("SELECT count(*) FROM \"tblContribuinte\" WHERE \"RazãoSocial\" = 'Outro' AND "
                         "\"DataCadastro\" = '2001-02-03' AND \"CNPJ\" IS NULL"),
           1);
  QCOMPARE(e.resumo.linhasPorTabela["tblContribuinte"], 3);
  QCOMPARE(e.resumo.importados, 8);

  banco->executar("UPDATE \"tblQUR\" SET \"IE\" = lower(\"IE\")");
  Execução segunda;
  segunda.diálogos.queueAnswer(kRespostaSim, true);
  int no_meio = 0;
  segunda.aoEvento = [&](Evento ev) {
    if (ev == Evento::NoMeio && ++no_meio == 22)
      banco->executar("DELETE FROM \"tblContribuinte\" WHERE \"IE\" = " + literal);
  };
  QVERIFY(Importar(e, {c[0], c[2], c[1], c[3], c[4], c[5], c[6], c[7]}, segunda).ok());
  QCOMPARE(segunda.perguntas(), 1);
  QCOMPARE(e.resumo.substituídos, 8);
  QCOMPARE(banco->número("SELECT count(*) FROM \"tblQUR\""), 8);
  QCOMPARE(banco->número("SELECT count(*) FROM \"tblContribuinte\""), 4);
  QCOMPARE(banco->número("SELECT count(*) FROM \"tblContribuinte\" WHERE \"DataCadastro\" = CURRENT_DATE"), 4);
}

namespace {

// What a log line says, as "resultado anterior novo" with keys as given.
QString Resumo(const LinhaHistórico& l) {
  const auto chave = [](const std::optional<std::int64_t>& k) { return k ? QString::number(*k) : QStringLiteral("-"); };
  const std::string_view r = TextoResultado(l.resultado);
  return QString::fromUtf8(r.data(), static_cast<int>(r.size())) + QLatin1Char(' ') + chave(l.anterior) +
         QLatin1Char(' ') + chave(l.novo);
}

}  // namespace

// A document in the middle of a batch that the current database refuses:
// the ones before it whole, it and the later ones absent, the events those a
// run without batches raises, and the log saying so. A table the current
// database lacks is named in the run's status, with no message shown.
void TestImportacaoBancos::falhaNoMeioDeUmLote() {
  SERVIDOR();
  const std::vector<std::int32_t> chaves = Chaves(*temp_);
  QCOMPARE(int(chaves.size()), 8);
  const std::int32_t culpado = chaves[4];
  struct Caso {
    const char* tabela;  // the table the current database lacks; none: a value it refuses
    int passo;           // the copy step that fails: payments are the first, occurrences the fifth
  };
  for (const Caso& caso : {Caso{"tblIESubstituido", 5}, Caso{"tblDIPAM", 6}, Caso{nullptr, 1}}) {
    qInfo("%s", caso.tabela ? caso.tabela : "valor recusado");
    std::shared_ptr<Database> temp = cópia();
    std::unique_ptr<Banco> banco = novoBanco(servidor);
    if (caso.tabela) {
      // Only the culprit has rows there.
      const std::string t = QuoteIdentifier(caso.tabela);
      temp->execute(
          "DELETE FROM " + t +
              (caso.passo == 5 ? " WHERE \"Código\" NOT IN (SELECT \"Código\" FROM \"tblOcorrências\" WHERE NroQUR = ?)"
                               : " WHERE NroQUR <> ?"),
          {culpado});
      QVERIFY(temp->scalar("SELECT count(*) FROM " + t).toInt() > 0);
      banco->executar("ALTER TABLE " + t + " RENAME TO fora");
    } else {
      temp->execute(
          "UPDATE tblPagamento SET Valor = 12345.5 WHERE _rowid_ = "
          "(SELECT min(_rowid_) FROM tblPagamento WHERE NroQUR = ?)",
          {culpado});
      banco->executar(servidor ? "ALTER TABLE \"tblPagamento\" ADD CONSTRAINT recusa CHECK (\"Valor\" <> 12345.5)"
                               : "CREATE TRIGGER recusa BEFORE INSERT ON tblPagamento WHEN NEW.Valor = 12345.5 "
                                 "BEGIN SELECT RAISE(ABORT, 'valor recusado'); END");
    }
    EstadoImportação e = Estado(temp, *banco);
    Execução x;
    const Status s = Importar(e, chaves, x);
    QVERIFY(!s.ok());
    if (caso.tabela) {
      QCOMPARE(s.number(), int(kErrTableNotFound));
      QVERIFY(s.message().find(caso.tabela) != std::string::npos);
      QVERIFY(x.diálogos.messages().empty());
    }
    QCOMPARE(x.conta(Evento::FinalizouImportação), 0);
    QCOMPARE(x.conta(Evento::NoMeio), 4 * 10 + 3 + caso.passo);
    QCOMPARE(e.resumo.importados, 4);
    const std::vector<LinhaHistórico> log = banco->atual->histórico(1);
    QCOMPARE(int(log.size()), 5);
    for (int i = 0; i < 4; ++i) QCOMPARE(log[i].resultado, ResultadoDocumento::kImportado);
    QCOMPARE(Resumo(log[4]), QStringLiteral("falhou - -"));
    const QString ie = temp->scalar("SELECT IE FROM tblQUR WHERE NroQUR = ?", {culpado}).toString();
    QCOMPARE(log[4].ie, ie);
    // The four before it whole, nothing of it but its taxpayer, stored before it.
    if (caso.tabela) banco->executar("ALTER TABLE fora RENAME TO " + QuoteIdentifier(caso.tabela));
    banco->executar("DELETE FROM \"tblContribuinte\" WHERE \"IE\" = '" + ie.toStdString() + "'");
    test::ManterSó(*temp, Em({chaves[0], chaves[1], chaves[2], chaves[3]}));
    QCOMPARE(banco->diferenças(*temp), QString());
  }
}

// The host asks to stop while a batch's events are raised: the documents
// whose events it saw are kept whole, none after them.
void TestImportacaoBancos::interrupcaoNoMeioDeUmLote() {
  NOVO_BANCO(banco);
  EstadoImportação e = Estado(temp_, *banco);
  ScriptedDialogs diálogos;
  int no_meio = 0;
  ImportaçãoPorDiálogos anfitrião(
      diálogos, [&](Evento ev) { no_meio += ev == Evento::NoMeio; }, [&] { return no_meio >= 20; });
  const std::vector<std::int32_t> chaves = Chaves(*temp_);
  QVERIFY(ExecutarImportação(e, chaves, anfitrião).ok());
  QCOMPARE(no_meio, 20);
  QCOMPARE(e.resumo.importados, 2);
  QVERIFY(diálogos.messages().empty());
  QCOMPARE(banco->diferenças(*só({chaves[0], chaves[1]})), QString());
  const std::vector<LinhaHistórico> log = banco->atual->histórico(1);
  QCOMPARE(int(log.size()), 2);
  QCOMPARE(banco->número("SELECT count(*) FROM \"tblQUR\" WHERE \"NroQUR\" = " + std::to_string(*log[1].novo)), 1);
}

// Answers over a whole file (No, Yes, then Yes for the rest, asked once;
// then Cancel at the first question), and one log line per document a run
// reached, with its outcome, in the same transaction as the document; a
// current database without the log works.
void TestImportacaoBancos::historicoDasExecucoes() {
  NOVO_BANCO(banco);
  QVERIFY(banco->atual->temHistórico());
  EstadoImportação e = Estado(temp_, *banco);
  e.ArquivoOrigem = QStringLiteral("/dados/declarações\tjunho.prf");
  e.Sha256Origem = QString(64, QLatin1Char('a'));
  const std::vector<std::int32_t> chaves = Chaves(*temp_);

  Execução primeira;
  QVERIFY(Importar(e, chaves, primeira).ok());
  Execução segunda;
  segunda.diálogos.queueAnswer(kRespostaNao);
  segunda.diálogos.queueAnswer(kRespostaSim);
  segunda.diálogos.queueAnswer(kRespostaSim, true);
  const qlonglong commits = banco->commits();
  QVERIFY(Importar(e, chaves, segunda).ok());
  QCOMPARE(segunda.perguntas(), 3);
  QCOMPARE(banco->commits() - commits, 4);
  QCOMPARE(e.resumo.ignorados, 1);
  QCOMPARE(e.resumo.substituídos, 7);
  QCOMPARE(segunda.conta(Evento::NoMeio), 3 + 7 * 10);
  QCOMPARE(e.NroQURNovo, banco->número("SELECT max(\"NroQUR\") FROM \"tblQUR\""));
  QCOMPARE(banco->diferenças(*temp_), QString());
  Execução terceira;
  terceira.diálogos.queueAnswer(kRespostaCancelar);
  QVERIFY(Importar(e, chaves, terceira).ok());
  QCOMPARE(terceira.conta(Evento::NoMeio), 3);
  QVERIFY(!terceira.concluída());
  QCOMPARE(e.resumo.substituídos + e.resumo.importados, 0);

  const std::vector<LinhaHistórico> log = banco->atual->histórico(10);
  QCOMPARE(int(log.size()), 1 + 8 + 8);
  QCOMPARE(banco->atual->histórico(2).size(), size_t{9});
  // Newest run first: the Cancel, then the answers, then the first import.
  QCOMPARE(Resumo(log[0]), QStringLiteral("ignorado - -"));
  const std::span<const LinhaHistórico> respostas(log.data() + 1, 8);
  const std::span<const LinhaHistórico> importação(log.data() + 9, 8);
  QCOMPARE(Resumo(respostas[0]), QStringLiteral("ignorado - -"));
  for (size_t i = 0; i < 8; ++i) {
    QCOMPARE(importação[i].resultado, ResultadoDocumento::kImportado);
    QVERIFY(importação[i].novo && !importação[i].anterior);
    QCOMPARE(importação[i].ie, temp_->scalar("SELECT IE FROM tblQUR WHERE NroQUR = ?", {chaves[i]}).toString());
    QCOMPARE(importação[i].ref1, temp_->scalar("SELECT Ref1 FROM tblQUR WHERE NroQUR = ?", {chaves[i]}).toDate());
    QCOMPARE(respostas[i].ie, importação[i].ie);
    if (i == 0) continue;
    // Each replacement names the return it deleted and the one it stored.
    QCOMPARE(respostas[i].resultado, ResultadoDocumento::kSubstituído);
    QCOMPARE(respostas[i].anterior, importação[i].novo);
    QCOMPARE(banco->número("SELECT count(*) FROM \"tblQUR\" WHERE \"NroQUR\" = " + std::to_string(*respostas[i].novo)),
             1);
  }
  QCOMPARE(banco->número("SELECT count(*) FROM \"tblQUR\" WHERE \"NroQUR\" = " + std::to_string(*importação[0].novo)),
           1);
  for (const LinhaHistórico& l : log) {
    QCOMPARE(l.origem.arquivo, e.ArquivoOrigem);
    QCOMPARE(l.origem.sha256, e.Sha256Origem);
    QVERIFY(!l.origem.usuário.isEmpty() && !l.origem.máquina.isEmpty());
    QVERIFY2(
        QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ$")).match(l.momento).hasMatch(),
        qPrintable(l.momento));
  }
  QCOMPARE(respostas[7].origem.execução, respostas[0].origem.execução);
  QVERIFY(respostas[0].origem.execução != importação[0].origem.execução);
  QVERIFY(log[0].origem.execução != respostas[0].origem.execução);

  // Without the log table (and, on a server, the trigger that writes it)
  // the runs go on as before, and nothing is kept.
  banco->executar("DROP TABLE \"tblHistóricoImportação\"");
  if (dynamic_cast<BancoPg*>(banco.get()) != nullptr) banco->executar("DROP TRIGGER orlan_apagado ON \"tblQUR\"");
  std::shared_ptr<BancoAtual> reaberto;
  QVERIFY(AbrirBancoAtual(banco->atual->nome(), &reaberto).ok());
  e.BancoAtual = reaberto;
  Execução sem_log;
  sem_log.diálogos.queueAnswer(kRespostaSim, true);
  QVERIFY(Importar(e, chaves, sem_log).ok());
  QCOMPARE(e.resumo.substituídos, 8);
  QVERIFY(!reaberto->temHistórico());
  QVERIFY(reaberto->histórico(5).empty());
}
namespace {

// The state a host can read at every event and question of a run, a line each.
struct Rastro {
  EstadoImportação& e;
  QStringList linhas;
  void anotar(const QString& o_quê) {
    linhas << QStringLiteral("%1 doc=%2 temp=%3 novo=%4 ie=%5 ref1=%6 anterior=%7 ocorr=%8/%9")
                  .arg(o_quê)
                  .arg(e.DocumentoEmCurso)
                  .arg(e.NroQURTemp)
                  .arg(e.NroQURNovo)
                  .arg(e.IEDocumento.toString(), e.Ref1Documento.toString(), e.IEAnterior)
                  .arg(e.CódigoOcorrênciaTemp)
                  .arg(e.CódigoOcorrênciaNovo);
  }
};

}  // namespace

// Documents copied in batches show the host, at every event, what they show
// copied one at a time: the answers given one question at a time (one
// document each) against the same answers told in advance (batches).
void TestImportacaoBancos::lotesMostramOMesmoEstado() {
  SERVIDOR();
  const std::vector<std::int32_t> chaves = Chaves(*temp_);
  struct Caso {
    const char* nome;
    int resposta;
    int parar_após;   // NoMeio events before the host asks to stop; 0: never
    int lançar_após;  // the NoMeio event at which the listener throws; 0: never
  };
  const Caso casos[] = {{"sim", kRespostaSim, 0, 0},
                        {"não", kRespostaNao, 0, 0},
                        {"parada", kRespostaSim, 25, 0},
                        {"ouvinte falha", kRespostaSim, 0, 25}};
  for (const Caso& caso : casos) {
    QStringList rastros[2];
    for (int em_lote = 0; em_lote < 2; ++em_lote) {
      std::unique_ptr<Banco> banco = novoBanco(servidor);
      EstadoImportação e = Estado(temp_, *banco);
      Execução primeira;
      QVERIFY(Importar(e, chaves, primeira).ok());
      Rastro rastro{e, {}};
      ScriptedDialogs diálogos;
      if (em_lote == 1) {
        diálogos.setRespostaPrevista(caso.resposta);
      } else {
        for (size_t i = 0; i < chaves.size(); ++i) diálogos.queueAnswer(caso.resposta);
      }
      diálogos.setObserver([&](const MessageRequest& m) { rastro.anotar(m.text.left(20)); });
      int no_meio = 0;
      ImportaçãoPorDiálogos anfitrião(
          diálogos,
          [&](Evento ev) {
            no_meio += ev == Evento::NoMeio;
            rastro.anotar(QString::fromUtf8(NomeEvento(ev)));
            if (ev == Evento::NoMeio && no_meio == caso.lançar_após) throw std::runtime_error("o ouvinte falhou");
          },
          [&] { return caso.parar_após > 0 && no_meio >= caso.parar_após; });
      const ContagemBanco antes = banco->atual->contagem();
      const Status s = ExecutarImportação(e, chaves, anfitrião);
      QCOMPARE(s.ok(), caso.lançar_após == 0);
      // What stays, and what the log says of it.
      rastro.anotar(
          QStringLiteral("fim %1/%2/%3 erro %4 declarações %5 linhas %6/%7")
              .arg(e.resumo.importados)
              .arg(e.resumo.substituídos)
              .arg(e.resumo.ignorados)
              .arg(s.number())
              .arg(banco->número("SELECT count(*) FROM \"tblQUR\""))
              .arg(banco->número("SELECT count(*) FROM \"tblHistóricoImportação\""))
              .arg(banco->número("SELECT count(*) FROM \"tblHistóricoImportação\" WHERE \"Resultado\" = 'falhou'")));
      rastros[em_lote] = rastro.linhas;
      // Told in advance, the answers need no commit per document.
      if (em_lote == 1) QVERIFY(banco->atual->contagem().commits - antes.commits <= 2);
      const QString d = banco->diferenças(*temp_);
      if (caso.parar_após == 0 && caso.resposta == kRespostaSim) QVERIFY2(d.isEmpty(), qPrintable(d));
    }
    QCOMPARE(rastros[1].size(), rastros[0].size());
    for (int i = 0; i < rastros[0].size(); ++i) {
      QVERIFY2(
          rastros[1][i] == rastros[0][i],
          qPrintable(QStringLiteral("%1, line %2:\n%3\n%4").arg(caso.nome).arg(i).arg(rastros[0][i], rastros[1][i])));
    }
  }
}

// A taxpayer that cannot be stored, in a batch, because the current database
// refuses it or the file lacks it: met before any event of its document, as
// one document at a time meets it, the documents before it kept and the
// person told. Once the cause is gone, the same taxpayer is stored.
void TestImportacaoBancos::contribuinteRecusadoAntesDosEventos() {
  SERVIDOR();
  const std::vector<std::int32_t> chaves = Chaves(*temp_);
  const QString ie = temp_->scalar("SELECT IE FROM tblQUR WHERE NroQUR = ?", {chaves[4]}).toString();
  size_t k = 0;
  while (temp_->scalar("SELECT IE FROM tblQUR WHERE NroQUR = ?", {chaves[k]}).toString() != ie) ++k;
  QVERIFY(k > 0);
  const std::string literal = "'" + ie.toStdString() + "'";
  for (const bool no_arquivo : {false, true}) {
    std::shared_ptr<Database> temp = cópia();
    std::unique_ptr<Banco> banco = novoBanco(servidor);
    if (no_arquivo) {
      temp->execute("UPDATE tblContribuinte SET IE = 'fora' WHERE IE = ?", {ie});
    } else {
      banco->executar(servidor
                          ? "ALTER TABLE \"tblContribuinte\" ADD CONSTRAINT recusa CHECK (\"IE\" <> " + literal + ")"
                          : "CREATE TRIGGER recusa BEFORE INSERT ON tblContribuinte WHEN NEW.IE = " + literal +
                                " BEGIN SELECT RAISE(ABORT, 'recusado'); END");
    }
    EstadoImportação e = Estado(temp, *banco);
    Execução x;
    Importar(e, chaves, x);
    QCOMPARE(x.conta(Evento::NoMeio), 10 * int(k) + 2);
    QCOMPARE(x.conta(Evento::FinalizouImportação), 0);
    QCOMPARE(test::Textos(x.diálogos.messages()),
             QStringLiteral("[Atenção!|16] Erro na atualização do Cadastro (Arquivo Corrompido)!"));
    QCOMPARE(e.IEAnterior, QString());
    QCOMPARE(banco->diferenças(*só(std::vector<std::int32_t>(chaves.begin(), chaves.begin() + k))), QString());

    if (no_arquivo) {
      temp->execute("UPDATE tblContribuinte SET IE = ? WHERE IE = 'fora'", {ie});
    } else {
      banco->executar(servidor ? "ALTER TABLE \"tblContribuinte\" DROP CONSTRAINT recusa" : "DROP TRIGGER recusa");
    }
    Execução de_novo;
    QVERIFY(Importar(e, {chaves[k]}, de_novo).ok());
    QVERIFY(de_novo.concluída());
    QCOMPARE(banco->número("SELECT count(*) FROM \"tblContribuinte\" WHERE \"IE\" = " + literal), 1);
  }
}

// A current database older than the header's last two fields takes returns
// without them; any other field missing is an error that keeps nothing.
void TestImportacaoBancos::colunasDoCabecalho() {
  SERVIDOR();
  const std::int32_t chave = Chaves(*temp_)[2];
  for (const bool antigo : {true, false}) {
    std::unique_ptr<Banco> banco = novoBanco(servidor);
    banco->executar(antigo ? "ALTER TABLE \"tblQUR\" DROP COLUMN \"Autenticação\"; "
                             "ALTER TABLE \"tblQUR\" DROP COLUMN \"DataGeraçãoColigida\""
                           : "ALTER TABLE \"tblQUR\" DROP COLUMN \"Origem\"");
    EstadoImportação e = Estado(temp_, *banco);
    Execução x;
    const Status s = Importar(e, {chave}, x);
    QCOMPARE(s.number(), antigo ? int(kOk) : int(kErrFieldNotFound));
    QVERIFY2(antigo || QString::fromStdString(s.ToString()).contains(QStringLiteral("Origem")), s.ToString().c_str());
    QCOMPARE(x.concluída(), antigo);
    QCOMPARE(banco->número("SELECT count(*) FROM \"tblQUR\" WHERE \"RegTrib\" IS NOT NULL"), antigo ? 1 : 0);
    QCOMPARE(banco->número("SELECT count(*) FROM \"tblPagamento\""),
             antigo ? temp_->scalar("SELECT count(*) FROM tblPagamento WHERE NroQUR = ?", {chave}).toLongLong() : 0);
  }
}

// What the current database itself holds to, as orlan-newdb makes it: a
// header's deletion takes its details and their registers, keys are never
// given twice, a detail needs its header, a taxpayer's IE is unique
// whatever its letter case.
void TestImportacaoBancos::regrasDoBancoAtual() {
  NOVO_BANCO(banco);
  const auto cabeçalho = [&] {
    banco->executar("INSERT INTO \"tblQUR\" (\"IE\", \"RegTrib\", \"Ref1\") VALUES ('A', '01', '2006-03-20')");
    return banco->número("SELECT max(\"NroQUR\") FROM \"tblQUR\"");
  };
  const qlonglong primeiro = cabeçalho();
  const std::string nro = std::to_string(primeiro);
  banco->executar("INSERT INTO \"tblPagamento\" (\"NroQUR\", \"Valor\") VALUES (" + nro + ", 1); "
                  "INSERT INTO \"tblOcorrências\" (\"NroQUR\", \"CódSubItem\") VALUES (" + nro + ", 'x'); "
                  "INSERT INTO \"tblIEsRemetente\" (\"Código\", \"IERemetente\") SELECT \"Código\", 'R' "
                  "FROM \"tblOcorrências\"; DELETE FROM \"tblQUR\";");
  for (const char* t : {"tblPagamento", "tblOcorrências", "tblIEsRemetente"}) {
    QCOMPARE(banco->número("SELECT count(*) FROM \"" + std::string(t) + "\""), 0);
  }
  QVERIFY(cabeçalho() > primeiro);
  const auto recusa = [&](const std::string& sql) {
    try {
      banco->executar(sql);
      return int(kOk);
    } catch (const DbError& e) {
      return e.number();
    }
  };
  QCOMPARE(recusa("INSERT INTO \"tblPagamento\" (\"NroQUR\") VALUES (" + nro + ")"), int(kErrForeignKey));
  banco->executar("INSERT INTO \"tblContribuinte\" (\"IE\") VALUES ('AbC1')");
  QCOMPARE(recusa("INSERT INTO \"tblContribuinte\" (\"IE\") VALUES ('abc1')"), int(kErrDuplicateKey));
  QCOMPARE(banco->número("SELECT count(*) FROM \"tblContribuinte\""), 1);
}

// The two register copies a host may ask for: refused before a check run
// and during a run; otherwise the named occurrence's rows once more per
// call, a transaction each, a refused row leaving nothing.
void TestImportacaoBancos::gravacoesPublicas() {
  NOVO_BANCO(banco);
  EstadoImportação vazio;
  QCOMPARE(GravaIERemetentes(vazio).number(), int(kErrInvalidOperation));
  QVERIFY(!GravaCredAcum(vazio).ok());
  vazio.BancoAtual = banco->atual;
  QVERIFY(!GravaIERemetentes(vazio).ok());

  const std::int32_t chave = Chaves(*temp_)[0];
  const QVariant último = temp_->scalar("SELECT max(\"Código\") FROM \"tblOcorrências\" WHERE NroQUR = ?", {chave});
  const auto do_arquivo = [&](const char* t) {
    return temp_->scalar("SELECT count(*) FROM \"" + std::string(t) + "\" WHERE \"Código\" = ?", {último}).toLongLong();
  };
  QVERIFY(do_arquivo("tblIEsRemetente") > 0 && do_arquivo("tblRecibosCredito") > 0);
  // An occurrence the current database lacks.
  EstadoImportação e = Estado(temp_, *banco);
  e.CódigoOcorrênciaTemp = último.toInt();
  e.CódigoOcorrênciaNovo = 31;
  QCOMPARE(GravaIERemetentes(e).number(), int(kErrForeignKey));
  QCOMPARE(banco->número("SELECT count(*) FROM \"tblIEsRemetente\""), 0);

  // The import takes its keys from the current database's.
  banco->executar(servidor ? "ALTER TABLE \"tblOcorrências\" ALTER COLUMN \"Código\" RESTART WITH 31"
                           : "INSERT INTO sqlite_sequence (name, seq) VALUES ('tblOcorrências', 30)");
  e.CódigoOcorrênciaTemp = e.CódigoOcorrênciaNovo = 0;
  Execução x;
  QVERIFY(Importar(e, {chave}, x).ok());
  QCOMPARE(e.CódigoOcorrênciaTemp, último.toInt());
  QCOMPARE(e.CódigoOcorrênciaNovo,
           30 + temp_->scalar("SELECT count(*) FROM \"tblOcorrências\" WHERE NroQUR = ?", {chave}).toInt());
  const auto no_banco = [&](const char* t) {
    return banco->número("SELECT count(*) FROM \"" + std::string(t) +
                         "\" WHERE \"Código\" = " + std::to_string(e.CódigoOcorrênciaNovo));
  };
  const qlonglong commits = banco->commits();
  QVERIFY(GravaIERemetentes(e).ok());
  QVERIFY(GravaIERemetentes(e).ok());
  QVERIFY(GravaCredAcum(e).ok());
  QCOMPARE(banco->commits() - commits, 3);
  QCOMPARE(no_banco("tblIEsRemetente"), 3 * do_arquivo("tblIEsRemetente"));
  QCOMPARE(no_banco("tblRecibosCredito"), 2 * do_arquivo("tblRecibosCredito"));

  Status no_meio;
  Execução y;
  y.aoEvento = [&](Evento ev) {
    if (ev == Evento::NoMeio) no_meio = GravaCredAcum(e);
  };
  y.diálogos.queueAnswer(kRespostaSim);
  QVERIFY(Importar(e, {chave}, y).ok());
  QCOMPARE(no_meio.number(), int(kErrBusy));
  QVERIFY(y.concluída());
  QCOMPARE(banco->diferenças(*só({chave})), QString());
}

namespace {

// A decimal without the trailing zeros of its fraction, which do not change it.
QString SemZerosÀDireita(QString s) {
  if (!s.contains(QLatin1Char('.'))) return s;
  while (s.endsWith(QLatin1Char('0'))) s.chop(1);
  if (s.endsWith(QLatin1Char('.'))) s.chop(1);
  return s;
}

}  // namespace

// Amounts at the edges of the format are stored as the very decimals the
// file wrote: in a return's header, in its details and, on a server, in an
// amount column of a database made before amounts had a fixed scale.
void TestImportacaoBancos::valoresExatos() {
  NOVO_BANCO(banco);
  const QStringList valores = {"999999999999999", "-999999999999999", "12345678901.2345", "-99999999999.9999",
                               "0.0001",          "-0.0001",          "10000000000.0001", "1234.50"};
  QStringList cabeçalho =
      test::LinhaQur(QStringLiteral("1"), QStringLiteral("01"), QStringLiteral("03/2006")).split('|');
  std::vector<std::string_view> colunas;  // the header's amounts, each given the next value
  const schema::RecordDef& qur = *schema::FindTable(schema::kReturnTable);
  for (size_t i = 0; i < qur.fields.size(); ++i) {
    if (qur.fields[i].type != schema::FieldType::kNumber) continue;
    cabeçalho[int(i) + 1] = valores[int(colunas.size() % valores.size())];
    colunas.push_back(qur.fields[i].name);
  }
  QStringList corpo{test::LinhaContribuinte(QStringLiteral("1"), QStringLiteral("Nome")), cabeçalho.join('|')};
  for (const QString& v : valores) corpo << "PAGAMENTO|1|10/04/2006|" + v << "DIPAM|1234||" + v;
  const QString prf = dir_.filePath(QStringLiteral("valores.prf"));
  const QString fix = dir_.filePath(QStringLiteral("valores-%1.fix").arg(++n_));

  // One digit more, and the checker refuses the file.
  test::WriteFile(prf, test::ArquivoPrf(corpo + QStringList{"PAGAMENTO|1|10/04/2006|123456789012.3456"}));
  ConsPre recusado(nullptr, fix);
  recusado.SetInputFile(prf);
  QCOMPARE(int(recusado.RunCheck()), int(kConteúdoInválido));

  test::WriteFile(prf, test::ArquivoPrf(corpo));
  ConsPre verificador(nullptr, fix);
  verificador.SetInputFile(prf);
  QCOMPARE(int(verificador.RunCheck()), int(kVerificaçãoAceita));
  if (servidor) banco->executar("ALTER TABLE \"tblDIPAM\" ALTER COLUMN \"Valor\" TYPE numeric");
  EstadoImportação e = Estado(test::OpenExisting(fix), *banco);
  Execução x;
  QVERIFY(Importar(e, Chaves(*e.BancoTemp), x).ok());

  QStringList esperados;
  QStringList guardados;
  for (size_t i = 0; i < colunas.size(); ++i) {
    esperados << SemZerosÀDireita(valores[int(i % valores.size())]);
    guardados << banco->textos("SELECT CAST(\"" + std::string(colunas[i]) + "\" AS TEXT) AS t FROM \"tblQUR\"");
  }
  for (const char* tabela : {"tblPagamento", "tblDIPAM"}) {
    for (const QString& v : valores) esperados << SemZerosÀDireita(v);
    guardados << banco->textos("SELECT CAST(\"Valor\" AS TEXT) AS t FROM \"" + std::string(tabela) + "\"");
  }
  for (QString& g : guardados) g = SemZerosÀDireita(g);
  esperados.sort();
  guardados.sort();
  QCOMPARE(guardados, esperados);
}
#endif  // Q_MOC_RUN

QTEST_GUILESS_MAIN(TestImportacaoBancos)
#include "test_importacao_bancos.moc"
