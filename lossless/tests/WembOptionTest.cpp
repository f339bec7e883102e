// The parameter block: its byte layout, reading it back, refusing a cut
// block, the name patterns, and publishing it in shared memory.
#include "core/Errors.h"
#include "effects/Effect.h"
#include "lossless/WembOption.h"
#include "lossless/WembShared.h"
#include "lossless/tests/LosslessTestUtil.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

uint32_t Le32(const std::vector<uint8_t> &B, size_t At) {
  return uint32_t(B[At]) | uint32_t(B[At + 1]) << 8 | uint32_t(B[At + 2]) << 16 | uint32_t(B[At + 3]) << 24;
}

using losslesstest::DefaultSteps;

TWembOption DistinctOption() {
  TWembOption o;
  int32_t *fields[] = {&o.Rotation, &o.ExifOrientation, &o.Grayscale, &o.Trimming, &o.ICCProfileRevision,
                       &o.AddText, &o.ExifExport, &o.ICCExport, &o.ExifImport, &o.ICCImport,
                       &o.SegmentDeleteMode, &o.OptimizeMode, &o.DeleteExifThumbnail, &o.UpdateExifThumbnail,
                       &o.DeleteMakerNote, &o.DeleteGPSInfoIFD};
  for (size_t i = 0; i < std::size(fields); ++i) *fields[i] = int32_t(i + 1) * 0x01010101 - 0x40;
  o.ExifExportName = "書き出し\\<NAME>.dat";
  o.ICCImportName = "𝄞<name>.icc";  // outside the basic plane: a surrogate pair
  return o;
}

TEST(WembParamBlock, StartsWithTheSixteenFieldsThenCountedUtf16Names) {
  const TWembOption o = DistinctOption();
  const std::vector<uint8_t> b = WriteWembParam(o, {}, std::span<const uint8_t>());
  for (size_t i = 0; i < 16; ++i) EXPECT_EQ(Le32(b, i * 4), uint32_t(int32_t(i + 1) * 0x01010101 - 0x40)) << i;
  // "書き出し\<NAME>.dat": 4 + 1 + 6 + 4 = 15 UTF-16 units, "書" is U+66F8.
  EXPECT_EQ(Le32(b, 64), 15u);
  EXPECT_EQ(b[68], 0xF8);
  EXPECT_EQ(b[69], 0x66);
  EXPECT_EQ(b[68 + 2 * 4], '\\');
  EXPECT_EQ(b[68 + 2 * 4 + 1], 0);
}

TEST(WembParamBlock, AnEmptySegmentListIsACountOfZeroBeforeTheSteps) {
  TWembOption o;
  o.ExifExportName = o.ICCExportName = o.ExifImportName = o.ICCImportName = "";
  const std::vector<uint8_t> steps{1, 2, 3};
  const std::vector<uint8_t> b = WriteWembParam(o, {}, steps);
  ASSERT_EQ(b.size(), 64u + 4 * 4 + 4 + 3);
  EXPECT_EQ(Le32(b, 80), 0u);
  EXPECT_EQ(std::vector<uint8_t>(b.end() - 3, b.end()), steps);
}

TEST(WembParamBlock, ReadsBackWhatBothProgramsWrite) {
  const TWembOption o = DistinctOption();
  const std::vector<TSegmentInfo> segs{{JPEG_APP1, "Exif", LongTrue}, {JPEG_COM, "any", LongFalse},
                                       {0xFFED, "Photoshop 3.0", LongTrue}};
  const std::vector<uint8_t> b = WriteWembParam(o, segs, DefaultSteps());
  const TWembParam p = ReadWembParam(b);
  EXPECT_EQ(std::memcmp(&p.Option, &o, 64), 0);
  EXPECT_EQ(p.Option.ExifExportName, o.ExifExportName);
  EXPECT_EQ(p.Option.ICCExportName, o.ICCExportName);
  EXPECT_EQ(p.Option.ExifImportName, o.ExifImportName);
  EXPECT_EQ(p.Option.ICCImportName, o.ICCImportName);
  ASSERT_EQ(p.Segments.size(), segs.size());
  for (size_t i = 0; i < segs.size(); ++i) {
    EXPECT_EQ(p.Segments[i].Marker, segs[i].Marker);
    EXPECT_EQ(p.Segments[i].Header, segs[i].Header);
    EXPECT_EQ(bool(p.Segments[i].Check), bool(segs[i].Check));
  }
  // The default chain's text step: the record and the Japanese font name survive.
  const TAddTextParam defaults;
  EXPECT_EQ(std::memcmp(&p.TextParam, &defaults, sizeof defaults), 0);
  EXPECT_EQ(p.Font.Name, TFont().Name);
  EXPECT_EQ(p.Font.Size, TFont().Size);
}

