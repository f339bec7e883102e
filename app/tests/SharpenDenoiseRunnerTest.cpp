// The unsharp-mask and noise-removal steps through the real tessivo program
// on a real photograph (scikit-image's astronaut, public domain), read back
// with ImageMagick; and the start-up without the noise-removal library.
#include "app/tests/RunTessivo.h"
#include "core/ImgInfo.h"
#include "resample/Filter.h"
#include "resample/WeightedMean.h"
#include "testutil/TestEnv.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using testrun::ReadFile;
using testrun::Shell;
using testrun::TRun;

const char *const Photo = "/usr/lib/python3/dist-packages/skimage/data/astronaut.png";

// JPEG's Cb and Cr of an 8-bit RGB pixel, in 8-bit steps.
void Chroma(const uint8_t *Rgb, double &Cb, double &Cr) {
  const double r = Rgb[0], g = Rgb[1], b = Rgb[2];
  Cb = -0.168736 * r - 0.331264 * g + 0.5 * b;
  Cr = 0.5 * r - 0.418688 * g - 0.081312 * b;
}

class SharpenDenoiseRunner : public ::testing::Test {
protected:
  void SetUp() override {
    char Tmpl[] = "/tmp/tessivo-sharpen-XXXXXX";
    Dir = ::mkdtemp(Tmpl);
    fs::create_directories(Dir + "/data/ini");
    fs::create_directories(Dir + "/p");
  }
  void TearDown() override { fs::remove_all(Dir); }

  bool Ready() { return Shell("command -v convert") && fs::exists(Photo); }

  // The photograph without its metadata as p/photo.png, and its RGB samples.
  std::string PreparePhoto() {
    if (!Shell(std::string("convert ") + Photo + " -strip -depth 8 " + Dir + "/p/photo.png")) return "";
    return Raw(Dir + "/p/photo.png");
  }

  // Converts p/photo.png into out/ with a profile whose effect sections are
  // Effects (no resize), by the built program or by a copy of it at Program.
  TRun Convert(const std::string &Effects, const std::string &Program = "") {
    std::ofstream(Dir + "/data/ini/t.ini") << "[File]\nFileNameFormat=" + Dir +
                                                  "/out/<old>.png\nAddSubFolder=0\n[ResizeFilter]\nUse=0\n" + Effects;
    fs::remove_all(Dir + "/out");
    testrun::TRunPlace P;
    P.Env = {"TESSIVOPLUS_DATA=" + Dir + "/data", "HOME=" + Dir, "PATH=/usr/bin:/bin", "LANG=C.UTF-8"};
    P.WorkDir = Dir + "/p";
    P.ErrPath = Dir + "/stderr.txt";
    const std::string Run = Program.empty() ? testrun::TessivoProgram() : Program;
    return testrun::WaitTessivo(testrun::StartProgram(Run, {"/ini=t.ini", "photo.png"}, P), P);
  }

  std::string Raw(const std::string &File) {
    const std::string Out = Dir + "/raw.rgb";
    fs::remove(Out);
    if (!Shell("convert " + File + " -depth 8 rgb:" + Out)) return "";
    return ReadFile(Out);
  }

  std::string Dir;
};

// Luminance only: the chroma of every pixel stays within one 8-bit step of
// the input's (rounding to 8 bits moves it by up to about half a step per
// channel), except where the sharpened luminance ran past black or white
// and the way back had to clip a channel; the luminance itself changed.
TEST_F(SharpenDenoiseRunner, LuminanceOnlySharpeningKeepsTheChromaOfThePhoto) {
  TESSIVO_REQUIRE(Ready()) << "ImageMagick's convert or scikit-image's photographs (python3-skimage) missing";
  const std::string In = PreparePhoto();
  ASSERT_FALSE(In.empty());
  const TRun R = Convert("[UnSharpMask]\nUse=1\nStrengthW=200\nStrengthB=200\nRadius=1.5\nLumaOnly=1\n");
  ASSERT_EQ(R.Status, 0) << R.Err;
  const std::string Out = Raw(Dir + "/out/photo.png");
  ASSERT_EQ(Out.size(), In.size());
  double worst = 0;
  size_t sharpened = 0, clipped = 0;
  const size_t pixels = In.size() / 3;
  for (size_t i = 0; i < pixels; ++i) {
    const auto *a = reinterpret_cast<const uint8_t *>(In.data() + 3 * i);
    const auto *b = reinterpret_cast<const uint8_t *>(Out.data() + 3 * i);
    const double ya = 0.299 * a[0] + 0.587 * a[1] + 0.114 * a[2], yb = 0.299 * b[0] + 0.587 * b[1] + 0.114 * b[2];
    sharpened += std::abs(ya - yb) > 2;
    if (b[0] == 0 || b[1] == 0 || b[2] == 0 || b[0] == 255 || b[1] == 255 || b[2] == 255) {
      ++clipped;
      continue;
    }
    double cba, cra, cbb, crb;
    Chroma(a, cba, cra);
    Chroma(b, cbb, crb);
    worst = std::max({worst, std::abs(cba - cbb), std::abs(cra - crb)});
  }
  EXPECT_LE(worst, 1.0) << "Cb or Cr moved by more than one step";
  EXPECT_GT(sharpened, pixels / 10) << "the luminance hardly changed";
  EXPECT_LT(clipped, pixels / 4) << "too few pixels compared (the photo has white and black areas of its own)";
}

