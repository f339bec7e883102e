// The effect panels of the main window.
#include "app/window/EffectPanel.h"

#include <QCheckBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>

TEffectPanel::TEffectPanel(const QString &Name, int Index, bool Checked, bool Draggable, QWidget *Parent)
    : QFrame(Parent), FIndex(Index), FDraggable(Draggable) {
  setFrameShape(QFrame::NoFrame);
  setAutoFillBackground(true);
  setFixedHeight(EFFECT_PANEL_HEIGHT);
  FCheckBox = new QCheckBox(this);
  FCheckBox->setGeometry(4, 4, 16, 18);
  FCheckBox->setChecked(Checked);
  // The name starts where five spaces after the check box would end; it is
  // placed rather than padded, since a space takes the width of whichever
  // font draws the name (Latin and Japanese names would not line up).
  FCaption = new QLabel(Name, this);
  FCaption->setAttribute(Qt::WA_TransparentForMouseEvents);
  FCaption->move(24, 0);
  FCaption->setFixedHeight(EFFECT_PANEL_HEIGHT);
  FButton = new QPushButton(QStringLiteral("設定"), this);
  FButton->setFixedSize(40, 23);
  FCheckBox->raise();
  connect(FCheckBox, &QCheckBox::toggled, this, [this](bool On) {
    if (OnCheck) OnCheck(*this, On);
  });
  connect(FButton, &QPushButton::clicked, this, [this] {
    if (OnSettings) OnSettings(*this);
  });
}

void TEffectPanel::resizeEvent(QResizeEvent *E) {
  QFrame::resizeEvent(E);
  FButton->move(width() - 2 - FButton->width(), 2);
  FCaption->setFixedWidth(std::max(0, FButton->x() - FCaption->x()));
}

void TEffectPanel::mousePressEvent(QMouseEvent *E) {
  if (!FDraggable || E->button() != Qt::LeftButton) return QFrame::mousePressEvent(E);
  SX = int(E->globalPosition().y());
  SY = y();
  FDrag.emplace(FIndex, PanelCount ? PanelCount() : FIndex + 1);
  setCursor(Qt::OpenHandCursor);
  raise();
}

void TEffectPanel::mouseMoveEvent(QMouseEvent *E) {
  if (!FDrag) return QFrame::mouseMoveEvent(E);
  const int Dy = int(E->globalPosition().y()) - SX;
  // A fast drag may pass several panels; each trade moves one slot.
  for (int Step = FDrag->MoveTo(SY, Dy), Guard = 0; Step != 0 && Guard < 64;
       Step = FDrag->MoveTo(SY, Dy), ++Guard)
    if (OnSwap) OnSwap(*this, Step);
  move(1, FDrag->Top());
}

void TEffectPanel::mouseReleaseEvent(QMouseEvent *E) {
  if (!FDrag) return QFrame::mouseReleaseEvent(E);
  FDrag.reset();
  Snap();
  unsetCursor();
}
