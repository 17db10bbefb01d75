// Where every window test starts: the program in a temporary folder of its
// own, run from a music folder inside it, a recording "Sequencer", the MIDI
// outputs the test names and an end of program that only counts. The
// windows, devices and outputs go again after each test. Also the short
// names and the steps the window tests share: starting the MIDI window, a
// double-click on a song, handling events until something holds, plimra.ini.
#pragma once

#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>
#include <ostream>

#include "media/control/mmcontrol.h"
#include "media/sequencer/register.h"
#include "platform/program.h"
#include "tests/support/fake_device.h"
#include "tests/support/scripted_msgbox.h"
#include "ui/cd_window.h"
#include "ui/midi_window.h"
#include "ui/options.h"
#include "ui/saved_settings.h"
#include "ui/windows.h"

// Texts and file contents in failure messages as text, not as arrays.
inline void PrintTo(const QString& text, std::ostream* os) {
  *os << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QByteArray& bytes, std::ostream* os) {
  *os << '"' << bytes.toStdString() << '"';
}

namespace kit = plimra::kit;
namespace platform = plimra::platform;
namespace mci = plimra::mci;
using plimra::ui::options;
using Flag = plimra::ui::Options::Flag;
using plimra::control::MMControl;
using plimra::test::ScriptedFileDialog;
using plimra::test::ScriptedMsgBox;
using plimra::ui::CdWindow;
using plimra::ui::MidiWindow;

namespace plimra::test {

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root.isValid());
    music = QDir::cleanPath(root.filePath("music"));
    ASSERT_TRUE(QDir().mkpath(music));
    oldCwd = QDir::currentPath();
    QDir::setCurrent(music);
    platform::setAppPath(root.path());
    // The real synthesizer's settings; the sequencer and outputs are fakes.
    plimra::seq::registerSequencer();
    outputs = FakeMidiOuts::install({"Built-in synthesizer", "USB MIDI 1"});
    FakeDevice::install("Sequencer", sequencer);
    platform::setEndHandler([this] { ++ends; });
  }

  void TearDown() override {
    window.reset();
    ui::destroyWindows();
    mci::DeviceTable::instance().closeAll();
    mci::setMidiOutCatalog(nullptr);
    platform::setEndHandler({});
    platform::setAppPath({});
    QDir::setCurrent(oldCwd);
  }

  // A MIDI window of the test's own, loaded and shown, with its port list
  // come (the window does not wait for it) unless told otherwise.
  ui::MidiWindow& startMidiWindow(bool portsListed = true) {
    window = std::make_unique<ui::MidiWindow>();
    window->Load();
    window->Show();
    if (portsListed) {
      EXPECT_TRUE(waitUntil([this] { return window->portList->ListCount() > 0; }));
    }
    return *window;
  }

  // The same, ready to play one song after another in list order on port 1
  // ("USB MIDI 1" of the default outputs), with no reset song first.
  ui::MidiWindow& startPlayer() {
    startMidiWindow();
    options().setReset("NON");
    options().setFlag(Flag::Single, false);
    options().setFlag(Flag::Random, false);
    options().setFlag(Flag::InOrder, true);
    window->portList->setListIndex(2);
    return *window;
  }

  // A double-click on the file at `index` of the MIDI window's list, and the
  // events until the start is over: until the reset song has ended (or the
  // start was taken over or closed) and the caption no longer asks to wait.
  void play(int index) {
    ASSERT_TRUE(window->fileList->setListIndex(index));
    window->onFileActivated();
    ASSERT_TRUE(waitUntil([this] { return !window->windowTitle().endsWith(" (お待ち下さい)"); }));
  }

  // Handles the events pending now, then whatever comes for `ms` more.
  static void pump(int ms = 0) {
    QElapsedTimer t;
    t.start();
    do {
      QCoreApplication::sendPostedEvents();
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    } while (t.elapsed() < ms);
  }

  // Handles events until `done` holds, for `limitMs` at the most; whether
  // it held.
  static bool waitUntil(const std::function<bool()>& done, int limitMs = 5000) {
    return QTest::qWaitFor(done, limitMs);
  }

  static QStringList entries(const QListWidget* list) {
    QStringList out;
    for (int i = 0; i < list->count(); ++i) out << list->item(i)->text();
    return out;
  }

  // The program's plimra.ini.
  QString iniPath() const { return root.filePath("plimra.ini"); }
  void writeIni(const QByteArray& text) const {
    QFile f(iniPath());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
  }
  QByteArray readIni() const {
    QFile f(iniPath());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<none>");
  }

  QTemporaryDir root;
  QString music, oldCwd;
  std::shared_ptr<DeviceLog> sequencer = std::make_shared<DeviceLog>();
  std::shared_ptr<FakeMidiOuts> outputs;
  std::unique_ptr<ui::MidiWindow> window;
  int ends = 0;
};

// A menu item as the user meets it: its entry in the window's menus, with
// the check mark drawn and the click that chooses it.
inline QAction* entry(const kit::MenuItem* item) {
  const QObject* window = item;
  while (window->parent()) window = window->parent();
  return window->findChild<QAction*>(item->objectName());
}
inline bool checked(const kit::MenuItem* item) { return entry(item)->isChecked(); }
inline void choose(const kit::MenuItem* item) { entry(item)->trigger(); }

// How often the timer ticks, in ms; 0 when it does not.
inline int tickEvery(const kit::Timer& timer) {
  const QTimer* ticker = timer.findChild<QTimer*>();
  return ticker && ticker->isActive() ? ticker->interval() : 0;
}

}  // namespace plimra::test

using plimra::test::checked;
using plimra::test::choose;
using plimra::test::tickEvery;
