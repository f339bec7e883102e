// read_wic and read_wic_info over every format the library reads: fixtures
// are written in code (libtiff, giflib, libwebp, our own ICO bytes) or with
// the Debian encoders (heif-enc, JxrEncApp) into a scratch folder.
#include "io/tests/pixio/PixioTestUtil.h"
#include "testutil/TestEnv.h"

#include <gif_lib.h>
#include <png.h>
#include <tiffio.h>
#include <webp/encode.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>

#include <csignal>

using namespace pixiotest;

namespace {

// Samples of a test picture, top-down, interleaved in R,G,B(,A) or gray(,A) order.
template <class T>
std::vector<T> Samples(uint32_t w, uint32_t h, uint32_t spp, uint32_t seed) {
  std::vector<T> s(size_t(w) * h * spp);
  const uint32_t max = sizeof(T) == 1 ? 255 : 65535;
  uint32_t r = seed;
  for (size_t i = 0; i < s.size(); ++i) {
    r = r * 1664525u + 1013904223u;
    s[i] = T((uint64_t(i % (w * spp)) * 977 + (i / (w * spp)) * 131 + (r >> 26)) % (max + 1));
  }
  return s;
}

// Compares a read_wic result (top-down; 8-bit B,G,R(,A); 16-bit R,G,B(,A)) with
// source samples in R,G,B(,A) order; gray sources may be widened.
template <class T>
size_t Mismatches(const Decoded &d, const std::vector<T> &src, uint32_t spp, int tolerance = 0) {
  size_t bad = 0;
  const bool swap = sizeof(T) == 1 && d.D.Channels >= 3 && !d.D.IsCMYK;
  for (uint32_t y = 0; y < d.D.Height; ++y) {
    const T *o = reinterpret_cast<const T *>(d.Row(y, true));
    for (uint32_t x = 0; x < d.D.Width; ++x) {
      const T *s = src.data() + (size_t(y) * d.D.Width + x) * spp;
      for (uint32_t c = 0; c < d.D.Channels; ++c) {
        uint32_t sc = c;
        if (spp <= 2) sc = c < 3 ? 0 : 1;  // gray widened to B,G,R,A
        else if (swap && c < 3) sc = 2 - c;
        bad += std::abs(int(o[size_t(x) * d.D.Channels + c]) - int(s[sc])) > tolerance;
      }
    }
  }
  return bad;
}

bool DecodeWic(Decoded &d, const std::vector<uint8_t> &data) {
  return Lib().read_wic(&d.D, data.data(), data.size()) != 0;
}

// ---- TIFF ----

struct TiffCase {
  const char *Name;
  uint16_t Spp, Bps, Compression, Planar;
  bool Tiled;
};

void PrintTo(const TiffCase &c, std::ostream *os) {
  *os << c.Spp << " samples of " << c.Bps << " bits, compression " << c.Compression
      << (c.Planar == PLANARCONFIG_SEPARATE ? ", planar" : "") << (c.Tiled ? ", tiled" : "");
}

std::vector<uint8_t> WriteTiff(const TiffCase &c, uint32_t w, uint32_t h, const void *samples) {
  const auto path = TempDir() / (std::string(c.Name) + ".tif");
  TIFF *t = TIFFOpen(path.c_str(), "w");
  EXPECT_NE(t, nullptr);
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, c.Spp);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, c.Bps);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, c.Spp >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, c.Planar);
  TIFFSetField(t, TIFFTAG_COMPRESSION, c.Compression);
  TIFFSetField(t, TIFFTAG_XRESOLUTION, 300.0f);
  TIFFSetField(t, TIFFTAG_YRESOLUTION, 150.0f);
  TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  if (c.Spp == 2 || c.Spp == 4) {
    const uint16_t extra = EXTRASAMPLE_UNASSALPHA;
    TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &extra);
  }
  const size_t bps = c.Bps / 8, pix = size_t(c.Spp) * bps;
  const auto *src = static_cast<const uint8_t *>(samples);
  if (c.Tiled) {
    TIFFSetField(t, TIFFTAG_TILEWIDTH, 16);
    TIFFSetField(t, TIFFTAG_TILELENGTH, 16);
    std::vector<uint8_t> tile(16 * 16 * pix);
    for (uint32_t ty = 0; ty < h; ty += 16)
      for (uint32_t tx = 0; tx < w; tx += 16) {
        std::fill(tile.begin(), tile.end(), 0);
        for (uint32_t y = ty; y < std::min(h, ty + 16); ++y)
          for (uint32_t x = tx; x < std::min(w, tx + 16); ++x)
            std::memcpy(&tile[((y - ty) * 16 + (x - tx)) * pix], src + (size_t(y) * w + x) * pix, pix);
        TIFFWriteTile(t, tile.data(), tx, ty, 0, 0);
      }
  } else if (c.Planar == PLANARCONFIG_SEPARATE) {
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 3);
    std::vector<uint8_t> row(w * bps);
    for (uint16_t p = 0; p < c.Spp; ++p)
      for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) std::memcpy(&row[x * bps], src + (size_t(y) * w + x) * pix + p * bps, bps);
        TIFFWriteScanline(t, row.data(), y, p);
      }
  } else {
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 5);
    for (uint32_t y = 0; y < h; ++y)
      TIFFWriteScanline(t, const_cast<uint8_t *>(src + size_t(y) * w * pix), y, 0);
  }
  TIFFClose(t);
  return ReadFile(path);
}

class Tiff : public ::testing::TestWithParam<TiffCase> {};

