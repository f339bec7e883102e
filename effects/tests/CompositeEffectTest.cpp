// The image composite: blending against ImageMagick's, the two modes, the
// overlay file read once per run, missing and corrupt files.
#include "color/ICCUtil.h"
#include "core/IniFile.h"
#include "effects/CompositeEffect.h"
#include "io/ImageProbe.h"
#include "io/Pixio.h"
#include "io/tests/LoadTestUtil.h"
#include "resample/tests/TestImage.h"
#include "testutil/TestEnv.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using loadtest::BindPixio;
using loadtest::ReadFile;
using loadtest::WriteFile;

bool HaveConvert() { return std::system("convert -version >/dev/null 2>&1") == 0; }

class Composite : public testing::Test {
protected:
  void SetUp() override {
    Dir = fs::temp_directory_path() / ("composite-test-" + std::to_string(::getpid()));
    fs::create_directories(Dir);
  }
  void TearDown() override { fs::remove_all(Dir); }
  std::string Path(const std::string &Name) const { return (Dir / Name).string(); }
  // Runs an ImageMagick command line in the test folder.
  void Magick(const std::string &Args) const {
    ASSERT_EQ(std::system(("cd '" + Dir.string() + "' && convert " + Args + " 2>&1").c_str()), 0) << Args;
  }
  fs::path Dir;
};

// Pixel (x, y) of a BGR test image, y from the top, as R, G, B.
std::array<int32_t, 3> Rgb(const TTestImage &T, uint32_t x, uint32_t y) {
  const uint32_t m = T.I.Height - 1 - y;
  return {T.Get(x, m, 2), T.Get(x, m, 1), T.Get(x, m, 0)};
}

TEST(CompositeBlend, OpacityAlphaAndDestinationKinds) {
  struct Case {
    const char *Name;
    uint32_t DstChannels;  // 1 gray, 3 BGR, 4 BGRA
    uint32_t SrcChannels;  // 3 BGR, 4 BGRA
    int32_t Opacity;
    uint8_t SrcAlpha, DstAlpha;
    std::array<int32_t, 4> Expected;  // destination samples after the blend
  } cases[] = {
      // ((a s + (255 - a) d + 127) 257) >> 16 with s = (10, 20, 30), d = 200.
      {"opaque at 100 % replaces", 3, 3, 100, 0, 0, {10, 20, 30, 0}},
      {"opaque at 50 %", 3, 3, 50, 0, 0, {105, 110, 115, 0}},
      {"opaque at 0 % keeps", 3, 3, 0, 0, 0, {200, 200, 200, 0}},
      {"half alpha at 100 %", 3, 4, 100, 128, 0, {105, 110, 115, 0}},
      {"half alpha at 50 %", 3, 4, 50, 128, 0, {152, 155, 157, 0}},
      {"gray destination takes the first sample (blue)", 1, 3, 100, 0, 0, {30, 0, 0, 0}},
      {"full cover on alpha copies and is opaque", 4, 3, 100, 0, 0, {10, 20, 30, 255}},
      {"over a transparent destination", 4, 4, 100, 128, 0, {10, 20, 30, 128}},
      {"over a half-transparent destination", 4, 4, 100, 128, 128, {73, 79, 86, 191}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    TTestImage d(3, 2, c.DstChannels, BPP_8), s(1, 1, c.SrcChannels, BPP_8);
    d.Fill([&](uint32_t, uint32_t, uint32_t ch) { return ch == 3 ? c.DstAlpha : 200; });
    s.Fill([&](uint32_t, uint32_t, uint32_t ch) { return ch == 3 ? c.SrcAlpha : int32_t(30 - 10 * ch); });  // B 30, G 20, R 10
    CompositeOver(d.I, s.I, 1, 1, c.Opacity);
    // (1, 1) from the top is memory row 0; samples in B, G, R order.
    const uint32_t m = 0;
    if (c.DstChannels == 1) {
      EXPECT_EQ(d.Get(1, m, 0), c.Expected[0]);
    } else {
      EXPECT_EQ(d.Get(1, m, 2), c.Expected[0]);
      EXPECT_EQ(d.Get(1, m, 1), c.Expected[1]);
      EXPECT_EQ(d.Get(1, m, 0), c.Expected[2]);
      if (c.DstChannels == 4) {
        EXPECT_EQ(d.Get(1, m, 3), c.Expected[3]);
      }
    }
    EXPECT_EQ(d.Get(0, m, 0), 200);  // outside the source: untouched
  }
}

TEST_F(Composite, LogoWithAlphaAtHalfOpacityMatchesImageMagick) {
  TESSIVO_REQUIRE(BindPixio()) << "codec library missing";
  TESSIVO_REQUIRE(HaveConvert()) << "ImageMagick convert missing";
  const uint32_t W = 64, H = 48, w = 20, h = 16;
  // The picture: a colour ramp, written as PPM for ImageMagick.
  TTestImage pic(W, H, 3, BPP_8);
  pic.Fill([&](uint32_t x, uint32_t y, uint32_t c) { return int32_t((x * 4 + (H - 1 - y) * 3 + c * 50) % 256); });
  std::vector<uint8_t> ppm;
  const std::string header = "P6\n" + std::to_string(W) + " " + std::to_string(H) + "\n255\n";
  ppm.assign(header.begin(), header.end());
  for (uint32_t y = 0; y < H; ++y)
    for (uint32_t x = 0; x < W; ++x)
      for (int c = 2; c >= 0; --c) ppm.push_back(uint8_t(Rgb(pic, x, y)[size_t(2 - c)]));
  WriteFile(Path("base.ppm"), ppm);
  // The logo: red to blue with alpha rising left to right, as raw RGBA into a PNG.
  std::vector<uint8_t> logo;
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x)
      logo.insert(logo.end(), {uint8_t(255 - x * 12), uint8_t(y * 15), uint8_t(x * 12), uint8_t(x * 13)});
  WriteFile(Path("logo.rgba"), logo);
  Magick("-size 20x16 -depth 8 rgba:logo.rgba logo.png");
  Magick("base.ppm \\( logo.png -channel A -evaluate multiply 0.5 +channel \\) -gravity southeast -geometry +5+3 "
         "-compose over -composite -depth 8 rgb:expected.rgb");
  const std::vector<uint8_t> expected = ReadFile(Path("expected.rgb"));
  ASSERT_EQ(expected.size(), size_t(W) * H * 3);

  TCompositeEffect e;
  e.FImageFileName = Path("logo.png");
  e.FBasePos = 8, e.FOffsetX = -5, e.FOffsetY = -3, e.FOpacity = 50;
  e.LoadExternalImage();
  ASSERT_NE(e.FExternalImg->Mem, nullptr);
  TEffectParams p;
  e.DoEffect(pic.I, p);
  int32_t worst = 0;
  for (uint32_t y = 0; y < H; ++y)
    for (uint32_t x = 0; x < W; ++x)
      for (uint32_t c = 0; c < 3; ++c)
        worst = std::max(worst, std::abs(Rgb(pic, x, y)[c] - int32_t(expected[(size_t(y) * W + x) * 3 + c])));
  EXPECT_LE(worst, 2);
}

