// The import run on real files: a generated temporary database and a fresh
// current database, driven through scripted dialogs.
#include <QDate>
#include <QTemporaryDir>
#include <QtTest>

// moc reads ASCII only: it sees the test class and nothing else.
#ifndef Q_MOC_RUN
#include <functional>

#include "control/importacao_dialogos.h"
#include "database/identificador.h"
#include "database/sqlite/recordset.h"
#include "database/sqlite/sqlite_banco_atual.h"
#include "import/importacao.h"
#include "support/scripted_dialogs.h"
#include "support/test_support.h"
#include "test_import_dados.h"

using namespace orlan;
using orlan::test::Geração;

namespace {

const QString kSucesso = QStringLiteral("A Importação foi concluída com sucesso.");

// The run hosted as the control hosts it, with every event and message kept.
class Anfitrião {
 public:
  int conta(Evento e) const { return static_cast<int>(std::count(eventos.begin(), eventos.end(), e)); }
  bool sucesso() const {
    return !diálogos.messages().empty() && diálogos.messages().back().text == kSucesso &&
           !eventos.empty() && eventos.back() == Evento::FinalizouImportação;
  }

  ScriptedDialogs diálogos;
  std::vector<Evento> eventos;
  std::function<void(Evento)> aoEvento;
  ImportaçãoPorDiálogos adaptador{diálogos, [this](Evento e) {
                                    eventos.push_back(e);
                                    if (aoEvento) aoEvento(e);
                                  }};
};

// A temporary database made from `g` and an empty current database.
struct Cenário {
  explicit Cenário(const Geração& g) {
    caminhoTemp = dir.filePath("BDTempPrf.fix");
    caminhoAtual = dir.filePath("atual.db");
    std::shared_ptr<Database> temp;
    QVERIFY(Database::Open(caminhoTemp.toStdString(), Database::OpenMode::kCreate, &temp).ok());
    test::GerarBancoTemp(*temp, g);
    estado.BancoTemp = temp;
    bancoAtual = test::CreateCurrentDatabase(caminhoAtual);
    estado.BancoAtual = std::make_shared<SqliteBancoAtual>(bancoAtual);
  }
  Database& temp() { return *estado.BancoTemp; }
  Database& atual() { return *bancoAtual; }

  // The list with only the items of `índices` (0-based) selected.
  std::vector<ItemLista> lista(std::initializer_list<int> índices) {
    std::vector<ItemLista> itens = test::ListaDe(temp(), false);
    for (int i : índices) itens[i].selecionado = true;
    return itens;
  }
  Status importar(const std::vector<ItemLista>& itens) {
    host.eventos.clear();
    host.diálogos.clear();
    std::vector<std::int32_t> chaves;
    for (const ItemLista& item : itens) {
      if (item.selecionado) chaves.push_back(item.chave);
    }
    const Status s = ExecutarImportação(estado, chaves, host.adaptador);
    if (!s.ok()) qInfo("the run ended with %s", s.ToString().c_str());
    return s;
  }
  // Read through a connection of its own, so that only committed rows count.
  QString diferenças() {
    auto db = test::OpenExisting(caminhoAtual);
    db->execute("ATTACH DATABASE ? AS t", {caminhoTemp});
    const QString d = test::DiferençasCópia(*db);
    if (db->scalar("PRAGMA foreign_key_check").isValid()) return d + "foreign keys broken";
    return d;
  }
  qlonglong conta(const std::string& sql, const Params& p = {}) { return atual().scalar(sql, p).toLongLong(); }

  QTemporaryDir dir;
  QString caminhoTemp, caminhoAtual;
  std::shared_ptr<Database> bancoAtual;
  EstadoImportação estado;
  Anfitrião host;
};

Geração Docs(int n) {
  Geração g;
  g.documentos = n;
  return g;
}

}  // namespace
#endif  // Q_MOC_RUN

class TestImport : public QObject {
  Q_OBJECT

