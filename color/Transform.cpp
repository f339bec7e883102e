// TTransForm: image, CMYK, single-colour and Lab transforms, run in row bands
// on the worker pool.
#include "color/ICCUtil.h"

#include "core/Errors.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace {

// Transform flags. 8-bit RGB and gray transforms let the library optimise
// (its 8-bit matrix-shaper path stays within one step of the exact result).
// 16-bit data, CMYK and the way back from Lab evaluate the full pipeline: the
// precalculated tables there are off by several 8-bit steps (dark colours
// through a Lab grid, 4-D CMYK grids). Single colours also skip the cache.
constexpr uint32_t FLAGS_IMAGE = 0;
constexpr uint32_t FLAGS_PRECISE = cmsFLAGS_NOOPTIMIZE;
constexpr uint32_t FLAGS_SINGLE = cmsFLAGS_NOCACHE | cmsFLAGS_NOOPTIMIZE;

// The library's 16-bit Lab is the version-4 encoding (L 0..65535, neutral
// 0x8080); the system's is version 2 (L 0..65280, neutral 0x8000). The library
// converts into version 2 inexactly, so the conversion is done here.
inline uint16_t LabV4ToV2(uint16_t V) { return uint16_t((uint32_t(V) * 256 + 128) / 257); }
inline uint16_t LabV2ToV4(uint16_t V) {
  return uint16_t(std::min<uint32_t>(65535, (uint32_t(V) * 257 + 128) / 256));
}
void LabRowV4ToV2(uint16_t *Row, uint32_t Width, uint32_t Step) {
  for (uint32_t X = 0; X < Width; ++X, Row += Step)
    for (int K = 0; K < 3; ++K) Row[K] = LabV4ToV2(Row[K]);
}
void LabRowV2ToV4(uint16_t *Row, uint32_t Width, uint32_t Step) {
  for (uint32_t X = 0; X < Width; ++X, Row += Step)
    for (int K = 0; K < 3; ++K) Row[K] = LabV2ToV4(Row[K]);
}

uint32_t Fmt(uint32_t Space, uint32_t Colour, uint32_t Extra, uint32_t Bytes, bool Swap) {
  uint32_t F = COLORSPACE_SH(Space) | CHANNELS_SH(Colour) | EXTRA_SH(Extra) | BYTES_SH(Bytes);
  // B, G, R(, A): reversed colour order with the extra sample kept last.
  if (Swap) F |= DOSWAP_SH(1) | (Extra ? SWAPFIRST_SH(1) : 0);
  return F;
}

// Colour samples of a profile's space as handled here (gray or RGB), else 0.
uint32_t SpaceColours(cmsHPROFILE P) {
  if (!P) return 0;
  switch (cmsGetColorSpace(P)) {
  case cmsSigGrayData: return 1;
  case cmsSigRgbData: return 3;
  default: return 0;
  }
}

uint32_t SpacePT(uint32_t Colours) { return Colours == 1 ? PT_GRAY : PT_RGB; }

bool HasAlpha(const TICCImgInfo &Img) {
  return (Img.Channels == 2 || Img.Channels == 4) && Img.PixelFormat != PIXFMT_CMYK;
}

uint32_t SampleBytes(uint32_t BPP) { return BPP == BPP_8 ? 1 : 2; }

uint32_t FormatOfChannels(uint32_t Channels) {
  switch (Channels) {
  case 1: return PIXFMT_GRAY;
  case 2: return PIXFMT_GRAYALPHA;
  case 3: return PIXFMT_BGR;
  default: return PIXFMT_BGRA;
  }
}

uint32_t AlignedBpl(uint32_t Width, uint32_t Channels, uint32_t Bytes) {
  return Bytes == 1 ? GetAlignedBpl(Width, Channels) : GetAlignedBpl16(Width, Channels);
}

// Runs Rows(First, Last) over [0, Height) split among the pool's threads.
void RunRows(TMultiThread *MT, uint32_t Height,
             const std::function<void(uint32_t, uint32_t)> &Rows) {
  if (!MT || MT->MaxThread() <= 1) {
    Rows(0, Height);
    return;
  }
  struct TParam {
    const std::function<void(uint32_t, uint32_t)> *Rows;
    uint32_t Height;
  } Param{&Rows, Height};
  MT->exec_multi_thread_func(
      [](int32_t Index, int32_t Count, void *P) {
        auto *Prm = static_cast<TParam *>(P);
        TRowRange R = SplitRange(Prm->Height, Index, Count);
        if (!R.empty()) (*Prm->Rows)(R.First, R.Last);
      },
      &Param);
}

inline uint16_t Widen14(int16_t V) {
  int32_t X = std::clamp<int32_t>(V, 0, FULL_SCALE_14);
  return uint16_t(X * 4 + (X >> 6));
}
inline int16_t Narrow16(uint16_t V) {
  return int16_t((uint32_t(V) * FULL_SCALE_14 + 32767) / 65535);
}

