// The MIDI window against a recording sequencer (its play ends when the test
// says so) and, where timing matters, the real one: start-up and plimra.ini,
// browsing, the reset song before a song, what follows a song, the time in
// the caption, the SoundFont, and the end of the program.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QFontInfo>
#include <QPoint>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <mutex>
#include <set>
#include <thread>
#include <tuple>

#include "media/sequencer/builtin_synth.h"
#include "media/sequencer/register.h"
#include "platform/filenames.h"
#include "tests/support/midi_file.h"
#include "tests/support/raw_names.h"
#include "tests/support/soundfont.h"
#include "tests/support/window_test.h"

namespace {

using Calls = std::vector<std::string>;

QStringList checkedIn(const MidiWindow& w) {
  QStringList out;
  for (auto* m : {w.singleItem, w.inOrderItem, w.randomItem, w.noResetItem, w.gsResetItem,
                  w.gmResetItem, w.xgResetItem, w.iconizeItem, w.stopOnSwitchItem, w.timeItem})
    if (checked(m)) out << m->objectName();
  return out;
}

// What start-up made of plimra.ini: the marked options, the chosen port
// entry, the time display's timer, and where the two windows stand.
std::string shown(const MidiWindow& w) {
  const CdWindow* cd = plimra::ui::cdWindow();
  const QString rest =
      QString::asprintf("; port %d; timer %d; at %d,%d; CD at %d,%d", w.portList->ListIndex(),
                        tickEvery(w.timeTimer), w.Left(), w.Top(), cd->Left(), cd->Top());
  return (checkedIn(w).join(' ') + rest).toStdString();
}

// A folder of songs, another of one song, one of songs named like the reset
// songs, an empty one; and two drives, one without its medium.
class MidiWindowTest : public plimra::test::WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    for (const char* d : {"/classics", "/named", "/empty"}) ASSERT_TRUE(QDir().mkpath(music + d));
    for (const char* n : {"a.mid", "b.mid", "c.mid", "readme.txt", "classics/bach.Mid",
                          "named/SONGS.MID", "named/MYGM.MID"})
      ASSERT_TRUE(QFile(music + "/" + n).open(QIODevice::WriteOnly));
    platform::setDriveProvider([this] {
      return std::vector<platform::DriveInfo>{{root.path(), "DISK"},
                                              {root.path() + "-cd", "AUDIO_CD"}};
    });
    setLength(1000);
  }
  void TearDown() override {
    platform::setDriveProvider({});
    WindowTest::TearDown();
  }

  void setPosition(uint32_t ms) { sequencer->answer(mci::StatusItem::Position, ms); }
  void setLength(uint32_t ms) { sequencer->answer(mci::StatusItem::Length, ms); }
  // The test sequencer's play reaches its end.
  void finish() {
    sequencer->finish();
    pump();
  }
  Calls takeCalls() {
    return sequencer->take({"open", "close", "play", "stop", "seek", "move", "port", "loop"});
  }
  std::string song(const QString& name) { return "open " + (music + "/" + name).toStdString(); }
};

}  // namespace

// Where it starts on the screen, the end-to-end window test checks.
TEST_F(MidiWindowTest, StartsInJapaneseFontsShowingTheMidiFilesOfAnyCase) {
  MidiWindow& w = startMidiWindow();
  // The layout's face names resolve to an installed Japanese font.
  EXPECT_TRUE(QFontInfo(w.fileList->font()).family().startsWith("IPA"));
  EXPECT_EQ(w.focusWidget(), w.folderList);
  EXPECT_TRUE(sequencer->calls.empty());
  EXPECT_EQ(w.folderList->Path(), music);
  EXPECT_EQ(w.driveList->Drive(), root.path() + " [DISK]");
  EXPECT_EQ(entries(w.fileList), (QStringList{"a.mid", "b.mid", "c.mid"}));
  ASSERT_TRUE(w.folderList->setPath(music + "/classics"));

  ScriptedMsgBox boxes;
  emit w.driveList->activated(1);  // the user picks the CD drive, which has no medium
  EXPECT_EQ(boxes.asked().size(), 1u);
  EXPECT_EQ(w.driveList->Drive(), root.path() + " [DISK]");
  EXPECT_EQ(w.folderList->Path(), music + "/classics");
  EXPECT_EQ(entries(w.fileList), QStringList{"bach.Mid"});
  // Set by code, as a saved drive at start-up would be: refused quietly.
  EXPECT_FALSE(w.driveList->setDrive(root.path() + "-cd"));
  EXPECT_EQ(boxes.asked().size(), 1u);
  EXPECT_EQ(ends, 0);
}

