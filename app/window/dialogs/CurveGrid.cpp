// Drawing and mouse handling of the tone-curve grid.
#include "app/window/dialogs/CurveGrid.h"

#include "app/window/dialogs/CurveEditRules.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

TCurveGrid::TCurveGrid(QWidget *Parent) : QWidget(Parent) {
  setFixedSize(GridSize + 2 * Border, GridSize + 2 * Border);
  setMouseTracking(true);
  setCursor(Qt::CrossCursor);
}

TCurveGrid::~TCurveGrid() = default;

void TCurveGrid::SetCurve(TCurvePoints *Points) {
  FPoints = Points;
  FEditor = Points ? std::make_unique<TCurveEditor>(*Points) : nullptr;
  FHighlighted = -1;
  update();
}

QPoint TCurveGrid::CurvePointAt(QPoint Widget) {
  return {Widget.x() - Border, GridSize - 1 - (Widget.y() - Border)};
}

QPoint TCurveGrid::WidgetPointOf(int X, int Y) { return {X + Border, GridSize - 1 - Y + Border}; }

void TCurveGrid::paintEvent(QPaintEvent *) {
  QPainter P(this);
  P.fillRect(rect(), QColor(0x40, 0x40, 0x40));
  P.fillRect(Border, Border, GridSize, GridSize, Qt::white);
  P.setPen(QColor(0xD0, 0xD0, 0xD0));
  for (int i = 1; i < 4; ++i) {
    const int at = Border + i * GridSize / 4;
    P.drawLine(at, Border, at, Border + GridSize - 1);
    P.drawLine(Border, at, Border + GridSize - 1, at);
  }
  P.setPen(QColor(0xE8, 0xE8, 0xE8));
  P.drawLine(WidgetPointOf(0, 0), WidgetPointOf(255, 255));
  if (!FPoints || FPoints->size() < 2) return;
  // The curve as the effect evaluates it, one sample per column.
  const TCurveEvaluator Curve(*FPoints);
  QPainterPath Path;
  for (int x = 0; x < GridSize; ++x) {
    const double y = std::clamp(Curve.Value(x), 0.0, 255.0);
    const QPointF At(x + Border + 0.5, GridSize - 1 - y + Border + 0.5);
    if (x == 0) Path.moveTo(At);
    else Path.lineTo(At);
  }
  P.setRenderHint(QPainter::Antialiasing);
  P.setPen(QPen(Qt::black, 1.2));
  P.drawPath(Path);
  P.setRenderHint(QPainter::Antialiasing, false);
  for (size_t i = 0; i < FPoints->size(); ++i) {
    const QPoint At = WidgetPointOf((*FPoints)[i].X, (*FPoints)[i].Y);
    const bool hot = int(i) == FHighlighted;
    P.setPen(hot ? Qt::red : Qt::black);
    P.setBrush(hot ? QColor(Qt::red) : QColor(Qt::white));
    P.drawRect(At.x() - 3, At.y() - 3, 6, 6);
  }
}

void TCurveGrid::mousePressEvent(QMouseEvent *E) {
  if (!FEditor || E->button() != Qt::LeftButton) return;
  const QPoint C = CurvePointAt(E->position().toPoint());
  const size_t before = FPoints->size();
  FHighlighted = FEditor->Press(C.x(), C.y());
  update();
  if (FPoints->size() != before && OnChanged) OnChanged();
}

void TCurveGrid::mouseMoveEvent(QMouseEvent *E) {
  if (!FEditor) return;
  const QPoint C = CurvePointAt(E->position().toPoint());
  if (OnMouseAt) OnMouseAt(std::clamp(C.x(), 0, 255), std::clamp(C.y(), 0, 255));
  if (FEditor->Grabbed() >= 0 && (E->buttons() & Qt::LeftButton)) {
    FEditor->Drag(C.x(), C.y());
    FHighlighted = FEditor->Grabbed();
    update();
    if (OnChanged) OnChanged();
    return;
  }
  const int n = FEditor->Nearest(std::clamp(C.x(), 0, 255));
  if (n != FHighlighted) FHighlighted = n, update();
}

void TCurveGrid::mouseReleaseEvent(QMouseEvent *) {
  if (FEditor) FEditor->Release();
}
