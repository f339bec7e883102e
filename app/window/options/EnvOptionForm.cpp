// The environment dialog and its page dialogs.
#include "app/window/options/EnvOptionForm.h"

#include "app/SettingsFile.h"
#include "app/window/options/FileChoice.h"
#include "app/window/options/MonitorColor.h"
#include "app/window/options/NumEdit.h"
#include "batch/ErrorLogFrm.h"
#include "color/ICCUtil.h"
#include "io/FormatOption.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <exception>

namespace {

QString Q(const std::string &S) { return QString::fromStdString(S); }
std::string S(const QString &T) { return T.toStdString(); }

QToolButton *BrowseButton(QWidget *Parent) {
  auto *B = new QToolButton(Parent);
  B->setText(QStringLiteral("..."));
  return B;
}

// Radio buttons with the captions in order, their ids the indexes.
QButtonGroup *RadioGroup(QWidget *Parent, QBoxLayout *Layout, std::initializer_list<const char *> Captions) {
  auto *Group = new QButtonGroup(Parent);
  int Id = 0;
  for (const char *Caption : Captions) {
    auto *R = new QRadioButton(QString::fromUtf8(Caption), Parent);
    Group->addButton(R, Id++);
    Layout->addWidget(R);
  }
  return Group;
}

void Check(QButtonGroup *Group, int Id) {
  if (QAbstractButton *B = Group->button(Id)) B->setChecked(true);
}

int CheckedIdOr(QButtonGroup *Group, int Fallback) {
  const int Id = Group->checkedId();
  return Id < 0 ? Fallback : Id;
}

void EnableButtons(QButtonGroup *Group, bool On) {
  for (QAbstractButton *B : Group->buttons()) B->setEnabled(On);
}

// A page dialog shown on a tab: a plain widget there, with its caption kept.
void AsTabPage(QDialog *Page) { Page->setWindowFlags(Qt::Widget); }

// The folder of a command line: that of its program, quoted or up to the
// first blank.
std::string CommandFolder(const std::string &Command) {
  std::string Program = Command;
  if (!Program.empty() && Program.front() == '"') {
    const size_t End = Program.find('"', 1);
    Program = Program.substr(1, End == std::string::npos ? std::string::npos : End - 1);
  } else if (const size_t Blank = Program.find(' '); Blank != std::string::npos) {
    Program.resize(Blank);
  }
  return ExtractFilePath(Program);
}

}  // namespace

// ---------------------------------------------------------------------------
// System page

