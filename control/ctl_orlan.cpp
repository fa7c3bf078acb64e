#include "control/ctl_orlan.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QRegularExpression>
#include <QStandardPaths>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "checker/cons_pre.h"
#include "control/database_opener.h"
#include "control/importacao_dialogos.h"
#include "database/schema.h"
#include "database/sqlite/recordset.h"
#include "database/sqlite/sqlite_schema.h"
#include "import/importacao.h"

namespace orlan {

namespace {

const QString kTítuloAtenção = QStringLiteral("Atenção!");
const QString kFiltroTodos = QStringLiteral("'*'");

// Faults listed in the rejection message; the rest are in the report.
constexpr int kFalhasNaMensagem = 10;

// Month abbreviations in Portuguese capitals, for the semester label.
const char* const kMeses[] = {"JAN", "FEV", "MAR", "ABR", "MAI", "JUN",
                              "JUL", "AGO", "SET", "OUT", "NOV", "DEZ"};

QString RótuloSemestre(const QDate& ref2) {
  const int m = ref2.month();
  if (m < 1 || m > 12) return QString();
  return QString::fromLatin1(kMeses[m - 1]) + (m <= 6 ? QStringLiteral("/JUN") : QStringLiteral("/DEZ"));
}

QDate DataDe(const QVariant& v) {
  if (v.typeId() == QMetaType::QDate) return v.toDate();
  if (v.typeId() == QMetaType::QDateTime) return v.toDateTime().date();
  return QDate();
}

// The Ref1 that a filter text selects: "'*'" selects every Ref1 (invalid
// date); "#20/MM/YYYY#" selects that day; a date selects itself.
QDate DataDoFiltro(const QVariant& filtro) {
  if (filtro.typeId() == QMetaType::QDate) return filtro.toDate();
  static const QRegularExpression literal(QStringLiteral("^#(\\d{2})/(\\d{2})/(\\d{4})#$"));
  const QRegularExpressionMatch m = literal.match(filtro.toString());
  if (!m.hasMatch()) return QDate();
  return QDate(m.captured(3).toInt(), m.captured(2).toInt(), m.captured(1).toInt());
}

// True for an empty box or a complete, valid month: the texts that form a
// filter. Anything else is a reference still being typed.
bool ReferênciaCompleta(const QString& mostrado) {
  static const QRegularExpression completo(QStringLiteral("^(\\d{2})/(\\d{4})$"));
  const QRegularExpressionMatch m = completo.match(mostrado);
  if (!m.hasMatch()) return false;
  const int mês = m.captured(1).toInt();
  return mês >= 1 && mês <= 12;
}

// The order of a column heading's click: the reference by year and month,
// then its semester; the other columns as the user's language sorts text.
bool Antes(const ItemLista& a, const ItemLista& b, int coluna) {
  const QString& x = a.colunas[coluna];
  const QString& y = b.colunas[coluna];
  if (coluna == 2) {
    const QString mês_x = x.mid(3, 4) + x.left(2);
    const QString mês_y = y.mid(3, 4) + y.left(2);
    if (mês_x != mês_y) return mês_x < mês_y;
    return x < y;
  }
  return x.localeAwareCompare(y) < 0;
}

[[noreturn]] void ErroDeArquivo(const QString& doing) { throw DbError(kErrIo, doing.toStdString()); }

// Places a component folder offers: one per window or batch run of its user
// at the same time.
constexpr int kLugaresNaPasta = 16;

// The suffix of place `n` (1-based): the first keeps the plain names.
QString SufixoDoLugar(int n) { return n == 1 ? QString() : QStringLiteral("-%1").arg(n); }

// "1 falha", "2 falhas".
QString Falhas(qlonglong n) { return n == 1 ? QStringLiteral("1 falha") : QStringLiteral("%1 falhas").arg(n); }

const QString kSelecioneArquivo =
    QStringLiteral("Selecione um arquivo existente para a importação do arquivo Pré-formatado!");

// Why `caminho` cannot be the file to check; empty when it names a file.
QString ProblemaDoArquivo(const QString& caminho) {
  const QFileInfo arquivo(caminho);
  if (arquivo.isDir()) {
    return QStringLiteral("\"%1\" é uma pasta, não um arquivo!\r\n\r\n").arg(caminho) + kSelecioneArquivo;
  }
  // A name whose bytes are not UTF-8 reaches us with U+FFFD in their place:
  // the file under that name, if any, is another one.
  if (caminho.contains(QChar::ReplacementCharacter)) {
    return QStringLiteral("O nome do arquivo tem caracteres que não são UTF-8 e não pode ser aberto!\r\n\r\n"
                          "Renomeie o arquivo e selecione-o de novo.");
  }
  if (arquivo.exists()) return QString();
  return QStringLiteral("O nome do arquivo não existe!\r\n\r\n") + kSelecioneArquivo;
}

// `texto`, and the system's words for errno on a line of their own.
QString ComDetalhe(const QString& texto) {
  return texto + QStringLiteral("\r\nDetalhe: ") + QString::fromLocal8Bit(std::strerror(errno));
}

// Copies the network file `origem` to `cópia` (where nothing may be),
// readable by its owner alone. The copy is made anew, never through a link
// planted meanwhile. Empty on success; otherwise why not, and no partial
// copy stays.
QString CopiarArquivoDeRede(const QString& origem, const QString& cópia) {
  const QByteArray destino = QFile::encodeName(cópia);
  const auto falha = [&](const QString& motivo) {
    return ComDetalhe(QStringLiteral("O arquivo de rede \"%1\" não pôde ser copiado para \"%2\": %3.")
                          .arg(origem, cópia, motivo));
  };
  const auto falha_ao_gravar = [&] {
    return falha(errno == ENOSPC || errno == EDQUOT ? QStringLiteral("o disco está cheio")
                                                    : QStringLiteral("a cópia não pôde ser gravada"));
  };
  const int entrada = ::open(QFile::encodeName(origem).constData(), O_RDONLY | O_CLOEXEC);
  if (entrada < 0) return falha(QStringLiteral("o arquivo não pôde ser lido"));
  const int saída = ::open(destino.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (saída < 0) {
    const QString texto = falha(QStringLiteral("a cópia não pôde ser criada"));
    ::close(entrada);
    return texto;
  }
  QString erro;
  char bloco[64 * 1024];
  for (;;) {
    const ssize_t lidos = ::read(entrada, bloco, sizeof bloco);
    if (lidos < 0 && errno == EINTR) continue;
    if (lidos < 0) erro = falha(QStringLiteral("o arquivo não pôde ser lido"));
    if (lidos <= 0) break;
    for (ssize_t feitos = 0; feitos < lidos && erro.isEmpty();) {
      const ssize_t n = ::write(saída, bloco + feitos, static_cast<size_t>(lidos - feitos));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        erro = falha_ao_gravar();
      } else {
        feitos += n;
      }
    }
    if (!erro.isEmpty()) break;
  }
  if (erro.isEmpty() && ::fsync(saída) != 0) erro = falha_ao_gravar();
  if (::close(saída) != 0 && erro.isEmpty()) erro = falha_ao_gravar();
  ::close(entrada);
  if (!erro.isEmpty()) ::unlink(destino.constData());
  return erro;
}

}  // namespace

QString MotivoDaListaVazia(const ctlOrlan::ContagemLista& c) {
  if (c.documentos == 0) return QStringLiteral("o arquivo não tem declarações");
  if (c.semAnoLimite) {
    return QStringLiteral("o banco de dados atual não tem o ano limite de referência (tblPerola está vazia)");
  }
  if (c.daReferência == 0) return QStringLiteral("nenhuma declaração é da referência %1").arg(c.referência);
  if (c.apósLimite >= c.daReferência) {
    const QString de =
        c.referência.isEmpty() ? QStringLiteral("do arquivo") : QStringLiteral("da referência ") + c.referência;
    return c.daReferência == 1 ? QStringLiteral("a declaração %1 é posterior a %2").arg(de, c.anoLimite)
                               : QStringLiteral("as %1 declarações %2 são posteriores a %3")
                                     .arg(QString::number(c.daReferência), de, c.anoLimite);
  }
  return QStringLiteral("nenhuma declaração foi listada");
}

QString TextoOcultasPeloLimite(const ctlOrlan::ContagemLista& c) {
  if (c.apósLimite == 0) return QString();
  return c.apósLimite == 1 ? QStringLiteral("1 declaração posterior a %1 não aparece na lista").arg(c.anoLimite)
                           : QStringLiteral("%1 declarações posteriores a %2 não aparecem na lista")
                                 .arg(c.apósLimite)
                                 .arg(c.anoLimite);
}

bool CriarPastaComponente(const QString& folder) {
  if (QFileInfo(folder).isDir()) return true;
  const QFileDevice::Permissions só_do_dono = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
  // Another run of the user may make it at the same moment.
  return (QDir().mkpath(QFileInfo(folder).absolutePath()) && QDir().mkdir(folder, só_do_dono)) ||
         QFileInfo(folder).isDir();
}

QString PastaComponentePadrão() {
  const QString folder =
      QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/VmbOrlan");
  QDir().mkpath(folder);
  QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  return folder;
}

const char* NomeEvento(Evento e) {
  switch (e) {
    case Evento::Fechar:
      return "Fechar";
    case Evento::IniciouLeitura:
      return "IniciouLeitura";
    case Evento::NoMeio:
      return "NoMeio";
    case Evento::FinalizouLeitura:
      return "FinalizouLeitura";
    case Evento::IniciouImportação:
      return "IniciouImportação";
    case Evento::FinalizouImportação:
      return "FinalizouImportação";
  }
  return "?";
}

// The control's state, and its two faces toward the checker and the engine.
class ctlOrlan::Impl : public OuvinteConsPre {
 public:
  explicit Impl(Dialogs* dialogs)
      : dialogs_(dialogs),
        configuração_(std::make_unique<ConfiguraçãoUsuário>()),
        pasta_(PastaComponentePadrão()),
        anfitrião_(
            *dialogs, [this](Evento e) { raise(e); }, [this] { return pedido_interrupção_ && pedido_interrupção_(); },
            [this](bool sim) {
              aguardando_ = sim;
              if (ouvinte_ != nullptr) ouvinte_->onAguardando(sim);
            },
            &estado_) {}

