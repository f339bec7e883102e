// The runner's everyday options, dry runs, JSON progress and shards, end to
// end: the real tessivo program on generated photos in a temporary folder,
// with outside tools (exiftool, ImageMagick's identify, python3's json) as
// the judges of what it wrote.
#include "batch/SamplePhotos.h"
#include "io/Pixio.h"
#include "testutil/TestEnv.h"
#include "app/tests/RunTessivo.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using testrun::ReadFile;
using testrun::TRun;

// Standard output of a shell command (for the outside tools).
std::string Capture(const std::string &Command) {
  std::string Out;
  if (FILE *P = ::popen(Command.c_str(), "r")) {
    std::array<char, 4096> Buf;
    size_t n;
    while ((n = std::fread(Buf.data(), 1, Buf.size(), P)) > 0) Out.append(Buf.data(), n);
    ::pclose(P);
  }
  while (!Out.empty() && (Out.back() == '\n' || Out.back() == '\r')) Out.pop_back();
  return Out;
}

bool HaveTool(const std::string &Name) { return std::system(("command -v " + Name + " >/dev/null 2>&1").c_str()) == 0; }

// Every file below Root by its path relative to Root, with its bytes.
std::map<std::string, std::string> Tree(const std::string &Root) {
  std::map<std::string, std::string> Files;
  if (!fs::exists(Root)) return Files;
  for (const auto &E : fs::recursive_directory_iterator(Root))
    if (E.is_regular_file()) Files[fs::relative(E.path(), Root).string()] = ReadFile(E.path().string());
  return Files;
}

class RunnerOptions : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    if (!testenv::BinFile("libpixio.so").empty()) LoadPixio(testenv::BinFile("libpixio.so"));
  }
  static void TearDownTestSuite() { FreePixio(); }

  void SetUp() override {
    TESSIVO_REQUIRE(!testenv::BinFile("libpixio.so").empty()) << "bin/libpixio.so is not built";
    char Tmpl[] = "/tmp/tessivo-options-XXXXXX";
    Dir = ::mkdtemp(Tmpl);
    fs::create_directories(Dir + "/data/ini");
    fs::create_directories(Dir + "/p");
  }
  void TearDown() override {
    if (!Dir.empty()) fs::remove_all(Dir);
  }

  std::string Photo(const std::string &Name, uint32_t W, uint32_t H, uint16_t Orientation = 1, uint32_t Seed = 1) {
    TSamplePhotoSpec Desc;
    Desc.Width = W;
    Desc.Height = H;
    Desc.Orientation = Orientation;
    Desc.Seed = Seed;
    Desc.DateTimeOriginal = "2013:07:04 12:34:56";
    const std::string Path = Dir + "/p/" + Name;
    fs::create_directories(fs::path(Path).parent_path());
    WriteSamplePhoto(Path, Desc);
    return Path;
  }
  void Profile(const std::string &Name, const std::string &Text) {
    std::ofstream(Dir + "/data/ini/" + Name, std::ios::binary) << Text;
  }

  // Starts tessivo in the source folder; Tag names its output files.
  pid_t Start(std::vector<std::string> Args, const std::string &Tag = "run") {
    return testrun::StartTessivo(std::move(Args), Place(Tag));
  }
  TRun Wait(pid_t Pid, const std::string &Tag = "run") { return testrun::WaitTessivo(Pid, Place(Tag)); }
  testrun::TRunPlace Place(const std::string &Tag) const {
    testrun::TRunPlace P;
    P.Env = {"TESSIVOPLUS_DATA=" + Dir + "/data", "HOME=" + Dir, "PATH=/usr/bin:/bin", "LANG=C.UTF-8"};
    P.WorkDir = Dir + "/p";
    P.OutPath = Dir + "/" + Tag + ".out";
    P.ErrPath = Dir + "/" + Tag + ".err";
    return P;
  }
  TRun Run(std::vector<std::string> Args) { return Wait(Start(std::move(Args))); }

  std::string Exif(const std::string &Path, const std::string &Tags) {
    return Capture("exiftool -s -s -s -n " + Tags + " '" + Path + "'");
  }

  std::string Dir;
};

}  // namespace

