// The rotation dialog.
#include "app/window/dialogs/RotationForm.h"

#include "app/window/dialogs/DialogButtons.h"
#include "app/window/dialogs/DialogWidgets.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QListWidget>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>

TRotationForm::TRotationForm(TRotationFilter &Effect, const TPreviewContext &Ctx, QWidget *Parent)
    : TPreviewBaseForm(Ctx, Parent), FEffect(Effect) {
  FNeedUpdateBitmapInfo = true;  // a quarter turn swaps the sides
  setWindowTitle(QStringLiteral("回転の設定"));
  auto *Layout = new QVBoxLayout(this);
  TypeGroup = new QButtonGroup(this);
  const char *Types[] = {"全て画像を対象にする", "横長画像のみ", "縦長画像のみ"};
  for (int i = 0; i < 3; ++i) {
    auto *R = new QRadioButton(QString::fromUtf8(Types[i]), this);
    TypeGroup->addButton(R, i);
    Layout->addWidget(R);
  }
  OperationList = new QListWidget(this);
  OperationList->addItems({QStringLiteral("90度回転"), QStringLiteral("180度回転"), QStringLiteral("270度回転"),
                           QStringLiteral("左右反転"), QStringLiteral("上下反転")});
  OperationList->setFixedHeight(OperationList->sizeHintForRow(0) * 5 + 2 * OperationList->frameWidth() + 4);
  Layout->addWidget(OperationList);
  Layout->addLayout(OKCancelRow(this));

  if (QAbstractButton *B = TypeGroup->button(std::clamp(Effect.FType, 0, 2))) B->setChecked(true);
  OperationList->setCurrentRow(std::clamp(Effect.FValue, 0, 4));

  connect(TypeGroup, &QButtonGroup::idClicked, this, [this] { RequestPreview(); });
  connect(OperationList, &QListWidget::currentRowChanged, this, [this] { RequestPreview(); });
  LoadSelectedEntry(*this, Ctx);
}

TRotationForm::~TRotationForm() { StopPreviewThreads(); }

void TRotationForm::RequestPreview() {
  const int32_t Type = TypeGroup->checkedId(), Value = OperationList->currentRow();
  FPreview.Show(*this, [Type, Value](TICCImgInfo &Img, TEffectParams &Params) {
    TRotationFilter Step;
    Step.FType = Type;
    Step.FValue = Value;
    Step.DoEffect(Img, Params);
  });
}

void TRotationForm::accept() {
  FEffect.FType = std::max(0, TypeGroup->checkedId());
  FEffect.FValue = std::max(0, OperationList->currentRow());
  TPreviewBaseForm::accept();
}

namespace {

const TEffectDialogRegistrar Registrar = DialogRegistrar<TRotationForm, TRotationFilter>(EFFECT_ROTATION);

}  // namespace
