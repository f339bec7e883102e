// Grayscale conversion: colour to gray with Rec. 601, Rec. 709 or custom
// weights (optionally in linear light) or from CIELAB L*, alpha kept, the
// image marked gray for colour management; and the reduction to a few gray
// levels that the chain runs after all other steps, to a custom palette or to
// levels found by merging the histogram.
#pragma once

#include "effects/Effect.h"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

// One entry of the level-merging list.
struct TColorCount {
  float Color;    // gray value; a weighted mean once entries have merged
  int32_t Count;  // pixels it stands for
  TColorCount(int32_t ACount, float AColor) : Color(AColor), Count(ACount) {}
};

// The gray levels a 256-bin histogram merges down to (at most MaxLevels),
// rounded, ascending.
std::vector<int32_t> MergeGrayLevels(std::span<const uint32_t> Histogram, int32_t MaxLevels);
// Each value 0..255 to the nearer of the levels (ascending); a tie goes to
// the higher level.
std::array<uint8_t, 256> NearestLevelMap(std::span<const int32_t> Levels);
// The custom-palette table over the first Count levels (ascending); a tie
// goes to the higher level.
std::array<uint8_t, 256> CustomPaletteMap(std::span<const int32_t> Levels);

// Red, green and blue weights of a type: 0 Rec. 601, 1 Rec. 709, 2 custom
// (in 1/10000, normalised when their sum is neither 0 nor 1).
std::array<float, 3> GrayscaleWeights(int32_t Type, int32_t Red, int32_t Green, int32_t Blue);

class TGrayscaleFilter : public TEffect {
public:
  TGrayscaleFilter();

  void DoEffect(TICCImgInfo &Img, TEffectParams &Params) const override;
  void ReadIniFile(const TMemIniFile &Ini) override;
  void WriteIniFile(TMemIniFile &Ini) const override;
  // Down to 8 bits, then every gray byte through the custom palette (when
  // it is in force) or through the levels the histogram merges down to.
  void DecreaseGrayLevels(TICCImgInfo &Img, int32_t MaxColor) const override;

  // Rebuilds the palette table and its flag (main thread, after the
  // settings are read or the dialog closes).
  void UpdatePalette();

  int32_t FRed = 0, FGreen = 0, FBlue = 0;
  int32_t FType = 0;  // 0 BT.601, 1 BT.709, 2 custom, 3 Lab
  bool FDegamma = true;
  bool FDecreaseColor = false;
  int32_t FColor = 16;
  bool FUseCustomPalette = false;
  std::array<int32_t, 16> FCustomPalette{};  // gray colours level x 0x010101, ascending
  bool FPreview = true, FHistogram = true;

private:
  void ConvertWeighted(TICCImgInfo &Img, TEffectParams &Params) const;
  void ConvertLab(TICCImgInfo &Img, TEffectParams &Params) const;
  std::array<uint8_t, 256> FPaletteTable{};
  bool FPaletteInForce = false;
};