TSystemOptionForm::TSystemOptionForm(TEnvOptionRules &Rules, QWidget *Parent)
    : QDialog(Parent), FRules(Rules), FColorChoice(Rules.System.CustomPalette) {
  setWindowTitle(QStringLiteral("システム設定"));
  auto *Layout = new QVBoxLayout(this);
  ParallelCheck = new QCheckBox(QStringLiteral("複数ファイルを並列処理する"), this);
  Layout->addWidget(ParallelCheck);
  auto *ThreadRow = new QHBoxLayout;
  ThreadRow->addSpacing(20);
  MaxThreadLabel = new QLabel(QStringLiteral("最大スレッド数"), this);
  MaxThreadEdit = new TUDNumEdit(MaxThreadRange(Rules.System.ProcessorCount), this);
  MaxThreadEdit->setMinimumWidth(70);
  MaxThreadLabel->setBuddy(MaxThreadEdit);
  ThreadRow->addWidget(MaxThreadLabel);
  ThreadRow->addWidget(MaxThreadEdit);
  ThreadRow->addStretch(1);
  Layout->addLayout(ThreadRow);
  MemReserveCheck = new QCheckBox(QStringLiteral("起動時にメモリを予約する"), this);
  Layout->addWidget(MemReserveCheck);

  auto *ColorRow = new QHBoxLayout;
  ColorRow->addWidget(new QLabel(QStringLiteral("背景色"), this));
  BackColorSwatch = new QLabel(this);
  BackColorSwatch->setFixedSize(48, 22);
  BackColorSwatch->setFrameShape(QFrame::Box);
  BackColorSwatch->setAutoFillBackground(true);
  ColorRow->addWidget(BackColorSwatch);
  BackColorButton = new QPushButton(QStringLiteral("設定..."), this);
  ColorRow->addWidget(BackColorButton);
  ColorRow->addStretch(1);
  Layout->addLayout(ColorRow);

  auto *DitherBox = new QGroupBox(QStringLiteral("ディザリング"), this);
  auto *DitherLayout = new QHBoxLayout(DitherBox);
  DitherGroup = RadioGroup(DitherBox, DitherLayout, {"なし", "ランダム", "誤差拡散"});
  DitherLayout->addStretch(1);
  Layout->addWidget(DitherBox);

  MultipleCheck = new QCheckBox(QStringLiteral("多重起動を許可する"), this);
  WatchClipBoardCheck = new QCheckBox(QStringLiteral("クリップボードを監視する"), this);
  LabModeCheck = new QCheckBox(QStringLiteral("Labモードを有効にする"), this);
  for (QWidget *W : {MultipleCheck, WatchClipBoardCheck, LabModeCheck}) Layout->addWidget(W);

  auto *PriorityRow = new QHBoxLayout;
  auto *PriorityLabel = new QLabel(QStringLiteral("プロセス優先度"), this);
  PriorityBox = new QComboBox(this);
  PriorityBox->addItems({QStringLiteral("低"), QStringLiteral("通常以下"), QStringLiteral("通常"),
                         QStringLiteral("通常以上"), QStringLiteral("高")});
  PriorityLabel->setBuddy(PriorityBox);
  PriorityRow->addWidget(PriorityLabel);
  PriorityRow->addWidget(PriorityBox);
  PriorityRow->addStretch(1);
  Layout->addLayout(PriorityRow);
  Layout->addStretch(1);

  connect(ParallelCheck, &QCheckBox::toggled, this, [this] { ApplyEnabling(); });
  connect(BackColorButton, &QPushButton::clicked, this, [this] {
    int32_t Color = int32_t(BackColor);
    if (FColorChoice.Choose(this, Color)) {
      BackColor = uint32_t(Color) & 0xFFFFFF;
      ShowBackColor();
    }
  });
  Fill();
}

void TSystemOptionForm::Fill() {
  const TSystemOption &O = FRules.System;
  ParallelCheck->setChecked(O.ParallelProcessing);
  MaxThreadEdit->setValue(O.MaxThread);
  MemReserveCheck->setChecked(O.MemReserve);
  BackColor = FRules.Background;
  ShowBackColor();
  Check(DitherGroup, O.Dither);
  MultipleCheck->setChecked(O.Multiple != LongFalse);
  WatchClipBoardCheck->setChecked(O.WatchClipBoard != LongFalse);
  LabModeCheck->setChecked(O.EnabledLabMode != LongFalse);
  PriorityBox->setCurrentIndex(O.ProcessPriority >= 0 && O.ProcessPriority <= 4 ? O.ProcessPriority : 2);
  ApplyEnabling();
}

void TSystemOptionForm::Store() {
  TSystemOption &O = FRules.System;
  O.ParallelProcessing = ParallelCheck->isChecked();
  O.MaxThread = MaxThreadEdit->IntValue();
  O.MemReserve = MemReserveCheck->isChecked();
  FRules.Background = BackColor;
  FColorChoice.Commit();
  O.Dither = CheckedIdOr(DitherGroup, O.Dither);
  O.Multiple = MultipleCheck->isChecked() ? LongTrue : LongFalse;
  O.WatchClipBoard = WatchClipBoardCheck->isChecked() ? LongTrue : LongFalse;
  O.EnabledLabMode = LabModeCheck->isChecked() ? LongTrue : LongFalse;
  O.ProcessPriority = PriorityBox->currentIndex();
}

void TSystemOptionForm::ApplyEnabling() {
  ParallelCheck->setEnabled(FRules.ParallelBoxEnabled());
  const bool Threads = FRules.ThreadFieldEnabled(ParallelCheck->isChecked());
  MaxThreadLabel->setEnabled(Threads);
  MaxThreadEdit->setEnabled(Threads);
}

