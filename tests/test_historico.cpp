// The import run log on either engine of the current database (an SQLite
// file, a database on the tests' private PostgreSQL server): the table
// orlan-newdb makes, `orlan-import --history N` as a child process over
// lines written through a real copy session, a database made before the
// archive given it by `orlan-newdb --add-archive`; and where a run's
// file digest comes from (the checker's reading).
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <QUrlQuery>

// moc reads ASCII only: it sees the test class and nothing else.
#ifndef Q_MOC_RUN
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "checker/cons_pre.h"
#include "database/banco_atual.h"
#include "database/identificador.h"
#include "database/pg/pg_conexao.h"
#include "support/comparacao.h"
#include "support/pg_support.h"
#include "support/test_support.h"
#endif

using namespace orlan;

#ifndef Q_MOC_RUN

namespace {

const QString kCfop = QStringLiteral("CFOP|5102|100|100|18|0|0|0|0|0|0");

// coreutils' own SHA-256 of the file, in a process of its own.
QString Sha256DoArquivo(const QString& path) {
  const test::ProcessResult r = test::Run(QStringLiteral("sha256sum"), {QStringLiteral("--"), path});
  return r.exit_code == 0 && !r.crashed ? r.out.left(64) : QString();
}

test::ProcessResult Importação(const QStringList& args) {
  return test::Run(test::ProgramPath(QStringLiteral("orlan-import")), args);
}

// The login a server stamps on each line written through `banco`; none for a file.
QString Login(const QString& banco) { return QUrlQuery(QUrl(banco)).queryItemValue(QStringLiteral("user")); }

// Writes three runs, oldest first, each in a transaction of its own: "a"
// (one document), "b" (a user, host and file name holding a tab, a line
// end and a CR; no digest) and "c" (a document without IE or reference).
// `temp` is any SQLite file: the session attaches it and copies nothing.
void EscreverTrêsExecuções(BancoAtual& banco, const std::shared_ptr<Database>& temp) {
  struct Execução {
    OrigemHistórico origem;
    std::vector<LinhaHistórico> linhas;
  };
  using R = ResultadoDocumento;
  const auto linha = [](const QString& ie, const QDate& ref1, R resultado, std::optional<std::int64_t> anterior,
                        std::optional<std::int64_t> novo) {
    LinhaHistórico l;
    std::tie(l.ie, l.ref1, l.resultado, l.anterior, l.novo) = std::tie(ie, ref1, resultado, anterior, novo);
    return l;
  };
  const std::vector<Execução> execuções = {
      {{"exec-a", "ana", "maq1", "/dados/a.prf", QString(64, QLatin1Char('a'))},
       {linha("111", QDate(2006, 3, 1), R::kImportado, std::nullopt, 5)}},
      {{"exec-b", "bruno\tsilva", "maq\n2", "/dados/b\r\nc.prf", QString()},
       {linha("111", QDate(2006, 3, 1), R::kSubstituído, 5, 7),
        linha("222", QDate(2006, 4, 1), R::kIgnorado, std::nullopt, std::nullopt)}},
      {{"exec-c", "carla", "maq3", "/dados/c.prf", QString(64, QLatin1Char('c'))},
       {linha("333", QDate(2006, 5, 1), R::kImportado, std::nullopt, 9),
        linha(QString(), QDate(), R::kFalhou, std::nullopt, std::nullopt)}},
  };
  for (const Execução& e : execuções) {
    std::unique_ptr<SessãoCópia> sessão = banco.abrirSessão(temp);
    sessão->iniciar();
    for (const LinhaHistórico& l : e.linhas) sessão->registrarHistórico(e.origem, l);
    sessão->confirmar();
  }
}

// `out` is what `orlan-import --history 2` printed after
// EscreverTrêsExecuções: runs "c" then "b", each in the order written, twelve
// fields a line, tabs and line ends folded into spaces, empty fields for
// what a line lacks (no restore ID: the archive holds none of them), the
// server's `login` (empty for a file), and the database's time of each
// line (UTC) close to `antes`.
void ConferirDuasÚltimas(const QString& out, const QDateTime& antes, const QString& login) {
  QVERIFY2(out.endsWith(QLatin1Char('\n')), qPrintable(out));
  const QStringList linhas = out.chopped(1).split(QLatin1Char('\n'));
  const QString sha_c(64, QLatin1Char('c'));
  // The expected fields after the time.
  const QList<QStringList> esperadas = {
      {"carla", "maq3", "/dados/c.prf", sha_c, "333", "2006-05-01", "importado", "", "9", login, ""},
      {"carla", "maq3", "/dados/c.prf", sha_c, "", "", "falhou", "", "", login, ""},
      {"bruno silva", "maq 2", "/dados/b  c.prf", "", "111", "2006-03-01", QStringLiteral("substituído"), "5", "7", login, ""},
      {"bruno silva", "maq 2", "/dados/b  c.prf", "", "222", "2006-04-01", "ignorado", "", "", login, ""},
  };
  QCOMPARE(linhas.size(), esperadas.size());
  static const QRegularExpression iso(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}T\\d{2}:\\d{2}:\\d{2}Z$"));
  for (int i = 0; i < linhas.size(); ++i) {
    QStringList campos = linhas[i].split(QLatin1Char('\t'));
    QCOMPARE(campos.size(), 12);
    const QString momento = campos.takeFirst();
    QVERIFY2(iso.match(momento).hasMatch(), qPrintable(momento));
    const QDateTime quando = QDateTime::fromString(momento, Qt::ISODate);
    QVERIFY2(quando.isValid() && quando.secsTo(antes) <= 5 && antes.secsTo(quando) <= 600, qPrintable(momento));
    QCOMPARE(campos, esperadas[i]);
  }
}

}  // namespace

