// The tone-curve dialog.
#include "app/window/dialogs/ToneCurveOptionForm.h"

#include "app/SettingsFile.h"
#include "app/window/dialogs/CurveEditRules.h"
#include "app/window/dialogs/DialogButtons.h"
#include "app/window/dialogs/DialogWidgets.h"
#include "app/window/dialogs/CurveGrid.h"
#include "app/window/preview/PreviewForm.h"
#include "batch/ConvertOption.h"
#include "core/Errors.h"
#include "effects/Presets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <filesystem>

namespace {

QString Q(const std::string &S) { return QString::fromStdString(S); }

const char *const ChannelNames[CURVE_COUNT] = {"RGB", "R", "G", "B", "Y", "CbCr"};

}  // namespace

TToneCurveOptionForm::TToneCurveOptionForm(TToneCurveEffect &Effect, const TPreviewContext &Ctx, QWidget *Parent)
    : TPreviewBaseForm(Ctx, Parent), FEffect(Effect), FCurves(Effect.FControlPoints), FOpened(Effect.FControlPoints) {
  UseHistogram = true;
  setWindowTitle(QStringLiteral("トーンカーブの設定"));
  AskPoint = [this](const QString &Current) -> std::optional<QString> {
    bool Ok = false;
    const QString T = QInputDialog::getText(this, QStringLiteral("制御点の座標入力"), QStringLiteral("X,Y"),
                                            QLineEdit::Normal, Current, &Ok);
    if (!Ok) return std::nullopt;
    return T;
  };
  AskPresetName = [this]() -> std::optional<std::string> {
    bool Ok = false;
    const QString T = QInputDialog::getText(this, QStringLiteral("保存"), QStringLiteral("プリセット名"),
                                            QLineEdit::Normal, QString(), &Ok);
    if (!Ok || T.trimmed().isEmpty()) return std::nullopt;
    return T.trimmed().toStdString();
  };
  ShowMessage = [this](const QString &Text) { QMessageBox::warning(this, windowTitle(), Text); };

  auto *Layout = new QHBoxLayout(this);
  auto *Left = new QVBoxLayout;
  auto *Top = new QHBoxLayout;
  ChannelBox = new QComboBox(this);
  for (const char *Name : ChannelNames) ChannelBox->addItem(QString::fromUtf8(Name));
  ResetButton = new QPushButton(QStringLiteral("リセット"), this);
  ResetButton->setToolTip(QStringLiteral("このカーブを直線に戻します"));
  Top->addWidget(ChannelBox);
  Top->addStretch(1);
  Top->addWidget(ResetButton);
  Left->addLayout(Top);
  Grid = new TCurveGrid(this);
  Left->addWidget(Grid);
  PositionLabel = new QLabel(this);
  PositionLabel->setMinimumWidth(120);
  Left->addWidget(PositionLabel);
  Layout->addLayout(Left);

  auto *Right = new QVBoxLayout;
  PointList = new QListWidget(this);
  PointList->setFixedWidth(120);
  Right->addWidget(PointList, 1);
  PresetBox = new QComboBox(this);
  PresetBox->setMinimumWidth(150);
  Right->addWidget(PresetBox);
  auto *PresetRow = new QHBoxLayout;
  SaveButton = new QPushButton(QStringLiteral("保存"), this);
  ResetAllButton = new QPushButton(QStringLiteral("リセット"), this);
  ResetAllButton->setToolTip(QStringLiteral("すべてのカーブを直線に戻します"));
  PresetRow->addWidget(SaveButton);
  PresetRow->addWidget(ResetAllButton);
  Right->addLayout(PresetRow);
  LabCheck = new QCheckBox(QStringLiteral("Lab"), this);
  HistogramCheck = new QCheckBox(QStringLiteral("ヒストグラム"), this);
  ScaleBox = new QComboBox(this);
  ScaleBox->addItems({QStringLiteral("線形"), QStringLiteral("対数")});
  PreviewCheck = new QCheckBox(QStringLiteral("プレビュー"), this);
  Right->addWidget(LabCheck);
  auto *HistRow = new QHBoxLayout;
  HistRow->addWidget(HistogramCheck);
  HistRow->addWidget(ScaleBox);
  Right->addLayout(HistRow);
  Right->addWidget(PreviewCheck);
  Right->addLayout(OKCancelRow(this));
  Layout->addLayout(Right);

  // Copy in.
  LabCheck->setChecked(Effect.FLab);
  LabCheck->setEnabled(SystemOption.EnabledLabMode != LongFalse);
  HistogramCheck->setChecked(Effect.FHistogram);
  ScaleBox->setCurrentIndex(Effect.FHistogramType == 1 ? 1 : 0);
  PreviewCheck->setChecked(Effect.FPreview);
  SetPresetFolder(PresetFolder(DataFolder(), "ToneCurve"));
  SelectCurve(CURVE_RGB);

  connect(ChannelBox, &QComboBox::currentIndexChanged, this, [this](int I) { SelectCurve(I); });
  Grid->OnChanged = [this] { CurveChanged(); };
  Grid->OnMouseAt = [this](int X, int Y) { PositionLabel->setText(QStringLiteral("x=%1,y=%2").arg(X).arg(Y)); };
  connect(PointList, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem *Item) {
    const int Row = PointList->row(Item);
    if (const std::optional<QString> T = AskPoint(Item->text())) EnterPoint(Row, *T);
  });
  connect(ResetButton, &QPushButton::clicked, this, [this] {
    FCurves[size_t(CurrentCurve())] = DefaultCurves()[size_t(CurrentCurve())];
    SelectCurve(CurrentCurve());
    RequestPreview();
  });
  connect(ResetAllButton, &QPushButton::clicked, this, [this] {
    FCurves = DefaultCurves();
    SelectCurve(CurrentCurve());
    RequestPreview();
  });
  connect(PresetBox, &QComboBox::activated, this, [this](int I) { ChoosePreset(I); });
  connect(SaveButton, &QPushButton::clicked, this, [this] {
    if (const std::optional<std::string> Name = AskPresetName()) SavePresetAs(*Name);
  });
  connect(LabCheck, &QCheckBox::toggled, this, [this] { RequestPreview(); });
  WirePreviewBoxes(*this, PreviewCheck, HistogramCheck);
  LoadSelectedEntry(*this, Ctx);
}