 private slots:
  void nadaSelecionado();
  void documentosNovos();
  void sobreporNaoOuCancelar_data();
  void sobreporNaoOuCancelar();
  void sobreporSimSubstituiInteiro();
  void respostaParaOsProximos();
  void contribuintes();
  void falhaDoContribuinteTentaDeNovo();
  void ocorrenciaEGravacoesPublicas();
  void nulosEApostrofos();
  void cabecalhoPelaChaveDoItem();
  void colunasDoCabecalho();
  void tabelaAusenteParaNoDocumento();
  void naoEmTodosContaCadaUm();
  void ieSemDistinguirMaiusculas();
};

#ifndef Q_MOC_RUN
void TestImport::nadaSelecionado() {
  Cenário c(Docs(2));
  for (const auto& itens : {std::vector<ItemLista>{}, c.lista({})}) {
    QVERIFY(c.importar(itens).ok());
    QVERIFY(c.host.eventos.empty());
    QCOMPARE(c.host.diálogos.messages().size(), size_t{1});
    const MessageRequest& m = c.host.diálogos.messages()[0];
    QCOMPARE(m.text, QStringLiteral("Não foi selecionado nenhum documento para ser importado!"));
    QCOMPARE(m.title, QStringLiteral("Atenção!"));
    QCOMPARE(m.style, 16);
  }
  QCOMPARE(test::Count(c.atual(), "tblQUR"), 0);
}

void TestImport::documentosNovos() {
  Geração g = Docs(22);
  Cenário c(g);
  const std::int64_t commits = c.atual().commitCount();
  std::vector<ItemLista> itens = c.lista({0, 1});
  for (int i = 2; i < 22; ++i) itens[i].selecionado = (i % 2 == 0);  // 10 more, unselected between
  QVERIFY(c.importar(itens).ok());
  QCOMPARE(c.host.eventos.front(), Evento::IniciouImportação);
  QCOMPARE(c.host.conta(Evento::NoMeio), 12 * 10);
  QVERIFY(c.host.sucesso());
  const MessageRequest& fim = c.host.diálogos.messages().back();
  QCOMPARE(fim.title, QStringLiteral("Sucesso!"));
  QCOMPARE(fim.style, 0);
  // One commit for the whole run, whatever the number of documents.
  QCOMPARE(c.atual().commitCount() - commits, 1);
  QCOMPARE(test::Count(c.atual(), "tblQUR"), 12);
  QCOMPARE(c.diferenças(), QString());
  QCOMPARE(c.estado.NroQURNovo, c.conta("SELECT max(NroQUR) FROM tblQUR"));
  QCOMPARE(c.estado.resumo.importados, 12);
  QCOMPARE(c.estado.resumo.linhasPorTabela["tblDetalhesCFOPs"], 12 * g.cfops);
  QCOMPARE(c.estado.resumo.linhasPorTabela["tblIESubstituto"], 12 * g.ocorrências * g.registros);
  QCOMPARE(c.conta("SELECT count(*) FROM tblContribuinte WHERE DataCadastro = ?", {QDate::currentDate()}), 12);
}

void TestImport::sobreporNaoOuCancelar_data() {
  QTest::addColumn<int>("resposta");
  QTest::newRow("No") << int(kRespostaNao);
  QTest::newRow("Cancel") << int(kRespostaCancelar);
}

