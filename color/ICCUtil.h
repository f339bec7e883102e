// Colour management: the program's profiles (TCMS), the transform object that
// converts images, single colours and Lab (TTransForm), the tone curves for
// linear-light processing (TGammaInfo and the gamma tables), the profile made
// from Exif colour data, profile checks and the colour folder.
//
// Little CMS 2 does the arithmetic. Every profile opening, tone-curve read and
// transform creation runs under one program-wide lock (CMSLock); running a
// transform does not, so row bands convert in parallel.
//
// Linear-light tables (shared with the resampling and grayscale code):
//   Degamma (float): three tables end to end, blue, green, red, each N + 1
//     entries, entry v = curve(v / N) x Scale; N = 255 for 8-bit images
//     (entries at k x 256 + v), N = 16320 otherwise (entries at k x 16321 + v).
//     The resize filters call it with Scale 16320 into their 3 x 16321 array.
//   Regamma (int16): per channel REGAMMA_TABLE_LEN (24576) entries, channel k
//     at k x 24576. Entries 0..8192 are the fine segment, entry i =
//     round(inverse(i / (64 x D)) x OutMax); entries 8192 + v for v = 128..D
//     are the coarse segment, round(inverse(v / D) x OutMax). The 14-bit
//     tables use D = 16320, OutMax = 16320 (so a linear value L on the 14-bit
//     scale reads entry round(64 L) below 128 and 8192 + round(L) above); the
//     8-bit gray table uses D = 16383, OutMax = 255. Entries 8193..8319 hold
//     the coarse values of v = 1..127 and the tail past 8192 + D repeats the
//     last value, so no index in 0..24575 reads an undefined entry.
//     RegammaIndex8/RegammaIndex14 turn a linear value 0..1 into the index.
//   Curves: the image's profile by ProfileType (as TGammaInfo), its blue,
//     green, red TRCs when all three exist, else its gray TRC three times,
//     else the built-in sRGB curve. MakeResizeGammaTables fills both tables
//     of a resize filter in one call; the resampler hands it to its filters.
#pragma once

#include "color/ColorManagementOption.h"
#include "core/ImgInfo.h"
#include "core/MultiThread.h"
#include "core/PixelConvert.h"

#include <lcms2.h>

#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <vector>

// The program-wide lock around Little CMS object creation.
std::recursive_mutex &CMSLock();

// Names of the InitTo targets besides profile file paths.
inline constexpr const char *TARGET_MONITOR = "MonitorProfile";
inline constexpr const char *TARGET_WORKSPACE = "WorkSpaceProfile";
inline constexpr const char *TARGET_BUILTIN_SRGB = "built-in sRGB Profile";
inline constexpr const char *TARGET_BUILTIN_SGRAY = "built-in sGray Profile";

// New copies of the built-in profiles: sRGB (IEC 61966-2-1 with fixed
// colorants) and gray with the sRGB curve, both version 2.1; the caller
// closes them. Null when Little CMS cannot make them.
cmsHPROFILE CreateBuiltinsRGB();
cmsHPROFILE CreateBuiltinsGray();

// Where the built-in CMYK profile is looked for, in order (a press profile
// from Ghostscript's colour data); $TESSIVO_CMYK_PROFILE, when set, is the
// only candidate.
std::vector<std::string> CMYKFallbackCandidates();

class TCMS {
public:
  TCMS() = default;
  ~TCMS();
  TCMS(const TCMS &) = delete;
  TCMS &operator=(const TCMS &) = delete;

  // (Re)loads every profile from the settings. Raises ETessivoError when no
  // CMYK profile is configured and the built-in one cannot be found.
  void InitProfile();
  void InitProfile(const TColorManagementOption &Option);
  // InitProfile with the program-wide settings unless already done.
  void EnsureInitialized();

  // The file bytes when the profile came from a file, else Profile null, Len 0.
  // The bytes stay owned by this object.
  void GetDefaultRGBProfileData(TICCInfo &Info) const;
  void GetDefaultGrayProfileData(TICCInfo &Info) const;
  void GetWorkSpaceProfileData(TICCInfo &Info) const;

  bool Enabled() const { return FOption.Enabled != 0; }
  // The configured intent, 0 to 3.
  uint32_t RenderingIntent() const;
  const TColorManagementOption &Option() const { return FOption; }
  // Path of the CMYK profile in use (configured file or built-in fallback).
  const std::string &CMYKProfilePath() const { return FCMYKProfilePath; }
  bool MonitorFromDisplay() const { return FMonitorFromDisplay; }

