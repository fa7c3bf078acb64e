#include "checker/cons_pre.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/evp.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <limits>
#include <memory>

#include "checker/analisador_prf.h"
#include "checker/escritor_banco_temp.h"

namespace orlan {

namespace {

class Descritor {
 public:
  explicit Descritor(int fd) : fd_(fd) {}
  ~Descritor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descritor(const Descritor&) = delete;
  Descritor& operator=(const Descritor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

QString Erro(int número) { return QString::fromLocal8Bit(std::strerror(número)); }

// A check run killed while it wrote (or a machine that stopped) leaves its
// side file behind, full of taxpayers' data, and nothing else would ever
// remove it. Side files are named "<temporary database>.tmp-<pid>-<n>": those
// whose process no longer exists are deleted. A live process of another user
// (EPERM) or a reused pid keeps its files.
void RemoverLateraisÓrfãos(const QString& temporário) {
  const QFileInfo destino(temporário);
  const QString prefixo = destino.fileName() + QStringLiteral(".tmp-");
  const QDir pasta = destino.absoluteDir();
  for (const QString& nome : pasta.entryList({prefixo + QLatin1Char('*')}, QDir::Files | QDir::Hidden)) {
    bool ok = false;
    const qint64 pid = nome.mid(prefixo.size()).section(QLatin1Char('-'), 0, 0).toLongLong(&ok);
    if (!ok || pid <= 0 || pid > std::numeric_limits<pid_t>::max() || pid == ::getpid()) continue;
    if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) QFile::remove(pasta.filePath(nome));
  }
}

// The SHA-256 of one reading pass, through libcrypto's EVP interface, which
// uses the CPU's SHA instructions where it has them: fed in the reading loop,
// it then costs the check a few hundredths of a second per 50 MB.
class ResumoSha256 {
 public:
  ResumoSha256() : contexto_(EVP_MD_CTX_new()) {}

  void Recomeçar() {
    ok_ = contexto_ != nullptr && EVP_DigestInit_ex(contexto_.get(), EVP_sha256(), nullptr) == 1;
  }
  void Acrescentar(const char* dados, std::size_t tamanho) {
    ok_ = ok_ && EVP_DigestUpdate(contexto_.get(), dados, tamanho) == 1;
  }
  // 64 lowercase hexadecimal digits; empty when libcrypto failed on the way,
  // since a digest that may be wrong is worse than none.
  QString Hexadecimal() {
    unsigned char resumo[EVP_MAX_MD_SIZE];
    unsigned int tamanho = 0;
    const bool ok = ok_ && EVP_DigestFinal_ex(contexto_.get(), resumo, &tamanho) == 1;
    ok_ = false;
    if (!ok) {
      // Nothing of it must linger for another user of libcrypto in this thread.
      ERR_clear_error();
      return QString();
    }
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(resumo), static_cast<int>(tamanho)).toHex());
  }

 private:
  struct Liberar {
    void operator()(EVP_MD_CTX* contexto) const { EVP_MD_CTX_free(contexto); }
  };
  std::unique_ptr<EVP_MD_CTX, Liberar> contexto_;
  bool ok_ = false;
};

}  // namespace

// Raises Progresso at every phase, and while the file is read at most once
// per percent and never sooner than 20 ms after the previous one.
class ConsPre::Progresso {
 public:
  Progresso(OuvinteConsPre* ouvinte, double* fração) : ouvinte_(ouvinte), fração_(fração) {}

  void Fase() {
    último_ = std::chrono::steady_clock::now();
    if (ouvinte_ != nullptr) ouvinte_->ConsPre_Progresso();
  }

  // A new reading pass starts at 0 %.
  void Recomeçar() { percentual_ = -1; }

  void Leitura(std::uint64_t lidos, std::uint64_t total) {
    if (total == 0) return;
    *fração_ = std::min(1.0, static_cast<double>(lidos) / static_cast<double>(total));
    const int p = static_cast<int>(std::min<std::uint64_t>(100, lidos * 100 / total));
    if (p <= percentual_) return;
    if (std::chrono::steady_clock::now() - último_ < std::chrono::milliseconds(20)) return;
    percentual_ = p;
    Fase();
  }

 private:
  OuvinteConsPre* ouvinte_;
  double* fração_;
  std::chrono::steady_clock::time_point último_;
  int percentual_ = -1;
};

QString TextoFalha(const FalhaArquivo& f) {
  QString prefixo;
  if (f.linha > 0) {
    prefixo = QStringLiteral("Linha %1").arg(f.linha);
    if (!f.campo.empty()) prefixo += QStringLiteral(", campo %1").arg(QString::fromStdString(f.campo));
    prefixo += QStringLiteral(": ");
  }
  return prefixo + QString::fromStdString(f.mensagem);
}

ConsPre::ConsPre(OuvinteConsPre* listener, QString temporary_database)
    : listener_(listener), temporary_database_(std::move(temporary_database)) {}

ConsPre::~ConsPre() = default;

void ConsPre::SetInputFile(const QString& path) { input_file_ = path; }

void ConsPre::FalhaGeral(const QString& message) { faults_.push_back(FalhaArquivo{0, {}, message.toStdString()}); }

QString ConsPre::report() const {
  QStringList linhas;
  for (const FalhaArquivo& f : faults_) linhas << TextoFalha(f);
  if (omitted_faults_ > 0) linhas << QStringLiteral("... e mais %1 falhas não listadas.").arg(omitted_faults_);
  return linhas.join(QLatin1Char('\n'));
}

