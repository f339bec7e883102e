// Gamma scroll mapping and shown grayscale weights.
#include "app/window/dialogs/ToneFormRules.h"

#include <algorithm>
#include <cmath>

double GammaFromScroll(int32_t Position) { return Position < 0 ? 1 + 0.004 * Position : 1 + 0.01 * Position; }

int32_t ScrollFromGamma(double Gamma) {
  const double steps = Gamma < 1 ? (Gamma - 1) / 0.004 : (Gamma - 1) / 0.01;
  // 1.29 - 1 is a hair below 0.29 in binary; a typed value on a step must
  // land on that step, not the one before.
  const double nudged = steps + std::copysign(1e-9, steps);
  return int32_t(std::clamp(std::trunc(nudged), double(GAMMA_SCROLL_MIN), double(GAMMA_SCROLL_MAX)));
}

std::array<int32_t, 3> ShownGrayWeights(int32_t Type, const std::array<int32_t, 3> &Custom) {
  switch (Type) {
    case 0: return {2990, 5870, 1140};
    case 1: return {2125, 7154, 721};
    default: return Custom;
  }
}
