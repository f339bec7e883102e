// The headless runner end to end: the real tessivo program on generated
// photos in a temporary folder, with its own settings folder and Trash.
#include "io/ImageProbe.h"
#include "io/JpegSegment.h"
#include "io/Pixio.h"
#include "batch/SamplePhotos.h"
#include "testutil/TestEnv.h"
#include "app/tests/RunTessivo.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <span>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using testrun::ReadFile;
using testrun::TRun;

class Runner : public ::testing::Test {
protected:
  static void SetUpTestSuite() { LoadPixio(std::string(TESSIVO_BIN_DIR) + "/libpixio.so"); }
  static void TearDownTestSuite() { FreePixio(); }

  void SetUp() override {
    char Tmpl[] = "/tmp/tessivo-runner-XXXXXX";
    Dir = ::mkdtemp(Tmpl);
    fs::create_directories(Dir + "/data/ini");
    fs::create_directories(Dir + "/xdg");
    fs::create_directories(Dir + "/p");
  }
  void TearDown() override {
    if (!SmallDisk.empty()) ::umount(SmallDisk.c_str());
    for (const auto &E : fs::recursive_directory_iterator(Dir))
      if (!E.is_symlink()) fs::permissions(E.path(), fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(Dir);
  }

  // A photo in the source folder; answers its path.
  std::string Photo(const std::string &Name, uint32_t W = 640, uint32_t H = 480, uint32_t Seed = 1) {
    TSamplePhotoSpec Desc;
    Desc.Width = W;
    Desc.Height = H;
    Desc.Seed = Seed;
    Desc.DateTimeOriginal = "2013:07:04 12:34:56";
    const std::string Path = Dir + "/p/" + Name;
    WriteSamplePhoto(Path, Desc);
    return Path;
  }
  // A settings profile "t.ini" in the settings folder.
  void Profile(const std::string &Text) { std::ofstream(Dir + "/data/ini/t.ini") << Text; }

  // Starts the program and answers its process id (Wait collects it); its
  // standard error goes to ErrName in the test folder.
  pid_t Start(std::vector<std::string> Args, const std::string &ErrName = "stderr.txt") {
    return testrun::StartTessivo(std::move(Args), Place(ErrName));
  }
  TRun Wait(pid_t Pid, const std::string &ErrName = "stderr.txt") { return testrun::WaitTessivo(Pid, Place(ErrName)); }
  testrun::TRunPlace Place(const std::string &ErrName) const {
    return testrun::IsolatedPlace(Dir, ErrName);
  }

  TRun Run(std::vector<std::string> Args) { return Wait(Start(std::move(Args))); }

  // A 16 KB tmpfs at Path (made when missing), unmounted in TearDown, for
  // runs onto a full file system. False, with Why, when it cannot be
  // mounted: a skip, except in CI where it must work.
  bool MountSmallDisk(const std::string &Path, std::string &Why) {
    fs::create_directories(Path);
    if (::mount("tmpfs", Path.c_str(), "tmpfs", 0, "size=16k") != 0) {
      Why = std::string("cannot mount a small tmpfs: ") + std::strerror(errno);
      if (const char *Ci = std::getenv("CI"); Ci && std::string(Ci) == "true") ADD_FAILURE() << Why;
      return false;
    }
    SmallDisk = Path;
    return true;
  }

  std::string Dir;
  std::string SmallDisk;  // mounted by MountSmallDisk
};

bool IsPNG(const std::string &Path) { return ReadFile(Path).rfind("\x89PNG\r\n\x1a\n", 0) == 0; }
bool IsJPEG(const std::string &Path) { return ReadFile(Path).rfind("\xFF\xD8\xFF", 0) == 0; }

TImageProbe ProbeOf(const std::string &Path) {
  TImageProbe P;
  EXPECT_TRUE(ProbeImageFile(Path, P)) << Path;
  return P;
}

// The entropy-coded part of a JPEG: from the first SOS to the end.
std::string ScanData(const std::string &Path) {
  const std::string B = ReadFile(Path);
  const auto p = B.find("\xFF\xDA");
  return p == std::string::npos ? std::string() : B.substr(p);
}

}  // namespace

TEST_F(Runner, DefaultTemplateWritesBesideTheSource) {
  Photo("IMG_1.jpg");
  Profile("[Resize]\nRule=1\nSize1=100,320\n");
  const TRun R = Run({"/INI=t.ini", "IMG_1.jpg"});  // a relative path, a switch in capitals
  EXPECT_EQ(R.Status, 0) << R.Err;
  const std::string Out = Dir + "/p/resize/IMG_1.jpg";
  ASSERT_TRUE(IsJPEG(Out)) << R.Err;
  const TImageProbe P = ProbeOf(Out);
  EXPECT_EQ(P.Width, 320);
  EXPECT_EQ(P.Height, 240);
  EXPECT_TRUE(P.FHasExif);
  EXPECT_NE(R.Err.find("output: " + Dir + "/p/resize/"), std::string::npos) << R.Err;
}

TEST_F(Runner, TemplatesChooseFormatAndSerialNumbers) {
  for (int i = 1; i <= 3; ++i) Photo("IMG_" + std::to_string(i) + ".jpg", 320, 240, uint32_t(i));
  const struct {
    const char *Template;
    std::vector<std::string> Outputs;
  } Cases[] = {
      {"png/<old>.png", {"png/IMG_1.png", "png/IMG_2.png", "png/IMG_3.png"}},
      {"n/img<n3>", {"n/img001.jpg", "n/img002.jpg", "n/img003.jpg"}},
      {"s/img<s7><n3>", {"s/img007.jpg", "s/img008.jpg", "s/img009.jpg"}},
      {"d/<yyyy>/<mm>/<old>", {"d/2013/07/IMG_1.jpg", "d/2013/07/IMG_2.jpg", "d/2013/07/IMG_3.jpg"}},
  };
  for (const auto &C : Cases) {
    Profile(std::string("[File]\nFileNameFormat=") + C.Template + "\nAddSubFolder=0\n");
    const TRun R = Run({"--ini=t.ini", Dir + "/p"});
    EXPECT_EQ(R.Status, 0) << C.Template << R.Err;
    for (const auto &O : C.Outputs) {
      const std::string Path = Dir + "/p/" + O;
      EXPECT_TRUE(O.ends_with(".png") ? IsPNG(Path) : IsJPEG(Path)) << Path;
    }
  }
  // A template the naming cannot use converts nothing, with a message.
  Profile("[File]\nFileNameFormat=bad/<OLD>\nAddSubFolder=0\n");
  const TRun R = Run({"--ini=t.ini", Dir + "/p"});
  EXPECT_NE(R.Err.find("ファイル名に使用できない文字が含まれています"), std::string::npos) << R.Err;
  EXPECT_FALSE(fs::exists(Dir + "/p/bad"));
}