TEST_P(Tiff, DecodesSampleExact) {
  const TiffCase c = GetParam();
  const uint32_t w = 37, h = 21;
  std::vector<uint8_t> s8;
  std::vector<uint16_t> s16;
  std::vector<uint8_t> file;
  if (c.Bps == 8) file = WriteTiff(c, w, h, (s8 = Samples<uint8_t>(w, h, c.Spp, 3)).data());
  else file = WriteTiff(c, w, h, (s16 = Samples<uint16_t>(w, h, c.Spp, 3)).data());
  Decoded d;
  ASSERT_TRUE(DecodeWic(d, file));
  EXPECT_EQ(d.D.Width, w);
  EXPECT_EQ(d.D.Height, h);
  EXPECT_EQ(d.D.BitsPerSample, c.Bps);
  EXPECT_EQ(d.D.Channels, c.Spp == 1 ? 1u : c.Spp == 3 ? 3u : 4u);
  EXPECT_EQ(d.D.IsGrayAlpha != 0, c.Spp == 2);
  EXPECT_EQ(d.D.XResolution, 300.0);
  EXPECT_EQ(d.D.ResolutionUnit, 1);
  EXPECT_EQ(c.Bps == 8 ? Mismatches(d, s8, c.Spp) : Mismatches(d, s16, c.Spp), 0u);
  // Any truncation of the pixel data fails cleanly.
  const std::vector<uint8_t> cut(file.begin(), file.begin() + long(file.size() * 2 / 3));
  Decoded broken;
  if (DecodeWic(broken, cut)) {
    ADD_FAILURE() << "truncated file decoded";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, Tiff,
    ::testing::Values(TiffCase{"rgb8_none", 3, 8, COMPRESSION_NONE, PLANARCONFIG_CONTIG, false},
                      TiffCase{"rgb8_lzw", 3, 8, COMPRESSION_LZW, PLANARCONFIG_CONTIG, false},
                      TiffCase{"rgba8_zip", 4, 8, COMPRESSION_ADOBE_DEFLATE, PLANARCONFIG_CONTIG, false},
                      TiffCase{"gray8_lzw", 1, 8, COMPRESSION_LZW, PLANARCONFIG_CONTIG, false},
                      TiffCase{"graya8_none", 2, 8, COMPRESSION_NONE, PLANARCONFIG_CONTIG, false},
                      TiffCase{"rgb16_zip", 3, 16, COMPRESSION_ADOBE_DEFLATE, PLANARCONFIG_CONTIG, false},
                      TiffCase{"rgba16_lzw", 4, 16, COMPRESSION_LZW, PLANARCONFIG_CONTIG, false},
                      TiffCase{"gray16_none", 1, 16, COMPRESSION_NONE, PLANARCONFIG_CONTIG, false},
                      TiffCase{"rgb8_planar", 3, 8, COMPRESSION_LZW, PLANARCONFIG_SEPARATE, false},
                      TiffCase{"rgba16_tiled", 4, 16, COMPRESSION_ADOBE_DEFLATE, PLANARCONFIG_CONTIG, true}),
    [](const auto &info) { return std::string(info.param.Name); });

// ---- GIF ----

std::vector<uint8_t> WriteGif(uint32_t w, uint32_t h, bool interlace, int transparent, const std::vector<uint8_t> &idx) {
  const auto path = TempDir() / (std::string("t") + (interlace ? "i" : "n") + std::to_string(transparent) + ".gif");
  int err = 0;
  GifFileType *g = EGifOpenFileName(path.c_str(), false, &err);
  EXPECT_NE(g, nullptr);
  GifColorType colours[4] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {10, 20, 30}};
  ColorMapObject *map = GifMakeMapObject(4, colours);
  EGifPutScreenDesc(g, int(w), int(h), 2, 0, map);
  if (transparent >= 0) {
    GraphicsControlBlock gcb{0, false, 0, transparent};
    GifByteType ext[4];
    const size_t n = EGifGCBToExtension(&gcb, ext);
    EGifPutExtension(g, GRAPHICS_EXT_FUNC_CODE, int(n), ext);
  }
  EGifPutImageDesc(g, 0, 0, int(w), int(h), interlace, nullptr);
  std::vector<GifPixelType> line(w);
  auto put = [&](uint32_t y) {
    for (uint32_t x = 0; x < w; ++x) line[x] = idx[size_t(y) * w + x];
    EGifPutLine(g, line.data(), int(w));
  };
  if (interlace) {
    const uint32_t start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
    for (int p = 0; p < 4; ++p)
      for (uint32_t y = start[p]; y < h; y += step[p]) put(y);
  } else {
    for (uint32_t y = 0; y < h; ++y) put(y);
  }
  EGifCloseFile(g, &err);
  GifFreeMapObject(map);
  return ReadFile(path);
}

struct GifCase {
  bool Interlace;
  int Transparent;
};

void PrintTo(const GifCase &c, std::ostream *os) {
  *os << (c.Interlace ? "interlaced" : "not interlaced");
  if (c.Transparent >= 0) *os << ", transparent index " << c.Transparent;
}
class Gif : public ::testing::TestWithParam<GifCase> {};

TEST_P(Gif, DecodesFirstFrame) {
  const auto [interlace, transparent] = GetParam();
  const uint32_t w = 23, h = 19;
  std::vector<uint8_t> idx(size_t(w) * h);
  for (size_t i = 0; i < idx.size(); ++i) idx[i] = uint8_t((i * 7 + i / w) % 4);
  const auto file = WriteGif(w, h, interlace, transparent, idx);
  Decoded d;
  ASSERT_TRUE(DecodeWic(d, file));
  ASSERT_EQ(d.D.Channels, transparent >= 0 ? 4u : 3u);
  const uint8_t bgr[4][3] = {{0, 0, 255}, {0, 255, 0}, {255, 0, 0}, {30, 20, 10}};
  size_t bad = 0;
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      const uint8_t *p = d.Row(y, true) + x * d.D.Channels;
      const int i = idx[size_t(y) * w + x];
      if (i == transparent) {
        bad += p[3] != 0;
        continue;
      }
      bad += std::memcmp(p, bgr[i], 3) != 0 || (d.D.Channels == 4 && p[3] != 255);
    }
  EXPECT_EQ(bad, 0u);
  Decoded broken;
  const std::vector<uint8_t> cut(file.begin(), file.begin() + long(file.size() / 2));
  EXPECT_FALSE(DecodeWic(broken, cut));
}

