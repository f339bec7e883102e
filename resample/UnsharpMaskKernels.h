// Row kernels of the unsharp mask: the local 3 x 3 limits and the sharpening
// step. The plain code is the reference; the SSE2 and AVX2 kernels give the
// same results bit for bit.
#pragma once

#include "resample/WeightedMean.h"

#include <cstdint>

// Limit rows hold, per group of 8 samples, the 8 maxima and then the 8
// minima; lanes past the row's last sample are 0.
struct TUSMKernels {
  // Horizontal maxima and minima over x - 1 .. x + 1 in the sample's channel,
  // clipped at the row's ends; 8-bit samples are taken x 64.
  void (*HLimit8)(const uint8_t *Src, int32_t Width, int32_t Channels, int16_t *Out);
  void (*HLimit14)(const int16_t *Src, int32_t Width, int32_t Channels, int16_t *Out);
  // Maxima of the maxima and minima of the minima of three limit rows.
  void (*VLimit)(const int16_t *A, const int16_t *B, const int16_t *C, int32_t Groups, int16_t *Out);
  // Sharpens N samples in place against the blurred row and the limits.
  void (*Sharpen8)(uint8_t *Src, const int16_t *Blur, const int16_t *Limit, int32_t N,
                   const TUnsharpMaskCoefficients &K);
  void (*Sharpen14)(int16_t *Src, const int16_t *Blur, const int16_t *Limit, int32_t N,
                    const TUnsharpMaskCoefficients &K);
};

// The kernels of a code path (RISA_PLAIN, RISA_SSE2, RISA_AVX2), or null when
// the processor lacks it; Isa < 0 gives the best one the processor has.
const TUSMKernels *USMKernels(int32_t Isa);

// Limit groups of a row of N samples.
constexpr int32_t LimitGroups(int32_t N) { return (N + 7) / 8; }

namespace usm_plain {
extern const TUSMKernels Kernels;
// One sample of the sharpening step, on the 14-bit scale.
int16_t SharpenSample(int32_t o, int32_t Blur, int32_t Max, int32_t Min, const TUnsharpMaskCoefficients &K);
// Horizontal limits of groups [G0, G1) of a row.
void HLimitGroups8(const uint8_t *Src, int32_t N, int32_t Channels, int32_t G0, int32_t G1, int16_t *Out);
void HLimitGroups14(const int16_t *Src, int32_t N, int32_t Channels, int32_t G0, int32_t G1, int16_t *Out);
}  // namespace usm_plain
namespace usm_sse2 {
extern const TUSMKernels Kernels;
}
namespace usm_avx2 {
extern const TUSMKernels Kernels;
}