// 14-bit samples to 16-bit in place (the library reads unsigned 16-bit).
void Widen14To16(TICCImgInfo &Img, TMultiThread *MT) {
  const size_t N = size_t(Img.Width) * Img.Channels;
  RunRows(MT, Img.Height, [&](uint32_t First, uint32_t Last) {
    for (uint32_t Y = First; Y < Last; ++Y) {
      auto *Row = reinterpret_cast<uint16_t *>(ScanLine(Img, Y));
      for (size_t I = 0; I < N; ++I) Row[I] = Widen14(int16_t(Row[I]));
    }
  });
  Img.BPP = BPP_16;
}

// And back, rounded, so that a 14-bit value survives the round trip.
void Narrow16To14(TICCImgInfo &Img, TMultiThread *MT) {
  const size_t N = size_t(Img.Width) * Img.Channels;
  RunRows(MT, Img.Height, [&](uint32_t First, uint32_t Last) {
    for (uint32_t Y = First; Y < Last; ++Y) {
      auto *Row = reinterpret_cast<uint16_t *>(ScanLine(Img, Y));
      for (size_t I = 0; I < N; ++I) Row[I] = uint16_t(Narrow16(Row[I]));
    }
  });
  Img.BPP = BPP_14;
}

// Replaces the profile fields of Img (releasing a profile it owned).
void SetImageProfile(TICCImgInfo &Img, uint32_t Type, const std::vector<uint8_t> &Data) {
  if ((Img.ProfileType == PROFILE_EMBEDDED || Img.ProfileType == PROFILE_FROM_EXIF) &&
      Img.ICCProfile)
    PageFree(Img.ICCProfile);
  Img.ICCProfile = nullptr;
  Img.ProfileLen = 0;
  // The monitor profile only ever describes device values on screen.
  if (Type == PROFILE_MONITOR) Type = PROFILE_NONE;
  if (Type == PROFILE_EMBEDDED || Type == PROFILE_FROM_EXIF) {
    if (Data.empty()) {
      Type = PROFILE_NONE;
    } else {
      Img.ICCProfile = static_cast<uint8_t *>(PageAlloc(Data.size()));
      std::memcpy(Img.ICCProfile, Data.data(), Data.size());
      Img.ProfileLen = uint32_t(Data.size());
    }
  }
  Img.ProfileType = Type;
}

bool OwnsProfileBytes(const TICCImgInfo &Img) {
  return (Img.ProfileType == PROFILE_EMBEDDED || Img.ProfileType == PROFILE_FROM_EXIF) &&
         Img.ICCProfile && Img.ProfileLen >= 128;
}

cmsHPROFILE OpenFromImage(const TICCImgInfo &Img) {
  if (!OwnsProfileBytes(Img)) return nullptr;
  std::lock_guard Guard(CMSLock());
  return cmsOpenProfileFromMem(Img.ICCProfile, Img.ProfileLen);
}

// Gray-looking records: one or two channels.
bool IsGrayLayout(const TICCImgInfo &Img) { return Img.Channels <= 2; }

// The profile of Img's pixels: opened from its bytes (Owned) or shared.
cmsHPROFILE ProfileOfImage(const TICCImgInfo &Img, bool &Owned) {
  Owned = false;
  if (Img.ProfileType == PROFILE_EMBEDDED || Img.ProfileType == PROFILE_FROM_EXIF) {
    if (cmsHPROFILE P = OpenFromImage(Img)) {
      Owned = true;
      return P;
    }
    // Type says embedded but the bytes are missing or unreadable: treat the
    // pixels as untagged.
    return CMS.SharedProfile(PROFILE_NONE, IsGrayLayout(Img));
  }
  return CMS.SharedProfile(Img.ProfileType, IsGrayLayout(Img));
}

// Builds the row the library reads when the source must be widened (14-bit)
// or repeated (gray data under an RGB profile). Returns Src when neither.
const void *PrepareRow(const void *Src, std::vector<uint8_t> &Scratch, uint32_t Width,
                       uint32_t Channels, uint32_t Bytes, bool From14, bool Repeat, bool Alpha) {
  if (!From14 && !Repeat) return Src;
  const uint32_t OutCh = Repeat ? 3 + Alpha : Channels;
  Scratch.resize(size_t(Width) * OutCh * Bytes);
  if (Bytes == 1) {
    auto *S = static_cast<const uint8_t *>(Src);
    uint8_t *D = Scratch.data();
    for (uint32_t X = 0; X < Width; ++X, S += Channels, D += OutCh) {
      D[0] = D[1] = D[2] = S[0];
      if (Alpha) D[3] = S[Channels - 1];
    }
  } else {
    auto *S = static_cast<const uint16_t *>(Src);
    auto *D = reinterpret_cast<uint16_t *>(Scratch.data());
    auto Get = [From14](uint16_t V) { return From14 ? Widen14(int16_t(V)) : V; };
    for (uint32_t X = 0; X < Width; ++X, S += Channels, D += OutCh) {
      if (Repeat) {
        D[0] = D[1] = D[2] = Get(S[0]);
        if (Alpha) D[3] = Get(S[Channels - 1]);
      } else {
        for (uint32_t C = 0; C < Channels; ++C) D[C] = Get(S[C]);
      }
    }
  }
  return Scratch.data();
}

