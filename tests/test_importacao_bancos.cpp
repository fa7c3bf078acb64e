// The import run on both current-database engines, with the same cases: an
// SQLite file and a PostgreSQL server (the tests' private one). Each case
// imports a temporary database the checker wrote from a generated file,
// made hostile (quotes, backslashes, tabs, line ends, "|", accents, emoji,
// Nulls), and compares every table and field of the current database with
// it; the events, questions and summary must be the same on both.
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
#include "support/comparacao.h"
#include "support/pg_support.h"
#include "support/scripted_dialogs.h"
#include "support/test_support.h"
#include "test_reliability_apoio.h"

using namespace orlan;
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
  void tabelaAusente_data() { backends(); }
  void tabelaAusente();
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
  void valoresExatos_data() { backends(); }
  void valoresExatos();

 private:
  void backends();
#ifndef Q_MOC_RUN
  QTemporaryDir dir_;
  std::shared_ptr<Database> temp_;
#endif
};

#ifndef Q_MOC_RUN
namespace {

const QString kHostil = QStringLiteral("O'Brien \"aspas\" \\barra\\ \\N\ttab\nlinha\r\nCR | pipe; -- ação 😀");

// One current database of either engine, with what the cases need to read
// and change it directly.
class Banco {
 public:
  virtual ~Banco() = default;
  std::shared_ptr<BancoAtual> atual;
  virtual QStringList linhas(const test::Consulta& c) = 0;
  // A statement both engines read alike (quoted names, no parameters).
  virtual void executar(const std::string& sql) = 0;
  virtual qlonglong número(const std::string& sql) = 0;
  // The column t of every row, as text.
  virtual QStringList textos(const std::string& sql) = 0;
};

class BancoSqlite : public Banco {
 public:
  explicit BancoSqlite(const QString& caminho) : db_(test::CreateCurrentDatabase(caminho)) {
    atual = std::make_shared<SqliteBancoAtual>(db_);
  }
  QStringList linhas(const test::Consulta& c) override { return test::LinhasTemp(*test::OpenExisting(QString::fromStdString(db_->path())), c); }
  void executar(const std::string& sql) override { db_->executeScript(sql); }
  qlonglong número(const std::string& sql) override { return db_->scalar(sql).toLongLong(); }
  QStringList textos(const std::string& sql) override {
    QStringList t;
    for (Recordset r = db_->openQuery(sql); !r.eof(); r.moveNext()) t << r.value("t").toString();
    return t;
  }

 private:
  std::shared_ptr<Database> db_;
};

class BancoPg : public Banco {
 public:
  BancoPg() {
    const QString uri = test::PgNovoBanco();
    const Status criado = schema::CreateCurrentDatabase(uri.toStdString(), QStringLiteral("2099"));
    if (!criado.ok()) qFatal("%s", criado.ToString().c_str());
    const Status aberto = AbrirBancoAtual(uri, &atual);
    if (!aberto.ok()) qFatal("%s", aberto.ToString().c_str());
    if (!PgConexão::Abrir(uri, &pg_).ok()) qFatal("connecting to %s", qPrintable(uri));
  }
  QStringList linhas(const test::Consulta& c) override { return test::LinhasPg(*pg_, c); }
  void executar(const std::string& sql) override { pg_->executarScript(sql); }
  qlonglong número(const std::string& sql) override { return pg_->executar(sql).valor(0, 0).toLongLong(); }
  QStringList textos(const std::string& sql) override {
    const PgResultado r = pg_->executar(sql);
    QStringList t;
    for (int i = 0; i < r.linhas(); ++i) t << r.valor(i, 0).toString();
    return t;
  }

 private:
  std::unique_ptr<PgConexão> pg_;
};

// A run hosted as the control hosts it, every event and message kept.
struct Execução {
  ScriptedDialogs diálogos;
  std::vector<Evento> eventos;
  ImportaçãoPorDiálogos anfitrião{diálogos, [this](Evento e) { eventos.push_back(e); }};
  int conta(Evento e) const { return static_cast<int>(std::count(eventos.begin(), eventos.end(), e)); }
  int perguntas() const {
    int n = 0;
    for (const MessageRequest& m : diálogos.messages()) n += m.style == kEstiloCriticoSimNaoCancelar;
    return n;
  }
};

}  // namespace

