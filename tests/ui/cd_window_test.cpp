// The CD window driven through its handlers, with the fake device standing
// in for the drive and its disc, and its hand-over to and from the MIDI
// window through the program-wide instances.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <functional>

#include "tests/support/window_test.h"

namespace {

using plimra::ui::kHighlightColor;
using Log = std::vector<std::string>;
using Item = mci::StatusItem;
using Kind = mci::StatusValue::Kind;

class CdWindowTest : public plimra::test::WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    plimra::test::FakeDevice::install("CDAudio", disc);
    insert(12, mci::makeMsf(52, 34, 12));
    // The MIDI window's start-up loads the CD window and sets the options.
    midi = plimra::ui::midiWindow();
    cd = plimra::ui::cdWindow();
  }

  // A disc of `tracks` tracks lasting `length` (msf), the head on track 1.
  void insert(uint32_t tracks, uint32_t length) {
    disc->errors.clear();
    disc->mode = mci::ModeStopped;
    disc->answer(Item::NumberOfTracks, tracks);
    disc->answer(Item::Length, length, Kind::Time, mci::TimeFormat::Msf);
    at(1);
  }
  // No disc: the open fails, and a device already open is not ready.
  void takeOut() {
    disc->errors["open "] = mci::err::DeviceNotReady;
    disc->mode = mci::ModeOpen;
  }
  void at(uint32_t track, uint32_t minute = 0, uint32_t second = 0) {
    disc->answer(Item::Position, mci::makeTmsf(track, minute, second, 0), Kind::Time,
                 mci::TimeFormat::Tmsf);
  }
  // The window's poll with the head at that place.
  void tickAt(uint32_t track, uint32_t minute = 0, uint32_t second = 0) {
    at(track, minute, second);
    cd->onPoll();
  }
  // The MIDI window hands over to the CD window, which reads the disc.
  void switchToCd() {
    midi->onCdPlayer();
    cd->onPoll();
  }
  Log commands() { return disc->take({"play", "stop", "seek", "close", "pause", "resume"}); }
  std::vector<int> highlighted() const {
    std::vector<int> tracks;
    for (int i = 0; i < 20; ++i)
      if (cd->trackLabels[i]->BackColor() == kHighlightColor) tracks.push_back(i + 1);
    return tracks;
  }
  int shownLabels() const {
    int n = 0;
    for (int i = 0; i < 20; ++i) n += !cd->trackLabels[i]->isHidden();
    return n;
  }
  void playSong() {
    midi->transport->setFileName(music + "/song.mid");
    midi->transport->setCommand("OPEN");
    midi->transport->setCommand("PLAY");
    ASSERT_EQ(sequencer->mode.load(), mci::ModePlaying);
  }

  std::shared_ptr<plimra::test::DeviceLog> disc = std::make_shared<plimra::test::DeviceLog>();
  MidiWindow* midi = nullptr;
  CdWindow* cd = nullptr;
};

TEST_F(CdWindowTest, ReadsTheDiscOnceThenPollsThePositionTwiceASecond) {
  ScriptedMsgBox boxes;
  EXPECT_TRUE(disc->calls.empty());  // loading opens nothing
  EXPECT_EQ(tickEvery(cd->pollTimer), 0);
  switchToCd();
  EXPECT_TRUE(boxes.asked().empty());
  EXPECT_EQ(disc->format, mci::TimeFormat::Tmsf);
  EXPECT_EQ(tickEvery(cd->pollTimer), 500);
  EXPECT_EQ(shownLabels(), 12);
  EXPECT_EQ(cd->discLength->text(), "52:34");
  EXPECT_EQ(cd->status->text(), "Stop 01-00:00");
  // The status text is shown whole, not clipped to the layout's width.
  EXPECT_GE(cd->status->width(), cd->status->sizeHint().width());

  // Later ticks read neither the tracks nor the length again.
  disc->answer(Item::NumberOfTracks, 5);
  tickAt(1, 0, 7);
  EXPECT_EQ(shownLabels(), 12);
  EXPECT_EQ(cd->status->text(), "Stop 01-00:07");
  EXPECT_TRUE(commands().empty());

  // A failing command leaves an empty reply, not the last one.
  QString reply = QStringLiteral("52:34:12");
  EXPECT_NE(cd->sendCommandString(QStringLiteral("status cdaudio nonsense"), reply), 0);
  EXPECT_EQ(reply, "");
}

