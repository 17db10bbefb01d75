// The options both windows share, and the records the platform calls reuse.
// Booleans are plain bool: true where the settings file says True.
#pragma once

#include <QString>

#include "media/mci/midiout.h"

namespace plimra::Module1 {

extern bool OptMin;       // iconize the playing window when playing starts
extern bool OptChange;    // stop what plays when switching windows
extern bool OptTime;      // position and length in the caption while playing
extern bool OptSingle;    // play one song only
extern bool OptContinue;  // play the list in order
extern bool OptRandom;    // play the list in random order
extern QString OptReset;  // reset before each song: "GS", "GM" or "NON"

// The one capabilities record every MIDI-OUT query fills.
extern plimra::mci::MidiOutCaps MidiCaps;

}  // namespace plimra::Module1
