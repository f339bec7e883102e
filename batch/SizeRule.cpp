// Size-rule table, the stored size lists, the history and the resolution of
// the shown rule into the resize step's parameters.
#include "batch/SizeRule.h"

#include "core/Errors.h"
#include "core/IniFile.h"

#include <algorithm>
#include <cmath>

const char *const TSizeRuleHistory::DefaultText = SIZE_RULE_DEFAULT_HISTORY;

bool SizeRuleHasTwoValues(int32_t Rule) { return (Rule >= 5 && Rule <= 8) || (Rule >= 10 && Rule <= 13); }

void ParseSizeList(std::string_view Text, std::array<double, SIZE_RULE_COUNT> &Values, bool Second) {
  const std::vector<std::string> items = SplitCommaText(Text);
  for (int32_t r = 0; r < SIZE_RULE_COUNT; ++r) {
    double v;
    if (size_t(r) < items.size() && TryParseDecimal(items[r], v))
      Values[r] = v;
    else
      Values[r] = Second ? SizeRuleTable[r].Default2 : SizeRuleTable[r].Default1;
  }
}

std::string FormatSizeList(const std::array<double, SIZE_RULE_COUNT> &Values) {
  std::string s;
  for (int32_t r = 0; r < SIZE_RULE_COUNT; ++r) {
    if (r) s += ',';
    s += FloatToIniText(Values[r]);
  }
  return s;
}

std::string DefaultSizeList(bool Second) {
  std::array<double, SIZE_RULE_COUNT> v;
  for (int32_t r = 0; r < SIZE_RULE_COUNT; ++r) v[r] = Second ? SizeRuleTable[r].Default2 : SizeRuleTable[r].Default1;
  return FormatSizeList(v);
}

std::string SizeValueText(double Value) { return FloatToIniText(Value); }

namespace {

// Pads to Width characters (code points, not bytes: the captions are Japanese).
std::string PadRight(const std::string &s, size_t Width) {
  size_t chars = 0;
  for (unsigned char c : s) chars += (c & 0xC0) != 0x80;
  return chars >= Width ? s : s + std::string(Width - chars, ' ');
}

// Splits an entry at its commas into three items.
bool EntryItems(const std::string &Entry, std::vector<std::string> &Items) {
  Items = SplitCommaText(Entry);
  return Items.size() == 3;
}

bool EntryRule(const std::string &Item, int32_t &Rule) {
  double r;
  if (!TryParseDecimal(Item, r) || r != std::floor(r) || r < 0 || r >= SIZE_RULE_COUNT || r == SIZE_RULE_HISTORY)
    return false;
  Rule = int32_t(r);
  return true;
}

}  // namespace

std::string TSizeRuleHistory::DisplayText(const std::string &Entry) {
  std::vector<std::string> items;
  int32_t rule;
  if (!EntryItems(Entry, items) || !EntryRule(items[0], rule)) return Entry;
  std::string s = PadRight(SizeRuleTable[rule].Caption, 15) + " " + items[1];
  if (rule > 4) s += " x " + items[2];
  return s;
}

void TSizeRuleHistory::Assign(std::string_view StoredText) {
  FEntries.clear();
  FItems.clear();
  std::vector<std::string> entries;
  if (!StoredText.empty() && StoredText.front() != '"')
    entries.emplace_back(StoredText);
  else
    entries = SplitCommaText(StoredText);
  for (std::string &e : entries) {
    if (int32_t(FEntries.size()) == SIZE_HISTORY_MAX) break;
    FItems.push_back(DisplayText(e));
    FEntries.push_back(std::move(e));
  }
}

std::string TSizeRuleHistory::Text() const { return JoinCommaText(FEntries, true); }

void TSizeRuleHistory::MoveToTop(int32_t Index) {
  if (Index <= 0 || Index >= Count()) return;
  std::rotate(FEntries.begin(), FEntries.begin() + Index, FEntries.begin() + Index + 1);
  std::rotate(FItems.begin(), FItems.begin() + Index, FItems.begin() + Index + 1);
}

