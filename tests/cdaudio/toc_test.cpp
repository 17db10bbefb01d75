#include <gtest/gtest.h>

#include "media/cdaudio/toc.h"

using namespace plimra::cdaudio;
using plimra::mci::TimeFormat;

namespace {
// 1: audio 0..150, 2: audio 150..300, 3: data 300..400, 4: audio 400..475.
Toc sample() {
  return *Toc::validated({{{1, 0, true}, {2, 150, true}, {3, 300, false}, {4, 400, true}}, 475});
}
}  // namespace

TEST(Toc, RejectsTablesThatCannotBeTrue) {
  EXPECT_FALSE(Toc::validated({{}, 100}));
  EXPECT_FALSE(Toc::validated({{{1, 0, true}, {2, 0, true}}, 100}));   // starts not rising
  EXPECT_FALSE(Toc::validated({{{1, 0, true}, {3, 50, true}}, 100}));  // number gap
  EXPECT_FALSE(Toc::validated({{{1, 0, true}}, 0}));                   // lead-out first
  EXPECT_FALSE(Toc::validated({{{0, 0, true}}, 10}));
  EXPECT_TRUE(Toc::validated({{{1, 0, true}}, 1}));
}

TEST(Toc, TracksAndAudioRuns) {
  Toc toc = sample();
  EXPECT_EQ(toc.trackAt(0).number, 1);
  EXPECT_EQ(toc.trackAt(149).number, 1);
  EXPECT_EQ(toc.trackAt(150).number, 2);
  EXPECT_EQ(toc.trackAt(474).number, 4);
  EXPECT_EQ(toc.trackAt(475).number, 4);
  EXPECT_EQ(toc.trackEnd(2), 300);
  EXPECT_EQ(toc.trackEnd(4), 475);
  EXPECT_EQ(toc.nextAudioSector(299, 475), 299);
  EXPECT_EQ(toc.nextAudioSector(300, 475), 400);  // data track skipped
  EXPECT_EQ(toc.nextAudioSector(350, 380), 380);  // never past the limit
  EXPECT_EQ(toc.audioRunEnd(10), 300);
  EXPECT_EQ(toc.audioRunEnd(400), 475);
  EXPECT_EQ(toc.discLength(), 475);
}

TEST(Toc, TimeValuesBothWays) {
  Toc toc = sample();
  using plimra::mci::makeMsf;
  using plimra::mci::makeTmsf;
  // tmsf is relative to the track; msf is absolute with the two-second offset.
  EXPECT_EQ(fromSector(toc, TimeFormat::Tmsf, 150 + 76), makeTmsf(2, 0, 1, 1));
  EXPECT_EQ(fromSector(toc, TimeFormat::Msf, 0), makeMsf(0, 2, 0));
  EXPECT_EQ(fromSector(toc, TimeFormat::Milliseconds, 150), 2000u);
  EXPECT_EQ(packMsfDuration(60 * 75 * 52 + 34 * 75 + 12), makeMsf(52, 34, 12));

  EXPECT_EQ(toSector(toc, TimeFormat::Tmsf, makeTmsf(2, 0, 1, 1)), 226);
  EXPECT_EQ(toSector(toc, TimeFormat::Tmsf, 4), 400);  // "from 4": track 4's start
  EXPECT_EQ(toSector(toc, TimeFormat::Msf, makeMsf(0, 4, 0)), 150);
  EXPECT_EQ(toSector(toc, TimeFormat::Milliseconds, 2000), 150);
  EXPECT_FALSE(toSector(toc, TimeFormat::Tmsf, 5));                      // no such track
  EXPECT_FALSE(toSector(toc, TimeFormat::Tmsf, makeTmsf(1, 0, 60, 0)));  // 60 seconds
  EXPECT_FALSE(toSector(toc, TimeFormat::Tmsf, makeTmsf(1, 0, 0, 75)));  // 75 frames
  EXPECT_FALSE(toSector(toc, TimeFormat::Msf, makeMsf(0, 1, 0)));        // before the disc
  EXPECT_FALSE(toSector(toc, TimeFormat::Milliseconds, 0xFFFFFFFF));     // past the end
}
