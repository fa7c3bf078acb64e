// orlan-import: imports a ".prf" file into the current database without a
// window. It drives the control through the same handlers the widget calls
// (the file-selection click with its check run, the reference box, the list
// selection, Importar), and the dialogs are answered from the options.
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <vector>

#include "control/ctl_orlan.h"
#include "linha_de_comando.h"
#include "orlan_cli.h"

namespace {

using namespace orlan;
using namespace orlan::cli;

// Records the events and, on a terminal, draws progress on standard error.
class Ouvinte : public OuvinteOrlan {
 public:
  explicit Ouvinte(bool terminal) : terminal_(terminal) {}

  void onEvento(Evento evento) override {
    eventos.push_back(evento);
    switch (evento) {
      case Evento::IniciouLeitura:
        fase_ = Fase::kVerificação;
        passos_ = 0;
        break;
      case Evento::IniciouImportação:
        fase_ = Fase::kImportação;
        passos_ = 0;
        break;
      case Evento::NoMeio:
        ++passos_;
        desenhar();
        break;
      case Evento::FinalizouLeitura:
      case Evento::FinalizouImportação:
        limpar();
        fase_ = Fase::kNenhuma;
        break;
      case Evento::Fechar:
        break;
    }
  }

  bool houve(Evento e) const { return std::find(eventos.begin(), eventos.end(), e) != eventos.end(); }

  // Documents the import run will go through; the bar counts ten steps for each.
  void setDocumentos(int n) { documentos_ = n; }

  // Clears the progress line so that other output starts on a clean line.
  void limpar() {
    if (terminal_ && desenhada_) Escrever(stderr, QStringLiteral("\r\033[K"));
    desenhada_ = false;
  }

  std::vector<Evento> eventos;

 private:
  enum class Fase { kNenhuma, kVerificação, kImportação };

  void desenhar() {
    if (!terminal_ || fase_ == Fase::kNenhuma) return;
    QString line;
    if (fase_ == Fase::kVerificação) {
      line = QStringLiteral("Verificando o arquivo... %1").arg(passos_);
    } else {
      constexpr int kLargura = 40;
      const int total = std::max(1, documentos_ * 10);
      const int feito = std::min(passos_, total);
      const int cheio = feito * kLargura / total;
      line = QStringLiteral("Importando [%1%2] %3%")
                 .arg(QString(cheio, QLatin1Char('#')), QString(kLargura - cheio, QLatin1Char(' ')))
                 .arg(feito * 100 / total, 3);
    }
    Escrever(stderr, QStringLiteral("\r") + line + QStringLiteral("\033[K"));
    desenhada_ = true;
  }

  bool terminal_;
  Fase fase_ = Fase::kNenhuma;
  int passos_ = 0;
  int documentos_ = 0;
  bool desenhada_ = false;
};

void ImprimirResumo(const ResumoImportação& r) {
  QString text = QStringLiteral("Resumo: %1 importado(s), %2 substituído(s), %3 ignorado(s)\n")
                     .arg(r.importados)
                     .arg(r.substituídos)
                     .arg(r.ignorados);
  for (const auto& [tabela, linhas] : r.linhasPorTabela) {
    text += QStringLiteral("  %1\t%2\n").arg(QString::fromStdString(tabela)).arg(linhas);
  }
  Escrever(stdout, text);
}

int Falha(const QString& text, int status) {
  Escrever(stderr, QStringLiteral("orlan-import: ") + text + QLatin1Char('\n'));
  return status;
}

int Executar(const Opções& opções) {
  const bool terminal_out = ::isatty(STDERR_FILENO) != 0;
  const bool terminal_in = ::isatty(STDIN_FILENO) != 0;

  // --db holds for this process only: the settings are pointed at a private
  // folder, so that the user's own "DbAtual" stays as it was.
  QTemporaryDir settings_dir;
  if (!opções.db.isEmpty()) {
    if (!settings_dir.isValid()) return Falha(QStringLiteral("não foi possível criar uma pasta temporária"), kSaídaErro);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings_dir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings_dir.path());
    QSettings settings(QStringLiteral("Selmar"), QStringLiteral("Selmar"));
    settings.setValue(QStringLiteral("DB/DbAtual"), QFileInfo(opções.db).absoluteFilePath());
    settings.sync();
  }