// The option menus then set their options and marks, the shared two in both
// windows.
TEST_F(MidiWindowTest, TheFirstRunShowsTheDefaultsAndWritesThemAndTheMenusChangeThem) {
  MidiWindow& w = startMidiWindow();
  CdWindow* cd = plimra::ui::cdWindow();
  EXPECT_FALSE(cd->isVisible());
  EXPECT_EQ(checkedIn(w), (QStringList{"randomItem", "gmResetItem", "stopOnSwitchItem"}));
  // The CD window shows the two shared options too.
  EXPECT_FALSE(checked(cd->iconizeItem));
  EXPECT_TRUE(checked(cd->stopOnSwitchItem));
  const QString expected =
      QString(
          "[MID]\nDir=%1\nDrive=%2 [DISK]\n"
          "[Option]\nMin=False\nChange=True\nTime=False\nSingle=False\nContinue=False\n"
          "Random=True\nMIDIOUT=-1\nMIDIOUTName=\nReset=GM\nLoop=False\nSoundFont=\nLyrics=False\n"
          "[Plimra]\nTop= %3\nLeft= %4\n[CDp]\nTop= %5\nLeft= %6\n")
          .arg(music, root.path(), QString::number(w.Top()), QString::number(w.Left()),
               QString::number(cd->Top()), QString::number(cd->Left()));
  EXPECT_EQ(QString::fromUtf8(readIni()), expected);

  choose(w.xgResetItem);
  EXPECT_EQ(checkedIn(w), (QStringList{"randomItem", "xgResetItem", "stopOnSwitchItem"}));
  EXPECT_EQ(options().reset(), "XG");
  choose(w.singleItem);
  choose(w.noResetItem);
  EXPECT_EQ(checkedIn(w), (QStringList{"singleItem", "noResetItem", "stopOnSwitchItem"}));
  EXPECT_TRUE(options().flag(Flag::Single) && !options().flag(Flag::Random));
  EXPECT_EQ(options().reset(), "NON");

  // The two shared options show in both windows, whichever is clicked.
  choose(w.iconizeItem);
  choose(cd->stopOnSwitchItem);
  EXPECT_TRUE(options().flag(Flag::Iconize) && checked(w.iconizeItem) && checked(cd->iconizeItem));
  EXPECT_FALSE(options().flag(Flag::StopOnSwitch) || checked(w.stopOnSwitchItem) ||
               checked(cd->stopOnSwitchItem));
  choose(cd->iconizeItem);
  choose(w.stopOnSwitchItem);
  EXPECT_FALSE(options().flag(Flag::Iconize) || checked(w.iconizeItem) || checked(cd->iconizeItem));
  EXPECT_TRUE(options().flag(Flag::StopOnSwitch) && checked(w.stopOnSwitchItem) &&
              checked(cd->stopOnSwitchItem));
}

TEST_F(MidiWindowTest, SavedValuesAreReadByTheRuntimesTextRulesAndAnUnreadableFileEndsTheProgram) {
  // Ports: 0 "MIDI Mapper", 1 "Built-in synthesizer", 2 "USB MIDI 1". A
  // missing key leaves the default, but gives an empty reset and a window at
  // 0, 0. Halves round to even; the reset item goes by prefix; a listed port
  // name wins over the index.
  const std::pair<QByteArray, const char*> cases[] = {
      {"", "randomItem stopOnSwitchItem; port 0; timer 0; at 0,0; CD at 0,0"},
      {"[option]\nMIN=true\nTime=True\nMIDIOUT=2.5\nreset=GSX\n[Plimra]\nTop=1500\nLeft=300\n"
       "[cdp]\nTop=1200\nLeft=1800\n",
       "randomItem gsResetItem iconizeItem stopOnSwitchItem timeItem; port 2; timer 100; at "
       "300,1500; CD at 1800,1200"},
      {"[Option]\nMin=1\nRandom=0\nSingle=True\nMIDIOUT=99\nReset=NONE",
       "singleItem noResetItem iconizeItem stopOnSwitchItem; port -1; timer 0; at 0,0; CD at 0,0"},
      {"[Option]\nMIDIOUT=2\nMIDIOUTName=Built-in synthesizer\nReset=NO",
       "randomItem stopOnSwitchItem; port 1; timer 0; at 0,0; CD at 0,0"},
      {"[Option]\nMin=yes\nMIDIOUT=1.5\nMIDIOUTName=Unplugged\nReset=xg",
       "randomItem stopOnSwitchItem; port 2; timer 0; at 0,0; CD at 0,0"},
      {"[Option]\nReset=XGS",
       "randomItem xgResetItem stopOnSwitchItem; port 0; timer 0; at 0,0; CD at 0,0"},
  };
  for (const auto& [file, expected] : cases) {
    writeIni(file);
    EXPECT_EQ(shown(startMidiWindow()), expected) << file.constData();
  }
  EXPECT_EQ(options().reset(), "XGS");                      // kept as written, and no reset sent
  EXPECT_EQ(readIni(), cases[std::size(cases) - 1].first);  // read, not written

  // A position beyond where a window can stand is skipped like any other
  // bad value: the window stays where start-up centred it.
  ASSERT_TRUE(QFile::remove(iniPath()));
  const MidiWindow& first = startMidiWindow();
  const QPoint centred(first.Left(), first.Top());
  writeIni("[Plimra]\nTop=2147483647\nLeft=-2147483648\n[CDp]\nTop=-491520\nLeft=491505\n");
  const MidiWindow& far = startMidiWindow();
  EXPECT_EQ(QPoint(far.Left(), far.Top()), centred);
  EXPECT_EQ(plimra::ui::cdWindow()->Top(), -491520);
  EXPECT_EQ(plimra::ui::cdWindow()->Left(), 491505);

  // A file that cannot be read ends the program with its number.
  ASSERT_TRUE(QFile::remove(iniPath()) && QDir().mkdir(iniPath()));
  ScriptedMsgBox boxes;
  MidiWindow& w = startMidiWindow();
  ASSERT_EQ(boxes.asked().size(), 1u);
  EXPECT_TRUE(boxes.asked()[0].prompt.startsWith("予期せぬエラー: 75\n"));
  EXPECT_EQ(boxes.asked()[0].style, kit::vbOKOnly);
  EXPECT_EQ(ends, 1);
  EXPECT_TRUE(checkedIn(w).isEmpty());  // start-up went no further
}

