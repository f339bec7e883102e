// The program's profiles (TCMS), profile files, checks, the colour folders and
// the display profile.
#include "color/ICCUtil.h"

#include "core/Errors.h"
#include "core/PixelConvert.h"

#include <dlfcn.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>

TColorManagementOption ColorManagementOption;
TCMS CMS;

std::recursive_mutex &CMSLock() {
  // Never destroyed: the global TCMS and other static objects still take it
  // while the program's statics are being torn down.
  static auto *Lock = new std::recursive_mutex;
  return *Lock;
}

namespace {

// Profiles larger than this are not plausible and are refused before reading.
constexpr std::uintmax_t MAX_PROFILE_FILE = 64u << 20;
constexpr size_t ICC_HEADER_SIZE = 128;

cmsHPROFILE OpenProfileBytes(const std::vector<uint8_t> &Bytes) {
  if (Bytes.size() < ICC_HEADER_SIZE) return nullptr;
  std::lock_guard Guard(CMSLock());
  return cmsOpenProfileFromMem(Bytes.data(), cmsUInt32Number(Bytes.size()));
}

void CloseProfile(cmsHPROFILE &P) {
  if (!P) return;
  std::lock_guard Guard(CMSLock());
  cmsCloseProfile(P);
  P = nullptr;
}

void SetDescription(cmsHPROFILE P, const char *Text) {
  cmsMLU *Mlu = cmsMLUalloc(nullptr, 1);
  cmsMLUsetASCII(Mlu, "en", "US", Text);
  cmsWriteTag(P, cmsSigProfileDescriptionTag, Mlu);
  cmsMLUfree(Mlu);
}

cmsCIEXYZ S15(uint32_t X, uint32_t Y, uint32_t Z) {
  return {X / 65536.0, Y / 65536.0, Z / 65536.0};
}

cmsToneCurve *BuildsRGBCurve() {
  // IEC 61966-2-1: Y = ((X + 0.055) / 1.055)^2.4 above 0.04045, X / 12.92 below.
  const cmsFloat64Number Params[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
  return cmsBuildParametricToneCurve(nullptr, 4, Params);
}

}  // namespace

cmsHPROFILE CreateBuiltinsRGB() {
  cmsHPROFILE P = cmsCreate_sRGBProfile();
  if (!P) return nullptr;
  // The fixed white point and colorants make the built-in profile identical
  // wherever it is created, independent of the library's own rounding.
  cmsCIEXYZ White = S15(0xF351, 0x10000, 0x116CC);
  cmsCIEXYZ Red = S15(0x6FA2, 0x38F5, 0x0390);
  cmsCIEXYZ Green = S15(0x6299, 0xB785, 0x18DA);
  cmsCIEXYZ Blue = S15(0x24A0, 0x0F84, 0xB6CF);
  cmsWriteTag(P, cmsSigMediaWhitePointTag, &White);
  cmsWriteTag(P, cmsSigRedColorantTag, &Red);
  cmsWriteTag(P, cmsSigGreenColorantTag, &Green);
  cmsWriteTag(P, cmsSigBlueColorantTag, &Blue);
  SetDescription(P, "built-in sRGB");
  // A D65 media white point is the version-2 convention for display profiles.
  cmsSetProfileVersion(P, 2.1);
  return P;
}

cmsHPROFILE CreateBuiltinsGray() {
  cmsToneCurve *Curve = BuildsRGBCurve();
  cmsHPROFILE P = cmsCreateGrayProfile(cmsD50_xyY(), Curve);
  cmsFreeToneCurve(Curve);
  if (!P) return nullptr;
  SetDescription(P, "built-in sGray");
  cmsSetProfileVersion(P, 2.1);
  return P;
}

namespace {

bool IsSpace(cmsHPROFILE P, cmsColorSpaceSignature Space) {
  return P && cmsGetColorSpace(P) == Space;
}

bool IsRGBOrGrayOutput(cmsHPROFILE P) {
  return (IsSpace(P, cmsSigRgbData) || IsSpace(P, cmsSigGrayData)) && CheckOutputProfile(P);
}

// Opens a profile file that passes Accept; Bytes receives the file when kept.
cmsHPROFILE OpenProfileFile(const std::string &Path, bool (*Accept)(cmsHPROFILE),
                            std::vector<uint8_t> *Bytes) {
  if (Path.empty()) return nullptr;
  std::vector<uint8_t> Data;
  if (!ReadProfileFile(Path, Data)) return nullptr;
  cmsHPROFILE P = OpenProfileBytes(Data);
  if (P && !Accept(P)) CloseProfile(P);
  if (P && Bytes) *Bytes = std::move(Data);
  return P;
}

bool AcceptRGB(cmsHPROFILE P) { return IsSpace(P, cmsSigRgbData) && CheckOutputProfile(P); }
bool AcceptGray(cmsHPROFILE P) { return IsSpace(P, cmsSigGrayData) && CheckOutputProfile(P); }
bool AcceptCMYK(cmsHPROFILE P) { return IsSpace(P, cmsSigCmykData); }
bool AcceptMonitor(cmsHPROFILE P) { return IsRGBOrGrayOutput(P); }

// The entry points of libX11 that the display profile needs. libX11 is
// opened at run time so that the program has no link dependency on X and runs
// headless; it is opened once per process and never closed (Xlib leaves
// handlers and thread data behind that must outlive it).
struct TXLibrary {
  using Display = void;
  using XOpenDisplayFn = Display *(*)(const char *);
  using XCloseDisplayFn = int (*)(Display *);
  using XDefaultRootWindowFn = unsigned long (*)(Display *);
  using XInternAtomFn = unsigned long (*)(Display *, const char *, int);
  using XGetWindowPropertyFn = int (*)(Display *, unsigned long, unsigned long, long, long, int,
                                       unsigned long, unsigned long *, int *, unsigned long *,
                                       unsigned long *, unsigned char **);
  using XFreeFn = int (*)(void *);
  XOpenDisplayFn Open = nullptr;
  XCloseDisplayFn Close = nullptr;
  XDefaultRootWindowFn Root = nullptr;
  XInternAtomFn Intern = nullptr;
  XGetWindowPropertyFn GetProp = nullptr;
  XFreeFn Free = nullptr;

