// Gaussian blur and unsharp mask: same-size Gaussian tables, the sharpening
// rules (strengths, soft threshold, 3 x 3 bounds), the mask blur with its
// opacity, and the vector kernels against the plain reference.
#include "color/ICCUtil.h"
#include "core/Errors.h"
#include "resample/Filter.h"
#include "core/MultiThread.h"
#include "resample/tests/TestImage.h"
#include "resample/UnsharpMaskKernels.h"
#include "resample/WeightedMean.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

class BlurTest : public ::testing::Test {
protected:
  void SetUp() override { LoadResizeLibrary(TESSIVO_BIN_DIR); }
};

// All samples of an image, row padding left out.
std::vector<int32_t> Samples(const TTestImage &T) {
  std::vector<int32_t> v;
  for (uint32_t y = 0; y < T.I.Height; ++y)
    for (uint32_t x = 0; x < T.I.Width; ++x)
      for (uint32_t c = 0; c < T.I.Channels; ++c) v.push_back(T.Get(x, y, c));
  return v;
}

void FillRandom(TTestImage &T, std::mt19937 &Rng, int32_t Lo, int32_t Hi) {
  std::uniform_int_distribution<int32_t> d(Lo, Hi);
  T.Fill([&](uint32_t, uint32_t, uint32_t) { return d(Rng); });
}

int32_t Full(const TTestImage &T) { return T.I.BPP == BPP_8 ? 255 : FULL_SCALE_14; }

// ---- Weights ---------------------------------------------------------------------

TEST(GaussianWeightTest, BlurRadiusTwoGivesSevenTapsOfSigmaOnePointTwoFive) {
  TGaussianBlur gb;
  gb.SetGauusianBlurParam(2.0);
  const TGaussianBlurWeight &w = *gb.GBWeight;
  EXPECT_DOUBLE_EQ(w.FRadius, 2.5);
  ASSERT_EQ(w.FIRadius, 3);
  ASSERT_EQ(w.WeightTable.size(), 4u);
  for (int i = 1; i <= 3; ++i)
    EXPECT_NEAR(w.WeightTable[i] / w.WeightTable[0], std::exp(-(i / 1.25) * (i / 1.25) / 2), 1e-12) << i;

  TWeightTable wt{};
  w.SetWeight(wt, 20, true, 4);
  const TWeightTableInfo &mid = wt.WeightTableInfo[10];
  ASSERT_EQ(WeightRowCount(mid.pWeightTable), 7);
  EXPECT_EQ(mid.SrcOffset, 4 * 7);
  FreeWeightTable(wt);
}

// Weight of every source pixel in pixel i's row, from the table.
std::vector<double> RowWeights(const TWeightTable &WT, int32_t i, int32_t Len, bool IsFloat, int32_t Step) {
  std::vector<double> out(size_t(Len), 0.0);
  const TWeightTableInfo &t = WT.WeightTableInfo[i];
  const int32_t cnt = WeightRowCount(t.pWeightTable);
  if (IsFloat) {
    const int32_t s = t.SrcOffset / Step;
    for (int32_t k = 0; k < cnt; ++k) out.at(size_t(s + k)) += FloatWeights(t)[k];
  } else {
    const int32_t s = t.SrcOffset / Step * 2;
    for (int32_t k = 0; k < 2 * cnt; ++k) {
      const int16_t w = IntWeights(t)[k];
      if (w != 0) out.at(size_t(s + k)) += w / 16384.0;
    }
  }
  return out;
}

