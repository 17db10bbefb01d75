// The CD window driven through its handlers against the fake device standing
// in for the disc, its hand-over to and from the MIDI window through the
// program-wide instances, and once on the real CD audio device with a
// generated disc image.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <memory>

#include "app/forms.h"
#include "app/module1.h"
#include "cd/frmcdp.h"
#include "media/cdaudio/register.h"
#include "media/control/mmcontrol.h"
#include "midi/frmplimra.h"
#include "runtime/program.h"
#include "tests/support/scripted_msgbox.h"
#include "tests/support/window_test.h"
#include "tools/mkdisc/disc_image.h"

namespace {

namespace rt = plimra::rt;
namespace mci = plimra::mci;
namespace Module1 = plimra::Module1;
using plimra::cd::FrmCDp;
using plimra::cd::kHighlightColor;
using plimra::control::MMControl;
using plimra::midi::FrmPlimra;
using plimra::test::ScriptedMsgBox;
using Log = std::vector<std::string>;
using Item = mci::StatusItem;
using Kind = mci::StatusValue::Kind;

class CdWindow : public plimra::test::WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    plimra::test::FakeDevice::install("CDAudio", disc);
    insert(12, mci::makeMsf(52, 34, 12));
    // The MIDI window's start-up loads the CD window and sets the options.
    midi = plimra::app::frmPlimra();
    cd = plimra::app::frmCDp();
  }

  void insert(int tracks, uint32_t length) {
    disc->errors.clear();
    disc->mode = mci::ModeStopped;
    disc->answer(Item::NumberOfTracks, static_cast<uint32_t>(tracks));
    disc->answer(Item::Length, length, Kind::Time, mci::TimeFormat::Msf);
    at(1, 0, 0);
  }
  // The drive holds no disc: the open fails, an open device is not ready.
  void remove() {
    disc->errors["open "] = mci::err::DeviceNotReady;
    disc->mode = mci::ModeOpen;
  }
  void at(int track, int minute, int second) {
    disc->answer(Item::Position,
                 mci::makeTmsf(static_cast<uint32_t>(track), static_cast<uint32_t>(minute),
                               static_cast<uint32_t>(second), 0),
                 Kind::Time, mci::TimeFormat::Tmsf);
  }
  // The MIDI window hands over to the CD window at its own place, which
  // then reads the disc.
  void switchToCd() {
    midi->mnuCDP_Click();
    cd->Timer1_Timer();
  }
  Log commands() { return disc->take({"play", "stop", "seek", "close", "pause", "resume"}); }
  std::vector<int> highlighted() const {
    std::vector<int> tracks;
    for (int i = 0; i < 20; ++i)
      if (cd->TrackSet[i]->BackColor() == kHighlightColor) tracks.push_back(i + 1);
    return tracks;
  }
  int shownLabels() const {
    int n = 0;
    for (int i = 0; i < 20; ++i) n += !cd->TrackSet[i]->isHidden();
    return n;
  }
  void playSong() {
    MMControl* c = midi->MMControl1;
    c->setFileName(music + "/song.mid");
    c->setCommand("OPEN");
    c->setCommand("PLAY");
    ASSERT_EQ(sequencer->mode.load(), mci::ModePlaying);
  }

  std::shared_ptr<plimra::test::DeviceLog> disc = std::make_shared<plimra::test::DeviceLog>();
  FrmPlimra* midi = nullptr;
  FrmCDp* cd = nullptr;
};

TEST_F(CdWindow, ReadsTheDiscOnceThenPollsThePositionTwiceASecond) {
  ScriptedMsgBox boxes;
  EXPECT_TRUE(disc->calls.empty());  // loading opens nothing
  EXPECT_FALSE(cd->Timer1.ticking());
  switchToCd();
  EXPECT_TRUE(boxes.asked().empty());
  EXPECT_EQ(disc->take({"open"}), Log({"open "}));
  EXPECT_EQ(disc->format, mci::TimeFormat::Tmsf);
  EXPECT_EQ(cd->Timer1.Interval(), 500);
  EXPECT_TRUE(cd->Timer1.ticking());
  EXPECT_EQ(shownLabels(), 12);
  for (int i = 12; i < 20; ++i) EXPECT_TRUE(cd->TrackSet[i]->isHidden()) << i;
  EXPECT_TRUE(highlighted().empty());
  EXPECT_EQ(cd->Info1->Caption(), "52:34");
  EXPECT_EQ(cd->Info2->Caption(), "Stop 01-00:00");
  EXPECT_EQ(cd->PlayState, 1);
  EXPECT_EQ(cd->CurrentTrack, 1);
  // The status text is shown whole, not clipped to the layout's width.
  EXPECT_GE(cd->Info2->width(), cd->Info2->sizeHint().width());

  // Later ticks read neither the tracks nor the length again.
  disc->answer(Item::NumberOfTracks, 5);
  at(1, 0, 7);
  cd->Timer1_Timer();
  EXPECT_EQ(shownLabels(), 12);
  EXPECT_EQ(cd->Info2->Caption(), "Stop 01-00:07");
  EXPECT_TRUE(commands().empty());
}

