// Tone curves for linear-light processing (TGammaInfo, the degamma and
// regamma tables) and the RGB profile made from Exif colour data.
#include "color/ICCUtil.h"

#include "core/Errors.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace {

cmsToneCurve *DupTag(cmsHPROFILE P, cmsTagSignature Sig) {
  if (!P) return nullptr;
  auto *C = static_cast<cmsToneCurve *>(cmsReadTag(P, Sig));
  return C ? cmsDupToneCurve(C) : nullptr;
}

// Profile of an image's pixels for tone curves. Owned when opened from its bytes.
cmsHPROFILE GammaProfileOf(const TICCImgInfo &Img, bool &Owned) {
  Owned = false;
  switch (Img.ProfileType) {
  case PROFILE_DEFAULT_RGB: return CMS.FDefaultRGBProfile;
  case PROFILE_WORKSPACE: return CMS.FWorkSpaceProfile;
  case PROFILE_DEFAULT_GRAY: return CMS.FDefaultGrayProfile;
  case PROFILE_EMBEDDED:
  case PROFILE_FROM_EXIF:
    if (Img.ICCProfile && Img.ProfileLen >= 128) {
      if (cmsHPROFILE P = cmsOpenProfileFromMem(Img.ICCProfile, Img.ProfileLen)) {
        Owned = true;
        return P;
      }
    }
    return CMS.FsRGBProfile;
  default: return CMS.FsRGBProfile;
  }
}

// Three curves in blue, green, red order: the RGB TRCs when all three exist,
// else the gray TRC, else the built-in sRGB green TRC.
struct TCurveSet {
  std::array<cmsToneCurve *, 3> C{};
  ~TCurveSet() {
    for (cmsToneCurve *&K : C)
      if (K) cmsFreeToneCurve(K);
  }
};

void PickCurves(cmsHPROFILE P, TCurveSet &Set) {
  cmsToneCurve *B = DupTag(P, cmsSigBlueTRCTag), *G = DupTag(P, cmsSigGreenTRCTag),
               *R = DupTag(P, cmsSigRedTRCTag);
  if (B && G && R) {
    Set.C = {B, G, R};
    return;
  }
  for (cmsToneCurve *K : {B, G, R})
    if (K) cmsFreeToneCurve(K);
  cmsToneCurve *One = DupTag(P, cmsSigGrayTRCTag);
  if (!One) One = DupTag(CMS.FsRGBProfile, cmsSigGreenTRCTag);
  if (!One) throw ETessivoError("no tone curve available");
  Set.C = {One, cmsDupToneCurve(One), cmsDupToneCurve(One)};
}

void ImageCurves(const TICCImgInfo &Img, TCurveSet &Set) {
  CMS.EnsureInitialized();
  std::lock_guard Guard(CMSLock());
  bool Owned = false;
  cmsHPROFILE P = GammaProfileOf(Img, Owned);
  try {
    PickCurves(P, Set);
  } catch (...) {
    if (Owned) cmsCloseProfile(P);
    throw;
  }
  if (Owned) cmsCloseProfile(P);
}

cmsToneCurve *Reversed(cmsToneCurve *C) {
  std::lock_guard Guard(CMSLock());
  cmsToneCurve *R = cmsReverseToneCurve(C);
  if (!R) throw ETessivoError("Little CMS could not reverse a tone curve");
  return R;
}

// The rising envelope of a tabulated curve (empty for parametric ones).
std::vector<uint16_t> ForwardTable(const cmsToneCurve *C) {
  std::vector<uint16_t> T;
  if (!C || cmsGetToneCurveParametricType(C) != 0) return T;
  const cmsUInt32Number N = cmsGetToneCurveEstimatedTableEntries(C);
  const cmsUInt16Number *E = cmsGetToneCurveEstimatedTable(C);
  if (N < 2 || !E) return T;
  T.assign(E, E + N);
  for (size_t I = 1; I < T.size(); ++I) T[I] = std::max(T[I], T[I - 1]);
  return T;
}

double InvertTable(const std::vector<uint16_t> &T, double Y) {
  const double V = std::clamp(Y, 0.0, 1.0) * 65535.0;
  if (V <= T.front()) return 0.0;
  if (V > T.back()) return 1.0;
  // First entry at or above V; the one before is below it.
  const size_t J = size_t(std::lower_bound(T.begin(), T.end(), V,
                                           [](uint16_t E, double X) { return E < X; }) -
                          T.begin());
  const double Lo = T[J - 1], Hi = T[J];
  return (double(J - 1) + (V - Lo) / (Hi - Lo)) / double(T.size() - 1);
}

// The inverse of one curve, as used by every regamma value.
struct TInverse {
  const cmsToneCurve *Reversed = nullptr;  // parametric: the library's exact inverse
  std::vector<uint16_t> Forward;           // tabulated: the forward table
  double operator()(double Y) const {
    return Forward.empty() ? EvalToneCurve(Reversed, Y) : InvertTable(Forward, Y);
  }
};

