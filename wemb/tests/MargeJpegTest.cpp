// write_jpeg and marge_jpeg: a picture encoded again with the file's own
// tables and sampling, and merged back by a block map. libjpeg's own
// coefficient reader is the referee: the marked MCUs hold the re-encoded
// blocks, every other MCU the input's, and djpeg decodes the untouched
// MCUs to the input's pixels.
#include "testutil/TestEnv.h"
#include "wemb/tests/CoefTestUtil.h"
#include "wemb/tests/WembTestUtil.h"

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;
using namespace wembtest;

std::string GLastMessage;
void KeepMessage(const char *, const char *Text) { GLastMessage = Text; }

const uint8_t *Data(const std::string &S) { return reinterpret_cast<const uint8_t *>(S.data()); }

struct TMergeCase {
  const char *Name;
  int W, H;
  std::vector<std::string> Options;  // cjpeg's
};

const TMergeCase MergeCases[] = {
    {"Sampled420OffTheGrid", 643, 479, {"-sample", "2x2"}},
    {"Sampled420OnTheGrid", 320, 240, {"-sample", "2x2"}},
    {"Sampled422", 331, 207, {"-sample", "2x1"}},
    {"Full444", 250, 170, {"-sample", "1x1"}},
    {"Gray", 201, 133, {"-grayscale"}},
    {"OptimisedTables", 643, 479, {"-sample", "2x2", "-optimize"}},
    {"Progressive", 643, 479, {"-sample", "2x2", "-progressive"}},
};

class MargeJpeg : public ::testing::TestWithParam<TMergeCase> {
 protected:
  void SetUp() override {
    Dir = fs::temp_directory_path() / ("wemb-marge-" + std::to_string(getpid()));
    fs::create_directories(Dir);
    ASSERT_TRUE(init_jpegtran(AppendToString, KeepMessage));
  }
  void TearDown() override { fs::remove_all(Dir); }
  fs::path Dir;
};

// The input decoded, its pixels inverted, encoded again with the input as
// template, and merged by a map marking a block of cells in the middle, the
// last column's and last row's cells (partial on an off-grid size) and the
// first cell.
TEST_P(MargeJpeg, TakesExactlyTheMarkedCellsFromTheModifiedFile) {
  TESSIVO_REQUIRE(HaveProgram("cjpeg") && HaveProgram("djpeg"));
  const TMergeCase &c = GetParam();
  const std::string in = ReadFile(MakeJpeg(Dir, c.Name, c.W, c.H, c.Options));
  const TCoefficients inCoef = ReadCoefficients(in);
  ASSERT_TRUE(inCoef.Ok);

  TWembImage img{};
  img.Scale = 1;
  ASSERT_TRUE(read_jpeg(&img, Data(in), uint32_t(in.size()))) << GLastMessage;
  for (uint32_t r = 0; r < img.Height; ++r)
    for (uint32_t i = 0; i < img.Width * img.Channels; ++i) img.Mem[size_t(r) * img.Bpl + i] ^= 0xFF;
  std::string modified;
  ASSERT_TRUE(write_jpeg(&img, &modified, Data(in), uint32_t(in.size()))) << GLastMessage;
  munmap(img.Mem, size_t(img.Bpl) * img.Height);
  const TCoefficients modCoef = ReadCoefficients(modified);
  ASSERT_TRUE(modCoef.Ok);
  EXPECT_EQ(modCoef.Quant, inCoef.Quant) << "the template's tables";
  ASSERT_EQ(modCoef.CellsX, inCoef.CellsX) << "the template's sampling";
  ASSERT_EQ(modCoef.CellsY, inCoef.CellsY);

  const uint32_t cx = inCoef.CellsX, cy = inCoef.CellsY;
  std::vector<uint8_t> map(size_t(cx) * cy, 0);
  for (uint32_t y = cy / 3; y < cy / 2; ++y)
    for (uint32_t x = cx / 4; x < cx / 2; ++x) map[y * cx + x] = 1;
  for (uint32_t y = 0; y < cy; ++y) map[y * cx + cx - 1] = 1;
  for (uint32_t x = 0; x < cx; x += 2) map[(cy - 1) * cx + x] = 1;
  map[0] = 1;

  std::string merged;
  ASSERT_TRUE(marge_jpeg(Data(in), uint32_t(in.size()), Data(modified), uint32_t(modified.size()), &merged,
                         map.data()))
      << GLastMessage;
  const TCoefficients out = ReadCoefficients(merged);
  ASSERT_TRUE(out.Ok);
  EXPECT_EQ(out.Quant, inCoef.Quant);
  size_t wrong = 0;
  for (uint32_t y = 0; y < cy; ++y)
    for (uint32_t x = 0; x < cx; ++x) wrong += !out.SameCell(map[y * cx + x] ? modCoef : inCoef, x, y);
  EXPECT_EQ(wrong, 0u) << "cells not taken from the file the map names";

  // djpeg without fancy upsampling decodes every cell from its own blocks,
  // so an unmarked cell decodes to the input's pixels exactly.
  WriteFile(Dir / "in.jpg", in);
  WriteFile(Dir / "merged.jpg", merged);
  testutil::TNetpbm a, b;
  ASSERT_TRUE(testutil::ParseNetpbm(RunProgram({"djpeg", "-nosmooth", "-pnm", (Dir / "in.jpg").string()}), a));
  ASSERT_TRUE(testutil::ParseNetpbm(RunProgram({"djpeg", "-nosmooth", "-pnm", (Dir / "merged.jpg").string()}), b));
  ASSERT_EQ(a.Width, b.Width);
  ASSERT_EQ(a.Height, b.Height);
  size_t differing = 0, inverted = 0;
  for (uint32_t y = 0; y < a.Height; ++y)
    for (uint32_t x = 0; x < a.Width; ++x) {
      const bool marked = map[(y / inCoef.CellH) * cx + x / inCoef.CellW];
      for (uint32_t k = 0; k < a.Depth; ++k) {
        const int pa = int(a.At(x, y, k)), pb = int(b.At(x, y, k));
        if (!marked) differing += pa != pb;
        else inverted += std::abs(255 - pa - pb) <= 12;
      }
    }
  EXPECT_EQ(differing, 0u) << "pixels of unmarked cells changed";
  // The marked cells show the inverted picture (within the re-encoding's loss).
  size_t markedSamples = 0;
  for (uint32_t y = 0; y < a.Height; ++y)
    for (uint32_t x = 0; x < a.Width; ++x) markedSamples += map[(y / inCoef.CellH) * cx + x / inCoef.CellW] ? a.Depth : 0;
  EXPECT_GT(double(inverted), 0.95 * double(markedSamples));
}

