// The SSE2 interpolation rows: a pixel's samples go through one vector, and
// a row of four taps (12 to 32 contiguous bytes) is one or two loads. Gray
// sources take the plain rows.
#include "tools/dedistortion/LensRemap.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstring>

namespace {

// Four consecutive pixels of C samples of T as eight 16-bit lanes each:
// Lo holds the first eight samples, Hi the next eight.
template <class T, int32_t C>
void LoadSamples(const T *P, __m128i &Lo, __m128i &Hi) {
  if constexpr (sizeof(T) == 1) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(P));
    Lo = _mm_unpacklo_epi8(v, _mm_setzero_si128());
    Hi = _mm_unpackhi_epi8(v, _mm_setzero_si128());
  } else {
    Lo = _mm_loadu_si128(reinterpret_cast<const __m128i *>(P));
    Hi = _mm_loadu_si128(reinterpret_cast<const __m128i *>(P + 8));
  }
}

inline __m128 Widen(__m128i Lanes) { return _mm_cvtepi32_ps(_mm_unpacklo_epi16(Lanes, _mm_setzero_si128())); }

// Four taps starting at P as four vectors of floats (the fourth lane of a
// 3-sample pixel is the next pixel's first sample and is not used).
template <class T, int32_t C>
void WidenTaps(const T *P, __m128 Out[4]) {
  __m128i lo, hi;
  LoadSamples<T, C>(P, lo, hi);
  if constexpr (C == 4) {
    Out[0] = Widen(lo), Out[1] = Widen(_mm_srli_si128(lo, 8)), Out[2] = Widen(hi), Out[3] = Widen(_mm_srli_si128(hi, 8));
  } else {
    // b0 g0 r0 b1 g1 r1 b2 g2 | r2 b3 g3 r3 ...
    Out[0] = Widen(lo);
    Out[1] = Widen(_mm_srli_si128(lo, 6));
    Out[2] = Widen(_mm_or_si128(_mm_srli_si128(lo, 12), _mm_slli_si128(hi, 4)));
    Out[3] = Widen(_mm_srli_si128(hi, 2));
  }
}

// Four taps of one source row, the picture's edge pixels standing in for
// those outside it.
template <class T, int32_t C>
void LoadEdgeTaps(const TRemapSource &S, int32_t X, int32_t Y, __m128 Out[4]) {
  alignas(16) T gathered[16 + REMAP_OVERRUN] = {};
  const T *row = reinterpret_cast<const T *>(S.Top + ptrdiff_t(std::clamp(Y, 0, S.Height - 1)) * S.Stride);
  for (int32_t k = 0; k < 4; ++k)
    std::memcpy(gathered + k * C, row + size_t(std::clamp(X + k, 0, S.Width - 1)) * C, C * sizeof(T));
  WidenTaps<T, C>(gathered, Out);
}

template <class T, int32_t C, int32_t Max>
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
    // Inside the picture the four rows are read in place.
    const bool inside = tx.First >= 0 && ty.First >= 0 && tx.First + 3 < Src.Width && ty.First + 3 < Src.Height;
    const uint8_t *first = Src.Top + ptrdiff_t(ty.First) * Src.Stride + ptrdiff_t(tx.First) * C * ptrdiff_t(sizeof(T));
    __m128 acc = _mm_setzero_ps();
    for (int32_t j = 0; j < 4; ++j) {
      __m128 p[4];
      if (inside)
        WidenTaps<T, C>(reinterpret_cast<const T *>(first + ptrdiff_t(j) * Src.Stride), p);
      else
        LoadEdgeTaps<T, C>(Src, tx.First, ty.First + j, p);
      __m128 row = _mm_mul_ps(p[0], w0);
      row = _mm_add_ps(row, _mm_mul_ps(p[1], w1));
      row = _mm_add_ps(row, _mm_mul_ps(p[2], w2));
      row = _mm_add_ps(row, _mm_mul_ps(p[3], w3));
      const __m128 weighted = _mm_mul_ps(row, _mm_set1_ps(ty.W[j]));
      acc = j == 0 ? weighted : _mm_add_ps(acc, weighted);
    }
    const __m128i n =
        _mm_cvtps_epi32(_mm_min_ps(_mm_max_ps(acc, _mm_set1_ps(-1.f)), _mm_set1_ps(float(Max) + 1.f)));
    if constexpr (sizeof(T) == 1) {
      const int32_t packed = _mm_cvtsi128_si32(_mm_packus_epi16(_mm_packs_epi32(n, n), _mm_setzero_si128()));
      std::memcpy(out, &packed, 4);
    } else {
      alignas(16) int32_t lanes[4];
      _mm_store_si128(reinterpret_cast<__m128i *>(lanes), n);
      for (int32_t c = 0; c < 4; ++c) out[c] = T(std::clamp(lanes[c], 0, Max));
    }
    if constexpr (C == 3) out[3] = T(Max);
  }
}

}  // namespace

const TRemapKernels &SSE2RemapKernels() {
  const TRemapKernels &plain = PlainRemapKernels();
  static const TRemapKernels k{{nullptr, plain.Row8[1], nullptr, Row<uint8_t, 3, 255>, Row<uint8_t, 4, 255>},
                               {nullptr, plain.Row16[1], nullptr, Row<uint16_t, 3, 65535>, Row<uint16_t, 4, 65535>}};
  return k;
}
