// The colour-reduction dialog "減色設定": the tool (each button enabled only
// while its tool is present), the number of colours, the dither types the
// chosen tool accepts, and the controls of FLAXC and IZYINS or of pngnqi,
// each panel enabled only for its tools. Thin over TDecreaseColorEffect:
// the values are copied in when it opens and back on OK only.
#pragma once

#include <QDialog>

#include <cstdint>

class QComboBox;
class QGroupBox;
class QLineEdit;
class QRadioButton;
class QSpinBox;
class TDecreaseColorEffect;

inline constexpr const char *DECREASE_COLOR_FORM_CAPTION = "減色設定";

class TDecreaseColorForm : public QDialog {
  Q_OBJECT
public:
  TDecreaseColorForm(TDecreaseColorEffect &Effect, QWidget *Parent = nullptr);

  // The tool whose button is checked (0 when none is).
  int32_t CheckedMode() const;
  // The dither type selected in "ディザ".
  int32_t SelectedDitherType() const;

  QRadioButton *ToolButton[3] = {};  // "FLAXC.exe", "iZYINS.exe", "pngnqi.exe"
  QSpinBox *PaletteEntriesEdit = nullptr;  // "色数"
  QComboBox *DitherBox = nullptr;          // "ディザ"
  QGroupBox *FlaxcPanel = nullptr;         // FLAXC and IZYINS
  QComboBox *TransparentBox = nullptr;     // "透過色"
  QSpinBox *DitherStrEdit = nullptr;       // "強さ"
  QLineEdit *OptionEdit = nullptr;         // "その他オプション"
  QGroupBox *PngnqiPanel = nullptr;
  QSpinBox *QualityEdit = nullptr;         // "品質"

  void accept() override;

private:
  // Rebuilds "ディザ" for the checked tool and enables its panel.
  void ToolChanged();
  TDecreaseColorEffect &FEffect;
};
