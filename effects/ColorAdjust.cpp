// Colour correction: the table construction and the two table stages.
#include "effects/ColorAdjust.h"

#include "core/IniFile.h"
#include "core/PixelConvertMT.h"
#include "effects/ToneTable.h"

#include <algorithm>
#include <cmath>

namespace {

// The luma table over 0..N: gamma, then the input range stretched onto the output range.
void FillLuma(int16_t *Out, int32_t N, const TColorAdjustValues &V) {
  const int32_t inLo = std::max(0, -V.LumaMin), outLo = std::max(0, V.LumaMin);
  int32_t inHi = 255 - std::max(0, V.LumaMax), outHi = 255 + std::min(0, V.LumaMax);
  if (inLo >= inHi) inHi = inLo;
  if (outLo >= outHi) outHi = outLo;
  const int32_t d = inHi - inLo ? inHi - inLo : 1;
  for (int32_t i = 0; i <= N; ++i) {
    const double g = double(255.0L * std::pow((long double)i / N, 1.0L / V.YGamma));
    const double v = (g - inLo) * (outHi - outLo) / d + outLo;
    Out[i] = Entry14(v);
  }
}

// Chroma scaled by m/q about the middle entry 8160, the product taken whole.
void FillChroma(int16_t *Out, int32_t Chroma) {
  const int32_t m = Chroma < 0 ? Chroma + 255 : Chroma + 128, q = Chroma < 0 ? 255 : 128;
  for (int32_t j = 0; j <= FULL_SCALE_14; ++j)
    Out[j] = int16_t(std::clamp((j - 8160) * m / q + 8160, 0, FULL_SCALE_14));
}

// Blue, green, red and gray tables over 0..N at Out[0], Out[Stride], ...
void FillRGB(int16_t *Out, size_t Stride, int32_t N, const TColorAdjustValues &V) {
  const double k = V.Contrast < 0 ? (255.0 + V.Contrast) / 255.0 : 256.0 / (256.0 - V.Contrast);
  for (int32_t i = 0; i <= N; ++i) {
    const double c = double(255.0L * std::pow((long double)i / N, 1.0L / V.RGBGamma));
    Out[i] = Entry14((((V.Hue + 512) * c / 512) - 127.5) * k + 128);
    Out[Stride + i] = Entry14((c - 127.5) * k + 128);
    Out[2 * Stride + i] = Entry14((c * (1024 - V.Hue) / 1024 - 127.5) * k + 128);
    Out[3 * Stride + i] = Out[Stride + i];
  }
}

}  // namespace

TColorAdjustTables MakeColorAdjustTables(const TColorAdjustValues &Values) {
  // A profile edited by hand may hold values beyond the dialog's ranges.
  // Contrast 256 would divide by zero, so contrast is taken at the nearer
  // end of -255..255; the others keep their meaning beyond 255 (hue 256 is
  // blue x 1.5) and are only kept within +-4096, where no product overflows.
  TColorAdjustValues V = Values;
  V.Contrast = std::clamp(V.Contrast, -255, 255);
  for (int32_t *v : {&V.LumaMin, &V.LumaMax, &V.Chroma, &V.Hue}) *v = std::clamp(*v, -4096, 4096);
  V.RGBGamma = std::isfinite(V.RGBGamma) ? std::max(V.RGBGamma, 0.2) : 1.0;
  V.YGamma = std::isfinite(V.YGamma) ? std::max(V.YGamma, 0.2) : 1.0;
  TColorAdjustTables T;
  T.Luma8.resize(256);
  T.YCC14.resize(YCC_LUT14_SIZE);
  T.RGB8.resize(LUT8_SIZE);
  T.RGB14.resize(LUT14_SIZE);
  FillLuma(T.Luma8.data(), 255, V);
  FillLuma(T.YCC14.data(), FULL_SCALE_14, V);
  FillChroma(T.YCC14.data() + LUT14_ENTRIES, V.Chroma);
  FillRGB(T.RGB8.data(), 256, 255, V);
  FillRGB(T.RGB14.data(), LUT14_ENTRIES, FULL_SCALE_14, V);
  return T;
}

