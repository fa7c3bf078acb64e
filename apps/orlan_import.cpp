// orlan-import: imports a ".prf" file into the current database without a
// window. It drives the control through the same handlers the widget calls
// (the file-selection click with its check run, the reference box, the list
// selection, Importar), and the dialogs are answered from the options.
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QSet>
#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "control/configuracao.h"
#include "control/ctl_orlan.h"
#include "control/database_opener.h"
#include "database/banco_atual.h"
#include "linha_de_comando.h"
#include "orlan_cli.h"

namespace {

using namespace orlan;
using namespace orlan::cli;

// Set by the handler of SIGINT, SIGTERM and SIGHUP: the signal's number.
volatile std::sig_atomic_t g_sinal = 0;

extern "C" void AoSinal(int sinal) { g_sinal = sinal; }

// Without SA_RESTART: a terminal question waiting for a line gets EINTR and
// is answered Cancel, as the run is about to be.
void InstalarSinais() {
  struct sigaction ação {};
  ação.sa_handler = AoSinal;
  sigemptyset(&ação.sa_mask);
  for (int sinal : {SIGINT, SIGTERM, SIGHUP}) sigaction(sinal, &ação, nullptr);
}

QString NomeDoSinal(int sinal) {
  switch (sinal) {
    case SIGINT:
      return QStringLiteral("SIGINT");
    case SIGTERM:
      return QStringLiteral("SIGTERM");
    default:
      return QStringLiteral("SIGHUP");
  }
}

// Records the events and, on a terminal, draws progress on standard error:
// the share of the file checked, then the document being imported.
class Ouvinte : public OuvinteOrlan {
 public:
  Ouvinte(bool terminal, const ctlOrlan* control) : terminal_(terminal), control_(control) {}