TEST(GaussianWeightTest, RowsFoldAtTheEdgesSumToOneAndShareTheInterior) {
  struct TCase {
    int32_t Len;
    double Radius;
    bool IsFloat;
  };
  const TCase cases[] = {{1, 2.5, false}, {2, 2.5, false}, {3, 3.5, false}, {7, 2.5, false}, {8, 2.5, false},
                         {40, 2.5, false}, {41, 4.5, false}, {33, 1.5, true},  {5, 3.5, true},  {17, 0.6, false},
                         {9, 0.0, false}, {9, 0.0, true}};
  const int32_t step = 48;
  for (const TCase &c : cases) {
    SCOPED_TRACE(testing::Message() << "Len " << c.Len << " radius " << c.Radius << (c.IsFloat ? " float" : " int"));
    TGaussianBlurWeight w(c.Radius);
    TWeightTable wt{};
    w.SetWeight(wt, c.Len, c.IsFloat, step);
    const int32_t R = w.FIRadius;
    const void *shared[2] = {nullptr, nullptr};
    for (int32_t i = 0; i < c.Len; ++i) {
      EXPECT_EQ(reinterpret_cast<uintptr_t>(wt.WeightTableInfo[i].pWeightTable) % 8, 0u);
      const std::vector<double> got = RowWeights(wt, i, c.Len, c.IsFloat, step);
      std::vector<double> want(size_t(c.Len), 0.0);
      double sum = 0;
      for (int32_t j = i - R; j <= i + R; ++j) {
        const double g = w.WeightTable[size_t(std::abs(j - i))];
        want[size_t(std::clamp(j, 0, c.Len - 1))] += g;
        sum += g;
      }
      double total = 0;
      for (int32_t p = 0; p < c.Len; ++p) {
        EXPECT_NEAR(got[size_t(p)], want[size_t(p)] / sum, c.IsFloat ? 1e-6 : 8.0 / 16384) << "pixel " << i;
        total += got[size_t(p)];
      }
      // Integer rows sum to exactly 1.0, so a flat area blurs to itself.
      EXPECT_NEAR(total, 1.0, c.IsFloat ? 1e-6 : 0.0) << "pixel " << i;
      if (i >= R && i < c.Len - R) {
        const int parity = c.IsFloat ? 0 : (i - R) & 1;
        if (!shared[parity]) shared[parity] = wt.WeightTableInfo[i].pWeightTable;
        EXPECT_EQ(wt.WeightTableInfo[i].pWeightTable, shared[parity]) << "pixel " << i;
      }
    }
    EXPECT_EQ(wt.WeightTableInfo[c.Len].SrcOffset, wt.WeightTableInfo[c.Len - 1].SrcOffset);
    FreeWeightTable(wt);
  }
}

TEST(GaussianWeightTest, RefusesAbsurdRadii) {
  EXPECT_THROW(TGaussianBlurWeight(1e9), ETessivoError);
  EXPECT_THROW(TGaussianBlurWeight(std::nan("")), ETessivoError);
}

// ---- Coefficients and the sharpening step ------------------------------------------

TEST(UnsharpCoefficientTest, ValuesFromTheSettings) {
  struct TCase {
    int32_t H, S, T, Max, Min;
    TUnsharpMaskCoefficients Want;
  };
  const TCase cases[] = {
      {100, 100, 0, 0, 0, {-4096, -4096, 0, 0, 0}},
      {150, 33, 10, 50, 25, {-1351, -6144, 640, -3072, -337}},
      {500, 500, 255, 100, 100, {-20480, -20480, 16320, -20480, -20480}},
      {900, -5, 999, 300, -1, {0, -20480, 16320, -20480, 0}},  // kept to the dialog ranges
  };
  for (const TCase &c : cases) {
    const TUnsharpMaskCoefficients k = MakeUnsharpMaskCoefficients(c.H, c.S, c.T, c.Max, c.Min);
    EXPECT_EQ(k.StrengthS, c.Want.StrengthS) << c.H << "/" << c.S;
    EXPECT_EQ(k.StrengthH, c.Want.StrengthH) << c.H << "/" << c.S;
    EXPECT_EQ(k.Threshold64, c.Want.Threshold64) << c.T;
    EXPECT_EQ(k.Upper, c.Want.Upper) << c.H << "x" << c.Max;
    EXPECT_EQ(k.Lower, c.Want.Lower) << c.S << "x" << c.Min;
  }
}

