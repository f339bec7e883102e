// The real window program from the outside: the settings it leaves at exit,
// a later instance handing its files to the running one, "/ini=" alone, and
// a launcher's unattended conversion with and without a display. The window
// runs on the offscreen platform (or under xvfb-run); whether a main window
// is up is asked through the hand-over socket, which only a main window
// answers; an unattended run shows that it opened none by ending on its own.
#include "app/SettingsFile.h"
#include "app/Shortcut.h"
#include "app/SingleInstance.h"
#include "app/tests/RunTessivo.h"
#include "batch/BatchObjects.h"
#include "batch/ConvertOption.h"
#include "batch/SamplePhotos.h"
#include "core/IniFile.h"
#include "effects/Effect.h"
#include "io/Pixio.h"
#include "testutil/OutsideTool.h"
#include "testutil/TestEnv.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace fs = std::filesystem;
using testrun::ReadFile;
using testrun::TRunPlace;
using testrun::WaitUntil;

namespace {

const std::string &WindowProgram() {
  static const std::string Path = std::string(TESSIVO_BIN_DIR) + "/../TessivoPlus";
  return Path;
}

QCoreApplication &App() {
  static int Argc = 1;
  static char Name[] = "window_start_tests";
  static char *Argv[] = {Name, nullptr};
  static QCoreApplication A(Argc, Argv);
  return A;
}

class WindowStart : public ::testing::Test {
protected:
  static void SetUpTestSuite() { LoadPixio(std::string(TESSIVO_BIN_DIR) + "/libpixio.so"); }
  static void TearDownTestSuite() { FreePixio(); }
  void SetUp() override {
    App();
    char Tmpl[] = "/tmp/tessivo-window-start-XXXXXX";
    Dir = ::mkdtemp(Tmpl);
    for (const char *Sub : {"/data/ini", "/xdg/applications", "/p", "/run"}) fs::create_directories(Dir + Sub);
    ::chmod((Dir + "/run").c_str(), 0700);
    // This process computes the same socket name as the program it starts.
    ::setenv("TESSIVOPLUS_DATA", (Dir + "/data").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (Dir + "/run").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (Dir + "/xdg").c_str(), 1);
  }
  void TearDown() override {
    for (const pid_t Pid : Started) {
      ::kill(Pid, SIGKILL);
      ::waitpid(Pid, nullptr, 0);
    }
    for (const char *Name : {"TESSIVOPLUS_DATA", "XDG_RUNTIME_DIR", "XDG_DATA_HOME"}) ::unsetenv(Name);
    fs::remove_all(Dir);
  }

  TRunPlace Place(const std::string &ErrName, bool Offscreen = true) {
    TRunPlace P = testrun::IsolatedPlace(Dir, ErrName);
    P.Env.push_back("XDG_RUNTIME_DIR=" + Dir + "/run");
    if (Offscreen) P.Env.push_back("QT_QPA_PLATFORM=offscreen");
    return P;
  }
  pid_t Start(const std::vector<std::string> &Args, const TRunPlace &P) {
    const pid_t Pid = testrun::StartProgram(WindowProgram(), Args, P);
    if (Pid > 0) Started.push_back(Pid);
    return Pid;
  }
  // Waits for a started program to end; -1 when it is still running after Limit.
  int WaitExit(pid_t Pid, std::chrono::seconds Limit) {
    int Status = -1;
    const bool Ended = WaitUntil([&] { return ::waitpid(Pid, &Status, WNOHANG) == Pid; }, Limit);
    if (!Ended) return -1;
    std::erase(Started, Pid);
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : 128 + WTERMSIG(Status);
  }
  // Whether a main window answers on the hand-over socket.
  static bool MainWindowUp(std::chrono::seconds Limit) {
    return WaitUntil([] { return TSingleInstance::HandOver({}, 1000) == TSingleInstance::THandOver::Delivered; },
                     Limit);
  }
  std::string Photo(const std::string &Name, uint32_t Seed) {
    TSamplePhotoSpec Desc;
    Desc.Width = 640;
    Desc.Height = 480;
    Desc.Seed = Seed;
    const std::string Path = Dir + "/p/" + Name;
    WriteSamplePhoto(Path, Desc);
    return Path;
  }
  void Profile(const std::string &Name, const std::string &Text) {
    std::ofstream(Dir + "/data/ini/" + Name, std::ios::binary) << Text;
  }
  // The size ImageMagick reads from an output, "WxH".
  static std::string SizeOf(const std::string &Path) {
    return testenv::Capture("identify -format '%wx%h' " + testenv::ShellQuoted(Path));
  }

