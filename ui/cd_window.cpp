#include "ui/cd_window.h"

#include <QFontMetrics>
#include <QIcon>
#include <QMenuBar>
#include <algorithm>
#include <cstdlib>
#include <string>

#include "media/control/mmcontrol.h"
#include "media/mci/device_table.h"
#include "media/mci/mci.h"
#include "platform/program.h"
#include "ui/kit/appearance.h"
#include "ui/kit/conversions.h"
#include "ui/kit/msgbox.h"
#include "ui/kit/twips.h"
#include "ui/options.h"
#include "ui/saved_settings.h"
#include "ui/windows.h"

namespace plimra::ui {

namespace kit = plimra::kit;
using plimra::control::MMControl;

namespace {

constexpr uint32_t kLightYellow = kit::RGB(255, 255, 128);
constexpr uint32_t kYellow = kit::RGB(255, 255, 0);
constexpr int kReplyBufferLength = 255;
constexpr int kReplyScan = 20;
constexpr int kPollMs = 500;

kit::Label* makeLabel(QWidget* parent, const char* name, const QString& caption, uint32_t back,
                      int left, int top, int width, int height) {
  auto* l = kit::addControl<kit::Label>(parent, name, left, top, width, height);
  l->setCaption(caption);
  l->setBackColor(back);
  return l;
}

bool isDiscMode(int32_t mode) {
  return mode == plimra::mci::ModePlaying || mode == plimra::mci::ModeStopped;
}

}  // namespace

void takeReply(const std::string& buffer, QString& reply) {
  const size_t scan = std::min<size_t>(kReplyScan, buffer.size());
  for (size_t i = 0; i < scan; ++i) {
    if (buffer[i] == '\0') {
      reply = QString::fromStdString(buffer.substr(0, i));
      return;
    }
  }
}

CdWindow::CdWindow() : kit::Form(QStringLiteral("cdWindow"), 3885, 1815) {
  ui::adopt(this);
  setCaption(QStringLiteral("CD Player"));
  setWindowIcon(cdIcon());
  // The window names no font: the default proportional Japanese UI font.
  setFont(kit::layoutFont(kit::kPGothic, 9));
  Move(3690, 1890);
  QWidget* c = client();
  kit::setBackColor(c, kLightYellow);
  kit::setForeColor(c, kit::COLOR_WINDOWTEXT);

  totalTimeCaption =
      makeLabel(c, "totalTimeCaption", QStringLiteral("全演奏時間"), kYellow, 120, 120, 1200, 270);
  discLength = makeLabel(c, "discLength", QString(), kLightYellow, 1440, 120, 615, 270);
  elapsedCaption =
      makeLabel(c, "elapsedCaption", QStringLiteral("経過時間"), kYellow, 120, 360, 1215, 270);
  status = makeLabel(c, "status", QString(), kLightYellow, 1440, 360, 495, 270);
  // The status texts are wider than the label; it grows to show them whole.
  status->setWordWrap(false);

  for (int i = 0; i < kTrackLabels; ++i) {
    auto* t = makeLabel(c, "trackLabels", QString::number(i + 1), kPlainColor, 120 + 360 * (i % 10),
                        720 + 240 * (i / 10), 375, 255);
    t->setObjectName(QStringLiteral("trackLabels(%1)").arg(i));
    t->setAlignment(Qt::AlignCenter);
    t->setWordWrap(false);
    t->setFrameStyle(QFrame::Box | QFrame::Plain);
    t->setLineWidth(1);
    trackLabels.add(i, t);
  }
  // Later labels lie on top, so every shared border line is drawn once.
  for (int i = 0; i < kTrackLabels; ++i) trackLabels[i]->raise();

  transport = kit::addControl<MMControl>(c, "transport", 120, 1320, 2832, 372);

  // Outside the client area at the design size.
  titleCaption =
      makeLabel(c, "titleCaption", QStringLiteral("ﾀｲﾄﾙ:"), kLightYellow, 4680, 1200, 615, 270);
  titleEntry = kit::addControl<kit::TextBox>(c, "titleEntry", 5400, 1200, 3015, 405);
  titleList = kit::addControl<kit::ListBox>(c, "titleList", 5400, 1200, 3012, 564);
  songNameCaption =
      makeLabel(c, "songNameCaption", QStringLiteral("曲名："), kLightYellow, 120, 2160, 720, 270);
  songName = kit::addControl<kit::TextBox>(c, "songName", 840, 2040, 3015, 495);
  songName->setText(QStringLiteral("songName"));

  // Tab order: the three boxes, then the transport buttons; titleEntry comes first.
  QWidget::setTabOrder(titleEntry, songName);
  QWidget::setTabOrder(songName, titleList);
  QWidget::setTabOrder(titleList, transport);
  titleEntry->setFocus();

  using F = CdWindow;
  static const kit::MenuEntry<F> menus[] = {
      {&F::midiMenu, nullptr, "midiMenu", u"MIDI(&F)"},
      {&F::midiPlayerItem, &F::midiMenu, "midiPlayerItem", u"MIDI Player(&M)", &F::onMidiPlayer},
      {&F::exitItem, &F::midiMenu, "exitItem", u"終了(&X)", &F::onExit},
      {&F::optionsMenu, nullptr, "optionsMenu", u"動作環境(&O)"},
      {&F::iconizeItem, &F::optionsMenu, "iconizeItem", u"再生時アイコン化(&O)",
       &F::onIconizeToggled},
      {&F::stopOnSwitchItem, &F::optionsMenu, "stopOnSwitchItem", u"MIDIへの切替時に曲を止める",
       &F::onStopOnSwitchToggled},
      {&F::saveItem, &F::optionsMenu, "saveItem", u"動作環境の保存(&S)", &F::onSave},
  };
  kit::buildMenus(this, menuBar(), menus);
  options().bind(iconizeItem, Options::Flag::Iconize);
  options().bind(stopOnSwitchItem, Options::Flag::StopOnSwitch);

  pollTimer.setEnabled(false);
  pollTimer.setInterval(0);

  connect(&pollTimer, &kit::Timer::Tick, this, &CdWindow::onPoll);
  connect(&trackLabels, &kit::LabelArray::Click, this, &CdWindow::onTrackClicked);
  connect(transport, &MMControl::PlayClick, this, &CdWindow::onPlayClicked);
  connect(transport, &MMControl::PauseClick, this, &CdWindow::onPauseClicked);
  connect(titleList, &kit::ListBox::DblClick, this, &CdWindow::onTitleActivated);
  connect(titleEntry, &kit::TextBox::KeyDown, this, &CdWindow::onTitleKeyDown);
}

CdWindow::~CdWindow() { ui::release(this); }

int32_t CdWindow::sendCommandString(const QString& command, QString& reply) {
  // The device writes into a fresh buffer of NULs, as long as the platform's.
  std::string answer;
  const uint32_t code =
      plimra::mci::DeviceTable::instance().sendString(command.toStdString(), answer);
  std::string buffer(kReplyBufferLength, '\0');
  std::copy_n(answer.begin(), std::min<size_t>(answer.size(), kReplyBufferLength - 1),
              buffer.begin());
  takeReply(buffer, reply);
  return static_cast<int32_t>(code);
}

namespace {

// A status item of the CD device ("current track", "time format", "length
// track 3"), as its whole answer; empty when the device does not answer.
std::string cdStatus(const std::string& item) {
  std::string reply;
  if (mci::DeviceTable::instance().sendString("status cdaudio " + item, reply) != mci::err::None)
    return {};
  return reply;
}

// "mm:ss:ff" (or fewer fields) as milliseconds; 75 frames a second.
int64_t msfTextToMs(const std::string& text) {
  long fields[3] = {0, 0, 0};
  int n = 0;
  size_t i = 0;
  while (i < text.size() && n < 3) {
    long v = 0;
    bool any = false;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && v < 100000) {
      v = v * 10 + (text[i++] - '0');
      any = true;
    }
    if (!any) break;
    fields[n++] = v;
    if (i < text.size() && text[i] == ':') ++i;
  }
  if (n < 2) return 0;
  const long frames = n == 3 ? fields[2] : 0;
  return (static_cast<int64_t>(fields[0]) * 60 + fields[1]) * 1000 + frames * 1000 / 75;
}

}  // namespace

