// Feeds arbitrary bytes to the MIDI file reader and checks what it promises:
// a message for every refusal, events in tick order within their tracks,
// whole channel messages, a tempo map whose times never run backwards, and
// words whose lines are sung in order.
#include <cstdlib>

#include "media/sequencer/lyrics.h"
#include "media/sequencer/smf.h"
#include "media/sequencer/tempo_map.h"
#include "tests/support/kept_events.h"

using namespace plimra::seq;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Lyrics lyrics = lyricsOf({data, size});
  for (size_t i = 1; i < lyrics.lines.size(); ++i)
    if (lyrics.lines[i].startMs() < lyrics.lines[i - 1].startMs()) std::abort();
  const SmfResult r = plimra::test::parseKeeping({data, size});
  if (!r.ok) {
    if (r.error.empty()) std::abort();
    return 0;
  }
  const TempoMap map(r.smf);
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
  }
  return 0;
}
