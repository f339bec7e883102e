// read_wic over files the common readers decode although they are unusual or
// damaged: TIFF at depths other than 8 and 16 bits and in CIE L*a*b*,
// BigTIFF, GIF without its terminator or colour table, PNG whose damage lies
// after the complete image data, and cursors. Each result is checked against
// an outside reader of the same bytes: ImageMagick, Little CMS's transicc.
#include "io/tests/pixio/PixioTestUtil.h"
#include "testutil/Netpbm.h"
#include "testutil/TestEnv.h"

#include <tiffio.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <sstream>

using namespace pixiotest;

namespace {

bool Shell(const std::string &Cmd) { return RunTool(Cmd); }

std::string Capture(const std::string &Cmd) {
  std::string out;
  if (FILE *p = popen(Cmd.c_str(), "r")) {
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    pclose(p);
  }
  return out;
}

// A picture as ImageMagick decodes it at 16 bits: R, G, B, A per pixel
// (gray widened, alpha 65535 where the file has none), top row first.
struct Magick {
  uint32_t Width = 0, Height = 0;
  std::vector<std::array<int, 4>> Px;
};

bool MagickDecode(const std::filesystem::path &File, Magick &Out, const std::string &Prefix = "") {
  const auto pam = File.string() + ".pam";
  if (!Shell("convert " + Quote(Prefix + File.string() + "[0]") + " -depth 16 pam:" + Quote(pam))) return false;
  const auto d = ReadFile(pam);
  testutil::TNetpbm p;
  if (!testutil::ParseNetpbm(std::string(d.begin(), d.end()), p) || p.MaxVal != 65535) return false;
  Out.Width = p.Width, Out.Height = p.Height;
  Out.Px.resize(size_t(p.Width) * p.Height);
  for (uint32_t y = 0; y < p.Height; ++y)
    for (uint32_t x = 0; x < p.Width; ++x) Out.Px[size_t(y) * p.Width + x] = p.Rgba(x, y);
  return true;
}

// R, G, B, A of a read_wic pixel on the 16-bit scale (8-bit samples × 257).
std::array<int, 4> WicPixel(const Decoded &d, uint32_t x, uint32_t y) {
  const uint32_t ch = d.D.Channels;
  const bool wide = d.D.BitsPerSample == 16;
  auto s = [&](uint32_t c) {
    const uint8_t *row = d.Row(y, true);
    return wide ? int(reinterpret_cast<const uint16_t *>(row)[size_t(x) * ch + c]) : int(row[size_t(x) * ch + c]) * 257;
  };
  if (ch == 1) return {s(0), s(0), s(0), 65535};
  if (wide) return {s(0), s(1), s(2), ch == 4 ? s(3) : 65535};  // 16-bit samples come red first
  return {s(2), s(1), s(0), ch == 4 ? s(3) : 65535};
}

// Largest difference from ImageMagick's picture on the 16-bit scale (colour
// where the reference is not transparent); -1 when the sizes differ.
int Difference(const Decoded &d, const Magick &ref) {
  if (d.D.Width != ref.Width || d.D.Height != ref.Height) return -1;
  int worst = 0;
  for (uint32_t y = 0; y < ref.Height; ++y)
    for (uint32_t x = 0; x < ref.Width; ++x) {
      const auto g = WicPixel(d, x, y), r = ref.Px[size_t(y) * ref.Width + x];
      worst = std::max(worst, std::abs(g[3] - r[3]));
      if (r[3] != 0)
        for (int c = 0; c < 3; ++c) worst = std::max(worst, std::abs(g[c] - r[c]));
    }
  return worst;
}

// ---- TIFF at any depth ----

struct TiffLayout {
  uint16_t Spp = 3, Bps = 8, Photometric = PHOTOMETRIC_RGB, Planar = PLANARCONFIG_CONTIG;
  uint16_t Compression = COMPRESSION_LZW;
  bool Alpha = false;
  bool Tiled = false;
  uint16_t Format = SAMPLEFORMAT_UINT;
};

// Writes w × h pixels of Samples (Spp per pixel, each below 2^Bps; for 32
// bits the sample's bit pattern) with libtiff, packed most significant bit
// first as TIFF stores them.
void WriteAnyTiff(const std::filesystem::path &Path, const TiffLayout &L, uint32_t w, uint32_t h,
                  const std::vector<uint32_t> &Samples) {
  TIFF *t = TIFFOpen(Path.c_str(), "w");
  ASSERT_NE(t, nullptr);
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, L.Spp);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, L.Bps);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, L.Photometric);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, L.Planar);
  TIFFSetField(t, TIFFTAG_COMPRESSION, L.Compression);
  TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, L.Format);
  if (L.Alpha) {
    const uint16_t extra = EXTRASAMPLE_UNASSALPHA;
    TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &extra);
  }
  const uint32_t planes = L.Planar == PLANARCONFIG_SEPARATE ? L.Spp : 1, perPlane = planes == 1 ? L.Spp : 1;
  // 16-bit samples go to libtiff in the machine's byte order, other depths as packed bytes.
  auto pack = [&](uint32_t y0, uint32_t x0, uint32_t cols, uint32_t p, std::vector<uint8_t> &out) {
    if (L.Bps == 16 || L.Bps == 32) {
      for (uint32_t x = x0; x < x0 + cols; ++x)
        for (uint32_t c = 0; c < perPlane; ++c) {
          const uint32_t v = (x < w && y0 < h) ? Samples[(size_t(y0) * w + x) * L.Spp + (planes == 1 ? c : p)] : 0;
          const uint16_t v16 = uint16_t(v);
          const auto *b = L.Bps == 16 ? reinterpret_cast<const uint8_t *>(&v16) : reinterpret_cast<const uint8_t *>(&v);
          out.insert(out.end(), b, b + L.Bps / 8);
        }
      return;
    }
    uint64_t bit = out.size() * 8;
    out.resize(out.size() + (size_t(cols) * perPlane * L.Bps + 7) / 8, 0);
    for (uint32_t x = x0; x < x0 + cols; ++x)
      for (uint32_t c = 0; c < perPlane; ++c) {
        const uint32_t v = (x < w && y0 < h) ? Samples[(size_t(y0) * w + x) * L.Spp + (planes == 1 ? c : p)] : 0;
        for (int b = L.Bps - 1; b >= 0; --b, ++bit)
          if ((v >> b) & 1) out[bit >> 3] |= uint8_t(0x80 >> (bit & 7));
      }
  };
  if (L.Tiled) {
    TIFFSetField(t, TIFFTAG_TILEWIDTH, 16);
    TIFFSetField(t, TIFFTAG_TILELENGTH, 16);
    for (uint32_t p = 0; p < planes; ++p)
      for (uint32_t ty = 0; ty < h; ty += 16)
        for (uint32_t tx = 0; tx < w; tx += 16) {
          std::vector<uint8_t> tile;
          for (uint32_t y = ty; y < ty + 16; ++y) pack(y, tx, 16, p, tile);
          TIFFWriteEncodedTile(t, TIFFComputeTile(t, tx, ty, 0, uint16_t(p)), tile.data(), tmsize_t(tile.size()));
        }
  } else {
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 4);
    for (uint32_t p = 0; p < planes; ++p)
      for (uint32_t y = 0; y < h; ++y) {
        std::vector<uint8_t> row;
        pack(y, 0, w, p, row);
        TIFFWriteScanline(t, row.data(), y, uint16_t(p));
      }
  }
  TIFFClose(t);
}

