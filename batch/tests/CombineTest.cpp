// Image combining: the "Combine" section and its older switch, the rules of
// the settings dialog, the cell and resize geometry, the crop of the
// fill layout, and whole runs of the combining controller on small images
// made by ImageMagick, whose pages ImageMagick then measures and samples.
#include "batch/BatchObjects.h"
#include "batch/CombineOption.h"
#include "batch/CombineThread.h"
#include "batch/ConvertOption.h"
#include "batch/ErrorLogFrm.h"
#include "batch/ImageInfo.h"
#include "batch/ProgressFrm2.h"
#include "core/IniFile.h"
#include "core/ImgInfo.h"
#include "io/ImageProbe.h"
#include "io/Pixio.h"
#include "resample/Filter.h"
#include "resample/Resize.h"
#include "testutil/OutsideTool.h"
#include "testutil/TestEnv.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

// ---------------------------------------------------------------------------
// Settings and dialog rules

TEST(CombineSettings, MissingBlankTypeComesFromTheOlderFillBlankSwitch) {
  struct Case {
    const char *Text;
    int32_t BlankType;
  } Cases[] = {
      {"[Combine]\n", BLANK_GAPLESS},                            // neither: FillBlank defaults to on
      {"[Combine]\nFillBlank=1\n", BLANK_GAPLESS},
      {"[Combine]\nFillBlank=0\n", BLANK_FIT},
      {"[Combine]\nBlankType=1\nFillBlank=0\n", BLANK_FILL},     // BlankType wins when present
      {"[Combine]\nBlankType=0\nFillBlank=1\n", BLANK_FIT},
      {"[Combine]\nBlankType=-1\nFillBlank=0\n", BLANK_FIT},     // -1 is the missing mark
  };
  for (const Case &c : Cases) {
    TMemIniFile Ini;
    Ini.LoadFromBytes(c.Text);
    TCombineOption O;
    O.BlankType = 99;
    ReadCombineOption(Ini, O);
    EXPECT_EQ(O.BlankType, c.BlankType) << c.Text;
  }
}

TEST(CombineSettings, EmptySectionGivesTheDefaultsAndWrittenValuesReadBack) {
  TMemIniFile Empty;
  TCombineOption D;
  D.Width = D.Height = D.Rows = -5;
  ReadCombineOption(Empty, D);
  EXPECT_EQ(D.Width, 320);
  EXPECT_EQ(D.Height, 240);
  EXPECT_EQ(D.Percent, 10);
  EXPECT_EQ(D.RelativeSize, 0);
  EXPECT_EQ(D.Order, 0);
  EXPECT_EQ(D.Rows, 3);
  EXPECT_EQ(D.Columns, 3);
  EXPECT_EQ(D.RowSpace, 0);
  EXPECT_EQ(D.ColumnSpace, 0);
  EXPECT_EQ(D.BackgroundColor, 0xFFFFFFu);
  EXPECT_EQ(D.BlankType, BLANK_GAPLESS);

  TCombineOption O{640, 480, 25, 1, 1, 4, 2, 7, 9, 0x123456, BLANK_FILL};
  TMemIniFile Ini;
  WriteCombineOption(Ini, O);
  EXPECT_FALSE(Ini.ValueExists("Combine", "Use")) << "the conversion mode owns Combine.Use";
  TCombineOption R;
  ReadCombineOption(Ini, R);
  EXPECT_EQ(std::memcmp(&R, &O, sizeof O), 0);
}

TEST(CombineSettings, CountsAndSizesOutsideTheDialogRangesAreBroughtIntoThem) {
  TMemIniFile Ini;
  Ini.LoadFromBytes("[Combine]\nRows=0\nColumns=500\nWidth=0\nHeight=20000\nRowSpace=-3\nBlankType=7\n");
  TCombineOption O;
  ReadCombineOption(Ini, O);
  EXPECT_EQ(O.Rows, 1);
  EXPECT_EQ(O.Columns, 99);
  EXPECT_EQ(O.Width, 1);
  EXPECT_EQ(O.Height, 9999);
  EXPECT_EQ(O.RowSpace, 0);
  EXPECT_EQ(O.BlankType, BLANK_GAPLESS);
}

