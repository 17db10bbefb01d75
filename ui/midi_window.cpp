#include "ui/midi_window.h"

#include <unistd.h>

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMenuBar>
#include <QMimeData>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "media/control/mmcontrol.h"
#include "media/mci/device_table.h"
#include "media/mci/midiout.h"
#include "media/mci/synthesizer.h"
#include "platform/filenames.h"
#include "platform/program.h"
#include "resources/icons.h"
#include "ui/kit/appearance.h"
#include "ui/kit/conversions.h"
#include "ui/kit/filedialog.h"
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
constexpr int32_t kStopped = mci::ModeStopped;
constexpr int32_t kPlaying = mci::ModePlaying;
// How long start-up and the port panel wait for the port systems before they
// go on without the answer.
constexpr int kPortListLimitMs = 1000;
constexpr int kPortRefreshLimitMs = 200;
// How far Left and Right on the transport bar move the song.
constexpr int64_t kArrowSeekMs = 5000;

// Milliseconds as "mm:ss"; hours are not shown, so minutes wrap at 60.
QString minutesSeconds(uint32_t ms) {
  const uint32_t s = ms / 1000;
  return QStringLiteral("%1:%2")
      .arg((s / 60) % 60, 2, 10, QLatin1Char('0'))
      .arg(s % 60, 2, 10, QLatin1Char('0'));
}

kit::CommandButton* makeButton(QWidget* parent, const QString& caption) {
  auto* b = new kit::CommandButton(caption, parent);
  kit::setBackColor(b, kit::COLOR_WINDOW);
  return b;
}

}  // namespace

