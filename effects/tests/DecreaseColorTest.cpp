// Colour reduction: which tool the settings end up with for the tools
// present, the dither types each tool offers, the exact argument vectors
// the tools get (recorded by stand-in scripts placed as the tools), the
// read-back of their results, the pngnqi file that becomes a PNG output,
// the per-worker FLAXC copies, a tool that leaves no result, and the loader
// flattening alpha for the tools that take none.
#include "color/ColorManagementOption.h"
#include "core/IniFile.h"
#include "core/RunTempFolder.h"
#include "effects/DecreaseColorEffect.h"
#include "effects/Effect.h"
#include "io/FormatOption.h"
#include "io/ImageProbe.h"
#include "io/LoadPicture.h"
#include "io/OutputType.h"
#include "io/Pixio.h"
#include "testutil/OutsideTool.h"
#include "testutil/TestEnv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

struct TScratch {
  std::string Dir;
  TScratch() {
    char tmpl[] = "/tmp/decrease-color-test-XXXXXX";
    if (::mkdtemp(tmpl)) Dir = tmpl;
  }
  ~TScratch() {
    std::error_code ec;
    fs::remove_all(Dir, ec);
  }
};

void WriteScript(const std::string &Path, const std::string &Body) {
  std::ofstream(Path) << "#!/bin/sh\n" << Body;
  ::chmod(Path.c_str(), 0755);
}

std::vector<std::string> Lines(const std::string &Path) {
  std::ifstream In(Path);
  std::vector<std::string> R;
  for (std::string L; std::getline(In, L);) R.push_back(L);
  return R;
}

TMemIniFile Section(int32_t Mode, bool Use = true) {
  TMemIniFile Ini;
  Ini.WriteBool("DecreaseColor", "Use", Use);
  Ini.WriteInteger("DecreaseColor", "Mode", Mode);
  return Ini;
}

}  // namespace

// ---------------------------------------------------------------------------
// Settings

struct TModeCase {
  const char *Name;
  std::vector<std::string> Files;  // in the tool folder
  int32_t Stored;
  int32_t Mode;
  uint32_t Flags;
  bool Use;
};

class DecreaseColorMode : public ::testing::TestWithParam<TModeCase> {};

TEST_P(DecreaseColorMode, FollowsTheToolsPresent) {
  const TModeCase &C = GetParam();
  TScratch S;
  for (const std::string &F : C.Files) WriteScript(S.Dir + "/" + F, "exit 0\n");
  TDecreaseColorEffect E;
  E.FToolFolder = S.Dir;
  E.ReadIniFile(Section(C.Stored));
  EXPECT_EQ(E.FMode, C.Mode);
  EXPECT_EQ(E.FFlags, C.Flags);
  EXPECT_EQ(E.Use(), C.Use);
}

INSTANTIATE_TEST_SUITE_P(
    Tools, DecreaseColorMode,
    ::testing::Values(
        TModeCase{"OnlyPngnqiTurnsAStoredFlaxcIntoPngnqi", {"pngnqi"}, 1, 3, 4, true},
        TModeCase{"NoToolSwitchesTheStepOff", {}, 2, 0, 0, false},
        TModeCase{"FlaxcWithoutItsCompanionCountsAsMissing", {"FLAXC", "IZYINS"}, 1, 2, 2, true},
        TModeCase{"CompanionAloneIsNoTool", {"Zone_BorderOfColor.so"}, 1, 0, 0, false},
        TModeCase{"AStoredToolThatIsThereStays", {"FLAXC", "Zone_BorderOfColor.so", "IZYINS", "pngnqi"}, 2, 2, 7, true},
        TModeCase{"NoStoredToolTakesTheFirstPresent", {"FLAXC", "Zone_BorderOfColor.so", "IZYINS", "pngnqi"}, 0, 1, 7, true},
        TModeCase{"IzyinsComesBeforePngnqi", {"IZYINS", "pngnqi"}, 0, 2, 6, true},
        TModeCase{"AnUnknownModeIsNone", {"pngnqi"}, 9, 3, 4, true}),
    [](const auto &Info) { return std::string(Info.param.Name); });

