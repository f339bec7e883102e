// Lens correction: the code tables, result size and angle, the script bytes,
// the tool choice and the dialog's rules; the lens library's phase tables
// and its orthographic remap against the definition; the step run with the
// real bin/dedistortion, keeping the picture when the tool refuses.
#include "core/IniFile.h"
#include "core/MultiThread.h"
#include "core/RunTempFolder.h"
#include "effects/DeDistortionFilter.h"
#include "effects/DeDistortionForm.h"
#include "effects/Effect.h"
#include "effects/FisheyeLibrary.h"
#include "io/ImageProbe.h"
#include "io/Pixio.h"
#include "testutil/TestEnv.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>

namespace fs = std::filesystem;

namespace {

constexpr double Pi = std::numbers::pi;

// A scratch folder of the test's own.
struct TScratch {
  std::string Dir;
  TScratch() {
    char tmpl[] = "/tmp/lens-test-XXXXXX";
    if (::mkdtemp(tmpl)) Dir = tmpl;
  }
  ~TScratch() {
    std::error_code ec;
    fs::remove_all(Dir, ec);
  }
  void Touch(const std::string &Name) const { std::ofstream(Dir + "/" + Name) << "#!/bin/sh\n"; }
};

// ---------------------------------------------------------------------------
// Tables of the script language codes

struct TCodeCase {
  int32_t Projection;
  int32_t ForPTStitcher, ForDedistortion;
};

TEST(DeDistortionCodes, LensCodeOfEachSourceProjectionForBothTools) {
  for (const TCodeCase c : {TCodeCase{0, 2, 2}, {1, 3, 3}, {2, 5, 21}, {3, 2, 8}}) {
    EXPECT_EQ(DeDistortionLensCode(DEDISTORTION_TOOL_PTSTITCHER, c.Projection), c.ForPTStitcher) << c.Projection;
    EXPECT_EQ(DeDistortionLensCode(DEDISTORTION_TOOL_DEDISTORTION, c.Projection), c.ForDedistortion) << c.Projection;
  }
  EXPECT_EQ(DeDistortionLensCode(DEDISTORTION_TOOL_DEDISTORTION, 4), -1);
}

TEST(DeDistortionCodes, PanoramaCodeOfEachResultProjectionForBothTools) {
  for (const TCodeCase c : {TCodeCase{0, 0, 0}, {1, 1, 1}, {2, 2, 2}, {3, 19, 19}, {4, 3, 3}, {5, 5, 15}}) {
    EXPECT_EQ(DeDistortionPanoramaCode(DEDISTORTION_TOOL_PTSTITCHER, c.Projection), c.ForPTStitcher) << c.Projection;
    EXPECT_EQ(DeDistortionPanoramaCode(DEDISTORTION_TOOL_DEDISTORTION, c.Projection), c.ForDedistortion) << c.Projection;
  }
  EXPECT_EQ(DeDistortionPanoramaCode(DEDISTORTION_TOOL_PTSTITCHER, -1), -1);
}

// ---------------------------------------------------------------------------
// Result size and angle

struct TSizeCase {
  const char *Name;
  const char *Width, *Height;
  int32_t W, H;
  int32_t WantW, WantH;
};

class DeDistortionSize : public ::testing::TestWithParam<TSizeCase> {};

TEST_P(DeDistortionSize, FromTheExpressionsOrTheFallback) {
  const TSizeCase &c = GetParam();
  const TDeDistortionSize s = DeDistortionResultSize(c.Width, c.Height, c.W, c.H);
  EXPECT_EQ(s.Width, c.WantW);
  EXPECT_EQ(s.Height, c.WantH);
}

INSTANTIATE_TEST_SUITE_P(
    DeDistortion, DeDistortionSize,
    ::testing::Values(TSizeCase{"Defaults", "w", "w*0.75", 4000, 3000, 4000, 3000},
                      TSizeCase{"Truncated", "w/3", "h/7", 1000, 1000, 333, 142},
                      TSizeCase{"SmallWidthKept", "300", "h", 4000, 3000, 300, 3000},
                      TSizeCase{"DivisionByZeroFallsBack", "w/0", "h", 4000, 3000, 4000, 2000},
                      TSizeCase{"UnreadableFallsBack", "w*", "h", 3001, 2000, 3001, 1500},
                      TSizeCase{"ZeroHeightFallsBack", "w", "0.9", 4000, 3000, 4000, 2000},
                      TSizeCase{"NegativeIsZeroAndFallsBack", "0-w", "h", 640, 480, 640, 320}),
    [](const auto &Info) { return std::string(Info.param.Name); });

TEST(DeDistortionAngle, PaniniPolynomialForPTStitcherAndCapForRectilinear) {
  // 180 degrees of PTStitcherNG's Panini are 229.19 of the script.
  EXPECT_NEAR(DeDistortionResultAngle(DEDISTORTION_TOOL_PTSTITCHER, 19, 180), 229.19, 0.005);
  EXPECT_NEAR(DeDistortionResultAngle(DEDISTORTION_TOOL_PTSTITCHER, 19, 100),
              1.71997497997294e-10 * 1e10 - 3.68764080713067e-8 * 1e8 + 1.04523593746105e-5 * 1e6 -
                  1.85347411404754e-4 * 1e4 + 1.00248227910585 * 100 + 1.72066929187101e-3,
              1e-9);
  EXPECT_EQ(DeDistortionResultAngle(DEDISTORTION_TOOL_DEDISTORTION, 19, 180), 180);
  EXPECT_EQ(DeDistortionResultAngle(DEDISTORTION_TOOL_DEDISTORTION, 0, 200), 179);
  EXPECT_EQ(DeDistortionResultAngle(DEDISTORTION_TOOL_PTSTITCHER, 0, 179.5), 179);
  EXPECT_EQ(DeDistortionResultAngle(DEDISTORTION_TOOL_PTSTITCHER, 0, 120), 120);
  EXPECT_EQ(DeDistortionResultAngle(DEDISTORTION_TOOL_DEDISTORTION, 2, 300), 300);
}

// ---------------------------------------------------------------------------
// Script bytes for a table of settings

struct TScriptCase {
  const char *Name;
  int32_t Tool, Src, Dest;
  double SrcHFOV, DestHFOV, Yaw, Pitch, Roll;
  const char *Width, *Height;
  int32_t W, H;
  const char *Want;
};

class DeDistortionScript : public ::testing::TestWithParam<TScriptCase> {};

TEST_P(DeDistortionScript, LinesByteForByte) {
  const TScriptCase &c = GetParam();
  TDeDistortionFilter e("/nonexistent");
  e.FTool = c.Tool, e.FSrcProjection = c.Src, e.FDestProjection = c.Dest;
  e.FSrcHFOV = c.SrcHFOV, e.FDestHFOV = c.DestHFOV, e.FYaw = c.Yaw, e.FPitch = c.Pitch, e.FRoll = c.Roll;
  e.FWidth = c.Width, e.FHeight = c.Height;
  EXPECT_EQ(DeDistortionScriptText(e.ScriptFor(c.W, c.H, "/tmp/TessivoPlus-10211500123/dedistortion_src3.tif")),
            c.Want);
}

INSTANTIATE_TEST_SUITE_P(
    DeDistortion, DeDistortionScript,
    ::testing::Values(
        TScriptCase{"DefaultsForPTStitcher", 0, 0, 3, 180, 180, 0, 0, 0, "w", "w*0.75", 4000, 3000,
                    "o y0.00 p0.00 r0.00 f2 v180.00 n\"/tmp/TessivoPlus-10211500123/dedistortion_src3.tif\"\r\n"
                    "p w4000 h3000 f19 v229.19 P\"100 0 0\"\r\nm i1\r\n"},
        TScriptCase{"DefaultsForDedistortion", 1, 0, 3, 180, 180, 0, 0, 0, "w", "w*0.75", 4000, 3000,
                    "o y0.00 p0.00 r0.00 f2 v180.00\r\np w4000 h3000 f19 v180.00 P\"100 0 0\"\r\nm i1\r\n"},
        TScriptCase{"NarrowWidthWrittenAs500", 1, 1, 0, 150, 100, 0, 0, 0, "300", "h/2", 4000, 3000,
                    "o y0.00 p0.00 r0.00 f3 v150.00\r\np w500 h1500 f0 v100.00\r\nm i1\r\n"},
        TScriptCase{"TurnedEquisolidToEquisolid", 1, 2, 5, 170.25, 200, -12.5, 3.75, 90, "w*2", "h", 1000, 800,
                    "o y-12.50 p3.75 r90.00 f21 v170.25\r\np w2000 h800 f15 v200.00\r\nm i1\r\n"},
        TScriptCase{"EquisolidForPTStitcherIsCode5", 0, 2, 5, 180, 180, 1, -1, 0, "w", "h", 600, 400,
                    "o y1.00 p-1.00 r0.00 f5 v180.00 n\"/tmp/TessivoPlus-10211500123/dedistortion_src3.tif\"\r\n"
                    "p w600 h400 f5 v180.00\r\nm i1\r\n"},
        TScriptCase{"OrthographicIsCircularForPTStitcher", 0, 3, 2, 180, 360, 0, 0, 0, "w", "w/2", 2000, 2000,
                    "o y0.00 p0.00 r0.00 f2 v180.00 n\"/tmp/TessivoPlus-10211500123/dedistortion_src3.tif\"\r\n"
                    "p w2000 h1000 f2 v360.00\r\nm i1\r\n"},
        TScriptCase{"OrthographicForDedistortion", 1, 3, 1, 160, 120, 0, 0, 0, "w", "h", 640, 480,
                    "o y0.00 p0.00 r0.00 f8 v160.00\r\np w640 h480 f1 v120.00\r\nm i1\r\n"},
        TScriptCase{"RectilinearAbove179", 1, 0, 0, 180, 200, 0, 0, 0, "w", "h", 800, 600,
                    "o y0.00 p0.00 r0.00 f2 v180.00\r\np w800 h600 f0 v179.00\r\nm i1\r\n"},
        TScriptCase{"FailedExpressionFallsBack", 1, 1, 4, 180, 180, 0, 0, 0, "w/(h-h)", "h", 1234, 999,
                    "o y0.00 p0.00 r0.00 f3 v180.00\r\np w1234 h617 f3 v180.00\r\nm i1\r\n"}),
    [](const auto &Info) { return std::string(Info.param.Name); });

// ---------------------------------------------------------------------------
// Settings and the tool choice

struct TToolCase {
  const char *Name;
  bool HasPTStitcher, HasDedistortion;
  int32_t Stored, Want;
};

class DeDistortionToolChoice : public ::testing::TestWithParam<TToolCase> {};

TEST_P(DeDistortionToolChoice, AfterReadingByTheToolsPresent) {
  const TToolCase &c = GetParam();
  TScratch bin;
  if (c.HasPTStitcher) bin.Touch(PTSTITCHER_TOOL_NAME);
  if (c.HasDedistortion) bin.Touch(DEDISTORTION_TOOL_NAME);
  TDeDistortionFilter e(bin.Dir);
  TMemIniFile ini;
  ini.WriteInteger("DeDistortionFilter", "Tool", c.Stored);
  e.ReadIniFile(ini);
  EXPECT_EQ(e.FTool, c.Want);
  EXPECT_EQ(DeDistortionToolEnabled(e, DEDISTORTION_TOOL_PTSTITCHER), c.HasPTStitcher);
  EXPECT_EQ(DeDistortionToolEnabled(e, DEDISTORTION_TOOL_DEDISTORTION), c.HasDedistortion);
}

INSTANTIATE_TEST_SUITE_P(DeDistortion, DeDistortionToolChoice,
                         ::testing::Values(TToolCase{"OnlyDedistortion", false, true, 0, 1},
                                           TToolCase{"OnlyPTStitcher", true, false, 1, 0},
                                           TToolCase{"BothKeepPTStitcher", true, true, 0, 0},
                                           TToolCase{"BothKeepDedistortion", true, true, 1, 1}),
                         [](const auto &Info) { return std::string(Info.param.Name); });

TEST(DeDistortionSettings, DefaultsAndEveryKeyRoundTrip) {
  TScratch bin;
  bin.Touch(DEDISTORTION_TOOL_NAME);
  TDeDistortionFilter e(bin.Dir);
  e.ReadIniFile(TMemIniFile());
  EXPECT_EQ(e.FMode, 0);
  EXPECT_EQ(e.FTool, 1);  // no PTStitcherNG
  EXPECT_EQ(e.FSrcProjection, 0);
  EXPECT_EQ(e.FSrcHFOV, 180);
  EXPECT_EQ(e.FDestProjection, 3);
  EXPECT_EQ(e.FDestHFOV, 180);
  EXPECT_EQ(e.FWidth, "w");
  EXPECT_EQ(e.FHeight, "w*0.75");
  EXPECT_EQ(e.FRoll, 0);
  EXPECT_EQ(e.FPitch, 0);
  EXPECT_EQ(e.FYaw, 0);
  e.FSrcProjection = 2, e.FSrcHFOV = 165.5, e.FDestProjection = 1, e.FDestHFOV = 123.25;
  e.FWidth = "w*2", e.FHeight = "h+10", e.FRoll = -3.5, e.FPitch = 7.25, e.FYaw = 45;
  TMemIniFile ini;
  e.WriteIniFile(ini);
  EXPECT_EQ(ini.ReadString("DeDistortionFilter", "SrcHFOV", ""), "165.5");
  TDeDistortionFilter back(bin.Dir);
  back.ReadIniFile(ini);
  EXPECT_EQ(back.FSrcProjection, 2);
  EXPECT_EQ(back.FSrcHFOV, 165.5);
  EXPECT_EQ(back.FDestProjection, 1);
  EXPECT_EQ(back.FDestHFOV, 123.25);
  EXPECT_EQ(back.FWidth, "w*2");
  EXPECT_EQ(back.FHeight, "h+10");
  EXPECT_EQ(back.FRoll, -3.5);
  EXPECT_EQ(back.FPitch, 7.25);
  EXPECT_EQ(back.FYaw, 45);
}

TEST(DeDistortionList, TheStepJoinsOnlyWhereAToolIs) {
  TScratch none, withTool;
  withTool.Touch(DEDISTORTION_TOOL_NAME);
  withTool.Touch("libdenoise.so");
  none.Touch("libdenoise.so");
  TEffectList without, with;
  CreateDefaultEffects(without, none.Dir);
  CreateDefaultEffects(with, withTool.Dir);
  EXPECT_EQ(without.FindByID(EFFECT_DEDISTORTION), nullptr);
  ASSERT_NE(with.FindByID(EFFECT_DEDISTORTION), nullptr);
  EXPECT_EQ(with.Count(), without.Count() + 1);
  EXPECT_EQ(with.Items(with.Count() - 1), with.FindByID(EFFECT_DEDISTORTION)) << "the last of the default chain";
  const TEffect &e = *with.FindByID(EFFECT_DEDISTORTION);
  EXPECT_EQ(e.Name(), "歪み補正");
  EXPECT_EQ(e.SectionName(), "DeDistortionFilter");
  EXPECT_EQ(e.Accelerator(), u'D');
  EXPECT_FALSE(e.Use());
}

// ---------------------------------------------------------------------------
// The dialog's rules

struct TFormCase {
  const char *Name;
  int32_t Tool, Src, Dest;
  double SrcHFOV, DestHFOV;
  const char *Width, *Height;
  const char *Want;  // "" when OK passes
};

class DeDistortionFormCheck : public ::testing::TestWithParam<TFormCase> {};

TEST_P(DeDistortionFormCheck, FirstFailureInOrder) {
  const TFormCase &c = GetParam();
  TDeDistortionFormValues v;
  v.Tool = c.Tool, v.SrcProjection = c.Src, v.DestProjection = c.Dest;
  v.SrcHFOV = c.SrcHFOV, v.DestHFOV = c.DestHFOV, v.Width = c.Width, v.Height = c.Height;
  EXPECT_EQ(CheckDeDistortionForm(v), c.Want);
  EXPECT_EQ(v.Width.find(' '), std::string::npos);
  EXPECT_EQ(v.Height.find(' '), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    DeDistortion, DeDistortionFormCheck,
    ::testing::Values(
        TFormCase{"DefaultsWithPTStitcher", 0, 0, 3, 180, 180, "w", "w*0.75", ""},
        TFormCase{"SpacesRemoved", 0, 0, 3, 180, 180, " w * 0.5 ", "h / 2", ""},
        TFormCase{"LetterInExpression", 0, 0, 3, 180, 180, "w*x", "h", DEDISTORTION_EXPRESSION_ERROR},
        TFormCase{"DivisionByZero", 0, 0, 3, 180, 180, "w", "h/(w-h)", DEDISTORTION_EXPRESSION_ERROR},
        TFormCase{"ExpressionBeforeAngle", 1, 0, 0, 180, 200, "w(", "h", DEDISTORTION_EXPRESSION_ERROR},
        TFormCase{"RectilinearAbove179", 1, 0, 0, 180, 179.5, "w", "h", DEDISTORTION_RECTILINEAR_ERROR},
        TFormCase{"Rectilinear179Passes", 0, 0, 0, 180, 179, "w", "h", ""},
        TFormCase{"DedistortionCircularAt180", 1, 0, 3, 180, 180, "w", "h", DEDISTORTION_EQUIDISTANT_ERROR},
        TFormCase{"DedistortionFullFrameAt179_5", 1, 1, 3, 179.5, 180, "w", "h", DEDISTORTION_EQUIDISTANT_ERROR},
        TFormCase{"DedistortionEquisolidAt180", 1, 2, 3, 180, 180, "w", "h", ""},
        TFormCase{"PTStitcherCircularAt180", 0, 0, 0, 180, 100, "w", "h", ""}),
    [](const auto &Info) { return std::string(Info.param.Name); });

TEST(DeDistortionForm, ValuesGoBackOnlyWhenStored) {
  TDeDistortionFilter e("/nonexistent");
  TDeDistortionFormValues v = DeDistortionFormValues(e);
  EXPECT_EQ(v.Width, "w");
  EXPECT_EQ(v.DestProjection, 3);
  v.Width = "w/2", v.Yaw = 30, v.DestHFOV = 150;
  EXPECT_EQ(e.FWidth, "w");  // Cancel: nothing stored
  StoreDeDistortionForm(v, e);
  EXPECT_EQ(e.FWidth, "w/2");
  EXPECT_EQ(e.FYaw, 30);
  EXPECT_EQ(e.FDestHFOV, 150);
}

// ---------------------------------------------------------------------------
// The lens library

double S16(double x) {
  const double a = std::fabs(x);
  if (a < 1) return ((a - 1.8) * a - 0.2) * a + 1;
  if (a < 2) {
    const double d = a - 1;
    return ((-1.0 / 3 * d + 0.8) * d - 7.0 / 15) * d;
  }
  return 0;
}

TEST(FisheyeTaps, EveryPhaseSumsToOneAndKnownPhasesHaveTheirWeights) {
  for (const TFisheyeTapTable *t : {&EvenTaps(), &OddTaps()})
    for (const auto &phase : *t) EXPECT_NEAR(phase[0] + phase[1] + phase[2] + phase[3], 1.0, 1e-15);
  // Worked by hand: S(0.5) = 0.575, S(1.5) = -0.075, S(0) = 1, S(1) = S(2) = 0.
  const std::array<double, 4> half = {-0.075, 0.575, 0.575, -0.075}, whole = {0, 1, 0, 0};
  for (int j = 0; j < 4; ++j) {
    EXPECT_NEAR(EvenTaps()[0][size_t(j)], half[size_t(j)], 1e-15) << j;
    EXPECT_NEAR(EvenTaps()[64][size_t(j)], whole[size_t(j)], 1e-15) << j;
    EXPECT_NEAR(OddTaps()[0][size_t(j)], whole[size_t(j)], 1e-15) << j;
    EXPECT_NEAR(OddTaps()[64][size_t(j)], half[size_t(j)], 1e-15) << j;
  }
  // A quarter phase: the taps sit at -1.25, -0.25, 0.75, 1.75 (odd) and -1.75, -0.75, 0.25, 1.25 (even).
  double odd[4], even[4], so = 0, se = 0;
  for (int j = 0; j < 4; ++j) so += odd[j] = S16(-1 - 0.25 + j), se += even[j] = S16(-1.5 - 0.25 + j);
  for (int j = 0; j < 4; ++j) {
    EXPECT_NEAR(OddTaps()[32][size_t(j)], odd[j] / so, 1e-15);
    EXPECT_NEAR(EvenTaps()[32][size_t(j)], even[j] / se, 1e-15);
  }
}

// A smooth picture that differs everywhere, so a misplaced sample shows.
uint8_t Smooth(int x, int y, int c) {
  return uint8_t(std::lround(127 + 90 * std::sin(x / 23.0 + c) * std::cos(y / 31.0 - c) + 30 * std::sin((x + 2 * y) / 57.0)));
}

// The remap's definition, worked independently: a result pixel at distance
// r from the square's centre looks at theta = r x angle / side; the
// orthographic source shows it at radius (side / 2) sin(theta) / sin(angle / 2),
// read with the Spline16 kernel over 4 x 4 pixels (black outside) at the
// position rounded down to 1/128 of a pixel, counted from pixel edges for an
// even side (its centre is a pixel corner) and from pixel centres for an odd one.
double Reference(const TICCImgInfo &Src, int32_t Side, int32_t Left, int32_t Bottom, double Angle, int32_t X,
                 int32_t Y, int32_t C) {
  const double centre = (Side - 1) / 2.0;  // centres at whole coordinates
  const double dx = X - centre, dy = Y - centre;
  const double a = Angle * Pi / 180, r = std::hypot(dx, dy), theta = r * a / Side;
  if (theta > Pi / 2) return 0;
  const double f = (Side / 2.0) / std::sin(std::min(a, Pi) / 2);
  const double k = r > 0 ? f * std::sin(theta) / r : 0;
  const double shift = Side % 2 == 0 ? 0.5 : 0.0;
  const auto phase = [&](double v) { return std::floor((v + shift) * 128) / 128 - shift; };
  const double sx = phase(centre + dx * k), sy = phase(centre + dy * k);
  if (sx < -1.5 || sy < -1.5 || sx > Side + 0.5 || sy > Side + 0.5) return -1;  // the rim: not compared
  double sum = 0;
  for (int j = int(std::floor(sy)) - 1; j <= int(std::floor(sy)) + 2; ++j)
    for (int i = int(std::floor(sx)) - 1; i <= int(std::floor(sx)) + 2; ++i) {
      if (i < 0 || j < 0 || i >= Side || j >= Side) continue;
      sum += S16(sx - i) * S16(sy - j) * ScanLine(Src, uint32_t(Bottom + j))[size_t(Left + i) * 3 + size_t(C)];
    }
  return sum;
}

struct TRemapCase {
  const char *Name;
  int32_t Width, Height;
  double Angle;
};

class FisheyeRemap : public ::testing::TestWithParam<TRemapCase> {};

TEST_P(FisheyeRemap, MatchesTheDefinition) {
  const std::string lib = testenv::BinFile("libfisheye.so");
  TESSIVO_REQUIRE(!lib.empty()) << "no bin/libfisheye.so";
  LoadFisheyeLibrary(TESSIVO_BIN_DIR);
  const TRemapCase &c = GetParam();
  TICCImgOwner src, img;
  src->Width = uint32_t(c.Width), src->Height = uint32_t(c.Height), src->Channels = 3, src->BPP = BPP_8;
  src->PixelFormat = PIXFMT_BGR, src->Bpl = GetAlignedBpl(src->Width, 3);
  src->Mem = AllocPixelBlock(src->Bpl, src->Height);
  for (int y = 0; y < c.Height; ++y)
    for (int x = 0; x < c.Width; ++x)
      for (int k = 0; k < 3; ++k) ScanLine(*src, uint32_t(y))[size_t(x) * 3 + size_t(k)] = Smooth(x, y, k);
  CopyICCImgInfo(*src, *img, false);
  TMultiThread pool(3);
  OrthographicRemap(*img, c.Angle, &pool);
  const int32_t side = std::min(c.Width, c.Height);
  ASSERT_EQ(img->Width, uint32_t(side));
  ASSERT_EQ(img->Height, uint32_t(side));
  const int32_t left = (c.Width - side) / 2, bottom = (c.Height - side) / 2;
  int compared = 0, worst = 0;
  for (int y = 0; y < side; y += (side > 400 ? 7 : 1))
    for (int x = 0; x < side; x += (side > 400 ? 5 : 1))
      for (int k = 0; k < 3; ++k) {
        const double want = Reference(*src, side, left, bottom, c.Angle, x, y, k);
        if (want < 0) continue;
        const int got = ScanLine(*img, uint32_t(y))[size_t(x) * 3 + size_t(k)];
        worst = std::max(worst, int(std::fabs(got - std::clamp(want, 0.0, 255.0)) + 0.5));
        ++compared;
      }
  EXPECT_GT(compared, side * side / (side > 400 ? 35 : 1));
  EXPECT_LE(worst, 1) << "largest difference from the definition";
}

INSTANTIATE_TEST_SUITE_P(
    DeDistortion, FisheyeRemap,
    ::testing::Values(TRemapCase{"EvenSquare180", 64, 64, 180}, TRemapCase{"OddSquare180", 63, 63, 180},
                      TRemapCase{"OddSquare150", 81, 81, 150}, TRemapCase{"EvenSquareOver180", 50, 50, 220},
                      TRemapCase{"WideCutToEvenSquare", 90, 60, 170}, TRemapCase{"TallCutToOddSquare", 45, 71, 180},
                      // The 3001 x 2000 source: its centred 2000 x 2000 square, even_4tap with half size 1000.
                      TRemapCase{"Landscape3001x2000", 3001, 2000, 180}),
    [](const auto &Info) { return std::string(Info.param.Name); });

TEST(DeDistortionScriptForRemap, OrthographicSourceForPTStitcherNamesTheCircularCode) {
  TDeDistortionFilter e("/nonexistent");
  e.FTool = DEDISTORTION_TOOL_PTSTITCHER, e.FSrcProjection = 3;
  const TDeDistortionScript s = e.ScriptFor(2000, 2000, "x.tif");
  EXPECT_EQ(s.LensCode, 2);
  EXPECT_EQ(s.Width, 2000);
  EXPECT_EQ(s.Height, 1500);
}

// ---------------------------------------------------------------------------
// The step with the real tool

class DeDistortionRun : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_FALSE(Work.Dir.empty());
    Folder = std::make_unique<TRunTempFolder>(Work.Dir);
  }
  void TearDown() override { Folder.reset(); }
  bool Ready() {
    if (testenv::BinFile("dedistortion").empty() || testenv::BinFile("libpixio.so").empty()) return false;
    LoadPixio(std::string(TESSIVO_BIN_DIR) + "/libpixio.so");
    return true;
  }
  static void Fill(TICCImgInfo &Img, uint32_t W, uint32_t H, uint32_t Channels) {
    Img.Width = W, Img.Height = H, Img.Channels = Channels, Img.BPP = BPP_8;
    Img.PixelFormat = Channels == 1 ? PIXFMT_GRAY : Channels == 4 ? PIXFMT_BGRA : PIXFMT_BGR;
    Img.Bpl = GetAlignedBpl(W, Channels);
    Img.Mem = AllocPixelBlock(Img.Bpl, H);
    for (uint32_t y = 0; y < H; ++y)
      for (uint32_t x = 0; x < W; ++x)
        for (uint32_t k = 0; k < Channels; ++k) PictureRow(Img, y)[x * Channels + k] = Smooth(int(x), int(y), int(k));
  }
  std::vector<std::string> WorkFilesLeft() const {
    std::vector<std::string> left;
    for (const auto &e : fs::directory_iterator(Folder->Path())) left.push_back(e.path().filename().string());
    return left;
  }
  TScratch Work;
  std::unique_ptr<TRunTempFolder> Folder;
};

