// The control at work: file selection, the check run and its events, the
// document list and the reference filter, driven through the same handlers
// the widgets call, on real files with the scripted dialogs.
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include "control/ctl_orlan.h"
#include "database/sqlite/recordset.h"
#include "support/scripted_dialogs.h"
#include "support/test_support.h"

using namespace orlan;

namespace {

// Records each event with the state the host would see at that moment.
struct Registro : OuvinteOrlan {
  struct Visto {
    Evento evento;
    bool colunas;
    int itens;
    bool bancoTempExiste;
  };
  ctlOrlan* ctl = nullptr;
  std::vector<Visto> vistos;
  void onEvento(Evento e) override {
    vistos.push_back({e, ctl->colunasCriadas(), int(ctl->itens().size()), QFileInfo::exists(ctl->caminhoBancoTemp())});
  }
  std::vector<Evento> eventos() const {
    std::vector<Evento> out;
    for (const auto& v : vistos) out.push_back(v.evento);
    return out;
  }
};

}  // namespace

class TestControl : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  int n_ = 0;
  QString atual_;
  std::unique_ptr<ScriptedDialogs> dialogs_;
  std::unique_ptr<ctlOrlan> ctl_;
  Registro registro_;

  QString Arquivo(const QByteArray& bytes) {
    const QString path = dir_.filePath(QStringLiteral("f%1.prf").arg(++n_));
    test::WriteFile(path, bytes);
    return path;
  }

  // Picks `path` in the file dialog and runs the check.
  void Escolher(const QString& path) {
    dialogs_->queueFile(path);
    QVERIFY(ctl_->butSelecionarArquivo_Click().ok());
  }

  QStringList Coluna(int c) const {
    QStringList out;
    for (const ItemLista& i : ctl_->itens()) out << i.colunas[c];
    return out;
  }

 private slots:
  void initTestCase() { test::IsolateSettings(dir_.filePath(QStringLiteral("config"))); }

  void init() {
    const QString pasta = dir_.filePath(QStringLiteral("comp%1").arg(++n_));
    QDir().mkpath(pasta);
    atual_ = dir_.filePath(QStringLiteral("atual%1.db").arg(n_));
    test::CreateCurrentDatabase(atual_, QStringLiteral("2099"));
    test::WriteDbAtual(atual_);
    dialogs_ = std::make_unique<ScriptedDialogs>();
    ctl_ = std::make_unique<ctlOrlan>(dialogs_.get());
    ctl_->setPastaComponente(pasta);
    registro_ = Registro();
    registro_.ctl = ctl_.get();
    ctl_->setOuvinte(&registro_);
  }

  void closeButtonRaisesOnlyFechar() {
    QVERIFY(ctl_->cmdFim_Click().ok());
    QVERIFY(ctl_->cmdFim_Click().ok());
    QCOMPARE(registro_.eventos(), (std::vector<Evento>{Evento::Fechar, Evento::Fechar}));
    QVERIFY(dialogs_->messages().empty());
  }

  void acceptedCheckRunEventsAndList() {
    Escolher(Arquivo(test::ArquivoPrf({test::LinhaContribuinte("110042490114", "Comércio D'Ávila Ltda"),
                          test::LinhaContribuinte("SEMDOC", "Sem documento"),
                          test::LinhaQur("110042490114", "01", "03/2006"),
                          test::LinhaContribuinte("223", "Outra"),
                          test::LinhaQur("223", "02", "06/2005", "04/2005"),
                          test::LinhaQur("223", "02", "12/2005", "09/2005"),
                          test::LinhaQur("223", "02", "06/2006", "06/2006")})));
    // The dialog offered the three entries, the third preselected.
    QCOMPARE(int(dialogs_->fileDialogs().size()), 1);
    const FileDialogRequest& pedido = dialogs_->fileDialogs()[0];
    QCOMPARE(int(pedido.filters.size()), 3);
    QCOMPARE(pedido.filters[0].name, QStringLiteral("Todos os arquivos (*.*)"));
    QCOMPARE(pedido.filters[1].name, QStringLiteral("(*.prf)"));
    QCOMPARE(pedido.filters[2].name, QStringLiteral(" (*.prf)"));
    QCOMPARE(pedido.filters[2].pattern, QStringLiteral("*.prf"));
    QCOMPARE(pedido.filter_index, 3);
    QVERIFY(pedido.hide_read_only);

    const auto& v = registro_.vistos;
    QVERIFY(v.size() >= 8);
    QCOMPARE(v.front().evento, Evento::IniciouLeitura);
    QCOMPARE(v.back().evento, Evento::FinalizouLeitura);
    for (size_t i = 1; i + 1 < v.size(); ++i) QCOMPARE(v[i].evento, Evento::NoMeio);
    // The four after the check: result, Importar enabled, columns made, list filled.
    const size_t n = v.size();
    QVERIFY(!v[n - 5].colunas && !v[n - 4].colunas);
    QVERIFY(v[n - 3].colunas && v[n - 3].itens == 0);
    QVERIFY(v[n - 2].itens == 4);
    QVERIFY(v[n - 5].bancoTempExiste);

    QCOMPARE(Coluna(0), (QStringList{"223", "223", "223", "110042490114"}));  // by the IE's last character
    QCOMPARE(Coluna(1)[3], QStringLiteral("Comércio D'Ávila Ltda"));
    QCOMPARE(Coluna(2), (QStringList{"06/2005 (ABR/JUN)", "12/2005 (SET/DEZ)", "06/2006 (JUN/JUN)", "03/2006"}));
    QVERIFY(!Coluna(3).contains(QString()));
    for (const ItemLista& i : ctl_->itens()) QVERIFY(!i.selecionado);
    QCOMPARE(int(ctl_->colunas().size()), 4);
    QCOMPARE(ctl_->colunas()[0].cabeçalho, QStringLiteral("Inscrição Estadual"));
    QCOMPARE(ctl_->colunas()[1].cabeçalho, QStringLiteral("Razão Social"));
    QCOMPARE(ctl_->colunas()[2].cabeçalho, QStringLiteral("Referência"));
    QCOMPARE(ctl_->colunas()[3].cabeçalho, QStringLiteral("NroQUR"));
    QCOMPARE(ctl_->colunas()[3].larguraTwips, 0);
    QCOMPARE(ctl_->larguraListaTwips(), 10190);
    QVERIFY(ctl_->butImportarHabilitado());
    QVERIFY(dialogs_->messages().empty());
  }

  void secondCheckRunReleasesTheOldDatabase() {
    const QString a = Arquivo(test::ArquivoPrf({test::LinhaContribuinte("1", "A"), test::LinhaQur("1", "01", "03/2006")}));
    Escolher(a);
    QVERIFY(ctl_->bancoTempAberto());
    registro_.vistos.clear();
    Escolher(Arquivo(test::ArquivoPrf({test::LinhaContribuinte("2", "B"), test::LinhaQur("2", "01", "04/2006"), test::LinhaQur("2", "01", "05/2006")})));
    const auto& v = registro_.vistos;
    QCOMPARE(v[0].evento, Evento::IniciouLeitura);
    QVERIFY(v[0].bancoTempExiste);
    QCOMPARE(v[1].evento, Evento::NoMeio);
    QVERIFY(!v[1].bancoTempExiste);
    QVERIFY(ctl_->bancoTempAberto());
    QCOMPARE(int(ctl_->colunas().size()), 4);
    QCOMPARE(Coluna(2), (QStringList{"04/2006", "05/2006"}));
  }

  void rejectedFileListsNothing() {
    Escolher(Arquivo(test::ArquivoPrf({test::LinhaContribuinte("1", "A"), test::LinhaQur("1", "01", "13/2006")})));
    const auto e = registro_.eventos();
    QCOMPARE(e.front(), Evento::IniciouLeitura);
    QCOMPARE(e.back(), Evento::FinalizouLeitura);
    QVERIFY(e.size() >= 3);
    QVERIFY(ctl_->itens().empty());
    QVERIFY(!ctl_->colunasCriadas());
    QCOMPARE(ctl_->resultadoVerificação(), std::int16_t(kConteúdoInválido));
    QVERIFY(!QFileInfo::exists(ctl_->caminhoBancoTemp()));
    // One message, naming the file and the first faults with line and field.
    QCOMPARE(int(dialogs_->messages().size()), 1);
    const MessageRequest& m = dialogs_->messages()[0];
    QCOMPARE(m.title, QStringLiteral("Atenção!"));
    QCOMPARE(m.style, 16);
    QVERIFY2(m.text.contains(QStringLiteral("foi rejeitado")), qPrintable(m.text));
    QVERIFY2(m.text.contains(QStringLiteral("Linha 3, campo Ref1: mês inexistente")), qPrintable(m.text));
    QCOMPARE(ctl_->relatórioVerificação(), QStringLiteral("Linha 3, campo Ref1: mês inexistente (mês de referência)"));
    // More faults than the checker keeps: the message still counts them all.
    QStringList muitas{test::LinhaContribuinte("1", "A")};
    for (int i = 0; i < 130; ++i) muitas << test::LinhaQur("1", "01", "13/2006");
    Escolher(Arquivo(test::ArquivoPrf(muitas)));
    QVERIFY2(dialogs_->messages().back().text.endsWith(QStringLiteral("... e mais 120 falhas.")),
             qPrintable(dialogs_->messages().back().text));
  }

  void cancelAndMissingNames() {
    QFile::copy(Arquivo(test::ArquivoPrf({})), ctl_->caminhoCópiaRede());
    dialogs_->queueCancel();
    QVERIFY(ctl_->butSelecionarArquivo_Click().ok());
    QVERIFY(registro_.vistos.empty());
    QVERIFY(ctl_->itens().empty());
    QVERIFY(!QFileInfo::exists(ctl_->caminhoCópiaRede()));

    dialogs_->queueFile(dir_.filePath(QStringLiteral("nao-existe.prf")));
    dialogs_->queueCancel();
    QVERIFY(ctl_->butSelecionarArquivo_Click().ok());
    QCOMPARE(int(dialogs_->fileDialogs().size()), 3);
    QCOMPARE(int(dialogs_->messages().size()), 1);
    const MessageRequest& m = dialogs_->messages()[0];
    QCOMPARE(m.text, QStringLiteral("O nome do arquivo não existe!\r\n\r\n"
                                    "Selecione um arquivo existente para a importação do arquivo Pré-formatado!"));
    QCOMPARE(m.title, QStringLiteral("Atenção!"));
    QCOMPARE(m.style, 16);
    QVERIFY(registro_.vistos.empty());
    // The dialog keeps the name of its previous opening.
    QCOMPARE(dialogs_->fileDialogs()[2].file_name, dir_.filePath(QStringLiteral("nao-existe.prf")));
  }

  // A network name ("//...") is checked from a local copy, while the run's
  // log names what the user picked, with its digest; a rejected file leaves
  // no origin behind.
  void networkPickIsCopied() {
    QVERIFY(ctl_->ArquivoOrigem().isEmpty() && ctl_->Sha256Origem().isEmpty());
    const QByteArray bytes = test::ArquivoPrf({test::LinhaContribuinte("9", "Rede"), test::LinhaQur("9", "01", "03/2006")});
    const QString rede = QStringLiteral("/") + Arquivo(bytes);  // two slashes: a network name
    Escolher(rede);
    QCOMPARE(ctl_->txtArqPre(), rede);
    QCOMPARE(ctl_->ArquivoPre(), ctl_->caminhoCópiaRede());
    QCOMPARE(test::ReadFile(ctl_->caminhoCópiaRede()), bytes);
    QCOMPARE(QFile::permissions(ctl_->caminhoCópiaRede()) & (QFileDevice::ReadOther | QFileDevice::ReadGroup),
             QFileDevice::Permissions());
    QCOMPARE(Coluna(0), QStringList{"9"});
    QCOMPARE(ctl_->ArquivoOrigem(), rede);
    QCOMPARE(ctl_->Sha256Origem(), QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex()));
    Escolher(Arquivo(test::ArquivoPrf({test::LinhaQur("9", "01", "13/2006")})));
    QVERIFY(ctl_->ArquivoOrigem().isEmpty() && ctl_->Sha256Origem().isEmpty());
  }

  void referenceFilter() {
    Escolher(Arquivo(test::ArquivoPrf({test::LinhaContribuinte("1", "A"), test::LinhaQur("1", "01", "03/2006"), test::LinhaQur("1", "01", "03/2006"),
                          test::LinhaQur("1", "01", "04/2006"), test::LinhaContribuinte("2", "B"), test::LinhaQur("2", "01", "03/2006")})));
    QCOMPARE(int(ctl_->itens().size()), 4);
    // Typing: only a complete, valid month makes a filter.
    for (const char* typing : {"0_/____", "03/2___", "13/2006", "00/2006"}) {
      QVERIFY(ctl_->txtRef_Alterar(QString::fromLatin1(typing)).ok());
      QCOMPARE(int(ctl_->itens().size()), 4);
    }
    QVERIFY(ctl_->txtRef_Alterar(QStringLiteral("03/2006")).ok());
    QCOMPARE(ctl_->Ref1Documento().toString(), QStringLiteral("#20/03/2006#"));
    QCOMPARE(Coluna(0), (QStringList{"1", "1", "2"}));
    QCOMPARE(Coluna(2), (QStringList{"03/2006", "03/2006", "03/2006"}));
    QVERIFY(Coluna(3)[0] != Coluna(3)[1]);  // two returns of one taxpayer and month

    // The same reference again does not refill: a change behind the list stays unseen.
    test::OpenExisting(ctl_->caminhoBancoTemp())->execute("DELETE FROM tblQUR WHERE IE = '2'");
    ctl_->selecionarItem(0, true);
    QVERIFY(ctl_->txtRef_Alterar(QStringLiteral("03/2006")).ok());
    QCOMPARE(int(ctl_->itens().size()), 3);
    QVERIFY(!ctl_->itens()[0].selecionado);  // the first notification reset the selection
    QVERIFY(ctl_->txtRef_Alterar(QStringLiteral("__/____")).ok());
    QCOMPARE(ctl_->Ref1Documento().toString(), QStringLiteral("'*'"));
    QCOMPARE(int(ctl_->itens().size()), 3);
    QVERIFY(dialogs_->messages().empty());
  }

  void refLimiteRule() {
    const QString prf = Arquivo(test::ArquivoPrf({test::LinhaContribuinte("1", "A"), test::LinhaQur("1", "01", "12/2006"), test::LinhaQur("1", "01", "01/2007")}));
    auto atual = test::OpenExisting(atual_);
    atual->execute("UPDATE tblPerola SET RefLimite = '2006'");
    Escolher(prf);
    QCOMPARE(Coluna(2), QStringList{"12/2006"});
    atual->execute("UPDATE tblPerola SET RefLimite = '2007'");
    QVERIFY(ctl_->txtRef_Alterar(QStringLiteral("01/2007")).ok());
    QCOMPARE(Coluna(2), QStringList{"01/2007"});
  }

  void oddRegimesAndDamagedRows() {
    Escolher(Arquivo(test::ArquivoPrf({test::LinhaContribuinte("1", "A"), test::LinhaQur("1", "05", "03/2006"), test::LinhaQur("1", "02", "07/2006", "07/2006"),
                          test::LinhaQur("1", "03", "08/2006")})));
    QCOMPARE(Coluna(2), (QStringList{"03/2006", "07/2006 (JUL/DEZ)", "08/2006"}));
    // A regime 02 return whose Ref2 is missing shows its month alone.
    test::OpenExisting(ctl_->caminhoBancoTemp())->execute("UPDATE tblQUR SET Ref2 = NULL");
    QVERIFY(ctl_->txtRef_Alterar(QStringLiteral("07/2006")).ok());
    QCOMPARE(Coluna(2), QStringList{"07/2006"});
  }

  void emptyPerolaGivesAMessage() {
    test::OpenExisting(atual_)->execute("DELETE FROM tblPerola");
    Escolher(Arquivo(test::ArquivoPrf({test::LinhaContribuinte("1", "A"), test::LinhaQur("1", "01", "03/2006")})));
    QVERIFY(ctl_->itens().empty());
    QCOMPARE(int(dialogs_->messages().size()), 1);
    QVERIFY(dialogs_->messages()[0].text.contains(QStringLiteral("tblPerola")));
    QCOMPARE(registro_.eventos().back(), Evento::FinalizouLeitura);
  }

  // No current database: no file dialog into a list that cannot be filled.
  // The user is told what to do (never a setting's name); a host that offers
  // a choice goes on with the database it named.
  void noCurrentDatabaseOpensNoFileDialog() {
    test::WriteDbAtual(QString());
    const QString prf = Arquivo(test::ArquivoPrf({test::LinhaContribuinte("1", "A"), test::LinhaQur("1", "01", "03/2006")}));
    dialogs_->queueFile(prf);
    QVERIFY(ctl_->butSelecionarArquivo_Click().ok());
    QVERIFY(!ctl_->bancoAtualAberto());
    QVERIFY(dialogs_->fileDialogs().empty());
    QVERIFY(registro_.vistos.empty());
    QCOMPARE(int(dialogs_->messages().size()), 1);
    const QString texto = dialogs_->messages()[0].text;
    QVERIFY2(texto.contains(QStringLiteral("Escolha o banco de dados")) && !texto.contains(QStringLiteral("DbAtual")),
             qPrintable(texto));

    int perguntas = 0;
    ctl_->setSemBancoAtual([&] {
      ++perguntas;
      return false;
    });
    QVERIFY(ctl_->butSelecionarArquivo_Click().ok());
    QCOMPARE(perguntas, 1);
    QCOMPARE(int(dialogs_->messages().size()), 1);
    QVERIFY(dialogs_->fileDialogs().empty());
    ctl_->setSemBancoAtual([&] {
      ++perguntas;
      test::WriteDbAtual(atual_);
      return true;
    });
    QVERIFY(ctl_->butSelecionarArquivo_Click().ok());
    QCOMPARE(perguntas, 2);
    QVERIFY(ctl_->bancoAtualAberto());
    QCOMPARE(Coluna(2), QStringList{"03/2006"});
  }

  void failureLeavesTheControlUsable() {
    Escolher(Arquivo(test::ArquivoPrf({test::LinhaContribuinte("1", "A"), test::LinhaQur("1", "01", "03/2006")})));
    test::OpenExisting(ctl_->caminhoBancoTemp())->execute("DROP TABLE tblQUR");
    const Status s = ctl_->txtRef_Alterar(QStringLiteral("03/2006"));
    QCOMPARE(s.number(), int(kErrTableNotFound));
    QVERIFY(dialogs_->messages().back().text.contains(QStringLiteral("3078")));
    registro_.vistos.clear();
    Escolher(Arquivo(test::ArquivoPrf({test::LinhaContribuinte("2", "B"), test::LinhaQur("2", "01", "03/2006")})));
    QCOMPARE(Coluna(0), QStringList{"2"});
  }

  // A listener that calls every handler and public method from inside each
  // event: each call is refused as busy and changes nothing, and the action
  // under way completes (the sanitized build checks that no freed list is
  // walked).
  void reentryFromTheListenerIsRefused() {
    struct Intruso : OuvinteOrlan {
      ctlOrlan* ctl = nullptr;
      int recusas = 0;
      int chamadas = 0;
      std::vector<Evento> eventos;
      void onEvento(Evento e) override {
        eventos.push_back(e);
        const Status tentativas[] = {ctl->txtRef_Alterar(QStringLiteral("__/____")), ctl->butImportar_Click(),
                                     ctl->butSelecionarArquivo_Click(), ctl->txtRef_PrimeiraNotificação(),
                                     ctl->txtRef_SegundaNotificação(), ctl->GravaIERemetentes(),
                                     ctl->GravaCredAcum(), ctl->cmdFim_Click()};
        for (const Status& t : tentativas) {
          ++chamadas;
          recusas += t.IsBusy();
        }
        ctl->selecionarItem(0, false);
      }
    } intruso;
    intruso.ctl = ctl_.get();
    ctl_->setOuvinte(&intruso);
    Escolher(Arquivo(test::ArquivoPrf({test::LinhaContribuinte("1", "A"), test::LinhaQur("1", "01", "03/2006"),
                                       test::LinhaContribuinte("2", "B"), test::LinhaQur("2", "01", "04/2006")})));
    QCOMPARE(intruso.eventos.back(), Evento::FinalizouLeitura);
    QCOMPARE(int(ctl_->itens().size()), 2);
    ctl_->selecionarItem(0, true);
    ctl_->selecionarItem(1, true);
    QVERIFY(ctl_->butImportar_Click().ok());
    QCOMPARE(intruso.eventos.back(), Evento::FinalizouImportação);
    QCOMPARE(ctl_->resumo().importados, 2);
    QVERIFY(intruso.chamadas > 20);
    QCOMPARE(intruso.recusas, intruso.chamadas);
    // No file dialog opened from inside an event, no message but the success.
    QCOMPARE(int(dialogs_->fileDialogs().size()), 1);
    QCOMPARE(int(dialogs_->messages().size()), 1);
    QCOMPARE(test::Count(*test::OpenExisting(atual_), "tblQUR"), 2);
    ctl_->setOuvinte(&registro_);
  }

  // Each way a current database can be wrong has its own message, ours in
  // Portuguese first, never SQL.
  void currentDatabaseFaultsHaveTheirOwnMessages() {
    const QString prf = Arquivo(test::ArquivoPrf({test::LinhaContribuinte("1", "A"), test::LinhaQur("1", "01", "03/2006")}));
    const QString naoBanco = dir_.filePath(QStringLiteral("texto.db"));
    test::WriteFile(naoBanco, QByteArray("isto não é um banco de dados, é só um texto qualquer").repeated(40));
    const QString outroEsquema = dir_.filePath(QStringLiteral("outro.db"));
    test::CreateEmptyDatabase(outroEsquema);
    const struct {
      QString nome;
      const char* texto;
    } casos[] = {
        {dir_.filePath(QStringLiteral("nao-existe.db")), "não existe"},
        {dir_.path(), "é uma pasta"},
        {naoBanco, "não é um banco de dados"},
        {outroEsquema, "não é um banco de dados atual"},
    };
    QStringList vistos;
    for (const auto& caso : casos) {
      test::WriteDbAtual(caso.nome);
      dialogs_ = std::make_unique<ScriptedDialogs>();
      ctl_ = std::make_unique<ctlOrlan>(dialogs_.get());
      ctl_->setPastaComponente(dir_.filePath(QStringLiteral("comp-erros")));
      Escolher(prf);
      QVERIFY(!ctl_->bancoAtualAberto());
      QVERIFY(!dialogs_->messages().empty());
      const QString texto = dialogs_->messages()[0].text;
      QVERIFY2(texto.startsWith(QStringLiteral("Não foi possível abrir o banco de dados")), qPrintable(texto));
      QVERIFY2(texto.contains(QString::fromUtf8(caso.texto)), qPrintable(texto));
      for (const char* sql : {"SELECT", "INSERT", "DELETE", "PRAGMA", "FROM "}) QVERIFY2(!texto.contains(sql), qPrintable(texto));
      vistos << texto;
    }
    vistos.removeDuplicates();
    QCOMPARE(vistos.size(), 4);
  }

  // A reference left half-typed when a check runs forms no filter: the box
  // is emptied and the list shows every return.
  void checkRunEmptiesAnIncompleteReference() {
    const QString prf = Arquivo(test::ArquivoPrf({test::LinhaContribuinte("1", "A"), test::LinhaQur("1", "01", "03/2006"),
                                                  test::LinhaQur("1", "01", "04/2006")}));
    for (const char* meio : {"03/2___", "13/2006"}) {
      QVERIFY(ctl_->txtRef_Alterar(QString::fromLatin1(meio)).ok());
      Escolher(prf);
      QCOMPARE(ctl_->txtRefTexto(), QStringLiteral("__/____"));
      QCOMPARE(ctl_->Ref1Documento().toString(), QStringLiteral("'*'"));
      QCOMPARE(int(ctl_->itens().size()), 2);
    }
    QVERIFY(ctl_->txtRef_Alterar(QStringLiteral("04/2006")).ok());
    Escolher(prf);
    QCOMPARE(Coluna(2), QStringList{"04/2006"});
    QCOMPARE(ctl_->contagemLista().documentos, 2);
    QCOMPARE(ctl_->contagemLista().daReferência, 1);
  }

  // The temporary database holds taxpayers' data: by default it lives in a
  // folder of the user's own, whatever folder the library was loaded from.
  void componentFolderIsPerUser() {
    const QString dados = dir_.filePath(QStringLiteral("xdg-data"));
    const QByteArray antes = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(dados));
    const QString pasta = PastaComponentePadrão();
    ScriptedDialogs d;
    const QString doControle = ctlOrlan(&d).pastaComponente();
    if (antes.isEmpty()) {
      qunsetenv("XDG_DATA_HOME");
    } else {
      qputenv("XDG_DATA_HOME", antes);
    }
    QCOMPARE(pasta, dados + QStringLiteral("/VmbOrlan"));
    QCOMPARE(doControle, pasta);
    QVERIFY(QFileInfo(pasta).isDir());
    QCOMPARE(QFile::permissions(pasta) & (QFileDevice::ReadGroup | QFileDevice::ReadOther | QFileDevice::WriteGroup |
                                          QFileDevice::WriteOther | QFileDevice::ExeGroup | QFileDevice::ExeOther),
             QFileDevice::Permissions());
  }

  void publicMethodsBeforeACheckRun() {
    const Status s = ctl_->GravaIERemetentes();
    QVERIFY(!s.ok());
    QVERIFY(!ctl_->GravaCredAcum().ok());
    QCOMPARE(test::Count(*test::OpenExisting(atual_), "tblIEsRemetente"), 0);
  }
};

QTEST_GUILESS_MAIN(TestControl)
#include "test_control.moc"
