// The main window on the offscreen platform: command states after list
// changes, the Delete keys, the JPEGTran mode change, the "即時変換" box,
// dragging effect panels, the stored window place, drops, header sorts and
// a whole conversion through the batch window.
#include "app/PluginSettings.h"
#include "app/SettingsFile.h"
#include "app/window/AddingWindow.h"
#include "app/window/CombineOptionDialog.h"
#include "app/window/EffectPanel.h"
#include "app/window/ThumbnailWindow.h"
#include "app/window/tests/OffscreenApplication.h"
#include "app/window/options/FormatOptionForm.h"
#include "app/window/options/NumEdit.h"
#include "app/window/ErrorLogWindow.h"
#include "app/window/ImageListModel.h"
#include "app/window/LevelsForm.h"
#include "app/window/ListView.h"
#include "app/window/MainForm.h"
#include "app/window/PreviewWindow.h"
#include "app/window/options/EnvOptionForm.h"
#include "app/window/options/NumEdit.h"
#include "app/window/options/ResizeOptionForm.h"
#include "app/window/ProgressWindow.h"
#include "batch/BatchObjects.h"
#include "batch/ConvertOption.h"
#include "batch/ErrorLogFrm.h"
#include "core/IniFile.h"
#include "effects/DecreaseColorEffect.h"
#include "effects/ResizeOption.h"
#include "io/Pixio.h"
#include "resample/Filter.h"
#include "resample/Resize.h"
#include "testutil/OutsideTool.h"
#include "testutil/TestEnv.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QLineEdit>
#include <QClipboard>
#include <QDialog>
#include <QListWidget>
#include <QMessageBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

[[maybe_unused]] ::testing::Environment *const QtEnvironment =
    ::testing::AddGlobalTestEnvironment(new windowtest::TOffscreenApplication);

// Writes a W x H picture in Format ("JPG", "PNG", "BMP") through Qt's own writers.
void WritePicture(const std::string &Path, int W, int H, const char *Format) {
  QImage Img(W, H, QImage::Format_RGB32);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) Img.setPixel(x, y, qRgb(x * 255 / W, y * 255 / H, 128));
  ASSERT_TRUE(Img.save(QString::fromStdString(Path), Format)) << Path;
}

// Makes Row the current and only selected row, whatever modifier keys an
// earlier case left pressed (the view's own selectRow would consult them).
void SelectRow(TTessivoPlusMainForm &F, int Row) {
  const QModelIndex I = F.Model->index(Row, 0);
  F.ListView->selectionModel()->setCurrentIndex(I, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

// Runs Action once Ready holds (a modal window has come up), polling from
// the event loop that the modal window runs.
void WhenModal(std::function<bool()> Ready, std::function<void()> Action) {
  QTimer::singleShot(10, [Ready, Action] {
    if (Ready()) {
      Action();
    } else {
      WhenModal(Ready, Action);
    }
  });
}

// Closes the next modal window with the title Wanted once it shows, and
// remembers its text.
struct TModalCloser {
  QString Wanted;
  QString Title;
  QString Text;
  void Arm(const QString &Caption) {
    Wanted = Caption;
    QTimer::singleShot(0, [this] { Poll(); });
  }
  void Poll() {
    QWidget *W = QApplication::activeModalWidget();
    if (!W || W->windowTitle() != Wanted) {
      QTimer::singleShot(10, [this] { Poll(); });
      return;
    }
    Title = W->windowTitle();
    if (auto *Log = W->findChild<QPlainTextEdit *>()) Text = Log->toPlainText();
    W->close();
  }
};

class MainForm : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    char Tmpl[] = "/tmp/tessivo-window-XXXXXX";
    DataDir = ::mkdtemp(Tmpl);
    ::setenv("TESSIVOPLUS_DATA", DataDir.c_str(), 1);
    LoadPixio(std::string(TESSIVO_BIN_DIR) + "/libpixio.so");
    LoadResizeLibrary(TESSIVO_BIN_DIR);
    SystemOption.ProcessorCount = 2;
    CreateBatchObjects(2);
    ErrorLogForm();
  }
  static void TearDownTestSuite() {
    FreeBatchObjects();
    FreePixio();
    fs::remove_all(DataDir);
  }
  void SetUp() override {
    char Tmpl[] = "/tmp/tessivo-window-case-XXXXXX";
    Dir = ::mkdtemp(Tmpl);
    fs::create_directories(DataDir + "/ini");
    Ini = DataDir + "/ini/TessivoPlus.ini";
    // Outputs into the case's own folder, no thumbnails unless a case wants them.
    WriteIni("[File]\nFileNameFormat=" + Dir + "/out/<old>\nSameDirectory=0\nShowDirectory=0\n"
             "[System]\nThumbnailSize=0\nMaxThread=2\n[Resize]\nRule=1\nSize1=50,160\n");
    ErrorLogForm().ClearLog();
  }
  void TearDown() override {
    Form.reset();
    ErrorLogForm().ClearLog();
    fs::remove_all(Dir);
    fs::remove(Ini);
  }
  void WriteIni(const std::string &Text) {
    std::ofstream(Ini) << Text;
  }
  TTessivoPlusMainForm &Open() {
    Form = std::make_unique<TTessivoPlusMainForm>(Ini);
    Form->show();
    return *Form;
  }
  // A folder of pictures: Jpegs JPEG files, Pngs PNG files.
  std::string Photos(int Jpegs, int Pngs, const std::string &Name = "photos") {
    const std::string Folder = Dir + "/" + Name;
    fs::create_directories(Folder);
    for (int i = 0; i < Jpegs; ++i) WritePicture(Folder + "/p" + std::to_string(i) + ".jpg", 64 + i, 48, "JPG");
    for (int i = 0; i < Pngs; ++i) WritePicture(Folder + "/q" + std::to_string(i) + ".png", 40, 30 + i, "PNG");
    return Folder;
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> N;
    for (int i = 0; i < Form->ImageList().Count(); ++i) N.push_back(Form->ImageList()[i]->GetName());
    return N;
  }

  static inline std::string DataDir;
  std::string Dir;
  std::string Ini;
  std::unique_ptr<TTessivoPlusMainForm> Form;
};

TEST_F(MainForm, CommandStatesFollowTheListAndTheSelection) {
  TTessivoPlusMainForm &F = Open();
  EXPECT_FALSE(F.ActRun->isEnabled());
  EXPECT_FALSE(F.ActClear->isEnabled());
  EXPECT_TRUE(F.StatusFiles->text().isEmpty());
  F.AddFolder(Photos(3, 0));
  ASSERT_EQ(F.ImageList().Count(), 3);
  EXPECT_TRUE(F.ActRun->isEnabled());
  EXPECT_TRUE(F.ActClear->isEnabled());
  EXPECT_TRUE(F.ActToggleAll->isEnabled());
  EXPECT_FALSE(F.ActDelete->isEnabled());
  EXPECT_EQ(F.StatusFiles->text(), QStringLiteral("3Files"));
  SelectRow(F, 1);
  EXPECT_TRUE(F.ActDelete->isEnabled());
  EXPECT_TRUE(F.ActCheck->isEnabled());
  F.ClearList();
  EXPECT_FALSE(F.ActRun->isEnabled());
  EXPECT_FALSE(F.ActDelete->isEnabled());
  EXPECT_TRUE(F.StatusFiles->text().isEmpty());
}

