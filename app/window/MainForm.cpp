// The main window.
#include "app/window/MainForm.h"

#include "app/SettingsFile.h"
#include "app/ShortcutDialog.h"
#include "app/window/AddingWindow.h"
#include "app/window/CombineOptionDialog.h"
#include "app/window/options/EnvOptionForm.h"
#include "app/window/options/ResizeOptionForm.h"
#include "app/window/options/QuzenOptionDialog.h"
#include "app/window/options/SusiePluginOptionDialog.h"
#include "app/window/EffectPanel.h"
#include "app/window/ErrorLogWindow.h"
#include "app/window/ImageListModel.h"
#include "app/window/ListView.h"
#include "app/window/PreviewWindow.h"
#include "app/window/ProgressWindow.h"
#include "app/window/ThumbnailWindow.h"
#include "app/window/options/FormatOptionForm.h"
#include "app/window/preview/PreviewBaseForm.h"
#include "batch/BatchObjects.h"
#include "batch/ConvertOption.h"
#include "batch/CombineOption.h"
#include "batch/ErrorLogFrm.h"
#include "batch/FileNameTemplate.h"
#include "core/IniFile.h"
#include "core/ProgramFolder.h"
#include "effects/ChangeOrder.h"
#include "effects/DecreaseColorEffect.h"
#include "effects/ResizeOption.h"
#include "io/Bitmap.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/wait.h>
#include <thread>
#include <filesystem>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>

extern char **environ;

namespace {

// The token summary shown as the template field's hint.
const char TemplateHint[] =
    "<ymd> 年月日\r\n<ymdhns> 年月日時分秒\r\n<yy> <yyyy> <mm> <dd>\r\n<hh> <nn> <ss>\r\n<old> ファイル名\r\n"
    "<ext> 拡張子\r\n<dir> 相対パス\r\n<pdir> 親フォルダ名\r\n<base> ベースフォルダ\r\n<n*> <s*>連番、初期値\r\n"
    "<c*>ファイル数";

constexpr int PanelColumnWidth = 190;
constexpr int PictureFormatJPEG = 2;
// The reduction kernel the main resizer returns to after a run (area average).
constexpr int32_t AreaAverageKernel = 1;

bool IsExecutable(const std::string &Path) {
  struct stat st;
  return !Path.empty() && ::stat(Path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0111);
}

QString Q(const std::string &S) { return QString::fromStdString(S); }

}  // namespace

TTessivoPlusMainForm::TTessivoPlusMainForm(const std::string &IniPath, QWidget *Parent)
    : QMainWindow(Parent), FIniPath(IniPath) {
  Confirm = [this](const QString &Text) {
    return QMessageBox::question(this, QStringLiteral("確認"), Text, QMessageBox::Ok | QMessageBox::Cancel) ==
           QMessageBox::Ok;
  };
  CreateDefaultEffects(FEffects, ProgramBinFolder());
  FEffects.OnUpdateMenu = [this] { RebuildEffectPanels(); };
  FEffects.OnShowConfigDialog = [this](TEffect &E) {
    if (const TEffectDialogOpener *Open = FindEffectDialog(E.ID())) {
      (*Open)(E, PreviewContext(), this);
      return;
    }
    // A step without a dialog of its own is set in its section of the
    // settings file.
    QMessageBox::information(this, Q(E.Name()),
                             QStringLiteral("「%1」の設定は設定ファイルの [%2] セクションで変更できます。\n%3")
                                 .arg(Q(E.Name()), Q(E.SectionName()), Q(FIniPath)));
  };
  Model = new TImageListModel(FList, this);
  CreateActions();
  CreateToolBars();
  CreateCentre();
  StatusElapsed = new QLabel(this);
  StatusFiles = new QLabel(this);
  StatusElapsed->setMinimumWidth(120);
  statusBar()->addWidget(StatusElapsed);
  statusBar()->addWidget(StatusFiles, 1);

  ThumbnailWindow = new TThumbnailWindow(this);
  ThumbnailWindow->OnClosed = [this] { SetThumbnailSize(0); };
  FThumbnailMaker = std::make_unique<TThumbnailMaker>(
      [this](uint64_t Serial, const QImage &Image, const std::string &Error, const std::vector<uint8_t> &Cached) {
        QMetaObject::invokeMethod(
            this, [this, Serial, Image, Error, Cached] { ThumbnailMade(Serial, Image, Error, Cached); },
            Qt::QueuedConnection);
      });

  setAcceptDrops(true);
  resize(1000, 640);
  LoadSettings(FIniPath, true);
  UpdateCommandStates();
  WatchClipboard(SystemOption.WatchClipBoard != LongFalse);
}

void TTessivoPlusMainForm::WatchClipboard(bool On) {
  if (On == FWatchingClipboard) return;
  FWatchingClipboard = On;
  QClipboard *Clip = QGuiApplication::clipboard();
  if (!On) {
    disconnect(Clip, &QClipboard::dataChanged, this, nullptr);
    return;
  }
  connect(Clip, &QClipboard::dataChanged, this, [this] {
    // The first notification (and the one the paste itself causes) is not
    // the user's new picture.
    if (ClipBoardCancel) {
      ClipBoardCancel = false;
      return;
    }
    if (!FRunning && !QGuiApplication::clipboard()->image().isNull()) {
      ClipBoardCancel = true;
      Paste();
    }
  });
}

int64_t LargestFreeBlockMB() {
  FILE *F = std::fopen("/proc/meminfo", "r");
  if (!F) return 0;
  char Line[256];
  long long Kb = 0;
  while (std::fgets(Line, sizeof Line, F))
    if (std::sscanf(Line, "MemAvailable: %lld kB", &Kb) == 1) break;
  std::fclose(F);
  return Kb / 1024;
}

TTessivoPlusMainForm::~TTessivoPlusMainForm() {
  FThumbnailMaker.reset();  // its thread calls back into this window
  FEffects.OnUpdateMenu = nullptr;
  FEffects.OnShowConfigDialog = nullptr;
}

