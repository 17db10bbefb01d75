#include "media/control/mmcontrol.h"

#include <QCloseEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QMetaMethod>
#include <QPainter>
#include <QPixmap>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <atomic>
#include <optional>

#include "media/mci/device_table.h"
#include "media/mci/dispatch.h"
#include "media/mci/text.h"

namespace plimra::control {

namespace mci = plimra::mci;

namespace {

enum class Verb {
  Open,
  Close,
  Play,
  Pause,
  Stop,
  Prev,
  Next,
  Seek,
  Back,
  Step,
  Record,
  Eject,
  Save
};

std::optional<Verb> parseVerb(const QString& text) {
  static const std::pair<const char*, Verb> kVerbs[] = {
      {"OPEN", Verb::Open},   {"CLOSE", Verb::Close},   {"PLAY", Verb::Play},
      {"PAUSE", Verb::Pause}, {"STOP", Verb::Stop},     {"PREV", Verb::Prev},
      {"NEXT", Verb::Next},   {"SEEK", Verb::Seek},     {"BACK", Verb::Back},
      {"STEP", Verb::Step},   {"RECORD", Verb::Record}, {"EJECT", Verb::Eject},
      {"SAVE", Verb::Save},
  };
  const QString word = text.trimmed();
  for (const auto& [name, verb] : kVerbs)
    if (word.compare(QLatin1String(name), Qt::CaseInsensitive) == 0) return verb;
  return std::nullopt;
}

const char* const kCommandOf[MMControl::ButtonCount] = {"PREV", "NEXT", "PLAY",   "PAUSE", "BACK",
                                                        "STEP", "STOP", "RECORD", "EJECT"};
const char* const kNameOf[MMControl::ButtonCount] = {"Prev", "Next", "Play",   "Pause", "Back",
                                                     "Step", "Stop", "Record", "Eject"};
const char* const kTipOf[MMControl::ButtonCount] = {"前へ",     "次へ", "再生", "一時停止", "戻る",
                                                    "コマ送り", "停止", "録音", "取り出し"};

bool isRunning(int32_t mode) { return mode == mci::ModePlaying || mode == mci::ModeSeeking; }

// The buttons' pictures on a 16x16 grid, in the order of the buttons: bars
// ('r': left, top, width, height), arrow heads ('t': three corners) and a
// dot ('o': centre and radius).
// A glyph has at most three strokes; a stroke of kind 0 ends it early.
struct Stroke {
  char kind;
  qreal v[6];
};
constexpr Stroke kGlyphs[MMControl::ButtonCount][3] = {
    {{'r', {2, 3, 2, 10}}, {'t', {9, 3, 4, 8, 9, 13}}, {'t', {14, 3, 9, 8, 14, 13}}},
    {{'t', {2, 3, 7, 8, 2, 13}}, {'t', {7, 3, 12, 8, 7, 13}}, {'r', {12, 3, 2, 10}}},
    {{'t', {5, 3, 12, 8, 5, 13}}},
    {{'r', {4, 3, 3, 10}}, {'r', {9, 3, 3, 10}}},
    {{'r', {3, 3, 2, 10}}, {'t', {12, 3, 5, 8, 12, 13}}},
    {{'t', {4, 3, 11, 8, 4, 13}}, {'r', {11, 3, 2, 10}}},
    {{'r', {4, 4, 8, 8}}},
    {{'o', {8, 8, 4.5}}},
    {{'t', {3, 9, 8, 3, 13, 9}}, {'r', {3, 11, 10, 2}}},
};

void drawGlyph(QPainter& p, MMControl::Button b) {
  for (const Stroke& s : kGlyphs[b]) {
    const qreal* v = s.v;
    if (s.kind == 0) break;
    if (s.kind == 'r') {
      p.drawRect(QRectF(v[0], v[1], v[2], v[3]));
    } else if (s.kind == 'o') {
      p.drawEllipse(QPointF(v[0], v[1]), v[2], v[2]);
    } else {
      const QPointF corners[] = {{v[0], v[1]}, {v[2], v[3]}, {v[4], v[5]}};
      p.drawPolygon(corners, 3);
    }
  }
}

QPixmap glyphPixmap(MMControl::Button b, const QColor& color) {
  constexpr int kScale = 2;  // drawn at twice the size so it stays sharp on high-dpi screens
  QPixmap pm(16 * kScale, 16 * kScale);
  pm.fill(Qt::transparent);
  {
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(kScale, kScale);
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    drawGlyph(p, b);
  }
  pm.setDevicePixelRatio(kScale);
  return pm;
}

QIcon glyphIcon(MMControl::Button b, const QPalette& pal) {
  QIcon icon;
  icon.addPixmap(glyphPixmap(b, pal.color(QPalette::Active, QPalette::ButtonText)), QIcon::Normal);
  icon.addPixmap(glyphPixmap(b, QColor(0xA0, 0xA0, 0xA0)), QIcon::Disabled);
  return icon;
}

}  // namespace

MMControl::MMControl(QWidget* parent) : QWidget(parent) {
  visible_.fill(true);
  for (int i = 0; i < ButtonCount; ++i) {
    const auto b = static_cast<Button>(i);
    auto* button = new QToolButton(this);
    button->setObjectName(QLatin1String(kNameOf[i]));
    button->setToolTip(QString::fromUtf8(kTipOf[i]));
    button->setIcon(glyphIcon(b, palette()));
    button->setIconSize(QSize(16, 16));
    // Reachable by Tab like any button, so the bar works without a mouse.
    button->setFocusPolicy(Qt::StrongFocus);
    button->setEnabled(false);
    connect(button, &QToolButton::clicked, this, [this, b] { pressed(b); });
    button->installEventFilter(this);
    buttons_[i] = button;
  }
  poll_ = new QTimer(this);
  poll_->setInterval(500);
  connect(poll_, &QTimer::timeout, this, &MMControl::refreshButtons);
  resize(sizeHint());
}

MMControl::~MMControl() {
  alive_.reset();  // queued Done deliveries now find the control gone
  closeDevice();
}

QSize MMControl::sizeHint() const { return {236, 33}; }

mci::Device* MMControl::device() const {
  return deviceId_ ? mci::DeviceTable::instance().find(deviceId_) : nullptr;
}

uint16_t MMControl::DeviceID() const { return device() ? deviceId_ : 0; }

int32_t MMControl::Mode() const {
  mci::Device* dev = device();
  return dev ? dev->mode() : 0;
}

uint32_t MMControl::Position() const {
  mci::Device* dev = device();
  mci::StatusValue v;
  if (!dev || dev->status({mci::StatusItem::Position, std::nullopt}, v) != mci::err::None) return 0;
  return v.value;
}

uint32_t MMControl::Length() const {
  mci::Device* dev = device();
  mci::StatusValue v;
  if (!dev || dev->status({mci::StatusItem::Length, std::nullopt}, v) != mci::err::None) return 0;
  return v.value;
}

void MMControl::setTimeFormat(int32_t format) {
  timeFormat_ = format;
  if (mci::Device* dev = device()) dev->setTimeFormat(static_cast<mci::TimeFormat>(format));
}

uint32_t MMControl::setCommand(const QString& command) {
  const std::optional<Verb> verb = parseVerb(command);
  if (!verb) return mci::err::UnrecognizedCommand;

  uint32_t e = mci::err::None;
  bool playStarted = false;  // its Done comes from the device
  if (*verb == Verb::Open) {
    e = openDevice();
  } else if (*verb == Verb::Close) {
    e = closeDevice();
  } else if (mci::Device* dev = device(); !dev) {
    e = mci::err::InvalidDeviceId;
  } else {
    if (*verb != Verb::Pause) heldByStop_ = false;
    switch (*verb) {
      case Verb::Play:
        // Already playing (a PlayClick handler may just have started it):
        // restarting would only cut the sound and the pending notification.
        if (isRunning(dev->mode())) break;
        e = startPlay(*dev);
        playStarted = e == mci::err::None;
        break;
      case Verb::Pause:
        e = pauseOrResume(*dev, playStarted);
        break;
      case Verb::Stop:
        e = dev->stop();
        break;
      case Verb::Prev:
        e = dev->prev();
        break;
      case Verb::Next:
        e = dev->next();
        break;
      case Verb::Seek:
        e = dev->seek({mci::SeekParams::Where::Start, 0});
        break;
      case Verb::Eject:
        e = dev->setDoor(true);
        break;
      default:
        e = mci::err::UnsupportedFunction;
        break;  // back, step, record, save
    }
  }
  if (!playStarted) postDone(e == mci::err::None ? mci::NotifySuccessful : mci::NotifyFailure);
  refreshButtons();
  return e;
}

uint32_t MMControl::openDevice() {
  const std::string type = deviceType_.toStdString();
  const std::string element = fileName_.toStdString();
  if (mci::Device* dev = device()) {
    // Opening what is already open keeps it as it is (a disc left playing
    // while the other window was shown plays on). Anything else replaces it,
    // and so does a device without its medium, so that a disc inserted since
    // is read afresh.
    const int32_t mode = dev->mode();
    const bool usable = isRunning(mode) || mode == mci::ModeStopped || mode == mci::ModePaused;
    if (usable && mci::lowerCase(type) == mci::lowerCase(openType_) && element == openElement_)
      return mci::err::None;
    closeDevice();
  }
  mci::DeviceTable& table = mci::DeviceTable::instance();
  uint16_t id = 0;
  uint32_t e = table.open(type, element, "", id);
  if (e == mci::err::DeviceOpen) {
    // A command string opened the same device by its name first: share it,
    // so the window's strings and the buttons act on one device.
    if (table.findByName(element.empty() ? type : element, &id)) e = mci::err::None;
  }
  if (e != mci::err::None) return e;
  deviceId_ = id;
  openType_ = type;
  openElement_ = element;
  heldByStop_ = false;
  // A format the device does not know leaves its own default; the open
  // itself has succeeded.
  device()->setTimeFormat(static_cast<mci::TimeFormat>(timeFormat_));
  poll_->start();
  return mci::err::None;
}

uint32_t MMControl::closeDevice() {
  poll_->stop();
  heldByStop_ = false;
  const uint16_t id = deviceId_;
  deviceId_ = 0;
  openType_.clear();
  openElement_.clear();
  // Closed elsewhere already (a "close all" string): nothing left to do.
  if (!id || !mci::DeviceTable::instance().find(id)) return mci::err::None;
  return mci::DeviceTable::instance().close(id);
}

uint32_t MMControl::seekTo(uint32_t position) {
  mci::Device* dev = device();
  if (!dev) return mci::err::DeviceNotReady;
  // A device that can move while it plays keeps its play (and its Done).
  uint32_t e = dev->moveTo(position);
  if (e != mci::err::UnsupportedFunction) {
    refreshButtons();
    return e;
  }
  const int32_t mode = dev->mode();
  e = dev->seek({mci::SeekParams::Where::To, position});
  if (e == mci::err::None && (isRunning(mode) || mode == mci::ModePaused)) {
    e = startPlay(*dev);
    if (e == mci::err::None && mode == mci::ModePaused) e = dev->pause();
  }
  refreshButtons();
  return e;
}

bool MMControl::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress &&
      isSignalConnected(QMetaMethod::fromSignal(&MMControl::ArrowKey))) {
    const auto* key = static_cast<QKeyEvent*>(event);
    const bool plain = (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (plain && (key->key() == Qt::Key_Left || key->key() == Qt::Key_Right)) {
      emit ArrowKey(key->key() == Qt::Key_Left ? -1 : 1);
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

uint32_t MMControl::startPlay(mci::Device& dev) {
  // The device reports the end of the play once; a failed start reports
  // Failure here instead, so the callback must then stay silent.
  auto failed = std::make_shared<std::atomic<bool>>(false);
  const bool notify = notify_;
  std::weak_ptr<char> alive = alive_;
  mci::NotifyFn fn = mci::DeviceTable::wrapNotify([this, alive, failed, notify](mci::NotifyCode c) {
    if (failed->load() || !alive.lock()) return;
    refreshButtons();
    if (notify) emit Done(c);
  });
  const uint32_t e = dev.play({}, fn);
  if (e != mci::err::None) failed->store(true);
  return e;
}

uint32_t MMControl::pauseOrResume(mci::Device& dev, bool& playStarted) {
  const int32_t mode = dev.mode();
  if (isRunning(mode)) {
    heldByStop_ = false;
    const uint32_t e = dev.pause();
    if (e == mci::err::None && dev.mode() == mci::ModeStopped) heldByStop_ = true;
    return e;
  }
  if (mode == mci::ModePaused) return dev.resume();
  if (mode == mci::ModeStopped && heldByStop_) {
    heldByStop_ = false;
    const uint32_t e = startPlay(dev);
    playStarted = e == mci::err::None;
    return e;
  }
  return mci::err::NonapplicableFunction;
}

void MMControl::postDone(int code) {
  std::weak_ptr<char> alive = alive_;
  const bool notify = notify_;
  mci::postToGui([this, alive, code, notify] {
    if (!alive.lock()) return;
    refreshButtons();
    if (notify) emit Done(code);
  });
}

void MMControl::pressed(Button b) {
  const int32_t before = Mode();
  const bool heldBefore = heldByStop_;
  std::weak_ptr<char> alive = alive_;
  int cancel = 0;
  switch (b) {
    case Prev:
      emit PrevClick(cancel);
      break;
    case Next:
      emit NextClick(cancel);
      break;
    case Play:
      emit PlayClick(cancel);
      break;
    case Pause:
      emit PauseClick(cancel);
      break;
    case Back:
      emit BackClick(cancel);
      break;
    case Step:
      emit StepClick(cancel);
      break;
    case Stop:
      emit StopClick(cancel);
      break;
    case Record:
      emit RecordClick(cancel);
      break;
    case Eject:
      emit EjectClick(cancel);
      break;
    case ButtonCount:
      return;
  }
  if (!alive.lock() || cancel != 0) return;

  if (b == Pause) {
    // A PauseClick handler may pause or resume the device its own way (by
    // stopping it, or by playing it again). Pausing on top of that would undo
    // it, so the button's toggle is then taken as done.
    const int32_t now = Mode();
    const bool toggledByHandler =
        (isRunning(before) && (now == mci::ModeStopped || now == mci::ModePaused)) ||
        ((before == mci::ModePaused || (before == mci::ModeStopped && heldBefore)) &&
         isRunning(now));
    if (toggledByHandler) {
      heldByStop_ = now == mci::ModeStopped;
      postDone(mci::NotifySuccessful);
      refreshButtons();
      return;
    }
  }
  setCommand(QLatin1String(kCommandOf[b]));
}

void MMControl::click(Button b) {
  refreshButtons();
  if (!visible_[b] || !buttons_[b]->isEnabled()) return;
  pressed(b);
}

bool MMControl::buttonEnabled(Button b) const { return buttons_[b]->isEnabled(); }

void MMControl::refreshButtons() {
  std::array<bool, ButtonCount> on{};
  mci::Device* dev = device();
  if (!dev) {
    poll_->stop();
  } else {
    const int32_t mode = dev->mode();
    if (mode != mci::ModeStopped) heldByStop_ = false;
    if (isRunning(mode)) {
      on[Pause] = on[Stop] = on[Prev] = on[Next] = true;
    } else if (mode == mci::ModePaused || heldByStop_) {
      on[Play] = on[Pause] = on[Stop] = on[Prev] = on[Next] = true;
    } else if (mode == mci::ModeStopped) {
      on[Play] = on[Prev] = on[Next] = on[Eject] = true;
    } else {
      on[Eject] = true;  // no medium or not ready: the door may still open
    }
    // Back, Step and Record: no device here supports them.
  }
  for (int i = 0; i < ButtonCount; ++i) buttons_[i]->setEnabled(on[i]);
}

void MMControl::setButtonVisible(Button b, bool on) {
  visible_[b] = on;
  layoutButtons();
}

void MMControl::layoutButtons() {
  // Every button keeps a ninth of the bar; hidden ones leave no gap.
  const int w = width() / ButtonCount;
  int x = 0;
  for (int i = 0; i < ButtonCount; ++i) {
    buttons_[i]->setVisible(visible_[i]);
    if (!visible_[i]) continue;
    buttons_[i]->setGeometry(x, 0, w, height());
    x += w;
  }
}

void MMControl::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  layoutButtons();
}

void MMControl::changeEvent(QEvent* event) {
  // The glyphs take the button text colour, so a new palette redraws them.
  if (event->type() == QEvent::PaletteChange)
    for (int i = 0; i < ButtonCount; ++i)
      buttons_[i]->setIcon(glyphIcon(static_cast<Button>(i), palette()));
  QWidget::changeEvent(event);
}

void MMControl::closeEvent(QCloseEvent* event) {
  closeDevice();
  refreshButtons();
  QWidget::closeEvent(event);
}

}  // namespace plimra::control