std::vector<uint32_t> AnySamples(uint32_t w, uint32_t h, uint32_t spp, uint32_t bits,
                                 uint16_t format = SAMPLEFORMAT_UINT) {
  std::vector<uint32_t> s(size_t(w) * h * spp);
  const uint64_t range = uint64_t(1) << bits;
  for (size_t i = 0; i < s.size(); ++i) {
    const uint64_t r = (uint64_t(i) * 2654435761u * 40503u) >> 5;
    if (format == SAMPLEFORMAT_IEEEFP) {
      const float f = float(r % 100001) / 100000.0f;  // 0..1
      std::memcpy(&s[i], &f, 4);
    } else {
      s[i] = uint32_t(r % range);
    }
  }
  // The ends of the range are both there: 0 and full scale (for signed
  // samples the largest positive and the most negative).
  if (format == SAMPLEFORMAT_IEEEFP) {
    const float one = 1.0f, zero = 0.0f;
    std::memcpy(&s[0], &one, 4), std::memcpy(&s[1], &zero, 4);
  } else {
    s[0] = uint32_t(range - 1), s[1] = 0;
    if (format == SAMPLEFORMAT_INT) s[0] = uint32_t(range / 2 - 1), s[1] = uint32_t(range / 2);
  }
  return s;
}

struct DepthCase {
  const char *Name;
  TiffLayout Layout;
};

void PrintTo(const DepthCase &c, std::ostream *os) { *os << c.Name; }

class TiffDepth : public ::testing::TestWithParam<DepthCase> {};

