// Launchers with their own profiles: the naming and overwrite rules of the
// shortcut dialog, the record of launchers made, and the Exec line as GLib's
// own launcher (gio launch) reads it.
#include "app/Shortcut.h"
#include "app/tests/ProfileSandbox.h"
#include "app/SettingsFile.h"
#include "batch/BatchObjects.h"
#include "batch/ConvertOption.h"
#include "core/IniFile.h"
#include "effects/Effect.h"
#include "testutil/OutsideTool.h"
#include "testutil/TestEnv.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

std::string ReadText(const std::string &Path) {
  std::ifstream In(Path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
}

class Shortcut : public TProfileSandbox {
protected:
  void SetUp() override {
    // The desktop named by the user-dirs file, below a home of the test's own.
    char Tmpl[] = "/tmp/tessivo-shortcut-home-XXXXXX";
    Home = ::mkdtemp(Tmpl);
    OldHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    ::setenv("HOME", Home.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (Home + "/config").c_str(), 1);
    fs::create_directories(Home + "/config");
    std::ofstream(Home + "/config/user-dirs.dirs") << "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n";
    fs::create_directories(Home + "/Schreibtisch");
    TProfileSandbox::SetUp();
  }
  void TearDown() override {
    TProfileSandbox::TearDown();
    ::unsetenv("XDG_CONFIG_HOME");
    ::setenv("HOME", OldHome.c_str(), 1);
    fs::remove_all(Home);
  }
  TShortcutResult Create(const TShortcutRequest &R, bool Answer, int *Asked = nullptr) {
    std::string Error;
    const TShortcutResult Result = CreateShortcut(R, "/opt/tp/TessivoPlus", "/opt/tp/TessivoPlus.svg", Effects,
                                                  [&](const std::string &Question) {
                                                    LastQuestion = Question;
                                                    if (Asked) ++*Asked;
                                                    return Answer;
                                                  },
                                                  Error);
    EXPECT_TRUE(Error.empty()) << Error;
    return Result;
  }
  std::string Home, OldHome, LastQuestion;
};

}  // namespace

TEST_F(Shortcut, PlacesAreTheDesktopOfUserDirsAndTheApplicationsFolder) {
  EXPECT_EQ(DesktopFolder(), Home + "/Schreibtisch");
  EXPECT_EQ(SendToFolder(), Dir + "/xdg/applications");
  TShortcutRequest R;
  R.Name = "photo";
  R.Desktop = true;
  EXPECT_EQ(ShortcutPathOf(R), Home + "/Schreibtisch/photo.desktop");
  R.Desktop = false;
  EXPECT_EQ(ShortcutPathOf(R), Dir + "/xdg/applications/photo.desktop");
  EXPECT_EQ(ShortcutRecordFile(), Dir + "/data/ShortCutFiles.dat");
}

TEST_F(Shortcut, CreatedTwiceWithSavedSettingsReplacesItsOwnProfile) {
  TShortcutRequest R;
  R.Name = "photo";
  R.Desktop = true;
  R.AtOnce = true;
  const std::string Launcher = Home + "/Schreibtisch/photo.desktop";
  const std::string Profile = SettingsFolder() + "photo.ini";

  ASSERT_EQ(Create(R, true), TShortcutResult::Created);
  ASSERT_TRUE(fs::exists(Profile));
  EXPECT_EQ(DesktopEntryArguments(Launcher), (std::vector<std::string>{"/ini=photo.ini"}));
  EXPECT_TRUE(TMemIniFile(Profile).ReadBool("File", "AtOnce", false)) << "the launcher's profile converts at once";
  EXPECT_FALSE(FileOption.AtOnce) << "the current settings keep their own AtOnce";
  EXPECT_NE(fs::status(Launcher).permissions() & fs::perms::owner_exec, fs::perms::none);
  // Mark the first profile, so that its replacement can be told apart.
  std::ofstream(Profile, std::ios::app) << "[Mark]\nfirst=1\n";

  // The second time the overwrite is asked; declined, nothing changes.
  int Asked = 0;
  EXPECT_EQ(Create(R, false, &Asked), TShortcutResult::Declined);
  EXPECT_EQ(Asked, 1);
  EXPECT_EQ(LastQuestion, Launcher + " は既に存在します。\r\n上書きしますか？");
  EXPECT_TRUE(TMemIniFile(Profile).ValueExists("Mark", "first"));

  // Confirmed, the old launcher's photo.ini goes first and photo.ini is written again.
  EXPECT_EQ(Create(R, true), TShortcutResult::Created);
  EXPECT_FALSE(TMemIniFile(Profile).ValueExists("Mark", "first"));
  EXPECT_FALSE(fs::exists(SettingsFolder() + "photo[1].ini"));
  EXPECT_EQ(DesktopEntryArguments(Launcher), (std::vector<std::string>{"/ini=photo.ini"}));
  // Recorded once.
  EXPECT_EQ(ReadText(ShortcutRecordFile()), Launcher + "\n");
}