void TestImport::sobreporNaoOuCancelar() {
  QFETCH(int, resposta);
  Cenário c(Docs(3));
  QVERIFY(c.importar(c.lista({1})).ok());
  const qlonglong antigo = c.estado.NroQURNovo;
  // The taxpayer is gone from the current database: the run stores it again
  // before it asks, and it stays whatever the answer.
  c.atual().execute("DELETE FROM tblContribuinte");
  c.host.diálogos.queueAnswer(resposta);
  QVERIFY(c.importar(c.lista({0, 1, 2})).ok());
  const MessageRequest& q = c.host.diálogos.messages()[0];
  QCOMPARE(q.text, QStringLiteral("A Referência: 01/2006 do Contribuinte com IE: 11000001 já existe!\r\n\r\n"
                                  "Deseja sobrepor todas as informações associadas a esta referência?"));
  QCOMPARE(q.title, QStringLiteral("Atenção!"));
  QCOMPARE(q.style, 19);
  QCOMPARE(q.check_box, QStringLiteral("Aplicar esta resposta aos próximos documentos"));
  QCOMPARE(c.conta("SELECT NroQUR FROM tblQUR WHERE IE = '11000001'"), antigo);
  QCOMPARE(c.conta("SELECT count(*) FROM tblContribuinte WHERE IE = '11000001'"), 1);
  QCOMPARE(c.estado.NroQURNovo, resposta == kRespostaNao ? c.conta("SELECT max(NroQUR) FROM tblQUR") : antigo + 1);
  if (resposta == kRespostaNao) {
    QCOMPARE(c.host.conta(Evento::NoMeio), 10 + 3 + 10);
    QVERIFY(c.host.sucesso());
    QCOMPARE(test::Count(c.atual(), "tblQUR"), 3);
    QCOMPARE(c.estado.resumo.ignorados, 1);
    QCOMPARE(c.estado.resumo.importados, 2);
  } else {
    QCOMPARE(c.host.conta(Evento::NoMeio), 10 + 3);
    QVERIFY(!c.host.sucesso());
    QCOMPARE(c.host.conta(Evento::FinalizouImportação), 0);
    QCOMPARE(c.conta("SELECT count(*) FROM tblQUR WHERE IE = '11000002'"), 0);
    QCOMPARE(c.estado.resumo.importados, 1);
  }
  QCOMPARE(c.diferenças(), QString());
}

void TestImport::sobreporSimSubstituiInteiro() {
  Cenário c(Docs(2));
  QVERIFY(c.importar(c.lista({0, 1})).ok());
  const qlonglong antigo = c.conta("SELECT NroQUR FROM tblQUR WHERE IE = '11000000'");
  c.host.diálogos.queueAnswer(kRespostaSim);
  const std::int64_t commits = c.atual().commitCount();
  QVERIFY(c.importar(c.lista({0})).ok());
  QVERIFY(c.host.sucesso());
  QCOMPARE(c.atual().commitCount() - commits, 2);  // before the question, before the message
  const qlonglong novo = c.conta("SELECT NroQUR FROM tblQUR WHERE IE = '11000000'");
  QVERIFY(novo > antigo);
  QCOMPARE(c.estado.NroQURNovo, novo);
  for (const char* t : {"tblPagamento", "tblDetalhesCFOPs", "tblDetalhesInterUFs", "tblZFM_ALC", "tblOcorrências",
                        "tblDIPAM", "tblRegistroExportação"}) {
    QCOMPARE(c.conta("SELECT count(*) FROM " + QuoteIdentifier(t) + " WHERE NroQUR = ?", {antigo}), 0);
  }
  QCOMPARE(c.conta("SELECT count(*) FROM \"tblIEsRemetente\" WHERE \"Código\" NOT IN "
                   "(SELECT \"Código\" FROM \"tblOcorrências\")"), 0);
  QCOMPARE(c.estado.resumo.substituídos, 1);
  QCOMPARE(c.diferenças(), QString());
}

void TestImport::respostaParaOsProximos() {
  for (int resposta : {int(kRespostaSim), int(kRespostaNao)}) {
    Cenário c(Docs(3));
    QVERIFY(c.importar(c.lista({0, 1, 2})).ok());
    const qlonglong máximo = c.conta("SELECT max(NroQUR) FROM tblQUR");
    c.host.diálogos.queueAnswer(resposta, true);
    const std::int64_t commits = c.atual().commitCount();
    QVERIFY(c.importar(c.lista({0, 1, 2})).ok());
    QCOMPARE(c.host.diálogos.messages().size(), size_t{2});  // one question, the success message
    QCOMPARE(c.atual().commitCount() - commits, 2);
    QCOMPARE(test::Count(c.atual(), "tblQUR"), 3);
    QCOMPARE(c.conta("SELECT min(NroQUR) FROM tblQUR") > máximo, resposta == kRespostaSim);
    QCOMPARE(resposta == kRespostaSim ? c.estado.resumo.substituídos : c.estado.resumo.ignorados, 3);
    QCOMPARE(c.diferenças(), QString());
  }
}

