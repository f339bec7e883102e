// 128-bit building blocks of the block transposes: unaligned loads and stores
// and the four-by-four transposition of 32-bit pixels. Included by each vector
// kernel file; everything has internal linkage so that files built for
// different instruction sets never share code.
#pragma once

#include <emmintrin.h>

#include <cstdint>

namespace {

using V = __m128i;

inline V Load(const uint8_t *P) { return _mm_loadu_si128(reinterpret_cast<const V *>(P)); }
inline void Store(uint8_t *P, V X) { _mm_storeu_si128(reinterpret_cast<V *>(P), X); }

// Four rows of four 32-bit pixels, transposed in place.
inline void Transpose4x4(V &A, V &B, V &C, V &D) {
  const V ac0 = _mm_unpacklo_epi32(A, C), ac1 = _mm_unpackhi_epi32(A, C);
  const V bd0 = _mm_unpacklo_epi32(B, D), bd1 = _mm_unpackhi_epi32(B, D);
  A = _mm_unpacklo_epi32(ac0, bd0);
  B = _mm_unpackhi_epi32(ac0, bd0);
  C = _mm_unpacklo_epi32(ac1, bd1);
  D = _mm_unpackhi_epi32(ac1, bd1);
}

}  // namespace
