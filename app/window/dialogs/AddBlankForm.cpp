// The margins dialog.
#include "app/window/dialogs/AddBlankForm.h"

#include "app/window/dialogs/DialogButtons.h"
#include "batch/ConvertOption.h"
#include "app/window/dialogs/DialogWidgets.h"
#include "app/window/dialogs/SizeFieldRules.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QString Q(const std::string &S) { return QString::fromStdString(S); }

constexpr int32_t ConditionAll = 2, FixedColor = 4;

QSpinBox *Spin(QWidget *Parent, int Min, int Max) {
  auto *S = new QSpinBox(Parent);
  S->setRange(Min, Max);
  return S;
}

}  // namespace

TAddBlankForm::TAddBlankForm(TAddBlankFilter &Effect, const TPreviewContext &Ctx, QWidget *Parent)
    : TPreviewBaseForm(Ctx, Parent), FEffect(Effect), FColors(SystemOption.CustomPalette) {
  FNeedUpdateBitmapInfo = true;  // the canvas grows
  setWindowTitle(QStringLiteral("余白追加"));
  auto *Layout = new QVBoxLayout(this);
  auto *Grid = new QGridLayout;
  FRows = AddValueFieldRows(this, Grid,
                            {QStringLiteral("アスペクト比指定"), QStringLiteral("左、上、右、下のサイズを指定(px)"),
                             QStringLiteral("左、上、右、下のサイズを指定(%)")});
  TypeBox = FRows.TypeBox, ExpBox = FRows.ExpBox;
  LandscapeLabel = FRows.LandscapeLabel, PortraitLabel = FRows.PortraitLabel;
  LandscapeEdit = FRows.LandscapeEdit, PortraitEdit = FRows.PortraitEdit;
  Layout->addLayout(Grid);

  auto *ColorRow = new QHBoxLayout;
  ColorBox = new QComboBox(this);
  ColorBox->addItems({QStringLiteral("左上の色"), QStringLiteral("右上の色"), QStringLiteral("左下の色"),
                      QStringLiteral("右下の色"), QStringLiteral("固定色")});
  ColorButton = new TColorButton(FColors, this);
  ColorButton->setText(QStringLiteral("設定..."));
  ColorButton->setFixedSize(96, 24);
  Opacity = Spin(this, 0, 255);
  ColorRow->addWidget(ColorBox);
  ColorRow->addWidget(ColorButton);
  ColorRow->addWidget(Opacity);
  ColorRow->addStretch(1);
  Layout->addLayout(ColorRow);

  auto *Frames = new QGroupBox(QStringLiteral("枠"), this);
  auto *FrameGrid = new QGridLayout(Frames);
  const char *FrameNames[3] = {"外", "中", "内"};
  for (int i = 0; i < 3; ++i) {
    UseFrame[i] = new QCheckBox(QString::fromUtf8(FrameNames[i]), Frames);
    FrameColor[i] = new TColorButton(FColors, Frames);
    FrameWidth[i] = Spin(Frames, 1, 99);
    FrameGrid->addWidget(UseFrame[i], i, 0);
    FrameGrid->addWidget(FrameColor[i], i, 1);
    FrameGrid->addWidget(FrameWidth[i], i, 2);
  }
  FrameGrid->setColumnStretch(3, 1);
  Layout->addWidget(Frames);

  ShadowGroup = new QGroupBox(QStringLiteral("ドロップシャドウ"), this);
  ShadowGroup->setCheckable(true);
  auto *ShadowGrid = new QGridLayout(ShadowGroup);
  ShadowColor = new TColorButton(FColors, ShadowGroup);
  ShadowOpacity = Spin(ShadowGroup, 0, 100);
  ShadowRadius = new QDoubleSpinBox(ShadowGroup);
  ShadowRadius->setRange(0.5, 99);
  ShadowRadius->setDecimals(1);
  ShadowRadius->setSingleStep(0.5);
  ShadowStr = Spin(ShadowGroup, 1, 99);
  ShadowOffsetX = Spin(ShadowGroup, -99, 99);
  ShadowOffsetY = Spin(ShadowGroup, -99, 99);
  ShadowGrid->addWidget(ShadowColor, 0, 0);
  ShadowGrid->addWidget(new QLabel(QStringLiteral("不透明度"), ShadowGroup), 0, 1);
  ShadowGrid->addWidget(ShadowOpacity, 0, 2);
  ShadowGrid->addWidget(new QLabel(QStringLiteral("ぼかし半径"), ShadowGroup), 1, 1);
  ShadowGrid->addWidget(ShadowRadius, 1, 2);
  ShadowGrid->addWidget(new QLabel(QStringLiteral("強さ"), ShadowGroup), 1, 3);
  ShadowGrid->addWidget(ShadowStr, 1, 4);
  ShadowGrid->addWidget(new QLabel(QStringLiteral("オフセットX"), ShadowGroup), 2, 1);
  ShadowGrid->addWidget(ShadowOffsetX, 2, 2);
  ShadowGrid->addWidget(new QLabel(QStringLiteral("Y"), ShadowGroup), 2, 3);
  ShadowGrid->addWidget(ShadowOffsetY, 2, 4);
  Layout->addWidget(ShadowGroup);
  PreviewCheck = new QCheckBox(QStringLiteral("プレビュー"), this);
  Layout->addWidget(PreviewCheck);
  Layout->addLayout(OKCancelRow(this));

  // Copy in.
  const TAddBlankParam &P = Effect.FAddBlankParam;
  TypeBox->setCurrentIndex(std::clamp(P.BlankType, 0, 2));
  ExpBox->setCurrentIndex(std::clamp(P.ExpType, 0, 2));
  const TFieldForm Form = MarginFieldForm(TypeBox->currentIndex());
  LandscapeEdit->setText(Q(FieldText(P.Value, 0, Form)));
  PortraitEdit->setText(Q(FieldText(P.Value, 4, Form)));
  ColorBox->setCurrentIndex(std::clamp(P.ColorType, 0, 4));
  ColorButton->SetColor(P.Color & 0xFFFFFF);
  Opacity->setValue(int(uint32_t(P.Color) >> 24));
  const LongBool Uses[3] = {P.UseFrame1, P.UseFrame2, P.UseFrame3};
  const int32_t Colors[3] = {P.Frame1Color, P.Frame2Color, P.Frame3Color};
  const int32_t Widths[3] = {P.Frame1Width, P.Frame2Width, P.Frame3Width};
  for (int i = 0; i < 3; ++i) {
    UseFrame[i]->setChecked(Uses[i] != LongFalse);
    FrameColor[i]->SetColor(Colors[i]);
    FrameWidth[i]->setValue(Widths[i]);
  }
  ShadowGroup->setChecked(P.UseDropShadow != LongFalse);
  ShadowColor->SetColor(P.ShadowColor);
  ShadowOpacity->setValue(P.ShadowOpacity);
  ShadowRadius->setValue(P.ShadowRadius);
  ShadowStr->setValue(P.ShadowStr);
  ShadowOffsetX->setValue(P.ShadowOffsetX);
  ShadowOffsetY->setValue(P.ShadowOffsetY);
  PreviewCheck->setChecked(Effect.FPreview != LongFalse);
  ConditionChanged();

  const auto Changed = [this] { RequestPreview(); };
  // The other form of field starts from values that add nothing.
  WireValueFieldRows(*this, FRows,
                     [](int Type) { return Type == 0 ? QStringLiteral("1:1") : QStringLiteral("0,0,0,0"); });
  connect(ColorBox, &QComboBox::currentIndexChanged, this, [this] {
    ConditionChanged();
    RequestPreview();
  });
  for (QLineEdit *E : {LandscapeEdit, PortraitEdit}) connect(E, &QLineEdit::textChanged, this, Changed);
  for (QSpinBox *S : {Opacity, FrameWidth[0], FrameWidth[1], FrameWidth[2], ShadowOpacity, ShadowStr, ShadowOffsetX,
                      ShadowOffsetY})
    connect(S, &QSpinBox::valueChanged, this, Changed);
  connect(ShadowRadius, &QDoubleSpinBox::valueChanged, this, Changed);
  for (QCheckBox *C : UseFrame) connect(C, &QCheckBox::toggled, this, Changed);
  connect(ShadowGroup, &QGroupBox::toggled, this, Changed);
  for (TColorButton *B : {ColorButton, FrameColor[0], FrameColor[1], FrameColor[2], ShadowColor})
    connect(B, &TColorButton::ColorChanged, this, Changed);
  WirePreviewBoxes(*this, PreviewCheck, nullptr);
  LoadSelectedEntry(*this, Ctx);
}