void TSystemOptionForm::ShowBackColor() {
  QPalette P = BackColorSwatch->palette();
  P.setColor(QPalette::Window, ColorOfColorRef(MonitorColorOf(BackColor)));
  BackColorSwatch->setPalette(P);
}

// ---------------------------------------------------------------------------
// Output-folder page

TFolderOptionForm::TFolderOptionForm(TEnvOptionRules &Rules, QWidget *Parent) : QDialog(Parent), FRules(Rules) {
  setWindowTitle(QStringLiteral("出力フォルダ設定"));
  auto *Layout = new QVBoxLayout(this);
  SameDirectoryCheck = new QCheckBox(QStringLiteral("元画像と同じフォルダに出力"), this);
  Layout->addWidget(SameDirectoryCheck);
  OutputGroup = new QGroupBox(QStringLiteral("出力フォルダ"), this);
  auto *GroupLayout = new QVBoxLayout(OutputGroup);
  auto *DirRow = new QHBoxLayout;
  OutputDirectoryEdit = new QLineEdit(OutputGroup);
  OutputDirectoryEdit->setMinimumWidth(320);
  OutputDirectoryButton = BrowseButton(OutputGroup);
  DirRow->addWidget(OutputDirectoryEdit, 1);
  DirRow->addWidget(OutputDirectoryButton);
  GroupLayout->addLayout(DirRow);
  ShowDirectoryCheck = new QCheckBox(QStringLiteral("出力先のフォルダを開く"), OutputGroup);
  OpenCheckCheck = new QCheckBox(QStringLiteral("既に開いているフォルダは開かない"), OutputGroup);
  GroupLayout->addWidget(ShowDirectoryCheck);
  GroupLayout->addWidget(OpenCheckCheck);
  Layout->addWidget(OutputGroup);

  Layout->addWidget(new QLabel(QStringLiteral("クリップボードから生成した画像の出力先"), this));
  auto *ClipRow = new QHBoxLayout;
  ClipBoardTempDirEdit = new QLineEdit(this);
  ClipBoardTempDirButton = BrowseButton(this);
  ClipRow->addWidget(ClipBoardTempDirEdit, 1);
  ClipRow->addWidget(ClipBoardTempDirButton);
  Layout->addLayout(ClipRow);
  Layout->addStretch(1);

  connect(SameDirectoryCheck, &QCheckBox::toggled, this, [this] { ApplyEnabling(); });
  connect(OutputDirectoryButton, &QToolButton::clicked, this, [this] {
    const QString F = AskFolder(this, QStringLiteral("出力フォルダ"), OutputDirectoryEdit->text());
    if (!F.isEmpty()) OutputDirectoryEdit->setText(F);
  });
  connect(ClipBoardTempDirButton, &QToolButton::clicked, this, [this] {
    const QString F =
        AskFolder(this, QStringLiteral("クリップボードから生成した画像の一時保存場所"), ClipBoardTempDirEdit->text());
    if (!F.isEmpty()) ClipBoardTempDirEdit->setText(F);
  });
  Fill();
}

void TFolderOptionForm::Fill() {
  const TFileOption &O = FRules.File;
  SameDirectoryCheck->setChecked(O.SameDirectory);
  OutputDirectoryEdit->setText(Q(O.OutputDirectory));
  ShowDirectoryCheck->setChecked(O.ShowDirectory);
  OpenCheckCheck->setChecked(O.OpenCheck);
  ClipBoardTempDirEdit->setText(Q(O.ClipBoardTempDir));
  ApplyEnabling();
}

void TFolderOptionForm::Store() {
  TFileOption &O = FRules.File;
  O.SameDirectory = SameDirectoryCheck->isChecked();
  O.OutputDirectory = S(OutputDirectoryEdit->text());
  O.ShowDirectory = ShowDirectoryCheck->isChecked();
  O.OpenCheck = OpenCheckCheck->isChecked();
  O.ClipBoardTempDir = S(ClipBoardTempDirEdit->text());
}

void TFolderOptionForm::ApplyEnabling() {
  OutputGroup->setEnabled(TEnvOptionRules::OutputGroupEnabled(SameDirectoryCheck->isChecked()));
}

