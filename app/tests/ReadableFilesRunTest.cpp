// The real tessivo program on files the common decoders read although they
// are unusual: a BigTIFF, a header-less DIB, 12-bit and Lab TIFF, JPEGs with
// stray bytes or broken segments before the frame, and 16-bit pictures that
// no step changes. Every output is compared with an outside decoder's view
// of the source (ImageMagick, djpeg).
#include "testutil/Netpbm.h"
#include "testutil/TestEnv.h"
#include "app/tests/RunTessivo.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using testrun::ReadFile;
using testrun::TRun;

using testrun::Shell;

std::string Quote(const std::string &S) {
  std::string Q = "'";
  for (char C : S) Q += C == '\'' ? std::string("'\\''") : std::string(1, C);
  return Q + "'";
}

// A picture as an outside decoder gives it: 16-bit R, G, B samples (gray
// widened), top row first.
struct TPicture {
  uint32_t Width = 0, Height = 0;
  std::vector<std::array<int, 3>> Px;
};

// Reads a PAM or PNM (8 or 16 bits) written by ImageMagick or djpeg, on the 16-bit scale.
bool ReadNetpbm(const std::string &Path, TPicture &Out) {
  testutil::TNetpbm P;
  if (!testutil::ParseNetpbm(ReadFile(Path), P)) return false;
  Out.Width = P.Width, Out.Height = P.Height;
  Out.Px.resize(size_t(P.Width) * P.Height);
  for (uint32_t Y = 0; Y < P.Height; ++Y)
    for (uint32_t X = 0; X < P.Width; ++X) {
      const auto C = P.Rgba(X, Y);
      for (int K = 0; K < 3; ++K) Out.Px[size_t(Y) * P.Width + X][K] = int(int64_t(C[K]) * 65535 / P.MaxVal);
    }
  return true;
}

// ImageMagick's 16-bit view of Source (a path, perhaps with a format prefix).
bool Magick(const std::string &Source, const std::string &Scratch, TPicture &Out) {
  return Shell("convert " + Quote(Source + "[0]") + " -depth 16 pam:" + Quote(Scratch)) && ReadNetpbm(Scratch, Out);
}

// Largest per-sample difference on the 16-bit scale; -1 when the sizes differ.
int Difference(const TPicture &A, const TPicture &B) {
  if (A.Width != B.Width || A.Height != B.Height) return -1;
  int Worst = 0;
  for (size_t I = 0; I < A.Px.size(); ++I)
    for (int C = 0; C < 3; ++C) Worst = std::max(Worst, std::abs(A.Px[I][C] - B.Px[I][C]));
  return Worst;
}

class ReadableFiles : public ::testing::Test {
protected:
  void SetUp() override {
    char Tmpl[] = "/tmp/tessivo-readable-XXXXXX";
    Dir = ::mkdtemp(Tmpl);
    fs::create_directories(Dir + "/data/ini");
    fs::create_directories(Dir + "/p");
  }
  void TearDown() override { fs::remove_all(Dir); }

  void Profile(const std::string &Text) { std::ofstream(Dir + "/data/ini/t.ini") << Text; }
  TRun Run(std::vector<std::string> Args) {
    testrun::TRunPlace P;
    P.Env = {"TESSIVOPLUS_DATA=" + Dir + "/data", "XDG_DATA_HOME=" + Dir + "/xdg", "HOME=" + Dir, "PATH=/usr/bin:/bin",
             "LANG=C.UTF-8"};
    P.WorkDir = Dir + "/p";
    P.ErrPath = Dir + "/stderr.txt";
    return testrun::WaitTessivo(testrun::StartTessivo(std::move(Args), P), P);
  }
  // Inserts Bytes into the file at Path just after its first two bytes (a JPEG's SOI).
  void AfterSOI(const std::string &Path, const std::string &Bytes) {
    std::string D = ReadFile(Path);
    D.insert(2, Bytes);
    std::ofstream(Path, std::ios::binary | std::ios::trunc) << D;
  }

  std::string Dir;
};

