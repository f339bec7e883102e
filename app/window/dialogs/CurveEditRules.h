// Editing one tone curve's control points with the mouse and by typed
// coordinates, without the window: the point nearest the mouse in X, a press
// that grabs that point or inserts a new one, dragging (onto or past a
// neighbour's X removes the point), and the "X,Y" input of the point list.
// Coordinates are the curve's own, 0 to 255 with Y counted upward.
#pragma once

#include "effects/ToneCurve.h"

#include <cstdint>
#include <string_view>

// A press farther than this in X from the nearest point inserts a new one.
inline constexpr int32_t CURVE_GRAB_DISTANCE = 10;

class TCurveEditor {
public:
  explicit TCurveEditor(TCurvePoints &Points) : FPoints(Points) {}

  // The point nearest in X (the first of two equally near); -1 for no points.
  int32_t Nearest(int32_t X) const;
  // Grabs the nearest point, or inserts (X, Y) in X order when the nearest
  // is farther than CURVE_GRAB_DISTANCE in X; answers the grabbed index.
  int32_t Press(int32_t X, int32_t Y);
  // Moves the grabbed point to (X, Y), each kept within 0 to 255. Onto or
  // past a neighbour's X the point is removed and nothing stays grabbed,
  // unless only two points remain: then it stops one short of the neighbour.
  void Drag(int32_t X, int32_t Y);
  void Release() { FGrabbed = -1; }
  int32_t Grabbed() const { return FGrabbed; }

  // "X,Y" for point Index: X strictly between the neighbours' X (the first
  // point down to 0, the last up to 255), Y from 0 to 255; anything else is
  // ignored and answers false.
  bool SetPointText(int32_t Index, std::string_view Text);

private:
  TCurvePoints &FPoints;
  int32_t FGrabbed = -1;
};

// The point list's line for a point, "x,y".
std::string CurvePointText(const TCurvePoint &P);
