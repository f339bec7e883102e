// The format dialog on the offscreen platform: every field of every page
// from its control into its record on OK and nowhere on Cancel, the
// remembered page, the enabling and showing rules, the ranges of the
// numeric fields, the messages, the conversion-table edits, and a table
// registered through the JPEG page used by a real tessivo run (its output's
// tables read back by djpeg).

#include "app/SettingsFile.h"
#include "app/tests/RunTessivo.h"
#include "app/window/options/FormatOptionForm.h"
#include "app/window/options/NumEdit.h"
#include "app/window/tests/OffscreenApplication.h"
#include "batch/ConvertOption.h"
#include "batch/FileNameTemplate.h"
#include "core/IniFile.h"
#include "lossless/WembSettings.h"
#include "testutil/OutsideTool.h"
#include "testutil/TestEnv.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

[[maybe_unused]] ::testing::Environment *const QtEnvironment =
    ::testing::AddGlobalTestEnvironment(new windowtest::TOffscreenApplication);

// A field of a program-wide record, read and written as a number.
struct TRef {
  std::function<int64_t()> Get;
  std::function<void(int64_t)> Set;
};
template <class T>
TRef Ref(T &Field) {
  return {[&Field] { return int64_t(Field); }, [&Field](int64_t V) { Field = T(V); }};
}

// Every record the dialog may touch, as text, to see that nothing else moved.
std::string Snapshot() {
  TMemIniFile Ini;
  WriteFormatOptions(Ini);
  WriteWembSettings(Ini, WembSettings);
  std::ostringstream S;
  S << Ini.SaveToBytes() << "|page " << WindowSettings.FormatOptionPage << "|";
  for (const std::string &Row : ConvertTable) S << Row << ";";
  S << "|map " << ConvertMap.size();
  for (int32_t C : SystemOption.CustomPalette) S << "," << C;
  for (int i = 0; i < 64; ++i) S << "," << JPEGOption.LumaQT[i] << "/" << JPEGOption.ChromaQT[i];
  return S.str();
}

void ResetRecords() {
  JPEGOption = {};
  BitmapOption = {};
  PNGOption = {};
  TIFFOption = {};
  HDPOption = {};
  MetadataOption = {};
  WembSettings = TWembSettings();
  LoadConvertTable({});
  WindowSettings = {};
  SystemOption.CustomPalette = {};
}

// A JPEG made by cjpeg from a small gradient with the given tables (natural
// order, 64 values each), or "" when cjpeg is missing.
std::string CjpegWithTables(const std::string &Dir, const std::vector<std::vector<int>> &Tables) {
  const std::string Ppm = Dir + "/src.ppm", Q = Dir + "/tables.txt", Out = Dir + "/tables.jpg";
  {
    std::ofstream P(Ppm, std::ios::binary);
    P << "P6\n32 32\n255\n";
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < 32; ++x) P.put(char(x * 8)).put(char(y * 8)).put(char(128));
    std::ofstream T(Q);
    for (const auto &Table : Tables) {
      for (size_t i = 0; i < 64; ++i) T << Table[i] << ((i % 8) == 7 ? "\n" : " ");
      T << "\n";
    }
  }
  const std::string Cmd = "cjpeg -qtables " + testenv::ShellQuoted(Q) + " -qslots 0,1 -outfile " +
                          testenv::ShellQuoted(Out) + " " + testenv::ShellQuoted(Ppm) + " && echo ok";
  return testenv::Capture(Cmd).empty() ? std::string() : Out;
}

class FormatOptionForm : public ::testing::Test {
public:
  void SetUp() override {
    char Tmpl[] = "/tmp/tessivo-format-form-XXXXXX";
    Dir = ::mkdtemp(Tmpl);
    fs::create_directories(Dir + "/bin");
    ::setenv("TESSIVOPLUS_DATA", (Dir + "/data").c_str(), 1);
    ResetRecords();
  }
  void TearDown() override {
    ResetRecords();
    ::unsetenv("TESSIVOPLUS_DATA");
    fs::remove_all(Dir);
  }

  TFormatOptionPlace Place() {
    TFormatOptionPlace P;
    P.DataFolder = Dir + "/data";
    P.BinFolder = Dir + "/bin";
    P.InputBox = [this](const QString &Title, const QString &Prompt, QString &Text) {
      Asked.push_back(Title.toStdString() + "|" + Prompt.toStdString() + "|" + Text.toStdString());
      if (Answers.empty()) return false;
      Text = QString::fromStdString(Answers.front());
      Answers.pop_front();
      return true;
    };
    P.Warn = [this](const QString &Text) { Warnings.push_back(Text.toStdString()); };
    P.Confirm = [this](const QString &Text) {
      Questions.push_back(Text.toStdString());
      return ConfirmAnswer;
    };
    P.ChooseColor = [this](uint32_t &Color, std::array<int32_t, 16> &Custom) {
      StartColor = Color;
      if (NextCustom0 >= 0) Custom[0] = NextCustom0;
      Color = NextColor;
      return true;
    };
    P.RunRegistration = [this](TQuantizationTableDialog &D) {
      if (Registration) Registration(D);
    };
    return P;
  }

  // Registers a table pair named Name from a JPEG with two tables.
  void RegisterPair(const std::string &Name, uint8_t First = 2) {
    TQuantizationTableForm F(Dir + "/data");
    std::vector<uint8_t> J{0xFF, 0xD8, 0xFF, 0xDB, 0x00, 2 + 2 * 65};
    for (uint8_t Id : {0, 1}) {
      J.push_back(Id);
      for (int i = 0; i < 64; ++i) J.push_back(uint8_t(First + i + Id));
    }
    J.insert(J.end(), {0xFF, 0xDA, 0x00, 0x02, 0xFF, 0xD9});
    const std::string Path = Dir + "/pair.jpg";
    std::ofstream(Path, std::ios::binary).write(reinterpret_cast<const char *>(J.data()), std::streamsize(J.size()));
    F.Drop(Path);
    F.Register(Name);
  }

  std::string Dir;
  std::deque<std::string> Answers;
  std::vector<std::string> Asked, Warnings, Questions;
  bool ConfirmAnswer = true;
  uint32_t NextColor = 0x123456, StartColor = 0;
  int32_t NextCustom0 = -1;
  std::function<void(TQuantizationTableDialog &)> Registration;
};

// Puts Text into a numeric field as if typed (a disabled field, too: the
// page stores it all the same).
void TypeInto(TNumEdit *F, const char *Text) { F->findChild<QLineEdit *>()->setText(QString::fromUtf8(Text)); }

// ---- every field, OK and Cancel ----

struct TFieldCase {
  const char *Name;
  std::function<TRef()> Field;
  std::function<void(TFormatOptionForm &, FormatOptionForm &)> Change;
  int64_t Want;
};

void Tick(QCheckBox *C) { C->setChecked(!C->isChecked()); }

