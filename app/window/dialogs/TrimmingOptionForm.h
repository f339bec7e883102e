// The trimming dialog "トリミング設定": the value type and condition lists,
// the landscape and portrait fields, "プレビュー", and the presets of the
// selection ("追加", "削除"). The preview window shows the source with the
// selection rectangle of the field that applies to it; dragging a selection
// writes the field back. Thin over TTrimmingFilter.
#pragma once

#include "app/window/dialogs/DialogWidgets.h"
#include "app/window/preview/PreviewBaseForm.h"
#include "effects/TrimmingFilter.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

class TTrimmingOptionForm : public TPreviewBaseForm {
  Q_OBJECT
public:
  TTrimmingOptionForm(TTrimmingFilter &Effect, const TPreviewContext &Ctx, QWidget *Parent = nullptr);
  ~TTrimmingOptionForm() override;

  void PreviewClosed() override;
  uint32_t GetEffectID() const override { return EFFECT_TRIMMING; }
  bool IsPreviewEnabled() const override;
  // No computation: the source is shown, with the selection of the field.
  void RequestPreview() override;
  void accept() override;

  // The field whose values apply to the preview picture (the landscape one
  // without a picture).
  QLineEdit *ActiveField() const;
  // A selection dragged in the preview window (picture pixels, top-down).
  void SelectionChanged(const QRect &R);
  // "追加" with the text the user typed; false when it is no ratio.
  bool AddPreset(const QString &Text);
  // "削除" of the selected preset (never the first).
  void DeletePreset();
  std::vector<std::string> Presets() const;

  // Asks for a ratio ("アスペクト比を入力してください", title "追加"); replaced in tests.
  std::function<std::optional<QString>(const QString &Default)> AskRatio;

  QComboBox *TypeBox = nullptr;
  QComboBox *ExpBox = nullptr;
  QLabel *LandscapeLabel = nullptr, *PortraitLabel = nullptr;
  QLineEdit *LandscapeEdit = nullptr, *PortraitEdit = nullptr;
  QCheckBox *PreviewCheck = nullptr;
  QListWidget *PresetList = nullptr;
  QPushButton *AddButton = nullptr, *DeleteButton = nullptr;

private:
  void PresetSelected();
  // The picture size the fields are evaluated with.
  void CheckSize(int32_t &w, int32_t &h) const;
  TTrimmingFilter &FEffect;
  TValueFieldRows FRows;
  bool FWritingBack = false;
};