TEST(UnsharpKernelTest, SoftThresholdRampsBetweenHalfAndFullThreshold) {
  // Threshold 10 (640 on the 14-bit scale), strengths 100, bounds wide open.
  const TUnsharpMaskCoefficients k = MakeUnsharpMaskCoefficients(100, 100, 10, 100, 100);
  struct TCase {
    int32_t D;     // blur - sample
    int32_t Want;  // result for a sample of 8000
  };
  const TCase cases[] = {
      {0, 8000},    {100, 8000},  {319, 8000},  {320, 8000},  {480, 7680},  {639, 7362},
      {640, 7360},  {1000, 7000}, {-100, 8001}, {-480, 8319}, {-640, 8639}, {-1000, 9000},
  };
  for (const TCase &c : cases)
    EXPECT_EQ(usm_plain::SharpenSample(8000, 8000 + c.D, FULL_SCALE_14, 0, k), c.Want) << "d " << c.D;
}

TEST(UnsharpKernelTest, BoundsAllowTheSetShareOfOvershoot) {
  struct TCase {
    int32_t H, S, Max, Min;
    int32_t o, Blur, LMax, LMin;
    int32_t Want;
  };
  const TCase cases[] = {
      {100, 100, 0, 0, 8000, 7000, 8200, 7000, 8200},    // brightening stops at the local maximum
      {100, 100, 50, 0, 8000, 7000, 8200, 7000, 8500},   // ... or half the change beyond the sample
      {100, 100, 0, 0, 8000, 9000, 9000, 7900, 7900},    // darkening stops at the local minimum
      {100, 100, 0, 100, 8000, 9000, 9000, 7900, 7000},  // ... or the whole change
      {500, 100, 100, 0, 16000, 15000, 16000, 15000, 16320},  // never beyond full scale
      {100, 500, 0, 100, 300, 1300, 1300, 300, 0},            // nor below 0
  };
  for (const TCase &c : cases) {
    const TUnsharpMaskCoefficients k = MakeUnsharpMaskCoefficients(c.H, c.S, 0, c.Max, c.Min);
    EXPECT_EQ(usm_plain::SharpenSample(c.o, c.Blur, c.LMax, c.LMin, k), c.Want) << c.o << " vs " << c.Blur;
  }
}

// Every vector kernel against the plain one on random rows of random lengths
// (all remainder paths), with 14-bit samples beyond the usual range too.
TEST(UnsharpKernelTest, VectorKernelsMatchThePlainReference) {
  std::mt19937 rng(7);
  const TUSMKernels &ref = *USMKernels(RISA_PLAIN);
  for (int32_t isa : {int32_t(RISA_SSE2), int32_t(RISA_AVX2)}) {
    const TUSMKernels *k = USMKernels(isa);
    if (!k) continue;
    for (int trial = 0; trial < 300; ++trial) {
      const int32_t channels = trial % 2 ? 3 : 1;
      const int32_t width = 1 + int32_t(rng() % 90);
      const int32_t n = width * channels;
      const int32_t groups = LimitGroups(n);
      SCOPED_TRACE(testing::Message() << "isa " << isa << " width " << width << " channels " << channels);
      const TUnsharpMaskCoefficients coef = MakeUnsharpMaskCoefficients(
          int32_t(rng() % 501), int32_t(rng() % 501), int32_t(rng() % 40), int32_t(rng() % 101), int32_t(rng() % 101));
      const bool wild = trial % 3 == 0;
      std::uniform_int_distribution<int32_t> v14(wild ? -32768 : -200, wild ? 32767 : 16500);
      std::vector<uint8_t> s8(size_t(n) + 64);
      std::vector<int16_t> s14(size_t(n) + 64), blur(size_t(n) + 64);
      for (auto &v : s8) v = uint8_t(rng());
      for (auto &v : s14) v = int16_t(v14(rng));
      for (auto &v : blur) v = int16_t(v14(rng));

      std::vector<int16_t> a(size_t(groups) * 16 + 32, -1), b = a;
      ref.HLimit8(s8.data(), width, channels, a.data());
      k->HLimit8(s8.data(), width, channels, b.data());
      ASSERT_EQ(a, b) << "HLimit8";
      ref.HLimit14(s14.data(), width, channels, a.data());
      k->HLimit14(s14.data(), width, channels, b.data());
      ASSERT_EQ(a, b) << "HLimit14";

      std::vector<int16_t> rows[3];
      for (auto &r : rows) {
        r.resize(a.size());
        for (auto &v : r) v = int16_t(v14(rng));
      }
      std::vector<int16_t> va(a.size(), 0), vb(a.size(), 0);
      ref.VLimit(rows[0].data(), rows[1].data(), rows[2].data(), groups, va.data());
      k->VLimit(rows[0].data(), rows[1].data(), rows[2].data(), groups, vb.data());
      ASSERT_EQ(va, vb) << "VLimit";

      std::vector<uint8_t> o8a = s8, o8b = s8;
      ref.Sharpen8(o8a.data(), blur.data(), va.data(), n, coef);
      k->Sharpen8(o8b.data(), blur.data(), va.data(), n, coef);
      ASSERT_EQ(o8a, o8b) << "Sharpen8";
      std::vector<int16_t> o14a = s14, o14b = s14;
      ref.Sharpen14(o14a.data(), blur.data(), va.data(), n, coef);
      k->Sharpen14(o14b.data(), blur.data(), va.data(), n, coef);
      ASSERT_EQ(o14a, o14b) << "Sharpen14";
    }
  }
}