void TestImport::contribuintes() {
  Geração g = Docs(3);
  g.contribuintes = 2;  // X, Y, X
  Cenário c(g);
  const QString x = test::IEContribuinte(g, 0);
  c.atual().execute("INSERT INTO tblContribuinte (IE, \"RazãoSocial\", DataCadastro) VALUES (?, ?, ?)",
                    {x, QStringLiteral("Nome antigo"), QDate(2001, 2, 3)});
  // Before the third document's taxpayer copy, X leaves the current
  // database: that copy must try X again instead of taking it for the last one.
  int noMeio = 0;
  c.host.aoEvento = [&](Evento e) {
    if (e == Evento::NoMeio && ++noMeio == 22) c.atual().execute("DELETE FROM tblContribuinte WHERE IE = ?", {x});
  };
  QVERIFY(c.importar(c.lista({0, 1, 2})).ok());
  QVERIFY(c.host.sucesso());
  QCOMPARE(test::Count(c.atual(), "tblQUR"), 3);
  QCOMPARE(c.conta("SELECT count(*) FROM tblContribuinte WHERE IE = ? AND DataCadastro = ?", {x, QDate::currentDate()}), 1);
  QCOMPARE(c.estado.IEAnterior, x);

  // A taxpayer already present keeps every value it had.
  Cenário d(g);
  d.atual().execute("INSERT INTO tblContribuinte (IE, \"RazãoSocial\", DataCadastro) VALUES (?, ?, ?)",
                    {x, QStringLiteral("Nome antigo"), QDate(2001, 2, 3)});
  QVERIFY(d.importar(d.lista({0})).ok());
  QVERIFY(d.host.sucesso());
  QCOMPARE(d.atual().scalar("SELECT \"RazãoSocial\" || DataCadastro || ifnull(CNPJ, '-') FROM tblContribuinte WHERE IE = ?", {x}).toString(),
           QStringLiteral("Nome antigo2001-02-03-"));
  QCOMPARE(test::Count(d.atual(), "tblQUR"), 1);
}

void TestImport::falhaDoContribuinteTentaDeNovo() {
  Cenário c(Docs(2));
  const QString ie = QStringLiteral("11000001");
  c.temp().execute("UPDATE tblContribuinte SET IE = 'fora' WHERE IE = ?", {ie});
  QVERIFY(c.importar(c.lista({0, 1})).ok());
  const auto& m = c.host.diálogos.messages();
  QCOMPARE(m.size(), size_t{1});
  QCOMPARE(m[0].text, QStringLiteral("Erro na atualização do Cadastro (Arquivo Corrompido)!"));
  QCOMPARE(m[0].title, QStringLiteral("Atenção!"));
  QCOMPARE(m[0].style, 16);
  QCOMPARE(c.host.conta(Evento::FinalizouImportação), 0);
  QCOMPARE(c.estado.IEAnterior, QString());
  QCOMPARE(test::Count(c.atual(), "tblQUR"), 1);  // the first document stays
  QCOMPARE(c.diferenças(), QString());
  // Once the file is right, the same taxpayer is copied, not skipped.
  c.temp().execute("UPDATE tblContribuinte SET IE = ? WHERE IE = 'fora'", {ie});
  QVERIFY(c.importar(c.lista({1})).ok());
  QVERIFY(c.host.sucesso());
  QCOMPARE(c.conta("SELECT count(*) FROM tblContribuinte WHERE IE = ?", {ie}), 1);
}

