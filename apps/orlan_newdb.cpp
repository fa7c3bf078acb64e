// orlan-newdb PATH [--ref-limit YYYY]: creates an empty current database.
#include <QCoreApplication>
#include <QDate>
#include <QRegularExpression>
#include <QStringList>

#include <cstdio>

#include "database/schema.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = QCoreApplication::arguments().mid(1);
  QString path;
  QString limit = QString::number(QDate::currentDate().year());
  for (int i = 0; i < args.size(); ++i) {
    if (args[i] == QLatin1String("--ref-limit") && i + 1 < args.size()) {
      limit = args[++i];
    } else if (args[i].startsWith(QLatin1String("--")) || !path.isEmpty()) {
      std::fprintf(stderr, "usage: orlan-newdb PATH [--ref-limit YYYY]\n");
      return 64;
    } else {
      path = args[i];
    }
  }
  if (path.isEmpty() || !QRegularExpression(QStringLiteral("^\\d{4}$")).match(limit).hasMatch()) {
    std::fprintf(stderr, "usage: orlan-newdb PATH [--ref-limit YYYY]\n");
    return 64;
  }
  const orlan::Status s = orlan::schema::CreateCurrentDatabase(path.toStdString(), limit);
  if (!s.ok()) {
    std::fprintf(stderr, "orlan-newdb: %s\n", s.ToString().c_str());
    return 1;
  }
  std::printf("%s: empty current database, RefLimite %s\n", qPrintable(path), qPrintable(limit));
  return 0;
}
