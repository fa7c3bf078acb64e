// The one way a detail table of a return moves from the temporary database to
// the current database: the source rows are those whose link field (NroQUR
// for the tables of a return, Código for the registers of an occurrence)
// holds the old key; each becomes a new row of the same table in the current
// database, with the new key in the link field and the listed fields copied
// as SQLite holds them (Null stays Null, no conversion).
//
// Internal to the import engine. Nothing here opens or ends a transaction:
// the caller owns the unit of work, and on a failure the rows added before it
// are still there until the caller rolls back.
#ifndef ORLAN_IMPORT_COPIA_TABELA_H_
#define ORLAN_IMPORT_COPIA_TABELA_H_

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "database/database.h"
#include "database/recordset.h"
#include "import/estado_importacao.h"

namespace orlan {

// A copied field: its name in the current database's table and in the
// temporary database's (they differ only in letter case, where they differ).
struct Campo {
  std::string_view destino;
  std::string_view origem;
};

struct CópiaTabela {
  std::string_view tabela;
  std::string_view vínculo;  // the link field, holding the parent's key
  std::span<const Campo> campos;  // in the order they are assigned
};

// The detail tables of a return, linked by NroQUR.
extern const CópiaTabela kCópiaPagamento;
extern const CópiaTabela kCópiaDetalhesCFOPs;
extern const CópiaTabela kCópiaDetalhesInterUFs;
extern const CópiaTabela kCópiaZFM_ALC;
extern const CópiaTabela kCópiaOcorrências;
extern const CópiaTabela kCópiaDIPAM;
extern const CópiaTabela kCópiaRegistroExportação;
// The registers of an occurrence, linked by Código.
extern const CópiaTabela kCópiaIEsRemetente;
extern const CópiaTabela kCópiaIESubstituido;
extern const CópiaTabela kCópiaIESubstituto;
extern const CópiaTabela kCópiaRecibosCredito;

// The target recordsets of a run: the whole table of each, opened when the
// first row is to be added to it and kept, so that rows after the first reuse
// its prepared INSERT. Holds no row and no lock between calls.
class Destinos {
 public:
  explicit Destinos(Database& atual) : atual_(atual) {}
  Database& banco() { return atual_; }
  Recordset& tabela(std::string_view nome);

 private:
  Database& atual_;
  std::vector<std::pair<std::string_view, Recordset>> abertos_;
};

// Runs after each row is stored: `origem` has the source row current,
// `destino` has stored the new row (destino.lastModified() is its bookmark).
using ApósGravar = std::function<void(Recordset& origem, Recordset& destino)>;

// Copies the rows of `c.tabela` whose link field is `chave_origem` in `temp`
// into `atual` under `chave_nova`, in the order `temp` gives them. The target
// table is not touched when there is no source row. Gives back the number of
// rows added. Throws DbError.
int CopiarTabela(Database& temp, Destinos& destinos, const CópiaTabela& c, std::int32_t chave_origem,
                 std::int32_t chave_nova, const ApósGravar& após_gravar = {});

// One register of the occurrence named by the occurrence keys of `estado`
// (both databases must be open), into `destinos` (on estado.BancoAtual).
// Throws DbError.
int CopiarRegistro(EstadoImportação& estado, Destinos& destinos, const CópiaTabela& c);

// A key read from a database value: a whole number that fits 32 bits, or a
// DbError that says which key could not be read.
std::int32_t ChaveInt32(const QVariant& valor, std::string_view qual);

}  // namespace orlan

#endif  // ORLAN_IMPORT_COPIA_TABELA_H_
