// Interpolation of the reprojection tool: one result row from the source
// positions its pixels look at, with the 4 x 4 taps of the Spline16 kernel.
// The source has 1, 3 or 4 samples a pixel (gray; B, G, R; B, G, R, alpha),
// 8 or 16 bits each, read where the decoder left it; a result pixel has four
// samples: B, G, R (gray three times) and alpha, which is full scale where
// the source has none. A position outside the picture reads its edge
// pixels; an invalid one gives zero in every sample. Each instruction set
// fills one table; the plain one is the reference and the vector one gives
// the same bytes.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

struct TRemapSource {
  const uint8_t *Top;  // the top row
  ptrdiff_t Stride;    // bytes from a row to the one below (negative for rows stored bottom-up)
  int32_t Width, Height;
  int32_t Channels;    // 1, 3 or 4
};

// Vector rows read up to this many bytes past the last of four taps inside
// a row, so a source row must have that many readable bytes after its last
// pixel; the image record's stride leaves more than that.
constexpr int32_t REMAP_OVERRUN = 16;

using TRemapRowProc = void (*)(const TRemapSource &Src, const float *SX, const float *SY, const uint8_t *Valid,
                               int32_t Count, uint8_t *Out);

struct TRemapKernels {
  TRemapRowProc Row8[5];   // 8-bit samples, by channel count (1, 3, 4)
  TRemapRowProc Row16[5];  // 16-bit samples
};

const TRemapKernels &PlainRemapKernels();
#if defined(__x86_64__) || defined(__i386__)
const TRemapKernels &SSE2RemapKernels();
#endif
// The vector table where the processor has one, else the plain one.
const TRemapKernels &BestRemapKernels();

// The four weights of a position with fraction T in [0, 1): for the pixels
// one before, at, one after and two after its whole part. The kernel is
// ((a - 9/5) a - 1/5) a + 1 below 1 and ((-d/3 + 4/5) d - 7/15) d with
// d = a - 1 below 2; its support is 2.
inline void Spline16Weights(float T, float W[4]) {
  const float u = 1.f - T;
  W[0] = ((-T / 3.f + 0.8f) * T - 7.f / 15.f) * T;
  W[1] = ((T - 1.8f) * T - 0.2f) * T + 1.f;
  W[2] = ((u - 1.8f) * u - 0.2f) * u + 1.f;
  W[3] = ((-u / 3.f + 0.8f) * u - 7.f / 15.f) * u;
}

// The whole part of a position and its weights; First is the first tap's
// column (or row), which may lie outside the picture.
struct TTapSpan {
  int32_t First;
  float W[4];
};
inline TTapSpan TapSpan(float Pos) {
  const float whole = std::floor(Pos);
  TTapSpan s;
  s.First = int32_t(whole) - 1;
  Spline16Weights(Pos - whole, s.W);
  return s;
}
