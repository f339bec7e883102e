// Image, CMYK, single-colour and Lab transforms.
#include "color/tests/ColorTestUtil.h"

#include "core/Errors.h"
#include "core/PixelConvert.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

int MaxDiff8(const std::vector<uint8_t> &A, const std::vector<uint8_t> &B) {
  int M = 0;
  for (size_t I = 0; I < A.size() && I < B.size(); ++I) M = std::max(M, std::abs(A[I] - B[I]));
  return M;
}

}  // namespace

TEST(Transform, ColourManagementOffMakesNoTransform) {
  InitCMS(false);
  TTestImage Img(5, 3, 3);
  Img.FillRandom(1);
  Img.Img.ProfileType = PROFILE_DEFAULT_RGB;
  const auto Before = Img.Pixels();
  TTransForm T;
  const std::string Targets[] = {TARGET_MONITOR, TARGET_WORKSPACE, TARGET_BUILTIN_SGRAY, A98File()};
  for (const std::string &Name : Targets) {
    EXPECT_FALSE(T.InitTo(Img.Img, Name)) << Name;
    T.DoTransform(Img.Img);
    EXPECT_EQ(Img.Pixels(), Before);
    EXPECT_EQ(Img.Img.ProfileType, PROFILE_DEFAULT_RGB);
  }
  EXPECT_FALSE(T.InitSrcToDestTransform(Img.Img, Img.Img));
  EXPECT_FALSE(T.InitWork2DestTransform(Img.Img));
  EXPECT_EQ(T.Work2DestColor(0x123456), 0x123456u);
}

TEST(Transform, OutputProfileMustBeRGBOrGray) {
  InitCMS(true);
  TTestImage Src(4, 4, 3), Dest(1, 1, 3);
  Src.FillRandom(2);
  struct {
    std::vector<uint8_t> Bytes;
    bool Made;
  } const Cases[] = {
      {FileBytes(CMYKFile()), false},
      {FileBytes(IccPath("lab.icc")), false},
      {std::vector<uint8_t>(300, 7), false},  // not a profile at all
      {FileBytes(A98File()), true},
      {FileBytes(GrayFile()), true},
  };
  for (const auto &C : Cases) {
    TTestImage D(1, 1, 3);
    D.Embed(C.Bytes);
    TTransForm T;
    EXPECT_EQ(T.InitSrcToDestTransform(Src.Img, D.Img), C.Made);
    EXPECT_EQ(T.InitWork2DestTransform(D.Img), C.Made);
  }
  TTransForm T;
  EXPECT_FALSE(T.InitTo(Src.Img, CMYKFile()));
  EXPECT_FALSE(T.InitTo(Src.Img, "/nonexistent.icc"));
}

// Channel count and pixel format of the result for each source layout and target.
TEST(Transform, LayoutFollowsTheOutputProfile) {
  InitCMS(true);
  struct Case {
    uint32_t Channels, Type;
    std::string Target;
    uint32_t OutChannels, OutFormat;
  } const Cases[] = {
      {1, PROFILE_DEFAULT_GRAY, TARGET_WORKSPACE, 3, PIXFMT_BGR},
      {2, PROFILE_DEFAULT_GRAY, TARGET_BUILTIN_SRGB, 4, PIXFMT_BGRA},
      {3, PROFILE_DEFAULT_RGB, TARGET_BUILTIN_SGRAY, 1, PIXFMT_GRAY},
      {4, PROFILE_DEFAULT_RGB, TARGET_BUILTIN_SGRAY, 2, PIXFMT_GRAYALPHA},
      {3, PROFILE_DEFAULT_RGB, A98File(), 3, PIXFMT_BGR},
      {4, PROFILE_DEFAULT_RGB, A98File(), 4, PIXFMT_BGRA},
      {1, PROFILE_DEFAULT_GRAY, TARGET_BUILTIN_SGRAY, 1, PIXFMT_GRAY},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(std::to_string(C.Channels) + " -> " + C.Target);
    TTestImage Img(9, 5, C.Channels);
    Img.FillRandom(C.Channels);
    Img.Img.ProfileType = C.Type;
    // Every pixel's alpha is its x coordinate, so carried alpha is recognisable.
    const bool Alpha = C.Channels == 2 || C.Channels == 4;
    for (uint32_t Y = 0; Y < 5; ++Y)
      for (uint32_t X = 0; X < 9 && Alpha; ++X) Img.Px8(X, Y)[C.Channels - 1] = uint8_t(X * 20);
    TTransForm T;
    ASSERT_TRUE(T.InitTo(Img.Img, C.Target));
    T.DoTransform(Img.Img);
    EXPECT_EQ(Img.Img.Channels, C.OutChannels);
    EXPECT_EQ(Img.Img.PixelFormat, C.OutFormat);
    EXPECT_EQ(Img.Img.Bpl, GetAlignedBpl(9, C.OutChannels));
    for (uint32_t Y = 0; Y < 5; ++Y)
      for (uint32_t X = 0; X < 9 && Alpha; ++X)
        ASSERT_EQ(Img.Px8(X, Y)[C.OutChannels - 1], X * 20);
  }
}

