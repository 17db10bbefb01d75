// Helper for the end-to-end play tests and the play-start benchmark.
//   audio_probe song OUT.MID NOTE MS [SILENCE_BEFORE_MS]
//       writes a song with one flute note (NOTE 0: silence only)
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
#include <iostream>
#include <string>
#include <vector>

#include "tests/support/midi_file.h"

namespace {

constexpr int kRate = 44100;
constexpr int kFrameBytes = 4;
constexpr int kLoud = 300;  // of 32767: well above dithering or rounding noise

std::vector<int16_t> readLeft(const std::string& path, long long fromByte = 0) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(fromByte - fromByte % kFrameBytes);
  std::vector<int16_t> left;
  int16_t frame[2];
  while (in.read(reinterpret_cast<char*>(frame), sizeof frame)) left.push_back(frame[0]);
  return left;
}

int segments(const std::string& path) {
  // Runs of 20 ms windows that sound at about the same pitch.
  const std::vector<int16_t> s = readLeft(path);
  constexpr int kWin = kRate / 50;
  struct Run {
    long from = -1, to = -1;
    double hz = 0;
    int windows = 0;
  } run;
  auto flush = [&] {
    if (run.windows >= 3)
      std::printf("%ld %ld %.0f\n", run.from * 20, run.to * 20, run.hz / run.windows);
    run = Run{};
  };
  const long windows = static_cast<long>(s.size()) / kWin;
  for (long w = 0; w < windows; ++w) {
    const int16_t* x = s.data() + w * kWin;
    double sum = 0;
    int crossings = 0;
    for (int i = 0; i < kWin; ++i) {
      sum += static_cast<double>(x[i]) * x[i];
      if (i && (x[i - 1] < 0) != (x[i] < 0)) ++crossings;
    }
    if (std::sqrt(sum / kWin) <= kLoud) {
      flush();
      continue;
    }
    const double hz = crossings / 2.0 * 50;
    if (run.windows && std::abs(hz - run.hz / run.windows) > 0.08 * (run.hz / run.windows)) flush();
    if (!run.windows) run.from = w;
    run.to = w + 1;
    run.hz += hz;
    ++run.windows;
  }
  flush();
  return 0;
}

int first(const std::string& path, long long fromByte) {
  const std::vector<int16_t> s = readLeft(path, fromByte);
  for (size_t i = 0; i < s.size(); ++i)
    if (std::abs(s[i]) > kLoud) {
      std::printf("%.1f\n", static_cast<double>(i) * 1000.0 / kRate);
      return 0;
    }
  std::printf("-1\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string cmd = argc > 1 ? argv[1] : "";
  if (cmd == "song" && (argc == 5 || argc == 6)) {
    const auto bytes =
        plimra::test::noteSong(std::atoi(argv[3]), static_cast<uint32_t>(std::atoi(argv[4])), 73,
                               argc == 6 ? static_cast<uint32_t>(std::atoi(argv[5])) : 0);
    return plimra::test::writeFile(argv[2], bytes) ? 0 : 1;
  }
  if (cmd == "segments" && argc == 3) return segments(argv[2]);
  if (cmd == "first" && argc == 4) return first(argv[2], std::atoll(argv[3]));
  std::cerr << "usage: audio_probe song OUT.MID NOTE MS [SILENCE_MS] | segments RAW | "
               "first RAW FROM_BYTE\n";
  return 2;
}
