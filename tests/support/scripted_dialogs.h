// A Dialogs for tests and benchmarks: records every message and file dialog
// word for word and gives back answers queued in advance.
//
// With no answer queued, a message is answered OK (styles 0 and 16) or
// Cancel (style 19), and a file dialog is cancelled.
#ifndef ORLAN_TESTS_SUPPORT_SCRIPTED_DIALOGS_H_
#define ORLAN_TESTS_SUPPORT_SCRIPTED_DIALOGS_H_

#include <deque>
#include <functional>
#include <vector>

#include "control/dialogs.h"

namespace orlan {

class ScriptedDialogs : public Dialogs {
 public:
  MessageReply showMessage(const MessageRequest& request) override;
  FileDialogReply openFile(const FileDialogRequest& request) override;

  // Answers for the next questions (style 19), in order.
  void queueAnswer(int answer, bool checked = false) { answers_.push_back(MessageReply{answer, checked}); }
  // An answer every question gets, told in advance (kRespostaSim or
  // kRespostaNao); queued answers are then ignored.
  void setRespostaPrevista(int answer) { prevista_ = answer; }
  int respostaPrevista() const override { return prevista_; }
  // The next file dialogs' results: a path, or a cancel.
  void queueFile(const QString& path) { files_.push_back(FileDialogReply{false, path}); }
  void queueCancel() { files_.push_back(FileDialogReply{true, QString()}); }

  // Called for every message after it is recorded, e.g. to print it.
  void setObserver(std::function<void(const MessageRequest&)> observer) { observer_ = std::move(observer); }

  const std::vector<MessageRequest>& messages() const { return messages_; }
  const std::vector<FileDialogRequest>& fileDialogs() const { return file_dialogs_; }
  void clear() {
    messages_.clear();
    file_dialogs_.clear();
  }

 private:
  std::deque<MessageReply> answers_;
  int prevista_ = 0;
  std::deque<FileDialogReply> files_;
  std::vector<MessageRequest> messages_;
  std::vector<FileDialogRequest> file_dialogs_;
  std::function<void(const MessageRequest&)> observer_;
};

}  // namespace orlan

#endif  // ORLAN_TESTS_SUPPORT_SCRIPTED_DIALOGS_H_
