// The MIDI file reader and the tempo map, on the peer files and on files
// built byte by byte.
#include <gtest/gtest.h>

#include <limits>

#include "media/sequencer/lyrics.h"
#include "media/sequencer/smf.h"
#include "media/sequencer/tempo_map.h"
#include "tests/support/kept_events.h"
#include "tests/support/midi_file.h"

using namespace plimra::seq;
using namespace plimra::test;

namespace {

const Bytes kNote = {0x00, 0x90, 0x3c, 0x40, 0x60, 0x80, 0x3c, 0x40, 0x00, 0xff, 0x2f, 0x00};

// The channel messages of a track, with their ticks.
std::vector<std::pair<uint64_t, Bytes>> channelEvents(const SmfTrack& t) {
  std::vector<std::pair<uint64_t, Bytes>> out;
  for (const SmfEvent& e : t.events)
    if (e.kind == SmfEvent::Kind::Channel) out.emplace_back(e.tick, e.bytes);
  return out;
}

Smf parseOk(const Bytes& bytes) {
  SmfResult r = parseKeeping(bytes);
  EXPECT_TRUE(r.ok) << r.error;
  EXPECT_TRUE(r.smf.warnings.empty()) << r.smf.warnings.front();
  return r.smf;
}

}  // namespace

// Lengths in ticks worked out by hand from each file's bytes. A damaged
// file plays what can be read, with a warning.
TEST(SmfPeerFiles, OpenWithTheirLength) {
  const auto scale =
      channelEvents(readKeeping(peerFile("test-c-major-scale.mid")).smf.tracks.at(0));
  ASSERT_EQ(scale.size(), 16u);
  const struct {
    const char* name;
    uint64_t endTick;
    size_t warnings;
    bool scale;  // the notes of the C major scale file are there, intact
  } cases[] = {
      {"test-c-major-scale.mid", 768, 0, false},         // 8 notes of 0x60
      {"test-vlq-3-byte.mid", 768, 0, false},            // 8 notes of 80 80 60
      {"test-silence-end-of-track.mid", 960, 0, false},  // End of Track after 87 40 = 960
      {"test-track-length.mid", 288, 0, false},          // note 0x60, then 81 40 = 192 of rest
      {"test-2-tracks-type-1.mid", 864, 0, false},       // rest 0x60, then 8 notes
      {"test-non-midi-track.mid", 768, 0, false},        // a chunk of another kind among the tracks
      {"test-empty.mid", 0, 0, false},
      // End of Track's last byte is missing.
      {"test-corrupt-file-missing-byte.mid", 768, 1, true},
      // System messages that a file may not hold are skipped, not sent.
      {"test-illegal-message-all.mid", 768, 1, true},
      // Format 0 with two tracks: both play.
      {"test-2-tracks-type-0.mid", 864, 1, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SmfResult r = readKeeping(peerFile(c.name));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.smf.warnings.size(), c.warnings);
    EXPECT_EQ(TempoMap(r.smf).endTick(), c.endTick);
    if (c.scale) {
      EXPECT_EQ(channelEvents(r.smf.tracks[0]), scale);
    }
  }
}

// Running status survives meta events, SysEx and escapes. SysEx comes whole
// (F0 form) or in packets (F7 form), each with the bytes the file holds.
TEST(SmfReader, RunningStatusAndSysExForms) {
  const Bytes track = {0x00, 0x90, 0x3c, 0x40,              // note on, sets running status
                       0x10, 0xff, 0x01, 0x02, 'h',  'i',   // text
                       0x10, 0x3e, 0x40,                    // running status after meta
                       0x10, 0xf0, 0x03, 0x7e, 0x09, 0xf7,  // SysEx, whole
                       0x10, 0x40, 0x41,                    // running status after SysEx
                       0x10, 0xf7, 0x02, 0xf3, 0x01,        // escape
                       0x10, 0x41, 0x42,                    // running status after escape
                       0x10, 0xc5, 0x07, 0x10, 0x08,        // one data byte, running
                       0x00, 0xf0, 0x03, 0x43, 0x12, 0x00,  // first packet
                       0x60, 0xf7, 0x03, 0x43, 0x12, 0xf7,  // continuation
                       0x00, 0xf7, 0x00,                    // empty escape
                       0x00, 0xff, 0x2f, 0x00};
  SmfResult r = parseKeeping(cat({header(0, 1, 96), chunk("MTrk", track)}));
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_TRUE(r.smf.warnings.empty());
  std::vector<Bytes> got;
  for (const SmfEvent& e : r.smf.tracks[0].events)
    if (e.kind != SmfEvent::Kind::Meta) got.push_back(e.bytes);
  const std::vector<Bytes> want = {{0x90, 0x3c, 0x40},
                                   {0x90, 0x3e, 0x40},
                                   {0xf0, 0x7e, 0x09, 0xf7},
                                   {0x90, 0x40, 0x41},
                                   {0xf3, 0x01},
                                   {0x90, 0x41, 0x42},
                                   {0xc5, 0x07},
                                   {0xc5, 0x08},
                                   {0xf0, 0x43, 0x12, 0x00},
                                   {0x43, 0x12, 0xf7},
                                   {}};
  EXPECT_EQ(got, want);
  EXPECT_EQ(r.smf.tracks[0].endTick, 0xe0u);
}

