// Forms of the YCbCr and lookup-table conversions of core/PixelConvert.h that
// split the rows across a worker pool (the tone effects run them on whole
// photos). Each gives the same bytes as its single-thread form, which is the
// same call with no pool.
#pragma once

#include "core/PixelConvert.h"

class TMultiThread;

void ConvertToYCC14(TICCImgInfo &Img, TMultiThread *MT);
void ConvertFromYCC14(TICCImgInfo &Img, TMultiThread *MT);
void ApplyLUT8To14(TICCImgInfo &Img, std::span<const int16_t> LUT, TMultiThread *MT);
void ApplyGrayLUT8To14(TICCImgInfo &Img, std::span<const int16_t> LUT, TMultiThread *MT);
void ApplyLUT14(TICCImgInfo &Img, std::span<const int16_t> LUT, TMultiThread *MT);
void ApplyLUT14Channel0(TICCImgInfo &Img, std::span<const int16_t> LUT, TMultiThread *MT);
void ApplyYCCLUT14(TICCImgInfo &Img, std::span<const int16_t> LUT, TMultiThread *MT);

// The luminance-side table stage of the tone effects on a colour image in one
// pass: the same bytes as ConvertToYCC14, then the luma table on Y (and, when
// Chroma is given, the chroma table on Cb and Cr as ApplyYCCLUT14 does),
// ConvertFromYCC14 and, when RGB is given, ApplyLUT14 with that set. Each
// pixel goes through all the steps in registers (the vector kernels fetch
// the table entries with gathers), so the picture is read and written once
// instead of four times. 3- and 4-channel images of 8 or 14
// bits (alpha kept, widened to 14 bits); others are left unchanged. Luma
// needs LUT14_ENTRIES entries, Chroma LUT14_ENTRIES, RGB LUT14_SIZE.
struct TYCCStages {
  std::span<const int16_t> Luma;
  std::span<const int16_t> Chroma;  // empty: Cb and Cr pass unchanged
  std::span<const int16_t> RGB;     // empty: no RGB table stage
};
void ApplyYCCStages(TICCImgInfo &Img, const TYCCStages &Stages, TMultiThread *MT);
