// orlan: the desktop host. A main window holds the import dialog as the tax
// program would: it closes on Fechar, shows progress in its status bar while
// the control works, and lets the user choose (a file or a PostgreSQL
// server) or create the current database. --screenshot draws the window at
// one of three moments for the user guide.
#include <QAction>
#include <QApplication>
#include <QDate>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <memory>

#include "control/ctl_orlan.h"
#include "database/banco_atual.h"
#include "database/schema.h"
#include "linha_de_comando.h"
#include "widgets/escolha_banco.h"
#include "widgets/orlan_widget.h"
#include "widgets/qt_dialogs.h"
#include "widgets/traducao_qt.h"

namespace {

using namespace orlan;
using namespace orlan::cli;

// The window's dialogs: Qt's, except that the first file dialog may be
// answered in advance (orlan --open FILE).
class DiálogosDaJanela : public Dialogs {
 public:
  DiálogosDaJanela(QWidget* window, QString arquivo_inicial)
      : qt_(window), arquivo_inicial_(std::move(arquivo_inicial)) {}

  MessageReply showMessage(const MessageRequest& request) override { return qt_.showMessage(request); }
  FileDialogReply openFile(const FileDialogRequest& request) override {
    if (arquivo_inicial_.isEmpty()) return qt_.openFile(request);
    FileDialogReply reply{false, QFileInfo(arquivo_inicial_).absoluteFilePath()};
    arquivo_inicial_.clear();
    return reply;
  }

 private:
  QtDialogs qt_;
  QString arquivo_inicial_;
};

QString TextoResumo(const ResumoImportação& r) {
  return QStringLiteral("Importação concluída: %1 importado(s), %2 substituído(s), %3 ignorado(s)")
      .arg(r.importados)
      .arg(r.substituídos)
      .arg(r.ignorados);
}

class JanelaPrincipal : public QMainWindow {
 public:
  // `banco_da_sessão`: the current database named on the command line,
  // password included (the setting keeps it without); empty: the setting.
  JanelaPrincipal(QString pasta_componente, const QString& arquivo_inicial, QString banco_da_sessão)
      : pasta_componente_(std::move(pasta_componente)),
        banco_da_sessão_(std::move(banco_da_sessão)),
        dialogs_(std::make_unique<DiálogosDaJanela>(this, arquivo_inicial)) {
    setWindowTitle(QStringLiteral("Importar arquivo pré-formatado"));
    criarMenu();
    criarBarraDeStatus();
    criarWidget();
  }

  OrlanWidget* widget() const { return widget_; }

 private:
  void criarMenu() {
    QMenu* menu = menuBar()->addMenu(QStringLiteral("&Banco de dados"));
    menu->addAction(QStringLiteral("&Escolher o banco atual..."), this, [this] { escolherBanco(); });
    menu->addAction(QStringLiteral("&Criar um banco novo..."), this, [this] { criarBanco(); });
    menu->addSeparator();
    menu->addAction(QStringLiteral("&Sair"), this, [this] { close(); });
  }

  void criarBarraDeStatus() {
    mensagem_ = new QLabel(this);
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
  }

