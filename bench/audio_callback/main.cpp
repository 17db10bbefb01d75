// The audio callback's worst time and the worst time of a status query
// while a hostile burst plays and while a long song is sought around, next
// to the same figures for an ordinary song in the same run. Then the worst
// callback at a loop's return to its start deep in a long song, against the
// same place of the same song played straight through.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "media/sequencer/builtin_synth.h"
#include "media/sequencer/sequencer_device.h"
#include "tests/support/midi_file.h"

namespace seq = plimra::seq;
namespace mci = plimra::mci;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kFrames = 512;  // one callback of the program's audio output
constexpr auto kPeriod = std::chrono::microseconds(kFrames * 1'000'000LL / 44100);
constexpr auto kRun = std::chrono::seconds(3);

std::string writeFile(const std::string& name, uint16_t division, const std::vector<uint8_t>& t) {
  return plimra::test::writeTemp(name + ".mid", plimra::test::smf(0, division, {t}));
}

// 16 MiB of note-ons, all at tick 0.
std::string writeBurst() {
  std::vector<uint8_t> t{0x00, 0x90, 60, 100};
  while (t.size() + 3 + 4 + 22 < seq::kMaxSmfFileBytes)
    t.insert(t.end(), {0x00, uint8_t(t.size() % 128), 100});
  t.insert(t.end(), {0x00, 0xff, 0x2f, 0x00});
  return writeFile("burst", 96, t);
}

// Half an hour, two million events: notes on every channel and controllers.
// With `loop`, a loop from the millionth event to the 1.9 millionth.
constexpr uint32_t kLoopStartMs = 1'000'000, kLoopEndMs = 1'900'000;
std::string writeLong(bool loop = false) {
  std::vector<uint8_t> t{0x00, 0xff, 0x51, 0x03, 0x0f, 0x42, 0x40};  // 1 ms a tick
  for (uint32_t i = 0; i < 2'000'000; ++i) {
    const uint8_t ch = uint8_t(i % 16);
    if (loop && (i == kLoopStartMs - 1 || i == kLoopEndMs - 1)) {
      const std::string text = i == kLoopStartMs - 1 ? "loopStart" : "loopEnd";
      t.insert(t.end(), {0x01, 0xff, 0x06, uint8_t(text.size())});
      t.insert(t.end(), text.begin(), text.end());
      t.push_back(0x00);
    } else {
      plimra::test::putVlq(t, 1);
    }
    if (i % 10 == 9)
      t.insert(t.end(), {uint8_t(0xb0 | ch), 7, uint8_t(i % 128)});
    else
      t.insert(t.end(), {uint8_t(((i / 16) % 2 ? 0x80 : 0x90) | ch), uint8_t(40 + i % 48), 90});
  }
  t.insert(t.end(), {0x00, 0xff, 0x2f, 0x00});
  return writeFile(loop ? "long-loop" : "long", 1000, t);
}

struct Figures {
  std::vector<double> callbackMs;
  double worstCallbackMs = 0;
  double worstStatusMs = 0;
  int callbacks = 0;
  int queries = 0;
  int seeks = 0;
};

