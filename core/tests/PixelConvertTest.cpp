#include "core/Errors.h"
#include "core/PixelConvert.h"
#include "core/PixelConvertKernels.h"
#include "core/PixelConvertMT.h"
#include "core/MultiThread.h"
#include "core/SFMT.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <span>
#include <string>
#include <vector>

namespace {

// ---- fixtures ----

uint32_t BytesOf(uint32_t BPP) { return BPP == 8 ? 1 : 2; }

// Owns a record made with the stride rule; released with its block.
struct TImage {
  TICCImgInfo I{};
  TImage() = default;
  TImage(uint32_t W, uint32_t H, uint32_t Ch, uint32_t BPP, uint32_t Fmt = 0) {
    I.Width = W, I.Height = H, I.Channels = Ch, I.BPP = BPP;
    I.PixelFormat = Fmt ? Fmt : (Ch == 1 ? PIXFMT_GRAY : Ch == 2 ? PIXFMT_GRAYALPHA : Ch == 3 ? PIXFMT_BGR : PIXFMT_BGRA);
    I.Bpl = BPP == 8 ? GetAlignedBpl(W, Ch) : GetAlignedBpl16(W, Ch);
    I.Mem = AllocPixelBlock(I.Bpl, H);
  }
  TImage(const TImage &Other) { CopyICCImgInfo(Other.I, I, false); }
  TImage &operator=(const TImage &) = delete;
  ~TImage() { FreeICCImgInfo(I, false); }