TEST(CombineOptionForm, EachFieldIsCheckedAgainstItsRange) {
  struct Case {
    const char *Field;
    std::string TCombineOptionForm::*Edit;
    const char *Text;
    const char *Fault;  // empty: accepted
  } Cases[] = {
      {"width 1", &TCombineOptionForm::FirstEdit, "1", ""},
      {"width 9999", &TCombineOptionForm::FirstEdit, "9999", ""},
      {"width 0", &TCombineOptionForm::FirstEdit, "0", "幅: 1 to 9999"},
      {"width 10000", &TCombineOptionForm::FirstEdit, "10000", "幅: 1 to 9999"},
      {"width text", &TCombineOptionForm::FirstEdit, "12px", "幅: 1 to 9999"},
      {"height empty", &TCombineOptionForm::SecondEdit, "", "高さ: 1 to 9999"},
      {"across 99", &TCombineOptionForm::RowsEdit, "99", ""},
      {"across 100", &TCombineOptionForm::RowsEdit, "100", "横: 1 to 99"},
      {"down 0", &TCombineOptionForm::ColumnsEdit, "0", "縦: 1 to 99"},
      {"gap across 0", &TCombineOptionForm::RowSpaceEdit, "0", ""},
      {"gap across -1", &TCombineOptionForm::RowSpaceEdit, "-1", "間隔 (横): 0 to 99"},
      {"gap down 100", &TCombineOptionForm::ColumnSpaceEdit, "100", "間隔 (縦): 0 to 99"},
  };
  for (const Case &c : Cases) {
    TCombineOptionForm Form{TCombineOption{}};
    Form.*c.Edit = c.Text;
    EXPECT_EQ(Form.Check(), c.Fault) << c.Field;
    TCombineOption Stored;
    Stored.Rows = 42;
    EXPECT_EQ(Form.StoreTo(Stored), std::string(c.Fault).empty()) << c.Field;
    if (*c.Fault) {
      EXPECT_EQ(Stored.Rows, 42) << "a refused OK stores nothing: " << c.Field;
    }
  }
}

TEST(CombineOptionForm, SizeListSwitchesTheFirstEditBetweenWidthAndPercent) {
  TCombineOption O;
  O.Width = 500;
  O.Percent = 30;
  O.BackgroundColor = 0xFF00FF00;  // a stray top byte
  TCombineOptionForm Form(O);
  EXPECT_EQ(Form.FirstEditLabel(), "幅");
  EXPECT_EQ(Form.FirstEditUnit(), "px");
  EXPECT_TRUE(Form.SecondEditVisible());
  EXPECT_EQ(Form.FirstEdit, "500");
  Form.FirstEdit = "640";
  Form.SetRelativeSize(1);
  EXPECT_EQ(Form.FirstEditLabel(), "倍率");
  EXPECT_EQ(Form.FirstEditUnit(), "%");
  EXPECT_FALSE(Form.SecondEditVisible());
  EXPECT_EQ(Form.FirstEdit, "30");
  Form.FirstEdit = "15";
  TCombineOption Stored;
  ASSERT_TRUE(Form.StoreTo(Stored));
  EXPECT_EQ(Stored.RelativeSize, 1);
  EXPECT_EQ(Stored.Percent, 15);
  EXPECT_EQ(Stored.Width, 640) << "the width typed before the switch is kept";
  EXPECT_EQ(Stored.BackgroundColor, 0x0000FF00u) << "the colour is stored as 24 bits";
  Form.SetRelativeSize(0);
  EXPECT_EQ(Form.FirstEdit, "640");
}

// ---------------------------------------------------------------------------
// Geometry

