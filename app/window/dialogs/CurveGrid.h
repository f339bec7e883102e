// The tone-curve dialog's grid editor: one curve on a 256 x 256 grid inside
// a 2-pixel border, its control points, the point nearest the mouse in X
// highlighted; a press grabs that point or inserts one, dragging moves it
// and dragging onto or past a neighbour removes it (CurveEditRules.h).
#pragma once

#include "effects/ToneCurve.h"

#include <QWidget>

#include <functional>
#include <memory>

class TCurveEditor;

class TCurveGrid : public QWidget {
  Q_OBJECT
public:
  static constexpr int Border = 2;
  static constexpr int GridSize = 256;

  explicit TCurveGrid(QWidget *Parent = nullptr);
  ~TCurveGrid() override;
  // The curve edited in place; null shows nothing.
  void SetCurve(TCurvePoints *Points);
  // The curve's point under a widget position, Y counted upward.
  static QPoint CurvePointAt(QPoint Widget);
  static QPoint WidgetPointOf(int X, int Y);

  std::function<void()> OnChanged;                 // a point was added, moved or removed
  std::function<void(int X, int Y)> OnMouseAt;     // "x=%d,y=%d" of the point under the mouse
  int Highlighted() const { return FHighlighted; }

protected:
  void paintEvent(QPaintEvent *E) override;
  void mousePressEvent(QMouseEvent *E) override;
  void mouseMoveEvent(QMouseEvent *E) override;
  void mouseReleaseEvent(QMouseEvent *E) override;

private:
  TCurvePoints *FPoints = nullptr;
  std::unique_ptr<TCurveEditor> FEditor;
  int FHighlighted = -1;
};
