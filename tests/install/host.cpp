// Creates the control from the installed library with only its public
// headers, clicks Fechar and checks that the event arrived and that a handler
// called from inside the event is refused as busy.
#include <control/ctl_orlan.h>

#include <cstdio>

// A host answers the control's dialogs itself; this one has no person.
struct SemDiálogos : orlan::Dialogs {
  orlan::MessageReply showMessage(const orlan::MessageRequest&) override { return {}; }
  orlan::FileDialogReply openFile(const orlan::FileDialogRequest&) override { return {}; }
};

struct Host : orlan::OuvinteOrlan {
  orlan::ctlOrlan* control = nullptr;
  int fechar = 0;
  bool recusado = false;
  void onEvento(orlan::Evento e) override {
    fechar += e == orlan::Evento::Fechar;
    recusado = control->cmdFim_Click().IsBusy();
  }
};

int main() {
  SemDiálogos dialogs;
  orlan::ctlOrlan control(&dialogs);
  Host host;
  host.control = &control;
  control.setOuvinte(&host);
  control.cmdFim_Click();
  std::printf("Fechar raised %d time(s); a click inside the event %s\n", host.fechar,
              host.recusado ? "was refused" : "was not refused");
  return host.fechar == 1 && host.recusado ? 0 : 1;
}
