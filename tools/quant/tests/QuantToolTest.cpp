// The colour-reduction tools as the program starts them: FLAXC (with its
// companion library), IZYINS and pngnqi on real photographs and on a
// drawing, measured by ImageMagick against pngquant and ImageMagick's own
// reduction; and the nearest-colour grid against the plain search.
#include "tools/quant/Remap.h"
#include "testutil/ColourReduction.h"
#include "testutil/TestEnv.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using quanttest::ColourCount;
using quanttest::Psnr;
using quanttest::Q;
using quanttest::Shell;

namespace {

std::string Tool(const std::string &Name) { return std::string(TESSIVO_BIN_DIR) + "/" + Name; }

// The option text the program passes by default, then the fixed and chosen values.
std::string ToolLine(const std::string &Tool, const std::string &Src, const std::string &Dest, int Colours, int Dither,
                     int Corner = 0) {
  return Q(Tool) + " " + Q(Src) + " " + Q(Dest) + " -Y10 -C10 -G10 -O8 -I8 -R1 -B0 -A" + std::to_string(Corner) +
         " -P" + std::to_string(Colours) + " -D" + std::to_string(Dither) + " -L8";
}

std::vector<uint8_t> Bytes(const std::string &Path) {
  std::ifstream In(Path, std::ios::binary);
  return {std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
}

class QuantTools : public ::testing::Test {
protected:
  void SetUp() override {
    TESSIVO_REQUIRE(testenv::HaveImageMagick()) << "ImageMagick missing";
    for (const char *T : {"FLAXC", "Zone_BorderOfColor.so", "IZYINS", "pngnqi"})
      TESSIVO_REQUIRE(!testenv::BinFile(T).empty()) << T << " is not built";
    char Tmpl[] = "/tmp/tessivo-quant-XXXXXX";
    Dir = ::mkdtemp(Tmpl);
  }
  void TearDown() override {
    if (!Dir.empty()) fs::remove_all(Dir);
  }
  std::string At(const std::string &Name) const { return Dir + "/" + Name; }
  std::string Dir;
};

}  // namespace

// PSNR at 256, 64 and 16 colours on two photographs (scikit-image's
// astronaut and coffee) and the drawing: FLAXC and IZYINS with
// their default error diffusion at least match pngquant --speed 1 (within
// 0.3 dB) at 256 and 64 colours, every dither type stays far above
// ImageMagick's -colors, and every result holds no more colours than asked.
TEST_F(QuantTools, PhotographsReduceAtLeastAsWellAsPngquant) {
  TESSIVO_REQUIRE(Shell("pngquant --version")) << "pngquant missing";
  struct TTool {
    const char *Name;
    std::vector<int> Dithers;
  };
  const TTool Tools[] = {{"FLAXC", {0, 1, 2, 3, 4}}, {"IZYINS", {0, 2, 3}}};
  ASSERT_TRUE(quanttest::MakeDrawing(At("drawing.png")));
  ASSERT_TRUE(Shell("convert " + Q(At("drawing.png")) + " BMP3:" + Q(At("drawing.bmp"))));
  for (const char *Photo : {"astronaut", "coffee", "drawing"}) {
    if (std::string(Photo) != "drawing") {
      TESSIVO_REQUIRE(quanttest::MakePhotoCopies(Dir, Photo)) << "scikit-image's photographs (python3-skimage) missing";
    }
    const std::string Png = At(std::string(Photo) + ".png"), Bmp = At(std::string(Photo) + ".bmp");
    for (const int N : {256, 64, 16}) {
      ASSERT_TRUE(Shell("pngquant --speed 1 --force -o " + Q(At("pq.png")) + " " + std::to_string(N) + " " + Q(Png)));
      ASSERT_TRUE(Shell("convert " + Q(Png) + " -colors " + std::to_string(N) + " " + Q(At("im.png"))));
      const double Pq = Psnr(Png, At("pq.png")), Im = Psnr(Png, At("im.png"));
      std::string Line = std::string(Photo) + " " + std::to_string(N) + " colours: pngquant " + std::to_string(Pq) +
                         " dB, ImageMagick " + std::to_string(Im) + " dB";
      for (const TTool &T : Tools)
        for (const int D : T.Dithers) {
          const std::string Out = At("out.bmp");
          fs::remove(Out);
          ASSERT_TRUE(Shell(ToolLine(Tool(T.Name), Bmp, Out, N, D))) << T.Name << " -D" << D;
          const double P = Psnr(Png, Out);
          Line += std::string(", ") + T.Name + " -D" + std::to_string(D) + " " + std::to_string(P);
          EXPECT_LE(ColourCount(Out), N) << T.Name << " -D" << D << " " << Photo;
          EXPECT_GT(P, Im + 1.0) << T.Name << " -D" << D << " " << Photo << " " << N;
          if (D == 2 && N >= 64) {
            EXPECT_GE(P, Pq - 0.3) << T.Name << " " << Photo << " " << N << " colours";
          }
        }
      std::printf("%s\n", Line.c_str());
    }
  }
}

// The drawing mode keeps every flat rectangle one colour, where error
// diffusion speckles those whose colour the palette lacks.
TEST_F(QuantTools, DrawingModeKeepsFlatAreasFlat) {
  ASSERT_TRUE(quanttest::MakeDrawing(At("drawing.png")));
  ASSERT_TRUE(Shell("convert " + Q(At("drawing.png")) + " BMP3:" + Q(At("drawing.bmp"))));
  for (const int N : {16, 8}) {
    long Flat[5] = {};
    for (const int D : {2, 4}) {
      ASSERT_TRUE(Shell(ToolLine(Tool("FLAXC"), At("drawing.bmp"), At("d.bmp"), N, D)));
      for (int k = 0; k < 24; ++k) Flat[D] += ColourCount(At("d.bmp"), quanttest::FlatCell(k));
    }
    EXPECT_EQ(Flat[4], 24) << N << " colours: the drawing mode speckled a flat rectangle";
    EXPECT_GT(Flat[2], Flat[4]) << N << " colours";
    std::printf("%d colours: colours in the 24 flat rectangles: error diffusion %ld, drawing mode %ld\n", N, Flat[2],
                Flat[4]);
  }
}

// A picture with no more colours than asked keeps them all, exactly, with
// every tool and dither; with 16 or fewer the indexes take 4 bits (-B0).
TEST_F(QuantTools, FewColoursAreKeptExactly) {
  ASSERT_TRUE(Shell("convert -size 64x48 xc:'#102030' -fill '#c08040' -draw 'rectangle 10,10 40,30' -fill '#ffffff'"
                    " -draw 'rectangle 45,5 60,40' BMP3:" + Q(At("three.bmp"))));
  for (const char *T : {"FLAXC", "IZYINS"})
    for (const int D : {0, 1, 2, 3, 4}) {
      fs::remove(At("r.bmp"));
      ASSERT_TRUE(Shell(ToolLine(Tool(T), At("three.bmp"), At("r.bmp"), 16, D))) << T << " -D" << D;
      EXPECT_EQ(Psnr(At("three.bmp"), At("r.bmp")), 99) << T << " -D" << D;
      const std::vector<uint8_t> B = Bytes(At("r.bmp"));
      ASSERT_GT(B.size(), 30u);
      EXPECT_EQ(B[28], 4) << T << ": bits per index";
    }
}

// -A1..-A4: the corner's colour keeps its own palette entry; exactly the
// pixels of that colour take it, so the writer finds it unchanged.
TEST_F(QuantTools, TransparentCornerColourIsKeptForItsPixelsOnly) {
  // The top-left corner is a colour close to the photograph's, so that a
  // careless mapping would send other pixels to its entry.
  TESSIVO_REQUIRE(quanttest::MakePhotoCopies(Dir, "coffee")) << "python3-skimage missing";
  ASSERT_TRUE(Shell("convert " + Q(At("coffee.png")) + " -fill '#5a3a22' -draw 'rectangle 0,0 19,19' BMP3:" +
                    Q(At("c.bmp"))));
  for (const char *T : {"FLAXC", "IZYINS"}) {
    ASSERT_TRUE(Shell(ToolLine(Tool(T), At("c.bmp"), At("r.bmp"), 32, 2, 1))) << T;
    // The pixels of the corner colour, in the source and in the result: the
    // same ones (the square and any the photograph has of that colour).
    const auto Mask = [&](const std::string &Path, const std::string &Name) {
      return Shell("convert " + Q(Path) + " -fill black +opaque '#5a3a22' -fill white -opaque '#5a3a22' " +
                   Q(At(Name)));
    };
    ASSERT_TRUE(Mask(At("c.bmp"), "source-mask.png") && Mask(At("r.bmp"), "result-mask.png"));
    EXPECT_EQ(testenv::Capture("compare -metric AE " + Q(At("source-mask.png")) + " " + Q(At("result-mask.png")) +
                               " null: 2>&1; true"),
              "0")
        << T;
    EXPECT_GE(std::atof(testenv::Capture("convert " + Q(At("result-mask.png")) + " -format '%[fx:mean*w*h]' info:").c_str()),
              400.0)
        << T;
  }
}

// FLAXC refuses to run without its companion library; nothing is written.
TEST_F(QuantTools, FlaxcWithoutItsCompanionWritesNothing) {
  fs::create_directories(At("alone"));
  fs::copy_file(Tool("FLAXC"), At("alone/FLAXC"));
  ASSERT_TRUE(quanttest::MakeDrawing(At("drawing.png")));
  ASSERT_TRUE(Shell("convert " + Q(At("drawing.png")) + " BMP3:" + Q(At("drawing.bmp"))));
  const std::string Err = testenv::Capture(ToolLine(At("alone/FLAXC"), At("drawing.bmp"), At("r.bmp"), 16, 2) + " 2>&1; true");
  EXPECT_NE(Err.find("Zone_BorderOfColor.so"), std::string::npos) << Err;
  EXPECT_FALSE(fs::exists(At("r.bmp")));
  // With the companion beside it, the same copy works.
  fs::copy_file(Tool("Zone_BorderOfColor.so"), At("alone/Zone_BorderOfColor.so"));
  EXPECT_TRUE(Shell(ToolLine(At("alone/FLAXC"), At("drawing.bmp"), At("r.bmp"), 16, 2)));
  EXPECT_TRUE(fs::exists(At("r.bmp")));
}

// Bad sources and command lines: a message, a failing status, no result.
TEST_F(QuantTools, BadInputGivesAStatusAndNoResult) {
  std::ofstream(At("text.bmp")) << "this is no bitmap";
  std::ofstream(At("short.bmp")) << "BM\x10";
  struct TCase {
    const char *Label;
    std::string Args;
    int Status;
  };
  const TCase Cases[] = {
      {"not a BMP", Q(At("text.bmp")) + " " + Q(At("r.bmp")), 1},
      {"cut short", Q(At("short.bmp")) + " " + Q(At("r.bmp")), 1},
      {"missing", Q(At("none.bmp")) + " " + Q(At("r.bmp")), 1},
      {"colours out of range", Q(At("text.bmp")) + " " + Q(At("r.bmp")) + " -P300", 2},
      {"unknown option", Q(At("text.bmp")) + " " + Q(At("r.bmp")) + " -Z3", 2},
      {"no destination", Q(At("text.bmp")), 2},
  };
  for (const char *T : {"FLAXC", "IZYINS"})
    for (const TCase &C : Cases) {
      const int S = std::system((Q(Tool(T)) + " " + C.Args + " >/dev/null 2>&1").c_str());
      EXPECT_EQ(WIFEXITED(S) ? WEXITSTATUS(S) : -1, C.Status) << T << ": " << C.Label;
      EXPECT_FALSE(fs::exists(At("r.bmp"))) << T << ": " << C.Label;
    }
}

// pngnqi writes NAME-nq8.png beside its input: an indexed PNG (pngcheck
// finds PLTE) of at most the colours asked, through pngnq from 16 colours
// up and through libimagequant below; with and without dithering, from RGB,
// gray and RGBA sources.
TEST_F(QuantTools, PngnqiLeavesAnIndexedPngBesideItsInput) {
  TESSIVO_REQUIRE(Shell("pngnq -V") || Shell("command -v pngnq")) << "pngnq missing";
  TESSIVO_REQUIRE(Shell("pngcheck -h") || Shell("command -v pngcheck")) << "pngcheck missing";
  TESSIVO_REQUIRE(quanttest::MakePhotoCopies(Dir, "astronaut")) << "python3-skimage missing";
  ASSERT_TRUE(Shell("convert " + Q(At("astronaut.png")) + " -colorspace gray " + Q(At("gray.png"))));
  ASSERT_TRUE(Shell("convert " + Q(At("astronaut.png")) + " -alpha set -channel A -fx 'i/w' +channel " +
                    Q(At("rgba.png"))));
  struct TCase {
    const char *Source;
    const char *Args;
    int MaxColours;
  };
  const TCase Cases[] = {
      {"astronaut", "-n256 -s2 -Qf", 256}, {"astronaut", "-n64 -s3 -Qn", 64}, {"astronaut", "-n16 -s10 -Qf", 16},
      {"astronaut", "-n8 -s2 -Qf", 8},     {"astronaut", "-n2 -s5 -Qn", 2},    {"gray", "-n32 -s2 -Qf", 32},
      {"rgba", "-n128 -s2 -Qf", 128},      {"rgba", "-n4 -s2 -Qf", 4},
  };
  for (const TCase &C : Cases) {
    const std::string In = At(std::string(C.Source) + ".png"), Out = At(std::string(C.Source) + "-nq8.png");
    fs::remove(Out);
    ASSERT_TRUE(Shell(Q(Tool("pngnqi")) + " " + C.Args + " " + Q(In))) << C.Source << " " << C.Args;
    ASSERT_TRUE(fs::exists(Out)) << C.Source << " " << C.Args;
    const std::string Check = testenv::Capture("pngcheck -v " + Q(Out));
    EXPECT_NE(Check.find("PLTE"), std::string::npos) << C.Args << "\n" << Check;
    EXPECT_LE(ColourCount(Out), C.MaxColours) << C.Args;
    EXPECT_GT(Psnr(In, Out), C.MaxColours >= 64 ? 28.0 : 14.0) << C.Source << " " << C.Args;
  }
  // Dithering changes the result; a missing input is a failing status and no result.
  ASSERT_TRUE(Shell(Q(Tool("pngnqi")) + " -n16 -s3 -Qn " + Q(At("astronaut.png"))));
  const std::vector<uint8_t> Plain = Bytes(At("astronaut-nq8.png"));
  ASSERT_TRUE(Shell(Q(Tool("pngnqi")) + " -n16 -s3 -Qf " + Q(At("astronaut.png"))));
  EXPECT_NE(Bytes(At("astronaut-nq8.png")), Plain);
  EXPECT_FALSE(Shell(Q(Tool("pngnqi")) + " -n16 -s3 -Qf " + Q(At("none.png"))));
  EXPECT_FALSE(fs::exists(At("none-nq8.png")));
}

// The grid of candidate lists answers what a scan of every entry answers,
// for random palettes of every size, with and without a skipped entry.
TEST(NearestColour, GridAgreesWithTheFullScan) {
  std::mt19937 Rng(7);
  std::uniform_int_distribution<int> Byte(0, 255);
  for (const size_t Size : {1u, 2u, 3u, 16u, 64u, 255u, 256u}) {
    std::vector<TRgba> Palette(Size);
    for (TRgba &c : Palette) c = TRgba{uint8_t(Byte(Rng)), uint8_t(Byte(Rng)), uint8_t(Byte(Rng)), 255};
    if (Size > 4) Palette[3] = Palette[1];  // equal entries: the first must win in both
    for (const int32_t Skip : {-1, 0}) {
      if (Skip == 0 && Size < 2) continue;
      const TNearestColour N(Palette, Skip);
      for (int i = 0; i < 20000; ++i) {
        const int r = Byte(Rng), g = Byte(Rng), b = Byte(Rng);
        ASSERT_EQ(N.Find(r, g, b), N.FindByScan(r, g, b)) << Size << " entries, skip " << Skip;
        if (Skip == 0) {
          ASSERT_NE(N.Find(r, g, b), 0) << Size;
        }
      }
    }
  }
}