TEST(Transform, GrayImageToRGBTargetRepeatsTheLevel) {
  InitCMS(true);
  // Built-in gray and built-in sRGB share the tone curve and the white, so
  // a gray level comes out as the same value in B, G and R.
  TTestImage Img(16, 16, 1);
  for (uint32_t Y = 0; Y < 16; ++Y)
    for (uint32_t X = 0; X < 16; ++X) *Img.Px8(X, Y) = uint8_t(Y * 16 + X);
  Img.Img.ProfileType = PROFILE_BUILTIN_SGRAY;
  TTransForm T;
  ASSERT_TRUE(T.InitTo(Img.Img, TARGET_BUILTIN_SRGB));
  T.DoTransform(Img.Img);
  ASSERT_EQ(Img.Img.Channels, 3u);
  EXPECT_EQ(Img.Img.ProfileType, PROFILE_BUILTIN_SRGB);
  for (uint32_t Y = 0; Y < 16; ++Y)
    for (uint32_t X = 0; X < 16; ++X) {
      const uint8_t *P = Img.Px8(X, Y);
      const int V = int(Y * 16 + X);
      ASSERT_NEAR(P[0], V, 1);
      ASSERT_NEAR(P[1], V, 1);
      ASSERT_NEAR(P[2], V, 1);
    }
}

TEST(Transform, FileTargetAttachesTheProfileBytes) {
  InitCMS(true);
  TTestImage Img(3, 3, 3);
  Img.FillRandom(3);
  Img.Embed(FileBytes(SRGBFile()));
  TTransForm T;
  ASSERT_TRUE(T.InitTo(Img.Img, A98File()));
  T.DoTransform(Img.Img);
  const auto Want = FileBytes(A98File());
  ASSERT_EQ(Img.Img.ProfileType, PROFILE_EMBEDDED);
  ASSERT_EQ(Img.Img.ProfileLen, Want.size());
  EXPECT_EQ(std::memcmp(Img.Img.ICCProfile, Want.data(), Want.size()), 0);
}

TEST(Transform, LayoutMismatchIsAnError) {
  InitCMS(true);
  TTestImage Img(3, 3, 3), Other(3, 3, 4), Deep(3, 3, 3, BPP_16);
  TTransForm T;
  ASSERT_TRUE(T.InitTo(Img.Img, A98File()));
  EXPECT_THROW(T.DoTransform(Other.Img), ETessivoError);
  EXPECT_THROW(T.DoTransform(Deep.Img), ETessivoError);
  EXPECT_FALSE(T.InitTo(Deep.Img, A98File(), -1, true));  // 8-bit only
  TTestImage Cmyk(3, 3, 4, BPP_8, PIXFMT_CMYK);
  EXPECT_FALSE(T.InitTo(Cmyk.Img, A98File()));
}

