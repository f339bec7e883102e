// The format dialog's rules without a window: the conversion table's add,
// edit and delete, the JPEG limits lowered on OK, the table choice, the HD
// Photo values, the metadata enabling and the quantisation-table
// registration on disk.
#include "app/window/options/FormatOptionRules.h"

#include "batch/FileNameTemplate.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The table rows a settings file without a "Convert" section gives.
std::vector<std::string> DefaultTable() {
  std::vector<std::string> Rows = DefaultConvertRows();
  return Rows;
}

std::string Inputs(const TPictureFormatForm &F) {
  std::string S;
  for (const auto &R : F.Rows) S += R.Inputs + "|";
  return S;
}

// ---- the conversion table ----

TEST(PictureFormatForm, FillsOneRowPerTableRowWithItsOutputInThePickList) {
  const TPictureFormatForm F({".bmp=.bmp", ".jpg,.jpeg=.jpg", ".png=.png", ".tif=.tif", ".wdp=.wdp", ".gif=.gif",
                              "未定義=.JPG"});
  ASSERT_EQ(F.Rows.size(), 7u);
  const int32_t Want[] = {0, 1, 2, 4, 3, -1, 1};
  for (size_t i = 0; i < 7; ++i) EXPECT_EQ(F.Rows[i].Output, Want[i]) << F.Rows[i].Inputs;
  EXPECT_EQ(F.Rows[1].Inputs, ".jpg,.jpeg");
  EXPECT_EQ(F.ExtList(), (std::vector<std::string>{".bmp", ".jpg", ".jpeg", ".png", ".tif", ".wdp", ".gif", "未定義"}));
}

struct TAddCase {
  const char *Name;
  const char *Answer;
  const char *Warning;  // empty: none
  const char *Added;    // inputs of the new row; empty: nothing added
};

class PictureFormatAdd : public ::testing::TestWithParam<TAddCase> {};

