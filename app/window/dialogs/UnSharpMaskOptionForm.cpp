// The unsharp-mask dialog.
#include "app/window/dialogs/UnSharpMaskOptionForm.h"

#include "app/window/dialogs/DialogButtons.h"
#include "app/window/dialogs/DialogControls.h"
#include "app/window/dialogs/DialogWidgets.h"
#include "batch/BatchObjects.h"
#include "batch/ConvertOption.h"
#include "effects/Effect.h"
#include "effects/RunSettings.h"
#include "effects/UnsharpMaskFilter.h"
#include "resample/WeightedMean.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QSpinBox>
#include <QVBoxLayout>


TUSMFormValues TUSMFormValues::Of(const TUSMFilter &E) {
  TUSMFormValues V;
  V.Highlight = E.FHighlight, V.Shadow = E.FShadow, V.Radius = E.FRadius;
  V.Threshold = E.FThreshold, V.Max = E.FMax, V.Min = E.FMin;
  V.Degamma = E.FDegamma, V.LumaOnly = E.FLumaOnly, V.Lab = E.FLab;
  V.Preview = E.FPreview, V.Histogram = E.FHistogram;
  return V;
}

void TUSMFormValues::StoreTo(TUSMFilter &E) const {
  E.FHighlight = Highlight, E.FShadow = Shadow, E.FRadius = Radius;
  E.FThreshold = Threshold, E.FMax = Max, E.FMin = Min;
  E.FDegamma = Degamma, E.FLumaOnly = LumaOnly, E.FLab = Lab;
  E.FPreview = Preview, E.FHistogram = Histogram;
}

TUnSharpMaskOptionForm::TUnSharpMaskOptionForm(TUSMFilter &Effect, const TPreviewContext &Ctx, QWidget *Parent)
    : TPreviewBaseForm(Ctx, Parent), FEffect(Effect) {
  setWindowTitle(QString::fromUtf8(USM_FORM_CAPTION));
  UseHistogram = true;
  const TUSMFormValues V = TUSMFormValues::Of(Effect);
  auto *Top = new QVBoxLayout(this);
  auto *Form = new QFormLayout;
  HighlightEdit = RangedSpinBox(0, 500, V.Highlight);
  ShadowEdit = RangedSpinBox(0, 500, V.Shadow);
  RadiusEdit = new QDoubleSpinBox;
  RadiusEdit->setDecimals(2);
  RadiusEdit->setRange(0.1, 5.0);
  RadiusEdit->setSingleStep(0.1);
  RadiusEdit->setValue(V.Radius);
  ThresholdEdit = RangedSpinBox(0, 255, V.Threshold);
  MaxEdit = RangedSpinBox(0, 100, V.Max);
  MinEdit = RangedSpinBox(0, 100, V.Min);
  Form->addRow(QStringLiteral("適用量(+)"), HighlightEdit);
  Form->addRow(QStringLiteral("適用量(-)"), ShadowEdit);
  Form->addRow(QStringLiteral("半径"), RadiusEdit);
  Form->addRow(QStringLiteral("閾値"), ThresholdEdit);
  Form->addRow(QStringLiteral("上限"), MaxEdit);
  Form->addRow(QStringLiteral("下限"), MinEdit);
  Top->addLayout(Form);
  DegammaCheck = new QCheckBox(QStringLiteral("リニアな色空間で処理する"));
  DegammaCheck->setChecked(V.Degamma);
  LumaOnlyCheck = new QCheckBox(QStringLiteral("輝度チャンネルのみ"));
  LumaOnlyCheck->setChecked(V.LumaOnly);
  LabCheck = new QCheckBox(QStringLiteral("Lab"));
  LabCheck->setChecked(V.Lab);
  Top->addWidget(DegammaCheck);
  auto *LumaRow = new QHBoxLayout;
  LumaRow->addWidget(LumaOnlyCheck);
  LumaRow->addWidget(LabCheck);
  LumaRow->addStretch();
  Top->addLayout(LumaRow);
  auto *PreviewRow = new QHBoxLayout;
  PreviewCheck = new QCheckBox(QStringLiteral("プレビュー"));
  PreviewCheck->setChecked(V.Preview);
  HistogramCheck = new QCheckBox(QStringLiteral("ヒストグラム"));
  HistogramCheck->setChecked(V.Histogram);
  PreviewRow->addWidget(PreviewCheck);
  PreviewRow->addWidget(HistogramCheck);
  PreviewRow->addStretch();
  Top->addLayout(PreviewRow);
  Top->addLayout(OKCancelRow(this));

  for (QSpinBox *S : {HighlightEdit, ShadowEdit, ThresholdEdit, MaxEdit, MinEdit})
    connect(S, &QSpinBox::valueChanged, this, &TUnSharpMaskOptionForm::Changed);
  connect(RadiusEdit, &QDoubleSpinBox::valueChanged, this, &TUnSharpMaskOptionForm::Changed);
  for (QCheckBox *C : {DegammaCheck, LumaOnlyCheck, LabCheck})
    connect(C, &QCheckBox::toggled, this, &TUnSharpMaskOptionForm::Changed);
  WirePreviewBoxes(*this, PreviewCheck, HistogramCheck);
  connect(PreviewCheck, &QCheckBox::toggled, HistogramCheck, &QWidget::setEnabled);
  HistogramCheck->setEnabled(V.Preview);
  LabCheck->setEnabled(V.LumaOnly);
  SetPreviewImageIndex(Ctx.SelectedIndex < 0 ? 0 : Ctx.SelectedIndex);
}