  // The shared profile that stands for a profile type (types 4 and 6 have no
  // shared profile: null). PROFILE_NONE and unknown codes give the built-in
  // sRGB, or the built-in gray when Gray is set.
  cmsHPROFILE SharedProfile(uint32_t ProfileType, bool Gray) const;

  cmsHPROFILE FMonitorProfile = nullptr;
  cmsHPROFILE FDefaultRGBProfile = nullptr;
  cmsHPROFILE FDefaultCMYKProfile = nullptr;
  cmsHPROFILE FDefaultGrayProfile = nullptr;
  cmsHPROFILE FWorkSpaceProfile = nullptr;
  std::vector<uint8_t> FDefaultRGBProfileData;
  std::vector<uint8_t> FDefaultGrayProfileData;
  std::vector<uint8_t> FWorkSpaceProfileData;
  cmsHPROFILE FsRGBProfile = nullptr;
  cmsHPROFILE FsGrayProfile = nullptr;
  cmsHPROFILE FLabProfile = nullptr;
  bool FInitialized = false;

private:
  void CloseProfiles();
  TColorManagementOption FOption;
  std::string FCMYKProfilePath;
  bool FMonitorFromDisplay = false;
};

// The one program-wide instance.
extern TCMS CMS;

enum class TTransformType {
  None,
  Image,      // InitSrcToDestTransform, InitTo
  CMYK,       // InitCMYKTransform
  Work2Dest,  // single colours from the working space
  ToLab8,
  ToLab16,
  FromLab16,
};

class TTransForm {
public:
  TTransForm() = default;
  ~TTransForm();
  TTransForm(const TTransForm &) = delete;
  TTransForm &operator=(const TTransForm &) = delete;

  // From Src's profile to Dest's (only the profile fields of Dest are read).
  // Intent below 0 (or above 3) means the configured one. Returns whether a
  // transform was made; nothing is made with colour management off, for a
  // source that is not gray or RGB, or for a destination profile that is not
  // an RGB or gray output profile.
  bool InitSrcToDestTransform(const TICCImgInfo &Src, const TICCImgInfo &Dest,
                              int32_t RenderingIntent = -1);
  // To a named target (TARGET_*) or a profile file. With Is8BitOnly the
  // transform takes 8-bit data only; otherwise it follows Src's depth.
  bool InitTo(const TICCImgInfo &Src, const std::string &ProfileName,
              int32_t RenderingIntent = -1, bool Is8BitOnly = false);
  // A CMYK image into the working space as BGR; IsJPEG reads inverted CMYK.
  // Made whether or not colour management is on (CMYK pixels must become BGR).
  bool InitCMYKTransform(const TICCImgInfo &Img, bool IsJPEG);
  // Single colours from the working space into Dest's profile.
  bool InitWork2DestTransform(const TICCImgInfo &Dest);
  // A 0x00BBGGRR colour through that transform; unchanged without one. The
  // top byte is kept. A gray result is repeated into all three bytes when
  // Dest has more than one channel.
  uint32_t Work2DestColor(uint32_t Color) const;

  // Lab: with colour management off the built-in sRGB (gray) profile stands
  // in for the image's, so Lab-mode effects still see Lab.
  bool InitToLab8(const TICCImgInfo &Src);
  bool InitToLab16(const TICCImgInfo &Src);
  bool InitFromLab16(const TICCImgInfo &Dest);
  // Img (8 or 16-bit, 14-bit is widened) becomes 16-bit Lab in place of its
  // pixels: 1 channel L (through GToL), 2 channels L and alpha, 3 channels
  // L, a, b (v2 encoding, L 0..65280, a = b = 32768 for neutral), 4 channels
  // L, a, b, alpha. PixelFormat is kept so the way back knows the layout.
  void TransformToLab16(TICCImgInfo &Img, TMultiThread *MT);
  // The way back into the InitFromLab16 profile, same channel count, 16-bit.
  void TransformFromLab16(TICCImgInfo &Img, TMultiThread *MT);
  // One row of Width pixels in the InitToLab8/16 source layout into Lab:
  // 1 sample per pixel (L) for gray sources, else 3; 8-bit samples after
  // InitToLab8, 16-bit after InitToLab16.
  void Transform1LineToLab(const void *Src, void *Dest, uint32_t Width) const;

  // Converts Img with the current image or CMYK transform (nothing without
  // one). With CloneImage the result goes into that new record (the caller
  // frees it) and Img stays as it is. 14-bit data is converted at 16 bits
  // and returned at 14 bits. The image takes the output profile.
  // Raises ETessivoError when Img's layout does not fit the transform.
  void DoTransform(TICCImgInfo &Img, TICCImgInfo *CloneImage = nullptr);
  void ResetTransform();
  void SetMultiThread(TMultiThread *MT) { FMultiThread = MT; }

