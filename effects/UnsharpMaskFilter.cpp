// The unsharp-mask step.
#include "effects/UnsharpMaskFilter.h"

#include "color/ICCUtil.h"
#include "core/Errors.h"
#include "core/IniFile.h"
#include "core/PixelConvert.h"
#include "core/PixelConvertMT.h"
#include "core/RowBands.h"
#include "effects/RunSettings.h"
#include "resample/WeightedMean.h"

#include <algorithm>
#include <cstring>

namespace {

// A new one-channel record of Img's size and depth holding its channel 0,
// with Img's profile fields (the profile itself stays Img's).
void ExtractChannel0(const TICCImgInfo &Img, TICCImgInfo &Plane, TMultiThread *MT) {
  Plane = TICCImgInfo{};
  Plane.Width = Img.Width, Plane.Height = Img.Height, Plane.Channels = 1, Plane.BPP = Img.BPP;
  Plane.Bpl = GetAlignedBpl16(Img.Width, 1);
  Plane.Mem = AllocPixelBlock(Plane.Bpl, Img.Height);
  Plane.PixelFormat = PIXFMT_GRAY;
  Plane.ICCProfile = Img.ICCProfile, Plane.ProfileLen = Img.ProfileLen, Plane.ProfileType = Img.ProfileType;
  ForRowBands(MT, Img.Height, [&](uint32_t First, uint32_t Last) {
    for (uint32_t y = First; y < Last; ++y) {
      const uint16_t *s = reinterpret_cast<const uint16_t *>(ScanLine(Img, y));
      uint16_t *d = reinterpret_cast<uint16_t *>(ScanLine(Plane, y));
      for (uint32_t x = 0; x < Img.Width; ++x) d[x] = s[size_t(x) * Img.Channels];
    }
  });
}

void RestoreChannel0(TICCImgInfo &Img, const TICCImgInfo &Plane, TMultiThread *MT) {
  ForRowBands(MT, Img.Height, [&](uint32_t First, uint32_t Last) {
    for (uint32_t y = First; y < Last; ++y) {
      const uint16_t *s = reinterpret_cast<const uint16_t *>(ScanLine(Plane, y));
      uint16_t *d = reinterpret_cast<uint16_t *>(ScanLine(Img, y));
      for (uint32_t x = 0; x < Img.Width; ++x) d[size_t(x) * Img.Channels] = s[x];
    }
  });
}

// Luminance-only sharpening of a 3-channel 8- or 14-bit BGR image: the bytes
// of ConvertToYCC14, Y sharpened alone, ConvertFromYCC14, without holding
// the picture in YCC14. Y goes to a plane of its own; each row the engine
// finishes is rebuilt around its new Y at once, from the unchanged BGR row
// (Cb and Cr are taken from it again), while both are in cache.
void SharpenLuminance(TICCImgInfo &Img, TUnsharpMask &Usm, TMultiThread *MT) {
  TICCImgOwner plane(false);
  TICCImgInfo &y = *plane;
  y.Width = Img.Width, y.Height = Img.Height, y.Channels = 1, y.BPP = BPP_14;
  y.Bpl = GetAlignedBpl16(Img.Width, 1);
  y.Mem = AllocPixelBlockReused(y.Bpl, Img.Height);  // every row is written
  y.PixelFormat = PIXFMT_GRAY;
  y.ICCProfile = Img.ICCProfile, y.ProfileLen = Img.ProfileLen, y.ProfileType = Img.ProfileType;
  ForRowBands(MT, Img.Height, [&](uint32_t First, uint32_t Last) { LumaRows(Img, y, First, Last); });
  // 8-bit pictures come out in a new 14-bit block, as ConvertToYCC14 gives them.
  TICCImgInfo out = Img;
  if (Img.BPP == BPP_8) {
    out.BPP = BPP_14;
    out.Bpl = GetAlignedBpl16(Img.Width, 3);
    out.Mem = AllocPixelBlockReused(out.Bpl, Img.Height);  // every row is written
  }
  try {
    const bool sharpened = Usm.DoUnSharpMask(y, MT, [&](uint32_t Row) { RowsWithLuma(Img, y, Row, Row + 1, out); });
    // An image the engine leaves alone still goes through the conversions.
    if (!sharpened)
      ForRowBands(MT, Img.Height, [&](uint32_t First, uint32_t Last) { RowsWithLuma(Img, y, First, Last, out); });
  } catch (...) {
    if (out.Mem != Img.Mem) PageFree(out.Mem);
    throw;
  }
  if (out.Mem != Img.Mem) {
    PageFree(Img.Mem);
    Img.Mem = out.Mem, Img.Bpl = out.Bpl, Img.BPP = BPP_14;
  }
}

}  // namespace