TEST_P(TiffDepth, MatchesImageMagick) {
  TESSIVO_REQUIRE(HaveTool("convert")) << "ImageMagick's convert not installed (imagemagick)";
  const DepthCase &c = GetParam();
  const uint32_t w = 37, h = 21;
  const auto path = TempDir() / (std::string(c.Name) + ".tif");
  WriteAnyTiff(path, c.Layout, w, h, AnySamples(w, h, c.Layout.Spp, c.Layout.Bps, c.Layout.Format));
  Magick ref;
  ASSERT_TRUE(MagickDecode(path, ref));
  const auto file = ReadFile(path);
  CaptureMessages();
  Decoded d;
  ASSERT_TRUE(Lib().read_wic(&d.D, file.data(), file.size())) << LastMessage();
  EXPECT_EQ(d.D.BitsPerSample, c.Layout.Bps > 8 ? 16u : 8u);
  // 8-bit results are one level of ImageMagick's 16-bit answer at most.
  EXPECT_LE(Difference(d, ref), d.D.BitsPerSample == 8 ? 128 : 0);
}

constexpr TiffLayout Gray(uint16_t Bps, uint16_t Photometric = PHOTOMETRIC_MINISBLACK) {
  return {1, Bps, Photometric, PLANARCONFIG_CONTIG, COMPRESSION_LZW, false, false};
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, TiffDepth,
    ::testing::Values(DepthCase{"Rgb12", {3, 12, PHOTOMETRIC_RGB}},
                      DepthCase{"Gray12", Gray(12)},
                      DepthCase{"Rgba12Planar", {4, 12, PHOTOMETRIC_RGB, PLANARCONFIG_SEPARATE, COMPRESSION_LZW, true}},
                      DepthCase{"Rgb10Tiled", {3, 10, PHOTOMETRIC_RGB, PLANARCONFIG_CONTIG, COMPRESSION_ADOBE_DEFLATE, false, true}},
                      DepthCase{"Gray14", Gray(14)},
                      DepthCase{"Rgb6", {3, 6, PHOTOMETRIC_RGB, PLANARCONFIG_CONTIG, COMPRESSION_NONE}},
                      DepthCase{"Gray16MinIsWhite", Gray(16, PHOTOMETRIC_MINISWHITE)},
                      DepthCase{"Gray16MinIsWhiteTiled", {1, 16, PHOTOMETRIC_MINISWHITE, PLANARCONFIG_CONTIG, COMPRESSION_NONE, false, true}},
                      DepthCase{"SignedGray16", {1, 16, PHOTOMETRIC_MINISBLACK, PLANARCONFIG_CONTIG, COMPRESSION_LZW, false, false, SAMPLEFORMAT_INT}},
                      DepthCase{"SignedRgb8", {3, 8, PHOTOMETRIC_RGB, PLANARCONFIG_CONTIG, COMPRESSION_NONE, false, false, SAMPLEFORMAT_INT}},
                      DepthCase{"Gray32", {1, 32, PHOTOMETRIC_MINISBLACK, PLANARCONFIG_CONTIG, COMPRESSION_ADOBE_DEFLATE, false, false, SAMPLEFORMAT_UINT}},
                      DepthCase{"FloatRgb32", {3, 32, PHOTOMETRIC_RGB, PLANARCONFIG_CONTIG, COMPRESSION_NONE, false, false, SAMPLEFORMAT_IEEEFP}},
                      DepthCase{"FloatGray32Tiled", {1, 32, PHOTOMETRIC_MINISBLACK, PLANARCONFIG_CONTIG, COMPRESSION_NONE, false, true, SAMPLEFORMAT_IEEEFP}}),
    [](const auto &info) { return std::string(info.param.Name); });

// Gray layouts ImageMagick 6 itself reads differently (it leaves 12-bit
// min-is-white and min-is-white gray with alpha uninverted, and takes
// planar gray with alpha for gray alone): the stored samples are the
// reference, gray inverted for min-is-white and spread to 16 bits, alpha as stored.
TEST(TiffDepth, GrayLayoutsGiveTheirStoredSamples) {
  const DepthCase cases[] = {
      {"Gray12MinIsWhite", Gray(12, PHOTOMETRIC_MINISWHITE)},
      {"GrayAlpha16MinIsWhite", {2, 16, PHOTOMETRIC_MINISWHITE, PLANARCONFIG_CONTIG, COMPRESSION_LZW, true}},
      {"GrayAlpha12MinIsWhitePlanar", {2, 12, PHOTOMETRIC_MINISWHITE, PLANARCONFIG_SEPARATE, COMPRESSION_NONE, true}},
      {"GrayAlpha16MinIsBlackPlanar", {2, 16, PHOTOMETRIC_MINISBLACK, PLANARCONFIG_SEPARATE, COMPRESSION_NONE, true}}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    const uint32_t w = 29, h = 13, spp = c.Layout.Spp, max = (1u << c.Layout.Bps) - 1;
    const auto samples = AnySamples(w, h, spp, c.Layout.Bps);
    const auto path = TempDir() / (std::string(c.Name) + ".tif");
    WriteAnyTiff(path, c.Layout, w, h, samples);
    const auto file = ReadFile(path);
    Decoded d;
    ASSERT_TRUE(Lib().read_wic(&d.D, file.data(), file.size()));
    ASSERT_EQ(d.D.BitsPerSample, 16u);
    size_t bad = 0;
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) {
        const uint32_t *s = samples.data() + (size_t(y) * w + x) * spp;
        const uint32_t g = c.Layout.Photometric == PHOTOMETRIC_MINISWHITE ? max - s[0] : s[0];
        const auto got = WicPixel(d, x, y);
        bad += got[0] != int(std::lround(g * 65535.0 / max));
        if (spp == 2) bad += got[3] != int(std::lround(s[1] * 65535.0 / max));
      }
    EXPECT_EQ(bad, 0u);
  }
}

