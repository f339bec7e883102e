// read_jpeg against libjpeg-turbo's own tools: full and reduced decodes equal
// djpeg's output, the quality information is what cjpeg used, CMYK and
// undecoded YCbCr are reported, and broken files fail with a message.
#include "io/tests/pixio/PixioTestUtil.h"
#include "testutil/TestEnv.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <jpeglib.h>

using namespace pixiotest;

namespace {

bool HaveJpegTools() { return HaveTool("cjpeg") && HaveTool("djpeg"); }

// Encodes a test picture with cjpeg and the given options.
std::filesystem::path MakeJpeg(const std::string &name, const Pnm &pic, const std::string &options) {
  const auto src = TempDir() / (name + (pic.Channels == 3 ? ".ppm" : ".pgm"));
  const auto out = TempDir() / (name + ".jpg");
  WriteFile(src, MakePnm(pic));
  EXPECT_TRUE(RunTool("cjpeg " + options + " -outfile " + Quote(out) + " " + Quote(src)));
  return out;
}

struct DjpegCase {
  const char *Name;
  uint32_t Width, Height, Channels;
  const char *CjpegOptions;
  int Denom;
  int DCTMethod;  // 0 islow, 2 float
};

// How a case reads in test listings and failure messages.
void PrintTo(const DjpegCase &c, std::ostream *os) {
  *os << c.Width << "x" << c.Height << ", " << c.Channels << " channels, cjpeg \"" << c.CjpegOptions
      << "\", scale 1/" << c.Denom << (c.DCTMethod == 2 ? ", float DCT" : "");
}

class JpegVsDjpeg : public ::testing::TestWithParam<DjpegCase> {};

TEST_P(JpegVsDjpeg, SamePixels) {
  TESSIVO_REQUIRE(HaveJpegTools()) << "cjpeg/djpeg not installed (libjpeg-turbo-progs)";
  const DjpegCase c = GetParam();
  const auto jpg = MakeJpeg(c.Name, TestPicture(c.Width, c.Height, c.Channels), c.CjpegOptions);
  const auto ppm = TempDir() / (std::string(c.Name) + "-" + std::to_string(c.Denom) + ".pnm");
  ASSERT_TRUE(RunTool("djpeg -scale 1/" + std::to_string(c.Denom) + (c.DCTMethod == 2 ? " -dct float" : "") +
                  " -outfile " + Quote(ppm) + " " + Quote(jpg)));
  Pnm ref;
  ASSERT_TRUE(ParsePnm(ReadFile(ppm), ref));
  const auto data = ReadFile(jpg);
  Decoded d;
  d.D.ScaleDenom = c.Denom;
  d.D.DCTMethod = c.DCTMethod;
  ASSERT_NE(Lib().read_jpeg(&d.D, data.data(), data.size()), 0);
  ASSERT_EQ(d.D.Width, ref.Width);
  ASSERT_EQ(d.D.Height, ref.Height);
  ASSERT_EQ(d.D.Channels, ref.Channels);
  EXPECT_EQ(d.D.BitsPerSample, 8u);
  EXPECT_EQ(d.D.Bpl, GetAlignedBpl(ref.Width, ref.Channels));
  size_t mismatches = 0;
  for (uint32_t y = 0; y < ref.Height; ++y) {
    const uint8_t *o = d.Row(y, false);  // bottom-up
    const uint8_t *r = ref.Pixels.data() + size_t(y) * ref.Width * ref.Channels;
    for (uint32_t x = 0; x < ref.Width; ++x) {
      if (ref.Channels == 1) {
        mismatches += o[x] != r[x];
      } else {  // ours B,G,R; djpeg R,G,B
        mismatches += o[3 * x] != r[3 * x + 2] || o[3 * x + 1] != r[3 * x + 1] || o[3 * x + 2] != r[3 * x];
      }
    }
  }
  EXPECT_EQ(mismatches, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JpegVsDjpeg,
    ::testing::Values(DjpegCase{"s444", 203, 117, 3, "-sample 1x1", 1, 0}, DjpegCase{"s444", 203, 117, 3, "-sample 1x1", 2, 0},
                      DjpegCase{"s422", 203, 117, 3, "-sample 2x1", 4, 0}, DjpegCase{"s420", 203, 117, 3, "-sample 2x2", 1, 0},
                      DjpegCase{"s420", 203, 117, 3, "-sample 2x2", 2, 0}, DjpegCase{"s420", 203, 117, 3, "-sample 2x2", 4, 0},
                      DjpegCase{"s420", 203, 117, 3, "-sample 2x2", 8, 0}, DjpegCase{"s420f", 203, 117, 3, "-sample 2x2", 1, 2},
                      DjpegCase{"s420f", 203, 117, 3, "-sample 2x2", 4, 2}, DjpegCase{"prog", 97, 61, 3, "-progressive", 1, 0},
                      DjpegCase{"prog", 97, 61, 3, "-progressive", 8, 0}, DjpegCase{"gray", 77, 45, 1, "", 1, 0},
                      DjpegCase{"gray", 77, 45, 1, "", 2, 0}, DjpegCase{"gray", 77, 45, 1, "", 8, 0},
                      DjpegCase{"tiny", 1, 1, 3, "-sample 2x2", 8, 0}),
    [](const auto &info) {
      return std::string(info.param.Name) + "_d" + std::to_string(info.param.Denom) + "_m" +
             std::to_string(info.param.DCTMethod);
    });

// The standard tables of the JPEG standard (Annex K), natural order, as cjpeg scales them.
const uint16_t StdLuma[64] = {16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
                              14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
                              18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
                              49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
const uint16_t StdChroma[64] = {17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99,
                                24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99,
                                99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
                                99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

uint16_t Scaled(uint16_t base, int quality) {
  const int scale = quality < 50 ? 5000 / quality : 200 - quality * 2;
  return uint16_t(std::clamp((base * scale + 50) / 100, 1, 255));
}

TEST(JpegQualityInfo, IsWhatCjpegUsed) {
  TESSIVO_REQUIRE(HaveJpegTools()) << "cjpeg not installed (libjpeg-turbo-progs)";
  const auto data = ReadFile(MakeJpeg("q75", TestPicture(64, 48, 3), "-quality 75 -sample 2x2"));
  TPixioQualityInfo q{};
  Decoded d;
  d.D.WantQualityInfo = 1;
  d.D.QualityInfo = &q;
  ASSERT_NE(Lib().read_jpeg(&d.D, data.data(), data.size()), 0);
  EXPECT_EQ(q.HSamp, 2);
  EXPECT_EQ(q.VSamp, 2);
  EXPECT_EQ(q.QTCount, 2);
  for (int k = 0; k < 64; ++k) {
    EXPECT_EQ(q.QT[0][k], Scaled(StdLuma[k], 75)) << k;
    EXPECT_EQ(q.QT[1][k], Scaled(StdChroma[k], 75)) << k;
  }
  const int comp[3][2] = {{1, 0}, {2, 1}, {3, 1}};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(q.CompInfo[i][0], comp[i][0]);
    EXPECT_EQ(q.CompInfo[i][1], comp[i][1]);
  }
}

// Writes a JPEG with libjpeg itself, for layouts cjpeg cannot make from a PPM.
std::vector<uint8_t> EncodeWithLibjpeg(const std::vector<uint8_t> &pixels, uint32_t w, uint32_t h, int comps,
                                       J_COLOR_SPACE cs) {
  jpeg_compress_struct c{};
  jpeg_error_mgr err{};
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char *buf = nullptr;
  unsigned long len = 0;
  jpeg_mem_dest(&c, &buf, &len);
  c.image_width = w, c.image_height = h, c.input_components = comps, c.in_color_space = cs;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 100, TRUE);
  jpeg_start_compress(&c, TRUE);
  for (uint32_t y = 0; y < h; ++y) {
    JSAMPROW row = const_cast<uint8_t *>(pixels.data() + size_t(y) * w * comps);
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  std::vector<uint8_t> out(buf, buf + len);
  free(buf);
  return out;
}

TEST(JpegLayouts, CmykIsFlaggedAsAdobe) {
  const uint32_t w = 40, h = 24;
  const Pnm pic = TestPicture(w, h, 1, 7);
  std::vector<uint8_t> cmyk(size_t(w) * h * 4);
  for (size_t i = 0; i < size_t(w) * h; ++i)
    for (int c = 0; c < 4; ++c) cmyk[i * 4 + c] = uint8_t(pic.Pixels[i] / (c + 1) + c * 30);
  const auto data = EncodeWithLibjpeg(cmyk, w, h, 4, JCS_CMYK);
  Decoded d;
  ASSERT_NE(Lib().read_jpeg(&d.D, data.data(), data.size()), 0);
  EXPECT_EQ(d.D.Channels, 4u);
  EXPECT_NE(d.D.IsCMYK, 0);
  EXPECT_NE(d.D.IsInvertedCMYK, 0);  // libjpeg writes the Adobe marker for CMYK
  int worst = 0;
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w * 4; ++x)
      worst = std::max(worst, std::abs(int(d.Row(y, false)[x]) - int(cmyk[size_t(y) * w * 4 + x])));
  EXPECT_LE(worst, 8);  // quality 100 on a busy picture
}

TEST(JpegLayouts, UndecodedYCbCrMatchesTheColourDecode) {
  TESSIVO_REQUIRE(HaveJpegTools()) << "cjpeg not installed (libjpeg-turbo-progs)";
  const auto data = ReadFile(MakeJpeg("ycc", TestPicture(50, 30, 3), "-sample 1x1"));
  Decoded bgr, ycc;
  ycc.D.WantYCbCr = 1;
  ASSERT_NE(Lib().read_jpeg(&bgr.D, data.data(), data.size()), 0);
  ASSERT_NE(Lib().read_jpeg(&ycc.D, data.data(), data.size()), 0);
  EXPECT_EQ(bgr.D.IsYCbCr, 0);
  EXPECT_NE(ycc.D.IsYCbCr, 0);
  ASSERT_EQ(ycc.D.Channels, 3u);
  int worst = 0;
  for (uint32_t y = 0; y < 30; ++y)
    for (uint32_t x = 0; x < 50; ++x) {
      const uint8_t *p = ycc.Row(y, false) + 3 * x, *q = bgr.Row(y, false) + 3 * x;
      const double Y = p[0], cb = p[1] - 128.0, cr = p[2] - 128.0;
      const double rgb[3] = {Y + 1.402 * cr, Y - 0.344136 * cb - 0.714136 * cr, Y + 1.772 * cb};
      for (int c = 0; c < 3; ++c)
        worst = std::max(worst, std::abs(int(std::lround(std::clamp(rgb[c], 0.0, 255.0))) - int(q[2 - c])));
    }
  EXPECT_LE(worst, 2);
}

TEST(JpegLayouts, EmbeddedProfileIsReturned) {
  TESSIVO_REQUIRE(HaveJpegTools()) << "cjpeg not installed (libjpeg-turbo-progs)";
  std::vector<uint8_t> icc(70000);  // longer than one APP2 segment
  for (size_t i = 0; i < icc.size(); ++i) icc[i] = uint8_t(i * 31 + 7);
  const auto iccPath = TempDir() / "fake.icc";
  WriteFile(iccPath, icc);
  const auto data = ReadFile(MakeJpeg("icc", TestPicture(16, 16, 3), "-icc " + Quote(iccPath)));
  Decoded d;
  ASSERT_NE(Lib().read_jpeg(&d.D, data.data(), data.size()), 0);
  ASSERT_EQ(d.D.ProfileLen, icc.size());
  EXPECT_EQ(std::memcmp(d.D.ICCProfile, icc.data(), icc.size()), 0);
}

// Truncations and forged headers: a failure with a message, no memory left behind.
TEST(JpegBroken, FailsWithAMessage) {
  CaptureMessages();
  const Pnm pic = TestPicture(64, 64, 3);
  std::vector<uint8_t> rgb = pic.Pixels;
  const auto good = EncodeWithLibjpeg(rgb, 64, 64, 3, JCS_RGB);
  std::vector<std::vector<uint8_t>> cases;
  for (size_t cut : {size_t(3), size_t(20), good.size() / 3, good.size() / 2, good.size() - 3})
    cases.emplace_back(good.begin(), good.begin() + long(cut));
  // A header claiming 65000 x 65000 with almost no data must fail fast, not fill gigabytes.
  auto forged = std::vector<uint8_t>(good.begin(), good.begin() + long(good.size() / 2));
  for (size_t i = 2; i + 9 < forged.size(); ++i)
    if (forged[i] == 0xFF && forged[i + 1] == 0xC0) {
      forged[i + 5] = 0xFD, forged[i + 6] = 0xE8, forged[i + 7] = 0xFD, forged[i + 8] = 0xE8;
      break;
    }
  cases.push_back(forged);
  for (const auto &c : cases) {
    LastMessage().clear();
    Decoded d;
    EXPECT_EQ(Lib().read_jpeg(&d.D, c.data(), c.size()), 0) << c.size();
    EXPECT_EQ(d.D.Mem, nullptr);
    EXPECT_FALSE(LastMessage().empty());
  }
}

// A progressive file whose last scan is repeated over and over must be refused
// after a bounded amount of work instead of decoding every scan.
TEST(JpegBroken, EndlessScansAreRefused) {
  TESSIVO_REQUIRE(HaveJpegTools()) << "cjpeg not installed (libjpeg-turbo-progs)";
  const auto good = ReadFile(MakeJpeg("scans", TestPicture(32, 32, 3), "-progressive"));
  size_t lastSos = 0;
  for (size_t i = 2; i + 1 < good.size(); ++i)
    if (good[i] == 0xFF && good[i + 1] == 0xDA) lastSos = i;
  ASSERT_GT(lastSos, 0u);
  const size_t eoi = good.size() - 2;
  std::vector<uint8_t> bad(good.begin(), good.begin() + long(eoi));
  for (int k = 0; k < 1500; ++k) bad.insert(bad.end(), good.begin() + long(lastSos), good.begin() + long(eoi));
  bad.push_back(0xFF), bad.push_back(0xD9);
  CaptureMessages();
  Decoded d;
  EXPECT_EQ(Lib().read_jpeg(&d.D, bad.data(), bad.size()), 0);
  EXPECT_NE(LastMessage().find("scans"), std::string::npos) << LastMessage();
}

// Damaged bytes anywhere: either result is acceptable, a crash is not (the sanitizer build watches).
TEST(JpegBroken, SurvivesFlippedBytes) {
  const auto good = EncodeWithLibjpeg(TestPicture(48, 40, 3).Pixels, 48, 40, 3, JCS_RGB);
  uint32_t r = 12345;
  for (int round = 0; round < 60; ++round) {
    auto bad = good;
    for (int k = 0; k < 4; ++k) {
      r = r * 1103515245u + 12345u;
      bad[2 + (r >> 8) % (bad.size() - 2)] ^= uint8_t(1 + (r >> 3) % 255);
    }
    Decoded d;
    if (Lib().read_jpeg(&d.D, bad.data(), bad.size())) {
      EXPECT_NE(d.D.Mem, nullptr);
    }
  }
}

// A spare block of the caller's is filled instead of a new one when it fits,
// whatever it held, and left to the caller when it does not.
TEST(JpegSpare, FitsAreTakenOthersLeft) {
  const uint32_t w = 301, h = 203;
  const auto data = EncodeWithLibjpeg(TestPicture(w, h, 3).Pixels, w, h, 3, JCS_RGB);
  Decoded plain;
  ASSERT_NE(Lib().read_jpeg(&plain.D, data.data(), data.size()), 0);
  const size_t need = size_t(plain.D.Bpl) * AllocRows(h);
  struct Case {
    size_t Size;
    bool Taken;
  };
  const Case cases[] = {{need, true}, {need + (size_t(1) << 20), true}, {need - 4096, false},
                        {size_t(64) << 20, false}};
  for (const Case &c : cases) {
    auto *spare = static_cast<uint8_t *>(PageAlloc(c.Size));
    std::memset(spare, 0xA5, PageBlockCapacity(spare));
    Decoded d;
    d.D.SpareMem = spare;
    ASSERT_NE(Lib().read_jpeg(&d.D, data.data(), data.size()), 0) << c.Size;
    EXPECT_EQ(d.D.Mem == spare, c.Taken) << c.Size;
    EXPECT_EQ(d.D.SpareMem, c.Taken ? nullptr : spare) << c.Size;
    ASSERT_EQ(d.D.Bpl, plain.D.Bpl);
    for (uint32_t y = 0; y < h; ++y)
      ASSERT_EQ(std::memcmp(d.Row(y, false), plain.Row(y, false), size_t(w) * 3), 0) << c.Size << " row " << y;
    PageFree(d.D.SpareMem);
  }
}

}  // namespace
