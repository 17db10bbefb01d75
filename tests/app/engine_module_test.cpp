// The program's way to its engines module: what waits for it, what opens
// it, and what a module that cannot be used leaves the user.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <mutex>
#include <string>
#include <vector>

#include "app/engine_module.h"
#include "media/mci/device_table.h"
#include "media/mci/midiout.h"
#include "media/mci/mci.h"
#include "media/mci/synthesizer.h"
#include "tests/support/scripted_msgbox.h"

namespace {

std::mutex notesMutex;
std::vector<std::string> notes;

std::vector<std::string> noted() {
  std::lock_guard lock(notesMutex);
  return notes;
}

using namespace plimra;

void install(const char* kind) {
  // The first folder has no module; the second is looked in next.
  app::installEngines({QStringLiteral(TEST_ENGINES_DIR "/none"),
                       QStringLiteral(TEST_ENGINES_DIR "/") + QLatin1String(kind)});
}

}  // namespace

extern "C" __attribute__((visibility("default"))) void test_engines_note(const char* what) {
  std::lock_guard lock(notesMutex);
  notes.emplace_back(what);
}

// The saved SoundFont is asked for before the window shows: the module is
// not opened for it, and the request reaches the module before the device
// that a song opens it for.
TEST(EngineModule, SoundFontAskedBeforeTheModuleOpensGoesFirst) {
  install("good");
  std::vector<mci::SoundFontResult> results;
  mci::synthesizer()->useSoundFont("saved.sf2",
                                   [&](const mci::SoundFontResult& r) { results.push_back(r); });
  QTest::qWait(100);
  EXPECT_TRUE(noted().empty());
  uint16_t id = 0;
  EXPECT_EQ(mci::DeviceTable::instance().open("Sequencer", "", "", id),
            mci::err::CannotLoadDriver);  // this module makes no devices
  EXPECT_EQ(noted(), (std::vector<std::string>{"useSoundFont saved.sf2", "makeSequencer"}));
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].path, "saved.sf2");
  EXPECT_EQ(mci::synthesizer()->noSoundReason(), "silent here");
}

// The look at the ports the window starts before it shows leaves the
// opening to the shown window; it waits a second at most, then opens the
// module itself.
TEST(EngineModule, ThePortLookWaitsForTheWindowsOpeningAndOpensItAfterASecond) {
  install("good");
  auto listing = mci::MidiOutListing::start();
  EXPECT_FALSE(listing->waitFor(std::chrono::milliseconds(300)));
  EXPECT_TRUE(noted().empty());
  EXPECT_TRUE(listing->waitFor(std::chrono::seconds(5)));
  EXPECT_EQ(listing->names(), (std::vector<std::string>{"MIDI Mapper", "Synth", "Port 1"}));

  // Opened in the background once the window shows: the next look does not
  // wait.
  app::openEnginesInBackground();
  auto again = mci::MidiOutListing::start();
  EXPECT_TRUE(again->waitFor(std::chrono::milliseconds(500)));
  EXPECT_EQ(noted(), (std::vector<std::string>{"outputNames", "outputNames"}));
}

// A module of another build is not used: the user is told once, songs
// cannot open, the silence is explained, a saved SoundFont is not lost
// silently.
TEST(EngineModule, AModuleOfAnotherBuildIsNamedAndNothingOfItIsUsed) {
  test::ScriptedMsgBox boxes;
  install("other");
  app::openEnginesInBackground();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes.asked().empty(); }, 5000));
  EXPECT_TRUE(boxes.asked()[0].prompt.contains(QStringLiteral("another build")));
  EXPECT_TRUE(boxes.asked()[0].prompt.contains(QStringLiteral(TEST_ENGINES_DIR "/other/")));
  uint16_t id = 0;
  EXPECT_EQ(mci::DeviceTable::instance().open("Sequencer", "", "", id),
            mci::err::CannotLoadDriver);
  EXPECT_NE(mci::synthesizer()->noSoundReason().find("another build"), std::string::npos);
  std::vector<mci::SoundFontResult> results;
  mci::synthesizer()->useSoundFont("saved.sf2",
                                   [&](const mci::SoundFontResult& r) { results.push_back(r); });
  ASSERT_TRUE(QTest::qWaitFor([&] { return !results.empty(); }, 5000));
  EXPECT_NE(results[0].error.find("another build"), std::string::npos);
  EXPECT_TRUE(noted().empty());
  EXPECT_EQ(boxes.asked().size(), 1u);
}

// A FIFO where the module should be is not opened: that would wait for a
// writer for ever, and a song started early waits for the opening.
TEST(EngineModule, AFifoInItsPlaceIsNotOpened) {
  test::ScriptedMsgBox boxes;
  QTemporaryDir dir;
  ASSERT_EQ(mkfifo(QFile::encodeName(dir.filePath("plimra-engines.so")).constData(), 0600), 0);
  app::installEngines({dir.path()});
  uint16_t id = 0;
  EXPECT_EQ(mci::DeviceTable::instance().open("Sequencer", "", "", id),
            mci::err::CannotLoadDriver);
  EXPECT_NE(mci::synthesizer()->noSoundReason().find("not a file"), std::string::npos);
}
