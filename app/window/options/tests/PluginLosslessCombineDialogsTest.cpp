// The plug-in dialog, the lossless-JPEG dialog with its segment dialog, and
// the combining dialog on the offscreen platform: every control's way into
// the settings on OK and none on Cancel, the enabling rules, the ranges, the
// clearing question, moving plug-ins, the inverted check marks of a mode
// switch, the segment list's edits and the shared custom colours.
#include "app/PluginSettings.h"
#include "app/window/CombineOptionDialog.h"
#include "app/window/dialogs/ColorChoice.h"
#include "app/window/options/NumEdit.h"
#include "app/window/options/QuzenOptionDialog.h"
#include "app/window/options/SegmentInfoDialog.h"
#include "app/window/options/SusiePluginOptionDialog.h"
#include "app/window/tests/OffscreenApplication.h"
#include "batch/ConvertOption.h"
#include "batch/SusieArchiveHost.h"
#include "core/IniFile.h"
#include "io/SusiePlugin.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace fs = std::filesystem;

namespace {

[[maybe_unused]] ::testing::Environment *const QtEnvironment =
    ::testing::AddGlobalTestEnvironment(new windowtest::TOffscreenApplication);

// Runs Action on the next modal window of type T once it shows, from the
// event loop that window runs: a window found while it is still being shown
// (events processed before its loop started) would miss a closing done
// then. The watch ends with the object, for a window that was not supposed
// to come at all.
template <class T>
class TOnModal {
public:
  explicit TOnModal(std::function<void(T &)> Action) : FState(std::make_shared<TState>()) {
    FState->Action = std::move(Action);
    FState->Level = QThread::currentThread()->loopLevel();
    Poll(FState);
  }
  ~TOnModal() { FState->Armed = false; }
  bool Came() const { return FState->Came; }

private:
  struct TState {
    std::function<void(T &)> Action;
    bool Armed = true;
    bool Came = false;
    int Level = 0;  // the event loops running when the watch began
  };
  static void Poll(const std::shared_ptr<TState> &S) {
    QTimer::singleShot(10, [S] {
      if (!S->Armed) return;
      auto *W = qobject_cast<T *>(QApplication::activeModalWidget());
      if (W && QThread::currentThread()->loopLevel() > S->Level) {
        S->Armed = false;
        S->Came = true;
        S->Action(*W);
        return;
      }
      Poll(S);
    });
  }
  std::shared_ptr<TState> FState;
};

// Chooses Path in a file dialog as a user does: in its folder, the name
// typed into the name field, then OK. (Its own selectFile leaves the field
// alone while the field has the focus, which it may or may not have yet.)
void ChooseInFileDialog(QFileDialog &F, const QString &Path) {
  const QFileInfo Info(Path);
  F.setDirectory(Info.absolutePath());
  auto *Name = F.findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
  ASSERT_NE(Name, nullptr);
  Name->setText(Info.fileName());
  static_cast<QDialog &>(F).done(QDialog::Accepted);
}

void Press(QDialog &D, QDialogButtonBox::StandardButton Which) {
  auto *Box = D.findChild<QDialogButtonBox *>();
  ASSERT_NE(Box, nullptr);
  Box->button(Which)->click();
}

// ---------------------------------------------------------------- plug-ins

// Copies of the test plug-ins and of our own two in a folder of the test's
// own; the program-wide plug-in records point there and come back after.
class PluginDialogWindow : public ::testing::Test {
protected:
  void SetUp() override {
    char Tmpl[] = "/tmp/plugin-window-XXXXXX";
    Tmp = ::mkdtemp(Tmpl);
    Folder = Tmp + "/spi";
    fs::create_directories(Folder);
    fs::create_directories(Tmp + "/data/ini");
    ::setenv("TESSIVOPLUS_DATA", (Tmp + "/data").c_str(), 1);
    for (const char *N : {"good.spi", "error.spi"})
      fs::copy_file(std::string(TESSIVO_TEST_SPI_DIR) + "/" + N, Folder + "/" + N);
    for (const char *N : {"axarchive.spi", "ifraw.spi"})
      fs::copy_file(std::string(TESSIVO_PLUGIN_DIR) + "/" + N, Folder + "/" + N);
    SavedOption = SPIOption;
    SavedOrders = PluginOrders;
    SPIOption.SPIDirectory = Folder;
    SPIOption.ThreadSafeSPI = LongFalse;
    PluginOrders.SPIOrder = "good.spi=1,error.spi=0";
    PluginOrders.ArchiveSPIOrder = "axarchive.spi=1";
  }
  void TearDown() override {
    ReleaseProgramPlugins();
    SPIOption = SavedOption;
    PluginOrders = SavedOrders;
    fs::remove_all(Tmp);
  }
  // The rows of the check list, "name=1" when ticked.
  static std::vector<std::string> Rows(const TSusiePluginOptionDialog &D) {
    std::vector<std::string> V;
    for (int i = 0; i < D.PluginList->count(); ++i)
      V.push_back(D.PluginList->item(i)->text().toStdString() +
                  (D.PluginList->item(i)->checkState() == Qt::Checked ? "=1" : "=0"));
    return V;
  }
  static std::vector<std::string> Loaded(const TSPIList &L) {
    std::vector<std::string> V;
    for (int i = 0; i < L.Count(); ++i) V.push_back(L.Items(i)->Name());
    return V;
  }
  std::string Tmp, Folder;
  TSPIOption SavedOption;
  TPluginOrders SavedOrders;
};

using TNames = std::vector<std::string>;

TEST_F(PluginDialogWindow, ShowsTheStoredListsWithNewPluginsUncheckedAfterThem) {
  TSusiePluginOptionDialog D(SPIOption, PluginOrders, Tmp + "/default");
  EXPECT_EQ(D.windowTitle(), QStringLiteral("Susie Plug-in設定"));
  EXPECT_TRUE(D.ImageButton->isChecked());
  EXPECT_EQ(D.ImageButton->text(), QStringLiteral("画像用プラグイン"));
  EXPECT_EQ(D.ArchiveButton->text(), QStringLiteral("書庫用プラグイン"));
  EXPECT_EQ(D.ThreadSafeCheck->text(), QStringLiteral("複数スレッドで同一プラグインを使用する"));
  EXPECT_EQ(D.BrowseButton->text(), QStringLiteral("参照..."));
  EXPECT_EQ(D.FolderEdit->text().toStdString(), Folder);
  EXPECT_EQ(Rows(D), (TNames{"good.spi=1", "error.spi=0", "ifraw.spi=0"}));
  D.ArchiveButton->click();
  EXPECT_EQ(Rows(D), (TNames{"axarchive.spi=1"}));
  D.ImageButton->click();
  EXPECT_EQ(Rows(D), (TNames{"good.spi=1", "error.spi=0", "ifraw.spi=0"}));
}

struct TPluginEditCase {
  const char *Name;
  std::function<void(TSusiePluginOptionDialog &)> Edit;
  TNames Shown;  // the check list after the edit
  const char *SPIOrder;
  const char *ArchiveSPIOrder;
  bool ThreadSafe;
};

void Select(TSusiePluginOptionDialog &D, int Row) { D.PluginList->setCurrentRow(Row); }

// A drag in the list: the row taken and the row it is dropped before.
void Drag(TSusiePluginOptionDialog &D, int Row, int Before) {
  ASSERT_TRUE(D.PluginList->model()->moveRow(QModelIndex(), Row, QModelIndex(), Before));
}

const TPluginEditCase PluginEditCases[] = {
    {"TickingANewPlugin", [](auto &D) { D.PluginList->item(2)->setCheckState(Qt::Checked); },
     {"good.spi=1", "error.spi=0", "ifraw.spi=1"}, "good.spi=1,error.spi=0,ifraw.spi=1", "axarchive.spi=1", false},
    {"UntickingAPlugin", [](auto &D) { D.PluginList->item(0)->setCheckState(Qt::Unchecked); },
     {"good.spi=0", "error.spi=0", "ifraw.spi=0"}, "good.spi=0,error.spi=0,ifraw.spi=0", "axarchive.spi=1", false},
    {"MovingTheFirstDown",
     [](auto &D) {
       Select(D, 0);
       D.DownButton->click();
     },
     {"error.spi=0", "good.spi=1", "ifraw.spi=0"}, "error.spi=0,good.spi=1,ifraw.spi=0", "axarchive.spi=1", false},
    {"MovingTheLastUpTwice",
     [](auto &D) {
       Select(D, 2);
       D.UpButton->click();
       D.UpButton->click();
     },
     {"ifraw.spi=0", "good.spi=1", "error.spi=0"}, "ifraw.spi=0,good.spi=1,error.spi=0", "axarchive.spi=1", false},
    {"DraggingTheLastToTheTop", [](auto &D) { Drag(D, 2, 0); }, {"ifraw.spi=0", "good.spi=1", "error.spi=0"},
     "ifraw.spi=0,good.spi=1,error.spi=0", "axarchive.spi=1", false},
    {"DraggingTheFirstBelowTheLast", [](auto &D) { Drag(D, 0, 3); }, {"error.spi=0", "ifraw.spi=0", "good.spi=1"},
     "error.spi=0,ifraw.spi=0,good.spi=1", "axarchive.spi=1", false},
    {"DraggingThenTicking",
     [](auto &D) {
       Drag(D, 1, 0);
       D.PluginList->item(0)->setCheckState(Qt::Checked);
     },
     {"error.spi=1", "good.spi=1", "ifraw.spi=0"}, "error.spi=1,good.spi=1,ifraw.spi=0", "axarchive.spi=1", false},
    {"UntickingTheArchivePlugin",
     [](auto &D) {
       D.ArchiveButton->click();
       D.PluginList->item(0)->setCheckState(Qt::Unchecked);
     },
     {"axarchive.spi=0"}, "good.spi=1,error.spi=0,ifraw.spi=0", "axarchive.spi=0", false},
    {"TheThreadSwitch", [](auto &D) { D.ThreadSafeCheck->click(); }, {"good.spi=1", "error.spi=0", "ifraw.spi=0"},
     "good.spi=1,error.spi=0,ifraw.spi=0", "axarchive.spi=1", true},
};

class PluginDialogEdit : public PluginDialogWindow, public ::testing::WithParamInterface<TPluginEditCase> {};

TEST_P(PluginDialogEdit, OkStoresItAndTheProgramReloadsTheTickedPlugins) {
  const TPluginEditCase &C = GetParam();
  TOnModal<TSusiePluginOptionDialog> Dialog([&](TSusiePluginOptionDialog &D) {
    C.Edit(D);
    EXPECT_EQ(Rows(D), C.Shown);
    Press(D, QDialogButtonBox::Ok);
  });
  EXPECT_TRUE(ShowSusiePluginOptionDialog(nullptr, 0, nullptr, nullptr, nullptr));
  EXPECT_TRUE(Dialog.Came());
  EXPECT_EQ(PluginOrders.SPIOrder, C.SPIOrder);
  EXPECT_EQ(PluginOrders.ArchiveSPIOrder, C.ArchiveSPIOrder);
  EXPECT_EQ(SPIOption.ThreadSafeSPI != LongFalse, C.ThreadSafe);
  EXPECT_EQ(SPIOption.SPIDirectory, Folder);
  // The program's lists hold the ticked plug-ins in the stored order, and
  // the configuration file has the stored lists.
  TNames Ticked;
  for (const TSPIOrderEntry &E : ParseSPIOrder(C.SPIOrder))
    if (E.Enabled) Ticked.push_back(E.Name);
  EXPECT_EQ(Loaded(ProgramSPIList()), Ticked);
  EXPECT_EQ(ProgramArchiveSPIList().Count(), std::string(C.ArchiveSPIOrder) == "axarchive.spi=1" ? 1 : 0);
  const TMemIniFile Cfg(PluginSettingsFile());
  EXPECT_EQ(Cfg.ReadString("SPI", "SPIOrder", ""), C.SPIOrder);
  EXPECT_EQ(Cfg.ReadString("SPI", "ArchiveSPIOrder", ""), C.ArchiveSPIOrder);
}

TEST_P(PluginDialogEdit, CancelStoresNothingAndTheProgramReloadsTheStoredPlugins) {
  const TPluginEditCase &C = GetParam();
  TOnModal<TSusiePluginOptionDialog> Dialog([&](TSusiePluginOptionDialog &D) {
    C.Edit(D);
    Press(D, QDialogButtonBox::Cancel);
  });
  EXPECT_TRUE(ShowSusiePluginOptionDialog(nullptr, 0, nullptr, nullptr, nullptr));
  EXPECT_TRUE(Dialog.Came());
  EXPECT_EQ(SPIOption.SPIDirectory, Folder);
  EXPECT_EQ(SPIOption.ThreadSafeSPI, LongFalse);
  EXPECT_EQ(PluginOrders.SPIOrder, "good.spi=1,error.spi=0");
  EXPECT_EQ(PluginOrders.ArchiveSPIOrder, "axarchive.spi=1");
  EXPECT_EQ(Loaded(ProgramSPIList()), TNames{"good.spi"});
  EXPECT_EQ(ProgramArchiveSPIList().Count(), 1);
}

INSTANTIATE_TEST_SUITE_P(Cases, PluginDialogEdit, ::testing::ValuesIn(PluginEditCases),
                         [](const ::testing::TestParamInfo<TPluginEditCase> &P) { return std::string(P.param.Name); });

struct TClearCase {
  const char *Name;
  int ListCount;
  bool Answer;
  bool Asked, Cleared, Opened;
};

const TClearCase ClearCases[] = {
    {"AnEmptyListOpensWithoutAQuestion", 0, false, false, false, true},
    {"AgreeingClearsTheListAndOpens", 4, true, true, true, true},
    {"DecliningKeepsTheListAndOpensNothing", 4, false, true, false, false},
};

class PluginDialogClearing : public PluginDialogWindow, public ::testing::WithParamInterface<TClearCase> {};

TEST_P(PluginDialogClearing, AskedBeforeTheDialogOpens) {
  const TClearCase &C = GetParam();
  QString Asked;
  bool Cleared = false;
  TOnModal<TSusiePluginOptionDialog> Dialog([](TSusiePluginOptionDialog &D) { Press(D, QDialogButtonBox::Cancel); });
  const bool Opened = ShowSusiePluginOptionDialog(
      nullptr, C.ListCount,
      [&](const QString &Q) {
        Asked = Q;
        return C.Answer;
      },
      [&] { Cleared = true; }, nullptr);
  EXPECT_EQ(Opened, C.Opened);
  EXPECT_EQ(Dialog.Came(), C.Opened);
  EXPECT_EQ(Cleared, C.Cleared);
  EXPECT_EQ(Asked, C.Asked ? QStringLiteral("Susie Plug-inの設定を変更する前にリストをクリアします。よろしいですか？")
                           : QString());
}

INSTANTIATE_TEST_SUITE_P(Cases, PluginDialogClearing, ::testing::ValuesIn(ClearCases),
                         [](const ::testing::TestParamInfo<TClearCase> &P) { return std::string(P.param.Name); });

struct TButtonCase {
  const char *Name;
  bool Archive;
  int Row;
  bool Up, Down, Config;
};

const TButtonCase ButtonCases[] = {
    {"FirstRowWithASettingsDialog", false, 0, false, true, true},
    {"MiddleRowWithoutOne", false, 1, true, true, false},
    {"LastRow", false, 2, true, false, false},
    {"TheOnlyArchivePlugin", true, 0, false, false, false},
};

class PluginDialogButtons : public PluginDialogWindow, public ::testing::WithParamInterface<TButtonCase> {};

TEST_P(PluginDialogButtons, FollowTheSelectedRow) {
  const TButtonCase &C = GetParam();
  TSusiePluginOptionDialog D(SPIOption, PluginOrders, Tmp + "/default");
  if (C.Archive) D.ArchiveButton->click();
  Select(D, C.Row);
  EXPECT_EQ(D.UpButton->isEnabled(), C.Up);
  EXPECT_EQ(D.DownButton->isEnabled(), C.Down);
  EXPECT_EQ(D.ConfigButton->isEnabled(), C.Config);
}

INSTANTIATE_TEST_SUITE_P(Cases, PluginDialogButtons, ::testing::ValuesIn(ButtonCases),
                         [](const ::testing::TestParamInfo<TButtonCase> &P) { return std::string(P.param.Name); });

TEST_F(PluginDialogWindow, TheSettingsButtonCallsThePluginWithTheDialogAndFunctionOne) {
  TSusiePluginOptionDialog D(SPIOption, PluginOrders, Tmp + "/default");
  D.show();
  Select(D, 0);
  ASSERT_EQ(D.PluginList->currentItem()->text(), QStringLiteral("good.spi"));
  // The dialog's own copy of the plug-in: the same library the loader mapped.
  void *Lib = ::dlopen((Folder + "/good.spi").c_str(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(Lib, nullptr);
  using TCalls = void (*)(int *, int *, void **);
  auto Calls = reinterpret_cast<TCalls>(::dlsym(Lib, "TestPluginConfigCalls"));
  ASSERT_NE(Calls, nullptr);
  int Before = 0, Count = 0, Function = 0;
  void *Parent = nullptr;
  Calls(&Before, &Function, &Parent);
  D.ConfigButton->click();
  Calls(&Count, &Function, &Parent);
  ::dlclose(Lib);
  EXPECT_EQ(Count, Before + 1);
  EXPECT_EQ(Function, 1);
  EXPECT_EQ(Parent, reinterpret_cast<void *>(D.winId()));
}

TEST_F(PluginDialogWindow, BrowsingToAnotherFolderListsItsPluginsWithTheMarksKept) {
  const std::string Other = Tmp + "/other";
  fs::create_directories(Other);
  fs::copy_file(Folder + "/good.spi", Other + "/good.spi");
  fs::copy_file(Folder + "/ifraw.spi", Other + "/ifraw.spi");
  TSusiePluginOptionDialog D(SPIOption, PluginOrders, Tmp + "/default");
  D.move(100, 80);
  D.show();
  QString Title, Start;
  QPoint At;
  TOnModal<QFileDialog> Browser([&](QFileDialog &B) {
    Title = B.windowTitle();
    Start = B.directory().absolutePath();
    At = B.pos();
    ChooseInFileDialog(B, QString::fromStdString(Other));
  });
  D.BrowseButton->click();
  ASSERT_TRUE(Browser.Came());
  EXPECT_EQ(Title, QStringLiteral("Susie Plug-inフォルダ"));
  EXPECT_EQ(Start.toStdString(), Folder);
  EXPECT_EQ(At, D.pos() + QPoint(22, 22));
  EXPECT_EQ(D.FolderEdit->text().toStdString(), Other);
  EXPECT_EQ(Rows(D), (TNames{"good.spi=1", "ifraw.spi=0"}));
  D.ArchiveButton->click();
  EXPECT_EQ(D.PluginList->count(), 0);
  TSPIOption Option;
  TPluginOrders Orders;
  D.StoreTo(Option, Orders);
  EXPECT_EQ(Option.SPIDirectory, Other);
  EXPECT_EQ(Orders.SPIOrder, "good.spi=1,ifraw.spi=0");
  EXPECT_EQ(Orders.ArchiveSPIOrder, "");
}

// ---------------------------------------------------------------- lossless

// Every field of the options, for comparing whole records.
auto Fields(const TWembOption &O) {
  return std::tie(O.Rotation, O.ExifOrientation, O.Grayscale, O.Trimming, O.ICCProfileRevision, O.AddText,
                  O.ExifExport, O.ICCExport, O.ExifImport, O.ICCImport, O.SegmentDeleteMode, O.OptimizeMode,
                  O.DeleteExifThumbnail, O.UpdateExifThumbnail, O.DeleteMakerNote, O.DeleteGPSInfoIFD,
                  O.ExifExportName, O.ICCExportName, O.ExifImportName, O.ICCImportName);
}

std::vector<std::string> SegmentRows(const QTreeWidget &T) {
  std::vector<std::string> V;
  for (int i = 0; i < T.topLevelItemCount(); ++i) {
    const QTreeWidgetItem *I = T.topLevelItem(i);
    std::string Row = I->text(0).toStdString();
    if (!I->text(1).isEmpty()) Row += " " + I->text(1).toStdString();
    V.push_back(Row + (I->checkState(0) == Qt::Checked ? "+" : ""));
  }
  return V;
}

std::vector<std::string> SegmentRows(const std::vector<TSegmentInfo> &L) {
  std::vector<std::string> V;
  for (const TSegmentInfo &S : L) V.push_back(SegmentInfoCaption(S) + (S.Check ? "+" : ""));
  return V;
}

class LosslessDialog : public ::testing::Test {
protected:
  void SetUp() override {
    Saved = WembSettings;
    WembSettings = TWembSettings{};
  }
  void TearDown() override { WembSettings = Saved; }
  TWembSettings Saved;
};

TEST_F(LosslessDialog, ListsEveryChoiceWithItsCaption) {
  TQuzenOptionDialog D(WembSettings);
  EXPECT_EQ(D.windowTitle(), QStringLiteral("Quzen設定"));
  const auto Items = [](const QComboBox *B) {
    std::vector<std::string> V;
    for (int i = 0; i < B->count(); ++i) V.push_back(B->itemText(i).toStdString());
    return V;
  };
  const std::pair<QComboBox *, TNames> Lists[] = {
      {D.RotationBox, {"なし", "自動", "90", "180", "270", "左右反転", "上下反転"}},
      {D.OrientationBox, {"変更しない", "1", "2", "3", "4", "5", "6", "7", "8"}},
      {D.ICCRevisionBox, {"なし", "色調補正", "トーンカーブ"}},
      {D.GrayscaleBox, {"なし", "ALL", "自動"}},
      {D.OptimizeBox, {"なし", "ベースラインJPEG", "プログレッシブJPEG", "サイズが小さくなる方"}},
  };
  for (const auto &[Box, Expected] : Lists) EXPECT_EQ(Items(Box), Expected);
  const std::pair<QAbstractButton *, const char *> Captions[] = {
      {D.TrimmingCheck, "トリミング"},
      {D.AddTextCheck, "文字入れ"},
      {D.DeleteThumbnailCheck, "Exif内のサムネイルを削除する"},
      {D.UpdateThumbnailCheck, "Exif内のサムネイルを更新する"},
      {D.DeleteMakerNoteCheck, "メーカーノートを削除する"},
      {D.DeleteGPSCheck, "GPS情報を削除する"},
      {D.FileChecks[0], "Exif情報のエクスポート"},
      {D.FileChecks[1], "ICCプロファイルのエクスポート"},
      {D.FileChecks[2], "Exif情報のインポート"},
      {D.FileChecks[3], "ICCプロファイルのインポート"},
      {D.DeleteModeButton, "任意のセグメントを削除する"},
      {D.ProtectModeButton, "任意のセグメントを保護する"},
      {D.AddButton, "追加"},
      {D.EditButton, "編集"},
      {D.DeleteButton, "削除"},
  };
  for (const auto &[Button, Caption] : Captions) EXPECT_EQ(Button->text(), QString::fromUtf8(Caption));
  EXPECT_EQ(D.SegmentList->headerItem()->text(0), QStringLiteral("マーカー"));
  EXPECT_EQ(D.SegmentList->headerItem()->text(1), QStringLiteral("ヘッダー"));
}

struct TLosslessFieldCase {
  const char *Name;
  std::function<void(TQuzenOptionDialog &)> Edit;
  std::function<void(TWembSettings &)> Expect;  // what the edit makes of the defaults
};

const TLosslessFieldCase LosslessFieldCases[] = {
    {"Rotation", [](auto &D) { D.RotationBox->setCurrentIndex(6); }, [](auto &S) { S.Option.Rotation = 6; }},
    {"ExifOrientation", [](auto &D) { D.OrientationBox->setCurrentIndex(8); },
     [](auto &S) { S.Option.ExifOrientation = 8; }},
    {"ICCProfileRevision", [](auto &D) { D.ICCRevisionBox->setCurrentIndex(2); },
     [](auto &S) { S.Option.ICCProfileRevision = 2; }},
    {"Grayscale", [](auto &D) { D.GrayscaleBox->setCurrentIndex(1); }, [](auto &S) { S.Option.Grayscale = 1; }},
    {"OptimizeMode", [](auto &D) { D.OptimizeBox->setCurrentIndex(3); }, [](auto &S) { S.Option.OptimizeMode = 3; }},
    {"Trimming", [](auto &D) { D.TrimmingCheck->click(); }, [](auto &S) { S.Option.Trimming = LongTrue; }},
    {"AddText", [](auto &D) { D.AddTextCheck->click(); }, [](auto &S) { S.Option.AddText = LongTrue; }},
    {"DeleteExifThumbnail", [](auto &D) { D.DeleteThumbnailCheck->click(); },
     [](auto &S) { S.Option.DeleteExifThumbnail = LongTrue; }},
    {"UpdateExifThumbnail", [](auto &D) { D.UpdateThumbnailCheck->click(); },
     [](auto &S) { S.Option.UpdateExifThumbnail = LongTrue; }},
    {"DeleteMakerNote", [](auto &D) { D.DeleteMakerNoteCheck->click(); },
     [](auto &S) { S.Option.DeleteMakerNote = LongTrue; }},
    {"DeleteGPSInfoIFD", [](auto &D) { D.DeleteGPSCheck->click(); },
     [](auto &S) { S.Option.DeleteGPSInfoIFD = LongTrue; }},
    {"ExifExportAndName",
     [](auto &D) {
       D.FileChecks[0]->click();
       D.FileEdits[0]->setText(QStringLiteral("exif/<name>.dat"));
     },
     [](auto &S) {
       S.Option.ExifExport = LongTrue;
       S.Option.ExifExportName = "exif/<name>.dat";
     }},
    {"ICCExportAndName",
     [](auto &D) {
       D.FileChecks[1]->click();
       D.FileEdits[1]->setText(QStringLiteral("icc/<name>.icc"));
     },
     [](auto &S) {
       S.Option.ICCExport = LongTrue;
       S.Option.ICCExportName = "icc/<name>.icc";
     }},
    {"ExifImportAndName",
     [](auto &D) {
       D.FileChecks[2]->click();
       D.FileEdits[2]->setText(QStringLiteral("/data/写真.dat"));
     },
     [](auto &S) {
       S.Option.ExifImport = LongTrue;
       S.Option.ExifImportName = "/data/写真.dat";
     }},
    {"ICCImportAndName",
     [](auto &D) {
       D.FileChecks[3]->click();
       D.FileEdits[3]->setText(QStringLiteral("p.icc"));
     },
     [](auto &S) {
       S.Option.ICCImport = LongTrue;
       S.Option.ICCImportName = "p.icc";
     }},
    {"ProtectModeInvertsTheMarks", [](auto &D) { D.ProtectModeButton->click(); },
     [](auto &S) {
       S.Option.SegmentDeleteMode = 1;
       for (TSegmentInfo &Seg : S.Segments) Seg.Check = LongTrue;
     }},
    {"TickingASegment", [](auto &D) { D.SegmentList->topLevelItem(7)->setCheckState(0, Qt::Checked); },
     [](auto &S) { S.Segments[7].Check = LongTrue; }},
    {"DeletingASegment",
     [](auto &D) {
       D.SegmentList->setCurrentItem(D.SegmentList->topLevelItem(0));
       D.DeleteButton->click();
     },
     [](auto &S) { S.Segments.erase(S.Segments.begin()); }},
};

class LosslessDialogField : public LosslessDialog, public ::testing::WithParamInterface<TLosslessFieldCase> {};

TEST_P(LosslessDialogField, OkStoresItAndNothingElse) {
  const TLosslessFieldCase &C = GetParam();
  TWembSettings Expected = WembSettings;
  C.Expect(Expected);
  TOnModal<TQuzenOptionDialog> Dialog([&](TQuzenOptionDialog &D) {
    C.Edit(D);
    Press(D, QDialogButtonBox::Ok);
  });
  EXPECT_TRUE(ShowQuzenOptionDialog(nullptr));
  EXPECT_TRUE(Dialog.Came());
  EXPECT_EQ(Fields(WembSettings.Option), Fields(Expected.Option));
  EXPECT_EQ(SegmentRows(WembSettings.Segments), SegmentRows(Expected.Segments));
  // Opened again, the dialog shows what was stored.
  TQuzenOptionDialog Again(WembSettings);
  TWembSettings Shown;
  Again.StoreTo(Shown);
  EXPECT_EQ(Fields(Shown.Option), Fields(Expected.Option));
  EXPECT_EQ(SegmentRows(*Again.SegmentList), SegmentRows(Expected.Segments));
}

TEST_P(LosslessDialogField, CancelStoresNothing) {
  const TLosslessFieldCase &C = GetParam();
  const TWembSettings Before = WembSettings;
  TOnModal<TQuzenOptionDialog> Dialog([&](TQuzenOptionDialog &D) {
    C.Edit(D);
    Press(D, QDialogButtonBox::Cancel);
  });
  EXPECT_FALSE(ShowQuzenOptionDialog(nullptr));
  EXPECT_TRUE(Dialog.Came());
  EXPECT_EQ(Fields(WembSettings.Option), Fields(Before.Option));
  EXPECT_EQ(SegmentRows(WembSettings.Segments), SegmentRows(Before.Segments));
}

INSTANTIATE_TEST_SUITE_P(Cases, LosslessDialogField, ::testing::ValuesIn(LosslessFieldCases),
                         [](const ::testing::TestParamInfo<TLosslessFieldCase> &P) {
                           return std::string(P.param.Name);
                         });

TEST_F(LosslessDialog, StoredValuesOutsideTheChoicesShowTheFirstChoice) {
  WembSettings.Option.Rotation = 9;
  WembSettings.Option.ExifOrientation = -2;
  TQuzenOptionDialog D(WembSettings);
  EXPECT_EQ(D.RotationBox->currentIndex(), 0);
  EXPECT_EQ(D.OrientationBox->currentIndex(), 0);
}

struct TModeSwitchCase {
  const char *Name;
  int32_t Mode;
  std::vector<int> Checked;  // rows of the default list
  TNames After;
};

const TModeSwitchCase ModeSwitchCases[] = {
    {"DeleteToProtectWithExifChecked", 0, {1},
     {"APP0 JFIF+", "APP1 Exif", "APP1 http+", "APP2 ICC_PROFILE+", "APP12 Ducky+", "APP13 Photoshop+",
      "APP14 Adobe+", "COM+"}},
    {"ProtectToDeleteWithJfifAndComChecked", 1, {0, 7},
     {"APP0 JFIF", "APP1 Exif+", "APP1 http+", "APP2 ICC_PROFILE+", "APP12 Ducky+", "APP13 Photoshop+",
      "APP14 Adobe+", "COM"}},
};

class LosslessModeSwitch : public LosslessDialog, public ::testing::WithParamInterface<TModeSwitchCase> {};

TEST_P(LosslessModeSwitch, InvertsEveryShownCheckMark) {
  const TModeSwitchCase &C = GetParam();
  WembSettings.Option.SegmentDeleteMode = C.Mode;
  for (int i : C.Checked) WembSettings.Segments[size_t(i)].Check = LongTrue;
  TQuzenOptionDialog D(WembSettings);
  EXPECT_TRUE((C.Mode == 0 ? D.DeleteModeButton : D.ProtectModeButton)->isChecked());
  (C.Mode == 0 ? D.ProtectModeButton : D.DeleteModeButton)->click();
  EXPECT_EQ(SegmentRows(*D.SegmentList), C.After);
  TWembSettings Stored;
  D.StoreTo(Stored);
  EXPECT_EQ(Stored.Option.SegmentDeleteMode, 1 - C.Mode);
  EXPECT_EQ(SegmentRows(Stored.Segments), C.After);
  // Switching back restores the marks.
  (C.Mode == 0 ? D.DeleteModeButton : D.ProtectModeButton)->click();
  EXPECT_EQ(SegmentRows(*D.SegmentList), SegmentRows(WembSettings.Segments));
}

INSTANTIATE_TEST_SUITE_P(Cases, LosslessModeSwitch, ::testing::ValuesIn(ModeSwitchCases),
                         [](const ::testing::TestParamInfo<TModeSwitchCase> &P) { return std::string(P.param.Name); });

struct TSegmentEditCase {
  const char *Name;
  int Row;                               // selected before the button (-1 none)
  QPushButton *TQuzenOptionDialog::*Button;
  // What the segment dialog shows first ("APP0", header), or none when it must not open.
  const char *ShownMarker;
  const char *ShownHeader;
  std::function<void(TSegmentInfoDialog &)> Answer;  // fills and closes it
  std::vector<TSegmentInfo> Start;
  TNames After;
  int Selected;  // the row selected afterwards (-1 none)
};

TSegmentInfo Seg(uint16_t Marker, const char *Header, bool Check) {
  TSegmentInfo S;
  S.Marker = Marker;
  S.Header = Header;
  S.Check = Check ? LongTrue : LongFalse;
  return S;
}

const std::vector<TSegmentInfo> ThreeSegments = {Seg(JPEG_APP1, "Exif", false), Seg(JPEG_APP13, "Photoshop", true),
                                                 Seg(JPEG_COM, "", false)};

void Choose(TSegmentInfoDialog &D, int Marker, const char *Header) {
  D.MarkerBox->setCurrentIndex(Marker);
  D.HeaderEdit->setText(QString::fromUtf8(Header));
  Press(D, QDialogButtonBox::Ok);
}

const TSegmentEditCase SegmentEditCases[] = {
    {"AddStartsAtApp0AndAddsTheEntryChecked", -1, &TQuzenOptionDialog::AddButton, "APP0", "",
     [](auto &D) { Choose(D, 5, "Foo"); }, ThreeSegments, {"APP1 Exif", "APP5 Foo+", "APP13 Photoshop+", "COM"}, 1},
    {"AddingComDropsTheHeader", 0, &TQuzenOptionDialog::AddButton, "APP0", "", [](auto &D) { Choose(D, 16, "x"); },
     ThreeSegments, {"APP1 Exif", "APP13 Photoshop+", "COM", "COM+"}, 3},
    {"AddCancelledChangesNothing", 0, &TQuzenOptionDialog::AddButton, "APP0", "",
     [](auto &D) { Press(D, QDialogButtonBox::Cancel); }, ThreeSegments, {"APP1 Exif", "APP13 Photoshop+", "COM"},
     0},
    {"EditShowsTheEntryAndKeepsItsMarkWhereItSortsTo", 1, &TQuzenOptionDialog::EditButton, "APP13", "Photoshop",
     [](auto &D) { Choose(D, 0, "JFIF"); }, ThreeSegments, {"APP0 JFIF+", "APP1 Exif", "COM"}, 0},
    {"EditOfComShowsCom", 2, &TQuzenOptionDialog::EditButton, "COM", "", [](auto &D) { Choose(D, 15, "Z"); },
     ThreeSegments, {"APP1 Exif", "APP13 Photoshop+", "APP15 Z"}, 2},
    {"EditCancelledChangesNothing", 1, &TQuzenOptionDialog::EditButton, "APP13", "Photoshop",
     [](auto &D) { Press(D, QDialogButtonBox::Cancel); }, ThreeSegments, {"APP1 Exif", "APP13 Photoshop+", "COM"},
     1},
    {"DeleteRemovesTheSelectedEntry", 1, &TQuzenOptionDialog::DeleteButton, nullptr, nullptr, nullptr, ThreeSegments,
     {"APP1 Exif", "COM"}, 1},
    {"DeletingTheLastSelectsTheOneAbove", 2, &TQuzenOptionDialog::DeleteButton, nullptr, nullptr, nullptr,
     ThreeSegments, {"APP1 Exif", "APP13 Photoshop+"}, 1},
};

class LosslessSegmentEdit : public LosslessDialog, public ::testing::WithParamInterface<TSegmentEditCase> {};

TEST_P(LosslessSegmentEdit, ChangesTheListThroughTheSegmentDialog) {
  const TSegmentEditCase &C = GetParam();
  WembSettings.Segments = C.Start;
  TQuzenOptionDialog D(WembSettings);
  if (C.Row >= 0) D.SegmentList->setCurrentItem(D.SegmentList->topLevelItem(C.Row));
  QString Marker, Header;
  TOnModal<TSegmentInfoDialog> Segment([&](TSegmentInfoDialog &S) {
    Marker = S.MarkerBox->currentText();
    Header = S.HeaderEdit->text();
    C.Answer(S);
  });
  (D.*C.Button)->click();
  EXPECT_EQ(Segment.Came(), C.ShownMarker != nullptr);
  if (C.ShownMarker) {
    EXPECT_EQ(Marker, QString::fromUtf8(C.ShownMarker));
    EXPECT_EQ(Header, QString::fromUtf8(C.ShownHeader));
  }
  EXPECT_EQ(SegmentRows(*D.SegmentList), C.After);
  EXPECT_EQ(D.SegmentList->indexOfTopLevelItem(D.SegmentList->currentItem()), C.Selected);
  EXPECT_EQ(SegmentRows(WembSettings.Segments), SegmentRows(C.Start)) << "stored before OK";
  TWembSettings Stored;
  D.StoreTo(Stored);
  EXPECT_EQ(SegmentRows(Stored.Segments), C.After);
}

INSTANTIATE_TEST_SUITE_P(Cases, LosslessSegmentEdit, ::testing::ValuesIn(SegmentEditCases),
                         [](const ::testing::TestParamInfo<TSegmentEditCase> &P) { return std::string(P.param.Name); });

TEST_F(LosslessDialog, EditAndDeleteNeedASelectedEntry) {
  TQuzenOptionDialog D(WembSettings);
  EXPECT_EQ(D.SegmentList->currentItem(), nullptr);
  EXPECT_FALSE(D.EditButton->isEnabled());
  EXPECT_FALSE(D.DeleteButton->isEnabled());
  EXPECT_TRUE(D.AddButton->isEnabled());
  D.SegmentList->setCurrentItem(D.SegmentList->topLevelItem(3));
  EXPECT_TRUE(D.EditButton->isEnabled());
  EXPECT_TRUE(D.DeleteButton->isEnabled());
}

struct TMarkerCase {
  uint16_t Marker;
  const char *Header;
  const char *Shown;
  bool HeaderEnabled;
};

TEST(SegmentDialog, ShowsTheEntryAndTheHeaderOnlyForAppMarkers) {
  for (const TMarkerCase C : {TMarkerCase{JPEG_APP0, "JFIF", "APP0", true}, TMarkerCase{JPEG_APP15, "", "APP15", true},
                              TMarkerCase{JPEG_COM, "", "COM", false}, TMarkerCase{0xFFDB, "", "COM", false}}) {
    TSegmentInfoDialog D(Seg(C.Marker, C.Header, false));
    EXPECT_EQ(D.MarkerBox->count(), 17);
    EXPECT_EQ(D.MarkerBox->currentText(), QString::fromUtf8(C.Shown)) << std::hex << C.Marker;
    EXPECT_EQ(D.HeaderEdit->text(), QString::fromUtf8(C.Header));
    EXPECT_EQ(D.HeaderEdit->isEnabled(), C.HeaderEnabled) << C.Shown;
  }
  TSegmentInfoDialog D(Seg(JPEG_COM, "", false));
  D.MarkerBox->setCurrentIndex(3);
  EXPECT_TRUE(D.HeaderEdit->isEnabled());
  D.HeaderEdit->setText(QStringLiteral("Meta"));
  EXPECT_EQ(D.Segment().Marker, JPEG_APP0 + 3);
  EXPECT_EQ(D.Segment().Header, "Meta");
}

struct TImportCase {
  const char *Name;
  int Which;
  const char *Filter;
  const char *File;
};

class LosslessImportChooser : public LosslessDialog, public ::testing::WithParamInterface<TImportCase> {};

TEST_P(LosslessImportChooser, OpensInTheFolderOfTheNameAndTakesTheChosenFile) {
  const TImportCase &C = GetParam();
  char Tmpl[] = "/tmp/import-chooser-XXXXXX";
  const std::string Tmp = ::mkdtemp(Tmpl);
  fs::create_directories(Tmp + "/imports");
  std::ofstream(Tmp + "/imports/" + C.File) << "x";
  TQuzenOptionDialog D(WembSettings);
  D.FileEdits[size_t(2 + C.Which)]->setText(QString::fromStdString(Tmp + "/imports/old.dat"));
  QString Start;
  QStringList Filters;
  TOnModal<QFileDialog> Chooser([&](QFileDialog &F) {
    Start = F.directory().absolutePath();
    Filters = F.nameFilters();
    ChooseInFileDialog(F, QString::fromStdString(Tmp + "/imports/" + C.File));
  });
  D.ImportButtons[size_t(C.Which)]->click();
  EXPECT_TRUE(Chooser.Came());
  EXPECT_EQ(Start.toStdString(), Tmp + "/imports");
  EXPECT_EQ(Filters, (QStringList{QString::fromUtf8(C.Filter), QStringLiteral("すべてのファイル (*.*)")}));
  EXPECT_EQ(D.FileEdits[size_t(2 + C.Which)]->text().toStdString(), Tmp + "/imports/" + C.File);
  fs::remove_all(Tmp);
}

const TImportCase ImportCases[] = {{"ExifData", 0, "Exif Data (*.dat)", "a.dat"},
                                   {"ICCProfile", 1, "ICC Profile (*.icc)", "b.icc"}};

INSTANTIATE_TEST_SUITE_P(Cases, LosslessImportChooser, ::testing::ValuesIn(ImportCases),
                         [](const ::testing::TestParamInfo<TImportCase> &P) { return std::string(P.param.Name); });

// ---------------------------------------------------------------- combining

auto Fields(const TCombineOption &O) {
  return std::tie(O.Width, O.Height, O.Percent, O.RelativeSize, O.Order, O.Rows, O.Columns, O.RowSpace,
                  O.ColumnSpace, O.BackgroundColor, O.BlankType);
}

class CombineDialog : public ::testing::Test {
protected:
  void SetUp() override {
    SavedOption = CombineOption;
    SavedPalette = SystemOption.CustomPalette;
    CombineOption = TCombineOption{};
    for (size_t i = 0; i < 16; ++i) SystemOption.CustomPalette[i] = int32_t(0x010203 * (i + 1));
  }
  void TearDown() override {
    CombineOption = SavedOption;
    SystemOption.CustomPalette = SavedPalette;
  }
  TCombineOption SavedOption;
  std::array<int32_t, 16> SavedPalette{};
};

struct TRangeCase {
  const char *Name;
  TNumEdit *TCombineOptionDialog::*Field;
  int32_t TCombineOption::*Stored;
  int Min, Max;
  bool Arrows;
  int Default;  // what a text that is no number reads as
};

const TRangeCase RangeCases[] = {
    {"Width", &TCombineOptionDialog::FirstEdit, &TCombineOption::Width, 1, 9999, false, 320},
    {"Height", &TCombineOptionDialog::SecondEdit, &TCombineOption::Height, 1, 9999, false, 240},
    {"Across", &TCombineOptionDialog::RowsEdit, &TCombineOption::Rows, 1, 99, true, 3},
    {"Down", &TCombineOptionDialog::ColumnsEdit, &TCombineOption::Columns, 1, 99, true, 3},
    {"GapAcross", &TCombineOptionDialog::RowSpaceEdit, &TCombineOption::RowSpace, 0, 99, false, 0},
    {"GapDown", &TCombineOptionDialog::ColumnSpaceEdit, &TCombineOption::ColumnSpace, 0, 99, false, 0},
};

class CombineDialogRange : public CombineDialog, public ::testing::WithParamInterface<TRangeCase> {};

TEST_P(CombineDialogRange, HoldsTheFieldWithinItsRange) {
  const TRangeCase &C = GetParam();
  TCombineOptionDialog D(CombineOption, SystemOption.CustomPalette);
  TNumEdit *Box = D.*C.Field;
  EXPECT_EQ(Box->minimum(), C.Min);
  EXPECT_EQ(Box->maximum(), C.Max);
  EXPECT_EQ(Box->buttonSymbols() != QAbstractSpinBox::NoButtons, C.Arrows);
  Box->setValue(C.Max + 1);
  EXPECT_EQ(Box->value(), C.Max);
  Box->setValue(C.Min - 1);
  EXPECT_EQ(Box->value(), C.Min);
  // Typed text: a number past the end reads as the end, one below the start
  // as the start, a text that is no number as the setting's default.
  const std::pair<QString, int> Typed[] = {{QString::number(C.Max) + QStringLiteral("9"), C.Max},
                                           {QString::number(C.Min - 1), C.Min},
                                           {QStringLiteral("-"), C.Default}};
  for (const auto &[Text, Reads] : Typed) {
    Box->selectAll();
    QTest::keyClicks(Box, Text);
    EXPECT_EQ(Box->IntValue(), Reads) << Text.toStdString();
  }
  Box->selectAll();
  QTest::keyClicks(Box, QString::number(C.Max) + QStringLiteral("9"));
  TCombineOption Stored = CombineOption;
  ASSERT_TRUE(D.StoreTo(Stored));
  EXPECT_EQ(Stored.*C.Stored, C.Max);
}

INSTANTIATE_TEST_SUITE_P(Cases, CombineDialogRange, ::testing::ValuesIn(RangeCases),
                         [](const ::testing::TestParamInfo<TRangeCase> &P) { return std::string(P.param.Name); });

struct TCombineFieldCase {
  const char *Name;
  std::function<void(TCombineOptionDialog &)> Edit;
  std::function<void(TCombineOption &)> Expect;
};

void ChooseSize(TCombineOptionDialog &D, int Index) {
  D.SizeBox->setCurrentIndex(Index);
  emit D.SizeBox->activated(Index);
}

const TCombineFieldCase CombineFieldCases[] = {
    {"Order", [](auto &D) { D.OrderBox->setCurrentIndex(1); }, [](auto &O) { O.Order = 1; }},
    {"BlankFit", [](auto &D) { D.BlankGroup->button(0)->click(); }, [](auto &O) { O.BlankType = 0; }},
    {"BlankFill", [](auto &D) { D.BlankGroup->button(1)->click(); }, [](auto &O) { O.BlankType = 1; }},
    {"Width", [](auto &D) { D.FirstEdit->setValue(640); }, [](auto &O) { O.Width = 640; }},
    {"Height", [](auto &D) { D.SecondEdit->setValue(9999); }, [](auto &O) { O.Height = 9999; }},
    {"PercentKeepsTheWidth",
     [](auto &D) {
       ChooseSize(D, 1);
       D.FirstEdit->setValue(25);
     },
     [](auto &O) {
       O.RelativeSize = 1;
       O.Percent = 25;
     }},
    {"WidthAfterASwitchAndBack",
     [](auto &D) {
       ChooseSize(D, 1);
       D.FirstEdit->setValue(50);
       ChooseSize(D, 0);
       D.FirstEdit->setValue(100);
     },
     [](auto &O) {
       O.Percent = 50;
       O.Width = 100;
     }},
    {"Across", [](auto &D) { D.RowsEdit->setValue(7); }, [](auto &O) { O.Rows = 7; }},
    {"Down", [](auto &D) { D.ColumnsEdit->setValue(1); }, [](auto &O) { O.Columns = 1; }},
    {"GapAcross", [](auto &D) { D.RowSpaceEdit->setValue(12); }, [](auto &O) { O.RowSpace = 12; }},
    {"GapDown", [](auto &D) { D.ColumnSpaceEdit->setValue(99); }, [](auto &O) { O.ColumnSpace = 99; }},
};

class CombineDialogField : public CombineDialog, public ::testing::WithParamInterface<TCombineFieldCase> {};

TEST_P(CombineDialogField, OkStoresItAndCancelNothing) {
  const TCombineFieldCase &C = GetParam();
  for (const bool Ok : {true, false}) {
    SCOPED_TRACE(Ok ? "OK" : "Cancel");
    CombineOption = TCombineOption{};
    TCombineOption Expected = CombineOption;
    if (Ok) C.Expect(Expected);
    TOnModal<TCombineOptionDialog> Dialog([&](TCombineOptionDialog &D) {
      C.Edit(D);
      Press(D, Ok ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel);
    });
    EXPECT_EQ(ShowCombineOptionDialog(nullptr), Ok);
    EXPECT_TRUE(Dialog.Came());
    EXPECT_EQ(Fields(CombineOption), Fields(Expected));
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, CombineDialogField, ::testing::ValuesIn(CombineFieldCases),
                         [](const ::testing::TestParamInfo<TCombineFieldCase> &P) {
                           return std::string(P.param.Name);
                         });

struct TPaletteCase {
  const char *Name;
  bool ColorOk;         // the colour dialog's OK
  bool DialogOk;        // the combining dialog's OK
  bool ColourStored;    // the chosen colour reaches the settings
  bool PaletteStored;   // the edited custom colours reach them
};

// Custom colours edited in a cancelled colour dialog stay, as the colour
// dialog itself keeps them; only the combining dialog's OK stores them.
const TPaletteCase PaletteCases[] = {
    {"BothOkStoreTheColourAndTheCustomColours", true, true, true, true},
    {"CancelOfTheCombiningDialogStoresNeither", true, false, false, false},
    {"CancelOfTheColourDialogStoresOnlyTheCustomColours", false, true, false, true},
};

class CombineDialogColour : public CombineDialog, public ::testing::WithParamInterface<TPaletteCase> {};

TEST_P(CombineDialogColour, TheColourDialogCarriesTheProgramsCustomColours) {
  const TPaletteCase &C = GetParam();
  const std::array<int32_t, 16> Before = SystemOption.CustomPalette;
  std::vector<QColor> Offered;
  TOnModal<TCombineOptionDialog> Dialog([&](TCombineOptionDialog &D) {
    TOnModal<QColorDialog> Colour([&](QColorDialog &CD) {
      for (int i = 0; i < 16; ++i) Offered.push_back(QColorDialog::customColor(i));
      EXPECT_EQ(CD.currentColor(), QColor(255, 255, 255));
      QColorDialog::setCustomColor(4, QColor(0x11, 0x22, 0x33));
      CD.setCurrentColor(QColor(0x40, 0x80, 0xC0));
      if (C.ColorOk) CD.accept();
      else CD.reject();
    });
    D.ColorButton->click();
    EXPECT_TRUE(Colour.Came());
    Press(D, C.DialogOk ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel);
  });
  ShowCombineOptionDialog(nullptr);
  ASSERT_TRUE(Dialog.Came());
  ASSERT_EQ(Offered.size(), 16u);
  for (size_t i = 0; i < 16; ++i)
    EXPECT_EQ(ColorRefOfColor(Offered[i]), uint32_t(Before[i])) << "custom colour " << i;
  std::array<int32_t, 16> Expected = Before;
  if (C.PaletteStored) Expected[4] = 0x332211;
  EXPECT_EQ(SystemOption.CustomPalette, Expected);
  EXPECT_EQ(CombineOption.BackgroundColor, C.ColourStored ? 0xC08040u : 0xFFFFFFu);
}

INSTANTIATE_TEST_SUITE_P(Cases, CombineDialogColour, ::testing::ValuesIn(PaletteCases),
                         [](const ::testing::TestParamInfo<TPaletteCase> &P) { return std::string(P.param.Name); });

// ---------------------------------------------------------------- layout

// What is wrong with the layout of Dialog at its own size: a control whose
// caption or content needs more room than it got, a control reaching out of
// its parent, or two controls of one parent on top of each other. Only the
// controls a person reads are looked at, not the inner parts of lists, spin
// boxes and choice boxes.
std::vector<std::string> LayoutFaults(QWidget &Dialog) {
  Dialog.show();
  QApplication::processEvents();
  const auto IsControl = [](const QWidget *W) {
    return qobject_cast<const QAbstractButton *>(W) || qobject_cast<const QLabel *>(W) ||
           qobject_cast<const QComboBox *>(W) || qobject_cast<const QLineEdit *>(W) ||
           qobject_cast<const QAbstractSpinBox *>(W) || qobject_cast<const QAbstractItemView *>(W);
  };
  const auto IsInnerPart = [&Dialog](const QWidget *W) {
    for (const QWidget *P = W->parentWidget(); P && P != &Dialog; P = P->parentWidget())
      if (qobject_cast<const QAbstractSpinBox *>(P) || qobject_cast<const QComboBox *>(P) ||
          qobject_cast<const QAbstractItemView *>(P))
        return true;
    return false;
  };
  const auto Name = [](const QWidget *W) {
    QString Text;
    if (auto *B = qobject_cast<const QAbstractButton *>(W)) Text = B->text();
    else if (auto *L = qobject_cast<const QLabel *>(W)) Text = L->text();
    else if (auto *C = qobject_cast<const QComboBox *>(W)) Text = C->currentText();
    return std::string(W->metaObject()->className()) + " \"" + Text.toStdString() + "\"";
  };
  std::vector<const QWidget *> Controls;
  for (const QWidget *W : Dialog.findChildren<QWidget *>())
    if (IsControl(W) && W->isVisibleTo(&Dialog) && !IsInnerPart(W)) Controls.push_back(W);
  std::vector<std::string> Faults;
  for (const QWidget *W : Controls) {
    if (!W->parentWidget()->rect().contains(W->geometry()))
      Faults.push_back(Name(W) + " reaches out of its parent");
    const bool Captioned = qobject_cast<const QAbstractButton *>(W) || qobject_cast<const QLabel *>(W);
    const bool Swatch = Captioned && qobject_cast<const QAbstractButton *>(W) &&
                        qobject_cast<const QAbstractButton *>(W)->text().isEmpty();
    if ((Captioned && !Swatch) || qobject_cast<const QComboBox *>(W)) {
      // A push button's hint holds the style's least width for buttons;
      // what must fit is its caption with a margin each side.
      auto *Push = qobject_cast<const QPushButton *>(W);
      const QSize Need = Push ? QSize(Push->fontMetrics().horizontalAdvance(Push->text()) + 8, Push->fontMetrics().height())
                              : W->sizeHint();
      if (W->width() < Need.width() || W->height() < Need.height())
        Faults.push_back(Name(W) + " is clipped: " + std::to_string(W->width()) + "x" + std::to_string(W->height()) +
                         " for " + std::to_string(Need.width()) + "x" + std::to_string(Need.height()));
    }
  }
  for (size_t i = 0; i < Controls.size(); ++i)
    for (size_t j = i + 1; j < Controls.size(); ++j)
      if (Controls[i]->parentWidget() == Controls[j]->parentWidget() &&
          Controls[i]->geometry().intersects(Controls[j]->geometry()))
        Faults.push_back(Name(Controls[i]) + " overlaps " + Name(Controls[j]));
  return Faults;
}

struct TLayoutCase {
  const char *Name;
  std::function<std::unique_ptr<QWidget>(const std::string &PluginFolder)> Make;
};

const TLayoutCase LayoutCases[] = {
    {"PluginDialog",
     [](const std::string &Folder) {
       TSPIOption Option;
       Option.SPIDirectory = Folder;
       return std::unique_ptr<QWidget>(new TSusiePluginOptionDialog(Option, TPluginOrders{}, "/nonexistent"));
     }},
    {"LosslessDialog", [](const std::string &) { return std::unique_ptr<QWidget>(new TQuzenOptionDialog(TWembSettings{})); }},
    {"SegmentDialog",
     [](const std::string &) { return std::unique_ptr<QWidget>(new TSegmentInfoDialog(Seg(JPEG_APP1, "Exif", true))); }},
    {"CombineDialogInPixels",
     [](const std::string &) {
       return std::unique_ptr<QWidget>(new TCombineOptionDialog(TCombineOption{}, SystemOption.CustomPalette));
     }},
    {"CombineDialogInPercent",
     [](const std::string &) {
       auto D = std::make_unique<TCombineOptionDialog>(TCombineOption{}, SystemOption.CustomPalette);
       ChooseSize(*D, 1);
       return std::unique_ptr<QWidget>(std::move(D));
     }},
};

class DialogLayout : public PluginDialogWindow, public ::testing::WithParamInterface<TLayoutCase> {};

TEST_P(DialogLayout, EveryCaptionFitsAndNoControlsOverlap) {
  const std::unique_ptr<QWidget> D = GetParam().Make(Folder);
  const std::vector<std::string> Faults = LayoutFaults(*D);
  EXPECT_TRUE(Faults.empty()) << testing::PrintToString(Faults);
}

INSTANTIATE_TEST_SUITE_P(Cases, DialogLayout, ::testing::ValuesIn(LayoutCases),
                         [](const ::testing::TestParamInfo<TLayoutCase> &P) { return std::string(P.param.Name); });

}  // namespace
