#include "resample/Resize.h"

#include "core/Errors.h"
#include "resample/tests/TestImage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

// Source window of destination index i, straight from the definition.
std::pair<int, int> Window(int i, int S, int D) {
  const int b = std::max(3, int(std::ceil(2.0 * S / D)));
  const int w = D < S ? int(std::floor((i - 0.5) * S / D + 0.5)) : int(std::trunc((i + 0.5) * S / D)) - 1;
  return {std::max(w, 0), std::min(w + b - 1, S - 1)};
}

int To14(int v, uint32_t BPP) {
  if (BPP == BPP_8) return v * 64;
  if (BPP == BPP_16) return int(int64_t(v) * FULL_SCALE_14 / 65535);
  return int16_t(v);
}

TEST(Limiter, ClampsToTheSourceRangeOfTheWindow) {
  struct C {
    uint32_t sw, sh, dw, dh, ch, bpp;
  };
  std::vector<C> cases = {
      {40, 30, 20, 15, 3, BPP_8},  {17, 13, 45, 29, 1, BPP_8},  {31, 9, 7, 20, 4, BPP_8},
      {12, 12, 12, 5, 3, BPP_14},  {9, 23, 100, 3, 4, BPP_16}, {1, 1, 3, 3, 3, BPP_8},
      {50, 2, 1, 1, 1, BPP_14},    {3, 64, 3, 64, 4, BPP_8},
  };
  std::mt19937 rng(7);
  // Random geometries, so that every remainder of the vector loops runs.
  std::uniform_int_distribution<uint32_t> len(1, 70), pick(0, 2);
  const uint32_t chans[] = {1, 3, 4}, depths[] = {BPP_8, BPP_14, BPP_16};
  for (int i = 0; i < 12; ++i)
    cases.push_back({len(rng), len(rng), len(rng), len(rng), chans[pick(rng)], depths[pick(rng)]});
  for (const C &c : cases) {
    SCOPED_TRACE(testing::Message() << c.sw << "x" << c.sh << " -> " << c.dw << "x" << c.dh << " ch " << c.ch
                                    << " bpp " << c.bpp);
    TTestImage src(c.sw, c.sh, c.ch, c.bpp);
    const int hiVal = c.bpp == BPP_8 ? 255 : c.bpp == BPP_14 ? FULL_SCALE_14 : 65535;
    std::uniform_int_distribution<int> val(c.bpp == BPP_14 ? -200 : 0, hiVal);
    for (uint32_t y = 0; y < c.sh; ++y)
      for (uint32_t x = 0; x < c.sw; ++x)
        for (uint32_t k = 0; k < c.ch; ++k) src.Set(x, y, k, val(rng));
    TTestImage out(c.dw, c.dh, c.ch, BPP_14);
    std::uniform_int_distribution<int> wild(-20000, 20000);
    for (uint32_t y = 0; y < c.dh; ++y)
      for (uint32_t x = 0; x < c.dw; ++x)
        for (uint32_t k = 0; k < c.ch; ++k) out.Set(x, y, k, wild(rng));
    std::vector<int> before;
    for (uint32_t y = 0; y < c.dh; ++y)
      for (uint32_t x = 0; x < c.dw; ++x)
        for (uint32_t k = 0; k < c.ch; ++k) before.push_back(int16_t(out.Get(x, y, k)));

    for (int32_t threads : {1, 3}) {
      TMultiThread pool(threads);
      TLimiter lim;
      lim.CalcLimit(src.I, c.dw, c.dh, threads == 1 ? nullptr : &pool);
      TTestImage o2(c.dw, c.dh, c.ch, BPP_14);
      for (uint32_t y = 0; y < c.dh; ++y)
        for (uint32_t x = 0; x < c.dw; ++x)
          for (uint32_t k = 0; k < c.ch; ++k) o2.Set(x, y, k, out.Get(x, y, k));
      lim.ApplyLimit(o2.I, threads == 1 ? nullptr : &pool);
      size_t n = 0;
      for (uint32_t y = 0; y < c.dh; ++y)
        for (uint32_t x = 0; x < c.dw; ++x)
          for (uint32_t k = 0; k < c.ch; ++k) {
            auto [x0, x1] = Window(int(x), int(c.sw), int(c.dw));
            auto [y0, y1] = Window(int(y), int(c.sh), int(c.dh));
            int lo = 1 << 30, hi = -(1 << 30);
            for (int sy = y0; sy <= y1; ++sy)
              for (int sx = x0; sx <= x1; ++sx) {
                const int v = To14(src.Get(uint32_t(sx), uint32_t(sy), k), c.bpp);
                lo = std::min(lo, v);
                hi = std::max(hi, v);
              }
            const int want = std::clamp(before[n++], lo, hi);
            ASSERT_EQ(int16_t(o2.Get(x, y, k)), want) << "x=" << x << " y=" << y << " c=" << k;
          }
    }
  }
}

