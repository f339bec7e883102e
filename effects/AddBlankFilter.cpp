// Margins, frames and drop shadow.
#include "effects/AddBlankFilter.h"

#include "core/IniFile.h"
#include "color/ICCUtil.h"
#include "core/Errors.h"
#include "core/PixelConvert.h"
#include "core/SizeExpression.h"
#include "effects/MaskBlend.h"
#include "resample/WeightedMean.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace {

// Larger canvases than this fail the file instead of exhausting memory.
constexpr int64_t MaxSide = 1 << 26;
constexpr int64_t MaxBytes = int64_t(1) << 33;

using TSample = std::array<uint8_t, 4>;

// A 0x00BBGGRR colour with its top byte as alpha, as samples of an image with
// c channels: gray (the low byte) with alpha, or blue, green, red, alpha.
TSample AsSamples(uint32_t v, uint32_t c) {
  const uint8_t r = uint8_t(v), g = uint8_t(v >> 8), b = uint8_t(v >> 16), a = uint8_t(v >> 24);
  if (c <= 2) return {r, a, 0, 0};
  return {b, g, r, a};
}

void FillRect(TICCImgInfo &Img, int64_t x0, int64_t y0, int64_t x1, int64_t y1, const TSample &Px) {
  const uint32_t c = Img.Channels;
  x0 = std::max<int64_t>(x0, 0), y0 = std::max<int64_t>(y0, 0);
  x1 = std::min<int64_t>(x1, Img.Width), y1 = std::min<int64_t>(y1, Img.Height);
  for (int64_t y = y0; y < y1; ++y) {
    uint8_t *d = PictureRow(Img, uint32_t(y)) + x0 * c;
    for (int64_t x = x0; x < x1; ++x, d += c) std::memcpy(d, Px.data(), c);
  }
}

// The ring of width Wd just inside the rectangle [x0, x1) x [y0, y1).
void FillRing(TICCImgInfo &Img, int64_t x0, int64_t y0, int64_t x1, int64_t y1, int64_t Wd, const TSample &Px) {
  if (Wd <= 0) return;
  FillRect(Img, x0, y0, x1, y0 + Wd, Px);            // top
  FillRect(Img, x0, y0 + Wd, x0 + Wd, y1 - Wd, Px);  // left
  FillRect(Img, x1 - Wd, y0 + Wd, x1, y1 - Wd, Px);  // right
  FillRect(Img, x0, y1 - Wd, x1, y1, Px);            // bottom
}

int64_t CheckedSide(int64_t v) {
  if (v < 1 || v > MaxSide) throw ETessivoError("余白を加えた画像サイズが大きすぎます");
  return v;
}

}  // namespace

TBlankLayout BlankLayout(const TAddBlankParam &Param, const TValueSet &q, const std::string &P2,
                         const std::string &P3, int32_t w, int32_t h) {
  TBlankLayout r;
  r.F = (Param.UseFrame1 ? std::max(0, Param.Frame1Width) : 0) + (Param.UseFrame2 ? std::max(0, Param.Frame2Width) : 0) +
        (Param.UseFrame3 ? std::max(0, Param.Frame3Width) : 0);
  const int64_t bw = int64_t(w) + 2 * r.F, bh = int64_t(h) + 2 * r.F;
  int64_t W = bw, H = bh, L = 0, T = 0;
  switch (Param.BlankType) {
    case 0: {
      const double q0 = q[0] > 0 && q[1] > 0 ? q[0] : 1, q1 = q[0] > 0 && q[1] > 0 ? q[1] : 1;
      const int64_t a = RoundSize(double(H) * q0 / q1), b = RoundSize(double(W) * q1 / q0);
      if (H < b) H = b;
      else if (W < a) W = a;
      // Positions in percent: "-1" centres, above 100 is 100.
      const double px = P2 == "-1" ? 50 : std::min(q[2], 100.0), py = P3 == "-1" ? 50 : std::min(q[3], 100.0);
      L = RoundSize(double(W - bw) * px / 100);
      T = RoundSize(double(H - bh) * py / 100);
      break;
    }
    case 1:
      W = int64_t(RoundSize(q[0])) + W + RoundSize(q[2]);
      H = int64_t(RoundSize(q[1])) + H + RoundSize(q[3]);
      L = RoundSize(q[0]), T = RoundSize(q[1]);
      break;
    case 2:
      W = W + RoundSize(q[0] * double(W) / 100) + RoundSize(double(W) * q[2] / 100);
      H = H + RoundSize(double(H) * q[1] / 100) + RoundSize(double(H) * q[3] / 100);
      // The offset is a percentage of the image without its frames.
      L = RoundSize(q[0] * w / 100), T = RoundSize(q[1] * h / 100);
      break;
    default: return {w, h, 0, 0, 0};
  }
  r.W = int32_t(CheckedSide(W));
  r.H = int32_t(CheckedSide(H));
  r.L = int32_t(std::clamp<int64_t>(L, 0, W - bw));
  r.T = int32_t(std::clamp<int64_t>(T, 0, H - bh));
  return r;
}

