// The command line as the four programs read it: QCommandLineParser with
// -h/--help and --version, a usage text in Portuguese, and one way to report
// bad usage (a message naming the option on standard error, exit 64).
#ifndef ORLAN_APPS_LINHA_DE_COMANDO_H_
#define ORLAN_APPS_LINHA_DE_COMANDO_H_

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <optional>
#include <utility>
#include <vector>

#include "saida.h"

namespace orlan::cli {

// Writes `text` as UTF-8 and flushes. False when the stream took it not
// whole (a full disk, a closed pipe); the stream's error flag stays set.
bool Escrever(std::FILE* f, const QString& text);

class LinhaDeComando {
 public:
  // `programa` names the program in the usage and in messages; `sinopse`
  // follows it on the usage line (e.g. "[opções] ARQUIVO"); `descrição` is
  // the paragraph under that line.
  LinhaDeComando(QString programa, QString sinopse, QString descrição);

  // An option to read and to show in the usage, in the order added.
  void adicionar(const QCommandLineOption& opção);
  // A positional argument, shown in the usage.
  void adicionarArgumento(const QString& nome, const QString& descrição);
  // Text after the options (exit statuses, examples).
  void setRodapé(QString texto) { rodapé_ = std::move(texto); }

  // Reads `args` (the program's name first, as QCoreApplication::arguments()
  // gives them). Empty when the program goes on; otherwise the status it
  // must exit with, after this printed what there was to print:
  // -h/--help: the usage on standard output, 0; --version: the name and the
  // project's version, 0; an unknown option, a missing value or a value
  // given to an option that takes none: a message naming it, 64. Output
  // that cannot be written: 4.
  std::optional<int> analisar(const QStringList& args);

  const QCommandLineParser& parser() const { return parser_; }
  const QString& programa() const { return programa_; }

  // Bad usage the program itself found (a value out of range, a missing
  // argument): `mensagem` on standard error with a pointer to --help.
  // Returns kSaídaUso.
  int erroDeUso(const QString& mensagem) const;

  // "programa: mensagem" on standard error; returns `status`.
  int falha(const QString& mensagem, int status) const;

  QString textoDeUso() const;

 private:
  QString mensagemDoErro(const QStringList& args) const;

  QString programa_;
  QString sinopse_;
  QString descrição_;
  QString rodapé_;
  QCommandLineParser parser_;
  std::vector<QCommandLineOption> opções_;
  std::vector<std::pair<QString, QString>> argumentos_;
  QCommandLineOption ajuda_;
  QCommandLineOption versão_;
};

}  // namespace orlan::cli

#endif  // ORLAN_APPS_LINHA_DE_COMANDO_H_
