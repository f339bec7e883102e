// Noise removal: the binding of bin/libdenoise.so, the program's plane
// geometry, weights and thresholds, every vector procedure against its plain
// reference step by step, what the filter does to noisy and clean pictures,
// and the images it must leave alone or survive.
#include "core/Errors.h"
#include "core/IniFile.h"
#include "core/MultiThread.h"
#include "core/PixelConvert.h"
#include "effects/DenoiseEffect.h"
#include "effects/DenoisePass.h"
#include "resample/tests/TestImage.h"
#include "testutil/TestEnv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

const char *const ProcedureNames[DNP_SSE2_COUNT] = {
    "LoadGray8",       "LoadGray14",      "LoadYCC",     "LevelStats",  "LevelFilter",
    "DecomposeRows",   "DecomposeCols",   "ReconstructCols", "ReconstructRows", "StoreGray8",
    "StoreGray14",     "StoreYCC",        "ChromaStats", "ChromaFilter"};

bool BindLibrary() {
  if (testenv::BinFile("libdenoise.so").empty()) return false;
  LoadDenoiseLibrary(TESSIVO_BIN_DIR);
  return DenoiseAvailable();
}

// A picture with flat areas, edges, a gradient and fine texture on the
// 8-bit scale (0 to 255), channel c slightly shifted so colour varies.
double Scene(uint32_t x, uint32_t y, uint32_t c) {
  double v = 60 + 0.3 * x + 20 * c;
  if ((x / 24 + y / 24) % 2) v += 70;
  if (x > 40 && x < 52) v = 30;
  v += 25 * std::sin(x * 0.35 + c) * std::sin(y * 0.25);
  return std::clamp(v, 0.0, 255.0);
}

// Fills Img (8-, 14- or 16-bit) with Scene plus Gaussian noise of Sigma (8-bit steps).
void FillScene(TTestImage &Img, double Sigma, uint32_t Seed) {
  std::mt19937 rng(Seed);
  std::normal_distribution<double> noise(0, Sigma);
  const double scale = Img.I.BPP == BPP_8 ? 1 : Img.I.BPP == BPP_14 ? 64 : 257;
  const double top = Img.I.BPP == BPP_8 ? 255 : Img.I.BPP == BPP_14 ? 16320 : 65535;
  Img.Fill([&](uint32_t x, uint32_t y, uint32_t c) {
    const double v = Sigma > 0 ? Scene(x, y, c) + noise(rng) : Scene(x, y, c);
    return int32_t(std::clamp(std::lround(v * scale), 0L, long(top)));
  });
}

// Mean squared difference of two images of one geometry, on the 8-bit scale.
double Mse(const TTestImage &A, const TTestImage &B) {
  auto scale = [](const TTestImage &T) { return T.I.BPP == BPP_8 ? 1.0 : T.I.BPP == BPP_14 ? 64.0 : 257.0; };
  double s = 0;
  for (uint32_t y = 0; y < A.I.Height; ++y)
    for (uint32_t x = 0; x < A.I.Width; ++x)
      for (uint32_t c = 0; c < A.I.Channels; ++c) {
        const double d = A.Get(x, y, c) / scale(A) - B.Get(x, y, c) / scale(B);
        s += d * d;
      }
  return s / (double(A.I.Width) * A.I.Height * A.I.Channels);
}

bool SamePixels(const TTestImage &A, const TTestImage &B) {
  for (uint32_t y = 0; y < A.I.Height; ++y)
    if (std::memcmp(ScanLine(A.I, y), ScanLine(B.I, y), size_t(A.I.Width) * A.I.Channels * (A.I.BPP == BPP_8 ? 1 : 2)))
      return false;
  return true;
}

void CopyPixels(const TTestImage &From, TTestImage &To) {
  for (uint32_t y = 0; y < From.I.Height; ++y)
    std::memcpy(ScanLine(To.I, y), ScanLine(From.I, y), From.I.Bpl);
}

