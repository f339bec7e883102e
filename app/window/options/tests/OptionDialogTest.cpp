// The environment and resize dialogs on the offscreen platform, opened the
// way the commands open them: every field reaches its record on OK and
// nothing does on Cancel, the enabling rules, the clamped numeric fields,
// the file and folder choices, the profile lists with their warning, the
// custom colours that follow the user and the remembered page.
#include "app/SettingsFile.h"
#include "app/window/dialogs/ColorChoice.h"
#include "app/window/options/EnvOptionForm.h"
#include "app/window/options/NumEdit.h"
#include "app/window/options/ResizeOptionForm.h"
#include "app/window/options/tests/ProfileFixtures.h"
#include "app/window/tests/OffscreenApplication.h"
#include "batch/ConvertOption.h"
#include "batch/ConvertOptionIni.h"
#include "color/ICCUtil.h"
#include "core/IniFile.h"
#include "io/FormatOption.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using optiontest::TProfileFixture;
using optiontest::WriteProfile;

namespace {

[[maybe_unused]] ::testing::Environment *const QtEnvironment =
    ::testing::AddGlobalTestEnvironment(new windowtest::TOffscreenApplication);

// Runs Action on the modal window of type T once it shows, from the event
// loop that the modal window runs.
template <typename T>
void WhenModal(std::function<void(T &)> Action) {
  QTimer::singleShot(10, [Action] {
    if (auto *W = qobject_cast<T *>(QApplication::activeModalWidget())) {
      Action(*W);
    } else {
      WhenModal<T>(Action);
    }
  });
}

// Chooses Path in a file dialog and confirms. The dialog lists its folder
// in the background; until it has taken the choice, it is tried again.
void ChooseInFileDialog(QFileDialog &D, const QString &Path) {
  // Typed into the name field as a user does; the dialog's own accept
  // checks it.
  if (auto *Name = D.findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))) Name->setText(Path);
  if (D.selectedFiles().value(0) == Path) {
    static_cast<QDialog &>(D).accept();
    if (!D.isVisible()) return;
  }
  QPointer<QFileDialog> Dialog(&D);
  QTimer::singleShot(10, [Dialog, Path] {
    if (Dialog) ChooseInFileDialog(*Dialog, Path);
  });
}

void Press(QDialog &D, QDialogButtonBox::StandardButton Which) {
  auto *Box = D.findChild<QDialogButtonBox *>();
  ASSERT_NE(Box, nullptr);
  Box->button(Which)->click();
}

// Types Text over the whole field, as a user does.
void TypeInto(TNumEdit *Field, const QString &Text) {
  Field->selectAll();
  QTest::keyClick(Field, Qt::Key_Delete);
  QTest::keyClicks(Field, Text);
}

// The records the environment dialog edits, as one text: the settings
// writers' keys plus the fields they derive or leave out.
std::string RecordsText() {
  TMemIniFile Ini;
  WriteSystemOption(Ini, SystemOption, Background);
  WriteFileOption(Ini, FileOption);
  WritePreviewOption(Ini, PreviewOption);
  WriteColorManagementOption(Ini, ColorManagementOption);
  WriteResizeOption(Ini, ResizeOption);
  std::string Text = Ini.SaveToBytes();
  Text += "MaxThread=" + std::to_string(SystemOption.MaxThread) +
          " Parallel=" + std::to_string(SystemOption.ParallelProcessing) + " Template=" + FileOption.FileNameFormat +
          " Same=" + std::to_string(FileOption.SameDirectory) + " Out=" + FileOption.OutputDirectory +
          " Page=" + std::to_string(WindowSettings.EnvOptionPage) + " Palette=";
  for (int32_t C : SystemOption.CustomPalette) Text += std::to_string(C) + ",";
  return Text;
}

class OptionDialogs : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    char Tmpl[] = "/tmp/tessivo-options-XXXXXX";
    Data = ::mkdtemp(Tmpl);
    // The colour folder the dialog scans besides /usr/share/color/icc/.
    ::setenv("XDG_DATA_HOME", Data.c_str(), 1);
    fs::create_directories(Data + "/icc");
    ASSERT_TRUE(WriteProfile(TProfileFixture::RGB, Data + "/icc/tp-rgb.icc"));
    ASSERT_TRUE(WriteProfile(TProfileFixture::CMYK, Data + "/icc/tp-cmyk.icc"));
    ASSERT_TRUE(WriteProfile(TProfileFixture::Gray, Data + "/icc/tp-gray.icm"));
  }
  static void TearDownTestSuite() { fs::remove_all(Data); }

  void SetUp() override {
    char Tmpl[] = "/tmp/tessivo-options-case-XXXXXX";
    Dir = ::mkdtemp(Tmpl);
    SystemOption = TSystemOption{};
    SystemOption.ProcessorCount = 4;
    ApplySystemThreadRules(SystemOption, 3, true);
    SystemOption.Dither = 1;
    SystemOption.UseExternalTool = true;
    SystemOption.Command = "/usr/bin/true";
    SystemOption.DeleteFile = LongTrue;
    SystemOption.DeleteFileName = "work";
    for (size_t i = 0; i < SystemOption.CustomPalette.size(); ++i)
      SystemOption.CustomPalette[i] = int32_t(0x010101 * (i * 16));
    Background = 0x336699;
    FileOption = TFileOption{};
    FileOption.OutputDirectory = Dir + "/out";  // as the folder dialog leaves it
    FileOption.SameDirectory = false;
    FileOption.FileNameFormat = Dir + "/out/<old>";
    FileOption.ClipBoardTempDir = Dir;
    FileOption.StartNumber = 5;
    PreviewOption = TPreviewOption{};
    ColorManagementOption = TColorManagementOption{};
    ResizeOption = TResizeOption{};
    ResizeOption.DecimationMode = 7;
    ResizeOption.InterpolationMode = 7;
    ResizeOption.SIMDMode = 3;
    ResizeOption.MaxThread = 4;
    WindowSettings.EnvOptionPage = 0;
  }
  void TearDown() override { fs::remove_all(Dir); }

  // Opens the environment dialog as its command does; Act ends it.
  static bool RunEnv(std::function<void(TEnvOptionForm &)> Act) {
    WhenModal<TEnvOptionForm>(Act);
    return ShowEnvOptionDialog(nullptr);
  }
  static bool RunResize(std::function<void(TResizeOptionForm &)> Act) {
    WhenModal<TResizeOptionForm>(Act);
    return ShowResizeOptionDialog(nullptr);
  }

  static inline std::string Data;
  std::string Dir;
};

// ---------------------------------------------------------------------------
// Environment dialog: every field on OK, nothing on Cancel

struct TEnvField {
  const char *Name;
  int Page;
  std::function<void(TEnvOptionForm &, const std::string &Dir)> Change;
  std::function<void(const std::string &Dir)> Expect;
};

void Click(QButtonGroup *G, int Id) { G->button(Id)->click(); }

