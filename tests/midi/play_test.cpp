// Playing songs in the MIDI window: the reset before a song, what follows a
// song, and the time in the caption, against a sequencer the test drives
// (its play ends when the test says so) and, where timing matters, the real
// one.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <memory>
#include <set>

#include "app/forms.h"
#include "app/module1.h"
#include "media/control/mmcontrol.h"
#include "media/mci/device_table.h"
#include "media/mci/midiout.h"
#include "media/sequencer/register.h"
#include "midi/frmplimra.h"
#include "runtime/filelists.h"
#include "runtime/program.h"
#include "tests/support/fake_device.h"
#include "tests/support/midi_file.h"
#include "tests/support/scripted_msgbox.h"
#include "tests/support/window_test.h"

using plimra::control::MMControl;
using plimra::midi::FrmPlimra;
using plimra::test::FakeDevice;
using plimra::test::ScriptedMsgBox;
namespace mci = plimra::mci;
namespace rt = plimra::rt;
namespace Module1 = plimra::Module1;

namespace {

void pump(int ms = 0) {
  QElapsedTimer t;
  t.start();
  do {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  } while (t.elapsed() < ms);
}

bool writeSong(const QString& path, int note = 60, uint32_t ms = 300) {
  return plimra::test::writeFile(path.toStdString(), plimra::test::noteSong(note, ms));
}

// Opens only files that start like a MIDI file.
uint32_t refuseAllButMidiFiles(const std::string& call) {
  if (call.rfind("open ", 0) != 0) return mci::err::None;
  QFile f(QString::fromStdString(call.substr(5)));
  return f.open(QIODevice::ReadOnly) && f.read(4) == "MThd" ? mci::err::None
                                                            : mci::err::InvalidFile;
}

using Calls = std::vector<std::string>;

class Playing : public plimra::test::WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    app = root.filePath("app");
    ASSERT_TRUE(QDir().mkpath(app) && QDir().mkpath(music + "/classics") &&
                QDir().mkpath(music + "/empty") && QDir().mkpath(music + "/named"));
    ASSERT_TRUE(writeSong(app + "/GS.MID", 0, 100) && writeSong(app + "/GM.MID", 0, 100));
    for (const char* n :
         {"a.mid", "b.mid", "c.mid", "classics/bach.Mid", "named/SONGS.MID", "named/MYGM.MID"})
      ASSERT_TRUE(writeSong(music + "/" + n));
    rt::setAppPath(app);
    sequencer->refuse = refuseAllButMidiFiles;
    setLength(1000);
  }

  void useTestSequencer() { FakeDevice::install("Sequencer", sequencer); }
  void setPosition(uint32_t ms) { sequencer->answer(mci::StatusItem::Position, ms); }
  void setLength(uint32_t ms) { sequencer->answer(mci::StatusItem::Length, ms); }

  FrmPlimra& start() {
    startMidiWindow();
    // Options as a test wants them; each test changes what it needs.
    Module1::OptReset = "NON";
    Module1::OptRandom = false;
    Module1::OptContinue = true;
    window->lstPort->setListIndex(2);  // port 1
    return *window;
  }

  // Double-clicks the file at `index` of the list.
  void play(int index) {
    ASSERT_TRUE(window->File1->setListIndex(index));
    window->File1_DblClick();
  }

  // The test sequencer's play reaches its end.
  void finish() {
    sequencer->finish();
    pump();
  }

  Calls takeCalls() { return sequencer->take({"open", "close", "play", "stop", "seek", "port"}); }
  std::string song(const QString& name) { return "open " + (music + "/" + name).toStdString(); }

  QString app;
};

}  // namespace

TEST_F(Playing, ResetSongPlaysToItsEndBeforeTheSongAndPortFollowsEveryOpen) {
  FrmPlimra& w = start();
  for (const char* mode : {"GS", "GM"}) {
    Module1::OptReset = mode;
    QStringList captionsDuringWait;
    QTimer::singleShot(30, window.get(), [&] {
      captionsDuringWait << w.Caption();
      finish();
    });
    play(1);
    const std::string reset = "open " + (app + "/" + mode + ".MID").toStdString();
    const Calls expected = {reset, "port 1", "play", "close", song("b.mid"), "port 1", "play"};
    // The second round first closes the song of the first.
    Calls got = takeCalls();
    if (!got.empty() && got.front() == "close") got.erase(got.begin());
    EXPECT_EQ(got, expected) << mode;
    EXPECT_EQ(captionsDuringWait, QStringList{"b.mid (お待ち下さい)"}) << mode;
    EXPECT_EQ(w.Caption(), "b.mid");
    EXPECT_TRUE(w.MMControl1->isVisibleTo(&w));
    EXPECT_EQ(w.MMControl1->TimeFormat(), 0);
    EXPECT_EQ(sequencer->mode.load(), mci::ModePlaying);
  }
}

