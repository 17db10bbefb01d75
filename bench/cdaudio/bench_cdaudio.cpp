// CD audio benchmarks on a generated disc image, each against the naive way
// in the same run:
//   status poll       cached answer   vs  asking libcdio (open the image, read the table)
//   disc check        file identities vs  reading the cue sheet again each time
//   verified reads    paranoia (as on a drive) vs plain reads (as from an image)
//   play to sound     read-ahead thread vs reading two seconds on the calling thread first
//   CPU while playing worker + ring   vs  reading sectors inside the audio callback
#include <cdio/cdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <vector>

#include "media/audio/audio_output.h"
#include "media/cdaudio/disc.h"
#include "media/cdaudio/drive.h"
#include "media/cdaudio/paranoia_reader.h"
#include "media/cdaudio/register.h"
#include "media/mci/device_table.h"
#include "tools/mkdisc/disc_image.h"

using namespace plimra;
using clk = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

double secondsSince(clk::time_point t) {
  return std::chrono::duration<double>(clk::now() - t).count();
}

double cpuSeconds() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

std::string send(const std::string& command) {
  std::string reply;
  mci::DeviceTable::instance().sendString(command, reply);
  return reply;
}

// The naive source: reads each sector from the disc inside the audio callback.
class SyncSource : public audio::AudioSource {
 public:
  SyncSource(const std::string& cue, int32_t from)
      : cdio_(cdio_open(cue.c_str(), DRIVER_BINCUE)), next_(from) {}
  ~SyncSource() override { cdio_destroy(cdio_); }
  void render(float* out, int frames) override {
    while (frames > 0) {
      if (offset_ == cdaudio::kFramesPerSector) {
        cdio_read_audio_sectors(cdio_, sector_, next_++, 1);
        offset_ = 0;
      }
      int n = std::min(frames, cdaudio::kFramesPerSector - offset_);
      const int16_t* s = reinterpret_cast<const int16_t*>(sector_) + offset_ * 2;
      for (int i = 0; i < n * 2; ++i) out[i] += s[i] / 32768.0f;
      out += n * 2;
      frames -= n;
      offset_ += n;
    }
  }

 private:
  CdIo_t* cdio_;
  int32_t next_;
  int offset_ = cdaudio::kFramesPerSector;
  uint8_t sector_[cdaudio::kBytesPerSector];
};

}  // namespace

