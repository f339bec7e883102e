// The grayscale dialog.
#include "app/window/dialogs/GrayscaleForm.h"

#include "app/window/dialogs/ColorChoice.h"
#include "app/window/dialogs/DialogButtons.h"
#include "app/window/dialogs/DialogWidgets.h"
#include "app/window/dialogs/ToneFormRules.h"
#include "app/window/preview/PreviewForm.h"
#include "batch/ConvertOption.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int32_t TypeCustom = 2, TypeLab = 3;
constexpr int32_t WeightMax = 10000;

int32_t WeightOf(const TScrollField *F) {
  bool Ok = false;
  const int V = F->Text().trimmed().toInt(&Ok);
  return Ok && V >= 0 && V <= WeightMax ? V : F->Bar->value();
}

}  // namespace

TGrayscaleForm::TGrayscaleForm(TGrayscaleFilter &Effect, const TPreviewContext &Ctx, QWidget *Parent)
    : TPreviewBaseForm(Ctx, Parent),
      FEffect(Effect),
      FCustom{Effect.FRed, Effect.FGreen, Effect.FBlue},
      FPalette(Effect.FCustomPalette) {
  UseHistogram = true;
  FNeedUpdateBitmapInfo = true;  // colour in, gray out
  setWindowTitle(QStringLiteral("グレースケール化"));
  AskPalette = [this](const std::array<QColor, 16> &Current) -> std::optional<std::array<QColor, 16>> {
    for (int i = 0; i < 16; ++i) QColorDialog::setCustomColor(i, Current[size_t(i)]);
    QColorDialog D(Current[0], this);
    if (D.exec() != QDialog::Accepted) return std::nullopt;
    std::array<QColor, 16> Out;
    for (int i = 0; i < 16; ++i) Out[size_t(i)] = QColorDialog::customColor(i);
    return Out;
  };

  auto *Layout = new QVBoxLayout(this);
  auto *TypeRow = new QHBoxLayout;
  TypeBox = new QComboBox(this);
  TypeBox->addItems({QStringLiteral("ITU-R BT.601"), QStringLiteral("ITU-R BT.709"), QStringLiteral("カスタム")});
  // Lab is offered with the Lab mode; a stored Lab type keeps its item so it survives the dialog.
  if (SystemOption.EnabledLabMode != LongFalse || Effect.FType == TypeLab) TypeBox->addItem(QStringLiteral("Lab"));
  TypeRow->addWidget(TypeBox);
  DegammaCheck = new QCheckBox(QStringLiteral("リニアな色空間で処理する"), this);
  TypeRow->addWidget(DegammaCheck);
  TypeRow->addStretch(1);
  Layout->addLayout(TypeRow);
  Red = new TScrollField(QStringLiteral("R"), 0, WeightMax, this);
  Green = new TScrollField(QStringLiteral("G"), 0, WeightMax, this);
  Blue = new TScrollField(QStringLiteral("B"), 0, WeightMax, this);
  for (TScrollField *F : {Red, Green, Blue}) {
    F->Label->setMinimumWidth(24);
    Layout->addWidget(F);
  }
  auto *DecreaseRow = new QHBoxLayout;
  DecreaseCheck = new QCheckBox(QStringLiteral("減色する"), this);
  ColorCount = new QSpinBox(this);
  ColorCount->setRange(2, 255);
  DecreaseRow->addWidget(DecreaseCheck);
  DecreaseRow->addWidget(new QLabel(QStringLiteral("色数"), this));
  DecreaseRow->addWidget(ColorCount);
  DecreaseRow->addStretch(1);
  Layout->addLayout(DecreaseRow);
  auto *PaletteRow = new QHBoxLayout;
  CustomPaletteCheck = new QCheckBox(QStringLiteral("カスタムパレットを使用"), this);
  PaletteButton = new QPushButton(QStringLiteral("パレットの編集"), this);
  PaletteRow->addWidget(CustomPaletteCheck);
  PaletteRow->addWidget(PaletteButton);
  PaletteRow->addStretch(1);
  Layout->addLayout(PaletteRow);
  auto *Bottom = new QHBoxLayout;
  PreviewCheck = new QCheckBox(QStringLiteral("プレビュー"), this);
  HistogramCheck = new QCheckBox(QStringLiteral("ヒストグラム"), this);
  Bottom->addWidget(PreviewCheck);
  Bottom->addWidget(HistogramCheck);
  Bottom->addStretch(1);
  Bottom->addLayout(OKCancelRow(this));
  Layout->addLayout(Bottom);

  // Copy in.
  TypeBox->setCurrentIndex(std::clamp(Effect.FType, 0, TypeBox->count() - 1));
  DegammaCheck->setChecked(Effect.FDegamma);
  DecreaseCheck->setChecked(Effect.FDecreaseColor);
  ColorCount->setValue(std::clamp(Effect.FColor, 2, 255));
  CustomPaletteCheck->setChecked(Effect.FUseCustomPalette);
  PreviewCheck->setChecked(Effect.FPreview);
  HistogramCheck->setChecked(Effect.FHistogram);
  TypeChanged();

  connect(TypeBox, &QComboBox::currentIndexChanged, this, [this] {
    TypeChanged();
    RequestPreview();
  });
  for (TScrollField *F : {Red, Green, Blue})
    F->OnChanged = [this] {
      if (FShowingFixed) return;
      FCustom = {WeightOf(Red), WeightOf(Green), WeightOf(Blue)};
      RequestPreview();
    };
  for (QCheckBox *C : {DegammaCheck, DecreaseCheck, CustomPaletteCheck})
    connect(C, &QCheckBox::toggled, this, [this] { RequestPreview(); });
  connect(ColorCount, &QSpinBox::valueChanged, this, [this] { RequestPreview(); });
  connect(PaletteButton, &QPushButton::clicked, this, &TGrayscaleForm::EditPalette);
  WirePreviewBoxes(*this, PreviewCheck, HistogramCheck);
  LoadSelectedEntry(*this, Ctx);
}

