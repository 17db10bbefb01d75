// The MIDI file reader and the tempo map, on the peer files and on files
// built byte by byte.
#include <gtest/gtest.h>

#include <limits>

#include "media/sequencer/smf.h"
#include "media/sequencer/tempo_map.h"
#include "tests/support/midi_file.h"

using namespace plimra::seq;
using namespace plimra::test;

namespace {

std::vector<const SmfEvent*> channelEvents(const SmfTrack& t) {
  std::vector<const SmfEvent*> out;
  for (const SmfEvent& e : t.events)
    if (e.kind == SmfEvent::Kind::Channel) out.push_back(&e);
  return out;
}

// The eight notes of the peer collection's C major scale, one per quarter at 96 ticks.
void expectCMajorScale(const SmfTrack& t) {
  const uint8_t keys[] = {60, 62, 64, 65, 67, 69, 71, 72};
  auto ch = channelEvents(t);
  ASSERT_EQ(ch.size(), 16u);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(ch[2 * i]->bytes, (Bytes{0x90, keys[i], 0x7f})) << i;
    EXPECT_EQ(ch[2 * i]->tick, uint64_t(96 * i)) << i;
    EXPECT_EQ(ch[2 * i + 1]->bytes[1], keys[i]) << i;
    EXPECT_EQ(ch[2 * i + 1]->tick, uint64_t(96 * i + 96)) << i;
  }
}

Smf parseOk(const Bytes& bytes) {
  SmfResult r = parseSmf(bytes);
  EXPECT_TRUE(r.ok) << r.error;
  EXPECT_TRUE(r.smf.warnings.empty()) << r.smf.warnings.front();
  return r.smf;
}

}  // namespace

// Lengths worked out by hand from each file's bytes, in ticks.
TEST(SmfPeerFiles, WellFormedFilesOpenWithTheirLength) {
  struct Case {
    const char* name;
    uint64_t endTick;
  } cases[] = {
      {"test-c-major-scale.mid", 768},         // 8 notes of 0x60
      {"test-vlq-3-byte.mid", 768},            // 8 notes of 80 80 60
      {"test-vlq-2-byte.mid", 768},            // 8 notes of 80 60
      {"test-silence-end-of-track.mid", 960},  // End of Track after 87 40 = 960
      {"test-track-length.mid", 288},          // note 0x60, then 81 40 = 192 of rest
      {"test-2-tracks-type-1.mid", 864},       // rest 0x60, then 8 notes
      {"test-running-status-metaevent.mid", 768},
      {"test-non-midi-track.mid", 768},
      {"test-empty.mid", 0},
  };
  for (const Case& c : cases) {
    SmfResult r = readSmfFile(peerFile(c.name));
    ASSERT_TRUE(r.ok) << c.name << ": " << r.error;
    EXPECT_TRUE(r.smf.warnings.empty()) << c.name << ": " << r.smf.warnings.front();
    EXPECT_EQ(TempoMap(r.smf).endTick(), c.endTick) << c.name;
  }
}

TEST(SmfPeerFiles, DamagedFilesPlayWhatCanBeRead) {
  // The last byte (End of Track's length) is missing: the scale is intact.
  SmfResult r = readSmfFile(peerFile("test-corrupt-file-missing-byte.mid"));
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.smf.warnings.size(), 1u);
  EXPECT_FALSE(r.smf.tracks[0].hasEndOfTrack);
  expectCMajorScale(r.smf.tracks[0]);
  EXPECT_EQ(TempoMap(r.smf).endTick(), 768u);

  // System messages that a file may not hold are skipped, not sent.
  for (const char* name : {"test-illegal-message-all.mid", "test-illegal-message-f1-xx.mid"}) {
    r = readSmfFile(peerFile(name));
    ASSERT_TRUE(r.ok) << name;
    EXPECT_EQ(r.smf.warnings.size(), 1u) << name;
    expectCMajorScale(r.smf.tracks[0]);
  }

  // A format 0 file with two tracks: both play, with a warning.
  r = readSmfFile(peerFile("test-2-tracks-type-0.mid"));
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.smf.tracks.size(), 2u);
  EXPECT_EQ(r.smf.warnings.size(), 1u);
  EXPECT_EQ(TempoMap(r.smf).endTick(), 864u);
}

