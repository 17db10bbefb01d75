// Message boxes with the classic style numbers and answers, behind one
// function whose answers a test can script.
#pragma once

#include <QString>
#include <functional>

namespace plimra::rt {

// Styles: buttons (low bits) plus an icon.
constexpr int vbOKOnly = 0;
constexpr int vbOKCancel = 1;
constexpr int vbAbortRetryIgnore = 2;
constexpr int vbYesNoCancel = 3;
constexpr int vbYesNo = 4;
constexpr int vbRetryCancel = 5;
constexpr int vbCritical = 16;
constexpr int vbQuestion = 32;
constexpr int vbExclamation = 48;
constexpr int vbInformation = 64;
constexpr int vbDefaultButton2 = 256;
constexpr int vbDefaultButton3 = 512;

// Answers.
constexpr int vbOK = 1;
constexpr int vbCancel = 2;
constexpr int vbAbort = 3;
constexpr int vbRetry = 4;
constexpr int vbIgnore = 5;
constexpr int vbYes = 6;
constexpr int vbNo = 7;

struct MsgBoxRequest {
  QString prompt;
  int style = vbOKOnly;
  QString title;  // as shown: the application's title when none was given
};

// Shows a modal message box and returns the answer. Without a title the
// box shows the application's name.
int MsgBox(const QString& prompt, int style = vbOKOnly, const QString& title = {});

// Replaces the box with `handler`, which answers instead of the user; an
// empty handler restores the real box.
using MsgBoxHandler = std::function<int(const MsgBoxRequest&)>;
void setMsgBoxHandler(MsgBoxHandler handler);

// The answer the Escape key gives for a style (also used by the real box).
int escapeAnswer(int style);

}  // namespace plimra::rt