TEST(DecreaseColorSettings, DefaultsAndRoundTrip) {
  TScratch S;
  WriteScript(S.Dir + "/IZYINS", "exit 0\n");
  TDecreaseColorEffect E;
  E.FToolFolder = S.Dir;
  E.ReadIniFile(TMemIniFile());
  EXPECT_EQ(E.FOption, "-Y10 -C10 -G10 -O8 -I8");
  EXPECT_EQ(E.FMode, 2);  // stored 0: the first tool present
  EXPECT_EQ(E.FPaletteEntries, 256);
  EXPECT_EQ(E.FTransparentType, 0);
  EXPECT_EQ(E.FDitherType, 2);
  EXPECT_EQ(E.FDitherStr, 8);
  EXPECT_EQ(E.FQuality, 9);
  EXPECT_FALSE(E.Use());
  E.FOption = "-Y9 \"-C 7\"", E.FPaletteEntries = 17, E.FTransparentType = 4, E.FDitherType = 3, E.FDitherStr = 1,
  E.FQuality = 2;
  E.SetUse(true);
  TMemIniFile Ini;
  E.WriteIniFile(Ini);
  TDecreaseColorEffect F;
  F.FToolFolder = S.Dir;
  F.ReadIniFile(Ini);
  EXPECT_EQ(F.FOption, E.FOption);
  EXPECT_EQ(F.FMode, 2);
  EXPECT_EQ(F.FPaletteEntries, 17);
  EXPECT_EQ(F.FTransparentType, 4);
  EXPECT_EQ(F.FDitherType, 3);
  EXPECT_EQ(F.FDitherStr, 1);
  EXPECT_EQ(F.FQuality, 2);
  EXPECT_TRUE(F.Use());
}

struct TDitherCase {
  int32_t Mode, Stored, Chosen;
};

TEST(DecreaseColorSettings, DialogOffersEachToolItsDitherTypes) {
  EXPECT_EQ(AcceptedDitherTypes(1), (std::vector<int32_t>{0, 1, 2, 3, 4}));
  EXPECT_EQ(AcceptedDitherTypes(2), (std::vector<int32_t>{0, 2, 3}));
  EXPECT_EQ(AcceptedDitherTypes(3), (std::vector<int32_t>{0, 2}));
  for (const TDitherCase C : {TDitherCase{1, 4, 4}, {2, 4, 2}, {2, 1, 2}, {2, 3, 3}, {3, 2, 2}, {3, 3, 0}, {3, 4, 0},
                              {1, 0, 0}})
    EXPECT_EQ(DitherTypeForTool(C.Mode, C.Stored), C.Chosen) << "tool " << C.Mode << ", stored " << C.Stored;
}

// ---------------------------------------------------------------------------
// The step with stand-in tools