TEST_F(CdWindowTest, PlayingOnAcrossTracksThenToTheEnd) {
  switchToCd();
  cd->trackLabels[2]->setBackColor(kHighlightColor);  // left over from before
  QTest::mouseClick(cd->trackLabels[1], Qt::LeftButton);
  EXPECT_TRUE(highlighted().empty());
  EXPECT_EQ(commands(), Log({"play from 2"}));
  tickAt(2);
  tickAt(3, 0, 1);
  EXPECT_EQ(highlighted(), std::vector<int>({2, 3}));
  EXPECT_EQ(cd->status->text(), "Play 03-00:01");

  // The desktop moves the track that plays within itself (1:05.4 is frame
  // 30 of second 5), and it plays on; beyond the track's end it does not.
  // A CD device cannot move while it plays: it seeks and plays again.
  const std::string place = std::to_string(mci::makeTmsf(3, 1, 5, 30));
  disc->errors["move to " + place] = mci::err::UnsupportedFunction;
  disc->answer(Item::CurrentTrack, 3);
  ASSERT_TRUE(cd->seek(65400));
  EXPECT_EQ(commands(), Log({"seek to " + place, "play"}));
  EXPECT_FALSE(cd->seek(53LL * 60 * 1000));

  // Back on track 1, then off the end of the disc: rewound, and every label
  // plain again, the first track's too.
  tickAt(1);
  ASSERT_EQ(highlighted(), std::vector<int>({1, 2, 3}));
  disc->finish();
  tickAt(12, 4, 0);
  EXPECT_EQ(commands(), Log({"seek start"}));
  EXPECT_TRUE(highlighted().empty());
  EXPECT_EQ(cd->playState, 1);
}

TEST_F(CdWindowTest, DiscsComeAndGoWithAnyNumberOfTracks) {
  switchToCd();
  cd->onTrackClicked(1);
  tickAt(2);
  commands();
  takeOut();  // while playing
  cd->onPoll();
  EXPECT_EQ(cd->status->text(), "No Disc !");
  EXPECT_EQ(cd->discLength->text(), "");
  EXPECT_EQ(highlighted(), std::vector<int>({2}));  // kept until the next disc
  EXPECT_EQ(shownLabels(), 12);

  // A shorter disc hides the labels beyond its count, a longer one shows
  // them again.
  for (uint32_t tracks : {5u, 15u}) {
    insert(tracks, mci::makeMsf(40, 0, 0));
    cd->onPoll();
    EXPECT_EQ(shownLabels(), static_cast<int>(tracks));
    EXPECT_TRUE(highlighted().empty());
    takeOut();
    cd->onPoll();
  }

  // Tracks beyond the labels, and track zero.
  insert(25, mci::makeMsf(70, 0, 0));
  cd->onPoll();
  EXPECT_EQ(shownLabels(), 20);
  cd->onTrackClicked(19);
  EXPECT_EQ(commands(), Log({"play from 20"}));  // two digits go out whole
  tickAt(23, 0, 5);                              // no label to light
  EXPECT_EQ(cd->status->text(), "Play 23-00:05");
  EXPECT_TRUE(highlighted().empty());
  tickAt(0);  // no track at all
  EXPECT_TRUE(highlighted().empty());
}

// Pause twice stops and resumes without rewinding; a play iconizes the
// window when the option says so.
TEST_F(CdWindowTest, PauseAndPlay) {
  int cancel = 0;
  cd->onPauseClicked(cancel);  // before the disc is read: nothing of its own
  EXPECT_TRUE(disc->calls.empty());
  switchToCd();
  cd->onTrackClicked(1);
  tickAt(2, 1, 23);
  commands();

  cd->transport->click(MMControl::Pause);
  EXPECT_EQ(commands(), Log({"stop"}));  // the control adds no pause of its own
  cd->onPoll();
  EXPECT_EQ(commands(), Log());  // no rewind
  EXPECT_EQ(cd->status->text(), "Stop 02-01:23");
  EXPECT_EQ(highlighted(), std::vector<int>({2}));
  cd->transport->click(MMControl::Pause);
  EXPECT_EQ(commands(), Log({"play"}));
  cd->onPoll();
  EXPECT_EQ(cd->status->text(), "Play 02-01:23");

  EXPECT_EQ(cd->WindowState(), 0);
  cd->onIconizeToggled();
  cd->onTrackClicked(0);
  EXPECT_EQ(cd->WindowState(), 1);
  cd->setWindowState(0);
  cd->onPlayClicked(cancel);
  EXPECT_EQ(cd->WindowState(), 1);
}