  int32_t Get(uint32_t X, uint32_t MemRow, uint32_t C = 0) const {
    const uint8_t *row = ScanLine(I, MemRow);
    const size_t i = size_t(X) * I.Channels + C;
    if (I.BPP == 8) return row[i];
    if (I.BPP == 16) return reinterpret_cast<const uint16_t *>(row)[i];
    return reinterpret_cast<const int16_t *>(row)[i];
  }
  void Set(uint32_t X, uint32_t MemRow, uint32_t C, int32_t V) {
    uint8_t *row = ScanLine(I, MemRow);
    const size_t i = size_t(X) * I.Channels + C;
    if (I.BPP == 8)
      row[i] = uint8_t(V);
    else
      reinterpret_cast<uint16_t *>(row)[i] = uint16_t(V);
  }
  void Fill(int32_t V) {
    for (uint32_t y = 0; y < I.Height; ++y)
      for (uint32_t x = 0; x < I.Width; ++x)
        for (uint32_t c = 0; c < I.Channels; ++c) Set(x, y, c, V);
  }
  void FillRandom(std::mt19937 &Rng, int32_t Lo, int32_t Hi) {
    std::uniform_int_distribution<int32_t> d(Lo, Hi);
    for (uint32_t y = 0; y < I.Height; ++y)
      for (uint32_t x = 0; x < I.Width; ++x)
        for (uint32_t c = 0; c < I.Channels; ++c) Set(x, y, c, d(Rng));
  }
  // Bytes of the pixels, without the row padding.
  std::vector<uint8_t> Pixels() const {
    std::vector<uint8_t> out;
    const size_t n = size_t(I.Width) * I.Channels * BytesOf(I.BPP);
    for (uint32_t y = 0; y < I.Height; ++y) out.insert(out.end(), ScanLine(I, y), ScanLine(I, y) + n);
    return out;
  }
};

// A one-pixel image holding the given samples.
TImage Pixel(uint32_t BPP, std::vector<int32_t> Samples, uint32_t Fmt = 0) {
  TImage img(1, 1, uint32_t(Samples.size()), BPP, Fmt);
  for (uint32_t c = 0; c < Samples.size(); ++c) img.Set(0, 0, c, Samples[c]);
  return img;
}

std::vector<int32_t> Samples(const TImage &Img) {
  std::vector<int32_t> s;
  for (uint32_t c = 0; c < Img.I.Channels; ++c) s.push_back(Img.Get(0, 0, c));
  return s;
}

std::vector<TPixelPath> Paths() {
  std::vector<TPixelPath> p{TPixelPath::Plain};
  for (TPixelPath v : {TPixelPath::SSE2, TPixelPath::AVX2})
    if (PixelPathAvailable(v)) p.push_back(v);
  return p;
}

const char *PathName(TPixelPath P) {
  return P == TPixelPath::Plain ? "plain" : P == TPixelPath::SSE2 ? "sse2" : "avx2";
}

// ---- vector kernels against the plain ones ----

using TConversion = void (*)(TICCImgInfo &);

struct TKernelCase {
  const char *Name;
  uint32_t Channels, BPP, PixelFormat;
  int32_t Lo, Hi;  // sample range of the random input
  TConversion Run;  // leaves the result in the record
};

void TakeAlpha(TICCImgInfo &Img) {
  TICCImgInfo a;
  ExtractAlpha14(Img, a);
  FreeICCImgInfo(Img, false);
  Img = a;
}

void TakeLuma(TICCImgInfo &Img) {
  TICCImgInfo l;
  MakeLumaImage(Img, l);
  FreeICCImgInfo(Img, false);
  Img = l;
}

// Restores an inverted alpha so that every written sample changes.
void InvertAlpha(TICCImgInfo &Img) {
  TICCImgInfo a;
  ExtractAlpha14(Img, a);
  for (uint32_t y = 0; y < a.Height; ++y)
    for (uint32_t x = 0; x < a.Width; ++x) {
      int16_t &v = reinterpret_cast<int16_t *>(ScanLine(a, y))[x];
      v = int16_t(16320 - v);
    }
  RestoreAlpha14(Img, a);
}

void FlattenOverColour(TICCImgInfo &Img) { FlattenAlpha(Img, 0x3C7FA0); }

void FlattenGrayAlpha4(TICCImgInfo &Img) {
  Img.IsGrayAlpha = LongTrue;
  FlattenAlpha(Img, 0x3C7FA0);
}

constexpr int32_t S16Lo = -32768, S16Hi = 32767;

// Tables of the one-pass luminance stage with entries over the whole 16-bit
// range, so that sign handling and the wrap-around of the chroma offset show.
struct TStageTables {
  std::vector<int16_t> Luma, Chroma, RGB;
};
const TStageTables &StageTables() {
  static const TStageTables t = [] {
    std::mt19937 rng(1729);
    std::uniform_int_distribution<int32_t> d(S16Lo, S16Hi);
    TStageTables s{std::vector<int16_t>(LUT14_ENTRIES), std::vector<int16_t>(LUT14_ENTRIES),
                   std::vector<int16_t>(LUT14_SIZE)};
    for (std::vector<int16_t> *v : {&s.Luma, &s.Chroma, &s.RGB})
      for (int16_t &e : *v) e = int16_t(d(rng));
    return s;
  }();
  return t;
}
void StagesLuma(TICCImgInfo &Img) { ApplyYCCStages(Img, {StageTables().Luma, {}, {}}, nullptr); }
void StagesLumaChroma(TICCImgInfo &Img) { ApplyYCCStages(Img, {StageTables().Luma, StageTables().Chroma, {}}, nullptr); }
void StagesLumaRGB(TICCImgInfo &Img) { ApplyYCCStages(Img, {StageTables().Luma, {}, StageTables().RGB}, nullptr); }
void StagesAll(TICCImgInfo &Img) {
  ApplyYCCStages(Img, {StageTables().Luma, StageTables().Chroma, StageTables().RGB}, nullptr);
}

const TKernelCase kKernelCases[] = {
    {"16To14", 3, 16, 0, 0, 65535, Convert16To14},
    {"14To16", 4, 14, 0, -2000, 18000, Convert14To16},
    {"16To8", 3, 16, 0, 0, 65535, Convert16To8},
    {"14To8", 1, 14, 0, -2000, 18000, Convert14To8},
    {"SwapRedBlue16/3", 3, 16, 0, 0, 65535, SwapRedBlue16},
    {"SwapRedBlue16/4", 4, 14, 0, S16Lo, S16Hi, SwapRedBlue16},
    {"SwapRedBlue32", 4, 8, 0, 0, 255, SwapRedBlue32},
    {"ExpandGrayAlpha8", 2, 8, 0, 0, 255, ExpandGrayAlpha},
    {"ExpandGrayAlpha16", 2, 16, 0, 0, 65535, ExpandGrayAlpha},
    {"NarrowToGrayAlpha8", 4, 8, 0, 0, 255, NarrowToGrayAlpha},
    {"NarrowToGrayAlpha16", 4, 16, 0, 0, 65535, NarrowToGrayAlpha},
    {"ExtractAlpha8/2", 2, 8, 0, 0, 255, TakeAlpha},
    {"ExtractAlpha8/4", 4, 8, 0, 0, 255, TakeAlpha},
    {"ExtractAlpha14/2", 2, 14, 0, S16Lo, S16Hi, TakeAlpha},
    {"ExtractAlpha14/4", 4, 14, 0, S16Lo, S16Hi, TakeAlpha},
    {"RestoreAlpha14/2", 2, 14, 0, 0, 16320, InvertAlpha},
    {"RestoreAlpha14/4", 4, 14, 0, 0, 16320, InvertAlpha},
    {"Flatten8/BGRA", 4, 8, 0, 0, 255, FlattenOverColour},
    {"Flatten8/GrayAlpha", 2, 8, 0, 0, 255, FlattenOverColour},
    {"Flatten8/IsGrayAlpha", 4, 8, 0, 0, 255, FlattenGrayAlpha4},
    {"Flatten14/BGRA", 4, 14, 0, -500, 16800, FlattenOverColour},
    {"Flatten14/GrayAlpha", 2, 14, 0, -500, 16800, FlattenOverColour},
    {"Flatten16/BGRA", 4, 16, 0, 0, 65535, FlattenOverColour},
    {"Luma8/3", 3, 8, 0, 0, 255, TakeLuma},
    {"Luma8/4", 4, 8, 0, 0, 255, TakeLuma},
    {"Luma14/3", 3, 14, 0, S16Lo, S16Hi, TakeLuma},
    {"Luma14/4", 4, 14, 0, -1000, 17000, TakeLuma},
    {"ToYCC14/8-3", 3, 8, 0, 0, 255, ConvertToYCC14},
    {"ToYCC14/8-4", 4, 8, 0, 0, 255, ConvertToYCC14},
    {"ToYCC14/14-3", 3, 14, 0, S16Lo, S16Hi, ConvertToYCC14},
    {"ToYCC14/14-4", 4, 14, 0, -1000, 17000, ConvertToYCC14},
    {"FromYCC14/3", 3, 14, 0, S16Lo, S16Hi, ConvertFromYCC14},
    {"FromYCC14/4", 4, 14, 0, -9000, 17000, ConvertFromYCC14},
    {"BGR14ToYCC8", 3, 14, 0, S16Lo, S16Hi, ConvertBGR14ToYCC8},
    {"BGR14ToYCC8/range", 3, 14, 0, -200, 16500, ConvertBGR14ToYCC8},
    {"Channel0To14/1", 1, 16, 0, 0, 65535, Channel0To14},
    {"Channel0To14/3", 3, 16, 0, 0, 65535, Channel0To14},
    {"Channel0From14/1", 1, 14, 0, 0, 16384, Channel0From14},
    {"Channel0From14/3", 3, 14, 0, S16Lo, S16Hi, Channel0From14},
    {"YCCStages/8-3/luma", 3, 8, 0, 0, 255, StagesLuma},
    {"YCCStages/8-3/luma+chroma", 3, 8, 0, 0, 255, StagesLumaChroma},
    {"YCCStages/8-3/luma+RGB", 3, 8, 0, 0, 255, StagesLumaRGB},
    {"YCCStages/8-3/all", 3, 8, 0, 0, 255, StagesAll},
    {"YCCStages/8-4/luma", 4, 8, 0, 0, 255, StagesLuma},
    {"YCCStages/8-4/all", 4, 8, 0, 0, 255, StagesAll},
    {"YCCStages/14-3/luma", 3, 14, 0, S16Lo, S16Hi, StagesLuma},
    {"YCCStages/14-3/luma+chroma", 3, 14, 0, S16Lo, S16Hi, StagesLumaChroma},
    {"YCCStages/14-3/luma+RGB", 3, 14, 0, S16Lo, S16Hi, StagesLumaRGB},
    {"YCCStages/14-3/all", 3, 14, 0, S16Lo, S16Hi, StagesAll},
    {"YCCStages/14-4/luma+chroma", 4, 14, 0, S16Lo, S16Hi, StagesLumaChroma},
    {"YCCStages/14-4/all", 4, 14, 0, -1000, 17000, StagesAll},
};

void ExpectSameResult(const TImage &A, const TImage &B, const std::string &What) {
  ASSERT_EQ(A.I.Width, B.I.Width) << What;
  ASSERT_EQ(A.I.Height, B.I.Height) << What;
  ASSERT_EQ(A.I.Channels, B.I.Channels) << What;
  ASSERT_EQ(A.I.BPP, B.I.BPP) << What;
  ASSERT_EQ(A.I.Bpl, B.I.Bpl) << What;
  ASSERT_EQ(A.I.PixelFormat, B.I.PixelFormat) << What;
  const auto pa = A.Pixels(), pb = B.Pixels();
  const auto diff = std::mismatch(pa.begin(), pa.end(), pb.begin());
  ASSERT_TRUE(diff.first == pa.end()) << What << ": first difference at byte " << (diff.first - pa.begin());
}

TEST(PixelConvert, VectorKernelsMatchPlainKernels) {
  std::mt19937 rng(20240607);
  std::uniform_int_distribution<uint32_t> width(1, 300);
  const uint32_t heights[] = {1, 2, 3, 5, 6};
  for (const TKernelCase &c : kKernelCases)
    for (TPixelPath path : Paths()) {
      if (path == TPixelPath::Plain) continue;
      for (int round = 0; round < 10; ++round) {
        const uint32_t w = round < 8 ? width(rng) : (round == 8 ? 1 : 8), h = heights[round % 5];
        TImage plain(w, h, c.Channels, c.BPP, c.PixelFormat);
        plain.FillRandom(rng, c.Lo, c.Hi);
        TImage vec(plain);
        {
          TPixelPathScope scope(TPixelPath::Plain);
          c.Run(plain.I);
        }
        {
          TPixelPathScope scope(path);
          c.Run(vec.I);
        }
        ExpectSameResult(plain, vec, std::string(c.Name) + " " + PathName(path) + " " + std::to_string(w) + "x" +
                                         std::to_string(h));
      }
    }
}

// A buffer with a tight stride (as a codec may deliver) must not be walked past
// its rows; it lives on the heap so that the address sanitizer sees overruns.
TEST(PixelConvert, TightStrideTakesThePlainPath) {
  const struct {
    const char *Name;
    uint32_t Channels, BPP;
    TConversion Run;
  } cases[] = {
      {"16To14", 3, 16, Convert16To14},
      {"SwapRedBlue16", 3, 16, SwapRedBlue16},
      {"FromYCC14", 4, 14, ConvertFromYCC14},
      {"Channel0From14", 3, 14, Channel0From14},
  };
  std::mt19937 rng(7);
  for (const auto &c : cases) {
    const uint32_t w = 13, h = 3, bpl = w * c.Channels * 2;
    TImage ref(w, h, c.Channels, c.BPP);
    ref.FillRandom(rng, 0, 16320);
    std::vector<uint8_t> heap(size_t(bpl) * h);
    for (uint32_t y = 0; y < h; ++y) std::memcpy(heap.data() + size_t(y) * bpl, ScanLine(ref.I, y), bpl);
    TICCImgInfo tight = ref.I;
    tight.Mem = heap.data();
    tight.Bpl = bpl;
    c.Run(tight);
    c.Run(ref.I);
    const auto expected = ref.Pixels();
    EXPECT_TRUE(std::equal(heap.begin(), heap.end(), expected.begin())) << c.Name;
  }
}

TEST(PixelConvert, StrideShorterThanARowIsRefused) {
  TImage img(10, 2, 3, 14);
  TICCImgInfo bad = img.I;
  bad.Bpl = 10;
  EXPECT_THROW(ConvertFromYCC14(bad), ETessivoError);
}

// ---- depth conversions ----

TEST(PixelConvert, DepthEdgeValues) {
  const struct {
    const char *Name;
    TConversion Run;
    uint32_t BPP;
    int32_t In, Out;
  } cases[] = {
      {"16To14", Convert16To14, 16, 65535, 16320}, {"16To14", Convert16To14, 16, 65534, 16320},
      {"16To14", Convert16To14, 16, 65531, 16319}, {"16To14", Convert16To14, 16, 4, 1},
      {"16To14", Convert16To14, 16, 2, 0},         {"16To14", Convert16To14, 16, 4660, 1160},
      {"14To16", Convert14To16, 14, 16320, 65535}, {"14To16", Convert14To16, 14, 64, 257},
      {"14To16", Convert14To16, 14, 32, 129},      {"14To16", Convert14To16, 14, 31, 124},
      {"14To16", Convert14To16, 14, 0, 0},         {"14To16", Convert14To16, 14, -5, 0},
      {"14To16", Convert14To16, 14, 20000, 65535}, {"16To8", Convert16To8, 16, 65535, 255},
      {"16To8", Convert16To8, 16, 128, 0},         {"16To8", Convert16To8, 16, 129, 1},
      {"14To8", Convert14To8, 14, 16320, 255},     {"14To8", Convert14To8, 14, 31, 0},
      {"14To8", Convert14To8, 14, 32, 1},          {"14To8", Convert14To8, 14, -5, 0},
      {"14To8", Convert14To8, 14, 20000, 255},     {"Channel0To14", Channel0To14, 16, 65535, 16384},
      {"Channel0To14", Channel0To14, 16, 2, 1},    {"Channel0To14", Channel0To14, 16, 1, 0},
      {"Channel0From14", Channel0From14, 14, 16320, 65280 - 65536},
  };
  for (TPixelPath path : Paths()) {
    TPixelPathScope scope(path);
    for (const auto &c : cases) {
      TImage img = Pixel(c.BPP, {c.In});
      c.Run(img.I);
      EXPECT_EQ(img.Get(0, 0), c.Out) << c.Name << "(" << c.In << ") " << PathName(path);
    }
  }
}

// Every 16-bit pattern through each depth conversion, against the formulas.
TEST(PixelConvert, DepthConversionsAreExactForAllSampleValues) {
  const struct {
    const char *Name;
    TConversion Run;
    uint32_t BPP;
    int32_t (*Expect)(int32_t);
  } cases[] = {
      {"16To14", Convert16To14, 16, [](int32_t v) { return int32_t(std::lround(v * 16320.0 / 65535.0)); }},
      {"16To8", Convert16To8, 16, [](int32_t v) { return (v * 255 + 32895) >> 16; }},
      {"14To8", Convert14To8, 14, [](int32_t v) { return (std::clamp(v, 0, 16320) + 32) >> 6; }},
      {"14To16", Convert14To16, 14,
       [](int32_t v) {
         const int32_t c = std::clamp(v, 0, 16320);
         return int32_t(std::lround(c * 65535.0 / 16320.0));
       }},
  };
  for (TPixelPath path : Paths()) {
    TPixelPathScope scope(path);
    for (const auto &c : cases) {
      TImage img(256, 256, 1, c.BPP);
      for (uint32_t i = 0; i < 65536; ++i) img.Set(i % 256, i / 256, 0, int32_t(i));
      c.Run(img.I);
      for (uint32_t i = 0; i < 65536; ++i) {
        const int32_t in = c.BPP == 14 ? int32_t(int16_t(i)) : int32_t(i);
        ASSERT_EQ(img.Get(i % 256, i / 256), c.Expect(in)) << c.Name << "(" << in << ") " << PathName(path);
      }
    }
  }
}

// A 16-bit sample that enters the working depth and comes back unchanged by
// any step lands within 2 of where it was, rounded both ways rather than always down.
TEST(PixelConvert, SixteenBitRoundTripThroughTheWorkingDepthStaysWithinTwo) {
  for (TPixelPath path : Paths()) {
    TPixelPathScope scope(path);
    TImage img(256, 256, 1, 16);
    for (uint32_t i = 0; i < 65536; ++i) img.Set(i % 256, i / 256, 0, int32_t(i));
    Convert16To14(img.I);
    img.I.BPP = BPP_14;
    Convert14To16(img.I);
    int32_t lowest = 0, highest = 0;
    for (uint32_t i = 0; i < 65536; ++i) {
      const int32_t d = img.Get(i % 256, i / 256) - int32_t(i);
      lowest = std::min(lowest, d), highest = std::max(highest, d);
    }
    EXPECT_GE(lowest, -2) << PathName(path);
    EXPECT_LE(highest, 2) << PathName(path);
    EXPECT_GT(highest, 0) << "never rounded up: " << PathName(path);
    EXPECT_EQ(img.Get(0, 0), 0) << PathName(path);
    EXPECT_EQ(img.Get(255, 255), 65535) << PathName(path);
  }
}

TEST(PixelConvert, NewBlocksFollowTheStrideRule) {
  TImage img(321, 5, 3, 14);
  Convert14To8(img.I);
  EXPECT_EQ(img.I.BPP, 8u);
  EXPECT_EQ(img.I.Bpl, GetAlignedBpl(321, 3));
  EXPECT_EQ(img.I.Channels, 3u);
  EXPECT_EQ(img.I.PixelFormat, uint32_t(PIXFMT_BGR));
  ConvertToYCC14(img.I);
  EXPECT_EQ(img.I.Bpl, GetAlignedBpl16(321, 3));
  EXPECT_EQ(img.I.BPP, 14u);
}

// ---- dithering ----

TImage Field(uint32_t W, uint32_t H, uint32_t Ch, uint32_t BPP, int32_t V) {
  TImage img(W, H, Ch, BPP);
  img.Fill(V);
  return img;
}

// Mean output over the picture away from the edges.
double InteriorMean(const TImage &Img) {
  double sum = 0;
  size_t n = 0;
  for (uint32_t y = 8; y + 8 < Img.I.Height; ++y)
    for (uint32_t x = 8; x + 8 < Img.I.Width; ++x, ++n) sum += Img.Get(x, y);
  return sum / double(n);
}

TEST(PixelConvert, DitherNeverRoundsUpExactValues) {
  std::mt19937 rng(3);
  for (uint32_t w : {1u, 17u, 300u, 2500u})
    for (TConversion run : {Convert14To8Random, Convert16To8Random, Convert14To8Diffusion, Convert16To8Diffusion}) {
      const bool is14 = run == Convert14To8Random || run == Convert14To8Diffusion;
      const int32_t step = is14 ? 64 : 257;
      TImage img(w, 7, 3, is14 ? 14 : 16);
      std::vector<int32_t> q;
      std::uniform_int_distribution<int32_t> d(0, 255);
      for (uint32_t y = 0; y < 7; ++y)
        for (uint32_t x = 0; x < w; ++x)
          for (uint32_t c = 0; c < 3; ++c) img.Set(x, y, c, step * q.emplace_back(d(rng)));
      run(img.I);
      ASSERT_EQ(img.I.BPP, 8u);
      size_t i = 0;
      for (uint32_t y = 0; y < 7; ++y)
        for (uint32_t x = 0; x < w; ++x)
          for (uint32_t c = 0; c < 3; ++c) ASSERT_EQ(img.Get(x, y, c), q[i++]) << w << " " << x << "," << y;
    }
}

// One SFMT byte per pixel decides all of its channels; the buffer of n words
// (n = ceil(W/16) doubled until it exceeds 156) is refilled when a row no
// longer fits. Memory rows are converted in memory order.
TEST(PixelConvert, RandomDitherUsesOneGeneratorBytePerPixel) {
  for (uint32_t w : {5u, 100u, 2600u}) {
    const uint32_t h = 40;
    TImage img14(w, h, 4, 14), img16(w, h, 3, 16);
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) {
        for (uint32_t c = 0; c < 4; ++c) img14.Set(x, y, c, 64 * 100 + int32_t((x + y) % 64));
        for (uint32_t c = 0; c < 3; ++c) img16.Set(x, y, c, 257 * 100 + int32_t((x * 3 + y) % 257));
      }
    TImage src14(img14), src16(img16);
    Convert14To8Random(img14.I);
    Convert16To8Random(img16.I);

    size_t n = (w + 15) / 16;
    while (n <= 156) n *= 2;
    TSFMT gen(0);
    std::vector<TW128> buf(n);
    gen.gen_rand_array(buf.data(), int(n));
    size_t k = 0;
    for (uint32_t y = 0; y < h; ++y) {
      if (k + w > n * 16) {
        gen.gen_rand_array(buf.data(), int(n));
        k = 0;
      }
      const uint8_t *r = reinterpret_cast<const uint8_t *>(buf.data()) + k;
      for (uint32_t x = 0; x < w; ++x) {
        const int32_t m14 = src14.Get(x, y) & 63;
        for (uint32_t c = 0; c < 4; ++c)
          ASSERT_EQ(img14.Get(x, y, c), 100 + ((r[x] & 63) < m14 ? 1 : 0)) << w << " " << x << "," << y;
        const int32_t m16 = src16.Get(x, y) - 257 * 100, r16 = r[x] + (r[x] >> 7);
        for (uint32_t c = 0; c < 3; ++c)
          ASSERT_EQ(img16.Get(x, y, c), 100 + (r16 < m16 ? 1 : 0)) << w << " " << x << "," << y;
      }
      k += w;
    }
  }
}