// Copies the last sample of every source pixel into the last of the destination's.
void CopyAlpha(const uint8_t *Src, uint32_t SrcCh, uint32_t SrcBytes, uint8_t *Dst, uint32_t DstCh,
               uint32_t DstBytes, uint32_t Width) {
  for (uint32_t X = 0; X < Width; ++X) {
    uint32_t A = SrcBytes == 1 ? Src[size_t(X) * SrcCh + SrcCh - 1]
                               : reinterpret_cast<const uint16_t *>(Src)[size_t(X) * SrcCh + SrcCh - 1];
    if (DstBytes == 1)
      Dst[size_t(X) * DstCh + DstCh - 1] = uint8_t(A);
    else
      reinterpret_cast<uint16_t *>(Dst)[size_t(X) * DstCh + DstCh - 1] =
          uint16_t(SrcBytes == 1 ? A * 257 : A);
  }
}

uint32_t ResolveIntent(int32_t Intent) {
  return Intent >= 0 && Intent <= 3 ? uint32_t(Intent) : CMS.RenderingIntent();
}

}  // namespace

TTransForm::~TTransForm() { ResetTransform(); }

void TTransForm::ResetTransform() {
  std::lock_guard Guard(CMSLock());
  if (FTransForm) cmsDeleteTransform(FTransForm);
  if (FOwnInputProfile && FInputProfile) cmsCloseProfile(FInputProfile);
  if (FOwnOutputProfile && FOutputProfile) cmsCloseProfile(FOutputProfile);
  FTransForm = nullptr;
  FInputProfile = FOutputProfile = nullptr;
  FOwnInputProfile = FOwnOutputProfile = false;
  FInputProfileType = FOutputProfileType = PROFILE_NONE;
  FInputChannel = FInputFormat = FOutputChannel = FOutputFormat = 0;
  FTransformType = TTransformType::None;
  FOutputProfileData.clear();
  GToL.clear();
  LToG.clear();
  GToL8.clear();
  FSrcChannels = FSrcBytes = FSrcBPP = FOutColor = FLabChannels = 0;
  FSrcHasAlpha = FReadRepeat = FDestMultiChannel = false;
}

cmsHTRANSFORM TTransForm::CreateTransform(cmsHPROFILE In, uint32_t InFormat, cmsHPROFILE Out,
                                          uint32_t OutFormat, uint32_t Intent, uint32_t Flags) {
  std::lock_guard Guard(CMSLock());
  return cmsCreateTransform(In, InFormat, Out, OutFormat, Intent, Flags);
}

bool TTransForm::MakeImageTransform(const TICCImgInfo &Src, cmsHPROFILE In, uint32_t InType,
                                    cmsHPROFILE Out, uint32_t OutType, int32_t Intent,
                                    bool Is8BitOnly) {
  const uint32_t C = Src.Channels;
  if (C < 1 || C > 4 || Src.PixelFormat == PIXFMT_CMYK || Src.PixelFormat == PIXFMT_YCC)
    return false;
  if (Src.BPP != BPP_8 && Src.BPP != BPP_14 && Src.BPP != BPP_16) return false;
  if (Is8BitOnly && Src.BPP != BPP_8) return false;
  const uint32_t InColour = SpaceColours(In), OutColour = SpaceColours(Out);
  if (!InColour || !OutColour) return false;
  const uint32_t Bytes = SampleBytes(Src.BPP);
  const bool Alpha = HasAlpha(Src);
  const uint32_t SrcColour = C - Alpha;

  FReadRepeat = InColour == 3 && SrcColour == 1;
  // A gray profile reads the first sample of each pixel and skips the rest.
  FInputFormat = InColour == 1 ? Fmt(PT_GRAY, 1, C - 1, Bytes, false)
                               : Fmt(PT_RGB, 3, Alpha, Bytes, true);
  FOutputFormat = Fmt(SpacePT(OutColour), OutColour, Alpha, Bytes, OutColour == 3);
  FTransForm = CreateTransform(In, FInputFormat, Out, FOutputFormat, ResolveIntent(Intent),
                               Bytes == 1 ? FLAGS_IMAGE : FLAGS_PRECISE);
  if (!FTransForm) return false;
  FInputProfileType = InType;
  FOutputProfileType = OutType;
  FInputChannel = C;
  FOutputChannel = OutColour + Alpha;
  FOutColor = OutColour;
  FSrcChannels = C;
  FSrcBytes = Bytes;
  FSrcHasAlpha = Alpha;
  FTransformType = TTransformType::Image;
  return true;
}

