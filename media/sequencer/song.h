// A song ready to play: every channel and SysEx event of the file, merged in
// time order, with its exact time in nanoseconds from the tempo map and the
// port its track chose. The sequences of a format 2 file play one after
// another, each on its own tempo map.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "media/sequencer/smf.h"

namespace plimra::seq {

// A song addresses two ports of 16 channels (a track picks its port with the
// port meta event): 32 parts, as the two-port sound modules had.
inline constexpr uint8_t kPorts = 2;
inline constexpr uint8_t kChannelsPerPort = 16;

// Adds without wrapping: times of hostile files may reach the top of the
// range, and a wrapped deadline would lie in the past.
inline uint64_t addSaturated(uint64_t a, uint64_t b) {
  return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

// Where a game-music song goes round: from the first CC 111 (any channel)
// or "loopStart" marker to the first "loopEnd" marker, else to the song's
// end. Ticks are the file's (a format 2 file's within their sequence).
struct LoopPoints {
  uint64_t startTick = 0;
  uint64_t endTick = 0;
  uint64_t startNs = 0;
  uint64_t endNs = 0;
  uint64_t startMs() const { return startNs / 1'000'000; }
  uint64_t endMs() const { return endNs / 1'000'000; }
};
// A section shorter than this is no loop a composer wrote: going round it
// would do little but jump.
inline constexpr uint64_t kMinLoopNs = 100'000'000;

struct Song {
  struct Event {
    uint64_t ns = 0;  // time from the start of the song
    uint32_t offset = 0;
    // Sixteen bytes an event: a 16 MiB file holds millions of them. No
    // message is longer than the largest file.
    uint32_t size : 24 = 0;
    uint32_t port : 8 = 0;  // below kPorts
  };
  static_assert(sizeof(Event) == 16 && kMaxSmfFileBytes <= (1u << 24));
  std::vector<Event> events;   // ns non-decreasing
  std::vector<uint8_t> bytes;  // all events' bytes, back to back
  uint64_t lengthNs = 0;
  // Absent when the song has no loop start, or one that leaves less than
  // kMinLoopNs to go round (at its very end, say).
  std::optional<LoopPoints> loop;
  uint16_t format = 0;
  uint32_t trackCount = 0;
  // Made for an XG module: it sends an XG System On or selects an XG drum
  // bank. The built-in synthesizer reads its bank selects the XG way.
  bool xg = false;
  std::vector<std::string> warnings;

  std::span<const uint8_t> data(const Event& e) const { return {bytes.data() + e.offset, e.size}; }
};

struct SongLoad {
  std::shared_ptr<const Song> song;  // null on failure
  uint32_t code = 0;                 // mci error code on failure
  std::string error;                 // a clear message on failure
};
SongLoad loadSong(const std::string& path);

}  // namespace plimra::seq
