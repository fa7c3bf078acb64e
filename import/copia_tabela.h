// The one way a detail table of a return moves from the temporary database to
// the current database: the source rows are those whose link field (NroQUR
// for the tables of a return, Código for the registers of an occurrence)
// holds the old key; each becomes a new row of the same table in the current
// database, with the new key in the link field and the listed fields copied
// as SQLite holds them (Null stays Null, no conversion), in the order the
// file's index on the link field gives them.
//
// The rows move inside SQLite, one INSERT ... SELECT per table and key (and,
// for the registers during a run, per table and document), with the
// temporary database attached to the current database's connection: a
// statement per row costs several times the copy itself.
//
// Internal to the import engine. Nothing here opens or ends a transaction:
// the caller owns the unit of work, and on a failure the rows added before it
// are still there until the caller rolls back.
#ifndef ORLAN_IMPORT_COPIA_TABELA_H_
#define ORLAN_IMPORT_COPIA_TABELA_H_

#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <string_view>
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

// The temporary database attached to the current database's connection for
// as long as this object lives. Attaching needs the connection outside any
// transaction: make it before the first BEGIN and destroy it after the last
// COMMIT or ROLLBACK.
class BancoAnexado {
 public:
  enum class Uso {
    kRenovar,     // a run: whatever is attached goes, the file is attached anew
    kAproveitar,  // a register copy: the run's attachment of the same file, if
                  // one is under way (from an event handler), is used as it is
  };
  // Throws DbError.
  BancoAnexado(Database& atual, Database& temp, Uso uso);
  ~BancoAnexado();
  BancoAnexado(const BancoAnexado&) = delete;
  BancoAnexado& operator=(const BancoAnexado&) = delete;

  Database& atual() { return atual_; }
  Database& temp() { return temp_; }

  // A recordset over a table of the current database itself: with the
  // temporary database attached, a table name alone would reach the attached
  // file's table when the current database lacks one of that name. Throws
  // DbError (kErrTableNotFound for a table the current database lacks).
  Recordset abrirAtual(std::string_view tabela, std::string_view onde = {}, Params parâmetros = {});
  // Throws kErrTableNotFound unless the current database has `tabela`.
  void exigirTabela(std::string_view tabela);

 private:
  Database& atual_;
  Database& temp_;
  bool anexou_ = false;
  std::vector<std::string> tabelas_vistas_;  // tables the current database was found to have
};

// A write transaction on the current database alone. BEGIN IMMEDIATE would
// also write-lock the attached temporary database, and its COMMIT would then
// wait for every reader of that file (the control's own handle among them).
// Rolled back at destruction unless committed. Throws DbError.
class TransaçãoAtual {
 public:
  explicit TransaçãoAtual(Database& atual);
  ~TransaçãoAtual();
  TransaçãoAtual(const TransaçãoAtual&) = delete;
  TransaçãoAtual& operator=(const TransaçãoAtual&) = delete;
  void commit();

 private:
  Database& atual_;
  bool ativa_ = false;
};

// Copies with one BancoAnexado, keeping each table's statement texts for the
// run.
class Copiador {
 public:
  explicit Copiador(BancoAnexado& bancos) : bancos_(bancos) {}

  // Copies the rows of `c.tabela` whose link field is `chave_origem` into the
  // current database under `chave_nova`, in the file's order. Gives back the
  // number of rows added. A table or field missing from the current database
  // is an error only for a return that has rows there. Throws DbError.
  int copiar(const CópiaTabela& c, std::int32_t chave_origem, std::int32_t chave_nova);

  // The occurrences of the document in progress, old Código to new, for
  // copiarRegistros. Kept in a temporary table of the current database's
  // connection, inside the transaction, so that a document rolled back takes
  // its notes with it: prepararOcorrências makes the table once the
  // transaction is open (outside any document's savepoint),
  // descartarOcorrências drops it before the transaction commits,
  // limparOcorrências starts a document's notes.
  void prepararOcorrências();
  void descartarOcorrências();
  void limparOcorrências();
  // Notes the rows that copiar(c, chave_origem, chave_nova) stored: the key
  // `chave` that the current database gave each, read back, beside the
  // file's. Gives back how many were noted, and the last pair.
  struct Anotação {
    int linhas = 0;
    QVariant último_novo;
    QVariant último_velho;
  };
  Anotação anotarOcorrências(const CópiaTabela& c, std::string_view chave, std::int32_t chave_origem,
                             std::int32_t chave_nova);
  // The rows of the register `c` of every noted occurrence, each under its
  // occurrence's new Código. Gives back the number of rows added.
  int copiarRegistros(const CópiaTabela& c);

  // A field of the row stored at `gravada` in the current database's table.
  QVariant valorGravado(std::string_view tabela, std::string_view campo, std::int64_t gravada);

 private:
  struct Textos {
    std::string todas;      // INSERT ... SELECT of every source row of a key
    std::string pelo_mapa;  // INSERT ... SELECT of the rows of the noted occurrences
  };
  const Textos& textos(const CópiaTabela& c);
  // The texts, or null when the current database lacks the table or a field
  // and `existe` (with `parâmetros`) finds no source row that would need it.
  // `existe` makes the query that asks whether the document has rows in the
  // table; it is built only when the table or a field is missing.
  const Textos* textosSeNecessários(const CópiaTabela& c, const std::function<std::string()>& existe,
                                    const Params& parâmetros);

  BancoAnexado& bancos_;
  std::map<std::string_view, Textos> textos_;
};

// One register of the occurrence named by the occurrence keys of `estado`.
// Throws DbError.
int CopiarRegistro(EstadoImportação& estado, Copiador& copiador, const CópiaTabela& c);

// A key read from a database value: a whole number that fits 32 bits, or a
// DbError that says which key could not be read.
std::int32_t ChaveInt32(const QVariant& valor, std::string_view qual);

}  // namespace orlan

#endif  // ORLAN_IMPORT_COPIA_TABELA_H_