// One channel of a regamma table (layout in ICCUtil.h).
void FillRegamma(const TInverse &Inverse, int16_t *T, uint32_t D, double OutMax) {
  auto Value = [&](double X) { return int16_t(std::lround(Inverse(X) * OutMax)); };
  const double Fine = 64.0 * D;
  for (uint32_t I = 0; I <= REGAMMA_FINE_LAST; ++I) T[I] = Value(I / Fine);
  for (uint32_t V = 1; V <= D; ++V) T[REGAMMA_FINE_LAST + V] = Value(double(V) / D);
  for (uint32_t I = REGAMMA_FINE_LAST + D + 1; I < REGAMMA_TABLE_LEN; ++I)
    T[I] = T[REGAMMA_FINE_LAST + D];
}

}  // namespace

double EvalInverseToneCurve(const cmsToneCurve *Curve, double Y) {
  if (!Curve) return std::clamp(Y, 0.0, 1.0);
  const std::vector<uint16_t> T = ForwardTable(Curve);
  if (!T.empty()) return InvertTable(T, Y);
  TCurveSet Rev;
  Rev.C[0] = Reversed(const_cast<cmsToneCurve *>(Curve));
  return EvalToneCurve(Rev.C[0], Y);
}

double EvalToneCurve(const cmsToneCurve *Curve, double X) {
  X = std::clamp(X, 0.0, 1.0);
  if (!Curve) return X;
  double Y;
  if (cmsGetToneCurveParametricType(Curve) != 0) {
    Y = cmsEvalToneCurveFloat(Curve, cmsFloat32Number(X));
  } else {
    const cmsUInt32Number N = cmsGetToneCurveEstimatedTableEntries(Curve);
    const cmsUInt16Number *T = cmsGetToneCurveEstimatedTable(Curve);
    if (N == 0 || !T) return X;
    if (N == 1) return T[0] / 65535.0;
    const double Pos = X * (N - 1);
    const uint32_t I = uint32_t(Pos);
    if (I >= N - 1) return T[N - 1] / 65535.0;
    const double F = Pos - I;
    Y = (T[I] + (double(T[I + 1]) - T[I]) * F) / 65535.0;
  }
  return std::clamp(Y, 0.0, 1.0);
}

TGammaInfo::TGammaInfo(const TICCImgInfo &Img) {
  CMS.EnsureInitialized();
  std::lock_guard Guard(CMSLock());
  hProfile = GammaProfileOf(Img, NeedFree);
  SetChannel(3);
}

TGammaInfo::~TGammaInfo() {
  std::lock_guard Guard(CMSLock());
  if (Degamma) cmsFreeToneCurve(Degamma);
  if (Regamma) cmsFreeToneCurve(Regamma);
  if (NeedFree && hProfile) cmsCloseProfile(hProfile);
}

void TGammaInfo::SetChannel(int32_t Channel) {
  std::lock_guard Guard(CMSLock());
  if (Degamma) cmsFreeToneCurve(Degamma);
  if (Regamma) cmsFreeToneCurve(Regamma);
  Degamma = Regamma = nullptr;
  switch (Channel) {
  case 0: Degamma = DupTag(hProfile, cmsSigBlueTRCTag); break;
  case 1: Degamma = DupTag(hProfile, cmsSigGreenTRCTag); break;
  case 2: Degamma = DupTag(hProfile, cmsSigRedTRCTag); break;
  default:
    Degamma = DupTag(hProfile, cmsSigGrayTRCTag);
    if (!Degamma) Degamma = DupTag(hProfile, cmsSigGreenTRCTag);
    break;
  }
  if (!Degamma) Degamma = DupTag(CMS.FsRGBProfile, cmsSigGreenTRCTag);
  if (!Degamma) throw ETessivoError("no tone curve available");
  Regamma = Reversed(Degamma);
  FForward = ForwardTable(Degamma);
}

double TGammaInfo::GetDegammaValue(double Input) const { return EvalToneCurve(Degamma, Input); }

int32_t TGammaInfo::GetRegammaValue(int32_t OutputMax, double Input) const {
  const double V = FForward.empty() ? EvalToneCurve(Regamma, Input) : InvertTable(FForward, Input);
  return int32_t(std::lround(V * OutputMax));
}

void MakeDegammaTable(const TICCImgInfo &Img, std::span<float> Table, float Scale) {
  const uint32_t Len = DegammaTableLength(Img.BPP);
  if (Table.size() < size_t(Len) * 3) throw ETessivoError("degamma table too small");
  TCurveSet Set;
  ImageCurves(Img, Set);
  const double N = Len - 1;
  for (uint32_t K = 0; K < 3; ++K)
    for (uint32_t V = 0; V < Len; ++V)
      Table[size_t(K) * Len + V] = float(EvalToneCurve(Set.C[K], V / N) * Scale);
}

void MakeRegammaTable(const TICCImgInfo &Img, std::span<int16_t> Table) {
  if (Table.size() < size_t(REGAMMA_TABLE_LEN) * 3) throw ETessivoError("regamma table too small");
  TCurveSet Set;
  ImageCurves(Img, Set);
  for (uint32_t K = 0; K < 3; ++K) {
    TCurveSet Rev;
    TInverse Inv;
    Inv.Forward = ForwardTable(Set.C[K]);
    if (Inv.Forward.empty()) Inv.Reversed = Rev.C[0] = Reversed(Set.C[K]);
    FillRegamma(Inv, Table.data() + size_t(K) * REGAMMA_TABLE_LEN, FULL_SCALE_14, FULL_SCALE_14);
  }
}

