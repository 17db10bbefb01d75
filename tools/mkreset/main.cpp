// Writes the reset songs that can play before each song: a GS Reset, a GM
// System On or an XG System On, then a pause long enough for a real sound
// module to settle.
//   mkreset gs GS.MID
//   mkreset gm GM.MID
//   mkreset xg XG.MID
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr uint16_t kTicksPerQuarter = 480;
constexpr uint32_t kTempo = 500000;  // microseconds per quarter note
// 96 ticks at this tempo are 100 ms: modules need at least 50 ms after any
// of the three resets before they take notes reliably.
constexpr uint32_t kSettleTicks = 96;

void put16(std::vector<uint8_t>& v, uint32_t x) {
  v.push_back(static_cast<uint8_t>(x >> 8));
  v.push_back(static_cast<uint8_t>(x));
}
void put32(std::vector<uint8_t>& v, uint32_t x) {
  put16(v, x >> 16);
  put16(v, x & 0xFFFF);
}
void putVlq(std::vector<uint8_t>& v, uint32_t x) {
  uint8_t buf[5];
  int n = 0;
  buf[n++] = x & 0x7F;
  while (x >>= 7) buf[n++] = static_cast<uint8_t>(0x80 | (x & 0x7F));
  while (n) v.push_back(buf[--n]);
}

std::vector<uint8_t> resetSong(const std::vector<uint8_t>& sysex) {
  std::vector<uint8_t> track;
  // Tempo, so the pause does not depend on a default.
  putVlq(track, 0);
  track.insert(track.end(), {0xFF, 0x51, 0x03, kTempo >> 16, (kTempo >> 8) & 0xFF, kTempo & 0xFF});
  // The SysEx event: F0, length of the rest, the rest (ending in F7).
  putVlq(track, 0);
  track.push_back(0xF0);
  putVlq(track, static_cast<uint32_t>(sysex.size() - 1));
  track.insert(track.end(), sysex.begin() + 1, sysex.end());
  putVlq(track, kSettleTicks);
  track.insert(track.end(), {0xFF, 0x2F, 0x00});

  std::vector<uint8_t> file{'M', 'T', 'h', 'd'};
  put32(file, 6);
  put16(file, 0);  // format 0
  put16(file, 1);  // one track
  put16(file, kTicksPerQuarter);
  file.insert(file.end(), {'M', 'T', 'r', 'k'});
  put32(file, static_cast<uint32_t>(track.size()));
  file.insert(file.end(), track.begin(), track.end());
  return file;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: mkreset gs|gm|xg OUT.MID\n";
    return 2;
  }
  const std::string kind = argv[1];
  std::vector<uint8_t> sysex;
  if (kind == "gs")
    sysex = {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};
  else if (kind == "gm")
    sysex = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
  else if (kind == "xg")
    sysex = {0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7};
  else {
    std::cerr << "mkreset: unknown reset \"" << kind << "\" (gs, gm or xg)\n";
    return 2;
  }
  const auto bytes = resetSong(sysex);
  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    std::cerr << "mkreset: cannot write " << argv[2] << "\n";
    return 1;
  }
  return 0;
}
