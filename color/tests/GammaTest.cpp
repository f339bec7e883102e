// Tone curves, the linear-light tables and the profile made from Exif data.
#include "color/tests/ColorTestUtil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <unistd.h>
#include <cstring>

namespace {

double SRGBToLinear(double V) { return V <= 0.04045 ? V / 12.92 : std::pow((V + 0.055) / 1.055, 2.4); }

double Description(const TICCInfo &Info, std::string &Text) {
  cmsHPROFILE P = cmsOpenProfileFromMem(Info.Profile, Info.Len);
  char Buf[256] = {};
  cmsGetProfileInfoASCII(P, cmsInfoDescription, "en", "US", Buf, sizeof Buf);
  Text = Buf;
  const double V = cmsGetProfileVersion(P);
  cmsCloseProfile(P);
  return V;
}

}  // namespace

TEST(GammaInfo, CurvesOfParametricAndTabulatedProfiles) {
  InitCMS(true);
  TExifColorInfo Exif;
  Exif.ColorSpace = 0xFFFF;
  Exif.Gamma = 1.8;
  struct Case {
    const char *Name;
    bool FromExif;
    double (*Curve)(double);
    double Tol;
  } const Cases[] = {
      {"built-in sRGB", false, SRGBToLinear, 1e-6},
      {"Exif gamma 1.8 (4096-entry table)", true, [](double V) { return std::pow(V, 1.8); }, 2e-4},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Name);
    TTestImage Img(1, 1, 3);
    Img.Img.ProfileType = PROFILE_BUILTIN_SRGB;
    if (C.FromExif) {
      ASSERT_TRUE(AttachProfileFromExif(Img.Img, Exif));
    }
    TGammaInfo G(Img.Img);
    for (int32_t Channel : {0, 1, 2, 3}) {
      G.SetChannel(Channel);
      for (int V = 0; V <= 255; V += 5) {
        const double X = V / 255.0;
        ASSERT_NEAR(G.GetDegammaValue(X), C.Curve(X), C.Tol) << V;
        // Regamma undoes degamma on the 8-bit scale.
        ASSERT_EQ(G.GetRegammaValue(255, G.GetDegammaValue(X)), V);
      }
    }
    EXPECT_EQ(G.NeedFree, C.FromExif);
  }
}

TEST(GammaInfo, GrayProfileCurvesAndTheirFallbacks) {
  // A default gray profile of gamma 1.8 (parametric), written to a file.
  const std::string Path = "/tmp/gray18_" + std::to_string(getpid()) + ".icc";
  {
    cmsToneCurve *C = cmsBuildGamma(nullptr, 1.8);
    cmsHPROFILE P = cmsCreateGrayProfile(cmsD50_xyY(), C);
    cmsSaveProfileToFile(P, Path.c_str());
    cmsCloseProfile(P);
    cmsFreeToneCurve(C);
  }
  InitCMS(true, {}, {}, Path);
  TTestImage Img(1, 1, 1);
  Img.Img.ProfileType = PROFILE_DEFAULT_GRAY;
  TGammaInfo G(Img.Img);
  auto Gamma18 = [](double X) { return std::pow(X, 1.8); };
  struct {
    int32_t Channel;
    double (*Curve)(double);
  } const Cases[] = {{3, Gamma18}, {0, SRGBToLinear}, {2, SRGBToLinear}};
  for (const auto &C : Cases) {
    G.SetChannel(C.Channel);
    for (double X : {0.1, 0.5, 0.9}) EXPECT_NEAR(G.GetDegammaValue(X), C.Curve(X), 1e-6) << C.Channel;
  }
  // The tables take the gray curve for all three channels, and the gray
  // regamma table the default gray profile's inverse.
  std::vector<float> D(3 * 256);
  MakeDegammaTable(Img.Img, D, 1.0f);
  for (uint32_t K = 0; K < 3; ++K) EXPECT_NEAR(D[K * 256 + 128], Gamma18(128 / 255.0), 1e-6);
  std::vector<int16_t> R(REGAMMA_TABLE_LEN);
  MakeGrayRegammaTable(BPP_8, R);
  EXPECT_NEAR(R[RegammaIndex8(0.25f)], std::pow(0.25, 1 / 1.8) * 255, 0.5);
  std::remove(Path.c_str());
}