// Plays `path` on the built-in synthesizer, pulling callbacks at the audio
// output's pace, while the window's side asks for the position every
// millisecond (and jumps somewhere every 50 ms when `seek`).
Figures run(const std::string& path, bool seek) {
  Figures f;
  auto synth = seq::BuiltinSynth::shared();
  seq::SequencerDevice dev(seq::systemOutputs());
  if (dev.open(path) != mci::err::None) {
    std::fprintf(stderr, "%s\n", dev.lastError().c_str());
    return f;
  }
  dev.play({}, {});
  std::atomic<bool> done{false};
  std::thread audio([&] {
    std::vector<float> buffer(kFrames * 2);
    auto next = Clock::now();
    for (const auto end = next + kRun; Clock::now() < end;) {
      std::fill(buffer.begin(), buffer.end(), 0.0f);
      const auto t0 = Clock::now();
      synth->render(buffer.data(), kFrames);
      f.callbackMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
      f.worstCallbackMs = std::max(f.worstCallbackMs, f.callbackMs.back());
      ++f.callbacks;
      next += kPeriod;
      std::this_thread::sleep_until(next);
    }
    done = true;
  });
  std::mt19937 rng(7);
  mci::StatusValue length;
  dev.status({mci::StatusItem::Length, std::nullopt}, length);
  auto lastSeek = Clock::now();
  while (!done) {
    mci::StatusValue pos;
    const auto t0 = Clock::now();
    dev.status({mci::StatusItem::Position, std::nullopt}, pos);
    f.worstStatusMs = std::max(
        f.worstStatusMs, std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    ++f.queries;
    if (seek && Clock::now() - lastSeek > std::chrono::milliseconds(50)) {
      dev.play({uint32_t(rng() % std::max<uint32_t>(1, length.value)), std::nullopt}, {});
      lastSeek = Clock::now();
      ++f.seeks;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  audio.join();
  dev.close();
  return f;
}

// The long loop song played over its loop end, from half a second before it
// for a second, with loop mode on or off, nine times over: the worst
// callback of those seconds, and the callbacks that crossed the loop end
// (their median too: on a shared machine one callback now and then loses
// its core to another program).
constexpr int kLoopRounds = 9;
struct AroundLoopEnd {
  double worstMs = 0;
  std::vector<double> crossingMs;
  double crossingWorst() const {
    return crossingMs.empty() ? 0 : *std::max_element(crossingMs.begin(), crossingMs.end());
  }
  double crossingMedian() {
    std::sort(crossingMs.begin(), crossingMs.end());
    return crossingMs.empty() ? 0 : crossingMs[crossingMs.size() / 2];
  }
};
AroundLoopEnd worstAroundLoopEnd(const std::string& path, bool loop) {
  auto synth = seq::BuiltinSynth::shared();
  seq::SequencerDevice dev(seq::systemOutputs());
  dev.setLoop(loop);
  if (dev.open(path) != mci::err::None) {
    std::fprintf(stderr, "%s\n", dev.lastError().c_str());
    return {};
  }
  AroundLoopEnd f;
  std::vector<float> buffer(kFrames * 2);
  auto position = [&] {
    mci::StatusValue pos;
    dev.status({mci::StatusItem::Position, std::nullopt}, pos);
    return pos.value;
  };
  for (int round = 0; round < kLoopRounds; ++round) {
    dev.play({kLoopEndMs - 500, std::nullopt}, {});
    bool crossed = false;
    auto next = Clock::now();
    for (const auto end = next + std::chrono::seconds(1); Clock::now() < end;) {
      std::fill(buffer.begin(), buffer.end(), 0.0f);
      const auto t0 = Clock::now();
      synth->render(buffer.data(), kFrames);
      const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
      f.worstMs = std::max(f.worstMs, ms);
      // Going back reads a place before the loop end again.
      const bool past = loop ? position() < kLoopEndMs - 500 : position() >= kLoopEndMs;
      if (past && !crossed) f.crossingMs.push_back(ms);
      crossed = crossed || past;
      next += kPeriod;
      std::this_thread::sleep_until(next);
    }
    if (!crossed) std::fprintf(stderr, "the play did not reach the loop end\n");
  }
  dev.close();
  return f;
}

void report(const char* what, Figures f) {
  // The 99th percentile beside the worst: on a shared machine one callback
  // now and then loses its core to another program.
  std::sort(f.callbackMs.begin(), f.callbackMs.end());
  const double p99 = f.callbackMs.empty() ? 0 : f.callbackMs[f.callbackMs.size() * 99 / 100];
  std::printf("%-38s callback worst %7.3f ms, p99 %6.3f ms (%4d)  status worst %7.3f ms (%5d)",
              what, f.worstCallbackMs, p99, f.callbacks, f.worstStatusMs, f.queries);
  if (f.seeks) std::printf("  %d jumps", f.seeks);
  std::printf("\n");
}

}  // namespace

int main() {
  seq::BuiltinSynth::setOffline(true);
  if (!seq::BuiltinSynth::shared()->problem().empty()) {
    std::fprintf(stderr, "%s\n", seq::BuiltinSynth::shared()->problem().c_str());
    return 1;
  }
  const std::string ordinary = std::string(PLIMRA_TESTDATA) + "/midi/test-all-gm-sounds.mid";
  const std::string burst = writeBurst();
  const std::string longSong = writeLong();
  std::printf("built-in synthesizer, %d-frame callbacks every %.1f ms, %lld s each\n", kFrames,
              kPeriod.count() / 1000.0, static_cast<long long>(kRun.count()));
  report("ordinary song (the comparison)", run(ordinary, false));
  report("16 MiB of note-ons at one instant", run(burst, false));
  report("ordinary song, jumping every 50 ms", run(ordinary, true));
  report("2 million events, jumping every 50 ms", run(longSong, true));
  std::remove(burst.c_str());
  std::remove(longSong.c_str());

  const std::string loopSong = writeLong(true);
  AroundLoopEnd straight = worstAroundLoopEnd(loopSong, false);
  AroundLoopEnd back = worstAroundLoopEnd(loopSong, true);
  auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
  std::printf("2 million events, loop from %u to %u ms, played over its end %d times:\n",
              kLoopStartMs, kLoopEndMs, kLoopRounds);
  auto line = [](const char* what, AroundLoopEnd& f) {
    std::printf("  %-40s callback over the end: worst %6.3f ms, median %6.3f ms;"
                " worst of the second %6.3f ms\n",
                what, f.crossingWorst(), f.crossingMedian(), f.worstMs);
  };
  line("played straight through (the comparison)", straight);
  line("going back to the loop start", back);
  std::printf("  ratio: over the end worst %.2f, median %.2f; worst of the second %.2f\n",
              ratio(back.crossingWorst(), straight.crossingWorst()),
              ratio(back.crossingMedian(), straight.crossingMedian()),
              ratio(back.worstMs, straight.worstMs));
  std::remove(loopSong.c_str());
  return 0;
}
