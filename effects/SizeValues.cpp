// Value sets of the trimming and margin steps.
#include "effects/SizeValues.h"

#include "core/SizeExpression.h"

#include <climits>
#include <cmath>

int32_t RoundSize(double x) {
  const double r = std::trunc(x + 0.5);
  if (std::isnan(r)) return 0;
  if (r <= double(INT32_MIN)) return INT32_MIN;
  if (r >= double(INT32_MAX)) return INT32_MAX;
  return int32_t(r);
}

bool UsesLandscapeValues(int32_t Condition, int64_t w, int64_t h) {
  return Condition == 2 || h < w || (h == w && Condition == 0);
}

TValueSet EvaluateValueSet(const TValueStrings &Values, int32_t Condition, int32_t w, int32_t h) {
  const size_t first = UsesLandscapeValues(Condition, w, h) ? 0 : 4;
  TValueSet q;
  for (size_t i = 0; i < 4; ++i) q[i] = EvaluateSizeExpression(SubstituteSizeVariables(Values[first + i], w, h));
  return q;
}

std::string JoinValues(const TValueStrings &Values) {
  std::string s;
  for (size_t i = 0; i < Values.size(); ++i) s += (i ? "," : "") + Values[i];
  return s;
}

std::vector<std::string> SplitValues(std::string_view Text) {
  std::vector<std::string> items;
  std::string cur;
  bool pending = false;  // a comma promised another item
  for (char c : Text) {
    if (c == ',' || c == ' ' || c == '\t') {
      if (!cur.empty() || c == ',') items.push_back(cur), pending = c == ',';
      cur.clear();
      continue;
    }
    cur += c;
    pending = false;
  }
  if (!cur.empty() || pending) items.push_back(cur);
  return items;
}