TEST_F(Runner, StoredSerialNumberContinuesInTheProfile) {
  Photo("A.jpg");
  Photo("B.jpg");
  Profile("[File]\nFileNameFormat=n/img<n2>\nNumberResetType=2\nStartNumber=5\nAddSubFolder=0\n");
  TRun R = Run({"/ini=t.ini", Dir + "/p"});
  EXPECT_EQ(R.Status, 0) << R.Err;
  EXPECT_TRUE(IsJPEG(Dir + "/p/n/img05.jpg"));
  EXPECT_TRUE(IsJPEG(Dir + "/p/n/img06.jpg"));
  const std::string Saved = ReadFile(Dir + "/data/ini/t.ini");
  EXPECT_NE(Saved.find("StartNumber=7"), std::string::npos) << Saved;
  EXPECT_NE(Saved.find("FileNameFormat=n/img<n2>"), std::string::npos) << Saved;  // the rest stays
  R = Run({"/ini=t.ini", Dir + "/p/A.jpg"});
  EXPECT_TRUE(IsJPEG(Dir + "/p/n/img07.jpg")) << R.Err;
}

TEST_F(Runner, CollisionNumberingSkipAndReadOnlyOutputs) {
  Photo("IMG_1.jpg");
  fs::create_directories(Dir + "/p/resize");
  std::ofstream(Dir + "/p/resize/IMG_1.jpg") << "older output";
  Profile("[Resize]\nRule=1\nSize1=100,200\n");
  TRun R = Run({"/ini=t.ini", "IMG_1.jpg"});
  EXPECT_EQ(R.Status, 0) << R.Err;
  EXPECT_EQ(ReadFile(Dir + "/p/resize/IMG_1.jpg"), "older output");
  EXPECT_TRUE(IsJPEG(Dir + "/p/resize/IMG_1[1].jpg"));

  Profile("[Resize]\nRule=1\nSize1=100,200\n[File]\nSkip=1\n");
  R = Run({"/ini=t.ini", "IMG_1.jpg"});
  EXPECT_EQ(R.Status, 0) << R.Err;
  EXPECT_FALSE(fs::exists(Dir + "/p/resize/IMG_1[2].jpg"));
  EXPECT_NE(R.Err.find("nothing to convert"), std::string::npos) << R.Err;

  // Overwriting: a read-only output is skipped unless the profile ignores the bit,
  // and stays read-only after it was replaced.
  fs::permissions(Dir + "/p/resize/IMG_1.jpg", fs::perms::owner_read | fs::perms::group_read);
  Profile("[Resize]\nRule=1\nSize1=100,200\n[File]\nNotOverwrite=0\n");
  R = Run({"/ini=t.ini", "IMG_1.jpg"});
  EXPECT_EQ(ReadFile(Dir + "/p/resize/IMG_1.jpg"), "older output");
  Profile("[Resize]\nRule=1\nSize1=100,200\n[File]\nNotOverwrite=0\nIgnoreReadOnlyAttr=1\n");
  R = Run({"/ini=t.ini", "IMG_1.jpg"});
  EXPECT_EQ(R.Status, 0) << R.Err;
  EXPECT_TRUE(IsJPEG(Dir + "/p/resize/IMG_1.jpg")) << R.Err;
  EXPECT_EQ(fs::status(Dir + "/p/resize/IMG_1.jpg").permissions() & fs::perms::owner_write, fs::perms::none);
}

// Both runs choose the same 30 names before either has written anything; each
// output must still land under a name of its own.
TEST_F(Runner, TwoRunsIntoOneFolderKeepEveryOutput) {
  constexpr int Count = 30;
  fs::create_directories(Dir + "/p/a");
  fs::create_directories(Dir + "/p/b");
  const std::string A = Photo("a/IMG_1.jpg", 1600, 1200, 1), B = Photo("b/IMG_1.jpg", 1600, 1200, 2);
  for (int i = 2; i <= Count; ++i) {
    fs::copy_file(A, Dir + "/p/a/IMG_" + std::to_string(i) + ".jpg");
    fs::copy_file(B, Dir + "/p/b/IMG_" + std::to_string(i) + ".jpg");
  }
  Profile("[Resize]\nRule=1\nSize1=100,400\n[System]\nMaxThread=2\n[File]\nAddSubFolder=0\nFileNameFormat=" +
          Dir + "/out/<old>\n");
  const pid_t PidA = Start({"/ini=t.ini", Dir + "/p/a"}, "a.txt");
  const pid_t PidB = Start({"/ini=t.ini", Dir + "/p/b"}, "b.txt");
  const TRun RA = Wait(PidA, "a.txt"), RB = Wait(PidB, "b.txt");
  EXPECT_EQ(RA.Status, 0) << RA.Err;
  EXPECT_EQ(RB.Status, 0) << RB.Err;
  std::map<std::string, int> Contents;  // output bytes -> how many outputs have them
  int Outputs = 0, Numbered = 0;
  for (const auto &E : fs::directory_iterator(Dir + "/out")) {
    const std::string Name = E.path().filename().string();
    EXPECT_NE(Name[0], '.') << "a temporary file was left: " << Name;
    EXPECT_EQ(ProbeOf(E.path().string()).Width, 400) << Name;
    ++Outputs;
    if (Name.find('[') != std::string::npos) ++Numbered;
    ++Contents[ReadFile(E.path().string())];
  }
  EXPECT_EQ(Outputs, 2 * Count);
  EXPECT_EQ(Numbered, Count);
  // Every output of either run is there: 30 made from each source picture.
  ASSERT_EQ(Contents.size(), 2u);
  for (const auto &[Bytes, N] : Contents) EXPECT_EQ(N, Count);
}

