// The Exif auto-rotation and the fixed rotation steps: what they do to the
// picture, when they say they change an image, their settings, and how they
// keep the loader from decoding reduced.
#include "core/IniFile.h"
#include "effects/Effect.h"
#include "effects/RotationFilter.h"
#include "resample/tests/TestImage.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Picture pixel (x, y), y counted from the top.
int32_t At(const TTestImage &T, uint32_t x, uint32_t y, uint32_t c) { return T.Get(x, T.I.Height - 1 - y, c); }

// A w x h RGB picture whose pixel (x, y) holds x, y and x ^ y.
void FillCoordinates(TTestImage &T) {
  T.Fill([&](uint32_t x, uint32_t memRow, uint32_t c) {
    const uint32_t y = T.I.Height - 1 - memRow;
    return int32_t(c == 0 ? x : c == 1 ? y : (x ^ y) & 255);
  });
}

TEST(ExifRotation, EveryOrientationComesOutUpright) {
  // How a viewer shows the stored w x h pixels S: the shown pixel (x, y)
  // is S(sx, sy). This is the orientation tag's own definition (row 0 and
  // column 0 of the stored image are the shown top/left, right/top, ...).
  struct Case {
    int32_t Orientation;
    bool Swaps;
    void (*From)(uint32_t x, uint32_t y, uint32_t w, uint32_t h, uint32_t &sx, uint32_t &sy);
  } cases[] = {
      {0, false, [](uint32_t x, uint32_t y, uint32_t, uint32_t, uint32_t &sx, uint32_t &sy) { sx = x, sy = y; }},
      {1, false, [](uint32_t x, uint32_t y, uint32_t, uint32_t, uint32_t &sx, uint32_t &sy) { sx = x, sy = y; }},
      {2, false, [](uint32_t x, uint32_t y, uint32_t w, uint32_t, uint32_t &sx, uint32_t &sy) { sx = w - 1 - x, sy = y; }},
      {3, false, [](uint32_t x, uint32_t y, uint32_t w, uint32_t h, uint32_t &sx, uint32_t &sy) { sx = w - 1 - x, sy = h - 1 - y; }},
      {4, false, [](uint32_t x, uint32_t y, uint32_t, uint32_t h, uint32_t &sx, uint32_t &sy) { sx = x, sy = h - 1 - y; }},
      {5, true, [](uint32_t x, uint32_t y, uint32_t, uint32_t, uint32_t &sx, uint32_t &sy) { sx = y, sy = x; }},
      {6, true, [](uint32_t x, uint32_t y, uint32_t, uint32_t h, uint32_t &sx, uint32_t &sy) { sx = y, sy = h - 1 - x; }},
      {7, true, [](uint32_t x, uint32_t y, uint32_t w, uint32_t h, uint32_t &sx, uint32_t &sy) { sx = w - 1 - y, sy = h - 1 - x; }},
      {8, true, [](uint32_t x, uint32_t y, uint32_t w, uint32_t, uint32_t &sx, uint32_t &sy) { sx = w - 1 - y, sy = x; }},
      {9, false, [](uint32_t x, uint32_t y, uint32_t, uint32_t, uint32_t &sx, uint32_t &sy) { sx = x, sy = y; }},
  };
  const uint32_t w = 7, h = 4;
  TExifRotationFilter e;
  for (const Case &c : cases) {
    TTestImage src(w, h, 3, BPP_8), img(w, h, 3, BPP_8);
    FillCoordinates(src);
    FillCoordinates(img);
    TEffectParams p;
    p.ExifOrientation = c.Orientation;
    e.DoEffect(img.I, p);
    ASSERT_EQ(img.I.Width, c.Swaps ? h : w) << c.Orientation;
    ASSERT_EQ(img.I.Height, c.Swaps ? w : h) << c.Orientation;
    for (uint32_t y = 0; y < img.I.Height; ++y)
      for (uint32_t x = 0; x < img.I.Width; ++x) {
        uint32_t sx, sy;
        c.From(x, y, w, h, sx, sy);
        for (uint32_t k = 0; k < 3; ++k)
          ASSERT_EQ(At(img, x, y, k), At(src, sx, sy, k)) << "orientation " << c.Orientation << " at " << x << "," << y;
      }
  }
}

TEST(ExifRotation, OrientationSixTurnsALandscapeSourceIntoAPortrait) {
  TTestImage img(400, 300, 3, BPP_8);
  FillCoordinates(img);
  TEffectParams p;
  p.ExifOrientation = 6;
  TExifRotationFilter().DoEffect(img.I, p);
  EXPECT_EQ(img.I.Width, 300u);
  EXPECT_EQ(img.I.Height, 400u);
  // The former left column is the top row, read right to left.
  for (uint32_t x = 0; x < 300; x += 37) {
    EXPECT_EQ(At(img, x, 0, 0), 0);
    EXPECT_EQ(At(img, x, 0, 1), int32_t((299 - x) & 255));  // 8-bit samples keep y modulo 256
  }
}

TEST(ExifRotation, ChangesOnlyOrientationsTwoToEightWhileOn) {
  TExifRotationFilter e;
  EXPECT_TRUE(e.Use());  // on at creation
  TImageProbe info;
  info.Width = 400, info.Height = 300;
  for (uint16_t o = 0; o <= 10; ++o) {
    info.FOrientation = o;
    EXPECT_EQ(e.IsChange(info), o >= 2 && o <= 8) << o;
  }
  e.SetUse(false);
  info.FOrientation = 6;
  EXPECT_FALSE(e.IsChange(info));
}