INSTANTIATE_TEST_SUITE_P(Cases, Gif, ::testing::Values(GifCase{false, -1}, GifCase{true, -1}, GifCase{false, 2}),
                         [](const auto &info) {
                           return std::string(info.param.Interlace ? "interlaced" : "plain") +
                                  (info.param.Transparent >= 0 ? "_transparent" + std::to_string(info.param.Transparent)
                                                               : "");
                         });

// ---- WebP ----

TEST(WebP, LosslessRoundTrip) {
  for (uint32_t ch : {3u, 4u}) {
    const uint32_t w = 45, h = 31;
    const auto rgb = Samples<uint8_t>(w, h, ch, 9);
    std::vector<uint8_t> bgr(rgb.size());
    for (size_t i = 0; i < rgb.size(); i += ch) {
      bgr[i] = rgb[i + 2], bgr[i + 1] = rgb[i + 1], bgr[i + 2] = rgb[i];
      if (ch == 4) bgr[i + 3] = rgb[i + 3] | 1;  // keep alpha non-zero so colours survive
    }
    std::vector<uint8_t> src = rgb;
    for (size_t i = 3; ch == 4 && i < src.size(); i += 4) src[i] |= 1;
    uint8_t *out = nullptr;
    const size_t n = ch == 4 ? WebPEncodeLosslessBGRA(bgr.data(), int(w), int(h), int(w * 4), &out)
                             : WebPEncodeLosslessBGR(bgr.data(), int(w), int(h), int(w * 3), &out);
    ASSERT_GT(n, 0u);
    const std::vector<uint8_t> file(out, out + n);
    WebPFree(out);
    Decoded d;
    ASSERT_TRUE(DecodeWic(d, file));
    EXPECT_EQ(d.D.Channels, ch);
    EXPECT_EQ(Mismatches(d, src, ch), 0u);
    Decoded broken;
    const std::vector<uint8_t> cut(file.begin(), file.begin() + long(file.size() / 2));
    EXPECT_FALSE(DecodeWic(broken, cut));
  }
}

// ---- ICO ----

void Put16(std::vector<uint8_t> &d, uint32_t v) { d.push_back(uint8_t(v)), d.push_back(uint8_t(v >> 8)); }
void Put32(std::vector<uint8_t> &d, uint32_t v) { Put16(d, v & 0xFFFF), Put16(d, v >> 16); }

// A DIB icon image: 40-byte header, palette for 8 bits, XOR rows and AND mask bottom-up.
std::vector<uint8_t> IconDib(uint32_t w, uint32_t h, uint32_t bits, const std::vector<uint8_t> &bgra) {
  std::vector<uint8_t> d;
  Put32(d, 40), Put32(d, w), Put32(d, h * 2), Put16(d, 1), Put16(d, uint16_t(bits));
  for (int i = 0; i < 6; ++i) Put32(d, 0);
  if (bits == 8)
    for (uint32_t i = 0; i < 256; ++i) Put32(d, i * 0x010101u);  // gray palette
  const size_t xs = (size_t(w) * bits + 31) / 32 * 4, as = (size_t(w) + 31) / 32 * 4;
  for (uint32_t r = 0; r < h; ++r) {
    const uint32_t y = h - 1 - r;
    std::vector<uint8_t> row(xs);
    for (uint32_t x = 0; x < w; ++x) {
      const uint8_t *p = &bgra[(size_t(y) * w + x) * 4];
      if (bits == 32) std::memcpy(&row[x * 4], p, 4);
      else row[x] = p[0];  // gray: B = G = R
    }
    d.insert(d.end(), row.begin(), row.end());
  }
  for (uint32_t r = 0; r < h; ++r) {
    const uint32_t y = h - 1 - r;
    std::vector<uint8_t> row(as);
    for (uint32_t x = 0; x < w; ++x)
      if (bgra[(size_t(y) * w + x) * 4 + 3] == 0) row[x >> 3] |= uint8_t(0x80 >> (x & 7));
    d.insert(d.end(), row.begin(), row.end());
  }
  return d;
}

std::vector<uint8_t> IconFile(const std::vector<std::pair<uint32_t, std::vector<uint8_t>>> &images, uint32_t bits) {
  std::vector<uint8_t> d;
  Put16(d, 0), Put16(d, 1), Put16(d, uint16_t(images.size()));
  uint32_t offset = uint32_t(6 + 16 * images.size());
  for (const auto &[size, img] : images) {
    d.push_back(uint8_t(size)), d.push_back(uint8_t(size)), d.push_back(0), d.push_back(0);
    Put16(d, 1), Put16(d, uint16_t(bits)), Put32(d, uint32_t(img.size())), Put32(d, offset);
    offset += uint32_t(img.size());
  }
  for (const auto &im : images) d.insert(d.end(), im.second.begin(), im.second.end());
  return d;
}

std::vector<uint8_t> IconPixels(uint32_t size, bool gray) {
  std::vector<uint8_t> p(size_t(size) * size * 4);
  for (uint32_t i = 0; i < size * size; ++i) {
    const uint8_t v = uint8_t(i * 13);
    p[i * 4] = v, p[i * 4 + 1] = gray ? v : uint8_t(255 - v), p[i * 4 + 2] = gray ? v : uint8_t(i);
    p[i * 4 + 3] = gray ? ((i % 5) ? 255 : 0) : uint8_t(i % 7 ? 200 : 0);
  }
  return p;
}

size_t IconMismatches(const Decoded &d, const std::vector<uint8_t> &bgra) {
  size_t bad = 0;
  for (uint32_t y = 0; y < d.D.Height; ++y)
    for (uint32_t x = 0; x < d.D.Width; ++x) {
      const uint8_t *o = d.Row(y, true) + x * 4, *e = &bgra[(size_t(y) * d.D.Width + x) * 4];
      bad += e[3] == 0 ? o[3] != 0 : std::memcmp(o, e, 4) != 0;
    }
  return bad;
}

