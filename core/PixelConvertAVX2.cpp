// AVX2 row kernels for three-channel YCbCr and luma and for alpha flattening: 16 pixels per step, loaded and stored as two 8-pixel groups and
// computed in 256-bit registers whose two lanes hold the two groups (every
// operation used works lane by lane). The tail of a row
// runs the 128-bit step, so the row overrun stays that of the SSE2 kernels.
// Built with -mavx2 and only reached after a run-time processor check.
#include "core/PixelConvertKernels.h"
#include "core/PixelConvertSSE2.h"

#include "core/PixelConvert.h"

#include <immintrin.h>

#include <cstdint>

namespace {

using Y = __m256i;

struct TPlanes16 {
  Y c[4];
};

TPlanes16 Join(const TPlanes &Lo, const TPlanes &Hi) {
  TPlanes16 p;
  for (int i = 0; i < 4; ++i) p.c[i] = _mm256_inserti128_si256(_mm256_castsi128_si256(Lo.c[i]), Hi.c[i], 1);
  return p;
}
TPlanes LowHalf(const TPlanes16 &P) {
  return {{_mm256_castsi256_si128(P.c[0]), _mm256_castsi256_si128(P.c[1]), _mm256_castsi256_si128(P.c[2]),
           _mm256_castsi256_si128(P.c[3])}};
}
TPlanes HighHalf(const TPlanes16 &P) {
  return {{_mm256_extracti128_si256(P.c[0], 1), _mm256_extracti128_si256(P.c[1], 1),
           _mm256_extracti128_si256(P.c[2], 1), _mm256_extracti128_si256(P.c[3], 1)}};
}

// Three-channel rows are where SSE2 spends most of its work (shifts and
// unpacks to move 3-sample pixels into planes). Processors with AVX2 also have
// SSSE3's byte shuffle, which gathers each plane with one shuffle per source
// register. Masks: lane byte -> source byte, 0x80 for zero.
struct TShuffleMasks {
  V Load8[3][2];    // plane, source register (24 bytes of 8-bit pixels)
  V Load16[3][3];   // plane, source register (48 bytes of 16-bit pixels)
  V Store8[2][2];   // output register, source (B|G packed, R packed)
  V Store16[3][3];  // output register, plane
};

V MaskOf(const uint8_t (&M)[16]) { return _mm_loadu_si128(reinterpret_cast<const V *>(M)); }

TShuffleMasks MakeShuffleMasks() {
  TShuffleMasks m;
  for (int bytes = 1; bytes <= 2; ++bytes)
    for (int plane = 0; plane < 3; ++plane)
      for (int reg = 0; reg < 1 + bytes; ++reg) {
        uint8_t mask[16];
        for (int j = 0; j < 16; ++j) {
          const int lane = j / 2, k = j % 2;
          const int src = (3 * lane + plane) * bytes + k;  // byte of the pixel group
          mask[j] = (k < bytes && src >= 16 * reg && src < 16 * reg + 16) ? uint8_t(src - 16 * reg) : 0x80;
        }
        (bytes == 1 ? m.Load8[plane][reg] : m.Load16[plane][reg]) = MaskOf(mask);
      }
  for (int out = 0; out < 2; ++out)
    for (int src = 0; src < 2; ++src) {
      uint8_t mask[16];
      for (int j = 0; j < 16; ++j) {
        const int g = 16 * out + j, pixel = g / 3, chan = g % 3;
        const bool mine = (chan == 2) == (src == 1);
        mask[j] = mine && g < 24 ? uint8_t(chan == 1 ? 8 + pixel : pixel) : 0x80;
      }
      m.Store8[out][src] = MaskOf(mask);
    }
  for (int out = 0; out < 3; ++out)
    for (int plane = 0; plane < 3; ++plane) {
      uint8_t mask[16];
      for (int j = 0; j < 16; ++j) {
        const int g = 16 * out + j, sample = g / 2, k = g % 2;
        mask[j] = sample % 3 == plane ? uint8_t((sample / 3) * 2 + k) : 0x80;
      }
      m.Store16[out][plane] = MaskOf(mask);
    }
  return m;
}

const TShuffleMasks &Masks() {
  static const TShuffleMasks m = MakeShuffleMasks();
  return m;
}

V Shuffle(V X, V M) { return _mm_shuffle_epi8(X, M); }

template <int Ch, bool Wide>
TPlanes LoadFast(const uint8_t *P) {
  if constexpr (Ch != 3) {
    return LoadPx<Ch, Wide>(P);
  } else if constexpr (!Wide) {
    const TShuffleMasks &m = Masks();
    const V a = Load(P), b = Load64(P + 16);
    TPlanes q;
    for (int c = 0; c < 3; ++c) q.c[c] = Or(Shuffle(a, m.Load8[c][0]), Shuffle(b, m.Load8[c][1]));
    q.c[3] = _mm_setzero_si128();
    return q;
  } else {
    const TShuffleMasks &m = Masks();
    const V a = Load(P), b = Load(P + 16), c = Load(P + 32);
    TPlanes q;
    for (int i = 0; i < 3; ++i)
      q.c[i] = Or(Or(Shuffle(a, m.Load16[i][0]), Shuffle(b, m.Load16[i][1])), Shuffle(c, m.Load16[i][2]));
    q.c[3] = _mm_setzero_si128();
    return q;
  }
}

template <int Ch, bool Wide>
void StoreFast(uint8_t *P, const TPlanes &Q) {
  if constexpr (Ch != 3) {
    StorePx<Ch, Wide>(P, Q);
  } else if constexpr (!Wide) {
    const TShuffleMasks &m = Masks();
    const V bg = _mm_packus_epi16(Q.c[0], Q.c[1]), rr = _mm_packus_epi16(Q.c[2], Q.c[2]);
    Store(P, Or(Shuffle(bg, m.Store8[0][0]), Shuffle(rr, m.Store8[0][1])));
    Store64(P + 16, Or(Shuffle(bg, m.Store8[1][0]), Shuffle(rr, m.Store8[1][1])));
  } else {
    const TShuffleMasks &m = Masks();
    for (int o = 0; o < 3; ++o)
      Store(P + 16 * o, Or(Or(Shuffle(Q.c[0], m.Store16[o][0]), Shuffle(Q.c[1], m.Store16[o][1])),
                           Shuffle(Q.c[2], m.Store16[o][2])));
  }
}

template <int InCh, bool InWide, int OutCh, bool OutWide, class F16, class F8>
void RunPx16(const uint8_t *S, uint8_t *D, uint32_t W, F16 Step16, F8 Step8) {
  constexpr uint32_t inStep = 8 * InCh * (InWide ? 2 : 1), outStep = 8 * OutCh * (OutWide ? 2 : 1);
  uint32_t x = 0;
  for (; x + 16 <= W; x += 16, S += 2 * inStep, D += 2 * outStep) {
    const TPlanes16 q = Step16(Join(LoadFast<InCh, InWide>(S), LoadFast<InCh, InWide>(S + inStep)));
    StoreFast<OutCh, OutWide>(D, LowHalf(q));
    StoreFast<OutCh, OutWide>(D + outStep, HighHalf(q));
  }
  for (; x < W; x += 8, S += inStep, D += outStep) StoreFast<OutCh, OutWide>(D, Step8(LoadFast<InCh, InWide>(S)));
}

// 256-bit counterparts of the plane arithmetic.

struct TPair16 {
  Y lo, hi;
};
TPair16 Madd(Y X, Y Z, int16_t Cx, int16_t Cz) {
  const Y c = _mm256_set1_epi32(int32_t(uint32_t(uint16_t(Cx)) | (uint32_t(uint16_t(Cz)) << 16)));
  return {_mm256_madd_epi16(_mm256_unpacklo_epi16(X, Z), c), _mm256_madd_epi16(_mm256_unpackhi_epi16(X, Z), c)};
}

template <bool OddC, int Shift1>
Y RoundSum(Y S1, Y S2, int32_t Half) {
  const Y bit = _mm256_and_si256(OddC ? _mm256_or_si256(S1, S2) : _mm256_and_si256(S1, S2), _mm256_set1_epi32(1));
  const Y sum = _mm256_add_epi32(_mm256_add_epi32(_mm256_srai_epi32(S1, 1), _mm256_srai_epi32(S2, 1)),
                                 _mm256_add_epi32(bit, _mm256_set1_epi32(Half)));
  return _mm256_srai_epi32(sum, Shift1);
}
template <bool OddC, int Shift1>
Y RoundSum16(const TPair16 &A, const TPair16 &B, int32_t Half) {
  return _mm256_packs_epi32(RoundSum<OddC, Shift1>(A.lo, B.lo, Half), RoundSum<OddC, Shift1>(A.hi, B.hi, Half));
}

template <int Shift1>
TPlanes16 ToYCC(const TPlanes16 &P, int32_t YHalf, int32_t CHalf) {
  const Y b = P.c[0], g = P.c[1], r = P.c[2];
  return {{RoundSum16<false, Shift1>(Madd(r, g, 19595, 22086), Madd(b, g, 7471, 16384), YHalf),
           RoundSum16<true, Shift1>(Madd(r, g, -11059, -21709), Madd(b, b, 16384, 16384), CHalf),
           RoundSum16<true, Shift1>(Madd(r, r, 16384, 16384), Madd(g, b, -27439, -5329), CHalf), P.c[3]}};
}
template <int Shift1>
Y Luma(const TPlanes16 &P, int32_t Half) {
  return RoundSum16<false, Shift1>(Madd(P.c[2], P.c[1], 19595, 22086), Madd(P.c[0], P.c[1], 7471, 16384), Half);
}

TPair16 Widen(Y X) {
  return {_mm256_srai_epi32(_mm256_unpacklo_epi16(X, X), 16), _mm256_srai_epi32(_mm256_unpackhi_epi16(X, X), 16)};
}
TPair16 Add(const TPair16 &A, const TPair16 &B) {
  return {_mm256_add_epi32(A.lo, B.lo), _mm256_add_epi32(A.hi, B.hi)};
}
Y Clamp14(const TPair16 &A) {
  const Y v = _mm256_packs_epi32(A.lo, A.hi);
  return _mm256_min_epi16(_mm256_max_epi16(v, _mm256_setzero_si256()), _mm256_set1_epi16(16320));
}

TPlanes16 FromYCC(const TPlanes16 &P) {
  const Y y = P.c[0], cb = P.c[1], cr = P.c[2];
  const TPair16 b = Add(Madd(y, cb, 1, 2), Widen(_mm256_mulhi_epi16(cb, _mm256_set1_epi16(-14942))));
  const TPair16 r = Add(Madd(y, cr, 1, 1), Widen(_mm256_mulhi_epi16(cr, _mm256_set1_epi16(26345))));
  const TPair16 t = Madd(cb, cr, -22554, 18734);
  const TPair16 g = Add(Madd(y, cr, 1, -1), {_mm256_srai_epi32(t.lo, 16), _mm256_srai_epi32(t.hi, 16)});
  return {{Clamp14(b), Clamp14(g), Clamp14(r), P.c[3]}};
}

Y Blend8(Y S, Y A, Y Bg, Y InvA) {
  const Y t = _mm256_add_epi16(_mm256_add_epi16(_mm256_mullo_epi16(S, A), _mm256_mullo_epi16(Bg, InvA)),
                               _mm256_set1_epi16(128));
  return _mm256_srli_epi16(_mm256_add_epi16(t, _mm256_srli_epi16(t, 8)), 8);
}

__m256 Blend14Half(Y S, Y A, __m256 Bg) {
  const __m256 fa = _mm256_cvtepi32_ps(A);
  __m256 t = _mm256_add_ps(_mm256_mul_ps(_mm256_cvtepi32_ps(S), fa),
                           _mm256_mul_ps(Bg, _mm256_sub_ps(_mm256_set1_ps(16320.0f), fa)));
  t = _mm256_mul_ps(t, _mm256_set1_ps(1.0f / 16320.0f));
  return _mm256_min_ps(t, _mm256_set1_ps(16320.0f));
}
Y Blend14(Y S, Y A, float Bg) {
  const TPair16 s = Widen(S), a = Widen(A);
  const __m256 bg = _mm256_set1_ps(Bg);
  return _mm256_packs_epi32(_mm256_cvtps_epi32(Blend14Half(s.lo, a.lo, bg)),
                            _mm256_cvtps_epi32(Blend14Half(s.hi, a.hi, bg)));
}

Y Shl6(Y X) { return _mm256_slli_epi16(X, 6); }
TPlanes16 Scale8To14(const TPlanes16 &P) { return {{Shl6(P.c[0]), Shl6(P.c[1]), Shl6(P.c[2]), Shl6(P.c[3])}}; }

// Kernels. Each pairs its 16-pixel step with the 8-pixel step for the tail.

template <int Ch>
void ToYCC8K(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t) {
  RunPx16<Ch, false, Ch, true>(
      S, D, W, [](const TPlanes16 &p) { return ToYCC<15>(Scale8To14(p), 1 << 14, (1 << 14) - 1); },
      [](const TPlanes &p) { return ToYCC<15>(Scale8To14(p), 1 << 14, (1 << 14) - 1); });
}

template <int Ch>
void ToYCC14K(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t) {
  RunPx16<Ch, true, Ch, true>(
      S, D, W, [](const TPlanes16 &p) { return ToYCC<15>(p, 1 << 14, (1 << 14) - 1); },
      [](const TPlanes &p) { return ToYCC<15>(p, 1 << 14, (1 << 14) - 1); });
}

template <int Ch>
void FromYCC14K(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t) {
  RunPx16<Ch, true, Ch, true>(
      S, D, W, [](const TPlanes16 &p) { return FromYCC(p); }, [](const TPlanes &p) { return FromYCC(p); });
}

template <bool Wide>
TPlanes16 Load3As14x16(const uint8_t *S) {
  constexpr uint32_t step = 24 * (Wide ? 2 : 1);
  const TPlanes16 p = Join(LoadFast<3, Wide>(S), LoadFast<3, Wide>(S + step));
  return Wide ? p : Scale8To14(p);
}
template <bool Wide>
TPlanes Load3As14(const uint8_t *S) {
  const TPlanes p = LoadFast<3, Wide>(S);
  return Wide ? p : Scale8To14(p);
}

template <bool Wide>
void Y14Of3K(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t) {
  constexpr uint32_t step = 24 * (Wide ? 2 : 1);
  uint32_t x = 0;
  for (; x + 16 <= W; x += 16, S += 2 * step, D += 32)
    _mm256_storeu_si256(reinterpret_cast<Y *>(D), Luma<15>(Load3As14x16<Wide>(S), 1 << 14));
  for (; x < W; x += 8, S += step, D += 16) Store(D, Luma<15>(Load3As14<Wide>(S), 1 << 14));
}

template <bool Wide>
void WithY3K(const uint8_t *S, const int16_t *Yr, uint8_t *D, uint32_t W) {
  constexpr uint32_t step = 24 * (Wide ? 2 : 1);
  uint32_t x = 0;
  for (; x + 16 <= W; x += 16, S += 2 * step, D += 96) {
    TPlanes16 q = ToYCC<15>(Load3As14x16<Wide>(S), 1 << 14, (1 << 14) - 1);
    q.c[0] = _mm256_loadu_si256(reinterpret_cast<const Y *>(Yr + x));
    q = FromYCC(q);
    StoreFast<3, true>(D, LowHalf(q));
    StoreFast<3, true>(D + 48, HighHalf(q));
  }
  for (; x < W; x += 8, S += step, D += 48) {
    TPlanes q = ToYCC<15>(Load3As14<Wide>(S), 1 << 14, (1 << 14) - 1);
    q.c[0] = Load(reinterpret_cast<const uint8_t *>(Yr + x));
    StoreFast<3, true>(D, FromYCC(q));
  }
}

void BGR14ToYCC8K(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t) {
  constexpr int32_t chromaHalf = (1 << 28) + (1 << 20) - 1;
  RunPx16<3, true, 3, false>(
      S, D, W, [](const TPlanes16 &p) { return ToYCC<21>(p, 1 << 20, chromaHalf); },
      [](const TPlanes &p) { return ToYCC<21>(p, 1 << 20, chromaHalf); });
}

template <int Ch, bool Wide>
void LumaK(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t) {
  constexpr int Shift1 = Wide ? 21 : 15;
  constexpr int32_t half = Wide ? 1 << 20 : 1 << 14;
  RunPx16<Ch, Wide, 1, false>(
      S, D, W, [](const TPlanes16 &p) { return TPlanes16{{Luma<Shift1>(p, half), p.c[1], p.c[2], p.c[3]}}; },
      [](const TPlanes &p) { return TPlanes{{Luma<Shift1>(p, half), p.c[1], p.c[2], p.c[3]}}; });
}

void Flatten8_4K(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t Bg) {
  const int16_t b0 = BgSample(Bg, 0), b1 = BgSample(Bg, 1), b2 = BgSample(Bg, 2);
  RunPx16<4, false, 3, false>(
      S, D, W,
      [&](const TPlanes16 &p) {
        const Y inv = _mm256_sub_epi16(_mm256_set1_epi16(255), p.c[3]);
        return TPlanes16{{Blend8(p.c[0], p.c[3], _mm256_set1_epi16(b0), inv),
                          Blend8(p.c[1], p.c[3], _mm256_set1_epi16(b1), inv),
                          Blend8(p.c[2], p.c[3], _mm256_set1_epi16(b2), inv), p.c[3]}};
      },
      [&](const TPlanes &p) {
        const V inv = _mm_sub_epi16(_mm_set1_epi16(255), p.c[3]);
        return TPlanes{{Blend8(p.c[0], p.c[3], _mm_set1_epi16(b0), inv), Blend8(p.c[1], p.c[3], _mm_set1_epi16(b1), inv),
                        Blend8(p.c[2], p.c[3], _mm_set1_epi16(b2), inv), p.c[3]}};
      });
}

void Flatten14_4K(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t Bg) {
  const float bg[3] = {float(BgSample(Bg, 0) * 64), float(BgSample(Bg, 1) * 64), float(BgSample(Bg, 2) * 64)};
  RunPx16<4, true, 3, true>(
      S, D, W,
      [&](const TPlanes16 &p) {
        return TPlanes16{{Blend14(p.c[0], p.c[3], bg[0]), Blend14(p.c[1], p.c[3], bg[1]),
                          Blend14(p.c[2], p.c[3], bg[2]), p.c[3]}};
      },
      [&](const TPlanes &p) {
        return TPlanes{{Blend14(p.c[0], p.c[3], bg[0]), Blend14(p.c[1], p.c[3], bg[1]), Blend14(p.c[2], p.c[3], bg[2]),
                        p.c[3]}};
      });
}

// Sixteen table entries fetched by sixteen 16-bit indices (0..32767): two
// gathers of 8 x 32 bits at 2-byte steps, whose upper halves (the next
// entries) are dropped. Unpacking and packing both work within each 128-bit
// lane, so the entries come back in the order of their indices.
Y Gather16(const int16_t *Table, Y Index) {
  const int *base = reinterpret_cast<const int *>(Table);
  const Y z = _mm256_setzero_si256();
  const Y lo = _mm256_i32gather_epi32(base, _mm256_unpacklo_epi16(Index, z), 2);
  const Y hi = _mm256_i32gather_epi32(base, _mm256_unpackhi_epi16(Index, z), 2);
  const Y lo16 = _mm256_srai_epi32(_mm256_slli_epi32(lo, 16), 16), hi16 = _mm256_srai_epi32(_mm256_slli_epi32(hi, 16), 16);
  return _mm256_packs_epi32(lo16, hi16);
}

// Sixteen three-channel pixels loaded straight into 256-bit planes and stored
// back: each register holds pixels 0-7 of its bytes in the low lane and
// pixels 8-15 in the high lane, so one byte shuffle per register and plane
// serves both lanes (the 128-bit masks, repeated in both lanes).
struct TLaneMasks {
  Y Load8[3][2];    // plane; bytes 0-15 and 8-23 of 8 pixels
  Y Load16[3][3];   // plane, source register
  Y Store16[3][3];  // output register, plane
};

TLaneMasks MakeLaneMasks() {
  const TShuffleMasks &m = Masks();
  TLaneMasks l;
  for (int plane = 0; plane < 3; ++plane)
    for (int reg = 0; reg < 2; ++reg) {
      uint8_t mask[16];
      for (int j = 0; j < 16; ++j) {
        const int src = 3 * (j / 2) + plane;  // byte of the 8-pixel group
        const bool mine = j % 2 == 0 && (reg == 0 ? src < 16 : src >= 16);
        mask[j] = mine ? uint8_t(reg == 0 ? src : src - 8) : 0x80;
      }
      l.Load8[plane][reg] = _mm256_broadcastsi128_si256(MaskOf(mask));
    }
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      l.Load16[i][j] = _mm256_broadcastsi128_si256(m.Load16[i][j]);
      l.Store16[i][j] = _mm256_broadcastsi128_si256(m.Store16[i][j]);
    }
  return l;
}