TEST(Transform, SplitOverThreadsGivesIdenticalImages) {
  InitCMS(true);
  struct Case {
    uint32_t Channels, BPP;
    std::string Target;
  } const Cases[] = {
      {3, BPP_8, A98File()}, {4, BPP_8, TARGET_BUILTIN_SGRAY}, {1, BPP_8, TARGET_WORKSPACE},
      {3, BPP_14, A98File()}, {4, BPP_16, A98File()}, {4, BPP_8, "CMYK"},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(std::to_string(C.Channels) + "/" + std::to_string(C.BPP));
    std::vector<uint8_t> Ref;
    for (int32_t Threads : {1, 2, 7}) {
      const bool Cmyk = C.Target == "CMYK";
      TTestImage Img(37, 23, C.Channels, C.BPP, Cmyk ? uint32_t(PIXFMT_CMYK) : 0u);
      Img.FillRandom(11);
      Img.Img.ProfileType = C.Channels == 1 ? PROFILE_DEFAULT_GRAY : PROFILE_DEFAULT_RGB;
      TMultiThread MT(Threads);
      TTransForm T;
      T.SetMultiThread(&MT);
      ASSERT_TRUE(Cmyk ? T.InitCMYKTransform(Img.Img, true) : T.InitTo(Img.Img, C.Target));
      T.DoTransform(Img.Img);
      EXPECT_EQ(Img.Img.BPP, C.BPP);
      if (Threads == 1)
        Ref = Img.Pixels();
      else
        EXPECT_EQ(Img.Pixels(), Ref) << Threads << " threads";
    }
  }
  // The Lab conversion too.
  std::vector<uint8_t> Ref;
  for (int32_t Threads : {1, 2, 7}) {
    TTestImage Img(37, 23, 4);
    Img.FillRandom(12);
    TMultiThread MT(Threads);
    TTransForm T;
    ASSERT_TRUE(T.InitToLab16(Img.Img));
    T.TransformToLab16(Img.Img, &MT);
    if (Threads == 1)
      Ref = Img.Pixels();
    else
      EXPECT_EQ(Img.Pixels(), Ref) << Threads << " threads";
  }
}

TEST(Transform, FourteenBitMatchesEightBitAndKeepsItsDepth) {
  InitCMS(true);
  TTestImage A(20, 7, 3), B(20, 7, 3, BPP_14);
  A.FillRandom(5);
  for (uint32_t Y = 0; Y < 7; ++Y)
    for (uint32_t X = 0; X < 20 * 3; ++X) B.Px16(0, Y)[X] = uint16_t(A.Px8(0, Y)[X] * 64);
  for (TTestImage *I : {&A, &B}) {
    I->Img.ProfileType = PROFILE_DEFAULT_RGB;
    TTransForm T;
    ASSERT_TRUE(T.InitTo(I->Img, A98File()));
    T.DoTransform(I->Img);
  }
  ASSERT_EQ(B.Img.BPP, BPP_14);
  int M = 0;
  for (uint32_t Y = 0; Y < 7; ++Y)
    for (uint32_t X = 0; X < 20 * 3; ++X) {
      const int16_t V = int16_t(B.Px16(0, Y)[X]);
      ASSERT_GE(V, 0);
      ASSERT_LE(V, FULL_SCALE_14);
      M = std::max(M, std::abs(V - A.Px8(0, Y)[X] * 64));
    }
  EXPECT_LE(M, 64);  // within one 8-bit step
}

TEST(Transform, CloneLeavesTheSourceAlone) {
  InitCMS(true);
  TTestImage Img(6, 6, 3);
  Img.FillRandom(6);
  Img.Img.ProfileType = PROFILE_DEFAULT_RGB;
  const auto Before = Img.Pixels();
  TTransForm T;
  ASSERT_TRUE(T.InitTo(Img.Img, TARGET_BUILTIN_SGRAY));
  TICCImgInfo Clone{};
  T.DoTransform(Img.Img, &Clone);
  EXPECT_EQ(Img.Pixels(), Before);
  EXPECT_EQ(Img.Img.Channels, 3u);
  EXPECT_EQ(Clone.Channels, 1u);
  EXPECT_EQ(Clone.ProfileType, PROFILE_BUILTIN_SGRAY);
  FreeICCImgInfo(Clone, true);
}

