// orlan-prf-gen: writes a valid synthetic ".prf" file. The same options give
// the same bytes.
#include <QCoreApplication>
#include <QFileInfo>
#include <algorithm>
#include <charconv>
#include <string>

#include "checker/gerador_prf.h"
#include "linha_de_comando.h"

using namespace orlan::cli;

namespace {

template <typename T>
bool Ler(const QString& texto, T* out) {
  const std::string s = texto.toStdString();
  const auto r = std::from_chars(s.data(), s.data() + s.size(), *out);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

// The generator's own limits, said in the user's words.
QString Inválidas(const orlan::prf::OpçõesGerador& o) {
  if (o.contribuintes < 0 || o.meses < 0 || o.linhas < 0)
    return QStringLiteral("as quantidades não podem ser negativas");
  if (o.mês_inicial < 1 || o.mês_inicial > 12) return QStringLiteral("o mês inicial deve ser de 01 a 12");
  if (o.ano_inicial < 1900 || o.ano_inicial > 2099) return QStringLiteral("o ano inicial deve ser de 1900 a 2099");
  const long long último = o.ano_inicial + (o.mês_inicial - 1 + static_cast<long long>(std::max(o.meses, 1)) - 1) / 12;
  if (último > 2099) return QStringLiteral("o último mês não pode passar de 12/2099");
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  LinhaDeComando linha(QStringLiteral("orlan-prf-gen"), QStringLiteral("--output ARQUIVO [opções]"),
                       QStringLiteral("Grava um arquivo pré-formatado (.prf) sintético e válido. "
                                      "As mesmas opções dão os mesmos bytes."));
  const QCommandLineOption saída({QStringLiteral("o"), QStringLiteral("output")},
                                 QStringLiteral("o arquivo a gravar (obrigatória)"), QStringLiteral("ARQUIVO"));
  const QCommandLineOption contribuintes(
      QStringLiteral("taxpayers"), QStringLiteral("quantidade de contribuintes (padrão: 3)"), QStringLiteral("N"));
  const QCommandLineOption meses(QStringLiteral("months"),
                                 QStringLiteral("meses de declarações por contribuinte (padrão: 3)"),
                                 QStringLiteral("N"));
  const QCommandLineOption início(QStringLiteral("start"), QStringLiteral("o primeiro mês (padrão: 01/2006)"),
                                  QStringLiteral("MM/AAAA"));
  const QCommandLineOption linhas(QStringLiteral("rows"),
                                  QStringLiteral("linhas de detalhe por declaração (padrão: 20)"), QStringLiteral("N"));
  const QCommandLineOption semente(QStringLiteral("seed"), QStringLiteral("semente dos valores gerados (padrão: 1)"),
                                   QStringLiteral("N"));
  const QCommandLineOption forçar(QStringLiteral("force"), QStringLiteral("substitui ARQUIVO se ele já existe"));
  for (const QCommandLineOption& o : {saída, contribuintes, meses, início, linhas, semente, forçar}) linha.adicionar(o);
  linha.setRodapé(QStringLiteral(
      "Saída: 0 arquivo gravado; 1 ARQUIVO já existe e --force não foi dada; 4 o arquivo não pôde ser gravado;\n"
      "64 uso incorreto.\n"));
  if (const auto status = linha.analisar(QCoreApplication::arguments())) return *status;
  const QCommandLineParser& p = linha.parser();
  if (!p.positionalArguments().isEmpty()) {
    return linha.erroDeUso(QStringLiteral("argumento inesperado: %1").arg(p.positionalArguments().front()));
  }

  orlan::prf::OpçõesGerador opções;
  auto número = [&](const QCommandLineOption& o, auto* destino) { return !p.isSet(o) || Ler(p.value(o), destino); };
  const std::pair<const QCommandLineOption*, bool> lidas[] = {
      {&contribuintes, número(contribuintes, &opções.contribuintes)},
      {&meses, número(meses, &opções.meses)},
      {&linhas, número(linhas, &opções.linhas)},
      {&semente, número(semente, &opções.semente)},
  };
  for (const auto& [o, ok] : lidas) {
    if (!ok)
      return linha.erroDeUso(QStringLiteral("valor inválido para --%1: \"%2\"").arg(o->names().back(), p.value(*o)));
  }
  if (p.isSet(início)) {
    const QString v = p.value(início);
    if (v.size() != 7 || v[2] != QLatin1Char('/') || !Ler(v.left(2), &opções.mês_inicial) ||
        !Ler(v.mid(3), &opções.ano_inicial)) {
      return linha.erroDeUso(QStringLiteral("--start deve ser MM/AAAA: \"%1\"").arg(v));
    }
  }
  const QString arquivo = p.value(saída);
  if (arquivo.isEmpty()) return linha.erroDeUso(QStringLiteral("falta --output ARQUIVO"));
  if (const QString inválidas = Inválidas(opções); !inválidas.isEmpty()) return linha.erroDeUso(inválidas);
  if (QFileInfo::exists(arquivo) && !p.isSet(forçar)) {
    return linha.falha(QStringLiteral("%1 já existe; nada foi gravado (use --force para substituí-lo)").arg(arquivo),
                       kSaídaInterrompida);
  }

  orlan::prf::ResumoGerador resumo;
  const orlan::Status s = orlan::prf::GerarArquivoPrf(arquivo.toStdString(), opções, &resumo);
  if (!s.ok()) {
    return linha.falha(
        QStringLiteral("o arquivo %1 não pôde ser gravado\n  %2").arg(arquivo, QString::fromStdString(s.ToString())),
        kSaídaErro);
  }
  const bool ok = Escrever(stdout, QStringLiteral("%1: %2 linhas, %3 declarações, %4 bytes\n")
                                       .arg(arquivo)
                                       .arg(resumo.linhas)
                                       .arg(resumo.declarações)
                                       .arg(resumo.bytes));
  return ok ? kSaídaConcluída : kSaídaErro;
}
