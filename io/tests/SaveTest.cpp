// BMP, PNG and TIFF output read back with independent decoders, the palette
// search, thumbnails, the PNG optimiser hand-over, and what a failed or
// read-only save leaves behind.
#include "io/tests/SaveTestUtil.h"

#include "core/Errors.h"
#include "io/Pixio.h"
#include "core/PixelConvert.h"
#include "resample/Resize.h"
#include "core/TempFile.h"
#include "testutil/TestEnv.h"

#include <tiffio.h>

#include <sys/stat.h>

using namespace savetest;

namespace {

// Distinct colour number i as B, G, R samples.
uint32_t ColorSample(uint32_t I, uint32_t C) { return C == 0 ? (I * 37) & 0xFF : C == 1 ? (I * 11 + 3) & 0xFF : I >> 4; }

}  // namespace

// ---------------------------------------------------------------------------
// BMP

TEST_F(SaveTest, BitmapAlphaHeaders) {
  struct Case {
    int32_t HeaderType;
    uint32_t HeaderSize, Compression;
  } cases[] = {{0, 40, 0}, {1, 108, 3}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.HeaderType);
    Context.Formats.Bitmap.AlphaBitmapHeaderType = c.HeaderType;
    TImage img(5, 3, 4, BPP_8, [](uint32_t x, uint32_t y, uint32_t ch) { return ch == 3 ? 10 + x + 40 * y : x * 50 + ch * 7 + y; });
    const std::string out = Scratch.Path("alpha.bmp");
    SavePicture(img.Img, Entry, out, RInfo, 8, Context);
    const auto b = ReadFile(out);
    ASSERT_GE(b.size(), 14u + c.HeaderSize + 5 * 3 * 4);
    EXPECT_EQ(Read32LE(b, 14), c.HeaderSize);
    EXPECT_EQ(Read16LE(b, 28), 32);
    EXPECT_EQ(Read32LE(b, 30), c.Compression);
    const uint32_t off = Read32LE(b, 10);
    EXPECT_EQ(off, 14 + c.HeaderSize);
    EXPECT_EQ(Read32LE(b, 2), b.size());
    // First stored row is the bottom row of the picture; alpha is the fourth byte.
    for (uint32_t x = 0; x < 5; ++x)
      for (uint32_t ch = 0; ch < 4; ++ch) {
        const uint32_t want = ch == 3 ? 10 + x + 40 * 2 : x * 50 + ch * 7 + 2;
        EXPECT_EQ(b[off + 4 * x + ch], want);
      }
    if (c.HeaderType == 1) {
      EXPECT_EQ(Read32LE(b, 54), 0x00FF0000u);
      EXPECT_EQ(Read32LE(b, 66), 0xFF000000u);
      EXPECT_EQ(std::string(b.begin() + 70, b.begin() + 74), "BGRs");
      EXPECT_EQ(Read32LE(b, 110), 1u);
    }
  }
}

TEST_F(SaveTest, BitmapTrueColourRowsAndResolution) {
  struct Case {
    bool Keep;
    int32_t Dpi;
    uint32_t Ppm;
  } cases[] = {{true, 0, 2835}, {false, 300, 11811}};
  for (const Case &c : cases) {
    Context.Formats.Metadata.KeepResolution = c.Keep;
    if (c.Dpi) Context.Formats.Metadata.Resolution = c.Dpi;
    TImage img(7, 4, 3, BPP_14, [](uint32_t x, uint32_t y, uint32_t ch) { return (x * 900 + y * 2000 + ch * 64) % 16321; });
    const std::string out = Scratch.Path("rgb.bmp");
    SavePicture(img.Img, Entry, out, RInfo, 8, Context);
    const auto b = ReadFile(out);
    EXPECT_EQ(Read32LE(b, 38), c.Ppm);
    EXPECT_EQ(Read16LE(b, 28), 24);
    const uint32_t stride = (7 * 3 + 3) / 4 * 4;
    ASSERT_EQ(b.size(), 54u + stride * 4);
    for (uint32_t y = 0; y < 4; ++y)      // file rows bottom-up
      for (uint32_t x = 0; x < 7; ++x)
        for (uint32_t ch = 0; ch < 3; ++ch) {
          const uint32_t v14 = ((x * 900 + (3 - y) * 2000 + ch * 64) % 16321);
          EXPECT_EQ(b[54 + y * stride + x * 3 + ch], (v14 + 32) >> 6);
        }
  }
}

