// Filter objects and the passes of the resampling library: the vector code
// paths against the plain reference on random images, the data-path choice,
// block records, alpha weighting and the library binding.
#include "color/ICCUtil.h"
#include "core/Errors.h"
#include "resample/Filter.h"
#include "core/MultiThread.h"
#include "resample/Weight.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

struct TSetterDeleter {
  void operator()(TWeightSetter *S) const { S->Release(); }
};
using TSetterPtr = std::unique_ptr<TWeightSetter, TSetterDeleter>;

TSetterPtr MakeSetter(uint32_t Mode, int32_t Param) { return TSetterPtr(CreateWeightSetter(Mode, Param).Setter); }

// An image record over an owned block of random samples (14-bit samples
// spread a little beyond 0..16320, as resized images are).
struct TTestImage {
  std::vector<uint8_t> Block;
  TICCImgInfo Img{};
  TTestImage(uint32_t W, uint32_t H, uint32_t Channels, uint32_t BPP, std::mt19937 &Rng) {
    Img.Width = W;
    Img.Height = H;
    Img.Channels = Channels;
    Img.BPP = BPP;
    Img.Bpl = BPP == BPP_8 ? GetAlignedBpl(W, Channels) : GetAlignedBpl16(W, Channels);
    Block.assign(size_t(Img.Bpl) * AllocRows(H), 0);
    Img.Mem = Block.data();
    for (uint32_t y = 0; y < H; ++y) {
      uint8_t *row = Img.Mem + size_t(y) * Img.Bpl;
      for (uint32_t i = 0; i < W * Channels; ++i) {
        if (BPP == BPP_8) {
          row[i] = uint8_t(Rng() & 0xFF);
        } else {
          const int16_t v = int16_t(int32_t(Rng() % 16801) - 240);
          std::memcpy(row + 2 * i, &v, 2);
        }
      }
    }
  }
};

// A filter of the given kind and code path with its tables built for
// resizing Src to DW x DH.
std::unique_ptr<TCustomResizeFilter> PrepareResize(int32_t Kind, int32_t Isa, const TICCImgInfo &Src, int32_t DW,
                                                   int32_t DH, TWeightSetter *HSetter, TWeightSetter *VSetter,
                                                   int32_t Threads) {
  std::unique_ptr<TCustomResizeFilter> f(CreateResizeFilter(Kind, Isa));
  f->SetMaxThread(uint32_t(Threads));
  f->SetResizeParam(Src, DW, DH);
  const bool isFloat = !FilterVariants[Kind].IsInteger;
  const bool w = DW != int32_t(Src.Width), h = DH != int32_t(Src.Height);
  if (w) HSetter->SetWeight(f->Param.HWeightTable, int32_t(Src.Width), isFloat, f->Param.HStep, DW);
  if (h)
    VSetter->SetWeight(f->Param.VWeightTable, int32_t(Src.Height), isFloat,
                       w ? int32_t(f->FTmpBpl) : f->Param.VStep, DH);
  f->SetBlockInfo();
  f->SetGammaTable(Src, MakeResizeGammaTables);
  return f;
}

// Runs a prepared filter and returns the destination samples without row padding.
std::vector<int16_t> ExecuteResize(TCustomResizeFilter &F, const TICCImgInfo &Src, int32_t Threads) {
  const int32_t DW = F.Param.DestWidth, DH = F.Param.DestHeight;
  std::vector<uint8_t> dest(size_t(F.FDestBpl) * AllocRows(uint32_t(DH)), 0xCD);
  std::unique_ptr<TMultiThread> pool(Threads > 1 ? new TMultiThread(Threads) : nullptr);
  F.Execute(Src.Mem, dest.data(), pool.get());
  std::vector<int16_t> out(size_t(DW) * DH * Src.Channels);
  for (int32_t y = 0; y < DH; ++y)
    std::memcpy(out.data() + size_t(y) * DW * Src.Channels, dest.data() + size_t(y) * F.FDestBpl,
                size_t(DW) * Src.Channels * 2);
  return out;
}

std::vector<int16_t> RunResize(int32_t Kind, int32_t Isa, const TICCImgInfo &Src, int32_t DW, int32_t DH,
                               TWeightSetter *HSetter, TWeightSetter *VSetter, int32_t Threads) {
  return ExecuteResize(*PrepareResize(Kind, Isa, Src, DW, DH, HSetter, VSetter, Threads), Src, Threads);
}

