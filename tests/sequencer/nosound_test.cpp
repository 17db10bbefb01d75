// With no audio device at all, or no SoundFont it can load, the built-in
// synthesizer still keeps time: songs end when they should, silently, and
// one message says why.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "media/audio/audio_output.h"

#include "media/mci/dispatch.h"
#include "media/sequencer/register.h"
#include "media/sequencer/sequencer_device.h"
#include "tests/support/midi_file.h"

namespace plimra::seq {
namespace {

TEST(NoSound, SongsKeepTimeSilently) {
  test::Track t;
  t.at(0, {0x90, 60, 100}).at(480, {0x80, 60, 0});
  const std::string path = test::writeTemp("quiet.mid", test::smf(0, 480, {t.finish(480)}));
  SequencerDevice dev(systemOutputs());
  ASSERT_EQ(dev.open(path), mci::err::None);
  bool done = false;
  const auto start = std::chrono::steady_clock::now();
  dev.play({}, [&](mci::NotifyCode c) { done = c == mci::NotifySuccessful; });
  while (!done && std::chrono::steady_clock::now() - start < std::chrono::seconds(5))
    mci::waitAndRunPostedTasks(20);
  const auto took = std::chrono::steady_clock::now() - start;
  ASSERT_TRUE(done);
  // 500 ms of song at real-time pace.
  EXPECT_GE(took, std::chrono::milliseconds(450));
  EXPECT_LT(took, std::chrono::milliseconds(1500));
  EXPECT_FALSE(noSoundReason().empty());
}

// A stall of the silent clock (a stopped process, a suspended machine) is
// skipped: the time lost is not rendered afterwards in one burst.
TEST(NoSound, StallIsSkipped) {
  struct Stalling : audio::AudioSource {
    std::atomic<uint64_t> frames{0};
    std::atomic<bool> stall{false};
    void render(float*, int n) override {
      if (stall.exchange(false)) std::this_thread::sleep_for(std::chrono::milliseconds(700));
      frames += static_cast<uint64_t>(n);
    }
  } source;
  auto& output = audio::AudioOutput::instance();
  output.start();
  if (output.hasDevice()) GTEST_SKIP() << "only without an audio device";
  output.addSource(&source);
  const auto start = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  source.stall = true;
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  output.removeSource(&source);
  // 0.7 s were lost; rendering them would have brought the count up to the
  // whole time.
  EXPECT_LT(double(source.frames.load()), (seconds - 0.4) * audio::kSampleRate);
  EXPECT_GT(double(source.frames.load()), (seconds - 0.9) * audio::kSampleRate);
}

}  // namespace
}  // namespace plimra::seq