void MakeResizeGammaTables(const TICCImgInfo &Src, float *Degamma, int16_t *Regamma) {
  MakeDegammaTable(Src, std::span<float>(Degamma, size_t(DEGAMMA_TABLE_LEN_14) * 3),
                   float(FULL_SCALE_14));
  MakeRegammaTable(Src, std::span<int16_t>(Regamma, size_t(REGAMMA_TABLE_LEN) * 3));
}

void MakeGrayRegammaTable(uint32_t BPP, std::span<int16_t> Table) {
  if (Table.size() < REGAMMA_TABLE_LEN) throw ETessivoError("regamma table too small");
  CMS.EnsureInitialized();
  TCurveSet Curves;
  TInverse Inv;
  {
    std::lock_guard Guard(CMSLock());
    cmsToneCurve *Gray = DupTag(CMS.FDefaultGrayProfile, cmsSigGrayTRCTag);
    if (!Gray) Gray = DupTag(CMS.FsGrayProfile, cmsSigGrayTRCTag);
    if (!Gray) throw ETessivoError("no gray tone curve available");
    Curves.C[1] = Gray;
    Inv.Forward = ForwardTable(Gray);
    if (Inv.Forward.empty()) Inv.Reversed = Curves.C[0] = Reversed(Gray);
  }
  if (BPP == BPP_8)
    FillRegamma(Inv, Table.data(), 16383, 255);
  else
    FillRegamma(Inv, Table.data(), FULL_SCALE_14, FULL_SCALE_14);
}

TICCInfo CreateProfileFromExif(const TExifColorInfo &Exif) {
  TICCInfo Info{nullptr, 0};
  if (Exif.ColorSpace == 1) return Info;
  auto Chroma = [](double X, double Y) {
    return std::isfinite(X) && std::isfinite(Y) && X > 0 && X < 1 && Y > 0 && Y < 1;
  };
  if (!Chroma(Exif.WhitePoint[0], Exif.WhitePoint[1])) return Info;
  for (int I = 0; I < 3; ++I)
    if (!Chroma(Exif.PrimaryChromaticities[2 * I], Exif.PrimaryChromaticities[2 * I + 1]))
      return Info;
  if (!std::isfinite(Exif.Gamma) || Exif.Gamma <= 0 || Exif.Gamma > 20) return Info;

  const cmsCIExyY White = {Exif.WhitePoint[0], Exif.WhitePoint[1], 1.0};
  const auto &P = Exif.PrimaryChromaticities;
  const cmsCIExyYTRIPLE Primaries = {{P[0], P[1], 1.0}, {P[2], P[3], 1.0}, {P[4], P[5], 1.0}};
  std::vector<cmsUInt16Number> Values(4096);
  for (size_t I = 0; I < Values.size(); ++I)
    Values[I] = cmsUInt16Number(std::lround(std::pow(I / 4095.0, Exif.Gamma) * 65535.0));

  std::lock_guard Guard(CMSLock());
  cmsToneCurve *Curve = cmsBuildTabulatedToneCurve16(nullptr, 4096, Values.data());
  if (!Curve) return Info;
  cmsToneCurve *Curves[3] = {Curve, Curve, Curve};
  cmsHPROFILE Prof = cmsCreateRGBProfile(&White, &Primaries, Curves);
  cmsFreeToneCurve(Curve);
  if (!Prof) return Info;
  cmsMLU *Mlu = cmsMLUalloc(nullptr, 1);
  cmsMLUsetASCII(Mlu, "en", "US", EXIF_PROFILE_DESCRIPTION);
  cmsWriteTag(Prof, cmsSigProfileDescriptionTag, Mlu);
  cmsMLUfree(Mlu);
  cmsSetProfileVersion(Prof, 2.1);
  cmsUInt32Number Len = 0;
  if (cmsSaveProfileToMem(Prof, nullptr, &Len) && Len) {
    auto *Bytes = static_cast<uint8_t *>(PageAlloc(Len));
    if (cmsSaveProfileToMem(Prof, Bytes, &Len)) {
      Info.Profile = Bytes;
      Info.Len = Len;
    } else {
      PageFree(Bytes);
    }
  }
  cmsCloseProfile(Prof);
  return Info;
}

bool AttachProfileFromExif(TICCImgInfo &Img, const TExifColorInfo &Exif) {
  TICCInfo Info = CreateProfileFromExif(Exif);
  if (!Info.Profile) return false;
  if ((Img.ProfileType == PROFILE_EMBEDDED || Img.ProfileType == PROFILE_FROM_EXIF) &&
      Img.ICCProfile)
    PageFree(Img.ICCProfile);
  Img.ICCProfile = Info.Profile;
  Img.ProfileLen = Info.Len;
  Img.ProfileType = PROFILE_FROM_EXIF;
  return true;
}
