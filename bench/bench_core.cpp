// Image-core benchmarks: pool dispatch cost and per-pixel conversions on a
// 6000x4000 image. Throughput is reported as MPix/s ("MPix/s" counter).
#include "ImgInfo.h"
#include "MultiThread.h"

#include <benchmark/benchmark.h>

namespace {

void NoOp(int32_t, int32_t, void *) {}

void BM_PoolDispatch(benchmark::State &state) {
  TMultiThread pool(int32_t(state.range(0)));
  for (auto _ : state) pool.exec_multi_thread_func(NoOp, nullptr);
}
BENCHMARK(BM_PoolDispatch)->Arg(1)->Arg(2)->Arg(4);

}  // namespace

BENCHMARK_MAIN();
