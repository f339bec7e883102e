// Helpers the tone effects share: one table entry on the 14-bit scale, and the
// L* path that runs a 14-bit table over the lightness of a CIELAB form of the
// image (tone curve and levels in Lab mode).
#pragma once

#include "core/ImgInfo.h"

#include <algorithm>
#include <cstdint>
#include <span>

class TMultiThread;
class TTransForm;

// An 8-bit-scale value as a 14-bit table entry: clamped to 0..255, then
// round(v * 64) with round(x) = x + 0.5 truncated. A value that is no number
// (a degenerate setting) is black rather than undefined.
inline int16_t Entry14(double V) { return V > 0 ? int16_t(std::min(V, 255.0) * 64.0 + 0.5) : int16_t(0); }

// Round half up as the tables use it (x + 0.5 truncated toward zero).
inline int32_t RoundHalfUp(double X) { return int32_t(X + 0.5); }

// Converts Img (8, 14 or 16-bit; 16-bit becomes 14-bit first) to 16-bit Lab
// through Transform (the worker's; a local one when null), replaces L* by
// Table[(L + 2) >> 2] x 4 (Table: 16321 entries on the 14-bit scale), and
// converts back into the image's profile. Alpha is kept aside and restored;
// images marked gray+alpha go through as gray with alpha. The result is
// 14-bit. An image the colour library cannot take to Lab raises ETessivoError.
void ApplyLightnessTable(TICCImgInfo &Img, std::span<const int16_t> Table, TTransForm *Transform, TMultiThread *MT);