TAddBlankFilter::TAddBlankFilter() : TEffect(EFFECT_ADD_BLANK) {}

void TAddBlankFilter::DoEffect(TICCImgInfo &Img, TEffectParams &Params) const {
  const TAddBlankParam &P = FAddBlankParam;
  ConvertTo8Bit(Img, true);
  const int32_t w = int32_t(Img.Width), h = int32_t(Img.Height);
  const uint32_t c = Img.Channels;
  const size_t first = UsesLandscapeValues(P.ExpType, w, h) ? 0 : 4;
  const TValueSet q = EvaluateValueSet(P.Value, P.ExpType, w, h);
  const TBlankLayout lay = BlankLayout(P, q, P.Value[first + 2], P.Value[first + 3], w, h);
  if (lay.W == w && lay.H == h) return;
  if (int64_t(GetAlignedBpl(uint32_t(lay.W), c)) * lay.H > MaxBytes)
    throw ETessivoError("余白を加えた画像サイズが大きすぎます");

  // Colours in the image's space and sample order.
  TTransForm *cms = Params.ColorTransform;
  const bool converted = cms && cms->InitWork2DestTransform(Img);
  const auto colour = [&](uint32_t v) { return AsSamples(converted ? cms->Work2DestColor(v) : v, c); };
  TSample margin{};
  if (P.ColorType >= 0 && P.ColorType <= 3) {
    const uint32_t y = P.ColorType < 2 ? 0 : uint32_t(h - 1), x = P.ColorType % 2 == 0 ? 0 : uint32_t(w - 1);
    std::memcpy(margin.data(), PictureRow(Img, y) + size_t(x) * c, c);
  } else {
    margin = colour(uint32_t(P.Color));
  }

  TICCImgInfo canvas = Img;
  canvas.Width = uint32_t(lay.W), canvas.Height = uint32_t(lay.H);
  canvas.Bpl = GetAlignedBpl(canvas.Width, c);
  canvas.Mem = AllocPixelBlock(canvas.Bpl, canvas.Height);
  try {
    const int64_t L = lay.L, T = lay.T, F = lay.F, bw = w + 2 * F, bh = h + 2 * F;
    FillRect(canvas, 0, 0, lay.W, T, margin);
    FillRect(canvas, 0, T, L, T + bh, margin);
    FillRect(canvas, L + bw, T, lay.W, T + bh, margin);
    FillRect(canvas, 0, T + bh, lay.W, lay.H, margin);

    if (P.UseDropShadow) {
      if (!Params.GaussianBlur) throw ETessivoError("ぼかし処理が初期化されていません");
      const int64_t G = int64_t(std::ceil(P.ShadowRadius + 0.5));
      TICCImgInfo mask{};
      mask.Width = uint32_t(bw + 2 * G), mask.Height = uint32_t(bh + 2 * G);
      mask.Channels = 1, mask.BPP = BPP_8, mask.PixelFormat = PIXFMT_GRAY;
      mask.Bpl = GetAlignedBpl(mask.Width, 1);
      mask.Mem = AllocPixelBlock(mask.Bpl, mask.Height);
      try {
        FillRect(mask, G, G, G + bw, G + bh, {255, 255, 255, 255});
        Params.GaussianBlur->SetGauusianBlurParam(P.ShadowRadius);
        Params.GaussianBlur->DoGauusianBlur(mask, P.ShadowStr * 64, Params.MT);
        const TSample s = colour(uint32_t(P.ShadowColor));
        BlendColorThroughMask(canvas, mask, int32_t(L + P.ShadowOffsetX - G), int32_t(T + P.ShadowOffsetY - G),
                              s.data(), P.ShadowOpacity);
      } catch (...) {
        FreeICCImgInfo(mask, false);
        throw;
      }
      FreeICCImgInfo(mask, false);
    }

    // Frames are opaque, outermost first, each inside the one before.
    int64_t inset = 0;
    const struct {
      LongBool Use;
      int32_t Color, Width;
    } frames[] = {{P.UseFrame1, P.Frame1Color, P.Frame1Width},
                  {P.UseFrame2, P.Frame2Color, P.Frame2Width},
                  {P.UseFrame3, P.Frame3Color, P.Frame3Width}};
    for (const auto &f : frames) {
      if (!f.Use || f.Width <= 0) continue;
      FillRing(canvas, L + inset, T + inset, L + bw - inset, T + bh - inset, f.Width,
               colour((uint32_t(f.Color) & 0xFFFFFFu) | 0xFF000000u));
      inset += f.Width;
    }

    const size_t bytes = size_t(w) * c;
    for (int32_t y = 0; y < h; ++y)
      std::memcpy(PictureRow(canvas, uint32_t(T + F + y)) + size_t(L + F) * c, PictureRow(Img, uint32_t(y)), bytes);
  } catch (...) {
    PageFree(canvas.Mem);
    throw;
  }
  PageFree(Img.Mem);
  Img.Mem = canvas.Mem;
  Img.Width = canvas.Width;
  Img.Height = canvas.Height;
  Img.Bpl = canvas.Bpl;
}

