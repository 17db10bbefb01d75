// What the speaker gets: a disc image played through the program's audio
// output with SDL's disk driver, which writes every sample to a file.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "media/audio/audio_output.h"
#include "media/cdaudio/register.h"
#include "media/mci/device_table.h"
#include "media/mci/dispatch.h"
#include "tools/mkdisc/disc_image.h"

using namespace plimra;
namespace fs = std::filesystem;

TEST(CdAudioCapture, PlayedTrackReachesTheOutputUnchanged) {
  fs::path dir = fs::temp_directory_path() / ("plimra-cdcap-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string cue = (dir / "disc.cue").string();
  const std::string raw = (dir / "out.raw").string();
  mkdisc::DiscSpec layout;
  layout.tracks = {{30}, {60}};
  ASSERT_EQ(mkdisc::writeDisc(cue, layout), "");
  setenv("PLIMRA_CDROM", cue.c_str(), 1);
  setenv("SDL_DISKAUDIOFILE", raw.c_str(), 1);
  cdaudio::registerCdAudio();

  auto& table = mci::DeviceTable::instance();
  std::string reply;
  bool done = false;
  ASSERT_EQ(table.sendString("set cdaudio time format tmsf", reply), 0u);
  ASSERT_EQ(table.sendString("play cdaudio from 2 notify", reply,
                             [&](mci::NotifyCode c) { done = c == mci::NotifySuccessful; }),
            0u);
  ASSERT_EQ(audio::AudioOutput::instance().driverName(), "disk");
  for (int i = 0; i < 500 && !done; ++i) mci::waitAndRunPostedTasks(10);
  ASSERT_TRUE(done);
  table.closeAll();
  audio::AudioOutput::instance().stop();

  // Silence before the first and after the last sample is the output idling;
  // the ident pattern's left channel is never zero, so strip silent frames.
  std::ifstream in(raw, std::ios::binary);
  std::vector<int16_t> samples;
  int16_t frame[2];
  while (in.read(reinterpret_cast<char*>(frame), sizeof frame))
    if (frame[0] != 0 || frame[1] != 0) samples.insert(samples.end(), frame, frame + 2);
  ASSERT_EQ(samples.size(), static_cast<size_t>(60 * 588 * 2));
  for (uint32_t f = 0; f < 60 * 588; ++f) {
    ASSERT_EQ(samples[2 * f], mkdisc::identSample(2, f, 0)) << f;
    ASSERT_EQ(samples[2 * f + 1], mkdisc::identSample(2, f, 1)) << f;
  }
  fs::remove_all(dir);
}
