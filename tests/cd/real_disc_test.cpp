// The CD window on the real CD audio device, playing a generated disc image
// in real time through a silent audio output.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <filesystem>

#include "app/forms.h"
#include "app/module1.h"
#include "cd/frmcdp.h"
#include "media/cdaudio/register.h"
#include "media/control/mmcontrol.h"
#include "media/mci/device_table.h"
#include "runtime/program.h"
#include "tests/support/scripted_msgbox.h"
#include "tools/mkdisc/disc_image.h"

namespace {

namespace fs = std::filesystem;
namespace rt = plimra::rt;
using plimra::cd::FrmCDp;
using plimra::cd::kHighlightColor;
using plimra::cd::kPlainColor;

class RealDisc : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("plimra-cdwin-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string cue = (dir / "disc.cue").string();
    plimra::mkdisc::DiscSpec layout;
    // Twelve tracks of a second each; the last two play for two seconds.
    layout.tracks.assign(12, plimra::mkdisc::TrackSpec{75, false, 0});
    ASSERT_EQ(plimra::mkdisc::writeDisc(cue, layout), "");
    setenv("PLIMRA_CDROM", cue.c_str(), 1);
    plimra::cdaudio::registerCdAudio();
    rt::setAppPath(QString::fromStdString(dir.string()));
    plimra::Module1::OptChange = true;  // the switch back closes the disc
    cd = plimra::app::frmCDp();
  }
  void TearDown() override {
    plimra::app::destroyForms();
    plimra::mci::DeviceTable::instance().closeAll();
    rt::setAppPath({});
    fs::remove_all(dir);
  }

  // Runs the event loop, and with it the window's own poll, until `done`
  // holds or the time runs out.
  template <typename F>
  bool waitFor(F done, int ms = 5000) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
      if (done()) return true;
      QThread::msleep(10);
    }
    return false;
  }
  bool lit(int track) const { return cd->TrackSet[track - 1]->BackColor() == kHighlightColor; }

  fs::path dir;
  FrmCDp* cd = nullptr;
};

TEST_F(RealDisc, ReadPlayedAcrossATrackAndRewoundAtTheEnd) {
  plimra::test::ScriptedMsgBox boxes;
  cd->Show();
  ASSERT_TRUE(boxes.asked().empty()) << boxes.asked()[0].prompt.toStdString();
  ASSERT_TRUE(waitFor([&] { return !cd->Info2->Caption().isEmpty(); }));
  int shown = 0;
  for (int i = 0; i < 20; ++i) shown += !cd->TrackSet[i]->isHidden();
  EXPECT_EQ(shown, 12);
  EXPECT_EQ(cd->Info1->Caption(), "00:12");
  EXPECT_EQ(cd->Info2->Caption(), "Stop 01-00:00");

  cd->TrackSet_Click(10);
  ASSERT_TRUE(waitFor([&] { return cd->Info2->Caption().startsWith("Play 11-"); }))
      << cd->Info2->Caption().toStdString();
  EXPECT_TRUE(lit(11));
  ASSERT_TRUE(waitFor([&] { return cd->Info2->Caption().startsWith("Play 12-"); }));
  EXPECT_TRUE(lit(11));
  EXPECT_TRUE(lit(12));

  ASSERT_TRUE(waitFor([&] { return cd->PlayState == 1; }));
  EXPECT_EQ(cd->Info2->Caption(), "Stop 01-00:00");
  for (int i = 0; i < 20; ++i) EXPECT_EQ(cd->TrackSet[i]->BackColor(), kPlainColor) << i;

  // Back to the MIDI window: the device is stopped and closed.
  cd->mnuMidi_click();
  EXPECT_EQ(cd->MMControl1->Mode(), 0);
  EXPECT_EQ(plimra::mci::DeviceTable::instance().findByName("cdaudio"), nullptr);
}

}  // namespace
