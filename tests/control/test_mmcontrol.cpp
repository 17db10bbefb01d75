#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <thread>

#include "media/control/mmcontrol.h"
#include "media/mci/device_table.h"
#include "tests/support/fake_device.h"

using plimra::control::MMControl;
namespace mci = plimra::mci;
using Calls = std::vector<std::string>;

namespace {

class Control : public ::testing::Test {
 protected:
  void SetUp() override {
    s->errors = {{"open missing.mid", mci::err::FileNotFound},
                 {"door open", mci::err::UnsupportedFunction}};
    plimra::test::FakeDevice::install("Fake", s);
    c = std::make_unique<MMControl>();
    c->setNotify(true);
    c->setDeviceType("Fake");
    QObject::connect(c.get(), &MMControl::Done, [this](int code) {
      dones.push_back(code);
      offGui += QThread::currentThread() != qApp->thread();
    });
  }
  void TearDown() override {
    c.reset();
    mci::DeviceTable::instance().closeAll();
  }
  void pump() {
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
  }
  // Ends the play from an engine thread, as a real device does.
  void finishPlay() {
    s->mode = mci::ModeStopped;
    std::thread([fn = std::exchange(s->pending, {})] { fn(mci::NotifySuccessful); }).join();
  }
  std::vector<MMControl::Button> enabled() const {
    std::vector<MMControl::Button> on;
    for (int i = 0; i < MMControl::ButtonCount; ++i)
      if (c->buttonEnabled(MMControl::Button(i))) on.push_back(MMControl::Button(i));
    return on;
  }

