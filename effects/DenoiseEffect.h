// The noise-removal step: a multi-scale noise filter on the luminance and,
// for colour images, the chroma of the 14-bit YCbCr representation. The
// values come from one of 16 presets or, with the advanced setting, from
// the fields. Runs only while the noise-removal library is bound; 4-channel
// images pass unchanged.
#pragma once

#include "effects/DenoisePass.h"
#include "effects/Effect.h"

#include <array>
#include <cstdint>

// Preset rows by strength 1 to 16 (luma levels, luma sigma2 and radius,
// chroma strength, sigma2 and radius).
TDenoiseValues DenoisePreset(int32_t Str);

class TDenoiseEffect : public TEffect {
public:
  TDenoiseEffect();

  // 16-bit images come to 14 bits; gray runs the gray pass, 3 channels the
  // colour pass between ConvertToYCC14 and ConvertFromYCC14.
  void DoEffect(TICCImgInfo &Img, TEffectParams &Params) const override;
  void ReadIniFile(const TMemIniFile &Ini) override;
  void WriteIniFile(TMemIniFile &Ini) const override;

  // The values a run uses: the fields with FAdvancedSetting, else the preset of FStr.
  TDenoiseValues Values() const;
  // The fields as filter values (what the advanced setting uses), and back.
  TDenoiseValues AdvancedValues() const;
  void SetAdvancedValues(const TDenoiseValues &V);

  std::array<int32_t, 6> FSigma = {35, 25, 15, 15, 15, 40};  // Lv0 .. Lv4, chroma
  std::array<int32_t, 2> FSigma2 = {50, 50};                  // luma, chroma
  std::array<int32_t, 2> FRadius = {3, 3};                    // luma, chroma
  LongBool FAdvancedSetting = LongTrue;
  int32_t FStr = 7;
  LongBool FPreview = LongTrue;
};
