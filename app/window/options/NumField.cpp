// Numeric field values: parse, fall back, clamp.
#include "app/window/options/NumField.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <string>

namespace {

// Only what a numeric field lets one type counts as a number: "1e3", "0x10"
// or " 5" are not, although strtod would take them.
bool IsDecimalText(std::string_view Text) {
  size_t i = 0;
  if (i < Text.size() && Text[i] == '-') ++i;
  bool Digit = false, Point = false;
  for (; i < Text.size(); ++i) {
    const char C = Text[i];
    if (std::isdigit(static_cast<unsigned char>(C))) {
      Digit = true;
    } else if (C == '.' && !Point) {
      Point = true;
    } else {
      return false;
    }
  }
  return Digit;
}

}  // namespace

int32_t NumFieldValue(std::string_view Text, const TNumRange &Range) {
  double V = Range.Default;
  if (IsDecimalText(Text)) V = std::strtod(std::string(Text).c_str(), nullptr);
  V = std::clamp(V, double(Range.Min), double(Range.Max));
  return int32_t(std::trunc(V));
}

int32_t NumFieldStep(int32_t Value, int32_t Steps, const TNumRange &Range) {
  const int64_t Next = int64_t(Value) + int64_t(Steps) * Range.Step;
  return Next < Range.Min || Next > Range.Max ? Value : int32_t(Next);
}
