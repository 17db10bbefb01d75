// Builds Standard MIDI files for tests and benchmarks: raw chunks for the
// reader's malformed cases, a track builder for songs, and the one-note song
// the end-to-end tests play.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

namespace plimra::test {

using Bytes = std::vector<uint8_t>;

// The lowest `count` bytes of `v`, most significant first.
inline void putBig(Bytes& b, uint32_t v, int count) {
  for (int i = count - 1; i >= 0; --i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

inline void append(Bytes& to, const Bytes& more) { to.insert(to.end(), more.begin(), more.end()); }

inline void putVlq(Bytes& b, uint32_t v) {
  uint8_t buf[5];
  int n = 0;
  buf[n++] = v & 0x7F;
  while (v >>= 7) buf[n++] = static_cast<uint8_t>(0x80 | (v & 0x7F));
  while (n) b.push_back(buf[--n]);
}

inline Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) append(out, p);
  return out;
}

// A chunk whose length field may lie, for the reader's damaged files.
inline Bytes chunk(const char* id, const Bytes& body, uint32_t declaredLength) {
  Bytes out(id, id + 4);
  putBig(out, declaredLength, 4);
  append(out, body);
  return out;
}
inline Bytes chunk(const char* id, const Bytes& body) {
  return chunk(id, body, static_cast<uint32_t>(body.size()));
}

inline Bytes header(uint16_t format, uint16_t tracks, uint16_t division) {
  Bytes body;
  for (uint16_t v : {format, tracks, division}) putBig(body, v, 2);
  return chunk("MThd", body);
}

// The events of one track at absolute ticks, added in tick order. A message
// that starts with 0xF0 is a system-exclusive message written whole.
class Track {
 public:
  Track& at(uint32_t tick, const Bytes& message) {
    putVlq(bytes_, tick - last_);
    last_ = tick;
    if (!message.empty() && message[0] == 0xF0) {
      bytes_.push_back(0xF0);
      putVlq(bytes_, static_cast<uint32_t>(message.size() - 1));
      append(bytes_, Bytes(message.begin() + 1, message.end()));
    } else {
      append(bytes_, message);
    }
    return *this;
  }
  Track& tempo(uint32_t tick, uint32_t usPerQuarter) {
    Bytes meta{0xFF, 0x51, 0x03};
    putBig(meta, usPerQuarter, 3);
    return at(tick, meta);
  }
  // A meta event of `type` holding `text` as it is, byte for byte: a track
  // name (0x03), a text event (0x01), a marker (0x06), a lyric (0x05).
  Track& meta(uint32_t tick, uint8_t type, const std::string& text) {
    Bytes m{0xFF, type};
    putVlq(m, static_cast<uint32_t>(text.size()));
    m.insert(m.end(), text.begin(), text.end());
    return at(tick, m);
  }
  Track& marker(uint32_t tick, const std::string& text) { return meta(tick, 0x06, text); }
  // The track's bytes, closed by an end of track at `endTick`.
  Bytes finish(uint32_t endTick) {
    at(endTick, {0xFF, 0x2F, 0x00});
    return bytes_;
  }

