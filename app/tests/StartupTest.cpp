// The window program's command line, the decision for an unattended run, the
// display check and the start-up sequence with a missing library.
#include "app/Startup.h"
#include "app/SettingsFile.h"
#include "batch/ConvertOption.h"
#include "batch/FileNameTemplate.h"
#include "core/RunTempFolder.h"
#include "testutil/TestEnv.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

namespace fs = std::filesystem;

namespace {

class Startup : public ::testing::Test {
protected:
  void SetUp() override {
    char Tmpl[] = "/tmp/tessivo-startup-XXXXXX";
    Dir = ::mkdtemp(Tmpl);
    ::setenv("TESSIVOPLUS_DATA", (Dir + "/data").c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("TESSIVOPLUS_DATA");
    fs::remove_all(Dir);
  }
  std::string Dir;
};

// An environment variable set for one scope and put back after it.
class TScopedEnv {
public:
  TScopedEnv(const char *Name, const char *Value) : FName(Name) {
    if (const char *Old = std::getenv(Name)) FOld = Old;
    if (Value) {
      ::setenv(Name, Value, 1);
    } else {
      ::unsetenv(Name);
    }
  }
  ~TScopedEnv() {
    if (FOld) {
      ::setenv(FName, FOld->c_str(), 1);
    } else {
      ::unsetenv(FName);
    }
  }

private:
  const char *FName;
  std::optional<std::string> FOld;
};

}  // namespace

TEST_F(Startup, CommandLineSwitchesAndPaths) {
  const TWindowCommandLine C = ParseWindowCommandLine(
      {"/INI=first.ini", "a.jpg", "--ini=web.ini", "/list=todo.txt", "/abs/b.png", "sub/../c.tif", "/List=\"l2.txt\""},
      "/home/u");
  EXPECT_TRUE(C.HasIni);
  EXPECT_EQ(C.Ini, "web.ini");  // the last one counts
  EXPECT_TRUE(C.HasList);
  EXPECT_EQ(C.ListFile, "/home/u/l2.txt");  // quotes around the value go
  EXPECT_EQ(C.Paths, (std::vector<std::string>{"/home/u/a.jpg", "/abs/b.png", "/home/u/c.tif"}));
  EXPECT_EQ(C.Args.size(), 7u);  // all of them, for a hand-over
  EXPECT_EQ(CurrentSettingsFileOf(C), SettingsFolder() + "web.ini");
  EXPECT_EQ(CurrentSettingsFileOf(ParseWindowCommandLine({"x.jpg"}, "/")), DefaultSettingsFile());
}

struct TAtOnceCase {
  const char *Name;
  std::vector<std::string> Args;
  bool AtOnceInProfile;
  bool AtOnceRun;
};
void PrintTo(const TAtOnceCase &C, std::ostream *Os) { *Os << C.Name; }

class AtOnceRun : public Startup, public ::testing::WithParamInterface<TAtOnceCase> {};

TEST_P(AtOnceRun, IsDecidedByTheArgumentsAndTheProfile) {
  const TAtOnceCase &C = GetParam();
  CreateDataFolders();
  std::ofstream(SettingsFolder() + "a.ini") << "[File]\nAtOnce=" << (C.AtOnceInProfile ? 1 : 0) << "\n";
  std::ofstream(DefaultSettingsFile()) << "[File]\nAtOnce=0\n";
  const TWindowCommandLine Cmd = ParseWindowCommandLine(C.Args, Dir);
  EXPECT_EQ(IsAtOnceRun(Cmd, ReadEarlySettings(CurrentSettingsFileOf(Cmd))), C.AtOnceRun);
}

INSTANTIATE_TEST_SUITE_P(
    Startup, AtOnceRun,
    ::testing::Values(TAtOnceCase{"FilesWithAnAtOnceProfile", {"/ini=a.ini", "p.jpg"}, true, true},
                      TAtOnceCase{"FilesWithoutAtOnce", {"/ini=a.ini", "p.jpg"}, false, false},
                      TAtOnceCase{"OnlyTheProfileOpensTheWindow", {"/ini=a.ini"}, true, false},
                      TAtOnceCase{"AListFileIsSomethingToConvert", {"/ini=a.ini", "/list=l.txt"}, true, true},
                      TAtOnceCase{"TheDefaultProfileDecidesWithoutIni", {"p.jpg"}, true, false},
                      TAtOnceCase{"NoArgumentsAtAll", {}, true, false}),
    [](const ::testing::TestParamInfo<TAtOnceCase> &I) { return std::string(I.param.Name); });

TEST_F(Startup, EarlySettingsOfAMissingOrBrokenFileAreDefaults) {
  const TEarlySettings Missing = ReadEarlySettings(Dir + "/none.ini");
  EXPECT_FALSE(Missing.Multiple);
  EXPECT_FALSE(Missing.AtOnce);
  std::ofstream(Dir + "/m.ini") << "[System]\nMultiple=1\nMemReserve=1\n";
  const TEarlySettings M = ReadEarlySettings(Dir + "/m.ini");
  EXPECT_TRUE(M.Multiple);
  EXPECT_TRUE(M.MemReserve);
  fs::create_directory(Dir + "/folder.ini");
  EXPECT_FALSE(ReadEarlySettings(Dir + "/folder.ini").Multiple);
}

TEST_F(Startup, InputPathsAreTheArgumentsThenTheListLines) {
  std::ofstream(Dir + "/l.txt") << "one.jpg\n\n/abs/two.png\n";
  const TWindowCommandLine Cmd = ParseWindowCommandLine({"x.jpg", "/list=l.txt"}, Dir);
  EXPECT_EQ(InputPathsOf(Cmd, Dir), (std::vector<std::string>{Dir + "/x.jpg", Dir + "/one.jpg", "/abs/two.png"}));
  const TWindowCommandLine Missing = ParseWindowCommandLine({"/list=none.txt"}, Dir);
  EXPECT_TRUE(InputPathsOf(Missing, Dir).empty());
}

struct TDisplayCase {
  const char *Name;
  const char *Platform;
  const char *Display;
  const char *Wayland;
  bool Available;
};
void PrintTo(const TDisplayCase &C, std::ostream *Os) { *Os << C.Name; }

class Display : public ::testing::TestWithParam<TDisplayCase> {};

TEST_P(Display, IsAvailableOnlyWhenOneCanBeOpened) {
  const TDisplayCase &C = GetParam();
  TScopedEnv P("QT_QPA_PLATFORM", C.Platform), D("DISPLAY", C.Display), W("WAYLAND_DISPLAY", C.Wayland);
  EXPECT_EQ(DisplayAvailable(), C.Available);
}

INSTANTIATE_TEST_SUITE_P(
    Startup, Display,
    ::testing::Values(TDisplayCase{"Offscreen", "offscreen", ":0", nullptr, false},
                      TDisplayCase{"NothingNamed", nullptr, nullptr, nullptr, false},
                      // No X server listens on display 99 while the tests run.
                      TDisplayCase{"ALocalDisplayNobodyServes", nullptr, ":99", nullptr, false},
                      TDisplayCase{"ARemoteDisplayIsLeftToTheToolkit", nullptr, "remotehost:0", nullptr, true},
                      TDisplayCase{"Wayland", nullptr, nullptr, "wayland-0", true}),
    [](const ::testing::TestParamInfo<TDisplayCase> &I) { return std::string(I.param.Name); });

TEST_F(Startup, AMissingCodecLibraryIsReportedAndEndsTheStart) {
  // This test binary's own folder has no bin/libpixio.so beside it.
  std::vector<std::string> Errors;
  TStartupHooks Hooks;
  Hooks.LoadLibraryError = [&](const std::string &Text) { Errors.push_back(Text); };
  Hooks.UnsupportedProcessor = [&](const std::string &Text) { Errors.push_back("cpu: " + Text); };
  TStartupTimes Times;
  EXPECT_FALSE(InitApp(Hooks, &Times));
  ASSERT_EQ(Errors.size(), 1u);
  EXPECT_NE(Errors[0].find("LoadLibrary Error"), std::string::npos) << Errors[0];
  EXPECT_NE(Errors[0].find("libpixio.so"), std::string::npos) << Errors[0];
  // The folders were made before the libraries were asked for.
  for (const char *Sub : {"ini", "ToneCurve", "Levels", "LumaQT", "ChromaQT"})
    EXPECT_TRUE(fs::is_directory(Dir + "/data/" + Sub)) << Sub;
  DoneApp();
  DoneApp();
}

TEST(StartupProcessor, TheCheckPassesWhereverTheProgramWasBuilt) {
  // x86-64 has SSE2 by definition and other processors run the plain paths.
  EXPECT_TRUE(ProcessorSupported());
  EXPECT_STREQ(UnsupportedProcessorText, "非対応CPUです");
}

TEST_F(Startup, WithItsLibrariesTheStartSucceedsAndSaysHowLongEachStageTook) {
  const std::string Bin = TESSIVO_BIN_DIR;
  TESSIVO_REQUIRE(!testenv::BinFile("libpixio.so").empty() && !testenv::BinFile("libresize.so").empty())
      << "no run-time libraries in " << Bin;
  std::vector<std::string> Said;
  TStartupHooks Hooks;
  Hooks.LoadLibraryError = Hooks.Warning = Hooks.UnsupportedProcessor = [&](const std::string &T) { Said.push_back(T); };
  TStartupTimes Times;
  Times.Libraries = -1;
  ASSERT_TRUE(InitApp(Hooks, &Times, Bin));
  EXPECT_TRUE(Said.empty()) << Said.front();
  EXPECT_GE(Times.Libraries, 0);
  EXPECT_GE(SystemOption.ProcessorCount, 1);
  EXPECT_EQ(LookUpConvertMap("未定義"), ".jpg");  // the conversion table exists before any settings are read
  const std::string Work = RunTempFolder();
  EXPECT_NE(Work.find("/TessivoPlus-"), std::string::npos) << Work;
  std::ofstream(Work + "/left-behind.tmp") << "x";
  DoneApp();
  EXPECT_FALSE(fs::exists(Work)) << "the working folder goes with its contents";
}

TEST_F(Startup, TheTerminalRunTakesTheSameProfileAndInputs) {
  const TWindowCommandLine Cmd =
      ParseWindowCommandLine({"/ini=a.ini", "--looks-like-an-option", "/list=l.txt", "b.jpg"}, "/w");
  const std::vector<std::string> Args = TerminalRunArguments(Cmd);
  ASSERT_GE(Args.size(), 1u);
  EXPECT_EQ(Args[0].substr(Args[0].size() - 8), "/tessivo");
  EXPECT_EQ(std::vector<std::string>(Args.begin() + 1, Args.end()),
            (std::vector<std::string>{"/ini=a.ini", "/list=/w/l.txt", "--", "/w/--looks-like-an-option", "/w/b.jpg"}));
}
