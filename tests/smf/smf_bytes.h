// Builds Standard MIDI File bytes for tests.
#pragma once

#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

namespace smftest {

using Bytes = std::vector<uint8_t>;

inline void put32(Bytes& b, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back(uint8_t(v >> s));
}

inline Bytes vlq(uint32_t v) {
  Bytes out{uint8_t(v & 0x7f)};
  while (v >>= 7) out.insert(out.begin(), uint8_t(0x80 | (v & 0x7f)));
  return out;
}

inline Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

inline Bytes chunk(const char* id, const Bytes& body, uint32_t declaredLength) {
  Bytes out(id, id + 4);
  put32(out, declaredLength);
  out.insert(out.end(), body.begin(), body.end());
  return out;
}
inline Bytes chunk(const char* id, const Bytes& body) { return chunk(id, body, body.size()); }

inline Bytes header(uint16_t format, uint16_t tracks, uint16_t division) {
  return chunk("MThd", {uint8_t(format >> 8), uint8_t(format), uint8_t(tracks >> 8),
                        uint8_t(tracks), uint8_t(division >> 8), uint8_t(division)});
}

inline const Bytes kEndOfTrack{0x00, 0xff, 0x2f, 0x00};

inline Bytes tempoEvent(uint32_t delta, uint32_t tempo) {
  return cat(
      {vlq(delta), {0xff, 0x51, 0x03, uint8_t(tempo >> 16), uint8_t(tempo >> 8), uint8_t(tempo)}});
}

inline Bytes readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline std::string peer(const std::string& name) {
  return std::string(PLIMRA_TESTDATA) + "/midi/" + name;
}

}  // namespace smftest
