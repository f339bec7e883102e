// The tone and grayscale steps through the real tessivo program, checked
// against ImageMagick's own level and grayscale operators, djpeg and exiftool
// on files ImageMagick makes.
#include "testutil/TestEnv.h"
#include "app/tests/RunTessivo.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using testrun::Capture;
using testrun::ReadFile;
using testrun::Shell;
using testrun::TRun;

// How two raw sample files differ: the largest difference and how many samples differ at all.
struct TDiff {
  size_t Samples = 0;
  int Max = -1;
  size_t Differing = 0;
};
TDiff Compare(const std::string &A, const std::string &B, bool Sixteen = false) {
  TDiff d;
  if (A.size() != B.size() || A.empty()) return d;
  const size_t step = Sixteen ? 2 : 1;
  d.Max = 0;
  for (size_t i = 0; i + step <= A.size(); i += step) {
    auto at = [&](const std::string &S) {
      return Sixteen ? (uint8_t(S[i]) << 8 | uint8_t(S[i + 1])) : int(uint8_t(S[i]));
    };
    const int diff = std::abs(at(A) - at(B));
    d.Max = std::max(d.Max, diff);
    d.Differing += diff != 0;
    ++d.Samples;
  }
  return d;
}

class ToneRunner : public ::testing::Test {
protected:
  void SetUp() override {
    char Tmpl[] = "/tmp/tessivo-tone-XXXXXX";
    Dir = ::mkdtemp(Tmpl);
    fs::create_directories(Dir + "/data/ini");
    fs::create_directories(Dir + "/p");
  }
  void TearDown() override { fs::remove_all(Dir); }

  bool HaveImageMagick() { return Shell("command -v convert"); }

  // Converts the named sources with a profile whose effect sections are Effects;
  // no resize, outputs by Template below the test folder.
  TRun Convert(const std::string &Effects, const std::string &Template, std::vector<std::string> Args) {
    std::ofstream(Dir + "/data/ini/t.ini") << "[File]\nFileNameFormat=" + Dir + "/" + Template +
                                                  "\nAddSubFolder=0\n[ResizeFilter]\nUse=0\n" + Effects;
    testrun::TRunPlace P;
    P.Env = {"TESSIVOPLUS_DATA=" + Dir + "/data", "HOME=" + Dir, "PATH=/usr/bin:/bin", "LANG=C.UTF-8"};
    P.WorkDir = Dir + "/p";
    P.ErrPath = Dir + "/stderr.txt";
    Args.insert(Args.begin(), "/ini=t.ini");
    return testrun::WaitTessivo(testrun::StartTessivo(Args, P), P);
  }

  // The samples of an image file as raw bytes ("rgb", "gray"; 8 or 16 bits, most significant byte first).
  std::string Raw(const std::string &File, const std::string &Kind, int Depth = 8, const std::string &Ops = "") {
    const std::string Out = Dir + "/raw.bin";
    fs::remove(Out);
    if (!Shell("convert " + File + Ops + " -endian MSB -depth " + std::to_string(Depth) + " " + Kind + ":" + Out))
      return "";
    return ReadFile(Out);
  }
  // ImageMagick's result of Ops on File at 16 bits, rounded to 8 bits here:
  // its own 8-bit output truncates instead of rounding.
  std::string Rounded8(const std::string &File, const std::string &Kind, const std::string &Ops) {
    const std::string wide = Raw(File, Kind, 16, Ops);
    std::string out;
    for (size_t i = 0; i + 1 < wide.size(); i += 2)
      out += char(((uint32_t(uint8_t(wide[i])) << 8 | uint8_t(wide[i + 1])) * 2 / 257 + 1) >> 1);
    return out;
  }

  std::string Dir;
};

