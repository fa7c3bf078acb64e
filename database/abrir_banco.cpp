// The one file that knows both engines: a name in the form of a server's
// address (ÉEndereçoServidor) goes to PostgreSQL, any other name is an
// SQLite file's path. Each engine's folder knows nothing of the other.
#include <QString>

#include <memory>
#include <string>

#include "database/banco_atual.h"
#include "database/pg/pg_banco_atual.h"
#include "database/pg/pg_endereco.h"
#include "database/pg/pg_schema.h"
#include "database/schema.h"
#include "database/sqlite/sqlite_banco_atual.h"
#include "database/sqlite/sqlite_schema.h"

namespace orlan {

QString NomeSemSenha(const QString& nome) { return ÉEndereçoServidor(nome) ? PgNomeSemSenha(nome) : nome; }

Status AbrirBancoAtual(const QString& nome, std::shared_ptr<BancoAtual>* out) {
  out->reset();
  if (nome.isEmpty()) {
    return Status(kErrCannotOpen, "Nenhum banco de dados atual foi informado (a configuração \"DbAtual\" está vazia).");
  }
  if (ÉEndereçoServidor(nome)) return AbrirBancoAtualPostgres(nome, out);
  return AbrirBancoAtualSqlite(nome, out);
}

namespace schema {

Status CreateCurrentDatabase(const std::string& path, const QString& ref_limit) {
  // A server's database already exists: only its tables are made.
  const QString nome = QString::fromStdString(path);
  if (ÉEndereçoServidor(nome)) return CriarBancoAtualPostgres(nome, ref_limit);
  return CriarBancoAtualSqlite(path, ref_limit);
}

Status AddArchive(const std::string& name, ArchiveUpgrade* done) {
  *done = ArchiveUpgrade();
  const QString nome = QString::fromStdString(name);
  if (ÉEndereçoServidor(nome)) return AcrescentarArquivoPostgres(nome, done);
  return AcrescentarArquivoSqlite(name, done);
}

}  // namespace schema

}  // namespace orlan
