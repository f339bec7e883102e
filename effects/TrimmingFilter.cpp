// Cropping by size expressions.
#include "effects/TrimmingFilter.h"

#include "core/IniFile.h"
#include "core/PixelConvert.h"

#include <algorithm>
#include <cstring>

TTrimRect TrimmingRect(int32_t Type, const TValueSet &q, int32_t w, int32_t h) {
  TTrimRect r;
  switch (Type) {
    case 0:
      r.L = RoundSize(q[0]), r.T = RoundSize(q[1]);
      r.W = RoundSize(q[2]), r.H = RoundSize(q[3]);
      if (int64_t(r.L) + r.W > w) r.W = w - r.L;
      if (int64_t(r.T) + r.H > h) r.H = h - r.T;
      break;
    case 1:
      r.L = RoundSize(q[0]), r.T = RoundSize(q[1]);
      r.W = int32_t(std::clamp<int64_t>(int64_t(w) - r.L - RoundSize(q[2]), -1, w));
      r.H = int32_t(std::clamp<int64_t>(int64_t(h) - r.T - RoundSize(q[3]), -1, h));
      break;
    case 2:
      r.L = RoundSize(q[0] * w / 100), r.T = RoundSize(q[1] * h / 100);
      r.W = RoundSize((100 - q[2]) * w / 100) - r.L;
      r.H = RoundSize((100 - q[3]) * h / 100) - r.T;
      break;
    case 3: {
      // The largest rectangle of aspect q0 : q1; a ratio without size has none.
      if (!(q[0] > 0 && q[1] > 0)) return {};
      r.W = w, r.H = RoundSize(q[1] * w / q[0]);
      if (h < r.H) r.W = RoundSize(q[0] * h / q[1]), r.H = h;
      // Positions above 100 read as 100, so the rectangle stays inside.
      r.L = RoundSize(double(w - r.W) * std::min(q[2], 100.0) / 100);
      r.T = RoundSize(double(h - r.H) * std::min(q[3], 100.0) / 100);
      break;
    }
    default: return {};
  }
  if (r.L < 0 || r.T < 0 || int64_t(r.L) + r.W > w || int64_t(r.T) + r.H > h) return {};
  return r;
}

TTrimmingFilter::TTrimmingFilter() : TEffect(EFFECT_TRIMMING) {}

void TTrimmingFilter::DoEffect(TICCImgInfo &Img, TEffectParams &) const {
  ConvertTo8Bit(Img, true);
  const int32_t w = int32_t(Img.Width), h = int32_t(Img.Height);
  const TTrimRect r = TrimmingRect(FType, EvaluateValueSet(FValue, FExp, w, h), w, h);
  if (r.W < 1 || r.H < 1) return;
  if (r.W == w && r.H == h) return;
  const uint32_t bpl = GetAlignedBpl(uint32_t(r.W), Img.Channels);
  uint8_t *mem = AllocPixelBlock(bpl, uint32_t(r.H));
  TICCImgInfo out = Img;
  out.Mem = mem, out.Bpl = bpl, out.Width = uint32_t(r.W), out.Height = uint32_t(r.H);
  const size_t bytes = size_t(r.W) * Img.Channels;
  for (int32_t y = 0; y < r.H; ++y)
    std::memcpy(PictureRow(out, uint32_t(y)), PictureRow(Img, uint32_t(r.T + y)) + size_t(r.L) * Img.Channels, bytes);
  PageFree(Img.Mem);
  Img.Mem = mem;
  Img.Bpl = bpl;
  Img.Width = out.Width;
  Img.Height = out.Height;
}

void TTrimmingFilter::ReadIniFile(const TMemIniFile &Ini) {
  TEffect::ReadIniFile(Ini);
  const int32_t type = Ini.ReadInteger(FSectionName, "Type", 1);
  FType = type & 15;
  FExp = type >> 4;
  FPreview = Ini.ReadBool(FSectionName, "Preview", true) ? LongTrue : LongFalse;
  FSizeList = Ini.ReadString(FSectionName, "SizeList", "フリーサイズ");
  const std::vector<std::string> v = SplitValues(Ini.ReadString(FSectionName, "Value", "0,0,0,0,0,0,0,0"));
  if (v.size() == 8) {
    std::copy(v.begin(), v.end(), FValue.begin());
    return;
  }
  // Four values are of the older layout, which "Style" says how to spread.
  const int32_t style = Ini.ReadInteger(FSectionName, "Style", -1);
  if (v.size() == 4 && style >= 0 && style <= 2) {
    const TValueStrings same = {v[0], v[1], v[2], v[3], v[0], v[1], v[2], v[3]};
    const TValueStrings landscapeFirst = {v[0], v[1], v[2], v[3], v[1], v[0], v[3], v[2]};
    const TValueStrings portraitFirst = {v[1], v[0], v[3], v[2], v[0], v[1], v[2], v[3]};
    FValue = style == 0 ? same : style == 1 ? landscapeFirst : portraitFirst;
    return;
  }
  FType = 0;
  FValue.fill("0");
}

void TTrimmingFilter::WriteIniFile(TMemIniFile &Ini) const {
  TEffect::WriteIniFile(Ini);
  Ini.WriteInteger(FSectionName, "Type", FExp * 16 + FType);
  Ini.WriteString(FSectionName, "Value", JoinValues(FValue));
  Ini.WriteBool(FSectionName, "Preview", FPreview != 0);
  Ini.WriteString(FSectionName, "SizeList", FSizeList);
  Ini.DeleteKey(FSectionName, "Style");
}

void TTrimmingFilter::WriteParamToStream(std::vector<uint8_t> &S) const {
  StreamWriteInt32(S, FType);
  for (const std::string &v : FValue) StreamWriteString(S, v);
}