// ---- Unsharp-mask engine ---------------------------------------------------------

struct TUSMSetting {
  int32_t H = 100, S = 100, Min = 0, Max = 0, Threshold = 0;
  double Radius = 1.0;
  bool Degamma = false;
};

void Sharpen(TTestImage &T, const TUSMSetting &S, TMultiThread *Pool = nullptr, int32_t Isa = -1) {
  TUnsharpMask usm;
  usm.Isa = Isa;
  usm.SetUnSharpMaskParam(S.H, S.S, S.Degamma, S.Radius, S.Min, S.Max, S.Threshold);
  usm.DoUnSharpMask(T.I, false, Pool);
}

struct TLayout {
  uint32_t Channels, BPP;
  bool Degamma;
};
const TLayout Layouts[] = {{1, BPP_8, false}, {3, BPP_8, false}, {1, BPP_8, true}, {3, BPP_8, true},
                           {1, BPP_14, false}, {3, BPP_14, false}, {1, BPP_14, true}, {3, BPP_14, true}};

std::string Name(const TLayout &L) {
  return std::to_string(L.Channels) + "ch " + std::to_string(L.BPP) + "bit" + (L.Degamma ? " linear" : "");
}

TEST_F(BlurTest, ImagesTheEngineDoesNotSharpenStayAsTheyAre) {
  struct TCase {
    uint32_t W, H, Channels;
    bool IsRGBA;
  };
  const TCase cases[] = {{2, 10, 1, false}, {10, 2, 3, false}, {1, 1, 1, false},
                         {10, 10, 2, false}, {10, 10, 4, false}, {10, 10, 3, true}};
  std::mt19937 rng(1);
  for (const TCase &c : cases) {
    TTestImage t(c.W, c.H, c.Channels, BPP_8);
    FillRandom(t, rng, 0, 255);
    const std::vector<int32_t> before = Samples(t);
    TUnsharpMask usm;
    usm.SetUnSharpMaskParam(500, 500, false, 2.0, 100, 100, 0);
    usm.DoUnSharpMask(t.I, c.IsRGBA, nullptr);
    EXPECT_EQ(Samples(t), before) << c.W << "x" << c.H << " channels " << c.Channels;
    EXPECT_EQ(t.I.BPP, uint32_t(BPP_8));
  }
}

TEST_F(BlurTest, ZeroStrengthsAndFlatAreasLeaveTheImageExactly) {
  std::mt19937 rng(2);
  for (const TLayout &l : Layouts) {
    SCOPED_TRACE(Name(l));
    TTestImage t(37, 23, l.Channels, l.BPP);
    FillRandom(t, rng, 0, Full(t));
    const std::vector<int32_t> before = Samples(t);
    TUSMSetting zero;
    zero.H = zero.S = 0;
    zero.Max = zero.Min = 100;
    zero.Degamma = l.Degamma;
    Sharpen(t, zero);
    EXPECT_EQ(t.I.BPP, l.BPP);
    EXPECT_EQ(Samples(t), before) << "strengths 0";

    TTestImage flat(29, 17, l.Channels, l.BPP);
    for (int32_t v : {0, 1, 77, Full(flat)}) {
      flat.Fill([&](uint32_t, uint32_t, uint32_t c) { return l.Channels == 3 ? std::max(v - int32_t(c), 0) : v; });
      const std::vector<int32_t> flatBefore = Samples(flat);
      TUSMSetting strong;
      strong.H = strong.S = 500;
      strong.Max = strong.Min = 100;
      strong.Radius = 3.0;
      strong.Degamma = l.Degamma;
      Sharpen(flat, strong);
      EXPECT_EQ(Samples(flat), flatBefore) << "flat " << v;
    }
  }
}