MidiWindow::MidiWindow() : kit::Form(QStringLiteral("midiWindow"), 4155, 2655) {
  ui::adopt(this);
  setCaption(QStringLiteral("Midi Player"));
  setWindowIcon(plimra::resources::notesIcon());
  setAcceptDrops(true);
  // Where the window stands before start-up centres it.
  Move(1005, 1635);
  QWidget* c = client();
  c->setFont(kit::layoutFont(kit::kGothic, 10.5));
  kit::setBackColor(c, kLightYellow);
  kit::setForeColor(c, kit::COLOR_WINDOWTEXT);

  // Created in the order they stack and take the focus with Tab.
  folderList = new kit::DirListBox(c);
  fileList = new kit::FileListBox(c);
  fileList->setPattern(QStringLiteral("*.MID"));
  driveList = new kit::DriveListBox(c);
  portList = new kit::ListBox(c);
  portOk = makeButton(c, QStringLiteral("ＯＫ"));
  portCancel = makeButton(c, QStringLiteral("CANCEL"));
  portSave = makeButton(c, QStringLiteral("保存"));
  transport = new MMControl(c);

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
      {folderList, "folderList", &kit::kPGothic, 9, 2160, 480, 1932, 1452, true},
      {fileList, "fileList", &kit::kMincho, 10.5, 120, 120, 1932, 1710, true},
      {driveList, "driveList", &kit::kPGothic, 9, 2160, 120, 1935, 390, true},
      {portList, "portList", &kit::kPGothic, 9, 4200, 120, 3972, 1824, false},
      {portOk, "portOk", &kit::kPGothic, 9, 120, 2160, 975, 375, false},
      {portCancel, "portCancel", &kit::kPGothic, 9, 1560, 2160, 975, 375, false},
      {portSave, "portSave", &kit::kPGothic, 9, 3000, 2160, 975, 375, false},
      {transport, "transport", nullptr, 0, 4200, 2160, 2832, 372, true},
  };
  QWidget* previous = nullptr;
  for (const Placement& p : layout) {
    p.control->setObjectName(QLatin1String(p.name));
    if (p.face) p.control->setFont(kit::layoutFont(*p.face, p.points));
    kit::place(p.control, p.left, p.top, p.width, p.height);
    if (!p.visible) p.control->setVisible(false);
    if (previous) QWidget::setTabOrder(previous, p.control);
    previous = p.control;
  }
  folderList->setFocus();

  resetPoll_.setInterval(50);
  connect(&resetPoll_, &QTimer::timeout, this, &MidiWindow::resetSongProgress);

  // The timer exists from the start but ticks only once it has an interval.
  timeTimer.setEnabled(true);
  timeTimer.setInterval(0);

  // The menu bar's three menus, then the items of each in order.
  using F = MidiWindow;
  static const kit::MenuEntry<F> menus[] = {
      {&F::cdMenu, nullptr, "cdMenu", u"ＣＤ(&F)"},
      {&F::optionsMenu, nullptr, "optionsMenu", u"動作環境(&O)"},
      {&F::helpMenu, nullptr, "helpMenu", u"ヘルプ(&H)"},
      {&F::cdPlayerItem, &F::cdMenu, "cdPlayerItem", u"CD Player(&C)", &F::onCdPlayer},
      {&F::exitItem, &F::cdMenu, "exitItem", u"終了(&X)", &F::onExit},
      {&F::iconizeItem, &F::optionsMenu, "iconizeItem", u"再生時アイコン化(&I)",
       &F::onIconizeToggled},
      {&F::playModeMenu, &F::optionsMenu, "playModeMenu", u"再生モード"},
      {&F::singleItem, &F::playModeMenu, "singleItem", u"１曲のみ再生", &F::onSingleChosen},
      {&F::inOrderItem, &F::playModeMenu, "inOrderItem", u"連続再生", &F::onInOrderChosen},
      {&F::randomItem, &F::playModeMenu, "randomItem", u"連続再生(ランダム)", &F::onRandomChosen},
      {&F::resetMenu, &F::optionsMenu, "resetMenu", u"音源初期化"},
      {&F::noResetItem, &F::resetMenu, "noResetItem", u"なし", &F::onNoResetChosen},
      {&F::gsResetItem, &F::resetMenu, "gsResetItem", u"ＧＳリセット", &F::onGsResetChosen},
      {&F::gmResetItem, &F::resetMenu, "gmResetItem", u"ＧＭリセット", &F::onGmResetChosen},
      {&F::xgResetItem, &F::resetMenu, "xgResetItem", u"ＸＧリセット", &F::onXgResetChosen},
      {&F::stopOnSwitchItem, &F::optionsMenu, "stopOnSwitchItem", u"CDへの切替時に曲を止める",
       &F::onStopOnSwitchToggled},
      {&F::loopItem, &F::optionsMenu, "loopItem", u"ループ再生", &F::onLoopToggled},
      {&F::timeItem, &F::optionsMenu, "timeItem", u"再生中、時間を表示", &F::onTimeToggled},
      {&F::lyricsItem, &F::optionsMenu, "lyricsItem", u"歌詞を表示(&L)", &F::onLyricsToggled},
      {&F::portItem, &F::optionsMenu, "portItem", u"MIDI-OUTポートの指定(&P)", &F::onPortPanel},
      {&F::soundFontItem, &F::optionsMenu, "soundFontItem", u"SoundFontの指定(&F)...",
       &F::onSoundFont},
      {&F::saveItem, &F::optionsMenu, "saveItem", u"動作環境の保存(&S)", &F::onSave},
      {&F::aboutItem, &F::helpMenu, "aboutItem", u"PLIMRAについて(&A)", &F::onAbout},
  };
  kit::buildMenus(this, menuBar(), menus);

  // So does the port choice, once the list has come.
  connect(portList, &QListWidget::itemSelectionChanged, this, [this] {
    if (!portListPending_) options().setPort(listedPort());
  });

  connect(driveList, &kit::DriveListBox::Change, this, &MidiWindow::onDriveChanged);
  connect(folderList, &kit::DirListBox::Change, this, &MidiWindow::onFolderChanged);
  connect(portOk, &kit::CommandButton::Click, this, &MidiWindow::onPortOk);
  connect(portCancel, &kit::CommandButton::Click, this, &MidiWindow::onPortCancel);
  connect(portSave, &kit::CommandButton::Click, this, &MidiWindow::onPortSave);
  connect(portList, &kit::ListBox::DblClick, this, &MidiWindow::onPortActivated);
  connect(fileList, &kit::FileListBox::DblClick, this, &MidiWindow::onFileActivated);
  connect(&timeTimer, &kit::Timer::Tick, this, &MidiWindow::onTimerTick);
  connect(transport, &MMControl::Done, this, &MidiWindow::onTransportDone);
  connect(transport, &MMControl::NextClick, this, &MidiWindow::onNextClicked);
  connect(transport, &MMControl::PlayClick, this, &MidiWindow::onPlayClicked);
  // Left and Right on the transport bar: 5 s back or on, within the song.
  connect(transport, &MMControl::ArrowKey, this, [this](int direction) {
    const int64_t length = transport->Length();
    const int64_t target = int64_t{transport->Position()} + direction * kArrowSeekMs;
    seek(std::clamp<int64_t>(target, 0, length));
  });
  // Those who show the song learn of each change once the bar has acted.
  for (auto click : {&MMControl::PlayClick, &MMControl::PauseClick, &MMControl::StopClick,
                     &MMControl::PrevClick})
    connect(transport, click, this,
            [this](int&) { QTimer::singleShot(0, this, &MidiWindow::playerChanged); });
  connect(transport, &MMControl::Done, this, &MidiWindow::playerChanged);
  // Stop and Prev leave the song stopped on purpose: its end must not start
  // the next one.
  connect(transport, &MMControl::StopClick, this, [this](int&) { songPlaying_ = false; });
  connect(transport, &MMControl::PrevClick, this, [this](int&) { songPlaying_ = false; });
}