// The README's one-liner: a folder of camera photos, some turned, some small.
TEST_F(RunnerOptions, NewcomerOneLinerConvertsAFolderUprightWithMetadataKept) {
  TESSIVO_REQUIRE(HaveTool("exiftool") && HaveTool("identify")) << "exiftool or ImageMagick";
  Photo("photos/wide.jpg", 2400, 1800);
  Photo("photos/turned.jpg", 2400, 1600, 6, 2);  // stored on its side, tagged "rotate 90 CW"
  Photo("photos/small.jpg", 800, 600, 1, 3);
  const TRun R = Run({"--size", "1600", "--no-enlarge", "--quality", "85", "--out", "out/", "photos/"});
  ASSERT_EQ(R.Status, 0) << R.Err;
  const std::string Out = Dir + "/p/out/";
  EXPECT_EQ(Exif(Out + "wide.jpg", "-ImageWidth -ImageHeight"), "1600\n1200");
  // Upright: the pixels were turned and the tag says so.
  EXPECT_EQ(Exif(Out + "turned.jpg", "-ImageWidth -ImageHeight -Orientation"), "1067\n1600\n1");
  EXPECT_EQ(Exif(Out + "small.jpg", "-ImageWidth -ImageHeight"), "800\n600");
  for (const char *Name : {"wide.jpg", "turned.jpg", "small.jpg"})
    EXPECT_EQ(Exif(Out + Name, "-DateTimeOriginal"), "2013:07:04 12:34:56") << Name;
  EXPECT_EQ(Capture("identify -format %Q '" + Out + "wide.jpg'"), "85");
}

TEST_F(RunnerOptions, StrippingMetadataStillLeavesThePictureUpright) {
  TESSIVO_REQUIRE(HaveTool("exiftool")) << "exiftool";
  Photo("turned.jpg", 1200, 800, 8);
  const TRun R = Run({"--strip-metadata", "--out", "out", "turned.jpg"});
  ASSERT_EQ(R.Status, 0) << R.Err;
  const std::string Out = Dir + "/p/out/turned.jpg";
  EXPECT_EQ(Exif(Out, "-ImageWidth -ImageHeight"), "800\n1200");
  EXPECT_EQ(Exif(Out, "-DateTimeOriginal -Orientation -EXIF:all"), "");
}

struct TRefusal {
  const char *Name;
  std::vector<std::string> Args;
  const char *Says;  // part of the message
};

void PrintTo(const TRefusal &R, std::ostream *Os) { *Os << R.Name; }

class RefusedCommandLines : public RunnerOptions, public ::testing::WithParamInterface<TRefusal> {};

TEST_P(RefusedCommandLines, ExitTwoBeforeAnythingConverts) {
  Photo("a.jpg", 320, 240);
  std::vector<std::string> Args = GetParam().Args;
  Args.insert(Args.begin(), {"--out", "out"});
  Args.push_back("a.jpg");
  const TRun R = Run(Args);
  EXPECT_EQ(R.Status, 2) << R.Err;
  EXPECT_NE(R.Err.find(GetParam().Says), std::string::npos) << R.Err;
  EXPECT_FALSE(fs::exists(Dir + "/p/out"));
}

INSTANTIATE_TEST_SUITE_P(
    Options, RefusedCommandLines,
    ::testing::Values(
        TRefusal{"UnknownLongOption", {"--sise", "50%"}, "unknown option '--sise'"},
        TRefusal{"UnknownSlashSwitch", {"/quality=80"}, "unknown switch '/quality='"},
        TRefusal{"QualityAboveRange", {"--quality", "101"}, "JPEG.Quality must be an integer from 1 to 100"},
        TRefusal{"QualityNotANumber", {"--quality=high"}, "JPEG.Quality must be an integer from 1 to 100"},
        TRefusal{"SetOutOfRange", {"--set", "Resize.InterpolationRadius=9"}, "Resize.InterpolationRadius must be an integer from 1 to 8"},
        TRefusal{"SetUnknownKey", {"--set", "JPEG.Qualty=80"}, "JPEG.Qualty is not a settings key"},
        TRefusal{"SetWithoutSection", {"--set", "Quality=80"}, "expected Section.Key=Value"},
        TRefusal{"WorkersZero", {"--workers", "0"}, "System.MaxThread must be an integer from 1 to 1024"},
        TRefusal{"UnknownFormat", {"--format", "gif"}, "expected jpg, png, bmp, tif or jxr"},
        TRefusal{"SizeBoxMode", {"--size", "800x600:stretch"}, "fit, cover or exact"},
        TRefusal{"SizeZero", {"--size", "0"}, "1 to 65535"},
        TRefusal{"ShardOutsideCount", {"--shard", "3/3"}, "K from 0 to N-1"},
        TRefusal{"ProgressOtherThanJson", {"--progress=xml"}, "only --progress=json"}),
    [](const auto &Info) { return std::string(Info.param.Name); });