  // A new control for each current database: the control opens the current
  // database once in its life, so a changed "DbAtual" needs a fresh one.
  void criarWidget() {
    auto* widget = new OrlanWidget(dialogs_.get(), this);
    if (!pasta_componente_.isEmpty()) widget->control().setPastaComponente(pasta_componente_);
    // The name chosen in this session may hold a password the setting lacks.
    if (!banco_da_sessão_.isEmpty()) {
      widget->control().setFonteConfiguração(std::make_unique<ConfiguraçãoFixa>(banco_da_sessão_));
    }
    connect(widget, &OrlanWidget::Fechar, this, [this] { close(); });
    connect(widget, &OrlanWidget::IniciouLeitura, this,
            [this] { iniciar(QStringLiteral("Verificando o arquivo...")); });
    connect(widget, &OrlanWidget::IniciouImportacao, this, [this] {
      importando_ = true;
      iniciar(QStringLiteral("Importando..."));
    });
    connect(widget, &OrlanWidget::NoMeio, this, [this] { passo(); });
    connect(widget, &OrlanWidget::FinalizouLeitura, this,
            [this] { terminar(QStringLiteral("%1 documento(s) na lista").arg(widget_->control().itens().size())); });
    connect(widget, &OrlanWidget::FinalizouImportacao, this, [this] {
      importando_ = false;
      terminar(TextoResumo(widget_->control().resumo()));
    });
    connect(widget, &OrlanWidget::acaoConcluida, this, [this] {
      if (importando_) {
        importando_ = false;
        terminar(QStringLiteral("Importação interrompida. ") + TextoResumo(widget_->control().resumo()));
      } else if (barra_->isVisible()) {
        terminar(QStringLiteral("Interrompido."));
      }
    });
    QWidget* antigo = takeCentralWidget();
    setCentralWidget(widget);
    widget_ = widget;
    delete antigo;
    adjustSize();
  }

  void iniciar(const QString& text) {
    mensagem_->setText(text);
    mostrarProgresso();
    barra_->show();
    passos_label_->show();
    relógio_.start();
    manterVivo();
  }

  void passo() {
    // Redraw at a human rate: NoMeio may come thousands of times a second.
    if (relógio_.isValid() && relógio_.elapsed() < 40) return;
    relógio_.restart();
    mostrarProgresso();
    manterVivo();
  }

  // The check: the share of the file read; the import: the document in
  // progress among those selected.
  void mostrarProgresso() {
    const ctlOrlan& control = widget_->control();
    if (importando_) {
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

  void terminar(const QString& text) {
    barra_->hide();
    passos_label_->hide();
    mensagem_->setText(text);
  }

  // The control works on this thread: paint and animate, but let no input in
  // (a second action inside a running one is not allowed).
  void manterVivo() {
    statusBar()->repaint();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  }

  void mostrarBancoAtual() {
    const QString db = LerCaminhoBancoAtual();
    mensagem_->setText(db.isEmpty() ? QStringLiteral("Nenhum banco atual escolhido (menu Banco de dados)")
                                    : QStringLiteral("Banco atual: ") + NomeSemSenha(db));
  }

  void escolherBanco() {
    DiálogoBancoAtual diálogo(this);
    if (diálogo.exec() != QDialog::Accepted) return;
    GravarBancoAtual(diálogo.nome());
    banco_da_sessão_ = diálogo.nome();
    criarWidget();
    mostrarBancoAtual();
  }

  void criarBanco() {
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Novo banco de dados"), QDir::homePath(),
                                                      QStringLiteral("Bancos de dados (*.db)"), nullptr,
                                                      QFileDialog::DontConfirmOverwrite);
    if (path.isEmpty()) return;
    const QString absoluto = QFileInfo(path).absoluteFilePath();
    const Status s =
        schema::CreateCurrentDatabase(absoluto.toStdString(), QString::number(QDate::currentDate().year()));
    if (!s.ok()) {
      QMessageBox::critical(
          this, QStringLiteral("Atenção!"),
          QStringLiteral("O banco de dados não foi criado:\n") + QString::fromStdString(s.ToString()));
      return;
    }
    GravarBancoAtual(absoluto);
    banco_da_sessão_.clear();
    criarWidget();
    mostrarBancoAtual();
  }

  QString pasta_componente_;
  QString banco_da_sessão_;
  std::unique_ptr<DiálogosDaJanela> dialogs_;
  OrlanWidget* widget_ = nullptr;
  QLabel* mensagem_ = nullptr;
  QProgressBar* barra_ = nullptr;
  QLabel* passos_label_ = nullptr;
  QElapsedTimer relógio_;
  bool importando_ = false;
};

void clicar(QWidget* widget, const char* nome) {
  if (auto* b = widget->findChild<QPushButton*>(QString::fromUtf8(nome))) b->click();
}

enum class Momento { kJanela, kPergunta, kResumo };

// Draws the window for --screenshot at the moment asked, then ends the
// program: 0 when the picture was saved, 1 otherwise. For the question and
// the summary it selects every listed return and presses Importar; a box
// that is open is drawn over the middle of the window. Every other message
// is answered OK (and a question Sim), so that nothing waits for a user.
class Fotógrafo {
 public:
  Fotógrafo(JanelaPrincipal* janela, QString png, Momento momento)
      : janela_(janela), png_(std::move(png)), momento_(momento) {
    // Message boxes run their own event loop; this timer still fires there.
    QObject::connect(&vigia_, &QTimer::timeout, janela_, [this] { olharCaixas(); });
    vigia_.start(50);
  }

