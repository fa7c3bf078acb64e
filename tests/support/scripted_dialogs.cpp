#include "support/scripted_dialogs.h"

namespace orlan {

MessageReply ScriptedDialogs::showMessage(const MessageRequest& request) {
  messages_.push_back(request);
  if (observer_) observer_(request);
  if (request.style != kEstiloCriticoSimNaoCancelar) return MessageReply{kRespostaOk, false};
  if (prevista_ != 0) return MessageReply{prevista_, false};
  if (answers_.empty()) return MessageReply{kRespostaCancelar, false};
  MessageReply reply = answers_.front();
  answers_.pop_front();
  return reply;
}

FileDialogReply ScriptedDialogs::openFile(const FileDialogRequest& request) {
  file_dialogs_.push_back(request);
  if (files_.empty()) return FileDialogReply{true, QString()};
  FileDialogReply reply = files_.front();
  files_.pop_front();
  return reply;
}

}  // namespace orlan