void TestImportacaoBancos::backends() {
  QTest::addColumn<bool>("servidor");
  QTest::newRow("SQLite") << false;
  QTest::newRow("PostgreSQL") << true;
}

void TestImportacaoBancos::initTestCase() {
  QVERIFY(dir_.isValid());
  const QString prf = dir_.filePath(QStringLiteral("gerado.prf"));
  test::GerarArquivo(prf, 4, 2, 1, 30, 3);
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
  // An IE with letters, for the letter-case rule.
  const QString ie = temp_->scalar("SELECT IE FROM tblContribuinte ORDER BY Id LIMIT 1").toString();
  temp_->execute("UPDATE tblContribuinte SET IE = ? WHERE IE = ?", {QStringLiteral("AB") + ie, ie});
  temp_->execute("UPDATE tblQUR SET IE = ? WHERE IE = ?", {QStringLiteral("AB") + ie, ie});
}

#define NOVO_BANCO(banco)                                                                          \
  QFETCH(bool, servidor);                                                                          \
  if (servidor && test::PgServidorDeTeste().isEmpty()) QSKIP(qPrintable(test::PgMotivoSemServidor())); \
  std::unique_ptr<Banco> banco = servidor ? std::unique_ptr<Banco>(std::make_unique<BancoPg>())     \
                                          : std::unique_ptr<Banco>(std::make_unique<BancoSqlite>(     \
                                                dir_.filePath(QStringLiteral("atual-%1.db").arg(++n))))

namespace {

int n = 0;

std::vector<std::int32_t> Chaves(Database& temp) {
  std::vector<std::int32_t> chaves;
  for (Recordset r = temp.openQuery("SELECT NroQUR FROM tblQUR ORDER BY NroQUR"); !r.eof(); r.moveNext()) {
    chaves.push_back(r.value("NroQUR").toInt());
  }
  return chaves;
}

Status Importar(EstadoImportação& e, const std::vector<std::int32_t>& chaves, Execução& x) {
  const Status s = ExecutarImportação(e, chaves, x.anfitrião);
  if (!s.ok()) qInfo("the run ended with %s", s.ToString().c_str());
  return s;
}

}  // namespace

void TestImportacaoBancos::documentosInteiros() {
  NOVO_BANCO(banco);
  EstadoImportação e;
  e.BancoTemp = temp_;
  e.BancoAtual = banco->atual;
  const std::vector<std::int32_t> chaves = Chaves(*temp_);
  Execução x;
  const ContagemBanco antes = banco->atual->contagem();
  QVERIFY(Importar(e, chaves, x).ok());
  // Documents that need no question go together: on a server the run waits
  // for a handful of answers, however many documents there are.
  if (servidor) QVERIFY2(banco->atual->contagem().idasEVoltas - antes.idasEVoltas <= 12, "a round trip per document");
  QCOMPARE(x.conta(Evento::NoMeio), 10 * int(chaves.size()));
  QCOMPARE(x.eventos.back(), Evento::FinalizouImportação);
  QCOMPARE(x.diálogos.messages().back().text, QStringLiteral("A Importação foi concluída com sucesso."));
  QCOMPARE(e.resumo.importados, int(chaves.size()));
  const QString d = test::Diferenças(*temp_, [&](const test::Consulta& c) { return banco->linhas(c); });
  QVERIFY2(d.isEmpty(), qPrintable(d));
  QCOMPARE(banco->número("SELECT count(*) FROM \"tblContribuinte\" WHERE \"DataCadastro\" = CURRENT_DATE"), 4);
}