  bool HasTransform() const { return FTransForm != nullptr; }
  TTransformType TransformType() const { return FTransformType; }
  uint32_t OutputProfileType() const { return FOutputProfileType; }

  cmsHTRANSFORM FTransForm = nullptr;
  cmsHPROFILE FInputProfile = nullptr;
  uint32_t FInputProfileType = PROFILE_NONE;
  uint32_t FInputChannel = 0;   // samples per pixel the source rows carry
  uint32_t FInputFormat = 0;    // Little CMS format of the source side
  cmsHPROFILE FOutputProfile = nullptr;
  uint32_t FOutputProfileType = PROFILE_NONE;
  uint32_t FOutputChannel = 0;  // samples per pixel of the result
  uint32_t FOutputFormat = 0;
  TMultiThread *FMultiThread = nullptr;
  TTransformType FTransformType = TTransformType::None;
  std::vector<uint8_t> FOutputProfileData;
  std::vector<uint16_t> GToL;   // gray level -> L (16-bit v2 encoding)
  std::vector<uint16_t> LToG;   // L 0..65280 -> 16-bit gray
  std::vector<uint8_t> GToL8;   // 8-bit gray -> 8-bit L

private:
  bool MakeImageTransform(const TICCImgInfo &Src, cmsHPROFILE In, uint32_t InType,
                          cmsHPROFILE Out, uint32_t OutType, int32_t Intent, bool Is8BitOnly);
  bool MakeToLab(const TICCImgInfo &Src, bool Lab16);
  cmsHTRANSFORM CreateTransform(cmsHPROFILE In, uint32_t InFormat, cmsHPROFILE Out,
                                uint32_t OutFormat, uint32_t Intent, uint32_t Flags);
  bool FOwnInputProfile = false;
  bool FOwnOutputProfile = false;
  uint32_t FSrcChannels = 0;    // image channels the transform was made for
  uint32_t FSrcBytes = 0;       // bytes per sample the transform reads
  uint32_t FSrcBPP = 0;         // depth code the Lab transforms were made for
  bool FSrcHasAlpha = false;
  bool FReadRepeat = false;     // gray rows must be repeated into B, G, R first
  uint32_t FOutColor = 0;       // colour samples per output pixel (1 or 3)
  bool FDestMultiChannel = false;
  uint32_t FLabChannels = 0;    // InitFromLab16: channels of the Lab buffer
};

// Tone curves of an image's profile for linear-light work.
class TGammaInfo {
public:
  // Profile by the image's type: default RGB, working space, the image's own
  // bytes (types 4 and 6), default gray, else the built-in sRGB.
  explicit TGammaInfo(const TICCImgInfo &Img);
  static TGammaInfo *Create(const TICCImgInfo &Img) { return new TGammaInfo(Img); }
  ~TGammaInfo();
  TGammaInfo(const TGammaInfo &) = delete;
  TGammaInfo &operator=(const TGammaInfo &) = delete;

  // 0 blue, 1 green, 2 red, 3 gray (gray TRC, else green TRC); the built-in
  // sRGB green curve when the profile lacks the tag.
  void SetChannel(int32_t Channel);
  // Input 0..1 to linear 0..1.
  double GetDegammaValue(double Input) const;
  // Linear 0..1 to round(encoded x OutputMax).
  int32_t GetRegammaValue(int32_t OutputMax, double Input) const;

  cmsHPROFILE hProfile = nullptr;
  bool NeedFree = false;
  cmsToneCurve *Degamma = nullptr;
  cmsToneCurve *Regamma = nullptr;

private:
  // For tabulated curves the inverse is taken from the forward table itself
  // (its rising envelope): the library's reversed table is too coarse near
  // black, where the fine regamma segment looks.
  std::vector<uint16_t> FForward;
};

// The inverse of a curve at Y: exact for parametric curves, else the inverse
// of the piecewise-linear forward table (0 where the table starts flat).
double EvalInverseToneCurve(const cmsToneCurve *Curve, double Y);

// Evaluates a curve: parametric curves exactly, tabulated ones by linear
// interpolation between the two nearest of their N entries at x (N - 1).
double EvalToneCurve(const cmsToneCurve *Curve, double X);

inline constexpr uint32_t DEGAMMA_TABLE_LEN_8 = 256;
inline constexpr uint32_t DEGAMMA_TABLE_LEN_14 = 16321;
inline constexpr uint32_t REGAMMA_TABLE_LEN = 24576;
inline constexpr uint32_t REGAMMA_FINE_LAST = 8192;

