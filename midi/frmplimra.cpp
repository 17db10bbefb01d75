#include "midi/frmplimra.h"

#include <unistd.h>

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEventLoop>
#include <QFileInfo>
#include <QMenuBar>
#include <QMimeData>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <cmath>
#include <cstdio>

#include "about/frmabout.h"
#include "app/forms.h"
#include "app/module1.h"
#include "cd/frmcdp.h"
#include "media/control/mmcontrol.h"
#include "media/mci/device_table.h"
#include "media/mci/midiout.h"
#include "media/sequencer/builtin_synth.h"
#include "media/sequencer/register.h"
#include "resources/icons.h"
#include "runtime/appearance.h"
#include "runtime/conversions.h"
#include "runtime/filedialog.h"
#include "runtime/filenames.h"
#include "runtime/msgbox.h"
#include "runtime/program.h"
#include "settings/profile.h"

namespace plimra::midi {

namespace rt = plimra::rt;
using plimra::control::MMControl;

namespace {

constexpr uint32_t kLightYellow = rt::RGB(255, 255, 128);
constexpr int32_t kStopped = mci::ModeStopped;
constexpr int32_t kPlaying = mci::ModePlaying;
// How long start-up and the port panel wait for the port systems before they
// go on without the answer.
constexpr int kPortListLimitMs = 1000;
constexpr int kPortRefreshLimitMs = 200;

// Milliseconds as "mm:ss"; hours are not shown, so minutes wrap at 60.
QString minutesSeconds(uint32_t ms) {
  const uint32_t s = ms / 1000;
  return QStringLiteral("%1:%2")
      .arg((s / 60) % 60, 2, 10, QLatin1Char('0'))
      .arg(s % 60, 2, 10, QLatin1Char('0'));
}

rt::CommandButton* makeButton(QWidget* parent, const QString& caption) {
  auto* b = new rt::CommandButton(caption, parent);
  rt::setBackColor(b, rt::COLOR_WINDOW);
  return b;
}

}  // namespace

FrmPlimra::FrmPlimra() : rt::Form(QStringLiteral("frmPlimra"), 4155, 2655) {
  app::adopt(this);
  setCaption(QStringLiteral("Midi Player"));
  setWindowIcon(plimra::resources::notesIcon());
  setAcceptDrops(true);
  // Where the window stands before start-up centres it.
  Move(1005, 1635);
  QWidget* c = client();
  c->setFont(rt::layoutFont(rt::kGothic, 10.5));
  rt::setBackColor(c, kLightYellow);
  rt::setForeColor(c, rt::COLOR_WINDOWTEXT);

  // Created in the order they stack and take the focus with Tab.
  Dir1 = new rt::DirListBox(c);
  File1 = new rt::FileListBox(c);
  File1->setPattern(QStringLiteral("*.MID"));
  Drive1 = new rt::DriveListBox(c);
  lstPort = new rt::ListBox(c);
  cmdOK = makeButton(c, QStringLiteral("ＯＫ"));
  cmdCancel = makeButton(c, QStringLiteral("CANCEL"));
  cmdSave = makeButton(c, QStringLiteral("保存"));
  MMControl1 = new MMControl(c);

  // Each control's name, font, place at the design size (twips) and first
  // visibility, in tab order. Start-up then moves the port panel and the
  // transport bar onto the file panel's area.
  struct Placement {
    QWidget* control;
    const char* name;
    const QString* face;  // none: the window's font
    double points;
    int left, top, width, height;
    bool visible;
  };
  const Placement layout[] = {
      {Dir1, "Dir1", &rt::kPGothic, 9, 2160, 480, 1932, 1452, true},
      {File1, "File1", &rt::kMincho, 10.5, 120, 120, 1932, 1710, true},
      {Drive1, "Drive1", &rt::kPGothic, 9, 2160, 120, 1935, 390, true},
      {lstPort, "lstPort", &rt::kPGothic, 9, 4200, 120, 3972, 1824, false},
      {cmdOK, "cmdOK", &rt::kPGothic, 9, 120, 2160, 975, 375, false},
      {cmdCancel, "cmdCancel", &rt::kPGothic, 9, 1560, 2160, 975, 375, false},
      {cmdSave, "cmdSave", &rt::kPGothic, 9, 3000, 2160, 975, 375, false},
      {MMControl1, "MMControl1", nullptr, 0, 4200, 2160, 2832, 372, true},
  };
  QWidget* previous = nullptr;
  for (const Placement& p : layout) {
    p.control->setObjectName(QLatin1String(p.name));
    if (p.face) p.control->setFont(rt::layoutFont(*p.face, p.points));
    rt::place(p.control, p.left, p.top, p.width, p.height);
    if (!p.visible) p.control->setVisible(false);
    if (previous) QWidget::setTabOrder(previous, p.control);
    previous = p.control;
  }
  Dir1->setFocus();

  // The timer exists from the start but ticks only once it has an interval.
  Timer1.setEnabled(true);
  Timer1.setInterval(0);

  // The menu bar's three menus, then the items of each in order.
  using F = FrmPlimra;
  static const rt::MenuEntry<F> menus[] = {
      {&F::mnuFile, nullptr, "mnuFile", u"ＣＤ(&F)"},
      {&F::mnuOpt, nullptr, "mnuOpt", u"動作環境(&O)"},
      {&F::mnuHelp, nullptr, "mnuHelp", u"ヘルプ(&H)"},
      {&F::mnuCDP, &F::mnuFile, "mnuCDP", u"CD Player(&C)", &F::mnuCDP_Click},
      {&F::mnuExit, &F::mnuFile, "mnuExit", u"終了(&X)", &F::mnuExit_Click},
      {&F::mnuMin, &F::mnuOpt, "mnuMin", u"再生時アイコン化(&I)", &F::mnuMin_Click},
      {&F::mnuMode, &F::mnuOpt, "mnuMode", u"再生モード"},
      {&F::mnuSingle, &F::mnuMode, "mnuSingle", u"１曲のみ再生", &F::mnuSingle_Click},
      {&F::mnuContinue, &F::mnuMode, "mnuContinue", u"連続再生", &F::mnuContinue_Click},
      {&F::mnuRandom, &F::mnuMode, "mnuRandom", u"連続再生(ランダム)", &F::mnuRandom_Click},
      {&F::mnuInit, &F::mnuOpt, "mnuInit", u"音源初期化"},
      {&F::mnuNon, &F::mnuInit, "mnuNon", u"なし", &F::mnuNon_Click},
      {&F::mnuGS, &F::mnuInit, "mnuGS", u"ＧＳリセット", &F::mnuGS_Click},
      {&F::mnuGM, &F::mnuInit, "mnuGM", u"ＧＭリセット", &F::mnuGM_Click},
      {&F::mnuXG, &F::mnuInit, "mnuXG", u"ＸＧリセット", &F::mnuXG_Click},
      {&F::mnuChange, &F::mnuOpt, "mnuChange", u"CDへの切替時に曲を止める", &F::mnuChange_Click},
      {&F::mnuTime, &F::mnuOpt, "mnuTime", u"再生中、時間を表示", &F::mnuTime_Click},
      {&F::mnuPort, &F::mnuOpt, "mnuPort", u"MIDI-OUTポートの指定(&P)", &F::mnuPort_Click},
      {&F::mnuSoundFont, &F::mnuOpt, "mnuSoundFont", u"SoundFontの指定(&F)...",
       &F::mnuSoundFont_Click},
      {&F::mnuSave, &F::mnuOpt, "mnuSave", u"動作環境の保存(&S)", &F::mnuSave_Click},
      {&F::mnuAbout, &F::mnuHelp, "mnuAbout", u"PLIMRAについて(&A)", &F::mnuAbout_Click},
  };
  rt::buildMenus(this, menuBar(), menus);

  connect(Drive1, &rt::DriveListBox::Change, this, &FrmPlimra::Drive1_Change);
  connect(Dir1, &rt::DirListBox::Change, this, &FrmPlimra::Dir1_Change);
  connect(cmdOK, &rt::CommandButton::Click, this, &FrmPlimra::cmdOK_Click);
  connect(cmdCancel, &rt::CommandButton::Click, this, &FrmPlimra::cmdCancel_Click);
  connect(cmdSave, &rt::CommandButton::Click, this, &FrmPlimra::cmdSave_Click);
  connect(lstPort, &rt::ListBox::DblClick, this, &FrmPlimra::lstPort_DblClick);
  connect(File1, &rt::FileListBox::DblClick, this, &FrmPlimra::File1_DblClick);
  connect(&Timer1, &rt::Timer::Tick, this, &FrmPlimra::Timer1_Timer);
  connect(MMControl1, &MMControl::Done, this, &FrmPlimra::MMControl1_Done);
  connect(MMControl1, &MMControl::NextClick, this, &FrmPlimra::MMControl1_NextClick);
  connect(MMControl1, &MMControl::PlayClick, this, &FrmPlimra::MMControl1_PlayClick);
  // Stop and Prev leave the song stopped on purpose: its end must not start
  // the next one.
  connect(MMControl1, &MMControl::StopClick, this, [this](int&) { songPlaying_ = false; });
  connect(MMControl1, &MMControl::PrevClick, this, [this](int&) { songPlaying_ = false; });
}

FrmPlimra::~FrmPlimra() { app::release(this); }

void FrmPlimra::PlayFromOutside(const QString& path) {
  // The path in the lossless text form: it may hold Shift-JIS bytes.
  const QString song = rt::absoluteClean(path);
  const bool isFolder = rt::isReadableFolder(song);
  const qsizetype slash = song.lastIndexOf(u'/');
  const QString folder = isFolder ? song : song.left(qMax<qsizetype>(slash, 1));
  const QString name = isFolder ? QString() : song.mid(slash + 1);
  const QString cannotPlay = rt::displayName(name) + QString::fromUtf16(kCannotPlay);
  if (WindowState() == 1) setWindowState(0);
  raise();
  activateWindow();
  // A folder that cannot be shown leaves the lists where they were.
  if (folder != Dir1->Path() && !Dir1->setPath(folder)) {
    setCaption(cannotPlay);
    return;
  }
  if (isFolder) return;
  for (int i = 0; i < File1->ListCount(); ++i) {
    File1->setListIndex(i);
    if (File1->ExactFileName() == name) {
      File1_DblClick();
      return;
    }
  }
  File1->setListIndex(-1);
  setCaption(cannotPlay);
}

void FrmPlimra::dragEnterEvent(QDragEnterEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (!urls.isEmpty() && urls.first().isLocalFile()) event->acceptProposedAction();
}

void FrmPlimra::dropEvent(QDropEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (urls.isEmpty() || !urls.first().isLocalFile()) return;
  event->acceptProposedAction();
  // After the drop has finished: the start may wait for its reset song.
  const QString path = rt::pathFromNative(
      QByteArray::fromPercentEncoding(urls.first().path(QUrl::FullyEncoded).toLatin1()));
  QTimer::singleShot(0, this, [this, path] { PlayFromOutside(path); });
}

void FrmPlimra::Form_Load() {
  // Centred on the screen.
  const float left = (static_cast<float>(rt::ScreenWidth()) - static_cast<float>(Width())) / 2;
  const float top = (static_cast<float>(rt::ScreenHeight()) - static_cast<float>(Height())) / 2;
  Move(static_cast<int>(std::lround(left)), static_cast<int>(std::lround(top)));

  // The port panel and the file panel share the same area.
  rt::move(lstPort, 120, 120);
  rt::move(cmdSave, 3000, 2160);
  rt::move(cmdOK, 120, 2160);
  rt::move(cmdCancel, 1560, 2160);
  rt::move(MMControl1, 120, 2160);
  rt::move(File1, 120, 120);

  // The transport bar drives the sequencer; nothing is opened yet.
  MMControl1->setNotify(true);
  MMControl1->setWait(false);
  MMControl1->setDeviceType(QStringLiteral("Sequencer"));
  MMControl1->setStepVisible(false);
  MMControl1->setBackVisible(false);
  MMControl1->setRecordVisible(false);
  MMControl1->setEjectVisible(false);

  // Option defaults; the saved settings below override them.
  Module1::OptChange = true;
  Module1::OptRandom = true;
  Module1::OptMin = false;
  Module1::OptTime = false;
  Module1::OptSingle = false;
  Module1::OptContinue = false;
  Module1::OptReset = QStringLiteral("GM");
  Module1::OptSoundFont.clear();

  // One entry per MIDI output, the mapper (-1) first, asked off this
  // thread: a port system that does not answer leaves the list empty until
  // it does, and the window comes up meanwhile.
  portListPending_ = !ListPorts(kPortListLimitMs);

  // Saved settings. A file that cannot be read has ended the program.
  if (!LoadSettings()) return;
  UseSoundFont(Module1::OptSoundFont, false);

  // Check marks from the options, in both windows.
  mnuMin->setChecked(Module1::OptMin);
  mnuChange->setChecked(Module1::OptChange);
  mnuTime->setChecked(Module1::OptTime);
  mnuSingle->setChecked(Module1::OptSingle);
  mnuContinue->setChecked(Module1::OptContinue);
  mnuRandom->setChecked(Module1::OptRandom);
  MirrorOptionsInCd();

  // The elapsed-time display runs only with its option on.
  Timer1.setInterval(Module1::OptTime ? 100 : 0);

  // The reset item, by prefix.
  if (Module1::OptReset.left(3) == QLatin1String("NON")) {
    mnuNon->setChecked(true);
  } else if (Module1::OptReset.left(2) == QLatin1String("GS")) {
    mnuGS->setChecked(true);
  } else if (Module1::OptReset.left(2) == QLatin1String("GM")) {
    mnuGM->setChecked(true);
  } else if (Module1::OptReset.left(2) == QLatin1String("XG")) {
    mnuXG->setChecked(true);
  }

  // Drawn before the first event is handled.
  Refresh();
}

namespace {

// One row of plimra.ini as start-up applies it. A missing key reads as the
// empty text, which each row treats as its table says: an empty folder or
// drive is refused by the list, a Boolean that does not convert keeps the
// default, a number without digits is 0.
struct LoadedKey {
  const char* section;
  const char* key;
  void (*apply)(FrmPlimra& w, const QString& value);
};

void applyBool(bool& option, const QString& value) {
  if (const auto b = rt::CBool(value)) option = *b;
}

// A window position in twips; one outside the coordinate range is skipped.
void applyPosition(rt::Form& f, const QString& value, bool top) {
  const auto n = rt::CLng(rt::Val(value));
  if (!n) return;
  if (top) {
    f.setTop(*n);
  } else {
    f.setLeft(*n);
  }
}

// An index the list does not have leaves the selection as it is.
void restorePortIndex(FrmPlimra& w, const QString& value) {
  if (const auto i = rt::CInt(rt::Val(value))) w.lstPort->setListIndex(*i);
}

// The port's name wins over its index when the list has it: a device plugged
// in or removed since the save moves the index, not the name. Files written
// before the name was kept have none, and the index stands.
void restorePortName(FrmPlimra& w, const QString& value) {
  if (value.isEmpty()) return;
  for (int i = 0; i < w.lstPort->ListCount(); ++i) {
    if (w.lstPort->List(i) == value) {
      w.lstPort->setListIndex(i);
      return;
    }
  }
}

const LoadedKey kLoadedKeys[] = {
    {"MID", "Dir", [](FrmPlimra& w, const QString& v) { w.Dir1->setPath(rt::pathFromWritten(v)); }},
    {"MID", "Drive", [](FrmPlimra& w, const QString& v) { w.Drive1->setDrive(v); }},
    {"Option", "Min", [](FrmPlimra&, const QString& v) { applyBool(Module1::OptMin, v); }},
    {"Option", "Change", [](FrmPlimra&, const QString& v) { applyBool(Module1::OptChange, v); }},
    {"Option", "Time", [](FrmPlimra&, const QString& v) { applyBool(Module1::OptTime, v); }},
    {"Option", "Single", [](FrmPlimra&, const QString& v) { applyBool(Module1::OptSingle, v); }},
    {"Option", "Continue",
     [](FrmPlimra&, const QString& v) { applyBool(Module1::OptContinue, v); }},
    {"Option", "Random", [](FrmPlimra&, const QString& v) { applyBool(Module1::OptRandom, v); }},
    {"Option", "MIDIOUT", &restorePortIndex},
    {"Option", "MIDIOUTName", &restorePortName},
    {"Option", "Reset", [](FrmPlimra&, const QString& v) { Module1::OptReset = v; }},
    {"Option", "SoundFont",
     [](FrmPlimra&, const QString& v) { Module1::OptSoundFont = rt::pathFromWritten(v); }},
    {"Plimra", "Top", [](FrmPlimra& w, const QString& v) { applyPosition(w, v, true); }},
    {"Plimra", "Left", [](FrmPlimra& w, const QString& v) { applyPosition(w, v, false); }},
    // The first use of the CD window loads it, hidden.
    {"CDp", "Top", [](FrmPlimra&, const QString& v) { applyPosition(*app::frmCDp(), v, true); }},
    {"CDp", "Left", [](FrmPlimra&, const QString& v) { applyPosition(*app::frmCDp(), v, false); }},
};

}  // namespace

bool FrmPlimra::LoadSettings() {
  const QString file = Module1::SettingsFile();
  const settings::ReadResult read = settings::readProfile(file);
  if (read.status == settings::ReadResult::Missing) {
    // First run: the file starts from what start-up has set; nothing is
    // read this time, and a file that cannot be written stays unsaid.
    Module1::SaveSettings();
    return true;
  }
  if (read.status == settings::ReadResult::Failed) {
    rt::MsgBox(QStringLiteral("予期せぬエラー:") + rt::Str(int64_t{read.errorNumber}) +
               QStringLiteral("\n\n") + file + QStringLiteral("\n") + read.reason);
    rt::End();
    return false;
  }
  for (const LoadedKey& k : kLoadedKeys)
    k.apply(*this,
            read.profile.value(QLatin1String(k.section), QLatin1String(k.key)).value_or(QString()));
  // Ports not listed yet: the saved choice waits for the list.
  if (portListPending_) {
    const auto saved = [&read](const char* key) {
      return read.profile.value(QStringLiteral("Option"), QLatin1String(key)).value_or(QString());
    };
    savedPort_ = {saved("MIDIOUT"), saved("MIDIOUTName")};
  }
  return true;
}

void FrmPlimra::Form_Unload(int16_t& /*Cancel*/) {
  MMControl1->setCommand(QStringLiteral("Close"));
  rt::End();
}

void FrmPlimra::mnuExit_Click() {
  MMControl1->setCommand(QStringLiteral("CLOSE"));
  rt::End();
}

void FrmPlimra::mnuCDP_Click() {
  if (Module1::OptChange) MMControl1->setCommand(QStringLiteral("CLOSE"));
  Hide();
  Refresh();
  cd::FrmCDp* cd = app::frmCDp();  // loaded on first use
  cd->Move(Left(), Top());
  cd->Show();
}

void FrmPlimra::Drive1_Change() {
  // A drive that cannot be read (no medium, no access) leaves the lists
  // where they were.
  if (!Dir1->setPath(Drive1->Drive())) Drive1->revert();
}

void FrmPlimra::Dir1_Change() { File1->setPath(Dir1->Path()); }

// Paths go to the device as the file system's bytes, which need not be
// UTF-8 (names made on Japanese Windows are Shift-JIS).
QByteArray FrmPlimra::ProgramFile(const QString& name) {
  // The program in a root folder gives "/GS.MID", not "//GS.MID".
  const QString dir = rt::AppPath();
  const QByteArray beside = rt::nativePath((dir.endsWith(u'/') ? QString() : dir) + u'/' + name);
  // An installed program keeps its files in the data folder beside bin/.
  const QByteArray installed =
      rt::nativePath(dir + QStringLiteral("/" PLIMRA_DATA_FROM_BIN "/") + name);
  return ::access(beside.constData(), F_OK) == 0 || ::access(installed.constData(), F_OK) != 0
             ? beside
             : installed;
}

QByteArray FrmPlimra::SongFile() const {
  const QString dir = File1->Path();
  const QString name = File1->ExactFileName();
  return rt::nativePath(dir.endsWith(u'/') ? dir + name : dir + u'/' + name);
}

void FrmPlimra::File1_DblClick() {
  // A start made while an earlier one waits for its reset song takes over:
  // the earlier one returns without opening its song.
  const uint64_t call = ++playCall_;
  resetWaiting_ = false;
  songPlaying_ = false;

  // Busy until the song starts; whatever played is closed.
  setCaption(File1->FileName() + QStringLiteral(" (お待ち下さい)"));
  MMControl1->setVisible(false);
  MMControl1->setCommand(QStringLiteral("CLOSE"));

  // Only the exact texts ask for a reset.
  const QString reset = Module1::OptReset;
  QByteArray resetSong;
  if (reset == QLatin1String("GS")) {
    resetSong = ProgramFile(QStringLiteral("GS.MID"));
  } else if (reset == QLatin1String("GM")) {
    resetSong = ProgramFile(QStringLiteral("GM.MID"));
  } else if (reset == QLatin1String("XG")) {
    resetSong = ProgramFile(QStringLiteral("XG.MID"));
  }

  // The reset song, waited for. One that is missing or refused ends the
  // wait at once and the song starts without it.
  if (!resetSong.isEmpty()) {
    MMControl1->setFileName(resetSong);
    MMControl1->setCommand(QStringLiteral("OPEN"));
    cmdOK_Click();
    MMControl1->setCommand(QStringLiteral("PLAY"));
    if (!WaitForResetSong(call)) return;
    MMControl1->setCommand(QStringLiteral("CLOSE"));
  }

  // The song itself, on the chosen port.
  playingSong_ = rt::pathFromNative(SongFile());
  MMControl1->setFileName(SongFile());
  const bool opened = MMControl1->setCommand(QStringLiteral("OPEN")) == mci::err::None;
  cmdOK_Click();
  const bool playing = opened && MMControl1->setCommand(QStringLiteral("PLAY")) == mci::err::None;

  // A song that cannot be played says so and ends the sequence here:
  // nothing of it will report an end.
  if (playing) {
    songPlaying_ = true;
    setCaption(File1->FileName());
  } else {
    silentSongs_ = 0;
    MMControl1->setCommand(QStringLiteral("CLOSE"));
    setCaption(File1->FileName() + QString::fromUtf16(kCannotPlay));
  }
  MMControl1->setVisible(true);
  MMControl1->setTimeFormat(static_cast<int32_t>(mci::TimeFormat::Milliseconds));
  if (playing) silentSongs_ = MMControl1->Length() == 0 ? silentSongs_ + 1 : 0;

  // A window already iconized stays as it is; one showing why the song did
  // not play stays in view.
  if (playing && Module1::OptMin && WindowState() != 1) setWindowState(1);
  if (playing) WarnIfSilent();
}

bool FrmPlimra::WaitForResetSong(uint64_t call) {
  resetWaiting_ = true;
  QPointer<FrmPlimra> self(this);
  const uint16_t device = MMControl1->DeviceID();
  for (;;) {
    const int32_t mode = MMControl1->Mode();
    // Stopped: the reset song has ended (or its play was refused). Not open
    // or not ready: it never will play. Paused by the user: keep waiting.
    if (mode == kStopped ||
        (mode != kPlaying && mode != mci::ModePaused && mode != mci::ModeSeeking))
      break;
    // Sleeps until the device reports or a short while has passed, handling
    // whatever arrives meanwhile, a new start included.
    QEventLoop loop;
    QTimer tick;
    tick.setSingleShot(true);
    connect(&tick, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(MMControl1, &MMControl::Done, &loop, &QEventLoop::quit);
    tick.start(50);
    loop.exec();
    if (!self || playCall_ != call) return false;
    // Closed by someone else meanwhile (the switch to the CD player, the
    // end of the program): that was no end of the reset, and no song follows.
    if (MMControl1->DeviceID() != device) {
      resetWaiting_ = false;
      setCaption(File1->FileName());
      return false;
    }
  }
  resetWaiting_ = false;
  return true;
}

void FrmPlimra::WarnIfSilent() {
  // Only the built-in synthesizer (the mapper, its own entry, or no choice)
  // depends on the audio device; a MIDI-OUT port sounds elsewhere.
  if (silenceExplained_ || lstPort->ListIndex() > 1) return;
  silenceExplained_ = true;
  const QString reason = QString::fromStdString(seq::noSoundReason());
  if (reason.isEmpty()) return;
  // After the start has returned, so the song is already under way.
  QTimer::singleShot(0, this, [reason] {
    rt::MsgBox(QStringLiteral("音が出ません。曲は無音のまま進みます。\n\n") + reason,
               rt::vbExclamation);
  });
}

void FrmPlimra::MMControl1_Done(int NotifyCode) {
  if (MMControl1->Mode() != kStopped || Module1::OptSingle) return;
  // Only the end of the song this window started moves on: the reset
  // song's end is the waiting start's business, and a stopped, refused or
  // cut-short play is no end.
  if (resetWaiting_ || !songPlaying_ || NotifyCode != mci::NotifySuccessful) return;
  songPlaying_ = false;
  // A whole pass of the list without a sound: going on would only open one
  // file after another for ever.
  if (silentSongs_ > 0 && silentSongs_ >= File1->ListCount()) {
    silentSongs_ = 0;
    setCaption(File1->FileName() + QString::fromUtf16(kNothingSounds));
    return;
  }
  PlayNextFile();
}

void FrmPlimra::PlayNextFile() {
  const int n = File1->ListCount();
  // A folder without MIDI files: nothing to play.
  if (n == 0) return;
  int index;
  if (Module1::OptRandom) {
    rt::Randomize();
    const float r = rt::Rnd();
    index = static_cast<int>(std::floor(static_cast<double>(n) * static_cast<double>(r)));
  } else {
    const int i = File1->ListIndex();
    index = i + 1 >= n ? 0 : i + 1;
  }
  File1->setListIndex(index);
  File1_DblClick();
}

void FrmPlimra::MMControl1_NextClick(int& Cancel) {
  PlayNextFile();
  // The control's own Next would seek the new song to its end.
  Cancel = 1;
}

void FrmPlimra::MMControl1_PlayClick(int& /*Cancel*/) { File1_DblClick(); }

void FrmPlimra::Timer1_Timer() {
  if (MMControl1->Mode() != kPlaying) return;
  TimeCaption = File1->FileName() + QStringLiteral(" (") + minutesSeconds(MMControl1->Position()) +
                QStringLiteral(" / ");
  TimeCaption += minutesSeconds(MMControl1->Length()) + u')';
  if (TimeCaption != ShownTimeCaption) {
    setCaption(TimeCaption);
    ShownTimeCaption = TimeCaption;
  }
}

void FrmPlimra::mnuTime_Click() {
  Module1::OptTime = !Module1::OptTime;
  if (Module1::OptTime) {
    mnuTime->setChecked(true);
    Timer1.setInterval(100);
  } else {
    mnuTime->setChecked(false);
    Timer1.setInterval(0);
    if (MMControl1->Mode() == kPlaying) setCaption(File1->FileName());
  }
}

void FrmPlimra::mnuPort_Click() {
  ShowPortPanel(true);
  // Ports come and go (a device plugged in or removed): list them afresh.
  ListPorts(kPortRefreshLimitMs);
}

void FrmPlimra::mnuSoundFont_Click() {
  // Opens where the font that plays lies.
  const QString current = Module1::OptSoundFont.isEmpty()
                              ? rt::pathFromNative(QByteArray::fromStdString(seq::findSoundFont()))
                              : Module1::OptSoundFont;
  const QString font =
      rt::GetOpenFileName({QStringLiteral("SoundFontの指定"),
                           current.left(qMax<qsizetype>(current.lastIndexOf(u'/'), 1)),
                           QStringLiteral("SoundFont (*.sf2 *.sf3 *.SF2 *.SF3)")});
  if (!font.isEmpty()) UseSoundFont(font, true);
}

void FrmPlimra::UseSoundFont(const QString& path, bool fromMenu) {
  QPointer<FrmPlimra> self(this);
  seq::BuiltinSynth::useSoundFont(
      rt::nativePath(path).toStdString(), [self, path, fromMenu](const seq::SoundFontResult& r) {
        if (!self) return;
        const QString used = rt::pathFromNative(QByteArray::fromStdString(r.path));
        if (!r.error.empty()) {
          rt::MsgBox(QStringLiteral("SoundFont「%1」を読み込めませんでした。\n%2\n\n"
                                    "これまでの SoundFont で続けます。")
                         .arg(rt::displayName(used), QString::fromStdString(r.error)),
                     rt::vbExclamation);
        } else if (used == path) {
          Module1::OptSoundFont = path;
        } else if (fromMenu) {
          rt::MsgBox(QStringLiteral("環境変数 PLIMRA_SOUNDFONT の SoundFont「%1」を使い続けます。")
                         .arg(rt::displayName(used)),
                     rt::vbExclamation);
        }
      });
}

void FrmPlimra::cmdOK_Click() {
  // The entry's position minus one, in 16 bits, widened with its sign: the
  // mapper gives -1, no selection -2.
  const int16_t index = lstPort->ListIndex();
  Module1::SeqParms.dwPort =
      static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(index - 1)));
  const uint16_t device = MMControl1->DeviceID();
  const uint32_t result = mci::DeviceTable::instance().sendCommand(
      device, mci::MCI_SET, mci::MCI_SEQ_SET_PORT, &Module1::SeqParms);
  ReportUnopenedPort(device, index, result);
  ShowPortPanel(false);
}

