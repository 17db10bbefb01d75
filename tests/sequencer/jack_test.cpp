// A song sent to a MIDI-OUT port arrives byte for byte. The port is a JACK
// MIDI input of this test, on a private JACK server with the dummy backend.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <rtmidi/RtMidi.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

#include "media/mci/dispatch.h"
#include "media/sequencer/port_output.h"
#include "media/sequencer/sequencer_device.h"
#include "song_builder.h"

extern char** environ;

namespace plimra::seq {
namespace {

using Bytes = std::vector<uint8_t>;

class JackServer {
 public:
  JackServer() : name_("plimra-seq-test-" + std::to_string(getpid())) {
    setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
    const char* argv[] = {"jackd", "-n",    name_.c_str(), "-d",  "dummy",
                          "-r",    "44100", "-p",          "256", nullptr};
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    if (posix_spawnp(&pid_, "jackd", &fa, nullptr, const_cast<char**>(argv), environ) != 0)
      pid_ = 0;
    posix_spawn_file_actions_destroy(&fa);
  }
  ~JackServer() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  bool started() const { return pid_ > 0; }

 private:
  std::string name_;
  pid_t pid_ = 0;
};

class Reader {
 public:
  // Waits for the server, then offers an input port "reader:in".
  bool open() {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < limit) {
      try {
        in_ = std::make_unique<RtMidiIn>(RtMidi::UNIX_JACK, "reader");
        in_->ignoreTypes(false, false, false);
        in_->setCallback(&Reader::received, this);
        in_->openVirtualPort("in");
        return true;
      } catch (const RtMidiError&) {
        in_.reset();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    }
    return false;
  }
  std::vector<Bytes> messages() {
    std::lock_guard lk(mutex_);
    return messages_;
  }

 private:
  static void received(double, std::vector<unsigned char>* m, void* self) {
    auto* r = static_cast<Reader*>(self);
    std::lock_guard lk(r->mutex_);
    r->messages_.emplace_back(m->begin(), m->end());
  }
  std::unique_ptr<RtMidiIn> in_;
  std::mutex mutex_;
  std::vector<Bytes> messages_;
};

TEST(JackPort, SongArrivesByteForByte) {
  JackServer server;
  ASSERT_TRUE(server.started()) << "jackd could not be started";
  Reader reader;
  ASSERT_TRUE(reader.open()) << "no JACK server came up";

  // With no ALSA sequencer here, the list comes from JACK.
  const auto names = systemOutputs()->outputNames();
  auto it = std::find(names.begin(), names.end(), "reader:in");
  ASSERT_NE(it, names.end());
  EXPECT_EQ(names[0], kBuiltinSynthName);

  test::TrackBuilder t;
  t.at(0, {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}).at(0, {0xC0, 19}).at(0, {0x90, 60, 90});
  t.at(48, {0xB0, 7, 100}).at(96, {0x80, 60, 0}).at(96, {0xE0, 0x00, 0x50});
  t.at(96, {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7});
  t.at(144, {0x90, 64, 1}).at(192, {0x80, 64, 64});
  const std::vector<Bytes> expected = {
      {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7},
      {0xC0, 19},
      {0x90, 60, 90},
      {0xB0, 7, 100},
      {0x80, 60, 0},
      {0xE0, 0x00, 0x50},
      {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7},
      {0x90, 64, 1},
      {0x80, 64, 64},
  };
  const std::string path = test::writeTemp("jack.mid", test::smfFile(0, 96, {t.finish(200)}));

  SequencerDevice dev(systemOutputs());
  ASSERT_EQ(dev.open(path), mci::err::None) << dev.lastError();
  ASSERT_EQ(dev.setPort(static_cast<int32_t>(it - names.begin())), mci::err::None)
      << dev.lastError();
  bool done = false;
  dev.play({}, [&](mci::NotifyCode c) { done = c == mci::NotifySuccessful; });
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done && std::chrono::steady_clock::now() < limit) mci::waitAndRunPostedTasks(100);
  ASSERT_TRUE(done);
  // JACK hands MIDI on once per period.
  while (reader.messages().size() < expected.size() && std::chrono::steady_clock::now() < limit)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(reader.messages(), expected);

  // Close silences the port.
  dev.close();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const auto all = reader.messages();
  ASSERT_EQ(all.size(), expected.size() + 48);
  EXPECT_EQ(all[expected.size()], (Bytes{0xB0, 123, 0}));
  EXPECT_EQ(all.back(), (Bytes{0xBF, 64, 0}));
}

}  // namespace
}  // namespace plimra::seq