TEST_F(CdWindow, PlayingOnAcrossTracksThenToTheEnd) {
  switchToCd();
  cd->TrackSet[2]->setBackColor(kHighlightColor);  // left over from before
  // Through the label itself, as the user clicks it.
  QTest::mouseClick(cd->TrackSet[1], Qt::LeftButton);
  EXPECT_TRUE(highlighted().empty());
  EXPECT_EQ(cd->CurrentTrack, 2);
  EXPECT_EQ(commands(), Log({"play from 2"}));
  at(2, 0, 0);
  cd->Timer1_Timer();
  EXPECT_EQ(highlighted(), std::vector<int>({2}));
  at(3, 0, 1);
  cd->Timer1_Timer();
  EXPECT_EQ(highlighted(), std::vector<int>({2, 3}));
  EXPECT_EQ(cd->Info2->Caption(), "Play 03-00:01");

  // Back on track 1, then off the end of the disc: rewound, and every label
  // plain again, the first track's too.
  at(1, 0, 0);
  cd->Timer1_Timer();
  ASSERT_EQ(highlighted(), std::vector<int>({1, 2, 3}));
  disc->finish();
  at(12, 4, 0);
  cd->Timer1_Timer();
  EXPECT_EQ(commands(), Log({"seek start"}));
  EXPECT_TRUE(highlighted().empty());
  EXPECT_EQ(cd->PlayState, 1);
}

TEST_F(CdWindow, DiscsComeAndGo) {
  switchToCd();
  cd->TrackSet_Click(1);
  at(2, 0, 0);
  cd->Timer1_Timer();

  // Taken out while playing.
  remove();
  cd->Timer1_Timer();
  EXPECT_EQ(cd->Info2->Caption(), "No Disc !");
  EXPECT_EQ(cd->Info1->Caption(), "");
  EXPECT_EQ(cd->PlayState, 0);
  EXPECT_EQ(highlighted(), std::vector<int>({2}));  // colours kept until the next disc
  EXPECT_EQ(shownLabels(), 12);

  // A shorter disc hides the labels beyond its count ...
  insert(5, mci::makeMsf(20, 1, 0));
  cd->Timer1_Timer();
  EXPECT_EQ(shownLabels(), 5);
  EXPECT_TRUE(highlighted().empty());
  EXPECT_EQ(cd->Info1->Caption(), "20:01");

  // ... and a longer one shows its tracks again.
  remove();
  cd->Timer1_Timer();
  insert(15, mci::makeMsf(61, 0, 0));
  cd->Timer1_Timer();
  EXPECT_EQ(shownLabels(), 15);
  for (int i = 0; i < 15; ++i) EXPECT_FALSE(cd->TrackSet[i]->isHidden()) << i;
  EXPECT_EQ(cd->Info1->Caption(), "61:00");
}

TEST_F(CdWindow, TracksBeyondTheLabelsAndTrackZero) {
  insert(25, mci::makeMsf(70, 0, 0));
  switchToCd();
  EXPECT_EQ(shownLabels(), 20);
  cd->TrackSet_Click(19);
  EXPECT_EQ(commands(), Log({"play from 20"}));  // two digits go out whole
  at(23, 0, 5);
  cd->Timer1_Timer();
  EXPECT_EQ(cd->CurrentTrack, 23);
  EXPECT_EQ(cd->Info2->Caption(), "Play 23-00:05");
  EXPECT_TRUE(highlighted().empty());

  at(0, 0, 0);
  cd->Timer1_Timer();
  EXPECT_EQ(cd->CurrentTrack, 0);
  EXPECT_TRUE(highlighted().empty());
}

TEST_F(CdWindow, PauseTwiceStopsAndResumesWithoutRewinding) {
  // Before the disc is read the button does nothing of its own.
  int cancel = 0;
  cd->MMControl1_PauseClick(cancel);
  EXPECT_TRUE(disc->calls.empty());
  switchToCd();
  cd->TrackSet_Click(1);
  at(2, 1, 23);
  cd->Timer1_Timer();
  commands();

  cd->MMControl1->click(MMControl::Pause);
  EXPECT_EQ(commands(), Log({"stop"}));  // the control adds no pause of its own
  EXPECT_EQ(cd->PlayState, 1);
  cd->Timer1_Timer();
  EXPECT_EQ(commands(), Log());  // no rewind
  EXPECT_EQ(cd->Info2->Caption(), "Stop 02-01:23");
  EXPECT_EQ(highlighted(), std::vector<int>({2}));

  cd->MMControl1->click(MMControl::Pause);
  EXPECT_EQ(commands(), Log({"play"}));
  cd->Timer1_Timer();
  EXPECT_EQ(cd->Info2->Caption(), "Play 02-01:23");
}