TEST_F(MidiWindowTest, SaveAsksFirstKeepsWhatTheUserWroteAndSaysWhyItFailed) {
  const QByteArray mine = "; kept by hand\n[Option]\nReset=GM\nColor=blue\n";
  writeIni(mine);
  MidiWindow& w = startMidiWindow();
  choose(w.inOrderItem);
  choose(w.xgResetItem);

  ScriptedMsgBox boxes({kit::vbNo, kit::vbYes});
  choose(w.saveItem);
  EXPECT_EQ(readIni(), mine);
  ASSERT_EQ(boxes.asked().size(), 1u);
  EXPECT_EQ(boxes.asked()[0].prompt, "保存してよろしいですか？");
  EXPECT_EQ(boxes.asked()[0].title, "PLIMRAの動作環境の保存");
  EXPECT_EQ(boxes.asked()[0].style, kit::vbYesNo + kit::vbExclamation);  // Yes is the default

  choose(w.saveItem);
  EXPECT_TRUE(readIni().startsWith("; kept by hand\n[Option]\nReset=XG\nColor=blue\nMin=False"));
  EXPECT_TRUE(readIni().contains("Continue=True\nRandom=False\nMIDIOUT= 0\n"));
  EXPECT_EQ(boxes.asked().size(), 2u);  // nothing more after a save that worked

  // The CD window's save writes the same file, with its own place.
  plimra::ui::cdWindow()->Move(3000, 1500);
  boxes.answer(kit::vbYes);
  choose(plimra::ui::cdWindow()->saveItem);
  EXPECT_TRUE(readIni().endsWith("[CDp]\nTop= 1500\nLeft= 3000\n"));

  ASSERT_TRUE(QFile::remove(iniPath()) && QDir().mkdir(iniPath()));  // no file can go there now
  boxes.answer(kit::vbYes);
  choose(w.saveItem);
  ASSERT_EQ(boxes.asked().size(), 5u);
  EXPECT_TRUE(boxes.asked()[4].prompt.startsWith("動作環境を保存できませんでした。"));
  EXPECT_TRUE(boxes.asked()[4].prompt.contains(iniPath()));
}

// plimra.ini, beside a program whose folder is named in Shift-JIS bytes,
// keeps a music folder named so too, and the next start shows it again.
TEST_F(MidiWindowTest, ASavedFolderNamedInShiftJisComesBackExactly) {
  using namespace plimra::testnames;
  const QByteArray base = platform::nativePath(root.path());
  const QByteArray app = base + "/\x83\x76\x83\x8d";  // "プロ"
  const QByteArray sjisMusic = base + "/" + kSjisFolder;
  ASSERT_TRUE(makeFolder(app) && makeFolder(sjisMusic));
  ASSERT_TRUE(writeRaw(sjisMusic + "/" + kSjisSong, "MThd"));
  platform::setAppPath(platform::pathFromNative(app));
  ASSERT_TRUE(startMidiWindow().folderList->setPath(platform::pathFromNative(sjisMusic)));
  QString why;
  ASSERT_TRUE(plimra::ui::saveSettings(&why)) << why.toStdString();
  const QByteArray ini = readRaw(app + "/plimra.ini");
  EXPECT_TRUE(QUtf8StringView(ini).isValidUtf8());
  EXPECT_TRUE(ini.contains("Dir=file://")) << ini.constData();
  EXPECT_TRUE(ini.contains("/%89%B9%8Ay\n")) << ini.constData();

  MidiWindow& w = startMidiWindow();
  EXPECT_EQ(platform::nativePath(w.folderList->Path()), sjisMusic);
  EXPECT_EQ(entries(w.fileList), QStringList{"ドラクエ序曲.MID"});
  window.reset();
  removeTree(app);
  removeTree(sjisMusic);
}

