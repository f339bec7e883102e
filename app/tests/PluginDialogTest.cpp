// The plug-in dialog's rules and the plug-in settings file, with copies of
// the test plug-ins and our archive plug-in in a folder of the test's own.
#include "app/PluginSettings.h"
#include "app/SusiePluginOption.h"
#include "batch/ConvertOption.h"
#include "batch/ConvertOptionIni.h"
#include "batch/SusieArchiveHost.h"
#include "core/IniFile.h"
#include "io/SusiePlugin.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

class PluginDialog : public ::testing::Test {
protected:
  void SetUp() override {
    char tmpl[] = "/tmp/plugin-dialog-XXXXXX";
    Tmp = ::mkdtemp(tmpl);
    Folder = Tmp + "/spi";
    fs::create_directories(Folder);
    for (const char *n : {"good.spi", "error.spi", "truncated.spi", "wrongversion.spi"})
      fs::copy_file(std::string(TESSIVO_TEST_SPI_DIR) + "/" + n, Folder + "/" + n);
    fs::copy_file(std::string(TESSIVO_PLUGIN_DIR) + "/axarchive.spi", Folder + "/axarchive.spi");
    Option.SPIDirectory = Folder;
  }
  void TearDown() override {
    ReleaseProgramPlugins();
    fs::remove_all(Tmp);
  }
  std::vector<std::string> Shown(const TSusiePluginOptionForm &F) {
    std::vector<std::string> v;
    for (int i = 0; i < F.Count(); ++i) v.push_back(F.Name(i) + (F.Checked(i) ? "=1" : "=0"));
    return v;
  }
  std::string Tmp, Folder;
  TSPIOption Option;
};

using TList = std::vector<std::string>;

}  // namespace

TEST_F(PluginDialog, OpeningWithAListAsksToClearItFirst) {
  struct TCase {
    int Count;
    bool Answer;
    bool Opens;
    bool Asked;
  };
  for (const TCase c : {TCase{0, false, true, false}, TCase{3, true, true, true}, TCase{3, false, false, true}}) {
    std::string asked;
    const bool opens = TSusiePluginOptionForm::MayOpen(c.Count, [&](const std::string &Q) {
      asked = Q;
      return c.Answer;
    });
    EXPECT_EQ(opens, c.Opens) << c.Count << " " << c.Answer;
    EXPECT_EQ(asked, c.Asked ? SPI_CLEAR_LIST_QUESTION : "");
  }
}

TEST_F(PluginDialog, ShowingListsStoredPluginsFirstAndNewOnesUncheckedAfterThem) {
  TPluginOrders orders;
  orders.SPIOrder = "truncated.spi=1,gone.spi=1,good.spi=0";
  orders.ArchiveSPIOrder = "";
  TSusiePluginOptionForm form(Option, orders, Tmp + "/default");
  form.Show();
  EXPECT_EQ(Shown(form), (TList{"truncated.spi=1", "good.spi=0", "error.spi=0"}));
  form.SelectKind(TSusiePluginOptionForm::TKind::Archive);
  EXPECT_EQ(Shown(form), (TList{"axarchive.spi=0"}));
}

TEST_F(PluginDialog, MovingAndTickingChangeWhatOkStores) {
  TPluginOrders orders;
  orders.SPIOrder = "good.spi=1,error.spi=0,truncated.spi=0";
  TSusiePluginOptionForm form(Option, orders, Tmp + "/default");
  form.Show();
  form.MoveDown(0);      // error, good, truncated
  form.MoveUp(2);        // error, truncated, good
  form.MoveUp(0);        // first stays first
  form.MoveDown(2);      // last stays last
  form.Drag(2, 0);       // good, error, truncated
  form.SetChecked(2, true);
  form.SetChecked(0, false);
  form.ThreadSafe = true;
  EXPECT_EQ(Shown(form), (TList{"good.spi=0", "error.spi=0", "truncated.spi=1"}));
  TSPIOption stored;
  TPluginOrders storedOrders;
  form.StoreTo(stored, storedOrders);
  EXPECT_EQ(storedOrders.SPIOrder, "good.spi=0,error.spi=0,truncated.spi=1");
  EXPECT_EQ(storedOrders.ArchiveSPIOrder, "axarchive.spi=1");  // stored on by default
  EXPECT_EQ(stored.SPIDirectory, Folder);
  EXPECT_EQ(stored.ThreadSafeSPI, LongTrue);
}

TEST_F(PluginDialog, TheDefaultFolderIsStoredEmpty) {
  TSusiePluginOptionForm form(Option, TPluginOrders{}, Folder);
  form.Show();
  TSPIOption stored;
  TPluginOrders orders;
  form.StoreTo(stored, orders);
  EXPECT_EQ(stored.SPIDirectory, "");
  EXPECT_EQ(stored.ThreadSafeSPI, LongFalse);
}

TEST_F(PluginDialog, AFolderChangeKeepsTheMarksOfPluginsFoundAgain) {
  TPluginOrders orders;
  orders.SPIOrder = "error.spi=1,good.spi=1,truncated.spi=0";
  TSusiePluginOptionForm form(Option, orders, Tmp + "/default");
  form.Show();
  const std::string other = Tmp + "/other";
  fs::create_directories(other);
  for (const char *n : {"good.spi", "truncated.spi"}) fs::copy_file(Folder + "/" + n, other + "/" + n);
  fs::copy_file(Folder + "/error.spi", other + "/later.spi");
  form.ChangeFolder(other);
  EXPECT_EQ(form.Folder(), other);
  EXPECT_EQ(Shown(form), (TList{"good.spi=1", "truncated.spi=0", "later.spi=0"}));
  form.SelectKind(TSusiePluginOptionForm::TKind::Archive);
  EXPECT_EQ(form.Count(), 0);
}

