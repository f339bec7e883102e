// What the lossless-JPEG tests share: the steps part of the parameter block
// as a default effect chain writes it.
#pragma once

#include "effects/Effect.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace losslesstest {

// The steps of a default chain after Edit has changed its members.
inline std::vector<uint8_t> StepsOf(const std::function<void(TEffectList &)> &Edit) {
  TEffectList list;
  CreateDefaultEffects(list, "");
  if (Edit) Edit(list);
  std::vector<uint8_t> s;
  list.WriteParamToStream(s);
  return s;
}

inline std::vector<uint8_t> DefaultSteps() { return StepsOf(nullptr); }

}  // namespace losslesstest
