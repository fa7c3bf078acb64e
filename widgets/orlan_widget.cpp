#include "widgets/orlan_widget.h"

#include <QEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTreeWidget>

#include "widgets/qt_dialogs.h"

namespace orlan {

namespace {

// Where each constituent control sits, in twips from the top left corner.
struct Geometria {
  int left, top, width, height;
};
constexpr Geometria kLabel1{30, 0, 2475, 285};
constexpr Geometria kTxtArqPre{2520, 0, 6165, 285};
constexpr Geometria kButSelecionarArquivo{8370, 10, 315, 275};
constexpr Geometria kLblReferência{30, 330, 885, 240};
constexpr Geometria kTxtRef{930, 330, 765, 285};
constexpr Geometria kListViewQURs{0, 630, 0, 4155};  // width: the control's
constexpr Geometria kButImportar{7710, 5100, 1245, 345};
constexpr Geometria kCmdFim{8955, 5100, 1245, 345};
// The surface ends with the lower right corner of cmdFim.
constexpr int kLarguraTwips = 10200;
constexpr int kAlturaTwips = 5445;

// A named font with the fallbacks that share its metrics (Liberation Sans and
// Arimo are metric-compatible with Arial; Microsoft Sans Serif is the
// scalable successor of MS Sans Serif), then a condensed sans whose widths
// keep the captions inside their boxes, then any sans-serif.
QFont Fonte(QStringList families, double points, bool bold) {
  families << QStringLiteral("Liberation Sans") << QStringLiteral("Arimo") << QStringLiteral("DejaVu Sans Condensed");
  families.removeDuplicates();
  QFont f;
  f.setFamilies(families);
  f.setStyleHint(QFont::SansSerif);
  f.setPointSizeF(points);
  f.setBold(bold);
  return f;
}

// The surface's own font, which every constituent control shows unless it
// names another.
QFont FonteDoControle() {
  return Fonte({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif")}, 8.25, false);
}

}  // namespace

// Passes every dialog on, after drawing the control's state: the user sees
// the list as the control has it (emptied before the file dialog, say)
// while a modal box waits for an answer.
class OrlanWidget::DiálogosSincronizados : public Dialogs {
 public:
  DiálogosSincronizados(OrlanWidget* widget, Dialogs* inner) : widget_(widget), inner_(inner) {}
  MessageReply showMessage(const MessageRequest& request) override {
    widget_->sincronizar(true);
    return inner_->showMessage(request);
  }
  FileDialogReply openFile(const FileDialogRequest& request) override {
    widget_->sincronizar(true);
    return inner_->openFile(request);
  }

 private:
  OrlanWidget* widget_;
  Dialogs* inner_;
};

OrlanWidget::OrlanWidget(Dialogs* dialogs, QWidget* parent) : QWidget(parent) {
  if (dialogs == nullptr) {
    dialogs_próprios_ = std::make_unique<QtDialogs>(this);
    dialogs = dialogs_próprios_.get();
  }
  dialogs_ = std::make_unique<DiálogosSincronizados>(this, dialogs);
  control_ = std::make_unique<ctlOrlan>(dialogs_.get());
  control_->setOuvinte(this);
  control_->setFocoReferência([this] {
    if (!txt_ref_->isVisible()) return false;
    txt_ref_->setFocus(Qt::OtherFocusReason);
    return true;
  });
  criarControles();
  aplicarGeometria();
  sincronizar(true);
}

OrlanWidget::OrlanWidget(QWidget* parent) : OrlanWidget(nullptr, parent) {}

OrlanWidget::~OrlanWidget() { control_->setOuvinte(nullptr); }

int OrlanWidget::Pixels(int twips, int dpi) {
  // Rounded half away from zero, in integers so that no value lands on a
  // binary fraction.
  const long long n = static_cast<long long>(twips) * dpi;
  return static_cast<int>((n + 720) / 1440);
}

void OrlanWidget::setDpiLógico(int dpi) {
  dpi_fixo_ = dpi;
  aplicarGeometria();
}

int OrlanWidget::dpiLógico() const { return dpi_fixo_ > 0 ? dpi_fixo_ : logicalDpiX(); }

QSize OrlanWidget::sizeHint() const {
  const int dpi = dpiLógico();
  const int width = std::max(kLarguraTwips, kListViewQURs.left + control_->larguraListaTwips());
  // Each edge is rounded on its own, so a control may end a pixel past the
  // rounded extent.
  const QRect children = childrenRect();
  return QSize(std::max(Pixels(width, dpi), children.right() + 1),
               std::max(Pixels(kAlturaTwips, dpi), children.bottom() + 1));
}

void OrlanWidget::criarControles() {
  setFont(FonteDoControle());
  // Created in tab order, so that the focus chain starts right; the labels
  // take no focus and only hold their place in the table.
  cmd_fim_ = new QPushButton(QStringLiteral("&Fechar"), this);
  cmd_fim_->setObjectName(QStringLiteral("cmdFim"));

  but_selecionar_arquivo_ = new QPushButton(QStringLiteral("..."), this);
  but_selecionar_arquivo_->setObjectName(QStringLiteral("butSelecionarArquivo"));
  but_selecionar_arquivo_->setFont(Fonte({QStringLiteral("Arial"), QStringLiteral("Helvetica")}, 9, true));

  txt_arq_pre_ = new QLineEdit(this);
  txt_arq_pre_->setObjectName(QStringLiteral("txtArqPre"));

  txt_ref_ = new QLineEdit(this);
  txt_ref_->setObjectName(QStringLiteral("txtRef"));
  txt_ref_->setInputMask(QStringLiteral("99/9999;_"));
  txt_ref_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  txt_ref_->setFont(FonteDoControle());

  list_view_qurs_ = new QTreeWidget(this);
  list_view_qurs_->setObjectName(QStringLiteral("ListViewQURs"));
  list_view_qurs_->setRootIsDecorated(false);
  list_view_qurs_->setItemsExpandable(false);
  list_view_qurs_->setUniformRowHeights(true);
  list_view_qurs_->setSortingEnabled(false);
  list_view_qurs_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_view_qurs_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_view_qurs_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  // Until the first check run the list has no columns and shows no header.
  list_view_qurs_->setColumnCount(0);
  list_view_qurs_->setHeaderHidden(true);
  // The selection stays visible when the list loses the focus: draw it with
  // the active colours in every state.
  QPalette palette = list_view_qurs_->palette();
  for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText}) {
    palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
  }
  list_view_qurs_->setPalette(palette);