namespace {

// Whether all eight values evaluate for a 100 x 100 image.
bool AllEvaluate(const TValueStrings &v) {
  try {
    for (const std::string &s : v) EvaluateSizeExpression(SubstituteSizeVariables(s, 100, 100));
    return true;
  } catch (const ETessivoError &) {
    return false;
  }
}

}  // namespace

void TAddBlankFilter::ReadIniFile(const TMemIniFile &Ini) {
  TEffect::ReadIniFile(Ini);
  const std::string &s = FSectionName;
  TAddBlankParam &P = FAddBlankParam;
  const int32_t type = Ini.ReadInteger(s, "BlankType", 1);
  P.BlankType = type & 15;
  P.ExpType = type >> 4;
  P.ColorType = Ini.ReadInteger(s, "ColorType", 4);
  P.Color = Ini.ReadInteger(s, "BlankColor", -1);
  P.UseFrame1 = Ini.ReadBool(s, "UseFrame1", false) ? LongTrue : LongFalse;
  P.Frame1Color = Ini.ReadInteger(s, "Frame1Color", 0);
  P.Frame1Width = Ini.ReadInteger(s, "Frame1Width", 1);
  P.UseFrame2 = Ini.ReadBool(s, "UseFrame2", false) ? LongTrue : LongFalse;
  P.Frame2Color = Ini.ReadInteger(s, "Frame2Color", 16777215);
  P.Frame2Width = Ini.ReadInteger(s, "Frame2Width", 6);
  P.UseFrame3 = Ini.ReadBool(s, "UseFrame3", false) ? LongTrue : LongFalse;
  P.Frame3Color = Ini.ReadInteger(s, "Frame3Color", 0);
  P.Frame3Width = Ini.ReadInteger(s, "Frame3Width", 1);
  P.UseDropShadow = Ini.ReadBool(s, "Shadow", false) ? LongTrue : LongFalse;
  P.ShadowColor = Ini.ReadInteger(s, "ShadowColor", 0);
  P.ShadowOpacity = Ini.ReadInteger(s, "ShadowOpacity", 75);
  P.ShadowRadius = Ini.ReadFloat(s, "ShadowRadius", 4.0);
  P.ShadowStr = Ini.ReadInteger(s, "ShadowStr", 4);
  P.ShadowOffsetX = Ini.ReadInteger(s, "ShadowOffsetX", 4);
  P.ShadowOffsetY = Ini.ReadInteger(s, "ShadowOffsetY", 4);

  // Without "Preview" the section is of the older layout, with one value set
  // for both orientations: six items (sizes, or the ratio in 4 and 5) or eight
  // (sizes in 0 to 3, ratio and positions in 4 to 7).
  const bool older = !Ini.ValueExists(s, "Preview");
  FPreview = Ini.ReadBool(s, "Preview", true) ? LongTrue : LongFalse;
  const std::vector<std::string> v = SplitValues(Ini.ReadString(s, "Value", older ? "0,0,0,0,1,1,50,50" : "0,0,0,0,0,0,0,0"));
  bool fits = true;
  TValueStrings values;
  if (!older && v.size() == 8) {
    std::copy(v.begin(), v.end(), values.begin());
  } else if (older && v.size() == 6 && P.BlankType == 0) {
    values = {v[4], v[5], "-1", "-1", v[4], v[5], "-1", "-1"};
  } else if (older && (v.size() == 6 || v.size() == 8)) {
    const size_t k = P.BlankType == 0 ? 4 : 0;
    values = {v[k], v[k + 1], v[k + 2], v[k + 3], v[k], v[k + 1], v[k + 2], v[k + 3]};
  } else {
    fits = false;
  }
  if (!fits || !AllEvaluate(values)) {
    values.fill("0");
    P.BlankType = 1;
  }
  P.Value = values;
}