void TestImport::ocorrenciaEGravacoesPublicas() {
  // Before a check run: refused, nothing written.
  EstadoImportação vazio;
  const Status antes = GravaIERemetentes(vazio);
  QVERIFY(!antes.ok());
  QCOMPARE(antes.number(), int(kErrInvalidOperation));
  QVERIFY(!GravaCredAcum(vazio).ok());

  Geração g = Docs(1);
  g.ocorrências = 1;
  g.registros = 3;
  g.primeiroCódigo = 7;
  Cenário c(g);
  vazio.BancoAtual = c.estado.BancoAtual;
  QVERIFY(!GravaIERemetentes(vazio).ok());
  // A register row of no imported occurrence, and a Código 0 row.
  c.temp().execute("INSERT INTO \"tblIEsRemetente\" (\"Código\", IERemetente, Valor) VALUES (8, 'x8', 1), (0, 'x0', 2)");
  // Before any occurrence: the keys are 0, and Código 0 has no occurrence in
  // the current database, which refuses the row as a whole call.
  const Status zero = GravaIERemetentes(c.estado);
  QCOMPARE(zero.number(), int(kErrForeignKey));
  QVERIFY(GravaCredAcum(c.estado).ok());
  QCOMPARE(test::Count(c.atual(), "tblIEsRemetente"), 0);

  c.atual().execute("INSERT INTO sqlite_sequence (name, seq) VALUES ('tblOcorrências', 30)");
  QVERIFY(c.importar(c.lista({0})).ok());
  QCOMPARE(c.estado.CódigoOcorrênciaTemp, 7);
  QCOMPARE(c.estado.CódigoOcorrênciaNovo, 31);
  QCOMPARE(c.conta("SELECT \"Código\" FROM \"tblOcorrências\""), 31);
  for (const char* t : {"tblIEsRemetente", "tblIESubstituido", "tblIESubstituto", "tblRecibosCredito"}) {
    QCOMPARE(c.conta("SELECT count(*) FROM " + QuoteIdentifier(t) + " WHERE \"Código\" = 31"), 3);
    QCOMPARE(test::Count(c.atual(), t), 3);
  }
  QCOMPARE(c.diferenças(), QString());
  // Called again by a host: the last occurrence's rows once more, per call.
  const std::int64_t commits = c.atual().commitCount();
  QVERIFY(GravaIERemetentes(c.estado).ok());
  QVERIFY(GravaIERemetentes(c.estado).ok());
  QVERIFY(GravaCredAcum(c.estado).ok());
  QCOMPARE(c.atual().commitCount() - commits, 3);
  QCOMPARE(c.conta("SELECT count(*) FROM \"tblIEsRemetente\" WHERE \"Código\" = 31"), 9);
  QCOMPARE(c.conta("SELECT count(*) FROM \"tblRecibosCredito\" WHERE \"Código\" = 31"), 6);

  // From an event handler while a run holds its transaction: refused,
  // nothing written, and the run goes on.
  Status noMeio;
  c.host.aoEvento = [&](Evento e) {
    if (e == Evento::NoMeio) noMeio = GravaCredAcum(c.estado);
  };
  c.host.diálogos.queueAnswer(kRespostaSim);
  QVERIFY(c.importar(c.lista({0})).ok());
  QVERIFY(!noMeio.ok());
  QVERIFY(c.host.sucesso());
  QCOMPARE(c.conta("SELECT count(*) FROM \"tblRecibosCredito\""), 3);
}