// ---------------------------------------------------------------------------
// Viewer page

TPreviewOptionForm::TPreviewOptionForm(TEnvOptionRules &Rules, QWidget *Parent) : QDialog(Parent), FRules(Rules) {
  setWindowTitle(QStringLiteral("プレビュー設定"));
  auto *Grid = new QGridLayout(this);
  Grid->addWidget(new QLabel(QStringLiteral("外部ビューア"), this), 0, 0);
  ViewerPathEdit = new QLineEdit(this);
  ViewerPathEdit->setMinimumWidth(320);
  ViewerPathButton = BrowseButton(this);
  Grid->addWidget(ViewerPathEdit, 0, 1);
  Grid->addWidget(ViewerPathButton, 0, 2);
  Grid->addWidget(new QLabel(QStringLiteral("起動オプション"), this), 1, 0);
  ViewerOptionEdit = new QLineEdit(this);
  Grid->addWidget(ViewerOptionEdit, 1, 1, 1, 2);
  Grid->addWidget(new QLabel(QStringLiteral("起動オプション2"), this), 2, 0);
  ViewerOption2Edit = new QLineEdit(this);
  Grid->addWidget(ViewerOption2Edit, 2, 1, 1, 2);
  Grid->setRowStretch(3, 1);
  connect(ViewerPathButton, &QToolButton::clicked, this, [this] {
    const QString F = AskFile(this, QStringLiteral("外部ビューアの選択"), Q(VIEWER_DIALOG_FOLDER), VIEWER_FILTER);
    if (!F.isEmpty()) ViewerPathEdit->setText(F);
  });
  Fill();
}

void TPreviewOptionForm::Fill() {
  ViewerPathEdit->setText(Q(FRules.Preview.ViewerPath));
  ViewerOptionEdit->setText(Q(FRules.Preview.ViewerOption));
  ViewerOption2Edit->setText(Q(FRules.Preview.ViewerOption2));
}

void TPreviewOptionForm::Store() {
  FRules.Preview.ViewerPath = S(ViewerPathEdit->text());
  FRules.Preview.ViewerOption = S(ViewerOptionEdit->text());
  FRules.Preview.ViewerOption2 = S(ViewerOption2Edit->text());
}

// ---------------------------------------------------------------------------
// The container

TEnvOptionForm::TEnvOptionForm(QWidget *Parent)
    : QDialog(Parent),
      FRules(SystemOption, Background, FileOption, PreviewOption, ColorManagementOption),
      FColorFolders(GetColorDirectories()) {
  setWindowTitle(QStringLiteral("環境設定"));
  auto *Layout = new QVBoxLayout(this);
  Tabs = new QTabWidget(this);
  // All six page names stay in view; the dialog widens to hold them.
  Tabs->setUsesScrollButtons(false);
  Layout->addWidget(Tabs);
  SystemPage = new TSystemOptionForm(FRules, Tabs);
  FolderPage = new TFolderOptionForm(FRules, Tabs);
  PreviewPage = new TPreviewOptionForm(FRules, Tabs);
  for (QDialog *Page : {static_cast<QDialog *>(SystemPage), static_cast<QDialog *>(FolderPage),
                        static_cast<QDialog *>(PreviewPage)})
    AsTabPage(Page);
  Tabs->addTab(SystemPage, QStringLiteral("システム"));
  Tabs->addTab(FolderPage, QStringLiteral("出力フォルダ"));
  Tabs->addTab(PreviewPage, QStringLiteral("外部ビューア"));
  Tabs->addTab(CreateColorPage(), QStringLiteral("カラーマネージメント"));
  Tabs->addTab(CreateFilePage(), QStringLiteral("ファイル"));
  Tabs->addTab(CreatePostProcessPage(), QStringLiteral("後処理"));
  auto *Box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  Layout->addWidget(Box);
  connect(Box, &QDialogButtonBox::accepted, this, &TEnvOptionForm::accept);
  connect(Box, &QDialogButtonBox::rejected, this, &QDialog::reject);

  FRules.FillProfileLists(FColorFolders);
  FillColorPage();
  FillFilePage();
  FillPostProcessPage();
  const int32_t Page = WindowSettings.EnvOptionPage;
  Tabs->setCurrentIndex(Page >= 0 && Page < ENV_PAGE_COUNT ? Page : 0);
}

