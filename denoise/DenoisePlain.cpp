// Plain C++ procedures of the noise-removal library: one float per "vector".
// They are the reference the SSE2 and AVX2 procedures are tested against.
#include "denoise/DenoiseApi.h"
#include "denoise/DenoiseLibInternal.h"

#include <cstring>

namespace denoise_plain {

struct V {
  using F = float;
  using I = int32_t;
  static constexpr int32_t N = 1;
  static F load(const float *p) { return *p; }
  static void store(float *p, F v) { *p = v; }
  static F set1(float v) { return v; }
  static F add(F a, F b) { return a + b; }
  static F sub(F a, F b) { return a - b; }
  static F mul(F a, F b) { return a * b; }
  static F div(F a, F b) { return a / b; }
  static F max(F a, F b) { return a > b ? a : b; }
  static F min(F a, F b) { return a < b ? a : b; }
  static I round(F v) { return int32_t(__builtin_lrintf(v)); }
  static int32_t round1(float v) { return int32_t(__builtin_lrintf(v)); }
  static I trunc(F v) { return int32_t(v); }
  static void storei(int32_t *p, I v) { *p = v; }
  static F tofloat(I v) { return float(v); }
  static F pow2(I n) {
    const uint32_t bits = uint32_t(n + 127) << 23;
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
  }
  static void deinterleave(F a, F b, F &e, F &o) { e = a, o = b; }
  static void interleave(F e, F o, F &a, F &b) { a = e, b = o; }
  static void loadpairs(const int16_t *p, F &e, F &o) { e = float(p[0]), o = float(p[1]); }
  static void storepairs(int16_t *p, I e, I o) { p[0] = int16_t(e), p[1] = int16_t(o); }
};

#include "denoise/DenoiseKernels.inc"

}  // namespace denoise_plain

void FillPlainDenoiseTable(TDenoiseProc *Table) { denoise_plain::FillTable(Table); }
