// Switching between the two player windows through the program-wide
// instances: one window shown at a time, each where the other was, and the
// shared options' check marks kept equal in both.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>
#include <memory>

#include "app/forms.h"
#include "app/module1.h"
#include "cd/frmcdp.h"
#include "media/control/mmcontrol.h"
#include "media/mci/midiout.h"
#include "midi/frmplimra.h"
#include "runtime/msgbox.h"
#include "runtime/program.h"
#include "tests/cd/fake_disc.h"

namespace {

namespace rt = plimra::rt;
namespace mci = plimra::mci;
namespace Module1 = plimra::Module1;
using plimra::app::frmCDp;
using plimra::app::frmPlimra;

class NoOutputs : public mci::MidiOutCatalog {
 public:
  std::vector<std::string> outputNames() override { return {}; }
};

// A sequencer that only plays and says whether it is still open.
struct Song {
  bool open = false;
  bool playing = false;
};

class FakeSequencer : public mci::Device {
 public:
  explicit FakeSequencer(std::shared_ptr<Song> s) : s_(std::move(s)) {}
  uint32_t open(const std::string&) override {
    s_->open = true;
    return mci::err::None;
  }
  uint32_t close() override {
    s_->open = s_->playing = false;
    return mci::err::None;
  }
  uint32_t play(const mci::PlayParams&, mci::NotifyFn) override {
    s_->playing = true;
    return mci::err::None;
  }
  uint32_t stop() override {
    s_->playing = false;
    return mci::err::None;
  }
  uint32_t pause() override { return stop(); }
  uint32_t resume() override { return play({}, {}); }
  uint32_t seek(const mci::SeekParams&) override { return stop(); }
  uint32_t status(const mci::StatusParams& p, mci::StatusValue& out) override {
    out.kind = mci::StatusValue::Kind::Mode;
    out.value = p.item != mci::StatusItem::Mode ? 0
                : s_->playing                   ? mci::ModePlaying
                                                : mci::ModeStopped;
    return mci::err::None;
  }
  uint32_t setTimeFormat(mci::TimeFormat) override { return mci::err::None; }

 private:
  std::shared_ptr<Song> s_;
};

class Switching : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder.isValid());
    rt::setAppPathForTests(folder.path());
    mci::setMidiOutCatalog(std::make_shared<NoOutputs>());
    mci::DeviceTable::instance().registerType(
        "Sequencer", [s = song] { return std::make_unique<FakeSequencer>(s); });
    cdtest::registerFakeCd(disc);
    Module1::OptChange = true;
    Module1::OptMin = false;
    frmPlimra()->Show();
    frmPlimra()->Move(1500, 1200);
  }
  void TearDown() override {
    plimra::app::destroyFormsForTests();
    mci::DeviceTable::instance().resetForTests();
    mci::setMidiOutCatalog(nullptr);
    rt::setAppPathForTests({});
  }
  // A song playing in the MIDI window.
  void playSong() {
    plimra::control::MMControl* c = frmPlimra()->MMControl1;
    c->setFileName(folder.filePath("song.mid"));
    c->setCommand("OPEN");
    c->setCommand("PLAY");
    ASSERT_TRUE(song->playing);
  }

  QTemporaryDir folder;
  std::shared_ptr<Song> song = std::make_shared<Song>();
  std::shared_ptr<cdtest::Disc> disc = std::make_shared<cdtest::Disc>();
};

TEST_F(Switching, ToTheCdPlayerAndBack) {
  playSong();
  frmPlimra()->mnuCDP->trigger();
  EXPECT_FALSE(song->open);  // the option to stop on switching is on
  EXPECT_TRUE(frmPlimra()->isHidden());
  EXPECT_TRUE(frmCDp()->isVisible());
  EXPECT_EQ(frmCDp()->Left(), frmPlimra()->Left());
  EXPECT_EQ(frmCDp()->Top(), frmPlimra()->Top());
  EXPECT_TRUE(frmCDp()->Timer1.ticking());

  frmCDp()->Move(3000, 2250);
  frmCDp()->mnuMIDI->trigger();
  EXPECT_TRUE(frmCDp()->isHidden());
  EXPECT_TRUE(frmPlimra()->isVisible());
  EXPECT_EQ(frmPlimra()->Left(), frmCDp()->Left());
  EXPECT_EQ(frmPlimra()->Top(), frmCDp()->Top());
}

TEST_F(Switching, WithTheOptionOffTheSongPlaysOn) {
  frmCDp()->mnuChange->trigger();
  EXPECT_FALSE(Module1::OptChange);
  EXPECT_FALSE(frmPlimra()->mnuChange->Checked());
  playSong();
  frmPlimra()->mnuCDP->trigger();
  EXPECT_TRUE(song->playing);
  EXPECT_TRUE(frmCDp()->isVisible());
}

TEST_F(Switching, NoDiscAndCancelGoesBackWhereTheCdWindowWas) {
  disc->remove();
  rt::ScriptedMsgBox boxes({rt::vbCancel});
  frmPlimra()->mnuCDP->trigger();
  ASSERT_EQ(boxes.asked().size(), 1u);
  EXPECT_TRUE(frmCDp()->isHidden());
  EXPECT_TRUE(frmPlimra()->isVisible());
  EXPECT_EQ(frmPlimra()->Left(), frmCDp()->Left());
  EXPECT_EQ(frmPlimra()->Top(), frmCDp()->Top());
}

TEST_F(Switching, OptionMarksAgreeInBothWindows) {
  EXPECT_TRUE(frmCDp()->mnuChange->Checked());  // set by the MIDI window's start-up
  frmCDp()->mnuMin->trigger();
  EXPECT_TRUE(Module1::OptMin);
  EXPECT_TRUE(frmPlimra()->mnuMin->Checked());
  EXPECT_TRUE(frmCDp()->mnuMin->Checked());
  frmCDp()->mnuChange->trigger();
  EXPECT_FALSE(frmPlimra()->mnuChange->Checked());
  EXPECT_FALSE(frmCDp()->mnuChange->Checked());
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
