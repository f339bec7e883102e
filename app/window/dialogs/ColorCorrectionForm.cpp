// The colour-correction dialog.
#include "app/window/dialogs/ColorCorrectionForm.h"

#include "app/window/dialogs/DialogButtons.h"
#include "app/window/dialogs/DialogWidgets.h"
#include "app/window/dialogs/ToneFormRules.h"
#include "app/window/preview/PreviewForm.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int32_t RangeLimit = 255;
constexpr double GammaMin = 0.2, GammaMax = 3.0;

bool ParseGamma(const QString &T, double &V) {
  bool Ok = false;
  V = T.trimmed().toDouble(&Ok);
  return Ok && V >= GammaMin && V <= GammaMax;
}

void MakeGammaField(TScrollField *F) {
  F->Format = [](int32_t P) { return QString::number(GammaFromScroll(P), 'f', 3); };
  F->Parse = [](const QString &T, int32_t &P) {
    double V;
    if (!ParseGamma(T, V)) return false;
    P = ScrollFromGamma(V);
    return true;
  };
}

// A typed value within the range, else the scroll bar's.
int32_t IntOf(const TScrollField *F) {
  bool Ok = false;
  const int V = F->Text().trimmed().toInt(&Ok);
  return Ok && V >= -RangeLimit && V <= RangeLimit ? V : F->Bar->value();
}

double GammaOf(const TScrollField *F) {
  double V;
  return ParseGamma(F->Text(), V) ? V : GammaFromScroll(F->Bar->value());
}

}  // namespace

TColorCorrectionForm::TColorCorrectionForm(TColorAdjust &Effect, const TPreviewContext &Ctx, QWidget *Parent)
    : TPreviewBaseForm(Ctx, Parent), FEffect(Effect) {
  UseHistogram = true;
  setWindowTitle(QStringLiteral("色調補正"));
  auto *Layout = new QVBoxLayout(this);
  auto Make = [this, Layout](const char *Caption, int32_t Min, int32_t Max) {
    auto *F = new TScrollField(QString::fromUtf8(Caption), Min, Max, this);
    Layout->addWidget(F);
    return F;
  };
  LumaMin = Make("輝度(Min)", -RangeLimit, RangeLimit);
  LumaMax = Make("輝度(Max)", -RangeLimit, RangeLimit);
  Chroma = Make("彩度", -RangeLimit, RangeLimit);
  Hue = Make("色合い", -RangeLimit, RangeLimit);
  Contrast = Make("コントラスト", -RangeLimit, RangeLimit);
  RGBGamma = Make("ガンマ(RGB)", GAMMA_SCROLL_MIN, GAMMA_SCROLL_MAX);
  YGamma = Make("ガンマ(Y)", GAMMA_SCROLL_MIN, GAMMA_SCROLL_MAX);
  MakeGammaField(RGBGamma);
  MakeGammaField(YGamma);

  auto *Row = new QHBoxLayout;
  ResetButton = new QPushButton(QStringLiteral("リセット"), this);
  PreviewCheck = new QCheckBox(QStringLiteral("プレビュー"), this);
  HistogramCheck = new QCheckBox(QStringLiteral("ヒストグラム"), this);
  Row->addWidget(ResetButton);
  Row->addWidget(PreviewCheck);
  Row->addWidget(HistogramCheck);
  Row->addStretch(1);
  Row->addLayout(OKCancelRow(this));
  Layout->addLayout(Row);

  SetValues(Effect.Values());
  PreviewCheck->setChecked(Effect.FPreview);
  HistogramCheck->setChecked(Effect.FHistogram);

  for (TScrollField *F : {LumaMin, LumaMax, Chroma, Hue, Contrast, RGBGamma, YGamma})
    F->OnChanged = [this] { RequestPreview(); };
  connect(ResetButton, &QPushButton::clicked, this, [this] {
    SetValues(TColorAdjustValues{});
    RequestPreview();
  });
  WirePreviewBoxes(*this, PreviewCheck, HistogramCheck);
  LoadSelectedEntry(*this, Ctx);
}

void TColorCorrectionForm::SetValues(const TColorAdjustValues &V) {
  LumaMin->SetText(QString::number(V.LumaMin));
  LumaMax->SetText(QString::number(V.LumaMax));
  Chroma->SetText(QString::number(V.Chroma));
  Hue->SetText(QString::number(V.Hue));
  Contrast->SetText(QString::number(V.Contrast));
  RGBGamma->SetText(QString::number(V.RGBGamma, 'f', 3));
  YGamma->SetText(QString::number(V.YGamma, 'f', 3));
}

TColorAdjustValues TColorCorrectionForm::Values() const {
  TColorAdjustValues V;
  V.LumaMin = IntOf(LumaMin);
  V.LumaMax = IntOf(LumaMax);
  V.Chroma = IntOf(Chroma);
  V.Hue = IntOf(Hue);
  V.Contrast = IntOf(Contrast);
  V.RGBGamma = GammaOf(RGBGamma);
  V.YGamma = GammaOf(YGamma);
  return V;
}

TColorCorrectionForm::~TColorCorrectionForm() { StopPreviewThreads(); }

void TColorCorrectionForm::PreviewClosed() { PreviewCheck->setChecked(false); }
bool TColorCorrectionForm::IsPreviewEnabled() const { return PreviewCheck->isChecked(); }
bool TColorCorrectionForm::IsHistogramEnabled() const { return HistogramCheck->isChecked(); }

TPreviewStep TColorCorrectionForm::MakePreviewStep() const {
  return [V = Values()](TICCImgInfo &Img, TPreviewStepEnv &Env) {
    const TColorAdjustTables T = MakeColorAdjustTables(V);
    if (Env.Cancelled()) return;
    ApplyColorAdjust(Img, V, T, Env.MT);
  };
}

void TColorCorrectionForm::accept() {
  const TColorAdjustValues V = Values();
  FEffect.FLumaMin = V.LumaMin;
  FEffect.FLumaMax = V.LumaMax;
  FEffect.FChroma = V.Chroma;
  FEffect.FHue = V.Hue;
  FEffect.FContrast = V.Contrast;
  FEffect.FRGBGamma = V.RGBGamma;
  FEffect.FYGamma = V.YGamma;
  FEffect.FPreview = PreviewCheck->isChecked();
  FEffect.FHistogram = HistogramCheck->isChecked();
  FEffect.UpdateTables();
  TPreviewBaseForm::accept();
}

namespace {

const TEffectDialogRegistrar Registrar = DialogRegistrar<TColorCorrectionForm, TColorAdjust>(EFFECT_COLOR_ADJUST);

}  // namespace