const std::vector<TEnvField> &EnvFields() {
  static const std::vector<TEnvField> Fields = {
      {"ParallelOff", ENV_PAGE_SYSTEM, [](TEnvOptionForm &F, auto &) { F.SystemPage->ParallelCheck->click(); },
       [](auto &) { EXPECT_FALSE(SystemOption.ParallelProcessing); }},
      {"MaxThread", ENV_PAGE_SYSTEM,
       [](TEnvOptionForm &F, auto &) { TypeInto(F.SystemPage->MaxThreadEdit, QStringLiteral("2")); },
       [](auto &) {
         EXPECT_EQ(SystemOption.MaxThread, 2);
         EXPECT_EQ(SystemOption.MaxThreadSetting, 2);
       }},
      {"MemReserve", ENV_PAGE_SYSTEM, [](TEnvOptionForm &F, auto &) { F.SystemPage->MemReserveCheck->click(); },
       [](auto &) { EXPECT_TRUE(SystemOption.MemReserve); }},
      {"DitherErrorDiffusion", ENV_PAGE_SYSTEM,
       [](TEnvOptionForm &F, auto &) { Click(F.SystemPage->DitherGroup, 2); },
       [](auto &) { EXPECT_EQ(SystemOption.Dither, 2); }},
      {"DitherNone", ENV_PAGE_SYSTEM, [](TEnvOptionForm &F, auto &) { Click(F.SystemPage->DitherGroup, 0); },
       [](auto &) { EXPECT_EQ(SystemOption.Dither, 0); }},
      {"Multiple", ENV_PAGE_SYSTEM, [](TEnvOptionForm &F, auto &) { F.SystemPage->MultipleCheck->click(); },
       [](auto &) { EXPECT_EQ(SystemOption.Multiple, LongTrue); }},
      {"WatchClipBoard", ENV_PAGE_SYSTEM,
       [](TEnvOptionForm &F, auto &) { F.SystemPage->WatchClipBoardCheck->click(); },
       [](auto &) { EXPECT_EQ(SystemOption.WatchClipBoard, LongTrue); }},
      {"LabMode", ENV_PAGE_SYSTEM, [](TEnvOptionForm &F, auto &) { F.SystemPage->LabModeCheck->click(); },
       [](auto &) { EXPECT_EQ(SystemOption.EnabledLabMode, LongTrue); }},
      {"PriorityLow", ENV_PAGE_SYSTEM, [](TEnvOptionForm &F, auto &) { F.SystemPage->PriorityBox->setCurrentIndex(0); },
       [](auto &) { EXPECT_EQ(SystemOption.ProcessPriority, 0); }},
      {"PriorityHigh", ENV_PAGE_SYSTEM,
       [](TEnvOptionForm &F, auto &) { F.SystemPage->PriorityBox->setCurrentIndex(4); },
       [](auto &) { EXPECT_EQ(SystemOption.ProcessPriority, 4); }},
      {"SameDirectory", ENV_PAGE_FOLDER,
       [](TEnvOptionForm &F, auto &) { F.FolderPage->SameDirectoryCheck->click(); },
       [](auto &) {
         EXPECT_TRUE(FileOption.SameDirectory);
         EXPECT_EQ(FileOption.FileNameFormat, "<old>");
       }},
      {"OutputDirectory", ENV_PAGE_FOLDER,
       [](TEnvOptionForm &F, auto &) { F.FolderPage->OutputDirectoryEdit->setText(QStringLiteral("/srv/web")); },
       [](auto &) {
         EXPECT_EQ(FileOption.OutputDirectory, "/srv/web");
         EXPECT_EQ(FileOption.FileNameFormat, "/srv/web/<old>");
       }},
      {"ShowDirectory", ENV_PAGE_FOLDER,
       [](TEnvOptionForm &F, auto &) { F.FolderPage->ShowDirectoryCheck->click(); },
       [](auto &) { EXPECT_FALSE(FileOption.ShowDirectory); }},
      {"OpenCheck", ENV_PAGE_FOLDER, [](TEnvOptionForm &F, auto &) { F.FolderPage->OpenCheckCheck->click(); },
       [](auto &) { EXPECT_FALSE(FileOption.OpenCheck); }},
      {"ClipBoardTempDir", ENV_PAGE_FOLDER,
       [](TEnvOptionForm &F, auto &) { F.FolderPage->ClipBoardTempDirEdit->setText(QStringLiteral("/var/tmp")); },
       [](auto &) { EXPECT_EQ(FileOption.ClipBoardTempDir, "/var/tmp"); }},
      {"ViewerPath", ENV_PAGE_VIEWER,
       [](TEnvOptionForm &F, auto &) { F.PreviewPage->ViewerPathEdit->setText(QStringLiteral("/usr/bin/eog")); },
       [](auto &) { EXPECT_EQ(PreviewOption.ViewerPath, "/usr/bin/eog"); }},
      {"ViewerOption", ENV_PAGE_VIEWER,
       [](TEnvOptionForm &F, auto &) { F.PreviewPage->ViewerOptionEdit->setText(QStringLiteral("--title $t")); },
       [](auto &) { EXPECT_EQ(PreviewOption.ViewerOption, "--title $t"); }},
      {"ViewerOption2", ENV_PAGE_VIEWER,
       [](TEnvOptionForm &F, auto &) { F.PreviewPage->ViewerOption2Edit->setText(QStringLiteral("--new")); },
       [](auto &) { EXPECT_EQ(PreviewOption.ViewerOption2, "--new"); }},
      {"ColorManagementOff", ENV_PAGE_COLOR, [](TEnvOptionForm &F, auto &) { F.ColorEnabledCheck->click(); },
       [](auto &) { EXPECT_EQ(ColorManagementOption.Enabled, LongFalse); }},
      {"IntentAbsolute", ENV_PAGE_COLOR, [](TEnvOptionForm &F, auto &) { F.IntentBox->setCurrentIndex(3); },
       [](auto &) { EXPECT_EQ(ColorManagementOption.RenderingIntent, 3); }},
      {"ProfileFromExifOff", ENV_PAGE_COLOR, [](TEnvOptionForm &F, auto &) { F.ProfileFromExifCheck->click(); },
       [](auto &) { EXPECT_EQ(ColorManagementOption.CreateICCProfileFromExif, LongFalse); }},
      {"NotOverwriteOff", ENV_PAGE_FILE, [](TEnvOptionForm &F, auto &) { F.NotOverwriteCheck->click(); },
       [](auto &) { EXPECT_FALSE(FileOption.NotOverwrite); }},
      {"Skip", ENV_PAGE_FILE, [](TEnvOptionForm &F, auto &) { Click(F.SkipGroup, 1); },
       [](auto &) { EXPECT_TRUE(FileOption.Skip); }},
      {"AddSubFolderOff", ENV_PAGE_FILE, [](TEnvOptionForm &F, auto &) { F.AddSubFolderCheck->click(); },
       [](auto &) { EXPECT_FALSE(FileOption.AddSubFolder); }},
      {"StartNumber", ENV_PAGE_FILE, [](TEnvOptionForm &F, auto &) { TypeInto(F.UDNumEdit, QStringLiteral("42")); },
       [](auto &) { EXPECT_EQ(FileOption.StartNumber, 42); }},
      {"ResetOnStart", ENV_PAGE_FILE, [](TEnvOptionForm &F, auto &) { Click(F.ResetGroup, 1); },
       [](auto &) { EXPECT_EQ(FileOption.ResetType, 1); }},
      {"ResetNever", ENV_PAGE_FILE, [](TEnvOptionForm &F, auto &) { Click(F.ResetGroup, 2); },
       [](auto &) { EXPECT_EQ(FileOption.ResetType, 2); }},
      {"RemoveList", ENV_PAGE_FILE, [](TEnvOptionForm &F, auto &) { F.RemoveListCheck->click(); },
       [](auto &) { EXPECT_TRUE(FileOption.RemoveList); }},
      {"IgnoreReadOnly", ENV_PAGE_FILE, [](TEnvOptionForm &F, auto &) { F.IgnoreReadOnlyCheck->click(); },
       [](auto &) { EXPECT_EQ(FileOption.IgnoreReadOnlyAttr, LongTrue); }},
      {"SkipImageCheck", ENV_PAGE_FILE, [](TEnvOptionForm &F, auto &) { F.SkipImageCheckCheck->click(); },
       [](auto &) { EXPECT_EQ(FileOption.SkipImageCheck, LongTrue); }},
      {"DeleteInputFile", ENV_PAGE_FILE, [](TEnvOptionForm &F, auto &) { F.DeleteInputFileCheck->click(); },
       [](auto &) { EXPECT_EQ(FileOption.DeleteInputFile, LongTrue); }},
      {"AllowUndo", ENV_PAGE_FILE, [](TEnvOptionForm &F, auto &) { F.AllowUndoCheck->click(); },
       [](auto &) { EXPECT_EQ(FileOption.AllowUndo, LongTrue); }},
      {"AutoSortDateAlways", ENV_PAGE_FILE, [](TEnvOptionForm &F, auto &) { F.AutoSortBox->setCurrentIndex(4); },
       [](auto &) { EXPECT_EQ(FileOption.AutoSortMode, 4); }},
      {"CheckExt", ENV_PAGE_FILE, [](TEnvOptionForm &F, auto &) { F.CheckExtCheck->click(); },
       [](auto &) { EXPECT_EQ(FileOption.CheckExt, LongTrue); }},
      {"TargetExtLosesItsPoints", ENV_PAGE_FILE,
       [](TEnvOptionForm &F, auto &) { F.TargetExtEdit->setText(QStringLiteral(".JPG,.png,webp")); },
       [](auto &) { EXPECT_EQ(FileOption.TargetExt, "JPG,png,webp"); }},
      {"UseExternalToolOff", ENV_PAGE_POSTPROCESS, [](TEnvOptionForm &F, auto &) { F.UseExternalToolCheck->click(); },
       [](auto &) { EXPECT_FALSE(SystemOption.UseExternalTool); }},
      {"Command", ENV_PAGE_POSTPROCESS,
       [](TEnvOptionForm &F, auto &) { F.CommandEdit->setText(QStringLiteral("/opt/upload \"<dir>\"")); },
       [](auto &) { EXPECT_EQ(SystemOption.Command, "/opt/upload \"<dir>\""); }},
      {"DeleteFileOff", ENV_PAGE_POSTPROCESS, [](TEnvOptionForm &F, auto &) { F.DeleteFileCheck->click(); },
       [](auto &) { EXPECT_EQ(SystemOption.DeleteFile, LongFalse); }},
      {"DeleteFileName", ENV_PAGE_POSTPROCESS,
       [](TEnvOptionForm &F, auto &) { F.DeleteFileNameEdit->setText(QStringLiteral("<yyyy>")); },
       [](auto &) { EXPECT_EQ(SystemOption.DeleteFileName, "<yyyy>"); }},
      {"Notify", ENV_PAGE_POSTPROCESS, [](TEnvOptionForm &F, auto &) { F.NotifyCheck->click(); },
       [](auto &) { EXPECT_EQ(SystemOption.Notify, LongTrue); }},
      {"SoundFile", ENV_PAGE_POSTPROCESS,
       [](TEnvOptionForm &F, auto &) { F.SoundFileEdit->setText(QStringLiteral("/usr/share/sounds/done.wav")); },
       [](auto &) { EXPECT_EQ(SystemOption.SoundFile, "/usr/share/sounds/done.wav"); }},
  };
  return Fields;
}

