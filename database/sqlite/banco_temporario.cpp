#include "database/banco_temporario.h"

#include <QJsonArray>
#include <QJsonDocument>

#include "database/identificador.h"
#include "database/sqlite/database.h"
#include "database/sqlite/recordset.h"

namespace orlan {

namespace {

std::string Q(std::string_view nome) { return QuoteIdentifier(nome); }

// `campos` quoted, each after `prefixo`, comma-separated.
std::string Lista(const std::vector<std::string_view>& campos, const std::string& prefixo) {
  std::string s;
  for (std::string_view campo : campos) {
    if (!s.empty()) s += ", ";
    s += prefixo + Q(campo);
  }
  return s;
}

// A batch's keys travel as one bound parameter, a JSON array, which
// json_each() turns back into rows numbered from 0 in the batch's order.
QString Json(std::span<const std::int32_t> chaves) {
  QJsonArray lista;
  for (const std::int32_t chave : chaves) lista.append(chave);
  return QString::fromUtf8(QJsonDocument(lista).toJson(QJsonDocument::Compact));
}

// Each row of `r`: the value of `primeira` (none when empty), then those of
// `campos`.
std::vector<BancoTemporário::Linha> Ler(Recordset& r, std::string_view primeira,
                                        const std::vector<std::string_view>& campos) {
  std::vector<BancoTemporário::Linha> linhas;
  for (; !r.eof(); r.moveNext()) {
    BancoTemporário::Linha linha;
    linha.reserve(campos.size() + 1);
    if (!primeira.empty()) linha.push_back(r.value(primeira));
    for (std::string_view campo : campos) linha.push_back(r.value(campo));
    linhas.push_back(std::move(linha));
  }
  return linhas;
}

}  // namespace

BancoTemporário::BancoTemporário(std::shared_ptr<Database> db) : db_(std::move(db)) {}

BancoTemporário BancoTemporário::ParaGravar(const std::string& caminho) {
  std::shared_ptr<Database> db;
  const Status aberto = Database::Open(caminho, Database::OpenMode::kExisting, &db);
  if (!aberto.ok()) throw DbError(aberto);
  BancoTemporário temp(std::move(db));
  temp.gravação_ = std::make_unique<Transaction>(*temp.db_);
  return temp;
}

BancoTemporário::BancoTemporário(BancoTemporário&& outro) noexcept = default;
BancoTemporário& BancoTemporário::operator=(BancoTemporário&& outro) noexcept = default;
BancoTemporário::~BancoTemporário() = default;

bool BancoTemporário::temCampo(std::string_view tabela, std::string_view campo) {
  return db_->openQuery("SELECT * FROM " + Q(tabela)).hasField(campo);
}

bool BancoTemporário::temDocumento(std::int32_t nro_qur) {
  return db_->scalar("SELECT 1 FROM tblQUR WHERE NroQUR = ?", {QVariant(nro_qur)}).isValid();
}

std::optional<BancoTemporário::Linha> BancoTemporário::contribuinte(const QString& ie,
                                                                   const std::vector<std::string_view>& campos) {
  Recordset r = db_->openQuery("SELECT " + Lista(campos, "") + " FROM " + Q(schema::kTaxpayerTable) + " WHERE " +
                                   Q("IE") + " = ? ORDER BY _rowid_ LIMIT 1",
                               {ie});
  std::vector<Linha> linhas = Ler(r, {}, campos);
  if (linhas.empty()) return std::nullopt;
  return std::move(linhas.front());
}

std::vector<BancoTemporário::Linha> BancoTemporário::cabeçalhos(std::span<const std::int32_t> documentos,
                                                               const std::vector<std::string_view>& campos) {
  Recordset r = db_->openQuery("SELECT x.* FROM json_each(?) j CROSS JOIN " + Q(schema::kReturnTable) + " x ON x." +
                                   Q(schema::kReturnKey) + " = j.value ORDER BY j.key",
                               {Json(documentos)});
  return Ler(r, {}, campos);
}

std::vector<BancoTemporário::Linha> BancoTemporário::linhas(const schema::TableCopy& c, std::int32_t chave,
                                                           const std::vector<std::string_view>& campos) {
  Recordset r = db_->openQuery("SELECT " + Lista(campos, "") + " FROM " + Q(c.table) + " WHERE " + Q(c.link) +
                                   " = ? ORDER BY _rowid_",
                               {QVariant(chave)});
  return Ler(r, {}, campos);
}

std::vector<BancoTemporário::Linha> BancoTemporário::linhasDosDocumentos(const schema::TableCopy& c,
                                                                        std::span<const std::int32_t> documentos,
                                                                        const std::vector<std::string_view>& campos) {
  Recordset r = db_->openQuery("SELECT j.key AS orlan_k, " + Lista(campos, "x.") + " FROM json_each(?) j CROSS JOIN " +
                                   Q(c.table) + " x ON x." + Q(c.link) + " = j.value ORDER BY j.key, x._rowid_",
                               {Json(documentos)});
  return Ler(r, "orlan_k", campos);
}

std::vector<BancoTemporário::Linha> BancoTemporário::registrosDosDocumentos(
    const schema::TableCopy& registro, std::span<const std::int32_t> documentos,
    const std::vector<std::string_view>& campos) {
  const schema::TableCopy& c = schema::CopyOf(schema::kOccurrenceTable);
  Recordset r = db_->openQuery(
      "SELECT x." + Q(registro.link) + " AS orlan_velho, " + Lista(campos, "x.") + " FROM json_each(?) j CROSS JOIN " +
          Q(c.table) + " o ON o." + Q(c.link) + " = j.value CROSS JOIN " + Q(registro.table) + " x ON x." +
          Q(registro.link) + " = o." + Q(schema::kOccurrenceKey) + " ORDER BY j.key, o._rowid_, x._rowid_",
      {Json(documentos)});
  return Ler(r, "orlan_velho", campos);
}

void BancoTemporário::acrescentar(std::string_view tabela, const std::vector<std::string_view>& colunas,
                                  const std::vector<Linha>& linhas) {
  std::string marcas;
  for (size_t i = 0; i < colunas.size(); ++i) marcas += i == 0 ? "?" : ", ?";
  const std::string inserir = "INSERT INTO " + Q(tabela) + " (" + Lista(colunas, "") + ") VALUES (" + marcas + ")";
  for (const Linha& linha : linhas) db_->execute(inserir, linha);
}

void BancoTemporário::confirmar() {
  // Without ParaGravar's transaction each row was stored as it came.
  if (!gravação_) return;
  gravação_->commit();
  gravação_.reset();
}

}  // namespace orlan