struct TKeyCase {
  const char *Name;
  Qt::KeyboardModifiers Modifiers;
  int Left;  // entries left of 4, the second selected
};

class DeleteKeys : public MainForm, public testing::WithParamInterface<TKeyCase> {};

TEST_P(DeleteKeys, DeleteRemovesTheSelectionCtrlDeleteClearsOthersDoNothing) {
  TTessivoPlusMainForm &F = Open();
  F.AddFolder(Photos(4, 0));
  ASSERT_EQ(F.ImageList().Count(), 4);
  // Shortcuts reach only the active window.
  F.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&F));
  F.ListView->setFocus();
  QTRY_VERIFY(F.ListView->hasFocus());
  // The window system's own events settle before the selection is made.
  QTest::qWait(20);
  SelectRow(F, 1);
  ASSERT_EQ(F.ListView->selectionModel()->selectedRows().size(), 1);
  QTest::keyClick(F.ListView, Qt::Key_Delete, GetParam().Modifiers);
  EXPECT_EQ(F.ImageList().Count(), GetParam().Left);
  if (GetParam().Left == 3) {
    // The row that took the deleted one's place is selected.
    ASSERT_EQ(F.ListView->selectionModel()->selectedRows().size(), 1);
    EXPECT_EQ(F.ListView->selectionModel()->selectedRows().first().row(), 1);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, DeleteKeys,
                         testing::Values(TKeyCase{"Plain", Qt::NoModifier, 3}, TKeyCase{"Ctrl", Qt::ControlModifier, 0},
                                         TKeyCase{"Shift", Qt::ShiftModifier, 4}, TKeyCase{"Alt", Qt::AltModifier, 4}),
                         [](const testing::TestParamInfo<TKeyCase> &I) { return std::string(I.param.Name); });

TEST_F(MainForm, SpaceTogglesTheSelectedChecksOnly) {
  TTessivoPlusMainForm &F = Open();
  F.AddFolder(Photos(3, 0));
  F.ListView->setFocus();
  SelectRow(F, 2);
  QTest::keyClick(F.ListView, Qt::Key_Space);
  EXPECT_TRUE(F.ImageList()[0]->Checked);
  EXPECT_FALSE(F.ImageList()[2]->Checked);
  QTest::keyClick(F.ListView, Qt::Key_Space, Qt::ControlModifier);
  EXPECT_FALSE(F.ImageList()[2]->Checked);
  F.CheckEveryOther();
  EXPECT_TRUE(F.ImageList()[0]->Checked);
  EXPECT_FALSE(F.ImageList()[1]->Checked);
  EXPECT_TRUE(F.ImageList()[2]->Checked);
}

struct TModeCase {
  const char *Name;
  bool Answer;
  int Mode;       // mode shown afterwards
  int Entries;    // of 2 JPEG and 2 PNG
};

class JPEGTranMode : public MainForm, public testing::WithParamInterface<TModeCase> {};

TEST_P(JPEGTranMode, ConfirmingDropsEveryEntryThatIsNoJPEG) {
  TTessivoPlusMainForm &F = Open();
  F.AddFolder(Photos(2, 2));
  ASSERT_EQ(F.ImageList().Count(), 4);
  QString Asked;
  F.Confirm = [&](const QString &Text) {
    Asked = Text;
    return GetParam().Answer;
  };
  F.ChangeMode(1);
  EXPECT_EQ(Asked, QStringLiteral("JPEG以外のファイルをリストから削除します。よろしいですか？"));
  EXPECT_EQ(F.ModeBox->currentIndex(), GetParam().Mode);
  EXPECT_EQ(ConvertMode, GetParam().Mode);
  ASSERT_EQ(F.ImageList().Count(), GetParam().Entries);
  if (GetParam().Answer) {
    for (int i = 0; i < F.ImageList().Count(); ++i) EXPECT_EQ(F.ImageList()[i]->GetExt(), "jpg");
  }
  // The preview needs mode 0 or 2.
  EXPECT_EQ(F.ActPreview->isEnabled(), GetParam().Mode == 0);
  F.ChangeMode(0);
}

INSTANTIATE_TEST_SUITE_P(Table, JPEGTranMode,
                         testing::Values(TModeCase{"Ok", true, 1, 2}, TModeCase{"Cancel", false, 0, 4}),
                         [](const testing::TestParamInfo<TModeCase> &I) { return std::string(I.param.Name); });

struct TAtOnceCase {
  const char *Name;
  bool Answer;
  bool AtOnce;
  int Entries;
};

class AtOnceBox : public MainForm, public testing::WithParamInterface<TAtOnceCase> {};

TEST_P(AtOnceBox, CheckingWithEntriesAsksToClearTheList) {
  TTessivoPlusMainForm &F = Open();
  F.AddFolder(Photos(2, 0));
  QString Asked;
  F.Confirm = [&](const QString &Text) {
    Asked = Text;
    return GetParam().Answer;
  };
  F.AtOnceCheck->click();
  EXPECT_EQ(Asked, QStringLiteral("リストをクリアします。よろしいですか？"));
  EXPECT_EQ(F.AtOnceCheck->isChecked(), GetParam().AtOnce);
  EXPECT_EQ(FileOption.AtOnce, GetParam().AtOnce);
  EXPECT_EQ(F.ImageList().Count(), GetParam().Entries);
  FileOption.AtOnce = false;
}

INSTANTIATE_TEST_SUITE_P(Table, AtOnceBox,
                         testing::Values(TAtOnceCase{"Ok", true, true, 0}, TAtOnceCase{"Cancel", false, false, 2}),
                         [](const testing::TestParamInfo<TAtOnceCase> &I) { return std::string(I.param.Name); });

TEST_F(MainForm, WithAtOnceADropConvertsAtOnceAndRemoveListEmptiesTheList) {
  WriteIni("[File]\nFileNameFormat=" + Dir + "/out/<old>\nSameDirectory=0\nShowDirectory=0\nAtOnce=1\n"
           "RemoveList=1\n[System]\nThumbnailSize=0\n[Resize]\nRule=1\nSize1=50,32\n");
  TTessivoPlusMainForm &F = Open();
  const std::string Folder = Photos(3, 0);
  F.AddDropFiles({Folder});
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(fs::exists(Dir + "/out/p" + std::to_string(i) + ".jpg")) << i;
  EXPECT_EQ(F.ImageList().Count(), 0);
  EXPECT_FALSE(F.StatusElapsed->text().isEmpty());
  FileOption.AtOnce = false;
  FileOption.RemoveList = false;
}

