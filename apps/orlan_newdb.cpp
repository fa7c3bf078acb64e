// orlan-newdb CAMINHO [--ref-limit AAAA]: creates an empty current database;
// orlan-newdb --add-archive CAMINHO gives an existing one the archive and the
// current run log.
#include <QCoreApplication>
#include <QDate>
#include <QStringList>

#include "database/banco_atual.h"
#include "database/schema.h"
#include "linha_de_comando.h"

using namespace orlan::cli;

namespace {

// What --add-archive made, as the line that tells it.
QString Acrescentado(const orlan::schema::ArchiveUpgrade& feito) {
  if (feito.nothing()) {
    return QStringLiteral("o banco já tinha o arquivo das declarações substituídas e o histórico de importações "
                          "completo; nada foi mudado");
  }
  QStringList partes;
  if (feito.archive_tables > 0) {
    partes << QStringLiteral("o arquivo das declarações substituídas (%1 tabelas)").arg(feito.archive_tables);
  }
  if (feito.log_created) partes << QStringLiteral("o histórico de importações");
  if (feito.log_reshaped) {
    partes << QStringLiteral("a forma nova do histórico de importações (%1 linhas mantidas)").arg(feito.log_lines);
  }
  if (feito.server_log) partes << QStringLiteral("a função, o gatilho e os direitos do histórico no servidor");
  return QStringLiteral("acrescentados ") + partes.join(QStringLiteral("; "));
}

int AcrescentarArquivo(const LinhaDeComando& linha, const QString& caminho) {
  const QString mostrado = orlan::NomeSemSenha(caminho);
  orlan::schema::ArchiveUpgrade feito;
  const orlan::Status s = orlan::schema::AddArchive(caminho.toStdString(), &feito);
  if (!s.ok()) {
    return linha.falha(
        QStringLiteral("o banco não foi atualizado em %1\n  %2").arg(mostrado, QString::fromStdString(s.ToString())),
        kSaídaErro);
  }
  const bool ok = Escrever(stdout, QStringLiteral("%1: %2\n").arg(mostrado, Acrescentado(feito)));
  return ok ? kSaídaConcluída : kSaídaErro;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  LinhaDeComando linha(QStringLiteral("orlan-newdb"), QStringLiteral("[opções] CAMINHO"),
                       QStringLiteral("Cria um banco de dados atual novo e vazio em CAMINHO; "
                                      "um arquivo que já existe não é tocado."));
  linha.adicionarArgumento(QStringLiteral("CAMINHO"),
                           QStringLiteral("o arquivo do banco novo, ou o endereço postgresql:// de um banco vazio "
                                          "num servidor, onde as tabelas são criadas"));
  const QCommandLineOption limite(
      QStringLiteral("ref-limit"),
      QStringLiteral("ano limite das referências (tblPerola.RefLimite; padrão: o ano atual; o de um banco que "
                     "já existe muda com orlan-import --ref-limit)"),
      QStringLiteral("AAAA"),
      QString::number(QDate::currentDate().year()));
  const QCommandLineOption arquivo(
      QStringLiteral("add-archive"),
      QStringLiteral("em vez de criar, acrescenta ao banco atual que já existe em CAMINHO o que lhe falta de um "
                     "banco novo: o arquivo das declarações substituídas e o histórico de importações na forma "
                     "nova (as linhas que ele já tem ficam); tudo numa transação"));
  linha.adicionar(limite);
  linha.adicionar(arquivo);
  linha.setRodapé(QStringLiteral("Saída: 0 banco criado (com --add-archive: atualizado, ou já completo); 1 o arquivo "
                                 "ou as tabelas já existiam e nada foi mudado; 4 o banco não foi criado (ou "
                                 "atualizado) por outro erro, e nada foi mudado; 64 uso incorreto.\n"));
  if (const auto saída = linha.analisar(QCoreApplication::arguments())) return *saída;

  const QStringList caminhos = linha.parser().positionalArguments();
  if (caminhos.size() != 1) {
    return linha.erroDeUso(caminhos.isEmpty() ? QStringLiteral("falta o CAMINHO")
                                              : QStringLiteral("um só CAMINHO, não %1").arg(caminhos.size()));
  }
  if (linha.parser().isSet(arquivo)) {
    if (linha.parser().isSet(limite)) {
      return linha.erroDeUso(QStringLiteral("--add-archive não se combina com --ref-limit"));
    }
    return AcrescentarArquivo(linha, caminhos.front());
  }
  const QString ano = linha.parser().value(limite);
  if (!orlan::ÉAnoLimite(ano)) {
    return linha.erroDeUso(QStringLiteral("--ref-limit deve ser um ano de quatro dígitos: \"%1\"").arg(ano));
  }
  const QString& caminho = caminhos.front();
  // A server's address is shown without its password.
  const QString mostrado = orlan::NomeSemSenha(caminho);
  const orlan::Status s = orlan::schema::CreateCurrentDatabase(caminho.toStdString(), ano);
  if (!s.ok()) {
    // What exists is kept: status 1, as orlan-prf-gen keeps an existing file.
    return linha.falha(
        QStringLiteral("o banco não foi criado em %1\n  %2").arg(mostrado, QString::fromStdString(s.ToString())),
        s.code() == orlan::kErrInvalidOperation ? kSaídaInterrompida : kSaídaErro);
  }
  const bool ok = Escrever(stdout, QStringLiteral("%1: banco de dados atual vazio, RefLimite %2\n").arg(mostrado, ano));
  return ok ? kSaídaConcluída : kSaídaErro;
}
