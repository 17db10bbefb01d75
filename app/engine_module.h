// The engines' module as the program uses it. Until the module is open the
// device table, the MIDI-OUT catalogue and the synthesizer's settings hold
// stand-ins that open it when something first needs it (a song or a disc
// played, the port list asked for) and then hand on to the engines in it.
#pragma once

#include <QStringList>
#include <chrono>

namespace plimra::app {

// Installs the stand-ins. The module is looked for in `folders`, in order.
void installEngines(const QStringList& folders);
// Opens the module on a thread of its own, if nothing has opened it yet;
// for once the window shows.
void openEnginesInBackground();
// Lets what was sent to the MIDI-OUT ports leave, at most `limit`; nothing
// to do when the engines were never opened.
void drainSystemPorts(std::chrono::milliseconds limit);

}  // namespace plimra::app