TEST_F(PluginDialog, TheSettingsButtonServesOnlyPluginsWithAConfigurationDialog) {
  TPluginOrders orders;
  orders.SPIOrder = "good.spi=1,error.spi=1";
  TSusiePluginOptionForm form(Option, orders, Tmp + "/default");
  form.Show();
  ASSERT_EQ(form.Name(0), "good.spi");
  EXPECT_TRUE(form.ConfigEnabled(0));
  EXPECT_EQ(form.Configure(0, nullptr), SPI_SUCCESS);  // the test plug-in accepts only function 1
  EXPECT_FALSE(form.ConfigEnabled(1));
  EXPECT_EQ(form.Configure(1, nullptr), SPI_NOT_IMPLEMENTED);
  EXPECT_FALSE(form.ConfigEnabled(7));
}

TEST_F(PluginDialog, ClosingReloadsTheProgramListsAndWritesTheConfigurationFile) {
  const TSPIOption savedOption = SPIOption;
  const TPluginOrders savedOrders = PluginOrders;
  SPIOption.SPIDirectory = Folder;
  SPIOption.ThreadSafeSPI = LongFalse;
  PluginOrders.SPIOrder = "error.spi=0,good.spi=1";
  PluginOrders.ArchiveSPIOrder = "axarchive.spi=1";
  const std::string cfg = Tmp + "/TessivoPlus.cfg";
  std::ofstream(cfg) << "[Other]\nKept=yes\n";
  EXPECT_TRUE(AfterPluginDialog(cfg, nullptr));
  ASSERT_EQ(ProgramSPIList().Count(), 1);
  EXPECT_EQ(ProgramSPIList().Items(0)->Name(), "good.spi");
  ASSERT_EQ(ProgramArchiveSPIList().Count(), 1);
  // The file is UTF-8 with section "SPI", the lines it already had kept.
  const TMemIniFile written(cfg);
  EXPECT_EQ(written.ReadString("SPI", "SPIDirectory", "?"), Folder);
  EXPECT_EQ(written.ReadString("SPI", "SPIOrder", ""), "error.spi=0,good.spi=1");
  EXPECT_EQ(written.ReadString("SPI", "ArchiveSPIOrder", ""), "axarchive.spi=1");
  EXPECT_EQ(written.ReadString("SPI", "ThreadSafeSPI", ""), "0");
  EXPECT_EQ(written.ReadString("Other", "Kept", ""), "yes");
  SPIOption = savedOption;
  PluginOrders = savedOrders;
}

TEST_F(PluginDialog, AWriteThatKeepsFailingAsksWhetherToTryAgain) {
  const std::string cfg = Tmp + "/missing-folder/TessivoPlus.cfg";
  int asked = 0;
  std::string error;
  EXPECT_FALSE(SavePluginSettings(cfg, Option, TPluginOrders{}, [&](const std::string &E) {
    error = E;
    return ++asked < 2;  // one more round of tries, then give up
  }));
  EXPECT_EQ(asked, 2);
  EXPECT_NE(error.find(cfg), std::string::npos) << error;
  // Once the folder is there the next try writes it.
  fs::create_directories(Tmp + "/missing-folder");
  EXPECT_TRUE(SavePluginSettings(cfg, Option, TPluginOrders{}, nullptr));
  EXPECT_TRUE(fs::exists(cfg));
}

TEST_F(PluginDialog, TheConfigurationFileWinsOverTheProfileWhenItExists) {
  TMemIniFile profile;
  profile.WriteString("SPI", "SPIDirectory", "/from/profile");
  profile.WriteString("SPI", "SPIOrder", "p.spi=1");
  profile.WriteString("SPI", "ThreadSafeSPI", "1");
  const std::string cfg = Tmp + "/TessivoPlus.cfg";
  struct TCase {
    bool CfgExists;
    const char *Folder;
    const char *Order;
    const char *ArchiveOrder;
    bool ThreadSafe;
  };
  for (const TCase c : {TCase{false, "/from/profile", "p.spi=1", "axarchive.spi=1", true},
                        TCase{true, "/from/cfg", "c.spi=0", "axarchive.spi=1", false}}) {
    SCOPED_TRACE(c.CfgExists);
    if (c.CfgExists) std::ofstream(cfg) << "\xEF\xBB\xBF[SPI]\nSPIDirectory=/from/cfg\nSPIOrder=c.spi=0\n";
    TSPIOption option;
    TPluginOrders orders;
    ReadPluginSettings(profile, cfg, "/prog", option, orders);
    EXPECT_EQ(option.SPIDirectory, c.Folder);
    EXPECT_EQ(orders.SPIOrder, c.Order);
    EXPECT_EQ(orders.ArchiveSPIOrder, c.ArchiveOrder);
    EXPECT_EQ(option.ThreadSafeSPI != LongFalse, c.ThreadSafe);
  }
  // An empty folder is the program folder's SusiePlugin.
  std::ofstream(cfg) << "[SPI]\nSPIDirectory=\n";
  TSPIOption option;
  TPluginOrders orders;
  ReadPluginSettings(profile, cfg, "/prog", option, orders);
  EXPECT_EQ(option.SPIDirectory, "/prog/SusiePlugin");
}