  // The file has been checked (or there is none): the list is drawn.
  void depoisDaVerificação() {
    if (momento_ == Momento::kJanela) {
      // Give the window time to be drawn once more before the picture.
      QTimer::singleShot(300, janela_, [this] { terminar(salvar(janela_->grab())); });
      return;
    }
    auto* lista = janela_->widget()->findChild<QTreeWidget*>(QStringLiteral("ListViewQURs"));
    if (lista == nullptr || lista->topLevelItemCount() == 0) {
      terminar(false);
      return;
    }
    lista->selectAll();
    clicar(janela_->widget(), "butImportar");
    if (momento_ == Momento::kResumo) {
      terminar(salvar(janela_->grab()));
    } else {
      terminar(salvo_);
    }
  }

 private:
  void olharCaixas() {
    auto* caixa = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (caixa == nullptr) return;
    const bool pergunta = caixa->button(QMessageBox::Cancel) != nullptr;
    if (momento_ == Momento::kPergunta && pergunta && !salvo_) {
      salvo_ = salvar(sobrepor(caixa));
      caixa->button(QMessageBox::Cancel)->click();
    } else if (pergunta) {
      caixa->button(QMessageBox::Yes)->click();
    } else {
      caixa->button(QMessageBox::Ok)->click();
    }
  }

  QPixmap sobrepor(QWidget* caixa) const {
    QPixmap fundo = janela_->grab();
    const QPixmap frente = caixa->grab();
    QPainter pintor(&fundo);
    const QRect onde(QPoint((fundo.width() - frente.width()) / 2, (fundo.height() - frente.height()) / 2),
                     frente.size());
    pintor.drawPixmap(onde.topLeft(), frente);
    pintor.setPen(janela_->palette().color(QPalette::Shadow));
    pintor.drawRect(onde.adjusted(-1, -1, 0, 0));
    return fundo;
  }

  bool salvar(const QPixmap& imagem) const {
    if (imagem.save(png_, "PNG")) return true;
    Escrever(stderr, QStringLiteral("orlan: a imagem não pôde ser gravada em %1\n").arg(png_));
    return false;
  }

  void terminar(bool ok) {
    vigia_.stop();
    QCoreApplication::exit(ok ? kSaídaConcluída : kSaídaInterrompida);
  }

  JanelaPrincipal* janela_;
  QString png_;
  Momento momento_;
  QTimer vigia_;
  bool salvo_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("orlan"));
  UsarPortuguêsDoBrasil();