// The folder list reaches folders of every drive from "/", the drive list
// does not follow it: a save keeps the drive that holds the folder, and a
// file whose drive does not hold its folder (as older saves wrote) still
// brings the folder back.
TEST_F(MidiWindowTest, ASavedFolderOnAnotherDriveComesBackWithItsDrive) {
  QTemporaryDir other;
  ASSERT_TRUE(QDir().mkpath(other.filePath("songs")));
  ASSERT_TRUE(QFile(other.filePath("songs/x.mid")).open(QIODevice::WriteOnly));
  const QString songs = QDir::cleanPath(other.filePath("songs"));
  platform::setDriveProvider([&] {
    return std::vector<platform::DriveInfo>{{root.path(), "DISK"}, {other.path(), "USB"}};
  });
  const QString disk = root.path() + " [DISK]", usb = other.path() + " [USB]";

  ASSERT_TRUE(startMidiWindow().folderList->setPath(songs));
  EXPECT_EQ(window->driveList->Drive(), disk);  // not followed
  ASSERT_TRUE(plimra::ui::saveSettings());
  EXPECT_TRUE(readIni().startsWith(("[MID]\nDir=" + songs + "\nDrive=" + usb + "\n").toUtf8()))
      << readIni().constData();
  for (const QString& drive : {usb, disk}) {
    writeIni(("[MID]\nDir=" + songs + "\nDrive=" + drive + "\n").toUtf8());
    MidiWindow& w = startMidiWindow();
    EXPECT_EQ(w.folderList->Path(), songs) << drive.toStdString();
    EXPECT_EQ(w.driveList->Drive(), usb) << drive.toStdString();
    EXPECT_EQ(entries(w.fileList), QStringList{"x.mid"}) << drive.toStdString();
  }
}

TEST_F(MidiWindowTest, AResetSongPlaysToItsEndFirstForExactlyGsGmOrXg) {
  struct Case {
    const char* reset;
    QString program;        // the program's folder
    const char* resetSong;  // opened first, if any
    bool opens;             // else the device refuses it, and the song starts at once
  };
  const Case cases[] = {
      {"GS", root.path(), "GS.MID", true},
      {"GM", root.path(), "GM.MID", true},
      {"XG", root.path(), "XG.MID", true},
      {"GS", "/", "GS.MID", false},  // "/GS.MID", not "//GS.MID"
      // Only the exact texts ask for one.
      {"NON", root.path(), nullptr, false},
      {"GSX", root.path(), nullptr, false},
      {"gm", root.path(), nullptr, false},
      {"", root.path(), nullptr, false},
      {" GM", root.path(), nullptr, false},
  };
  MidiWindow& w = startPlayer();
  for (const Case& c : cases) {
    w.transport->setCommand("CLOSE");
    takeCalls();
    platform::setAppPath(c.program);
    options().setReset(c.reset);
    Calls expected;
    if (c.resetSong)
      expected.push_back("open " + QDir::cleanPath(c.program + "/" + c.resetSong).toStdString());
    if (c.resetSong && !c.opens) sequencer->errors[expected[0]] = mci::err::InvalidFile;
    if (c.opens) expected.insert(expected.end(), {"port 1", "play", "close"});
    expected.insert(expected.end(), {song("b.mid"), "port 1", "play"});
    // Ends the reset song should the start wait for one; gone with this case.
    QStringList waiting;
    QObject thisCase;
    QTimer::singleShot(30, &thisCase, [&] {
      waiting << w.windowTitle();
      finish();
    });
    play(1);
    EXPECT_EQ(takeCalls(), expected) << '"' << c.reset << "\" in " << c.program.toStdString();
    EXPECT_EQ(waiting, c.opens ? QStringList{"b.mid (お待ち下さい)"} : QStringList{}) << c.reset;
    EXPECT_EQ(w.windowTitle(), "b.mid");
  }
}