// Levels 10 / 245 with gamma 1.0 and 1.8, on the luma of a gray picture (the
// master) and on the three channels of a colour one, against ImageMagick's
// -level with the same points: 10 and 245 of 255 are 3.92 % and 96.08 %.
// Tolerance one 8-bit step: the effect rounds to the 14-bit working depth
// (1/64 of a step) before the output rounds to 8 bits, and the percentages
// are 10/255 and 245/255 rounded to two decimals, so a value lying within
// about 1/50 of a step of a rounding boundary may land on the other side.
TEST_F(ToneRunner, LevelsMatchImageMagickLevelWithinOneStep) {
  TESSIVO_REQUIRE(HaveImageMagick()) << "ImageMagick's convert not installed (imagemagick)";
  const std::string P = Dir + "/p/";
  ASSERT_TRUE(Shell("convert -seed 7 -size 96x64 plasma:fractal -depth 8 " + P + "colour.png"));
  ASSERT_TRUE(Shell("convert -size 256x8 gradient:black-white -colorspace Gray -depth 8 " + P + "gray.png"));
  struct Case {
    const char *Name;
    const char *Gamma;
    const char *Source, *Kind;
    bool Master;
  } cases[] = {
      {"gray, master, gamma 1.0", "1.0", "gray", "gray", true},
      {"gray, master, gamma 1.8", "1.8", "gray", "gray", true},
      {"colour, three channels, gamma 1.0", "1.0", "colour", "rgb", false},
      {"colour, three channels, gamma 1.8", "1.8", "colour", "rgb", false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    std::string levels = "[Levels]\nUse=1\n";
    for (int ch : c.Master ? std::vector<int>{0} : std::vector<int>{1, 2, 3})
      levels += "InputMin" + std::to_string(ch) + "=10\nInputMax" + std::to_string(ch) + "=245\nGamma" +
                std::to_string(ch) + "=" + c.Gamma + "\n";
    fs::remove_all(Dir + "/out");
    const TRun R = Convert(levels, "out/<old>.png", {P + c.Source + ".png"});
    ASSERT_EQ(R.Status, 0) << R.Err;
    const std::string Expected =
        Rounded8(P + c.Source + ".png", c.Kind, std::string(" -level 3.92%,96.08%,") + c.Gamma);
    const TDiff d = Compare(Raw(Dir + "/out/" + c.Source + ".png", c.Kind), Expected);
    ASSERT_GT(d.Samples, 0u);
    EXPECT_LE(d.Max, 1);
    EXPECT_LT(d.Differing, d.Samples / 50) << d.Differing << " of " << d.Samples << " samples differ";
    EXPECT_EQ(Capture("identify -format %z " + Dir + "/out/" + c.Source + ".png"), "8");
  }
}

// The same levels leave the effect as 14-bit samples; they still save as an
// 8-bit JPEG and, asked for, a 16-bit PNG. The 16-bit PNG is held to
// ImageMagick's 16-bit result within 6 of 65535: the 14-bit depth has steps
// of 4.02 (half a step of rounding) and the 3.92 % black point is 0.5 of
// 65535 below 10/255, stretched by 255/235.
TEST_F(ToneRunner, FourteenBitResultsSaveAsEightBitJpegAndSixteenBitPng) {
  TESSIVO_REQUIRE(HaveImageMagick()) << "ImageMagick's convert not installed (imagemagick)";
  const std::string P = Dir + "/p/";
  ASSERT_TRUE(Shell("convert -seed 7 -size 96x64 plasma:fractal -depth 8 " + P + "colour.png"));
  const std::string levels = "[Levels]\nUse=1\nInputMin1=10\nInputMax1=245\nInputMin2=10\nInputMax2=245\n"
                             "InputMin3=10\nInputMax3=245\n";
  TRun R = Convert(levels + "[PNG]\n16Bit=1\n", "out/<old>.png", {P + "colour.png"});
  ASSERT_EQ(R.Status, 0) << R.Err;
  EXPECT_EQ(Capture("identify -format %z " + Dir + "/out/colour.png"), "16");
  ASSERT_TRUE(Shell("convert " + P + "colour.png -depth 16 -level 3.92%,96.08%,1.0 " + Dir + "/expected16.png"));
  const TDiff d16 = Compare(Raw(Dir + "/out/colour.png", "rgb", 16), Raw(Dir + "/expected16.png", "rgb", 16), true);
  ASSERT_GT(d16.Samples, 0u);
  EXPECT_LE(d16.Max, 6);

  R = Convert(levels + "[JPEG]\nQuality=100\nSampleType=2\n", "jpg/<old>.jpg", {P + "colour.png"});
  ASSERT_EQ(R.Status, 0) << R.Err;
  const std::string Jpeg = Dir + "/jpg/colour.jpg";
  EXPECT_EQ(Capture("identify -format %z " + Jpeg), "8");
  // Quality 100 at 4:4:4 only rounds the DCT coefficients: a few steps at most.
  const TDiff d8 = Compare(Raw(Jpeg, "rgb"), Rounded8(P + "colour.png", "rgb", " -level 3.92%,96.08%,1.0"));
  ASSERT_GT(d8.Samples, 0u);
  EXPECT_LE(d8.Max, 4);
}

// Grayscale with the Rec. 601 weights on gamma-encoded values (linear light
// off) against ImageMagick's -grayscale Rec601Luma, which weights the same
// channels by 0.298839, 0.586811 and 0.114350: within one step, since the
// weights differ in the fourth decimal; ImageMagick's result is taken at 16
// bits and rounded here.
TEST_F(ToneRunner, GrayscaleRec601MatchesImageMagickWithinOneStep) {
  TESSIVO_REQUIRE(HaveImageMagick()) << "ImageMagick's convert not installed (imagemagick)";
  const std::string P = Dir + "/p/";
  ASSERT_TRUE(Shell("convert -seed 11 -size 80x60 plasma:fractal -depth 8 " + P + "colour.png"));
  const TRun R = Convert("", "out/<old>.png",
                         {"--set", "GrayscaleFilter.Use=1", "--set", "GrayscaleFilter.Degamma=0", P + "colour.png"});
  ASSERT_EQ(R.Status, 0) << R.Err;
  const std::string Out = Dir + "/out/colour.png";
  EXPECT_EQ(Capture("identify -format %[channels] " + Out), "gray");
  const TDiff d = Compare(Raw(Out, "gray"), Rounded8(P + "colour.png", "gray", " -grayscale Rec601Luma"));
  ASSERT_EQ(d.Samples, 80u * 60u);
  EXPECT_LE(d.Max, 1);
  EXPECT_LT(d.Differing, d.Samples / 50) << d.Differing << " of " << d.Samples << " samples differ";
}

// A gray JPEG with its own profile: the grayscale step leaves it alone, so
// the PNG holds djpeg's decode exactly and the same profile bytes.
TEST_F(ToneRunner, GrayJpegPassesUnchangedWithItsProfile) {
  TESSIVO_REQUIRE(HaveImageMagick()) << "ImageMagick's convert not installed (imagemagick)";
  TESSIVO_REQUIRE(Shell("command -v djpeg")) << "djpeg not installed (libjpeg-turbo-progs)";
  TESSIVO_REQUIRE(Shell("command -v exiftool")) << "exiftool not installed (libimage-exiftool-perl)";
  const std::string P = Dir + "/p/";
  {
    cmsToneCurve *g = cmsBuildGamma(nullptr, 1.8);
    cmsHPROFILE h = cmsCreateGrayProfile(cmsD50_xyY(), g);
    ASSERT_TRUE(cmsSaveProfileToFile(h, (Dir + "/gray18.icc").c_str()));
    cmsCloseProfile(h);
    cmsFreeToneCurve(g);
  }
  ASSERT_TRUE(Shell("convert -seed 3 -size 64x48 plasma:fractal -colorspace Gray -quality 90 " + P + "g.jpg"));
  ASSERT_TRUE(Shell("exiftool -q -overwrite_original \"-ICC_Profile<=" + Dir + "/gray18.icc\" " + P + "g.jpg"));
  ASSERT_TRUE(Shell("djpeg -pnm -outfile " + Dir + "/ref.pgm " + P + "g.jpg"));
  const TRun R = Convert("[GrayscaleFilter]\nUse=1\nType=0\n", "out/<old>.png", {P + "g.jpg"});
  ASSERT_EQ(R.Status, 0) << R.Err;
  const std::string Out = Dir + "/out/g.png";
  const TDiff d = Compare(Raw(Out, "gray"), Raw(Dir + "/ref.pgm", "gray"));
  ASSERT_EQ(d.Samples, 64u * 48u);
  EXPECT_EQ(d.Max, 0);
  EXPECT_EQ(Capture("exiftool -b -ICC_Profile " + Out), ReadFile(Dir + "/gray18.icc"));
}

// Colour correction, tone curve and levels are reachable through --set and
// each changes the picture; all three together with the grayscale step and a
// reduction to 4 gray levels give an indexed gray PNG of at most 4 levels.
TEST_F(ToneRunner, EffectsAreReachableThroughSetAndReduceToIndexedGray) {
  TESSIVO_REQUIRE(HaveImageMagick()) << "ImageMagick's convert not installed (imagemagick)";
  const std::string P = Dir + "/p/";
  ASSERT_TRUE(Shell("convert -seed 5 -size 64x48 plasma:fractal -depth 8 " + P + "c.png"));
  const std::string Source = Raw(P + "c.png", "rgb");
  struct Case {
    const char *Name;
    std::vector<std::string> Set;
  } cases[] = {
      {"colour correction", {"ColorCorrection.Use=1", "ColorCorrection.Contrast=60"}},
      {"tone curve", {"ToneCurve.Use=1", "ToneCurve.RGB=0,0,128,200,255,255"}},
      {"levels, automatic per channel", {"Levels.Use=1", "Levels.AutoMode=2", "Levels.ClipShadow=300"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    std::vector<std::string> args;
    for (const std::string &s : c.Set) args.insert(args.end(), {"--set", s});
    args.push_back(P + "c.png");
    fs::remove_all(Dir + "/out");
    const TRun R = Convert("", "out/<old>.png", args);
    ASSERT_EQ(R.Status, 0) << R.Err;
    const std::string Got = Raw(Dir + "/out/c.png", "rgb");
    ASSERT_EQ(Got.size(), Source.size());
    EXPECT_GT(Compare(Got, Source).Differing, Source.size() / 4);
  }
  fs::remove_all(Dir + "/out");
  const TRun R = Convert("", "out/<old>.png",
                         {"--set", "ColorCorrection.Use=1", "--set", "ToneCurve.Use=1", "--set", "Levels.Use=1",
                          "--set", "GrayscaleFilter.Use=1", "--set", "GrayscaleFilter.DecreaseColor=1", "--set",
                          "GrayscaleFilter.Color=4", P + "c.png"});
  ASSERT_EQ(R.Status, 0) << R.Err;
  const std::string Out = Dir + "/out/c.png";
  // IHDR: colour type 3 (indexed) at 1 or 2 bits per index.
  const std::string png = ReadFile(Out);
  ASSERT_GT(png.size(), 26u);
  EXPECT_EQ(int(png[25]), 3);
  EXPECT_LE(int(png[24]), 2);
  const int colours = std::atoi(Capture("identify -format %k " + Out).c_str());
  EXPECT_GE(colours, 2);
  EXPECT_LE(colours, 4);
}

}  // namespace
