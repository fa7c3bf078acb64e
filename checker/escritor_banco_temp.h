// Writes the rows of a checked ".prf" file into a new temporary database.
//
// The writer owns a side file (created with mode 0600, since it holds
// taxpayers' data): it creates the tables, loads every row in one transaction
// through prepared statements bound straight from the parser's buffers, and
// on Concluir() builds the indexes, commits and closes the file. The caller
// then renames the side file into place. A writer destroyed before Concluir()
// succeeded deletes its side file, so that no half-written database is ever
// left behind.
//
// The side file is written without a rollback journal and without syncs:
// it is worthless until it is complete and renamed, and any failure deletes it.
#ifndef ORLAN_CHECKER_ESCRITOR_BANCO_TEMP_H_
#define ORLAN_CHECKER_ESCRITOR_BANCO_TEMP_H_

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "checker/analisador_prf.h"
#include "database/sqlite/database.h"

namespace orlan {

class EscritorBancoTemp : public prf::Destino {
 public:
  // Creates `caminho_lateral` (which must not exist) and its tables. Throws
  // DbError (kErrCannotOpen when the file cannot be created).
  explicit EscritorBancoTemp(std::string caminho_lateral);
  ~EscritorBancoTemp() override;
  EscritorBancoTemp(const EscritorBancoTemp&) = delete;
  EscritorBancoTemp& operator=(const EscritorBancoTemp&) = delete;

  void Gravar(const prf::Registro& registro) override;

  // The taxpayers' IEs seen so far. Kept in memory up to a limit, then in a
  // temporary table of this connection, so that memory stays bounded however
  // many taxpayers a file introduces.
  prf::ConjuntoIE& ies();

  // Builds the indexes, commits and closes. `progresso` is called now and then
  // while the indexes are built (at most every 100 ms). Throws DbError.
  void Concluir(const std::function<void()>& progresso);

  // Closes and deletes the side file (also what the destructor does when
  // Concluir() did not succeed).
  void Descartar();

  const std::string& caminho() const { return caminho_; }

 private:
  class ConjuntoIEBanco;

  std::string caminho_;
  bool concluído_ = false;
  std::shared_ptr<Database> db_;
  std::unique_ptr<Transaction> transação_;
  std::vector<Database::Prepared> inserções_;  // one per schema::Records() entry
  std::unique_ptr<ConjuntoIEBanco> ies_;
};

}  // namespace orlan

#endif  // ORLAN_CHECKER_ESCRITOR_BANCO_TEMP_H_