TEST(CombineGeometry, CellAndResizeSizesFollowTheLayout) {
  struct Case {
    const char *Name;
    int32_t BlankType, Order, RelativeSize;
    int32_t w, h;      // the image (also the page's first)
    int32_t CellW, CellH;
    int32_t tw, th;
  } Cases[] = {
      {"fit landscape fills the cell", BLANK_FIT, 0, 0, 4000, 3000, 320, 240, 320, 240},
      {"fit portrait keeps the height", BLANK_FIT, 0, 0, 3000, 4000, 320, 240, 180, 240},
      {"fill portrait keeps the width", BLANK_FILL, 0, 0, 3000, 4000, 320, 240, 320, 427},
      {"fill panorama keeps the height", BLANK_FILL, 0, 0, 4000, 1000, 320, 240, 960, 240},
      {"gapless rows keep the cell height", BLANK_GAPLESS, 0, 0, 3000, 4000, 320, 240, 180, 240},
      {"gapless columns keep the cell width", BLANK_GAPLESS, 1, 0, 3000, 4000, 320, 240, 320, 427},
      {"relative cells are 10 % of the first image", BLANK_FIT, 0, 1, 4000, 3000, 400, 300, 400, 300},
      {"relative cells are at least one pixel", BLANK_FIT, 0, 1, 5, 4, 1, 1, 1, 1},
  };
  for (const Case &c : Cases) {
    TCombineOption O;
    O.BlankType = c.BlankType;
    O.Order = c.Order;
    O.RelativeSize = c.RelativeSize;
    TImageInfo First;
    First.Width = c.w;
    First.Height = c.h;
    int32_t CellW = 0, CellH = 0, tw = 0, th = 0;
    CombineCellSize(O, First, CellW, CellH);
    EXPECT_EQ(CellW, c.CellW) << c.Name;
    EXPECT_EQ(CellH, c.CellH) << c.Name;
    CombineTargetSize(O, CellW, CellH, c.w, c.h, tw, th);
    EXPECT_EQ(tw, c.tw) << c.Name;
    EXPECT_EQ(th, c.th) << c.Name;
  }
}

// An 8-bit gray image whose every sample is its buffer row (low byte) and
// column (in a second image) so that a crop shows what it kept.
TEST(CombineGeometry, FillCropKeepsTheMiddleAndCutsTheOddRowAtTheTop) {
  struct Case {
    const char *Name;
    uint32_t w, h;
    int32_t CellW, CellH;
    uint32_t FirstColumn, FirstBufferRow;
  } Cases[] = {
      // 427 - 240 = 187 rows go: 93 at the bottom (buffer rows 0..92), 94 at the top.
      {"portrait 320 x 427 into 320 x 240", 320, 427, 320, 240, 0, 93},
      {"landscape 427 x 240 into 320 x 240", 427, 240, 320, 240, 53, 0},
      {"exact fit is left alone", 320, 240, 320, 240, 0, 0},
  };
  for (const Case &c : Cases) {
    TICCImgOwner Img;
    Img->Width = c.w;
    Img->Height = c.h;
    Img->Channels = 3;
    Img->BPP = BPP_8;
    Img->PixelFormat = PIXFMT_BGR;
    Img->Bpl = GetAlignedBpl(c.w, 3);
    Img->Mem = AllocPixelBlock(Img->Bpl, c.h);
    for (uint32_t y = 0; y < c.h; ++y)
      for (uint32_t x = 0; x < c.w; ++x) {
        uint8_t *p = Img->Mem + size_t(y) * Img->Bpl + size_t(x) * 3;
        p[0] = uint8_t(y), p[1] = uint8_t(y >> 8), p[2] = uint8_t(x);
      }
    CropToCell(*Img, c.CellW, c.CellH);
    ASSERT_EQ(Img->Width, uint32_t(c.CellW)) << c.Name;
    ASSERT_EQ(Img->Height, uint32_t(c.CellH)) << c.Name;
    const uint8_t *Bottom = Img->Mem;
    EXPECT_EQ(Bottom[0] | Bottom[1] << 8, int(c.FirstBufferRow)) << c.Name;
    EXPECT_EQ(Bottom[2], uint8_t(c.FirstColumn)) << c.Name;
    const uint8_t *Top = Img->Mem + size_t(c.CellH - 1) * Img->Bpl;
    EXPECT_EQ(Top[0] | Top[1] << 8, int(c.FirstBufferRow) + c.CellH - 1) << c.Name;
  }
}