  // Runs one action of the user or the host: refused while another runs;
  // any failure becomes a message and the Status.
  Status ação(const std::function<void()>& trabalho);
  Status ocupado() const {
    return Status(kErrBusy, "O controle está ocupado com outra ação; tente de novo quando ela terminar.");
  }
  void mostrarErro(const Status& s) {
    dialogs_->message(QString::fromStdString(s.ToString()), kTítuloAtenção, kEstiloCritico);
  }
  void raise(Evento evento) {
    if (ouvinte_ != nullptr) ouvinte_->onEvento(evento);
  }
  DatabaseOpener& abridor() {
    if (!abridor_) abridor_ = std::make_unique<DatabaseOpener>(dialogs_);
    return *abridor_;
  }
  QString caminhoBancoTemp() const { return pasta_ + QStringLiteral("/BDTempPrf") + sufixo_ + QStringLiteral(".fix"); }
  QString caminhoCópiaRede() const { return pasta_ + QStringLiteral("/Prefor_Qur") + sufixo_ + QStringLiteral(".trm"); }
  // Takes, for the control's life, a place in the component folder that no
  // other window or run of the user holds, so that none of them deletes or
  // replaces this control's temporary database or network copy while it
  // lists or imports from them.
  void reservarLugar();
  void mudarPasta(const QString& pasta) {
    reserva_.reset();
    sufixo_.clear();
    pasta_ = pasta;
  }