TEST(Ico, PicksTheLargestImage) {
  const auto small = IconPixels(16, true), large = IconPixels(32, false);
  const auto file = IconFile({{16, IconDib(16, 16, 32, small)}, {32, IconDib(32, 32, 32, large)}}, 32);
  Decoded d;
  ASSERT_TRUE(DecodeWic(d, file));
  EXPECT_EQ(d.D.Width, 32u);
  EXPECT_EQ(d.D.Channels, 4u);
  EXPECT_EQ(IconMismatches(d, large), 0u);
}

TEST(Ico, PaletteImageUsesItsMask) {
  const auto px = IconPixels(24, true);
  Decoded d;
  ASSERT_TRUE(DecodeWic(d, IconFile({{24, IconDib(24, 24, 8, px)}}, 8)));
  EXPECT_EQ(IconMismatches(d, px), 0u);
}

TEST(Ico, EmbeddedPng) {
  const auto px = IconPixels(20, false);
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  img.width = 20, img.height = 20, img.format = PNG_FORMAT_BGRA;
  png_alloc_size_t len = 0;
  ASSERT_TRUE(png_image_write_to_memory(&img, nullptr, &len, 0, px.data(), 0, nullptr));
  std::vector<uint8_t> png(len);
  ASSERT_TRUE(png_image_write_to_memory(&img, png.data(), &len, 0, px.data(), 0, nullptr));
  png.resize(len);
  Decoded d;
  ASSERT_TRUE(DecodeWic(d, IconFile({{20, png}}, 32)));
  EXPECT_EQ(IconMismatches(d, px), 0u);
}

TEST(Ico, BrokenDirectoriesFail) {
  const auto good = IconFile({{16, IconDib(16, 16, 32, IconPixels(16, false))}}, 32);
  std::vector<std::vector<uint8_t>> cases;
  cases.emplace_back(good.begin(), good.begin() + 10);   // directory cut
  cases.emplace_back(good.begin(), good.begin() + 100);  // image cut
  auto farOffset = good;
  farOffset[18] = 0xFF, farOffset[19] = 0xFF, farOffset[20] = 0xFF, farOffset[21] = 0x7F;  // offset beyond the file
  cases.push_back(farOffset);
  for (const auto &c : cases) {
    Decoded d;
    EXPECT_FALSE(DecodeWic(d, c));
    EXPECT_EQ(d.D.Mem, nullptr);
  }
  // A size beyond the end of the file, with the whole image there, is read as far as the file goes.
  auto hugeSize = good;
  hugeSize[14] = 0xFF, hugeSize[15] = 0xFF, hugeSize[16] = 0xFF, hugeSize[17] = 0xFF;
  Decoded a, b;
  ASSERT_TRUE(DecodeWic(a, good));
  ASSERT_TRUE(DecodeWic(b, hugeSize));
  ASSERT_EQ(b.D.Width, a.D.Width);
  ASSERT_EQ(b.D.Height, a.D.Height);
  for (uint32_t y = 0; y < a.D.Height; ++y) EXPECT_EQ(std::memcmp(a.Row(y, true), b.Row(y, true), a.D.Width * 4), 0);
}

// ---- HEIF / AVIF and JPEG XR, through the Debian encoders ----

std::filesystem::path WritePng(const std::string &name, uint32_t w, uint32_t h, uint32_t ch, const std::vector<uint8_t> &rgb) {
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  img.width = w, img.height = h, img.format = ch == 4 ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
  const auto path = TempDir() / (name + ".png");
  EXPECT_TRUE(png_image_write_to_file(&img, path.c_str(), 0, rgb.data(), 0, nullptr));
  return path;
}

// A smooth picture that lossy encoders keep close.
std::vector<uint8_t> Smooth(uint32_t w, uint32_t h, uint32_t ch) {
  std::vector<uint8_t> p(size_t(w) * h * ch);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x)
      for (uint32_t c = 0; c < ch; ++c)
        p[(size_t(y) * w + x) * ch + c] = uint8_t(c == 3 ? 255 - x * 2 : std::min<uint32_t>(255, 16 + x * (c + 1) + y * (3 - c)));
  return p;
}

struct HeifCase {
  const char *Ext;
  uint32_t Channels;
};

void PrintTo(const HeifCase &c, std::ostream *os) { *os << c.Ext << ", " << c.Channels << " channels"; }
class Heif : public ::testing::TestWithParam<HeifCase> {};

TEST_P(Heif, DecodesCloseToTheSource) {
  TESSIVO_REQUIRE(HaveTool("heif-enc")) << "heif-enc not installed (libheif-examples)";
  CaptureMessages();
  const auto [ext, ch] = GetParam();
  const uint32_t w = 64, h = 48;
  const auto rgb = Smooth(w, h, ch);
  const auto png = WritePng(std::string("heif") + ext + std::to_string(ch), w, h, ch, rgb);
  const auto out = TempDir() / ("t" + std::to_string(ch) + "." + ext);
  const bool encoded = RunTool("heif-enc -q 95 -o " + Quote(out) + " " + Quote(png));
  TESSIVO_REQUIRE(encoded) << "heif-enc cannot encode " << ext << " here";
  const auto file = ReadFile(out);
  Decoded d;
  ASSERT_TRUE(DecodeWic(d, file)) << LastMessage();
  EXPECT_EQ(d.D.Width, w);
  EXPECT_EQ(d.D.Height, h);
  EXPECT_EQ(d.D.Channels, ch);
  EXPECT_EQ(d.D.BitsPerSample, 8u);
  EXPECT_LT(Mismatches(d, rgb, ch, 12), size_t(w) * h * ch / 50);
  TPixioWICInfo info{};
  ASSERT_NE(Lib().read_wic_info2(&info, file.data(), file.size()), 0);
  EXPECT_EQ(info.Width, w);
  Decoded broken;
  const std::vector<uint8_t> cut(file.begin(), file.begin() + long(file.size() / 2));
  EXPECT_FALSE(DecodeWic(broken, cut));
}