void TSizeRuleHistory::Add(const std::string &Entry) {
  const auto it = std::find(FEntries.begin(), FEntries.end(), Entry);
  if (it != FEntries.end()) {
    MoveToTop(int32_t(it - FEntries.begin()));
    return;
  }
  FEntries.insert(FEntries.begin(), Entry);
  FItems.insert(FItems.begin(), DisplayText(Entry));
  if (Count() > SIZE_HISTORY_MAX) {
    FEntries.resize(SIZE_HISTORY_MAX);
    FItems.resize(SIZE_HISTORY_MAX);
  }
}

TSizeParam TSizeRuleHistory::Split(int32_t Index) const {
  if (Index < 0 || Index >= Count()) throw ETessivoError("サイズの履歴がありません");
  std::vector<std::string> items;
  TSizeParam p;
  if (!EntryItems(FEntries[Index], items) || !EntryRule(items[0], p.Type) || !TryParseDecimal(items[1], p.Value) ||
      !TryParseDecimal(items[2], p.Value2))
    throw ETessivoError("サイズの履歴が正しくありません: " + FEntries[Index]);
  return p;
}

namespace {

int32_t ValidRule(int32_t Rule) { return Rule >= 0 && Rule < SIZE_RULE_COUNT ? Rule : 0; }

}  // namespace

TSizeParam ResolveSizeRule(TSizeRuleFields &Fields, TResizeOption &Option, TSizeRuleHistory &History) {
  if (Fields.ShownRule == SIZE_RULE_HISTORY) {
    const TSizeParam p = History.Split(Fields.HistoryIndex);
    History.MoveToTop(Fields.HistoryIndex);
    Fields.HistoryIndex = 0;
    Option.History = History.Text();
    return p;
  }
  const int32_t r = ValidRule(Fields.ShownRule);
  double v1, v2;
  if (!TryParseDecimal(Fields.Field1, v1)) v1 = Option.Size1[r];
  if (!TryParseDecimal(Fields.Field2, v2)) v2 = Option.Size2[r];
  Fields.Field1 = SizeValueText(v1);
  Fields.Field2 = SizeValueText(v2);
  History.Add(std::to_string(r) + "," + Fields.Field1 + "," + (r <= 4 ? Fields.Field1 : Fields.Field2));
  Option.History = History.Text();
  return {r, v1, v2};
}

TSizeParam ResolveSizeRuleUnattended(const TResizeOption &Option) {
  const int32_t r = ValidRule(Option.Rule);
  if (r == SIZE_RULE_HISTORY) {
    TSizeRuleHistory h;
    h.Assign(Option.History);
    return h.Split(0);
  }
  return {r, Option.Size1[r], Option.Size2[r]};
}

void ChangeShownRule(TSizeRuleFields &Fields, TResizeOption &Option, int32_t NewRule) {
  const int32_t old = Fields.ShownRule;
  if (old >= 0 && old < SIZE_RULE_COUNT && old != SIZE_RULE_HISTORY) {
    double v;
    if (TryParseDecimal(Fields.Field1, v)) Option.Size1[old] = v;
    if (TryParseDecimal(Fields.Field2, v)) Option.Size2[old] = v;
  }
  Fields.ShownRule = ValidRule(NewRule);
  Fields.Field1 = SizeValueText(Option.Size1[Fields.ShownRule]);
  Fields.Field2 = SizeValueText(Option.Size2[Fields.ShownRule]);
  Option.Rule = Fields.ShownRule;
}

void StoreShownFields(const TSizeRuleFields &Fields, TResizeOption &Option) {
  const int32_t r = Fields.ShownRule;
  if (r < 0 || r >= SIZE_RULE_COUNT || r == SIZE_RULE_HISTORY) return;
  double v;
  Option.Size1[r] = TryParseDecimal(Fields.Field1, v) ? v : SizeRuleTable[r].Default1;
  Option.Size2[r] = TryParseDecimal(Fields.Field2, v) ? v : SizeRuleTable[r].Default2;
  Option.Rule = r;
}