TEST(PixelConvert, DitherIsDeterministic) {
  for (TConversion run : {Convert14To8Random, Convert14To8Diffusion}) {
    std::mt19937 rng(11);
    TImage a(77, 9, 3, 14);
    a.FillRandom(rng, -100, 16400);
    TImage b(a);
    run(a.I);
    run(b.I);
    EXPECT_EQ(a.Pixels(), b.Pixels());
  }
}

TEST(PixelConvert, DitherMeansOnUniformFields) {
  const struct {
    const char *Name;
    TConversion Run;
    uint32_t BPP;
    int32_t Value;
    double Mean, Tolerance;
  } cases[] = {
      {"Diffusion16", Convert16To8Diffusion, 16, 257 * 100 + 128, 100 + 128.0 / 257, 0.02},
      // Each share is truncated, so some of the error is lost on the way.
      {"Diffusion14", Convert14To8Diffusion, 14, 64 * 100 + 16, 100.25, 0.05},
      {"Random16", Convert16To8Random, 16, 257 * 100 + 128, 100 + 128.0 / 257, 0.02},
      {"Random14", Convert14To8Random, 14, 64 * 100 + 48, 100.75, 0.02},
      {"Diffusion16/exact", Convert16To8Diffusion, 16, 257 * 77, 77, 0},
  };
  for (const auto &c : cases) {
    TImage img = Field(200, 120, 1, c.BPP, c.Value);
    c.Run(img.I);
    EXPECT_NEAR(InteriorMean(img), c.Mean, c.Tolerance) << c.Name;
  }
}

