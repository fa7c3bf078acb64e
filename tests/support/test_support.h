// Helpers shared by the tests: temporary folders, isolated settings, real
// database files and the built command-line programs.
#ifndef ORLAN_TESTS_SUPPORT_TEST_SUPPORT_H_
#define ORLAN_TESTS_SUPPORT_TEST_SUPPORT_H_

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

#include "database/sqlite/database.h"

namespace orlan::test {

// Full path of a built program (orlan-import, orlan-newdb, ...).
QString ProgramPath(const QString& name);

// Points the per-user settings of this process (and of the programs it
// starts) at `dir`, so that tests never touch the real ones.
void IsolateSettings(const QString& dir);

// Writes the "DbAtual" setting.
void WriteDbAtual(const QString& path);

// A new current database at `path`, with tblPerola.RefLimite = ref_limit.
std::shared_ptr<Database> CreateCurrentDatabase(const QString& path, const QString& ref_limit = "2099");

// Opens an existing database file; fails the test when it cannot.
std::shared_ptr<Database> OpenExisting(const QString& path);

// Writes `text` (UTF-8) to `path`.
void WriteFile(const QString& path, const QByteArray& bytes);
// The bytes of the file at `path`; a null array when it cannot be read.
QByteArray ReadFile(const QString& path);

// An SQLite file with one table of its own and none of the current
// database's.
void CreateEmptyDatabase(const QString& path);

struct ProcessResult {
  int exit_code = -1;
  bool crashed = false;
  QString out;
  QString err;
};

// Runs a program to its end (at most `timeout_ms`) with no standard input.
ProcessResult Run(const QString& program, const QStringList& args, int timeout_ms = 120000);

// Lines of a ".prf" file, for small files written by hand: a taxpayer with
// only IE and name, a return with only IE, regime and references.
QString LinhaContribuinte(const QString& ie, const QString& name);
QString LinhaQur(const QString& ie, const QString& regime, const QString& ref1, const QString& ref2 = QString());
// A whole file: the PRF line, `body`, and the FIM line with the right count.
QByteArray ArquivoPrf(QStringList body);

// Count of rows of a table.
qlonglong Count(Database& db, const QString& table);

}  // namespace orlan::test

#endif  // ORLAN_TESTS_SUPPORT_TEST_SUPPORT_H_
