// The levels dialog "レベル補正": a channel list, the input histogram with
// its slider strip (black, midtone, white) and the output strip (black,
// white), the five fields, the automatic modes with their clipping, the
// switches, and the presets. It edits a working copy of the effect's
// settings and copies it back only on OK.
#pragma once

#include "app/window/preview/PreviewBaseForm.h"
#include "effects/Levels.h"

#include <memory>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QPushButton;
class QSpinBox;
class TLevelsStrip;

// Copies the settings of the levels (not the switch or the order).
void CopyLevelsSettings(const TLevelsAdjust &From, TLevelsAdjust &To);

// The levels of E with the automatic ranges taken from Counts (a picture's
// histogram of TotalCount pixels, bins of THistogramCounts) and written in
// as manual ranges, the way DoEffect would take them from that picture.
// Lets a part of the picture be processed like the whole.
void ResolveAutomaticLevels(const TLevelsAdjust &E, const THistogramCounts &Counts, uint64_t TotalCount, bool Gray,
                            bool LabMode, TLevelsAdjust &Out);

class TLevelsForm : public TPreviewBaseForm {
  Q_OBJECT
public:
  TLevelsForm(TLevelsAdjust &Effect, const TPreviewContext &Ctx, QWidget *Parent = nullptr);
  ~TLevelsForm() override;

  void PreviewClosed() override;
  uint32_t GetEffectID() const override { return EFFECT_LEVELS; }
  bool IsPreviewEnabled() const override;
  bool IsHistogramEnabled() const override;
  TPreviewStep MakePreviewStep() const override;

  // The settings as the controls hold them now.
  const TLevelsAdjust &Working() const { return *FWork; }
  // Shown channel: 0 "輝度", 1 "Red", 2 "Green", 3 "Blue", 4 "RGB".
  int ShownChannel() const;

  QComboBox *ChannelBox = nullptr;
  QSpinBox *InputBlack = nullptr;
  QSpinBox *InputWhite = nullptr;
  QSpinBox *OutputBlack = nullptr;
  QSpinBox *OutputWhite = nullptr;
  QDoubleSpinBox *GammaEdit = nullptr;
  QComboBox *AutoBox = nullptr;
  QDoubleSpinBox *ShadowEdit = nullptr;
  QDoubleSpinBox *HighlightEdit = nullptr;
  QCheckBox *LinearCheck = nullptr;
  QCheckBox *LabCheck = nullptr;
  QCheckBox *PreviewCheck = nullptr;
  QCheckBox *HistogramCheck = nullptr;
  QComboBox *ScaleBox = nullptr;
  QPushButton *ResetButton = nullptr;
  QComboBox *PresetBox = nullptr;
  QPushButton *SaveButton = nullptr;
  QPushButton *OKButton = nullptr;
  QPushButton *CancelButton = nullptr;
  TLevelsStrip *InputStrip = nullptr;
  TLevelsStrip *OutputStrip = nullptr;

  void accept() override;

private:
  friend class TLevelsStrip;
  void ShowChannel();                 // the working values into the fields
  void StoreField();                  // the fields into the working values
  void SetChannelValues(int32_t Black, int32_t White, double Gamma, int32_t OutBlack, int32_t OutWhite);
  void Changed();                     // redraw the strips and ask for a preview
  void LoadPresetList();
  void PresetChosen(int Index);
  void SavePresetAs();

  TLevelsAdjust &FEffect;
  std::unique_ptr<TLevelsAdjust> FWork;
  bool FUpdating = false;
};
