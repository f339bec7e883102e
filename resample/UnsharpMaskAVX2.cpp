// AVX2 kernels of the unsharp mask: sixteen 16-bit samples per vector, with
// the same arithmetic as the SSE2 kernels (every operation stays within
// 128-bit lanes, so the lane order comes back as it went in). Compiled with
// -mavx2 and entered only when the processor has it. Nothing here calls an
// inline function of a header (std::min and the like): the linker could keep
// this file's AVX2 copy for the whole program.
#include "resample/UnsharpMaskKernels.h"

#include <immintrin.h>

namespace usm_avx2 {

namespace {

inline __m256i LoadU(const void *P) { return _mm256_loadu_si256(static_cast<const __m256i *>(P)); }
inline void StoreU(void *P, __m256i V) { _mm256_storeu_si256(static_cast<__m256i *>(P), V); }

inline __m256i MulShift12(__m256i X, __m256i K) {
  const __m256i lo = _mm256_mullo_epi16(X, K);
  const __m256i hi = _mm256_mulhi_epi16(X, K);
  return _mm256_packs_epi32(_mm256_srai_epi32(_mm256_unpacklo_epi16(lo, hi), 12),
                            _mm256_srai_epi32(_mm256_unpackhi_epi16(lo, hi), 12));
}

struct TCoef {
  __m256i S, H, T, THalf, U, L, Full, Zero;
  explicit TCoef(const TUnsharpMaskCoefficients &K)
      : S(_mm256_set1_epi16(K.StrengthS)), H(_mm256_set1_epi16(K.StrengthH)),
        T(_mm256_set1_epi16(K.Threshold64)), THalf(_mm256_set1_epi16(int16_t(K.Threshold64 >> 1))),
        U(_mm256_set1_epi16(K.Upper)), L(_mm256_set1_epi16(K.Lower)), Full(_mm256_set1_epi16(FULL_SCALE_14)),
        Zero(_mm256_setzero_si256()) {}
};

inline __m256i Sharpen(__m256i o, __m256i b, __m256i lmax, __m256i lmin, const TCoef &k) {
  const __m256i d = _mm256_subs_epi16(b, o);
  const __m256i upper = _mm256_min_epi16(k.Full, _mm256_max_epi16(lmax, _mm256_adds_epi16(o, MulShift12(d, k.U))));
  const __m256i lower = _mm256_max_epi16(k.Zero, _mm256_min_epi16(lmin, _mm256_adds_epi16(o, MulShift12(d, k.L))));
  const __m256i sign = _mm256_srai_epi16(d, 15);
  __m256i a = _mm256_xor_si256(d, sign);
  const __m256i below = _mm256_cmpgt_epi16(k.THalf, a);
  const __m256i ramp = _mm256_cmpgt_epi16(k.T, a);
  a = _mm256_blendv_epi8(a, _mm256_sub_epi16(_mm256_add_epi16(a, a), k.T), ramp);
  a = _mm256_andnot_si256(below, a);
  const __m256i dd = _mm256_xor_si256(a, sign);
  const __m256i strength = _mm256_blendv_epi8(k.S, k.H, sign);
  __m256i r = _mm256_adds_epi16(o, MulShift12(dd, strength));
  r = _mm256_min_epi16(r, upper);
  return _mm256_max_epi16(r, lower);
}

// Limits of samples i .. i + 15: groups i / 8 and i / 8 + 1.
inline void LoadLimits(const int16_t *L, __m256i &Max, __m256i &Min) {
  const __m256i a = LoadU(L), b = LoadU(L + 16);
  Max = _mm256_permute2x128_si256(a, b, 0x20);
  Min = _mm256_permute2x128_si256(a, b, 0x31);
}

void Sharpen8(uint8_t *Src, const int16_t *Blur, const int16_t *Limit, int32_t N, const TUnsharpMaskCoefficients &K) {
  const TCoef k(K);
  int32_t i = 0;
  for (; i + 16 <= N; i += 16) {
    __m256i mx, mn;
    LoadLimits(Limit + size_t(i / 8) * 16, mx, mn);
    const __m256i o =
        _mm256_slli_epi16(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(Src + i))), 6);
    const __m256i r = _mm256_srli_epi16(Sharpen(o, LoadU(Blur + i), mx, mn, k), 6);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(Src + i),
                     _mm_packus_epi16(_mm256_castsi256_si128(r), _mm256_extracti128_si256(r, 1)));
  }
  if (i < N) usm_plain::Kernels.Sharpen8(Src + i, Blur + i, Limit + size_t(i / 8) * 16, N - i, K);
}