MidiWindow::~MidiWindow() { ui::release(this); }

void MidiWindow::playFromOutside(const QString& path) {
  // The path in the lossless text form: it may hold Shift-JIS bytes.
  const QString song = platform::absoluteClean(path);
  const bool isFolder = platform::isReadableFolder(song);
  const qsizetype slash = song.lastIndexOf(u'/');
  const QString folder = isFolder ? song : song.left(qMax<qsizetype>(slash, 1));
  const QString name = isFolder ? QString() : song.mid(slash + 1);
  const QString cannotPlay = platform::displayName(name) + QString::fromUtf16(kCannotPlay);
  if (WindowState() == 1) setWindowState(0);
  raise();
  activateWindow();
  // A folder that cannot be shown leaves the lists where they were.
  if (folder != folderList->Path() && !folderList->setPath(folder)) {
    setCaption(cannotPlay);
    return;
  }
  if (isFolder) return;
  for (int i = 0; i < fileList->ListCount(); ++i) {
    fileList->setListIndex(i);
    if (fileList->ExactFileName() == name) {
      onFileActivated();
      return;
    }
  }
  fileList->setListIndex(-1);
  setCaption(cannotPlay);
}

PlayerState MidiWindow::playerState() const {
  PlayerState state;
  state.status = statusOf(transport->Mode());
  if (transport->DeviceID() == 0 || playingSong_.isEmpty()) return state;
  state.key = state.file = playingSong_;
  state.lyrics = lyrics_;
  state.title = lyrics_ && !lyrics_->title.empty()
                    ? QString::fromStdString(lyrics_->title)
                    : platform::displayName(playingSong_.mid(playingSong_.lastIndexOf(u'/') + 1));
  if (transport->TimeFormat() == static_cast<int32_t>(mci::TimeFormat::Milliseconds)) {
    state.positionMs = transport->Position();
    state.lengthMs = transport->Length();
  }
  return state;
}

bool MidiWindow::seek(int64_t positionMs) {
  if (transport->DeviceID() == 0 || positionMs < 0 ||
      transport->TimeFormat() != static_cast<int32_t>(mci::TimeFormat::Milliseconds) ||
      positionMs > transport->Length())
    return false;
  const bool moved = transport->seekTo(static_cast<uint32_t>(positionMs)) == mci::err::None;
  if (moved) emit playerChanged();
  return moved;
}

void MidiWindow::playFromIdle() {
  if (fileList->ListCount() == 0) return;
  if (fileList->ListIndex() < 0) fileList->setListIndex(0);
  onFileActivated();
}

void MidiWindow::dragEnterEvent(QDragEnterEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (!urls.isEmpty() && urls.first().isLocalFile()) event->acceptProposedAction();
}

void MidiWindow::dropEvent(QDropEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (urls.isEmpty() || !urls.first().isLocalFile()) return;
  event->acceptProposedAction();
  // After the drop has finished: the start may wait for its reset song.
  const QString path = platform::pathFromNative(
      QByteArray::fromPercentEncoding(urls.first().path(QUrl::FullyEncoded).toLatin1()));
  QTimer::singleShot(0, this, [this, path] { playFromOutside(path); });
}

