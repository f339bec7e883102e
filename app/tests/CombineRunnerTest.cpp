// The combining mode end to end: the real tessivo program with a profile
// that has Combine.Use on, on generated photos and on pictures ImageMagick
// makes (PNG with alpha, gray TIFF); ImageMagick measures and samples the
// pages it writes.
#include "batch/SamplePhotos.h"
#include "io/ImageProbe.h"
#include "io/Pixio.h"
#include "testutil/OutsideTool.h"
#include "testutil/TestEnv.h"
#include "app/tests/RunTessivo.h"

#include <gtest/gtest.h>

#include <array>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {

using testrun::ReadFile;
using testrun::TRun;

using testenv::Capture;
using testenv::HaveImageMagick;
std::string Quoted(const std::string &Path) { return testenv::ShellQuoted(Path); }
std::string Shape(const std::string &Path) { return Capture("identify -format '%[channels] %w %h' " + Quoted(Path)); }

std::array<int, 3> RgbAt(const std::string &Path, int x, int y) {
  const std::string B = Capture("convert " + Quoted(Path) + " -crop 1x1+" + std::to_string(x) + "+" +
                                std::to_string(y) + " +repage -depth 8 rgb:-");
  if (B.size() != 3) return {-1, -1, -1};
  return {uint8_t(B[0]), uint8_t(B[1]), uint8_t(B[2])};
}

size_t Occurrences(const std::string &Text, const std::string &What) {
  size_t n = 0;
  for (size_t p = Text.find(What); p != std::string::npos; p = Text.find(What, p + 1)) ++n;
  return n;
}

class CombineRunner : public ::testing::Test {
protected:
  static void SetUpTestSuite() { LoadPixio(std::string(TESSIVO_BIN_DIR) + "/libpixio.so"); }
  static void TearDownTestSuite() { FreePixio(); }
  void SetUp() override {
    char Tmpl[] = "/tmp/tessivo-combine-run-XXXXXX";
    Dir = ::mkdtemp(Tmpl);
    fs::create_directories(Dir + "/data/ini");
    fs::create_directories(Dir + "/xdg");
    fs::create_directories(Dir + "/p");
  }
  void TearDown() override { fs::remove_all(Dir); }

  std::string Photo(const std::string &Name, uint32_t W, uint32_t H, uint32_t Seed) {
    TSamplePhotoSpec Desc;
    Desc.Width = W;
    Desc.Height = H;
    Desc.Seed = Seed;
    Desc.DateTimeOriginal = "2013:07:04 12:34:56";
    const std::string Path = Dir + "/p/" + Name;
    WriteSamplePhoto(Path, Desc);
    return Path;
  }
  std::string Magick(const std::string &Name, const std::string &Args) {
    const std::string Path = Dir + "/p/" + Name;
    // A format prefix ("PNG32:") goes right before the path.
    const std::string Gap = !Args.empty() && Args.back() == ':' ? "" : " ";
    EXPECT_EQ(std::system(("convert " + Args + Gap + Quoted(Path)).c_str()), 0) << Args;
    return Path;
  }
  void Profile(const std::string &Text) { std::ofstream(Dir + "/data/ini/t.ini") << Text; }
  testrun::TRunPlace Place() const {
    testrun::TRunPlace P;
    P.Env = {"TESSIVOPLUS_DATA=" + Dir + "/data", "XDG_DATA_HOME=" + Dir + "/xdg", "HOME=" + Dir,
             "PATH=/usr/bin:/bin", "LANG=C.UTF-8"};
    P.WorkDir = Dir + "/p";
    P.ErrPath = Dir + "/stderr.txt";
    return P;
  }
  pid_t Start(std::vector<std::string> Args) { return testrun::StartTessivo(std::move(Args), Place()); }
  TRun Wait(pid_t Pid) { return testrun::WaitTessivo(Pid, Place()); }

  std::string Dir;
};

