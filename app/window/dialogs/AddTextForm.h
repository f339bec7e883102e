// The text overlay's dialog "文字入れ": the text with its placeholders, the
// anchor and offsets, the font and colours with their opacities, margins,
// line pitch, drop shadow and glow. The preview window shows the selected
// list entry with the text drawn over it, and the text block can be dragged
// there to change X and Y. The dialog is thin over the effect's record: it
// copies the record into its controls when it opens and back only on OK.
#pragma once

#include "app/window/dialogs/BlockDrag.h"
#include "app/window/dialogs/ColorChoice.h"
#include "effects/AddTextEffect.h"

#include <memory>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class TFontCache;
class TEngineSet;

// What the text of one list entry is expanded from: its names, number and date.
struct TTextEntryInfo {
  std::string InFileName, OutFileName;
  int32_t Number = 0;
  double Time = 0;
  void Into(TEffectParams &Params) const;
};

class TAddTextForm : public TBlockPreviewForm {
  Q_OBJECT
public:
  TAddTextForm(TAddTextEffect &Effect, const TPreviewContext &Ctx, QWidget *Parent = nullptr);
  ~TAddTextForm() override;

  void LoadPreviewImage() override;
  uint32_t GetEffectID() const override { return EFFECT_ADD_TEXT; }
  // Draws the text as the controls say; on the visible rectangle alone in
  // zoomed views, at the place it has on the whole picture.
  TPreviewStep MakePreviewStep() const override;

  // OK: the values go into the effect, the custom colours into the settings.
  void accept() override;

  // A new effect record holding the controls' values (the copy OK stores).
  std::unique_ptr<TAddTextEffect> Values() const;

  QPlainTextEdit *TextEdit;
  QComboBox *PositionBox;
  QSpinBox *XEdit, *YEdit;
  QPushButton *FontButton;
  QLabel *FontLabel;
  TColorButton *FontColorButton;
  QSpinBox *FontOpacityEdit;
  TColorButton *BackColorButton;
  QSpinBox *BackOpacityEdit;
  QSpinBox *MarginXEdit, *MarginYEdit;
  QDoubleSpinBox *LinePitchEdit;
  QGroupBox *ShadowBox;
  TColorButton *ShadowColorButton;
  QSpinBox *ShadowOpacityEdit;
  QDoubleSpinBox *ShadowRadiusEdit;
  QSpinBox *ShadowOffsetXEdit, *ShadowOffsetYEdit, *ShadowStrEdit;
  QGroupBox *GlowBox;
  TColorButton *GlowColorButton;
  QSpinBox *GlowOpacityEdit;
  QDoubleSpinBox *GlowRadiusEdit;
  QSpinBox *GlowStrEdit;

  // The font the controls hold (the font dialog edits it).
  TFont Font;
  // The text block on the previewed picture (rows from the top), as dragged.
  QRect TextBlock() const { return FDrag.Block(); }

private:
  void ShowFont();
  void ChooseFont();
  // A value changed: the block is placed anew and the preview recomputed.
  void ValuesChanged();
  void PlaceBlock();

  TAddTextEffect &FEffect;
  TColorChoice FColors;
  TTextEntryInfo FEntry;
  // The block is measured on the GUI thread with engines of its own.
  std::unique_ptr<TEngineSet> FEngines;
  std::shared_ptr<TFontCache> FFontCache;
};