// A file the user names is meant to be converted: when it cannot be, the
// run says why and ends with status 1, and the other files still convert.
// The same files found by walking a folder are passed over in silence.
TEST_F(Runner, NamedInputsThatDoNotConvertAreLoggedAndFailTheRun) {
  Photo("IMG_1.jpg");
  fs::create_directories(Dir + "/p/junk");
  const struct {
    const char *Name;
    std::string Bytes;  // "->" followed by a link target makes a symbolic link
    const char *Says;
  } Cases[] = {
      {"empty.jpg", "", "empty file"},
      {"text.jpg", "just some words\n", "not an image"},
      {"text.png", "just some words\n", "not an image"},
      {"pic.tga", std::string("\0\0\2\0\0\0\0\0\0\0\0\0\1\0\1\0\x18\0\xff\xff\xff", 21), "not an image"},
      {"pic.ppm", "P6\n1 1\n255\n\xff\xff\xff", "not an image"},
      {"loop.jpg", "->loop.jpg", "Too many levels of symbolic links"},
      {"dangling.jpg", "->nowhere.jpg", "No such file or directory"},
  };
  Profile("[Resize]\nRule=1\nSize1=100,200\n[File]\nFileNameFormat=" + Dir + "/out/<old>\nAddSubFolder=0\n");
  for (const auto &C : Cases) {
    const std::string Path = Dir + "/p/junk/" + C.Name;
    if (C.Bytes.rfind("->", 0) == 0) fs::create_symlink(C.Bytes.substr(2), Path);
    else std::ofstream(Path, std::ios::binary) << C.Bytes;
    fs::remove_all(Dir + "/out");
    const TRun R = Run({"/ini=t.ini", Path, "IMG_1.jpg"});
    EXPECT_EQ(R.Status, 1) << C.Name << "\n" << R.Err;
    EXPECT_NE(R.Err.find(std::string(C.Name) + ": " + C.Says), std::string::npos) << R.Err;
    EXPECT_TRUE(IsJPEG(Dir + "/out/IMG_1.jpg")) << C.Name;
  }
  // Walking the folder that holds them all: nothing to say.
  const TRun R = Run({"/ini=t.ini", Dir + "/p/junk"});
  EXPECT_EQ(R.Status, 0) << R.Err;
  EXPECT_EQ(R.Err.find("ErrorLog"), std::string::npos) << R.Err;
}

TEST_F(Runner, OutputsNotWrittenAndUnusableProfilesAreNotSuccesses) {
  Photo("IMG_1.jpg");
  // Overwriting is on, but the output is read-only and the profile respects that.
  fs::create_directories(Dir + "/p/resize");
  std::ofstream(Dir + "/p/resize/IMG_1.jpg") << "older output";
  fs::permissions(Dir + "/p/resize/IMG_1.jpg", fs::perms::owner_read);
  Profile("[File]\nNotOverwrite=0\n");
  TRun R = Run({"/ini=t.ini", "IMG_1.jpg"});
  EXPECT_EQ(R.Status, 1) << R.Err;
  EXPECT_NE(R.Err.find("IMG_1.jpg: " + Dir + "/p/resize/IMG_1.jpg: the output is read-only"), std::string::npos)
      << R.Err;
  EXPECT_EQ(ReadFile(Dir + "/p/resize/IMG_1.jpg"), "older output");

  // A profile that is no settings file at all stops the run before anything is converted.
  std::string Garbage(4096, '\0');
  for (size_t i = 0; i < Garbage.size(); ++i) Garbage[i] = char((i * 2654435761u) >> 13);
  for (const std::string &Bytes : {Garbage, std::string("just a line of text\nand another\n")}) {
    std::ofstream(Dir + "/data/ini/t.ini", std::ios::binary) << Bytes;
    fs::remove_all(Dir + "/p/resize");
    R = Run({"/ini=t.ini", "IMG_1.jpg"});
    EXPECT_EQ(R.Status, 2) << R.Err;
    EXPECT_NE(R.Err.find("not a settings file"), std::string::npos) << R.Err;
    EXPECT_FALSE(fs::exists(Dir + "/p/resize"));
  }
}

// A template that gives no usable name fails the run before anything is
// written; the log names the profile, the key and the part at fault.
TEST_F(Runner, UnusableTemplatesNameTheOffendingPart) {
  Photo("IMG_1.jpg");
  const struct {
    std::string Template;
    std::string Fault;
  } Cases[] = {
      {"bad/<OLD>", "unknown token <OLD>"},
      {"<old>_<foo>", "unknown token <foo>"},
      {"a*b/<old>", "\"*\" is not allowed in a file name"},
      {"<old>?", "\"?\" is not allowed in a file name"},
      {"x|<old>", "\"|\" is not allowed in a file name"},
      {"a>b", "\">\" is not allowed in a file name"},
      {"<old>_<n", "unterminated token <n"},
      {"a<>b", "empty token <>"},
      {"out/.jpg", "no file name before the extension"},
  };
  // A dry run fails on the template exactly as the run does.
  for (const bool DryRun : {false, true})
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.Template + (DryRun ? " (dry run)" : ""));
    Profile("[File]\nFileNameFormat=" + C.Template + "\n");
    const TRun R = DryRun ? Run({"/ini=t.ini", "--dry-run", "IMG_1.jpg"}) : Run({"/ini=t.ini", "IMG_1.jpg"});
    EXPECT_EQ(R.Status, 1) << R.Err;
    EXPECT_NE(R.Err.find("t.ini: File.FileNameFormat=" + C.Template +
                         ": ファイル名に使用できない文字が含まれています: " + C.Fault),
              std::string::npos)
        << R.Err;
    std::vector<std::string> Left;
    for (const auto &E : fs::directory_iterator(Dir + "/p")) Left.push_back(E.path().filename().string());
    EXPECT_EQ(Left, std::vector<std::string>{"IMG_1.jpg"});
    for (const std::string &Name : Left)
      if (Name != "IMG_1.jpg") fs::remove_all(Dir + "/p/" + Name);  // the next case starts clean
  }
}

