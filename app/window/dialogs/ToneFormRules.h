// Value rules of the colour-correction and grayscale dialogs without their
// windows: the gamma scroll bars' mapping, and the weights the grayscale
// dialog shows for each type.
#pragma once

#include <array>
#include <cstdint>

// The gamma scroll bars run from -200 to 200: a position p is the gamma
// 1 + 0.004 p below 0 and 1 + 0.01 p from 0 (0.2 to 3.0).
inline constexpr int32_t GAMMA_SCROLL_MIN = -200, GAMMA_SCROLL_MAX = 200;
double GammaFromScroll(int32_t Position);
// The reverse, truncated toward zero, within the scroll range.
int32_t ScrollFromGamma(double Gamma);

// The weights in 1/10000 the grayscale dialog shows for a type: the fixed
// ones of Rec. 601 and Rec. 709, the custom ones (passed in) otherwise.
std::array<int32_t, 3> ShownGrayWeights(int32_t Type, const std::array<int32_t, 3> &Custom);