TEST_F(MidiWindowTest, ASecondStartDuringTheResetTakesOver) {
  MidiWindow& w = startPlayer();
  options().setReset("GM");
  int outerReturned = 0;
  QTimer::singleShot(20, window.get(), [&] {
    // Another double-click while the first reset song plays.
    play(2);
    EXPECT_EQ(outerReturned, 0);
  });
  QTimer::singleShot(60, window.get(), [&] { finish(); });  // ends the second call's reset
  // Should the first call still wait once the second has started its song,
  // ending that song lets it return, so the test fails instead of hanging.
  QTimer::singleShot(400, window.get(), [&] {
    if (outerReturned) return;
    options().setFlag(Flag::Single, true);
    finish();
  });
  play(0);
  ++outerReturned;
  pump(100);
  const std::string reset = "open " + root.filePath("GM.MID").toStdString();
  EXPECT_EQ(takeCalls(), (Calls{reset, "port 1", "play", "close", reset, "port 1", "play", "close",
                                song("c.mid"), "port 1", "play"}));
  EXPECT_EQ(w.windowTitle(), "c.mid");
  EXPECT_EQ(sequencer->mode.load(), mci::ModePlaying);

  // The end of that song moves on once, from c.mid: the takeover left no
  // second chain behind.
  options().setReset("NON");
  finish();
  EXPECT_EQ(takeCalls(), (Calls{"close", song("a.mid"), "port 1", "play"}));
}

TEST_F(MidiWindowTest, TheExitTheCloseOfTheWindowOrACloseFromOutsideEndTheStartDuringTheReset) {
  MidiWindow& w = startPlayer();
  options().setReset("GM");
  // What the switch to the CD player does with its option on; the two ends
  // of the program.
  const std::pair<std::function<void()>, int> closers[] = {
      {[&] { w.transport->setCommand("CLOSE"); }, 0},
      {[&] { choose(w.exitItem); }, 1},
      {[&] { w.close(); }, 2}};
  for (const auto& [close, endsAfter] : closers) {
    QObject thisCase;
    QTimer::singleShot(20, &thisCase, close);
    // Should the close not end the wait, the reset's end does: a failure, not a hang.
    QTimer::singleShot(400, &thisCase, [&] { finish(); });
    play(1);
    EXPECT_EQ(takeCalls(),
              (Calls{"open " + root.filePath("GM.MID").toStdString(), "port 1", "play", "close"}));
    EXPECT_EQ(w.windowTitle(), "b.mid");
    EXPECT_EQ(ends, endsAfter);
    pump(50);
    EXPECT_TRUE(takeCalls().empty());
  }
}

TEST_F(MidiWindowTest, WhatFollowsASong) {
  enum Mode { InOrder, Single, Random };
  enum Step { End, Next };
  struct Case {
    const char* what;
    Mode mode;
    int first;
    const char* folder;  // shown once the first song plays: the next comes from there
    std::vector<Step> steps;
    QStringList next;  // the songs that start, in order
  };
  const Case cases[] = {
      {"down the list, wrapping", InOrder, 1, "", {End, End}, {"c.mid", "a.mid"}},
      {"one song only", Single, 0, "", {End}, {}},
      // The control's own Next would seek the new song to its end.
      {"Next, even with one song only", Single, 0, "", {Next}, {"b.mid"}},
      {"names like reset songs", InOrder, 0, "/named", {End, End}, {"MYGM.MID", "SONGS.MID"}},
      {"random from one entry", Random, 0, "/classics", {End, End}, {"bach.Mid", "bach.Mid"}},
      {"a folder without songs", Random, 0, "/empty", {Next, End}, {}},
  };
  for (const Case& c : cases) {
    MidiWindow& w = startPlayer();
    options().setFlag(Flag::Single, c.mode == Single);
    options().setFlag(Flag::Random, c.mode == Random);
    play(c.first);
    const QString first = w.fileList->FileName();
    if (*c.folder) {
      ASSERT_TRUE(w.folderList->setPath(music + c.folder));
    }
    takeCalls();
    for (Step s : c.steps) {
      if (s == End) finish();
      if (s == Next) w.transport->click(MMControl::Next);
    }
    pump(20);
    Calls expected;
    for (const QString& n : c.next)
      expected.insert(
          expected.end(),
          {"close", "open " + (w.fileList->Path() + "/" + n).toStdString(), "port 1", "play"});
    EXPECT_EQ(takeCalls(), expected) << c.what;
    EXPECT_EQ(w.windowTitle(), c.next.isEmpty() ? first : c.next.last()) << c.what;
  }
  // Random play draws from the whole list.
  MidiWindow& w = startPlayer();
  options().setFlag(Flag::Random, true);
  std::set<QString> drawn;
  play(0);
  for (int i = 0; i < 40; ++i) {
    finish();
    drawn.insert(w.windowTitle());
  }
  EXPECT_GT(drawn.size(), 1u);
}

