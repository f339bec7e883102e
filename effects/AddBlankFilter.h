// The margin step: extends the canvas to an aspect ratio or by margins in
// pixels or percent, fills the margins with a corner colour or a fixed one,
// draws up to three frames around the image and a blurred drop shadow under
// them. Landscape and portrait images have their own values.
#pragma once

#include "effects/Effect.h"
#include "effects/SizeValues.h"

#include <cstdint>

struct TAddBlankParam {
  int32_t BlankType = 1;  // 0 aspect ratio, 1 margins (px), 2 margins (%)
  int32_t ExpType = 0;    // landscape/portrait condition (see UsesLandscapeValues)
  int32_t ColorType = 4;  // 0 to 3 the colour of a corner pixel, 4 Color
  TValueStrings Value = {"0", "0", "0", "0", "0", "0", "0", "0"};
  int32_t Color = -1;     // 0x00BBGGRR, opacity in the top byte
  LongBool UseFrame1 = LongFalse, UseFrame2 = LongFalse, UseFrame3 = LongFalse;
  int32_t Frame1Color = 0, Frame2Color = 16777215, Frame3Color = 0;
  int32_t Frame1Width = 1, Frame2Width = 6, Frame3Width = 1;
  LongBool UseDropShadow = LongFalse;
  int32_t ShadowColor = 0;
  int32_t ShadowOpacity = 75;  // percent
  double ShadowRadius = 4.0;
  int32_t ShadowStr = 4;
  int32_t ShadowOffsetX = 4, ShadowOffsetY = 4;
};

// Where the parts of the result lie for a w x h image, in picture coordinates.
struct TBlankLayout {
  int32_t W = 0, H = 0;  // the canvas
  int32_t L = 0, T = 0;  // the outer edge of the frames (the image itself at L + F, T + F)
  int32_t F = 0;         // the frames' total width
};
// The layout for the values q; W and H equal to w and h means nothing changes.
// Position strings P2 and P3 are the chosen set's items 2 and 3 ("-1": centred).
TBlankLayout BlankLayout(const TAddBlankParam &Param, const TValueSet &q, const std::string &P2,
                         const std::string &P3, int32_t w, int32_t h);

class TAddBlankFilter : public TEffect {
public:
  TAddBlankFilter();

  // Reduces to 8 bits, then builds the canvas (margins, shadow, frames, image).
  void DoEffect(TICCImgInfo &Img, TEffectParams &Params) const override;
  void ReadIniFile(const TMemIniFile &Ini) override;
  void WriteIniFile(TMemIniFile &Ini) const override;

  TAddBlankParam FAddBlankParam;
  LongBool FPreview = LongTrue;
};
