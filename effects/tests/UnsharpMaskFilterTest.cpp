// The unsharp-mask step: the binding of its settings to the engine, the
// luminance-only and all-channel paths against the engine itself, and the
// images it leaves alone or must survive.
#include "core/IniFile.h"
#include "core/MultiThread.h"
#include "core/PixelConvert.h"
#include "effects/RunSettings.h"
#include "effects/UnsharpMaskFilter.h"
#include "resample/Filter.h"
#include "resample/WeightedMean.h"
#include "resample/tests/TestImage.h"
#include "testutil/TestEnv.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <string>

namespace {

bool BindResize() {
  if (testenv::BinFile("libresize.so").empty()) return false;
  LoadResizeLibrary(TESSIVO_BIN_DIR);
  return true;
}

void FillPicture(TTestImage &Img, uint32_t Seed) {
  std::mt19937 rng(Seed);
  std::uniform_int_distribution<int> grain(-6, 6);
  const int32_t top = Img.I.BPP == BPP_8 ? 255 : Img.I.BPP == BPP_14 ? 16320 : 65535;
  const double scale = top / 255.0;
  Img.Fill([&](uint32_t x, uint32_t y, uint32_t c) {
    double v = 90 + 40 * c + ((x / 9 + y / 7) % 2 ? 50 : -30) + grain(rng);
    return int32_t(std::clamp(std::lround(std::clamp(v, 0.0, 255.0) * scale), 0L, long(top)));
  });
}

void CopyPixels(const TTestImage &From, TTestImage &To) {
  for (uint32_t y = 0; y < From.I.Height; ++y) std::memcpy(ScanLine(To.I, y), ScanLine(From.I, y), From.I.Bpl);
}

bool SamePixels(const TTestImage &A, const TTestImage &B) {
  if (A.I.BPP != B.I.BPP) return false;
  for (uint32_t y = 0; y < A.I.Height; ++y)
    if (std::memcmp(ScanLine(A.I, y), ScanLine(B.I, y), size_t(A.I.Width) * A.I.Channels * (A.I.BPP == BPP_8 ? 1 : 2)))
      return false;
  return true;
}

// A step that sharpens visibly.
struct TStrong : TUSMFilter {
  explicit TStrong(bool LumaOnly) { FHighlight = 180, FShadow = 150, FRadius = 1.5, FLumaOnly = LumaOnly; }
};

TEST(UnsharpMaskStep, LinearLightIsDegammaExceptForLabLuminance) {
  struct Case {
    bool Degamma, LumaOnly, Lab, LabMode, Linear;
  } cases[] = {
      {false, true, true, true, false},  {true, false, false, false, true}, {true, true, false, false, true},
      {true, true, true, false, true},   {true, true, true, true, false},   {true, false, true, true, true},
  };
  for (const Case &c : cases) {
    TUSMFilter f;
    f.FDegamma = c.Degamma, f.FLumaOnly = c.LumaOnly, f.FLab = c.Lab;
    EXPECT_EQ(f.LinearLight(c.LabMode), c.Linear)
        << "Degamma " << c.Degamma << " LumaOnly " << c.LumaOnly << " Lab " << c.Lab << " Lab mode " << c.LabMode;
  }
}

TEST(UnsharpMaskStep, SettingsReachTheEngineAndItsCopies) {
  TUSMFilter f;
  f.FHighlight = 250, f.FShadow = 75, f.FRadius = 2.25, f.FThreshold = 4, f.FMax = 30, f.FMin = 10, f.FDegamma = true;
  TUnsharpMask engine;
  f.ApplyToEngine(engine, false);
  const TUnsharpMaskCoefficients want = MakeUnsharpMaskCoefficients(250, 75, 4, 30, 10);
  std::unique_ptr<TUnsharpMask> copy(engine.CreateMTUnSharpMask());
  for (const TUnsharpMask *e : {&engine, copy.get()}) {
    EXPECT_EQ(e->Coefficients.StrengthH, want.StrengthH);
    EXPECT_EQ(e->Coefficients.StrengthS, want.StrengthS);
    EXPECT_EQ(e->Coefficients.Threshold64, want.Threshold64);
    EXPECT_EQ(e->Coefficients.Upper, want.Upper);
    EXPECT_EQ(e->Coefficients.Lower, want.Lower);
    EXPECT_TRUE(e->FDegamma);
    ASSERT_TRUE(e->USMWeight);
    EXPECT_DOUBLE_EQ(e->USMWeight->FRadius, 2.75);  // the blur radius is Radius + 0.5
  }
}

// What the step does against the engine run directly on the same pixels.
TEST(UnsharpMaskStep, GrayAndAllChannelPathsAreTheEnginesResult) {
  TESSIVO_REQUIRE(BindResize()) << "no bin/libresize.so";
  struct Case {
    const char *Name;
    uint32_t C, BPP;
    bool LumaOnly;
  } cases[] = {
      {"gray 8-bit, luminance only", 1, BPP_8, true},
      {"gray 14-bit, luminance only", 1, BPP_14, true},
      {"colour 8-bit, all channels", 3, BPP_8, false},
      {"colour 14-bit, all channels", 3, BPP_14, false},
  };
  TMultiThread pool(2);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    const TStrong f(c.LumaOnly);
    TUnsharpMask engine, direct;
    f.ApplyToEngine(engine, false);
    f.ApplyToEngine(direct, false);
    TTestImage a(97, 61, c.C, c.BPP), b(97, 61, c.C, c.BPP);
    FillPicture(a, 3);
    CopyPixels(a, b);
    TEffectParams p;
    p.UnSharpMask = &engine;
    p.MT = &pool;
    f.DoEffect(a.I, p);
    direct.DoUnSharpMask(b.I, false, nullptr);
    EXPECT_TRUE(SamePixels(a, b));
  }
}

