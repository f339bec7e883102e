// The program's profiles, profile checks and the colour folders.
#include "color/tests/ColorTestUtil.h"

#include "core/Errors.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

std::string Description(cmsHPROFILE P) {
  char Buf[256] = {};
  cmsGetProfileInfoASCII(P, cmsInfoDescription, "en", "US", Buf, sizeof Buf);
  return Buf;
}

// Encodes a colorant or white point tag back to s15.16.
std::array<uint32_t, 3> S15Of(cmsHPROFILE P, cmsTagSignature Sig) {
  auto *XYZ = static_cast<cmsCIEXYZ *>(cmsReadTag(P, Sig));
  if (!XYZ) return {0, 0, 0};
  auto E = [](double V) { return uint32_t(std::lround(V * 65536.0)); };
  return {E(XYZ->X), E(XYZ->Y), E(XYZ->Z)};
}

std::string TempPath(const char *Name) {
  return (std::filesystem::temp_directory_path() / Name).string() + std::to_string(getpid());
}

}  // namespace

TEST(ColorManagementOption, DefaultsFollowTheSettingsFile) {
  TColorManagementOption O;
  EXPECT_EQ(O.Enabled, LongTrue);
  EXPECT_EQ(O.CreateICCProfileFromExif, LongTrue);
  EXPECT_EQ(O.RenderingIntent, 0);
  EXPECT_TRUE(O.MonitorProfile.empty() && O.RGBProfile.empty() && O.GrayscaleProfile.empty() &&
              O.CMYKProfile.empty() && O.WorkSpaceProfile.empty() && O.ColorProfileDir.empty());
}

TEST(BuiltinProfiles, FixedColorantsAndDescriptions) {
  InitCMS(true);
  EXPECT_EQ(Description(CMS.FsRGBProfile), "built-in sRGB");
  EXPECT_EQ(Description(CMS.FsGrayProfile), "built-in sGray");
  struct {
    cmsTagSignature Tag;
    std::array<uint32_t, 3> Want;
  } const Cases[] = {
      {cmsSigMediaWhitePointTag, {0xF351, 0x10000, 0x116CC}},
      {cmsSigRedColorantTag, {0x6FA2, 0x38F5, 0x0390}},
      {cmsSigGreenColorantTag, {0x6299, 0xB785, 0x18DA}},
      {cmsSigBlueColorantTag, {0x24A0, 0x0F84, 0xB6CF}},
  };
  for (const auto &C : Cases) EXPECT_EQ(S15Of(CMS.FsRGBProfile, C.Tag), C.Want);
  // The gray profile sits on D50.
  auto W = S15Of(CMS.FsGrayProfile, cmsSigMediaWhitePointTag);
  EXPECT_NEAR(W[0], 0xF6D6, 2);
  EXPECT_NEAR(W[2], 0xD32D, 2);
  EXPECT_EQ(cmsGetColorSpace(CMS.FLabProfile), cmsSigLabData);
}

TEST(InitProfile, FilesAreUsedOnlyWhenEnabledAndFallBackOtherwise) {
  struct Case {
    bool Enabled;
    std::string WorkSpace, RGB, Gray;
    bool WorkFromFile, RGBFromFile, GrayFromFile;
  } const Cases[] = {
      {true, A98File(), SRGBFile(), GrayFile(), true, true, true},
      {false, A98File(), SRGBFile(), GrayFile(), false, false, false},
      {true, "/nonexistent.icc", "", "", false, false, false},
      // Wrong colour spaces are refused: a gray file as RGB, an RGB file as gray.
      {true, GrayFile(), CMYKFile(), SRGBFile(), false, false, false},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.WorkSpace + " enabled=" + std::to_string(C.Enabled));
    InitCMS(C.Enabled, C.WorkSpace, C.RGB, C.Gray);
    EXPECT_EQ(CMS.FWorkSpaceProfile != CMS.FsRGBProfile, C.WorkFromFile);
    EXPECT_EQ(CMS.FDefaultRGBProfile != CMS.FsRGBProfile, C.RGBFromFile);
    EXPECT_EQ(CMS.FDefaultGrayProfile != CMS.FsGrayProfile, C.GrayFromFile);
    TICCInfo Info{};
    CMS.GetWorkSpaceProfileData(Info);
    EXPECT_EQ(Info.Profile != nullptr, C.WorkFromFile);
    if (C.WorkFromFile) {
      EXPECT_EQ(Info.Len, FileBytes(C.WorkSpace).size());
    }
    CMS.GetDefaultRGBProfileData(Info);
    EXPECT_EQ(Info.Profile != nullptr, C.RGBFromFile);
    CMS.GetDefaultGrayProfileData(Info);
    EXPECT_EQ(Info.Profile != nullptr, C.GrayFromFile);
    ASSERT_NE(CMS.FDefaultCMYKProfile, nullptr);
    EXPECT_EQ(cmsGetColorSpace(CMS.FDefaultCMYKProfile), cmsSigCmykData);
    ASSERT_NE(CMS.FMonitorProfile, nullptr);
  }
}

