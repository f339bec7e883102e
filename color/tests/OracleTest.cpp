// Accuracy against Little CMS's own calculator, transicc: the same colours
// converted between real profiles, one at a time in floating point.
#include "color/tests/ColorTestUtil.h"
#include "testutil/TestEnv.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

std::string Transicc() {
  const std::string P = TESSIVO_TRANSICC;
  return std::filesystem::exists(P) ? P : std::string();
}

// Runs transicc over the lines of Input; returns one row of numbers per line.
std::vector<std::vector<double>> RunTransicc(const std::string &Args, const std::string &Input) {
  const std::string In = (std::filesystem::temp_directory_path() /
                          ("transicc_in_" + std::to_string(getpid()))).string();
  std::ofstream(In) << Input;
  const std::string Cmd = Transicc() + " -n " + Args + " < " + In + " 2>/dev/null";
  std::vector<std::vector<double>> Rows;
  if (FILE *P = popen(Cmd.c_str(), "r")) {
    char Line[512];
    while (fgets(Line, sizeof Line, P)) {
      std::istringstream S(Line);
      std::vector<double> Row;
      for (double V; S >> V;) Row.push_back(V);
      if (!Row.empty()) Rows.push_back(Row);
    }
    pclose(P);
  }
  std::filesystem::remove(In);
  return Rows;
}

// A fixed set of colours: the corners, grays and a pseudo-random spread.
std::vector<std::array<uint8_t, 4>> Samples(uint32_t Count) {
  std::vector<std::array<uint8_t, 4>> S;
  for (uint32_t C = 0; C < 16; ++C)
    S.push_back({uint8_t(C & 1 ? 255 : 0), uint8_t(C & 2 ? 255 : 0), uint8_t(C & 4 ? 255 : 0),
                 uint8_t(C & 8 ? 255 : 0)});
  for (int V = 0; V < 256; V += 17) S.push_back({uint8_t(V), uint8_t(V), uint8_t(V), uint8_t(V)});
  std::mt19937 Rng(2024);
  while (S.size() < Count) S.push_back({uint8_t(Rng()), uint8_t(Rng()), uint8_t(Rng()), uint8_t(Rng())});
  return S;
}

}  // namespace

TEST(Oracle, RGBToRGBAndCMYKToRGBAgreeWithTransicc) {
  TESSIVO_REQUIRE(!Transicc().empty()) << "transicc not installed (package liblcms2-utils)";
  struct Case {
    const char *Name;
    std::string In, Out;
    int32_t Intent;
    bool CMYK;
  } const Cases[] = {
      {"sRGB -> a98 relative", SRGBFile(), A98File(), 1, false},
      {"a98 -> sRGB perceptual", A98File(), SRGBFile(), 0, false},
      {"CMYK press -> sRGB perceptual", CMYKFile(), SRGBFile(), 0, true},
      {"CMYK press -> a98 relative", CMYKFile(), A98File(), 1, true},
  };
  const auto Colours = Samples(400);
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Name);
    TColorManagementOption Opt;
    Opt.WorkSpaceProfile = C.Out;
    Opt.RenderingIntent = C.Intent;
    CMS.InitProfile(Opt);
    const uint32_t Ch = C.CMYK ? 4 : 3;
    TTestImage Img(uint32_t(Colours.size()), 1, Ch, BPP_8, C.CMYK ? uint32_t(PIXFMT_CMYK) : 0u);
    std::ostringstream Input;
    for (size_t I = 0; I < Colours.size(); ++I) {
      const auto &K = Colours[I];
      uint8_t *P = Img.Px8(uint32_t(I), 0);
      if (C.CMYK) {
        std::copy(K.begin(), K.end(), P);
        // transicc takes ink in percent.
        Input << K[0] / 2.55 << ' ' << K[1] / 2.55 << ' ' << K[2] / 2.55 << ' ' << K[3] / 2.55 << '\n';
      } else {
        P[0] = K[2], P[1] = K[1], P[2] = K[0];  // B, G, R in memory
        Input << int(K[0]) << ' ' << int(K[1]) << ' ' << int(K[2]) << '\n';
      }
    }
    Img.Embed(FileBytes(C.In));
    TTransForm T;
    if (C.CMYK)
      ASSERT_TRUE(T.InitCMYKTransform(Img.Img, false));
    else
      ASSERT_TRUE(T.InitTo(Img.Img, C.Out, C.Intent));
    T.DoTransform(Img.Img);
    const auto Want = RunTransicc("-i" + C.In + " -o" + C.Out + " -t" + std::to_string(C.Intent),
                                  Input.str());
    ASSERT_EQ(Want.size(), Colours.size());
    double Max = 0;
    for (size_t I = 0; I < Colours.size(); ++I) {
      ASSERT_EQ(Want[I].size(), 3u);
      const uint8_t *P = Img.Px8(uint32_t(I), 0);
      for (int K = 0; K < 3; ++K) {
        const double Ref = std::clamp(std::round(Want[I][K]), 0.0, 255.0);
        Max = std::max(Max, std::abs(P[2 - K] - Ref));
      }
    }
    std::printf("[ oracle ] %s: max difference %.0f step(s) over %zu colours\n", C.Name, Max,
                Colours.size());
    EXPECT_LE(Max, 1.0);
  }
}

TEST(Oracle, LabValuesAgreeWithTransicc) {
  TESSIVO_REQUIRE(!Transicc().empty()) << "transicc not installed (package liblcms2-utils)";
  InitCMS(true);
  const auto Colours = Samples(300);
  TTestImage Img(uint32_t(Colours.size()), 1, 3);
  std::ostringstream Input;
  for (size_t I = 0; I < Colours.size(); ++I) {
    uint8_t *P = Img.Px8(uint32_t(I), 0);
    P[0] = Colours[I][2], P[1] = Colours[I][1], P[2] = Colours[I][0];
    Input << int(Colours[I][0]) << ' ' << int(Colours[I][1]) << ' ' << int(Colours[I][2]) << '\n';
  }
  Img.Embed(FileBytes(SRGBFile()));
  TTransForm T;
  ASSERT_TRUE(T.InitToLab16(Img.Img));
  T.TransformToLab16(Img.Img, nullptr);
  const auto Want = RunTransicc("-i" + SRGBFile() + " -o*Lab4 -t0", Input.str());
  ASSERT_EQ(Want.size(), Colours.size());
  double MaxL = 0, MaxAB = 0;
  for (size_t I = 0; I < Colours.size(); ++I) {
    const uint16_t *P = Img.Px16(uint32_t(I), 0);
    MaxL = std::max(MaxL, std::abs(P[0] * 100.0 / 65280 - Want[I][0]));
    MaxAB = std::max(MaxAB, std::abs((P[1] - 32768) / 256.0 - Want[I][1]));
    MaxAB = std::max(MaxAB, std::abs((P[2] - 32768) / 256.0 - Want[I][2]));
  }
  std::printf("[ oracle ] sRGB -> Lab: max |dL| %.3f, max |da|,|db| %.3f\n", MaxL, MaxAB);
  // Within one 8-bit step of L (100/255) and of a, b.
  EXPECT_LE(MaxL, 100.0 / 255);
  EXPECT_LE(MaxAB, 1.0);
}
