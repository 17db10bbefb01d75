// Colours and fonts as the window layouts give them.
#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <cstdint>

class QWidget;

namespace plimra::kit {

// Colours: 0x00BBGGRR for an RGB value; with the high bit set the low byte
// is a system colour index (5 window background, 8 window text, 15 button
// face, 18 button text, ...), taken from the application's palette.
constexpr uint32_t RGB(int r, int g, int b) {
  return static_cast<uint32_t>(r & 0xFF) | (static_cast<uint32_t>(g & 0xFF) << 8) |
         (static_cast<uint32_t>(b & 0xFF) << 16);
}
constexpr uint32_t SystemColor(int index) { return 0x80000000u | static_cast<uint32_t>(index); }
constexpr uint32_t COLOR_WINDOW = SystemColor(5);
constexpr uint32_t COLOR_WINDOWTEXT = SystemColor(8);
constexpr uint32_t COLOR_BTNFACE = SystemColor(15);
constexpr uint32_t COLOR_BTNTEXT = SystemColor(18);

QColor toQColor(uint32_t color);

// Paints a widget's background (and, for ForeColor, its text) in a colour.
void setBackColor(QWidget* w, uint32_t color);
void setForeColor(QWidget* w, uint32_t color);

// The Japanese face names of the layouts, mapped to the Japanese fonts that
// are installed, so that metrics are close and no glyph shows as a box.
// Call once after the application object exists.
void installJapaneseFontSubstitutes();

// A font by face name and size in points, regular weight.
QFont layoutFont(const QString& face, double points);

// Face names used by the layouts.
inline const QString kGothic = QStringLiteral("ＭＳ ゴシック");
inline const QString kPGothic = QStringLiteral("ＭＳ Ｐゴシック");
inline const QString kMincho = QStringLiteral("ＭＳ 明朝");
// The face of headings; it maps to the Japanese gothic so full-width
// letters show.
inline const QString kSystem = QStringLiteral("System");

}  // namespace plimra::kit