TEST_F(Composite, BackgroundModeTakesTheFilesSize) {
  TESSIVO_REQUIRE(BindPixio()) << "codec library missing";
  TESSIVO_REQUIRE(HaveConvert()) << "ImageMagick convert missing";
  Magick("-size 1920x1080 xc:'rgb(0,0,128)' background.png");
  TCompositeEffect e;
  e.FMode = COMPOSITE_BACKGROUND;
  e.FImageFileName = Path("background.png");
  e.FBasePos = 4;
  e.LoadExternalImage();
  for (const auto &[w, h] : {std::pair{300u, 200u}, std::pair{4000u, 3000u}, std::pair{1920u, 1080u}}) {
    SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
    TTestImage pic(w, h, 3, BPP_8);
    pic.Fill([](uint32_t, uint32_t, uint32_t c) { return c == 1 ? 200 : 0; });  // green
    TEffectParams p;
    e.DoEffect(pic.I, p);
    ASSERT_EQ(pic.I.Width, 1920u);
    ASSERT_EQ(pic.I.Height, 1080u);
    EXPECT_EQ(pic.I.Bpl, GetAlignedBpl(1920, 3));
    const bool covers = w >= 1920;
    EXPECT_EQ(Rgb(pic, 0, 0), (covers ? std::array<int32_t, 3>{0, 200, 0} : std::array<int32_t, 3>{0, 0, 128}));
    EXPECT_EQ(Rgb(pic, 960, 540), (std::array<int32_t, 3>{0, 200, 0}));  // centred
  }
}

