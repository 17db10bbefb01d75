// Songs sent to a MIDI-OUT port arrive byte for byte. The port is a JACK
// MIDI input of this test, on a private JACK server with the dummy backend.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "media/mci/dispatch.h"
#include "media/sequencer/port_output.h"
#include "media/sequencer/sequencer_device.h"
#include "tests/support/midi_file.h"

extern char** environ;

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_ignore_thread_begin();
extern "C" void __tsan_ignore_thread_end();
#endif

namespace plimra::seq {
namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

pid_t spawn(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ) != 0) pid = 0;
  posix_spawn_file_actions_destroy(&fa);
  return pid;
}

// A JACK MIDI input "reader:in". Its process callback only copies bytes
// into a queue made beforehand: a reader that locks or allocates there can
// run past its period and read a buffer the sender is already refilling.
class Reader {
 public:
  ~Reader() {
    close();
    if (ring_) jack_ringbuffer_free(ring_);
  }
  // Waits for the server, then offers the port.
  bool open() {
    ring_ = jack_ringbuffer_create(4 << 20);
    for (int attempt = 0; attempt < 100 && !client_; ++attempt) {
      if (attempt) std::this_thread::sleep_for(std::chrono::milliseconds(100));
      client_ = jack_client_open("reader", JackNoStartServer, nullptr);
    }
    if (!client_) return false;
    port_ = jack_port_register(client_, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    jack_set_process_callback(client_, &Reader::process, this);
    return port_ && jack_activate(client_) == 0;
  }
  void close() {
    if (client_) jack_client_close(client_);
    client_ = nullptr;
  }
  // What has arrived once `count` messages have, or `limit` has passed.
  std::vector<Bytes>& waitFor(size_t count, std::chrono::seconds limit) {
    const auto until = Clock::now() + limit;
    for (;;) {
      uint32_t size = 0;
      while (jack_ringbuffer_read_space(ring_) >= sizeof size) {
        jack_ringbuffer_read(ring_, reinterpret_cast<char*>(&size), sizeof size);
        Bytes m(size);
        jack_ringbuffer_read(ring_, reinterpret_cast<char*>(m.data()), size);
        messages_.push_back(std::move(m));
      }
      if (messages_.size() >= count || Clock::now() >= until) return messages_;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

 private:
  static int process(jack_nframes_t frames, void* arg) {
#if defined(__SANITIZE_THREAD__)
    // The server runs the sender's period before this one and hands the
    // port's bytes over through memory and futexes it shares with both
    // clients, which ThreadSanitizer cannot see: what this callback reads
    // and writes is left out of its checks. (Our sender's side is checked.)
    struct Unchecked {
      Unchecked() { __tsan_ignore_thread_begin(); }
      ~Unchecked() { __tsan_ignore_thread_end(); }
    } unchecked;
#endif
    auto* self = static_cast<Reader*>(arg);
    void* buffer = jack_port_get_buffer(self->port_, frames);
    const uint32_t n = jack_midi_get_event_count(buffer);
    for (uint32_t i = 0; i < n; ++i) {
      jack_midi_event_t e;
      // A message lost here is missing from what the test compares.
      if (jack_midi_event_get(&e, buffer, i) != 0) continue;
      const uint32_t size = static_cast<uint32_t>(e.size);
      if (jack_ringbuffer_write_space(self->ring_) < sizeof size + size) continue;
      jack_ringbuffer_write(self->ring_, reinterpret_cast<const char*>(&size), sizeof size);
      jack_ringbuffer_write(self->ring_, reinterpret_cast<const char*>(e.buffer), size);
    }
    return 0;
  }
  jack_client_t* client_ = nullptr;
  jack_port_t* port_ = nullptr;
  jack_ringbuffer_t* ring_ = nullptr;
  std::vector<Bytes> messages_;
};

// A private server in synchronous mode (a client that runs late holds the
// cycle up instead of having the next cycle rewrite the buffers it still
// reads) and the reader's port on it, for the whole test.
class JackPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string name = "plimra-seq-test-" + std::to_string(getpid());
    setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
    server_ = spawn({"jackd", "-S", "-n", name, "-d", "dummy", "-r", "44100", "-p", "256"});
    ASSERT_GT(server_, 0) << "jackd could not be started";
    ASSERT_TRUE(reader.open()) << "no JACK server came up";
  }
  void TearDown() override {
    reader.close();
    if (server_ > 0) {
      kill(server_, SIGTERM);
      waitpid(server_, nullptr, 0);
    }
  }
  Reader reader;
  pid_t server_ = 0;
};

// Thousands of messages, hundreds at the same instant, SysEx of many
// lengths among them: far more than one JACK period can carry at once. All
// arrive whole and in order; a stop then ends the three notes still held,
// each with a note-off, before it silences every channel. A program that
// closes its song and ends at once still sends all that: notes held on
// both ports of a two-port song share the port's channels, and each key
// gets one note-off.
TEST_F(JackPortTest, SongsArriveWholeAndInOrderAndTheSilenceFollows) {
  test::Track t;
  std::vector<Bytes> expected;
  for (uint32_t i = 0; i < 6000; ++i) {
    const uint8_t ch = i % 16;
    const uint8_t d = (i * 37) % 128;
    Bytes m;
    if (i % 2 == 1) {
      m = {0xF0, 0x41, 0x10, 0x42, 0x12};
      m.insert(m.end(), 1 + (i * 7919) % 500, d);
      m.push_back(0xF7);
    } else if (i % 4 == 2) {
      m = {uint8_t(0xC0 | ch), d};
    } else {
      m = {uint8_t(0x80 | ch), d, uint8_t(1 + d % 127)};
    }
    t.at(i / 500 * 12, m);
    expected.push_back(m);
  }
  const std::vector<Bytes> held = {{0x90, 60, 100}, {0x93, 64, 100}, {0x99, 36, 100}};
  for (const Bytes& m : held) t.at(200, m);
  expected.insert(expected.end(), held.begin(), held.end());
  // With no ALSA sequencer here, the port list comes from JACK.
  const auto names = systemOutputs()->outputNames();
  EXPECT_EQ(names.at(0), kBuiltinSynthName);
  const auto port = std::find(names.begin(), names.end(), "reader:in");
  ASSERT_NE(port, names.end());
  SequencerDevice dev(systemOutputs());
  ASSERT_EQ(dev.open(test::writeTemp("burst.mid", test::smf(0, 96, {t.finish(300)}))),
            mci::err::None);
  ASSERT_EQ(dev.setPort(int32_t(port - names.begin())), mci::err::None) << dev.lastError();
  bool done = false;
  dev.play({}, [&](mci::NotifyCode c) { done = c == mci::NotifySuccessful; });
  const auto limit = Clock::now() + std::chrono::seconds(20);
  while (!done && Clock::now() < limit) mci::waitAndRunPostedTasks(50);
  ASSERT_TRUE(done);
  dev.stop();
  expected.insert(expected.end(), {{0x80, 60, 64}, {0x83, 64, 64}, {0x89, 36, 64}});
  for (auto& m : test::closingSilence()) expected.push_back(m);
  auto& got = reader.waitFor(expected.size(), std::chrono::seconds(10));
  ASSERT_EQ(got.size(), expected.size());
  for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], expected[i]) << "message " << i;

  got.clear();
  test::Track a, b;
  a.at(0, {0x90, 60, 100}).at(0, {0x90, 67, 100}).at(96000, {0x80, 60, 0});
  b.at(0, {0xFF, 0x21, 0x01, 0x01}).at(0, {0x90, 60, 90}).at(0, {0x91, 64, 80});
  const std::string path =
      test::writeTemp("long.mid", test::smf(1, 96, {a.finish(96000), b.finish(96000)}));
  const pid_t child = spawn({PLIMRA_EXIT_CHILD, path, "reader:in"});
  ASSERT_GT(child, 0);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  expected = {{0x90, 60, 100}, {0x90, 67, 100}, {0x90, 60, 90}, {0x91, 64, 80},
              {0x80, 60, 64},  {0x80, 67, 64},  {0x81, 64, 64}};
  for (auto& m : test::closingSilence()) expected.push_back(m);
  EXPECT_EQ(reader.waitFor(expected.size(), std::chrono::seconds(2)), expected);
}

}  // namespace
}  // namespace plimra::seq
