// The key table against the readers themselves, the shipped key reference,
// the range checks of profiles and command lines, and the command line laid
// over a profile.
#include "app/CommandLine.h"
#include "core/IniFile.h"
#include "app/ProfileKeys.h"
#include "app/SettingsFile.h"
#include "batch/BatchObjects.h"
#include "batch/ConvertOption.h"
#include "batch/ConvertOptionIni.h"
#include "batch/FileNameTemplate.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace {

const std::vector<TProfileKey> &AllKeys() {
  static const std::vector<TProfileKey> Keys = ProfileKeysRead(KeysTheReadersRead());
  return Keys;
}

TMemIniFile IniOf(const std::string &Text) {
  TMemIniFile Ini;
  Ini.LoadFromBytes(Text);
  return Ini;
}

}  // namespace

TEST(ProfileKeys, TableTypesAndDefaultsAreTheOnesTheReadersUse) {
  const std::vector<TIniKeyRead> Reads = KeysTheReadersRead();
  ASSERT_GT(Reads.size(), 100u);
  for (const TIniKeyRead &R : Reads) {
    const TProfileKey *K = FindProfileKey(ProfileKeyTable(), R.Section, R.Ident);
    if (!K) continue;  // an effect's own key: taken from the reader as it is
    EXPECT_EQ(K->Type, R.Type) << R.Section << "." << R.Ident;
    if (!K->MachineDefault) EXPECT_EQ(std::string(K->Default), R.Default) << R.Section << "." << R.Ident;
  }
}

TEST(ProfileKeys, EveryKeyTheRunnerReadsHasAMeaning) {
  for (const TProfileKey &K : AllKeys()) EXPECT_STRNE(K.Meaning, "") << K.Section << "." << K.Key;
  for (const char *Key : {"Use", "Order"}) EXPECT_NE(FindProfileKey(AllKeys(), "ExifRotationFilter", Key), nullptr);
}