TEST_F(Playing, OnlyExactlyGsOrGmWaitsForAResetSong) {
  FrmPlimra& w = start();
  for (const char* mode : {"NON", "GSX", "gm", "", " GM"}) {
    Module1::OptReset = mode;
    play(0);  // would wait forever if it played a reset song: nothing ends it
    Calls got = takeCalls();
    if (!got.empty() && got.front() == "close") got.erase(got.begin());
    EXPECT_EQ(got, (Calls{song("a.mid"), "port 1", "play"})) << mode;
    EXPECT_EQ(w.Caption(), "a.mid");
  }
}

TEST_F(Playing, AMissingOrRefusedResetSongLetsTheSongStartAtOnce) {
  FrmPlimra& w = start();
  Module1::OptReset = "GM";
  ASSERT_TRUE(QFile::remove(app + "/GM.MID"));
  play(0);  // nothing would end a wait: it must not begin
  EXPECT_EQ(takeCalls(),
            (Calls{"open " + (app + "/GM.MID").toStdString(), song("a.mid"), "port 1", "play"}));
  EXPECT_EQ(w.Caption(), "a.mid");

  // Not a MIDI file: the device refuses it the same way.
  QFile bad(app + "/GM.MID");
  ASSERT_TRUE(bad.open(QIODevice::WriteOnly) && bad.write("RIFFjunk") == 8);
  bad.close();
  play(1);
  EXPECT_EQ(takeCalls(), (Calls{"close", "open " + (app + "/GM.MID").toStdString(), song("b.mid"),
                                "port 1", "play"}));
  EXPECT_EQ(w.Caption(), "b.mid");
}

TEST_F(Playing, ProgramInTheRootFolderLooksForTheResetSongThere) {
  start();
  rt::setAppPath("/");
  Module1::OptReset = "GS";
  play(0);
  // No "/GS.MID" here, so the song starts without it.
  EXPECT_EQ(takeCalls(), (Calls{"open /GS.MID", song("a.mid"), "port 1", "play"}));
}

TEST_F(Playing, ASecondStartDuringTheResetTakesOver) {
  FrmPlimra& w = start();
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
  const std::string reset = "open " + (app + "/GM.MID").toStdString();
  EXPECT_EQ(takeCalls(), (Calls{reset, "port 1", "play", "close", reset, "port 1", "play", "close",
                                song("c.mid"), "port 1", "play"}));
  EXPECT_EQ(w.Caption(), "c.mid");
  EXPECT_EQ(sequencer->mode.load(), mci::ModePlaying);

  // The end of that song moves on once, from c.mid: the takeover left no
  // second chain behind.
  Module1::OptReset = "NON";
  finish();
  EXPECT_EQ(takeCalls(), (Calls{"close", song("a.mid"), "port 1", "play"}));
}

TEST_F(Playing, ACloseFromOutsideDuringTheResetEndsTheStart) {
  FrmPlimra& w = start();
  Module1::OptReset = "GM";
  const std::string reset = "open " + (app + "/GM.MID").toStdString();
  // What the switch to the CD player does with its option on, and the end
  // of the program.
  const std::function<void()> closers[] = {[&] { w.MMControl1->setCommand("CLOSE"); },
                                           [&] { w.mnuExit->trigger(); }};
  for (const auto& close : closers) {
    QTimer::singleShot(20, window.get(), close);
    play(1);
    Calls got = takeCalls();
    if (!got.empty() && got.front() == "close") got.erase(got.begin());
    EXPECT_EQ(got, (Calls{reset, "port 1", "play", "close"}));
    EXPECT_EQ(w.MMControl1->DeviceID(), 0);
    EXPECT_EQ(w.Caption(), "b.mid");
    pump(50);
    EXPECT_TRUE(takeCalls().empty());
  }
}