// The 3 x 3 range of sample (x, y, c), clipped at the image's edges.
void LocalRange(const std::vector<int32_t> &S, const TTestImage &T, uint32_t x, uint32_t y, uint32_t c,
                int32_t &Lo, int32_t &Hi) {
  const uint32_t w = T.I.Width, h = T.I.Height, ch = T.I.Channels;
  Lo = INT32_MAX;
  Hi = INT32_MIN;
  for (uint32_t yy = y ? y - 1 : 0; yy <= std::min(y + 1, h - 1); ++yy)
    for (uint32_t xx = x ? x - 1 : 0; xx <= std::min(x + 1, w - 1); ++xx) {
      const int32_t v = S[(size_t(yy) * w + xx) * ch + c];
      Lo = std::min(Lo, v);
      Hi = std::max(Hi, v);
    }
}

TEST_F(BlurTest, WithoutOvershootNoSampleLeavesItsNeighbourhoodRange) {
  std::mt19937 rng(3);
  for (const TLayout &l : Layouts) {
    SCOPED_TRACE(Name(l));
    TTestImage t(45, 19, l.Channels, l.BPP);
    FillRandom(t, rng, 0, Full(t));
    const std::vector<int32_t> before = Samples(t);
    TUSMSetting s;
    s.H = s.S = 500;
    s.Degamma = l.Degamma;
    Sharpen(t, s);
    const std::vector<int32_t> after = Samples(t);
    size_t changed = 0;
    for (uint32_t y = 0; y < t.I.Height; ++y)
      for (uint32_t x = 0; x < t.I.Width; ++x)
        for (uint32_t c = 0; c < t.I.Channels; ++c) {
          int32_t lo, hi;
          LocalRange(before, t, x, y, c, lo, hi);
          const int32_t v = after[(size_t(y) * t.I.Width + x) * t.I.Channels + c];
          ASSERT_TRUE(v >= lo && v <= hi) << x << "," << y << "," << c << ": " << v << " not in " << lo << ".." << hi;
          changed += v != before[(size_t(y) * t.I.Width + x) * t.I.Channels + c];
        }
    EXPECT_GT(changed, after.size() / 2);
  }
}

TEST_F(BlurTest, LonePixelStaysAndSoftEdgesMoveTowardTheirExtremes) {
  for (uint32_t bpp : {BPP_8, BPP_14}) {
    const int32_t scale = bpp == BPP_8 ? 1 : 64;
    TTestImage dot(15, 15, 1, bpp);
    dot.Fill([&](uint32_t x, uint32_t y, uint32_t) { return (x == 7 && y == 7 ? 230 : 40) * scale; });
    const std::vector<int32_t> dotBefore = Samples(dot);
    TUSMSetting s;
    s.H = s.S = 300;
    s.Radius = 2.0;
    Sharpen(dot, s);
    EXPECT_EQ(Samples(dot), dotBefore) << bpp;

    // A ramp from 60 to 180 over columns 6 .. 10: the dark foot gets darker
    // and the bright shoulder brighter, within their neighbourhoods.
    TTestImage edge(17, 9, 1, bpp);
    auto ramp = [](uint32_t x) { return x <= 6 ? 60 : x >= 10 ? 180 : 60 + int32_t(x - 6) * 30; };
    edge.Fill([&](uint32_t x, uint32_t, uint32_t) { return ramp(x) * scale; });
    Sharpen(edge, s);
    for (uint32_t y = 0; y < 9; ++y) {
      EXPECT_LT(edge.Get(7, y, 0), ramp(7) * scale) << bpp;
      EXPECT_GE(edge.Get(7, y, 0), ramp(6) * scale) << bpp;
      EXPECT_GT(edge.Get(9, y, 0), ramp(9) * scale) << bpp;
      EXPECT_LE(edge.Get(9, y, 0), ramp(10) * scale) << bpp;
      EXPECT_EQ(edge.Get(2, y, 0), 60 * scale);
      EXPECT_EQ(edge.Get(14, y, 0), 180 * scale);
    }
  }
}