TEnvOptionForm::~TEnvOptionForm() = default;

QWidget *TEnvOptionForm::CreateColorPage() {
  auto *Page = new QWidget(Tabs);
  auto *Layout = new QVBoxLayout(Page);
  ColorEnabledCheck = new QCheckBox(QStringLiteral("カラーマネージメントを有効にする"), Page);
  Layout->addWidget(ColorEnabledCheck);
  auto *Grid = new QGridLayout;
  const char *Captions[PROFILE_LIST_COUNT] = {"モニタープロファイル", "作業用色空間", "CMYKデフォルト",
                                              "RGBデフォルト", "Grayscaleデフォルト"};
  for (int32_t i = 0; i < PROFILE_LIST_COUNT; ++i) {
    auto *Label = new QLabel(QString::fromUtf8(Captions[i]), Page);
    ProfileBoxes[size_t(i)] = new QComboBox(Page);
    ProfileBoxes[size_t(i)]->setMinimumWidth(280);
    ProfileBoxes[size_t(i)]->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    Label->setBuddy(ProfileBoxes[size_t(i)]);
    ProfileButtons[size_t(i)] = BrowseButton(Page);
    Grid->addWidget(Label, i, 0);
    Grid->addWidget(ProfileBoxes[size_t(i)], i, 1);
    Grid->addWidget(ProfileButtons[size_t(i)], i, 2);
    connect(ProfileButtons[size_t(i)], &QToolButton::clicked, this, [this, i] { ChooseProfileFile(i); });
  }
  Grid->setColumnStretch(1, 1);
  Layout->addLayout(Grid);
  auto *IntentRow = new QHBoxLayout;
  auto *IntentLabel = new QLabel(QStringLiteral("レンダリングインテント"), Page);
  IntentBox = new QComboBox(Page);
  IntentBox->addItems(
      {QStringLiteral("知覚的"), QStringLiteral("相対的"), QStringLiteral("彩度"), QStringLiteral("絶対的")});
  IntentLabel->setBuddy(IntentBox);
  IntentRow->addWidget(IntentLabel);
  IntentRow->addWidget(IntentBox);
  IntentRow->addStretch(1);
  Layout->addLayout(IntentRow);
  ProfileFromExifCheck = new QCheckBox(QStringLiteral("Exif情報を元にICCプロファイルを作成する"), Page);
  Layout->addWidget(ProfileFromExifCheck);
  Layout->addStretch(1);
  return Page;
}