TEST_F(CdWindow, IconizeOnPlayFollowsTheOption) {
  switchToCd();
  cd->TrackSet_Click(0);
  EXPECT_EQ(cd->WindowState(), 0);
  cd->mnuMin_Click();
  ASSERT_TRUE(Module1::OptMin);
  cd->TrackSet_Click(0);
  EXPECT_EQ(cd->WindowState(), 1);
  cd->setWindowState(0);
  int cancel = 0;
  cd->MMControl1_PlayClick(cancel);
  EXPECT_EQ(cd->WindowState(), 1);
}

TEST_F(CdWindow, TitleList) {
  cd->Show();
  // Every control before the box in tab order is a label: it has the focus.
  QApplication::processEvents();
  EXPECT_EQ(QApplication::focusWidget(), cd->Text1);
  ASSERT_EQ(cd->List1->ListCount(), 1);
  EXPECT_EQ(cd->List1->List(0), "新しいＣＤ");
  // Enter in the empty box does nothing.
  QTest::keyClick(cd->Text1, Qt::Key_Return);
  EXPECT_EQ(cd->List1->ListCount(), 1);

  cd->List1->setListIndex(0);
  cd->List1_DblClick();
  EXPECT_TRUE(cd->List1->isHidden());
  EXPECT_FALSE(cd->Text1->isHidden());
  QTest::keyClicks(cd->Text1, QStringLiteral("Abbey"));
  QTest::keyClick(cd->Text1, Qt::Key_Return);
  EXPECT_FALSE(cd->List1->isHidden());
  EXPECT_TRUE(cd->Text1->isHidden());

  cd->List1->setListIndex(0);
  cd->List1_DblClick();
  QTest::keyClick(cd->Text1, Qt::Key_Return);  // the box keeps its text
  EXPECT_EQ(cd->List1->ListCount(), 3);
  EXPECT_EQ(cd->List1->List(1), "Abbey");
  EXPECT_EQ(cd->List1->List(2), "Abbey");

  // A typed title opens nothing.
  cd->List1->setListIndex(2);
  cd->List1_DblClick();
  EXPECT_FALSE(cd->List1->isHidden());
  EXPECT_TRUE(cd->Text1->isHidden());
}

TEST_F(CdWindow, SwitchingWithTheOptionOnStopsAndClosesBothWays) {
  midi->Show();
  midi->Move(1200, 900);
  playSong();
  switchToCd();
  EXPECT_EQ(sequencer->mode.load(), mci::ModeNotReady);
  EXPECT_TRUE(midi->isHidden());
  EXPECT_EQ(cd->Left(), midi->Left());
  EXPECT_EQ(cd->Top(), midi->Top());
  cd->TrackSet_Click(3);
  cd->Timer1_Timer();
  cd->Move(2400, 1800);
  commands();

  cd->mnuMIDI->trigger();
  EXPECT_EQ(commands(), Log({"stop", "close"}));
  EXPECT_FALSE(cd->Timer1.ticking());
  EXPECT_TRUE(cd->isHidden());
  EXPECT_TRUE(midi->isVisible());
  EXPECT_EQ(midi->Left(), cd->Left());
  EXPECT_EQ(midi->Top(), cd->Top());

  // Stopped: nothing to stop, only the close.
  switchToCd();
  commands();
  cd->mnuMidi_click();
  EXPECT_EQ(commands(), Log({"close"}));
}

TEST_F(CdWindow, SwitchBackWithTheOptionOffLeavesTheDiscPlaying) {
  Module1::OptChange = false;
  playSong();
  switchToCd();
  EXPECT_EQ(sequencer->mode.load(), mci::ModePlaying);
  cd->TrackSet_Click(6);
  at(7, 0, 0);
  cd->Timer1_Timer();
  commands();
  cd->mnuMidi_click();
  EXPECT_EQ(commands(), Log());
  EXPECT_EQ(cd->MMControl1->Mode(), mci::ModePlaying);

  // Coming back finds it still playing and shows it so, without a question.
  ScriptedMsgBox boxes;
  switchToCd();
  EXPECT_TRUE(boxes.asked().empty());
  EXPECT_EQ(cd->Info2->Caption(), "Play 07-00:00");
  EXPECT_EQ(highlighted(), std::vector<int>({7}));
}

