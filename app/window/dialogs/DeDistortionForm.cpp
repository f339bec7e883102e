// The lens correction's settings dialog.
#include "app/window/dialogs/DeDistortionForm.h"

#include "app/window/dialogs/DialogButtons.h"
#include "app/window/preview/PreviewBaseForm.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

QString Q(const char *S) { return QString::fromUtf8(S); }

QDoubleSpinBox *AngleEdit(QWidget *Parent, double Min, double Max) {
  auto *E = new QDoubleSpinBox(Parent);
  E->setRange(Min, Max);
  E->setDecimals(2);
  E->setMinimumWidth(90);
  return E;
}

QComboBox *ListBox(QWidget *Parent, std::initializer_list<const char *> Items) {
  auto *B = new QComboBox(Parent);
  for (const char *I : Items) B->addItem(Q(I));
  return B;
}

}  // namespace

TDeDistortionForm::TDeDistortionForm(TDeDistortionFilter &Effect, QWidget *Parent) : QDialog(Parent), FEffect(Effect) {
  setWindowTitle(Q(DEDISTORTION_FORM_CAPTION));
  auto *Layout = new QVBoxLayout(this);

  auto *Top = new QFormLayout;
  ModeBox = ListBox(this, {"魚眼レンズ"});
  Top->addRow(Q("補正モード"), ModeBox);
  PTStitcherButton = new QRadioButton(Q("PTStitcherNG.exe"), this);
  DeDistortionButton = new QRadioButton(Q("dedistortion.exe"), this);
  auto *Tools = new QHBoxLayout;
  Tools->addWidget(PTStitcherButton);
  Tools->addWidget(DeDistortionButton);
  Tools->addStretch(1);
  Top->addRow(Tools);
  Layout->addLayout(Top);

  auto *Src = new QGroupBox(Q("入力画像"), this);
  auto *SrcForm = new QFormLayout(Src);
  SrcProjectionBox = ListBox(Src, {"等距離射影(円周)", "等距離射影(対角)", "等立体角射影", "正射影"});
  SrcHFOVEdit = AngleEdit(Src, 1, 360);
  RollEdit = AngleEdit(Src, -180, 180);
  PitchEdit = AngleEdit(Src, -180, 180);
  YawEdit = AngleEdit(Src, -180, 180);
  SrcForm->addRow(Q("投影法"), SrcProjectionBox);
  SrcForm->addRow(Q("水平画角"), SrcHFOVEdit);
  SrcForm->addRow(Q("ロール角"), RollEdit);
  SrcForm->addRow(Q("ピッチ角"), PitchEdit);
  SrcForm->addRow(Q("ヨー角"), YawEdit);
  Layout->addWidget(Src);

  auto *Dest = new QGroupBox(Q("出力画像"), this);
  auto *DestForm = new QFormLayout(Dest);
  DestProjectionBox = ListBox(Dest, {"心射方位", "心射円筒", "正距円筒", "パニーニ", "等距離射影", "等立体角射影"});
  DestHFOVEdit = AngleEdit(Dest, 1, 360);
  WidthEdit = new QLineEdit(Dest);
  HeightEdit = new QLineEdit(Dest);
  DestForm->addRow(Q("投影法"), DestProjectionBox);
  DestForm->addRow(Q("水平画角"), DestHFOVEdit);
  DestForm->addRow(Q("幅"), WidthEdit);
  DestForm->addRow(Q("高さ"), HeightEdit);
  Layout->addWidget(Dest);

  Layout->addLayout(OKCancelRow(this));

  const TDeDistortionFormValues v = DeDistortionFormValues(Effect);
  ModeBox->setCurrentIndex(std::clamp(v.Mode, 0, ModeBox->count() - 1));
  PTStitcherButton->setEnabled(DeDistortionToolEnabled(Effect, DEDISTORTION_TOOL_PTSTITCHER));
  DeDistortionButton->setEnabled(DeDistortionToolEnabled(Effect, DEDISTORTION_TOOL_DEDISTORTION));
  (v.Tool == DEDISTORTION_TOOL_DEDISTORTION ? DeDistortionButton : PTStitcherButton)->setChecked(true);
  SrcProjectionBox->setCurrentIndex(std::clamp(v.SrcProjection, 0, SrcProjectionBox->count() - 1));
  SrcHFOVEdit->setValue(v.SrcHFOV);
  RollEdit->setValue(v.Roll);
  PitchEdit->setValue(v.Pitch);
  YawEdit->setValue(v.Yaw);
  DestProjectionBox->setCurrentIndex(std::clamp(v.DestProjection, 0, DestProjectionBox->count() - 1));
  DestHFOVEdit->setValue(v.DestHFOV);
  WidthEdit->setText(QString::fromStdString(v.Width));
  HeightEdit->setText(QString::fromStdString(v.Height));
}

TDeDistortionFormValues TDeDistortionForm::FromControls() const {
  TDeDistortionFormValues v;
  v.Mode = ModeBox->currentIndex();
  v.Tool = DeDistortionButton->isChecked() ? DEDISTORTION_TOOL_DEDISTORTION : DEDISTORTION_TOOL_PTSTITCHER;
  v.SrcProjection = SrcProjectionBox->currentIndex();
  v.SrcHFOV = SrcHFOVEdit->value();
  v.Roll = RollEdit->value();
  v.Pitch = PitchEdit->value();
  v.Yaw = YawEdit->value();
  v.DestProjection = DestProjectionBox->currentIndex();
  v.DestHFOV = DestHFOVEdit->value();
  v.Width = WidthEdit->text().toStdString();
  v.Height = HeightEdit->text().toStdString();
  return v;
}

void TDeDistortionForm::accept() {
  TDeDistortionFormValues v = FromControls();
  const std::string Why = CheckDeDistortionForm(v);
  // The spaces the check took out show in the fields whether or not it passed.
  WidthEdit->setText(QString::fromStdString(v.Width));
  HeightEdit->setText(QString::fromStdString(v.Height));
  if (!Why.empty()) {
    QMessageBox::warning(this, Q(DEDISTORTION_ERROR_TITLE), QString::fromStdString(Why));
    return;
  }
  StoreDeDistortionForm(v, FEffect);
  QDialog::accept();
}

bool ShowDeDistortionForm(TDeDistortionFilter &Effect, QWidget *Parent) {
  TDeDistortionForm Form(Effect, Parent);
  return Form.exec() == QDialog::Accepted;
}

namespace {

// The dialog shows no preview; the context is not needed.
const TEffectDialogRegistrar Registrar(EFFECT_DEDISTORTION, [](TEffect &E, const TPreviewContext &, QWidget *Parent) {
  if (auto *Filter = dynamic_cast<TDeDistortionFilter *>(&E)) ShowDeDistortionForm(*Filter, Parent);
});

}  // namespace
