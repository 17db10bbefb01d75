// Changing to a large SoundFont while notes play: the longest pause of the
// thread that asks (the window's, in the program), the longest block of the
// thread that renders (the audio callback's) and the time until the font
// plays. BuiltinSynth::useSoundFont, which reads the font on a thread of its
// own, against fluid_synth_sfload and fluid_synth_sfunload on the asking
// thread into the synthesizer that plays. Best of three rounds each, the
// fonts in the page cache.
#include <fluidsynth.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "media/mci/dispatch.h"
#include "media/sequencer/builtin_synth.h"
#include "tests/support/soundfont.h"

namespace seq = plimra::seq;
using Clock = std::chrono::steady_clock;

namespace {

constexpr uint32_t kFrames = 64u << 20;  // 128 MiB of samples
constexpr int kBlock = 512;

double msSince(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

struct Figures {
  double pauseMs = 1e9, blockMs = 1e9, readyMs = 1e9;
  void keepBest(const Figures& f) {
    pauseMs = std::min(pauseMs, f.pauseMs);
    blockMs = std::min(blockMs, f.blockMs);
    readyMs = std::min(readyMs, f.readyMs);
  }
};

// Renders a block, a note starting and ending in it, every 512 frames of
// time, as the audio callback does, and notes the longest block.
class Renderer {
 public:
  explicit Renderer(std::function<void()> block)
      : thread_([this, block = std::move(block)] {
          auto due = Clock::now();
          while (!stop_) {
            const auto start = Clock::now();
            block();
            longestUs_ = std::max<long>(longestUs_, std::lround(msSince(start) * 1000));
            due += std::chrono::microseconds(kBlock * 1'000'000LL / 44100);
            std::this_thread::sleep_until(due);
          }
        }) {}
  // Once the block under way has ended: a block waiting for a lock ends
  // only after the one who held it has let go.
  double stopAndTellLongestMs() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    return longestUs_ / 1000.0;
  }
  ~Renderer() { stopAndTellLongestMs(); }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<long> longestUs_{0};
  std::thread thread_;
};

Figures ours(const std::string& font) {
  auto synth = seq::BuiltinSynth::shared();
  std::vector<float> buf(2 * kBlock);
  Renderer renderer([&] {
    const uint8_t on[] = {0x90, 60, 100}, off[] = {0x80, 60, 0};
    synth->sendNow(on, 0);
    synth->render(buf.data(), kBlock);
    synth->sendNow(off, 0);
  });
  Figures f;
  bool ready = false;
  const auto start = Clock::now();
  seq::BuiltinSynth::useSoundFont(font, [&](const seq::SoundFontResult&) { ready = true; });
  // The asking thread goes on, waking every millisecond.
  f.pauseMs = msSince(start);
  auto last = Clock::now();
  while (!ready) {
    plimra::mci::runPostedTasks();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    f.pauseMs = std::max(f.pauseMs, msSince(last));
    last = Clock::now();
  }
  f.readyMs = msSince(start);
  f.blockMs = renderer.stopAndTellLongestMs();
  return f;
}

Figures peer(const std::string& font, const std::string& before) {
  fluid_settings_t* settings = new_fluid_settings();
  fluid_synth_t* synth = new_fluid_synth(settings);
  const int old = fluid_synth_sfload(synth, before.c_str(), 1);
  std::vector<float> left(kBlock), right(kBlock);
  Figures f;
  {
    Renderer renderer([&] {
      fluid_synth_noteon(synth, 0, 60, 100);
      fluid_synth_write_float(synth, kBlock, left.data(), 0, 1, right.data(), 0, 1);
      fluid_synth_noteoff(synth, 0, 60);
    });
    // The asking thread cannot go on while it reads: the pause is the read.
    const auto start = Clock::now();
    fluid_synth_sfload(synth, font.c_str(), 1);
    fluid_synth_sfunload(synth, old, 1);
    f.pauseMs = f.readyMs = msSince(start);
    f.blockMs = renderer.stopAndTellLongestMs();
  }
  delete_fluid_synth(synth);
  delete_fluid_settings(settings);
  return f;
}

}  // namespace

int main() {
  // Two fonts taken in turn, so that every round reads one afresh.
  const plimra::test::Bytes bytes = plimra::test::squareFont(kFrames, 100);
  const std::string fonts[] = {plimra::test::writeTemp("bench-a.sf2", bytes),
                               plimra::test::writeTemp("bench-b.sf2", bytes)};
  seq::BuiltinSynth::setOffline(true);
  Figures best[2];
  for (int round = 0; round < 3; ++round) {
    best[0].keepBest(ours(fonts[round % 2]));
    best[1].keepBest(peer(fonts[round % 2], fonts[(round + 1) % 2]));
  }
  std::printf("%u MiB SoundFont           asking thread's pause  longest block  plays after\n",
              kFrames * 2 >> 20);
  const char* names[] = {"useSoundFont (own thread)", "sfload on the asking one"};
  for (int i = 0; i < 2; ++i)
    std::printf("%-26s %15.1f ms %11.1f ms %9.1f ms\n", names[i], best[i].pauseMs, best[i].blockMs,
                best[i].readyMs);
  std::printf("ratios (sfload / useSoundFont): pause %.0f, block %.1f\n",
              best[1].pauseMs / std::max(best[0].pauseMs, 0.001),
              best[1].blockMs / std::max(best[0].blockMs, 0.001));
  return 0;
}