TDenoiseValues Advanced(int32_t Lv0, int32_t Radius, int32_t ChromaRadius) {
  TDenoiseValues v;
  v.Level = {Lv0, 20, 10, 8, 6};
  v.LumaRadius = Radius, v.ChromaRadius = ChromaRadius;
  v.LumaSigma2 = 60, v.ChromaSigma2 = 40, v.ChromaStrength = 50;
  return v;
}

// Everything a step left in the block: the three planes and the histograms.
struct TStep {
  int32_t Procedure;
  std::vector<uint8_t> Bytes;
};

std::vector<TStep> RunTraced(TTestImage &Img, const TDenoiseValues &V, TDenoiseIsa Isa, int32_t Padding,
                             TMultiThread *Pool) {
  std::vector<TStep> steps;
  TDenoiseTrace trace;
  trace.Padding = Padding;
  trace.AfterStep = [&](int32_t Procedure, const TDenoiseBlock &B) {
    TStep s{Procedure, {}};
    const size_t plane = size_t(B.PlaneStride) * 4 * size_t(B.PaddedHeight);
    for (int i = 0; i < 3; ++i) {
      const auto *p = reinterpret_cast<const uint8_t *>(B.Plane[i]);
      s.Bytes.insert(s.Bytes.end(), p, p + plane);
    }
    // Tiles go to whichever thread asks first, so only the sums of the
    // threads' histograms are the same from run to run.
    for (int32_t ch = 0; ch < 2; ++ch)
      for (int32_t k = 0; k < DenoiseHistogramBins; ++k) {
        uint32_t n = 0;
        for (int32_t t = 0; t < B.HistogramThreads; ++t)
          n += B.Histogram[(size_t(ch) * B.HistogramThreads + t) * DenoiseHistogramBins + k];
        const auto *p = reinterpret_cast<const uint8_t *>(&n);
        s.Bytes.insert(s.Bytes.end(), p, p + 4);
      }
    steps.push_back(std::move(s));
  };
  if (Img.I.Channels == 3) ConvertToYCC14(Img.I);
  DenoisePass(Img.I, V, Pool, Isa, &trace);
  if (Img.I.Channels == 3) ConvertFromYCC14(Img.I);
  return steps;
}

TEST(DenoiseLibrary, VectorProceduresMatchThePlainReferenceStepByStep) {
  TESSIVO_REQUIRE(BindLibrary()) << "no usable bin/libdenoise.so";
  struct Case {
    const char *Name;
    uint32_t W, H, C, BPP;
    TDenoiseIsa Isa;
    int32_t Radius, ChromaRadius, Threads;
  } cases[] = {
      {"SSE2 gray 8-bit 1 x 1", 1, 1, 1, BPP_8, TDenoiseIsa::Sse2, 1, 1, 1},
      {"SSE2 gray 8-bit 37 x 53", 37, 53, 1, BPP_8, TDenoiseIsa::Sse2, 2, 2, 1},
      {"SSE2 gray 14-bit 200 x 67 radius 4", 200, 67, 1, BPP_14, TDenoiseIsa::Sse2, 4, 4, 2},
      {"SSE2 colour 130 x 129", 130, 129, 3, BPP_14, TDenoiseIsa::Sse2, 3, 2, 2},
      {"SSE2 colour 331 x 97 radius 4", 331, 97, 3, BPP_8, TDenoiseIsa::Sse2, 4, 4, 3},
      {"SSE2 colour 64 x 64 radius 1", 64, 64, 3, BPP_14, TDenoiseIsa::Sse2, 1, 1, 1},
      {"AVX gray 8-bit 45 x 131", 45, 131, 1, BPP_8, TDenoiseIsa::Avx, 2, 2, 2},
      {"AVX gray 14-bit 129 x 5", 129, 5, 1, BPP_14, TDenoiseIsa::Avx, 3, 3, 1},
      {"AVX colour 257 x 130 radius 4", 257, 130, 3, BPP_14, TDenoiseIsa::Avx, 4, 4, 2},
      {"AVX colour 100 x 100", 100, 100, 3, BPP_8, TDenoiseIsa::Avx, 2, 3, 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    if (c.Isa == TDenoiseIsa::Avx && !DenoiseLibrary()->HasAvx()) {
      std::printf("%s: no AVX2 on this processor\n", c.Name);
      continue;
    }
    const int32_t padding = c.Isa == TDenoiseIsa::Avx ? 128 : 64;
    std::unique_ptr<TMultiThread> pool = c.Threads > 1 ? std::make_unique<TMultiThread>(c.Threads) : nullptr;
    TTestImage plain(c.W, c.H, c.C, c.BPP), vec(c.W, c.H, c.C, c.BPP);
    FillScene(plain, 12, c.W * 131 + c.H);
    CopyPixels(plain, vec);
    const TDenoiseValues v = Advanced(45, c.Radius, c.ChromaRadius);
    const std::vector<TStep> a = RunTraced(plain, v, TDenoiseIsa::Plain, padding, pool.get());
    const std::vector<TStep> b = RunTraced(vec, v, c.Isa, padding, pool.get());
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
      ASSERT_EQ(a[i].Procedure, b[i].Procedure);
      ASSERT_TRUE(a[i].Bytes == b[i].Bytes)
          << "step " << i << " (" << ProcedureNames[a[i].Procedure] << ") differs from the plain reference";
    }
    EXPECT_TRUE(SamePixels(plain, vec));
  }
}