const std::vector<TFieldCase> &FieldCases() {
  using F = TFormatOptionForm;
  using X = FormatOptionForm;
  static const std::vector<TFieldCase> Cases = {
      // BMP
      {"BmpAlphaChannelSupport", [] { return Ref(BitmapOption.AlphaChannelSupport); }, [](F &f, X &) { Tick(f.BitmapPage->AlphaChannelSupport); }, 0},
      {"BmpHeaderType", [] { return Ref(BitmapOption.AlphaBitmapHeaderType); }, [](F &f, X &) { f.BitmapPage->AlphaBitmapHeaderType->setCurrentIndex(0); }, 0},
      {"BmpAlphaCheckType", [] { return Ref(BitmapOption.AlphaCheckType); }, [](F &f, X &) { f.BitmapPage->AlphaCheckType->setCurrentIndex(2); }, 2},
      {"BmpIndexColor", [] { return Ref(BitmapOption.IndexColor); }, [](F &f, X &) { Tick(f.BitmapPage->IndexColor); }, 1},
      // JPEG
      {"JpegQuality", [] { return Ref(JPEGOption.Quality); }, [](F &f, X &) { TypeInto(f.JPEGPage->Quality, "80"); }, 80},
      {"JpegSmoothing", [] { return Ref(JPEGOption.Smoothing); }, [](F &f, X &) { TypeInto(f.JPEGPage->Smoothing, "15"); }, 15},
      {"JpegSampleType", [] { return Ref(JPEGOption.SampleType); }, [](F &f, X &) { f.JPEGPage->SampleType->setCurrentIndex(3); }, 3},
      {"JpegDecodeWithDownScaling", [] { return Ref(JPEGOption.DecodeWithDownScaling); }, [](F &f, X &) { f.JPEGPage->DecodeWithDownScaling->setCurrentIndex(2); }, 2},
      {"JpegDownScalingLimit", [] { return Ref(JPEGOption.DownScalingLimit); }, [](F &f, X &) { TypeInto(f.JPEGPage->DownScalingLimit, "350"); }, 350},
      {"JpegDCTMethod", [] { return Ref(JPEGOption.DCTMethod); }, [](F &f, X &) { f.JPEGPage->DCTMethod->setCurrentIndex(1); }, 1},
      {"JpegUseFileSizeLimit", [] { return Ref(JPEGOption.UseFileSizeLimit); }, [](F &f, X &) { Tick(f.JPEGPage->UseFileSizeLimit); }, 1},
      {"JpegFileSizeLimit", [] { return Ref(JPEGOption.FileSizeLimit); }, [](F &f, X &) { TypeInto(f.JPEGPage->FileSizeLimit, "512"); }, 512},
      {"JpegQualityLimit", [] { return Ref(JPEGOption.QualityLimit); }, [](F &f, X &) { TypeInto(f.JPEGPage->QualityLimit, "40"); }, 40},
      {"JpegSampleTypeLimit", [] { return Ref(JPEGOption.SampleTypeLimit); }, [](F &f, X &) { f.JPEGPage->SampleTypeLimit->setCurrentIndex(3); }, 3},
      {"JpegAlwaysRecompress", [] { return Ref(JPEGOption.AlwaysRecompress); }, [](F &f, X &) { Tick(f.JPEGPage->AlwaysRecompress); }, 1},
      {"JpegOmitAPP0Marker", [] { return Ref(JPEGOption.OmitAPP0Marker); }, [](F &f, X &) { Tick(f.JPEGPage->OmitAPP0Marker); }, 0},
      {"JpegKeepQuality", [] { return Ref(JPEGOption.KeepQuality); }, [](F &f, X &) { Tick(f.JPEGPage->KeepQuality); }, 1},
      {"JpegProgressive", [] { return Ref(JPEGOption.Progressive); }, [](F &f, X &) { Tick(f.JPEGPage->Progressive); }, 1},
      // PNG
      {"PngCompressLevel", [] { return Ref(PNGOption.CompressLevel); }, [](F &f, X &) { TypeInto(f.PNGPage->CompressLevel, "3"); }, 3},
      {"PngFilterBits", [] { return Ref(PNGOption.Filter); }, [](F &f, X &) { Tick(f.PNGPage->Filters[1]); Tick(f.PNGPage->Filters[4]); }, 16 | 128},
      {"PngFilterNone", [] { return Ref(PNGOption.Filter); }, [](F &f, X &) { Tick(f.PNGPage->Filters[0]); }, 8},
      {"PngUsePNGOUT", [] { return Ref(PNGOption.UsePNGOUT); }, [](F &f, X &) { Tick(f.PNGPage->UsePNGOUT); }, 1},
      {"PngMaximumOptimization", [] { return Ref(PNGOption.MaximumOptimization); }, [](F &f, X &) { Tick(f.PNGPage->MaximumOptimization); }, 1},
      {"PngFullColorOptimization", [] { return Ref(PNGOption.FullColorOptimization); }, [](F &f, X &) { Tick(f.PNGPage->FullColorOptimization); }, 1},
      {"PngIndexColor", [] { return Ref(PNGOption.IndexColor); }, [](F &f, X &) { Tick(f.PNGPage->IndexColor); }, 0},
      {"PngTransparentType", [] { return Ref(PNGOption.TransparentType); }, [](F &f, X &) { f.PNGPage->TransparentType->setCurrentIndex(5); }, 5},
      {"PngTransparentColor", [] { return Ref(PNGOption.TransparentColor); }, [](F &f, X &) { f.PNGPage->ChangeColor(); }, 0x123456},
      {"PngCustomColorsOfTheColorDialog", [] { return Ref(SystemOption.CustomPalette[0]); }, [](F &f, X &x) { x.NextCustom0 = 0x00ABCDEF; x.NextColor = 0; f.PNGPage->ChangeColor(); }, 0x00ABCDEF},
      {"PngUsebKGDChunk", [] { return Ref(PNGOption.UsebKGDChunk); }, [](F &f, X &) { Tick(f.PNGPage->UsebKGDChunk); }, 0},
      {"Png16Bit", [] { return Ref(PNGOption.Is16Bit); }, [](F &f, X &) { f.PNGPage->Is16Bit->setCurrentIndex(1); }, 1},
      {"PngUseWIC", [] { return Ref(PNGOption.UseWIC); }, [](F &f, X &) { Tick(f.PNGPage->UseWIC); }, 1},
      // TIFF
      {"TiffCompressionMethod", [] { return Ref(TIFFOption.CompressionMethod); }, [](F &f, X &) { f.TIFFPage->CompressionMethod->setCurrentIndex(3); }, 3},
      {"TiffEmbedThumbnail", [] { return Ref(TIFFOption.EmbedThumbnail); }, [](F &f, X &) { Tick(f.TIFFPage->EmbedThumbnail); }, 0},
      {"Tiff16Bit", [] { return Ref(TIFFOption.Is16Bit); }, [](F &f, X &) { f.TIFFPage->Is16Bit->setCurrentIndex(0); }, 0},
      {"TiffIndexColor", [] { return Ref(TIFFOption.IndexColor); }, [](F &f, X &) { Tick(f.TIFFPage->IndexColor); }, 0},
      // HD Photo
      {"HdpUseCodecOptions", [] { return Ref(HDPOption.UseCodecOptions); }, [](F &f, X &) { Tick(f.HDPPage->UseCodecOptions); }, 1},
      {"HdpQualityStoredAs101MinusShown", [] { return Ref(HDPOption.Quality); }, [](F &f, X &) { TypeInto(f.HDPPage->Quality, "70"); }, 31},
      {"HdpQualityFromItsScrollBar", [] { return Ref(HDPOption.Quality); }, [](F &f, X &) { f.HDPPage->QualityBar->setValue(80); }, 21},
      {"HdpOverlap", [] { return Ref(HDPOption.Overlap); }, [](F &f, X &) { TypeInto(f.HDPPage->Overlap, "2"); }, 2},
      {"HdpSubsamplingStoredAsIndexPlusOne", [] { return Ref(HDPOption.Subsampling); }, [](F &f, X &) { f.HDPPage->Subsampling->setCurrentIndex(0); }, 1},
      {"HdpHorizontalTilesStoredMinusOne", [] { return Ref(HDPOption.HorizontalTileSlices); }, [](F &f, X &) { TypeInto(f.HDPPage->HorizontalTileSlices, "8"); }, 7},
      {"HdpVerticalTilesStoredMinusOne", [] { return Ref(HDPOption.VerticalTileSlices); }, [](F &f, X &) { TypeInto(f.HDPPage->VerticalTileSlices, "16"); }, 15},
      {"HdpInterleavedAlphaIsTheOppositeOfTheBox", [] { return Ref(HDPOption.InterleavedAlpha); }, [](F &f, X &) { Tick(f.HDPPage->AlphaQualityOn); }, 1},
      {"HdpAlphaQuality", [] { return Ref(HDPOption.AlphaQuality); }, [](F &f, X &) { TypeInto(f.HDPPage->AlphaQuality, "50"); }, 51},
      {"HdpAlphaQualityFromItsScrollBar", [] { return Ref(HDPOption.AlphaQuality); }, [](F &f, X &) { f.HDPPage->AlphaQualityBar->setValue(100); }, 1},
      {"HdpEmbedThumbnail", [] { return Ref(HDPOption.EmbedThumbnail); }, [](F &f, X &) { Tick(f.HDPPage->EmbedThumbnail); }, 0},
      {"Hdp16Bit", [] { return Ref(HDPOption.Is16Bit); }, [](F &f, X &) { f.HDPPage->Is16Bit->setCurrentIndex(1); }, 1},
      // metadata
      {"MetaAddExifInfo", [] { return Ref(JPEGOption.AddExifInfo); }, [](F &f, X &) { Tick(f.MetadataPage->AddExifInfo); }, 0},
      {"MetaUpdateExif", [] { return Ref(JPEGOption.UpdateExif); }, [](F &f, X &) { Tick(f.MetadataPage->UpdateExif); }, 0},
      {"MetaUpdateExifResolution", [] { return Ref(JPEGOption.UpdateExifResolution); }, [](F &f, X &) { Tick(f.MetadataPage->UpdateExifResolution); }, 1},
      {"MetaUpdateExifThumbnail", [] { return Ref(JPEGOption.UpdateExifThumbnail); }, [](F &f, X &) { Tick(f.MetadataPage->UpdateExifThumbnail); }, 1},
      {"MetaUpdateSoftwareTag", [] { return Ref(MetadataOption.UpdateSoftwareTag); }, [](F &f, X &) { Tick(f.MetadataPage->UpdateSoftwareTag); }, 0},
      {"MetaDeleteGPSInfoAsLongBool", [] { return Ref(WembSettings.Option.DeleteGPSInfoIFD); }, [](F &f, X &) { Tick(f.MetadataPage->DeleteGPSInfo); }, -1},
      {"MetaKeepICCProfile", [] { return Ref(MetadataOption.KeepICCProfile); }, [](F &f, X &) { Tick(f.MetadataPage->KeepICCProfile); }, 0},
      {"MetaKeepCreationTime", [] { return Ref(MetadataOption.KeepCreationTime); }, [](F &f, X &) { Tick(f.MetadataPage->KeepCreationTime); }, 1},
      {"MetaKeepLastWriteTime", [] { return Ref(MetadataOption.KeepLastWriteTime); }, [](F &f, X &) { Tick(f.MetadataPage->KeepLastWriteTime); }, 1},
      {"MetaKeepResolution", [] { return Ref(MetadataOption.KeepResolution); }, [](F &f, X &) { Tick(f.MetadataPage->KeepResolution); }, 0},
      {"MetaResolution", [] { return Ref(MetadataOption.Resolution); }, [](F &f, X &) { TypeInto(f.MetadataPage->Resolution, "300"); }, 300},
      {"MetaWritepHYsChunk", [] { return Ref(PNGOption.WritepHYsChunk); }, [](F &f, X &) { Tick(f.MetadataPage->WritepHYsChunk); }, 1},
      {"MetaKeepAllExtraMarker", [] { return Ref(MetadataOption.KeepAllExtraMarker); }, [](F &f, X &) { Tick(f.MetadataPage->KeepAllExtraMarker); }, 1},
      {"MetaUpdateTimestampFromExif", [] { return Ref(MetadataOption.UpdateTimestampFromExif); }, [](F &f, X &) { Tick(f.MetadataPage->UpdateTimestampFromExif); }, 1},
  };
  return Cases;
}

