// Answers the program's message boxes from a list, in order, and records
// every box asked for. When the list runs out, each further box gets the
// answer the Escape key would give. Restores the real box when it goes out
// of scope. ScriptedFileDialog does the same for the file dialog, whose
// Escape answer is no file.
#pragma once

#include <QString>
#include <vector>

#include "ui/kit/filedialog.h"
#include "ui/kit/msgbox.h"

namespace plimra::test {

class ScriptedMsgBox {
 public:
  explicit ScriptedMsgBox(std::vector<int> answers = {}) : answers_(std::move(answers)) {
    kit::setMsgBoxHandler([this](const kit::MsgBoxRequest& r) {
      asked_.push_back(r);
      if (answers_.empty()) return kit::escapeAnswer(r.style);
      const int a = answers_.front();
      answers_.erase(answers_.begin());
      return a;
    });
  }
  ~ScriptedMsgBox() { kit::setMsgBoxHandler({}); }
  ScriptedMsgBox(const ScriptedMsgBox&) = delete;
  ScriptedMsgBox& operator=(const ScriptedMsgBox&) = delete;

  void answer(int a) { answers_.push_back(a); }
  const std::vector<kit::MsgBoxRequest>& asked() const { return asked_; }

 private:
  std::vector<int> answers_;
  std::vector<kit::MsgBoxRequest> asked_;
};

class ScriptedFileDialog {
 public:
  explicit ScriptedFileDialog(std::vector<QString> answers) : answers_(std::move(answers)) {
    kit::setFileDialogHandler([this](const kit::FileDialogRequest& r) {
      asked_.push_back(r);
      if (answers_.empty()) return QString();
      const QString a = answers_.front();
      answers_.erase(answers_.begin());
      return a;
    });
  }
  ~ScriptedFileDialog() { kit::setFileDialogHandler({}); }
  ScriptedFileDialog(const ScriptedFileDialog&) = delete;
  ScriptedFileDialog& operator=(const ScriptedFileDialog&) = delete;

  const std::vector<kit::FileDialogRequest>& asked() const { return asked_; }

 private:
  std::vector<QString> answers_;
  std::vector<kit::FileDialogRequest> asked_;
};

}  // namespace plimra::test
