// The MIDI-OUT port thread's lateness against each event's deadline while a
// dense song plays, and the CPU time it takes, against a naive scheduler
// that sleeps from one event to the next.
#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "media/mci/dispatch.h"
#include "media/sequencer/port_output.h"
#include "media/sequencer/sequencer_device.h"
#include "tests/support/midi_file.h"

namespace seq = plimra::seq;
namespace mci = plimra::mci;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kSeconds = 6;

// 16 channels, a note on or off on each every 10 ms: 3200 messages a
// second. Spread: each channel 0.311 ms after the one before (1600 distinct
// deadlines a second, the hardest case); otherwise as chords on one grid.
std::shared_ptr<seq::Song> denseSong(bool spread) {
  auto song = std::make_shared<seq::Song>();
  const uint64_t step = 10'000'000;
  for (uint64_t t = 0; t < uint64_t{kSeconds} * 1'000'000'000; t += step) {
    for (uint8_t ch = 0; ch < 16; ++ch) {
      const bool on = (t / step) % 2 == 0;
      const uint8_t msg[] = {static_cast<uint8_t>((on ? 0x90 : 0x80) | ch), 60,
                             on ? uint8_t{80} : uint8_t{0}};
      song->events.push_back(
          {t + (spread ? ch * 311'000 : 0), static_cast<uint32_t>(song->bytes.size()), 3});
      song->bytes.insert(song->bytes.end(), msg, msg + 3);
    }
  }
  std::stable_sort(song->events.begin(), song->events.end(),
                   [](const auto& a, const auto& b) { return a.ns < b.ns; });
  song->lengthNs = uint64_t{kSeconds} * 1'000'000'000;
  song->trackCount = 1;
  return song;
}

class NullPort : public seq::RawPort {
 public:
  bool send(std::span<const uint8_t> m) override {
    bytes_ += m.size();
    return true;
  }
  size_t bytes_ = 0;
};

struct Result {
  std::vector<int64_t> late;
  double cpuSeconds = 0;
};

double threadCpu() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

// The peer: sleep for the gap to the next event, then send it.
Result naive(const seq::Song& song) {
  Result r;
  r.late.reserve(1 << 16);
  NullPort port;
  std::thread t([&] {
    const double cpu0 = threadCpu();
    const auto start = Clock::now();
    uint64_t prev = 0;
    for (const auto& e : song.events) {
      std::this_thread::sleep_for(std::chrono::nanoseconds(e.ns - prev));
      prev = e.ns;
      port.send(song.data(e));
      r.late.push_back((Clock::now() - start).count() - static_cast<int64_t>(e.ns));
    }
    r.cpuSeconds = threadCpu() - cpu0;
  });
  t.join();
  return r;
}

class OneSong : public seq::OutputProvider {
 public:
  explicit OneSong(std::shared_ptr<seq::Output> port) : port_(std::move(port)) {}
  std::vector<std::string> outputNames() override { return {"synth", "bench"}; }
  std::shared_ptr<seq::Output> open(int32_t port, std::string&) override {
    return port == 1 || port == -1 ? port_ : nullptr;
  }

 private:
  std::shared_ptr<seq::Output> port_;
};

// Ours: the sequencer device on a port output.
Result ours(const std::string& path) {
  Result r;
  r.late.reserve(1 << 16);
  std::mutex m;
  auto port = std::make_shared<seq::PortOutput>(std::make_unique<NullPort>());
  port->setLatenessObserver([&](int64_t late) {
    std::lock_guard lk(m);
    r.late.push_back(late);
  });
  seq::SequencerDevice dev(std::make_shared<OneSong>(port));
  if (dev.open(path) != mci::err::None) {
    std::fprintf(stderr, "%s\n", dev.lastError().c_str());
    return r;
  }
  const uint64_t cpu0 = port->threadCpuNanos();
  bool done = false;
  dev.play({}, [&](mci::NotifyCode) { done = true; });
  while (!done) mci::waitAndRunPostedTasks(200);
  r.cpuSeconds = (port->threadCpuNanos() - cpu0) / 1e9;
  dev.close();
  return r;
}

void report(const char* name, Result& r) {
  std::sort(r.late.begin(), r.late.end());
  auto pct = [&](double p) {
    return r.late.empty() ? 0.0 : r.late[static_cast<size_t>(p * (r.late.size() - 1))] / 1e6;
  };
  std::printf("%-8s %8zu events  lateness p50 %7.3f ms  p99 %7.3f ms  max %7.3f ms  CPU %5.2f%%\n",
              name, r.late.size(), pct(0.5), pct(0.99), pct(1.0), 100.0 * r.cpuSeconds / kSeconds);
}

}  // namespace

int runPattern(bool spread) {
  // The device reads songs from files; write the dense one as a file.
  auto song = denseSong(spread);
  const std::string path = "/tmp/plimra-bench-dense-" + std::to_string(getpid()) + ".mid";
  {
    // 1 000 000 us a quarter at 10 000 ticks a quarter: one tick is 0.1 ms.
    plimra::test::Track trk;
    trk.tempo(0, 1'000'000);
    for (const auto& e : song->events) {
      const auto d = song->data(e);
      trk.at(static_cast<uint32_t>(e.ns / 100'000), {d.begin(), d.end()});
    }
    if (!plimra::test::writeFile(path, plimra::test::smf(0, 10000, {trk.finish(kSeconds * 10000)})))
      return 1;
  }
  auto loaded = seq::loadSong(path);
  if (!loaded.song) return 1;
  std::printf("\ndense song, %s: %zu messages over %d s\n",
              spread ? "every channel on its own deadline" : "chords on a 10 ms grid",
              loaded.song->events.size(), kSeconds);

  Result peer = naive(*loaded.song);
  Result mine = ours(path);
  report("naive", peer);
  report("plimra", mine);
  const double p99Peer = peer.late[static_cast<size_t>(0.99 * (peer.late.size() - 1))];
  const double p99Mine = mine.late[static_cast<size_t>(0.99 * (mine.late.size() - 1))];
  std::printf("p99 lateness ratio (naive / plimra): %.1fx; CPU ratio (plimra / naive): %.2f\n",
              p99Peer / std::max(1.0, p99Mine), mine.cpuSeconds / std::max(1e-9, peer.cpuSeconds));
  std::remove(path.c_str());
  return 0;
}

int main() {
  if (runPattern(true) != 0) return 1;
  return runPattern(false);
}