INSTANTIATE_TEST_SUITE_P(Formats, Heif,
                         ::testing::Values(HeifCase{"heic", 3}, HeifCase{"heic", 4}, HeifCase{"avif", 3}),
                         [](const auto &info) { return std::string(info.param.Ext) + std::to_string(info.param.Channels); });

TEST(Heif, TenBitSourcesWidenTo16Bits) {
  TESSIVO_REQUIRE(HaveTool("heif-enc")) << "heif-enc not installed (libheif-examples)";
  const uint32_t w = 48, h = 32;
  std::vector<uint16_t> rgb(size_t(w) * h * 3);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x)
      for (uint32_t c = 0; c < 3; ++c) rgb[(size_t(y) * w + x) * 3 + c] = uint16_t(8000 + x * 600 + y * 300 * (c + 1));
  // 16-bit PNG rows are big-endian.
  std::vector<uint8_t> be(rgb.size() * 2);
  for (size_t i = 0; i < rgb.size(); ++i) be[2 * i] = uint8_t(rgb[i] >> 8), be[2 * i + 1] = uint8_t(rgb[i]);
  const auto png = TempDir() / "deep.png";
  {
    FILE *fp = fopen(png.c_str(), "wb");
    ASSERT_NE(fp, nullptr);
    png_structp p = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(p);
    png_init_io(p, fp);
    png_set_IHDR(p, info, w, h, 16, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(p, info);
    for (uint32_t y = 0; y < h; ++y) png_write_row(p, be.data() + size_t(y) * w * 6);
    png_write_end(p, info);
    png_destroy_write_struct(&p, &info);
    fclose(fp);
  }
  const auto out = TempDir() / "deep.heic";
  const bool encoded = RunTool("heif-enc -q 95 -b 10 -o " + Quote(out) + " " + Quote(png));
  TESSIVO_REQUIRE(encoded) << "heif-enc cannot write 10 bits here";
  Decoded d;
  ASSERT_TRUE(DecodeWic(d, ReadFile(out))) << LastMessage();
  EXPECT_EQ(d.D.BitsPerSample, 16u);
  EXPECT_EQ(d.D.Channels, 3u);
  EXPECT_LT(Mismatches(d, rgb, 3, 1500), size_t(w) * h * 3 / 50);  // 16-bit R,G,B order
}

struct JxrCase {
  const char *Name;
  uint32_t Channels, Bits;
  const char *Format;  // JxrEncApp -c
};

void PrintTo(const JxrCase &c, std::ostream *os) {
  *os << c.Channels << " channels, " << c.Bits << " bits, JxrEncApp -c " << c.Format;
}
class Jxr : public ::testing::TestWithParam<JxrCase> {};

TEST_P(Jxr, LosslessRoundTrip) {
  TESSIVO_REQUIRE(HaveTool("JxrEncApp")) << "JxrEncApp not installed (libjxr-tools)";
  CaptureMessages();
  const JxrCase c = GetParam();
  const uint32_t w = 50, h = 35;
  const TiffCase tc{c.Name, uint16_t(c.Channels), uint16_t(c.Bits), COMPRESSION_NONE, PLANARCONFIG_CONTIG, false};
  std::vector<uint8_t> s8;
  std::vector<uint16_t> s16;
  if (c.Bits == 8) WriteTiff(tc, w, h, (s8 = Samples<uint8_t>(w, h, c.Channels, 5)).data());
  else WriteTiff(tc, w, h, (s16 = Samples<uint16_t>(w, h, c.Channels, 5)).data());
  const auto out = TempDir() / (std::string(c.Name) + ".jxr");
  ASSERT_TRUE(RunTool("JxrEncApp -i " + Quote(TempDir() / (std::string(c.Name) + ".tif")) + " -o " + Quote(out) +
                      " -c " + c.Format + " -q 1"));
  const auto file = ReadFile(out);
  Decoded d;
  ASSERT_TRUE(DecodeWic(d, file)) << LastMessage();
  EXPECT_EQ(d.D.Width, w);
  EXPECT_EQ(d.D.Height, h);
  EXPECT_EQ(d.D.Channels, c.Channels);
  EXPECT_EQ(d.D.BitsPerSample, c.Bits);
  EXPECT_EQ(c.Bits == 8 ? Mismatches(d, s8, c.Channels) : Mismatches(d, s16, c.Channels), 0u);
  TPixioWICInfo info{};
  ASSERT_NE(Lib().read_wic_info2(&info, file.data(), file.size()), 0);
  EXPECT_EQ(info.Height, h);
}

INSTANTIATE_TEST_SUITE_P(Formats, Jxr,
                         ::testing::Values(JxrCase{"jxr_rgb8", 3, 8, "9"}, JxrCase{"jxr_gray8", 1, 8, "2"},
                                           JxrCase{"jxr_rgb16", 3, 16, "10"}, JxrCase{"jxr_rgba16", 4, 16, "23"}),
                         [](const auto &info) { return std::string(info.param.Name); });

// The decoder runs in a child process; a program that ignores SIGCHLD (so the
// kernel reaps children at once) must still get its pixels.
TEST(Jxr, DecodesWhenChildrenAreReapedAutomatically) {
  TESSIVO_REQUIRE(HaveTool("JxrEncApp")) << "JxrEncApp not installed (libjxr-tools)";
  const auto s = Samples<uint8_t>(20, 12, 3, 6);
  WriteTiff({"jxr_sig", 3, 8, COMPRESSION_NONE, PLANARCONFIG_CONTIG, false}, 20, 12, s.data());
  const auto out = TempDir() / "jxr_sig.jxr";
  ASSERT_TRUE(RunTool("JxrEncApp -i " + Quote(TempDir() / "jxr_sig.tif") + " -o " + Quote(out) + " -c 9 -q 1"));
  const auto file = ReadFile(out);
  auto old = signal(SIGCHLD, SIG_IGN);
  Decoded d;
  const bool ok = DecodeWic(d, file);
  signal(SIGCHLD, old);
  ASSERT_TRUE(ok);
  EXPECT_EQ(Mismatches(d, s, 3), 0u);
}

