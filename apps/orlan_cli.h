// The command-line host's pieces that need no widgets: its options and a
// Dialogs that answers from them and prints every message.
#ifndef ORLAN_APPS_ORLAN_CLI_H_
#define ORLAN_APPS_ORLAN_CLI_H_

#include <QDate>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <functional>
#include <optional>

#include "control/dialogs.h"
#include "saida.h"

namespace orlan::cli {

enum class Sobrescrever { kPerguntar, kSim, kNão, kCancelar };

struct Opções {
  QString db;   // empty: the "DbAtual" setting
  QString ref;  // empty: the empty box
  bool selecionar_todos = true;
  QStringList ies;  // when not selecionar_todos
  Sobrescrever sobrescrever = Sobrescrever::kPerguntar;
  bool listar = false;
  bool simular = false;      // --dry-run
  QString pasta_componente;  // empty: the control's default
  QString arquivo;
  // --history N: the last N runs of the current database's import log are
  // printed, and nothing else is done (no file, no import); 0: not asked.
  int histórico = 0;
  // --ref-limit AAAA: the current database's year limit becomes AAAA, and
  // nothing else is done; empty: not asked.
  QString refLimite;
  // --restore ID: the archived return ID is brought back (as a file's
  // returns are imported, with the same question and answers) in place of
  // reading a file; 0: not asked.
  qint64 restaurar = 0;
  // --prune-archive AAAA-MM-DD: archived returns replaced before that day
  // are removed, and nothing else is done; invalid: not asked.
  QDate podarAntes;
};

// Reads orlan-import's command line (the program's name first). Empty when
// the run goes on, with `opções` filled; otherwise the status to exit with,
// the usage or the message already printed (see LinhaDeComando::analisar).
std::optional<int> LerOpções(const QStringList& args, Opções* opções);

// One line typed at the overwrite question: s, sim, n, não, c, cancelar (or
// the English y, yes, no, cancel), in any letter case, followed by "!" to
// tick the question's check box when it has one. Empty for anything else,
// an empty line included: the question has no default.
std::optional<MessageReply> LerResposta(const QString& linha, bool com_caixa);

// Answers the control as a user would from the options:
// - the first file dialog gets the file (its absolute path); every later one
//   is cancelled, so a missing file ends the click after its message;
// - every message is printed on `out`, "[title] text", and answered OK;
// - the overwrite question (style 19) gets the --overwrite answer; "ask"
//   prompts on the terminal when standard input is one, again until the
//   answer is one LerResposta accepts, and otherwise answers Cancel and
//   prints why.
class ConsoleDialogs : public Dialogs {
 public:
  ConsoleDialogs(QString arquivo, Sobrescrever resposta, std::FILE* out, bool terminal);

  MessageReply showMessage(const MessageRequest& request) override;
  FileDialogReply openFile(const FileDialogRequest& request) override;
  int respostaPrevista() const override;

  // Called before anything is printed, e.g. to clear a progress line.
  void setAntesDeImprimir(std::function<void()> f) { antes_ = std::move(f); }

 private:
  MessageReply perguntar(const MessageRequest& request);
  void imprimir(const QString& text);

  QString arquivo_;
  Sobrescrever resposta_;
  std::FILE* out_;
  bool terminal_;
  std::function<void()> antes_;
  int diálogos_ = 0;
};

}  // namespace orlan::cli

#endif  // ORLAN_APPS_ORLAN_CLI_H_