// Floyd-Steinberg shares on a 3x2 picture, worked by hand: the top row is the
// last row in memory.
TEST(PixelConvert, DiffusionSharesAndOrder) {
  TImage img = Field(3, 2, 1, 14, 40);
  Convert14To8Diffusion(img.I);
  const int32_t top[] = {0, 0, 1}, bottom[] = {0, 1, 0};
  for (uint32_t x = 0; x < 3; ++x) {
    EXPECT_EQ(img.Get(x, 1), top[x]) << x;
    EXPECT_EQ(img.Get(x, 0), bottom[x]) << x;
  }
}

TEST(PixelConvert, ConvertTo8BitChoosesTheVariant) {
  const struct {
    bool UseDither;
    int32_t Dither;
    TConversion Expected;
  } cases[] = {
      {false, 0, Convert14To8},          {false, 1, Convert14To8}, {false, 2, Convert14To8},
      {true, 0, Convert14To8},           {true, 1, Convert14To8Random},
      {true, 2, Convert14To8Diffusion},  {true, 5, Convert14To8Diffusion},
  };
  std::mt19937 rng(5);
  TImage src(50, 20, 3, 14);
  src.FillRandom(rng, 0, 16320);
  for (const auto &c : cases)
    for (bool global : {false, true}) {
      TImage got(src), want(src);
      if (global) {
        SetDitherOption(c.Dither);
        ConvertTo8Bit(got.I, c.UseDither);
        SetDitherOption(DITHER_NONE);
      } else {
        ConvertTo8Bit(got.I, c.UseDither, c.Dither);
      }
      c.Expected(want.I);
      EXPECT_EQ(got.I.BPP, 8u);
      EXPECT_EQ(got.Pixels(), want.Pixels()) << c.UseDither << " " << c.Dither << " " << global;
    }
  TImage eight(4, 4, 3, 8);
  uint8_t *mem = eight.I.Mem;
  ConvertTo8Bit(eight.I, true, DITHER_RANDOM);
  EXPECT_EQ(eight.I.Mem, mem);
}

