#include "database/pg/pg_schema.h"

#include <QStringList>

#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "database/banco_atual.h"
#include "database/identificador.h"
#include "database/pg/pg_conexao.h"
#include "database/schema.h"

namespace orlan {

namespace {

using schema::FieldType;
using schema::Parent;

std::string Q(std::string_view nome) { return QuoteIdentifier(nome); }

std::string_view Tipo(FieldType tipo) {
  switch (tipo) {
    case FieldType::kText:
    case FieldType::kIE:
      return "text";
    case FieldType::kDate:
    case FieldType::kMonth:
      return "date";
    case FieldType::kDateTime:
      return "timestamp";
    case FieldType::kNumber:
      // The format's widest amount, 15 digits and 4 decimals, held as the
      // decimal the file wrote.
      return "numeric(19,4)";
    case FieldType::kBoolean:
      return "boolean";
  }
  return "text";
}

std::string Índice(std::string_view tabela, std::string_view nome, const std::string& colunas, bool único = false) {
  return std::string(único ? "CREATE UNIQUE INDEX IF NOT EXISTS " : "CREATE INDEX IF NOT EXISTS ") +
         Q(std::string(tabela) + "_" + std::string(nome)) +
         " ON " + Q(tabela) + " (" + colunas + ");\n";
}

// `nomes` (table names, no quote or backslash in them) as a text[] value.
QString ListaDeNomes(const QStringList& nomes) {
  QStringList citados;
  for (const QString& n : nomes) citados << QLatin1Char('"') + n + QLatin1Char('"');
  return QLatin1Char('{') + citados.join(QLatin1Char(',')) + QLatin1Char('}');
}

// Those of `nomes` that name no table here.
QStringList Ausentes(PgConexão& conexão, const QStringList& nomes) {
  const PgResultado r = conexão.executar("SELECT t FROM unnest($1::text[]) t WHERE to_regclass(quote_ident(t)) IS NULL",
                                         {ListaDeNomes(nomes)}, "procurar as tabelas do banco de dados atual");
  QStringList ausentes;
  for (int i = 0; i < r.linhas(); ++i) ausentes << r.valor(i, 0).toString();
  return ausentes;
}

QString Texto(std::string_view nome) { return QString::fromUtf8(nome.data(), static_cast<int>(nome.size())); }

std::string EsquemaAtual(PgConexão& conexão) {
  const PgResultado r = conexão.executar("SELECT quote_ident(current_schema())", {}, "ler o esquema atual");
  return r.valor(0, 0).toString().toStdString();
}

// `texto` as an SQL string literal.
std::string Literal(std::string_view texto) {
  std::string l = "'";
  for (char c : texto) l += c == '\'' ? std::string("''") : std::string(1, c);
  return l + "'";
}

// The log's columns a run's lines fill, as the writing function takes them.
constexpr std::string_view kEscreveHistórico =
    "\"Momento\", \"Login\", \"Transação\", \"Execução\", \"Usuário\", \"Máquina\", \"Arquivo\", \"SHA256\", \"IE\", "
    "\"Ref1\", \"Resultado\", \"NroQURAnterior\", \"NroQURNovo\"";

// The function a clerk's deletion fires, and its trigger on tblQUR.
constexpr std::string_view kFunçãoApagado = "orlan_registrar_apagado";
constexpr std::string_view kGatilhoApagado = "orlan_apagado";

std::string ÍndicesHistórico() {
  return Índice(kTabelaHistórico, "Execução", "\"Execução\"") +
         Índice(kTabelaHistórico, "NroQURAnterior", "\"NroQURAnterior\"");
}

// The log is the server's: clerks may read it and call this function,
// which runs with the owner's rights and stamps each line with the server's
// clock, the login and the transaction. `esquema` is the schema the tables
// live in, pinned so that no clerk's object is found first.
std::string CaminhoFixo(const std::string& esquema) { return " SET search_path = " + esquema + ", pg_temp AS "; }

std::string FunçãoHistórico(const std::string& esquema) {
  const std::string h = Q(kTabelaHistórico);
  return "CREATE OR REPLACE FUNCTION " + std::string(kFunçãoHistórico) +
         "(execucao text, usuario text, maquina text, arquivo text, sha256 text, ies text[], ref1s date[], "
         "resultados text[], anteriores integer[], novos integer[]) RETURNS integer LANGUAGE plpgsql SECURITY DEFINER" +
         CaminhoFixo(esquema) +
         "$f$ DECLARE n integer; BEGIN\n"
         "  IF EXISTS (SELECT 1 FROM unnest(resultados) r WHERE r IS NULL OR r = 'apagado') THEN\n"
         "    RAISE EXCEPTION 'resultado recusado no histórico' USING ERRCODE = '22023';\n"
         "  END IF;\n"
         "  INSERT INTO " + h + " (" + std::string(kEscreveHistórico) + ")\n"
         "  SELECT clock_timestamp(), session_user, pg_current_xact_id(), execucao, usuario, maquina, arquivo, sha256,\n"
         "    v.ie, v.ref1, v.resultado, v.anterior, v.novo\n"
         "  FROM unnest(ies, ref1s, resultados, anteriores, novos) WITH ORDINALITY v(ie, ref1, resultado, anterior, novo, n)\n"
         "  ORDER BY v.n;\n"
         "  GET DIAGNOSTICS n = ROW_COUNT;\n"
         "  RETURN n;\n"
         "END $f$;\n";
}

// A return deleted by anyone leaves a line at commit, unless a line of the
// same transaction tells of its replacement.
std::string GatilhoApagado(const std::string& esquema) {
  const std::string h = Q(kTabelaHistórico);
  return "CREATE OR REPLACE FUNCTION " + std::string(kFunçãoApagado) +
         "() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER" + CaminhoFixo(esquema) +
         "$f$ BEGIN\n"
         "  IF NOT EXISTS (SELECT 1 FROM " + h + " l WHERE l.\"NroQURAnterior\" = OLD.\"NroQUR\"\n"
         "      AND l.\"Transação\" = pg_current_xact_id() AND l.\"Resultado\" IN ('substituído', 'restaurado')) THEN\n"
         "    INSERT INTO " + h + " (\"Momento\", \"Login\", \"Transação\", \"Execução\", \"IE\", \"Ref1\", \"Resultado\",\n"
         "      \"NroQURAnterior\") VALUES (clock_timestamp(), session_user, pg_current_xact_id(),\n"
         "      'apagado ' || pg_current_xact_id()::text, OLD.\"IE\", OLD.\"Ref1\", 'apagado', OLD.\"NroQUR\");\n"
         "  END IF;\n"
         "  RETURN NULL;\n"
         "END $f$;\n"
         "CREATE CONSTRAINT TRIGGER " + std::string(kGatilhoApagado) + " AFTER DELETE ON " + Q(schema::kReturnTable) +
         " DEFERRABLE INITIALLY DEFERRED FOR EACH ROW EXECUTE FUNCTION " + std::string(kFunçãoApagado) + "();\n";
}

// The roles other than the owner that may write the log directly, as
// papel text rows ("PUBLIC" or a quoted name).
std::string QuemEscreveHistórico() {
  return "SELECT DISTINCT CASE WHEN p.grantee = 0 THEN 'PUBLIC' ELSE quote_ident(pg_get_userbyid(p.grantee)) END AS papel "
         "FROM pg_class c, aclexplode(c.relacl) p WHERE c.oid = to_regclass(" + Literal(Q(kTabelaHistórico)) +
         ") AND p.grantee <> c.relowner AND p.privilege_type IN ('INSERT', 'UPDATE', 'DELETE', 'TRUNCATE')";
}

// Whatever default privileges gave on the log, only the owner writes it
// directly.
std::string SóODonoEscreve() {
  return "DO $f$ DECLARE g record; BEGIN\n"
         "  FOR g IN " + QuemEscreveHistórico() + " LOOP\n"
         "    EXECUTE 'REVOKE INSERT, UPDATE, DELETE, TRUNCATE ON ' || " + Literal(Q(kTabelaHistórico)) +
         " || ' FROM ' || g.papel;\n"
         "  END LOOP;\n"
         "END $f$;\n";
}

std::string HistóricoNoServidor(const std::string& esquema) {
  return FunçãoHistórico(esquema) + GatilhoApagado(esquema) + SóODonoEscreve();
}

// The log's CHECK, and the columns a log made before the archive lacks.
std::string VerificaçãoResultado() { return "CHECK (\"Resultado\" IN (" + std::string(kResultadosSql) + "))"; }
constexpr std::pair<std::string_view, std::string_view> kColunasNovasHistórico[] = {{"Login", "text"},
                                                                                   {"Transação", "xid8"}};

// The import run log and its indexes; its time is the server's clock.
std::string TabelaHistórico() {
  std::string sql = "CREATE TABLE " + Q(kTabelaHistórico) +
                    " (\"Código\" bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,"
                    " \"Momento\" timestamptz NOT NULL DEFAULT clock_timestamp(),"
                    " \"Execução\" text NOT NULL, \"Usuário\" text, \"Máquina\" text, \"Arquivo\" text, \"SHA256\" text,"
                    " \"IE\" text, \"Ref1\" date, \"Resultado\" text NOT NULL " + VerificaçãoResultado() + ","
                    " \"NroQURAnterior\" integer, \"NroQURNovo\" integer";
  for (const auto& [nome, tipo] : kColunasNovasHistórico) sql += ", " + Q(nome) + " " + std::string(tipo);
  return sql + ");\n" + ÍndicesHistórico();
}

// The archive of replaced returns, table by table (kArchiveTable first),
// each with its index: its copies keep their rows' order and none of the
// live tables' constraints.
std::vector<std::pair<std::string, std::string>> TabelasArquivo() {
  const std::string a = Q(schema::kArchiveTable);
  std::vector<std::pair<std::string, std::string>> tabelas = {
      {std::string(schema::kArchiveTable),
       "CREATE TABLE " + a +
           " (\"Código\" bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,"
           " \"Momento\" timestamptz NOT NULL DEFAULT clock_timestamp(), \"Login\" text DEFAULT session_user,"
           " \"NroQUR\" integer NOT NULL UNIQUE, \"IE\" text, \"Ref1\" date);\n"}};
  for (const schema::RecordDef& r : schema::Records()) {
    const std::string t = schema::ArchivedTable(r.table);
    // No foreign key: checking it per row would double the cost of
    // archiving, and only the archiving statement writes these rows, with
    // their archive row; pruning deletes both.
    std::string sql = "CREATE TABLE " + Q(t) + " (" + Q(schema::kArchiveLink) + " bigint NOT NULL, " +
                      Q(schema::kArchiveOrder) + " bigint GENERATED ALWAYS AS IDENTITY";
    for (std::string_view k : schema::KeyColumns(r)) sql += ", " + Q(k) + " integer";
    for (const schema::FieldDef& f : r.fields) sql += ", " + Q(f.name) + " " + std::string(Tipo(f.type));
    sql += ");\n" + Índice(t, schema::kArchiveLink, Q(schema::kArchiveLink) + ", " + Q(schema::kArchiveOrder));
    tabelas.emplace_back(t, std::move(sql));
  }
  return tabelas;
}

// Every table of the current database, tblPerola, the log and the archive
// included.
QStringList Tabelas() {
  QStringList nomes;
  for (const schema::RecordDef& r : schema::Records()) {
    nomes << QString::fromUtf8(r.table.data(), static_cast<int>(r.table.size()));
  }
  nomes << QString::fromUtf8(schema::kLimitTable.data(), static_cast<int>(schema::kLimitTable.size()));
  nomes << QString::fromUtf8(kTabelaHistórico.data(), static_cast<int>(kTabelaHistórico.size()));
  for (const auto& [tabela, comandos] : TabelasArquivo()) nomes << QString::fromStdString(tabela);
  return nomes;
}

}  // namespace

std::string PgTabelasAtuais() {
  constexpr std::string_view kIdentidade = " integer GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY";
  const std::string nro = Q(schema::kReturnKey);
  const std::string código = Q(schema::kOccurrenceKey);
  std::string sql;
  std::string índices;
  for (const schema::RecordDef& r : schema::Records()) {
    sql += "CREATE TABLE " + Q(r.table) + " (";
    switch (r.parent) {
      case Parent::kFile:
        sql += Q("Id") + std::string(kIdentidade);
        índices += Índice(r.table, "IE", "lower(" + Q("IE") + ")", true);
        break;
      case Parent::kTaxpayer:
        sql += nro + std::string(kIdentidade);
        índices += Índice(r.table, "IE_Ref1", Q("IE") + ", " + Q("Ref1"));
        índices += Índice(r.table, "lower_IE_Ref1", "lower(" + Q("IE") + "), " + Q("Ref1"));
        break;
      case Parent::kReturn:
        if (r.table == schema::kOccurrenceTable) sql += código + std::string(kIdentidade) + ", ";
        sql += nro + " integer NOT NULL REFERENCES " + Q(schema::kReturnTable) + " (" + nro + ") ON DELETE CASCADE";
        índices += Índice(r.table, schema::kReturnKey, nro);
        break;
      case Parent::kOccurrence:
        sql += código + " integer NOT NULL REFERENCES " + Q(schema::kOccurrenceTable) + " (" + código +
               ") ON DELETE CASCADE";
        índices += Índice(r.table, schema::kOccurrenceKey, código);
        break;
    }
    for (const schema::FieldDef& f : r.fields) sql += ", " + Q(f.name) + " " + std::string(Tipo(f.type));
    sql += ");\n";
  }
  sql += "CREATE TABLE " + Q(schema::kLimitTable) + " (" + Q("RefLimite") + " text);\n";
  sql += TabelaHistórico();
  for (const auto& [tabela, comandos] : TabelasArquivo()) sql += comandos;
  return sql + índices;
}

Status CriarBancoAtualPostgres(const QString& uri, const QString& ref_limit) {
  std::unique_ptr<PgConexão> conexão;
  Status s = PgConexão::Abrir(uri, &conexão);
  if (!s.ok()) return s;
  try {
    conexão->executarScript("BEGIN", "criar o banco de dados atual");
    const PgResultado existentes = conexão->executar(
        "SELECT t FROM unnest($1::text[]) t WHERE to_regclass(quote_ident(t)) IS NOT NULL", {ListaDeNomes(Tabelas())},
        "procurar as tabelas do banco de dados atual");
    if (existentes.linhas() > 0) {
      QStringList nomes;
      for (int i = 0; i < existentes.linhas(); ++i) nomes << existentes.valor(i, 0).toString();
      conexão->executarScript("ROLLBACK", "desfazer a criação do banco de dados atual");
      return Status(kErrInvalidOperation, "No servidor PostgreSQL " + conexão->servidor().toStdString() +
                                              ", o banco já tem as tabelas " +
                                              nomes.join(QStringLiteral(", ")).toStdString() +
                                              "; nada foi criado nem alterado.");
    }
    conexão->executarScript(PgTabelasAtuais(), "criar as tabelas do banco de dados atual");
    conexão->executarScript(HistóricoNoServidor(EsquemaAtual(*conexão)), "criar o histórico de importações");
    conexão->executar("INSERT INTO " + Q(schema::kLimitTable) + " (" + Q("RefLimite") + ") VALUES ($1)", {ref_limit},
                      "gravar o limite de referência");
    conexão->executarScript("COMMIT", "confirmar a criação do banco de dados atual");
  } catch (const DbError& e) {
    // Closing the connection ends the transaction: nothing stays half made.
    conexão->fechar();
    return e.status();
  }
  return Status::OK();
}

namespace {

// The columns, CHECK and indexes a log made before the archive lacks.
// Returns whether it lacked any.
bool AtualizarHistórico(PgConexão& conexão) {
  const std::string h = Q(kTabelaHistórico);
  const QString regclass = QString::fromStdString(h);
  std::string sql;
  for (const auto& [nome, tipo] : kColunasNovasHistórico) {
    const bool tem = conexão
                         .executar("SELECT 1 FROM pg_attribute WHERE attrelid = to_regclass($1) AND attname = $2 "
                                   "AND NOT attisdropped",
                                   {regclass, Texto(nome)}, "ler as colunas do histórico de importações")
                         .linhas() > 0;
    if (!tem) sql += "ALTER TABLE " + h + " ADD COLUMN " + Q(nome) + " " + std::string(tipo) + ";\n";
  }
  // The CHECKs on "Resultado": an old one, which lacks an outcome, goes by
  // its name, whatever the server called it.
  QStringList literais;
  for (const std::string& l : LiteraisDosResultados()) literais << QString::fromStdString(l);
  const PgResultado verificações = conexão.executar(
      "SELECT quote_ident(c.conname), NOT EXISTS (SELECT 1 FROM unnest($2::text[]) w "
      "WHERE strpos(pg_get_constraintdef(c.oid), w) = 0) FROM pg_constraint c JOIN pg_attribute a "
      "ON a.attrelid = c.conrelid AND a.attname = 'Resultado' WHERE c.conrelid = to_regclass($1) AND c.contype = 'c' "
      "AND c.conkey = ARRAY[a.attnum]",
      {regclass, ListaDeNomes(literais)}, "ler as restrições do histórico de importações");
  bool completa = false;
  for (int i = 0; i < verificações.linhas(); ++i) completa = completa || verificações.valor(i, 1).toBool();
  if (!completa) {
    for (int i = 0; i < verificações.linhas(); ++i) {
      sql += "ALTER TABLE " + h + " DROP CONSTRAINT " + verificações.valor(i, 0).toString().toStdString() + ";\n";
    }
    sql += "ALTER TABLE " + h + " ADD " + VerificaçãoResultado() + ";\n";
  }
  if (sql.empty()) return false;
  conexão.executarScript(sql + ÍndicesHistórico(), "atualizar o histórico de importações");
  return true;
}

// The log's function, deletion trigger and rights, each where missing.
// Returns whether any was.
bool HistóricoNoServidorSeFaltar(PgConexão& conexão, const std::string& esquema) {
  const PgResultado r = conexão.executar(
      "SELECT EXISTS (SELECT 1 FROM pg_proc WHERE proname = $1 AND pronamespace = "
      "(SELECT oid FROM pg_namespace WHERE nspname = current_schema())), "
      "EXISTS (SELECT 1 FROM pg_trigger WHERE tgrelid = to_regclass($2) AND tgname = $3), EXISTS (" +
          QuemEscreveHistórico() + ")",
      {Texto(kFunçãoHistórico), QString::fromStdString(Q(schema::kReturnTable)), Texto(kGatilhoApagado)},
      "procurar as funções do histórico de importações");
  std::string sql;
  if (!r.valor(0, 0).toBool()) sql += FunçãoHistórico(esquema);
  if (!r.valor(0, 1).toBool()) sql += GatilhoApagado(esquema);
  if (r.valor(0, 2).toBool()) sql += SóODonoEscreve();
  if (sql.empty()) return false;
  conexão.executarScript(sql, "criar as funções do histórico de importações");
  return true;
}

// Refuses, with its message, a database that is not a current one or whose
// tables another role owns (what is made here must be that role's, for the
// rights it gives to hold).
std::optional<Status> Recusa(PgConexão& conexão) {
  QStringList exigidas;
  for (std::string_view t : schema::kCurrentTables) exigidas << Texto(t);
  const QStringList faltam = Ausentes(conexão, exigidas);
  const std::string onde = "No servidor PostgreSQL " + conexão.servidor().toStdString() + ", o banco";
  if (!faltam.isEmpty()) {
    std::vector<std::string> nomes;
    for (const QString& f : faltam) nomes.push_back(f.toStdString());
    return schema::NotCurrentDatabase(onde, nomes);
  }
  const PgResultado dono = conexão.executar(
      "SELECT pg_get_userbyid(relowner), pg_get_userbyid(relowner) = current_user FROM pg_class "
      "WHERE oid = to_regclass($1)",
      {QString::fromStdString(Q(schema::kReturnTable))}, "ler o dono das tabelas");
  if (dono.valor(0, 1).toBool()) return std::nullopt;
  return Status(kErrInvalidOperation, onde + " tem as tabelas do papel " + dono.valor(0, 0).toString().toStdString() +
                                          ": conecte-se como ele para acrescentar o arquivo; nada foi mudado.");
}

}  // namespace

Status AcrescentarArquivoPostgres(const QString& uri, schema::ArchiveUpgrade* feito) {
  std::unique_ptr<PgConexão> conexão;
  Status s = PgConexão::Abrir(uri, &conexão);
  if (!s.ok()) return s;
  try {
    conexão->executarScript("BEGIN", "acrescentar o arquivo ao banco de dados atual");
    if (const std::optional<Status> recusa = Recusa(*conexão)) {
      conexão->fechar();
      return *recusa;
    }
    QStringList arquivo;
    for (const auto& [tabela, comandos] : TabelasArquivo()) arquivo << QString::fromStdString(tabela);
    const QStringList faltam = Ausentes(*conexão, arquivo);
    std::string sql;
    for (const auto& [tabela, comandos] : TabelasArquivo()) {
      if (faltam.contains(QString::fromStdString(tabela))) sql += comandos;
    }
    feito->archive_tables = static_cast<int>(faltam.size());
    feito->log_created = !Ausentes(*conexão, {Texto(kTabelaHistórico)}).isEmpty();
    if (feito->log_created) sql += TabelaHistórico();
    if (!sql.empty()) conexão->executarScript(sql, "criar as tabelas do arquivo");
    if (!feito->log_created && AtualizarHistórico(*conexão)) {
      feito->log_reshaped = true;
      feito->log_lines = conexão->executar("SELECT count(*) FROM " + Q(kTabelaHistórico), {}, "contar o histórico")
                             .valor(0, 0).toLongLong();
    }
    feito->server_log = HistóricoNoServidorSeFaltar(*conexão, EsquemaAtual(*conexão));
    conexão->executarScript("COMMIT", "confirmar o arquivo no banco de dados atual");
  } catch (const DbError& e) {
    // Closing the connection ends the transaction: nothing stays half made.
    conexão->fechar();
    *feito = schema::ArchiveUpgrade();
    return e.status();
  }
  return Status::OK();
}

}  // namespace orlan
