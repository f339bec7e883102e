// The combining settings in the settings file and the dialog's rules.
#include "batch/CombineOption.h"

#include "core/IniFile.h"

#include <algorithm>
#include <charconv>

TCombineOption CombineOption;

namespace {

constexpr const char *SECTION = "Combine";

// A whole number typed into an edit, blanks around it allowed.
bool ParseWhole(const std::string &Text, int32_t &Value) {
  size_t b = Text.find_first_not_of(" \t");
  size_t e = Text.find_last_not_of(" \t");
  if (b == std::string::npos) return false;
  const char *first = Text.data() + b, *last = Text.data() + e + 1;
  if (*first == '+') ++first;
  const auto r = std::from_chars(first, last, Value);
  return r.ec == std::errc() && r.ptr == last;
}

std::string RangeFault(const char *Label, const std::string &Text, int32_t Lo, int32_t Hi) {
  int32_t v = 0;
  if (ParseWhole(Text, v) && v >= Lo && v <= Hi) return {};
  return std::string(Label) + ": " + std::to_string(Lo) + " to " + std::to_string(Hi);
}

int32_t ValueOf(const std::string &Text) {
  int32_t v = 0;
  ParseWhole(Text, v);
  return v;
}

}  // namespace

void ReadCombineOption(const TMemIniFile &Ini, TCombineOption &Option) {
  const TCombineOption d;
  const auto In = [&Ini](const char *Key, int32_t Default, int32_t Lo, int32_t Hi) {
    return std::clamp(Ini.ReadInteger(SECTION, Key, Default), Lo, Hi);
  };
  Option.Width = In("Width", d.Width, COMBINE_SIZE_MIN, COMBINE_SIZE_MAX);
  Option.Height = In("Height", d.Height, COMBINE_SIZE_MIN, COMBINE_SIZE_MAX);
  Option.Percent = In("Percent", d.Percent, COMBINE_SIZE_MIN, COMBINE_SIZE_MAX);
  Option.Order = In("Order", d.Order, 0, 1);
  Option.Rows = In("Rows", d.Rows, COMBINE_COUNT_MIN, COMBINE_COUNT_MAX);
  Option.Columns = In("Columns", d.Columns, COMBINE_COUNT_MIN, COMBINE_COUNT_MAX);
  Option.RowSpace = In("RowSpace", d.RowSpace, COMBINE_SPACE_MIN, COMBINE_SPACE_MAX);
  Option.ColumnSpace = In("ColumnSpace", d.ColumnSpace, COMBINE_SPACE_MIN, COMBINE_SPACE_MAX);
  Option.BackgroundColor = uint32_t(Ini.ReadInteger(SECTION, "BackgroundColor", int32_t(d.BackgroundColor))) & 0xFFFFFF;
  Option.RelativeSize = In("RelativeSize", d.RelativeSize, 0, 1);
  const int32_t Blank = Ini.ReadInteger(SECTION, "BlankType", -1);
  // Settings written before the fill-and-crop layout existed had only the
  // switch between margins and gapless packing.
  Option.BlankType = Blank == -1 ? (Ini.ReadBool(SECTION, "FillBlank", true) ? BLANK_GAPLESS : BLANK_FIT)
                                 : std::clamp(Blank, int32_t(BLANK_FIT), int32_t(BLANK_GAPLESS));
}

void WriteCombineOption(TMemIniFile &Ini, const TCombineOption &Option) {
  Ini.WriteInteger(SECTION, "Width", Option.Width);
  Ini.WriteInteger(SECTION, "Height", Option.Height);
  Ini.WriteInteger(SECTION, "Percent", Option.Percent);
  Ini.WriteInteger(SECTION, "Order", Option.Order);
  Ini.WriteInteger(SECTION, "Rows", Option.Rows);
  Ini.WriteInteger(SECTION, "Columns", Option.Columns);
  Ini.WriteInteger(SECTION, "RowSpace", Option.RowSpace);
  Ini.WriteInteger(SECTION, "ColumnSpace", Option.ColumnSpace);
  Ini.WriteInteger(SECTION, "BackgroundColor", int32_t(Option.BackgroundColor & 0xFFFFFF));
  Ini.WriteInteger(SECTION, "RelativeSize", Option.RelativeSize);
  Ini.WriteInteger(SECTION, "BlankType", Option.BlankType);
}

