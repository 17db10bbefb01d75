#include "ui/kit/controls.h"

#include <QKeyEvent>
#include <QMouseEvent>

#include "ui/kit/appearance.h"
#include "ui/kit/twips.h"

namespace plimra::kit {

void place(QWidget* w, int left, int top, int width, int height) {
  w->setGeometry(TwipsToPixels(left), TwipsToPixels(top), TwipsToPixels(width),
                 TwipsToPixels(height));
}
void move(QWidget* w, int left, int top) { w->move(TwipsToPixels(left), TwipsToPixels(top)); }
int Left(const QWidget* w) { return PixelsToTwips(w->x()); }
int Top(const QWidget* w) { return PixelsToTwips(w->y()); }
int Width(const QWidget* w) { return PixelsToTwips(w->width()); }
int Height(const QWidget* w) { return PixelsToTwips(w->height()); }

Label::Label(QWidget* parent) : QLabel(parent) {
  setAlignment(Qt::AlignLeft | Qt::AlignTop);
  setWordWrap(true);
}

void Label::setCaption(const QString& caption) {
  QString shown = caption;
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  shown.replace(u'\r', u'\n');
  setText(shown);
}

void Label::setBackColor(uint32_t color) {
  backColor_ = color;
  kit::setBackColor(this, color);
}

void Label::setForeColor(uint32_t color) { kit::setForeColor(this, color); }

void Label::mouseReleaseEvent(QMouseEvent* e) {
  QLabel::mouseReleaseEvent(e);
  if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint())) emit Click();
}

void LabelArray::add(int index, Label* label) {
  if (index < 0) return;
  if (static_cast<size_t>(index) >= items_.size()) items_.resize(index + 1, nullptr);
  items_[index] = label;
  connect(label, &Label::Click, this, [this, index] { emit Click(index); });
}

Label* LabelArray::operator[](int index) const {
  return index >= 0 && static_cast<size_t>(index) < items_.size() ? items_[index] : nullptr;
}

CommandButton::CommandButton(const QString& caption, QWidget* parent)
    : QPushButton(caption, parent) {
  setAutoDefault(false);
  connect(this, &QPushButton::clicked, this, &CommandButton::Click);
}

void CommandButton::keyPressEvent(QKeyEvent* e) {
  // Outside dialogs Qt leaves Enter to the default button; here the button
  // with the focus takes it.
  const bool plain = (e->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
  if ((e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) && plain && isEnabled()) {
    click();
    return;
  }
  QPushButton::keyPressEvent(e);
}

ListBox::ListBox(QWidget* parent) : QListWidget(parent) {
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSortingEnabled(false);
  connect(this, &QListWidget::itemDoubleClicked, this, [this] { emit DblClick(); });
}

void ListBox::AddItem(const QString& text) { addItem(text); }

QString ListBox::List(int index) const {
  const auto* it = item(index);
  return it ? it->text() : QString();
}

int16_t ListBox::ListIndex() const {
  const auto* it = currentItem();
  return it && it->isSelected() ? static_cast<int16_t>(row(it)) : int16_t{-1};
}

bool ListBox::setListIndex(int index) {
  if (index < -1 || index >= count()) return false;
  if (index == -1) {
    clearSelection();
    setCurrentRow(-1);
  } else {
    setCurrentRow(index, QItemSelectionModel::ClearAndSelect);
  }
  return true;
}

void ListBox::keyPressEvent(QKeyEvent* e) {
  // Qt moves from the first row when there is no current one, whatever the
  // key: End would choose the first entry.
  const bool plain = (e->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
  if (plain && ListIndex() < 0 && count() > 0) {
    int row = -1;
    switch (e->key()) {
      case Qt::Key_Home:
      case Qt::Key_Down:
        row = 0;
        break;
      case Qt::Key_End:
      case Qt::Key_Up:
        row = count() - 1;
        break;
      default:
        break;
    }
    if (row >= 0) {
      setListIndex(row);
      scrollToItem(item(row));
      return;
    }
  }
  QListWidget::keyPressEvent(e);
}

TextBox::TextBox(QWidget* parent) : QLineEdit(parent) {}

int TextBox::keyCodeOf(int key) {
  if (key >= Qt::Key_A && key <= Qt::Key_Z) return key;  // same codes as 'A'..'Z'
  if (key >= Qt::Key_0 && key <= Qt::Key_9) return key;
  if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return 112 + (key - Qt::Key_F1);
  switch (key) {
    case Qt::Key_Backspace:
      return 8;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
      return 9;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return 13;
    case Qt::Key_Shift:
      return 16;
    case Qt::Key_Control:
      return 17;
    case Qt::Key_Alt:
      return 18;
    case Qt::Key_Pause:
      return 19;
    case Qt::Key_Escape:
      return 27;
    case Qt::Key_Space:
      return 32;
    case Qt::Key_PageUp:
      return 33;
    case Qt::Key_PageDown:
      return 34;
    case Qt::Key_End:
      return 35;
    case Qt::Key_Home:
      return 36;
    case Qt::Key_Left:
      return 37;
    case Qt::Key_Up:
      return 38;
    case Qt::Key_Right:
      return 39;
    case Qt::Key_Down:
      return 40;
    case Qt::Key_Insert:
      return 45;
    case Qt::Key_Delete:
      return 46;
    default:
      return 0;
  }
}

int TextBox::shiftOf(Qt::KeyboardModifiers m) {
  return (m & Qt::ShiftModifier ? 1 : 0) | (m & Qt::ControlModifier ? 2 : 0) |
         (m & Qt::AltModifier ? 4 : 0);
}

void TextBox::keyPressEvent(QKeyEvent* e) {
  int code = keyCodeOf(e->key());
  if (code != 0) {
    emit KeyDown(code, shiftOf(e->modifiers()));
    if (code == 0) {
      e->accept();
      return;
    }
  }
  QLineEdit::keyPressEvent(e);
}

Timer::Timer(QObject* parent) : QObject(parent), timer_(this) {
  connect(&timer_, &QTimer::timeout, this, &Timer::Tick);
}

void Timer::setEnabled(bool on) {
  enabled_ = on;
  update();
}

void Timer::setInterval(int ms) {
  interval_ = ms < 0 ? 0 : ms;
  update();
}

void Timer::update() {
  if (enabled_ && interval_ > 0) {
    // A new interval or a re-enable starts the period afresh.
    timer_.start(interval_);
  } else {
    timer_.stop();
  }
}

}  // namespace plimra::kit