const TLaneMasks &LaneMasks() {
  static const TLaneMasks m = MakeLaneMasks();
  return m;
}

Y Lanes(const uint8_t *Lo, const uint8_t *Hi) {
  return _mm256_inserti128_si256(_mm256_castsi128_si256(Load(Lo)), Load(Hi), 1);
}

template <bool Wide>
TPlanes16 Load16Px3(const uint8_t *P, const TLaneMasks &M) {
  TPlanes16 q;
  q.c[3] = _mm256_setzero_si256();
  if constexpr (!Wide) {
    const Y a = Lanes(P, P + 24), b = Lanes(P + 8, P + 32);
    for (int c = 0; c < 3; ++c)
      q.c[c] = _mm256_or_si256(_mm256_shuffle_epi8(a, M.Load8[c][0]), _mm256_shuffle_epi8(b, M.Load8[c][1]));
  } else {
    const Y r[3] = {Lanes(P, P + 48), Lanes(P + 16, P + 64), Lanes(P + 32, P + 80)};
    for (int c = 0; c < 3; ++c)
      q.c[c] = _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(r[0], M.Load16[c][0]), _mm256_shuffle_epi8(r[1], M.Load16[c][1])),
                               _mm256_shuffle_epi8(r[2], M.Load16[c][2]));
  }
  return q;
}