TEST(SmfReader, RunningStatusSurvivesMetaAndSysEx) {
  Bytes track = {0x00, 0x90, 0x3c, 0x40,              // note on, sets running status
                 0x10, 0xff, 0x01, 0x02, 'h',  'i',   // text
                 0x10, 0x3e, 0x40,                    // running status after meta
                 0x10, 0xf0, 0x03, 0x7e, 0x09, 0xf7,  // SysEx
                 0x10, 0x40, 0x41,                    // running status after SysEx
                 0x10, 0xf7, 0x02, 0xf3, 0x01,        // escape
                 0x10, 0x41, 0x42,                    // running status after escape
                 0x10, 0xc5, 0x07, 0x10, 0x08,        // one data byte, running
                 0x00, 0xff, 0x2f, 0x00};
  SmfResult r = parseSmf(cat({header(0, 1, 96), chunk("MTrk", track)}));
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_TRUE(r.smf.warnings.empty());
  auto ch = channelEvents(r.smf.tracks[0]);
  ASSERT_EQ(ch.size(), 6u);
  EXPECT_EQ(ch[1]->bytes, (Bytes{0x90, 0x3e, 0x40}));
  EXPECT_EQ(ch[2]->bytes, (Bytes{0x90, 0x40, 0x41}));
  EXPECT_EQ(ch[3]->bytes, (Bytes{0x90, 0x41, 0x42}));
  EXPECT_EQ(ch[3]->tick, 0x60u);
  EXPECT_EQ(ch[5]->bytes, (Bytes{0xc5, 0x08}));
  EXPECT_EQ(r.smf.tracks[0].endTick, 0x80u);
}

TEST(SmfReader, SysExInBothForms) {
  Bytes track = cat({{0x00, 0xf0, 0x05, 0x7e, 0x7f, 0x09, 0x01, 0xf7},  // complete
                     {0x00, 0xf0, 0x03, 0x43, 0x12, 0x00},              // first packet
                     {0x60, 0xf7, 0x03, 0x43, 0x12, 0xf7},              // continuation
                     {0x00, 0xf7, 0x00},                                // empty escape
                     kEndOfTrack});
  SmfResult r = parseSmf(cat({header(0, 1, 96), chunk("MTrk", track)}));
  ASSERT_TRUE(r.ok) << r.error;
  const auto& ev = r.smf.tracks[0].events;
  ASSERT_EQ(ev.size(), 5u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(ev[i].kind, SmfEvent::Kind::SysEx);
  EXPECT_EQ(ev[0].bytes, (Bytes{0xf0, 0x7e, 0x7f, 0x09, 0x01, 0xf7}));
  EXPECT_EQ(ev[1].bytes, (Bytes{0xf0, 0x43, 0x12, 0x00}));
  EXPECT_EQ(ev[2].bytes, (Bytes{0x43, 0x12, 0xf7}));
  EXPECT_EQ(ev[2].tick, 0x60u);
  EXPECT_TRUE(ev[3].bytes.empty());
}

TEST(SmfReader, ContainersAndForeignChunks) {
  const Bytes smf = readFile(peerFile("test-c-major-scale.mid"));
  ASSERT_FALSE(smf.empty());
  auto le = [](uint32_t v) {
    return Bytes{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
  };
  // An odd-sized chunk before the data checks the RIFF padding rule.
  const Bytes info = {'I', 'N', 'F', 'O', 'a', 'b', 'c'};
  Bytes body = cat({{'R', 'M', 'I', 'D'},
                    {'L', 'I', 'S', 'T'},
                    le(info.size()),
                    info,
                    {0},
                    {'d', 'a', 't', 'a'},
                    le(smf.size()),
                    smf});
  SmfResult r = parseSmf(cat({{'R', 'I', 'F', 'F'}, le(body.size()), body}));
  ASSERT_TRUE(r.ok) << r.error;
  expectCMajorScale(r.smf.tracks[0]);
  // A RIFF file without a MIDI file inside.
  r = parseSmf(cat({{'R', 'I', 'F', 'F'}, le(16), {'R', 'M', 'I', 'D'}, {'L', 'I', 'S', 'T'},
                    le(info.size()), info}));
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.error.find("RIFF"), std::string::npos);

  // Unknown chunks between and after tracks are skipped; they do not count as tracks.
  Bytes note = cat({{0x00, 0x90, 0x3c, 0x40, 0x60, 0x80, 0x3c, 0x40}, kEndOfTrack});
  r = parseSmf(cat({header(1, 2, 96), chunk("XFIH", {1, 2, 3}), chunk("MTrk", note),
                    chunk("Junk", Bytes(100, 0xff)), chunk("MTrk", note), chunk("XFKM", {})}));
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.smf.tracks.size(), 2u);
  EXPECT_TRUE(r.smf.warnings.empty());
  EXPECT_EQ(r.smf.tracks[1].events.size(), 3u);
}