TEST(GammaTables, DegammaLayoutPerDepth) {
  InitCMS(true);
  for (uint32_t BPP : {BPP_8, BPP_14}) {
    TTestImage Img(1, 1, 3);
    Img.Img.BPP = BPP;
    Img.Img.ProfileType = PROFILE_DEFAULT_RGB;
    const uint32_t Len = DegammaTableLength(BPP);
    std::vector<float> T(3 * DEGAMMA_TABLE_LEN_14, -1.0f);
    MakeDegammaTable(Img.Img, T, float(FULL_SCALE_14));
    const double N = Len - 1;
    for (uint32_t K = 0; K < 3; ++K)
      for (uint32_t V = 0; V < Len; V += 17) {
        ASSERT_NEAR(T[K * Len + V], SRGBToLinear(V / N) * FULL_SCALE_14, 0.01) << K << " " << V;
      }
    EXPECT_FLOAT_EQ(T[Len - 1], float(FULL_SCALE_14));
    if (BPP == BPP_8) {
      EXPECT_EQ(T[3 * Len], -1.0f);  // nothing written past the three tables
    }
  }
}

TEST(GammaTables, ResizeTablesFollowTheImageProfile) {
  InitCMS(true);
  // A gamma-1.8 Exif profile on a 14-bit image: the resize filters' layout.
  TExifColorInfo Exif;
  Exif.ColorSpace = 2;
  Exif.Gamma = 1.8;
  TTestImage Img(1, 1, 3, BPP_14);
  ASSERT_TRUE(AttachProfileFromExif(Img.Img, Exif));
  std::vector<float> D(3 * DEGAMMA_TABLE_LEN_14);
  std::vector<int16_t> R(3 * REGAMMA_TABLE_LEN);
  MakeResizeGammaTables(Img.Img, D.data(), R.data());
  for (uint32_t K = 0; K < 3; ++K) {
    for (uint32_t V = 0; V <= 16320; V += 255)
      ASSERT_NEAR(D[K * 16321 + V], std::pow(V / 16320.0, 1.8) * 16320, 2.0) << V;
    // Fine segment below linear 128, coarse above.
    for (uint32_t I = 0; I <= 8192; I += 512)
      ASSERT_NEAR(R[K * REGAMMA_TABLE_LEN + I], std::pow(I / 1044480.0, 1 / 1.8) * 16320, 3.0) << I;
    for (uint32_t V = 128; V <= 16320; V += 255)
      ASSERT_NEAR(R[K * REGAMMA_TABLE_LEN + 8192 + V], std::pow(V / 16320.0, 1 / 1.8) * 16320, 2.0) << V;
  }
}

