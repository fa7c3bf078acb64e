// orlan: the desktop host. Its window (widgets/janela_principal.h) holds
// the import dialog as the tax program would; --screenshot draws it at one
// of three moments for the user guide.
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "control/ctl_orlan.h"
#include "database/banco_atual.h"
#include "linha_de_comando.h"
#include "widgets/escolha_banco.h"
#include "widgets/janela_principal.h"
#include "widgets/orlan_widget.h"
#include "widgets/qt_dialogs.h"
#include "widgets/traducao_qt.h"

namespace {

using namespace orlan;
using namespace orlan::cli;

// The window's dialogs: Qt's, modal to the window once it is named, except
// that the first file dialog may be answered in advance (orlan --open FILE).
class DiálogosDaJanela : public Dialogs {
 public:
  explicit DiálogosDaJanela(QString arquivo_inicial) : arquivo_inicial_(std::move(arquivo_inicial)) {}

  void setJanela(QWidget* janela) { janela_ = janela; }

  MessageReply showMessage(const MessageRequest& request) override { return QtDialogs(janela_).showMessage(request); }
  FileDialogReply openFile(const FileDialogRequest& request) override {
    if (arquivo_inicial_.isEmpty()) return QtDialogs(janela_).openFile(request);
    FileDialogReply reply{false, QFileInfo(arquivo_inicial_).absoluteFilePath()};
    arquivo_inicial_.clear();
    return reply;
  }

 private:
  QPointer<QWidget> janela_;
  QString arquivo_inicial_;
};

void clicar(QWidget* widget, const char* nome) {
  if (auto* b = widget->findChild<QPushButton*>(QString::fromUtf8(nome))) b->click();
}

enum class Momento { kJanela, kPergunta, kResumo };

// Draws the window for --screenshot at the moment asked, then ends the
// program: 0 when the picture was saved, 1 otherwise; 3, saying why, when
// there is nothing to show: an empty list, or (for the question) no listed
// return that the current database holds already, found before anything is
// imported. For the question and the summary it selects every listed return
// and presses Importar; a box that is open is drawn over the middle of the
// window. Every other message is answered OK (a question Sim, any other box
// Cancel), so that nothing waits for a user.
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
    ctlOrlan& control = janela_->widget()->control();
    const ctlOrlan::ContagemLista& contagem = control.contagemLista();
    if (control.itens().empty()) {
      desistir(QStringLiteral("lista vazia: ") + (contagem.feita ? MotivoDaListaVazia(contagem)
                                                                 : QStringLiteral("nenhum arquivo foi verificado")));
      return;
    }
    if (momento_ == Momento::kPergunta) {
      std::vector<bool> existe;
      const Status s = control.existentesNoBancoAtual(&existe);
      if (!s.ok()) {
        Escrever(stderr, QStringLiteral("orlan: %1\n").arg(QString::fromStdString(s.ToString())));
        terminar(false);
        return;
      }
      if (std::find(existe.begin(), existe.end(), true) == existe.end()) {
        desistir(QStringLiteral("nenhuma declaração da lista está no banco atual, e a pergunta de substituição só "
                                "aparece para uma que já está lá (importe o arquivo antes, por exemplo com "
                                "--screenshot-of summary)"));
        return;
      }
    }
    auto* lista = janela_->widget()->findChild<QTreeWidget*>(QStringLiteral("ListViewQURs"));
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
    const bool pergunta = caixa->button(QMessageBox::Yes) != nullptr;
    if (momento_ == Momento::kPergunta && pergunta && !salvo_) {
      salvo_ = salvar(sobrepor(caixa));
      caixa->button(QMessageBox::Cancel)->click();
    } else if (pergunta) {
      caixa->button(QMessageBox::Yes)->click();
    } else if (QAbstractButton* ok = caixa->button(QMessageBox::Ok)) {
      ok->click();
    } else {
      caixa->reject();
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

  void desistir(const QString& motivo) {
    Escrever(stderr, QStringLiteral("orlan: não há o que mostrar: %1\n").arg(motivo));
    vigia_.stop();
    QCoreApplication::exit(kSaídaNadaListado);
  }

  JanelaPrincipal* janela_;
  QString png_;
  Momento momento_;
  QTimer vigia_;
  bool salvo_ = false;
};

struct Opções {
  QString arquivo;
  QString db;                // empty: the setting
  QString pasta_componente;  // empty: the control's default
  QString foto;              // --screenshot PNG; empty: none
  Momento momento = Momento::kJanela;
};

// Reads orlan's command line (the program's name first). Empty when the
// program goes on, with `opções` filled; otherwise the status to exit with,
// the usage or the message already printed (see LinhaDeComando::analisar).
std::optional<int> LerOpções(const QStringList& args, Opções* opções) {
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
  linha.setRodapé(QStringLiteral("Saída de --screenshot: 0 imagem gravada; 1 não gravada; 3 nada a mostrar (lista "
                                 "vazia, ou, para question, nenhuma declaração da lista no banco atual); 4 o banco "
                                 "de --db não abre; 64 uso incorreto.\n"));
  if (const auto status = linha.analisar(args)) return status;
  const QCommandLineParser& parser = linha.parser();
  const QStringList posicionais = parser.positionalArguments();
  if (posicionais.size() > 1) return linha.erroDeUso(QStringLiteral("um só ARQUIVO, não %1").arg(posicionais.size()));
  if (!posicionais.isEmpty() && parser.isSet(abrir)) {
    return linha.erroDeUso(QStringLiteral("ARQUIVO e --open ao mesmo tempo"));
  }
  opções->arquivo = parser.isSet(abrir) ? parser.value(abrir) : posicionais.value(0);
  opções->db = parser.value(db);
  opções->pasta_componente = parser.value(pasta);
  opções->foto = parser.value(foto);
  if (parser.isSet(momento_foto)) {
    const QString v = parser.value(momento_foto);
    if (v == QStringLiteral("window")) {
      opções->momento = Momento::kJanela;
    } else if (v == QStringLiteral("question")) {
      opções->momento = Momento::kPergunta;
    } else if (v == QStringLiteral("summary")) {
      opções->momento = Momento::kResumo;
    } else {
      return linha.erroDeUso(QStringLiteral("--screenshot-of deve ser window, question ou summary: \"%1\"").arg(v));
    }
    if (!parser.isSet(foto)) return linha.erroDeUso(QStringLiteral("--screenshot-of pede --screenshot PNG"));
    if (opções->momento != Momento::kJanela && opções->arquivo.isEmpty()) {
      return linha.erroDeUso(QStringLiteral("--screenshot-of %1 pede um ARQUIVO para importar").arg(v));
    }
  }
  if (parser.isSet(db)) {
    const Status s = VerificarBancoAtual(opções->db);
    if (!s.ok()) return linha.falha(TextoBancoNãoTrocado(opções->db, s), kSaídaErro);
  }
  return std::nullopt;
}

// -h, --help and --version only print: they are read before QApplication,
// which needs a display (and there may be none, over ssh).
bool SóImprime(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view a(argv[i]);
    if (a == "--") return false;
    if (a == "-h" || a == "--help" || a == "--version") return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  Opções opções;
  if (SóImprime(argc, argv)) {
    const QCoreApplication sem_tela(argc, argv);
    if (const auto status = LerOpções(QCoreApplication::arguments(), &opções)) return *status;
  }
  QApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("orlan"));
  UsarPortuguêsDoBrasil();
  if (const auto status = LerOpções(QCoreApplication::arguments(), &opções)) return *status;