TEST_F(CdWindow, NoDiscAsksUntilOneIsInsertedOrTheUserGoesBack) {
  remove();
  midi->Move(1800, 1500);
  ScriptedMsgBox boxes({rt::vbCancel});
  midi->mnuCDP_Click();
  ASSERT_EQ(boxes.asked().size(), 1u);
  EXPECT_EQ(boxes.asked()[0].prompt, "ＣＤが入っていません");
  EXPECT_EQ(boxes.asked()[0].title, "ERROR");
  EXPECT_EQ(boxes.asked()[0].style, rt::vbRetryCancel);
  EXPECT_EQ(disc->take({"open"}), Log({"open "}));  // and nothing more after the answer
  EXPECT_FALSE(cd->Timer1.ticking());
  EXPECT_TRUE(cd->isHidden());
  EXPECT_TRUE(midi->isVisible());
  EXPECT_EQ(midi->Left(), cd->Left());
  EXPECT_EQ(midi->Top(), cd->Top());

  // The user puts a disc in at the second question and retries.
  int asked = 0;
  rt::setMsgBoxHandler([&](const rt::MsgBoxRequest&) {
    if (++asked == 2) insert(9, mci::makeMsf(40, 0, 0));
    return rt::vbRetry;
  });
  switchToCd();
  rt::setMsgBoxHandler({});
  EXPECT_EQ(asked, 2);
  EXPECT_TRUE(cd->Timer1.ticking());
  EXPECT_TRUE(cd->isVisible());
  EXPECT_EQ(shownLabels(), 9);
}

TEST_F(CdWindow, ExitAndCloseStopAndCloseTheDiscThenEnd) {
  switchToCd();
  cd->TrackSet_Click(0);
  commands();
  cd->mnuEnd->trigger();
  EXPECT_EQ(commands(), Log({"stop", "close"}));
  EXPECT_EQ(ends, 1);

  cd->Hide();
  switchToCd();
  cd->TrackSet_Click(0);
  commands();
  cd->close();
  EXPECT_EQ(commands(), Log({"stop", "close"}));
  EXPECT_EQ(ends, 2);
}

TEST_F(CdWindow, Replies) {
  // Only the first twenty characters are searched for the reply's end.
  QString reply = QStringLiteral("old");
  plimra::cd::takeReply(std::string("1234567890123456789") + std::string(236, '\0'), reply);
  EXPECT_EQ(reply, "1234567890123456789");
  reply = QStringLiteral("old");
  plimra::cd::takeReply(std::string("12345678901234567890") + std::string(235, '\0'), reply);
  EXPECT_EQ(reply, "old");

  switchToCd();
  QString command = QStringLiteral("status cdaudio length");
  EXPECT_EQ(cd->SendMciString(command, reply), 0);
  EXPECT_EQ(reply, "52:34:12");
  EXPECT_EQ(command, "status cdaudio length");
  // A failing command writes nothing: an empty reply, not the buffer.
  EXPECT_NE(cd->SendMciString(QStringLiteral("status cdaudio nonsense"), reply), 0);
  EXPECT_EQ(reply, "");
}

// The real device plays the last track of a generated image in real time
// (through a silent output); the window's own poll follows it to the end.
TEST_F(CdWindow, RealDiscPlayedToTheEndAndClosedOnTheWayBack) {
  plimra::mkdisc::DiscSpec layout;
  layout.tracks.assign(12, plimra::mkdisc::TrackSpec{75, false, 0});
  const std::string cue = root.filePath("disc.cue").toStdString();
  ASSERT_EQ(plimra::mkdisc::writeDisc(cue, layout), "");
  setenv("PLIMRA_CDROM", cue.c_str(), 1);
  plimra::cdaudio::registerCdAudio();
  auto waitFor = [](auto done) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < 5000) QTest::qWait(10);
    return done();
  };

  ScriptedMsgBox boxes;
  switchToCd();
  ASSERT_TRUE(boxes.asked().empty());
  EXPECT_EQ(shownLabels(), 12);
  EXPECT_EQ(cd->Info1->Caption(), "00:12");
  cd->TrackSet_Click(11);
  ASSERT_TRUE(waitFor([&] { return cd->Info2->Caption().startsWith("Play 12-"); }))
      << cd->Info2->Caption().toStdString();
  EXPECT_EQ(highlighted(), std::vector<int>({12}));
  ASSERT_TRUE(waitFor([&] { return cd->PlayState == 1; }));
  EXPECT_EQ(cd->Info2->Caption(), "Stop 01-00:00");
  EXPECT_TRUE(highlighted().empty());

  cd->mnuMidi_click();
  EXPECT_EQ(cd->MMControl1->Mode(), 0);
  EXPECT_EQ(mci::DeviceTable::instance().findByName("cdaudio"), nullptr);
}

}  // namespace