// ---- alpha ----

TEST(PixelConvert, FlattenAlphaExamples) {
  const struct {
    const char *Name;
    uint32_t BPP, Fmt;
    std::vector<int32_t> In;
    bool HasBG;
    uint32_t BGColor, Background;
    uint32_t OutBPP, OutFmt;
    std::vector<int32_t> Out;
  } cases[] = {
      {"half over black", 8, 0, {255, 255, 255, 128}, false, 0, 0x000000, 8, PIXFMT_BGR, {128, 128, 128}},
      {"transparent", 8, 0, {10, 20, 30, 0}, false, 0, 0x123456, 8, PIXFMT_BGR, {0x12, 0x34, 0x56}},
      {"opaque", 8, 0, {10, 20, 30, 255}, false, 0, 0x123456, 8, PIXFMT_BGR, {10, 20, 30}},
      {"file background wins", 8, 0, {1, 2, 3, 0}, true, 0x0000FF, 0xFFFFFF, 8, PIXFMT_BGR, {0, 0, 255}},
      {"default white", 8, 0, {0, 0, 0, 0}, false, 0, 0xFFFFFF, 8, PIXFMT_BGR, {255, 255, 255}},
      {"gray uses red byte", 8, 0, {99, 0}, false, 0, 0x0000C8, 8, PIXFMT_GRAY, {200}},
      {"gray half", 8, 0, {255, 128}, false, 0, 0, 8, PIXFMT_GRAY, {128}},
      {"14 half over black", 14, 0, {16320, 16320, 16320, 8160}, false, 0, 0, 14, PIXFMT_BGR, {8160, 8160, 8160}},
      {"14 transparent", 14, 0, {5, 6, 7, 0}, false, 0, 0x030201, 14, PIXFMT_BGR, {192, 128, 64}},
      {"14 opaque", 14, 0, {-7, 9000, 16320, 16320}, false, 0, 0x030201, 14, PIXFMT_BGR, {-7, 9000, 16320}},
      {"14 gray", 14, 0, {1000, 16320}, false, 0, 0, 14, PIXFMT_GRAY, {1000}},
      {"16 opaque", 16, 0, {65535, 0, 32768, 65535}, false, 0, 0, 14, PIXFMT_BGR, {16320, 0, 8160}},
  };
  for (TPixelPath path : Paths()) {
    TPixelPathScope scope(path);
    for (const auto &c : cases) {
      TImage img = Pixel(c.BPP, c.In, c.Fmt);
      img.I.hasBGColor = c.HasBG ? LongTrue : LongFalse;
      img.I.BGColor = c.BGColor;
      FlattenAlpha(img.I, c.Background);
      EXPECT_EQ(img.I.BPP, c.OutBPP) << c.Name;
      EXPECT_EQ(img.I.PixelFormat, c.OutFmt) << c.Name;
      EXPECT_EQ(img.I.Channels, c.Out.size()) << c.Name;
      EXPECT_EQ(Samples(img), c.Out) << c.Name << " " << PathName(path);
    }
  }
}

TEST(PixelConvert, FlattenAlphaNarrowsWidenedGrayAlpha) {
  TImage img = Pixel(8, {50, 60, 70, 255});
  img.I.IsGrayAlpha = LongTrue;
  FlattenAlpha(img.I);
  EXPECT_EQ(img.I.Channels, 1u);
  EXPECT_EQ(img.I.PixelFormat, uint32_t(PIXFMT_GRAY));
  EXPECT_EQ(img.I.IsGrayAlpha, LongFalse);
  EXPECT_EQ(img.Get(0, 0), 50);
}

TEST(PixelConvert, FlattenAlphaLeavesOtherFormatsAlone) {
  const struct {
    uint32_t Ch, Fmt;
  } cases[] = {{3, PIXFMT_BGR}, {1, PIXFMT_GRAY}, {4, PIXFMT_CMYK}, {3, PIXFMT_BGRA}};
  for (const auto &c : cases) {
    TImage img(9, 3, c.Ch, 8, c.Fmt);
    img.Fill(77);
    const uint8_t *mem = img.I.Mem;
    const auto before = img.Pixels();
    FlattenAlpha(img.I, 0);
    EXPECT_EQ(img.I.Mem, mem);
    EXPECT_EQ(img.I.Channels, c.Ch);
    EXPECT_EQ(img.I.PixelFormat, c.Fmt);
    EXPECT_EQ(img.Pixels(), before);
  }
}

TEST(PixelConvert, GrayAlphaExpandsAndNarrowsBack) {
  for (uint32_t bpp : {8u, 16u}) {
    std::mt19937 rng(bpp);
    TImage img(37, 3, 2, bpp);
    img.FillRandom(rng, 0, bpp == 8 ? 255 : 65535);
    const TImage orig(img);
    ExpandGrayAlpha(img.I);
    ASSERT_EQ(img.I.Channels, 4u);
    EXPECT_EQ(img.I.PixelFormat, uint32_t(PIXFMT_BGRA));
    for (uint32_t x = 0; x < 37; ++x)
      for (uint32_t c = 0; c < 4; ++c) ASSERT_EQ(img.Get(x, 2, c), orig.Get(x, 2, c == 3 ? 1 : 0));
    NarrowToGrayAlpha(img.I);
    EXPECT_EQ(img.I.PixelFormat, uint32_t(PIXFMT_GRAYALPHA));
    EXPECT_EQ(img.Pixels(), orig.Pixels());
  }
}

