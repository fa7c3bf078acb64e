// Import benchmark: 1,000 returns of about 60 detail rows each (occurrences
// with their registers included), imported by the engine into a fresh
// current database, against the fastest plain-SQL copy of the same data into
// the same schema (the temporary database attached, old keys mapped to new
// ones in SQL, one INSERT ... SELECT per table, one transaction); and the
// engine into a current database that already holds 1,000,000 detail rows
// against the engine into an empty one. Every figure comes from this run.
//
//   bench_import [folder]     (default: a new folder under the system's temp)
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <string>

#include "bench/copia_sql.h"
#include "checker/cons_pre.h"
#include "checker/gerador_prf.h"
#include "control/importacao_dialogos.h"
#include "database/identificador.h"
#include "database/sqlite/recordset.h"
#include "database/schema.h"
#include "database/sqlite/sqlite_banco_atual.h"
#include "import/importacao.h"
#include "support/scripted_dialogs.h"

using namespace orlan;

namespace {

constexpr int kDocumentos = 1000;
constexpr int kRepetições = 9;
constexpr int kCabeçalhosCheios = 18000;  // 56 rows below each: 1,008,000

[[noreturn]] void Falhar(const std::string& o_quê) {
  std::fprintf(stderr, "bench_import: %s\n", o_quê.c_str());
  std::exit(1);
}

std::shared_ptr<Database> Abrir(const QString& path, Database::OpenMode modo = Database::OpenMode::kExisting) {
  std::shared_ptr<Database> db;
  const Status s = Database::Open(path.toStdString(), modo, &db);
  if (!s.ok()) Falhar(s.ToString());
  return db;
}

void NovoBancoAtual(const QString& path) {
  QFile::remove(path);
  QFile::remove(path + "-journal");
  const Status s = schema::CreateCurrentDatabase(path.toStdString(), "2099");
  if (!s.ok()) Falhar(s.ToString());
}

// Seconds the engine takes to import every document of `temp` into `atual`.
double ImportarMotor(const QString& temp, const QString& atual) {
  EstadoImportação estado;
  estado.BancoTemp = Abrir(temp);
  estado.BancoAtual = std::make_shared<SqliteBancoAtual>(Abrir(atual));
  std::vector<std::int32_t> chaves;
  for (Recordset r = estado.BancoTemp->openQuery("SELECT NroQUR FROM tblQUR ORDER BY NroQUR"); !r.eof(); r.moveNext()) {
    chaves.push_back(r.value("NroQUR").toInt());
  }
  ScriptedDialogs diálogos;
  ImportaçãoPorDiálogos host(diálogos, [](Evento) {});
  QElapsedTimer t;
  t.start();
  const Status s = ExecutarImportação(estado, chaves, host);
  const double segundos = t.nsecsElapsed() / 1e9;
  if (!s.ok()) Falhar(s.ToString());
  if (estado.resumo.importados != kDocumentos) Falhar("not every document was imported");
  return segundos;
}

// The same copy as one SQL script (bench/copia_sql.h).
double ImportarSql(const QString& temp, const QString& atual) { return bench::CopiarPorSql(*Abrir(atual), temp); }

// A current database holding kCabeçalhosCheios returns of other taxpayers,
// with 56 rows below each, written in SQL.
void EncherBancoAtual(const QString& path) {
  NovoBancoAtual(path);
  auto db = Abrir(path);
  std::string sql =
      "BEGIN IMMEDIATE;\n"
      "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 1999)\n"
      "INSERT INTO tblContribuinte (IE, \"RazãoSocial\", DataCadastro) SELECT 'F' || i, 'Empresa ' || i, '2001-01-01' FROM n;\n"
      "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < " +
      std::to_string(kCabeçalhosCheios - 1) +
      ")\n"
      "INSERT INTO tblQUR (IE, Tipo, RegTrib, Ref1, SaldoCredor, Origem, \"Autenticação\") SELECT 'F' || (i % 2000), '1', '01', "
      "date('1990-01-20', '+' || (i / 2000) || ' months'), i * 1.5, '1', hex(randomblob(16)) FROM n;\n";
  const auto linhas = [&](const std::string& tabela, int por_pai, const std::string& pai, const std::string& chave,
                          const std::string& colunas, const std::string& valores) {
    sql += "WITH RECURSIVE k(j) AS (SELECT 1 UNION ALL SELECT j + 1 FROM k WHERE j < " + std::to_string(por_pai) +
           ")\nINSERT INTO " + QuoteIdentifier(tabela) + " (" + chave + ", " + colunas + ") SELECT p." + chave + ", " +
           valores + " FROM " + QuoteIdentifier(pai) + " p, k ORDER BY p." + chave + ";\n";
  };
  linhas("tblPagamento", 2, "tblQUR", "NroQUR", "\"OpPróprias\", Data, Valor", "j % 2, '2006-01-10', j * 10.5");
  linhas("tblDetalhesCFOPs", 12, "tblQUR", "NroQUR", "CFOP, \"ValorContábil\", \"BaseCálculo\", Imposto",
         "5100 + j, j * 100.25, j * 90.5, j * 16.2");
  linhas("tblDetalhesInterUFs", 8, "tblQUR", "NroQUR", "CFOP, UF, \"ValorContábil_1\", \"BaseCálculo_1\"",
         "6100 + j, 'MG', j * 100.25, j * 90.5");
  linhas("tblZFM_ALC", 3, "tblQUR", "NroQUR", "CFOP, UF, NF, Data, Valor", "'6109', 'AM', 'NF' || j, '2006-01-05', j * 3.5");
  linhas("tblOcorrências", 3, "tblQUR", "NroQUR", "\"CódSubItem\", Valor, \"Ocorrência\"", "'00219', j * 7.5, 'Ocorrência ' || j");
  linhas("tblDIPAM", 2, "tblQUR", "NroQUR", "\"CódDIPAM\", \"Município\", Valor", "'22', 'Campinas', j * 2.5");
  linhas("tblRegistroExportação", 2, "tblQUR", "NroQUR", "RE", "'RE' || j");
  linhas("tblIEsRemetente", 2, "tblOcorrências", "\"Código\"", "IERemetente, Valor", "'R' || j, j * 1.5");
  linhas("tblIESubstituido", 2, "tblOcorrências", "\"Código\"", "IESubstituido, NF, Valor", "'S' || j, 'NF' || j, j * 1.5");
  linhas("tblIESubstituto", 2, "tblOcorrências", "\"Código\"", "IESubstituto, NF, DataInicio, DataFim, Valor",
         "'T' || j, 'NF' || j, '2006-01-01', '2006-01-31', j * 1.5");
  linhas("tblRecibosCredito", 2, "tblOcorrências", "\"Código\"", "\"CodAutorização\", Valor", "'A' || j, j * 1.5");
  sql += "COMMIT;\n";
  db->executeScript(sql);
}

qlonglong LinhasAbaixoDoCabeçalho(Database& db) {
  qlonglong n = 0;
  for (const schema::RecordDef& r : schema::Records()) {
    if (r.parent == schema::Parent::kReturn || r.parent == schema::Parent::kOccurrence) {
      n += db.scalar("SELECT count(*) FROM " + QuoteIdentifier(r.table)).toLongLong();
    }
  }
  return n;
}

qlonglong TodasAsLinhas(Database& db) {
  return LinhasAbaixoDoCabeçalho(db) + db.scalar("SELECT count(*) FROM tblQUR").toLongLong() +
         db.scalar("SELECT count(*) FROM tblContribuinte").toLongLong();
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QTemporaryDir própria;
  const QDir pasta(argc > 1 ? QString::fromLocal8Bit(argv[1]) : própria.path());
  if (!pasta.exists()) Falhar("no folder " + pasta.path().toStdString());
  const QString temp = pasta.filePath("BDTempPrf.fix");
  const QString atual = pasta.filePath("atual.db");
  const QString cheio = pasta.filePath("cheio.db");
  const QString cópiaCheio = pasta.filePath("cheio-copia.db");

  {
    // A generated file of 100 taxpayers x 10 months, 56 detail lines a
    // return, checked into the temporary database.
    const QString prf = pasta.filePath("import.prf");
    prf::OpçõesGerador g;
    g.contribuintes = 100;
    g.meses = kDocumentos / g.contribuintes;
    g.linhas = 56;
    const Status gerado = prf::GerarArquivoPrf(prf.toStdString(), g);
    if (!gerado.ok()) Falhar(gerado.ToString());
    QFile::remove(temp);
    ConsPre verificador(nullptr, temp);
    verificador.SetInputFile(prf);
    if (verificador.RunCheck() != kVerificaçãoAceita) Falhar("the generated file was refused");
  }

  EncherBancoAtual(cheio);
  const qlonglong existentes = LinhasAbaixoDoCabeçalho(*Abrir(cheio));

  // The three measures take turns, so that a change in the machine's load
  // falls on all of them; each keeps its best time.
  double motor = 1e9, sql = 1e9, motorCheio = 1e9;
  qlonglong linhas = 0, linhasSql = 0;
  for (int i = 0; i < kRepetições; ++i) {
    NovoBancoAtual(atual);
    motor = std::min(motor, ImportarMotor(temp, atual));
    linhas = TodasAsLinhas(*Abrir(atual));
    NovoBancoAtual(atual);
    sql = std::min(sql, ImportarSql(temp, atual));
    linhasSql = TodasAsLinhas(*Abrir(atual));
    QFile::remove(cópiaCheio);
    QFile::remove(cópiaCheio + "-journal");
    if (!QFile::copy(cheio, cópiaCheio)) Falhar("cannot copy the full database");
    motorCheio = std::min(motorCheio, ImportarMotor(temp, cópiaCheio));
  }
  if (linhas != linhasSql) Falhar("the engine and the SQL copy stored different row counts");

  std::printf("documents: %d, rows stored per import: %lld (best of %d runs each)\n", kDocumentos, linhas,
              kRepetições);
  std::printf("engine, empty current database:   %8.3f s  %10.0f rows/s\n", motor, linhas / motor);
  std::printf("plain SQL copy, same data:         %8.3f s  %10.0f rows/s\n", sql, linhas / sql);
  std::printf("ratio engine / plain SQL:          %8.2f   (goal <= 2.0)\n", motor / sql);
  std::printf("engine, database with %lld detail rows: %8.3f s  %10.0f rows/s\n", existentes, motorCheio,
              linhas / motorCheio);
  std::printf("ratio full / empty:                %8.2f   (goal <= 1.2)\n", motorCheio / motor);
  return 0;
}
