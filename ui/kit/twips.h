// Twips (1/1440 inch) and pixels: 15 twips to a pixel at 96 dpi. Qt's
// device-independent pixels are 96-dpi pixels, so high-dpi screens scale
// the result themselves.
#pragma once

#include <climits>

namespace plimra::kit {

constexpr int TwipsPerPixel = 15;

// Rounds to the nearest pixel, halves away from zero; in 64 bits, so that
// no twips value overflows on the way.
constexpr int TwipsToPixels(int twips) {
  const long long t = twips;
  return static_cast<int>(t >= 0 ? (t + TwipsPerPixel / 2) / TwipsPerPixel
                                 : -((-t + TwipsPerPixel / 2) / TwipsPerPixel));
}
// Saturates at the ends of int.
constexpr int PixelsToTwips(int pixels) {
  const long long t = static_cast<long long>(pixels) * TwipsPerPixel;
  return t > INT_MAX ? INT_MAX : t < INT_MIN ? INT_MIN : static_cast<int>(t);
}

// A window's position on the desktop: X11 keeps coordinates in 16 signed
// bits of pixels. A position beyond them is no place a window can stand.
constexpr int kMaxWindowPixels = 32767;
constexpr bool isWindowPosition(int twips) {
  const int pixels = TwipsToPixels(twips);
  return pixels >= -kMaxWindowPixels - 1 && pixels <= kMaxWindowPixels;
}

static_assert(TwipsToPixels(4155) == 277 && TwipsToPixels(1932) == 129 &&
              TwipsToPixels(-22) == -1 && PixelsToTwips(2) == 30);
static_assert(TwipsToPixels(INT_MAX) == 143165576 && TwipsToPixels(INT_MIN) == -143165577 &&
              PixelsToTwips(INT_MAX) == INT_MAX);

}  // namespace plimra::kit
