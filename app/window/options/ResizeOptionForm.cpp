// The resize dialog.
#include "app/window/options/ResizeOptionForm.h"

#include "app/window/options/NumEdit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {

// A row "Caption [field]" indented under its list.
QWidget *ParamRow(QWidget *Parent, const char *Caption, TUDNumEdit *&Field, const TNumRange &Range) {
  auto *Row = new QWidget(Parent);
  auto *L = new QHBoxLayout(Row);
  L->setContentsMargins(20, 0, 0, 0);
  auto *Label = new QLabel(QString::fromUtf8(Caption), Row);
  Field = new TUDNumEdit(Range, Row);
  Field->setMinimumWidth(70);
  Label->setBuddy(Field);
  L->addWidget(Label);
  L->addWidget(Field);
  L->addStretch(1);
  return Row;
}

}  // namespace

TResizeOptionForm::TResizeOptionForm(const TResizeOption &Option, QWidget *Parent)
    : QDialog(Parent), FRules(Option) {
  setWindowTitle(QStringLiteral("リサイズ設定"));
  setMinimumWidth(300);
  auto *Layout = new QVBoxLayout(this);
  Decimation = CreateKernelControls("縮小アルゴリズム", TResizeOptionRules::DecimationKernels(),
                                    DECIMATION_RADIUS_RANGE, DECIMATION_SHARP_RANGE, DECIMATION_BLUR_RANGE, Layout);
  Interpolation =
      CreateKernelControls("拡大アルゴリズム", TResizeOptionRules::InterpolationKernels(), INTERPOLATION_RADIUS_RANGE,
                           INTERPOLATION_SHARP_RANGE, INTERPOLATION_BLUR_RANGE, Layout);

  auto *PathRow = new QHBoxLayout;
  auto *PathLabel = new QLabel(QStringLiteral("演算方法"), this);
  SIMDBox = new QComboBox(this);
  SIMDBox->setMinimumWidth(90);
  PathLabel->setBuddy(SIMDBox);
  PathRow->addWidget(PathLabel);
  PathRow->addWidget(SIMDBox);
  PathRow->addStretch(1);
  Layout->addLayout(PathRow);
  auto *ThreadRow = new QHBoxLayout;
  auto *ThreadLabel = new QLabel(QStringLiteral("最大スレッド数"), this);
  MaxThreadEdit = new TUDNumEdit(RESIZE_THREAD_RANGE, this);
  MaxThreadEdit->setMinimumWidth(70);
  ThreadLabel->setBuddy(MaxThreadEdit);
  ThreadRow->addWidget(ThreadLabel);
  ThreadRow->addWidget(MaxThreadEdit);
  ThreadRow->addStretch(1);
  Layout->addLayout(ThreadRow);
  DegammaCheck = new QCheckBox(QStringLiteral("リニアな色空間で処理する"), this);
  NoExpandCheck = new QCheckBox(QStringLiteral("拡大しない"), this);
  LimiterCheck = new QCheckBox(QStringLiteral("リミッター"), this);
  for (QWidget *W : {DegammaCheck, NoExpandCheck, LimiterCheck}) Layout->addWidget(W);
  auto *Box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  Layout->addWidget(Box);
  connect(Box, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(Box, &QDialogButtonBox::rejected, this, &QDialog::reject);

  // Fill.
  Decimation.Box->setCurrentIndex(FRules.DecimationIndex);
  Interpolation.Box->setCurrentIndex(FRules.InterpolationIndex);
  Decimation.Radius->setValue(FRules.DecimationRadius);
  Decimation.Sharp->setValue(FRules.DecimationSharp);
  Decimation.Blur->setValue(FRules.DecimationBlur);
  Interpolation.Radius->setValue(FRules.InterpolationRadius);
  Interpolation.Sharp->setValue(FRules.InterpolationSharp);
  Interpolation.Blur->setValue(FRules.InterpolationBlur);
  MaxThreadEdit->setValue(FRules.MaxThread);
  DegammaCheck->setChecked(FRules.Degamma);
  NoExpandCheck->setChecked(FRules.NoExpand);
  LimiterCheck->setChecked(FRules.Limiter);
  FillSIMDBox();
  ShowGroups();

  for (QComboBox *B : {Decimation.Box, Interpolation.Box})
    connect(B, &QComboBox::currentIndexChanged, this, [this] { ShowGroups(); });
  connect(DegammaCheck, &QCheckBox::toggled, this, [this](bool On) {
    FRules.SetDegamma(On);
    FillSIMDBox();
  });
}

TResizeOptionForm::TKernelControls TResizeOptionForm::CreateKernelControls(const char *Caption,
                                                                           const std::vector<int32_t> &Kernels,
                                                                           const TNumRange &Radius,
                                                                           const TNumRange &Sharp,
                                                                           const TNumRange &Blur,
                                                                           QVBoxLayout *Layout) {
  TKernelControls C;
  auto *Group = new QGroupBox(QString::fromUtf8(Caption), this);
  auto *L = new QVBoxLayout(Group);
  C.Box = new QComboBox(Group);
  for (int32_t K : Kernels) C.Box->addItem(QString::fromStdString(TResizeOptionRules::KernelCaption(K)));
  L->addWidget(C.Box);
  C.RadiusRow = ParamRow(Group, "半径", C.Radius, Radius);
  C.SharpRow = ParamRow(Group, "シャープ", C.Sharp, Sharp);
  C.BlurRow = ParamRow(Group, "ぼかし", C.Blur, Blur);
  for (QWidget *W : {C.RadiusRow, C.SharpRow, C.BlurRow}) L->addWidget(W);
  Layout->addWidget(Group);
  return C;
}

void TResizeOptionForm::ShowGroups() {
  auto Show = [](TKernelControls &C, const std::vector<int32_t> &Kernels) {
    const int Index = std::max(0, C.Box->currentIndex());
    const TKernelGroup G = TResizeOptionRules::GroupOf(Kernels[size_t(Index)]);
    C.RadiusRow->setVisible(G == TKernelGroup::Radius);
    C.SharpRow->setVisible(G == TKernelGroup::Sharp);
    C.BlurRow->setVisible(G == TKernelGroup::Blur);
  };
  Show(Decimation, TResizeOptionRules::DecimationKernels());
  Show(Interpolation, TResizeOptionRules::InterpolationKernels());
}

void TResizeOptionForm::FillSIMDBox() {
  SIMDBox->clear();
  for (const std::string &C : TResizeOptionRules::SIMDChoices(FRules.Degamma))
    SIMDBox->addItem(QString::fromStdString(C));
  SIMDBox->setCurrentIndex(FRules.SIMDIndex);
}

void TResizeOptionForm::FromControls() {
  FRules.DecimationIndex = std::max(0, Decimation.Box->currentIndex());
  FRules.InterpolationIndex = std::max(0, Interpolation.Box->currentIndex());
  FRules.DecimationRadius = Decimation.Radius->IntValue();
  FRules.DecimationSharp = Decimation.Sharp->IntValue();
  FRules.DecimationBlur = Decimation.Blur->IntValue();
  FRules.InterpolationRadius = Interpolation.Radius->IntValue();
  FRules.InterpolationSharp = Interpolation.Sharp->IntValue();
  FRules.InterpolationBlur = Interpolation.Blur->IntValue();
  FRules.SIMDIndex = std::max(0, SIMDBox->currentIndex());
  FRules.MaxThread = MaxThreadEdit->IntValue();
  FRules.Degamma = DegammaCheck->isChecked();
  FRules.NoExpand = NoExpandCheck->isChecked();
  FRules.Limiter = LimiterCheck->isChecked();
}

void TResizeOptionForm::StoreTo(TResizeOption &Option) {
  FromControls();
  FRules.StoreTo(Option);
}

bool ShowResizeOptionDialog(QWidget *Parent) {
  TResizeOptionForm Form(ResizeOption, Parent);
  if (Form.exec() != QDialog::Accepted) return false;
  Form.StoreTo(ResizeOption);
  return true;
}
