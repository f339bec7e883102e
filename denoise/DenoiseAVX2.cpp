// AVX2 procedures of the noise-removal library: eight floats per vector.
// Entered only after the library has seen AVX2 on the processor. Built
// without FMA so that every lane rounds as the plain path does.
#include <immintrin.h>

#include "denoise/DenoiseApi.h"
#include "denoise/DenoiseLibInternal.h"

#include <cstring>

namespace denoise_avx2 {

struct V {
  using F = __m256;
  using I = __m256i;
  static constexpr int32_t N = 8;
  static F load(const float *p) { return _mm256_loadu_ps(p); }
  static void store(float *p, F v) { _mm256_storeu_ps(p, v); }
  static F set1(float v) { return _mm256_set1_ps(v); }
  static F add(F a, F b) { return _mm256_add_ps(a, b); }
  static F sub(F a, F b) { return _mm256_sub_ps(a, b); }
  static F mul(F a, F b) { return _mm256_mul_ps(a, b); }
  static F div(F a, F b) { return _mm256_div_ps(a, b); }
  static F max(F a, F b) { return _mm256_max_ps(a, b); }
  static F min(F a, F b) { return _mm256_min_ps(a, b); }
  static I round(F v) { return _mm256_cvtps_epi32(v); }
  static int32_t round1(float v) { return _mm_cvtss_si32(_mm_set_ss(v)); }
  static I trunc(F v) { return _mm256_cvttps_epi32(v); }
  static void storei(int32_t *p, I v) { _mm256_storeu_si256(reinterpret_cast<I *>(p), v); }
  static F tofloat(I v) { return _mm256_cvtepi32_ps(v); }
  static F pow2(I n) {
    return _mm256_castsi256_ps(_mm256_slli_epi32(_mm256_add_epi32(n, _mm256_set1_epi32(127)), 23));
  }
  static void deinterleave(F a, F b, F &e, F &o) {
    e = _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(_mm256_shuffle_ps(a, b, 0x88)), 0xD8));
    o = _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(_mm256_shuffle_ps(a, b, 0xDD)), 0xD8));
  }
  static void interleave(F e, F o, F &a, F &b) {
    const F lo = _mm256_unpacklo_ps(e, o), hi = _mm256_unpackhi_ps(e, o);
    a = _mm256_permute2f128_ps(lo, hi, 0x20);
    b = _mm256_permute2f128_ps(lo, hi, 0x31);
  }
  // N pairs of int16 samples, split into their first and second samples.
  static void loadpairs(const int16_t *p, F &e, F &o) {
    const I x = _mm256_loadu_si256(reinterpret_cast<const I *>(p));
    e = _mm256_cvtepi32_ps(_mm256_srai_epi32(_mm256_slli_epi32(x, 16), 16));
    o = _mm256_cvtepi32_ps(_mm256_srai_epi32(x, 16));
  }
  // The inverse, for values within the int16 range (the in-lane unpacks and
  // pack keep the pairs in order).
  static void storepairs(int16_t *p, I e, I o) {
    _mm256_storeu_si256(reinterpret_cast<I *>(p),
                        _mm256_packs_epi32(_mm256_unpacklo_epi32(e, o), _mm256_unpackhi_epi32(e, o)));
  }
};

#include "denoise/DenoiseKernels.inc"

// Only the procedures that carry the work have an AVX2 version.
void FillAvxTable(TDenoiseProc *Table) {
  Table[DNA_LEVEL_FILTER] = LevelFilter;
  Table[DNA_DECOMPOSE_ROWS] = DecomposeRows;
  Table[DNA_DECOMPOSE_COLS] = DecomposeCols;
  Table[DNA_RECONSTRUCT_COLS] = ReconstructCols;
  Table[DNA_RECONSTRUCT_ROWS] = ReconstructRows;
  Table[DNA_CHROMA_FILTER] = ChromaFilter;
}

}  // namespace denoise_avx2

void FillAVX2DenoiseTable(TDenoiseProc *Table) { denoise_avx2::FillAvxTable(Table); }