bool TTransForm::InitSrcToDestTransform(const TICCImgInfo &Src, const TICCImgInfo &Dest,
                                        int32_t RenderingIntent) {
  ResetTransform();
  CMS.EnsureInitialized();
  if (!CMS.Enabled()) return false;
  std::lock_guard Guard(CMSLock());
  FInputProfile = ProfileOfImage(Src, FOwnInputProfile);
  if (Dest.ProfileType == PROFILE_EMBEDDED || Dest.ProfileType == PROFILE_FROM_EXIF) {
    FOutputProfile = OpenFromImage(Dest);
    FOwnOutputProfile = FOutputProfile != nullptr;
    // An embedded output profile must be an RGB or gray output profile.
    if (!FOutputProfile || !SpaceColours(FOutputProfile) || !CheckOutputProfile(FOutputProfile)) {
      ResetTransform();
      return false;
    }
    FOutputProfileData.assign(Dest.ICCProfile, Dest.ICCProfile + Dest.ProfileLen);
  } else {
    FOutputProfile = CMS.SharedProfile(Dest.ProfileType, IsGrayLayout(Dest));
  }
  if (!MakeImageTransform(Src, FInputProfile, Src.ProfileType, FOutputProfile, Dest.ProfileType,
                          RenderingIntent, false)) {
    ResetTransform();
    return false;
  }
  return true;
}

bool TTransForm::InitTo(const TICCImgInfo &Src, const std::string &ProfileName,
                        int32_t RenderingIntent, bool Is8BitOnly) {
  ResetTransform();
  CMS.EnsureInitialized();
  if (!CMS.Enabled()) return false;
  std::lock_guard Guard(CMSLock());
  uint32_t OutType;
  if (ProfileName == TARGET_MONITOR) {
    FOutputProfile = CMS.FMonitorProfile;
    OutType = PROFILE_MONITOR;
  } else if (ProfileName == TARGET_WORKSPACE) {
    FOutputProfile = CMS.FWorkSpaceProfile;
    OutType = PROFILE_WORKSPACE;
  } else if (ProfileName == TARGET_BUILTIN_SRGB) {
    FOutputProfile = CMS.FsRGBProfile;
    OutType = PROFILE_BUILTIN_SRGB;
  } else if (ProfileName == TARGET_BUILTIN_SGRAY) {
    FOutputProfile = CMS.FsGrayProfile;
    OutType = PROFILE_BUILTIN_SGRAY;
  } else {
    std::vector<uint8_t> Bytes;
    if (!ReadProfileFile(ProfileName, Bytes)) return false;
    FOutputProfile = cmsOpenProfileFromMem(Bytes.data(), cmsUInt32Number(Bytes.size()));
    FOwnOutputProfile = FOutputProfile != nullptr;
    if (!FOutputProfile || !SpaceColours(FOutputProfile) || !CheckOutputProfile(FOutputProfile)) {
      ResetTransform();
      return false;
    }
    FOutputProfileData = std::move(Bytes);
    OutType = PROFILE_EMBEDDED;
  }
  FInputProfile = ProfileOfImage(Src, FOwnInputProfile);
  if (!MakeImageTransform(Src, FInputProfile, Src.ProfileType, FOutputProfile, OutType,
                          RenderingIntent, Is8BitOnly)) {
    ResetTransform();
    return false;
  }
  return true;
}

bool TTransForm::InitCMYKTransform(const TICCImgInfo &Img, bool IsJPEG) {
  ResetTransform();
  CMS.EnsureInitialized();
  if (Img.PixelFormat != PIXFMT_CMYK || Img.Channels != 4) return false;
  if (Img.BPP != BPP_8 && Img.BPP != BPP_16) return false;
  std::lock_guard Guard(CMSLock());
  FInputProfile = OpenFromImage(Img);
  FOwnInputProfile = FInputProfile != nullptr;
  if (FInputProfile && cmsGetColorSpace(FInputProfile) != cmsSigCmykData) {
    cmsCloseProfile(FInputProfile);
    FInputProfile = nullptr;
    FOwnInputProfile = false;
  }
  if (!FInputProfile) {
    FInputProfile = CMS.FDefaultCMYKProfile;
    FInputProfileType = PROFILE_NONE;
  } else {
    FInputProfileType = Img.ProfileType;
  }
  if (!FInputProfile)
    throw ETessivoError("CMYK image without a usable CMYK profile (no built-in CMYK profile)");
  const uint32_t Bytes = SampleBytes(Img.BPP);
  // JPEG stores Adobe CMYK inverted (0 = full ink).
  FInputFormat = COLORSPACE_SH(PT_CMYK) | CHANNELS_SH(4) | BYTES_SH(Bytes) |
                 (IsJPEG ? FLAVOR_SH(1) : 0);
  FOutputFormat = Fmt(PT_RGB, 3, 0, Bytes, true);
  FOutputProfile = CMS.FWorkSpaceProfile;
  FTransForm = CreateTransform(FInputProfile, FInputFormat, FOutputProfile, FOutputFormat,
                               CMS.RenderingIntent(), FLAGS_PRECISE);
  if (!FTransForm) {
    ResetTransform();
    return false;
  }
  FOutputProfileType = PROFILE_WORKSPACE;
  FInputChannel = 4;
  FOutputChannel = 3;
  FOutColor = 3;
  FSrcChannels = 4;
  FSrcBytes = Bytes;
  FTransformType = TTransformType::CMYK;
  return true;
}

