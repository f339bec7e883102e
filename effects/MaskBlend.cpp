// Colour through a mask, with the "over" rule where the image has alpha.
#include "effects/MaskBlend.h"

#include <algorithm>

void BlendColorThroughMask(TICCImgInfo &Img, const TICCImgInfo &Mask, int32_t X, int32_t Y, const uint8_t Color[3],
                           int32_t Opacity) {
  if (Img.BPP != BPP_8 || Mask.BPP != BPP_8 || Mask.Channels != 1) return;
  const int32_t k = (Opacity * 256 + 50) / 100;
  const uint32_t c = Img.Channels;
  const bool alpha = c == 2 || (c == 4 && Img.PixelFormat == PIXFMT_BGRA);
  const uint32_t colours = alpha ? c - 1 : c;
  const int64_t x0 = std::max<int64_t>(0, X), x1 = std::min<int64_t>(Img.Width, int64_t(X) + Mask.Width);
  const int64_t y0 = std::max<int64_t>(0, Y), y1 = std::min<int64_t>(Img.Height, int64_t(Y) + Mask.Height);
  for (int64_t y = y0; y < y1; ++y) {
    uint8_t *d = PictureRow(Img, uint32_t(y)) + x0 * c;
    const uint8_t *m = PictureRow(Mask, uint32_t(y - Y)) + (x0 - X);
    for (int64_t x = x0; x < x1; ++x, d += c, ++m) {
      const int32_t a = (k * *m) >> 8;
      if (!alpha) {
        for (uint32_t i = 0; i < c; ++i) d[i] = uint8_t(((d[i] * (255 - a) + Color[c == 1 ? 0 : i] * a + 127) * 257) >> 16);
        continue;
      }
      if (a == 0) continue;
      const int32_t t = (d[c - 1] * (255 - a) * 257) >> 16;
      const int32_t D = a + t;
      for (uint32_t i = 0; i < colours; ++i) d[i] = uint8_t((t * d[i] + a * Color[colours == 1 ? 0 : i] + D / 2) / D);
      d[c - 1] = uint8_t(D);
    }
  }
}

std::array<uint8_t, 3> MaskBlendColor(uint32_t Color, uint32_t Channels) {
  const uint8_t r = uint8_t(Color), g = uint8_t(Color >> 8), b = uint8_t(Color >> 16);
  if (Channels <= 2) return {r, r, r};
  return {b, g, r};
}
