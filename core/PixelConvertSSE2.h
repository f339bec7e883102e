// 128-bit building blocks of the vector row kernels: loads and stores of 8
// pixels as planes (one 16-bit lane per pixel and channel) and the arithmetic
// on planes. Included by each vector kernel file; everything has internal
// linkage so that files built for different instruction sets never share code.
#pragma once

#include "core/PixelConvertKernels.h"

#include <emmintrin.h>

#include <cstdint>

namespace {

using V = __m128i;

inline V Load(const uint8_t *P) { return _mm_loadu_si128(reinterpret_cast<const V *>(P)); }
inline V Load64(const uint8_t *P) { return _mm_loadl_epi64(reinterpret_cast<const V *>(P)); }
inline void Store(uint8_t *P, V X) { _mm_storeu_si128(reinterpret_cast<V *>(P), X); }
inline void Store64(uint8_t *P, V X) { _mm_storel_epi64(reinterpret_cast<V *>(P), X); }
inline V Or(V A, V B) { return _mm_or_si128(A, B); }
inline V And(V A, V B) { return _mm_and_si128(A, B); }

// 8 pixels, one signed 16-bit lane per pixel in each channel.
struct TPlanes {
  V c[4];
};

// Four registers of two 4-sample pixels each -> four planes.
inline TPlanes Transpose(V A, V B, V C, V D) {
  const V t0 = _mm_unpacklo_epi16(A, B), t1 = _mm_unpackhi_epi16(A, B);
  const V t2 = _mm_unpacklo_epi16(C, D), t3 = _mm_unpackhi_epi16(C, D);
  const V u0 = _mm_unpacklo_epi16(t0, t1), u1 = _mm_unpackhi_epi16(t0, t1);
  const V u2 = _mm_unpacklo_epi16(t2, t3), u3 = _mm_unpackhi_epi16(t2, t3);
  return {{_mm_unpacklo_epi64(u0, u2), _mm_unpackhi_epi64(u0, u2), _mm_unpacklo_epi64(u1, u3),
           _mm_unpackhi_epi64(u1, u3)}};
}

// The inverse: planes -> pixels 0-1, 2-3, 4-5, 6-7 as 4-sample pixels.
inline void Interleave(const TPlanes &P, V Out[4]) {
  const V v0 = _mm_unpacklo_epi16(P.c[0], P.c[1]), v1 = _mm_unpacklo_epi16(P.c[2], P.c[3]);
  const V v2 = _mm_unpackhi_epi16(P.c[0], P.c[1]), v3 = _mm_unpackhi_epi16(P.c[2], P.c[3]);
  Out[0] = _mm_unpacklo_epi32(v0, v1);
  Out[1] = _mm_unpackhi_epi32(v0, v1);
  Out[2] = _mm_unpacklo_epi32(v2, v3);
  Out[3] = _mm_unpackhi_epi32(v2, v3);
}

// Three-sample pixels in the low 12 bytes -> four-sample pixels (the fourth
// sample is garbage). Bytes: 4 pixels -> 4 dwords; words: 2 pixels -> 2 qwords.
inline V Expand3To4Bytes(V R) {
  const V e = _mm_unpacklo_epi64(R, _mm_srli_si128(R, 6));
  const V lo = _mm_set_epi32(0, 0x00FFFFFF, 0, 0x00FFFFFF);
  const V hi = _mm_set_epi32(0x00FFFFFF, 0, 0x00FFFFFF, 0);
  return Or(And(e, lo), And(_mm_slli_epi64(e, 8), hi));
}
inline V Expand3To4Words(V R) { return _mm_unpacklo_epi64(R, _mm_srli_si128(R, 6)); }

// Joins the low 6 bytes of each 64-bit lane into the low 12 bytes (top 4 zero).
inline V Join6(V Y) {
  const V lo = _mm_set_epi32(0, 0, 0x0000FFFF, int(0xFFFFFFFF));
  const V mid = _mm_set_epi32(0, int(0xFFFFFFFF), int(0xFFFF0000), 0);
  return Or(And(Y, lo), And(_mm_srli_si128(Y, 2), mid));
}
inline V Compact4To3Bytes(V X) {
  const V lo = _mm_set_epi32(0, 0x00FFFFFF, 0, 0x00FFFFFF);
  const V hi = _mm_set_epi32(0x0000FFFF, int(0xFF000000), 0x0000FFFF, int(0xFF000000));
  return Join6(Or(And(X, lo), And(_mm_srli_epi64(X, 8), hi)));
}
inline V Compact4To3Words(V X) { return Join6(X); }

// Loads and stores of 8 pixels. Ch channels, Wide = 16-bit samples.
template <int Ch, bool Wide>
TPlanes LoadPx(const uint8_t *P) {
  const V z = _mm_setzero_si128();
  if constexpr (!Wide) {
    if constexpr (Ch == 1) {
      return {{_mm_unpacklo_epi8(Load64(P), z), z, z, z}};
    } else if constexpr (Ch == 2) {
      const V x = Load(P);
      return {{And(x, _mm_set1_epi16(0xFF)), _mm_srli_epi16(x, 8), z, z}};
    } else if constexpr (Ch == 3) {
      const V a = Load(P), b = Load64(P + 16);
      const V q0 = Expand3To4Bytes(a);
      const V q1 = Expand3To4Bytes(Or(_mm_srli_si128(a, 12), _mm_slli_si128(b, 4)));
      return Transpose(_mm_unpacklo_epi8(q0, z), _mm_unpackhi_epi8(q0, z), _mm_unpacklo_epi8(q1, z),
                       _mm_unpackhi_epi8(q1, z));
    } else {
      const V a = Load(P), b = Load(P + 16);
      return Transpose(_mm_unpacklo_epi8(a, z), _mm_unpackhi_epi8(a, z), _mm_unpacklo_epi8(b, z),
                       _mm_unpackhi_epi8(b, z));
    }
  } else {
    if constexpr (Ch == 1) {
      return {{Load(P), z, z, z}};
    } else if constexpr (Ch == 2) {
      const V x0 = Load(P), x1 = Load(P + 16);
      const V g = _mm_packs_epi32(_mm_srai_epi32(_mm_slli_epi32(x0, 16), 16),
                                  _mm_srai_epi32(_mm_slli_epi32(x1, 16), 16));
      const V a = _mm_packs_epi32(_mm_srai_epi32(x0, 16), _mm_srai_epi32(x1, 16));
      return {{g, a, z, z}};
    } else if constexpr (Ch == 3) {
      const V a = Load(P), b = Load(P + 16), c = Load(P + 32);
      return Transpose(Expand3To4Words(a),
                       Expand3To4Words(Or(_mm_srli_si128(a, 12), _mm_slli_si128(b, 4))),
                       Expand3To4Words(Or(_mm_srli_si128(b, 8), _mm_slli_si128(c, 8))),
                       Expand3To4Words(_mm_srli_si128(c, 4)));
    } else {
      return Transpose(Load(P), Load(P + 16), Load(P + 32), Load(P + 48));
    }
  }
}

// 8-bit stores saturate each lane to 0..255.
template <int Ch, bool Wide>
void StorePx(uint8_t *P, const TPlanes &Q) {
  if constexpr (!Wide) {
    if constexpr (Ch == 1) {
      Store64(P, _mm_packus_epi16(Q.c[0], Q.c[0]));
    } else if constexpr (Ch == 2) {
      Store(P, _mm_unpacklo_epi8(_mm_packus_epi16(Q.c[0], Q.c[0]), _mm_packus_epi16(Q.c[1], Q.c[1])));
    } else {
      V px[4];
      Interleave(Q, px);
      const V q0 = _mm_packus_epi16(px[0], px[1]), q1 = _mm_packus_epi16(px[2], px[3]);
      if constexpr (Ch == 4) {
        Store(P, q0);
        Store(P + 16, q1);
      } else {
        const V r0 = Compact4To3Bytes(q0), r1 = Compact4To3Bytes(q1);
        Store(P, Or(r0, _mm_slli_si128(r1, 12)));
        Store64(P + 16, _mm_srli_si128(r1, 4));
      }
    }
  } else {
    if constexpr (Ch == 1) {
      Store(P, Q.c[0]);
    } else if constexpr (Ch == 2) {
      Store(P, _mm_unpacklo_epi16(Q.c[0], Q.c[1]));
      Store(P + 16, _mm_unpackhi_epi16(Q.c[0], Q.c[1]));
    } else {
      V px[4];
      Interleave(Q, px);
      if constexpr (Ch == 4) {
        for (int i = 0; i < 4; ++i) Store(P + 16 * i, px[i]);
      } else {
        const V r0 = Compact4To3Words(px[0]), r1 = Compact4To3Words(px[1]);
        const V r2 = Compact4To3Words(px[2]), r3 = Compact4To3Words(px[3]);
        Store(P, Or(r0, _mm_slli_si128(r1, 12)));
        Store(P + 16, Or(_mm_srli_si128(r1, 4), _mm_slli_si128(r2, 8)));
        Store(P + 32, Or(_mm_srli_si128(r2, 8), _mm_slli_si128(r3, 4)));
      }
    }
  }
}

// Runs F over a row 8 pixels at a time.
template <int InCh, bool InWide, int OutCh, bool OutWide, class F>
void RunPx(const uint8_t *S, uint8_t *D, uint32_t W, F Fn) {
  constexpr uint32_t inStep = 8 * InCh * (InWide ? 2 : 1), outStep = 8 * OutCh * (OutWide ? 2 : 1);
  for (uint32_t x = 0; x < W; x += 8, S += inStep, D += outStep)
    StorePx<OutCh, OutWide>(D, Fn(LoadPx<InCh, InWide>(S)));
}

// 16 x 16 -> 32-bit multiply-add of two planes with a coefficient pair, low and
// high four lanes.
struct TPair {
  V lo, hi;
};
inline TPair Madd(V X, V Y, int16_t Cx, int16_t Cy) {
  const V c = _mm_set1_epi32(int32_t(uint32_t(uint16_t(Cx)) | (uint32_t(uint16_t(Cy)) << 16)));
  return {_mm_madd_epi16(_mm_unpacklo_epi16(X, Y), c), _mm_madd_epi16(_mm_unpackhi_epi16(X, Y), c)};
}

// floor((S1 + S2 + C) / 2^(Shift1 + 1)) without overflowing 32 bits: both terms
// are halved first and the dropped low bits are put back exactly. Half is
// C / 2 for an even C, (C - 1) / 2 for an odd one.
template <bool OddC, int Shift1>
V RoundSum(V S1, V S2, int32_t Half) {
  const V bit = And(OddC ? Or(S1, S2) : And(S1, S2), _mm_set1_epi32(1));
  const V sum = _mm_add_epi32(_mm_add_epi32(_mm_srai_epi32(S1, 1), _mm_srai_epi32(S2, 1)),
                              _mm_add_epi32(bit, _mm_set1_epi32(Half)));
  return _mm_srai_epi32(sum, Shift1);
}
template <bool OddC, int Shift1>
V RoundSum16(const TPair &A, const TPair &B, int32_t Half) {
  return _mm_packs_epi32(RoundSum<OddC, Shift1>(A.lo, B.lo, Half), RoundSum<OddC, Shift1>(A.hi, B.hi, Half));
}

// Rec. 601 with 38470 split as 22086 + 16384 and 32768 as 16384 + 16384.
// Shift1 + 1 is the total shift; YHalf and CHalf the halved rounding terms.
template <int Shift1>
TPlanes ToYCC(const TPlanes &P, int32_t YHalf, int32_t CHalf) {
  const V b = P.c[0], g = P.c[1], r = P.c[2];
  return {{RoundSum16<false, Shift1>(Madd(r, g, 19595, 22086), Madd(b, g, 7471, 16384), YHalf),
           RoundSum16<true, Shift1>(Madd(r, g, -11059, -21709), Madd(b, b, 16384, 16384), CHalf),
           RoundSum16<true, Shift1>(Madd(r, r, 16384, 16384), Madd(g, b, -27439, -5329), CHalf), P.c[3]}};
}
template <int Shift1>
V Luma(const TPlanes &P, int32_t Half) {
  return RoundSum16<false, Shift1>(Madd(P.c[2], P.c[1], 19595, 22086), Madd(P.c[0], P.c[1], 7471, 16384),
                                   Half);
}

inline TPair Widen(V X) {
  return {_mm_srai_epi32(_mm_unpacklo_epi16(X, X), 16), _mm_srai_epi32(_mm_unpackhi_epi16(X, X), 16)};
}
inline TPair Add(const TPair &A, const TPair &B) { return {_mm_add_epi32(A.lo, B.lo), _mm_add_epi32(A.hi, B.hi)}; }
inline V Clamp14(const TPair &A) {
  const V v = _mm_packs_epi32(A.lo, A.hi);
  return _mm_min_epi16(_mm_max_epi16(v, _mm_setzero_si128()), _mm_set1_epi16(16320));
}

inline TPlanes FromYCC(const TPlanes &P) {
  const V y = P.c[0], cb = P.c[1], cr = P.c[2];
  const TPair b = Add(Madd(y, cb, 1, 2), Widen(_mm_mulhi_epi16(cb, _mm_set1_epi16(-14942))));
  const TPair r = Add(Madd(y, cr, 1, 1), Widen(_mm_mulhi_epi16(cr, _mm_set1_epi16(26345))));
  const TPair t = Madd(cb, cr, -22554, 18734);
  const TPair g = Add(Madd(y, cr, 1, -1), {_mm_srai_epi32(t.lo, 16), _mm_srai_epi32(t.hi, 16)});
  return {{Clamp14(b), Clamp14(g), Clamp14(r), P.c[3]}};
}

// Rounded division by 255 of s*a + bg*(255 - a); every term fits 16 bits unsigned.
inline V Blend8(V S, V A, V Bg, V InvA) {
  const V t = _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(S, A), _mm_mullo_epi16(Bg, InvA)),
                            _mm_set1_epi16(128));
  return _mm_srli_epi16(_mm_add_epi16(t, _mm_srli_epi16(t, 8)), 8);
}