TEST(DenoiseLibrary, ThreadCountDoesNotChangeTheResult) {
  TESSIVO_REQUIRE(BindLibrary()) << "no usable bin/libdenoise.so";
  for (const TDenoiseIsa isa : {TDenoiseIsa::Sse2, TDenoiseIsa::Avx}) {
    if (isa == TDenoiseIsa::Avx && !DenoiseLibrary()->HasAvx()) continue;
    SCOPED_TRACE(isa == TDenoiseIsa::Avx ? "AVX" : "SSE2");
    TTestImage one(350, 170, 3, BPP_14), three(350, 170, 3, BPP_14);
    FillScene(one, 10, 7);
    CopyPixels(one, three);
    TMultiThread pool(3);
    for (auto [img, p] : {std::pair{&one, static_cast<TMultiThread *>(nullptr)}, std::pair{&three, &pool}}) {
      ConvertToYCC14(img->I);
      DenoisePass(img->I, DenoisePreset(9), p, isa);
      ConvertFromYCC14(img->I);
    }
    EXPECT_TRUE(SamePixels(one, three));
  }
}

TEST(DenoisePass, PlanesAreRoundedTo64ForSse2And128ForAvxWithTheirScratch) {
  struct Case {
    uint32_t W, H;
    TDenoiseIsa Isa;
    int32_t PW, PH, Scratch;
  } cases[] = {
      {100, 100, TDenoiseIsa::Sse2, 128, 128, 147328},
      {100, 100, TDenoiseIsa::Avx, 128, 128, 147328},
      {130, 65, TDenoiseIsa::Sse2, 192, 128, 147328},
      {130, 65, TDenoiseIsa::Avx, 256, 128, 147328},
      {1, 1, TDenoiseIsa::Sse2, 64, 64, 147328},
      {64, 4000, TDenoiseIsa::Sse2, 64, 4032, 4032 * 64},    // columns are the longer strips
      {20000, 64, TDenoiseIsa::Sse2, 20032, 64, 20032 * 16},  // rows are
      {6000, 4000, TDenoiseIsa::Avx, 6016, 4096, 4096 * 64},
  };
  for (const Case &c : cases) {
    const TDenoiseGeometry g = DenoiseGeometry(c.W, c.H, c.Isa);
    EXPECT_EQ(g.PaddedWidth, c.PW) << c.W << " x " << c.H;
    EXPECT_EQ(g.PaddedHeight, c.PH) << c.W << " x " << c.H;
    EXPECT_EQ(g.ScratchSize, c.Scratch) << c.W << " x " << c.H;
  }
}