class DecreaseColorRun : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_FALSE(Work.Dir.empty());
    TESSIVO_REQUIRE(!testenv::BinFile("libpixio.so").empty()) << "bin/libpixio.so is not built";
    TESSIVO_REQUIRE(testenv::HaveImageMagick()) << "ImageMagick missing";
    LoadPixio(std::string(TESSIVO_BIN_DIR) + "/libpixio.so");
    Tools = Work.Dir + "/bin";
    fs::create_directories(Tools);
    Folder = std::make_unique<TRunTempFolder>(Work.Dir);
    // What every stand-in hands back: 8 x 6, the left half blue, the right half red.
    const std::string Draw = " -size 8x6 xc:'#ff0000' -fill '#0000ff' -draw 'rectangle 0,0 3,5' ";
    ASSERT_EQ(std::system(("convert" + Draw + "BMP3:" + Work.Dir + "/result.bmp").c_str()), 0);
    ASSERT_EQ(std::system(("convert" + Draw + "-type Palette PNG8:" + Work.Dir + "/result.png").c_str()), 0);
  }
  void TearDown() override { Folder.reset(); }

  // Stand-ins that write their argument vector (the program path first), one
  // word a line, to args.txt and then
  // leave the prepared result where the real tool would.
  void RecordingTools() {
    const std::string Record = "for a in \"$0\" \"$@\"; do printf '%s\\n' \"$a\"; done > " + Work.Dir + "/args.txt\n";
    for (const char *T : {"FLAXC", "IZYINS"}) WriteScript(Tools + "/" + T, Record + "cp " + Work.Dir + "/result.bmp \"$2\"\n");
    WriteScript(Tools + "/pngnqi", Record + "for a in \"$@\"; do last=\"$a\"; done\ncp " + Work.Dir +
                                       "/result.png \"${last%.png}-nq8.png\"\n");
    std::ofstream(Tools + "/Zone_BorderOfColor.so") << "companion";
  }

  static void Fill(TICCImgInfo &Img, uint32_t W, uint32_t H) {
    Img.Width = W, Img.Height = H, Img.Channels = 3, Img.BPP = BPP_8, Img.PixelFormat = PIXFMT_BGR;
    Img.Bpl = GetAlignedBpl(W, 3);
    Img.Mem = AllocPixelBlock(Img.Bpl, H);
    for (uint32_t y = 0; y < H; ++y)
      for (uint32_t x = 0; x < W * 3; ++x) PictureRow(Img, y)[x] = uint8_t(17 * x + 31 * y);
  }
  // The picture's colour at (x, y) as 0xRRGGBB.
  static uint32_t Rgb(const TICCImgInfo &Img, uint32_t x, uint32_t y) {
    const uint8_t *p = PictureRow(Img, y) + size_t(x) * Img.Channels;
    return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
  }
  std::vector<std::string> WorkFilesLeft() const {
    std::vector<std::string> Left;
    for (const auto &e : fs::directory_iterator(Folder->Path()))
      if (!e.is_directory()) Left.push_back(e.path().filename().string());
    return Left;
  }

  TScratch Work;
  std::string Tools;
  std::unique_ptr<TRunTempFolder> Folder;
};

struct TLineCase {
  const char *Name;
  int32_t Mode;
  int32_t ThreadNum;
  const char *Option;
  int32_t Colours, Transparent, Dither, Strength, Quality;
  std::vector<std::string> Expected;  // "T/" the working folder, "B/" the tool folder
};

class DecreaseColorLine : public DecreaseColorRun, public ::testing::WithParamInterface<TLineCase> {};

