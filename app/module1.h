// The options both windows share, and the records the platform calls reuse.
// Booleans are plain bool: true where the settings file says True.
#pragma once

#include <QString>

#include "media/mci/mci.h"

namespace plimra::Module1 {

extern bool OptMin;       // iconize the playing window when playing starts
extern bool OptChange;    // stop what plays when switching windows
extern bool OptTime;      // position and length in the caption while playing
extern bool OptSingle;    // play one song only
extern bool OptContinue;  // play the list in order
extern bool OptRandom;    // play the list in random order
extern QString OptReset;  // reset before each song: "GS", "GM" or "NON"

// The port request the port panel sends to the sequencer; only dwPort is
// ever written.
extern plimra::mci::SeqSetParms SeqParms;

}  // namespace plimra::Module1
