// The unsharp-mask step: drives the unsharp-mask engine (resample/
// WeightedMean.h) on all channels, or on luminance only through YCC14 or,
// in Lab mode, through L*. 4-channel images pass unchanged.
#pragma once

#include "effects/Effect.h"

#include <cstdint>

class TUSMFilter : public TEffect {
public:
  TUSMFilter();

  void DoEffect(TICCImgInfo &Img, TEffectParams &Params) const override;
  void ReadIniFile(const TMemIniFile &Ini) override;
  void WriteIniFile(TMemIniFile &Ini) const override;

  // Whether the engine works in linear light: Degamma, except for Lab
  // luminance (L* is perceptual already).
  bool LinearLight(bool EnabledLabMode) const;
  // Hands the settings to an engine (the program-wide one after reading the
  // settings or a dialog's OK; workers copy it when a run starts).
  void ApplyToEngine(TUnsharpMask &Engine, bool EnabledLabMode) const;

  int32_t FHighlight = 100;  // "適用量(+)" percent
  int32_t FShadow = 100;     // "適用量(-)" percent
  double FRadius = 1.0;
  int32_t FThreshold = 0;    // 8-bit steps
  int32_t FMax = 0;          // percent
  int32_t FMin = 0;          // percent
  bool FDegamma = false;
  bool FLumaOnly = true;
  bool FLab = false;
  bool FPreview = true;
  bool FHistogram = true;
};
