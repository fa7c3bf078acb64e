// The import run log on a PostgreSQL current database (the tests' private
// server): the table orlan-newdb makes there, and `orlan-import --history N`
// as a child process over lines written through a real copy session. And,
// on a file and on the server alike, a database made before the archive,
// given it by `orlan-newdb --add-archive`.
#include <QDateTime>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <QUrlQuery>

// moc reads ASCII only: it sees the test class and nothing else.
#ifndef Q_MOC_RUN
#include <memory>

#include "database/banco_atual.h"
#include "database/identificador.h"
#include "database/pg/pg_conexao.h"
#include "support/comparacao.h"
#include "support/pg_support.h"
#include "support/test_support.h"
#include "test_historico_apoio.h"
#endif

using namespace orlan;

class TestPgHistorico : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();

  void newDatabaseHasTheLog();
  void historyPrintsTheLastRunsNewestFirst();
  void historyWithoutTableOrLines();
  void addArchiveToAnOlderDatabase_data();
  void addArchiveToAnOlderDatabase();

  // moc reads ASCII only.
#ifndef Q_MOC_RUN
 private:
  // A new database on the test server with orlan-newdb's tables; its URI.
  QString NovoBanco();
  std::shared_ptr<BancoAtual> Abrir(const QString& uri);
  test::ProcessResult Histórico(const QString& uri, const QString& n) {
    return test::Run(test::ProgramPath(QStringLiteral("orlan-import")), {"--db", uri, "--history", n});
  }
  test::ProcessResult Importar(const QString& banco, const QStringList& args) {
    return test::Run(test::ProgramPath(QStringLiteral("orlan-import")),
                     QStringList{"--db", banco, "--component-dir", dir_.filePath(QStringLiteral("componente"))} + args);
  }

  QTemporaryDir dir_;
#endif  // Q_MOC_RUN
};

#ifndef Q_MOC_RUN

#define EXIGIR_SERVIDOR()                                                                    \
  do {                                                                                       \
    if (test::PgServidorDeTeste().isEmpty()) QSKIP(qPrintable(test::PgMotivoSemServidor())); \
  } while (false)

void TestPgHistorico::initTestCase() {
  QVERIFY(dir_.isValid());
  test::IsolateSettings(dir_.filePath(QStringLiteral("config")));
}

QString TestPgHistorico::NovoBanco() {
  const QString uri = test::PgNovoBanco();
  const test::ProcessResult r = test::Run(test::ProgramPath(QStringLiteral("orlan-newdb")), {uri});
  if (r.exit_code != 0) qFatal("orlan-newdb %s: %s", qPrintable(uri), qPrintable(r.err));
  return uri;
}

std::shared_ptr<BancoAtual> TestPgHistorico::Abrir(const QString& uri) {
  std::shared_ptr<BancoAtual> b;
  const Status s = AbrirBancoAtual(uri, &b);
  if (!s.ok()) qFatal("opening %s: %s", qPrintable(uri), s.ToString().c_str());
  return b;
}

void TestPgHistorico::newDatabaseHasTheLog() {
  EXIGIR_SERVIDOR();
  std::shared_ptr<BancoAtual> banco = Abrir(NovoBanco());
  QVERIFY(banco->temHistórico());
  QVERIFY(banco->histórico(5).empty());
}