TEST_F(RunnerOptions, PathsAfterDoubleDashAreInputsEvenWhenTheyLookLikeOptions) {
  Photo("--quality.jpg", 320, 240);
  const TRun R = Run({"--out", "out", "--", "--quality.jpg"});
  ASSERT_EQ(R.Status, 0) << R.Err;
  EXPECT_TRUE(fs::exists(Dir + "/p/out/--quality.jpg"));
}

TEST_F(RunnerOptions, WindowsProfileWithOutOfRangeValuesLoadsWithOneWarningPerClampedKey) {
  TESSIVO_REQUIRE(HaveTool("identify")) << "ImageMagick";
  Photo("a.jpg", 640, 480);
  Profile("win.ini", "[JPEG]\r\nQuality=250\r\nAlwaysRecompress=1\r\n[Resize]\r\nRule=20\r\n[PNG]\r\nCompressLevel=6\r\n");
  const TRun R = Run({"/ini=win.ini", "--out", "out", "a.jpg"});
  ASSERT_EQ(R.Status, 0) << R.Err;
  EXPECT_NE(R.Err.find("warning: JPEG.Quality=250 is outside 1 to 100; 100 is used"), std::string::npos) << R.Err;
  EXPECT_NE(R.Err.find("warning: Resize.Rule=20 is outside 0 to 13; 0 is used"), std::string::npos) << R.Err;
  size_t Lines = 0;
  for (size_t p = 0; (p = R.Err.find("warning:", p)) != std::string::npos; ++p) ++Lines;
  EXPECT_EQ(Lines, 2u) << R.Err;
  EXPECT_EQ(Capture("identify -format %Q '" + Dir + "/p/out/a.jpg'"), "100");
}

TEST_F(RunnerOptions, DryRunListsEverySourceWithItsOutputAndWritesNothing) {
  Photo("a.jpg", 320, 240);
  Photo("b.jpg", 320, 240, 1, 2);
  fs::create_directories(Dir + "/p/out");
  std::ofstream(Dir + "/p/out/a.jpg") << "taken";
  const TRun R = Run({"--dry-run", "--out", "out/new", "--template", "<old>_web", "a.jpg", "b.jpg"});
  ASSERT_EQ(R.Status, 0) << R.Err;
  EXPECT_EQ(R.Out, Dir + "/p/a.jpg -> " + Dir + "/p/out/new/a_web.jpg\n" + Dir + "/p/b.jpg -> " + Dir +
                       "/p/out/new/b_web.jpg\n");
  EXPECT_FALSE(fs::exists(Dir + "/p/out/new"));
  // Numbered around a file that is there, as the run would.
  const TRun Numbered = Run({"--dry-run", "--out", "out", "a.jpg"});
  EXPECT_EQ(Numbered.Out, Dir + "/p/a.jpg -> " + Dir + "/p/out/a[1].jpg\n");
  EXPECT_EQ(Tree(Dir + "/p/out").size(), 1u);
}

TEST_F(RunnerOptions, ExistingOutputsAreReplacedSkippedOrNumberedAsAsked) {
  Photo("a.jpg", 320, 240);
  struct TCase {
    const char *Option;
    std::vector<std::string> Files;
    bool Replaced;
  };
  for (const TCase &C : {TCase{"--overwrite", {"a.jpg"}, true}, TCase{"--skip-existing", {"a.jpg"}, false},
                         TCase{"--number-existing", {"a.jpg", "a[1].jpg"}, false}}) {
    fs::remove_all(Dir + "/p/out");
    fs::create_directories(Dir + "/p/out");
    std::ofstream(Dir + "/p/out/a.jpg") << "taken";
    const TRun R = Run({C.Option, "--out", "out", "a.jpg"});
    EXPECT_EQ(R.Status, 0) << C.Option << R.Err;
    std::vector<std::string> Names;
    for (const auto &[Name, Bytes] : Tree(Dir + "/p/out")) Names.push_back(Name);
    EXPECT_EQ(Names, C.Files) << C.Option;
    EXPECT_EQ(ReadFile(Dir + "/p/out/a.jpg") != "taken", C.Replaced) << C.Option;
  }
}

