// Field texts, checks and selection write-back of the trimming and margin dialogs.
#include "app/window/dialogs/SizeFieldRules.h"

#include "core/SizeExpression.h"

#include <charconv>
#include <numeric>

namespace {

std::vector<std::string> SplitAt(std::string_view Text, char Sep) {
  std::vector<std::string> items;
  size_t start = 0;
  for (;;) {
    const size_t at = Text.find(Sep, start);
    items.emplace_back(Text.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start));
    if (at == std::string_view::npos) return items;
    start = at + 1;
  }
}

bool Evaluates(const std::string &Value, int32_t w, int32_t h) {
  try {
    EvaluateSizeExpression(SubstituteSizeVariables(Value, w, h));
    return true;
  } catch (...) {
    return false;
  }
}

// "%.2f" whatever the process locale says the decimal separator is.
std::string Fixed2(double V) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, V, std::chars_format::fixed, 2);
  return std::string(buf, r.ptr);
}

}  // namespace

std::string FieldText(const TValueStrings &Values, size_t First, TFieldForm Form) {
  const std::string *v = &Values[First];
  switch (Form) {
    case TFieldForm::Plain: return v[0] + "," + v[1] + "," + v[2] + "," + v[3];
    case TFieldForm::TrimAspect: return v[0] + ":" + v[1] + "," + v[2] + "," + v[3];
    case TFieldForm::MarginAspect:
      if (v[2] == "-1" && v[3] == "-1") return v[0] + ":" + v[1];
      return v[0] + ":" + v[1] + "," + v[2] + "," + v[3];
  }
  return {};
}

std::optional<TFieldValues> ParseField(std::string_view Text, TFieldForm Form, int32_t w, int32_t h) {
  std::vector<std::string> items = SplitAt(Text, ',');
  if (Form != TFieldForm::Plain) {
    if (Form == TFieldForm::MarginAspect && items.size() == 1) items.insert(items.end(), {"-1", "-1"});
    if (items.size() != 3) return std::nullopt;
    std::vector<std::string> ratio = SplitAt(items[0], ':');
    if (ratio.size() != 2) return std::nullopt;
    items = {ratio[0], ratio[1], items[1], items[2]};
  }
  if (items.size() != 4) return std::nullopt;
  TFieldValues out;
  for (size_t i = 0; i < 4; ++i) {
    if (!CheckSizeExpression(items[i]) || !Evaluates(items[i], w, h)) return std::nullopt;
    out[i] = items[i];
  }
  return out;
}

const char *TrimmingTypeDefaultText(int32_t Type) {
  switch (Type) {
    case 0: return "0,0,W,H";
    case 3: return "1:1,50,50";
    default: return "0,0,0,0";
  }
}

std::optional<TTrimRect> TrimmingFieldRect(int32_t Type, const TFieldValues &Values, int32_t w, int32_t h) {
  TValueSet q;
  try {
    for (size_t i = 0; i < 4; ++i) q[i] = EvaluateSizeExpression(SubstituteSizeVariables(Values[i], w, h));
  } catch (...) {
    return std::nullopt;
  }
  const TTrimRect r = TrimmingRect(Type, q, w, h);
  if (r.W < 1 || r.H < 1) return std::nullopt;
  return r;
}

std::string TrimmingSelectionText(int32_t Type, const TTrimRect &R, int32_t w, int32_t h) {
  if (R.W < 1 || R.H < 1 || w < 1 || h < 1) return {};
  const int32_t right = w - R.L - R.W, bottom = h - R.T - R.H;
  const auto ints = [](int32_t a, int32_t b, int32_t c, int32_t d) {
    return std::to_string(a) + "," + std::to_string(b) + "," + std::to_string(c) + "," + std::to_string(d);
  };
  switch (Type) {
    case 0: return ints(R.L, R.T, R.W, R.H);
    case 1: return ints(R.L, R.T, right, bottom);
    case 2:
      return Fixed2(100.0 * R.L / w) + "," + Fixed2(100.0 * R.T / h) + "," + Fixed2(100.0 * right / w) + "," +
             Fixed2(100.0 * bottom / h);
    case 3: {
      if (R.W != w && R.H != h) return {};
      const int32_t g = std::gcd(R.W, R.H);
      // Along a side the rectangle fills there is no room to place it; it
      // reads as centred there.
      const double x = w > R.W ? 100.0 * R.L / (w - R.W) : 50.0;
      const double y = h > R.H ? 100.0 * R.T / (h - R.H) : 50.0;
      return std::to_string(R.W / g) + ":" + std::to_string(R.H / g) + "," + Fixed2(x) + "," + Fixed2(y);
    }
    default: return {};
  }
}

std::vector<std::string> SizePresetItems(std::string_view SizeList) {
  std::vector<std::string> items{FREE_SIZE_PRESET};
  std::vector<std::string> stored = SplitValues(SizeList);
  for (size_t i = 0; i < stored.size(); ++i) {
    if (i == 0 && stored[i] == FREE_SIZE_PRESET) continue;
    if (ParseAspectPreset(stored[i])) items.push_back(stored[i]);
  }
  return items;
}

std::string SizePresetListText(const std::vector<std::string> &Items) {
  std::string s;
  for (size_t i = 0; i < Items.size(); ++i) s += (i ? "," : "") + Items[i];
  return s;
}

std::optional<std::string> ParseAspectPreset(std::string_view Text) {
  std::string t;
  for (char c : Text)
    if (c != ' ' && c != '\t') t += c;
  const std::vector<std::string> parts = SplitAt(t, ':');
  if (parts.size() != 2) return std::nullopt;
  int32_t v[2];
  for (int i = 0; i < 2; ++i) {
    const std::string &p = parts[size_t(i)];
    const auto r = std::from_chars(p.data(), p.data() + p.size(), v[i]);
    if (p.empty() || r.ec != std::errc() || r.ptr != p.data() + p.size() || v[i] <= 0) return std::nullopt;
  }
  return std::to_string(v[0]) + ":" + std::to_string(v[1]);
}

std::array<int32_t, 2> PresetSelectSize(std::string_view Item) {
  const std::optional<std::string> p = ParseAspectPreset(Item);
  if (!p) return {0, 0};
  const size_t colon = p->find(':');
  return {std::stoi(p->substr(0, colon)), std::stoi(p->substr(colon + 1))};
}
