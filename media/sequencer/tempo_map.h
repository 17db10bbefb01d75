// Tempo map: built once when a song is opened, it turns ticks into exact
// times. Each segment starts at a tempo change and remembers the exact time
// of its first tick, so the time of any tick is one multiplication away from
// a segment start and nothing accumulates rounding.
#pragma once

#include <cstdint>
#include <vector>

#include "media/sequencer/smf.h"

namespace plimra::seq {

class TempoMap {
 public:
  struct Segment {
    uint64_t tick = 0;        // first tick of the segment
    uint64_t microsNum = 0;   // time of `tick` in microseconds x ticksPerQuarter (exact)
    uint32_t tempo = 500000;  // microseconds per quarter note
  };

  TempoMap() = default;
  // Tempo changes are taken from every track for format 0 and 1, merged in
  // the order the song plays them (so a tempo event counts wherever it is),
  // and from `format2Track` alone for format 2. A tempo of 0 (or a tempo
  // event shorter than 3 bytes) is ignored. SMPTE divisions have a fixed
  // tick length, ignore tempo events, and have no segments.
  explicit TempoMap(const Smf& smf, uint32_t format2Track = 0);

  // Time of a tick in nanoseconds, rounded down.
  uint64_t nanosAt(uint64_t tick) const;

  // The latest End of Track (or last event) over all tracks played: the
  // song ends at its time.
  uint64_t endTick() const { return endTick_; }

 private:
  std::vector<Segment> segments_;
  uint64_t endTick_ = 0;
  uint32_t ticksPerQuarter_ = 480;
  bool smpte_ = false;
  uint64_t smpteNanosPerTickNum_ = 0;  // SMPTE: tick length = num / den ns
  uint64_t smpteNanosPerTickDen_ = 1;
};

// The times of a whole song: every track on one tempo map (formats 0 and 1),
// or each sequence of a format 2 file on its own, starting where the one
// before it ends.
class SongClock {
 public:
  explicit SongClock(const Smf& smf);
  // Time of a tick of `track` in nanoseconds from the start of the song.
  uint64_t nanosAt(uint32_t track, uint64_t tick) const;
  uint64_t lengthNs() const { return lengthNs_; }

 private:
  std::vector<TempoMap> maps_;  // one, or one per sequence
  std::vector<uint64_t> startsNs_;
  uint64_t lengthNs_ = 0;
};

}  // namespace plimra::seq