  // The setting gets the name without its password; this session keeps it whole.
  QString banco_da_sessão;
  if (!opções.db.isEmpty()) {
    GravarBancoAtual(opções.db);
    banco_da_sessão = ÉEndereçoServidor(opções.db) ? opções.db : QFileInfo(opções.db).absoluteFilePath();
  }
  const QString pasta_componente =
      opções.pasta_componente.isEmpty() ? QString() : QFileInfo(opções.pasta_componente).absoluteFilePath();
  if (!pasta_componente.isEmpty()) CriarPastaComponente(pasta_componente);

  DiálogosDaJanela dialogs(opções.arquivo);
  JanelaPrincipal janela(&dialogs, pasta_componente, banco_da_sessão);
  dialogs.setJanela(&janela);
  janela.resize(janela.sizeHint());
  janela.show();
  std::unique_ptr<Fotógrafo> fotógrafo;
  if (!opções.foto.isEmpty()) fotógrafo = std::make_unique<Fotógrafo>(&janela, opções.foto, opções.momento);

  if (!opções.arquivo.isEmpty()) {
    QTimer::singleShot(0, &janela, [&janela, &fotógrafo] {
      clicar(janela.widget(), "butSelecionarArquivo");
      if (fotógrafo) fotógrafo->depoisDaVerificação();
    });
  } else if (fotógrafo) {
    QTimer::singleShot(0, &janela, [&fotógrafo] { fotógrafo->depoisDaVerificação(); });
  }
  return app.exec();
}
