// The CD window driven through its handlers, against a fake disc in the
// device table, and its hand-over to and from the MIDI window through the
// program-wide instances.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <memory>

#include "app/forms.h"
#include "app/module1.h"
#include "cd/frmcdp.h"
#include "media/control/mmcontrol.h"
#include "midi/frmplimra.h"
#include "runtime/program.h"
#include "tests/cd/fake_disc.h"
#include "tests/support/scripted_msgbox.h"
#include "tests/support/window_test.h"

namespace {

namespace rt = plimra::rt;
namespace mci = plimra::mci;
namespace Module1 = plimra::Module1;
using plimra::cd::FrmCDp;
using plimra::cd::kHighlightColor;
using plimra::cd::kPlainColor;
using plimra::control::MMControl;
using plimra::midi::FrmPlimra;
using plimra::test::ScriptedMsgBox;
using Log = std::vector<std::string>;

class CdWindow : public plimra::test::WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    cdtest::registerFakeCd(disc);
    // The MIDI window's start-up loads the CD window and sets the options.
    midi = plimra::app::frmPlimra();
    cd = plimra::app::frmCDp();
  }

  // The MIDI window hands over to the CD window at its own place.
  void switchToCd() { midi->mnuCDP_Click(); }
  Log takeLog() { return std::exchange(disc->log, {}); }
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
  bool allPlain() const {
    for (int i = 0; i < 20; ++i)
      if (cd->TrackSet[i]->BackColor() != kPlainColor) return false;
    return true;
  }
  // A song playing in the MIDI window.
  void playSong() {
    MMControl* c = midi->MMControl1;
    c->setFileName(music + "/song.mid");
    c->setCommand("OPEN");
    c->setCommand("PLAY");
    ASSERT_EQ(sequencer->mode.load(), mci::ModePlaying);
  }

  std::shared_ptr<cdtest::Disc> disc = std::make_shared<cdtest::Disc>();
  FrmPlimra* midi = nullptr;
  FrmCDp* cd = nullptr;
};

TEST_F(CdWindow, TwelveTrackDiscAfterActivation) {
  ScriptedMsgBox boxes;
  midi->Move(1500, 1200);
  EXPECT_TRUE(disc->log.empty());  // loading opens nothing
  EXPECT_FALSE(cd->Timer1.ticking());
  switchToCd();
  EXPECT_TRUE(boxes.asked().empty());
  EXPECT_EQ(takeLog(), Log({"open", "format tmsf"}));
  EXPECT_EQ(cd->Timer1.Interval(), 500);
  EXPECT_TRUE(cd->Timer1.ticking());
  EXPECT_EQ(cd->PlayState, 0);

  cd->Timer1_Timer();
  EXPECT_EQ(shownLabels(), 12);
  for (int i = 12; i < 20; ++i) EXPECT_TRUE(cd->TrackSet[i]->isHidden()) << i;
  EXPECT_TRUE(allPlain());
  EXPECT_EQ(cd->Info1->Caption(), "52:34");
  EXPECT_EQ(cd->Info2->Caption(), "Stop 01-00:00");
  EXPECT_EQ(cd->PlayState, 1);
  EXPECT_EQ(cd->CurrentTrack, 1);
  // The status text is shown whole, not clipped to the layout's width.
  EXPECT_GE(cd->Info2->width(), cd->Info2->sizeHint().width());

  // Later ticks only ask for the position.
  takeLog();
  cd->Timer1_Timer();
  EXPECT_TRUE(takeLog().empty());
}

TEST_F(CdWindow, PlayingOnAcrossTracksThenToTheEnd) {
  switchToCd();
  cd->Timer1_Timer();
  cd->TrackSet[2]->setBackColor(kHighlightColor);  // left over from before
  cd->TrackSet_Click(2);
  EXPECT_TRUE(allPlain());
  EXPECT_EQ(disc->log.back(), "play from 3");
  cd->Timer1_Timer();
  EXPECT_EQ(highlighted(), std::vector<int>({3}));
  disc->position = mci::makeTmsf(4, 0, 1, 0);
  cd->Timer1_Timer();
  EXPECT_EQ(highlighted(), std::vector<int>({3, 4}));
  EXPECT_EQ(cd->Info2->Caption(), "Play 04-00:01");

  // Back on track 1, then off the end of the disc: rewound, and every label
  // plain again, the first track's too.
  disc->position = mci::makeTmsf(1, 0, 0, 0);
  cd->Timer1_Timer();
  ASSERT_EQ(highlighted(), std::vector<int>({1, 3, 4}));
  disc->runOut();
  takeLog();
  cd->Timer1_Timer();
  EXPECT_EQ(takeLog(), Log({"seek start"}));
  EXPECT_TRUE(allPlain());
  EXPECT_EQ(cd->PlayState, 1);
  EXPECT_EQ(cd->Info2->Caption(), "Stop 01-00:00");
}

