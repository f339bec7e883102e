// AVX2 code path (with FMA): 8 lanes per vector; chosen at run time.
#include <immintrin.h>

#include "ResizeCommon.h"

namespace resize_avx2 {

#include "ResizeSSE2Shared.h"

struct Isa : TSSE2Shared {
  // Two rows of 16-bit results per 256-bit pack come out lane-interleaved;
  // this restores lane order 0..15.
  static __m256i Pack16(__m256i a, __m256i b) {
    return _mm256_permute4x64_epi64(_mm256_packs_epi32(a, b), 0xD8);
  }

  static void HInt(const uint32_t *W, const TWeightTableInfo *Tab, int32_t N, int32_t Step, int32_t UMin,
                   int Shift, int16_t *Res) {
    const __m256i rnd = _mm256_set1_epi32(1 << (Shift - 1));
    const __m128i sh = _mm_cvtsi32_si128(Shift);
    for (int32_t x = 0; x < N; ++x) {
      const int32_t idx = Tab[x].SrcOffset / Step - UMin;
      const aint32 *w = static_cast<const aint32 *>(Tab[x].pWeightTable);
      const int32_t cnt = w[-1];
      const __m256i *p = reinterpret_cast<const __m256i *>(W + size_t(idx) * 16);
      __m256i a0 = _mm256_setzero_si256(), a1 = a0, b0 = a0, b1 = a0;
      int32_t k = 0;
      for (; k + 2 <= cnt; k += 2, p += 4) {
        const __m256i w0 = _mm256_set1_epi32(w[k]);
        const __m256i w1 = _mm256_set1_epi32(w[k + 1]);
        a0 = _mm256_add_epi32(a0, _mm256_madd_epi16(_mm256_load_si256(p), w0));
        a1 = _mm256_add_epi32(a1, _mm256_madd_epi16(_mm256_load_si256(p + 1), w0));
        b0 = _mm256_add_epi32(b0, _mm256_madd_epi16(_mm256_load_si256(p + 2), w1));
        b1 = _mm256_add_epi32(b1, _mm256_madd_epi16(_mm256_load_si256(p + 3), w1));
      }
      if (k < cnt) {
        const __m256i w0 = _mm256_set1_epi32(w[k]);
        a0 = _mm256_add_epi32(a0, _mm256_madd_epi16(_mm256_load_si256(p), w0));
        a1 = _mm256_add_epi32(a1, _mm256_madd_epi16(_mm256_load_si256(p + 1), w0));
      }
      a0 = _mm256_sra_epi32(_mm256_add_epi32(_mm256_add_epi32(a0, b0), rnd), sh);
      a1 = _mm256_sra_epi32(_mm256_add_epi32(_mm256_add_epi32(a1, b1), rnd), sh);
      _mm256_store_si256(reinterpret_cast<__m256i *>(Res + x * 16), Pack16(a0, a1));
    }
  }

  static void HFloat(const float *W, const TWeightTableInfo *Tab, int32_t N, int32_t Step, int32_t UMin, float *Res) {
    for (int32_t x = 0; x < N; ++x) {
      const int32_t idx = Tab[x].SrcOffset / Step - UMin;
      const float *w = static_cast<const float *>(Tab[x].pWeightTable);
      const int32_t cnt = WeightRowCount(w);
      const float *p = W + size_t(idx) * 16;
      __m256 a0 = _mm256_setzero_ps(), a1 = a0, b0 = a0, b1 = a0;
      int32_t k = 0;
      for (; k + 2 <= cnt; k += 2, p += 32) {
        const __m256 w0 = _mm256_broadcast_ss(w + k);
        const __m256 w1 = _mm256_broadcast_ss(w + k + 1);
        a0 = _mm256_fmadd_ps(_mm256_load_ps(p), w0, a0);
        a1 = _mm256_fmadd_ps(_mm256_load_ps(p + 8), w0, a1);
        b0 = _mm256_fmadd_ps(_mm256_load_ps(p + 16), w1, b0);
        b1 = _mm256_fmadd_ps(_mm256_load_ps(p + 24), w1, b1);
      }
      if (k < cnt) {
        const __m256 w0 = _mm256_broadcast_ss(w + k);
        a0 = _mm256_fmadd_ps(_mm256_load_ps(p), w0, a0);
        a1 = _mm256_fmadd_ps(_mm256_load_ps(p + 8), w0, a1);
      }
      _mm256_store_ps(Res + x * 16, _mm256_add_ps(a0, b0));
      _mm256_store_ps(Res + x * 16 + 8, _mm256_add_ps(a1, b1));
    }
  }