  std::shared_ptr<plimra::test::DeviceLog> s = std::make_shared<plimra::test::DeviceLog>();
  std::unique_ptr<MMControl> c;
  std::vector<int> dones;
  int offGui = 0;
};

TEST_F(Control, CommandsReachTheDeviceInOrderWithTheirOwnCase) {
  c->setFileName("/songs/a.mid");
  EXPECT_EQ(c->setCommand("open"), 0u);
  EXPECT_NE(c->DeviceID(), 0);
  EXPECT_EQ(c->Mode(), mci::ModeStopped);
  c->setCommand("Play");
  c->setTimeFormat(10);
  s->answer(mci::StatusItem::Position, 1234);
  EXPECT_EQ(c->Position(), 1234u);
  c->setCommand(" STOP ");
  c->setCommand("Close");
  EXPECT_EQ(s->calls,
            (Calls{"open /songs/a.mid", "format 0", "play", "format 10", "stop", "close"}));
  EXPECT_EQ(c->DeviceID(), 0);
  EXPECT_EQ(c->Mode(), 0);
  EXPECT_EQ(c->Position(), 0u);
  c->setCommand("OPEN");  // the format chosen earlier applies to the next device
  EXPECT_EQ(s->calls.back(), "format 10");
}

TEST_F(Control, DoneIsQueuedOnTheGuiThreadWithTheOutcome) {
  c->setCommand("OPEN");
  EXPECT_TRUE(dones.empty());  // never inside the command
  pump();
  EXPECT_EQ(dones, (std::vector<int>{1}));
  c->setCommand("PLAY");
  pump();
  EXPECT_EQ(dones.size(), 1u);  // a play reports only when it ends
  finishPlay();
  EXPECT_EQ(dones.size(), 1u);
  pump();
  c->setCommand("STOP");
  pump();
  s->errors["play"] = mci::err::Hardware;
  EXPECT_EQ(c->setCommand("PLAY"), mci::err::Hardware);
  pump();
  EXPECT_EQ(dones, (std::vector<int>{1, 1, 1, 8}));
  EXPECT_EQ(offGui, 0);
}

TEST_F(Control, StopAbortsThePlayAndPauseKeepsItPending) {
  c->setCommand("OPEN");
  c->setCommand("PLAY");
  c->setCommand("PAUSE");
  EXPECT_EQ(c->Mode(), mci::ModePaused);
  c->setCommand("PAUSE");  // a second pause resumes
  EXPECT_EQ(c->Mode(), mci::ModePlaying);
  c->setCommand("STOP");
  pump();
  EXPECT_EQ(dones, (std::vector<int>{1, 1, 1, 4, 1}));  // open, pause, pause, aborted play, stop
  EXPECT_EQ(s->calls, (Calls{"open ", "format 0", "play", "pause", "resume", "stop"}));
}

TEST_F(Control, NothingOpenOrUnsupportedIsHarmless) {
  EXPECT_EQ(c->setCommand("CLOSE"), 0u);
  EXPECT_EQ(c->DeviceID(), 0);
  EXPECT_EQ(c->Mode(), 0);
  EXPECT_EQ(c->setCommand("PLAY"), mci::err::InvalidDeviceId);
  EXPECT_EQ(c->setCommand("FLY"), mci::err::UnrecognizedCommand);  // not a command: no Done
  c->setCommand("OPEN");
  for (const char* cmd : {"BACK", "STEP", "RECORD", "SAVE", "EJECT"})
    EXPECT_EQ(c->setCommand(cmd), mci::err::UnsupportedFunction) << cmd;
  pump();
  EXPECT_EQ(dones, (std::vector<int>{1, 8, 1, 8, 8, 8, 8, 8}));

  c->setCommand("CLOSE");
  c->setFileName("missing.mid");
  EXPECT_EQ(c->setCommand("OPEN"), mci::err::FileNotFound);
  c->setDeviceType("NoSuchDevice");
  EXPECT_NE(c->setCommand("OPEN"), 0u);
  EXPECT_EQ(c->DeviceID(), 0);
  EXPECT_TRUE(enabled().empty());
}

TEST_F(Control, OpenReplacesAnotherOrEmptyDeviceButKeepsTheSameOnePlaying) {
  c->setFileName("a.mid");
  c->setCommand("OPEN");
  c->setCommand("PLAY");
  c->setCommand("OPEN");
  EXPECT_EQ(c->Mode(), mci::ModePlaying);
  c->setFileName("b.mid");
  c->setCommand("OPEN");
  s->mode = mci::ModeOpen;  // no medium: opened afresh to look again
  c->setCommand("OPEN");
  EXPECT_EQ(s->calls, (Calls{"open a.mid", "format 0", "play", "close", "open b.mid", "format 0",
                             "close", "open b.mid", "format 0"}));
}

TEST_F(Control, ButtonsFollowTheMode) {
  using B = MMControl::Button;
  c->setNotify(false);  // the end of a play still refreshes the bar
  EXPECT_TRUE(enabled().empty());
  c->setCommand("OPEN");
  EXPECT_EQ(enabled(), (std::vector<B>{B::Prev, B::Next, B::Play, B::Eject}));
  c->setCommand("PLAY");
  EXPECT_EQ(enabled(), (std::vector<B>{B::Prev, B::Next, B::Pause, B::Stop}));
  c->setCommand("PAUSE");
  EXPECT_EQ(enabled(), (std::vector<B>{B::Prev, B::Next, B::Play, B::Pause, B::Stop}));
  c->setCommand("PAUSE");
  finishPlay();
  pump();
  EXPECT_EQ(enabled(), (std::vector<B>{B::Prev, B::Next, B::Play, B::Eject}));
  s->mode = mci::ModeOpen;  // the disc taken out behind the control's back
  QElapsedTimer t;
  t.start();
  while (c->buttonEnabled(B::Play) && t.elapsed() < 3000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    QThread::msleep(10);
  }
  EXPECT_EQ(enabled(), (std::vector<B>{B::Eject}));
  EXPECT_TRUE(dones.empty());
}

TEST_F(Control, ClickRaisesItsEventAndCancelSuppressesTheCommand) {
  int cancel = 1;
  QObject::connect(c.get(), &MMControl::PlayClick, [&](int& Cancel) {
    EXPECT_EQ(Cancel, 0);
    s->calls.push_back("PlayClick");
    Cancel = cancel;
  });
  c->click(MMControl::Play);  // disabled: no event
  c->setCommand("OPEN");
  c->click(MMControl::Play);
  cancel = 0;
  c->button(MMControl::Play)->click();
  // Already playing (as after a handler that started the song itself): the
  // play goes on undisturbed.
  c->setCommand("PLAY");
  EXPECT_EQ(s->calls, (Calls{"open ", "format 0", "PlayClick", "PlayClick", "play"}));
}

TEST_F(Control, PauseHandlerThatStopsAndRestartsItselfIsNotUndone) {
  // A window that pauses by stopping through command strings to the device
  // the control opened, and resumes by playing it again.
  QObject::connect(c.get(), &MMControl::PauseClick, [&](int&) {
    std::string reply;
    mci::DeviceTable::instance().sendString(
        c->Mode() == mci::ModePlaying ? "stop fake" : "play fake", reply);
  });
  c->setCommand("OPEN");
  c->setCommand("PLAY");
  c->click(MMControl::Pause);
  EXPECT_EQ(c->Mode(), mci::ModeStopped);
  EXPECT_TRUE(c->buttonEnabled(MMControl::Pause));  // so that it can resume
  c->click(MMControl::Pause);
  EXPECT_EQ(c->Mode(), mci::ModePlaying);
  EXPECT_EQ(s->calls, (Calls{"open ", "format 0", "play", "stop", "play"}));
}

TEST_F(Control, HiddenButtonsLeaveAndTheRestCloseUpFromTheLeft) {
  c->resize(270, 33);
  c->setBackVisible(false);
  c->setStepVisible(false);
  c->setRecordVisible(false);
  c->setEjectVisible(false);
  c->show();
  std::vector<int> xs;
  for (int i = 0; i < MMControl::ButtonCount; ++i)
    if (c->button(MMControl::Button(i))->isVisible())
      xs.push_back(c->button(MMControl::Button(i))->x());
  EXPECT_EQ(xs, (std::vector<int>{0, 30, 60, 90, 120}));  // Prev Next Play Pause Stop
  EXPECT_EQ(c->width(), 270);
  c->setCommand("OPEN");
  c->click(MMControl::Eject);  // hidden: nothing happens
  EXPECT_EQ(s->calls.size(), 2u);
}

TEST_F(Control, WaitBlocksUntilThePlayEndsWhileEventsRun) {
  c->setCommand("OPEN");
  c->setWait(true);
  QTimer::singleShot(50, [this] { finishPlay(); });
  c->setCommand("PLAY");  // returns only once the timer above has ended the play
  EXPECT_EQ(c->Mode(), mci::ModeStopped);
  EXPECT_EQ(s->pending, nullptr);
}

TEST_F(Control, ClosingOrDestroyingTheControlClosesItsDevice) {
  c->setCommand("OPEN");
  c->close();
  EXPECT_EQ(s->calls.back(), "close");
  EXPECT_EQ(c->DeviceID(), 0);
  c->setCommand("OPEN");
  c->setCommand("PLAY");
  pump();
  c.reset();
  EXPECT_EQ(s->calls.back(), "close");
  pump();  // the aborted play's notification finds the control gone
  EXPECT_EQ(dones, (std::vector<int>{1, 1}));
}

}  // namespace