void TestImportacaoBancos::respostasASobreposicao() {
  NOVO_BANCO(banco);
  EstadoImportação e;
  e.BancoTemp = temp_;
  e.BancoAtual = banco->atual;
  const std::vector<std::int32_t> chaves = Chaves(*temp_);
  QCOMPARE(int(chaves.size()), 8);
  Execução primeira;
  QVERIFY(Importar(e, chaves, primeira).ok());
  const qlonglong máximo = banco->número("SELECT max(\"NroQUR\") FROM \"tblQUR\"");

  // No, Yes, then Yes for the rest, asked once.
  Execução x;
  x.diálogos.queueAnswer(kRespostaNao);
  x.diálogos.queueAnswer(kRespostaSim);
  x.diálogos.queueAnswer(kRespostaSim, true);
  QVERIFY(Importar(e, chaves, x).ok());
  QCOMPARE(x.perguntas(), 3);
  QCOMPARE(e.resumo.ignorados, 1);
  QCOMPARE(e.resumo.substituídos, 7);
  QCOMPARE(x.conta(Evento::NoMeio), 3 + 7 * 10);
  QCOMPARE(banco->número("SELECT count(*) FROM \"tblQUR\" WHERE \"NroQUR\" <= " + std::to_string(máximo)), 1);
  QString d = test::Diferenças(*temp_, [&](const test::Consulta& c) { return banco->linhas(c); });
  QVERIFY2(d.isEmpty(), qPrintable(d));

  // Cancel at the first question: nothing more is written, no success.
  Execução cancelada;
  cancelada.diálogos.queueAnswer(kRespostaCancelar);
  QVERIFY(Importar(e, chaves, cancelada).ok());
  QCOMPARE(cancelada.conta(Evento::FinalizouImportação), 0);
  QCOMPARE(cancelada.conta(Evento::NoMeio), 3);
  QCOMPARE(e.resumo.substituídos + e.resumo.importados, 0);
  d = test::Diferenças(*temp_, [&](const test::Consulta& c) { return banco->linhas(c); });
  QVERIFY2(d.isEmpty(), qPrintable(d));
}

void TestImportacaoBancos::contribuinteJaCadastrado() {
  NOVO_BANCO(banco);
  const QString ie = temp_->scalar("SELECT IE FROM tblContribuinte ORDER BY Id LIMIT 1").toString();
  QVERIFY(ie.startsWith(QStringLiteral("AB")));
  // The same taxpayer, stored with its letters in small case and other
  // values: it is kept as it is, and not stored again.
  banco->executar("INSERT INTO \"tblContribuinte\" (\"IE\", \"RazãoSocial\", \"DataCadastro\") VALUES ('" +
                  ie.toLower().toStdString() + "', 'Outro', '2001-02-03')");
  EstadoImportação e;
  e.BancoTemp = temp_;
  e.BancoAtual = banco->atual;
  Execução x;
  QVERIFY(Importar(e, Chaves(*temp_), x).ok());
  QCOMPARE(banco->número("SELECT count(*) FROM \"tblContribuinte\""), 4);
  QCOMPARE(banco->número("SELECT count(*) FROM \"tblContribuinte\" WHERE \"RazãoSocial\" = 'Outro' AND "
                         "\"DataCadastro\" = '2001-02-03'"),
           1);
  QCOMPARE(e.resumo.linhasPorTabela["tblContribuinte"], 3);
  QCOMPARE(e.resumo.importados, 8);
}

