#pragma once

#include <QIcon>

namespace plimra::resources {

// The MIDI window's icon: black notes and a sharp on a five-line staff, on
// grey, 32 x 32.
QIcon notesIcon();

}  // namespace plimra::resources