QWidget *TEnvOptionForm::CreateFilePage() {
  auto *Page = new QWidget(Tabs);
  auto *Layout = new QVBoxLayout(Page);
  NotOverwriteCheck = new QCheckBox(QStringLiteral("上書きを回避する"), Page);
  Layout->addWidget(NotOverwriteCheck);
  auto *SkipRow = new QHBoxLayout;
  SkipRow->addSpacing(20);
  SkipGroup = RadioGroup(Page, SkipRow, {"別のファイル名を割り当てる", "処理をスキップする"});
  SkipRow->addStretch(1);
  Layout->addLayout(SkipRow);
  AddSubFolderCheck = new QCheckBox(QStringLiteral("サブフォルダも処理する"), Page);
  Layout->addWidget(AddSubFolderCheck);

  auto *NumberBox = new QGroupBox(QStringLiteral("連番"), Page);
  auto *NumberLayout = new QVBoxLayout(NumberBox);
  auto *StartRow = new QHBoxLayout;
  auto *StartLabel = new QLabel(QStringLiteral("連番初期値"), NumberBox);
  UDNumEdit = new TUDNumEdit(START_NUMBER_RANGE, NumberBox);
  UDNumEdit->setMinimumWidth(110);
  StartLabel->setBuddy(UDNumEdit);
  StartRow->addWidget(StartLabel);
  StartRow->addWidget(UDNumEdit);
  StartRow->addStretch(1);
  NumberLayout->addLayout(StartRow);
  auto *ResetRow = new QHBoxLayout;
  ResetGroup = RadioGroup(NumberBox, ResetRow, {"毎回リセットする", "起動時にリセットする", "リセットしない"});
  ResetRow->addStretch(1);
  NumberLayout->addLayout(ResetRow);
  Layout->addWidget(NumberBox);

  RemoveListCheck = new QCheckBox(QStringLiteral("変換後にリストから削除"), Page);
  IgnoreReadOnlyCheck = new QCheckBox(QStringLiteral("読み取り専用ファイルも上書きする"), Page);
  SkipImageCheckCheck = new QCheckBox(QStringLiteral("リストアップする際にファイルをチェックしない"), Page);
  DeleteInputFileCheck = new QCheckBox(QStringLiteral("元ファイルを削除する"), Page);
  AllowUndoCheck = new QCheckBox(QStringLiteral("削除したファイルはゴミ箱へ移動する"), Page);
  for (QWidget *W : {RemoveListCheck, IgnoreReadOnlyCheck, SkipImageCheckCheck, DeleteInputFileCheck, AllowUndoCheck})
    Layout->addWidget(W);

  auto *SortRow = new QHBoxLayout;
  auto *SortLabel = new QLabel(QStringLiteral("自動ソート"), Page);
  AutoSortBox = new QComboBox(Page);
  AutoSortBox->addItems({QStringLiteral("なし"), QStringLiteral("ファイル名(即時変換時のみ)"),
                         QStringLiteral("日付(即時変換時のみ)"), QStringLiteral("ファイル名(常時)"),
                         QStringLiteral("日付(常時)")});
  SortLabel->setBuddy(AutoSortBox);
  SortRow->addWidget(SortLabel);
  SortRow->addWidget(AutoSortBox);
  SortRow->addStretch(1);
  Layout->addLayout(SortRow);

  auto *ExtRow = new QHBoxLayout;
  CheckExtCheck = new QCheckBox(QStringLiteral("拡張子をチェックする"), Page);
  TargetExtEdit = new QLineEdit(Page);
  ExtRow->addWidget(CheckExtCheck);
  ExtRow->addWidget(TargetExtEdit, 1);
  Layout->addLayout(ExtRow);
  Layout->addStretch(1);

  connect(NotOverwriteCheck, &QCheckBox::toggled, this, [this] { ApplyEnabling(); });
  return Page;
}

QWidget *TEnvOptionForm::CreatePostProcessPage() {
  auto *Page = new QWidget(Tabs);
  auto *Layout = new QVBoxLayout(Page);
  UseExternalToolCheck = new QCheckBox(QStringLiteral("変換終了後に外部ツールを起動する"), Page);
  Layout->addWidget(UseExternalToolCheck);
  auto *CommandRow = new QHBoxLayout;
  CommandRow->addSpacing(20);
  CommandEdit = new QLineEdit(Page);
  CommandEdit->setMinimumWidth(320);
  CommandButton = BrowseButton(Page);
  CommandRow->addWidget(CommandEdit, 1);
  CommandRow->addWidget(CommandButton);
  Layout->addLayout(CommandRow);
  DeleteFileCheck = new QCheckBox(QStringLiteral("外部ツール実行後にファイルを削除する"), Page);
  Layout->addWidget(DeleteFileCheck);
  auto *DeleteRow = new QHBoxLayout;
  DeleteRow->addSpacing(20);
  DeleteFileNameEdit = new QLineEdit(Page);
  DeleteRow->addWidget(DeleteFileNameEdit, 1);
  Layout->addLayout(DeleteRow);
  NotifyCheck = new QCheckBox(QStringLiteral("変換終了後に音を鳴らす"), Page);
  Layout->addWidget(NotifyCheck);
  auto *SoundRow = new QHBoxLayout;
  SoundRow->addSpacing(20);
  SoundFileEdit = new QLineEdit(Page);
  SoundFileButton = BrowseButton(Page);
  SoundRow->addWidget(SoundFileEdit, 1);
  SoundRow->addWidget(SoundFileButton);
  Layout->addLayout(SoundRow);
  Layout->addStretch(1);

  connect(UseExternalToolCheck, &QCheckBox::toggled, this, [this] { ApplyEnabling(); });
  connect(DeleteFileCheck, &QCheckBox::toggled, this, [this] { ApplyEnabling(); });
  connect(CommandButton, &QToolButton::clicked, this, [this] {
    const QString F = AskFile(this, QString(), Q(CommandFolder(S(CommandEdit->text()))), COMMAND_FILTER);
    if (!F.isEmpty()) CommandEdit->setText(F);
  });
  connect(SoundFileButton, &QToolButton::clicked, this, [this] {
    const QString F = AskFile(this, QString(), Q(ExtractFilePath(S(SoundFileEdit->text()))), SOUND_FILTER);
    if (!F.isEmpty()) SoundFileEdit->setText(F);
  });
  return Page;
}

