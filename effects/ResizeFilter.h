// The resize step of the chain: computes the target size from the size rule
// the list holds (SetResizeParam) and resizes with the worker's resizer.
// It has no dialog of its own; its settings are the resize options.
#pragma once

#include "effects/Effect.h"

#include <cstdint>

// The new size of a w x h image under a size rule (0 to 13 but 9) with the
// values v and u. DownScale is the factor the image was already reduced by
// while decoding; only the percentage rules use it (the pixel rules name the
// final size). Results below 1 become 1; with NoExpand nothing changes when
// either side would grow. A size that is not positive is left as it is.
void CalcNewSize(int32_t Rule, double v, double u, bool NoExpand, int32_t DownScale, int32_t &Width,
                 int32_t &Height);

class TResizeFilter : public TEffect {
public:
  TResizeFilter();

  void DoEffect(TICCImgInfo &Img, TEffectParams &Params) const override;
  bool IsChange(const TImageProbe &Info) const override;

  // The size under the owner's rule and values and the resize option
  // "NoExpand" (Width and Height in and out).
  void GetNewSize(int32_t &Width, int32_t &Height, int32_t DownScale) const;
};
