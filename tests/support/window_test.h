// Where every window test starts: the program in a temporary folder of its
// own, run from a music folder inside it, a recording "Sequencer", the MIDI
// outputs the test names and an end of program that only counts. The
// windows, devices and outputs go again after each test. Also the short
// names every window test uses.
#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <memory>

#include "app/forms.h"
#include "app/module1.h"
#include "cd/frmcdp.h"
#include "media/control/mmcontrol.h"
#include "midi/frmplimra.h"
#include "runtime/program.h"
#include "tests/support/fake_device.h"
#include "tests/support/scripted_msgbox.h"

namespace rt = plimra::rt;
namespace mci = plimra::mci;
namespace Module1 = plimra::Module1;
using plimra::cd::FrmCDp;
using plimra::control::MMControl;
using plimra::midi::FrmPlimra;
using plimra::test::ScriptedMsgBox;

namespace plimra::test {

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root.isValid());
    music = QDir::cleanPath(root.filePath("music"));
    ASSERT_TRUE(QDir().mkpath(music));
    oldCwd = QDir::currentPath();
    QDir::setCurrent(music);
    rt::setAppPath(root.path());
    outputs = FakeMidiOuts::install({"Built-in synthesizer", "USB MIDI 1"});
    FakeDevice::install("Sequencer", sequencer);
    rt::setEndHandler([this] { ++ends; });
  }

  void TearDown() override {
    window.reset();
    app::destroyForms();
    mci::DeviceTable::instance().closeAll();
    mci::setMidiOutCatalog(nullptr);
    rt::setEndHandler({});
    rt::setAppPath({});
    QDir::setCurrent(oldCwd);
  }

  // A MIDI window of the test's own, loaded and shown.
  midi::FrmPlimra& startMidiWindow() {
    window = std::make_unique<midi::FrmPlimra>();
    window->Load();
    window->Show();
    return *window;
  }

  QTemporaryDir root;
  QString music, oldCwd;
  std::shared_ptr<DeviceLog> sequencer = std::make_shared<DeviceLog>();
  std::shared_ptr<FakeMidiOuts> outputs;
  std::unique_ptr<midi::FrmPlimra> window;
  int ends = 0;
};

}  // namespace plimra::test
