// Numeric spin boxes with the fall-back and clamping rules of NumField.h.
#include "app/window/options/NumEdit.h"

#include <QLineEdit>

TNumEdit::TNumEdit(const TNumRange &Range, QWidget *Parent) : QSpinBox(Parent), FRange(Range) {
  setRange(Range.Min, Range.Max);
  setSingleStep(Range.Step);
  setValue(Range.Default);
  setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  setButtonSymbols(QAbstractSpinBox::NoButtons);
  // Left with a value beyond the range, the field takes the nearest bound
  // instead of its previous value.
  setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
  setKeyboardTracking(true);
}

int32_t TNumEdit::IntValue() {
  interpretText();
  return value();
}

QValidator::State TNumEdit::validate(QString &Input, int &) const {
  // Digits, "-" and "." may be typed; anything else is refused outright.
  for (const QChar C : Input)
    if (!C.isDigit() && C != QLatin1Char('-') && C != QLatin1Char('.')) return QValidator::Invalid;
  bool Ok = false;
  const int V = Input.toInt(&Ok);
  return Ok && V >= FRange.Min && V <= FRange.Max ? QValidator::Acceptable : QValidator::Intermediate;
}

void TNumEdit::fixup(QString &Input) const {
  Input = QString::number(NumFieldValue(Input.toStdString(), FRange));
}

int TNumEdit::valueFromText(const QString &Text) const { return NumFieldValue(Text.toStdString(), FRange); }

void TNumEdit::stepBy(int Steps) {
  const int32_t Now = IntValue();
  const int32_t Next = NumFieldStep(Now, Steps, FRange);
  if (Next != Now) setValue(Next);
  selectAll();
}

QAbstractSpinBox::StepEnabled TNumEdit::stepEnabled() const {
  StepEnabled E = StepNone;
  const int32_t V = value();
  if (NumFieldStep(V, 1, FRange) != V) E |= StepUpEnabled;
  if (NumFieldStep(V, -1, FRange) != V) E |= StepDownEnabled;
  return E;
}

TUDNumEdit::TUDNumEdit(const TNumRange &Range, QWidget *Parent) : TNumEdit(Range, Parent) {
  setButtonSymbols(QAbstractSpinBox::UpDownArrows);
}
