// Colour correction: luma range and gamma, chroma gain on the YCbCr form, then
// hue (blue/red balance), contrast and RGB gamma as per-channel tables. The
// tables are built once when the settings change and only read by the workers.
#pragma once

#include "core/PixelConvert.h"
#include "effects/Effect.h"

#include <cstdint>
#include <vector>

struct TColorAdjustValues {
  int32_t LumaMin = 0;    // <0: input black point -value; >0: output black level
  int32_t LumaMax = 0;    // >0: input white point 255-value; <0: output white level 255+value
  int32_t Chroma = 0;     // chroma gain: (v+255)/255 below 0, (v+128)/128 from 0
  int32_t Hue = 0;        // blue x (Hue+512)/512, red x (1024-Hue)/1024
  int32_t Contrast = 0;   // about 127.5
  double RGBGamma = 1.0;
  double YGamma = 1.0;

  bool LumaStep() const { return LumaMin != 0 || LumaMax != 0 || Chroma != 0 || YGamma != 1.0; }
  bool RGBStep() const { return Contrast != 0 || Hue != 0 || RGBGamma != 1.0; }
};

// The four table sets of a colour correction (layouts of core/PixelConvert.h).
struct TColorAdjustTables {
  std::vector<int16_t> Luma8;  // 256 entries
  std::vector<int16_t> YCC14;  // 16321 luma entries, then 16321 chroma entries
  std::vector<int16_t> RGB8;   // LUT8_SIZE
  std::vector<int16_t> RGB14;  // LUT14_SIZE
};
TColorAdjustTables MakeColorAdjustTables(const TColorAdjustValues &V);

// Runs the correction on Img with prepared tables: 16-bit input becomes
// 14-bit; any step that runs leaves the image 14-bit.
void ApplyColorAdjust(TICCImgInfo &Img, const TColorAdjustValues &V, const TColorAdjustTables &T, TMultiThread *MT);

class TColorAdjust : public TEffect {
public:
  TColorAdjust();

  void DoEffect(TICCImgInfo &Img, TEffectParams &Params) const override;
  void ReadIniFile(const TMemIniFile &Ini) override;
  void WriteIniFile(TMemIniFile &Ini) const override;
  // RGBGamma, LumaMin, LumaMax, Hue, Contrast.
  void WriteParamToStream(std::vector<uint8_t> &S) const override;

  // Rebuilds the tables from the fields; called after reading the settings
  // and whenever the fields change (the dialog closes), on the main thread.
  void UpdateTables();
  const TColorAdjustTables &Tables() const { return FTables; }

  int32_t FLumaMin = 0, FLumaMax = 0, FChroma = 0, FHue = 0, FContrast = 0;
  double FRGBGamma = 1.0, FYGamma = 1.0;
  bool FPreview = true, FHistogram = true;

  TColorAdjustValues Values() const;

private:
  TColorAdjustTables FTables;
};
