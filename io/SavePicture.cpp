// The savers' shared parts: resolution rules, profile choice, the steps every
// writer takes, the palette search, the preparation TIFF and HD Photo share,
// the read-only guard and the dispatch by output type. The writers live in
// SaveBmp.cpp, SaveJpeg.cpp, SavePng.cpp, SaveTiff.cpp and SaveHdp.cpp.
#include "io/SavePicture.h"

#include "core/Errors.h"
#include "color/ICCUtil.h"
#include "core/PixelConvert.h"
#include "io/ExifReader.h"
#include "io/Pixio.h"
#include "io/SaveInternal.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include <sys/stat.h>

using namespace saving;

// ---------------------------------------------------------------------------
// Resolution

namespace {

int32_t RoundToInt(double V) {
  if (!(V == V)) return 0;  // NaN from a broken header
  return int32_t(std::lround(std::clamp(V, -2147483648.0, 2147483647.0)));
}

}  // namespace

void ResolutionToDPI(const TResolutionInfo &R, int32_t &X, int32_t &Y) {
  switch (R.ResolutionUnit) {
    case 1: X = RoundToInt(R.XResolution), Y = RoundToInt(R.YResolution); break;
    case 2: X = RoundToInt(R.XResolution * 2.54), Y = RoundToInt(R.YResolution * 2.54); break;
    case 3: X = RoundToInt(R.XResolution * 0.0254), Y = RoundToInt(R.YResolution * 0.0254); break;
    default: X = Y = 1; break;
  }
}

void ResolutionToPPM(const TResolutionInfo &R, int32_t &X, int32_t &Y) {
  switch (R.ResolutionUnit) {
    case 1: X = RoundToInt(R.XResolution / 0.0254), Y = RoundToInt(R.YResolution / 0.0254); break;
    case 2: X = RoundToInt(R.XResolution * 100), Y = RoundToInt(R.YResolution * 100); break;
    case 3: X = RoundToInt(R.XResolution), Y = RoundToInt(R.YResolution); break;
    default: X = Y = 0; break;
  }
}

int32_t DPIToPPM(int32_t DPI) { return int32_t((int64_t(DPI) * 10000 + 127) / 254); }

// ---------------------------------------------------------------------------
// Profiles

namespace {

// The colour space a profile header declares, so that a profile that does
// not describe the pixels (an RGB profile on a gray image) is not embedded.
bool ProfileSuits(const uint8_t *P, uint32_t Len, const TICCImgInfo &Img) {
  if (!P || Len < 128) return false;
  const std::string_view space(reinterpret_cast<const char *>(P) + 16, 4);
  if (Img.PixelFormat == PIXFMT_CMYK) return space == "CMYK";
  if (Img.Channels == 1 || Img.Channels == 2) return space == "GRAY";
  return space == "RGB ";
}

}  // namespace

TICCInfo OutputICCProfile(const TICCImgInfo &Img, const TMetadataOption &Metadata,
                          const TColorManagementOption &ColorManagement) {
  TICCInfo info{nullptr, 0};
  if (!Metadata.KeepICCProfile) return info;
  switch (Img.ProfileType) {
    case PROFILE_DEFAULT_RGB: CMS.GetDefaultRGBProfileData(info); break;
    case PROFILE_WORKSPACE: CMS.GetWorkSpaceProfileData(info); break;
    case PROFILE_DEFAULT_GRAY: CMS.GetDefaultGrayProfileData(info); break;
    case PROFILE_EMBEDDED: info = {Img.ICCProfile, Img.ProfileLen}; break;
    case PROFILE_FROM_EXIF:
      if (ColorManagement.CreateICCProfileFromExif) info = {Img.ICCProfile, Img.ProfileLen};
      break;
    default: break;
  }
  if (!ProfileSuits(info.Profile, info.Len, Img)) info = {nullptr, 0};
  return info;
}

// ---------------------------------------------------------------------------
// Shared steps