#endif  // Q_MOC_RUN

class TestHistorico : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();

  void newDatabaseHasTheLog_data() { Motores(); }
  void newDatabaseHasTheLog();
  void historyPrintsTheLastRunsNewestFirst_data() { Motores(); }
  void historyPrintsTheLastRunsNewestFirst();
  void historyWithoutTableOrLines_data() { Motores(); }
  void historyWithoutTableOrLines();
  void addArchiveToAnOlderDatabase_data() { Motores(); }
  void addArchiveToAnOlderDatabase();
  void historyBadUsage();
  void checkerDigestIsTheFilesBytes();

  // moc reads ASCII only.
#ifndef Q_MOC_RUN
 private:
  // The rows "sqlite" and "postgresql": `servidor` is false, then true.
  static void Motores();
  // The name of a new database of the row's engine: a file's path (no file
  // yet), or the URI of an empty database on the test server.
  QString Vazio(bool servidor) {
    return servidor ? test::PgNovoBanco() : dir_.filePath(QStringLiteral("atual%1.db").arg(++n_));
  }
  // The same, with the tables orlan-newdb makes.
  QString NovoBanco(bool servidor);
  std::shared_ptr<BancoAtual> Abrir(const QString& banco);
  std::shared_ptr<Database> Temporário();
  // Runs `sql` in the database `banco`, or reads its one text column "c0".
  void Executar(bool servidor, const QString& banco, const std::string& sql);
  QStringList Linhas(bool servidor, const QString& banco, const std::string& sql);

  QTemporaryDir dir_;
  int n_ = 0;
#endif  // Q_MOC_RUN
};

#ifndef Q_MOC_RUN

// The row's engine; without the test server its row is skipped, saying why.
#define MOTOR()                                                                            \
  QFETCH(bool, servidor);                                                                  \
  if (servidor && test::PgServidorDeTeste().isEmpty()) QSKIP(qPrintable(test::PgMotivoSemServidor()))

void TestHistorico::Motores() {
  QTest::addColumn<bool>("servidor");
  QTest::newRow("sqlite") << false;
  QTest::newRow("postgresql") << true;
}

void TestHistorico::initTestCase() {
  QVERIFY(dir_.isValid());
  test::IsolateSettings(dir_.filePath(QStringLiteral("config")));
}

QString TestHistorico::NovoBanco(bool servidor) {
  const QString banco = Vazio(servidor);
  const test::ProcessResult r = test::Run(test::ProgramPath(QStringLiteral("orlan-newdb")), {banco});
  if (r.exit_code != 0) qFatal("orlan-newdb %s: %s", qPrintable(banco), qPrintable(r.err));
  return banco;
}

std::shared_ptr<BancoAtual> TestHistorico::Abrir(const QString& banco) {
  std::shared_ptr<BancoAtual> b;
  const Status s = AbrirBancoAtual(banco, &b);
  if (!s.ok()) qFatal("opening %s: %s", qPrintable(banco), s.ToString().c_str());
  return b;
}

std::shared_ptr<Database> TestHistorico::Temporário() {
  const QString path = dir_.filePath(QStringLiteral("temp%1.db").arg(++n_));
  test::CreateEmptyDatabase(path);
  return test::OpenExisting(path);
}

void TestHistorico::Executar(bool servidor, const QString& banco, const std::string& sql) {
  if (!servidor) return test::OpenExisting(banco)->executeScript(sql);
  std::unique_ptr<PgConexão> pg;
  if (!PgConexão::Abrir(banco, &pg).ok()) qFatal("connecting to %s", qPrintable(banco));
  pg->executarScript(sql);
}

