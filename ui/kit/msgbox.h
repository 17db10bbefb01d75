// Message boxes with the classic style numbers and answers, behind one
// function that shows them the way the program installed.
#pragma once

#include <QString>
#include <functional>

namespace plimra::kit {

// Styles: the buttons (the low bits, numbered from 0) plus an icon and the
// default button.
enum : int {
  vbOKOnly, vbOKCancel, vbAbortRetryIgnore, vbYesNoCancel, vbYesNo, vbRetryCancel,
  vbCritical = 16, vbQuestion = 32, vbExclamation = 48, vbInformation = 64,
  vbDefaultButton2 = 256, vbDefaultButton3 = 512,
};

// Answers, numbered from 1.
enum : int { vbOK = 1, vbCancel, vbAbort, vbRetry, vbIgnore, vbYes, vbNo };

struct MsgBoxRequest {
  QString prompt;
  int style = vbOKOnly;
  QString title;  // as shown: the application's title when none was given
};

// Shows a message box through the handler the program installed at
// start-up (main installs windowMsgBox) and returns the answer. Without a
// title the box shows the application's name. With no handler installed,
// as in a process without windows, the message goes to the log and the
// answer is the one the Escape key gives.
int MsgBox(const QString& prompt, int style = vbOKOnly, const QString& title = {});
using MsgBoxHandler = std::function<int(const MsgBoxRequest&)>;
void setMsgBoxHandler(MsgBoxHandler handler);

// The modal box over the active window; the log when there are no windows.
int windowMsgBox(const MsgBoxRequest& request);

// The answer the Escape key gives for a style (also used by the real box).
int escapeAnswer(int style);

}  // namespace plimra::kit