class EnvField : public OptionDialogs, public ::testing::WithParamInterface<TEnvField> {};

TEST_P(EnvField, ReachesItsRecordOnOkOnly) {
  const TEnvField &C = GetParam();
  const std::string Before = RecordsText();
  const std::string D = Dir;
  EXPECT_FALSE(RunEnv([&C, D](TEnvOptionForm &F) {
    C.Change(F, D);
    Press(F, QDialogButtonBox::Cancel);
  }));
  EXPECT_EQ(RecordsText(), Before) << "Cancel changed a record";
  EXPECT_TRUE(RunEnv([&C, D](TEnvOptionForm &F) {
    C.Change(F, D);
    Press(F, QDialogButtonBox::Ok);
  }));
  C.Expect(D);
  EXPECT_NE(RecordsText(), Before);
}

INSTANTIATE_TEST_SUITE_P(Table, EnvField, ::testing::ValuesIn(EnvFields()),
                         [](const auto &I) { return std::string(I.param.Name); });

TEST_F(OptionDialogs, CancelAfterChangesOnEveryPageLeavesEveryRecordAndThePage) {
  WindowSettings.EnvOptionPage = ENV_PAGE_FOLDER;
  const std::string Before = RecordsText();
  const std::string D = Dir;
  EXPECT_FALSE(RunEnv([D](TEnvOptionForm &F) {
    for (const TEnvField &C : EnvFields()) {
      F.Tabs->setCurrentIndex(C.Page);
      C.Change(F, D);
    }
    F.Tabs->setCurrentIndex(ENV_PAGE_POSTPROCESS);
    Press(F, QDialogButtonBox::Cancel);
  }));
  EXPECT_EQ(RecordsText(), Before);
  EXPECT_EQ(WindowSettings.EnvOptionPage, ENV_PAGE_FOLDER);
}

TEST_F(OptionDialogs, OkWithoutChangesKeepsEveryRecord) {
  const std::string Before = RecordsText();
  EXPECT_TRUE(RunEnv([](TEnvOptionForm &F) { Press(F, QDialogButtonBox::Ok); }));
  EXPECT_EQ(RecordsText(), Before);
}

struct TPageCase {
  const char *Name;
  int32_t Remembered;
  int32_t Shown;  // the page switched to before closing
  bool Ok;
  int32_t Expected;
};
class RememberedPage : public OptionDialogs, public ::testing::WithParamInterface<TPageCase> {};

TEST_P(RememberedPage, OpensOnItAndChangesOnlyOnOk) {
  const TPageCase &C = GetParam();
  WindowSettings.EnvOptionPage = C.Remembered;
  int Opened = -1;
  RunEnv([&C, &Opened](TEnvOptionForm &F) {
    Opened = F.Tabs->currentIndex();
    F.Tabs->setCurrentIndex(C.Shown);
    Press(F, C.Ok ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel);
  });
  EXPECT_EQ(Opened, C.Remembered);
  EXPECT_EQ(WindowSettings.EnvOptionPage, C.Expected);
}

INSTANTIATE_TEST_SUITE_P(Table, RememberedPage,
                         ::testing::Values(TPageCase{"OkRemembersTheShownPage", 0, 4, true, 4},
                                           TPageCase{"CancelKeepsTheOldPage", 2, 5, false, 2},
                                           TPageCase{"OkOnTheSamePage", 3, 3, true, 3}),
                         [](const auto &I) { return std::string(I.param.Name); });

