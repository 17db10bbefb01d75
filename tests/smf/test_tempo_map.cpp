#include <gtest/gtest.h>

#include <limits>

#include "media/sequencer/smf.h"
#include "media/sequencer/tempo_map.h"
#include "tests/support/midi_file.h"

using namespace plimra::seq;
using namespace plimra::test;

namespace {

Smf parseOk(const Bytes& bytes) {
  SmfResult r = parseSmf(bytes);
  EXPECT_TRUE(r.ok) << r.error;
  EXPECT_TRUE(r.smf.warnings.empty()) << r.smf.warnings.front();
  return r.smf;
}

}  // namespace

// Ten minutes of music with a new tempo on every beat and an event every
// eighth of a beat, whose length in microseconds is rarely a whole number.
TEST(TempoMap, ExactAfterTenMinutesOfTempoChanges) {
  constexpr uint32_t tpq = 480, step = 60;
  std::vector<uint32_t> tempos;
  uint64_t songMicros = 0;
  while (songMicros < 600'000'000) {
    tempos.push_back(400'001 + uint32_t(tempos.size() * 7919 % 200'000));
    songMicros += tempos.back();
  }
  Bytes conductor, notes;
  auto append = [](Bytes& to, const Bytes& more) { to.insert(to.end(), more.begin(), more.end()); };
  for (size_t i = 0; i < tempos.size(); ++i) append(conductor, tempoEvent(i ? tpq : 0, tempos[i]));
  append(conductor, cat({vlq(tpq), {0xff, 0x2f, 0x00}}));
  const size_t events = tempos.size() * (tpq / step);
  for (size_t i = 0; i < events; ++i) append(notes, cat({vlq(step), {0xb0, 0x07, 0x64}}));
  append(notes, kEndOfTrack);
  const Smf smf = parseOk(cat({header(1, 2, tpq), chunk("MTrk", conductor), chunk("MTrk", notes)}));
  const TempoMap map(smf);

  // Reference: exact rational time, time x tpq = sum of whole beats x tpq + offset x tempo.
  EXPECT_EQ(map.endTick(), uint64_t(tempos.size()) * tpq);
  EXPECT_EQ(map.lengthMicros(), songMicros);
  uint64_t beatStartScaled = 0;  // microseconds x tpq
  for (size_t beat = 0; beat < tempos.size(); ++beat) {
    for (uint32_t offset = 0; offset < tpq; offset += step) {
      const uint64_t tick = beat * tpq + offset;
      const uint64_t scaled = beatStartScaled + uint64_t(offset) * tempos[beat];
      ASSERT_EQ(map.microsAt(tick), scaled / tpq) << tick;
      ASSERT_EQ(map.nanosAt(tick), scaled * 1000 / tpq) << tick;
      // tickAt is the inverse: the last tick not later than the given time.
      const uint64_t back = map.tickAt(scaled / tpq);
      ASSERT_GE(back, tick);
      ASSERT_LE(map.microsAt(back), scaled / tpq);
      ASSERT_GT(map.microsAt(back + 1), scaled / tpq);
    }
    beatStartScaled += uint64_t(tempos[beat]) * tpq;
  }
  EXPECT_EQ(map.microsAt(map.endTick()), songMicros);
}

