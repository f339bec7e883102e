// Grayscale conversion and the gray-level reduction: weights, alpha, the
// profile marking, the merging of histogram levels and the custom palette.
#include "color/ICCUtil.h"
#include "core/IniFile.h"
#include "effects/GrayscaleFilter.h"
#include "resample/tests/TestImage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace {

TEST(GrayscaleWeights, TypesAndCustomNormalisation) {
  struct Case {
    const char *Name;
    int32_t Type, R, G, B;
    float Wr, Wg, Wb;
  } cases[] = {
      {"Rec. 601", 0, 1, 2, 3, 0.299f, 0.587f, 0.114f},
      {"Rec. 709", 1, 0, 0, 0, 0.2125f, 0.7154f, 0.0721f},
      {"custom summing to one stays", 2, 5000, 5000, 0, 0.5f, 0.5f, 0.0f},
      {"custom zero stays zero", 2, 0, 0, 0, 0.0f, 0.0f, 0.0f},
      {"custom is normalised", 2, 10000, 10000, 0, 0.5f, 0.5f, 0.0f},
      {"custom below one is normalised", 2, 1000, 0, 1000, 0.5f, 0.0f, 0.5f},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    const auto w = GrayscaleWeights(c.Type, c.R, c.G, c.B);
    EXPECT_FLOAT_EQ(w[0], c.Wr);
    EXPECT_FLOAT_EQ(w[1], c.Wg);
    EXPECT_FLOAT_EQ(w[2], c.Wb);
  }
}

TEST(Grayscale, PlainWeightsRoundToNearestEven) {
  struct Case {
    const char *Name;
    int32_t Type, R, G, B;   // weights
    uint32_t BPP;
    int32_t PR, PG, PB;      // pixel
    int32_t Gray;
  } cases[] = {
      {"(R + G) / 2: 1.5 rounds to 2", 2, 5000, 5000, 0, BPP_8, 1, 2, 200, 2},
      {"(R + G) / 2: 2.5 rounds to 2", 2, 5000, 5000, 0, BPP_8, 2, 3, 200, 2},
      {"(R + G) / 2: blue has no weight", 2, 5000, 5000, 0, BPP_8, 10, 20, 255, 15},
      {"weights 0, 0, 0 give black", 2, 0, 0, 0, BPP_8, 255, 255, 255, 0},
      {"Rec. 601 red: 0.299 x 255 = 76.2", 0, 0, 0, 0, BPP_8, 255, 0, 0, 76},
      {"Rec. 601 white stays white", 0, 0, 0, 0, BPP_8, 255, 255, 255, 255},
      {"Rec. 709 green: 0.7154 x 255 = 182.4", 1, 0, 0, 0, BPP_8, 0, 255, 0, 182},
      {"14-bit: (R + G) / 2", 2, 5000, 5000, 0, BPP_14, 1001, 2000, 0, 1500},
      {"14-bit: 0.299 x 16320 = 4879.7", 0, 0, 0, 0, BPP_14, 16320, 0, 0, 4880},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    TGrayscaleFilter e;
    e.FType = c.Type, e.FRed = c.R, e.FGreen = c.G, e.FBlue = c.B;
    e.FDegamma = false;
    TTestImage img(2, 1, 3, c.BPP);
    img.Fill([&](uint32_t, uint32_t, uint32_t k) { return k == 0 ? c.PB : k == 1 ? c.PG : c.PR; });
    TEffectParams p;
    e.DoEffect(img.I, p);
    ASSERT_EQ(img.I.Channels, 1u);
    EXPECT_EQ(img.I.PixelFormat, uint32_t(PIXFMT_GRAY));
    EXPECT_EQ(img.I.BPP, c.BPP);
    EXPECT_EQ(img.Get(1, 0, 0), c.Gray);
  }
}

TEST(Grayscale, LinearLightWeightsLinearValues) {
  // Built-in sRGB curves on both sides: pure red is 0.299 in linear light,
  // which the sRGB curve encodes as 1.055 x 0.299^(1/2.4) - 0.055 = 0.5829.
  TGrayscaleFilter e;
  e.FDegamma = true;
  TTestImage img(3, 1, 3, BPP_8);
  img.Fill([](uint32_t x, uint32_t, uint32_t k) { return x == 0 ? (k == 2 ? 255 : 0) : x == 1 ? 255 : 0; });
  TEffectParams p;
  e.DoEffect(img.I, p);
  ASSERT_EQ(img.I.Channels, 1u);
  EXPECT_NEAR(img.Get(0, 0, 0), 148.65, 1.0);
  EXPECT_EQ(img.Get(1, 0, 0), 255);
  EXPECT_EQ(img.Get(2, 0, 0), 0);
}

