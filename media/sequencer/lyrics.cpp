#include "media/sequencer/lyrics.h"

#include <algorithm>
#include <map>
#include <string_view>

#include "media/sequencer/smf.h"
#include "media/sequencer/tempo_map.h"
#include "platform/cp932.h"

namespace plimra::seq {

namespace {

constexpr uint8_t kMetaText = 0x01;
constexpr uint8_t kMetaTrackName = 0x03;
constexpr uint8_t kMetaLyric = 0x05;
constexpr uint8_t kMetaTempo = 0x51;
constexpr uint64_t kNanosPerMs = 1'000'000;
// A song sings a few thousand syllables; a file of millions of tiny text
// events would otherwise cost far more memory as text than as a file.
constexpr size_t kMaxTextEvents = 65536;

struct TextEvent {
  uint32_t track = 0;
  uint64_t tick = 0;
  uint8_t type = 0;
  std::string bytes;
};

// Keeps the text meta events and the tempo changes; everything else of the
// file is of no use to the words.
class TextCollector : public SmfHandler {
 public:
  void event(uint32_t track, uint64_t tick, SmfEvent::Kind kind, uint8_t metaType,
             std::span<const uint8_t>, std::span<const uint8_t> body) override {
    if (kind != SmfEvent::Kind::Meta) return;
    if (metaType == kMetaTempo) {
      SmfEvent& t = tempos.emplace_back();
      t.tick = tick;
      t.track = track;
      t.kind = kind;
      t.metaType = metaType;
      t.bytes.assign(body.begin(), body.end());
    } else if (texts.size() < kMaxTextEvents &&
               (metaType == kMetaText || metaType == kMetaLyric ||
                (metaType == kMetaTrackName && track == 0 && !titleSeen_))) {
      titleSeen_ = titleSeen_ || metaType == kMetaTrackName;
      texts.push_back({track, tick, metaType, std::string(body.begin(), body.end())});
    }
  }

  std::vector<SmfEvent> tempos;
  std::vector<TextEvent> texts;

 private:
  bool titleSeen_ = false;
};

bool validUtf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    const auto b = static_cast<uint8_t>(s[i]);
    size_t len = b < 0x80             ? 1
                 : (b & 0xE0) == 0xC0 ? 2
                 : (b & 0xF0) == 0xE0 ? 3
                 : (b & 0xF8) == 0xF0 ? 4
                                      : 0;
    if (len == 0 || i + len > s.size()) return false;
    uint32_t c = len == 1 ? b : b & (0x7F >> len);
    for (size_t k = 1; k < len; ++k) {
      const auto t = static_cast<uint8_t>(s[i + k]);
      if ((t & 0xC0) != 0x80) return false;
      c = (c << 6) | (t & 0x3F);
    }
    // Overlong forms, surrogates and code points beyond Unicode.
    constexpr uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kLeast[len] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return false;
    i += len;
  }
  return true;
}

TextEncoding encodingOf(const std::vector<const TextEvent*>& texts) {
  if (std::all_of(texts.begin(), texts.end(),
                  [](const TextEvent* t) { return validUtf8(t->bytes); }))
    return TextEncoding::Utf8;
  if (std::all_of(texts.begin(), texts.end(),
                  [](const TextEvent* t) { return platform::cp932ToUtf8(t->bytes).has_value(); }))
    return TextEncoding::Cp932;
  return TextEncoding::Latin1;
}

std::string decode(std::string_view bytes, TextEncoding encoding) {
  switch (encoding) {
    case TextEncoding::Utf8:
      return std::string(bytes);
    case TextEncoding::Cp932:
      return platform::cp932ToUtf8Lenient(bytes);
    case TextEncoding::Latin1:
      break;
  }
  return platform::latin1ToUtf8(bytes);
}

bool isTag(const TextEvent& t) { return !t.bytes.empty() && t.bytes.front() == '@'; }

// The events that carry the words: the lyric events, else, in a karaoke
// file (its text events carry "@" tags), the text events of the track that
// holds most of them (the others hold notes on the file, not words).
std::vector<const TextEvent*> wordEvents(const std::vector<TextEvent>& texts) {
  std::vector<const TextEvent*> words;
  for (const TextEvent& t : texts)
    if (t.type == kMetaLyric) words.push_back(&t);
  if (!words.empty()) return words;
  if (std::none_of(texts.begin(), texts.end(),
                   [](const TextEvent& t) { return t.type == kMetaText && isTag(t); }))
    return words;
  std::map<uint32_t, size_t> perTrack;
  for (const TextEvent& t : texts)
    if (t.type == kMetaText && !isTag(t)) ++perTrack[t.track];
  if (perTrack.empty()) return words;
  const uint32_t track =
      std::max_element(perTrack.begin(), perTrack.end(), [](const auto& a, const auto& b) {
        return a.second < b.second;
      })->first;
  for (const TextEvent& t : texts)
    if (t.type == kMetaText && t.track == track && !isTag(t)) words.push_back(&t);
  return words;
}

