// The program-wide window instances. Each window is created on its first
// use, which runs its Form_Load, and lives until the program ends.
#pragma once

namespace plimra::midi {
class FrmPlimra;
}
namespace plimra::cd {
class FrmCDp;
}
namespace plimra::about {
class FrmAbout;
}

namespace plimra::app {

plimra::midi::FrmPlimra* frmPlimra();
plimra::cd::FrmCDp* frmCDp();
// Unlike the players, the About window is destroyed when it closes; the next
// use makes (and loads) a new one.
plimra::about::FrmAbout* frmAbout();

// Each window is the program's one instance of its kind from its
// construction to its destruction, whoever created it: a window made
// before the first use of the accessor is the one the accessor returns.
void adopt(plimra::midi::FrmPlimra* window);
void adopt(plimra::cd::FrmCDp* window);
void release(plimra::midi::FrmPlimra* window);
void release(plimra::cd::FrmCDp* window);

// Destroys both windows the accessors made; the next use creates them
// afresh. The program does this before its application object goes, since
// a window must not outlive it.
void destroyForms();

}  // namespace plimra::app
