#include "tools/mkdisc/disc_image.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <numbers>

namespace plimra::mkdisc {

namespace {
constexpr int kFrames = 588;
constexpr int kBytes = 2352;

std::string msf(int sectors) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", sectors / 4500, sectors / 75 % 60, sectors % 75);
  return buf;
}
}  // namespace

int16_t sineSample(int track, uint32_t frame) {
  double t = static_cast<double>(frame) / 44100.0;
  return static_cast<int16_t>(
      std::lround(8192.0 * std::sin(2 * std::numbers::pi * 220.0 * track * t)));
}

std::string writeDisc(const std::string& cuePath, const DiscSpec& layout) {
  if (layout.tracks.empty() || layout.tracks.size() > 99) return "a disc has 1 to 99 tracks";
  for (const TrackSpec& t : layout.tracks)
    if (t.sectors < 4 || t.pregap < 0) return "a track has at least 4 sectors";
  std::string binPath = cuePath;
  if (auto dot = binPath.rfind('.');
      dot != std::string::npos && binPath.find('/', dot) == std::string::npos)
    binPath.resize(dot);
  binPath += ".bin";
  std::string binName =
      binPath.substr(binPath.rfind('/') == std::string::npos ? 0 : binPath.rfind('/') + 1);

  // Written under temporary names and renamed, the .bin first: a player
  // watching the image never reads half a disc.
  const std::string binTemp = binPath + ".part", cueTemp = cuePath + ".part";
  std::ofstream bin(binTemp, std::ios::binary | std::ios::trunc);
  std::ofstream cue(cueTemp, std::ios::trunc);
  if (!bin || !cue) {
    std::remove(binTemp.c_str());
    std::remove(cueTemp.c_str());
    return "cannot write " + cuePath + " or " + binPath;
  }
  cue << "FILE \"" << binName << "\" BINARY\n";
  std::vector<uint8_t> sector(kBytes);
  int at = 0;
  for (size_t i = 0; i < layout.tracks.size(); ++i) {
    const TrackSpec& t = layout.tracks[i];
    const int number = static_cast<int>(i) + 1;
    char head[64];
    std::snprintf(head, sizeof head, "  TRACK %02d %s\n", number, t.data ? "MODE1/2352" : "AUDIO");
    cue << head;
    if (t.pregap > 0) {
      cue << "    INDEX 00 " << msf(at) << "\n";
      std::fill(sector.begin(), sector.end(), 0);
      for (int k = 0; k < t.pregap; ++k) bin.write(reinterpret_cast<char*>(sector.data()), kBytes);
      at += t.pregap;
    }
    cue << "    INDEX 01 " << msf(at) << "\n";
    for (int s = 0; s < t.sectors; ++s) {
      if (t.data) {
        // A plausible mode 1 header; the rest is a loud pattern that would
        // be obvious if anyone played it.
        std::fill(sector.begin(), sector.end(), 0x5A);
        sector[0] = 0;
        std::fill(sector.begin() + 1, sector.begin() + 11, 0xFF);
        sector[11] = 0;
      } else {
        for (int f = 0; f < kFrames; ++f) {
          uint32_t frame = static_cast<uint32_t>(s * kFrames + f);
          int16_t l = layout.pattern == Pattern::Ident ? identSample(number, frame, 0)
                                                     : sineSample(number, frame);
          int16_t r = layout.pattern == Pattern::Ident ? identSample(number, frame, 1) : l;
          uint8_t* p = &sector[static_cast<size_t>(f) * 4];
          p[0] = static_cast<uint8_t>(l & 0xFF);
          p[1] = static_cast<uint8_t>((l >> 8) & 0xFF);
          p[2] = static_cast<uint8_t>(r & 0xFF);
          p[3] = static_cast<uint8_t>((r >> 8) & 0xFF);
        }
      }
      bin.write(reinterpret_cast<char*>(sector.data()), kBytes);
    }
    at += t.sectors;
  }
  bin.close();
  cue.close();
  if (!bin || !cue || std::rename(binTemp.c_str(), binPath.c_str()) != 0 ||
      std::rename(cueTemp.c_str(), cuePath.c_str()) != 0) {
    std::remove(binTemp.c_str());
    std::remove(cueTemp.c_str());
    return "writing " + binPath + " failed";
  }
  return {};
}

}  // namespace plimra::mkdisc