TEST_F(BlurTest, DifferencesBelowHalfTheThresholdChangeNothing) {
  std::mt19937 rng(4);
  TTestImage t(33, 21, 3, BPP_8);
  FillRandom(t, rng, 100, 160);  // |blur - sample| stays below 60 x 64 < 16320 / 2
  const std::vector<int32_t> before = Samples(t);
  TUSMSetting s;
  s.H = s.S = 500;
  s.Max = s.Min = 100;
  s.Threshold = 255;
  Sharpen(t, s);
  EXPECT_EQ(Samples(t), before);
  s.Threshold = 0;
  Sharpen(t, s);
  EXPECT_NE(Samples(t), before);
}

// The engine against a direct computation: the same blur, limits taken over
// the whole source image, and the sharpening rule per sample. Runs with and
// without a pool so that the row shares of the threads meet correctly.
TEST_F(BlurTest, EngineMatchesADirectComputationOnAnyPool) {
  std::mt19937 rng(5);
  TMultiThread pool2(2), pool3(3);
  for (const TLayout &l : Layouts) {
    SCOPED_TRACE(Name(l));
    const uint32_t w = 20 + rng() % 50, h = 3 + rng() % 30;
    TTestImage src(w, h, l.Channels, l.BPP);
    FillRandom(src, rng, l.BPP == BPP_8 ? 0 : -100, Full(src) + (l.BPP == BPP_8 ? 0 : 100));
    TUSMSetting s;
    s.H = 180;
    s.S = 90;
    s.Max = 30;
    s.Min = 60;
    s.Threshold = 3;
    s.Radius = 1.7;
    s.Degamma = l.Degamma;

    // The blur, made the way the engine makes it.
    TUnsharpMask probe;
    probe.SetUnSharpMaskParam(s.H, s.S, s.Degamma, s.Radius, s.Min, s.Max, s.Threshold);
    std::unique_ptr<TCustomUnsharpMaskFilter> f;
    if (l.Channels == 1)
      f.reset(l.Degamma ? static_cast<TCustomUnsharpMaskFilter *>(new TGrayLinearUSMFilter_f32) : new TGrayUSMFilter_i16);
    else
      f.reset(l.Degamma ? static_cast<TCustomUnsharpMaskFilter *>(new TRGBLinearUSMFilter_f32) : new TRGBUSMFilter_i16);
    f->SetFilterParam(src.I);
    probe.USMWeight->SetWeight(f->Param.HWeightTable, int32_t(w), f->IsFloat(), f->HStep());
    probe.USMWeight->SetWeight(f->Param.VWeightTable, int32_t(h), f->IsFloat(), int32_t(f->FTmpBpl));
    f->SetBlockInfo();
    f->SetGammaTable(src.I, MakeResizeGammaTables);
    std::vector<uint8_t> blur(size_t(f->FDestBpl) * AllocRows(h));
    f->Execute(src.I.Mem, blur.data(), nullptr);

    const std::vector<int32_t> before = Samples(src);
    std::vector<int32_t> want(before.size());
    const int32_t scale = l.BPP == BPP_8 ? 64 : 1;
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x)
        for (uint32_t c = 0; c < l.Channels; ++c) {
          int32_t lo, hi;
          LocalRange(before, src, x, y, c, lo, hi);
          const size_t i = (size_t(y) * w + x) * l.Channels + c;
          const int16_t b = reinterpret_cast<const int16_t *>(blur.data() + size_t(y) * f->FDestBpl)[x * l.Channels + c];
          const int16_t r = usm_plain::SharpenSample(before[i] * scale, b, hi * scale, lo * scale, probe.Coefficients);
          want[i] = l.BPP == BPP_8 ? std::min(uint16_t(r) >> 6, 255) : r;
        }

    for (TMultiThread *pool : {static_cast<TMultiThread *>(nullptr), &pool2, &pool3}) {
      for (int32_t isa : {int32_t(RISA_PLAIN), -1}) {
        TTestImage t(w, h, l.Channels, l.BPP);
        for (uint32_t y = 0; y < h; ++y) std::memcpy(ScanLine(t.I, y), ScanLine(src.I, y), src.I.Bpl);
        Sharpen(t, s, pool, isa);
        EXPECT_EQ(Samples(t), want) << (pool ? pool->MaxThread() : 0) << " threads, isa " << isa;
      }
    }
  }
}