TEST_F(OptionDialogs, PagesAndCaptionsInOrder) {
  RunEnv([](TEnvOptionForm &F) {
    EXPECT_EQ(F.windowTitle(), QStringLiteral("環境設定"));
    const QStringList Tabs{"システム", "出力フォルダ", "外部ビューア", "カラーマネージメント", "ファイル", "後処理"};
    ASSERT_EQ(F.Tabs->count(), Tabs.size());
    for (int i = 0; i < Tabs.size(); ++i) EXPECT_EQ(F.Tabs->tabText(i), Tabs[i]);
    EXPECT_EQ(F.SystemPage->windowTitle(), QStringLiteral("システム設定"));
    EXPECT_EQ(F.FolderPage->windowTitle(), QStringLiteral("出力フォルダ設定"));
    EXPECT_EQ(F.PreviewPage->windowTitle(), QStringLiteral("プレビュー設定"));
    Press(F, QDialogButtonBox::Cancel);
  });
}

// ---------------------------------------------------------------------------
// Enabling

struct TEnablingCase {
  const char *Name;
  int Page;
  std::function<QAbstractButton *(TEnvOptionForm &)> Box;
  std::function<std::vector<QWidget *>(TEnvOptionForm &)> Dependents;
  bool EnabledWhenChecked;
};
class EnvEnabling : public OptionDialogs, public ::testing::WithParamInterface<TEnablingCase> {};

TEST_P(EnvEnabling, DependentsFollowTheBoxAtOpeningAndOnEveryChange) {
  const TEnablingCase &C = GetParam();
  RunEnv([&C](TEnvOptionForm &F) {
    F.Tabs->setCurrentIndex(C.Page);
    QAbstractButton *Box = C.Box(F);
    for (int Round = 0; Round < 3; ++Round) {
      const bool Want = Box->isChecked() == C.EnabledWhenChecked;
      for (QWidget *W : C.Dependents(F)) EXPECT_EQ(W->isEnabled(), Want) << "round " << Round;
      Box->click();
    }
    Press(F, QDialogButtonBox::Cancel);
  });
}

INSTANTIATE_TEST_SUITE_P(
    Table, EnvEnabling,
    ::testing::Values(
        TEnablingCase{"ParallelEnablesTheThreadField", ENV_PAGE_SYSTEM,
                      [](TEnvOptionForm &F) { return F.SystemPage->ParallelCheck; },
                      [](TEnvOptionForm &F) {
                        return std::vector<QWidget *>{F.SystemPage->MaxThreadEdit, F.SystemPage->MaxThreadLabel};
                      },
                      true},
        TEnablingCase{"SameFolderDisablesTheOutputGroup", ENV_PAGE_FOLDER,
                      [](TEnvOptionForm &F) { return F.FolderPage->SameDirectoryCheck; },
                      [](TEnvOptionForm &F) {
                        return std::vector<QWidget *>{F.FolderPage->OutputDirectoryEdit,
                                                      F.FolderPage->OutputDirectoryButton,
                                                      F.FolderPage->ShowDirectoryCheck, F.FolderPage->OpenCheckCheck};
                      },
                      false},
        TEnablingCase{"NotOverwriteEnablesTheTwoChoices", ENV_PAGE_FILE,
                      [](TEnvOptionForm &F) { return F.NotOverwriteCheck; },
                      [](TEnvOptionForm &F) {
                        return std::vector<QWidget *>{F.SkipGroup->button(0), F.SkipGroup->button(1)};
                      },
                      true},
        TEnablingCase{"ExternalToolEnablesTheCommand", ENV_PAGE_POSTPROCESS,
                      [](TEnvOptionForm &F) { return F.UseExternalToolCheck; },
                      [](TEnvOptionForm &F) { return std::vector<QWidget *>{F.CommandEdit, F.CommandButton}; }, true},
        TEnablingCase{"DeleteFileEnablesTheFileName", ENV_PAGE_POSTPROCESS,
                      [](TEnvOptionForm &F) { return F.DeleteFileCheck; },
                      [](TEnvOptionForm &F) { return std::vector<QWidget *>{F.DeleteFileNameEdit}; }, true}),
    [](const auto &I) { return std::string(I.param.Name); });

TEST_F(OptionDialogs, OnOneProcessorTheParallelBoxAndTheThreadFieldAreDisabled) {
  SystemOption.ProcessorCount = 1;
  ApplySystemThreadRules(SystemOption, 0, true);
  RunEnv([](TEnvOptionForm &F) {
    EXPECT_FALSE(F.SystemPage->ParallelCheck->isEnabled());
    EXPECT_FALSE(F.SystemPage->MaxThreadEdit->isEnabled());
    EXPECT_EQ(F.SystemPage->MaxThreadEdit->maximum(), 1);
    Press(F, QDialogButtonBox::Ok);
  });
  EXPECT_FALSE(SystemOption.ParallelProcessing);
  EXPECT_EQ(SystemOption.MaxThread, 1);
}

// ---------------------------------------------------------------------------
// Numeric fields

struct TClampCase {
  const char *Name;
  int Page;
  std::function<TNumEdit *(TEnvOptionForm &)> Field;
  const char *Typed;
  std::function<int32_t()> Stored;
  int32_t Expected;
};
class EnvClamp : public OptionDialogs, public ::testing::WithParamInterface<TClampCase> {};

TEST_P(EnvClamp, TypedTextIsClampedOrFallsBackToTheDefault) {
  const TClampCase &C = GetParam();
  EXPECT_TRUE(RunEnv([&C](TEnvOptionForm &F) {
    F.Tabs->setCurrentIndex(C.Page);
    TypeInto(C.Field(F), QString::fromUtf8(C.Typed));
    Press(F, QDialogButtonBox::Ok);
  }));
  EXPECT_EQ(C.Stored(), C.Expected);
}

TNumEdit *ThreadField(TEnvOptionForm &F) { return F.SystemPage->MaxThreadEdit; }
TNumEdit *StartField(TEnvOptionForm &F) { return F.UDNumEdit; }
int32_t StoredThreads() { return SystemOption.MaxThread; }
int32_t StoredStart() { return FileOption.StartNumber; }

INSTANTIATE_TEST_SUITE_P(
    Table, EnvClamp,
    ::testing::Values(TClampCase{"ThreadsAboveTheProcessors", ENV_PAGE_SYSTEM, ThreadField, "9", StoredThreads, 4},
                      TClampCase{"ThreadsZero", ENV_PAGE_SYSTEM, ThreadField, "0", StoredThreads, 1},
                      TClampCase{"ThreadsEmpty", ENV_PAGE_SYSTEM, ThreadField, "", StoredThreads, 1},
                      TClampCase{"ThreadsOnlyAMinus", ENV_PAGE_SYSTEM, ThreadField, "-", StoredThreads, 1},
                      TClampCase{"ThreadsLettersAreNotTyped", ENV_PAGE_SYSTEM, ThreadField, "x2y", StoredThreads, 2},
                      TClampCase{"StartNumberAboveTheTop", ENV_PAGE_FILE, StartField, "123456789", StoredStart,
                                 99999999},
                      TClampCase{"StartNumberNegative", ENV_PAGE_FILE, StartField, "-5", StoredStart, 0},
                      TClampCase{"StartNumberEmpty", ENV_PAGE_FILE, StartField, "", StoredStart, 1},
                      TClampCase{"StartNumberFraction", ENV_PAGE_FILE, StartField, "7.8", StoredStart, 7},
                      TClampCase{"StartNumberTwoPoints", ENV_PAGE_FILE, StartField, "1.2.3", StoredStart, 1}),
    [](const auto &I) { return std::string(I.param.Name); });