// A RIFF RMID file holds a MIDI file in its "data" chunk, after chunks that
// may be padded to an even size; one without it is refused.
TEST(SmfReader, RiffContainers) {
  const std::string scale = peerFile("test-c-major-scale.mid");
  const Bytes smf = readFile(scale);
  auto le = [](size_t v) {
    return Bytes{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
  };
  const Bytes info = {'I', 'N', 'F', 'O', 'a', 'b', 'c'};
  const Bytes list = cat({{'L', 'I', 'S', 'T'}, le(info.size()), info});
  const Bytes body =
      cat({{'R', 'M', 'I', 'D'}, list, {0}, {'d', 'a', 't', 'a'}, le(smf.size()), smf});
  SmfResult r = parseKeeping(cat({{'R', 'I', 'F', 'F'}, le(body.size()), body}));
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(channelEvents(r.smf.tracks[0]), channelEvents(readKeeping(scale).smf.tracks[0]));
  r = parseKeeping(cat({{'R', 'I', 'F', 'F'}, le(16), {'R', 'M', 'I', 'D'}, list}));
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.error.find("RIFF"), std::string::npos);
}

// Hostile headers and lengths: nothing is reserved for what is not there,
// and the events before the damage survive, with one warning.
TEST(SmfReader, HostileLengthsStayBounded) {
  // 65535 tracks announced, one present.
  SmfResult r = parseKeeping(cat({header(1, 0xffff, 96), chunk("MTrk", kNote)}));
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.smf.tracks.size(), 1u);
  EXPECT_LE(r.smf.tracks.capacity(), 4u);
  EXPECT_EQ(r.smf.warnings.size(), 1u);
  // A track length of 4 GB, the file cut short inside it: the bytes present
  // are read, and the loss is reported.
  const Bytes cut(kNote.begin(), kNote.end() - 4);
  r = parseKeeping(cat({header(0, 1, 96), chunk("MTrk", cut, 0xffffffff)}));
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.smf.tracks[0].events.size(), 2u);
  EXPECT_EQ(r.smf.warnings.size(), 1u);
  EXPECT_LT(r.smf.tracks[0].events.capacity(), 16u);

  // Lengths inside a track that point past its end, VLQs of five bytes, a
  // status byte where data belongs: the note before survives, and the time
  // before the damaged event adds no silence.
  const Bytes bad[] = {
      {0x60, 0xff, 0x01, 0x8f, 0xff, 0xff, 0x7f, 'x'},   // 256 MB text
      {0x60, 0xf0, 0x8f, 0xff, 0xff, 0x7f, 0xf7},        // 256 MB SysEx
      {0x80, 0x80, 0x80, 0x80, 0x00, 0x90, 0x3c, 0x40},  // delta of five bytes
      {0x60, 0xff, 0x01, 0x80, 0x80, 0x80, 0x80, 0x01, 'x'},
      {0x60, 0x90, 0x3c, 0x90},
  };
  for (const Bytes& tail : bad) {
    r = parseKeeping(cat({header(0, 1, 96), chunk("MTrk", cat({{0x00, 0x90, 0x3c, 0x40}, tail}))}));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.smf.tracks[0].events.size(), 1u);
    EXPECT_EQ(r.smf.tracks[0].endTick, 0u);
    EXPECT_EQ(r.smf.warnings.size(), 1u);
    EXPECT_LT(r.smf.tracks[0].events.capacity(), 16u);
  }
  // A track beyond the announced count is left out, and said so.
  r = parseKeeping(cat({header(1, 1, 96), chunk("MTrk", kNote), chunk("MTrk", kNote)}));
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.smf.tracks.size(), 1u);
  EXPECT_EQ(r.smf.warnings.size(), 1u);
}

// Ten minutes of music with a new tempo every seven eighths of a beat,
// timed every eighth of a beat: rarely a whole number of microseconds, so
// any rounding that carried over from one tempo to the next would add up.
TEST(TempoMap, ExactAfterTenMinutesOfTempoChanges) {
  constexpr uint32_t tpq = 480, step = 60, span = 420;
  std::vector<uint32_t> tempos;
  uint64_t songScaled = 0;  // microseconds x tpq
  Track conductor;
  while (songScaled < uint64_t(600'000'000) * tpq) {
    tempos.push_back(400'001 + uint32_t(tempos.size() * 7919 % 200'000));
    conductor.tempo(uint32_t(tempos.size() - 1) * span, tempos.back());
    songScaled += uint64_t(tempos.back()) * span;
  }
  const TempoMap map(parseOk(smf(0, tpq, {conductor.finish(uint32_t(tempos.size()) * span)})));
  uint64_t startScaled = 0;
  for (size_t i = 0; i < tempos.size(); ++i) {
    for (uint32_t offset = 0; offset < span; offset += step) {
      const uint64_t scaled = startScaled + uint64_t(offset) * tempos[i];
      ASSERT_EQ(map.nanosAt(i * span + offset), scaled * 1000 / tpq) << i;
    }
    startScaled += uint64_t(tempos[i]) * span;
  }
  EXPECT_EQ(map.nanosAt(map.endTick()), songScaled * 1000 / tpq);
}

