// The simple controls the windows are made of, with the properties and
// events under the names the handlers use.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QObject>
#include <QPushButton>
#include <QTimer>
#include <cstdint>
#include <vector>

namespace plimra::kit {

// Places a control in its parent's client area, in twips.
void place(QWidget* w, int left, int top, int width, int height);
// A new control in `parent`, named (tests and ui/README.md find it by that
// name) and placed.
template <class Control>
Control* addControl(QWidget* parent, const char* name, int left, int top, int width, int height) {
  auto* control = new Control(parent);
  control->setObjectName(QLatin1String(name));
  place(control, left, top, width, height);
  return control;
}
void move(QWidget* w, int left, int top);
int Left(const QWidget* w);
int Top(const QWidget* w);
int Width(const QWidget* w);
int Height(const QWidget* w);

class Label : public QLabel {
  Q_OBJECT
 public:
  explicit Label(QWidget* parent = nullptr);
  // A carriage return (alone or before a line feed) breaks the line.
  void setCaption(const QString& caption);
  void setBackColor(uint32_t color);
  uint32_t BackColor() const { return backColor_; }
  void setForeColor(uint32_t color);

 signals:
  void Click();

 protected:
  void mouseReleaseEvent(QMouseEvent* e) override;

 private:
  uint32_t backColor_ = 0x8000000Fu;
};

// A control array of labels: one Click handler that receives the index.
class LabelArray : public QObject {
  Q_OBJECT
 public:
  explicit LabelArray(QObject* parent = nullptr) : QObject(parent) {}
  // Adds `label` as element `index` (elements need not be contiguous).
  void add(int index, Label* label);
  Label* operator[](int index) const;
  bool exists(int index) const { return operator[](index) != nullptr; }

 signals:
  void Click(int Index);

 private:
  std::vector<Label*> items_;
};

// A push button. Enter or Space clicks it while it has the focus.
class CommandButton : public QPushButton {
  Q_OBJECT
 public:
  explicit CommandButton(const QString& caption, QWidget* parent = nullptr);

 protected:
  void keyPressEvent(QKeyEvent* e) override;

 signals:
  void Click();
};

class ListBox : public QListWidget {
  Q_OBJECT
 public:
  explicit ListBox(QWidget* parent = nullptr);
  void AddItem(const QString& text);
  void Clear() { clear(); }
  int ListCount() const { return count(); }
  QString List(int index) const;
  // -1: nothing selected.
  int16_t ListIndex() const;
  // False (and nothing changes) for an index outside -1 .. ListCount()-1.
  bool setListIndex(int index);

 signals:
  void DblClick();

 protected:
  // With no entry chosen, End chooses the last entry and Home the first,
  // Down starts from the first and Up from the last.
  void keyPressEvent(QKeyEvent* e) override;
};

// A one-line text box. KeyDown comes before the key is handled; a handler
// that sets KeyCode to 0 swallows the key. Enter is 13; Shift is a bit set
// (1 Shift, 2 Ctrl, 4 Alt).
class TextBox : public QLineEdit {
  Q_OBJECT
 public:
  explicit TextBox(QWidget* parent = nullptr);
  QString Text() const { return text(); }

  static int keyCodeOf(int qtKey);
  static int shiftOf(Qt::KeyboardModifiers modifiers);

 signals:
  void KeyDown(int& KeyCode, int Shift);

 protected:
  void keyPressEvent(QKeyEvent* e) override;
};

// A timer that ticks on the GUI thread every Interval ms while Enabled;
// an interval of 0 means no ticks.
class Timer : public QObject {
  Q_OBJECT
 public:
  explicit Timer(QObject* parent = nullptr);
  void setEnabled(bool on);
  void setInterval(int ms);

 signals:
  void Tick();

 private:
  void update();
  QTimer timer_;
  bool enabled_ = true;
  int interval_ = 0;
};

}  // namespace plimra::kit
