// The colour-space conversion dialog.
#include "app/window/dialogs/ColorSpaceConvertForm.h"

#include "app/window/dialogs/DialogButtons.h"
#include "app/window/dialogs/DialogControls.h"
#include "app/window/dialogs/DialogWidgets.h"
#include "batch/ConvertOption.h"
#include "color/ICCUtil.h"
#include "core/ProgramFolder.h"
#include "effects/Effect.h"
#include "effects/RunSettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const char *const IntentNames[] = {"知覚的", "相対的", "彩度", "絶対的"};

}  // namespace

TColorSpaceConvertForm::TColorSpaceConvertForm(TColorSpaceConvertEffect &Effect, const TPreviewContext &Ctx,
                                               QWidget *Parent)
    : TPreviewBaseForm(Ctx, Parent), FEffect(Effect), FProfileDir(ColorManagementOption.ColorProfileDir) {
  setWindowTitle(QString::fromUtf8(CSC_FORM_CAPTION));
  UseHistogram = true;
  // A gray target turns the picture into one channel.
  FNeedUpdateBitmapInfo = true;
  AskProfileFile = [this](const std::string &Folder) {
    return QFileDialog::getOpenFileName(this, QString(), QString::fromStdString(Folder),
                                        QStringLiteral("ICCプロファイル(*.icc *.icm)"))
        .toStdString();
  };
  ShowWarning = [this](const std::string &Text) {
    QMessageBox::warning(this, QStringLiteral("TessivoPlus"), QString::fromStdString(Text));
  };

  auto *Top = new QVBoxLayout(this);
  auto *Form = new QFormLayout;
  auto *ProfileRow = new QHBoxLayout;
  ProfileBox = new QComboBox;
  ProfileBox->setMinimumWidth(260);
  BrowseButton = new QPushButton(QStringLiteral("..."));
  BrowseButton->setFixedWidth(BrowseButton->fontMetrics().horizontalAdvance(QStringLiteral("...")) + 24);
  ProfileRow->addWidget(ProfileBox, 1);
  ProfileRow->addWidget(BrowseButton);
  Form->addRow(QStringLiteral("出力色空間"), ProfileRow);
  IntentBox = new QComboBox;
  for (const char *Name : IntentNames) IntentBox->addItem(QString::fromUtf8(Name));
  IntentBox->setCurrentIndex(std::clamp(Effect.FRenderingIntent, 0, 3));
  Form->addRow(QStringLiteral("レンダリングインテント"), IntentBox);
  Top->addLayout(Form);
  RemoveAlphaCheck = new QCheckBox(QStringLiteral("αチャンネルを除去する"));
  RemoveAlphaCheck->setChecked(Effect.FRemoveAlpha != LongFalse);
  Top->addWidget(RemoveAlphaCheck);
  auto *PreviewRow = new QHBoxLayout;
  PreviewCheck = new QCheckBox(QStringLiteral("プレビュー"));
  PreviewCheck->setChecked(Effect.FPreview);
  HistogramCheck = new QCheckBox(QStringLiteral("ヒストグラム"));
  HistogramCheck->setChecked(Effect.FHistogram);
  HistogramCheck->setEnabled(Effect.FPreview);
  PreviewRow->addWidget(PreviewCheck);
  PreviewRow->addWidget(HistogramCheck);
  PreviewRow->addStretch();
  Top->addLayout(PreviewRow);
  Top->addLayout(OKCancelRow(this));

  FChoices = ColorSpaceChoices(GetColorDirectories());
  FillProfiles(SelectProfileChoice(FChoices, Effect.FOutputProfileName));

  connect(ProfileBox, &QComboBox::currentIndexChanged, this, [this] { RequestPreview(); });
  connect(IntentBox, &QComboBox::currentIndexChanged, this, [this] { RequestPreview(); });
  connect(RemoveAlphaCheck, &QCheckBox::toggled, this, [this] { RequestPreview(); });
  connect(BrowseButton, &QPushButton::clicked, this, [this] {
    const std::string Path = AskProfileFile(ProfileDialogFolder(FProfileDir, ProgramFolder()));
    if (!Path.empty()) ChooseFile(Path);
  });
  WirePreviewBoxes(*this, PreviewCheck, HistogramCheck);
  connect(PreviewCheck, &QCheckBox::toggled, HistogramCheck, &QWidget::setEnabled);
  SetPreviewImageIndex(Ctx.SelectedIndex < 0 ? 0 : Ctx.SelectedIndex);
}

TColorSpaceConvertForm::~TColorSpaceConvertForm() { StopPreviewThreads(); }

void TColorSpaceConvertForm::FillProfiles(size_t Selected) {
  const QSignalBlocker Quiet(ProfileBox);
  ProfileBox->clear();
  for (const TProfileChoice &C : FChoices) ProfileBox->addItem(QString::fromStdString(C.Name));
  ProfileBox->setCurrentIndex(int(Selected));
}

void TColorSpaceConvertForm::ChooseFile(const std::string &Path) {
  const TProfileFileChoice Choice = ChooseProfileFile(FChoices, Path, ProgramFolder(), FProfileDir);
  if (!Choice.Warning.empty()) {
    ShowWarning(Choice.Warning);
    return;
  }
  if (Choice.Selected < 0) return;
  FillProfiles(size_t(Choice.Selected));
  RequestPreview();
}

std::string TColorSpaceConvertForm::SelectedProfile() const {
  const int I = ProfileBox->currentIndex();
  return I < 0 || size_t(I) >= FChoices.size() ? FEffect.FOutputProfileName : FChoices[size_t(I)].Path;
}

void TColorSpaceConvertForm::PreviewClosed() { PreviewCheck->setChecked(false); }
uint32_t TColorSpaceConvertForm::GetEffectID() const { return EFFECT_COLOR_SPACE_CONVERT; }
bool TColorSpaceConvertForm::IsPreviewEnabled() const { return PreviewCheck->isChecked(); }
bool TColorSpaceConvertForm::IsHistogramEnabled() const {
  return PreviewCheck->isChecked() && HistogramCheck->isChecked();
}

TPreviewStep TColorSpaceConvertForm::MakePreviewStep() const {
  return [Profile = SelectedProfile(), Intent = IntentBox->currentIndex(),
          RemoveAlpha = RemoveAlphaCheck->isChecked()](TICCImgInfo &Img, TPreviewStepEnv &Env) {
    TColorSpaceConvertEffect Step;
    Step.FOutputProfileName = Profile;
    Step.FRenderingIntent = Intent;
    Step.FRemoveAlpha = RemoveAlpha ? LongTrue : LongFalse;
    Step.DoEffect(Img, Env.Params);
  };
}

void TColorSpaceConvertForm::accept() {
  FEffect.FOutputProfileName = SelectedProfile();
  FEffect.FRenderingIntent = IntentBox->currentIndex();
  FEffect.FRemoveAlpha = RemoveAlphaCheck->isChecked() ? LongTrue : LongFalse;
  FEffect.FPreview = PreviewCheck->isChecked();
  FEffect.FHistogram = HistogramCheck->isChecked();
  ColorManagementOption.ColorProfileDir = FProfileDir;
  TPreviewBaseForm::accept();
}

namespace {

const TEffectDialogRegistrar Registrar(EFFECT_COLOR_SPACE_CONVERT, ModalDialogOpener<TColorSpaceConvertForm, TColorSpaceConvertEffect>());

}  // namespace