void TestPgHistorico::historyPrintsTheLastRunsNewestFirst() {
  EXIGIR_SERVIDOR();
  const QString uri = NovoBanco();
  std::shared_ptr<BancoAtual> banco = Abrir(uri);
  const QString temp = dir_.filePath(QStringLiteral("temp.db"));
  test::CreateEmptyDatabase(temp);
  const QDateTime antes = QDateTime::currentDateTimeUtc();
  test::EscreverTrêsExecuções(*banco, test::OpenExisting(temp));
  banco->fechar();

  const test::ProcessResult r = Histórico(uri, QStringLiteral("2"));
  QCOMPARE(r.exit_code, 0);
  QVERIFY2(r.err.isEmpty(), qPrintable(r.err));
  // The server stamps each line with the login that wrote it.
  const QString login = QUrlQuery(QUrl(uri)).queryItemValue(QStringLiteral("user"));
  test::ConferirDuasÚltimas(r.out, antes, login);

  const test::ProcessResult todas = Histórico(uri, QStringLiteral("3"));
  QCOMPARE(todas.exit_code, 0);
  QCOMPARE(todas.out.count(QLatin1Char('\n')), 5);
  QVERIFY(todas.out.startsWith(r.out));
  QVERIFY(todas.out.endsWith(QStringLiteral("\tana\tmaq1\t/dados/a.prf\t%1\t111\t2006-03-01\timportado\t\t5\t%2\t\n")
                                 .arg(QString(64, QLatin1Char('a')), login)));
}

void TestPgHistorico::historyWithoutTableOrLines() {
  EXIGIR_SERVIDOR();
  const QString uri = NovoBanco();
  const test::ProcessResult vazio = Histórico(uri, QStringLiteral("1"));
  QCOMPARE(vazio.exit_code, 3);
  QVERIFY2(vazio.out.isEmpty(), qPrintable(vazio.out));

  {
    std::unique_ptr<PgConexão> c;
    const Status s = PgConexão::Abrir(uri, &c);
    QVERIFY2(s.ok(), s.ToString().c_str());
    c->executar("DROP TABLE " + QuoteIdentifier(kTabelaHistórico));
  }
  // The server lets the socket in without asking for it, so a password in
  // the address is never needed, and must not be shown.
  const QString com_senha = uri + QStringLiteral("&password=segredo123");
  const test::ProcessResult sem = Histórico(com_senha, QStringLiteral("1"));
  QCOMPARE(sem.exit_code, 3);
  QVERIFY2(sem.out.isEmpty(), qPrintable(sem.out));
  QVERIFY2(sem.err.contains(QStringLiteral("não tem histórico de importações")), qPrintable(sem.err));
  QVERIFY2(sem.err.contains(NomeSemSenha(com_senha)), qPrintable(sem.err));
  QVERIFY2(!sem.err.contains(QStringLiteral("segredo123")), qPrintable(sem.err));
}

namespace {

// A database orlan-newdb made turned into one made before the archive: no
// archive, the log without "Login" and with the first four outcomes, three
// lines in it; on a server no function or trigger, and PUBLIC may write the
// log (as default privileges would have let it).
std::string FormaAntiga(bool servidor) {
  const std::string h = QuoteIdentifier(kTabelaHistórico);
  std::string sql;
  for (const schema::RecordDef& r : schema::Records()) {
    sql += "DROP TABLE " + QuoteIdentifier(schema::ArchivedTable(r.table)) + ";\n";
  }
  if (servidor) {
    sql += "DROP TRIGGER orlan_apagado ON \"tblQUR\"; DROP FUNCTION orlan_registrar_apagado(); "
           "DROP FUNCTION orlan_registrar_historico;\n";
  }
  sql += "DROP TABLE \"tblArquivamento\"; DROP TABLE " + h + "; CREATE TABLE " + h + " (\"Código\" " +
         (servidor ? "bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,"
                     " \"Momento\" timestamptz NOT NULL DEFAULT clock_timestamp()"
                   : "INTEGER PRIMARY KEY AUTOINCREMENT,"
                     " \"Momento\" TEXT NOT NULL DEFAULT (strftime('%Y-%m-%dT%H:%M:%SZ', 'now'))") +
         ", \"Execução\" text NOT NULL, \"Usuário\" text, \"Máquina\" text, \"Arquivo\" text, \"SHA256\" text,"
         " \"IE\" text, \"Ref1\" date,"
         " \"Resultado\" text NOT NULL CHECK (\"Resultado\" IN ('importado', 'substituído', 'ignorado', 'falhou')),"
         " \"NroQURAnterior\" integer, \"NroQURNovo\" integer);\n"
         "CREATE INDEX \"tblHistóricoImportação_Execução\" ON " + h + " (\"Execução\");\n"
         "INSERT INTO " + h + " (\"Execução\", \"Usuário\", \"Máquina\", \"Arquivo\", \"IE\", \"Ref1\","
         " \"Resultado\", \"NroQURAnterior\", \"NroQURNovo\") VALUES"
         " ('velha', 'ana', 'maq1', '/dados/v.prf', '9', '2005-01-20', 'importado', NULL, 901),"
         " ('velha', 'ana', 'maq1', '/dados/v.prf', '9', '2005-01-20', 'substituído', 901, 902),"
         " ('velha', 'ana', 'maq1', '/dados/v.prf', NULL, NULL, 'falhou', NULL, NULL);\n";
  if (servidor) sql += "GRANT INSERT, UPDATE ON " + h + " TO PUBLIC;\n";
  return sql;
}

}  // namespace

