// The MIDI window against a recording sequencer (its play ends when the test
// says so) and, where timing matters, the real one: start-up and plimra.ini,
// browsing, the reset song before a song, what follows a song, the time in
// the caption, the SoundFont, and the end of the program.
#include <gtest/gtest.h>

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QFontInfo>
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
#include "runtime/filenames.h"
#include "tests/support/midi_file.h"
#include "tests/support/raw_names.h"
#include "tests/support/soundfont.h"
#include "tests/support/window_test.h"

namespace {

using Calls = std::vector<std::string>;

QStringList checkedIn(const FrmPlimra& w) {
  QStringList out;
  for (auto* m : {w.mnuSingle, w.mnuContinue, w.mnuRandom, w.mnuNon, w.mnuGS, w.mnuGM, w.mnuXG,
                  w.mnuMin, w.mnuChange, w.mnuTime})
    if (checked(m)) out << m->objectName();
  return out;
}

// What start-up made of plimra.ini: the marked options, the chosen port
// entry, the time display's timer, and where the two windows stand.
std::string shown(const FrmPlimra& w) {
  const FrmCDp* cd = plimra::app::frmCDp();
  const QString rest =
      QString::asprintf("; port %d; timer %d; at %d,%d; CD at %d,%d", w.lstPort->ListIndex(),
                        tickEvery(w.Timer1), w.Left(), w.Top(), cd->Left(), cd->Top());
  return (checkedIn(w).join(' ') + rest).toStdString();
}

// A folder of songs, another of one song, one of songs named like the reset
// songs, an empty one; and two drives, one without its medium.
class MidiWindow : public plimra::test::WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    for (const char* d : {"/classics", "/named", "/empty"}) ASSERT_TRUE(QDir().mkpath(music + d));
    for (const char* n : {"a.mid", "b.mid", "c.mid", "readme.txt", "classics/bach.Mid",
                          "named/SONGS.MID", "named/MYGM.MID"})
      ASSERT_TRUE(QFile(music + "/" + n).open(QIODevice::WriteOnly));
    rt::setDriveProvider([this] {
      return std::vector<rt::DriveInfo>{{root.path(), "DISK"}, {root.path() + "-cd", "AUDIO_CD"}};
    });
    setLength(1000);
  }
  void TearDown() override {
    rt::setDriveProvider({});
    WindowTest::TearDown();
  }

  void setPosition(uint32_t ms) { sequencer->answer(mci::StatusItem::Position, ms); }
  void setLength(uint32_t ms) { sequencer->answer(mci::StatusItem::Length, ms); }
  // The test sequencer's play reaches its end.
  void finish() {
    sequencer->finish();
    pump();
  }
  Calls takeCalls() { return sequencer->take({"open", "close", "play", "stop", "seek", "port"}); }
  std::string song(const QString& name) { return "open " + (music + "/" + name).toStdString(); }
};

}  // namespace

// Where it starts on the screen, the end-to-end window test checks.
TEST_F(MidiWindow, StartsInJapaneseFontsShowingTheMidiFilesOfAnyCase) {
  FrmPlimra& w = startMidiWindow();
  // The layout's face names resolve to an installed Japanese font.
  EXPECT_TRUE(QFontInfo(w.File1->font()).family().startsWith("IPA"));
  EXPECT_EQ(w.focusWidget(), w.Dir1);
  EXPECT_TRUE(sequencer->calls.empty());
  EXPECT_EQ(w.Dir1->Path(), music);
  EXPECT_EQ(w.Drive1->Drive(), root.path() + " [DISK]");
  EXPECT_EQ(entries(w.File1), (QStringList{"a.mid", "b.mid", "c.mid"}));
  ASSERT_TRUE(w.Dir1->setPath(music + "/classics"));

  ScriptedMsgBox boxes;
  emit w.Drive1->activated(1);  // the user picks the CD drive, which has no medium
  EXPECT_EQ(boxes.asked().size(), 1u);
  EXPECT_EQ(w.Drive1->Drive(), root.path() + " [DISK]");
  EXPECT_EQ(w.Dir1->Path(), music + "/classics");
  EXPECT_EQ(entries(w.File1), QStringList{"bach.Mid"});
  // Set by code, as a saved drive at start-up would be: refused quietly.
  EXPECT_FALSE(w.Drive1->setDrive(root.path() + "-cd"));
  EXPECT_EQ(boxes.asked().size(), 1u);
  EXPECT_EQ(ends, 0);
}

