// Recursive-descent evaluator of size expressions.
#include "core/SizeExpression.h"

#include "core/Errors.h"

#include <charconv>
#include <cmath>

namespace {

const char *const ExpressionError = "式の評価でエラーが発生しました";

// Deeper nesting than any size needs would only run the stack down.
constexpr int MaxNesting = 200;

class TParser {
public:
  explicit TParser(std::string_view Text) : FText(Text) {}

  double Run() {
    const double v = Expression();
    if (Peek() != ';' || FPos + 1 != FText.size()) Fail();
    return v;
  }

private:
  [[noreturn]] static void Fail() { throw ETessivoError(ExpressionError); }
  char Peek() const { return FPos < FText.size() ? FText[FPos] : '\0'; }
  static double Checked(double v) {
    if (!std::isfinite(v)) Fail();
    return v;
  }

  double Expression() {
    if (++FDepth > MaxNesting) Fail();
    bool negate = false;
    if (Peek() == '+' || Peek() == '-') negate = FText[FPos++] == '-';
    double v = Term();
    if (negate) v = -v;
    while (Peek() == '+' || Peek() == '-') {
      const char op = FText[FPos++];
      const double r = Term();
      v = Checked(op == '+' ? v + r : v - r);
    }
    --FDepth;
    return v;
  }

  double Term() {
    double v = Factor();
    while (Peek() == '*' || Peek() == '/') {
      const char op = FText[FPos++];
      const double r = Factor();
      if (op == '/' && r == 0) Fail();
      v = Checked(op == '*' ? v * r : v / r);
    }
    return v;
  }

  double Factor() {
    if (Peek() == '(') {
      ++FPos;
      const double v = Expression();
      if (Peek() != ')') Fail();
      ++FPos;
      return v;
    }
    return Number();
  }

  double Number() {
    const size_t start = FPos;
    int points = 0, digits = 0;
    while (FPos < FText.size() && ((FText[FPos] >= '0' && FText[FPos] <= '9') || FText[FPos] == '.')) {
      (FText[FPos] == '.' ? points : digits) += 1;
      ++FPos;
    }
    if (digits == 0 || points > 1) Fail();
    // from_chars wants a digit before the point and none after a trailing one.
    std::string run(1, '0');
    run.append(FText.substr(start, FPos - start));
    if (run.back() == '.') run.pop_back();
    double v = 0;
    const auto r = std::from_chars(run.data(), run.data() + run.size(), v, std::chars_format::fixed);
    if (r.ec != std::errc() || r.ptr != run.data() + run.size()) Fail();
    return Checked(v);
  }

  std::string_view FText;
  size_t FPos = 0;
  int FDepth = 0;
};

}  // namespace

bool CheckSizeExpression(std::string &Text) {
  std::string stripped;
  for (char c : Text)
    if (c != ' ') stripped += c;
  Text = stripped;
  for (char c : Text) {
    const bool ok = (c >= '0' && c <= '9') || c == '(' || c == ')' || c == '*' || c == '+' || c == '-' ||
                    c == '.' || c == '/' || c == 'H' || c == 'W' || c == 'h' || c == 'w';
    if (!ok) return false;
  }
  return true;
}

std::string SubstituteSizeVariables(std::string_view Text, int32_t W, int32_t H) {
  const std::string ws = std::to_string(W), hs = std::to_string(H);
  std::string afterW;
  for (char c : Text) {
    if (c == 'w' || c == 'W')
      afterW += ws;
    else
      afterW += c;
  }
  std::string out;
  for (char c : afterW) {
    if (c == 'h' || c == 'H')
      out += hs;
    else
      out += c;
  }
  return out;
}

double EvaluateSizeExpression(std::string_view Text) {
  const std::string marked = std::string(Text) + ";";
  const double v = TParser(marked).Run();
  return v <= 0 ? 0.0 : v;  // also turns -0 into 0
}