TEST_F(Runner, RenameModeMovesOnOneFileSystemAndCopiesAcross) {
  const std::string Src = Photo("IMG_1.jpg");
  const std::string Bytes = ReadFile(Src);
  // The shooting date becomes the file time when the profile asks for file times.
  Profile("[File]\nRenameOnly=1\nFileNameFormat=renamed/<yyyy>-<old>\n"
          "[Metadata]\nUpdateTimestampFromExif=1\nKeepLastWriteTime=1\n");
  TRun R = Run({"/ini=t.ini", Src});
  EXPECT_EQ(R.Status, 0) << R.Err;
  EXPECT_FALSE(fs::exists(Src));
  const std::string Moved = Dir + "/p/renamed/2013-IMG_1.jpg";
  EXPECT_EQ(ReadFile(Moved), Bytes);
  struct tm Shot = {};
  Shot.tm_year = 113, Shot.tm_mon = 6, Shot.tm_mday = 4, Shot.tm_hour = 12, Shot.tm_min = 34, Shot.tm_sec = 56;
  Shot.tm_isdst = -1;
  struct stat st;
  ASSERT_EQ(::stat(Moved.c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, ::mktime(&Shot));

  // Another file system: the file is copied and the source stays.
  char Tmpl[] = "/dev/shm/tessivo-rename-XXXXXX";
  if (!::mkdtemp(Tmpl)) GTEST_SKIP() << "no /dev/shm";
  const std::string Other = Tmpl;
  struct stat a, b;
  if (::stat(Other.c_str(), &a) != 0 || ::stat(Dir.c_str(), &b) != 0 || a.st_dev == b.st_dev) {
    fs::remove_all(Other);
    GTEST_SKIP() << "/dev/shm is on the same file system";
  }
  Profile("[File]\nRenameOnly=1\nFileNameFormat=" + Other + "/<old>\n");
  R = Run({"/ini=t.ini", Moved});
  EXPECT_EQ(R.Status, 0) << R.Err;
  EXPECT_EQ(ReadFile(Other + "/2013-IMG_1.jpg"), Bytes);
  EXPECT_EQ(ReadFile(Moved), Bytes);
  fs::remove_all(Other);
}

TEST_F(Runner, PassThroughKeepsTheCompressedData) {
  const std::string Src = Photo("IMG_1.jpg");
  Profile("[Metadata]\nKeepResolution=0\nResolution=300\n");  // 100 %: nothing changes the pixels
  TRun R = Run({"/ini=t.ini", Src});
  EXPECT_EQ(R.Status, 0) << R.Err;
  const std::string Out = Dir + "/p/resize/IMG_1.jpg";
  ASSERT_TRUE(IsJPEG(Out));
  EXPECT_EQ(ScanData(Out), ScanData(Src));
  EXPECT_FALSE(ScanData(Src).empty());
  EXPECT_TRUE(ProbeOf(Out).FHasExif);

  Profile("[JPEG]\nAlwaysRecompress=1\n[File]\nFileNameFormat=re/<old>\n");
  R = Run({"/ini=t.ini", Src});
  EXPECT_EQ(R.Status, 0) << R.Err;
  EXPECT_NE(ScanData(Dir + "/p/re/IMG_1.jpg"), ScanData(Src));
}

TEST_F(Runner, SourceDeletion) {
  const std::string A = Photo("A.jpg"), B = Photo("B.jpg"), C = Photo("C.jpg");
  // For good, and into the Trash with AllowUndo.
  Profile("[Resize]\nRule=1\nSize1=100,200\n[File]\nDeleteInputFile=1\n");
  TRun R = Run({"/ini=t.ini", A});
  EXPECT_EQ(R.Status, 0) << R.Err;
  EXPECT_FALSE(fs::exists(A));
  EXPECT_TRUE(IsJPEG(Dir + "/p/resize/A.jpg"));
  Profile("[Resize]\nRule=1\nSize1=100,200\n[File]\nDeleteInputFile=1\nAllowUndo=1\n");
  R = Run({"/ini=t.ini", B});
  EXPECT_FALSE(fs::exists(B));
  EXPECT_TRUE(IsJPEG(Dir + "/xdg/Trash/files/B.jpg"));
  EXPECT_TRUE(fs::exists(Dir + "/xdg/Trash/info/B.jpg.trashinfo"));
  // The output is the source itself: written over it, never deleted.
  Profile("[Resize]\nRule=1\nSize1=100,200\n[File]\nDeleteInputFile=1\nNotOverwrite=0\nFileNameFormat=<old>\n");
  R = Run({"/ini=t.ini", C});
  EXPECT_EQ(R.Status, 0) << R.Err;
  ASSERT_TRUE(IsJPEG(C));
  EXPECT_EQ(ProbeOf(C).Width, 200);
  // No output (the file cannot be decoded): the source stays.
  std::string Broken = ReadFile(C);
  Broken.resize(Broken.size() / 3);
  std::ofstream(Dir + "/p/D.jpg", std::ios::binary) << Broken;
  Profile("[Resize]\nRule=1\nSize1=100,100\n[File]\nDeleteInputFile=1\nFileNameFormat=del/<old>\n");
  R = Run({"/ini=t.ini", Dir + "/p/D.jpg"});
  EXPECT_TRUE(fs::exists(Dir + "/p/D.jpg"));
  EXPECT_FALSE(fs::exists(Dir + "/p/del/D.jpg"));
}

// A writer's complaint about a save that succeeded reaches the log as a
// warning on the file; the size search's trial encodes that do not fit are
// answers, not complaints. An Exif block with nothing readable no longer
// reaches the writer: it is left out when the source is loaded, and the
// file's one warning is the one that names the damage.
TEST_F(Runner, WriterComplaintsAboutASuccessfulSaveAreWarnings) {
  std::string Bytes = ReadFile(Photo("A.jpg", 320, 240));
  const auto Exif = Bytes.find(std::string("Exif\0\0", 6));
  ASSERT_NE(Exif, std::string::npos);
  const size_t Tiff = Exif + 6;
  const bool Little = Bytes.compare(Tiff, 2, "II") == 0;
  for (int i = 0; i < 4; ++i)  // IFD0 far past the end of the block
    Bytes[Tiff + 4 + i] = char(Little ? (i == 3 ? 0x7F : 0xF0) : (i == 0 ? 0x7F : 0xF0));
  std::ofstream(Dir + "/p/A.jpg", std::ios::binary | std::ios::trunc) << Bytes;
  TRun R = Run({"--format", "tif", "--out", Dir + "/tif", "A.jpg"});
  EXPECT_EQ(R.Status, 0) << R.Err;
  EXPECT_NE(R.Err.find("A.jpg:Exif情報が破損している可能性があります"), std::string::npos) << R.Err;
  EXPECT_EQ(R.Err.find("the Exif block is unreadable"), std::string::npos) << R.Err;
  EXPECT_NE(R.Err.find("Warnings (1):"), std::string::npos) << R.Err;
  EXPECT_TRUE(fs::exists(Dir + "/tif/A.tif"));

  Photo("B.jpg", 1600, 1200);
  Profile("[Resize]\nRule=1\nSize1=100,1200\n[JPEG]\nUseFileSizeLimit=1\nFileSizeLimit=60\n");
  R = Run({"/ini=t.ini", "--out", Dir + "/small", "B.jpg"});
  EXPECT_EQ(R.Status, 0) << R.Err;
  EXPECT_NE(R.Err.find("1 of 1 files converted"), std::string::npos) << R.Err;
  EXPECT_NE(R.Err.find("0 with warnings"), std::string::npos) << R.Err;
  EXPECT_TRUE(fs::exists(Dir + "/small/B.jpg"));  // written at the quality floor: 60 KB is out of reach
}

// A source on a read-only file system cannot be deleted: its output is
// complete, so the file converted with a warning that says why.
TEST_F(Runner, ASourceThatCannotBeDeletedIsAWarningWithTheReason) {
  const std::string Disk = Dir + "/ro";
  if (std::string Why; !MountSmallDisk(Disk, Why)) GTEST_SKIP() << Why;
  const std::string Src = Disk + "/A.jpg";
  fs::copy_file(Photo("A.jpg", 64, 48), Src);
  ASSERT_EQ(::mount(nullptr, Disk.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0) << std::strerror(errno);
  Profile("[Resize]\nRule=1\nSize1=100,32\n[File]\nDeleteInputFile=1\n");
  for (const bool Strict : {false, true}) {
    SCOPED_TRACE(Strict ? "--strict" : "default");
    fs::remove_all(Dir + "/out");
    const TRun R = Strict ? Run({"/ini=t.ini", "--strict", "--out", Dir + "/out", Src})
                          : Run({"/ini=t.ini", "--out", Dir + "/out", Src});
    EXPECT_EQ(R.Status, Strict ? 1 : 0) << R.Err;
    EXPECT_NE(R.Err.find("A.jpg: the source was not deleted (Read-only file system)"), std::string::npos) << R.Err;
    EXPECT_TRUE(fs::exists(Src));
    EXPECT_TRUE(IsJPEG(Dir + "/out/A.jpg"));
  }
}

TEST_F(Runner, OneCorruptFileIsLoggedAndTheOthersConvert) {
  for (int i = 1; i <= 4; ++i) Photo("IMG_" + std::to_string(i) + ".jpg", 480, 360, uint32_t(i));
  std::string Bad = ReadFile(Dir + "/p/IMG_1.jpg");
  for (size_t i = Bad.find("\xFF\xDA") + 40; i < Bad.size() - 2; i += 7) Bad[i] = char(0xFF);  // scan data destroyed
  Bad.resize(Bad.size() / 2);
  std::ofstream(Dir + "/p/BAD.jpg", std::ios::binary) << Bad;
  Profile("[Resize]\nRule=1\nSize1=100,100\n[System]\nMaxThread=2\n");
  const TRun R = Run({"/ini=t.ini", Dir + "/p"});
  EXPECT_EQ(R.Status, 1) << R.Err;
  // One line for the file: its name, the message and the codec library's reason.
  EXPECT_NE(R.Err.find("ErrorLog (1):\n  BAD.jpg: Loadに失敗しました (JPEG: "), std::string::npos) << R.Err;
  for (int i = 1; i <= 4; ++i) EXPECT_TRUE(IsJPEG(Dir + "/p/resize/IMG_" + std::to_string(i) + ".jpg")) << i;
  EXPECT_FALSE(fs::exists(Dir + "/p/resize/BAD.jpg"));
}

TEST_F(Runner, ExternalCommandRunsOncePerOutputFolderAfterACleanRun) {
  Photo("A.jpg");
  Photo("B.jpg");
  Profile("[System]\nUseExternalTool=1\nCommand=sh -c \"echo run >> '<outdir>/../ran.txt'\"\n"
          "[File]\nFileNameFormat=out/<old>\n");
  TRun R = Run({"/ini=t.ini", Dir + "/p/A.jpg", Dir + "/p/B.jpg"});
  EXPECT_EQ(R.Status, 0) << R.Err;
  EXPECT_EQ(ReadFile(Dir + "/p/ran.txt"), "run\n");
  // With a file error logged, the command does not run.
  const std::string Whole = ReadFile(Dir + "/p/A.jpg");
  std::ofstream(Dir + "/p/C.jpg", std::ios::binary) << Whole.substr(0, Whole.size() / 3);
  Profile("[System]\nUseExternalTool=1\nCommand=sh -c \"echo run >> '<outdir>/../ran.txt'\"\n"
          "[File]\nFileNameFormat=out2/<old>\n[Resize]\nRule=1\nSize1=100,200\n");
  R = Run({"/ini=t.ini", Dir + "/p/A.jpg", Dir + "/p/C.jpg"});
  EXPECT_EQ(R.Status, 1) << R.Err;
  EXPECT_EQ(ReadFile(Dir + "/p/ran.txt"), "run\n");
}

// Ctrl+C, SIGTERM and SIGHUP finish the files in progress and start no
// other; a second Ctrl+C abandons the files in progress. Either way no
// temporary file is left, every output there is complete, and the run ends
// with status 1 and says so.
TEST_F(Runner, StopSignalsLeaveOnlyCompleteOutputs) {
  constexpr int Count = 48, Width = 2400;
  // Large PNG outputs take long enough to write (over a second each) that
  // the files a worker takes when the first output appears are still in
  // progress after the run has reported the first signal and heard the second.
  const std::string First = Photo("IMG_1.jpg", 4 * Width / 3, Width);
  for (int i = 2; i <= Count; ++i) fs::create_hard_link(First, Dir + "/p/IMG_" + std::to_string(i) + ".jpg");
  Profile("[Resize]\nRule=1\nSize1=100," + std::to_string(Width) + "\n[System]\nMaxThread=2\n" +
          "[File]\nFileNameFormat=" + Dir + "/out/<old>.png\n");
  const struct {
    const char *Name;
    std::vector<int> Signals;
    const char *Says;
  } Cases[] = {
      {"SIGINT", {SIGINT}, "stopped: "},
      {"SIGTERM", {SIGTERM}, "stopped: "},
      {"SIGHUP", {SIGHUP}, "stopped: "},
      {"SIGINT twice", {SIGINT, SIGINT}, "abandoned: "},
  };
  for (const auto &C : Cases) {
    fs::remove_all(Dir + "/out");
    const pid_t Pid = Start({"/ini=t.ini", Dir + "/p"});
    ASSERT_GT(Pid, 0);
    // Signal once the first output is there (a temporary file is none yet).
    const std::string Why = testrun::SignalOnceAnOutputExists(Pid, Dir + "/out", C.Signals, Dir + "/stderr.txt");
    const TRun R = Wait(Pid);
    ASSERT_EQ(Why, "") << C.Name;
    EXPECT_EQ(R.Status, 1) << C.Name << "\n" << R.Err;
    EXPECT_NE(R.Err.find(C.Says), std::string::npos) << C.Name << "\n" << R.Err;
    int Outputs = 0;
    for (const auto &E : fs::directory_iterator(Dir + "/out")) {
      EXPECT_NE(E.path().filename().string()[0], '.') << C.Name << ": a temporary file was left: " << E.path();
      TImageProbe P;
      EXPECT_TRUE(ProbeImageFile(E.path().string(), P)) << E.path();
      EXPECT_EQ(P.Width, Width);
      ++Outputs;
    }
    EXPECT_GE(Outputs, 1) << C.Name;
    EXPECT_LT(Outputs, Count) << C.Name;
  }
}

// A temporary output another run is still writing into the walked folder is no source.
TEST_F(Runner, FolderWalkPassesOverTemporaryOutputs) {
  const std::string Src = Photo("IMG_1.jpg");
  fs::copy_file(Src, Dir + "/p/.IMG_2.a1B2c3.jpg");
  fs::copy_file(Src, Dir + "/p/.tessivo-copy-Xy12Z9");
  fs::copy_file(Src, Dir + "/p/.hidden.jpg");  // an ordinary hidden photo is still one
  Profile("[File]\nFileNameFormat=" + Dir + "/out/<old>\nAddSubFolder=0\n");
  const TRun R = Run({"/ini=t.ini", Dir + "/p"});
  EXPECT_EQ(R.Status, 0) << R.Err;
  EXPECT_TRUE(IsJPEG(Dir + "/out/IMG_1.jpg"));
  EXPECT_TRUE(IsJPEG(Dir + "/out/.hidden.jpg"));
  EXPECT_FALSE(fs::exists(Dir + "/out/.IMG_2.a1B2c3.jpg"));
  EXPECT_FALSE(fs::exists(Dir + "/out/.tessivo-copy-Xy12Z9"));
}

TEST_F(Runner, BadArgumentsAndSettings) {
  Photo("IMG_1.jpg");
  const struct {
    std::vector<std::string> Args;
    int Status;
    std::string Says;
  } Cases[] = {
      {{"--bogus", "IMG_1.jpg"}, 2, "unknown option"},
      {{}, 2, "no input"},
      {{"/ini=missing.ini", "IMG_1.jpg"}, 2, "settings file not found"},
      {{"/list=" + Dir + "/none.txt"}, 2, "none.txt: No such file or directory"},
      {{"/list=" + Dir + "/p"}, 2, "list file " + Dir + "/p: Is a directory"},
      {{"--help"}, 0, ""},
  };
  for (const auto &C : Cases) {
    const TRun R = Run(C.Args);
    EXPECT_EQ(R.Status, C.Status) << R.Err;
    EXPECT_NE(R.Err.find(C.Says), std::string::npos) << R.Err;
    if (C.Status == 2) {
      EXPECT_EQ(std::count(R.Err.begin(), R.Err.end(), '\n'), 1) << R.Err;
    }
  }
  fs::create_directories(Dir + "/data/ini/dir.ini");  // exists, but cannot be read as a file
  EXPECT_EQ(Run({"/ini=" + Dir + "/data/ini/dir.ini", "IMG_1.jpg"}).Status, 2);
  // The list file: one path per line, relative ones from the current folder.
  std::ofstream(Dir + "/list.txt") << "\xEF\xBB\xBFIMG_1.jpg\r\n\r\n";
  const TRun R = Run({"/list=" + Dir + "/list.txt"});
  EXPECT_EQ(R.Status, 0) << R.Err;
  EXPECT_TRUE(IsJPEG(Dir + "/p/resize/IMG_1.jpg"));
}

using testrun::Capture;
using testrun::Shell;

// ImageMagick makes the source, exiftool tags it with each orientation, and
// ImageMagick's own -auto-orient of the same file is the expected picture.
// Both decode the JPEG with the slow integer DCT at 4:4:4, so the upright
// pixels must match exactly.
TEST_F(Runner, EveryExifOrientationComesOutAsImageMagickAutoOrientsIt) {
  TESSIVO_REQUIRE(Shell("command -v convert")) << "ImageMagick's convert not installed (imagemagick)";
  TESSIVO_REQUIRE(Shell("command -v exiftool")) << "exiftool not installed (libimage-exiftool-perl)";
  const std::string P = Dir + "/p/";
  ASSERT_TRUE(Shell("convert -seed 3 -size 72x44 plasma:fractal -sampling-factor 1x1 -quality 95 " + P + "src.jpg"));
  for (int o = 1; o <= 8; ++o) {
    const std::string Name = P + "o" + std::to_string(o) + ".jpg";
    fs::copy_file(P + "src.jpg", Name);
    ASSERT_TRUE(Shell("exiftool -q -overwrite_original -n -Software=ImageMagickSample -Orientation=" + std::to_string(o) + " " +
                      Name));
    ASSERT_TRUE(Shell("convert " + Name + " -auto-orient " + Dir + "/expected" + std::to_string(o) + ".ppm"));
  }
  fs::remove(P + "src.jpg");
  Profile("[File]\nFileNameFormat=" + Dir + "/png/<old>.png\nAddSubFolder=0\n");
  TRun R = Run({"/ini=t.ini", Dir + "/p"});
  ASSERT_EQ(R.Status, 0) << R.Err;
  for (int o = 1; o <= 8; ++o) {
    const std::string Out = Dir + "/png/o" + std::to_string(o) + ".png";
    ASSERT_TRUE(IsPNG(Out)) << Out;
    const std::string Got = Dir + "/got" + std::to_string(o) + ".ppm";
    ASSERT_TRUE(Shell("convert " + Out + " " + Got));
    const std::string Expected = ReadFile(Dir + "/expected" + std::to_string(o) + ".ppm");
    EXPECT_EQ(Expected.substr(0, 10), o <= 4 ? "P6\n72 44\n2" : "P6\n44 72\n2") << "orientation " << o;
    EXPECT_TRUE(ReadFile(Got) == Expected) << "orientation " << o;
  }

  // A JPEG output of an upright-turned source says so, and names the program
  // in the place of the source's Software value.
  Profile("[File]\nFileNameFormat=" + Dir + "/jpg/<old>\nAddSubFolder=0\n");
  R = Run({"/ini=t.ini", P + "o6.jpg"});
  ASSERT_EQ(R.Status, 0) << R.Err;
  EXPECT_EQ(Capture("exiftool -s3 -n -IFD0:Orientation -IFD0:Software -File:ImageWidth " + Dir + "/jpg/o6.jpg"),
            "1\nTessivoPlus\n44\n");
}

TEST_F(Runner, MalformedTrimmingExpressionFailsOnlyTheFilesThatUseIt) {
  Photo("wide.jpg", 320, 240, 1);
  Photo("tall.jpg", 240, 320, 2);
  // The portrait values hold a broken expression; the landscape ones crop 10 pixels a side.
  Profile("[TrimmingFilter]\nUse=1\nType=1\nValue=10,10,10,10,0,(w,0,0\n[File]\nFileNameFormat=" + Dir +
          "/out/<old>\nAddSubFolder=0\n");
  const TRun R = Run({"/ini=t.ini", Dir + "/p"});
  EXPECT_EQ(R.Status, 1) << R.Err;
  EXPECT_NE(R.Err.find("tall.jpg: 式の評価でエラーが発生しました"), std::string::npos) << R.Err;
  EXPECT_FALSE(fs::exists(Dir + "/out/tall.jpg"));
  ASSERT_TRUE(IsJPEG(Dir + "/out/wide.jpg")) << R.Err;
  EXPECT_EQ(ProbeOf(Dir + "/out/wide.jpg").Width, 300);
  EXPECT_EQ(ProbeOf(Dir + "/out/wide.jpg").Height, 220);
}

// Converting a folder again, with the outputs of the first run inside it:
// the folders the run's template writes into are not sources, at any depth.
TEST_F(Runner, ReRunOverAFolderDoesNotConvertItsOwnOutputs) {
  const struct {
    const char *Name;
    std::vector<std::string> Options;
    std::vector<std::string> Outputs;  // below p/, after the first run
  } Cases[] = {
      {"default template", {}, {"resize/A.jpg", "resize/B.jpg", "sub/resize/C.jpg"}},
      {"two folders", {"--template", "web/small/<old>"}, {"web/small/A.jpg", "web/small/B.jpg", "sub/web/small/C.jpg"}},
      {"a token below the folder", {"--template", "out/<old>/<old>"}, {"out/A/A.jpg", "out/B/B.jpg", "sub/out/C/C.jpg"}},
      {"an output folder inside the walked one", {"--out", "converted"},
       {"converted/A.jpg", "converted/B.jpg", "converted/C.jpg"}},
  };
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.Name);
    fs::remove_all(Dir + "/p");
    fs::create_directories(Dir + "/p/sub");
    Photo("A.jpg", 64, 48, 1);
    Photo("B.jpg", 64, 48, 2);
    Photo("sub/C.jpg", 64, 48, 3);
    std::vector<std::string> Args = C.Options;
    for (const char *O : {"--number-existing", "--set", "File.AddSubFolder=1", Dir.c_str()}) Args.push_back(O);
    Args.back() += "/p";
    TRun R = Run(Args);
    ASSERT_EQ(R.Status, 0) << R.Err;
    for (const std::string &O : C.Outputs) EXPECT_TRUE(IsJPEG(Dir + "/p/" + O)) << O << "\n" << R.Err;
    // The second run sees the three sources only, and numbers its outputs around the first run's.
    R = Run(Args);
    EXPECT_EQ(R.Status, 0) << R.Err;
    EXPECT_NE(R.Err.find("3 of 3 files converted"), std::string::npos) << R.Err;
    size_t Files = 0;
    for (const auto &E : fs::recursive_directory_iterator(Dir + "/p")) Files += E.is_regular_file();
    EXPECT_EQ(Files, 9u) << R.Err;
  }
}