TUSMFilter::TUSMFilter() : TEffect(EFFECT_UNSHARP_MASK) {}

bool TUSMFilter::LinearLight(bool EnabledLabMode) const {
  return FDegamma && !(FLumaOnly && FLab && EnabledLabMode);
}

void TUSMFilter::ApplyToEngine(TUnsharpMask &Engine, bool EnabledLabMode) const {
  Engine.SetUnSharpMaskParam(FHighlight, FShadow, LinearLight(EnabledLabMode), FRadius, FMin, FMax, FThreshold);
}

void TUSMFilter::DoEffect(TICCImgInfo &Img, TEffectParams &Params) const {
  if (Img.Channels == 4) return;
  TUnsharpMask *usm = Params.UnSharpMask;
  if (!usm) throw ETessivoError("アンシャープマスクが初期化されていません");
  if (Img.BPP == BPP_16) Convert16To14(Img);
  if (!FLumaOnly || Img.Channels != 3) {
    usm->DoUnSharpMask(Img, false, Params.MT);
    return;
  }
  const bool labMode = Params.Settings && Params.Settings->System.EnabledLabMode != LongFalse;
  if (FLab && labMode) {
    TTransForm *cms = Params.ColorTransform;
    if (!cms) throw ETessivoError("アンシャープマスク: Lab 変換がありません");
    if (Img.BPP == BPP_14) Convert14To16(Img);
    if (!cms->InitToLab16(Img)) throw ETessivoError("アンシャープマスク: Lab 変換を作れません");
    cms->TransformToLab16(Img, Params.MT);
    TICCImgOwner plane(false);
    ExtractChannel0(Img, *plane, Params.MT);
    Channel0To14(*plane);
    plane->BPP = BPP_14;
    usm->DoUnSharpMask(*plane, false, Params.MT);
    plane->BPP = BPP_16;
    Channel0From14(*plane);
    RestoreChannel0(Img, *plane, Params.MT);
    // The profile fields still name the image's profile, the way back's target.
    if (!cms->InitFromLab16(Img)) throw ETessivoError("アンシャープマスク: Lab 変換を作れません");
    cms->TransformFromLab16(Img, Params.MT);
    return;
  }
  SharpenLuminance(Img, *usm, Params.MT);
}

void TUSMFilter::ReadIniFile(const TMemIniFile &Ini) {
  TEffect::ReadIniFile(Ini);
  const std::string &s = FSectionName;
  FHighlight = std::clamp(Ini.ReadInteger(s, "StrengthW", 100), 0, 500);
  FShadow = std::clamp(Ini.ReadInteger(s, "StrengthB", 100), 0, 500);
  FRadius = std::clamp(Ini.ReadFloat(s, "Radius", 1.0), 0.1, 5.0);
  FThreshold = std::clamp(Ini.ReadInteger(s, "Threshold", 0), 0, 255);
  FMax = std::clamp(Ini.ReadInteger(s, "Max", 0), 0, 100);
  FMin = std::clamp(Ini.ReadInteger(s, "Min", 0), 0, 100);
  FDegamma = Ini.ReadBool(s, "Degamma", false);
  FLumaOnly = Ini.ReadBool(s, "LumaOnly", true);
  FLab = Ini.ReadBool(s, "Lab", false);
  FPreview = Ini.ReadBool(s, "Preview", true);
  FHistogram = Ini.ReadBool(s, "Histogram", true);
}

void TUSMFilter::WriteIniFile(TMemIniFile &Ini) const {
  TEffect::WriteIniFile(Ini);
  const std::string &s = FSectionName;
  Ini.WriteInteger(s, "StrengthW", FHighlight);
  Ini.WriteInteger(s, "StrengthB", FShadow);
  Ini.WriteFloat(s, "Radius", FRadius);
  Ini.WriteInteger(s, "Threshold", FThreshold);
  Ini.WriteInteger(s, "Max", FMax);
  Ini.WriteInteger(s, "Min", FMin);
  Ini.WriteBool(s, "Degamma", FDegamma);
  Ini.WriteBool(s, "LumaOnly", FLumaOnly);
  Ini.WriteBool(s, "Lab", FLab);
  Ini.WriteBool(s, "Preview", FPreview);
  Ini.WriteBool(s, "Histogram", FHistogram);
}