ResultadoVerificação ConsPre::RunCheck() {
  faults_.clear();
  omitted_faults_ = 0;
  fração_lida_ = 0;
  sha256_.clear();
  Progresso progresso(listener_, &fração_lida_);
  progresso.Fase();
  return Verificar(progresso);
}

ResultadoVerificação ConsPre::Verificar(Progresso& progresso) {
  if (input_file_.isEmpty()) {
    FalhaGeral(QStringLiteral("nenhum arquivo foi indicado"));
    return kArquivoIlegível;
  }
  const QByteArray entrada = QFile::encodeName(input_file_);
  // Only a regular file has an end: a device (/dev/zero) or a pipe could
  // feed the check for ever, and opening a pipe without O_NONBLOCK would wait
  // for a writer that may never come. O_NONBLOCK does nothing to a regular file.
  Descritor fd(::open(entrada.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd.get() < 0) {
    FalhaGeral(QStringLiteral("não foi possível abrir o arquivo: %1").arg(Erro(errno)));
    return kArquivoIlegível;
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    FalhaGeral(QStringLiteral("o caminho não é um arquivo comum"));
    return kArquivoIlegível;
  }
  const auto tamanho = static_cast<std::uint64_t>(st.st_size);

  if (temporary_database_.isEmpty()) {
    FalhaGeral(QStringLiteral("o caminho do banco de dados temporário não foi dado"));
    return kFalhaAoGravarBanco;
  }
  const std::string destino = QFile::encodeName(temporary_database_).toStdString();
  // Unique per process and per run, so that no two checks share a side file.
  static std::atomic<unsigned> execuções{0};
  const std::string lateral =
      destino + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(++execuções);
  RemoverLateraisÓrfãos(temporary_database_);

  // Slices small enough that every percent of the file is seen, large enough
  // that reading costs little.
  const std::size_t fatia = std::clamp<std::size_t>(tamanho / 200, 16 * 1024, 1024 * 1024);
  std::unique_ptr<char[]> buffer(new char[fatia]);

  std::unique_ptr<EscritorBancoTemp> escritor;
  std::unique_ptr<prf::Analisador> analisador;
  std::int64_t linha_utf8 = 0;
  // Fed in the reading loop itself: a second reading for the digest could
  // see other bytes than the check did.
  ResumoSha256 resumo;
  QString lido_inteiro;  // the digest of the last pass that read to the end
  try {
    for (prf::Codificação codificação : {prf::Codificação::kUtf8, prf::Codificação::kWindows1252}) {
      escritor.reset();
      escritor = std::make_unique<EscritorBancoTemp>(lateral);
      analisador = std::make_unique<prf::Analisador>(codificação, &escritor->ies(), escritor.get());
      if (linha_utf8 > 0) analisador->InformarLinhaUtf8Inválido(linha_utf8);
      if (::lseek(fd.get(), 0, SEEK_SET) != 0 && linha_utf8 > 0) {
        FalhaGeral(QStringLiteral("o arquivo não pôde ser relido: %1").arg(Erro(errno)));
        return kArquivoIlegível;
      }
      progresso.Recomeçar();
      resumo.Recomeçar();
      std::uint64_t lidos = 0;
      bool segue = true;
      while (segue) {
        const ssize_t n = ::read(fd.get(), buffer.get(), fatia);
        if (n < 0) {
          if (errno == EINTR) continue;
          FalhaGeral(QStringLiteral("erro ao ler o arquivo: %1").arg(Erro(errno)));
          return kArquivoIlegível;
        }
        if (n == 0) break;
        lidos += static_cast<std::uint64_t>(n);
        resumo.Acrescentar(buffer.get(), static_cast<std::size_t>(n));
        segue = analisador->Alimentar(buffer.get(), static_cast<std::size_t>(n));
        progresso.Leitura(lidos, tamanho);
      }
      if (segue) {
        analisador->Terminar();
        lido_inteiro = resumo.Hexadecimal();
      }
      fração_lida_ = 1;
      if (!analisador->utf8Inválido()) break;
      // Not UTF-8 as a whole: the file is Windows-1252 from its first byte.
      linha_utf8 = analisador->linhaUtf8Inválido();
      progresso.Fase();
    }
    sha256_ = lido_inteiro;

    faults_ = analisador->falhas();
    omitted_faults_ = static_cast<int>(std::min<std::int64_t>(analisador->falhasOmitidas(), INT32_MAX));
    if (analisador->vazio()) return kArquivoIlegível;
    if (analisador->totalFalhas() > 0) return kConteúdoInválido;

    progresso.Fase();
    escritor->Concluir([&progresso] { progresso.Fase(); });
    progresso.Fase();
  } catch (const DbError& e) {
    FalhaGeral(QString::fromStdString(e.status().ToString()));
    return kFalhaAoGravarBanco;
  }

  // The control lets go of the old temporary database before it is replaced.
  if (listener_ != nullptr) {
    try {
      listener_->ConsPre_Fechar();
    } catch (...) {
      ::unlink(lateral.c_str());
      throw;
    }
  }
  if (::rename(lateral.c_str(), destino.c_str()) != 0) {
    const int erro = errno;
    ::unlink(lateral.c_str());
    FalhaGeral(QStringLiteral("o banco de dados temporário não pôde ser posto em %1: %2")
                   .arg(temporary_database_, Erro(erro)));
    return kFalhaAoGravarBanco;
  }
  return kVerificaçãoAceita;
}

}  // namespace orlan