  lbl_referência_ = new QLabel(QStringLiteral("Referência:"), this);
  lbl_referência_->setObjectName(QStringLiteral("LblReferência"));
  label1_ = new QLabel(QStringLiteral("Importar do arquivo pré-formatado:"), this);
  label1_->setObjectName(QStringLiteral("Label1"));

  but_importar_ = new QPushButton(QStringLiteral("Importar"), this);
  but_importar_->setObjectName(QStringLiteral("butImportar"));

  for (QPushButton* b : {cmd_fim_, but_selecionar_arquivo_, but_importar_}) b->setAutoDefault(false);

  QWidget::setTabOrder(cmd_fim_, but_selecionar_arquivo_);
  QWidget::setTabOrder(but_selecionar_arquivo_, txt_arq_pre_);
  QWidget::setTabOrder(txt_arq_pre_, txt_ref_);
  QWidget::setTabOrder(txt_ref_, list_view_qurs_);
  QWidget::setTabOrder(list_view_qurs_, but_importar_);

  connect(cmd_fim_, &QPushButton::clicked, this, [this] { executar([this] { return control_->cmdFim_Click(); }); });
  connect(but_selecionar_arquivo_, &QPushButton::clicked, this,
          [this] { executar([this] { return control_->butSelecionarArquivo_Click(); }); });
  connect(but_importar_, &QPushButton::clicked, this,
          [this] { executar([this] { return control_->butImportar_Click(); }); });
  connect(list_view_qurs_, &QTreeWidget::itemSelectionChanged, this, [this] { seleçãoDoUsuário(); });
  connect(txt_ref_, &QLineEdit::textChanged, this, [this] { referênciaDigitada(); });
}

void OrlanWidget::aplicarGeometria() {
  const int dpi = dpiLógico();
  auto place = [dpi](QWidget* w, const Geometria& g, int width_twips) {
    w->setGeometry(Pixels(g.left, dpi), Pixels(g.top, dpi), Pixels(width_twips, dpi), Pixels(g.height, dpi));
  };
  place(label1_, kLabel1, kLabel1.width);
  place(txt_arq_pre_, kTxtArqPre, kTxtArqPre.width);
  place(but_selecionar_arquivo_, kButSelecionarArquivo, kButSelecionarArquivo.width);
  place(lbl_referência_, kLblReferência, kLblReferência.width);
  place(txt_ref_, kTxtRef, kTxtRef.width);
  place(list_view_qurs_, kListViewQURs, control_->larguraListaTwips());
  place(but_importar_, kButImportar, kButImportar.width);
  place(cmd_fim_, kCmdFim, kCmdFim.width);
  // "..." lies over the right end of the file name box.
  but_selecionar_arquivo_->raise();
  if (colunas_aplicadas_) aplicarColunas();
  setMinimumSize(sizeHint());
  updateGeometry();
}

void OrlanWidget::aplicarColunas() {
  const std::vector<ColunaLista>& colunas = control_->colunas();
  const int dpi = dpiLógico();
  QStringList headers;
  for (const ColunaLista& c : colunas) headers << c.cabeçalho;
  if (list_view_qurs_->columnCount() != static_cast<int>(colunas.size())) {
    list_view_qurs_->setColumnCount(static_cast<int>(colunas.size()));
  }
  list_view_qurs_->setHeaderLabels(headers);
  list_view_qurs_->setHeaderHidden(false);
  QHeaderView* header = list_view_qurs_->header();
  header->setStretchLastSection(false);
  for (int i = 0; i < static_cast<int>(colunas.size()); ++i) {
    const int width = Pixels(colunas[i].larguraTwips, dpi);
    header->setSectionResizeMode(i, QHeaderView::Interactive);
    if (width == 0) {
      // A column of width 0 holds data for the import, not for the eye.
      list_view_qurs_->setColumnHidden(i, true);
    } else {
      list_view_qurs_->setColumnHidden(i, false);
      list_view_qurs_->setColumnWidth(i, width);
    }
  }
  list_view_qurs_->resize(Pixels(control_->larguraListaTwips(), dpi), list_view_qurs_->height());
  colunas_aplicadas_ = true;
}

void OrlanWidget::sincronizar(bool completo) {
  if (control_->colunasCriadas() && !colunas_aplicadas_) {
    aplicarColunas();
    setMinimumSize(sizeHint());
    updateGeometry();
  }

  if (control_->txtArqPre() != arq_pre_desenhado_) {
    // The box is the user's to type in; it follows the control only when the
    // control wrote a new name.
    arq_pre_desenhado_ = control_->txtArqPre();
    txt_arq_pre_->setText(arq_pre_desenhado_);
  }
  but_importar_->setEnabled(control_->butImportarHabilitado());

  const std::vector<ItemLista>& itens = control_->itens();
  const int n = static_cast<int>(itens.size());
  const bool same_size = list_view_qurs_->topLevelItemCount() == n;
  if (same_size && !completo) return;

  const QSignalBlocker blocker(list_view_qurs_);
  bool same_texts = same_size;
  for (int i = 0; same_texts && i < n; ++i) {
    const QTreeWidgetItem* item = list_view_qurs_->topLevelItem(i);
    for (int c = 0; c < 4; ++c) {
      if (item->text(c) != itens[i].colunas[c]) {
        same_texts = false;
        break;
      }
    }
  }
  if (!same_texts) {
    list_view_qurs_->clear();
    QList<QTreeWidgetItem*> items;
    items.reserve(n);
    for (const ItemLista& it : itens) {
      auto* item = new QTreeWidgetItem(
          QStringList{it.colunas[0], it.colunas[1], it.colunas[2], it.colunas[3]});
      item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
      items << item;
    }
    list_view_qurs_->addTopLevelItems(items);
  }
  for (int i = 0; i < n; ++i) {
    QTreeWidgetItem* item = list_view_qurs_->topLevelItem(i);
    if (item->isSelected() != itens[i].selecionado) item->setSelected(itens[i].selecionado);
  }
}

void OrlanWidget::executar(const std::function<Status()>& handler) {
  // The control has no guard against re-entry; a host that keeps the window
  // alive during a run must not start a second action inside the first.
  if (ocupado_) return;
  ocupado_ = true;
  handler();
  ocupado_ = false;
  sincronizar(true);
  emit acaoConcluida();
  // A reference typed while the handler ran reaches the control now.
  if (ref_pendente_) {
    ref_pendente_ = false;
    referênciaDigitada();
  }
}

void OrlanWidget::seleçãoDoUsuário() {
  if (ocupado_) {
    sincronizar(true);
    return;
  }
  const std::vector<ItemLista>& itens = control_->itens();
  const int n = std::min(static_cast<int>(itens.size()), list_view_qurs_->topLevelItemCount());
  for (int i = 0; i < n; ++i) {
    const bool selected = list_view_qurs_->topLevelItem(i)->isSelected();
    if (selected != itens[i].selecionado) control_->selecionarItem(i, selected);
  }
}

void OrlanWidget::referênciaDigitada() {
  if (ocupado_) {
    ref_pendente_ = true;
    return;
  }
  const QString shown = txt_ref_->displayText();
  executar([this, shown] { return control_->txtRef_Alterar(shown); });
}

void OrlanWidget::onEvento(Evento evento) {
  sincronizar(evento != Evento::NoMeio);
  switch (evento) {
    case Evento::Fechar:
      emit Fechar();
      break;
    case Evento::IniciouLeitura:
      emit IniciouLeitura();
      break;
    case Evento::NoMeio:
      emit NoMeio();
      break;
    case Evento::FinalizouLeitura:
      emit FinalizouLeitura();
      break;
    case Evento::IniciouImportação:
      emit IniciouImportacao();
      break;
    case Evento::FinalizouImportação:
      emit FinalizouImportacao();
      break;
  }
}

void OrlanWidget::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (dpi_fixo_ == 0) aplicarGeometria();
}

void OrlanWidget::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::ScreenChangeInternal && dpi_fixo_ == 0) aplicarGeometria();
}

}  // namespace orlan