  TXLibrary() {
    void *X = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    if (!X) return;
    Open = reinterpret_cast<XOpenDisplayFn>(dlsym(X, "XOpenDisplay"));
    Close = reinterpret_cast<XCloseDisplayFn>(dlsym(X, "XCloseDisplay"));
    Root = reinterpret_cast<XDefaultRootWindowFn>(dlsym(X, "XDefaultRootWindow"));
    Intern = reinterpret_cast<XInternAtomFn>(dlsym(X, "XInternAtom"));
    GetProp = reinterpret_cast<XGetWindowPropertyFn>(dlsym(X, "XGetWindowProperty"));
    Free = reinterpret_cast<XFreeFn>(dlsym(X, "XFree"));
  }
  bool Usable() const { return Open && Close && Root && Intern && GetProp && Free; }
};

// The _ICC_PROFILE property of the X root window.
std::vector<uint8_t> ReadDisplayProfile() {
  std::vector<uint8_t> Bytes;
  if (!std::getenv("DISPLAY")) return Bytes;
  static const TXLibrary XLib;
  if (XLib.Usable()) {
    if (TXLibrary::Display *D = XLib.Open(nullptr)) {
      unsigned long Atom = XLib.Intern(D, "_ICC_PROFILE", 1);
      if (Atom) {
        unsigned long Type = 0, Items = 0, After = 0;
        int Format = 0;
        unsigned char *Data = nullptr;
        constexpr unsigned long AnyPropertyType = 0;
        if (XLib.GetProp(D, XLib.Root(D), Atom, 0, long(MAX_PROFILE_FILE / 4), 0, AnyPropertyType, &Type,
                         &Format, &Items, &After, &Data) == 0 &&
            Data) {
          if (Format == 8) Bytes.assign(Data, Data + Items);
          XLib.Free(Data);
        }
      }
      XLib.Close(D);
    }
  }
  return Bytes;
}

}  // namespace

std::vector<std::string> CMYKFallbackCandidates() {
  std::vector<std::string> List;
  // An explicit choice replaces the search (packagers, and the tests).
  if (const char *Env = std::getenv("TESSIVO_CMYK_PROFILE"); Env && *Env) {
    List.push_back(Env);
    return List;
  }
#ifdef TESSIVO_CMYK_PROFILE
  List.push_back(TESSIVO_CMYK_PROFILE);
#endif
  List.push_back("/usr/share/color/icc/ghostscript/default_cmyk.icc");
  List.push_back("/usr/share/ghostscript/iccprofiles/default_cmyk.icc");
  return List;
}

bool ReadProfileFile(const std::string &Path, std::vector<uint8_t> &Bytes) {
  std::error_code Err;
  if (!std::filesystem::is_regular_file(Path, Err)) return false;
  auto Size = std::filesystem::file_size(Path, Err);
  if (Err || Size < ICC_HEADER_SIZE || Size > MAX_PROFILE_FILE) return false;
  std::ifstream In(Path, std::ios::binary);
  if (!In) return false;
  Bytes.resize(size_t(Size));
  In.read(reinterpret_cast<char *>(Bytes.data()), std::streamsize(Size));
  if (!In) {
    Bytes.clear();
    return false;
  }
  return true;
}

bool CheckOutputProfile(cmsHPROFILE P) {
  if (!P) return false;
  std::lock_guard Guard(CMSLock());
  if (cmsIsTag(P, cmsSigBToA0Tag)) return true;
  switch (cmsGetColorSpace(P)) {
  case cmsSigRgbData:
    return cmsIsTag(P, cmsSigRedTRCTag) && cmsIsTag(P, cmsSigGreenTRCTag) &&
           cmsIsTag(P, cmsSigBlueTRCTag);
  case cmsSigGrayData:
    return cmsIsTag(P, cmsSigGrayTRCTag);
  default:
    return false;
  }
}

int32_t ClassifyProfileFile(const std::string &Path) {
  std::vector<uint8_t> Bytes;
  if (!ReadProfileFile(Path, Bytes)) return 0;
  cmsHPROFILE P = OpenProfileBytes(Bytes);
  if (!P) return 0;
  int32_t Kind = 0;
  if (cmsGetDeviceClass(P) != cmsSigLinkClass) {
    switch (cmsGetColorSpace(P)) {
    case cmsSigRgbData: Kind = 1; break;
    case cmsSigCmykData: Kind = 2; break;
    case cmsSigGrayData: Kind = 3; break;
    default: break;
    }
  }
  CloseProfile(P);
  return Kind;
}

std::vector<std::string> GetColorDirectories() {
  std::vector<std::string> Dirs;
  std::error_code Err;
  auto Add = [&](std::string D) {
    if (!D.empty() && D.back() != '/') D += '/';
    if (std::filesystem::is_directory(D, Err)) Dirs.push_back(D);
  };
  Add("/usr/share/color/icc/");
  if (const char *Xdg = std::getenv("XDG_DATA_HOME"); Xdg && *Xdg == '/')
    Add(std::string(Xdg) + "/icc/");
  else if (const char *Home = std::getenv("HOME"); Home && *Home)
    Add(std::string(Home) + "/.local/share/icc/");
  return Dirs;
}

std::string GetColorDirectory() {
  auto Dirs = GetColorDirectories();
  return Dirs.empty() ? std::string() : Dirs.front();
}

TCMS::~TCMS() {
  CloseProfiles();
  CloseProfile(FsRGBProfile);
  CloseProfile(FsGrayProfile);
  CloseProfile(FLabProfile);
}

void TCMS::CloseProfiles() {
  for (cmsHPROFILE *P : {&FMonitorProfile, &FDefaultRGBProfile, &FDefaultCMYKProfile,
                         &FDefaultGrayProfile, &FWorkSpaceProfile}) {
    if (*P != FsRGBProfile && *P != FsGrayProfile) CloseProfile(*P);
    *P = nullptr;
  }
  FDefaultRGBProfileData.clear();
  FDefaultGrayProfileData.clear();
  FWorkSpaceProfileData.clear();
  FCMYKProfilePath.clear();
  FMonitorFromDisplay = false;
}

void TCMS::InitProfile() { InitProfile(ColorManagementOption); }

void TCMS::EnsureInitialized() {
  std::lock_guard Guard(CMSLock());
  if (!FInitialized) InitProfile();
}

void TCMS::InitProfile(const TColorManagementOption &Option) {
  std::lock_guard Guard(CMSLock());
  CloseProfiles();
  FOption = Option;
  if (!FsRGBProfile) FsRGBProfile = CreateBuiltinsRGB();
  if (!FsGrayProfile) FsGrayProfile = CreateBuiltinsGray();
  if (!FLabProfile) FLabProfile = cmsCreateLab4Profile(nullptr);
  if (!FsRGBProfile || !FsGrayProfile || !FLabProfile)
    throw ETessivoError("Little CMS could not create the built-in profiles");

  FMonitorProfile = OpenProfileFile(Option.MonitorProfile, AcceptMonitor, nullptr);
  if (!FMonitorProfile) {
    std::vector<uint8_t> Display = ReadDisplayProfile();
    FMonitorProfile = OpenProfileBytes(Display);
    if (FMonitorProfile && !AcceptMonitor(FMonitorProfile)) CloseProfile(FMonitorProfile);
    FMonitorFromDisplay = FMonitorProfile != nullptr;
  }
  if (!FMonitorProfile) FMonitorProfile = FsRGBProfile;

  if (Option.Enabled) {
    FWorkSpaceProfile = OpenProfileFile(Option.WorkSpaceProfile, AcceptRGB, &FWorkSpaceProfileData);
    FDefaultRGBProfile = OpenProfileFile(Option.RGBProfile, AcceptRGB, &FDefaultRGBProfileData);
    FDefaultGrayProfile =
        OpenProfileFile(Option.GrayscaleProfile, AcceptGray, &FDefaultGrayProfileData);
  }
  if (!FWorkSpaceProfile) FWorkSpaceProfile = FsRGBProfile;
  if (!FDefaultRGBProfile) FDefaultRGBProfile = FsRGBProfile;
  if (!FDefaultGrayProfile) FDefaultGrayProfile = FsGrayProfile;
  // Precaching has no Little CMS 2 counterpart: transforms build their tables.
  FInitialized = true;

  // CMYK last, so that a missing fallback leaves every other profile usable.
  FDefaultCMYKProfile = OpenProfileFile(Option.CMYKProfile, AcceptCMYK, nullptr);
  if (FDefaultCMYKProfile) {
    FCMYKProfilePath = Option.CMYKProfile;
    return;
  }
  std::string Tried;
  for (const std::string &Path : CMYKFallbackCandidates()) {
    FDefaultCMYKProfile = OpenProfileFile(Path, AcceptCMYK, nullptr);
    if (FDefaultCMYKProfile) {
      FCMYKProfilePath = Path;
      return;
    }
    Tried += (Tried.empty() ? "" : ", ") + Path;
  }
  throw ETessivoError("No CMYK profile: none configured and the built-in CMYK profile is missing (" +
                      Tried + "); install Ghostscript's colour profiles (libgs-common)");
}

namespace {
void FillInfo(const std::vector<uint8_t> &Data, TICCInfo &Info) {
  Info.Profile = Data.empty() ? nullptr : const_cast<uint8_t *>(Data.data());
  Info.Len = uint32_t(Data.size());
}
}  // namespace

void TCMS::GetDefaultRGBProfileData(TICCInfo &Info) const { FillInfo(FDefaultRGBProfileData, Info); }
void TCMS::GetDefaultGrayProfileData(TICCInfo &Info) const {
  FillInfo(FDefaultGrayProfileData, Info);
}
void TCMS::GetWorkSpaceProfileData(TICCInfo &Info) const { FillInfo(FWorkSpaceProfileData, Info); }

uint32_t TCMS::RenderingIntent() const {
  int32_t I = FOption.RenderingIntent;
  return I >= 0 && I <= 3 ? uint32_t(I) : 0u;
}

cmsHPROFILE TCMS::SharedProfile(uint32_t ProfileType, bool Gray) const {
  switch (ProfileType) {
  case PROFILE_MONITOR: return FMonitorProfile;
  case PROFILE_DEFAULT_RGB: return FDefaultRGBProfile;
  case PROFILE_WORKSPACE: return FWorkSpaceProfile;
  case PROFILE_DEFAULT_GRAY: return FDefaultGrayProfile;
  case PROFILE_BUILTIN_SRGB: return FsRGBProfile;
  case PROFILE_BUILTIN_SGRAY: return FsGrayProfile;
  case PROFILE_EMBEDDED:
  case PROFILE_FROM_EXIF: return nullptr;
  default: return Gray ? FsGrayProfile : FsRGBProfile;
  }
}

uint32_t BackgroundColorForImage(const TICCImgInfo &Img, uint32_t Color, TTransForm *Transform) {
  if (!Transform) return Color;
  Transform->InitWork2DestTransform(Img);
  return Transform->Work2DestColor(Color);
}

TBackgroundColorFunc BackgroundColorInto(TTransForm *Transform) {
  if (!Transform) return {};
  return [Transform](const TICCImgInfo &Img, uint32_t Color) { return BackgroundColorForImage(Img, Color, Transform); };
}
