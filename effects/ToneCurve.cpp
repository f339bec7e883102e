// Tone curve: control-point parsing, the Bézier construction and its sampled
// evaluation, the composed table sets, and the effect with its presets.
#include "effects/ToneCurve.h"

#include "core/Errors.h"
#include "core/IniFile.h"
#include "core/PixelConvertMT.h"
#include "effects/Presets.h"
#include "effects/RunSettings.h"
#include "effects/ToneTable.h"

#include <algorithm>
#include <charconv>
#include <cmath>

const char *const CurveKeys[CURVE_COUNT] = {"RGB", "Red", "Green", "Blue", "Luma", "Chroma"};

const char *DefaultCurveText(int32_t Curve) { return Curve == CURVE_CHROMA ? "0,0,128,128,255,255" : "0,0,255,255"; }

TCurveSet DefaultCurves() {
  TCurveSet s;
  for (int32_t c = 0; c < CURVE_COUNT; ++c) s[size_t(c)] = *ParseCurve(DefaultCurveText(c));
  return s;
}

std::optional<TCurvePoints> ParseCurve(std::string_view Text) {
  std::vector<int32_t> items;
  size_t pos = 0;
  while (true) {
    const size_t comma = Text.find(',', pos);
    std::string_view item = Text.substr(pos, comma == std::string_view::npos ? std::string_view::npos : comma - pos);
    while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
    while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
    int32_t v = 0;
    const auto [end, ec] = std::from_chars(item.data(), item.data() + item.size(), v);
    if (item.empty() || ec != std::errc() || end != item.data() + item.size() || v < 0 || v > 255) return std::nullopt;
    items.push_back(v);
    if (comma == std::string_view::npos) break;
    pos = comma + 1;
  }
  if (items.empty() || items.size() % 2) return std::nullopt;
  TCurvePoints p;
  for (size_t i = 0; i < items.size(); i += 2) {
    if (!p.empty() && items[i] <= p.back().X) return std::nullopt;
    p.push_back({items[i], items[i + 1]});
  }
  return p;
}

std::string CurveText(const TCurvePoints &Points) {
  std::string s;
  for (const TCurvePoint &p : Points) {
    if (!s.empty()) s += ',';
    s += std::to_string(p.X) + ',' + std::to_string(p.Y);
  }
  return s;
}

// ---------------------------------------------------------------------------
// Evaluation

TCurveEvaluator::TCurveEvaluator(const TCurvePoints &Points) : FPoints(Points) {
  const size_t n = FPoints.size();
  if (n < 2) return;
  // P[0] and P[n+1] repeat the end points, so the end tangents point along the first and last chords.
  auto P = [&](ptrdiff_t k) -> const TCurvePoint & { return FPoints[size_t(std::clamp<ptrdiff_t>(k - 1, 0, ptrdiff_t(n) - 1))]; };
  for (ptrdiff_t k = 1; k < ptrdiff_t(n); ++k) {
    const TCurvePoint &a = P(k), &b = P(k + 1), &prev = P(k - 1), &next = P(k + 2);
    const double h = 0.3 * std::hypot(b.X - a.X, b.Y - a.Y);
    const double d1 = std::hypot(b.X - prev.X, b.Y - prev.Y), d2 = std::hypot(a.X - next.X, a.Y - next.Y);
    TSegment s{};
    s.P0x = a.X, s.P0y = a.Y, s.P1x = b.X, s.P1y = b.Y;
    s.C1x = a.X + (b.X - prev.X) * h / d1, s.C1y = a.Y + (b.Y - prev.Y) * h / d1;
    s.C2x = b.X + (a.X - next.X) * h / d2, s.C2y = b.Y + (a.Y - next.Y) * h / d2;
    // Inner X kept inside the segment keeps X(t) monotonic; Y may overshoot.
    s.C1x = std::clamp(s.C1x, double(a.X), double(b.X));
    s.C2x = std::clamp(s.C2x, double(a.X), double(b.X));
    s.Steps = 32 * (b.X - a.X);
    FSegments.push_back(s);
  }
}

