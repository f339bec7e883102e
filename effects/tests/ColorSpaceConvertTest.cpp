// Colour-space conversion: the stored profile's fallback, the conversion
// into a profile file against Little CMS's transicc with the profile
// attached, alpha removal over the background, nothing at all with colour
// management off, and the rules of the dialog's profile list.
#include "color/ColorManagementOption.h"
#include "color/ICCUtil.h"
#include "core/IniFile.h"
#include "effects/ColorSpaceConvertEffect.h"
#include "testutil/OutsideTool.h"
#include "testutil/TestEnv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::string GhostscriptIcc = "/usr/share/color/icc/ghostscript";
const std::string SRGBIcc = GhostscriptIcc + "/srgb.icc", A98Icc = GhostscriptIcc + "/a98.icc",
                  GrayIcc = GhostscriptIcc + "/sgray.icc", CMYKIcc = GhostscriptIcc + "/default_cmyk.icc";

bool HaveProfiles() {
  for (const std::string *p : {&SRGBIcc, &A98Icc, &GrayIcc, &CMYKIcc})
    if (!fs::exists(*p)) return false;
  return true;
}

std::vector<uint8_t> FileBytes(const std::string &Path) {
  std::ifstream In(Path, std::ios::binary);
  return {std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
}

struct TScratch {
  std::string Dir;
  TScratch() {
    char tmpl[] = "/tmp/colorspace-test-XXXXXX";
    if (::mkdtemp(tmpl)) Dir = tmpl;
  }
  ~TScratch() {
    std::error_code ec;
    fs::remove_all(Dir, ec);
  }
};

// An 8-bit image owned by the test, in the built-in sRGB (no profile).
struct TPicture {
  TICCImgOwner Img;
  TPicture(uint32_t W, uint32_t H, uint32_t Channels) {
    TICCImgInfo &I = *Img;
    I.Width = W, I.Height = H, I.Channels = Channels, I.BPP = BPP_8;
    I.PixelFormat = Channels == 4 ? PIXFMT_BGRA : PIXFMT_BGR;
    I.Bpl = GetAlignedBpl(W, Channels);
    I.Mem = AllocPixelBlock(I.Bpl, H);
  }
  uint8_t *Px(uint32_t x, uint32_t y) { return PictureRow(*Img, y) + size_t(x) * Img->Channels; }
};

void EnableColourManagement(bool On) {
  TColorManagementOption Opt;
  Opt.Enabled = On ? LongTrue : LongFalse;
  CMS.InitProfile(Opt);
}

}  // namespace

struct TProfileNameCase {
  const char *Name;
  std::string Stored;
  std::string Read;
};

TEST(ColorSpaceConvertSettings, AProfileFileThatHasGoneBecomesTheBuiltInGray) {
  TScratch S;
  const std::string Kept = S.Dir + "/mine.icc";
  std::ofstream(Kept) << "profile bytes";
  const TProfileNameCase Cases[] = {
      {"vanished file", S.Dir + "/gone.icc", TARGET_BUILTIN_SGRAY},
      {"built-in sRGB", TARGET_BUILTIN_SRGB, TARGET_BUILTIN_SRGB},
      {"built-in sGray", TARGET_BUILTIN_SGRAY, TARGET_BUILTIN_SGRAY},
      {"existing file", Kept, Kept},
      {"a folder is no file", S.Dir, TARGET_BUILTIN_SGRAY},
  };
  for (const TProfileNameCase &C : Cases) {
    TMemIniFile Ini;
    Ini.WriteString("ColorSpaceConvert", "OutputProfile", C.Stored);
    TColorSpaceConvertEffect E;
    E.ReadIniFile(Ini);
    EXPECT_EQ(E.FOutputProfileName, C.Read) << C.Name;
  }
  TColorSpaceConvertEffect D;
  D.ReadIniFile(TMemIniFile());
  EXPECT_EQ(D.FOutputProfileName, TARGET_BUILTIN_SGRAY);
  EXPECT_EQ(D.FRenderingIntent, 0);
  EXPECT_EQ(D.FRemoveAlpha, LongFalse);
  EXPECT_TRUE(D.FPreview);
  EXPECT_TRUE(D.FHistogram);
  D.FOutputProfileName = Kept, D.FRenderingIntent = 3, D.FRemoveAlpha = LongTrue, D.FPreview = false;
  TMemIniFile Ini;
  D.WriteIniFile(Ini);
  TColorSpaceConvertEffect R;
  R.ReadIniFile(Ini);
  EXPECT_EQ(R.FOutputProfileName, Kept);
  EXPECT_EQ(R.FRenderingIntent, 3);
  EXPECT_NE(R.FRemoveAlpha, LongFalse);
  EXPECT_FALSE(R.FPreview);
}

