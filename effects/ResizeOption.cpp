// The size-rule table, the program-wide resize settings and their kernels.
#include "effects/ResizeOption.h"

#include "resample/Resize.h"
#include "resample/WeightedMean.h"

TResizeOption ResizeOption;

const TSizeRuleInfo SizeRuleTable[SIZE_RULE_COUNT] = {
    {"比率(%)", "倍率", "", "%", 100, 0},
    {"長辺基準(px)", "長辺", "", "px", 512, 0},
    {"短辺基準(px)", "短辺", "", "px", 384, 0},
    {"幅基準(px)", "幅", "", "px", 512, 0},
    {"高さ基準(px)", "高さ", "", "px", 384, 0},
    {"長辺 x 短辺(%)", "長辺", "短辺", "%", 100, 100},
    {"幅 x 高さ(%)", "幅", "高さ", "%", 100, 100},
    {"長辺 x 短辺(px)", "長辺", "短辺", "px", 512, 384},
    {"幅 x 高さ(px)", "幅", "高さ", "px", 512, 384},
    {"履歴", "", "", "", 0, 0},
    {"内接 幅x高さ", "幅", "高さ", "px", 512, 384},
    {"外接 幅x高さ", "幅", "高さ", "px", 512, 384},
    {"内接 長辺x短辺", "長辺", "短辺", "px", 512, 384},
    {"外接 長辺x短辺", "長辺", "短辺", "px", 512, 384},
};

TResizeOption::TResizeOption() {
  for (int32_t r = 0; r < SIZE_RULE_COUNT; ++r) {
    Size1[r] = SizeRuleTable[r].Default1;
    Size2[r] = SizeRuleTable[r].Default2;
  }
  History = SIZE_RULE_DEFAULT_HISTORY;
}

void ApplyResizeKernels(TResizer &Resizer, const TResizeOption &Option, int32_t Decimation,
                        int32_t Interpolation, int32_t SIMD) {
  if (Decimation >= 1 && Decimation <= 9) {
    const int32_t param = ModeParam(uint32_t(Decimation), Option.DecimationRadius, Option.DecimationSharp,
                                    Option.DecimationBlur);
    const TCreatedWeightSetter k = CreateWeightSetter(uint32_t(Decimation), param);
    Resizer.SetDecimationMode(uint32_t(Decimation), k.Setter, k.IsLimited);
  }
  if (Interpolation >= 2 && Interpolation <= 9) {
    const int32_t param = ModeParam(uint32_t(Interpolation), Option.InterpolationRadius,
                                    Option.InterpolationSharp, Option.InterpolationBlur);
    const TCreatedWeightSetter k = CreateWeightSetter(uint32_t(Interpolation), param);
    Resizer.SetInterpolationMode(uint32_t(Interpolation), k.Setter, k.IsLimited);
  }
  if (SIMD != 0) Resizer.SetSIMDMode(uint32_t(SIMD), Option.Degamma);
}
