// Splits a loop over rows across a worker pool: every pool thread gets one
// band of consecutive rows (the static split of SplitRange), so a result
// never depends on the thread count. Without a pool, or with one thread,
// the whole range runs on the calling thread.
#pragma once

#include "core/MultiThread.h"

#include <cstdint>

template <class F>
void ForRowBands(TMultiThread *Pool, uint32_t Count, const F &Fn) {
  if (!Pool || Pool->MaxThread() <= 1 || Count < 2) {
    if (Count) Fn(0u, Count);
    return;
  }
  struct TJob {
    const F *Fn;
    uint32_t Count;
  } job{&Fn, Count};
  Pool->exec_multi_thread_func(
      [](int32_t Index, int32_t Threads, void *Param) {
        const auto *j = static_cast<const TJob *>(Param);
        const TRowRange r = SplitRange(j->Count, Index, Threads);
        if (!r.empty()) (*j->Fn)(r.First, r.Last);
      },
      &job);
}
