// The rules of the trimming and margin dialogs without their windows: how
// the four values of a landscape or portrait set are typed into one field
// and read back, the OK check of a field, where the trimming's selection
// rectangle lies for a set of values and what a dragged rectangle writes
// into the field, and the list of fixed aspect ratios for the selection.
#pragma once

#include "effects/SizeValues.h"
#include "effects/TrimmingFilter.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr const char *SIZE_FIELD_ERROR_TITLE = "Error";
inline constexpr const char *SIZE_FIELD_ERROR = "入力されたパラメータの評価でエラーが発生しました";
inline constexpr const char *FREE_SIZE_PRESET = "フリーサイズ";

// The image size fields are checked with when no preview image is loaded.
inline constexpr int32_t SIZE_FIELD_CHECK_DEFAULT = 1000;

// How a field spells its four values.
enum class TFieldForm {
  Plain,          // "a,b,c,d"
  TrimAspect,     // "q0:q1,q2,q3" (trimming by aspect ratio)
  MarginAspect,   // "q0:q1" or "q0:q1,x,y"; the ratio alone means "-1" for both positions
};

using TFieldValues = std::array<std::string, 4>;

// The field text of values First to First + 3.
std::string FieldText(const TValueStrings &Values, size_t First, TFieldForm Form);
// The four values of a field, each with its blanks removed and passing
// CheckSizeExpression and evaluating with the image size w x h; none when
// the field has the wrong shape or any value fails.
std::optional<TFieldValues> ParseField(std::string_view Text, TFieldForm Form, int32_t w, int32_t h);

// What choosing a trimming value type writes into both fields.
const char *TrimmingTypeDefaultText(int32_t Type);
inline TFieldForm TrimmingFieldForm(int32_t Type) { return Type == 3 ? TFieldForm::TrimAspect : TFieldForm::Plain; }
inline TFieldForm MarginFieldForm(int32_t BlankType) {
  return BlankType == 0 ? TFieldForm::MarginAspect : TFieldForm::Plain;
}

// The crop rectangle of trimming type Type for a field's values on a w x h
// image; none when a value does not evaluate or the rectangle is empty.
std::optional<TTrimRect> TrimmingFieldRect(int32_t Type, const TFieldValues &Values, int32_t w, int32_t h);
// What a selection R dragged on a w x h image writes into the field of
// trimming type Type: "%d,%d,%d,%d" (x, y, width, height, or the insets),
// "%.2f,%.2f,%.2f,%.2f" (insets in percent), or "%d:%d,%.2f,%.2f" (the
// ratio reduced by the greatest common divisor and the two positions) when
// the rectangle spans the full width or height. Empty when nothing is to be
// written (an empty rectangle, or an aspect selection spanning neither).
std::string TrimmingSelectionText(int32_t Type, const TTrimRect &R, int32_t w, int32_t h);

// The presets of the selection, "フリーサイズ" first whatever the stored text holds.
std::vector<std::string> SizePresetItems(std::string_view SizeList);
std::string SizePresetListText(const std::vector<std::string> &Items);
// "a:b" with two positive integers, written back without blanks or leading
// zeros; none otherwise.
std::optional<std::string> ParseAspectPreset(std::string_view Text);
// The aspect a preset fixes (cx, cy); 0 x 0 for "フリーサイズ" and anything unreadable.
std::array<int32_t, 2> PresetSelectSize(std::string_view Item);