void TTessivoPlusMainForm::CreateActions() {
  auto Make = [this](const char *Caption, QKeySequence Key = {}) {
    auto *A = new QAction(QString::fromUtf8(Caption), this);
    if (!Key.isEmpty()) A->setShortcut(Key);
    A->setShortcutContext(Qt::WindowShortcut);
    return A;
  };
  ActRun = Make("実行(&R)", Qt::Key_F5);
  ActAddFiles = Make("ファイルをリストに追加(&A)...");
  ActAddFolder = Make("フォルダごとリストに追加(&F)...");
  ActOpenSettings = Make("設定の読み込み(&O)...");
  ActSaveSettings = Make("設定の保存(&S)...");
  ActExit = Make("終了(&X)");
  ActDelete = Make("リストから削除(&D)");
  ActClear = Make("リストをクリア(&C)", QKeySequence(Qt::CTRL | Qt::Key_Delete));
  ActSelectAll = Make("すべて選択(&L)", QKeySequence(Qt::CTRL | Qt::Key_A));
  ActCheck = Make("チェック(&S)");
  ActUncheck = Make("チェック解除(&U)");
  ActToggleSelected = Make("チェック反転(&E)");
  ActToggleAll = Make("すべて反転(&R)", QKeySequence(Qt::CTRL | Qt::Key_R));
  ActEveryOther = Make("1つおきにチェック(&A)");
  ActPaste = Make("貼り付け(&V)", QKeySequence(Qt::CTRL | Qt::Key_V));
  ActPreview = Make("プレビュー(&P)");
  ActPreviewViewer = Make("別窓でプレビュー(&N)");
  ActConvertTable = Make("フォーマット変換設定(&C)...");
  ActEffectOrder = Make("処理順の変更(&C)...");
  ActFormatOption = Make("フォーマット設定(&F)...");
  ActPlugins = Make("Susie Plug-in設定(&P)...");
  ActLossless = Make("JPEGロスレス変換設定(&J)...");
  ActCombine = Make("画像連結(&X)...");
  ActShortcut = Make("ショートカットの作成(&S)...");
  ActResizeOption = Make("リサイズ設定(&R)...");
  ActEnvOption = Make("環境設定(&E)...");
  ActIgnoreEmbedded = Make("埋め込みサムネイルを無視する(&I)");
  ActIgnoreEmbedded->setCheckable(true);
  ActHelp = Make("ヘルプ(&H)...", Qt::Key_F1);
  ActAbout = Make("バージョン情報(&A)...");
  // Delete and Space act in the list only (the list view handles them);
  // the menu shows the keys.
  ActDelete->setShortcut(QKeySequence(Qt::Key_Delete));
  ActDelete->setShortcutContext(Qt::WidgetShortcut);
  ActToggleSelected->setShortcut(QKeySequence(Qt::Key_Space));
  ActToggleSelected->setShortcutContext(Qt::WidgetShortcut);

  connect(ActRun, &QAction::triggered, this, [this] { Run(); });
  connect(ActAddFiles, &QAction::triggered, this, [this] {
    const QStringList Files = QFileDialog::getOpenFileNames(
        this, QString(), QDir::homePath(),
        QStringLiteral("イメージファイル (*.bmp *.png *.jpg *.jpeg *.tif *.tiff *.gif *.wdp *.hdp *.jxr);;"
                       "すべてのファイル (*)"));
    std::vector<std::string> Paths;
    for (const QString &F : Files) Paths.push_back(F.toStdString());
    if (!Paths.empty()) AddPaths(Paths);
  });
  connect(ActAddFolder, &QAction::triggered, this, [this] {
    const QString Dir = QFileDialog::getExistingDirectory(this, QStringLiteral("フォルダごとリストに追加"),
                                                          QDir::homePath());
    if (!Dir.isEmpty()) AddFolder(Dir.toStdString());
  });
  connect(ActOpenSettings, &QAction::triggered, this, [this] {
    const QString F = QFileDialog::getOpenFileName(this, QString(), Q(SettingsFolder()),
                                                   QStringLiteral("設定ファイル (*.ini)"));
    if (!F.isEmpty()) {
      LeaveProfile(FIniPath, [this](const std::string &E) { return AskWriteRetry(this, E); });
      FIniPath = F.toStdString();
      LoadSettings(FIniPath, false);
    }
  });
  connect(ActSaveSettings, &QAction::triggered, this, [this] {
    const QString F = QFileDialog::getSaveFileName(this, QString(), Q(FIniPath), QStringLiteral("設定ファイル (*.ini)"));
    if (F.isEmpty()) return;
    StoreWindowSettings();
    if (!SaveIniFile(F.toStdString(), FEffects, [this](const std::string &E) { return AskWriteRetry(this, E); }))
      return;
    FIniPath = F.toStdString();
    FillProfiles();
  });
  connect(ActShortcut, &QAction::triggered, this, [this] {
    StoreWindowSettings();
    TCreateShortCutForm Form(ProgramFolder() + "/TessivoPlus", ProgramFolder() + "/TessivoPlus.svg", FEffects, this);
    Form.exec();
    FillProfiles();
  });
  connect(ActExit, &QAction::triggered, this, &QWidget::close);
  connect(ActDelete, &QAction::triggered, this, [this] { DeleteSelected(); });
  connect(ActClear, &QAction::triggered, this, [this] { ClearList(); });
  connect(ActSelectAll, &QAction::triggered, this, [this] { ListView->selectAll(); });
  connect(ActCheck, &QAction::triggered, this, [this] { SetChecks(1); });
  connect(ActUncheck, &QAction::triggered, this, [this] { SetChecks(0); });
  connect(ActToggleSelected, &QAction::triggered, this, [this] { SetChecks(2); });
  connect(ActToggleAll, &QAction::triggered, this, [this] { ToggleAll(); });
  connect(ActEveryOther, &QAction::triggered, this, [this] { CheckEveryOther(); });
  connect(ActPaste, &QAction::triggered, this, [this] { Paste(); });
  connect(ActCombine, &QAction::triggered, this, [this] { ShowCombineOptionDialog(this); });
  connect(ActFormatOption, &QAction::triggered, this, [this] { ShowFormatOptionForm(this); });
  connect(ActConvertTable, &QAction::triggered, this, [this] { ShowConvertTableForm(this); });
  connect(ActLossless, &QAction::triggered, this, [this] { ShowQuzenOptionDialog(this); });
  connect(ActPlugins, &QAction::triggered, this, [this] {
    ShowSusiePluginOptionDialog(
        this, FList.Count(), Confirm, [this] { ClearList(); },
        [this](const std::string &E) { return AskWriteRetry(this, E); });
  });
  connect(ActPreview, &QAction::triggered, this, [this] { Preview(false); });
  connect(ActPreviewViewer, &QAction::triggered, this, [this] { Preview(true); });
  connect(ActEffectOrder, &QAction::triggered, this, [this] { ShowOrderDialog(); });
  connect(ActResizeOption, &QAction::triggered, this, [this] { ShowResizeOptions(); });
  connect(ActEnvOption, &QAction::triggered, this, [this] { ShowEnvOptions(); });
  connect(ActIgnoreEmbedded, &QAction::toggled, this, [this] { ThumbnailCacheList().ClearThumbnail(); });
  connect(ActHelp, &QAction::triggered, this,
          [] { QDesktopServices::openUrl(QUrl(QStringLiteral("https://tessivoplus.example.org/help/"))); });
  connect(ActAbout, &QAction::triggered, this, [this] { ShowAbout(); });
  // The lossless-JPEG settings exist only where the tool does.
  ActLossless->setVisible(IsExecutable(ProgramBinFolder() + "/WEMBC"));

  QMenu *File = menuBar()->addMenu(QStringLiteral("ファイル(&F)"));
  File->addAction(ActRun);
  File->addSeparator();
  File->addAction(ActAddFiles);
  File->addAction(ActAddFolder);
  File->addSeparator();
  File->addAction(ActOpenSettings);
  File->addAction(ActSaveSettings);
  File->addSeparator();
  File->addAction(ActExit);
  QMenu *Edit = menuBar()->addMenu(QStringLiteral("編集(&E)"));
  for (QAction *A : {ActDelete, ActClear, ActSelectAll}) Edit->addAction(A);
  Edit->addSeparator();
  for (QAction *A : {ActCheck, ActUncheck, ActToggleSelected, ActToggleAll, ActEveryOther}) Edit->addAction(A);
  Edit->addSeparator();
  Edit->addAction(ActPaste);
  Edit->addSeparator();
  Edit->addAction(ActPreview);
  Edit->addAction(ActPreviewViewer);
  QMenu *Options = menuBar()->addMenu(QStringLiteral("設定(&S)"));
  Options->addAction(ActConvertTable);
  Options->addAction(ActEffectOrder);
  Options->addAction(ActFormatOption);
  Options->addAction(ActPlugins);
  Options->addAction(ActLossless);
  Options->addAction(ActCombine);
  Options->addSeparator();
  Options->addAction(ActResizeOption);
  Options->addAction(ActEnvOption);
  Options->addSeparator();
  Options->addAction(ActShortcut);
  QMenu *Thumbs = menuBar()->addMenu(QStringLiteral("サムネイル(&T)"));
  for (const char *Caption : {"なし", "160x160", "320x320", "640x640"}) {
    QAction *A = Thumbs->addAction(QString::fromUtf8(Caption));
    A->setCheckable(true);
    const int Size = int(ActThumbnail.size());
    connect(A, &QAction::triggered, this, [this, Size] { SetThumbnailSize(Size); });
    ActThumbnail.push_back(A);
  }
  Thumbs->addSeparator();
  Thumbs->addAction(ActIgnoreEmbedded);
  QMenu *Help = menuBar()->addMenu(QStringLiteral("ヘルプ(&H)"));
  Help->addAction(ActHelp);
  Help->addAction(ActAbout);
}

