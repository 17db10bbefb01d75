// Looks in a raw capture (S16 stereo, as SDL's disk driver writes it) for
// the start of a track of a generated disc image and counts how many frames
// from there on are exactly that track's samples.
//   check_capture OUT.raw TRACK MIN_FRAMES
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "tools/mkdisc/disc_image.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: check_capture OUT.raw TRACK MIN_FRAMES\n");
    return 2;
  }
  const int track = std::atoi(argv[2]);
  const long minFrames = std::atol(argv[3]);
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "check_capture: cannot read %s\n", argv[1]);
    return 1;
  }
  std::vector<int16_t> s;
  int16_t frame[2];
  while (in.read(reinterpret_cast<char*>(frame), sizeof frame)) s.insert(s.end(), frame, frame + 2);
  const size_t frames = s.size() / 2;

  using plimra::mkdisc::identSample;
  long best = 0;
  for (size_t i = 0; i < frames; ++i) {
    if (s[2 * i] != identSample(track, 0, 0) || s[2 * i + 1] != identSample(track, 0, 1)) continue;
    long n = 0;
    while (i + n < frames && s[2 * (i + n)] == identSample(track, static_cast<uint32_t>(n), 0) &&
           s[2 * (i + n) + 1] == identSample(track, static_cast<uint32_t>(n), 1))
      ++n;
    if (n > best) best = n;
  }
  std::printf("%ld frames of track %d from its first sample (%zu frames captured)\n", best, track,
              frames);
  return best >= minFrames ? 0 : 1;
}
