// The import control: the dialog's state and handlers, free of any widget
// toolkit. The widget (or a batch host) draws the state and calls the
// handlers; the control raises its six events to one listener.
//
// Every handler runs to its end before it returns. A failure inside a handler
// ends the user's action with a message that names the error (number and
// texts), is given back as the handler's Status, and leaves the control usable.
//
// One action at a time: a handler or public method called while another one
// runs (from the listener, inside an event) changes nothing and gives back a
// Status with kErrBusy; the running action goes on.
//
// Not thread-safe: every call comes from the host's user-interface thread.
#ifndef ORLAN_CONTROL_CTL_ORLAN_H_
#define ORLAN_CONTROL_CTL_ORLAN_H_

#include <QString>
#include <QVariant>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "checker/resultado_verificacao.h"
#include "control/configuracao.h"
#include "control/dialogs.h"
#include "control/events.h"
#include "control/lista.h"
#include "database/linha_historico.h"
#include "database/status.h"
#include "import/resumo_importacao.h"

// Qt's moc cannot read identifiers with accents and needs none of these.
#ifndef Q_MOC_RUN

namespace orlan {

class ctlOrlan {
 public:
  // `dialogs` is not owned and must outlive the control.
  explicit ctlOrlan(Dialogs* dialogs);
  ~ctlOrlan();
  ctlOrlan(const ctlOrlan&) = delete;
  ctlOrlan& operator=(const ctlOrlan&) = delete;

  // The host's listener (not owned; null for none). It must outlive the
  // control or be removed first.
  void setOuvinte(OuvinteOrlan* ouvinte);

  // Where "DbAtual" comes from; the user's settings by default.
  void setFonteConfiguração(std::unique_ptr<FonteConfiguração> fonte);

  // The folder of the temporary database and the network copy; by default
  // PastaComponentePadrão(). Made when missing, as CriarPastaComponente does.
  //
  // From its first "..." click the control holds a place in the folder for
  // its life: <folder>/BDTempPrf.fix and <folder>/Prefor_Qur.trm, or, while
  // another window or run of the user (in any process) holds those,
  // BDTempPrf-N.fix and Prefor_Qur-N.trm. No two controls ever read or
  // replace each other's files. Before the first click the paths name the
  // first place.
  void setPastaComponente(const QString& folder);
  QString pastaComponente() const;
  QString caminhoBancoTemp() const;
  QString caminhoCópiaRede() const;

  // Asked when the check run gives the reference box the focus; true when the
  // box is visible (and the host focused it).
  void setFocoReferência(std::function<bool()> foco);

  // Asked, in place of a message, when the control needs the current
  // database and the configuration names none ("..." or trocarBancoAtual):
  // the host may let the user choose or create one (and name it in the
  // configuration) and answer true to go on with it; false ends the action.
  // Without it the control tells the user to choose one and ends the action.
  // Either way no file dialog opens without a current database.
  void setSemBancoAtual(std::function<bool()> escolher);

  // Polled before each document of an import: true ends the run there, as
  // Cancel would, after the document in progress (whole or rolled back).
  // The function may be called from a signal handler's flag; it must not
  // call the control.
  void setPedidoDeInterrupção(std::function<bool()> pedido);

  // --- handlers of the constituent controls ---
  Status cmdFim_Click();
  Status butSelecionarArquivo_Click();
  // Also gives back, as its failure, the cause of a failed taxpayer copy
  // that ended the run (its message was the run's own).
  Status butImportar_Click();
  // The reference box: the host sets the text as shown ("__/____" when
  // empty) and the box's two notifications follow: the first (the text
  // changed: selection reset) always, the second (reference handler) only
  // when the box is empty or holds a complete, valid month.
  Status txtRef_Alterar(const QString& shown);
  Status txtRef_PrimeiraNotificação();  // selection reset
  Status txtRef_SegundaNotificação();   // reference handler
  // Selects or clears list item `index` (0-based); ignored out of range and
  // while an action runs.
  void selecionarItem(int index, bool selected);
  // A click on the heading of column `coluna` (0 to 2): sorts the list by it,
  // the reference by month, ascending or not, keeping the selection; every
  // later fill keeps that order. Until the first call the list keeps the
  // order of its fill. kErrInvalidOperation for another column.
  Status ordenarLista(int coluna, bool crescente);

  // The host has named another current database in the configuration (or
  // changed the one named): the one the control holds is closed, and the
  // next click of "..." opens the new one. When a check run was accepted the
  // new one is opened now and the list filled again under its year limit,
  // keeping the selection of the documents that stay; when it cannot be
  // opened, the message says why and the list is left empty.
  Status trocarBancoAtual();

