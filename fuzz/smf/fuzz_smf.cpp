// Feeds arbitrary bytes to the MIDI file reader and checks what it promises:
// tracks in tick order, a merge that loses nothing, and a tempo map whose
// times never run backwards.
#include <cstdlib>
#include <vector>

#include "media/sequencer/smf.h"
#include "media/sequencer/tempo_map.h"

using namespace plimra::seq;

namespace {
// Takes the events one by one, as the song builder does.
struct Counter : SmfHandler {
  size_t events = 0;
  void event(uint32_t, uint64_t, SmfEvent::Kind, uint8_t, std::span<const uint8_t>,
             std::span<const uint8_t>) override {
    ++events;
  }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SmfResult r = parseSmf({data, size});
  Counter counter;
  const SmfResult counted = parseSmf({data, size}, counter);
  if (counted.ok != r.ok || counted.error != r.error) std::abort();
  if (!r.ok) {
    if (r.error.empty()) std::abort();
    return 0;
  }
  if (counted.smf.warnings != r.smf.warnings || counted.smf.tracks.size() != r.smf.tracks.size())
    std::abort();
  size_t total = 0;
  for (const SmfTrack& t : r.smf.tracks) {
    uint64_t last = 0;
    for (const SmfEvent& e : t.events) {
      if (e.tick < last || e.tick > t.endTick) std::abort();
      if (e.kind == SmfEvent::Kind::Channel && (e.bytes.size() < 2 || e.bytes[0] < 0x80))
        std::abort();
      last = e.tick;
    }
    total += t.events.size();
  }
  if (counter.events != total) std::abort();
  const auto merged = mergeTracks(r.smf);
  if (merged.size() != total) std::abort();
  for (size_t i = 1; i < merged.size(); ++i)
    if (merged[i]->tick < merged[i - 1]->tick) std::abort();

  const TempoMap map(r.smf);
  uint64_t prev = 0;
  // A format 2 file holds separate songs; the map covers the first.
  std::vector<const SmfEvent*> played;
  if (r.smf.format == 2) {
    for (const SmfEvent& e : r.smf.tracks[0].events) played.push_back(&e);
  } else {
    played = merged;
  }
  for (const SmfEvent* e : played) {
    const uint64_t us = map.microsAt(e->tick);
    if (us < prev) std::abort();
    if (map.tickAt(us) < e->tick) std::abort();
    const uint64_t ns = map.nanosAt(e->tick);
    if (ns != UINT64_MAX && ns / 1000 != us) std::abort();
    prev = us;
  }
  if (map.lengthMicros() < prev) std::abort();
  return 0;
}
