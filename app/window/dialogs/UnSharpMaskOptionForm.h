// The unsharp-mask dialog "アンシャープマスク設定": strengths, radius,
// threshold and limits, the linear-light, luminance-only and Lab switches,
// with a threaded preview that sharpens the preview copy as the step would.
// Thin over TUSMFilter: its values are copied in on opening and back on OK
// only, and OK hands them to the program-wide unsharp-mask engine.
#pragma once

#include "app/window/preview/PreviewBaseForm.h"

#include <cstdint>

class QCheckBox;
class QDoubleSpinBox;
class QSpinBox;
class TUSMFilter;

inline constexpr const char *USM_FORM_CAPTION = "アンシャープマスク設定";

// The values the dialog edits, as the effect holds them.
struct TUSMFormValues {
  int32_t Highlight = 100, Shadow = 100;
  double Radius = 1.0;
  int32_t Threshold = 0, Max = 0, Min = 0;
  bool Degamma = false, LumaOnly = true, Lab = false, Preview = true, Histogram = true;

  static TUSMFormValues Of(const TUSMFilter &E);
  void StoreTo(TUSMFilter &E) const;
};

class TUnSharpMaskOptionForm : public TPreviewBaseForm {
  Q_OBJECT
public:
  TUnSharpMaskOptionForm(TUSMFilter &Effect, const TPreviewContext &Ctx, QWidget *Parent = nullptr);
  ~TUnSharpMaskOptionForm() override;

  void PreviewClosed() override;
  uint32_t GetEffectID() const override;
  bool IsPreviewEnabled() const override;
  bool IsHistogramEnabled() const override;
  TPreviewStep MakePreviewStep() const override;

  // The controls as they are now.
  TUSMFormValues Values() const;

  QSpinBox *HighlightEdit = nullptr;   // "適用量(+)"
  QSpinBox *ShadowEdit = nullptr;      // "適用量(-)"
  QDoubleSpinBox *RadiusEdit = nullptr;  // "半径"
  QSpinBox *ThresholdEdit = nullptr;   // "閾値"
  QSpinBox *MaxEdit = nullptr;         // "上限"
  QSpinBox *MinEdit = nullptr;         // "下限"
  QCheckBox *DegammaCheck = nullptr;   // "リニアな色空間で処理する"
  QCheckBox *LumaOnlyCheck = nullptr;  // "輝度チャンネルのみ"
  QCheckBox *LabCheck = nullptr;       // "Lab"
  QCheckBox *PreviewCheck = nullptr;   // "プレビュー"
  QCheckBox *HistogramCheck = nullptr; // "ヒストグラム"

  void accept() override;

private:
  void Changed();
  TUSMFilter &FEffect;
};
