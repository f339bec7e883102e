// SSE2 row kernels. Colour and layout kernels move 8 pixels at a time into one
// 16-bit lane per pixel and channel (planes), compute there and interleave back;
// the per-sample kernels work on 16 samples at a time. All of them may read and
// write past the last pixel, into the row padding, by less than KERNEL_OVERRUN.
#include "core/PixelConvertKernels.h"
#include "core/PixelConvertSSE2.h"

#include "core/PixelConvert.h"

#include <algorithm>
#include <cstring>

namespace {

// Per-sample kernels, 16 samples per step.

void C16To14(const uint8_t *S, uint8_t *D, uint32_t N, uint32_t) {
  // round(v * 16320 / 65535) = floor(64 (v + 2) / 257), and floor(64 x / 257) =
  // (x * 65281) >> 18 for all 16-bit x; v + 2 saturates, which changes no result.
  const V m = _mm_set1_epi16(int16_t(65281));
  const V two = _mm_set1_epi16(2);
  for (uint32_t i = 0; i < N; i += 8, S += 16, D += 16)
    Store(D, _mm_srli_epi16(_mm_mulhi_epu16(_mm_adds_epu16(Load(S), two), m), 2));
}

void C14To16(const uint8_t *S, uint8_t *D, uint32_t N, uint32_t) {
  for (uint32_t i = 0; i < N; i += 8, S += 16, D += 16) {
    const V v = _mm_min_epi16(_mm_max_epi16(Load(S), _mm_setzero_si128()), _mm_set1_epi16(16320));
    // 4 v + round(v / 64): the exact v * 65535 / 16320, rounded.
    Store(D, _mm_add_epi16(_mm_slli_epi16(v, 2), _mm_srli_epi16(_mm_add_epi16(v, _mm_set1_epi16(32)), 6)));
  }
}

// (v * 255 + 32895) >> 16: the high half of v * 255 plus the carry out of its
// low half when 32895 is added (low half >= 32641, compared unsigned).
V Div257(V X) {
  const V k = _mm_set1_epi16(255);
  const V hi = _mm_mulhi_epu16(X, k), lo = _mm_mullo_epi16(X, k);
  const V sign = _mm_set1_epi16(int16_t(0x8000));
  const V carry = _mm_cmpgt_epi16(_mm_xor_si128(lo, sign), _mm_set1_epi16(int16_t(32640 ^ 0x8000)));
  return _mm_sub_epi16(hi, carry);
}

void C16To8(const uint8_t *S, uint8_t *D, uint32_t N, uint32_t) {
  for (uint32_t i = 0; i < N; i += 16, S += 32, D += 16)
    Store(D, _mm_packus_epi16(Div257(Load(S)), Div257(Load(S + 16))));
}

V To8(V X) {
  const V v = _mm_min_epi16(_mm_max_epi16(X, _mm_setzero_si128()), _mm_set1_epi16(16320));
  return _mm_srli_epi16(_mm_add_epi16(v, _mm_set1_epi16(32)), 6);
}
void C14To8(const uint8_t *S, uint8_t *D, uint32_t N, uint32_t) {
  for (uint32_t i = 0; i < N; i += 16, S += 32, D += 16) Store(D, _mm_packus_epi16(To8(Load(S)), To8(Load(S + 16))));
}

// Layout.

void SwapRB16_3(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t) {
  RunPx<3, true, 3, true>(S, D, W, [](const TPlanes &p) { return TPlanes{{p.c[2], p.c[1], p.c[0], p.c[3]}}; });
}

void SwapRB16_4(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t) {
  for (uint32_t x = 0; x < W; x += 2, S += 16, D += 16) {
    const V v = Load(S);
    Store(D, _mm_shufflehi_epi16(_mm_shufflelo_epi16(v, _MM_SHUFFLE(3, 0, 1, 2)), _MM_SHUFFLE(3, 0, 1, 2)));
  }
}

void SwapRB32(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t) {
  const V keep = _mm_set1_epi32(int(0xFF00FF00)), low = _mm_set1_epi32(0xFF);
  for (uint32_t x = 0; x < W; x += 4, S += 16, D += 16) {
    const V v = Load(S);
    Store(D, Or(And(v, keep), Or(_mm_slli_epi32(And(v, low), 16), And(_mm_srli_epi32(v, 16), low))));
  }
}

template <bool Wide>
void ExpandGA(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t) {
  RunPx<2, Wide, 4, Wide>(S, D, W, [](const TPlanes &p) { return TPlanes{{p.c[0], p.c[0], p.c[0], p.c[1]}}; });
}

template <bool Wide>
void NarrowGA(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t) {
  RunPx<4, Wide, 2, Wide>(S, D, W, [](const TPlanes &p) { return TPlanes{{p.c[0], p.c[3], p.c[1], p.c[2]}}; });
}

template <int Ch>
void Alpha8(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t) {
  RunPx<Ch, false, 1, true>(S, D, W, [](const TPlanes &p) {
    return TPlanes{{_mm_slli_epi16(p.c[Ch - 1], 6), p.c[1], p.c[2], p.c[3]}};
  });
}

template <int Ch>
void Alpha14(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t) {
  RunPx<Ch, true, 1, true>(S, D, W, [](const TPlanes &p) { return TPlanes{{p.c[Ch - 1], p.c[1], p.c[2], p.c[3]}}; });
}

template <int Ch>
void Restore14(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t) {
  for (uint32_t x = 0; x < W; x += 8, S += 16, D += 16 * Ch) {
    TPlanes p = LoadPx<Ch, true>(D);
    p.c[Ch - 1] = Load(S);
    StorePx<Ch, true>(D, p);
  }
}

void Flatten8_4(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t Bg) {
  const V bg[3] = {_mm_set1_epi16(BgSample(Bg, 0)), _mm_set1_epi16(BgSample(Bg, 1)), _mm_set1_epi16(BgSample(Bg, 2))};
  RunPx<4, false, 3, false>(S, D, W, [&](const TPlanes &p) {
    const V inv = _mm_sub_epi16(_mm_set1_epi16(255), p.c[3]);
    return TPlanes{{Blend8(p.c[0], p.c[3], bg[0], inv), Blend8(p.c[1], p.c[3], bg[1], inv),
                    Blend8(p.c[2], p.c[3], bg[2], inv), p.c[3]}};
  });
}

void Flatten8_2(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t Bg) {
  const V bg = _mm_set1_epi16(BgSample(Bg, 0));
  RunPx<2, false, 1, false>(S, D, W, [&](const TPlanes &p) {
    const V inv = _mm_sub_epi16(_mm_set1_epi16(255), p.c[1]);
    return TPlanes{{Blend8(p.c[0], p.c[1], bg, inv), p.c[1], p.c[2], p.c[3]}};
  });
}

void Flatten14_4(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t Bg) {
  const float bg[3] = {float(BgSample(Bg, 0) * 64), float(BgSample(Bg, 1) * 64), float(BgSample(Bg, 2) * 64)};
  RunPx<4, true, 3, true>(S, D, W, [&](const TPlanes &p) {
    return TPlanes{{Blend14(p.c[0], p.c[3], bg[0]), Blend14(p.c[1], p.c[3], bg[1]), Blend14(p.c[2], p.c[3], bg[2]),
                    p.c[3]}};
  });
}

void Flatten14_2(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t Bg) {
  const float bg = float(BgSample(Bg, 0) * 64);
  RunPx<2, true, 1, true>(S, D, W,
                          [&](const TPlanes &p) { return TPlanes{{Blend14(p.c[0], p.c[1], bg), p.c[1], p.c[2], p.c[3]}}; });
}

// Colour representations.

template <int Ch>
void Luma8(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t) {
  RunPx<Ch, false, 1, false>(S, D, W, [](const TPlanes &p) { return TPlanes{{Luma<15>(p, 1 << 14), p.c[1], p.c[2], p.c[3]}}; });
}

template <int Ch>
void Luma14(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t) {
  RunPx<Ch, true, 1, false>(S, D, W, [](const TPlanes &p) { return TPlanes{{Luma<21>(p, 1 << 20), p.c[1], p.c[2], p.c[3]}}; });
}

template <int Ch>
void ToYCC8(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t) {
  RunPx<Ch, false, Ch, true>(S, D, W, [](const TPlanes &p) { return ToYCC<15>(Scale8To14(p), 1 << 14, (1 << 14) - 1); });
}

template <int Ch>
void ToYCC14(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t) {
  RunPx<Ch, true, Ch, true>(S, D, W, [](const TPlanes &p) { return ToYCC<15>(p, 1 << 14, (1 << 14) - 1); });
}

template <int Ch>
void FromYCC14(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t) {
  RunPx<Ch, true, Ch, true>(S, D, W, FromYCC);
}

template <bool Wide>
TPlanes Load3As14(const uint8_t *S) {
  const TPlanes p = LoadPx<3, Wide>(S);
  if constexpr (Wide) return p;
  return {{_mm_slli_epi16(p.c[0], 6), _mm_slli_epi16(p.c[1], 6), _mm_slli_epi16(p.c[2], 6), p.c[3]}};
}

template <bool Wide>
void Y14Of3(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t) {
  for (uint32_t x = 0; x < W; x += 8, S += 24 * (Wide ? 2 : 1), D += 16)
    Store(D, Luma<15>(Load3As14<Wide>(S), 1 << 14));
}

template <bool Wide>
void WithY3(const uint8_t *S, const int16_t *Y, uint8_t *D, uint32_t W) {
  for (uint32_t x = 0; x < W; x += 8, S += 24 * (Wide ? 2 : 1), D += 48) {
    TPlanes q = ToYCC<15>(Load3As14<Wide>(S), 1 << 14, (1 << 14) - 1);
    q.c[0] = Load(reinterpret_cast<const uint8_t *>(Y + x));
    StorePx<3, true>(D, FromYCC(q));
  }
}

void BGR14ToYCC8(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t) {
  // Chroma rounding term 128 * 2^22 + 2^21 - 1, halved: 2^28 + 2^20 - 1.
  RunPx<3, true, 3, false>(S, D, W, [](const TPlanes &p) { return ToYCC<21>(p, 1 << 20, (1 << 28) + (1 << 20) - 1); });
}

V Quarter(V X) { return _mm_avg_epu16(_mm_srli_epi16(X, 1), _mm_setzero_si128()); }  // (v + 2) >> 2

void Ch0To14_1(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t) {
  for (uint32_t x = 0; x < W; x += 8, S += 16, D += 16) Store(D, Quarter(Load(S)));
}
// Sample 0 of 3-sample pixels: 16-bit words 0, 3, 6, ... of each 48-byte group
// of 8 pixels. The operation runs on whole registers and is kept where the
// mask of the register's position in the group is set.
template <class F>
void OnSample0Of3(const uint8_t *S, uint8_t *D, uint32_t W, F Fn) {
  const V m[3] = {_mm_set_epi16(0, -1, 0, 0, -1, 0, 0, -1), _mm_set_epi16(-1, 0, 0, -1, 0, 0, -1, 0),
                  _mm_set_epi16(0, 0, -1, 0, 0, -1, 0, 0)};
  for (uint32_t x = 0; x < W; x += 8, S += 48, D += 48)
    for (int i = 0; i < 3; ++i) {
      const V v = Load(S + 16 * i);
      Store(D + 16 * i, Or(And(m[i], Fn(v)), _mm_andnot_si128(m[i], v)));
    }
}

void Ch0To14_3(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t) { OnSample0Of3(S, D, W, Quarter); }
void Ch0From14_1(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t) {
  for (uint32_t x = 0; x < W; x += 8, S += 16, D += 16) Store(D, _mm_slli_epi16(Load(S), 2));
}
void Ch0From14_3(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t) {
  OnSample0Of3(S, D, W, [](V v) { return _mm_slli_epi16(v, 2); });
}

// The luminance stage in chunks of 64 pixels, which stay in the first-level
// cache: the colour conversions by the row kernels above, the table lookups
// one sample at a time in between. The last pixels of a row that make no
// group of 8 take the plain kernel.
template <int Ch, bool Wide, bool Chroma, bool RGB>
void YCCStagesK(const uint8_t *S, uint8_t *D, uint32_t W, const TYCCStageTables &T) {
  constexpr uint32_t chunk = 64, inPixel = Ch * (Wide ? 2 : 1);
  alignas(16) int16_t buf[chunk * Ch];
  uint8_t *b = reinterpret_cast<uint8_t *>(buf);
  uint32_t x = 0;
  while (W - x >= 8) {
    const uint32_t n = std::min(chunk, (W - x) & ~7u);
    Wide ? ToYCC14<Ch>(S, b, n, 0) : ToYCC8<Ch>(S, b, n, 0);
    for (int16_t *p = buf; p < buf + n * Ch; p += Ch) {
      p[0] = T.Luma[std::clamp<int32_t>(p[0], 0, FULL_SCALE_14)];
      if constexpr (Chroma)
        for (int c = 1; c < 3; ++c) p[c] = int16_t(T.Chroma[std::clamp<int32_t>(p[c], -8160, 8160) + 8160] - 8160);
    }
    FromYCC14<Ch>(b, b, n, 0);
    if constexpr (RGB) {
      // FromYCC leaves every sample in 0..16320.
      int16_t *d = reinterpret_cast<int16_t *>(D);
      for (const int16_t *p = buf; p < buf + n * Ch; p += Ch, d += Ch) {
        for (int c = 0; c < 3; ++c) d[c] = T.RGB[size_t(c) * LUT14_ENTRIES + size_t(p[c])];
        if constexpr (Ch == 4) d[3] = p[3];
      }
    } else {
      std::memcpy(D, buf, size_t(n) * Ch * 2);
    }
    x += n, S += n * inPixel, D += n * Ch * 2;
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

const TPixelKernels kSSE2 = {
    C16To14, C14To16, C16To8, C14To8,
    SwapRB16_3, SwapRB16_4, SwapRB32,
    ExpandGA<false>, ExpandGA<true>, NarrowGA<false>, NarrowGA<true>,
    Alpha8<2>, Alpha8<4>, Alpha14<2>, Alpha14<4>,
    Restore14<2>, Restore14<4>,
    Flatten8_2, Flatten8_4, Flatten14_2, Flatten14_4,
    Luma8<3>, Luma8<4>, Luma14<3>, Luma14<4>,
    ToYCC8<3>, ToYCC8<4>, ToYCC14<3>, ToYCC14<4>,
    FromYCC14<3>, FromYCC14<4>,
    BGR14ToYCC8,
    Ch0To14_1, Ch0To14_3, Ch0From14_1, Ch0From14_3,
    YCCStages<3, false>, YCCStages<4, false>, YCCStages<3, true>, YCCStages<4, true>,
    Y14Of3<false>, Y14Of3<true>, WithY3<false>, WithY3<true>,
};

}  // namespace

const TPixelKernels &SSE2PixelKernels() { return kSSE2; }