PlayerState CdWindow::playerState() const {
  PlayerState state;
  state.status = statusOf(transport->Mode());
  if (transport->DeviceID() == 0) return state;
  // The window keeps the device in tmsf: track, minutes, seconds, frames.
  if (cdStatus("time format") == "tmsf") {
    const uint32_t pos = transport->Position();
    state.positionMs =
        (static_cast<int64_t>(mci::tmsfMinute(pos)) * 60 + mci::tmsfSecond(pos)) * 1000 +
        static_cast<int64_t>(mci::tmsfFrame(pos)) * 1000 / 75;
  }
  const long track = std::atol(cdStatus("current track").c_str());
  if (track <= 0) return state;
  state.key = QStringLiteral("track %1").arg(track);
  state.title = QStringLiteral("Track %1").arg(track);
  state.lengthMs = msfTextToMs(cdStatus("length track " + std::to_string(track)));
  return state;
}

bool CdWindow::seek(int64_t positionMs) {
  const PlayerState state = playerState();
  const long track = std::atol(cdStatus("current track").c_str());
  if (state.key.isEmpty() || track <= 0 || track > 99 || positionMs < 0 ||
      positionMs > state.lengthMs || cdStatus("time format") != "tmsf")
    return false;
  const int64_t frames = positionMs * 75 / 1000;
  const uint32_t tmsf =
      mci::makeTmsf(static_cast<uint32_t>(track), static_cast<uint32_t>(frames / (75 * 60)),
                    static_cast<uint32_t>(frames / 75 % 60), static_cast<uint32_t>(frames % 75));
  return transport->seekTo(tmsf) == mci::err::None;
}

