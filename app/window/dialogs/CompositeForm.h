// The image composite's dialog "画像合成の設定": the two modes, the image
// file with "参照...", the anchor, X, Y and "不透明度". The preview window
// shows the selected list entry with the file laid on it, and the overlay
// (in "背景画像" mode the picture over the file) can be dragged there to
// change X and Y. Thin over the effect's record: copied in when it opens,
// back only on OK, after which the effect loads its image.
#pragma once

#include "app/window/dialogs/BlockDrag.h"
#include "effects/CompositeEffect.h"

#include <memory>
#include <string>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;

class TCompositeForm : public TBlockPreviewForm {
  Q_OBJECT
public:
  TCompositeForm(TCompositeEffect &Effect, const TPreviewContext &Ctx, QWidget *Parent = nullptr);
  ~TCompositeForm() override;

  void LoadPreviewImage() override;
  uint32_t GetEffectID() const override { return EFFECT_COMPOSITE; }
  // Lays the dialog's image as the controls say; nothing while none is read.
  TPreviewStep MakePreviewStep() const override;

  // OK: the values go into the effect, which then loads its image.
  void accept() override;

  // The controls' values as the effect's settings.
  TCompositeSettings Settings() const;
  std::string FileName() const;

  QRadioButton *ForegroundButton, *BackgroundButton;
  QLineEdit *FileEdit;
  QPushButton *BrowseButton;
  QLabel *FileMessage;
  QComboBox *PositionBox;
  QSpinBox *XEdit, *YEdit, *OpacityEdit;

  // The dragged block on the shown picture (rows from the top).
  QRect OverlayBlock() const { return FDrag.Block(); }

private:
  void ValuesChanged();
  // Reads the named file for the preview when it is another one.
  void LoadOverlay();
  void PlaceBlock();

  TCompositeEffect &FEffect;
  std::string FOverlayName;
  std::shared_ptr<const TICCImgOwner> FOverlay;
};
