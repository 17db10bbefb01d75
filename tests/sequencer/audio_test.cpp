// The built-in synthesizer through the program's audio output, with SDL's
// disk driver writing what would be heard to a file faster than real time.
#include <fluidsynth.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "media/audio/audio_output.h"
#include "media/mci/device_table.h"
#include "media/mci/dispatch.h"
#include "media/mci/midiout.h"
#include "media/sequencer/builtin_synth.h"
#include "media/sequencer/register.h"
#include "media/sequencer/sequencer_device.h"
#include "tests/support/midi_file.h"

namespace plimra::seq {
namespace {

using Bytes = std::vector<uint8_t>;

// Plays `path` on the built-in synthesizer to its end.
void playToEnd(const std::string& path) {
  SequencerDevice dev(systemOutputs());
  ASSERT_EQ(dev.open(path), mci::err::None) << dev.lastError();
  bool done = false;
  dev.play({}, [&](mci::NotifyCode c) { done = c == mci::NotifySuccessful; });
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!done && std::chrono::steady_clock::now() < limit) mci::waitAndRunPostedTasks(100);
  ASSERT_TRUE(done);
  dev.close();
}

int programOf(int channel) {
  int font = 0, bank = 0, preset = 0;
  fluid_synth_get_program(BuiltinSynth::shared()->handle(), channel, &font, &bank, &preset);
  return preset;
}

TEST(BuiltinSynthAudio, ResetSongsResetTheSynthesizer) {
  auto synth = BuiltinSynth::shared();
  ASSERT_EQ(synth->problem(), "");
  for (const char* name : {"GS.MID", "GM.MID"}) {
    SCOPED_TRACE(name);
    synth->sendNow(Bytes{0xC0, 10});
    ASSERT_EQ(programOf(0), 10);
    playToEnd(std::string(PLIMRA_BIN_DIR) + "/" + name);
    EXPECT_EQ(programOf(0), 0);
  }
  // A GS Reset meant for another module's device id is not ours.
  synth->sendNow(Bytes{0xC0, 10});
  synth->sendNow(Bytes{0xF0, 0x41, 0x11, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7});
  EXPECT_EQ(programOf(0), 10);
  synth->sendNow(Bytes{0xC0, 0});
}

// Claves on the drum channel, dry, at 0, 600, 1200, 1600, 2000 and 2750 ms
// under three tempos.
std::vector<uint8_t> onsetSong() {
  test::Track t;
  t.tempo(0, 600000).at(0, {0xB9, 91, 0}).at(0, {0xB9, 93, 0});
  const uint32_t ticks[] = {0, 480, 960, 1440, 1920, 2400};
  for (uint32_t tick : ticks) {
    if (tick == 960) t.tempo(960, 400000);
    if (tick == 1920) t.tempo(1920, 750000);
    t.at(tick, {0x99, 75, 120}).at(tick + 100, {0x89, 75, 0});
  }
  return test::smf(0, 480, {t.finish(2880)});
}

TEST(BuiltinSynthAudio, NoteOnsetsFallWhereTheTempoMapPutsThem) {
  auto& output = audio::AudioOutput::instance();
  output.start();
  if (output.driverName() != "disk") GTEST_SKIP() << "needs SDL's disk driver";
  const char* file = std::getenv("SDL_DISKAUDIOFILE");
  ASSERT_NE(file, nullptr);

  playToEnd(test::writeTemp("onsets.mid", onsetSong()));
  output.stop();

  std::ifstream in(file, std::ios::binary);
  std::vector<char> raw((std::istreambuf_iterator<char>(in)), {});
  std::vector<float> mono(raw.size() / 4);
  for (size_t i = 0; i < mono.size(); ++i) {
    int16_t l, r;
    std::memcpy(&l, &raw[i * 4], 2);
    std::memcpy(&r, &raw[i * 4 + 2], 2);
    mono[i] = std::max(std::abs(l / 32768.0f), std::abs(r / 32768.0f));
  }
  // A note: the first loud sample after 100 ms without one; its onset: the
  // start of the rise to it, where the sound leaves the quiet before it.
  constexpr float kLoud = 0.1f;
  constexpr float kStill = 0.002f;
  constexpr size_t kQuiet = audio::kSampleRate / 10;
  constexpr size_t kMaxRise = audio::kSampleRate / 100;
  std::vector<size_t> onsets;
  size_t lastLoud = 0;
  bool any = false;
  for (size_t i = 0; i < mono.size(); ++i) {
    if (mono[i] < kLoud) continue;
    if (!any || i - lastLoud > kQuiet) {
      size_t j = i;
      while (j > 0 && i - j < kMaxRise && mono[j - 1] >= kStill) --j;
      onsets.push_back(j);
    }
    lastLoud = i;
    any = true;
  }
  const double expectedMs[] = {0, 600, 1200, 1600, 2000, 2750};
  ASSERT_EQ(onsets.size(), std::size(expectedMs));
  for (size_t i = 1; i < onsets.size(); ++i) {
    const double ms = (onsets[i] - onsets[0]) * 1000.0 / audio::kSampleRate;
    EXPECT_NEAR(ms, expectedMs[i], 1.0) << "onset " << i;
  }
}

TEST(SequencerRegistration, DeviceTableAndPortList) {
  registerSequencer();
  EXPECT_EQ(noSoundReason(), "");
  // The port list: the mapper, then the built-in synthesizer as device 0.
  ASSERT_GE(mci::midiOutGetNumDevs(), 1u);
  mci::MidiOutCaps caps;
  ASSERT_EQ(mci::midiOutGetDevCaps(0, caps), mci::err::None);
  EXPECT_EQ(caps.name, kBuiltinSynthName);
  EXPECT_EQ(mci::midiOutGetDevCaps(-1, caps), mci::err::None);

  auto& table = mci::DeviceTable::instance();
  uint16_t id = 0;
  EXPECT_NE(table.open("Sequencer", ::testing::TempDir() + "missing.mid", "", id), mci::err::None);
  const std::string path = std::string(PLIMRA_BIN_DIR) + "/GM.MID";
  ASSERT_EQ(table.open("sequencer", path, "reset", id), mci::err::None);
  EXPECT_NE(id, 0);
  std::string reply;
  EXPECT_EQ(table.sendString("status reset length", reply), mci::err::None);
  EXPECT_EQ(reply, "100");
  mci::SeqSetParms parms;
  parms.dwPort = static_cast<uint32_t>(-1);
  EXPECT_EQ(table.sendCommand(id, mci::MCI_SET, mci::MCI_SEQ_SET_PORT, &parms), mci::err::None);
  parms.dwPort = static_cast<uint32_t>(-2);
  EXPECT_EQ(table.sendCommand(id, mci::MCI_SET, mci::MCI_SEQ_SET_PORT, &parms),
            mci::err::SeqPortNonexistent);
  EXPECT_EQ(table.close(id), mci::err::None);
}

}  // namespace
}  // namespace plimra::seq