int main() {
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  fs::path dir = fs::temp_directory_path() / ("plimra-bench-cd-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string cue = (dir / "disc.cue").string();
  mkdisc::DiscSpec layout;
  for (int i = 0; i < 8; ++i) layout.tracks.push_back({10 * cdaudio::kSectorsPerSecond});
  if (auto e = mkdisc::writeDisc(cue, layout); !e.empty()) {
    std::fprintf(stderr, "bench_cdaudio: %s\n", e.c_str());
    return 1;
  }
  setenv("PLIMRA_CDROM", cue.c_str(), 1);
  cdaudio::registerCdAudio();
  send("set cdaudio time format tmsf");

  // Status poll.
  {
    const int n = 200000;
    auto t = clk::now();
    for (int i = 0; i < n; ++i) send("status cdaudio position");
    double ours = secondsSince(t) / n;
    const int m = 2000;
    t = clk::now();
    for (int i = 0; i < m; ++i) {
      CdIo_t* p = cdio_open(cue.c_str(), DRIVER_BINCUE);
      auto toc = cdaudio::readToc(p);
      cdio_destroy(p);
      if (!toc) return 1;
    }
    double naive = secondsSince(t) / m;
    std::printf("status poll: %.2f us (\"status cdaudio position\", cached, no disc access)\n",
                ours * 1e6);
    std::printf("  naive (open the image and read its table each time): %.2f us, ratio %.1fx\n",
                naive * 1e6, naive / ours);
  }

  // 1b. The worker's look for a changed image, twice a second while the CD
  // window is open: the sheet is read again only when its identity changes.
  {
    cdaudio::DiscAccess disc(cue);
    disc.refresh();
    const int n = 100000;
    auto t = clk::now();
    for (int i = 0; i < n; ++i) disc.refresh();
    double ours = secondsSince(t) / n;
    t = clk::now();
    size_t files = 0;
    for (int i = 0; i < n; ++i) {
      std::string why;
      auto text = cdaudio::readCueSheet(cue, why);
      for (const auto& path : cdaudio::cueDataFiles(cue, text.value_or(""))) {
        struct stat st {};
        files += stat(path.c_str(), &st) == 0 ? 1 : 0;
      }
    }
    double naive = secondsSince(t) / n;
    if (files != static_cast<size_t>(n)) return 1;
    std::printf("disc check: %.2f us (stat the sheet and its data file)\n", ours * 1e6);
    std::printf("  naive (read and parse the sheet, then stat): %.2f us, ratio %.1fx\n",
                naive * 1e6, naive / ours);
  }

  // 1c. Reading the whole disc in the player's chunks, verified and plain.
  // Speeds are multiples of real time: a drive must stay well above 1x.
  {
    const int32_t sectors = 8 * 10 * cdaudio::kSectorsPerSecond;
    std::vector<uint8_t> buf(25 * cdaudio::kBytesPerSector);
    CdIo_t* cdio = cdio_open(cue.c_str(), DRIVER_BINCUE);
    auto reader = cdaudio::ParanoiaReader::open(cdio);
    if (!reader) return 1;
    auto t = clk::now();
    for (int32_t s = 0; s < sectors; s += 25) reader->read(s, 25, buf.data());
    double verified = secondsSince(t);
    reader.reset();
    cdio_destroy(cdio);
    cdaudio::DiscAccess disc(cue);
    disc.refresh();
    t = clk::now();
    for (int32_t s = 0; s < sectors; s += 25) disc.readAudio(s, 25, buf.data());
    double plain = secondsSince(t);
    const double audio = static_cast<double>(sectors) / cdaudio::kSectorsPerSecond;
    std::printf("verified reads: %.0fx real time (paranoia, on the image)\n", audio / verified);
    std::printf("  plain reads: %.0fx real time; verified ones cost %.1fx as much\n", audio / plain,
                verified / plain);
  }

  // Play to sound: from "play cdaudio from n" to the first sound, pulling as the output would.
  {
    auto drive = cdaudio::Drive::acquire(cue);
    drive->setOutputAttached(false);
    std::vector<double> ours, blocked, naive;
    std::vector<float> buf(2 * cdaudio::kFramesPerSector);
    for (int round = 0; round < 20; ++round) {
      std::string cmd = "play cdaudio from " + std::to_string(round % 8 + 1);
      auto t = clk::now();
      send(cmd);
      blocked.push_back(secondsSince(t));
      for (;;) {
        if (drive->readySectors() > 0) {
          std::fill(buf.begin(), buf.end(), 0.0f);
          drive->render(buf.data(), cdaudio::kFramesPerSector);
          if (buf[0] != 0.0f) break;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(50));
      }
      ours.push_back(secondsSince(t));
      send("stop cdaudio");

      // The naive way: fill the two-second buffer on the calling thread.
      t = clk::now();
      cdaudio::DiscAccess disc(cue);
      disc.refresh();
      std::vector<uint8_t> sectors(150 * cdaudio::kBytesPerSector);
      disc.readAudio((round % 8) * 750, 150, sectors.data());
      naive.push_back(secondsSince(t));
    }
    auto median = [](std::vector<double> v) {
      std::sort(v.begin(), v.end());
      return v[v.size() / 2];
    };
    std::printf("play to first sound: %.2f ms median (caller blocked %.3f ms)\n",
                median(ours) * 1e3, median(blocked) * 1e3);
    std::printf("  naive (read two seconds on the calling thread first): %.2f ms, ratio %.2fx\n",
                median(naive) * 1e3, median(naive) / median(ours));
    drive->setOutputAttached(true);
  }

  // CPU while playing: a disc plays in real time through the audio output.
  {
    const double seconds = 4.0;
    auto& out = audio::AudioOutput::instance();
    out.start();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    double c0 = cpuSeconds();
    auto t = clk::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    double idle = (cpuSeconds() - c0) / secondsSince(t);

    send("play cdaudio from 1");
    c0 = cpuSeconds();
    t = clk::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    double ours = (cpuSeconds() - c0) / secondsSince(t);
    std::string pos = send("status cdaudio position");
    send("stop cdaudio");

    SyncSource sync(cue, 0);
    out.addSource(&sync);
    c0 = cpuSeconds();
    t = clk::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    double naive = (cpuSeconds() - c0) / secondsSince(t);
    out.removeSource(&sync);

    std::printf(
        "CPU while playing: %.2f%% of a core (output idling alone: %.2f%%; driver %s; "
        "position after %.0f s: %s)\n",
        ours * 100, idle * 100, out.driverName().c_str(), seconds, pos.c_str());
    std::printf("  naive (read each sector inside the audio callback): %.2f%%, ratio %.2fx\n",
                naive * 100, naive / std::max(ours, 1e-9));
  }
  mci::DeviceTable::instance().closeAll();
  fs::remove_all(dir);
  return 0;
}