// ImageMagick's own 12-bit files, colour and gray.
TEST(TiffDepth, ImageMagicksTwelveBitFilesMatchIt) {
  TESSIVO_REQUIRE(HaveTool("convert")) << "ImageMagick's convert not installed (imagemagick)";
  for (const char *colour : {"", "-colorspace gray"}) {
    SCOPED_TRACE(*colour ? colour : "colour");
    const auto path = TempDir() / (std::string("im12") + (*colour ? "g" : "c") + ".tif");
    ASSERT_TRUE(Shell("convert -seed 4 -size 40x24 plasma:fractal " + std::string(colour) + " -depth 12 " + Quote(path)));
    Magick ref;
    ASSERT_TRUE(MagickDecode(path, ref));
    const auto file = ReadFile(path);
    Decoded d;
    ASSERT_TRUE(Lib().read_wic(&d.D, file.data(), file.size()));
    EXPECT_EQ(d.D.BitsPerSample, 16u);
    EXPECT_EQ(Difference(d, ref), 0);
  }
}

// ---- BigTIFF ----

// tiffcp -8 rewrites a classic file as BigTIFF; both decode alike, and the
// header facts of read_wic_info come from the BigTIFF directory.
TEST(BigTiff, ReadsLikeTheClassicFile) {
  TESSIVO_REQUIRE(HaveTool("tiffcp")) << "tiffcp not installed (libtiff-tools)";
  const struct {
    const char *Name;
    TiffLayout Layout;
    const char *Options;
  } cases[] = {{"rgb8", {3, 8, PHOTOMETRIC_RGB}, ""},
               {"rgb16_zip", {3, 16, PHOTOMETRIC_RGB}, "-c zip"},
               {"gray12", Gray(12), "-c lzw"},
               {"rgba8_tiled", {4, 8, PHOTOMETRIC_RGB, PLANARCONFIG_CONTIG, COMPRESSION_NONE, true}, "-t"}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    const uint32_t w = 45, h = 19;
    const auto classic = TempDir() / (std::string("classic_") + c.Name + ".tif");
    const auto big = TempDir() / (std::string("big_") + c.Name + ".tif");
    WriteAnyTiff(classic, c.Layout, w, h, AnySamples(w, h, c.Layout.Spp, c.Layout.Bps));
    ASSERT_TRUE(Shell("tiffcp -8 " + std::string(c.Options) + " " + Quote(classic) + " " + Quote(big)));
    const auto bigBytes = ReadFile(big), classicBytes = ReadFile(classic);
    ASSERT_EQ(bigBytes[2], 0x2B) << "not a BigTIFF";
    TPixioWICInfo info{};
    ASSERT_TRUE(Lib().read_wic_info2(&info, bigBytes.data(), bigBytes.size()));
    EXPECT_EQ(info.Width, w);
    EXPECT_EQ(info.Height, h);
    Decoded a, b;
    ASSERT_TRUE(Lib().read_wic(&a.D, classicBytes.data(), classicBytes.size()));
    ASSERT_TRUE(Lib().read_wic(&b.D, bigBytes.data(), bigBytes.size()));
    ASSERT_EQ(a.D.Width, b.D.Width);
    ASSERT_EQ(a.D.Height, b.D.Height);
    ASSERT_EQ(a.D.Channels, b.D.Channels);
    const size_t rowBytes = size_t(a.D.Width) * a.D.Channels * a.D.BitsPerSample / 8;
    for (uint32_t y = 0; y < h; ++y) ASSERT_EQ(std::memcmp(a.Row(y, true), b.Row(y, true), rowBytes), 0) << y;
  }
}

// ---- CIE L*a*b* TIFF ----