  void selecionarArquivo();
  // Opens the current database the configuration names, unless one is held;
  // false (the user told why) when there is none to work with.
  bool abrirBancoAtual();
  void trocarBancoAtual();
  void ordenar();
  QString passoDiálogoArquivo();
  void execuçãoVerificação();
  void restaurar(std::int64_t arquivamento);
  // Deletes the temporary database of the last check run, releasing it first.
  void descartarBancoTemp();
  // What an accepted check run or restore does last: the list filled.
  void mostrarAceito();
  QString mensagemRejeição() const;
  void criarColunas();
  void preencherLista();
  void limparSeleção();
  // Stores the box's filter in Ref1Documento; true when it changed.
  bool Ref1Filtro();
  QString txtRefEntrada() const;
  Status importar();

  // OuvinteConsPre
  void ConsPre_Progresso() override { raise(Evento::NoMeio); }
  void ConsPre_Fechar() override { abridor().CloseDatabase(caminhoBancoTemp()); }

  Dialogs* dialogs_;
  OuvinteOrlan* ouvinte_ = nullptr;
  std::unique_ptr<FonteConfiguração> configuração_;
  std::function<bool()> pedido_interrupção_;
  std::function<bool()> foco_ref_;
  std::function<bool()> sem_banco_;
  bool aguardando_ = false;  // an import waits for another user's returns
  QString pasta_;
  QString sufixo_;                       // the reserved place's suffix of the file names
  std::unique_ptr<QLockFile> reserva_;   // held while the control lives
  bool ocupado_ = false;

  QString CaminhoBancoAtual;
  QString ArquivoPre;
  bool ColunasCriadas = false;
  std::unique_ptr<DatabaseOpener> abridor_;
  std::unique_ptr<ConsPre> cons_pre_;
  std::int16_t resultado_verificação_ = kVerificaçãoNãoFeita;
  QString relatório_verificação_;
  EstadoImportação estado_;

