// The image composite.
#include "effects/CompositeEffect.h"

#include "color/ICCUtil.h"
#include "core/Errors.h"
#include "core/IniFile.h"
#include "core/PixelConvert.h"
#include "effects/AddTextEffect.h"
#include "io/ImageProbe.h"
#include "io/LoadPicture.h"

#include <algorithm>
#include <exception>
#include <filesystem>

namespace {

bool HasAlphaChannel(const TICCImgInfo &I) {
  return I.Channels == 2 || (I.Channels == 4 && I.PixelFormat == PIXFMT_BGRA);
}

}  // namespace

void CompositeOver(TICCImgInfo &D, const TICCImgInfo &S, int32_t X, int32_t Y, int32_t Opacity) {
  if (D.BPP != BPP_8 || S.BPP != BPP_8) throw ETessivoError("画像合成は 8 ビットの画像だけを扱えます");
  const int32_t o = std::clamp(Opacity, 0, 100);
  const uint32_t dc = D.Channels, sc = S.Channels;
  const bool sAlpha = HasAlphaChannel(S), dAlpha = HasAlphaChannel(D);
  const uint32_t sColours = sAlpha ? sc - 1 : sc, dColours = dAlpha ? dc - 1 : dc;
  const int32_t opaque = o * 255 / 100, scaled = o * 256 / 100;
  const int64_t x0 = std::max<int64_t>(0, X), x1 = std::min<int64_t>(D.Width, int64_t(X) + S.Width);
  const int64_t y0 = std::max<int64_t>(0, Y), y1 = std::min<int64_t>(D.Height, int64_t(Y) + S.Height);
  for (int64_t y = y0; y < y1; ++y) {
    uint8_t *d = PictureRow(D, uint32_t(y)) + x0 * dc;
    const uint8_t *s = PictureRow(S, uint32_t(y - Y)) + (x0 - X) * sc;
    for (int64_t x = x0; x < x1; ++x, d += dc, s += sc) {
      const int32_t a = sAlpha ? (scaled * s[sc - 1]) >> 8 : opaque;
      // A colour destination takes gray sources in every channel; a gray one the first sample.
      const auto src = [&](uint32_t i) { return int32_t(s[sColours >= 3 && dColours >= 3 ? i : 0]); };
      if (!dAlpha) {
        for (uint32_t i = 0; i < dc; ++i) d[i] = uint8_t(((a * src(i) + (255 - a) * d[i] + 127) * 257) >> 16);
        continue;
      }
      if (a == 0) continue;
      if (a == 255) {
        for (uint32_t i = 0; i < dColours; ++i) d[i] = uint8_t(src(i));
        d[dc - 1] = 255;
        continue;
      }
      const int32_t t = (d[dc - 1] * (255 - a) * 257) >> 16;
      const int32_t sum = a + t;
      for (uint32_t i = 0; i < dColours; ++i) d[i] = uint8_t((t * d[i] + a * src(i) + sum / 2) / sum);
      d[dc - 1] = uint8_t(sum);
    }
  }
}

TCompositeEffect::TCompositeEffect() : TEffect(EFFECT_COMPOSITE) {}

TICCImgOwner LoadCompositeImage(const std::string &FileName) {
  TImageProbe entry;
  // The probe raises its reason instead of logging it, so the file has one line.
  if (!QuickProbeFile(FileName, entry) || !EnsureProbed(entry, TProbeErrors::Raise))
    throw ETessivoError("画像ファイルではありません");
  TTransForm transform;
  TICCImgOwner img;
  // Alpha is kept: the overlay's transparent parts must stay transparent.
  LoadPicture(entry, *img, TScale{}, false, false, &transform, false, OUTPUT_PNG, TFormatOptions{},
              TColorManagementOption{});
  ConvertTo8Bit(*img, true);
  return img;
}

void TCompositeEffect::LoadExternalImage() {
  std::error_code ec;
  if (FImageFileName.empty() || !std::filesystem::is_regular_file(FImageFileName, ec)) return;
  FExternalImg.Release();
  try {
    FExternalImg = LoadCompositeImage(FImageFileName);
  } catch (const std::exception &E) {
    // Read once per run, so the message comes once, not with every file.
    PutLoadError(FImageFileName + ": " + FName + ": " + E.what());
  }
}

void CompositeImages(TICCImgInfo &Img, const TICCImgInfo &Overlay, const TCompositeSettings &S, TEffectParams &Params) {
  ConvertTo8Bit(Img, true);
  TICCImgOwner copy;
  CopyICCImgInfo(Overlay, *copy, false);
  if (TTransForm *cms = Params.ColorTransform) {
    if (cms->InitSrcToDestTransform(Overlay, Img)) cms->DoTransform(*copy);
    cms->ResetTransform();
  }
  const TICCImgInfo &C = *copy;
  int32_t x, y;
  if (S.Mode == COMPOSITE_BACKGROUND) {
    AnchorPosition(S.BasePos, int32_t(C.Width), int32_t(C.Height), int32_t(Img.Width), int32_t(Img.Height), S.OffsetX,
                   S.OffsetY, x, y);
    CompositeOver(*copy, Img, x, y, S.Opacity);
    // The result is the loaded image's pixels, size and layout, in the picture's profile.
    PageFree(Img.Mem);
    Img.Mem = copy->Mem;
    Img.Width = C.Width, Img.Height = C.Height, Img.Bpl = C.Bpl;
    Img.Channels = C.Channels, Img.PixelFormat = C.PixelFormat, Img.IsGrayAlpha = C.IsGrayAlpha;
    copy->Mem = nullptr;
    return;
  }
  AnchorPosition(S.BasePos, int32_t(Img.Width), int32_t(Img.Height), int32_t(C.Width), int32_t(C.Height), S.OffsetX,
                 S.OffsetY, x, y);
  CompositeOver(Img, C, x, y, S.Opacity);
}

void TCompositeEffect::DoEffect(TICCImgInfo &Img, TEffectParams &Params) const {
  if (!FExternalImg->Mem) return;
  CompositeImages(Img, *FExternalImg, TCompositeSettings{FMode, FBasePos, FOffsetX, FOffsetY, FOpacity}, Params);
}

void TCompositeEffect::ReadIniFile(const TMemIniFile &Ini) {
  TEffect::ReadIniFile(Ini);
  const std::string &s = FSectionName;
  FMode = Ini.ReadInteger(s, "Mode", 0);
  FImageFileName = Ini.ReadString(s, "ImageFileName", "");
  FBasePos = Ini.ReadInteger(s, "BasePos", 8);
  FOffsetX = Ini.ReadInteger(s, "OffsetX", 0);
  FOffsetY = Ini.ReadInteger(s, "OffsetY", 0);
  FOpacity = Ini.ReadInteger(s, "Opacity", 100);
}

void TCompositeEffect::WriteIniFile(TMemIniFile &Ini) const {
  TEffect::WriteIniFile(Ini);
  const std::string &s = FSectionName;
  Ini.WriteInteger(s, "Mode", FMode);
  Ini.WriteString(s, "ImageFileName", FImageFileName);
  Ini.WriteInteger(s, "BasePos", FBasePos);
  Ini.WriteInteger(s, "OffsetX", FOffsetX);
  Ini.WriteInteger(s, "OffsetY", FOffsetY);
  Ini.WriteInteger(s, "Opacity", FOpacity);
}