TEST_F(SaveTest, IndexedBitmapPacksAndFallsBack) {
  Context.Formats.Bitmap.IndexColor = 1;
  struct Case {
    uint32_t Colors;
    uint32_t Bits;  // 0: stays true colour
  } cases[] = {{2, 1}, {5, 4}, {200, 8}, {300, 0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Colors);
    const uint32_t w = 33, h = 10;
    auto colorAt = [&](uint32_t x, uint32_t y) { return (x + y * w) % c.Colors; };
    TImage img(w, h, 3, BPP_8, [&](uint32_t x, uint32_t y, uint32_t ch) { return ColorSample(colorAt(x, y), ch); });
    const std::string out = Scratch.Path("idx.bmp");
    SavePicture(img.Img, Entry, out, RInfo, 8, Context);
    const auto b = ReadFile(out);
    const uint32_t bits = Read16LE(b, 28);
    EXPECT_EQ(bits, c.Bits ? c.Bits : 24);
    const uint32_t off = Read32LE(b, 10);
    const uint32_t stride = (w * bits + 31) / 32 * 4;
    ASSERT_EQ(b.size(), off + stride * h);
    if (c.Bits) {
      EXPECT_EQ(Read32LE(b, 46), 1u << c.Bits);
    }
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) {
        const uint8_t *row = b.data() + off + (h - 1 - y) * stride;
        uint32_t bgr[3];
        if (c.Bits) {
          const uint32_t bit = x * bits;
          const uint32_t idx = (row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
          for (int ch = 0; ch < 3; ++ch) bgr[ch] = b[54 + 4 * idx + ch];
        } else {
          for (int ch = 0; ch < 3; ++ch) bgr[ch] = row[3 * x + ch];
        }
        for (uint32_t ch = 0; ch < 3; ++ch) ASSERT_EQ(bgr[ch], ColorSample(colorAt(x, y), ch)) << x << "," << y;
      }
  }
}

// ---------------------------------------------------------------------------
// Palette search

TEST_F(SaveTest, BuildPaletteLimitsAndPacking) {
  struct Case {
    uint32_t Channels, Colors;
    bool Keep8;
    bool Ok;
    uint32_t Bits;
  } cases[] = {{3, 2, false, true, 1},  {3, 16, false, true, 4}, {3, 17, false, true, 8}, {3, 256, false, true, 8},
               {3, 257, false, false, 0}, {3, 2, true, true, 8}, {1, 16, false, true, 4}, {1, 17, false, false, 0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.Channels << "ch " << c.Colors);
    const uint32_t w = 37, h = 9;
    TImage img(w, h, c.Channels, BPP_8,
               [&](uint32_t x, uint32_t y, uint32_t ch) { return c.Channels == 1 ? ((x + y * w) % c.Colors) * 3 : ColorSample((x + y * w) % c.Colors, ch); });
    const uint8_t first = ScanLine(img.Img, 0)[0];
    TPaletteInfo pal;
    EXPECT_EQ(BuildPalette(img.Img, c.Keep8, pal), c.Ok);
    if (!c.Ok) {
      EXPECT_EQ(img.Img.Channels, c.Channels);
      EXPECT_EQ(ScanLine(img.Img, 0)[0], first);
      continue;
    }
    EXPECT_EQ(pal.Count, c.Colors);
    EXPECT_EQ(pal.Bits, c.Bits);
    EXPECT_EQ(img.Img.Bpl, (w * c.Bits + 31) / 32 * 4);
    // Memory row 0 is the bottom picture row; its first pixel is colour number (h-1)*w.
    const uint32_t firstColor = ((h - 1) * w) % c.Colors;
    const uint32_t want = c.Channels == 1 ? firstColor * 3 * 0x010101u
                                          : ColorSample(firstColor, 2) << 16 | ColorSample(firstColor, 1) << 8 | ColorSample(firstColor, 0);
    EXPECT_EQ(pal.Colors[0], want);
    // Indexes, most significant bits first.
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) {
        const uint32_t bit = x * c.Bits;
        const uint32_t idx = (ScanLine(img.Img, y)[bit / 8] >> (8 - c.Bits - bit % 8)) & ((1u << c.Bits) - 1);
        const uint32_t n = (x + (h - 1 - y) * w) % c.Colors;
        const uint32_t col = c.Channels == 1 ? n * 3 * 0x010101u : ColorSample(n, 2) << 16 | ColorSample(n, 1) << 8 | ColorSample(n, 0);
        ASSERT_EQ(pal.Colors[idx], col);
      }
  }
}

