#include "database/banco_atual.h"

namespace orlan {

Status AbrirBancoAtualPostgres(const QString& uri, std::shared_ptr<BancoAtual>* out) {
  out->reset();
  return Status(kErrConnection, "Este programa foi construído sem PostgreSQL: \"" + NomeSemSenha(uri).toStdString() +
                                    "\" não pode ser aberto.");
}

}  // namespace orlan
