// The trimming step: crops the image to a rectangle given by four size
// expressions, read as x, y, width, height; as insets in pixels; as insets
// in percent; or as the largest rectangle of an aspect ratio placed by two
// position percentages. Landscape and portrait images have their own values.
#pragma once

#include "effects/Effect.h"
#include "effects/SizeValues.h"

#include <cstdint>
#include <string>

// A crop rectangle in picture coordinates (top-left corner and size).
struct TTrimRect {
  int32_t L = 0, T = 0, W = 0, H = 0;
};

// The rectangle of trimming type 0 to 3 for the values q on a w x h image;
// W or H below 1 means the image stays as it is.
TTrimRect TrimmingRect(int32_t Type, const TValueSet &q, int32_t w, int32_t h);

class TTrimmingFilter : public TEffect {
public:
  TTrimmingFilter();

  // Reduces to 8 bits, then crops; a rectangle of no size changes nothing.
  void DoEffect(TICCImgInfo &Img, TEffectParams &Params) const override;
  void ReadIniFile(const TMemIniFile &Ini) override;
  void WriteIniFile(TMemIniFile &Ini) const override;
  // The type, then the eight value strings.
  void WriteParamToStream(std::vector<uint8_t> &S) const override;

  // 0 x, y, width, height (px); 1 insets (px); 2 insets (%); 3 aspect ratio.
  int32_t FType = 1;
  int32_t FExp = 0;  // landscape/portrait condition (see UsesLandscapeValues)
  TValueStrings FValue = {"0", "0", "0", "0", "0", "0", "0", "0"};
  LongBool FPreview = LongTrue;
  std::string FSizeList = "フリーサイズ";  // presets of the preview's selection
};
