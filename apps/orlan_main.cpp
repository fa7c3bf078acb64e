// orlan: the desktop host. A main window holds the import dialog as the tax
// program would: it closes on Fechar, shows progress in its status bar while
// the control works, and lets the user choose or create the current database.
#include <QAction>
#include <QApplication>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>

#include <memory>

#include "control/ctl_orlan.h"
#include "database/schema.h"
#include "widgets/orlan_widget.h"
#include "widgets/qt_dialogs.h"
#include "linha_de_comando.h"

namespace {

using namespace orlan;
using namespace orlan::cli;

void GravarBancoAtual(const QString& path) {
  QSettings settings(QStringLiteral("Selmar"), QStringLiteral("Selmar"));
  settings.setValue(QStringLiteral("DB/DbAtual"), path);
  settings.sync();
}

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
  JanelaPrincipal(QString pasta_componente, const QString& arquivo_inicial)
      : pasta_componente_(std::move(pasta_componente)),
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
    barra_->setRange(0, 0);  // busy: the number of steps is not known in advance
    barra_->setMaximumWidth(160);
    barra_->setTextVisible(false);
    passos_label_ = new QLabel(this);
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
    connect(widget, &OrlanWidget::Fechar, this, [this] { close(); });
    connect(widget, &OrlanWidget::IniciouLeitura, this,
            [this] { iniciar(QStringLiteral("Verificando o arquivo...")); });
    connect(widget, &OrlanWidget::IniciouImportacao, this, [this] {
      importando_ = true;
      iniciar(QStringLiteral("Importando..."));
    });
    connect(widget, &OrlanWidget::NoMeio, this, [this] { passo(); });
    connect(widget, &OrlanWidget::FinalizouLeitura, this, [this] {
      terminar(QStringLiteral("%1 documento(s) na lista").arg(widget_->control().itens().size()));
    });
    connect(widget, &OrlanWidget::FinalizouImportacao, this, [this] {
      importando_ = false;
      terminar(TextoResumo(widget_->control().estado().resumo));
    });
    connect(widget, &OrlanWidget::acaoConcluida, this, [this] {
      if (importando_) {
        importando_ = false;
        terminar(QStringLiteral("Importação interrompida. ") + TextoResumo(widget_->control().estado().resumo));
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
    passos_ = 0;
    mensagem_->setText(text);
    passos_label_->setText(QString());
    barra_->show();
    passos_label_->show();
    relógio_.start();
    manterVivo();
  }

  void passo() {
    ++passos_;
    // Redraw at a human rate: NoMeio may come thousands of times a second.
    if (relógio_.isValid() && relógio_.elapsed() < 40) return;
    relógio_.restart();
    passos_label_->setText(QStringLiteral("Passo %1").arg(passos_));
    manterVivo();
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
                                    : QStringLiteral("Banco atual: ") + db);
  }

  void escolherBanco() {
    const QString atual = LerCaminhoBancoAtual();
    const QString path = QFileDialog::getOpenFileName(
        this, QStringLiteral("Banco de dados atual"), atual.isEmpty() ? QDir::homePath() : QFileInfo(atual).path(),
        QStringLiteral("Bancos de dados (*.db *.mdb *.sqlite);;Todos os arquivos (*)"));
    if (path.isEmpty()) return;
    GravarBancoAtual(QFileInfo(path).absoluteFilePath());
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
      QMessageBox::critical(this, QStringLiteral("Atenção!"),
                            QStringLiteral("O banco de dados não foi criado:\n") + QString::fromStdString(s.ToString()));
      return;
    }
    GravarBancoAtual(absoluto);
    criarWidget();
    mostrarBancoAtual();
  }

  QString pasta_componente_;
  std::unique_ptr<DiálogosDaJanela> dialogs_;
  OrlanWidget* widget_ = nullptr;
  QLabel* mensagem_ = nullptr;
  QProgressBar* barra_ = nullptr;
  QLabel* passos_label_ = nullptr;
  QElapsedTimer relógio_;
  int passos_ = 0;
  bool importando_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("orlan"));

  LinhaDeComando linha(QStringLiteral("orlan"), QStringLiteral("[opções] [ARQUIVO]"),
                       QStringLiteral("Importa declarações de um arquivo pré-formatado (.prf) numa janela."));
  linha.adicionarArgumento(QStringLiteral("ARQUIVO"), QStringLiteral("o mesmo que --open ARQUIVO"));
  const QCommandLineOption db(QStringLiteral("db"), QStringLiteral("grava CAMINHO como banco atual (\"DbAtual\")"),
                              QStringLiteral("CAMINHO"));
  const QCommandLineOption pasta(QStringLiteral("component-dir"),
                                 QStringLiteral("pasta do banco temporário e da cópia de rede"), QStringLiteral("PASTA"));
  const QCommandLineOption abrir(QStringLiteral("open"),
                                 QStringLiteral("escolhe ARQUIVO ao abrir a janela, como se pelo botão \"...\""),
                                 QStringLiteral("ARQUIVO"));
  const QCommandLineOption foto(QStringLiteral("screenshot"), QStringLiteral("grava a imagem da janela em PNG e sai"),
                                QStringLiteral("PNG"));
  for (const QCommandLineOption& o : {db, pasta, abrir, foto}) linha.adicionar(o);
  if (const auto status = linha.analisar(QCoreApplication::arguments())) return *status;
  const QCommandLineParser& parser = linha.parser();
  const QStringList posicionais = parser.positionalArguments();
  if (posicionais.size() > 1) return linha.erroDeUso(QStringLiteral("um só ARQUIVO, não %1").arg(posicionais.size()));
  if (!posicionais.isEmpty() && parser.isSet(abrir)) {
    return linha.erroDeUso(QStringLiteral("ARQUIVO e --open ao mesmo tempo"));
  }
  const QString arquivo = parser.isSet(abrir) ? parser.value(abrir) : posicionais.value(0);

  if (parser.isSet(db)) GravarBancoAtual(QFileInfo(parser.value(db)).absoluteFilePath());
  const QString pasta_componente =
      parser.isSet(pasta) ? QFileInfo(parser.value(pasta)).absoluteFilePath() : QString();
  if (!pasta_componente.isEmpty()) QDir().mkpath(pasta_componente);

  JanelaPrincipal janela(pasta_componente, arquivo);
  janela.show();

  if (!arquivo.isEmpty()) {
    QTimer::singleShot(0, &janela, [&janela] {
      if (auto* b = janela.widget()->findChild<QPushButton*>(QStringLiteral("butSelecionarArquivo"))) b->click();
    });
  }
  if (parser.isSet(foto)) {
    const QString png = parser.value(foto);
    QTimer::singleShot(500, &janela, [&janela, png] {
      const bool ok = janela.grab().save(png, "PNG");
      QCoreApplication::exit(ok ? 0 : 1);
    });
  }
  return app.exec();
}