// ---------------------------------------------------------------------------
// PNG

TEST_F(SaveTest, PNGIndexedOnlyUpTo256Colours) {
  Context.Formats.PNG.IndexColor = 1;
  for (uint32_t colors : {200u, 300u}) {
    SCOPED_TRACE(colors);
    const uint32_t w = 20, h = 20;
    TImage img(w, h, 3, BPP_8, [&](uint32_t x, uint32_t y, uint32_t ch) { return ColorSample((x + y * w) % colors, ch); });
    const std::string out = Scratch.Path("c.png");
    SavePicture(img.Img, Entry, out, RInfo, 8, Context);
    const auto png = ReadFile(out);
    const auto ihdr = PNGChunk(png, "IHDR");
    ASSERT_EQ(ihdr.size(), 13u);
    EXPECT_EQ(ihdr[9], colors <= 256 ? 3 : 2);  // colour type: palette or RGB
    TDecoded d;
    ASSERT_TRUE(DecodePNG(out, d, false));
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x)
        for (uint32_t ch = 0; ch < 3; ++ch) ASSERT_EQ(d.At(x, y, 2 - ch), ColorSample((x + y * w) % colors, ch));
  }
}

TEST_F(SaveTest, PNGTransparentColourBecomesIndexZero) {
  Context.Formats.PNG.IndexColor = 1;
  struct Case {
    int32_t Type;
    uint32_t X, Y;  // the pixel whose colour turns transparent (picture coordinates)
  } cases[] = {{1, 0, 0}, {2, 0, 3}, {3, 5, 0}, {4, 5, 3}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Type);
    Context.Formats.PNG.TransparentType = c.Type;
    // Every pixel has its own colour, so the corner is never first in memory order by chance.
    TImage img(6, 4, 3, BPP_8, [](uint32_t x, uint32_t y, uint32_t ch) { return ColorSample(x + 6 * y, ch); });
    const std::string out = Scratch.Path("t.png");
    SavePicture(img.Img, Entry, out, RInfo, 8, Context);
    const auto png = ReadFile(out);
    const auto plte = PNGChunk(png, "PLTE");
    const auto trns = PNGChunk(png, "tRNS");
    ASSERT_EQ(plte.size(), 24u * 3);
    const uint32_t n = c.X + 6 * c.Y;
    EXPECT_EQ(plte[0], ColorSample(n, 2));
    EXPECT_EQ(plte[1], ColorSample(n, 1));
    EXPECT_EQ(plte[2], ColorSample(n, 0));
    ASSERT_EQ(trns.size(), 1u);
    EXPECT_EQ(trns[0], 0);
    TDecoded d;
    ASSERT_TRUE(DecodePNG(out, d, false));
    ASSERT_EQ(d.Channels, 4u);
    for (uint32_t y = 0; y < 4; ++y)
      for (uint32_t x = 0; x < 6; ++x) {
        EXPECT_EQ(d.At(x, y, 3), x == c.X && y == c.Y ? 0u : 255u);
        for (uint32_t ch = 0; ch < 3; ++ch) EXPECT_EQ(d.At(x, y, 2 - ch), ColorSample(x + 6 * y, ch));
      }
  }
}