// Stop and Prev do not move on, but the end does. A song iconizes the window
// when the option says so, but one that cannot be opened says so in view.
TEST_F(MidiWindowTest, StopAndPrevStayTheEndMovesOnAndASongIconizesUnlessItCannotOpen) {
  MidiWindow& w = startPlayer();
  sequencer->errors[song("c.mid")] = mci::err::InvalidFile;
  play(0);
  EXPECT_EQ(w.WindowState(), 0);  // the option is off
  takeCalls();
  w.transport->click(MMControl::Stop);
  pump(50);
  EXPECT_EQ(takeCalls(), Calls{"stop"});

  // Play starts the selected file again from the beginning.
  w.transport->click(MMControl::Play);
  EXPECT_EQ(takeCalls(), (Calls{"close", song("a.mid"), "port 1", "play"}));
  finish();
  EXPECT_EQ(takeCalls(), (Calls{"close", song("b.mid"), "port 1", "play"}));

  // Prev leaves the song at its start, stopped.
  w.transport->click(MMControl::Prev);
  pump(50);
  EXPECT_EQ(takeCalls(), Calls{"seek start"});
  EXPECT_EQ(w.windowTitle(), "b.mid");

  options().setFlag(Flag::Iconize, true);
  play(0);
  EXPECT_EQ(w.WindowState(), 1);

  // Hidden behind the CD player with the song left playing, the window is
  // not iconized by the next song: it would come back iconized.
  w.setWindowState(0);
  options().setFlag(Flag::StopOnSwitch, false);
  ScriptedMsgBox boxes;
  plimra::test::FakeDevice::install("CDAudio", std::make_shared<plimra::test::DeviceLog>());
  w.onCdPlayer();
  finish();
  EXPECT_EQ(w.windowTitle(), "b.mid");
  EXPECT_EQ(w.WindowState(), 0);
  plimra::ui::cdWindow()->onMidiPlayer();
  EXPECT_TRUE(w.isVisible());
  EXPECT_EQ(w.WindowState(), 0);

  w.setWindowState(0);
  takeCalls();
  play(2);
  EXPECT_EQ(w.windowTitle(), "c.mid (再生できません)");
  EXPECT_EQ(w.transport->DeviceID(), 0);
  EXPECT_TRUE(w.transport->isVisibleTo(&w));
  EXPECT_EQ(w.WindowState(), 0);  // left in view, so the message can be read
  pump(100);
  EXPECT_EQ(takeCalls(), (Calls{"close", song("c.mid")}));
  w.onTimerTick();
  EXPECT_EQ(w.windowTitle(), "c.mid (再生できません)");

  // "ループ再生": songs open in loop mode; turned off, the song that plays
  // leaves it at once.
  choose(w.loopItem);
  play(1);
  EXPECT_EQ(takeCalls(), (Calls{song("b.mid"), "loop on", "port 1", "play"}));
  choose(w.loopItem);
  EXPECT_EQ(takeCalls(), Calls{"loop off"});
}

TEST_F(MidiWindowTest, ContinuousPlayStopsAfterAWholePassOfTheListWithoutSound) {
  MidiWindow& w = startPlayer();
  const QString stopped = QString::fromUtf16(plimra::ui::kNothingSounds);
  setLength(0);  // songs that last no time
  play(0);
  for (int ends = 0; ends < 20 && sequencer->mode.load() == mci::ModePlaying; ++ends) {
    setLength(ends == 0 ? 1000 : 0);  // only the second song sounds
    finish();
  }
  // One song that sounds starts the count again: the first, the second,
  // then as many silent ones as the list holds.
  const Calls calls = takeCalls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "play"), 5);
  EXPECT_EQ(sequencer->mode.load(), mci::ModeStopped);
  pump(20);
  EXPECT_EQ(w.windowTitle(), "b.mid" + stopped);

  // The real sequencer on songs whose every event is at tick 0.
  plimra::seq::registerSequencer();
  for (const char* n : {"a.mid", "b.mid", "c.mid"})
    ASSERT_TRUE(
        plimra::test::writeFile((music + "/" + n).toStdString(), plimra::test::noteSong(60, 0)));
  w.portList->setListIndex(0);
  play(0);
  EXPECT_TRUE(waitUntil([&] { return w.windowTitle().endsWith(stopped); }))
      << w.windowTitle().toStdString();
}