// Builds the lines from the syllables in the order they are sung.
class LineBuilder {
 public:
  explicit LineBuilder(std::vector<LyricLine>& lines) : lines_(lines) {}

  void syllable(const std::string& text, uint64_t startMs) {
    std::string part;
    for (const char c : text) {
      if (c == '/' || c == '\r' || c == '\n' || c == '\\') {
        add(part, startMs);
        part.clear();
        endLine(c == '\\');
      } else if (c == '^' || c == '\t') {
        part += ' ';
      } else if (static_cast<uint8_t>(c) >= 0x20) {
        part += c;
      }
    }
    add(part, startMs);
  }
  void finish() {
    if (!line_.syllables.empty()) lines_.push_back(std::move(line_));
  }

 private:
  void add(const std::string& part, uint64_t startMs) {
    // A blank at the start of a line shows nothing.
    if (part.empty() || (line_.syllables.empty() && part.find_first_not_of(' ') == part.npos))
      return;
    line_.syllables.push_back({part, startMs});
  }
  void endLine(bool paragraph) {
    if (!line_.syllables.empty()) {
      lines_.push_back(std::move(line_));
      line_ = {};
    }
    line_.paragraphStart = line_.paragraphStart || paragraph;
  }

  std::vector<LyricLine>& lines_;
  LyricLine line_;
};

}  // namespace

std::string LyricLine::text() const {
  std::string out;
  for (const LyricSyllable& s : syllables) out += s.text;
  return out;
}

std::string Lyrics::text() const {
  std::string out;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) out += lines[i].paragraphStart ? "\n\n" : "\n";
    out += lines[i].text();
  }
  return out;
}

int Lyrics::lineAt(uint64_t positionMs) const {
  const auto after =
      std::upper_bound(lines.begin(), lines.end(), positionMs,
                       [](uint64_t ms, const LyricLine& line) { return ms < line.startMs(); });
  return static_cast<int>(after - lines.begin()) - 1;
}

namespace {

Lyrics lyricsFrom(SmfResult& read, TextCollector& collected) {
  Lyrics lyrics;
  if (!read.ok) return lyrics;
  for (SmfEvent& t : collected.tempos) read.smf.tracks[t.track].events.push_back(std::move(t));
  const SongClock clock(read.smf);

  std::vector<const TextEvent*> words = wordEvents(collected.texts);
  const TextEvent* title = nullptr;
  for (const TextEvent& t : collected.texts)
    if (t.type == kMetaTrackName) title = &t;
  std::vector<const TextEvent*> decided = words;
  if (title) decided.push_back(title);
  lyrics.encoding = encodingOf(decided);
  if (title) {
    lyrics.title = decode(title->bytes, lyrics.encoding);
    const size_t end = lyrics.title.find_last_not_of(std::string_view(" \0", 2));
    lyrics.title.erase(end == std::string::npos ? 0 : end + 1);
  }

  struct Timed {
    uint64_t ms;
    const TextEvent* event;
  };
  std::vector<Timed> timed;
  timed.reserve(words.size());
  for (const TextEvent* w : words)
    timed.push_back({clock.nanosAt(w->track, w->tick) / kNanosPerMs, w});
  // Tracks were read one after another: a stable sort keeps each instant's
  // syllables in track order, then file order.
  std::stable_sort(timed.begin(), timed.end(),
                   [](const Timed& a, const Timed& b) { return a.ms < b.ms; });
  LineBuilder lines(lyrics.lines);
  for (const Timed& t : timed) lines.syllable(decode(t.event->bytes, lyrics.encoding), t.ms);
  lines.finish();
  return lyrics;
}

}  // namespace

Lyrics lyricsOf(std::span<const uint8_t> data) {
  TextCollector collected;
  SmfResult read = parseSmf(data, collected);
  return lyricsFrom(read, collected);
}

Lyrics readLyrics(const std::string& path) {
  TextCollector collected;
  SmfResult read = readSmfFile(path, collected);
  return lyricsFrom(read, collected);
}

}  // namespace plimra::seq