TToneCurveOptionForm::~TToneCurveOptionForm() { StopPreviewThreads(); }

void TToneCurveOptionForm::PreviewClosed() { PreviewCheck->setChecked(false); }
bool TToneCurveOptionForm::IsPreviewEnabled() const { return PreviewCheck->isChecked(); }
bool TToneCurveOptionForm::IsHistogramEnabled() const { return HistogramCheck->isChecked(); }
int32_t TToneCurveOptionForm::CurrentCurve() const { return std::max(0, ChannelBox->currentIndex()); }

void TToneCurveOptionForm::SelectCurve(int32_t Curve) {
  if (ChannelBox->currentIndex() != Curve) ChannelBox->setCurrentIndex(Curve);  // comes back here
  Grid->SetCurve(&FCurves[size_t(Curve)]);
  FillPointList();
}

void TToneCurveOptionForm::CurveChanged() {
  FillPointList();
  Grid->update();
  RequestPreview();
}

bool TToneCurveOptionForm::EnterPoint(int32_t Index, const QString &Text) {
  TCurveEditor Editor(FCurves[size_t(CurrentCurve())]);
  if (!Editor.SetPointText(Index, Text.toStdString())) return false;
  CurveChanged();
  return true;
}

void TToneCurveOptionForm::FillPointList() {
  PointList->clear();
  for (const TCurvePoint &P : FCurves[size_t(CurrentCurve())]) PointList->addItem(Q(CurvePointText(P)));
}

void TToneCurveOptionForm::SetPresetFolder(const std::string &Folder) {
  FPresetFolder = Folder;
  FillPresets();
}

void TToneCurveOptionForm::FillPresets() {
  FPresetNames = ListPresets(FPresetFolder);
  PresetBox->clear();
  PresetBox->addItem(QStringLiteral("(開いたときのカーブ)"));
  for (const std::string &N : FPresetNames) PresetBox->addItem(Q(N));
}

void TToneCurveOptionForm::ChoosePreset(int32_t Index) {
  if (Index <= 0) {
    FCurves = FOpened;
  } else if (size_t(Index) <= FPresetNames.size()) {
    // The preset file reads into a scratch effect, so a damaged file
    // leaves the curves being edited as they are.
    TToneCurveEffect Scratch;
    try {
      Scratch.LoadPreset(FPresetFolder + FPresetNames[size_t(Index) - 1] + ".txt");
    } catch (const std::exception &E) {
      ShowMessage(QString::fromUtf8(E.what()));
      return;
    }
    FCurves = Scratch.FControlPoints;
  }
  SelectCurve(CurrentCurve());
  RequestPreview();
}

bool TToneCurveOptionForm::SavePresetAs(const std::string &Name) {
  if (Name.empty() || Name.find('/') != std::string::npos) {
    ShowMessage(QStringLiteral("プリセット名に使えない文字があります: %1").arg(Q(Name)));
    return false;
  }
  TToneCurveEffect Scratch;
  Scratch.FControlPoints = FCurves;
  try {
    std::filesystem::create_directories(FPresetFolder);
    Scratch.SavePreset(FPresetFolder + Name + ".txt");
  } catch (const std::exception &E) {
    ShowMessage(QString::fromUtf8(E.what()));
    return false;
  }
  FillPresets();
  for (size_t i = 0; i < FPresetNames.size(); ++i)
    if (FPresetNames[i] == Name) PresetBox->setCurrentIndex(int(i) + 1);
  return true;
}

TPreviewStep TToneCurveOptionForm::MakePreviewStep() const {
  // Each run builds its own tables on its preview thread: the full and the
  // spot thread may run the step at once, and the dialog's thread stays free.
  return [Curves = FCurves, Lab = LabCheck->isChecked()](TICCImgInfo &Img, TPreviewStepEnv &Env) {
    TToneCurveEffect Step;
    Step.FControlPoints = Curves;
    Step.FLab = Lab;
    Step.UpdateTables();
    if (Env.Cancelled()) return;
    Step.DoEffect(Img, Env.Params);
  };
}

void TToneCurveOptionForm::accept() {
  FEffect.FControlPoints = FCurves;
  FEffect.FLab = LabCheck->isChecked();
  FEffect.FHistogram = HistogramCheck->isChecked();
  FEffect.FHistogramType = ScaleBox->currentIndex();
  FEffect.FPreview = PreviewCheck->isChecked();
  FEffect.UpdateTables();
  TPreviewBaseForm::accept();
}

namespace {

const TEffectDialogRegistrar Registrar = DialogRegistrar<TToneCurveOptionForm, TToneCurveEffect>(EFFECT_TONE_CURVE);

}  // namespace
