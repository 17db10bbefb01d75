// What keeping the sounding notes costs the player: the tracker's time per
// event against the channel state the player already keeps per event, and
// the share of the whole step (the player's work for one event) it takes.
// Then the worst stop: every key of all 32 channels held.
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

#include "media/sequencer/player.h"

namespace seq = plimra::seq;
using Clock = std::chrono::steady_clock;

namespace {

// Four million events of both ports, as songs mix them: mostly notes on and
// off, then controllers, programs and pitch bends.
std::shared_ptr<seq::Song> makeSong() {
  auto song = std::make_shared<seq::Song>();
  constexpr uint32_t kEvents = 4'000'000;
  song->events.reserve(kEvents);
  song->bytes.reserve(kEvents * 3);
  for (uint32_t i = 0; i < kEvents; ++i) {
    const uint8_t ch = uint8_t(i * 7 % 16);
    const uint8_t d = uint8_t(i * 37 % 128);
    uint8_t m[3];
    size_t size = 3;
    switch (i % 10) {
      case 0:
      case 1:
        m[0] = uint8_t(0xB0 | ch), m[1] = uint8_t(i % 120), m[2] = d;
        break;
      case 2:
        m[0] = uint8_t(0xC0 | ch), m[1] = d, size = 2;
        break;
      case 3:
        m[0] = uint8_t(0xE0 | ch), m[1] = d, m[2] = 64;
        break;
      default:
        m[0] = uint8_t((i % 2 ? 0x80 : 0x90) | ch), m[1] = d, m[2] = 100;
        break;
    }
    seq::Song::Event& e = song->events.emplace_back();
    e.ns = uint64_t{i} * 1000;
    e.offset = uint32_t(song->bytes.size());
    e.size = uint32_t(size);
    e.port = uint8_t(i / 3 % seq::kPorts);
    song->bytes.insert(song->bytes.end(), m, m + size);
  }
  song->lengthNs = uint64_t{kEvents} * 1000;
  return song;
}

class CountingSink : public seq::MidiSink {
 public:
  void send(std::span<const uint8_t>, uint8_t, uint64_t) override { ++messages; }
  uint64_t messages = 0;
};

template <typename F>
double bestNsPerEvent(size_t events, F&& pass) {
  double best = 1e300;
  for (int round = 0; round < 5; ++round) {
    const auto start = Clock::now();
    pass();
    const double ns = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
    best = std::min(best, ns / double(events));
  }
  return best;
}

}  // namespace

int main() {
  const auto song = makeSong();
  const size_t n = song->events.size();
  CountingSink sink;

  seq::SoundingNotes notes;
  const double tracking = bestNsPerEvent(n, [&] {
    for (const auto& e : song->events) notes.record(song->data(e), uint8_t(e.port));
  });
  notes.release(sink, 0, seq::kPorts);

  seq::ChannelState state;
  const double channelState = bestNsPerEvent(n, [&] {
    for (const auto& e : song->events) state.record(song->data(e), uint8_t(e.port));
  });
  state.replay(sink, 0);

  seq::Player player;
  player.setSong(song);
  const double step = bestNsPerEvent(n, [&] {
    player.locate(0);
    player.start(0, song->lengthNs);
    while (player.step(UINT64_MAX, sink) == seq::Player::Step::Sent) {
    }
    player.silence(sink, UINT64_MAX, seq::kPorts);
  });

  std::printf("%zu events of two ports, time per event (best of 5 passes)\n", n);
  std::printf("%-44s %9.2f ns\n", "sounding notes: record", tracking);
  std::printf("%-44s %9.2f ns\n", "peer: channel state: record", channelState);
  std::printf("%-44s %9.2fx\n", "sounding notes against the channel state",
              tracking / channelState);
  std::printf("%-44s %9.2f ns (notes %.1f%% of it)\n", "the player's whole step", step,
              100.0 * tracking / step);

  // The most a stop can owe: every key held on all 32 channels.
  uint64_t before = 0;
  double releaseUs = 1e300, silenceUs = 1e300;
  for (int round = 0; round < 5; ++round) {
    for (uint8_t port = 0; port < seq::kPorts; ++port)
      for (uint8_t ch = 0; ch < seq::kChannelsPerPort; ++ch)
        for (uint8_t key = 0; key < 128; ++key) {
          const uint8_t on[] = {uint8_t(0x90 | ch), key, 100};
          notes.record(on, port);
        }
    before = sink.messages;
    auto start = Clock::now();
    notes.release(sink, 0, seq::kPorts);
    releaseUs = std::min(releaseUs,
                         std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    start = Clock::now();
    seq::sendSilence(sink, 0, seq::kPorts);
    silenceUs = std::min(silenceUs,
                         std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  std::printf("%-44s %9.2f us (%llu note-offs)\n", "stop with every key held: note-offs", releaseUs,
              static_cast<unsigned long long>(sink.messages - before - 96));
  std::printf("%-44s %9.2f us (96 messages)\n", "peer: the controllers that follow", silenceUs);
  return 0;
}
