// Grayscale conversion and the gray-level reduction.
#include "effects/GrayscaleFilter.h"

#include "color/ICCUtil.h"
#include "core/Errors.h"
#include "core/IniFile.h"
#include "core/RowBands.h"

#include <algorithm>
#include <cmath>
#include <string>

// ---------------------------------------------------------------------------
// Level tables

std::array<uint8_t, 256> NearestLevelMap(std::span<const int32_t> Levels) {
  std::array<uint8_t, 256> map{};
  if (Levels.empty()) {
    for (int32_t i = 0; i < 256; ++i) map[size_t(i)] = uint8_t(i);
    return map;
  }
  for (int32_t i = 0; i < 256; ++i) {
    int32_t v;
    if (i <= Levels.front()) {
      v = Levels.front();
    } else {
      const auto up = std::lower_bound(Levels.begin(), Levels.end(), i);
      if (up == Levels.end()) {
        v = Levels.back();
      } else {
        const int32_t hi = *up, lo = *(up - 1);
        v = std::abs(lo - i) < std::abs(hi - i) ? lo : hi;
      }
    }
    map[size_t(i)] = uint8_t(std::clamp(v, 0, 255));
  }
  return map;
}

std::array<uint8_t, 256> CustomPaletteMap(std::span<const int32_t> Levels) { return NearestLevelMap(Levels); }

std::vector<int32_t> MergeGrayLevels(std::span<const uint32_t> Histogram, int32_t MaxLevels) {
  std::vector<TColorCount> list;
  for (int32_t v = 0; v < 256; ++v)
    if (Histogram[size_t(v)]) list.emplace_back(int32_t(Histogram[size_t(v)]), float(v));
  const size_t target = size_t(std::max(MaxLevels, 1));
  // Merging a small entry over a short distance costs least: (log2 count)^3 x distance^1.15.
  auto cost = [](const TColorCount &e, const TColorCount &into) {
    const double l = std::log2(double(e.Count));
    return l * l * l * std::pow(std::fabs(double(into.Color) - double(e.Color)), 1.15);
  };
  while (list.size() > target) {
    const size_t n = list.size();
    size_t from = 0, into = 1;
    double best = cost(list[0], list[1]);
    auto consider = [&](size_t a, size_t b) {
      const double c = cost(list[a], list[b]);
      if (c < best) best = c, from = a, into = b;
    };
    for (size_t a = 1; a + 1 < n; ++a) consider(a, a - 1), consider(a, a + 1);
    consider(n - 1, n - 2);
    TColorCount &e = list[from], &t = list[into];
    const int32_t sum = t.Count + e.Count;
    t.Color = (float(t.Count) * t.Color + float(e.Count) * e.Color) / float(sum);
    t.Count = sum;
    list.erase(list.begin() + ptrdiff_t(from));
  }
  std::vector<int32_t> levels;
  for (const TColorCount &e : list) levels.push_back(int32_t(e.Color + 0.5f));
  return levels;
}

std::array<float, 3> GrayscaleWeights(int32_t Type, int32_t Red, int32_t Green, int32_t Blue) {
  if (Type == 0) return {0.299f, 0.587f, 0.114f};
  if (Type == 1) return {0.2125f, 0.7154f, 0.0721f};
  float r = float(Red) / 10000.0f, g = float(Green) / 10000.0f, b = float(Blue) / 10000.0f;
  const float sum = r + g + b;
  if (sum != 0.0f && sum != 1.0f) r /= sum, g /= sum, b /= sum;
  return {r, g, b};
}

// ---------------------------------------------------------------------------
// TGrayscaleFilter

namespace {

// Round to nearest, ties to even, for 0 <= x < 2^22: adding 1.5 x 2^23 leaves
// no fraction bits, so the addition itself rounds in the default mode.
inline float RoundEven(float X) { return (X + 12582912.0f) - 12582912.0f; }

// The gray image replaces Img: one channel for BGR; for BGRA the gray value
// goes into B, G and R and alpha stays, and the image is marked gray+alpha.
// Gray(row, x) gives the gray sample of pixel x of the source row.
template <class TSample, class F>
void WriteGray(TICCImgInfo &Img, TMultiThread *MT, const F &Gray) {
  const uint32_t w = Img.Width, ch = Img.Channels;
  if (ch == 4) {
    ForRowBands(MT, Img.Height, [&](uint32_t First, uint32_t Last) {
      for (uint32_t y = First; y < Last; ++y) {
        auto *row = reinterpret_cast<TSample *>(ScanLine(Img, y));
        for (uint32_t x = 0; x < w; ++x) {
          const TSample g = Gray(row, x);
          row[4 * x] = row[4 * x + 1] = row[4 * x + 2] = g;
        }
      }
    });
    Img.PixelFormat = PIXFMT_BGRA;
    Img.IsGrayAlpha = LongTrue;
    return;
  }
  const uint32_t bpl = sizeof(TSample) == 1 ? GetAlignedBpl(w, 1) : GetAlignedBpl16(w, 1);
  uint8_t *mem = AllocPixelBlockReused(bpl, Img.Height);  // every row is written
  ForRowBands(MT, Img.Height, [&](uint32_t First, uint32_t Last) {
    for (uint32_t y = First; y < Last; ++y) {
      const auto *row = reinterpret_cast<const TSample *>(ScanLine(Img, y));
      auto *out = reinterpret_cast<TSample *>(mem + size_t(y) * bpl);
      for (uint32_t x = 0; x < w; ++x) out[x] = Gray(row, x);
    }
  });
  PageFree(Img.Mem);
  Img.Mem = mem;
  Img.Bpl = bpl;
  Img.Channels = 1;
  Img.PixelFormat = PIXFMT_GRAY;
}

inline uint32_t Index14(int16_t V) { return uint32_t(std::clamp<int32_t>(V, 0, FULL_SCALE_14)); }

}  // namespace

