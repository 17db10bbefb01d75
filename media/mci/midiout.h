// MIDI output enumeration, as the MIDI window's port list needs it: device -1
// is the MIDI mapper, devices 0 .. n-1 the outputs the system offers. The
// sequencer installs the real catalogue (built-in synthesizer first, then the
// system's MIDI-OUT ports); tests install their own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace plimra::mci {

// The name field of an output's capabilities record; at most 31 bytes, like
// the fixed 32-byte field it stands for.
struct MidiOutCaps {
  std::string name;
};

class MidiOutCatalog {
 public:
  virtual ~MidiOutCatalog() = default;
  // Names of the outputs 0 .. n-1, taken afresh on each call.
  virtual std::vector<std::string> outputNames() = 0;
  // Name shown for device -1.
  virtual std::string mapperName() { return "MIDI Mapper"; }
};

void setMidiOutCatalog(std::shared_ptr<MidiOutCatalog> catalog);
std::shared_ptr<MidiOutCatalog> midiOutCatalog();

// Number of outputs (not counting the mapper). Takes a fresh snapshot of the
// catalogue that the following midiOutGetDevCaps calls read.
uint32_t midiOutGetNumDevs();
// Fills `caps` for device -1 .. n-1 of the last snapshot and returns 0, or
// returns err::InvalidDeviceId (and leaves `caps` as it was) for any other.
uint32_t midiOutGetDevCaps(int32_t deviceId, MidiOutCaps& caps);

}  // namespace plimra::mci