void TAddBlankFilter::WriteIniFile(TMemIniFile &Ini) const {
  TEffect::WriteIniFile(Ini);
  const std::string &s = FSectionName;
  const TAddBlankParam &P = FAddBlankParam;
  Ini.WriteInteger(s, "BlankType", P.ExpType * 16 + P.BlankType);
  Ini.WriteInteger(s, "ColorType", P.ColorType);
  Ini.WriteInteger(s, "BlankColor", P.Color);
  Ini.WriteString(s, "Value", JoinValues(P.Value));
  Ini.WriteBool(s, "UseFrame1", P.UseFrame1 != 0);
  Ini.WriteInteger(s, "Frame1Color", P.Frame1Color);
  Ini.WriteInteger(s, "Frame1Width", P.Frame1Width);
  Ini.WriteBool(s, "UseFrame2", P.UseFrame2 != 0);
  Ini.WriteInteger(s, "Frame2Color", P.Frame2Color);
  Ini.WriteInteger(s, "Frame2Width", P.Frame2Width);
  Ini.WriteBool(s, "UseFrame3", P.UseFrame3 != 0);
  Ini.WriteInteger(s, "Frame3Color", P.Frame3Color);
  Ini.WriteInteger(s, "Frame3Width", P.Frame3Width);
  Ini.WriteBool(s, "Shadow", P.UseDropShadow != 0);
  Ini.WriteInteger(s, "ShadowColor", P.ShadowColor);
  Ini.WriteInteger(s, "ShadowOpacity", P.ShadowOpacity);
  Ini.WriteFloat(s, "ShadowRadius", P.ShadowRadius);
  Ini.WriteInteger(s, "ShadowStr", P.ShadowStr);
  Ini.WriteInteger(s, "ShadowOffsetX", P.ShadowOffsetX);
  Ini.WriteInteger(s, "ShadowOffsetY", P.ShadowOffsetY);
  Ini.WriteBool(s, "Preview", FPreview != 0);
}
