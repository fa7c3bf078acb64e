// How the control, the database opener and the checker talk to the user.
//
// The desktop widget implements this with QMessageBox and QFileDialog; tests
// answer from a script; the command-line host answers from its options. Every
// call is modal: it returns when the user has answered.
#ifndef ORLAN_CONTROL_DIALOGS_H_
#define ORLAN_CONTROL_DIALOGS_H_

#include <QString>

#include <vector>

namespace orlan {

// Message styles, as numbers: icon plus buttons.
enum EstiloMensagem : int {
  kEstiloOk = 0,                     // no icon, OK
  kEstiloCritico = 16,               // critical icon, OK
  kEstiloCriticoSimNaoCancelar = 19  // critical icon, Yes/No/Cancel, Yes the default
};

// Answers, as numbers.
enum RespostaMensagem : int {
  kRespostaOk = 1,
  kRespostaCancelar = 2,
  kRespostaSim = 6,
  kRespostaNao = 7,
};

struct MessageRequest {
  QString text;
  QString title;
  int style = kEstiloOk;
  // When not empty, a check box with this caption, unchecked at first.
  QString check_box;
  // When not empty, a line under the text with what caused it (an error's
  // number and texts), apart from the text itself.
  QString detail;
};

struct MessageReply {
  int answer = kRespostaOk;
  bool checked = false;  // the check box's state when the user answered
};

// An open-file dialog. Entries are shown in order; `filter_index` (1-based)
// is the one preselected.
struct FileDialogRequest {
  struct Filter {
    QString name;     // e.g. "Todos os arquivos (*.*)"
    QString pattern;  // e.g. "*.*"
  };
  std::vector<Filter> filters;
  int filter_index = 1;
  bool hide_read_only = true;
  QString file_name;  // the name chosen at the previous opening, if any
};

struct FileDialogReply {
  bool cancelled = true;
  QString path;  // full path of the chosen file when not cancelled
};

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  virtual MessageReply showMessage(const MessageRequest& request) = 0;
  virtual FileDialogReply openFile(const FileDialogRequest& request) = 0;

  // The answer (kRespostaSim or kRespostaNao) this host gives to every
  // Yes/No/Cancel question without asking a person, such as a batch run's
  // fixed answer; 0 when a person answers. The questions are still shown,
  // and each must get this answer.
  virtual int respostaPrevista() const { return 0; }

  // A message without a check box; gives back the answer's number.
  int message(const QString& text, const QString& title, int style) {
    return showMessage(MessageRequest{text, title, style, QString(), QString()}).answer;
  }
};

}  // namespace orlan

#endif  // ORLAN_CONTROL_DIALOGS_H_
