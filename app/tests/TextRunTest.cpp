// The text overlay and the image composite through the real tessivo
// program: a batch of photos gets its shooting date stamped at the bottom
// right with a shadow and a logo with alpha laid over at half opacity.
// ImageMagick decodes the outputs, and the same run with the date written
// out literally is the reference for the placeholders.
#include "batch/SamplePhotos.h"
#include "io/Pixio.h"
#include "testutil/TestEnv.h"
#include "app/tests/RunTessivo.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using testrun::TRun;

bool HaveConvert() { return std::system("convert -version >/dev/null 2>&1") == 0; }

// An image decoded by ImageMagick: 8-bit R, G, B per pixel, rows from the top.
struct TRgb {
  uint32_t W = 0, H = 0;
  std::vector<uint8_t> Px;
  int At(uint32_t x, uint32_t y, int c) const { return Px[(size_t(y) * W + x) * 3 + size_t(c)]; }
};

TRgb Decode(const std::string &Path) {
  TRgb r;
  if (FILE *p = ::popen(("identify -format '%w %h' '" + Path + "' 2>/dev/null").c_str(), "r")) {
    if (std::fscanf(p, "%u %u", &r.W, &r.H) != 2) r.W = r.H = 0;
    ::pclose(p);
  }
  r.Px.resize(size_t(r.W) * r.H * 3);
  if (FILE *p = ::popen(("convert '" + Path + "' -depth 8 rgb:- 2>/dev/null").c_str(), "r")) {
    if (std::fread(r.Px.data(), 1, r.Px.size(), p) != r.Px.size()) r.W = r.H = 0;
    ::pclose(p);
  }
  return r;
}

class TextRun : public ::testing::Test {
protected:
  // The sample photos are written with the codec library's JPEG writer.
  static void SetUpTestSuite() { LoadPixio(std::string(TESSIVO_BIN_DIR) + "/libpixio.so"); }
  static void TearDownTestSuite() { FreePixio(); }
  void SetUp() override {
    char Tmpl[] = "/tmp/tessivo-text-XXXXXX";
    Dir = ::mkdtemp(Tmpl);
    fs::create_directories(Dir + "/data/ini");
    fs::create_directories(Dir + "/p");
  }
  void TearDown() override { fs::remove_all(Dir); }

  // "dated.jpg" with a shooting date; "undated.jpg" without Exif, its
  // modification time at noon local time on 3 February 2011.
  void Photos() {
    TSamplePhotoSpec d;
    d.Width = 480, d.Height = 320, d.Seed = 3;
    d.DateTimeOriginal = "2013:05:01 10:20:30";
    WriteSamplePhoto(Dir + "/p/dated.jpg", d);
    d.Orientation = 0;  // no Exif at all
    d.DateTimeOriginal.clear();
    d.Seed = 4;
    WriteSamplePhoto(Dir + "/p/undated.jpg", d);
    std::tm t{};
    t.tm_year = 111, t.tm_mon = 1, t.tm_mday = 3, t.tm_hour = 12, t.tm_isdst = -1;
    const timespec times[2] = {{std::mktime(&t), 0}, {std::mktime(&t), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (Dir + "/p/undated.jpg").c_str(), times, 0), 0);
  }
  // A 120 x 60 logo: transparent, with an opaque white box from (20, 10) to (99, 49).
  void Logo() {
    ASSERT_EQ(std::system(("convert -size 120x60 xc:none -fill white -draw 'rectangle 20,10 99,49' '" + Dir +
                           "/logo.png'")
                              .c_str()),
              0);
  }
  // Runs the profile with the overlay text Text (and the logo when Logo) into Out.
  TRun Stamp(const std::string &Out, const std::string &Text, bool WithLogo) {
    std::ofstream(Dir + "/data/ini/t.ini") << "[AddText]\nUse=" << (Text.empty() ? 0 : 1) << "\nText=" << Text
                                           << "\nFontName=DejaVu Sans\nFontCharset=0\nFontSize=14\n"
                                              "BasePos=8\nX=-6\nY=-4\nShadow=1\nShadowOpacity=100\nGlow=0\n"
                                              "[Composite]\nUse="
                                           << (WithLogo ? 1 : 0) << "\nImageFileName=" << Dir
                                           << "/logo.png\nBasePos=0\nOffsetX=24\nOffsetY=24\nOpacity=50\n";
    testrun::TRunPlace P;
    P.Env = {"TESSIVOPLUS_DATA=" + Dir + "/data", "XDG_DATA_HOME=" + Dir + "/xdg", "HOME=" + Dir,
             "PATH=/usr/bin:/bin", "LANG=C.UTF-8"};
    P.WorkDir = Dir + "/p";
    P.ErrPath = Dir + "/stderr-" + Out + ".txt";
    return testrun::WaitTessivo(
        testrun::StartTessivo({"/ini=t.ini", "--format", "png", "--out", Dir + "/" + Out + "/", Dir + "/p"}, P), P);
  }
  std::string Dir;
};