  std::string Dir;
  std::vector<pid_t> Started;
};

// Keys older versions wrote, read only while their successor is missing.
bool IsLegacyKey(const std::string &Section, const std::string &Key) {
  return (Section == "Bitmap" && Key == "AlphaCheckStrict") || (Section == "WEMB" && Key == "Optimize") ||
         (Section == "WEMB" && Key == "Progressizve") || (Section == "Combine" && Key == "FillBlank") ||
         (Section == "AddText" && Key == "Position");
}

constexpr const char *SmallProfile = "[File]\nAtOnce=1\nFileNameFormat=out/<old>\n[Resize]\nRule=1\nSize1=100,200\n";

}  // namespace

TEST_F(WindowStart, FirstStartWritesACompleteSettingsFileAtExit) {
  TESSIVO_REQUIRE(fs::exists(WindowProgram())) << WindowProgram();
  const TRunPlace P = Place("first.txt");
  const pid_t Pid = Start({}, P);
  ASSERT_TRUE(MainWindowUp(std::chrono::seconds(60))) << ReadFile(P.ErrPath);
  ::kill(Pid, SIGTERM);  // closes the window as its close box would
  ASSERT_EQ(WaitExit(Pid, std::chrono::seconds(60)), 0) << ReadFile(P.ErrPath);

  const std::string Path = Dir + "/data/ini/TessivoPlus.ini";
  const std::string Bytes = ReadFile(Path);
  ASSERT_EQ(Bytes.compare(0, 3, "\xEF\xBB\xBF"), 0) << "UTF-8 with a byte-order mark";
  const TMemIniFile Saved(Path);
  const TMemIniFile Cfg(Dir + "/data/ini/TessivoPlus.cfg");
  // The steps this installation offers, as the program makes its chain.
  TEffectList Offered;
  CreateDefaultEffects(Offered, TESSIVO_BIN_DIR);
  auto Offers = [&](const std::string &Section) {
    for (int32_t i = 0; i < Offered.Count(); ++i)
      if (Offered[i]->SectionName() == Section) return true;
    return false;
  };
  TEffectList All;
  CreateDefaultEffects(All, TESSIVO_BIN_DIR, true);
  std::vector<std::string> StepSections;
  for (int32_t i = 0; i < All.Count(); ++i) StepSections.push_back(All[i]->SectionName());
  size_t Checked = 0;
  for (const TIniKeyRead &R : KeysTheReadersRead()) {
    if (IsLegacyKey(R.Section, R.Ident) || (R.Section == "System" && R.Ident == "MemoryBudgetMB")) continue;
    const bool IsStep = std::find(StepSections.begin(), StepSections.end(), R.Section) != StepSections.end();
    if (IsStep && !Offers(R.Section)) continue;  // a step whose library or tool is not installed
    if (R.Section == "SPI" && R.Ident != "ConvertTo") {
      EXPECT_TRUE(Cfg.ValueExists(R.Section, R.Ident)) << R.Ident << " belongs in TessivoPlus.cfg";
      continue;
    }
    EXPECT_TRUE(Saved.ValueExists(R.Section, R.Ident)) << R.Section << "." << R.Ident << " is missing";
    ++Checked;
  }
  EXPECT_GT(Checked, 300u);
  for (const char *Section : {"Window", "ListView", "ThumbnailWindow", "Dir", "Font", "Dialog", "ShortCut"})
    EXPECT_TRUE(Saved.SectionExists(Section)) << Section;
  EXPECT_GE(Saved.ReadInteger("Window", "ClientWidth", 0), 1) << "the window's own size";
}