bool TTransForm::InitWork2DestTransform(const TICCImgInfo &Dest) {
  ResetTransform();
  CMS.EnsureInitialized();
  if (!CMS.Enabled()) return false;
  std::lock_guard Guard(CMSLock());
  if (Dest.ProfileType == PROFILE_EMBEDDED || Dest.ProfileType == PROFILE_FROM_EXIF) {
    FOutputProfile = OpenFromImage(Dest);
    FOwnOutputProfile = FOutputProfile != nullptr;
    if (!FOutputProfile || !SpaceColours(FOutputProfile) || !CheckOutputProfile(FOutputProfile)) {
      ResetTransform();
      return false;
    }
  } else {
    FOutputProfile = CMS.SharedProfile(Dest.ProfileType, IsGrayLayout(Dest));
  }
  FInputProfile = CMS.FWorkSpaceProfile;
  FOutColor = SpaceColours(FOutputProfile);
  if (!FOutColor) {
    ResetTransform();
    return false;
  }
  FInputFormat = TYPE_RGB_8;
  FOutputFormat = FOutColor == 1 ? TYPE_GRAY_8 : TYPE_RGB_8;
  FTransForm = CreateTransform(FInputProfile, FInputFormat, FOutputProfile, FOutputFormat,
                               CMS.RenderingIntent(), FLAGS_SINGLE);
  if (!FTransForm) {
    ResetTransform();
    return false;
  }
  FInputProfileType = PROFILE_WORKSPACE;
  FOutputProfileType = Dest.ProfileType;
  FInputChannel = 3;
  FOutputChannel = FOutColor;
  FDestMultiChannel = Dest.Channels > 1;
  FTransformType = TTransformType::Work2Dest;
  return true;
}

uint32_t TTransForm::Work2DestColor(uint32_t Color) const {
  if (!FTransForm || FTransformType != TTransformType::Work2Dest) return Color;
  const uint8_t In[3] = {uint8_t(Color), uint8_t(Color >> 8), uint8_t(Color >> 16)};
  uint8_t Out[3] = {0, 0, 0};
  cmsDoTransform(FTransForm, In, Out, 1);
  uint32_t Result;
  if (FOutColor == 1)
    Result = FDestMultiChannel ? Out[0] * 0x010101u : Out[0];
  else
    Result = Out[0] | (uint32_t(Out[1]) << 8) | (uint32_t(Out[2]) << 16);
  return Result | (Color & 0xFF000000u);
}

bool TTransForm::MakeToLab(const TICCImgInfo &Src, bool Lab16) {
  ResetTransform();
  CMS.EnsureInitialized();
  const uint32_t C = Src.Channels;
  if (C < 1 || C > 4 || Src.PixelFormat == PIXFMT_CMYK || Src.PixelFormat == PIXFMT_YCC)
    return false;
  if (Src.BPP != BPP_8 && Src.BPP != BPP_14 && Src.BPP != BPP_16) return false;
  std::lock_guard Guard(CMSLock());
  if (CMS.Enabled()) {
    FInputProfile = ProfileOfImage(Src, FOwnInputProfile);
    FInputProfileType = Src.ProfileType;
  } else {
    FInputProfile = IsGrayLayout(Src) ? CMS.FsGrayProfile : CMS.FsRGBProfile;
    FInputProfileType = IsGrayLayout(Src) ? PROFILE_BUILTIN_SGRAY : PROFILE_BUILTIN_SRGB;
  }
  const uint32_t InColour = SpaceColours(FInputProfile);
  if (!InColour) {
    ResetTransform();
    return false;
  }
  const uint32_t Bytes = SampleBytes(Src.BPP);
  const bool Alpha = HasAlpha(Src);
  const uint32_t SrcColour = C - Alpha;
  const uint32_t LabFormat = Lab16 ? TYPE_Lab_16 : TYPE_Lab_8;
  FOutputProfile = CMS.FLabProfile;
  FSrcChannels = C;
  FSrcBytes = Bytes;
  FSrcBPP = Src.BPP;
  FSrcHasAlpha = Alpha;
  FInputChannel = C;
  FTransformType = Lab16 ? TTransformType::ToLab16 : TTransformType::ToLab8;

  if (SrcColour == 1) {
    // Gray sources go through a table of every level.
    const uint32_t Levels = Src.BPP == BPP_8 ? 256u : Src.BPP == BPP_14 ? 16321u : 65536u;
    FInputFormat = Fmt(SpacePT(InColour), InColour, 0, Bytes, InColour == 3);
    FOutputFormat = LabFormat;
    FTransForm = CreateTransform(FInputProfile, FInputFormat, FOutputProfile, FOutputFormat,
                                 CMS.RenderingIntent(), FLAGS_PRECISE);
    if (!FTransForm) {
      ResetTransform();
      return false;
    }
    std::vector<uint8_t> In(size_t(Levels) * InColour * Bytes);
    for (uint32_t V = 0; V < Levels; ++V) {
      uint32_t Value = Src.BPP == BPP_14 ? Widen14(int16_t(V)) : V;
      for (uint32_t K = 0; K < InColour; ++K) {
        if (Bytes == 1)
          In[size_t(V) * InColour + K] = uint8_t(Value);
        else
          reinterpret_cast<uint16_t *>(In.data())[size_t(V) * InColour + K] = uint16_t(Value);
      }
    }
    if (Lab16) {
      std::vector<uint16_t> Out(size_t(Levels) * 3);
      cmsDoTransform(FTransForm, In.data(), Out.data(), Levels);
      GToL.resize(Levels);
      for (uint32_t V = 0; V < Levels; ++V) GToL[V] = LabV4ToV2(Out[size_t(V) * 3]);
    } else {
      std::vector<uint8_t> Out(size_t(Levels) * 3);
      cmsDoTransform(FTransForm, In.data(), Out.data(), Levels);
      GToL8.resize(Levels);
      for (uint32_t V = 0; V < Levels; ++V) GToL8[V] = Out[size_t(V) * 3];
    }
    FOutputChannel = C;
    return true;
  }
  FReadRepeat = false;
  FInputFormat = InColour == 1 ? Fmt(PT_GRAY, 1, C - 1, Bytes, false)
                               : Fmt(PT_RGB, 3, Alpha, Bytes, true);
  FOutputFormat = LabFormat | EXTRA_SH(Alpha);
  FTransForm = CreateTransform(FInputProfile, FInputFormat, FOutputProfile, FOutputFormat,
                               CMS.RenderingIntent(), Bytes == 1 ? FLAGS_IMAGE : FLAGS_PRECISE);
  if (!FTransForm) {
    ResetTransform();
    return false;
  }
  FOutputChannel = 3 + Alpha;
  return true;
}

