// The MIDI file reader with every event kept in its track, so that a test
// or a fuzzer can look at the file as it was read, event by event.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "media/sequencer/smf.h"

namespace plimra::test {

class KeptEvents : public seq::SmfHandler {
 public:
  void event(uint32_t track, uint64_t tick, seq::SmfEvent::Kind kind, uint8_t metaType,
             std::span<const uint8_t> head, std::span<const uint8_t> body) override {
    if (track >= tracks_.size()) tracks_.resize(track + 1);
    seq::SmfEvent& ev = tracks_[track].emplace_back();
    ev.tick = tick;
    ev.track = track;
    ev.kind = kind;
    ev.metaType = metaType;
    ev.bytes.assign(head.begin(), head.end());
    ev.bytes.insert(ev.bytes.end(), body.begin(), body.end());
  }
  // `r` with the kept events in its tracks.
  seq::SmfResult into(seq::SmfResult r) {
    for (size_t i = 0; i < tracks_.size() && i < r.smf.tracks.size(); ++i)
      r.smf.tracks[i].events = std::move(tracks_[i]);
    return r;
  }

 private:
  std::vector<std::vector<seq::SmfEvent>> tracks_;
};

inline seq::SmfResult parseKeeping(std::span<const uint8_t> data) {
  KeptEvents kept;
  return kept.into(seq::parseSmf(data, kept));
}
inline seq::SmfResult readKeeping(const std::string& path) {
  KeptEvents kept;
  return kept.into(seq::readSmfFile(path, kept));
}

}  // namespace plimra::test