double TCurveEvaluator::Value(double X) const {
  if (FPoints.empty()) return X;
  if (X <= FPoints.front().X) return FPoints.front().Y;
  if (X >= FPoints.back().X) return FPoints.back().Y;
  size_t k = 0;
  while (FPoints[k + 1].X < X) ++k;
  if (FPoints[k + 1].X == X) return FPoints[k + 1].Y;
  const TSegment &s = FSegments[k];
  auto at = [&](int32_t step, double &bx, double &by) {
    const double t = double(step) / s.Steps, u = 1 - t;
    const double b0 = u * u * u, b1 = 3 * u * u * t, b2 = 3 * u * t * t, b3 = t * t * t;
    bx = b0 * s.P0x + b1 * s.C1x + b2 * s.C2x + b3 * s.P1x;
    by = b0 * s.P0y + b1 * s.C1y + b2 * s.C2y + b3 * s.P1y;
  };
  int32_t lo = 0, hi = s.Steps;
  while (hi - lo > 1) {
    const int32_t mid = (lo + hi) / 2;
    double mx, my;
    at(mid, mx, my);
    (mx <= X ? lo : hi) = mid;
  }
  double x0, y0, x1, y1;
  at(lo, x0, y0);
  at(hi, x1, y1);
  return x1 > x0 ? y0 + (y1 - y0) * (X - x0) / (x1 - x0) : y0;
}

namespace {

int16_t CurveEntry(double Y) { return int16_t(std::clamp(RoundHalfUp(Y * FULL_SCALE_14 / 255.0), 0, FULL_SCALE_14)); }

}  // namespace

std::vector<int16_t> CurveTable256(const TCurvePoints &Points) {
  const TCurveEvaluator e(Points);
  std::vector<int16_t> t(256);
  for (int32_t i = 0; i < 256; ++i) t[size_t(i)] = CurveEntry(e.Value(i));
  return t;
}

std::vector<int16_t> CurveTable16321(const TCurvePoints &Points) {
  const TCurveEvaluator e(Points);
  std::vector<int16_t> t(LUT14_ENTRIES);
  for (int32_t j = 0; j <= FULL_SCALE_14; ++j) t[size_t(j)] = CurveEntry(e.Value(double(j) * 255 / FULL_SCALE_14));
  return t;
}

bool IsIdentityCurve(const TCurvePoints &Points) { return Points == TCurvePoints{{0, 0}, {255, 255}}; }

bool IsIdentityChromaCurve(const TCurvePoints &Points) {
  return IsIdentityCurve(Points) || Points == TCurvePoints{{0, 0}, {128, 128}, {255, 255}};
}

TToneCurveTables MakeToneCurveTables(const TCurveSet &C) {
  TToneCurveTables T;
  T.SkipRGB = std::all_of(C.begin(), C.begin() + 4, IsIdentityCurve);
  T.SkipYCC = IsIdentityCurve(C[CURVE_LUMA]) && IsIdentityChromaCurve(C[CURVE_CHROMA]);
  if (!T.SkipRGB) {
    std::array<std::vector<int16_t>, 4> R, S;
    for (size_t c = 0; c < 4; ++c) R[c] = CurveTable256(C[c]), S[c] = CurveTable16321(C[c]);
    T.RGB8.resize(LUT8_SIZE);
    // The channel curve reads the RGB curve's 14-bit output between two of its 256 entries.
    auto between = [](const std::vector<int16_t> &t, int32_t a) {
      const int32_t lo = a / 64, hi = (a + 63) / 64, f = a % 64;
      return int16_t((t[size_t(lo)] * (64 - f) + t[size_t(hi)] * f + 32) / 64);
    };
    for (size_t i = 0; i < 256; ++i) {
      const int32_t a = R[0][i];
      T.RGB8[i] = between(R[3], a);
      T.RGB8[256 + i] = between(R[2], a);
      T.RGB8[512 + i] = between(R[1], a);
      T.RGB8[768 + i] = int16_t(a);
    }
    T.RGB14.resize(LUT14_SIZE);
    for (size_t j = 0; j < LUT14_ENTRIES; ++j) {
      const size_t a = size_t(S[0][j]);
      T.RGB14[j] = S[3][a];
      T.RGB14[LUT14_ENTRIES + j] = S[2][a];
      T.RGB14[2 * LUT14_ENTRIES + j] = S[1][a];
      T.RGB14[3 * LUT14_ENTRIES + j] = int16_t(a);
    }
  }
  if (!T.SkipYCC) {
    T.Luma8 = CurveTable256(C[CURVE_LUMA]);
    const std::vector<int16_t> chroma8 = CurveTable256(C[CURVE_CHROMA]);
    T.Luma8.insert(T.Luma8.end(), chroma8.begin(), chroma8.end());
    T.YCC14 = CurveTable16321(C[CURVE_LUMA]);
    const std::vector<int16_t> chroma14 = CurveTable16321(C[CURVE_CHROMA]);
    T.YCC14.insert(T.YCC14.end(), chroma14.begin(), chroma14.end());
  }
  return T;
}

// ---------------------------------------------------------------------------
// TToneCurveEffect

TToneCurveEffect::TToneCurveEffect() : TEffect(EFFECT_TONE_CURVE) { UpdateTables(); }