void TestImportacaoBancos::tabelaAusente() {
  NOVO_BANCO(banco);
  // Only the fourth document has DIPAM rows; the current database has no
  // DIPAM table.
  const std::vector<std::int32_t> chaves = Chaves(*temp_);
  auto temp = test::OpenExisting(dir_.filePath(QStringLiteral("BDTempPrf.fix")));
  const std::string guardado = "tblDIPAM_guardado";
  temp->execute("CREATE TABLE IF NOT EXISTS " + guardado + " AS SELECT * FROM \"tblDIPAM\"");
  QVERIFY(temp->scalar("SELECT count(*) FROM \"tblDIPAM\" WHERE NroQUR = ?", {chaves[3]}).toInt() > 0);
  const qlonglong pagamentos =
      temp->scalar("SELECT count(*) FROM tblPagamento WHERE NroQUR IN (?, ?, ?)", {chaves[0], chaves[1], chaves[2]})
          .toLongLong();
  temp->execute("DELETE FROM \"tblDIPAM\" WHERE NroQUR <> ?", {chaves[3]});
  banco->executar("DROP TABLE \"tblDIPAM\"");
  EstadoImportação e;
  e.BancoTemp = temp_;
  e.BancoAtual = banco->atual;
  Execução x;
  const Status s = Importar(e, chaves, x);
  temp->execute("DELETE FROM \"tblDIPAM\"");
  temp->execute("INSERT INTO \"tblDIPAM\" SELECT * FROM " + guardado);
  temp->execute("DROP TABLE " + guardado);
  QCOMPARE(s.number(), int(kErrTableNotFound));
  QVERIFY(s.message().find("tblDIPAM") != std::string::npos);
  QCOMPARE(x.conta(Evento::FinalizouImportação), 0);
  QCOMPARE(e.resumo.importados, 3);
  QCOMPARE(banco->número("SELECT count(*) FROM \"tblQUR\""), 3);
  // The three before it whole, nothing of it.
  QCOMPARE(banco->número("SELECT count(*) FROM \"tblPagamento\""), pagamentos);
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
// run without batches raises, and the log saying so.
void TestImportacaoBancos::falhaNoMeioDeUmLote() {
  QFETCH(bool, servidor);
  if (servidor && test::PgServidorDeTeste().isEmpty()) QSKIP(qPrintable(test::PgMotivoSemServidor()));
  const std::vector<std::int32_t> chaves = Chaves(*temp_);
  QCOMPARE(int(chaves.size()), 8);
  const std::int32_t culpado = chaves[4];
  struct Caso {
    const char* nome;
    int passo;  // the copy step that fails: payments are the first, occurrences the fifth
  };
  for (const Caso& caso : {Caso{"registro sem tabela", 5}, Caso{"valor recusado", 1}}) {
    qInfo("%s", caso.nome);
    const QString cópia = dir_.filePath(QStringLiteral("falha-%1.fix").arg(++n));
    QVERIFY(QFile::copy(QString::fromStdString(temp_->fileName()), cópia));
    std::shared_ptr<Database> temp = test::OpenExisting(cópia);
    std::unique_ptr<Banco> banco = servidor ? std::unique_ptr<Banco>(std::make_unique<BancoPg>())
                                            : std::unique_ptr<Banco>(std::make_unique<BancoSqlite>(
                                                  dir_.filePath(QStringLiteral("atual-%1.db").arg(++n))));
    if (caso.passo == 5) {
      // Only the culprit has substitute-IE registers; the current database
      // has no table for them.
      temp->execute("DELETE FROM tblIESubstituido WHERE \"Código\" NOT IN "
                    "(SELECT \"Código\" FROM \"tblOcorrências\" WHERE NroQUR = ?)",
                    {culpado});
      QVERIFY(temp->scalar("SELECT count(*) FROM tblIESubstituido").toInt() > 0);
      banco->executar("DROP TABLE \"tblIESubstituido\"");
    } else {
      temp->execute("UPDATE tblPagamento SET Valor = 12345.5 WHERE _rowid_ = "
                    "(SELECT min(_rowid_) FROM tblPagamento WHERE NroQUR = ?)",
                    {culpado});
      banco->executar(servidor ? "ALTER TABLE \"tblPagamento\" ADD CONSTRAINT recusa CHECK (\"Valor\" <> 12345.5)"
                               : "CREATE TRIGGER recusa BEFORE INSERT ON tblPagamento WHEN NEW.Valor = 12345.5 "
                                 "BEGIN SELECT RAISE(ABORT, 'valor recusado'); END");
    }
    EstadoImportação e;
    e.BancoTemp = temp;
    e.BancoAtual = banco->atual;
    Execução x;
    const Status s = Importar(e, chaves, x);
    QVERIFY(!s.ok());
    QCOMPARE(x.conta(Evento::FinalizouImportação), 0);
    QCOMPARE(x.conta(Evento::NoMeio), 4 * 10 + 3 + caso.passo);
    QCOMPARE(e.resumo.importados, 4);
    QCOMPARE(banco->número("SELECT count(*) FROM \"tblQUR\""), 4);
    // The four before it whole.
    const Params antes{chaves[0], chaves[1], chaves[2], chaves[3]};
    const auto do_retorno = [&](const char* tabela) {
      return temp->scalar("SELECT count(*) FROM \"" + std::string(tabela) + "\" WHERE NroQUR IN (?, ?, ?, ?)", antes)
          .toLongLong();
    };
    const auto da_ocorrência = [&](const char* tabela) {
      return temp->scalar("SELECT count(*) FROM \"" + std::string(tabela) + "\" WHERE \"Código\" IN (SELECT \"Código\" "
                          "FROM \"tblOcorrências\" WHERE NroQUR IN (?, ?, ?, ?))", antes)
          .toLongLong();
    };
    QCOMPARE(banco->número("SELECT count(*) FROM \"tblPagamento\""), do_retorno("tblPagamento"));
    QCOMPARE(banco->número("SELECT count(*) FROM \"tblOcorrências\""), do_retorno("tblOcorrências"));
    QCOMPARE(banco->número("SELECT count(*) FROM \"tblIEsRemetente\""), da_ocorrência("tblIEsRemetente"));
    const std::vector<LinhaHistórico> log = banco->atual->histórico(1);
    QCOMPARE(int(log.size()), 5);
    for (int i = 0; i < 4; ++i) QCOMPARE(log[i].resultado, ResultadoDocumento::kImportado);
    QCOMPARE(Resumo(log[4]), QStringLiteral("falhou - -"));
    QCOMPARE(log[4].ie, temp->scalar("SELECT IE FROM tblQUR WHERE NroQUR = ?", {culpado}).toString());
  }
}

// The host asks to stop while a batch's events are raised: the documents
// whose events it saw are kept whole, none after them.
void TestImportacaoBancos::interrupcaoNoMeioDeUmLote() {
  NOVO_BANCO(banco);
  EstadoImportação e;
  e.BancoTemp = temp_;
  e.BancoAtual = banco->atual;
  ScriptedDialogs diálogos;
  int no_meio = 0;
  ImportaçãoPorDiálogos anfitrião(
      diálogos, [&](Evento ev) { no_meio += ev == Evento::NoMeio; }, [&] { return no_meio >= 20; });
  const std::vector<std::int32_t> chaves = Chaves(*temp_);
  QVERIFY(ExecutarImportação(e, chaves, anfitrião).ok());
  QCOMPARE(no_meio, 20);
  QCOMPARE(e.resumo.importados, 2);
  QVERIFY(diálogos.messages().empty());
  QCOMPARE(banco->número("SELECT count(*) FROM \"tblQUR\""), 2);
  const qlonglong pagamentos =
      temp_->scalar("SELECT count(*) FROM tblPagamento WHERE NroQUR IN (?, ?)", {chaves[0], chaves[1]}).toLongLong();
  QCOMPARE(banco->número("SELECT count(*) FROM \"tblPagamento\""), pagamentos);
  const std::vector<LinhaHistórico> log = banco->atual->histórico(1);
  QCOMPARE(int(log.size()), 2);
  QCOMPARE(banco->número("SELECT count(*) FROM \"tblQUR\" WHERE \"NroQUR\" = " + std::to_string(*log[1].novo)), 1);
}

// One log line per document a run reached, with its outcome, in the same
// transaction as the document; a current database without the log works.
void TestImportacaoBancos::historicoDasExecucoes() {
  NOVO_BANCO(banco);
  QVERIFY(banco->atual->temHistórico());
  EstadoImportação e;
  e.BancoTemp = temp_;
  e.BancoAtual = banco->atual;
  e.ArquivoOrigem = QStringLiteral("/dados/declarações\tjunho.prf");
  e.Sha256Origem = QString(64, QLatin1Char('a'));
  const std::vector<std::int32_t> chaves = Chaves(*temp_);

  Execução primeira;
  QVERIFY(Importar(e, chaves, primeira).ok());
  Execução segunda;
  segunda.diálogos.queueAnswer(kRespostaNao);
  segunda.diálogos.queueAnswer(kRespostaSim);
  segunda.diálogos.queueAnswer(kRespostaSim, true);
  QVERIFY(Importar(e, chaves, segunda).ok());
  Execução terceira;
  terceira.diálogos.queueAnswer(kRespostaCancelar);
  QVERIFY(Importar(e, chaves, terceira).ok());

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
    QCOMPARE(banco->número("SELECT count(*) FROM \"tblQUR\" WHERE \"NroQUR\" = " + std::to_string(*respostas[i].novo)), 1);
  }
  QCOMPARE(banco->número("SELECT count(*) FROM \"tblQUR\" WHERE \"NroQUR\" = " + std::to_string(*importação[0].novo)), 1);
  for (const LinhaHistórico& l : log) {
    QCOMPARE(l.origem.arquivo, e.ArquivoOrigem);
    QCOMPARE(l.origem.sha256, e.Sha256Origem);
    QVERIFY(!l.origem.usuário.isEmpty() && !l.origem.máquina.isEmpty());
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ$")).match(l.momento).hasMatch(),
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
  QFETCH(bool, servidor);
  if (servidor && test::PgServidorDeTeste().isEmpty()) QSKIP(qPrintable(test::PgMotivoSemServidor()));
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
      std::unique_ptr<Banco> banco = servidor ? std::unique_ptr<Banco>(std::make_unique<BancoPg>())
                                              : std::unique_ptr<Banco>(std::make_unique<BancoSqlite>(
                                                    dir_.filePath(QStringLiteral("atual-%1.db").arg(++n))));
      EstadoImportação e;
      e.BancoTemp = temp_;
      e.BancoAtual = banco->atual;
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
      rastro.anotar(QStringLiteral("fim %1/%2/%3 erro %4 declarações %5 linhas %6/%7")
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
      const QString d = test::Diferenças(*temp_, [&](const test::Consulta& c) { return banco->linhas(c); });
      if (caso.parar_após == 0 && caso.resposta == kRespostaSim) QVERIFY2(d.isEmpty(), qPrintable(d));
    }
    QCOMPARE(rastros[1].size(), rastros[0].size());
    for (int i = 0; i < rastros[0].size(); ++i) {
      QVERIFY2(rastros[1][i] == rastros[0][i],
               qPrintable(QStringLiteral("%1, line %2:\n%3\n%4").arg(caso.nome).arg(i).arg(rastros[0][i], rastros[1][i])));
    }
  }
}