  ConsoleDialogs dialogs(opções.arquivo, opções.sobrescrever, stdout, terminal_in);
  Ouvinte ouvinte(terminal_out);
  dialogs.setAntesDeImprimir([&ouvinte] { ouvinte.limpar(); });
  ctlOrlan control(&dialogs);
  control.setOuvinte(&ouvinte);
  if (!opções.pasta_componente.isEmpty()) {
    const QString pasta = QFileInfo(opções.pasta_componente).absoluteFilePath();
    if (!QDir().mkpath(pasta)) return Falha(QStringLiteral("não foi possível criar a pasta ") + pasta, kSaídaErro);
    control.setPastaComponente(pasta);
  }

  // The reference is typed before the file is chosen: the check run reads
  // the box, and the list is filled once.
  if (!opções.ref.isEmpty() && !control.txtRef_Alterar(opções.ref).ok()) return kSaídaErro;

  if (!control.butSelecionarArquivo_Click().ok()) return kSaídaErro;
  if (!ouvinte.houve(Evento::IniciouLeitura)) {
    // The only way a click with a given file ends before its check run: the
    // file does not exist (the control said so and the second dialog was
    // cancelled).
    return kSaídaArquivo;
  }
  if (!ouvinte.houve(Evento::FinalizouLeitura)) return kSaídaErro;
  // A file the checker could not read or rejected has been explained by the
  // checker's own message already.
  if (control.resultadoVerificação() == kFalhaAoGravarBanco) {
    return Falha(QStringLiteral("o banco temporário não foi gravado"), kSaídaErro);
  }
  if (control.resultadoVerificação() != kVerificaçãoAceita) return kSaídaArquivo;
  if (!control.estado().BancoAtual) {
    return Falha(QStringLiteral("o banco de dados atual não pôde ser aberto (use --db ou a configuração \"DbAtual\")"),
                 kSaídaErro);
  }

  // The selection as --select makes it; --list shows that same selection.
  const std::vector<ItemLista>& itens = control.itens();
  const QSet<QString> ies(opções.ies.begin(), opções.ies.end());
  QSet<QString> encontradas;
  int selecionados = 0;
  for (int i = 0; i < static_cast<int>(itens.size()); ++i) {
    const QString& ie = itens[i].colunas[0];
    const bool escolhido = opções.selecionar_todos || ies.contains(ie);
    if (escolhido) {
      ++selecionados;
      encontradas.insert(ie);
    }
    control.selecionarItem(i, escolhido);
  }
  if (!opções.selecionar_todos) {
    for (const QString& ie : opções.ies) {
      if (!encontradas.contains(ie)) Escrever(stderr, QStringLiteral("orlan-import: IE %1 não está na lista\n").arg(ie));
    }
  }

  if (opções.listar) {
    QString text;
    for (const ItemLista& item : itens) {
      if (!item.selecionado) continue;
      text += item.colunas[0] + QLatin1Char('\t') + item.colunas[1] + QLatin1Char('\t') + item.colunas[2] +
              QLatin1Char('\t') + item.colunas[3] + QLatin1Char('\n');
    }
    Escrever(stdout, text);
    return selecionados == 0 ? kSaídaNadaListado : kSaídaConcluída;
  }
  ouvinte.setDocumentos(selecionados);

  // Importar runs even with nothing selected: the control then tells the
  // user so, as it would in the window.
  const Status status = control.butImportar_Click();
  ouvinte.limpar();
  if (ouvinte.houve(Evento::IniciouImportação)) ImprimirResumo(control.estado().resumo);
  if (!status.ok()) return kSaídaErro;
  if (ouvinte.houve(Evento::FinalizouImportação)) return kSaídaConcluída;
  if (ouvinte.houve(Evento::IniciouImportação)) return kSaídaInterrompida;
  return kSaídaNadaListado;
}

}  // namespace

int main(int argc, char** argv) {
  // A reader that went away (orlan-import ... | head) must not kill the run
  // in the middle of a document: the failed write is reported instead.
  std::signal(SIGPIPE, SIG_IGN);
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("orlan-import"));

  Opções opções;
  if (const auto status = LerOpções(QCoreApplication::arguments(), &opções)) return *status;
  const int status = Executar(opções);
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    return Falha(QStringLiteral("a saída padrão não pôde ser gravada (disco cheio ou leitor encerrado)"), kSaídaErro);
  }
  return status;
}
