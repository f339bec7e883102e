// The Exif auto-rotation and the fixed rotation steps.
#include "effects/RotationFilter.h"

#include "core/IniFile.h"

TOrientationFix OrientationFix(int32_t Orientation) {
  using enum TGeometryOp;
  switch (Orientation) {
    case 2: return {{MirrorLeftRight}, 1};
    case 3: return {{Rotate180}, 1};
    case 4: return {{FlipTopBottom}, 1};
    case 5: return {{Rotate90CCW, FlipTopBottom}, 2};  // a transpose
    case 6: return {{Rotate90CW}, 1};
    case 7: return {{Rotate90CW, FlipTopBottom}, 2};   // a transverse
    case 8: return {{Rotate90CCW}, 1};
  }
  return {};
}

bool OrientationSwapsSides(int32_t Orientation) {
  const TOrientationFix fix = OrientationFix(Orientation);
  return fix.Count > 0 && (fix.Ops[0] == TGeometryOp::Rotate90CW || fix.Ops[0] == TGeometryOp::Rotate90CCW);
}

// ---------------------------------------------------------------------------
// TExifRotationFilter

TExifRotationFilter::TExifRotationFilter() : TEffect(EFFECT_EXIF_ROTATION) {}

void TExifRotationFilter::DoEffect(TICCImgInfo &Img, TEffectParams &Params) const {
  const TOrientationFix fix = OrientationFix(Params.ExifOrientation);
  for (int i = 0; i < fix.Count; ++i) ApplyGeometryOp(Img, fix.Ops[i], Params.MT);
}

bool TExifRotationFilter::IsChange(const TImageProbe &Info) const {
  return FUse && Info.FOrientation > 1 && Info.FOrientation < 9;
}

// ---------------------------------------------------------------------------
// TRotationFilter

TRotationFilter::TRotationFilter() : TEffect(EFFECT_ROTATION) {}

bool TRotationFilter::Applies(int64_t Width, int64_t Height) const {
  if (FType == 1 && Width <= Height) return false;
  if (FType == 2 && Height <= Width) return false;
  return true;
}

void TRotationFilter::DoEffect(TICCImgInfo &Img, TEffectParams &Params) const {
  if (!Applies(Img.Width, Img.Height) || FValue < 0 || FValue > 4) return;
  ApplyGeometryOp(Img, TGeometryOp(FValue), Params.MT);
}

bool TRotationFilter::IsChange(const TImageProbe &Info) const {
  // Without a probed size nothing can be promised: the image is decoded and run.
  if (Info.Width > 0 && Info.Height > 0 && !Applies(Info.Width, Info.Height)) return false;
  return FUse;
}

void TRotationFilter::ReadIniFile(const TMemIniFile &Ini) {
  TEffect::ReadIniFile(Ini);
  FType = Ini.ReadInteger(FSectionName, "Type", 0);
  FValue = Ini.ReadInteger(FSectionName, "Value", 0);
}

void TRotationFilter::WriteIniFile(TMemIniFile &Ini) const {
  TEffect::WriteIniFile(Ini);
  Ini.WriteInteger(FSectionName, "Type", FType);
  Ini.WriteInteger(FSectionName, "Value", FValue);
}