class FormatOptionField : public FormatOptionForm, public ::testing::WithParamInterface<TFieldCase> {};

TEST_P(FormatOptionField, GoesIntoItsRecordOnOKAndNowhereElse) {
  const TFieldCase &C = GetParam();
  // The optimiser is there, so its boxes can be used.
  std::ofstream(Dir + "/bin/pngout") << "#!/bin/sh\n";
  const TRef Field = C.Field();
  const int64_t Old = Field.Get();
  ASSERT_NE(Old, C.Want) << "the case must change the field";
  const std::string Before = Snapshot();
  TFormatOptionForm Form(FORMAT_PAGE_BMP, Place());
  C.Change(Form, *this);
  EXPECT_EQ(Field.Get(), Old) << "nothing is stored before OK";
  Form.accept();
  EXPECT_EQ(Field.Get(), C.Want);
  Field.Set(Old);
  EXPECT_EQ(Snapshot(), Before) << "OK changed another setting as well";
}

INSTANTIATE_TEST_SUITE_P(Fields, FormatOptionField, ::testing::ValuesIn(FieldCases()),
                         [](const auto &Info) { return std::string(Info.param.Name); });

TEST_F(FormatOptionForm, CancelAfterChangesOnEveryPageLeavesEverySettingAndTheRememberedPage) {
  std::ofstream(Dir + "/bin/pngout") << "#!/bin/sh\n";
  RegisterPair("Mine");
  WindowSettings.FormatOptionPage = 2;
  const std::string Before = Snapshot();
  TFormatOptionForm Form(WindowSettings.FormatOptionPage, Place());
  EXPECT_EQ(Form.Pages->currentIndex(), 2);
  for (const TFieldCase &C : FieldCases()) C.Change(Form, *this);
  Form.JPEGPage->UseQuantizationTable->setChecked(true);
  Answers = {"gif"};
  Form.ConvertPage->AddRow();
  Form.ConvertPage->SelectRow(0);
  Form.ConvertPage->DeleteRow();
  Form.Pages->setCurrentIndex(FORMAT_PAGE_METADATA);
  Form.reject();
  EXPECT_EQ(Snapshot(), Before);
  EXPECT_EQ(WindowSettings.FormatOptionPage, 2);
}

TEST_F(FormatOptionForm, OKAfterChangesOnEveryPageStoresThemAllAndRemembersTheShownPage) {
  std::ofstream(Dir + "/bin/pngout") << "#!/bin/sh\n";
  TFormatOptionForm Form(FORMAT_PAGE_HDP, Place());
  EXPECT_EQ(Form.Pages->currentIndex(), FORMAT_PAGE_HDP);
  // The cases that edit distinct fields, all at once.
  std::vector<const TFieldCase *> Distinct;
  std::set<std::string> Seen;
  for (const TFieldCase &C : FieldCases()) {
    const std::string N = C.Name;
    if (N == "PngFilterNone" || N == "HdpQualityFromItsScrollBar" || N == "HdpAlphaQualityFromItsScrollBar" ||
        N == "PngCustomColorsOfTheColorDialog")
      continue;
    Distinct.push_back(&C);
  }
  for (const TFieldCase *C : Distinct) C->Change(Form, *this);
  Form.Pages->setCurrentIndex(FORMAT_PAGE_TIFF);
  Form.accept();
  for (const TFieldCase *C : Distinct) EXPECT_EQ(C->Field().Get(), C->Want) << C->Name;
  EXPECT_EQ(WindowSettings.FormatOptionPage, FORMAT_PAGE_TIFF);
}

TEST_F(FormatOptionForm, OpensOnTheGivenPageAndOnTheFirstForAPageOutOfRange) {
  const char *Captions[] = {"BMP設定", "JPEG設定", "PNG設定", "TIFF設定", "HD Photo設定", "フォーマット変換設定", "メタデータ設定"};
  const char *Tabs[] = {"BMP", "JPEG", "PNG", "TIFF", "JPEG XR", "コンバート", "メタデータ"};
  for (int32_t Page = 0; Page < FORMAT_PAGE_COUNT; ++Page) {
    TFormatOptionForm Form(Page, Place());
    EXPECT_EQ(Form.windowTitle().toStdString(), "フォーマット設定");
    EXPECT_EQ(Form.Pages->currentIndex(), Page);
    EXPECT_EQ(Form.Pages->tabText(Page).toStdString(), Tabs[Page]);
    EXPECT_EQ(Form.Pages->widget(Page)->windowTitle().toStdString(), Captions[Page]);
  }
  for (int32_t Page : {-1, 7, 99}) EXPECT_EQ(TFormatOptionForm(Page, Place()).Pages->currentIndex(), 0) << Page;
}