void CdWindow::showStatus(const QString& text) {
  status->setCaption(text);
  const int needed = status->sizeHint().width();
  status->resize(std::max(kit::TwipsToPixels(495), needed), status->height());
}

// --- Status poll -----------------------------------------------------------

void CdWindow::onPoll() {
  QString reply;  // one variable receives every reply of the tick

  // No disc, or the door is open: nothing else to show.
  if (transport->Mode() != plimra::mci::ModePlaying &&
      transport->Mode() != plimra::mci::ModeStopped) {
    playState = kDiscNotRead;
    showStatus(QStringLiteral("No Disc !"));
    discLength->setCaption(QString());
    return;
  }

  // A disc not yet read: its tracks and its length, once.
  if (playState == kDiscNotRead) {
    sendCommandString(QStringLiteral("status cdaudio number of tracks"), reply);
    const double n = kit::Val(reply);
    // A disc of more than twenty tracks has labels for its first twenty.
    const int shown = n <= 0 ? 0 : n >= kTrackLabels ? kTrackLabels : static_cast<int>(n);
    for (int i = 0; i < shown; ++i) {
      trackLabels[i]->setBackColor(kPlainColor);
      // A longer disc after a shorter one brings its labels back.
      trackLabels[i]->setVisible(true);
    }
    for (int i = shown; i < kTrackLabels; ++i) trackLabels[i]->setVisible(false);
    sendCommandString(QStringLiteral("status cdaudio length"), reply);
    discLength->setCaption(reply.left(5));
  }

  // Playing or not; the end of a play rewinds and clears the highlight.
  if (transport->Mode() == plimra::mci::ModePlaying) {
    playState = kDiscPlaying;
  } else {
    if (playState == kDiscPlaying) {
      // Playback ended, or was stopped other than by the pause button.
      sendCommandString(QStringLiteral("seek cdaudio to start"), reply);
      for (int i = 0; i < kTrackLabels; ++i) trackLabels[i]->setBackColor(kPlainColor);
    }
    playState = kDiscStopped;
  }

  // Where the head is, as "tt-mm:ss".
  sendCommandString(QStringLiteral("status cdaudio position"), reply);
  currentTrack = static_cast<int16_t>(kit::Val(reply.left(2)));
  const QString position = reply.left(2) + QStringLiteral("-") + reply.mid(3, 5);

  // Shown with the state, the current track highlighted.
  if (playState == kDiscPlaying) {
    showStatus(QStringLiteral("Play ") + position);
    // Tracks above twenty have no label, and track 0 is no track.
    if (currentTrack >= 1 && currentTrack <= kTrackLabels &&
        trackLabels[currentTrack - 1]->BackColor() != kHighlightColor)
      trackLabels[currentTrack - 1]->setBackColor(kHighlightColor);
  } else {
    showStatus(QStringLiteral("Stop ") + position);
  }
}

