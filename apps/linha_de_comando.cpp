#include "linha_de_comando.h"

#include <algorithm>

namespace orlan::cli {

namespace {

QString NomeComTraços(const QString& nome) {
  return (nome.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + nome;
}

QString Nomes(const QCommandLineOption& opção) {
  QStringList nomes;
  for (const QString& n : opção.names()) nomes << NomeComTraços(n);
  QString texto = nomes.join(QStringLiteral(", "));
  if (!opção.valueName().isEmpty()) texto += QLatin1Char(' ') + opção.valueName();
  return texto;
}

}  // namespace

bool Escrever(std::FILE* f, const QString& text) {
  const QByteArray bytes = text.toUtf8();
  const size_t n = std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), f);
  return std::fflush(f) == 0 && n == static_cast<size_t>(bytes.size());
}

LinhaDeComando::LinhaDeComando(QString programa, QString sinopse, QString descrição)
    : programa_(std::move(programa)),
      sinopse_(std::move(sinopse)),
      descrição_(std::move(descrição)),
      ajuda_({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("mostra esta ajuda e sai")),
      versão_(QStringLiteral("version"), QStringLiteral("mostra a versão e sai")) {
  parser_.addOption(ajuda_);
  parser_.addOption(versão_);
}

void LinhaDeComando::adicionar(const QCommandLineOption& opção) {
  parser_.addOption(opção);
  opções_.push_back(opção);
}

void LinhaDeComando::adicionarArgumento(const QString& nome, const QString& descrição) {
  parser_.addPositionalArgument(nome, descrição);
  argumentos_.emplace_back(nome, descrição);
}

QString LinhaDeComando::textoDeUso() const {
  std::vector<std::pair<QString, QString>> linhas;
  for (const QCommandLineOption& o : opções_) linhas.emplace_back(Nomes(o), o.description());
  linhas.emplace_back(Nomes(ajuda_), ajuda_.description());
  linhas.emplace_back(Nomes(versão_), versão_.description());
  qsizetype largura = 0;
  for (const auto& [nomes, _] : linhas) largura = std::max(largura, nomes.size());
  for (const auto& [nome, _] : argumentos_) largura = std::max(largura, nome.size());
  largura = std::min<qsizetype>(largura, 32);
  auto formatar = [largura](const QString& nomes, const QString& descrição) {
    if (nomes.size() > largura) {
      return QStringLiteral("  %1\n  %2  %3\n").arg(nomes, QString(largura, QLatin1Char(' ')), descrição);
    }
    return QStringLiteral("  %1  %2\n").arg(nomes.leftJustified(largura), descrição);
  };

  QString texto = QStringLiteral("Uso: %1 %2\n%3\n").arg(programa_, sinopse_, descrição_);
  if (!argumentos_.empty()) {
    texto += QStringLiteral("\nArgumentos:\n");
    for (const auto& [nome, descrição] : argumentos_) texto += formatar(nome, descrição);
  }
  texto += QStringLiteral("\nOpções:\n");
  for (const auto& [nomes, descrição] : linhas) texto += formatar(nomes, descrição);
  if (!rodapé_.isEmpty()) texto += QLatin1Char('\n') + rodapé_;
  return texto;
}

QString LinhaDeComando::mensagemDoErro(const QStringList& args) const {
  auto procurar = [this](const QString& nome) -> const QCommandLineOption* {
    if (ajuda_.names().contains(nome)) return &ajuda_;
    if (versão_.names().contains(nome)) return &versão_;
    for (const QCommandLineOption& o : opções_) {
      if (o.names().contains(nome)) return &o;
    }
    return nullptr;
  };
  auto semValor = [](const QString& escrita, const QCommandLineOption& o) {
    return QStringLiteral("a opção %1 pede um valor (%2)").arg(escrita, o.valueName());
  };
  // The same walk QCommandLineParser makes, to name the argument as typed.
  for (int i = 1; i < args.size(); ++i) {
    const QString& a = args[i];
    if (a == QStringLiteral("--")) break;
    if (!a.startsWith(QLatin1Char('-')) || a == QStringLiteral("-")) continue;
    if (a.startsWith(QStringLiteral("--"))) {
      const QString escrita = a.section(QLatin1Char('='), 0, 0);
      const QCommandLineOption* o = procurar(escrita.mid(2));
      if (o == nullptr) return QStringLiteral("opção desconhecida: %1").arg(escrita);
      const bool com_igual = a.contains(QLatin1Char('='));
      if (o->valueName().isEmpty()) {
        if (com_igual) return QStringLiteral("a opção %1 não aceita valor").arg(escrita);
      } else if (!com_igual) {
        if (i + 1 >= args.size()) return semValor(escrita, *o);
        ++i;
      }
      continue;
    }
    for (int k = 1; k < a.size(); ++k) {
      const QCommandLineOption* o = procurar(a.mid(k, 1));
      if (o == nullptr) return QStringLiteral("opção desconhecida: %1").arg(a);
      if (o->valueName().isEmpty()) continue;
      if (k + 1 == a.size()) {
        if (i + 1 >= args.size()) return semValor(QStringLiteral("-") + a[k], *o);
        ++i;
      }
      break;
    }
  }
  return parser_.errorText();
}

std::optional<int> LinhaDeComando::analisar(const QStringList& args) {
  if (!parser_.parse(args)) return erroDeUso(mensagemDoErro(args));
  if (parser_.isSet(ajuda_)) return Escrever(stdout, textoDeUso()) ? kSaídaConcluída : kSaídaErro;
  if (parser_.isSet(versão_)) {
    const bool ok = Escrever(stdout, QStringLiteral("%1 %2\n").arg(programa_, QStringLiteral(ORLAN_VERSION)));
    return ok ? kSaídaConcluída : kSaídaErro;
  }
  return std::nullopt;
}

int LinhaDeComando::erroDeUso(const QString& mensagem) const {
  Escrever(stderr, QStringLiteral("%1: %2\nUso: %1 %3\nVeja %1 --help.\n").arg(programa_, mensagem, sinopse_));
  return kSaídaUso;
}

int LinhaDeComando::falha(const QString& mensagem, int status) const {
  Escrever(stderr, QStringLiteral("%1: %2\n").arg(programa_, mensagem));
  return status;
}

}  // namespace orlan::cli