TEST(TempoMap, WhichTempoEventsCount) {
  const Bytes notes = cat({{0x00, 0x90, 0x3c, 0x40}, vlq(960), {0x80, 0x3c, 0x40}, kEndOfTrack});
  // Tempo in a format 1 file's second track counts; of two changes at one
  // tick the later wins; a zero tempo and a cut tempo event are ignored.
  Bytes withTempo = cat({tempoEvent(0, 250000),
                         tempoEvent(480, 1000000),
                         tempoEvent(0, 750000),
                         tempoEvent(0, 0),
                         {0x00, 0xff, 0x51, 0x02, 0x01, 0x02},
                         vlq(480),
                         {0xff, 0x2f, 0x00}});
  Smf smf = parseOk(cat({header(1, 2, 480), chunk("MTrk", notes), chunk("MTrk", withTempo)}));
  TempoMap map(smf);
  EXPECT_EQ(map.segments().size(), 2u);
  EXPECT_EQ(map.microsAt(480), 250000u);
  EXPECT_EQ(map.lengthMicros(), 250000u + 750000u);

  // Format 2: each song has its own tempo and length.
  const Bytes longer = cat({{0x00, 0x90, 0x3c, 0x40}, vlq(4800), {0x80, 0x3c, 0x40}, kEndOfTrack});
  smf = parseOk(cat({header(2, 2, 480), chunk("MTrk", withTempo), chunk("MTrk", longer)}));
  EXPECT_EQ(TempoMap(smf, 0).lengthMicros(), 1'000'000u);
  EXPECT_EQ(TempoMap(smf, 1).lengthMicros(), 5'000'000u);
  EXPECT_EQ(TempoMap(smf, 1).endTick(), 4800u);
}

TEST(TempoMap, SmpteDivisionsHaveFixedTickLengths) {
  const Bytes track = cat({tempoEvent(0, 1000000), vlq(3000), {0xff, 0x2f, 0x00}});
  auto mapFor = [&](uint16_t division) {
    return TempoMap(parseOk(cat({header(0, 1, division), chunk("MTrk", track)})));
  };
  // 25 fps x 40 ticks: one tick is one millisecond; the tempo event is ignored.
  TempoMap ms = mapFor(0xe728);
  EXPECT_EQ(ms.microsAt(1), 1000u);
  EXPECT_EQ(ms.lengthMicros(), 3'000'000u);
  EXPECT_EQ(ms.tickAt(2999), 2u);
  EXPECT_TRUE(ms.segments().empty());

  // 24 fps x 80 ticks: 1920 ticks a second, 520.833... microseconds each.
  TempoMap film = mapFor(0xe850);
  EXPECT_EQ(film.microsAt(1), 520u);
  EXPECT_EQ(film.nanosAt(1), 520833u);
  EXPECT_EQ(film.microsAt(1920), 1'000'000u);
  EXPECT_EQ(film.tickAt(1'000'000), 1920u);
  EXPECT_EQ(film.tickAt(999'999), 1919u);

  // "29" is 29.97 frames a second: 30 frames of 4 ticks take 1.001 s.
  TempoMap ntsc = mapFor(0xe304);
  EXPECT_EQ(ntsc.microsAt(120), 1'001'000u);
  EXPECT_EQ(ntsc.nanosAt(1), 8'341'666u);
  EXPECT_EQ(ntsc.lengthMicros(), 3000u * 1'001'000 / 120);
  EXPECT_EQ(mapFor(0xe204).microsAt(120), 1'000'000u);  // true 30 fps
}

TEST(TempoMap, HugeTimesSaturateInsteadOfWrapping) {
  Smf smf;
  smf.format = 0;
  smf.ticksPerQuarter = 1;
  SmfTrack& t = smf.tracks.emplace_back();
  SmfEvent tempo;
  tempo.kind = SmfEvent::Kind::Meta;
  tempo.metaType = 0x51;
  tempo.bytes = {0xff, 0xff, 0xff};
  t.events.push_back(tempo);
  tempo.tick = uint64_t(1) << 61;
  tempo.bytes = {0x00, 0x00, 0x01};
  t.events.push_back(tempo);
  t.endTick = uint64_t(1) << 62;
  const TempoMap map(smf);
  constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
  EXPECT_EQ(map.microsAt(uint64_t(1) << 30), (uint64_t(1) << 30) * 0xffffff);
  EXPECT_EQ(map.lengthMicros(), kMax);
  EXPECT_EQ(map.nanosAt(uint64_t(1) << 40), kMax);
  EXPECT_LE(map.microsAt(uint64_t(1) << 40), map.microsAt(uint64_t(1) << 62));
  EXPECT_LE(map.tickAt(kMax), kMax);
  EXPECT_EQ(map.tickAt(0xffffff - 1), 0u);
}
