#include "database/historico.h"

#include "database/identificador.h"
#include "database/sqlite/recordset.h"

namespace orlan {

namespace {

// The runs are told apart by their identifier and ordered by their first
// line, so that two clerks' runs that overlap still come out whole. A log
// made before logins and the archive gives Nulls for them.
std::string Consulta(const std::string& momento, const std::string& limite, const FormaHistórico& forma) {
  const std::string t = QuoteIdentifier(kTabelaHistórico);
  const std::string login = forma.login ? "h.\"Login\"" : "NULL";
  // A replaced return's archive row is the one of its NroQUR, which no
  // other return ever had.
  const std::string arquivamento =
      forma.arquivo ? "CASE WHEN h.\"Resultado\" IN ('substituído', 'restaurado') THEN (SELECT a.\"Código\" FROM " +
                          QuoteIdentifier(schema::kArchiveTable) + " a WHERE a.\"NroQUR\" = h.\"NroQURAnterior\") END"
                    : std::string("NULL");
  return "WITH e AS (SELECT \"Execução\", min(\"Código\") AS primeiro FROM " + t +
         " GROUP BY \"Execução\" ORDER BY primeiro DESC LIMIT " + limite + ") SELECT " + momento +
         ", h.\"Usuário\", h.\"Máquina\", h.\"Arquivo\", h.\"SHA256\", h.\"IE\", h.\"Ref1\", h.\"Resultado\","
         " h.\"NroQURAnterior\", h.\"NroQURNovo\", h.\"Execução\", " + login + " AS \"Login\", " + arquivamento +
         " AS \"Arquivamento\" FROM " + t + " h JOIN e ON e.\"Execução\" = h.\"Execução\" ORDER BY e.primeiro DESC, h.\"Código\"";
}

std::optional<std::int64_t> Chave(const QVariant& v) {
  if (!v.isValid() || v.isNull()) return std::nullopt;
  return v.toLongLong();
}

// `valor(i)` gives the i-th column of the query above.
template <typename Valor>
LinhaHistórico Linha(Valor valor) {
  LinhaHistórico l;
  l.momento = valor(0).toString();
  l.origem.usuário = valor(1).toString();
  l.origem.máquina = valor(2).toString();
  l.origem.arquivo = valor(3).toString();
  l.origem.sha256 = valor(4).toString();
  l.ie = valor(5).toString();
  const QVariant ref1 = valor(6);
  l.ref1 = ref1.typeId() == QMetaType::QDate ? ref1.toDate() : QDate::fromString(ref1.toString().left(10), Qt::ISODate);
  l.resultado = ResultadoDeTexto(valor(7).toString().toStdString()).value_or(ResultadoDocumento::kFalhou);
  l.anterior = Chave(valor(8));
  l.novo = Chave(valor(9));
  l.origem.execução = valor(10).toString();
  l.login = valor(11).toString();
  l.arquivamento = Chave(valor(12));
  return l;
}

}  // namespace

std::string ListaColunasHistórico() {
  std::string lista;
  for (std::string_view c : kColunasHistórico) lista += (lista.empty() ? "" : ", ") + QuoteIdentifier(c);
  return lista;
}

std::vector<QVariant> ValoresHistórico(const OrigemHistórico& origem, const LinhaHistórico& linha) {
  const auto chave = [](const std::optional<std::int64_t>& k) {
    return k ? QVariant(static_cast<qlonglong>(*k)) : QVariant();
  };
  const std::string_view resultado = TextoResultado(linha.resultado);
  return {origem.execução,
          origem.usuário,
          origem.máquina,
          origem.arquivo,
          origem.sha256,
          linha.ie,
          linha.ref1.isValid() ? QVariant(linha.ref1) : QVariant(),
          QString::fromUtf8(resultado.data(), static_cast<int>(resultado.size())),
          chave(linha.anterior),
          chave(linha.novo)};
}

std::vector<LinhaHistórico> LerHistóricoSqlite(Database& db, int execuções) {
  FormaHistórico forma;
  for (const ColumnInfo& c : db.tableColumns(kTabelaHistórico)) forma.login = forma.login || c.name == "Login";
  forma.arquivo = db.hasTable(schema::kArchiveTable);
  Recordset r = db.openQuery(Consulta("h.\"Momento\"", "?", forma), {QVariant(execuções)});
  std::vector<LinhaHistórico> linhas;
  static constexpr std::string_view kNomes[] = {"Momento", "Usuário", "Máquina", "Arquivo", "SHA256", "IE",
                                                 "Ref1", "Resultado", "NroQURAnterior", "NroQURNovo", "Execução",
                                                 "Login", "Arquivamento"};
  for (; !r.eof(); r.moveNext()) {
    linhas.push_back(Linha([&](int i) { return r.value(kNomes[i]); }));
  }
  return linhas;
}

std::vector<LinhaHistórico> LerHistóricoPg(PgConexão& conexão, int execuções, const FormaHistórico& forma) {
  const PgResultado r = conexão.executar(
      Consulta("to_char(h.\"Momento\" AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"')", "$1", forma),
      {QVariant(execuções)}, "ler o histórico de importações");
  std::vector<LinhaHistórico> linhas;
  for (int i = 0; i < r.linhas(); ++i) {
    linhas.push_back(Linha([&](int c) { return r.valor(i, c); }));
  }
  return linhas;
}

}  // namespace orlan