void TestImport::nulosEApostrofos() {
  Cenário c(Docs(1));
  const QString ie = QStringLiteral("1'2\"3");
  const QString nome = QStringLiteral("D'Ávila & Cia'");
  c.temp().execute("UPDATE tblContribuinte SET IE = ?, \"RazãoSocial\" = ?", {ie, nome});
  c.temp().execute("UPDATE tblQUR SET IE = ?", {ie});
  // Every copied field Null, apart from the header's IE and Ref1.
  for (const schema::RecordDef& r : schema::Records()) {
    if (r.parent == schema::Parent::kFile) continue;
    std::string sets;
    for (const schema::FieldDef& f : r.fields) {
      if (r.parent == schema::Parent::kTaxpayer && (f.name == "IE" || f.name == "Ref1")) continue;
      sets += (sets.empty() ? "" : ", ") + QuoteIdentifier(f.name) + " = NULL";
    }
    c.temp().execute("UPDATE " + QuoteIdentifier(r.table) + " SET " + sets);
  }
  QVERIFY(c.importar(c.lista({0})).ok());
  QVERIFY(c.host.sucesso());
  QCOMPARE(c.atual().scalar("SELECT \"RazãoSocial\" FROM tblContribuinte WHERE IE = ?", {ie}).toString(), nome);
  QCOMPARE(c.diferenças(), QString());
  for (const schema::RecordDef& r : schema::Records()) {
    if (r.parent == schema::Parent::kFile) continue;
    for (const schema::FieldDef& f : r.fields) {
      if (r.parent == schema::Parent::kTaxpayer && (f.name == "IE" || f.name == "Ref1")) continue;
      const std::string sql = "SELECT count(*) FROM " + QuoteIdentifier(r.table) + " WHERE " + QuoteIdentifier(f.name) + " IS NOT NULL";
      QVERIFY2(c.conta(sql) == 0, sql.c_str());
    }
    QVERIFY(test::Count(c.atual(), QString::fromUtf8(r.table.data(), int(r.table.size()))) > 0);
  }
  // The duplicate test finds the return by its IE with the apostrophe.
  c.host.diálogos.queueAnswer(kRespostaNao);
  QVERIFY(c.importar(c.lista({0})).ok());
  QVERIFY(c.host.diálogos.messages()[0].text.contains(QStringLiteral("IE: 1'2\"3 já existe!")));
}

void TestImport::cabecalhoPelaChaveDoItem() {
  // Two returns of one taxpayer and month in the file: the header copied is
  // the selected one's, with its own details.
  Cenário c(Docs(2));
  c.temp().execute("UPDATE tblQUR SET IE = '11000000' WHERE NroQUR = 2");
  c.temp().execute("UPDATE tblContribuinte SET IE = 'outro' WHERE IE = '11000001'");
  QVERIFY(c.importar(c.lista({1})).ok());
  QVERIFY(c.host.sucesso());
  QCOMPARE(c.atual().scalar("SELECT \"Autenticação\" FROM tblQUR").toString(),
           c.temp().scalar("SELECT \"Autenticação\" FROM tblQUR WHERE NroQUR = 2").toString());
  QCOMPARE(c.atual().scalar("SELECT SaldoCredor FROM tblQUR").toDouble(),
           c.temp().scalar("SELECT SaldoCredor FROM tblQUR WHERE NroQUR = 2").toDouble());
  QCOMPARE(c.atual().scalar("SELECT group_concat(Valor) FROM tblPagamento").toString(),
           c.temp().scalar("SELECT group_concat(Valor) FROM tblPagamento WHERE NroQUR = 2").toString());
}

void TestImport::colunasDoCabecalho() {
  {
    // A host database older than the last two header fields.
    Cenário c(Docs(1));
    c.atual().execute("ALTER TABLE tblQUR DROP COLUMN \"Autenticação\"");
    c.atual().execute("ALTER TABLE tblQUR DROP COLUMN \"DataGeraçãoColigida\"");
    QVERIFY(c.importar(c.lista({0})).ok());
    QVERIFY(c.host.sucesso());
    QCOMPARE(c.conta("SELECT count(*) FROM tblQUR WHERE Origem IS NOT NULL"), 1);
    QCOMPARE(c.conta("SELECT count(*) FROM tblPagamento"), 2);
  }
  {
    // Any other missing field is an error: nothing of the document is kept.
    Cenário c(Docs(1));
    c.atual().execute("ALTER TABLE tblQUR DROP COLUMN Origem");
    const Status s = c.importar(c.lista({0}));
    QCOMPARE(s.number(), int(kErrFieldNotFound));
    QVERIFY(!c.host.sucesso());
    QCOMPARE(test::Count(c.atual(), "tblQUR"), 0);
  }
}