TEST_F(RunnerOptions, FormatSizeAndTemplateOptionsShapeTheOutput) {
  TESSIVO_REQUIRE(HaveTool("identify")) << "ImageMagick";
  Photo("a.jpg", 1000, 500);
  struct TCase {
    std::vector<std::string> Args;
    const char *Output;
    const char *Identify;  // "%m %wx%h"
  };
  for (const TCase &C : {TCase{{"--format", "png", "--size", "50%"}, "a.png", "PNG 500x250"},
                         TCase{{"--format", "bmp", "--size", "300x300"}, "a.bmp", "BMP3 300x150"},
                         TCase{{"--format", "tif", "--size", "300x300:cover"}, "a.tif", "TIFF 600x300"},
                         TCase{{"--size", "300x300:exact", "--template", "<old>_sq"}, "a_sq.jpg", "JPEG 300x300"},
                         TCase{{"--size", "2000", "--no-enlarge"}, "a.jpg", "JPEG 1000x500"},
                         TCase{{"--size", "2000"}, "a.jpg", "JPEG 2000x1000"}}) {
    fs::remove_all(Dir + "/p/out");
    std::vector<std::string> Args = C.Args;
    Args.insert(Args.end(), {"--workers", "2", "--out", "out", "a.jpg"});
    const TRun R = Run(Args);
    ASSERT_EQ(R.Status, 0) << C.Output << R.Err;
    // The first page: a TIFF carries its thumbnail as a second one.
    EXPECT_EQ(Capture("identify -format '%m %wx%h' '" + Dir + "/p/out/" + C.Output + "[0]'"), C.Identify);
  }
}

// The printed profile holds everything the command line changed: a run with
// it as the profile writes the same bytes as the run with the options.
TEST_F(RunnerOptions, PrintedProfileReproducesTheCommandLine) {
  Photo("a.jpg", 900, 600, 6);
  Profile("base.ini", "[JPEG]\nQuality=60\n[ExifRotationFilter]\nUse=0\n");
  const std::vector<std::string> Options = {"/ini=base.ini", "--size", "400", "--quality", "77",
                                            "--strip-metadata", "--format", "png", "--set", "PNG.CompressLevel=1"};
  std::vector<std::string> Print = Options;
  Print.insert(Print.end(), {"--out", Dir + "/p/saved", "--print-profile"});
  const TRun P = Run(Print);
  ASSERT_EQ(P.Status, 0) << P.Err;
  Profile("saved.ini", P.Out);
  const TRun Saved = Run({"/ini=saved.ini", "a.jpg"});
  ASSERT_EQ(Saved.Status, 0) << Saved.Err;
  std::vector<std::string> Direct = Options;
  Direct.insert(Direct.end(), {"--out", "direct", "a.jpg"});
  const TRun D = Run(Direct);
  ASSERT_EQ(D.Status, 0) << D.Err;
  const auto SavedFiles = Tree(Dir + "/p/saved"), DirectFiles = Tree(Dir + "/p/direct");
  ASSERT_EQ(SavedFiles.size(), 1u);
  EXPECT_EQ(SavedFiles, DirectFiles);
  EXPECT_NE(P.Out.find("CompressLevel=1"), std::string::npos);
  EXPECT_NE(P.Out.find("Quality=77"), std::string::npos);
}