TEST(GammaTables, RegammaSegments) {
  InitCMS(true);
  TTestImage Img(1, 1, 3);
  Img.Img.ProfileType = PROFILE_DEFAULT_RGB;
  std::vector<int16_t> T(3 * REGAMMA_TABLE_LEN);
  MakeRegammaTable(Img.Img, T);
  std::vector<int16_t> G8(REGAMMA_TABLE_LEN), G14(REGAMMA_TABLE_LEN);
  MakeGrayRegammaTable(BPP_8, G8);
  MakeGrayRegammaTable(BPP_14, G14);
  auto Encode = [](double L) {
    return L <= 0.0031308 ? L * 12.92 : 1.055 * std::pow(L, 1 / 2.4) - 0.055;
  };
  struct Case {
    const int16_t *Table;
    double Fine, Coarse, Max;
  } const Cases[] = {
      {T.data(), 1044480, 16320, 16320},
      {T.data() + REGAMMA_TABLE_LEN, 1044480, 16320, 16320},
      {T.data() + 2 * REGAMMA_TABLE_LEN, 1044480, 16320, 16320},
      {G8.data(), 1048512, 16383, 255},
      {G14.data(), 1044480, 16320, 16320},
  };
  for (const Case &C : Cases) {
    for (uint32_t I = 0; I <= REGAMMA_FINE_LAST; I += 7)
      ASSERT_NEAR(C.Table[I], Encode(I / C.Fine) * C.Max, 1.0) << "fine " << I;
    for (uint32_t V = 128; V <= C.Coarse; V += 13)
      ASSERT_NEAR(C.Table[REGAMMA_FINE_LAST + V], Encode(V / C.Coarse) * C.Max, 1.0) << "coarse " << V;
    // Both segments rise; the unused gap 8193..8319 holds the coarse values of 1..127.
    for (uint32_t I = 1; I < REGAMMA_TABLE_LEN; ++I)
      if (I <= REGAMMA_FINE_LAST || I > REGAMMA_FINE_LAST + 128) {
        ASSERT_GE(C.Table[I], C.Table[I - 1]) << I;
      }
    for (uint32_t V = 1; V < 128; ++V)
      ASSERT_NEAR(C.Table[REGAMMA_FINE_LAST + V], Encode(V / C.Coarse) * C.Max, 1.0) << "gap " << V;
    EXPECT_EQ(C.Table[REGAMMA_TABLE_LEN - 1], C.Max);
  }
  // The lookups land on the right entry on both sides of the segment border.
  for (float Y : {0.0f, 1e-5f, 0.0078f, 0.0079f, 0.2f, 0.99999f, 1.0f, 2.0f, -1.0f}) {
    const double Want = Encode(std::clamp(double(Y), 0.0, 1.0));
    EXPECT_NEAR(G8[RegammaIndex8(Y)], Want * 255, 1.0) << Y;
    EXPECT_NEAR(G14[RegammaIndex14(Y)], Want * 16320, 1.5) << Y;
    EXPECT_NEAR(T[RegammaIndex14(Y)], Want * 16320, 1.5) << Y;
  }
}

TEST(ExifProfile, ColourSpaceOneOrBadValuesGiveNoProfile) {
  InitCMS(true);
  struct Case {
    const char *Name;
    TExifColorInfo Exif;
    bool Made;
  };
  TExifColorInfo Base;
  Base.ColorSpace = 0xFFFF;
  auto With = [&](auto Change) {
    TExifColorInfo E = Base;
    Change(E);
    return E;
  };
  const Case Cases[] = {
      {"sRGB colour space", With([](TExifColorInfo &E) { E.ColorSpace = 1; }), false},
      {"uncalibrated", Base, true},
      {"zero gamma", With([](TExifColorInfo &E) { E.Gamma = 0; }), false},
      {"NaN white", With([](TExifColorInfo &E) { E.WhitePoint[1] = NAN; }), false},
      {"y of zero", With([](TExifColorInfo &E) { E.PrimaryChromaticities[1] = 0; }), false},
      {"collinear primaries", With([](TExifColorInfo &E) {
         double P[6] = {0.2, 0.2, 0.3, 0.3, 0.4, 0.4};
         std::copy(P, P + 6, E.PrimaryChromaticities);
       }), false},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Name);
    TTestImage Img(1, 1, 3);
    Img.Img.ProfileType = PROFILE_DEFAULT_RGB;
    EXPECT_EQ(AttachProfileFromExif(Img.Img, C.Exif), C.Made);
    EXPECT_EQ(Img.Img.ProfileType, C.Made ? PROFILE_FROM_EXIF : PROFILE_DEFAULT_RGB);
    if (!C.Made) continue;
    TICCInfo Info{Img.Img.ICCProfile, Img.Img.ProfileLen};
    std::string Text;
    Description(Info, Text);
    EXPECT_EQ(Text, EXIF_PROFILE_DESCRIPTION);
    EXPECT_EQ(ClassifyProfileFile("/nonexistent"), 0);
    // With the default sRGB-like primaries and gamma 2.2 the profile is close
    // to the built-in sRGB: mid gray stays within a few steps.
    TTransForm T;
    ASSERT_TRUE(T.InitTo(Img.Img, TARGET_BUILTIN_SRGB));
    std::memset(Img.Img.Mem, 128, 3);
    T.DoTransform(Img.Img);
    EXPECT_NEAR(Img.Img.Mem[1], 128, 6);
  }
}
