#include "ui/cd_window.h"

#include <QFontMetrics>
#include <QIcon>
#include <QMenuBar>
#include <algorithm>

#include "ui/windows.h"
#include "ui/options.h"
#include "media/control/mmcontrol.h"
#include "media/mci/device_table.h"
#include "media/mci/mci.h"
#include "ui/midi_window.h"
#include "ui/kit/appearance.h"
#include "ui/kit/conversions.h"
#include "ui/kit/msgbox.h"
#include "platform/program.h"
#include "ui/kit/twips.h"

namespace plimra::cd {

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
  auto* l = new kit::Label(parent);
  l->setObjectName(QLatin1String(name));
  l->setCaption(caption);
  l->setBackColor(back);
  kit::place(l, left, top, width, height);
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

FrmCDp::FrmCDp() : kit::Form(QStringLiteral("frmCDp"), 3885, 1815) {
  app::adopt(this);
  setCaption(QStringLiteral("CD Player"));
  setWindowIcon(cdIcon());
  // The window names no font: the default proportional Japanese UI font.
  setFont(kit::layoutFont(kit::kPGothic, 9));
  Move(3690, 1890);
  QWidget* c = client();
  kit::setBackColor(c, kLightYellow);
  kit::setForeColor(c, kit::COLOR_WINDOWTEXT);

  Label1 = makeLabel(c, "Label1", QStringLiteral("全演奏時間"), kYellow, 120, 120, 1200, 270);
  Info1 = makeLabel(c, "Info1", QString(), kLightYellow, 1440, 120, 615, 270);
  Label2 = makeLabel(c, "Label2", QStringLiteral("経過時間"), kYellow, 120, 360, 1215, 270);
  Info2 = makeLabel(c, "Info2", QString(), kLightYellow, 1440, 360, 495, 270);
  // The status texts are wider than the label; it grows to show them whole.
  Info2->setWordWrap(false);

  for (int i = 0; i < kTrackLabels; ++i) {
    auto* t = makeLabel(c, "TrackSet", QString::number(i + 1), kPlainColor, 120 + 360 * (i % 10),
                        720 + 240 * (i / 10), 375, 255);
    t->setObjectName(QStringLiteral("TrackSet(%1)").arg(i));
    t->setAlignment(Qt::AlignCenter);
    t->setWordWrap(false);
    t->setFrameStyle(QFrame::Box | QFrame::Plain);
    t->setLineWidth(1);
    TrackSet.add(i, t);
  }
  // Later labels lie on top, so every shared border line is drawn once.
  for (int i = 0; i < kTrackLabels; ++i) TrackSet[i]->raise();

  MMControl1 = new MMControl(c);
  MMControl1->setObjectName(QStringLiteral("MMControl1"));
  kit::place(MMControl1, 120, 1320, 2832, 372);

  // Outside the client area at the design size.
  Label3 = makeLabel(c, "Label3", QStringLiteral("ﾀｲﾄﾙ:"), kLightYellow, 4680, 1200, 615, 270);
  Text1 = new kit::TextBox(c);
  Text1->setObjectName(QStringLiteral("Text1"));
  kit::place(Text1, 5400, 1200, 3015, 405);
  List1 = new kit::ListBox(c);
  List1->setObjectName(QStringLiteral("List1"));
  kit::place(List1, 5400, 1200, 3012, 564);
  Label4 = makeLabel(c, "Label4", QStringLiteral("曲名："), kLightYellow, 120, 2160, 720, 270);
  Text2 = new kit::TextBox(c);
  Text2->setObjectName(QStringLiteral("Text2"));
  Text2->setText(QStringLiteral("Text2"));
  kit::place(Text2, 840, 2040, 3015, 495);

  // Tab order: the three boxes, then the transport buttons; Text1 comes first.
  QWidget::setTabOrder(Text1, Text2);
  QWidget::setTabOrder(Text2, List1);
  QWidget::setTabOrder(List1, MMControl1);
  Text1->setFocus();

  using F = FrmCDp;
  static const kit::MenuEntry<F> menus[] = {
      {&F::mnuFile, nullptr, "mnuFile", u"MIDI(&F)"},
      {&F::mnuMIDI, &F::mnuFile, "mnuMIDI", u"MIDI Player(&M)", &F::mnuMidi_click},
      {&F::mnuEnd, &F::mnuFile, "mnuEnd", u"終了(&X)", &F::mnuEnd_Click},
      {&F::mnuOPT, nullptr, "mnuOPT", u"動作環境(&O)"},
      {&F::mnuMin, &F::mnuOPT, "mnuMin", u"再生時アイコン化(&O)", &F::mnuMin_Click},
      {&F::mnuChange, &F::mnuOPT, "mnuChange", u"MIDIへの切替時に曲を止める", &F::mnuChange_Click},
      {&F::mnuSave, &F::mnuOPT, "mnuSave", u"動作環境の保存(&S)", &F::mnuSave_Click},
  };
  kit::buildMenus(this, menuBar(), menus);

  Timer1.setEnabled(false);
  Timer1.setInterval(0);

  connect(&Timer1, &kit::Timer::Tick, this, &FrmCDp::Timer1_Timer);
  connect(&TrackSet, &kit::LabelArray::Click, this, &FrmCDp::TrackSet_Click);
  connect(MMControl1, &MMControl::PlayClick, this, &FrmCDp::MMControl1_PlayClick);
  connect(MMControl1, &MMControl::PauseClick, this, &FrmCDp::MMControl1_PauseClick);
  connect(List1, &kit::ListBox::DblClick, this, &FrmCDp::List1_DblClick);
  connect(Text1, &kit::TextBox::KeyDown, this, &FrmCDp::Text1_KeyDown);
}

FrmCDp::~FrmCDp() { app::release(this); }

int32_t FrmCDp::SendMciString(const QString& command, QString& reply) {
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

void FrmCDp::showStatus(const QString& text) {
  Info2->setCaption(text);
  const int needed = Info2->sizeHint().width();
  Info2->resize(std::max(kit::TwipsToPixels(495), needed), Info2->height());
}

// --- Status poll -----------------------------------------------------------

void FrmCDp::Timer1_Timer() {
  QString reply;  // one variable receives every reply of the tick

  // No disc, or the door is open: nothing else to show.
  if (MMControl1->Mode() != plimra::mci::ModePlaying &&
      MMControl1->Mode() != plimra::mci::ModeStopped) {
    PlayState = kDiscNotRead;
    showStatus(QStringLiteral("No Disc !"));
    Info1->setCaption(QString());
    return;
  }

  // A disc not yet read: its tracks and its length, once.
  if (PlayState == kDiscNotRead) {
    SendMciString(QStringLiteral("status cdaudio number of tracks"), reply);
    const double n = kit::Val(reply);
    // A disc of more than twenty tracks has labels for its first twenty.
    const int shown = n <= 0 ? 0 : n >= kTrackLabels ? kTrackLabels : static_cast<int>(n);
    for (int i = 0; i < shown; ++i) {
      TrackSet[i]->setBackColor(kPlainColor);
      // A longer disc after a shorter one brings its labels back.
      TrackSet[i]->setVisible(true);
    }
    for (int i = shown; i < kTrackLabels; ++i) TrackSet[i]->setVisible(false);
    SendMciString(QStringLiteral("status cdaudio length"), reply);
    Info1->setCaption(reply.left(5));
  }

  // Playing or not; the end of a play rewinds and clears the highlight.
  if (MMControl1->Mode() == plimra::mci::ModePlaying) {
    PlayState = kPlaying;
  } else {
    if (PlayState == kPlaying) {
      // Playback ended, or was stopped other than by the pause button.
      SendMciString(QStringLiteral("seek cdaudio to start"), reply);
      for (int i = 0; i < kTrackLabels; ++i) TrackSet[i]->setBackColor(kPlainColor);
    }
    PlayState = kStopped;
  }

  // Where the head is, as "tt-mm:ss".
  SendMciString(QStringLiteral("status cdaudio position"), reply);
  CurrentTrack = static_cast<int16_t>(kit::Val(reply.left(2)));
  const QString position = reply.left(2) + QStringLiteral("-") + reply.mid(3, 5);

  // Shown with the state, the current track highlighted.
  if (PlayState == kPlaying) {
    showStatus(QStringLiteral("Play ") + position);
    // Tracks above twenty have no label, and track 0 is no track.
    if (CurrentTrack >= 1 && CurrentTrack <= kTrackLabels &&
        TrackSet[CurrentTrack - 1]->BackColor() != kHighlightColor)
      TrackSet[CurrentTrack - 1]->setBackColor(kHighlightColor);
  } else {
    showStatus(QStringLiteral("Stop ") + position);
  }
}

// --- Track selection and transport -----------------------------------------

void FrmCDp::IconizeOnPlay() {
  if (WindowState() != 1 && Module1::OptMin) setWindowState(1);
}

void FrmCDp::TrackSet_Click(int Index) {
  for (int i = 0; i < kTrackLabels; ++i) TrackSet[i]->setBackColor(kPlainColor);
  CurrentTrack = static_cast<int16_t>(Index + 1);
  QString reply;
  SendMciString(QStringLiteral("play cdaudio from") + kit::Str(int64_t{CurrentTrack}), reply);
  IconizeOnPlay();
}

void FrmCDp::MMControl1_PlayClick(int& /*Cancel*/) { IconizeOnPlay(); }

void FrmCDp::MMControl1_PauseClick(int& /*Cancel*/) {
  QString reply;
  switch (PlayState) {
    case kStopped:
      SendMciString(QStringLiteral("play cdaudio"), reply);
      break;
    case kPlaying:
      SendMciString(QStringLiteral("stop cdaudio"), reply);
      PlayState = kStopped;
      break;
    default:
      break;
  }
}

void FrmCDp::List1_DblClick() {
  const QString title = List1->List(List1->ListIndex());
  if (title == kNewCd) {
    List1->setVisible(false);
    Text1->setVisible(true);
  }
}

void FrmCDp::Text1_KeyDown(int& KeyCode, int /*Shift*/) {
  if (KeyCode == 13 && !Text1->Text().isEmpty()) {
    List1->AddItem(Text1->Text());
    List1->setVisible(true);
    Text1->setVisible(false);
  }
}

// --- Life of the window ----------------------------------------------------

void FrmCDp::Form_Load() {
  Timer1.setEnabled(true);
  MMControl1->setNotify(true);
  MMControl1->setDeviceType(QStringLiteral("CDAudio"));
  MMControl1->setVisible(true);
  MMControl1->setStepVisible(false);
  MMControl1->setBackVisible(false);
  MMControl1->setRecordVisible(false);
  List1->AddItem(kNewCd);
}

void FrmCDp::Form_Activate() {
  for (;;) {
    MMControl1->setCommand(QStringLiteral("OPEN"));
    if (isDiscMode(MMControl1->Mode())) break;
    if (kit::MsgBox(QStringLiteral("ＣＤが入っていません"), kit::vbRetryCancel,
                   QStringLiteral("ERROR")) == kit::vbCancel) {
      mnuMidi_click();
      return;
    }
  }
  QString reply;
  SendMciString(QStringLiteral("set cdaudio time format tmsf"), reply);
  PlayState = kDiscNotRead;
  Timer1.setInterval(kPollMs);
}

void FrmCDp::mnuMidi_click() {
  if (Module1::OptChange && PlayState == kPlaying) MMControl1->setCommand(QStringLiteral("STOP"));
  if (Module1::OptChange) MMControl1->setCommand(QStringLiteral("CLOSE"));
  Timer1.setInterval(0);
  Hide();
  Refresh();
  app::frmPlimra()->Move(Left(), Top());
  app::frmPlimra()->Show();
}

void FrmCDp::Form_Unload(int16_t& /*Cancel*/) {
  MMControl1->setCommand(QStringLiteral("STOP"));
  MMControl1->setCommand(QStringLiteral("CLOSE"));
  if (MMControl1->Mode() == plimra::mci::ModePlaying)
    MMControl1->setCommand(QStringLiteral("CLOSE"));
  platform::End();
}

void FrmCDp::mnuEnd_Click() {
  MMControl1->setCommand(QStringLiteral("STOP"));
  MMControl1->setCommand(QStringLiteral("CLOSE"));
  platform::End();
}

void FrmCDp::mnuChange_Click() {
  Module1::OptChange = !Module1::OptChange;
  app::frmPlimra()->mnuChange->setChecked(Module1::OptChange);
  mnuChange->setChecked(Module1::OptChange);
}

void FrmCDp::mnuMin_Click() {
  Module1::OptMin = !Module1::OptMin;
  app::frmPlimra()->mnuMin->setChecked(Module1::OptMin);
  mnuMin->setChecked(Module1::OptMin);
}

void FrmCDp::mnuSave_Click() {
  Module1::AskAndSaveSettings();
}

}  // namespace plimra::cd