TEST_F(MidiWindowTest, TheTimeInTheCaptionShowsMinutesAndSecondsAndIsWrittenOnlyWhenItChanges) {
  MidiWindow& w = startPlayer();
  play(0);
  choose(w.timeItem);
  // The timer writes it on its own while the song plays.
  setPosition(2500);
  setLength(61000);
  EXPECT_TRUE(waitUntil([&] { return w.windowTitle() == "a.mid (00:02 / 01:01)"; }))
      << w.windowTitle().toStdString();
  int writes = 0;
  QObject::connect(&w, &QWidget::windowTitleChanged, [&] { ++writes; });
  setPosition(2999);  // the same second: the same text, not written again
  w.onTimerTick();
  EXPECT_EQ(writes, 0);
  setPosition(65 * 60000 + 3000);  // hours are not shown
  setLength(3727000);
  w.onTimerTick();
  EXPECT_EQ(w.windowTitle(), "a.mid (05:03 / 02:07)");

  // Off while playing: the name alone.
  choose(w.timeItem);
  EXPECT_FALSE(options().flag(Flag::ShowTime) || checked(w.timeItem));
  EXPECT_EQ(tickEvery(w.timeTimer), 0);
  EXPECT_EQ(w.windowTitle(), "a.mid");

  // Off while paused: the time stays.
  choose(w.timeItem);
  setPosition(1000);
  w.onTimerTick();
  w.transport->click(MMControl::Pause);
  setPosition(0);
  w.onTimerTick();
  choose(w.timeItem);
  EXPECT_EQ(w.windowTitle(), "a.mid (00:01 / 02:07)");
}

// Left and Right on the transport bar move the song 5 s, within it; a song
// that played plays on from there, a paused one stays paused.
TEST_F(MidiWindowTest, LeftAndRightOnTheTransportBarMoveTheSongFiveSeconds) {
  MidiWindow& w = startPlayer();
  setLength(20000);
  play(0);
  takeCalls();
  auto* stop = w.transport->findChild<QWidget*>("Stop");
  ASSERT_TRUE(stop);
  QApplication::setActiveWindow(&w);
  stop->setFocus();
  for (auto [at, key] :
       {std::pair{7000, Qt::Key_Right}, {3000, Qt::Key_Left}, {18000, Qt::Key_Right}}) {
    setPosition(at);
    QTest::keyClick(stop, key);
  }
  EXPECT_EQ(takeCalls(), (Calls{"move to 12000", "move to 0", "move to 20000"}));
  EXPECT_EQ(QApplication::focusWidget(), stop);  // the arrows do not move the focus
  w.transport->click(MMControl::Pause);
  setPosition(10000);
  QTest::keyClick(w.transport->findChild<QWidget*>("Play"), Qt::Key_Left);
  EXPECT_EQ(takeCalls(), Calls{"move to 5000"});
  EXPECT_EQ(sequencer->mode.load(), mci::ModePaused);
}

// Meaningful where no audio device opens: ctest runs it once more so.
TEST_F(MidiWindowTest, ASilentSynthesizerIsExplainedOnceWhenASongStartsOnIt) {
  const QString reason = QString::fromStdString(plimra::seq::noSoundReason());
  if (reason.isEmpty()) GTEST_SKIP() << "the built-in synthesizer can be heard here";
  MidiWindow& w = startPlayer();
  ScriptedMsgBox boxes;
  play(0);  // on a MIDI-OUT port: no question
  pump(20);
  EXPECT_TRUE(boxes.asked().empty());
  w.portList->setListIndex(0);  // the mapper, which is the synthesizer
  play(1);
  EXPECT_TRUE(boxes.asked().empty());  // not inside the start
  pump(20);
  ASSERT_EQ(boxes.asked().size(), 1u);
  EXPECT_TRUE(boxes.asked()[0].prompt.contains(reason));
  play(2);
  pump(20);
  EXPECT_EQ(boxes.asked().size(), 1u);
}

namespace {

// Holds the first block the built-in synthesizer renders until the test lets
// it go, or 10 s have passed: a new SoundFont cannot take over before.
struct HeldBlock : plimra::seq::OutputClient {
  explicit HeldBlock(std::shared_ptr<plimra::seq::BuiltinSynth> s) : synth(std::move(s)) {
    synth->attach(this);
  }
  ~HeldBlock() override {
    letGo();
    synth->detach(this);
  }
  void letGo() {
    std::call_once(goes, [this] { release.set_value(); });
  }
  std::optional<uint64_t> runDue(const plimra::seq::Output*, uint64_t, uint64_t,
                                 plimra::seq::MidiSink&, size_t&) override {
    std::call_once(holds, [this] {
      entered.set_value();
      timedOut = released.wait_for(std::chrono::seconds(10)) == std::future_status::timeout;
    });
    return std::nullopt;
  }

  std::shared_ptr<plimra::seq::BuiltinSynth> synth;
  std::promise<void> entered, release;
  std::shared_future<void> released = release.get_future().share();
  std::once_flag holds, goes;
  bool timedOut = false;
};

}  // namespace

