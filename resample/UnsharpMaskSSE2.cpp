// SSE2 kernels of the unsharp mask: eight 16-bit samples per vector. Each
// kernel leaves the ragged ends of a row to the plain code, so the results
// match the reference bit for bit.
#include "resample/UnsharpMaskKernels.h"

#include <emmintrin.h>

#include <algorithm>

namespace usm_sse2 {

namespace {

inline __m128i LoadU(const void *P) { return _mm_loadu_si128(static_cast<const __m128i *>(P)); }
inline void StoreU(void *P, __m128i V) { _mm_storeu_si128(static_cast<__m128i *>(P), V); }

// (X x K) >> 12 in 32 bits, saturated back to 16.
inline __m128i MulShift12(__m128i X, __m128i K) {
  const __m128i lo = _mm_mullo_epi16(X, K);
  const __m128i hi = _mm_mulhi_epi16(X, K);
  return _mm_packs_epi32(_mm_srai_epi32(_mm_unpacklo_epi16(lo, hi), 12),
                         _mm_srai_epi32(_mm_unpackhi_epi16(lo, hi), 12));
}

struct TCoef {
  __m128i S, H, T, THalf, U, L, Full, Zero;
  explicit TCoef(const TUnsharpMaskCoefficients &K)
      : S(_mm_set1_epi16(K.StrengthS)), H(_mm_set1_epi16(K.StrengthH)), T(_mm_set1_epi16(K.Threshold64)),
        THalf(_mm_set1_epi16(int16_t(K.Threshold64 >> 1))), U(_mm_set1_epi16(K.Upper)),
        L(_mm_set1_epi16(K.Lower)), Full(_mm_set1_epi16(FULL_SCALE_14)), Zero(_mm_setzero_si128()) {}
};

inline __m128i Sharpen(__m128i o, __m128i b, __m128i lmax, __m128i lmin, const TCoef &k) {
  const __m128i d = _mm_subs_epi16(b, o);
  const __m128i upper = _mm_min_epi16(k.Full, _mm_max_epi16(lmax, _mm_adds_epi16(o, MulShift12(d, k.U))));
  const __m128i lower = _mm_max_epi16(k.Zero, _mm_min_epi16(lmin, _mm_adds_epi16(o, MulShift12(d, k.L))));
  const __m128i sign = _mm_srai_epi16(d, 15);
  __m128i a = _mm_xor_si128(d, sign);
  const __m128i below = _mm_cmpgt_epi16(k.THalf, a);
  const __m128i ramp = _mm_cmpgt_epi16(k.T, a);
  a = _mm_or_si128(_mm_andnot_si128(ramp, a), _mm_and_si128(ramp, _mm_sub_epi16(_mm_add_epi16(a, a), k.T)));
  a = _mm_andnot_si128(below, a);
  const __m128i dd = _mm_xor_si128(a, sign);
  const __m128i strength = _mm_or_si128(_mm_and_si128(sign, k.H), _mm_andnot_si128(sign, k.S));
  __m128i r = _mm_adds_epi16(o, MulShift12(dd, strength));
  r = _mm_min_epi16(r, upper);
  return _mm_max_epi16(r, lower);
}

void Sharpen8(uint8_t *Src, const int16_t *Blur, const int16_t *Limit, int32_t N, const TUnsharpMaskCoefficients &K) {
  const TCoef k(K);
  int32_t i = 0;
  for (; i + 16 <= N; i += 16) {
    const __m128i s = LoadU(Src + i);
    const int16_t *l = Limit + size_t(i / 8) * 16;
    const __m128i o0 = _mm_slli_epi16(_mm_unpacklo_epi8(s, k.Zero), 6);
    const __m128i o1 = _mm_slli_epi16(_mm_unpackhi_epi8(s, k.Zero), 6);
    const __m128i r0 = Sharpen(o0, LoadU(Blur + i), LoadU(l), LoadU(l + 8), k);
    const __m128i r1 = Sharpen(o1, LoadU(Blur + i + 8), LoadU(l + 16), LoadU(l + 24), k);
    StoreU(Src + i, _mm_packus_epi16(_mm_srli_epi16(r0, 6), _mm_srli_epi16(r1, 6)));
  }
  if (i < N) usm_plain::Kernels.Sharpen8(Src + i, Blur + i, Limit + size_t(i / 8) * 16, N - i, K);
}

void Sharpen14(int16_t *Src, const int16_t *Blur, const int16_t *Limit, int32_t N, const TUnsharpMaskCoefficients &K) {
  const TCoef k(K);
  int32_t i = 0;
  for (; i + 8 <= N; i += 8) {
    const int16_t *l = Limit + size_t(i / 8) * 16;
    StoreU(Src + i, Sharpen(LoadU(Src + i), LoadU(Blur + i), LoadU(l), LoadU(l + 8), k));
  }
  if (i < N) usm_plain::Kernels.Sharpen14(Src + i, Blur + i, Limit + size_t(i / 8) * 16, N - i, K);
}

// Whole groups whose neighbours lie inside the row run in vectors; the first
// group (no left neighbour for the first pixel) and the ragged end are plain.
void HLimit8(const uint8_t *Src, int32_t Width, int32_t Channels, int16_t *Out) {
  const int32_t n = Width * Channels;
  const int32_t groups = LimitGroups(n);
  const int32_t g0 = std::min((Channels + 7) / 8, groups);
  usm_plain::HLimitGroups8(Src, n, Channels, 0, g0, Out);
  const __m128i zero = _mm_setzero_si128();
  int32_t g = g0;
  for (; 8 * g + 16 + Channels <= n; g += 2) {
    const uint8_t *p = Src + 8 * g;
    const __m128i l = LoadU(p - Channels), c = LoadU(p), r = LoadU(p + Channels);
    const __m128i mx = _mm_max_epu8(_mm_max_epu8(l, c), r);
    const __m128i mn = _mm_min_epu8(_mm_min_epu8(l, c), r);
    int16_t *o = Out + size_t(g) * 16;
    StoreU(o, _mm_slli_epi16(_mm_unpacklo_epi8(mx, zero), 6));
    StoreU(o + 8, _mm_slli_epi16(_mm_unpacklo_epi8(mn, zero), 6));
    StoreU(o + 16, _mm_slli_epi16(_mm_unpackhi_epi8(mx, zero), 6));
    StoreU(o + 24, _mm_slli_epi16(_mm_unpackhi_epi8(mn, zero), 6));
  }
  usm_plain::HLimitGroups8(Src, n, Channels, g, groups, Out);
}

void HLimit14(const int16_t *Src, int32_t Width, int32_t Channels, int16_t *Out) {
  const int32_t n = Width * Channels;
  const int32_t groups = LimitGroups(n);
  const int32_t g0 = std::min((Channels + 7) / 8, groups);
  usm_plain::HLimitGroups14(Src, n, Channels, 0, g0, Out);
  int32_t g = g0;
  for (; 8 * g + 8 + Channels <= n; ++g) {
    const int16_t *p = Src + 8 * g;
    const __m128i l = LoadU(p - Channels), c = LoadU(p), r = LoadU(p + Channels);
    int16_t *o = Out + size_t(g) * 16;
    StoreU(o, _mm_max_epi16(_mm_max_epi16(l, c), r));
    StoreU(o + 8, _mm_min_epi16(_mm_min_epi16(l, c), r));
  }
  usm_plain::HLimitGroups14(Src, n, Channels, g, groups, Out);
}

void VLimit(const int16_t *A, const int16_t *B, const int16_t *C, int32_t Groups, int16_t *Out) {
  for (int32_t g = 0; g < Groups; ++g) {
    const size_t b = size_t(g) * 16;
    StoreU(Out + b, _mm_max_epi16(_mm_max_epi16(LoadU(A + b), LoadU(B + b)), LoadU(C + b)));
    StoreU(Out + b + 8, _mm_min_epi16(_mm_min_epi16(LoadU(A + b + 8), LoadU(B + b + 8)), LoadU(C + b + 8)));
  }
}

}  // namespace

const TUSMKernels Kernels = {HLimit8, HLimit14, VLimit, Sharpen8, Sharpen14};

}  // namespace usm_sse2
