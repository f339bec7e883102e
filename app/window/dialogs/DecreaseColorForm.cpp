// The colour-reduction dialog.
#include "app/window/dialogs/DecreaseColorForm.h"

#include "app/window/dialogs/DialogButtons.h"
#include "app/window/dialogs/DialogControls.h"
#include "effects/DecreaseColorEffect.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// "ディザ" names by dither type.
const char *const DitherNames[] = {"なし", "gPeanos", "誤差拡散", "平均誤差", "アニメ"};
// "透過色" names by FTransparentType.
const char *const TransparentNames[] = {"なし", "左上", "左下", "右上", "右下"};
const char *const ToolCaptions[] = {"FLAXC.exe", "iZYINS.exe", "pngnqi.exe"};

QString U(const char *S) { return QString::fromUtf8(S); }

}  // namespace

TDecreaseColorForm::TDecreaseColorForm(TDecreaseColorEffect &Effect, QWidget *Parent)
    : QDialog(Parent), FEffect(Effect) {
  setWindowTitle(U(DECREASE_COLOR_FORM_CAPTION));
  auto *Top = new QVBoxLayout(this);

  auto *Tools = new QGroupBox(QStringLiteral("ツール"));
  auto *ToolRow = new QHBoxLayout(Tools);
  for (int i = 0; i < 3; ++i) {
    ToolButton[i] = new QRadioButton(U(ToolCaptions[i]));
    ToolButton[i]->setEnabled((Effect.FFlags & (1u << i)) != 0);
    ToolButton[i]->setChecked(Effect.FMode == i + 1);
    ToolRow->addWidget(ToolButton[i]);
    connect(ToolButton[i], &QRadioButton::toggled, this, [this](bool On) {
      if (On) ToolChanged();
    });
  }
  Top->addWidget(Tools);

  auto *Common = new QFormLayout;
  PaletteEntriesEdit = RangedSpinBox(2, 256, Effect.FPaletteEntries);
  Common->addRow(QStringLiteral("色数"), PaletteEntriesEdit);
  DitherBox = new QComboBox;
  Common->addRow(QStringLiteral("ディザ"), DitherBox);
  Top->addLayout(Common);

  FlaxcPanel = new QGroupBox(QStringLiteral("FLAXC.exe / iZYINS.exe"));
  auto *FlaxcForm = new QFormLayout(FlaxcPanel);
  TransparentBox = new QComboBox;
  for (const char *Name : TransparentNames) TransparentBox->addItem(U(Name));
  TransparentBox->setCurrentIndex(std::clamp(Effect.FTransparentType, 0, 4));
  FlaxcForm->addRow(QStringLiteral("透過色"), TransparentBox);
  DitherStrEdit = RangedSpinBox(0, 10, Effect.FDitherStr);
  FlaxcForm->addRow(QStringLiteral("強さ"), DitherStrEdit);
  OptionEdit = new QLineEdit(QString::fromStdString(Effect.FOption));
  OptionEdit->setMinimumWidth(240);
  FlaxcForm->addRow(QStringLiteral("その他オプション"), OptionEdit);
  Top->addWidget(FlaxcPanel);

  PngnqiPanel = new QGroupBox(QStringLiteral("pngnqi.exe"));
  auto *PngnqiForm = new QFormLayout(PngnqiPanel);
  QualityEdit = RangedSpinBox(1, 10, Effect.FQuality);
  PngnqiForm->addRow(QStringLiteral("品質"), QualityEdit);
  Top->addWidget(PngnqiPanel);

  Top->addLayout(OKCancelRow(this));
  ToolChanged();
}

int32_t TDecreaseColorForm::CheckedMode() const {
  for (int i = 0; i < 3; ++i)
    if (ToolButton[i]->isChecked()) return i + 1;
  return DECREASE_COLOR_NONE;
}

int32_t TDecreaseColorForm::SelectedDitherType() const {
  return DitherBox->currentIndex() < 0 ? FEffect.FDitherType : DitherBox->currentData().toInt();
}

void TDecreaseColorForm::ToolChanged() {
  const int32_t Mode = CheckedMode();
  DitherBox->clear();
  if (Mode != DECREASE_COLOR_NONE) {
    for (int32_t Type : AcceptedDitherTypes(Mode)) DitherBox->addItem(U(DitherNames[Type]), Type);
    DitherBox->setCurrentIndex(DitherBox->findData(DitherTypeForTool(Mode, FEffect.FDitherType)));
  }
  FlaxcPanel->setEnabled(Mode == DECREASE_COLOR_FLAXC || Mode == DECREASE_COLOR_IZYINS);
  PngnqiPanel->setEnabled(Mode == DECREASE_COLOR_PNGNQI);
}

void TDecreaseColorForm::accept() {
  // With no tool checked (no tool present) the stored tool stays.
  if (const int32_t Mode = CheckedMode(); Mode != DECREASE_COLOR_NONE) {
    FEffect.FMode = Mode;
    FEffect.FDitherType = SelectedDitherType();
  }
  FEffect.FPaletteEntries = PaletteEntriesEdit->value();
  FEffect.FTransparentType = TransparentBox->currentIndex();
  FEffect.FDitherStr = DitherStrEdit->value();
  FEffect.FOption = OptionEdit->text().toStdString();
  FEffect.FQuality = QualityEdit->value();
  QDialog::accept();
}

namespace {

const TEffectDialogRegistrar Registrar(EFFECT_DECREASE_COLOR, ModalDialogOpener<TDecreaseColorForm, TDecreaseColorEffect>());

}  // namespace