TEST(UnsharpMaskStep, LuminanceOnlySharpensYAndKeepsTheChroma) {
  TESSIVO_REQUIRE(BindResize()) << "no bin/libresize.so";
  const TStrong f(true);
  TUnsharpMask engine, direct;
  f.ApplyToEngine(engine, false);
  f.ApplyToEngine(direct, false);
  TTestImage img(120, 80, 3, BPP_14), ycc(120, 80, 3, BPP_14);
  FillPicture(img, 9);
  CopyPixels(img, ycc);
  TEffectParams p;
  p.UnSharpMask = &engine;
  f.DoEffect(img.I, p);
  ConvertToYCC14(img.I);
  ConvertToYCC14(ycc.I);
  // The luminance the engine makes of the input's Y alone.
  TTestImage y(120, 80, 1, BPP_14);
  y.Fill([&](uint32_t x, uint32_t yy, uint32_t) { return ycc.Get(x, yy, 0); });
  direct.DoUnSharpMask(y.I, false, nullptr);
  int32_t chroma = 0, luma = 0, changed = 0;
  for (uint32_t r = 0; r < 80; ++r)
    for (uint32_t x = 0; x < 120; ++x) {
      chroma = std::max({chroma, std::abs(img.Get(x, r, 1) - ycc.Get(x, r, 1)), std::abs(img.Get(x, r, 2) - ycc.Get(x, r, 2))});
      luma = std::max(luma, std::abs(img.Get(x, r, 0) - y.Get(x, r, 0)));
      changed += img.Get(x, r, 0) != ycc.Get(x, r, 0);
    }
  EXPECT_LE(chroma, 2) << "14-bit steps of Cb or Cr";
  EXPECT_LE(luma, 2) << "14-bit steps of Y away from the engine's";
  EXPECT_GT(changed, 120 * 80 / 4) << "hardly anything was sharpened";
}