TEST(Grayscale, AlphaIsKeptAndTheImageMarkedGray) {
  TGrayscaleFilter e;
  e.FDegamma = false;
  TTestImage img(2, 1, 4, BPP_8);
  img.Fill([](uint32_t x, uint32_t, uint32_t k) { return k == 3 ? int32_t(17 + x * 100) : k == 2 ? 255 : 0; });
  TEffectParams p;
  e.DoEffect(img.I, p);
  ASSERT_EQ(img.I.Channels, 4u);
  EXPECT_TRUE(img.I.IsGrayAlpha);
  EXPECT_EQ(img.I.PixelFormat, uint32_t(PIXFMT_BGRA));
  for (uint32_t x = 0; x < 2; ++x) {
    for (uint32_t k = 0; k < 3; ++k) EXPECT_EQ(img.Get(x, 0, k), 76) << x << k;
    EXPECT_EQ(img.Get(x, 0, 3), int32_t(17 + x * 100));
  }
  EXPECT_EQ(img.I.ProfileType, uint32_t(PROFILE_DEFAULT_GRAY));
}

TEST(Grayscale, LabTypeTakesLightness) {
  for (uint32_t bpp : {uint32_t(BPP_8), uint32_t(BPP_16)}) {
    SCOPED_TRACE(std::to_string(bpp) + " bits");
    const int32_t scale = bpp == BPP_8 ? 1 : 257;
    TGrayscaleFilter e;
    e.FType = 3;
    TTestImage img(2, 1, 4, bpp);
    // sRGB 119 gray has L* 50.0 (L = 32640 of 65280); white has L* 100.
    img.Fill([&](uint32_t x, uint32_t, uint32_t k) { return (k == 3 ? 99 : x == 0 ? 119 : 255) * scale; });
    TEffectParams p;
    e.DoEffect(img.I, p);
    ASSERT_EQ(img.I.BPP, uint32_t(BPP_14));
    ASSERT_EQ(img.I.Channels, 4u);
    EXPECT_TRUE(img.I.IsGrayAlpha);
    EXPECT_NEAR(img.Get(0, 0, 0), 8160, 80);
    EXPECT_NEAR(img.Get(1, 0, 0), 16320, 8);
    EXPECT_EQ(img.Get(0, 0, 1), img.Get(0, 0, 0));
    EXPECT_NEAR(img.Get(0, 0, 3), 99 * 64, 1);
  }
}

TEST(Grayscale, GrayImagesAndTheirProfilesPassUnchanged) {
  uint8_t profile[4] = {1, 2, 3, 4};
  for (bool grayAlpha : {false, true}) {
    SCOPED_TRACE(grayAlpha ? "gray+alpha" : "gray");
    TTestImage img(2, 1, grayAlpha ? 4 : 1, BPP_8);
    img.Fill([](uint32_t x, uint32_t, uint32_t k) { return int32_t(10 * x + k); });
    img.I.IsGrayAlpha = grayAlpha ? LongTrue : LongFalse;
    img.I.ICCProfile = profile;
    img.I.ProfileLen = 4;
    img.I.ProfileType = PROFILE_EMBEDDED;
    TGrayscaleFilter e;
    TEffectParams p;
    e.DoEffect(img.I, p);
    EXPECT_EQ(img.I.ICCProfile, profile);
    EXPECT_EQ(img.I.ProfileType, uint32_t(PROFILE_EMBEDDED));
    EXPECT_EQ(img.Get(1, 0, 0), 10);
    img.I.ICCProfile = nullptr;
  }
}

TEST(Grayscale, EmbeddedProfileIsReleasedOnConversion) {
  TTestImage img(1, 1, 3, BPP_8);
  img.I.ICCProfile = static_cast<uint8_t *>(PageAlloc(16));
  img.I.ProfileLen = 16;
  img.I.ProfileType = PROFILE_EMBEDDED;
  TGrayscaleFilter e;
  e.FDegamma = false;
  TEffectParams p;
  e.DoEffect(img.I, p);
  EXPECT_EQ(img.I.ICCProfile, nullptr);
  EXPECT_EQ(img.I.ProfileLen, 0u);
  EXPECT_EQ(img.I.ProfileType, uint32_t(PROFILE_DEFAULT_GRAY));
}

TEST(Grayscale, AsksTheChainForTheReduction) {
  TGrayscaleFilter e;
  e.FDecreaseColor = true;
  e.FColor = 4;
  TTestImage img(1, 1, 1, BPP_8);
  TEffectParams p;
  e.DoEffect(img.I, p);
  EXPECT_TRUE(p.GrayscaleDecreaseColor);
  EXPECT_EQ(p.MaxColor, 4);
}