class FilterTest : public ::testing::Test {
protected:
  void SetUp() override { LoadResizeLibrary(TESSIVO_BIN_DIR); }
  void TearDown() override { FreeResizeLibrary(); }
};

struct TKernel {
  uint32_t Mode;
  int32_t Param;
};
const TKernel Kernels[] = {
    {RESIZE_LANCZOS, 3}, {RESIZE_LANCZOS, 1},       {RESIZE_BILINEAR, 0}, {RESIZE_BICUBIC, 0},
    {RESIZE_BICUBIC, 8}, {RESIZE_BLACKMAN_SINC, 4}, {RESIZE_SPLINE16, 0}, {RESIZE_SPLINE36, 0},
    {RESIZE_GAUSSIAN, 12}, {RESIZE_NEAREST_NEIGHBOR, 0}, {RESIZE_AREA_AVERAGE, 0},
};

struct TPathCase {
  int32_t Kind;
  uint32_t BPP;
};
const TPathCase PathCases[] = {
    {RFK_GRAYi, 8},  {RFK_GRAYi, 14},  {RFK_RGBi, 8},   {RFK_RGBi, 14},   {RFK_CMYKi, 8},   {RFK_CMYKi, 14},
    {RFK_GRAYf, 8},  {RFK_GRAYf, 14},  {RFK_RGBf, 8},   {RFK_RGBf, 14},   {RFK_RGBAf, 8},   {RFK_RGBAf, 14},
    {RFK_LGRAYf, 8}, {RFK_LGRAYf, 14}, {RFK_LRGBf, 8},  {RFK_LRGBf, 14},  {RFK_LRGBAf, 8},  {RFK_LRGBAf, 14},
};

// Random geometry: each axis shrinks, grows or (sometimes) keeps its length,
// never both keeping it.
int32_t RandomLength(std::mt19937 &Rng) {
  switch (Rng() % 4) {
    case 0: return int32_t(1 + Rng() % 8);
    default: return int32_t(1 + Rng() % 300);
  }
}

TEST_F(FilterTest, VectorPathsMatchPlainReference) {
  std::mt19937 rng(20261210);
  // The plain path again on several threads: blocks must not depend on who runs them.
  const int32_t isas[] = {RISA_PLAIN, RISA_SSE2, RISA_AVX2};
  for (const TPathCase &pc : PathCases) {
    const int32_t channels = FilterVariants[pc.Kind].Channels;
    const bool isInt = FilterVariants[pc.Kind].IsInteger;
    for (int trial = 0; trial < 7; ++trial) {
      const int32_t sw = RandomLength(rng), sh = RandomLength(rng);
      int32_t dw = RandomLength(rng), dh = RandomLength(rng);
      const uint32_t keep = rng() % 5;
      if (keep == 0) dw = sw;
      if (keep == 1) dh = sh;
      if (dw == sw && dh == sh) dw = sw == 1 ? 2 : sw - 1;
      const TKernel &kh = Kernels[rng() % std::size(Kernels)];
      const TKernel &kv = Kernels[rng() % std::size(Kernels)];
      // Area average is a reduction kernel; enlarging axes take Spline36.
      TSetterPtr hs = MakeSetter(kh.Mode == RESIZE_AREA_AVERAGE && dw > sw ? RESIZE_SPLINE36 : kh.Mode, kh.Param);
      TSetterPtr vs = MakeSetter(kv.Mode == RESIZE_AREA_AVERAGE && dh > sh ? RESIZE_SPLINE36 : kv.Mode, kv.Param);
      TTestImage src(uint32_t(sw), uint32_t(sh), uint32_t(channels), pc.BPP, rng);
      SCOPED_TRACE("kind " + std::to_string(pc.Kind) + " bpp " + std::to_string(pc.BPP) + " " +
                   std::to_string(sw) + "x" + std::to_string(sh) + " -> " + std::to_string(dw) + "x" +
                   std::to_string(dh) + " modes " + std::to_string(kh.Mode) + "/" + std::to_string(kv.Mode));
      const std::vector<int16_t> ref = RunResize(pc.Kind, RISA_PLAIN, src.Img, dw, dh, hs.get(), vs.get(), 1);
      for (int32_t isa : isas) {
        if (isa == RISA_AVX2 && !ResizeLibrary()->HasAVX) continue;
        const int32_t threads = isa == RISA_PLAIN ? int32_t(2 + rng() % 4) : int32_t(1 + rng() % 5);
        const std::vector<int16_t> got = RunResize(pc.Kind, isa, src.Img, dw, dh, hs.get(), vs.get(), threads);
        ASSERT_EQ(got.size(), ref.size());
        size_t bad = 0;
        int worst = 0;
        for (size_t i = 0; i < ref.size(); ++i) {
          const int d = std::abs(int(got[i]) - int(ref[i]));
          worst = std::max(worst, d);
          if (isInt ? d != 0 : d > 16) ++bad;  // float: within 1e-3 of full scale
        }
        EXPECT_EQ(bad, 0u) << "isa " << isa << " threads " << threads << " worst " << worst;
      }
    }
  }
}