inline __m128 Blend14Half(V S, V A, __m128 Bg) {
  const __m128 fa = _mm_cvtepi32_ps(A);
  __m128 t = _mm_add_ps(_mm_mul_ps(_mm_cvtepi32_ps(S), fa), _mm_mul_ps(Bg, _mm_sub_ps(_mm_set1_ps(16320.0f), fa)));
  t = _mm_mul_ps(t, _mm_set1_ps(1.0f / 16320.0f));
  return _mm_min_ps(t, _mm_set1_ps(16320.0f));
}
inline V Blend14(V S, V A, float Bg) {
  const TPair s = Widen(S), a = Widen(A);
  const __m128 bg = _mm_set1_ps(Bg);
  return _mm_packs_epi32(_mm_cvtps_epi32(Blend14Half(s.lo, a.lo, bg)), _mm_cvtps_epi32(Blend14Half(s.hi, a.hi, bg)));
}

// 8-bit samples on the 14-bit scale.
inline TPlanes Scale8To14(const TPlanes &P) {
  return {{_mm_slli_epi16(P.c[0], 6), _mm_slli_epi16(P.c[1], 6), _mm_slli_epi16(P.c[2], 6), _mm_slli_epi16(P.c[3], 6)}};
}

// The plain kernel of the luminance stage for a layout: the vector kernels
// finish their rows with it.
template <int Ch, bool Wide>
TYCCStagesKernel PlainYCCStages() {
  const TPixelKernels &k = PlainPixelKernels();
  return Ch == 3 ? (Wide ? k.YCCStages14_3 : k.YCCStages8_3) : (Wide ? k.YCCStages14_4 : k.YCCStages8_4);
}

inline int16_t BgSample(uint32_t Bg, int C) { return int16_t((Bg >> (8 * C)) & 0xFF); }

}  // namespace
