#include "database/historico.h"

#include <optional>

#include "database/identificador.h"
#include "database/schema.h"

namespace orlan {

namespace {

std::optional<std::int64_t> Chave(const QVariant& v) {
  if (!v.isValid() || v.isNull()) return std::nullopt;
  return v.toLongLong();
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

// The runs are told apart by their identifier and ordered by their first
// line, so that two clerks' runs that overlap still come out whole. A log
// made before logins and the archive gives Nulls for them.
std::string ConsultaHistórico(const std::string& momento, const std::string& limite, const FormaHistórico& forma) {
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

LinhaHistórico LinhaDoHistórico(const std::function<QVariant(int)>& valor) {
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

}  // namespace orlan