TEST_F(CombineRunner, TwentyFivePicturesOfMixedKindsMakeTheExpectedPagesAndACorruptOneLeavesItsCell) {
  TESSIVO_REQUIRE(HaveImageMagick()) << "ImageMagick (convert, identify)";
  // 15 photos, landscape and portrait by turns, 5 PNG with alpha, 5 gray
  // TIFF, and at position 10 a PNG whose pixel data is damaged behind a
  // sound header, so that it is listed and fails when it is loaded.
  std::vector<std::string> Inputs;
  for (int i = 0; i < 26; ++i) {
    char Name[32];
    if (i == 10) {
      const std::string Path = Magick("i10.png", "-size 400x300 xc:'#00FF00' PNG24:");
      std::string Bytes = ReadFile(Path);
      const size_t At = Bytes.find("IDAT");
      ASSERT_NE(At, std::string::npos);
      Bytes.replace(At + 4, 12, "\xde\xad\xbe\xef\xde\xad\xbe\xef\xde\xad\xbe\xef", 12);
      std::ofstream(Path, std::ios::binary | std::ios::trunc) << Bytes;
      Inputs.push_back(Path);
    } else if (i % 5 == 3) {
      std::snprintf(Name, sizeof Name, "i%02d.png", i);
      Inputs.push_back(Magick(Name, "-size 400x300 xc:'rgba(255,0,0,0.5)' -fill 'rgba(0,0,255,0.8)' "
                                     "-draw 'circle 200,150 200,60' PNG32:"));
    } else if (i % 5 == 4) {
      std::snprintf(Name, sizeof Name, "i%02d.tif", i);
      Inputs.push_back(Magick(Name, "-size 300x400 xc:'#404040' -fill white -draw 'rectangle 50,50 250,350' "
                                     "-type Grayscale -depth 8"));
    } else {
      std::snprintf(Name, sizeof Name, "i%02d.jpg", i);
      Inputs.push_back(i % 2 ? Photo(Name, 480, 640, uint32_t(i)) : Photo(Name, 640, 480, uint32_t(i)));
    }
  }
  // Eight cells a page, four across: 26 pictures make three full pages and one of two.
  Profile("[Combine]\nUse=1\nRows=4\nColumns=2\nWidth=160\nHeight=120\nBlankType=0\nBackgroundColor=16711935\n"
          "[File]\nFileNameFormat=" + Dir + "/out/page<n2>.jpg\n");
  std::vector<std::string> Args = {"/ini=t.ini"};
  Args.insert(Args.end(), Inputs.begin(), Inputs.end());
  const TRun R = Wait(Start(Args));
  EXPECT_EQ(R.Status, 1) << "a picture failed\n" << R.Err;
  EXPECT_EQ(Occurrences(R.Err, "i10.png"), 1u) << R.Err;
  EXPECT_NE(R.Err.find("4 pages written"), std::string::npos) << R.Err;
  const char *Shapes[] = {"srgb 640 240", "srgb 640 240", "srgb 640 240", "srgb 320 120"};
  for (int k = 0; k < 4; ++k) {
    char Name[32];
    std::snprintf(Name, sizeof Name, "/out/page%02d.jpg", k + 1);
    EXPECT_EQ(Shape(Dir + Name), Shapes[k]) << Name;
  }
  EXPECT_FALSE(fs::exists(Dir + "/out/page05.jpg"));
  // Picture 10 is the third of the second page: its cell (top row, third
  // column) shows the magenta background; its neighbours are pictures.
  const std::array<int, 3> Cell = RgbAt(Dir + "/out/page02.jpg", 400, 60);
  EXPECT_NEAR(Cell[0], 255, 12);
  EXPECT_NEAR(Cell[1], 0, 12);
  EXPECT_NEAR(Cell[2], 255, 12);
  const std::array<int, 3> Next = RgbAt(Dir + "/out/page02.jpg", 560, 60);
  EXPECT_FALSE(Next[0] > 230 && Next[1] < 25 && Next[2] > 230) << "picture 11 fills its cell";
}