 private:
  Bytes bytes_;
  uint32_t last_ = 0;
};

inline Bytes smf(uint16_t format, uint16_t division, const std::vector<Bytes>& tracks) {
  Bytes f = header(format, static_cast<uint16_t>(tracks.size()), division);
  for (const Bytes& t : tracks) append(f, chunk("MTrk", t));
  return f;
}

// One note of `ms` milliseconds on `program`, at 1000 ticks a quarter and
// 1,000,000 us a quarter (a tick is a millisecond). Note 0 writes the pause
// alone.
inline Bytes noteSong(int note, uint32_t ms, int program = 79) {
  Track t;
  t.tempo(0, 1000000).at(0, {0xC0, static_cast<uint8_t>(program)});
  const auto key = static_cast<uint8_t>(note);
  if (note > 0) t.at(0, {0x90, key, 100}).at(ms, {0x80, key, 0});
  return smf(0, 1000, {t.finish(ms)});
}

// 480 ticks a quarter; 500000 us a quarter from tick 0, 250000 from 960,
// 1000000 from 1440. Notes on channel 1 at ticks 0, 480, 960, 1200, 1440,
// 1920 (0, 500, 1000, 1125, 1250, 2250 ms), a system-exclusive message at
// 960, the end at 2400 (3250 ms).
inline Bytes tempoSong() {
  Track t;
  t.tempo(0, 500000).at(0, {0xC0, 5}).at(0, {0x90, 60, 100});
  t.at(480, {0x80, 60, 0}).at(480, {0x90, 62, 100});
  t.tempo(960, 250000).at(960, {0x80, 62, 0}).at(960, {0x90, 64, 100});
  t.at(960, {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7});
  t.at(1200, {0x80, 64, 0}).at(1200, {0xB0, 64, 127}).at(1200, {0x90, 65, 100});
  t.tempo(1440, 1000000).at(1440, {0x80, 65, 0}).at(1440, {0x90, 67, 100});
  t.at(1920, {0x80, 67, 0});
  return smf(0, 480, {t.finish(2400)});
}

// The songs with words the tests and the benchmark sing, at 1000 ticks a
// quarter and 1,000,000 us a quarter (a tick is a millisecond) up to tick
// 1000, where the tempo doubles (a tick is half a millisecond from then on).
// The words in the second track, a note under each syllable:
//  - Shift-JIS lyric events with "/" breaks: "さくら/" at 0, "表" (its
//    second byte is a backslash) at 500, "ソラ" at 1000, "/" then "はな" at
//    1400 (1200 ms); the first track is named "春の歌" in Shift-JIS.
//  - A karaoke file named .KAR, "@KMIDI KARAOKE FILE" and "@TTitle" tags
//    and a note on the file in the first track; text events "\Hap" and
//    "py " at 0 and 500, "/birth" and "day" at 1000 and 1200 (1100 ms).
//  - UTF-8 lyrics "Grüße " at 0, "an " at 500, "dich/" at 1000, "ÄÖ" at
//    1200 (1100 ms); no track name.
//  - A Latin-1 lyric "Café" (one byte 0xE9) at 0 and "^au^lait" at 500.
struct LyricSong {
  const char* name;
  Bytes bytes;
};
inline std::vector<LyricSong> lyricSongs() {
  auto song = [](const std::vector<std::pair<uint32_t, std::string>>& words, uint8_t type,
                 const std::string& title, const std::vector<std::string>& texts) {
    Track first, sung;
    if (!title.empty()) first.meta(0, 0x03, title);
    for (const std::string& text : texts) first.meta(0, 0x01, text);
    first.tempo(0, 1000000).tempo(1000, 500000);
    for (const auto& [tick, text] : words)
      sung.meta(tick, type, text).at(tick, {0x90, 60, 100}).at(tick + 100, {0x80, 60, 0});
    return smf(1, 1000, {first.finish(2000), sung.finish(2000)});
  };
  return {
      {"sakura.mid", song({{0, "\x82\xB3\x82\xAD\x82\xE7/"},
                           {500, "\x95\x5C"},
                           {1000, "\x83\x5C\x83\x89"},
                           {1400, "/\x82\xCD\x82\xC8"}},
                          0x05, "\x8F\x74\x82\xCC\x89\xCC", {})},
      {"birthday.KAR", song({{0, "\\Hap"}, {500, "py "}, {1000, "/birth"}, {1200, "day"}}, 0x01, "",
                            {"@KMIDI KARAOKE FILE", "@TTitle", "(c) nobody"})},
      {"gruesse.mid",
       song({{0, "Grüße "}, {500, "an "}, {1000, "dich/"}, {1200, "ÄÖ"}}, 0x05, "", {})},
      {"cafe.mid", song({{0, "Caf\xE9"}, {500, "^au^lait"}}, 0x05, "", {})},
  };
}

// What a stop or a close sends: All Notes Off, All Sound Off and sustain off
// on every channel.
inline std::vector<Bytes> closingSilence() {
  std::vector<Bytes> all;
  for (uint8_t ch = 0; ch < 16; ++ch)
    for (uint8_t cc : {123, 120, 64}) all.push_back({uint8_t(0xB0 | ch), cc, 0});
  return all;
}

inline bool writeFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  return static_cast<bool>(out.write(reinterpret_cast<const char*>(bytes.data()),
                                     static_cast<std::streamsize>(bytes.size())));
}

inline Bytes readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Writes the bytes to a file of the temporary folder named after this
// process, so that tests running side by side do not share it. The file is
// removed when the process ends.
inline std::string writeTemp(const std::string& name, const Bytes& bytes) {
  struct Written {
    std::vector<std::string> paths;
    ~Written() {
      for (const std::string& p : paths) std::remove(p.c_str());
    }
  };
  static Written written;
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("plimra-" + std::to_string(::getpid()) + "-" + name))
                               .string();
  if (!writeFile(path, bytes)) return {};
  written.paths.push_back(path);
  return path;
}

#ifdef PLIMRA_TESTDATA
// A file of the peer collection in tests/data/midi.
inline std::string peerFile(const std::string& name) {
  return std::string(PLIMRA_TESTDATA) + "/midi/" + name;
}
#endif

}  // namespace plimra::test
