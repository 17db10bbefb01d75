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

#include "app/forms.h"
#include "app/module1.h"
#include "cd/frmcdp.h"
#include "media/control/mmcontrol.h"
#include "midi/frmplimra.h"
#include "runtime/program.h"
#include "tests/support/fake_device.h"
#include "tests/support/scripted_msgbox.h"

// Texts and file contents in failure messages as text, not as arrays.
inline void PrintTo(const QString& text, std::ostream* os) {
  *os << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QByteArray& bytes, std::ostream* os) {
  *os << '"' << bytes.toStdString() << '"';
}

namespace rt = plimra::rt;
namespace mci = plimra::mci;
namespace Module1 = plimra::Module1;
using plimra::cd::FrmCDp;
using plimra::control::MMControl;
using plimra::midi::FrmPlimra;
using plimra::test::ScriptedFileDialog;
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

  // The same, ready to play one song after another in list order on port 1
  // ("USB MIDI 1" of the default outputs), with no reset song first.
  midi::FrmPlimra& startPlayer() {
    startMidiWindow();
    Module1::OptReset = "NON";
    Module1::OptSingle = false;
    Module1::OptRandom = false;
    Module1::OptContinue = true;
    window->lstPort->setListIndex(2);
    return *window;
  }

  // A double-click on the file at `index` of the MIDI window's list.
  void play(int index) {
    ASSERT_TRUE(window->File1->setListIndex(index));
    window->File1_DblClick();
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
  std::unique_ptr<midi::FrmPlimra> window;
  int ends = 0;
};

// A menu item as the user meets it: its entry in the window's menus, with
// the check mark drawn and the click that chooses it.
inline QAction* entry(const rt::MenuItem* item) {
  const QObject* window = item;
  while (window->parent()) window = window->parent();
  return window->findChild<QAction*>(item->objectName());
}
inline bool checked(const rt::MenuItem* item) { return entry(item)->isChecked(); }
inline void choose(const rt::MenuItem* item) { entry(item)->trigger(); }

// How often the timer ticks, in ms; 0 when it does not.
inline int tickEvery(const rt::Timer& timer) {
  const QTimer* ticker = timer.findChild<QTimer*>();
  return ticker && ticker->isActive() ? ticker->interval() : 0;
}

}  // namespace plimra::test

using plimra::test::checked;
using plimra::test::choose;
using plimra::test::tickEvery;
