#include "ui/kit/appearance.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QApplication>
#include <QComboBox>
#include <QFontDatabase>
#include <QLineEdit>
#include <QPalette>
#include <QWidget>

namespace plimra::kit {

namespace {

// Unknown indexes fall back to the window colour.
QPalette::ColorRole roleFor(int index) {
  switch (index) {
    case 1:   // desktop
    case 15:  // button face
    case 4:   // menu
    case 22:  // 3-D light
      return QPalette::Button;
    case 5:  // window background
      return QPalette::Base;
    case 6:   // window frame
    case 16:  // button shadow
      return QPalette::Dark;
    case 7:   // menu text
    case 18:  // button text
      return QPalette::ButtonText;
    case 8:  // window text
      return QPalette::Text;
    case 13:  // highlight
      return QPalette::Highlight;
    case 14:  // highlighted text
      return QPalette::HighlightedText;
    case 17:  // grey text
      return QPalette::PlaceholderText;
    case 20:  // button highlight
      return QPalette::Light;
    case 21:  // 3-D dark shadow
      return QPalette::Shadow;
    case 23:  // tooltip text
      return QPalette::ToolTipText;
    case 24:  // tooltip background
      return QPalette::ToolTipBase;
    default:
      return QPalette::Window;
  }
}

}  // namespace

QColor toQColor(uint32_t color) {
  if (color & 0x80000000u) {
    return QApplication::palette().color(roleFor(static_cast<int>(color & 0xFF)));
  }
  return QColor(static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF),
                static_cast<int>((color >> 16) & 0xFF));
}

void setBackColor(QWidget* w, uint32_t color) {
  // Only the role the widget paints its own background with: children
  // inherit the palette and keep their own background colours.
  QPalette p = w->palette();
  const QColor c = toQColor(color);
  if (qobject_cast<QAbstractScrollArea*>(w) || qobject_cast<QLineEdit*>(w) ||
      qobject_cast<QComboBox*>(w)) {
    p.setColor(QPalette::Base, c);
  } else if (qobject_cast<QAbstractButton*>(w)) {
    p.setColor(QPalette::Button, c);
  } else {
    p.setColor(QPalette::Window, c);
    w->setAutoFillBackground(true);
  }
  w->setPalette(p);
}

void setForeColor(QWidget* w, uint32_t color) {
  QPalette p = w->palette();
  const QColor c = toQColor(color);
  for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
    p.setColor(role, c);
  w->setPalette(p);
}

void installJapaneseFontSubstitutes() {
  // Gothic faces first, then the CJK families other distributions carry.
  const QStringList gothic = {QStringLiteral("IPAGothic"), QStringLiteral("IPAexGothic"),
                              QStringLiteral("Noto Sans Mono CJK JP"),
                              QStringLiteral("Noto Sans CJK JP"), QStringLiteral("VL Gothic")};
  const QStringList pgothic = {QStringLiteral("IPAPGothic"), QStringLiteral("IPAexGothic"),
                               QStringLiteral("Noto Sans CJK JP"), QStringLiteral("IPAGothic"),
                               QStringLiteral("VL PGothic")};
  const QStringList mincho = {QStringLiteral("IPAMincho"), QStringLiteral("IPAexMincho"),
                              QStringLiteral("Noto Serif CJK JP"), QStringLiteral("IPAPMincho"),
                              QStringLiteral("IPAGothic")};
  QFont::insertSubstitutions(kGothic, gothic);
  QFont::insertSubstitutions(kPGothic, pgothic);
  QFont::insertSubstitutions(kMincho, mincho);
  QFont::insertSubstitutions(kSystem, pgothic);
  // The ASCII spellings some settings and dialogs use for the same faces.
  QFont::insertSubstitutions(QStringLiteral("MS Gothic"), gothic);
  QFont::insertSubstitutions(QStringLiteral("MS PGothic"), pgothic);
  QFont::insertSubstitutions(QStringLiteral("MS Mincho"), mincho);
}

QFont layoutFont(const QString& face, double points) {
  QFont f(face);
  f.setPointSizeF(points);
  f.setWeight(QFont::Normal);
  f.setItalic(false);
  f.setUnderline(false);
  f.setStrikeOut(false);
  return f;
}

}  // namespace plimra::kit