TEST(PixelConvert, AlphaExtractAndRestore) {
  TImage eight = Pixel(8, {1, 2, 3, 200});
  TICCImgInfo a;
  ExtractAlpha14(eight.I, a);
  ASSERT_NE(a.Mem, nullptr);
  EXPECT_EQ(a.Channels, 1u);
  EXPECT_EQ(a.BPP, 14u);
  EXPECT_EQ(a.Bpl, GetAlignedBpl16(1, 1));
  EXPECT_EQ(reinterpret_cast<int16_t *>(a.Mem)[0], 200 * 64);

  TImage fourteen = Pixel(14, {1, 2, 3, 4});
  RestoreAlpha14(fourteen.I, a);
  EXPECT_EQ(a.Mem, nullptr);
  EXPECT_EQ(Samples(fourteen), (std::vector<int32_t>{1, 2, 3, 12800}));

  TImage noAlpha = Pixel(8, {1, 2, 3});
  ExtractAlpha14(noAlpha.I, a);
  EXPECT_EQ(a.Mem, nullptr);
  EXPECT_EQ(a.Width, 0u);
}

// ---- colour representations ----

TEST(PixelConvert, LumaExamples) {
  const struct {
    uint32_t BPP;
    std::vector<int32_t> BGR;
    int32_t Y;
  } cases[] = {
      {8, {255, 255, 255}, 255}, {8, {0, 0, 255}, 76},         {8, {255, 0, 0, 9}, 29},
      {14, {16320, 16320, 16320}, 255}, {14, {0, 0, 16320}, 76}, {14, {-9999, -9999, -9999}, 0},
      {14, {32767, 32767, 32767}, 255},
  };
  for (TPixelPath path : Paths()) {
    TPixelPathScope scope(path);
    for (const auto &c : cases) {
      TImage img = Pixel(c.BPP, c.BGR);
      TICCImgInfo l;
      MakeLumaImage(img.I, l);
      ASSERT_NE(l.Mem, nullptr);
      EXPECT_EQ(l.Mem[0], c.Y) << c.BGR[2] << " " << PathName(path);
      EXPECT_EQ(l.Bpl, GetAlignedBpl(1, 1));
      EXPECT_EQ(l.PixelFormat, 0u);
      FreeICCImgInfo(l, false);
    }
  }
  TImage gray = Pixel(8, {5});
  TICCImgInfo l;
  MakeLumaImage(gray.I, l);
  EXPECT_EQ(l.Mem, nullptr);
}

// Gray stays gray through the YCbCr working representation, exactly.
TEST(PixelConvert, GrayRoundTripsThroughYCC14) {
  for (TPixelPath path : Paths()) {
    TPixelPathScope scope(path);
    TImage img(129, 127, 4, 14);
    for (uint32_t i = 0; i < 129u * 127u; ++i)
      for (uint32_t c = 0; c < 4; ++c) img.Set(i % 129, i / 129, c, std::min<int32_t>(int32_t(i), 16320));
    const TImage orig(img);
    ConvertToYCC14(img.I);
    for (uint32_t i = 0; i < 129u * 127u; ++i) {
      const int32_t v = std::min<int32_t>(int32_t(i), 16320);
      ASSERT_EQ(img.Get(i % 129, i / 129, 0), v) << PathName(path);
      ASSERT_EQ(img.Get(i % 129, i / 129, 1), 0) << v;
      ASSERT_EQ(img.Get(i % 129, i / 129, 2), 0) << v;
      ASSERT_EQ(img.Get(i % 129, i / 129, 3), v) << v;
    }
    ConvertFromYCC14(img.I);
    EXPECT_EQ(img.Pixels(), orig.Pixels()) << PathName(path);
  }
}

// Luminance rows: the Y that ConvertToYCC14 gives, and the pixels that
// ConvertFromYCC14 makes with that Y replaced, on every path, on widths that
// end inside and outside whole vectors, and on tight strides (plain path).
TEST(PixelConvert, LuminanceRowsGiveTheBytesOfTheWholeImageConversions) {
  const struct {
    const char *Name;
    uint32_t BPP;
    int32_t Lo, Hi;
    bool InPlace, Tight;
  } cases[] = {
      {"8-bit into a new block", 8, 0, 255, false, false},
      {"14-bit in place", 14, S16Lo, S16Hi, true, false},
      {"14-bit into another record", 14, -500, 16800, false, false},
      {"14-bit in place, tight stride", 14, 0, 16320, true, true},
      {"8-bit, tight stride", 8, 0, 255, false, true},
  };
  std::mt19937 rng(41);
  std::uniform_int_distribution<int32_t> newY(-1000, 17500);
  const uint32_t widths[] = {1, 7, 8, 15, 16, 17, 31, 33, 301};
  for (TPixelPath path : Paths())
    for (const auto &c : cases)
      for (const uint32_t w : widths) {
        const std::string what = std::string(c.Name) + " " + PathName(path) + " width " + std::to_string(w);
        const uint32_t h = 3;
        TImage src(w, h, 3, c.BPP);
        src.FillRandom(rng, c.Lo, c.Hi);
        // The reference: the whole-image conversions on the plain path.
        TImage ref(src);
        TImage yPlane(w, h, 1, 14);
        std::vector<uint8_t> tightSrc, tightY;
        TICCImgInfo in = src.I, luma = yPlane.I;
        if (c.Tight) {
          in.Bpl = w * 3 * BytesOf(c.BPP);
          tightSrc.resize(size_t(in.Bpl) * h);
          for (uint32_t y = 0; y < h; ++y) std::memcpy(tightSrc.data() + size_t(y) * in.Bpl, ScanLine(src.I, y), in.Bpl);
          in.Mem = tightSrc.data();
          luma.Bpl = w * 2;
          tightY.resize(size_t(luma.Bpl) * h);
          luma.Mem = tightY.data();
        }
        {
          TPixelPathScope scope(path);
          LumaRows(in, luma, 0, h);
        }
        {
          TPixelPathScope scope(TPixelPath::Plain);
          ConvertToYCC14(ref.I);
        }
        for (uint32_t y = 0; y < h; ++y)
          for (uint32_t x = 0; x < w; ++x) {
            const int16_t got = reinterpret_cast<const int16_t *>(ScanLine(luma, y))[x];
            ASSERT_EQ(got, ref.Get(x, y, 0)) << what << " Y at " << x << "," << y;
            const int32_t v = newY(rng);
            reinterpret_cast<int16_t *>(ScanLine(luma, y))[x] = int16_t(v);
            ref.Set(x, y, 0, v);
          }
        {
          TPixelPathScope scope(TPixelPath::Plain);
          ConvertFromYCC14(ref.I);
        }
        TImage other(w, h, 3, 14);
        TICCImgInfo out = c.InPlace ? in : other.I;
        {
          TPixelPathScope scope(path);
          // Two calls, so that a range not starting at row 0 is covered.
          RowsWithLuma(in, luma, 0, 1, out);
          RowsWithLuma(in, luma, 1, h, out);
        }
        for (uint32_t y = 0; y < h; ++y)
          for (uint32_t x = 0; x < 3 * w; ++x)
            ASSERT_EQ(reinterpret_cast<const int16_t *>(ScanLine(out, y))[x], ref.Get(x / 3, y, x % 3))
                << what << " sample " << x << " of row " << y;
      }
}