// Equidistant fisheye to equidistant fisheye of the same angle is the
// picture itself: the round trip through the tool keeps every pixel's
// place, and the result has the size the expressions give.
TEST_F(DeDistortionRun, SameProjectionComesBackInPlace) {
  TESSIVO_REQUIRE(Ready()) << "no bin/dedistortion or bin/libpixio.so";
  TDeDistortionFilter e(TESSIVO_BIN_DIR);
  e.ReadIniFile(TMemIniFile());
  ASSERT_EQ(e.FTool, DEDISTORTION_TOOL_DEDISTORTION);
  e.FSrcProjection = 1, e.FSrcHFOV = 150, e.FDestProjection = 4, e.FDestHFOV = 150;
  e.FWidth = "w", e.FHeight = "h";
  TICCImgOwner img, original;
  Fill(*img, 640, 360, 3);
  CopyICCImgInfo(*img, *original, false);
  TEffectParams params;
  params.ThreadNum = 2;
  TLibraryMessageCapture capture;
  e.DoEffect(*img, params);
  EXPECT_EQ(capture.Text(), "");
  ASSERT_EQ(img->Width, 640u);
  ASSERT_EQ(img->Height, 360u);
  EXPECT_EQ(img->Channels, 3u);
  EXPECT_EQ(img->PixelFormat, PIXFMT_BGR);
  int worst = 0;
  for (uint32_t y = 0; y < 360; ++y)
    for (uint32_t x = 0; x < 640 * 3; ++x)
      worst = std::max(worst, std::abs(PictureRow(*img, y)[x] - PictureRow(*original, y)[x]));
  EXPECT_LE(worst, 1);
  EXPECT_EQ(WorkFilesLeft(), std::vector<std::string>{});
}

