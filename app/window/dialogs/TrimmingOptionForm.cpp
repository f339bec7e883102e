// The trimming dialog.
#include "app/window/dialogs/TrimmingOptionForm.h"

#include "app/window/dialogs/DialogButtons.h"
#include "app/window/dialogs/DialogWidgets.h"
#include "app/window/dialogs/SizeFieldRules.h"
#include "app/window/preview/PreviewForm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QString Q(const std::string &S) { return QString::fromStdString(S); }

constexpr int32_t ConditionAll = 2;

}  // namespace

TTrimmingOptionForm::TTrimmingOptionForm(TTrimmingFilter &Effect, const TPreviewContext &Ctx, QWidget *Parent)
    : TPreviewBaseForm(Ctx, Parent), FEffect(Effect) {
  setWindowTitle(QStringLiteral("トリミング設定"));
  AskRatio = [this](const QString &Default) -> std::optional<QString> {
    bool Ok = false;
    const QString T = QInputDialog::getText(this, QStringLiteral("追加"), QStringLiteral("アスペクト比を入力してください"),
                                            QLineEdit::Normal, Default, &Ok);
    if (!Ok) return std::nullopt;
    return T;
  };

  auto *Layout = new QVBoxLayout(this);
  auto *Grid = new QGridLayout;
  FRows = AddValueFieldRows(this, Grid,
                            {QStringLiteral("X座標、Y座標、幅、高さ(px)"), QStringLiteral("左、上、右、下のオフセット(px)"),
                             QStringLiteral("左、上、右、下のオフセット(%)"), QStringLiteral("アスペクト比指定")});
  TypeBox = FRows.TypeBox, ExpBox = FRows.ExpBox;
  LandscapeLabel = FRows.LandscapeLabel, PortraitLabel = FRows.PortraitLabel;
  LandscapeEdit = FRows.LandscapeEdit, PortraitEdit = FRows.PortraitEdit;
  Layout->addLayout(Grid);
  PreviewCheck = new QCheckBox(QStringLiteral("プレビュー"), this);
  Layout->addWidget(PreviewCheck);
  auto *PresetRow = new QHBoxLayout;
  PresetList = new QListWidget(this);
  PresetList->setFixedHeight(96);
  auto *PresetButtons = new QVBoxLayout;
  AddButton = new QPushButton(QStringLiteral("追加"), this);
  DeleteButton = new QPushButton(QStringLiteral("削除"), this);
  PresetButtons->addWidget(AddButton);
  PresetButtons->addWidget(DeleteButton);
  PresetButtons->addStretch(1);
  PresetRow->addWidget(PresetList, 1);
  PresetRow->addLayout(PresetButtons);
  Layout->addLayout(PresetRow);
  Layout->addLayout(OKCancelRow(this));

  // Copy in.
  TypeBox->setCurrentIndex(std::clamp(Effect.FType, 0, 3));
  ExpBox->setCurrentIndex(std::clamp(Effect.FExp, 0, 2));
  const TFieldForm Form = TrimmingFieldForm(TypeBox->currentIndex());
  LandscapeEdit->setText(Q(FieldText(Effect.FValue, 0, Form)));
  PortraitEdit->setText(Q(FieldText(Effect.FValue, 4, Form)));
  PreviewCheck->setChecked(Effect.FPreview != LongFalse);
  for (const std::string &P : SizePresetItems(Effect.FSizeList)) PresetList->addItem(Q(P));
  PresetList->setCurrentRow(0);
  ShowCondition(FRows);

  WireValueFieldRows(*this, FRows, [](int Type) { return QString::fromUtf8(TrimmingTypeDefaultText(Type)); });
  for (QLineEdit *E : {LandscapeEdit, PortraitEdit})
    connect(E, &QLineEdit::textChanged, this, [this] {
      if (!FWritingBack) RequestPreview();
    });
  connect(PresetList, &QListWidget::currentRowChanged, this, [this] { PresetSelected(); });
  connect(AddButton, &QPushButton::clicked, this, [this] {
    const int Row = PresetList->currentRow();
    const QString Default = Row > 0 ? PresetList->item(Row)->text() : QStringLiteral("1:1");
    if (const std::optional<QString> T = AskRatio(Default)) AddPreset(*T);
  });
  connect(DeleteButton, &QPushButton::clicked, this, [this] { DeletePreset(); });
  WirePreviewBoxes(*this, PreviewCheck, nullptr);
  LoadSelectedEntry(*this, Ctx);
  if (Master()) PreviewWindow()->SetOnChangeSelectRect([this](const QRect &R) { SelectionChanged(R); });
  PresetSelected();
}

