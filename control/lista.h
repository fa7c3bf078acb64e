// The document list's state, as the control keeps it and the widget draws it.
#ifndef ORLAN_CONTROL_LISTA_H_
#define ORLAN_CONTROL_LISTA_H_

#include <QString>

#include <array>
#include <cstdint>
#include <vector>

// Qt's moc cannot read identifiers with accents and needs none of these.
#ifndef Q_MOC_RUN

namespace orlan {

struct ColunaLista {
  QString cabeçalho;
  int larguraTwips = 0;
};

struct ItemLista {
  // "Inscrição Estadual", "Razão Social", "Referência", "NroQUR" (hidden).
  std::array<QString, 4> colunas;
  bool selecionado = false;
  std::int32_t chave = 0;  // the temporary database's NroQUR, the hidden column's value
};

}  // namespace orlan

#endif  // Q_MOC_RUN

#endif  // ORLAN_CONTROL_LISTA_H_