void TGrayscaleForm::TypeChanged() {
  const int32_t Type = TypeBox->currentIndex();
  const bool Custom = Type == TypeCustom;
  const std::array<int32_t, 3> Shown = ShownGrayWeights(Type, FCustom);
  FShowingFixed = true;
  Red->SetText(QString::number(Shown[0]));
  Green->SetText(QString::number(Shown[1]));
  Blue->SetText(QString::number(Shown[2]));
  FShowingFixed = false;
  for (TScrollField *F : {Red, Green, Blue}) F->setEnabled(Custom);
  DegammaCheck->setEnabled(Type != TypeLab);
}

void TGrayscaleForm::EditPalette() {
  std::array<QColor, 16> Current;
  for (size_t i = 0; i < 16; ++i) Current[i] = ColorOfColorRef(uint32_t(FPalette[i]));
  const std::optional<std::array<QColor, 16>> Picked = AskPalette(Current);
  if (!Picked) return;
  std::array<int32_t, 16> Levels;
  for (size_t i = 0; i < 16; ++i) Levels[i] = (*Picked)[i].red();
  std::sort(Levels.begin(), Levels.end());
  for (size_t i = 0; i < 16; ++i) {
    FPalette[i] = Levels[i] * 0x010101;
    QColorDialog::setCustomColor(int(i), ColorOfColorRef(uint32_t(FPalette[i])));
  }
  RequestPreview();
}

TGrayscaleForm::~TGrayscaleForm() { StopPreviewThreads(); }

void TGrayscaleForm::PreviewClosed() { PreviewCheck->setChecked(false); }
bool TGrayscaleForm::IsPreviewEnabled() const { return PreviewCheck->isChecked(); }
bool TGrayscaleForm::IsHistogramEnabled() const { return HistogramCheck->isChecked(); }

void TGrayscaleForm::FillFromEffectCopy(TGrayscaleFilter &E) const {
  E.FType = TypeBox->currentIndex();
  E.FRed = FCustom[0], E.FGreen = FCustom[1], E.FBlue = FCustom[2];
  E.FDegamma = DegammaCheck->isChecked();
  E.FDecreaseColor = DecreaseCheck->isChecked();
  E.FColor = ColorCount->value();
  E.FUseCustomPalette = CustomPaletteCheck->isChecked();
  E.FCustomPalette = FPalette;
}

TPreviewStep TGrayscaleForm::MakePreviewStep() const {
  auto Settings = std::make_shared<TGrayscaleFilter>();
  FillFromEffectCopy(*Settings);
  Settings->UpdatePalette();
  // The settings are only read on the preview threads, so both may share them.
  return [Settings = std::shared_ptr<const TGrayscaleFilter>(Settings)](TICCImgInfo &Img, TPreviewStepEnv &Env) {
    Env.Params.GrayscaleDecreaseColor = LongFalse;
    Settings->DoEffect(Img, Env.Params);
    if (Env.Cancelled()) return;
    // The reduction the chain runs after every step, shown here as well.
    if (Env.Params.GrayscaleDecreaseColor) Settings->DecreaseGrayLevels(Img, Env.Params.MaxColor);
  };
}

void TGrayscaleForm::accept() {
  FillFromEffectCopy(FEffect);
  FEffect.FPreview = PreviewCheck->isChecked();
  FEffect.FHistogram = HistogramCheck->isChecked();
  FEffect.UpdatePalette();
  TPreviewBaseForm::accept();
}

namespace {

const TEffectDialogRegistrar Registrar = DialogRegistrar<TGrayscaleForm, TGrayscaleFilter>(EFFECT_GRAYSCALE);

}  // namespace
