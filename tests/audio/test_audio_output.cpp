// The one audio output: what sources render reaches the device unchanged,
// and without a device the sources are still pulled at real-time pace.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

#include "media/audio/audio_output.h"

using namespace plimra::audio;
using namespace std::chrono_literals;

namespace {

// Renders a ramp of 16-bit values, left and right different, so that every
// sample it produced can be recognised in the captured file.
class RampSource : public AudioSource {
 public:
  void render(float* out, int frames) override {
    for (int i = 0; i < frames; ++i) {
      int16_t v = static_cast<int16_t>(static_cast<int32_t>(next_ % 65536) - 32768);
      out[2 * i] += static_cast<float>(v) / 32768.0f;
      out[2 * i + 1] += static_cast<float>(static_cast<int16_t>(~v)) / 32768.0f;
      ++next_;
    }
    rendered_ += static_cast<uint64_t>(frames);
  }
  uint64_t rendered() const { return rendered_.load(); }

 private:
  uint32_t next_ = 0;
  std::atomic<uint64_t> rendered_{0};
};

class ConstantSource : public AudioSource {
 public:
  explicit ConstantSource(float v) : v_(v) {}
  void render(float* out, int frames) override {
    for (int i = 0; i < frames * 2; ++i) out[i] += v_;
  }

 private:
  float v_;
};

TEST(AudioOutput, DiskDriverCapturesEverySampleExactly) {
  AudioOutput& output = AudioOutput::instance();
  RampSource ramp;
  output.addSource(&ramp);
  ASSERT_TRUE(output.hasDevice()) << output.lastError();
  EXPECT_EQ(output.driverName(), "disk");
  EXPECT_TRUE(output.lastError().empty());
  while (ramp.rendered() < 3 * 65536) std::this_thread::sleep_for(1ms);
  output.removeSource(&ramp);
  // Two sources that together overflow are clipped, not wrapped.
  ConstantSource a(0.75f), b(0.75f);
  output.addSource(&a);
  output.addSource(&b);
  uint64_t before = output.framesRendered();
  while (output.framesRendered() < before + 8192) std::this_thread::sleep_for(1ms);
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
    int16_t want = static_cast<int16_t>(static_cast<int32_t>(i % 65536) - 32768);
    ASSERT_EQ(samples[first + 2 * i], want) << "frame " << i;
    ASSERT_EQ(samples[first + 2 * i + 1], static_cast<int16_t>(~want)) << "frame " << i;
  }
  EXPECT_EQ(samples.back(), 32767);
}

TEST(AudioOutput, NoDeviceKeepsRealTimeAndSaysWhy) {
  AudioOutput& output = AudioOutput::instance();
  RampSource ramp;
  auto start = std::chrono::steady_clock::now();
  output.addSource(&ramp);
  EXPECT_FALSE(output.hasDevice());
  EXPECT_TRUE(output.running());
  EXPECT_NE(output.lastError().find("without sound"), std::string::npos) << output.lastError();
  std::this_thread::sleep_for(500ms);
  output.removeSource(&ramp);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  double pulled = static_cast<double>(ramp.rendered()) / kSampleRate;
  // Real-time pace: never ahead of the clock, and not stalled (the bound
  // below is loose so a busy machine does not fail it).
  EXPECT_LE(pulled, seconds + 0.02);
  EXPECT_GE(pulled, seconds * 0.5);
  output.stop();
  EXPECT_FALSE(output.running());
}

}  // namespace
