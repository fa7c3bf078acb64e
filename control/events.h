// The six events the control raises to its host, numbered as the host knows them.
#ifndef ORLAN_CONTROL_EVENTS_H_
#define ORLAN_CONTROL_EVENTS_H_

// Qt's moc cannot read identifiers with accents and needs none of these.
#ifndef Q_MOC_RUN

namespace orlan {

enum class Evento : int {
  Fechar = 1,
  IniciouLeitura = 2,
  NoMeio = 3,
  FinalizouLeitura = 4,
  IniciouImportação = 5,
  FinalizouImportação = 6,
};

const char* NomeEvento(Evento e);

// The host's side. Events are delivered synchronously: the control's next step
// waits until the call returns. The listener is not owned by the control and
// must outlive it (or be removed first).
class OuvinteOrlan {
 public:
  virtual ~OuvinteOrlan() = default;
  virtual void onEvento(Evento evento) = 0;
  // An import waits for returns another user is writing (true) or the wait
  // ended (false); ctlOrlan::TextoAguardando() says it in words. No event
  // is raised for it, so the event count does not depend on other users.
  virtual void onAguardando(bool /*aguardando*/) {}
};

}  // namespace orlan

#endif  // Q_MOC_RUN

#endif  // ORLAN_CONTROL_EVENTS_H_