TEST_F(OptionDialogs, UpAndDownKeysStepInsideTheRangeOnly) {
  EXPECT_TRUE(RunEnv([](TEnvOptionForm &F) {
    TNumEdit *T = F.SystemPage->MaxThreadEdit;  // 1 to 4, showing 3
    QTest::keyClick(T, Qt::Key_Up);
    EXPECT_EQ(T->IntValue(), 4);
    QTest::keyClick(T, Qt::Key_Up);
    EXPECT_EQ(T->IntValue(), 4);
    QTest::keyClick(T, Qt::Key_Down);
    EXPECT_EQ(T->IntValue(), 3);
    EXPECT_EQ(T->alignment() & Qt::AlignRight, Qt::AlignRight);
    Press(F, QDialogButtonBox::Ok);
  }));
  EXPECT_EQ(SystemOption.MaxThread, 3);
}

// ---------------------------------------------------------------------------
// File and folder choices

struct TFileButtonCase {
  const char *Name;
  int Page;
  std::function<QAbstractButton *(TEnvOptionForm &)> Button;
  std::function<QLineEdit *(TEnvOptionForm &)> Edit;
  const char *Title;         // null: the dialog's own
  const char *Filter;        // the first name filter
  const char *StartIn;       // the folder the dialog opens in; "$DIR" is the case's folder
  std::function<std::string()> Stored;
};
class FileButtons : public OptionDialogs, public ::testing::WithParamInterface<TFileButtonCase> {};

TEST_P(FileButtons, OpenInTheirFolderWithTheirFilterAndFillTheField) {
  const TFileButtonCase &C = GetParam();
  const std::string Chosen = Dir + "/chosen-file.wav";
  std::ofstream(Chosen) << "x";
  PreviewOption.ViewerPath = "";
  SystemOption.Command = "\"" + Dir + "/my tool\" --all";
  SystemOption.SoundFile = Dir + "/old.wav";
  QString Title, Filter, StartIn;
  EXPECT_TRUE(RunEnv([&](TEnvOptionForm &F) {
    F.Tabs->setCurrentIndex(C.Page);
    WhenModal<QFileDialog>([&](QFileDialog &D) {
      Title = D.windowTitle();
      Filter = D.nameFilters().value(0);
      StartIn = D.directory().absolutePath();
      ChooseInFileDialog(D, QString::fromStdString(Chosen));
    });
    C.Button(F)->click();
    EXPECT_EQ(C.Edit(F)->text().toStdString(), Chosen);
    Press(F, QDialogButtonBox::Ok);
  }));
  if (C.Title) EXPECT_EQ(Title, QString::fromUtf8(C.Title));
  EXPECT_EQ(Filter, QString::fromUtf8(C.Filter));
  std::string Want = C.StartIn;
  if (Want == "$DIR") Want = Dir;
  EXPECT_EQ(StartIn.toStdString(), Want);
  EXPECT_EQ(C.Stored(), Chosen);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FileButtons,
    ::testing::Values(
        TFileButtonCase{"ViewerStartsAmongThePrograms", ENV_PAGE_VIEWER,
                        [](TEnvOptionForm &F) { return F.PreviewPage->ViewerPathButton; },
                        [](TEnvOptionForm &F) { return F.PreviewPage->ViewerPathEdit; }, "外部ビューアの選択",
                        "外部ビューア (*)", "/usr/bin", [] { return PreviewOption.ViewerPath; }},
        TFileButtonCase{"CommandStartsInTheCommandsFolder", ENV_PAGE_POSTPROCESS,
                        [](TEnvOptionForm &F) { return F.CommandButton; },
                        [](TEnvOptionForm &F) { return F.CommandEdit; }, nullptr, "プログラム (*)", "$DIR",
                        [] { return SystemOption.Command; }},
        TFileButtonCase{"SoundStartsInTheSoundFilesFolder", ENV_PAGE_POSTPROCESS,
                        [](TEnvOptionForm &F) { return F.SoundFileButton; },
                        [](TEnvOptionForm &F) { return F.SoundFileEdit; }, nullptr, "Waveファイル (*.wav)", "$DIR",
                        [] { return SystemOption.SoundFile; }}),
    [](const auto &I) { return std::string(I.param.Name); });

struct TFolderButtonCase {
  const char *Name;
  std::function<QAbstractButton *(TEnvOptionForm &)> Button;
  std::function<QLineEdit *(TEnvOptionForm &)> Edit;
  const char *Title;
};
class FolderButtons : public OptionDialogs, public ::testing::WithParamInterface<TFolderButtonCase> {};

TEST_P(FolderButtons, BrowseFromTheShownFolderBesideTheDialog) {
  const TFolderButtonCase &C = GetParam();
  const std::string Chosen = Dir + "/picked";
  fs::create_directories(Chosen);
  QString Title, StartIn;
  QPoint At, Expected;
  bool DirectoryMode = false;
  RunEnv([&](TEnvOptionForm &F) {
    F.Tabs->setCurrentIndex(ENV_PAGE_FOLDER);
    C.Edit(F)->setText(QString::fromStdString(Dir));
    Expected = F.geometry().topLeft() + QPoint(22, 22);
    WhenModal<QFileDialog>([&](QFileDialog &D) {
      Title = D.windowTitle();
      StartIn = D.directory().absolutePath();
      At = D.pos();
      DirectoryMode = D.fileMode() == QFileDialog::Directory;
      ChooseInFileDialog(D, QString::fromStdString(Chosen));
    });
    C.Button(F)->click();
    EXPECT_EQ(C.Edit(F)->text().toStdString(), Chosen);
    Press(F, QDialogButtonBox::Cancel);
  });
  EXPECT_EQ(Title, QString::fromUtf8(C.Title));
  EXPECT_EQ(StartIn.toStdString(), Dir);
  EXPECT_EQ(At, Expected);
  EXPECT_TRUE(DirectoryMode);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FolderButtons,
    ::testing::Values(TFolderButtonCase{"OutputFolder", [](TEnvOptionForm &F) { return F.FolderPage->OutputDirectoryButton; },
                                        [](TEnvOptionForm &F) { return F.FolderPage->OutputDirectoryEdit; },
                                        "出力フォルダ"},
                      TFolderButtonCase{"ClipboardFolder",
                                        [](TEnvOptionForm &F) { return F.FolderPage->ClipBoardTempDirButton; },
                                        [](TEnvOptionForm &F) { return F.FolderPage->ClipBoardTempDirEdit; },
                                        "クリップボードから生成した画像の一時保存場所"}),
    [](const auto &I) { return std::string(I.param.Name); });

// ---------------------------------------------------------------------------
// Profile lists

std::vector<std::string> Items(QComboBox *Box) {
  std::vector<std::string> V;
  for (int i = 0; i < Box->count(); ++i) V.push_back(Box->itemText(i).toStdString());
  return V;
}

bool Lists(const std::vector<std::string> &Items, const std::string &Name) {
  return std::find(Items.begin(), Items.end(), Name) != Items.end();
}

