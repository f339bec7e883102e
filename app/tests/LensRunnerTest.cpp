// The lens correction through the real tessivo program: a fisheye picture
// drawn from the lens definition comes back as the rectilinear and the
// Panini view of the same scene, drawn from those projections' definitions;
// a refused script keeps the picture with one warning line, and a program
// without bin/libfisheye.so does not start.
#include "app/tests/RunTessivo.h"
#include "testutil/Netpbm.h"
#include "testutil/TestEnv.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <numbers>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using testrun::ReadFile;
using testrun::Shell;
using testrun::TRun;

constexpr double Pi = std::numbers::pi;
constexpr int SW = 960, SH = 720;  // the fisheye picture
constexpr double SourceAngle = Pi;  // 180 degrees across the width, r = F theta

// The scene: a plane one unit ahead, coloured smoothly. A direction that
// does not reach it within 75 degrees of the axis shows gray.
void Scene(double DX, double DY, double DZ, double Rgb[3]) {
  if (DZ <= std::cos(75 * Pi / 180) * std::sqrt(DX * DX + DY * DY + DZ * DZ)) {
    Rgb[0] = Rgb[1] = Rgb[2] = 128;
    return;
  }
  const double X = DX / DZ, Y = DY / DZ;
  Rgb[0] = 128 + 100 * std::sin(3.1 * X) * std::cos(2.3 * Y);
  Rgb[1] = 128 + 100 * std::sin(2.2 * (X + Y) + 1);
  Rgb[2] = 128 + 100 * std::cos(1.7 * X - 3.3 * Y);
}

// A picture drawn 3 x 3 times per pixel from a direction function (false:
// nothing there, black).
using TDirection = std::function<bool(double X, double Y, double D[3])>;
std::vector<double> Draw(int W, int H, const TDirection &Dir) {
  std::vector<double> out(size_t(W) * H * 3);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      double sum[3] = {0, 0, 0};
      for (int sy = 0; sy < 3; ++sy)
        for (int sx = 0; sx < 3; ++sx) {
          double d[3], c[3] = {0, 0, 0};
          if (Dir(x + (sx - 1) / 3.0, y + (sy - 1) / 3.0, d)) Scene(d[0], d[1], d[2], c);
          for (int k = 0; k < 3; ++k) sum[k] += c[k] / 9;
        }
      for (int k = 0; k < 3; ++k) out[(size_t(y) * W + x) * 3 + k] = sum[k];
    }
  return out;
}

bool FisheyeDirection(double X, double Y, double D[3]) {
  const double dx = X - (SW - 1) / 2.0, dy = Y - (SH - 1) / 2.0, r = std::hypot(dx, dy);
  const double theta = r * SourceAngle / SW;
  const double s = r > 0 ? std::sin(theta) / r : 0;
  D[0] = dx * s, D[1] = dy * s, D[2] = std::cos(theta);
  return true;
}

class LensRunner : public ::testing::Test {
protected:
  void SetUp() override {
    char Tmpl[] = "/tmp/tessivo-lens-XXXXXX";
    Dir = ::mkdtemp(Tmpl);
    fs::create_directories(Dir + "/data/ini");
    fs::create_directories(Dir + "/p");
  }
  void TearDown() override { fs::remove_all(Dir); }

  bool Ready() { return Shell("command -v convert") && !testenv::BinFile("dedistortion").empty(); }

  // The fisheye picture as p/fisheye.png.
  bool PrepareFisheye() {
    const std::vector<double> px = Draw(SW, SH, FisheyeDirection);
    std::ofstream out(Dir + "/p/fisheye.ppm", std::ios::binary);
    out << "P6\n" << SW << " " << SH << "\n255\n";
    for (double v : px) out.put(char(uint8_t(std::lround(std::clamp(v, 0.0, 255.0)))));
    out.close();
    return Shell("convert " + Dir + "/p/fisheye.ppm " + Dir + "/p/fisheye.png") && fs::remove(Dir + "/p/fisheye.ppm");
  }