// ---- JPEG and PNG through read_wic: top-down rows, 16-bit in R,G,B order ----

TEST(WicPngJpeg, RowOrderAndSampleOrder) {
  const auto dir = std::string(TESSIVO_TESTDATA_DIR) + "/pngsuite/";
  for (const char *name : {"basn2c16.png", "basn2c08.png", "basn4a08.png"}) {
    const auto data = ReadFile(dir + name);
    Decoded bottomUp, topDown;
    ASSERT_NE(Lib().read_png(&bottomUp.D, data.data(), data.size()), 0);
    ASSERT_TRUE(DecodeWic(topDown, data));
    const bool deep = bottomUp.D.BitsPerSample == 16;
    const bool grayAlpha = bottomUp.D.Channels == 2;
    EXPECT_EQ(topDown.D.Channels, grayAlpha ? 4u : bottomUp.D.Channels) << name;
    EXPECT_EQ(topDown.D.IsGrayAlpha != 0, grayAlpha);
    size_t bad = 0;
    for (uint32_t y = 0; y < bottomUp.D.Height; ++y)
      for (uint32_t x = 0; x < bottomUp.D.Width; ++x) {
        if (deep) {
          const auto *a = reinterpret_cast<const uint16_t *>(bottomUp.Row(y, false)) + x * 3;
          const auto *b = reinterpret_cast<const uint16_t *>(topDown.Row(y, true)) + x * 3;
          bad += a[0] != b[2] || a[1] != b[1] || a[2] != b[0];
        } else if (grayAlpha) {
          const uint8_t *a = bottomUp.Row(y, false) + x * 2, *b = topDown.Row(y, true) + x * 4;
          bad += b[0] != a[0] || b[1] != a[0] || b[2] != a[0] || b[3] != a[1];
        } else {
          bad += std::memcmp(bottomUp.Row(y, false) + x * 3, topDown.Row(y, true) + x * 3, 3) != 0;
        }
      }
    EXPECT_EQ(bad, 0u) << name;
  }
}

TEST(WicPngJpeg, JpegRowsComeTopDown) {
  const auto rgb = Smooth(40, 30, 3);
  TESSIVO_REQUIRE(HaveTool("cjpeg")) << "cjpeg not installed (libjpeg-turbo-progs)";
  Pnm pic{40, 30, 3, rgb};
  const auto src = TempDir() / "wic.ppm", out = TempDir() / "wic.jpg";
  WriteFile(src, MakePnm(pic));
  ASSERT_TRUE(RunTool("cjpeg -outfile " + Quote(out) + " " + Quote(src)));
  const auto data = ReadFile(out);
  Decoded bottomUp, topDown;
  ASSERT_NE(Lib().read_jpeg(&bottomUp.D, data.data(), data.size()), 0);
  ASSERT_TRUE(DecodeWic(topDown, data));
  size_t bad = 0;
  for (uint32_t y = 0; y < 30; ++y) bad += std::memcmp(bottomUp.Row(y, false), topDown.Row(y, true), 40 * 3) != 0;
  EXPECT_EQ(bad, 0u);
}

TEST(WicLayouts, CmykTiffIsFlagged) {
  const uint32_t w = 11, h = 7;
  const auto s = Samples<uint8_t>(w, h, 4, 8);
  const auto path = TempDir() / "cmyk.tif";
  TIFF *t = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(t, nullptr);
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 4);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_SEPARATED);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  for (uint32_t y = 0; y < h; ++y) TIFFWriteScanline(t, const_cast<uint8_t *>(s.data() + y * w * 4), y, 0);
  TIFFClose(t);
  Decoded d;
  ASSERT_TRUE(DecodeWic(d, ReadFile(path)));
  EXPECT_NE(d.D.IsCMYK, 0);
  EXPECT_EQ(d.D.Channels, 4u);
  EXPECT_EQ(Mismatches(d, s, 4), 0u);  // C,M,Y,K as stored
}

TEST(WicLayouts, AnimatedWebPGivesItsFirstFrame) {
  TESSIVO_REQUIRE(HaveTool("img2webp")) << "img2webp not installed (webp)";
  const auto a = Smooth(30, 20, 4), b = Samples<uint8_t>(30, 20, 4, 3);
  const auto pa = WritePng("anim-a", 30, 20, 4, a), pb = WritePng("anim-b", 30, 20, 4, b);
  const auto out = TempDir() / "anim.webp";
  ASSERT_TRUE(RunTool("img2webp -lossless " + Quote(pa) + " " + Quote(pb) + " -o " + Quote(out)));
  Decoded d;
  ASSERT_TRUE(DecodeWic(d, ReadFile(out)));
  EXPECT_EQ(d.D.Width, 30u);
  EXPECT_EQ(Mismatches(d, a, 4), 0u);
}

