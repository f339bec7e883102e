// Reading a settings file into the records: the format sections with their
// legacy keys and forced-off options, the conversion table, the serial
// number, the effect sections, and the settings folders.
#include "batch/BatchObjects.h"
#include "batch/ConvertOption.h"
#include "effects/Effect.h"
#include "batch/FileNameTemplate.h"
#include "io/FormatOption.h"
#include "io/JpegSegment.h"
#include "app/SettingsFile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

class SettingsFile : public ::testing::Test {
protected:
  void SetUp() override {
    char Tmpl[] = "/tmp/tessivo-settings-XXXXXX";
    Dir = ::mkdtemp(Tmpl);
    ::setenv("TESSIVOPLUS_DATA", (Dir + "/data").c_str(), 1);
    CreateDataFolders();
    SystemOption.ProcessorCount = 2;
    CreateBatchObjects(2);
    CreateDefaultEffects(Effects, Dir);
    SavedJPEG = JPEGOption;
    SavedBitmap = BitmapOption;
    SavedPNG = PNGOption;
    SavedMetadata = MetadataOption;
  }
  void TearDown() override {
    JPEGOption = SavedJPEG;
    BitmapOption = SavedBitmap;
    PNGOption = SavedPNG;
    MetadataOption = SavedMetadata;
    FreeBatchObjects();
    ::unsetenv("TESSIVOPLUS_DATA");
    fs::remove_all(Dir);
  }
  std::string Ini(const std::string &Text) {
    const std::string Path = SettingsFolder() + "t.ini";
    std::ofstream(Path) << Text;
    return Path;
  }
  std::string Dir;
  TEffectList Effects;
  TJPEGOption SavedJPEG;
  TBitmapOption SavedBitmap;
  TPNGOption SavedPNG;
  TMetadataOption SavedMetadata;
};

}  // namespace

TEST_F(SettingsFile, Folders) {
  EXPECT_EQ(DataFolder(), Dir + "/data/");
  EXPECT_EQ(DefaultSettingsFile(), Dir + "/data/ini/TessivoPlus.ini");
  for (const char *Sub : {"ini", "ToneCurve", "Levels", "LumaQT", "ChromaQT"})
    EXPECT_TRUE(fs::is_directory(Dir + "/data/" + Sub)) << Sub;
  EXPECT_EQ(ResolveSettingsFileName("web.ini"), Dir + "/data/ini/web.ini");
  EXPECT_EQ(ResolveSettingsFileName("/etc/x.ini"), "/etc/x.ini");
  EXPECT_EQ(ResolveSettingsFileName("sub/x.ini").front(), '/');
  ::unsetenv("TESSIVOPLUS_DATA");
  ::setenv("XDG_DATA_HOME", "/xdg", 1);
  EXPECT_EQ(DataFolder(), "/xdg/TessivoPlus/");
  ::unsetenv("XDG_DATA_HOME");
  ::setenv("TESSIVOPLUS_DATA", (Dir + "/data").c_str(), 1);
}

TEST_F(SettingsFile, MissingFileReadsAsDefaults) {
  JPEGOption.Quality = 12;
  LoadIniFile(SettingsFolder() + "none.ini", Effects);
  EXPECT_EQ(JPEGOption.Quality, 90);
  EXPECT_EQ(JPEGOption.SampleType, 1);
  EXPECT_EQ(FileOption.FileNameFormat, "resize/<old>");
  EXPECT_EQ(LookUpConvertMap(".jpg"), ".jpg");
  EXPECT_EQ(LookUpConvertMap("未定義"), ".jpg");
  ASSERT_NE(Effects.FindByID(EFFECT_RESIZE), nullptr);
  EXPECT_TRUE(Effects.FindByID(EFFECT_RESIZE)->Use());
}

