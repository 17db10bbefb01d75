// The program-wide window instances. Each window is created on its first
// use, which runs its onLoad, and lives until the program ends.
#pragma once

namespace plimra::ui {
class MidiWindow;
}
namespace plimra::ui {
class CdWindow;
}
namespace plimra::ui {
class AboutWindow;
}

namespace plimra::ui {

plimra::ui::MidiWindow* midiWindow();
plimra::ui::CdWindow* cdWindow();
// Unlike the players, the About window is destroyed when it closes; the next
// use makes (and loads) a new one.
plimra::ui::AboutWindow* aboutWindow();

// Each window is the program's one instance of its kind from its
// construction to its destruction, whoever created it: a window made
// before the first use of the accessor is the one the accessor returns.
void adopt(plimra::ui::MidiWindow* window);
void adopt(plimra::ui::CdWindow* window);
void release(plimra::ui::MidiWindow* window);
void release(plimra::ui::CdWindow* window);

// Destroys both windows the accessors made; the next use creates them
// afresh. The program does this before its application object goes, since
// a window must not outlive it.
void destroyWindows();

}  // namespace plimra::ui