// Drags the panel in slot Index by Dy pixels with the left button.
void DragPanel(TEffectPanel &Panel, int Dy) {
  const QPointF Local(60, 10);
  const QPointF Global = Panel.mapToGlobal(Local);
  QMouseEvent Press(QEvent::MouseButtonPress, Local, Global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&Panel, &Press);
  for (int Step = 1; Step <= 4; ++Step) {
    const QPointF G = Global + QPointF(0, Dy * Step / 4.0);
    QMouseEvent Move(QEvent::MouseMove, Panel.mapFromGlobal(G), G, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&Panel, &Move);
  }
  const QPointF End = Global + QPointF(0, Dy);
  QMouseEvent Release(QEvent::MouseButtonRelease, Panel.mapFromGlobal(End), End, Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QApplication::sendEvent(&Panel, &Release);
}

std::vector<std::string> EffectNames(const TEffectList &L) {
  std::vector<std::string> N;
  for (int i = 0; i < L.Count(); ++i) N.push_back(L[i]->Name());
  return N;
}

struct TPanelCase {
  const char *Name;
  int Slot, Dy;
  int Moved;  // slot the dragged effect ends in
};

class PanelDragging : public MainForm, public testing::WithParamInterface<TPanelCase> {};

TEST_P(PanelDragging, MovesTheEffectAndTheStoredOrderFollows) {
  TTessivoPlusMainForm &F = Open();
  TEffectList &L = F.Effects();
  ASSERT_GE(L.Count(), 4);
  ASSERT_EQ(int(F.FilterList.size()), L.Count());
  const std::vector<std::string> Before = EffectNames(L);
  const TPanelCase &C = GetParam();
  const int Slot = C.Slot < 0 ? L.Count() + C.Slot : C.Slot;
  const int Moved = C.Moved < 0 ? L.Count() + C.Moved : C.Moved;
  DragPanel(*F.FilterList[size_t(Slot)], C.Dy);
  std::vector<std::string> Expected = Before;
  const std::string Dragged = Expected[size_t(Slot)];
  Expected.erase(Expected.begin() + Slot);
  Expected.insert(Expected.begin() + Moved, Dragged);
  EXPECT_EQ(EffectNames(L), Expected);
  // The panels show the new order, each at its slot.
  for (int i = 0; i < int(F.FilterList.size()); ++i) {
    EXPECT_EQ(F.FilterList[size_t(i)]->FCaption->text().trimmed().toStdString(), Expected[size_t(i)]) << i;
    EXPECT_EQ(F.FilterList[size_t(i)]->y(), i * EFFECT_PANEL_HEIGHT) << i;
    EXPECT_EQ(F.FilterList[size_t(i)]->Index(), i);
  }
  // What the settings file would store: "Order" of every section follows.
  TMemIniFile Out;
  L.WriteIniFile(Out);
  for (int i = 0; i < L.Count(); ++i) EXPECT_EQ(Out.ReadInteger(L[i]->SectionName(), "Order", -1), i) << L[i]->Name();
}

// The third panel's top at 52: 16 pixels up brings it to 36, less than 11
// below the second's 26, and they trade; 15 up (37) does not. Beyond the
// first or last slot a panel stays at the end it reached.
INSTANTIATE_TEST_SUITE_P(Table, PanelDragging,
                         testing::Values(TPanelCase{"ThirdUpSixteenSwapsWithTheSecond", 2, -16, 1},
                                         TPanelCase{"ThirdUpFifteenStays", 2, -15, 2},
                                         TPanelCase{"SecondDownTwelveSwapsWithTheThird", 1, 12, 2},
                                         TPanelCase{"FirstAboveTheTopStays", 0, -80, 0},
                                         TPanelCase{"LastBelowTheBottomStays", -1, 80, -1}),
                         [](const testing::TestParamInfo<TPanelCase> &I) { return std::string(I.param.Name); });

TEST_F(MainForm, PanelCheckBoxSwitchesItsEffect) {
  TTessivoPlusMainForm &F = Open();
  TEffect *E = F.Effects()[1];
  const bool Was = E->Use();
  F.FilterList[1]->FCheckBox->click();
  EXPECT_EQ(E->Use(), !Was);
}

TEST_F(MainForm, AStoredPlaceOffTheScreenOpensAtTheOrigin) {
  WriteIni("[Window]\nLeft=5000\nTop=100\nClientWidth=600\nClientHeight=400\n[System]\nThumbnailSize=0\n");
  TTessivoPlusMainForm &F = Open();
  EXPECT_EQ(F.pos(), QPoint(0, 0));
  EXPECT_EQ(F.size(), QSize(600, 400));
}

TEST_F(MainForm, AStoredPlaceOnTheScreenIsKept) {
  WriteIni("[Window]\nLeft=20\nTop=30\nClientWidth=600\nClientHeight=400\n[ListView]\nHeader0=222\n"
           "[System]\nThumbnailSize=0\n");
  TTessivoPlusMainForm &F = Open();
  EXPECT_EQ(F.geometry(), QRect(20, 30, 600, 400));
  EXPECT_EQ(F.ListView->columnWidth(0), 222);
  EXPECT_EQ(F.ListView->columnWidth(1), 80);
}

TEST_F(MainForm, CaptionNamesTheSettingsFile) {
  TTessivoPlusMainForm &F = Open();
  EXPECT_EQ(F.windowTitle(), QStringLiteral("TessivoPlus  - TessivoPlus.ini"));
}

QMimeData *UriList(const std::vector<std::string> &Paths) {
  auto *M = new QMimeData;
  QList<QUrl> Urls;
  for (const std::string &P : Paths) Urls << QUrl::fromLocalFile(QString::fromStdString(P));
  M->setUrls(Urls);
  return M;
}

TEST_F(MainForm, FilesDroppedFromAFileManagerAreAdded) {
  TTessivoPlusMainForm &F = Open();
  const std::string Folder = Photos(2, 1);
  std::unique_ptr<QMimeData> Data(UriList({Folder + "/p0.jpg", Folder + "/q0.png"}));
  // As a file manager's drag arrives: enter, then drop.
  QDragEnterEvent Enter(QPoint(20, 20), Qt::CopyAction, Data.get(), Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(F.ListView->viewport(), &Enter);
  EXPECT_TRUE(Enter.isAccepted());
  QDropEvent Drop(QPointF(20, 20), Qt::CopyAction, Data.get(), Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(F.ListView->viewport(), &Drop);
  EXPECT_TRUE(Drop.isAccepted());
  // The adding runs from a queued call after the drop has been answered.
  for (int i = 0; i < 500 && F.ImageList().Count() < 2; ++i) QTest::qWait(10);
  ASSERT_EQ(F.ImageList().Count(), 2);
  EXPECT_EQ(Names(), (std::vector<std::string>{"p0.jpg", "q0.png"}));
}

TEST_F(MainForm, ADropWhileDropsAreRefusedIsDiscarded) {
  TTessivoPlusMainForm &F = Open();
  const std::string Folder = Photos(1, 0);
  F.DragDropAccept = false;
  F.AddDropFiles({Folder});
  EXPECT_EQ(F.ImageList().Count(), 0);
  F.DragDropAccept = true;
  F.AddDropFiles({Folder});
  EXPECT_EQ(F.ImageList().Count(), 1);
}

struct TMoveCase {
  const char *Name;
  int From, To;
  std::vector<std::string> Order;
};

class RowMoves : public MainForm, public testing::WithParamInterface<TMoveCase> {};

TEST_P(RowMoves, MoveTheDraggedEntryToTheRowUnderTheMouse) {
  TTessivoPlusMainForm &F = Open();
  const std::string Folder = Photos(4, 0);
  F.AddPaths({Folder + "/p0.jpg", Folder + "/p1.jpg", Folder + "/p2.jpg", Folder + "/p3.jpg"});
  const int Y = GetParam().To < 0 ? F.ListView->viewport()->height() - 2
                                  : F.ListView->rowViewportPosition(GetParam().To) + 2;
  F.MoveEntry(GetParam().From, F.ListView->DropRowAt(Y));
  EXPECT_EQ(Names(), GetParam().Order);
  // The duplicate check still knows every path.
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(F.ImageList().Contains(Folder + "/p" + std::to_string(i) + ".jpg"));
}

INSTANTIATE_TEST_SUITE_P(
    Table, RowMoves,
    testing::Values(TMoveCase{"Down", 0, 2, {"p1.jpg", "p2.jpg", "p0.jpg", "p3.jpg"}},
                    TMoveCase{"Up", 3, 1, {"p0.jpg", "p3.jpg", "p1.jpg", "p2.jpg"}},
                    TMoveCase{"BelowTheLastRowGoesToTheEnd", 1, -1, {"p0.jpg", "p2.jpg", "p3.jpg", "p1.jpg"}}),
    [](const testing::TestParamInfo<TMoveCase> &I) { return std::string(I.param.Name); });

TEST_F(MainForm, HeaderClicksSortTheListBothWays) {
  TTessivoPlusMainForm &F = Open();
  const std::string Folder = Photos(3, 0);
  F.AddPaths({Folder + "/p1.jpg", Folder + "/p2.jpg", Folder + "/p0.jpg"});
  auto *Header = F.ListView->horizontalHeader();
  QTest::mouseClick(Header->viewport(), Qt::LeftButton, {}, QPoint(Header->sectionViewportPosition(0) + 5, 5));
  EXPECT_EQ(Names(), (std::vector<std::string>{"p0.jpg", "p1.jpg", "p2.jpg"}));
  QTest::mouseClick(Header->viewport(), Qt::LeftButton, {}, QPoint(Header->sectionViewportPosition(0) + 5, 5));
  EXPECT_EQ(Names(), (std::vector<std::string>{"p2.jpg", "p1.jpg", "p0.jpg"}));
}

TEST_F(MainForm, ListTextsComeFromTheEntries) {
  TTessivoPlusMainForm &F = Open();
  const std::string Folder = Photos(1, 0);
  F.AddPaths({Folder + "/p0.jpg"});
  ASSERT_EQ(F.Model->rowCount(), 1);
  EXPECT_EQ(F.Model->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("名前"));
  EXPECT_EQ(F.Model->data(F.Model->index(0, 0), Qt::DisplayRole).toString(), QStringLiteral("p0.jpg"));
  EXPECT_EQ(F.Model->data(F.Model->index(0, 1), Qt::DisplayRole).toString(), QStringLiteral("64 x 48"));
  EXPECT_EQ(F.Model->data(F.Model->index(0, 0), Qt::CheckStateRole).toInt(), int(Qt::Checked));
  F.Model->setData(F.Model->index(0, 0), Qt::Unchecked, Qt::CheckStateRole);
  EXPECT_FALSE(F.ImageList()[0]->Checked);
}

TEST_F(MainForm, RunConvertsTheCheckedEntriesBehindTheBatchWindow) {
  TTessivoPlusMainForm &F = Open();
  F.AddFolder(Photos(4, 0));
  ASSERT_EQ(F.ImageList().Count(), 4);
  for (int i = 0; i < F.ImageList().Count(); ++i)
    if (F.ImageList()[i]->GetName() == "p3.jpg") F.ImageList()[i]->Checked = false;
  QString Title;
  F.OnBatchWindow = [&](TProgressWindow &W) { Title = W.windowTitle(); };
  F.Run();
  EXPECT_EQ(Title, QStringLiteral("処理中"));
  for (int i = 0; i < 3; ++i) {
    const std::string Out = Dir + "/out/p" + std::to_string(i) + ".jpg";
    ASSERT_TRUE(fs::exists(Out)) << Out;
    // The long side came down to 160 (rule 1), read back by Qt's own decoder.
    const QImage Back(QString::fromStdString(Out));
    EXPECT_EQ(std::max(Back.width(), Back.height()), 160) << Out;
  }
  EXPECT_FALSE(fs::exists(Dir + "/out/p3.jpg"));
  EXPECT_FALSE(F.StatusElapsed->text().isEmpty());
  EXPECT_TRUE(F.ActRun->isEnabled());
  EXPECT_TRUE(F.DragDropAccept);
}

TEST_F(MainForm, AFileThatFailsIsShownInTheErrorLogWindow) {
  TTessivoPlusMainForm &F = Open();
  const std::string Folder = Photos(1, 0);
  F.AddPaths({Folder + "/p0.jpg"});
  // The file breaks after it was listed.
  std::ofstream(Folder + "/p0.jpg", std::ios::trunc) << "not a picture any more";
  fs::last_write_time(Folder + "/p0.jpg", fs::last_write_time(Folder + "/p0.jpg"));
  TModalCloser Closer;
  Closer.Arm(QStringLiteral("ErrorLog"));
  F.Run();
  EXPECT_EQ(Closer.Title, QStringLiteral("ErrorLog"));
  EXPECT_TRUE(Closer.Text.contains(QStringLiteral("p0.jpg"))) << Closer.Text.toStdString();
  EXPECT_EQ(ErrorLogForm().GetErrorCount(), 0);  // showing took the messages
}

struct TStopCase {
  const char *Name;
  std::function<void(TProgressWindow &)> Stop;
};

class StoppingTheBatch : public MainForm, public testing::WithParamInterface<TStopCase> {};

TEST_P(StoppingTheBatch, EndsTheRunWithoutConvertingMore) {
  TTessivoPlusMainForm &F = Open();
  F.AddFolder(Photos(6, 0));
  int32_t Shown = 0;
  QString PauseCaption;
  F.OnBatchWindow = [&](TProgressWindow &W) {
    // Paused before it starts, then stopped: the paused workers start no file.
    W.OnStarted = [&](TRunControl &Run) {
      Run.TogglePause();
      ++Shown;
      QTimer::singleShot(100, &W, [&] {
        PauseCaption = W.Button2->text();
        GetParam().Stop(W);
      });
    };
  };
  F.Run();
  EXPECT_EQ(Shown, 1);
  EXPECT_EQ(PauseCaption, QStringLiteral("再開"));
  EXPECT_TRUE(F.StatusElapsed->text().isEmpty());  // no finished run to report
  int Written = 0;
  for (int i = 0; i < 6; ++i) Written += fs::exists(Dir + "/out/p" + std::to_string(i) + ".jpg");
  EXPECT_EQ(Written, 0);
  EXPECT_TRUE(F.DragDropAccept);
}

INSTANTIATE_TEST_SUITE_P(
    Table, StoppingTheBatch,
    testing::Values(TStopCase{"StopButton", [](TProgressWindow &W) { W.Button1->click(); }},
                    TStopCase{"EscapeKey", [](TProgressWindow &W) { QTest::keyClick(&W, Qt::Key_Escape); }},
                    TStopCase{"CloseBox", [](TProgressWindow &W) { W.close(); }}),
    [](const testing::TestParamInfo<TStopCase> &I) { return std::string(I.param.Name); });

TEST_F(MainForm, AWatchedClipboardAddsEachNewPictureButNotTheFirstNotice) {
  WriteIni("[File]\nFileNameFormat=" + Dir + "/out/<old>\n[System]\nThumbnailSize=0\nWatchClipBoard=1\n");
  TTessivoPlusMainForm &F = Open();
  QImage Img(24, 16, QImage::Format_RGB32);
  Img.fill(qRgb(200, 10, 10));
  // The first notice after start-up is not the user's picture.
  QGuiApplication::clipboard()->setImage(Img);
  QTest::qWait(20);
  EXPECT_EQ(F.ImageList().Count(), 0);
  Img.fill(qRgb(10, 10, 200));
  QGuiApplication::clipboard()->setImage(Img);
  for (int i = 0; i < 200 && F.ImageList().Count() == 0; ++i) QTest::qWait(10);
  ASSERT_EQ(F.ImageList().Count(), 1);
  EXPECT_EQ(QImage(QString::fromStdString(F.ImageList()[0]->FPath)).pixel(1, 1), qRgb(10, 10, 200));
  F.ClearList();
}

}  // namespace

namespace {

TEST_F(MainForm, CancelInTheAddingWindowStopsTheThreadAndAnswersTwo) {
  Open();
  const std::string Folder = Photos(3, 0);
  TImageInfoList List;
  TAddingWindow Adding(List);
  EXPECT_EQ(Adding.windowTitle(), QStringLiteral("リストアップ中"));
  Adding.AddFolder(Folder);
  Adding.OnStarted = [](TAddingWindow &W) { W.CancelButton->click(); };
  EXPECT_EQ(Adding.Execute(), 2);
  EXPECT_EQ(List.Count(), 0);
  EXPECT_FALSE(Adding.CancelButton->isEnabled());
  EXPECT_FALSE(Adding.isVisible());
}

TEST_F(MainForm, TheAddingWindowFinishesWithOne) {
  Open();
  TImageInfoList List;
  TAddingWindow Adding(List);
  Adding.AddFolder(Photos(3, 1));
  EXPECT_EQ(Adding.Execute(), 1);
  EXPECT_EQ(List.Count(), 4);
}

// The list asks only for the rows it shows: 100,000 entries cost what one
// screenful costs when the view paints or scrolls.
class TCountingModel : public TImageListModel {
public:
  using TImageListModel::TImageListModel;
  mutable std::set<int> RowsAsked;
  QVariant data(const QModelIndex &Index, int Role) const override {
    RowsAsked.insert(Index.row());
    return TImageListModel::data(Index, Role);
  }
};

TEST_F(MainForm, AHundredThousandEntriesPaintAndScrollOneScreenfulAtATime) {
  TImageInfoList List;
  for (int i = 0; i < 100000; ++i) {
    auto E = std::make_unique<TImageInfo>();
    E->FPath = "/photos/IMG_" + std::to_string(100000 + i) + ".jpg";
    E->Checked = true;
    List.Add(std::move(E));
  }
  TCountingModel Model(List);
  TListView View;
  View.resize(800, 600);
  View.setModel(&Model);
  View.show();
  View.grab();
  const size_t Screenful = Model.RowsAsked.size();
  EXPECT_GT(Screenful, 5u);
  EXPECT_LT(Screenful, 200u);
  Model.RowsAsked.clear();
  View.scrollTo(Model.index(99999, 0));
  View.grab();
  EXPECT_LT(Model.RowsAsked.size(), 200u);
  EXPECT_TRUE(Model.RowsAsked.count(99999));
  EXPECT_EQ(Model.rowCount(), 100000);
}

TEST_F(MainForm, CombiningModeRunsTheCombiningWindowAndWritesPages) {
  WriteIni("[File]\nFileNameFormat=" + Dir + "/out/<old>\nSameDirectory=0\nShowDirectory=0\n"
           "[System]\nThumbnailSize=0\n[Combine]\nUse=1\nRows=2\nColumns=2\nWidth=100\nHeight=80\nBlankType=0\n");
  TTessivoPlusMainForm &F = Open();
  EXPECT_EQ(F.ModeBox->currentIndex(), 2);
  EXPECT_EQ(F.ModePanels->currentIndex(), 2);
  F.AddFolder(Photos(5, 0));
  bool Paused = true;
  F.OnBatchWindow = [&](TProgressWindow &W) {
    W.OnStarted = [&W, &Paused](TRunControl &) { Paused = W.Button2->isVisible(); };
  };
  F.Run();
  EXPECT_FALSE(Paused);  // a combining run has no pause
  std::vector<QSize> Pages;
  for (const auto &E : fs::directory_iterator(Dir + "/out")) Pages.push_back(QImage(QString::fromStdString(E.path())).size());
  // Four pictures on the full page of 2 x 2 cells, the fifth alone on the
  // last one, which holds only its own cell.
  ASSERT_EQ(Pages.size(), 2u);
  std::sort(Pages.begin(), Pages.end(), [](QSize a, QSize b) { return a.width() < b.width(); });
  EXPECT_EQ(Pages[0], QSize(100, 80));
  EXPECT_EQ(Pages[1], QSize(200, 160));
  EXPECT_FALSE(F.StatusElapsed->text().isEmpty());
  F.ChangeMode(0);
}

TEST_F(MainForm, SelectingARowShowsItsThumbnailAndClosingChoosesNone) {
  WriteIni("[File]\nFileNameFormat=" + Dir + "/out/<old>\n[System]\nThumbnailSize=2\n");
  TTessivoPlusMainForm &F = Open();
  EXPECT_TRUE(F.ActThumbnail[2]->isChecked());
  const std::string Folder = Dir + "/big";
  fs::create_directories(Folder);
  WritePicture(Folder + "/wide.png", 900, 300, "PNG");
  F.AddPaths({Folder + "/wide.png"});
  F.ListView->setCurrentIndex(F.Model->index(0, 0));
  for (int i = 0; i < 500 && F.ThumbnailWindow->Picture().isNull(); ++i) QTest::qWait(10);
  ASSERT_FALSE(F.ThumbnailWindow->Picture().isNull());
  EXPECT_TRUE(F.ThumbnailWindow->isVisible());
  EXPECT_EQ(F.ThumbnailWindow->size(), QSize(320, 320));
  EXPECT_EQ(F.ThumbnailWindow->windowTitle(), QStringLiteral("wide.png"));
  // The list thumbnail is the picture brought down to 320 on its long side.
  EXPECT_EQ(F.ThumbnailWindow->Picture().size(), QSize(320, 107));
  // Its offset from the main window is remembered when it goes.
  F.ThumbnailWindow->move(F.pos() + QPoint(40, 30));
  F.ThumbnailWindow->close();
  EXPECT_EQ(F.WindowState().ThumbnailLeft, 40);
  EXPECT_EQ(F.WindowState().ThumbnailTop, 30);
  EXPECT_TRUE(F.ActThumbnail[0]->isChecked());
  EXPECT_EQ(SystemOption.ThumbnailSize, 0);
  F.SetThumbnailSize(1);
  EXPECT_EQ(F.ThumbnailWindow->size(), QSize(160, 160));
  EXPECT_TRUE(F.ActIgnoreEmbedded->isEnabled());
  F.SetThumbnailSize(3);
  EXPECT_FALSE(F.ActIgnoreEmbedded->isEnabled());
  F.SetThumbnailSize(0);
}

TEST_F(MainForm, PastedPicturesJoinTheListAsTemporaryFiles) {
  TTessivoPlusMainForm &F = Open();
  QImage Img(30, 20, QImage::Format_RGB32);
  Img.fill(qRgb(10, 200, 30));
  QGuiApplication::clipboard()->setImage(Img);
  F.Paste();
  ASSERT_EQ(F.ImageList().Count(), 1);
  const std::string Path = F.ImageList()[0]->FPath;
  EXPECT_NE(Path.find("_clipboard"), std::string::npos) << Path;
  EXPECT_EQ(Path.substr(Path.size() - 4), ".bmp");
  EXPECT_EQ(QImage(QString::fromStdString(Path)).pixel(5, 5), qRgb(10, 200, 30));
  EXPECT_EQ(F.ImageList()[0]->Width, 30);
  // The program's own temporary file goes with its entry.
  F.ClearList();
  EXPECT_FALSE(fs::exists(Path));
}

TEST_F(MainForm, TheOrderDialogMovesAnEffectUp) {
  TTessivoPlusMainForm &F = Open();
  const std::vector<std::string> Before = EffectNames(F.Effects());
  QTimer::singleShot(0, [] {
    auto *D = qobject_cast<QDialog *>(QApplication::activeModalWidget());
    ASSERT_TRUE(D);
    EXPECT_EQ(D->windowTitle(), QStringLiteral("処理順の変更"));
    D->findChild<QListWidget *>()->setCurrentRow(2);
    for (auto *B : D->findChildren<QPushButton *>())
      if (B->text() == QStringLiteral("上へ")) B->click();
    D->accept();
  });
  F.ActEffectOrder->trigger();
  std::vector<std::string> Expected = Before;
  std::swap(Expected[1], Expected[2]);
  EXPECT_EQ(EffectNames(F.Effects()), Expected);
  // The panels were rebuilt in the new order.
  EXPECT_EQ(F.FilterList[1]->FCaption->text().toStdString(), Expected[1]);
}

TEST_F(MainForm, ProfilesListDefaultFirstThenTheOthersAndLoadTheChosenOne) {
  std::ofstream(DataDir + "/ini/web.ini") << "[System]\nThumbnailSize=0\nCaption=%ini!\n[Resize]\nRule=0\n";
  TTessivoPlusMainForm &F = Open();
  ASSERT_GE(F.ProfileBox->count(), 2);
  EXPECT_EQ(F.ProfileBox->itemText(0), QStringLiteral("Default"));
  const int Web = F.ProfileBox->findText(QStringLiteral("web"));
  ASSERT_GT(Web, 0);
  F.ProfileBox->setCurrentIndex(Web);
  emit F.ProfileBox->activated(Web);
  EXPECT_EQ(F.IniPath(), DataDir + "/ini/web.ini");
  EXPECT_EQ(F.windowTitle(), QStringLiteral("TessivoPlus  - web.ini!"));
  EXPECT_EQ(F.RuleBox->currentIndex(), 0);
  fs::remove(DataDir + "/ini/web.ini");
}

TEST_F(MainForm, TheAboutBoxNamesTheProgramItsMemoryAndAVX) {
  TTessivoPlusMainForm &F = Open();
  QString Title, Text;
  QTimer::singleShot(0, [&] {
    auto *B = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    ASSERT_TRUE(B);
    Title = B->windowTitle();
    Text = B->text();
    B->accept();
  });
  F.ShowAbout();
  EXPECT_EQ(Title, QStringLiteral("バージョン情報"));
  EXPECT_TRUE(Text.contains(QStringLiteral("TessivoPlus")));
  EXPECT_TRUE(Text.contains(QStringLiteral("使用可能な連続メモリ空間")));
  EXPECT_TRUE(Text.contains(QStringLiteral("AVX Support")));
}

}  // namespace

namespace {

TEST_F(MainForm, WithoutAViewerThePreviewOpensThePlainWindowWithTheConvertedPicture) {
  TTessivoPlusMainForm &F = Open();
  const std::string Folder = Photos(2, 0);
  F.AddPaths({Folder + "/p0.jpg", Folder + "/p1.jpg"});
  EXPECT_TRUE(F.ActPreview->isEnabled());
  EXPECT_FALSE(F.ActPreviewViewer->isEnabled());  // no external viewer
  F.ListView->setCurrentIndex(F.Model->index(1, 0));
  std::vector<QString> Titles;
  std::vector<QSize> Sizes;
  WhenModal([&] { return F.PreviewWindow && F.PreviewWindow->isVisible(); }, [&] {
    TPreviewWindow *W = F.PreviewWindow;
    Titles.push_back(W->windowTitle());
    Sizes.push_back(W->Picture->pixmap().size());
    // The next command wraps around to the first entry.
    W->NextButton->click();
    Titles.push_back(W->windowTitle());
    W->accept();
  });
  F.Preview(false);
  ASSERT_EQ(Titles.size(), 2u);
  // p1.jpg is 65 x 48; the resize step (long side 160) makes it 160 x 118.
  EXPECT_TRUE(Titles[0].startsWith(QStringLiteral("p1.jpg:"))) << Titles[0].toStdString();
  EXPECT_EQ(Sizes[0], QSize(160, 118));
  EXPECT_TRUE(Titles[1].startsWith(QStringLiteral("p0.jpg:"))) << Titles[1].toStdString();
  EXPECT_EQ(F.PreviewIndex, 0);
}

TEST_F(MainForm, AConfiguredViewerGetsThePictureAndItsCommandLine) {
  const std::string Viewer = Dir + "/viewer";
  const std::string Args = Dir + "/viewer-args";
  std::ofstream(Viewer) << "#!/bin/sh\nprintf '%s\\n' \"$@\" > " << Args << ".part\nmv " << Args << ".part " << Args
                        << "\n";
  fs::permissions(Viewer, fs::perms::owner_all);
  WriteIni("[File]\nFileNameFormat=" + Dir + "/out/<old>\n[System]\nThumbnailSize=0\n[Resize]\nRule=1\n"
           "Size1=50,160\n[Preview]\nViewerPath=" + Viewer + "\nViewerOption=/getclip \"/title=$T\"\n"
           "ViewerOption2=/newwnd /dir=$p\n");
  TTessivoPlusMainForm &F = Open();
  const std::string Folder = Photos(1, 0);
  F.AddPaths({Folder + "/p0.jpg"});
  EXPECT_TRUE(F.ActPreviewViewer->isEnabled());
  F.Preview(true);
  for (int i = 0; i < 500 && !fs::exists(Args); ++i) QTest::qWait(10);
  std::ifstream In(Args);
  std::vector<std::string> Lines;
  for (std::string L; std::getline(In, L);) Lines.push_back(L);
  ASSERT_EQ(Lines.size(), 2u);
  EXPECT_EQ(Lines[0], "/newwnd");
  EXPECT_EQ(Lines[1].rfind("/dir=\"", 0), 0u) << Lines[1];
  EXPECT_EQ(QGuiApplication::clipboard()->image().size(), QSize(160, 120));  // p0.jpg is 64 x 48
}

struct TViewerCase {
  const char *Name;
  const char *Option;
  std::vector<std::string> Args;
};

class ViewerCommandLine : public testing::TestWithParam<TViewerCase> {};

TEST_P(ViewerCommandLine, SplitsAtBlanksAndFillsTheTitleAndTheProgramFolder) {
  EXPECT_EQ(ViewerArguments("/usr/bin/viewer", GetParam().Option, "a b.jpg:Lanczos3_int", "/opt/tp"),
            GetParam().Args);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ViewerCommandLine,
    testing::Values(
        TViewerCase{"Plain", "/getclip /user=tessivo", {"/usr/bin/viewer", "/getclip", "/user=tessivo"}},
        TViewerCase{"TitleInAnyCase", "/t=$t /T=$T", {"/usr/bin/viewer", "/t=a b.jpg:Lanczos3_int", "/T=a b.jpg:Lanczos3_int"}},
        TViewerCase{"ProgramFolderQuoted", "$p/bin", {"/usr/bin/viewer", "\"/opt/tp\"/bin"}},
        TViewerCase{"QuotesKeepBlanks", "\"/a b\"  c", {"/usr/bin/viewer", "/a b", "c"}},
        TViewerCase{"Empty", "", {"/usr/bin/viewer"}},
        TViewerCase{"DollarAlone", "x$ $q", {"/usr/bin/viewer", "x$", "$q"}}),
    [](const testing::TestParamInfo<TViewerCase> &I) { return std::string(I.param.Name); });

}  // namespace

namespace {

TEST_F(MainForm, TheCombiningSettingsDialogStoresOnOkOnly) {
  TCombineOption Option;
  {
    TCombineOptionDialog D(Option, SystemOption.CustomPalette);
    EXPECT_EQ(D.windowTitle(), QStringLiteral("画像連結の設定"));
    EXPECT_EQ(D.RowsEdit->value(), 3);
    D.RowsEdit->setValue(4);
    D.BlankGroup->button(BLANK_FILL)->click();
    D.SizeBox->setCurrentIndex(1);
    emit D.SizeBox->activated(1);
    // "比率(%)" shows one edit, relabelled.
    EXPECT_EQ(D.FirstLabel->text(), QStringLiteral("倍率"));
    EXPECT_EQ(D.FirstUnit->text(), QStringLiteral("%"));
    EXPECT_TRUE(D.SecondEdit->isHidden());
    D.FirstEdit->setValue(25);
    D.accept();
    EXPECT_EQ(D.result(), QDialog::Accepted);
    ASSERT_TRUE(D.StoreTo(Option));
  }
  EXPECT_EQ(Option.Rows, 4);
  EXPECT_EQ(Option.BlankType, BLANK_FILL);
  EXPECT_EQ(Option.RelativeSize, 1);
  EXPECT_EQ(Option.Percent, 25);
  EXPECT_EQ(Option.Width, 320);  // the hidden width kept its value
  {
    TCombineOptionDialog D(Option, SystemOption.CustomPalette);
    D.ColumnsEdit->setValue(100);  // 縦 is 1 to 99: held at 99
    D.accept();
    EXPECT_EQ(D.result(), QDialog::Accepted);
    EXPECT_TRUE(D.Message->text().isEmpty());
    ASSERT_TRUE(D.StoreTo(Option));
  }
  EXPECT_EQ(Option.Columns, 99);
}

// The plug-in command asks to clear a filled list first; declining leaves
// the list and opens nothing, agreeing empties it and opens the dialog.
TEST_F(MainForm, ThePluginCommandClearsTheListFirstWhenTheUserAgrees) {
  const TSPIOption SavedOption = SPIOption;
  const TPluginOrders SavedOrders = PluginOrders;
  auto &F = Open();
  F.AddPaths({Photos(2, 0)});
  ASSERT_EQ(F.ImageList().Count(), 2);
  struct TCase {
    bool Answer;
    int CountAfter;
    bool Opened;
  };
  for (const TCase C : {TCase{false, 2, false}, TCase{true, 0, true}}) {
    QString Asked;
    F.Confirm = [&](const QString &Q) {
      Asked = Q;
      return C.Answer;
    };
    // The dialog, if it comes, is closed by Cancel; the watch ends with the command.
    auto Opened = std::make_shared<bool>(false);
    auto Armed = std::make_shared<bool>(true);
    std::function<void()> Watch = [Opened, Armed, &Watch] {
      QTimer::singleShot(10, [Opened, Armed, &Watch] {
        if (!*Armed) return;
        if (auto *D = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
          *Opened = D->windowTitle() == QStringLiteral("Susie Plug-in設定");
          D->reject();
          return;
        }
        Watch();
      });
    };
    Watch();
    F.ActPlugins->trigger();
    *Armed = false;
    EXPECT_EQ(Asked, QStringLiteral("Susie Plug-inの設定を変更する前にリストをクリアします。よろしいですか？"));
    EXPECT_EQ(F.ImageList().Count(), C.CountAfter);
    EXPECT_EQ(*Opened, C.Opened);
  }
  EXPECT_EQ(F.ActPlugins->text(), QStringLiteral("Susie Plug-in設定(&P)..."));
  SPIOption = SavedOption;
  PluginOrders = SavedOrders;
}

TEST_F(MainForm, TheFormatCommandsOpenTheFormatDialogOnTheRememberedPageAndOnTheConversionPage) {
  TTessivoPlusMainForm &F = Open();
  struct {
    QAction *Action;
    const char *Caption;
    int32_t Remembered, Want;
  } const Cases[] = {{F.ActFormatOption, "フォーマット設定(&F)...", 3, 3},
                     {F.ActFormatOption, "フォーマット設定(&F)...", 0, 0},
                     {F.ActConvertTable, "フォーマット変換設定(&C)...", 2, 5}};
  for (const auto &C : Cases) {
    EXPECT_EQ(C.Action->text(), QString::fromUtf8(C.Caption));
    WindowSettings.FormatOptionPage = C.Remembered;
    int Shown = -1;
    WhenModal([] { return qobject_cast<TFormatOptionForm *>(QApplication::activeModalWidget()) != nullptr; },
              [&Shown] {
                auto *D = qobject_cast<TFormatOptionForm *>(QApplication::activeModalWidget());
                Shown = D->Pages->currentIndex();
                D->Pages->setCurrentIndex(6);
                D->accept();
              });
    C.Action->trigger();
    EXPECT_EQ(Shown, C.Want) << C.Caption;
    EXPECT_EQ(WindowSettings.FormatOptionPage, 6) << "OK remembers the page shown last";
  }
}

}  // namespace

namespace {

struct TReductionCase {
  const char *Name;
  int StoredMode;
  bool ToolsThere;
  bool Panel;
};

class ReductionPanel : public MainForm, public testing::WithParamInterface<TReductionCase> {};

TEST_P(ReductionPanel, ShowsOnlyWhileTheReductionHasATool) {
  if (GetParam().ToolsThere && testenv::BinFile("FLAXC").empty()) {
    GTEST_SKIP() << "bin/FLAXC is not built";
  }
  WriteIni("[System]\nThumbnailSize=0\n[DecreaseColor]\nMode=" + std::to_string(GetParam().StoredMode) + "\n");
  TTessivoPlusMainForm &F = Open();
  auto *DC = dynamic_cast<TDecreaseColorEffect *>(F.Effects().DecreaseColorEffect());
  ASSERT_TRUE(DC);
  DC->FToolFolder = GetParam().ToolsThere ? std::string(TESSIVO_BIN_DIR) : Dir + "/no-tools";
  F.LoadSettings(Ini, false);
  const bool Shown = F.DCPanel && F.DCPanel->isVisible();
  EXPECT_EQ(Shown, GetParam().Panel);
  if (Shown) {
    EXPECT_EQ(F.DCPanel->FCaption->text(), QStringLiteral("減色"));
    EXPECT_EQ(F.DCPanel->y(), F.Effects().Count() * EFFECT_PANEL_HEIGHT);
    // Its box switches the reduction, which is not one of the list's members.
    F.DCPanel->FCheckBox->click();
    EXPECT_EQ(DC->Use(), F.DCPanel->FCheckBox->isChecked());
  }
}

INSTANTIATE_TEST_SUITE_P(Table, ReductionPanel,
                         testing::Values(TReductionCase{"NoToolThere", 0, false, false},
                                         TReductionCase{"ChosenToolMissing", 1, false, false},
                                         TReductionCase{"NoneStoredTakesAToolThatIsThere", 0, true, true},
                                         TReductionCase{"ChosenToolThere", 1, true, true}),
                         [](const testing::TestParamInfo<TReductionCase> &I) { return std::string(I.param.Name); });

}  // namespace

namespace {

// A step's "設定" opens the dialog registered for it, over the picture
// selected in the list; Cancel leaves the step as it was.
TEST_F(MainForm, TheLevelsSettingsOpenTheLevelsDialogOverTheSelectedPicture) {
  TTessivoPlusMainForm &F = Open();
  F.AddFolder(Photos(3, 0));
  ASSERT_EQ(F.ImageList().Count(), 3);
  SelectRow(F, 1);
  QString Title;
  int32_t Shown = -1;
  bool Loaded = false;
  WhenModal([] { return QApplication::activeModalWidget() != nullptr; },
            [&] {
              QWidget *W = QApplication::activeModalWidget();
              Title = W->windowTitle();
              auto *D = dynamic_cast<TLevelsForm *>(W);
              if (!D) {
                W->close();
                return;
              }
              Shown = D->PreviewImageIndex();
              Loaded = D->Master() != nullptr;
              D->CancelButton->click();
            });
  F.Effects().ShowConfigDialogByID(int32_t(EFFECT_LEVELS));
  EXPECT_EQ(Title, QStringLiteral("レベル補正"));
  EXPECT_EQ(Shown, 1);
  EXPECT_TRUE(Loaded);
}

}  // namespace

// The resize step's settings button and the resize-settings command open the
// resize dialog; OK installs the chosen enlargement kernel and thread count
// in the program's resizer, Cancel changes nothing.
struct TResizeOpening {
  const char *Name;
  bool FromTheStep;
  bool Ok;
};
class ResizeSettings : public MainForm, public ::testing::WithParamInterface<TResizeOpening> {};

TEST_P(ResizeSettings, OpenTheResizeDialogAndOkReachesTheResizer) {
  const TResizeOpening &C = GetParam();
  TTessivoPlusMainForm &F = Open();
  ASSERT_NE(MainResizer, nullptr);
  const uint32_t ModeBefore = MainResizer->InterpolationMode;
  const int32_t ThreadsBefore = MainResizer->MaxThreadNum;
  ASSERT_NE(ModeBefore, 8u);
  ASSERT_NE(ThreadsBefore, 3);
  bool Shown = false;
  WhenModal([] { return qobject_cast<TResizeOptionForm *>(QApplication::activeModalWidget()) != nullptr; },
            [&Shown, &C] {
              auto *D = qobject_cast<TResizeOptionForm *>(QApplication::activeModalWidget());
              Shown = true;
              D->Interpolation.Box->setCurrentIndex(D->Interpolation.Box->findText(QStringLiteral("Gaussian")));
              D->MaxThreadEdit->setValue(3);
              if (C.Ok)
                D->accept();
              else
                D->reject();
            });
  if (C.FromTheStep)
    F.Effects().ShowConfigDialogByID(EFFECT_RESIZE);
  else
    F.ActResizeOption->trigger();
  EXPECT_TRUE(Shown);
  EXPECT_EQ(MainResizer->InterpolationMode, C.Ok ? 8u : ModeBefore);
  EXPECT_EQ(MainResizer->MaxThreadNum, C.Ok ? 3 : ThreadsBefore);
  EXPECT_EQ(ResizeOption.InterpolationMode, C.Ok ? 8 : int32_t(ModeBefore));
  EXPECT_EQ(ErrorLogForm().GetErrorCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(Table, ResizeSettings,
                         ::testing::Values(TResizeOpening{"StepButtonOk", true, true},
                                           TResizeOpening{"StepButtonCancel", true, false},
                                           TResizeOpening{"CommandOk", false, true}),
                         [](const auto &I) { return std::string(I.param.Name); });

TEST_F(MainForm, TheEnvironmentCommandRebuildsTheTemplateFieldOnOk) {
  TTessivoPlusMainForm &F = Open();
  const QString Before = F.TemplateEdit->text();
  ASSERT_EQ(Before.toStdString(), Dir + "/out/<old>");
  for (bool Ok : {false, true}) {
    WhenModal([] { return qobject_cast<TEnvOptionForm *>(QApplication::activeModalWidget()) != nullptr; },
              [Ok] {
                auto *D = qobject_cast<TEnvOptionForm *>(QApplication::activeModalWidget());
                D->FolderPage->OutputDirectoryEdit->setText(QStringLiteral("/srv/pictures"));
                if (Ok)
                  D->accept();
                else
                  D->reject();
              });
    F.ActEnvOption->trigger();
    EXPECT_EQ(F.TemplateEdit->text().toStdString(), Ok ? "/srv/pictures/<old>" : Before.toStdString());
    EXPECT_EQ(FileOption.FileNameFormat, Ok ? "/srv/pictures/<old>" : Before.toStdString());
  }
}
