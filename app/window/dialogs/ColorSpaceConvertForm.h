// The colour-space conversion dialog "色空間変換の設定": the output profile
// from the gray and RGB profiles of the colour folders (or a file chosen
// with "..."), the rendering intent, the alpha switch, and a threaded
// preview that converts the preview copy as the step would. Thin over
// TColorSpaceConvertEffect; the list rules live beside the effect.
#pragma once

#include "app/window/preview/PreviewBaseForm.h"
#include "effects/ColorSpaceConvertEffect.h"

#include <functional>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QPushButton;

inline constexpr const char *CSC_FORM_CAPTION = "色空間変換の設定";

class TColorSpaceConvertForm : public TPreviewBaseForm {
  Q_OBJECT
public:
  TColorSpaceConvertForm(TColorSpaceConvertEffect &Effect, const TPreviewContext &Ctx, QWidget *Parent = nullptr);
  ~TColorSpaceConvertForm() override;

  void PreviewClosed() override;
  uint32_t GetEffectID() const override;
  bool IsPreviewEnabled() const override;
  bool IsHistogramEnabled() const override;
  TPreviewStep MakePreviewStep() const override;

  // What "..." does with a chosen file (selects or appends it, or warns).
  void ChooseFile(const std::string &Path);
  // The path of the selected profile.
  std::string SelectedProfile() const;
  const std::vector<TProfileChoice> &Choices() const { return FChoices; }
  // The folder "..." opens next (stored into ColorProfileDir on OK).
  const std::string &ProfileDir() const { return FProfileDir; }

  // Asks for a profile file in Folder (empty answer: cancelled); a file
  // dialog unless a test puts its own answer here.
  std::function<std::string(const std::string &Folder)> AskProfileFile;
  // Shows the warning for a profile of another class (a message box unless replaced).
  std::function<void(const std::string &Text)> ShowWarning;

  QComboBox *ProfileBox = nullptr;      // "出力色空間"
  QPushButton *BrowseButton = nullptr;  // "..."
  QComboBox *IntentBox = nullptr;       // "レンダリングインテント"
  QCheckBox *RemoveAlphaCheck = nullptr;  // "αチャンネルを除去する"
  QCheckBox *PreviewCheck = nullptr;    // "プレビュー"
  QCheckBox *HistogramCheck = nullptr;  // "ヒストグラム"

  void accept() override;

private:
  void FillProfiles(size_t Selected);
  TColorSpaceConvertEffect &FEffect;
  std::vector<TProfileChoice> FChoices;
  std::string FProfileDir;
};