TGrayscaleFilter::TGrayscaleFilter() : TEffect(EFFECT_GRAYSCALE) {
  for (int32_t i = 0; i < 16; ++i) FCustomPalette[size_t(i)] = i * 17 * 0x010101;
  UpdatePalette();
}

void TGrayscaleFilter::ConvertWeighted(TICCImgInfo &Img, TEffectParams &Params) const {
  const std::array<float, 3> wt = GrayscaleWeights(FType, FRed, FGreen, FBlue);
  const float wr = wt[0], wg = wt[1], wb = wt[2];
  const uint32_t ch = Img.Channels;
  const bool wide = Img.BPP == BPP_14;
  if (!FDegamma) {
    if (!wide) {
      WriteGray<uint8_t>(Img, Params.MT, [&](const uint8_t *r, uint32_t x) {
        const uint8_t *p = r + ch * x;
        return uint8_t(std::clamp(RoundEven(wr * p[2] + wg * p[1] + wb * p[0]), 0.0f, 255.0f));
      });
    } else {
      WriteGray<int16_t>(Img, Params.MT, [&](const int16_t *r, uint32_t x) {
        const int16_t *p = r + ch * x;
        const float g = wr * float(p[2]) + wg * float(p[1]) + wb * float(p[0]);
        return int16_t(std::clamp(RoundEven(std::max(g, 0.0f)), 0.0f, float(FULL_SCALE_14)));
      });
    }
    return;
  }
  // Linear light: per-channel tables with the weight folded in, the sum
  // encoded with the inverse curve of the default gray profile.
  const uint32_t len = DegammaTableLength(Img.BPP);
  std::vector<float> lin(size_t(len) * 3);
  MakeDegammaTable(Img, lin);
  for (uint32_t v = 0; v < len; ++v) lin[v] *= wb, lin[len + v] *= wg, lin[2 * len + v] *= wr;
  std::vector<int16_t> enc(REGAMMA_TABLE_LEN);
  MakeGrayRegammaTable(Img.BPP, enc);
  const float *tb = lin.data(), *tg = tb + len, *tr = tg + len;
  if (!wide) {
    WriteGray<uint8_t>(Img, Params.MT, [&](const uint8_t *r, uint32_t x) {
      const uint8_t *p = r + ch * x;
      return uint8_t(enc[RegammaIndex8(tr[p[2]] + tg[p[1]] + tb[p[0]])]);
    });
  } else {
    WriteGray<int16_t>(Img, Params.MT, [&](const int16_t *r, uint32_t x) {
      const int16_t *p = r + ch * x;
      return enc[RegammaIndex14(tr[Index14(p[2])] + tg[Index14(p[1])] + tb[Index14(p[0])])];
    });
  }
}

void TGrayscaleFilter::ConvertLab(TICCImgInfo &Img, TEffectParams &Params) const {
  TICCImgInfo alpha{};
  const bool hasAlpha = Img.Channels == 4;
  if (hasAlpha) ExtractAlpha14(Img, alpha);
  struct TAlphaOwner {
    TICCImgInfo &A;
    ~TAlphaOwner() {
      if (A.Mem) PageFree(A.Mem);
    }
  } keep{alpha};
  Convert14To16(Img);
  TTransForm own;
  TTransForm *t = Params.ColorTransform ? Params.ColorTransform : &own;
  if (!t->InitToLab16(Img)) throw ETessivoError("Lab色空間への変換を作成できません");
  t->TransformToLab16(Img, Params.MT);
  // L* on the 16-bit scale to the 14-bit gray level.
  WriteGray<int16_t>(Img, Params.MT, [&](const int16_t *r, uint32_t x) {
    return int16_t((uint32_t(uint16_t(r[Img.Channels * x])) + 2) >> 2);
  });
  Img.BPP = BPP_14;
  if (hasAlpha) RestoreAlpha14(Img, alpha);
}

