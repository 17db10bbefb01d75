#include "media/sequencer/tempo_map.h"

#include <algorithm>
#include <limits>
#include <numeric>

namespace plimra::seq {
namespace {

using u128 = unsigned __int128;
constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();

uint64_t saturate(u128 v) { return v > kMax ? kMax : uint64_t(v); }
uint64_t addSaturatedNs(uint64_t a, uint64_t b) { return a > kMax - b ? kMax : a + b; }

}  // namespace

TempoMap::TempoMap(const Smf& smf, uint32_t format2Track) {
  // The tracks played: all of them, or one sequence of a format 2 file (a
  // file may hold thousands, each timed on its own).
  const size_t count = smf.tracks.size();
  const size_t first = smf.format == 2 ? std::min<size_t>(format2Track, count) : 0;
  const size_t last = smf.format == 2 ? std::min<size_t>(first + 1, count) : count;
  for (size_t i = first; i < last; ++i) endTick_ = std::max(endTick_, smf.tracks[i].endTick);

  if (smf.smpte) {
    smpte_ = true;
    // One tick lasts 1e9 / (fps * ticksPerFrame) ns; "29" is 29.97 = 30000/1001 fps.
    const uint64_t fps = smf.framesPerSecond == 29 ? 30000 : uint64_t(smf.framesPerSecond);
    uint64_t num = smf.framesPerSecond == 29 ? 1'000'000'000ull * 1001 : 1'000'000'000ull;
    uint64_t den = fps * uint64_t(std::max(smf.ticksPerFrame, 1));
    if (smf.framesPerSecond <= 0) den = 1;  // not produced by parseSmf; keeps a hand-built Smf safe
    const uint64_t g = std::gcd(num, den);
    smpteNanosPerTickNum_ = num / g;
    smpteNanosPerTickDen_ = den / g;
    return;
  }

  ticksPerQuarter_ = smf.ticksPerQuarter ? smf.ticksPerQuarter : 480;
  struct Change {
    uint64_t tick;
    uint32_t tempo;
  };
  std::vector<Change> changes;
  for (size_t i = first; i < last; ++i) {
    for (const SmfEvent& ev : smf.tracks[i].events) {
      if (ev.kind != SmfEvent::Kind::Meta || ev.metaType != 0x51 || ev.bytes.size() < 3) continue;
      const uint32_t tempo =
          (uint32_t(ev.bytes[0]) << 16) | (uint32_t(ev.bytes[1]) << 8) | ev.bytes[2];
      if (tempo != 0) changes.push_back({ev.tick, tempo});
    }
  }
  // Tracks were appended in index order, so a stable sort gives merge order.
  std::stable_sort(changes.begin(), changes.end(),
                   [](const Change& a, const Change& b) { return a.tick < b.tick; });

  segments_.push_back({0, 0, 500000});
  for (const Change& c : changes) {
    Segment& last = segments_.back();
    if (c.tick == last.tick) {
      last.tempo = c.tempo;  // the last of several changes at one tick wins
    } else if (c.tempo != last.tempo) {
      const uint64_t at = saturate(u128(last.microsNum) + u128(c.tick - last.tick) * last.tempo);
      segments_.push_back({c.tick, at, c.tempo});
    }
  }
}

uint64_t TempoMap::nanosAt(uint64_t tick) const {
  if (smpte_) return saturate(u128(tick) * smpteNanosPerTickNum_ / smpteNanosPerTickDen_);
  if (segments_.empty()) return saturate(u128(tick) * 500000 * 1000 / ticksPerQuarter_);
  auto it = std::upper_bound(segments_.begin(), segments_.end(), tick,
                             [](uint64_t t, const Segment& s) { return t < s.tick; });
  const Segment& s = *(it - 1);
  return saturate((u128(s.microsNum) + u128(tick - s.tick) * s.tempo) * 1000 / ticksPerQuarter_);
}

SongClock::SongClock(const Smf& smf) {
  if (smf.format != 2) {
    maps_.emplace_back(smf);
    startsNs_.push_back(0);
    lengthNs_ = maps_.back().nanosAt(maps_.back().endTick());
    return;
  }
  maps_.reserve(smf.tracks.size());
  for (uint32_t track = 0; track < smf.tracks.size(); ++track) {
    const TempoMap& map = maps_.emplace_back(smf, track);
    startsNs_.push_back(lengthNs_);
    lengthNs_ = addSaturatedNs(lengthNs_, map.nanosAt(map.endTick()));
  }
}

uint64_t SongClock::nanosAt(uint32_t track, uint64_t tick) const {
  if (maps_.empty()) return 0;
  const size_t i = maps_.size() == 1 ? 0 : std::min<size_t>(track, maps_.size() - 1);
  return addSaturatedNs(startsNs_[i], maps_[i].nanosAt(tick));
}

}  // namespace plimra::seq