// All channels: the output is exactly what the engine makes of the photo
// with the same settings (the 8-bit picture is sharpened as it is).
TEST_F(SharpenDenoiseRunner, AllChannelSharpeningIsTheEnginesResult) {
  TESSIVO_REQUIRE(Ready()) << "ImageMagick's convert or scikit-image's photographs (python3-skimage) missing";
  TESSIVO_REQUIRE(!testenv::BinFile("libresize.so").empty()) << "no bin/libresize.so";
  const std::string In = PreparePhoto();
  ASSERT_FALSE(In.empty());
  const TRun R = Convert("[UnSharpMask]\nUse=1\nStrengthW=150\nStrengthB=120\nRadius=2\nThreshold=2\nLumaOnly=0\n");
  ASSERT_EQ(R.Status, 0) << R.Err;
  const std::string Out = Raw(Dir + "/out/photo.png");
  ASSERT_EQ(Out.size(), In.size());

  LoadResizeLibrary(TESSIVO_BIN_DIR);
  const uint32_t w = 512, h = uint32_t(In.size() / 3 / w);
  TICCImgInfo img{};
  img.Width = w, img.Height = h, img.Channels = 3, img.BPP = BPP_8, img.PixelFormat = PIXFMT_BGR;
  img.Bpl = GetAlignedBpl(w, 3);
  img.Mem = AllocPixelBlock(img.Bpl, h);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x)
      for (uint32_t c = 0; c < 3; ++c) PictureRow(img, y)[3 * x + c] = uint8_t(In[(size_t(y) * w + x) * 3 + 2 - c]);
  TUnsharpMask engine;
  engine.SetUnSharpMaskParam(150, 120, false, 2.0, 0, 0, 2);
  engine.DoUnSharpMask(img, false, nullptr);
  size_t differing = 0;
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x)
      for (uint32_t c = 0; c < 3; ++c)
        differing += PictureRow(img, y)[3 * x + c] != uint8_t(Out[(size_t(y) * w + x) * 3 + 2 - c]);
  FreeICCImgInfo(img, false);
  EXPECT_EQ(differing, 0u);
}

// Noise removal in the chain: Gaussian noise of 10 steps added to the photo
// loses most of its power (PSNR against the clean photo rises by 4 dB).
TEST_F(SharpenDenoiseRunner, NoiseRemovalCleansANoisyPhoto) {
  TESSIVO_REQUIRE(Ready()) << "ImageMagick's convert or scikit-image's photographs (python3-skimage) missing";
  TESSIVO_REQUIRE(!testenv::BinFile("libdenoise.so").empty()) << "no bin/libdenoise.so";
  const std::string Clean = PreparePhoto();
  ASSERT_FALSE(Clean.empty());
  std::string Noisy = Clean;
  std::mt19937 rng(4);
  std::normal_distribution<double> noise(0, 10);
  for (char &s : Noisy) s = char(std::clamp(std::lround(uint8_t(s) + noise(rng)), 0L, 255L));
  std::ofstream(Dir + "/noisy.rgb", std::ios::binary) << Noisy;
  ASSERT_TRUE(Shell("convert -size 512x512 -depth 8 rgb:" + Dir + "/noisy.rgb " + Dir + "/p/photo.png"));
  const TRun R = Convert("[Denoise]\nUse=1\nAdvancedSetting=0\nStr=9\n");
  ASSERT_EQ(R.Status, 0) << R.Err;
  const std::string Out = Raw(Dir + "/out/photo.png");
  ASSERT_EQ(Out.size(), Clean.size());
  auto mse = [&](const std::string &A) {
    double s = 0;
    for (size_t i = 0; i < A.size(); ++i) s += std::pow(double(uint8_t(A[i])) - uint8_t(Clean[i]), 2);
    return s / double(A.size());
  };
  EXPECT_GT(10 * std::log10(mse(Noisy) / mse(Out)), 4.0) << "MSE " << mse(Noisy) << " -> " << mse(Out);
}

// A program whose bin/ folder lacks libdenoise.so says so in one
// "LoadLibrary Error" line with the system's message, does not offer the
// step (a profile that switches it on converts without it) and converts.
TEST_F(SharpenDenoiseRunner, WithoutTheLibraryTheRunSaysSoAndConverts) {
  TESSIVO_REQUIRE(Ready()) << "ImageMagick's convert or scikit-image's photographs (python3-skimage) missing";
  ASSERT_FALSE(PreparePhoto().empty());
  const std::string Copy = Dir + "/prog";
  std::string Missing;
  const std::string Program = testrun::ProgramCopyWith(Copy, {"libpixio.so", "libresize.so", "libfisheye.so"}, Missing);
  TESSIVO_REQUIRE(!Program.empty()) << Missing;
  const TRun R = Convert("[Denoise]\nUse=1\n", Program);
  EXPECT_EQ(R.Status, 0) << R.Err;
  EXPECT_NE(R.Err.find("LoadLibrary Error: " + Copy + "/bin/libdenoise.so: cannot open shared object file"),
            std::string::npos)
      << R.Err;
  EXPECT_TRUE(fs::exists(Dir + "/out/photo.png"));
}

}  // namespace
