#include "widgets/historico_importacoes.h"

#include <QBoxLayout>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTreeWidget>
#include <algorithm>

namespace orlan {

namespace {

QString Chave(const std::optional<std::int64_t>& chave) {
  return chave ? QString::number(static_cast<qlonglong>(*chave)) : QString();
}

// The log keeps the database's UTC time; shown as people here write dates.
QString Momento(const QString& momento) {
  const QDateTime quando = QDateTime::fromString(momento, Qt::ISODate);
  return quando.isValid() ? quando.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")) : momento;
}

QStringList Colunas(const LinhaHistórico& l) {
  const std::string_view resultado = TextoResultado(l.resultado);
  return {Momento(l.momento),
          l.origem.usuário,
          l.origem.máquina,
          l.login,
          l.origem.arquivo,
          l.ie,
          l.ref1.isValid() ? l.ref1.toString(QStringLiteral("MM/yyyy")) : QString(),
          QString::fromUtf8(resultado.data(), static_cast<qsizetype>(resultado.size())),
          Chave(l.anterior),
          Chave(l.novo),
          Chave(l.arquivamento)};
}

}  // namespace

DiálogoHistórico::DiálogoHistórico(const std::vector<LinhaHistórico>& linhas, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Últimas importações"));
  auto* tudo = new QVBoxLayout(this);
  if (linhas.empty()) {
    auto* vazio = new QLabel(QStringLiteral("O banco de dados atual não tem importações registradas (só os bancos "
                                            "criados pelo orlan-newdb registram as importações)."),
                             this);
    vazio->setObjectName(QStringLiteral("semHistorico"));
    vazio->setWordWrap(true);
    tudo->addWidget(vazio);
  } else {
    const int largura = criarTabela(linhas);
    tudo->addWidget(tabela_, 1);
    // As wide as the columns, up to most of the screen; the user may narrow it.
    const QMargins m = tudo->contentsMargins();
    resize(std::min(largura + m.left() + m.right(), screen()->availableGeometry().width() * 9 / 10),
           sizeHint().height());
  }
  auto* botões = new QDialogButtonBox(this);
  restaurar_ = botões->addButton(QStringLiteral("&Restaurar"), QDialogButtonBox::AcceptRole);
  restaurar_->setObjectName(QStringLiteral("restaurar"));
  restaurar_->setEnabled(false);
  botões->addButton(QStringLiteral("&Fechar"), QDialogButtonBox::RejectRole);
  tudo->addWidget(botões);

  connect(botões, &QDialogButtonBox::accepted, this, [this] {
    escolhido_ = selecionado();
    if (escolhido_) accept();
  });
  connect(botões, &QDialogButtonBox::rejected, this, &QDialog::reject);
  if (tabela_ != nullptr) {
    connect(tabela_, &QTreeWidget::itemSelectionChanged, this,
            [this] { restaurar_->setEnabled(selecionado().has_value()); });
  }
}

int DiálogoHistórico::criarTabela(const std::vector<LinhaHistórico>& linhas) {
  tabela_ = new QTreeWidget(this);
  QTreeWidget* tabela = tabela_;
  tabela->setObjectName(QStringLiteral("historico"));
  tabela->setRootIsDecorated(false);
  tabela->setItemsExpandable(false);
  tabela->setUniformRowHeights(true);
  tabela->setAlternatingRowColors(true);
  tabela->setSelectionMode(QAbstractItemView::SingleSelection);
  tabela->setSelectionBehavior(QAbstractItemView::SelectRows);
  tabela->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tabela->setHeaderLabels({QStringLiteral("Momento (UTC)"), QStringLiteral("Usuário"), QStringLiteral("Máquina"),
                           QStringLiteral("Login"), QStringLiteral("Arquivo"), QStringLiteral("IE"),
                           QStringLiteral("Referência"), QStringLiteral("Resultado"), QStringLiteral("NroQUR anterior"),
                           QStringLiteral("NroQUR novo"), QStringLiteral("Restaurável")});
  QList<QTreeWidgetItem*> itens;
  for (const LinhaHistórico& l : linhas) {
    auto* item = new QTreeWidgetItem(Colunas(l));
    if (!l.origem.sha256.isEmpty()) item->setToolTip(4, QStringLiteral("SHA-256: ") + l.origem.sha256);
    itens << item;
    arquivamentos_.push_back(l.arquivamento);
  }
  tabela->addTopLevelItems(itens);
  int largura = 2 * tabela->frameWidth() + tabela->verticalScrollBar()->sizeHint().width();
  for (int c = 0; c < tabela->columnCount(); ++c) {
    tabela->resizeColumnToContents(c);
    largura += tabela->columnWidth(c);
  }
  return largura;
}

std::optional<std::int64_t> DiálogoHistórico::selecionado() const {
  if (tabela_ == nullptr) return std::nullopt;
  const QList<QTreeWidgetItem*> escolhidos = tabela_->selectedItems();
  if (escolhidos.size() != 1) return std::nullopt;
  const int linha = tabela_->indexOfTopLevelItem(escolhidos.front());
  if (linha < 0 || linha >= static_cast<int>(arquivamentos_.size())) return std::nullopt;
  return arquivamentos_[static_cast<size_t>(linha)];
}

}  // namespace orlan
