// Colour choice in the settings dialogs: every colour dialog opens with the
// 16 custom colours of TSystemOption.CustomPalette, and the custom colours
// it ends with are stored back only when the calling dialog's own OK is
// pressed, so they follow the user from dialog to dialog and are saved with
// the settings. TColorButton is the swatch button that opens it.
#pragma once

#include <QColor>
#include <QPushButton>

#include <array>
#include <cstdint>

// 0x00BBGGRR and back.
QColor ColorOfColorRef(uint32_t C);
uint32_t ColorRefOfColor(const QColor &C);

class TColorChoice {
public:
  using TPalette = std::array<int32_t, 16>;
  // Palette is the stored custom colours (TSystemOption.CustomPalette).
  explicit TColorChoice(TPalette &Palette);

  // Opens the colour dialog on Color (0x00BBGGRR) with the custom colours
  // as this dialog left them; answers whether a colour was chosen.
  bool Choose(QWidget *Parent, int32_t &Color);
  // The calling dialog's OK: the custom colours go into the stored palette.
  void Commit();
  const TPalette &Pending() const { return FPending; }

private:
  TPalette &FPalette;
  TPalette FPending;
};

// A button showing a colour; a click opens the colour choice.
class TColorButton : public QPushButton {
  Q_OBJECT
public:
  TColorButton(TColorChoice &Choice, QWidget *Parent = nullptr);
  int32_t Color() const { return FColor; }
  void SetColor(int32_t Color);

signals:
  void ColorChanged(int32_t Color);

private:
  TColorChoice &FChoice;
  int32_t FColor = 0;
};