void MidiWindow::onLoad() {
  // Centred on the screen.
  const float left = (static_cast<float>(kit::ScreenWidth()) - static_cast<float>(Width())) / 2;
  const float top = (static_cast<float>(kit::ScreenHeight()) - static_cast<float>(Height())) / 2;
  Move(static_cast<int>(std::lround(left)), static_cast<int>(std::lround(top)));

  // The port panel and the file panel share the same area.
  kit::move(portList, 120, 120);
  kit::move(portSave, 3000, 2160);
  kit::move(portOk, 120, 2160);
  kit::move(portCancel, 1560, 2160);
  kit::move(transport, 120, 2160);
  kit::move(fileList, 120, 120);

  // The transport bar drives the sequencer; nothing is opened yet.
  transport->setNotify(true);
  transport->setDeviceType(QStringLiteral("Sequencer"));
  transport->setStepVisible(false);
  transport->setBackVisible(false);
  transport->setRecordVisible(false);
  transport->setEjectVisible(false);

  // Option defaults; the saved settings below override them.
  options().setDefaults();

  // One entry per MIDI output, the mapper (-1) first, asked off this
  // thread; the list fills when the answer comes, and the window does not
  // wait for it: the first frame does not show the list.
  portListPending_ = !listPorts(0);

  // Saved settings. A file that cannot be read has ended the program.
  if (!loadSettings(*this)) return;
  useSoundFont(options().soundFont(), false);

  // The check marks show the options from now on, whichever window
  // changes them.
  Options& o = options();
  o.bind(iconizeItem, Options::Flag::Iconize);
  o.bind(stopOnSwitchItem, Options::Flag::StopOnSwitch);
  o.bind(timeItem, Options::Flag::ShowTime);
  o.bind(lyricsItem, Options::Flag::Lyrics);
  o.bind(singleItem, Options::Flag::Single);
  o.bind(inOrderItem, Options::Flag::InOrder);
  o.bind(randomItem, Options::Flag::Random);
  o.bind(loopItem, Options::Flag::Loop);
  o.bindReset(noResetItem, QStringLiteral("NON"));
  o.bindReset(gsResetItem, QStringLiteral("GS"));
  o.bindReset(gmResetItem, QStringLiteral("GM"));
  o.bindReset(xgResetItem, QStringLiteral("XG"));

  // The elapsed-time display runs only with its option on.
  timeTimer.setInterval(options().flag(Options::Flag::ShowTime) ? 100 : 0);

  // Drawn before the first event is handled.
  Refresh();
}

namespace {

// The name of a port as files from before whole names were kept hold it:
// cut to 31 bytes, between two UTF-8 characters.
QString cutPortName(const QString& name) {
  constexpr qsizetype kCut = 31;
  QByteArray utf8 = name.toUtf8();
  if (utf8.size() <= kCut) return name;
  qsizetype cut = kCut;
  while (cut > 0 && (static_cast<uchar>(utf8[cut]) & 0xC0) == 0x80) --cut;
  utf8.truncate(cut);
  return QString::fromUtf8(utf8);
}

// The port's name wins over its index when the list has it: a device plugged
// in or removed since the save moves the index, not the name. Where several
// entries bear the name (two identical devices), the one at the saved index
// (chosen just before) stays chosen. A name cut as older files hold it
// stands for the one port whose name it begins. Files written before the
// name was kept have none, and the index stands; so it does for a name no
// entry has (a device unplugged).
void choosePortByName(kit::ListBox& list, const QString& value) {
  if (value.isEmpty()) return;
  QList<int> whole, cut;
  for (int i = 0; i < list.ListCount(); ++i) {
    const QString name = list.List(i);
    if (name == value) {
      whole << i;
    } else if (name != cutPortName(name) && cutPortName(name) == value) {
      cut << i;
    }
  }
  const QList<int>& matches = whole.isEmpty() ? cut : whole;
  if (matches.isEmpty() || matches.contains(list.ListIndex())) return;
  if (!whole.isEmpty() || cut.size() == 1) list.setListIndex(matches.front());
}

}  // namespace

void MidiWindow::onUnload(int16_t& /*Cancel*/) {
  transport->setCommand(QStringLiteral("Close"));
  platform::End();
}

void MidiWindow::onExit() {
  transport->setCommand(QStringLiteral("CLOSE"));
  platform::End();
}

