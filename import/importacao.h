// The import run and the table copies: carry selected returns from the
// temporary database into the current database.
#ifndef ORLAN_IMPORT_IMPORTACAO_H_
#define ORLAN_IMPORT_IMPORTACAO_H_

#include <vector>

#include "control/dialogs.h"
#include "control/events.h"
#include "control/lista.h"
#include "database/status.h"
#include "import/estado_importacao.h"

// Qt's moc cannot read identifiers with accents and needs none of these.
#ifndef Q_MOC_RUN

namespace orlan {

// What the run needs from the control that hosts it.
class AnfitriãoImportação {
 public:
  virtual ~AnfitriãoImportação() = default;
  // Raises an event to the host, synchronously.
  virtual void raise(Evento evento) = 0;
  virtual Dialogs& dialogs() = 0;
};

// The click of Importar over `items` (the list, in order). Every message,
// question and event goes through `host`. Gives back OK at every end the user
// chose (nothing selected, Cancel, the normal end); a failure status when an
// error ended the run, after rolling back the document in progress.
Status ExecutarImportação(EstadoImportação& estado, const std::vector<ItemLista>& items,
                          AnfitriãoImportação& host);

// The two register copies of the occurrence named by the occurrence keys.
// Called before a check run opened both databases, they fail and write nothing.
Status GravaIERemetentes(EstadoImportação& estado);
Status GravaCredAcum(EstadoImportação& estado);

}  // namespace orlan

#endif  // Q_MOC_RUN

#endif  // ORLAN_IMPORT_IMPORTACAO_H_