TEST_F(CdWindow, DiscsComeAndGo) {
  switchToCd();
  cd->Timer1_Timer();
  cd->TrackSet_Click(1);
  cd->Timer1_Timer();

  // Taken out while playing.
  disc->remove();
  cd->Timer1_Timer();
  EXPECT_EQ(cd->Info2->Caption(), "No Disc !");
  EXPECT_EQ(cd->Info1->Caption(), "");
  EXPECT_EQ(cd->PlayState, 0);
  EXPECT_EQ(highlighted(), std::vector<int>({2}));  // colours kept until the next disc
  EXPECT_EQ(shownLabels(), 12);

  // A shorter disc hides the labels beyond its count ...
  disc->insert(5, mci::makeMsf(20, 1, 0));
  cd->Timer1_Timer();
  EXPECT_EQ(shownLabels(), 5);
  EXPECT_TRUE(highlighted().empty());
  EXPECT_EQ(cd->Info1->Caption(), "20:01");

  // ... and a longer one shows its tracks again.
  disc->remove();
  cd->Timer1_Timer();
  disc->insert(15, mci::makeMsf(61, 0, 0));
  cd->Timer1_Timer();
  EXPECT_EQ(shownLabels(), 15);
  for (int i = 0; i < 15; ++i) EXPECT_FALSE(cd->TrackSet[i]->isHidden()) << i;
  EXPECT_EQ(cd->Info1->Caption(), "61:00");
}

TEST_F(CdWindow, TracksBeyondTheLabelsAndTrackZero) {
  disc->insert(25, mci::makeMsf(70, 0, 0));
  switchToCd();
  cd->Timer1_Timer();
  EXPECT_EQ(shownLabels(), 20);
  cd->TrackSet_Click(19);
  disc->position = mci::makeTmsf(23, 0, 5, 0);
  cd->Timer1_Timer();
  EXPECT_EQ(cd->CurrentTrack, 23);
  EXPECT_EQ(cd->Info2->Caption(), "Play 23-00:05");
  EXPECT_TRUE(highlighted().empty());

  disc->position = mci::makeTmsf(0, 0, 0, 0);
  cd->Timer1_Timer();
  EXPECT_EQ(cd->CurrentTrack, 0);
  EXPECT_TRUE(highlighted().empty());
}

TEST_F(CdWindow, ClickOnATrackWhileAnotherPlays) {
  switchToCd();
  cd->Timer1_Timer();
  cd->TrackSet_Click(1);
  cd->Timer1_Timer();
  ASSERT_EQ(highlighted(), std::vector<int>({2}));
  takeLog();
  // Through the label itself, as the user clicks it.
  QTest::mouseClick(cd->TrackSet[4], Qt::LeftButton);
  EXPECT_TRUE(allPlain());
  EXPECT_EQ(cd->CurrentTrack, 5);
  EXPECT_EQ(takeLog(), Log({"play from 5"}));
  cd->Timer1_Timer();
  EXPECT_EQ(highlighted(), std::vector<int>({5}));
  // Two-digit tracks go out whole.
  cd->TrackSet_Click(11);
  EXPECT_EQ(takeLog(), Log({"play from 12"}));
}

TEST_F(CdWindow, PauseTwiceStopsAndResumesWithoutRewinding) {
  switchToCd();
  cd->Timer1_Timer();
  cd->TrackSet_Click(1);
  disc->position = mci::makeTmsf(2, 1, 23, 0);
  cd->Timer1_Timer();
  takeLog();

  cd->MMControl1->click(MMControl::Pause);
  EXPECT_EQ(takeLog(), Log({"stop"}));  // the control adds no pause of its own
  EXPECT_EQ(cd->PlayState, 1);
  cd->Timer1_Timer();
  EXPECT_EQ(takeLog(), Log());  // no rewind
  EXPECT_EQ(cd->Info2->Caption(), "Stop 02-01:23");
  EXPECT_EQ(highlighted(), std::vector<int>({2}));

  cd->MMControl1->click(MMControl::Pause);
  EXPECT_EQ(takeLog(), Log({"play"}));
  cd->Timer1_Timer();
  EXPECT_EQ(cd->Info2->Caption(), "Play 02-01:23");

  // Before the disc is read the button does nothing of its own.
  cd->PlayState = 0;
  int cancel = 0;
  cd->MMControl1_PauseClick(cancel);
  EXPECT_EQ(takeLog(), Log());
}

