// Control-point editing of the tone-curve dialog.
#include "app/window/dialogs/CurveEditRules.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <string>

namespace {

int32_t Clamp255(int32_t V) { return std::clamp(V, 0, 255); }

bool ReadInt(std::string_view Text, int32_t &V) {
  while (!Text.empty() && Text.front() == ' ') Text.remove_prefix(1);
  while (!Text.empty() && Text.back() == ' ') Text.remove_suffix(1);
  const auto r = std::from_chars(Text.data(), Text.data() + Text.size(), V);
  return !Text.empty() && r.ec == std::errc() && r.ptr == Text.data() + Text.size();
}

}  // namespace

int32_t TCurveEditor::Nearest(int32_t X) const {
  int32_t best = -1;
  int32_t bestDistance = 0;
  for (size_t i = 0; i < FPoints.size(); ++i) {
    const int32_t d = std::abs(FPoints[i].X - X);
    if (best < 0 || d < bestDistance) best = int32_t(i), bestDistance = d;
  }
  return best;
}

int32_t TCurveEditor::Press(int32_t X, int32_t Y) {
  X = Clamp255(X), Y = Clamp255(Y);
  const int32_t n = Nearest(X);
  if (n >= 0 && std::abs(FPoints[size_t(n)].X - X) <= CURVE_GRAB_DISTANCE) return FGrabbed = n;
  const auto at = std::find_if(FPoints.begin(), FPoints.end(), [X](const TCurvePoint &P) { return P.X > X; });
  FGrabbed = int32_t(at - FPoints.begin());
  FPoints.insert(at, TCurvePoint{X, Y});
  return FGrabbed;
}

void TCurveEditor::Drag(int32_t X, int32_t Y) {
  if (FGrabbed < 0 || size_t(FGrabbed) >= FPoints.size()) return;
  X = Clamp255(X), Y = Clamp255(Y);
  const size_t i = size_t(FGrabbed);
  const bool hasLeft = i > 0, hasRight = i + 1 < FPoints.size();
  const bool pastLeft = hasLeft && X <= FPoints[i - 1].X;
  const bool pastRight = hasRight && X >= FPoints[i + 1].X;
  if (pastLeft || pastRight) {
    // A curve needs two points; the last two only stop at each other.
    if (FPoints.size() > 2) {
      FPoints.erase(FPoints.begin() + std::ptrdiff_t(i));
      FGrabbed = -1;
      return;
    }
    X = pastLeft ? FPoints[i - 1].X + 1 : FPoints[i + 1].X - 1;
  }
  FPoints[i] = {X, Y};
}

bool TCurveEditor::SetPointText(int32_t Index, std::string_view Text) {
  if (Index < 0 || size_t(Index) >= FPoints.size()) return false;
  const size_t comma = Text.find(',');
  if (comma == std::string_view::npos) return false;
  int32_t x, y;
  if (!ReadInt(Text.substr(0, comma), x) || !ReadInt(Text.substr(comma + 1), y)) return false;
  const size_t i = size_t(Index);
  const int32_t lo = i > 0 ? FPoints[i - 1].X + 1 : 0;
  const int32_t hi = i + 1 < FPoints.size() ? FPoints[i + 1].X - 1 : 255;
  if (x < lo || x > hi || y < 0 || y > 255) return false;
  FPoints[i] = {x, y};
  return true;
}

std::string CurvePointText(const TCurvePoint &P) { return std::to_string(P.X) + "," + std::to_string(P.Y); }
