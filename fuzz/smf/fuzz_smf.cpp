// Feeds arbitrary bytes to the MIDI file reader and checks what it promises:
// the same answer whether it keeps the events or hands them over one by
// one (as it does to the song builder), tracks in tick order, and a tempo
// map whose times never run backwards.
#include <cstdlib>

#include "media/sequencer/smf.h"
#include "media/sequencer/tempo_map.h"

using namespace plimra::seq;

namespace {
struct Counter : SmfHandler {
  size_t events = 0;
  void event(uint32_t, uint64_t, SmfEvent::Kind, uint8_t, std::span<const uint8_t>,
             std::span<const uint8_t>) override {
    ++events;
  }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const SmfResult r = parseSmf({data, size});
  Counter counter;
  const SmfResult counted = parseSmf({data, size}, counter);
  if (counted.ok != r.ok || counted.error != r.error) std::abort();
  if (!r.ok) {
    if (r.error.empty()) std::abort();
    return 0;
  }
  if (counted.smf.warnings != r.smf.warnings || counted.smf.tracks.size() != r.smf.tracks.size())
    std::abort();
  const TempoMap map(r.smf);
  size_t total = 0;
  for (const SmfTrack& t : r.smf.tracks) {
    uint64_t lastTick = 0;
    uint64_t lastNs = 0;
    for (const SmfEvent& e : t.events) {
      if (e.tick < lastTick || e.tick > t.endTick) std::abort();
      if (e.kind == SmfEvent::Kind::Channel && (e.bytes.size() < 2 || e.bytes[0] < 0x80))
        std::abort();
      const uint64_t ns = map.nanosAt(e.tick);
      if (ns < lastNs || ns > map.nanosAt(t.endTick)) std::abort();
      lastTick = e.tick;
      lastNs = ns;
    }
    total += t.events.size();
  }
  if (counter.events != total) std::abort();
  return 0;
}