void FrmPlimra::cmdCancel_Click() { ShowPortPanel(false); }

void FrmPlimra::cmdSave_Click() {
  // The panel is closed before the question is asked.
  cmdOK_Click();
  mnuSave_Click();
}

void FrmPlimra::lstPort_DblClick() { cmdSave_Click(); }

void FrmPlimra::ShowPortPanel(bool open) {
  QWidget* focus = focusWidget();
  const bool focusInPanel =
      focus == lstPort || focus == cmdOK || focus == cmdCancel || focus == cmdSave;
  lstPort->setVisible(open);
  MMControl1->setVisible(!open);
  cmdSave->setVisible(open);
  cmdOK->setVisible(open);
  cmdCancel->setVisible(open);
  Drive1->setVisible(!open);
  Dir1->setVisible(!open);
  File1->setVisible(!open);
  // The keyboard follows: into the list on opening, and back to the first
  // control of the browser when the panel that had it goes.
  if (open) {
    lstPort->setFocus();
  } else if (focusInPanel) {
    Dir1->setFocus();
  }
}

bool FrmPlimra::ListPorts(int limitMs) {
  auto listing = mci::MidiOutListing::start();
  portListing_ = listing;
  if (listing->waitFor(std::chrono::milliseconds(limitMs))) {
    PortsListed(listing->names());
    return true;
  }
  static bool told = false;
  if (!told) {
    told = true;
    const std::string system = listing->waitingOn();
    std::fprintf(stderr,
                 "plimra: the %s MIDI system does not answer; the MIDI-OUT port list is "
                 "filled when it does.\n",
                 system.empty() ? "port" : system.c_str());
  }
  QPointer<FrmPlimra> self(this);
  listing->whenDone([self, listing] {
    // Only the latest look counts, and only while the window lives.
    if (self && self->portListing_ == listing) self->PortsListed(listing->names());
  });
  return false;
}