TEST(SmfReader, TruncatedAtEveryOffset) {
  for (const char* name :
       {"test-sysex-gs-40-1x-15-drum-part-change.mid", "test-2-tracks-type-1.mid"}) {
    const Bytes full = readFile(peerFile(name));
    SmfResult whole = parseSmf(full);
    ASSERT_TRUE(whole.ok);
    for (size_t n = 0; n < full.size(); ++n) {
      // A heap copy of exactly n bytes, so that AddressSanitizer sees any read past the end.
      const Bytes part(full.begin(), full.begin() + n);
      SmfResult r = parseSmf(part);
      if (!r.ok) {
        EXPECT_FALSE(r.error.empty()) << n;
        continue;
      }
      // What was read is exactly the start of the song, and the loss is reported.
      EXPECT_FALSE(r.smf.warnings.empty()) << n;
      ASSERT_LE(r.smf.tracks.size(), whole.smf.tracks.size());
      for (size_t t = 0; t < r.smf.tracks.size(); ++t) {
        const auto& got = r.smf.tracks[t].events;
        const auto& want = whole.smf.tracks[t].events;
        ASSERT_LE(got.size(), want.size()) << n;
        if (!r.smf.tracks[t].hasEndOfTrack) {
          EXPECT_EQ(r.smf.tracks[t].endTick, got.empty() ? 0 : got.back().tick) << n;
        }
        for (size_t i = 0; i < got.size(); ++i) {
          EXPECT_EQ(got[i].tick, want[i].tick);
          EXPECT_EQ(got[i].bytes, want[i].bytes);
        }
      }
    }
  }
}