// The two commands: the remembered page, and the conversion page.
TEST_F(FormatOptionForm, TheCommandsOpenOnTheRememberedPageAndOnTheConversionPage) {
  struct {
    const char *Name;
    bool (*Show)(QWidget *);
    int32_t Remembered, Want;
  } const Cases[] = {{"format settings", ShowFormatOptionForm, 3, 3},
                     {"format settings, first page", ShowFormatOptionForm, 0, 0},
                     {"conversion table", ShowConvertTableForm, 6, FORMAT_PAGE_CONVERT}};
  for (const auto &C : Cases) {
    WindowSettings.FormatOptionPage = C.Remembered;
    int Shown = -1;
    QTimer::singleShot(0, [&Shown] {
      auto *F = qobject_cast<TFormatOptionForm *>(QApplication::activeModalWidget());
      if (!F) return;
      Shown = F->Pages->currentIndex();
      F->reject();
    });
    EXPECT_FALSE(C.Show(nullptr)) << C.Name;
    EXPECT_EQ(Shown, C.Want) << C.Name;
    EXPECT_EQ(WindowSettings.FormatOptionPage, C.Remembered) << C.Name << ": Cancel keeps the page";
  }
}

// ---- enabling and showing ----

struct TRuleCase {
  const char *Name;
  std::function<void()> Records;  // before the dialog opens
  std::function<void(TFormatOptionForm &)> Act;
  std::function<std::vector<QWidget *>(TFormatOptionForm &)> Widgets;
  bool Enabled;  // or shown, with Shown
  bool Shown = false;
};

class FormatOptionRule : public FormatOptionForm, public ::testing::WithParamInterface<TRuleCase> {};

TEST_P(FormatOptionRule, Holds) {
  const TRuleCase &C = GetParam();
  // A case named "...WithTables" has a registered pair, "...WithOptimiser"
  // the PNG optimiser in the bin folder.
  if (std::string(C.Name).find("WithTables") != std::string::npos) RegisterPair("Mine");
  if (std::string(C.Name).find("WithOptimiser") != std::string::npos) std::ofstream(Dir + "/bin/pngout") << "x";
  if (C.Records) C.Records();
  TFormatOptionForm Form(0, Place());
  if (C.Act) C.Act(Form);
  for (QWidget *W : C.Widgets(Form)) {
    if (C.Shown)
      EXPECT_EQ(!W->isHidden(), C.Enabled) << W->metaObject()->className();
    else
      EXPECT_EQ(W->isEnabled(), C.Enabled) << W->metaObject()->className();
  }
}

using FF = TFormatOptionForm;
template <class... T>
std::vector<QWidget *> W(T *...P) {
  return {static_cast<QWidget *>(P)...};
}

INSTANTIATE_TEST_SUITE_P(
    Rules, FormatOptionRule,
    ::testing::Values(
        TRuleCase{"BmpHeaderFollowsAlpha", [] { BitmapOption.AlphaChannelSupport = 0; }, nullptr, [](FF &f) { return W(f.BitmapPage->HeaderGroup, f.BitmapPage->AlphaBitmapHeaderType); }, false},
        TRuleCase{"BmpHeaderOnWhenAlphaTicked", [] { BitmapOption.AlphaChannelSupport = 0; }, [](FF &f) { f.BitmapPage->AlphaChannelSupport->setChecked(true); }, [](FF &f) { return W(f.BitmapPage->AlphaBitmapHeaderType); }, true},
        TRuleCase{"JpegLimitOffWithoutDownScaling", nullptr, nullptr, [](FF &f) { return W(f.JPEGPage->DownScalingLimit); }, false},
        TRuleCase{"JpegLimitOnWithDownScaling", nullptr, [](FF &f) { f.JPEGPage->DecodeWithDownScaling->setCurrentIndex(3); }, [](FF &f) { return W(f.JPEGPage->DownScalingLimit, f.JPEGPage->DownScalingGroup); }, true},
        TRuleCase{"JpegLimitOnWhenStoredDownScaling", [] { JPEGOption.DecodeWithDownScaling = 1; }, nullptr, [](FF &f) { return W(f.JPEGPage->DownScalingLimit); }, true},
        TRuleCase{"JpegSizeFieldsOffWithoutSizeLimit", nullptr, nullptr, [](FF &f) { return W(f.JPEGPage->FileSizeLimit, f.JPEGPage->QualityLimit, f.JPEGPage->SampleTypeLimit); }, false},
        TRuleCase{"JpegSizeFieldsOnWithSizeLimit", nullptr, [](FF &f) { f.JPEGPage->UseFileSizeLimit->setChecked(true); }, [](FF &f) { return W(f.JPEGPage->FileSizeLimit, f.JPEGPage->QualityLimit, f.JPEGPage->SampleTypeLimit); }, true},
        TRuleCase{"JpegTableBoxOffWithoutRegisteredTables", [] { JPEGOption.UseQuantizationTable = 1; }, nullptr, [](FF &f) { return W(f.JPEGPage->UseQuantizationTable, f.JPEGPage->LumaTable, f.JPEGPage->ChromaTable); }, false},
        TRuleCase{"JpegQualityOnWithoutRegisteredTablesEvenIfStored", [] { JPEGOption.UseQuantizationTable = 1; }, nullptr, [](FF &f) { return W(f.JPEGPage->Quality, f.JPEGPage->QualityLabel, f.JPEGPage->AddTable); }, true},
        TRuleCase{"JpegTableBoxOnWithTables", nullptr, nullptr, [](FF &f) { return W(f.JPEGPage->UseQuantizationTable); }, true},
        TRuleCase{"JpegTickingTablesTurnsQualityOffWithTables", nullptr, [](FF &f) { f.JPEGPage->UseQuantizationTable->setChecked(true); }, [](FF &f) { return W(f.JPEGPage->Quality, f.JPEGPage->QualityLabel); }, false},
        TRuleCase{"JpegTickingTablesTurnsTheListsOnWithTables", nullptr, [](FF &f) { f.JPEGPage->UseQuantizationTable->setChecked(true); }, [](FF &f) { return W(f.JPEGPage->LumaTable, f.JPEGPage->ChromaTable, f.JPEGPage->AddTable); }, true},
        TRuleCase{"JpegListsOffWhileTablesUntickedWithTables", nullptr, nullptr, [](FF &f) { return W(f.JPEGPage->LumaTable, f.JPEGPage->ChromaTable); }, false},
        TRuleCase{"PngOptimiserGroupOffWithoutTheProgram", [] { PNGOption.UsePNGOUT = 1; }, nullptr, [](FF &f) { return W(f.PNGPage->UsePNGOUT, f.PNGPage->MaximumOptimization); }, false},
        TRuleCase{"PngOptimiserBoxOnWithOptimiser", nullptr, nullptr, [](FF &f) { return W(f.PNGPage->UsePNGOUT); }, true},
        TRuleCase{"PngOptimisationsOffUntilTickedWithOptimiser", nullptr, nullptr, [](FF &f) { return W(f.PNGPage->MaximumOptimization, f.PNGPage->FullColorOptimization); }, false},
        TRuleCase{"PngOptimisationsOnWhenTickedWithOptimiser", nullptr, [](FF &f) { f.PNGPage->UsePNGOUT->setChecked(true); }, [](FF &f) { return W(f.PNGPage->MaximumOptimization, f.PNGPage->FullColorOptimization); }, true},
        TRuleCase{"PngTransparencyOffWithoutIndexColour", [] { PNGOption.IndexColor = 0; }, nullptr, [](FF &f) { return W(f.PNGPage->TransparentGroup, f.PNGPage->TransparentType); }, false},
        TRuleCase{"PngTransparencyOnWithIndexColour", nullptr, nullptr, [](FF &f) { return W(f.PNGPage->TransparentType); }, true},
        TRuleCase{"PngSwatchHiddenForACorner", [] { PNGOption.TransparentType = 5; }, [](FF &f) { f.PNGPage->TransparentType->setCurrentIndex(4); }, [](FF &f) { return W(f.PNGPage->Swatch, f.PNGPage->ChangeColorButton); }, false, true},
        TRuleCase{"PngSwatchShownForAnyColour", nullptr, [](FF &f) { f.PNGPage->TransparentType->setCurrentIndex(5); }, [](FF &f) { return W(f.PNGPage->Swatch, f.PNGPage->ChangeColorButton); }, true, true},
        TRuleCase{"HdpCodecGroupHiddenWithoutDetails", nullptr, nullptr, [](FF &f) { return W(f.HDPPage->CodecGroup); }, false, true},
        TRuleCase{"HdpCodecGroupShownWithDetails", nullptr, [](FF &f) { f.HDPPage->UseCodecOptions->setChecked(true); }, [](FF &f) { return W(f.HDPPage->CodecGroup); }, true, true},
        TRuleCase{"HdpAlphaQualityOffWhenInterleaved", [] { HDPOption.InterleavedAlpha = 1; }, nullptr, [](FF &f) { return W(f.HDPPage->AlphaQuality, f.HDPPage->AlphaQualityBar); }, false},
        TRuleCase{"HdpAlphaQualityOnWhenTicked", [] { HDPOption.InterleavedAlpha = 1; }, [](FF &f) { f.HDPPage->AlphaQualityOn->setChecked(true); }, [](FF &f) { return W(f.HDPPage->AlphaQuality, f.HDPPage->AlphaQualityBar); }, true},
        TRuleCase{"MetaExifBoxesOffWithoutExif", [] { JPEGOption.AddExifInfo = false; MetadataOption.KeepResolution = false; }, nullptr, [](FF &f) { auto &m = *f.MetadataPage; return W(m.UpdateExif, m.UpdateExifResolution, m.UpdateExifThumbnail, m.UpdateSoftwareTag, m.DeleteGPSInfo); }, false},
        TRuleCase{"MetaExifBoxesOnWithExif", nullptr, nullptr, [](FF &f) { auto &m = *f.MetadataPage; return W(m.UpdateExif, m.UpdateExifThumbnail, m.UpdateSoftwareTag, m.DeleteGPSInfo); }, true},
        TRuleCase{"MetaResolutionUpdateOffWhileResolutionKept", nullptr, nullptr, [](FF &f) { return W(f.MetadataPage->UpdateExifResolution); }, false},
        TRuleCase{"MetaResolutionUpdateOnWhenResolutionNotKept", nullptr, [](FF &f) { f.MetadataPage->KeepResolution->setChecked(false); }, [](FF &f) { return W(f.MetadataPage->UpdateExifResolution); }, true},
        TRuleCase{"MetaResolutionUpdateOffAgainWithoutExif", nullptr, [](FF &f) { f.MetadataPage->KeepResolution->setChecked(false); f.MetadataPage->AddExifInfo->setChecked(false); }, [](FF &f) { return W(f.MetadataPage->UpdateExifResolution); }, false},
        TRuleCase{"ConvertEditAndDeleteOffOnTheUndefinedRow", nullptr, [](FF &f) { f.ConvertPage->SelectRow(f.ConvertPage->Table->rowCount() - 1); }, [](FF &f) { return W(f.ConvertPage->EditButton, f.ConvertPage->DeleteButton); }, false},
        TRuleCase{"ConvertEditAndDeleteOnForAnotherRow", nullptr, [](FF &f) { f.ConvertPage->SelectRow(1); }, [](FF &f) { return W(f.ConvertPage->EditButton, f.ConvertPage->DeleteButton); }, true}),
    [](const auto &Info) { return std::string(Info.param.Name); });

