// Creates the control from the installed library, clicks Fechar and checks
// that the event arrived.
#include <control/ctl_orlan.h>
#include <control/scripted_dialogs.h>

#include <cstdio>

struct Host : orlan::OuvinteOrlan {
  int fechar = 0;
  void onEvento(orlan::Evento e) override { fechar += e == orlan::Evento::Fechar; }
};

int main() {
  orlan::ScriptedDialogs dialogs;
  orlan::ctlOrlan control(&dialogs);
  Host host;
  control.setOuvinte(&host);
  control.cmdFim_Click();
  std::printf("Fechar raised %d time(s)\n", host.fechar);
  return host.fechar == 1 ? 0 : 1;
}
