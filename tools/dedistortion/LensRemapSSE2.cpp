// The SSE2 interpolation rows: a pixel's four samples go through one vector,
// and a row of four taps (16 or 32 contiguous bytes) is one or two loads.
#include "tools/dedistortion/LensRemap.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstring>

namespace {

// Four taps of one source row as four vectors of floats; Gather copies the
// taps first where some fall outside the picture.
template <class T>
void LoadTaps(const TRemapSource &S, int32_t X, int32_t Y, __m128 P[4]) {
  alignas(16) T gathered[16];
  Y = std::clamp(Y, 0, S.Height - 1);
  const T *row = reinterpret_cast<const T *>(S.Mem + size_t(Y) * S.Stride);
  const T *p;
  if (X >= 0 && X + 3 < S.Width) {
    p = row + size_t(X) * 4;
  } else {
    for (int32_t k = 0; k < 4; ++k) std::memcpy(gathered + k * 4, row + size_t(std::clamp(X + k, 0, S.Width - 1)) * 4, 4 * sizeof(T));
    p = gathered;
  }
  const __m128i zero = _mm_setzero_si128();
  if constexpr (sizeof(T) == 1) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    const __m128i lo = _mm_unpacklo_epi8(v, zero), hi = _mm_unpackhi_epi8(v, zero);
    P[0] = _mm_cvtepi32_ps(_mm_unpacklo_epi16(lo, zero));
    P[1] = _mm_cvtepi32_ps(_mm_unpackhi_epi16(lo, zero));
    P[2] = _mm_cvtepi32_ps(_mm_unpacklo_epi16(hi, zero));
    P[3] = _mm_cvtepi32_ps(_mm_unpackhi_epi16(hi, zero));
  } else {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 8));
    P[0] = _mm_cvtepi32_ps(_mm_unpacklo_epi16(a, zero));
    P[1] = _mm_cvtepi32_ps(_mm_unpackhi_epi16(a, zero));
    P[2] = _mm_cvtepi32_ps(_mm_unpacklo_epi16(b, zero));
    P[3] = _mm_cvtepi32_ps(_mm_unpackhi_epi16(b, zero));
  }
}

template <class T>
void Row(const TRemapSource &Src, const float *SX, const float *SY, const uint8_t *Valid, int32_t Count,
         uint8_t *OutBytes) {
  T *out = reinterpret_cast<T *>(OutBytes);
  for (int32_t i = 0; i < Count; ++i, out += 4) {
    if (!Valid[i]) {
      std::memset(out, 0, 4 * sizeof(T));
      continue;
    }
    const TTapSpan tx = TapSpan(SX[i]), ty = TapSpan(SY[i]);
    const __m128 w0 = _mm_set1_ps(tx.W[0]), w1 = _mm_set1_ps(tx.W[1]), w2 = _mm_set1_ps(tx.W[2]),
                 w3 = _mm_set1_ps(tx.W[3]);
    __m128 acc = _mm_setzero_ps();
    for (int32_t j = 0; j < 4; ++j) {
      __m128 p[4];
      LoadTaps<T>(Src, tx.First, ty.First + j, p);
      __m128 row = _mm_mul_ps(p[0], w0);
      row = _mm_add_ps(row, _mm_mul_ps(p[1], w1));
      row = _mm_add_ps(row, _mm_mul_ps(p[2], w2));
      row = _mm_add_ps(row, _mm_mul_ps(p[3], w3));
      const __m128 weighted = _mm_mul_ps(row, _mm_set1_ps(ty.W[j]));
      acc = j == 0 ? weighted : _mm_add_ps(acc, weighted);
    }
    if constexpr (sizeof(T) == 1) {
      const __m128i n = _mm_cvtps_epi32(_mm_min_ps(_mm_max_ps(acc, _mm_set1_ps(-1.f)), _mm_set1_ps(256.f)));
      const int32_t packed = _mm_cvtsi128_si32(_mm_packus_epi16(_mm_packs_epi32(n, n), _mm_setzero_si128()));
      std::memcpy(out, &packed, 4);
    } else {
      const __m128i n = _mm_cvtps_epi32(_mm_min_ps(_mm_max_ps(acc, _mm_set1_ps(-1.f)), _mm_set1_ps(65536.f)));
      alignas(16) int32_t lanes[4];
      _mm_store_si128(reinterpret_cast<__m128i *>(lanes), n);
      for (int32_t c = 0; c < 4; ++c) out[c] = T(std::clamp(lanes[c], 0, 65535));
    }
  }
}

}  // namespace

const TRemapKernels &SSE2RemapKernels() {
  static const TRemapKernels k{Row<uint8_t>, Row<uint16_t>};
  return k;
}
