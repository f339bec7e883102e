// The colour-correction dialog "色調補正": seven scroll bars with their
// fields (luma range, chroma, hue, contrast, the two gammas), "リセット",
// "プレビュー" and "ヒストグラム", with the threaded preview. Thin over
// TColorAdjust: copied in on opening, back on OK (then its tables).
#pragma once

#include "app/window/preview/PreviewBaseForm.h"
#include "effects/ColorAdjust.h"

class QCheckBox;
class QPushButton;
class TScrollField;

class TColorCorrectionForm : public TPreviewBaseForm {
  Q_OBJECT
public:
  TColorCorrectionForm(TColorAdjust &Effect, const TPreviewContext &Ctx, QWidget *Parent = nullptr);
  ~TColorCorrectionForm() override;

  void PreviewClosed() override;
  uint32_t GetEffectID() const override { return EFFECT_COLOR_ADJUST; }
  bool IsPreviewEnabled() const override;
  bool IsHistogramEnabled() const override;
  TPreviewStep MakePreviewStep() const override;
  void accept() override;

  // The values the controls hold now.
  TColorAdjustValues Values() const;

  // In the order of the effect's fields: "輝度(Min)", "輝度(Max)", "彩度",
  // "色合い", "コントラスト", "ガンマ(RGB)", "ガンマ(Y)".
  TScrollField *LumaMin = nullptr, *LumaMax = nullptr, *Chroma = nullptr, *Hue = nullptr, *Contrast = nullptr;
  TScrollField *RGBGamma = nullptr, *YGamma = nullptr;
  QPushButton *ResetButton = nullptr;
  QCheckBox *PreviewCheck = nullptr;
  QCheckBox *HistogramCheck = nullptr;

private:
  void SetValues(const TColorAdjustValues &V);
  TColorAdjust &FEffect;
};