void TTessivoPlusMainForm::CreateToolBars() {
  QToolBar *Commands = addToolBar(QStringLiteral("Commands"));
  Commands->setObjectName(QStringLiteral("Commands"));
  for (QAction *A : {ActRun, ActAddFiles, ActAddFolder, ActDelete, ActClear}) {
    Commands->addAction(A);
    A->setToolTip(A->text().remove(QLatin1Char('&')).remove(QStringLiteral("...")));
  }
  Commands->addSeparator();
  ProfileBox = new QComboBox(this);
  ProfileBox->setMinimumWidth(140);
  Commands->addWidget(ProfileBox);
  connect(ProfileBox, &QComboBox::activated, this, [this](int Index) {
    const QString Name = ProfileBox->itemData(Index).toString();
    if (Name.isEmpty() || Name.toStdString() == FIniPath) return;
    LeaveProfile(FIniPath, [this](const std::string &E) { return AskWriteRetry(this, E); });
    FIniPath = Name.toStdString();
    LoadSettings(FIniPath, false);
  });

  addToolBarBreak();
  QToolBar *Settings = addToolBar(QStringLiteral("Settings"));
  Settings->setObjectName(QStringLiteral("Settings"));
  TemplateEdit = new QLineEdit(this);
  TemplateEdit->setMinimumWidth(260);
  TemplateEdit->setToolTip(QString::fromUtf8(TemplateHint).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
  TemplateEdit->setToolTipDuration(10000);
  connect(TemplateEdit, &QLineEdit::textEdited, this,
          [](const QString &Text) { SetTemplateText(FileOption, Text.toStdString()); });
  Settings->addWidget(TemplateEdit);
  FolderButton = new QToolButton(this);
  FolderButton->setText(QStringLiteral("..."));
  connect(FolderButton, &QToolButton::clicked, this, [this] {
    const TTemplateSplit Split = SplitTemplate(FileOption);
    QFileDialog Dialog(this, QStringLiteral("出力フォルダ"), Q(Split.Folder));
    Dialog.setFileMode(QFileDialog::Directory);
    Dialog.setOption(QFileDialog::ShowDirsOnly);
    Dialog.move(geometry().topLeft() + QPoint(22, 22));
    if (Dialog.exec() != QDialog::Accepted || Dialog.selectedFiles().isEmpty()) return;
    ChooseOutputFolder(FileOption, Dialog.selectedFiles().first().toStdString());
    TemplateEdit->setText(Q(FileOption.FileNameFormat));
    TemplateEdit->end(false);
  });
  Settings->addWidget(FolderButton);
  Settings->addSeparator();
  ModeBox = new QComboBox(this);
  for (const char *Item : {"Normal", "JPEGTran", "画像連結", "リネーム"}) ModeBox->addItem(QString::fromUtf8(Item));
  connect(ModeBox, &QComboBox::activated, this, [this](int Mode) { ChangeMode(Mode); });
  Settings->addWidget(ModeBox);
  RuleBox = new QComboBox(this);
  for (const TSizeRuleInfo &R : SizeRuleTable) RuleBox->addItem(QString::fromUtf8(R.Caption));
  connect(RuleBox, &QComboBox::activated, this, [this](int Rule) { RuleChanged(Rule); });
  Settings->addWidget(RuleBox);
  HistoryBox = new QComboBox(this);
  HistoryBox->setMinimumWidth(200);
  FHistoryAction = Settings->addWidget(HistoryBox);
  SizeLabel1 = new QLabel(this);
  SizeEdit1 = new QLineEdit(this);
  SizeLabel2 = new QLabel(this);
  SizeEdit2 = new QLineEdit(this);
  for (QLineEdit *E : {SizeEdit1, SizeEdit2}) {
    E->setAlignment(Qt::AlignRight);
    E->setFixedWidth(60);
  }
  FSizeLabelAction1 = Settings->addWidget(SizeLabel1);
  FSizeAction1 = Settings->addWidget(SizeEdit1);
  FSizeLabelAction2 = Settings->addWidget(SizeLabel2);
  FSizeAction2 = Settings->addWidget(SizeEdit2);
  Settings->addSeparator();
  AtOnceCheck = new QCheckBox(QStringLiteral("即時変換"), this);
  connect(AtOnceCheck, &QCheckBox::clicked, this, [this](bool On) { SetAtOnce(On); });
  Settings->addWidget(AtOnceCheck);
}

void TTessivoPlusMainForm::CreateCentre() {
  ListView = new TListView(this);
  ListView->setModel(Model);
  for (int c = 0; c < ImageListView::ColumnCount; ++c)
    ListView->setColumnWidth(c, ImageListView::DefaultColumnWidth(c));
  ListView->OnDelete = [this] { DeleteSelected(); };
  ListView->OnToggle = [this] { SetChecks(2); };
  ListView->OnMove = [this](int From, int To) { MoveEntry(From, To); };
  ListView->OnDropFiles = [this](const std::vector<std::string> &Paths) {
    // Adding runs a modal window; not from inside the drop.
    QMetaObject::invokeMethod(this, [this, Paths] { AddDropFiles(Paths); }, Qt::QueuedConnection);
  };
  ListView->addAction(ActDelete);
  ListView->addAction(ActToggleSelected);
  connect(ListView->horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int Column) {
    Model->sort(Column, Qt::AscendingOrder);
    RefreshView();
  });
  connect(ListView->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { UpdateCommandStates(); });
  connect(ListView->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex &Current) {
            if (Current.isValid()) ShowThumbnailOf(Current.row());
          });

  // The right column: the effect panels (mode 0), the lossless buttons
  // (mode 1), the combining button (mode 2), nothing (mode 3).
  ModePanels = new QStackedWidget(this);
  ModePanels->setFixedWidth(PanelColumnWidth);
  auto *Scroll = new QScrollArea(ModePanels);
  Scroll->setWidgetResizable(false);
  Scroll->setFrameShape(QFrame::NoFrame);
  PanelColumn = new QWidget;
  PanelColumn->setFixedWidth(PanelColumnWidth - 4);
  Scroll->setWidget(PanelColumn);
  ModePanels->addWidget(Scroll);
  auto *Lossless = new QWidget(ModePanels);
  auto *LosslessLayout = new QVBoxLayout(Lossless);
  auto *LosslessButton = new QPushButton(QStringLiteral("JPEGTran設定"), Lossless);
  LosslessLayout->addWidget(LosslessButton);
  connect(LosslessButton, &QPushButton::clicked, ActLossless, &QAction::trigger);
  const std::pair<const char *, uint32_t> EffectButtons[] = {
      {"トリミング", EFFECT_TRIMMING}, {"色調補正", EFFECT_COLOR_ADJUST},
      {"トーンカーブ", EFFECT_TONE_CURVE}, {"文字入れ", EFFECT_ADD_TEXT}};
  for (const auto &[Caption, ID] : EffectButtons) {
    auto *B = new QPushButton(QString::fromUtf8(Caption), Lossless);
    LosslessLayout->addWidget(B);
    const uint32_t EffectID = ID;
    connect(B, &QPushButton::clicked, this, [this, EffectID] { FEffects.ShowConfigDialogByID(int32_t(EffectID)); });
  }
  LosslessLayout->addStretch(1);
  ModePanels->addWidget(Lossless);
  auto *Combine = new QWidget(ModePanels);
  auto *CombineLayout = new QVBoxLayout(Combine);
  auto *CombineButton = new QPushButton(QStringLiteral("画像連結設定"), Combine);
  connect(CombineButton, &QPushButton::clicked, ActCombine, &QAction::trigger);
  CombineLayout->addWidget(CombineButton);
  CombineLayout->addStretch(1);
  ModePanels->addWidget(Combine);
  ModePanels->addWidget(new QWidget(ModePanels));

  auto *Centre = new QWidget(this);
  auto *Layout = new QHBoxLayout(Centre);
  Layout->setContentsMargins(2, 2, 2, 2);
  Layout->addWidget(ListView, 1);
  Layout->addWidget(ModePanels);
  setCentralWidget(Centre);
}

