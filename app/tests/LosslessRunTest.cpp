// tessivo in lossless mode, end to end: the real program publishes the
// parameter block and runs bin/WEMBC per JPEG. Outputs are checked with
// jpegtran, djpeg and exiftool.
#include "app/tests/RunTessivo.h"
#include "batch/SamplePhotos.h"
#include "io/Pixio.h"
#include "testutil/Netpbm.h"
#include "testutil/TestEnv.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>

namespace {

namespace fs = std::filesystem;
using testrun::Capture;
using testrun::TRun;

// The jpegtran options that turn a picture stored with an orientation upright.
const char *const UprightOptions[9] = {"",           "",           "-flip horizontal", "-rotate 180",
                                       "-flip vertical", "-transpose", "-rotate 90",      "-transverse",
                                       "-rotate 270"};

class LosslessRun : public ::testing::Test {
 protected:
  // The sample photos are written through the codec library.
  static void SetUpTestSuite() { LoadPixio(std::string(TESSIVO_BIN_DIR) + "/libpixio.so"); }
  static void TearDownTestSuite() { FreePixio(); }
  void SetUp() override {
    Dir = (fs::temp_directory_path() / ("lossless-run-" + std::to_string(getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name()))
              .string();
    fs::remove_all(Dir);
    fs::create_directories(Dir + "/data/ini");
    fs::create_directories(Dir + "/p");
  }
  void TearDown() override { fs::remove_all(Dir); }

  bool HaveTools() const {
    return !testenv::BinFile("WEMBC").empty() && testrun::Shell("command -v jpegtran") &&
           testrun::Shell("command -v djpeg") && testrun::Shell("command -v exiftool");
  }

  testrun::TRunPlace Place(const std::string &ErrName) const {
    return testrun::IsolatedPlace(Dir, ErrName);
  }
  pid_t Start(std::vector<std::string> Args, const std::string &ErrName = "stderr.txt") {
    return testrun::StartTessivo(std::move(Args), Place(ErrName));
  }
  TRun Wait(pid_t Pid, const std::string &ErrName = "stderr.txt") { return testrun::WaitTessivo(Pid, Place(ErrName)); }
  TRun Run(std::vector<std::string> Args) { return Wait(Start(std::move(Args))); }

  // Phone photos with orientations 1 to 8 in Folder, named o1.jpg to o8.jpg.
  void Phones(const std::string &Folder, uint32_t W = 643, uint32_t H = 479) {
    fs::create_directories(Folder);
    for (uint16_t o = 1; o <= 8; ++o) {
      TSamplePhotoSpec s;
      s.Width = o >= 5 ? H : W;
      s.Height = o >= 5 ? W : H;
      s.Orientation = o;
      s.DateTimeOriginal = "2023:07:0" + std::to_string(o) + " 10:20:30";
      s.Seed = o;
      s.MakerNote = MakerNote(o);
      WriteSamplePhoto(Folder + "/o" + std::to_string(o) + ".jpg", s);
    }
  }

  // A maker note of the camera's own format, different for every photo.
  static std::string MakerNote(uint16_t Orientation) {
    std::string note = "SampleMakerNote" + std::to_string(Orientation);
    for (int i = 0; i < 48; ++i) note.push_back(char(i * 7 + Orientation));
    return note;
  }

  static std::string Tag(const std::string &File, const std::string &Name) {
    std::string v = Capture("exiftool -s3 -n -" + Name + " '" + File + "'");
    while (!v.empty() && v.back() == '\n') v.pop_back();
    return v;
  }
  static std::string Pixels(const std::string &File) { return Capture("djpeg -pnm '" + File + "'"); }
  std::string Reference(const std::string &File, int Orientation) {
    const std::string out = Dir + "/ref.jpg";
    testrun::Shell(std::string("jpegtran -trim ") + UprightOptions[Orientation] + " -outfile '" + out + "' '" +
                   File + "'");
    return Pixels(out);
  }

  std::string Dir;
};

TEST_F(LosslessRun, PhonePhotosComeOutUprightWithOrientation1AndTheirDates) {
  TESSIVO_REQUIRE(HaveTools());
  Phones(Dir + "/in");
  std::map<std::string, std::string> before;
  for (int o = 1; o <= 8; ++o) before[std::to_string(o)] = testrun::ReadFile(Dir + "/in/o" + std::to_string(o) + ".jpg");
  const pid_t pid = Start({"--set", "JPEGTran.Use=1", "--set", "WEMB.Rotation=1", "--out", Dir + "/out", Dir + "/in"});
  const TRun r = Wait(pid);
  ASSERT_EQ(r.Status, 0) << r.Err;
  for (int o = 1; o <= 8; ++o) {
    SCOPED_TRACE("orientation " + std::to_string(o));
    const std::string in = Dir + "/in/o" + std::to_string(o) + ".jpg", out = Dir + "/out/o" + std::to_string(o) + ".jpg";
    ASSERT_TRUE(fs::exists(out));
    EXPECT_EQ(Tag(out, "Orientation"), "1");
    EXPECT_EQ(Tag(out, "DateTimeOriginal"), "2023:07:0" + std::to_string(o) + " 10:20:30");
    EXPECT_EQ(Capture("exiftool -U -b -MakerNoteUnknown '" + out + "'"), MakerNote(uint16_t(o)));
    // Upright landscape, as the sample was painted.
    EXPECT_GT(std::stoi(Tag(out, "ImageWidth")), std::stoi(Tag(out, "ImageHeight")));
    EXPECT_EQ(Pixels(out), Reference(in, o));
    EXPECT_EQ(testrun::ReadFile(in), before[std::to_string(o)]) << "the source changed";
  }
  // Only this run's blocks: other runs (tests in parallel) may hold theirs right now.
  EXPECT_EQ(Capture("ls /dev/shm | grep -c '^QuzenParam-" + std::to_string(pid) + "-'"), "0\n")
      << "a parameter block stayed behind";
}

TEST_F(LosslessRun, SameFileOutputReplacesTheSourceOnlyAfterTheToolSucceeded) {
  TESSIVO_REQUIRE(HaveTools());
  Phones(Dir + "/in");
  const std::string good = Dir + "/in/o6.jpg", bad = Dir + "/in/o3.jpg";
  const std::string original = testrun::ReadFile(good);
  // o3 cut inside its scan: the tool refuses it.
  const std::string cut = testrun::ReadFile(bad).substr(0, original.size() / 2);
  std::ofstream(bad, std::ios::binary | std::ios::trunc) << cut;
  fs::remove(Dir + "/in/o1.jpg");
  for (int o : {2, 4, 5, 7, 8}) fs::remove(Dir + "/in/o" + std::to_string(o) + ".jpg");
  const std::string refGood = Reference(good, 6);
  const TRun r = Run({"--set", "JPEGTran.Use=1", "--set", "WEMB.Rotation=1", "--overwrite", "--out", Dir + "/in",
                      Dir + "/in"});
  EXPECT_EQ(r.Status, 1) << r.Err;
  EXPECT_EQ(Pixels(good), refGood);
  EXPECT_EQ(Tag(good, "Orientation"), "1");
  EXPECT_EQ(testrun::ReadFile(bad), cut) << "a source the tool refused changed";
  EXPECT_NE(r.Err.find("o3.jpg"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("Premature end"), std::string::npos) << r.Err;
  for (const fs::directory_entry &e : fs::directory_iterator(Dir + "/in"))
    EXPECT_EQ(e.path().extension(), ".jpg") << "left behind: " << e.path();
}

TEST_F(LosslessRun, TwoRunsAtOnceOnDifferentFoldersEachUseTheirOwnSettings) {
  TESSIVO_REQUIRE(HaveTools());
  Phones(Dir + "/a", 1280, 960);
  Phones(Dir + "/b", 1280, 960);
  const pid_t a = Start({"--set", "JPEGTran.Use=1", "--set", "WEMB.Rotation=2", "--workers", "2", "--out",
                         Dir + "/out-a", Dir + "/a"},
                        "err-a.txt");
  const pid_t b = Start({"--set", "JPEGTran.Use=1", "--set", "WEMB.Rotation=6", "--workers", "2", "--out",
                         Dir + "/out-b", Dir + "/b"},
                        "err-b.txt");
  const TRun ra = Wait(a, "err-a.txt"), rb = Wait(b, "err-b.txt");
  ASSERT_EQ(ra.Status, 0) << ra.Err;
  ASSERT_EQ(rb.Status, 0) << rb.Err;
  for (int o = 1; o <= 8; ++o) {
    const std::string n = "/o" + std::to_string(o) + ".jpg";
    EXPECT_EQ(Pixels(Dir + "/out-a" + n), Reference(Dir + "/a" + n, 6)) << n;  // 90 degrees clockwise
    EXPECT_EQ(Pixels(Dir + "/out-b" + n), Reference(Dir + "/b" + n, 4)) << n;  // mirrored top-bottom
  }
}

TEST_F(LosslessRun, CtrlCTwiceLeavesNoParameterBlockAndNoPartialFile) {
  TESSIVO_REQUIRE(HaveTools());
  Phones(Dir + "/in", 3000, 2000);
  const pid_t pid = Start({"--set", "JPEGTran.Use=1", "--set", "WEMB.Rotation=1", "--set", "WEMB.OptimizeMode=2",
                           "--workers", "1", "--out", Dir + "/out", Dir + "/in"});
  ASSERT_GT(pid, 0);
  const std::string block = "/dev/shm/QuzenParam-" + std::to_string(pid) + "-0";
  EXPECT_TRUE(testrun::WaitUntil([&] { return fs::exists(Dir + "/out/o1.jpg"); }, std::chrono::seconds(60)));
  EXPECT_TRUE(fs::exists(block));
  kill(pid, SIGINT);
  kill(pid, SIGINT);
  const TRun r = Wait(pid);
  EXPECT_NE(r.Status, 0) << r.Err;
  EXPECT_FALSE(fs::exists(block)) << "the parameter block stayed behind";
  for (const fs::directory_entry &e : fs::directory_iterator(Dir + "/out")) {
    const std::string name = e.path().filename().string();
    EXPECT_NE(name[0], '.') << "a temporary file stayed behind: " << name;
    EXPECT_TRUE(testrun::Shell("djpeg -outfile /dev/null '" + e.path().string() + "'")) << name;
  }
}

TEST_F(LosslessRun, BadJpegsAreLoggedWithoutOutputAndLeftAsTheyWere) {
  TESSIVO_REQUIRE(HaveTools() && testrun::Shell("command -v cjpeg"));
  Phones(Dir + "/in");
  const std::string good = testrun::ReadFile(Dir + "/in/o1.jpg");
  for (int o = 1; o <= 8; ++o) fs::remove(Dir + "/in/o" + std::to_string(o) + ".jpg");
  auto put = [&](const std::string &Name, const std::string &Bytes) {
    std::ofstream(Dir + "/in/" + Name, std::ios::binary) << Bytes;
  };
  put("truncated.jpg", good.substr(0, good.size() / 2));
  const std::string tiff = std::string("II*\0", 4) + std::string("\xF0\xFF\xFF\x7F", 4) + std::string(8, '\0');
  const std::string payload = std::string("Exif\0\0", 6) + tiff;
  put("hostile-exif.jpg", good.substr(0, 2) + "\xFF\xE1" + char(0) + char(payload.size() + 2) + payload + good.substr(2));
  std::ofstream(Dir + "/g.ppm", std::ios::binary) << "P6\n32 16\n255\n" << std::string(32 * 16 * 3, '\x50');
  testrun::Shell("cjpeg -arithmetic -outfile '" + Dir + "/in/arithmetic.jpg' '" + Dir + "/g.ppm'");
  std::map<std::string, std::string> before;
  for (const fs::directory_entry &e : fs::directory_iterator(Dir + "/in"))
    before[e.path().filename().string()] = testrun::ReadFile(e.path().string());
  ASSERT_EQ(before.size(), 3u);
  const TRun r = Run({"--set", "JPEGTran.Use=1", "--set", "WEMB.Rotation=2", "--out", Dir + "/out", Dir + "/in"});
  EXPECT_EQ(r.Status, 1) << r.Err;
  for (const auto &[name, bytes] : before) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(fs::exists(Dir + "/out/" + name));
    EXPECT_EQ(testrun::ReadFile(Dir + "/in/" + name), bytes);
    EXPECT_NE(r.Err.find(name + ": "), std::string::npos) << r.Err;
  }
  EXPECT_NE(r.Err.find("Premature end"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("Exif"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("arithmetic"), std::string::npos) << r.Err;
}

}  // namespace