// ---------------------------------------------------------------------------
// Whole runs

using testenv::Capture;
using testenv::HaveImageMagick;
std::string Quoted(const std::string &Path) { return testenv::ShellQuoted(Path); }

// "channels width height" of a file, as identify reports it. ImageMagick
// reads "name[1].png" as a frame of "name.png" when that exists, so such a
// file is looked at under another name.
std::string Shape(const std::string &Path) {
  if (Path.find('[') == std::string::npos)
    return Capture("identify -format '%[channels] %w %h' " + Quoted(Path));
  const std::string Plain = (fs::path(Path).parent_path() / ("shape-check" + fs::path(Path).extension().string())).string();
  fs::copy_file(Path, Plain, fs::copy_options::overwrite_existing);
  const std::string Answer = Shape(Plain);
  fs::remove(Plain);
  return Answer;
}

// One pixel as red, green, blue, alpha.
std::array<int, 4> PixelAt(const std::string &Path, int x, int y) {
  const std::string Bytes = Capture("convert " + Quoted(Path) + " -crop 1x1+" + std::to_string(x) + "+" +
                                    std::to_string(y) + " +repage -depth 8 rgba:-");
  if (Bytes.size() != 4) return {-1, -1, -1, -1};
  return {uint8_t(Bytes[0]), uint8_t(Bytes[1]), uint8_t(Bytes[2]), uint8_t(Bytes[3])};
}

// Kinds of fixture image.
enum class TKind { Colour, Gray, ClearAlpha, GrayTiff };

struct TFixture {
  int w, h;
  const char *Colour;  // an ImageMagick colour
  TKind Kind = TKind::Colour;
  bool Checked = true;
};

struct TProbe {
  int Page, x, y;
  std::array<int, 4> Rgba;  // -1: any
};

struct TPageCase {
  const char *Name;
  std::vector<TFixture> Images;
  TCombineOption Option;
  const char *Ext;                   // of the template
  std::vector<std::string> Shapes;   // of the pages, in order
  std::vector<TProbe> Probes;
};

std::ostream &operator<<(std::ostream &Out, const TPageCase &c) { return Out << c.Name; }

TCombineOption Layout(int32_t BlankType, int32_t Order, int32_t Rows, int32_t Columns, int32_t RowSpace = 0,
                      int32_t ColumnSpace = 0, uint32_t Background = 0xFFFFFF) {
  TCombineOption O;
  O.BlankType = BlankType;
  O.Order = Order;
  O.Rows = Rows;
  O.Columns = Columns;
  O.RowSpace = RowSpace;
  O.ColumnSpace = ColumnSpace;
  O.BackgroundColor = Background;
  return O;
}

TCombineOption Relative(int32_t Percent) {
  TCombineOption O = Layout(BLANK_FIT, 0, 1, 1);
  O.RelativeSize = 1;
  O.Percent = Percent;
  return O;
}

constexpr std::array<int, 4> White{255, 255, 255, 255}, Red{255, 0, 0, 255}, Green{0, 255, 0, 255},
    Blue{0, 0, 255, 255}, Yellow{255, 255, 0, 255}, Cyan{0, 255, 255, 255}, Magenta{255, 0, 255, 255},
    Black{0, 0, 0, 255}, Gray128{128, 128, 128, 255}, Clear{-1, -1, -1, 0};

