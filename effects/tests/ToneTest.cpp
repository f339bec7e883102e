// Colour correction, tone curve and levels: table entries checked by hand
// against the construction rules, and the effects run on small images.
#include "color/ICCUtil.h"
#include "core/Errors.h"
#include "core/IniFile.h"
#include "core/MultiThread.h"
#include "effects/ColorAdjust.h"
#include "effects/Levels.h"
#include "effects/Presets.h"
#include "effects/RunSettings.h"
#include "effects/ToneCurve.h"
#include "resample/tests/TestImage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

// A table entry of a curve given on the 8-bit scale.
int32_t At(const std::vector<int16_t> &T, size_t Offset, size_t I) { return T.at(Offset + I); }

// A one-row image of the given BGR(A) pixels.
void Pixels(TTestImage &T, std::initializer_list<std::array<int32_t, 4>> Px) {
  uint32_t x = 0;
  for (const auto &p : Px) {
    for (uint32_t c = 0; c < T.I.Channels; ++c) T.Set(x, 0, c, p[c]);
    ++x;
  }
}

TEST(ColorAdjustTables, EntriesFollowTheConstructionRules) {
  struct Case {
    const char *Name;
    TColorAdjustValues V;
    enum { Luma8, Luma14, Chroma, Blue8, Green8, Red8, Gray8 } Table;
    size_t Index;
    int32_t Entry;
  } cases[] = {
      // Luma range: a negative LumaMin raises the input black point.
      {"luma -20: input 20 becomes black", {-20}, Case::Luma8, 20, 0},
      {"luma -20: input 10 stays black", {-20}, Case::Luma8, 10, 0},
      {"luma -20: the rest is stretched (118 x 255 / 235 = 128.04)", {-20}, Case::Luma8, 138, 8195},
      {"luma -20: white stays white", {-20}, Case::Luma8, 255, 16320},
      {"luma +20: black becomes 20", {20}, Case::Luma8, 0, 20 * 64},
      {"luma +20: 100 x 235 / 255 + 20 = 112.16", {20}, Case::Luma8, 100, 7178},
      {"luma +20 on the 14-bit table", {20}, Case::Luma14, 0, 1280},
      {"LumaMax +20: input 235 is white", {0, 20}, Case::Luma8, 235, 16320},
      {"LumaMax -20: white becomes 235", {0, -20}, Case::Luma8, 255, 235 * 64},
      // Chroma: gain 0 at -255, 2 at 128, about the middle entry 8160.
      {"chroma -255 removes chroma (low end)", {0, 0, -255}, Case::Chroma, 0, 8160},
      {"chroma -255 removes chroma (high end)", {0, 0, -255}, Case::Chroma, 16320, 8160},
      {"chroma 128 doubles +100", {0, 0, 128}, Case::Chroma, 8260, 8360},
      {"chroma 128 doubles -100", {0, 0, 128}, Case::Chroma, 8060, 7960},
      {"chroma 128 clamps at the top", {0, 0, 128}, Case::Chroma, 16320, 16320},
      {"chroma 0 is the identity", {}, Case::Chroma, 1234, 1234},
      // Contrast 128: k = 256 / 128 = 2 about 127.5.
      {"contrast 128: 100 -> (100 - 127.5) x 2 + 128 = 73", {0, 0, 0, 0, 128}, Case::Green8, 100, 73 * 64},
      {"contrast 128: 127 -> 127", {0, 0, 0, 0, 128}, Case::Green8, 127, 127 * 64},
      {"contrast 128: 200 clips at 255", {0, 0, 0, 0, 128}, Case::Green8, 200, 16320},
      {"contrast -255 flattens to 128", {0, 0, 0, 0, -255}, Case::Green8, 17, 128 * 64},
      // Hue 256: blue x 1.5, red x 0.75 before the contrast step.
      {"hue 256: blue 100 -> 150 + 0.5", {0, 0, 0, 256}, Case::Blue8, 100, 9632},
      {"hue 256: red 100 -> 75 + 0.5", {0, 0, 0, 256}, Case::Red8, 100, 4832},
      {"hue 256: green unchanged but for the half step", {0, 0, 0, 256}, Case::Green8, 100, 6432},
      {"gray table copies green", {0, 0, 0, 256}, Case::Gray8, 100, 6432},
      // RGB gamma 2: 255 x sqrt(64 / 255) = 127.75, + 0.5.
      {"RGB gamma 2 at 64", {0, 0, 0, 0, 0, 2.0}, Case::Green8, 64, 8208},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    const TColorAdjustTables t = MakeColorAdjustTables(c.V);
    switch (c.Table) {
      case Case::Luma8: EXPECT_EQ(At(t.Luma8, 0, c.Index), c.Entry); break;
      case Case::Luma14: EXPECT_EQ(At(t.YCC14, 0, c.Index), c.Entry); break;
      case Case::Chroma: EXPECT_EQ(At(t.YCC14, LUT14_ENTRIES, c.Index), c.Entry); break;
      case Case::Blue8: EXPECT_EQ(At(t.RGB8, 0, c.Index), c.Entry); break;
      case Case::Green8: EXPECT_EQ(At(t.RGB8, 256, c.Index), c.Entry); break;
      case Case::Red8: EXPECT_EQ(At(t.RGB8, 512, c.Index), c.Entry); break;
      case Case::Gray8: EXPECT_EQ(At(t.RGB8, 768, c.Index), c.Entry); break;
    }
  }
}

