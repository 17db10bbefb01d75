#include "media/cdaudio/toc.h"

#include <algorithm>

namespace plimra::cdaudio {

std::optional<Toc> Toc::validated(Toc toc) {
  if (toc.tracks.empty() || toc.tracks.size() > 99) return std::nullopt;
  for (size_t i = 0; i < toc.tracks.size(); ++i) {
    const Track& t = toc.tracks[i];
    if (t.number < 1 || t.number > 99 || t.start < 0) return std::nullopt;
    if (i > 0 && (t.number != toc.tracks[i - 1].number + 1 || t.start <= toc.tracks[i - 1].start))
      return std::nullopt;
  }
  if (toc.leadout <= toc.tracks.back().start) return std::nullopt;
  return toc;
}

const Track* Toc::track(int number) const {
  if (tracks.empty()) return nullptr;
  int i = number - tracks.front().number;
  if (i < 0 || i >= count()) return nullptr;
  return &tracks[static_cast<size_t>(i)];
}

int32_t Toc::trackEnd(int number) const {
  const Track* t = track(number);
  if (!t) return leadout;
  size_t i = static_cast<size_t>(t - tracks.data());
  return i + 1 < tracks.size() ? tracks[i + 1].start : leadout;
}

const Track& Toc::trackAt(int32_t sector) const {
  auto it = std::upper_bound(tracks.begin(), tracks.end(), sector,
                             [](int32_t s, const Track& t) { return s < t.start; });
  return it == tracks.begin() ? tracks.front() : *(it - 1);
}

const Track* Toc::firstAudio() const {
  for (const Track& t : tracks)
    if (t.audio) return &t;
  return nullptr;
}

int32_t Toc::nextAudioSector(int32_t sector, int32_t limit) const {
  if (sector >= limit) return limit;
  const Track& here = trackAt(sector);
  if (here.audio && sector >= here.start) return sector;
  for (const Track& t : tracks)
    if (t.audio && t.start > sector) return std::min(t.start, limit);
  return limit;
}

int32_t Toc::audioRunEnd(int32_t sector) const {
  for (const Track& t : tracks)
    if (!t.audio && t.start > sector) return t.start;
  return leadout;
}

uint32_t packMsfDuration(int32_t sectors) {
  uint32_t s = static_cast<uint32_t>(std::max(sectors, 0));
  return mci::makeMsf(s / (60 * kSectorsPerSecond), s / kSectorsPerSecond % 60,
                      s % kSectorsPerSecond);
}

uint32_t packTmsf(const Toc& toc, int32_t sector) {
  const Track& t = toc.trackAt(sector);
  uint32_t rel = packMsfDuration(sector - t.start);
  return mci::makeTmsf(static_cast<uint32_t>(t.number), mci::msfMinute(rel), mci::msfSecond(rel),
                       mci::msfFrame(rel));
}

uint32_t sectorsToMs(int32_t sectors) {
  return static_cast<uint32_t>(static_cast<int64_t>(std::max(sectors, 0)) * 1000 /
                               kSectorsPerSecond);
}

namespace {
std::optional<int32_t> msfFields(uint32_t m, uint32_t s, uint32_t f) {
  if (s >= 60 || f >= static_cast<uint32_t>(kSectorsPerSecond)) return std::nullopt;
  return static_cast<int32_t>((m * 60 + s) * kSectorsPerSecond + f);
}
}  // namespace

std::optional<int32_t> toSector(const Toc& toc, mci::TimeFormat format, uint32_t value) {
  std::optional<int32_t> sector;
  switch (format) {
    case mci::TimeFormat::Tmsf: {
      const Track* t = toc.track(static_cast<int>(mci::tmsfTrack(value)));
      auto rel = msfFields(mci::tmsfMinute(value), mci::tmsfSecond(value), mci::tmsfFrame(value));
      if (t && rel) sector = t->start + *rel;
      break;
    }
    case mci::TimeFormat::Msf: {
      auto abs = msfFields(mci::msfMinute(value), mci::msfSecond(value), mci::msfFrame(value));
      if (abs) sector = *abs - kMsfOffset;
      break;
    }
    case mci::TimeFormat::Milliseconds:
      sector = static_cast<int32_t>(
          std::min<int64_t>(static_cast<int64_t>(value) * kSectorsPerSecond / 1000, INT32_MAX));
      break;
    default:
      break;
  }
  if (!sector || *sector < 0 || *sector > toc.leadout) return std::nullopt;
  return sector;
}

uint32_t fromSector(const Toc& toc, mci::TimeFormat format, int32_t sector) {
  switch (format) {
    case mci::TimeFormat::Tmsf:
      return packTmsf(toc, sector);
    case mci::TimeFormat::Msf:
      return packMsfDuration(sector + kMsfOffset);
    default:
      return sectorsToMs(sector);
  }
}

}  // namespace plimra::cdaudio
