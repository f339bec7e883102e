// bin/dedistortion as a process: its pictures against PTmender's (Debian's
// libpano13-bin) for the same script, straight scene lines staying straight
// in a rectilinear result, and refusals that leave no result file.
#include "testutil/Netpbm.h"
#include "testutil/OutsideTool.h"
#include "testutil/TestEnv.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <numbers>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

extern char **environ;

namespace {

constexpr double Pi = std::numbers::pi;

std::string ToolPath() { return testenv::BinFile("dedistortion"); }

// Runs Args with standard error into ErrPath; answers the exit status (-1
// when it could not start, 128 + the signal when one ended it).
int RunProgram(std::vector<std::string> Args, const std::string &ErrPath) {
  std::vector<char *> argv;
  for (auto &a : Args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 2, ErrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  const int r = posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  if (r != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) < 0) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string ReadText(const std::string &Path) {
  std::ifstream in(Path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Writes an 8-bit RGB picture as TIFF through ImageMagick.
bool WriteTiff(const std::string &Path, int W, int H, const std::function<void(int, int, uint8_t *)> &Pixel) {
  const std::string ppm = Path + ".ppm";
  {
    std::ofstream out(ppm, std::ios::binary);
    out << "P6\n" << W << " " << H << "\n255\n";
    std::vector<uint8_t> row(size_t(W) * 3);
    for (int y = 0; y < H; ++y) {
      for (int x = 0; x < W; ++x) Pixel(x, y, &row[size_t(x) * 3]);
      out.write(reinterpret_cast<const char *>(row.data()), std::streamsize(row.size()));
    }
  }
  const bool ok = std::system(("convert " + testenv::ShellQuoted(ppm) + " -depth 8 -compress none " +
                               testenv::ShellQuoted(Path) + " 2>/dev/null").c_str()) == 0;
  fs::remove(ppm);
  return ok;
}

bool ReadImage(const std::string &Path, testutil::TNetpbm &Out) {
  return testutil::ParseNetpbm(testenv::Capture("convert " + testenv::ShellQuoted(Path) + " -depth 8 pam:-"), Out);
}

// A smooth colour pattern with a few sharp spots: every part of the frame
// differs from every other, so a misplaced result cannot match by chance.
void SmoothPattern(int X, int Y, uint8_t *P) {
  const double r = 127 + 100 * std::sin(X / 37.0) * std::cos(Y / 23.0);
  const double g = 127 + 100 * std::sin((X + Y) / 51.0);
  const double b = 127 + 100 * std::cos((X - 2.0 * Y) / 43.0);
  const bool spot = (X / 8) % 9 == 4 && (Y / 8) % 7 == 3;
  P[0] = uint8_t(spot ? 255 : std::lround(r));
  P[1] = uint8_t(spot ? 0 : std::lround(g));
  P[2] = uint8_t(spot ? 0 : std::lround(b));
}

class DedistortionTool : public ::testing::Test {
protected:
  void SetUp() override {
    char tmpl[] = "/tmp/dedistortion-test-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    Dir = tmpl;
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(Dir, ec);
  }
  std::string Write(const std::string &Name, const std::string &Text) {
    const std::string p = Dir + "/" + Name;
    std::ofstream(p, std::ios::binary) << Text;
    return p;
  }
  int Tool(const std::string &Result, const std::string &Source, const std::string &Script) {
    return RunProgram({ToolPath(), "-o" + Result, "-i" + Source, "-s" + Script}, Dir + "/err.txt");
  }
  std::string Err() { return ReadText(Dir + "/err.txt"); }
  // Names in Dir other than those given.
  std::vector<std::string> OtherFiles(const std::vector<std::string> &Known) {
    std::vector<std::string> other;
    for (const auto &e : fs::directory_iterator(Dir)) {
      const std::string n = e.path().filename().string();
      if (std::find(Known.begin(), Known.end(), n) == Known.end()) other.push_back(n);
    }
    return other;
  }
  std::string Dir;
};

std::string Fixed(double V) {
  char b[32];
  std::snprintf(b, sizeof b, "%.2f", V);
  return b;
}

struct TPairCase {
  const char *Name;
  int Lens;
  double LensAngle;
  int Pano;
  double PanoAngle;
  double Yaw, Pitch, Roll;
};

class MatchesPTmender : public DedistortionTool, public ::testing::WithParamInterface<TPairCase> {};

// The same script, the source named in the "o" line for PTmender; the result
// must match over the area both see, and both must see the same area.
TEST_P(MatchesPTmender, OverTheAreaBothSee) {
  TESSIVO_REQUIRE(!ToolPath().empty()) << "no bin/dedistortion";
  TESSIVO_REQUIRE(testenv::HaveImageMagick()) << "ImageMagick";
  TESSIVO_REQUIRE(std::system("PTmender --help >/dev/null 2>&1 || command -v PTmender >/dev/null") == 0)
      << "PTmender (libpano13-bin)";
  const TPairCase &c = GetParam();
  const std::string src = Dir + "/src.tif";
  ASSERT_TRUE(WriteTiff(src, 400, 300, SmoothPattern));
  const std::string o = "o y" + Fixed(c.Yaw) + " p" + Fixed(c.Pitch) + " r" + Fixed(c.Roll) + " f" +
                        std::to_string(c.Lens) + " v" + Fixed(c.LensAngle);
  const std::string p = "p w320 h240 f" + std::to_string(c.Pano) + " v" + Fixed(c.PanoAngle) +
                        (c.Pano == 19 ? " P\"100 0 0\"" : "");
  const std::string ours = Write("ours.txt", o + "\r\n" + p + "\r\nm i1\r\n");
  const std::string theirs = Write("theirs.txt", o + " n\"" + src + "\"\r\n" + p + " n\"TIFF\"\r\nm i1\r\n");
  ASSERT_EQ(Tool(Dir + "/ours.tif", src, ours), 0) << Err();
  ASSERT_EQ(RunProgram({"PTmender", "-o", Dir + "/theirs", theirs}, Dir + "/pterr.txt"), 0)
      << ReadText(Dir + "/pterr.txt");
  testutil::TNetpbm a, b;
  ASSERT_TRUE(ReadImage(Dir + "/ours.tif", a));
  ASSERT_TRUE(ReadImage(Dir + "/theirs0000.tif", b));
  ASSERT_EQ(a.Width, 320u);
  ASSERT_EQ(a.Height, 240u);
  ASSERT_EQ(b.Width, a.Width);
  ASSERT_EQ(b.Height, a.Height);
  ASSERT_EQ(a.Depth, 4u) << "the result carries its alpha";
  // The valid area, away from its rim by two pixels, where the kernels'
  // edge rules differ.
  const auto seen = [&](int X, int Y) {
    for (int dy = -2; dy <= 2; ++dy)
      for (int dx = -2; dx <= 2; ++dx) {
        const int x = X + dx, y = Y + dy;
        if (x < 0 || y < 0 || x >= int(a.Width) || y >= int(a.Height)) return false;
        if (a.Rgba(x, y)[3] == 0 || b.Rgba(x, y)[3] == 0) return false;
      }
    return true;
  };
  double se = 0;
  size_t n = 0, disagree = 0, seenByPTmender = 0;
  for (int y = 0; y < int(a.Height); ++y)
    for (int x = 0; x < int(a.Width); ++x) {
      disagree += (a.Rgba(x, y)[3] > 0) != (b.Rgba(x, y)[3] > 0);
      seenByPTmender += b.Rgba(x, y)[3] > 0;
      if (!seen(x, y)) continue;
      for (int k = 0; k < 3; ++k) se += std::pow(a.Rgba(x, y)[k] - b.Rgba(x, y)[k], 2);
      n += 3;
    }
  ASSERT_GT(n, size_t(3 * 320 * 240 / 4)) << "too little of the result sees the source";
  const double psnr = 10 * std::log10(255.0 * 255.0 / std::max(se / double(n), 1e-9));
  std::printf("    PSNR %.1f dB over %zu samples\n", psnr, n);
  EXPECT_GE(psnr, 35.0);
  EXPECT_LT(double(disagree), 0.02 * double(seenByPTmender)) << "the seen areas differ in " << disagree << " pixels";
}

INSTANTIATE_TEST_SUITE_P(
    Dedistortion, MatchesPTmender,
    ::testing::Values(TPairCase{"CircularToRectilinear", 2, 180, 0, 100, 0, 0, 0},
                      TPairCase{"CircularToCylindrical", 2, 180, 1, 150, 0, 0, 0},
                      TPairCase{"CircularToEquirectangular", 2, 180, 2, 160, 0, 0, 0},
                      TPairCase{"CircularToEquidistant", 2, 180, 3, 240, 0, 0, 0},
                      TPairCase{"CircularToEquisolid", 2, 180, 15, 200, 0, 0, 0},
                      TPairCase{"CircularToPanini", 2, 180, 19, 180, 0, 0, 0},
                      TPairCase{"FullFrameToRectilinear", 3, 180, 0, 120, 0, 0, 0},
                      TPairCase{"FullFrameToCylindrical", 3, 180, 1, 150, 0, 0, 0},
                      TPairCase{"FullFrameToEquirectangular", 3, 180, 2, 150, 0, 0, 0},
                      TPairCase{"FullFrameToEquidistant", 3, 180, 3, 180, 0, 0, 0},
                      TPairCase{"FullFrameToEquisolid", 3, 180, 15, 180, 0, 0, 0},
                      TPairCase{"FullFrameToPanini", 3, 180, 19, 180, 0, 0, 0},
                      TPairCase{"OrthographicToRectilinear", 8, 160, 0, 100, 0, 0, 0},
                      TPairCase{"OrthographicToCylindrical", 8, 160, 1, 150, 0, 0, 0},
                      TPairCase{"OrthographicToEquirectangular", 8, 170, 2, 150, 0, 0, 0},
                      TPairCase{"OrthographicToEquidistant", 8, 180, 3, 180, 0, 0, 0},
                      TPairCase{"OrthographicToEquisolid", 8, 160, 15, 180, 0, 0, 0},
                      TPairCase{"OrthographicToPanini", 8, 160, 19, 180, 0, 0, 0},
                      TPairCase{"EquisolidToRectilinear", 21, 180, 0, 100, 0, 0, 0},
                      TPairCase{"EquisolidToCylindrical", 21, 180, 1, 150, 0, 0, 0},
                      TPairCase{"EquisolidToEquirectangular", 21, 180, 2, 150, 0, 0, 0},
                      TPairCase{"EquisolidToEquidistant", 21, 180, 3, 180, 0, 0, 0},
                      TPairCase{"EquisolidToEquisolid", 21, 150, 15, 180, 0, 0, 0},
                      TPairCase{"EquisolidToPanini", 21, 180, 19, 200, 0, 0, 0},
                      TPairCase{"FullFrameTurnedToRectilinear", 3, 180, 0, 90, 25, -15, 10},
                      TPairCase{"CircularTurnedToPanini", 2, 180, 19, 160, -30, 20, -5},
                      TPairCase{"EquisolidRolledToEquirectangular", 21, 170, 2, 150, 0, 0, 30}),
    [](const auto &Info) { return std::string(Info.param.Name); });

// A full-frame fisheye picture of a plane with a grid of dark lines, drawn
// from the lens definition (r = F theta, F = width / angle); its rectilinear
// result must show the lines straight and where a pinhole camera puts them.
TEST_F(DedistortionTool, SceneLinesComeOutStraightInARectilinearResult) {
  TESSIVO_REQUIRE(!ToolPath().empty()) << "no bin/dedistortion";
  TESSIVO_REQUIRE(testenv::HaveImageMagick()) << "ImageMagick";
  constexpr int SW = 640, SH = 480;
  const double f = SW / Pi;  // 180 degrees across the width
  constexpr double Spacing = 0.4, Half = 0.01;  // plane units at distance 1
  const auto plane = [&](double X, double Y) {
    const auto nearLine = [&](double v) { return std::fabs(v / Spacing - std::round(v / Spacing)) * Spacing < Half; };
    return nearLine(X) || nearLine(Y);
  };
  const std::string src = Dir + "/grid.tif";
  ASSERT_TRUE(WriteTiff(src, SW, SH, [&](int x, int y, uint8_t *p) {
    int dark = 0;
    for (int sy = 0; sy < 4; ++sy)
      for (int sx = 0; sx < 4; ++sx) {
        const double dx = x + (sx + 0.5) / 4 - 0.5 - (SW - 1) / 2.0, dy = y + (sy + 0.5) / 4 - 0.5 - (SH - 1) / 2.0;
        const double r = std::hypot(dx, dy), theta = r / f;
        if (theta >= Pi / 2 * 0.95 || r == 0) continue;
        const double t = std::tan(theta) / r;
        dark += plane(dx * t, dy * t);
      }
    p[0] = p[1] = p[2] = uint8_t(255 - dark * 255 / 16);
  }));
  constexpr int W = 600, H = 450;
  const std::string script = Write("grid.txt", "o y0.00 p0.00 r0.00 f3 v180.00\r\np w600 h450 f0 v100.00\r\nm i1\r\n");
  ASSERT_EQ(Tool(Dir + "/flat.tif", src, script), 0) << Err();
  testutil::TNetpbm img;
  ASSERT_TRUE(ReadImage(Dir + "/flat.tif", img));
  ASSERT_EQ(img.Width, unsigned(W));
  const double d = W / (2 * std::tan(100.0 / 2 * Pi / 180));
  // Every vertical line X = k x Spacing: in each row, the darkness-weighted
  // column near where the pinhole puts it.
  for (int k = -2; k <= 2; ++k) {
    const double want = d * k * Spacing + (W - 1) / 2.0;
    double worst = 0;
    int rows = 0;
    for (int y = 40; y < H - 40; y += 5) {
      double sum = 0, weight = 0;
      for (int x = int(want) - 6; x <= int(want) + 7; ++x) {
        const double dark = 255.0 - img.Rgba(x, y)[0];
        sum += dark * x, weight += dark;
      }
      if (weight < 100) continue;  // a crossing line or the rim: nothing to measure
      worst = std::max(worst, std::fabs(sum / weight - want));
      ++rows;
    }
    EXPECT_GT(rows, 40) << "line " << k;
    EXPECT_LT(worst, 0.5) << "vertical line " << k << " bends or moves by " << worst << " px";
  }
  for (int k = -1; k <= 1; ++k) {
    const double want = d * k * Spacing + (H - 1) / 2.0;
    double worst = 0;
    for (int x = 40; x < W - 40; x += 5) {
      double sum = 0, weight = 0;
      for (int y = int(want) - 6; y <= int(want) + 7; ++y) {
        const double dark = 255.0 - img.Rgba(x, y)[0];
        sum += dark * y, weight += dark;
      }
      if (weight < 100) continue;
      worst = std::max(worst, std::fabs(sum / weight - want));
    }
    EXPECT_LT(worst, 0.5) << "horizontal line " << k << " bends or moves by " << worst << " px";
  }
}

struct TRefusalCase {
  const char *Name;
  const char *Script;     // "" for a missing script file
  const char *Source;     // "picture", "missing" or "text"
  bool ResultUnwritable;  // the result's folder is a file
  const char *Says;       // part of the message
};

class RefusesInput : public DedistortionTool, public ::testing::WithParamInterface<TRefusalCase> {};

// A refusal says why, exits with 1 and leaves the result as it was: an
// earlier result at the path stays, no temporary file stays behind.
TEST_P(RefusesInput, WithAMessageAndNoResult) {
  TESSIVO_REQUIRE(!ToolPath().empty()) << "no bin/dedistortion";
  TESSIVO_REQUIRE(testenv::HaveImageMagick()) << "ImageMagick";
  const TRefusalCase &c = GetParam();
  const std::string src = Dir + "/src.tif";
  ASSERT_TRUE(WriteTiff(src, 64, 48, SmoothPattern));
  if (std::string(c.Source) == "missing") fs::remove(src);
  if (std::string(c.Source) == "text") Write("src.tif", "not a picture");
  const std::string script = *c.Script ? Write("script.txt", c.Script) : Dir + "/script.txt";
  std::string result = Dir + "/result.tif";
  if (c.ResultUnwritable) {
    Write("plain", "a file, not a folder");
    result = Dir + "/plain/result.tif";
  } else {
    Write("result.tif", "earlier result");
  }
  EXPECT_EQ(Tool(result, src, script), 1);
  const std::string err = Err();
  EXPECT_NE(err.find("dedistortion: "), std::string::npos) << err;
  EXPECT_NE(err.find(c.Says), std::string::npos) << err;
  if (!c.ResultUnwritable) {
    EXPECT_TRUE(ReadText(result) == "earlier result") << "the earlier result was replaced";
  }
  EXPECT_EQ(OtherFiles({"src.tif", "script.txt", "result.tif", "plain", "err.txt"}), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Dedistortion, RefusesInput,
    ::testing::Values(
        TRefusalCase{"LineThatCannotBeParsed", "o y0.00 p0.00 r0.00 f3 v1B0.00\r\np w64 h48 f0 v100.00\r\nm i1\r\n",
                     "picture", false, "script line 1: \"v1B0.00\" is not a number"},
        TRefusalCase{"MissingSource", "o f3 v180\np w64 h48 f0 v100\n", "missing", false, "cannot read the source"},
        TRefusalCase{"UnwritableResultPath", "o f3 v180\np w64 h48 f0 v100\n", "picture", true, "/plain"},
        TRefusalCase{"MissingScript", "", "picture", false, "cannot read the script"},
        TRefusalCase{"SourceThatIsNoPicture", "o f3 v180\np w64 h48 f0 v100\n", "text", false, "src.tif"}),
    [](const auto &Info) { return std::string(Info.param.Name); });

}  // namespace
