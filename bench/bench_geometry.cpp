// Quarter turn of a 6000 x 4000 8-bit RGB image (the phone photo brought
// upright) on 1 and 2 threads by the best block kernels and by the plain
// tiles, the per-pixel reference, and a plain memcpy of the same bytes as the
// floor. CPU time is the whole process's, so it counts both threads.
// bench/compare-rotate runs this beside OpenCV and libvips.
#include "core/MultiThread.h"
#include "effects/Geometry.h"
#include "effects/GeometryKernels.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>

namespace {

constexpr uint32_t W = 6000, H = 4000, C = 3;

struct TImage {
  TICCImgInfo I{};
  TImage() {
    I.Width = W, I.Height = H, I.Channels = C, I.BPP = BPP_8, I.PixelFormat = PIXFMT_BGR;
    I.Bpl = GetAlignedBpl(W, C);
    I.Mem = AllocPixelBlock(I.Bpl, H);
    std::mt19937 rng(1);
    for (size_t i = 0; i < size_t(I.Bpl) * H; i += 4) {
      const uint32_t v = rng();
      std::memcpy(I.Mem + i, &v, 4);
    }
  }
  ~TImage() { FreeICCImgInfo(I, false); }
};

void SetBytes(benchmark::State &State) {
  State.SetBytesProcessed(int64_t(State.iterations()) * W * H * C);
  State.counters["MPix/s"] = benchmark::Counter(double(State.iterations()) * W * H, benchmark::Counter::kIsRate);
}

void BM_Memcpy(benchmark::State &State) {
  TImage a, b;
  for (auto _ : State) {
    std::memcpy(b.I.Mem, a.I.Mem, size_t(a.I.Bpl) * H);
    benchmark::ClobberMemory();
  }
  SetBytes(State);
}
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();

void BM_Rotate90CW(benchmark::State &State) {
  TImage a;
  TMultiThread pool(int32_t(State.range(0)));
  for (auto _ : State) Rotate90CW(a.I, &pool);
  SetBytes(State);
}
BENCHMARK(BM_Rotate90CW)->Arg(1)->Arg(2)->ArgName("threads")->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();

void BM_Rotate90CWPlainTiles(benchmark::State &State) {
  TImage a;
  TMultiThread pool(int32_t(State.range(0)));
  TRotatePathScope plain(TRotatePath::Plain);
  for (auto _ : State) Rotate90CW(a.I, &pool);
  SetBytes(State);
}
BENCHMARK(BM_Rotate90CWPlainTiles)->Arg(1)->Arg(2)->ArgName("threads")->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();

void BM_Rotate90Plain(benchmark::State &State) {
  TImage a;
  for (auto _ : State) Rotate90Plain(a.I, true);
  SetBytes(State);
}
BENCHMARK(BM_Rotate90Plain)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