void TToneCurveEffect::UpdateTables() {
  FTables = MakeToneCurveTables(FControlPoints);
  FSkipRGB = FTables.SkipRGB;
  FSkipYCC = FTables.SkipYCC;
}

void TToneCurveEffect::DoEffect(TICCImgInfo &Img, TEffectParams &Params) const {
  if (Img.BPP == BPP_16) Convert16To14(Img);
  const bool labMode = FLab && Params.Settings && Params.Settings->System.EnabledLabMode;
  if (!FTables.SkipYCC) {
    if (labMode) {
      ApplyLightnessTable(Img, std::span(FTables.YCC14).first(LUT14_ENTRIES), Params.ColorTransform, Params.MT);
    } else if (Img.Channels >= 3) {
      // The luma, chroma and RGB stages in one pass over the picture.
      const std::span<const int16_t> ycc(FTables.YCC14);
      ApplyYCCStages(Img, {ycc.first(LUT14_ENTRIES), ycc.subspan(LUT14_ENTRIES),
                           FTables.SkipRGB ? std::span<const int16_t>() : FTables.RGB14},
                     Params.MT);
      return;
    } else if (Img.BPP == BPP_8) {
      ApplyGrayLUT8To14(Img, FTables.Luma8, Params.MT);
    } else {
      ApplyYCCLUT14(Img, FTables.YCC14, Params.MT);
    }
  }
  if (!FTables.SkipRGB) {
    if (Img.BPP == BPP_8)
      ApplyLUT8To14(Img, FTables.RGB8, Params.MT);
    else
      ApplyLUT14(Img, FTables.RGB14, Params.MT);
  }
}

namespace {

TCurvePoints ReadCurve(const TMemIniFile &Ini, const std::string &Section, int32_t Curve) {
  const std::string text = Ini.ReadString(Section, CurveKeys[Curve], DefaultCurveText(Curve));
  // A damaged stored curve is the identity, as the dialog would show it.
  return ParseCurve(text).value_or(TCurvePoints{{0, 0}, {255, 255}});
}

}  // namespace

void TToneCurveEffect::ReadIniFile(const TMemIniFile &Ini) {
  TEffect::ReadIniFile(Ini);
  for (int32_t c = 0; c < CURVE_COUNT; ++c) FControlPoints[size_t(c)] = ReadCurve(Ini, FSectionName, c);
  FLab = Ini.ReadBool(FSectionName, "Lab", false);
  const int32_t h = Ini.ReadInteger(FSectionName, "Histogram", 0);
  FHistogram = h < 2;
  FHistogramType = h >= 2 ? h - 2 : h;
  FPreview = Ini.ReadBool(FSectionName, "Preview", true);
  UpdateTables();
}

void TToneCurveEffect::WriteIniFile(TMemIniFile &Ini) const {
  TEffect::WriteIniFile(Ini);
  for (int32_t c = 0; c < CURVE_COUNT; ++c) Ini.WriteString(FSectionName, CurveKeys[c], CurveText(FControlPoints[size_t(c)]));
  Ini.WriteBool(FSectionName, "Lab", FLab);
  Ini.WriteInteger(FSectionName, "Histogram", FHistogramType + (FHistogram ? 0 : 2));
  Ini.WriteBool(FSectionName, "Preview", FPreview);
}

void TToneCurveEffect::WriteParamToStream(std::vector<uint8_t> &S) const {
  for (size_t c = 0; c < 4; ++c) {
    StreamWriteInt32(S, int32_t(FControlPoints[c].size()));
    for (const TCurvePoint &p : FControlPoints[c]) {
      StreamWriteInt32(S, p.X);
      StreamWriteInt32(S, p.Y);
    }
  }
}

void TToneCurveEffect::SavePreset(const std::string &FileName) const {
  TMemIniFile ini(FileName);
  for (int32_t c = 0; c < CURVE_COUNT; ++c) ini.WriteString("ToneCurve", CurveKeys[c], CurveText(FControlPoints[size_t(c)]));
  ini.UpdateFile();
}

void TToneCurveEffect::LoadPreset(const std::string &FileName) {
  const TMemIniFile ini = OpenPresetFile(FileName, "ToneCurve");
  TCurveSet curves;
  for (int32_t c = 0; c < CURVE_COUNT; ++c) {
    const std::string text = ini.ReadString("ToneCurve", CurveKeys[c], DefaultCurveText(c));
    const std::optional<TCurvePoints> p = ParseCurve(text);
    if (!p) throw ETessivoError(PresetError(FileName, CurveKeys[c], text));
    curves[size_t(c)] = *p;
  }
  FControlPoints = curves;
  UpdateTables();
}
