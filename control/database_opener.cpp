#include "control/database_opener.h"

#include <QFileInfo>

namespace orlan {

QString DatabaseOpener::Key(const QString& path) { return QFileInfo(path).absoluteFilePath(); }

void DatabaseOpener::avisar(const QString& mostrado) {
  if (dialogs_ == nullptr) return;
  dialogs_->message(QStringLiteral("Não foi possível abrir o banco de dados \"%1\".\r\n\r\n%2")
                        .arg(mostrado, QString::fromStdString(last_error_.ToString())),
                    QStringLiteral("Atenção!"), kEstiloCritico);
}

std::shared_ptr<Database> DatabaseOpener::OpenDatabase(const QString& path) {
  last_error_ = Status::OK();
  if (!path.isEmpty()) {
    auto it = open_.find(Key(path));
    if (it != open_.end() && it->second->isOpen()) return it->second;
  }
  std::shared_ptr<Database> db;
  if (path.isEmpty()) {
    last_error_ = Status(kErrCannotOpen, "Nenhum caminho de banco de dados foi informado.");
  } else if (QFileInfo(path).isDir()) {
    last_error_ = Status(kErrCannotOpen, "\"" + path.toStdString() + "\" é uma pasta, não um banco de dados.");
  } else if (!QFileInfo(path).isFile()) {
    last_error_ = Status(kErrCannotOpen, "O arquivo \"" + path.toStdString() + "\" não existe.");
  } else {
    last_error_ = Database::Open(path.toStdString(), Database::OpenMode::kExisting, &db);
  }
  if (!last_error_.ok()) {
    avisar(path);
    return nullptr;
  }
  open_[Key(path)] = db;
  return db;
}

std::shared_ptr<BancoAtual> DatabaseOpener::AbrirBancoAtual(const QString& nome) {
  last_error_ = Status::OK();
  const QString chave = ÉEndereçoServidor(nome) ? nome : Key(nome);
  if (!nome.isEmpty()) {
    auto it = atuais_.find(chave);
    if (it != atuais_.end() && it->second->aberto()) return it->second;
  }
  std::shared_ptr<BancoAtual> banco;
  last_error_ = orlan::AbrirBancoAtual(nome, &banco);
  if (!last_error_.ok()) {
    avisar(NomeSemSenha(nome));
    return nullptr;
  }
  atuais_[chave] = banco;
  return banco;
}

bool DatabaseOpener::IsDatabaseOpen(const QString& path) const {
  if (path.isEmpty()) return false;
  auto it = open_.find(Key(path));
  return it != open_.end() && it->second->isOpen();
}

void DatabaseOpener::CloseDatabase(const QString& path) {
  if (path.isEmpty()) return;
  auto it = open_.find(Key(path));
  if (it == open_.end()) return;
  it->second->close();
  open_.erase(it);
}

}  // namespace orlan