TCombineOptionForm::TCombineOptionForm(const TCombineOption &Option)
    : Order(Option.Order), BlankType(Option.BlankType), RelativeSize(Option.RelativeSize),
      SecondEdit(std::to_string(Option.Height)), RowsEdit(std::to_string(Option.Rows)),
      ColumnsEdit(std::to_string(Option.Columns)), RowSpaceEdit(std::to_string(Option.RowSpace)),
      ColumnSpaceEdit(std::to_string(Option.ColumnSpace)), Color(Option.BackgroundColor),
      FWidthText(std::to_string(Option.Width)), FPercentText(std::to_string(Option.Percent)) {
  FirstEdit = RelativeSize == 1 ? FPercentText : FWidthText;
}

void TCombineOptionForm::SetRelativeSize(int32_t Index) {
  Index = Index == 1 ? 1 : 0;
  if (Index == RelativeSize) return;
  (RelativeSize == 1 ? FPercentText : FWidthText) = FirstEdit;
  RelativeSize = Index;
  FirstEdit = RelativeSize == 1 ? FPercentText : FWidthText;
}

std::string TCombineOptionForm::FirstEditLabel() const { return RelativeSize == 1 ? "倍率" : "幅"; }
std::string TCombineOptionForm::FirstEditUnit() const { return RelativeSize == 1 ? "%" : "px"; }
bool TCombineOptionForm::SecondEditVisible() const { return RelativeSize != 1; }

std::string TCombineOptionForm::Check() const {
  const std::string Width = RelativeSize == 1 ? FWidthText : FirstEdit;
  const std::string Percent = RelativeSize == 1 ? FirstEdit : FPercentText;
  for (std::string Fault : {RangeFault("幅", Width, COMBINE_SIZE_MIN, COMBINE_SIZE_MAX),
                            RangeFault("高さ", SecondEdit, COMBINE_SIZE_MIN, COMBINE_SIZE_MAX),
                            RangeFault("倍率", Percent, COMBINE_SIZE_MIN, COMBINE_SIZE_MAX),
                            RangeFault("横", RowsEdit, COMBINE_COUNT_MIN, COMBINE_COUNT_MAX),
                            RangeFault("縦", ColumnsEdit, COMBINE_COUNT_MIN, COMBINE_COUNT_MAX),
                            RangeFault("間隔 (横)", RowSpaceEdit, COMBINE_SPACE_MIN, COMBINE_SPACE_MAX),
                            RangeFault("間隔 (縦)", ColumnSpaceEdit, COMBINE_SPACE_MIN, COMBINE_SPACE_MAX)})
    if (!Fault.empty()) return Fault;
  if (Order < 0 || Order > 1) return "連結方法: 0 to 1";
  if (BlankType < BLANK_FIT || BlankType > BLANK_GAPLESS) return "余白: 0 to 2";
  return {};
}

bool TCombineOptionForm::StoreTo(TCombineOption &Option) const {
  if (!Check().empty()) return false;
  Option.Order = Order;
  Option.BlankType = BlankType;
  Option.RelativeSize = RelativeSize;
  Option.Width = ValueOf(RelativeSize == 1 ? FWidthText : FirstEdit);
  Option.Percent = ValueOf(RelativeSize == 1 ? FirstEdit : FPercentText);
  Option.Height = ValueOf(SecondEdit);
  Option.Rows = ValueOf(RowsEdit);
  Option.Columns = ValueOf(ColumnsEdit);
  Option.RowSpace = ValueOf(RowSpaceEdit);
  Option.ColumnSpace = ValueOf(ColumnSpaceEdit);
  Option.BackgroundColor = Color & 0xFFFFFF;
  return true;
}
