// Colour choice with the shared custom colours.
#include "app/window/dialogs/ColorChoice.h"

#include <QColorDialog>

#include <algorithm>

QColor ColorOfColorRef(uint32_t C) { return QColor(int(C & 0xFF), int((C >> 8) & 0xFF), int((C >> 16) & 0xFF)); }

uint32_t ColorRefOfColor(const QColor &C) {
  return uint32_t(C.red()) | uint32_t(C.green()) << 8 | uint32_t(C.blue()) << 16;
}

TColorChoice::TColorChoice(TPalette &Palette) : FPalette(Palette), FPending(Palette) {}

bool TColorChoice::Choose(QWidget *Parent, int32_t &Color) {
  // The custom colours are one set for every colour dialog of the process.
  const int n = std::min<int>(QColorDialog::customCount(), int(FPending.size()));
  for (int i = 0; i < n; ++i) QColorDialog::setCustomColor(i, ColorOfColorRef(uint32_t(FPending[size_t(i)])));
  QColorDialog Dialog(ColorOfColorRef(uint32_t(Color)), Parent);
  const bool chosen = Dialog.exec() == QDialog::Accepted;
  // Custom colours edited in the dialog are kept even when it was cancelled,
  // as the colour dialog itself keeps them; they reach the settings on OK.
  for (int i = 0; i < n; ++i) FPending[size_t(i)] = int32_t(ColorRefOfColor(QColorDialog::customColor(i)));
  if (chosen) Color = int32_t(ColorRefOfColor(Dialog.selectedColor()));
  return chosen;
}

void TColorChoice::Commit() { FPalette = FPending; }

TColorButton::TColorButton(TColorChoice &Choice, QWidget *Parent) : QPushButton(Parent), FChoice(Choice) {
  setFixedSize(48, 22);
  connect(this, &QPushButton::clicked, this, [this] {
    int32_t c = FColor;
    if (FChoice.Choose(this, c)) {
      SetColor(c);
      emit ColorChanged(FColor);
    }
  });
  SetColor(0);
}

void TColorButton::SetColor(int32_t Color) {
  FColor = Color;
  setStyleSheet(QStringLiteral("background-color: %1; border: 1px solid #808080").arg(ColorOfColorRef(uint32_t(FColor)).name()));
}