// read_wic_thumbnail: an embedded reduced image where the format has one.
TEST(WicThumbnail, TiffReducedPageAndHeifThumbnail) {
  const uint32_t w = 64, h = 40;
  const auto big = Samples<uint8_t>(w, h, 3, 1), small = Samples<uint8_t>(16, 10, 3, 2);
  const auto path = TempDir() / "twopage.tif";
  TIFF *t = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(t, nullptr);
  auto page = [&](uint32_t pw, uint32_t ph, const std::vector<uint8_t> &px, uint32_t subfile) {
    TIFFSetField(t, TIFFTAG_SUBFILETYPE, subfile);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, pw);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, ph);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    for (uint32_t y = 0; y < ph; ++y) TIFFWriteScanline(t, const_cast<uint8_t *>(px.data() + y * pw * 3), y, 0);
    TIFFWriteDirectory(t);
  };
  page(w, h, big, 0);
  page(16, 10, small, FILETYPE_REDUCEDIMAGE);
  TIFFClose(t);
  const auto file = ReadFile(path);
  Decoded full, thumb;
  ASSERT_TRUE(DecodeWic(full, file));
  EXPECT_EQ(full.D.Width, w);
  ASSERT_NE(Lib().read_wic_thumbnail(&thumb.D, file.data(), file.size()), 0);
  EXPECT_EQ(thumb.D.Width, 16u);
  EXPECT_EQ(Mismatches(thumb, small, 3), 0u);

  TESSIVO_REQUIRE(HaveTool("heif-enc")) << "heif-enc not installed (libheif-examples)";
  const auto png = WritePng("thumbsrc", 96, 64, 3, Smooth(96, 64, 3));
  const auto heic = TempDir() / "thumb.heic";
  const bool encoded = RunTool("heif-enc -q 80 -t 24 -o " + Quote(heic) + " " + Quote(png));
  TESSIVO_REQUIRE(encoded) << "heif-enc cannot encode here";
  const auto hf = ReadFile(heic);
  Decoded hthumb;
  ASSERT_NE(Lib().read_wic_thumbnail(&hthumb.D, hf.data(), hf.size()), 0);
  EXPECT_LE(std::max(hthumb.D.Width, hthumb.D.Height), 24u);
}

// ---- header facts ----

// A JPEG whose APP1 holds a small Exif structure (big-endian).
std::vector<uint8_t> JpegWithExif() {
  std::vector<uint8_t> t = {'M', 'M', 0, 42, 0, 0, 0, 8};
  auto be16 = [&](uint32_t v) { t.push_back(uint8_t(v >> 8)), t.push_back(uint8_t(v)); };
  auto be32 = [&](uint32_t v) { be16(v >> 16), be16(v & 0xFFFF); };
  auto entry = [&](uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
    be16(tag), be16(type), be32(count);
    if (type == 3 && count == 1) be16(value), be16(0);
    else be32(value);
  };
  // IFD0 at 8: 5 entries -> 2 + 60 + 4 = 66 bytes; rationals follow at 74.
  be16(5);
  entry(0x0112, 3, 1, 6);
  entry(0x011A, 5, 1, 74);
  entry(0x011B, 5, 1, 82);
  entry(0x0128, 3, 1, 3);  // centimetres
  entry(0x8769, 4, 1, 90);
  be32(0);
  be32(118), be32(1), be32(59), be32(1);  // 118 and 59 per cm
  // Exif IFD at 90: 2 entries -> 2 + 24 + 4 = 30; date at 120.
  be16(2);
  entry(0x9003, 2, 20, 120);
  entry(0xA001, 3, 1, 0xFFFF);
  be32(0);
  const char date[20] = "2023:04:05 06:07:08";
  t.insert(t.end(), date, date + 20);
  std::vector<uint8_t> app1 = {'E', 'x', 'i', 'f', 0, 0};
  app1.insert(app1.end(), t.begin(), t.end());
  std::vector<uint8_t> j = {0xFF, 0xD8, 0xFF, 0xE1, uint8_t((app1.size() + 2) >> 8), uint8_t(app1.size() + 2)};
  j.insert(j.end(), app1.begin(), app1.end());
  // SOF0 for 640 x 480, three components; nothing after it is needed by the probe.
  const uint8_t sof[] = {0xFF, 0xC0, 0, 17, 8, 0x01, 0xE0, 0x02, 0x80, 3, 1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1};
  j.insert(j.end(), sof, sof + sizeof sof);
  return j;
}

TEST(WicInfo, ReadsExifFacts) {
  const auto data = JpegWithExif();
  TPixioWICInfo info{};
  ASSERT_NE(Lib().read_wic_info2(&info, data.data(), data.size()), 0);
  EXPECT_EQ(info.Width, 640u);
  EXPECT_EQ(info.Height, 480u);
  EXPECT_EQ(info.Orientation, 6);
  EXPECT_NE(info.HasExif, 0);
  EXPECT_STREQ(info.DateTimeOriginal, "2023:04:05 06:07:08");
  EXPECT_EQ(info.ColorSpace, 0xFFFF);
  EXPECT_NEAR(info.XResolution, 118 * 2.54, 1e-9);
  EXPECT_NEAR(info.YResolution, 59 * 2.54, 1e-9);
  EXPECT_DOUBLE_EQ(info.Gamma, 2.2);  // default when the tag is absent
  // The same from a file, named by a wide string.
  const auto path = TempDir() / "exif-é.jpg";
  WriteFile(path, data);
  std::wstring wide;
  for (const char *p = path.c_str(); *p;) {  // UTF-8 to code points
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c < 0x80) wide += wchar_t(*p++);
    else {
      wide += wchar_t(((c & 0x1F) << 6) | (p[1] & 0x3F));
      p += 2;
    }
  }
  TPixioWICInfo fromFile{};
  ASSERT_NE(Lib().read_wic_info(wide.c_str(), &fromFile), 0);
  EXPECT_EQ(fromFile.Orientation, 6);
}

TEST(WicInfo, DamagedExifIsIgnoredNotFollowed) {
  auto data = JpegWithExif();
  // Point the Exif IFD and a rational far outside the block.
  for (size_t i = 0; i + 4 < data.size(); ++i)
    if (data[i] == 0x87 && data[i + 1] == 0x69) {
      data[i + 8] = 0x7F, data[i + 9] = 0xFF;
      break;
    }
  TPixioWICInfo info{};
  ASSERT_NE(Lib().read_wic_info2(&info, data.data(), data.size()), 0);
  EXPECT_EQ(info.Orientation, 6);
  EXPECT_EQ(info.DateTimeOriginal[0], 0);
}

