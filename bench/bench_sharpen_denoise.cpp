// The sharpen and denoise steps on a 6000 x 4000 colour picture, each with
// its peer in the same run:
//  - the unsharp-mask step on luminance only (YCbCr conversions, the Y plane
//    copied out and back) against the engine alone on all channels of the
//    same 14-bit image;
//  - noise removal with preset 7 per code path (SSE2, AVX) and thread count,
//    the whole step (YCbCr conversions included).
// OpenCV's non-local means is timed against the noise removal by
// bench/compare-denoise --speed (a Python peer). Times are wall clock; every
// case reports MPix/s.
#include "core/ImgInfo.h"
#include "core/MultiThread.h"
#include "core/PixelConvert.h"
#include "effects/DenoiseEffect.h"
#include "effects/DenoisePass.h"
#include "effects/UnsharpMaskFilter.h"
#include "resample/Filter.h"
#include "resample/WeightedMean.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <random>

namespace {

constexpr uint32_t W = 6000, H = 4000;

// A photo-like 14-bit picture: gradients, hard edges, texture, and Gaussian
// noise of 8 steps on the 8-bit scale, so the noise filter works everywhere.
struct TPicture {
  TICCImgInfo I{};
  TPicture() {
    I.Width = W, I.Height = H, I.Channels = 3, I.BPP = BPP_14, I.PixelFormat = PIXFMT_BGR;
    I.Bpl = GetAlignedBpl16(W, 3);
    I.Mem = AllocPixelBlock(I.Bpl, H);
    std::mt19937 rng(5);
    std::normal_distribution<float> noise(0, 8 * 64);
    for (uint32_t y = 0; y < H; ++y) {
      int16_t *row = reinterpret_cast<int16_t *>(ScanLine(I, y));
      for (uint32_t x = 0; x < W; ++x)
        for (uint32_t c = 0; c < 3; ++c) {
          float v = float((x * (3 + c) + y * (5 - c)) / 97 % 200) * 64 + noise(rng);
          if (((x / 300) + (y / 200)) % 2) v += 30 * 64;
          row[x * 3 + c] = int16_t(std::clamp(v, 0.f, 16320.f));
        }
    }
  }
  ~TPicture() { FreeICCImgInfo(I, false); }
};

const TPicture &Picture() {
  static const TPicture *p = new TPicture;
  return *p;
}

// A working copy of the picture, refreshed outside the timing.
struct TWork {
  TICCImgInfo I{};
  TWork() {
    I = Picture().I;
    I.Mem = AllocPixelBlock(I.Bpl, H);
    Refresh();
  }
  void Refresh() {
    I.BPP = BPP_14;
    std::memcpy(I.Mem, Picture().I.Mem, size_t(I.Bpl) * H);
  }
  ~TWork() { FreeICCImgInfo(I, false); }
};

void SetRate(benchmark::State &State) {
  State.counters["MPix/s"] =
      benchmark::Counter(double(W) * H * double(State.iterations()) / 1e6, benchmark::Counter::kIsRate);
}

struct TSharpen : TUSMFilter {
  explicit TSharpen(bool LumaOnly) { FHighlight = 120, FShadow = 120, FRadius = 1.0, FLumaOnly = LumaOnly; }
};

// Arg: threads.
void BM_UnsharpMaskStepLumaOnly(benchmark::State &State) {
  LoadResizeLibrary(TESSIVO_BIN_DIR);
  TMultiThread pool(int32_t(State.range(0)));
  const TSharpen f(true);
  TUnsharpMask engine;
  f.ApplyToEngine(engine, false);
  engine.SetMaxThreadNum(int32_t(State.range(0)));
  TEffectParams p;
  p.UnSharpMask = &engine;
  p.MT = &pool;
  TWork work;
  for (auto _ : State) {
    State.PauseTiming();
    work.Refresh();
    State.ResumeTiming();
    f.DoEffect(work.I, p);
  }
  SetRate(State);
}
BENCHMARK(BM_UnsharpMaskStepLumaOnly)->ArgName("threads")->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// The peer: the engine alone on all three channels of the same image.
void BM_UnsharpMaskEngineAllChannels(benchmark::State &State) {
  LoadResizeLibrary(TESSIVO_BIN_DIR);
  TMultiThread pool(int32_t(State.range(0)));
  TUnsharpMask engine;
  TSharpen(false).ApplyToEngine(engine, false);
  engine.SetMaxThreadNum(int32_t(State.range(0)));
  TWork work;
  for (auto _ : State) {
    State.PauseTiming();
    work.Refresh();
    State.ResumeTiming();
    engine.DoUnSharpMask(work.I, false, &pool);
  }
  SetRate(State);
}
BENCHMARK(BM_UnsharpMaskEngineAllChannels)->ArgName("threads")->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// Args: code path (0 SSE2, 1 AVX), threads.
void BM_DenoisePreset7(benchmark::State &State) {
  LoadDenoiseLibrary(TESSIVO_BIN_DIR);
  const TDenoiseIsa isa = State.range(0) ? TDenoiseIsa::Avx : TDenoiseIsa::Sse2;
  if (isa == TDenoiseIsa::Avx && !DenoiseLibrary()->HasAvx()) {
    State.SkipWithError("no AVX2");
    return;
  }
  TMultiThread pool(int32_t(State.range(1)));
  const TDenoiseValues v = DenoisePreset(7);
  TWork work;
  for (auto _ : State) {
    State.PauseTiming();
    work.Refresh();
    State.ResumeTiming();
    ConvertToYCC14(work.I);
    DenoisePass(work.I, v, &pool, isa);
    ConvertFromYCC14(work.I);
  }
  SetRate(State);
}
BENCHMARK(BM_DenoisePreset7)
    ->ArgNames({"avx", "threads"})
    ->Args({0, 2})
    ->Args({1, 2})
    ->Args({1, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
