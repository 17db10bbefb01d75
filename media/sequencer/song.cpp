#include "media/sequencer/song.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "media/mci/mci.h"
#include "media/sequencer/tempo_map.h"

namespace plimra::seq {

namespace {

// Only messages a MIDI output can take: complete channel messages and
// system-exclusive data. Anything else a damaged file may hold is dropped.
// The message is `head` followed by `body`.
bool playable(SmfEvent::Kind kind, std::span<const uint8_t> head, std::span<const uint8_t> body) {
  const size_t size = head.size() + body.size();
  if (kind == SmfEvent::Kind::Meta || size == 0) return false;
  if (kind == SmfEvent::Kind::SysEx) return true;
  auto at = [&](size_t i) { return i < head.size() ? head[i] : body[i - head.size()]; };
  const uint8_t status = at(0);
  if (status < 0x80 || status >= 0xF0) return false;
  if (size != static_cast<size_t>(1 + channelDataBytes(status))) return false;
  for (size_t i = 1; i < size; ++i)
    if (at(i) & 0x80) return false;
  return true;
}

constexpr uint8_t kBankSelectMsb = 0;
constexpr uint8_t kXgDrumBank = 127;
// XG System On after its F0; the third byte is 0x1n for device number n.
constexpr uint8_t kXgSystemOn[] = {0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7};

// Whether the message (`head` then `body`) is one only an XG song sends.
bool meantForXg(std::span<const uint8_t> head, std::span<const uint8_t> body) {
  if (head.size() != 1) return false;
  if (head[0] == 0xF0) {
    if (body.size() != std::size(kXgSystemOn)) return false;
    for (size_t i = 0; i < body.size(); ++i)
      if (i == 1 ? (body[i] & 0xF0) != kXgSystemOn[i] : body[i] != kXgSystemOn[i]) return false;
    return true;
  }
  return (head[0] & 0xF0) == 0xB0 && body.size() == 2 && body[0] == kBankSelectMsb &&
         body[1] == kXgDrumBank;
}

// Builds a song straight from the file's events, without keeping the
// parsed file beside it: a 16 MiB file of tiny events is millions of them.
// Events are kept track after track with their ticks in place of times,
// merged in place and timed once the tempo map is known.
class SongBuilder : public SmfHandler {
 public:
  SongBuilder(Song& song, size_t fileBytes) : song_(song) {
    // Every event takes at least two bytes of the file and no more bytes in
    // the song than in the file. Pages reserved but never filled cost no
    // memory.
    song_.events.reserve(fileBytes / 2 + 1);
    song_.bytes.reserve(fileBytes);
  }

  void event(uint32_t track, uint64_t tick, SmfEvent::Kind kind, uint8_t metaType,
             std::span<const uint8_t> head, std::span<const uint8_t> body) override {
    if (kind == SmfEvent::Kind::Meta && metaType == 0x51) {
      SmfEvent tempo;
      tempo.tick = tick;
      tempo.track = track;
      tempo.kind = kind;
      tempo.metaType = metaType;
      tempo.bytes.assign(body.begin(), body.end());
      tempos_.push_back(std::move(tempo));
      return;
    }
    if (!playable(kind, head, body)) return;
    if (meantForXg(head, body)) song_.xg = true;
    if (track != lastTrack_) {
      runs_.push_back(song_.events.size());
      lastTrack_ = track;
    }
    trackOf_.push_back(track == 0);
    song_.events.push_back({tick, static_cast<uint32_t>(song_.bytes.size()),
                            static_cast<uint32_t>(head.size() + body.size())});
    song_.bytes.insert(song_.bytes.end(), head.begin(), head.end());
    song_.bytes.insert(song_.bytes.end(), body.begin(), body.end());
  }

  // Times every event from the tempo map of `smf` (whose tracks hold no
  // events yet) and puts them in playing order.
  void finish(Smf& smf) {
    for (SmfEvent& t : tempos_) smf.tracks[t.track].events.push_back(std::move(t));
    tempos_.clear();
    const TempoMap map(smf, 0);
    auto& ev = song_.events;
    if (smf.format == 2) {
      // Format 2 files play their first sequence, the one the map describes.
      size_t kept = 0;
      for (size_t i = 0; i < ev.size(); ++i)
        if (trackOf_[i]) ev[kept++] = ev[i];
      ev.resize(kept);
    } else {
      // Each track's run is in tick order; merging neighbours keeps equal
      // ticks in track order, then file order.
      auto byTick = [](const Song::Event& a, const Song::Event& b) { return a.ns < b.ns; };
      while (runs_.size() > 1) {
        std::vector<size_t> merged;
        for (size_t i = 0; i < runs_.size(); i += 2) {
          merged.push_back(runs_[i]);
          if (i + 1 == runs_.size()) break;
          const size_t end = i + 2 < runs_.size() ? runs_[i + 2] : ev.size();
          std::inplace_merge(ev.begin() + static_cast<ptrdiff_t>(runs_[i]),
                             ev.begin() + static_cast<ptrdiff_t>(runs_[i + 1]),
                             ev.begin() + static_cast<ptrdiff_t>(end), byTick);
        }
        runs_ = std::move(merged);
      }
    }
    trackOf_ = {};
    for (Song::Event& e : ev) e.ns = map.nanosAt(e.ns);
    song_.lengthNs = map.nanosAt(map.endTick());
    if (!ev.empty() && ev.back().ns > song_.lengthNs) song_.lengthNs = ev.back().ns;
  }

 private:
  Song& song_;
  std::vector<SmfEvent> tempos_;
  std::vector<size_t> runs_;   // where each track's events begin
  std::vector<bool> trackOf_;  // per event: from the first track
  uint32_t lastTrack_ = UINT32_MAX;
};

}  // namespace

SongLoad loadSong(const std::string& path) {
  SongLoad out;
  std::error_code ec;
  if (path.empty() || !std::filesystem::is_regular_file(path, ec)) {
    out.code = mci::err::FileNotFound;
    out.error = path.empty() ? "No file was named." : "The file \"" + path + "\" does not exist.";
    return out;
  }
  auto song = std::make_shared<Song>();
  std::error_code sizeError;
  const auto fileBytes = std::filesystem::file_size(path, sizeError);
  SongBuilder builder(*song, sizeError ? 0 : std::min<uintmax_t>(fileBytes, kMaxSmfFileBytes));
  SmfResult r = readSmfFile(path, builder);
  if (!r.ok) {
    out.code = mci::err::InvalidFile;
    out.error = "\"" + path + "\" cannot be played: " + r.error;
    return out;
  }
  builder.finish(r.smf);
  song->format = r.smf.format;
  song->trackCount = static_cast<uint32_t>(r.smf.tracks.size());
  song->warnings = std::move(r.smf.warnings);
  out.song = std::move(song);
  return out;
}

}  // namespace plimra::seq