TEST(ExifRotation, SwitchIsMirroredInTheListAfterReadingItsSection) {
  TEffectList list;
  auto *e = new TExifRotationFilter;
  list.AddFilter(e);
  EXPECT_TRUE(list.FExifRotationUse);
  TMemIniFile ini;
  ini.LoadFromBytes("[ExifRotationFilter]\nUse=0\nOrder=1\n");
  list.ReadIniFile(ini);
  EXPECT_FALSE(e->Use());
  EXPECT_FALSE(list.FExifRotationUse);
  list.ChangeState(0, 1);
  EXPECT_TRUE(list.FExifRotationUse);
}

TEST(Rotation, TypeChoosesWhichImagesTurn) {
  struct Case {
    int32_t Type, Value;
    uint32_t w, h;
    uint32_t W, H;  // size afterwards
    bool Changes;   // IsChange on the same stored size
  } cases[] = {
      {0, 0, 8, 5, 5, 8, true},
      {0, 2, 5, 8, 8, 5, true},
      {0, 1, 8, 5, 8, 5, true},
      {1, 0, 8, 5, 5, 8, true},
      {1, 0, 5, 8, 5, 8, false},
      {1, 0, 6, 6, 6, 6, false},  // a square is not landscape
      {2, 0, 5, 8, 8, 5, true},
      {2, 0, 8, 5, 8, 5, false},
      {2, 2, 6, 6, 6, 6, false},  // nor portrait
      {0, 5, 8, 5, 8, 5, true},   // no such operation: nothing happens, but the step is on
  };
  for (const Case &c : cases) {
    TRotationFilter e;
    e.SetUse(true);
    e.FType = c.Type;
    e.FValue = c.Value;
    TTestImage img(c.w, c.h, 1, BPP_8), src(c.w, c.h, 1, BPP_8);
    img.Fill([](uint32_t x, uint32_t y, uint32_t) { return int32_t(x * 16 + y); });
    src.Fill([](uint32_t x, uint32_t y, uint32_t) { return int32_t(x * 16 + y); });
    TEffectParams p;
    e.DoEffect(img.I, p);
    EXPECT_EQ(img.I.Width, c.W) << c.Type << "/" << c.Value << " on " << c.w << "x" << c.h;
    EXPECT_EQ(img.I.Height, c.H) << c.Type << "/" << c.Value << " on " << c.w << "x" << c.h;
    if (!c.Changes || c.Value > 4) {
      bool same = true;
      for (uint32_t y = 0; y < c.h; ++y)
        for (uint32_t x = 0; x < c.w; ++x) same = same && img.Get(x, y, 0) == src.Get(x, y, 0);
      EXPECT_TRUE(same) << c.Type << "/" << c.Value << " on " << c.w << "x" << c.h;
    }
    TImageProbe info;
    info.Width = int32_t(c.w), info.Height = int32_t(c.h);
    EXPECT_EQ(e.IsChange(info), c.Changes) << c.Type << "/" << c.Value << " on " << c.w << "x" << c.h;
    e.SetUse(false);
    EXPECT_FALSE(e.IsChange(info));
  }
}

TEST(Rotation, SettingsKeysAndDefaults) {
  TRotationFilter e;
  TMemIniFile ini;
  ini.LoadFromBytes("[RotationFilter]\nUse=1\n");
  e.ReadIniFile(ini);
  EXPECT_EQ(e.FType, 0);
  EXPECT_EQ(e.FValue, 0);
  ini.LoadFromBytes("[RotationFilter]\nUse=1\nType=2\nValue=4\n");
  e.ReadIniFile(ini);
  EXPECT_EQ(e.FType, 2);
  EXPECT_EQ(e.FValue, 4);
  TMemIniFile out;
  e.WriteIniFile(out);
  EXPECT_EQ(out.ReadInteger("RotationFilter", "Type", -1), 2);
  EXPECT_EQ(out.ReadInteger("RotationFilter", "Value", -1), 4);
  EXPECT_TRUE(out.ReadBool("RotationFilter", "Use", false));
}

TEST(Rotation, DefaultChainKeepsRotatedSourcesFromReducedDecoding) {
  TEffectList list;
  CreateDefaultEffects(list, "/nonexistent");
  list.SetResizeParam(0, 50, 0);
  ASSERT_NE(list.FindByID(EFFECT_EXIF_ROTATION), nullptr);
  ASSERT_NE(list.FindByID(EFFECT_ROTATION), nullptr);
  TImageProbe info;
  info.Width = 4000, info.Height = 3000;
  TScale scale;
  for (uint16_t o : {0, 1, 2, 6, 8}) {
    info.FOrientation = o;
    EXPECT_EQ(list.CanDownScalingLoad(info, scale), o < 2) << o;
  }
  // With the automatic rotation off, an upright-tagged source may be reduced again.
  list.FindByID(EFFECT_EXIF_ROTATION)->SetUse(false);
  info.FOrientation = 6;
  EXPECT_TRUE(list.CanDownScalingLoad(info, scale));
  // The fixed rotation for portraits only does not stop a landscape source.
  auto *rot = static_cast<TRotationFilter *>(list.FindByID(EFFECT_ROTATION));
  rot->SetUse(true);
  rot->FType = 2;
  EXPECT_TRUE(list.CanDownScalingLoad(info, scale));
  rot->FType = 0;
  EXPECT_FALSE(list.CanDownScalingLoad(info, scale));
}

}  // namespace