class CombineRun : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    LoadPixio(std::string(TESSIVO_BIN_DIR) + "/libpixio.so");
    LoadResizeLibrary(TESSIVO_BIN_DIR);
    SystemOption.ProcessorCount = 2;
    CreateBatchObjects(2);
  }
  static void TearDownTestSuite() {
    FreeBatchObjects();
    FreePixio();
  }
  void SetUp() override {
    char Tmpl[] = "/tmp/tessivo-combine-XXXXXX";
    Dir = ::mkdtemp(Tmpl);
    SavedFile = FileOption;
    SavedSystem = SystemOption;
    SavedCombine = CombineOption;
    FileOption.SameDirectory = false;
    FileOption.NotOverwrite = true;
    FileOption.Skip = false;
    FileOption.ResetType = 0;
    FileOption.StartNumber = 1;
    SystemOption.MaxThread = 2;
    SystemOption.ParallelProcessing = true;
    ErrorLogForm().ClearLog();
  }
  void TearDown() override {
    FileOption = SavedFile;
    SystemOption = SavedSystem;
    CombineOption = SavedCombine;
    ErrorLogForm().ClearLog();
    fs::remove_all(Dir);
  }
  // Makes the fixture files in/NN.* and lists them in order.
  void AddImages(const std::vector<TFixture> &Images) {
    fs::create_directories(Dir + "/in");
    int i = 0;
    for (const TFixture &F : Images) {
      char Name[32];
      std::snprintf(Name, sizeof Name, "/in/%02d", i++);
      std::string Path = Dir + Name;
      const std::string Size = "-size " + std::to_string(F.w) + "x" + std::to_string(F.h);
      std::string Cmd;
      switch (F.Kind) {
        case TKind::Colour: Path += ".png", Cmd = "convert " + Size + " xc:'" + F.Colour + "' PNG24:"; break;
        case TKind::Gray: Path += ".png", Cmd = "convert " + Size + " xc:'" + F.Colour + "' -type Grayscale -depth 8 "; break;
        case TKind::ClearAlpha: Path += ".png", Cmd = "convert " + Size + " xc:'" + F.Colour + "' PNG32:"; break;
        case TKind::GrayTiff: Path += ".tif", Cmd = "convert " + Size + " xc:'" + F.Colour + "' -type Grayscale -depth 8 "; break;
      }
      ASSERT_EQ(std::system((Cmd + Quoted(Path)).c_str()), 0) << Cmd;
      auto E = std::make_unique<TImageInfo>();
      ASSERT_TRUE(ProbeImageFile(Path, *E)) << Path;
      E->Checked = F.Checked;
      List.Add(std::move(E));
    }
  }
  int32_t Run(const TCombineOption &Option, const std::string &Template) {
    CombineOption = Option;
    FileOption.FileNameFormat = Template;
    TProgressForm2 Form(List);
    const int32_t Result = Form.ShowModal();
    Written = Form.Written();
    return Result;
  }

  std::string Dir;
  TFileOption SavedFile;
  TSystemOption SavedSystem;
  TCombineOption SavedCombine;
  TImageInfoList List;
  std::vector<TOutputFileInfo> Written;
};

class CombinePages : public CombineRun, public ::testing::WithParamInterface<TPageCase> {};

TEST_P(CombinePages, PagesHaveTheirSizeChannelsAndPlacement) {
  TESSIVO_REQUIRE(HaveImageMagick()) << "ImageMagick (convert, identify)";
  const TPageCase &c = GetParam();
  AddImages(c.Images);
  ASSERT_EQ(Run(c.Option, Dir + "/out/page<n2>" + c.Ext), MR_OK);
  EXPECT_TRUE(ErrorLogForm().Messages().empty()) << ErrorLogForm().Messages().front();
  ASSERT_EQ(Written.size(), c.Shapes.size());
  for (size_t i = 0; i < c.Shapes.size(); ++i) {
    char Name[32];
    std::snprintf(Name, sizeof Name, "/out/page%02d", int(i + 1));
    EXPECT_EQ(Written[i].FileName, Dir + Name + c.Ext);
    EXPECT_EQ(Shape(Written[i].FileName), c.Shapes[i]) << "page " << i + 1;
  }
  for (const TProbe &p : c.Probes) {
    const std::array<int, 4> Got = PixelAt(Written[size_t(p.Page)].FileName, p.x, p.y);
    for (int k = 0; k < 4; ++k)
      if (p.Rgba[size_t(k)] >= 0) {
        EXPECT_NEAR(Got[size_t(k)], p.Rgba[size_t(k)], 3)
            << "page " << p.Page + 1 << " at (" << p.x << ", " << p.y << ") sample " << k;
      }
  }
}