void Sharpen14(int16_t *Src, const int16_t *Blur, const int16_t *Limit, int32_t N, const TUnsharpMaskCoefficients &K) {
  const TCoef k(K);
  int32_t i = 0;
  for (; i + 16 <= N; i += 16) {
    __m256i mx, mn;
    LoadLimits(Limit + size_t(i / 8) * 16, mx, mn);
    StoreU(Src + i, Sharpen(LoadU(Src + i), LoadU(Blur + i), mx, mn, k));
  }
  if (i < N) usm_plain::Kernels.Sharpen14(Src + i, Blur + i, Limit + size_t(i / 8) * 16, N - i, K);
}

// Maxima and minima of 16 samples into their two limit groups.
inline void StoreGroups(int16_t *O, __m256i Max, __m256i Min) {
  StoreU(O, _mm256_permute2x128_si256(Max, Min, 0x20));
  StoreU(O + 16, _mm256_permute2x128_si256(Max, Min, 0x31));
}

void HLimit8(const uint8_t *Src, int32_t Width, int32_t Channels, int16_t *Out) {
  const int32_t n = Width * Channels;
  const int32_t groups = (n + 7) / 8;
  const int32_t g0 = (Channels + 7) / 8 < groups ? (Channels + 7) / 8 : groups;
  usm_plain::HLimitGroups8(Src, n, Channels, 0, g0, Out);
  int32_t g = g0;
  for (; 8 * g + 32 + Channels <= n; g += 4) {
    const uint8_t *p = Src + 8 * g;
    const __m256i l = LoadU(p - Channels), c = LoadU(p), r = LoadU(p + Channels);
    const __m256i mx = _mm256_max_epu8(_mm256_max_epu8(l, c), r);
    const __m256i mn = _mm256_min_epu8(_mm256_min_epu8(l, c), r);
    int16_t *o = Out + size_t(g) * 16;
    StoreGroups(o, _mm256_slli_epi16(_mm256_cvtepu8_epi16(_mm256_castsi256_si128(mx)), 6),
                _mm256_slli_epi16(_mm256_cvtepu8_epi16(_mm256_castsi256_si128(mn)), 6));
    StoreGroups(o + 32, _mm256_slli_epi16(_mm256_cvtepu8_epi16(_mm256_extracti128_si256(mx, 1)), 6),
                _mm256_slli_epi16(_mm256_cvtepu8_epi16(_mm256_extracti128_si256(mn, 1)), 6));
  }
  usm_plain::HLimitGroups8(Src, n, Channels, g, groups, Out);
}

void HLimit14(const int16_t *Src, int32_t Width, int32_t Channels, int16_t *Out) {
  const int32_t n = Width * Channels;
  const int32_t groups = (n + 7) / 8;
  const int32_t g0 = (Channels + 7) / 8 < groups ? (Channels + 7) / 8 : groups;
  usm_plain::HLimitGroups14(Src, n, Channels, 0, g0, Out);
  int32_t g = g0;
  for (; 8 * g + 16 + Channels <= n; g += 2) {
    const int16_t *p = Src + 8 * g;
    const __m256i l = LoadU(p - Channels), c = LoadU(p), r = LoadU(p + Channels);
    StoreGroups(Out + size_t(g) * 16, _mm256_max_epi16(_mm256_max_epi16(l, c), r),
                _mm256_min_epi16(_mm256_min_epi16(l, c), r));
  }
  usm_plain::HLimitGroups14(Src, n, Channels, g, groups, Out);
}

void VLimit(const int16_t *A, const int16_t *B, const int16_t *C, int32_t Groups, int16_t *Out) {
  for (int32_t g = 0; g < Groups; ++g) {
    const size_t b = size_t(g) * 16;
    const __m256i a = LoadU(A + b), m = LoadU(B + b), c = LoadU(C + b);
    const __m256i mx = _mm256_max_epi16(_mm256_max_epi16(a, m), c);
    const __m256i mn = _mm256_min_epi16(_mm256_min_epi16(a, m), c);
    StoreU(Out + b, _mm256_blend_epi32(mx, mn, 0xF0));
  }
}

}  // namespace

const TUSMKernels Kernels = {HLimit8, HLimit14, VLimit, Sharpen8, Sharpen14};

}  // namespace usm_avx2
