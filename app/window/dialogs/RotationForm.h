// The rotation dialog "回転の設定": which images are turned ("全て画像を対象に
// する", "横長画像のみ", "縦長画像のみ") and the operation list, with the
// turned picture in the preview window. Thin over TRotationFilter.
#pragma once

#include "app/window/dialogs/SyncPreview.h"
#include "app/window/preview/PreviewBaseForm.h"
#include "effects/RotationFilter.h"

class QButtonGroup;
class QListWidget;

class TRotationForm : public TPreviewBaseForm {
  Q_OBJECT
public:
  TRotationForm(TRotationFilter &Effect, const TPreviewContext &Ctx, QWidget *Parent = nullptr);
  ~TRotationForm() override;

  void PreviewClosed() override {}
  uint32_t GetEffectID() const override { return EFFECT_ROTATION; }
  // The dialog has no "プレビュー" box: the window shows while it is open.
  bool IsPreviewEnabled() const override { return true; }
  void RequestPreview() override;
  void accept() override;

  QButtonGroup *TypeGroup = nullptr;  // FType 0 to 2
  QListWidget *OperationList = nullptr;

private:
  TRotationFilter &FEffect;
  TSyncPreview FPreview;
};