TEST(SmfReader, HostileHeadersStayBounded) {
  const Bytes note = cat({{0x00, 0x90, 0x3c, 0x40, 0x60, 0x80, 0x3c, 0x40}, kEndOfTrack});

  // 65535 tracks announced, one present: no reservation for the rest.
  SmfResult r = parseSmf(cat({header(1, 0xffff, 96), chunk("MTrk", note)}));
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.smf.tracks.size(), 1u);
  EXPECT_LE(r.smf.tracks.capacity(), 4u);
  EXPECT_EQ(r.smf.warnings.size(), 1u);

  // A track length of 4 GB: the bytes present are read.
  r = parseSmf(cat({header(0, 1, 96), chunk("MTrk", note, 0xffffffff)}));
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.smf.tracks[0].events.size(), 3u);
  EXPECT_LT(r.smf.tracks[0].events.capacity(), 16u);

  // Lengths inside a track that point past its end, VLQs of five bytes, a
  // status byte where data belongs: the note before the damage survives.
  const Bytes bad[] = {
      {0x00, 0xff, 0x01, 0x8f, 0xff, 0xff, 0x7f, 'x'},   // 256 MB text
      {0x00, 0xf0, 0x8f, 0xff, 0xff, 0x7f, 0xf7},        // 256 MB SysEx
      {0x80, 0x80, 0x80, 0x80, 0x00, 0x90, 0x3c, 0x40},  // delta of five bytes
      {0x00, 0xff, 0x01, 0x80, 0x80, 0x80, 0x80, 0x01, 'x'},
      {0x00, 0x90, 0x3c, 0x90},
  };
  for (const Bytes& tail : bad) {
    r = parseSmf(cat({header(0, 1, 96), chunk("MTrk", cat({{0x00, 0x90, 0x3c, 0x40}, tail}))}));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.smf.tracks[0].events.size(), 1u);
    EXPECT_EQ(r.smf.warnings.size(), 1u);
    EXPECT_LT(r.smf.tracks[0].events.capacity(), 16u);
  }

  struct Refused {
    Bytes bytes;
    const char* why;
  } refused[] = {
      {{}, "empty"},
      {Bytes{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0}, "cut header"},
      {cat({chunk("MThd", {0, 0, 0, 1}), chunk("MTrk", note)}), "short header"},
      {cat({header(3, 1, 96), chunk("MTrk", note)}), "format 3"},
      {cat({header(0, 1, 0), chunk("MTrk", note)}), "zero division"},
      {cat({header(0, 1, 0xe900), chunk("MTrk", note)}), "23 fps"},
      {cat({header(0, 1, 0xe700), chunk("MTrk", note)}), "zero ticks per frame"},
      {cat({header(1, 0, 96)}), "no tracks"},
      {cat({header(1, 2, 96), chunk("Junk", {1})}), "no MTrk"},
      {cat({header(0, 1, 96), chunk("MTrk", {0x00, 0x3c, 0x40})}), "data without a status"},
      {cat({chunk("MThd", {0, 0, 0, 1, 0, 96}, 0xfffffff0), chunk("MTrk", note)}), "huge header"},
  };
  for (const Refused& c : refused) {
    r = parseSmf(c.bytes);
    EXPECT_FALSE(r.ok) << c.why;
    EXPECT_FALSE(r.error.empty()) << c.why;
  }
  // A track beyond the announced count is left out, and said so.
  r = parseSmf(cat({header(1, 1, 96), chunk("MTrk", note), chunk("MTrk", note)}));
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.smf.tracks.size(), 1u);
  EXPECT_EQ(r.smf.warnings.size(), 1u);
  // Garbage after a track stops the walk but keeps what was read.
  r = parseSmf(cat({header(1, 2, 96), chunk("MTrk", note), Bytes(20, 0x01)}));
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.smf.tracks.size(), 1u);
}

// Ten minutes of music with a new tempo on every beat, timed every eighth
// of a beat, where the time in microseconds is rarely a whole number.
TEST(TempoMap, ExactAfterTenMinutesOfTempoChanges) {
  constexpr uint32_t tpq = 480, step = 60;
  std::vector<uint32_t> tempos;
  uint64_t songMicros = 0;
  Track conductor;
  while (songMicros < 600'000'000) {
    tempos.push_back(400'001 + uint32_t(tempos.size() * 7919 % 200'000));
    conductor.tempo(uint32_t(tempos.size() - 1) * tpq, tempos.back());
    songMicros += tempos.back();
  }
  const TempoMap map(
      parseOk(smf(0, tpq, {conductor.finish(uint32_t(tempos.size()) * tpq)})));
  // Exact time x tpq: whole beats x tpq plus the offset x the beat's tempo.
  uint64_t beatStartScaled = 0;
  for (size_t beat = 0; beat < tempos.size(); ++beat) {
    for (uint32_t offset = 0; offset < tpq; offset += step) {
      const uint64_t scaled = beatStartScaled + uint64_t(offset) * tempos[beat];
      ASSERT_EQ(map.nanosAt(beat * tpq + offset), scaled * 1000 / tpq) << beat;
    }
    beatStartScaled += uint64_t(tempos[beat]) * tpq;
  }
  EXPECT_EQ(map.nanosAt(map.endTick()), songMicros * 1000);
}

