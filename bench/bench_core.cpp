// Image-core benchmarks: pool dispatch cost and per-pixel conversions on a
// 6000x4000 image. Throughput is reported as MPix/s ("MPix/s" counter).
#include "core/ImgInfo.h"
#include "core/MultiThread.h"
#include "core/PixelConvert.h"
#include "core/PixelConvertKernels.h"

#include <benchmark/benchmark.h>

#include <cstring>

namespace {

void NoOp(int32_t, int32_t, void *) {}

void BM_PoolDispatch(benchmark::State &state) {
  TMultiThread pool(int32_t(state.range(0)));
  for (auto _ : state) pool.exec_multi_thread_func(NoOp, nullptr);
}
BENCHMARK(BM_PoolDispatch)->Arg(1)->Arg(2)->Arg(4);

// ---- pixel-format conversions on a 6000x4000 image ----
// Argument "path": 0 runs the plain C++ kernels, 1 the SSE2 kernels, 2 the AVX2
// ones (the default choice on processors that have it). Rates are per CPU
// second, which stays meaningful on a loaded machine.

constexpr uint32_t kW = 6000, kH = 4000;

TICCImgInfo MakeBenchImage(uint32_t Ch, uint32_t BPP, int32_t Lo, int32_t Hi) {
  TICCImgInfo img{};
  img.Width = kW, img.Height = kH, img.Channels = Ch, img.BPP = BPP;
  img.PixelFormat = Ch == 1 ? PIXFMT_GRAY : Ch == 2 ? PIXFMT_GRAYALPHA : Ch == 3 ? PIXFMT_BGR : PIXFMT_BGRA;
  img.Bpl = BPP == 8 ? GetAlignedBpl(kW, Ch) : GetAlignedBpl16(kW, Ch);
  img.Mem = AllocPixelBlock(img.Bpl, kH);
  uint32_t x = 2463534242u;
  const uint32_t span = uint32_t(Hi - Lo + 1);
  for (uint32_t y = 0; y < kH; ++y) {
    uint8_t *row = ScanLine(img, y);
    for (uint32_t i = 0; i < kW * Ch; ++i) {
      x ^= x << 13, x ^= x >> 17, x ^= x << 5;
      const int32_t v = Lo + int32_t(x % span);
      if (BPP == 8)
        row[i] = uint8_t(v);
      else
        reinterpret_cast<uint16_t *>(row)[i] = uint16_t(v);
    }
  }
  return img;
}

void ReportPixels(benchmark::State &state) {
  const double pixels = double(state.iterations()) * kW * kH;
  state.SetItemsProcessed(int64_t(pixels));
  state.counters["MPix/s"] = benchmark::Counter(pixels / 1e6, benchmark::Counter::kIsRate);
}

TPixelPath PathArg(const benchmark::State &state) {
  const TPixelPath paths[] = {TPixelPath::Plain, TPixelPath::SSE2, TPixelPath::AVX2};
  return paths[state.range(0)];
}

// Conversions that work in place; Reset restores the depth code between runs
// (the samples stay in range, so the work per run is the same).
template <class Fn, class Reset>
void BenchInPlace(benchmark::State &state, uint32_t Ch, uint32_t BPP, int32_t Lo, int32_t Hi, Fn Run, Reset Undo) {
  TPixelPathScope scope(PathArg(state));
  TICCImgInfo img = MakeBenchImage(Ch, BPP, Lo, Hi);
  for (auto _ : state) {
    Run(img);
    Undo(img);
    benchmark::ClobberMemory();
  }
  FreeICCImgInfo(img, false);
  ReportPixels(state);
}

// Conversions that build a new block: each run converts a fresh copy (the copy
// is not timed; the new block's allocation is).
template <class Fn>
void BenchNewBlock(benchmark::State &state, uint32_t Ch, uint32_t BPP, int32_t Lo, int32_t Hi, Fn Run) {
  TPixelPathScope scope(PathArg(state));
  TICCImgInfo src = MakeBenchImage(Ch, BPP, Lo, Hi);
  for (auto _ : state) {
    state.PauseTiming();
    TICCImgInfo work;
    CopyICCImgInfo(src, work, false);
    state.ResumeTiming();
    Run(work);
    benchmark::ClobberMemory();
    state.PauseTiming();
    FreeICCImgInfo(work, false);
    state.ResumeTiming();
  }
  FreeICCImgInfo(src, false);
  ReportPixels(state);
}

void BM_Convert16To14_BGR(benchmark::State &state) {
  BenchInPlace(state, 3, 16, 0, 65535, Convert16To14, [](TICCImgInfo &i) { i.BPP = 16; });
}
void BM_Convert14To16_BGR(benchmark::State &state) {
  BenchInPlace(state, 3, 14, 0, 16320, Convert14To16, [](TICCImgInfo &i) { i.BPP = 14; });
}
void BM_Convert16To8_BGR(benchmark::State &state) { BenchNewBlock(state, 3, 16, 0, 65535, Convert16To8); }
void BM_Convert14To8_BGR(benchmark::State &state) { BenchNewBlock(state, 3, 14, 0, 16320, Convert14To8); }
void BM_Convert14To8Random_BGR(benchmark::State &state) {
  BenchNewBlock(state, 3, 14, 0, 16320, Convert14To8Random);
}
void BM_Convert14To8Diffusion_BGR(benchmark::State &state) {
  BenchNewBlock(state, 3, 14, 0, 16320, Convert14To8Diffusion);
}
void BM_Convert8To14ByTable_BGR(benchmark::State &state) {
  static int16_t lut[LUT8_SIZE];
  for (size_t i = 0; i < LUT8_SIZE; ++i) lut[i] = int16_t((i % 256) * 64);
  BenchNewBlock(state, 3, 8, 0, 255, [](TICCImgInfo &i) { ApplyLUT8To14(i, lut); });
}
void BM_YCC14RoundTrip_BGR(benchmark::State &state) {
  BenchInPlace(
      state, 3, 14, 0, 16320,
      [](TICCImgInfo &i) {
        ConvertToYCC14(i);
        ConvertFromYCC14(i);
      },
      [](TICCImgInfo &) {});
}
void BM_YCC14RoundTrip_BGRA(benchmark::State &state) {
  BenchInPlace(
      state, 4, 14, 0, 16320,
      [](TICCImgInfo &i) {
        ConvertToYCC14(i);
        ConvertFromYCC14(i);
      },
      [](TICCImgInfo &) {});
}
void BM_ConvertBGR14ToYCC8(benchmark::State &state) { BenchNewBlock(state, 3, 14, 0, 16320, ConvertBGR14ToYCC8); }
void BM_FlattenAlpha8_BGRA(benchmark::State &state) {
  BenchNewBlock(state, 4, 8, 0, 255, [](TICCImgInfo &i) { FlattenAlpha(i); });
}
void BM_FlattenAlpha14_BGRA(benchmark::State &state) {
  BenchNewBlock(state, 4, 14, 0, 16320, [](TICCImgInfo &i) { FlattenAlpha(i); });
}
void BM_MakeLumaImage8_BGR(benchmark::State &state) {
  BenchNewBlock(state, 3, 8, 0, 255, [](TICCImgInfo &i) {
    TICCImgInfo luma;
    MakeLumaImage(i, luma);
    FreeICCImgInfo(luma, false);
  });
}

void PlainAndSSE2(benchmark::internal::Benchmark *b) { b->ArgName("path")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond); }
void AllPaths(benchmark::internal::Benchmark *b) {
  PlainAndSSE2(b);
  if (PixelPathAvailable(TPixelPath::AVX2)) b->Arg(2);
}
BENCHMARK(BM_Convert16To14_BGR)->Apply(PlainAndSSE2);
BENCHMARK(BM_Convert14To16_BGR)->Apply(PlainAndSSE2);
BENCHMARK(BM_Convert16To8_BGR)->Apply(PlainAndSSE2);
BENCHMARK(BM_Convert14To8_BGR)->Apply(PlainAndSSE2);
BENCHMARK(BM_YCC14RoundTrip_BGR)->Apply(AllPaths);
BENCHMARK(BM_YCC14RoundTrip_BGRA)->Apply(AllPaths);
BENCHMARK(BM_ConvertBGR14ToYCC8)->Apply(AllPaths);
BENCHMARK(BM_FlattenAlpha8_BGRA)->Apply(AllPaths);
BENCHMARK(BM_FlattenAlpha14_BGRA)->Apply(AllPaths);
BENCHMARK(BM_MakeLumaImage8_BGR)->Apply(AllPaths);
// Scalar by design: dithers and table lookups.
BENCHMARK(BM_Convert14To8Random_BGR)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Convert14To8Diffusion_BGR)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Convert8To14ByTable_BGR)->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
