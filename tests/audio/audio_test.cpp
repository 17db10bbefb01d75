// The one audio output, in a process of its own per audio driver. With
// SDL's disk driver what the sources render reaches the device unchanged.
// With no audio device, songs on the built-in synthesizer still keep time,
// silently, and one message says why.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

#include "media/audio/audio_output.h"
#include "media/mci/dispatch.h"
#include "media/sequencer/register.h"
#include "media/sequencer/sequencer_device.h"
#include "tests/support/midi_file.h"

namespace plimra {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Renders a ramp of 16-bit values, left and right different, so that every
// sample it produced can be recognised in the captured file. Asked to, it
// stalls once, as a stopped process or a suspended machine would.
class RampSource : public audio::AudioSource {
 public:
  void render(float* out, int frames) override {
    if (stall.exchange(false)) std::this_thread::sleep_for(700ms);
    for (int i = 0; i < frames; ++i) {
      const auto v = static_cast<int16_t>(static_cast<int32_t>(next_++ % 65536) - 32768);
      out[2 * i] += static_cast<float>(v) / 32768.0f;
      out[2 * i + 1] += static_cast<float>(static_cast<int16_t>(~v)) / 32768.0f;
    }
    rendered += static_cast<uint64_t>(frames);
  }
  std::atomic<uint64_t> rendered{0};
  std::atomic<bool> stall{false};

 private:
  uint32_t next_ = 0;
};

TEST(DiskDriver, CapturesEverySampleExactly) {
  audio::AudioOutput& output = audio::AudioOutput::instance();
  RampSource ramp;
  output.addSource(&ramp);
  ASSERT_TRUE(output.hasDevice()) << output.lastError();
  EXPECT_EQ(output.driverName(), "disk");
  EXPECT_EQ(seq::noSoundReason(), "");
  while (ramp.rendered < 3 * 65536) std::this_thread::sleep_for(1ms);
  output.removeSource(&ramp);
  // Two sources that together overflow are clipped, not wrapped.
  struct Constant : audio::AudioSource {
    void render(float* out, int frames) override {
      for (int i = 0; i < frames * 2; ++i) out[i] += 0.75f;
      rendered += static_cast<uint64_t>(frames);
    }
    std::atomic<uint64_t> rendered{0};
  } a, b;
  output.addSource(&a);
  output.addSource(&b);
  while (b.rendered < 8192) std::this_thread::sleep_for(1ms);
  output.stop();
  output.removeSource(&a);
  output.removeSource(&b);

  std::ifstream in(std::getenv("SDL_DISKAUDIOFILE"), std::ios::binary);
  std::vector<int16_t> samples;
  int16_t s;
  while (in.read(reinterpret_cast<char*>(&s), sizeof s)) samples.push_back(s);
  // SDL writes silence while the device is still paused after opening; the
  // ramp follows it, every sample exact.
  size_t first = 0;
  while (first < samples.size() && samples[first] == 0) ++first;
  ASSERT_EQ(first % 2, 0u);
  ASSERT_GE(samples.size(), first + 2u * 3 * 65536);
  for (size_t i = 0; i < 3u * 65536; ++i) {
    const auto want = static_cast<int16_t>(static_cast<int32_t>(i % 65536) - 32768);
    ASSERT_EQ(samples[first + 2 * i], want) << "frame " << i;
    ASSERT_EQ(samples[first + 2 * i + 1], static_cast<int16_t>(~want)) << "frame " << i;
  }
  // Closing the device may write one more buffer, of silence: the last
  // sound before it is the clipped sum.
  const auto last = std::find_if(samples.rbegin(), samples.rend(), [](int16_t v) { return v != 0; });
  ASSERT_NE(last, samples.rend());
  EXPECT_EQ(*last, 32767);
}

// Run with no audio driver.
TEST(Silent, SongsKeepTimeAndOneMessageSaysWhy) {
  test::Track t;
  t.at(0, {0x90, 60, 100}).at(480, {0x80, 60, 0});
  const std::string path = test::writeTemp("quiet.mid", test::smf(0, 480, {t.finish(480)}));
  seq::SequencerDevice dev(seq::systemOutputs());
  ASSERT_EQ(dev.open(path), mci::err::None);
  bool done = false;
  const auto start = Clock::now();
  dev.play({}, [&](mci::NotifyCode c) { done = c == mci::NotifySuccessful; });
  while (!done && Clock::now() - start < 20s) mci::waitAndRunPostedTasks(20);
  ASSERT_TRUE(done);
  // 500 ms of song at real-time pace, give or take the first audio block.
  EXPECT_GE(Clock::now() - start, 450ms);
  EXPECT_FALSE(seq::noSoundReason().empty());
}

// A stall of the silent clock is skipped: the time lost is not rendered
// afterwards in one burst.
TEST(NoDevice, StallIsSkipped) {
  auto& output = audio::AudioOutput::instance();
  RampSource source;
  output.addSource(&source);
  ASSERT_FALSE(output.hasDevice());
  EXPECT_NE(output.lastError().find("without sound"), std::string::npos) << output.lastError();
  const auto start = Clock::now();
  std::this_thread::sleep_for(100ms);
  source.stall = true;
  std::this_thread::sleep_for(1000ms);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  output.removeSource(&source);
  // 0.7 s were lost; rendering them would have brought the count up to the
  // whole time.
  EXPECT_LT(double(source.rendered.load()), (seconds - 0.4) * audio::kSampleRate);
}

}  // namespace
}  // namespace plimra
