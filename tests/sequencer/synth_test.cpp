// The built-in synthesizer pulled block by block, as plimra-render pulls it:
// faster than real time, and every sample it renders is seen by the test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "media/mci/dispatch.h"
#include "media/sequencer/builtin_synth.h"
#include "media/sequencer/sequencer_device.h"
#include "tests/support/midi_file.h"

namespace plimra::seq {
namespace {

// Plays `path` on the built-in synthesizer to its end. The sound: per frame
// the louder of its two channels.
std::vector<float> playToEnd(const std::string& path) {
  BuiltinSynth::setOffline(true);
  auto synth = BuiltinSynth::shared();
  EXPECT_EQ(synth->problem(), "");
  SequencerDevice dev(systemOutputs());
  EXPECT_EQ(dev.open(path), mci::err::None) << dev.lastError();
  bool done = false;
  dev.play({}, [&](mci::NotifyCode c) { done = c == mci::NotifySuccessful; });
  std::vector<float> sound;
  std::vector<float> block(2 * 512);
  while (!done && sound.size() < 60u * audio::kSampleRate) {
    std::fill(block.begin(), block.end(), 0.0f);
    synth->render(block.data(), 512);
    for (size_t i = 0; i < block.size(); i += 2)
      sound.push_back(std::max(std::abs(block[i]), std::abs(block[i + 1])));
    mci::runPostedTasks();
  }
  EXPECT_TRUE(done) << path;
  return sound;
}

// After a song that turned channel 1 down, the next song is heard only if a
// reset song played between them. A GS Reset for another device id is not
// ours.
TEST(BuiltinSynth, ResetSongsUndoWhatTheLastSongSet) {
  test::Track mute, foreign;
  mute.at(0, {0xB0, 7, 0});
  foreign.at(0, {0xF0, 0x41, 0x11, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7});
  // A second long, so that what the last case left ringing has died away.
  const std::string muting = test::writeTemp("mute.mid", test::smf(0, 96, {mute.finish(192)}));
  const std::string note = test::writeTemp("note.mid", test::noteSong(60, 300, 0));
  const struct {
    std::string reset;
    bool heard;
  } cases[] = {
      {std::string(PLIMRA_BIN_DIR) + "/GS.MID", true},
      {std::string(PLIMRA_BIN_DIR) + "/GM.MID", true},
      {test::writeTemp("foreign.mid", test::smf(0, 96, {foreign.finish(1)})), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reset);
    playToEnd(muting);
    playToEnd(c.reset);
    const auto sound = playToEnd(note);
    ASSERT_FALSE(sound.empty());
    const float peak = *std::max_element(sound.begin(), sound.end());
    EXPECT_EQ(peak > 0.02f, c.heard) << "peak " << peak;
  }
}

// Claves on the drum channel, dry, at 0, 600, 1200, 1600, 2000 and 2750 ms
// under three tempos, each heard within a millisecond of its time.
TEST(BuiltinSynth, NoteOnsetsFallWhereTheTempoMapPutsThem) {
  test::Track t;
  t.tempo(0, 600000).at(0, {0xB9, 91, 0}).at(0, {0xB9, 93, 0});
  for (uint32_t tick : {0, 480, 960, 1440, 1920, 2400}) {
    if (tick == 960) t.tempo(960, 400000);
    if (tick == 1920) t.tempo(1920, 750000);
    t.at(tick, {0x99, 75, 120}).at(tick + 100, {0x89, 75, 0});
  }
  const auto sound = playToEnd(test::writeTemp("onsets.mid", test::smf(0, 480, {t.finish(2880)})));
  // A note: the first loud sample after 100 ms without one. Every note is
  // the same sound, so the times between them are the times of the notes.
  std::vector<size_t> onsets;
  size_t lastLoud = 0;
  for (size_t i = 0; i < sound.size(); ++i) {
    if (sound[i] < 0.1f) continue;
    if (onsets.empty() || i - lastLoud > audio::kSampleRate / 10) onsets.push_back(i);
    lastLoud = i;
  }
  const double expectedMs[] = {0, 600, 1200, 1600, 2000, 2750};
  ASSERT_EQ(onsets.size(), std::size(expectedMs));
  for (size_t i = 1; i < onsets.size(); ++i) {
    const double ms = double(onsets[i] - onsets[0]) * 1000.0 / audio::kSampleRate;
    EXPECT_NEAR(ms, expectedMs[i], 1.0) << "onset " << i;
  }
}

}  // namespace
}  // namespace plimra::seq
