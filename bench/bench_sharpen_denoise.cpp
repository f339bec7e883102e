// The sharpen and denoise steps on a 6000 x 4000 colour picture, each with
// its peer in the same run:
//  - the unsharp-mask step on luminance only (Y taken out into a plane, each
//    sharpened row rebuilt into BGR at once) against the engine alone on all
//    channels of the same 14-bit image;
//  - noise removal with preset 7 per code path (SSE2, AVX) and thread count,
//    the whole step (YCbCr conversions included).
//  - the noise-removal dialog's views of a 480 x 480 section: the picture
//    (the step itself, the peer), one component, and one level's removed
//    noise (two pyramids and a synthesis more).
// OpenCV's non-local means is timed against the noise removal by
// bench/compare-denoise --speed (a Python peer). Times are wall clock; every
// case reports MPix/s, and "cpu MPix/s" = pixels per processor second of the
// timed calls times the thread count: what the case would reach on idle
// processors, comparable between cases on a busy machine.
#include "core/ImgInfo.h"
#include "core/MultiThread.h"
#include "core/PixelConvert.h"
#include "effects/DenoiseEffect.h"
#include "effects/DenoisePass.h"
#include "effects/DenoiseView.h"
#include "effects/UnsharpMaskFilter.h"
#include "resample/Filter.h"
#include "resample/WeightedMean.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <ctime>
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

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// Processor time of the timed calls, summed.
struct TCpu {
  double Total = 0, Start = 0;
  void Begin() { Start = CpuSeconds(); }
  void End() { Total += CpuSeconds() - Start; }
};

void SetRate(benchmark::State &State, const TCpu &Cpu, int64_t Threads) {
  const double mpix = double(W) * H * double(State.iterations()) / 1e6;
  State.counters["MPix/s"] = benchmark::Counter(mpix, benchmark::Counter::kIsRate);
  State.counters["cpu MPix/s"] = Cpu.Total > 0 ? mpix * double(Threads) / Cpu.Total : 0;
}

// Runs Step on a fresh copy of the picture per iteration; only Step is timed.
template <class TStep>
void TimeOnFreshCopies(benchmark::State &State, int64_t Threads, TStep Step) {
  TWork work;
  TCpu cpu;
  for (auto _ : State) {
    State.PauseTiming();
    work.Refresh();
    State.ResumeTiming();
    cpu.Begin();
    Step(work.I);
    cpu.End();
  }
  SetRate(State, cpu, Threads);
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
  TimeOnFreshCopies(State, State.range(0), [&](TICCImgInfo &Img) { f.DoEffect(Img, p); });
}
BENCHMARK(BM_UnsharpMaskStepLumaOnly)->ArgName("threads")->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(6);

// The peer: the engine alone on all three channels of the same image.
void BM_UnsharpMaskEngineAllChannels(benchmark::State &State) {
  LoadResizeLibrary(TESSIVO_BIN_DIR);
  TMultiThread pool(int32_t(State.range(0)));
  TUnsharpMask engine;
  TSharpen(false).ApplyToEngine(engine, false);
  engine.SetMaxThreadNum(int32_t(State.range(0)));
  TimeOnFreshCopies(State, State.range(0), [&](TICCImgInfo &Img) { engine.DoUnSharpMask(Img, false, &pool); });
}
BENCHMARK(BM_UnsharpMaskEngineAllChannels)->ArgName("threads")->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(6);

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
  TimeOnFreshCopies(State, State.range(1), [&](TICCImgInfo &Img) {
    ConvertToYCC14(Img);
    DenoisePass(Img, v, &pool, isa);
    ConvertFromYCC14(Img);
  });
}
BENCHMARK(BM_DenoisePreset7)
    ->ArgNames({"avx", "threads"})
    ->Args({0, 2})
    ->Args({1, 2})
    ->Args({1, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

// Args: view (DenoiseViewNames index), threads. A fresh 480 x 480 section of
// the picture's centre per call, as the dialog takes it.
void BM_DenoiseDialogView(benchmark::State &State) {
  LoadDenoiseLibrary(TESSIVO_BIN_DIR);
  const int32_t view = int32_t(State.range(0));
  TMultiThread pool(int32_t(State.range(1)));
  const TDenoiseIsa isa = DenoiseIsaFor(true);
  const TDenoiseSection section = DenoiseViewSection(W, H, view, W / 2, H / 2);
  TCpu cpu;
  for (auto _ : State) {
    State.PauseTiming();
    TICCImgOwner s(false);
    CopySection(Picture().I, section, *s);
    State.ResumeTiming();
    cpu.Begin();
    RenderDenoiseView(*s, DenoisePreset(7), view, &pool, isa);
    cpu.End();
  }
  const double mpix = double(section.W) * section.H * double(State.iterations()) / 1e6;
  State.counters["MPix/s"] = benchmark::Counter(mpix, benchmark::Counter::kIsRate);
  State.counters["cpu MPix/s"] = cpu.Total > 0 ? mpix * double(State.range(1)) / cpu.Total : 0;
  State.SetLabel(DenoiseViewNames[view]);
}
BENCHMARK(BM_DenoiseDialogView)
    ->ArgNames({"view", "threads"})
    ->Args({DENOISE_VIEW_100, 2})
    ->Args({DENOISE_VIEW_Y, 2})
    ->Args({DENOISE_VIEW_NOISE0, 2})
    ->Args({DENOISE_VIEW_NOISE0 + 4, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(20);

}  // namespace

BENCHMARK_MAIN();
