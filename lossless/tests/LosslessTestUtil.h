// What the lossless-JPEG tests share: the steps part of the parameter block
// as a default effect chain writes it.
#pragma once

#include "effects/Effect.h"

#include <cstdint>
#include <vector>

namespace losslesstest {

inline std::vector<uint8_t> DefaultSteps() {
  TEffectList list;
  CreateDefaultEffects(list, "");
  std::vector<uint8_t> s;
  list.WriteParamToStream(s);
  return s;
}

}  // namespace losslesstest