TEST(InitProfile, MissingCMYKFallbackIsAClearError) {
  setenv("TESSIVO_CMYK_PROFILE", "/nonexistent/cmyk.icc", 1);
  TColorManagementOption Opt;
  try {
    CMS.InitProfile(Opt);
    ADD_FAILURE() << "no error";
  } catch (const ETessivoError &E) {
    EXPECT_NE(std::string(E.what()).find("CMYK"), std::string::npos);
  }
  // The other profiles are still there, and a CMYK image is refused loudly.
  EXPECT_EQ(CMS.FWorkSpaceProfile, CMS.FsRGBProfile);
  TTestImage Img(4, 4, 4, BPP_8, PIXFMT_CMYK);
  TTransForm T;
  EXPECT_THROW(T.InitCMYKTransform(Img.Img, true), ETessivoError);
  // A configured CMYK file needs no fallback.
  Opt.CMYKProfile = CMYKFile();
  EXPECT_NO_THROW(CMS.InitProfile(Opt));
  EXPECT_EQ(CMS.CMYKProfilePath(), CMYKFile());
  unsetenv("TESSIVO_CMYK_PROFILE");
  EXPECT_NO_THROW(CMS.InitProfile(TColorManagementOption{}));
  EXPECT_EQ(CMS.CMYKProfilePath(), CMYKFallbackCandidates().front());
}

TEST(ProfileChecks, ClassificationOfFiles) {
  InitCMS(true);
  const std::string Garbage = TempPath("garbage.icc");
  std::ofstream(Garbage) << std::string(1000, 'x');
  // A device link made from two real profiles.
  const std::string Link = TempPath("link.icc");
  {
    cmsHPROFILE A = cmsOpenProfileFromFile(SRGBFile().c_str(), "r");
    cmsHPROFILE B = cmsOpenProfileFromFile(A98File().c_str(), "r");
    cmsHTRANSFORM T = cmsCreateTransform(A, TYPE_RGB_8, B, TYPE_RGB_8, 0, 0);
    cmsHPROFILE L = cmsTransform2DeviceLink(T, 4.3, 0);
    cmsSaveProfileToFile(L, Link.c_str());
    for (cmsHPROFILE P : {A, B, L}) cmsCloseProfile(P);
    cmsDeleteTransform(T);
  }
  struct {
    std::string Path;
    int32_t Kind;
  } const Cases[] = {
      {SRGBFile(), 1}, {A98File(), 1}, {CMYKFile(), 2}, {GrayFile(), 3},
      {IccPath("lab.icc"), 0}, {Link, 0}, {Garbage, 0}, {"/nonexistent.icc", 0}, {"", 0},
  };
  for (const auto &C : Cases) EXPECT_EQ(ClassifyProfileFile(C.Path), C.Kind) << C.Path;
  std::filesystem::remove(Garbage);
  std::filesystem::remove(Link);

  EXPECT_TRUE(CheckOutputProfile(CMS.FsRGBProfile));
  EXPECT_TRUE(CheckOutputProfile(CMS.FsGrayProfile));
  EXPECT_TRUE(CheckOutputProfile(CMS.FDefaultCMYKProfile));  // a LUT profile with B2A0
  EXPECT_FALSE(CheckOutputProfile(nullptr));
}

TEST(ColorDirectories, SystemFolderFirstThenUserFolder) {
  const std::string Home = TempPath("xdg");
  std::filesystem::create_directories(Home + "/icc");
  setenv("XDG_DATA_HOME", Home.c_str(), 1);
  auto Dirs = GetColorDirectories();
  ASSERT_FALSE(Dirs.empty());
  EXPECT_EQ(Dirs.back(), Home + "/icc/");
  if (std::filesystem::is_directory("/usr/share/color/icc")) {
    EXPECT_EQ(Dirs.front(), "/usr/share/color/icc/");
  }
  EXPECT_EQ(GetColorDirectory(), Dirs.front());
  unsetenv("XDG_DATA_HOME");
  std::filesystem::remove_all(Home);
}