  // Brings back the archived return `arquivamento` (an archive row a line
  // of the run log names) as a check run brings a file: the current
  // database the configuration names is opened, the temporary database is
  // replaced by one holding that return alone, and the list is filled with
  // it under the reference box and the year limit. Raises IniciouLeitura and
  // FinalizouLeitura. Importar then stores it as an import would (asking
  // before it replaces the return of its IE and month), and the log calls it
  // restored. A return the archive does not hold is told (kErrNoCurrentRecord)
  // and leaves the list empty.
  Status restaurarArquivado(std::int64_t arquivamento);
  // The last `execuções` runs of the current database's log, as
  // BancoAtual::histórico; the current database is opened as "..." opens it.
  Status lerHistórico(int execuções, std::vector<LinhaHistórico>* linhas);

  // --- public methods ---
  Status GravaIERemetentes();
  Status GravaCredAcum();

  // --- state of the constituent controls, for drawing ---
  const std::vector<ItemLista>& itens() const;
  bool colunasCriadas() const;
  const std::vector<ColunaLista>& colunas() const;
  int larguraListaTwips() const;
  const QString& txtArqPre() const;
  bool butImportarHabilitado() const;
  const QString& txtRefTexto() const;
  QString txtRefEntrada() const;  // the digits typed, without the mask's fixed characters

  // --- the control's fields, read-only ---
  const QString& CaminhoBancoAtual() const;
  const QString& ArquivoPre() const;
  // The file the last accepted check came from, as the user picked it (for a
  // network file, not its local copy), and the SHA-256 of the bytes the
  // check read: what the run log records. Empty before an accepted check.
  // After restaurarArquivado, "arquivamento N" and no SHA-256.
  const QString& ArquivoOrigem() const;
  const QString& Sha256Origem() const;
  QVariant IEDocumento() const;
  QVariant Ref1Documento() const;  // the list's filter text between runs
  std::int32_t NroQURTemp() const;
  std::int32_t NroQURNovo() const;
  std::int32_t QtdeSelecionados() const;
  std::int32_t CódigoOcorrênciaTemp() const;
  std::int32_t CódigoOcorrênciaNovo() const;
  const QString& IEAnterior() const;

  // True once the current database is open (after the first "..." click
  // that found it).
  bool bancoAtualAberto() const;
  // True once a check run accepted a file and the temporary database is open.
  bool bancoTempAberto() const;

  // What the last check run gave (kVerificaçãoNãoFeita before the first).
  std::int16_t resultadoVerificação() const;
  // The last check run's faults, one per line ("Linha 3, campo CFOP: ...").
  QString relatórioVerificação() const;
  // The part of the file the running check has read, 0 to 1.
  double progressoVerificação() const;

  // During an import, true while it waits for returns another user is
  // writing (that user makes progress; the wait ends when that user's batch
  // is committed). The listener hears of each change (onAguardando).
  bool aguardandoOutroUsuário() const;
  // What a host shows while aguardandoOutroUsuário().
  static QString TextoAguardando();

  // During an import, the 1-based position of the document in progress
  // among the selected ones; 0 otherwise.
  int documentoEmCurso() const;
  // The summary of the last import run.
  const ResumoImportação& resumo() const;

  // How the last list fill came out, for telling why a list is empty.
  struct ContagemLista {
    bool feita = false;     // the list holds a fill: false after it was emptied for another file
    int documentos = 0;     // returns in the file, before any filter
    QString referência;     // the month filtered, "MM/yyyy"; empty for every month
    int daReferência = 0;   // of those, the ones of the reference typed (all, with an empty box)
    int apósLimite = 0;     // of those, the ones hidden by the year limit
    QString anoLimite;      // the year limit, empty when none
    bool semAnoLimite = false;  // the year table has no row: nothing could be listed
  };
  const ContagemLista& contagemLista() const;

  // For each list item, whether the current database already holds a return
  // of its IE and month. Reads only. Fails before a check run.
  Status existentesNoBancoAtual(std::vector<bool>* existe);

 private:
  class Impl;
  std::unique_ptr<Impl> d_;
};

// Why a list filled as `c` tells is empty, in the user's words ("o arquivo
// não tem declarações", "as 3 declarações do arquivo são posteriores a
// 2005", ...).
QString MotivoDaListaVazia(const ctlOrlan::ContagemLista& c);

// How many returns the year limit hid from a list filled as `c`, and after
// which year ("2 declarações posteriores a 2005 não aparecem na lista");
// empty when it hid none.
QString TextoOcultasPeloLimite(const ctlOrlan::ContagemLista& c);

// Makes `folder` when it is missing, readable by its owner alone (0700), as
// the temporary database it will hold needs; missing parents are made as
// usual. An existing folder is left as it is. False when it could not be
// made.
bool CriarPastaComponente(const QString& folder);

// The folder the component uses by default: a per-user data folder
// ($XDG_DATA_HOME/VmbOrlan, mode 0700), since the temporary database holds
// taxpayers' data. Created when missing.
QString PastaComponentePadrão();

}  // namespace orlan

#endif  // Q_MOC_RUN

#endif  // ORLAN_CONTROL_CTL_ORLAN_H_
