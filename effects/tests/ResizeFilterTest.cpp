// Target sizes of the size rules, and the resize step run through the chain.
#include "effects/RunSettings.h"
#include "effects/Effect.h"
#include "core/Errors.h"
#include "resample/Filter.h"
#include "core/PixelConvert.h"
#include "resample/Resize.h"
#include "resample/Weight.h"
#include "effects/ResizeFilter.h"
#include "effects/RotationFilter.h"
#include "resample/tests/TestImage.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <random>
#include <string>

namespace {

class LibraryEnv : public testing::Environment {
public:
  void SetUp() override { LoadResizeLibrary(TESSIVO_BIN_DIR); }
  void TearDown() override { FreeResizeLibrary(); }
};
const auto *const Env = testing::AddGlobalTestEnvironment(new LibraryEnv);

TEST(ResizeFilter, NewSizeOfEveryRule) {
  struct Case {
    int32_t rule;
    double v, u;
    int32_t w, h, downScale;
    bool noExpand;
    int32_t W, H;
  } cases[] = {
      // A: ratio; the loader's factor is taken into account.
      {0, 50, 0, 1000, 800, 1, false, 500, 400},
      {0, 50, 0, 500, 400, 2, false, 500, 400},
      {0, 33.3, 0, 1000, 3, 1, false, 333, 1},
      {0, 1, 0, 20, 20, 1, false, 1, 1},  // 0.2 pixels: never below 1
      // B and C: one side, the other in proportion.
      {1, 800, 0, 3000, 2000, 1, false, 800, 533},
      {1, 800, 0, 2000, 3000, 1, false, 533, 800},
      {1, 800, 0, 3000, 3000, 1, false, 800, 800},  // square is not portrait
      {1, 800, 0, 3000, 2000, 4, false, 800, 533},  // pixel rules ignore the factor
      {2, 384, 0, 3000, 2000, 1, false, 576, 384},
      {2, 384, 0, 2000, 3000, 1, false, 384, 576},
      {3, 512, 0, 1000, 800, 1, false, 512, 410},
      {4, 384, 0, 1000, 800, 1, false, 480, 384},
      // D and E: percentages per side.
      {5, 50, 25, 1000, 800, 1, false, 500, 200},
      {5, 50, 25, 800, 1000, 1, false, 200, 500},
      {5, 50, 25, 500, 400, 2, false, 500, 200},
      {6, 50, 25, 800, 1000, 1, false, 400, 250},
      // F and G: fixed sizes.
      {7, 640, 480, 1000, 800, 1, false, 640, 480},
      {7, 640, 480, 800, 1000, 1, false, 480, 640},
      {7, 640, 480, 500, 400, 2, false, 640, 480},
      {8, 2000, 500, 1000, 1000, 1, false, 2000, 500},
      {8, 2000, 500, 1000, 1000, 1, true, 1000, 1000},  // the width would grow: nothing changes
      {8, 0, -5, 1000, 1000, 1, false, 1, 1},
      // H and I: inscribed.
      {10, 800, 600, 4000, 2000, 1, false, 800, 400},
      {10, 800, 600, 2000, 4000, 1, false, 300, 600},
      {12, 800, 600, 4000, 2000, 1, false, 800, 400},
      {12, 800, 600, 2000, 4000, 1, false, 400, 800},
      {12, 800, 600, 1000, 1200, 1, false, 600, 720},
      // J and K: circumscribed.
      {11, 800, 600, 4000, 2000, 1, false, 1200, 600},
      {11, 800, 600, 2000, 4000, 1, false, 800, 1600},
      {13, 800, 600, 4000, 2000, 1, false, 1200, 600},
      {13, 800, 600, 2000, 4000, 1, false, 600, 1200},
      {13, 800, 600, 1000, 1200, 1, false, 667, 800},
      {13, 800, 600, 1000, 1200, 1, true, 667, 800},  // shrinking is allowed with NoExpand
      // Enlargement, and what is left alone.
      {0, 150, 0, 100, 80, 1, false, 150, 120},
      {0, 150, 0, 100, 80, 1, true, 100, 80},
      {9, 640, 480, 100, 80, 1, false, 100, 80},
      {20, 640, 480, 100, 80, 1, false, 100, 80},
      {8, 640, 480, 0, 80, 1, false, 0, 80},
      {0, 1e300, 0, 100, 80, 1, false, INT32_MAX, INT32_MAX},
      {1, 1e12, 0, 100, 80, 1, false, INT32_MAX, 1717986918},
  };
  for (const Case &c : cases) {
    int32_t w = c.w, h = c.h;
    CalcNewSize(c.rule, c.v, c.u, c.noExpand, c.downScale, w, h);
    EXPECT_EQ(w, c.W) << "rule " << c.rule << " " << c.w << "x" << c.h << " /" << c.downScale;
    EXPECT_EQ(h, c.H) << "rule " << c.rule << " " << c.w << "x" << c.h << " /" << c.downScale;
  }
}

TEST(ResizeFilter, IsChangeAndTheOwnersRule) {
  ResizeOption = TResizeOption();
  TEffectList list;
  auto *r = new TResizeFilter;
  list.AddFilter(r);
  TImageProbe info;
  info.Width = 1000;
  info.Height = 1000;
  list.SetResizeParam(8, 1000, 1000);
  EXPECT_FALSE(r->IsChange(info));
  list.SetResizeParam(8, 2000, 500);
  EXPECT_TRUE(r->IsChange(info));
  list.FResizeNoExpand = true;
  EXPECT_FALSE(r->IsChange(info));  // it would grow, so it stays
  list.FResizeNoExpand = false;
  r->SetUse(false);
  list.SetResizeParam(0, 10, 0);
  EXPECT_FALSE(r->IsChange(info));
  r->SetUse(true);
  info.Width = 0;  // not probed: it has to be run
  EXPECT_TRUE(r->IsChange(info));
  ResizeOption = TResizeOption();
}

// The resize step alone, run through the chain, gives exactly what the
// configured resizer gives for the image at the working depth.
struct ChainCase {
  uint32_t channels, bpp;
  int32_t decimation, interpolation, simd;
  bool limiter;
  int32_t rule;
  double v, u;
};

// "Lanczos", "Spline36", "Average": the method without its parameter.
std::string ModeName(int32_t Mode) {
  const TResizeModeInfo *m = FindResizeMode(uint32_t(Mode));
  if (!m) return "Mode" + std::to_string(Mode);
  const std::string d = m->Descriptor;
  return d.substr(0, d.find('%'));
}

// e.g. "Lanczos_Spline36_3ch_8bit_int_limiter_rule8"
std::string ChainCaseName(const ChainCase &c) {
  return ModeName(c.decimation) + "_" + ModeName(c.interpolation) + "_" + std::to_string(c.channels) + "ch_" +
         std::to_string(c.bpp) + "bit_" + (c.simd == SIMD_MODE_FLOAT ? "float" : "int") +
         (c.limiter ? "_limiter" : "") + "_rule" + std::to_string(c.rule);
}

void PrintTo(const ChainCase &c, std::ostream *os) {
  *os << ChainCaseName(c) << ", size values " << c.v << " and " << c.u;
}

class ResizeChain : public testing::TestWithParam<ChainCase> {};

TEST_P(ResizeChain, MatchesTheConfiguredResizer) {
  const ChainCase &c = GetParam();
  ResizeOption = TResizeOption();
  ResizeOption.DecimationSharp = 2;

  TCreatedWeightSetter a = CreateWeightSetter(RESIZE_AREA_AVERAGE, 0), b = CreateWeightSetter(RESIZE_AREA_AVERAGE, 0);
  TResizer worker(RESIZE_AREA_AVERAGE, a.Setter, a.IsLimited, RESIZE_AREA_AVERAGE, b.Setter, b.IsLimited);
  ApplyResizeKernels(worker, ResizeOption, c.decimation, c.interpolation, c.simd);
  std::unique_ptr<TResizer> reference(worker.CreateMTResizer());
  TMultiThread pool(2);

  TTestImage img(61, 47, c.channels, c.bpp);
  std::mt19937 rng(c.channels * 100 + c.bpp);
  const int hi = c.bpp == BPP_8 ? 255 : 65535;
  std::uniform_int_distribution<int> d(0, hi);
  img.Fill([&](uint32_t, uint32_t, uint32_t) { return d(rng); });
  TTestImage expect(61, 47, c.channels, c.bpp);
  std::memcpy(expect.I.Mem, img.I.Mem, size_t(img.I.Bpl) * img.I.Height);
  if (c.bpp == BPP_16) Convert16To14(expect.I);

  TEffectList list;
  list.AddFilter(new TResizeFilter);
  list.SetResizeParam(c.rule, c.v, c.u);
  TImageProbe info;
  info.Width = 61;
  info.Height = 47;
  TEffectParams p;
  TRunSettings run;
  run.Resize.Limiter = c.limiter;
  p.Resizer = &worker;
  p.MT = &pool;
  p.Settings = &run;
  list.DoEffect(img.I, info, p, 1);

  int32_t W = 61, H = 47;
  CalcNewSize(c.rule, c.v, c.u, false, 1, W, H);
  reference->ResizeImage(expect.I, uint32_t(W), &pool, c.limiter, c.channels == 4, uint32_t(H));
  ASSERT_EQ(img.I.Width, uint32_t(W));
  ASSERT_EQ(img.I.Height, uint32_t(H));
  ASSERT_EQ(img.I.BPP, uint32_t(BPP_14));
  ASSERT_EQ(img.I.Bpl, expect.I.Bpl);
  for (uint32_t y = 0; y < img.I.Height; ++y)
    for (uint32_t x = 0; x < img.I.Width; ++x)
      for (uint32_t ch = 0; ch < c.channels; ++ch)
        ASSERT_EQ(img.Get(x, y, ch), expect.Get(x, y, ch)) << x << "," << y << "," << ch;
  EXPECT_EQ(p.DownScale, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Depths, ResizeChain,
    testing::Values(ChainCase{3, BPP_8, RESIZE_LANCZOS, RESIZE_SPLINE36, SIMD_MODE_INTEGER, true, 8, 37, 23},
                    ChainCase{3, BPP_16, RESIZE_LANCZOS, RESIZE_SPLINE36, SIMD_MODE_INTEGER, true, 8, 37, 23},
                    ChainCase{1, BPP_8, RESIZE_BICUBIC, RESIZE_BICUBIC, SIMD_MODE_FLOAT, false, 0, 150, 0},
                    ChainCase{1, BPP_16, RESIZE_SPLINE16, RESIZE_SPLINE16, SIMD_MODE_INTEGER, true, 12, 100, 30},
                    ChainCase{4, BPP_8, RESIZE_GAUSSIAN, RESIZE_BILINEAR, SIMD_MODE_INTEGER, false, 8, 90, 20},
                    ChainCase{4, BPP_16, RESIZE_AREA_AVERAGE, RESIZE_NEAREST_NEIGHBOR, SIMD_MODE_FLOAT, true, 3, 30,
                              0}),
    [](const auto &i) { return ChainCaseName(i.param); });

// A chain holding only the resize step, run by a resizer of the given kernels.
struct TResizeStepChain {
  std::unique_ptr<TResizer> Resizer;
  TEffectList List;
  TImageProbe Info;
  TEffectParams Params;
  const TRunSettings Run;
  TResizeStepChain(uint32_t Down, int32_t DownParam, uint32_t Up) {
    ResizeOption = TResizeOption();
    const TCreatedWeightSetter d = CreateWeightSetter(Down, DownParam), u = CreateWeightSetter(Up, 0);
    Resizer = std::make_unique<TResizer>(Down, d.Setter, d.IsLimited, Up, u.Setter, u.IsLimited);
    List.AddFilter(new TResizeFilter);
    Params.Settings = &Run;
    Params.Resizer = Resizer.get();
  }
};

// A quarter turn by the Exif rotation just before the resize step runs after
// it: the stored picture is resized to the turned size with the axes swapped
// and only the result is turned. The size rules still see the turned picture
// (the width rule below gives another size on the stored one), and the
// pixels are those of turning first and resizing then but for the rounding
// between the two resampling passes: within one step of 16320 (the 14-bit
// pass keeps its intermediate sums wide, so only the last rounding can
// differ). A preview that stops at the resize step turns the whole picture
// as before.
TEST(ResizeFilter, QuarterTurnOfTheExifRotationRunsAfterTheResize) {
  TResizeStepChain chain(RESIZE_LANCZOS, 3, RESIZE_SPLINE36);
  auto *rotation = new TExifRotationFilter;
  rotation->SetUse(true);
  TEffectList list;
  list.AddFilter(rotation);
  list.AddFilter(new TResizeFilter);
  list.SetResizeParam(3, 30, 0);  // width 30, the height by the aspect
  TMultiThread pool(2);
  chain.Params.MT = &pool;
  const uint32_t w = 61, h = 47;
  std::mt19937 rng(61);
  std::uniform_int_distribution<int> d(0, 255);
  TTestImage src(w, h, 3, BPP_8);
  src.Fill([&](uint32_t x, uint32_t y, uint32_t c) { return (int32_t(x * 4 + y * 3 + c * 50) + d(rng) / 4) % 256; });
  for (int32_t o = 1; o <= 8; ++o) {
    SCOPED_TRACE("orientation " + std::to_string(o));
    TTestImage img(w, h, 3, BPP_8), expect(w, h, 3, BPP_8);
    std::memcpy(img.I.Mem, src.I.Mem, size_t(src.I.Bpl) * h);
    std::memcpy(expect.I.Mem, src.I.Mem, size_t(src.I.Bpl) * h);
    TImageProbe info;
    info.Width = int32_t(w), info.Height = int32_t(h), info.FOrientation = uint16_t(o);
    list.DoEffect(img.I, info, chain.Params, 1);

    const TOrientationFix fix = OrientationFix(o);
    for (int i = 0; i < fix.Count; ++i) ApplyGeometryOp(expect.I, fix.Ops[i]);
    const bool swaps = o >= 5;
    const uint32_t W = 30, H = swaps ? 39 : 23;  // 61 x 47 or 47 x 61, width 30
    chain.Resizer->ResizeImage(expect.I, W, &pool, false, false, H);
    ASSERT_EQ(img.I.Width, W);
    ASSERT_EQ(img.I.Height, H);
    int32_t worst = 0;
    for (uint32_t y = 0; y < H; ++y)
      for (uint32_t x = 0; x < W; ++x)
        for (uint32_t c = 0; c < 3; ++c) worst = std::max(worst, std::abs(img.Get(x, y, c) - expect.Get(x, y, c)));
    // Upright and half-turned pictures take the steps in their order: the same bytes.
    EXPECT_LE(worst, swaps ? 1 : 0);
  }
  TTestImage preview(w, h, 3, BPP_8);
  std::memcpy(preview.I.Mem, src.I.Mem, size_t(src.I.Bpl) * h);
  TImageProbe info;
  info.Width = int32_t(w), info.Height = int32_t(h), info.FOrientation = 6;
  list.GetBeforeImage(EFFECT_RESIZE, preview.I, chain.Params, 1, info);
  EXPECT_EQ(preview.I.Width, h);
  EXPECT_EQ(preview.I.Height, w);
  EXPECT_EQ(chain.Params.TurnAfterResize, false);
}

// A rule that keeps the size changes nothing: 16-bit samples keep their low
// bits instead of passing through the working depth.
TEST(ResizeFilter, SixteenBitSamplesAtFullSizeStayExact) {
  TResizeStepChain chain(RESIZE_LANCZOS, 3, RESIZE_SPLINE36);
  const struct {
    const char *Rule;
    int32_t Type;
    double Value;
  } rules[] = {{"100 %", 0, 100}, {"long side equal to the image's", 1, 37}};
  auto sample = [](uint32_t x, uint32_t y, uint32_t c) { return int32_t((4660 + x * 977 + y * 131 + c * 7) % 65536); };
  for (const auto &r : rules)
    for (uint32_t channels : {1u, 3u, 4u}) {
      SCOPED_TRACE(std::string(r.Rule) + ", " + std::to_string(channels) + " channels");
      TTestImage img(37, 21, channels, BPP_16);
      img.Fill(sample);
      chain.List.SetResizeParam(r.Type, r.Value, 0);
      chain.Params.DownScale = 1;
      chain.List.DoEffect(img.I, chain.Info, chain.Params, 1);
      ASSERT_EQ(img.I.Width, 37u);
      ASSERT_EQ(img.I.BPP, uint32_t(BPP_16));
      for (uint32_t y = 0; y < 21; ++y)
        for (uint32_t x = 0; x < 37; ++x)
          for (uint32_t c = 0; c < channels; ++c) ASSERT_EQ(img.Get(x, y, c), sample(x, y, c)) << x << "," << y;
    }
}

TEST(ResizeFilter, FullScaleAndErrors) {
  TResizeStepChain chain(RESIZE_AREA_AVERAGE, 0, RESIZE_SPLINE36);
  TEffectList &list = chain.List;
  TImageProbe &info = chain.Info;
  TEffectParams &p = chain.Params;

  // White stays white at the working depth, from 8 and from 16 bits.
  for (uint32_t bpp : {uint32_t(BPP_8), uint32_t(BPP_16)}) {
    TTestImage img(40, 30, 3, bpp);
    img.Fill([&](uint32_t, uint32_t, uint32_t) { return bpp == BPP_8 ? 255 : 65535; });
    list.SetResizeParam(0, 50, 0);
    list.DoEffect(img.I, info, p, 1);
    ASSERT_EQ(img.I.Width, 20u);
    for (uint32_t y = 0; y < img.I.Height; ++y)
      for (uint32_t x = 0; x < img.I.Width; ++x) ASSERT_EQ(img.Get(x, y, 1), FULL_SCALE_14);
  }

  // A JPEG the loader already halved reaches a 50% rule once, not twice.
  TTestImage half(20, 15, 1, BPP_8);
  list.SetResizeParam(0, 50, 0);
  p.DownScale = 0;
  list.DoEffect(half.I, info, p, 2);
  EXPECT_EQ(half.I.Width, 20u);
  EXPECT_EQ(half.I.Height, 15u);
  EXPECT_EQ(half.I.BPP, uint32_t(BPP_8));  // same size: left as it was
  EXPECT_EQ(p.DownScale, 1);

  // An absurd rule value fails the file with a message instead of overflowing.
  TTestImage big(8, 8, 1, BPP_8);
  list.SetResizeParam(8, 1e9, 10);
  EXPECT_THROW(list.DoEffect(big.I, info, p, 1), ETessivoError);
  EXPECT_EQ(big.I.Width, 8u);

  TEffectParams none;
  EXPECT_THROW(list.DoEffect(big.I, info, none, 1), ETessivoError);
}

}  // namespace
