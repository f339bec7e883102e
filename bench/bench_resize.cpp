// Resize-pass benchmarks: the library's passes alone (tables and buffers are
// built once outside the timing), per data path, code path and thread count.
// Reductions report source MPix/s, enlargements destination MPix/s.
//   bench_resize --benchmark_filter=RGBi   etc.
#include "color/ICCUtil.h"
#include "resample/Filter.h"
#include "core/ImgInfo.h"
#include "core/MultiThread.h"
#include "resample/Weight.h"

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

struct TBenchCase {
  const char *Name;
  int32_t Kind;
  uint32_t BPP;
  uint32_t SW, SH, DW, DH;
  uint32_t Mode;
  int32_t ModeParam;
  bool PerDest;  // throughput in destination pixels
};

const TBenchCase Cases[] = {
    {"RGBi_Lanczos3_6000x4000_to_1920x1280", RFK_RGBi, 8, 6000, 4000, 1920, 1280, RESIZE_LANCZOS, 3, false},
    {"RGBf_Lanczos3_6000x4000_to_1920x1280", RFK_RGBf, 8, 6000, 4000, 1920, 1280, RESIZE_LANCZOS, 3, false},
    {"LRGBf_Lanczos3_6000x4000_to_1920x1280", RFK_LRGBf, 8, 6000, 4000, 1920, 1280, RESIZE_LANCZOS, 3, false},
    {"RGBAf_Lanczos3_6000x4000_to_1920x1280", RFK_RGBAf, 8, 6000, 4000, 1920, 1280, RESIZE_LANCZOS, 3, false},
    {"RGBi_Spline36_1500x1000_to_4500x3000", RFK_RGBi, 8, 1500, 1000, 4500, 3000, RESIZE_SPLINE36, 0, true},
    {"GRAYi_Lanczos3_6000x4000_to_1920x1280", RFK_GRAYi, 8, 6000, 4000, 1920, 1280, RESIZE_LANCZOS, 3, false},
    {"CMYKi_Lanczos3_6000x4000_to_1920x1280", RFK_CMYKi, 8, 6000, 4000, 1920, 1280, RESIZE_LANCZOS, 3, false},
    {"RGBi14_Lanczos3_6000x4000_to_1920x1280", RFK_RGBi, 14, 6000, 4000, 1920, 1280, RESIZE_LANCZOS, 3, false},
    {"RGBi_Lanczos3_6000x4000_to_1920x4000", RFK_RGBi, 8, 6000, 4000, 1920, 4000, RESIZE_LANCZOS, 3, false},
    {"RGBi_Lanczos3_6000x4000_to_6000x1280", RFK_RGBi, 8, 6000, 4000, 6000, 1280, RESIZE_LANCZOS, 3, false},
    {"RGBf_Lanczos3_6000x4000_to_6000x1280", RFK_RGBf, 8, 6000, 4000, 6000, 1280, RESIZE_LANCZOS, 3, false},
};

struct TBenchImage {
  std::vector<uint8_t> Block;
  TICCImgInfo Img{};
};

// One random source per geometry and layout, shared by all runs.
const TICCImgInfo &SourceFor(const TBenchCase &C) {
  static std::vector<std::unique_ptr<TBenchImage>> cache;
  const uint32_t ch = uint32_t(FilterVariants[C.Kind].Channels);
  for (auto &b : cache)
    if (b->Img.Width == C.SW && b->Img.Height == C.SH && b->Img.Channels == ch && b->Img.BPP == C.BPP) return b->Img;
  auto b = std::make_unique<TBenchImage>();
  b->Img.Width = C.SW;
  b->Img.Height = C.SH;
  b->Img.Channels = ch;
  b->Img.BPP = C.BPP;
  b->Img.Bpl = C.BPP == 8 ? GetAlignedBpl(C.SW, ch) : GetAlignedBpl16(C.SW, ch);
  b->Block.resize(size_t(b->Img.Bpl) * AllocRows(C.SH));
  uint64_t x = 0x9E3779B97F4A7C15ull;  // xorshift: cheap next to the passes
  auto next = [&x] {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    return x;
  };
  if (C.BPP == 8) {
    for (size_t i = 0; i + 8 <= b->Block.size(); i += 8) {
      const uint64_t v = next();
      std::memcpy(b->Block.data() + i, &v, 8);
    }
  } else {
    int16_t *p = reinterpret_cast<int16_t *>(b->Block.data());
    for (size_t i = 0; i < b->Block.size() / 2; ++i) p[i] = int16_t(next() % 16321);
  }
  b->Img.Mem = b->Block.data();
  cache.push_back(std::move(b));
  return cache.back()->Img;
}