TEST_F(Composite, MissingFileDoesNothingAndKeepsAnImageLoadedBefore) {
  TESSIVO_REQUIRE(BindPixio()) << "codec library missing";
  TESSIVO_REQUIRE(HaveConvert()) << "ImageMagick convert missing";
  TCompositeEffect e;
  e.FImageFileName = Path("missing.png");
  e.LoadExternalImage();
  TTestImage pic(30, 20, 3, BPP_8);
  pic.Fill([](uint32_t, uint32_t, uint32_t) { return 77; });
  TEffectParams p;
  e.DoEffect(pic.I, p);
  EXPECT_EQ(Rgb(pic, 29, 19), (std::array<int32_t, 3>{77, 77, 77}));

  Magick("-size 4x4 xc:white white.png");
  e.FImageFileName = Path("white.png");
  e.LoadExternalImage();
  e.FImageFileName = Path("missing.png");
  e.LoadExternalImage();  // gone by now: the white square stays
  e.DoEffect(pic.I, p);
  EXPECT_EQ(Rgb(pic, 29, 19), (std::array<int32_t, 3>{255, 255, 255}));
  EXPECT_EQ(Rgb(pic, 25, 15), (std::array<int32_t, 3>{77, 77, 77}));
}

TEST_F(Composite, CorruptFileIsReportedOncePerRun) {
  // With the codec library bound the probe has a reason of its own to give.
  TESSIVO_REQUIRE(BindPixio()) << "codec library missing";
  std::vector<std::string> lines;
  SetLoadErrorProc([&](const std::string &L) { lines.push_back(L); });
  WriteFile(Path("broken.png"), {0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 13, 'I', 'H', 'D', 'R', 1, 2, 3});
  TEffectList list;
  auto *e = new TCompositeEffect;
  e->FImageFileName = Path("broken.png");
  e->SetUse(true);
  list.AddFilter(e);
  list.LoadExternalImage();  // once before the run
  for (int file = 0; file < 3; ++file) {
    TTestImage pic(10, 10, 3, BPP_8);
    pic.Fill([](uint32_t, uint32_t, uint32_t) { return 50; });
    TEffectParams p;
    e->DoEffect(pic.I, p);
    EXPECT_EQ(Rgb(pic, 9, 9), (std::array<int32_t, 3>{50, 50, 50}));
  }
  SetLoadErrorProc(nullptr);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("broken.png"), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("画像合成"), std::string::npos) << lines[0];
}

TEST(CompositeColour, OverlayIsBroughtIntoThePicturesProfile) {
  // Pure sRGB red laid over a gray picture becomes the gray of its
  // luminance: Y = 0.2225 (the red colorant of sRGB adapted to D50, as ICC
  // profiles carry it), which the sRGB curve of the gray profile encodes as
  // 1.055 x 0.2225^(1/2.4) - 0.055 = 0.509 of full scale, 130. Without the
  // conversion a gray picture would take the first sample, blue, which is 0.
  TCompositeEffect e;
  TTestImage red(2, 2, 3, BPP_8);
  red.Fill([](uint32_t, uint32_t, uint32_t c) { return c == 2 ? 255 : 0; });
  red.I.ProfileType = PROFILE_BUILTIN_SRGB;
  CopyICCImgInfo(red.I, *e.FExternalImg, false);
  e.FExternalImg->ProfileType = PROFILE_BUILTIN_SRGB;
  e.FBasePos = 0;
  TTestImage pic(4, 4, 1, BPP_8);
  pic.I.ProfileType = PROFILE_BUILTIN_SGRAY;
  pic.Fill([](uint32_t, uint32_t, uint32_t) { return 200; });
  TTransForm transform;
  TEffectParams p;
  p.ColorTransform = &transform;
  e.DoEffect(pic.I, p);
  EXPECT_NEAR(pic.Get(0, 3, 0), 130, 1);  // the top-left pixel
  EXPECT_EQ(pic.Get(3, 0, 0), 200);       // outside the overlay
  EXPECT_EQ(pic.I.Channels, 1u);
}

TEST(CompositeSettings, KeysAndDefaults) {
  TCompositeEffect e;
  TMemIniFile empty;
  e.ReadIniFile(empty);
  EXPECT_EQ(e.FMode, 0);
  EXPECT_EQ(e.FImageFileName, "");
  EXPECT_EQ(e.FBasePos, 8);
  EXPECT_EQ(e.FOpacity, 100);
  TMemIniFile ini;
  ini.WriteInteger("Composite", "Mode", 1);
  ini.WriteString("Composite", "ImageFileName", "/home/u/logo.png");
  ini.WriteInteger("Composite", "BasePos", 4);
  ini.WriteInteger("Composite", "OffsetX", -7);
  ini.WriteInteger("Composite", "OffsetY", 9);
  ini.WriteInteger("Composite", "Opacity", 50);
  e.ReadIniFile(ini);
  TMemIniFile out;
  e.WriteIniFile(out);
  for (const char *k : {"Mode", "ImageFileName", "BasePos", "OffsetX", "OffsetY", "Opacity"})
    EXPECT_EQ(out.ReadString("Composite", k, "?"), ini.ReadString("Composite", k, "!")) << k;
}

}  // namespace