TEST(CMYKTransform, InvertedJPEGDataGivesTheSameColours) {
  InitCMS(true);
  TTestImage Plain(11, 4, 4, BPP_8, PIXFMT_CMYK), Inverted(11, 4, 4, BPP_8, PIXFMT_CMYK);
  Plain.FillRandom(7);
  for (uint32_t Y = 0; Y < 4; ++Y)
    for (uint32_t X = 0; X < 44; ++X) Inverted.Px8(0, Y)[X] = uint8_t(255 - Plain.Px8(0, Y)[X]);
  for (auto [I, Jpeg] : {std::pair{&Plain, false}, std::pair{&Inverted, true}}) {
    TTransForm T;
    ASSERT_TRUE(T.InitCMYKTransform(I->Img, Jpeg));
    T.DoTransform(I->Img);
    EXPECT_EQ(I->Img.Channels, 3u);
    EXPECT_EQ(I->Img.PixelFormat, PIXFMT_BGR);
    EXPECT_EQ(I->Img.ProfileType, PROFILE_WORKSPACE);
  }
  EXPECT_EQ(Plain.Pixels(), Inverted.Pixels());
  // Paper white comes out (near) white, full ink dark.
  TTestImage Ends(2, 1, 4, BPP_8, PIXFMT_CMYK);
  std::memset(Ends.Px8(0, 0), 0, 4);
  std::memset(Ends.Px8(1, 0), 255, 4);
  TTransForm T;
  ASSERT_TRUE(T.InitCMYKTransform(Ends.Img, false));
  T.DoTransform(Ends.Img);
  EXPECT_GE(Ends.Px8(0, 0)[1], 240);
  EXPECT_LE(Ends.Px8(1, 0)[1], 40);
  // Not CMYK: nothing to do.
  TTestImage Rgb(2, 2, 4);
  EXPECT_FALSE(T.InitCMYKTransform(Rgb.Img, false));
}

TEST(Work2DestColor, WorkingSpaceColourInTheImageProfile) {
  InitCMS(true);
  struct Case {
    uint32_t Channels, Type;
    uint32_t Color;
    bool Same;  // comes back unchanged
  } const Cases[] = {
      {3, PROFILE_WORKSPACE, 0xFF336699, true},
      {3, PROFILE_BUILTIN_SRGB, 0x00FFFFFF, true},
      {1, PROFILE_BUILTIN_SGRAY, 0x00FFFFFF, false},
      {4, PROFILE_BUILTIN_SGRAY, 0x00000000, false},
  };
  for (const Case &C : Cases) {
    TTestImage Img(1, 1, C.Channels);
    Img.Img.ProfileType = C.Type;
    TTransForm T;
    ASSERT_TRUE(T.InitWork2DestTransform(Img.Img));
    const uint32_t R = T.Work2DestColor(C.Color);
    if (C.Same) {
      for (int S : {0, 8, 16}) EXPECT_NEAR(int(R >> S & 0xFF), int(C.Color >> S & 0xFF), 1);
      EXPECT_EQ(R >> 24, C.Color >> 24);
    } else if (C.Channels == 1) {
      EXPECT_EQ(R >> 8, 0u);  // the level alone
      EXPECT_NEAR(int(R), int(C.Color & 0xFF), 1);
    } else {
      EXPECT_EQ(R, (R & 0xFF) * 0x010101u);  // repeated into all three bytes
    }
  }
  TTestImage Img(1, 1, 4);
  Img.Img.ProfileType = PROFILE_BUILTIN_SGRAY;
  EXPECT_EQ(BackgroundColorForImage(Img.Img, 0x00FF0000, nullptr), 0x00FF0000u);
  TTransForm T;
  const uint32_t Blue = BackgroundColorForImage(Img.Img, 0x00FF0000, &T);
  EXPECT_EQ(Blue, (Blue & 0xFF) * 0x010101u);
  EXPECT_LT(Blue & 0xFF, 0x80u);  // pure blue is a dark gray
}

