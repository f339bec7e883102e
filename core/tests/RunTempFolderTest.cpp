// The per-run working folder on real folders: its name from the start time,
// its removal with everything in it (also from a signal handler, in a child
// process that the signal ends), and the retried deletion of working files.
#include "core/RunTempFolder.h"

#include "core/Errors.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class RunTempFolderTest : public ::testing::Test {
protected:
  void SetUp() override {
    char Tmpl[] = "/tmp/tessivo-runfolder-XXXXXX";
    ASSERT_NE(::mkdtemp(Tmpl), nullptr);
    Parent = Tmpl;
  }
  void TearDown() override { fs::remove_all(Parent); }

  // Fills Folder with what tools leave behind: files, a read-only file, a
  // nested folder, a symbolic link to a file outside (which must survive),
  // and more names than one directory read returns.
  void FillLikeATool(const std::string &Folder) {
    std::ofstream(Folder + "/srcbmp0.bmp") << "BM";
    std::ofstream(Folder + "/destbmp0.bmp") << "BM";
    std::ofstream(Folder + "/readonly.png") << "x";
    fs::permissions(Folder + "/readonly.png", fs::perms::owner_read);
    fs::create_directories(Folder + "/FLAXC1/deeper/still");
    std::ofstream(Folder + "/FLAXC1/FLAXC") << "tool";
    std::ofstream(Folder + "/FLAXC1/deeper/still/x") << "x";
    std::ofstream(Parent + "/outside.txt") << "keep";
    fs::create_symlink(Parent + "/outside.txt", Folder + "/link");
    fs::create_directory_symlink(Parent, Folder + "/dirlink");
    for (int i = 0; i < 300; ++i)
      std::ofstream(Folder + "/working-file-with-a-long-name-" + std::to_string(i) + ".tmp") << i;
  }

  std::string Parent;
};

}  // namespace

struct TNameCase {
  const char *Label;
  time_t Seconds;   // UTC
  long Nanoseconds;
  const char *Expected;
};

class RunTempFolderName_ : public ::testing::TestWithParam<TNameCase> {};

TEST_P(RunTempFolderName_, IsDayHourMinuteSecondMillisecondOfTheStartTime) {
  const char *OldTz = std::getenv("TZ");
  const std::string Saved = OldTz ? OldTz : "";
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  const TNameCase &C = GetParam();
  EXPECT_EQ(RunTempFolderName(timespec{C.Seconds, C.Nanoseconds}), C.Expected);
  if (OldTz) ::setenv("TZ", Saved.c_str(), 1);
  else ::unsetenv("TZ");
  ::tzset();
}

// The seconds were worked out with `date -u -d ... +%s`.
INSTANTIATE_TEST_SUITE_P(
    StartTimes, RunTempFolderName_,
    ::testing::Values(TNameCase{"EveningWithMilliseconds", 1796936708, 123000000, "TessivoPlus-10210508123"},
                      TNameCase{"EarlyMorningPadsEveryField", 1772499845, 7999999, "TessivoPlus-03010405007"},
                      TNameCase{"LastMillisecondOfTheDay", 1798761599, 999999999, "TessivoPlus-31235959999"}),
    [](const auto &Info) { return std::string(Info.param.Label); });

TEST_F(RunTempFolderTest, IsMadeUnderTheParentAndAnsweredWhileItLives) {
  std::string Path;
  {
    TRunTempFolder Folder(Parent);
    Path = Folder.Path();
    EXPECT_TRUE(fs::is_directory(Path));
    EXPECT_EQ(fs::path(Path).parent_path(), fs::path(Parent));
    EXPECT_EQ(fs::path(Path).filename().string().rfind("TessivoPlus-", 0), 0u) << Path;
    EXPECT_EQ(RunTempFolder(), Path);
    EXPECT_EQ(RunTempPath("srcbmp3.bmp"), Path + "/srcbmp3.bmp");
    EXPECT_EQ(fs::status(Path).permissions() & fs::perms::all, fs::perms::owner_all);
  }
  EXPECT_FALSE(fs::exists(Path));
  EXPECT_THROW(RunTempFolder(), ETessivoError);
}

TEST_F(RunTempFolderTest, IsRemovedWithEverythingInItButNothingLinkedFromIt) {
  std::string Path;
  {
    TRunTempFolder Folder(Parent);
    Path = Folder.Path();
    FillLikeATool(Path);
  }
  EXPECT_FALSE(fs::exists(Path));
  EXPECT_TRUE(fs::exists(Parent + "/outside.txt"));
}