void TTessivoPlusMainForm::FillProfiles() {
  ProfileBox->clear();
  for (const TProfileEntry &P : ListProfiles()) ProfileBox->addItem(Q(P.Caption), Q(P.Path));
  const int Current = ProfileBox->findData(Q(FIniPath));
  if (Current >= 0) {
    ProfileBox->setCurrentIndex(Current);
  } else {
    ProfileBox->addItem(QFileInfo(Q(FIniPath)).completeBaseName(), Q(FIniPath));
    ProfileBox->setCurrentIndex(ProfileBox->count() - 1);
  }
}

void TTessivoPlusMainForm::LoadSettings(const std::string &Path, bool AtCreation) {
  FLoading = true;
  try {
    const std::string Warning = LoadIniFile(Path, FEffects);
    if (!Warning.empty()) ErrorLogForm().PutErrorMsg(Path + ": " + Warning);
  } catch (const std::exception &E) {
    ErrorLogForm().PutErrorMsg(Path + ": " + E.what());
  }
  RebuildEffectPanels();
  TMemIniFile Ini;
  try {
    Ini = TMemIniFile(Path);
  } catch (const std::exception &) {
    // Already logged by the reader above.
  }
  SetThumbnailSize(SystemOption.ThumbnailSize);
  if (AtCreation) {
    const QRect Work = screen() ? screen()->availableGeometry() : QRect(0, 0, 1024, 768);
    const TRect R = RestoredWindowRect({x(), y(), width(), height()}, Ini.ReadInteger("Window", "Left", -1000),
                                       Ini.ReadInteger("Window", "Top", -1000),
                                       Ini.ReadInteger("Window", "ClientWidth", 0),
                                       Ini.ReadInteger("Window", "ClientHeight", 0),
                                       {Work.x(), Work.y(), Work.width(), Work.height()});
    setGeometry(R.Left, R.Top, R.Width, R.Height);
    for (int c = 0; c < ImageListView::ColumnCount; ++c) {
      const int W = Ini.ReadInteger("ListView", "Header" + std::to_string(c), -1);
      if (W > 0) ListView->setColumnWidth(c, W);
    }
    FThumbOffsetX = Ini.ReadInteger("ThumbnailWindow", "Left", -65535);
    FThumbOffsetY = Ini.ReadInteger("ThumbnailWindow", "Top", -65535);
  }
  ResizeHistory.Assign(ResizeOption.History);
  HistoryBox->clear();
  for (const std::string &Item : ResizeHistory.Items()) HistoryBox->addItem(Q(Item));
  OldRule = ResizeOption.Rule;
  RuleBox->setCurrentIndex(ResizeOption.Rule);
  ShowRuleFields(ResizeOption.Rule);
  TemplateEdit->setText(Q(FileOption.FileNameFormat));
  TemplateEdit->end(false);
  FMode = ConvertMode;
  ModeBox->setCurrentIndex(ConvertMode);
  AtOnceCheck->setChecked(FileOption.AtOnce);
  ActIgnoreEmbedded->setChecked(!Ini.ReadBool("ThumbnailWindow", "UseEmbeddedThumbnail", true));
  setWindowTitle(Q(MainWindowCaption(SystemOption.Caption, QFileInfo(Q(Path)).fileName().toStdString())));
  FillProfiles();
  ShowModePanel();
  UpdateCommandStates();
  FLoading = false;
}

void TTessivoPlusMainForm::ShowRuleFields(int Rule) {
  const TSizeRuleInfo &R = SizeRuleTable[std::clamp(Rule, 0, SIZE_RULE_COUNT - 1)];
  const bool History = Rule == SIZE_RULE_HISTORY;
  // Widgets on a tool bar are shown and hidden through their actions.
  FHistoryAction->setVisible(History);
  FSizeAction1->setVisible(!History);
  FSizeAction2->setVisible(!History && SizeRuleHasTwoValues(Rule));
  FSizeLabelAction1->setVisible(!History);
  FSizeLabelAction2->setVisible(!History && SizeRuleHasTwoValues(Rule));
  SizeLabel1->setText(QString::fromUtf8(R.FirstCaption));
  SizeLabel2->setText(QString::fromUtf8(R.SecondCaption ? R.SecondCaption : ""));
  if (!History) {
    SizeEdit1->setText(Q(SizeValueText(ResizeOption.Size1[size_t(Rule)])));
    SizeEdit2->setText(Q(SizeValueText(ResizeOption.Size2[size_t(Rule)])));
  }
}