// Nearest-neighbour doubling copies every sample, so each data path must
// reproduce the source on the 14-bit scale (linear light up to the curve
// tables' rounding).
TEST_F(FilterTest, NearestDoublingReproducesSource) {
  std::mt19937 rng(7);
  TSetterPtr nn = MakeSetter(RESIZE_NEAREST_NEIGHBOR, 0);
  for (const TPathCase &pc : PathCases) {
    const int32_t channels = FilterVariants[pc.Kind].Channels;
    TTestImage src(13, 5, uint32_t(channels), pc.BPP, rng);
    // Opaque alpha, so that the alpha paths leave colours untouched.
    if (FilterVariants[pc.Kind].IsRGBA)
      for (uint32_t y = 0; y < 5; ++y)
        for (uint32_t x = 0; x < 13; ++x) {
          uint8_t *p = src.Img.Mem + size_t(y) * src.Img.Bpl;
          if (pc.BPP == BPP_8) {
            p[x * 4 + 3] = 255;
          } else {
            const int16_t a = 16320;
            std::memcpy(p + (x * 4 + 3) * 2, &a, 2);
          }
        }
    const bool linear = FilterVariants[pc.Kind].NeedGammaTable;
    const std::vector<int16_t> out = RunResize(pc.Kind, -1, src.Img, 26, 10, nn.get(), nn.get(), 2);
    int worst = 0;
    for (int32_t y = 0; y < 10; ++y)
      for (int32_t x = 0; x < 26; ++x)
        for (int32_t c = 0; c < channels; ++c) {
          const uint8_t *row = src.Img.Mem + size_t(y / 2) * src.Img.Bpl;
          int32_t v;
          if (pc.BPP == BPP_8) {
            v = row[(x / 2) * channels + c] * 64;
          } else {
            int16_t s;
            std::memcpy(&s, row + ((x / 2) * channels + c) * 2, 2);
            v = s;
            if (linear && !(FilterVariants[pc.Kind].IsRGBA && c == 3)) v = std::clamp(v, 0, 16320);
          }
          worst = std::max(worst, std::abs(out[(size_t(y) * 26 + x) * channels + c] - v));
        }
    EXPECT_LE(worst, linear ? 24 : 0) << "kind " << pc.Kind << " bpp " << pc.BPP;
  }
}

// Alpha-weighted filtering: a transparent red pixel beside an opaque blue one
// averages to half-transparent pure blue.
TEST_F(FilterTest, AlphaWeightingKeepsTransparentColourOut) {
  TSetterPtr area = MakeSetter(RESIZE_AREA_AVERAGE, 0);
  for (int32_t kind : {RFK_RGBAf, RFK_LRGBAf}) {
    std::vector<uint8_t> block(256 * 4, 0);
    TICCImgInfo src{};
    src.Mem = block.data();
    src.Width = 2;
    src.Height = 1;
    src.Channels = 4;
    src.BPP = BPP_8;
    src.Bpl = 256;
    const uint8_t px[8] = {0, 0, 255, 0, 255, 0, 0, 255};  // B, G, R, A
    std::memcpy(block.data(), px, 8);
    const std::vector<int16_t> out = RunResize(kind, -1, src, 1, 1, area.get(), area.get(), 1);
    EXPECT_NEAR(out[0], 16320, 1) << kind;
    EXPECT_EQ(out[1], 0) << kind;
    EXPECT_EQ(out[2], 0) << kind;
    EXPECT_NEAR(out[3], 8160, 1) << kind;
  }
}