TEST_F(CombineRunner, StopSignalsDuringCombiningLeaveOnlyCompletePages) {
  // Large PNG pages take long enough to write that a page is still being
  // written when the signals arrive.
  constexpr int Count = 40;
  const std::string First = Photo("IMG_1.jpg", 1600, 1200, 1);
  std::vector<std::string> Inputs = {First};
  for (int i = 2; i <= Count; ++i) {
    Inputs.push_back(Dir + "/p/IMG_" + std::to_string(i) + ".jpg");
    fs::create_hard_link(First, Inputs.back());
  }
  Profile("[Combine]\nUse=1\nRows=2\nColumns=2\nWidth=1600\nHeight=1200\nBlankType=0\n"
          "[File]\nFileNameFormat=" + Dir + "/out/page<n2>.png\n");
  const struct {
    const char *Name;
    std::vector<int> Signals;
    const char *Says;
  } Cases[] = {
      {"SIGINT", {SIGINT}, "stopped: "},
      {"SIGTERM", {SIGTERM}, "stopped: "},
      {"SIGINT twice", {SIGINT, SIGINT}, "abandoned: "},
  };
  for (const auto &C : Cases) {
    fs::remove_all(Dir + "/out");
    std::vector<std::string> Args = {"/ini=t.ini"};
    Args.insert(Args.end(), Inputs.begin(), Inputs.end());
    const pid_t Pid = Start(Args);
    ASSERT_GT(Pid, 0);
    const std::string Why = testrun::SignalOnceAnOutputExists(Pid, Dir + "/out", C.Signals, Dir + "/stderr.txt");
    const TRun R = Wait(Pid);
    ASSERT_EQ(Why, "") << C.Name;
    EXPECT_EQ(R.Status, 1) << C.Name << "\n" << R.Err;
    EXPECT_NE(R.Err.find(C.Says), std::string::npos) << C.Name << "\n" << R.Err;
    int Pages = 0;
    for (const auto &E : fs::directory_iterator(Dir + "/out")) {
      EXPECT_NE(E.path().filename().string()[0], '.') << C.Name << ": a temporary file was left: " << E.path();
      TImageProbe P;
      ASSERT_TRUE(ProbeImageFile(E.path().string(), P)) << E.path();
      EXPECT_EQ(P.Width, 3200) << E.path();
      EXPECT_EQ(P.Height, 2400) << E.path();
      ++Pages;
    }
    EXPECT_GE(Pages, 1) << C.Name;
    EXPECT_LT(Pages, Count / 4) << C.Name;
  }
}

TEST_F(CombineRunner, JsonProgressHasOneLinePerWrittenPage) {
  std::vector<std::string> Args = {"/ini=t.ini", "--progress=json"};
  for (int i = 0; i < 5; ++i) Args.push_back(Photo("a" + std::to_string(i) + ".jpg", 64, 48, uint32_t(i + 1)));
  Profile("[Combine]\nUse=1\nRows=2\nColumns=1\n[File]\nFileNameFormat=" + Dir + "/out/page<n2>.png\n");
  testrun::TRunPlace P = Place();
  P.OutPath = Dir + "/stdout.txt";
  const TRun R = testrun::WaitTessivo(testrun::StartTessivo(Args, P), P);
  EXPECT_EQ(R.Status, 0) << R.Err;
  // Five pictures, two a page: three pages, each named after its first picture.
  EXPECT_EQ(Occurrences(R.Out, "\n"), 3u) << R.Out;
  for (const char *Line : {"\"source\":\"" , "a0.jpg\",\"output\":\"", "page01.png\"", "a2.jpg\",\"output\":\"",
                           "page02.png\"", "a4.jpg\",\"output\":\"", "page03.png\"", "\"status\":\"converted\""})
    EXPECT_NE(R.Out.find(Line), std::string::npos) << Line << "\n" << R.Out;
}

TEST_F(CombineRunner, ListingAndShardingAreRefusedInTheCombiningMode) {
  const std::string In = Photo("a.jpg", 64, 48, 1);
  Profile("[Combine]\nUse=1\n[File]\nFileNameFormat=" + Dir + "/out/page<n2>.png\n");
  for (const std::vector<std::string> &Options : {std::vector<std::string>{"--dry-run"}, {"--shard", "0/2"}}) {
    std::vector<std::string> Args = {"/ini=t.ini"};
    Args.insert(Args.end(), Options.begin(), Options.end());
    Args.push_back(In);
    const TRun R = Wait(Start(Args));
    EXPECT_EQ(R.Status, 2) << Options[0] << "\n" << R.Err;
    EXPECT_NE(R.Err.find("combining mode"), std::string::npos) << R.Err;
    EXPECT_FALSE(fs::exists(Dir + "/out"));
  }
}

}  // namespace