TUnSharpMaskOptionForm::~TUnSharpMaskOptionForm() { StopPreviewThreads(); }

void TUnSharpMaskOptionForm::PreviewClosed() { PreviewCheck->setChecked(false); }
uint32_t TUnSharpMaskOptionForm::GetEffectID() const { return EFFECT_UNSHARP_MASK; }
bool TUnSharpMaskOptionForm::IsPreviewEnabled() const { return PreviewCheck->isChecked(); }
bool TUnSharpMaskOptionForm::IsHistogramEnabled() const {
  return PreviewCheck->isChecked() && HistogramCheck->isChecked();
}

TUSMFormValues TUnSharpMaskOptionForm::Values() const {
  TUSMFormValues V;
  V.Highlight = HighlightEdit->value(), V.Shadow = ShadowEdit->value(), V.Radius = RadiusEdit->value();
  V.Threshold = ThresholdEdit->value(), V.Max = MaxEdit->value(), V.Min = MinEdit->value();
  V.Degamma = DegammaCheck->isChecked(), V.LumaOnly = LumaOnlyCheck->isChecked(), V.Lab = LabCheck->isChecked();
  V.Preview = PreviewCheck->isChecked(), V.Histogram = HistogramCheck->isChecked();
  return V;
}

void TUnSharpMaskOptionForm::Changed() {
  LabCheck->setEnabled(LumaOnlyCheck->isChecked());
  RequestPreview();
}

TPreviewStep TUnSharpMaskOptionForm::MakePreviewStep() const {
  return [V = Values()](TICCImgInfo &Img, TPreviewStepEnv &Env) {
    if (!Env.Params.UnSharpMask) return;
    TUSMFilter Step;
    V.StoreTo(Step);
    // The thread's own engine takes the values being edited, with the Lab
    // mode of the run's settings as a run would.
    const bool LabMode = Env.Params.Settings && Env.Params.Settings->System.EnabledLabMode != LongFalse;
    Step.ApplyToEngine(*Env.Params.UnSharpMask, LabMode);
    Step.DoEffect(Img, Env.Params);
  };
}

void TUnSharpMaskOptionForm::accept() {
  Values().StoreTo(FEffect);
  // The program-wide engine takes the new values; workers copy it at a run's start.
  if (ProgramUnsharpMask) FEffect.ApplyToEngine(*ProgramUnsharpMask, SystemOption.EnabledLabMode != LongFalse);
  TPreviewBaseForm::accept();
}

namespace {

const TEffectDialogRegistrar Registrar(EFFECT_UNSHARP_MASK, ModalDialogOpener<TUnSharpMaskOptionForm, TUSMFilter>());

}  // namespace