TEST_F(CdWindow, IconizeOnPlayFollowsTheOption) {
  switchToCd();
  cd->Timer1_Timer();
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
  EXPECT_EQ(cd->List1->ListCount(), 2);
  EXPECT_FALSE(cd->List1->isHidden());
  EXPECT_TRUE(cd->Text1->isHidden());

  cd->List1->setListIndex(0);
  cd->List1_DblClick();
  EXPECT_EQ(cd->Text1->Text(), "Abbey");  // the box keeps its text
  QTest::keyClick(cd->Text1, Qt::Key_Return);
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
  cd->Timer1_Timer();
  cd->TrackSet_Click(3);
  cd->Timer1_Timer();
  cd->Move(2400, 1800);
  takeLog();

  cd->mnuMIDI->trigger();
  EXPECT_EQ(takeLog(), Log({"stop", "close"}));
  EXPECT_FALSE(cd->Timer1.ticking());
  EXPECT_TRUE(cd->isHidden());
  EXPECT_TRUE(midi->isVisible());
  EXPECT_EQ(midi->Left(), cd->Left());
  EXPECT_EQ(midi->Top(), cd->Top());

  // Stopped: nothing to stop, only the close.
  switchToCd();
  cd->Timer1_Timer();
  takeLog();
  cd->mnuMidi_click();
  EXPECT_EQ(takeLog(), Log({"close"}));
}

TEST_F(CdWindow, SwitchBackWithTheOptionOffLeavesTheDiscPlaying) {
  Module1::OptChange = false;
  playSong();
  switchToCd();
  EXPECT_EQ(sequencer->mode.load(), mci::ModePlaying);
  cd->Timer1_Timer();
  cd->TrackSet_Click(6);
  cd->Timer1_Timer();
  takeLog();
  cd->mnuMidi_click();
  EXPECT_EQ(takeLog(), Log());
  EXPECT_TRUE(disc->playing);
  EXPECT_EQ(cd->MMControl1->Mode(), mci::ModePlaying);

  // Coming back finds it still playing and shows it so, without a question.
  ScriptedMsgBox boxes;
  switchToCd();
  cd->Timer1_Timer();
  EXPECT_TRUE(boxes.asked().empty());
  EXPECT_EQ(cd->Info2->Caption(), "Play 07-00:00");
  EXPECT_EQ(highlighted(), std::vector<int>({7}));
}

TEST_F(CdWindow, NoDiscAskedUntilOneIsInsertedOrCancelled) {
  disc->remove();
  int asked = 0;
  rt::setMsgBoxHandler([&](const rt::MsgBoxRequest& r) {
    EXPECT_EQ(r.prompt, "ＣＤが入っていません");
    EXPECT_EQ(r.title, "ERROR");
    EXPECT_EQ(r.style, rt::vbRetryCancel);
    // The user puts a disc in at the second question and retries.
    if (++asked == 2) disc->insert(9, mci::makeMsf(40, 0, 0));
    return rt::vbRetry;
  });
  switchToCd();
  rt::setMsgBoxHandler({});
  EXPECT_EQ(asked, 2);
  EXPECT_TRUE(cd->Timer1.ticking());
  EXPECT_TRUE(cd->isVisible());
  cd->Timer1_Timer();
  EXPECT_EQ(shownLabels(), 9);
}

TEST_F(CdWindow, CancelInTheNoDiscBoxReturnsToTheMidiWindow) {
  disc->remove();
  ScriptedMsgBox boxes({rt::vbCancel});
  midi->Move(1800, 1500);
  switchToCd();
  ASSERT_EQ(boxes.asked().size(), 1u);
  EXPECT_EQ(disc->log.back(), "close");  // the option to stop on switching is on
  EXPECT_EQ(std::count(disc->log.begin(), disc->log.end(), "format tmsf"), 0);
  EXPECT_FALSE(cd->Timer1.ticking());
  EXPECT_TRUE(cd->isHidden());
  EXPECT_TRUE(midi->isVisible());
  EXPECT_EQ(midi->Left(), cd->Left());
  EXPECT_EQ(midi->Top(), cd->Top());
}

TEST_F(CdWindow, ExitAndCloseStopAndCloseTheDiscThenEnd) {
  switchToCd();
  cd->TrackSet_Click(0);
  takeLog();
  cd->mnuEnd->trigger();
  EXPECT_EQ(takeLog(), Log({"stop", "close"}));
  EXPECT_EQ(ends, 1);

  cd->Hide();
  switchToCd();
  cd->TrackSet_Click(0);
  takeLog();
  cd->close();
  EXPECT_EQ(takeLog(), Log({"stop", "close"}));
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
  disc->remove();
  EXPECT_NE(cd->SendMciString(QStringLiteral("status cdaudio position"), reply), 0);
  EXPECT_EQ(reply, "");
}

}  // namespace
