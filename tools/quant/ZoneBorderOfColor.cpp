// bin/Zone_BorderOfColor.so: the palette search of FLAXC. A picture with
// no more colours than asked keeps them exactly; otherwise Wu's box cuts
// refined by as many k-means passes as the effort (1 to 9), or at effort 10
// libimagequant's slowest search, find the palette, with the transparent
// colour, when there is one, fixed in it.
#include "tools/quant/ZoneSearch.h"

#include "tools/quant/WuPalette.h"

#include <libimagequant.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unordered_set>
#include <vector>

namespace {

int32_t Refuse(char *Message, uint32_t Size, const char *Text, int32_t Code) {
  if (Message && Size) std::snprintf(Message, Size, "%s", Text);
  return Code;
}

// Up to Limit distinct colours in Palette; false when there are more.
bool FewColours(const TZoneSearch &S, uint8_t *Palette, uint32_t &Count, uint32_t Limit) {
  std::unordered_set<uint32_t> Seen;
  const size_t N = size_t(S.Width) * S.Height;
  if (S.HasFixed) Seen.insert(uint32_t(S.FixedColour[0]) << 16 | uint32_t(S.FixedColour[1]) << 8 | S.FixedColour[2]);
  for (size_t i = 0; i < N; ++i) {
    const uint8_t *p = S.Rgba + 4 * i;
    Seen.insert(uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]);
    if (Seen.size() > Limit) return false;
  }
  std::vector<uint32_t> Sorted(Seen.begin(), Seen.end());
  std::sort(Sorted.begin(), Sorted.end());
  Count = 0;
  for (const uint32_t c : Sorted) {
    uint8_t *e = Palette + 4 * Count++;
    e[0] = uint8_t(c >> 16);
    e[1] = uint8_t(c >> 8);
    e[2] = uint8_t(c);
    e[3] = 255;
  }
  return true;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int32_t ZoneFindPalette(const TZoneSearch *Search, uint8_t *Palette,
                                                                           uint32_t *Count, char *Message,
                                                                           uint32_t MessageSize) {
  if (!Search || !Palette || !Count || !Search->Rgba || Search->Width == 0 || Search->Height == 0)
    return Refuse(Message, MessageSize, "no picture", 1);
  const TZoneSearch &S = *Search;
  const int32_t Colours = std::clamp(S.Colours, 2, 256);
  if (FewColours(S, Palette, *Count, uint32_t(Colours))) return 0;
  if (S.Effort < 10) {
    const TRgba Fixed{S.FixedColour[0], S.FixedColour[1], S.FixedColour[2], 255};
    const std::vector<TRgba> Found = WuPalette(reinterpret_cast<const TRgba *>(S.Rgba), size_t(S.Width) * S.Height,
                                               Colours, std::max(S.Effort, 1), S.HasFixed != 0, Fixed);
    *Count = uint32_t(Found.size());
    for (uint32_t i = 0; i < *Count; ++i) {
      Palette[4 * i] = Found[i].R;
      Palette[4 * i + 1] = Found[i].G;
      Palette[4 * i + 2] = Found[i].B;
      Palette[4 * i + 3] = 255;
    }
    return *Count ? 0 : Refuse(Message, MessageSize, "no palette", 6);
  }
  liq_attr *Attr = liq_attr_create();
  if (!Attr) return Refuse(Message, MessageSize, "libimagequant cannot start", 2);
  liq_set_max_colors(Attr, Colours);
  liq_set_speed(Attr, 1);
  liq_set_min_posterization(Attr, 8 - std::clamp(S.Precision, 4, 8));
  liq_set_quality(Attr, std::clamp(S.QualityMin, 0, 100), std::clamp(S.QualityMax, 0, 100));
  liq_image *Img = liq_image_create_rgba(Attr, S.Rgba, int(S.Width), int(S.Height), S.Gamma > 0 ? S.Gamma : 0.45455);
  if (!Img) {
    liq_attr_destroy(Attr);
    return Refuse(Message, MessageSize, "libimagequant refused the picture", 3);
  }
  if (S.HasFixed) liq_image_add_fixed_color(Img, liq_color{S.FixedColour[0], S.FixedColour[1], S.FixedColour[2], 255});
  liq_result *Result = nullptr;
  const liq_error Err = liq_image_quantize(Img, Attr, &Result);
  int32_t Code = 0;
  if (Err == LIQ_QUALITY_TOO_LOW) {
    Code = Refuse(Message, MessageSize, "the palette does not reach the minimum quality (-C)", 4);
  } else if (Err != LIQ_OK || !Result) {
    Code = Refuse(Message, MessageSize, "libimagequant failed", 5);
  } else {
    const liq_palette *Pal = liq_get_palette(Result);
    *Count = std::min<uint32_t>(Pal->count, 256);
    for (uint32_t i = 0; i < *Count; ++i) {
      Palette[4 * i] = Pal->entries[i].r;
      Palette[4 * i + 1] = Pal->entries[i].g;
      Palette[4 * i + 2] = Pal->entries[i].b;
      Palette[4 * i + 3] = Pal->entries[i].a;
    }
  }
  if (Result) liq_result_destroy(Result);
  liq_image_destroy(Img);
  liq_attr_destroy(Attr);
  return Code;
}
