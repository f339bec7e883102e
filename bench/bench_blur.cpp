// Unsharp mask and mask blur on a 6000 x 4000 image, with ImageMagick's
// -unsharp on the same image in the same run as the speed reference (its
// algorithm differs: a plain Gaussian unsharp mask without bounds).
//   bench_blur --benchmark_filter=Unsharp
// Times are wall clock; every case reports MPix/s. The ImageMagick cases run
// convert on an MPC copy of the image (memory-mapped, so reading costs
// little) with two threads, and "ImageMagick/load_only" shows what the
// command costs without the filter.
#include "bench/MagickPeer.h"
#include "resample/Filter.h"
#include "core/ImgInfo.h"
#include "core/MultiThread.h"
#include "resize/ResizeFilterInfo.h"
#include "resample/WeightedMean.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr uint32_t W = 6000, H = 4000;

// A photo-like test picture: smooth gradients with fine noise and a few
// hard edges, so that the sharpening has work everywhere.
void Paint(TICCImgInfo &Img) {
  std::mt19937 rng(11);
  for (uint32_t y = 0; y < Img.Height; ++y) {
    uint8_t *row = ScanLine(Img, y);
    for (uint32_t x = 0; x < Img.Width; ++x)
      for (uint32_t c = 0; c < Img.Channels; ++c) {
        int32_t v = int32_t((x * (3 + c) + y * (5 - c)) / 97 % 200) + int32_t(rng() % 24);
        if (((x / 300) + (y / 200)) % 2) v += 30;
        row[x * Img.Channels + c] = uint8_t(std::min(v, 255));
      }
  }
}

struct TOwnedImage {
  TICCImgInfo I{};
  TOwnedImage(uint32_t Channels) {
    I.Width = W;
    I.Height = H;
    I.Channels = Channels;
    I.BPP = BPP_8;
    I.Bpl = GetAlignedBpl(W, Channels);
    I.Mem = AllocPixelBlock(I.Bpl, H);
    Paint(I);
  }
  ~TOwnedImage() { FreeICCImgInfo(I, false); }
};

void EnsureLibrary() {
  static bool loaded = false;
  if (!loaded) {
    LoadResizeLibrary(TESSIVO_BIN_DIR);
    loaded = true;
  }
}

void SetRate(benchmark::State &State, double Pixels) {
  State.counters["MPix/s"] = benchmark::Counter(Pixels * double(State.iterations()) / 1e6, benchmark::Counter::kIsRate);
}