// Entries per channel of the degamma table for an image depth.
constexpr uint32_t DegammaTableLength(uint32_t BPP) {
  return BPP == BPP_8 ? DEGAMMA_TABLE_LEN_8 : DEGAMMA_TABLE_LEN_14;
}
// Fills 3 x DegammaTableLength(Img.BPP) floats (layout in the file comment).
// Raises ETessivoError when Table is too small.
void MakeDegammaTable(const TICCImgInfo &Img, std::span<float> Table, float Scale = 1.0f);
// Fills 3 x REGAMMA_TABLE_LEN 14-bit regamma entries from the inverse tone
// curves of Img's profile (the resize filters' linear-light tables).
void MakeRegammaTable(const TICCImgInfo &Img, std::span<int16_t> Table);
// Both tables of a linear-light resize filter in one call, with the signature
// the resampling code's filters take their table maker in: Degamma 3 x 16321 floats (scale
// 16320), Regamma 3 x REGAMMA_TABLE_LEN entries.
void MakeResizeGammaTables(const TICCImgInfo &Src, float *Degamma, int16_t *Regamma);
// Fills REGAMMA_TABLE_LEN entries from the inverse gray curve of the default
// gray profile (the built-in gray's when it has none): 8-bit results for
// BPP 8, 14-bit results otherwise.
void MakeGrayRegammaTable(uint32_t BPP, std::span<int16_t> Table);

// Index into an 8-bit-result regamma table for linear Y in 0..1.
inline uint32_t RegammaIndex8(float Y) {
  if (!(Y > 0.0f)) return 0;
  if (Y >= 1.0f) return REGAMMA_FINE_LAST + 16383;
  if (Y < 8192.0f / 1048512.0f) return uint32_t(Y * 1048512.0f + 0.5f);
  return REGAMMA_FINE_LAST + uint32_t(Y * 16383.0f + 0.5f);
}
// Index into a 14-bit-result regamma table for linear Y in 0..1.
inline uint32_t RegammaIndex14(float Y) {
  if (!(Y > 0.0f)) return 0;
  if (Y >= 1.0f) return REGAMMA_FINE_LAST + FULL_SCALE_14;
  if (Y < 8192.0f / 1044480.0f) return uint32_t(Y * 1044480.0f + 0.5f);
  return REGAMMA_FINE_LAST + uint32_t(Y * float(FULL_SCALE_14) + 0.5f);
}

// The Exif colour data of a source.
struct TExifColorInfo {
  int32_t ColorSpace = 1;
  double WhitePoint[2] = {0.313, 0.329};
  double PrimaryChromaticities[6] = {0.64, 0.33, 0.21, 0.71, 0.15, 0.06};
  double Gamma = 2.2;
};
inline constexpr const char *EXIF_PROFILE_DESCRIPTION = "CustomProfile From Exif";
// An RGB profile from the Exif white point, primaries and gamma, in a
// page-allocated block (PageFree). Colour space 1 (sRGB) and unusable values
// give Profile null.
TICCInfo CreateProfileFromExif(const TExifColorInfo &Exif);
// Attaches that profile to Img as PROFILE_FROM_EXIF (releasing a profile Img
// owned). Returns false and leaves Img alone when no profile results. Whether
// to call it at all is the caller's choice (CreateICCProfileFromExif).
bool AttachProfileFromExif(TICCImgInfo &Img, const TExifColorInfo &Exif);

// A profile can be an output profile: RGB with red, green and blue TRC tags,
// gray with a gray TRC tag, or any profile with a B2A0 table.
bool CheckOutputProfile(cmsHPROFILE Profile);
// 0 unusable (cannot be opened, device link or another colour space), 1 RGB,
// 2 CMYK, 3 gray.
int32_t ClassifyProfileFile(const std::string &Path);
// Reads a whole profile file; false when it cannot be read or is implausible.
bool ReadProfileFile(const std::string &Path, std::vector<uint8_t> &Bytes);

// The colour folders that exist: /usr/share/color/icc/, then
// $XDG_DATA_HOME/icc/ (~/.local/share/icc/), each with a trailing slash.
std::vector<std::string> GetColorDirectories();
// The first of them, or empty.
std::string GetColorDirectory();

// The background colour FlattenAlpha composites over: Color (COLORREF order)
// converted from the working space into Img's profile through Transform
// (whose current transform it replaces); Color itself without a transform
// object or with colour management off.
uint32_t BackgroundColorForImage(const TICCImgInfo &Img, uint32_t Color, TTransForm *Transform);
// The same as the conversion FlattenAlpha takes; empty without a transform.
TBackgroundColorFunc BackgroundColorInto(TTransForm *Transform);