// Tempo in a format 1 file's second track counts; of two changes at one
// tick the later wins; a zero tempo and a cut tempo event are ignored. In
// a format 2 file each song has its own tempo and length.
TEST(TempoMap, WhichTempoEventsCount) {
  const Bytes notes = cat({{0x00, 0x90, 0x3c, 0x40}, vlq(960), {0x80, 0x3c, 0x40}, kEndOfTrack});
  const Bytes withTempo = cat({tempoEvent(0, 250000), tempoEvent(480, 1000000),
                               tempoEvent(0, 750000), tempoEvent(0, 0),
                               {0x00, 0xff, 0x51, 0x02, 0x01, 0x02}, vlq(480), {0xff, 0x2f, 0x00}});
  TempoMap map(parseOk(cat({header(1, 2, 480), chunk("MTrk", notes), chunk("MTrk", withTempo)})));
  EXPECT_EQ(map.nanosAt(480), 250'000'000u);
  EXPECT_EQ(map.nanosAt(map.endTick()), 1'000'000'000u);

  const Bytes longer = cat({{0x00, 0x90, 0x3c, 0x40}, vlq(4800), {0x80, 0x3c, 0x40}, kEndOfTrack});
  const Smf two = parseOk(cat({header(2, 2, 480), chunk("MTrk", withTempo), chunk("MTrk", longer)}));
  EXPECT_EQ(TempoMap(two, 0).nanosAt(TempoMap(two, 0).endTick()), 1'000'000'000u);
  EXPECT_EQ(TempoMap(two, 1).endTick(), 4800u);
  EXPECT_EQ(TempoMap(two, 1).nanosAt(4800), 5'000'000'000u);
}

// SMPTE divisions give every tick the same length and ignore tempo events.
TEST(TempoMap, SmpteDivisionsHaveFixedTickLengths) {
  const Bytes track = cat({tempoEvent(0, 1000000), vlq(3000), {0xff, 0x2f, 0x00}});
  const struct {
    uint16_t division;
    uint64_t tick;
    uint64_t ns;
  } cases[] = {
      {0xe728, 3000, 3'000'000'000},  // 25 fps x 40 ticks: a tick is a millisecond
      {0xe850, 1, 520'833},           // 24 fps x 80 ticks: 1920 ticks a second
      {0xe850, 1920, 1'000'000'000},
      {0xe304, 1, 8'341'666},  // "29" is 29.97 fps: 30 frames of 4 ticks take 1.001 s
      {0xe304, 120, 1'001'000'000},
      {0xe204, 120, 1'000'000'000},  // true 30 fps
  };
  for (const auto& c : cases) {
    const TempoMap map(parseOk(cat({header(0, 1, c.division), chunk("MTrk", track)})));
    EXPECT_EQ(map.nanosAt(c.tick), c.ns) << std::hex << c.division;
  }
}

// Times past what 64 bits hold come out as the largest time, never wrapped
// into a short one.
TEST(TempoMap, HugeTimesSaturateInsteadOfWrapping) {
  Smf smf;
  smf.ticksPerQuarter = 1;
  SmfTrack& t = smf.tracks.emplace_back();
  SmfEvent tempo;
  tempo.kind = SmfEvent::Kind::Meta;
  tempo.metaType = 0x51;
  tempo.bytes = {0xff, 0xff, 0xff};
  t.events.push_back(tempo);
  tempo.tick = uint64_t(1) << 61;  // starts where the time is already past 64 bits
  tempo.bytes = {0x00, 0x00, 0x01};
  t.events.push_back(tempo);
  t.endTick = uint64_t(1) << 62;
  const TempoMap map(smf);
  EXPECT_EQ(map.nanosAt(uint64_t(1) << 30), (uint64_t(1) << 30) * 0xffffff * 1000);
  EXPECT_EQ(map.nanosAt(uint64_t(1) << 40), std::numeric_limits<uint64_t>::max());
  EXPECT_EQ(map.nanosAt(map.endTick()), std::numeric_limits<uint64_t>::max());
}
