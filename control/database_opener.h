// Opens and releases database files for the control, one handle per path.
#ifndef ORLAN_CONTROL_DATABASE_OPENER_H_
#define ORLAN_CONTROL_DATABASE_OPENER_H_

#include <QString>

#include <map>
#include <memory>

#include "control/dialogs.h"
#include "database/database.h"

namespace orlan {

class DatabaseOpener {
 public:
  // `dialogs` tells the user why a file could not be opened; it is not owned,
  // may be null, and must outlive the opener.
  explicit DatabaseOpener(Dialogs* dialogs) : dialogs_(dialogs) {}

  // The handle of the database at `path`: the same handle while it is open.
  // A missing file, an empty path or a file that is not a database gives no
  // handle (nullptr); nothing is ever created, and the user is told the path
  // and the reason (title "Atenção!", style 16).
  std::shared_ptr<Database> OpenDatabase(const QString& path);

  bool IsDatabaseOpen(const QString& path) const;

  // Releases the file so that it can be deleted. Handles still held fail
  // cleanly from then on. Unknown paths are ignored.
  void CloseDatabase(const QString& path);

  // Why the last OpenDatabase gave no handle.
  const Status& lastError() const { return last_error_; }

 private:
  static QString Key(const QString& path);

  Dialogs* dialogs_;
  std::map<QString, std::shared_ptr<Database>> open_;
  Status last_error_;
};

}  // namespace orlan

#endif  // ORLAN_CONTROL_DATABASE_OPENER_H_