TEST(PixelConvert, LuminanceRowsRefuseRecordsOfOtherShapes) {
  TImage bgr(9, 4, 3, 14), gray(9, 4, 1, 14), rgba(9, 4, 4, 14), narrow(8, 4, 1, 14), luma8(9, 4, 1, 8);
  EXPECT_THROW(LumaRows(rgba.I, gray.I, 0, 4), ETessivoError);
  EXPECT_THROW(LumaRows(bgr.I, narrow.I, 0, 4), ETessivoError);
  EXPECT_THROW(LumaRows(bgr.I, luma8.I, 0, 4), ETessivoError);
  EXPECT_THROW(LumaRows(bgr.I, gray.I, 0, 5), ETessivoError);
  EXPECT_THROW(RowsWithLuma(bgr.I, gray.I, 0, 4, rgba.I), ETessivoError);
  EXPECT_NO_THROW(RowsWithLuma(bgr.I, gray.I, 0, 4, bgr.I));
}

TEST(PixelConvert, YCCExamples) {
  const struct {
    const char *Name;
    uint32_t BPP;
    TConversion Run;
    std::vector<int32_t> In, Out;
  } cases[] = {
      {"8-bit gray to YCC14", 8, ConvertToYCC14, {100, 100, 100, 7}, {6400, 0, 0, 448}},
      {"blue to YCC14", 14, ConvertToYCC14, {16320, 0, 0}, {1860, 8160, -1327}},
      {"YCC14 clamps", 14, ConvertFromYCC14, {16000, 8000, 8000}, {16320, 7533, 16320}},
      // Chroma rounds with 32767 and 2^21 - 1: an exact half goes down.
      {"chroma half to YCC14", 14, ConvertToYCC14, {1, 0, 0}, {0, 0, 0}},
      {"chroma half to YCC8", 14, ConvertBGR14ToYCC8, {64, 0, 0}, {0, 128, 128}},
      {"white to YCC8", 14, ConvertBGR14ToYCC8, {16320, 16320, 16320}, {255, 128, 128}},
      {"black to YCC8", 14, ConvertBGR14ToYCC8, {0, 0, 0}, {0, 128, 128}},
  };
  for (TPixelPath path : Paths()) {
    TPixelPathScope scope(path);
    for (const auto &c : cases) {
      TImage img = Pixel(c.BPP, c.In);
      c.Run(img.I);
      EXPECT_EQ(Samples(img), c.Out) << c.Name << " " << PathName(path);
    }
  }
}

// ---- lookup tables ----

TEST(PixelConvert, LookupTablesUseTheirSections) {
  std::vector<int16_t> t8(LUT8_SIZE), t14(LUT14_SIZE), ycc(YCC_LUT14_SIZE), ch0(LUT14_ENTRIES);
  for (size_t i = 0; i < t8.size(); ++i) t8[i] = int16_t((i / 256) * 1000 + i % 256);
  for (size_t i = 0; i < t14.size(); ++i) t14[i] = int16_t((i / 16321) * 1000 + (i % 16321) / 32);
  for (size_t i = 0; i < 16321; ++i) ycc[i] = int16_t(16320 - i), ycc[16321 + i] = int16_t(16320 - i), ch0[i] = int16_t(i + 1);
  const struct {
    const char *Name;
    uint32_t BPP;
    std::vector<int32_t> In, Out;
    int Which;
  } cases[] = {
      {"8 to 14 gray", 8, {7}, {3007}, 0},
      {"8 to 14 BGR", 8, {1, 2, 3}, {1, 1002, 2003}, 0},
      {"8 to 14 BGRA", 8, {1, 2, 3, 4}, {1, 1002, 2003, 256}, 0},
      {"gray 8 to 14", 8, {7}, {7}, 1},
      {"14 gray", 14, {320}, {3010}, 2},
      {"14 BGRA", 14, {32, 64, 96, 5}, {1, 1002, 2003, 5}, 2},
      {"14 clamps indices", 14, {-40, 20000, 16320}, {0, 1510, 2510}, 2},
      {"channel 0", 14, {10, 20, 30}, {11, 20, 30}, 3},
      {"YCC negates chroma", 14, {100, -500, 8160}, {16220, 500, -8160}, 4},
      {"YCC gray", 14, {100}, {16220}, 4},
  };
  for (const auto &c : cases) {
    TImage img = Pixel(c.BPP, c.In);
    switch (c.Which) {
      case 0: ApplyLUT8To14(img.I, t8); break;
      case 1: ApplyGrayLUT8To14(img.I, std::span(t8).first(256)); break;
      case 2: ApplyLUT14(img.I, t14); break;
      case 3: ApplyLUT14Channel0(img.I, ch0); break;
      default: ApplyYCCLUT14(img.I, ycc); break;
    }
    EXPECT_EQ(img.I.BPP, 14u) << c.Name;
    EXPECT_EQ(Samples(img), c.Out) << c.Name;
  }
  TImage img = Pixel(14, {1, 2, 3});
  EXPECT_THROW(ApplyLUT14(img.I, std::span(t14).first(100)), ETessivoError);
}

}  // namespace