// ---- ranges ----

struct TRangeCase {
  const char *Name;
  std::function<TNumEdit *(TFormatOptionForm &)> Field;
  const char *Typed;  // "" clears the field; "Up" presses the Up key once
  std::function<TRef()> Stored;
  int64_t Want;
};

class FormatOptionRange : public FormatOptionForm, public ::testing::WithParamInterface<TRangeCase> {};

TEST_P(FormatOptionRange, ClampsOrFallsBackToTheDefault) {
  const TRangeCase &C = GetParam();
  // Values apart from every default, so that a fall-back shows.
  JPEGOption.Quality = 80;
  JPEGOption.Smoothing = 5;
  JPEGOption.DownScalingLimit = 500;
  JPEGOption.FileSizeLimit = 300;
  JPEGOption.QualityLimit = 20;
  PNGOption.CompressLevel = 2;
  HDPOption.Quality = 51;
  HDPOption.AlphaQuality = 51;
  HDPOption.Overlap = 0;
  HDPOption.HorizontalTileSlices = 3;
  HDPOption.VerticalTileSlices = 3;
  MetadataOption.Resolution = 300;
  // The fields that step are switched on.
  JPEGOption.DecodeWithDownScaling = 1;
  JPEGOption.UseFileSizeLimit = true;
  TFormatOptionForm Form(0, Place());
  TNumEdit *F = C.Field(Form);
  if (std::string(C.Typed) == "Up") {
    QTest::keyClick(F, Qt::Key_Up);
  } else {
    TypeInto(F, C.Typed);
  }
  Form.accept();
  EXPECT_EQ(C.Stored().Get(), C.Want);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, FormatOptionRange,
    ::testing::Values(
        TRangeCase{"JpegQualityAbove100", [](FF &f) { return f.JPEGPage->Quality; }, "150", [] { return Ref(JPEGOption.Quality); }, 100},
        TRangeCase{"JpegQualityUnparsable", [](FF &f) { return f.JPEGPage->Quality; }, "-", [] { return Ref(JPEGOption.Quality); }, 90},
        TRangeCase{"JpegQualityEmpty", [](FF &f) { return f.JPEGPage->Quality; }, "", [] { return Ref(JPEGOption.Quality); }, 90},
        TRangeCase{"JpegSmoothingAbove100", [](FF &f) { return f.JPEGPage->Smoothing; }, "101", [] { return Ref(JPEGOption.Smoothing); }, 100},
        TRangeCase{"JpegSmoothingUnparsable", [](FF &f) { return f.JPEGPage->Smoothing; }, "-", [] { return Ref(JPEGOption.Smoothing); }, 0},
        TRangeCase{"JpegDownScalingLimitBelow100", [](FF &f) { return f.JPEGPage->DownScalingLimit; }, "50", [] { return Ref(JPEGOption.DownScalingLimit); }, 100},
        TRangeCase{"JpegDownScalingLimitAbove9999", [](FF &f) { return f.JPEGPage->DownScalingLimit; }, "99999", [] { return Ref(JPEGOption.DownScalingLimit); }, 9999},
        TRangeCase{"JpegDownScalingLimitUnparsable", [](FF &f) { return f.JPEGPage->DownScalingLimit; }, "-", [] { return Ref(JPEGOption.DownScalingLimit); }, 200},
        TRangeCase{"JpegDownScalingLimitStepsByTen", [](FF &f) { return f.JPEGPage->DownScalingLimit; }, "Up", [] { return Ref(JPEGOption.DownScalingLimit); }, 510},
        TRangeCase{"JpegFileSizeLimitBelow1", [](FF &f) { return f.JPEGPage->FileSizeLimit; }, "0", [] { return Ref(JPEGOption.FileSizeLimit); }, 1},
        TRangeCase{"JpegFileSizeLimitAbove9999", [](FF &f) { return f.JPEGPage->FileSizeLimit; }, "10000", [] { return Ref(JPEGOption.FileSizeLimit); }, 9999},
        TRangeCase{"JpegFileSizeLimitEmpty", [](FF &f) { return f.JPEGPage->FileSizeLimit; }, "", [] { return Ref(JPEGOption.FileSizeLimit); }, 200},
        TRangeCase{"JpegFileSizeLimitStepsByTen", [](FF &f) { return f.JPEGPage->FileSizeLimit; }, "Up", [] { return Ref(JPEGOption.FileSizeLimit); }, 310},
        TRangeCase{"JpegQualityLimitNegative", [](FF &f) { return f.JPEGPage->QualityLimit; }, "-5", [] { return Ref(JPEGOption.QualityLimit); }, 0},
        TRangeCase{"JpegQualityLimitUnparsable", [](FF &f) { return f.JPEGPage->QualityLimit; }, "-", [] { return Ref(JPEGOption.QualityLimit); }, 75},
        TRangeCase{"PngCompressLevelAbove9", [](FF &f) { return f.PNGPage->CompressLevel; }, "12", [] { return Ref(PNGOption.CompressLevel); }, 9},
        TRangeCase{"PngCompressLevelUnparsable", [](FF &f) { return f.PNGPage->CompressLevel; }, "-", [] { return Ref(PNGOption.CompressLevel); }, 6},
        TRangeCase{"HdpQualityNegative", [](FF &f) { return f.HDPPage->Quality; }, "-5", [] { return Ref(HDPOption.Quality); }, 101},
        TRangeCase{"HdpQualityEmpty", [](FF &f) { return f.HDPPage->Quality; }, "", [] { return Ref(HDPOption.Quality); }, 11},
        TRangeCase{"HdpAlphaQualityAbove100", [](FF &f) { return f.HDPPage->AlphaQuality; }, "101", [] { return Ref(HDPOption.AlphaQuality); }, 1},
        TRangeCase{"HdpOverlapAbove2", [](FF &f) { return f.HDPPage->Overlap; }, "3", [] { return Ref(HDPOption.Overlap); }, 2},
        TRangeCase{"HdpOverlapUnparsable", [](FF &f) { return f.HDPPage->Overlap; }, "-", [] { return Ref(HDPOption.Overlap); }, 1},
        TRangeCase{"HdpHorizontalTilesAbove4096", [](FF &f) { return f.HDPPage->HorizontalTileSlices; }, "5000", [] { return Ref(HDPOption.HorizontalTileSlices); }, 4095},
        TRangeCase{"HdpHorizontalTilesBelow1", [](FF &f) { return f.HDPPage->HorizontalTileSlices; }, "0", [] { return Ref(HDPOption.HorizontalTileSlices); }, 0},
        TRangeCase{"HdpVerticalTilesUnparsable", [](FF &f) { return f.HDPPage->VerticalTileSlices; }, "-", [] { return Ref(HDPOption.VerticalTileSlices); }, 0},
        TRangeCase{"HdpVerticalTilesAbove4096", [](FF &f) { return f.HDPPage->VerticalTileSlices; }, "4097", [] { return Ref(HDPOption.VerticalTileSlices); }, 4095},
        TRangeCase{"MetaResolutionAbove9999", [](FF &f) { return f.MetadataPage->Resolution; }, "10000", [] { return Ref(MetadataOption.Resolution); }, 9999},
        TRangeCase{"MetaResolutionNegative", [](FF &f) { return f.MetadataPage->Resolution; }, "-3", [] { return Ref(MetadataOption.Resolution); }, 0},
        TRangeCase{"MetaResolutionUnparsable", [](FF &f) { return f.MetadataPage->Resolution; }, "-", [] { return Ref(MetadataOption.Resolution); }, 72}),
    [](const auto &Info) { return std::string(Info.param.Name); });