// A stored rectilinear angle of 200 is used as 179, and stays 179.
TEST_F(DeDistortionRun, RectilinearAngleAbove179IsCappedAndKept) {
  TESSIVO_REQUIRE(Ready()) << "no bin/dedistortion or bin/libpixio.so";
  TDeDistortionFilter e(TESSIVO_BIN_DIR);
  TMemIniFile ini;
  ini.WriteInteger("DeDistortionFilter", "DestProjection", 0);
  ini.WriteFloat("DeDistortionFilter", "DestHFOV", 200);
  ini.WriteInteger("DeDistortionFilter", "SrcProjection", 1);
  e.ReadIniFile(ini);
  TICCImgOwner img;
  Fill(*img, 300, 200, 3);
  TEffectParams params;
  TLibraryMessageCapture capture;
  e.DoEffect(*img, params);
  EXPECT_EQ(capture.Text(), "");
  EXPECT_EQ(img->Width, 500u);   // the script's width is at least 500
  EXPECT_EQ(img->Height, 225u);  // w*0.75 of the picture
  TMemIniFile out;
  e.WriteIniFile(out);
  EXPECT_EQ(out.ReadFloat("DeDistortionFilter", "DestHFOV", 0), 179);
}

struct TKeepCase {
  const char *Name;
  uint32_t Channels;
  double SrcHFOV;  // 400: an angle the tool refuses
  bool Warned;
};

