// Levels: input black and white points, midtone gamma and output levels for
// a master channel (luma, or L* in Lab mode) and for red, green and blue,
// optionally in linear light, with automatic input ranges taken from the
// image's histogram. The tables depend on the image, so they are built per
// call.
#pragma once

#include "effects/Effect.h"
#include "effects/Histogram.h"

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

// One channel's levels; channel 0 is the master, 1 red, 2 green, 3 blue.
struct TLevelsChannel {
  int32_t InputMin = 0, InputMax = 255;
  double Gamma = 1.0;
  int32_t ShadowOut = 0, HighlightOut = 255;
  bool IsIdentity() const;
};

// Fills Table over 0..N (N = 255 or 16320; thresholds 64 x b and 64 x w for
// 16320). Lin, when given, maps an input 0..1 to linear light (the channel's
// profile curve) and Enc a linear value 0..1 to the 14-bit encoded output:
// the stretch and the gamma are then applied to linear values.
void FillLevelsTable(std::span<int16_t> Table, int32_t N, const TLevelsChannel &C,
                     const std::function<double(double)> &Lin = {}, const std::function<int32_t(double)> &Enc = {});

// The automatic range of one 256-bin histogram of Total pixels, clipping
// ClipShadow and ClipHighlight hundredths of a percent at each end.
struct TLevelsRange {
  int32_t Black = 0, White = 255;
};
TLevelsRange AutoLevelsRange(std::span<const uint32_t> Histogram, uint64_t Total, uint32_t ClipShadow,
                             uint32_t ClipHighlight);

class TLevelsAdjust : public TEffect {
public:
  TLevelsAdjust();

  void DoEffect(TICCImgInfo &Img, TEffectParams &Params) const override;
  void ReadIniFile(const TMemIniFile &Ini) override;
  void WriteIniFile(TMemIniFile &Ini) const override;

  // Preset files: section "Levels" with the keys of the levels settings
  // besides the dialog preferences. Loading replaces the fields only when
  // every key present reads cleanly, else raises ETessivoError naming the
  // file and the key and changes nothing.
  void SavePreset(const std::string &FileName) const;
  void LoadPreset(const std::string &FileName);

  std::array<int32_t, 4> FInputMin{0, 0, 0, 0};
  std::array<int32_t, 4> FInputMax{255, 255, 255, 255};
  std::array<double, 4> FGamma{1.0, 1.0, 1.0, 1.0};
  std::array<int32_t, 4> FShadowOut{0, 0, 0, 0};
  std::array<int32_t, 4> FHighlightOut{255, 255, 255, 255};
  bool FPreview = true, FHistogram = true;
  bool FDegamma = false;
  uint32_t FAutoMode = 0;  // 0 manual, 1 luma, 2 per channel, 3 one range for all channels
  uint32_t FClipShadow = 10, FClipHighlight = 10;  // hundredths of a percent
  uint32_t FHistogramType = 0;
  bool FLab = false;

  TLevelsChannel Channel(int32_t Index) const;

private:
  void WriteLevelKeys(TMemIniFile &Ini, const std::string &Section) const;
};