  // Converts p/fisheye.png into out/ with the lens step's keys, no resize.
  TRun Convert(const std::string &Keys, const std::string &Program = "") {
    std::ofstream(Dir + "/data/ini/t.ini") << "[File]\nFileNameFormat=" + Dir +
                                                  "/out/<old>.png\nAddSubFolder=0\n[ResizeFilter]\nUse=0\n"
                                                  "[DeDistortionFilter]\nUse=1\n" + Keys;
    fs::remove_all(Dir + "/out");
    testrun::TRunPlace P;
    P.Env = {"TESSIVOPLUS_DATA=" + Dir + "/data", "HOME=" + Dir, "PATH=/usr/bin:/bin", "LANG=C.UTF-8"};
    P.WorkDir = Dir + "/p";
    P.ErrPath = Dir + "/stderr.txt";
    const std::string Run = Program.empty() ? testrun::TessivoProgram() : Program;
    return testrun::WaitTessivo(testrun::StartProgram(Run, {"/ini=t.ini", "fisheye.png"}, P), P);
  }

  bool Read(const std::string &File, testutil::TNetpbm &Img) {
    return testutil::ParseNetpbm(testrun::Capture("convert '" + File + "' -depth 8 pam:- 2>/dev/null"), Img);
  }

  // PSNR of Img against the drawn picture where Compare holds.
  static double Psnr(const testutil::TNetpbm &Img, const std::vector<double> &Want,
                     const std::function<bool(int, int)> &Compare, size_t &Samples) {
    double se = 0;
    Samples = 0;
    for (int y = 0; y < int(Img.Height); ++y)
      for (int x = 0; x < int(Img.Width); ++x) {
        if (!Compare(x, y)) continue;
        const auto p = Img.Rgba(uint32_t(x), uint32_t(y));
        for (int k = 0; k < 3; ++k) se += std::pow(p[size_t(k)] - Want[(size_t(y) * Img.Width + x) * 3 + k], 2);
        Samples += 3;
      }
    return 10 * std::log10(255.0 * 255.0 / std::max(se / double(std::max<size_t>(Samples, 1)), 1e-9));
  }

  std::string Dir;
};

struct TViewCase {
  const char *Name;
  const char *Keys;
  int W, H;
  // Direction of a result pixel by the projection's definition; false where
  // the comparison leaves it out.
  bool (*Direction)(double X, double Y, double D[3]);
};

// Rectilinear, 100 degrees across 960 pixels: a pinhole camera.
bool RectilinearDirection(double X, double Y, double D[3]) {
  const double d = 960 / (2 * std::tan(50 * Pi / 180));
  D[0] = X - 959 / 2.0, D[1] = Y - 719 / 2.0, D[2] = d;
  return std::atan(std::hypot(D[0], D[1]) / d) < 60 * Pi / 180;
}

// Panini (cylindrical stereographic), 180 degrees across 960 pixels.
bool PaniniDirection(double X, double Y, double D[3]) {
  const double d = 960 / (4 * std::tan(45 * Pi / 180));
  const double lon = 2 * std::atan((X - 959 / 2.0) / (2 * d));
  const double tanLat = (Y - 719 / 2.0) / d * (1 + std::cos(lon)) / 2;
  D[0] = std::sin(lon), D[1] = tanLat, D[2] = std::cos(lon);
  return std::fabs(lon) < 55 * Pi / 180 && std::fabs(std::atan(tanLat)) < 45 * Pi / 180;
}

class LensRunnerView : public LensRunner, public ::testing::WithParamInterface<TViewCase> {};

