// The savers: output type, resolution rules, profile choice, and the BMP,
// JPEG, PNG, TIFF and HD Photo writers with their indexed variants.
#include "io/SavePicture.h"

#include "core/Errors.h"
#include "io/ExifReader.h"
#include "color/ICCUtil.h"
#include "io/ImageProbe.h"
#include "io/JpegSegment.h"
#include "core/PixelConvert.h"
#include "io/Pixio.h"
#include "core/TempFile.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <vector>

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

namespace {

TPixio &Codec() {
  TPixio *p = Pixio();
  if (!p) throw ETessivoError("コーデックライブラリが読み込まれていません");
  ConnectPixioErrorLog();
  return *p;
}

template <class F>
F Entry(F Fn, const char *Name) {
  if (!Fn) throw ETessivoError(std::string("コーデックライブラリに ") + Name + " がありません");
  return Fn;
}

// Savers called without a worker context replace the target.
TCommitRule *CommitRuleOf(const TSaveJob &Job) { return Job.Context ? Job.Context->Commit : nullptr; }

// Detail: what the codec library said about the failure (its capture's text).
[[noreturn]] void SaveFailed(const char *Format, const std::string &FileName, const std::string &Detail = {}) {
  throw ETessivoError(std::string(Format) + "の保存に失敗しました: " + FileName, Detail);
}

bool WantsIndexed(const TICCImgInfo &Img, int32_t IndexColor, const TSaveJob &Job) {
  return (Img.Channels == 3 && IndexColor) || Job.Context->DecreaseColor ||
         (Job.Context->GrayscaleDecreaseColor && Img.Channels == 1);
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

}  // namespace

// ---------------------------------------------------------------------------
// Palette search

namespace {

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

}  // namespace

bool BuildPalette(TICCImgInfo &Img, bool Keep8Bit, TPaletteInfo &Palette) {
  std::vector<uint8_t> index;
  if (!CollectPalette(Img, Palette, index)) return false;
  Palette.Bits = PaletteBits(Palette.Count, Keep8Bit);
  PackIndexes(Img, Palette, index);
  return true;
}

// ---------------------------------------------------------------------------
// BMP

namespace {

void Put16(std::vector<uint8_t> &B, size_t At, uint32_t V) {
  B[At] = uint8_t(V), B[At + 1] = uint8_t(V >> 8);
}
void Put32(std::vector<uint8_t> &B, size_t At, uint32_t V) {
  for (int i = 0; i < 4; ++i) B[At + i] = uint8_t(V >> (8 * i));
}

void BitmapPPM(const TSaveJob &Job, int32_t &X, int32_t &Y) {
  const TFormatOptions &Opt = Job.Context->Formats;
  if (Opt.Metadata.KeepResolution) {
    ResolutionToPPM(Job.RInfo, X, Y);
  } else {
    X = Y = DPIToPPM(Opt.Metadata.Resolution);
  }
}

// File header, info header (40 or 108 bytes), palette and rows in memory order
// (bottom-up), each padded to 4 bytes.
void WriteBitmap(const std::string &FileName, const TICCImgInfo &Img, uint32_t Bits, uint32_t PaletteEntries,
                 const uint32_t *Colors, bool V4, const TSaveJob &Job) {
  const uint32_t headerSize = V4 ? 108 : 40;
  const uint64_t rowBytes = (uint64_t(Img.Width) * Bits + 7) / 8;
  const uint64_t stride = (uint64_t(Img.Width) * Bits + 31) / 32 * 4;
  const uint64_t offBits = 14 + headerSize + uint64_t(PaletteEntries) * 4;
  const uint64_t imageSize = stride * Img.Height;
  if (offBits + imageSize > 0xFFFFFFFFull || Img.Width > 0x7FFFFFFF || Img.Height > 0x7FFFFFFF)
    throw ETessivoError("BMPには大きすぎる画像です: " + FileName);
  std::vector<uint8_t> head(size_t(offBits), 0);
  head[0] = 'B', head[1] = 'M';
  Put32(head, 2, uint32_t(offBits + imageSize));
  Put32(head, 10, uint32_t(offBits));
  Put32(head, 14, headerSize);
  Put32(head, 18, Img.Width);
  Put32(head, 22, Img.Height);  // positive: rows bottom-up
  Put16(head, 26, 1);
  Put16(head, 28, Bits);
  Put32(head, 30, V4 ? 3 : 0);  // BI_BITFIELDS or BI_RGB
  Put32(head, 34, uint32_t(imageSize));
  int32_t ppmX, ppmY;
  BitmapPPM(Job, ppmX, ppmY);
  Put32(head, 38, uint32_t(ppmX));
  Put32(head, 42, uint32_t(ppmY));
  Put32(head, 46, PaletteEntries);
  Put32(head, 50, PaletteEntries);
  if (V4) {
    Put32(head, 54, 0x00FF0000u);  // red
    Put32(head, 58, 0x0000FF00u);  // green
    Put32(head, 62, 0x000000FFu);  // blue
    Put32(head, 66, 0xFF000000u);  // alpha
    head[70] = 'B', head[71] = 'G', head[72] = 'R', head[73] = 's';  // LCS_sRGB
    // 36 bytes of end points stay zero; then the three gamma values.
    Put32(head, 110, 1);
    Put32(head, 114, 1);
    Put32(head, 118, 1);
  }
  for (uint32_t i = 0; i < PaletteEntries; ++i) {
    const uint32_t c = Colors ? Colors[i] : (i << 16 | i << 8 | i);
    Put32(head, 14 + headerSize + 4 * i, c & 0xFFFFFF);  // blue, green, red, 0
  }
  TOutputFile out(FileName, CommitRuleOf(Job));
  out.Write(head);
  std::vector<uint8_t> row(size_t(stride), 0);
  for (uint32_t y = 0; y < Img.Height; ++y) {
    std::memcpy(row.data(), ScanLine(Img, y), size_t(rowBytes));
    out.Write(row);
  }
  out.Commit();
}

void PrepareBitmap(TICCImgInfo &Img, const TSaveJob &Job) {
  const TFormatOptions &Opt = Job.Context->Formats;
  if ((Img.Channels == 2 || Img.Channels == 4) && !Opt.Bitmap.AlphaChannelSupport)
    FlattenAlpha(Img, Job.Context->Formats.Background, BackgroundColorInto(Job.Context->ColorTransform));
  ConvertTo8Bit(Img, true);
  if (Img.Channels == 2) {
    ExpandGrayAlpha(Img);
    Img.IsGrayAlpha = LongTrue;
  }
}

}  // namespace

void SaveBitmapFile(const std::string &FileName, TICCImgInfo &Img, const TSaveJob &Job) {
  const TFormatOptions &Opt = Job.Context->Formats;
  CheckImage(Img, FileName);
  PrepareBitmap(Img, Job);
  switch (Img.Channels) {
    case 1: WriteBitmap(FileName, Img, 8, 256, nullptr, false, Job); break;
    case 3: WriteBitmap(FileName, Img, 24, 0, nullptr, false, Job); break;
    case 4: WriteBitmap(FileName, Img, 32, 0, nullptr, Opt.Bitmap.AlphaBitmapHeaderType == 1, Job); break;
    default: SaveFailed("BMP", FileName);
  }
}

bool SaveIndexedBitmapFile(const std::string &FileName, TICCImgInfo &Img, const TSaveJob &Job) {
  CheckImage(Img, FileName);
  PrepareBitmap(Img, Job);
  TPaletteInfo pal;
  if (!BuildPalette(Img, false, pal)) return false;
  WriteBitmap(FileName, Img, pal.Bits, 1u << pal.Bits, pal.Colors.data(), false, Job);
  return true;
}

// ---------------------------------------------------------------------------
// JPEG

namespace {

void SamplingOf(int32_t SampleType, int32_t &H, int32_t &V) {
  switch (SampleType) {
    case 0: H = 2, V = 2; break;
    case 2: H = 1, V = 1; break;
    case 3: H = 4, V = 1; break;
    default: H = 2, V = 1; break;
  }
}

bool UsableTable(const uint16_t *T) {
  return std::all_of(T, T + 64, [](uint16_t v) { return v >= 1 && v <= 32767; });
}

// The image as the JPEG encoder takes it, the Exif to write and the record
// fields that stay the same across the attempts of a size search.
struct TJPEGPlan {
  const TFormatOptions *Opt = nullptr;
  std::vector<uint8_t> Exif;
  TPixioEncode Base{};
};

TJPEGPlan PrepareJPEG(TICCImgInfo &Img, const TSaveJob &Job) {
  const TFormatOptions &Opt = Job.Context->Formats;
  const TSaveContext &ctx = *Job.Context;
  // JPEG keeps no alpha: it goes onto the background (the loader usually did this already).
  if (Img.Channels == 2 || (Img.Channels == 4 && Img.PixelFormat != PIXFMT_CMYK))
    FlattenAlpha(Img, ctx.Formats.Background, BackgroundColorInto(ctx.ColorTransform));
  TJPEGPlan plan;
  plan.Opt = &Opt;
  if (Img.ExifInfo && Img.ExifLen && Opt.JPEG.AddExifInfo) {
    TExifSaveOptions opt;
    opt.UpdateSoftwareTag = Opt.Metadata.UpdateSoftwareTag != 0;
    opt.Resolution = uint32_t(std::max(Opt.Metadata.Resolution, 1));
    opt.DeleteGPSInfoIFD = ctx.DeleteGPSInfoIFD;
    opt.UpdateExifThumbnail = Opt.JPEG.UpdateExifThumbnail;
    plan.Exif = GetExifInfo(*Job.Entry, Img.ExifInfo, Img.ExifLen, ctx.AutoRotation, Img, ctx.MT,
                            !Opt.Metadata.KeepResolution && Opt.JPEG.UpdateExifResolution, Opt.JPEG.UpdateExif,
                            ctx.ThumbnailResizer, opt);
  }
  if (Img.BPP == BPP_14 && Img.Channels == 3 && GetDitherOption() == DITHER_NONE) {
    ConvertBGR14ToYCC8(Img);
    Img.BPP = BPP_8;
    Img.PixelFormat = PIXFMT_YCC;
  } else {
    ConvertTo8Bit(Img, true);
  }
  TPixioEncode &e = plan.Base;
  e = BaseRecord(Img, Job);
  e.BitsPerSample = 8;
  if (Img.PixelFormat == PIXFMT_YCC) e.Flags |= PIXIO_FLAG_YCBCR_INPUT;
  if (!plan.Exif.empty() && Opt.JPEG.OmitAPP0Marker) e.Flags |= PIXIO_FLAG_OMIT_APP0;
  e.DCTMethod = Opt.JPEG.DCTMethod == 1 ? 2 : 0;
  if (Opt.Metadata.KeepResolution) {
    int32_t x, y;
    ResolutionToDPI(Job.RInfo, x, y);
    if (x > 1 && y > 1 && x <= 65535 && y <= 65535) {
      e.XDensity = uint32_t(x), e.YDensity = uint32_t(y), e.DensityUnit = 1;
    } else {
      e.XDensity = e.YDensity = 1, e.DensityUnit = 0;
    }
  } else {
    const uint32_t dpi = uint32_t(std::clamp(Opt.Metadata.Resolution, 1, 65535));
    e.XDensity = e.YDensity = dpi, e.DensityUnit = 1;
  }
  if (Img.Marker && Img.MarkerCount) {
    e.Marker = Img.Marker;
    e.MarkerCount = Img.MarkerCount;
    e.MarkerSize = uint32_t(ExtraMarkerSize(Img.Marker, Img.MarkerCount));
  }
  e.Progressive = Opt.JPEG.Progressive ? 1 : 0;
  return plan;
}

// The record of one attempt: quality, sampling, smoothing and the tables
// (the source's own when kept, else the registered ones while allowed).
TPixioEncode AttemptRecord(const TJPEGPlan &Plan, const TICCImgInfo &Img, int32_t Quality, int32_t SampleType,
                           int32_t Smoothing, bool AllowTables, bool &UsedTables) {
  const TFormatOptions &Opt = *Plan.Opt;
  TPixioEncode e = Plan.Base;
  e.Quality = std::clamp(Quality, 0, 100);
  SamplingOf(SampleType, e.HSamp, e.VSamp);
  e.Smoothing = std::clamp(Smoothing, 0, 100);
  UsedTables = false;
  if (!AllowTables) return e;
  const uint32_t comps = std::min<uint32_t>(Img.Channels, 3);
  if (Img.HasJPEGQualityInfo) {
    const TJPEGQualityInfo &q = Img.JPEGQualityInfo;
    if (q.QTCount < 1 || q.QTCount > 3) return e;
    for (int t = 0; t < q.QTCount; ++t)
      if (!UsableTable(q.QT[t])) return e;
    for (uint32_t c = 0; c < comps; ++c)
      if (q.CompInfo[c][1] < 0 || q.CompInfo[c][1] >= q.QTCount) return e;
    e.QTCount = q.QTCount;
    e.QTChannels = int32_t(comps);
    for (uint32_t c = 0; c < comps; ++c) e.QTIndex[c] = q.CompInfo[c][1];
    for (int t = 0; t < q.QTCount; ++t)
      for (int k = 0; k < 64; ++k) e.QT[t][k] = q.QT[t][k];
    if (q.HSamp >= 1 && q.HSamp <= 4 && q.VSamp >= 1 && q.VSamp <= 4) e.HSamp = q.HSamp, e.VSamp = q.VSamp;
  } else if (Opt.JPEG.UseQuantizationTable) {
    if (!UsableTable(Opt.JPEG.LumaQT) || (comps > 1 && !UsableTable(Opt.JPEG.ChromaQT))) return e;
    e.QTCount = comps > 1 ? 2 : 1;
    e.QTChannels = int32_t(comps);
    e.QTIndex[0] = 0, e.QTIndex[1] = 1, e.QTIndex[2] = 1;
    for (int k = 0; k < 64; ++k) {
      e.QT[0][k] = Opt.JPEG.LumaQT[k];
      e.QT[1][k] = Opt.JPEG.ChromaQT[k];
    }
  } else {
    return e;
  }
  e.Flags |= PIXIO_FLAG_EXPLICIT_TABLES;
  UsedTables = true;
  return e;
}

const uint8_t *ExifData(const TJPEGPlan &Plan) { return Plan.Exif.empty() ? nullptr : Plan.Exif.data(); }

void WriteJPEGRecord(const std::string &FileName, const TJPEGPlan &Plan, const TPixioEncode &Record,
                     TCommitRule *Rule) {
  auto write = Entry(Codec().write_jpeg, "write_jpeg");
  TOutputFile out(FileName, Rule);
  TLibraryMessageCapture capture;
  if (!write(&Record, out.Fd(), ExifData(Plan), uint32_t(Plan.Exif.size())))
    SaveFailed("JPEG", FileName, capture.Text());
  out.Commit();
}

bool EncodeToMemory(const TJPEGPlan &Plan, const TPixioEncode &Record, uint8_t *Buffer, uint32_t Capacity,
                    uint32_t &Length) {
  auto write = Entry(Codec().write_jpeg_to_memory, "write_jpeg_to_memory");
  Length = Capacity;
  // Not fitting is an answer of the size search, not a failure to report.
  TLibraryMessageCapture capture;
  return write(&Record, Buffer, &Length, ExifData(Plan), uint32_t(Plan.Exif.size())) != 0;
}

}  // namespace

void SaveJPEGFile(const std::string &FileName, TICCImgInfo &Img, const TSaveJob &Job, int32_t Quality,
                  int32_t SampleType, int32_t Smoothing) {
  CheckImage(Img, FileName);
  const TJPEGPlan plan = PrepareJPEG(Img, Job);
  bool tables;
  const TPixioEncode rec = AttemptRecord(plan, Img, Quality, SampleType, Smoothing, true, tables);
  WriteJPEGRecord(FileName, plan, rec, CommitRuleOf(Job));
}

bool SaveJPEGToMemory(TICCImgInfo &Img, const TSaveJob &Job, int32_t Quality, int32_t SampleType, int32_t Smoothing,
                      bool AllowTables, uint8_t *Buffer, uint32_t Capacity, uint32_t &Length) {
  if (!Img.Mem) throw ETessivoError("保存する画像がありません");
  const TJPEGPlan plan = PrepareJPEG(Img, Job);
  bool tables;
  const TPixioEncode rec = AttemptRecord(plan, Img, Quality, SampleType, Smoothing, AllowTables, tables);
  return EncodeToMemory(plan, rec, Buffer, Capacity, Length);
}

void SaveJPEGFileWithSizeLimit(const std::string &FileName, TICCImgInfo &Img, const TSaveJob &Job) {
  const TFormatOptions &Opt = Job.Context->Formats;
  CheckImage(Img, FileName);
  const TSaveContext &ctx = *Job.Context;
  const TJPEGPlan plan = PrepareJPEG(Img, Job);
  const uint32_t capacity = uint32_t(std::clamp<int64_t>(int64_t(Opt.JPEG.FileSizeLimit) * 1024, 1024, 0x7FFFFC00));
  std::vector<uint8_t> buffer(capacity);
  int32_t q = std::clamp(Opt.JPEG.Quality, 0, 100);
  int32_t s = std::clamp(Opt.JPEG.SampleType, 0, 3);
  // A limit outside the four codes would never be met by the sampling steps
  // below and the search would cycle for ever; such a value reads as 4:2:0.
  const int32_t limit = Opt.JPEG.SampleTypeLimit >= 0 && Opt.JPEG.SampleTypeLimit <= 3
                            ? Opt.JPEG.SampleTypeLimit : 0;
  const int32_t qualityLimit = std::clamp(Opt.JPEG.QualityLimit, 0, 100);
  bool allowTables = true;
  for (;;) {
    bool used;
    TPixioEncode rec = AttemptRecord(plan, Img, q, s, Opt.JPEG.Smoothing, allowTables, used);
    uint32_t length = 0;
    const bool fitted = EncodeToMemory(plan, rec, buffer.data(), capacity, length);
    if (ctx.OnJPEGAttempt) ctx.OnJPEGAttempt({q, s, used, true, fitted});
    if (fitted) {
      if (length > capacity) SaveFailed("JPEG", FileName);
      TOutputFile out(FileName, ctx.Commit);
      out.Write({buffer.data(), length});
      out.Commit();
      return;
    }
    if (limit != 3 && s < limit) s = limit;
    if (s == limit) {
      if (qualityLimit >= q) {
        // Nothing fits: the file is written at the lowest quality allowed, over the limit.
        rec = AttemptRecord(plan, Img, q, s, Opt.JPEG.Smoothing, allowTables, used);
        if (ctx.OnJPEGAttempt) ctx.OnJPEGAttempt({q, s, used, false, false});
        WriteJPEGRecord(FileName, plan, rec, CommitRuleOf(Job));
        return;
      }
      --q;
      allowTables = false;
      continue;
    }
    switch (s) {
      case 2: s = 1; break;
      case 1: s = 0; break;
      case 0: s = 3; break;
      default: s = 0; break;
    }
  }
}

// ---------------------------------------------------------------------------
// PNG

namespace {

uint32_t GrayOfColorRef(uint32_t C) {
  const uint32_t r = C & 0xFF, g = (C >> 8) & 0xFF, b = (C >> 16) & 0xFF;
  const uint32_t y = (r * 299 + g * 587 + b * 114 + 500) / 1000;
  return y | y << 8 | y << 16;
}

void FillPNGRecord(TPixioEncode &e, const TICCImgInfo &Img, const TSaveJob &Job, bool Gray) {
  const TFormatOptions &Opt = Job.Context->Formats;
  e.Filter = Opt.PNG.Filter;
  e.CompressLevel = std::clamp(Opt.PNG.CompressLevel, 0, 9);
  if (Opt.PNG.UsebKGDChunk) {
    const uint32_t bg = Img.hasBGColor ? Img.BGColor : Job.Context->Formats.Background;
    e.BGColor = Gray ? GrayOfColorRef(bg) : (bg & 0xFFFFFF);
    e.WriteBGColor = 1;
  }
  if (Opt.PNG.WritepHYsChunk) {
    if (Opt.Metadata.KeepResolution) {
      int32_t x, y;
      ResolutionToPPM(Job.RInfo, x, y);
      if (x > 0 && y > 0) e.PhysX = x, e.PhysY = y, e.PhysUnit = 1;
      else e.PhysX = e.PhysY = 1, e.PhysUnit = 0;
    } else {
      e.PhysX = e.PhysY = DPIToPPM(Opt.Metadata.Resolution);
      e.PhysUnit = 1;
    }
  }
}

// The colour (0x00RRGGBB) of a corner pixel of an 8-bit 1- or 3-channel image.
uint32_t CornerColor(const TICCImgInfo &Img, int32_t Type) {
  const uint32_t x = (Type == 3 || Type == 4) ? Img.Width - 1 : 0;
  const uint32_t y = (Type == 2 || Type == 4) ? Img.Height - 1 : 0;  // picture rows from the top
  const uint8_t *p = PictureRow(Img, y) + size_t(x) * Img.Channels;
  if (Img.Channels == 1) return uint32_t(p[0]) * 0x010101u;
  return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

void WritePNG(const std::string &FileName, const TPixioEncode &Record, const TSaveJob &Job, bool Optimize) {
  auto write = Entry(Codec().write_png, "write_png");
  TOutputFile out(FileName, CommitRuleOf(Job));
  TLibraryMessageCapture capture;
  if (!write(&Record, out.Fd())) SaveFailed("PNG", FileName, capture.Text());
  out.Close();
  if (Optimize) OptimizePNG(out.TempPath(), *Job.Context);
  out.Commit();
}

void PreparePNG(TICCImgInfo &Img) {
  if (Img.IsGrayAlpha && Img.Channels == 4) NarrowToGrayAlpha(Img);
}

}  // namespace

bool SaveIndexedPNGFile(const std::string &FileName, TICCImgInfo &Img, const TSaveJob &Job) {
  const TFormatOptions &Opt = Job.Context->Formats;
  CheckImage(Img, FileName);
  PreparePNG(Img);
  if (Img.BPP != BPP_8 || (Img.Channels != 1 && Img.Channels != 3)) return false;
  // The transparent colour is read before the pixels become indexes.
  const int32_t type = Opt.PNG.TransparentType;
  bool haveTransparent = false;
  uint32_t transparent = 0;
  if (type >= 1 && type <= 4) {
    transparent = CornerColor(Img, type);
    haveTransparent = true;
  } else if (type == 5) {
    uint32_t c = Opt.PNG.TransparentColor & 0xFFFFFF;  // 0x00BBGGRR from the working space
    if (Job.Context->ColorTransform && Job.Context->ColorTransform->InitWork2DestTransform(Img))
      c = Job.Context->ColorTransform->Work2DestColor(c) & 0xFFFFFF;
    transparent = SwapRedBlue(c);
    const uint32_t r = transparent >> 16, g = (transparent >> 8) & 0xFF, b = transparent & 0xFF;
    haveTransparent = Img.Channels == 3 || (r == g && g == b);
  }
  const bool gray = Img.Channels == 1;
  const TPixioEncode base = BaseRecord(Img, Job);
  TPaletteInfo pal;
  if (!BuildPalette(Img, true, pal)) return false;
  bool index0 = false;
  if (haveTransparent) {
    for (uint32_t k = 0; k < pal.Count; ++k) {
      if (pal.Colors[k] != transparent) continue;
      if (k != 0) {
        std::swap(pal.Colors[0], pal.Colors[k]);
        for (uint32_t y = 0; y < Img.Height; ++y) {
          uint8_t *row = ScanLine(Img, y);
          for (uint32_t x = 0; x < Img.Width; ++x)
            row[x] = row[x] == 0 ? uint8_t(k) : row[x] == k ? 0 : row[x];
        }
      }
      index0 = true;
      break;
    }
  }
  std::vector<uint8_t> rgb = PaletteTriplets(pal, pal.Count);
  TPixioEncode e = base;
  e.Mem = Img.Mem, e.Bpl = Img.Bpl, e.Channels = 1, e.BitsPerSample = 8;
  // A palette image holds RGB entries, so only an RGB profile fits it.
  if (gray) e.ICCProfile = nullptr, e.ProfileLen = 0;
  FillPNGRecord(e, Img, Job, false);
  e.Palette = rgb.data();
  e.PaletteCount = int32_t(pal.Count);
  e.TransparentIndex0 = index0 ? 1 : 0;
  e.SmallPalette = pal.Count <= 16 ? 1 : 0;
  // Palette images are not filtered.
  e.Filter = 8;
  e.CompressLevel = Opt.PNG.UsePNGOUT ? 1 : std::clamp(Opt.PNG.CompressLevel, 0, 9);
  WritePNG(FileName, e, Job, Opt.PNG.UsePNGOUT != 0);
  return true;
}

void SavePNGFile(const std::string &FileName, TICCImgInfo &Img, const TSaveJob &Job) {
  const TFormatOptions &Opt = Job.Context->Formats;
  CheckImage(Img, FileName);
  PreparePNG(Img);
  ApplyDepth(Img, Keeps16Bit(Img, Opt.PNG.Is16Bit, Job.LoadedBitsPerSample));
  TPixioEncode e = BaseRecord(Img, Job);
  FillPNGRecord(e, Img, Job, Img.Channels <= 2);
  const bool optimize = Opt.PNG.UsePNGOUT && (Img.Channels == 1 || Opt.PNG.FullColorOptimization);
  if (optimize) e.Filter = 8, e.CompressLevel = 1;
  WritePNG(FileName, e, Job, optimize);
}

// ---------------------------------------------------------------------------
// TIFF and HD Photo

namespace {

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

// Flip, thumbnail, Exif update fields, depth and resolution: what both formats share.
struct TTopDownPlan {
  TICCImgOwner Thumb;
  bool HasThumb = false;
  TPixioImage ThumbImage{};
};

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

int32_t TIFFCompression(const TFormatOptions &Opt) {
  switch (Opt.TIFF.CompressionMethod) {
    case 1: return 4;
    case 2: return 6;
    case 3: return 7;
    default: return 1;
  }
}

void WriteTIFF(const std::string &FileName, const TPixioEncode &Record, const TPixioImage *Thumb,
               const uint8_t *Exif, uint32_t ExifLen, bool UpdateSoftwareTag, TCommitRule *Rule) {
  auto write = Entry(Codec().write_tiff, "write_tiff");
  TOutputFile out(FileName, Rule);
  out.Close();
  TLibraryMessageCapture capture;
  if (!write(&Record, Thumb, out.TempPath().c_str(), Exif, ExifLen, UpdateSoftwareTag ? 1 : 0))
    SaveFailed("TIFF", FileName, capture.Text());
  out.Commit();
}

}  // namespace

void SaveTIFFFile(const std::string &FileName, TICCImgInfo &Img, const TSaveJob &Job) {
  const TFormatOptions &Opt = Job.Context->Formats;
  CheckImage(Img, FileName);
  TTopDownPlan plan;
  PrepareTopDown(Img, Job, Opt.TIFF.EmbedThumbnail, Opt.TIFF.Is16Bit, plan);
  TPixioEncode e = BaseRecord(Img, Job);
  FillTopDownRecord(e, Img, Job);
  e.Compression = TIFFCompression(Opt);
  WriteTIFF(FileName, e, plan.HasThumb ? &plan.ThumbImage : nullptr, ExifOf(Img, Opt), ExifLenOf(Img, Opt),
            Opt.Metadata.UpdateSoftwareTag != 0, CommitRuleOf(Job));
}

bool SaveIndexedTIFFFile(const std::string &FileName, TICCImgInfo &Img, const TSaveJob &Job) {
  const TFormatOptions &Opt = Job.Context->Formats;
  CheckImage(Img, FileName);
  if (Img.BPP != BPP_8) {
    // Indexes are 8-bit: an image that keeps 16 bits is written by the plain variant.
    if (Keeps16Bit(Img, Opt.TIFF.Is16Bit, Job.LoadedBitsPerSample)) return false;
    ConvertTo8Bit(Img, true);
  }
  TPaletteInfo pal;
  std::vector<uint8_t> index;
  if (!CollectPalette(Img, pal, index)) return false;
  pal.Bits = PaletteBits(pal.Count, false);
  const bool gray = Img.Channels == 1;
  TTopDownPlan plan;
  if (Opt.TIFF.EmbedThumbnail) {
    // The thumbnail comes from the colour pixels, before they become indexes.
    TICCImgOwner flipped;
    CopyICCImgInfo(Img, *flipped, false);
    FlipRows(*flipped);
    MakeThumbnailImage(*flipped, *plan.Thumb, Job.Context->ThumbnailResizer, Job.Context->MT, true);
    const TICCImgInfo &t = *plan.Thumb;
    plan.ThumbImage = {t.Mem, t.Width, t.Height, t.Bpl, t.Channels};
    plan.HasThumb = t.Mem != nullptr;
  }
  const TPixioEncode base = BaseRecord(Img, Job);
  PackIndexes(Img, pal, index);
  FlipRows(Img);
  const uint32_t entries = 1u << pal.Bits;
  std::vector<uint8_t> rgb = PaletteTriplets(pal, entries);
  TPixioEncode e = base;
  e.Mem = Img.Mem, e.Bpl = Img.Bpl, e.Channels = 1, e.BitsPerSample = pal.Bits;
  // An indexed file holds RGB entries, so only an RGB profile fits it.
  if (gray) e.ICCProfile = nullptr, e.ProfileLen = 0;
  FillTopDownRecord(e, Img, Job);
  e.Compression = TIFFCompression(Opt);
  e.Palette = rgb.data();
  e.PaletteCount = int32_t(entries);
  WriteTIFF(FileName, e, plan.HasThumb ? &plan.ThumbImage : nullptr, ExifOf(Img, Opt), ExifLenOf(Img, Opt),
            Opt.Metadata.UpdateSoftwareTag != 0, CommitRuleOf(Job));
  return true;
}

void SaveHDPFile(const std::string &FileName, TICCImgInfo &Img, const TSaveJob &Job) {
  const TFormatOptions &Opt = Job.Context->Formats;
  CheckImage(Img, FileName);
  TTopDownPlan plan;
  PrepareTopDown(Img, Job, Opt.HDP.EmbedThumbnail, Opt.HDP.Is16Bit, plan);
  TPixioEncode e = BaseRecord(Img, Job);
  FillTopDownRecord(e, Img, Job);
  e.Quality = Opt.HDP.Quality;
  if (Opt.HDP.UseCodecOptions) {
    e.Overlap = Opt.HDP.Overlap;
    e.Subsampling = Opt.HDP.Subsampling;
    e.HorizontalTileSlices = Opt.HDP.HorizontalTileSlices;
    e.VerticalTileSlices = Opt.HDP.VerticalTileSlices;
    e.InterleavedAlpha = Opt.HDP.InterleavedAlpha;
    e.AlphaQuality = Opt.HDP.AlphaQuality;
  } else {
    e.Overlap = Opt.HDP.Quality == 1 ? 0 : (Opt.HDP.Quality <= 64 || Img.BPP != BPP_8) ? 1 : 2;
    e.Subsampling = 3;
    e.HorizontalTileSlices = 1;
    e.VerticalTileSlices = 1;
    e.InterleavedAlpha = 1;
    e.AlphaQuality = Opt.HDP.Quality;
  }
  auto write = Entry(Codec().write_hdp, "write_hdp");
  TOutputFile out(FileName, CommitRuleOf(Job));
  out.Close();
  TLibraryMessageCapture capture;
  if (!write(&e, plan.HasThumb ? &plan.ThumbImage : nullptr, out.TempPath().c_str(), ExifOf(Img, Opt), ExifLenOf(Img, Opt),
             Opt.Metadata.UpdateSoftwareTag ? 1 : 0))
    SaveFailed("JPEG XR", FileName, capture.Text());
  out.Commit();
}

void SaveTIFFForTool(const std::string &FileName, TICCImgInfo &Img, const TMetadataOption &Metadata) {
  CheckImage(Img, FileName);
  if (Img.BPP == BPP_14) {
    Convert14To16(Img);
    Img.BPP = BPP_16;
  }
  if (Img.BPP == BPP_16 && Img.Channels >= 3) SwapRedBlue16(Img);
  TPixioEncode e{};
  e.Mem = Img.Mem, e.Width = Img.Width, e.Height = Img.Height, e.Bpl = Img.Bpl, e.Channels = Img.Channels;
  e.BitsPerSample = Img.BPP == BPP_8 ? 8 : 16;
  e.Compression = 1;
  e.XResolution = e.YResolution = Metadata.Resolution;
  WriteTIFF(FileName, e, nullptr, nullptr, 0, Metadata.UpdateSoftwareTag != 0, nullptr);
}

// ---------------------------------------------------------------------------
// Dispatch

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