void MidiWindow::onCdPlayer() {
  if (options().flag(Options::Flag::StopOnSwitch)) {
    transport->setCommand(QStringLiteral("CLOSE"));
    emit playerChanged();
  }
  Hide();
  Refresh();
  emit cdPlayerRequested(Left(), Top());
}

void MidiWindow::onDriveChanged() {
  // A drive that cannot be read (no medium, no access) leaves the lists
  // where they were.
  if (!folderList->setPath(driveList->Drive())) driveList->revert();
}

void MidiWindow::onFolderChanged() { fileList->setPath(folderList->Path()); }

// Paths go to the device as the file system's bytes, which need not be
// UTF-8 (names made on Japanese Windows are Shift-JIS).
QByteArray MidiWindow::programFile(const QString& name) {
  // The program in a root folder gives "/GS.MID", not "//GS.MID".
  const QString dir = platform::AppPath();
  const QByteArray beside =
      platform::nativePath((dir.endsWith(u'/') ? QString() : dir) + u'/' + name);
  // An installed program keeps its files in the data folder beside bin/.
  const QByteArray installed =
      platform::nativePath(dir + QStringLiteral("/" PLIMRA_DATA_FROM_BIN "/") + name);
  return ::access(beside.constData(), F_OK) == 0 || ::access(installed.constData(), F_OK) != 0
             ? beside
             : installed;
}

QByteArray MidiWindow::songFile() const {
  const QString dir = fileList->Path();
  const QString name = fileList->ExactFileName();
  return platform::nativePath(dir.endsWith(u'/') ? dir + name : dir + u'/' + name);
}

void MidiWindow::onFileActivated() {
  // A start made while an earlier one waits for its reset song takes over:
  // the earlier one's song is never opened.
  resetWaiting_ = false;
  resetPoll_.stop();
  songPlaying_ = false;

  // Busy until the song starts; whatever played is closed.
  setCaption(fileList->FileName() + QStringLiteral(" (お待ち下さい)"));
  transport->setVisible(false);
  transport->setCommand(QStringLiteral("CLOSE"));

  // Only the exact texts ask for a reset.
  const QString reset = options().reset();
  QByteArray resetSong;
  if (reset == QLatin1String("GS")) {
    resetSong = programFile(QStringLiteral("GS.MID"));
  } else if (reset == QLatin1String("GM")) {
    resetSong = programFile(QStringLiteral("GM.MID"));
  } else if (reset == QLatin1String("XG")) {
    resetSong = programFile(QStringLiteral("XG.MID"));
  }

  // The reset song, waited for: its end (or its failure to play) starts the
  // song. One that is missing or refused ends the wait at once.
  if (!resetSong.isEmpty()) {
    transport->setFileName(resetSong);
    transport->setCommand(QStringLiteral("OPEN"));
    onPortOk();
    transport->setCommand(QStringLiteral("PLAY"));
    resetWaiting_ = true;
    resetDevice_ = transport->DeviceID();
    resetSongProgress();
    // Between the device's reports, a look every short while: a play the
    // user paused and resumed reports nothing.
    if (resetWaiting_) resetPoll_.start();
    return;
  }
  startSong();
}

void MidiWindow::resetSongProgress() {
  if (!resetWaiting_) return;
  // Closed by someone else meanwhile (the switch to the CD player, the end
  // of the program): that was no end of the reset, and no song follows.
  if (transport->DeviceID() != resetDevice_) {
    resetWaiting_ = false;
    resetPoll_.stop();
    setCaption(fileList->FileName());
    return;
  }
  // Stopped: the reset song has ended (or its play was refused). Not open
  // or not ready: it never will play. Paused by the user: keep waiting.
  const int32_t mode = transport->Mode();
  if (mode == kPlaying || mode == mci::ModePaused || mode == mci::ModeSeeking) return;
  resetWaiting_ = false;
  resetPoll_.stop();
  transport->setCommand(QStringLiteral("CLOSE"));
  startSong();
}