TSizeRuleFields TTessivoPlusMainForm::ShownRuleFields() const {
  TSizeRuleFields F;
  F.ShownRule = OldRule;
  F.Field1 = SizeEdit1->text().toStdString();
  F.Field2 = SizeEdit2->text().toStdString();
  F.HistoryIndex = std::max(0, HistoryBox->currentIndex());
  return F;
}

void TTessivoPlusMainForm::StoreShownRuleFields(const TSizeRuleFields &F) {
  SizeEdit1->setText(Q(F.Field1));
  SizeEdit2->setText(Q(F.Field2));
  HistoryBox->clear();
  for (const std::string &Item : ResizeHistory.Items()) HistoryBox->addItem(Q(Item));
  HistoryBox->setCurrentIndex(F.HistoryIndex < HistoryBox->count() ? F.HistoryIndex : 0);
}

void TTessivoPlusMainForm::RuleChanged(int Rule) {
  TSizeRuleFields F = ShownRuleFields();
  ChangeShownRule(F, ResizeOption, Rule);
  OldRule = Rule;
  ResizeOption.Rule = Rule;
  ShowRuleFields(Rule);
}

void TTessivoPlusMainForm::RebuildEffectPanels() {
  for (TEffectPanel *P : FilterList) delete P;
  FilterList.clear();
  const int Width = PanelColumn->width() - 2;
  auto Count = [this] { return int(FilterList.size()); };
  for (int i = 0; i < FEffects.Count(); ++i) {
    TEffect *E = FEffects[i];
    auto *P = new TEffectPanel(Q(E->Name()), i, E->Use(), true, PanelColumn);
    P->setGeometry(1, i * EFFECT_PANEL_HEIGHT, Width, EFFECT_PANEL_HEIGHT);
    P->PanelCount = Count;
    P->OnCheck = [this](TEffectPanel &Panel, bool On) { FEffects.ChangeState(Panel.Index(), On ? 1 : 0); };
    P->OnSettings = [this](TEffectPanel &Panel) { FEffects.ShowConfigDialog(Panel.Index()); };
    P->OnSwap = [this](TEffectPanel &Panel, int Step) { SwapPanels(Panel, Step); };
    P->show();
    FilterList.push_back(P);
  }
  int Height = int(FilterList.size()) * EFFECT_PANEL_HEIGHT;
  // The colour reduction has a panel only while one of its tools is there
  // (its mode is not "none"); the panel stays below the others and is not
  // dragged.
  auto *DC = dynamic_cast<TDecreaseColorEffect *>(FEffects.DecreaseColorEffect());
  if (DCPanel && !(DC && DC->FMode != DECREASE_COLOR_NONE)) DCPanel->hide();
  if (DC && DC->FMode != DECREASE_COLOR_NONE) {
    if (!DCPanel) DCPanel = new TEffectPanel(Q(DC->Name()), FEffects.Count(), DC->Use(), false, PanelColumn);
    DCPanel->SetIndex(FEffects.Count());
    DCPanel->setGeometry(1, Height, Width, EFFECT_PANEL_HEIGHT);
    DCPanel->FCheckBox->setChecked(DC->Use());
    DCPanel->OnCheck = [this](TEffectPanel &Panel, bool On) { FEffects.ChangeState(Panel.Index(), On ? 1 : 0); };
    DCPanel->OnSettings = [this](TEffectPanel &Panel) { FEffects.ShowConfigDialog(Panel.Index()); };
    DCPanel->show();
    Height += EFFECT_PANEL_HEIGHT;
  }
  PanelColumn->setFixedHeight(std::max(Height, 1));
  UpdateCommandStates();
}

void TTessivoPlusMainForm::SwapPanels(TEffectPanel &Panel, int Step) {
  const int From = Panel.Index();
  const int To = From + Step;
  if (From < 0 || To < 0 || From >= int(FilterList.size()) || To >= int(FilterList.size())) return;
  // The effects trade places in the list, and the panels in theirs; the
  // other panel moves into the dragged one's old slot.
  FEffects.Move(From, To);
  std::swap(FilterList[size_t(From)], FilterList[size_t(To)]);
  TEffectPanel *Other = FilterList[size_t(From)];
  Other->SetIndex(From);
  Other->Snap();
  Panel.SetIndex(To);
  FEffects.ReOrder();
}

// The resize step's settings button opens the resize dialog of the window
// that shows the step.
const TEffectDialogRegistrar ResizeDialogRegistrar(EFFECT_RESIZE,
                                                   [](TEffect &, const TPreviewContext &, QWidget *Parent) {
                                                     if (auto *F = qobject_cast<TTessivoPlusMainForm *>(Parent))
                                                       F->ShowResizeOptions();
                                                     else
                                                       ShowResizeOptionDialog(Parent);
                                                   });

void TTessivoPlusMainForm::ShowResizeOptions() {
  if (!ShowResizeOptionDialog(this)) return;
  // Between runs the resizer reduces by area averaging, so only the
  // enlargement kernel is installed now; runs install the reduction kernel.
  try {
    ApplyResizeKernels(0, ResizeOption.InterpolationMode, 0);
    ApplyResizeThreadCount(ResizeOption, false, ProgramUnsharpMask);
  } catch (const std::exception &E) {
    ErrorLogForm().PutErrorMsg(E.what());
  }
}

void TTessivoPlusMainForm::ShowEnvOptions() {
  // The dialog edits the template's folder and name part separately and
  // rebuilds the template on OK; Cancel leaves every record as it was.
  if (ShowEnvOptionDialog(this)) {
    ApplyProcessPriority(SystemOption.ProcessPriority);
    TemplateEdit->setText(Q(FileOption.FileNameFormat));
    TemplateEdit->end(false);
    setWindowTitle(Q(MainWindowCaption(SystemOption.Caption, QFileInfo(Q(FIniPath)).fileName().toStdString())));
    UpdateCommandStates();
  }
  WatchClipboard(SystemOption.WatchClipBoard != LongFalse);
}

void TTessivoPlusMainForm::ShowOrderDialog() {
  TChangeOrderModel Order(FEffects);
  QDialog Dialog(this);
  Dialog.setWindowTitle(QStringLiteral("処理順の変更"));
  auto *Layout = new QHBoxLayout(&Dialog);
  auto *Rows = new QListWidget(&Dialog);
  auto Fill = [&](int Selected) {
    Rows->clear();
    for (int r = 0; r < Order.Count(); ++r) Rows->addItem(Q(Order.Name(r)));
    Rows->setCurrentRow(Selected);
  };
  Fill(0);
  auto *Buttons = new QVBoxLayout;
  auto *Up = new QPushButton(QStringLiteral("上へ"), &Dialog);
  auto *Down = new QPushButton(QStringLiteral("下へ"), &Dialog);
  auto *Box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, Qt::Vertical, &Dialog);
  Buttons->addWidget(Up);
  Buttons->addWidget(Down);
  Buttons->addStretch(1);
  Buttons->addWidget(Box);
  Layout->addWidget(Rows, 1);
  Layout->addLayout(Buttons);
  connect(Up, &QPushButton::clicked, &Dialog, [&] {
    const int r = Rows->currentRow();
    if (Order.Up(r)) Fill(r - 1);
  });
  connect(Down, &QPushButton::clicked, &Dialog, [&] {
    const int r = Rows->currentRow();
    if (Order.Down(r)) Fill(r + 1);
  });
  connect(Box, &QDialogButtonBox::accepted, &Dialog, &QDialog::accept);
  connect(Box, &QDialogButtonBox::rejected, &Dialog, &QDialog::reject);
  if (Dialog.exec() == QDialog::Accepted) Order.Apply(FEffects);  // SetOrder rebuilds the panels
}