TEST_F(Playing, ContinuousPlayStopsAfterAWholePassOfTheListWithoutSound) {
  FrmPlimra& w = start();
  const QString stopped = QString::fromUtf16(plimra::midi::kNothingSounds);
  for (bool random : {false, true}) {
    Module1::OptRandom = random;
    setLength(0);  // songs that last no time
    takeCalls();
    play(0);
    for (int ends = 0; ends < 20 && sequencer->mode.load() == mci::ModePlaying; ++ends) {
      setLength(ends == 0 ? 1000 : 0);  // only the second song sounds
      finish();
    }
    // One song that sounds starts the count again: the first, the second,
    // then as many silent ones as the list holds.
    const Calls calls = takeCalls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "play"), 5) << random;
    EXPECT_EQ(sequencer->mode.load(), mci::ModeStopped);
    EXPECT_EQ(w.Caption(), w.File1->FileName() + stopped);
    pump(20);
    EXPECT_EQ(w.Caption(), w.File1->FileName() + stopped);
  }

  // The real sequencer on songs whose every event is at tick 0.
  plimra::seq::registerSequencer();
  for (const char* n : {"a.mid", "b.mid", "c.mid"}) ASSERT_TRUE(writeSong(music + "/" + n, 60, 0));
  w.lstPort->setListIndex(0);
  play(0);
  QElapsedTimer t;
  t.start();
  while (!w.Caption().endsWith(stopped) && t.elapsed() < 5000) pump(10);
  EXPECT_TRUE(w.Caption().endsWith(stopped)) << w.Caption().toStdString();
  EXPECT_EQ(w.MMControl1->Mode(), mci::ModeStopped);
  useTestSequencer();
}

TEST_F(Playing, RandomPlayDrawsFromTheWholeList) {
  FrmPlimra& w = start();
  Module1::OptRandom = true;
  std::set<QString> drawn;
  play(0);
  for (int i = 0; i < 40; ++i) {
    finish();
    ASSERT_GE(w.File1->ListIndex(), 0);
    drawn.insert(w.File1->FileName());
    EXPECT_EQ(w.Caption(), w.File1->FileName());
  }
  EXPECT_GT(drawn.size(), 1u);
}

TEST_F(Playing, WhatFollowsTheEndOfASong) {
  struct Case {
    const char* what;
    bool single, random;
    const char* folder;
    int first, ends;
    QStringList next;
  };
  const Case cases[] = {
      {"down the list, wrapping", false, false, "", 1, 2, {"c.mid", "a.mid"}},
      {"names like the reset songs", false, false, "/named", 0, 2, {"SONGS.MID", "MYGM.MID"}},
      {"one song only", true, false, "", 0, 1, {}},
      {"random from one entry", false, true, "/classics", 0, 2, {"bach.Mid", "bach.Mid"}},
  };
  for (const Case& c : cases) {
    FrmPlimra& w = start();
    Module1::OptSingle = c.single;
    Module1::OptRandom = c.random;
    ASSERT_TRUE(w.Dir1->setPath(music + c.folder));
    play(c.first);
    const QString first = w.File1->FileName();
    takeCalls();
    for (int i = 0; i < c.ends; ++i) finish();
    pump(20);
    Calls expected;
    for (const QString& n : c.next)
      expected.insert(expected.end(), {"close", "open " + (w.File1->Path() + "/" + n).toStdString(),
                                       "port 1", "play"});
    EXPECT_EQ(takeCalls(), expected) << c.what;
    EXPECT_EQ(w.Caption(), c.next.isEmpty() ? first : c.next.last()) << c.what;
  }
}

TEST_F(Playing, NextMovesOnEvenWithOneSongOnly) {
  FrmPlimra& w = start();
  Module1::OptSingle = true;
  play(0);
  takeCalls();
  w.MMControl1->click(MMControl::Next);
  EXPECT_EQ(takeCalls(), (Calls{"close", song("b.mid"), "port 1", "play"}));
  pump();
  // The control's own Next does not seek the new song to its end.
  EXPECT_EQ(sequencer->mode.load(), mci::ModePlaying);
  EXPECT_EQ(w.Caption(), "b.mid");
}