TEST(ColorAdjustTables, FourteenBitTablesAgreeWithEightBitOnesAtTheSameLevels) {
  const TColorAdjustValues v{-20, 10, 0, 100, 60, 1.4, 0.8};
  const TColorAdjustTables t = MakeColorAdjustTables(v);
  for (size_t i = 0; i < 256; ++i) {
    EXPECT_EQ(t.YCC14[i * 64], t.Luma8[i]) << i;
    for (size_t k = 0; k < 4; ++k) EXPECT_EQ(t.RGB14[k * LUT14_ENTRIES + i * 64], t.RGB8[k * 256 + i]) << k << " " << i;
  }
}

TEST(ColorAdjust, DefaultsChangeNothingAndKeepEightBits) {
  TColorAdjust e;
  TTestImage img(3, 1, 3, BPP_8);
  Pixels(img, {{1, 2, 3}, {100, 150, 200}, {255, 0, 128}});
  TEffectParams p;
  e.DoEffect(img.I, p);
  EXPECT_EQ(img.I.BPP, uint32_t(BPP_8));
  EXPECT_EQ(img.Get(1, 0, 2), 200);
  EXPECT_EQ(img.Get(2, 0, 0), 255);
}

TEST(ColorAdjust, StepsRunOnTheImage) {
  struct Case {
    const char *Name;
    uint32_t Channels;
    TColorAdjustValues V;
    std::array<int32_t, 4> In;
    std::array<int32_t, 4> Out;  // 14-bit
    int32_t Tolerance;           // the YCbCr round trip rounds twice
  } cases[] = {
      {"luma -20 on gray 8-bit", 1, {-20}, {138}, {8195}, 0},
      {"luma -20 on a neutral colour pixel", 3, {-20}, {100, 100, 100}, {5556, 5556, 5556}, 1},
      {"chroma -255 leaves the luma of a colour", 3, {0, 0, -255}, {0, 0, 255}, {4880, 4880, 4880}, 2},
      {"contrast on BGRA keeps alpha", 4, {0, 0, 0, 0, 128}, {100, 127, 200, 77}, {73 * 64, 127 * 64, 16320, 77 * 64}, 0},
      {"hue 256 on BGR", 3, {0, 0, 0, 256}, {100, 100, 100}, {9632, 6432, 4832}, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    TTestImage img(1, 1, c.Channels, BPP_8);
    Pixels(img, {c.In});
    TColorAdjust e;
    e.FLumaMin = c.V.LumaMin, e.FLumaMax = c.V.LumaMax, e.FChroma = c.V.Chroma;
    e.FHue = c.V.Hue, e.FContrast = c.V.Contrast, e.FRGBGamma = c.V.RGBGamma, e.FYGamma = c.V.YGamma;
    e.UpdateTables();
    TEffectParams p;
    e.DoEffect(img.I, p);
    ASSERT_EQ(img.I.BPP, uint32_t(BPP_14));
    for (uint32_t k = 0; k < c.Channels; ++k) EXPECT_NEAR(img.Get(0, 0, k), c.Out[k], c.Tolerance) << "sample " << k;
  }
}

TEST(ColorAdjust, SettingsReadWithTheirDefaultsAndGammaFloor) {
  TMemIniFile ini;
  ini.LoadFromBytes("[ColorCorrection]\nUse=1\nLumaMin=-20\nRGBGamma=0.05\nPreview=0\n");
  TColorAdjust e;
  e.ReadIniFile(ini);
  EXPECT_TRUE(e.Use());
  EXPECT_EQ(e.FLumaMin, -20);
  EXPECT_EQ(e.FRGBGamma, 0.2);
  EXPECT_EQ(e.FYGamma, 1.0);
  EXPECT_FALSE(e.FPreview);
  EXPECT_TRUE(e.FHistogram);
  EXPECT_EQ(e.Tables().Luma8[20], 0);  // the tables follow the settings read
  TMemIniFile out;
  e.WriteIniFile(out);
  EXPECT_EQ(out.ReadString("ColorCorrection", "LumaMin", ""), "-20");
  EXPECT_EQ(out.ReadFloat("ColorCorrection", "RGBGamma", 0), 0.2);
}

TEST(ColorAdjust, ParameterStreamHoldsGammaThenFourIntegers) {
  TColorAdjust e;
  e.FRGBGamma = 1.5, e.FLumaMin = -3, e.FLumaMax = 4, e.FHue = 5, e.FContrast = -6, e.FChroma = 99;
  std::vector<uint8_t> s;
  e.WriteParamToStream(s);
  ASSERT_EQ(s.size(), 24u);
  double g;
  std::memcpy(&g, s.data(), 8);
  EXPECT_EQ(g, 1.5);
  int32_t v[4];
  std::memcpy(v, s.data() + 8, 16);
  EXPECT_EQ(v[0], -3);
  EXPECT_EQ(v[1], 4);
  EXPECT_EQ(v[2], 5);
  EXPECT_EQ(v[3], -6);
}

// Values beyond the dialog's ranges, as a hand-edited profile may hold them,
// give defined tables: contrast at the nearer end of its range, the others
// within +-4096, gamma 1 for a levels gamma that is not a positive number.
TEST(HandEditedValues, GiveTheTablesOfTheNearestValidSetting) {
  struct Case {
    const char *Name;
    const char *Ini;
    TColorAdjustValues Same;  // the setting it must behave as
  } cases[] = {
      {"contrast 256 (a division by zero)", "[ColorCorrection]\nContrast=256\n", {0, 0, 0, 0, 255}},
      {"contrast -1000", "[ColorCorrection]\nContrast=-1000\n", {0, 0, 0, 0, -255}},
      {"hue 256 keeps its meaning", "[ColorCorrection]\nHue=256\n", {0, 0, 0, 256}},
      {"chroma 100000 (an overflow)", "[ColorCorrection]\nChroma=100000\n", {0, 0, 4096}},
      {"luma beyond both ends", "[ColorCorrection]\nLumaMin=-400\nLumaMax=400\n", {-255, 255}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    TMemIniFile ini;
    ini.LoadFromBytes(c.Ini);
    TColorAdjust e;
    e.ReadIniFile(ini);
    const TColorAdjustTables want = MakeColorAdjustTables(c.Same);
    EXPECT_EQ(e.Tables().RGB8, want.RGB8);
    EXPECT_EQ(e.Tables().YCC14, want.YCC14);
  }
  for (const double gamma : {0.0, -2.0, std::nan("")}) {
    SCOPED_TRACE(gamma);
    std::vector<int16_t> t(256), one(256);
    FillLevelsTable(t, 255, {10, 245, gamma, 0, 255});
    FillLevelsTable(one, 255, {10, 245, 1.0, 0, 255});
    EXPECT_EQ(t, one);
    FillLevelsTable(t, 255, {10, 245, gamma, 0, 255}, [](double v) { return v; },
                    [](double v) { return int32_t(v * 16320 + 0.5); });
    for (int16_t v : t) EXPECT_TRUE(v >= 0 && v <= 16320);
  }
}

// ---------------------------------------------------------------------------
// Tone curve

TEST(ToneCurveText, MalformedCurvesAreRefused) {
  struct Case {
    const char *Text;
    bool Valid;
  } cases[] = {
      {"0,0,255,255", true},      {"0,0,128,200,255,255", true}, {" 0, 0 ,255,255", true},
      {"0,0,255", false},         {"", false},                  {"0,0,256,255", false},
      {"0,-1,255,255", false},    {"0,x,255,255", false},       {"0,0,1.5,255", false},
      {"10,0,5,255", false},      {"10,0,10,255", false},       {"0,0,,255,255", false},
  };
  for (const Case &c : cases) EXPECT_EQ(ParseCurve(c.Text).has_value(), c.Valid) << '"' << c.Text << '"';
  EXPECT_EQ(CurveText(*ParseCurve("0,0,128,200,255,255")), "0,0,128,200,255,255");
}

TEST(ToneCurveTables, CurveEntriesCheckedByHand) {
  struct Case {
    const char *Name;
    const char *Curve;
    int32_t X;
    int32_t Entry;
  } cases[] = {
      {"a control point is met exactly: 200 x 16320 / 255", "0,0,128,200,255,255", 128, 12800},
      {"first point", "0,0,128,200,255,255", 0, 0},
      {"last point", "0,0,128,200,255,255", 255, 16320},
      {"below the first point the curve is flat", "50,30,255,255", 10, 30 * 64},
      {"beyond the last point the curve is flat", "0,0,200,100", 230, 100 * 64},
      {"a straight two-point curve is a line", "0,0,255,255", 77, 77 * 64},
      {"a falling line", "0,255,255,0", 55, 200 * 64},
      {"a single point is a constant", "100,40", 3, 40 * 64},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    const TCurvePoints p = *ParseCurve(c.Curve);
    EXPECT_EQ(CurveTable256(p)[size_t(c.X)], c.Entry);
    // The 14-bit table at the same level agrees.
    EXPECT_EQ(CurveTable16321(p)[size_t(c.X) * 64], c.Entry);
  }
}

TEST(ToneCurveTables, BezierSegmentsPassSmoothlyThroughTheirPoints) {
  const TCurvePoints p = *ParseCurve("0,0,128,200,255,255");
  const TCurveEvaluator e(p);
  // Rising everywhere, above the chord between the points, and continuous at 128.
  double last = -1;
  for (int32_t x = 0; x <= 255; ++x) {
    const double y = e.Value(x);
    EXPECT_GT(y, last) << x;
    last = y;
  }
  EXPECT_GT(e.Value(64), 100.0);
  EXPECT_NEAR(e.Value(127.9), 200.0, 0.2);
  EXPECT_NEAR(e.Value(128.1), 200.0, 0.2);
}

TEST(ToneCurveTables, IdentityCurvesSkipTheirStage) {
  struct Case {
    const char *Name;
    int32_t Curve;
    const char *Text;
    bool SkipRGB, SkipYCC;
  } cases[] = {
      {"every curve the identity", CURVE_RGB, "0,0,255,255", true, true},
      {"chroma through (128,128) is the identity", CURVE_CHROMA, "0,0,128,128,255,255", true, true},
      {"a two-point chroma identity", CURVE_CHROMA, "0,0,255,255", true, true},
      {"another chroma curve", CURVE_CHROMA, "0,0,128,140,255,255", true, false},
      {"a luma curve", CURVE_LUMA, "0,0,255,200", true, false},
      {"a channel curve", CURVE_BLUE, "0,10,255,255", false, true},
      {"an identity with an extra point on the line", CURVE_RED, "0,0,100,100,255,255", false, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    TCurveSet s = DefaultCurves();
    s[size_t(c.Curve)] = *ParseCurve(c.Text);
    const TToneCurveTables t = MakeToneCurveTables(s);
    EXPECT_EQ(t.SkipRGB, c.SkipRGB);
    EXPECT_EQ(t.SkipYCC, c.SkipYCC);
  }
}

TEST(ToneCurveTables, ChannelCurvesApplyToTheOutputOfTheRGBCurve) {
  TCurveSet s = DefaultCurves();
  s[CURVE_RGB] = *ParseCurve("0,0,255,128");  // halves
  s[CURVE_RED] = *ParseCurve("0,255,255,0");  // inverts
  const TToneCurveTables t = MakeToneCurveTables(s);
  // Input 255: the RGB curve gives 128 (entry 8192); red reads its curve at 128.
  EXPECT_EQ(t.RGB8[768 + 255], 8192);
  EXPECT_EQ(t.RGB8[512 + 255], (255 - 128) * 64);
  EXPECT_EQ(t.RGB8[0 + 255], 8192);
  EXPECT_EQ(t.RGB14[3 * LUT14_ENTRIES + 16320], 8192);
  EXPECT_EQ(t.RGB14[2 * LUT14_ENTRIES + 16320], (255 - 128) * 64);
  // Between two entries of the channel curve the 8-bit set interpolates:
  // input 1 gives 128/255 x 64 = 32.13 -> entry 32, half-way from red 255 to 254.
  EXPECT_EQ(t.RGB8[768 + 1], 32);
  EXPECT_EQ(t.RGB8[512 + 1], (16320 * 32 + 16256 * 32 + 32) / 64);
}

TEST(ToneCurve, SettingsKeysDefaultsAndDamagedCurves) {
  TMemIniFile ini;
  ini.LoadFromBytes("[ToneCurve]\nUse=1\nRGB=0,0,128,200,255,255\nRed=0,0,300,255\nHistogram=3\n");
  TToneCurveEffect e;
  e.ReadIniFile(ini);
  EXPECT_EQ(CurveText(e.FControlPoints[CURVE_RGB]), "0,0,128,200,255,255");
  EXPECT_EQ(CurveText(e.FControlPoints[CURVE_RED]), "0,0,255,255");  // damaged: the identity
  EXPECT_EQ(CurveText(e.FControlPoints[CURVE_CHROMA]), "0,0,128,128,255,255");
  EXPECT_FALSE(e.FHistogram);
  EXPECT_EQ(e.FHistogramType, 1);
  EXPECT_FALSE(e.FSkipRGB);
  EXPECT_TRUE(e.FSkipYCC);
  TMemIniFile out;
  e.WriteIniFile(out);
  EXPECT_EQ(out.ReadString("ToneCurve", "Histogram", ""), "3");
  EXPECT_EQ(out.ReadString("ToneCurve", "Chroma", ""), "0,0,128,128,255,255");
}

TEST(ToneCurve, RunsOnEightAndSixteenBitImages) {
  TToneCurveEffect e;
  e.FControlPoints[CURVE_RGB] = *ParseCurve("0,0,128,200,255,255");
  e.UpdateTables();
  struct Case {
    const char *Name;
    uint32_t Channels, BPP;
    int32_t In, Out;
  } cases[] = {
      {"8-bit BGR", 3, BPP_8, 128, 12800},
      {"8-bit gray uses the gray table", 1, BPP_8, 128, 12800},
      {"16-bit BGR goes through 14 bits", 3, BPP_16, 128 * 257, 12800},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    TTestImage img(2, 1, c.Channels, c.BPP);
    img.Fill([&](uint32_t, uint32_t, uint32_t) { return c.In; });
    TEffectParams p;
    e.DoEffect(img.I, p);
    ASSERT_EQ(img.I.BPP, uint32_t(BPP_14));
    for (uint32_t k = 0; k < c.Channels; ++k) EXPECT_EQ(img.Get(1, 0, k), c.Out) << k;
  }
}

// A tone curve lifting the luma through (128, 200), run on L* in Lab mode.
struct TLabCurve {
  TToneCurveEffect E;
  TRunSettings Settings;
  TEffectParams P;
  TLabCurve() {
    E.FControlPoints[CURVE_LUMA] = *ParseCurve("0,0,128,200,255,255");
    E.FLab = true;
    E.UpdateTables();
    Settings.System.EnabledLabMode = LongTrue;
    P.Settings = &Settings;
  }
  void Run(TICCImgInfo &Img) { E.DoEffect(Img, P); }
};

TEST(ToneCurve, LumaCurveInLabModeKeepsNeutralsNeutralAndAlpha) {
  TLabCurve curve;
  TTestImage img(2, 1, 4, BPP_8);
  Pixels(img, {{119, 119, 119, 200}, {30, 30, 30, 9}});
  curve.Run(img.I);
  ASSERT_EQ(img.I.BPP, uint32_t(BPP_14));
  EXPECT_EQ(img.Get(0, 0, 3), 200 * 64);
  EXPECT_EQ(img.Get(1, 0, 3), 9 * 64);
  for (uint32_t x = 0; x < 2; ++x) {
    EXPECT_NEAR(img.Get(x, 0, 0), img.Get(x, 0, 2), 64) << x;
    EXPECT_GT(img.Get(x, 0, 1), (x ? 30 : 119) * 64 + 640) << x;  // clearly brighter
  }
  // sRGB 119 has L* close to 50 (L = 128 on the 8-bit scale), so it lands near L* 200/255 x 100.
  TTestImage lab(1, 1, 3, BPP_14);
  for (uint32_t k = 0; k < 3; ++k) lab.Set(0, 0, k, img.Get(0, 0, k));
  TTransForm t;
  ASSERT_TRUE(t.InitToLab16(lab.I));
  t.TransformToLab16(lab.I, nullptr);
  EXPECT_NEAR(lab.Get(0, 0, 0) / 65280.0 * 100.0, 200 / 255.0 * 100.0, 1.5);
}

TEST(ToneCurve, LabModeTakesGrayWithAlphaAsGray) {
  TLabCurve curve;
  TTestImage img(2, 1, 4, BPP_8);
  Pixels(img, {{119, 119, 119, 200}, {0, 0, 0, 5}});
  img.I.IsGrayAlpha = LongTrue;
  curve.Run(img.I);
  ASSERT_EQ(img.I.Channels, 4u);
  EXPECT_TRUE(img.I.IsGrayAlpha);
  EXPECT_EQ(img.Get(0, 0, 0), img.Get(0, 0, 1));
  EXPECT_EQ(img.Get(0, 0, 0), img.Get(0, 0, 2));
  EXPECT_GT(img.Get(0, 0, 0), 119 * 64 + 1280);
  EXPECT_EQ(img.Get(1, 0, 0), 0);
  EXPECT_EQ(img.Get(0, 0, 3), 200 * 64);
  EXPECT_EQ(img.Get(1, 0, 3), 5 * 64);
}

// ---------------------------------------------------------------------------
// Levels

TEST(LevelsTables, EntriesCheckedByHand) {
  struct Case {
    const char *Name;
    TLevelsChannel C;
    int32_t N;
    int32_t Index;
    int32_t Entry;
  } cases[] = {
      {"10/245/1: 10 is black", {10, 245, 1.0, 0, 255}, 255, 10, 0},
      {"10/245/1: below 10 is black", {10, 245, 1.0, 0, 255}, 255, 3, 0},
      {"10/245/1: 245 is white", {10, 245, 1.0, 0, 255}, 255, 245, 16320},
      {"10/245/1: 127 -> 117/235", {10, 245, 1.0, 0, 255}, 255, 127, 8125},
      {"10/245/1: 128 -> 118/235", {10, 245, 1.0, 0, 255}, 255, 128, 8195},
      {"14-bit thresholds are 64 b and 64 w", {10, 245, 1.0, 0, 255}, 16320, 640, 0},
      {"14-bit: just above the black threshold", {10, 245, 1.0, 0, 255}, 16320, 641, 1},
      {"14-bit white threshold", {10, 245, 1.0, 0, 255}, 16320, 15680, 16320},
      {"gamma 2 at 64: sqrt(64/255)", {0, 255, 2.0, 0, 255}, 255, 64, 8176},
      {"output levels 20..200 at black", {0, 255, 1.0, 20, 200}, 255, 0, 1280},
      {"output levels 20..200 at white", {0, 255, 1.0, 20, 200}, 255, 255, 12800},
      {"b >= w: at b the shadow level", {200, 100, 1.0, 0, 255}, 255, 200, 0},
      {"b >= w: above b the highlight level", {200, 100, 1.0, 0, 255}, 255, 201, 16320},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    std::vector<int16_t> t(size_t(c.N) + 1);
    FillLevelsTable(t, c.N, c.C);
    EXPECT_EQ(t[size_t(c.Index)], c.Entry);
  }
  // 127.5 maps to about 127.5: the mean of the entries at 127 and 128.
  std::vector<int16_t> t(256);
  FillLevelsTable(t, 255, {10, 245, 1.0, 0, 255});
  EXPECT_NEAR((t[127] + t[128]) / 128.0, 127.5, 0.01);
}

TEST(LevelsTables, LinearLightStretchesLinearValues) {
  // With the identity as curve, the linear table is the plain one but for rounding.
  std::vector<int16_t> plain(256), lin(256);
  const TLevelsChannel c{10, 245, 1.8, 5, 250};
  FillLevelsTable(plain, 255, c);
  FillLevelsTable(lin, 255, c, [](double v) { return v; }, [](double v) { return int32_t(v * 16320 + 0.5); });
  for (size_t i = 0; i < 256; ++i) EXPECT_NEAR(lin[i], plain[i], 2) << i;
  // A square-law curve: the middle of the linear range lands at sqrt(0.5).
  std::vector<int16_t> sq(256);
  FillLevelsTable(sq, 255, {0, 255, 1.0, 0, 255}, [](double v) { return v * v; },
                  [](double v) { return int32_t(std::sqrt(v) * 16320 + 0.5); });
  EXPECT_NEAR(sq[128], 128 * 64, 2);
}

TEST(LevelsAuto, RangeFromTheHistogramWithClipping) {
  struct Case {
    const char *Name;
    std::vector<std::pair<int32_t, uint32_t>> Bins;  // value, count
    uint32_t Clip;
    int32_t Black, White;
  } cases[] = {
      {"0.2 % at 3 is more than 0.10 %", {{3, 2}, {100, 996}, {250, 2}}, 10, 3, 250},
      {"exactly 0.10 % is not more", {{3, 1}, {100, 998}, {250, 1}}, 10, 100, 100},
      {"no clipping takes the first occupied level", {{3, 1}, {100, 998}, {250, 1}}, 0, 3, 250},
      {"one level", {{77, 1000}}, 10, 77, 77},
      {"5 % clipping", {{0, 40}, {10, 20}, {200, 900}, {255, 40}}, 500, 10, 200},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    std::array<uint32_t, 256> h{};
    uint64_t total = 0;
    for (auto [v, n] : c.Bins) h[size_t(v)] += n, total += n;
    const TLevelsRange r = AutoLevelsRange(h, total, c.Clip, c.Clip);
    EXPECT_EQ(r.Black, c.Black);
    EXPECT_EQ(r.White, c.White);
  }
}

// A 1000-pixel BGR image: two pixels at 3, two at 250, the rest (R, G, B) = (100, 120, 140).
void AutoImage(TTestImage &T) {
  T.Fill([](uint32_t x, uint32_t, uint32_t c) { return x < 2 ? 3 : x >= 998 ? 250 : c == 0 ? 140 : c == 1 ? 120 : 100; });
}

TEST(Levels, ManualAndAutomaticModesOnImages) {
  struct Case {
    const char *Name;
    uint32_t Auto;
    int32_t MasterMin, RedMin;
    std::array<int32_t, 3> Out;  // B, G, R of a middle pixel (x = 500), 14-bit
    int32_t Tolerance;
  } cases[] = {
      // Only the red range is set: the channel tables run; blue and green are 64 x v.
      {"a per-channel range alone applies", 0, 0, 50, {140 * 64, 120 * 64, 3980}, 0},
      // The master set too: the channel tables are skipped and only Y moves.
      {"a master range disables the channel tables", 0, 10, 50, {0, 0, 0}, 0},
      // Mode 2: every channel from its own histogram: 3..250 for all three here.
      {"automatic per channel: 3..250 for each", 2, 0, 0, {9052, 7731, 6409}, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    TTestImage img(1000, 1, 3, BPP_8);
    AutoImage(img);
    TLevelsAdjust e;
    e.FAutoMode = c.Auto;
    e.FInputMin[0] = c.MasterMin;
    e.FInputMin[1] = c.RedMin;
    TEffectParams p;
    e.DoEffect(img.I, p);
    ASSERT_EQ(img.I.BPP, uint32_t(BPP_14));
    if (c.MasterMin) {
      // Y of (100, 120, 140) rises and the differences between channels stay about the same.
      EXPECT_NEAR(img.Get(500, 0, 0) - img.Get(500, 0, 2), 40 * 64, 3 * 64);
      EXPECT_NE(img.Get(500, 0, 2), 3980);
      continue;
    }
    for (uint32_t k = 0; k < 3; ++k) EXPECT_NEAR(img.Get(500, 0, k), c.Out[k], c.Tolerance) << k;
  }
}

TEST(Levels, AutomaticLumaModeFindsTheClippedRange) {
  // Gray 8-bit: 0.2 % at 3 and at 250, the rest at 100: b = 3, w = 250.
  TTestImage img(1000, 1, 1, BPP_8);
  img.Fill([](uint32_t x, uint32_t, uint32_t) { return x < 2 ? 3 : x >= 998 ? 250 : 100; });
  TLevelsAdjust e;
  e.FAutoMode = 1;
  e.FInputMin[1] = 90;  // skipped in mode 1
  TEffectParams p;
  e.DoEffect(img.I, p);
  ASSERT_EQ(img.I.BPP, uint32_t(BPP_14));
  EXPECT_EQ(img.Get(0, 0, 0), 0);
  EXPECT_EQ(img.Get(999, 0, 0), 16320);
  EXPECT_EQ(img.Get(500, 0, 0), int32_t((100 - 3) * 16320.0 / 247 + 0.5));
}

TEST(Levels, GrayImagesSkipTheChannelTables) {
  TTestImage img(4, 1, 1, BPP_8);
  img.Fill([](uint32_t x, uint32_t, uint32_t) { return int32_t(x * 60); });
  TLevelsAdjust e;
  e.FInputMin[2] = 100;
  TEffectParams p;
  e.DoEffect(img.I, p);
  EXPECT_EQ(img.I.BPP, uint32_t(BPP_8));
  EXPECT_EQ(img.Get(2, 0, 0), 120);
}

// Linear light on the built-in sRGB curves: 128 is 0.2159 in linear light,
// gamma 2 makes that sqrt(0.2159) = 0.4646, which sRGB encodes as 0.7115 of
// full scale (11612 of 16320) instead of the plain 11.5 % lift of 128.
TEST(Levels, LinearLightFollowsTheProfileCurves) {
  struct Case {
    const char *Name;
    bool Master;
    int32_t In, Out;
  } cases[] = {
      {"channel tables, 128", false, 128, 11612},
      {"channel tables, 64", false, 64, 8375},
      {"master on Y of a neutral pixel, 128", true, 128, 11612},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    TTestImage img(1, 1, 3, BPP_8);
    img.Fill([&](uint32_t, uint32_t, uint32_t) { return c.In; });
    TLevelsAdjust e;
    e.FDegamma = true;
    for (size_t k = c.Master ? 0 : 1; k < (c.Master ? 1u : 4u); ++k) e.FGamma[k] = 2.0;
    TEffectParams p;
    e.DoEffect(img.I, p);
    ASSERT_EQ(img.I.BPP, uint32_t(BPP_14));
    // The YCbCr round trip of the master path rounds twice more.
    for (uint32_t k = 0; k < 3; ++k) EXPECT_NEAR(img.Get(0, 0, k), c.Out, c.Master ? 3 : 1) << k;
  }
}

TEST(Levels, AutomaticLumaModeOnLightnessInLabMode) {
  // A gray ramp 40..200 in Lab mode: the range found on L* is stretched to
  // full scale, so the darkest level ends black and the brightest white.
  TTestImage img(161, 1, 3, BPP_8);
  img.Fill([](uint32_t x, uint32_t, uint32_t) { return int32_t(40 + x); });
  TLevelsAdjust e;
  e.FAutoMode = 1;
  e.FLab = true;
  e.FClipShadow = e.FClipHighlight = 0;
  TRunSettings settings;
  settings.System.EnabledLabMode = LongTrue;
  TEffectParams p;
  p.Settings = &settings;
  e.DoEffect(img.I, p);
  ASSERT_EQ(img.I.BPP, uint32_t(BPP_14));
  EXPECT_NEAR(img.Get(0, 0, 1), 0, 64);
  EXPECT_NEAR(img.Get(160, 0, 1), 16320, 64);
  EXPECT_NEAR(img.Get(80, 0, 0), img.Get(80, 0, 2), 64);  // neutral stays neutral
  EXPECT_GT(img.Get(80, 0, 1), img.Get(79, 0, 1));
}

TEST(Levels, SettingsKeysAndDefaults) {
  TMemIniFile ini;
  ini.LoadFromBytes("[Levels]\nInputMin0=10\nInputMax0=245\nGamma0=1.8\nAutoMode=2\nClipShadow=25\nHistogram=2\n");
  TLevelsAdjust e;
  e.ReadIniFile(ini);
  EXPECT_EQ(e.FInputMin[0], 10);
  EXPECT_EQ(e.FInputMax[0], 245);
  EXPECT_EQ(e.FGamma[0], 1.8);
  EXPECT_EQ(e.FInputMax[3], 255);
  EXPECT_EQ(e.FAutoMode, 2u);
  EXPECT_EQ(e.FClipShadow, 25u);
  EXPECT_EQ(e.FClipHighlight, 10u);
  EXPECT_FALSE(e.FHistogram);
  EXPECT_TRUE(e.FPreview);
  EXPECT_FALSE(e.FDegamma);
}

// ---------------------------------------------------------------------------
// Presets

class Presets : public ::testing::Test {
protected:
  void SetUp() override {
    char t[] = "/tmp/tessivo-presets-XXXXXX";
    Dir = ::mkdtemp(t);
    Dir += "/";
  }
  void TearDown() override { std::filesystem::remove_all(Dir); }
  void Write(const std::string &Name, const std::string &Text) { std::ofstream(Dir + Name) << Text; }
  std::string Dir;
};

TEST_F(Presets, CurvesWrittenReadBackIdentically) {
  TToneCurveEffect a;
  a.FControlPoints[CURVE_RGB] = *ParseCurve("0,0,64,80,128,200,255,255");
  a.FControlPoints[CURVE_CHROMA] = *ParseCurve("0,10,255,240");
  a.SavePreset(Dir + "warm.txt");
  TToneCurveEffect b;
  b.LoadPreset(Dir + "warm.txt");
  EXPECT_EQ(b.FControlPoints, a.FControlPoints);
  EXPECT_FALSE(b.FSkipRGB);
  EXPECT_FALSE(b.FSkipYCC);
  TLevelsAdjust l;
  l.FInputMin = {10, 1, 2, 3};
  l.FGamma = {1.8, 0.5, 1.25, 2};
  l.FAutoMode = 3;
  l.FClipHighlight = 5;
  l.FDegamma = true;
  l.SavePreset(Dir + "lev.txt");
  TLevelsAdjust m;
  m.LoadPreset(Dir + "lev.txt");
  EXPECT_EQ(m.FInputMin, l.FInputMin);
  EXPECT_EQ(m.FGamma, l.FGamma);
  EXPECT_EQ(m.FAutoMode, 3u);
  EXPECT_EQ(m.FClipHighlight, 5u);
  EXPECT_TRUE(m.FDegamma);
  EXPECT_EQ(ListPresets(Dir), (std::vector<std::string>{"lev", "warm"}));
}

// Load must refuse the file with a message naming it and the part at fault.
template <class F>
void ExpectRefused(const std::string &File, const char *Message, F Load) {
  try {
    Load();
    ADD_FAILURE() << "loaded";
  } catch (const ETessivoError &x) {
    EXPECT_NE(std::string(x.what()).find(Message), std::string::npos) << x.what();
    EXPECT_NE(std::string(x.what()).find(File), std::string::npos) << x.what();
  }
}

TEST_F(Presets, DamagedFilesAreRefusedAndChangeNothing) {
  struct Case {
    const char *Name;
    const char *Text;
    const char *Message;
  } curveCases[] = {
      {"a curve with an odd number of items", "[ToneCurve]\nRGB=0,0,255\n", "RGB=0,0,255"},
      {"a coordinate out of range", "[ToneCurve]\nLuma=0,0,255,300\n", "Luma=0,0,255,300"},
      {"no ToneCurve section", "[Levels]\nAutoMode=1\n", "[ToneCurve]"},
      {"binary rubbish", "\x01\x02\xff\xfe garbage", "[ToneCurve]"},
  };
  for (const Case &c : curveCases) {
    SCOPED_TRACE(c.Name);
    Write("bad.txt", c.Text);
    TToneCurveEffect e;
    e.FControlPoints[CURVE_RGB] = *ParseCurve("0,0,128,200,255,255");
    e.UpdateTables();
    const TCurveSet before = e.FControlPoints;
    ExpectRefused(Dir + "bad.txt", c.Message, [&] { e.LoadPreset(Dir + "bad.txt"); });
    EXPECT_EQ(e.FControlPoints, before);
    EXPECT_EQ(e.Tables().RGB8[768 + 128], 12800);
  }
  Case levelCases[] = {
      {"a level out of range", "[Levels]\nInputMin0=10\nInputMax2=300\n", "InputMax2=300"},
      {"a gamma that is no number", "[Levels]\nGamma1=fast\n", "Gamma1=fast"},
      {"an unknown automatic mode", "[Levels]\nAutoMode=7\n", "AutoMode=7"},
      {"no Levels section", "[ToneCurve]\nRGB=0,0,255,255\n", "[Levels]"},
  };
  for (const Case &c : levelCases) {
    SCOPED_TRACE(c.Name);
    Write("bad.txt", c.Text);
    TLevelsAdjust e;
    e.FInputMin[0] = 42;
    ExpectRefused(Dir + "bad.txt", c.Message, [&] { e.LoadPreset(Dir + "bad.txt"); });
    EXPECT_EQ(e.FInputMin[0], 42);
    EXPECT_EQ(e.FInputMax[2], 255);
  }
  TToneCurveEffect e;
  ExpectRefused(Dir + "missing.txt", "missing.txt", [&] { e.LoadPreset(Dir + "missing.txt"); });
}

}  // namespace
