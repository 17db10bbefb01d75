// Helper for the end-to-end play tests and the play-start benchmark.
//   audio_probe song OUT.MID NOTE MS
//       writes a song with one flute note of MS ms (NOTE 0: silence only)
//   audio_probe words OUT.MID
//       writes the song with Shift-JIS lyrics of the lyric tests
//   audio_probe segments RAW
//       lists the stretches of a capture (16-bit stereo, 44.1 kHz) that sound
//       at one pitch as "start_ms end_ms hz", hz from the zero crossings of
//       the left side
//   audio_probe first RAW FROM_BYTE
//       milliseconds from FROM_BYTE to the first sounding sample, or -1
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/midi_file.h"

namespace {

constexpr int kRate = 44100;
constexpr int kWindow = kRate / 50;  // 20 ms
constexpr int kLoud = 300;           // of 32767: well above dithering or rounding noise

std::vector<int16_t> readLeft(const char* path, long long fromByte = 0) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(fromByte - fromByte % 4);  // a frame is 4 bytes
  std::vector<int16_t> left;
  int16_t frame[2];
  while (in.read(reinterpret_cast<char*>(frame), sizeof frame)) left.push_back(frame[0]);
  return left;
}

// Runs of at least three 20 ms windows that sound at about the same pitch.
int segments(const char* path) {
  const std::vector<int16_t> s = readLeft(path);
  long from = 0, windows = 0;
  double hzSum = 0;
  auto flush = [&](long to) {
    if (windows >= 3) std::printf("%ld %ld %.0f\n", from * 20, to * 20, hzSum / windows);
    windows = 0;
    hzSum = 0;
  };
  const long count = static_cast<long>(s.size()) / kWindow;
  for (long w = 0; w < count; ++w) {
    const int16_t* x = s.data() + w * kWindow;
    double energy = 0;
    int crossings = 0;
    for (int i = 0; i < kWindow; ++i) {
      energy += static_cast<double>(x[i]) * x[i];
      if (i && (x[i - 1] < 0) != (x[i] < 0)) ++crossings;
    }
    const double hz = crossings / 2.0 * 50;
    const bool loud = std::sqrt(energy / kWindow) > kLoud;
    if (windows && (!loud || std::abs(hz - hzSum / windows) > 0.08 * hzSum / windows)) flush(w);
    if (!loud) continue;
    if (!windows) from = w;
    hzSum += hz;
    ++windows;
  }
  flush(count);
  return 0;
}

int first(const char* path, long long fromByte) {
  const std::vector<int16_t> s = readLeft(path, fromByte);
  size_t i = 0;
  while (i < s.size() && std::abs(s[i]) <= kLoud) ++i;
  if (i < s.size())
    std::printf("%.1f\n", static_cast<double>(i) * 1000.0 / kRate);
  else
    std::printf("-1\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string cmd = argc > 1 ? argv[1] : "";
  if (cmd == "song" && argc == 5) {
    const auto ms = static_cast<uint32_t>(std::atoi(argv[4]));
    const auto song = plimra::test::noteSong(std::atoi(argv[3]), ms, 73);
    return plimra::test::writeFile(argv[2], song) ? 0 : 1;
  }
  if (cmd == "words" && argc == 3)
    return plimra::test::writeFile(argv[2], plimra::test::lyricSongs().front().bytes) ? 0 : 1;
  if (cmd == "segments" && argc == 3) return segments(argv[2]);
  if (cmd == "first" && argc == 4) return first(argv[2], std::atoll(argv[3]));
  std::fprintf(stderr, "usage: audio_probe song OUT.MID NOTE MS | words OUT.MID | segments RAW | first RAW FROM\n");
  return 2;
}
