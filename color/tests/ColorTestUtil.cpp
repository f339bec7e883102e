#include "color/tests/ColorTestUtil.h"

#include <cstring>
#include <fstream>
#include <iterator>

std::string IccPath(const char *Name) { return std::string(TESSIVO_ICC_DIR) + "/" + Name; }

std::vector<uint8_t> FileBytes(const std::string &Path) {
  std::ifstream In(Path, std::ios::binary);
  return {std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
}

TTestImage::TTestImage(uint32_t Width, uint32_t Height, uint32_t Channels, uint32_t BPP,
                       uint32_t PixelFormat) {
  Img.Width = Width;
  Img.Height = Height;
  Img.Channels = Channels;
  Img.BPP = BPP;
  Img.Bpl = BPP == BPP_8 ? GetAlignedBpl(Width, Channels) : GetAlignedBpl16(Width, Channels);
  Img.Mem = AllocPixelBlock(Img.Bpl, Height);
  static const uint32_t Formats[] = {0, PIXFMT_GRAY, PIXFMT_GRAYALPHA, PIXFMT_BGR, PIXFMT_BGRA};
  Img.PixelFormat = PixelFormat ? PixelFormat : Formats[Channels];
}

void TTestImage::Embed(const std::vector<uint8_t> &Bytes, uint32_t Type) {
  Img.ICCProfile = static_cast<uint8_t *>(PageAlloc(Bytes.size()));
  std::memcpy(Img.ICCProfile, Bytes.data(), Bytes.size());
  Img.ProfileLen = uint32_t(Bytes.size());
  Img.ProfileType = Type;
}

void TTestImage::FillRandom(uint32_t Seed) {
  std::mt19937 Rng(Seed);
  for (uint32_t Y = 0; Y < Img.Height; ++Y) {
    if (Img.BPP == BPP_8) {
      uint8_t *Row = ScanLine(Img, Y);
      for (size_t I = 0; I < size_t(Img.Width) * Img.Channels; ++I) Row[I] = uint8_t(Rng());
    } else {
      auto *Row = reinterpret_cast<uint16_t *>(ScanLine(Img, Y));
      const uint32_t Max = Img.BPP == BPP_14 ? FULL_SCALE_14 + 1 : 65536;
      for (size_t I = 0; I < size_t(Img.Width) * Img.Channels; ++I) Row[I] = uint16_t(Rng() % Max);
    }
  }
}

std::vector<uint8_t> TTestImage::Pixels() const {
  const size_t RowBytes = size_t(Img.Width) * Img.Channels * (Img.BPP == BPP_8 ? 1 : 2);
  std::vector<uint8_t> Out;
  for (uint32_t Y = 0; Y < Img.Height; ++Y) {
    const uint8_t *Row = ScanLine(Img, Y);
    Out.insert(Out.end(), Row, Row + RowBytes);
  }
  return Out;
}

void InitCMS(bool Enabled, const std::string &WorkSpace, const std::string &RGB,
             const std::string &Gray) {
  TColorManagementOption Opt;
  Opt.Enabled = Enabled ? LongTrue : LongFalse;
  Opt.WorkSpaceProfile = WorkSpace;
  Opt.RGBProfile = RGB;
  Opt.GrayscaleProfile = Gray;
  CMS.InitProfile(Opt);
}
