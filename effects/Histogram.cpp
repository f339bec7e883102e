// Histogram counting for the automatic levels and the preview windows: each
// pool thread counts its own band into a private record, then the records
// are summed, so the counts are the same for any thread count.
#include "effects/Histogram.h"

#include "color/ICCUtil.h"
#include "core/RowBands.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace {

// A sample as a bin: 8-bit directly, 14-bit rounded to the nearest 8-bit level.
inline uint32_t Bin(const uint8_t *Row, uint32_t Index, bool Wide) {
  if (!Wide) return Row[Index];
  const int32_t v = reinterpret_cast<const int16_t *>(Row)[Index];
  return uint32_t(std::clamp((v + 32) >> 6, 0, 255));
}

inline uint32_t Clamp255(int32_t v) { return uint32_t(std::clamp(v, 0, 255)); }

void CountRows(const TICCImgInfo &Img, uint32_t First, uint32_t Last, int32_t Mode, const TTransForm *Lab,
               bool Gray, THistogramCounts &C) {
  const bool wide = Img.BPP != BPP_8;
  const uint32_t ch = Img.Channels, w = Img.Width;
  std::vector<uint8_t> L(Lab ? w : 0);
  for (uint32_t y = First; y < Last; ++y) {
    const uint8_t *row = ScanLine(Img, y);
    if (Mode != 4) {
      for (uint32_t x = 0; x < w; ++x) {
        const uint32_t b = Bin(row, ch * x, wide);
        if (Gray) {
          ++C[HIST_BLUE + b];
          continue;
        }
        const int32_t g = int32_t(Bin(row, ch * x + 1, wide)), r = int32_t(Bin(row, ch * x + 2, wide));
        const int32_t bb = int32_t(b);
        if (Mode == 0) {
          ++C[HIST_BLUE + uint32_t((19595 * r + 38470 * g + 7471 * bb + 32768) >> 16)];
          continue;
        }
        if (Mode == 1 || Mode == 3) ++C[HIST_BLUE + b], ++C[HIST_GREEN + uint32_t(g)], ++C[HIST_RED + uint32_t(r)];
        if (Mode == 2 || Mode == 3) {
          ++C[HIST_Y + Clamp255((19595 * r + 38470 * g + 7471 * bb + 32768) >> 16)];
          ++C[HIST_CB + Clamp255(((-11059 * r - 21709 * g + 32768 * bb + 32768) >> 16) + 128)];
          ++C[HIST_CR + Clamp255(((32768 * r - 27439 * g - 5329 * bb + 32768) >> 16) + 128)];
        }
      }
    }
    if (Lab) {
      // The transform gives L, a, b per pixel for colour sources, L alone for gray ones.
      const size_t step = Gray ? 1 : 3;
      std::vector<uint8_t> out(size_t(w) * step);
      Lab->Transform1LineToLab(row, out.data(), w);
      for (uint32_t x = 0; x < w; ++x) ++C[HIST_L + out[x * step]];
    }
  }
}

}  // namespace

void CalcHistogram(const TICCImgInfo &Img, THistogramCounts &Counts, int32_t Mode, const TTransForm *Transform,
                   TMultiThread *Pool, bool LabMode) {
  Counts.fill(0);
  if (!Img.Mem || !Img.Width || !Img.Height) return;
  if (Img.BPP != BPP_8 && Img.BPP != BPP_14) return;
  const bool gray = Img.Channels < 3 || Img.IsGrayAlpha;
  const bool wantL = Mode == 4 || (Mode == 3 && LabMode);
  const TTransForm *lab =
      wantL && Transform && Transform->TransformType() == TTransformType::ToLab8 ? Transform : nullptr;
  std::mutex sum;
  ForRowBands(Pool, Img.Height, [&](uint32_t First, uint32_t Last) {
    THistogramCounts own{};
    CountRows(Img, First, Last, Mode, lab, gray, own);
    std::lock_guard g(sum);
    for (size_t i = 0; i < HISTOGRAM_BINS; ++i) Counts[i] += own[i];
  });
  if (Mode == 0 || gray) std::copy_n(Counts.begin() + HIST_BLUE, 256, Counts.begin() + HIST_Y);
}