TEST_F(WindowStart, ANonDefaultProfileIsLeftUnchangedAtExit) {
  TESSIVO_REQUIRE(fs::exists(WindowProgram())) << WindowProgram();
  const std::string Original = "; hand-written\r\n[JPEG]\r\nQuality=70\r\n[File]\r\nAtOnce=1\r\n[Window]\r\nLeft=5\r\n";
  Profile("web.ini", Original);
  const TRunPlace P = Place("web.txt");
  const pid_t Pid = Start({"/ini=web.ini"}, P);
  // "/ini=" alone opens the main window even though the profile converts at once.
  ASSERT_TRUE(MainWindowUp(std::chrono::seconds(60))) << ReadFile(P.ErrPath);
  ::kill(Pid, SIGTERM);
  ASSERT_EQ(WaitExit(Pid, std::chrono::seconds(60)), 0) << ReadFile(P.ErrPath);
  EXPECT_EQ(ReadFile(Dir + "/data/ini/web.ini"), Original);
  EXPECT_FALSE(fs::exists(Dir + "/data/ini/TessivoPlus.ini")) << "the default profile is not touched";
  EXPECT_TRUE(fs::exists(Dir + "/data/ini/TessivoPlus.cfg"));
}

TEST_F(WindowStart, ALaterInstanceHandsItsFilesToTheRunningWindow) {
  TESSIVO_REQUIRE(fs::exists(WindowProgram())) << WindowProgram();
  TESSIVO_REQUIRE(testenv::HaveImageMagick()) << "ImageMagick (identify)";
  Profile("a.ini", SmallProfile);                 // the running window converts what it is given
  Profile("b.ini", "[File]\nAtOnce=0\n");         // the later start alone would only list them
  Photo("one.jpg", 1);
  Photo("two.jpg", 2);
  const TRunPlace First = Place("first.txt");
  const pid_t Running = Start({"/ini=a.ini"}, First);
  ASSERT_TRUE(MainWindowUp(std::chrono::seconds(60))) << ReadFile(First.ErrPath);

  // Relative paths, made absolute by the later instance before it hands them over.
  const TRunPlace Later = Place("later.txt");
  const pid_t Second = Start({"/ini=b.ini", "one.jpg", "two.jpg"}, Later);
  EXPECT_EQ(WaitExit(Second, std::chrono::seconds(60)), 0) << "the later instance ends: " << ReadFile(Later.ErrPath);
  const auto Converted = [&] {
    return fs::exists(Dir + "/p/out/one.jpg") && fs::exists(Dir + "/p/out/two.jpg");
  };
  ASSERT_TRUE(WaitUntil(Converted, std::chrono::seconds(120))) << ReadFile(First.ErrPath);
  EXPECT_EQ(SizeOf(Dir + "/p/out/one.jpg"), "200x150");
  EXPECT_EQ(SizeOf(Dir + "/p/out/two.jpg"), "200x150");
  EXPECT_TRUE(MainWindowUp(std::chrono::seconds(5))) << "the running window is still there";
  ::kill(Running, SIGTERM);
  EXPECT_EQ(WaitExit(Running, std::chrono::seconds(60)), 0);
}

TEST_F(WindowStart, WithMultipleOnALaterStartOpensItsOwnWindow) {
  TESSIVO_REQUIRE(fs::exists(WindowProgram())) << WindowProgram();
  Profile("m.ini", "[System]\nMultiple=1\n");
  const pid_t Running = Start({"/ini=m.ini"}, Place("first.txt"));
  ASSERT_TRUE(MainWindowUp(std::chrono::seconds(60)));
  TRunPlace P = Place("second.txt");
  P.Env.push_back("TESSIVOPLUS_STARTUP_TIMES=1");  // says when its main window is shown
  const pid_t Second = Start({"/ini=m.ini", Photo("one.jpg", 5)}, P);
  EXPECT_TRUE(WaitUntil([&] { return ReadFile(P.ErrPath).find("startup shown") != std::string::npos; },
                        std::chrono::seconds(60)))
      << ReadFile(P.ErrPath);
  ::kill(Second, SIGTERM);
  ::kill(Running, SIGTERM);
  EXPECT_EQ(WaitExit(Second, std::chrono::seconds(60)), 0);
  EXPECT_EQ(WaitExit(Running, std::chrono::seconds(60)), 0);
}