TEST_F(SaveTest, PNGDepthsAndGrayAlpha) {
  struct Case {
    const char *Name;
    uint32_t Channels, BPP;
    bool GrayAlpha;
    int32_t Is16Bit;
    uint32_t Loaded;
    uint32_t FileBits, FileColorType;
  } cases[] = {
      {"14-bit kept as 16", 3, BPP_14, false, 1, 8, 16, 2},
      {"14-bit, 16 only for 16-bit sources, 8-bit source", 3, BPP_14, false, 2, 8, 8, 2},
      {"14-bit, 16-bit source", 3, BPP_14, false, 2, 16, 16, 2},
      {"16-bit off", 4, BPP_16, false, 0, 16, 8, 6},
      {"gray+alpha widened at load", 4, BPP_8, true, 0, 8, 8, 4},
      {"gray 16", 1, BPP_16, false, 1, 16, 16, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    Context.Formats.PNG.Is16Bit = c.Is16Bit;
    Context.Formats.PNG.IndexColor = 0;
    auto fill = [&](uint32_t x, uint32_t y, uint32_t ch) -> uint32_t {
      if (c.GrayAlpha) return ch == 3 ? 255 - x * 9 : x * 13 + y;  // B = G = R
      const uint32_t full = c.BPP == BPP_14 ? 16320 : c.BPP == BPP_16 ? 65535 : 255;
      return (x * 1237 + y * 4099 + ch * 777) % (full + 1);
    };
    TImage img(9, 5, c.Channels, c.BPP, fill);
    img.Img.IsGrayAlpha = c.GrayAlpha ? LongTrue : LongFalse;
    const std::string out = Scratch.Path("d.png");
    SavePicture(img.Img, Entry, out, RInfo, c.Loaded, Context);
    const auto ihdr = PNGChunk(ReadFile(out), "IHDR");
    ASSERT_EQ(ihdr.size(), 13u);
    EXPECT_EQ(ihdr[8], c.FileBits);
    EXPECT_EQ(ihdr[9], c.FileColorType);
    TDecoded d;
    ASSERT_TRUE(DecodePNG(out, d, c.FileBits == 16));
    for (uint32_t y = 0; y < 5; ++y)
      for (uint32_t x = 0; x < 9; ++x) {
        if (c.GrayAlpha) {
          ASSERT_EQ(d.Channels, 2u);
          EXPECT_EQ(d.At(x, y, 0), x * 13 + y);
          EXPECT_EQ(d.At(x, y, 1), 255 - x * 9);
          continue;
        }
        for (uint32_t ch = 0; ch < c.Channels; ++ch) {
          const uint32_t v = fill(x, y, ch);
          uint32_t want;
          if (c.FileBits == 16) want = c.BPP == BPP_14 ? v * 4 + ((v + 32) >> 6) : v;  // v * 65535 / 16320, rounded
          else want = c.BPP == BPP_14 ? (v + 32) >> 6 : (v * 255 + 32895) >> 16;
          // The file holds red first; the image blue first.
          const uint32_t fileCh = c.Channels >= 3 && ch < 3 ? 2 - ch : ch;
          ASSERT_EQ(d.At(x, y, fileCh), want) << x << "," << y << "," << ch;
        }
      }
  }
}

TEST_F(SaveTest, PNGOptimiserMissingOrPresent) {
  Context.Formats.PNG.UsePNGOUT = 1;
  Context.Formats.PNG.IndexColor = 1;
  TImage img(16, 16, 3, BPP_8, [](uint32_t x, uint32_t y, uint32_t ch) { return ColorSample((x / 4 + y / 4) % 7, ch); });
  TImage copy(16, 16, 3, BPP_8, [](uint32_t x, uint32_t y, uint32_t ch) { return ColorSample((x / 4 + y / 4) % 7, ch); });
  // A missing tool leaves the PNG as the library wrote it.
  const std::string out = Scratch.Path("o.png");
  SavePicture(img.Img, Entry, out, RInfo, 8, Context);
  TDecoded d;
  ASSERT_TRUE(DecodePNG(out, d, false));
  EXPECT_EQ(Scratch.Names(), std::vector<std::string>{"o.png"});
  EXPECT_FALSE(OptimizePNG(out, Context));
  const std::string tool = std::string(TESSIVO_BIN_DIR) + "/pngout";
  TESSIVO_REQUIRE(access(tool.c_str(), X_OK) == 0) << "bin/pngout is not built";
  Context.PNGOutPath = tool;
  const std::string out2 = Scratch.Path("o2.png");
  SavePicture(copy.Img, Entry, out2, RInfo, 8, Context);
  TDecoded d2;
  ASSERT_TRUE(DecodePNG(out2, d2, false));
  EXPECT_EQ(d2.Samples, d.Samples);
  EXPECT_EQ(Scratch.Names(), (std::vector<std::string>{"o.png", "o2.png"}));
}

TEST_F(SaveTest, PNGOutArgumentVector) {
  struct Case {
    int32_t Max, PHYs;
    bool Icc;
    std::vector<std::string> Options;
  } cases[] = {{0, 0, false, {"-s1", "-y"}},
               {1, 0, false, {"-s0", "-y"}},
               {0, 1, true, {"-s1", "-y", "-kpHYs,iCCP"}},
               {0, 1, false, {"-s1", "-y", "-kpHYs"}},
               {1, 0, true, {"-s0", "-y", "-kiCCP"}}};
  for (const Case &c : cases) {
    Context.Formats.PNG.MaximumOptimization = c.Max;
    Context.Formats.PNG.WritepHYsChunk = c.PHYs;
    Context.Formats.Metadata.KeepICCProfile = c.Icc;
    std::vector<std::string> want{"a b\".png", "a b\".png"};
    want.insert(want.end(), c.Options.begin(), c.Options.end());
    EXPECT_EQ(PNGOutArguments("a b\".png", Context.Formats), want);
  }
}

// ---------------------------------------------------------------------------
// TIFF

TEST_F(SaveTest, TIFFPlainIndexedAndDeep) {
  struct Case {
    const char *Name;
    uint32_t Channels, BPP, Colors;
    int32_t Index, Compression, Is16Bit;
    uint32_t Loaded;
  } cases[] = {
      {"8-bit RGB, LZW", 3, BPP_8, 0, 0, 1, 2, 8},
      {"8-bit RGB, ZIP, indexed 5 colours", 3, BPP_8, 5, 1, 2, 2, 8},
      {"8-bit RGBA, differencing", 4, BPP_8, 0, 1, 3, 2, 8},
      {"16-bit RGB kept", 3, BPP_16, 0, 1, 0, 2, 16},
      {"gray 8", 1, BPP_8, 0, 1, 1, 2, 8},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    Context.Formats.TIFF.IndexColor = c.Index;
    Context.Formats.TIFF.CompressionMethod = c.Compression;
    Context.Formats.TIFF.Is16Bit = c.Is16Bit;
    auto fill = [&](uint32_t x, uint32_t y, uint32_t ch) -> uint32_t {
      if (c.Colors) return ColorSample((x + 3 * y) % c.Colors, ch);
      return c.BPP == BPP_16 ? (x * 2311 + y * 911 + ch * 20000) & 0xFFFF : (x * 23 + y * 9 + ch * 70) & 0xFF;
    };
    TImage img(300, 7, c.Channels, c.BPP, fill);
    const std::string out = Scratch.Path("t.tif");
    SavePicture(img.Img, Entry, out, RInfo, c.Loaded, Context);
    TIFFSetErrorHandler(nullptr);
    TIFF *t = TIFFOpen(out.c_str(), "r");
    ASSERT_NE(t, nullptr);
    uint16_t photo = 0, comp = 0;
    TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photo);
    TIFFGetField(t, TIFFTAG_COMPRESSION, &comp);
    EXPECT_EQ(photo == PHOTOMETRIC_PALETTE, c.Colors != 0);
    const uint16_t wantComp[] = {1, 5, 8, 5};  // LZW is 5, deflate 8 on disk
    EXPECT_EQ(comp, wantComp[c.Compression]);
    EXPECT_EQ(TIFFNumberOfDirectories(t), 2);  // the page and its thumbnail
    TIFFClose(t);
    TDecoded d;
    ASSERT_TRUE(DecodeTIFF(out, d));
    ASSERT_EQ(d.Width, 300u);
    for (uint32_t y = 0; y < 7; ++y)
      for (uint32_t x = 0; x < 300; ++x)
        for (uint32_t ch = 0; ch < c.Channels; ++ch) {
          const uint32_t fileCh = c.Channels >= 3 && ch < 3 ? 2 - ch : ch;
          ASSERT_EQ(d.At(x, y, fileCh), fill(x, y, ch)) << x << "," << y << "," << ch;
        }
  }
}