TEST(ProfileKeys, ShippedReferenceIsTheGeneratedOne) {
  const std::string Path = std::string(TESSIVO_SOURCE_DIR) + "/docs/profile-keys.md";
  std::ifstream In(Path, std::ios::binary);
  const std::string Shipped((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
  EXPECT_EQ(Shipped, ProfileKeysMarkdown(AllKeys()))
      << Path << " is out of date: build/tessivo --profile-keys > docs/profile-keys.md";
}

struct TClampCase {
  const char *Name;
  const char *Ini;
  std::vector<std::string> Warnings;
  const char *Section;
  const char *Key;
  const char *StoredAfter;
};
void PrintTo(const TClampCase &C, std::ostream *Os) {
  *Os << C.Name << ": " << ::testing::PrintToString(std::string(C.Ini)) << " keeps " << C.Section << "." << C.Key << "="
      << C.StoredAfter;
}

class ProfileClamp : public ::testing::TestWithParam<TClampCase> {};

TEST_P(ProfileClamp, OutOfRangeNumbersWarnOncePerKey) {
  const TClampCase &C = GetParam();
  TMemIniFile Ini = IniOf(C.Ini);
  EXPECT_EQ(ClampProfileValues(Ini, AllKeys()), C.Warnings);
  EXPECT_EQ(Ini.ReadString(C.Section, C.Key, "(absent)"), C.StoredAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, ProfileClamp,
    ::testing::Values(
        TClampCase{"QualityAbove", "[JPEG]\r\nQuality=150\r\n", {"JPEG.Quality=150 is outside 1 to 100; 100 is used"}, "JPEG", "Quality", "100"},
        TClampCase{"QualityBelow", "[jpeg]\nquality=0\n", {"JPEG.Quality=0 is outside 1 to 100; 1 is used"}, "JPEG", "Quality", "1"},
        TClampCase{"QualityInRange", "[JPEG]\nQuality=85\n", {}, "JPEG", "Quality", "85"},
        TClampCase{"NotANumberIsLeftToTheReader", "[JPEG]\nQuality=high\n", {}, "JPEG", "Quality", "high"},
        TClampCase{"RuleTakesTheReadersRule", "[Resize]\nRule=20\n", {"Resize.Rule=20 is outside 0 to 13; 0 is used"}, "Resize", "Rule", "20"},
        TClampCase{"BooleanAboveOne", "[JPEG]\nProgressive=5\n", {"JPEG.Progressive=5 is outside 0 to 1; 1 is used"}, "JPEG", "Progressive", "1"},
        TClampCase{"TwoKeysTwoLines", "[PNG]\nCompressLevel=12\n[System]\nPriority=-1\n",
                   {"System.Priority=-1 is outside 0 to 4; 0 is used", "PNG.CompressLevel=12 is outside 0 to 9; 9 is used"}, "PNG", "CompressLevel", "9"}),
    [](const auto &Info) { return std::string(Info.param.Name); });

TEST(ProfileKeys, ClampedProfileReadsTheClampedValue) {
  TMemIniFile Ini = IniOf("[JPEG]\nQuality=150\n[Resize]\nRule=20\nDecimationRadius=99\n");
  ClampProfileValues(Ini, AllKeys());
  ReadConvertSettings(Ini);
  ReadFormatOptions(Ini, "/nonexistent");
  EXPECT_EQ(JPEGOption.Quality, 100);
  EXPECT_EQ(ResizeOption.Rule, 0);
  EXPECT_EQ(ResizeOption.DecimationRadius, 32);
}

struct TValueCase {
  const char *Section;
  const char *Key;
  const char *Value;
  const char *Error;
};

TEST(ProfileKeys, CommandLineValuesAreCheckedAgainstTypeAndRange) {
  for (const TValueCase &C : {TValueCase{"JPEG", "Quality", "85", ""},
                              TValueCase{"JPEG", "Quality", "101", "JPEG.Quality must be an integer from 1 to 100"},
                              TValueCase{"JPEG", "Quality", "8.5", "JPEG.Quality must be an integer from 1 to 100"},
                              TValueCase{"File", "StartNumber", "-7", ""},
                              TValueCase{"File", "StartNumber", "x", "File.StartNumber must be an integer"},
                              TValueCase{"File", "NotOverwrite", "2", "File.NotOverwrite must be an integer from 0 to 1"},
                              TValueCase{"AddBlankFilter", "ShadowRadius", "2.5", ""},
                              TValueCase{"AddBlankFilter", "ShadowRadius", "wide", "AddBlankFilter.ShadowRadius must be a number"},
                              TValueCase{"File", "FileNameFormat", "<old>_x", ""}}) {
    const TProfileKey *K = FindProfileKey(AllKeys(), C.Section, C.Key);
    ASSERT_NE(K, nullptr) << C.Section << "." << C.Key;
    EXPECT_EQ(CheckProfileValue(*K, C.Value), C.Error) << C.Section << "." << C.Key << "=" << C.Value;
  }
}

TEST(ProfileKeys, CommandLineIsLaidOverTheProfileInOrder) {
  const TCommandLine Cmd = ParseCommandLine(
      {"--quality=70", "--set", "JPEG.Quality=60", "--size", "50%", "--format", "PNG", "--out", "web", "--overwrite",
       "photos"},
      "/work");
  ASSERT_EQ(Cmd.Error, "");
  TMemIniFile Ini = IniOf("[File]\nFileNameFormat=small\\<old>_s\n[Convert]\n.bmp=.bmp\n未定義=.jpg\n");
  ASSERT_EQ(ApplyCommandLineSettings(Cmd, Ini, AllKeys()), "");
  ReadConvertSettings(Ini);
  ReadFormatOptions(Ini, "/nonexistent");
  LoadConvertTable(Ini.ReadSectionValues("Convert"));
  EXPECT_EQ(JPEGOption.Quality, 60);  // the later of the two
  EXPECT_EQ(ResizeOption.Rule, 0);
  EXPECT_EQ(ResizeOption.Size1[0], 50);
  EXPECT_EQ(FileOption.FileNameFormat, "/work/web/<old>_s");
  EXPECT_FALSE(FileOption.NotOverwrite);
  EXPECT_EQ(LookUpConvertMap(".bmp"), "");
  EXPECT_EQ(LookUpConvertMap(ConvertUndefined), ".png");
  EXPECT_EQ(Cmd.Paths, std::vector<std::string>{"/work/photos"});
}

TEST(ProfileKeys, EffectiveProfileHoldsDefaultsAndKeepsOtherLines) {
  const TMemIniFile Ini = IniOf("; hand-written\n[JPEG]\nQuality=77\n[Mine]\nKept=yes\n");
  const TMemIniFile Out = IniOf(EffectiveProfileText(Ini, ProfileKeyTable()));
  EXPECT_EQ(Out.ReadString("JPEG", "Quality", ""), "77");
  EXPECT_EQ(Out.ReadString("Mine", "Kept", ""), "yes");
  EXPECT_EQ(Out.ReadString("PNG", "CompressLevel", ""), "6");
  EXPECT_EQ(Out.ReadString("File", "FileNameFormat", ""), "resize/<old>");
  // Keys whose default depends on the machine, or whose presence changes the reading, stay out.
  EXPECT_FALSE(Out.ValueExists("File", "OutPutDirectory"));
  EXPECT_FALSE(Out.ValueExists("Bitmap", "AlphaCheckStrict"));
}
