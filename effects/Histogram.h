// The histogram the automatic levels and the preview windows count: 7 x 256
// bins per record (blue or gray, green, red, Y, Cb, Cr, 8-bit L*), counted in
// row bands on a pool and summed.
#pragma once

#include "core/ImgInfo.h"

#include <array>
#include <cstdint>

class TMultiThread;
class TTransForm;

constexpr size_t HISTOGRAM_BINS = 7 * 256;
using THistogramCounts = std::array<uint32_t, HISTOGRAM_BINS>;

// Where each kind of count starts in the record.
enum : uint32_t {
  HIST_BLUE = 0,  // also the gray level (and the luma level in mode 0)
  HIST_GREEN = 256,
  HIST_RED = 512,
  HIST_Y = 768,
  HIST_CB = 1024,
  HIST_CR = 1280,
  HIST_L = 1536,
};

// What CalcHistogram counts (alpha never):
//   0 the Rec. 601 luma level of colour pixels (the gray level of gray ones);
//   1 blue, green, red; 2 Y, Cb, Cr; 3 all six, and L* with LabMode;
//   4 L* only, through Transform (made by InitToLab8 for Img).
// One-channel images and images marked gray+alpha count their level in bins
// 0-255 in modes 0 to 3 (mode 3 adds L* with LabMode) and only L* in mode 4;
// for them, and in mode 0, bins 0-255 are copied to the Y bins. 14-bit
// samples count in bin (v + 32) >> 6, clamped to 0..255. L* needs a
// transform; without one (or one that is not ToLab8) L* stays all zero.
void CalcHistogram(const TICCImgInfo &Img, THistogramCounts &Counts, int32_t Mode, const TTransForm *Transform,
                   TMultiThread *Pool, bool LabMode = false);