TEST(WicInfo, TiffSizeAndResolution) {
  const TiffCase c{"info", 3, 8, COMPRESSION_NONE, PLANARCONFIG_CONTIG, false};
  const auto s = Samples<uint8_t>(9, 7, 3, 1);
  const auto file = WriteTiff(c, 9, 7, s.data());
  TPixioWICInfo info{};
  ASSERT_NE(Lib().read_wic_info2(&info, file.data(), file.size()), 0);
  EXPECT_EQ(info.Width, 9u);
  EXPECT_EQ(info.Height, 7u);
  EXPECT_EQ(info.XResolution, 300.0);
  EXPECT_EQ(info.YResolution, 150.0);
}

TEST(WicExtensions, ListWhatTheLibraryReads) {
  std::set<std::wstring> exts;
  ASSERT_NE(Lib().enumextensions([](void *ctx, const wchar_t *e) { static_cast<std::set<std::wstring> *>(ctx)->insert(e); },
                                 &exts),
            0);
  for (const wchar_t *e : {L".tif", L".tiff", L".gif", L".webp", L".jxr", L".wdp", L".ico", L".png", L".jpg"})
    EXPECT_TRUE(exts.count(e)) << std::string(e, e + wcslen(e));
  for (const auto &e : exts) EXPECT_EQ(e[0], L'.');
}

TEST(WicBroken, UnknownAndEmptyInputFail) {
  CaptureMessages();
  const std::vector<std::vector<uint8_t>> cases = {{}, {0, 1, 2, 3}, {'G', 'I', 'F', '8', '9', 'a'},
                                                   {'I', 'I', 0x2A, 0, 0xFF, 0xFF, 0xFF, 0x7F},
                                                   {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'E', 'B', 'P'},
                                                   {0, 0, 0, 0x18, 'f', 't', 'y', 'p', 'h', 'e', 'i', 'c'},
                                                   {'I', 'I', 0xBC, 1, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}};
  for (const auto &c : cases) {
    LastMessage().clear();
    Decoded d;
    EXPECT_EQ(Lib().read_wic(&d.D, c.empty() ? nullptr : c.data(), c.size()), 0);
    EXPECT_EQ(d.D.Mem, nullptr);
    EXPECT_FALSE(LastMessage().empty());
  }
}


// Damaged bytes in every format: decoding may succeed or fail, but never
// crash, hang or read outside the data (the sanitizer build watches).
std::vector<std::pair<std::string, std::vector<uint8_t>>> Fixtures() {
  std::vector<std::pair<std::string, std::vector<uint8_t>>> f;
  const auto s8 = Samples<uint8_t>(21, 13, 4, 2);
  f.emplace_back("tiff-lzw", WriteTiff({"fz_lzw", 4, 8, COMPRESSION_LZW, PLANARCONFIG_CONTIG, false}, 21, 13, s8.data()));
  f.emplace_back("tiff-zip-tiled", WriteTiff({"fz_zip", 4, 8, COMPRESSION_ADOBE_DEFLATE, PLANARCONFIG_CONTIG, true}, 21, 13, s8.data()));
  std::vector<uint8_t> idx(21 * 13);
  for (size_t i = 0; i < idx.size(); ++i) idx[i] = uint8_t(i % 4);
  f.emplace_back("gif", WriteGif(21, 13, true, 1, idx));
  uint8_t *out = nullptr;
  const size_t n = WebPEncodeLosslessBGRA(s8.data(), 21, 13, 21 * 4, &out);
  f.emplace_back("webp", std::vector<uint8_t>(out, out + n));
  WebPFree(out);
  f.emplace_back("ico", IconFile({{16, IconDib(16, 16, 8, IconPixels(16, true))}}, 8));
  f.emplace_back("png", ReadFile(std::string(TESSIVO_TESTDATA_DIR) + "/pngsuite/basi6a16.png"));
  const auto rgb = Smooth(24, 16, 3);
  const auto png = WritePng("fz", 24, 16, 3, rgb);
  if (HaveTool("heif-enc") && RunTool("heif-enc -q 50 -o " + Quote(TempDir() / "fz.heic") + " " + Quote(png)))
    f.emplace_back("heic", ReadFile(TempDir() / "fz.heic"));
  if (HaveTool("JxrEncApp")) {
    WriteTiff({"fzjxr", 3, 8, COMPRESSION_NONE, PLANARCONFIG_CONTIG, false}, 21, 13, Samples<uint8_t>(21, 13, 3, 4).data());
    if (RunTool("JxrEncApp -i " + Quote(TempDir() / "fzjxr.tif") + " -o " + Quote(TempDir() / "fz.jxr") + " -c 9 -q 1"))
      f.emplace_back("jxr", ReadFile(TempDir() / "fz.jxr"));
  }
  return f;
}

TEST(WicBroken, SurvivesFlippedBytesAndTruncation) {
  for (const auto &[name, good] : Fixtures()) {
    ASSERT_GT(good.size(), 16u) << name;
    uint32_t r = 99;
    for (int round = 0; round < 40; ++round) {
      auto bad = good;
      for (int k = 0; k < 3; ++k) {
        r = r * 1103515245u + 12345u;
        bad[8 + (r >> 8) % (bad.size() - 8)] ^= uint8_t(1 + (r >> 3) % 255);  // keep the signature
      }
      Decoded d, t;
      if (Lib().read_wic(&d.D, bad.data(), bad.size())) {
        EXPECT_NE(d.D.Mem, nullptr) << name;
      }
      Lib().read_wic_thumbnail(&t.D, bad.data(), bad.size());
      TPixioWICInfo info{};
      Lib().read_wic_info2(&info, bad.data(), bad.size());
    }
    for (size_t cut : {size_t(12), good.size() / 4, good.size() - 1}) {
      Decoded d;
      Lib().read_wic(&d.D, good.data(), cut);
      TPixioWICInfo info{};
      Lib().read_wic_info2(&info, good.data(), cut);
    }
  }
}
}  // namespace
