#include "resample/Weight.h"

#include "core/Errors.h"
#include "resample/Resize.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <set>
#include <vector>

namespace {

constexpr int32_t kStep = 7;  // odd, so that offsets in units of the step stand out

// Owns a setter made with new and a table it built.
struct Table {
  TWeightTable WT{};
  ~Table() { FreeWeightTable(WT); }
};

struct SetterPtr {
  TWeightSetter *p;
  explicit SetterPtr(TWeightSetter *s) : p(s) {}
  ~SetterPtr() { p->Release(); }
  TWeightSetter *operator->() const { return p; }
};

using Dense = std::vector<std::vector<double>>;  // [destination][source]

// Decodes a table into a dense matrix, checking that every weight lands in
// the image (pad weights outside the run must be 0).
Dense Decode(const TWeightTable &WT, int32_t N, int32_t M, bool IsFloat) {
  Dense out(size_t(M), std::vector<double>(size_t(N), 0.0));
  for (int32_t d = 0; d < M; ++d) {
    const TWeightTableInfo &info = WT.WeightTableInfo[d];
    EXPECT_EQ(info.SrcOffset % kStep, 0);
    const int32_t count = WeightRowCount(info.pWeightTable);
    EXPECT_GT(count, 0);
    if (IsFloat) {
      const int32_t base = info.SrcOffset / kStep;
      for (int32_t k = 0; k < count; ++k) {
        const int32_t i = base + k;
        EXPECT_TRUE(i >= 0 && i < N) << "d=" << d << " i=" << i;
        if (i >= 0 && i < N) out[size_t(d)][size_t(i)] += FloatWeights(info)[k];
      }
    } else {
      const int32_t base = info.SrcOffset / kStep * 2;
      for (int32_t k = 0; k < 2 * count; ++k) {
        const int32_t i = base + k;
        const int16_t w = IntWeights(info)[k];
        if (i >= 0 && i < N)
          out[size_t(d)][size_t(i)] += w;
        else
          EXPECT_EQ(w, 0) << "pad weight outside the image, d=" << d;
      }
    }
  }
  return out;
}

// The window-function construction written out densely.
Dense Reference(const TWndFuncWeight &W, int32_t N, int32_t M) {
  Dense out(size_t(M), std::vector<double>(size_t(N), 0.0));
  const int R = W.Radius;
  for (int d = 0; d < M; ++d) {
    std::vector<double> &row = out[size_t(d)];
    double sum = 0;
    if (M < N) {
      const int n = (N * R * 2 + M - 1) / M;
      const int i0 = int(std::floor((d - R + 0.5) * N / M + 0.5));
      for (int i = i0; i < i0 + n; ++i) {
        const double v = W.WeightFunc(M * (i + 0.5) / N - (d + 0.5));
        row[size_t(std::clamp(i, 0, N - 1))] += v;
        sum += v;
      }
    } else {
      const double e = (d + 0.5) * N / M;
      const int i0 = int(std::floor(e - R + 0.5));
      for (int i = i0; i < i0 + 2 * R; ++i) {
        const double v = W.WeightFunc(i + 0.5 - e);
        row[size_t(std::clamp(i, 0, N - 1))] += v;
        sum += v;
      }
    }
    for (double &v : row) v /= sum;
  }
  return out;
}

// Every distinct row is stored once, and equal rows share storage.
void ExpectRowsShared(const TWeightTable &WT, int32_t M) {
  std::vector<const void *> rows;
  for (int32_t d = 0; d < M; ++d) rows.push_back(WT.WeightTableInfo[d].pWeightTable);
  auto words = [&](const void *p) {
    const int32_t count = WeightRowCount(p);
    return std::vector<uint32_t>(static_cast<const uint32_t *>(p) - 1,
                                 static_cast<const uint32_t *>(p) + count);
  };
  for (size_t a = 0; a < rows.size(); ++a)
    for (size_t b = a + 1; b < rows.size(); ++b)
      if (rows[a] != rows[b]) {
        EXPECT_NE(words(rows[a]), words(rows[b])) << "rows " << a << ", " << b;
      }
}

struct KernelCase {
  const char *name;
  std::function<TWndFuncWeight *()> make;
};

const std::vector<KernelCase> &Kernels() {
  static const std::vector<KernelCase> k = {
      {"Lanczos3", [] { return new TLanczos(3); }},
      {"Lanczos1", [] { return new TLanczos(1); }},
      {"Bilinear", [] { return new TBilinear; }},
      {"Bicubic", [] { return new TMitchellNetravali(1.0 / 3, 1.0 / 3); }},
      {"BicubicSharp", [] { return new TMitchellNetravali(0, 1); }},
      {"BlackmanSinc4", [] { return new TBlackmanSinc(4); }},
      {"Spline16", [] { return new TSpline16; }},
      {"Spline36", [] { return new TSpline36; }},
      {"Gaussian1", [] { return new TGaussian(1); }},
      {"Gaussian24", [] { return new TGaussian(24); }},
  };
  return k;
}

TEST(Weight, KernelsMatchTheConstructionOnRandomSizes) {
  std::mt19937 rng(12345);
  std::uniform_int_distribution<int> len(1, 90);
  for (const KernelCase &kc : Kernels()) {
    SetterPtr s(kc.make());
    const auto &w = *static_cast<TWndFuncWeight *>(s.p);
    for (int round = 0; round < 12; ++round) {
      const int N = len(rng), M = round == 0 ? N : len(rng);
      SCOPED_TRACE(testing::Message() << kc.name << " " << N << " -> " << M);
      const Dense ref = Reference(w, N, M);
      Table fi, in;
      s->SetWeight(fi.WT, N, true, kStep, M);
      s->SetWeight(in.WT, N, false, kStep, M);
      const Dense f = Decode(fi.WT, N, M, true), iw = Decode(in.WT, N, M, false);
      for (int d = 0; d < M; ++d)
        for (int i = 0; i < N; ++i) {
          const double r = ref[size_t(d)][size_t(i)];
          ASSERT_NEAR(f[size_t(d)][size_t(i)], r, 1e-6) << "d=" << d << " i=" << i;
          // Integer weights are truncated toward zero, each on its own.
          const double t = std::trunc(r * WEIGHT_ONE);
          ASSERT_NEAR(iw[size_t(d)][size_t(i)], t, 1.0) << "d=" << d << " i=" << i;
          ASSERT_LE(std::fabs(iw[size_t(d)][size_t(i)]), std::fabs(r * WEIGHT_ONE) + 1e-6);
        }
      ExpectRowsShared(fi.WT, M);
      ExpectRowsShared(in.WT, M);
    }
  }
}

struct IntRow {
  int32_t srcOffset;
  std::vector<int16_t> weights;
};

std::vector<IntRow> IntRows(TWeightSetter *S, int32_t N, int32_t M) {
  Table t;
  S->SetWeight(t.WT, N, false, kStep, M);
  std::vector<IntRow> rows;
  for (int32_t d = 0; d < M; ++d) {
    const TWeightTableInfo &info = t.WT.WeightTableInfo[d];
    const int32_t p = WeightRowCount(info.pWeightTable);
    rows.push_back({info.SrcOffset, std::vector<int16_t>(IntWeights(info), IntWeights(info) + 2 * p)});
  }
  return rows;
}

struct ExactCase {
  const char *name;
  std::function<TWeightSetter *()> make;
  int32_t N, M;
  std::vector<IntRow> rows;
};

bool operator==(const IntRow &a, const IntRow &b) { return a.srcOffset == b.srcOffset && a.weights == b.weights; }
void PrintTo(const IntRow &r, std::ostream *os) {
  *os << "{" << r.srcOffset << ":";
  for (int16_t w : r.weights) *os << " " << w;
  *os << "}";
}

TEST(Weight, ExactIntegerRows) {
  const std::vector<ExactCase> cases = {
      // Taps left of pixel 0 fold onto it; the last row starts at an odd pixel.
      {"bilinear 2->4", [] { return new TBilinear; }, 2, 4,
       {{0, {16384, 0}}, {0, {12288, 4096}}, {0, {4096, 12288}}, {0, {0, 16384}}}},
      {"area 4->2", [] { return new TAreaAverage; }, 4, 2, {{0, {8192, 8192}}, {kStep, {8192, 8192}}}},
      // 2.5 source pixels per destination pixel: partial end pixels.
      {"area 5->2", [] { return new TAreaAverage; }, 5, 2,
       {{0, {6553, 6553, 3276, 0}}, {kStep, {3276, 6553, 6553, 0}}}},
      {"area 3->2", [] { return new TAreaAverage; }, 3, 2, {{0, {10922, 5461}}, {0, {0, 5461, 10922, 0}}}},
      // Not reducing: each destination pixel lies in one source pixel.
      {"area 1->2", [] { return new TAreaAverage; }, 1, 2, {{0, {16384, 0}}, {0, {16384, 0}}}},
      {"nearest 2->4", [] { return new TNearestNeighbor; }, 2, 4,
       {{0, {16384, 0}}, {0, {16384, 0}}, {0, {0, 16384}}, {0, {0, 16384}}}},
      {"nearest 5->2", [] { return new TNearestNeighbor; }, 5, 2, {{0, {0, 16384}}, {kStep, {0, 16384}}}},
  };
  for (const ExactCase &c : cases) {
    SetterPtr s(c.make());
    EXPECT_EQ(IntRows(s.p, c.N, c.M), c.rows) << c.name;
  }
}

TEST(Weight, AreaAverageHalvingSharesOneRow) {
  SetterPtr s(new TAreaAverage);
  for (bool isFloat : {false, true}) {
    Table t;
    s->SetWeight(t.WT, 40, isFloat, kStep, 20);
    for (int d = 0; d < 20; ++d) {
      const TWeightTableInfo &info = t.WT.WeightTableInfo[d];
      EXPECT_EQ(info.pWeightTable, t.WT.WeightTableInfo[0].pWeightTable);
      EXPECT_EQ(info.SrcOffset, kStep * (isFloat ? 2 * d : d));
    }
    if (isFloat) {
      EXPECT_EQ(WeightRowCount(t.WT.WeightTableInfo[0].pWeightTable), 2);
      EXPECT_EQ(FloatWeights(t.WT.WeightTableInfo[0])[0], 0.5f);
    }
  }
}

TEST(Weight, AreaAverageCoversEverySourcePixelOnce) {
  // Summed over all destination pixels, each source pixel gets M / N.
  SetterPtr s(new TAreaAverage);
  for (auto [N, M] : {std::pair{7, 3}, {100, 33}, {64, 64}, {9, 8}, {1000, 1}}) {
    Table t;
    s->SetWeight(t.WT, N, true, kStep, M);
    const Dense f = Decode(t.WT, N, M, true);
    for (int i = 0; i < N; ++i) {
      double sum = 0;
      for (int d = 0; d < M; ++d) sum += f[size_t(d)][size_t(i)];
      EXPECT_NEAR(sum, double(M) / N, 1e-6) << N << "->" << M << " i=" << i;
    }
  }
}

TEST(Weight, NearestNeighbourPicksThePixelUnderTheCentre) {
  SetterPtr s(new TNearestNeighbor);
  for (auto [N, M] : {std::pair{10, 20}, {7, 3}, {3, 7}, {1, 5}, {5, 1}, {1000, 999}}) {
    Table fi, in;
    s->SetWeight(fi.WT, N, true, kStep, M);
    s->SetWeight(in.WT, N, false, kStep, M);
    const Dense f = Decode(fi.WT, N, M, true), iw = Decode(in.WT, N, M, false);
    for (int d = 0; d < M; ++d) {
      const int e = int(std::trunc((d + 0.5) * N / M));
      if (N * 2 == M) {
        EXPECT_EQ(e, d / 2);
      }
      EXPECT_EQ(f[size_t(d)][size_t(e)], 1.0);
      EXPECT_EQ(iw[size_t(d)][size_t(e)], WEIGHT_ONE);
    }
  }
}

TEST(Weight, HalvingRepeatsOneRowAwayFromTheEdges) {
  for (const KernelCase &kc : Kernels()) {
    SetterPtr s(kc.make());
    const int R = static_cast<TWndFuncWeight *>(s.p)->Radius;
    for (bool isFloat : {false, true}) {
      Table t;
      s->SetWeight(t.WT, 200, isFloat, kStep, 100);
      std::set<const void *> interior;
      for (int d = R + 1; d < 100 - R - 1; ++d) interior.insert(t.WT.WeightTableInfo[d].pWeightTable);
      EXPECT_EQ(interior.size(), 1u) << kc.name;
      EXPECT_FALSE(interior.count(t.WT.WeightTableInfo[0].pWeightTable)) << kc.name;
    }
  }
}

TEST(Weight, ParameterClamps) {
  struct C {
    TWndFuncWeight *w;
    int32_t radius;
  };
  const std::vector<C> cases = {
      {new TLanczos(0), 1},     {new TLanczos(-5), 1},      {new TLanczos(100), 32},
      {new TLanczos(32), 32},   {new TBlackmanSinc(40), 40}, {new TBlackmanSinc(0), 1},
      {new TGaussian(1), 1},    {new TGaussian(24), 4},      {new TGaussian(7), 2},
      {new TGaussian(0), 1},
  };
  for (const C &c : cases) {
    EXPECT_EQ(c.w->Radius, c.radius);
    Table t;
    c.w->SetWeight(t.WT, 10, true, kStep, 23);  // no NaN, sums stay 1
    const Dense f = Decode(t.WT, 10, 23, true);
    for (const auto &row : f) {
      double sum = 0;
      for (double v : row) sum += v;
      EXPECT_NEAR(sum, 1.0, 1e-5);
    }
    c.w->Release();
  }
  // Lanczos with radius 0 gives exactly the radius-1 tables.
  SetterPtr a(new TLanczos(0)), b(new TLanczos(1));
  EXPECT_EQ(IntRows(a.p, 13, 5), IntRows(b.p, 13, 5));
  EXPECT_EQ(IntRows(a.p, 5, 13), IntRows(b.p, 5, 13));
}

TEST(Weight, KernelValues) {
  struct C {
    const char *name;
    TWndFuncWeight *w;
    double x, value;
  };
  const double pi = 3.14159265358979323846;
  const std::vector<C> cases = {
      {"lanczos centre", new TLanczos(3), 0, 1},
      {"lanczos 0.5", new TLanczos(3), -0.5, std::sin(pi / 2) * std::sin(pi / 6) / (pi * pi / 4 / 3)},
      {"lanczos zero", new TLanczos(3), 2, 0},
      {"lanczos support", new TLanczos(3), 3, 0},
      {"bicubic 1/3 centre", new TMitchellNetravali(1.0 / 3, 1.0 / 3), 0, 8.0 / 9},
      {"bicubic 1/3 at 1", new TMitchellNetravali(1.0 / 3, 1.0 / 3), 1, 1.0 / 18},
      {"catmull-rom 1.5", new TMitchellNetravali(0, 0.5), 1.5, -0.0625},
      {"spline16 0.5", new TSpline16, 0.5, ((0.5 - 1.8) * 0.5 - 0.2) * 0.5 + 1},
      {"spline36 at 1", new TSpline36, 1, 0},
      {"spline36 2.5", new TSpline36, 2.5, ((1.0 / 11 * 0.5 - 45.0 / 209) * 0.5 + 26.0 / 209) * 0.5},
      {"blackman centre", new TBlackmanSinc(3), 0, 1},
      {"gaussian 24", new TGaussian(24), 1.2, std::exp(-200 * 1.44 / 576) - std::exp(-200 * 16.0 / 576)},
      {"gaussian edge", new TGaussian(24), 4, 0},
  };
  for (const C &c : cases) {
    EXPECT_NEAR(c.w->WeightFunc(c.x), c.value, 1e-12) << c.name;
    c.w->Release();
  }
}

TEST(Weight, NegativeLobesTruncateTowardZero) {
  SetterPtr s(new TLanczos(3));
  bool sawNegative = false;
  for (const IntRow &r : IntRows(s.p, 10, 37))
    for (int16_t w : r.weights) sawNegative |= w < 0;
  EXPECT_TRUE(sawNegative);
}

TEST(Weight, BadLengthsRaise) {
  SetterPtr s(new TLanczos(3));
  for (auto [N, M] : {std::pair{0, 5}, {5, 0}, {-1, 5}, {5, -3}})
    for (bool isFloat : {false, true}) {
      Table t;
      EXPECT_THROW(s->SetWeight(t.WT, N, isFloat, kStep, M), ETessivoError);
      EXPECT_EQ(t.WT.WeightTableBuf, nullptr);
    }
  SetterPtr nn(new TNearestNeighbor), area(new TAreaAverage);
  Table t;
  EXPECT_THROW(nn->SetWeight(t.WT, 0, false, kStep, 4), ETessivoError);
  EXPECT_THROW(area->SetWeight(t.WT, 4, true, kStep, 0), ETessivoError);
  // Offsets that do not fit the 32-bit field raise instead of wrapping.
  EXPECT_THROW(nn->SetWeight(t.WT, 100, true, 1 << 26, 100), ETessivoError);
}

struct Tracked : TBilinear {
  bool *gone;
  explicit Tracked(bool *g) : gone(g) {}
  ~Tracked() override { *gone = true; }
};

TEST(Weight, ReleaseFreesBelowZero) {
  bool gone = false;
  auto *s = new Tracked(&gone);
  s->AddRef();
  s->Release();
  EXPECT_FALSE(gone);
  EXPECT_EQ(s->RefCount.load(), 0);
  s->Release();
  EXPECT_TRUE(gone);
}

TEST(Weight, ModeTable) {
  struct C {
    uint32_t mode;
    int32_t param;
    LongBool limited;
    const char *descriptor;
  };
  const std::vector<C> cases = {
      {RESIZE_AREA_AVERAGE, 3, LongFalse, "Average"},
      {RESIZE_LANCZOS, 3, LongTrue, "Lanczos3"},
      {RESIZE_LANCZOS, 1, LongFalse, "Lanczos1"},
      {RESIZE_BILINEAR, 0, LongFalse, "Bilinear"},
      {RESIZE_BICUBIC, 0, LongFalse, "Bicubic0"},
      {RESIZE_BICUBIC, 2, LongTrue, "Bicubic2"},
      {RESIZE_BICUBIC, -4, LongFalse, "Bicubic-4"},
      {RESIZE_BLACKMAN_SINC, 2, LongTrue, "BlackmanSinc2"},
      {RESIZE_BLACKMAN_SINC, 1, LongFalse, "BlackmanSinc1"},
      {RESIZE_SPLINE16, 0, LongTrue, "Spline16"},
      {RESIZE_SPLINE36, 0, LongTrue, "Spline36"},
      {RESIZE_GAUSSIAN, 12, LongFalse, "Gaussian12"},
      {RESIZE_NEAREST_NEIGHBOR, 0, LongFalse, "NearestNeighbor"},
  };
  for (const C &c : cases) {
    TCreatedWeightSetter ws = CreateWeightSetter(c.mode, c.param);
    EXPECT_EQ(ws.IsLimited, c.limited) << c.descriptor;
    EXPECT_EQ(ws.Setter->RefCount.load(), 0);
    EXPECT_EQ(ResizeModeDescriptor(c.mode, c.param), c.descriptor);
    ws.Setter->Release();
  }
  EXPECT_STREQ(FindResizeMode(RESIZE_AREA_AVERAGE)->ListName, "平均画素法");
  EXPECT_THROW(CreateWeightSetter(0, 0), ETessivoError);
  EXPECT_THROW(CreateWeightSetter(10, 0), ETessivoError);
}

// Each method takes the option its kernel is built from: the radius counts
// lobes, the sharpness walks the bicubic line, the blur widens the Gaussian.
TEST(Weight, EachMethodTakesItsParameterFromOneOption) {
  const struct {
    uint32_t Mode;
    int32_t Param;  // of radius 11, sharpness 22, blur 33
    const char *Descriptor;
  } cases[] = {
      {RESIZE_AREA_AVERAGE, 0, "Average"},       {RESIZE_LANCZOS, 11, "Lanczos11"},
      {RESIZE_BILINEAR, 0, "Bilinear"},          {RESIZE_BICUBIC, 22, "Bicubic22"},
      {RESIZE_BLACKMAN_SINC, 11, "BlackmanSinc11"}, {RESIZE_SPLINE16, 0, "Spline16"},
      {RESIZE_SPLINE36, 0, "Spline36"},          {RESIZE_GAUSSIAN, 33, "Gaussian33"},
      {RESIZE_NEAREST_NEIGHBOR, 0, "NearestNeighbor"}, {0, 0, ""}, {10, 0, ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Descriptor);
    const int32_t param = ModeParam(c.Mode, 11, 22, 33);
    EXPECT_EQ(param, c.Param);
    EXPECT_EQ(ResizeModeDescriptor(c.Mode, param), c.Descriptor);
  }
  // Every code has exactly one entry, and the tool names are distinct.
  std::set<uint32_t> codes;
  std::set<std::string> tools;
  for (const TResizeModeInfo &m : ResizeModeTable) {
    codes.insert(m.Code);
    tools.insert(m.ToolName);
  }
  EXPECT_EQ(codes.size(), std::size(ResizeModeTable));
  EXPECT_EQ(tools.size(), std::size(ResizeModeTable));
}

TEST(Weight, BicubicSharpnessWalksTheLine) {
  struct C {
    int32_t s;
    double b, c;
  } cases[] = {{-4, 1, 0}, {0, 1.0 / 3, 1.0 / 3}, {2, 0, 0.5}, {8, 0, 1}};
  for (const C &c : cases) {
    double b, cc;
    BicubicParamsFromSharp(c.s, b, cc);
    EXPECT_NEAR(b, c.b, 1e-15) << c.s;
    EXPECT_NEAR(cc, c.c, 1e-15) << c.s;
  }
}

TEST(Weight, ResizeDescriptor) {
  struct C {
    uint32_t sw, sh, dw, dh;
    bool isFloat, degamma;
    const char *text;
  } cases[] = {
      {100, 100, 50, 50, false, false, "Lanczos3_int"},
      {100, 100, 200, 50, true, false, "Spline36_float"},
      {100, 100, 100, 200, false, true, "Spline36_int_degamma"},
      {100, 100, 100, 50, true, true, "Lanczos3_float_degamma"},
      {100, 100, 50, 200, false, false, "Lanczos3_int"},
      {100, 100, 100, 100, true, false, "None_float"},
  };
  for (const C &c : cases)
    EXPECT_EQ(ResizeDescriptor(RESIZE_LANCZOS, 3, RESIZE_SPLINE36, 0, c.sw, c.sh, c.dw, c.dh, c.isFloat, c.degamma),
              c.text);
}

}  // namespace