TEST_F(OptionDialogs, ProfileListsHoldTheColourFoldersProfilesOfTheirKind) {
  RunEnv([](TEnvOptionForm &F) {
    const char *First[] = {"既定のモニタプロファイル", "built-in sRGB Profile", "built-in CMYK Profile",
                           "built-in sRGB Profile", "built-in sGray Profile"};
    for (int i = 0; i < PROFILE_LIST_COUNT; ++i) {
      const auto V = Items(F.ProfileBoxes[size_t(i)]);
      ASSERT_FALSE(V.empty());
      EXPECT_EQ(V[0], First[i]);
      EXPECT_EQ(F.ProfileBoxes[size_t(i)]->currentIndex(), 0);
      const bool Rgb = i == PROFILE_LIST_MONITOR || i == PROFILE_LIST_WORKSPACE || i == PROFILE_LIST_RGB;
      EXPECT_EQ(Lists(V, "tp-rgb.icc"), Rgb) << i;
      EXPECT_EQ(Lists(V, "tp-cmyk.icc"), i == PROFILE_LIST_CMYK) << i;
      EXPECT_EQ(Lists(V, "tp-gray.icm"), i == PROFILE_LIST_GRAY) << i;
    }
    Press(F, QDialogButtonBox::Cancel);
  });
}

TEST_F(OptionDialogs, AListEntryPickedInTheBoxIsStoredAndTheProfilesAreReloaded) {
  const std::string Rgb = Data + "/icc/tp-rgb.icc";
  EXPECT_TRUE(RunEnv([](TEnvOptionForm &F) {
    QComboBox *Box = F.ProfileBoxes[PROFILE_LIST_WORKSPACE];
    Box->setCurrentIndex(Box->findText(QStringLiteral("tp-rgb.icc")));
    Press(F, QDialogButtonBox::Ok);
  }));
  EXPECT_EQ(ColorManagementOption.WorkSpaceProfile, Rgb);
  EXPECT_EQ(ColorManagementOption.MonitorProfile, "");
  // The working space now comes from that file: its bytes go with the pictures.
  TICCInfo Info{};
  CMS.GetWorkSpaceProfileData(Info);
  EXPECT_EQ(Info.Len, fs::file_size(Rgb));
}

struct TProfileFileCase {
  const char *Name;
  int32_t List;
  TProfileFixture Kind;
  bool Fits;
  std::function<std::string()> Stored;
};
class ProfileFileButton : public OptionDialogs, public ::testing::WithParamInterface<TProfileFileCase> {};

