// The colour reduction through the real tessivo: a folder of photographs
// (scikit-image's, public domain) and a drawing to 256-colour PNG with each
// tool, checked by pngcheck and ImageMagick; pngnqi into JPEG; a tool that
// leaves no result (a stand-in in a copy of the program's bin folder) gives
// one log line per file and no output; and the run's working folder is gone
// after every run, also after Ctrl+C while a tool is working.
#include "app/tests/RunTessivo.h"
#include "testutil/OutsideTool.h"
#include "testutil/TestEnv.h"
#include "testutil/ColourReduction.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <sys/stat.h>

namespace fs = std::filesystem;
using quanttest::ColourCount;
using quanttest::Psnr;
using quanttest::Q;
using quanttest::Shell;
using testrun::TRun;

namespace {

size_t Occurrences(const std::string &Text, const std::string &What) {
  size_t n = 0;
  for (size_t p = Text.find(What); p != std::string::npos; p = Text.find(What, p + 1)) ++n;
  return n;
}

class ColorReductionRun : public ::testing::Test {
protected:
  void SetUp() override {
    TESSIVO_REQUIRE(testenv::HaveImageMagick()) << "ImageMagick missing";
    for (const char *T : {"FLAXC", "Zone_BorderOfColor.so", "IZYINS", "pngnqi", "libpixio.so"})
      TESSIVO_REQUIRE(!testenv::BinFile(T).empty()) << T << " is not built";
    char Tmpl[] = "/tmp/tessivo-reduction-run-XXXXXX";
    Dir = ::mkdtemp(Tmpl);
    for (const char *Sub : {"/data/ini", "/xdg", "/p", "/tmp"}) fs::create_directories(Dir + Sub);
  }
  void TearDown() override {
    if (!Dir.empty()) fs::remove_all(Dir);
  }

  testrun::TRunPlace Place() const {
    testrun::TRunPlace P = testrun::IsolatedPlace(Dir, "stderr.txt");
    P.Env.push_back("TMPDIR=" + Dir + "/tmp");
    return P;
  }
  // Runs the program (tessivo, or a copy of it placed elsewhere) and waits.
  TRun Run(std::vector<std::string> Args, const std::string &Program = testrun::TessivoProgram()) {
    const testrun::TRunPlace P = Place();
    return testrun::WaitTessivo(testrun::StartProgram(Program, std::move(Args), P), P);
  }
  void Profile(const std::string &Text) const { std::ofstream(Dir + "/data/ini/t.ini") << Text; }
  // What the runs left in the system temporary folder.
  std::vector<std::string> TempLeft() const {
    std::vector<std::string> Left;
    for (const auto &E : fs::directory_iterator(Dir + "/tmp")) Left.push_back(E.path().filename().string());
    return Left;
  }
  // A copy of the program whose bin folder holds the real libraries and,
  // as FLAXC, IZYINS and pngnqi, the given shell script.
  std::string ProgramWithStandIns(const std::string &Script) const {
    const std::string Prog = Dir + "/prog";
    fs::create_directories(Prog + "/bin");
    fs::copy_file(testrun::TessivoProgram(), Prog + "/tessivo", fs::copy_options::overwrite_existing);
    for (const auto &E : fs::directory_iterator(TESSIVO_BIN_DIR))
      if (E.path().extension() == ".so" && E.path().filename() != "Zone_BorderOfColor.so")
        fs::create_symlink(E.path(), Prog + "/bin/" + E.path().filename().string());
    for (const char *T : {"FLAXC", "IZYINS", "pngnqi"}) {
      std::ofstream(Prog + "/bin/" + T) << "#!/bin/sh\n" << Script;
      ::chmod((Prog + "/bin/" + T).c_str(), 0755);
    }
    std::ofstream(Prog + "/bin/Zone_BorderOfColor.so") << "companion";
    return Prog + "/tessivo";
  }

  std::string Dir;
};

}  // namespace