TEST(WembParamBlock, ACutBlockIsRefusedWhereverItEnds) {
  const std::vector<uint8_t> b =
      WriteWembParam(DistinctOption(), {{JPEG_APP1, "Exif", LongTrue}}, DefaultSteps());
  for (size_t cut : {size_t(0), size_t(63), size_t(70), size_t(140), b.size() / 2, b.size() - 1}) {
    const std::vector<uint8_t> part(b.begin(), b.begin() + std::ptrdiff_t(cut));
    EXPECT_THROW(ReadWembParam(part), ETessivoError) << "cut at " << cut;
  }
  EXPECT_NO_THROW(ReadWembParam(b));
}

struct TNameCase {
  const char *Name;
  const char *Pattern;
  const char *Input;
  const char *Expected;
};

const TNameCase NameCases[] = {
    {"CapitalNameInAFolderBesideTheInput", "export\\<NAME>.dat", "/a/IMG_1.jpg", "/a/export/IMG_1.dat"},
    {"LowerCaseName", "<name>.icc", "/a/b/IMG_1.JPG", "/a/b/IMG_1.icc"},
    {"MixedCaseTwice", "<Name>-<nAmE>.dat", "/x/p.q.jpg", "/x/p.q-p.q.dat"},
    {"AbsolutePatternStaysPut", "/keep/<name>.dat", "/a/IMG_2.jpg", "/keep/IMG_2.dat"},
    {"NoPlaceholder", "fixed.dat", "/a/IMG_3.jpg", "/a/fixed.dat"},
};

class WembName : public ::testing::TestWithParam<TNameCase> {};

TEST_P(WembName, ExpandsAgainstTheInputFile) {
  EXPECT_EQ(ExpandWembName(GetParam().Pattern, GetParam().Input), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(Patterns, WembName, ::testing::ValuesIn(NameCases),
                         [](const ::testing::TestParamInfo<TNameCase> &P) { return std::string(P.param.Name); });

TEST(WembSharedBlock, IsReadableByItsOwnNameUntilReleased) {
  const std::vector<uint8_t> block = WriteWembParam(DistinctOption(), {}, DefaultSteps());
  std::string name;
  {
    TWembSharedBlock a(block), b(block);
    name = a.Name();
    EXPECT_NE(a.Name(), b.Name());
    EXPECT_EQ(name.rfind("/QuzenParam-", 0), 0u);
    const std::optional<std::vector<uint8_t>> read = ReadWembSharedBlock(name);
    ASSERT_TRUE(read);
    ASSERT_EQ(read->size(), WEMB_PARAM_SIZE);
    EXPECT_TRUE(std::equal(block.begin(), block.end(), read->begin()));
    EXPECT_TRUE(std::all_of(read->begin() + std::ptrdiff_t(block.size()), read->end(), [](uint8_t c) { return c == 0; }));
  }
  EXPECT_FALSE(ReadWembSharedBlock(name));
}

TEST(WembSharedBlock, ABlockLargerThanTheMappingIsRefusedBeforeAnythingIsCreated) {
  TWembOption o;
  o.ExifExportName = std::string(WEMB_PARAM_SIZE / 2, 'x');  // two bytes per unit: just over
  const std::vector<uint8_t> block = WriteWembParam(o, {}, DefaultSteps());
  ASSERT_GT(block.size(), WEMB_PARAM_SIZE);
  EXPECT_THROW(TWembSharedBlock{block}, ETessivoError);
}

TEST(WembSharedBlock, UnlinkingForASignalRemovesTheLiveBlocks) {
  const std::vector<uint8_t> block{1, 2, 3};
  TWembSharedBlock a(block);
  ASSERT_TRUE(ReadWembSharedBlock(a.Name()));
  UnlinkWembSharedBlocks();
  EXPECT_FALSE(ReadWembSharedBlock(a.Name()));
}

TEST(WembSharedBlock, TheToolReadsTheVariableElseTheFixedName) {
  unsetenv(WEMB_PARAM_ENV);
  EXPECT_EQ(WembParamName(), "/QuzenParam");
  setenv(WEMB_PARAM_ENV, "/QuzenParam-77-0", 1);
  EXPECT_EQ(WembParamName(), "/QuzenParam-77-0");
  unsetenv(WEMB_PARAM_ENV);
}

}  // namespace
