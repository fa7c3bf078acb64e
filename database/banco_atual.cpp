#include "database/banco_atual.h"

#include <QRegularExpression>

namespace orlan {

namespace {

constexpr std::pair<ResultadoDocumento, std::string_view> kResultados[] = {
    {ResultadoDocumento::kImportado, "importado"},
    {ResultadoDocumento::kSubstituído, "substituído"},
    {ResultadoDocumento::kIgnorado, "ignorado"},
    {ResultadoDocumento::kFalhou, "falhou"},
    {ResultadoDocumento::kRestaurado, "restaurado"},
    {ResultadoDocumento::kApagado, "apagado"},
};

}  // namespace

std::vector<std::string> LiteraisDosResultados() {
  std::vector<std::string> literais;
  for (const auto& [valor, texto] : kResultados) literais.push_back("'" + std::string(texto) + "'");
  return literais;
}

std::string_view TextoResultado(ResultadoDocumento r) {
  for (const auto& [valor, texto] : kResultados) {
    if (valor == r) return texto;
  }
  return {};
}

std::optional<ResultadoDocumento> ResultadoDeTexto(std::string_view texto) {
  for (const auto& [valor, t] : kResultados) {
    if (t == texto) return valor;
  }
  return std::nullopt;
}

SessãoCópia::Ocorrências SessãoCópia::OcorrênciasDe(const LoteCopiado& um) {
  Ocorrências o;
  for (const auto& [tabela, n] : um.linhas) {
    if (tabela == schema::kOccurrenceTable) {
      o.linhas = n;
    } else {
      o.registros[tabela] = n;
    }
  }
  if (!um.ocorrências.front().empty()) {
    o.últimoCódigoTemp = um.ocorrências.front().back().first;
    o.últimoCódigoNovo = um.ocorrências.front().back().second;
  }
  return o;
}

ResultadoDocumento ResultadoDoItem(const OrigemHistórico& origem, bool armazenar, bool substituir) {
  if (!armazenar) return ResultadoDocumento::kIgnorado;
  if (origem.restauração) return ResultadoDocumento::kRestaurado;
  return substituir ? ResultadoDocumento::kSubstituído : ResultadoDocumento::kImportado;
}

DbError ArquivamentoInexistente(std::int64_t arquivamento) {
  return DbError(kErrNoCurrentRecord, "Não há declaração arquivada com o ID " + std::to_string(arquivamento) +
                                          " (nunca houve, ou ela já foi removida do arquivo).");
}

DbError TabelaFaltaNoAtual(std::string_view tabela) {
  return DbError(kErrTableNotFound, "O banco de dados atual não tem a tabela " + std::string(tabela) + ".");
}

DbError CampoFaltaNoAtual(std::string_view campo, std::string_view tabela) {
  return DbError(kErrFieldNotFound, "O banco de dados atual não tem o campo " + std::string(campo) + " na tabela " +
                                        std::string(tabela) + ".");
}

DbError DocumentoFaltaNoTemporário(std::int64_t nro_qur) {
  return DbError(kErrNoCurrentRecord, "O banco temporário não tem o documento NroQUR " + std::to_string(nro_qur) + ".");
}

DbError ContribuinteFaltaNoTemporário(const QString& ie) {
  return DbError(kErrNoCurrentRecord, "O banco temporário não tem o contribuinte da IE " + ie.toStdString() + ".");
}

DbError ContribuinteJáNoAtual(const QString& ie) {
  return DbError(kErrDuplicateKey, "O contribuinte da IE " + ie.toStdString() + " já está no banco de dados atual.");
}

bool ÉAnoLimite(const QString& ano) {
  static const QRegularExpression quatro_dígitos(QStringLiteral("^[0-9]{4}$"));
  return quatro_dígitos.match(ano).hasMatch();
}

void BancoAtual::definirRefLimite(const QString& ano) {
  if (!ÉAnoLimite(ano)) {
    throw DbError(kErrInvalidOperation, "O ano limite de referência deve ter quatro algarismos: \"" +
                                            ano.toStdString() + "\".");
  }
  gravarRefLimite(ano);
}

bool ÉEndereçoServidor(const QString& nome) {
  static const QRegularExpression endereço(QStringLiteral("^\\s*(postgres(ql)?://|[A-Za-z_]+\\s*=)"),
                                           QRegularExpression::CaseInsensitiveOption);
  return endereço.match(nome).hasMatch();
}

}  // namespace orlan
