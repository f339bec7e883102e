// The four-number value sets of the trimming and margin steps: eight size
// expressions, 0 to 3 for landscape images and 4 to 7 for portrait ones,
// chosen by a condition, evaluated with the image's width and height, and
// stored as one comma text in the settings file.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using TValueStrings = std::array<std::string, 8>;
using TValueSet = std::array<double, 4>;

// x + 0.5 truncated toward zero, kept within the 32-bit range (NaN gives 0).
int32_t RoundSize(double x);

// Condition 0 "W >= H or W < H", 1 "W > H or W <= H", 2 "ALL": whether the
// landscape values 0 to 3 apply to a w x h image (else 4 to 7).
bool UsesLandscapeValues(int32_t Condition, int64_t w, int64_t h);

// The chosen four values evaluated with w and h; a malformed one raises
// "式の評価でエラーが発生しました", a negative one counts as 0.
TValueSet EvaluateValueSet(const TValueStrings &Values, int32_t Condition, int32_t w, int32_t h);

// The settings file's form: the values joined by ",", and split back at
// commas and blanks (so values hold neither).
std::string JoinValues(const TValueStrings &Values);
std::vector<std::string> SplitValues(std::string_view Text);
