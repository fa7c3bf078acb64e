#include "support/comparacao.h"

#include <QDate>
#include <QDateTime>

#include <algorithm>

#include "database/identificador.h"
#include "database/sqlite/recordset.h"

namespace orlan::test {

namespace {

std::string Q(std::string_view nome) { return QuoteIdentifier(nome); }

}  // namespace

using schema::FieldType;

QString Canônico(FieldType tipo, const QVariant& v) {
  if (!v.isValid() || v.isNull()) return QStringLiteral("<Nulo>");
  switch (tipo) {
    case FieldType::kText:
    case FieldType::kIE:
      return QLatin1Char('\'') + v.toString() + QLatin1Char('\'');
    case FieldType::kDate:
    case FieldType::kMonth:
      return (v.typeId() == QMetaType::QDateTime ? v.toDateTime().date() : v.toDate()).toString(Qt::ISODate);
    case FieldType::kDateTime: {
      const QDateTime dt = v.typeId() == QMetaType::QDate ? v.toDate().startOfDay() : v.toDateTime();
      return dt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    }
    case FieldType::kNumber:
      return QString::number(v.toDouble(), 'g', 17);
    case FieldType::kBoolean:
      return v.toBool() ? QStringLiteral("sim") : QStringLiteral("não");
  }
  return v.toString();
}

std::vector<Consulta> Consultas() {
  std::vector<Consulta> todas;
  const std::string q = Q(schema::kReturnTable);
  const std::string o = Q(schema::kOccurrenceTable);
  const std::string nro = Q(schema::kReturnKey);
  const std::string cód = Q(schema::kOccurrenceKey);
  for (const schema::RecordDef& r : schema::Records()) {
    Consulta c;
    c.tabela = QString::fromUtf8(r.table.data(), static_cast<int>(r.table.size()));
    std::string campos;
    int n = 0;
    const auto coluna = [&](const std::string& expr, FieldType tipo) {
      campos += (campos.empty() ? "" : ", ") + expr + " AS c" + std::to_string(n++);
      c.tipos.push_back(tipo);
    };
    std::string de = " FROM " + Q(r.table) + " x";
    switch (r.parent) {
      case schema::Parent::kFile:
      case schema::Parent::kTaxpayer:
        break;
      case schema::Parent::kReturn:
        coluna("q." + Q("IE"), FieldType::kIE);
        coluna("q." + Q("Ref1"), FieldType::kDate);
        de += " JOIN " + q + " q ON q." + nro + " = x." + nro;
        break;
      case schema::Parent::kOccurrence:
        coluna("q." + Q("IE"), FieldType::kIE);
        coluna("q." + Q("Ref1"), FieldType::kDate);
        coluna("(SELECT count(*) FROM " + o + " o2 WHERE o2." + nro + " = o." + nro + " AND o2." + cód + " <= o." + cód + ")",
               FieldType::kNumber);
        de += " JOIN " + o + " o ON o." + cód + " = x." + cód + " JOIN " + q + " q ON q." + nro + " = o." + nro;
        break;
    }
    for (const schema::FieldDef& f : r.fields) {
      if (f.name != "DataCadastro") coluna("x." + Q(f.name), f.type);
    }
    c.sql = "SELECT " + campos + de;
    todas.push_back(std::move(c));
  }
  return todas;
}

QStringList LinhasTemp(Database& db, const Consulta& c) {
  QStringList linhas;
  Recordset r = db.openQuery(c.sql);
  for (; !r.eof(); r.moveNext()) {
    QStringList valores;
    for (size_t i = 0; i < c.tipos.size(); ++i) valores << Canônico(c.tipos[i], r.value("c" + std::to_string(i)));
    linhas << valores.join(QLatin1Char('|'));
  }
  linhas.sort();
  return linhas;
}

QStringList LinhasPg(PgConexão& pg, const Consulta& c) {
  QStringList linhas;
  const PgResultado r = pg.executar(c.sql);
  for (int l = 0; l < r.linhas(); ++l) {
    QStringList valores;
    for (size_t i = 0; i < c.tipos.size(); ++i) valores << Canônico(c.tipos[i], r.valor(l, static_cast<int>(i)));
    linhas << valores.join(QLatin1Char('|'));
  }
  linhas.sort();
  return linhas;
}

QString Diferenças(Database& temp, const std::function<QStringList(const Consulta&)>& atual) {
  QString erros;
  for (const Consulta& c : Consultas()) {
    const QStringList a = LinhasTemp(temp, c);
    const QStringList b = atual(c);
    if (a == b) continue;
    erros += QStringLiteral("%1: %2 rows in the file, %3 in the current database").arg(c.tabela).arg(a.size()).arg(b.size());
    for (int i = 0; i < std::min(a.size(), b.size()); ++i) {
      if (a[i] != b[i]) {
        erros += QStringLiteral(", first difference:\n  file:   %1\n  current: %2").arg(a[i], b[i]);
        break;
      }
    }
    erros += QLatin1Char('\n');
  }
  return erros;
}

void ManterSó(Database& temp, const std::string& manter) {
  const std::string fora = "NroQUR IN (SELECT NroQUR FROM tblQUR WHERE NOT (" + manter + "))";
  const auto onde = [&](schema::Parent pai) -> std::string {
    switch (pai) {
      case schema::Parent::kFile:
        return "IE NOT IN (SELECT IE FROM tblQUR)";
      case schema::Parent::kTaxpayer:
        return "NOT (" + manter + ")";
      case schema::Parent::kReturn:
        return fora;
      case schema::Parent::kOccurrence:
        break;
    }
    return "\"Código\" IN (SELECT \"Código\" FROM \"tblOcorrências\" WHERE " + fora + ")";
  };
  // Children first: the schema lists each table after its parent.
  std::string sql = "BEGIN;\n";
  const std::span<const schema::RecordDef> registros = schema::Records();
  for (auto r = registros.rbegin(); r != registros.rend(); ++r) {
    sql += "DELETE FROM " + Q(r->table) + " WHERE " + onde(r->parent) + ";\n";
  }
  temp.executeScript(sql + "COMMIT;");
}

}  // namespace orlan::test