namespace {

// A one-colour 1-bit gray PNG of W x H pixels: a few hundred kilobytes on
// disk that decode to W x H bytes.
void WriteOneColourPNG(const std::string &Path, uint32_t W, uint32_t H) {
  std::string Idat;
  z_stream Z{};
  deflateInit(&Z, Z_BEST_COMPRESSION);
  std::vector<uint8_t> Row(1 + (W + 7) / 8, 0), Buf(1 << 16);
  for (uint32_t y = 0; y < H; ++y) {
    Z.next_in = Row.data();
    Z.avail_in = uInt(Row.size());
    do {
      Z.next_out = Buf.data();
      Z.avail_out = uInt(Buf.size());
      deflate(&Z, y + 1 == H ? Z_FINISH : Z_NO_FLUSH);
      Idat.append(reinterpret_cast<const char *>(Buf.data()), Buf.size() - Z.avail_out);
    } while (Z.avail_out == 0);
  }
  deflateEnd(&Z);
  const auto BE32 = [](uint32_t v) {
    return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
  };
  const auto Chunk = [&](const std::string &Type, const std::string &Data) {
    const std::string Body = Type + Data;
    return BE32(uint32_t(Data.size())) + Body +
           BE32(uint32_t(crc32(0, reinterpret_cast<const Bytef *>(Body.data()), uInt(Body.size()))));
  };
  const std::string Ihdr = BE32(W) + BE32(H) + std::string{1, 0, 0, 0, 0};  // depth 1, gray
  std::ofstream(Path, std::ios::binary) << std::string("\x89PNG\r\n\x1a\n", 8) + Chunk("IHDR", Ihdr) +
                                               Chunk("IDAT", Idat) + Chunk("IEND", "");
}

// The JPEG at Path made to claim W x H pixels in its frame header; its data
// stays that of the small picture it was.
void ForgeJPEGSize(const std::string &Path, uint16_t W, uint16_t H) {
  std::string B = ReadFile(Path);
  const std::span<const uint8_t> Bytes(reinterpret_cast<const uint8_t *>(B.data()), B.size());
  for (const TJpegSegment &S : WalkJpegSegments(Bytes).Segments) {
    if (S.Marker != 0xFFC0) continue;
    B[S.PayloadPos + 1] = char(H >> 8), B[S.PayloadPos + 2] = char(H);
    B[S.PayloadPos + 3] = char(W >> 8), B[S.PayloadPos + 4] = char(W);
  }
  std::ofstream(Path, std::ios::binary) << B;
}

}  // namespace

