// The last import runs of the current database, one row per document as
// the run log holds it, and the choice of a replaced return to bring back.
#ifndef ORLAN_WIDGETS_HISTORICO_IMPORTACOES_H_
#define ORLAN_WIDGETS_HISTORICO_IMPORTACOES_H_

#include <QDialog>

#include <cstdint>
#include <optional>
#include <vector>

#include "database/banco_atual.h"

class QPushButton;
class QTreeWidget;

namespace orlan {

// Shows `linhas` (as ctlOrlan::lerHistórico gives them; none: a label says
// the log holds nothing). "Restaurar" is enabled only on a row whose
// replaced return the archive still holds; it accepts the dialog with that
// row's archive ID. The dialog restores nothing itself: the host does.
class DiálogoHistórico : public QDialog {
 public:
  explicit DiálogoHistórico(const std::vector<LinhaHistórico>& linhas, QWidget* parent = nullptr);

  // After "Restaurar": the archive row the chosen line names.
  std::optional<std::int64_t> arquivamento() const { return escolhido_; }

 private:
  // Makes the table of `linhas`; gives back the width its columns want.
  int criarTabela(const std::vector<LinhaHistórico>& linhas);
  // The archive ID of the selected row, if it has one.
  std::optional<std::int64_t> selecionado() const;

  std::vector<std::optional<std::int64_t>> arquivamentos_;  // one per row, in order
  QTreeWidget* tabela_ = nullptr;
  QPushButton* restaurar_ = nullptr;
  std::optional<std::int64_t> escolhido_;
};

}  // namespace orlan

#endif  // ORLAN_WIDGETS_HISTORICO_IMPORTACOES_H_