// Lab values every encoding stores exactly: L* in steps of 20, a* and b* on
// the grid the ITU ranges (-85..85 and -75..125) share with whole numbers.
const double LabValues[][3] = {{100, 0, 0}, {0, 0, 0},   {60, -17, 5},  {40, 51, -35}, {80, -51, 85},
                               {20, 17, 45}, {100, -17, -35}, {60, 51, 85}, {80, 0, 0}, {40, -51, 5}};

struct LabCase {
  const char *Name;
  uint16_t Photometric, Bps;
};

void PrintTo(const LabCase &c, std::ostream *os) { *os << c.Name; }

// The stored samples of one Lab value in the file's encoding.
std::array<uint16_t, 3> EncodeLab(const LabCase &c, const double *lab) {
  const double max = c.Bps == 16 ? 65535 : 255;
  auto r = [](double v) { return uint16_t(std::lround(v)); };
  switch (c.Photometric) {
    case PHOTOMETRIC_CIELAB:  // a* and b* as two's-complement numbers
      if (c.Bps == 8) return {r(lab[0] * max / 100), uint16_t(uint8_t(int8_t(lab[1]))), uint16_t(uint8_t(int8_t(lab[2])))};
      return {r(lab[0] * max / 100), uint16_t(int16_t(lab[1] * 256)), uint16_t(int16_t(lab[2] * 256))};
    case PHOTOMETRIC_ICCLAB:  // 0 at the middle; 16-bit L* with 100 at 0xFF00
      if (c.Bps == 8) return {r(lab[0] * 255 / 100), r(lab[1] + 128), r(lab[2] + 128)};
      return {r(lab[0] * 65280 / 100), r((lab[1] + 128) * 256), r((lab[2] + 128) * 256)};
    default:  // ITULAB over its default ranges
      return {r(lab[0] * max / 100), r((lab[1] + 85) * max / 170), r((lab[2] + 75) * max / 200)};
  }
}

class LabTiff : public ::testing::TestWithParam<LabCase> {};

TEST_P(LabTiff, MatchesTransicc) {
  TESSIVO_REQUIRE(HaveTool("transicc")) << "transicc not installed (liblcms2-utils)";
  const LabCase &c = GetParam();
  const uint32_t n = uint32_t(std::size(LabValues));
  std::vector<uint32_t> samples;
  std::string input;
  for (const auto &lab : LabValues) {
    const auto s = EncodeLab(c, lab);
    samples.insert(samples.end(), s.begin(), s.end());
    input += std::to_string(lab[0]) + " " + std::to_string(lab[1]) + " " + std::to_string(lab[2]) + "\n";
  }
  const auto path = TempDir() / (std::string(c.Name) + ".tif");
  WriteAnyTiff(path, {3, c.Bps, c.Photometric, PLANARCONFIG_CONTIG, COMPRESSION_NONE}, n, 1, samples);
  const auto labFile = TempDir() / (std::string(c.Name) + ".lab");
  std::ofstream(labFile) << input;
  std::istringstream answer(Capture("transicc -n -i '*Lab' -o '*sRGB' < " + Quote(labFile) + " 2>/dev/null"));
  const auto file = ReadFile(path);
  CaptureMessages();
  Decoded d;
  ASSERT_TRUE(Lib().read_wic(&d.D, file.data(), file.size())) << LastMessage();
  ASSERT_EQ(d.D.Width, n);
  EXPECT_EQ(d.D.BitsPerSample, c.Bps);
  for (uint32_t x = 0; x < n; ++x) {
    double rgb[3];
    ASSERT_TRUE(answer >> rgb[0] >> rgb[1] >> rgb[2]) << "transicc gave no answer for value " << x;
    const auto got = WicPixel(d, x, 0);
    for (int k = 0; k < 3; ++k)
      EXPECT_NEAR(got[k] / 257.0, std::clamp(rgb[k], 0.0, 255.0), 1.0)
          << "L*a*b* " << LabValues[x][0] << " " << LabValues[x][1] << " " << LabValues[x][2] << ", channel " << k;
  }
}

INSTANTIATE_TEST_SUITE_P(Encodings, LabTiff,
                         ::testing::Values(LabCase{"Cie8", PHOTOMETRIC_CIELAB, 8}, LabCase{"Cie16", PHOTOMETRIC_CIELAB, 16},
                                           LabCase{"Icc8", PHOTOMETRIC_ICCLAB, 8}, LabCase{"Icc16", PHOTOMETRIC_ICCLAB, 16},
                                           LabCase{"Itu8", PHOTOMETRIC_ITULAB, 8}, LabCase{"Itu16", PHOTOMETRIC_ITULAB, 16}),
                         [](const auto &info) { return std::string(info.param.Name); });

