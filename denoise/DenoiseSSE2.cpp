// SSE2 procedures of the noise-removal library: four floats per vector.
#include <emmintrin.h>

#include "denoise/DenoiseApi.h"
#include "denoise/DenoiseLibInternal.h"

#include <cstring>

namespace denoise_sse2 {

struct V {
  using F = __m128;
  using I = __m128i;
  static constexpr int32_t N = 4;
  static F load(const float *p) { return _mm_loadu_ps(p); }
  static void store(float *p, F v) { _mm_storeu_ps(p, v); }
  static F set1(float v) { return _mm_set1_ps(v); }
  static F add(F a, F b) { return _mm_add_ps(a, b); }
  static F sub(F a, F b) { return _mm_sub_ps(a, b); }
  static F mul(F a, F b) { return _mm_mul_ps(a, b); }
  static F div(F a, F b) { return _mm_div_ps(a, b); }
  static F max(F a, F b) { return _mm_max_ps(a, b); }
  static F min(F a, F b) { return _mm_min_ps(a, b); }
  static I round(F v) { return _mm_cvtps_epi32(v); }
  static int32_t round1(float v) { return _mm_cvtss_si32(_mm_set_ss(v)); }
  static I trunc(F v) { return _mm_cvttps_epi32(v); }
  static void storei(int32_t *p, I v) { _mm_storeu_si128(reinterpret_cast<I *>(p), v); }
  static F tofloat(I v) { return _mm_cvtepi32_ps(v); }
  static F pow2(I n) { return _mm_castsi128_ps(_mm_slli_epi32(_mm_add_epi32(n, _mm_set1_epi32(127)), 23)); }
  static void deinterleave(F a, F b, F &e, F &o) {
    e = _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0));
    o = _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1));
  }
  static void interleave(F e, F o, F &a, F &b) {
    a = _mm_unpacklo_ps(e, o);
    b = _mm_unpackhi_ps(e, o);
  }
  // N pairs of int16 samples, split into their first and second samples.
  static void loadpairs(const int16_t *p, F &e, F &o) {
    const I x = _mm_loadu_si128(reinterpret_cast<const I *>(p));
    e = _mm_cvtepi32_ps(_mm_srai_epi32(_mm_slli_epi32(x, 16), 16));
    o = _mm_cvtepi32_ps(_mm_srai_epi32(x, 16));
  }
  // The inverse, for values within the int16 range.
  static void storepairs(int16_t *p, I e, I o) {
    _mm_storeu_si128(reinterpret_cast<I *>(p), _mm_packs_epi32(_mm_unpacklo_epi32(e, o), _mm_unpackhi_epi32(e, o)));
  }
};

#include "denoise/DenoiseKernels.inc"

}  // namespace denoise_sse2

void FillSSE2DenoiseTable(TDenoiseProc *Table) { denoise_sse2::FillTable(Table); }