TEST_F(SaveTest, TIFFForToolIsUncompressedRedFirst) {
  TImage img(11, 3, 3, BPP_14, [](uint32_t x, uint32_t y, uint32_t ch) { return x * 1000 + y * 300 + ch; });
  const std::string out = Scratch.Path("tool.tif");
  SaveTIFFForTool(out, img.Img, Context.Formats.Metadata);
  TDecoded d;
  ASSERT_TRUE(DecodeTIFF(out, d));
  ASSERT_EQ(d.Bits, 16u);
  // The caller hands top-down rows, so memory row 0 is file row 0.
  for (uint32_t y = 0; y < 3; ++y)
    for (uint32_t x = 0; x < 11; ++x)
      for (uint32_t ch = 0; ch < 3; ++ch) {
        const uint32_t v = x * 1000 + (2 - y) * 300 + ch;
        EXPECT_EQ(d.At(x, y, 2 - ch), v * 4 + ((v + 32) >> 6));  // v * 65535 / 16320, rounded
      }
}

// ---------------------------------------------------------------------------
// Thumbnail

TEST_F(SaveTest, ThumbnailSizes) {
  struct Case {
    uint32_t W, H, TW, TH;
  } cases[] = {{400, 100, 160, 40}, {100, 400, 40, 160}, {100, 50, 100, 50}, {161, 161, 160, 160}, {1000, 3, 160, 1}};
  CreateProgramResizers(1);
  for (TResizer *resizer : {static_cast<TResizer *>(nullptr), ThumbnailResizer}) {
    for (const Case &c : cases) {
      SCOPED_TRACE(testing::Message() << c.W << "x" << c.H << (resizer ? " resizer" : " box"));
      TImage img(c.W, c.H, 4, BPP_14, [](uint32_t, uint32_t, uint32_t ch) { return ch * 4000; });
      TICCImgInfo t{};
      MakeThumbnailImage(img.Img, t, resizer, nullptr);
      EXPECT_EQ(t.Width, c.TW);
      EXPECT_EQ(t.Height, c.TH);
      EXPECT_EQ(t.BPP, BPP_8);
      EXPECT_EQ(t.PixelFormat, PIXFMT_BGRA);
      ASSERT_NE(t.Mem, nullptr);
      EXPECT_NEAR(ScanLine(t, 0)[2], (8000 + 32) >> 6, 1);
      FreeICCImgInfo(t, false);
    }
  }
  FreeProgramResizers();
}

