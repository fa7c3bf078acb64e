// The fastest plain-SQL copy of a temporary database into an SQLite current
// database, the yardstick the import benchmarks measure the engine against.
#ifndef ORLAN_BENCH_COPIA_SQL_H_
#define ORLAN_BENCH_COPIA_SQL_H_

#include <QElapsedTimer>
#include <QString>

#include <string>

#include "database/identificador.h"
#include "database/schema.h"
#include "database/sqlite/database.h"

namespace orlan::bench {

// The columns of `r`, each quoted and after `prefixo`, comma-separated.
inline std::string Colunas(const schema::RecordDef& r, const std::string& prefixo) {
  std::string out;
  for (const schema::FieldDef& f : r.fields) {
    if (!out.empty()) out += ", ";
    out += prefixo + QuoteIdentifier(f.name);
  }
  return out;
}

// Copies every return of the temporary database at `temp` into `db` (a
// current database that CreateCurrentDatabase made, with no ATTACHed
// database named "t") as one SQL script: the temporary database attached,
// old keys mapped to new ones numbered after the highest key the current
// database ever gave, in the file's key order, one INSERT ... SELECT per
// table, one transaction. Gives back the script's seconds. Throws DbError.
inline double CopiarPorSql(Database& db, const QString& temp) {
  std::string sql = "BEGIN IMMEDIATE;\n";
  const auto mapa = [&](const char* nome, const std::string& chave, const std::string& tabela) {
    sql += "CREATE TEMP TABLE " + std::string(nome) + " (old INTEGER PRIMARY KEY, new INTEGER);\n";
    sql += "INSERT INTO temp." + std::string(nome) + " SELECT x." + chave +
           ", (SELECT max(ifnull((SELECT seq FROM main.sqlite_sequence WHERE name = '" + tabela + "'), 0), "
           "ifnull((SELECT max(" + chave + ") FROM main." + QuoteIdentifier(tabela) + "), 0))) "
           "+ row_number() OVER (ORDER BY x." + chave + ") FROM t." + QuoteIdentifier(tabela) + " x;\n";
  };
  for (const schema::RecordDef& r : schema::Records()) {
    const std::string t = QuoteIdentifier(r.table);
    const std::string campos = Colunas(r, "");
    const std::string origem = Colunas(r, "x.");
    switch (r.parent) {
      case schema::Parent::kFile: {
        std::string valores = origem;
        const std::string data = "x." + QuoteIdentifier("DataCadastro");
        valores.replace(valores.find(data), data.size(), "date('now')");
        sql += "INSERT OR IGNORE INTO main." + t + " (" + campos + ") SELECT " + valores + " FROM t." + t + " x;\n";
        break;
      }
      case schema::Parent::kTaxpayer:
        mapa("mq", "NroQUR", std::string(r.table));
        sql += "INSERT INTO main." + t + " (NroQUR, " + campos + ") SELECT m.new, " + origem + " FROM t." + t +
               " x JOIN temp.mq m ON m.old = x.NroQUR;\n";
        break;
      case schema::Parent::kReturn:
        if (r.table == schema::kOccurrenceTable) {
          mapa("mo", "\"Código\"", std::string(r.table));
          sql += "INSERT INTO main." + t + " (\"Código\", NroQUR, " + campos + ") SELECT o.new, m.new, " + origem +
                 " FROM t." + t + " x JOIN temp.mq m ON m.old = x.NroQUR JOIN temp.mo o ON o.old = x.\"Código\";\n";
        } else {
          sql += "INSERT INTO main." + t + " (NroQUR, " + campos + ") SELECT m.new, " + origem + " FROM t." + t +
                 " x JOIN temp.mq m ON m.old = x.NroQUR;\n";
        }
        break;
      case schema::Parent::kOccurrence:
        sql += "INSERT INTO main." + t + " (\"Código\", " + campos + ") SELECT o.new, " + origem + " FROM t." + t +
               " x JOIN temp.mo o ON o.old = x.\"Código\";\n";
        break;
    }
  }
  sql += "COMMIT;\n";
  db.execute("ATTACH DATABASE ? AS t", {temp});
  QElapsedTimer t;
  t.start();
  db.executeScript(sql);
  return t.nsecsElapsed() / 1e9;
}

}  // namespace orlan::bench

#endif  // ORLAN_BENCH_COPIA_SQL_H_
