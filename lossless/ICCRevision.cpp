// Folding a colour adjustment or tone curve into an ICC profile's tone curves.
#include "lossless/ICCRevision.h"

#include "color/ICCUtil.h"
#include "effects/ColorAdjust.h"
#include "effects/ToneCurve.h"

#include <lcms2.h>

#include <algorithm>
#include <mutex>

namespace {

// Positions of the channels in the effects' 14-bit tables (blue, green, red, gray).
constexpr size_t TableChannel[4] = {2, 1, 0, 3};  // for red, green, blue, gray

// Curve entry i reads the 14-bit tables at the nearest 14-bit level and
// scales the result back to 0..4095.
size_t Level14(size_t I) { return (I * FULL_SCALE_14 + 2047) / 4095; }
uint16_t From14(int32_t V) { return uint16_t((std::clamp(V, 0, FULL_SCALE_14) * 4095 + 8160) / FULL_SCALE_14); }

std::array<TRevisionCurve, 4> ColorAdjustCurves(const TWembParam &P) {
  TColorAdjustValues v;
  v.RGBGamma = P.RGBGamma;
  v.LumaMin = P.LumaMin;
  v.LumaMax = P.LumaMax;
  v.Hue = P.Hue;
  v.Contrast = P.Contrast;
  const TColorAdjustTables t = MakeColorAdjustTables(v);
  std::array<TRevisionCurve, 4> out;
  for (size_t k = 0; k < 4; ++k) {
    out[k].resize(ICC_REVISION_ENTRIES);
    for (size_t i = 0; i < ICC_REVISION_ENTRIES; ++i) {
      // The luma range applies to every channel alike (it is a straight
      // line, so it keeps the luma of gray levels), then the channel's table.
      int32_t x = int32_t(Level14(i));
      if (v.LumaStep()) x = t.YCC14[size_t(x)];
      if (v.RGBStep()) x = t.RGB14[TableChannel[k] * LUT14_ENTRIES + size_t(std::clamp(x, 0, FULL_SCALE_14))];
      out[k][i] = From14(x);
    }
  }
  return out;
}

std::array<TRevisionCurve, 4> ToneCurveCurves(const TWembParam &P) {
  TCurveSet set = DefaultCurves();
  // Points the block carries are taken only when they form a curve the
  // settings file could hold (X rising within 0..255); others stay straight.
  for (size_t c = 0; c < P.CurvePoints.size(); ++c)
    if (ParseCurve(CurveText(P.CurvePoints[c]))) set[c] = P.CurvePoints[c];
  const TToneCurveTables t = MakeToneCurveTables(set);
  std::array<TRevisionCurve, 4> out;
  for (size_t k = 0; k < 4; ++k) {
    out[k].resize(ICC_REVISION_ENTRIES);
    for (size_t i = 0; i < ICC_REVISION_ENTRIES; ++i) {
      const int32_t x = int32_t(Level14(i));
      out[k][i] = From14(t.SkipRGB ? x : t.RGB14[TableChannel[k] * LUT14_ENTRIES + size_t(x)]);
    }
  }
  return out;
}

struct TProfileOwner {
  cmsHPROFILE P = nullptr;
  ~TProfileOwner() {
    if (P) cmsCloseProfile(P);
  }
};

void WriteText(cmsHPROFILE P, cmsTagSignature Tag, const char *Text) {
  cmsMLU *mlu = cmsMLUalloc(nullptr, 1);
  cmsMLUsetASCII(mlu, "en", "US", Text);
  cmsWriteTag(P, Tag, mlu);
  cmsMLUfree(mlu);
}

// The old curve times the revision curve, as a 4096-entry table.
cmsToneCurve *RevisedCurve(const cmsToneCurve *Old, const TRevisionCurve &C) {
  std::vector<cmsUInt16Number> values(ICC_REVISION_ENTRIES);
  for (size_t i = 0; i < ICC_REVISION_ENTRIES; ++i) {
    const uint32_t o = cmsEvalToneCurve16(Old, cmsUInt16Number(i * 65535 / 4095));
    values[i] = cmsUInt16Number(o * C[i] / 4095);
  }
  return cmsBuildTabulatedToneCurve16(nullptr, cmsUInt32Number(values.size()), values.data());
}

}  // namespace

std::array<TRevisionCurve, 4> WembRevisionCurves(const TWembParam &Param, int32_t Mode) {
  if (Mode == 1) return ColorAdjustCurves(Param);
  if (Mode == 2) return ToneCurveCurves(Param);
  std::array<TRevisionCurve, 4> identity;
  for (TRevisionCurve &c : identity) {
    c.resize(ICC_REVISION_ENTRIES);
    for (size_t i = 0; i < c.size(); ++i) c[i] = uint16_t(i);
  }
  return identity;
}

std::optional<std::vector<uint8_t>> ReviseICCProfile(std::span<const uint8_t> Profile, bool Gray,
                                                     const std::array<TRevisionCurve, 4> &Curves) {
  std::lock_guard<std::recursive_mutex> lock(CMSLock());
  const std::vector<cmsTagSignature> tags =
      Gray ? std::vector<cmsTagSignature>{cmsSigGrayTRCTag}
           : std::vector<cmsTagSignature>{cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};
  TProfileOwner p;
  if (!Profile.empty()) p.P = cmsOpenProfileFromMem(Profile.data(), cmsUInt32Number(Profile.size()));
  bool usable = p.P != nullptr;
  for (cmsTagSignature t : tags) usable = usable && cmsIsTag(p.P, t);
  if (!usable) {
    if (p.P) cmsCloseProfile(p.P);
    p.P = Gray ? CreateBuiltinsGray() : CreateBuiltinsRGB();
    if (!p.P) return std::nullopt;
  }
  // Every new curve is made before any is written: profiles often link the
  // green and blue tags to the red one, so a written red curve would be read
  // back as the old green one.
  std::vector<cmsToneCurve *> revised;
  for (size_t k = 0; k < tags.size(); ++k) {
    const auto *old = static_cast<const cmsToneCurve *>(cmsReadTag(p.P, tags[k]));
    cmsToneCurve *curve = old ? RevisedCurve(old, Curves[Gray ? 3 : k]) : nullptr;
    if (!curve) break;
    revised.push_back(curve);
  }
  bool written = revised.size() == tags.size();
  for (size_t k = 0; k < revised.size(); ++k) {
    written = written && cmsWriteTag(p.P, tags[k], revised[k]);
    cmsFreeToneCurve(revised[k]);
  }
  if (!written) return std::nullopt;
  WriteText(p.P, cmsSigProfileDescriptionTag, Gray ? "Custom Grayscale" : "Custom RGB");
  WriteText(p.P, cmsSigCopyrightTag, "No copyright, use freely");
  cmsUInt32Number size = 0;
  if (!cmsSaveProfileToMem(p.P, nullptr, &size) || size == 0) return std::nullopt;
  std::vector<uint8_t> out(size);
  if (!cmsSaveProfileToMem(p.P, out.data(), &size)) return std::nullopt;
  out.resize(size);
  return out;
}
