// Quarter turns, half turns, mirrors and flips: the tiled paths against the
// per-pixel reference on random sizes and data, and every operation against
// its definition in picture coordinates.
#include "core/Errors.h"
#include "core/MultiThread.h"
#include "effects/Geometry.h"
#include "effects/GeometryKernels.h"
#include "resample/tests/TestImage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <random>
#include <string>

namespace {

struct TFormat {
  uint32_t Channels;
  uint32_t BPP;
};
constexpr TFormat Formats[] = {{1, BPP_8},  {2, BPP_8},  {3, BPP_8},  {4, BPP_8},
                               {1, BPP_16}, {3, BPP_16}, {4, BPP_16}, {3, BPP_14}};

void PrintTo(const TFormat &F, std::ostream *Os) { *Os << F.Channels << " channels of " << F.BPP << " bits"; }

std::string FormatName(const testing::TestParamInfo<TFormat> &Info) {
  return std::to_string(Info.param.Channels) + "Channels" + std::to_string(Info.param.BPP) + "Bit";
}

void FillRandom(TTestImage &T, std::mt19937 &Rng) {
  const uint32_t range = T.I.BPP == BPP_8 ? 255 : T.I.BPP == BPP_14 ? FULL_SCALE_14 : 65535;
  std::uniform_int_distribution<int32_t> d(0, int32_t(range));
  T.Fill([&](uint32_t, uint32_t, uint32_t) { return d(Rng); });
}

// Sample c of the picture pixel (x, y), y counted from the top.
int32_t At(const TTestImage &T, uint32_t x, uint32_t y, uint32_t c) { return T.Get(x, T.I.Height - 1 - y, c); }

bool SamePixels(const TTestImage &A, const TTestImage &B) {
  if (A.I.Width != B.I.Width || A.I.Height != B.I.Height) return false;
  for (uint32_t y = 0; y < A.I.Height; ++y)
    for (uint32_t x = 0; x < A.I.Width; ++x)
      for (uint32_t c = 0; c < A.I.Channels; ++c)
        if (A.Get(x, y, c) != B.Get(x, y, c)) return false;
  return true;
}

// A copy of T's pixels in a record of its own.
struct TCopy : TTestImage {
  explicit TCopy(const TTestImage &T) : TTestImage(T.I.Width, T.I.Height, T.I.Channels, T.I.BPP) {
    std::memcpy(I.Mem, T.I.Mem, size_t(T.I.Bpl) * T.I.Height);
  }
};

class GeometryFormat : public testing::TestWithParam<TFormat> {};

TEST_P(GeometryFormat, TiledQuarterTurnsEqualThePlainReferenceOnRandomSizes) {
  const TFormat f = GetParam();
  std::mt19937 rng(f.Channels * 100 + f.BPP);
  std::uniform_int_distribution<uint32_t> side(1, 300);
  TMultiThread pool(3);
  for (int round = 0; round < 12; ++round) {
    // Sizes on, below and above the tile edge as well as random ones.
    const uint32_t w = round == 0 ? 1 : round == 1 ? 64 : round == 2 ? 65 : side(rng);
    const uint32_t h = round == 0 ? 129 : round == 1 ? 63 : round == 2 ? 1 : side(rng);
    TTestImage src(w, h, f.Channels, f.BPP);
    FillRandom(src, rng);
    for (bool cw : {true, false}) {
      TCopy plain(src), tiled(src), threaded(src);
      Rotate90Plain(plain.I, cw);
      cw ? Rotate90CW(tiled.I) : Rotate90CCW(tiled.I);
      cw ? Rotate90CW(threaded.I, &pool) : Rotate90CCW(threaded.I, &pool);
      ASSERT_EQ(tiled.I.Width, h);
      ASSERT_EQ(tiled.I.Height, w);
      EXPECT_EQ(tiled.I.Bpl, f.BPP == BPP_8 ? GetAlignedBpl(h, f.Channels) : GetAlignedBpl16(h, f.Channels));
      EXPECT_TRUE(SamePixels(plain, tiled)) << w << "x" << h << (cw ? " clockwise" : " counter-clockwise");
      EXPECT_TRUE(SamePixels(plain, threaded)) << w << "x" << h << (cw ? " clockwise" : " counter-clockwise");
    }
  }
}

TEST_P(GeometryFormat, EveryOperationMovesEachPixelWhereThePictureSaysOnRandomSizes) {
  const TFormat f = GetParam();
  std::mt19937 rng(f.Channels * 7 + f.BPP);
  std::uniform_int_distribution<uint32_t> side(1, 150);
  TMultiThread pool(2);
  // Where the picture pixel (x, y) of the result comes from, for a w x h source.
  struct TOp {
    TGeometryOp Op;
    bool Swaps;
    void (*From)(uint32_t x, uint32_t y, uint32_t w, uint32_t h, uint32_t &sx, uint32_t &sy);
  } ops[] = {
      {TGeometryOp::Rotate90CW, true, [](uint32_t x, uint32_t y, uint32_t, uint32_t h, uint32_t &sx, uint32_t &sy) { sx = y, sy = h - 1 - x; }},
      {TGeometryOp::Rotate180, false, [](uint32_t x, uint32_t y, uint32_t w, uint32_t h, uint32_t &sx, uint32_t &sy) { sx = w - 1 - x, sy = h - 1 - y; }},
      {TGeometryOp::Rotate90CCW, true, [](uint32_t x, uint32_t y, uint32_t w, uint32_t, uint32_t &sx, uint32_t &sy) { sx = w - 1 - y, sy = x; }},
      {TGeometryOp::MirrorLeftRight, false, [](uint32_t x, uint32_t y, uint32_t w, uint32_t, uint32_t &sx, uint32_t &sy) { sx = w - 1 - x, sy = y; }},
      {TGeometryOp::FlipTopBottom, false, [](uint32_t x, uint32_t y, uint32_t, uint32_t h, uint32_t &sx, uint32_t &sy) { sx = x, sy = h - 1 - y; }},
  };
  for (int round = 0; round < 6; ++round) {
    const uint32_t w = round == 0 ? 1 : side(rng), h = round == 1 ? 1 : side(rng);
    TTestImage src(w, h, f.Channels, f.BPP);
    FillRandom(src, rng);
    for (const TOp &op : ops)
      for (TMultiThread *p : {static_cast<TMultiThread *>(nullptr), &pool}) {
        TCopy out(src);
        ApplyGeometryOp(out.I, op.Op, p);
        ASSERT_EQ(out.I.Width, op.Swaps ? h : w);
        ASSERT_EQ(out.I.Height, op.Swaps ? w : h);
        bool same = true;
        for (uint32_t y = 0; y < out.I.Height && same; ++y)
          for (uint32_t x = 0; x < out.I.Width && same; ++x) {
            uint32_t sx, sy;
            op.From(x, y, w, h, sx, sy);
            for (uint32_t c = 0; c < f.Channels; ++c) same = same && At(out, x, y, c) == At(src, sx, sy, c);
          }
        EXPECT_TRUE(same) << "operation " << int(op.Op) << " on " << w << "x" << h << (p ? " with a pool" : "");
      }
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, GeometryFormat, testing::ValuesIn(Formats), FormatName);

// The 8-bit quarter turns by every kernel table this processor runs, against
// the per-pixel reference: sizes on and around the block edge and the chunk
// of 64 columns, random ones with odd widths and heights, and one large
// enough for the rows to be streamed, with several bands and edges on no
// block boundary.
struct TPathCase {
  TRotatePath Path;
  const char *Name;
  uint32_t Channels;
};
constexpr TPathCase PathCases[] = {
    {TRotatePath::Plain, "Plain", 1}, {TRotatePath::Plain, "Plain", 3}, {TRotatePath::Plain, "Plain", 4},
    {TRotatePath::SSE2, "SSE2", 1},   {TRotatePath::SSE2, "SSE2", 3},   {TRotatePath::SSE2, "SSE2", 4},
    {TRotatePath::SSSE3, "SSSE3", 1}, {TRotatePath::SSSE3, "SSSE3", 3}, {TRotatePath::SSSE3, "SSSE3", 4},
};

void PrintTo(const TPathCase &C, std::ostream *Os) { *Os << C.Name << ", " << C.Channels << " channels"; }

class GeometryPath : public testing::TestWithParam<TPathCase> {};

TEST_P(GeometryPath, QuarterTurnsEqualThePlainReferenceOnRandomSizes) {
  const TPathCase p = GetParam();
  if (!RotatePathAvailable(p.Path)) GTEST_SKIP() << p.Name << " is not run by this processor";
  std::mt19937 rng(p.Channels * 31 + uint32_t(p.Path));
  std::uniform_int_distribution<uint32_t> side(1, 300);
  const uint32_t fixed[][2] = {{16, 16}, {15, 17}, {17, 15}, {32, 64}, {64, 33}, {65, 128}, {129, 80}, {1, 48}, {48, 1}};
  // The large case: 1203 destination columns and enough rows to reach the streaming size.
  const uint32_t largeH = 1203, largeW = uint32_t(TRANSPOSE_STREAM_BYTES / GetAlignedBpl(largeH, p.Channels)) + 37;
  TMultiThread pool(3);
  for (uint32_t round = 0; round <= 30; ++round) {
    const bool isFixed = round < std::size(fixed), isLarge = round == 30;
    const uint32_t w = isLarge ? largeW : isFixed ? fixed[round][0] : side(rng) | (round & 1);
    const uint32_t h = isLarge ? largeH : isFixed ? fixed[round][1] : side(rng) | (round >> 1 & 1);
    TTestImage src(w, h, p.Channels, BPP_8);
    FillRandom(src, rng);
    for (bool cw : {true, false}) {
      TCopy plain(src), alone(src), threaded(src);
      Rotate90Plain(plain.I, cw);
      {
        TRotatePathScope scope(p.Path);
        cw ? Rotate90CW(alone.I) : Rotate90CCW(alone.I);
        cw ? Rotate90CW(threaded.I, &pool) : Rotate90CCW(threaded.I, &pool);
      }
      EXPECT_TRUE(SamePixels(plain, alone)) << w << "x" << h << (cw ? " clockwise" : " counter-clockwise");
      EXPECT_TRUE(SamePixels(plain, threaded)) << w << "x" << h << (cw ? " clockwise" : " counter-clockwise") << " on 3 threads";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, GeometryPath, testing::ValuesIn(PathCases), [](const testing::TestParamInfo<TPathCase> &I) {
  return std::string(I.param.Name) + std::to_string(I.param.Channels) + "Channels";
});

TEST(Geometry, ClockwiseTurnPutsTheLeftColumnOnTopReadRightToLeft) {
  // 3 x 2 picture, values 10 * row + column:  0  1  2 / 10 11 12.
  TTestImage t(3, 2, 1, BPP_8);
  t.Fill([&](uint32_t x, uint32_t memRow, uint32_t) { return int32_t(10 * (1 - memRow) + x); });
  Rotate90CW(t.I);
  ASSERT_EQ(t.I.Width, 2u);
  ASSERT_EQ(t.I.Height, 3u);
  const int32_t expected[3][2] = {{10, 0}, {11, 1}, {12, 2}};
  for (uint32_t y = 0; y < 3; ++y)
    for (uint32_t x = 0; x < 2; ++x) EXPECT_EQ(At(t, x, y, 0), expected[y][x]) << x << "," << y;
}

TEST(Geometry, ImagesWithoutPixelsOrWithTooWidePixelsAreRefused) {
  TICCImgInfo empty{};
  EXPECT_THROW(Rotate90CW(empty), ETessivoError);
  TTestImage wide(4, 4, 5, BPP_16);  // ten bytes a pixel
  EXPECT_THROW(Rotate180(wide.I), ETessivoError);
  EXPECT_EQ(wide.I.Width, 4u);
}

}  // namespace
