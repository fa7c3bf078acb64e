#include "widgets/qt_dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QPushButton>

namespace orlan {

namespace {

using Button = QMessageBox::StandardButton;

QList<Button> BotõesDoCódigo(int code) {
  switch (code) {
    case 1:
      return {QMessageBox::Ok, QMessageBox::Cancel};
    case 2:
      return {QMessageBox::Abort, QMessageBox::Retry, QMessageBox::Ignore};
    case 3:
      return {QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel};
    case 4:
      return {QMessageBox::Yes, QMessageBox::No};
    case 5:
      return {QMessageBox::Retry, QMessageBox::Cancel};
    default:
      return {QMessageBox::Ok};
  }
}

QMessageBox::Icon ÍconeDoCódigo(int code) {
  switch (code) {
    case 16:
      return QMessageBox::Critical;
    case 32:
      return QMessageBox::Question;
    case 48:
      return QMessageBox::Warning;
    case 64:
      return QMessageBox::Information;
    default:
      return QMessageBox::NoIcon;
  }
}

}  // namespace

AparênciaMensagem AparênciaDoEstilo(int style) {
  AparênciaMensagem a;
  a.buttons = BotõesDoCódigo(style & 0x7);
  a.icon = ÍconeDoCódigo(style & 0x70);
  const int default_index = (style & 0x300) >> 8;
  a.default_button = default_index < a.buttons.size() ? a.buttons[default_index] : a.buttons.front();
  // Escape gives Cancel where there is one; a single OK box answers OK; an
  // Abort/Retry/Ignore or Yes/No box cannot be escaped.
  if (a.buttons.contains(QMessageBox::Cancel)) {
    a.escape_button = QMessageBox::Cancel;
  } else if (a.buttons.size() == 1) {
    a.escape_button = a.buttons.front();
  }
  return a;
}

int RespostaDoBotão(QMessageBox::StandardButton button) {
  switch (button) {
    case QMessageBox::Ok:
      return kRespostaOk;
    case QMessageBox::Abort:
      return 3;
    case QMessageBox::Retry:
      return 4;
    case QMessageBox::Ignore:
      return 5;
    case QMessageBox::Yes:
      return kRespostaSim;
    case QMessageBox::No:
      return kRespostaNao;
    default:
      return kRespostaCancelar;
  }
}

QStringList FiltrosDoDiálogo(const FileDialogRequest& request) {
  QStringList filters;
  for (const FileDialogRequest::Filter& f : request.filters) {
    const QString suffix = QLatin1Char('(') + f.pattern + QLatin1Char(')');
    filters << (f.name.endsWith(suffix) ? f.name : f.name + QLatin1Char(' ') + suffix);
  }
  return filters;
}

void ConfigurarDiálogoArquivo(QFileDialog& dialog, const FileDialogRequest& request) {
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  dialog.setOption(QFileDialog::ReadOnly, false);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::AnyFile);
  const QStringList filters = FiltrosDoDiálogo(request);
  dialog.setNameFilters(filters);
  const int index = request.filter_index - 1;
  if (index >= 0 && index < filters.size()) {
    // Selecting by text would find the first of two entries that differ only
    // by a leading blank (Qt trims names), so select by position.
    if (QComboBox* combo = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
        combo != nullptr && combo->count() == filters.size()) {
      combo->setCurrentIndex(index);
      // The dialog applies an entry's pattern when the user activates it.
      emit combo->activated(index);
    } else {
      dialog.selectNameFilter(filters[index]);
    }
  }
  if (!request.file_name.isEmpty()) dialog.selectFile(request.file_name);
}

MessageReply QtDialogs::showMessage(const MessageRequest& request) {
  const AparênciaMensagem a = AparênciaDoEstilo(request.style);
  QMessageBox box(parent_ ? parent_->window() : nullptr);
  box.setWindowTitle(request.title);
  // The control's texts break lines with CR LF; a label wants LF alone.
  QString text = request.text;
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  box.setTextFormat(Qt::PlainText);
  box.setText(text);
  if (!request.detail.isEmpty()) {
    QString detail = request.detail;
    detail.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    box.setInformativeText(detail);
  }
  box.setIcon(a.icon);
  for (Button b : a.buttons) box.addButton(b);
  box.setDefaultButton(a.default_button);
  if (a.escape_button != QMessageBox::NoButton) box.setEscapeButton(a.escape_button);
  QCheckBox* check = nullptr;
  if (!request.check_box.isEmpty()) {
    check = new QCheckBox(request.check_box, &box);
    box.setCheckBox(check);
  }
  box.exec();
  MessageReply reply;
  const Button clicked = box.standardButton(box.clickedButton());
  reply.answer = RespostaDoBotão(clicked == QMessageBox::NoButton ? a.escape_button : clicked);
  reply.checked = check != nullptr && check->isChecked();
  return reply;
}

FileDialogReply QtDialogs::openFile(const FileDialogRequest& request) {
  QFileDialog dialog(parent_ ? parent_->window() : nullptr);
  ConfigurarDiálogoArquivo(dialog, request);
  FileDialogReply reply;
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return reply;
  reply.cancelled = false;
  reply.path = QFileInfo(dialog.selectedFiles().front()).absoluteFilePath();
  return reply;
}

}  // namespace orlan