TEST(DenoisePass, AHundredSquareImageRunsOnHundredTwentyEightSquarePlanes) {
  TESSIVO_REQUIRE(BindLibrary()) << "no usable bin/libdenoise.so";
  TTestImage img(100, 100, 1, BPP_8);
  FillScene(img, 5, 1);
  int32_t w = 0, h = 0, levels = 0;
  TDenoiseTrace trace;
  trace.AfterStep = [&](int32_t Procedure, const TDenoiseBlock &B) {
    w = B.PaddedWidth, h = B.PaddedHeight;
    if (Procedure == DNP_LEVEL_FILTER) ++levels;
  };
  DenoisePass(img.I, DenoisePreset(7), nullptr, TDenoiseIsa::Sse2, &trace);
  EXPECT_EQ(w, 128);
  EXPECT_EQ(h, 128);
  EXPECT_EQ(levels, 5);
}

TEST(DenoisePass, SpatialWeightsThresholdsAndCoefficients) {
  // Radius 1 and sigma2 50: sigma 1, centre 1, edges e^-1/2, corners e^-1.
  const std::vector<float> w = DenoiseSpatialWeights(1, 50);
  ASSERT_EQ(w.size(), 9u);
  const float e1 = float(std::exp(-1.0)), eh = float(std::exp(-0.5));
  const std::vector<float> expected = {e1, eh, e1, eh, 1.f, eh, e1, eh, e1};
  for (size_t i = 0; i < 9; ++i) EXPECT_FLOAT_EQ(w[i], expected[i]) << i;
  // Radius 2 with sigma2 100: sigma 4, so the corner (2, 2) is e^(-8/32).
  const std::vector<float> w2 = DenoiseSpatialWeights(2, 100);
  ASSERT_EQ(w2.size(), 25u);
  EXPECT_FLOAT_EQ(w2[0], float(std::exp(-0.25)));
  EXPECT_FLOAT_EQ(w2[12], 1.f);

  struct Case {
    int32_t Strength;
    double U;
  } thresholds[] = {{0, 40}, {100, 80}, {50, 40 * std::sqrt(2.0)}, {40, 40 * std::pow(2.0, 0.4)}};
  for (const Case &c : thresholds) EXPECT_NEAR(DenoiseThreshold(c.Strength), c.U, 1e-9) << c.Strength;
  EXPECT_DOUBLE_EQ(DenoiseCoefficient(40, 0), -1.0 / (1600.0 * 5 * 4096));
  EXPECT_DOUBLE_EQ(DenoiseCoefficient(40, 3), -1.0 / (1600.0 * 5 * 4096 * 8));
}

TEST(DenoiseEffect, PresetSevenAndTheAdvancedFields) {
  TDenoiseEffect e;
  e.FAdvancedSetting = LongFalse;
  e.FStr = 7;
  TDenoiseValues v = e.Values();
  EXPECT_EQ(v.Level, (std::array<int32_t, 5>{40, 12, 6, 6, 6}));
  EXPECT_EQ(v.LumaSigma2, 50);
  EXPECT_EQ(v.LumaRadius, 2);
  EXPECT_EQ(v.ChromaStrength, 50);
  EXPECT_EQ(v.ChromaSigma2, 50);
  EXPECT_EQ(v.ChromaRadius, 2);
  // The advanced setting (the default) takes the fields.
  TDenoiseEffect d;
  v = d.Values();
  EXPECT_EQ(v.Level, (std::array<int32_t, 5>{35, 25, 15, 15, 15}));
  EXPECT_EQ(v.ChromaStrength, 40);
  EXPECT_EQ(v.LumaRadius, 3);
  EXPECT_EQ(v.ChromaRadius, 3);
}

