// The noise-removal dialog's views without the dialog: which part of the
// picture each view shows, and how each view draws its section.
#include "core/MultiThread.h"
#include "core/PixelConvert.h"
#include "effects/DenoiseEffect.h"
#include "effects/DenoiseView.h"
#include "resample/tests/TestImage.h"
#include "testutil/TestEnv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool BindLibrary() {
  if (testenv::BinFile("libdenoise.so").empty()) return false;
  LoadDenoiseLibrary(TESSIVO_BIN_DIR);
  return DenoiseAvailable();
}

struct TSectionCase {
  const char *Name;
  uint32_t Width, Height;
  int32_t View, CX, CY;
  TDenoiseSection Expected;
};

class DenoiseViewSectionTest : public testing::TestWithParam<TSectionCase> {};

TEST_P(DenoiseViewSectionTest, ShowsTheSideOverTheZoomAroundTheCentreInsideThePicture) {
  const TSectionCase &c = GetParam();
  EXPECT_EQ(DenoiseViewSection(c.Width, c.Height, c.View, c.CX, c.CY), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Views, DenoiseViewSectionTest,
    testing::Values(
        TSectionCase{"Centre100Percent", 1000, 800, DENOISE_VIEW_100, 500, 400, {260, 160, 480, 480}},
        TSectionCase{"Centre200PercentHalfTheSide", 1000, 800, DENOISE_VIEW_100 + 1, 500, 400, {380, 280, 240, 240}},
        TSectionCase{"Corner300PercentKeptInside", 1000, 800, DENOISE_VIEW_100 + 2, 990, 790, {840, 640, 160, 160}},
        TSectionCase{"Origin400PercentKeptInside", 1000, 800, DENOISE_VIEW_100 + 3, 3, -50, {0, 0, 120, 120}},
        TSectionCase{"ComponentViewsAtFullSide", 1000, 800, DENOISE_VIEW_CR, 500, 400, {260, 160, 480, 480}},
        TSectionCase{"NoiseViewsAtMost480", 2000, 1500, DENOISE_VIEW_NOISE0 + 4, 0, 1500, {0, 1020, 480, 480}},
        TSectionCase{"SmallPictureWhole", 300, 200, DENOISE_VIEW_100, 10, 10, {0, 0, 300, 200}},
        TSectionCase{"ThinPictureAt200Percent", 1000, 90, DENOISE_VIEW_100 + 1, 500, 45, {380, 0, 240, 90}}),
    [](const testing::TestParamInfo<TSectionCase> &I) { return std::string(I.param.Name); });

// A flat neutral picture has no noise to remove, so every view shows what
// its mapping makes of the flat values: Y 8000 -> (8000 + 32) >> 6 = 125,
// Cb and Cr 0 -> 128, the removed noise 0 -> 128.
TEST(DenoiseView, EachViewDrawsItsMappingOfAFlatNeutralPicture) {
  TESSIVO_REQUIRE(BindLibrary()) << "no usable bin/libdenoise.so";
  struct Case {
    int32_t View;
    uint32_t Channels;
    uint8_t Expected;
  } cases[] = {
      {DENOISE_VIEW_100, 3, 125}, {DENOISE_VIEW_Y, 3, 125},        {DENOISE_VIEW_CB, 3, 128},
      {DENOISE_VIEW_CR, 3, 128},  {DENOISE_VIEW_NOISE0, 3, 128},   {DENOISE_VIEW_NOISE0 + 4, 3, 128},
      {DENOISE_VIEW_Y, 1, 125},   {DENOISE_VIEW_CB, 1, 128},       {DENOISE_VIEW_NOISE0 + 2, 1, 128},
  };
  TMultiThread pool(2);
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(DenoiseViewNames[c.View]) + " channels " + std::to_string(c.Channels));
    TTestImage img(70, 50, c.Channels, BPP_14);
    img.Fill([](uint32_t, uint32_t, uint32_t) { return 8000; });
    RenderDenoiseView(img.I, DenoisePreset(10), c.View, &pool, TDenoiseIsa::Sse2);
    ASSERT_EQ(img.I.BPP, uint32_t(BPP_8));
    ASSERT_EQ(img.I.Width, 70u);
    ASSERT_EQ(img.I.Height, 50u);
    const uint32_t channels = c.View == DENOISE_VIEW_100 ? c.Channels : 1;
    ASSERT_EQ(img.I.Channels, channels);
    for (uint32_t y = 0; y < 50; ++y)
      for (uint32_t x = 0; x < 70 * channels; ++x) ASSERT_EQ(ScanLine(img.I, y)[x], c.Expected) << x << "," << y;
  }
}

// The Y, Cb and Cr views show the components of the very pass the step
// runs: the step's output converted back to YCC gives the same gray levels
// within the rounding of the two conversions.
TEST(DenoiseView, ComponentViewsAreTheStepsOwnDenoisedComponents) {
  TESSIVO_REQUIRE(BindLibrary()) << "no usable bin/libdenoise.so";
  TMultiThread pool(2);
  TDenoiseEffect e;
  e.FAdvancedSetting = LongFalse;
  e.FStr = 12;
  auto fill = [](TTestImage &T) {
    T.Fill([](uint32_t x, uint32_t y, uint32_t c) {
      return int32_t(4000 + 40 * x + 25 * y + 900 * c + ((x * 7919 + y * 104729 + c * 31) % 1024) - 512);
    });
  };
  TTestImage stepped(96, 64, 3, BPP_14);
  fill(stepped);
  TEffectParams p;
  p.MT = &pool;
  e.DoEffect(stepped.I, p);
  ConvertToYCC14(stepped.I);
  for (int32_t view : {DENOISE_VIEW_Y, DENOISE_VIEW_CB, DENOISE_VIEW_CR}) {
    SCOPED_TRACE(DenoiseViewNames[view]);
    TTestImage shown(96, 64, 3, BPP_14);
    fill(shown);
    RenderDenoiseView(shown.I, e.Values(), view, &pool, DenoiseIsaFor(true));
    const uint32_t c = uint32_t(view - DENOISE_VIEW_Y);
    int32_t worst = 0;
    for (uint32_t y = 0; y < 64; ++y)
      for (uint32_t x = 0; x < 96; ++x) {
        const int32_t v = stepped.Get(x, y, c);
        const int32_t expected = std::clamp(c == 0 ? (v + 32) >> 6 : (v + 8192) >> 6, 0, 255);
        worst = std::max(worst, std::abs(int32_t(ScanLine(shown.I, y)[x]) - expected));
      }
    EXPECT_LE(worst, 1);
  }
}

}  // namespace