QStringList TestHistorico::Linhas(bool servidor, const QString& banco, const std::string& sql) {
  const test::Consulta c{QString(), sql, {schema::FieldType::kText}};
  if (!servidor) return test::LinhasTemp(*test::OpenExisting(banco), c);
  std::unique_ptr<PgConexão> pg;
  if (!PgConexão::Abrir(banco, &pg).ok()) qFatal("connecting to %s", qPrintable(banco));
  return test::LinhasPg(*pg, c);
}

void TestHistorico::newDatabaseHasTheLog() {
  MOTOR();
  std::shared_ptr<BancoAtual> banco = Abrir(NovoBanco(servidor));
  QVERIFY(banco->temHistórico());
  QVERIFY(banco->histórico(5).empty());
}

void TestHistorico::historyPrintsTheLastRunsNewestFirst() {
  MOTOR();
  const QString banco = NovoBanco(servidor);
  const QDateTime antes = QDateTime::currentDateTimeUtc();
  {
    std::shared_ptr<BancoAtual> atual = Abrir(banco);
    EscreverTrêsExecuções(*atual, Temporário());
    atual->fechar();
  }
  const test::ProcessResult r = Importação({"--db", banco, "--history", "2"});
  QCOMPARE(r.exit_code, 0);
  QVERIFY2(r.err.isEmpty(), qPrintable(r.err));
  ConferirDuasÚltimas(r.out, antes, Login(banco));

  // More runs asked for than there are: all three; "=" form of the value.
  const test::ProcessResult todas = Importação({"--db", banco, "--history=10"});
  QCOMPARE(todas.exit_code, 0);
  QCOMPARE(todas.out.count(QLatin1Char('\n')), 5);
  QVERIFY(todas.out.startsWith(r.out));
  QVERIFY2(todas.out.endsWith(QStringLiteral("\tana\tmaq1\t/dados/a.prf\t%1\t111\t2006-03-01\timportado\t\t5\t%2\t\n")
                                  .arg(QString(64, QLatin1Char('a')), Login(banco))),
           qPrintable(todas.out));

  // Without --db: the "DbAtual" setting, as an import takes it.
  test::WriteDbAtual(banco);
  const test::ProcessResult configurado = Importação({"--history", "1"});
  QCOMPARE(configurado.exit_code, 0);
  QCOMPARE(configurado.out, r.out.section(QLatin1Char('\n'), 0, 1) + QLatin1Char('\n'));
  test::WriteDbAtual(QString());
}

void TestHistorico::historyWithoutTableOrLines() {
  MOTOR();
  const QString banco = NovoBanco(servidor);
  // An empty log: nothing listed, nothing on standard output.
  const test::ProcessResult vazio = Importação({"--db", banco, "--history", "3"});
  QCOMPARE(vazio.exit_code, 3);
  QVERIFY2(vazio.out.isEmpty(), qPrintable(vazio.out));

  // No log table: the same status, and a message naming the database. The
  // server lets the tests' socket in without asking for it, so a password
  // in the address is never needed, and must not be shown.
  Executar(servidor, banco, "DROP TABLE " + QuoteIdentifier(kTabelaHistórico));
  const QString nome = servidor ? banco + QStringLiteral("&password=segredo123") : banco;
  const test::ProcessResult sem = Importação({"--db", nome, "--history", "3"});
  QCOMPARE(sem.exit_code, 3);
  QVERIFY2(sem.out.isEmpty(), qPrintable(sem.out));
  QVERIFY2(sem.err.contains(QStringLiteral("não tem histórico de importações")), qPrintable(sem.err));
  QVERIFY2(sem.err.contains(NomeSemSenha(nome)) && !sem.err.contains(QStringLiteral("segredo123")), qPrintable(sem.err));
}

