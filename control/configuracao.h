// Where the control learns the current database's name.
//
// The host program keeps it in the per-user settings (application "Selmar",
// section "DB", key "DbAtual"); a batch host may give it for one run instead.
#ifndef ORLAN_CONTROL_CONFIGURACAO_H_
#define ORLAN_CONTROL_CONFIGURACAO_H_

#include <QString>

// Qt's moc cannot read identifiers with accents and needs none of these.
#ifndef Q_MOC_RUN

namespace orlan {

// The key of the current database's name in the user's settings (QSettings
// of organization and application "Selmar").
inline constexpr char kChaveBancoAtual[] = "DB/DbAtual";

class FonteConfiguração {
 public:
  virtual ~FonteConfiguração() = default;
  // The current database: an SQLite file's path or a "postgresql://" URI;
  // empty when none is set.
  virtual QString bancoAtual() const = 0;
};

// The user's settings, read with QSettings each time they are asked.
class ConfiguraçãoUsuário : public FonteConfiguração {
 public:
  QString bancoAtual() const override;
};

// A name given for this process alone; the user's settings stay as they are.
class ConfiguraçãoFixa : public FonteConfiguração {
 public:
  explicit ConfiguraçãoFixa(QString banco_atual) : banco_atual_(std::move(banco_atual)) {}
  QString bancoAtual() const override { return banco_atual_; }

 private:
  QString banco_atual_;
};

// The current database's name from the user's settings; empty when missing.
QString LerCaminhoBancoAtual();

// Saves `nome` (which must hold no password) as the user's setting. The
// settings' folder is made readable by the user alone (0700) before the
// write, and the file (0600) after it.
void GravarCaminhoBancoAtual(const QString& nome);

}  // namespace orlan

#endif  // Q_MOC_RUN

#endif  // ORLAN_CONTROL_CONFIGURACAO_H_
