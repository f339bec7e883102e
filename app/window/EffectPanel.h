// One effect's panel in the main window's column: a check box that switches
// the effect, its name, and a "設定" button. A panel (the colour reduction's
// excepted) is dragged with the left button to change the processing order;
// TPanelDrag decides when it trades places with a neighbour.
#pragma once

#include "app/window/WindowRules.h"

#include <QFrame>

#include <functional>
#include <optional>

class QCheckBox;
class QLabel;
class QPushButton;

class TEffectPanel : public QFrame {
  Q_OBJECT
public:
  TEffectPanel(const QString &Name, int Index, bool Checked, bool Draggable, QWidget *Parent);

  int Index() const { return FIndex; }
  void SetIndex(int Index) { FIndex = Index; }
  // Where the panel belongs when nothing drags it.
  void Snap() { move(1, FIndex * EFFECT_PANEL_HEIGHT); }

  QCheckBox *FCheckBox = nullptr;
  QPushButton *FButton = nullptr;
  QLabel *FCaption = nullptr;

  // Asked of the column: the panel at Index trades places with the one at
  // Index + Step (the effect list follows).
  std::function<void(TEffectPanel &Panel, int Step)> OnSwap;
  std::function<void(TEffectPanel &Panel, bool Checked)> OnCheck;
  std::function<void(TEffectPanel &Panel)> OnSettings;
  // Number of panels in the column (the drag's limit).
  std::function<int()> PanelCount;

protected:
  void mousePressEvent(QMouseEvent *E) override;
  void mouseMoveEvent(QMouseEvent *E) override;
  void mouseReleaseEvent(QMouseEvent *E) override;
  void resizeEvent(QResizeEvent *E) override;

private:
  int FIndex;
  bool FDraggable;
  int SX = 0, SY = 0;  // mouse position (global y) and top at drag start
  std::optional<TPanelDrag> FDrag;
};
