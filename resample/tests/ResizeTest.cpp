#include "resample/Resize.h"

#include "core/Errors.h"
#include "resample/Filter.h"
#include "resample/tests/TestImage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <typeinfo>
#include <vector>

namespace {

class LibraryEnv : public testing::Environment {
public:
  void SetUp() override { LoadResizeLibrary(TESSIVO_BIN_DIR); }
  void TearDown() override { FreeResizeLibrary(); }
};
const auto *const Env = testing::AddGlobalTestEnvironment(new LibraryEnv);

// A resizer with fresh setters of the given modes.
std::unique_ptr<TResizer> MakeResizer(uint32_t Dec, int32_t DecParam, uint32_t Inter, int32_t InterParam,
                                      uint32_t SIMD = SIMD_MODE_INTEGER, bool Linear = false) {
  const TCreatedWeightSetter d = CreateWeightSetter(Dec, DecParam), e = CreateWeightSetter(Inter, InterParam);
  return std::make_unique<TResizer>(Dec, d.Setter, d.IsLimited, Inter, e.Setter, e.IsLimited, SIMD, Linear);
}

std::unique_ptr<TTestImage> RandomImage(uint32_t W, uint32_t H, uint32_t C, uint32_t BPP, uint32_t Seed) {
  auto img = std::make_unique<TTestImage>(W, H, C, BPP);
  std::mt19937 rng(Seed);
  const int hi = BPP == BPP_8 ? 255 : BPP == BPP_14 ? FULL_SCALE_14 : 65535;
  std::uniform_int_distribution<int> v(0, hi);
  img->Fill([&](uint32_t, uint32_t, uint32_t) { return v(rng); });
  return img;
}

// Records which axis lengths and steps a setter was asked for.
struct TSpySetter : TLanczos {
  struct Call {
    int32_t src, step, dest;
    bool isFloat;
  };
  std::vector<Call> *calls;
  explicit TSpySetter(std::vector<Call> *C) : TLanczos(3), calls(C) {}
  void SetWeightInt(TWeightTable &WT, int32_t S, int32_t Step, int32_t D) const override {
    calls->push_back({S, Step, D, false});
    TLanczos::SetWeightInt(WT, S, Step, D);
  }
  void SetWeightFloat(TWeightTable &WT, int32_t S, int32_t Step, int32_t D) const override {
    calls->push_back({S, Step, D, true});
    TLanczos::SetWeightFloat(WT, S, Step, D);
  }
};

TEST(Resizer, FilterFollowsLayoutAndDataPath) {
  struct C {
    uint32_t channels;
    bool isRGBA;
    uint32_t simd;
    bool linear;
    const std::type_info &filter;
  };
  const std::vector<C> cases = {
      {1, false, SIMD_MODE_INTEGER, false, typeid(TGrayFilter_i16)},
      {1, false, SIMD_MODE_FLOAT, false, typeid(TGrayFilter_f32)},
      {1, false, SIMD_MODE_INTEGER, true, typeid(TLinearGrayFilter_f32)},
      {3, false, SIMD_MODE_INTEGER, false, typeid(TRGBFilter_i16)},
      {3, true, SIMD_MODE_INTEGER, false, typeid(TRGBFilter_i16)},  // no alpha in 3 channels
      {3, false, SIMD_MODE_FLOAT, false, typeid(TRGBFilter_f32)},
      {3, false, SIMD_MODE_FLOAT, true, typeid(TLinearRGBFilter_f32)},
      {4, true, SIMD_MODE_INTEGER, false, typeid(TRGBAFilter_f32)},  // BGRA never takes the integer path
      {4, true, SIMD_MODE_FLOAT, false, typeid(TRGBAFilter_f32)},
      {4, true, SIMD_MODE_INTEGER, true, typeid(TLinearRGBAFilter_f32)},
      {4, false, SIMD_MODE_FLOAT, false, typeid(TCMYKFilter_i16)},  // plain four channels: always integer
      {4, false, SIMD_MODE_INTEGER, true, typeid(TCMYKFilter_i16)},
  };
  for (const C &c : cases) {
    std::vector<TSpySetter::Call> calls;
    auto *spy = new TSpySetter(&calls);
    spy->AddRef();
    TResizer r(RESIZE_LANCZOS, spy, LongTrue, RESIZE_LANCZOS, spy, LongTrue, c.simd, c.linear);
    auto src = RandomImage(9, 7, c.channels, BPP_8, 1);
    TICCImgInfo out{};
    r.ResizeImage(src->I, out, nullptr, false, c.isRGBA, 5, 4);
    ASSERT_NE(r.RF, nullptr);
    EXPECT_EQ(typeid(*r.RF), c.filter) << c.channels << " " << c.isRGBA << " " << c.simd << " " << c.linear;
    const bool wantFloat = c.filter != typeid(TGrayFilter_i16) && c.filter != typeid(TRGBFilter_i16) &&
                           c.filter != typeid(TCMYKFilter_i16);
    for (const auto &call : calls) EXPECT_EQ(call.isFloat, wantFloat);
    // The same call again keeps the filter and its tables.
    const TCustomResizeFilter *first = r.RF;
    FreeICCImgInfo(out, false);
    r.ResizeImage(src->I, out, nullptr, false, c.isRGBA, 5, 4);
    EXPECT_EQ(r.RF, first);
    EXPECT_EQ(r.RebuildCount(), 1u);
    FreeICCImgInfo(out, false);
  }
}

TEST(Resizer, EachAxisAsksItsOwnSetter) {
  struct C {
    uint32_t dw, dh;  // source 20 x 10
    int decCalls, interCalls;
  };
  const std::vector<C> cases = {
      {10, 20, 1, 1},  // width shrinks, height grows
      {30, 5, 1, 1},   // width grows, height shrinks
      {20, 5, 1, 0},   // height only
      {7, 10, 1, 0},   // width only
      {40, 30, 0, 2},
  };
  for (const C &c : cases) {
    std::vector<TSpySetter::Call> dec, inter;
    TResizer r(RESIZE_LANCZOS, new TSpySetter(&dec), LongFalse, RESIZE_LANCZOS, new TSpySetter(&inter), LongFalse,
               SIMD_MODE_FLOAT);
    auto src = RandomImage(20, 10, 3, BPP_8, 2);
    TICCImgInfo out{};
    r.ResizeImage(src->I, out, nullptr, false, false, c.dh, c.dw);
    EXPECT_EQ(int(dec.size()), c.decCalls) << c.dw << "x" << c.dh;
    EXPECT_EQ(int(inter.size()), c.interCalls) << c.dw << "x" << c.dh;
    for (bool isDec : {true, false})
      for (const auto &call : isDec ? dec : inter) {
        if (call.src == 20) {  // the horizontal table
          EXPECT_EQ(call.dest, int32_t(c.dw));
          EXPECT_EQ(call.step, r.RF->Param.HStep);
          EXPECT_EQ(isDec, c.dw < 20);
        } else {  // vertical: the source step when the width stays, else the intermediate stride
          EXPECT_EQ(call.src, 10);
          EXPECT_EQ(call.dest, int32_t(c.dh));
          EXPECT_EQ(call.step, c.dw == 20 ? r.RF->Param.VStep : int32_t(r.RF->FTmpBpl));
          EXPECT_EQ(isDec, c.dh < 10);
        }
      }
    FreeICCImgInfo(out, false);
  }
}

TEST(Resizer, SameSizeReturnsAtOnce) {
  auto r = MakeResizer(RESIZE_LANCZOS, 3, RESIZE_SPLINE36, 0);
  auto src = RandomImage(6, 5, 3, BPP_8, 3);
  TICCImgInfo dest{};
  dest.Width = 77;  // untouched
  r->ResizeImage(src->I, dest, nullptr, true, false, 5, 6);
  EXPECT_EQ(dest.Width, 77u);
  EXPECT_EQ(dest.Mem, nullptr);
  uint8_t *mem = src->I.Mem;
  r->ResizeImage(src->I, 6, nullptr, true, false, 5);
  EXPECT_EQ(src->I.Mem, mem);
  EXPECT_EQ(src->I.BPP, uint32_t(BPP_8));
  EXPECT_EQ(r->RF, nullptr);
}

TEST(Resizer, UniformImagesStayUniform) {
  struct C {
    uint32_t sw, sh, dw, dh, ch;
    bool isRGBA;
    uint32_t simd;
    bool linear;
    uint32_t kernel;
  };
  const std::vector<C> cases = {
      {1, 1, 3, 3, 3, false, SIMD_MODE_INTEGER, false, RESIZE_LANCZOS},
      {1, 1, 3, 3, 4, true, SIMD_MODE_INTEGER, false, RESIZE_SPLINE36},
      {1, 1, 3, 3, 1, false, SIMD_MODE_FLOAT, false, RESIZE_BICUBIC},
      {37, 23, 11, 50, 3, false, SIMD_MODE_FLOAT, false, RESIZE_LANCZOS},
      {37, 23, 11, 5, 4, false, SIMD_MODE_INTEGER, false, RESIZE_AREA_AVERAGE},
      {64, 64, 32, 32, 3, false, SIMD_MODE_INTEGER, true, RESIZE_LANCZOS},
      {13, 40, 13, 9, 1, false, SIMD_MODE_INTEGER, false, RESIZE_NEAREST_NEIGHBOR},
      {5, 4, 17, 4, 4, true, SIMD_MODE_FLOAT, true, RESIZE_GAUSSIAN},
  };
  for (const C &c : cases) {
    for (int value : {255, 100, 0}) {
      for (bool limiter : {false, true}) {
        SCOPED_TRACE(testing::Message() << c.sw << "x" << c.sh << "->" << c.dw << "x" << c.dh << " ch " << c.ch
                                        << " simd " << c.simd << " linear " << c.linear << " value " << value
                                        << " limiter " << limiter);
        auto r = MakeResizer(c.kernel, 3, c.kernel == RESIZE_AREA_AVERAGE ? RESIZE_SPLINE36 : c.kernel, 3, c.simd,
                             c.linear);
        // The limiter must run for this check whatever the kernels' flags.
        r->IsLimitedDecimation = r->IsLimitedInterpolation = LongTrue;
        TTestImage src(c.sw, c.sh, c.ch, BPP_8);
        src.Fill([&](uint32_t, uint32_t, uint32_t) { return value; });
        TICCImgInfo out{};
        r->ResizeImage(src.I, out, nullptr, limiter, c.isRGBA, c.dh, c.dw);
        ASSERT_EQ(out.BPP, uint32_t(BPP_14));
        const int16_t first = reinterpret_cast<int16_t *>(out.Mem)[0];
        for (uint32_t y = 0; y < c.dh; ++y) {
          const auto *row = reinterpret_cast<const int16_t *>(ScanLine(out, y));
          for (uint32_t i = 0; i < c.dw * c.ch; ++i) {
            // Without the limiter, truncated integer weights may lose a little.
            if (limiter)
              ASSERT_EQ(row[i], value * 64) << "y=" << y << " i=" << i;
            else
              ASSERT_NEAR(row[i], value * 64, 8) << "y=" << y << " i=" << i;
            if (c.dw * c.dh > 9) continue;
            ASSERT_EQ(row[i], first);  // a 1 x 1 source gives one value everywhere
          }
        }
        FreeICCImgInfo(out, false);
      }
    }
  }
}

// Separable resampling in double from the float weight tables: what every
// data path approximates.
std::vector<double> Reference(const TTestImage &Src, uint32_t DW, uint32_t DH, TWeightSetter &HS,
                              TWeightSetter &VS) {
  const uint32_t SW = Src.I.Width, SH = Src.I.Height, C = Src.I.Channels;
  auto dense = [](TWeightSetter &S, uint32_t N, uint32_t M) {
    std::vector<std::vector<double>> w(M, std::vector<double>(N, 0.0));
    if (N == M) {
      for (uint32_t i = 0; i < N; ++i) w[i][i] = 1;
      return w;
    }
    TWeightTable t{};
    S.SetWeight(t, int32_t(N), true, 1, int32_t(M));
    for (uint32_t d = 0; d < M; ++d) {
      const TWeightTableInfo &info = t.WeightTableInfo[d];
      for (int32_t k = 0; k < WeightRowCount(info.pWeightTable); ++k)
        w[d][size_t(info.SrcOffset + k)] += FloatWeights(info)[k];
    }
    FreeWeightTable(t);
    return w;
  };
  const auto wh = dense(HS, SW, DW), wv = dense(VS, SH, DH);
  const double scale = Src.I.BPP == BPP_8 ? 64 : 1;
  std::vector<double> tmp(size_t(DW) * SH * C), out(size_t(DW) * DH * C);
  for (uint32_t y = 0; y < SH; ++y)
    for (uint32_t x = 0; x < DW; ++x)
      for (uint32_t c = 0; c < C; ++c) {
        double s = 0;
        for (uint32_t i = 0; i < SW; ++i) s += wh[x][i] * Src.Get(i, y, c) * scale;
        tmp[(size_t(y) * DW + x) * C + c] = s;
      }
  for (uint32_t y = 0; y < DH; ++y)
    for (uint32_t x = 0; x < DW; ++x)
      for (uint32_t c = 0; c < C; ++c) {
        double s = 0;
        for (uint32_t j = 0; j < SH; ++j) s += wv[y][j] * tmp[(size_t(j) * DW + x) * C + c];
        out[(size_t(y) * DW + x) * C + c] = s;
      }
  return out;
}

TEST(Resizer, OutputFollowsTheWeightTables) {
  struct C {
    uint32_t sw, sh, dw, dh, ch, bpp, simd;
    double tolerance;  // on the 14-bit scale; integer weights lose up to 1/16384 each to truncation
  };
  const std::vector<C> cases = {
      {23, 17, 9, 7, 3, BPP_8, SIMD_MODE_FLOAT, 0.75},    {23, 17, 9, 7, 3, BPP_8, SIMD_MODE_INTEGER, 16},
      {9, 7, 25, 16, 1, BPP_8, SIMD_MODE_FLOAT, 0.75},    {9, 7, 25, 16, 1, BPP_8, SIMD_MODE_INTEGER, 16},
      {30, 11, 30, 4, 3, BPP_14, SIMD_MODE_INTEGER, 16}, {30, 11, 8, 11, 4, BPP_8, SIMD_MODE_INTEGER, 16},
      {12, 40, 31, 13, 1, BPP_14, SIMD_MODE_FLOAT, 0.75}, {3, 2, 1, 1, 3, BPP_8, SIMD_MODE_FLOAT, 0.75},
  };
  for (const C &c : cases) {
    SCOPED_TRACE(testing::Message() << c.sw << "x" << c.sh << "->" << c.dw << "x" << c.dh << " ch " << c.ch << " bpp "
                                    << c.bpp << " simd " << c.simd);
    auto r = MakeResizer(RESIZE_LANCZOS, 3, RESIZE_SPLINE36, 0, c.simd);
    auto src = RandomImage(c.sw, c.sh, c.ch, c.bpp, c.sw * 100 + c.dh);
    const std::vector<double> want = Reference(
        *src, c.dw, c.dh, c.dw < c.sw ? *r->DecimationWeightSetter : *r->InterpolationWeightSetter,
        c.dh < c.sh ? *r->DecimationWeightSetter : *r->InterpolationWeightSetter);
    for (int32_t threads : {1, 2}) {
      TMultiThread pool(threads);
      TICCImgInfo out{};
      r->ResizeImage(src->I, out, threads > 1 ? &pool : nullptr, false, false, c.dh, c.dw);
      TTestImage got(1, 1, 1, BPP_14);
      PageFree(got.I.Mem);
      got.I = out;
      for (uint32_t y = 0; y < c.dh; ++y)
        for (uint32_t x = 0; x < c.dw; ++x)
          for (uint32_t k = 0; k < c.ch; ++k) {
            const double w = std::clamp(want[(size_t(y) * c.dw + x) * c.ch + k], -32768.0, 32767.0);
            ASSERT_NEAR(got.Get(x, y, k), w, c.tolerance) << "x=" << x << " y=" << y << " c=" << k;
          }
    }
  }
}

TEST(Resizer, SixteenBitSourcesAreTakenToTheWorkingDepth) {
  auto r = MakeResizer(RESIZE_BILINEAR, 0, RESIZE_BILINEAR, 0, SIMD_MODE_FLOAT);
  TTestImage src(4, 4, 1, BPP_16);
  src.Fill([](uint32_t, uint32_t, uint32_t) { return 65535; });
  TICCImgInfo out{};
  r->ResizeImage(src.I, out, nullptr, false, false, 2, 2);
  for (int i = 0; i < 2; ++i) EXPECT_NEAR(reinterpret_cast<int16_t *>(out.Mem)[i], FULL_SCALE_14, 1);
  FreeICCImgInfo(out, false);
}

TEST(Resizer, RebuildsOnlyWhenSomethingChanged) {
  auto r = MakeResizer(RESIZE_LANCZOS, 3, RESIZE_SPLINE36, 0);
  auto a = RandomImage(40, 30, 3, BPP_8, 4);
  auto wider = RandomImage(40, 30, 3, BPP_14, 4);  // same size, other depth and stride
  TMultiThread two(2), three(3);
  struct Step {
    const char *what;
    std::function<void()> change;
    TTestImage *src;
    TMultiThread *pool;
    uint32_t dw, dh;
    uint64_t rebuilds;  // after the step
  };
  const std::vector<Step> steps = {
      {"first", [] {}, a.get(), nullptr, 20, 15, 1},
      {"same again", [] {}, a.get(), nullptr, 20, 15, 1},
      {"pool of 2", [] {}, a.get(), &two, 20, 15, 2},
      {"pool of 2 again", [] {}, a.get(), &two, 20, 15, 2},
      {"no pool after 2", [] {}, a.get(), nullptr, 20, 15, 2},
      {"pool of 3", [] {}, a.get(), &three, 20, 15, 3},
      {"other size", [] {}, a.get(), &three, 21, 15, 4},
      {"other depth", [] {}, wider.get(), &three, 21, 15, 5},
      {"reduction mode",
       [&] {
         const TCreatedWeightSetter s = CreateWeightSetter(RESIZE_BILINEAR, 0);
         r->SetDecimationMode(RESIZE_BILINEAR, s.Setter, s.IsLimited);
       },
       wider.get(), &three, 21, 15, 6},
      {"calculation mode", [&] { r->SetSIMDMode(SIMD_MODE_FLOAT, false); }, wider.get(), &three, 21, 15, 7},
      {"thread count", [&] { r->SetMaxThreadNum(2); }, wider.get(), nullptr, 21, 15, 8},
      {"unchanged", [] {}, wider.get(), nullptr, 21, 15, 8},
  };
  for (const Step &s : steps) {
    s.change();
    TICCImgInfo out{};
    r->ResizeImage(s.src->I, out, s.pool, false, false, s.dh, s.dw);
    EXPECT_EQ(r->RebuildCount(), s.rebuilds) << s.what;
    FreeICCImgInfo(out, false);
  }
}

TEST(Resizer, LimiterRemovesRinging) {
  // A hard edge: Lanczos overshoots on both sides of it.
  TTestImage src(40, 8, 1, BPP_8);
  src.Fill([](uint32_t x, uint32_t, uint32_t) { return x < 20 ? 20 : 235; });
  struct C {
    bool useLimiter;
    LongBool limited;
    bool clamped;
  } cases[] = {{false, LongTrue, false}, {true, LongTrue, true}, {true, LongFalse, false}};
  for (const C &c : cases) {
    auto r = MakeResizer(RESIZE_LANCZOS, 3, RESIZE_LANCZOS, 3);
    r->IsLimitedDecimation = r->IsLimitedInterpolation = c.limited;
    TICCImgInfo out{};
    r->ResizeImage(src.I, out, nullptr, c.useLimiter, false, 8, 93);
    int lo = 1 << 20, hi = -(1 << 20);
    for (uint32_t y = 0; y < 8; ++y)
      for (uint32_t x = 0; x < 93; ++x) {
        const int v = reinterpret_cast<const int16_t *>(ScanLine(out, y))[x];
        lo = std::min(lo, v);
        hi = std::max(hi, v);
      }
    EXPECT_EQ(lo >= 20 * 64 && hi <= 235 * 64, c.clamped) << lo << " " << hi;
    FreeICCImgInfo(out, false);
  }
}

TEST(Resizer, TheTwoFormsFillTheRecordAsDocumented) {
  auto r = MakeResizer(RESIZE_LANCZOS, 3, RESIZE_SPLINE36, 0);
  auto src = RandomImage(16, 12, 4, BPP_8, 5);
  src->I.ProfileType = PROFILE_BUILTIN_SRGB;
  src->I.BGColor = 0x123456;
  TICCImgInfo dest{};
  dest.ProfileType = PROFILE_EMBEDDED;
  dest.BGColor = 7;
  r->ResizeImage(src->I, dest, nullptr, false, true, 6, 8);
  EXPECT_EQ(dest.Width, 8u);
  EXPECT_EQ(dest.Height, 6u);
  EXPECT_EQ(dest.Channels, 4u);
  EXPECT_EQ(dest.BPP, uint32_t(BPP_14));
  EXPECT_EQ(dest.Bpl, GetAlignedBpl16(8, 4));
  EXPECT_EQ(dest.ProfileType, 0u);  // everything else cleared
  EXPECT_EQ(dest.BGColor, 0u);
  EXPECT_EQ(dest.PixelFormat, 0u);
  EXPECT_EQ(src->I.Width, 16u);
  EXPECT_EQ(src->I.BPP, uint32_t(BPP_8));

  // In place: the pixels change, everything else stays.
  r->ResizeImage(src->I, 8, nullptr, false, true, 6);
  EXPECT_EQ(src->I.Width, 8u);
  EXPECT_EQ(src->I.BPP, uint32_t(BPP_14));
  EXPECT_EQ(src->I.ProfileType, uint32_t(PROFILE_BUILTIN_SRGB));
  EXPECT_EQ(src->I.BGColor, 0x123456u);
  EXPECT_EQ(src->I.PixelFormat, uint32_t(PIXFMT_BGRA));
  EXPECT_EQ(std::memcmp(src->I.Mem, dest.Mem, size_t(dest.Bpl) * 6), 0);

  // One record as both source and destination behaves as the in-place form.
  r->ResizeImage(src->I, src->I, nullptr, false, true, 3, 4);
  EXPECT_EQ(src->I.Width, 4u);
  EXPECT_EQ(src->I.PixelFormat, uint32_t(PIXFMT_BGRA));
  FreeICCImgInfo(dest, false);
}

TEST(Resizer, BadRequestsRaiseAndLeaveDestAlone) {
  auto r = MakeResizer(RESIZE_LANCZOS, 3, RESIZE_SPLINE36, 0);
  auto rgb = RandomImage(8, 8, 3, BPP_8, 6);
  auto two = RandomImage(8, 8, 2, BPP_8, 6);
  TICCImgInfo empty{};
  empty.Width = empty.Height = 8;
  empty.Channels = 3;
  empty.BPP = BPP_8;
  struct C {
    const TICCImgInfo *src;
    uint32_t dw, dh;
  } cases[] = {{&rgb->I, 0, 4}, {&rgb->I, 4, 0}, {&two->I, 4, 4}, {&empty, 4, 4}};
  for (const C &c : cases) {
    TICCImgInfo dest{};
    dest.Width = 99;
    EXPECT_THROW(r->ResizeImage(*c.src, dest, nullptr, true, false, c.dh, c.dw), ETessivoError);
    EXPECT_EQ(dest.Width, 99u);
  }
}

TEST(Resizer, CopiesShareTheSetters) {
  auto r = MakeResizer(RESIZE_LANCZOS, 3, RESIZE_SPLINE36, 0, SIMD_MODE_FLOAT, true);
  r->SetMaxThreadNum(3);
  TWeightSetter *dec = r->DecimationWeightSetter;
  {
    std::unique_ptr<TResizer> copy(r->CreateMTResizer());
    EXPECT_EQ(copy->DecimationWeightSetter, dec);
    EXPECT_EQ(copy->InterpolationWeightSetter, r->InterpolationWeightSetter);
    EXPECT_EQ(dec->RefCount.load(), 1);
    EXPECT_EQ(copy->DecimationMode, uint32_t(RESIZE_LANCZOS));
    EXPECT_EQ(copy->InterpolationMode, uint32_t(RESIZE_SPLINE36));
    EXPECT_EQ(copy->SIMDMode, uint32_t(SIMD_MODE_FLOAT));
    EXPECT_TRUE(copy->LinearColorSpace);
    EXPECT_EQ(copy->MaxThreadNum, 3);
    EXPECT_EQ(copy->IsLimitedDecimation, r->IsLimitedDecimation);
    auto src = RandomImage(20, 20, 3, BPP_8, 7);
    TICCImgInfo a{}, b{};
    r->ResizeImage(src->I, a, nullptr, false, false, 7, 9);
    copy->ResizeImage(src->I, b, nullptr, false, false, 7, 9);
    EXPECT_EQ(std::memcmp(a.Mem, b.Mem, size_t(a.Bpl) * 7), 0);
    FreeICCImgInfo(a, false);
    FreeICCImgInfo(b, false);
  }
  EXPECT_EQ(dec->RefCount.load(), 0);
}

TEST(Resizer, ProgramWideResizers) {
  CreateProgramResizers(2);
  EXPECT_EQ(AntialiasingResizer->DecimationWeightSetter, AntialiasingResizer->InterpolationWeightSetter);
  EXPECT_EQ(AntialiasingResizer->DecimationWeightSetter->RefCount.load(), 1);
  auto *mn = dynamic_cast<TMitchellNetravali *>(AntialiasingResizer->DecimationWeightSetter);
  ASSERT_NE(mn, nullptr);
  EXPECT_DOUBLE_EQ(mn->b, 1.0 / 3);
  EXPECT_DOUBLE_EQ(mn->c, 1.0 / 3);
  EXPECT_NE(dynamic_cast<TSpline16 *>(ThumbnailResizer->InterpolationWeightSetter), nullptr);
  for (TResizer *r : {AntialiasingResizer, ThumbnailResizer}) {
    EXPECT_EQ(r->SIMDMode, uint32_t(SIMD_MODE_INTEGER));
    EXPECT_FALSE(r->LinearColorSpace);
    EXPECT_FALSE(r->IsLimitedDecimation);
    EXPECT_FALSE(r->IsLimitedInterpolation);
  }

  ConfigureMainResizer(RESIZE_BICUBIC, 2, RESIZE_GAUSSIAN, 12, SIMD_MODE_FLOAT, true);
  EXPECT_EQ(MainResizer->DecimationMode, uint32_t(RESIZE_BICUBIC));
  EXPECT_TRUE(MainResizer->IsLimitedDecimation);  // sharpness 2: b = 0
  EXPECT_FALSE(MainResizer->IsLimitedInterpolation);
  EXPECT_EQ(MainResizer->SIMDMode, uint32_t(SIMD_MODE_FLOAT));
  EXPECT_TRUE(MainResizer->LinearColorSpace);
  ConfigureMainResizer(RESIZE_AREA_AVERAGE, 0, RESIZE_SPLINE36, 0, std::nullopt, false);
  EXPECT_EQ(MainResizer->SIMDMode, uint32_t(SIMD_MODE_FLOAT));  // no calculation mode given: kept
  EXPECT_TRUE(MainResizer->LinearColorSpace);
  TWeightSetter *kept = MainResizer->DecimationWeightSetter;
  EXPECT_THROW(ConfigureMainResizer(RESIZE_LANCZOS, 3, 42, 0, std::nullopt, false), ETessivoError);
  EXPECT_EQ(MainResizer->DecimationWeightSetter, kept);
  EXPECT_EQ(ModeParam(RESIZE_LANCZOS, 4, 2, 9), 4);
  EXPECT_EQ(ModeParam(RESIZE_BICUBIC, 4, 2, 9), 2);
  EXPECT_EQ(ModeParam(RESIZE_GAUSSIAN, 4, 2, 9), 9);
  EXPECT_EQ(ModeParam(RESIZE_SPLINE16, 4, 2, 9), 0);
  FreeProgramResizers();
  EXPECT_EQ(MainResizer, nullptr);
}

}  // namespace

