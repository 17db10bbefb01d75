// Builds SoundFont 2 files for tests: one preset (bank 0, program 0) that
// plays a looped square wave, so a test can tell its sound from any General
// MIDI instrument's; as small or as large as the test needs.
#pragma once

#include <cstdint>
#include <string>

#include "tests/support/midi_file.h"

namespace plimra::test {

inline void putLe(Bytes& b, uint32_t v, int count) {
  for (int i = 0; i < count; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// A RIFF chunk, padded to an even length as RIFF asks.
inline Bytes riff(const char* id, const Bytes& body) {
  Bytes out(id, id + 4);
  putLe(out, static_cast<uint32_t>(body.size()), 4);
  append(out, body);
  if (body.size() % 2) out.push_back(0);
  return out;
}
inline Bytes riffList(const char* type, const char* listType, const Bytes& chunks) {
  Bytes body(listType, listType + 4);
  append(body, chunks);
  return riff(type, body);
}

// A record's 20-byte name field.
inline Bytes name20(const std::string& name) {
  Bytes out(name.begin(), name.end());
  out.resize(20, 0);
  return out;
}

// `frames` sample frames of a square wave `period` frames long (even),
// looped whole periods, sounding at its own pitch on `key`.
inline Bytes squareFont(uint32_t frames, uint16_t period, uint8_t key = 60) {
  Bytes samples;
  for (uint32_t i = 0; i < frames; ++i)
    putLe(samples, i % period < period / 2 ? 0x4000 : 0xC000, 2);
  samples.resize(samples.size() + 46 * 2, 0);  // the silence every sample ends with
  const uint32_t loopEnd = frames / period * period;

  Bytes phdr = name20("Square"), pbag, pmod(10, 0), pgen, inst = name20("Square"), ibag,
        imod(10, 0), igen, shdr = name20("Square");
  for (uint32_t v : {0u, 0u, 0u}) putLe(phdr, v, 2);  // program, bank, first zone
  phdr.resize(38, 0);
  append(phdr, name20("EOP"));
  for (uint32_t v : {0u, 0u, 1u}) putLe(phdr, v, 2);
  phdr.resize(76, 0);
  for (uint32_t v : {0u, 0u, 1u, 0u}) putLe(pbag, v, 2);   // zone 0, then the end
  for (uint32_t v : {41u, 0u, 0u, 0u}) putLe(pgen, v, 2);  // instrument 0, then the end
  putLe(inst, 0, 2);
  append(inst, name20("EOI"));
  putLe(inst, 1, 2);
  for (uint32_t v : {0u, 0u, 2u, 0u}) putLe(ibag, v, 2);
  // Looping, then the sample (which closes a zone), then the end.
  for (uint32_t v : {54u, 1u, 53u, 0u, 0u, 0u}) putLe(igen, v, 2);
  for (uint32_t v : {0u, frames, uint32_t{period}, loopEnd, 44100u}) putLe(shdr, v, 4);
  shdr.push_back(key);
  shdr.push_back(0);  // no pitch correction
  putLe(shdr, 0, 2);  // no linked sample
  putLe(shdr, 1, 2);  // mono
  append(shdr, name20("EOS"));
  shdr.resize(92, 0);

  const Bytes info =
      cat({riff("ifil", {2, 0, 1, 0}), riff("isng", Bytes{'E', 'M', 'U', '8', '0', '0', '0', 0}),
           riff("INAM", Bytes{'S', 'q', 'u', 'a', 'r', 'e', 0, 0})});
  const Bytes pdta = cat({riff("phdr", phdr), riff("pbag", pbag), riff("pmod", pmod),
                          riff("pgen", pgen), riff("inst", inst), riff("ibag", ibag),
                          riff("imod", imod), riff("igen", igen), riff("shdr", shdr)});
  Bytes body{'s', 'f', 'b', 'k'};
  append(body, cat({riffList("LIST", "INFO", info), riffList("LIST", "sdta", riff("smpl", samples)),
                    riffList("LIST", "pdta", pdta)}));
  return riff("RIFF", body);
}

}  // namespace plimra::test
