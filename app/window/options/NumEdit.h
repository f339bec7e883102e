// The numeric fields of the option dialogs: TNumEdit, a right-aligned spin
// box whose Up and Down keys step, and TUDNumEdit, the same with up-down
// buttons. A text that is no number becomes the field's default when the
// field is left or read, a number beyond the range its nearest bound, and a
// step that would leave the range does nothing (NumField.h).
#pragma once

#include "app/window/options/NumField.h"

#include <QSpinBox>

class TNumEdit : public QSpinBox {
  Q_OBJECT
public:
  TNumEdit(const TNumRange &Range, QWidget *Parent = nullptr);

  // The value of the text as it stands (the field is brought up to date).
  int32_t IntValue();
  const TNumRange &Range() const { return FRange; }

  QValidator::State validate(QString &Input, int &Pos) const override;
  void fixup(QString &Input) const override;
  void stepBy(int Steps) override;

protected:
  int valueFromText(const QString &Text) const override;
  StepEnabled stepEnabled() const override;

private:
  TNumRange FRange;
};

class TUDNumEdit : public TNumEdit {
  Q_OBJECT
public:
  TUDNumEdit(const TNumRange &Range, QWidget *Parent = nullptr);
};
