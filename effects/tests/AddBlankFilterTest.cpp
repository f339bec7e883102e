// The margin step: canvas sizes and image positions of each type, margin
// and frame colours, the drop shadow, the colour-through-mask blend, and the
// settings layouts.
#include "core/IniFile.h"
#include "core/Errors.h"
#include "effects/AddBlankFilter.h"
#include "effects/MaskBlend.h"
#include "resample/WeightedMean.h"
#include "resample/tests/TestImage.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TValueStrings Both(const std::string &Values) {
  const auto v = SplitValues(Values);
  TValueStrings r;
  for (size_t i = 0; i < 4; ++i) r[i] = r[4 + i] = v.at(i);
  return r;
}

// Samples of the picture pixel (x, y), y from the top, as 0xRRGGBB of a BGR image.
uint32_t Rgb(const TTestImage &T, uint32_t x, uint32_t y) {
  const uint32_t m = T.I.Height - 1 - y;
  return uint32_t(T.Get(x, m, 2)) << 16 | uint32_t(T.Get(x, m, 1)) << 8 | uint32_t(T.Get(x, m, 0));
}

TEST(AddBlank, CanvasAndImagePositionOfEachType) {
  struct Case {
    const char *Name;
    int32_t Type;
    const char *Values;
    int32_t Frame1;  // width of frame 1, 0 off
    int32_t w, h;
    int32_t W, H, X, Y;  // canvas, and where the image lies
  } cases[] = {
      {"pixel margins", 1, "10,20,30,40", 0, 100, 100, 140, 160, 10, 20},
      {"pixel margins with a frame", 1, "10,20,30,40", 5, 100, 100, 150, 170, 15, 25},
      {"1:1 centred", 0, "1,1,-1,-1", 0, 400, 300, 400, 400, 0, 50},
      {"1:1 at the bottom", 0, "1,1,0,100", 0, 400, 300, 400, 400, 0, 100},
      {"1:1 positions above 100", 0, "1,1,300,300", 0, 300, 400, 400, 400, 100, 0},
      {"canvas already 4:3", 0, "4,3,-1,-1", 0, 400, 300, 400, 300, 0, 0},
      {"a ratio without size is 1:1", 0, "0,3,-1,-1", 0, 400, 300, 400, 400, 0, 50},
      {"percent margins", 2, "10,10,10,10", 0, 200, 100, 240, 120, 20, 10},
      {"percent of the framed size, offset of the bare one", 2, "10,0,0,0", 10, 80, 50, 110, 70, 18, 10},
      {"w/2 on 1001 pixels rounds up", 1, "w/2,0,0,0", 0, 1001, 4, 1502, 4, 501, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    TAddBlankFilter e;
    e.FAddBlankParam.BlankType = c.Type;
    e.FAddBlankParam.Value = Both(c.Values);
    e.FAddBlankParam.UseFrame1 = c.Frame1 ? LongTrue : LongFalse;
    e.FAddBlankParam.Frame1Width = c.Frame1;
    e.FAddBlankParam.Frame1Color = 0x0000FF;  // red
    e.FAddBlankParam.Color = 0xFF00FF00;      // green
    TTestImage img(uint32_t(c.w), uint32_t(c.h), 3, BPP_8);
    img.Fill([](uint32_t, uint32_t, uint32_t ch) { return ch == 0 ? 200 : 10; });  // blue
    TEffectParams p;
    e.DoEffect(img.I, p);
    ASSERT_EQ(img.I.Width, uint32_t(c.W));
    ASSERT_EQ(img.I.Height, uint32_t(c.H));
    EXPECT_EQ(img.I.Bpl, GetAlignedBpl(img.I.Width, 3));
    const uint32_t blue = 0x0A0AC8, X = uint32_t(c.X), Y = uint32_t(c.Y);
    EXPECT_EQ(Rgb(img, X, Y), blue);
    EXPECT_EQ(Rgb(img, X + uint32_t(c.w) - 1, Y + uint32_t(c.h) - 1), blue);
    if (X > 0) EXPECT_NE(Rgb(img, X - 1, Y), blue);
    if (Y > 0) EXPECT_NE(Rgb(img, X, Y - 1), blue);
    if (c.Frame1) EXPECT_EQ(Rgb(img, X - 1, Y - 1), 0xFF0000u);
    if (c.W != c.w || c.H != c.h) EXPECT_EQ(Rgb(img, c.X ? 0 : uint32_t(c.W) - 1, c.Y ? 0 : uint32_t(c.H) - 1), 0x00FF00u);
  }
}

TEST(AddBlank, MarginColourFromEachCorner) {
  const uint32_t corners[4] = {0x112233, 0x445566, 0x778899, 0xAABBCC};  // top-left, top-right, bottom-left, bottom-right
  for (int32_t type = 0; type < 4; ++type) {
    SCOPED_TRACE(type);
    TTestImage img(6, 5, 3, BPP_8);
    img.Fill([&](uint32_t x, uint32_t memRow, uint32_t ch) {
      const int corner = (memRow == 4 ? 0 : memRow == 0 ? 2 : -1);
      if (corner < 0 || (x != 0 && x != 5)) return 0;
      return int32_t(corners[corner + (x == 5)] >> (8 * ch) & 255);
    });
    TAddBlankFilter e;
    e.FAddBlankParam.ColorType = type;
    e.FAddBlankParam.Value = Both("2,2,2,2");
    TEffectParams p;
    e.DoEffect(img.I, p);
    EXPECT_EQ(Rgb(img, 0, 0), corners[type]);
    EXPECT_EQ(Rgb(img, 9, 8), corners[type]);
  }
}

TEST(AddBlank, ThreeFramesAndADropShadowOnASmallPhoto) {
  TAddBlankFilter e;
  TAddBlankParam &P = e.FAddBlankParam;
  P.BlankType = 1;
  P.Value = Both("20,20,20,20");
  P.Color = int32_t(0xFFFFFFFF);  // white margins
  P.UseFrame1 = P.UseFrame2 = P.UseFrame3 = LongTrue;
  P.Frame1Color = 0x000000, P.Frame1Width = 2;
  P.Frame2Color = 0xFFFFFF, P.Frame2Width = 3;
  P.Frame3Color = 0x0000FF, P.Frame3Width = 1;
  P.UseDropShadow = LongTrue;
  P.ShadowColor = 0, P.ShadowOpacity = 100, P.ShadowRadius = 2, P.ShadowStr = 4;
  P.ShadowOffsetX = 6, P.ShadowOffsetY = 6;
  TGaussianBlur blur;
  TEffectParams p;
  p.GaussianBlur = &blur;
  TTestImage img(40, 30, 3, BPP_8);
  img.Fill([](uint32_t x, uint32_t, uint32_t ch) { return int32_t(ch == 1 ? 128 + x : 64); });
  e.DoEffect(img.I, p);
  // 40 + 2*6 + 40 by 30 + 2*6 + 40; frames from (20, 20), image from (26, 26).
  ASSERT_EQ(img.I.Width, 92u);
  ASSERT_EQ(img.I.Height, 82u);
  EXPECT_EQ(Rgb(img, 20, 20), 0x000000u);  // frame 1
  EXPECT_EQ(Rgb(img, 21, 40), 0x000000u);
  EXPECT_EQ(Rgb(img, 22, 22), 0xFFFFFFu);  // frame 2
  EXPECT_EQ(Rgb(img, 25, 25), 0xFF0000u);  // frame 3
  EXPECT_EQ(Rgb(img, 26, 26), 0x408040u);  // the image's top-left pixel
  EXPECT_EQ(Rgb(img, 66, 56), 0xFF0000u);  // frame 3 at the bottom-right
  EXPECT_EQ(Rgb(img, 71, 61), 0x000000u);  // frame 1 at the bottom-right
  // The shadow (the framed box moved by 6, 6, blurred): dark just beyond the
  // bottom-right corner, fading outward,
  // absent above and left of the frames and far away.
  const auto gray = [&](uint32_t x, uint32_t y) { return Rgb(img, x, y) & 255; };
  EXPECT_LT(gray(74, 64), 40u);
  EXPECT_GT(gray(80, 70), gray(77, 67));
  EXPECT_EQ(gray(10, 10), 255u);
  EXPECT_EQ(gray(18, 18), 255u);
  EXPECT_EQ(gray(90, 10), 255u);
  // A shadow needs the worker's blur engine.
  TTestImage again(10, 10, 3, BPP_8);
  TEffectParams none;
  EXPECT_THROW(e.DoEffect(again.I, none), ETessivoError);
  EXPECT_EQ(again.I.Width, 10u);
}

TEST(AddBlank, GrayAndAlphaImagesTakeTheColourTheirWay) {
  struct Case {
    uint32_t Channels, Format;
    int32_t Color;  // 0xAABBGGRR
    std::vector<int32_t> Margin;
  } cases[] = {
      {1, PIXFMT_GRAY, 0x00403020, {0x20}},
      {3, PIXFMT_BGR, 0x00403020, {0x40, 0x30, 0x20}},
      {4, PIXFMT_BGRA, int32_t(0x80403020), {0x40, 0x30, 0x20, 0x80}},
  };
  for (const Case &c : cases) {
    TTestImage img(4, 4, c.Channels, BPP_8);
    img.I.PixelFormat = c.Format;
    TAddBlankFilter e;
    e.FAddBlankParam.Value = Both("1,1,1,1");
    e.FAddBlankParam.Color = c.Color;
    TEffectParams p;
    e.DoEffect(img.I, p);
    ASSERT_EQ(img.I.Width, 6u);
    for (uint32_t ch = 0; ch < c.Channels; ++ch) EXPECT_EQ(img.Get(0, 0, ch), c.Margin[ch]) << c.Channels << "/" << ch;
  }
}

TEST(AddBlank, BlendThroughMask) {
  TTestImage mask(3, 1, 1, BPP_8);
  mask.Fill([](uint32_t x, uint32_t, uint32_t) { return int32_t(x == 0 ? 0 : x == 1 ? 128 : 255); });
  const uint8_t colour[3] = {200, 100, 50};
  // Gray and RGB: ((d (255 - a) + s a + 127) 257) >> 16 with a = (k m) >> 8, k = (p 256 + 50) / 100.
  TTestImage gray(3, 1, 1, BPP_8);
  gray.Fill([](uint32_t, uint32_t, uint32_t) { return 10; });
  BlendColorThroughMask(gray.I, mask.I, 0, 0, colour, 50);  // k = 128: a = 0, 64, 127
  EXPECT_EQ(gray.Get(0, 0, 0), 10);
  EXPECT_EQ(gray.Get(1, 0, 0), ((10 * 191 + 200 * 64 + 127) * 257) >> 16);
  EXPECT_EQ(gray.Get(2, 0, 0), ((10 * 128 + 200 * 127 + 127) * 257) >> 16);
  TTestImage rgb(3, 1, 3, BPP_8);
  BlendColorThroughMask(rgb.I, mask.I, 0, 0, colour, 100);  // k = 256: a = m
  EXPECT_EQ(rgb.Get(2, 0, 0), 200);
  EXPECT_EQ(rgb.Get(2, 0, 2), 50);
  EXPECT_EQ(rgb.Get(1, 0, 1), ((100 * 128 + 127) * 257) >> 16);
  // "Over" onto alpha: transparent places take the colour with the mask's alpha.
  TTestImage rgba(3, 1, 4, BPP_8);
  rgba.Fill([](uint32_t x, uint32_t, uint32_t ch) { return ch == 3 ? (x == 2 ? 255 : 0) : 40; });
  BlendColorThroughMask(rgba.I, mask.I, 0, 0, colour, 100);
  EXPECT_EQ(rgba.Get(0, 0, 3), 0);  // a = 0: untouched
  EXPECT_EQ(rgba.Get(0, 0, 0), 40);
  EXPECT_EQ(rgba.Get(1, 0, 3), 128);
  EXPECT_EQ(rgba.Get(1, 0, 0), 200);
  EXPECT_EQ(rgba.Get(2, 0, 3), 255);
  EXPECT_EQ(rgba.Get(2, 0, 1), 100);
  // Clipped to the image: a mask placed partly outside touches only what overlaps.
  TTestImage clip(2, 1, 1, BPP_8);
  BlendColorThroughMask(clip.I, mask.I, -1, 0, colour, 100);
  EXPECT_EQ(clip.Get(0, 0, 0), ((128 * 200 + 127) * 257) >> 16);
  EXPECT_EQ(clip.Get(1, 0, 0), 200);
  BlendColorThroughMask(clip.I, mask.I, 5, -3, colour, 100);
}

TEST(AddBlank, SettingsLayouts) {
  struct Case {
    const char *Name;
    const char *Section;
    int32_t BlankType, ExpType;
    const char *Values;
  } cases[] = {
      {"defaults", "Preview=1\n", 1, 0, "0,0,0,0,0,0,0,0"},
      {"eight values", "Preview=1\nBlankType=16\nValue=1,2,3,4,5,6,7,8\n", 0, 1, "1,2,3,4,5,6,7,8"},
      {"older defaults, aspect", "BlankType=0\n", 0, 0, "1,1,50,50,1,1,50,50"},
      {"older six, sizes", "BlankType=1\nValue=1,2,3,4,5,6\n", 1, 0, "1,2,3,4,1,2,3,4"},
      {"older six, aspect", "BlankType=0\nValue=1,2,3,4,16,9\n", 0, 0, "16,9,-1,-1,16,9,-1,-1"},
      {"older eight, sizes", "BlankType=2\nValue=1,2,3,4,5,6,7,8\n", 2, 0, "1,2,3,4,1,2,3,4"},
      {"older eight, aspect", "BlankType=0\nValue=1,2,3,4,5,6,7,8\n", 0, 0, "5,6,7,8,5,6,7,8"},
      {"older five", "BlankType=2\nValue=1,2,3,4,5\n", 1, 0, "0,0,0,0,0,0,0,0"},
      {"a value that does not evaluate", "Preview=0\nBlankType=2\nValue=1,2,3,4,5,(,7,8\n", 1, 0, "0,0,0,0,0,0,0,0"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    TAddBlankFilter e;
    TMemIniFile ini;
    ini.LoadFromBytes(std::string("[AddBlankFilter]\n") + c.Section);
    e.ReadIniFile(ini);
    EXPECT_EQ(e.FAddBlankParam.BlankType, c.BlankType);
    EXPECT_EQ(e.FAddBlankParam.ExpType, c.ExpType);
    EXPECT_EQ(JoinValues(e.FAddBlankParam.Value), c.Values);
    e.WriteIniFile(ini);
    EXPECT_EQ(ini.ReadInteger("AddBlankFilter", "BlankType", -1), c.ExpType * 16 + c.BlankType);
    EXPECT_EQ(ini.ReadString("AddBlankFilter", "Value", ""), c.Values);
    EXPECT_TRUE(ini.ValueExists("AddBlankFilter", "Preview"));
  }
  TAddBlankFilter e;
  TMemIniFile ini;
  ini.LoadFromBytes("[AddBlankFilter]\nPreview=1\n");
  e.ReadIniFile(ini);
  const TAddBlankParam &P = e.FAddBlankParam;
  EXPECT_EQ(P.ColorType, 4);
  EXPECT_EQ(P.Color, -1);
  EXPECT_EQ(P.Frame2Color, 16777215);
  EXPECT_EQ(P.Frame2Width, 6);
  EXPECT_EQ(P.ShadowOpacity, 75);
  EXPECT_DOUBLE_EQ(P.ShadowRadius, 4.0);
  EXPECT_EQ(P.ShadowStr, 4);
  EXPECT_EQ(P.ShadowOffsetX, 4);
  EXPECT_FALSE(P.UseDropShadow);
}

}  // namespace