// The option menus then set their options and marks, the shared two in both
// windows.
TEST_F(MidiWindow, TheFirstRunShowsTheDefaultsAndWritesThemAndTheMenusChangeThem) {
  FrmPlimra& w = startMidiWindow();
  FrmCDp* cd = plimra::app::frmCDp();
  EXPECT_FALSE(cd->isVisible());
  EXPECT_EQ(checkedIn(w), (QStringList{"mnuRandom", "mnuGM", "mnuChange"}));
  // The CD window shows the two shared options too.
  EXPECT_FALSE(checked(cd->mnuMin));
  EXPECT_TRUE(checked(cd->mnuChange));
  const QString expected =
      QString(
          "[MID]\nDir=%1\nDrive=%2 [DISK]\n"
          "[Option]\nMin=False\nChange=True\nTime=False\nSingle=False\nContinue=False\n"
          "Random=True\nMIDIOUT=-1\nMIDIOUTName=\nReset=GM\nSoundFont=\n"
          "[Plimra]\nTop= %3\nLeft= %4\n[CDp]\nTop= %5\nLeft= %6\n")
          .arg(music, root.path(), QString::number(w.Top()), QString::number(w.Left()),
               QString::number(cd->Top()), QString::number(cd->Left()));
  EXPECT_EQ(QString::fromUtf8(readIni()), expected);

  choose(w.mnuXG);
  EXPECT_EQ(checkedIn(w), (QStringList{"mnuRandom", "mnuXG", "mnuChange"}));
  EXPECT_EQ(Module1::OptReset, "XG");
  choose(w.mnuSingle);
  choose(w.mnuNon);
  EXPECT_EQ(checkedIn(w), (QStringList{"mnuSingle", "mnuNon", "mnuChange"}));
  EXPECT_TRUE(Module1::OptSingle && !Module1::OptRandom);
  EXPECT_EQ(Module1::OptReset, "NON");

  // The two shared options show in both windows, whichever is clicked.
  choose(w.mnuMin);
  choose(cd->mnuChange);
  EXPECT_TRUE(Module1::OptMin && checked(w.mnuMin) && checked(cd->mnuMin));
  EXPECT_FALSE(Module1::OptChange || checked(w.mnuChange) || checked(cd->mnuChange));
  choose(cd->mnuMin);
  choose(w.mnuChange);
  EXPECT_FALSE(Module1::OptMin || checked(w.mnuMin) || checked(cd->mnuMin));
  EXPECT_TRUE(Module1::OptChange && checked(w.mnuChange) && checked(cd->mnuChange));
}

TEST_F(MidiWindow, SavedValuesAreReadByTheRuntimesTextRulesAndAnUnreadableFileEndsTheProgram) {
  // Ports: 0 "MIDI Mapper", 1 "Built-in synthesizer", 2 "USB MIDI 1". A
  // missing key leaves the default, but gives an empty reset and a window at
  // 0, 0. Halves round to even; the reset item goes by prefix; a listed port
  // name wins over the index.
  const std::pair<QByteArray, const char*> cases[] = {
      {"", "mnuRandom mnuChange; port 0; timer 0; at 0,0; CD at 0,0"},
      {"[option]\nMIN=true\nTime=True\nMIDIOUT=2.5\nreset=GSX\n[Plimra]\nTop=1500\nLeft=300\n"
       "[cdp]\nTop=1200\nLeft=1800\n",
       "mnuRandom mnuGS mnuMin mnuChange mnuTime; port 2; timer 100; at 300,1500; CD at 1800,1200"},
      {"[Option]\nMin=1\nRandom=0\nSingle=True\nMIDIOUT=99\nReset=NONE",
       "mnuSingle mnuNon mnuMin mnuChange; port -1; timer 0; at 0,0; CD at 0,0"},
      {"[Option]\nMIDIOUT=2\nMIDIOUTName=Built-in synthesizer\nReset=NO",
       "mnuRandom mnuChange; port 1; timer 0; at 0,0; CD at 0,0"},
      {"[Option]\nMin=yes\nMIDIOUT=1.5\nMIDIOUTName=Unplugged\nReset=xg",
       "mnuRandom mnuChange; port 2; timer 0; at 0,0; CD at 0,0"},
      {"[Option]\nReset=XGS", "mnuRandom mnuXG mnuChange; port 0; timer 0; at 0,0; CD at 0,0"},
  };
  for (const auto& [file, expected] : cases) {
    writeIni(file);
    EXPECT_EQ(shown(startMidiWindow()), expected) << file.constData();
  }
  EXPECT_EQ(Module1::OptReset, "XGS");                      // kept as written, and no reset sent
  EXPECT_EQ(readIni(), cases[std::size(cases) - 1].first);  // read, not written

  // A file that cannot be read ends the program with its number.
  ASSERT_TRUE(QFile::remove(iniPath()) && QDir().mkdir(iniPath()));
  ScriptedMsgBox boxes;
  FrmPlimra& w = startMidiWindow();
  ASSERT_EQ(boxes.asked().size(), 1u);
  EXPECT_TRUE(boxes.asked()[0].prompt.startsWith("予期せぬエラー: 75\n"));
  EXPECT_EQ(boxes.asked()[0].style, rt::vbOKOnly);
  EXPECT_EQ(ends, 1);
  EXPECT_TRUE(checkedIn(w).isEmpty());  // start-up went no further
}