const std::vector<TFixture> SevenColours = {
    {400, 300, "#FF0000"}, {400, 300, "#00FF00"}, {400, 300, "#0000FF"}, {400, 300, "#FFFF00"},
    {400, 300, "#00FFFF"}, {400, 300, "#FF00FF"}, {400, 300, "#000000"}};

INSTANTIATE_TEST_SUITE_P(
    Layouts, CombinePages,
    ::testing::Values(
        TPageCase{"SevenImagesAtThreeByTwoMakeAFullPageAndAOneImagePage", SevenColours,
                  Layout(BLANK_FIT, 0, 3, 2), ".png", {"srgb 960 480", "srgb 320 240"},
                  {{0, 160, 120, Red}, {0, 480, 120, Green}, {0, 800, 120, Blue}, {0, 160, 360, Yellow},
                   {0, 480, 360, Cyan}, {0, 800, 360, Magenta}, {1, 160, 120, Black}}},
        TPageCase{"DownFirstFillsColumnByColumn", SevenColours, Layout(BLANK_FIT, 1, 3, 2), ".png",
                  {"srgb 960 480", "srgb 320 240"},
                  {{0, 160, 120, Red}, {0, 160, 360, Green}, {0, 480, 120, Blue}, {0, 480, 360, Yellow},
                   {0, 800, 120, Cyan}, {1, 160, 120, Black}}},
        TPageCase{"FitPortraitSitsSeventyPixelsFromTheCellEdge", {{300, 400, "#0000FF"}},
                  Layout(BLANK_FIT, 0, 1, 1), ".png", {"srgb 320 240"},
                  {{0, 69, 120, White}, {0, 70, 120, Blue}, {0, 249, 120, Blue}, {0, 250, 120, White},
                   {0, 160, 0, Blue}, {0, 160, 239, Blue}}},
        TPageCase{"FillPortraitCoversTheWholeCell", {{300, 400, "#0000FF"}, {400, 300, "#FF0000"}},
                  Layout(BLANK_FILL, 0, 2, 1, 0, 0, 0x00FF00), ".png", {"srgb 640 240"},
                  {{0, 0, 0, Blue}, {0, 319, 239, Blue}, {0, 320, 0, Red}, {0, 639, 239, Red}}},
        TPageCase{"GaplessStripIsFiveHundredTenWideWithTheGapInBackground",
                  {{400, 300, "#FF0000"}, {300, 400, "#0000FF"}}, Layout(BLANK_GAPLESS, 0, 3, 3, 10), ".png",
                  {"srgb 510 240"},
                  {{0, 319, 120, Red}, {0, 320, 120, White}, {0, 329, 120, White}, {0, 330, 120, Blue},
                   {0, 509, 120, Blue}}},
        TPageCase{"RelativeCellsAreTenPercentOfTheFirstImage", {{4000, 3000, "#FF0000"}}, Relative(10), ".png",
                  {"srgb 400 300"}, {{0, 200, 150, Red}}},
        TPageCase{"GrayAndColourMakeAColourPageWithTheGrayRepeated",
                  {{400, 300, "#808080", TKind::Gray}, {400, 300, "#FF0000"}}, Layout(BLANK_FIT, 0, 2, 1), ".png",
                  {"srgb 640 240"}, {{0, 160, 120, Gray128}, {0, 480, 120, Red}}},
        TPageCase{"GrayImagesAloneMakeAGrayPage",
                  {{400, 300, "#808080", TKind::Gray}, {400, 300, "#404040", TKind::GrayTiff}},
                  Layout(BLANK_FIT, 0, 2, 1), ".png", {"gray 640 240"}, {}},
        TPageCase{"AnImageWithAlphaGivesThePageAlpha",
                  {{400, 300, "#FF0000"}, {400, 300, "rgba(0,0,255,0)", TKind::ClearAlpha}},
                  Layout(BLANK_FIT, 0, 2, 1), ".png", {"srgba 640 240"}, {{0, 160, 120, Red}, {0, 480, 120, Clear}}},
        TPageCase{"JpegPageFlattensAlphaOntoTheBackground",
                  {{400, 300, "#FF0000"}, {400, 300, "rgba(0,0,255,0)", TKind::ClearAlpha}},
                  Layout(BLANK_FIT, 0, 2, 1, 0, 0, 0x00FF00), ".jpg", {"srgb 640 240"},
                  {{0, 160, 120, Red}, {0, 480, 120, Green}}},
        TPageCase{"UncheckedEntryIsSkippedAndTheNextTakesItsCell",
                  {{400, 300, "#FF0000"}, {400, 300, "#00FF00", TKind::Colour, false}, {400, 300, "#0000FF"}},
                  Layout(BLANK_FIT, 0, 2, 1), ".png", {"srgb 640 240"}, {{0, 160, 120, Red}, {0, 480, 120, Blue}}}),
    [](const ::testing::TestParamInfo<TPageCase> &Info) { return std::string(Info.param.Name); });