// Args: radius x 10, threads, kernel code path (-1: the best), channels.
void BM_UnsharpMask(benchmark::State &State) {
  EnsureLibrary();
  const double radius = double(State.range(0)) / 10;
  const int32_t threads = int32_t(State.range(1));
  const int32_t isa = int32_t(State.range(2));
  TOwnedImage img(uint32_t(State.range(3)));
  TMultiThread pool(threads);
  TUnsharpMask usm;
  usm.Isa = isa;
  usm.SetUnSharpMaskParam(100, 100, false, radius, 0, 0, 0);
  usm.DoUnSharpMask(img.I, false, &pool);  // builds tables and buffers
  for (auto _ : State) {
    usm.DoUnSharpMask(img.I, false, &pool);
    benchmark::ClobberMemory();
  }
  SetRate(State, double(W) * H);
}
BENCHMARK(BM_UnsharpMask)
    ->ArgNames({"radius10", "threads", "isa", "ch"})
    ->Args({10, 2, -1, 3})
    ->Args({30, 2, -1, 3})
    ->Args({10, 2, RISA_SSE2, 3})
    ->Args({10, 2, RISA_PLAIN, 3})
    ->Args({10, 1, -1, 3})
    ->Args({10, 2, -1, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The blur pass alone, as the unsharp mask runs it.
void BM_UnsharpBlurPass(benchmark::State &State) {
  EnsureLibrary();
  const double radius = double(State.range(0)) / 10;
  TOwnedImage img(3);
  TMultiThread pool(2);
  TRGBUSMFilter_i16 f;
  TGaussianBlurWeight w(radius + 0.5);
  f.SetMaxThread(2);
  f.SetFilterParam(img.I, w.FIRadius + 1);
  w.SetWeight(f.Param.HWeightTable, int32_t(W), false, f.HStep());
  w.SetWeight(f.Param.VWeightTable, int32_t(H), false, int32_t(f.FTmpBpl));
  f.SetBlockInfo();
  std::vector<uint8_t> dest(size_t(f.FDestBpl) * AllocRows(H));
  for (auto _ : State) {
    f.Execute(img.I.Mem, dest.data(), &pool);
    benchmark::ClobberMemory();
  }
  SetRate(State, double(W) * H);
}
BENCHMARK(BM_UnsharpBlurPass)->ArgName("radius10")->Arg(10)->Arg(30)->Unit(benchmark::kMillisecond)->UseRealTime();

// The limits and the sharpening alone, per kernel code path (the blur is
// made once outside the timing). Args: code path, threads.
void BM_UnsharpSharpenStage(benchmark::State &State) {
  EnsureLibrary();
  const int32_t isa = int32_t(State.range(0));
  const int32_t threads = int32_t(State.range(1));
  TOwnedImage img(3);
  TMultiThread pool(threads);
  const TUnsharpMaskCoefficients k = MakeUnsharpMaskCoefficients(100, 100, 0, 0, 0);
  TRGBUSMFilter_i16 f(isa);
  TGaussianBlurWeight w(1.5);
  f.SetMaxThread(uint32_t(threads));
  f.SetFilterParam(img.I, w.FIRadius + 1);
  w.SetWeight(f.Param.HWeightTable, int32_t(W), false, f.HStep());
  w.SetWeight(f.Param.VWeightTable, int32_t(H), false, int32_t(f.FTmpBpl));
  f.SetBlockInfo();
  std::vector<uint8_t> blur(size_t(f.FDestBpl) * AllocRows(H));
  f.Execute(img.I.Mem, blur.data(), &pool);
  for (auto _ : State) {
    f.UnsharpMask(img.I, blur.data(), k, &pool);
    benchmark::ClobberMemory();
  }
  SetRate(State, double(W) * H);
}
BENCHMARK(BM_UnsharpSharpenStage)
    ->ArgNames({"isa", "threads"})
    ->Args({RISA_AVX2, 2})
    ->Args({RISA_SSE2, 2})
    ->Args({RISA_PLAIN, 2})
    ->Args({RISA_AVX2, 1})
    ->Args({RISA_SSE2, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Text-shadow blur of a one-channel mask, opacity 1.0.
void BM_GaussianBlurMask(benchmark::State &State) {
  EnsureLibrary();
  TMultiThread pool(2);
  TGaussianBlur gb;
  gb.SetGauusianBlurParam(double(State.range(0)));
  TOwnedImage img(1);
  for (auto _ : State) {
    gb.DoGauusianBlur(img.I, 256, &pool);
    benchmark::ClobberMemory();
  }
  SetRate(State, double(W) * H);
}
BENCHMARK(BM_GaussianBlurMask)->ArgName("radius")->Arg(2)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---- ImageMagick ----------------------------------------------------------------

// The same RGB picture for convert, written once.
const TMagickPeer &Magick() {
  static const TOwnedImage img(3);
  static const TMagickPeer peer("bench_blur", img.I);
  return peer;
}

// Args: radius x 10 of our unsharp mask; ImageMagick gets the same Gaussian
// (sigma = (radius + 0.5) / 2), amount 1.0, threshold 0. Radius 0: load only.
void BM_ImageMagickUnsharp(benchmark::State &State) {
  if (!Magick().Ok()) {
    State.SkipWithError("ImageMagick's convert is not available");
    return;
  }
  std::vector<std::string> filter;
  if (State.range(0) > 0) {
    const double sigma = (double(State.range(0)) / 10 + 0.5) / 2;
    char geometry[64];
    std::snprintf(geometry, sizeof(geometry), "0x%.3f+1.0+0", sigma);
    filter = {"-unsharp", geometry};
  }
  for (auto _ : State) {
    const auto t0 = std::chrono::steady_clock::now();
    if (!Magick().Run(filter)) {
      State.SkipWithError("convert failed");
      return;
    }
    State.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  SetRate(State, double(W) * H);
}
BENCHMARK(BM_ImageMagickUnsharp)
    ->ArgName("radius10")
    ->Arg(10)
    ->Arg(30)
    ->Arg(0)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
