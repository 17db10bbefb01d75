// The program-wide window instances. Each window is created on its first
// use, which runs its onLoad, and lives until the program ends.
#pragma once

#include <QString>
#include <optional>

namespace plimra::ui {

class MidiWindow;
class CdWindow;
class AboutWindow;
class LyricsWindow;
class Player;

plimra::ui::MidiWindow* midiWindow();
plimra::ui::CdWindow* cdWindow();
// Unlike the players, the About window is destroyed when it closes; the next
// use makes (and loads) a new one.
plimra::ui::AboutWindow* aboutWindow();
// The lyrics window of the MIDI window's songs, made at its first use. It
// shows while the option says so.
plimra::ui::LyricsWindow* lyricsWindow();

// Where the CD window stands once it is made (now, if it is already), as
// plimra.ini says; a missing value leaves the place its start-up gives it.
struct WindowPlace {
  std::optional<int> top, left;  // twips
};
void placeCdWindow(const WindowPlace& place);

// Each window is the program's one instance of its kind from its
// construction to its destruction, whoever created it: a window made
// before the first use of the accessor is the one the accessor returns.
void adopt(plimra::ui::MidiWindow* window);
void adopt(plimra::ui::CdWindow* window);
void release(plimra::ui::MidiWindow* window);
void release(plimra::ui::CdWindow* window);

// What the desktop reaches: the player window the user sees (the MIDI
// window unless the CD window is shown instead), raised; the end of the
// program through that window's exit; a song or folder from outside, which
// brings the MIDI window back and plays it as a double-click would.
Player& shownPlayer();
void raiseShownWindow();
void exitFromShownWindow();
void openFromOutside(const QString& path);

// Destroys both windows the accessors made; the next use creates them
// afresh. The program does this before its application object goes, since
// a window must not outlive it.
void destroyWindows();

}  // namespace plimra::ui