// Pictures whose decode or resize would not fit the memory budget are
// refused before the memory is taken: one log line with the size and the
// budget, exit status 1, no output, and the program stays small.
TEST_F(Runner, MemoryBudgetRefusesPicturesTooLargeToDecodeOrResize) {
  constexpr long SmallKiB = 500 * 1024;
  const struct {
    const char *Name;
    std::function<void(const std::string &Path)> Make;
    const char *File;
    std::vector<std::string> Options;
    int Status;
    std::vector<std::string> Messages;  // in the error log
  } Cases[] = {
      {"a JPEG forged to claim 32000 x 32000",
       [this](const std::string &P) {
         Photo(P, 320, 240);
         ForgeJPEGSize(Dir + "/p/" + P, 32000, 32000);
       },
       "forged.jpg", {}, 1,
       // 32000 x 32000 pixels of three 8-bit samples
       {"forged.jpg: Loadに失敗しました (画像サイズが大きすぎます (decoding 32000 x 32000 pixels needs " +
            std::to_string((32000ull * 32000 * 3 + (1 << 20) - 1) >> 20) + " MiB, more than the memory budget of 512 MiB",
        "System.MemoryBudgetMB"}},
      {"an enlargement to 40000 pixels", [this](const std::string &P) { Photo(P, 640, 480); }, "big.jpg",
       {"--size", "40000"}, 1,
       {"big.jpg: リサイズ後の画像サイズが大きすぎます (resizing 640 x 480 to 40000 x 30000 pixels needs ",
        "more than the memory budget of 512 MiB"}},
      {"a one-colour PNG of 30000 x 30000",
       [this](const std::string &P) { WriteOneColourPNG(Dir + "/p/" + P, 30000, 30000); }, "flat.png", {}, 1,
       {"flat.png: Loadに失敗しました (画像サイズが大きすぎます (decoding 30000 x 30000 pixels needs " +
        std::to_string((30000ull * 30000 + (1 << 20) - 1) >> 20) + " MiB"}},
      {"a photo within the budget", [this](const std::string &P) { Photo(P, 640, 480); }, "fits.jpg",
       {"--size", "1600"}, 0, {}},
  };
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.Name);
    fs::remove_all(Dir + "/p");
    fs::create_directories(Dir + "/p");
    C.Make(C.File);
    std::vector<std::string> Args = C.Options;
    // PNG outputs: a JPEG kept at its size would be copied without decoding.
    for (const char *O : {"--set", "System.MemoryBudgetMB=512", "--format", "png", C.File}) Args.push_back(O);
    const TRun R = Run(Args);
    EXPECT_EQ(R.Status, C.Status) << R.Err;
    for (const std::string &M : C.Messages) EXPECT_NE(R.Err.find(M), std::string::npos) << M << "\n" << R.Err;
    EXPECT_LT(R.MaxRssKiB, SmallKiB);
    const std::string Out = Dir + "/p/resize/" + fs::path(C.File).replace_extension(".png").string();
    EXPECT_EQ(IsPNG(Out), C.Status == 0) << R.Err;
    if (fs::exists(Dir + "/p/resize"))
      for (const auto &E : fs::directory_iterator(Dir + "/p/resize")) EXPECT_NE(E.path().filename().string()[0], '.');
  }
  // The budget is a profile key with a range.
  const TRun R = Run({"--set", "System.MemoryBudgetMB=-1", "x.jpg"});
  EXPECT_EQ(R.Status, 2);
  EXPECT_NE(R.Err.find("System.MemoryBudgetMB must be an integer from 0 to 16777216"), std::string::npos) << R.Err;
}