bool TTransForm::InitToLab8(const TICCImgInfo &Src) { return MakeToLab(Src, false); }
bool TTransForm::InitToLab16(const TICCImgInfo &Src) { return MakeToLab(Src, true); }

bool TTransForm::InitFromLab16(const TICCImgInfo &Dest) {
  ResetTransform();
  CMS.EnsureInitialized();
  const uint32_t C = Dest.Channels;
  if (C < 1 || C > 4) return false;
  std::lock_guard Guard(CMSLock());
  if (CMS.Enabled()) {
    if (Dest.ProfileType == PROFILE_EMBEDDED || Dest.ProfileType == PROFILE_FROM_EXIF) {
      FOutputProfile = OpenFromImage(Dest);
      FOwnOutputProfile = FOutputProfile != nullptr;
      if (FOutputProfile && (!SpaceColours(FOutputProfile) || !CheckOutputProfile(FOutputProfile))) {
        ResetTransform();
        return false;
      }
      if (FOutputProfile)
        FOutputProfileData.assign(Dest.ICCProfile, Dest.ICCProfile + Dest.ProfileLen);
    }
    if (!FOutputProfile) FOutputProfile = CMS.SharedProfile(Dest.ProfileType, IsGrayLayout(Dest));
    FOutputProfileType = Dest.ProfileType;
  } else {
    FOutputProfile = IsGrayLayout(Dest) ? CMS.FsGrayProfile : CMS.FsRGBProfile;
    FOutputProfileType = Dest.ProfileType;
  }
  const uint32_t OutColour = SpaceColours(FOutputProfile);
  if (!OutColour) {
    ResetTransform();
    return false;
  }
  const bool Alpha = C == 2 || C == 4;
  FInputProfile = CMS.FLabProfile;
  FInputProfileType = PROFILE_NONE;
  FOutColor = OutColour;
  FLabChannels = C;
  FInputChannel = FOutputChannel = C;
  FTransformType = TTransformType::FromLab16;
  if (C - Alpha == 1) {
    FInputFormat = TYPE_Lab_16;
    FOutputFormat = Fmt(SpacePT(OutColour), OutColour, 0, 2, OutColour == 3);
    FTransForm = CreateTransform(FInputProfile, FInputFormat, FOutputProfile, FOutputFormat,
                                 CMS.RenderingIntent(), FLAGS_PRECISE);
    if (!FTransForm) {
      ResetTransform();
      return false;
    }
    constexpr uint32_t LCount = 65281;  // L 0..65280 in the v2 encoding
    std::vector<uint16_t> In(size_t(LCount) * 3), Out(size_t(LCount) * OutColour);
    for (uint32_t L = 0; L < LCount; ++L) {
      In[size_t(L) * 3] = LabV2ToV4(uint16_t(L));
      In[size_t(L) * 3 + 1] = In[size_t(L) * 3 + 2] = LabV2ToV4(32768);
    }
    cmsDoTransform(FTransForm, In.data(), Out.data(), LCount);
    LToG.resize(LCount);
    // RGB output: the green sample stands for the gray level.
    for (uint32_t L = 0; L < LCount; ++L)
      LToG[L] = Out[size_t(L) * OutColour + (OutColour == 3 ? 1 : 0)];
    return true;
  }
  FInputFormat = TYPE_Lab_16 | EXTRA_SH(Alpha);
  FOutputFormat = Fmt(SpacePT(OutColour), OutColour, OutColour == 3 ? Alpha : 0, 2, OutColour == 3);
  FTransForm = CreateTransform(FInputProfile, FInputFormat, FOutputProfile, FOutputFormat,
                               CMS.RenderingIntent(), FLAGS_PRECISE);
  if (!FTransForm) {
    ResetTransform();
    return false;
  }
  return true;
}

