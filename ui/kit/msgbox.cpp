#include "ui/kit/msgbox.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>

namespace plimra::kit {

namespace {

MsgBoxHandler& handler() {
  static MsgBoxHandler h;
  return h;
}

struct ButtonSpec {
  QMessageBox::StandardButton button;
  int answer;
};

std::vector<ButtonSpec> buttonsFor(int style) {
  switch (style & 7) {
    case vbOKCancel:
      return {{QMessageBox::Ok, vbOK}, {QMessageBox::Cancel, vbCancel}};
    case vbAbortRetryIgnore:
      return {{QMessageBox::Abort, vbAbort},
              {QMessageBox::Retry, vbRetry},
              {QMessageBox::Ignore, vbIgnore}};
    case vbYesNoCancel:
      return {{QMessageBox::Yes, vbYes}, {QMessageBox::No, vbNo}, {QMessageBox::Cancel, vbCancel}};
    case vbYesNo:
      return {{QMessageBox::Yes, vbYes}, {QMessageBox::No, vbNo}};
    case vbRetryCancel:
      return {{QMessageBox::Retry, vbRetry}, {QMessageBox::Cancel, vbCancel}};
    default:
      return {{QMessageBox::Ok, vbOK}};
  }
}

QMessageBox::Icon iconFor(int style) {
  switch (style & 0x70) {
    case vbCritical:
      return QMessageBox::Critical;
    case vbQuestion:
      return QMessageBox::Question;
    case vbExclamation:
      return QMessageBox::Warning;
    case vbInformation:
      return QMessageBox::Information;
    default:
      return QMessageBox::NoIcon;
  }
}

// No windows to show a box in: the message still reaches the user.
int logMsgBox(const MsgBoxRequest& request) {
  qWarning("%s: %s", qPrintable(request.title), qPrintable(request.prompt));
  return escapeAnswer(request.style);
}

}  // namespace

int windowMsgBox(const MsgBoxRequest& request) {
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return logMsgBox(request);
  QMessageBox box(iconFor(request.style), request.title, request.prompt, QMessageBox::NoButton,
                  QApplication::activeWindow());
  const auto specs = buttonsFor(request.style);
  for (const auto& s : specs) box.addButton(s.button);
  const size_t def = (request.style & vbDefaultButton3)   ? 2
                     : (request.style & vbDefaultButton2) ? 1
                                                          : 0;
  if (def < specs.size()) box.setDefaultButton(specs[def].button);
  const int esc = escapeAnswer(request.style);
  for (const auto& s : specs)
    if (s.answer == esc) box.setEscapeButton(s.button);
  box.exec();
  auto* clicked = box.clickedButton();
  for (const auto& s : specs)
    if (clicked == box.button(s.button)) return s.answer;
  return esc;
}

int escapeAnswer(int style) {
  switch (style & 7) {
    case vbOKCancel:
    case vbYesNoCancel:
    case vbRetryCancel:
      return vbCancel;
    case vbAbortRetryIgnore:
      return vbAbort;
    case vbYesNo:
      return vbNo;
    default:
      return vbOK;
  }
}

int MsgBox(const QString& prompt, int style, const QString& title) {
  MsgBoxRequest request{prompt, style, title};
  if (request.title.isEmpty()) request.title = QCoreApplication::applicationName();
  return handler() ? handler()(request) : logMsgBox(request);
}

void setMsgBoxHandler(MsgBoxHandler h) { handler() = std::move(h); }

}  // namespace plimra::kit