TEST_F(BlurTest, CopiesSharpenLikeTheOriginalAndFiltersFollowTheGeometry) {
  std::mt19937 rng(6);
  TUnsharpMask usm;
  usm.SetUnSharpMaskParam(120, 80, false, 2.5, 10, 20, 2);
  usm.SetMaxThreadNum(3);
  std::unique_ptr<TUnsharpMask> copy(usm.CreateMTUnSharpMask());
  EXPECT_EQ(copy->USMWeight->FRadius, usm.USMWeight->FRadius);
  EXPECT_EQ(copy->FMaxThread, 3);
  TMultiThread pool(2);
  // One engine over images of changing size, channels and depth, against a
  // fresh copy for each image.
  const TLayout seq[] = {{3, BPP_8, false}, {3, BPP_8, false}, {1, BPP_8, false}, {1, BPP_14, false}, {3, BPP_14, false}};
  uint32_t w = 31;
  for (const TLayout &l : seq) {
    TTestImage a(w, 13, l.Channels, l.BPP), b(w, 13, l.Channels, l.BPP);
    FillRandom(a, rng, 0, Full(a));
    for (uint32_t y = 0; y < 13; ++y) std::memcpy(ScanLine(b.I, y), ScanLine(a.I, y), a.I.Bpl);
    usm.DoUnSharpMask(a.I, false, &pool);
    std::unique_ptr<TUnsharpMask> fresh(usm.CreateMTUnSharpMask());
    fresh->DoUnSharpMask(b.I, false, nullptr);
    EXPECT_EQ(Samples(a), Samples(b)) << Name(l) << " width " << w;
    w += 9;
  }
}

// Each engine sharpens with its own settings: configuring another engine (a
// second worker, a preview) or the one it was copied from changes nothing in
// its results.
TEST_F(BlurTest, EachEngineKeepsItsOwnStrengthsWhileOthersAreConfigured) {
  std::mt19937 rng(8);
  TTestImage src(40, 17, 3, BPP_8);
  FillRandom(src, rng, 0, Full(src));
  const auto SharpenCopy = [&](TUnsharpMask &E) {
    TTestImage t(40, 17, 3, BPP_8);
    for (uint32_t y = 0; y < 17; ++y) std::memcpy(ScanLine(t.I, y), ScanLine(src.I, y), src.I.Bpl);
    E.DoUnSharpMask(t.I, false, nullptr);
    return Samples(t);
  };
  TUnsharpMask prototype;
  prototype.SetUnSharpMaskParam(60, 40, false, 1.5, 0, 0, 0);
  std::unique_ptr<TUnsharpMask> copy(prototype.CreateMTUnSharpMask());
  TUnsharpMask gentle;
  gentle.SetUnSharpMaskParam(60, 40, false, 1.5, 0, 0, 0);
  const std::vector<int32_t> want = SharpenCopy(gentle);
  ASSERT_NE(want, Samples(src));

  TUnsharpMask strong;
  strong.SetUnSharpMaskParam(500, 500, false, 1.5, 100, 100, 0);
  const std::vector<int32_t> strongResult = SharpenCopy(strong);
  ASSERT_NE(strongResult, want);
  prototype.SetUnSharpMaskParam(0, 0, false, 1.5, 0, 0, 0);
  EXPECT_EQ(SharpenCopy(gentle), want);
  EXPECT_EQ(SharpenCopy(*copy), want);
  EXPECT_EQ(SharpenCopy(prototype), Samples(src));  // strength 0 leaves the image as it was
}

