// Size rules: the 14 ways a target size is named, their captions, units and
// default values, the history of rules used, and how the rule shown in the
// main window (or the stored one, for an unattended run) becomes the resize
// step's parameters.
#pragma once

#include "batch/ConvertOption.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

constexpr int32_t SIZE_RULE_HISTORY = 9;   // the rule that shows the history list
constexpr int32_t SIZE_HISTORY_MAX = 10;   // entries kept, newest first

// Rules 5 to 8 and 10 to 13 take two values; 0 to 4 the first only.
bool SizeRuleHasTwoValues(int32_t Rule);

// The stored "Size1" / "Size2": one number per rule, comma separated; an
// item that is missing or does not parse takes the rule's default.
void ParseSizeList(std::string_view Text, std::array<double, SIZE_RULE_COUNT> &Values, bool Second);
std::string FormatSizeList(const std::array<double, SIZE_RULE_COUNT> &Values);
// The settings-file defaults of "Size1" and "Size2".
std::string DefaultSizeList(bool Second);

// What the resize step is given (TEffectList.SetResizeParam).
struct TSizeParam {
  int32_t Type = 0;
  double Value = 0;
  double Value2 = 0;
  bool operator==(const TSizeParam &) const = default;
};

// The history as the main window keeps it: entries "rule,value1,value2"
// with the values exactly as they stood in the fields, and the parallel
// display texts of the drop-down list.
class TSizeRuleHistory {
public:
  // The stored comma text; a text that does not begin with a double quote
  // is a single entry. Keeps at most SIZE_HISTORY_MAX entries.
  void Assign(std::string_view StoredText);
  // Every entry in double quotes, comma separated.
  std::string Text() const;
  const std::vector<std::string> &Entries() const { return FEntries; }
  const std::vector<std::string> &Items() const { return FItems; }
  int32_t Count() const { return int32_t(FEntries.size()); }

  // Puts Entry at the top: moved there when present, else inserted (and the
  // eleventh dropped).
  void Add(const std::string &Entry);
  void MoveToTop(int32_t Index);
  // The rule and values of entry Index. Raises ETessivoError for an entry
  // that does not read as a rule (0 to 13 except 9) and two numbers.
  TSizeParam Split(int32_t Index) const;

  // "%-15s %s" (rules 0 to 4) or "%-15s %s x %s", the caption padded to 15
  // characters; an entry that does not read as a rule is shown as it is.
  static std::string DisplayText(const std::string &Entry);
  static const char *const DefaultText;  // "8,640,480" and "0,50,50", quoted

private:
  std::vector<std::string> FEntries;
  std::vector<std::string> FItems;
};

// The part of the main window the size rule lives in.
struct TSizeRuleFields {
  int32_t ShownRule = 0;     // the rule list's selection
  std::string Field1;        // the two edit fields as typed
  std::string Field2;
  int32_t HistoryIndex = 0;  // selection of the history list (rule 9)
};

// Before every batch and preview: resolves the shown rule into the resize
// step's parameters, writes parsed fields back in their shortest decimal
// form, and moves or inserts the history entry (Option.History follows).
TSizeParam ResolveSizeRule(TSizeRuleFields &Fields, TResizeOption &Option, TSizeRuleHistory &History);
// An unattended run: the stored rule, or the first history entry for rule 9.
TSizeParam ResolveSizeRuleUnattended(const TResizeOption &Option);

// The user picks another rule: the fields of the old rule (unless it was 9)
// are kept in Size1/Size2 (a field that does not parse keeps the stored
// value), then the new rule's stored values are shown.
void ChangeShownRule(TSizeRuleFields &Fields, TResizeOption &Option, int32_t NewRule);
// Saving the settings: the shown fields are stored, a field that does not
// parse taking the rule's default.
void StoreShownFields(const TSizeRuleFields &Fields, TResizeOption &Option);
// The text a number is shown with in a field.
std::string SizeValueText(double Value);
