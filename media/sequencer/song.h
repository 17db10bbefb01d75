// A song ready to play: every channel and SysEx event of the file, merged in
// time order, with its exact time in nanoseconds from the tempo map.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "media/sequencer/smf.h"

namespace plimra::seq {

struct Song {
  struct Event {
    uint64_t ns = 0;  // time from the start of the song
    uint32_t offset = 0;
    uint32_t size = 0;
  };
  std::vector<Event> events;   // ns non-decreasing
  std::vector<uint8_t> bytes;  // all events' bytes, back to back
  uint64_t lengthNs = 0;
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
