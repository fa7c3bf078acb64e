#include "widgets/orlan_widget.h"

#include <QBoxLayout>
#include <QEvent>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyle>
#include <QTreeWidget>
#include <algorithm>

#include "widgets/qt_dialogs.h"

namespace orlan {

namespace {

// The dialog's original surface, in twips: the default size.
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

// "..." sits over the right end of the file name box, as narrow as its
// caption allows, and keeps the box's text from running under it.
class BotãoNaCaixa : public QPushButton {
 public:
  BotãoNaCaixa(const QString& text, QLineEdit* caixa, QWidget* parent) : QPushButton(text, parent), caixa_(caixa) {}

  QSize sizeHint() const override {
    ensurePolished();
    const int frame = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
    const QFontMetrics fm(font());
    return QSize(fm.horizontalAdvance(text()) + 2 * (frame + 2), fm.height() + 2 * frame);
  }
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QPushButton::resizeEvent(event);
    caixa_->setTextMargins(0, 0, width(), 0);
  }

 private:
  QLineEdit* caixa_;
};

// The reference box: as wide as a month typed in it, no wider.
class CaixaReferência : public QLineEdit {
 public:
  using QLineEdit::QLineEdit;

  QSize sizeHint() const override {
    // QLineEdit's own hint is 17 "x" wide; keep its frame and margins and
    // put the mask's text in place of those.
    const QSize base = QLineEdit::sizeHint();
    const QFontMetrics fm(font());
    const int texto =
        std::max(fm.horizontalAdvance(QStringLiteral("00/0000")), fm.horizontalAdvance(QStringLiteral("__/____")));
    const int cursor = style()->pixelMetric(QStyle::PM_TextCursorWidth, nullptr, this);
    return QSize(base.width() - 17 * fm.horizontalAdvance(QLatin1Char('x')) + texto + cursor, base.height());
  }
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  // A click in an empty box starts the month at its first digit, wherever
  // the click fell among the mask's blanks.
  void mousePressEvent(QMouseEvent* event) override {
    const QString texto = displayText();
    const bool vazia = std::none_of(texto.begin(), texto.end(), [](QChar c) { return c.isDigit(); });
    QLineEdit::mousePressEvent(event);
    if (vazia && !hasSelectedText()) setCursorPosition(0);
  }
};

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
  criarLayout();
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

QSize OrlanWidget::sizeHint() const {
  const int dpi = logicalDpiX();
  return QWidget::sizeHint().expandedTo(QSize(Pixels(kLarguraTwips, dpi), Pixels(kAlturaTwips, dpi)));
}

void OrlanWidget::criarControles() {
  setFont(FonteDoControle());
  // Created in tab order, so that the focus chain starts right; the labels
  // take no focus and only hold their place in the table.
  cmd_fim_ = new QPushButton(QStringLiteral("&Fechar"), this);
  cmd_fim_->setObjectName(QStringLiteral("cmdFim"));

  // The box exists before "..." (which keeps the box's text clear of
  // itself); the tab order below puts "..." first.
  txt_arq_pre_ = new QLineEdit(this);
  txt_arq_pre_->setObjectName(QStringLiteral("txtArqPre"));

  but_selecionar_arquivo_ = new BotãoNaCaixa(QStringLiteral("..."), txt_arq_pre_, this);
  but_selecionar_arquivo_->setObjectName(QStringLiteral("butSelecionarArquivo"));
  but_selecionar_arquivo_->setFont(Fonte({QStringLiteral("Arial"), QStringLiteral("Helvetica")}, 9, true));

  txt_ref_ = new CaixaReferência(this);
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
  connect(list_view_qurs_->header(), &QHeaderView::sectionClicked, this,
          [this](int coluna) { cabeçalhoClicado(coluna); });
}

void OrlanWidget::criarLayout() {
  // One cell holds the file name box and, over its right end, "...".
  auto* caixa = new QGridLayout;
  caixa->setSpacing(0);
  caixa->addWidget(txt_arq_pre_, 0, 0);
  caixa->addWidget(but_selecionar_arquivo_, 0, 0, Qt::AlignRight);
  but_selecionar_arquivo_->raise();

  auto* arquivo = new QHBoxLayout;
  arquivo->addWidget(label1_);
  arquivo->addLayout(caixa, 1);

  auto* referência = new QHBoxLayout;
  referência->addWidget(lbl_referência_);
  referência->addWidget(txt_ref_);
  referência->addStretch(1);

  auto* botões = new QHBoxLayout;
  botões->addStretch(1);
  botões->addWidget(but_importar_);
  botões->addWidget(cmd_fim_);

  auto* tudo = new QVBoxLayout(this);
  tudo->addLayout(arquivo);
  tudo->addLayout(referência);
  tudo->addWidget(list_view_qurs_, 1);
  tudo->addLayout(botões);
}

void OrlanWidget::aplicarColunas() {
  const std::vector<ColunaLista>& colunas = control_->colunas();
  const int dpi = logicalDpiX();
  QStringList headers;
  for (const ColunaLista& c : colunas) headers << c.cabeçalho;
  if (list_view_qurs_->columnCount() != static_cast<int>(colunas.size())) {
    list_view_qurs_->setColumnCount(static_cast<int>(colunas.size()));
  }
  list_view_qurs_->setHeaderLabels(headers);
  list_view_qurs_->setHeaderHidden(false);
  QHeaderView* header = list_view_qurs_->header();
  header->setSectionsClickable(true);
  header->setSortIndicatorShown(coluna_ordem_ >= 0);
  // The last visible column takes what the columns leave of the list's
  // width, so the list never scrolls sideways while the columns fit.
  header->setStretchLastSection(true);
  int largura = 0;
  for (int i = 0; i < static_cast<int>(colunas.size()); ++i) {
    const int width = Pixels(colunas[i].larguraTwips, dpi);
    header->setSectionResizeMode(i, QHeaderView::Interactive);
    if (width == 0) {
      // A column of width 0 holds data for the import, not for the eye.
      list_view_qurs_->setColumnHidden(i, true);
    } else {
      list_view_qurs_->setColumnHidden(i, false);
      list_view_qurs_->setColumnWidth(i, width);
      largura += width;
    }
  }
  // Room for every column beside the vertical scroll bar, shown or not.
  const int moldura = 2 * list_view_qurs_->frameWidth();
  list_view_qurs_->setMinimumWidth(largura + moldura + list_view_qurs_->verticalScrollBar()->sizeHint().width());
  colunas_aplicadas_ = true;
}

void OrlanWidget::sincronizar(bool completo) {
  if (control_->colunasCriadas() && !colunas_aplicadas_) aplicarColunas();

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
      auto* item = new QTreeWidgetItem(QStringList{it.colunas[0], it.colunas[1], it.colunas[2], it.colunas[3]});
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

void OrlanWidget::restaurarArquivado(std::int64_t arquivamento) {
  executar([this, arquivamento] {
    const Status s = control_->restaurarArquivado(arquivamento);
    // A failure was told by the control; an empty list (a reference typed,
    // the year limit) says why by itself.
    const int n = static_cast<int>(control_->itens().size());
    if (!s.ok() || n == 0) return s;
    for (int i = 0; i < n; ++i) control_->selecionarItem(i, true);
    return control_->butImportar_Click();
  });
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

void OrlanWidget::cabeçalhoClicado(int coluna) {
  const bool crescente = coluna == coluna_ordem_ ? !crescente_ : true;
  executar([this, coluna, crescente] {
    const Status s = control_->ordenarLista(coluna, crescente);
    if (s.ok()) {
      coluna_ordem_ = coluna;
      crescente_ = crescente;
    }
    return s;
  });
  QHeaderView* header = list_view_qurs_->header();
  header->setSortIndicatorShown(coluna_ordem_ >= 0);
  if (coluna_ordem_ >= 0) header->setSortIndicator(coluna_ordem_, crescente_ ? Qt::AscendingOrder : Qt::DescendingOrder);
}

void OrlanWidget::trocarBancoAtual() {
  executar([this] { return control_->trocarBancoAtual(); });
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
  if (colunas_aplicadas_) aplicarColunas();
}

void OrlanWidget::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::ScreenChangeInternal && colunas_aplicadas_) aplicarColunas();
}

}  // namespace orlan