// The tool sees exactly the argument vector of the command line the step
// writes, and the picture comes back as the tool's result.
TEST_P(DecreaseColorLine, ToolGetsExactlyItsArgumentVector) {
  const TLineCase &C = GetParam();
  RecordingTools();
  TDecreaseColorEffect E;
  E.FToolFolder = Tools;
  E.ReadIniFile(Section(C.Mode));
  ASSERT_EQ(E.FMode, C.Mode);
  if (C.Option) E.FOption = C.Option;
  E.FPaletteEntries = C.Colours, E.FTransparentType = C.Transparent, E.FDitherType = C.Dither;
  E.FDitherStr = C.Strength, E.FQuality = C.Quality;
  E.InitFLAXC(4);
  TICCImgOwner Img;
  Fill(*Img, 8, 6);
  TEffectParams Params;
  Params.ThreadNum = C.ThreadNum;
  Params.OutFileName = Work.Dir + "/out/picture.jpg";
  E.DoEffect(*Img, Params);
  std::vector<std::string> Expected;
  for (const std::string &A : C.Expected)
    Expected.push_back(A.starts_with("T/") ? Folder->Path() + A.substr(1) : A.starts_with("B/") ? Tools + A.substr(1) : A);
  EXPECT_EQ(Lines(Work.Dir + "/args.txt"), Expected);
  EXPECT_TRUE(Params.DecreaseColor);
  EXPECT_EQ(Params.PreparedOutput, "");
  ASSERT_EQ(Img->Width, 8u);
  ASSERT_EQ(Img->Height, 6u);
  EXPECT_EQ(Rgb(*Img, 0, 0), 0x0000FFu);
  EXPECT_EQ(Rgb(*Img, 7, 5), 0xFF0000u);
  EXPECT_EQ(WorkFilesLeft(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, DecreaseColorLine,
    ::testing::Values(
        TLineCase{"FlaxcWithTheDefaults", 1, 0, nullptr, 256, 0, 2, 8, 9,
                  {"T/FLAXC1/FLAXC", "T/srcbmp0.bmp", "T/destbmp0.bmp", "-Y10", "-C10", "-G10", "-O8", "-I8", "-R1", "-B0",
                   "-A0", "-P256", "-D2", "-L8"}},
        TLineCase{"FlaxcOfTheFourthWorkerWithQuotedOptions", 1, 3, "-Y9  \"-C 7\" -I3", 17, 2, 4, 10, 9,
                  {"T/FLAXC4/FLAXC", "T/srcbmp3.bmp", "T/destbmp3.bmp", "-Y9", "-C 7", "-I3", "-R1", "-B0", "-A2", "-P17",
                   "-D4", "-L10"}},
        TLineCase{"IzyinsWithTransparencyAndOrderedDither", 2, 1, nullptr, 64, 3, 3, 5, 9,
                  {"B/IZYINS", "T/srcbmp1.bmp", "T/destbmp1.bmp", "-Y10", "-C10", "-G10", "-O8", "-I8", "-R1", "-B0",
                   "-A3", "-P64", "-D3", "-L5"}},
        TLineCase{"PngnqiQuality9GetsSpeed2AndDithers", 3, 0, nullptr, 256, 0, 2, 8, 9,
                  {"B/pngnqi", "-n256", "-s2", "-Qf", "T/srcpng0.png"}},
        TLineCase{"PngnqiWithoutDitherGetsQn", 3, 2, nullptr, 16, 0, 0, 8, 1,
                  {"B/pngnqi", "-n16", "-s10", "-Qn", "T/srcpng2.png"}}),
    [](const auto &Info) { return std::string(Info.param.Name); });

// pngnqi and a PNG output: the tool's file is the output to be; the step
// leaves it for the worker and does not read it back.
TEST_F(DecreaseColorRun, PngnqiFileBecomesThePngOutput) {
  RecordingTools();
  TDecreaseColorEffect E;
  E.FToolFolder = Tools;
  E.ReadIniFile(Section(3));
  TICCImgOwner Img;
  Fill(*Img, 8, 6);
  const uint32_t Before = Rgb(*Img, 0, 0);
  TEffectParams Params;
  Params.OutFileName = Work.Dir + "/out/picture.PNG";
  E.DoEffect(*Img, Params);
  EXPECT_TRUE(Params.DecreaseColor);
  EXPECT_EQ(Params.PreparedOutput, Folder->Path() + "/srcpng0-nq8.png");
  EXPECT_TRUE(fs::exists(Params.PreparedOutput));
  EXPECT_EQ(Rgb(*Img, 0, 0), Before);
  EXPECT_EQ(WorkFilesLeft(), std::vector<std::string>{"srcpng0-nq8.png"});
}

// A tool that leaves no result fails the file with the tool's own reason,
// and no working file stays behind.
TEST_F(DecreaseColorRun, MissingResultFailsWithTheToolsReason) {
  struct TCase {
    const char *Tool;
    int32_t Mode;
    const char *Script;  // empty: the tool file is removed after the settings were read
    const char *Says;
  };
  const TCase Cases[] = {
      {"FLAXC", 1, "echo 'FLAXC: srcbmp0.bmp: 画像ファイルが壊れています' >&2\nexit 1\n", "FLAXC: srcbmp0.bmp: 画像ファイルが壊れています"},
      {"IZYINS", 2, "echo 'no memory' >&2\nexit 1\n", "IZYINS: no memory"},
      {"pngnqi", 3, "exit 0\n", "pngnqi: 結果のファイルがありません"},
      {"IZYINS", 2, "", "IZYINS: 起動できません"},
  };
  for (const TCase &C : Cases) {
    for (const char *T : {"FLAXC", "IZYINS", "pngnqi"}) WriteScript(Tools + "/" + T, C.Script);
    std::ofstream(Tools + "/Zone_BorderOfColor.so") << "companion";
    TDecreaseColorEffect E;
    E.FToolFolder = Tools;
    E.ReadIniFile(Section(C.Mode));
    E.InitFLAXC(1);
    if (!*C.Script) fs::remove(Tools + "/" + C.Tool);
    TICCImgOwner Img;
    Fill(*Img, 8, 6);
    TEffectParams Params;
    Params.OutFileName = Work.Dir + "/out/picture.png";
    try {
      E.DoEffect(*Img, Params);
      ADD_FAILURE() << C.Tool << ": no error";
    } catch (const ETessivoError &Error) {
      const std::string Text = Error.what();
      EXPECT_NE(Text.find("減色に失敗しました"), std::string::npos) << Text;
      EXPECT_NE(Text.find(C.Says), std::string::npos) << Text;
    }
    EXPECT_FALSE(Params.DecreaseColor) << C.Tool;
    EXPECT_EQ(WorkFilesLeft(), std::vector<std::string>{}) << C.Tool;
  }
}

// Every worker gets its own FLAXC folder with the tool and its companion;
// a copy already there is kept.
TEST_F(DecreaseColorRun, InitFlaxcGivesEveryWorkerItsCopy) {
  RecordingTools();
  TDecreaseColorEffect E;
  E.FToolFolder = Tools;
  E.ReadIniFile(Section(1));
  E.InitFLAXC(3);
  for (int n = 1; n <= 3; ++n) {
    const std::string F = Folder->Path() + "/FLAXC" + std::to_string(n);
    EXPECT_TRUE(fs::exists(F + "/FLAXC")) << n;
    EXPECT_TRUE(fs::exists(F + "/Zone_BorderOfColor.so")) << n;
    EXPECT_EQ(::access((F + "/FLAXC").c_str(), X_OK), 0) << n;
  }
  EXPECT_FALSE(fs::exists(Folder->Path() + "/FLAXC4"));
  std::ofstream(Folder->Path() + "/FLAXC2/Zone_BorderOfColor.so") << "kept";
  E.InitFLAXC(4);
  std::ifstream In(Folder->Path() + "/FLAXC2/Zone_BorderOfColor.so");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(In), {}), "kept");
  EXPECT_TRUE(fs::exists(Folder->Path() + "/FLAXC4/FLAXC"));
}