void MidiWindow::startSong() {
  // The song itself, on the chosen port.
  playingSong_ = platform::pathFromNative(songFile());
  lyrics_ = std::make_shared<const seq::Lyrics>(seq::readLyrics(songFile().toStdString()));
  transport->setFileName(songFile());
  const bool opened = transport->setCommand(QStringLiteral("OPEN")) == mci::err::None;
  // A song with a loop goes round it when the option is on (a song opens
  // with loop mode off).
  if (opened && loopOn()) mci::DeviceTable::instance().setLoop(transport->DeviceID(), true);
  onPortOk();
  const bool playing = opened && transport->setCommand(QStringLiteral("PLAY")) == mci::err::None;

  // A song that cannot be played says so and ends the sequence here:
  // nothing of it will report an end.
  if (playing) {
    songPlaying_ = true;
    setCaption(fileList->FileName());
  } else {
    silentSongs_ = 0;
    transport->setCommand(QStringLiteral("CLOSE"));
    setCaption(fileList->FileName() + QString::fromUtf16(kCannotPlay));
  }
  transport->setVisible(true);
  transport->setTimeFormat(static_cast<int32_t>(mci::TimeFormat::Milliseconds));
  if (playing) silentSongs_ = transport->Length() == 0 ? silentSongs_ + 1 : 0;

  // A window already iconized stays as it is; one showing why the song did
  // not play stays in view; a hidden one (the CD player is shown) stays
  // hidden, or it would come back iconized.
  if (playing && options().flag(Options::Flag::Iconize) && isVisible() && WindowState() != 1)
    setWindowState(1);
  if (playing) warnIfSilent();
  emit playerChanged();
}

void MidiWindow::warnIfSilent() {
  // Only the built-in synthesizer (the mapper, its own entry, or no choice)
  // depends on the audio device; a MIDI-OUT port sounds elsewhere.
  if (silenceExplained_ || portList->ListIndex() > 1) return;
  silenceExplained_ = true;
  const QString reason = QString::fromStdString(mci::synthesizer()->noSoundReason());
  if (reason.isEmpty()) return;
  // After the start has returned, so the song is already under way.
  QTimer::singleShot(0, this, [reason] {
    kit::MsgBox(QStringLiteral("音が出ません。曲は無音のまま進みます。\n\n") + reason,
                kit::vbExclamation);
  });
}

void MidiWindow::onTransportDone(int NotifyCode) {
  // The reset song's end is the waiting start's business.
  if (resetWaiting_) {
    resetSongProgress();
    return;
  }
  if (transport->Mode() != kStopped || options().flag(Options::Flag::Single)) return;
  // Only the end of the song this window started moves on: a stopped,
  // refused or cut-short play is no end.
  if (!songPlaying_ || NotifyCode != mci::NotifySuccessful) return;
  songPlaying_ = false;
  // A whole pass of the list without a sound: going on would only open one
  // file after another for ever.
  if (silentSongs_ > 0 && silentSongs_ >= fileList->ListCount()) {
    silentSongs_ = 0;
    setCaption(fileList->FileName() + QString::fromUtf16(kNothingSounds));
    return;
  }
  playNextFile();
}

void MidiWindow::playNextFile() {
  const int n = fileList->ListCount();
  // A folder without MIDI files: nothing to play.
  if (n == 0) return;
  int index;
  if (options().flag(Options::Flag::Random)) {
    kit::Randomize();
    const float r = kit::Rnd();
    index = static_cast<int>(std::floor(static_cast<double>(n) * static_cast<double>(r)));
  } else {
    const int i = fileList->ListIndex();
    index = i + 1 >= n ? 0 : i + 1;
  }
  fileList->setListIndex(index);
  onFileActivated();
}

void MidiWindow::onNextClicked(int& Cancel) {
  playNextFile();
  // The control's own Next would seek the new song to its end.
  Cancel = 1;
}

void MidiWindow::onPlayClicked(int& /*Cancel*/) { onFileActivated(); }

void MidiWindow::onTimerTick() {
  if (transport->Mode() != kPlaying) return;
  timeCaption = fileList->FileName() + QStringLiteral(" (") +
                minutesSeconds(transport->Position()) + QStringLiteral(" / ");
  timeCaption += minutesSeconds(transport->Length()) + u')';
  if (timeCaption != shownTimeCaption) {
    setCaption(timeCaption);
    shownTimeCaption = timeCaption;
  }
}

void MidiWindow::onTimeToggled() {
  options().toggle(Options::Flag::ShowTime);
  if (options().flag(Options::Flag::ShowTime)) {
    timeTimer.setInterval(100);
  } else {
    timeTimer.setInterval(0);
    if (transport->Mode() == kPlaying) setCaption(fileList->FileName());
  }
}

