// Choosing the current database: an SQLite file or the address of a
// PostgreSQL server, opened once before it is taken, and saved without any
// password.
#ifndef ORLAN_WIDGETS_ESCOLHA_BANCO_H_
#define ORLAN_WIDGETS_ESCOLHA_BANCO_H_

#include <QDialog>
#include <QString>

#include "database/status.h"

class QLineEdit;
class QRadioButton;

namespace orlan {

// `nome` as it may be saved and shown: an address without its password, a
// file's path made absolute.
QString NomeParaGuardar(const QString& nome);

// Opens `nome` as the current database and lets it go: OK when it can be
// the current database, otherwise why not.
Status VerificarBancoAtual(const QString& nome);

// The message for a name that was not taken, with the reason (no password).
QString TextoBancoNãoTrocado(const QString& nome, const Status& motivo);

// Saves NomeParaGuardar(nome) as the user's "DbAtual" setting.
void GravarBancoAtual(const QString& nome);

// "Arquivo" (with "..." to browse) or "Servidor PostgreSQL", filled with the
// current setting. OK checks the choice with VerificarBancoAtual; when that
// fails, a message gives the reason and the dialog stays open. The dialog
// saves nothing: the host does, once it is accepted.
class DiálogoBancoAtual : public QDialog {
 public:
  explicit DiálogoBancoAtual(QWidget* parent = nullptr);

  // The name chosen, password included.
  QString nome() const;

 private:
  void procurarArquivo();
  void verificar();

  QRadioButton* por_arquivo_;
  QRadioButton* por_servidor_;
  QLineEdit* arquivo_;
  QLineEdit* endereço_;
};

}  // namespace orlan

#endif  // ORLAN_WIDGETS_ESCOLHA_BANCO_H_
