// What the fault tests check after every fault: the current database is
// sound (integrity_check, foreign_key_check), every return in it is whole
// (each detail and register table holds as many of its rows as the return's
// source document has), no return is there twice, and the returns that were
// there before the fault are all still there, whole.
#ifndef ORLAN_TESTS_TEST_RELIABILITY_APOIO_H_
#define ORLAN_TESTS_TEST_RELIABILITY_APOIO_H_

#include <QFile>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>
#include <memory>
#include <string>

#include "checker/cons_pre.h"
#include "checker/gerador_prf.h"
#include "control/dialogs.h"
#include "database/identificador.h"
#include "database/pg/pg_conexao.h"
#include "database/schema.h"
#include "database/sqlite/database.h"
#include "database/sqlite/recordset.h"

namespace orlan::test {

// Per return ("IE|yyyy-mm-dd" of Ref1): how many header rows share that key,
// then the row count of each detail and register table, in schema order; -1
// for a table the database lacks.
using Contagens = QMap<QString, QVector<qlonglong>>;

// The rows of `sql` on either engine, each value by its column's place.
using Linhas = std::function<QList<QVariantList>(const std::string&)>;

inline Linhas LinhasDe(Database& db) {
  return [&db](const std::string& sql) {
    QList<QVariantList> linhas;
    for (Recordset r = db.openQuery(sql); !r.eof(); r.moveNext()) linhas.append({r.value("c0"), r.value("c1"), r.value("c2")});
    return linhas;
  };
}

inline Linhas LinhasDe(PgConexão& pg) {
  return [&pg](const std::string& sql) {
    const PgResultado r = pg.executar(sql);
    QList<QVariantList> linhas;
    for (int i = 0; i < r.linhas(); ++i) linhas.append({r.valor(i, 0), r.valor(i, 1), r.valor(i, 2)});
    return linhas;
  };
}

// The same SQL on both engines: columns c0 (IE), c1 (Ref1's day), c2 (a count).
inline Contagens ContarDeclarações(const Linhas& linhas) {
  Contagens c;
  const std::string de = "SELECT q.\"IE\" AS c0, substr(CAST(q.\"Ref1\" AS TEXT), 1, 10) AS c1, count(";
  for (const QVariantList& l : linhas(de + "*) AS c2 FROM \"tblQUR\" q GROUP BY 1, 2")) {
    c[l[0].toString() + QLatin1Char('|') + l[1].toString()] = {l[2].toLongLong()};
  }
  for (const schema::RecordDef& d : schema::Records()) {
    if (d.parent != schema::Parent::kReturn && d.parent != schema::Parent::kOccurrence) continue;
    const std::string t = QuoteIdentifier(d.table);
    const std::string junção = d.parent == schema::Parent::kReturn
                                   ? "x.\"NroQUR\") AS c2 FROM \"tblQUR\" q LEFT JOIN " + t + " x ON x.\"NroQUR\" = q.\"NroQUR\""
                                   : "x.\"Código\") AS c2 FROM \"tblQUR\" q LEFT JOIN \"tblOcorrências\" o ON o.\"NroQUR\" = "
                                     "q.\"NroQUR\" LEFT JOIN " + t + " x ON x.\"Código\" = o.\"Código\"";
    try {
      for (const QVariantList& l : linhas(de + junção + " GROUP BY 1, 2")) {
        c[l[0].toString() + QLatin1Char('|') + l[1].toString()].push_back(l[2].toLongLong());
      }
    } catch (const DbError&) {
      for (auto& v : c) v.push_back(-1);  // a table the database lacks
    }
  }
  return c;
}

inline Contagens ContarDeclarações(const QString& uri_servidor) {
  std::unique_ptr<PgConexão> pg;
  const Status s = PgConexão::Abrir(uri_servidor, &pg);
  if (!s.ok()) qFatal("opening %s: %s", qPrintable(uri_servidor), s.ToString().c_str());
  return ContarDeclarações(LinhasDe(*pg));
}

// The counts of the temporary database a check of `arquivo` writes (at
// `destino`); fails the test when the file is not accepted.
inline Contagens ContagensDoArquivo(const QString& arquivo, const QString& destino) {
  QFile::remove(destino);
  ConsPre verificador(nullptr, destino);
  verificador.SetInputFile(arquivo);
  if (verificador.RunCheck() != kVerificaçãoAceita) qFatal("%s was not accepted", qPrintable(arquivo));
  std::shared_ptr<Database> db;
  if (!Database::Open(destino.toStdString(), Database::OpenMode::kExisting, &db).ok()) qFatal("reopening");
  return ContarDeclarações(LinhasDe(*db));
}

// A generated valid file of `contribuintes` taxpayers, `meses` months from
// `mês_inicial`/2006 and `linhas` detail lines per return.
inline void GerarArquivo(const QString& caminho, int contribuintes, int meses, int mês_inicial, int linhas,
                         std::uint64_t semente) {
  prf::OpçõesGerador o;
  o.contribuintes = contribuintes;
  o.meses = meses;
  o.mês_inicial = mês_inicial;
  o.linhas = linhas;
  o.semente = semente;
  const Status s = prf::GerarArquivoPrf(caminho.toStdString(), o);
  if (!s.ok()) qFatal("generating %s: %s", qPrintable(caminho), s.ToString().c_str());
}

// Empty when the counts `c` of a current database hold up; else every
// breach. `fontes`: the counts of every document that may have been imported;
// `anteriores`: the returns that must all still be there, as they were.
// Tables the database lacks (-1) are not compared.
inline QString Comparar(const Contagens& c, const Contagens& fontes, const Contagens& anteriores) {
  QStringList erros;
  const auto iguais = [](const QVector<qlonglong>& a, const QVector<qlonglong>& b) {
    if (a.size() != b.size()) return false;
    for (int i = 0; i < a.size(); ++i) {
      if (a[i] >= 0 && b[i] >= 0 && a[i] != b[i]) return false;
    }
    return true;
  };
  const auto texto = [](const QVector<qlonglong>& v) {
    QStringList l;
    for (qlonglong n : v) l << QString::number(n);
    return l.join(',');
  };
  for (auto it = c.begin(); it != c.end(); ++it) {
    if (it.value().value(0) != 1) erros << QStringLiteral("%1 stored %2 times").arg(it.key()).arg(it.value()[0]);
    if (!fontes.contains(it.key())) {
      erros << it.key() + " comes from no source";
    } else if (!iguais(it.value(), fontes[it.key()])) {
      erros << it.key() + " is not whole: " + texto(it.value()) + " instead of " + texto(fontes[it.key()]);
    }
  }
  for (auto it = anteriores.begin(); it != anteriores.end(); ++it) {
    if (!c.contains(it.key())) {
      erros << it.key() + " was lost";
    } else if (!iguais(c[it.key()], it.value())) {
      erros << it.key() + " changed: " + texto(c[it.key()]) + " instead of " + texto(it.value());
    }
  }
  return erros.join(QStringLiteral("; "));
}

// The archive against the log, for a database that keeps it: every
// replacement's old return archived once, and no archived return without
// its replacement's line.
inline QString ArquivoIncoerente(const std::function<qlonglong(const std::string&)>& número) {
  QStringList erros;
  const std::string substituição = "h.\"Resultado\" IN ('substituído', 'restaurado')";
  const qlonglong sem_arquivo = número(
      "SELECT count(*) FROM \"tblHistóricoImportação\" h WHERE " + substituição +
      " AND h.\"NroQURAnterior\" IS NOT NULL AND (SELECT count(*) FROM \"tblArquivamento\" a WHERE a.\"NroQUR\" = h.\"NroQURAnterior\") <> 1");
  if (sem_arquivo > 0) erros << QStringLiteral("%1 replaced returns not archived once").arg(sem_arquivo);
  const qlonglong sem_linha = número(
      "SELECT count(*) FROM \"tblArquivamento\" a WHERE NOT EXISTS (SELECT 1 FROM \"tblHistóricoImportação\" h WHERE " +
      substituição + " AND h.\"NroQURAnterior\" = a.\"NroQUR\")");
  if (sem_linha > 0) erros << QStringLiteral("%1 archived returns without their replacement's line").arg(sem_linha);
  return erros.join(QStringLiteral("; "));
}

// For a database every return of which came from one file: each archived
// return whole, with as many rows in each table as the live return of its
// IE and month.
inline QString ArquivoIncompleto(const std::function<qlonglong(const std::string&)>& número) {
  QStringList erros;
  const std::string vivo = " JOIN \"tblQUR\" q ON q.\"NroQUR\" = ";
  const std::string mesmo = " WHERE q.\"IE\" = a.\"IE\" AND q.\"Ref1\" = a.\"Ref1\"";
  for (const schema::RecordDef& r : schema::Records()) {
    if (r.parent == schema::Parent::kFile) continue;
    const std::string t = QuoteIdentifier(r.table);
    std::string ao_vivo;
    switch (r.parent) {
      case schema::Parent::kTaxpayer:
        ao_vivo = "SELECT 1";
        break;
      case schema::Parent::kReturn:
        ao_vivo = "SELECT count(*) FROM " + t + " x" + vivo + "x.\"NroQUR\"" + mesmo;
        break;
      default:
        ao_vivo = "SELECT count(*) FROM " + t + " x JOIN \"tblOcorrências\" o ON o.\"Código\" = x.\"Código\"" + vivo +
                  "o.\"NroQUR\"" + mesmo;
        break;
    }
    const qlonglong partidas = número(
        "SELECT count(*) FROM \"tblArquivamento\" a WHERE EXISTS (SELECT 1 FROM \"tblQUR\" q" + mesmo +
        ") AND (SELECT count(*) FROM " + QuoteIdentifier(schema::ArchivedTable(r.table)) +
        " x WHERE x.\"Arquivamento\" = a.\"Código\") <> (" + ao_vivo + ")");
    if (partidas > 0) erros << QStringLiteral("%1 archived returns not whole in %2").arg(partidas).arg(r.table.data());
  }
  return erros.join(QStringLiteral("; "));
}

// Empty when the import log of a current database holds up with its
// returns: each return has one log line that stored it, and every line that
// stored a return now gone names one that a later line replaced. A line left
// by a document that was rolled back breaks the second rule. `número` runs a
// query on the database and gives its number.
inline QString HistóricoIncoerente(const std::function<qlonglong(const std::string&)>& número) {
  QStringList erros;
  const qlonglong sem_linha = número(
      "SELECT count(*) FROM \"tblQUR\" q WHERE (SELECT count(*) FROM \"tblHistóricoImportação\" h "
      "WHERE h.\"NroQURNovo\" = q.\"NroQUR\") <> 1");
  if (sem_linha > 0) erros << QStringLiteral("%1 returns without exactly one log line").arg(sem_linha);
  const qlonglong órfãs = número(
      "SELECT count(*) FROM \"tblHistóricoImportação\" h WHERE h.\"NroQURNovo\" IS NOT NULL AND NOT EXISTS "
      "(SELECT 1 FROM \"tblQUR\" q WHERE q.\"NroQUR\" = h.\"NroQURNovo\") AND NOT EXISTS (SELECT 1 FROM "
      "\"tblHistóricoImportação\" d WHERE d.\"NroQURAnterior\" = h.\"NroQURNovo\" AND d.\"Código\" > h.\"Código\")");
  if (órfãs > 0) erros << QStringLiteral("%1 log lines name returns nobody replaced and that are not there").arg(órfãs);
  return erros.join(QStringLiteral("; "));
}

// Comparar for the SQLite file at `caminho`, after integrity_check and
// foreign_key_check. `*atual` gets the database's counts.
inline QString Violações(const QString& caminho, const Contagens& fontes, const Contagens& anteriores,
                         Contagens* atual = nullptr) {
  std::shared_ptr<Database> db;
  const Status aberto = Database::Open(caminho.toStdString(), Database::OpenMode::kExisting, &db);
  if (!aberto.ok()) return QString::fromStdString("cannot open: " + aberto.ToString());
  QStringList erros;
  try {
    const QString integridade = db->scalar("PRAGMA integrity_check").toString();
    if (integridade != QLatin1String("ok")) erros << "integrity_check: " + integridade;
    const QVariant órfã = db->scalar("PRAGMA foreign_key_check");
    if (órfã.isValid()) erros << "foreign_key_check: a row of " + órfã.toString() + " has no parent";
    const Contagens c = ContarDeclarações(LinhasDe(*db));
    const QString comparação = Comparar(c, fontes, anteriores);
    if (!comparação.isEmpty()) erros << comparação;
    if (db->hasTable("tblHistóricoImportação")) {
      const auto número = [&](const std::string& sql) { return db->scalar(sql).toLongLong(); };
      const QString log = HistóricoIncoerente(número);
      if (!log.isEmpty()) erros << log;
      // A database some test took a table from is checked without its archive.
      bool inteiro = db->hasTable(schema::kArchiveTable);
      for (const schema::RecordDef& r : schema::Records()) inteiro = inteiro && db->hasTable(r.table);
      const QString arquivo = inteiro ? ArquivoIncoerente(número) : QString();
      if (!arquivo.isEmpty()) erros << arquivo;
    }
    if (atual != nullptr) *atual = c;
  } catch (const DbError& e) {
    erros << QString::fromStdString(e.status().ToString());
  }
  return erros.join(QStringLiteral("; "));
}

// The texts of the messages in `mensagens`, one per line, title first.
inline QString Textos(const std::vector<MessageRequest>& mensagens) {
  QStringList l;
  for (const MessageRequest& m : mensagens) l << QStringLiteral("[%1|%2] %3").arg(m.title).arg(m.style).arg(m.text);
  return l.join(QLatin1Char('\n'));
}

}  // namespace orlan::test

#endif  // ORLAN_TESTS_TEST_RELIABILITY_APOIO_H_