// ---- values stored out of range, and values the lists do not hold ----

TEST_F(FormatOptionForm, StoredValuesOutsideTheControlsAreShownInRangeAndStoredSo) {
  JPEGOption.Quality = 150;
  JPEGOption.SampleType = 9;
  PNGOption.CompressLevel = -4;
  TIFFOption.CompressionMethod = 7;
  HDPOption.Subsampling = 0;
  HDPOption.Quality = -20;
  TFormatOptionForm Form(0, Place());
  EXPECT_EQ(Form.JPEGPage->Quality->value(), 100);
  EXPECT_EQ(Form.JPEGPage->SampleType->currentIndex(), 0);
  EXPECT_EQ(Form.PNGPage->CompressLevel->value(), 0);
  EXPECT_EQ(Form.TIFFPage->CompressionMethod->currentIndex(), 0);
  EXPECT_EQ(Form.HDPPage->Subsampling->currentIndex(), 2);
  EXPECT_EQ(Form.HDPPage->Quality->value(), 100);
  Form.accept();
  EXPECT_EQ(JPEGOption.Quality, 100);
  EXPECT_EQ(JPEGOption.SampleType, 0);
  EXPECT_EQ(PNGOption.CompressLevel, 0);
  EXPECT_EQ(TIFFOption.CompressionMethod, 0);
  EXPECT_EQ(HDPOption.Subsampling, 3);
  EXPECT_EQ(HDPOption.Quality, 1);
}

TEST_F(FormatOptionForm, TheJPEGPageLowersTheSizeSearchLimitsOnOK) {
  JPEGOption.QualityLimit = 75;
  JPEGOption.SampleTypeLimit = 2;
  TFormatOptionForm Form(0, Place());
  TypeInto(Form.JPEGPage->Quality, "60");
  Form.JPEGPage->SampleType->setCurrentIndex(1);
  Form.accept();
  EXPECT_EQ(JPEGOption.QualityLimit, 60);
  EXPECT_EQ(JPEGOption.SampleTypeLimit, 1);
}

TEST_F(FormatOptionForm, HDPQualityScrollBarsAndFieldsShowTheSameValue) {
  HDPOption.Quality = 31;       // shown as 70
  HDPOption.AlphaQuality = 101; // shown as 0
  TFormatOptionForm Form(FORMAT_PAGE_HDP, Place());
  THDPOptionForm &H = *Form.HDPPage;
  EXPECT_EQ(H.QualityBar->value(), 70);
  EXPECT_EQ(H.AlphaQualityBar->value(), 0);
  struct {
    QScrollBar *Bar;
    TNumEdit *Field;
  } const Pairs[] = {{H.QualityBar, H.Quality}, {H.AlphaQualityBar, H.AlphaQuality}};
  for (const auto &P : Pairs) {
    P.Field->setValue(33);
    EXPECT_EQ(P.Bar->value(), 33);
    P.Bar->setValue(44);
    EXPECT_EQ(P.Field->value(), 44);
    EXPECT_EQ(P.Bar->minimum(), 0);
    EXPECT_EQ(P.Bar->maximum(), 100);
  }
}

TEST_F(FormatOptionForm, TheColourDialogStartsWithTheStoredColour) {
  PNGOption.TransparentType = 5;
  PNGOption.TransparentColor = 0x00102030;
  TFormatOptionForm Form(0, Place());
  Form.PNGPage->ChangeColorButton->click();
  EXPECT_EQ(StartColor, 0x00102030u);
  EXPECT_EQ(Form.PNGPage->TransparentColor, 0x123456u);
  // Colour management is off here, so the swatch shows the colour itself.
  EXPECT_NE(Form.PNGPage->Swatch->styleSheet().indexOf(QStringLiteral("rgb(86, 52, 18)")), -1)
      << Form.PNGPage->Swatch->styleSheet().toStdString();
}

// ---- the conversion table ----

QString OutputCell(TFormatOptionForm &F, int Row) {
  return static_cast<QComboBox *>(F.ConvertPage->Table->cellWidget(Row, 1))->currentText();
}