TEST_F(SettingsFile, FormatSectionsAndTheirRules) {
  LoadIniFile(Ini("[Bitmap]\nAlphaCheckStrict=1\nAlphaCheckType=0\nIndexColor=1\n"
                  "[JPEG]\nQuality=77\nSampleType=2\nDecodeWithDownScaling=3\nDownScalingLimit=150\n"
                  "RemoveAPP0Marker=0\nAlwaysRecompress=1\nProgressive=1\nUseQuantizationTable=1\n"
                  "LumaTableName=missing.dqt\nChromaTableName=missing.dqt\n"
                  "[JEPG]\nKeepQuality=1\n"
                  "[PNG]\nUsePNGOUT=1\nCompressLevel=9\n16Bit=1\n"
                  "[HDP]\nQuality=20\n[TIFF]\nCompressionMethod=2\n"
                  "[Metadata]\nKeepLastWriteTime=1\nUpdateTimestampFromExif=1\nResolution=300\nKeepResolution=0\n"
                  "[File]\nStartNumber=41\n"
                  "[Convert]\n.png=.bmp\n.jpg,.jpeg=.png\n未定義=.tif\n"
                  "[ResizeFilter]\nUse=0\n"),
              Effects);
  EXPECT_EQ(BitmapOption.AlphaCheckType, ALPHA_CHECK_XRGB);  // the older switch wins
  EXPECT_EQ(BitmapOption.IndexColor, 1);
  EXPECT_EQ(JPEGOption.Quality, 77);
  EXPECT_EQ(JPEGOption.SampleType, 2);
  EXPECT_EQ(JPEGOption.DecodeWithDownScaling, 3);
  EXPECT_EQ(JPEGOption.DownScalingLimit, 150);
  EXPECT_EQ(JPEGOption.OmitAPP0Marker, 0);
  EXPECT_TRUE(JPEGOption.AlwaysRecompress);
  EXPECT_TRUE(JPEGOption.Progressive);
  EXPECT_EQ(JPEGOption.UseQuantizationTable, 0);  // the table files are missing
  EXPECT_EQ(JPEGOption.KeepQuality, 1);
  EXPECT_EQ(PNGOption.UsePNGOUT, 0);              // no bin/pngout beside this test
  EXPECT_EQ(PNGOption.CompressLevel, 9);
  EXPECT_EQ(PNGOption.Is16Bit, 1);
  EXPECT_EQ(HDPOption.Quality, 20);
  EXPECT_EQ(TIFFOption.CompressionMethod, 2);
  EXPECT_EQ(MetadataOption.KeepLastWriteTime, 1);
  EXPECT_EQ(MetadataOption.UpdateTimestampFromExif, 1);
  EXPECT_EQ(MetadataOption.Resolution, 300);
  EXPECT_FALSE(MetadataOption.KeepResolution);
  EXPECT_EQ(NextSerialNumber, 41);
  EXPECT_EQ(LookUpConvertMap(".png"), ".bmp");
  EXPECT_EQ(LookUpConvertMap(".JPEG"), ".png");
  EXPECT_EQ(LookUpConvertMap("未定義"), ".tif");
  EXPECT_FALSE(Effects.FindByID(EFFECT_RESIZE)->Use());
}

TEST_F(SettingsFile, RegisteredQuantisationTablesAreReadInZigzagOrder) {
  std::string Luma(64, '\0'), Chroma(64, '\0');
  for (int i = 0; i < 64; ++i) Luma[size_t(i)] = char(i + 1), Chroma[size_t(i)] = char(100 + i);
  std::ofstream(LumaQTFolder() + "l.dqt", std::ios::binary) << Luma;
  std::ofstream(ChromaQTFolder() + "c.dqt", std::ios::binary) << Chroma;
  LoadIniFile(Ini("[JPEG]\nUseQuantizationTable=1\nLumaTableName=l.dqt\nChromaTableName=c.dqt\n"), Effects);
  EXPECT_EQ(JPEGOption.UseQuantizationTable, 1);
  for (int i = 0; i < 64; ++i) {
    EXPECT_EQ(JPEGOption.LumaQT[ZigzagToNaturalIndex[i]], i + 1);
    EXPECT_EQ(JPEGOption.ChromaQT[ZigzagToNaturalIndex[i]], 100 + i);
  }
  // A table file shorter than 64 bytes switches the option off.
  std::ofstream(ChromaQTFolder() + "c.dqt", std::ios::binary) << "short";
  LoadIniFile(Ini("[JPEG]\nUseQuantizationTable=1\nLumaTableName=l.dqt\nChromaTableName=c.dqt\n"), Effects);
  EXPECT_EQ(JPEGOption.UseQuantizationTable, 0);
}