TEST(Limiter, WindowsOfTheDefinition) {
  TLimiter lim;
  TTestImage src(40, 10, 3, BPP_8);
  lim.CalcLimit(src.I, 20, 30, nullptr);
  // Halving: destination pixel i reads source pixels 2i - 1 .. 2i + 2.
  for (int i = 1; i < 19; ++i) {
    EXPECT_EQ(lim.HLimiterInfo[i].Pixels, 4);
    EXPECT_EQ(lim.HLimiterInfo[i].Offset, (2 * i - 1) * 3);
  }
  EXPECT_EQ(lim.HLimiterInfo[0].Pixels, 3);
  EXPECT_EQ(lim.HLimiterInfo[0].Offset, 0);
  // Enlarging: the pixel under the centre and its two neighbours.
  for (int i = 0; i < 30; ++i) {
    const int under = (2 * i + 1) * 10 / 60;
    EXPECT_EQ(lim.VLimiterInfo[i].Offset, std::max(under - 1, 0) * lim.BPL);
    EXPECT_EQ(lim.VLimiterInfo[i].Pixels, std::min(under + 1, 9) - std::max(under - 1, 0) + 1);
  }
  EXPECT_EQ(lim.BPL, 2 * 256);  // 3 blocks of 8 pixels x 3 channels x 2 bytes, plus 6, up to 256
}

TEST(Limiter, RejectsWhatItCannotLimit) {
  TLimiter lim;
  TTestImage two(4, 4, 2, BPP_8);
  EXPECT_THROW(lim.CalcLimit(two.I, 2, 2, nullptr), ETessivoError);
  TTestImage src(4, 4, 3, BPP_8);
  EXPECT_THROW(lim.CalcLimit(src.I, 0, 2, nullptr), ETessivoError);
  lim.CalcLimit(src.I, 2, 2, nullptr);
  TTestImage wrong(3, 2, 3, BPP_14);
  EXPECT_THROW(lim.ApplyLimit(wrong.I, nullptr), ETessivoError);
}

TEST(Limiter, WhichKernelDecides) {
  struct C {
    uint32_t dw, dh;  // source is 100 x 100
    LongBool dec, inter;
    bool applies;
  };
  const std::vector<C> cases = {
      {50, 50, LongTrue, LongFalse, true},    {50, 50, LongFalse, LongTrue, false},
      {100, 200, LongFalse, LongTrue, true},  {100, 200, LongTrue, LongFalse, false},
      {200, 200, LongFalse, LongTrue, true},  {200, 200, LongTrue, LongFalse, false},
      {50, 200, LongTrue, LongFalse, true},   {50, 200, LongFalse, LongTrue, true},
      {200, 50, LongFalse, LongTrue, true},   {50, 100, LongFalse, LongFalse, false},
      {200, 100, LongTrue, LongFalse, true},
  };
  for (const C &c : cases)
    EXPECT_EQ(LimiterApplies(100, 100, c.dw, c.dh, c.dec, c.inter), c.applies) << c.dw << "x" << c.dh;
}

}  // namespace
