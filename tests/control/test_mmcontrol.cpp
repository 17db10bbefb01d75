// The transport control against a device that records what reaches it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QThread>
#include <QToolButton>
#include <thread>

#include "media/control/mmcontrol.h"
#include "media/mci/device_table.h"
#include "tests/support/fake_device.h"

using plimra::control::MMControl;
namespace mci = plimra::mci;
using Calls = std::vector<std::string>;
using B = MMControl::Button;

namespace {

class Control : public ::testing::Test {
 protected:
  void SetUp() override {
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
    std::thread([this] { s->finish(); }).join();
  }
  std::vector<B> enabled() const {
    std::vector<B> on;
    for (int i = 0; i < MMControl::ButtonCount; ++i)
      if (c->buttonEnabled(B(i))) on.push_back(B(i));
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
  c->setCommand("Play");
  c->setTimeFormat(10);
  s->answer(mci::StatusItem::Position, 1234);
  EXPECT_EQ(c->Position(), 1234u);
  c->setCommand(" STOP ");
  c->setCommand("Close");
  EXPECT_EQ(s->calls,
            (Calls{"open /songs/a.mid", "format 0", "play", "format 10", "stop", "close"}));
  EXPECT_EQ(c->Position(), 0u);
  c->setCommand("OPEN");  // the format chosen earlier applies to the next device
  EXPECT_EQ(s->calls.back(), "format 10");
}

// 1 success, 4 aborted, 8 failure.
TEST_F(Control, DoneIsQueuedOnTheGuiThreadAndAPlayReportsWhenItEnds) {
  c->setCommand("OPEN");
  EXPECT_TRUE(dones.empty());  // never inside the command
  c->setCommand("PLAY");
  c->setCommand("PAUSE");
  c->setCommand("PAUSE");  // a second pause resumes
  pump();
  EXPECT_EQ(dones, (std::vector<int>{1, 1, 1}));  // the play still runs
  finishPlay();
  EXPECT_EQ(dones.size(), 3u);
  pump();
  c->setCommand("PLAY");
  c->setCommand("STOP");
  s->errors["play"] = mci::err::Hardware;
  EXPECT_EQ(c->setCommand("PLAY"), mci::err::Hardware);
  pump();
  EXPECT_EQ(dones, (std::vector<int>{1, 1, 1, 1, 4, 1, 8}));
  EXPECT_EQ(offGui, 0);
}

TEST_F(Control, NothingOpenOrUnsupportedIsHarmless) {
  EXPECT_EQ(c->setCommand("CLOSE"), 0u);
  EXPECT_EQ(c->setCommand("PLAY"), mci::err::InvalidDeviceId);
  EXPECT_EQ(c->setCommand("FLY"), mci::err::UnrecognizedCommand);  // not a command: no Done
  c->setCommand("OPEN");
  for (const char* cmd : {"BACK", "RECORD", "EJECT"})
    EXPECT_EQ(c->setCommand(cmd), mci::err::UnsupportedFunction) << cmd;
  pump();
  EXPECT_EQ(dones, (std::vector<int>{1, 8, 1, 8, 8, 8}));
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
  c->setNotify(false);  // the end of a play still refreshes the bar
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
  EXPECT_TRUE(QTest::qWaitFor([&] { return !c->buttonEnabled(B::Play); }, 3000));
  EXPECT_EQ(enabled(), (std::vector<B>{B::Eject}));
  EXPECT_TRUE(dones.empty());
}

TEST_F(Control, HiddenButtonsLeaveAndTheRestCloseUpFromTheLeft) {
  c->resize(270, 33);
  for (B b : {B::Back, B::Step, B::Record, B::Eject}) c->setButtonVisible(b, false);
  c->show();
  std::vector<int> xs;
  for (const char* name : {"Prev", "Next", "Play", "Pause", "Stop"})
    xs.push_back(c->findChild<QToolButton*>(name)->x());
  EXPECT_EQ(xs, (std::vector<int>{0, 30, 60, 90, 120}));
  for (const char* name : {"Back", "Step", "Record", "Eject"})
    EXPECT_FALSE(c->findChild<QToolButton*>(name)->isVisible()) << name;
  // A click on a disabled or a hidden button does nothing.
  int clicks = 0;
  QObject::connect(c.get(), &MMControl::PlayClick, [&](int&) { ++clicks; });
  c->click(MMControl::Play);
  EXPECT_EQ(clicks, 0);
  c->setCommand("OPEN");
  c->click(MMControl::Eject);
  EXPECT_EQ(s->calls, (Calls{"open ", "format 0"}));
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