// The pool forms split rows; every form must give the bytes of the plain
// call for any thread count, on sizes whose rows do not divide evenly.
TEST(PixelConvert, PoolFormsGiveTheSameBytesAsTheSingleThreadForms) {
  struct Case {
    const char *Name;
    uint32_t Channels, BPP;
    void (*Single)(TICCImgInfo &, std::span<const int16_t>);
    void (*Pool)(TICCImgInfo &, std::span<const int16_t>, TMultiThread *);
    size_t TableSize;
    int32_t Lo, Hi;  // sample range, over the table's range for the clamping
  } cases[] = {
      {"ApplyLUT8To14 BGR", 3, BPP_8, ApplyLUT8To14, ApplyLUT8To14, LUT8_SIZE, 0, 255},
      {"ApplyLUT8To14 BGRA", 4, BPP_8, ApplyLUT8To14, ApplyLUT8To14, LUT8_SIZE, 0, 255},
      {"ApplyLUT8To14 gray", 1, BPP_8, ApplyLUT8To14, ApplyLUT8To14, LUT8_SIZE, 0, 255},
      {"ApplyGrayLUT8To14", 1, BPP_8, ApplyGrayLUT8To14, ApplyGrayLUT8To14, 256, 0, 255},
      {"ApplyLUT14 BGR", 3, BPP_14, ApplyLUT14, ApplyLUT14, LUT14_SIZE, -200, 16500},
      {"ApplyLUT14 gray", 1, BPP_14, ApplyLUT14, ApplyLUT14, LUT14_SIZE, -200, 16500},
      {"ApplyLUT14Channel0 BGRA", 4, BPP_14, ApplyLUT14Channel0, ApplyLUT14Channel0, LUT14_ENTRIES, -200, 16500},
      {"ApplyYCCLUT14 YCC", 3, BPP_14, ApplyYCCLUT14, ApplyYCCLUT14, YCC_LUT14_SIZE, -8300, 16500},
      {"ApplyYCCLUT14 gray", 1, BPP_14, ApplyYCCLUT14, ApplyYCCLUT14, YCC_LUT14_SIZE, -200, 16500},
  };
  std::mt19937 rng(21);
  std::vector<int16_t> table(YCC_LUT14_SIZE * 2);
  for (int16_t &v : table) v = int16_t(rng() % 16321);
  for (int32_t threads : {2, 3, 5}) {
    TMultiThread pool(threads);
    for (const Case &c : cases) {
      SCOPED_TRACE(std::string(c.Name) + ", " + std::to_string(threads) + " threads");
      TImage a(37, 23, c.Channels, c.BPP);
      a.FillRandom(rng, c.Lo, c.Hi);
      TImage b(a);
      const std::span<const int16_t> t(table.data(), c.TableSize);
      c.Single(a.I, t);
      c.Pool(b.I, t, &pool);
      EXPECT_EQ(b.I.BPP, a.I.BPP);
      EXPECT_EQ(b.Pixels(), a.Pixels());
    }
    for (uint32_t ch : {3u, 4u}) {
      for (uint32_t bpp : {uint32_t(BPP_8), uint32_t(BPP_14)}) {
        SCOPED_TRACE("YCC round trip, " + std::to_string(ch) + " channels, " + std::to_string(bpp) + " bits");
        TImage a(41, 19, ch, bpp);
        a.FillRandom(rng, 0, bpp == BPP_8 ? 255 : 16320);
        TImage b(a);
        ConvertToYCC14(a.I);
        ConvertToYCC14(b.I, &pool);
        EXPECT_EQ(b.Pixels(), a.Pixels());
        ConvertFromYCC14(a.I);
        ConvertFromYCC14(b.I, &pool);
        EXPECT_EQ(b.Pixels(), a.Pixels());
      }
    }
  }
}


// The one-pass luminance stage against the four separate conversions it
// stands for, with and without its optional tables (entries over the whole
// 16-bit range), on every kernel path, with and without a pool.
TEST(PixelConvert, YCCStagesInOnePassEqualTheStepsOneByOne) {
  std::mt19937 rng(8);
  std::vector<int16_t> luma(LUT14_ENTRIES), ycc(YCC_LUT14_SIZE), rgb(LUT14_SIZE);
  for (int16_t &v : luma) v = int16_t(rng());
  for (int16_t &v : ycc) v = int16_t(rng());
  // An identity chroma table is skipped; one changed entry must still count.
  std::vector<int16_t> nearIdentity(YCC_LUT14_SIZE);
  for (size_t j = 0; j < LUT14_ENTRIES; ++j) nearIdentity[LUT14_ENTRIES + j] = int16_t(j);
  nearIdentity[LUT14_ENTRIES + 8160 + 3] = 9;
  for (int16_t &v : rgb) v = int16_t(rng());

  TMultiThread pool(3);
  for (TPixelPath path : Paths())
    for (uint32_t ch : {3u, 4u})
      for (uint32_t bpp : {uint32_t(BPP_8), uint32_t(BPP_14)})
        for (int tables = 0; tables < 6; ++tables) {
          const bool withChroma = tables % 3 != 0, withRGB = tables >= 3;
          std::vector<int16_t> &chromaSet = tables % 3 == 2 ? nearIdentity : ycc;
          const std::span<const int16_t> chroma = std::span<const int16_t>(chromaSet).subspan(LUT14_ENTRIES);
          SCOPED_TRACE(std::string(PathName(path)) + ", " + std::to_string(ch) +
                       " channels, " + std::to_string(bpp) + " bits" +
                       (withChroma ? tables % 3 == 2 ? ", chroma one entry off the identity" : ", chroma" : "") +
                       (withRGB ? ", RGB" : ""));
          TPixelPathScope scope(path);
          TImage a(53, 17, ch, bpp);
          // Near-neutral pixels make chroma 3 (the changed entry) common.
          if (tables % 3 == 2) {
            a.FillRandom(rng, bpp == BPP_8 ? 100 : 6400, bpp == BPP_8 ? 101 : 6460);
          } else {
            a.FillRandom(rng, bpp == BPP_8 ? 0 : -100, bpp == BPP_8 ? 255 : 16400);
          }
          TImage b(a), c(a);
          ConvertToYCC14(a.I);
          if (withChroma) {
            std::copy(luma.begin(), luma.end(), chromaSet.begin());
            ApplyYCCLUT14(a.I, chromaSet);
          } else {
            ApplyLUT14Channel0(a.I, luma);
          }
          ConvertFromYCC14(a.I);
          if (withRGB) ApplyLUT14(a.I, rgb);
          const TYCCStages stages{luma, withChroma ? chroma : std::span<const int16_t>(),
                                  withRGB ? std::span<const int16_t>(rgb) : std::span<const int16_t>()};
          ApplyYCCStages(b.I, stages, nullptr);
          ApplyYCCStages(c.I, stages, &pool);
          EXPECT_EQ(b.I.BPP, uint32_t(BPP_14));
          EXPECT_EQ(b.Pixels(), a.Pixels());
          EXPECT_EQ(c.Pixels(), a.Pixels());
        }
  // A 14-bit picture with a wider stride than the rule gives is rewritten at its own stride.
  TImage wide(40, 9, 3, BPP_14);
  const uint32_t tight = wide.I.Bpl;
  PageFree(wide.I.Mem);
  wide.I.Bpl = tight + 384;
  wide.I.Mem = AllocPixelBlock(wide.I.Bpl, wide.I.Height);
  wide.FillRandom(rng, 0, 16320);
  TImage steps(wide);
  ConvertToYCC14(steps.I);
  ApplyLUT14Channel0(steps.I, luma);
  ConvertFromYCC14(steps.I);
  ApplyYCCStages(wide.I, {luma, {}, {}}, &pool);
  EXPECT_EQ(wide.I.Bpl, tight + 384);
  EXPECT_EQ(wide.Pixels(), steps.Pixels());
}
