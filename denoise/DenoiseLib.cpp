// Entries of the noise-removal library: the SSE2 table always, the AVX2
// table when the processor has AVX2, and the plain table for tests.
#include "denoise/DenoiseApi.h"
#include "denoise/DenoiseLibInternal.h"

#define DENOISE_EXPORT extern "C" __attribute__((visibility("default")))

DENOISE_EXPORT void GetDenoiseFuncs(TDenoiseProc *Sse2, TDenoiseProc *Avx) {
  if (Sse2) FillSSE2DenoiseTable(Sse2);
  if (!Avx) return;
  if (__builtin_cpu_supports("avx2"))
    FillAVX2DenoiseTable(Avx);
  else
    for (int32_t i = 0; i < DNA_AVX_COUNT; ++i) Avx[i] = nullptr;
}

DENOISE_EXPORT void GetDenoisePlainFuncs(TDenoiseProc *Plain) {
  if (Plain) FillPlainDenoiseTable(Plain);
}