TEST_P(LensRunnerView, FisheyePhotoComesOutAsTheViewOfTheScene) {
  TESSIVO_REQUIRE(Ready()) << "ImageMagick's convert or bin/dedistortion missing";
  ASSERT_TRUE(PrepareFisheye());
  const TViewCase &c = GetParam();
  const TRun R = Convert(c.Keys);
  ASSERT_EQ(R.Status, 0) << R.Err;
  EXPECT_EQ(R.Err.find("歪み補正"), std::string::npos) << R.Err;
  testutil::TNetpbm img;
  ASSERT_TRUE(Read(Dir + "/out/fisheye.png", img));
  ASSERT_EQ(img.Width, uint32_t(c.W));
  ASSERT_EQ(img.Height, uint32_t(c.H));
  const std::vector<double> want = Draw(c.W, c.H, [&](double X, double Y, double D[3]) {
    c.Direction(X, Y, D);
    return true;
  });
  size_t samples = 0;
  const double psnr = Psnr(img, want, [&](int x, int y) {
    double d[3];
    return c.Direction(x, y, d);
  }, samples);
  EXPECT_GT(samples, size_t(c.W) * c.H);  // more than a third of the picture
  std::printf("    PSNR %.1f dB over %zu samples\n", psnr, samples);
  EXPECT_GE(psnr, 30.0) << "against the scene drawn in the projection";
}

INSTANTIATE_TEST_SUITE_P(
    Lens, LensRunnerView,
    ::testing::Values(TViewCase{"Rectilinear",
                                "Tool=1\nSrcProjection=1\nSrcHFOV=180\nDestProjection=0\nDestHFOV=100\nWidth=w\n"
                                "Height=w*0.75\n",
                                960, 720, RectilinearDirection},
                      TViewCase{"Panini", "Tool=1\nSrcProjection=1\nSrcHFOV=180\nDestProjection=3\nDestHFOV=180\n", 960,
                                720, PaniniDirection}),
    [](const auto &Info) { return std::string(Info.param.Name); });

// The tool refuses an angle of 400 degrees: the file converts as it was,
// with one warning line that gives the tool's reason.
TEST_F(LensRunner, ARefusedScriptKeepsThePictureWithAWarning) {
  TESSIVO_REQUIRE(Ready()) << "ImageMagick's convert or bin/dedistortion missing";
  ASSERT_TRUE(PrepareFisheye());
  const TRun R = Convert("Tool=1\nSrcProjection=1\nSrcHFOV=400\nDestProjection=0\nDestHFOV=100\n");
  EXPECT_EQ(R.Status, 0) << R.Err;
  EXPECT_NE(R.Err.find("fisheye.png: 歪み補正: dedistortion: /tmp/TessivoPlus-"), std::string::npos) << R.Err;
  EXPECT_NE(R.Err.find("the source angle v must lie above 0 and up to 360"), std::string::npos) << R.Err;
  EXPECT_NE(R.Err.find("1 with warnings, 0 failed"), std::string::npos) << R.Err;
  EXPECT_EQ(testrun::Capture("compare -metric AE '" + Dir + "/p/fisheye.png' '" + Dir + "/out/fisheye.png' null: 2>&1"),
            "0");
}

// The lens library is bound at start-up like the resampling library.
TEST_F(LensRunner, WithoutTheLensLibraryTheProgramDoesNotStart) {
  TESSIVO_REQUIRE(Ready()) << "ImageMagick's convert or bin/dedistortion missing";
  ASSERT_TRUE(PrepareFisheye());
  const std::string Copy = Dir + "/prog";
  std::string Missing;
  const std::string Program = testrun::ProgramCopyWith(Copy, {"libpixio.so", "libresize.so", "dedistortion"}, Missing);
  TESSIVO_REQUIRE(!Program.empty()) << Missing;
  const TRun R = Convert("Tool=1\n", Program);
  EXPECT_EQ(R.Status, 3) << R.Err;
  EXPECT_NE(R.Err.find("LoadLibrary Error: " + Copy + "/bin/libfisheye.so"), std::string::npos) << R.Err;
  EXPECT_FALSE(fs::exists(Dir + "/out"));
}

}  // namespace
