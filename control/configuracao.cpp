#include <QSettings>

#include "control/configuracao.h"

namespace orlan {

QString ConfiguraçãoUsuário::bancoAtual() const {
  QSettings settings(QStringLiteral("Selmar"), QStringLiteral("Selmar"));
  return settings.value(QStringLiteral("DB/DbAtual"), QString()).toString();
}

QString LerCaminhoBancoAtual() { return ConfiguraçãoUsuário().bancoAtual(); }

}  // namespace orlan