// A SoundFont from the menu is read off the window's thread: the window
// handles its events while the font cannot be ready yet. It becomes the
// option, is saved and read again; one that cannot be loaded (from the menu,
// the file or $PLIMRA_SOUNDFONT) is named with the reason and changes nothing,
// and the variable's font wins over a choice.
TEST_F(MidiWindowTest, ASoundFontLoadsOffTheWindowsThreadIsSavedAndOneThatCannotLoadIsNamed) {
  constexpr uint32_t kFrames = 16 << 20;  // 32 MiB of samples
  // A name of its own each time: the same font again would play at once.
  static int runs = 0;
  const QString big = QString::fromStdString(plimra::test::writeTemp(
      "big" + std::to_string(++runs) + ".sf2", plimra::test::squareFont(kFrames, 100)));
  plimra::test::Bytes cut = plimra::test::squareFont(100, 10);
  cut.resize(200);
  const QString damaged = QString::fromStdString(plimra::test::writeTemp("damaged.sf2", cut));
  MidiWindow& w = startMidiWindow();
  HeldBlock held(plimra::seq::BuiltinSynth::shared());
  std::jthread render([&] {
    std::vector<float> block(2 * 64);
    held.synth->render(block.data(), 64);
  });
  ASSERT_EQ(held.entered.get_future().wait_for(std::chrono::seconds(10)),
            std::future_status::ready);

  // A timer that ticks every millisecond lets the block go at its 20th tick;
  // the longest time between two ticks is the longest pause.
  ScriptedFileDialog files({big, "", "/no/such.sf2", big});
  QEventLoop loop;
  QElapsedTimer clock;
  qint64 last = 0, longest = 0;
  int ticks = 0;
  QTimer tick;
  tick.setTimerType(Qt::PreciseTimer);
  QObject::connect(&tick, &QTimer::timeout, [&] {
    longest = std::max(longest, clock.elapsed() - last);
    last = clock.elapsed();
    if (++ticks == 20) held.letGo();
    if (options().soundFont() == big || last > 60000) loop.quit();
  });
  clock.start();
  tick.start(1);
  choose(w.soundFontItem);
  loop.exec();
  tick.stop();
  render.join();
  EXPECT_EQ(options().soundFont(), big);
  EXPECT_FALSE(held.timedOut);
  std::printf("The window's longest pause while a %u MiB SoundFont loaded: %lld ms\n",
              kFrames * 2 >> 20, static_cast<long long>(longest));

  ScriptedMsgBox boxes({kit::vbYes});
  choose(w.saveItem);
  EXPECT_TRUE(readIni().contains("\nSoundFont=" + big.toUtf8() + "\n")) << readIni().constData();
  startMidiWindow();
  choose(window->soundFontItem);  // cancelled
  pump(50);
  EXPECT_EQ(options().soundFont(), big);
  EXPECT_EQ(boxes.asked().size(), 1u);
  ASSERT_EQ(files.asked().size(), 2u);
  EXPECT_EQ(files.asked()[1].folder, QFileInfo(big).path());

  const std::tuple<std::function<void()>, QString, const char*> failures[] = {
      {[&] { choose(window->soundFontItem); }, "/no/such.sf2", "No such file"},
      {[&] {
         writeIni("[Option]\nSoundFont=" + damaged.toUtf8() + "\n");
         startMidiWindow();
       },
       damaged, "FluidSynth cannot read it"},
      {[&] {
         setenv("PLIMRA_SOUNDFONT", "/no/such/variable.sf2", 1);
         startMidiWindow();
         unsetenv("PLIMRA_SOUNDFONT");
       },
       "/no/such/variable.sf2", "No such file"},
      // The variable's font loads, and a choice from the menu does not replace it.
      {[&] {
         setenv("PLIMRA_SOUNDFONT", plimra::seq::defaultSoundFont().c_str(), 1);
         startMidiWindow();
         choose(window->soundFontItem);
         unsetenv("PLIMRA_SOUNDFONT");
       },
       QFileInfo(QString::fromStdString(plimra::seq::defaultSoundFont())).fileName(),
       "PLIMRA_SOUNDFONT"},
  };
  for (const auto& [cause, file, why] : failures) {
    const size_t before = boxes.asked().size();
    cause();
    ASSERT_TRUE(waitUntil([&] { return boxes.asked().size() == before + 1; })) << why;
    const QString& prompt = boxes.asked().back().prompt;
    EXPECT_TRUE(prompt.contains(file) && prompt.contains(why)) << prompt.toStdString();
  }
  EXPECT_EQ(options().soundFont(), damaged);  // as the file has it
}
