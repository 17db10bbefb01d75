// With no audio device at all, or no SoundFont it can load, the built-in
// synthesizer still keeps time: songs end when they should, silently, and
// one message says why.
#include <gtest/gtest.h>

#include <chrono>

#include "media/mci/dispatch.h"
#include "media/sequencer/register.h"
#include "media/sequencer/sequencer_device.h"
#include "song_builder.h"

namespace plimra::seq {
namespace {

TEST(NoSound, SongsKeepTimeSilently) {
  test::TrackBuilder t;
  t.at(0, {0x90, 60, 100}).at(480, {0x80, 60, 0});
  const std::string path = test::writeTemp("quiet.mid", test::smfFile(0, 480, {t.finish(480)}));
  SequencerDevice dev(systemOutputs());
  ASSERT_EQ(dev.open(path), mci::err::None);
  bool done = false;
  const auto start = std::chrono::steady_clock::now();
  dev.play({}, [&](mci::NotifyCode c) { done = c == mci::NotifySuccessful; });
  while (!done && std::chrono::steady_clock::now() - start < std::chrono::seconds(5))
    mci::waitAndRunPostedTasks(20);
  const auto took = std::chrono::steady_clock::now() - start;
  ASSERT_TRUE(done);
  // 500 ms of song at real-time pace.
  EXPECT_GE(took, std::chrono::milliseconds(450));
  EXPECT_LT(took, std::chrono::milliseconds(1500));
  EXPECT_FALSE(noSoundReason().empty());
}

}  // namespace
}  // namespace plimra::seq
