// Opens and releases the control's two databases, one handle per name.
#ifndef ORLAN_CONTROL_DATABASE_OPENER_H_
#define ORLAN_CONTROL_DATABASE_OPENER_H_

#include <QString>

#include <map>
#include <memory>

#include "control/dialogs.h"
#include "database/banco_atual.h"
#include "database/sqlite/database.h"

#ifndef Q_MOC_RUN

namespace orlan {

class DatabaseOpener {
 public:
  // `dialogs` tells the user why a database could not be opened; it is not
  // owned, may be null, and must outlive the opener.
  explicit DatabaseOpener(Dialogs* dialogs) : dialogs_(dialogs) {}

  // The handle of the SQLite file at `path` (the temporary database): the
  // same handle while it is open. A missing file, an empty path or a file
  // that is not a database gives no handle (nullptr); nothing is ever
  // created, and the user is told the path and the reason (title "Atenção!",
  // style 16).
  std::shared_ptr<Database> OpenDatabase(const QString& path);

  // The current database named `nome` (a file's path or a server's URI):
  // the same handle while it is open. When it cannot be opened, nullptr and
  // the same kind of message, telling each reason apart.
  std::shared_ptr<BancoAtual> AbrirBancoAtual(const QString& nome);

  bool IsDatabaseOpen(const QString& path) const;

  // Releases the file so that it can be deleted. Handles still held fail
  // cleanly from then on. Unknown paths are ignored.
  void CloseDatabase(const QString& path);

  // Why the last opening gave no handle.
  const Status& lastError() const { return last_error_; }

 private:
  static QString Key(const QString& path);
  // Tells the user why the database shown as `mostrado` (a file's path as it
  // is, a server's address without its password) could not be opened.
  void avisar(const QString& mostrado);

  Dialogs* dialogs_;
  std::map<QString, std::shared_ptr<Database>> open_;
  std::map<QString, std::shared_ptr<BancoAtual>> atuais_;
  Status last_error_;
};

}  // namespace orlan

#endif  // Q_MOC_RUN

#endif  // ORLAN_CONTROL_DATABASE_OPENER_H_