// Luminance-only sharpening converts to YCC14, sharpens a copy of Y with the
// engine, puts it back and converts back; the step must give those bytes
// exactly, whatever the depth, size, thread count or linear-light setting,
// and also where the engine leaves an image too small for it alone.
TEST(UnsharpMaskStep, LuminanceOnlyGivesTheBytesOfTheEngineOnYBetweenTheConversions) {
  TESSIVO_REQUIRE(BindResize()) << "no bin/libresize.so";
  struct Case {
    const char *Name;
    uint32_t W, H, BPP;
    int32_t Threads;  // 0: no pool
    bool Degamma;
  } cases[] = {
      {"14-bit, two threads", 203, 77, BPP_14, 2, false},
      {"8-bit, two threads", 150, 64, BPP_8, 2, false},
      {"16-bit, no pool", 61, 45, BPP_16, 0, false},
      {"14-bit, one thread, linear light", 90, 33, BPP_14, 1, true},
      {"8-bit, three threads, odd width", 17, 40, BPP_8, 3, false},
      {"14-bit, two pixels wide (left to the conversions)", 2, 30, BPP_14, 2, false},
      {"8-bit, one row", 40, 1, BPP_8, 2, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    TStrong f(true);
    f.FDegamma = c.Degamma;
    TUnsharpMask engine, direct;
    f.ApplyToEngine(engine, false);
    f.ApplyToEngine(direct, false);
    std::unique_ptr<TMultiThread> pool(c.Threads ? new TMultiThread(c.Threads) : nullptr);
    TTestImage img(c.W, c.H, 3, c.BPP), ref(c.W, c.H, 3, c.BPP);
    FillPicture(img, 11);
    CopyPixels(img, ref);
    TEffectParams p;
    p.UnSharpMask = &engine;
    p.MT = pool.get();
    f.DoEffect(img.I, p);

    if (ref.I.BPP == BPP_16) Convert16To14(ref.I);
    ConvertToYCC14(ref.I);
    TTestImage y(c.W, c.H, 1, BPP_14);
    y.Fill([&](uint32_t x, uint32_t r, uint32_t) { return ref.Get(x, r, 0); });
    direct.DoUnSharpMask(y.I, false, nullptr);
    for (uint32_t r = 0; r < c.H; ++r)
      for (uint32_t x = 0; x < c.W; ++x) ref.Set(x, r, 0, y.Get(x, r, 0));
    ConvertFromYCC14(ref.I);

    ASSERT_EQ(img.I.BPP, uint32_t(BPP_14));
    int32_t differing = 0;
    for (uint32_t r = 0; r < c.H; ++r)
      for (uint32_t x = 0; x < 3 * c.W; ++x) differing += img.Get(x / 3, r, x % 3) != ref.Get(x / 3, r, x % 3);
    EXPECT_EQ(differing, 0) << "samples away from the reference";
  }
}

TEST(UnsharpMaskStep, FourChannelImagesPassUnchanged) {
  TESSIVO_REQUIRE(BindResize()) << "no bin/libresize.so";
  for (const bool luma : {true, false}) {
    TUnsharpMask engine;
    const TStrong f(luma);
    f.ApplyToEngine(engine, false);
    TTestImage a(40, 30, 4, BPP_16), b(40, 30, 4, BPP_16);
    FillPicture(a, 4);
    CopyPixels(a, b);
    TEffectParams p;
    p.UnSharpMask = &engine;
    f.DoEffect(a.I, p);
    EXPECT_TRUE(SamePixels(a, b)) << "luminance only " << luma;
  }
}

TEST(UnsharpMaskStep, OnePixelAndOneLineImagesGoThrough) {
  TESSIVO_REQUIRE(BindResize()) << "no bin/libresize.so";
  TMultiThread pool(2);
  for (const auto &[w, h] : {std::pair{1u, 1u}, std::pair{1u, 5000u}, std::pair{5000u, 1u}})
    for (const uint32_t c : {1u, 3u})
      for (const bool luma : {true, false}) {
        SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h) + ", " + std::to_string(c) + " channels" +
                     (luma ? ", luminance only" : ""));
        TUnsharpMask engine;
        const TStrong f(luma);
        f.ApplyToEngine(engine, false);
        TTestImage img(w, h, c, BPP_16);
        FillPicture(img, 1);
        TEffectParams p;
        p.UnSharpMask = &engine;
        p.MT = &pool;
        EXPECT_NO_THROW(f.DoEffect(img.I, p));
        EXPECT_EQ(img.I.Width, w);
        EXPECT_EQ(img.I.Height, h);
      }
}

TEST(UnsharpMaskStep, SettingsKeysRoundTrip) {
  TMemIniFile ini;
  TUSMFilter defaults;
  defaults.ReadIniFile(ini);
  EXPECT_EQ(defaults.FHighlight, 100);
  EXPECT_EQ(defaults.FShadow, 100);
  EXPECT_DOUBLE_EQ(defaults.FRadius, 1.0);
  EXPECT_TRUE(defaults.FLumaOnly);
  EXPECT_FALSE(defaults.FLab);
  ini.WriteInteger("UnSharpMask", "StrengthW", 900);
  ini.WriteFloat("UnSharpMask", "Radius", 2.5);
  ini.WriteBool("UnSharpMask", "Degamma", true);
  ini.WriteBool("UnSharpMask", "LumaOnly", false);
  TUSMFilter f;
  f.ReadIniFile(ini);
  EXPECT_EQ(f.FHighlight, 500);
  EXPECT_DOUBLE_EQ(f.FRadius, 2.5);
  EXPECT_TRUE(f.FDegamma);
  EXPECT_FALSE(f.FLumaOnly);
  TMemIniFile out;
  f.WriteIniFile(out);
  TUSMFilter back;
  back.ReadIniFile(out);
  EXPECT_EQ(back.FHighlight, 500);
  EXPECT_DOUBLE_EQ(back.FRadius, 2.5);
  EXPECT_TRUE(back.FDegamma);
  EXPECT_FALSE(back.FLumaOnly);
}

}  // namespace
