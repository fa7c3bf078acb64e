// The Qt side of orlan::Dialogs: message boxes and the open-file dialog.
//
// Styles and answers keep the numbers the control uses (see
// control/dialogs.h): the style's low three bits choose the buttons, the
// next three the icon and the next two the default button; answers come back
// as 1 OK, 2 Cancel, 3 Abort, 4 Retry, 5 Ignore, 6 Yes, 7 No.
#ifndef ORLAN_WIDGETS_QT_DIALOGS_H_
#define ORLAN_WIDGETS_QT_DIALOGS_H_

#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QWidget>

#include "control/dialogs.h"

class QFileDialog;

namespace orlan {

// How a message of a given style looks: icon, buttons in their order, the
// default button and the one that Escape (or closing the box) answers.
struct AparênciaMensagem {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QList<QMessageBox::StandardButton> buttons;
  QMessageBox::StandardButton default_button = QMessageBox::NoButton;
  QMessageBox::StandardButton escape_button = QMessageBox::NoButton;
};

// Pure: no box is made. Unknown button codes fall back to OK alone.
AparênciaMensagem AparênciaDoEstilo(int style);

// The answer number of a button (OK 1 ... No 7); 2 (Cancel) for NoButton.
int RespostaDoBotão(QMessageBox::StandardButton button);

// The filter strings the file dialog shows, one per request entry, in order.
// A name that already ends with "(pattern)" is used as it is; otherwise the
// pattern is appended in parentheses, which is what QFileDialog filters on.
QStringList FiltrosDoDiálogo(const FileDialogRequest& request);

// Applies a request to a dialog that is about to be shown: Qt's own dialog
// (the platform ones merge entries that differ only by blanks), open mode
// accepting any typed name (the control tests existence itself), no
// read-only restriction, the entries with the requested one (1-based)
// preselected, and the previously chosen name.
void ConfigurarDiálogoArquivo(QFileDialog& dialog, const FileDialogRequest& request);

class QtDialogs : public Dialogs {
 public:
  // Boxes are made modal to `parent`'s window; `parent` is not owned and may
  // be null or go away before this object.
  explicit QtDialogs(QWidget* parent = nullptr) : parent_(parent) {}

  MessageReply showMessage(const MessageRequest& request) override;
  FileDialogReply openFile(const FileDialogRequest& request) override;

 private:
  QPointer<QWidget> parent_;
};

}  // namespace orlan

#endif  // ORLAN_WIDGETS_QT_DIALOGS_H_
