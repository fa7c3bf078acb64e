#include "database/pg/pg_schema.h"

#include <QStringList>

#include <memory>
#include <string_view>

#include "database/banco_atual.h"
#include "database/pg/pg_conexao.h"
#include "database/schema.h"

namespace orlan {

namespace {

using schema::FieldType;
using schema::Parent;

std::string Q(std::string_view nome) { return PgIdentificador(nome); }

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
  return std::string(único ? "CREATE UNIQUE INDEX " : "CREATE INDEX ") + Q(std::string(tabela) + "_" + std::string(nome)) +
         " ON " + Q(tabela) + " (" + colunas + ");\n";
}

// Every table of the current database, tblPerola included.
QStringList Tabelas() {
  QStringList nomes;
  for (const schema::RecordDef& r : schema::Records()) {
    nomes << QString::fromUtf8(r.table.data(), static_cast<int>(r.table.size()));
  }
  nomes << QString::fromUtf8(schema::kLimitTable.data(), static_cast<int>(schema::kLimitTable.size()));
  nomes << QString::fromUtf8(kTabelaHistórico.data(), static_cast<int>(kTabelaHistórico.size()));
  nomes << QString::fromUtf8(schema::kArchiveTable.data(), static_cast<int>(schema::kArchiveTable.size()));
  for (const schema::RecordDef& r : schema::Records()) nomes << QString::fromStdString(schema::ArchivedTable(r.table));
  return nomes;
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

// The log is the server's: clerks may read it and call these two functions,
// which run with the owner's rights and stamp each line with the server's
// clock, the login and the transaction. A return deleted by anyone leaves a
// line at commit, unless a line of the same transaction tells of its
// replacement. `esquema` is the schema the tables live in, pinned so that
// no clerk's object is found first.
std::string HistóricoNoServidor(const std::string& esquema) {
  const std::string h = Q(kTabelaHistórico);
  const std::string caminho = " SET search_path = " + esquema + ", pg_temp AS ";
  return "CREATE FUNCTION " + std::string(kFunçãoHistórico) +
         "(execucao text, usuario text, maquina text, arquivo text, sha256 text, ies text[], ref1s date[], "
         "resultados text[], anteriores integer[], novos integer[]) RETURNS integer LANGUAGE plpgsql SECURITY DEFINER" +
         caminho +
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
         "END $f$;\n"
         "CREATE FUNCTION orlan_registrar_apagado() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER" + caminho +
         "$f$ BEGIN\n"
         "  IF NOT EXISTS (SELECT 1 FROM " + h + " l WHERE l.\"NroQURAnterior\" = OLD.\"NroQUR\"\n"
         "      AND l.\"Transação\" = pg_current_xact_id() AND l.\"Resultado\" IN ('substituído', 'restaurado')) THEN\n"
         "    INSERT INTO " + h + " (\"Momento\", \"Login\", \"Transação\", \"Execução\", \"IE\", \"Ref1\", \"Resultado\",\n"
         "      \"NroQURAnterior\") VALUES (clock_timestamp(), session_user, pg_current_xact_id(),\n"
         "      'apagado ' || pg_current_xact_id()::text, OLD.\"IE\", OLD.\"Ref1\", 'apagado', OLD.\"NroQUR\");\n"
         "  END IF;\n"
         "  RETURN NULL;\n"
         "END $f$;\n"
         "CREATE CONSTRAINT TRIGGER orlan_apagado AFTER DELETE ON " + Q(schema::kReturnTable) +
         " DEFERRABLE INITIALLY DEFERRED FOR EACH ROW EXECUTE FUNCTION orlan_registrar_apagado();\n"
         // Whatever default privileges gave on the log, only the owner
         // writes it directly.
         "DO $f$ DECLARE g record; BEGIN\n"
         "  FOR g IN SELECT DISTINCT CASE WHEN p.grantee = 0 THEN 'PUBLIC' ELSE quote_ident(pg_get_userbyid(p.grantee)) END\n"
         "      AS papel FROM pg_class c, aclexplode(c.relacl) p WHERE c.oid = to_regclass(" + Literal(h) + ")\n"
         "      AND p.grantee <> c.relowner AND p.privilege_type IN ('INSERT', 'UPDATE', 'DELETE', 'TRUNCATE') LOOP\n"
         "    EXECUTE 'REVOKE INSERT, UPDATE, DELETE, TRUNCATE ON ' || " + Literal(h) + " || ' FROM ' || g.papel;\n"
         "  END LOOP;\n"
         "END $f$;\n";
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
  // The import run log; its time is the server's clock.
  sql += "CREATE TABLE " + Q(kTabelaHistórico) +
         " (\"Código\" bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,"
         " \"Momento\" timestamptz NOT NULL DEFAULT clock_timestamp(),"
         " \"Execução\" text NOT NULL, \"Usuário\" text, \"Máquina\" text, \"Arquivo\" text, \"SHA256\" text,"
         " \"IE\" text, \"Ref1\" date,"
         " \"Resultado\" text NOT NULL CHECK (\"Resultado\" IN (" + std::string(kResultadosSql) + ")),"
         " \"NroQURAnterior\" integer, \"NroQURNovo\" integer, \"Login\" text,"
         " \"Transação\" xid8);\n";
  índices += Índice(kTabelaHistórico, "Execução", "\"Execução\"");
  índices += Índice(kTabelaHistórico, "NroQURAnterior", "\"NroQURAnterior\"");
  // The archive of replaced returns: its copies keep their rows' order and
  // none of the live tables' constraints.
  const std::string a = Q(schema::kArchiveTable);
  sql += "CREATE TABLE " + a +
         " (\"Código\" bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,"
         " \"Momento\" timestamptz NOT NULL DEFAULT clock_timestamp(), \"Login\" text DEFAULT session_user,"
         " \"NroQUR\" integer NOT NULL UNIQUE, \"IE\" text, \"Ref1\" date);\n";
  for (const schema::RecordDef& r : schema::Records()) {
    const std::string t = schema::ArchivedTable(r.table);
    // No foreign key: checking it per row would double the cost of
    // archiving, and only the archiving statement writes these rows, with
    // their archive row; pruning deletes both.
    sql += "CREATE TABLE " + Q(t) + " (" + Q(schema::kArchiveLink) + " bigint NOT NULL, " + Q(schema::kArchiveOrder) +
           " bigint GENERATED ALWAYS AS IDENTITY";
    for (std::string_view k : schema::KeyColumns(r)) sql += ", " + Q(k) + " integer";
    for (const schema::FieldDef& f : r.fields) sql += ", " + Q(f.name) + " " + std::string(Tipo(f.type));
    sql += ");\n";
    índices += Índice(t, schema::kArchiveLink, Q(schema::kArchiveLink) + ", " + Q(schema::kArchiveOrder));
  }
  return sql + índices;
}

Status CriarBancoAtualPostgres(const QString& uri, const QString& ref_limit) {
  std::unique_ptr<PgConexão> conexão;
  Status s = PgConexão::Abrir(uri, &conexão);
  if (!s.ok()) return s;
  try {
    conexão->executarScript("BEGIN", "criar o banco de dados atual");
    QStringList citadas;
    for (const QString& t : Tabelas()) citadas << QLatin1Char('"') + t + QLatin1Char('"');
    const PgResultado existentes = conexão->executar(
        "SELECT t FROM unnest($1::text[]) t WHERE to_regclass(quote_ident(t)) IS NOT NULL",
        {QLatin1Char('{') + citadas.join(QLatin1Char(',')) + QLatin1Char('}')}, "procurar as tabelas do banco de dados atual");
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
    const std::string esquema = conexão->executar("SELECT quote_ident(current_schema())", {}, "ler o esquema atual")
                                    .valor(0, 0).toString().toStdString();
    conexão->executarScript(HistóricoNoServidor(esquema), "criar o histórico de importações");
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

}  // namespace orlan