// ---------------------------------------------------------------------------
// What a failed or read-only save leaves

TEST_F(SaveTest, FailedSaveKeepsPreviousOutput) {
  // The codec library refuses pictures wider than 2^20 pixels (JPEG even less).
  for (const char *name : {"big.png", "big.jpg", "big.tif", "big.jxr"}) {
    SCOPED_TRACE(name);
    const std::string out = Scratch.Path(name);
    const std::vector<uint8_t> previous{'o', 'l', 'd'};
    WriteFile(out, previous);
    TImage img((1u << 20) + 1, 1, 1, BPP_8, [](uint32_t x, uint32_t, uint32_t) { return x & 0xFF; });
    EXPECT_THROW(SavePicture(img.Img, Entry, out, RInfo, 8, Context), ETessivoError);
    EXPECT_EQ(ReadFile(out), previous);
    EXPECT_EQ(Scratch.Names(), std::vector<std::string>{name});
    std::filesystem::remove(out);
  }
}

TEST_F(SaveTest, LongOutputNameStillHasRoomForItsTemporaryFile) {
  // 250 bytes of name: the temporary ".name.XXXXXX.png" would not fit unshortened.
  std::string name;
  while (name.size() < 246) name += "\xE5\x86\x99";  // a three-byte character
  name += ".png";
  ASSERT_LE(name.size(), 255u);
  const std::string out = Scratch.Path(name);
  TImage img(4, 4, 3, BPP_8, [](uint32_t x, uint32_t y, uint32_t ch) { return x * 40 + y + ch; });
  SavePicture(img.Img, Entry, out, RInfo, 8, Context);
  TDecoded d;
  EXPECT_TRUE(DecodePNG(out, d, false));
  EXPECT_EQ(Scratch.Names(), std::vector<std::string>{name});
}