// Each line of --progress=json is read by python3's json module.
TEST_F(RunnerOptions, JsonProgressIsOneParsableObjectPerFinishedFile) {
  TESSIVO_REQUIRE(HaveTool("python3")) << "python3";
  Photo("good \"quoted\".jpg", 320, 240);
  Photo("second.jpg", 320, 240, 1, 2);
  // An output that cannot be written: a folder holds its name.
  Photo("broken.jpg", 320, 240, 1, 3);
  fs::create_directories(Dir + "/p/out/broken.jpg/inside");
  const TRun R = Run({"--progress=json", "--overwrite", "--set", "JPEG.AlwaysRecompress=1", "--out", "out",
                      "good \"quoted\".jpg", "second.jpg", "broken.jpg"});
  EXPECT_EQ(R.Status, 1) << R.Err;
  std::ofstream(Dir + "/progress.jsonl", std::ios::binary) << R.Out;
  const std::string Script =
      "import json,sys\n"
      "rows=[json.loads(l) for l in open(sys.argv[1],encoding='utf-8')]\n"
      "for r in sorted(rows,key=lambda r:r['source']):\n"
      "  assert set(r)=={'source','output','status','message','seconds'},r\n"
      "  assert isinstance(r['seconds'],float) and r['seconds']>=0,r\n"
      "  print(r['source'].split('/')[-1],r['output'].split('/')[-1],r['status'],bool(r['message']))\n";
  std::ofstream(Dir + "/check.py") << Script;
  EXPECT_EQ(Capture("python3 '" + Dir + "/check.py' '" + Dir + "/progress.jsonl' 2>&1"),
            "broken.jpg broken.jpg failed True\n"
            "good \"quoted\".jpg good \"quoted\".jpg converted False\n"
            "second.jpg second.jpg converted False");
}

// Three shards at once into one shared folder that already holds a name the
// run must number around: together they write exactly one run's files.
TEST_F(RunnerOptions, ThreeShardsAtOnceWriteExactlyTheFilesOfOneRun) {
  for (int i = 0; i < 10; ++i) Photo("in/IMG_" + std::to_string(i) + ".jpg", 400 + 16 * i, 300, 1 + i % 8, i + 1);
  const std::vector<std::string> Options = {"--size", "50%", "--template", "<n3>_<old>", "--set",
                                            "JPEG.AlwaysRecompress=1"};
  // A file already holds the name the third entry would get.
  std::vector<std::string> Listing = Options;
  Listing.insert(Listing.end(), {"--dry-run", "--out", "x", "in"});
  const TRun L = Run(Listing);
  ASSERT_EQ(L.Status, 0) << L.Err;
  std::vector<std::string> Names;
  for (size_t p = 0; (p = L.Out.find(Dir + "/p/x/", p)) != std::string::npos; p += 1)
    Names.push_back(L.Out.substr(p + Dir.size() + 5, L.Out.find('\n', p) - p - Dir.size() - 5));
  ASSERT_EQ(Names.size(), 10u) << L.Out;
  const std::string Taken = Names[2];
  auto Prepare = [&](const std::string &Out) {
    fs::create_directories(Dir + "/p/" + Out);
    std::ofstream(Dir + "/p/" + Out + "/" + Taken) << "there before";
  };
  Prepare("whole");
  std::vector<std::string> Whole = Options;
  Whole.insert(Whole.end(), {"--out", "whole", "in"});
  const TRun W = Run(Whole);
  ASSERT_EQ(W.Status, 0) << W.Err;

  Prepare("shared");
  std::vector<pid_t> Pids;
  for (int k = 0; k < 3; ++k) {
    std::vector<std::string> Args = Options;
    Args.insert(Args.end(), {"--shard", std::to_string(k) + "/3", "--out", "shared", "in"});
    Pids.push_back(Start(Args, "shard" + std::to_string(k)));
  }
  for (int k = 0; k < 3; ++k) {
    const TRun S = Wait(Pids[size_t(k)], "shard" + std::to_string(k));
    EXPECT_EQ(S.Status, 0) << S.Err;
  }
  const auto WholeFiles = Tree(Dir + "/p/whole");
  EXPECT_EQ(WholeFiles.size(), 11u);
  EXPECT_TRUE(WholeFiles.count(Taken.substr(0, Taken.size() - 4) + "[1].jpg")) << Taken;
  EXPECT_EQ(Tree(Dir + "/p/shared"), WholeFiles);
}