namespace saving {

TPixio &Codec() {
  TPixio *p = Pixio();
  if (!p) throw ETessivoError("コーデックライブラリが読み込まれていません");
  ConnectPixioErrorLog();
  return *p;
}

// Savers called without a worker context replace the target.
TCommitRule *CommitRuleOf(const TSaveJob &Job) { return Job.Context ? Job.Context->Commit : nullptr; }

// Detail: what the codec library said about the failure (its capture's text).
[[noreturn]] void SaveFailed(const char *Format, const std::string &FileName, const std::string &Detail) {
  throw ETessivoError(std::string(Format) + "の保存に失敗しました: " + FileName, Detail);
}

// The "16Bit" rule of PNG, TIFF and HD Photo: whether more than 8 bits stay.
bool Keeps16Bit(const TICCImgInfo &Img, int32_t Is16Bit, uint32_t LoadedBitsPerSample) {
  if (Img.BPP == BPP_8) return false;
  if (Is16Bit == 1) return true;
  if (Is16Bit == 2) return LoadedBitsPerSample > 8;
  return false;
}

// 14-bit data goes to 16 bits, 16-bit stays, anything else to 8 (dithered as configured).
void ApplyDepth(TICCImgInfo &Img, bool Keep16) {
  if (Keep16) {
    if (Img.BPP == BPP_14) {
      Convert14To16(Img);
      Img.BPP = BPP_16;
    }
  } else {
    ConvertTo8Bit(Img, true);
  }
}

void FlipRows(TICCImgInfo &Img) {
  std::vector<uint8_t> tmp(Img.Bpl);
  for (uint32_t a = 0, b = Img.Height ? Img.Height - 1 : 0; a < b; ++a, --b) {
    std::memcpy(tmp.data(), ScanLine(Img, a), Img.Bpl);
    std::memcpy(ScanLine(Img, a), ScanLine(Img, b), Img.Bpl);
    std::memcpy(ScanLine(Img, b), tmp.data(), Img.Bpl);
  }
}

TPixioEncode BaseRecord(const TICCImgInfo &Img, const TSaveJob &Job) {
  TPixioEncode e{};
  e.Mem = Img.Mem;
  e.Width = Img.Width;
  e.Height = Img.Height;
  e.Bpl = Img.Bpl;
  e.Channels = Img.Channels;
  e.BitsPerSample = Img.BPP == BPP_8 ? 8 : 16;
  const TICCInfo icc = OutputICCProfile(Img, Job.Context->Formats.Metadata, Job.Context->ColorManagement);
  e.ICCProfile = icc.Profile;
  e.ProfileLen = icc.Len;
  return e;
}

void CheckImage(const TICCImgInfo &Img, const std::string &FileName) {
  if (!Img.Mem || !Img.Width || !Img.Height || !Img.Channels || Img.Channels > 4)
    throw ETessivoError("保存する画像がありません: " + FileName);
  const uint64_t rowBytes = uint64_t(Img.Width) * Img.Channels * (Img.BPP == BPP_8 ? 1 : 2);
  if (Img.Bpl < rowBytes) throw ETessivoError("画像の行幅が不正です: " + FileName);
}

}  // namespace saving

// ---------------------------------------------------------------------------
// Palette search

namespace saving {


// The palette of an 8-bit 1- or 3-channel image and every pixel's index,
// picture unchanged; false when the image has too many colours.
bool CollectPalette(const TICCImgInfo &Img, TPaletteInfo &Palette, std::vector<uint8_t> &Index) {
  Palette = TPaletteInfo{};
  if (!Img.Mem || Img.BPP != BPP_8 || (Img.Channels != 3 && Img.Channels != 1) || !Img.Width || !Img.Height)
    return false;
  const uint32_t limit = Img.Channels == 3 ? 256 : 16;
  // Open addressing over 1024 slots: at most 256 colours are ever stored.
  constexpr uint32_t Slots = 1024;
  std::vector<uint32_t> key(Slots, 0xFFFFFFFFu);
  std::vector<uint8_t> value(Slots, 0);
  Index.assign(size_t(Img.Width) * Img.Height, 0);
  uint32_t count = 0;
  auto lookup = [&](uint32_t c) -> int {
    uint32_t h = (c * 2654435761u) >> 22;
    while (key[h] != 0xFFFFFFFFu) {
      if (key[h] == c) return value[h];
      h = (h + 1) & (Slots - 1);
    }
    if (count == limit) return -1;
    key[h] = c;
    value[h] = uint8_t(count);
    Palette.Colors[count] = Img.Channels == 3 ? c : (c << 16 | c << 8 | c);
    return int(count++);
  };
  uint32_t lastColor = 0xFFFFFFFFu;
  int lastIndex = 0;
  for (uint32_t y = 0; y < Img.Height; ++y) {
    const uint8_t *row = ScanLine(Img, y);
    uint8_t *out = Index.data() + size_t(y) * Img.Width;
    for (uint32_t x = 0; x < Img.Width; ++x) {
      // Stored as 0x00RRGGBB; samples are blue, green, red.
      const uint32_t c = Img.Channels == 3
                             ? (uint32_t(row[3 * x + 2]) << 16 | uint32_t(row[3 * x + 1]) << 8 | row[3 * x])
                             : row[x];
      if (c != lastColor) {
        lastIndex = lookup(c);
        if (lastIndex < 0) {
          Palette = TPaletteInfo{};
          Index.clear();
          return false;
        }
        lastColor = c;
      }
      out[x] = uint8_t(lastIndex);
    }
  }
  Palette.Count = count;
  return true;
}

// Replaces the pixels by the indexes, packed to Palette.Bits.
void PackIndexes(TICCImgInfo &Img, const TPaletteInfo &Palette, const std::vector<uint8_t> &Index) {
  const uint32_t bits = Palette.Bits;
  const uint32_t bpl = uint32_t((uint64_t(Img.Width) * bits + 31) / 32 * 4);
  uint8_t *mem = AllocPixelBlock(bpl, Img.Height);
  for (uint32_t y = 0; y < Img.Height; ++y) {
    const uint8_t *in = Index.data() + size_t(y) * Img.Width;
    uint8_t *out = mem + size_t(y) * bpl;
    if (bits == 8) {
      std::memcpy(out, in, Img.Width);
      continue;
    }
    const uint32_t perByte = 8 / bits;
    for (uint32_t x = 0; x < Img.Width; ++x) out[x / perByte] |= uint8_t(in[x] << (8 - bits * (x % perByte + 1)));
  }
  PageFree(Img.Mem);
  Img.Mem = mem;
  Img.Bpl = bpl;
  Img.Channels = 1;
  Img.PixelFormat = PIXFMT_GRAY;
}

uint32_t PaletteBits(uint32_t Count, bool Keep8Bit) { return Keep8Bit ? 8 : Count <= 2 ? 1 : Count <= 16 ? 4 : 8; }

// The palette as R,G,B triplets for the codec library, Entries long (unused
// entries black).
std::vector<uint8_t> PaletteTriplets(const TPaletteInfo &Palette, uint32_t Entries) {
  std::vector<uint8_t> rgb(size_t(std::max(Entries, Palette.Count)) * 3, 0);
  for (uint32_t k = 0; k < Palette.Count; ++k) {
    rgb[3 * k] = uint8_t(Palette.Colors[k] >> 16);
    rgb[3 * k + 1] = uint8_t(Palette.Colors[k] >> 8);
    rgb[3 * k + 2] = uint8_t(Palette.Colors[k]);
  }
  return rgb;
}

}  // namespace saving

