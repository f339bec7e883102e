// The lens library's two pool jobs: every thread fills its band of result
// rows (SplitRange), so the result does not depend on the thread count.
#include "fisheye/FisheyeApi.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#define FISHEYE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// Tap positions of one axis: the first of the four pixels (in bordered
// coordinates) and the phase row.
struct TAxisTaps {
  int32_t First;
  int32_t Phase;
};

// Pos counts from pixel edges (Even) or pixel centres; see FisheyeApi.h.
TAxisTaps AxisTaps(double Pos, bool Even) {
  const double n = std::floor(Pos);
  const int32_t phase = std::min(int32_t((Pos - n) * FisheyePhases), FisheyePhases - 1);
  int32_t first = int32_t(n) - 1;
  if (Even && phase < FisheyePhases / 2) first = int32_t(n) - 2;
  return {first + FisheyeBorder, phase};
}

uint8_t ClampToByte(double v) { return uint8_t(std::clamp(std::lround(v), 0L, 255L)); }

void Remap(int32_t ThreadIndex, int32_t ThreadCount, const TFisheyeParam &P, bool Even) {
  const int32_t n = 2 * P.HalfSize + (Even ? 0 : 1);
  if (n <= 0 || ThreadCount <= 0) return;
  const int32_t first = int32_t(int64_t(n) * ThreadIndex / ThreadCount);
  const int32_t last = int32_t(int64_t(n) * (ThreadIndex + 1) / ThreadCount);
  const double pi = std::numbers::pi;
  const double hfov = P.SrcHFOV * pi / 180;
  const double f = (n / 2.0) / std::sin(std::min(hfov, pi) / 2);
  const double perPixel = hfov / n;  // angle per pixel of the equidistant result
  const double centre = P.HalfSize;
  const double offset = Even ? 0.5 - P.HalfSize : -double(P.HalfSize);
  for (int32_t y = first; y < last; ++y) {
    uint8_t *out = P.Dest + int64_t(y) * P.DestBpl;
    const double dy = y + offset;
    for (int32_t x = 0; x < n; ++x, out += 3) {
      const double dx = x + offset;
      const double r = std::hypot(dx, dy);
      const double theta = r * perPixel;
      out[0] = out[1] = out[2] = 0;
      if (theta > pi / 2 || !(hfov > 0)) continue;
      const double scale = r > 0 ? f * std::sin(theta) / r : 0;
      const double sx = centre + dx * scale, sy = centre + dy * scale;
      if (sx < -1 || sy < -1 || sx >= n + 1 || sy >= n + 1) continue;
      const TAxisTaps tx = AxisTaps(sx, Even), ty = AxisTaps(sy, Even);
      const double *wx = P.Taps[tx.Phase];
      const double *wy = P.Taps[ty.Phase];
      double sum[3] = {0, 0, 0};
      for (int32_t j = 0; j < FisheyeTaps; ++j) {
        const uint8_t *row = P.Src + int64_t(ty.First + j) * P.SrcBpl + int64_t(tx.First) * 3;
        double rowSum[3] = {0, 0, 0};
        for (int32_t i = 0; i < FisheyeTaps; ++i)
          for (int32_t c = 0; c < 3; ++c) rowSum[c] += wx[i] * row[i * 3 + c];
        for (int32_t c = 0; c < 3; ++c) sum[c] += wy[j] * rowSum[c];
      }
      for (int32_t c = 0; c < 3; ++c) out[c] = ClampToByte(sum[c]);
    }
  }
}

}  // namespace

FISHEYE_EXPORT void even_4tap(int32_t ThreadIndex, int32_t ThreadCount, void *Param) {
  Remap(ThreadIndex, ThreadCount, *static_cast<const TFisheyeParam *>(Param), true);
}

FISHEYE_EXPORT void odd_4tap(int32_t ThreadIndex, int32_t ThreadCount, void *Param) {
  Remap(ThreadIndex, ThreadCount, *static_cast<const TFisheyeParam *>(Param), false);
}