TEST_F(Playing, StopAndPauseDoNotAdvanceButTheEndAndNextDo) {
  FrmPlimra& w = start();
  play(0);
  takeCalls();
  w.MMControl1->click(MMControl::Stop);
  pump(50);
  EXPECT_EQ(takeCalls(), Calls{"stop"});
  EXPECT_EQ(w.MMControl1->Mode(), mci::ModeStopped);
  EXPECT_EQ(w.File1->FileName(), "a.mid");

  // Play starts the selected file again from the beginning.
  w.MMControl1->click(MMControl::Play);
  EXPECT_EQ(takeCalls(), (Calls{"close", song("a.mid"), "port 1", "play"}));
  w.MMControl1->click(MMControl::Pause);
  pump(50);
  EXPECT_EQ(sequencer->mode.load(), mci::ModePaused);
  w.MMControl1->click(MMControl::Pause);
  pump(50);
  EXPECT_EQ(sequencer->mode.load(), mci::ModePlaying);
  EXPECT_TRUE(takeCalls().empty());
  finish();
  EXPECT_EQ(takeCalls(), (Calls{"close", song("b.mid"), "port 1", "play"}));

  // Prev leaves the song at its start, stopped.
  w.MMControl1->click(MMControl::Prev);
  pump(50);
  EXPECT_EQ(takeCalls(), Calls{"seek start"});
  EXPECT_EQ(w.Caption(), "b.mid");
}

TEST_F(Playing, ASongThatCannotBeOpenedSaysSoAndEndsTheSequence) {
  FrmPlimra& w = start();
  QFile bad(music + "/b.mid");
  ASSERT_TRUE(bad.open(QIODevice::WriteOnly | QIODevice::Truncate) && bad.write("no") == 2);
  bad.close();
  Module1::OptMin = true;
  play(0);
  w.setWindowState(0);
  takeCalls();
  finish();
  EXPECT_EQ(w.Caption(), "b.mid (再生できません)");
  EXPECT_EQ(w.MMControl1->DeviceID(), 0);
  EXPECT_TRUE(w.MMControl1->isVisibleTo(&w));
  EXPECT_EQ(w.WindowState(), 0);  // left in view, so the message can be read
  pump(100);
  EXPECT_EQ(takeCalls(), (Calls{"close", song("b.mid")}));
  w.Timer1_Timer();
  EXPECT_EQ(w.Caption(), "b.mid (再生できません)");

  // Gone since the list was read: the same.
  ASSERT_TRUE(QFile::remove(music + "/c.mid"));
  play(2);
  EXPECT_EQ(w.Caption(), "c.mid (再生できません)");
  Module1::OptMin = false;
}

TEST_F(Playing, TheNextFileComesFromTheFolderShownNow) {
  FrmPlimra& w = start();
  play(1);
  ASSERT_TRUE(w.Dir1->setPath(music + "/classics"));
  EXPECT_EQ(w.File1->ListIndex(), -1);
  takeCalls();
  finish();
  EXPECT_EQ(takeCalls(), (Calls{"close", "open " + (music + "/classics/bach.Mid").toStdString(),
                                "port 1", "play"}));

  // A folder without MIDI files: Next does nothing and nothing fails.
  ASSERT_TRUE(w.Dir1->setPath(music + "/empty"));
  ASSERT_EQ(w.File1->ListCount(), 0);
  w.MMControl1->click(MMControl::Next);
  Module1::OptRandom = true;
  w.MMControl1->click(MMControl::Next);
  finish();
  EXPECT_TRUE(takeCalls().empty());
  EXPECT_EQ(w.Caption(), "bach.Mid");
}