// --- Track selection and transport -----------------------------------------

void CdWindow::iconizeOnPlay() {
  if (WindowState() != 1 && options().flag(Options::Flag::Iconize)) setWindowState(1);
}

void CdWindow::onTrackClicked(int Index) {
  for (int i = 0; i < kTrackLabels; ++i) trackLabels[i]->setBackColor(kPlainColor);
  currentTrack = static_cast<int16_t>(Index + 1);
  QString reply;
  sendCommandString(QStringLiteral("play cdaudio from") + kit::Str(int64_t{currentTrack}), reply);
  iconizeOnPlay();
}

void CdWindow::onPlayClicked(int& /*Cancel*/) { iconizeOnPlay(); }

void CdWindow::onPauseClicked(int& /*Cancel*/) {
  QString reply;
  switch (playState) {
    case kDiscStopped:
      sendCommandString(QStringLiteral("play cdaudio"), reply);
      break;
    case kDiscPlaying:
      sendCommandString(QStringLiteral("stop cdaudio"), reply);
      playState = kDiscStopped;
      break;
    default:
      break;
  }
}

void CdWindow::onTitleActivated() {
  const QString title = titleList->List(titleList->ListIndex());
  if (title == kNewCd) {
    titleList->setVisible(false);
    titleEntry->setVisible(true);
  }
}

void CdWindow::onTitleKeyDown(int& KeyCode, int /*Shift*/) {
  if (KeyCode == 13 && !titleEntry->Text().isEmpty()) {
    titleList->AddItem(titleEntry->Text());
    titleList->setVisible(true);
    titleEntry->setVisible(false);
  }
}

// --- Life of the window ----------------------------------------------------

void CdWindow::onLoad() {
  pollTimer.setEnabled(true);
  transport->setNotify(true);
  transport->setDeviceType(QStringLiteral("CDAudio"));
  transport->setVisible(true);
  transport->setStepVisible(false);
  transport->setBackVisible(false);
  transport->setRecordVisible(false);
  titleList->AddItem(kNewCd);
}

void CdWindow::onActivate() {
  for (;;) {
    transport->setCommand(QStringLiteral("OPEN"));
    if (isDiscMode(transport->Mode())) break;
    if (kit::MsgBox(QStringLiteral("ＣＤが入っていません"), kit::vbRetryCancel,
                    QStringLiteral("ERROR")) == kit::vbCancel) {
      onMidiPlayer();
      return;
    }
  }
  QString reply;
  sendCommandString(QStringLiteral("set cdaudio time format tmsf"), reply);
  playState = kDiscNotRead;
  pollTimer.setInterval(kPollMs);
}

void CdWindow::onMidiPlayer() {
  const bool stop = options().flag(Options::Flag::StopOnSwitch);
  if (stop && playState == kDiscPlaying) transport->setCommand(QStringLiteral("STOP"));
  if (stop) transport->setCommand(QStringLiteral("CLOSE"));
  pollTimer.setInterval(0);
  Hide();
  Refresh();
  emit midiPlayerRequested(Left(), Top());
}

void CdWindow::onUnload(int16_t& /*Cancel*/) {
  transport->setCommand(QStringLiteral("STOP"));
  transport->setCommand(QStringLiteral("CLOSE"));
  if (transport->Mode() == plimra::mci::ModePlaying) transport->setCommand(QStringLiteral("CLOSE"));
  platform::End();
}

void CdWindow::onExit() {
  transport->setCommand(QStringLiteral("STOP"));
  transport->setCommand(QStringLiteral("CLOSE"));
  platform::End();
}

void CdWindow::onStopOnSwitchToggled() { options().toggle(Options::Flag::StopOnSwitch); }

void CdWindow::onIconizeToggled() { options().toggle(Options::Flag::Iconize); }

void CdWindow::onSave() { askAndSaveSettings(); }

}  // namespace plimra::ui
