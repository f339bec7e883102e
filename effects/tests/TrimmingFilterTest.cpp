// The trimming step: the rectangle of each value type, the landscape and
// portrait values, bad expressions, the settings layouts and the parameter
// stream.
#include "core/IniFile.h"
#include "core/Errors.h"
#include "effects/TrimmingFilter.h"
#include "resample/tests/TestImage.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TValueStrings Values(const std::string &Landscape, const std::string &Portrait) {
  const auto l = SplitValues(Landscape), p = SplitValues(Portrait);
  TValueStrings v;
  for (size_t i = 0; i < 4; ++i) v[i] = l.at(i), v[4 + i] = p.at(i);
  return v;
}

// Picture pixel (x, y) of a gray image, y from the top.
int32_t At(const TTestImage &T, uint32_t x, uint32_t y) { return T.Get(x, T.I.Height - 1 - y, 0); }
int32_t Pattern(uint32_t x, uint32_t y) { return int32_t((x * 7 + y * 13) & 255); }

TEST(Trimming, EachTypeCropsItsRectangle) {
  struct Case {
    const char *Name;
    int32_t Type, Exp;
    const char *Landscape, *Portrait;
    uint32_t w, h;
    int32_t L, T, W, H;  // W 0: unchanged
  } cases[] = {
      {"whole image by x,y,W,H", 0, 0, "0,0,W,H", "0,0,W,H", 100, 80, 0, 0, 0, 0},
      {"x,y,W,H clipped at the edges", 0, 0, "10,10,W,H", "0,0,0,0", 100, 80, 10, 10, 90, 70},
      {"w/2 on 1001 pixels rounds up", 0, 0, "w/2,0,W,H", "0,0,0,0", 1001, 40, 501, 0, 500, 40},
      {"a corner outside the image", 0, 0, "120,0,10,10", "0,0,0,0", 100, 80, 0, 0, 0, 0},
      {"pixel insets", 1, 0, "5,6,7,8", "0,0,0,0", 100, 80, 5, 6, 88, 66},
      {"insets larger than the image", 1, 0, "60,0,60,0", "0,0,0,0", 100, 80, 0, 0, 0, 0},
      {"percent insets", 2, 0, "10,20,30,40", "0,0,0,0", 200, 100, 20, 20, 120, 40},
      {"percent insets that cross", 2, 0, "10,10,95,0", "0,0,0,0", 200, 100, 0, 0, 0, 0},
      {"16:9 centred on a square", 3, 0, "16,9,50,50", "0,0,0,0", 4000, 4000, 0, 875, 4000, 2250},
      {"1:1 at the right of a landscape", 3, 0, "1,1,100,0", "0,0,0,0", 300, 200, 100, 0, 200, 200},
      {"positions above 100 read as 100", 3, 0, "1,1,250,0", "0,0,0,0", 300, 200, 100, 0, 200, 200},
      {"a ratio without size", 3, 0, "0,9,50,50", "0,0,0,0", 300, 200, 0, 0, 0, 0},
      {"condition 0: a square takes the landscape values", 1, 0, "10,0,0,0", "0,10,0,0", 50, 50, 10, 0, 40, 50},
      {"condition 1: a square takes the portrait values", 1, 1, "10,0,0,0", "0,10,0,0", 50, 50, 0, 10, 50, 40},
      {"condition 2: a portrait takes the landscape values", 1, 2, "10,0,0,0", "0,10,0,0", 40, 50, 10, 0, 30, 50},
      {"condition 0: a portrait takes the portrait values", 1, 0, "10,0,0,0", "0,10,0,0", 40, 50, 0, 10, 40, 40},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    TTrimmingFilter e;
    e.FType = c.Type;
    e.FExp = c.Exp;
    e.FValue = Values(c.Landscape, c.Portrait);
    TTestImage img(c.w, c.h, 1, BPP_8);
    img.Fill([&](uint32_t x, uint32_t memRow, uint32_t) { return Pattern(x, c.h - 1 - memRow); });
    TEffectParams p;
    e.DoEffect(img.I, p);
    const bool unchanged = c.W == 0;
    ASSERT_EQ(img.I.Width, unchanged ? c.w : uint32_t(c.W));
    ASSERT_EQ(img.I.Height, unchanged ? c.h : uint32_t(c.H));
    EXPECT_EQ(img.I.Bpl, GetAlignedBpl(img.I.Width, 1));
    bool same = true;
    for (uint32_t y = 0; y < img.I.Height; ++y)
      for (uint32_t x = 0; x < img.I.Width; ++x) same = same && At(img, x, y) == Pattern(x + c.L, y + c.T);
    EXPECT_TRUE(same);
  }
}

