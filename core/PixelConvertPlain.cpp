// Plain C++ row kernels: the reference for the vector kernels and the path for
// processors and buffers that the vector code cannot take.
#include "core/PixelConvertKernels.h"

#include "core/PixelConvert.h"

#include <algorithm>
#include <cmath>

namespace {

const int16_t *In16(const uint8_t *P) { return reinterpret_cast<const int16_t *>(P); }
const uint16_t *InU16(const uint8_t *P) { return reinterpret_cast<const uint16_t *>(P); }
int16_t *Out16(uint8_t *P) { return reinterpret_cast<int16_t *>(P); }
uint16_t *OutU16(uint8_t *P) { return reinterpret_cast<uint16_t *>(P); }

int32_t ClampTo(int64_t V, int32_t Lo, int32_t Hi) { return int32_t(std::clamp<int64_t>(V, Lo, Hi)); }
int16_t Sat16(int64_t V) { return int16_t(ClampTo(V, -32768, 32767)); }

// Per-sample rules.

void C16To14(const uint8_t *S, uint8_t *D, uint32_t N, uint32_t) {
  const uint16_t *s = InU16(S);
  uint16_t *d = OutU16(D);
  // round(v * 16320 / 65535) = floor((64 v + 128) / 257): 257 is odd, so there are no ties.
  for (uint32_t i = 0; i < N; ++i) d[i] = uint16_t((uint32_t(s[i]) * 64u + 128u) / 257u);
}

void C14To16(const uint8_t *S, uint8_t *D, uint32_t N, uint32_t) {
  const int16_t *s = In16(S);
  uint16_t *d = OutU16(D);
  for (uint32_t i = 0; i < N; ++i) {
    const int32_t v = ClampTo(s[i], 0, 16320);
    // v * 65535 / 16320 is exactly 4 v + v / 64; the second part is rounded.
    d[i] = uint16_t(v * 4 + ((v + 32) >> 6));
  }
}

void C16To8(const uint8_t *S, uint8_t *D, uint32_t N, uint32_t) {
  const uint16_t *s = InU16(S);
  for (uint32_t i = 0; i < N; ++i) D[i] = uint8_t((uint32_t(s[i]) * 255u + 32895u) >> 16);
}

void C14To8(const uint8_t *S, uint8_t *D, uint32_t N, uint32_t) {
  const int16_t *s = In16(S);
  for (uint32_t i = 0; i < N; ++i) D[i] = uint8_t((ClampTo(s[i], 0, 16320) + 32) >> 6);
}

// Layout.

void SwapRB16_3(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t) {
  const uint16_t *s = InU16(S);
  uint16_t *d = OutU16(D);
  for (uint32_t x = 0; x < W; ++x) {
    const uint16_t b = s[3 * x], g = s[3 * x + 1], r = s[3 * x + 2];
    d[3 * x] = r, d[3 * x + 1] = g, d[3 * x + 2] = b;
  }
}

void SwapRB16_4(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t) {
  const uint16_t *s = InU16(S);
  uint16_t *d = OutU16(D);
  for (uint32_t x = 0; x < W; ++x) {
    const uint16_t b = s[4 * x], g = s[4 * x + 1], r = s[4 * x + 2], a = s[4 * x + 3];
    d[4 * x] = r, d[4 * x + 1] = g, d[4 * x + 2] = b, d[4 * x + 3] = a;
  }
}

void SwapRB32(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t) {
  for (uint32_t x = 0; x < W; ++x) {
    const uint8_t b = S[4 * x], g = S[4 * x + 1], r = S[4 * x + 2], a = S[4 * x + 3];
    D[4 * x] = r, D[4 * x + 1] = g, D[4 * x + 2] = b, D[4 * x + 3] = a;
  }
}

template <class T>
void ExpandGA(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t) {
  const T *s = reinterpret_cast<const T *>(S);
  T *d = reinterpret_cast<T *>(D);
  for (uint32_t x = 0; x < W; ++x) {
    const T g = s[2 * x], a = s[2 * x + 1];
    d[4 * x] = g, d[4 * x + 1] = g, d[4 * x + 2] = g, d[4 * x + 3] = a;
  }
}

template <class T>
void NarrowGA(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t) {
  const T *s = reinterpret_cast<const T *>(S);
  T *d = reinterpret_cast<T *>(D);
  for (uint32_t x = 0; x < W; ++x) {
    const T g = s[4 * x], a = s[4 * x + 3];
    d[2 * x] = g, d[2 * x + 1] = a;
  }
}

template <int Ch>
void Alpha8(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t) {
  int16_t *d = Out16(D);
  for (uint32_t x = 0; x < W; ++x) d[x] = int16_t(S[Ch * x + Ch - 1] * 64);
}

template <int Ch>
void Alpha14(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t) {
  const int16_t *s = In16(S);
  int16_t *d = Out16(D);
  for (uint32_t x = 0; x < W; ++x) d[x] = s[Ch * x + Ch - 1];
}

template <int Ch>
void Restore14(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t) {
  const int16_t *s = In16(S);
  int16_t *d = Out16(D);
  for (uint32_t x = 0; x < W; ++x) d[Ch * x + Ch - 1] = s[x];
}

// Rounded division by 255 of s*a + bg*(255 - a); exact for a = 0 and a = 255.
uint8_t Blend8(int32_t S, int32_t A, int32_t Bg) {
  const int32_t t = S * A + Bg * (255 - A) + 128;
  return uint8_t((t + (t >> 8)) >> 8);
}

// The same on the 14-bit scale in single precision, rounded half to even.
int16_t Blend14(int32_t S, int32_t A, int32_t Bg) {
  const float fa = float(A);
  float t = float(S) * fa + float(Bg) * (16320.0f - fa);
  t = t * (1.0f / 16320.0f);
  t = std::min(t, 16320.0f);
  return Sat16(std::lrint(t));
}

void Flatten8_4(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t Bg) {
  const int32_t bg[3] = {int32_t(Bg & 0xFF), int32_t((Bg >> 8) & 0xFF), int32_t((Bg >> 16) & 0xFF)};
  for (uint32_t x = 0; x < W; ++x) {
    const int32_t a = S[4 * x + 3];
    for (int c = 0; c < 3; ++c) D[3 * x + c] = Blend8(S[4 * x + c], a, bg[c]);
  }
}

void Flatten8_2(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t Bg) {
  for (uint32_t x = 0; x < W; ++x) D[x] = Blend8(S[2 * x], S[2 * x + 1], int32_t(Bg & 0xFF));
}

void Flatten14_4(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t Bg) {
  const int16_t *s = In16(S);
  int16_t *d = Out16(D);
  const int32_t bg[3] = {int32_t(Bg & 0xFF) * 64, int32_t((Bg >> 8) & 0xFF) * 64,
                         int32_t((Bg >> 16) & 0xFF) * 64};
  for (uint32_t x = 0; x < W; ++x) {
    const int32_t a = s[4 * x + 3];
    for (int c = 0; c < 3; ++c) d[3 * x + c] = Blend14(s[4 * x + c], a, bg[c]);
  }
}

void Flatten14_2(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t Bg) {
  const int16_t *s = In16(S);
  int16_t *d = Out16(D);
  for (uint32_t x = 0; x < W; ++x) d[x] = Blend14(s[2 * x], s[2 * x + 1], int32_t(Bg & 0xFF) * 64);
}

// Colour representations (Rec. 601 in 16.16 fixed point).

template <int Ch>
void Luma8(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t) {
  for (uint32_t x = 0; x < W; ++x) {
    const uint8_t *p = S + Ch * x;
    D[x] = uint8_t((7471 * p[0] + 38470 * p[1] + 19595 * p[2] + 32768) >> 16);
  }
}

template <int Ch>
void Luma14(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t) {
  const int16_t *s = In16(S);
  for (uint32_t x = 0; x < W; ++x) {
    const int16_t *p = s + Ch * x;
    const int64_t y = (7471LL * p[0] + 38470LL * p[1] + 19595LL * p[2] + (1 << 21)) >> 22;
    D[x] = uint8_t(ClampTo(y, 0, 255));
  }
}

void ToYCC(int64_t B, int64_t G, int64_t R, int16_t *Out) {
  Out[0] = Sat16((19595 * R + 38470 * G + 7471 * B + 32768) >> 16);
  Out[1] = Sat16((-11059 * R - 21709 * G + 32768 * B + 32767) >> 16);
  Out[2] = Sat16((32768 * R - 27439 * G - 5329 * B + 32767) >> 16);
}

template <int Ch>
void ToYCC8(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t) {
  int16_t *d = Out16(D);
  for (uint32_t x = 0; x < W; ++x) {
    const uint8_t *p = S + Ch * x;
    ToYCC(p[0] * 64, p[1] * 64, p[2] * 64, d + Ch * x);
    if (Ch == 4) d[4 * x + 3] = int16_t(p[3] * 64);
  }
}

template <int Ch>
void ToYCC14(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t) {
  const int16_t *s = In16(S);
  int16_t *d = Out16(D);
  for (uint32_t x = 0; x < W; ++x) {
    const int16_t *p = s + Ch * x;
    int16_t out[3];
    ToYCC(p[0], p[1], p[2], out);
    if (Ch == 4) d[4 * x + 3] = p[3];
    d[Ch * x] = out[0], d[Ch * x + 1] = out[1], d[Ch * x + 2] = out[2];
  }
}

void FromYCC(int64_t Y, int64_t Cb, int64_t Cr, int16_t *Out) {
  const int64_t b = Y + 2 * Cb + ((Cb * -14942) >> 16);
  const int64_t r = Y + Cr + ((Cr * 26345) >> 16);
  const int64_t g = Y - Cr + ((Cb * -22554 + Cr * 18734) >> 16);
  Out[0] = int16_t(ClampTo(b, 0, 16320));
  Out[1] = int16_t(ClampTo(g, 0, 16320));
  Out[2] = int16_t(ClampTo(r, 0, 16320));
}

template <int Ch>
void FromYCC14(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t) {
  const int16_t *s = In16(S);
  int16_t *d = Out16(D);
  for (uint32_t x = 0; x < W; ++x) {
    int16_t out[3];
    FromYCC(s[Ch * x], s[Ch * x + 1], s[Ch * x + 2], out);
    if (Ch == 4) d[4 * x + 3] = s[4 * x + 3];
    d[Ch * x] = out[0], d[Ch * x + 1] = out[1], d[Ch * x + 2] = out[2];
  }
}

// The luminance stage pixel by pixel: ToYCC, the luma table on the clamped
// Y, the chroma table on Cb and Cr clamped to +-8160, FromYCC and the RGB
// tables, each rule as the separate conversions apply it.
template <int Ch, bool Wide>
void YCCStages(const uint8_t *S, uint8_t *D, uint32_t W, const TYCCStageTables &T) {
  int16_t *d = Out16(D);
  for (uint32_t x = 0; x < W; ++x) {
    int64_t px[4] = {};
    for (int c = 0; c < Ch; ++c) px[c] = Wide ? int64_t(In16(S)[Ch * x + c]) : int64_t(S[Ch * x + c]) * 64;
    int16_t ycc[3], bgr[3];
    ToYCC(px[0], px[1], px[2], ycc);
    ycc[0] = T.Luma[ClampTo(ycc[0], 0, FULL_SCALE_14)];
    if (T.Chroma)
      for (int c = 1; c < 3; ++c) ycc[c] = int16_t(T.Chroma[ClampTo(ycc[c], -8160, 8160) + 8160] - 8160);
    FromYCC(ycc[0], ycc[1], ycc[2], bgr);
    if (T.RGB)
      for (int c = 0; c < 3; ++c) bgr[c] = T.RGB[size_t(c) * LUT14_ENTRIES + size_t(bgr[c])];
    for (int c = 0; c < 3; ++c) d[Ch * x + c] = bgr[c];
    if (Ch == 4) d[4 * x + 3] = int16_t(px[3]);
  }
}

// Sample c of pixel x of an 8- or 14-bit BGR row on the 14-bit scale.
template <bool Wide>
int64_t Sample14(const uint8_t *S, uint32_t X, int C) {
  return Wide ? In16(S)[3 * X + C] : int64_t(S[3 * X + C]) * 64;
}

template <bool Wide>
void Y14Of3(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t) {
  int16_t *d = Out16(D);
  for (uint32_t x = 0; x < W; ++x) {
    int16_t ycc[3];
    ToYCC(Sample14<Wide>(S, x, 0), Sample14<Wide>(S, x, 1), Sample14<Wide>(S, x, 2), ycc);
    d[x] = ycc[0];
  }
}

// Literally the two conversions with Y replaced in between, pixel by pixel.
template <bool Wide>
void WithY3(const uint8_t *S, const int16_t *Y, uint8_t *D, uint32_t W) {
  for (uint32_t x = 0; x < W; ++x) {
    int16_t ycc[3];
    ToYCC(Sample14<Wide>(S, x, 0), Sample14<Wide>(S, x, 1), Sample14<Wide>(S, x, 2), ycc);
    ycc[0] = Y[x];
    FromYCC14<3>(reinterpret_cast<const uint8_t *>(ycc), D + 6 * size_t(x), 1, 0);
  }
}

void BGR14ToYCC8(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t) {
  const int16_t *s = In16(S);
  constexpr int64_t half = 1 << 21, offset = int64_t(128) << 22;
  for (uint32_t x = 0; x < W; ++x) {
    const int64_t b = s[3 * x], g = s[3 * x + 1], r = s[3 * x + 2];
    D[3 * x] = uint8_t(ClampTo((19595 * r + 38470 * g + 7471 * b + half) >> 22, 0, 255));
    D[3 * x + 1] = uint8_t(ClampTo((-11059 * r - 21709 * g + 32768 * b + offset + half - 1) >> 22, 0, 255));
    D[3 * x + 2] = uint8_t(ClampTo((32768 * r - 27439 * g - 5329 * b + offset + half - 1) >> 22, 0, 255));
  }
}

template <int Ch>
void Ch0To14(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t) {
  const uint16_t *s = InU16(S);
  uint16_t *d = OutU16(D);
  for (uint32_t x = 0; x < W; ++x) d[Ch * x] = uint16_t((uint32_t(s[Ch * x]) + 2) >> 2);
}

template <int Ch>
void Ch0From14(const uint8_t *S, uint8_t *D, uint32_t W, uint32_t) {
  const uint16_t *s = InU16(S);
  uint16_t *d = OutU16(D);
  for (uint32_t x = 0; x < W; ++x) d[Ch * x] = uint16_t(s[Ch * x] * 4u);
}

const TPixelKernels kPlain = {
    C16To14, C14To16, C16To8, C14To8,
    SwapRB16_3, SwapRB16_4, SwapRB32,
    ExpandGA<uint8_t>, ExpandGA<uint16_t>, NarrowGA<uint8_t>, NarrowGA<uint16_t>,
    Alpha8<2>, Alpha8<4>, Alpha14<2>, Alpha14<4>,
    Restore14<2>, Restore14<4>,
    Flatten8_2, Flatten8_4, Flatten14_2, Flatten14_4,
    Luma8<3>, Luma8<4>, Luma14<3>, Luma14<4>,
    ToYCC8<3>, ToYCC8<4>, ToYCC14<3>, ToYCC14<4>,
    FromYCC14<3>, FromYCC14<4>,
    BGR14ToYCC8,
    Ch0To14<1>, Ch0To14<3>, Ch0From14<1>, Ch0From14<3>,
    YCCStages<3, false>, YCCStages<4, false>, YCCStages<3, true>, YCCStages<4, true>,
    Y14Of3<false>, Y14Of3<true>, WithY3<false>, WithY3<true>,
};

}  // namespace

const TPixelKernels &PlainPixelKernels() { return kPlain; }
