// The tone-curve dialog "トーンカーブの設定": six curves edited on the grid
// (channel list "RGB", "R", "G", "B", "Y", "CbCr"), the point list with typed
// coordinates, presets from the tone-curve folder, the two resets, Lab mode,
// the histogram preferences and the threaded preview. Thin over
// TToneCurveEffect: its curves are copied in on opening and back on OK.
#pragma once

#include "app/window/preview/PreviewBaseForm.h"
#include "effects/ToneCurve.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;
class TCurveGrid;

class TToneCurveOptionForm : public TPreviewBaseForm {
  Q_OBJECT
public:
  TToneCurveOptionForm(TToneCurveEffect &Effect, const TPreviewContext &Ctx, QWidget *Parent = nullptr);
  ~TToneCurveOptionForm() override;

  void PreviewClosed() override;
  uint32_t GetEffectID() const override { return EFFECT_TONE_CURVE; }
  bool IsPreviewEnabled() const override;
  bool IsHistogramEnabled() const override;
  TPreviewStep MakePreviewStep() const override;
  void accept() override;

  // The curves being edited (the effect keeps its own until OK).
  const TCurveSet &Curves() const { return FCurves; }
  int32_t CurrentCurve() const;
  // Selects a curve of the channel list.
  void SelectCurve(int32_t Curve);
  // The grid and the point list changed the current curve.
  void CurveChanged();
  // The coordinate input of point Index ("X,Y"); false when it was ignored.
  bool EnterPoint(int32_t Index, const QString &Text);

  // The folder the presets live in (default: the user's "ToneCurve/").
  void SetPresetFolder(const std::string &Folder);
  // Picks preset item Index (0: the curves the dialog opened with).
  void ChoosePreset(int32_t Index);
  // Saves all six curves as Name ".txt" in the preset folder and lists it.
  bool SavePresetAs(const std::string &Name);

  // Asks for a point's coordinates; replaced in tests.
  std::function<std::optional<QString>(const QString &Current)> AskPoint;
  // Asks for the name of a preset file to save; replaced in tests.
  std::function<std::optional<std::string>()> AskPresetName;
  // Shows a message about a preset file; replaced in tests.
  std::function<void(const QString &Text)> ShowMessage;

  QComboBox *ChannelBox = nullptr;
  TCurveGrid *Grid = nullptr;
  QLabel *PositionLabel = nullptr;       // "x=%d,y=%d"
  QListWidget *PointList = nullptr;
  QComboBox *PresetBox = nullptr;
  QPushButton *SaveButton = nullptr;     // "保存"
  QPushButton *ResetButton = nullptr;    // "リセット": the current curve
  QPushButton *ResetAllButton = nullptr; // "リセット": every curve
  QCheckBox *LabCheck = nullptr;         // "Lab"
  QCheckBox *HistogramCheck = nullptr;   // "ヒストグラム"
  QComboBox *ScaleBox = nullptr;         // "線形", "対数"
  QCheckBox *PreviewCheck = nullptr;     // "プレビュー"

private:
  void FillPointList();
  void FillPresets();
  TToneCurveEffect &FEffect;
  TCurveSet FCurves;
  const TCurveSet FOpened;  // what preset item 0 restores
  std::string FPresetFolder;
  std::vector<std::string> FPresetNames;
};
