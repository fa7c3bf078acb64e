// The import run's host as the control gives it: each step an event to the
// host window, each notice and question a message box.
#ifndef ORLAN_CONTROL_IMPORTACAO_DIALOGOS_H_
#define ORLAN_CONTROL_IMPORTACAO_DIALOGOS_H_

#include <functional>

#include "control/dialogs.h"
#include "control/events.h"
#include "import/importacao.h"

#ifndef Q_MOC_RUN

namespace orlan {

class ImportaçãoPorDiálogos : public AnfitriãoImportação {
 public:
  // `dialogs` is not owned and must outlive this object. `raise` delivers an
  // event; `interromper`, when given, is polled before each document.
  // `estado`, when given (not owned; it must outlive this object), is the
  // run's: a failed taxpayer copy's message then says its cause on a line of
  // its own.
  ImportaçãoPorDiálogos(Dialogs& dialogs, std::function<void(Evento)> raise,
                        std::function<bool()> interromper = {}, std::function<void(bool)> aguardando = {},
                        const EstadoImportação* estado = nullptr)
      : dialogs_(dialogs),
        raise_(std::move(raise)),
        interromper_(std::move(interromper)),
        aguardando_(std::move(aguardando)),
        estado_(estado) {}

  void iniciou() override { raise_(Evento::IniciouImportação); }
  void passo() override { raise_(Evento::NoMeio); }
  void finalizou() override { raise_(Evento::FinalizouImportação); }
  void avisar(AvisoImportação aviso) override;
  DecisãoSobrepor perguntarSobrepor(const QString& ie, const QVariant& ref1) override;
  bool interromper() override { return interromper_ && interromper_(); }
  std::optional<DecisãoSobrepor::Resposta> respostaConhecida() override;
  void aguardando(bool sim) override {
    if (aguardando_) aguardando_(sim);
  }

 private:
  Dialogs& dialogs_;
  std::function<void(Evento)> raise_;
  std::function<bool()> interromper_;
  std::function<void(bool)> aguardando_;
  const EstadoImportação* estado_;
};

}  // namespace orlan

#endif  // Q_MOC_RUN

#endif  // ORLAN_CONTROL_IMPORTACAO_DIALOGOS_H_