TEST(DenoiseEffect, SettingsKeysRoundTripAndOutOfRangeValuesAreBroughtIn) {
  TMemIniFile ini;
  ini.WriteInteger("Denoise", "Lv2Sigma", 77);
  ini.WriteInteger("Denoise", "LumaRadius", 9);
  ini.WriteInteger("Denoise", "ChromaSigma", 0);
  ini.WriteInteger("Denoise", "Str", 30);
  ini.WriteBool("Denoise", "AdvancedSetting", false);
  TDenoiseEffect e;
  e.ReadIniFile(ini);
  EXPECT_EQ(e.FSigma[2], 77);
  EXPECT_EQ(e.FRadius[0], 4);
  EXPECT_EQ(e.FSigma[5], 1);
  EXPECT_EQ(e.FStr, 16);
  EXPECT_EQ(e.FAdvancedSetting, LongFalse);
  TMemIniFile out;
  e.WriteIniFile(out);
  TDenoiseEffect back;
  back.ReadIniFile(out);
  EXPECT_EQ(back.FSigma, e.FSigma);
  EXPECT_EQ(back.FRadius, e.FRadius);
  EXPECT_EQ(back.FSigma2, e.FSigma2);
  EXPECT_EQ(back.FStr, 16);
  EXPECT_EQ(back.FAdvancedSetting, LongFalse);
}

// The filter's job: noise goes, a clean picture stays.
TEST(DenoiseEffect, RemovesNoiseAndLeavesACleanPictureAlmostAsItWas) {
  TESSIVO_REQUIRE(BindLibrary()) << "no usable bin/libdenoise.so";
  struct Case {
    const char *Name;
    uint32_t C, BPP;
    double Sigma;
    double MinGainDb;  // noisy -> denoised, against the clean picture
  } cases[] = {
      {"gray 8-bit sigma 10", 1, BPP_8, 10, 4.5},
      {"gray 16-bit sigma 20", 1, BPP_16, 20, 5.5},
      {"colour 8-bit sigma 10", 3, BPP_8, 10, 5.5},
      {"colour 16-bit sigma 5", 3, BPP_16, 5, 4},
  };
  TMultiThread pool(2);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    TDenoiseEffect e;
    e.FAdvancedSetting = LongFalse;
    e.FStr = 9;
    TEffectParams p;
    p.MT = &pool;
    TTestImage clean(300, 200, c.C, c.BPP), noisy(300, 200, c.C, c.BPP), cleanIn(300, 200, c.C, c.BPP);
    FillScene(clean, 0, 0);
    FillScene(noisy, c.Sigma, 3);
    FillScene(cleanIn, 0, 0);
    const double before = Mse(clean, noisy);
    e.DoEffect(noisy.I, p);
    // Gray 8-bit stays 8-bit; colour and 16-bit come out at the working depth.
    EXPECT_EQ(noisy.I.BPP, c.C == 1 && c.BPP == BPP_8 ? uint32_t(BPP_8) : uint32_t(BPP_14));
    const double after = Mse(clean, noisy);
    EXPECT_GT(10 * std::log10(before / after), c.MinGainDb) << "MSE " << before << " -> " << after;
    e.DoEffect(cleanIn.I, p);
    EXPECT_LT(Mse(clean, cleanIn), 0.1) << "a clean picture lost detail";
  }
}

TEST(DenoiseEffect, FourChannelImagesPassUnchanged) {
  TESSIVO_REQUIRE(BindLibrary()) << "no usable bin/libdenoise.so";
  for (const uint32_t bpp : {uint32_t(BPP_8), uint32_t(BPP_16)}) {
    TTestImage img(90, 40, 4, bpp), before(90, 40, 4, bpp);
    FillScene(img, 10, 2);
    CopyPixels(img, before);
    TEffectParams p;
    TDenoiseEffect().DoEffect(img.I, p);
    EXPECT_EQ(img.I.BPP, bpp);
    EXPECT_TRUE(SamePixels(img, before)) << bpp;
  }
}