void MidiWindow::onPortPanel() {
  showPortPanel(true);
  // Ports come and go (a device plugged in or removed): list them afresh.
  listPorts(kPortRefreshLimitMs);
}

void MidiWindow::onSoundFont() {
  // Opens where the font that plays lies.
  const QString current =
      options().soundFont().isEmpty()
          ? platform::pathFromNative(QByteArray::fromStdString(mci::synthesizer()->defaultFont()))
          : options().soundFont();
  const QString font =
      kit::GetOpenFileName({QStringLiteral("SoundFontの指定"),
                            current.left(qMax<qsizetype>(current.lastIndexOf(u'/'), 1)),
                            QStringLiteral("SoundFont (*.sf2 *.sf3 *.SF2 *.SF3)")});
  if (!font.isEmpty()) useSoundFont(font, true);
}

void MidiWindow::useSoundFont(const QString& path, bool fromMenu) {
  QPointer<MidiWindow> self(this);
  mci::synthesizer()->useSoundFont(
      platform::nativePath(path).toStdString(),
      [self, path, fromMenu](const mci::SoundFontResult& r) {
        if (!self) return;
        const QString used = platform::pathFromNative(QByteArray::fromStdString(r.path));
        if (!r.error.empty()) {
          kit::MsgBox(QStringLiteral("SoundFont「%1」を読み込めませんでした。\n%2\n\n"
                                     "これまでの SoundFont で続けます。")
                          .arg(platform::displayName(used), QString::fromStdString(r.error)),
                      kit::vbExclamation);
        } else if (used == path) {
          options().setSoundFont(path);
        } else if (fromMenu) {
          kit::MsgBox(QStringLiteral("環境変数 PLIMRA_SOUNDFONT の SoundFont「%1」を使い続けます。")
                          .arg(platform::displayName(used)),
                      kit::vbExclamation);
        }
      });
}

void MidiWindow::onPortOk() {
  // A song started before the ports were listed waits for the list (at
  // most until the port system's second is up), so that it plays on the
  // saved port.
  if (portListPending_ && portListing_) {
    const auto waited = std::chrono::steady_clock::now() - portListingStarted_;
    const auto left = std::chrono::milliseconds(kPortListLimitMs) - waited;
    if (left > left.zero() &&
        portListing_->waitFor(std::chrono::duration_cast<std::chrono::milliseconds>(left)))
      portsListed(portListing_->names());
  }
  // The entry's position minus one, in 16 bits, widened with its sign: the
  // mapper gives -1, no selection -2.
  const int16_t index = portList->ListIndex();
  const uint16_t device = transport->DeviceID();
  const uint32_t result =
      mci::DeviceTable::instance().setPort(device, static_cast<int16_t>(index - 1));
  reportUnopenedPort(device, index, result);
  showPortPanel(false);
}

void MidiWindow::onPortCancel() { showPortPanel(false); }

void MidiWindow::onPortSave() {
  // The panel is closed before the question is asked.
  onPortOk();
  onSave();
}

void MidiWindow::onPortActivated() { onPortSave(); }

void MidiWindow::showPortPanel(bool open) {
  QWidget* focus = focusWidget();
  const bool focusInPanel =
      focus == portList || focus == portOk || focus == portCancel || focus == portSave;
  portList->setVisible(open);
  transport->setVisible(!open);
  portSave->setVisible(open);
  portOk->setVisible(open);
  portCancel->setVisible(open);
  driveList->setVisible(!open);
  folderList->setVisible(!open);
  fileList->setVisible(!open);
  // The keyboard follows: into the list on opening, and back to the first
  // control of the browser when the panel that had it goes.
  if (open) {
    portList->setFocus();
  } else if (focusInPanel) {
    folderList->setFocus();
  }
}