void TTessivoPlusMainForm::ShowModePanel() { ModePanels->setCurrentIndex(std::clamp(FMode, 0, 3)); }

int TTessivoPlusMainForm::SelectedCount() const {
  return ListView->selectionModel() ? int(ListView->selectionModel()->selectedRows().size()) : 0;
}

std::vector<int> TTessivoPlusMainForm::SelectedRows() const {
  std::vector<int> Rows;
  for (const QModelIndex &I : ListView->selectionModel()->selectedRows()) Rows.push_back(I.row());
  std::sort(Rows.begin(), Rows.end());
  return Rows;
}

void TTessivoPlusMainForm::UpdateCommandStates() {
  const TCommandStates S =
      CommandStatesOf(FList.Count(), SelectedCount(), FMode, IsExecutable(PreviewOption.ViewerPath));
  ActRun->setEnabled(S.Run);
  ActClear->setEnabled(S.Clear);
  ActEveryOther->setEnabled(S.EveryOther);
  ActSelectAll->setEnabled(S.SelectAll);
  ActToggleAll->setEnabled(S.ToggleAll);
  ActDelete->setEnabled(S.Delete);
  ActCheck->setEnabled(S.Check);
  ActUncheck->setEnabled(S.Uncheck);
  ActToggleSelected->setEnabled(S.ToggleSelected);
  ActPreview->setEnabled(S.Preview);
  ActPreviewViewer->setEnabled(S.PreviewInViewer);
  StatusFiles->setText(FList.Count() > 0 ? QStringLiteral("%1Files").arg(FList.Count()) : QString());
}

void TTessivoPlusMainForm::RefreshView() {
  Model->BeginChange();
  Model->EndChange();
  UpdateCommandStates();
}

void TTessivoPlusMainForm::DeleteSelected() {
  const std::vector<int> Rows = SelectedRows();
  if (Rows.empty()) return;
  const int Focus = Rows.front();
  Model->BeginChange();
  for (auto It = Rows.rbegin(); It != Rows.rend(); ++It) FList.Delete(*It);
  Model->EndChange();
  // The focused row stays selected: the entry that moved into its place.
  if (FList.Count() > 0) {
    SelectOnly(std::min(Focus, FList.Count() - 1));
  }
  UpdateCommandStates();
}

