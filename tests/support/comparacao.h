// Comparing a current database with the temporary database it was imported
// from, table by table and field by field, on either backend: each row is
// written as text both engines give alike, with the header's IE and Ref1 in
// place of the keys each database gave.
#ifndef ORLAN_TESTS_SUPPORT_COMPARACAO_H_
#define ORLAN_TESTS_SUPPORT_COMPARACAO_H_

#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <string>
#include <vector>

#include "database/pg/pg_conexao.h"
#include "database/schema.h"
#include "database/sqlite/database.h"

namespace orlan::test {

// A value as text that both databases give alike for the same stored value.
QString Canônico(schema::FieldType tipo, const QVariant& v);

// A query that both engines read alike (quoted names, no parameters), and
// the type of each column it gives.
struct Consulta {
  QString tabela;
  std::string sql;
  std::vector<schema::FieldType> tipos;
};

// One query per table: every row, keys replaced by the header's IE and Ref1
// (and, for registers, the occurrence's place in its return). DataCadastro
// is left out: the copy writes the day of the import there.
std::vector<Consulta> Consultas();

// The sorted rows of `c` in an SQLite database, or on a server.
QStringList LinhasTemp(Database& db, const Consulta& c);
QStringList LinhasPg(PgConexão& pg, const Consulta& c);

// Empty when the current database (read through `atual`) holds every row of
// every table of the temporary database and nothing else; otherwise what
// differs.
QString Diferenças(Database& temp, const std::function<QStringList(const Consulta&)>& atual);
inline QString Diferenças(Database& temp, PgConexão& pg) {
  return Diferenças(temp, [&pg](const Consulta& c) { return LinhasPg(pg, c); });
}
inline QString Diferenças(Database& temp, Database& atual) {
  return Diferenças(temp, [&atual](const Consulta& c) { return LinhasTemp(atual, c); });
}

// Cuts the temporary database `temp` down to the returns that `manter`, an
// SQL condition on tblQUR's columns, keeps, with their rows and taxpayers:
// what a current database holds after importing just those.
void ManterSó(Database& temp, const std::string& manter);

}  // namespace orlan::test

#endif  // ORLAN_TESTS_SUPPORT_COMPARACAO_H_