INSTANTIATE_TEST_SUITE_P(Files, MargeJpeg, ::testing::ValuesIn(MergeCases),
                         [](const ::testing::TestParamInfo<TMergeCase> &P) { return std::string(P.param.Name); });

// With nothing marked the merged file codes the same coefficients with the
// input's own Huffman tables, so its entropy-coded data is the input's, byte
// for byte (standard and optimised tables alike).
TEST(MargeJpegCoding, AnEmptyMapKeepsTheScanByteForByte) {
  TESSIVO_REQUIRE(HaveProgram("cjpeg"));
  ASSERT_TRUE(init_jpegtran(AppendToString, KeepMessage));
  for (const std::vector<std::string> &opts :
       {std::vector<std::string>{"-sample", "2x2"}, std::vector<std::string>{"-sample", "2x2", "-optimize"},
        std::vector<std::string>{"-grayscale", "-optimize"}}) {
    const std::string in = ReadFile(CachedJpeg("marge-scan" + std::to_string(opts.size()) + opts[0], 643, 479, opts));
    const TCoefficients c = ReadCoefficients(in);
    ASSERT_TRUE(c.Ok);
    const std::vector<uint8_t> map(size_t(c.CellsX) * c.CellsY, 0);
    std::string merged;
    ASSERT_TRUE(marge_jpeg(Data(in), uint32_t(in.size()), Data(in), uint32_t(in.size()), &merged, map.data()))
        << GLastMessage;
    EXPECT_EQ(ScanData(merged), ScanData(in)) << opts.back();
  }
}

// A modified file that does not match the input is refused with a message.
TEST(MargeJpegCoding, AFileOfAnotherSizeOrTablesIsRefused) {
  TESSIVO_REQUIRE(HaveProgram("cjpeg"));
  ASSERT_TRUE(init_jpegtran(AppendToString, KeepMessage));
  const std::string in = ReadFile(CachedJpeg("marge-base", 320, 240, {"-sample", "2x2"}));
  const std::string smaller = ReadFile(CachedJpeg("marge-small", 312, 240, {"-sample", "2x2"}));
  const fs::path dir = fs::temp_directory_path() / ("wemb-marge-q-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string otherTables = ReadFile(MakeJpeg(dir, "q", 320, 240, {"-sample", "2x2", "-quality", "50"}));
  fs::remove_all(dir);
  const std::vector<uint8_t> map(size_t(20) * 15, 1);
  for (const std::string *m : {&smaller, &otherTables}) {
    std::string merged;
    GLastMessage.clear();
    EXPECT_FALSE(marge_jpeg(Data(in), uint32_t(in.size()), Data(*m), uint32_t(m->size()), &merged, map.data()));
    EXPECT_FALSE(GLastMessage.empty());
  }
}

// With the template's tables and sampling, a picture decoded and encoded
// again gives back most blocks exactly (re-quantising with the same tables
// lands on the same levels), which is what keeps an overlay's re-encoded
// MCUs close to the original around the text.
TEST(WriteJpeg, AnUnchangedPictureComesBackWithMostOfItsBlocks) {
  TESSIVO_REQUIRE(HaveProgram("cjpeg"));
  ASSERT_TRUE(init_jpegtran(AppendToString, KeepMessage));
  for (const std::vector<std::string> &opts :
       {std::vector<std::string>{"-sample", "1x1"}, std::vector<std::string>{"-grayscale"}}) {
    const std::string in = ReadFile(CachedJpeg("reencode" + opts[0], 331, 250, opts));
    TWembImage img{};
    img.Scale = 1;
    ASSERT_TRUE(read_jpeg(&img, Data(in), uint32_t(in.size()))) << GLastMessage;
    std::string again;
    ASSERT_TRUE(write_jpeg(&img, &again, Data(in), uint32_t(in.size()))) << GLastMessage;
    munmap(img.Mem, size_t(img.Bpl) * img.Height);
    const TCoefficients a = ReadCoefficients(in), b = ReadCoefficients(again);
    ASSERT_TRUE(a.Ok && b.Ok);
    size_t same = 0;
    for (uint32_t y = 0; y < a.CellsY; ++y)
      for (uint32_t x = 0; x < a.CellsX; ++x) same += a.SameCell(b, x, y);
    EXPECT_GT(double(same), 0.8 * a.CellsX * a.CellsY) << opts.back();
  }
}

}  // namespace
