// The histogram record: bins of each mode on tiny images, 14-bit rounding,
// and the same counts for any number of threads.
#include "core/MultiThread.h"
#include "effects/Histogram.h"
#include "resample/tests/TestImage.h"

#include <gtest/gtest.h>

#include <random>

namespace {

TEST(Histogram, BinsOfEachMode) {
  struct Case {
    const char *Name;
    uint32_t Channels, BPP;
    std::array<int32_t, 3> Px;  // B, G, R (or gray)
    int32_t Mode;
    std::vector<uint32_t> Bins;  // every bin that must hold the one pixel
  } cases[] = {
      {"luma of pure red: (19595 x 255 + 32768) >> 16", 3, BPP_8, {0, 0, 255}, 0, {76, HIST_Y + 76}},
      {"blue, green, red", 3, BPP_8, {1, 2, 3}, 1, {1, HIST_GREEN + 2, HIST_RED + 3}},
      {"Y, Cb, Cr of pure red (Cr clamps)", 3, BPP_8, {0, 0, 255}, 2, {HIST_Y + 76, HIST_CB + 85, HIST_CR + 255}},
      {"all six", 3, BPP_8, {0, 0, 255}, 3, {0, HIST_GREEN, HIST_RED + 255, HIST_Y + 76, HIST_CB + 85, HIST_CR + 255}},
      {"gray counts its level and copies it to Y", 1, BPP_8, {200}, 3, {200, HIST_Y + 200}},
      {"14-bit samples round to the nearest level", 1, BPP_14, {95}, 1, {1, HIST_Y + 1}},
      {"14-bit 31 is level 0", 1, BPP_14, {31}, 0, {0, HIST_Y}},
      {"14-bit beyond full scale is level 255", 3, BPP_14, {16400, 0, 0}, 1, {255, HIST_GREEN, HIST_RED}},
      {"14-bit full scale 16320 is level 255", 1, BPP_14, {16320}, 1, {255, HIST_Y + 255}},
      {"14-bit 16 is level 0", 1, BPP_14, {16}, 1, {0, HIST_Y}},
      {"14-bit 32 rounds up to level 1", 1, BPP_14, {32}, 1, {1, HIST_Y + 1}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    TTestImage img(1, 1, c.Channels, c.BPP);
    for (uint32_t k = 0; k < c.Channels; ++k) img.Set(0, 0, k, c.Px[k]);
    THistogramCounts h;
    CalcHistogram(img.I, h, c.Mode, nullptr, nullptr);
    uint64_t total = 0;
    for (uint32_t v : h) total += v;
    EXPECT_EQ(total, c.Bins.size());
    for (uint32_t b : c.Bins) EXPECT_EQ(h[b], 1u) << "bin " << b;
  }
}

TEST(Histogram, SameCountsForAnyThreadCount) {
  TTestImage img(97, 61, 3, BPP_8);
  std::mt19937 rng(5);
  img.Fill([&](uint32_t, uint32_t, uint32_t) { return int32_t(rng() % 256); });
  THistogramCounts one, many;
  CalcHistogram(img.I, one, 3, nullptr, nullptr);
  TMultiThread pool(3);
  CalcHistogram(img.I, many, 3, nullptr, &pool);
  EXPECT_EQ(one, many);
  uint64_t blue = 0;
  for (size_t i = 0; i < 256; ++i) blue += one[i];
  EXPECT_EQ(blue, 97u * 61u);
}

}  // namespace