TEST(DenoiseEffect, OnePixelAndOneLineImagesGoThrough) {
  TESSIVO_REQUIRE(BindLibrary()) << "no usable bin/libdenoise.so";
  TMultiThread pool(2);
  for (const auto &[w, h] : {std::pair{1u, 1u}, std::pair{1u, 5000u}, std::pair{5000u, 1u}})
    for (const uint32_t c : {1u, 3u})
      for (const uint32_t bpp : {uint32_t(BPP_8), uint32_t(BPP_16)}) {
        SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h) + ", " + std::to_string(c) + " channels, " +
                     std::to_string(bpp) + "-bit");
        TTestImage img(w, h, c, bpp);
        FillScene(img, 8, 5);
        TEffectParams p;
        p.MT = &pool;
        TDenoiseEffect e;
        e.FRadius = {4, 4};
        EXPECT_NO_THROW(e.DoEffect(img.I, p));
        EXPECT_EQ(img.I.Width, w);
        EXPECT_EQ(img.I.Height, h);
      }
}

TEST(DenoiseBinding, AMissingLibraryIsALoadLibraryErrorWithTheSystemsMessage) {
  const TDenoiseLibrary *before = DenoiseLibrary();
  try {
    LoadDenoiseLibrary("/nonexistent-folder");
    FAIL() << "a missing library was bound";
  } catch (const ETessivoError &E) {
    const std::string what = E.what();
    EXPECT_EQ(what.rfind("LoadLibrary Error: ", 0), 0u) << what;
    EXPECT_NE(what.find("No such file or directory"), std::string::npos) << what;
  }
  EXPECT_EQ(DenoiseLibrary(), before);
}

TEST(DenoiseBinding, ALibraryWithoutTheEntryLeavesNoiseRemovalOff) {
  const std::string other = testenv::BinFile("libresize.so");
  TESSIVO_REQUIRE(!other.empty() && BindLibrary()) << "no bin/libresize.so or bin/libdenoise.so";
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("denoise-binding-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::filesystem::copy_file(other, dir / "libdenoise.so", std::filesystem::copy_options::overwrite_existing);
  LoadDenoiseLibrary(dir.string());
  EXPECT_FALSE(DenoiseAvailable());
  EXPECT_FALSE(DenoiseLibrary()->HasSse2());
  TTestImage img(20, 20, 3, BPP_8);
  FillScene(img, 5, 1);
  TEffectParams p;
  EXPECT_THROW(TDenoiseEffect().DoEffect(img.I, p), ETessivoError);  // not a silent success
  EXPECT_TRUE(BindLibrary());
  std::filesystem::remove_all(dir);
}

TEST(DenoiseBinding, TheStepIsOfferedOnlyWhereTheLibraryIs) {
  TESSIVO_REQUIRE(!testenv::BinFile("libdenoise.so").empty()) << "no bin/libdenoise.so";
  TEffectList with, without;
  CreateDefaultEffects(with, TESSIVO_BIN_DIR);
  CreateDefaultEffects(without, "/nonexistent");
  EXPECT_NE(with.FindByID(EFFECT_DENOISE), nullptr);
  EXPECT_EQ(without.FindByID(EFFECT_DENOISE), nullptr);
}

}  // namespace