// A folder of such files converts completely, each as the outside decoder
// shows its source; stray bytes before a JPEG's first segment are a warning.
TEST_F(ReadableFiles, UnusualFilesInAFolderConvertAsOutsideDecodersShowThem) {
  TESSIVO_REQUIRE(Shell("command -v convert")) << "ImageMagick's convert not installed (imagemagick)";
  TESSIVO_REQUIRE(Shell("command -v tiffcp")) << "tiffcp not installed (libtiff-tools)";
  TESSIVO_REQUIRE(Shell("command -v djpeg")) << "djpeg not installed (libjpeg-turbo-progs)";
  const std::string P = Dir + "/p/", S = Dir + "/";
  const std::string Plasma = "convert -seed 8 -size 41x27 plasma:fractal ";
  ASSERT_TRUE(Shell(Plasma + "-depth 8 " + S + "classic.tif"));
  ASSERT_TRUE(Shell("tiffcp -8 -c lzw " + S + "classic.tif " + P + "big.tif"));
  ASSERT_TRUE(Shell(Plasma + "-depth 12 " + P + "deep12.tif"));
  ASSERT_TRUE(Shell(Plasma + "-colorspace gray -depth 12 " + P + "gray12.tif"));
  ASSERT_TRUE(Shell(Plasma + "bmp3:" + S + "full.bmp"));
  {
    const std::string Bmp = ReadFile(S + "full.bmp");
    std::ofstream(P + "headerless.dib", std::ios::binary) << Bmp.substr(14);
  }
  const std::string Jpeg = Plasma + "-sampling-factor 1x1 -quality 92 ";
  const struct {
    const char *Name;
    std::string Inserted;  // after SOI
  } Jpegs[] = {
      {"stray", std::string("\x00\x11\x22", 3)},
      {"stray_ff00", std::string("\x12\xFF\x00\x34", 4)},
      {"app14_length0", std::string("\xFF\xEE\x00\x00", 4)},
      {"app14_length1", std::string("\xFF\xEE\x00\x01", 4)},
      {"app14_short_adobe", std::string("\xFF\xEE\x00\x07" "Adobe", 9)},
      // A Photoshop segment whose length ends inside its own data.
      {"app13_short", std::string("\xFF\xED\x00\x08", 4) + std::string("Photoshop 3.0\0" "8BIM\x04\x04\0\0\0\0\0\x04", 26) + "junk"},
  };
  for (const auto &J : Jpegs) {
    ASSERT_TRUE(Shell(Jpeg + P + J.Name + ".jpg"));
    AfterSOI(P + J.Name + ".jpg", J.Inserted);
  }
  Profile("[File]\nFileNameFormat=" + Dir + "/out/<old>.png\nAddSubFolder=0\n");
  const TRun R = Run({"/ini=t.ini", Dir + "/p"});
  EXPECT_EQ(R.Status, 0) << R.Err;
  EXPECT_EQ(R.Err.find("ErrorLog"), std::string::npos) << R.Err;
  EXPECT_NE(R.Err.find("stray.jpg: JPEG: Corrupt JPEG data: 3 extraneous bytes"), std::string::npos) << R.Err;

  // What the outside decoders make of each source.
  struct {
    std::string Out, Format, Source;
  } Expect[] = {{"big", "", "big.tif"}, {"deep12", "", "deep12.tif"}, {"gray12", "", "gray12.tif"},
                {"headerless", "dib:", "headerless.dib"}};
  for (const auto &E : Expect) {
    SCOPED_TRACE(E.Out);
    TPicture Ref, Got;
    ASSERT_TRUE(Magick(E.Format + P + E.Source, S + "ref.pam", Ref));
    ASSERT_TRUE(Magick(Dir + "/out/" + E.Out + ".png", S + "got.pam", Got)) << "no output";
    EXPECT_EQ(Difference(Got, Ref), 0);
  }
  for (const auto &J : Jpegs) {
    SCOPED_TRACE(J.Name);
    TPicture Ref, Got;
    Shell("djpeg -pnm -outfile " + S + "ref.ppm " + P + J.Name + ".jpg");  // a warning is not a failure here
    ASSERT_TRUE(ReadNetpbm(S + "ref.ppm", Ref)) << "djpeg gave nothing";
    ASSERT_TRUE(Magick(Dir + "/out/" + J.Name + ".png", S + "got.pam", Got)) << "no output";
    EXPECT_EQ(Difference(Got, Ref), 0);
  }
}

// In a folder walk, a file that is one of the read formats by its first
// bytes but cannot be read is logged with the reason; a file that only has
// an image's extension is passed over as before.
TEST_F(ReadableFiles, RecognisedFilesThatCannotBeReadSayWhy) {
  const std::string P = Dir + "/p/";
  const struct {
    const char *Name;
    std::string Bytes;
    const char *Says;  // empty: passed over without a word
  } Cases[] = {
      {"zero.gif", std::string("GIF89a\0\0\0\0\0\0\0", 13), "the file's header gives no image size"},
      {"nodims.tif", std::string("II*\0\x08\0\0\0\0\0\0\0\0\0", 14), "the file's header gives no image size"},
      {"shortbmp.dib", std::string("BM\x10\0", 4), ""},
      {"words.jpg", "just some words\n", ""},
  };
  for (const auto &C : Cases) std::ofstream(P + C.Name, std::ios::binary) << C.Bytes;
  Profile("[File]\nFileNameFormat=" + Dir + "/out/<old>.png\nAddSubFolder=0\n");
  const TRun R = Run({"/ini=t.ini", Dir + "/p"});
  for (const auto &C : Cases) {
    const size_t At = R.Err.find(C.Name);
    if (*C.Says) {
      ASSERT_NE(At, std::string::npos) << C.Name << " not logged:\n" << R.Err;
      EXPECT_NE(R.Err.find(C.Says, At), std::string::npos) << R.Err;
    } else {
      EXPECT_EQ(At, std::string::npos) << R.Err;
    }
  }
}

// A 16-bit picture that no step changes keeps every sample in 16-bit PNG and
// TIFF output, as ImageMagick reads source and output.
TEST_F(ReadableFiles, SixteenBitSamplesThatNoStepChangesStayExact) {
  TESSIVO_REQUIRE(Shell("command -v convert")) << "ImageMagick's convert not installed (imagemagick)";
  const std::string S = Dir + "/";
  ASSERT_TRUE(Shell("convert -seed 9 -size 37x23 plasma:fractal -depth 16 " + Dir + "/p/deep.png"));
  TPicture Ref;
  ASSERT_TRUE(Magick(Dir + "/p/deep.png", S + "ref.pam", Ref));
  for (const char *Ext : {"png", "tif"}) {
    SCOPED_TRACE(Ext);
    fs::remove_all(Dir + "/out");
    Profile(std::string("[File]\nFileNameFormat=") + Dir + "/out/<old>." + Ext + "\nAddSubFolder=0\n");
    const TRun R = Run({"/ini=t.ini", "--size", "100%", Dir + "/p/deep.png"});
    ASSERT_EQ(R.Status, 0) << R.Err;
    const std::string Out = Dir + "/out/deep." + Ext;
    TPicture Got;
    ASSERT_TRUE(Magick(Out, S + "got.pam", Got)) << "no output";
    EXPECT_EQ(Difference(Got, Ref), 0);
  }
}

}  // namespace
