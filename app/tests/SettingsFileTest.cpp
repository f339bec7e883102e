// Reading a settings file into the records: the format sections with their
// legacy keys and forced-off options, the conversion table, the serial
// number, the effect sections, and the settings folders. Writing it: the
// full save, the exit rules of the profiles, the plug-in settings file and
// the write procedure with its retries.
#include "batch/BatchObjects.h"
#include "batch/ConvertOption.h"
#include "effects/Effect.h"
#include "batch/FileNameTemplate.h"
#include "io/FormatOption.h"
#include "io/JpegSegment.h"
#include "app/SettingsFile.h"
#include "app/PluginSettings.h"
#include "batch/CombineOption.h"
#include "batch/ConvertOptionIni.h"
#include "core/Errors.h"
#include "core/IniFile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

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

// ---------------------------------------------------------------------------
// Writing: the full save, the profiles and the write procedure.

namespace {

std::string Bytes(const std::string &Path) {
  std::ifstream In(Path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
}

// Keys older versions wrote that are read only while their successor is
// missing; a save writes the successor instead.
bool IsLegacyKey(const std::string &Section, const std::string &Key) {
  return (Section == "Bitmap" && Key == "AlphaCheckStrict") || (Section == "WEMB" && Key == "Optimize") ||
         (Section == "WEMB" && Key == "Progressizve") || (Section == "Combine" && Key == "FillBlank") ||
         (Section == "AddText" && Key == "Position");
}

}  // namespace

TEST_F(SettingsFile, FirstStartWritesEveryKeyTheReadersAskFor) {
  const std::string Path = DefaultSettingsFile();
  ASSERT_FALSE(fs::exists(Path));
  // Every step, as where every library and tool is installed.
  TEffectList All;
  CreateDefaultEffects(All, Dir, true);
  LoadIniFile(Path, All);
  ASSERT_TRUE(SaveSettingsAtExit(Path, All));
  const std::string Written = Bytes(Path);
  ASSERT_EQ(Written.compare(0, 3, "\xEF\xBB\xBF"), 0) << "a full save is UTF-8 with a byte-order mark";
  const TMemIniFile Saved(Path);
  // The readers are the outside reference: whatever they ask for of an empty
  // file, the first save must have written.
  size_t Checked = 0;
  for (const TIniKeyRead &R : KeysTheReadersRead()) {
    // Only a memory budget someone chose is stored; the automatic one follows the machine.
    if (R.Section == "System" && R.Ident == "MemoryBudgetMB") continue;
    if (IsLegacyKey(R.Section, R.Ident)) {
      EXPECT_FALSE(Saved.ValueExists(R.Section, R.Ident)) << R.Section << "." << R.Ident;
      continue;
    }
    EXPECT_TRUE(Saved.ValueExists(R.Section, R.Ident)) << R.Section << "." << R.Ident << " is missing";
    ++Checked;
  }
  EXPECT_GT(Checked, 300u);
  // The sections the window keeps, and the conversion table with its default rows.
  for (const char *Section : {"Window", "ListView", "ThumbnailWindow", "Dir", "Font", "Dialog", "ShortCut", "WIC",
                              "Stsrem", "JEPG", "Segment1", "Segment8"})
    EXPECT_TRUE(Saved.SectionExists(Section)) << Section;
  EXPECT_EQ(Saved.ReadString("Convert", "未定義", ""), ".jpg");
  EXPECT_EQ(Saved.ReadString("Convert", ".jpg,.jpeg", ""), ".jpg");
  EXPECT_EQ(Saved.ReadInteger("System", "MaxThread", -1), 0);
  // The plug-in settings go to their own file.
  EXPECT_TRUE(TMemIniFile(PluginSettingsFile()).ValueExists("SPI", "SPIDirectory"));
  EXPECT_TRUE(TMemIniFile(PluginSettingsFile()).ValueExists("SPI", "ArchiveSPIOrder"));
}

TEST_F(SettingsFile, SavedSettingsReadBackAsTheyWere) {
  LoadIniFile(Ini("[JPEG]\nQuality=61\n[Combine]\nRows=4\n[TrimmingFilter]\nUse=1\n"), Effects);
  JPEGOption.SampleType = 2;
  FileOption.StartNumber = 17;
  WindowSettings.Left = 33;
  WindowSettings.HeaderWidth[6] = 120;
  WindowSettings.ShortCutAtOnce = true;
  SPIOption.WICTo = 1;
  const std::string Path = SettingsFolder() + "copy.ini";
  ASSERT_TRUE(SaveIniFile(Path, Effects));
  JPEGOption = TJPEGOption();
  WindowSettings = TWindowSettings();
  TEffectList Fresh;
  CreateDefaultEffects(Fresh, Dir);
  LoadIniFile(Path, Fresh);
  EXPECT_EQ(JPEGOption.Quality, 61);
  EXPECT_EQ(JPEGOption.SampleType, 2);
  EXPECT_EQ(NextSerialNumber, 17);
  EXPECT_EQ(CombineOption.Rows, 4);
  EXPECT_EQ(WindowSettings.Left, 33);
  EXPECT_EQ(WindowSettings.HeaderWidth[6], 120);
  EXPECT_TRUE(WindowSettings.ShortCutAtOnce);
  EXPECT_EQ(SPIOption.WICTo, 1);
  EXPECT_TRUE(Fresh.FindByID(EFFECT_TRIMMING)->Use());
}

TEST_F(SettingsFile, SaveDropsTheOlderKeysAndKeepsUnknownLines) {
  const std::string Path = Ini("; hand-written\n[Bitmap]\nAlphaCheckStrict=1\n[WEMB]\nOptimize=0\nProgressizve=1\n"
                               "[Other Tool]\nmine=kept\n");
  LoadIniFile(Path, Effects);
  EXPECT_EQ(BitmapOption.AlphaCheckType, ALPHA_CHECK_XRGB);
  ASSERT_TRUE(SaveIniFile(Path, Effects));
  const TMemIniFile Saved(Path);
  EXPECT_FALSE(Saved.ValueExists("Bitmap", "AlphaCheckStrict"));
  EXPECT_EQ(Saved.ReadInteger("Bitmap", "AlphaCheckType", -1), int32_t(ALPHA_CHECK_XRGB));
  EXPECT_FALSE(Saved.ValueExists("WEMB", "Optimize"));
  EXPECT_FALSE(Saved.ValueExists("WEMB", "Progressizve"));
  EXPECT_EQ(Saved.ReadInteger("WEMB", "OptimizeMode", -1), 2);
  EXPECT_EQ(Saved.ReadString("Other Tool", "mine", ""), "kept");
  EXPECT_NE(Bytes(Path).find("; hand-written"), std::string::npos);
}

struct TMaxThreadCase {
  const char *Name;
  const char *Stored;   // the System section's MaxThread line, or empty
  int32_t Processors;
  int32_t Written;
};
void PrintTo(const TMaxThreadCase &C, std::ostream *Os) { *Os << C.Name; }

class StoredMaxThread : public ::testing::TestWithParam<TMaxThreadCase> {};

TEST_P(StoredMaxThread, SurvivesASave) {
  const TMaxThreadCase &C = GetParam();
  TMemIniFile In;
  In.LoadFromBytes(std::string("[System]\n") + C.Stored);
  SystemOption.ProcessorCount = C.Processors;
  ReadConvertSettings(In);
  TMemIniFile Out;
  WriteConvertSettings(Out);
  EXPECT_EQ(Out.ReadInteger("System", "MaxThread", -99), C.Written);
}

INSTANTIATE_TEST_SUITE_P(
    SettingsFile, StoredMaxThread,
    ::testing::Values(TMaxThreadCase{"AutomaticOnEightProcessors", "MaxThread=0\n", 8, 0},
                      TMaxThreadCase{"AutomaticOnOneProcessor", "MaxThread=0\n", 1, 0},
                      TMaxThreadCase{"MissingIsAutomatic", "", 4, 0},
                      TMaxThreadCase{"NegativeIsAutomatic", "MaxThread=-2\n", 4, 0},
                      TMaxThreadCase{"AChosenCount", "MaxThread=3\n", 8, 3},
                      TMaxThreadCase{"MoreThanThisMachineHas", "MaxThread=16\n", 4, 16}),
    [](const ::testing::TestParamInfo<TMaxThreadCase> &I) { return std::string(I.param.Name); });

struct TConvertRowsCase {
  const char *Name;
  const char *Rows;  // the stored section's lines
  std::vector<std::pair<std::string, std::string>> Lookups;  // extension, expected output
};
void PrintTo(const TConvertRowsCase &C, std::ostream *Os) { *Os << C.Name; }

class StoredConvertTable : public SettingsFile, public ::testing::WithParamInterface<TConvertRowsCase> {};

TEST_P(StoredConvertTable, StoredRowsWinOverTheDefaultRows) {
  const TConvertRowsCase &C = GetParam();
  const std::string Path = Ini(std::string("[Convert]\n") + C.Rows);
  LoadIniFile(Path, Effects);
  for (const auto &[Ext, Out] : C.Lookups) EXPECT_EQ(LookUpConvertMap(Ext), Out) << Ext;
  // Saved and read again, the table still converts the same way.
  ASSERT_TRUE(SaveIniFile(Path, Effects));
  LoadIniFile(Path, Effects);
  for (const auto &[Ext, Out] : C.Lookups) EXPECT_EQ(LookUpConvertMap(Ext), Out) << Ext << " after a save";
}

INSTANTIATE_TEST_SUITE_P(
    SettingsFile, StoredConvertTable,
    ::testing::Values(
        TConvertRowsCase{"BmpToPng", ".bmp=.png\n", {{".bmp", ".png"}, {".jpg", ".jpg"}, {"未定義", ".jpg"}}},
        TConvertRowsCase{"PartOfADefaultRow",
                         ".jpeg=.png\n",
                         {{".jpeg", ".png"}, {".jpg", ".jpg"}, {".png", ".png"}, {"未定義", ".jpg"}}},
        TConvertRowsCase{"SeveralRows",
                         ".tif,.tiff=.png\n.png=.bmp\n",
                         {{".tif", ".png"}, {".tiff", ".png"}, {".png", ".bmp"}, {".jxr", ".wdp"}}},
        TConvertRowsCase{"WithTheCatchAllRowNothingIsAdded",
                         ".bmp=.png\n未定義=.tif\n",
                         {{".bmp", ".png"}, {".jpg", ""}, {"未定義", ".tif"}}}),
    [](const ::testing::TestParamInfo<TConvertRowsCase> &I) { return std::string(I.param.Name); });

struct TExitCase {
  const char *Name;
  int32_t ResetType;
  bool StartNumberStored;
};
void PrintTo(const TExitCase &C, std::ostream *Os) { *Os << C.Name; }

class NonDefaultProfileAtExit : public SettingsFile, public ::testing::WithParamInterface<TExitCase> {};

TEST_P(NonDefaultProfileAtExit, IsLeftUnchangedBarItsSerialNumber) {
  const TExitCase &C = GetParam();
  const std::string Original = "; my profile\r\n[JPEG]\r\nQuality=70\r\n[File]\r\nStartNumber=5\r\nNumberResetType=" +
                               std::to_string(C.ResetType) + "\r\n[Unknown]\r\nx=y\r\n";
  const std::string Path = Ini(Original);
  LoadIniFile(Path, Effects);
  // Working in the profile changes the records.
  JPEGOption.Quality = 12;
  WindowSettings.Left = 500;
  FileOption.StartNumber = 9;
  ASSERT_TRUE(SaveSettingsAtExit(Path, Effects));
  std::string Expected = Original;
  if (C.StartNumberStored) Expected.replace(Expected.find("StartNumber=5"), 13, "StartNumber=9");
  const std::string After = Bytes(Path);
  // A partial update may keep the file's own encoding: compare without a mark.
  EXPECT_EQ(After.compare(0, 3, "\xEF\xBB\xBF") == 0 ? After.substr(3) : After, Expected);
  EXPECT_FALSE(fs::exists(DefaultSettingsFile())) << "the default file is not touched";
  EXPECT_TRUE(fs::exists(PluginSettingsFile()));
}

INSTANTIATE_TEST_SUITE_P(SettingsFile, NonDefaultProfileAtExit,
                         ::testing::Values(TExitCase{"NumbersRestartEveryRun", 0, false},
                                           TExitCase{"NumbersContinueWhileRunning", 1, false},
                                           TExitCase{"NumbersAreStored", 2, true}),
                         [](const ::testing::TestParamInfo<TExitCase> &I) { return std::string(I.param.Name); });

TEST_F(SettingsFile, SwitchingProfilesKeepsOnlyTheStoredSerialNumber) {
  const std::string A = Ini("[File]\nStartNumber=5\nNumberResetType=2\n[JPEG]\nQuality=70\n");
  const std::string B = SettingsFolder() + "b.ini";
  std::ofstream(B) << "[JPEG]\nQuality=40\n";
  LoadIniFile(A, Effects);
  FileOption.StartNumber = 8;
  JPEGOption.Quality = 99;
  ASSERT_TRUE(LeaveProfile(A));
  LoadIniFile(B, Effects);
  EXPECT_EQ(JPEGOption.Quality, 40);
  const TMemIniFile Old(A);
  EXPECT_EQ(Old.ReadInteger("File", "StartNumber", 0), 8);
  EXPECT_EQ(Old.ReadInteger("JPEG", "Quality", 0), 70);
}

TEST_F(SettingsFile, ProfilesListDefaultFirstThenTheOthersByName) {
  for (const char *Name : {"web.ini", "Album.INI", "notes.txt", "b.ini"}) std::ofstream(SettingsFolder() + Name) << "";
  fs::create_directory(SettingsFolder() + "folder.ini");
  std::vector<std::string> Captions;
  for (const TProfileEntry &P : ListProfiles()) Captions.push_back(P.Caption);
  EXPECT_EQ(Captions, (std::vector<std::string>{"Default", "Album", "b", "web"}));
  EXPECT_EQ(ListProfiles().front().Path, DefaultSettingsFile());
  EXPECT_EQ(ListProfiles()[3].Path, SettingsFolder() + "web.ini");
}

struct TRetryCase {
  const char *Name;
  int Failures;        // failures before the write succeeds
  bool AnswerRetry;    // what the box answers
  bool Saved;
  int Asked;
};
void PrintTo(const TRetryCase &C, std::ostream *Os) { *Os << C.Name; }

class WriteProcedure : public ::testing::TestWithParam<TRetryCase> {};

TEST_P(WriteProcedure, RetriesQuietlyThenAsks) {
  const TRetryCase &C = GetParam();
  int Attempts = 0, Asked = 0;
  std::string Message;
  const bool Saved = WriteWithRetries(
      [&] {
        if (Attempts++ < C.Failures) throw ETessivoError("disk busy");
      },
      [&](const std::string &Text) {
        ++Asked;
        Message = Text;
        return C.AnswerRetry && Asked < 100;
      });
  EXPECT_EQ(Saved, C.Saved);
  EXPECT_EQ(Asked, C.Asked);
  if (Asked > 0) {
    EXPECT_EQ(Message, "disk busy");
  }
}

INSTANTIATE_TEST_SUITE_P(SettingsFile, WriteProcedure,
                         ::testing::Values(TRetryCase{"FirstAttemptWorks", 0, false, true, 0},
                                           TRetryCase{"NineteenQuietFailures", 19, false, true, 0},
                                           TRetryCase{"TheTwentiethFailureAsks", 20, true, true, 1},
                                           TRetryCase{"RetryAfterAsking", 23, true, true, 4},
                                           TRetryCase{"CancelGivesUp", 1000, false, false, 1}),
                         [](const ::testing::TestParamInfo<TRetryCase> &I) { return std::string(I.param.Name); });

TEST_F(SettingsFile, AFileThatCannotBeWrittenGivesUpAndStaysAsItWas) {
  // A regular file where the folder should be: no write can succeed, even as root.
  std::ofstream(Dir + "/plain") << "x";
  int Asked = 0;
  EXPECT_FALSE(SaveIniFile(Dir + "/plain/TessivoPlus.ini", Effects, [&](const std::string &) {
    ++Asked;
    return false;
  }));
  EXPECT_EQ(Asked, 1);
  EXPECT_EQ(Bytes(Dir + "/plain"), "x");
}