TEST_F(CombineRun, TakenPageNamesFollowTheOverwritePolicy) {
  TESSIVO_REQUIRE(HaveImageMagick()) << "ImageMagick (convert, identify)";
  struct Case {
    const char *Name;
    bool NotOverwrite, Skip, ReadOnly;
    const char *Written;  // file name of the page, empty: none
    bool OldKept;
  } Cases[] = {
      {"numbered beside the old one", true, false, false, "page01[1].png", true},
      {"skipped", true, true, false, "", true},
      {"replaced", false, false, false, "page01.png", false},
      {"read-only old one left alone", false, false, true, "", true},
  };
  AddImages({{400, 300, "#FF0000"}});
  for (const Case &c : Cases) {
    fs::remove_all(Dir + "/out");
    fs::create_directories(Dir + "/out");
    const std::string Old = Dir + "/out/page01.png";
    std::ofstream(Old) << "old output";
    if (c.ReadOnly) ::chmod(Old.c_str(), 0444);
    FileOption.NotOverwrite = c.NotOverwrite;
    FileOption.Skip = c.Skip;
    FileOption.IgnoreReadOnlyAttr = LongFalse;
    ASSERT_EQ(Run(Layout(BLANK_FIT, 0, 1, 1), Dir + "/out/page<n2>.png"), MR_OK) << c.Name;
    if (*c.Written) {
      ASSERT_EQ(Written.size(), 1u) << c.Name;
      EXPECT_EQ(Written[0].FileName, Dir + "/out/" + c.Written) << c.Name;
      EXPECT_EQ(Shape(Written[0].FileName), "srgb 320 240") << c.Name;
    } else {
      EXPECT_TRUE(Written.empty()) << c.Name;
    }
    std::ifstream In(Old);
    std::string Text((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
    EXPECT_EQ(Text == "old output", c.OldKept) << c.Name;
    ::chmod(Old.c_str(), 0644);
  }
}

TEST_F(CombineRun, OutputInfoNamesTheFirstImagesFolderOrArchive) {
  TImageInfo Plain;
  Plain.FPath = "/photos/trip/a.jpg";
  const TOutputFileInfo P = OutputFileInfoOf(Plain, "/out/page01.jpg");
  EXPECT_EQ(P.FileName, "/out/page01.jpg");
  EXPECT_EQ(P.ArcDir, "/photos/trip");
  EXPECT_EQ(P.ArcName, "NotArchive");
  TImageInfo Member;
  Member.FIsArchive = 1;
  Member.FArchivePath = "/photos/trip.v2.zip";
  Member.FPath = "/photos/trip.v2/img/a.jpg";
  const TOutputFileInfo M = OutputFileInfoOf(Member, "/out/page02.jpg");
  EXPECT_EQ(M.ArcDir, "/photos");
  EXPECT_EQ(M.ArcName, "trip.v2");
}

// The preview's pixels are read from memory: rows bottom-up, blue first.
std::array<int, 3> PreviewRgb(const TICCImgInfo &Img, uint32_t x, uint32_t y) {
  const uint8_t *p = Img.Mem + size_t(Img.Height - 1 - y) * Img.Bpl + size_t(x) * Img.Channels;
  return Img.Channels == 1 ? std::array<int, 3>{p[0], p[0], p[0]} : std::array<int, 3>{p[2], p[1], p[0]};
}

TEST_F(CombineRun, PreviewPageStartsAtItsShareOfTheListAndWrapsAround) {
  TESSIVO_REQUIRE(HaveImageMagick()) << "ImageMagick (convert, identify)";
  // Five entries, two a page: pages start at entries 0, 2 and 4; entry 2 is
  // unchecked, so page 1 shows entries 3 and 4.
  AddImages({{400, 300, "#FF0000"},
             {400, 300, "#00FF00"},
             {400, 300, "#0000FF", TKind::Colour, false},
             {400, 300, "#FFFF00"},
             {400, 300, "#00FFFF"}});
  CombineOption = Layout(BLANK_FIT, 0, 2, 1);
  struct Case {
    int32_t PageIndex;
    std::array<int, 3> Left, Right;
    uint32_t Width;
  } Cases[] = {
      {0, {255, 0, 0}, {0, 255, 0}, 640},
      {1, {255, 255, 0}, {0, 255, 255}, 640},
      {2, {0, 255, 255}, {0, 255, 255}, 320},
      {4, {255, 255, 0}, {0, 255, 255}, 640},  // 4 mod 3 = 1
  };
  for (const Case &c : Cases) {
    TICCImgOwner Page;
    ASSERT_TRUE(BuildCombinedPreview(List, *Page, c.PageIndex)) << c.PageIndex;
    ASSERT_EQ(Page->Width, c.Width) << c.PageIndex;
    ASSERT_EQ(Page->Height, 240u);
    for (int k = 0; k < 3; ++k) {
      EXPECT_NEAR(PreviewRgb(*Page, 160, 120)[size_t(k)], c.Left[size_t(k)], 3) << "page " << c.PageIndex;
      EXPECT_NEAR(PreviewRgb(*Page, Page->Width - 160, 120)[size_t(k)], c.Right[size_t(k)], 3)
          << "page " << c.PageIndex;
    }
  }
  EXPECT_TRUE(ErrorLogForm().Messages().empty());
  EXPECT_FALSE(fs::exists(Dir + "/out")) << "a preview writes nothing";
}

// Overwrites the start of a PNG's compressed pixel data; the header stays sound.
void DamagePixelData(const std::string &Path) {
  std::ifstream In(Path, std::ios::binary);
  std::string Bytes((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
  const size_t At = Bytes.find("IDAT");
  ASSERT_NE(At, std::string::npos) << Path;
  Bytes.replace(At + 4, 12, "\xde\xad\xbe\xef\xde\xad\xbe\xef\xde\xad\xbe\xef", 12);
  std::ofstream(Path, std::ios::binary | std::ios::trunc) << Bytes;
}

TEST_F(CombineRun, ImageThatFailsToLoadLeavesItsCellToTheBackgroundAndThePageIsWritten) {
  TESSIVO_REQUIRE(HaveImageMagick()) << "ImageMagick (convert, identify)";
  AddImages({{400, 300, "#FF0000"}, {400, 300, "#0000FF"}});
  // The second file's pixel data is damaged after its header was probed.
  DamagePixelData(List[1]->FPath);
  ASSERT_EQ(Run(Layout(BLANK_FIT, 0, 2, 1, 0, 0, 0x00FF00), Dir + "/out/page<n2>.png"), MR_OK);
  const std::vector<std::string> Log = ErrorLogForm().Messages();
  ASSERT_EQ(Log.size(), 1u);
  EXPECT_EQ(Log[0].rfind("01.png: ", 0), 0u) << Log[0];
  ASSERT_EQ(Written.size(), 1u);
  EXPECT_EQ(Shape(Written[0].FileName), "srgb 640 240");
  const std::array<int, 4> Cell = PixelAt(Written[0].FileName, 480, 120);
  EXPECT_EQ(Cell[0], 0);
  EXPECT_EQ(Cell[1], 255);
  EXPECT_EQ(Cell[2], 0);
}

}  // namespace
