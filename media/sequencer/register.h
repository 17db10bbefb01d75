// Makes the sequencer known to the rest of the program.
#pragma once

#include <string>

namespace plimra::seq {

// Registers the "Sequencer" device type in the device table and installs the
// catalogue of MIDI outputs the port list shows: the built-in synthesizer,
// then the system's MIDI-OUT ports.
void registerSequencer();

// Why the built-in synthesizer makes no sound (no audio device, no
// SoundFont), or empty when it does. Songs keep time either way.
std::string noSoundReason();

}  // namespace plimra::seq