// Of two tempo changes at one tick the later wins; a zero tempo and a cut
// tempo event are ignored. Times past what 64 bits hold come out as the
// largest time, never wrapped into a short one: the slowest tempo at one
// tick a quarter, then a change where the time is already past 64 bits of
// nanoseconds.
TEST(TempoMap, WhichTempoEventsCountAndHugeTimesSaturate) {
  Track t;
  t.tempo(0, 250000).tempo(480, 1000000).tempo(480, 750000).tempo(480, 0);
  t.at(480, {0xff, 0x51, 0x02, 0x01, 0x02});
  const TempoMap counted(parseOk(smf(0, 480, {t.finish(960)})));
  EXPECT_EQ(counted.nanosAt(480), 250'000'000u);
  EXPECT_EQ(counted.nanosAt(960), 1'000'000'000u);

  using Kind = SmfEvent::Kind;
  Smf huge;
  huge.ticksPerQuarter = 1;
  huge.tracks.push_back({{{0, 0, Kind::Meta, 0x51, {0xff, 0xff, 0xff}},
                          {uint64_t(1) << 61, 0, Kind::Meta, 0x51, {0x00, 0x00, 0x01}}},
                         uint64_t(1) << 62});
  const TempoMap map(huge);
  EXPECT_EQ(map.nanosAt(uint64_t(1) << 30), (uint64_t(1) << 30) * 0xffffff * 1000);
  EXPECT_EQ(map.nanosAt(uint64_t(1) << 40), std::numeric_limits<uint64_t>::max());
  EXPECT_EQ(map.nanosAt(map.endTick()), std::numeric_limits<uint64_t>::max());
}

// The words of the four songs: lines broken where the conventions say, the
// syllables timed on the tempo map, one encoding for the whole song (the
// backslash that ends the Shift-JIS "表" and "ソ" breaks nothing), the karaoke
// file's tags and its note on the file left out, the title from the first
// track's name.
TEST(Lyrics, LinesTimesAndOneEncodingPerSong) {
  using Line = std::vector<std::pair<uint64_t, std::string>>;
  struct Expected {
    TextEncoding encoding;
    std::string title;
    std::vector<Line> lines;
    std::string text;
  };
  const Expected expected[] = {
      {TextEncoding::Cp932,
       "春の歌",
       {{{0, "さくら"}}, {{500, "表"}, {1000, "ソラ"}}, {{1200, "はな"}}},
       "さくら\n表ソラ\nはな"},
      {TextEncoding::Utf8,
       "",
       {{{0, "Hap"}, {500, "py "}}, {{1000, "birth"}, {1100, "day"}}},
       "Happy \nbirthday"},
      {TextEncoding::Utf8,
       "",
       {{{0, "Grüße "}, {500, "an "}, {1000, "dich"}}, {{1100, "ÄÖ"}}},
       "Grüße an dich\nÄÖ"},
      {TextEncoding::Latin1, "", {{{0, "Café"}, {500, " au lait"}}}, "Café au lait"},
  };
  const auto songs = lyricSongs();
  ASSERT_EQ(songs.size(), std::size(expected));
  for (size_t i = 0; i < songs.size(); ++i) {
    SCOPED_TRACE(songs[i].name);
    const Lyrics lyrics = readLyrics(writeTemp(songs[i].name, songs[i].bytes));
    EXPECT_EQ(lyrics.encoding, expected[i].encoding);
    EXPECT_EQ(lyrics.title, expected[i].title);
    std::vector<Line> lines;
    for (const LyricLine& l : lyrics.lines) {
      lines.emplace_back();
      for (const LyricSyllable& s : l.syllables) lines.back().emplace_back(s.startMs, s.text);
    }
    EXPECT_EQ(lines, expected[i].lines);
    EXPECT_EQ(lyrics.text(), expected[i].text);
  }
}

// A paragraph mark gives a blank line in the whole text; the line sung is
// the last one begun, none before the first; a song without words, or a
// file that is not a song, has no lines.
TEST(Lyrics, ParagraphsLineAtAndNoWords) {
  Track t;
  t.tempo(0, 1000000).meta(100, 0x05, "one\r\n").meta(200, 0x05, "\\two/");
  const Lyrics lyrics = lyricsOf(smf(0, 1000, {t.meta(300, 0x05, "three").finish(400)}));
  EXPECT_EQ(lyrics.text(), "one\n\ntwo\nthree");
  EXPECT_EQ(lyrics.lineAt(99), -1);
  EXPECT_EQ(lyrics.lineAt(100), 0);
  EXPECT_EQ(lyrics.lineAt(299), 1);
  EXPECT_EQ(lyrics.lineAt(100000), 2);
  EXPECT_TRUE(lyricsOf(noteSong(60, 100)).lines.empty());
  EXPECT_TRUE(lyricsOf(Bytes{'M', 'T', 'h', 'd'}).lines.empty());
}
