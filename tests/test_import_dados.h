// Data for the import tests, the import fault test's child program and the
// import benchmark: a temporary database written with bound inserts, whose
// every row can be told from every other, and a check that a current
// database holds each of its returns exactly as the temporary database does.
#ifndef ORLAN_TESTS_TEST_IMPORT_DADOS_H_
#define ORLAN_TESTS_TEST_IMPORT_DADOS_H_

#include <QDate>
#include <QDateTime>
#include <QString>

#include <string>
#include <vector>

#include "control/lista.h"
#include "database/identificador.h"
#include "database/schema.h"
#include "database/sqlite/database.h"
#include "database/sqlite/recordset.h"
#include "database/sqlite/sqlite_schema.h"

namespace orlan::test {

struct Geração {
  int documentos = 2;
  int contribuintes = 0;  // 0: one taxpayer per document
  int primeiroNroQUR = 1;
  int primeiroCódigo = 1;  // Código of the file's first occurrence
  QString prefixoIE = QStringLiteral("11");
  int ano = 2006;
  // Rows of each document, per table; registers per occurrence, per register.
  int pagamentos = 2;
  int cfops = 3;
  int interUFs = 2;
  int zfm = 1;
  int ocorrências = 2;
  int registros = 2;
  int dipam = 1;
  int exportação = 1;
};

inline QString IEContribuinte(const Geração& g, int contribuinte) {
  return g.prefixoIE + QStringLiteral("%1").arg(contribuinte, 6, 10, QLatin1Char('0'));
}

inline int ContribuinteDo(const Geração& g, int doc) { return g.contribuintes > 0 ? doc % g.contribuintes : doc; }

// Document `doc` (0-based) has the Ref1 of its taxpayer's n-th month.
inline QDate Ref1Do(const Geração& g, int doc) {
  const int mês = g.contribuintes > 0 ? doc / g.contribuintes : 0;
  return QDate(g.ano + mês / 12, mês % 12 + 1, 20);
}

// A value of `f` that no other row has: `marca` names the row.
inline QVariant ValorGerado(const schema::FieldDef& f, int marca) {
  switch (f.type) {
    case schema::FieldType::kText: {
      const QString t = QString::fromUtf8(f.name.data(), static_cast<int>(f.name.size())).left(3) +
                        QString::number(marca);
      return f.length > 0 ? t.right(f.length) : t;
    }
    case schema::FieldType::kIE:
      return QString::number(marca).right(14);
    case schema::FieldType::kDate:
      return QDate(2000, 1, 1).addDays(marca % 9000);
    case schema::FieldType::kDateTime:
      return QDateTime(QDate(2001, 1, 1).addDays(marca % 9000), QTime(marca % 24, 30, 15), Qt::UTC);
    case schema::FieldType::kMonth:
      return QDate(2000 + marca % 20, marca % 12 + 1, 20);
    case schema::FieldType::kNumber:
      return marca + 0.25;
    case schema::FieldType::kBoolean:
      return marca % 2;
  }
  return QVariant();
}

inline std::string Inserção(const schema::RecordDef& r, const std::vector<std::string>& chaves) {
  std::string nomes, marcas;
  auto add = [&](std::string_view n) {
    if (!nomes.empty()) {
      nomes += ", ";
      marcas += ", ";
    }
    nomes += QuoteIdentifier(n);
    marcas += "?";
  };
  for (const std::string& k : chaves) add(k);
  for (const schema::FieldDef& f : r.fields) add(f.name);
  return "INSERT INTO " + QuoteIdentifier(r.table) + " (" + nomes + ") VALUES (" + marcas + ")";
}

// Adds one row of `r` with `chaves` (key values first) and generated fields.
inline void Inserir(Database& db, const schema::RecordDef& r, const std::vector<std::string>& nomes_chave,
                    Params chaves, int marca) {
  for (const schema::FieldDef& f : r.fields) chaves.push_back(ValorGerado(f, marca));
  db.execute(Inserção(r, nomes_chave), chaves);
}

// Fills an empty file at `db` with the temporary tables and g.documentos
// returns, in one transaction. Document i has NroQUR g.primeiroNroQUR + i.
inline void GerarBancoTemp(Database& db, const Geração& g) {
  schema::CreateTemporaryTables(db);
  Transaction tx(db);
  const auto R = [](std::string_view table) { return *schema::FindTable(table); };
  const int contribuintes = g.contribuintes > 0 ? g.contribuintes : g.documentos;
  for (int c = 0; c < contribuintes; ++c) {
    Params v;
    for (const schema::FieldDef& f : R("tblContribuinte").fields) {
      v.push_back(f.name == "IE" ? QVariant(IEContribuinte(g, c)) : ValorGerado(f, 7000000 + c));
    }
    db.execute(Inserção(R("tblContribuinte"), {}), v);
  }
  int código = g.primeiroCódigo;
  int marca = 1;
  const std::vector<std::string> kNro = {"NroQUR"};
  for (int d = 0; d < g.documentos; ++d) {
    const int nro = g.primeiroNroQUR + d;
    Params v{nro};
    for (const schema::FieldDef& f : R("tblQUR").fields) {
      if (f.name == "IE") {
        v.push_back(IEContribuinte(g, ContribuinteDo(g, d)));
      } else if (f.name == "Ref1") {
        v.push_back(Ref1Do(g, d));
      } else {
        v.push_back(ValorGerado(f, 5000000 + d));
      }
    }
    db.execute(Inserção(R("tblQUR"), kNro), v);
    const auto detalhe = [&](std::string_view tabela, int n) {
      for (int i = 0; i < n; ++i) Inserir(db, R(tabela), kNro, {nro}, marca++);
    };
    detalhe("tblPagamento", g.pagamentos);
    detalhe("tblDetalhesCFOPs", g.cfops);
    detalhe("tblDetalhesInterUFs", g.interUFs);
    detalhe("tblZFM_ALC", g.zfm);
    for (int o = 0; o < g.ocorrências; ++o) {
      const int cód = código++;
      Inserir(db, R("tblOcorrências"), {"Código", "NroQUR"}, {cód, nro}, marca++);
      for (std::string_view reg : {"tblIEsRemetente", "tblIESubstituido", "tblIESubstituto", "tblRecibosCredito"}) {
        for (int i = 0; i < g.registros; ++i) Inserir(db, R(reg), {"Código"}, {cód}, marca++);
      }
    }
    detalhe("tblDIPAM", g.dipam);
    detalhe("tblRegistroExportação", g.exportação);
  }
  tx.commit();
  schema::CreateTemporaryIndexes(db);
}

// The list as the control fills it: IE, name, reference and the key.
inline std::vector<ItemLista> ListaDe(Database& temp, bool selecionados = true) {
  std::vector<ItemLista> itens;
  Recordset r = temp.openQuery("SELECT IE, Ref1, NroQUR FROM tblQUR ORDER BY NroQUR");
  while (!r.eof()) {
    ItemLista item;
    item.colunas = {r.value("IE").toString(), QString(), r.value("Ref1").toDate().toString("MM/yyyy"),
                    r.value("NroQUR").toString()};
    item.selecionado = selecionados;
    item.chave = r.value("NroQUR").toInt();
    itens.push_back(item);
    r.moveNext();
  }
  return itens;
}

// Empty when every return of the current database `atual` (with the
// temporary database attached as "t") has exactly the header, detail and
// register rows of the file's return of the same IE and Ref1, and no IE and
// Ref1 has two returns; otherwise what differs.
inline QString DiferençasCópia(Database& atual) {
  QString erros;
  const auto linha = [&](const std::string& sql) { return atual.scalar(sql).toLongLong(); };
  if (const qlonglong n = linha("SELECT count(*) FROM (SELECT IE, Ref1 FROM main.tblQUR GROUP BY IE, Ref1 "
                                "HAVING count(*) > 1)")) {
    erros += QStringLiteral("%1 returns stored twice; ").arg(n);
  }
  const auto comparar = [&](const QString& tabela, const std::string& a, const std::string& b) {
    const std::string conta = "SELECT count(*) FROM (";
    const qlonglong na = linha(conta + a + ")");
    const qlonglong nb = linha(conta + b + ")");
    const qlonglong so_a = linha(conta + a + " EXCEPT " + b + ")");
    const qlonglong so_b = linha(conta + b + " EXCEPT " + a + ")");
    if (na != nb || so_a != 0 || so_b != 0) {
      erros += QStringLiteral("%1: %2 rows in the current database, %3 in the file, %4 and %5 unmatched; ")
                   .arg(tabela)
                   .arg(na)
                   .arg(nb)
                   .arg(so_a)
                   .arg(so_b);
    }
  };
  const std::string importado =
      " WHERE EXISTS (SELECT 1 FROM main.tblQUR m WHERE m.IE = q.IE AND m.Ref1 = q.Ref1)";
  for (const schema::RecordDef& r : schema::Records()) {
    std::string campos;
    for (const schema::FieldDef& f : r.fields) campos += ", x." + QuoteIdentifier(f.name);
    const std::string t = QuoteIdentifier(r.table);
    std::string de_a, de_b, onde_b;
    switch (r.parent) {
      case schema::Parent::kFile:
        continue;
      case schema::Parent::kTaxpayer:
        de_a = "SELECT x.IE" + campos + " FROM main." + t + " x";
        de_b = "SELECT x.IE" + campos + " FROM t." + t + " x JOIN t.tblQUR q ON q.NroQUR = x.NroQUR" + importado;
        break;
      case schema::Parent::kReturn:
        de_a = "SELECT q.IE, q.Ref1" + campos + " FROM main." + t + " x JOIN main.tblQUR q ON q.NroQUR = x.NroQUR";
        de_b = "SELECT q.IE, q.Ref1" + campos + " FROM t." + t + " x JOIN t.tblQUR q ON q.NroQUR = x.NroQUR" + importado;
        break;
      case schema::Parent::kOccurrence:
        de_a = "SELECT q.IE, q.Ref1, o.\"CódSubItem\", o.\"Ocorrência\"" + campos + " FROM main." + t +
               " x JOIN main.\"tblOcorrências\" o ON o.\"Código\" = x.\"Código\""
               " JOIN main.tblQUR q ON q.NroQUR = o.NroQUR";
        de_b = "SELECT q.IE, q.Ref1, o.\"CódSubItem\", o.\"Ocorrência\"" + campos + " FROM t." + t +
               " x JOIN t.\"tblOcorrências\" o ON o.\"Código\" = x.\"Código\""
               " JOIN t.tblQUR q ON q.NroQUR = o.NroQUR" + importado;
        break;
    }
    comparar(QString::fromUtf8(r.table.data(), static_cast<int>(r.table.size())), de_a, de_b);
  }
  return erros;
}

}  // namespace orlan::test

#endif  // ORLAN_TESTS_TEST_IMPORT_DADOS_H_