void TTessivoPlusMainForm::SelectOnly(int Row) {
  // Not the view's selectRow, which would take held modifier keys into account.
  ListView->selectionModel()->setCurrentIndex(Model->index(Row, 0),
                                              QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void TTessivoPlusMainForm::ClearList() {
  HideThumbnailWindow();
  Model->BeginChange();
  FList.Clear();
  Model->EndChange();
  UpdateCommandStates();
}

void TTessivoPlusMainForm::SetChecks(int How) {
  for (int Row : SelectedRows()) {
    TImageInfo &E = *FList[Row];
    E.Checked = How == 2 ? !E.Checked : How == 1;
  }
  Model->ChecksChanged();
}

void TTessivoPlusMainForm::ToggleAll() {
  for (int i = 0; i < FList.Count(); ++i) FList[i]->Checked = !FList[i]->Checked;
  Model->ChecksChanged();
}

void TTessivoPlusMainForm::CheckEveryOther() {
  for (int i = 0; i < FList.Count(); ++i) FList[i]->Checked = i % 2 == 0;
  Model->ChecksChanged();
}

void TTessivoPlusMainForm::MoveEntry(int From, int To) {
  if (From < 0 || From >= FList.Count()) return;
  To = std::clamp(To, 0, FList.Count() - 1);
  Model->BeginChange();
  FList.Move(From, To);
  Model->EndChange();
  SelectOnly(To);
  UpdateCommandStates();
}

void TTessivoPlusMainForm::AfterAdding(int32_t) {
  ShowErrorLogIfAny(this);
  if (FileOption.AtOnce && FList.Count() > 0) {
    RefreshView();
    Run();
    return;
  }
  RefreshView();
}

int32_t TTessivoPlusMainForm::RunAddingWindow(const std::function<void(TAddingWindow &)> &Choose) {
  Model->BeginChange();
  int32_t Result;
  {
    TAddingWindow Adding(FList, this);
    TListupOptions Options = CurrentListupOptions();
    Options.OutputTemplate = FileOption.FileNameFormat;
    Adding.SetOptions(Options);
    Choose(Adding);
    Result = Adding.Execute();
  }
  Model->EndChange();
  return Result;
}

void TTessivoPlusMainForm::AddDropFiles(const std::vector<std::string> &Paths) {
  if (!DragDropAccept || FRunning) return;  // discarded while a run is in progress
  AfterAdding(RunAddingWindow([&](TAddingWindow &A) { A.AddDropFiles(Paths); }));
}

void TTessivoPlusMainForm::AddPaths(const std::vector<std::string> &Paths, bool IsTemp) {
  if (FRunning) return;
  AfterAdding(RunAddingWindow([&](TAddingWindow &A) { A.AddFiles(Paths, IsTemp); }));
}

void TTessivoPlusMainForm::AddFolder(const std::string &Folder) {
  if (FRunning) return;
  AfterAdding(RunAddingWindow([&](TAddingWindow &A) { A.AddFolder(Folder); }));
}

void TTessivoPlusMainForm::Paste() {
  const QImage Image = QGuiApplication::clipboard()->image();
  if (Image.isNull()) return;
  const std::string Folder = IncludeTrailingDelimiter(
      FileOption.ClipBoardTempDir.empty() ? QDir::tempPath().toStdString() : FileOption.ClipBoardTempDir);
  std::error_code Ec;
  std::filesystem::create_directories(Folder, Ec);
  const std::string Path =
      Folder + "TessivoPlus" + std::to_string(QCoreApplication::applicationPid()) + "_clipboard" +
      std::to_string(FClipboardCounter++) + ".bmp";
  if (!Image.convertToFormat(QImage::Format_RGB888).save(Q(Path), "BMP")) {
    ErrorLogForm().PutErrorMsg(Path + ": " + "クリップボードの画像を保存できません");
    ShowErrorLogIfAny(this);
    return;
  }
  QGuiApplication::clipboard()->clear();
  AddPaths({Path}, true);
}

void TTessivoPlusMainForm::Run() {
  if (FRunning || FList.Count() == 0) return;
  FRunning = true;
  DragDropAccept = false;
  HideThumbnailWindow();
  if (!PrepareResize()) {
    FRunning = false;
    DragDropAccept = true;
    return;
  }
  std::string ResultText;
  int32_t Result;
  if (FMode == CONVERT_MODE_COMBINE) {
    Result = ShowCombineWindow(this, FList, ResultText, OnBatchWindow);
  } else {
    Result = ShowBatchWindow(this, FList, FEffects, ResultText, OnBatchWindow);
  }
  if (Result == 1) {
    StatusElapsed->setText(Q(ResultText));
    if (!FileOption.SameDirectory && FileOption.ShowDirectory && ErrorLogForm().GetErrorCount() == 0)
      QDesktopServices::openUrl(QUrl::fromLocalFile(Q(FileOption.OutputDirectory)));
  }
  ShowErrorLogIfAny(this);
  try {
    ApplyResizeKernels(AreaAverageKernel, 0, 0);
  } catch (const std::exception &) {
    // No resizer: nothing to put back.
  }
  Model->BeginChange();
  if (FileOption.RemoveList) FList.RemoveChecked();
  FList.Refresh();
  Model->EndChange();
  UpdateCommandStates();
  ShowErrorLogIfAny(this);
  FRunning = false;
  DragDropAccept = true;
}

bool TTessivoPlusMainForm::PrepareResize() {
  try {
    TSizeRuleFields F = ShownRuleFields();
    const TSizeParam Size = ResolveSizeRule(F, ResizeOption, ResizeHistory);
    StoreShownRuleFields(F);
    FEffects.SetResizeParam(Size.Type, Size.Value, Size.Value2);
    ApplyResizeKernels(ResizeOption.DecimationMode, ResizeOption.InterpolationMode, ResizeOption.SIMDMode);
    return true;
  } catch (const std::exception &E) {
    ErrorLogForm().PutErrorMsg(E.what());
    ShowErrorLogIfAny(this);
    return false;
  }
}

TPreviewContext TTessivoPlusMainForm::PreviewContext() {
  TPreviewContext Ctx;
  Ctx.List = &FList;
  Ctx.SelectedIndex = ListView ? ListView->currentIndex().row() : -1;
  Ctx.Effects = &FEffects;
  Ctx.Option = &PreviewOption;
  Ctx.ApplyResizeSettings = [this] { PrepareResize(); };
  Ctx.OutputNameOf = [this](int32_t Index) {
    TImageInfo &E = *FList[Index];
    TScale Scale;
    FEffects.CanDownScalingLoad(E, Scale);
    return ExpandFileNameTemplate(FileOption.FileNameFormat, E, Index, Scale, CurrentRunSettings());
  };
  return Ctx;
}

void TTessivoPlusMainForm::Preview(bool SecondViewer) {
  if (FRunning || FList.Count() == 0 || !(FMode == CONVERT_MODE_NORMAL || FMode == CONVERT_MODE_COMBINE)) return;
  if (!PrepareResize()) return;
  const int32_t PerPage = std::max(1, CombineOption.Rows * CombineOption.Columns);
  const int32_t Row = std::max(0, ListView->currentIndex().row());
  PreviewIndex = FMode == CONVERT_MODE_COMBINE ? Row / PerPage : Row;
  auto Build = [this]() -> TPreviewPicture {
    setEnabled(false);
    TPreviewPicture P;
    if (FMode == CONVERT_MODE_COMBINE) {
      P = MakeCombinedPreviewPicture(FList, PreviewIndex);  // a page has an empty title
    } else {
      TImageInfo &E = *FList[PreviewIndex];
      TScale Scale;
      FEffects.CanDownScalingLoad(E, Scale);
      const std::string Out = ExpandFileNameTemplate(FileOption.FileNameFormat, E, PreviewIndex, Scale,
                                                     CurrentRunSettings());
      P = MakePreviewPicture(E, PreviewIndex, Out, FEffects);
    }
    setEnabled(true);
    if (!P.Error.empty()) ErrorLogForm().PutErrorMsg(P.Error);
    return P;
  };
  TPreviewPicture Picture = Build();
  if (!Picture.Image.isNull() && IsExecutable(PreviewOption.ViewerPath)) {
    // The viewer takes the picture from the clipboard; the program's own
    // change of the clipboard is not a picture to add.
    ClipBoardCancel = true;
    QGuiApplication::clipboard()->setImage(Picture.Image);
    const std::vector<std::string> Args =
        ViewerArguments(PreviewOption.ViewerPath, SecondViewer ? PreviewOption.ViewerOption2 : PreviewOption.ViewerOption,
                        Picture.Title, ProgramFolder());
    std::vector<char *> Argv;
    for (const std::string &A : Args) Argv.push_back(const_cast<char *>(A.c_str()));
    Argv.push_back(nullptr);
    pid_t Pid;
    if (posix_spawn(&Pid, Args[0].c_str(), nullptr, nullptr, Argv.data(), environ) != 0) {
      ErrorLogForm().PutErrorMsg(PreviewOption.ViewerPath + ": " + std::strerror(errno));
    } else {
      ::setpriority(PRIO_PROCESS, Pid, NiceValueOf(PriorityClassOf(SystemOption.ProcessPriority)));
      std::thread([Pid] { ::waitpid(Pid, nullptr, 0); }).detach();  // not waited for; reaped when it ends
    }
  } else if (!Picture.Image.isNull() || Picture.Error.empty()) {
    TPreviewWindow Window(this);
    PreviewWindow = &Window;
    Window.SetPicture(Picture);
    Window.OnStep = [&](int Step) {
      if (FMode == CONVERT_MODE_COMBINE) {
        // Pages do not wrap around.
        const int32_t Pages = (FList.Count() + PerPage - 1) / PerPage;
        const int32_t Next = PreviewIndex + Step;
        if (Next < 0 || Next >= Pages) return;
        PreviewIndex = Next;
      } else {
        PreviewIndex = (PreviewIndex + Step + FList.Count()) % FList.Count();
      }
      Window.SetPicture(Build());
      ShowErrorLogIfAny(this);
    };
    Window.exec();
    PreviewWindow = nullptr;
  }
  ShowErrorLogIfAny(this);
  try {
    ApplyResizeKernels(AreaAverageKernel, 0, 0);
  } catch (const std::exception &) {
    // No resizer: nothing to put back.
  }
}

void TTessivoPlusMainForm::ChangeMode(int Mode) {
  if (Mode == FMode || Mode < 0 || Mode > 3) return;
  if (Mode == CONVERT_MODE_JPEGTRAN && FList.Count() > 0) {
    if (!Confirm(QStringLiteral("JPEG以外のファイルをリストから削除します。よろしいですか？"))) {
      ModeBox->setCurrentIndex(FMode);
      return;
    }
    Model->BeginChange();
    for (int i = FList.Count() - 1; i >= 0; --i) {
      TImageInfo &E = *FList[i];
      if (E.PictureFormat == 0) EnsureProbed(E);
      if (E.PictureFormat != PictureFormatJPEG) FList.Delete(i);
    }
    Model->EndChange();
    ShowErrorLogIfAny(this);
  }
  FMode = Mode;
  ConvertMode = Mode;
  const TConvertModeSwitches S = SwitchesOfConvertMode(Mode);
  FileOption.RenameOnly = S.RenameOnly;
  FEffects.FUseJPEGTran = S.JPEGTranUse;
  ModeBox->setCurrentIndex(Mode);
  ShowModePanel();
  UpdateCommandStates();
}

void TTessivoPlusMainForm::SetAtOnce(bool On) {
  if (On && FList.Count() > 0) {
    if (!Confirm(QStringLiteral("リストをクリアします。よろしいですか？"))) {
      AtOnceCheck->setChecked(false);
      FileOption.AtOnce = false;
      return;
    }
    ClearList();
  }
  FileOption.AtOnce = On;
  AtOnceCheck->setChecked(On);
}

void TTessivoPlusMainForm::SetThumbnailSize(int Size) {
  Size = std::clamp(Size, 0, 3);
  SystemOption.ThumbnailSize = Size;
  ThumbnailCacheList().ClearThumbnail();
  for (int i = 0; i < int(ActThumbnail.size()); ++i) ActThumbnail[size_t(i)]->setChecked(i == Size);
  ActIgnoreEmbedded->setEnabled(Size == 1);
  const int Side = ThumbnailWindowSide(Size);
  if (Side == 0) {
    HideThumbnailWindow();
    return;
  }
  ThumbnailWindow->SetSide(Side);
  const QModelIndex Current = ListView->currentIndex();
  if (Current.isValid()) ShowThumbnailOf(Current.row());
}

void TTessivoPlusMainForm::HideThumbnailWindow() {
  // Its offset from the main window is remembered whenever it hides.
  if (ThumbnailWindow->isVisible()) RememberThumbnailOffset();
  ThumbnailWindow->hide();
}

void TTessivoPlusMainForm::RememberThumbnailOffset() {
  FThumbOffsetX = ThumbnailWindow->x() - x();
  FThumbOffsetY = ThumbnailWindow->y() - y();
}

void TTessivoPlusMainForm::PlaceThumbnailWindow() {
  const QRect S = screen() ? screen()->availableGeometry() : QRect(0, 0, 1024, 768);
  const QRect M = frameGeometry();
  const TPoint P = ThumbnailWindowPlace({M.x(), M.y(), M.width(), M.height()}, FThumbOffsetX, FThumbOffsetY,
                                        ThumbnailWindow->Side(), {S.x(), S.y(), S.width(), S.height()});
  ThumbnailWindow->move(P.X, P.Y);
}

void TTessivoPlusMainForm::ShowThumbnailOf(int Row) {
  if (SystemOption.ThumbnailSize == 0 || Row < 0 || Row >= FList.Count() || FRunning) return;
  TImageInfo &E = *FList[Row];
  TListThumbnailOptions Options;
  Options.ThumbnailSize = SystemOption.ThumbnailSize;
  Options.IgnoreEmbeddedThumbnail = ActIgnoreEmbedded->isChecked();
  Options.Formats = CurrentRunSettings().Formats;
  FThumbnailPath = E.FPath;
  FThumbnailSerial = FThumbnailMaker->Request(E, Options);
  if (!ThumbnailWindow->isVisible()) {
    PlaceThumbnailWindow();
    ThumbnailWindow->show();
  }
}

void TTessivoPlusMainForm::ThumbnailMade(uint64_t Serial, const QImage &Image, const std::string &Error,
                                         const std::vector<uint8_t> &Cached) {
  if (Serial != FThumbnailSerial) return;  // a newer selection is on its way
  const QString Name = QFileInfo(Q(FThumbnailPath)).fileName();
  if (!Error.empty()) {
    ThumbnailWindow->SetPicture({}, Q(Error));
    return;
  }
  // The entry keeps its encoded thumbnail, so the next showing is quick.
  for (int i = 0; i < FList.Count(); ++i)
    if (FList[i]->FPath == FThumbnailPath) {
      if (FList[i]->CachedThumbnail.empty()) FList[i]->CachedThumbnail = Cached;
      break;
    }
  ThumbnailWindow->SetPicture(Image, Name);
}

void TTessivoPlusMainForm::ShowAbout() {
  QMessageBox Box(this);
  Box.setWindowTitle(QStringLiteral("バージョン情報"));
  Box.setTextFormat(Qt::RichText);
  const bool Avx = SystemOption.UseAVX != LongFalse && __builtin_cpu_supports("avx");
  Box.setText(QStringLiteral("<b>TessivoPlus</b> %1<br>%2<br><a href=\"https://tessivoplus.example.org/\">"
                             "https://tessivoplus.example.org/</a><br><span style=\"color:%3\">AVX Support</span>")
                  .arg(QStringLiteral(TESSIVO_VERSION),
                       QStringLiteral("使用可能な連続メモリ空間 %1MB").arg(LargestFreeBlockMB()),
                       Avx ? QStringLiteral("black") : QStringLiteral("gray")));
  Box.exec();
}

TTessivoPlusMainForm::TWindowState TTessivoPlusMainForm::WindowState() const {
  TWindowState S;
  S.Left = x();
  S.Top = y();
  S.ClientWidth = width();
  S.ClientHeight = height();
  for (int c = 0; c < ImageListView::ColumnCount; ++c) S.ColumnWidths.push_back(ListView->columnWidth(c));
  S.ThumbnailLeft = FThumbOffsetX;
  S.ThumbnailTop = FThumbOffsetY;
  return S;
}

void TTessivoPlusMainForm::closeEvent(QCloseEvent *E) {
  if (FRunning) {
    E->ignore();
    return;
  }
  setAcceptDrops(false);
  HideThumbnailWindow();
  if (OnSaveSettings) OnSaveSettings(*this);
  E->accept();
}

void TTessivoPlusMainForm::dragEnterEvent(QDragEnterEvent *E) {
  if (E->mimeData()->hasUrls() && DragDropAccept) E->acceptProposedAction();
}

void TTessivoPlusMainForm::dropEvent(QDropEvent *E) {
  const std::vector<std::string> Paths = DroppedPaths(*E->mimeData());
  E->acceptProposedAction();
  if (!Paths.empty())
    QMetaObject::invokeMethod(this, [this, Paths] { AddDropFiles(Paths); }, Qt::QueuedConnection);
}

bool TTessivoPlusMainForm::AskWriteRetry(QWidget *Parent, const std::string &Error) {
  return QMessageBox::critical(Parent, QStringLiteral("TessivoPlus"), Q(Error), QMessageBox::Retry | QMessageBox::Cancel,
                               QMessageBox::Retry) == QMessageBox::Retry;
}

void TTessivoPlusMainForm::StoreWindowSettings() {
  StoreShownFields(ShownRuleFields(), ResizeOption);
  ResizeOption.Rule = OldRule;
  ResizeOption.History = ResizeHistory.Text();
  if (ThumbnailWindow->isVisible()) RememberThumbnailOffset();
  const TWindowState S = WindowState();
  TWindowSettings &W = WindowSettings;
  W.Left = S.Left;
  W.Top = S.Top;
  W.ClientWidth = S.ClientWidth;
  W.ClientHeight = S.ClientHeight;
  for (size_t c = 0; c < W.HeaderWidth.size() && c < S.ColumnWidths.size(); ++c) W.HeaderWidth[c] = S.ColumnWidths[c];
  W.ThumbnailLeft = S.ThumbnailLeft;
  W.ThumbnailTop = S.ThumbnailTop;
  W.UseEmbeddedThumbnail = !ActIgnoreEmbedded->isChecked();
}
