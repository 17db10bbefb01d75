// The options both windows share, the records the platform calls reuse,
// and the writer of the settings file.
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
extern QString OptReset;  // reset before each song: "GS", "GM", "XG" or "NON"
// The SoundFont of the built-in synthesizer (the lossless text form of its
// path), empty for the system's.
extern QString OptSoundFont;

// The port request the port panel sends to the sequencer; only dwPort is
// ever written.
extern plimra::mci::SeqSetParms SeqParms;

// Where plimra.ini lives (see settings::profilePath), for both reading and
// writing.
QString SettingsFile();

// Writes the settings of both windows (the CD window is loaded, hidden, if
// it was not yet), keeping whatever else the file holds. False, with `why`
// set, when the file could not be written; the file is then as it was.
bool SaveSettings(QString* why = nullptr);

// Both windows' "動作環境の保存(&S)": asks first, saves on Yes, and says so
// when the file could not be written.
void AskAndSaveSettings();

}  // namespace plimra::Module1
