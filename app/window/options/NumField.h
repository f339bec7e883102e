// How a numeric field of the option dialogs reads its text, without a
// window: the number typed, the field's default when the text is no number,
// always brought into the field's range. The spin boxes of NumEdit.h use it.
#pragma once

#include <cstdint>
#include <string_view>

struct TNumRange {
  int32_t Min;
  int32_t Max;
  int32_t Step;     // what Up and Down add or subtract
  int32_t Default;  // taken when the text is no number
};

// The value of Text: a decimal number (an optional "-", digits, at most one
// "."), else Default; clamped to Min..Max and truncated toward zero.
int32_t NumFieldValue(std::string_view Text, const TNumRange &Range);

// Up (Steps > 0) or Down: the value moves by Steps x Step only when the
// result stays in the range; otherwise it stays where it is.
int32_t NumFieldStep(int32_t Value, int32_t Steps, const TNumRange &Range);