TEST_F(Playing, TimeCaptionShowsMinutesAndSecondsAndIsWrittenOnlyWhenItChanges) {
  FrmPlimra& w = start();
  play(0);
  int writes = 0;
  QObject::connect(&w, &QWidget::windowTitleChanged, [&] { ++writes; });
  w.mnuTime->trigger();
  EXPECT_TRUE(Module1::OptTime && w.mnuTime->Checked());
  EXPECT_EQ(w.Timer1.Interval(), 100);

  struct Case {
    uint32_t position, length;
    const char* caption;
  };
  const Case cases[] = {
      {999, 192000, "a.mid (00:00 / 03:12)"},
      {1000, 192000, "a.mid (00:01 / 03:12)"},
      {65 * 60000 + 3000, 3727000, "a.mid (05:03 / 02:07)"},  // hours wrap
  };
  for (const Case& c : cases) {
    setPosition(c.position);
    setLength(c.length);
    const int before = writes;
    w.Timer1_Timer();
    EXPECT_EQ(w.Caption(), c.caption);
    w.Timer1_Timer();
    setPosition(c.position / 1000 * 1000 + 500);  // same second: the same text
    w.Timer1_Timer();
    EXPECT_EQ(writes, before + 1) << c.caption;
    EXPECT_EQ(w.ShownTimeCaption, c.caption);
  }

  // Off while playing: the name alone.
  w.mnuTime->trigger();
  EXPECT_FALSE(Module1::OptTime || w.mnuTime->Checked());
  EXPECT_EQ(w.Timer1.Interval(), 0);
  EXPECT_EQ(w.Caption(), "a.mid");

  // Off while paused: the time stays.
  w.mnuTime->trigger();
  setPosition(1000);
  w.Timer1_Timer();
  EXPECT_EQ(w.Caption(), "a.mid (00:01 / 02:07)");
  w.MMControl1->click(MMControl::Pause);
  ASSERT_EQ(sequencer->mode.load(), mci::ModePaused);
  setPosition(0);
  w.Timer1_Timer();
  EXPECT_EQ(w.Caption(), "a.mid (00:01 / 02:07)");
  w.mnuTime->trigger();
  EXPECT_EQ(w.Caption(), "a.mid (00:01 / 02:07)");
}

TEST_F(Playing, TheTimerRewritesTheCaptionOnItsOwnWhileASongPlays) {
  FrmPlimra& w = start();
  w.mnuTime->trigger();
  setLength(61000);
  play(0);
  setPosition(2500);
  pump(350);
  EXPECT_EQ(w.Caption(), "a.mid (00:02 / 01:01)");
  w.mnuTime->trigger();
}

TEST_F(Playing, IconizesOnceWhenTheOptionIsOn) {
  FrmPlimra& w = start();
  struct Counter : QObject {
    int changes = 0;
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::WindowStateChange) ++changes;
      return false;
    }
  } counter;
  w.installEventFilter(&counter);
  play(0);
  EXPECT_EQ(w.WindowState(), 0);
  Module1::OptMin = true;
  play(1);
  EXPECT_EQ(w.WindowState(), 1);
  play(2);
  EXPECT_EQ(w.WindowState(), 1);
  EXPECT_EQ(counter.changes, 1);
  Module1::OptMin = false;
}

// Meaningful where no audio device opens: ctest runs it once more so.
TEST_F(Playing, ASilentSynthesizerIsExplainedOnceWhenASongStartsOnIt) {
  const QString reason = QString::fromStdString(plimra::seq::noSoundReason());
  if (reason.isEmpty()) GTEST_SKIP() << "the built-in synthesizer can be heard here";
  FrmPlimra& w = start();
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

// The real sequencer: the reset song ends by itself, the next song follows,
// and Stop really stops.
TEST_F(Playing, RealSequencerResetsThenPlaysOnAndStops) {
  plimra::seq::registerSequencer();
  FrmPlimra& w = start();
  w.lstPort->setListIndex(0);
  Module1::OptReset = "GM";
  ASSERT_TRUE(writeSong(app + "/GM.MID", 0, 400));
  QString during;
  QTimer::singleShot(50, window.get(), [&] {
    if (w.MMControl1->Mode() == mci::ModePlaying) during = w.MMControl1->FileName();
  });
  play(0);
  EXPECT_EQ(during, app + "/GM.MID");  // the start waited while it played
  EXPECT_EQ(w.Caption(), "a.mid");
  EXPECT_EQ(w.MMControl1->Mode(), mci::ModePlaying);
  EXPECT_EQ(w.MMControl1->Length(), 300u);

  QElapsedTimer t;
  t.start();
  while (w.File1->FileName() != "b.mid" && t.elapsed() < 5000) pump(10);
  while (w.MMControl1->Mode() != mci::ModePlaying && t.elapsed() < 5000) pump(10);
  EXPECT_EQ(w.Caption(), "b.mid");
  EXPECT_EQ(w.MMControl1->Mode(), mci::ModePlaying);
  w.MMControl1->click(MMControl::Stop);
  pump(600);
  EXPECT_EQ(w.File1->FileName(), "b.mid");
  EXPECT_EQ(w.MMControl1->Mode(), mci::ModeStopped);
  useTestSequencer();
}