// A taxpayer the current database refuses, in a batch: met before any event
// of its document, as one document at a time meets it, with the documents
// before it kept.
void TestImportacaoBancos::contribuinteRecusadoAntesDosEventos() {
  NOVO_BANCO(banco);
  const std::vector<std::int32_t> chaves = Chaves(*temp_);
  const QString ie = temp_->scalar("SELECT IE FROM tblQUR WHERE NroQUR = ?", {chaves[4]}).toString();
  size_t k = 0;
  while (temp_->scalar("SELECT IE FROM tblQUR WHERE NroQUR = ?", {chaves[k]}).toString() != ie) ++k;
  QVERIFY(k > 0);
  const std::string literal = "'" + ie.toStdString() + "'";
  banco->executar(servidor ? "ALTER TABLE \"tblContribuinte\" ADD CONSTRAINT recusa CHECK (\"IE\" <> " + literal + ")"
                           : "CREATE TRIGGER recusa BEFORE INSERT ON tblContribuinte WHEN NEW.IE = " + literal +
                                 " BEGIN SELECT RAISE(ABORT, 'recusado'); END");
  EstadoImportação e;
  e.BancoTemp = temp_;
  e.BancoAtual = banco->atual;
  Execução x;
  Importar(e, chaves, x);
  QCOMPARE(x.conta(Evento::NoMeio), 10 * int(k) + 2);
  QCOMPARE(x.conta(Evento::FinalizouImportação), 0);
  QCOMPARE(x.diálogos.messages().back().text, QStringLiteral("Erro na atualização do Cadastro (Arquivo Corrompido)!"));
  QCOMPARE(banco->número("SELECT count(*) FROM \"tblQUR\""), qlonglong(k));
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
  QStringList cabeçalho = test::LinhaQur(QStringLiteral("1"), QStringLiteral("01"), QStringLiteral("03/2006")).split('|');
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
  const QString fix = dir_.filePath(QStringLiteral("valores-%1.fix").arg(++n));

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
  EstadoImportação e;
  e.BancoTemp = test::OpenExisting(fix);
  e.BancoAtual = banco->atual;
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
