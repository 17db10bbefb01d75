// Builds SoundFont 2 files for tests: one preset (bank 0, program 0) that
// plays a looped square wave, so a test can tell its sound from any General
// MIDI instrument's; as small or as large as the test needs.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

#include "tests/support/midi_file.h"

namespace plimra::test {

// Each value in `size` bytes, little-endian, as RIFF has them.
inline Bytes le(std::initializer_list<uint32_t> values, int size) {
  Bytes out;
  for (uint32_t v : values)
    for (int i = 0; i < size; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  return out;
}

// A RIFF chunk, padded to an even length as RIFF asks.
inline Bytes riff(const char* id, const Bytes& body) {
  Bytes out = cat({Bytes(id, id + 4), le({static_cast<uint32_t>(body.size())}, 4), body});
  if (body.size() % 2) out.push_back(0);
  return out;
}
inline Bytes riffList(const char* type, std::initializer_list<Bytes> chunks) {
  return riff("LIST", cat({Bytes(type, type + 4), cat(chunks)}));
}

// A record's name field, and the record padded to `size` bytes.
inline Bytes record(const std::string& name, const Bytes& fields, size_t size) {
  Bytes out(name.begin(), name.end());
  out.resize(20, 0);
  append(out, fields);
  out.resize(size, 0);
  return out;
}

// `frames` sample frames of a square wave `period` frames long (even),
// looped whole periods, sounding at its own pitch on `key`.
inline Bytes squareFont(uint32_t frames, uint16_t period, uint8_t key = 60) {
  Bytes samples(2 * (size_t{frames} + 46), 0);  // then the silence every sample ends with
  for (uint32_t i = 0; i < frames; ++i) samples[2 * i + 1] = i % period < period / 2 ? 0x40 : 0xC0;
  const uint32_t loopEnd = frames / period * period;
  // Preset 0 and instrument 0 have one zone each: the instrument's, then a
  // looping sample (which closes the zone). Each list ends in a last record.
  const Bytes pdta = cat({
      riff("phdr",
           cat({record("Square", le({0, 0, 0}, 2), 38), record("EOP", le({0, 0, 1}, 2), 38)})),
      riff("pbag", le({0, 0, 1, 0}, 2)),
      riff("pmod", Bytes(10, 0)),
      riff("pgen", le({41, 0, 0, 0}, 2)),
      riff("inst", cat({record("Square", le({0}, 2), 22), record("EOI", le({1}, 2), 22)})),
      riff("ibag", le({0, 0, 2, 0}, 2)),
      riff("imod", Bytes(10, 0)),
      riff("igen", le({54, 1, 53, 0, 0, 0}, 2)),
      riff("shdr", cat({record("Square",
                               cat({le({0, frames, period, loopEnd, 44100}, 4),
                                    {key, 0},
                                    le({0, 1}, 2)}),  // mono, unlinked
                               46),
                        record("EOS", {}, 46)})),
  });
  const Bytes info =
      cat({riff("ifil", le({2, 1}, 2)), riff("isng", Bytes{'E', 'M', 'U', '8', '0', '0', '0', 0}),
           riff("INAM", Bytes{'S', 'q', 'u', 'a', 'r', 'e', 0, 0})});
  return riff("RIFF", cat({Bytes{'s', 'f', 'b', 'k'}, riffList("INFO", {info}),
                           riffList("sdta", {riff("smpl", samples)}), riffList("pdta", {pdta})}));
}

}  // namespace plimra::test
