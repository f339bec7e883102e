// The image composite: an image file laid over the picture (mode 0), or the
// picture laid over the image file (mode 1), at one of nine anchors with an
// opacity, the file's alpha respected. The file is read once per run.
#pragma once

#include "effects/Effect.h"

#include <cstdint>
#include <string>

// Mode 0 "前景画像": the file over the picture; mode 1 "背景画像": the picture over the file.
enum : int32_t {
  COMPOSITE_FOREGROUND = 0,
  COMPOSITE_BACKGROUND = 1,
};

// Lays the 8-bit S over the 8-bit D with its top-left corner at the picture
// position (X, Y) of D, clipped to D, with Opacity in percent; an alpha
// channel of S weighs each pixel, a D with alpha is composited "over".
void CompositeOver(TICCImgInfo &D, const TICCImgInfo &S, int32_t X, int32_t Y, int32_t Opacity);

// How the overlay and the picture are laid together (the effect's settings).
struct TCompositeSettings {
  int32_t Mode = COMPOSITE_FOREGROUND;
  int32_t BasePos = 8;
  int32_t OffsetX = 0, OffsetY = 0;
  int32_t Opacity = 100;
};
// The effect's work on Img with an overlay image (8-bit, with its profile):
// brought into the picture's profile, laid over it (mode 0) or under it
// (mode 1, the result taking the overlay's size).
void CompositeImages(TICCImgInfo &Img, const TICCImgInfo &Overlay, const TCompositeSettings &S, TEffectParams &Params);

// Reads an overlay image as the effect holds it: 8-bit, alpha kept, with its
// profile. Raises the reason when the file cannot be read.
TICCImgOwner LoadCompositeImage(const std::string &FileName);

class TCompositeEffect : public TEffect {
public:
  TCompositeEffect();

  // Nothing when no image is loaded; otherwise the loaded image, brought
  // into the picture's profile, is laid over it (mode 0) or under it (mode 1,
  // the result taking the loaded image's size).
  void DoEffect(TICCImgInfo &Img, TEffectParams &Params) const override;
  void ReadIniFile(const TMemIniFile &Ini) override;
  void WriteIniFile(TMemIniFile &Ini) const override;
  // Reads FImageFileName into FExternalImg when the file exists (an image
  // loaded before is replaced); a missing file keeps what was loaded. A
  // file that cannot be read is logged once, and nothing is laid over.
  void LoadExternalImage() override;

  int32_t FMode = COMPOSITE_FOREGROUND;
  std::string FImageFileName;
  int32_t FBasePos = 8;
  int32_t FOffsetX = 0, FOffsetY = 0;
  int32_t FOpacity = 100;  // percent
  TICCImgOwner FExternalImg;  // 8-bit, with its profile
};
