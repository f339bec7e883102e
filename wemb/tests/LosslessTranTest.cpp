// losslesstran against jpegtran: every transform, crop, grayscale,
// optimisation and progressive result must decode to the same pixels as
// jpegtran's with the matching options (-trim, since partial edge blocks that
// a mirror would carry inside are dropped), on MCU and non-MCU sizes.
#include "testutil/TestEnv.h"
#include "wemb/tests/WembTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

namespace fs = std::filesystem;
using namespace wembtest;

std::string GLastMessage;
void KeepMessage(const char *, const char *Text) { GLastMessage = Text; }

struct TFixture {
  const char *Name;
  int W, H;
  std::vector<std::string> Options;
};

const TFixture Fixtures[] = {
    {"W4000xH3000_420", 4000, 3000, {"-sample", "2x2"}},
    {"W4001xH2999_420", 4001, 2999, {"-sample", "2x2"}},
    {"W1203xH901_444", 1203, 901, {"-sample", "1x1"}},
    {"W643xH479_422", 643, 479, {"-sample", "2x1"}},
    {"W1001xH751_Gray", 1001, 751, {"-grayscale"}},
};

struct TOp {
  const char *Name;
  std::vector<std::string> JpegtranArgs;
  int CropW, CropH, CropX, CropY;
  int Transform;
  int Flags;
};

const TOp Ops[] = {
    {"Copy", {}, 0, 0, 0, 0, 1, 0},
    {"MirrorLeftRight", {"-flip", "horizontal", "-trim"}, 0, 0, 0, 0, 2, 0},
    {"Rotate180", {"-rotate", "180", "-trim"}, 0, 0, 0, 0, 3, 0},
    {"MirrorTopBottom", {"-flip", "vertical", "-trim"}, 0, 0, 0, 0, 4, 0},
    {"Transpose", {"-transpose", "-trim"}, 0, 0, 0, 0, 5, 0},
    {"Rotate90", {"-rotate", "90", "-trim"}, 0, 0, 0, 0, 6, 0},
    {"Transverse", {"-transverse", "-trim"}, 0, 0, 0, 0, 7, 0},
    {"Rotate270", {"-rotate", "270", "-trim"}, 0, 0, 0, 0, 8, 0},
    // jpegtran gets the rectangle clipped to the picture (it would extend the
    // picture instead); the left and top edges move to the MCU grid in both.
    {"CropInside", {}, 301, 203, 37, 21, 1, 0},
    {"CropOverTheEdges", {}, 5000, 5000, 100, 90, 1, 0},
    {"CropThenRotate90", {"-rotate", "90", "-trim"}, 640, 480, 48, 32, 6, 0},
    {"Grayscale", {"-grayscale"}, 0, 0, 0, 0, 1, WEMB_GRAYSCALE},
    {"GrayscaleRotate90", {"-grayscale", "-rotate", "90", "-trim"}, 0, 0, 0, 0, 6, WEMB_GRAYSCALE},
    {"Optimize", {"-optimize"}, 0, 0, 0, 0, 1, WEMB_OPTIMIZE},
    {"Progressive", {"-progressive"}, 0, 0, 0, 0, 1, WEMB_PROGRESSIVE},
    {"OptimizeProgressiveRotate270", {"-optimize", "-progressive", "-rotate", "270", "-trim"}, 0, 0, 0, 0, 8,
     WEMB_OPTIMIZE | WEMB_PROGRESSIVE},
};

class LosslessTran : public ::testing::TestWithParam<std::tuple<int, int>> {
 protected:
  void SetUp() override {
    Dir = fs::temp_directory_path() / ("wemb-tran-" + std::to_string(getpid()));
    fs::create_directories(Dir);
  }
  void TearDown() override { fs::remove_all(Dir); }
  fs::path Dir;
};

TEST_P(LosslessTran, DecodesAsJpegtranWithTheSameOptions) {
  TESSIVO_REQUIRE(HaveProgram("cjpeg") && HaveProgram("jpegtran") && HaveProgram("djpeg"));
  const TFixture &f = Fixtures[std::get<0>(GetParam())];
  const TOp &op = Ops[std::get<1>(GetParam())];
  const std::string in = CachedJpeg(f.Name, f.W, f.H, f.Options);
  const std::string bytes = ReadFile(in);
  ASSERT_GT(bytes.size(), 1000u);

  ASSERT_TRUE(init_jpegtran(AppendToString, KeepMessage));
  std::string ours;
  ASSERT_TRUE(losslesstran(reinterpret_cast<const uint8_t *>(bytes.data()), uint32_t(bytes.size()), op.CropW,
                           op.CropH, op.CropX, op.CropY, op.Transform, &ours, op.Flags))
      << GLastMessage;
  const std::string tag = std::string(f.Name) + "-" + op.Name;
  const fs::path oursPath = Dir / (tag + "-ours.jpg"), refPath = Dir / (tag + "-ref.jpg");
  WriteFile(oursPath, ours);
  // jpegtran crops in the coordinates of its output, we crop before turning:
  // the reference crops in a first run and turns in a second.
  std::string refIn = in;
  if (op.CropW > 0) {
    const fs::path cropped = Dir / (tag + "-cropped.jpg");
    int st = -1;
    RunProgram({"jpegtran", "-copy", "all", "-crop",
                std::to_string(std::min(op.CropW, f.W - op.CropX)) + "x" +
                    std::to_string(std::min(op.CropH, f.H - op.CropY)) + "+" + std::to_string(op.CropX) + "+" +
                    std::to_string(op.CropY),
                "-outfile", cropped.string(), in},
               &st);
    ASSERT_EQ(st, 0) << "jpegtran -crop failed";
    refIn = cropped.string();
  }
  std::vector<std::string> args{"jpegtran", "-copy", "all"};
  args.insert(args.end(), op.JpegtranArgs.begin(), op.JpegtranArgs.end());
  args.insert(args.end(), {"-outfile", refPath.string(), refIn});
  int st = -1;
  RunProgram(args, &st);
  ASSERT_EQ(st, 0) << "jpegtran failed";

  const testutil::TNetpbm a = Decode(oursPath.string()), b = Decode(refPath.string());
  ASSERT_GT(b.Width, 0u);
  ASSERT_EQ(a.Width, b.Width);
  ASSERT_EQ(a.Height, b.Height);
  ASSERT_EQ(a.Depth, b.Depth);
  size_t differing = 0;
  for (size_t i = 0; i < a.Samples.size(); ++i) differing += a.Samples[i] != b.Samples[i];
  EXPECT_EQ(differing, 0u);
  if (op.Flags & (WEMB_OPTIMIZE | WEMB_PROGRESSIVE)) {
    const double refSize = double(fs::file_size(refPath));
    EXPECT_LE(double(ours.size()), refSize * 1.005) << "ours " << ours.size() << ", jpegtran " << refSize;
  }
  fs::remove(oursPath);
  fs::remove(refPath);
}

INSTANTIATE_TEST_SUITE_P(
    EveryFixtureAndOperation, LosslessTran,
    ::testing::Combine(::testing::Range(0, int(std::size(Fixtures))), ::testing::Range(0, int(std::size(Ops)))),
    [](const ::testing::TestParamInfo<std::tuple<int, int>> &P) {
      return std::string(Ops[std::get<1>(P.param)].Name) + "_" + Fixtures[std::get<0>(P.param)].Name;
    });

}  // namespace
