// Writes small Standard MIDI files for the window's tests: one note of a
// chosen pitch and length on one instrument, then the end of the track.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace plimra::testsong {

inline void putVlq(std::vector<uint8_t>& v, uint32_t x) {
  uint8_t buf[5];
  int n = 0;
  buf[n++] = x & 0x7F;
  while (x >>= 7) buf[n++] = static_cast<uint8_t>(0x80 | (x & 0x7F));
  while (n) v.push_back(buf[--n]);
}

// 1000 ticks a quarter at 1,000,000 us a quarter: one tick is one millisecond.
// A note of 0 ms writes a song with no note, only its pause.
inline std::vector<uint8_t> noteSong(int note, uint32_t ms, int program = 79,
                                     uint32_t silenceBeforeMs = 0) {
  std::vector<uint8_t> t;
  putVlq(t, 0);
  t.insert(t.end(), {0xFF, 0x51, 0x03, 0x0F, 0x42, 0x40});
  putVlq(t, 0);
  t.insert(t.end(), {0xC0, static_cast<uint8_t>(program)});
  if (note > 0) {
    putVlq(t, silenceBeforeMs);
    t.insert(t.end(), {0x90, static_cast<uint8_t>(note), 100});
    putVlq(t, ms);
    t.insert(t.end(), {0x80, static_cast<uint8_t>(note), 0});
    putVlq(t, 0);
  } else {
    putVlq(t, silenceBeforeMs + ms);
  }
  t.insert(t.end(), {0xFF, 0x2F, 0x00});
  // Byte by byte: GCC 12 at -O3 mistakes an insert after a braced
  // initialisation for a write past the end (-Warray-bounds).
  std::vector<uint8_t> f;
  f.reserve(22 + t.size());
  static constexpr uint8_t kHeader[] = {'M', 'T', 'h', 'd', 0,    0,    0,   6,   0,
                                        0,   0,   1,   0x03, 0xE8, 'M', 'T', 'r', 'k'};
  for (const uint8_t b : kHeader) f.push_back(b);
  const auto n = static_cast<uint32_t>(t.size());
  for (int shift = 24; shift >= 0; shift -= 8) f.push_back(static_cast<uint8_t>(n >> shift));
  f.insert(f.end(), t.begin(), t.end());
  return f;
}

inline bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

}  // namespace plimra::testsong