// Every tool turns the folder into indexed PNGs: pngcheck finds a PLTE
// chunk, ImageMagick counts at most 256 colours and a PSNR close to the
// source's; the working folder is gone when the run ends.
TEST_F(ColorReductionRun, FolderBecomesIndexedPngWithEachTool) {
  for (const char *Photo : {"astronaut", "coffee"}) {
    TESSIVO_REQUIRE(fs::exists(quanttest::PhotoFolder + "/" + Photo + ".png")) << "python3-skimage missing";
    fs::copy_file(quanttest::PhotoFolder + "/" + Photo + ".png", Dir + "/p/" + Photo + ".png");
  }
  ASSERT_TRUE(quanttest::MakeDrawing(Dir + "/p/drawing.png"));
  // The photographs carry an sRGB profile; a plain copy of each source is the reference.
  for (const char *Name : {"astronaut", "coffee", "drawing"})
    ASSERT_TRUE(Shell("convert " + Q(Dir + "/p/" + Name + ".png") + " -strip -alpha off " + Q(Dir + "/" + Name + ".ref.png")));
  for (const int Mode : {1, 2, 3}) {
    const std::string Out = Dir + "/out" + std::to_string(Mode);
    Profile("[DecreaseColor]\nUse=1\nMode=" + std::to_string(Mode) + "\n[File]\nFileNameFormat=" + Out +
            "/<old>.png\n");
    const TRun R = Run({"/ini=t.ini", Dir + "/p"});
    ASSERT_EQ(R.Status, 0) << "tool " << Mode << "\n" << R.Err;
    for (const char *Name : {"astronaut", "coffee", "drawing"}) {
      const std::string File = Out + "/" + Name + ".png";
      ASSERT_TRUE(fs::exists(File)) << File << "\n" << R.Err;
      EXPECT_NE(testenv::Capture("pngcheck -v " + Q(File)).find("PLTE"), std::string::npos) << File;
      EXPECT_LE(ColourCount(File), 256) << File;
      EXPECT_GT(Psnr(Dir + "/" + Name + ".ref.png", File), 30.0) << File;
    }
    EXPECT_EQ(TempLeft(), std::vector<std::string>{}) << "tool " << Mode;
  }
}

// pngnqi into JPEG: the reduced pixels are read back and written as JPEG;
// they are those of the tool's own file, which a PNG output gets as it is.
TEST_F(ColorReductionRun, PngnqiIntoJpegWritesTheReducedPixels) {
  ASSERT_TRUE(quanttest::MakeDrawing(Dir + "/p/drawing.png"));
  for (const char *Ext : {"png", "jpg"}) {
    Profile("[DecreaseColor]\nUse=1\nMode=3\nPaletteEntries=8\nDitherType=0\n[File]\nFileNameFormat=" + Dir +
            "/out/<old>." + Ext + "\n[JPEG]\nQuality=100\nSampleType=2\n");
    const TRun R = Run({"/ini=t.ini", Dir + "/p"});
    ASSERT_EQ(R.Status, 0) << R.Err;
  }
  const std::string Png = Dir + "/out/drawing.png", Jpeg = Dir + "/out/drawing.jpg";
  ASSERT_EQ(testenv::Capture("identify -format %m " + Q(Jpeg)), "JPEG");
  EXPECT_LE(ColourCount(Png), 8);
  EXPECT_GT(Psnr(Png, Jpeg), 38.0);
  EXPECT_LT(Psnr(Dir + "/p/drawing.png", Jpeg), Psnr(Png, Jpeg) - 5.0);
  EXPECT_EQ(TempLeft(), std::vector<std::string>{});
}