void FrmPlimra::PortsListed(const std::vector<std::string>& names) {
  FillPortList(names);
  if (std::exchange(portListPending_, false) && savedPort_) {
    restorePortIndex(*this, savedPort_->first);
    restorePortName(*this, savedPort_->second);
  }
  savedPort_.reset();
}

void FrmPlimra::FillPortList(const std::vector<std::string>& names) {
  const int16_t old = lstPort->ListIndex();
  const QString chosen = lstPort->List(old);
  lstPort->Clear();
  for (const std::string& name : names) lstPort->AddItem(QString::fromStdString(name));
  if (old < 0) return;
  // The same place when it still holds that port, else the first entry of
  // that name; a port that has gone leaves nothing selected.
  int keep = old < lstPort->ListCount() && lstPort->List(old) == chosen ? old : -1;
  for (int i = 0; keep < 0 && i < lstPort->ListCount(); ++i)
    if (lstPort->List(i) == chosen) keep = i;
  lstPort->setListIndex(keep);
}

void FrmPlimra::ReportUnopenedPort(uint16_t device, int16_t index, uint32_t result) {
  // No song open, or no port chosen: refused on purpose, nothing to say.
  if (device == 0 || index < 0) return;
  if (result == mci::err::None) {
    unopenedPort_.clear();
    return;
  }
  const QString name = lstPort->List(index);
  if (name == unopenedPort_) return;
  unopenedPort_ = name;
  // After the handler has returned, so the song goes on meanwhile.
  QTimer::singleShot(0, this, [name] {
    rt::MsgBox(
        QStringLiteral("MIDI-OUTポート「%1」を開けませんでした。\n曲はこれまでの出力で続きます。")
            .arg(name),
        rt::vbExclamation);
  });
}