TEST_P(ProfileFileButton, AFileOfTheListsKindIsAddedAnyOtherIsRefusedWithTheWarning) {
  const TProfileFileCase &C = GetParam();
  const std::string Chosen = Dir + "/chosen.icc";
  ASSERT_TRUE(WriteProfile(C.Kind, Chosen));
  ColorManagementOption.ColorProfileDir = Data;  // the folder the dialog opens in
  QString StartIn, Filter, WarningTitle, WarningText;
  EXPECT_TRUE(RunEnv([&](TEnvOptionForm &F) {
    QComboBox *Box = F.ProfileBoxes[size_t(C.List)];
    const auto Before = Items(Box);
    const int BeforeIndex = Box->currentIndex();
    WhenModal<QFileDialog>([&](QFileDialog &D) {
      StartIn = D.directory().absolutePath();
      Filter = D.nameFilters().value(0);
      if (!C.Fits)
        WhenModal<QMessageBox>([&](QMessageBox &M) {
          WarningTitle = M.windowTitle();
          WarningText = M.text();
          M.accept();
        });
      ChooseInFileDialog(D, QString::fromStdString(Chosen));
    });
    F.ProfileButtons[size_t(C.List)]->click();
    if (C.Fits) {
      EXPECT_EQ(Box->currentText(), QStringLiteral("chosen.icc"));
      EXPECT_EQ(Box->count(), int(Before.size()) + 1);
    } else {
      EXPECT_EQ(Items(Box), Before);
      EXPECT_EQ(Box->currentIndex(), BeforeIndex);
    }
    Press(F, QDialogButtonBox::Ok);
  }));
  EXPECT_EQ(StartIn.toStdString(), Data);
  EXPECT_EQ(Filter, QStringLiteral("ICCプロファイル (*.icc *.icm)"));
  if (C.Fits) {
    EXPECT_TRUE(WarningText.isEmpty());
    EXPECT_EQ(C.Stored(), Chosen);
    EXPECT_EQ(ColorManagementOption.ColorProfileDir, Dir);
  } else {
    EXPECT_EQ(WarningTitle, QStringLiteral("TessivoPlus"));
    EXPECT_EQ(WarningText, QStringLiteral("カラースペースが一致しません"));
    EXPECT_EQ(C.Stored(), "");
    EXPECT_EQ(ColorManagementOption.ColorProfileDir, Data);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ProfileFileButton,
    ::testing::Values(
        TProfileFileCase{"RGBIntoMonitor", PROFILE_LIST_MONITOR, TProfileFixture::RGB, true,
                         [] { return ColorManagementOption.MonitorProfile; }},
        TProfileFileCase{"GrayIntoMonitor", PROFILE_LIST_MONITOR, TProfileFixture::Gray, false,
                         [] { return ColorManagementOption.MonitorProfile; }},
        TProfileFileCase{"RGBIntoWorkSpace", PROFILE_LIST_WORKSPACE, TProfileFixture::RGB, true,
                         [] { return ColorManagementOption.WorkSpaceProfile; }},
        TProfileFileCase{"CMYKIntoWorkSpace", PROFILE_LIST_WORKSPACE, TProfileFixture::CMYK, false,
                         [] { return ColorManagementOption.WorkSpaceProfile; }},
        TProfileFileCase{"CMYKIntoCMYK", PROFILE_LIST_CMYK, TProfileFixture::CMYK, true,
                         [] { return ColorManagementOption.CMYKProfile; }},
        TProfileFileCase{"RGBIntoCMYK", PROFILE_LIST_CMYK, TProfileFixture::RGB, false,
                         [] { return ColorManagementOption.CMYKProfile; }},
        TProfileFileCase{"RGBIntoRGB", PROFILE_LIST_RGB, TProfileFixture::RGB, true,
                         [] { return ColorManagementOption.RGBProfile; }},
        TProfileFileCase{"DeviceLinkIntoRGB", PROFILE_LIST_RGB, TProfileFixture::DeviceLink, false,
                         [] { return ColorManagementOption.RGBProfile; }},
        TProfileFileCase{"GrayIntoGray", PROFILE_LIST_GRAY, TProfileFixture::Gray, true,
                         [] { return ColorManagementOption.GrayscaleProfile; }},
        TProfileFileCase{"LabIntoGray", PROFILE_LIST_GRAY, TProfileFixture::Lab, false,
                         [] { return ColorManagementOption.GrayscaleProfile; }}),
    [](const auto &I) { return std::string(I.param.Name); });

// ---------------------------------------------------------------------------
// Background colour and the custom colours

TEST_F(OptionDialogs, TheColourDialogCarriesTheCustomColoursAndOkStoresThemBack) {
  const TColorChoice::TPalette Stored = SystemOption.CustomPalette;
  // Another dialog left other custom colours in Qt's shared set.
  for (int i = 0; i < QColorDialog::customCount(); ++i) QColorDialog::setCustomColor(i, Qt::white);
  std::vector<uint32_t> Shown;
  uint32_t StartColor = 0;
  auto ChooseIn = [&](TEnvOptionForm &F, QDialogButtonBox::StandardButton Close) {
    WhenModal<QColorDialog>([&](QColorDialog &D) {
      StartColor = ColorRefOfColor(D.currentColor());
      Shown.clear();
      for (int i = 0; i < 16; ++i) Shown.push_back(ColorRefOfColor(QColorDialog::customColor(i)));
      QColorDialog::setCustomColor(5, QColor(0x12, 0x34, 0x56));  // the user adds a custom colour
      D.setCurrentColor(QColor(0xAA, 0xBB, 0xCC));
      static_cast<QDialog &>(D).accept();  // through the colour dialog's own accept
    });
    F.SystemPage->BackColorButton->click();
    EXPECT_EQ(F.SystemPage->BackColor, 0xCCBBAAu);
    Press(F, Close);
  };
  // Cancel of the environment dialog keeps palette and colour.
  EXPECT_FALSE(RunEnv([&](TEnvOptionForm &F) { ChooseIn(F, QDialogButtonBox::Cancel); }));
  EXPECT_EQ(StartColor, 0x336699u);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(Shown[size_t(i)], uint32_t(Stored[size_t(i)])) << i;
  EXPECT_EQ(SystemOption.CustomPalette, Stored);
  EXPECT_EQ(Background, 0x336699u);

  for (int i = 0; i < QColorDialog::customCount(); ++i) QColorDialog::setCustomColor(i, Qt::white);
  EXPECT_TRUE(RunEnv([&](TEnvOptionForm &F) { ChooseIn(F, QDialogButtonBox::Ok); }));
  for (int i = 0; i < 16; ++i) EXPECT_EQ(Shown[size_t(i)], uint32_t(Stored[size_t(i)])) << i;
  EXPECT_EQ(Background, 0xCCBBAAu);
  EXPECT_EQ(SystemOption.CustomPalette[5], 0x563412);
  EXPECT_EQ(SystemOption.CustomPalette[4], Stored[4]);

  // The next colour dialog starts with the colour the user added.
  for (int i = 0; i < QColorDialog::customCount(); ++i) QColorDialog::setCustomColor(i, Qt::white);
  RunEnv([&](TEnvOptionForm &F) { ChooseIn(F, QDialogButtonBox::Cancel); });
  EXPECT_EQ(Shown[5], 0x563412u);
  EXPECT_EQ(StartColor, 0xCCBBAAu);
}

TEST_F(OptionDialogs, TheSwatchShowsTheColourAsTheMonitorShowsIt) {
  // With colour management off the colour is shown as it is.
  ColorManagementOption.Enabled = LongFalse;
  CMS.InitProfile(ColorManagementOption);
  RunEnv([](TEnvOptionForm &F) {
    EXPECT_EQ(F.SystemPage->BackColorSwatch->palette().color(QPalette::Window), QColor(0x99, 0x66, 0x33));
    Press(F, QDialogButtonBox::Cancel);
  });
  ColorManagementOption.Enabled = LongTrue;
  CMS.InitProfile(ColorManagementOption);
  // With it on, through the monitor profile (here the built-in sRGB both
  // ways, so a colour comes back within rounding).
  RunEnv([](TEnvOptionForm &F) {
    const QColor C = F.SystemPage->BackColorSwatch->palette().color(QPalette::Window);
    EXPECT_NEAR(C.red(), 0x99, 2);
    EXPECT_NEAR(C.green(), 0x66, 2);
    EXPECT_NEAR(C.blue(), 0x33, 2);
    Press(F, QDialogButtonBox::Cancel);
  });
}

// ---------------------------------------------------------------------------
// Resize dialog

struct TResizeField {
  const char *Name;
  std::function<void(TResizeOptionForm &)> Change;
  std::function<void()> Expect;
};
class ResizeField : public OptionDialogs, public ::testing::WithParamInterface<TResizeField> {};

TEST_P(ResizeField, ReachesTheRecordOnOkOnly) {
  const TResizeField &C = GetParam();
  const std::string Before = RecordsText();
  EXPECT_FALSE(RunResize([&C](TResizeOptionForm &F) {
    C.Change(F);
    Press(F, QDialogButtonBox::Cancel);
  }));
  EXPECT_EQ(RecordsText(), Before);
  EXPECT_TRUE(RunResize([&C](TResizeOptionForm &F) {
    C.Change(F);
    Press(F, QDialogButtonBox::Ok);
  }));
  C.Expect();
}

INSTANTIATE_TEST_SUITE_P(
    Table, ResizeField,
    ::testing::Values(
        TResizeField{"ReductionKernel", [](TResizeOptionForm &F) { F.Decimation.Box->setCurrentIndex(0); },
                     [] { EXPECT_EQ(ResizeOption.DecimationMode, 1); }},
        TResizeField{"EnlargementKernel", [](TResizeOptionForm &F) { F.Interpolation.Box->setCurrentIndex(0); },
                     [] { EXPECT_EQ(ResizeOption.InterpolationMode, 2); }},
        TResizeField{"ReductionRadiusWhileHidden",
                     [](TResizeOptionForm &F) { TypeInto(F.Decimation.Radius, QStringLiteral("16")); },
                     [] { EXPECT_EQ(ResizeOption.DecimationRadius, 16); }},
        TResizeField{"ReductionSharp", [](TResizeOptionForm &F) { TypeInto(F.Decimation.Sharp, QStringLiteral("-3")); },
                     [] { EXPECT_EQ(ResizeOption.DecimationSharp, -3); }},
        TResizeField{"ReductionBlur", [](TResizeOptionForm &F) { TypeInto(F.Decimation.Blur, QStringLiteral("20")); },
                     [] { EXPECT_EQ(ResizeOption.DecimationBlur, 20); }},
        TResizeField{"EnlargementRadius",
                     [](TResizeOptionForm &F) { TypeInto(F.Interpolation.Radius, QStringLiteral("5")); },
                     [] { EXPECT_EQ(ResizeOption.InterpolationRadius, 5); }},
        TResizeField{"EnlargementSharp",
                     [](TResizeOptionForm &F) { TypeInto(F.Interpolation.Sharp, QStringLiteral("6")); },
                     [] { EXPECT_EQ(ResizeOption.InterpolationSharp, 6); }},
        TResizeField{"EnlargementBlur", [](TResizeOptionForm &F) { TypeInto(F.Interpolation.Blur, QStringLiteral("3")); },
                     [] { EXPECT_EQ(ResizeOption.InterpolationBlur, 3); }},
        TResizeField{"FloatingPoint", [](TResizeOptionForm &F) { F.SIMDBox->setCurrentIndex(0); },
                     [] { EXPECT_EQ(ResizeOption.SIMDMode, 2); }},
        TResizeField{"Threads", [](TResizeOptionForm &F) { TypeInto(F.MaxThreadEdit, QStringLiteral("12")); },
                     [] { EXPECT_EQ(ResizeOption.MaxThread, 12u); }},
        TResizeField{"LinearLight", [](TResizeOptionForm &F) { F.DegammaCheck->click(); },
                     [] {
                       EXPECT_TRUE(ResizeOption.Degamma);
                       EXPECT_EQ(ResizeOption.SIMDMode, 2);
                     }},
        TResizeField{"NoExpand", [](TResizeOptionForm &F) { F.NoExpandCheck->click(); },
                     [] { EXPECT_TRUE(ResizeOption.NoExpand); }},
        TResizeField{"Limiter", [](TResizeOptionForm &F) { F.LimiterCheck->click(); },
                     [] { EXPECT_TRUE(ResizeOption.Limiter); }}),
    [](const auto &I) { return std::string(I.param.Name); });

TEST_F(OptionDialogs, TheResizeDialogOpensOnTheStoredValues) {
  ResizeOption.DecimationMode = 5;
  ResizeOption.InterpolationMode = 8;
  ResizeOption.DecimationRadius = 7;
  ResizeOption.InterpolationBlur = 13;
  ResizeOption.SIMDMode = 3;
  RunResize([](TResizeOptionForm &F) {
    EXPECT_EQ(F.windowTitle(), QStringLiteral("リサイズ設定"));
    EXPECT_EQ(F.Decimation.Box->currentText(), QStringLiteral("BlackmanSinc"));
    EXPECT_EQ(F.Interpolation.Box->currentText(), QStringLiteral("Gaussian"));
    EXPECT_EQ(F.Decimation.Box->count(), 9);
    EXPECT_EQ(F.Interpolation.Box->count(), 8);
    EXPECT_EQ(F.Decimation.Radius->IntValue(), 7);
    EXPECT_EQ(F.Interpolation.Blur->IntValue(), 13);
    EXPECT_EQ(F.SIMDBox->currentText(), QStringLiteral("整数"));
    EXPECT_EQ(F.MaxThreadEdit->IntValue(), 4);
    Press(F, QDialogButtonBox::Cancel);
  });
}

struct TGroupCase {
  int Index;  // in the reduction list (kernel Index + 1)
  bool Radius, Sharp, Blur;
};
class ResizeGroups : public OptionDialogs, public ::testing::WithParamInterface<TGroupCase> {};

TEST_P(ResizeGroups, TheSelectedKernelShowsItsParameterGroupInBothLists) {
  const TGroupCase &C = GetParam();
  RunResize([&C](TResizeOptionForm &F) {
    F.Decimation.Box->setCurrentIndex(C.Index);
    EXPECT_EQ(F.Decimation.RadiusRow->isVisibleTo(&F), C.Radius);
    EXPECT_EQ(F.Decimation.SharpRow->isVisibleTo(&F), C.Sharp);
    EXPECT_EQ(F.Decimation.BlurRow->isVisibleTo(&F), C.Blur);
    if (C.Index >= 1) {  // the enlargement list starts at kernel 2
      F.Interpolation.Box->setCurrentIndex(C.Index - 1);
      EXPECT_EQ(F.Interpolation.RadiusRow->isVisibleTo(&F), C.Radius);
      EXPECT_EQ(F.Interpolation.SharpRow->isVisibleTo(&F), C.Sharp);
      EXPECT_EQ(F.Interpolation.BlurRow->isVisibleTo(&F), C.Blur);
    }
    Press(F, QDialogButtonBox::Cancel);
  });
}

INSTANTIATE_TEST_SUITE_P(Table, ResizeGroups,
                         ::testing::Values(TGroupCase{0, false, false, false}, TGroupCase{1, true, false, false},
                                           TGroupCase{2, false, false, false}, TGroupCase{3, false, true, false},
                                           TGroupCase{4, true, false, false}, TGroupCase{5, false, false, false},
                                           TGroupCase{6, false, false, false}, TGroupCase{7, false, false, true},
                                           TGroupCase{8, false, false, false}),
                         [](const auto &I) { return "Kernel" + std::to_string(I.param.Index + 1); });

TEST_F(OptionDialogs, LinearLightDropsIntegerSelectsFloatAndOkStoresTwo) {
  ResizeOption.SIMDMode = 3;
  EXPECT_TRUE(RunResize([](TResizeOptionForm &F) {
    ASSERT_EQ(F.SIMDBox->currentText(), QStringLiteral("整数"));
    F.DegammaCheck->click();
    EXPECT_EQ(F.SIMDBox->count(), 1);
    EXPECT_EQ(F.SIMDBox->currentText(), QStringLiteral("実数"));
    F.DegammaCheck->click();
    EXPECT_EQ(F.SIMDBox->count(), 2);
    EXPECT_EQ(F.SIMDBox->currentText(), QStringLiteral("実数")) << "each change selects 実数";
    F.DegammaCheck->click();
    Press(F, QDialogButtonBox::Ok);
  }));
  EXPECT_EQ(ResizeOption.SIMDMode, 2);
  EXPECT_TRUE(ResizeOption.Degamma);
  // Opened in linear light, integer is not offered even with SIMDMode 3.
  ResizeOption.SIMDMode = 3;
  RunResize([](TResizeOptionForm &F) {
    EXPECT_EQ(F.SIMDBox->count(), 1);
    Press(F, QDialogButtonBox::Ok);
  });
  EXPECT_EQ(ResizeOption.SIMDMode, 2);
}

struct TResizeClampCase {
  const char *Name;
  std::function<TNumEdit *(TResizeOptionForm &)> Field;
  const char *Typed;
  std::function<int64_t()> Stored;
  int64_t Expected;
};
class ResizeClamp : public OptionDialogs, public ::testing::WithParamInterface<TResizeClampCase> {};

TEST_P(ResizeClamp, TypedTextIsClampedOrFallsBackToTheDefault) {
  const TResizeClampCase &C = GetParam();
  EXPECT_TRUE(RunResize([&C](TResizeOptionForm &F) {
    TypeInto(C.Field(F), QString::fromUtf8(C.Typed));
    Press(F, QDialogButtonBox::Ok);
  }));
  EXPECT_EQ(C.Stored(), C.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ResizeClamp,
    ::testing::Values(
        TResizeClampCase{"ReductionRadiusTop", [](TResizeOptionForm &F) -> TNumEdit * { return F.Decimation.Radius; },
                         "40", [] { return int64_t(ResizeOption.DecimationRadius); }, 32},
        TResizeClampCase{"ReductionRadiusBottom",
                         [](TResizeOptionForm &F) -> TNumEdit * { return F.Decimation.Radius; }, "0",
                         [] { return int64_t(ResizeOption.DecimationRadius); }, 1},
        TResizeClampCase{"EnlargementRadiusTop",
                         [](TResizeOptionForm &F) -> TNumEdit * { return F.Interpolation.Radius; }, "9",
                         [] { return int64_t(ResizeOption.InterpolationRadius); }, 8},
        TResizeClampCase{"SharpBottom", [](TResizeOptionForm &F) -> TNumEdit * { return F.Decimation.Sharp; }, "-9",
                         [] { return int64_t(ResizeOption.DecimationSharp); }, -4},
        TResizeClampCase{"SharpTop", [](TResizeOptionForm &F) -> TNumEdit * { return F.Interpolation.Sharp; }, "12",
                         [] { return int64_t(ResizeOption.InterpolationSharp); }, 8},
        TResizeClampCase{"BlurTop", [](TResizeOptionForm &F) -> TNumEdit * { return F.Decimation.Blur; }, "30",
                         [] { return int64_t(ResizeOption.DecimationBlur); }, 24},
        TResizeClampCase{"BlurEmptyTakesTheDefault",
                         [](TResizeOptionForm &F) -> TNumEdit * { return F.Interpolation.Blur; }, "",
                         [] { return int64_t(ResizeOption.InterpolationBlur); }, 11},
        TResizeClampCase{"ThreadsTop", [](TResizeOptionForm &F) -> TNumEdit * { return F.MaxThreadEdit; }, "17",
                         [] { return int64_t(ResizeOption.MaxThread); }, 16},
        TResizeClampCase{"ThreadsEmpty", [](TResizeOptionForm &F) -> TNumEdit * { return F.MaxThreadEdit; }, "",
                         [] { return int64_t(ResizeOption.MaxThread); }, 1}),
    [](const auto &I) { return std::string(I.param.Name); });

}  // namespace