namespace {

TEST(Resizer, LinearLightAveragesLightNotCodes) {
  // Black and white averaged: half the light is sRGB code 0.7354 of full scale.
  struct C {
    bool linear;
    uint32_t channels;
    double want;
  } cases[] = {{false, 3, 8160}, {true, 3, 0.73536 * FULL_SCALE_14}, {true, 1, 0.73536 * FULL_SCALE_14},
               {true, 4, 0.73536 * FULL_SCALE_14}};
  for (const C &c : cases) {
    auto r = MakeResizer(RESIZE_AREA_AVERAGE, 0, RESIZE_BILINEAR, 0, SIMD_MODE_FLOAT, c.linear);
    TTestImage src(2, 1, c.channels, BPP_8);
    src.Fill([](uint32_t x, uint32_t, uint32_t ch) { return ch == 3 ? 255 : x == 0 ? 0 : 255; });
    src.I.ProfileType = PROFILE_BUILTIN_SRGB;
    TICCImgInfo out{};
    r->ResizeImage(src.I, out, nullptr, false, c.channels == 4, 1, 1);
    for (uint32_t k = 0; k < std::min(c.channels, 3u); ++k)
      EXPECT_NEAR(reinterpret_cast<int16_t *>(out.Mem)[k], c.want, 16) << c.linear << " " << c.channels;
    FreeICCImgInfo(out, false);
  }
}

}  // namespace
