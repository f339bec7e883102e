// The noise-removal dialog's views.
#include "effects/DenoiseView.h"

#include "core/PixelConvert.h"
#include "core/PixelConvertMT.h"

#include <algorithm>
#include <cmath>
#include <cstring>

const char *const DenoiseViewNames[DENOISE_VIEW_COUNT] = {
    "100%", "200%", "300%", "400%", "Y", "Cb", "Cr",
    "輝度ノイズLv0", "輝度ノイズLv1", "輝度ノイズLv2", "輝度ノイズLv3", "輝度ノイズLv4"};

int32_t DenoiseViewZoom(int32_t View) { return View >= DENOISE_VIEW_100 && View < DENOISE_VIEW_Y ? View + 1 : 1; }

TDenoiseSection DenoiseViewSection(uint32_t Width, uint32_t Height, int32_t View, int32_t CX, int32_t CY,
                                   int32_t Side) {
  TDenoiseSection s;
  const uint32_t side = uint32_t(std::max(Side / DenoiseViewZoom(View), 1));
  s.W = std::min(Width, side);
  s.H = std::min(Height, side);
  auto start = [](int64_t Centre, uint32_t Size, uint32_t Total) {
    return uint32_t(std::clamp<int64_t>(Centre - Size / 2, 0, int64_t(Total) - Size));
  };
  s.X = start(CX, s.W, Width);
  s.Y = start(CY, s.H, Height);
  return s;
}

void CopySection(const TICCImgInfo &Img, const TDenoiseSection &S, TICCImgInfo &Out) {
  Out = TICCImgInfo{};
  Out.Width = S.W, Out.Height = S.H, Out.Channels = Img.Channels, Out.BPP = Img.BPP;
  Out.PixelFormat = Img.PixelFormat, Out.IsGrayAlpha = Img.IsGrayAlpha;
  Out.BGColor = Img.BGColor, Out.hasBGColor = Img.hasBGColor;
  Out.ICCProfile = Img.ICCProfile, Out.ProfileLen = Img.ProfileLen, Out.ProfileType = Img.ProfileType;
  const size_t bytes = Img.BPP == BPP_8 ? 1 : 2;
  Out.Bpl = bytes == 1 ? GetAlignedBpl(S.W, Img.Channels) : GetAlignedBpl16(S.W, Img.Channels);
  Out.Mem = AllocPixelBlock(Out.Bpl, S.H);
  for (uint32_t y = 0; y < S.H; ++y)
    std::memcpy(ScanLine(Out, y), ScanLine(Img, S.Y + y) + size_t(S.X) * Img.Channels * bytes,
                size_t(S.W) * Img.Channels * bytes);
}

namespace {

uint8_t Clamp8(int32_t v) { return uint8_t(std::clamp(v, 0, 255)); }

// Replaces Img's pixels with a new 8-bit gray block of its size filled by Value(x, y).
template <class F>
void ToGray8(TICCImgInfo &Img, F Value) {
  const uint32_t bpl = GetAlignedBpl(Img.Width, 1);
  uint8_t *mem = AllocPixelBlock(bpl, Img.Height);
  for (uint32_t y = 0; y < Img.Height; ++y)
    for (uint32_t x = 0; x < Img.Width; ++x) mem[size_t(y) * bpl + x] = Value(x, y);
  PageFree(Img.Mem);
  Img.Mem = mem, Img.Bpl = bpl, Img.Channels = 1, Img.BPP = BPP_8, Img.PixelFormat = PIXFMT_GRAY;
}

int32_t Sample14(const TICCImgInfo &Img, uint32_t x, uint32_t y, uint32_t c) {
  return reinterpret_cast<const int16_t *>(ScanLine(Img, y))[size_t(x) * Img.Channels + c];
}

}  // namespace

void RenderDenoiseView(TICCImgInfo &Section, const TDenoiseValues &Values, int32_t View, TMultiThread *Pool,
                       TDenoiseIsa Isa) {
  if (Section.Channels != 1 && Section.Channels != 3) {
    ConvertTo8Bit(Section, false);
    return;
  }
  if (Section.BPP == BPP_16) Convert16To14(Section);
  const bool colour = Section.Channels == 3;
  if (View >= DENOISE_VIEW_NOISE0) {
    if (colour) ConvertToYCC14(Section, Pool);
    const TDenoiseLevelNoise noise = DenoiseLevelNoise(Section, Values, Pool, Isa);
    const std::vector<float> &level = noise.Level[size_t(View - DENOISE_VIEW_NOISE0)];
    ToGray8(Section, [&](uint32_t x, uint32_t y) {
      return Clamp8(128 + int32_t(std::lround(level[size_t(y) * Section.Width + x] * DenoiseNoiseGain / 64)));
    });
    return;
  }
  if (colour) ConvertToYCC14(Section, Pool);
  DenoisePass(Section, Values, Pool, Isa);
  if (View < DENOISE_VIEW_Y) {
    if (colour) ConvertFromYCC14(Section, Pool);
    ConvertTo8Bit(Section, false);
    return;
  }
  const uint32_t c = uint32_t(View - DENOISE_VIEW_Y);
  if (!colour) {
    if (c != 0)
      ToGray8(Section, [](uint32_t, uint32_t) { return uint8_t(128); });
    else
      ConvertTo8Bit(Section, false);
    return;
  }
  ToGray8(Section, [&, src = Section](uint32_t x, uint32_t y) {
    const int32_t v = Sample14(src, x, y, c);
    return Clamp8(c == 0 ? (v + 32) >> 6 : (v + 8192) >> 6);
  });
}