TEST_F(SaveTest, ReadOnlyOutputIsReplacedAndStaysReadOnly) {
  const std::string out = Scratch.Path("ro.bmp");
  WriteFile(out, {'o', 'l', 'd'});
  ASSERT_EQ(chmod(out.c_str(), 0444), 0);
  TImage img(4, 4, 3, BPP_8, [](uint32_t x, uint32_t y, uint32_t ch) { return x + y + ch; });
  SavePicture(img.Img, Entry, out, RInfo, 8, Context);
  const auto b = ReadFile(out);
  ASSERT_GE(b.size(), 2u);
  EXPECT_EQ(b[0], 'B');
  struct stat st;
  ASSERT_EQ(stat(out.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0444u);
  EXPECT_EQ(Scratch.Names(), std::vector<std::string>{"ro.bmp"});
}

TEST_F(SaveTest, OutputTypesAndResolutionRules) {
  struct TypeCase {
    const char *Name;
    int32_t Type;
  } types[] = {{"a.BMP", 1}, {"a.jpeg", 2}, {"a.Jpg", 2}, {"a.png", 3}, {"a.wdp", 4}, {"a.HDP", 4},
               {"a.jxr", 4}, {"a.tif", 5},  {"a.TIFF", 5}, {"a.gif", 0}, {"noext", 0}};
  for (const TypeCase &c : types) EXPECT_EQ(OutputTypeOf(c.Name), c.Type) << c.Name;
  struct ResCase {
    TResolutionInfo R;
    int32_t Dx, Dy, Px, Py;
  } res[] = {{{300, 150, 1}, 300, 150, 11811, 5906},
             {{100, 100, 2}, 254, 254, 10000, 10000},
             {{3937, 3937, 3}, 100, 100, 3937, 3937},
             {{72, 72, 0}, 1, 1, 0, 0}};
  for (const ResCase &c : res) {
    int32_t x, y;
    ResolutionToDPI(c.R, x, y);
    EXPECT_EQ(x, c.Dx);
    EXPECT_EQ(y, c.Dy);
    ResolutionToPPM(c.R, x, y);
    EXPECT_EQ(x, c.Px);
    EXPECT_EQ(y, c.Py);
  }
  EXPECT_EQ(DPIToPPM(72), 2835);
  EXPECT_EQ(DPIToPPM(96), 3780);
}

// ---------------------------------------------------------------------------
// JPEG XR

TEST_F(SaveTest, HDPhotoLosslessRoundTrip) {
  Context.Formats.HDP.Quality = 1;  // stored value 1: lossless
  for (uint32_t channels : {3u, 4u}) {
    SCOPED_TRACE(channels);
    auto fill = [](uint32_t x, uint32_t y, uint32_t c) { return (x * 7 + y * 13 + c * 50) & 0xFF; };
    TImage img(40, 30, channels, BPP_8, fill);
    const std::string out = Scratch.Path("x.jxr");
    SavePicture(img.Img, Entry, out, RInfo, 8, Context);
    const auto bytes = ReadFile(out);
    TPixioDecode d{};
    ASSERT_NE(Pixio()->read_wic(&d, bytes.data(), bytes.size()), 0);
    EXPECT_EQ(d.Width, 40u);
    EXPECT_EQ(d.Height, 30u);
    ASSERT_EQ(d.Channels, channels);
    ASSERT_EQ(d.BitsPerSample, 8u);
    // read_wic delivers top-down rows, blue first.
    for (uint32_t y = 0; y < 30; ++y)
      for (uint32_t x = 0; x < 40; ++x)
        for (uint32_t c = 0; c < channels; ++c) ASSERT_EQ(d.Mem[size_t(y) * d.Bpl + x * channels + c], fill(x, y, c));
    PageFree(d.Mem);
    if (d.ICCProfile) PageFree(d.ICCProfile);
  }
}

TEST_F(SaveTest, PNGBackgroundPhysAndReductionResults) {
  struct Case {
    const char *Name;
    uint32_t Channels;
    bool DecreaseColor, GrayDecrease, KeepResolution;
    TResolutionInfo R;
    uint8_t ColorType;
    uint32_t PhysX;
    uint8_t PhysUnit;
  } cases[] = {
      {"reduced colour without IndexColor", 3, true, false, true, {72, 72, 1}, 3, 2835, 1},
      {"gray levels", 1, false, true, true, {0, 0, 0}, 3, 1, 0},
      {"gray plain, configured dpi", 1, false, false, false, {72, 72, 1}, 0, 3937, 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    SetUp();
    Context.Formats.PNG.IndexColor = 0;
    Context.Formats.PNG.WritepHYsChunk = 1;
    Context.Formats.Metadata.KeepResolution = c.KeepResolution;
    Context.Formats.Metadata.Resolution = 100;
    Context.DecreaseColor = c.DecreaseColor;
    Context.GrayscaleDecreaseColor = c.GrayDecrease;
    Context.Formats.Background = 0x0000FF;  // red, COLORREF
    TImage img(12, 6, c.Channels, BPP_8, [](uint32_t x, uint32_t, uint32_t ch) { return (x % 4) * 60 + ch; });
    const std::string out = Scratch.Path("b.png");
    SavePicture(img.Img, Entry, out, c.R, 8, Context);
    const auto png = ReadFile(out);
    EXPECT_EQ(PNGChunk(png, "IHDR")[9], c.ColorType);
    const auto phys = PNGChunk(png, "pHYs");
    ASSERT_EQ(phys.size(), 9u);
    EXPECT_EQ(uint32_t(phys[0]) << 24 | uint32_t(phys[1]) << 16 | uint32_t(phys[2]) << 8 | phys[3], c.PhysX);
    EXPECT_EQ(phys[8], c.PhysUnit);
    const auto bkgd = PNGChunk(png, "bKGD");
    if (c.ColorType == 0) {
      ASSERT_EQ(bkgd.size(), 2u);
      EXPECT_EQ(bkgd[1], 76);  // the gray value of pure red
    } else {
      EXPECT_EQ(bkgd.size(), 1u);  // a palette index
    }
    EXPECT_TRUE(PNGChunk(png, "iCCP").empty());
    TDecoded d;
    ASSERT_TRUE(DecodePNG(out, d, false));
    for (uint32_t x = 0; x < 12; ++x)
      for (uint32_t ch = 0; ch < c.Channels; ++ch) EXPECT_EQ(d.At(x, 3, c.Channels == 3 ? 2 - ch : ch), (x % 4) * 60 + ch);
  }
}
