#include "database/banco_atual.h"

#include <QFileInfo>
#include <QRegularExpression>

#include "database/pg/pg_endereco.h"
#include "database/sqlite/sqlite_banco_atual.h"

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

QString NomeSemSenha(const QString& nome) {
  if (!ÉEndereçoServidor(nome)) return nome;
  PgEndereço endereço;
  if (!LerPgEndereço(nome, &endereço).ok()) return QStringLiteral("(endereço inválido)");
  return endereço.semSenha;
}

Status AbrirBancoAtual(const QString& nome, std::shared_ptr<BancoAtual>* out) {
  out->reset();
  if (nome.isEmpty()) {
    return Status(kErrCannotOpen, "Nenhum banco de dados atual foi informado (a configuração \"DbAtual\" está vazia).");
  }
  if (ÉEndereçoServidor(nome)) return AbrirBancoAtualPostgres(nome, out);
  const QFileInfo arquivo(nome);
  const std::string caminho = nome.toStdString();
  if (arquivo.isDir()) {
    return Status(kErrCannotOpen, "\"" + caminho + "\" é uma pasta, não um banco de dados atual.");
  }
  if (!arquivo.exists()) return Status(kErrCannotOpen, "O banco de dados atual \"" + caminho + "\" não existe.");
  std::shared_ptr<Database> db;
  Status s = Database::Open(caminho, Database::OpenMode::kExisting, &db);
  if (!s.ok()) return s;
  try {
    // A database without the returns' table is some other program's.
    if (!db->hasTable(schema::kReturnTable)) {
      return Status(kErrNotCurrentDatabase, "O banco de dados \"" + caminho +
                                                "\" não é um banco de dados atual: não tem a tabela dos documentos "
                                                "(tblQUR).");
    }
  } catch (const DbError& e) {
    return e.status();
  }
  *out = std::make_shared<SqliteBancoAtual>(std::move(db));
  return Status::OK();
}

}  // namespace orlan