void TestHistorico::historyBadUsage() {
  const QString banco = NovoBanco(false);
  const QList<QStringList> casos = {
      {"--history", "0"}, {"--history", "-1"}, {"--history", "dois"}, {"--history", "1.5"}, {"--history", ""},
      {"--history", "+2"}, {"--history", "99999999999"}, {"--history"}, {"--history", "2", "arquivo.prf"},
      {"--history", "2", "--list"}, {"--history", "2", "--dry-run"}, {"--history", "2", "--ref", "03/2006"},
      {"--history", "2", "--select", "111"}, {"--history", "2", "--overwrite", "yes"},
      {"--history", "2", "--component-dir", "x"},
  };
  for (QStringList args : casos) {
    args.prepend(banco);
    args.prepend(QStringLiteral("--db"));
    const test::ProcessResult r = Importação(args);
    QVERIFY2(r.exit_code == 64, qPrintable(args.join(' ') + QStringLiteral(": %1").arg(r.exit_code)));
    QVERIFY2(r.out.isEmpty(), qPrintable(r.out));
    QVERIFY2(r.err.contains(QStringLiteral("--history")), qPrintable(r.err));
  }
  const test::ProcessResult ajuda = Importação({"--help"});
  QCOMPARE(ajuda.exit_code, 0);
  QVERIFY(ajuda.out.contains(QStringLiteral("--history N")));
  QVERIFY(ajuda.out.contains(QStringLiteral("histórico vazio")));

  // A database that cannot be opened: as an import says it, status 4.
  const test::ProcessResult falta = Importação({"--db", dir_.filePath(QStringLiteral("nenhum.db")), "--history", "1"});
  QCOMPARE(falta.exit_code, 4);
  QVERIFY2(falta.out.isEmpty(), qPrintable(falta.out));
  QVERIFY2(falta.err.contains(QStringLiteral("nenhum.db")) && falta.err.contains(QStringLiteral("não pôde ser aberto")),
           qPrintable(falta.err));
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

// A database made before the archive (FormaAntiga) imports as before;
// --add-archive keeps its log's lines and makes it archive and restore; a
// second --add-archive finds nothing to do.
void TestHistorico::addArchiveToAnOlderDatabase() {
  MOTOR();
  const QString novo = test::ProgramPath(QStringLiteral("orlan-newdb"));
  const QString banco = Vazio(servidor);
  const auto linhas = [&](const std::string& sql) { return Linhas(servidor, banco, sql); };
  const auto importar = [&](const QStringList& args) {
    return Importação(QStringList{"--db", banco, "--component-dir", dir_.filePath(QStringLiteral("componente"))} + args);
  };
  // Not a current database yet: refused, nothing made.
  if (!servidor) test::CreateEmptyDatabase(banco);
  const std::string objetos = servidor
                                  ? "SELECT count(*) AS c0 FROM pg_class WHERE relnamespace = 'public'::regnamespace"
                                  : "SELECT count(*) AS c0 FROM sqlite_schema";
  const QStringList antes_de_tudo = linhas(objetos);
  const test::ProcessResult recusado = test::Run(novo, {"--add-archive", banco});
  QCOMPARE(recusado.exit_code, 4);
  QVERIFY2(recusado.err.contains(QStringLiteral("faltam as tabelas tblQUR")), qPrintable(recusado.err));
  QCOMPARE(linhas(objetos), antes_de_tudo);
  if (!servidor) QVERIFY(QFile::remove(banco));
  QCOMPARE(test::Run(novo, {banco}).exit_code, 0);

  const std::string h = QuoteIdentifier(kTabelaHistórico);
  Executar(servidor, banco, FormaAntiga(servidor));

  const QString a = dir_.filePath(QStringLiteral("a.prf"));
  const QString b = dir_.filePath(QStringLiteral("b.prf"));
  test::WriteFile(a, test::ArquivoPrf({test::LinhaContribuinte("110042490114", "Alfa Ltda"),
                                       test::LinhaQur("110042490114", "01", "03/2006")}));
  test::WriteFile(b, test::ArquivoPrf({test::LinhaContribuinte("110042490114", "Alfa Ltda"),
                                       test::LinhaQur("110042490114", "05", "03/2006")}));
  const auto última = [&] {
    const test::ProcessResult r = Importação({"--db", banco, "--history", "1"});
    return r.exit_code == 0 ? r.out.chopped(1).split(QLatin1Char('\t')) : QStringList{r.err};
  };
  // Before: imports and replaces as it did, deleting for good; no archive.
  for (int vez = 0; vez < 2; ++vez) {
    const test::ProcessResult r = importar({"--overwrite", "yes", a});
    QVERIFY2(r.exit_code == 0, qPrintable(r.out + r.err));
  }
  QCOMPARE(última().mid(7), QStringList({QStringLiteral("substituído"), "1", "2", "", ""}));
  QCOMPARE(Importação({"--db", banco, "--prune-archive", "2099-01-01"}).exit_code, 3);
  QCOMPARE(importar({"--restore", "1"}).exit_code, 3);

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
  const test::ProcessResult substituído = importar({"--overwrite", "yes", b});
  QVERIFY2(substituído.exit_code == 0, qPrintable(substituído.out + substituído.err));
  const QString login = Login(banco);
  const QStringList linha = última();
  QCOMPARE(linha.mid(7, 4), QStringList({QStringLiteral("substituído"), "2", "3", login}));
  QVERIFY2(linha.size() == 12 && linha[11].toLongLong() > 0, qPrintable(linha.join(QLatin1Char('|'))));
  const test::ProcessResult restaurado = importar({"--restore", linha[11], "--overwrite", "yes"});
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

QTEST_GUILESS_MAIN(TestHistorico)
#include "test_historico.moc"