void Store16Px3(uint8_t *P, const TPlanes16 &Q, const TLaneMasks &M) {
  for (int o = 0; o < 3; ++o) {
    const Y v = _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(Q.c[0], M.Store16[o][0]), _mm256_shuffle_epi8(Q.c[1], M.Store16[o][1])),
                                _mm256_shuffle_epi8(Q.c[2], M.Store16[o][2]));
    Store(P + 16 * o, _mm256_castsi256_si128(v));
    Store(P + 48 + 16 * o, _mm256_extracti128_si256(v, 1));
  }
}

Y ClampTo(Y X, int16_t Lo, int16_t Hi) {
  return _mm256_min_epi16(_mm256_max_epi16(X, _mm256_set1_epi16(Lo)), _mm256_set1_epi16(Hi));
}

// The luminance stage 16 pixels at a time, all in registers: the table
// lookups are gathers, so a pixel is read once and written once. The last
// pixels of a row that make no group of 16 take the plain kernel.
// Everything is inlined (flatten) so that the planes stay in registers.
template <int Ch, bool Wide, bool Chroma, bool RGB>
__attribute__((flatten)) void YCCStagesK(const uint8_t *S, uint8_t *D, uint32_t W, const TYCCStageTables &T) {
  constexpr uint32_t inStep = 8 * Ch * (Wide ? 2 : 1), outStep = 16 * Ch;
  const Y middle = _mm256_set1_epi16(8160);
  const TLaneMasks &lanes = LaneMasks();
  uint32_t x = 0;
  for (; x + 16 <= W; x += 16, S += 2 * inStep, D += 2 * outStep) {
    TPlanes16 p = Ch == 3 ? Load16Px3<Wide>(S, lanes) : Join(LoadFast<Ch, Wide>(S), LoadFast<Ch, Wide>(S + inStep));
    if constexpr (!Wide) p = Scale8To14(p);
    TPlanes16 q = ToYCC<15>(p, 1 << 14, (1 << 14) - 1);
    q.c[0] = Gather16(T.Luma, ClampTo(q.c[0], 0, FULL_SCALE_14));
    if constexpr (Chroma)
      for (int c = 1; c < 3; ++c)
        q.c[c] = _mm256_sub_epi16(Gather16(T.Chroma, _mm256_add_epi16(ClampTo(q.c[c], -8160, 8160), middle)), middle);
    q = FromYCC(q);
    // FromYCC leaves every sample in 0..16320.
    if constexpr (RGB)
      for (int c = 0; c < 3; ++c) q.c[c] = Gather16(T.RGB + size_t(c) * LUT14_ENTRIES, q.c[c]);
    if constexpr (Ch == 3) {
      Store16Px3(D, q, lanes);
    } else {
      StoreFast<Ch, true>(D, LowHalf(q));
      StoreFast<Ch, true>(D + outStep, HighHalf(q));
    }
  }
  if (x < W) PlainYCCStages<Ch, Wide>()(S, D, W - x, T);
}

