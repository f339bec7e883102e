// File steps of the worker on real files in a temporary folder: moves that
// never replace, copies through a temporary file, output times, the Trash
// and folder removal; and the post-run command line and its folders.
#include "batch/ExternalTool.h"
#include "batch/OutputFile.h"

#include <gtest/gtest.h>

#include <cerrno>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

class TempFolder {
public:
  TempFolder() {
    char Tmpl[] = "/tmp/tessivo-outfile-XXXXXX";
    Path = ::mkdtemp(Tmpl);
  }
  ~TempFolder() { fs::remove_all(Path); }
  std::string operator/(const std::string &Name) const { return Path + "/" + Name; }
  std::string Path;
};

void WriteText(const std::string &Path, const std::string &Text) {
  std::ofstream(Path, std::ios::binary) << Text;
}

std::string ReadText(const std::string &Path) {
  std::ifstream In(Path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
}

int64_t ModificationTime(const std::string &Path) {
  struct stat st;
  return ::stat(Path.c_str(), &st) == 0 ? int64_t(st.st_mtime) : -1;
}

}  // namespace

TEST(OutputFile, MoveNeverReplacesAnExistingTarget) {
  TempFolder T;
  WriteText(T / "a.jpg", "source");
  WriteText(T / "b.jpg", "other");
  EXPECT_FALSE(MoveFileTo(T / "a.jpg", T / "b.jpg"));
  EXPECT_EQ(ReadText(T / "b.jpg"), "other");
  EXPECT_TRUE(IsExistingFile(T / "a.jpg"));
  EXPECT_TRUE(MoveFileTo(T / "a.jpg", T / "c.jpg"));
  EXPECT_FALSE(IsExistingFile(T / "a.jpg"));
  EXPECT_EQ(ReadText(T / "c.jpg"), "source");
  EXPECT_TRUE(SameFileSystem(T / "c.jpg", T / "sub/new/x.jpg"));
}

