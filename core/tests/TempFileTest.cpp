// The temporary file every writer goes through, on real files: the target is
// untouched until the commit, permissions follow the options, an exclusive
// commit never replaces a file, and the temporary name is one the folder
// walk passes over.
#include "core/TempFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

class TempFileTest : public ::testing::Test {
protected:
  void SetUp() override {
    char Tmpl[] = "/tmp/tessivo-tempfile-XXXXXX";
    ASSERT_NE(::mkdtemp(Tmpl), nullptr);
    Dir = Tmpl;
  }
  void TearDown() override { fs::remove_all(Dir); }

  std::string At(const std::string &Name) const { return Dir + "/" + Name; }
  static void WriteText(const std::string &Path, const std::string &Text) { std::ofstream(Path) << Text; }
  static std::string ReadText(const std::string &Path) {
    std::ifstream In(Path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
  }
  static mode_t ModeOf(const std::string &Path) {
    struct stat st;
    return ::stat(Path.c_str(), &st) == 0 ? st.st_mode & 07777 : mode_t(-1);
  }
  static void Put(TOutputFile &Out, const std::string &Text) {
    Out.Write({reinterpret_cast<const uint8_t *>(Text.data()), Text.size()});
  }
  // Names in the folder, the temporary ones included.
  std::vector<std::string> Names() const {
    std::vector<std::string> r;
    for (const auto &e : fs::directory_iterator(Dir)) r.push_back(e.path().filename().string());
    std::sort(r.begin(), r.end());
    return r;
  }

  std::string Dir;
};

mode_t CurrentUmask() {
  const mode_t m = ::umask(022);
  ::umask(m);
  return m;
}

}  // namespace

TEST_F(TempFileTest, TargetIsUntouchedUntilTheCommitAndNoTemporaryRemains) {
  WriteText(At("a.png"), "old");
  {
    TOutputFile Out(At("a.png"));
    Put(Out, "new");
    EXPECT_EQ(ReadText(At("a.png")), "old");
    EXPECT_EQ(fs::path(Out.TempPath()).parent_path(), fs::path(Dir));
    // A folder walk must never take a file being written as a source.
    EXPECT_TRUE(IsOutputTemporaryName(fs::path(Out.TempPath()).filename().string())) << Out.TempPath();
  }  // dropped without a commit, as after a failed writer
  EXPECT_EQ(ReadText(At("a.png")), "old");
  EXPECT_EQ(Names(), std::vector<std::string>{"a.png"});

  TOutputFile Out(At("a.png"));
  Put(Out, "new");
  Out.Commit();
  EXPECT_EQ(ReadText(At("a.png")), "new");
  EXPECT_EQ(Names(), std::vector<std::string>{"a.png"});
}

TEST_F(TempFileTest, PermissionsFollowTheOptions) {
  const mode_t fresh = 0666 & ~CurrentUmask();
  const struct {
    const char *Case;
    bool TargetExists;
    int32_t Mode;
    bool Exclusive;
    mode_t Expected;
  } cases[] = {
      {"a replaced file keeps its permissions", true, -1, false, 0604},
      {"a new file gets 0666 less the umask", false, -1, false, fresh},
      {"an exclusive commit makes a new file", false, -1, true, fresh},
      {"a given mode wins over the replaced file's", true, 0640, false, 0640},
      {"a given mode for a new file", false, 0600, true, 0600},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Case);
    const std::string target = At("m.txt");
    fs::remove(target);
    if (c.TargetExists) {
      WriteText(target, "old");
      ::chmod(target.c_str(), 0604);
    }
    TCommitRule rule{.Exclusive = c.Exclusive};
    TOutputFile Out(target, {.Rule = &rule, .Mode = c.Mode});
    Put(Out, "x");
    Out.Commit();
    EXPECT_EQ(ModeOf(target), c.Expected);
    EXPECT_EQ(rule.Committed, target);
  }
}

TEST_F(TempFileTest, ExclusiveCommitTakesTheNextFreeNameOrGivesUp) {
  WriteText(At("b.jpg"), "first");
  WriteText(At("b[1].jpg"), "second");
  TCommitRule rule{.Exclusive = true, .NextName = [this](int64_t k) { return At("b[" + std::to_string(k) + "].jpg"); }};
  TOutputFile Out(At("b.jpg"), &rule);
  Put(Out, "third");
  Out.Commit();
  EXPECT_EQ(rule.Committed, At("b[2].jpg"));
  EXPECT_EQ(ReadText(At("b.jpg")), "first");
  EXPECT_EQ(ReadText(At("b[1].jpg")), "second");
  EXPECT_EQ(ReadText(At("b[2].jpg")), "third");

  TCommitRule once{.Exclusive = true};
  {
    TOutputFile Again(At("b.jpg"), &once);
    Put(Again, "fourth");
    try {
      Again.Commit();
      ADD_FAILURE() << "an exclusive commit replaced a file";
    } catch (const EOutputFileError &e) {
      EXPECT_EQ(e.SystemError, EEXIST);
    }
  }
  EXPECT_EQ(ReadText(At("b.jpg")), "first");
  EXPECT_EQ(Names(), (std::vector<std::string>{"b.jpg", "b[1].jpg", "b[2].jpg"}));
}

TEST_F(TempFileTest, MissingFolderIsMadeOnlyWhenAsked) {
  try {
    TOutputFile Out(At("no/such/x.ini"), {.MakeFolder = false});
    ADD_FAILURE() << "a temporary file was made in a missing folder";
  } catch (const EOutputFileError &e) {
    EXPECT_EQ(e.SystemError, ENOENT);
  }
  EXPECT_FALSE(fs::exists(At("no")));
  TOutputFile Out(At("no/such/x.ini"));
  Put(Out, "made");
  Out.Commit();
  EXPECT_EQ(ReadText(At("no/such/x.ini")), "made");
}

TEST_F(TempFileTest, SyncedCommitWorksAfterTheWriterClosedTheFile) {
  TOutputFile Out(At("s.png"), {.Sync = true});
  Put(Out, "synced");
  Out.Close();  // as writers that open the temporary path themselves do
  Out.Commit();
  EXPECT_EQ(ReadText(At("s.png")), "synced");
  EXPECT_EQ(Names(), std::vector<std::string>{"s.png"});
}

TEST_F(TempFileTest, RenameNoReplaceKeepsAnExistingTarget) {
  WriteText(At("from"), "moving");
  WriteText(At("to"), "staying");
  EXPECT_FALSE(RenameNoReplace(At("from"), At("to")));
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(ReadText(At("to")), "staying");
  EXPECT_TRUE(RenameNoReplace(At("from"), At("free")));
  EXPECT_EQ(Names(), (std::vector<std::string>{"free", "to"}));
}