struct TUnattendedCase {
  const char *Name;
  bool Display;  // under xvfb-run, else with no display at all
};
void PrintTo(const TUnattendedCase &C, std::ostream *Os) { *Os << C.Name; }

class LauncherAtOnce : public WindowStart, public ::testing::WithParamInterface<TUnattendedCase> {};

TEST_P(LauncherAtOnce, ConvertsAndEndsWithoutAMainWindow) {
  const TUnattendedCase &C = GetParam();
  TESSIVO_REQUIRE(fs::exists(WindowProgram())) << WindowProgram();
  TESSIVO_REQUIRE(testenv::HaveImageMagick()) << "ImageMagick (identify)";
  if (C.Display) TESSIVO_REQUIRE(!testenv::Capture("command -v xvfb-run").empty()) << "xvfb-run (xvfb)";
  // The launcher is made as the shortcut dialog makes it, from these settings.
  Profile("TessivoPlus.ini", "[File]\nFileNameFormat=out/<old>\n[Resize]\nRule=1\nSize1=100,200\n");
  SystemOption.ProcessorCount = 2;
  CreateBatchObjects(2);
  TEffectList Effects;
  CreateDefaultEffects(Effects, TESSIVO_BIN_DIR);
  LoadIniFile(DefaultSettingsFile(), Effects);
  TShortcutRequest R;
  R.Name = "small";
  R.AtOnce = true;
  std::string Error;
  ASSERT_EQ(CreateShortcut(R, WindowProgram(), "", Effects, {}, Error), TShortcutResult::Created) << Error;
  FreeBatchObjects();
  std::vector<std::string> Args = DesktopEntryArguments(Dir + "/xdg/applications/small.desktop");
  ASSERT_EQ(Args, (std::vector<std::string>{"/ini=small.ini"}));

  Photo("one.jpg", 3);
  Photo("two.jpg", 4);
  // The files dropped on the launcher follow its own arguments.
  Args.push_back(Dir + "/p/one.jpg");
  Args.push_back(Dir + "/p/two.jpg");
  TRunPlace P = Place("run.txt", false);
  pid_t Pid;
  if (C.Display) {
    Args.insert(Args.begin(), {"-a", "-s", "-screen 0 1280x800x24", WindowProgram()});
    Pid = testrun::StartProgram("/usr/bin/xvfb-run", Args, P);
  } else {
    Pid = testrun::StartProgram(WindowProgram(), Args, P);
  }
  ASSERT_GT(Pid, 0);
  Started.push_back(Pid);
  // A main window would keep the program running until someone closed it.
  EXPECT_EQ(WaitExit(Pid, std::chrono::seconds(180)), 0) << ReadFile(P.ErrPath);
  EXPECT_EQ(SizeOf(Dir + "/p/out/one.jpg"), "200x150");
  EXPECT_EQ(SizeOf(Dir + "/p/out/two.jpg"), "200x150");
  if (!C.Display) EXPECT_NE(ReadFile(P.ErrPath).find("2 of 2 files converted"), std::string::npos) << ReadFile(P.ErrPath);
}

INSTANTIATE_TEST_SUITE_P(WindowStart, LauncherAtOnce,
                         ::testing::Values(TUnattendedCase{"WithoutADisplay", false},
                                           TUnattendedCase{"UnderXvfb", true}),
                         [](const ::testing::TestParamInfo<TUnattendedCase> &I) { return std::string(I.param.Name); });
