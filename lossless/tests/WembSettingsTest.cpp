// The lossless-mode settings: the older optimisation keys, the segment
// sections, and the option dialog's rule for switching the deletion mode.
#include "core/IniFile.h"
#include "lossless/WembSettings.h"

#include <gtest/gtest.h>

namespace {

struct TOptimizeCase {
  const char *Name;
  const char *Ini;
  int32_t Expected;
};

const TOptimizeCase OptimizeCases[] = {
    {"NothingStoredIsOptimisedBaseline", "", 1},
    {"BothOlderKeysGiveTheSmaller", "[WEMB]\nOptimize=1\nProgressizve=1\n", 3},
    {"OnlyProgressive", "[WEMB]\nOptimize=0\nProgressizve=1\n", 2},
    {"Neither", "[WEMB]\nOptimize=0\nProgressizve=0\n", 0},
    {"MinusOneStoredTakesTheOlderKeys", "[WEMB]\nOptimizeMode=-1\nOptimize=1\nProgressizve=1\n", 3},
    {"AStoredModeWinsOverTheOlderKeys", "[WEMB]\nOptimizeMode=2\nOptimize=1\nProgressizve=0\n", 2},
};

class WembOptimizeMode : public ::testing::TestWithParam<TOptimizeCase> {};

TEST_P(WembOptimizeMode, IsReadAsTheSettingsSay) {
  TMemIniFile ini;
  ini.LoadFromBytes(GetParam().Ini);
  TWembSettings s;
  ReadWembSettings(ini, s);
  EXPECT_EQ(s.Option.OptimizeMode, GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, WembOptimizeMode, ::testing::ValuesIn(OptimizeCases),
                         [](const ::testing::TestParamInfo<TOptimizeCase> &P) { return std::string(P.param.Name); });

TEST(WembSettingsFile, SavingDropsTheOlderKeysAndReadsBackTheSame) {
  TMemIniFile ini;
  ini.LoadFromBytes("[WEMB]\nOptimize=0\nProgressizve=1\nRotation=1\nDeleteGPSInfo=1\nExifExportName=x\\<NAME>.dat\n"
                    "[Segment1]\nMarker=65505\nHeader=Exif\nCheck=1\n[Segment2]\nMarker=65534\nHeader=stale\nCheck=0\n"
                    "[Segment3]\nMarker=65499\nHeader=DQT is no APPn\nCheck=1\n[Segment4]\nMarker=65517\nHeader=Photoshop\n");
  TWembSettings s;
  ReadWembSettings(ini, s);
  EXPECT_EQ(s.Option.OptimizeMode, 2);
  EXPECT_EQ(s.Option.Rotation, 1);
  EXPECT_TRUE(s.Option.DeleteGPSInfoIFD);
  EXPECT_EQ(s.Option.ExifExportName, "x\\<NAME>.dat");
  // The DQT marker is refused, the COM header is dropped, the list is sorted.
  ASSERT_EQ(s.Segments.size(), 3u);
  EXPECT_EQ(s.Segments[0].Marker, JPEG_APP1);
  EXPECT_EQ(s.Segments[1].Marker, JPEG_APP13);
  EXPECT_EQ(s.Segments[2].Marker, JPEG_COM);
  EXPECT_EQ(s.Segments[2].Header, "");

  TMemIniFile saved;
  saved.LoadFromBytes("[WEMB]\nOptimize=1\n[Segment1]\nMarker=65504\n[Segment5]\nMarker=65504\n");
  WriteWembSettings(saved, s);
  EXPECT_FALSE(saved.ValueExists("WEMB", "Optimize"));
  EXPECT_FALSE(saved.ValueExists("WEMB", "Progressizve"));
  EXPECT_FALSE(saved.SectionExists("Segment4"));
  TWembSettings back;
  ReadWembSettings(saved, back);
  EXPECT_EQ(back.Option.OptimizeMode, 2);
  ASSERT_EQ(back.Segments.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(back.Segments[i].Marker, s.Segments[i].Marker);
    EXPECT_EQ(back.Segments[i].Header, s.Segments[i].Header);
    EXPECT_EQ(bool(back.Segments[i].Check), bool(s.Segments[i].Check));
  }
}

TEST(WembSettingsFile, NoAcceptedSegmentGivesTheDefaultList) {
  TMemIniFile ini;
  ini.LoadFromBytes("[Segment1]\nMarker=65472\n");
  TWembSettings s;
  ReadWembSettings(ini, s);
  std::vector<TSegmentInfo> expected = DefaultSegmentList();
  ASSERT_EQ(s.Segments.size(), 8u);
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(s.Segments[i].Marker, expected[i].Marker);
    EXPECT_EQ(s.Segments[i].Header, expected[i].Header);
    EXPECT_FALSE(s.Segments[i].Check);
  }
}

TEST(WembOptionDialog, SwitchingToProtectInvertsEveryCheckMark) {
  TWembSettings s;
  for (TSegmentInfo &seg : s.Segments) seg.Check = seg.Marker == JPEG_APP1 && seg.Header == "Exif" ? LongTrue : LongFalse;
  SwitchSegmentDeleteMode(s, 1);
  EXPECT_EQ(s.Option.SegmentDeleteMode, 1);
  for (const TSegmentInfo &seg : s.Segments)
    EXPECT_EQ(bool(seg.Check), !(seg.Marker == JPEG_APP1 && seg.Header == "Exif")) << SegmentInfoCaption(seg);
  // Choosing the mode already in force changes nothing.
  SwitchSegmentDeleteMode(s, 1);
  for (const TSegmentInfo &seg : s.Segments)
    EXPECT_EQ(bool(seg.Check), !(seg.Marker == JPEG_APP1 && seg.Header == "Exif"));
}

}  // namespace