TEST(Lab, RoundTripOfEightBitColoursWithinOneStep) {
  InitCMS(true);
  // Every colour of a 32-step grid plus the ends, in the built-in sRGB.
  std::vector<uint8_t> Levels;
  for (int V = 0; V < 256; V += 8) Levels.push_back(uint8_t(V));
  Levels.push_back(255);
  const uint32_t N = uint32_t(Levels.size());
  TTestImage Img(N * N, N, 3);
  for (uint32_t B = 0; B < N; ++B)
    for (uint32_t G = 0; G < N; ++G)
      for (uint32_t R = 0; R < N; ++R) {
        uint8_t *P = Img.Px8(B * N + G, R);
        P[0] = Levels[B], P[1] = Levels[G], P[2] = Levels[R];
      }
  Img.Img.ProfileType = PROFILE_BUILTIN_SRGB;
  const auto Before = Img.Pixels();
  TTransForm To, From;
  ASSERT_TRUE(To.InitToLab16(Img.Img));
  ASSERT_TRUE(From.InitFromLab16(Img.Img));
  To.TransformToLab16(Img.Img, nullptr);
  ASSERT_EQ(Img.Img.BPP, BPP_16);
  // Neutral white is L 65280, a = b = 32768 (16-bit v2 encoding).
  const uint16_t *W = Img.Px16(N * N - 1, N - 1);
  EXPECT_NEAR(W[0], 65280, 2);
  EXPECT_NEAR(W[1], 32768, 2);
  EXPECT_NEAR(W[2], 32768, 2);
  From.TransformFromLab16(Img.Img, nullptr);
  ASSERT_EQ(Img.Img.BPP, BPP_16);
  std::vector<uint8_t> After;
  for (uint32_t Y = 0; Y < Img.Img.Height; ++Y)
    for (uint32_t X = 0; X < Img.Img.Width * 3; ++X)
      After.push_back(uint8_t((Img.Px16(0, Y)[X] + 128) / 257));
  const int Max = MaxDiff8(After, Before);
  std::printf("[ lab ] 8-bit sRGB -> Lab16 -> sRGB: max difference %d step(s) over %u colours\n", Max,
              N * N * N);
  EXPECT_LE(Max, 1);
}

TEST(Lab, GrayTablesAndAlpha) {
  InitCMS(true);
  struct Case {
    uint32_t Channels, BPP;
  } const Cases[] = {{1, BPP_8}, {2, BPP_8}, {1, BPP_14}, {1, BPP_16}, {4, BPP_8}};
  for (const Case &C : Cases) {
    SCOPED_TRACE(std::to_string(C.Channels) + "/" + std::to_string(C.BPP));
    TTestImage Img(64, 3, C.Channels, C.BPP);
    Img.FillRandom(9);
    Img.Img.ProfileType = C.Channels <= 2 ? PROFILE_DEFAULT_GRAY : PROFILE_DEFAULT_RGB;
    const auto Before = Img.Pixels();
    TTransForm To, From;
    ASSERT_TRUE(To.InitToLab16(Img.Img));
    ASSERT_TRUE(From.InitFromLab16(Img.Img));
    if (C.Channels <= 2) {
      const size_t Want = C.BPP == BPP_8 ? 256 : C.BPP == BPP_14 ? 16321 : 65536;
      ASSERT_EQ(To.GToL.size(), Want);
      EXPECT_NEAR(To.GToL.front(), 0, 1);
      EXPECT_NEAR(To.GToL.back(), 65280, 2);  // white is L 100, also at 14 bits
      EXPECT_EQ(From.LToG.size(), 65281u);
    }
    To.TransformToLab16(Img.Img, nullptr);
    EXPECT_EQ(Img.Img.Channels, C.Channels);
    From.TransformFromLab16(Img.Img, nullptr);
    // Back at 16 bits: compare with the source on its own scale.
    const double Scale = C.BPP == BPP_8 ? 257.0 : C.BPP == BPP_14 ? 65535.0 / 16320 : 1.0;
    const double Tol = C.BPP == BPP_8 ? 257.0 : 300.0;
    const uint8_t *B8 = Before.data();
    auto *B16 = reinterpret_cast<const uint16_t *>(Before.data());
    for (uint32_t Y = 0, I = 0; Y < 3; ++Y)
      for (uint32_t X = 0; X < 64 * C.Channels; ++X, ++I) {
        const double Src = (C.BPP == BPP_8 ? B8[I] : B16[I]) * Scale;
        ASSERT_NEAR(Img.Px16(0, Y)[X], Src, Tol) << "sample " << I;
      }
  }
}

