#include "widgets/janela_principal.h"

#include <QAction>
#include <QCoreApplication>
#include <QDate>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <algorithm>

#include "control/configuracao.h"
#include "control/ctl_orlan.h"
#include "database/banco_atual.h"
#include "database/schema.h"
#include "widgets/escolha_banco.h"
#include "widgets/historico_importacoes.h"
#include "widgets/orlan_widget.h"

namespace orlan {

namespace {

const QString kTítuloBanco = QStringLiteral("Banco de dados atual");

// How many of the latest runs "Últimas importações" lists.
constexpr int kExecuçõesListadas = 20;

QString TextoResumo(const QString& como, const ResumoImportação& r) {
  return QStringLiteral("%1: %2 importado(s), %3 substituído(s), %4 ignorado(s)")
      .arg(como)
      .arg(r.importados)
      .arg(r.substituídos)
      .arg(r.ignorados);
}

}  // namespace

// Passes every dialog on, after drawing the progress as it is: the status
// bar must not show an earlier document while a question about a later one
// waits for its answer (progress is otherwise redrawn at a human rate only).
class JanelaPrincipal::DiálogosComProgresso : public Dialogs {
 public:
  DiálogosComProgresso(JanelaPrincipal* janela, Dialogs* inner) : janela_(janela), inner_(inner) {}
  MessageReply showMessage(const MessageRequest& request) override {
    atualizar();
    return inner_->showMessage(request);
  }
  FileDialogReply openFile(const FileDialogRequest& request) override {
    atualizar();
    return inner_->openFile(request);
  }

 private:
  void atualizar() {
    if (janela_->barra_->isVisible()) janela_->mostrarProgresso();
  }

