#include "support/test_support.h"

#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTest>

#include "database/identificador.h"
#include "database/schema.h"

namespace orlan::test {

QString ProgramPath(const QString& name) { return QStringLiteral(ORLAN_BIN_DIR "/") + name; }

void IsolateSettings(const QString& dir) {
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir);
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir);
  qputenv("XDG_CONFIG_HOME", dir.toUtf8());
}

void WriteDbAtual(const QString& path) {
  QSettings settings(QStringLiteral("Selmar"), QStringLiteral("Selmar"));
  settings.setValue(QStringLiteral("DB/DbAtual"), path);
  settings.sync();
}

std::shared_ptr<Database> CreateCurrentDatabase(const QString& path, const QString& ref_limit) {
  const Status s = schema::CreateCurrentDatabase(path.toStdString(), ref_limit);
  if (!s.ok()) qFatal("creating %s: %s", qPrintable(path), s.ToString().c_str());
  return OpenExisting(path);
}

void CreateEmptyDatabase(const QString& path) {
  std::shared_ptr<Database> db;
  const Status s = Database::Open(path.toStdString(), Database::OpenMode::kCreate, &db);
  if (!s.ok()) qFatal("creating %s: %s", qPrintable(path), s.ToString().c_str());
  db->executeScript("CREATE TABLE agenda (nome TEXT)");
}

std::shared_ptr<Database> OpenExisting(const QString& path) {
  std::shared_ptr<Database> db;
  const Status s = Database::Open(path.toStdString(), Database::OpenMode::kExisting, &db);
  if (!s.ok()) qFatal("opening %s: %s", qPrintable(path), s.ToString().c_str());
  return db;
}

void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) qFatal("cannot write %s", qPrintable(path));
  f.write(bytes);
}

QByteArray ReadFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

ProcessResult Run(const QString& program, const QStringList& args, int timeout_ms) {
  QProcess p;
  p.setStandardInputFile(QProcess::nullDevice());
  p.start(program, args);
  ProcessResult r;
  if (!p.waitForStarted()) {
    r.err = QStringLiteral("could not start ") + program;
    return r;
  }
  p.waitForFinished(timeout_ms);
  r.crashed = p.exitStatus() != QProcess::NormalExit;
  r.exit_code = p.exitCode();
  r.out = QString::fromUtf8(p.readAllStandardOutput());
  r.err = QString::fromUtf8(p.readAllStandardError());
  return r;
}

QString LinhaContribuinte(const QString& ie, const QString& name) {
  QStringList f{ie, name};
  while (f.size() < 18) f << QString();
  return QStringLiteral("CONTRIBUINTE|") + f.join('|');
}

QString LinhaQur(const QString& ie, const QString& regime, const QString& ref1, const QString& ref2) {
  QStringList f{ie, QStringLiteral("01"), regime, ref1, ref2};
  while (f.size() < 22) f << QString();
  return QStringLiteral("QUR|") + f.join('|');
}

QByteArray ArquivoPrf(QStringList body) {
  body.prepend(QStringLiteral("PRF|1|testes"));
  body << QStringLiteral("FIM|%1").arg(body.size() + 1);
  return (body.join('\n') + '\n').toUtf8();
}

qlonglong Count(Database& db, const QString& table) {
  return db.scalar("SELECT count(*) FROM " + QuoteIdentifier(table.toStdString())).toLongLong();
}

}  // namespace orlan::test