void TTransForm::TransformToLab16(TICCImgInfo &Img, TMultiThread *MT) {
  if (FTransformType != TTransformType::ToLab16 || !FTransForm) return;
  if (Img.Channels != FSrcChannels || Img.BPP != FSrcBPP)
    throw ETessivoError("Lab transform does not match the image layout");
  const uint32_t W = Img.Width, H = Img.Height, C = Img.Channels;
  if (!W || !H) return;
  const bool Alpha = FSrcHasAlpha;
  const bool From14 = Img.BPP == BPP_14;
  const uint32_t OutC = FOutputChannel;
  const bool InPlace = FSrcBytes == 2 && OutC == C;
  const uint32_t DstBpl = InPlace ? Img.Bpl : GetAlignedBpl16(W, OutC);
  uint8_t *Dst = InPlace ? Img.Mem : AllocPixelBlock(DstBpl, H);
  const bool Gray = !GToL.empty();
  const uint32_t Last = uint32_t(GToL.size()) - 1;
  try {
    RunRows(MT, H, [&](uint32_t First, uint32_t End) {
      std::vector<uint8_t> Scratch;
      for (uint32_t Y = First; Y < End; ++Y) {
        const uint8_t *S = ScanLine(Img, Y);
        auto *D = reinterpret_cast<uint16_t *>(Dst + size_t(Y) * DstBpl);
        if (Gray) {
          for (uint32_t X = 0; X < W; ++X) {
            uint32_t V, A = 0;
            if (FSrcBytes == 1) {
              V = S[size_t(X) * C];
              if (Alpha) A = S[size_t(X) * C + 1] * 257u;
            } else {
              auto *S16 = reinterpret_cast<const uint16_t *>(S);
              V = From14 ? uint32_t(std::clamp<int32_t>(int16_t(S16[size_t(X) * C]), 0, int32_t(Last)))
                         : S16[size_t(X) * C];
              if (Alpha)
                A = From14 ? Widen14(int16_t(S16[size_t(X) * C + 1])) : S16[size_t(X) * C + 1];
            }
            D[size_t(X) * OutC] = GToL[std::min(V, Last)];
            if (Alpha) D[size_t(X) * OutC + 1] = uint16_t(A);
          }
          continue;
        }
        const void *In = PrepareRow(S, Scratch, W, C, FSrcBytes, From14, false, Alpha);
        cmsDoTransform(FTransForm, In, D, W);
        LabRowV4ToV2(D, W, OutC);
        if (Alpha)
          CopyAlpha(static_cast<const uint8_t *>(In), C, FSrcBytes, reinterpret_cast<uint8_t *>(D),
                    OutC, 2, W);
      }
    });
  } catch (...) {
    if (!InPlace) PageFree(Dst);
    throw;
  }
  if (!InPlace) {
    PageFree(Img.Mem);
    Img.Mem = Dst;
    Img.Bpl = DstBpl;
  }
  Img.Channels = OutC;
  Img.BPP = BPP_16;
}

void TTransForm::TransformFromLab16(TICCImgInfo &Img, TMultiThread *MT) {
  if (FTransformType != TTransformType::FromLab16 || !FTransForm) return;
  if (Img.Channels != FLabChannels || Img.BPP != BPP_16)
    throw ETessivoError("Lab transform does not match the image layout");
  const uint32_t W = Img.Width, H = Img.Height, C = Img.Channels;
  if (!W || !H) return;
  RunRows(MT, H, [&](uint32_t First, uint32_t End) {
    std::vector<uint16_t> Gray;
    for (uint32_t Y = First; Y < End; ++Y) {
      auto *Row = reinterpret_cast<uint16_t *>(ScanLine(Img, Y));
      if (!LToG.empty()) {
        for (uint32_t X = 0; X < W; ++X) {
          uint16_t &L = Row[size_t(X) * C];
          L = LToG[std::min<uint32_t>(L, 65280)];
        }
      } else if (FOutColor == 3) {
        LabRowV2ToV4(Row, W, C);
        cmsDoTransform(FTransForm, Row, Row, W);
      } else {
        // A gray destination profile: the level goes into B, G and R.
        LabRowV2ToV4(Row, W, C);
        Gray.resize(W);
        cmsDoTransform(FTransForm, Row, Gray.data(), W);
        for (uint32_t X = 0; X < W; ++X)
          Row[size_t(X) * C] = Row[size_t(X) * C + 1] = Row[size_t(X) * C + 2] = Gray[X];
      }
    }
  });
  if (CMS.Enabled()) SetImageProfile(Img, FOutputProfileType, FOutputProfileData);
}