// Into a98.icc (Adobe RGB compatible): every colour as transicc converts
// it, within one step, and the picture carries the profile's bytes.
TEST(ColorSpaceConvert, IntoAProfileFileAgreesWithTransiccAndAttachesIt) {
  TESSIVO_REQUIRE(HaveProfiles()) << "Ghostscript's ICC profiles (libgs-common) missing";
  TESSIVO_REQUIRE(!testenv::Capture("command -v transicc").empty()) << "transicc (liblcms2-utils) missing";
  EnableColourManagement(true);
  for (const int32_t Intent : {0, 1}) {
    TPicture P(300, 1, 3);
    std::mt19937 Rng(11);
    std::ostringstream In;
    for (uint32_t x = 0; x < 300; ++x) {
      uint8_t *p = P.Px(x, 0);
      for (int k = 0; k < 3; ++k) p[k] = uint8_t(x < 8 ? (x & (1 << k) ? 255 : 0) : Rng());
      In << int(p[2]) << ' ' << int(p[1]) << ' ' << int(p[0]) << '\n';
    }
    TColorSpaceConvertEffect E;
    E.FOutputProfileName = A98Icc;
    E.FRenderingIntent = Intent;
    TEffectParams Params;
    E.DoEffect(*P.Img, Params);
    TScratch S;
    std::ofstream(S.Dir + "/in.txt") << In.str();
    const std::string Out = testenv::Capture("transicc -n -i" + SRGBIcc + " -o" + A98Icc + " -t" +
                                             std::to_string(Intent) + " < " + S.Dir + "/in.txt");
    std::istringstream Rows(Out);
    double Worst = 0;
    for (uint32_t x = 0; x < 300; ++x) {
      double r, g, b;
      ASSERT_TRUE(Rows >> r >> g >> b) << x;
      const uint8_t *p = P.Px(x, 0);
      Worst = std::max({Worst, std::abs(p[2] - std::round(r)), std::abs(p[1] - std::round(g)),
                        std::abs(p[0] - std::round(b))});
    }
    EXPECT_LE(Worst, 1.0) << "intent " << Intent;
    ASSERT_NE(P.Img->ICCProfile, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(P.Img->ICCProfile, P.Img->ICCProfile + P.Img->ProfileLen), FileBytes(A98Icc));
  }
}

// sRGB with alpha removal: BGRA becomes BGR over the background (white by
// default), opaque pixels keep their colour; with colour management off
// nothing changes, alpha included.
TEST(ColorSpaceConvert, BuiltInSRGBWithAlphaRemovalFlattensOntoTheBackground) {
  for (const bool On : {true, false}) {
    EnableColourManagement(On);
    TPicture P(4, 1, 4);
    const uint8_t Pixels[4][4] = {{10, 20, 200, 255}, {10, 20, 200, 0}, {0, 0, 0, 128}, {90, 60, 30, 255}};
    for (uint32_t x = 0; x < 4; ++x) std::copy(Pixels[x], Pixels[x] + 4, P.Px(x, 0));
    TColorSpaceConvertEffect E;
    E.FOutputProfileName = TARGET_BUILTIN_SRGB;
    E.FRemoveAlpha = LongTrue;
    TEffectParams Params;
    E.DoEffect(*P.Img, Params);
    if (!On) {
      EXPECT_EQ(P.Img->Channels, 4u);
      for (uint32_t x = 0; x < 4; ++x)
        EXPECT_TRUE(std::equal(Pixels[x], Pixels[x] + 4, P.Px(x, 0))) << "colour management off, pixel " << x;
      continue;
    }
    ASSERT_EQ(P.Img->Channels, 3u);
    EXPECT_EQ(P.Img->PixelFormat, uint32_t(PIXFMT_BGR));
    const auto Near = [&](uint32_t x, int b, int g, int r) {
      const uint8_t *p = P.Px(x, 0);
      return std::abs(p[0] - b) <= 1 && std::abs(p[1] - g) <= 1 && std::abs(p[2] - r) <= 1;
    };
    EXPECT_TRUE(Near(0, 10, 20, 200));
    EXPECT_TRUE(Near(1, 255, 255, 255));  // fully transparent: the background
    EXPECT_TRUE(Near(2, 127, 127, 127) || Near(2, 128, 128, 128));
    EXPECT_TRUE(Near(3, 90, 60, 30));
  }
  EnableColourManagement(true);
}