TAddBlankForm::~TAddBlankForm() { StopPreviewThreads(); }

void TAddBlankForm::PreviewClosed() { PreviewCheck->setChecked(false); }
bool TAddBlankForm::IsPreviewEnabled() const { return PreviewCheck->isChecked(); }

void TAddBlankForm::ConditionChanged() {
  ShowCondition(FRows);
  const bool Fixed = ColorBox->currentIndex() == FixedColor;
  ColorButton->setEnabled(Fixed);
  Opacity->setEnabled(Fixed);
}

TAddBlankParam TAddBlankForm::Param() const {
  TAddBlankParam P = FEffect.FAddBlankParam;
  P.BlankType = TypeBox->currentIndex();
  P.ExpType = ExpBox->currentIndex();
  P.ColorType = ColorBox->currentIndex();
  int32_t w, h;
  FieldCheckSize(*this, w, h);
  const TFieldForm Form = MarginFieldForm(P.BlankType);
  std::optional<TFieldValues> L = ParseField(LandscapeEdit->text().toStdString(), Form, w, h);
  std::optional<TFieldValues> R = ParseField(PortraitEdit->text().toStdString(), Form, w, h);
  // Under "ALL" the hidden portrait field keeps what it holds while that reads.
  if (P.ExpType == ConditionAll && !R) R = L;
  if (L && R)
    for (size_t i = 0; i < 4; ++i) P.Value[i] = (*L)[i], P.Value[i + 4] = (*R)[i];
  P.Color = int32_t(uint32_t(ColorButton->Color() & 0xFFFFFF) | uint32_t(Opacity->value()) << 24);
  P.UseFrame1 = UseFrame[0]->isChecked() ? LongTrue : LongFalse;
  P.UseFrame2 = UseFrame[1]->isChecked() ? LongTrue : LongFalse;
  P.UseFrame3 = UseFrame[2]->isChecked() ? LongTrue : LongFalse;
  P.Frame1Color = FrameColor[0]->Color();
  P.Frame2Color = FrameColor[1]->Color();
  P.Frame3Color = FrameColor[2]->Color();
  P.Frame1Width = FrameWidth[0]->value();
  P.Frame2Width = FrameWidth[1]->value();
  P.Frame3Width = FrameWidth[2]->value();
  P.UseDropShadow = ShadowGroup->isChecked() ? LongTrue : LongFalse;
  P.ShadowColor = ShadowColor->Color();
  P.ShadowOpacity = ShadowOpacity->value();
  P.ShadowRadius = ShadowRadius->value();
  P.ShadowStr = ShadowStr->value();
  P.ShadowOffsetX = ShadowOffsetX->value();
  P.ShadowOffsetY = ShadowOffsetY->value();
  return P;
}