TEST(FilterChoice, DataPathFollowsLayoutAndMode) {
  struct TCase {
    uint32_t Channels;
    bool IsRGBA, Integer, Linear;
    int32_t Kind;
  };
  const TCase cases[] = {
      {1, false, true, false, RFK_GRAYi},  {1, false, false, false, RFK_GRAYf}, {1, false, true, true, RFK_LGRAYf},
      {3, false, true, false, RFK_RGBi},   {3, false, false, false, RFK_RGBf},  {3, false, true, true, RFK_LRGBf},
      {4, true, true, false, RFK_RGBAf},   {4, true, false, false, RFK_RGBAf},  {4, true, true, true, RFK_LRGBAf},
      {4, false, true, false, RFK_CMYKi},  {4, false, false, false, RFK_CMYKi}, {4, false, false, true, RFK_CMYKi},
  };
  for (const TCase &c : cases)
    EXPECT_EQ(ChooseFilterKind(c.Channels, c.IsRGBA, c.Integer, c.Linear), c.Kind)
        << c.Channels << c.IsRGBA << c.Integer << c.Linear;
  EXPECT_THROW(ChooseFilterKind(2, false, true, false), ETessivoError);
}

TEST_F(FilterTest, BlocksOfHeightOnlyAndOneColumnResizes) {
  std::mt19937 rng(3);
  TSetterPtr lz = MakeSetter(RESIZE_LANCZOS, 3);
  TTestImage src(40, 300, 3, BPP_8, rng);
  {  // Height only: row blocks in VStep units with Count 0.
    TRGBFilter_i16 f;
    f.SetMaxThread(1);
    f.SetResizeParam(src.Img, 40, 100);
    lz->SetWeight(f.Param.VWeightTable, 300, false, f.Param.VStep, 100);
    f.SetBlockInfo();
    for (int32_t j = 0; j < f.Param.YBlocks; ++j) {
      const TBlockInfo &b = f.Param.YBlockInfo[j];
      const TWeightTableInfo &t = f.Param.VWeightTable.WeightTableInfo[j * int32_t(f.FVBlockSize)];
      EXPECT_EQ(b.Count, 0);
      EXPECT_EQ(b.Table, &t);
      EXPECT_EQ(b.SrcOffset, t.SrcOffset / f.Param.VStep / f.FYdiv);
      EXPECT_EQ(b.BlockOffset, b.SrcOffset * f.FYdiv * f.Param.VStep);
    }
  }
  {  // One destination column: one block reading the column's whole run.
    TRGBFilter_f32 f;
    f.SetMaxThread(1);
    f.SetResizeParam(src.Img, 1, 300);
    lz->SetWeight(f.Param.HWeightTable, 40, true, f.Param.HStep, 1);
    f.SetBlockInfo();
    ASSERT_EQ(f.Param.XBlocks, 1);
    const TWeightTableInfo &t = f.Param.HWeightTable.WeightTableInfo[0];
    EXPECT_EQ(f.Param.XBlockInfo[0].SrcOffset, t.SrcOffset / f.Param.HStep);
    EXPECT_EQ(f.Param.XBlockInfo[0].Count, WeightRowCount(t.pWeightTable));
  }
}

TEST_F(FilterTest, RefusesPoolLargerThanBuffersAndBrokenTables) {
  std::mt19937 rng(5);
  TSetterPtr lz = MakeSetter(RESIZE_LANCZOS, 3);
  TTestImage src(50, 20, 1, BPP_8, rng);
  TGrayFilter_i16 f;
  f.SetMaxThread(1);
  f.SetResizeParam(src.Img, 25, 20);
  lz->SetWeight(f.Param.HWeightTable, 50, false, f.Param.HStep, 25);
  f.SetBlockInfo();
  std::vector<uint8_t> dest(size_t(f.FDestBpl) * AllocRows(20));
  TMultiThread pool(3);
  EXPECT_THROW(f.Execute(src.Img.Mem, dest.data(), &pool), ETessivoError);
  // A row that reaches past the image is refused, not read.
  f.Param.HWeightTable.WeightTableInfo[24].SrcOffset += 100 * f.Param.HStep;
  EXPECT_THROW(f.Execute(src.Img.Mem, dest.data(), nullptr), ETessivoError);
}