template <int Ch, bool Wide>
void YCCStages(const uint8_t *S, uint8_t *D, uint32_t W, const TYCCStageTables &T) {
  if (T.Chroma)
    T.RGB ? YCCStagesK<Ch, Wide, true, true>(S, D, W, T) : YCCStagesK<Ch, Wide, true, false>(S, D, W, T);
  else
    T.RGB ? YCCStagesK<Ch, Wide, false, true>(S, D, W, T) : YCCStagesK<Ch, Wide, false, false>(S, D, W, T);
}

// Only the kernels that measured faster than SSE2 on 6000x4000 images: the
// three-channel ones (byte shuffles) and the alpha flattening. The 4-channel
// YCbCr passes run at memory speed with SSE2 already and keep it.
TPixelKernels MakeAVX2Kernels() {
  TPixelKernels k = SSE2PixelKernels();
  k.ToYCC8_3 = ToYCC8K<3>, k.ToYCC14_3 = ToYCC14K<3>, k.FromYCC14_3 = FromYCC14K<3>;
  k.BGR14ToYCC8 = BGR14ToYCC8K;
  k.Luma8_3 = LumaK<3, false>, k.Luma14_3 = LumaK<3, true>;
  k.Flatten8_4 = Flatten8_4K, k.Flatten14_4 = Flatten14_4K;
  k.YCCStages8_3 = YCCStages<3, false>, k.YCCStages8_4 = YCCStages<4, false>;
  k.YCCStages14_3 = YCCStages<3, true>, k.YCCStages14_4 = YCCStages<4, true>;
  k.Y14Of8_3 = Y14Of3K<false>, k.Y14Of14_3 = Y14Of3K<true>, k.WithY8_3 = WithY3K<false>, k.WithY14_3 = WithY3K<true>;
  return k;
}

}  // namespace

const TPixelKernels &AVX2PixelKernels() {
  static const TPixelKernels k = MakeAVX2Kernels();
  return k;
}
