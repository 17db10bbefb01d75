#pragma once

#include <QIcon>
#include <QPixmap>

namespace plimra::resources {

// The MIDI window's icon: black notes and a sharp on a five-line staff, on
// grey, 32 x 32.
QIcon notesIcon();

// The same drawing with a transparent background, for the About window.
QPixmap notesPicture();

}  // namespace plimra::resources
