#include "resources/icons.h"

#include <QBitmap>
#include <QColor>

namespace plimra::resources {

namespace {
#include "resources/notes_icon.xpm"

// The icon's background grey.
constexpr QRgb kBackground = 0xFFC0C0C0;
}  // namespace

QIcon notesIcon() { return QIcon(QPixmap(notes_xpm)); }

QPixmap notesPicture() {
  QPixmap picture(notes_xpm);
  picture.setMask(picture.createMaskFromColor(QColor::fromRgb(kBackground), Qt::MaskInColor));
  return picture;
}

}  // namespace plimra::resources
