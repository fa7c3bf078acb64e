// The temporary database as a copy into a server reads it, and as a restore
// from a server writes it.
//
// The temporary database is a local SQLite file whatever engine holds the
// current database. This class keeps its SQL with SQLite's code
// (database/sqlite/banco_temporario.cpp), so that the server's code needs
// none of it. A batch's documents are named by their keys in the temporary
// database (NroQUR), in the batch's order. Not thread-safe; every call
// throws DbError.
#ifndef ORLAN_DATABASE_BANCO_TEMPORARIO_H_
#define ORLAN_DATABASE_BANCO_TEMPORARIO_H_

#include <QString>
#include <QVariant>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "database/schema.h"

#ifndef Q_MOC_RUN

namespace orlan {

// SQLite's handle and transaction (database/sqlite/database.h).
class Database;
class Transaction;

class BancoTemporário {
 public:
  using Linha = std::vector<QVariant>;

  // Reads `db`, which must be open, sharing it.
  explicit BancoTemporário(std::shared_ptr<Database> db);
  // Opens the existing temporary database at `caminho` and begins the one
  // transaction a restore writes in: confirmar() commits it; destroying the
  // object before that rolls it back.
  static BancoTemporário ParaGravar(const std::string& caminho);
  BancoTemporário(BancoTemporário&& outro) noexcept;
  BancoTemporário& operator=(BancoTemporário&& outro) noexcept;
  ~BancoTemporário();

  // True when `tabela` has the field `campo` (letter case ignored).
  bool temCampo(std::string_view tabela, std::string_view campo);
  // True when the temporary database has the header `nro_qur`.
  bool temDocumento(std::int32_t nro_qur);
  // The values of `campos` of the first taxpayer record of `ie`, in the
  // order stored; nullopt when there is none.
  std::optional<Linha> contribuinte(const QString& ie, const std::vector<std::string_view>& campos);
  // The values of `campos` of the headers of `documentos`, in their order;
  // a header that is missing gives no row.
  std::vector<Linha> cabeçalhos(std::span<const std::int32_t> documentos, const std::vector<std::string_view>& campos);
  // The rows of `c.table` whose `c.link` holds `chave`, in the order
  // stored: the values of `campos`.
  std::vector<Linha> linhas(const schema::TableCopy& c, std::int32_t chave, const std::vector<std::string_view>& campos);
  // The rows of the detail table `c.table` of `documentos`, document by
  // document, each one's in the order stored: the document's position in
  // `documentos` (from 0), then the values of `campos`.
  std::vector<Linha> linhasDosDocumentos(const schema::TableCopy& c, std::span<const std::int32_t> documentos,
                                         const std::vector<std::string_view>& campos);
  // The rows of the register `registro` of the occurrences of `documentos`,
  // document by document and occurrence by occurrence, each in the order
  // stored: the occurrence's Código, then the values of `campos`.
  std::vector<Linha> registrosDosDocumentos(const schema::TableCopy& registro, std::span<const std::int32_t> documentos,
                                            const std::vector<std::string_view>& campos);

  // Inside ParaGravar's transaction: adds `linhas` (each with the values of
  // `colunas`, in order) to `tabela`.
  void acrescentar(std::string_view tabela, const std::vector<std::string_view>& colunas, const std::vector<Linha>& linhas);
  void confirmar();

 private:
  std::shared_ptr<Database> db_;
  std::unique_ptr<Transaction> gravação_;
};

}  // namespace orlan

#endif  // Q_MOC_RUN

#endif  // ORLAN_DATABASE_BANCO_TEMPORARIO_H_