// The per-level removed noise of the dialog's views. The pyramid is linear,
// so the five level pictures must add up to what the pass itself takes away
// from the luma; the store's rounding to whole 14-bit steps is the only
// slack (a clamped sample is left out).
TEST(DenoiseLevelNoise, TheLevelsAddUpToTheLumaThePassTakesAway) {
  TESSIVO_REQUIRE(BindLibrary()) << "no usable bin/libdenoise.so";
  struct Case {
    const char *Name;
    uint32_t W, H, C;
    double Sigma;
    int32_t Str;
    bool Pool;
    TDenoiseIsa Isa;
  } cases[] = {
      {"gray 100x100 sigma 8 preset 9", 100, 100, 1, 8, 9, false, TDenoiseIsa::Sse2},
      {"gray 150x90 sigma 15 preset 16 on a pool", 150, 90, 1, 15, 16, true, TDenoiseIsa::Sse2},
      {"colour 130x70 sigma 10 preset 7 (Y)", 130, 70, 3, 10, 7, true, TDenoiseIsa::Sse2},
      {"gray 97x61 sigma 6 preset 12 plain procedures", 97, 61, 1, 6, 12, false, TDenoiseIsa::Plain},
  };
  TMultiThread pool(3);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    TTestImage img(c.W, c.H, c.C, BPP_14), out(c.W, c.H, c.C, BPP_14);
    FillScene(img, c.Sigma, 11);
    if (c.C == 3) ConvertToYCC14(img.I);
    const TDenoiseValues v = DenoisePreset(c.Str);
    TMultiThread *mt = c.Pool ? &pool : nullptr;
    const TDenoiseLevelNoise noise = DenoiseLevelNoise(img.I, v, mt, c.Isa);
    ASSERT_EQ(noise.Width, c.W);
    ASSERT_EQ(noise.Height, c.H);
    CopyPixels(img, out);
    DenoisePass(out.I, v, mt, c.Isa);
    double worst = 0, removed = 0;
    size_t counted = 0;
    for (uint32_t y = 0; y < c.H; ++y)
      for (uint32_t x = 0; x < c.W; ++x) {
        const int32_t after = out.Get(x, y, 0);
        if (after <= 0 || after >= 16320) continue;
        double sum = 0;
        for (const std::vector<float> &level : noise.Level) sum += level[size_t(y) * c.W + x];
        const double taken = img.Get(x, y, 0) - after;
        worst = std::max(worst, std::abs(sum - taken));
        removed += std::abs(taken);
        ++counted;
      }
    ASSERT_GT(counted, size_t(c.W) * c.H * 9 / 10);
    EXPECT_LE(worst, 0.52) << "the levels do not add up to the removed luma";
    // The pass did remove something, so the sum is no coincidence of zeros.
    EXPECT_GT(removed / double(counted), 64.0 * c.Sigma / 4);
  }
}

TEST(DenoiseLevelNoise, AFlatPictureHasNoNoiseAtAnyLevel) {
  TESSIVO_REQUIRE(BindLibrary()) << "no usable bin/libdenoise.so";
  TTestImage img(120, 90, 1, BPP_14);
  img.Fill([](uint32_t, uint32_t, uint32_t) { return 9000; });
  const TDenoiseLevelNoise noise = DenoiseLevelNoise(img.I, DenoisePreset(16), nullptr, TDenoiseIsa::Sse2);
  for (size_t i = 0; i < noise.Level.size(); ++i) {
    ASSERT_EQ(noise.Level[i].size(), size_t(120) * 90);
    EXPECT_EQ(*std::max_element(noise.Level[i].begin(), noise.Level[i].end()), 0.f) << "level " << i;
    EXPECT_EQ(*std::min_element(noise.Level[i].begin(), noise.Level[i].end()), 0.f) << "level " << i;
  }
}

// Each level is filtered from the unfiltered picture's own pyramid with its
// own strength, so a stronger level k takes more away at level k and leaves
// every other level's picture exactly as it was.
TEST(DenoiseLevelNoise, OneLevelsStrengthChangesOnlyThatLevelsPicture) {
  TESSIVO_REQUIRE(BindLibrary()) << "no usable bin/libdenoise.so";
  TTestImage img(160, 128, 1, BPP_14);
  FillScene(img, 12, 5);
  TDenoiseValues weak = DenoisePreset(5);
  const TDenoiseLevelNoise base = DenoiseLevelNoise(img.I, weak, nullptr, TDenoiseIsa::Sse2);
  auto energy = [](const std::vector<float> &L) {
    double s = 0;
    for (float v : L) s += double(v) * v;
    return s;
  };
  for (int32_t k = 0; k < DenoiseLevels; ++k) {
    SCOPED_TRACE("level " + std::to_string(k));
    TDenoiseValues strong = weak;
    strong.Level[size_t(k)] = 100;
    const TDenoiseLevelNoise changed = DenoiseLevelNoise(img.I, strong, nullptr, TDenoiseIsa::Sse2);
    for (int32_t j = 0; j < DenoiseLevels; ++j) {
      if (j != k) EXPECT_EQ(changed.Level[size_t(j)], base.Level[size_t(j)]) << "level " << j << " moved";
    }
    EXPECT_GT(energy(changed.Level[size_t(k)]), energy(base.Level[size_t(k)]) * 1.05);
  }
}