TEST_F(CdWindowTest, TitleList) {
  cd->Show();
  QApplication::processEvents();
  // Every control before the box in tab order is a label: it has the focus.
  EXPECT_EQ(QApplication::focusWidget(), cd->titleEntry);
  EXPECT_EQ(cd->titleList->List(0), "新しいＣＤ");
  QTest::keyClick(cd->titleEntry, Qt::Key_Return);  // in the empty box: nothing
  EXPECT_EQ(cd->titleList->ListCount(), 1);

  cd->titleList->setListIndex(0);
  cd->onTitleActivated();
  EXPECT_TRUE(cd->titleList->isHidden() && cd->titleEntry->isVisible());
  QTest::keyClicks(cd->titleEntry, QStringLiteral("Abbey"));
  QTest::keyClick(cd->titleEntry, Qt::Key_Return);
  EXPECT_EQ(cd->titleList->ListCount(), 2);
  EXPECT_EQ(cd->titleList->List(1), "Abbey");
  EXPECT_TRUE(cd->titleList->isVisible() && cd->titleEntry->isHidden());

  cd->titleList->setListIndex(1);
  cd->onTitleActivated();  // a typed title opens nothing
  EXPECT_TRUE(cd->titleEntry->isHidden());
}

TEST_F(CdWindowTest, SwitchingWithTheOptionOnStopsAndClosesBothWays) {
  midi->Show();
  midi->Move(1200, 900);
  playSong();
  switchToCd();
  EXPECT_EQ(sequencer->mode.load(), mci::ModeNotReady);
  EXPECT_TRUE(midi->isHidden());
  EXPECT_EQ(cd->Left(), midi->Left());
  EXPECT_EQ(cd->Top(), midi->Top());
  cd->onTrackClicked(3);
  tickAt(4);
  cd->Move(2400, 1800);
  commands();

  choose(cd->midiPlayerItem);
  EXPECT_EQ(commands(), Log({"stop", "close"}));
  EXPECT_EQ(tickEvery(cd->pollTimer), 0);
  EXPECT_TRUE(cd->isHidden());
  EXPECT_TRUE(midi->isVisible());
  EXPECT_EQ(midi->Left(), cd->Left());
  EXPECT_EQ(midi->Top(), cd->Top());
}

TEST_F(CdWindowTest, SwitchBackWithTheOptionOffLeavesTheDiscPlaying) {
  options().setFlag(Flag::StopOnSwitch, false);
  playSong();
  switchToCd();
  EXPECT_EQ(sequencer->mode.load(), mci::ModePlaying);
  cd->onTrackClicked(6);
  tickAt(7);
  commands();
  cd->onMidiPlayer();
  EXPECT_EQ(commands(), Log());

  // Coming back finds it still playing and shows it so, without a question.
  ScriptedMsgBox boxes;
  switchToCd();
  EXPECT_TRUE(boxes.asked().empty());
  EXPECT_EQ(cd->status->text(), "Play 07-00:00");
  EXPECT_EQ(highlighted(), std::vector<int>({7}));
}

TEST_F(CdWindowTest, NoDiscAsksUntilOneIsInsertedOrTheUserGoesBack) {
  takeOut();
  ScriptedMsgBox boxes({kit::vbCancel});
  midi->onCdPlayer();
  ASSERT_EQ(boxes.asked().size(), 1u);
  EXPECT_EQ(boxes.asked()[0].prompt, "ＣＤが入っていません");
  EXPECT_EQ(boxes.asked()[0].title, "ERROR");
  EXPECT_EQ(boxes.asked()[0].style, kit::vbRetryCancel);
  EXPECT_EQ(disc->take({"open"}), Log({"open "}));  // and nothing more after the answer
  EXPECT_EQ(tickEvery(cd->pollTimer), 0);
  EXPECT_TRUE(cd->isHidden());
  EXPECT_TRUE(midi->isVisible());

  // Two more opens find no disc; Retry after the second question reads it.
  insert(9, mci::makeMsf(40, 0, 0));
  int opens = 0;
  disc->refuse = [&](const std::string& call) {
    return call == "open " && ++opens <= 2 ? mci::err::DeviceNotReady : mci::err::None;
  };
  boxes.answer(kit::vbRetry);
  boxes.answer(kit::vbRetry);
  switchToCd();
  EXPECT_EQ(boxes.asked().size(), 3u);
  EXPECT_EQ(tickEvery(cd->pollTimer), 500);
  EXPECT_TRUE(cd->isVisible());
  EXPECT_EQ(shownLabels(), 9);
}

TEST_F(CdWindowTest, ExitAndCloseStopAndCloseTheDiscThenEnd) {
  const std::function<void()> enders[] = {[&] { choose(cd->exitItem); }, [&] { cd->close(); }};
  for (int i = 0; i < 2; ++i) {
    cd->Hide();
    switchToCd();
    cd->onTrackClicked(0);
    commands();
    enders[i]();
    EXPECT_EQ(commands(), Log({"stop", "close"}));
    EXPECT_EQ(ends, i + 1);
  }
}

}  // namespace