TEST_F(TextRun, ShootingDateAtTheBottomRightAndAHalfOpaqueLogo) {
  TESSIVO_REQUIRE(HaveConvert()) << "ImageMagick convert missing";
  Photos();
  Logo();
  const TRun plain = Stamp("plain", "", false);
  ASSERT_EQ(plain.Status, 0) << plain.Err;
  const TRun stamped = Stamp("stamped", "<ymd>", true);
  ASSERT_EQ(stamped.Status, 0) << stamped.Err;
  // The placeholder gives what the date written out gives: the shooting
  // date, and the modification date for the photo without one.
  const TRun dated = Stamp("dated", "2013/05/01", true);
  const TRun undated = Stamp("undated", "2011/02/03", true);
  ASSERT_EQ(dated.Status, 0) << dated.Err;
  ASSERT_EQ(undated.Status, 0) << undated.Err;
  EXPECT_EQ(Decode(Dir + "/stamped/dated.png").Px, Decode(Dir + "/dated/dated.png").Px);
  EXPECT_EQ(Decode(Dir + "/stamped/undated.png").Px, Decode(Dir + "/undated/undated.png").Px);
  EXPECT_NE(Decode(Dir + "/dated/dated.png").Px, Decode(Dir + "/undated/dated.png").Px);

  for (const char *name : {"dated.png", "undated.png"}) {
    SCOPED_TRACE(name);
    const TRgb before = Decode(Dir + "/plain/" + name), after = Decode(Dir + "/stamped/" + name);
    ASSERT_EQ(before.W, 480u);
    ASSERT_EQ(after.W, before.W);
    ASSERT_EQ(after.H, before.H);
    // Changed pixels lie in the logo or in the stamp's corner, and both have some.
    uint64_t inLogo = 0, inStamp = 0, elsewhere = 0;
    for (uint32_t y = 0; y < after.H; ++y)
      for (uint32_t x = 0; x < after.W; ++x) {
        bool diff = false;
        for (int c = 0; c < 3; ++c) diff |= after.At(x, y, c) != before.At(x, y, c);
        if (!diff) continue;
        if (x >= 44 && x < 124 && y >= 34 && y < 74) ++inLogo;
        else if (x >= 300 && y >= 280) ++inStamp;
        else ++elsewhere;
      }
    EXPECT_GT(inLogo, 80u * 40u * 9 / 10);  // the white box, where the photo is not white already
    EXPECT_GT(inStamp, 200u);
    EXPECT_EQ(elsewhere, 0u);
    // The box at half opacity: a = 50 x 256 div 100 x 255 shr 8 = 127 of white.
    for (const auto &[x, y] : {std::pair{44u, 34u}, std::pair{80u, 50u}, std::pair{123u, 73u}})
      for (int c = 0; c < 3; ++c) {
        const int s = before.At(x, y, c);
        EXPECT_EQ(after.At(x, y, c), ((127 * 255 + 128 * s + 127) * 257) >> 16) << x << "," << y;
      }
    // The shadow is black and offset down and right: the darkest stamped
    // pixels are darker than the picture there.
    int darkest = 255 * 3, before_ = 0;
    for (uint32_t y = 280; y < after.H; ++y)
      for (uint32_t x = 300; x < after.W; ++x) {
        const int sum = after.At(x, y, 0) + after.At(x, y, 1) + after.At(x, y, 2);
        if (sum < darkest) darkest = sum, before_ = before.At(x, y, 0) + before.At(x, y, 1) + before.At(x, y, 2);
      }
    EXPECT_LT(darkest, before_ - 60);
  }
}

TEST_F(TextRun, CorruptLogoIsReportedOnceAndTheTextStillComes) {
  TESSIVO_REQUIRE(HaveConvert()) << "ImageMagick convert missing";
  Photos();
  std::ofstream(Dir + "/logo.png", std::ios::binary) << "\x89PNG\r\n\x1a\n this is not a picture";
  const TRun r = Stamp("out", "<ymd>", true);
  EXPECT_EQ(r.Status, 1) << r.Err;  // the error log is not empty
  size_t mentions = 0;
  for (size_t p = 0; (p = r.Err.find("logo.png", p)) != std::string::npos; ++p) ++mentions;
  EXPECT_EQ(mentions, 1u) << r.Err;
  EXPECT_NE(r.Err.find("画像合成"), std::string::npos) << r.Err;
  for (const char *name : {"dated.png", "undated.png"}) EXPECT_TRUE(fs::exists(Dir + "/out/" + name)) << name;
}

TEST_F(TextRun, UnknownFontIsAWarningAndTheTextIsDrawnWithTheDefault) {
  TESSIVO_REQUIRE(HaveConvert()) << "ImageMagick convert missing";
  Photos();
  std::ofstream(Dir + "/data/ini/t.ini") << "[AddText]\nUse=1\nText=Hello\nFontName=Typeface That Is Not There\n"
                                            "FontCharset=0\n";
  testrun::TRunPlace P;
  P.Env = {"TESSIVOPLUS_DATA=" + Dir + "/data", "HOME=" + Dir, "PATH=/usr/bin:/bin", "LANG=C.UTF-8"};
  P.WorkDir = Dir + "/p";
  P.ErrPath = Dir + "/stderr.txt";
  const auto run = [&](std::vector<std::string> Extra) {
    std::vector<std::string> args = {"/ini=t.ini", "--format", "png", "--overwrite", "--workers", "1",
                                     "--out", Dir + "/out/"};
    args.insert(args.end(), Extra.begin(), Extra.end());
    args.push_back(Dir + "/p");
    return testrun::WaitTessivo(testrun::StartTessivo(args, P), P);
  };
  const TRun r = run({});
  EXPECT_EQ(r.Status, 0) << r.Err;
  // The worker's first file names the stand-in; the font is known after that.
  EXPECT_NE(r.Err.find("1 with warnings"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("Typeface That Is Not There"), std::string::npos) << r.Err;
  EXPECT_TRUE(fs::exists(Dir + "/out/dated.png"));
  EXPECT_TRUE(fs::exists(Dir + "/out/undated.png"));
  EXPECT_EQ(run({"--strict"}).Status, 1);  // a warning fails a strict run
}

}  // namespace
