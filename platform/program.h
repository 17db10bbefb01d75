// The program's folder and its end.
#pragma once

#include <QString>
#include <functional>

namespace plimra::platform {

// The folder of the running program, without a trailing "/" except for the
// root folder; in the lossless text form of platform/filenames.h.
QString AppPath();
// Fixes the program's folder for the rest of the run; empty goes back to
// asking where the program's file is. The program fixes it at start-up, so
// that its settings are saved where they were read from even when its file
// is moved or replaced while it runs.
void setAppPath(const QString& path);

// Ends the program at once: no further handler runs, nothing is saved, no
// window gets its close handling. End() runs the end the program installed
// at start-up (main's lets the silence just sent to a MIDI port leave, then
// leaves the process); with none installed it leaves the process itself. A
// handler that returns makes End() return, and its caller returns at once.
void End();
using EndHandler = std::function<void()>;
void setEndHandler(EndHandler handler);  // empty: leave at once
// Leaves the process with `code` after flushing the standard streams, with
// std::_Exit, so no destructor, atexit handler or pending event of this
// program runs, nor waits for a thread.
[[noreturn]] void leaveProcess(int code = 0);

}  // namespace plimra::platform
