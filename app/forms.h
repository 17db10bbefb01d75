// The program-wide window instances. Each window is created on its first
// use, which runs its Form_Load, and lives until the program ends.
#pragma once

#include <functional>

namespace plimra::midi {
class FrmPlimra;
}
namespace plimra::cdp {
class FrmCDp;
}
namespace plimra::about {
class FrmAbout;
}

namespace plimra::app {

plimra::midi::FrmPlimra* frmPlimra();
plimra::cdp::FrmCDp* frmCDp();
// Unlike the players, the About window is destroyed when it closes; the next
// use makes (and loads) a new one.
plimra::about::FrmAbout* frmAbout();

// The reader of the saved settings that the MIDI window's start-up runs
// (after the port list is filled, before the check marks are set). Set it
// before the first use of frmPlimra(); none: start-up keeps the defaults.
void setLoadSettings(std::function<void()> loader);

// Destroys both windows so that the next use creates them afresh (tests).
void destroyFormsForTests();

}  // namespace plimra::app
