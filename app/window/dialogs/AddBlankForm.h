// The margins dialog "余白追加": value type and condition lists, the
// landscape and portrait fields, the margin colour (a corner's or a fixed
// one with its opacity), three frames, the drop shadow and "プレビュー";
// the preview is computed at once, since the picture's size changes. Thin
// over TAddBlankFilter.
#pragma once

#include "app/window/dialogs/ColorChoice.h"
#include "app/window/dialogs/DialogWidgets.h"
#include "app/window/dialogs/SyncPreview.h"
#include "app/window/preview/PreviewBaseForm.h"
#include "effects/AddBlankFilter.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QSpinBox;

class TAddBlankForm : public TPreviewBaseForm {
  Q_OBJECT
public:
  TAddBlankForm(TAddBlankFilter &Effect, const TPreviewContext &Ctx, QWidget *Parent = nullptr);
  ~TAddBlankForm() override;

  void PreviewClosed() override;
  uint32_t GetEffectID() const override { return EFFECT_ADD_BLANK; }
  bool IsPreviewEnabled() const override;
  void RequestPreview() override;
  void accept() override;

  // The record as the controls hold it; the values are those of the fields
  // only when both read (else the effect's).
  TAddBlankParam Param() const;

  QComboBox *TypeBox = nullptr, *ExpBox = nullptr;
  QLabel *LandscapeLabel = nullptr, *PortraitLabel = nullptr;
  QLineEdit *LandscapeEdit = nullptr, *PortraitEdit = nullptr;
  QComboBox *ColorBox = nullptr;     // "左上の色" ... "固定色"
  TColorButton *ColorButton = nullptr;  // "設定..."
  QSpinBox *Opacity = nullptr;       // 0 to 255
  QCheckBox *UseFrame[3] = {};       // "外", "中", "内"
  TColorButton *FrameColor[3] = {};
  QSpinBox *FrameWidth[3] = {};
  QGroupBox *ShadowGroup = nullptr;  // "ドロップシャドウ"
  TColorButton *ShadowColor = nullptr;
  QSpinBox *ShadowOpacity = nullptr; // "不透明度"
  QDoubleSpinBox *ShadowRadius = nullptr;  // "ぼかし半径"
  QSpinBox *ShadowStr = nullptr;     // "強さ"
  QSpinBox *ShadowOffsetX = nullptr, *ShadowOffsetY = nullptr;
  QCheckBox *PreviewCheck = nullptr;

private:
  void ConditionChanged();
  TAddBlankFilter &FEffect;
  TValueFieldRows FRows;
  TColorChoice FColors;  // the custom colours, stored on OK
  TSyncPreview FPreview;
};