// Passes given no work blocks (or blocks too small for a wide kernel) take
// temporary ones and compute the same samples.
TEST_F(FilterTest, PassesWithoutWorkBlocksGiveTheSameResult) {
  std::mt19937 rng(11);
  TSetterPtr lz = MakeSetter(RESIZE_LANCZOS, 32);
  for (int32_t kind : {RFK_RGBi, RFK_GRAYf, RFK_LRGBAf}) {
    const uint32_t ch = uint32_t(FilterVariants[kind].Channels);
    TTestImage src(97, 150, ch, BPP_8, rng);
    const bool isFloat = !FilterVariants[kind].IsInteger;
    std::unique_ptr<TCustomResizeFilter> f(CreateResizeFilter(kind));
    f->SetMaxThread(1);
    f->SetResizeParam(src.Img, 31, 41);
    lz->SetWeight(f->Param.HWeightTable, 97, isFloat, f->Param.HStep, 31);
    lz->SetWeight(f->Param.VWeightTable, 150, isFloat, int32_t(f->FTmpBpl), 41);
    f->SetBlockInfo();
    f->SetGammaTable(src.Img, MakeResizeGammaTables);
    std::vector<uint8_t> a(size_t(f->FDestBpl) * AllocRows(41)), b(a.size());
    f->Execute(src.Img.Mem, a.data(), nullptr);
    TResizeParam p = f->Param;
    p.Work = p.Work2 = nullptr;
    p.WorkSize = p.Work2Size = 0;
    p.Dest = b.data();
    p.AtomicCounter = 0;
    f->FFilterInfo->HVFilter(0, 1, &p);
    for (uint32_t y = 0; y < 41; ++y)
      EXPECT_EQ(std::memcmp(a.data() + y * f->FDestBpl, b.data() + y * f->FDestBpl, 31 * ch * 2), 0) << kind << " row " << y;
  }
}

// 16-bit samples would read as negative 14-bit ones, and a channel count
// other than the variant's would read past the pixels: both are refused.
TEST_F(FilterTest, RefusesSourcesThePassesCannotRead) {
  struct TCase {
    int32_t Kind;
    uint32_t Channels, BPP;
  };
  const TCase cases[] = {{RFK_RGBi, 3, BPP_16}, {RFK_LRGBf, 3, BPP_16}, {RFK_RGBi, 4, BPP_8}, {RFK_GRAYf, 3, BPP_8}};
  std::mt19937 rng(9);
  for (const TCase &c : cases) {
    TTestImage src(8, 8, c.Channels, c.BPP, rng);
    std::unique_ptr<TCustomResizeFilter> f(CreateResizeFilter(c.Kind));
    EXPECT_THROW(f->SetResizeParam(src.Img, 4, 4), ETessivoError) << c.Kind << " " << c.Channels << " " << c.BPP;
  }
}

TEST(FilterLibrary, MissingLibraryRaisesLoadLibraryErrorWithNothingBound) {
  FreeResizeLibrary();
  try {
    LoadResizeLibrary("/nonexistent-folder");
    FAIL() << "no exception";
  } catch (const ETessivoError &e) {
    EXPECT_NE(std::string(e.what()).find("LoadLibrary Error"), std::string::npos) << e.what();
  }
  EXPECT_EQ(ResizeLibrary(), nullptr);
  EXPECT_THROW(TRGBFilter_i16 f, ETessivoError);
}

// True when Code lies in a loaded libresize.so.
bool InResizeLibrary(TMultiThreadProc Code) {
  Dl_info where{};
  if (dladdr(reinterpret_cast<void *>(Code), &where) == 0 || !where.dli_fname) return false;
  const std::string file = where.dli_fname;
  return file.size() >= 12 && file.compare(file.size() - 12, 12, "libresize.so") == 0;
}