// ImageMagick's Lab files of neutral colours come out neutral: white, mid
// gray and black as the sRGB values they were made from.
TEST(LabTiff, ImageMagicksNeutralLabFilesStayNeutral) {
  TESSIVO_REQUIRE(HaveTool("convert")) << "ImageMagick's convert not installed (imagemagick)";
  const auto path = TempDir() / "imlab16.tif";
  ASSERT_TRUE(Shell("convert -size 1x1 xc:white xc:gray50 xc:black +append -colorspace Lab -depth 16 " + Quote(path)));
  const auto file = ReadFile(path);
  Decoded d;
  ASSERT_TRUE(Lib().read_wic(&d.D, file.data(), file.size()));
  ASSERT_EQ(d.D.Width, 3u);
  const int expected[3] = {255, 128, 0};  // gray50 is 50 % of the sRGB range
  for (uint32_t x = 0; x < 3; ++x) {
    const auto p = WicPixel(d, x, 0);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(p[k] / 257.0, expected[x], 1.5) << "pixel " << x << ", channel " << k;
  }
}

// ---- GIF ----

std::vector<uint8_t> MagickGif(const std::string &Name, const std::string &Options) {
  const auto path = TempDir() / (Name + ".gif");
  EXPECT_TRUE(Shell("convert -seed 5 -size 40x30 plasma:fractal " + Options + " " + Quote(path)));
  return ReadFile(path);
}

// The first image descriptor (0x2C) after the header, colour table and extensions.
size_t ImageDescriptorAt(const std::vector<uint8_t> &g) {
  size_t i = 13 + ((g[10] & 0x80) ? 3 * (2u << (g[10] & 7)) : 0);
  while (i < g.size() && g[i] == 0x21) {
    i += 2;
    while (i < g.size() && g[i]) i += g[i] + 1u;
    ++i;
  }
  return i;
}

// A file whose pixels are all there decodes as ImageMagick decodes it, with
// a warning where the file lacks something; one whose pixels are cut short
// is refused and says so.
TEST(LenientGif, DecodesWhatImageMagickDecodes) {
  TESSIVO_REQUIRE(HaveTool("convert")) << "ImageMagick's convert not installed (imagemagick)";
  const auto whole = MagickGif("whole", "-colors 16");
  const auto two = MagickGif("two", "-colors 2");
  std::vector<uint8_t> noTerminator(whole.begin(), whole.end() - 2), noTrailer(whole.begin(), whole.end() - 1);
  // The global table moved into the image descriptor.
  std::vector<uint8_t> localOnly = whole;
  {
    const size_t table = 3 * (2u << (whole[10] & 7));
    const size_t at = ImageDescriptorAt(whole);
    std::vector<uint8_t> palette(whole.begin() + 13, whole.begin() + 13 + long(table));
    localOnly.erase(localOnly.begin() + 13, localOnly.begin() + 13 + long(table));
    localOnly[10] &= 0x7F;
    const size_t desc = at - table;
    localOnly[desc + 9] = uint8_t((localOnly[desc + 9] & 0x40) | 0x80 | (whole[10] & 7));
    localOnly.insert(localOnly.begin() + long(desc + 10), palette.begin(), palette.end());
  }
  // No colour table anywhere: two indexes, shown as gray levels 0 and 1.
  std::vector<uint8_t> noTable = two;
  {
    const size_t table = 3 * (2u << (two[10] & 7));
    noTable.erase(noTable.begin() + 13, noTable.begin() + 13 + long(table));
    noTable[10] &= 0x70;
  }
  const struct {
    const char *Name;
    std::vector<uint8_t> Bytes;
    bool Warns;
    int Tolerance;  // ImageMagick shows both indexes of a file without colours as black
  } cases[] = {{"NoBlockTerminatorNorTrailer", noTerminator, true, 0},
               {"NoTrailer", noTrailer, false, 0},
               {"LocalTableOnly", localOnly, false, 0},
               {"NoColourTable", noTable, true, 257}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    const auto path = TempDir() / (std::string(c.Name) + ".gif");
    WriteFile(path, c.Bytes);
    Magick ref;
    ASSERT_TRUE(MagickDecode(path, ref));
    CaptureMessages();
    LastMessage().clear();
    Decoded d;
    ASSERT_TRUE(Lib().read_wic(&d.D, c.Bytes.data(), c.Bytes.size())) << LastMessage();
    const int diff = Difference(d, ref);
    EXPECT_GE(diff, 0);
    EXPECT_LE(diff, c.Tolerance);
    EXPECT_EQ(!LastMessage().empty(), c.Warns) << LastMessage();
  }
  // Pixels missing: refused, saying the data is cut short.
  for (size_t cut : {size_t(6), whole.size() / 2}) {
    const std::vector<uint8_t> bytes(whole.begin(), whole.end() - long(cut));
    LastMessage().clear();
    Decoded d;
    EXPECT_FALSE(Lib().read_wic(&d.D, bytes.data(), bytes.size())) << cut;
    EXPECT_NE(LastMessage().find("cut short"), std::string::npos) << LastMessage();
  }
}

