#include <gtest/gtest.h>

#include <algorithm>
#include <random>

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

}  // namespace

// Lengths worked out by hand from each file's bytes: none has a tempo event,
// so a quarter (0x60 = 96 ticks) lasts 0.5 s.
TEST(SmfPeerFiles, WellFormedFilesOpenWithTheirLength) {
  struct Case {
    const char* name;
    uint64_t endTick;
    uint64_t micros;
  } cases[] = {
      {"test-c-major-scale.mid", 768, 4'000'000},         // 8 notes of 0x60
      {"test-vlq-3-byte.mid", 768, 4'000'000},            // 8 notes of 80 80 60
      {"test-vlq-2-byte.mid", 768, 4'000'000},            // 8 notes of 80 60
      {"test-silence-end-of-track.mid", 960, 5'000'000},  // End of Track after 87 40 = 960
      {"test-track-length.mid", 288, 1'500'000},          // note 0x60, then 81 40 = 192 of rest
      {"test-2-tracks-type-1.mid", 864, 4'500'000},       // rest 0x60, then 8 notes
      {"test-running-status-metaevent.mid", 768, 4'000'000},
      {"test-non-midi-track.mid", 768, 4'000'000},
      {"test-empty.mid", 0, 0},
  };
  for (const Case& c : cases) {
    SmfResult r = readSmfFile(peerFile(c.name));
    ASSERT_TRUE(r.ok) << c.name << ": " << r.error;
    EXPECT_TRUE(r.smf.warnings.empty()) << c.name << ": " << r.smf.warnings.front();
    TempoMap map(r.smf);
    EXPECT_EQ(map.endTick(), c.endTick) << c.name;
    EXPECT_EQ(map.lengthMicros(), c.micros) << c.name;
  }
}

TEST(SmfPeerFiles, DamagedFilesPlayWhatCanBeRead) {
  // The last byte (End of Track's length) is missing: the scale is intact.
  SmfResult r = readSmfFile(peerFile("test-corrupt-file-missing-byte.mid"));
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.smf.warnings.size(), 1u);
  EXPECT_FALSE(r.smf.tracks[0].hasEndOfTrack);
  expectCMajorScale(r.smf.tracks[0]);
  EXPECT_EQ(TempoMap(r.smf).lengthMicros(), 4'000'000u);

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
  EXPECT_EQ(TempoMap(r.smf).lengthMicros(), 4'500'000u);
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
  const SmfEvent& text = r.smf.tracks[0].events[1];
  EXPECT_EQ(text.kind, SmfEvent::Kind::Meta);
  EXPECT_EQ(text.metaType, 0x01);
  EXPECT_EQ(text.bytes, (Bytes{'h', 'i'}));
  EXPECT_EQ(r.smf.tracks[0].events.back().metaType, 0x2f);
  EXPECT_EQ(r.smf.tracks[0].endTick, 0x80u);

  // The peer file breaks a run of note-ons with a text event.
  r = readSmfFile(peerFile("test-running-status-metaevent.mid"));
  ASSERT_TRUE(r.ok);
  for (const SmfEvent* e : channelEvents(r.smf.tracks[0])) EXPECT_EQ(e->bytes[0], 0x90);
  EXPECT_EQ(channelEvents(r.smf.tracks[0]).size(), 16u);
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
  Bytes riff = cat({{'R', 'I', 'F', 'F'}, le(body.size()), body});
  SmfResult r = parseSmf(riff);
  ASSERT_TRUE(r.ok) << r.error;
  expectCMajorScale(r.smf.tracks[0]);

  Bytes noData = cat({{'R', 'I', 'F', 'F'},
                      le(16),
                      {'R', 'M', 'I', 'D'},
                      {'L', 'I', 'S', 'T'},
                      le(info.size()),
                      info});
  r = parseSmf(noData);
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

TEST(SmfReader, ReadFileReportsWhatWentWrong) {
  SmfResult r = readSmfFile("/nonexistent/song.mid");
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.error.find("/nonexistent/song.mid"), std::string::npos);
  r = readSmfFile(PLIMRA_TESTDATA);
  EXPECT_FALSE(r.ok);
  EXPECT_FALSE(r.error.empty());
}

TEST(SmfMerge, StableKWayMergeMatchesStableSort) {
  std::mt19937 rng(7);
  for (int round = 0; round < 20; ++round) {
    Smf smf;
    smf.format = 1;
    const int tracks = 1 + round % 9;
    for (int t = 0; t < tracks; ++t) {
      SmfTrack& tr = smf.tracks.emplace_back();
      uint64_t tick = 0;
      const int n = int(rng() % 200);
      for (int i = 0; i < n; ++i) {
        tick += rng() % 4;  // many equal ticks within and across tracks
        SmfEvent& e = tr.events.emplace_back();
        e.tick = tick;
        e.track = uint32_t(t);
        e.bytes = {uint8_t(i)};
      }
    }
    std::vector<const SmfEvent*> want;
    for (const SmfTrack& tr : smf.tracks)
      for (const SmfEvent& e : tr.events) want.push_back(&e);
    std::stable_sort(want.begin(), want.end(),
                     [](const SmfEvent* a, const SmfEvent* b) { return a->tick < b->tick; });
    EXPECT_EQ(mergeTracks(smf), want) << round;
  }
}