// Filters made with AVX allowed, with AVX refused and on the plain path stay
// usable whatever happens to the binding afterwards: the AVX option switched
// off and on (filters made anew), the library bound again, the binding
// forgotten, a load from a missing folder.
TEST(FilterLibrary, FiltersKeepWorkingAcrossAVXSwitchesAndReloads) {
  LoadResizeLibrary(TESSIVO_BIN_DIR);
  std::mt19937 rng(31);
  TTestImage src(97, 61, 3, BPP_8, rng);
  TSetterPtr lanczos = MakeSetter(RESIZE_LANCZOS, 3);
  const int32_t isas[] = {ResizeIsaFor(true), ResizeIsaFor(false), RISA_PLAIN};
  std::vector<std::unique_ptr<TCustomResizeFilter>> held;
  std::vector<std::vector<int16_t>> first;
  for (int32_t isa : isas) {
    held.push_back(PrepareResize(RFK_RGBi, isa, src.Img, 40, 90, lanczos.get(), lanczos.get(), 2));
    first.push_back(ExecuteResize(*held.back(), src.Img, 2));
  }
  const TResizeLibrary *bound = ResizeLibrary();
  for (bool avx : {false, true, false, true}) {
    held.push_back(PrepareResize(RFK_RGBi, ResizeIsaFor(avx), src.Img, 40, 90, lanczos.get(), lanczos.get(), 2));
    first.push_back(ExecuteResize(*held.back(), src.Img, 2));
    LoadResizeLibrary(TESSIVO_BIN_DIR);
  }
  EXPECT_EQ(ResizeLibrary(), bound) << "binding the same library again made a new record";
  FreeResizeLibrary();
  EXPECT_THROW(LoadResizeLibrary("/nonexistent-folder"), ETessivoError);
  for (size_t i = 0; i < held.size(); ++i) {
    SCOPED_TRACE("filter " + std::to_string(i));
    ASSERT_TRUE(InResizeLibrary(held[i]->FFilterInfo->HVFilter)) << "pass code unloaded under a live filter";
    EXPECT_EQ(ExecuteResize(*held[i], src.Img, 2), first[i]);
    EXPECT_EQ(first[i], first[0]);  // integer paths agree bit for bit
  }
  // With the library bound again, a failed load leaves the binding as it was.
  LoadResizeLibrary(TESSIVO_BIN_DIR);
  EXPECT_THROW(LoadResizeLibrary("/nonexistent-folder"), ETessivoError);
  EXPECT_EQ(ResizeLibrary(), bound);
}

// The AVX choice travels with each filter: refused, the SSE2 passes run;
// allowed, the AVX2 passes when the processor has them. Both give the plain
// reference's integers and the same floats within rounding, call after call
// in one process.
TEST(FilterLibrary, AVXChoiceIsMadePerFilterAndGivesThePlainResult) {
  LoadResizeLibrary(TESSIVO_BIN_DIR);
  const TResizeLibrary *lib = ResizeLibrary();
  ASSERT_NE(lib, nullptr);
  ASSERT_NE(lib->GetFilterInfoForIsa, nullptr);
  std::mt19937 rng(57);
  TSetterPtr h = MakeSetter(RESIZE_LANCZOS, 3), v = MakeSetter(RESIZE_BICUBIC, 0);
  for (const TPathCase &pc : PathCases) {
    SCOPED_TRACE("kind " + std::to_string(pc.Kind) + " bpp " + std::to_string(pc.BPP));
    const bool isInt = FilterVariants[pc.Kind].IsInteger;
    TTestImage src(83, 47, uint32_t(FilterVariants[pc.Kind].Channels), pc.BPP, rng);
    const std::vector<int16_t> ref = RunResize(pc.Kind, RISA_PLAIN, src.Img, 131, 29, h.get(), v.get(), 1);
    for (bool avx : {true, false, true, false}) {
      std::unique_ptr<TCustomResizeFilter> f(CreateResizeFilter(pc.Kind, ResizeIsaFor(avx)));
      const int32_t expected = avx && lib->HasAVX ? RISA_AVX2 : RISA_SSE2;
      EXPECT_EQ(f->FFilterInfo, lib->GetFilterInfoForIsa(pc.Kind, expected)) << "AVX " << avx;
      const std::vector<int16_t> got = RunResize(pc.Kind, ResizeIsaFor(avx), src.Img, 131, 29, h.get(), v.get(), 2);
      ASSERT_EQ(got.size(), ref.size());
      int worst = 0;
      for (size_t i = 0; i < ref.size(); ++i) worst = std::max(worst, std::abs(int(got[i]) - int(ref[i])));
      EXPECT_LE(worst, isInt ? 0 : 16) << "AVX " << avx;  // float: within 1e-3 of full scale
    }
  }
}

TEST(FilterLibrary, BindsEveryEntry) {
  LoadResizeLibrary(TESSIVO_BIN_DIR);
  for (int32_t k = 0; k < RFK_COUNT; ++k) {
    ASSERT_NE(ResizeLibrary()->GetFilterInfo[k], nullptr) << ResizeFilterEntryNames[k];
    const TResizeFilterInfo *info = ResizeLibrary()->GetFilterInfo[k](LongFalse);
    ASSERT_NE(info, nullptr);
    EXPECT_GT(info->HBlockSize, 0);
    EXPECT_GT(info->VBlockSize, 0);
    EXPECT_GT(info->TmpBPL, 0);
  }
}

}  // namespace