// ---- PNG ----

// Chunks of a PNG file after the signature, each with its length, type, data and CRC.
std::vector<std::vector<uint8_t>> Chunks(const std::vector<uint8_t> &d) {
  std::vector<std::vector<uint8_t>> out;
  for (size_t pos = 8; pos + 12 <= d.size();) {
    const size_t len = (size_t(d[pos]) << 24) | (d[pos + 1] << 16) | (d[pos + 2] << 8) | d[pos + 3];
    out.emplace_back(d.begin() + long(pos), d.begin() + long(pos + 12 + len));
    pos += 12 + len;
  }
  return out;
}

// Damage after the last image row costs nothing: the picture decodes as the
// intact file does (ImageMagick's view of that file), with a warning.
// Damage inside the image data is still refused.
TEST(LenientPng, DamageAfterTheImageDataIsAWarning) {
  TESSIVO_REQUIRE(HaveTool("convert")) << "ImageMagick's convert not installed (imagemagick)";
  const auto intactPath = TempDir() / "intact.png";
  ASSERT_TRUE(Shell("convert -seed 6 -size 33x17 plasma:fractal -depth 16 " + Quote(intactPath)));
  Magick ref;
  ASSERT_TRUE(MagickDecode(intactPath, ref));
  const auto intact = ReadFile(intactPath);
  const auto chunks = Chunks(intact);
  ASSERT_GE(chunks.size(), 3u);
  const std::vector<uint8_t> head(intact.begin(), intact.begin() + 8);
  const auto &iend = chunks.back();
  auto join = [&](std::initializer_list<std::vector<uint8_t>> tail) {
    std::vector<uint8_t> f = head;
    for (size_t i = 0; i + 1 < chunks.size(); ++i) f.insert(f.end(), chunks[i].begin(), chunks[i].end());
    for (const auto &t : tail) f.insert(f.end(), t.begin(), t.end());
    return f;
  };
  std::vector<uint8_t> badCrc = iend;
  badCrc[8] ^= 0xFF;
  const std::vector<uint8_t> cutIend(iend.begin(), iend.begin() + 6);
  const std::vector<uint8_t> truncatedText = {0, 0, 0, 40, 't', 'E', 'X', 't', 'C', 'o', 'm'};
  const struct {
    const char *Name;
    std::vector<uint8_t> Bytes;
  } cases[] = {{"IENDWithABadCRC", join({badCrc})},
               {"NoIEND", join({})},
               {"IENDCutShort", join({cutIend})},
               {"TextChunkCutShort", join({truncatedText})}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    CaptureMessages();
    LastMessage().clear();
    Decoded d;
    ASSERT_TRUE(Lib().read_wic(&d.D, c.Bytes.data(), c.Bytes.size())) << LastMessage();
    EXPECT_EQ(Difference(d, ref), 0);
    EXPECT_NE(LastMessage().find("PNG"), std::string::npos) << LastMessage();
    Decoded viaPng;
    EXPECT_TRUE(Lib().read_png(&viaPng.D, c.Bytes.data(), c.Bytes.size()));
  }
  // The last IDAT cut in half: rows are missing, the file is refused.
  std::vector<uint8_t> cutData = head;
  for (size_t i = 0; i + 1 < chunks.size(); ++i) {
    const bool lastIdat = std::memcmp(chunks[i].data() + 4, "IDAT", 4) == 0 &&
                          std::memcmp(chunks[i + 1].data() + 4, "IDAT", 4) != 0;
    cutData.insert(cutData.end(), chunks[i].begin(), lastIdat ? chunks[i].begin() + long(chunks[i].size() / 2) : chunks[i].end());
    if (lastIdat) break;
  }
  Decoded d;
  EXPECT_FALSE(Lib().read_wic(&d.D, cutData.data(), cutData.size()));
}

// ---- cursors ----