void TAddBlankForm::RequestPreview() {
  FPreview.Show(*this, [P = Param()](TICCImgInfo &Img, TEffectParams &Params) {
    TAddBlankFilter Step;
    Step.FAddBlankParam = P;
    Step.DoEffect(Img, Params);
  });
}

void TAddBlankForm::accept() {
  int32_t w, h;
  FieldCheckSize(*this, w, h);
  const TFieldForm Form = MarginFieldForm(TypeBox->currentIndex());
  const bool LandscapeReads = ParseField(LandscapeEdit->text().toStdString(), Form, w, h).has_value();
  const bool PortraitReads = ExpBox->currentIndex() == ConditionAll ||
                             ParseField(PortraitEdit->text().toStdString(), Form, w, h).has_value();
  if (!LandscapeReads || !PortraitReads) {
    QMessageBox::warning(this, QString::fromUtf8(SIZE_FIELD_ERROR_TITLE), QString::fromUtf8(SIZE_FIELD_ERROR));
    return;
  }
  FEffect.FAddBlankParam = Param();
  FEffect.FPreview = PreviewCheck->isChecked() ? LongTrue : LongFalse;
  FColors.Commit();
  TPreviewBaseForm::accept();
}

namespace {

const TEffectDialogRegistrar Registrar = DialogRegistrar<TAddBlankForm, TAddBlankFilter>(EFFECT_ADD_BLANK);

}  // namespace