TEST_F(FormatOptionForm, ConversionPageShowsTheTableWithItsPickListAndUnknownOutputs) {
  LoadConvertTable({".bmp=.bmp", ".gif=.gif", "未定義=.wdp"});
  TFormatOptionForm Form(FORMAT_PAGE_CONVERT, Place());
  QTableWidget *T = Form.ConvertPage->Table;
  ASSERT_EQ(T->rowCount(), 3);
  EXPECT_EQ(T->item(1, 0)->text().toStdString(), ".gif");
  EXPECT_EQ(OutputCell(Form, 0).toStdString(), "ビットマップ イメージ");
  EXPECT_EQ(OutputCell(Form, 1).toStdString(), "不明");
  EXPECT_EQ(OutputCell(Form, 2).toStdString(), "JPEG XR イメージ");
  auto *Pick = static_cast<QComboBox *>(T->cellWidget(0, 1));
  EXPECT_FALSE(Pick->isEditable()) << "the output cannot be typed";
  const char *Names[] = {"ビットマップ イメージ", "JPEG イメージ", "PNG イメージ", "JPEG XR イメージ", "TIFF イメージ"};
  ASSERT_EQ(Pick->count(), 5);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Pick->itemText(i).toStdString(), Names[i]);
  Form.accept();
  EXPECT_EQ(ConvertTable, (std::vector<std::string>{".bmp=.bmp", ".gif=???", "未定義=.wdp"}));
}

TEST_F(FormatOptionForm, AddingARegisteredExtensionWarnsAndAddsNothing) {
  TFormatOptionForm Form(FORMAT_PAGE_CONVERT, Place());
  const int Rows = Form.ConvertPage->Table->rowCount();
  Answers = {"gif,.JPG"};
  Form.ConvertPage->AddButton->click();
  ASSERT_EQ(Asked.size(), 1u);
  EXPECT_EQ(Asked[0], "拡張子の設定|追加登録する入力ファイルの拡張子|");
  EXPECT_EQ(Warnings, std::vector<std::string>{".jpgは登録済みの拡張子です"});
  EXPECT_EQ(Form.ConvertPage->Table->rowCount(), Rows);
  Form.ConvertPage->AddButton->click();  // Cancel in the input box
  EXPECT_EQ(Form.ConvertPage->Table->rowCount(), Rows);
  EXPECT_EQ(Warnings.size(), 1u);
}

TEST_F(FormatOptionForm, AddingEditingDeletingAndChoosingOutputsReachTheTableAndMapOnOK) {
  TFormatOptionForm Form(FORMAT_PAGE_CONVERT, Place());
  QTableWidget *T = Form.ConvertPage->Table;
  const int Rows = T->rowCount();
  Answers = {"gif"};
  Form.ConvertPage->AddButton->click();
  ASSERT_EQ(T->rowCount(), Rows + 1);
  EXPECT_EQ(T->currentRow(), Rows) << "the new row is selected";
  EXPECT_EQ(T->item(Rows, 0)->text().toStdString(), ".gif");
  EXPECT_EQ(OutputCell(Form, Rows).toStdString(), "ビットマップ イメージ");
  static_cast<QComboBox *>(T->cellWidget(Rows, 1))->setCurrentIndex(2);

  // The undefined row takes another output but stays.
  int Undefined = -1;
  for (int r = 0; r < T->rowCount(); ++r)
    if (T->item(r, 0)->text() == QStringLiteral("未定義")) Undefined = r;
  ASSERT_GE(Undefined, 0);
  static_cast<QComboBox *>(T->cellWidget(Undefined, 1))->setCurrentIndex(4);

  // Row 0 (".bmp") edited: the box comes filled with its inputs.
  Form.ConvertPage->SelectRow(0);
  Answers = {".bmp,.DIB"};
  Form.ConvertPage->EditButton->click();
  EXPECT_EQ(Asked.back(), "拡張子の設定|入力ファイルの拡張子|.bmp");
  EXPECT_EQ(T->item(0, 0)->text().toStdString(), ".bmp,.DIB");

  // The last row deleted: the row above is selected.
  Form.ConvertPage->SelectRow(T->rowCount() - 1);
  Form.ConvertPage->DeleteButton->click();
  EXPECT_EQ(T->rowCount(), Rows);
  EXPECT_EQ(T->currentRow(), Rows - 1);

  Form.accept();
  std::vector<std::string> Want = DefaultConvertRows();
  Want[0] = ".bmp,.DIB=.bmp";
  for (std::string &R : Want)
    if (R.rfind("未定義=", 0) == 0) R = "未定義=.tif";
  EXPECT_EQ(ConvertTable, Want);
  EXPECT_EQ(LookUpConvertMap(".dib"), ".bmp");
  EXPECT_EQ(LookUpConvertMap(".gif"), "") << "the deleted row maps nothing";
  EXPECT_EQ(LookUpConvertMap("未定義"), ".tif");
}

// ---- quantisation tables through the JPEG page ----

TEST_F(FormatOptionForm, RegistrationDialogShowsItsTextsAndRefusesBadInput) {
  TQuantizationTableDialog D(Place());
  EXPECT_EQ(D.Prompt->text().toStdString(), "量子化テーブルを抽出するJPEGファイルをドラッグ&ドロップしてください");
  EXPECT_EQ(D.Counter->text().toStdString(), "登録済みテーブル数   輝度:0  色差:0");
  EXPECT_FALSE(D.RegisterButton->isEnabled());

  // A file that is not a JPEG: no tables, nothing to register.
  std::ofstream(Dir + "/not.jpg") << "not a picture";
  D.DropFile(QString::fromStdString(Dir + "/not.jpg"));
  D.Name->setText(QStringLiteral("Mine"));
  EXPECT_EQ(D.Prompt->text().toStdString(), "not.jpg  量子化テーブル数:0");
  EXPECT_FALSE(D.RegisterButton->isEnabled());
  EXPECT_FALSE(D.Register());

  RegisterPair("Other");
  D.DropFile(QString::fromStdString(Dir + "/pair.jpg"));
  EXPECT_EQ(D.Prompt->text().toStdString(), "pair.jpg  量子化テーブル数:2");
  EXPECT_TRUE(D.RegisterButton->isEnabled());
  D.Name->clear();
  EXPECT_FALSE(D.RegisterButton->isEnabled()) << "no name";
  D.Name->setText(QStringLiteral("sub/Mine"));
  EXPECT_FALSE(D.Register());
  EXPECT_EQ(D.Message->text().toStdString(), "ファイル名に使用できない文字が含まれています");
  EXPECT_FALSE(fs::exists(Dir + "/data/LumaQT/sub"));

  D.Name->setText(QStringLiteral("Mine"));
  EXPECT_TRUE(D.Register());
  EXPECT_TRUE(Questions.empty());
  EXPECT_EQ(D.Counter->text().toStdString(), "登録済みテーブル数   輝度:2  色差:2");

  // Overwriting asks first; No keeps the file.
  const auto Stamp = fs::last_write_time(Dir + "/data/LumaQT/Mine.dqt");
  fs::last_write_time(Dir + "/data/LumaQT/Mine.dqt", Stamp - std::chrono::hours(1));
  ConfirmAnswer = false;
  EXPECT_FALSE(D.Register());
  EXPECT_EQ(Questions, std::vector<std::string>{"Mine.dqtは既に存在します。上書きしますか？"});
  EXPECT_EQ(fs::last_write_time(Dir + "/data/LumaQT/Mine.dqt"), Stamp - std::chrono::hours(1));
  ConfirmAnswer = true;
  EXPECT_TRUE(D.Register());
  EXPECT_NE(fs::last_write_time(Dir + "/data/LumaQT/Mine.dqt"), Stamp - std::chrono::hours(1));
}

