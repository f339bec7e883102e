// The reprojection tool's script reader: the lines the lens correction
// writes, and scripts it must refuse with a reason.
#include "tools/dedistortion/LensScript.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct TGoodScript {
  const char *Name;
  const char *Text;
  TLensScript Want;
};

class ReadsScript : public ::testing::TestWithParam<TGoodScript> {};

TEST_P(ReadsScript, IntoItsFields) {
  const TGoodScript &c = GetParam();
  const TLensScript s = ParseLensScript(c.Text);
  EXPECT_DOUBLE_EQ(s.Yaw, c.Want.Yaw);
  EXPECT_DOUBLE_EQ(s.Pitch, c.Want.Pitch);
  EXPECT_DOUBLE_EQ(s.Roll, c.Want.Roll);
  EXPECT_EQ(s.LensCode, c.Want.LensCode);
  EXPECT_DOUBLE_EQ(s.LensHFOV, c.Want.LensHFOV);
  EXPECT_EQ(s.SourceName, c.Want.SourceName);
  EXPECT_EQ(s.Width, c.Want.Width);
  EXPECT_EQ(s.Height, c.Want.Height);
  EXPECT_EQ(s.PanoCode, c.Want.PanoCode);
  EXPECT_DOUBLE_EQ(s.PanoHFOV, c.Want.PanoHFOV);
}

INSTANTIATE_TEST_SUITE_P(
    LensScript, ReadsScript,
    ::testing::Values(
        TGoodScript{"PaniniWithCrLf", "o y0.00 p0.00 r0.00 f3 v180.00\r\np w4000 h3000 f19 v180.00 P\"100 0 0\"\r\nm i1\r\n",
                    {0, 0, 0, 3, 180, "", 4000, 3000, 19, 180}},
        TGoodScript{"TurnedCircularToRectilinear", "o y-12.50 p7.25 r1.00 f2 v170.00\np w500 h300 f0 v100.00\nm i1\n",
                    {-12.5, 7.25, 1, 2, 170, "", 500, 300, 0, 100}},
        TGoodScript{"SourceNamedWithBlanks",
                    "o y0.00 p0.00 r0.00 f21 v150.00 n\"/tmp/a b/src 1.tif\"\r\np w800 h600 f15 v180.00\r\nm i1\r\n",
                    {0, 0, 0, 21, 150, "/tmp/a b/src 1.tif", 800, 600, 15, 180}},
        TGoodScript{"LinesInAnyOrderWithComment", "# made by hand\nm i1\np f2 v360 w1000 h500\no f8 v180\n",
                    {0, 0, 0, 8, 180, "", 1000, 500, 2, 360}},
        TGoodScript{"NoInterpolatorLine", "o f3 v180\np w10 h10 f1 v90 n\"TIFF_m\"", {0, 0, 0, 3, 180, "", 10, 10, 1, 90}}),
    [](const auto &Info) { return std::string(Info.param.Name); });

struct TBadScript {
  const char *Name;
  const char *Text;
  const char *Reason;  // part of the message
};

class RefusesScript : public ::testing::TestWithParam<TBadScript> {};

TEST_P(RefusesScript, WithItsReason) {
  const TBadScript &c = GetParam();
  try {
    ParseLensScript(c.Text);
    ADD_FAILURE() << "accepted";
  } catch (const ELensScriptError &E) {
    EXPECT_NE(std::string(E.what()).find(c.Reason), std::string::npos) << E.what();
  }
}

INSTANTIATE_TEST_SUITE_P(
    LensScript, RefusesScript,
    ::testing::Values(
        TBadScript{"NumberWithLetters", "o y1x p0 r0 f3 v180\np w10 h10 f0 v90\n", "script line 1: \"y1x\" is not a number"},
        TBadScript{"UnknownLine", "o f3 v180\np w10 h10 f0 v90\nk i0 j1\n", "script line 3: unknown line"},
        TBadScript{"UnknownToken", "o f3 v180 a0.01\np w10 h10 f0 v90\n", "\"a0.01\" is not read on an \"o\" line"},
        TBadScript{"UnterminatedName", "o f3 v180 n\"src.tif\np w10 h10 f0 v90\n", "unterminated text"},
        TBadScript{"RectilinearLens", "o f0 v90\np w10 h10 f0 v90\n", "lens code f0 is not read"},
        TBadScript{"StereographicResult", "o f3 v180\np w10 h10 f4 v90\n", "projection code f4 is not drawn"},
        TBadScript{"OtherPaniniParameters", "o f3 v180\np w10 h10 f19 v90 P\"50 0 0\"\n", "P\"100 0 0\""},
        TBadScript{"PaniniWithoutParameters", "o f3 v180\np w10 h10 f19 v90\n", "needs P\"100 0 0\""},
        TBadScript{"RectilinearAt180", "o f3 v180\np w10 h10 f0 v180\n", "below 180"},
        TBadScript{"ZeroWidth", "o f3 v180\np w0 h10 f0 v90\n", "between 1 and 65535"},
        TBadScript{"FractionalHeight", "o f3 v180\np w10 h10.5 f0 v90\n", "not a whole number"},
        TBadScript{"NoSourceAngle", "o f3\np w10 h10 f0 v90\n", "source angle"},
        TBadScript{"TwoImages", "o f3 v180\no f3 v180\np w10 h10 f0 v90\n", "a second \"o\" line"},
        TBadScript{"NoPanoramaLine", "o f3 v180\nm i1\n", "no \"p\" line"},
        TBadScript{"NoImageLine", "p w10 h10 f0 v90\n", "no \"o\" line"},
        TBadScript{"OtherInterpolator", "o f3 v180\np w10 h10 f0 v90\nm i3\n", "interpolator i1"},
        TBadScript{"NotTiff", "o f3 v180\np w10 h10 f0 v90 n\"JPEG q90\"\n", "TIFF"}),
    [](const auto &Info) { return std::string(Info.param.Name); });

}  // namespace
