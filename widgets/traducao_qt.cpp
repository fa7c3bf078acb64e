#include "widgets/traducao_qt.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <memory>

namespace orlan {

bool UsarPortuguêsDoBrasil() {
  const QLocale brasil(QLocale::Portuguese, QLocale::Brazil);
  QLocale::setDefault(brasil);
  auto tradutor = std::make_unique<QTranslator>();
  if (!tradutor->load(brasil, QStringLiteral("qtbase"), QStringLiteral("_"),
                      QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
      !QCoreApplication::installTranslator(tradutor.get())) {
    return false;
  }
  tradutor.release()->setParent(QCoreApplication::instance());
  return true;
}

}  // namespace orlan