  JanelaPrincipal* janela_;
  Dialogs* inner_;
};

JanelaPrincipal::JanelaPrincipal(Dialogs* dialogs, const QString& pasta_componente, QString banco_da_sessão,
                                 QWidget* parent)
    : QMainWindow(parent),
      banco_da_sessão_(std::move(banco_da_sessão)),
      dialogs_(std::make_unique<DiálogosComProgresso>(this, dialogs)) {
  widget_ = new OrlanWidget(dialogs_.get(), this);
  if (!pasta_componente.isEmpty()) widget_->control().setPastaComponente(pasta_componente);
  // The name chosen in this session may hold a password the setting lacks.
  if (!banco_da_sessão_.isEmpty()) {
    widget_->control().setFonteConfiguração(std::make_unique<ConfiguraçãoFixa>(banco_da_sessão_));
  }
  widget_->control().setSemBancoAtual([this] { return oferecerBanco(); });
  setCentralWidget(widget_);
  criarMenu();
  criarBarraDeStatus();
  ligarWidget();
}

JanelaPrincipal::~JanelaPrincipal() = default;

void JanelaPrincipal::criarMenu() {
  QMenu* menu = menuBar()->addMenu(QStringLiteral("&Banco de dados"));
  menu->addAction(QStringLiteral("&Escolher o banco atual..."), this, [this] { escolherBanco(true); })
      ->setObjectName(QStringLiteral("escolherBanco"));
  menu->addAction(QStringLiteral("&Criar um banco novo..."), this, [this] { criarBanco(true); })
      ->setObjectName(QStringLiteral("criarBanco"));
  menu->addAction(QStringLiteral("&Mudar o ano limite..."), this, [this] { mudarAnoLimite(); })
      ->setObjectName(QStringLiteral("mudarAnoLimite"));
  menu->addAction(QStringLiteral("Últimas &importações..."), this, [this] { mostrarHistórico(); })
      ->setObjectName(QStringLiteral("ultimasImportacoes"));
  menu->addSeparator();
  menu->addAction(QStringLiteral("&Sair"), this, [this] { close(); });
}

void JanelaPrincipal::criarBarraDeStatus() {
  mensagem_ = new QLabel(this);
  mensagem_->setObjectName(QStringLiteral("mensagem"));
  barra_ = new QProgressBar(this);
  barra_->setMaximumWidth(160);
  barra_->setTextVisible(false);
  passos_label_ = new QLabel(this);
  passos_label_->setObjectName(QStringLiteral("progresso"));
  statusBar()->addWidget(mensagem_, 1);
  statusBar()->addPermanentWidget(passos_label_);
  statusBar()->addPermanentWidget(barra_);
  barra_->hide();
  passos_label_->hide();
  mostrarBancoAtual();
  mostrarEstado();
}

void JanelaPrincipal::ligarWidget() {
  connect(widget_, &OrlanWidget::Fechar, this, [this] { close(); });
  connect(widget_, &OrlanWidget::IniciouLeitura, this, [this] {
    verificou_ = !restaurando_;
    iniciar(restaurando_ ? QStringLiteral("Lendo a declaração arquivada...")
                         : QStringLiteral("Verificando o arquivo..."));
  });
  connect(widget_, &OrlanWidget::IniciouImportacao, this, [this] {
    importação_ = Importação::kEmCurso;
    iniciar(QStringLiteral("Importando..."));
  });
  connect(widget_, &OrlanWidget::NoMeio, this, [this] { passo(); });
  connect(widget_, &OrlanWidget::FinalizouImportacao, this, [this] { importação_ = Importação::kConcluída; });
  connect(widget_, &OrlanWidget::acaoConcluida, this, [this] { mostrarEstado(); });
  // Said before the wait, which holds this thread: painted at once.
  connect(widget_, &OrlanWidget::aguardandoOutroUsuario, this, [this](bool aguardando) {
    mensagem_->setText(aguardando ? ctlOrlan::TextoAguardando() : QStringLiteral("Importando..."));
    manterVivo();
  });
}

void JanelaPrincipal::iniciar(const QString& text) {
  mensagem_->setText(text);
  mostrarProgresso();
  barra_->show();
  passos_label_->show();
  relógio_.start();
  manterVivo();
}

void JanelaPrincipal::passo() {
  // Redraw at a human rate: NoMeio may come thousands of times a second.
  if (relógio_.isValid() && relógio_.elapsed() < 40) return;
  relógio_.restart();
  mostrarProgresso();
  manterVivo();
}

// The check: the share of the file read; the import: the document in
// progress among those selected.
void JanelaPrincipal::mostrarProgresso() {
  const ctlOrlan& control = widget_->control();
  if (importação_ == Importação::kEmCurso) {
    const int total = std::max(1, static_cast<int>(control.QtdeSelecionados()));
    const int atual = std::clamp(control.documentoEmCurso(), 1, total);
    barra_->setRange(0, total);
    barra_->setValue(atual);
    passos_label_->setText(QStringLiteral("documento %1 de %2").arg(atual).arg(total));
  } else {
    const int porcento = static_cast<int>(std::clamp(control.progressoVerificação(), 0.0, 1.0) * 100);
    barra_->setRange(0, 100);
    barra_->setValue(porcento);
    passos_label_->setText(QStringLiteral("%1%").arg(porcento));
  }
}

void JanelaPrincipal::mostrarEstado() {
  barra_->hide();
  passos_label_->hide();
  mensagem_->setText(textoDoEstado());
  importação_ = Importação::kNenhuma;
  verificou_ = false;
}

QString JanelaPrincipal::textoDoEstado() const {
  const ctlOrlan& control = widget_->control();
  if (importação_ == Importação::kConcluída) return TextoResumo(QStringLiteral("Importação concluída"), control.resumo());
  if (importação_ == Importação::kEmCurso) return TextoResumo(QStringLiteral("Importação interrompida"), control.resumo());
  const ctlOrlan::ContagemLista& contagem = control.contagemLista();
  // The year limit is the current database's: said, so that the user knows
  // where to change it.
  const QString do_limite = contagem.apósLimite > 0 ? QStringLiteral(" (ano limite do banco atual)") : QString();
  if (contagem.feita) {
    const size_t n = control.itens().size();
    if (n == 0) return QStringLiteral("Lista vazia: ") + MotivoDaListaVazia(contagem) + do_limite;
    QString texto = QStringLiteral("%1 documento(s) na lista").arg(n);
    if (contagem.apósLimite > 0) texto += QStringLiteral("; ") + TextoOcultasPeloLimite(contagem) + do_limite;
    return texto;
  }
  if (verificou_) return QStringLiteral("Lista vazia: o arquivo não foi aceito.");
  if (nomeDoBanco().isEmpty()) return QStringLiteral("Escolha ou crie o banco atual no menu Banco de dados.");
  return QStringLiteral("Escolha o arquivo pré-formatado com o botão \"...\".");
}

// In the title, where it leaves the status bar's width to the messages.
void JanelaPrincipal::mostrarBancoAtual() {
  const QString db = LerCaminhoBancoAtual();
  setWindowTitle(QStringLiteral("Importar arquivo pré-formatado - ") +
                 (db.isEmpty() ? QStringLiteral("nenhum banco atual") : QStringLiteral("banco atual: ") + NomeSemSenha(db)));
}

// The control works on this thread: paint and animate, but let no input in
// (a second action inside a running one is not allowed).
void JanelaPrincipal::manterVivo() {
  statusBar()->repaint();
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

QString JanelaPrincipal::nomeDoBanco() const {
  return banco_da_sessão_.isEmpty() ? LerCaminhoBancoAtual() : banco_da_sessão_;
}

void JanelaPrincipal::usarBanco(const QString& nome) {
  GravarBancoAtual(nome);
  banco_da_sessão_ = nome;
  widget_->control().setFonteConfiguração(std::make_unique<ConfiguraçãoFixa>(nome));
  mostrarBancoAtual();
}

bool JanelaPrincipal::escolherBanco(bool trocar) {
  DiálogoBancoAtual diálogo(this);
  if (diálogo.exec() != QDialog::Accepted) return false;
  usarBanco(diálogo.nome());
  if (trocar) widget_->trocarBancoAtual();
  return true;
}

bool JanelaPrincipal::criarBanco(bool trocar) {
  // Qt's own dialog, so that a name typed without a suffix gets ".db".
  QFileDialog diálogo(this, QStringLiteral("Novo banco de dados"), QDir::homePath(),
                      QStringLiteral("Bancos de dados (*.db)"));
  diálogo.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::DontConfirmOverwrite);
  diálogo.setAcceptMode(QFileDialog::AcceptSave);
  diálogo.setDefaultSuffix(QStringLiteral("db"));
  if (diálogo.exec() != QDialog::Accepted || diálogo.selectedFiles().isEmpty()) return false;
  const QString absoluto = QFileInfo(diálogo.selectedFiles().constFirst()).absoluteFilePath();
  const Status s =
      schema::CreateCurrentDatabase(absoluto.toStdString(), QString::number(QDate::currentDate().year()));
  if (!s.ok()) {
    QMessageBox::critical(this, QStringLiteral("Atenção!"),
                          QStringLiteral("O banco de dados não foi criado:\n") + QString::fromStdString(s.ToString()));
    return false;
  }
  usarBanco(absoluto);
  if (trocar) widget_->trocarBancoAtual();
  return true;
}

bool JanelaPrincipal::oferecerBanco() {
  QMessageBox caixa(QMessageBox::Information, kTítuloBanco,
                    QStringLiteral("Nenhum banco de dados atual foi escolhido.\n\n"
                                   "As declarações importadas são gravadas no banco de dados atual: escolha um "
                                   "banco que já existe ou crie um novo. O menu \"Banco de dados\" faz o mesmo "
                                   "a qualquer momento."),
                    QMessageBox::Cancel, this);
  QPushButton* escolher = caixa.addButton(QStringLiteral("Escolher o banco atual..."), QMessageBox::AcceptRole);
  QPushButton* criar = caixa.addButton(QStringLiteral("Criar um banco novo..."), QMessageBox::AcceptRole);
  caixa.setDefaultButton(escolher);
  caixa.exec();
  if (caixa.clickedButton() == escolher) return escolherBanco(false);
  if (caixa.clickedButton() == criar) return criarBanco(false);
  return false;
}

void JanelaPrincipal::mudarAnoLimite() {
  const QString nome = nomeDoBanco();
  if (nome.isEmpty()) {
    QMessageBox::information(this, kTítuloBanco,
                             QStringLiteral("Nenhum banco de dados atual foi escolhido: escolha ou crie um no menu "
                                            "\"Banco de dados\"."));
    return;
  }
  std::shared_ptr<BancoAtual> banco;
  Status s = AbrirBancoAtual(nome, &banco);
  if (s.ok()) {
    try {
      const std::optional<QVariant> lido = banco->refLimite();
      const bool tem = lido && ÉAnoLimite(lido->toString());
      bool ok = false;
      const int ano = QInputDialog::getInt(
          this, QStringLiteral("Ano limite de referência"),
          QStringLiteral("A lista mostra as declarações de \"%1\" até o ano:").arg(NomeParaGuardar(nome)),
          tem ? lido->toString().toInt() : QDate::currentDate().year(), 1000, 9999, 1, &ok);
      if (!ok) return;
      banco->definirRefLimite(QString::number(ano));
    } catch (const DbError& e) {
      s = e.status();
    }
    banco->fechar();
  }
  if (!s.ok()) {
    QMessageBox::critical(this, QStringLiteral("Atenção!"),
                          QStringLiteral("O ano limite não foi mudado:\n") + QString::fromStdString(s.ToString()));
    return;
  }
  // The list is filled again under the new limit.
  widget_->trocarBancoAtual();
}

void JanelaPrincipal::mostrarHistórico() {
  ctlOrlan& control = widget_->control();
  std::vector<LinhaHistórico> linhas;
  const bool nomeado = !nomeDoBanco().isEmpty();
  // A failure was told by the control; without a current database there is
  // no log to show.
  const bool lido = control.lerHistórico(kExecuçõesListadas, &linhas).ok() && control.bancoAtualAberto();
  // Without one named, the control offered to choose or create one.
  if (!nomeado) mostrarEstado();
  if (!lido) return;
  DiálogoHistórico diálogo(linhas, this);
  if (diálogo.exec() != QDialog::Accepted || !diálogo.arquivamento()) return;
  restaurar(*diálogo.arquivamento());
}

void JanelaPrincipal::restaurar(std::int64_t arquivamento) {
  // The widget's acaoConcluida shows the outcome.
  restaurando_ = true;
  widget_->restaurarArquivado(arquivamento);
  restaurando_ = false;
}

}  // namespace orlan