void TEnvOptionForm::FillColorPage() {
  const TColorManagementOption &O = FRules.Color;
  ColorEnabledCheck->setChecked(O.Enabled != LongFalse);
  for (int32_t i = 0; i < PROFILE_LIST_COUNT; ++i) FillProfileBox(i);
  IntentBox->setCurrentIndex(O.RenderingIntent >= 0 && O.RenderingIntent <= 3 ? O.RenderingIntent : 0);
  ProfileFromExifCheck->setChecked(O.CreateICCProfileFromExif != LongFalse);
}

void TEnvOptionForm::FillProfileBox(int32_t List) {
  const TProfileList &L = FRules.ProfileLists[size_t(List)];
  QComboBox *Box = ProfileBoxes[size_t(List)];
  Box->clear();
  for (size_t i = 0; i < L.Names.size(); ++i) {
    Box->addItem(Q(L.Names[i]));
    Box->setItemData(int(i), Q(L.Paths[i]), Qt::ToolTipRole);
  }
  Box->setCurrentIndex(L.Index);
}

void TEnvOptionForm::ChooseProfileFile(int32_t List) {
  // The selection the user made in the box counts from here on.
  FRules.ProfileLists[size_t(List)].Index = std::max(0, ProfileBoxes[size_t(List)]->currentIndex());
  const QString F = AskFile(this, QString(), Q(FRules.ProfileDialogFolder(FColorFolders)), PROFILE_FILTER);
  if (F.isEmpty()) return;
  if (FRules.ChooseProfile(List, S(F)) == TProfileChoice::WrongKind) {
    QMessageBox::warning(this, QStringLiteral("TessivoPlus"), QString::fromUtf8(PROFILE_KIND_MISMATCH));
    return;
  }
  FillProfileBox(List);
}

void TEnvOptionForm::FillFilePage() {
  const TFileOption &O = FRules.File;
  NotOverwriteCheck->setChecked(O.NotOverwrite);
  Check(SkipGroup, O.Skip ? 1 : 0);
  AddSubFolderCheck->setChecked(O.AddSubFolder);
  UDNumEdit->setValue(NumFieldValue(std::to_string(O.StartNumber), START_NUMBER_RANGE));
  Check(ResetGroup, O.ResetType >= 0 && O.ResetType <= 2 ? O.ResetType : 0);
  RemoveListCheck->setChecked(O.RemoveList);
  IgnoreReadOnlyCheck->setChecked(O.IgnoreReadOnlyAttr != LongFalse);
  SkipImageCheckCheck->setChecked(O.SkipImageCheck != LongFalse);
  DeleteInputFileCheck->setChecked(O.DeleteInputFile != LongFalse);
  AllowUndoCheck->setChecked(O.AllowUndo != LongFalse);
  AutoSortBox->setCurrentIndex(O.AutoSortMode >= 0 && O.AutoSortMode <= 4 ? O.AutoSortMode : 0);
  CheckExtCheck->setChecked(O.CheckExt != LongFalse);
  TargetExtEdit->setText(Q(O.TargetExt));
  ApplyEnabling();
}

