// The grayscale dialog "グレースケール化": the type list, linear light, the
// custom weights (shown for the fixed types, editable for "カスタム"), the
// reduction to a number of gray levels or to a custom palette edited in the
// colour dialog, and the threaded preview. Thin over TGrayscaleFilter.
#pragma once

#include "app/window/preview/PreviewBaseForm.h"
#include "effects/GrayscaleFilter.h"

#include <array>
#include <functional>
#include <optional>

class QCheckBox;
class QComboBox;
class QPushButton;
class QSpinBox;
class TScrollField;

class TGrayscaleForm : public TPreviewBaseForm {
  Q_OBJECT
public:
  TGrayscaleForm(TGrayscaleFilter &Effect, const TPreviewContext &Ctx, QWidget *Parent = nullptr);
  ~TGrayscaleForm() override;

  void PreviewClosed() override;
  uint32_t GetEffectID() const override { return EFFECT_GRAYSCALE; }
  bool IsPreviewEnabled() const override;
  bool IsHistogramEnabled() const override;
  TPreviewStep MakePreviewStep() const override;
  void accept() override;

  // "パレットの編集": the sixteen colours the colour dialog hands back become
  // gray levels from their red parts, ascending, and the custom palette.
  void EditPalette();
  const std::array<int32_t, 16> &Palette() const { return FPalette; }

  // The colour dialog's custom colours after the user closed it; none when
  // cancelled. Replaced in tests.
  std::function<std::optional<std::array<QColor, 16>>(const std::array<QColor, 16> &Current)> AskPalette;

  QComboBox *TypeBox = nullptr;          // "ITU-R BT.601", "ITU-R BT.709", "カスタム"(, "Lab")
  QCheckBox *DegammaCheck = nullptr;     // "リニアな色空間で処理する"
  TScrollField *Red = nullptr, *Green = nullptr, *Blue = nullptr;
  QCheckBox *DecreaseCheck = nullptr;    // "減色する"
  QSpinBox *ColorCount = nullptr;        // "色数"
  QCheckBox *CustomPaletteCheck = nullptr;  // "カスタムパレットを使用"
  QPushButton *PaletteButton = nullptr;  // "パレットの編集"
  QCheckBox *PreviewCheck = nullptr;
  QCheckBox *HistogramCheck = nullptr;

private:
  void TypeChanged();
  void FillFromEffectCopy(TGrayscaleFilter &E) const;
  TGrayscaleFilter &FEffect;
  std::array<int32_t, 3> FCustom;  // the custom weights, kept while a fixed type shows its own
  std::array<int32_t, 16> FPalette;
  bool FShowingFixed = false;
};