// Writing onto a full file system: the log line carries the system's reason,
// the run fails and nothing half-written or temporary is left behind.
TEST_F(Runner, FullDiskIsReportedWithTheSystemsReason) {
  const std::string Full = Dir + "/full";
  if (std::string Why; !MountSmallDisk(Full, Why)) GTEST_SKIP() << Why;
  Photo("IMG_1.jpg", 640, 480);
  for (const char *Format : {"png", "jpg"}) {
    SCOPED_TRACE(Format);
    const TRun R = Run({"--out", Full, "--format", Format, "--quality", "100", "IMG_1.jpg"});
    EXPECT_EQ(R.Status, 1) << R.Err;
    EXPECT_NE(R.Err.find("No space left on device"), std::string::npos) << R.Err;
    EXPECT_TRUE(fs::is_empty(Full)) << R.Err;
  }
}

// Rename mode copies onto another file system; when that one is full, the
// copy fails with the system's reason, leaves no partial file and keeps the
// source.
TEST_F(Runner, RenameModeCopyOntoAFullDiskSaysWhy) {
  const std::string Full = Dir + "/full";
  if (std::string Why; !MountSmallDisk(Full, Why)) GTEST_SKIP() << Why;
  const std::string Src = Photo("IMG_1.jpg", 640, 480);
  const std::string Bytes = ReadFile(Src);
  ASSERT_GT(Bytes.size(), 16u * 1024);
  Profile("[File]\nRenameOnly=1\nFileNameFormat=" + Full + "/<old>\n");
  const TRun R = Run({"/ini=t.ini", Src});
  EXPECT_EQ(R.Status, 1) << R.Err;
  EXPECT_NE(R.Err.find("IMG_1.jpg: コピーに失敗しました (No space left on device)"), std::string::npos) << R.Err;
  EXPECT_TRUE(fs::is_empty(Full)) << R.Err;
  EXPECT_EQ(ReadFile(Src), Bytes);
}
