// The lossless tool's ICC profile revision: instead of changing the pixels,
// the colour-adjustment or tone-curve step is folded into the profile's tone
// curves, each rebuilt as a 4096-entry table.
#pragma once

#include "lossless/WembOption.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// Entries of a revision curve and of the rebuilt tone curves.
inline constexpr size_t ICC_REVISION_ENTRIES = 4096;

// A revision curve: ICC_REVISION_ENTRIES values 0..4095.
using TRevisionCurve = std::vector<uint16_t>;

// The curves of the block's colour-adjustment (Mode 1) or tone-curve (Mode 2)
// step for red, green, blue and gray, in that order.
std::array<TRevisionCurve, 4> WembRevisionCurves(const TWembParam &Param, int32_t Mode);

// The profile with its tone curves rebuilt: for i = 0..4095,
// new(i) = old(i x 65535 / 4095) x c(i) / 4095 in integers. Profile is the
// working profile (may be empty); when it cannot be read or lacks the tone
// curves a picture of its kind needs (red, green and blue, or gray), the
// built-in sRGB or gray profile is revised instead. The description becomes
// "Custom RGB" or "Custom Grayscale", the copyright "No copyright, use
// freely". Nothing when Little CMS cannot build or save the profile.
std::optional<std::vector<uint8_t>> ReviseICCProfile(std::span<const uint8_t> Profile, bool Gray,
                                                     const std::array<TRevisionCurve, 4> &Curves);