void TGrayscaleFilter::DoEffect(TICCImgInfo &Img, TEffectParams &Params) const {
  if (FDecreaseColor) {
    Params.GrayscaleDecreaseColor = LongTrue;
    Params.MaxColor = FColor;
  }
  if (Img.Channels < 3 || Img.IsGrayAlpha || Img.PixelFormat == PIXFMT_CMYK) return;
  // 16-bit samples enter the working depth first, so that the alpha kept
  // aside for the Lab path is on the 14-bit scale like the result.
  if (Img.BPP == BPP_16) Convert16To14(Img);
  if (FType == 3)
    ConvertLab(Img, Params);
  else
    ConvertWeighted(Img, Params);
  if ((Img.ProfileType == PROFILE_EMBEDDED || Img.ProfileType == PROFILE_FROM_EXIF) && Img.ICCProfile)
    PageFree(Img.ICCProfile);
  Img.ICCProfile = nullptr;
  Img.ProfileLen = 0;
  Img.ProfileType = PROFILE_DEFAULT_GRAY;
}

void TGrayscaleFilter::DecreaseGrayLevels(TICCImgInfo &Img, int32_t MaxColor) const {
  ConvertTo8Bit(Img, true);
  if (Img.BPP != BPP_8 || !Img.Mem) return;
  const uint32_t ch = Img.Channels, w = Img.Width;
  const uint32_t colourSamples = ch == 4 || ch == 2 ? ch - 1 : ch;
  std::array<uint8_t, 256> map;
  if (FPaletteInForce) {
    map = FPaletteTable;
  } else {
    std::array<uint32_t, 256> h{};
    for (uint32_t y = 0; y < Img.Height; ++y) {
      const uint8_t *row = ScanLine(Img, y);
      for (uint32_t x = 0; x < w; ++x) ++h[row[ch * x]];
    }
    map = NearestLevelMap(MergeGrayLevels(h, MaxColor));
  }
  for (uint32_t y = 0; y < Img.Height; ++y) {
    uint8_t *row = ScanLine(Img, y);
    for (uint32_t x = 0; x < w; ++x)
      for (uint32_t c = 0; c < colourSamples; ++c) row[ch * x + c] = map[row[ch * x + c]];
  }
}

void TGrayscaleFilter::UpdatePalette() {
  FPaletteInForce = FUseCustomPalette;
  if (!FUseCustomPalette || FColor > 16) return;
  std::vector<int32_t> levels;
  for (int32_t i = 0; i < std::max(FColor, 1); ++i) levels.push_back(FCustomPalette[size_t(i)] & 0xFF);
  std::sort(levels.begin(), levels.end());
  FPaletteTable = CustomPaletteMap(levels);
}

void TGrayscaleFilter::ReadIniFile(const TMemIniFile &Ini) {
  TEffect::ReadIniFile(Ini);
  const std::string &s = FSectionName;
  FRed = Ini.ReadInteger(s, "Red", 0);
  FGreen = Ini.ReadInteger(s, "Green", 0);
  FBlue = Ini.ReadInteger(s, "Blue", 0);
  FType = Ini.ReadInteger(s, "Type", 0);
  FDegamma = Ini.ReadBool(s, "Degamma", true);
  FDecreaseColor = Ini.ReadBool(s, "DecreaseColor", false);
  FColor = std::clamp(Ini.ReadInteger(s, "Color", 16), 2, 255);
  FUseCustomPalette = Ini.ReadBool(s, "UseCustomPalette", false);
  FPreview = Ini.ReadBool(s, "Preview", true);
  FHistogram = Ini.ReadBool(s, "Histogram", true);
  std::array<int32_t, 16> levels;
  for (int32_t i = 0; i < 16; ++i)
    levels[size_t(i)] = std::clamp(Ini.ReadInteger(s, "CustomPalette" + std::to_string(i + 1), i * 17), 0, 255);
  std::sort(levels.begin(), levels.end());
  for (size_t i = 0; i < 16; ++i) FCustomPalette[i] = levels[i] * 0x010101;
  UpdatePalette();
}

void TGrayscaleFilter::WriteIniFile(TMemIniFile &Ini) const {
  TEffect::WriteIniFile(Ini);
  const std::string &s = FSectionName;
  Ini.WriteInteger(s, "Red", FRed);
  Ini.WriteInteger(s, "Green", FGreen);
  Ini.WriteInteger(s, "Blue", FBlue);
  Ini.WriteInteger(s, "Type", FType);
  Ini.WriteBool(s, "Degamma", FDegamma);
  Ini.WriteBool(s, "DecreaseColor", FDecreaseColor);
  Ini.WriteInteger(s, "Color", FColor);
  Ini.WriteBool(s, "UseCustomPalette", FUseCustomPalette);
  Ini.WriteBool(s, "Preview", FPreview);
  Ini.WriteBool(s, "Histogram", FHistogram);
  for (int32_t i = 0; i < 16; ++i)
    Ini.WriteInteger(s, "CustomPalette" + std::to_string(i + 1), FCustomPalette[size_t(i)] & 0xFF);
}