void TTransForm::Transform1LineToLab(const void *Src, void *Dest, uint32_t Width) const {
  const bool Lab16 = FTransformType == TTransformType::ToLab16;
  if (!FTransForm || (!Lab16 && FTransformType != TTransformType::ToLab8)) return;
  const uint32_t C = FSrcChannels;
  if (!GToL.empty() || !GToL8.empty()) {
    const uint32_t Last = uint32_t(Lab16 ? GToL.size() : GToL8.size()) - 1;
    for (uint32_t X = 0; X < Width; ++X) {
      uint32_t V = FSrcBytes == 1 ? static_cast<const uint8_t *>(Src)[size_t(X) * C]
                                  : static_cast<const uint16_t *>(Src)[size_t(X) * C];
      if (FSrcBPP == BPP_14) V = uint32_t(std::clamp<int32_t>(int16_t(V), 0, FULL_SCALE_14));
      V = std::min(V, Last);
      if (Lab16)
        static_cast<uint16_t *>(Dest)[X] = GToL[V];
      else
        static_cast<uint8_t *>(Dest)[X] = GToL8[V];
    }
    return;
  }
  std::vector<uint8_t> Wide;
  Src = PrepareRow(Src, Wide, Width, C, FSrcBytes, FSrcBPP == BPP_14, false, FSrcHasAlpha);
  if (!FSrcHasAlpha) {
    cmsDoTransform(FTransForm, Src, Dest, Width);
    if (Lab16) LabRowV4ToV2(static_cast<uint16_t *>(Dest), Width, 3);
    return;
  }
  // The transform writes L, a, b and a skipped alpha slot; the line has no alpha.
  const uint32_t B = Lab16 ? 2 : 1;
  std::vector<uint8_t> Tmp(size_t(Width) * 4 * B);
  cmsDoTransform(FTransForm, Src, Tmp.data(), Width);
  auto *D = static_cast<uint8_t *>(Dest);
  for (uint32_t X = 0; X < Width; ++X) std::memcpy(D + size_t(X) * 3 * B, &Tmp[size_t(X) * 4 * B], 3 * B);
  if (Lab16) LabRowV4ToV2(static_cast<uint16_t *>(Dest), Width, 3);
}

void TTransForm::DoTransform(TICCImgInfo &Img, TICCImgInfo *CloneImage) {
  if (!FTransForm ||
      (FTransformType != TTransformType::Image && FTransformType != TTransformType::CMYK))
    return;
  if (Img.Channels != FSrcChannels || SampleBytes(Img.BPP) != FSrcBytes ||
      (Img.BPP != BPP_8 && Img.BPP != BPP_14 && Img.BPP != BPP_16))
    throw ETessivoError("colour transform does not match the image layout");
  if (!Img.Mem || !Img.Width || !Img.Height) return;
  TICCImgInfo *T = &Img;
  if (CloneImage) {
    CopyICCImgInfo(Img, *CloneImage, false);
    T = CloneImage;
  }
  const uint32_t W = T->Width, H = T->Height, C = T->Channels, Bytes = FSrcBytes;
  const uint32_t OutC = FOutputChannel;
  const bool InPlace = OutC == C;
  const uint32_t DstBpl = InPlace ? T->Bpl : AlignedBpl(W, OutC, Bytes);
  // Allocated before anything is changed, so running out of memory leaves Img intact.
  uint8_t *Dst = InPlace ? nullptr : AllocPixelBlock(DstBpl, H);
  const bool Was14 = T->BPP == BPP_14;
  if (Was14) Widen14To16(*T, FMultiThread);
  const bool Alpha = FSrcHasAlpha;
  RunRows(FMultiThread, H, [&](uint32_t First, uint32_t End) {
    std::vector<uint8_t> Scratch;
    for (uint32_t Y = First; Y < End; ++Y) {
      uint8_t *S = ScanLine(*T, Y);
      uint8_t *D = InPlace ? S : Dst + size_t(Y) * DstBpl;
      const void *In = PrepareRow(S, Scratch, W, C, Bytes, false, FReadRepeat, Alpha);
      cmsDoTransform(FTransForm, In, D, W);
      if (Alpha && !InPlace) CopyAlpha(S, C, Bytes, D, OutC, Bytes, W);
    }
  });
  if (!InPlace) {
    PageFree(T->Mem);
    T->Mem = Dst;
    T->Bpl = DstBpl;
  }
  T->Channels = OutC;
  T->PixelFormat = FormatOfChannels(OutC);
  T->IsGrayAlpha = LongFalse;
  if (Was14) Narrow16To14(*T, FMultiThread);
  SetImageProfile(*T, FOutputProfileType, FOutputProfileData);
}
