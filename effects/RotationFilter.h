// The two rotation steps of the chain: the automatic one, which brings the
// picture upright by the Exif orientation of the source, and the fixed
// rotation or mirroring the user picks, optionally only for landscape or
// only for portrait images.
#pragma once

#include "effects/Effect.h"
#include "effects/Geometry.h"

#include <cstdint>

// The operations, in order, that undo an Exif orientation; none for 1 and
// for values outside 1 to 8.
struct TOrientationFix {
  TGeometryOp Ops[2];
  int Count = 0;
};
TOrientationFix OrientationFix(int32_t Orientation);
// Whether the fix of the orientation turns the picture by a quarter (5 to 8).
bool OrientationSwapsSides(int32_t Orientation);

class TExifRotationFilter : public TEffect {
public:
  TExifRotationFilter();

  // Turns the image by Params.ExifOrientation; the savers then write
  // orientation 1, since the list's FExifRotationUse tells them it ran.
  void DoEffect(TICCImgInfo &Img, TEffectParams &Params) const override;
  // On, and the entry's orientation is 2 to 8.
  bool IsChange(const TImageProbe &Info) const override;
};

class TRotationFilter : public TEffect {
public:
  TRotationFilter();

  void DoEffect(TICCImgInfo &Img, TEffectParams &Params) const override;
  // The landscape/portrait condition on the stored size, then Use.
  bool IsChange(const TImageProbe &Info) const override;
  void ReadIniFile(const TMemIniFile &Ini) override;
  void WriteIniFile(TMemIniFile &Ini) const override;

  // Which images: 0 all, 1 landscape only (width > height), 2 portrait only.
  int32_t FType = 0;
  // The operation, the index of the list "90度回転", "180度回転", "270度回転",
  // "左右反転", "上下反転" (TGeometryOp); values above 4 do nothing.
  int32_t FValue = 0;

private:
  bool Applies(int64_t Width, int64_t Height) const;
};