TEST_F(BlurTest, UnreadableImagesRaiseErrors) {
  struct TCase {
    const char *Name;
    uint32_t BPP;
    bool NullMem;
    bool ShortStride;
  };
  const TCase cases[] = {{"16-bit", BPP_16, false, false}, {"no pixels", BPP_8, true, false},
                         {"stride shorter than a row", BPP_8, false, true}};
  for (const TCase &c : cases) {
    for (uint32_t channels : {1u, 3u}) {
      TTestImage t(12, 9, channels, c.BPP);
      uint8_t *mem = t.I.Mem;
      const uint32_t bpl = t.I.Bpl;
      if (c.NullMem) t.I.Mem = nullptr;
      if (c.ShortStride) t.I.Bpl = 5;
      TUnsharpMask usm;
      EXPECT_THROW(usm.DoUnSharpMask(t.I, false, nullptr), ETessivoError) << c.Name << " " << channels;
      if (channels == 1) {
        TGaussianBlur gb;
        EXPECT_THROW(gb.DoGauusianBlur(t.I, 256, nullptr), ETessivoError) << c.Name;
      }
      t.I.Mem = mem;
      t.I.Bpl = bpl;
    }
  }
}

// ---- Blur engine -------------------------------------------------------------------

TEST_F(BlurTest, MaskBlurFollowsTheGaussianAndScalesByOpacity) {
  const uint32_t n = 21;
  TGaussianBlur gb;
  gb.SetGauusianBlurParam(2.0);
  const TGaussianBlurWeight &w = *gb.GBWeight;
  double sum = 0;
  for (int32_t i = -3; i <= 3; ++i) sum += w.WeightTable[size_t(std::abs(i))];
  auto g = [&](int32_t d) { return std::abs(d) > 3 ? 0.0 : w.WeightTable[size_t(std::abs(d))] / sum; };

  std::vector<int32_t> full;
  TMultiThread pool(2);
  for (int32_t opacity : {256, 128}) {
    for (uint32_t bpp : {BPP_8, BPP_14}) {
      TTestImage t(n, n, 1, bpp);
      t.Fill([&](uint32_t x, uint32_t y, uint32_t) { return x == 10 && y == 10 ? (bpp == BPP_8 ? 255 : 16320) : 0; });
      gb.DoGauusianBlur(t.I, opacity, &pool);
      ASSERT_EQ(t.I.BPP, uint32_t(BPP_8));
      const std::vector<int32_t> got = Samples(t);
      for (uint32_t y = 0; y < n; ++y)
        for (uint32_t x = 0; x < n; ++x) {
          const double want = 255.0 * g(int32_t(x) - 10) * g(int32_t(y) - 10) * opacity / 256;
          EXPECT_NEAR(got[y * n + x], want, 1.0) << x << "," << y << " opacity " << opacity;
          if (opacity == 128 && bpp == BPP_8) {
            EXPECT_NEAR(got[y * n + x], full[y * n + x] / 2.0, 1.0);
          }
        }
      if (opacity == 256 && bpp == BPP_8) full = got;
    }
  }

  TTestImage flat(9, 5, 1, BPP_8);
  flat.Fill([](uint32_t, uint32_t, uint32_t) { return 200; });
  gb.DoGauusianBlur(flat.I, 256, nullptr);
  EXPECT_EQ(Samples(flat), std::vector<int32_t>(45, 200));
  TTestImage loud(9, 5, 1, BPP_8);
  loud.Fill([](uint32_t, uint32_t, uint32_t) { return 200; });
  gb.DoGauusianBlur(loud.I, 1000, nullptr);  // clamped at full scale
  EXPECT_EQ(Samples(loud), std::vector<int32_t>(45, 255));

  TTestImage rgb(9, 5, 3, BPP_8);
  rgb.Fill([](uint32_t x, uint32_t, uint32_t c) { return int32_t(x * 20 + c); });
  const std::vector<int32_t> before = Samples(rgb);
  gb.DoGauusianBlur(rgb.I, 256, nullptr);
  EXPECT_EQ(Samples(rgb), before);

  std::unique_ptr<TGaussianBlur> copy(gb.CreateMTGauusinBlur());
  EXPECT_EQ(copy->GBWeight->FRadius, 2.5);
  EXPECT_NE(copy->GBWeight.get(), gb.GBWeight.get());
}

}  // namespace
