#include "control/database_opener.h"

#include <QFileInfo>

namespace orlan {

QString DatabaseOpener::Key(const QString& path) { return QFileInfo(path).absoluteFilePath(); }

std::shared_ptr<Database> DatabaseOpener::OpenDatabase(const QString& path) {
  last_error_ = Status::OK();
  if (!path.isEmpty()) {
    auto it = open_.find(Key(path));
    if (it != open_.end() && it->second->isOpen()) return it->second;
  }
  std::shared_ptr<Database> db;
  if (path.isEmpty()) {
    last_error_ = Status(kErrCannotOpen, "nenhum caminho de banco de dados foi informado");
  } else if (!QFileInfo(path).isFile()) {
    last_error_ = Status(kErrCannotOpen, "o arquivo não existe");
  } else {
    last_error_ = Database::Open(path.toStdString(), Database::OpenMode::kExisting, &db);
  }
  if (!last_error_.ok()) {
    if (dialogs_ != nullptr) {
      dialogs_->message(QStringLiteral("Não foi possível abrir o banco de dados \"%1\".\r\n\r\n%2")
                            .arg(path, QString::fromStdString(last_error_.ToString())),
                        QStringLiteral("Atenção!"), kEstiloCritico);
    }
    return nullptr;
  }
  open_[Key(path)] = db;
  return db;
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
