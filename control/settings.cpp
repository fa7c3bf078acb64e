#include <QSettings>

#include "control/ctl_orlan.h"

namespace orlan {

QString LerCaminhoBancoAtual() {
  QSettings settings(QStringLiteral("Selmar"), QStringLiteral("Selmar"));
  return settings.value(QStringLiteral("DB/DbAtual"), QString()).toString();
}

}  // namespace orlan
