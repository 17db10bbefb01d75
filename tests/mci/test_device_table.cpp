// The device table, its command strings and the MIDI output list, against a
// device that records what reaches it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "media/mci/device_table.h"
#include "media/mci/dispatch.h"
#include "media/mci/midiout.h"
#include "tests/support/fake_device.h"

using namespace plimra::mci;

namespace {

class DeviceTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    log->errors = {{"format 8", err::BadTimeFormat}, {"open missing.mid", err::FileNotFound}};
    plimra::test::FakeDevice::install("CDAudio", log);
    plimra::test::FakeDevice::install("Sequencer", log);
  }
  void TearDown() override {
    DeviceTable::instance().closeAll();
    runPostedTasks();
  }
  // With `codes`, the command asks for a notification, collected there.
  uint32_t send(const std::string& cmd, std::vector<NotifyCode>* codes = nullptr) {
    NotifyFn notify;
    if (codes) notify = [codes](NotifyCode c) { codes->push_back(c); };
    return DeviceTable::instance().sendString(cmd, reply, notify);
  }
  std::shared_ptr<plimra::test::DeviceLog> log = std::make_shared<plimra::test::DeviceLog>();
  std::string reply;
};

// A device named by its type opens on first use and serves every command
// (the replies' formats and the packing of times are checked against the
// real CD device); a file opens by its name or an alias, until closed.
TEST_F(DeviceTableTest, DevicesOpenByTypeOnFirstUseOrByFileAndCloseByNameOrAlias) {
  EXPECT_EQ(send("STATUS CDAUDIO MODE"), err::None);
  EXPECT_EQ(reply, "stopped");
  for (const char* cmd : {"set cdaudio time format tmsf", "play cdaudio from 01:02:03:04 to 5",
                          "seek cdaudio to start", "pause cdaudio"})
    EXPECT_EQ(send(cmd), err::None) << cmd;
  EXPECT_EQ(
      log->take(),
      (std::vector<std::string>{
          "open ", "format " + std::to_string(static_cast<int>(TimeFormat::Tmsf)),
          "play from " + std::to_string(makeTmsf(1, 2, 3, 4)) + " to 5", "seek start", "pause"}));

  // Opened by file, with an alias or with the type from the extension.
  EXPECT_EQ(send("open \"C:/songs/a b.mid\" type sequencer alias song"), err::None);
  const auto first = static_cast<uint16_t>(std::stoi(reply));
  EXPECT_NE(first, 0);
  EXPECT_EQ(log->calls.back(), "open C:/songs/a b.mid");
  EXPECT_EQ(send("open other.mid alias song"), err::DeviceOpen);
  EXPECT_EQ(send("open other.mid"), err::None);  // type from the extension
  EXPECT_NE(std::stoi(reply), first);
  EXPECT_EQ(send("open missing.mid"), err::FileNotFound);  // nothing left open
  EXPECT_EQ(DeviceTable::instance().findByName("missing.mid"), nullptr);
  EXPECT_EQ(send("open readme.txt"), err::InvalidDeviceName);
  EXPECT_EQ(send("close SONG"), err::None);
  EXPECT_EQ(DeviceTable::instance().find(first), nullptr);
  EXPECT_EQ(send("close song"), err::InvalidDeviceName);
  EXPECT_EQ(send("close all"), err::None);
  EXPECT_EQ(DeviceTable::instance().findByName("other.mid"), nullptr);
}

TEST_F(DeviceTableTest, BadCommandsGiveErrorsAndEmptyReplies) {
  const std::pair<const char*, uint32_t> cases[] = {
      {"   ", err::MissingCommandString},
      {"status", err::MissingDeviceName},
      {"status cdaudio", err::MissingParameter},
      {"status cdaudio colour", err::UnrecognizedKeyword},
      {"status cdaudio number of", err::UnrecognizedKeyword},
      {"status cdaudio mode track 2", err::FlagsNotCompatible},
      {"status cdaudio position extra", err::UnrecognizedKeyword},
      {"frobnicate cdaudio", err::UnrecognizedCommand},
      {"play cdaudio from", err::MissingParameter},
      {"play cdaudio from x", err::BadInteger},
      {"play cdaudio from 1::2", err::BadInteger},
      {"play cdaudio from 1:2:3:4:5", err::BadInteger},
      {"play cdaudio from 256:0", err::BadInteger},
      {"play cdaudio from 99999999999", err::BadInteger},
      {"play cdaudio from 1 from 2", err::DuplicateFlags},
      {"seek cdaudio to", err::MissingParameter},
      {"set cdaudio time format furlongs", err::BadTimeFormat},
      {"status \"cdaudio", err::NoClosingQuote},
      {"close dvd", err::InvalidDeviceName},
  };
  for (const auto& [text, error] : cases) {
    reply = "stale";
    EXPECT_EQ(send(text), error) << text;
    EXPECT_EQ(reply, "") << text;
  }
  EXPECT_EQ(send(std::string(5000, 'x')), err::ParamOverflow);
}

