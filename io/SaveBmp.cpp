// The BMP writer and its indexed variant: 8-bit gray with a gray palette,
// 24-bit colour, 32-bit colour with alpha (40- or 108-byte header) and
// palettes of 1, 4 or 8 bits, rows bottom-up as they are in memory.
#include "io/SavePicture.h"

#include "color/ICCUtil.h"
#include "core/PixelConvert.h"
#include "core/TempFile.h"
#include "io/SaveInternal.h"

#include <cstring>
#include <vector>

using namespace saving;

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

}  // namespace

namespace saving {

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

}  // namespace saving

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