void RunCase(benchmark::State &State, const TBenchCase &C, int32_t Isa, int32_t Threads) {
  const TICCImgInfo &src = SourceFor(C);
  std::unique_ptr<TCustomResizeFilter> f(CreateResizeFilter(C.Kind, Isa));
  TWeightSetter *setter = CreateWeightSetter(C.Mode, C.ModeParam).Setter;
  f->SetMaxThread(uint32_t(Threads));
  f->SetResizeParam(src, int32_t(C.DW), int32_t(C.DH));
  const bool isFloat = !FilterVariants[C.Kind].IsInteger;
  if (C.DW != C.SW) setter->SetWeight(f->Param.HWeightTable, int32_t(C.SW), isFloat, f->Param.HStep, int32_t(C.DW));
  if (C.DH != C.SH)
    setter->SetWeight(f->Param.VWeightTable, int32_t(C.SH), isFloat,
                      C.DW != C.SW ? int32_t(f->FTmpBpl) : f->Param.VStep, int32_t(C.DH));
  setter->Release();
  f->SetBlockInfo();
  f->SetGammaTable(src, MakeResizeGammaTables);
  uint8_t *dest = AllocPixelBlock(f->FDestBpl, C.DH);
  TMultiThread pool(Threads);
  // Processor time of all threads, which other load on the machine does not
  // inflate the way it does the elapsed time.
  auto cpuSeconds = [] {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + 1e-6 * double(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
  };
  const double cpu0 = cpuSeconds();
  for (auto _ : State) {
    f->Execute(src.Mem, dest, &pool);
    benchmark::ClobberMemory();
  }
  const double cpu = cpuSeconds() - cpu0;
  PageFree(dest);
  State.counters["cpu_ms"] = 1e3 * cpu / double(State.iterations());
  const double pix = C.PerDest ? double(C.DW) * C.DH : double(C.SW) * C.SH;
  State.counters["MPix/s"] =
      benchmark::Counter(pix * double(State.iterations()) / 1e6, benchmark::Counter::kIsRate);
}

}  // namespace

int main(int argc, char **argv) {
  LoadResizeLibrary(TESSIVO_BIN_DIR);
  const char *isaNames[] = {"plain", "sse2", "avx2"};
  for (const TBenchCase &c : Cases)
    for (int32_t isa = RISA_PLAIN; isa <= RISA_AVX2; ++isa)
      for (int32_t threads : {1, 2}) {
        if (isa == RISA_AVX2 && !ResizeLibrary()->HasAVX) continue;
        const std::string name = std::string(c.Name) + "/" + isaNames[isa] + "/threads:" + std::to_string(threads);
        auto *b = benchmark::RegisterBenchmark(name.c_str(),
                                               [&c, isa, threads](benchmark::State &s) { RunCase(s, c, isa, threads); });
        b->Unit(benchmark::kMillisecond)->UseRealTime();
        // BENCH_RESIZE_ITERATIONS fixes the iteration count, so that counting
        // cycles with perf stat at two counts isolates the passes.
        if (const char *it = std::getenv("BENCH_RESIZE_ITERATIONS"))
          b->Iterations(std::max(1, std::atoi(it)));
        else
          b->MinTime(0.2);
      }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  FreeResizeLibrary();
  return 0;
}