TEST(Trimming, DeepImagesComeOutAtEightBits) {
  TTrimmingFilter e;
  e.FType = 1;
  e.FValue = Values("1,2,3,4", "1,2,3,4");
  TTestImage img(20, 10, 3, BPP_16);
  img.Fill([](uint32_t x, uint32_t, uint32_t c) { return int32_t(x * 257 * 10 + c * 257); });
  TEffectParams p;
  e.DoEffect(img.I, p);
  EXPECT_EQ(img.I.BPP, uint32_t(BPP_8));
  ASSERT_EQ(img.I.Width, 16u);
  ASSERT_EQ(img.I.Height, 4u);
  EXPECT_EQ(img.Get(0, 0, 0), 10);  // picture column 1
  EXPECT_EQ(img.Get(0, 0, 2), 12);
}

TEST(Trimming, MalformedExpressionRaisesTheEvaluationError) {
  TTrimmingFilter e;
  e.FType = 1;
  e.FValue = Values("10,(w,0,0", "0,0,0,0");
  TTestImage img(30, 20, 1, BPP_8);
  TEffectParams p;
  try {
    e.DoEffect(img.I, p);
    FAIL() << "no error";
  } catch (const ETessivoError &E) {
    EXPECT_STREQ(E.what(), "式の評価でエラーが発生しました");
  }
  EXPECT_EQ(img.I.Width, 30u);
  // The portrait set is not evaluated for a landscape image.
  e.FValue = Values("1,1,1,1", "(,0,0,0");
  EXPECT_NO_THROW(e.DoEffect(img.I, p));
  EXPECT_EQ(img.I.Width, 28u);
}

TEST(Trimming, SettingsLayouts) {
  struct Case {
    const char *Name;
    const char *Section;
    int32_t Type, Exp;
    const char *Values;  // the eight values joined
  } cases[] = {
      {"defaults", "", 1, 0, "0,0,0,0,0,0,0,0"},
      {"eight values", "Type=35\nValue=1,2,3,4,5,6,7,8\n", 3, 2, "1,2,3,4,5,6,7,8"},
      {"four values, Style 0", "Type=1\nValue=1,2,3,4\nStyle=0\n", 1, 0, "1,2,3,4,1,2,3,4"},
      {"four values, Style 1", "Type=1\nValue=1,2,3,4\nStyle=1\n", 1, 0, "1,2,3,4,2,1,4,3"},
      {"four values, Style 2", "Type=1\nValue=1,2,3,4\nStyle=2\n", 1, 0, "2,1,4,3,1,2,3,4"},
      {"four values, no Style", "Type=1\nValue=1,2,3,4\n", 0, 0, "0,0,0,0,0,0,0,0"},
      {"four values, Style 5", "Type=2\nValue=1,2,3,4\nStyle=5\n", 0, 0, "0,0,0,0,0,0,0,0"},
      {"six values", "Type=2\nValue=1,2,3,4,5,6\n", 0, 0, "0,0,0,0,0,0,0,0"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    TTrimmingFilter e;
    TMemIniFile ini;
    ini.LoadFromBytes(std::string("[TrimmingFilter]\n") + c.Section);
    e.ReadIniFile(ini);
    EXPECT_EQ(e.FType, c.Type);
    EXPECT_EQ(e.FExp, c.Exp);
    EXPECT_EQ(JoinValues(e.FValue), c.Values);
    EXPECT_EQ(e.FSizeList, "フリーサイズ");
    EXPECT_NE(e.FPreview, 0);
    e.WriteIniFile(ini);
    EXPECT_FALSE(ini.ValueExists("TrimmingFilter", "Style"));
    EXPECT_EQ(ini.ReadInteger("TrimmingFilter", "Type", -1), c.Exp * 16 + c.Type);
    EXPECT_EQ(ini.ReadString("TrimmingFilter", "Value", ""), c.Values);
  }
}

TEST(Trimming, ParameterStreamHoldsTypeAndEightStrings) {
  TTrimmingFilter e;
  e.FType = 3;
  e.FValue = Values("16,9,50,50", "w,h,0,0");
  std::vector<uint8_t> s;
  e.WriteParamToStream(s);
  const std::vector<uint8_t> expected = {3, 0, 0, 0,  2, 0, 0, 0, '1', 0, '6', 0, 1, 0, 0, 0, '9', 0,
                                         2, 0, 0, 0, '5', 0, '0', 0, 2, 0, 0, 0, '5', 0, '0', 0,
                                         1, 0, 0, 0, 'w', 0, 1, 0, 0, 0, 'h', 0,  1, 0, 0, 0, '0', 0,
                                         1, 0, 0, 0, '0', 0};
  EXPECT_EQ(s, expected);
}

}  // namespace