  std::vector<ItemLista> itens_;
  std::vector<ColunaLista> colunas_;
  int largura_lista_ = 10185;
  QString txt_arq_pre_;
  bool importar_habilitado_ = true;
  QString txt_ref_ = QStringLiteral("__/____");
  QString nome_diálogo_;       // the file dialog keeps the name of its previous opening
  QString arquivo_escolhido_;  // the name the user picked; ArquivoPre may be its local copy
  ContagemLista contagem_;
  int coluna_ordem_ = -1;  // the heading clicked last; -1: the fill's order
  bool crescente_ = true;
  ImportaçãoPorDiálogos anfitrião_;
};

Status ctlOrlan::Impl::ação(const std::function<void()>& trabalho) {
  if (ocupado_) return ocupado();
  ocupado_ = true;
  Status status;
  try {
    trabalho();
  } catch (...) {
    status = StatusFromCurrentException("A ação parou por uma falha inesperada.");
  }
  ocupado_ = false;
  if (!status.ok()) mostrarErro(status);
  return status;
}

// --- file selection and check run -------------------------------------------

void ctlOrlan::Impl::reservarLugar() {
  if (reserva_) return;
  CriarPastaComponente(pasta_);
  for (int n = 1; n <= kLugaresNaPasta; ++n) {
    auto trava = std::make_unique<QLockFile>(pasta_ + QStringLiteral("/.BDTempPrf") + SufixoDoLugar(n) +
                                             QStringLiteral(".lock"));
    // Held as long as a window stays open: only a holder that is gone
    // (its process ended) makes a lock stale, never its age.
    trava->setStaleLockTime(0);
    if (trava->tryLock(0)) {
      reserva_ = std::move(trava);
      sufixo_ = SufixoDoLugar(n);
      return;
    }
    if (trava->error() == QLockFile::PermissionError) break;
  }
  throw DbError(kErrLocked, QStringLiteral("Não foi possível reservar o banco temporário na pasta \"%1\": "
                                           "outras janelas ou importações deste usuário já usam todos os lugares "
                                           "dela. Feche uma delas e tente de novo.")
                                .arg(pasta_)
                                .toStdString());
}

bool ctlOrlan::Impl::abrirBancoAtual() {
  CaminhoBancoAtual = configuração_->bancoAtual();
  if (estado_.BancoAtual) return true;
  if (CaminhoBancoAtual.isEmpty()) {
    if (!sem_banco_) {
      dialogs_->message(QStringLiteral("Nenhum banco de dados atual foi escolhido.\r\n\r\n"
                                       "Escolha o banco de dados em que as declarações serão gravadas "
                                       "antes de escolher o arquivo pré-formatado."),
                        kTítuloAtenção, kEstiloCritico);
      return false;
    }
    if (!sem_banco_()) return false;
    CaminhoBancoAtual = configuração_->bancoAtual();
    if (CaminhoBancoAtual.isEmpty()) return false;
  }
  estado_.BancoAtual = abridor().AbrirBancoAtual(CaminhoBancoAtual);
  return estado_.BancoAtual != nullptr;
}

void ctlOrlan::Impl::selecionarArquivo() {
  reservarLugar();
  itens_.clear();
  contagem_ = ContagemLista{};
  // Without a current database no list can be filled: the file dialog
  // would lead nowhere.
  if (!abrirBancoAtual()) return;
  for (;;) {
    ArquivoPre = passoDiálogoArquivo();
    if (ArquivoPre.isEmpty()) return;
    const QString problema = ProblemaDoArquivo(ArquivoPre);
    if (problema.isEmpty()) break;
    dialogs_->message(problema, kTítuloAtenção, kEstiloCritico);
  }
  execuçãoVerificação();
}

QString ctlOrlan::Impl::passoDiálogoArquivo() {
  // The previous network copy goes first, whatever the answer: a link
  // itself, never what it points to. The user's Cancel ends the step with no
  // name and no message.
  const QString cópia = caminhoCópiaRede();
  if (::unlink(QFile::encodeName(cópia).constData()) != 0 && errno != ENOENT) {
    dialogs_->message(
        ComDetalhe(QStringLiteral("A cópia anterior de um arquivo de rede, \"%1\", não pôde ser apagada.").arg(cópia)),
        kTítuloAtenção, kEstiloCritico);
    return QString();
  }
  FileDialogRequest pedido;
  pedido.filters = {{QStringLiteral("Todos os arquivos (*.*)"), QStringLiteral("*.*")},
                    {QStringLiteral("(*.prf)"), QStringLiteral("*.prf")},
                    {QStringLiteral(" (*.prf)"), QStringLiteral("*.prf")}};
  pedido.filter_index = 3;
  pedido.hide_read_only = true;
  pedido.file_name = nome_diálogo_;
  const FileDialogReply resposta = dialogs_->openFile(pedido);
  if (resposta.cancelled) return QString();

  nome_diálogo_ = resposta.path;
  txt_arq_pre_ = resposta.path;
  arquivo_escolhido_ = resposta.path;
  const bool rede = resposta.path.startsWith(QStringLiteral("\\\\")) || resposta.path.startsWith(QStringLiteral("//"));
  // A network name that is no file is told as a local one would be.
  if (!rede || !ProblemaDoArquivo(resposta.path).isEmpty()) return resposta.path;
  // The copy holds taxpayers' data: its owner alone may read it.
  CriarPastaComponente(pasta_);
  const QString erro = CopiarArquivoDeRede(resposta.path, cópia);
  if (erro.isEmpty()) return cópia;
  dialogs_->message(erro, kTítuloAtenção, kEstiloCritico);
  return QString();
}

void ctlOrlan::Impl::descartarBancoTemp() {
  // The temporary database they described is about to go.
  estado_.ArquivoOrigem.clear();
  estado_.Sha256Origem.clear();
  estado_.RestauraçãoOrigem = false;
  const QString temp = caminhoBancoTemp();
  if (QFileInfo::exists(temp)) {
    estado_.BancoTemp = abridor().OpenDatabase(temp);
    if (estado_.BancoTemp) abridor().CloseDatabase(temp);
    if (!QFile::remove(temp)) ErroDeArquivo(QStringLiteral("Não foi possível apagar o banco temporário ") + temp);
  }
}

void ctlOrlan::Impl::mostrarAceito() {
  importar_habilitado_ = true;
  raise(Evento::NoMeio);
  criarColunas();
  raise(Evento::NoMeio);
  // The reference handler stores the box's filter; one fill follows in any case.
  Ref1Filtro();
  preencherLista();
  if (foco_ref_) foco_ref_();
  raise(Evento::NoMeio);
}

void ctlOrlan::Impl::restaurar(std::int64_t arquivamento) {
  reservarLugar();
  itens_.clear();
  contagem_ = ContagemLista{};
  if (!abrirBancoAtual()) return;
  raise(Evento::IniciouLeitura);
  resultado_verificação_ = kVerificaçãoNãoFeita;
  relatório_verificação_.clear();
  descartarBancoTemp();
  raise(Evento::NoMeio);
  const QString temp = caminhoBancoTemp();
  try {
    CriarPastaComponente(pasta_);
    {
      std::shared_ptr<Database> novo;
      const Status criado = Database::Open(QFile::encodeName(temp).toStdString(), Database::OpenMode::kCreate, &novo);
      if (!criado.ok()) throw DbError(criado);
      schema::CreateTemporaryTables(*novo);
      novo->close();
    }
    estado_.BancoAtual->extrairArquivado(arquivamento, QFile::encodeName(temp).toStdString());
    estado_.BancoTemp = abridor().OpenDatabase(temp);
    if (!estado_.BancoTemp) throw DbError(abridor().lastError());
    schema::CreateTemporaryIndexes(*estado_.BancoTemp);
  } catch (...) {
    // Nothing half made stays under the temporary database's name.
    abridor().CloseDatabase(temp);
    estado_.BancoTemp.reset();
    QFile::remove(temp);
    raise(Evento::FinalizouLeitura);
    throw;
  }
  estado_.ArquivoOrigem = QStringLiteral("arquivamento %1").arg(arquivamento);
  estado_.RestauraçãoOrigem = true;
  ArquivoPre.clear();
  arquivo_escolhido_.clear();
  txt_arq_pre_ = estado_.ArquivoOrigem;
  resultado_verificação_ = kVerificaçãoAceita;
  mostrarAceito();
  raise(Evento::FinalizouLeitura);
}

void ctlOrlan::Impl::execuçãoVerificação() {
  raise(Evento::IniciouLeitura);
  descartarBancoTemp();
  raise(Evento::NoMeio);

  const QString temp = caminhoBancoTemp();
  CriarPastaComponente(pasta_);
  cons_pre_ = std::make_unique<ConsPre>(this, temp);
  cons_pre_->SetInputFile(ArquivoPre);
  resultado_verificação_ = cons_pre_->RunCheck();
  relatório_verificação_ = cons_pre_->report();
  if (resultado_verificação_ == kVerificaçãoAceita) {
    // The run log names the file the user picked, not the local copy of a
    // network file, and the bytes the check read.
    estado_.ArquivoOrigem = arquivo_escolhido_;
    estado_.Sha256Origem = cons_pre_->sha256();
    raise(Evento::NoMeio);
    if (!abridor().IsDatabaseOpen(temp)) estado_.BancoTemp = abridor().OpenDatabase(temp);
    mostrarAceito();
  } else {
    dialogs_->message(mensagemRejeição(), kTítuloAtenção, kEstiloCritico);
  }
  raise(Evento::FinalizouLeitura);
}

QString ctlOrlan::Impl::mensagemRejeição() const {
  const QString nome = QFileInfo(cons_pre_->inputFile()).fileName();
  const std::vector<FalhaArquivo>& falhas = cons_pre_->faults();
  QString texto;
  switch (resultado_verificação_) {
    case kArquivoIlegível:
      texto = QStringLiteral("O arquivo \"%1\" foi rejeitado: não pôde ser lido.").arg(nome);
      break;
    case kConteúdoInválido:
      texto = QStringLiteral("O arquivo \"%1\" foi rejeitado: não segue o formato do arquivo pré-formatado "
                             "(%2).")
                  .arg(nome, Falhas(static_cast<qlonglong>(falhas.size()) + cons_pre_->omittedFaults()));
      break;
    default:
      texto = QStringLiteral("O arquivo \"%1\" foi rejeitado: o banco de dados temporário não pôde ser gravado.")
                  .arg(nome);
      break;
  }
  texto += QStringLiteral("\n");
  const int mostradas = std::min<int>(kFalhasNaMensagem, static_cast<int>(falhas.size()));
  for (int i = 0; i < mostradas; ++i) texto += QStringLiteral("\n") + TextoFalha(falhas[i]);
  const qlonglong restantes = static_cast<qlonglong>(falhas.size()) - mostradas + cons_pre_->omittedFaults();
  if (restantes > 0) texto += QStringLiteral("\n... e mais %1.").arg(Falhas(restantes));
  return texto;
}

// --- the list -------------------------------------------------------------

void ctlOrlan::Impl::criarColunas() {
  if (ColunasCriadas) return;
  ColunasCriadas = true;
  colunas_ = {{QStringLiteral("Inscrição Estadual"), 1600},
              {QStringLiteral("Razão Social"), 6800},
              {QStringLiteral("Referência"), 1700},
              {QStringLiteral("NroQUR"), 0}};
  largura_lista_ = colunas_[0].larguraTwips + colunas_[1].larguraTwips + colunas_[2].larguraTwips + 90;
}

void ctlOrlan::Impl::preencherLista() {
  if (!estado_.BancoTemp || !estado_.BancoAtual) return;
  itens_.clear();
  contagem_ = ContagemLista{};
  contagem_.feita = true;

  // One row per document with a Ref1. A file may repeat a taxpayer's record;
  // the first one names the document, so that no document is listed twice.
  const std::string documentos =
      "FROM tblQUR q WHERE q.Ref1 IS NOT NULL AND EXISTS "
      "(SELECT 1 FROM tblContribuinte c WHERE c.IE = q.IE COLLATE NOCASE)";
  std::string sql =
      "SELECT q.IE AS IE, "
      "(SELECT c.\"RazãoSocial\" FROM tblContribuinte c WHERE c.IE = q.IE COLLATE NOCASE ORDER BY c.Id LIMIT 1) "
      "AS \"RazãoSocial\", q.RegTrib AS RegTrib, q.NroQUR AS NroQUR, q.Ref1 AS Ref1, q.Ref2 AS Ref2 " +
      documentos;
  Params params;
  const QDate filtro = DataDoFiltro(estado_.Ref1Documento);
  if (filtro.isValid()) {
    sql += " AND q.Ref1 = ?";
    params.push_back(filtro);
    contagem_.referência = filtro.toString(QStringLiteral("MM/yyyy"));
  }
  sql += " ORDER BY substr(q.IE, -1), q.IE, q.NroQUR";
  contagem_.documentos = estado_.BancoTemp->scalar("SELECT count(*) " + documentos).toInt();

  Recordset linhas = estado_.BancoTemp->openQuery(sql, params);
  bool limite_lido = false;
  QVariant limite;
  for (; !linhas.eof(); linhas.moveNext()) {
    if (!limite_lido) {
      const std::optional<QVariant> lido = estado_.BancoAtual->refLimite();
      if (!lido) {
        contagem_.semAnoLimite = true;
        dialogs_->message(QStringLiteral("O banco de dados atual não tem o ano limite de referência "
                                         "(a tabela tblPerola não tem registro).\r\n\r\n"
                                         "Nenhum documento pode ser listado."),
                          kTítuloAtenção, kEstiloCritico);
        break;
      }
      limite = *lido;
      if (!limite.isNull()) contagem_.anoLimite = limite.toString();
      limite_lido = true;
    }
    const QDate ref1 = DataDe(linhas.value("Ref1"));
    if (!ref1.isValid()) {
      throw DbError(kErrOther, "O documento NroQUR " + linhas.value("NroQUR").toString().toStdString() +
                                   " do banco temporário tem uma Ref1 que não é data.");
    }
    ++contagem_.daReferência;
    const QString ano = ref1.toString(QStringLiteral("yyyy"));
    if (!limite.isNull() && ano > limite.toString()) {
      ++contagem_.apósLimite;
      continue;
    }

    ItemLista item;
    item.colunas[0] = linhas.value("IE").toString();
    item.colunas[1] = linhas.value("RazãoSocial").toString();
    QString referência = ref1.toString(QStringLiteral("MM/yyyy"));
    if (linhas.value("RegTrib").toString() == QLatin1String("02")) {
      const QDate ref2 = DataDe(linhas.value("Ref2"));
      if (ref2.isValid()) referência += QStringLiteral(" (") + RótuloSemestre(ref2) + QStringLiteral(")");
    }
    item.colunas[2] = referência;
    item.chave = static_cast<std::int32_t>(linhas.value("NroQUR").toLongLong());
    item.colunas[3] = QString::number(item.chave);
    itens_.push_back(std::move(item));
  }
  limparSeleção();
  ordenar();
}

void ctlOrlan::Impl::ordenar() {
  if (coluna_ordem_ < 0) return;
  const int coluna = coluna_ordem_;
  const bool crescente = crescente_;
  std::stable_sort(itens_.begin(), itens_.end(), [coluna, crescente](const ItemLista& a, const ItemLista& b) {
    return crescente ? Antes(a, b, coluna) : Antes(b, a, coluna);
  });
}

void ctlOrlan::Impl::trocarBancoAtual() {
  if (estado_.BancoAtual) {
    estado_.BancoAtual->fechar();
    estado_.BancoAtual.reset();
  }
  if (!contagem_.feita) return;
  std::vector<std::int32_t> selecionados;
  for (const ItemLista& item : itens_) {
    if (item.selecionado) selecionados.push_back(item.chave);
  }
  itens_.clear();
  contagem_ = ContagemLista{};
  if (!abrirBancoAtual()) return;
  preencherLista();
  for (ItemLista& item : itens_) {
    item.selecionado = std::find(selecionados.begin(), selecionados.end(), item.chave) != selecionados.end();
  }
}

void ctlOrlan::Impl::limparSeleção() {
  if (!estado_.BancoAtual) return;
  for (ItemLista& item : itens_) item.selecionado = false;
}

// --- the reference box ----------------------------------------------------

QString ctlOrlan::Impl::txtRefEntrada() const {
  QString digits;
  for (QChar c : txt_ref_) {
    if (c.isDigit()) digits += c;
  }
  return digits;
}

bool ctlOrlan::Impl::Ref1Filtro() {
  const QVariant antigo = estado_.Ref1Documento;
  // Only an empty box or a complete, valid month forms a filter; a box left
  // half-typed is emptied, so that what it shows and what the list holds
  // agree.
  if (!txtRefEntrada().isEmpty() && !ReferênciaCompleta(txt_ref_)) txt_ref_ = QStringLiteral("__/____");
  const QVariant novo = txtRefEntrada().isEmpty() ? QVariant(kFiltroTodos)
                                                  : QVariant(QStringLiteral("#20/") + txt_ref_ + QStringLiteral("#"));
  estado_.Ref1Documento = novo;
  return novo != antigo;
}

// --- import -----------------------------------------------------------------

Status ctlOrlan::Impl::importar() {
  estado_.FalhaCadastro = Status::OK();
  std::vector<std::int32_t> chaves;
  for (const ItemLista& item : itens_) {
    if (item.selecionado) chaves.push_back(item.chave);
  }
  return ExecutarImportação(estado_, chaves, anfitrião_);
}

// --- ctlOrlan -----------------------------------------------------------------

ctlOrlan::ctlOrlan(Dialogs* dialogs) : d_(std::make_unique<Impl>(dialogs)) {}

ctlOrlan::~ctlOrlan() = default;

void ctlOrlan::setOuvinte(OuvinteOrlan* ouvinte) { d_->ouvinte_ = ouvinte; }

void ctlOrlan::setFonteConfiguração(std::unique_ptr<FonteConfiguração> fonte) {
  if (fonte) d_->configuração_ = std::move(fonte);
}

void ctlOrlan::setPastaComponente(const QString& folder) { d_->mudarPasta(folder); }
QString ctlOrlan::pastaComponente() const { return d_->pasta_; }
QString ctlOrlan::caminhoBancoTemp() const { return d_->caminhoBancoTemp(); }
bool ctlOrlan::aguardandoOutroUsuário() const { return d_->aguardando_; }

QString ctlOrlan::TextoAguardando() {
  return QStringLiteral("Aguardando outro usuário, que está gravando as mesmas declarações no banco de dados atual…");
}
QString ctlOrlan::caminhoCópiaRede() const { return d_->caminhoCópiaRede(); }
void ctlOrlan::setFocoReferência(std::function<bool()> foco) { d_->foco_ref_ = std::move(foco); }
void ctlOrlan::setSemBancoAtual(std::function<bool()> escolher) { d_->sem_banco_ = std::move(escolher); }
void ctlOrlan::setPedidoDeInterrupção(std::function<bool()> pedido) { d_->pedido_interrupção_ = std::move(pedido); }

Status ctlOrlan::cmdFim_Click() {
  return d_->ação([this] { d_->raise(Evento::Fechar); });
}

Status ctlOrlan::butSelecionarArquivo_Click() {
  return d_->ação([this] { d_->selecionarArquivo(); });
}

Status ctlOrlan::restaurarArquivado(std::int64_t arquivamento) {
  return d_->ação([this, arquivamento] { d_->restaurar(arquivamento); });
}

Status ctlOrlan::lerHistórico(int execuções, std::vector<LinhaHistórico>* linhas) {
  return d_->ação([this, execuções, linhas] {
    linhas->clear();
    if (d_->abrirBancoAtual()) *linhas = d_->estado_.BancoAtual->histórico(execuções);
  });
}

Status ctlOrlan::butImportar_Click() {
  const Status s = d_->ação([this] {
    const Status s = d_->importar();
    if (!s.ok()) throw DbError(s);
  });
  // A failed taxpayer copy ended the run with a message of its own, which
  // gave its cause already.
  return s.ok() ? d_->estado_.FalhaCadastro : s;
}

Status ctlOrlan::txtRef_Alterar(const QString& shown) {
  return d_->ação([this, &shown] {
    d_->txt_ref_ = shown.isEmpty() ? QStringLiteral("__/____") : shown;
    d_->limparSeleção();
    if (d_->txtRefEntrada().isEmpty() || ReferênciaCompleta(d_->txt_ref_)) {
      if (d_->Ref1Filtro()) d_->preencherLista();
    }
  });
}

Status ctlOrlan::txtRef_PrimeiraNotificação() {
  return d_->ação([this] { d_->limparSeleção(); });
}

Status ctlOrlan::txtRef_SegundaNotificação() {
  if (d_->ocupado_) return d_->ocupado();
  if (!d_->txtRefEntrada().isEmpty() && !ReferênciaCompleta(d_->txt_ref_)) return Status::OK();
  return d_->ação([this] {
    if (d_->Ref1Filtro()) d_->preencherLista();
  });
}

void ctlOrlan::selecionarItem(int index, bool selected) {
  if (d_->ocupado_) return;
  if (index >= 0 && index < static_cast<int>(d_->itens_.size())) d_->itens_[index].selecionado = selected;
}

Status ctlOrlan::ordenarLista(int coluna, bool crescente) {
  if (coluna < 0 || coluna > 2) {
    return Status(kErrInvalidOperation, "A lista só se ordena pelas colunas 0 a 2, não pela " +
                                            std::to_string(coluna) + ".");
  }
  return d_->ação([this, coluna, crescente] {
    d_->coluna_ordem_ = coluna;
    d_->crescente_ = crescente;
    d_->ordenar();
  });
}

Status ctlOrlan::trocarBancoAtual() {
  return d_->ação([this] { d_->trocarBancoAtual(); });
}

Status ctlOrlan::GravaIERemetentes() {
  if (d_->ocupado_) return d_->ocupado();
  return orlan::GravaIERemetentes(d_->estado_);
}

Status ctlOrlan::GravaCredAcum() {
  if (d_->ocupado_) return d_->ocupado();
  return orlan::GravaCredAcum(d_->estado_);
}

const std::vector<ItemLista>& ctlOrlan::itens() const { return d_->itens_; }
bool ctlOrlan::colunasCriadas() const { return d_->ColunasCriadas; }
const std::vector<ColunaLista>& ctlOrlan::colunas() const { return d_->colunas_; }
int ctlOrlan::larguraListaTwips() const { return d_->largura_lista_; }
const QString& ctlOrlan::txtArqPre() const { return d_->txt_arq_pre_; }
bool ctlOrlan::butImportarHabilitado() const { return d_->importar_habilitado_; }
const QString& ctlOrlan::txtRefTexto() const { return d_->txt_ref_; }
QString ctlOrlan::txtRefEntrada() const { return d_->txtRefEntrada(); }

const QString& ctlOrlan::CaminhoBancoAtual() const { return d_->CaminhoBancoAtual; }
const QString& ctlOrlan::ArquivoPre() const { return d_->ArquivoPre; }
const QString& ctlOrlan::ArquivoOrigem() const { return d_->estado_.ArquivoOrigem; }
const QString& ctlOrlan::Sha256Origem() const { return d_->estado_.Sha256Origem; }
QVariant ctlOrlan::IEDocumento() const { return d_->estado_.IEDocumento; }
QVariant ctlOrlan::Ref1Documento() const { return d_->estado_.Ref1Documento; }
std::int32_t ctlOrlan::NroQURTemp() const { return d_->estado_.NroQURTemp; }
std::int32_t ctlOrlan::NroQURNovo() const { return d_->estado_.NroQURNovo; }
std::int32_t ctlOrlan::QtdeSelecionados() const { return d_->estado_.QtdeSelecionados; }
std::int32_t ctlOrlan::CódigoOcorrênciaTemp() const { return d_->estado_.CódigoOcorrênciaTemp; }
std::int32_t ctlOrlan::CódigoOcorrênciaNovo() const { return d_->estado_.CódigoOcorrênciaNovo; }
const QString& ctlOrlan::IEAnterior() const { return d_->estado_.IEAnterior; }

bool ctlOrlan::bancoAtualAberto() const { return d_->estado_.BancoAtual && d_->estado_.BancoAtual->aberto(); }
bool ctlOrlan::bancoTempAberto() const { return d_->estado_.BancoTemp && d_->estado_.BancoTemp->isOpen(); }
std::int16_t ctlOrlan::resultadoVerificação() const { return d_->resultado_verificação_; }
QString ctlOrlan::relatórioVerificação() const { return d_->relatório_verificação_; }
double ctlOrlan::progressoVerificação() const { return d_->cons_pre_ ? d_->cons_pre_->fraçãoLida() : 0.0; }
int ctlOrlan::documentoEmCurso() const { return d_->estado_.DocumentoEmCurso; }
const ResumoImportação& ctlOrlan::resumo() const { return d_->estado_.resumo; }
const ctlOrlan::ContagemLista& ctlOrlan::contagemLista() const { return d_->contagem_; }

Status ctlOrlan::existentesNoBancoAtual(std::vector<bool>* existe) {
  existe->clear();
  if (d_->ocupado_) return d_->ocupado();
  EstadoImportação& e = d_->estado_;
  if (!e.BancoTemp || !e.BancoAtual) {
    return Status(kErrInvalidOperation,
                  "Os bancos de dados ainda não foram abertos: verifique um arquivo pré-formatado primeiro.");
  }
  try {
    std::unique_ptr<SessãoCópia> sessão = e.BancoAtual->abrirSessão(e.BancoTemp);
    for (const ItemLista& item : d_->itens_) {
      const QVariant ref1 = e.BancoTemp->scalar("SELECT Ref1 FROM tblQUR WHERE NroQUR = ?", {QVariant(item.chave)});
      const QDate data = QDate::fromString(ref1.toString().left(10), QStringLiteral("yyyy-MM-dd"));
      existe->push_back(sessão->retornoExistente(item.colunas[0], data).has_value());
    }
  } catch (...) {
    existe->clear();
    return StatusFromCurrentException("A consulta ao banco de dados atual parou por uma falha inesperada.");
  }
  return Status::OK();
}

}  // namespace orlan