// Cursors as ImageMagick writes icons (the directory's type made 2, whose
// entry fields then hold the hot spot), at every depth, with their masks.
TEST(Cursor, MasksAndDepthsMatchImageMagick) {
  TESSIVO_REQUIRE(HaveTool("convert")) << "ImageMagick's convert not installed (imagemagick)";
  const struct {
    const char *Name;
    const char *Options;
  } cases[] = {{"mono", "-colors 2 -type palette"},
               {"pal16", "-colors 16 -type palette"},
               {"pal256", "-colors 200 -type palette"},
               {"true_colour_with_mask", "-alpha set -channel A -fx 'i<9?0:1' +channel"},
               {"alpha", "-alpha set -channel A -fx 'i/w' +channel"}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    const auto ico = TempDir() / (std::string(c.Name) + ".ico");
    ASSERT_TRUE(Shell("convert -seed 7 -size 24x24 plasma:fractal " + std::string(c.Options) + " ico:" + Quote(ico)));
    auto bytes = ReadFile(ico);
    ASSERT_GT(bytes.size(), 22u);
    bytes[2] = 2;                  // a cursor
    bytes[10] = 3, bytes[11] = 0;  // hot spot (3, 5) where an icon keeps planes and depth
    bytes[12] = 5, bytes[13] = 0;
    const auto cur = TempDir() / (std::string(c.Name) + ".cur");
    WriteFile(cur, bytes);
    Magick ref;
    ASSERT_TRUE(MagickDecode(ico, ref));
    Decoded d;
    ASSERT_TRUE(Lib().read_wic(&d.D, bytes.data(), bytes.size()));
    EXPECT_EQ(Difference(d, ref), 0);
  }
}

// A 16 × 16 cursor with a 4-bit palette and an AND mask that clears a corner.
std::vector<uint8_t> MaskedCursor() {
  const uint32_t w = 16, h = 16, xorStride = 8, andStride = 4;
  std::vector<uint8_t> dib(40 + 16 * 4 + (xorStride + andStride) * h, 0);
  auto put32 = [&](size_t at, uint32_t v) { for (int i = 0; i < 4; ++i) dib[at + i] = uint8_t(v >> (8 * i)); };
  put32(0, 40), put32(4, w), put32(8, 2 * h);
  dib[12] = 1, dib[14] = 4;  // planes, bits
  for (uint32_t i = 0; i < 16; ++i) put32(40 + 4 * i, (i * 0x10) | ((255 - i * 15) << 8) | ((i * 7) << 16));
  const size_t xorAt = 40 + 64, andAt = xorAt + xorStride * h;
  for (uint32_t r = 0; r < h; ++r) {      // file rows, bottom first
    for (uint32_t b = 0; b < xorStride; ++b) dib[xorAt + r * xorStride + b] = uint8_t(((r + b) % 16) << 4 | ((r * 3 + b) % 16));
    dib[andAt + r * andStride] = r % 3 == 0 ? 0xF0 : 0x0F;  // transparent columns differ from row to row
  }
  std::vector<uint8_t> f = {0, 0, 2, 0, 1, 0, uint8_t(w), uint8_t(h), 0, 0, 3, 0, 5, 0};
  for (uint32_t v : {uint32_t(dib.size()), 22u})
    for (int i = 0; i < 4; ++i) f.push_back(uint8_t(v >> (8 * i)));
  f.insert(f.end(), dib.begin(), dib.end());
  return f;
}

// A cursor whose file ends inside its transparency mask (the directory
// claiming more bytes than there are) keeps its colours, as ImageMagick
// reads them; the mask rows that are there apply, the missing ones (the top
// rows, since the mask is stored bottom row first) are opaque, with a warning.
TEST(Cursor, MaskCutShortKeepsTheColours) {
  TESSIVO_REQUIRE(HaveTool("convert")) << "ImageMagick's convert not installed (imagemagick)";
  const auto whole = MaskedCursor();
  const auto path = TempDir() / "masked.cur";
  WriteFile(path, whole);
  Magick ref;
  ASSERT_TRUE(MagickDecode(path, ref));
  Decoded full;
  ASSERT_TRUE(Lib().read_wic(&full.D, whole.data(), whole.size()));
  EXPECT_EQ(Difference(full, ref), 0);
  const uint32_t missingRows = 5;  // a 16-pixel mask row takes 4 bytes
  const std::vector<uint8_t> cut(whole.begin(), whole.end() - long(missingRows * 4));
  CaptureMessages();
  LastMessage().clear();
  Decoded d;
  ASSERT_TRUE(Lib().read_wic(&d.D, cut.data(), cut.size())) << LastMessage();
  EXPECT_NE(LastMessage().find("mask is cut short"), std::string::npos) << LastMessage();
  ASSERT_EQ(d.D.Width, ref.Width);
  ASSERT_EQ(d.D.Height, ref.Height);
  size_t bad = 0;
  for (uint32_t y = 0; y < ref.Height; ++y)
    for (uint32_t x = 0; x < ref.Width; ++x) {
      const auto g = WicPixel(d, x, y), r = ref.Px[size_t(y) * ref.Width + x];
      bad += g[3] != (y < missingRows ? 65535 : r[3]);
      if (y < missingRows || r[3] != 0)
        for (int c = 0; c < 3; ++c) bad += g[c] != r[c];
    }
  EXPECT_EQ(bad, 0u);
}

}  // namespace
