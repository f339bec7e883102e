// JPEG XR: maps the decoder's pixel formats onto the read_wic layout
// (8-bit B,G,R(,A), 16-bit R,G,B(,A), CMYK flagged).
#include "JxrDecode.h"
#include "PixioInternal.h"

#include <cstdlib>

namespace pixio {

namespace {
struct JxrOwner {
  JxrImage Img{};
  ~JxrOwner() {
    std::free(Img.Pixels);
    std::free(Img.Profile);
  }
};
}  // namespace

void DecodeJxr(TPixioDecode &Info, std::span<const uint8_t> Data) {
  JxrOwner o;
  char err[256] = "";
  if (JxrDecodeMemory(Data.data(), Data.size(), 1, &o.Img, err, sizeof err) != 0) throw DecodeError(err);
  const JxrImage &j = o.Img;
  uint32_t ch = 3, bits = 8;
  switch (j.Layout) {
    case JXR_GRAY8: ch = 1; break;
    case JXR_GRAY16: ch = 1, bits = 16; break;
    case JXR_BGRA8: case JXR_RGBA8: ch = 4; break;
    case JXR_RGB16: bits = 16; break;
    case JXR_RGBA16: ch = 4, bits = 16; break;
    case JXR_CMYK8: ch = 4; Info.IsCMYK = 1; break;
    case JXR_CMYK16: ch = 4, bits = 16; Info.IsCMYK = 1; break;
    default: break;
  }
  AllocImage(Info, j.Width, j.Height, ch, bits);
  const size_t rowBytes = size_t(j.Width) * ch * (bits / 8);
  for (uint32_t y = 0; y < j.Height; ++y) {
    const uint8_t *s = j.Pixels + size_t(y) * j.Stride;
    uint8_t *d = Row(Info, y, true);
    switch (j.Layout) {
      case JXR_RGB8:
        for (uint32_t x = 0; x < j.Width; ++x) d[x * 3] = s[x * 3 + 2], d[x * 3 + 1] = s[x * 3 + 1], d[x * 3 + 2] = s[x * 3];
        break;
      case JXR_BGRX8:
        for (uint32_t x = 0; x < j.Width; ++x) std::memcpy(d + x * 3, s + x * 4, 3);
        break;
      case JXR_RGBA8:
        for (uint32_t x = 0; x < j.Width; ++x)
          d[x * 4] = s[x * 4 + 2], d[x * 4 + 1] = s[x * 4 + 1], d[x * 4 + 2] = s[x * 4], d[x * 4 + 3] = s[x * 4 + 3];
        break;
      default: std::memcpy(d, s, rowBytes); break;  // already in the output layout
    }
  }
  if (j.Profile) AttachProfile(Info, j.Profile, j.ProfileLen);
  if (j.XResolution > 0 && j.YResolution > 0) {
    Info.XResolution = j.XResolution;
    Info.YResolution = j.YResolution;
    Info.ResolutionUnit = 1;
  }
}

}  // namespace pixio
