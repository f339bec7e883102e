// The reprojection geometry: the quick axis angle against the library's
// atan2, and mappings whose answer is known without the code (the same
// projection in and out is the identity; the centre looks at the centre).
#include "tools/dedistortion/LensProjection.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace {

TEST(LensAngle, AgreesWithAtan2EverywhereAroundTheAxis) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> angle(0, 3.141592653589793), scale(1e-3, 1e4);
  double worst = 0;
  for (int i = 0; i < 200000; ++i) {
    const double a = angle(rng), s = scale(rng);
    const double rho = s * std::sin(a), z = s * std::cos(a);
    worst = std::max(worst, std::fabs(AngleFromAxis(rho, z) - std::atan2(rho, z)));
  }
  EXPECT_LT(worst, 1e-9);
  EXPECT_EQ(AngleFromAxis(0, 0), 0);
  EXPECT_EQ(AngleFromAxis(0, 5), 0);
  EXPECT_NEAR(AngleFromAxis(0, -5), 3.141592653589793, 1e-15);
  EXPECT_NEAR(AngleFromAxis(5, 0), 3.141592653589793 / 2, 1e-15);
  EXPECT_NEAR(AngleFromAxis(2, 2), 3.141592653589793 / 4, 1e-15);
}

struct TIdentityCase {
  const char *Name;
  int32_t Lens, Pano;
  double Angle;
};

class LensIdentity : public ::testing::TestWithParam<TIdentityCase> {};

// A lens drawn as its own projection at the same angle and size maps every
// pixel onto itself.
TEST_P(LensIdentity, SameProjectionMapsEveryPixelOntoItself) {
  const TIdentityCase &c = GetParam();
  TLensScript s;
  s.LensCode = c.Lens, s.LensHFOV = c.Angle, s.PanoCode = c.Pano, s.PanoHFOV = c.Angle, s.Width = 301, s.Height = 200;
  const TLensMapping m(s, 301, 200);
  double worst = 0;
  int mapped = 0;
  for (int y = 0; y < 200; y += 3)
    for (int x = 0; x < 301; x += 3) {
      double sx, sy;
      if (!m.Map(x, y, sx, sy)) continue;
      worst = std::max({worst, std::fabs(sx - x), std::fabs(sy - y)});
      ++mapped;
    }
  EXPECT_GT(mapped, 5000);
  EXPECT_LT(worst, 1e-6);
}

INSTANTIATE_TEST_SUITE_P(Lens, LensIdentity,
                         ::testing::Values(TIdentityCase{"Equidistant", 3, 3, 170}, TIdentityCase{"Equisolid", 21, 15, 150},
                                           TIdentityCase{"EquidistantWide", 3, 3, 300}),
                         [](const auto &Info) { return std::string(Info.param.Name); });

TEST(LensMapping, TheCentreLooksAtTheCentreForEveryPair) {
  for (int lens : {2, 3, 8, 21})
    for (int pano : {0, 1, 2, 3, 15, 19}) {
      TLensScript s;
      s.LensCode = lens, s.LensHFOV = 160, s.PanoCode = pano, s.PanoHFOV = 120, s.Width = 101, s.Height = 81;
      const TLensMapping m(s, 640, 480);
      double sx, sy;
      ASSERT_TRUE(m.Map(50, 40, sx, sy)) << lens << " " << pano;
      EXPECT_NEAR(sx, 319.5, 1e-9) << lens << " " << pano;
      EXPECT_NEAR(sy, 239.5, 1e-9) << lens << " " << pano;
    }
}

}  // namespace

namespace {

struct TRowCase {
  const char *Name;
  int32_t Lens, Pano;
  double LensAngle, PanoAngle, Yaw;
};

class LensRow : public ::testing::TestWithParam<TRowCase> {};

// A row's positions, midpoints included, are within a hundredth of a pixel
// of the exact ones, also where the mapping jumps (the rim of a 360-degree
// fisheye straight behind the view).
TEST_P(LensRow, RowPositionsMatchTheExactMapping) {
  const TRowCase &c = GetParam();
  TLensScript s;
  s.LensCode = c.Lens, s.LensHFOV = c.LensAngle, s.PanoCode = c.Pano, s.PanoHFOV = c.PanoAngle, s.Yaw = c.Yaw;
  s.Width = 721, s.Height = 361;
  const TLensMapping m(s, 800, 800);
  std::vector<float> sx(721), sy(721);
  std::vector<uint8_t> valid(721);
  double worst = 0;
  for (int y = 0; y < 361; y += 4) {
    m.MapRow(y, sx.data(), sy.data(), valid.data());
    for (int x = 0; x < 721; ++x) {
      double ex, ey;
      const bool ok = m.Map(x, y, ex, ey);
      ASSERT_EQ(valid[size_t(x)] != 0, ok) << x << "," << y;
      if (ok) worst = std::max({worst, std::fabs(sx[size_t(x)] - ex), std::fabs(sy[size_t(x)] - ey)});
    }
  }
  EXPECT_LT(worst, 0.01);
}

INSTANTIATE_TEST_SUITE_P(Lens, LensRow,
                         ::testing::Values(TRowCase{"FullFrameToRectilinear", 3, 0, 180, 120, 0},
                                           TRowCase{"WholeSphereBehindTheView", 3, 2, 360, 360, 180},
                                           TRowCase{"CircularToPanini", 2, 19, 180, 200, 30}),
                         [](const auto &Info) { return std::string(Info.param.Name); });

}  // namespace
