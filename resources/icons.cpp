#include "resources/icons.h"

#include <QPixmap>

namespace plimra::resources {

namespace {
#include "resources/notes_icon.xpm"
}

QIcon notesIcon() { return QIcon(QPixmap(notes_xpm)); }

}  // namespace plimra::resources