void FrmPlimra::mnuAbout_Click() {
  const float left = static_cast<float>(Left()) + 200.0F;
  const float top = static_cast<float>(Top()) + 200.0F;
  // Loads the window (a new one after every close), then shows it modally.
  about::FrmAbout* about = app::frmAbout();
  about->Move(static_cast<int>(std::lround(left)), static_cast<int>(std::lround(top)));
  about->Show(1);
}

void FrmPlimra::SetPlayMode(bool single, bool inOrder, bool random) {
  Module1::OptSingle = single;
  mnuSingle->setChecked(single);
  Module1::OptContinue = inOrder;
  mnuContinue->setChecked(inOrder);
  Module1::OptRandom = random;
  mnuRandom->setChecked(random);
}

void FrmPlimra::mnuSingle_Click() { SetPlayMode(true, false, false); }
void FrmPlimra::mnuContinue_Click() { SetPlayMode(false, true, false); }
void FrmPlimra::mnuRandom_Click() { SetPlayMode(false, false, true); }

void FrmPlimra::SetReset(const QString& kind) {
  Module1::OptReset = kind;
  mnuNon->setChecked(kind == QLatin1String("NON"));
  mnuGS->setChecked(kind == QLatin1String("GS"));
  mnuGM->setChecked(kind == QLatin1String("GM"));
  mnuXG->setChecked(kind == QLatin1String("XG"));
}

void FrmPlimra::mnuNon_Click() { SetReset(QStringLiteral("NON")); }
void FrmPlimra::mnuGS_Click() { SetReset(QStringLiteral("GS")); }
void FrmPlimra::mnuGM_Click() { SetReset(QStringLiteral("GM")); }
void FrmPlimra::mnuXG_Click() { SetReset(QStringLiteral("XG")); }

// The CD window shows the two shared options with check marks of its own.
void FrmPlimra::MirrorOptionsInCd() {
  app::frmCDp()->mnuMin->setChecked(Module1::OptMin);
  app::frmCDp()->mnuChange->setChecked(Module1::OptChange);
}

void FrmPlimra::mnuMin_Click() {
  Module1::OptMin = !Module1::OptMin;
  mnuMin->setChecked(Module1::OptMin);
  MirrorOptionsInCd();
}

void FrmPlimra::mnuChange_Click() {
  Module1::OptChange = !Module1::OptChange;
  mnuChange->setChecked(Module1::OptChange);
  MirrorOptionsInCd();
}

void FrmPlimra::mnuSave_Click() {
  Module1::AskAndSaveSettings();
}

}  // namespace plimra::midi