TEST_F(FormatOptionForm, TheRegistrationDialogTakesOneDroppedLocalFile) {
  RegisterPair("Other");
  const QUrl Pair = QUrl::fromLocalFile(QString::fromStdString(Dir + "/pair.jpg"));
  struct {
    const char *Name;
    QList<QUrl> Urls;
    bool Accepted;
  } const Cases[] = {{"one file", {Pair}, true},
                     {"two files", {Pair, Pair}, false},
                     {"a web address", {QUrl(QStringLiteral("https://example.org/a.jpg"))}, false}};
  for (const auto &C : Cases) {
    TQuantizationTableDialog D(Place());
    QMimeData Data;
    Data.setUrls(C.Urls);
    QDragEnterEvent Enter(QPoint(5, 5), Qt::CopyAction, &Data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&D, &Enter);
    EXPECT_EQ(Enter.isAccepted(), C.Accepted) << C.Name;
    QDropEvent Drop(QPointF(5, 5), Qt::CopyAction, &Data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&D, &Drop);
    EXPECT_EQ(D.Prompt->text().toStdString() == "pair.jpg  量子化テーブル数:2", C.Accepted) << C.Name;
  }
}

TEST_F(FormatOptionForm, TablesRegisteredFromTheJPEGPageAreListedAndTheirValuesStoredOnOK) {
  TFormatOptionForm Form(FORMAT_PAGE_JPEG, Place());
  TJPEGOptionForm &J = *Form.JPEGPage;
  EXPECT_FALSE(J.UseQuantizationTable->isEnabled());
  EXPECT_EQ(J.LumaTable->count(), 0);
  Registration = [this](TQuantizationTableDialog &D) {
    RegisterPair("Source", 5);
    D.DropFile(QString::fromStdString(Dir + "/pair.jpg"));
    D.Name->setText(QStringLiteral("Fine"));
    D.RegisterButton->click();
  };
  J.AddTable->click();
  EXPECT_TRUE(J.UseQuantizationTable->isEnabled()) << "the lists were refreshed";
  ASSERT_EQ(J.LumaTable->count(), 2);
  EXPECT_EQ(J.LumaTable->itemText(0).toStdString(), "Fine");
  EXPECT_EQ(J.ChromaTable->itemText(1).toStdString(), "Source");
  J.UseQuantizationTable->setChecked(true);
  J.LumaTable->setCurrentIndex(0);
  J.ChromaTable->setCurrentIndex(1);
  Form.accept();
  EXPECT_EQ(JPEGOption.UseQuantizationTable, 1);
  EXPECT_EQ(JPEGOption.LumaTableName, "Fine.dqt");
  EXPECT_EQ(JPEGOption.ChromaTableName, "Source.dqt");
  // Zigzag position 2 is the first value of the second row.
  EXPECT_EQ(JPEGOption.LumaQT[0], 5);
  EXPECT_EQ(JPEGOption.LumaQT[8], 7);
  EXPECT_EQ(JPEGOption.ChromaQT[0], 6);
}

TEST_F(FormatOptionForm, TheTableChoiceIsStoredOffWhenTheBoxIsNotTickedOrAFileWentAway) {
  RegisterPair("Mine");
  JPEGOption.UseQuantizationTable = 1;
  JPEGOption.LumaTableName = JPEGOption.ChromaTableName = "Mine.dqt";
  {
    TFormatOptionForm Form(0, Place());
    EXPECT_TRUE(Form.JPEGPage->UseQuantizationTable->isChecked());
    Form.JPEGPage->UseQuantizationTable->setChecked(false);
    Form.accept();
    EXPECT_EQ(JPEGOption.UseQuantizationTable, 0);
  }
  JPEGOption.UseQuantizationTable = 1;
  TFormatOptionForm Form(0, Place());
  fs::remove(Dir + "/data/ChromaQT/Mine.dqt");
  Form.accept();
  EXPECT_EQ(JPEGOption.UseQuantizationTable, 0);
}

// The tables of the first frame of a JPEG as djpeg prints them (natural
// order, one table after another).
std::vector<std::vector<int>> DjpegTables(const std::string &Path) {
  std::vector<std::vector<int>> Tables;
  // djpeg writes its trace on standard error.
  const std::string Trace =
      testenv::Capture("(djpeg -verbose -verbose -outfile /dev/null " + testenv::ShellQuoted(Path) + " 2>&1)");
  std::istringstream In(Trace);
  std::string Line;
  while (std::getline(In, Line)) {
    if (Line.find("Define Quantization Table") != std::string::npos) {
      Tables.emplace_back();
      continue;
    }
    if (Tables.empty() || Tables.back().size() >= 64) continue;
    std::istringstream L(Line);
    int V;
    std::vector<int> Row;
    while (L >> V) Row.push_back(V);
    if (Row.size() == 8) Tables.back().insert(Tables.back().end(), Row.begin(), Row.end());
  }
  return Tables;
}

TEST_F(FormatOptionForm, ATableRegisteredAndChosenInTheDialogIsWhatTessivoWrites) {
  TESSIVO_REQUIRE(fs::exists(testrun::TessivoProgram())) << "tessivo";
  TESSIVO_REQUIRE(!testenv::Capture("command -v cjpeg && command -v djpeg").empty()) << "cjpeg and djpeg";
  // Two tables nobody would choose, in natural order.
  std::vector<int> Luma(64), Chroma(64);
  for (int i = 0; i < 64; ++i) {
    Luma[size_t(i)] = 3 + (i * 7) % 40;
    Chroma[size_t(i)] = 60 - (i % 9) * 5;
  }
  const std::string Source = CjpegWithTables(Dir, {Luma, Chroma});
  TESSIVO_REQUIRE(!Source.empty()) << "cjpeg -qtables";
  ASSERT_EQ(DjpegTables(Source), (std::vector<std::vector<int>>{Luma, Chroma})) << "cjpeg wrote other tables";

  TFormatOptionForm Form(FORMAT_PAGE_JPEG, Place());
  Registration = [&](TQuantizationTableDialog &D) {
    D.DropFile(QString::fromStdString(Source));
    D.Name->setText(QStringLiteral("Odd"));
    D.RegisterButton->click();
  };
  Form.JPEGPage->AddTable->click();
  ASSERT_TRUE(Form.JPEGPage->UseQuantizationTable->isEnabled());
  Form.JPEGPage->UseQuantizationTable->setChecked(true);
  Form.accept();
  ASSERT_EQ(JPEGOption.UseQuantizationTable, 1);

  // The profile as the program saves it, then a run over a picture that is
  // not a JPEG (a JPEG could be copied through unchanged).
  fs::create_directories(Dir + "/data/ini");
  fs::create_directories(Dir + "/p");
  TMemIniFile Ini(Dir + "/data/ini/qt.ini");
  WriteFormatOptions(Ini);
  Ini.UpdateFile();
  {
    std::ofstream Bmp(Dir + "/p/pic.bmp", std::ios::binary);
    const int W = 48, H = 32, Row = W * 3;
    const uint32_t Size = 54 + uint32_t(Row * H);
    auto U32 = [&Bmp](uint32_t V) { for (int i = 0; i < 4; ++i) Bmp.put(char(V >> (8 * i))); };
    auto U16 = [&Bmp](uint16_t V) { Bmp.put(char(V)).put(char(V >> 8)); };
    Bmp << "BM";
    U32(Size), U32(0), U32(54), U32(40), U32(W), U32(H), U16(1), U16(24), U32(0), U32(uint32_t(Row * H)), U32(2835),
        U32(2835), U32(0), U32(0);
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) Bmp.put(char(x * 5)).put(char(y * 7)).put(char((x + y) * 3));
  }
  const testrun::TRunPlace Where = testrun::IsolatedPlace(Dir, "stderr.txt");
  const testrun::TRun R = testrun::WaitTessivo(
      testrun::StartTessivo({"/ini=" + Dir + "/data/ini/qt.ini", "--format", "jpg", "--out", Dir + "/out/", Dir + "/p/pic.bmp"}, Where), Where);
  ASSERT_EQ(R.Status, 0) << testrun::ReadFile(Dir + "/stderr.txt");
  ASSERT_TRUE(fs::exists(Dir + "/out/pic.jpg"));
  EXPECT_EQ(DjpegTables(Dir + "/out/pic.jpg"), (std::vector<std::vector<int>>{Luma, Chroma}));
}

}  // namespace
