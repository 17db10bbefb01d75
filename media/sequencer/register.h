// Makes the sequencer known to the rest of the program.
#pragma once

#include <memory>
#include <string>

#include "media/mci/device.h"
#include "media/mci/midiout.h"
#include "media/mci/synthesizer.h"

namespace plimra::seq {

// A new "Sequencer" device.
std::unique_ptr<mci::Device> makeSequencer();
// The outputs the port list shows: the built-in synthesizer, then the
// system's MIDI-OUT ports.
std::shared_ptr<mci::MidiOutCatalog> systemCatalog();
// The built-in synthesizer's settings.
std::shared_ptr<mci::Synthesizer> builtinSynthesizer();

// Registers the "Sequencer" device type in the device table and installs
// the catalogue and the synthesizer's settings above.
void registerSequencer();

// Why the built-in synthesizer makes no sound (no audio device, no
// SoundFont), or empty when it does. Songs keep time either way.
std::string noSoundReason();

}  // namespace plimra::seq