  void onEvento(Evento evento) override {
    eventos.push_back(evento);
    switch (evento) {
      case Evento::IniciouLeitura:
        fase_ = Fase::kVerificação;
        break;
      case Evento::IniciouImportação:
        fase_ = Fase::kImportação;
        break;
      case Evento::NoMeio:
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

  // Said once per wait, on a terminal or not: a run that seems stuck says why.
  void onAguardando(bool aguardando) override {
    if (!aguardando) return;
    limpar();
    Escrever(stderr, ctlOrlan::TextoAguardando() + QStringLiteral("\n"));
  }

  bool houve(Evento e) const { return std::find(eventos.begin(), eventos.end(), e) != eventos.end(); }

  // Clears the progress line so that other output starts on a clean line.
  void limpar() {
    if (terminal_ && !desenhada_.isEmpty()) Escrever(stderr, QStringLiteral("\r\033[K"));
    desenhada_.clear();
  }

  std::vector<Evento> eventos;

 private:
  enum class Fase { kNenhuma, kVerificação, kImportação };

  void desenhar() {
    if (!terminal_ || fase_ == Fase::kNenhuma) return;
    QString line;
    if (fase_ == Fase::kVerificação) {
      const int porcento = static_cast<int>(std::clamp(control_->progressoVerificação(), 0.0, 1.0) * 100);
      line = QStringLiteral("Verificando o arquivo... %1%").arg(porcento, 3);
    } else {
      constexpr int kLargura = 30;
      const int total = std::max(1, static_cast<int>(control_->QtdeSelecionados()));
      const int atual = std::clamp(control_->documentoEmCurso(), 1, total);
      const int cheio = (atual - 1) * kLargura / total;
      line = QStringLiteral("Importando [%1%2] documento %3 de %4")
                 .arg(QString(cheio, QLatin1Char('#')), QString(kLargura - cheio, QLatin1Char(' ')))
                 .arg(atual)
                 .arg(total);
    }
    // The checker reports progress far more often than the line changes.
    if (line == desenhada_) return;
    Escrever(stderr, QStringLiteral("\r") + line + QStringLiteral("\033[K"));
    desenhada_ = line;
  }

  bool terminal_;
  const ctlOrlan* control_;
  Fase fase_ = Fase::kNenhuma;
  QString desenhada_;
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

// One field of a --history line: tabs and line ends become spaces, so that
// one document stays one line whatever a path or a user name holds.
QString Campo(QString valor) {
  for (QChar c : {QLatin1Char('\t'), QLatin1Char('\r'), QLatin1Char('\n')}) valor.replace(c, QLatin1Char(' '));
  return valor;
}

QString Campo(const std::optional<std::int64_t>& chave) {
  return chave ? QString::number(static_cast<qlonglong>(*chave)) : QString();
}

int BancoNãoAbriu() {
  return Falha(QStringLiteral("o banco de dados atual não pôde ser aberto (use --db ou a configuração \"DbAtual\")"),
               kSaídaErro);
}

// The current database named as an import would name it (--db or
// "DbAtual"), for the options that need no file. Why it cannot be opened
// goes to standard error, so that standard output holds their lines alone.
std::shared_ptr<BancoAtual> AbrirBancoDasOpções(const Opções& opções) {
  QString nome = opções.db;
  if (nome.isEmpty()) {
    nome = ConfiguraçãoUsuário().bancoAtual();
  } else if (!ÉEndereçoServidor(nome)) {
    nome = QFileInfo(nome).absoluteFilePath();
  }
  ConsoleDialogs dialogs(QString(), Sobrescrever::kCancelar, stderr, false);
  return DatabaseOpener(&dialogs).AbrirBancoAtual(nome);
}

// --ref-limit AAAA: the year limit of the current database, on either
// backend; the new one and the one before are printed.
int MudarRefLimite(const Opções& opções) {
  const std::shared_ptr<BancoAtual> banco = AbrirBancoDasOpções(opções);
  if (!banco) return BancoNãoAbriu();
  QString antes;
  try {
    const std::optional<QVariant> lido = banco->refLimite();
    antes = lido && !lido->isNull() ? lido->toString() : QStringLiteral("nenhum");
    banco->definirRefLimite(opções.refLimite);
  } catch (const DbError& e) {
    return Falha(QStringLiteral("o ano limite de \"%1\" não foi mudado: %2")
                     .arg(NomeSemSenha(banco->nome()), QString::fromStdString(e.status().ToString())),
                 kSaídaErro);
  }
  const bool ok = Escrever(
      stdout, QStringLiteral("%1: RefLimite %2 (antes: %3)\n").arg(NomeSemSenha(banco->nome()), opções.refLimite, antes));
  return ok ? kSaídaConcluída : kSaídaErro;
}

// --history N: the log of the current database.
int ListarHistórico(const Opções& opções) {
  const std::shared_ptr<BancoAtual> banco = AbrirBancoDasOpções(opções);
  if (!banco) return BancoNãoAbriu();
  std::vector<LinhaHistórico> linhas;
  try {
    if (!banco->temHistórico()) {
      return Falha(QStringLiteral("o banco de dados \"%1\" não tem histórico de importações (só os bancos "
                                  "criados pelo orlan-newdb o registram)")
                       .arg(NomeSemSenha(banco->nome())),
                   kSaídaNadaListado);
    }
    linhas = banco->histórico(opções.histórico);
  } catch (const DbError& e) {
    return Falha(QStringLiteral("o histórico de importações de \"%1\" não pôde ser lido: %2")
                     .arg(NomeSemSenha(banco->nome()), QString::fromStdString(e.status().ToString())),
                 kSaídaErro);
  }
  if (linhas.empty()) {
    return Falha(QStringLiteral("o histórico de importações de \"%1\" está vazio").arg(NomeSemSenha(banco->nome())),
                 kSaídaNadaListado);
  }
  QString texto;
  for (const LinhaHistórico& l : linhas) {
    const std::string_view resultado = TextoResultado(l.resultado);
    const QStringList campos = {Campo(l.momento),
                                Campo(l.origem.usuário),
                                Campo(l.origem.máquina),
                                Campo(l.origem.arquivo),
                                Campo(l.origem.sha256),
                                Campo(l.ie),
                                l.ref1.isValid() ? l.ref1.toString(Qt::ISODate) : QString(),
                                QString::fromUtf8(resultado.data(), static_cast<qsizetype>(resultado.size())),
                                Campo(l.anterior),
                                Campo(l.novo),
                                Campo(l.login),
                                Campo(l.arquivamento)};
    texto += campos.join(QLatin1Char('\t')) + QLatin1Char('\n');
  }
  Escrever(stdout, texto);
  return kSaídaConcluída;
}

// --prune-archive AAAA-MM-DD: the archived returns replaced before that day
// go; how many is printed.
int PodarArquivo(const Opções& opções) {
  const std::shared_ptr<BancoAtual> banco = AbrirBancoDasOpções(opções);
  if (!banco) return BancoNãoAbriu();
  int removidas = 0;
  try {
    if (!banco->temArquivo()) {
      return Falha(QStringLiteral("o banco de dados \"%1\" não guarda as declarações substituídas (só os bancos "
                                  "criados ou atualizados pelo orlan-newdb as guardam)")
                       .arg(NomeSemSenha(banco->nome())),
                   kSaídaNadaListado);
    }
    removidas = banco->podarArquivo(opções.podarAntes);
  } catch (const DbError& e) {
    return Falha(QStringLiteral("as declarações arquivadas de \"%1\" não foram removidas: %2")
                     .arg(NomeSemSenha(banco->nome()), QString::fromStdString(e.status().ToString())),
                 kSaídaErro);
  }
  const bool ok = Escrever(stdout, QStringLiteral("%1: %2 declaração(ões) arquivada(s) antes de %3 removida(s)\n")
                                       .arg(NomeSemSenha(banco->nome()))
                                       .arg(removidas)
                                       .arg(opções.podarAntes.toString(Qt::ISODate)));
  return ok ? kSaídaConcluída : kSaídaErro;
}

int DepoisDaLeitura(const Opções& opções, ctlOrlan& control, Ouvinte& ouvinte);

int Executar(const Opções& opções) {
  if (opções.histórico > 0) return ListarHistórico(opções);
  if (!opções.refLimite.isEmpty()) return MudarRefLimite(opções);
  if (opções.podarAntes.isValid()) return PodarArquivo(opções);
  const bool terminal_out = ::isatty(STDERR_FILENO) != 0;
  const bool terminal_in = ::isatty(STDIN_FILENO) != 0;

  ConsoleDialogs dialogs(opções.arquivo, opções.sobrescrever, stdout, terminal_in);
  ctlOrlan control(&dialogs);
  Ouvinte ouvinte(terminal_out, &control);
  dialogs.setAntesDeImprimir([&ouvinte] { ouvinte.limpar(); });
  control.setOuvinte(&ouvinte);
  control.setPedidoDeInterrupção([] { return g_sinal != 0; });
  // --db holds for this run only: the user's own "DbAtual" stays as it was.
  if (!opções.db.isEmpty()) {
    const QString nome = ÉEndereçoServidor(opções.db) ? opções.db : QFileInfo(opções.db).absoluteFilePath();
    control.setFonteConfiguração(std::make_unique<ConfiguraçãoFixa>(nome));
  }
  if (!opções.pasta_componente.isEmpty()) {
    const QString pasta = QFileInfo(opções.pasta_componente).absoluteFilePath();
    if (!CriarPastaComponente(pasta)) {
      return Falha(QStringLiteral("não foi possível criar a pasta ") + pasta, kSaídaErro);
    }
    control.setPastaComponente(pasta);
  }

  // The reference is typed before the file is chosen: the check run reads
  // the box, and the list is filled once.
  if (!opções.ref.isEmpty() && !control.txtRef_Alterar(opções.ref).ok()) return kSaídaErro;

  if (opções.restaurar > 0) {
    const Status s = control.restaurarArquivado(opções.restaurar);
    if (!control.bancoAtualAberto()) return BancoNãoAbriu();
    // The control has said why.
    if (!s.ok()) return s.number() == kErrNoCurrentRecord ? kSaídaNadaListado : kSaídaErro;
    return DepoisDaLeitura(opções, control, ouvinte);
  }
  if (!control.butSelecionarArquivo_Click().ok()) return kSaídaErro;
  // The control has said why; no file was read.
  if (!control.bancoAtualAberto()) return BancoNãoAbriu();
  if (!ouvinte.houve(Evento::IniciouLeitura)) {
    // The only ways a click with a given file ends before its check run: the
    // file is missing or no file, or its network copy failed (the control
    // said why, and the second dialog was cancelled).
    return kSaídaArquivo;
  }
  if (!ouvinte.houve(Evento::FinalizouLeitura)) return kSaídaErro;
  // A file the checker could not read or rejected has been explained by the
  // checker's own message already.
  if (control.resultadoVerificação() == kFalhaAoGravarBanco) {
    return Falha(QStringLiteral("o banco temporário não foi gravado"), kSaídaErro);
  }
  if (control.resultadoVerificação() != kVerificaçãoAceita) return kSaídaArquivo;
  return DepoisDaLeitura(opções, control, ouvinte);
}

// What follows an accepted check (or a return brought from the archive):
// the selection, then the list, the dry run or the import.
int DepoisDaLeitura(const Opções& opções, ctlOrlan& control, Ouvinte& ouvinte) {
  // A signal during the check: nothing is imported.
  if (g_sinal != 0) return kSaídaInterrompida;

  const std::vector<ItemLista>& itens = control.itens();
  const ctlOrlan::ContagemLista& contagem = control.contagemLista();
  if (itens.empty()) {
    Escrever(stderr, QStringLiteral("orlan-import: lista vazia: %1\n").arg(MotivoDaListaVazia(contagem)));
  } else if (contagem.apósLimite > 0) {
    Escrever(stderr, QStringLiteral("orlan-import: %1\n").arg(TextoOcultasPeloLimite(contagem)));
  }

  // The selection as --select makes it (IEs in any letter case, as the
  // databases compare them); --list and --dry-run show that same selection.
  QSet<QString> ies;
  for (const QString& ie : opções.ies) ies.insert(ie.toCaseFolded());
  QSet<QString> encontradas;
  int selecionados = 0;
  for (int i = 0; i < static_cast<int>(itens.size()); ++i) {
    const QString ie = itens[i].colunas[0].toCaseFolded();
    const bool escolhido = opções.selecionar_todos || ies.contains(ie);
    if (escolhido) {
      ++selecionados;
      encontradas.insert(ie);
    }
    control.selecionarItem(i, escolhido);
  }
  if (!opções.selecionar_todos) {
    for (const QString& ie : opções.ies) {
      if (!encontradas.contains(ie.toCaseFolded()))
        Escrever(stderr, QStringLiteral("orlan-import: IE %1 não está na lista\n").arg(ie));
    }
  }

  if (opções.listar || opções.simular) {
    std::vector<bool> existe;
    if (opções.simular && !control.existentesNoBancoAtual(&existe).ok()) return kSaídaErro;
    QString text;
    for (size_t i = 0; i < itens.size(); ++i) {
      const ItemLista& item = itens[i];
      if (!item.selecionado) continue;
      text += item.colunas[0] + QLatin1Char('\t') + item.colunas[1] + QLatin1Char('\t') + item.colunas[2] +
              QLatin1Char('\t') + item.colunas[3];
      if (opções.simular) text += existe.at(i) ? QStringLiteral("\texiste") : QStringLiteral("\tnovo");
      text += QLatin1Char('\n');
    }
    Escrever(stdout, text);
    return selecionados == 0 ? kSaídaNadaListado : kSaídaConcluída;
  }

  // Importar runs even with nothing selected: the control then tells the
  // user so, as it would in the window.
  const Status status = control.butImportar_Click();
  ouvinte.limpar();
  if (ouvinte.houve(Evento::IniciouImportação)) ImprimirResumo(control.resumo());
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
  InstalarSinais();
  const int status = Executar(opções);
  // A signal ends the run as Cancel would; its status says which one came,
  // whatever else went wrong meanwhile.
  if (const int sinal = g_sinal; sinal != 0) {
    return Falha(
        QStringLiteral("interrompido por %1; o que já foi importado fica no banco atual").arg(NomeDoSinal(sinal)),
        128 + sinal);
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    return Falha(QStringLiteral("a saída padrão não pôde ser gravada (disco cheio ou leitor encerrado)"), kSaídaErro);
  }
  return status;
}
