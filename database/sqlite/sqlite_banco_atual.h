// The current database as an SQLite file: the embedded default.
#ifndef ORLAN_DATABASE_SQLITE_SQLITE_BANCO_ATUAL_H_
#define ORLAN_DATABASE_SQLITE_SQLITE_BANCO_ATUAL_H_

#include <memory>

#include "database/banco_atual.h"
#include "database/sqlite/database.h"

#ifndef Q_MOC_RUN

namespace orlan {

// The file's side of AbrirBancoAtual, for a name that is not a server's
// address (and not empty): tells apart a folder, a missing file, a file that
// is not a database, a database without the returns' table and a locked one.
Status AbrirBancoAtualSqlite(const QString& nome, std::shared_ptr<BancoAtual>* out);

class SqliteBancoAtual : public BancoAtual {
 public:
  // `db` must be open; the object shares it.
  explicit SqliteBancoAtual(std::shared_ptr<Database> db) : db_(std::move(db)) {}

  QString nome() const override;
  bool aberto() const override { return db_->isOpen(); }
  void fechar() override { db_->close(); }
  std::optional<QVariant> refLimite() override;
  // Copies run inside SQLite: the temporary file is attached to this
  // connection for the session's life, and each table moves with one
  // INSERT ... SELECT. Attaching needs the connection outside any
  // transaction.
  std::unique_ptr<SessãoCópia> abrirSessão(std::shared_ptr<Database> temp) override;

  bool temHistórico() override;
  std::vector<LinhaHistórico> histórico(int execuções) override;
  bool temArquivo() override;
  void extrairArquivado(std::int64_t arquivamento, const std::string& caminho_temp) override;
  int podarArquivo(const QDate& dia) override;
  ContagemBanco contagem() const override;

  Database& banco() { return *db_; }

 private:
  void gravarRefLimite(const QString& ano) override;

  std::shared_ptr<Database> db_;
};

}  // namespace orlan

#endif  // Q_MOC_RUN

#endif  // ORLAN_DATABASE_SQLITE_SQLITE_BANCO_ATUAL_H_