bool BuildPalette(TICCImgInfo &Img, bool Keep8Bit, TPaletteInfo &Palette) {
  std::vector<uint8_t> index;
  if (!CollectPalette(Img, Palette, index)) return false;
  Palette.Bits = PaletteBits(Palette.Count, Keep8Bit);
  PackIndexes(Img, Palette, index);
  return true;
}

// ---------------------------------------------------------------------------
// TIFF and HD Photo

namespace saving {

void ResolutionDoubles(const TSaveJob &Job, double &X, double &Y) {
  const TFormatOptions &Opt = Job.Context->Formats;
  if (Opt.Metadata.KeepResolution) {
    int32_t x, y;
    ResolutionToDPI(Job.RInfo, x, y);
    if (x < 2 || y < 2) x = y = 1;
    X = x, Y = y;
  } else {
    X = Y = Opt.Metadata.Resolution;
  }
}

void PrepareTopDown(TICCImgInfo &Img, const TSaveJob &Job, int32_t EmbedThumbnail, int32_t Is16Bit,
                    TTopDownPlan &Plan) {
  FlipRows(Img);
  if (EmbedThumbnail && Img.Channels != 2) {
    MakeThumbnailImage(Img, *Plan.Thumb, Job.Context->ThumbnailResizer, Job.Context->MT, true);
    const TICCImgInfo &t = *Plan.Thumb;
    Plan.ThumbImage = {t.Mem, t.Width, t.Height, t.Bpl, t.Channels};
    Plan.HasThumb = t.Mem != nullptr;
  }
  ApplyDepth(Img, Keeps16Bit(Img, Is16Bit, Job.LoadedBitsPerSample));
  if (Img.BPP != BPP_8 && Img.Channels >= 3) SwapRedBlue16(Img);
}

void FillTopDownRecord(TPixioEncode &e, const TICCImgInfo &Img, const TSaveJob &Job) {
  const TFormatOptions &Opt = Job.Context->Formats;
  ResolutionDoubles(Job, e.XResolution, e.YResolution);
  if (Opt.JPEG.UpdateExif) e.NewWidth = Img.Width, e.NewHeight = Img.Height;
  e.ResetOrientation = Job.Context->AutoRotation ? 1 : 0;
  e.CopyMakerNote = Opt.Metadata.AlwaysCopyMakerNote ? 1 : 0;
  e.DeleteGPS = Job.Context->DeleteGPSInfoIFD ? 1 : 0;
}

const uint8_t *ExifOf(const TICCImgInfo &Img, const TFormatOptions &Opt) {
  return Img.ExifInfo && Img.ExifLen && Opt.JPEG.AddExifInfo ? Img.ExifInfo : nullptr;
}
uint32_t ExifLenOf(const TICCImgInfo &Img, const TFormatOptions &Opt) { return ExifOf(Img, Opt) ? Img.ExifLen : 0; }

std::vector<uint8_t> ExifPayloadOf(const TICCImgInfo &Img, const TSaveJob &Job) {
  const TFormatOptions &Opt = Job.Context->Formats;
  const TSaveContext &ctx = *Job.Context;
  if (!ExifOf(Img, Opt)) return {};
  TExifSaveOptions opt;
  opt.UpdateSoftwareTag = Opt.Metadata.UpdateSoftwareTag != 0;
  opt.Resolution = uint32_t(std::max(Opt.Metadata.Resolution, 1));
  opt.DeleteGPSInfoIFD = ctx.DeleteGPSInfoIFD;
  opt.UpdateExifThumbnail = Opt.JPEG.UpdateExifThumbnail;
  return GetExifInfo(*Job.Entry, Img.ExifInfo, Img.ExifLen, ctx.AutoRotation, Img, ctx.MT,
                     !Opt.Metadata.KeepResolution && Opt.JPEG.UpdateExifResolution, Opt.JPEG.UpdateExif,
                     ctx.ThumbnailResizer, opt);
}

}  // namespace saving

