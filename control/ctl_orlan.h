// The import control: the dialog's state and handlers, free of any widget
// toolkit. The widget (or a batch host) draws the state and calls the
// handlers; the control raises its six events to one listener.
//
// Every handler runs to its end before it returns. A failure inside a handler
// ends the user's action with a message that names the error (number and
// texts), is given back as the handler's Status, and leaves the control usable.
#ifndef ORLAN_CONTROL_CTL_ORLAN_H_
#define ORLAN_CONTROL_CTL_ORLAN_H_

#include <QString>

#include <functional>
#include <memory>
#include <vector>

#include "checker/cons_pre.h"
#include "control/database_opener.h"
#include "control/dialogs.h"
#include "control/events.h"
#include "control/lista.h"
#include "import/estado_importacao.h"
#include "import/importacao.h"

// Qt's moc cannot read identifiers with accents and needs none of these.
#ifndef Q_MOC_RUN

namespace orlan {

class ctlOrlan : private OuvinteConsPre, private AnfitriãoImportação {
 public:
  // `dialogs` is not owned and must outlive the control.
  explicit ctlOrlan(Dialogs* dialogs);
  ~ctlOrlan() override;
  ctlOrlan(const ctlOrlan&) = delete;
  ctlOrlan& operator=(const ctlOrlan&) = delete;

  // The host's listener (not owned; null for none).
  void setOuvinte(OuvinteOrlan* ouvinte) { ouvinte_ = ouvinte; }

  // The folder of the temporary database and the network copy. By default
  // the folder of the library file; when that is not writable, a per-user
  // data folder. Created when missing.
  void setPastaComponente(const QString& folder) { pasta_ = folder; }
  QString pastaComponente() const { return pasta_; }
  QString caminhoBancoTemp() const;  // <folder>/BDTempPrf.fix
  QString caminhoCópiaRede() const;  // <folder>/Prefor_Qur.trm

  // --- handlers of the constituent controls ---
  Status cmdFim_Click();
  Status butSelecionarArquivo_Click();
  Status butImportar_Click();
  // The reference box: the host sets the text as shown ("__/____" when
  // empty) and the box's two notifications follow: the first (the text
  // changed: selection reset) always, the second (reference handler) only
  // when the box is empty or holds a complete, valid month.
  Status txtRef_Alterar(const QString& shown);
  Status txtRef_PrimeiraNotificação();   // selection reset
  Status txtRef_SegundaNotificação();    // reference handler

  // --- public methods ---
  Status GravaIERemetentes();
  Status GravaCredAcum();

  // --- state of the constituent controls ---
  const std::vector<ItemLista>& itens() const { return itens_; }
  void selecionarItem(int index, bool selected);  // 0-based index
  bool colunasCriadas() const { return ColunasCriadas; }
  const std::vector<ColunaLista>& colunas() const { return colunas_; }
  int larguraListaTwips() const { return largura_lista_; }
  const QString& txtArqPre() const { return txt_arq_pre_; }
  bool butImportarHabilitado() const { return importar_habilitado_; }
  const QString& txtRefTexto() const { return txt_ref_; }
  QString txtRefEntrada() const;  // the digits typed, without the mask's fixed characters

  // Asked when the check run gives the reference box the focus; true when the
  // box is visible (and the host focused it).
  void setFocoReferência(std::function<bool()> foco) { foco_ref_ = std::move(foco); }

  // --- fields ---
  EstadoImportação& estado() { return estado_; }
  const EstadoImportação& estado() const { return estado_; }
  QString CaminhoBancoAtual;
  QString ArquivoPre;
  bool ColunasCriadas = false;
  DatabaseOpener* AbridorBanco() const { return abridor_.get(); }
  ConsPre* consPre() const { return cons_pre_.get(); }
  // What the last check run's RunCheck gave (see ResultadoVerificação); -1
  // before the first check run.
  std::int16_t resultadoVerificação() const { return resultado_verificação_; }

 private:
  // OuvinteConsPre
  void ConsPre_Progresso() override;
  void ConsPre_Fechar() override;
  // AnfitriãoImportação
  void raise(Evento evento) override;
  Dialogs& dialogs() override { return *dialogs_; }

  DatabaseOpener& abridor();
  Status guarded(const std::function<void()>& work);
  QString passoDiálogoArquivo();
  void execuçãoVerificação();
  void criarColunas();
  void preencherLista();
  void limparSeleção();
  // Stores the box's filter in Ref1Documento; true when it changed.
  bool Ref1Filtro();
  void tratarReferência();

  Dialogs* dialogs_;
  OuvinteOrlan* ouvinte_ = nullptr;
  QString pasta_;
  std::unique_ptr<DatabaseOpener> abridor_;
  std::unique_ptr<ConsPre> cons_pre_;
  std::int16_t resultado_verificação_ = -1;
  EstadoImportação estado_;
  std::vector<ItemLista> itens_;
  std::vector<ColunaLista> colunas_;
  int largura_lista_ = 10185;
  QString txt_arq_pre_;
  bool importar_habilitado_ = true;
  QString txt_ref_ = QStringLiteral("__/____");
  QString nome_diálogo_;  // the file dialog keeps the name of its previous opening
  std::function<bool()> foco_ref_;
};

// The folder the component uses by default (see setPastaComponente).
QString PastaComponentePadrão();

// The current database's path from the per-user settings: application
// "Selmar", section "DB", key "DbAtual"; empty when missing.
QString LerCaminhoBancoAtual();

}  // namespace orlan

#endif  // Q_MOC_RUN

#endif  // ORLAN_CONTROL_CTL_ORLAN_H_
