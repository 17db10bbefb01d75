#include "media/sequencer/song.h"

#include <filesystem>
#include <system_error>

#include "media/mci/mci.h"
#include "media/sequencer/tempo_map.h"

namespace plimra::seq {

namespace {

// Only messages a MIDI output can take: complete channel messages and
// system-exclusive data. Anything else a damaged file may hold is dropped.
bool playable(const SmfEvent& e) {
  if (e.kind == SmfEvent::Kind::Meta || e.bytes.empty()) return false;
  if (e.kind == SmfEvent::Kind::SysEx) return true;
  const uint8_t status = e.bytes[0];
  if (status < 0x80 || status >= 0xF0) return false;
  if (e.bytes.size() != static_cast<size_t>(1 + channelDataBytes(status))) return false;
  for (size_t i = 1; i < e.bytes.size(); ++i)
    if (e.bytes[i] & 0x80) return false;
  return true;
}

}  // namespace

std::shared_ptr<Song> songFromSmf(const Smf& smf) {
  auto song = std::make_shared<Song>();
  song->format = smf.format;
  song->trackCount = static_cast<uint32_t>(smf.tracks.size());
  song->warnings = smf.warnings;
  const TempoMap map(smf, 0);
  song->lengthNs = map.nanosAt(map.endTick());

  auto add = [&](const SmfEvent& e) {
    if (!playable(e)) return;
    song->events.push_back({map.nanosAt(e.tick), static_cast<uint32_t>(song->bytes.size()),
                            static_cast<uint32_t>(e.bytes.size())});
    song->bytes.insert(song->bytes.end(), e.bytes.begin(), e.bytes.end());
  };
  if (smf.format == 2) {
    if (!smf.tracks.empty())
      for (const auto& e : smf.tracks[0].events) add(e);
  } else {
    for (const SmfEvent* e : mergeTracks(smf)) add(*e);
  }
  if (!song->events.empty() && song->events.back().ns > song->lengthNs)
    song->lengthNs = song->events.back().ns;
  return song;
}

SongLoad loadSong(const std::string& path) {
  SongLoad out;
  std::error_code ec;
  if (path.empty() || !std::filesystem::is_regular_file(path, ec)) {
    out.code = mci::err::FileNotFound;
    out.error = path.empty() ? "No file was named." : "The file \"" + path + "\" does not exist.";
    return out;
  }
  SmfResult r = readSmfFile(path);
  if (!r.ok) {
    out.code = mci::err::InvalidFile;
    out.error = "\"" + path + "\" cannot be played: " + r.error;
    return out;
  }
  out.song = songFromSmf(r.smf);
  return out;
}

}  // namespace plimra::seq
