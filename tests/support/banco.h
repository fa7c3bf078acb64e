// A current database of either engine for the tests, made as orlan-newdb
// makes it, with what the cases need to read and change it directly.
#ifndef ORLAN_TESTS_SUPPORT_BANCO_H_
#define ORLAN_TESTS_SUPPORT_BANCO_H_

#include <QString>
#include <QStringList>

#include <memory>
#include <string>

#include "database/banco_atual.h"
#include "database/pg/pg_conexao.h"
#include "database/schema.h"
#include "database/sqlite/database.h"
#include "database/sqlite/recordset.h"
#include "database/sqlite/sqlite_banco_atual.h"
#include "support/comparacao.h"
#include "support/pg_support.h"
#include "support/test_support.h"

namespace orlan::test {

// One current database of either engine, with what the cases need to read
// and change it directly.
class Banco {
 public:
  virtual ~Banco() = default;
  std::shared_ptr<BancoAtual> atual;
  virtual QStringList linhas(const Consulta& c) = 0;
  // A statement both engines read alike (quoted names, no parameters).
  virtual void executar(const std::string& sql) = 0;
  virtual qlonglong número(const std::string& sql) = 0;
  // The column t of every row, as text.
  virtual QStringList textos(const std::string& sql) = 0;
  // A row whose parent is missing (a server never keeps one).
  virtual bool órfã() { return false; }
  // Empty when the database holds every row of `temp` and nothing else.
  QString diferenças(Database& temp) {
    const QString d = Diferenças(temp, [this](const Consulta& c) { return linhas(c); });
    return órfã() ? d + QStringLiteral("a row points at a missing parent") : d;
  }
  qlonglong commits() { return atual->contagem().commits; }
};

class BancoSqlite : public Banco {
 public:
  explicit BancoSqlite(const QString& caminho) : db_(CreateCurrentDatabase(caminho)) {
    atual = std::make_shared<SqliteBancoAtual>(db_);
  }
  QStringList linhas(const Consulta& c) override {
    return LinhasTemp(*OpenExisting(QString::fromStdString(db_->path())), c);
  }
  // On the run's own connection: inside its transaction while it runs.
  void executar(const std::string& sql) override { db_->executeScript(sql); }
  qlonglong número(const std::string& sql) override { return db_->scalar(sql).toLongLong(); }
  QStringList textos(const std::string& sql) override {
    QStringList t;
    for (Recordset r = db_->openQuery(sql); !r.eof(); r.moveNext()) t << r.value("t").toString();
    return t;
  }
  bool órfã() override { return db_->scalar("PRAGMA foreign_key_check").isValid(); }

 private:
  std::shared_ptr<Database> db_;
};

class BancoPg : public Banco {
 public:
  BancoPg() {
    const QString uri = PgNovoBanco();
    const Status criado = schema::CreateCurrentDatabase(uri.toStdString(), QStringLiteral("2099"));
    if (!criado.ok()) qFatal("%s", criado.ToString().c_str());
    const Status aberto = AbrirBancoAtual(uri, &atual);
    if (!aberto.ok()) qFatal("%s", aberto.ToString().c_str());
    if (!PgConexão::Abrir(uri, &pg_).ok()) qFatal("connecting to %s", qPrintable(uri));
  }
  QStringList linhas(const Consulta& c) override { return LinhasPg(*pg_, c); }
  void executar(const std::string& sql) override { pg_->executarScript(sql); }
  qlonglong número(const std::string& sql) override { return pg_->executar(sql).valor(0, 0).toLongLong(); }
  QStringList textos(const std::string& sql) override {
    const PgResultado r = pg_->executar(sql);
    QStringList t;
    for (int i = 0; i < r.linhas(); ++i) t << r.valor(i, 0).toString();
    return t;
  }

 private:
  std::unique_ptr<PgConexão> pg_;
};

// A new, empty current database: on the test server, or the file `caminho`.
inline std::unique_ptr<Banco> NovoBanco(bool servidor, const QString& caminho) {
  if (servidor) return std::make_unique<BancoPg>();
  return std::make_unique<BancoSqlite>(caminho);
}

// `texto` as an SQL string literal both engines read alike.
inline std::string Literal(const QString& texto) {
  QString l = texto;
  return "'" + l.replace(QLatin1Char('\''), QStringLiteral("''")).toStdString() + "'";
}

}  // namespace orlan::test

#endif  // ORLAN_TESTS_SUPPORT_BANCO_H_