TEST(GrayLevels, MergingAndMapping) {
  struct Case {
    const char *Name;
    std::vector<std::pair<int32_t, uint32_t>> Bins;
    int32_t Max;
    std::vector<int32_t> Levels;
  } cases[] = {
      // A single pixel costs nothing to merge (log2 1 = 0); the left neighbour is tried first.
      {"two levels: 128 merges into 0", {{0, 100}, {128, 1}, {255, 100}}, 2, {1, 255}},
      {"already few enough", {{0, 5}, {9, 5}}, 4, {0, 9}},
      {"the closer of equal counts merges", {{0, 8}, {10, 8}, {200, 8}}, 2, {5, 200}},
      {"one level", {{10, 4}, {20, 4}}, 1, {15}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    std::array<uint32_t, 256> h{};
    for (auto [v, n] : c.Bins) h[size_t(v)] = n;
    EXPECT_EQ(MergeGrayLevels(h, c.Max), c.Levels);
  }
  const auto map = NearestLevelMap(std::vector<int32_t>{1, 255});
  EXPECT_EQ(map[0], 1);
  EXPECT_EQ(map[127], 1);
  EXPECT_EQ(map[128], 255);  // equally near: the higher level
  EXPECT_EQ(map[255], 255);
}

TEST(GrayLevels, DefaultCustomPaletteOfSixteenLevels) {
  std::vector<int32_t> levels;
  for (int32_t i = 0; i < 16; ++i) levels.push_back(i * 17);
  const auto map = CustomPaletteMap(levels);
  struct Case {
    int32_t In, Out;
  } cases[] = {{0, 0}, {8, 0}, {9, 17}, {17, 17}, {25, 17}, {26, 34}, {246, 238}, {247, 255}, {255, 255}};
  for (const Case &c : cases) EXPECT_EQ(map[size_t(c.In)], c.Out) << c.In;
}

TEST(GrayLevels, ReductionRunsOnTheImage) {
  struct Case {
    const char *Name;
    bool Palette;
    int32_t Color;
    std::vector<int32_t> In, Out;
  } cases[] = {
      {"custom palette of 16", true, 16, {8, 9, 100, 250}, {0, 17, 102, 255}},
      {"custom palette of the first 2 levels (0 and 17)", true, 2, {8, 9, 200}, {0, 17, 17}},
      // 128 joins the zeros, whose level becomes the mean (4 x 0 + 128) / 5 = 25.6.
      {"merged histogram", false, 2, {0, 0, 0, 0, 128, 255, 255, 255, 255}, {26, 26, 26, 26, 26, 255, 255, 255, 255}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    TGrayscaleFilter e;
    e.FUseCustomPalette = c.Palette;
    e.FColor = c.Color;
    e.UpdatePalette();
    TTestImage img(uint32_t(c.In.size()), 1, 1, BPP_14);
    img.Fill([&](uint32_t x, uint32_t, uint32_t) { return c.In[x] * 64; });
    e.DecreaseGrayLevels(img.I, c.Color);
    ASSERT_EQ(img.I.BPP, uint32_t(BPP_8));
    for (uint32_t x = 0; x < c.In.size(); ++x) EXPECT_EQ(img.Get(x, 0, 0), c.Out[x]) << x;
  }
}

TEST(Grayscale, SettingsKeysAndDefaults) {
  TMemIniFile ini;
  ini.LoadFromBytes("[GrayscaleFilter]\nType=2\nRed=5000\nCustomPalette1=200\nCustomPalette16=3\n");
  TGrayscaleFilter e;
  e.ReadIniFile(ini);
  EXPECT_EQ(e.FType, 2);
  EXPECT_EQ(e.FRed, 5000);
  EXPECT_TRUE(e.FDegamma);
  EXPECT_EQ(e.FColor, 16);
  EXPECT_FALSE(e.FDecreaseColor);
  // Kept ascending as gray colours.
  EXPECT_EQ(e.FCustomPalette[0], 3 * 0x010101);
  EXPECT_EQ(e.FCustomPalette[12], 200 * 0x010101);
  EXPECT_EQ(e.FCustomPalette[15], 238 * 0x010101);
  TMemIniFile out;
  e.WriteIniFile(out);
  EXPECT_EQ(out.ReadString("GrayscaleFilter", "CustomPalette1", ""), "3");
  EXPECT_EQ(out.ReadString("GrayscaleFilter", "Degamma", ""), "1");
}

}  // namespace
