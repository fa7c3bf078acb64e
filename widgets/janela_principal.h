// The desktop host's main window: the import dialog as the tax program holds
// it. It closes on Fechar; its title names the current database; its status
// bar shows the progress of the control's work, then what the list or the
// import came to (how many returns the current database's year limit hides,
// why a list is empty); its menu "Banco de dados" chooses (a file or a
// PostgreSQL server) or creates the current database, changes its year
// limit, and lists its last imports, from which a replaced return can be
// restored as an import of it would store it. A change of database keeps the
// window's size and its list, filled again under the new database.
//
// Every control action ends with the status bar telling the state it left,
// so that no progress or count of an earlier moment stays behind.
#ifndef ORLAN_WIDGETS_JANELA_PRINCIPAL_H_
#define ORLAN_WIDGETS_JANELA_PRINCIPAL_H_

#include <QElapsedTimer>
#include <QMainWindow>
#include <QString>

#include <cstdint>
#include <memory>

// moc reads only ASCII identifiers; the control's headers use accented ones.
#ifndef Q_MOC_RUN
#include "control/dialogs.h"
#endif

class QLabel;
class QProgressBar;

namespace orlan {

class OrlanWidget;

class JanelaPrincipal : public QMainWindow {
 public:
  // `dialogs` answers the control's messages and file dialogs; not owned, it
  // must outlive the window. `pasta_componente`: the control's folder, empty
  // for its default. `banco_da_sessão`: the current database named on the
  // command line, password included (the setting keeps it without); empty:
  // the setting.
  JanelaPrincipal(Dialogs* dialogs, const QString& pasta_componente, QString banco_da_sessão,
                  QWidget* parent = nullptr);
  ~JanelaPrincipal() override;

  OrlanWidget* widget() const { return widget_; }

 private:
  class DiálogosComProgresso;
  enum class Importação { kNenhuma, kEmCurso, kConcluída };

  void criarMenu();
  void criarBarraDeStatus();
  void ligarWidget();

  void iniciar(const QString& text);
  void passo();
  void mostrarProgresso();
  // After every action: the progress goes, the state the action left is told.
  void mostrarEstado();
  QString textoDoEstado() const;
  void mostrarBancoAtual();
  void manterVivo();

  // The menu's items. Those that choose or create return true when the
  // control now names a current database; `trocar`: the control is told at
  // once (false while one of its own actions asks, which goes on by itself).
  bool escolherBanco(bool trocar);
  bool criarBanco(bool trocar);
  void mudarAnoLimite();
  void mostrarHistórico();
  // Fills the list with archived return `arquivamento` and imports it through
  // the widget's Importar, with its question before a replacement.
  void restaurar(std::int64_t arquivamento);
  // "..." found no current database: choose or create one, or neither.
  bool oferecerBanco();
  void usarBanco(const QString& nome);
  QString nomeDoBanco() const;

  QString banco_da_sessão_;
  std::unique_ptr<DiálogosComProgresso> dialogs_;
  OrlanWidget* widget_ = nullptr;
  QLabel* mensagem_ = nullptr;
  QProgressBar* barra_ = nullptr;
  QLabel* passos_label_ = nullptr;
  QElapsedTimer relógio_;
  Importação importação_ = Importação::kNenhuma;
  bool verificou_ = false;    // the action in progress ran a check
  bool restaurando_ = false;  // the list is being filled from the archive, not from a file
};

}  // namespace orlan

#endif  // ORLAN_WIDGETS_JANELA_PRINCIPAL_H_
