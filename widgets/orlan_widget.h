// The import dialog as a Qt widget: draws the state of one ctlOrlan and
// calls its handlers.
//
// The widget owns the control. Qt layouts place the constituent controls
// with the platform style's margins and spacing, so that no caption is cut
// whatever the font and its DPI; the default size keeps the dialog's
// original proportions. After every handler it redraws the control's
// state (file name, Importar enabled, list items and selection); while a
// handler runs it also refreshes on each event, so that a host that repaints
// on NoMeio shows the list as it is. The control's six events come out as
// the Qt signals below, in the same order and synchronously: a slot runs
// before the control takes its next step.
//
// Failures inside a handler are shown to the user by the control itself,
// through the dialogs; the widget stays usable afterwards.
#ifndef ORLAN_WIDGETS_ORLAN_WIDGET_H_
#define ORLAN_WIDGETS_ORLAN_WIDGET_H_

#include <QWidget>
#include <functional>
#include <memory>

// moc reads only ASCII identifiers; the control's headers use accented ones.
#ifndef Q_MOC_RUN
#include "control/ctl_orlan.h"
#endif

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace orlan {

class QtDialogs;

class OrlanWidget : public QWidget, private OuvinteOrlan {
  Q_OBJECT

 public:
  // `dialogs` answers the control's messages and file dialogs; it is not
  // owned and must outlive the widget. Null: message boxes and the file
  // dialog of QtDialogs, owned by the widget.
  explicit OrlanWidget(Dialogs* dialogs = nullptr, QWidget* parent = nullptr);
  // With the Qt dialogs, as forms made in Qt Designer create it (uic calls
  // the class with its parent only).
  explicit OrlanWidget(QWidget* parent);
  ~OrlanWidget() override;

  ctlOrlan& control() { return *control_; }
  const ctlOrlan& control() const { return *control_; }

  // Twips to pixels at `dpi` dots per logical inch, rounded to the nearest.
  static int Pixels(int twips, int dpi);

  // The layout's own size, or the dialog's original size in twips at the
  // widget's logical DPI when that is larger.
  QSize sizeHint() const override;

  // The host named another current database, or changed the one named: the
  // control takes it (ctlOrlan::trocarBancoAtual) and the list is drawn
  // again. Ends with acaoConcluida, as a handler does.
  void trocarBancoAtual();

  // Brings back the archived return `arquivamento`
  // (ctlOrlan::restaurarArquivado) and, when the list shows it, imports it
  // as a click of Importar does, with the same questions. Ends with
  // acaoConcluida, as a handler does.
  void restaurarArquivado(std::int64_t arquivamento);

 signals:
  void Fechar();
  void IniciouLeitura();
  void NoMeio();
  void FinalizouLeitura();
  void IniciouImportacao();
  void FinalizouImportacao();
  // A handler called by the widget has returned (after its events), with
  // the drawn state up to date. Hosts use it to end their progress display
  // when a run ended early.
  void acaoConcluida();
  // An import waits for returns another user is writing (true), or the
  // wait ended (false); ctlOrlan::TextoAguardando() says it in words.
  void aguardandoOutroUsuario(bool aguardando);

 protected:
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void onEvento(Evento evento) override;
  void onAguardando(bool aguardando) override { emit aguardandoOutroUsuario(aguardando); }

  void criarControles();
  void criarLayout();
  // Column widths from the control's twips at the logical DPI; the list is
  // kept wide enough for them and the vertical scroll bar.
  void aplicarColunas();
  // Draws the control's state. `completo` compares every item; otherwise the
  // list is redrawn only when its size changed (cheap enough for every event).
  void sincronizar(bool completo);
  void executar(const std::function<Status()>& handler);
  void seleçãoDoUsuário();
  void referênciaDigitada();
  // A click on a heading sorts by that column; a second click on the same
  // one, the other way.
  void cabeçalhoClicado(int coluna);

  class DiálogosSincronizados;

  std::unique_ptr<QtDialogs> dialogs_próprios_;
  std::unique_ptr<DiálogosSincronizados> dialogs_;
  std::unique_ptr<ctlOrlan> control_;
  bool ocupado_ = false;
  bool ref_pendente_ = false;
  bool colunas_aplicadas_ = false;
  int coluna_ordem_ = -1;
  bool crescente_ = true;
  QString arq_pre_desenhado_;

  QLabel* label1_ = nullptr;
  QLineEdit* txt_arq_pre_ = nullptr;
  QPushButton* but_selecionar_arquivo_ = nullptr;
  QLabel* lbl_referência_ = nullptr;
  QLineEdit* txt_ref_ = nullptr;
  QTreeWidget* list_view_qurs_ = nullptr;
  QPushButton* but_importar_ = nullptr;
  QPushButton* cmd_fim_ = nullptr;
};

}  // namespace orlan

#endif  // ORLAN_WIDGETS_ORLAN_WIDGET_H_