// A file that converts with a warning (a damaged Exif block, libjpeg's
// complaint about stray bytes) keeps exit status 0 and is counted and
// reported as such; --strict fails the run on it; a file that does not
// convert (its data ends early) is a failure either way.
TEST_F(RunnerOptions, WarningsKeepTheRunCleanUnlessStrict) {
  TESSIVO_REQUIRE(HaveTool("python3") && HaveTool("djpeg") && HaveTool("exiftool")) << "python3, djpeg, exiftool";
  Photo("good.jpg", 320, 240);
  std::string Damaged = ReadFile(Photo("exif.jpg", 320, 240, 1, 2));
  const size_t Tiff = Damaged.find(std::string("Exif\0\0", 6)) + 6;
  ASSERT_LT(Tiff, Damaged.size());
  // IFD0 is said to start far past the end of the block.
  Damaged.replace(Tiff + 4, 4, Damaged[Tiff] == 'I' ? std::string("\xF0\xFF\xFF\xFF", 4) : std::string("\xFF\xFF\xFF\xF0", 4));
  std::ofstream(Dir + "/p/exif.jpg", std::ios::binary) << Damaged;
  std::string Stray = ReadFile(Photo("stray.jpg", 320, 240, 1, 3));
  Stray.insert(Stray.size() - 2, std::string(64, '\x55'));  // bytes between the scan and EOI
  std::ofstream(Dir + "/p/stray.jpg", std::ios::binary) << Stray;
  // The outside tools see the same damage.
  ASSERT_NE(Capture("exiftool -validate -warning -a '" + Dir + "/p/exif.jpg' 2>&1"), "");
  ASSERT_NE(Capture("djpeg '" + Dir + "/p/stray.jpg' 2>&1 >/dev/null").find("Corrupt JPEG data"), std::string::npos);

  const struct {
    const char *File;
    const char *Status;
    const char *Message;  // the start of the file's report, after its path or name
  } Expected[] = {
      {"exif.jpg", "warning", ":Exif情報が破損している可能性があります"},
      {"good.jpg", "converted", ""},
      {"stray.jpg", "warning", ": JPEG: Corrupt JPEG data"},
  };
  std::ofstream(Dir + "/check.py") << "import json,sys\n"
                                      "for l in open(sys.argv[1],encoding='utf-8'):\n"
                                      "  r=json.loads(l)\n"
                                      "  print(r['source'].split('/')[-1],r['status'],r['message'])\n";
  for (const bool Strict : {false, true}) {
    std::vector<std::string> Args = {"--progress=json", "--size", "50%", "--overwrite", "--out", "out"};
    if (Strict) Args.push_back("--strict");
    for (const auto &E : Expected) Args.push_back(E.File);
    const TRun R = Run(Args);
    EXPECT_EQ(R.Status, Strict ? 1 : 0) << R.Err;
    EXPECT_NE(R.Err.find("3 of 3 files converted"), std::string::npos) << R.Err;
    EXPECT_NE(R.Err.find("2 with warnings, 0 failed, 0 skipped\n"), std::string::npos) << R.Err;
    EXPECT_NE(R.Err.find("Warnings (2):\n"), std::string::npos) << R.Err;
    EXPECT_EQ(R.Err.find("ErrorLog"), std::string::npos) << R.Err;
    std::ofstream(Dir + "/progress.jsonl", std::ios::binary) << R.Out;
    const std::string Rows = Capture("python3 '" + Dir + "/check.py' '" + Dir + "/progress.jsonl' 2>&1") + "\n";
    for (const auto &E : Expected) {
      EXPECT_EQ(Exif(Dir + "/p/out/" + E.File, "-ImageWidth"), "160") << E.File;
      const std::string Row = std::string(E.File) + " " + E.Status + " ";
      const auto At = Rows.find(Row);
      ASSERT_NE(At, std::string::npos) << Rows;
      const std::string Message = Rows.substr(At + Row.size(), Rows.find('\n', At) - At - Row.size());
      if (*E.Message) EXPECT_NE(Message.find(E.Message), std::string::npos) << Message;
      else EXPECT_EQ(Message, "") << E.File;
    }
  }

  // Data that ends early does not convert: a failure, counted beside the
  // outputs that were there and skipped.
  const std::string Whole = ReadFile(Dir + "/p/good.jpg");
  std::ofstream(Dir + "/p/short.jpg", std::ios::binary) << Whole.substr(0, Whole.size() / 2);
  const TRun R = Run({"--size", "50%", "--skip-existing", "--out", "out", "good.jpg", "exif.jpg", "stray.jpg",
                      "short.jpg"});
  EXPECT_EQ(R.Status, 1) << R.Err;
  EXPECT_NE(R.Err.find("0 of 1 files converted"), std::string::npos) << R.Err;
  EXPECT_NE(R.Err.find("0 with warnings, 1 failed, 3 skipped\n"), std::string::npos) << R.Err;
  EXPECT_NE(R.Err.find("ErrorLog (1):\n  short.jpg: "), std::string::npos) << R.Err;
  EXPECT_FALSE(fs::exists(Dir + "/p/out/short.jpg"));
}