// A read-only output that the profile lets a run replace: the reduced
// picture takes its place and keeps its permissions, pngnqi's own file and
// FLAXC's read-back alike.
TEST_F(ColorReductionRun, ReadOnlyOutputIsReplacedAndStaysReadOnly) {
  ASSERT_TRUE(quanttest::MakeDrawing(Dir + "/p/drawing.png"));
  for (const int Mode : {1, 3}) {
    fs::create_directories(Dir + "/out");
    const std::string Out = Dir + "/out/drawing.png";
    fs::remove(Out);
    std::ofstream(Out) << "an older output";
    ::chmod(Out.c_str(), 0444);
    Profile("[DecreaseColor]\nUse=1\nMode=" + std::to_string(Mode) + "\nPaletteEntries=16\n[File]\nIgnoreReadOnlyAttr=1\nFileNameFormat=" +
            Dir + "/out/<old>.png\n");
    const TRun R = Run({"/ini=t.ini", "--overwrite", Dir + "/p"});
    ASSERT_EQ(R.Status, 0) << "tool " << Mode << "\n" << R.Err;
    EXPECT_NE(testenv::Capture("pngcheck -v " + Q(Out)).find("PLTE"), std::string::npos) << "tool " << Mode;
    EXPECT_LE(ColourCount(Out), 16) << "tool " << Mode;
    struct stat st;
    ASSERT_EQ(::stat(Out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0444u) << "tool " << Mode;
    EXPECT_EQ(TempLeft(), std::vector<std::string>{}) << "tool " << Mode;
  }
}

// A tool that leaves no result: one error line per file with the tool's
// reason, no output at all, status 1, no working file left.
TEST_F(ColorReductionRun, ToolWithoutResultGivesOneLinePerFileAndNoOutput) {
  for (int i = 1; i <= 3; ++i)
    ASSERT_TRUE(Shell("convert -size 40x30 gradient:red-blue " + Q(Dir + "/p/g" + std::to_string(i) + ".png")));
  const std::string Program = ProgramWithStandIns("echo \"$(basename \"$0\"): the palette search broke\" >&2\nexit 3\n");
  for (const int Mode : {1, 2, 3}) {
    fs::remove_all(Dir + "/out");
    Profile("[DecreaseColor]\nUse=1\nMode=" + std::to_string(Mode) + "\n[File]\nFileNameFormat=" + Dir +
            "/out/<old>.png\n");
    const TRun R = Run({"/ini=t.ini", Dir + "/p"}, Program);
    EXPECT_EQ(R.Status, 1) << R.Err;
    EXPECT_EQ(Occurrences(R.Err, "減色に失敗しました"), 3u) << R.Err;
    EXPECT_EQ(Occurrences(R.Err, "the palette search broke"), 3u) << R.Err;
    for (int i = 1; i <= 3; ++i)
      EXPECT_NE(R.Err.find("g" + std::to_string(i) + ".png: 減色に失敗しました"), std::string::npos) << R.Err;
    EXPECT_FALSE(fs::exists(Dir + "/out") && !fs::is_empty(Dir + "/out")) << "tool " << Mode;
    EXPECT_EQ(TempLeft(), std::vector<std::string>{}) << "tool " << Mode;
  }
}

// Ctrl+C while a tool is working: once (the run finishes the file in
// progress) or twice (the run abandons it); either way the working folder
// with the tool's files and the FLAXC copies is gone when tessivo has ended.
TEST_F(ColorReductionRun, StopWhileAToolWorksLeavesNoWorkingFile) {
  for (int i = 1; i <= 4; ++i)
    ASSERT_TRUE(Shell("convert -size 40x30 gradient:red-blue " + Q(Dir + "/p/g" + std::to_string(i) + ".png")));
  // The stand-in says it has started, then takes its time before it copies.
  const std::string Started = Dir + "/started";
  const std::string Program = ProgramWithStandIns("touch " + Q(Started) + "\nsleep 2\ncp \"$1\" \"$2\" 2>/dev/null\n");
  Profile("[DecreaseColor]\nUse=1\nMode=1\n[System]\nMaxThread=1\n[File]\nFileNameFormat=" + Dir + "/out/<old>.png\n");
  const struct {
    const char *Name;
    std::vector<int> Signals;
  } Cases[] = {{"Ctrl+C once", {SIGINT}}, {"Ctrl+C twice", {SIGINT, SIGINT}}};
  for (const auto &C : Cases) {
    fs::remove(Started);
    const testrun::TRunPlace P = Place();
    const pid_t Pid = testrun::StartProgram(Program, {"/ini=t.ini", Dir + "/p"}, P);
    ASSERT_GT(Pid, 0);
    ASSERT_TRUE(testrun::WaitUntil([&] { return fs::exists(Started); }, std::chrono::minutes(2))) << C.Name;
    // The working folder is there while the tool runs.
    EXPECT_EQ(TempLeft().size(), 1u) << C.Name;
    for (size_t i = 0; i < C.Signals.size(); ++i) {
      if (i > 0)
        testrun::WaitUntil([&] { return testrun::ReadFile(P.ErrPath).find("stopping: ") != std::string::npos; },
                           std::chrono::seconds(30));
      ::kill(Pid, C.Signals[i]);
    }
    const TRun R = testrun::WaitTessivo(Pid, P);
    EXPECT_EQ(R.Status, 1) << C.Name << "\n" << R.Err;
    EXPECT_EQ(TempLeft(), std::vector<std::string>{}) << C.Name << "\n" << R.Err;
  }
  // The abandoned tool may still be sleeping; its copy finds no folder to write into.
  ::sleep(3);
  EXPECT_EQ(TempLeft(), std::vector<std::string>{});
}
