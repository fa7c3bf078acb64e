// orlan-newdb CAMINHO [--ref-limit AAAA]: creates an empty current database.
#include <QCoreApplication>
#include <QDate>

#include "database/banco_atual.h"
#include "database/schema.h"
#include "linha_de_comando.h"

using namespace orlan::cli;

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
  linha.adicionar(limite);
  linha.setRodapé(QStringLiteral("Saída: 0 banco criado; 1 o arquivo ou as tabelas já existiam e nada foi mudado; "
                                 "4 o banco não foi criado por outro erro; 64 uso incorreto.\n"));
  if (const auto saída = linha.analisar(QCoreApplication::arguments())) return *saída;

  const QStringList caminhos = linha.parser().positionalArguments();
  if (caminhos.size() != 1) {
    return linha.erroDeUso(caminhos.isEmpty() ? QStringLiteral("falta o CAMINHO")
                                              : QStringLiteral("um só CAMINHO, não %1").arg(caminhos.size()));
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