TEST_F(DeviceTableTest, NotificationsArriveOnceAndOnlyThroughTheQueue) {
  std::vector<NotifyCode> codes;
  EXPECT_EQ(send("play cdaudio notify", &codes), err::None);
  ASSERT_TRUE(log->pending);
  // The device finishes on a thread of its own, twice by mistake.
  std::thread([&] {
    log->pending(NotifySuccessful);
    log->pending(NotifyAborted);
  }).join();
  runPostedTasks();
  EXPECT_EQ(codes, std::vector<NotifyCode>{NotifySuccessful});
  // A command that was parsed reports its outcome; one that was not, nothing.
  codes.clear();
  EXPECT_EQ(send("stop cdaudio notify", &codes), err::None);
  EXPECT_EQ(send("status cdaudio bogus notify", &codes), err::UnrecognizedKeyword);
  EXPECT_EQ(send("set cdaudio time format bytes notify", &codes), err::BadTimeFormat);
  runPostedTasks();
  EXPECT_EQ(codes, (std::vector<NotifyCode>{NotifySuccessful, NotifyFailure}));
}

// The port and loop commands of a sequencer; other words are refused.
TEST_F(DeviceTableTest, PortCommandReachesTheOpenSequence) {
  auto& table = DeviceTable::instance();
  uint16_t id = 0;
  ASSERT_EQ(table.open("sequencer", "x.mid", "", id), err::None);
  EXPECT_EQ(table.setPort(0, 1), err::InvalidDeviceId);
  EXPECT_EQ(table.setPort(id, 2), err::None);
  EXPECT_EQ(send("set x.mid port mapper"), err::None);
  EXPECT_EQ(send("set x.mid port 3"), err::None);
  EXPECT_EQ(send("set x.mid port -1"), err::BadInteger);
  EXPECT_EQ(log->take({"port"}), (std::vector<std::string>{"port 2", "port -1", "port 3"}));
  EXPECT_EQ(send("set x.mid loop on"), err::None);
  EXPECT_EQ(send("set x.mid loop OFF"), err::None);
  EXPECT_EQ(send("set x.mid loop"), err::MissingParameter);
  EXPECT_EQ(send("set x.mid loop twice"), err::UnrecognizedKeyword);
  EXPECT_EQ(send("set x.mid loop on off"), err::UnrecognizedKeyword);
  EXPECT_EQ(log->take({"loop"}), (std::vector<std::string>{"loop on", "loop off"}));
}

TEST(MidiOut, DevicesFromMinusOneToCountMinusOneWithTheirWholeNames) {
  plimra::test::FakeMidiOuts::install({"Synth", "ポート一二三四五六七八九十一二三"});
  MidiOutCaps caps;
  EXPECT_EQ(midiOutGetNumDevs(), 2u);
  EXPECT_EQ(midiOutGetDevCaps(1, caps), err::None);
  EXPECT_EQ(caps.name, "ポート一二三四五六七八九十一二三");
  EXPECT_EQ(midiOutGetDevCaps(2, caps), err::InvalidDeviceId);
  EXPECT_EQ(midiOutGetDevCaps(-2, caps), err::InvalidDeviceId);
  setMidiOutCatalog(nullptr);
}

// A look that has answered lets the process end as main asked; one that
// never answers (a stale JACK server) neither holds the process up nor is
// left running under the static destructors: the process leaves at once
// and says why.
TEST(MidiOut, AProcessEndsWithALookAtThePortsLeftRunning) {
  const std::string err =
      (std::filesystem::temp_directory_path() / ("plimra-child-" + std::to_string(getpid())))
          .string();
  struct Case {
    const char* mode;
    int status;
    const char* said;
  };
  for (const Case& c :
       {Case{"answered", 3, ""},
        Case{"stuck", EXIT_FAILURE, "the look at the MIDI-OUT ports did not end"}}) {
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const char* argv[] = {PLIMRA_LISTING_CHILD, c.mode, nullptr};
    pid_t child = 0;
    ASSERT_EQ(posix_spawn(&child, argv[0], &fa, nullptr, const_cast<char**>(argv), environ), 0);
    posix_spawn_file_actions_destroy(&fa);
    // A process that waits for the look would sleep for an hour.
    int status = 0;
    pid_t ended = 0;
    for (int i = 0; i < 3000 && ended == 0; ++i) {
      ended = waitpid(child, &status, WNOHANG);
      if (ended == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (ended == 0) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      ADD_FAILURE() << c.mode << ": the process did not end";
      continue;
    }
    std::ostringstream said;
    said << std::ifstream(err).rdbuf();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == c.status)
        << c.mode << " " << status << " " << said.str();
    EXPECT_NE(said.str().find(c.said), std::string::npos) << c.mode << ": " << said.str();
  }
  std::filesystem::remove(err);
}

}  // namespace
