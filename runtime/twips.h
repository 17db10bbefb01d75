// Twips (1/1440 inch) and pixels: 15 twips to a pixel at 96 dpi. Qt's
// device-independent pixels are 96-dpi pixels, so high-dpi screens scale
// the result themselves.
#pragma once

namespace plimra::rt {

constexpr int TwipsPerPixel = 15;

// Rounds to the nearest pixel, halves away from zero.
constexpr int TwipsToPixels(int twips) {
  return twips >= 0 ? (twips + TwipsPerPixel / 2) / TwipsPerPixel
                    : -((-twips + TwipsPerPixel / 2) / TwipsPerPixel);
}
constexpr int PixelsToTwips(int pixels) { return pixels * TwipsPerPixel; }

static_assert(TwipsToPixels(4155) == 277 && TwipsToPixels(1932) == 129 &&
              TwipsToPixels(-22) == -1 && PixelsToTwips(2) == 30);

}  // namespace plimra::rt
