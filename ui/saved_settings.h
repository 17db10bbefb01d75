// plimra.ini as the windows keep it: one schema of its keys, in file order,
// that both start-up's reading and a save's writing go through.
#pragma once

#include <QString>

namespace plimra::ui {

class MidiWindow;

// Where plimra.ini lives (see settings::profilePath), for both reading and
// writing.
QString settingsFile();

// Applies plimra.ini to the options and both windows (the CD window is loaded,
// hidden, when its position is applied), or writes it from what start-up has
// set when it is missing. False when it could not be read: the user has
// been told and the program has been ended.
bool loadSettings(MidiWindow& midi);

// Writes the settings of both windows, keeping whatever else the file holds.
// False, with `why` set, when the file could not be written; it is then as
// it was.
bool saveSettings(QString* why = nullptr);

// Both windows' "動作環境の保存(&S)": asks first, saves on Yes, and says so
// when the file could not be written.
void askAndSaveSettings();

}  // namespace plimra::ui
