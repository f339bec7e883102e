// The lens correction's settings dialog "歪み補正": the tool, the source's
// projection, angle of view and attitude, the result's projection, angle and
// size expressions. The rules (values, the OK checks and their messages,
// the copy back) are GUI-free in effects/DeDistortionForm.h; this window
// moves values between them and its controls.
#pragma once

#include "effects/DeDistortionForm.h"

#include <QDialog>

class QComboBox;
class QDoubleSpinBox;
class QLineEdit;
class QRadioButton;

class TDeDistortionForm : public QDialog {
  Q_OBJECT
public:
  // Copies the effect's values into the controls.
  TDeDistortionForm(TDeDistortionFilter &Effect, QWidget *Parent = nullptr);

  // OK: the checks in their order; the first failure shows a warning box
  // titled "Error" and the dialog stays open. Otherwise the values go into
  // the effect and the dialog closes.
  void accept() override;

  QComboBox *ModeBox;
  QRadioButton *PTStitcherButton, *DeDistortionButton;
  QComboBox *SrcProjectionBox;
  QDoubleSpinBox *SrcHFOVEdit, *RollEdit, *PitchEdit, *YawEdit;
  QComboBox *DestProjectionBox;
  QDoubleSpinBox *DestHFOVEdit;
  QLineEdit *WidthEdit, *HeightEdit;

private:
  TDeDistortionFormValues FromControls() const;

  TDeDistortionFilter &FEffect;
};

// Opens the dialog modally over Parent; answers whether OK stored the values.
bool ShowDeDistortionForm(TDeDistortionFilter &Effect, QWidget *Parent);