TEST_F(RunTempFolderTest, RemovalFromASignalHandlerLeavesNothing) {
  // A child process makes the folder, fills it and is ended by a signal whose
  // handler removes the folder, as the program does on a second Ctrl+C.
  int Pipe[2];
  ASSERT_EQ(::pipe(Pipe), 0);
  const pid_t Child = ::fork();
  ASSERT_GE(Child, 0);
  if (Child == 0) {
    ::close(Pipe[0]);
    std::signal(SIGINT, [](int) {
      RemoveRunTempFolderNow();
      ::_exit(7);
    });
    auto *Folder = new TRunTempFolder(Parent);  // never destroyed: only the handler removes it
    FillLikeATool(Folder->Path());
    const std::string Path = Folder->Path() + "\n";
    if (::write(Pipe[1], Path.data(), Path.size()) < 0) ::_exit(2);
    for (;;) ::pause();
  }
  ::close(Pipe[1]);
  std::string Path;
  char c;
  while (::read(Pipe[0], &c, 1) == 1 && c != '\n') Path += c;
  ::close(Pipe[0]);
  ASSERT_FALSE(Path.empty());
  EXPECT_TRUE(fs::is_directory(Path));
  ::kill(Child, SIGINT);
  int Status = 0;
  ASSERT_EQ(::waitpid(Child, &Status, 0), Child);
  ASSERT_TRUE(WIFEXITED(Status));
  EXPECT_EQ(WEXITSTATUS(Status), 7);
  EXPECT_FALSE(fs::exists(Path));
  EXPECT_TRUE(fs::exists(Parent + "/outside.txt"));
}

TEST_F(RunTempFolderTest, OnlyOneLivesAtATime) {
  TRunTempFolder First(Parent);
  EXPECT_THROW(TRunTempFolder Second(Parent), ETessivoError);
  EXPECT_EQ(RunTempFolder(), First.Path());
}

TEST_F(RunTempFolderTest, AMissingParentIsRefusedWithTheReason) {
  try {
    TRunTempFolder Folder(Parent + "/no/such/folder");
    FAIL() << "made " << Folder.Path();
  } catch (const ETessivoError &E) {
    EXPECT_NE(std::string(E.what()).find(Parent + "/no/such/folder"), std::string::npos) << E.what();
  }
  EXPECT_THROW(RunTempFolder(), ETessivoError);
}

TEST_F(RunTempFolderTest, EarlyRemovalLeavesTheOwnerNothingToDo) {
  TRunTempFolder Folder(Parent);
  std::ofstream(Folder.Path() + "/a") << "a";
  RemoveRunTempFolderNow();
  EXPECT_FALSE(fs::exists(Folder.Path()));
  EXPECT_THROW(RunTempFolder(), ETessivoError);
  // A new folder may be made once the old one is gone; its removal does not
  // touch the first one's name.
  TRunTempFolder Next(Parent);
  EXPECT_TRUE(fs::is_directory(Next.Path()));
}

TEST(SystemTempFolder, FollowsTmpdirWhenItIsAFolder) {
  const char *Old = std::getenv("TMPDIR");
  const std::string Saved = Old ? Old : "";
  struct TCase {
    const char *Value;
    const char *Expected;
  };
  char Made[] = "/tmp/tessivo-tmpdir-XXXXXX";
  ASSERT_NE(::mkdtemp(Made), nullptr);
  const std::string WithSlash = std::string(Made) + "/";
  for (const TCase &C : {TCase{Made, Made}, TCase{WithSlash.c_str(), Made}, TCase{"/no/such/folder", "/tmp"},
                         TCase{"relative/folder", "/tmp"}, TCase{"", "/tmp"}}) {
    ::setenv("TMPDIR", C.Value, 1);
    EXPECT_EQ(SystemTempFolder(), C.Expected) << "TMPDIR=" << C.Value;
  }
  if (Old) ::setenv("TMPDIR", Saved.c_str(), 1);
  else ::unsetenv("TMPDIR");
  fs::remove_all(Made);
}

TEST_F(RunTempFolderTest, DeleteWorkFileRemovesAFileAndAcceptsOneThatIsGone) {
  const std::string File = Parent + "/destbmp1.bmp";
  std::ofstream(File) << "BM";
  EXPECT_TRUE(DeleteWorkFile(File));
  EXPECT_FALSE(fs::exists(File));
  EXPECT_TRUE(DeleteWorkFile(File));
}

TEST_F(RunTempFolderTest, DeleteWorkFileGivesUpOnWhatCannotBeUnlinked) {
  // A folder in the file's place can never be unlinked as a file, whoever runs the test.
  const std::string Blocker = Parent + "/srcpng0-nq8.png";
  fs::create_directories(Blocker + "/inside");
  EXPECT_FALSE(DeleteWorkFile(Blocker));
  EXPECT_TRUE(fs::is_directory(Blocker));
}