TEST_F(Shortcut, AProfileNoLauncherOwnsIsKeptAndTheNewOneIsNumbered) {
  std::ofstream(SettingsFolder() + "photo.ini") << "[JPEG]\nQuality=33\n";
  std::ofstream(SettingsFolder() + "photo[1].ini") << "[JPEG]\nQuality=34\n";
  TShortcutRequest R;
  R.Name = "photo";
  ASSERT_EQ(Create(R, true), TShortcutResult::Created);
  EXPECT_EQ(TMemIniFile(SettingsFolder() + "photo.ini").ReadInteger("JPEG", "Quality", 0), 33);
  EXPECT_EQ(TMemIniFile(SettingsFolder() + "photo[1].ini").ReadInteger("JPEG", "Quality", 0), 34);
  ASSERT_TRUE(fs::exists(SettingsFolder() + "photo[2].ini"));
  EXPECT_EQ(DesktopEntryArguments(Dir + "/xdg/applications/photo.desktop"),
            (std::vector<std::string>{"/ini=photo[2].ini"}));
}

struct TOldLauncherCase {
  const char *Name;
  const char *ExecArgs;    // what the existing launcher passes
  const char *Profile;     // a file in the settings folder
  bool ProfileDeleted;
};
void PrintTo(const TOldLauncherCase &C, std::ostream *Os) { *Os << C.Name; }

class OverwrittenLauncher : public Shortcut, public ::testing::WithParamInterface<TOldLauncherCase> {};

TEST_P(OverwrittenLauncher, DeletesOnlyTheProfileItNamed) {
  const TOldLauncherCase &C = GetParam();
  std::ofstream(SettingsFolder() + C.Profile) << "[JPEG]\nQuality=1\n";
  std::ofstream(Dir + "/keep.ini") << "x";
  const std::string Launcher = Dir + "/xdg/applications/old.desktop";
  std::ofstream(Launcher) << "[Desktop Entry]\nType=Application\nName=old\nExec=/opt/tp/TessivoPlus " << C.ExecArgs
                          << " %F\n";
  TShortcutRequest R;
  R.Name = "old";
  R.MakeIni = false;
  ASSERT_EQ(Create(R, true), TShortcutResult::Created);
  EXPECT_EQ(!fs::exists(SettingsFolder() + C.Profile), C.ProfileDeleted);
  EXPECT_TRUE(fs::exists(Dir + "/keep.ini"));
  EXPECT_TRUE(DesktopEntryArguments(Launcher).empty()) << "without saved settings the launcher has no arguments";
}

INSTANTIATE_TEST_SUITE_P(
    Shortcut, OverwrittenLauncher,
    ::testing::Values(TOldLauncherCase{"QuotedProfile", "\"/ini=old.ini\"", "old.ini", true},
                      TOldLauncherCase{"UnquotedProfile", "/ini=old.ini", "old.ini", true},
                      TOldLauncherCase{"TheDefaultProfileStays", "/ini=TessivoPlus.ini", "TessivoPlus.ini", false},
                      TOldLauncherCase{"APathOutsideTheSettingsFolderStays", "\"/ini=../../keep.ini\"", "other.ini",
                                       false},
                      TOldLauncherCase{"NoProfileNamed", "", "old.ini", false}),
    [](const ::testing::TestParamInfo<TOldLauncherCase> &I) { return std::string(I.param.Name); });

TEST_F(Shortcut, AnEmptyNameCreatesNothing) {
  TShortcutRequest R;
  R.Name = "";
  EXPECT_EQ(Create(R, true), TShortcutResult::Declined);
  EXPECT_TRUE(fs::is_empty(Dir + "/xdg/applications"));
  EXPECT_FALSE(fs::exists(ShortcutRecordFile()));
}

TEST_F(Shortcut, GLibsLauncherPassesTheArgumentsAndTheDroppedFilesAsWritten) {
  TESSIVO_REQUIRE(!testenv::Capture("command -v gio").empty()) << "gio (libglib2.0-bin)";
  // A stand-in program that writes its arguments one a line.
  const std::string Program = Dir + "/args recorder";
  std::ofstream(Program) << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$0.out.tmp\"\n"
                            "mv \"$0.out.tmp\" \"$0.out\"\n";
  fs::permissions(Program, fs::perms::owner_all);
  const std::vector<std::string> Args = {"/ini=写真 $HOME `x` \"q\" 100% back\\slash.ini", "--list=a b"};
  const std::string Launcher = Dir + "/xdg/applications/t.desktop";
  std::ofstream(Launcher) << DesktopEntryText("t", Program, Args, "");
  EXPECT_EQ(DesktopEntryArguments(Launcher), Args);
  const std::string Dropped = Dir + "/dropped file.jpg";
  std::ofstream(Dropped) << "";
  ASSERT_EQ(std::system(("gio launch " + testenv::ShellQuoted(Launcher) + " " + testenv::ShellQuoted(Dropped) +
                         " >/dev/null 2>&1")
                            .c_str()),
            0);
  // The program runs on its own after gio returns.
  for (int i = 0; i < 200 && !fs::exists(Program + ".out"); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(25));
  EXPECT_EQ(ReadText(Program + ".out"), Args[0] + "\n" + Args[1] + "\n" + Dropped + "\n");
}