void TestImport::tabelaAusenteParaNoDocumento() {
  Geração g = Docs(3);
  g.dipam = 0;
  Cenário c(g);
  // Only the second document has DIPAM rows; the current database has no
  // DIPAM table at all.
  c.temp().execute("INSERT INTO \"tblDIPAM\" (NroQUR, \"CódDIPAM\", Valor) VALUES (2, '1', 5)");
  c.atual().execute("DROP TABLE \"tblDIPAM\"");
  const Status s = c.importar(c.lista({0, 1, 2}));
  QCOMPARE(s.number(), int(kErrTableNotFound));
  QVERIFY(!s.message().empty());
  QVERIFY(s.message().find("tblDIPAM") != std::string::npos);
  QCOMPARE(c.host.conta(Evento::FinalizouImportação), 0);
  QVERIFY(c.host.diálogos.messages().empty());
  QCOMPARE(c.host.conta(Evento::NoMeio), 10 + 9);
  QCOMPARE(c.estado.resumo.importados, 1);
  auto db = test::OpenExisting(c.caminhoAtual);
  QCOMPARE(db->scalar("SELECT group_concat(IE) FROM tblQUR").toString(), QStringLiteral("11000000"));
  QCOMPARE(db->scalar("SELECT count(*) FROM tblPagamento").toInt(), g.pagamentos);
  QCOMPARE(db->scalar("SELECT count(*) FROM \"tblOcorrências\"").toInt(), g.ocorrências);
  QCOMPARE(db->scalar("PRAGMA integrity_check").toString(), QStringLiteral("ok"));
}
// Every return declined at the question is counted, the last one included.
void TestImport::naoEmTodosContaCadaUm() {
  for (int n : {1, 3}) {
    Cenário c(Docs(n));
    std::vector<ItemLista> itens = test::ListaDe(c.temp(), true);
    QVERIFY(c.importar(itens).ok());
    for (int i = 0; i < n; ++i) c.host.diálogos.queueAnswer(kRespostaNao);
    QVERIFY(c.importar(itens).ok());
    QCOMPARE(c.estado.resumo.ignorados, n);
    QCOMPARE(c.estado.resumo.importados, 0);
    QVERIFY(c.host.sucesso());
  }
}

// An IE is the same whatever the letter case of its letters: the return and
// the taxpayer already stored are found, nothing is stored twice.
void TestImport::ieSemDistinguirMaiusculas() {
  Cenário c(Docs(1));
  c.temp().execute("UPDATE tblContribuinte SET IE = 'ab12'");
  c.temp().execute("UPDATE tblQUR SET IE = 'ab12'");
  QVERIFY(c.importar(c.lista({0})).ok());
  c.atual().execute("UPDATE tblContribuinte SET IE = 'AB12'");
  c.atual().execute("UPDATE tblQUR SET IE = 'AB12'");
  c.host.diálogos.queueAnswer(kRespostaSim);
  QVERIFY(c.importar(c.lista({0})).ok());
  QCOMPARE(c.host.diálogos.messages().size(), size_t{2});  // the question, then the success
  QCOMPARE(c.host.diálogos.messages()[0].style, 19);
  QCOMPARE(c.estado.resumo.substituídos, 1);
  QCOMPARE(test::Count(c.atual(), "tblQUR"), 1);
  QCOMPARE(test::Count(c.atual(), "tblContribuinte"), 1);
}
#endif  // Q_MOC_RUN

QTEST_GUILESS_MAIN(TestImport)
#include "test_import.moc"