  // Blocks of 32 lanes; lines and the output have room up to the next 32.
  static void VInt(const uint32_t *Base, size_t Stride, const aint32 *Wt, int32_t Cnt, int32_t N, int Shift,
                   int16_t *Out) {
    const __m256i rnd = _mm256_set1_epi32(1 << (Shift - 1));
    const __m128i sh = _mm_cvtsi32_si128(Shift);
    const size_t s = Stride / 8;
    for (int32_t i = 0; i < N; i += 32) {
      __m256i a0 = _mm256_setzero_si256(), a1 = a0, a2 = a0, a3 = a0;
      const __m256i *p = reinterpret_cast<const __m256i *>(Base + i);
      for (int32_t k = 0; k < Cnt; ++k, p += s) {
        const __m256i wv = _mm256_set1_epi32(Wt[k]);
        a0 = _mm256_add_epi32(a0, _mm256_madd_epi16(_mm256_load_si256(p), wv));
        a1 = _mm256_add_epi32(a1, _mm256_madd_epi16(_mm256_load_si256(p + 1), wv));
        a2 = _mm256_add_epi32(a2, _mm256_madd_epi16(_mm256_load_si256(p + 2), wv));
        a3 = _mm256_add_epi32(a3, _mm256_madd_epi16(_mm256_load_si256(p + 3), wv));
      }
      a0 = _mm256_sra_epi32(_mm256_add_epi32(a0, rnd), sh);
      a1 = _mm256_sra_epi32(_mm256_add_epi32(a1, rnd), sh);
      a2 = _mm256_sra_epi32(_mm256_add_epi32(a2, rnd), sh);
      a3 = _mm256_sra_epi32(_mm256_add_epi32(a3, rnd), sh);
      __m256i *o = reinterpret_cast<__m256i *>(Out + i);
      _mm256_storeu_si256(o, Pack16(a0, a1));
      _mm256_storeu_si256(o + 1, Pack16(a2, a3));
    }
  }

  static void VFloat(const float *Base, size_t Stride, const float *W, int32_t Cnt, int32_t N, float *Out) {
    for (int32_t i = 0; i < N; i += 32) {
      __m256 a0 = _mm256_setzero_ps(), a1 = a0, a2 = a0, a3 = a0;
      const float *p = Base + i;
      for (int32_t k = 0; k < Cnt; ++k, p += Stride) {
        const __m256 wv = _mm256_broadcast_ss(W + k);
        a0 = _mm256_fmadd_ps(_mm256_load_ps(p), wv, a0);
        a1 = _mm256_fmadd_ps(_mm256_load_ps(p + 8), wv, a1);
        a2 = _mm256_fmadd_ps(_mm256_load_ps(p + 16), wv, a2);
        a3 = _mm256_fmadd_ps(_mm256_load_ps(p + 24), wv, a3);
      }
      _mm256_storeu_ps(Out + i, a0);
      _mm256_storeu_ps(Out + i + 8, a1);
      _mm256_storeu_ps(Out + i + 16, a2);
      _mm256_storeu_ps(Out + i + 24, a3);
    }
  }

  static void RoundSat(const float *In, int32_t N, int16_t *Out) {
    const __m256 lo = _mm256_set1_ps(-32768.0f), hi = _mm256_set1_ps(32767.0f);
    int32_t i = 0;
    for (; i + 16 <= N; i += 16) {
      const __m256 a = _mm256_min_ps(_mm256_max_ps(_mm256_loadu_ps(In + i), lo), hi);
      const __m256 b = _mm256_min_ps(_mm256_max_ps(_mm256_loadu_ps(In + i + 8), lo), hi);
      _mm256_storeu_si256(reinterpret_cast<__m256i *>(Out + i), Pack16(_mm256_cvtps_epi32(a), _mm256_cvtps_epi32(b)));
    }
    for (; i < N; ++i) Out[i] = RoundSat16(In[i]);
  }
};

#include "ResizePasses.inc"

}  // namespace resize_avx2
