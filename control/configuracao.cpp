#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include "control/configuracao.h"

namespace orlan {

QString ConfiguraçãoUsuário::bancoAtual() const {
  QSettings settings(QStringLiteral("Selmar"), QStringLiteral("Selmar"));
  return settings.value(kChaveBancoAtual, QString()).toString();
}

QString LerCaminhoBancoAtual() { return ConfiguraçãoUsuário().bancoAtual(); }

void GravarCaminhoBancoAtual(const QString& nome) {
  QSettings settings(QStringLiteral("Selmar"), QStringLiteral("Selmar"));
  // QSettings writes a new file each time, with the process's umask: the
  // folder keeps others out from the first byte.
  const QString pasta = QFileInfo(settings.fileName()).absolutePath();
  QDir().mkpath(pasta);
  QFile::setPermissions(pasta, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  settings.setValue(kChaveBancoAtual, nome);
  settings.sync();
  QFile::setPermissions(settings.fileName(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

}  // namespace orlan