TEST(OutputFile, CopyKeepsTheSourceAndHonoursFailIfExists) {
  TempFolder T;
  WriteText(T / "a.jpg", std::string(3 << 20, 'x') + "end");  // more than one copy buffer
  WriteText(T / "b.jpg", "keep me");
  // A failed copy leaves the system's reason in errno for the log line.
  EXPECT_FALSE(CopyFileTo(T / "a.jpg", T / "b.jpg", true));
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(ReadText(T / "b.jpg"), "keep me");
  EXPECT_TRUE(CopyFileTo(T / "a.jpg", T / "b.jpg", false));
  EXPECT_EQ(ReadText(T / "b.jpg"), ReadText(T / "a.jpg"));
  EXPECT_TRUE(CopyFileTo(T / "a.jpg", T / "c.jpg", true));
  EXPECT_EQ(ReadText(T / "c.jpg").size(), (3u << 20) + 3);
  EXPECT_FALSE(CopyFileTo(T / "missing.jpg", T / "d.jpg", false));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_FALSE(CopyFileTo(T.Path, T / "d.jpg", false));
  EXPECT_EQ(errno, EISDIR);
  // A copy never makes the target's folder, and it keeps the source's permissions.
  EXPECT_FALSE(CopyFileTo(T / "a.jpg", T / "no-such-folder/d.jpg", false));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_FALSE(IsExistingFolder(T / "no-such-folder"));
  ::chmod((T / "a.jpg").c_str(), 0640);
  EXPECT_TRUE(CopyFileTo(T / "a.jpg", T / "e.jpg", true));
  struct stat st;
  ASSERT_EQ(::stat((T / "e.jpg").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  // No temporary file is left behind by either outcome.
  int Count = 0;
  for (const auto &E : fs::directory_iterator(T.Path)) Count += E.path().filename().string()[0] == '.';
  EXPECT_EQ(Count, 0);
}

TEST(OutputFile, OutputTimes) {
  TempFolder T;
  const double Shot = 41459.5;            // 2013-07-04 12:00:00 local
  const double LastWrite = 41000.0 + 7.0 / 86400;  // an odd second
  struct Case {
    bool FromExif, KeepLastWrite;
    double Original;
    double Expected;  // 0: unchanged
  } Cases[] = {
      {true, false, Shot, Shot},
      {true, true, Shot, Shot},
      {true, true, 0, TruncateToTwoSeconds(LastWrite)},  // no Exif date: the source's time
      {false, true, Shot, TruncateToTwoSeconds(LastWrite)},
      {true, false, 0, 0},
      {false, false, Shot, 0},
  };
  for (const auto &C : Cases) {
    WriteText(T / "o.jpg", "x");
    const int64_t Before = ModificationTime(T / "o.jpg");
    TOutputTimes Times;
    Times.DateTimeOriginal = C.Original;
    Times.DateTimeLastWrite = LastWrite;
    Times.UpdateTimestampFromExif = C.FromExif;
    Times.KeepLastWriteTime = C.KeepLastWrite;
    EXPECT_TRUE(SetOutputTimes(T / "o.jpg", Times));
    if (C.Expected == 0) {
      EXPECT_EQ(ModificationTime(T / "o.jpg"), Before);
    } else {
      EXPECT_EQ(ModificationTime(T / "o.jpg"), LocalDateTimeToUnix(C.Expected));
    }
  }
  EXPECT_EQ(LocalDateTimeToUnix(TruncateToTwoSeconds(LastWrite)) % 2, LocalDateTimeToUnix(LastWrite - 1.0 / 86400) % 2);
  EXPECT_FALSE(SetOutputTimes(T / "missing.jpg", TOutputTimes{}));
}

TEST(OutputFile, TrashKeepsTheFileWithItsInfo) {
  TempFolder T;
  const char *Old = std::getenv("XDG_DATA_HOME");
  const std::string Saved = Old ? Old : "";
  ::setenv("XDG_DATA_HOME", (T / "data").c_str(), 1);
  ::mkdir((T / "data").c_str(), 0700);
  ::mkdir((T / "p").c_str(), 0700);
  WriteText(T / "p/IMG 1.jpg", "first");
  ASSERT_TRUE(DeleteSourceFile(T / "p/IMG 1.jpg", true));
  WriteText(T / "p/IMG 1.jpg", "second");
  ASSERT_TRUE(MoveToTrash(T / "p/IMG 1.jpg"));
  EXPECT_FALSE(IsExistingFile(T / "p/IMG 1.jpg"));
  EXPECT_EQ(ReadText(T / "data/Trash/files/IMG 1.jpg"), "first");
  EXPECT_EQ(ReadText(T / "data/Trash/files/IMG 1.jpg.2"), "second");
  const std::string Info = ReadText(T / "data/Trash/info/IMG 1.jpg.trashinfo");
  EXPECT_NE(Info.find("[Trash Info]\nPath=" + T.Path + "/p/IMG%201.jpg\nDeletionDate="), std::string::npos);
  EXPECT_FALSE(DeleteSourceFile(T / "p/gone.jpg", true));  // a missing file is not an error worth more
  if (Old) ::setenv("XDG_DATA_HOME", Saved.c_str(), 1); else ::unsetenv("XDG_DATA_HOME");
}

TEST(OutputFile, FolderRemoval) {
  TempFolder T;
  fs::create_directories(T / "out/a/b");
  WriteText(T / "out/a/b/x.jpg", "x");
  WriteText(T / "keep.jpg", "k");
  fs::create_symlink(T / "keep.jpg", T / "out/link.jpg");  // the link goes, its target stays
  EXPECT_FALSE(DeleteFolderTree("/"));
  EXPECT_FALSE(DeleteFolderTree("out"));
  EXPECT_TRUE(DeleteFolderTree(T / "out/"));
  EXPECT_FALSE(IsExistingFolder(T / "out"));
  EXPECT_EQ(ReadText(T / "keep.jpg"), "k");
}

TEST(ExternalTool, CommandLineSplitting) {
  const struct {
    const char *Line;
    std::vector<std::string> Args;
  } Cases[] = {
      {"prog a  b", {"prog", "a", "b"}},
      {"\"/opt/my tool/run\" \"<outdir>\"", {"/opt/my tool/run", "<outdir>"}},
      {"echo \\\"quoted\\\" C:\\dir\\", {"echo", "\"quoted\"", "C:\\dir\\"}},
      {"x \"\"", {"x", ""}},
      {"  ", {}},
  };
  for (const auto &C : Cases) EXPECT_EQ(SplitCommandLine(C.Line), C.Args) << C.Line;
  EXPECT_EQ(ReplaceTokenNoCase("<OutDir>/a/<outdir>", "<outdir>", "/x"), "/x/a//x");
}

TEST(ExternalTool, OneCommandPerDistinctLineInSortedOrder) {
  std::vector<TExternalToolEntry> Entries;
  for (int i = 0; i < 10; ++i)
    Entries.push_back({"/src/a" + std::to_string(i) + ".jpg", false,
                       (i % 2 ? "/out/b/" : "/out/a/") + std::to_string(i) + ".jpg"});
  Entries.push_back({"/arc/photos.zip", true, "/out/c/1.jpg"});
  Entries.push_back({"/src/z.jpg", false, ""});  // not converted
  const auto Cmds = BuildExternalCommands("tool \"<outdir>\" <DIR> <arcname> <ARCDIR>", "/base/", Entries);
  ASSERT_EQ(Cmds.size(), 3u);
  EXPECT_EQ(Cmds[0], (std::vector<std::string>{"tool", "/out/a", "/base", "NotArchive", "/src"}));
  EXPECT_EQ(Cmds[1], (std::vector<std::string>{"tool", "/out/b", "/base", "NotArchive", "/src"}));
  EXPECT_EQ(Cmds[2], (std::vector<std::string>{"tool", "/out/c", "/base", "photos", "/arc"}));
  EXPECT_EQ(BuildDeleteFolders("<outdir>\\tmp", "/base", Entries),
            (std::vector<std::string>{"/out/a/tmp", "/out/b/tmp", "/out/c/tmp"}));
}

TEST(ExternalTool, RunsWithoutAShellAndDeletesFolders) {
  TempFolder T;
  fs::create_directories(T / "my out");
  fs::create_directories(T / "my out/work/sub");
  std::vector<TExternalToolEntry> Entries{{T / "a.jpg", false, T / "my out/a.jpg"}};
  // A path with a blank and shell characters arrives as one argument.
  RunExternalTool("touch \"<outdir>/done;$(x)\"", T.Path, true, "<outdir>/work", Entries, 2);
  EXPECT_TRUE(IsExistingFile(T / "my out/done;$(x)"));
  EXPECT_FALSE(IsExistingFolder(T / "my out/work"));
  EXPECT_EQ(RunExternalCommand({"/nonexistent/program"}, 2), -1);
  EXPECT_EQ(RunExternalCommand({"false"}, 2), 1);
}