class DeDistortionKeeps : public DeDistortionRun, public ::testing::WithParamInterface<TKeepCase> {};

// Gray and 4-channel pictures pass unchanged; a picture whose script the
// tool refuses stays as it was, with one warning line naming the tool's reason.
TEST_P(DeDistortionKeeps, ThePictureAsItWas) {
  TESSIVO_REQUIRE(Ready()) << "no bin/dedistortion or bin/libpixio.so";
  const TKeepCase &c = GetParam();
  TDeDistortionFilter e(TESSIVO_BIN_DIR);
  e.ReadIniFile(TMemIniFile());
  e.FSrcHFOV = c.SrcHFOV;
  TICCImgOwner img, original;
  Fill(*img, 120, 90, c.Channels);
  CopyICCImgInfo(*img, *original, false);
  TEffectParams params;
  TLibraryMessageCapture capture;
  e.DoEffect(*img, params);
  ASSERT_EQ(img->Width, 120u);
  ASSERT_EQ(img->Height, 90u);
  ASSERT_EQ(img->Channels, c.Channels);
  for (uint32_t y = 0; y < 90; ++y)
    ASSERT_EQ(std::memcmp(PictureRow(*img, y), PictureRow(*original, y), 120 * c.Channels), 0) << "row " << y;
  if (c.Warned) {
    EXPECT_EQ(capture.Text(), "歪み補正: dedistortion: " + Folder->Path() +
                                  "/script0.txt: script line 1: the source angle v must lie above 0 and up to 360");
  } else {
    EXPECT_EQ(capture.Text(), "");
  }
  EXPECT_EQ(WorkFilesLeft(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(DeDistortion, DeDistortionKeeps,
                         ::testing::Values(TKeepCase{"Gray", 1, 180, false}, TKeepCase{"Bgra", 4, 180, false},
                                           TKeepCase{"RefusedScript", 3, 400, true}),
                         [](const auto &Info) { return std::string(Info.param.Name); });

}  // namespace