TEST_F(MidiWindow, SaveAsksFirstKeepsWhatTheUserWroteAndSaysWhyItFailed) {
  const QByteArray mine = "; kept by hand\n[Option]\nReset=GM\nColor=blue\n";
  writeIni(mine);
  FrmPlimra& w = startMidiWindow();
  choose(w.mnuContinue);
  choose(w.mnuXG);

  ScriptedMsgBox boxes({rt::vbNo, rt::vbYes});
  choose(w.mnuSave);
  EXPECT_EQ(readIni(), mine);
  ASSERT_EQ(boxes.asked().size(), 1u);
  EXPECT_EQ(boxes.asked()[0].prompt, "保存してよろしいですか？");
  EXPECT_EQ(boxes.asked()[0].title, "PLIMRAの動作環境の保存");
  EXPECT_EQ(boxes.asked()[0].style, rt::vbYesNo + rt::vbExclamation);  // Yes is the default

  choose(w.mnuSave);
  EXPECT_TRUE(readIni().startsWith("; kept by hand\n[Option]\nReset=XG\nColor=blue\nMin=False"));
  EXPECT_TRUE(readIni().contains("Continue=True\nRandom=False\nMIDIOUT= 0\n"));
  EXPECT_EQ(boxes.asked().size(), 2u);  // nothing more after a save that worked

  // The CD window's save writes the same file, with its own place.
  plimra::app::frmCDp()->Move(3000, 1500);
  boxes.answer(rt::vbYes);
  choose(plimra::app::frmCDp()->mnuSave);
  EXPECT_TRUE(readIni().endsWith("[CDp]\nTop= 1500\nLeft= 3000\n"));

  ASSERT_TRUE(QFile::remove(iniPath()) && QDir().mkdir(iniPath()));  // no file can go there now
  boxes.answer(rt::vbYes);
  choose(w.mnuSave);
  ASSERT_EQ(boxes.asked().size(), 5u);
  EXPECT_TRUE(boxes.asked()[4].prompt.startsWith("動作環境を保存できませんでした。"));
  EXPECT_TRUE(boxes.asked()[4].prompt.contains(iniPath()));
}

// plimra.ini, beside a program whose folder is named in Shift-JIS bytes,
// keeps a music folder named so too, and the next start shows it again.
TEST_F(MidiWindow, ASavedFolderNamedInShiftJisComesBackExactly) {
  using namespace plimra::testnames;
  const QByteArray base = rt::nativePath(root.path());
  const QByteArray app = base + "/\x83\x76\x83\x8d";  // "プロ"
  const QByteArray sjisMusic = base + "/" + kSjisFolder;
  ASSERT_TRUE(makeFolder(app) && makeFolder(sjisMusic));
  ASSERT_TRUE(writeRaw(sjisMusic + "/" + kSjisSong, "MThd"));
  rt::setAppPath(rt::pathFromNative(app));
  ASSERT_TRUE(startMidiWindow().Dir1->setPath(rt::pathFromNative(sjisMusic)));
  QString why;
  ASSERT_TRUE(Module1::SaveSettings(&why)) << why.toStdString();
  const QByteArray ini = readRaw(app + "/plimra.ini");
  EXPECT_TRUE(QUtf8StringView(ini).isValidUtf8());
  EXPECT_TRUE(ini.contains("Dir=file://")) << ini.constData();
  EXPECT_TRUE(ini.contains("/%89%B9%8Ay\n")) << ini.constData();

  FrmPlimra& w = startMidiWindow();
  EXPECT_EQ(rt::nativePath(w.Dir1->Path()), sjisMusic);
  EXPECT_EQ(entries(w.File1), QStringList{"ドラクエ序曲.MID"});
  window.reset();
  removeTree(app);
  removeTree(sjisMusic);
}

