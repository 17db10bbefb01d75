// Test disc images: a .cue sheet and one .bin file with audio tracks whose
// samples are known exactly, optionally data tracks and pregaps.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plimra::mkdisc {

enum class Pattern {
  Ident,  // every sample tells its track and frame (see identSample)
  Sine,   // track k: a sine of 220 * k Hz at a quarter of full scale
};

struct TrackSpec {
  int sectors = 75;
  bool data = false;
  int pregap = 0;  // silent sectors (INDEX 00) before the track's INDEX 01
};

struct DiscSpec {
  std::vector<TrackSpec> tracks;
  Pattern pattern = Pattern::Ident;
};

// Writes `cuePath` and the .bin beside it (same name, .bin). Returns an
// empty string on success, else what went wrong.
std::string writeDisc(const std::string& cuePath, const DiscSpec& layout);

// The ident pattern: left = track * 1024 + frame % 1024 (never zero),
// right = frame / 1024 + 1, where frame counts from the track's INDEX 01.
// Tracks above 31 repeat the numbers of tracks 1..31.
constexpr int16_t identSample(int track, uint32_t frame, int channel) {
  return channel == 0
             ? static_cast<int16_t>(((track - 1) % 31 + 1) * 1024 + static_cast<int>(frame % 1024))
             : static_cast<int16_t>(static_cast<int>(frame / 1024 % 32767) + 1);
}

int16_t sineSample(int track, uint32_t frame);

}  // namespace plimra::mkdisc