TEST(Lab, ColourManagementOffStillGivesLab) {
  InitCMS(false);
  TTestImage Img(2, 1, 3);
  std::memset(Img.Px8(0, 0), 255, 6);
  Img.Img.ProfileType = PROFILE_EMBEDDED;  // bytes missing: treated as untagged
  TTransForm T;
  ASSERT_TRUE(T.InitToLab16(Img.Img));
  T.TransformToLab16(Img.Img, nullptr);
  EXPECT_NEAR(Img.Px16(0, 0)[0], 65280, 2);
}

TEST(Lab, OneLineMatchesTheImageConversion) {
  InitCMS(true);
  for (uint32_t Channels : {1u, 3u, 4u}) {
    TTestImage Img(50, 1, Channels);
    Img.FillRandom(Channels);
    Img.Img.ProfileType = Channels == 1 ? PROFILE_DEFAULT_GRAY : PROFILE_DEFAULT_RGB;
    TTransForm T8, T16;
    ASSERT_TRUE(T8.InitToLab8(Img.Img));
    ASSERT_TRUE(T16.InitToLab16(Img.Img));
    const uint32_t Out = Channels == 1 ? 1 : 3;
    std::vector<uint8_t> L8(50 * Out);
    std::vector<uint16_t> L16(50 * Out);
    T8.Transform1LineToLab(Img.Px8(0, 0), L8.data(), 50);
    T16.Transform1LineToLab(Img.Px8(0, 0), L16.data(), 50);
    for (uint32_t X = 0; X < 50; ++X) {
      // L on the 8-bit scale (0..255 = 0..100) against the 16-bit one.
      ASSERT_NEAR(L8[X * Out], L16[X * Out] / 256.0, 1.5) << Channels;
    }
    T16.TransformToLab16(Img.Img, nullptr);
    for (uint32_t X = 0; X < 50; ++X)
      for (uint32_t K = 0; K < Out; ++K)
        ASSERT_EQ(Img.Px16(X, 0)[K], L16[X * Out + K]);
  }
}

TEST(FlattenAlpha, ConfiguredBackgroundIsConvertedIntoTheImageProfile) {
  InitCMS(true);
  struct Case {
    uint32_t Channels, Background;
    bool WithTransform, FileColour;
  } const Cases[] = {
      {4, 0x000000FF, true, false},  // sRGB red into an a98 image
      {4, 0x000000FF, false, false}, // no transform: used as it is
      {2, 0x00FF0000, true, false},  // blue into a gray image: a dark level
      {4, 0x000000FF, true, true},   // the file's own colour is never converted
  };
  for (const Case &C : Cases) {
    TTestImage Img(3, 1, C.Channels);
    std::memset(Img.Img.Mem, 0, Img.Img.Bpl);  // fully transparent
    if (C.Channels == 4)
      Img.Embed(FileBytes(A98File()));
    else
      Img.Img.ProfileType = PROFILE_BUILTIN_SGRAY;
    if (C.FileColour) {
      Img.Img.hasBGColor = LongTrue;
      Img.Img.BGColor = C.Background;
    }
    TTransForm Probe, T;
    uint32_t Want = C.Background;
    if (C.WithTransform && !C.FileColour) {
      ASSERT_TRUE(Probe.InitWork2DestTransform(Img.Img));
      Want = Probe.Work2DestColor(C.Background);
      EXPECT_NE(Want, C.Background);
    }
    FlattenAlpha(Img.Img, C.Background, BackgroundColorInto(C.WithTransform ? &T : nullptr));
    ASSERT_EQ(Img.Img.Channels, C.Channels - 1);
    const uint8_t *P = Img.Px8(1, 0);
    if (C.Channels == 4) {
      EXPECT_EQ(P[0], (Want >> 16) & 0xFF);
      EXPECT_EQ(P[1], (Want >> 8) & 0xFF);
      EXPECT_EQ(P[2], Want & 0xFF);
    } else {
      EXPECT_EQ(P[0], Want & 0xFF);
    }
  }
}
