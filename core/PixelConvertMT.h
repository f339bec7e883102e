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