// The dialog's list: the built-in gray, the gray files, the built-in sRGB,
// the RGB files; other classes and files that are no profile stay out; a
// current profile not listed is appended; a chosen file is selected,
// appended, or refused with the warning, and moves ColorProfileDir when it
// lies outside the program folder.
TEST(ColorSpaceChoices, ListAndChoiceRules) {
  TESSIVO_REQUIRE(HaveProfiles()) << "Ghostscript's ICC profiles (libgs-common) missing";
  TScratch S;
  const std::string Folder = S.Dir + "/icc/", Program = S.Dir + "/program";
  fs::create_directories(Folder);
  fs::create_directories(Program + "/profiles");
  fs::copy_file(SRGBIcc, Folder + "srgb.icc");
  fs::copy_file(A98Icc, Folder + "A98.ICM");
  fs::copy_file(GrayIcc, Folder + "sgray.icc");
  fs::copy_file(CMYKIcc, Folder + "press.icc");
  fs::copy_file(SRGBIcc, Folder + "srgb.txt");
  std::ofstream(Folder + "broken.icc") << "no profile";
  std::vector<TProfileChoice> List = ColorSpaceChoices({Folder, S.Dir + "/missing/"});
  const std::vector<TProfileChoice> Want = {{TARGET_BUILTIN_SGRAY, TARGET_BUILTIN_SGRAY},
                                            {"sgray.icc", Folder + "sgray.icc"},
                                            {TARGET_BUILTIN_SRGB, TARGET_BUILTIN_SRGB},
                                            {"A98.ICM", Folder + "A98.ICM"},
                                            {"srgb.icc", Folder + "srgb.icc"}};
  EXPECT_EQ(List, Want);

  EXPECT_EQ(SelectProfileChoice(List, TARGET_BUILTIN_SRGB), 2u);
  EXPECT_EQ(SelectProfileChoice(List, Folder + "srgb.icc"), 4u);
  EXPECT_EQ(SelectProfileChoice(List, "/elsewhere/mine.icc"), 5u);
  EXPECT_EQ(List.back(), (TProfileChoice{"mine.icc", "/elsewhere/mine.icc"}));

  EXPECT_EQ(ProfileDialogFolder("", Program), Program);
  EXPECT_EQ(ProfileDialogFolder("/x/icc", Program), "/x/icc");

  std::string Dir = "/before";
  TProfileFileChoice C = ChooseProfileFile(List, Folder + "A98.ICM", Program, Dir);
  EXPECT_EQ(C.Selected, 3);
  EXPECT_EQ(C.Warning, "");
  EXPECT_EQ(Dir + "/", Folder);
  fs::copy_file(GrayIcc, Program + "/profiles/gray2.icc");
  Dir = "/before";
  const size_t Count = List.size();
  C = ChooseProfileFile(List, Program + "/profiles/gray2.icc", Program, Dir);
  EXPECT_EQ(C.Selected, int64_t(Count));
  EXPECT_EQ(List.back().Name, "gray2.icc");
  EXPECT_EQ(Dir, "/before") << "a file inside the program folder leaves ColorProfileDir";
  C = ChooseProfileFile(List, Folder + "press.icc", Program, Dir);
  EXPECT_EQ(C.Selected, -1);
  EXPECT_EQ(C.Warning, "RGB,Grayscale以外のプロファイルは選択出来ません");
  EXPECT_EQ(List.size(), Count + 1);
}