TEST_F(MidiWindow, AResetSongPlaysToItsEndFirstForExactlyGsGmOrXg) {
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
  FrmPlimra& w = startPlayer();
  for (const Case& c : cases) {
    w.MMControl1->setCommand("CLOSE");
    takeCalls();
    rt::setAppPath(c.program);
    Module1::OptReset = c.reset;
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

TEST_F(MidiWindow, ASecondStartDuringTheResetTakesOver) {
  FrmPlimra& w = startPlayer();
  Module1::OptReset = "GM";
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
    Module1::OptSingle = true;
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
  Module1::OptReset = "NON";
  finish();
  EXPECT_EQ(takeCalls(), (Calls{"close", song("a.mid"), "port 1", "play"}));
}

TEST_F(MidiWindow, TheExitTheCloseOfTheWindowOrACloseFromOutsideEndTheStartDuringTheReset) {
  FrmPlimra& w = startPlayer();
  Module1::OptReset = "GM";
  // What the switch to the CD player does with its option on; the two ends
  // of the program.
  const std::pair<std::function<void()>, int> closers[] = {
      {[&] { w.MMControl1->setCommand("CLOSE"); }, 0},
      {[&] { choose(w.mnuExit); }, 1},
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

TEST_F(MidiWindow, WhatFollowsASong) {
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
    FrmPlimra& w = startPlayer();
    Module1::OptSingle = c.mode == Single;
    Module1::OptRandom = c.mode == Random;
    play(c.first);
    const QString first = w.File1->FileName();
    if (*c.folder) {
      ASSERT_TRUE(w.Dir1->setPath(music + c.folder));
    }
    takeCalls();
    for (Step s : c.steps) {
      if (s == End) finish();
      if (s == Next) w.MMControl1->click(MMControl::Next);
    }
    pump(20);
    Calls expected;
    for (const QString& n : c.next)
      expected.insert(expected.end(), {"close", "open " + (w.File1->Path() + "/" + n).toStdString(),
                                       "port 1", "play"});
    EXPECT_EQ(takeCalls(), expected) << c.what;
    EXPECT_EQ(w.windowTitle(), c.next.isEmpty() ? first : c.next.last()) << c.what;
  }
  // Random play draws from the whole list.
  FrmPlimra& w = startPlayer();
  Module1::OptRandom = true;
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
TEST_F(MidiWindow, StopAndPrevStayTheEndMovesOnAndASongIconizesUnlessItCannotOpen) {
  FrmPlimra& w = startPlayer();
  sequencer->errors[song("c.mid")] = mci::err::InvalidFile;
  play(0);
  EXPECT_EQ(w.WindowState(), 0);  // the option is off
  takeCalls();
  w.MMControl1->click(MMControl::Stop);
  pump(50);
  EXPECT_EQ(takeCalls(), Calls{"stop"});

  // Play starts the selected file again from the beginning.
  w.MMControl1->click(MMControl::Play);
  EXPECT_EQ(takeCalls(), (Calls{"close", song("a.mid"), "port 1", "play"}));
  finish();
  EXPECT_EQ(takeCalls(), (Calls{"close", song("b.mid"), "port 1", "play"}));

  // Prev leaves the song at its start, stopped.
  w.MMControl1->click(MMControl::Prev);
  pump(50);
  EXPECT_EQ(takeCalls(), Calls{"seek start"});
  EXPECT_EQ(w.windowTitle(), "b.mid");

  Module1::OptMin = true;
  play(0);
  EXPECT_EQ(w.WindowState(), 1);

  w.setWindowState(0);
  takeCalls();
  play(2);
  EXPECT_EQ(w.windowTitle(), "c.mid (再生できません)");
  EXPECT_EQ(w.MMControl1->DeviceID(), 0);
  EXPECT_TRUE(w.MMControl1->isVisibleTo(&w));
  EXPECT_EQ(w.WindowState(), 0);  // left in view, so the message can be read
  pump(100);
  EXPECT_EQ(takeCalls(), (Calls{"close", song("c.mid")}));
  w.Timer1_Timer();
  EXPECT_EQ(w.windowTitle(), "c.mid (再生できません)");
}

TEST_F(MidiWindow, ContinuousPlayStopsAfterAWholePassOfTheListWithoutSound) {
  FrmPlimra& w = startPlayer();
  const QString stopped = QString::fromUtf16(plimra::midi::kNothingSounds);
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
  w.lstPort->setListIndex(0);
  play(0);
  EXPECT_TRUE(waitUntil([&] { return w.windowTitle().endsWith(stopped); }))
      << w.windowTitle().toStdString();
}

TEST_F(MidiWindow, TheTimeInTheCaptionShowsMinutesAndSecondsAndIsWrittenOnlyWhenItChanges) {
  FrmPlimra& w = startPlayer();
  play(0);
  choose(w.mnuTime);
  // The timer writes it on its own while the song plays.
  setPosition(2500);
  setLength(61000);
  EXPECT_TRUE(waitUntil([&] { return w.windowTitle() == "a.mid (00:02 / 01:01)"; }))
      << w.windowTitle().toStdString();
  int writes = 0;
  QObject::connect(&w, &QWidget::windowTitleChanged, [&] { ++writes; });
  setPosition(2999);  // the same second: the same text, not written again
  w.Timer1_Timer();
  EXPECT_EQ(writes, 0);
  setPosition(65 * 60000 + 3000);  // hours are not shown
  setLength(3727000);
  w.Timer1_Timer();
  EXPECT_EQ(w.windowTitle(), "a.mid (05:03 / 02:07)");

  // Off while playing: the name alone.
  choose(w.mnuTime);
  EXPECT_FALSE(Module1::OptTime || checked(w.mnuTime));
  EXPECT_EQ(tickEvery(w.Timer1), 0);
  EXPECT_EQ(w.windowTitle(), "a.mid");

  // Off while paused: the time stays.
  choose(w.mnuTime);
  setPosition(1000);
  w.Timer1_Timer();
  w.MMControl1->click(MMControl::Pause);
  setPosition(0);
  w.Timer1_Timer();
  choose(w.mnuTime);
  EXPECT_EQ(w.windowTitle(), "a.mid (00:01 / 02:07)");
}

// Meaningful where no audio device opens: ctest runs it once more so.
TEST_F(MidiWindow, ASilentSynthesizerIsExplainedOnceWhenASongStartsOnIt) {
  const QString reason = QString::fromStdString(plimra::seq::noSoundReason());
  if (reason.isEmpty()) GTEST_SKIP() << "the built-in synthesizer can be heard here";
  FrmPlimra& w = startPlayer();
  ScriptedMsgBox boxes;
  play(0);  // on a MIDI-OUT port: no question
  pump(20);
  EXPECT_TRUE(boxes.asked().empty());
  w.lstPort->setListIndex(0);  // the mapper, which is the synthesizer
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
TEST_F(MidiWindow, ASoundFontLoadsOffTheWindowsThreadIsSavedAndOneThatCannotLoadIsNamed) {
  constexpr uint32_t kFrames = 16 << 20;  // 32 MiB of samples
  // A name of its own each time: the same font again would play at once.
  static int runs = 0;
  const QString big = QString::fromStdString(plimra::test::writeTemp(
      "big" + std::to_string(++runs) + ".sf2", plimra::test::squareFont(kFrames, 100)));
  plimra::test::Bytes cut = plimra::test::squareFont(100, 10);
  cut.resize(200);
  const QString damaged = QString::fromStdString(plimra::test::writeTemp("damaged.sf2", cut));
  FrmPlimra& w = startMidiWindow();
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
    if (Module1::OptSoundFont == big || last > 60000) loop.quit();
  });
  clock.start();
  tick.start(1);
  choose(w.mnuSoundFont);
  loop.exec();
  tick.stop();
  render.join();
  EXPECT_EQ(Module1::OptSoundFont, big);
  EXPECT_FALSE(held.timedOut);
  std::printf("The window's longest pause while a %u MiB SoundFont loaded: %lld ms\n",
              kFrames * 2 >> 20, static_cast<long long>(longest));

  ScriptedMsgBox boxes({rt::vbYes});
  choose(w.mnuSave);
  EXPECT_TRUE(readIni().contains("\nSoundFont=" + big.toUtf8() + "\n")) << readIni().constData();
  startMidiWindow();
  choose(window->mnuSoundFont);  // cancelled
  pump(50);
  EXPECT_EQ(Module1::OptSoundFont, big);
  EXPECT_EQ(boxes.asked().size(), 1u);
  ASSERT_EQ(files.asked().size(), 2u);
  EXPECT_EQ(files.asked()[1].folder, QFileInfo(big).path());

  const std::tuple<std::function<void()>, QString, const char*> failures[] = {
      {[&] { choose(window->mnuSoundFont); }, "/no/such.sf2", "No such file"},
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
         choose(window->mnuSoundFont);
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
  EXPECT_EQ(Module1::OptSoundFont, damaged);  // as the file has it
}
