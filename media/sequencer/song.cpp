#include "media/sequencer/song.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string_view>
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
    noteLoopPoint(track, tick, kind, metaType, head, body);
    if (track != portTrack_) {
      portTrack_ = track;
      port_ = 0;  // a track without a port meta event plays on the first port
    }
    if (kind == SmfEvent::Kind::Meta && metaType == kMetaPort && !body.empty()) {
      setPort(track, body[0]);
      return;
    }
    if (kind == SmfEvent::Kind::Meta && metaType == kMetaTempo) {
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
      runs_.push_back({song_.events.size(), track});
      lastTrack_ = track;
    }
    Song::Event& e = song_.events.emplace_back();
    e.ns = tick;
    e.offset = static_cast<uint32_t>(song_.bytes.size());
    e.size = static_cast<uint32_t>(head.size() + body.size());
    e.port = port_;
    song_.bytes.insert(song_.bytes.end(), head.begin(), head.end());
    song_.bytes.insert(song_.bytes.end(), body.begin(), body.end());
  }

  // Times every event from the tempo map of `smf` (whose tracks hold no
  // events yet) and puts them in playing order.
  void finish(Smf& smf) {
    for (SmfEvent& t : tempos_) smf.tracks[t.track].events.push_back(std::move(t));
    tempos_.clear();
    auto& ev = song_.events;
    auto runEnd = [&](size_t r) { return r + 1 < runs_.size() ? runs_[r + 1].begin : ev.size(); };
    if (smf.format == 2) {
      // Each sequence starts where the one before it ends, timed by its own
      // tempo map; its events already follow those of the sequences before.
      const SongClock clock(smf);
      for (size_t r = 0; r < runs_.size(); ++r)
        for (size_t i = runs_[r].begin; i < runEnd(r); ++i)
          ev[i].ns = clock.nanosAt(runs_[r].track, ev[i].ns);
      song_.lengthNs = clock.lengthNs();
    } else {
      // Each track's run is in tick order; merging neighbours keeps equal
      // ticks in track order, then file order.
      auto byTick = [](const Song::Event& a, const Song::Event& b) { return a.ns < b.ns; };
      while (runs_.size() > 1) {
        std::vector<Run> merged;
        for (size_t i = 0; i < runs_.size(); i += 2) {
          merged.push_back(runs_[i]);
          if (i + 1 == runs_.size()) break;
          std::inplace_merge(ev.begin() + static_cast<ptrdiff_t>(runs_[i].begin),
                             ev.begin() + static_cast<ptrdiff_t>(runs_[i + 1].begin),
                             ev.begin() + static_cast<ptrdiff_t>(runEnd(i + 1)), byTick);
        }
        runs_ = std::move(merged);
      }
      const TempoMap map(smf);
      for (Song::Event& e : ev) e.ns = map.nanosAt(e.ns);
      song_.lengthNs = map.nanosAt(map.endTick());
    }
    runs_ = {};
    if (!ev.empty() && ev.back().ns > song_.lengthNs) song_.lengthNs = ev.back().ns;
    findLoop(smf);
  }

  std::vector<std::string> warnings;

 private:
  static constexpr uint8_t kMetaPort = 0x21;
  static constexpr uint8_t kMetaTempo = 0x51;
  static constexpr uint8_t kMetaMarker = 0x06;
  static constexpr uint8_t kLoopStartController = 111;

  // The first of each kind of loop point: in file order (which is playing
  // order for format 2) and by tick (for the merged tracks of 0 and 1).
  struct Mark {
    bool seen = false;
    uint32_t track = 0;
    uint64_t tick = 0;
  };
  struct Marks {
    Mark inFileOrder, byTick;
    void note(uint32_t track, uint64_t tick) {
      if (!inFileOrder.seen) inFileOrder = {true, track, tick};
      if (!byTick.seen || tick < byTick.tick) byTick = {true, track, tick};
    }
  };

  static bool isMarker(std::span<const uint8_t> text, std::string_view name) {
    while (!text.empty() && (text.back() == ' ' || text.back() == 0))
      text = text.first(text.size() - 1);
    return text.size() == name.size() &&
           std::equal(text.begin(), text.end(), name.begin(), [](uint8_t a, char b) {
             return std::tolower(a) == std::tolower(static_cast<unsigned char>(b));
           });
  }

  void noteLoopPoint(uint32_t track, uint64_t tick, SmfEvent::Kind kind, uint8_t metaType,
                     std::span<const uint8_t> head, std::span<const uint8_t> body) {
    if (kind == SmfEvent::Kind::Meta && metaType == kMetaMarker) {
      if (isMarker(body, "loopStart")) loopStart_.note(track, tick);
      if (isMarker(body, "loopEnd")) loopEnd_.note(track, tick);
      return;
    }
    if (kind != SmfEvent::Kind::Channel || head.size() + body.size() != 3) return;
    auto at = [&](size_t i) { return i < head.size() ? head[i] : body[i - head.size()]; };
    if ((at(0) & 0xF0) == 0xB0 && at(1) == kLoopStartController) loopStart_.note(track, tick);
  }

  // The loop points' times; a start at the very end, or an end at or
  // before the start, goes round nothing and is not kept.
  void findLoop(const Smf& smf) {
    const bool format2 = smf.format == 2;
    const Mark start = format2 ? loopStart_.inFileOrder : loopStart_.byTick;
    const Mark end = format2 ? loopEnd_.inFileOrder : loopEnd_.byTick;
    if (!start.seen) return;
    auto nanos = [&](const Mark& m) {
      if (!format2) return TempoMap(smf).nanosAt(m.tick);
      uint64_t at = 0;
      for (uint32_t t = 0; t < m.track && t < smf.tracks.size(); ++t) {
        const TempoMap map(smf, t);
        at = addSaturated(at, map.nanosAt(map.endTick()));
      }
      return addSaturated(at, TempoMap(smf, m.track).nanosAt(m.tick));
    };
    LoopPoints loop;
    loop.startTick = start.tick;
    loop.startNs = nanos(start);
    loop.endTick = end.tick;
    loop.endNs = end.seen ? nanos(end) : song_.lengthNs;
    if (!end.seen || loop.endNs <= loop.startNs || loop.endNs > song_.lengthNs) {
      // The song's end: the latest End of Track.
      loop.endTick = format2 ? TempoMap(smf, static_cast<uint32_t>(smf.tracks.size() - 1)).endTick()
                             : TempoMap(smf).endTick();
      loop.endNs = song_.lengthNs;
    }
    if (loop.endNs < loop.startNs || loop.endNs - loop.startNs < kMinLoopNs) return;
    song_.loop = loop;
  }

  // Ports beyond the two a song can address wrap around, so that every part
  // is heard, though some share channels; a warning says so, once a track.
  void setPort(uint32_t track, uint8_t port) {
    port_ = port % kPorts;
    if (port < kPorts || warnedTrack_ == track) return;
    warnedTrack_ = track;
    warnings.push_back("track " + std::to_string(track + 1) + ": port " + std::to_string(port) +
                       " plays as port " + std::to_string(port_) + " (there are ports 0 and 1)");
  }

  struct Run {
    size_t begin;  // index of the track's first event
    uint32_t track;
  };

  Song& song_;
  std::vector<SmfEvent> tempos_;
  std::vector<Run> runs_;  // one per track that has events
  uint32_t lastTrack_ = UINT32_MAX;
  uint32_t portTrack_ = UINT32_MAX;
  uint32_t warnedTrack_ = UINT32_MAX;
  uint8_t port_ = 0;
  Marks loopStart_, loopEnd_;
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
  for (auto& w : builder.warnings) song->warnings.push_back(std::move(w));
  out.song = std::move(song);
  return out;
}

}  // namespace plimra::seq