TTrimmingOptionForm::~TTrimmingOptionForm() {
  PreviewWindow()->SetOnChangeSelectRect(nullptr);
  PreviewWindow()->SetSelectRect(QRect());
  PreviewWindow()->SetSelectSize(QSize());
  StopPreviewThreads();
}

void TTrimmingOptionForm::PreviewClosed() { PreviewCheck->setChecked(false); }
bool TTrimmingOptionForm::IsPreviewEnabled() const { return PreviewCheck->isChecked(); }

void TTrimmingOptionForm::CheckSize(int32_t &w, int32_t &h) const { FieldCheckSize(*this, w, h); }

QLineEdit *TTrimmingOptionForm::ActiveField() const {
  int32_t w, h;
  CheckSize(w, h);
  return UsesLandscapeValues(ExpBox->currentIndex(), w, h) ? LandscapeEdit : PortraitEdit;
}

void TTrimmingOptionForm::RequestPreview() {
  const TICCImgInfo *M = Master();
  if (!M) return;
  int32_t w, h;
  CheckSize(w, h);
  const int32_t Type = TypeBox->currentIndex();
  const std::optional<TFieldValues> V = ParseField(ActiveField()->text().toStdString(), TrimmingFieldForm(Type), w, h);
  const std::optional<TTrimRect> R = V ? TrimmingFieldRect(Type, *V, w, h) : std::nullopt;
  PreviewWindow()->SetSelectRect(R ? QRect(R->L, R->T, R->W, R->H) : QRect());
}

void TTrimmingOptionForm::SelectionChanged(const QRect &R) {
  int32_t w, h;
  CheckSize(w, h);
  const std::string Text = TrimmingSelectionText(TypeBox->currentIndex(), {R.left(), R.top(), R.width(), R.height()}, w, h);
  if (Text.empty()) return;
  FWritingBack = true;
  ActiveField()->setText(Q(Text));
  FWritingBack = false;
}

void TTrimmingOptionForm::PresetSelected() {
  const int Row = PresetList->currentRow();
  const std::array<int32_t, 2> S = PresetSelectSize(Row > 0 ? PresetList->item(Row)->text().toStdString() : "");
  PreviewWindow()->SetSelectSize(QSize(S[0], S[1]));
  DeleteButton->setEnabled(Row > 0);
}

bool TTrimmingOptionForm::AddPreset(const QString &Text) {
  const std::optional<std::string> Ratio = ParseAspectPreset(Text.toStdString());
  if (!Ratio) return false;
  PresetList->addItem(Q(*Ratio));
  PresetList->setCurrentRow(PresetList->count() - 1);
  return true;
}

void TTrimmingOptionForm::DeletePreset() {
  const int Row = PresetList->currentRow();
  if (Row <= 0) return;
  delete PresetList->takeItem(Row);
  PresetList->setCurrentRow(std::min(Row, PresetList->count() - 1));
}

std::vector<std::string> TTrimmingOptionForm::Presets() const {
  std::vector<std::string> Items;
  for (int i = 0; i < PresetList->count(); ++i) Items.push_back(PresetList->item(i)->text().toStdString());
  return Items;
}

void TTrimmingOptionForm::accept() {
  int32_t w, h;
  CheckSize(w, h);
  const int32_t Type = TypeBox->currentIndex();
  const TFieldForm Form = TrimmingFieldForm(Type);
  const std::optional<TFieldValues> Landscape = ParseField(LandscapeEdit->text().toStdString(), Form, w, h);
  std::optional<TFieldValues> Portrait = ParseField(PortraitEdit->text().toStdString(), Form, w, h);
  // Under "ALL" the portrait field is hidden; what it holds is kept as long
  // as it reads, else the landscape values stand for it.
  if (ExpBox->currentIndex() == ConditionAll && !Portrait) Portrait = Landscape;
  if (!Landscape || !Portrait) {
    QMessageBox::warning(this, QString::fromUtf8(SIZE_FIELD_ERROR_TITLE), QString::fromUtf8(SIZE_FIELD_ERROR));
    return;
  }
  FEffect.FType = Type;
  FEffect.FExp = ExpBox->currentIndex();
  for (size_t i = 0; i < 4; ++i) FEffect.FValue[i] = (*Landscape)[i], FEffect.FValue[i + 4] = (*Portrait)[i];
  FEffect.FPreview = PreviewCheck->isChecked() ? LongTrue : LongFalse;
  FEffect.FSizeList = SizePresetListText(Presets());
  TPreviewBaseForm::accept();
}

namespace {

const TEffectDialogRegistrar Registrar = DialogRegistrar<TTrimmingOptionForm, TTrimmingFilter>(EFFECT_TRIMMING);

}  // namespace