bool MidiWindow::listPorts(int limitMs) {
  auto listing = mci::MidiOutListing::start();
  portListing_ = listing;
  portListingStarted_ = std::chrono::steady_clock::now();
  if (listing->waitFor(std::chrono::milliseconds(limitMs))) {
    portsListed(listing->names());
    return true;
  }
  // A port system that has not answered within its second is named, once.
  QTimer::singleShot(std::max(0, kPortListLimitMs - limitMs), this, [listing] {
    static bool told = false;
    if (told || listing->done()) return;
    told = true;
    const std::string system = listing->waitingOn();
    std::fprintf(stderr,
                 "plimra: the %s MIDI system does not answer; the MIDI-OUT port list is "
                 "filled when it does.\n",
                 system.empty() ? "port" : system.c_str());
  });
  QPointer<MidiWindow> self(this);
  listing->whenDone([self, listing] {
    // Only the latest look counts, and only while the window lives.
    if (self && self->portListing_ == listing) self->portsListed(listing->names());
  });
  return false;
}

void MidiWindow::portsListed(const std::vector<std::string>& names) {
  // The choice the options hold while the list was still to come.
  const Options::Port saved = options().port();
  fillPortList(names);
  if (std::exchange(portListPending_, false)) choosePort(saved);
  options().setPort(listedPort());
}

void MidiWindow::choosePort(const Options::Port& saved) {
  if (portListPending_) {
    options().setPort(saved);
    return;
  }
  portList->setListIndex(saved.index);
  choosePortByName(*portList, saved.name);
}

Options::Port MidiWindow::listedPort() const {
  const int16_t index = portList->ListIndex();
  return {index, portList->List(index)};
}

void MidiWindow::fillPortList(const std::vector<std::string>& names) {
  // The options learn the outcome, not the steps on the way.
  const QSignalBlocker quiet(portList);
  const int16_t old = portList->ListIndex();
  const QString chosen = portList->List(old);
  portList->Clear();
  for (const std::string& name : names) portList->AddItem(QString::fromStdString(name));
  if (old < 0) return;
  // The same place when it still holds that port, else the first entry of
  // that name; a port that has gone leaves nothing selected.
  int keep = old < portList->ListCount() && portList->List(old) == chosen ? old : -1;
  for (int i = 0; keep < 0 && i < portList->ListCount(); ++i)
    if (portList->List(i) == chosen) keep = i;
  portList->setListIndex(keep);
}

void MidiWindow::reportUnopenedPort(uint16_t device, int16_t index, uint32_t result) {
  // No song open, or no port chosen: refused on purpose, nothing to say.
  if (device == 0 || index < 0) return;
  if (result == mci::err::None) {
    unopenedPort_.clear();
    return;
  }
  const QString name = portList->List(index);
  if (name == unopenedPort_) return;
  unopenedPort_ = name;
  // After the handler has returned, so the song goes on meanwhile.
  QTimer::singleShot(0, this, [name] {
    kit::MsgBox(
        QStringLiteral("MIDI-OUTポート「%1」を開けませんでした。\n曲はこれまでの出力で続きます。")
            .arg(name),
        kit::vbExclamation);
  });
}

void MidiWindow::onAbout() {
  const float left = static_cast<float>(Left()) + 200.0F;
  const float top = static_cast<float>(Top()) + 200.0F;
  emit aboutRequested(static_cast<int>(std::lround(left)), static_cast<int>(std::lround(top)));
}

void MidiWindow::onSingleChosen() { options().setPlayMode(true, false, false); }
void MidiWindow::onInOrderChosen() { options().setPlayMode(false, true, false); }
void MidiWindow::onRandomChosen() { options().setPlayMode(false, false, true); }

void MidiWindow::onNoResetChosen() { options().setReset(QStringLiteral("NON")); }
void MidiWindow::onGsResetChosen() { options().setReset(QStringLiteral("GS")); }
void MidiWindow::onGmResetChosen() { options().setReset(QStringLiteral("GM")); }
void MidiWindow::onXgResetChosen() { options().setReset(QStringLiteral("XG")); }

bool MidiWindow::loopOn() { return options().flag(Options::Flag::Loop); }

void MidiWindow::onLoopToggled() {
  options().toggle(Options::Flag::Loop);
  // The song that plays follows at once.
  if (songPlaying_) mci::DeviceTable::instance().setLoop(transport->DeviceID(), loopOn());
}

void MidiWindow::onLyricsToggled() { options().toggle(Options::Flag::Lyrics); }
void MidiWindow::onIconizeToggled() { options().toggle(Options::Flag::Iconize); }
void MidiWindow::onStopOnSwitchToggled() { options().toggle(Options::Flag::StopOnSwitch); }

void MidiWindow::onSave() { askAndSaveSettings(); }

}  // namespace plimra::ui