void ApplyColorAdjust(TICCImgInfo &Img, const TColorAdjustValues &V, const TColorAdjustTables &T, TMultiThread *MT) {
  if (Img.BPP == BPP_16) Convert16To14(Img);
  if (V.LumaStep() && Img.Channels >= 3) {
    // Both steps in one pass over the picture.
    const std::span<const int16_t> ycc(T.YCC14);
    ApplyYCCStages(Img, {ycc.first(LUT14_ENTRIES), ycc.subspan(LUT14_ENTRIES), V.RGBStep() ? T.RGB14 : std::span<const int16_t>()},
                   MT);
    return;
  }
  if (V.LumaStep()) {
    if (Img.BPP == BPP_8)
      ApplyGrayLUT8To14(Img, T.Luma8, MT);
    else
      ApplyYCCLUT14(Img, T.YCC14, MT);
  }
  if (V.RGBStep()) {
    if (Img.BPP == BPP_8)
      ApplyLUT8To14(Img, T.RGB8, MT);
    else
      ApplyLUT14(Img, T.RGB14, MT);
  }
}

// ---------------------------------------------------------------------------
// TColorAdjust

TColorAdjust::TColorAdjust() : TEffect(EFFECT_COLOR_ADJUST) { UpdateTables(); }

TColorAdjustValues TColorAdjust::Values() const {
  return {FLumaMin, FLumaMax, FChroma, FHue, FContrast, FRGBGamma, FYGamma};
}

void TColorAdjust::UpdateTables() { FTables = MakeColorAdjustTables(Values()); }

void TColorAdjust::DoEffect(TICCImgInfo &Img, TEffectParams &Params) const {
  ApplyColorAdjust(Img, Values(), FTables, Params.MT);
}

void TColorAdjust::ReadIniFile(const TMemIniFile &Ini) {
  TEffect::ReadIniFile(Ini);
  const std::string &s = FSectionName;
  FLumaMin = Ini.ReadInteger(s, "LumaMin", 0);
  FLumaMax = Ini.ReadInteger(s, "LumaMax", 0);
  FChroma = Ini.ReadInteger(s, "Chroma", 0);
  FHue = Ini.ReadInteger(s, "Hue", 0);
  FContrast = Ini.ReadInteger(s, "Contrast", 0);
  FRGBGamma = std::max(0.2, Ini.ReadFloat(s, "RGBGamma", 1.0));
  FYGamma = std::max(0.2, Ini.ReadFloat(s, "YGamma", 1.0));
  FPreview = Ini.ReadBool(s, "Preview", true);
  FHistogram = Ini.ReadBool(s, "Histogram", true);
  UpdateTables();
}

void TColorAdjust::WriteIniFile(TMemIniFile &Ini) const {
  TEffect::WriteIniFile(Ini);
  const std::string &s = FSectionName;
  Ini.WriteInteger(s, "LumaMin", FLumaMin);
  Ini.WriteInteger(s, "LumaMax", FLumaMax);
  Ini.WriteInteger(s, "Chroma", FChroma);
  Ini.WriteInteger(s, "Hue", FHue);
  Ini.WriteInteger(s, "Contrast", FContrast);
  Ini.WriteFloat(s, "RGBGamma", FRGBGamma);
  Ini.WriteFloat(s, "YGamma", FYGamma);
  Ini.WriteBool(s, "Preview", FPreview);
  Ini.WriteBool(s, "Histogram", FHistogram);
}

void TColorAdjust::WriteParamToStream(std::vector<uint8_t> &S) const {
  StreamWriteDouble(S, FRGBGamma);
  StreamWriteInt32(S, FLumaMin);
  StreamWriteInt32(S, FLumaMax);
  StreamWriteInt32(S, FHue);
  StreamWriteInt32(S, FContrast);
}