// ---------------------------------------------------------------------------
// Read-only outputs

TReadOnlyGuard::TReadOnlyGuard(const std::string &FileName) : FFileName(FileName) {
  struct stat st;
  if (::stat(FileName.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
  if (st.st_mode & S_IWUSR) return;
  FMode = uint32_t(st.st_mode & 07777);
  if (::chmod(FileName.c_str(), mode_t(FMode | S_IWUSR)) != 0) throw ETessivoError(ATTRIBUTE_CHANGE_FAILED);
  FReadOnly = true;
}

TReadOnlyGuard::~TReadOnlyGuard() {
  // The save may have replaced the file: the new one gets the remembered mode.
  if (FReadOnly) ::chmod(FFileName.c_str(), mode_t(FMode));
}

// ---------------------------------------------------------------------------
// Dispatch

namespace {

bool WantsIndexed(const TICCImgInfo &Img, int32_t IndexColor, const TSaveJob &Job) {
  return (Img.Channels == 3 && IndexColor) || Job.Context->DecreaseColor ||
         (Job.Context->GrayscaleDecreaseColor && Img.Channels == 1);
}

}  // namespace

void SavePicture(TICCImgInfo &Img, const TImageProbe &Entry, const std::string &OutPutFileName,
                 const TResolutionInfo &RInfo, uint32_t LoadedBitsPerSample, const TSaveContext &Context) {
  const int32_t type = OutputTypeOf(OutPutFileName);
  if (type == OUTPUT_NONE) return;
  CheckImage(Img, OutPutFileName);
  const TFormatOptions &Opt = Context.Formats;
  TSaveJob job;
  job.Entry = &Entry;
  job.RInfo = RInfo;
  job.LoadedBitsPerSample = LoadedBitsPerSample;
  job.Context = &Context;
  TReadOnlyGuard readOnly(OutPutFileName);
  switch (type) {
    case OUTPUT_BMP:
      PrepareBitmap(Img, job);
      if (WantsIndexed(Img, Opt.Bitmap.IndexColor, job) && SaveIndexedBitmapFile(OutPutFileName, Img, job)) break;
      SaveBitmapFile(OutPutFileName, Img, job);
      break;
    case OUTPUT_JPEG:
      if (Opt.JPEG.UseFileSizeLimit) SaveJPEGFileWithSizeLimit(OutPutFileName, Img, job);
      else SaveJPEGFile(OutPutFileName, Img, job, Opt.JPEG.Quality, Opt.JPEG.SampleType, Opt.JPEG.Smoothing);
      break;
    case OUTPUT_PNG: {
      PreparePNG(Img);
      if (WantsIndexed(Img, Opt.PNG.IndexColor, job)) {
        // Indexes are 8-bit: an image that keeps 16 bits is not reduced for them.
        if (!Keeps16Bit(Img, Opt.PNG.Is16Bit, LoadedBitsPerSample)) ConvertTo8Bit(Img, true);
        // A failed palette search leaves the pixels as they were.
        if (Img.BPP == BPP_8 && SaveIndexedPNGFile(OutPutFileName, Img, job)) break;
      }
      SavePNGFile(OutPutFileName, Img, job);
      break;
    }
    case OUTPUT_HDP: SaveHDPFile(OutPutFileName, Img, job); break;
    case OUTPUT_TIFF:
      if (WantsIndexed(Img, Opt.TIFF.IndexColor, job) && SaveIndexedTIFFFile(OutPutFileName, Img, job)) break;
      SaveTIFFFile(OutPutFileName, Img, job);
      break;
    default: break;
  }
}