TEST_P(PictureFormatAdd, AddsOrWarns) {
  const TAddCase &C = GetParam();
  TPictureFormatForm F(DefaultTable());
  const size_t Before = F.Rows.size();
  std::string Warning;
  const int32_t Row = F.Add(C.Answer, Warning);
  EXPECT_EQ(Warning, C.Warning);
  if (*C.Added) {
    ASSERT_EQ(Row, int32_t(Before));
    ASSERT_EQ(F.Rows.size(), Before + 1);
    EXPECT_EQ(F.Rows.back().Inputs, C.Added);
    EXPECT_EQ(F.Rows.back().Output, 0) << "a new row converts to ビットマップ イメージ";
  } else {
    EXPECT_EQ(Row, -1);
    EXPECT_EQ(F.Rows.size(), Before);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, PictureFormatAdd,
    ::testing::Values(
        TAddCase{"GifAloneAddsDotGif", "gif", "", ".gif"},
        TAddCase{"RegisteredItemAfterANewOneWarnsWithTheRegisteredOne", "gif,.JPG", ".jpgは登録済みの拡張子です", ""},
        TAddCase{"FirstRegisteredItemIsNamed", "tiff,bmp", ".tiffは登録済みの拡張子です", ""},
        TAddCase{"UpperCaseIsLoweredAndDotsPutInFront", "WEBP,.Avif", "", ".webp,.avif"},
        TAddCase{"SpacesAndEmptyItemsAreDropped", " ico ,, cur,", "", ".ico,.cur"},
        TAddCase{"EmptyAnswerDoesNothing", "", "", ""},
        TAddCase{"OnlyCommasDoNothing", ",,", "", ""}),
    [](const auto &Info) { return std::string(Info.param.Name); });

TEST(PictureFormatForm, EditReplacesTheInputsAsTypedOnlyWithADot) {
  TPictureFormatForm F(DefaultTable());
  ASSERT_FALSE(F.Edit(0, "")) << "empty";
  ASSERT_FALSE(F.Edit(0, "bmp,dib")) << "no dot";
  EXPECT_EQ(F.Rows[0].Inputs, ".bmp");
  ASSERT_TRUE(F.Edit(0, ".BMP,.Dib"));
  EXPECT_EQ(F.Rows[0].Inputs, ".BMP,.Dib") << "kept as typed, no duplicate check";
  ASSERT_TRUE(F.Edit(1, ".bmp"));
  EXPECT_EQ(F.Rows[1].Inputs, ".bmp");
}

TEST(PictureFormatForm, TheUndefinedRowCanBeNeitherEditedNorDeleted) {
  TPictureFormatForm F(DefaultTable());
  const int32_t Undefined = int32_t(F.Rows.size()) - 1;
  ASSERT_EQ(F.Rows[size_t(Undefined)].Inputs, ConvertUndefined);
  EXPECT_FALSE(F.CanEditOrDelete(Undefined));
  EXPECT_FALSE(F.Edit(Undefined, ".x"));
  EXPECT_EQ(F.Delete(Undefined), Undefined);
  EXPECT_EQ(F.Rows.size(), size_t(Undefined) + 1);
  EXPECT_FALSE(F.CanEditOrDelete(-1)) << "no row selected";
  EXPECT_FALSE(F.CanEditOrDelete(Undefined + 1));
  EXPECT_TRUE(F.CanEditOrDelete(0));
}

TEST(PictureFormatForm, DeletingTheLastRowSelectsTheRowAbove) {
  TPictureFormatForm F({".bmp=.bmp", "未定義=.jpg", ".png=.png"});
  EXPECT_EQ(F.Delete(2), 1);
  EXPECT_EQ(Inputs(F), ".bmp|未定義|");
  EXPECT_EQ(F.Delete(0), 0) << "a middle row: the next one takes its place";
  EXPECT_EQ(Inputs(F), "未定義|");
}

TEST(PictureFormatForm, StoresInputsEqualsOutputInTableOrderWithUnknownAsQuestionMarks) {
  TPictureFormatForm F({".png=.png", ".gif=.gif", "未定義=.jpg", "broken"});
  F.Rows[2].Output = 2;
  std::string W;
  F.Add("psd", W);
  EXPECT_EQ(F.Store(), (std::vector<std::string>{".png=.png", ".gif=???", "未定義=.png", "broken=???", ".psd=.bmp"}));
}

TEST(PictureFormatForm, TheDefaultTableStoresBackUnchanged) {
  EXPECT_EQ(TPictureFormatForm(DefaultTable()).Store(), DefaultTable());
}

// ---- the JPEG page ----

struct TLimitCase {
  const char *Name;
  int32_t Quality, QualityLimit, SampleType, SampleTypeLimit;
  int32_t WantQualityLimit, WantSampleTypeLimit;
};

class JPEGLimits : public ::testing::TestWithParam<TLimitCase> {};

TEST_P(JPEGLimits, AreLoweredOnOK) {
  const TLimitCase &C = GetParam();
  TJPEGOption J;
  J.Quality = C.Quality;
  J.QualityLimit = C.QualityLimit;
  J.SampleType = C.SampleType;
  J.SampleTypeLimit = C.SampleTypeLimit;
  LowerJPEGLimits(J);
  EXPECT_EQ(J.QualityLimit, C.WantQualityLimit);
  EXPECT_EQ(J.SampleTypeLimit, C.WantSampleTypeLimit);
  EXPECT_EQ(J.Quality, C.Quality);
  EXPECT_EQ(J.SampleType, C.SampleType);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JPEGLimits,
    ::testing::Values(TLimitCase{"QualityLimitAboveQualityFollowsItDown", 60, 75, 1, 0, 60, 0},
                      TLimitCase{"QualityLimitBelowQualityStays", 90, 75, 1, 0, 75, 0},
                      TLimitCase{"SamplingLimitAboveSamplingFollowsItDown", 90, 75, 0, 2, 75, 0},
                      TLimitCase{"SamplingLimitBelowSamplingStays", 90, 75, 2, 1, 75, 1},
                      TLimitCase{"SamplingLimitOf411IsKept", 90, 75, 0, 3, 75, 3},
                      TLimitCase{"EqualValuesStay", 50, 50, 2, 2, 50, 2}),
    [](const auto &Info) { return std::string(Info.param.Name); });

// ---- the HD Photo page ----

TEST(HDPValues, ShownAndStoredFormsConvertBothWays) {
  struct {
    int32_t Stored, Shown;
  } const Quality[] = {{11, 90}, {1, 100}, {101, 0}, {0, 100}, {200, 0}};
  for (const auto &Q : Quality) {
    EXPECT_EQ(HDPQualityShown(Q.Stored), Q.Shown) << Q.Stored;
    if (Q.Stored >= 1 && Q.Stored <= 101) {
      EXPECT_EQ(HDPQualityStored(Q.Shown), Q.Stored);
    }
  }
  EXPECT_EQ(HDPTileSlicesShown(0), 1);
  EXPECT_EQ(HDPTileSlicesShown(4095), 4096);
  EXPECT_EQ(HDPTileSlicesShown(9000), 4096);
  EXPECT_EQ(HDPTileSlicesStored(1), 0);
  EXPECT_EQ(HDPTileSlicesStored(4096), 4095);
  for (int32_t S : {1, 2, 3}) EXPECT_EQ(HDPSubsamplingIndex(S), S - 1);
  EXPECT_EQ(HDPSubsamplingIndex(0), 2) << "an unknown sampling shows 4:4:4, the default";
}

// ---- the metadata page ----

TEST(MetadataEnablingRule, ExifBoxesFollowExifCopyingAndResolutionFollowsKeepResolution) {
  struct {
    bool AddExif, KeepResolution, Others, Resolution;
  } const Cases[] = {{false, false, false, false}, {false, true, false, false}, {true, false, true, true},
                     {true, true, true, false}};
  for (const auto &C : Cases) {
    const TMetadataEnabling E = MetadataEnabling(C.AddExif, C.KeepResolution);
    SCOPED_TRACE(std::to_string(C.AddExif) + std::to_string(C.KeepResolution));
    EXPECT_EQ(E.UpdateExif, C.Others);
    EXPECT_EQ(E.UpdateExifThumbnail, C.Others);
    EXPECT_EQ(E.UpdateSoftwareTag, C.Others);
    EXPECT_EQ(E.DeleteGPSInfo, C.Others);
    EXPECT_EQ(E.UpdateExifResolution, C.Resolution);
  }
}

// ---- quantisation tables on disk ----

// A JPEG stream that is only the markers the table reader walks: SOI, one
// DQT segment per entry of Tables (id, 16-bit flag, first value), SOS.
std::vector<uint8_t> JpegWithTables(const std::vector<std::pair<uint8_t, bool>> &Tables, uint8_t First = 1) {
  std::vector<uint8_t> J{0xFF, 0xD8};
  for (const auto &[Id, Wide] : Tables) {
    const size_t Len = 2 + 1 + 64 * (Wide ? 2 : 1);
    J.insert(J.end(), {0xFF, 0xDB, uint8_t(Len >> 8), uint8_t(Len)});
    J.push_back(uint8_t((Wide ? 0x10 : 0) | Id));
    for (int i = 0; i < 64; ++i) {
      if (Wide) J.push_back(0);
      J.push_back(uint8_t(First + i + Id * 64));
    }
  }
  J.insert(J.end(), {0xFF, 0xDA, 0x00, 0x02, 0xFF, 0xD9});
  return J;
}

class QuantizationFolder : public ::testing::Test {
protected:
  void SetUp() override {
    char Tmpl[] = "/tmp/tessivo-qt-rules-XXXXXX";
    Dir = ::mkdtemp(Tmpl);
  }
  void TearDown() override { fs::remove_all(Dir); }
  std::string Write(const std::string &Name, const std::vector<uint8_t> &Bytes) {
    const std::string P = Dir + "/" + Name;
    std::ofstream(P, std::ios::binary).write(reinterpret_cast<const char *>(Bytes.data()), std::streamsize(Bytes.size()));
    return P;
  }
  static std::vector<uint8_t> Bytes(const std::string &Path) {
    std::ifstream In(Path, std::ios::binary);
    return {std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
  }
  std::string Dir;
};

struct TDropCase {
  const char *Name;
  std::vector<std::pair<uint8_t, bool>> Tables;
  bool NotJpeg;
  const char *Label;
  bool Luma, Chroma;
};

class QuantizationDrop : public QuantizationFolder, public ::testing::WithParamInterface<TDropCase> {};

TEST_P(QuantizationDrop, GivesTheCandidatesAndTheLabel) {
  const TDropCase &C = GetParam();
  const std::string Path =
      Write("photo.jpg", C.NotJpeg ? std::vector<uint8_t>{'P', 'N', 'G', 0, 1, 2} : JpegWithTables(C.Tables));
  TQuantizationTableForm F(Dir + "/data");
  EXPECT_FALSE(F.CanRegister("Mine")) << "nothing dropped yet";
  F.Drop(Path);
  EXPECT_EQ(F.Label, C.Label);
  EXPECT_EQ(F.Candidates.Luma.has_value(), C.Luma);
  EXPECT_EQ(F.Candidates.Chroma.has_value(), C.Chroma);
  EXPECT_EQ(F.CanRegister("Mine"), C.Luma);
  EXPECT_FALSE(F.CanRegister("")) << "no name";
}

INSTANTIATE_TEST_SUITE_P(
    Files, QuantizationDrop,
    ::testing::Values(
        TDropCase{"TwoTablesGiveLumaAndChroma", {{0, false}, {1, false}}, false, "photo.jpg  量子化テーブル数:2", true, true},
        TDropCase{"OneTableGivesLumaOnly", {{0, false}}, false, "photo.jpg  量子化テーブル数:1", true, false},
        TDropCase{"SixteenBitTablesAreSkipped", {{0, true}, {1, false}}, false, "photo.jpg  量子化テーブル数:1", true, false},
        TDropCase{"OnlySixteenBitTablesGiveNoCandidate", {{0, true}, {1, true}}, false, "photo.jpg  量子化テーブル数:0", false, false},
        TDropCase{"ANonJpegGivesNoCandidate", {}, true, "photo.jpg  量子化テーブル数:0", false, false}),
    [](const auto &Info) { return std::string(Info.param.Name); });

TEST_F(QuantizationFolder, RegisteringWritesBothFoldersAsksBeforeOverwritingAndCounts) {
  const std::string Data = Dir + "/data";
  TQuantizationTableForm F(Data);
  EXPECT_EQ(F.Counter(), "登録済みテーブル数   輝度:0  色差:0");
  EXPECT_FALSE(QuantizationTablesAvailable(Data));
  F.Drop(Write("two.jpg", JpegWithTables({{0, false}, {1, false}}, 3)));
  EXPECT_EQ(F.OverwriteQuestion("Fine"), "");
  F.Register("Fine");
  // 64 table bytes in zigzag order, then the name.
  std::vector<uint8_t> Luma = Bytes(Data + "/LumaQT/Fine.dqt"), Chroma = Bytes(Data + "/ChromaQT/Fine.dqt");
  ASSERT_EQ(Luma.size(), 68u);
  ASSERT_EQ(Chroma.size(), 68u);
  EXPECT_EQ(Luma[0], 3);
  EXPECT_EQ(Luma[63], 66);
  EXPECT_EQ(Chroma[0], 67);
  EXPECT_EQ(std::string(Luma.begin() + 64, Luma.end()), "Fine");
  EXPECT_EQ(F.Counter(), "登録済みテーブル数   輝度:1  色差:1");
  EXPECT_TRUE(QuantizationTablesAvailable(Data));
  EXPECT_EQ(F.OverwriteQuestion("Fine"), "Fine.dqtは既に存在します。上書きしますか？");

  // A file with one table fills the luma folder only.
  F.Drop(Write("one.jpg", JpegWithTables({{0, false}})));
  F.Register("Single");
  EXPECT_TRUE(fs::exists(Data + "/LumaQT/Single.dqt"));
  EXPECT_FALSE(fs::exists(Data + "/ChromaQT/Single.dqt"));
  EXPECT_EQ(F.Counter(), "登録済みテーブル数   輝度:2  色差:1");
  EXPECT_EQ(F.OverwriteQuestion("Single"), "Single.dqtは既に存在します。上書きしますか？");
}

TEST_F(QuantizationFolder, TablesAreAvailableOnlyWhenBothFoldersHoldOne) {
  const std::string Data = Dir + "/data";
  TQuantizationTableForm F(Data);
  F.Drop(Write("one.jpg", JpegWithTables({{0, false}})));
  F.Register("LumaOnly");
  EXPECT_FALSE(QuantizationTablesAvailable(Data)) << "no chroma table";
  // Any ".dqt" counts, in either case of its extension.
  std::ofstream(Data + "/ChromaQT/x.DQT") << std::string(64, '\x10');
  EXPECT_TRUE(QuantizationTablesAvailable(Data));
}

TEST(QuantizationName, AFolderPartOrADotNameIsRefused) {
  for (const char *Bad : {"a/b", "..", ".", "back\\slash"})
    EXPECT_EQ(TQuantizationTableForm::NameFault(Bad), "ファイル名に使用できない文字が含まれています") << Bad;
  for (const char *Good : {"Mine", "画質 80", "a.b"}) EXPECT_EQ(TQuantizationTableForm::NameFault(Good), "") << Good;
}

TEST_F(QuantizationFolder, TheChosenPairIsLoadedInNaturalOrder) {
  const std::string Data = Dir + "/data";
  TQuantizationTableForm F(Data);
  F.Drop(Write("two.jpg", JpegWithTables({{0, false}, {1, false}}, 1)));
  F.Register("Pair");
  TJPEGOption J;
  J.LumaTableName = "Pair.dqt";
  J.ChromaTableName = "Pair.dqt";
  ASSERT_TRUE(LoadChosenQuantizationTables(Data, J));
  // Zigzag positions 0, 1, 2, 3 are the natural (row, column) places (0,0),
  // (0,1), (1,0), (2,0); position 63 is (7,7).
  EXPECT_EQ(J.LumaQT[0], 1);
  EXPECT_EQ(J.LumaQT[1], 2);
  EXPECT_EQ(J.LumaQT[8], 3);
  EXPECT_EQ(J.LumaQT[16], 4);
  EXPECT_EQ(J.LumaQT[63], 64);
  EXPECT_EQ(J.ChromaQT[8], 67);

  TJPEGOption Missing = J;
  Missing.ChromaTableName = "Gone.dqt";
  Missing.LumaQT[0] = 99;
  EXPECT_FALSE(LoadChosenQuantizationTables(Data, Missing));
  EXPECT_EQ(Missing.LumaQT[0], 99) << "tables untouched when one file is missing";
  Missing.ChromaTableName.clear();
  EXPECT_FALSE(LoadChosenQuantizationTables(Data, Missing));
}

}  // namespace