void TestPgHistorico::addArchiveToAnOlderDatabase_data() {
  QTest::addColumn<bool>("servidor");
  QTest::newRow("sqlite") << false;
  QTest::newRow("postgresql") << true;
}

// A database made before the archive (FormaAntiga) imports as before;
// --add-archive keeps its log's lines and makes it archive and restore; a
// second --add-archive finds nothing to do.
void TestPgHistorico::addArchiveToAnOlderDatabase() {
  QFETCH(bool, servidor);
  if (servidor) EXIGIR_SERVIDOR();
  const QString novo = test::ProgramPath(QStringLiteral("orlan-newdb"));
  const QString banco = servidor ? test::PgNovoBanco() : dir_.filePath(QStringLiteral("antigo.db"));
  const auto linhas = [&](const std::string& sql) {
    const test::Consulta c{QString(), sql, {schema::FieldType::kText}};
    if (!servidor) return test::LinhasTemp(*test::OpenExisting(banco), c);
    std::unique_ptr<PgConexão> pg;
    if (!PgConexão::Abrir(banco, &pg).ok()) qFatal("connecting to %s", qPrintable(banco));
    return test::LinhasPg(*pg, c);
  };
  const auto executar = [&](const std::string& sql) {
    if (!servidor) return test::OpenExisting(banco)->executeScript(sql);
    std::unique_ptr<PgConexão> pg;
    if (!PgConexão::Abrir(banco, &pg).ok()) qFatal("connecting to %s", qPrintable(banco));
    pg->executarScript(sql);
  };
  // Not a current database yet: refused, nothing made.
  if (!servidor) test::CreateEmptyDatabase(banco);
  const std::string objetos = servidor
                                  ? "SELECT count(*) AS c0 FROM pg_class WHERE relnamespace = 'public'::regnamespace"
                                  : "SELECT count(*) AS c0 FROM sqlite_schema";
  const QStringList antes_de_tudo = linhas(objetos);
  const test::ProcessResult recusado = test::Run(novo, {"--add-archive", banco});
  QCOMPARE(recusado.exit_code, 4);
  QVERIFY2(recusado.err.contains(QStringLiteral("não é um banco de dados atual: faltam as tabelas tblQUR")),
           qPrintable(recusado.err));
  QCOMPARE(linhas(objetos), antes_de_tudo);
  if (!servidor) QVERIFY(QFile::remove(banco));
  QCOMPARE(test::Run(novo, {banco}).exit_code, 0);

  const std::string h = QuoteIdentifier(kTabelaHistórico);
  executar(FormaAntiga(servidor));

  const QString a = dir_.filePath(QStringLiteral("a.prf"));
  const QString b = dir_.filePath(QStringLiteral("b.prf"));
  test::WriteFile(a, test::ArquivoPrf({test::LinhaContribuinte("110042490114", "Alfa Ltda"),
                                       test::LinhaQur("110042490114", "01", "03/2006")}));
  test::WriteFile(b, test::ArquivoPrf({test::LinhaContribuinte("110042490114", "Alfa Ltda"),
                                       test::LinhaQur("110042490114", "05", "03/2006")}));
  const auto última = [&] {
    const test::ProcessResult r = Histórico(banco, QStringLiteral("1"));
    return r.exit_code == 0 ? r.out.chopped(1).split(QLatin1Char('\t')) : QStringList{r.err};
  };
  // Before: imports and replaces as it did, deleting for good; no archive.
  for (int vez = 0; vez < 2; ++vez) {
    const test::ProcessResult r = Importar(banco, {"--overwrite", "yes", a});
    QVERIFY2(r.exit_code == 0, qPrintable(r.out + r.err));
  }
  QCOMPARE(última().mid(7), QStringList({QStringLiteral("substituído"), "1", "2", "", ""}));
  const QString importação = test::ProgramPath(QStringLiteral("orlan-import"));
  QCOMPARE(test::Run(importação, {"--db", banco, "--prune-archive", "2099-01-01"}).exit_code, 3);

  const std::string todas = "SELECT \"Código\" || '|' || \"Momento\" || '|' || \"Execução\" || '|' || "
                            "coalesce(\"Usuário\", '') || '|' || coalesce(\"IE\", '') || '|' || \"Resultado\" || '|' || "
                            "coalesce(\"NroQURNovo\", 0) AS c0 FROM " + h;
  const QStringList velhas = linhas(todas);
  QCOMPARE(velhas.size(), 5);
  const test::ProcessResult atualizado = test::Run(novo, {"--add-archive", banco});
  QVERIFY2(atualizado.exit_code == 0, qPrintable(atualizado.err));
  QString esperado = NomeSemSenha(banco) +
                     QStringLiteral(": acrescentados o arquivo das declarações substituídas (%1 tabelas); "
                                    "a forma nova do histórico de importações (5 linhas mantidas)")
                         .arg(schema::Records().size() + 1);
  if (servidor) esperado += QStringLiteral("; a função, o gatilho e os direitos do histórico no servidor");
  QCOMPARE(atualizado.out, esperado + QLatin1Char('\n'));
  QCOMPARE(linhas(todas), velhas);
  if (servidor) {
    QCOMPARE(linhas("SELECT has_table_privilege('public', '" + h + "', 'INSERT')::text AS c0"), QStringList{"'false'"});
  }

  // After: the replaced return is archived, and comes back.
  const test::ProcessResult substituído = Importar(banco, {"--overwrite", "yes", b});
  QVERIFY2(substituído.exit_code == 0, qPrintable(substituído.out + substituído.err));
  const QString login = servidor ? QUrlQuery(QUrl(banco)).queryItemValue(QStringLiteral("user")) : QString();
  const QStringList linha = última();
  QCOMPARE(linha.mid(7, 4), QStringList({QStringLiteral("substituído"), "2", "3", login}));
  QVERIFY2(linha.size() == 12 && linha[11].toLongLong() > 0, qPrintable(linha.join(QLatin1Char('|'))));
  const test::ProcessResult restaurado = Importar(banco, {"--restore", linha[11], "--overwrite", "yes"});
  QVERIFY2(restaurado.exit_code == 0, qPrintable(restaurado.out + restaurado.err));
  QCOMPARE(linhas("SELECT \"RegTrib\" AS c0 FROM \"tblQUR\""), QStringList{"'01'"});
  const QStringList restauração = última();
  QCOMPARE(restauração.mid(7, 4), QStringList({QStringLiteral("restaurado"), "3", "4", login}));

  const QStringList depois = linhas(todas);
  const test::ProcessResult de_novo = test::Run(novo, {"--add-archive", banco});
  QCOMPARE(de_novo.exit_code, 0);
  QVERIFY2(de_novo.out.endsWith(QStringLiteral("; nada foi mudado\n")), qPrintable(de_novo.out));
  QCOMPARE(linhas(todas), depois);
}

#endif  // Q_MOC_RUN

QTEST_GUILESS_MAIN(TestPgHistorico)
#include "test_pg_historico.moc"
