// The table of contents of one disc and the sector arithmetic around it.
//
// Sectors are counted the libcdio way (LSN): 0 is the start of the program
// area, 75 sectors a second, 588 stereo frames a sector. Absolute msf
// addresses add the two seconds before the program area.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "media/mci/mci.h"

namespace plimra::cdaudio {

constexpr int kFramesPerSector = 588;
constexpr int kBytesPerSector = 2352;
constexpr int kSectorsPerSecond = 75;
constexpr int32_t kMsfOffset = 150;

struct Track {
  int number = 0;
  int32_t start = 0;  // first sector of INDEX 01
  bool audio = true;
  bool operator==(const Track&) const = default;
};

struct Toc {
  std::vector<Track> tracks;  // in disc order, numbers ascending
  int32_t leadout = 0;        // first sector after the last track

  bool operator==(const Toc&) const = default;

  // Empty when the table is not usable: no tracks, starts not ascending,
  // numbers outside 1..99, or a lead-out before the last start.
  static std::optional<Toc> validated(Toc toc);

  int count() const { return static_cast<int>(tracks.size()); }
  const Track* track(int number) const;
  // First sector after `number` (the next track's start or the lead-out).
  int32_t trackEnd(int number) const;
  // The track that holds `sector`; sectors before the first track count
  // as the first track, sectors at or after the lead-out as the last.
  const Track& trackAt(int32_t sector) const;
  const Track* firstAudio() const;
  // `sector` itself when it lies in an audio track, else the start of the
  // next audio track, else `limit`. Never more than `limit`.
  int32_t nextAudioSector(int32_t sector, int32_t limit) const;
  // End of the audio run that holds `sector` (next data track or lead-out).
  int32_t audioRunEnd(int32_t sector) const;
  int32_t discLength() const { return leadout - tracks.front().start; }
};

// Conversions between sectors and the packed classic time values.
uint32_t packMsfDuration(int32_t sectors);
uint32_t packTmsf(const Toc& toc, int32_t sector);
uint32_t sectorsToMs(int32_t sectors);

// External value in `format` to a sector. Absent when the value is
// malformed (seconds >= 60, frames >= 75, unknown track) or off the disc.
std::optional<int32_t> toSector(const Toc& toc, mci::TimeFormat format, uint32_t value);
// A sector as a position value in `format`.
uint32_t fromSector(const Toc& toc, mci::TimeFormat format, int32_t sector);

}  // namespace plimra::cdaudio