// The loader flattens alpha for a reduction by FLAXC or IZYINS whatever the
// output type, and only then.
TEST_F(DecreaseColorRun, LoaderFlattensAlphaForToolsThatTakeNone) {
  const std::string Png = Work.Dir + "/alpha.png";
  ASSERT_EQ(std::system(("convert -size 6x4 xc:'rgba(255,0,0,0.5)' " + Png).c_str()), 0);
  RecordingTools();
  for (const int32_t Mode : {1, 2, 3}) {
    TDecreaseColorEffect E;
    E.FToolFolder = Tools;
    E.ReadIniFile(Section(Mode));
    TFormatOptions Formats;
    Formats.ReductionFlattensAlpha = E.FlattensAlpha();
    TImageProbe Entry;
    ASSERT_TRUE(ProbeImageFile(Png, Entry));
    TICCImgOwner Img;
    LoadPicture(Entry, *Img, TScale{}, false, false, nullptr, false, OUTPUT_PNG, Formats, TColorManagementOption{},
                TMemoryBudget{});
    EXPECT_EQ(Img->Channels, Mode == 3 ? 4u : 3u) << "tool " << Mode;
  }
  TDecreaseColorEffect Off;
  Off.FToolFolder = Tools;
  Off.ReadIniFile(Section(1, false));
  EXPECT_FALSE(Off.FlattensAlpha());
}
