// AVX2 code path (with FMA): 8 lanes per vector; chosen at run time.
#include <immintrin.h>

#include "resize/ResizeCommon.h"

namespace resize_avx2 {

#include "resize/ResizePathCommon.h"
#include "resize/ResizeSSE2Shared.h"

struct Isa : TSSE2Shared {
  // Gathering with one byte shuffle per unit and row (zero extension
  // included), unit by unit so that each 64-byte unit is written whole.
  // The next group's rows are prefetched line by line along the way.
  template <class Tr>
  static constexpr bool GatherPrefetches = Tr::C >= 3 && !Tr::Linear;

  template <class Tr, bool S16>
  static int32_t GatherIntAll(const uint8_t *const *Rows, const uint8_t *const *Next, int32_t SrcWidth, int32_t U0,
                              int32_t U1, uint32_t *O) {
    if constexpr (Tr::C < 3) {
      return TSSE2Shared::GatherIntAll<Tr, S16>(Rows, Next, SrcWidth, U0, U1, O);
    } else {
      constexpr int BP = Tr::C * (S16 ? 2 : 1);
      constexpr int LB = S16 ? 16 : 8;
      const int64_t valid = int64_t(SrcWidth) * BP;
      if (valid < LB) return U0;
      const int32_t end = int32_t(std::min<int64_t>({U1, (valid - LB) / (2 * BP) + 1, SrcWidth / 2}));
      constexpr char Z = char(0x80);
      __m128i mask;
      if constexpr (!S16 && Tr::C == 3)
        mask = _mm_setr_epi8(0, Z, 3, Z, 1, Z, 4, Z, 2, Z, 5, Z, Z, Z, Z, Z);
      else if constexpr (!S16)
        mask = _mm_setr_epi8(0, Z, 4, Z, 1, Z, 5, Z, 2, Z, 6, Z, 3, Z, 7, Z);
      else if constexpr (Tr::C == 3)
        mask = _mm_setr_epi8(0, 1, 6, 7, 2, 3, 8, 9, 4, 5, 10, 11, Z, Z, Z, Z);
      else
        mask = _mm_setr_epi8(0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15);
      auto load = [](const uint8_t *p) {
        return S16 ? _mm_loadu_si128(reinterpret_cast<const __m128i *>(p))
                   : _mm_loadl_epi64(reinterpret_cast<const __m128i *>(p));
      };
      const uint8_t *r0 = Rows[0], *r1 = Rows[1], *r2 = Rows[2], *r3 = Rows[3];
      __m256i *o = reinterpret_cast<__m256i *>(O);
      int32_t u = U0;
      for (; u < end; ++u, o += 2) {
        const size_t off = size_t(u) * 2 * BP;
        if (Next && (off & 63) < 2 * BP)
          for (int r = 0; r < 4; ++r) _mm_prefetch(reinterpret_cast<const char *>(Next[r] + off), _MM_HINT_T0);
        auto unit = [&](const uint8_t *r) { return _mm_shuffle_epi8(load(r + off), mask); };
        _mm256_store_si256(o, _mm256_set_m128i(unit(r1), unit(r0)));
        _mm256_store_si256(o + 1, _mm256_set_m128i(unit(r3), unit(r2)));
      }
      return std::max(u, U0);
    }
  }

  template <class Tr, bool S16>
  static int32_t GatherFloatAll(const uint8_t *const *Rows, const uint8_t *const *Next, int32_t SrcWidth, int32_t U0,
                                int32_t U1, float *O) {
    if constexpr (Tr::C < 3 || Tr::Linear) {
      return TSSE2Shared::GatherFloatAll<Tr, S16>(Rows, Next, SrcWidth, U0, U1, O);
    } else {
      constexpr int BP = Tr::C * (S16 ? 2 : 1);
      constexpr int LB = S16 ? 8 : 4;
      const int64_t valid = int64_t(SrcWidth) * BP;
      if (valid < LB) return U0;
      const int32_t end = int32_t(std::min<int64_t>({U1, (valid - LB) / BP + 1, SrcWidth}));
      const __m128 scale = _mm_set1_ps(S16 ? 1.0f : 64.0f);
      const __m128 inv = _mm_set1_ps(1.0f / float(FULL14));
      auto pixel = [&](const uint8_t *p) {
        __m128i i32;
        if constexpr (!S16) {
          int32_t b;
          std::memcpy(&b, p, 4);
          i32 = _mm_cvtepu8_epi32(_mm_cvtsi32_si128(b));
        } else {
          i32 = _mm_cvtepi16_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p)));
        }
        __m128 v = _mm_mul_ps(_mm_cvtepi32_ps(i32), scale);
        if constexpr (Tr::Alpha) {
          const __m128 a = _mm_shuffle_ps(v, v, 0xFF);
          v = _mm_blend_ps(_mm_mul_ps(v, _mm_mul_ps(a, inv)), v, 8);
        }
        return v;
      };
      int32_t u = U0;
      float *o = O;
      for (; u < end; ++u, o += 16) {
        const size_t off = size_t(u) * BP;
        if (Next && (off & 63) < BP)
          for (int r = 0; r < 4; ++r) _mm_prefetch(reinterpret_cast<const char *>(Next[r] + off), _MM_HINT_T0);
        for (int r = 0; r < 4; ++r) _mm_store_ps(o + r * 4, pixel(Rows[r] + off));
      }
      return std::max(u, U0);
    }
  }

  // Two rows of 16-bit results per 256-bit pack come out lane-interleaved;
  // this restores lane order 0..15.
  static __m256i Pack16(__m256i a, __m256i b) {
    return _mm256_permute4x64_epi64(_mm256_packs_epi32(a, b), 0xD8);
  }

  static void HInt(const uint32_t *W, const TWeightTableInfo *Tab, const int32_t *Idx, int32_t N, int Shift,
                   int16_t *Res) {
    const __m256i rnd = _mm256_set1_epi32(1 << (Shift - 1));
    const __m128i sh = _mm_cvtsi32_si128(Shift);
    for (int32_t x = 0; x < N; ++x) {
      const int32_t idx = Idx[x];
      const aint32 *w = static_cast<const aint32 *>(Tab[x].pWeightTable);
      const int32_t cnt = w[-1];
      const __m256i *p = reinterpret_cast<const __m256i *>(W + size_t(idx) * 16);
      // Integer adds have one cycle of latency: one accumulator per vector suffices.
      __m256i a0 = rnd, a1 = rnd;
      for (int32_t k = 0; k < cnt; ++k, p += 2) {
        const __m256i wv = _mm256_set1_epi32(w[k]);
        a0 = _mm256_add_epi32(a0, _mm256_madd_epi16(_mm256_load_si256(p), wv));
        a1 = _mm256_add_epi32(a1, _mm256_madd_epi16(_mm256_load_si256(p + 1), wv));
      }
      a0 = _mm256_sra_epi32(a0, sh);
      a1 = _mm256_sra_epi32(a1, sh);
      _mm256_store_si256(reinterpret_cast<__m256i *>(Res + x * 16), Pack16(a0, a1));
    }
  }

  static void HFloat(const float *W, const TWeightTableInfo *Tab, const int32_t *Idx, int32_t N, float *Res) {
    for (int32_t x = 0; x < N; ++x) {
      const int32_t idx = Idx[x];
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

#include "resize/ResizePasses.inc"

}  // namespace resize_avx2