  LinhaDeComando linha(QStringLiteral("orlan"), QStringLiteral("[opções] [ARQUIVO]"),
                       QStringLiteral("Importa declarações de um arquivo pré-formatado (.prf) numa janela."));
  linha.adicionarArgumento(QStringLiteral("ARQUIVO"), QStringLiteral("o mesmo que --open ARQUIVO"));
  const QCommandLineOption db(QStringLiteral("db"),
                              QStringLiteral("abre NOME (arquivo ou endereço postgresql://) e o grava como banco "
                                             "atual (\"DbAtual\"), sem a senha"),
                              QStringLiteral("NOME"));
  const QCommandLineOption pasta(QStringLiteral("component-dir"),
                                 QStringLiteral("pasta do banco temporário e da cópia de rede"),
                                 QStringLiteral("PASTA"));
  const QCommandLineOption abrir(QStringLiteral("open"),
                                 QStringLiteral("escolhe ARQUIVO ao abrir a janela, como se pelo botão \"...\""),
                                 QStringLiteral("ARQUIVO"));
  const QCommandLineOption foto(QStringLiteral("screenshot"), QStringLiteral("grava a imagem da janela em PNG e sai"),
                                QStringLiteral("PNG"));
  const QCommandLineOption momento_foto(
      QStringLiteral("screenshot-of"),
      QStringLiteral("o que --screenshot mostra: window, a janela (com a lista de ARQUIVO, se dado); question, a "
                     "pergunta de substituição ao importar todo o ARQUIVO; summary, o resumo depois dessa importação "
                     "(padrão: window)"),
      QStringLiteral("MOMENTO"));
  for (const QCommandLineOption& o : {db, pasta, abrir, foto, momento_foto}) linha.adicionar(o);
  if (const auto status = linha.analisar(QCoreApplication::arguments())) return *status;
  const QCommandLineParser& parser = linha.parser();
  const QStringList posicionais = parser.positionalArguments();
  if (posicionais.size() > 1) return linha.erroDeUso(QStringLiteral("um só ARQUIVO, não %1").arg(posicionais.size()));
  if (!posicionais.isEmpty() && parser.isSet(abrir)) {
    return linha.erroDeUso(QStringLiteral("ARQUIVO e --open ao mesmo tempo"));
  }
  const QString arquivo = parser.isSet(abrir) ? parser.value(abrir) : posicionais.value(0);

  Momento momento = Momento::kJanela;
  if (parser.isSet(momento_foto)) {
    const QString v = parser.value(momento_foto);
    if (v == QStringLiteral("window")) {
      momento = Momento::kJanela;
    } else if (v == QStringLiteral("question")) {
      momento = Momento::kPergunta;
    } else if (v == QStringLiteral("summary")) {
      momento = Momento::kResumo;
    } else {
      return linha.erroDeUso(QStringLiteral("--screenshot-of deve ser window, question ou summary: \"%1\"").arg(v));
    }
    if (!parser.isSet(foto)) return linha.erroDeUso(QStringLiteral("--screenshot-of pede --screenshot PNG"));
    if (momento != Momento::kJanela && arquivo.isEmpty()) {
      return linha.erroDeUso(QStringLiteral("--screenshot-of %1 pede um ARQUIVO para importar").arg(v));
    }
  }

  // The setting gets the name without its password; this session keeps it whole.
  QString banco_da_sessão;
  if (parser.isSet(db)) {
    const QString v = parser.value(db);
    const Status s = VerificarBancoAtual(v);
    if (!s.ok()) return linha.falha(TextoBancoNãoTrocado(v, s), kSaídaErro);
    GravarBancoAtual(v);
    banco_da_sessão = ÉEndereçoServidor(v) ? v : QFileInfo(v).absoluteFilePath();
  }
  const QString pasta_componente = parser.isSet(pasta) ? QFileInfo(parser.value(pasta)).absoluteFilePath() : QString();
  if (!pasta_componente.isEmpty()) CriarPastaComponente(pasta_componente);

  JanelaPrincipal janela(pasta_componente, arquivo, banco_da_sessão);
  janela.resize(janela.sizeHint());
  janela.show();
  std::unique_ptr<Fotógrafo> fotógrafo;
  if (parser.isSet(foto)) fotógrafo = std::make_unique<Fotógrafo>(&janela, parser.value(foto), momento);

  if (!arquivo.isEmpty()) {
    QTimer::singleShot(0, &janela, [&janela, &fotógrafo] {
      clicar(janela.widget(), "butSelecionarArquivo");
      if (fotógrafo) fotógrafo->depoisDaVerificação();
    });
  } else if (fotógrafo) {
    QTimer::singleShot(0, &janela, [&fotógrafo] { fotógrafo->depoisDaVerificação(); });
  }
  return app.exec();
}