void TEnvOptionForm::FillPostProcessPage() {
  const TSystemOption &O = FRules.System;
  UseExternalToolCheck->setChecked(O.UseExternalTool);
  CommandEdit->setText(Q(O.Command));
  DeleteFileCheck->setChecked(O.DeleteFile != LongFalse);
  DeleteFileNameEdit->setText(Q(O.DeleteFileName));
  NotifyCheck->setChecked(O.Notify != LongFalse);
  SoundFileEdit->setText(Q(O.SoundFile));
  ApplyEnabling();
}

void TEnvOptionForm::StoreColorPage() {
  TColorManagementOption &O = FRules.Color;
  O.Enabled = ColorEnabledCheck->isChecked() ? LongTrue : LongFalse;
  for (int32_t i = 0; i < PROFILE_LIST_COUNT; ++i)
    FRules.ProfileLists[size_t(i)].Index = std::max(0, ProfileBoxes[size_t(i)]->currentIndex());
  O.RenderingIntent = IntentBox->currentIndex();
  O.CreateICCProfileFromExif = ProfileFromExifCheck->isChecked() ? LongTrue : LongFalse;
}

void TEnvOptionForm::StoreFilePage() {
  TFileOption &O = FRules.File;
  O.NotOverwrite = NotOverwriteCheck->isChecked();
  O.Skip = CheckedIdOr(SkipGroup, O.Skip ? 1 : 0) == 1;
  O.AddSubFolder = AddSubFolderCheck->isChecked();
  O.StartNumber = UDNumEdit->IntValue();
  O.ResetType = CheckedIdOr(ResetGroup, O.ResetType);
  O.RemoveList = RemoveListCheck->isChecked();
  O.IgnoreReadOnlyAttr = IgnoreReadOnlyCheck->isChecked() ? LongTrue : LongFalse;
  O.SkipImageCheck = SkipImageCheckCheck->isChecked() ? LongTrue : LongFalse;
  O.DeleteInputFile = DeleteInputFileCheck->isChecked() ? LongTrue : LongFalse;
  O.AllowUndo = AllowUndoCheck->isChecked() ? LongTrue : LongFalse;
  O.AutoSortMode = AutoSortBox->currentIndex();
  O.CheckExt = CheckExtCheck->isChecked() ? LongTrue : LongFalse;
  O.TargetExt = S(TargetExtEdit->text());
}

void TEnvOptionForm::StorePostProcessPage() {
  TSystemOption &O = FRules.System;
  O.UseExternalTool = UseExternalToolCheck->isChecked();
  O.Command = S(CommandEdit->text());
  O.DeleteFile = DeleteFileCheck->isChecked() ? LongTrue : LongFalse;
  O.DeleteFileName = S(DeleteFileNameEdit->text());
  O.Notify = NotifyCheck->isChecked() ? LongTrue : LongFalse;
  O.SoundFile = S(SoundFileEdit->text());
}

void TEnvOptionForm::ApplyEnabling() {
  if (SkipGroup) EnableButtons(SkipGroup, TEnvOptionRules::SkipChoicesEnabled(NotOverwriteCheck->isChecked()));
  if (CommandEdit) {
    const bool Command = TEnvOptionRules::CommandEnabled(UseExternalToolCheck->isChecked());
    CommandEdit->setEnabled(Command);
    CommandButton->setEnabled(Command);
    DeleteFileNameEdit->setEnabled(TEnvOptionRules::DeleteFileNameEnabled(DeleteFileCheck->isChecked()));
  }
}

void TEnvOptionForm::accept() {
  SystemPage->Store();
  FolderPage->Store();
  PreviewPage->Store();
  StoreColorPage();
  StoreFilePage();
  StorePostProcessPage();
  FRules.StoreTo(SystemOption, Background, FileOption, PreviewOption, ColorManagementOption);
  WindowSettings.EnvOptionPage = Tabs->currentIndex();
  try {
    CMS.InitProfile(ColorManagementOption);
  } catch (const std::exception &E) {
    // The settings stay as chosen; the images that need the missing profile
    // fail on their own with the reason.
    ErrorLogForm().PutErrorMsg(std::string("カラーマネージメント: ") + E.what());
  }
  QDialog::accept();
}

bool ShowEnvOptionDialog(QWidget *Parent) {
  TEnvOptionForm Form(Parent);
  return Form.exec() == QDialog::Accepted;
}
