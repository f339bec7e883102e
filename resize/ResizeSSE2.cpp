// SSE2 code path: 4 lanes per vector, pmaddwd on the paired 16-bit weights.
#include <emmintrin.h>

#include "resize/ResizeCommon.h"

namespace resize_sse2 {

#include "resize/ResizePathCommon.h"
#include "resize/ResizeSSE2Shared.h"

struct Isa : TSSE2Shared {
  static void HInt(const uint32_t *W, const TWeightTableInfo *Tab, const int32_t *Idx, int32_t N, int Shift,
                   int16_t *Res) {
    const __m128i rnd = _mm_set1_epi32(1 << (Shift - 1));
    const __m128i sh = _mm_cvtsi32_si128(Shift);
    for (int32_t x = 0; x < N; ++x) {
      const int32_t idx = Idx[x];
      const aint32 *w = static_cast<const aint32 *>(Tab[x].pWeightTable);
      const int32_t cnt = w[-1];
      const __m128i *p = reinterpret_cast<const __m128i *>(W + size_t(idx) * 16);
      __m128i a0 = _mm_setzero_si128(), a1 = a0, a2 = a0, a3 = a0;
      for (int32_t k = 0; k < cnt; ++k, p += 4) {
        const __m128i wv = _mm_set1_epi32(w[k]);
        a0 = _mm_add_epi32(a0, _mm_madd_epi16(_mm_load_si128(p), wv));
        a1 = _mm_add_epi32(a1, _mm_madd_epi16(_mm_load_si128(p + 1), wv));
        a2 = _mm_add_epi32(a2, _mm_madd_epi16(_mm_load_si128(p + 2), wv));
        a3 = _mm_add_epi32(a3, _mm_madd_epi16(_mm_load_si128(p + 3), wv));
      }
      a0 = _mm_sra_epi32(_mm_add_epi32(a0, rnd), sh);
      a1 = _mm_sra_epi32(_mm_add_epi32(a1, rnd), sh);
      a2 = _mm_sra_epi32(_mm_add_epi32(a2, rnd), sh);
      a3 = _mm_sra_epi32(_mm_add_epi32(a3, rnd), sh);
      __m128i *o = reinterpret_cast<__m128i *>(Res + x * 16);
      _mm_store_si128(o, _mm_packs_epi32(a0, a1));
      _mm_store_si128(o + 1, _mm_packs_epi32(a2, a3));
    }
  }

  static void HFloat(const float *W, const TWeightTableInfo *Tab, const int32_t *Idx, int32_t N, float *Res) {
    for (int32_t x = 0; x < N; ++x) {
      const int32_t idx = Idx[x];
      const float *w = static_cast<const float *>(Tab[x].pWeightTable);
      const int32_t cnt = WeightRowCount(w);
      const float *p = W + size_t(idx) * 16;
      __m128 a0 = _mm_setzero_ps(), a1 = a0, a2 = a0, a3 = a0;
      for (int32_t k = 0; k < cnt; ++k, p += 16) {
        const __m128 wv = _mm_set1_ps(w[k]);
        a0 = _mm_add_ps(a0, _mm_mul_ps(_mm_load_ps(p), wv));
        a1 = _mm_add_ps(a1, _mm_mul_ps(_mm_load_ps(p + 4), wv));
        a2 = _mm_add_ps(a2, _mm_mul_ps(_mm_load_ps(p + 8), wv));
        a3 = _mm_add_ps(a3, _mm_mul_ps(_mm_load_ps(p + 12), wv));
      }
      float *o = Res + x * 16;
      _mm_store_ps(o, a0);
      _mm_store_ps(o + 4, a1);
      _mm_store_ps(o + 8, a2);
      _mm_store_ps(o + 12, a3);
    }
  }

  // Blocks of 16 lanes; lines and the output have room up to the next 32.
  static void VInt(const uint32_t *Base, size_t Stride, const aint32 *Wt, int32_t Cnt, int32_t N, int Shift,
                   int16_t *Out) {
    const __m128i rnd = _mm_set1_epi32(1 << (Shift - 1));
    const __m128i sh = _mm_cvtsi32_si128(Shift);
    for (int32_t i = 0; i < N; i += 16) {
      __m128i a0 = _mm_setzero_si128(), a1 = a0, a2 = a0, a3 = a0;
      const __m128i *p = reinterpret_cast<const __m128i *>(Base + i);
      const size_t s = Stride / 4;
      for (int32_t k = 0; k < Cnt; ++k, p += s) {
        const __m128i wv = _mm_set1_epi32(Wt[k]);
        a0 = _mm_add_epi32(a0, _mm_madd_epi16(_mm_load_si128(p), wv));
        a1 = _mm_add_epi32(a1, _mm_madd_epi16(_mm_load_si128(p + 1), wv));
        a2 = _mm_add_epi32(a2, _mm_madd_epi16(_mm_load_si128(p + 2), wv));
        a3 = _mm_add_epi32(a3, _mm_madd_epi16(_mm_load_si128(p + 3), wv));
      }
      a0 = _mm_sra_epi32(_mm_add_epi32(a0, rnd), sh);
      a1 = _mm_sra_epi32(_mm_add_epi32(a1, rnd), sh);
      a2 = _mm_sra_epi32(_mm_add_epi32(a2, rnd), sh);
      a3 = _mm_sra_epi32(_mm_add_epi32(a3, rnd), sh);
      __m128i *o = reinterpret_cast<__m128i *>(Out + i);
      _mm_store_si128(o, _mm_packs_epi32(a0, a1));
      _mm_store_si128(o + 1, _mm_packs_epi32(a2, a3));
    }
  }

  static void VFloat(const float *Base, size_t Stride, const float *W, int32_t Cnt, int32_t N, float *Out) {
    for (int32_t i = 0; i < N; i += 16) {
      __m128 a0 = _mm_setzero_ps(), a1 = a0, a2 = a0, a3 = a0;
      const float *p = Base + i;
      for (int32_t k = 0; k < Cnt; ++k, p += Stride) {
        const __m128 wv = _mm_set1_ps(W[k]);
        a0 = _mm_add_ps(a0, _mm_mul_ps(_mm_load_ps(p), wv));
        a1 = _mm_add_ps(a1, _mm_mul_ps(_mm_load_ps(p + 4), wv));
        a2 = _mm_add_ps(a2, _mm_mul_ps(_mm_load_ps(p + 8), wv));
        a3 = _mm_add_ps(a3, _mm_mul_ps(_mm_load_ps(p + 12), wv));
      }
      _mm_store_ps(Out + i, a0);
      _mm_store_ps(Out + i + 4, a1);
      _mm_store_ps(Out + i + 8, a2);
      _mm_store_ps(Out + i + 12, a3);
    }
  }

  static void RoundSat(const float *In, int32_t N, int16_t *Out) {
    const __m128 lo = _mm_set1_ps(-32768.0f), hi = _mm_set1_ps(32767.0f);
    int32_t i = 0;
    for (; i + 8 <= N; i += 8) {
      const __m128 a = _mm_min_ps(_mm_max_ps(_mm_loadu_ps(In + i), lo), hi);
      const __m128 b = _mm_min_ps(_mm_max_ps(_mm_loadu_ps(In + i + 4), lo), hi);
      _mm_storeu_si128(reinterpret_cast<__m128i *>(Out + i), _mm_packs_epi32(_mm_cvtps_epi32(a), _mm_cvtps_epi32(b)));
    }
    for (; i < N; ++i) Out[i] = RoundSat16(In[i]);
  }
};

#include "resize/ResizePasses.inc"

}  // namespace resize_sse2
