// Drivers of the pixel-format conversions: validation of the layout, block
// allocation by the stride rule, kernel choice per call, and the scalar parts
// (dithering, table lookups).
#include "core/PixelConvert.h"

#include "core/Errors.h"
#include "core/PixelConvertKernels.h"
#include "core/PixelConvertMT.h"
#include "core/RowBands.h"
#include "core/SFMT.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <vector>

// ---- kernel choice ----

namespace {

thread_local TPixelPath g_ForcedPath = TPixelPath::Best;
std::atomic<int32_t> g_Dither{DITHER_NONE};

#if defined(__x86_64__) || defined(__i386__)
constexpr bool kHasSSE2 = true;
#else
constexpr bool kHasSSE2 = false;
#endif

// Bytes per sample of a depth code: 1 for 8, 2 for 14 and 16, 0 for unknown.
uint32_t SampleBytes(uint32_t BPP) { return BPP == BPP_8 ? 1 : (BPP == BPP_14 || BPP == BPP_16) ? 2 : 0; }

size_t RowBytes(const TICCImgInfo &Img) { return size_t(Img.Width) * Img.Channels * SampleBytes(Img.BPP); }

// Whether the record describes pixel memory that the kernels may walk: a block,
// a stride that holds a row, and a known depth.
bool Walkable(const TICCImgInfo &Img) {
  if (!Img.Mem || SampleBytes(Img.BPP) == 0) return false;
  if (Img.Bpl < RowBytes(Img)) throw ETessivoError("画像の行の長さが不正です");
  return true;
}

// Vector kernels run past the row end into the padding; a stride without the
// padding of the stride rule (a foreign buffer) takes the plain kernels.
bool Roomy(const TICCImgInfo &Img) { return Img.Bpl >= RowBytes(Img) + KERNEL_OVERRUN; }

const TPixelKernels &KernelsFor(const TICCImgInfo &Img) {
  return Roomy(Img) ? ActivePixelKernels() : PlainPixelKernels();
}

// Runs K over every row in place.
void InPlace(TICCImgInfo &Img, TRowKernel K, uint32_t Width, uint32_t Param = 0) {
  for (uint32_t y = 0; y < Img.Height; ++y) {
    uint8_t *row = ScanLine(Img, y);
    K(row, row, Width, Param);
  }
}

// Fills a new block of stride NewBpl from the image's rows with K, then
// releases the old block and stores the new Mem and Bpl.
void Replace(TICCImgInfo &Img, uint32_t NewBpl, TRowKernel K, uint32_t Width, uint32_t Param = 0) {
  uint8_t *mem = AllocPixelBlockReused(NewBpl, Img.Height);  // every row is written
  for (uint32_t y = 0; y < Img.Height; ++y) K(ScanLine(Img, y), mem + size_t(y) * NewBpl, Width, Param);
  PageFree(Img.Mem);
  Img.Mem = mem;
  Img.Bpl = NewBpl;
}

// A fresh record for a derived image (alpha, luma) with its own block.
void MakeDerived(const TICCImgInfo &Src, TICCImgInfo &Out, uint32_t Bpl, uint32_t BPP, uint32_t PixelFormat) {
  std::memset(&Out, 0, sizeof(Out));
  Out.Mem = AllocPixelBlock(Bpl, Src.Height);
  Out.Width = Src.Width;
  Out.Height = Src.Height;
  Out.Bpl = Bpl;
  Out.Channels = 1;
  Out.BPP = BPP;
  Out.PixelFormat = PixelFormat;
}

}  // namespace

namespace {

bool HasAVX2() {
#if defined(__x86_64__) || defined(__i386__)
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
#else
  return false;
#endif
}

}  // namespace

const TPixelKernels &ActivePixelKernels() {
#if defined(__x86_64__) || defined(__i386__)
  switch (g_ForcedPath) {
    case TPixelPath::Plain:
      return PlainPixelKernels();
    case TPixelPath::SSE2:
      return SSE2PixelKernels();
    default:
      return HasAVX2() ? AVX2PixelKernels() : SSE2PixelKernels();
  }
#else
  return PlainPixelKernels();
#endif
}

bool PixelPathAvailable(TPixelPath Path) {
  switch (Path) {
    case TPixelPath::SSE2:
      return kHasSSE2;
    case TPixelPath::AVX2:
      return HasAVX2();
    default:
      return true;
  }
}

TPixelPathScope::TPixelPathScope(TPixelPath Path) : FSaved(g_ForcedPath) { g_ForcedPath = Path; }
TPixelPathScope::~TPixelPathScope() { g_ForcedPath = FSaved; }

void SetDitherOption(int32_t Dither) { g_Dither.store(Dither, std::memory_order_relaxed); }
int32_t GetDitherOption() { return g_Dither.load(std::memory_order_relaxed); }

// ---- depth ----

void Convert16To14(TICCImgInfo &Img) {
  if (Img.BPP != BPP_16 || !Walkable(Img)) return;
  InPlace(Img, KernelsFor(Img).C16To14, Img.Width * Img.Channels);
  Img.BPP = BPP_14;
}

void Convert14To16(TICCImgInfo &Img) {
  if (Img.BPP != BPP_14 || !Walkable(Img)) return;
  InPlace(Img, KernelsFor(Img).C14To16, Img.Width * Img.Channels);
  Img.BPP = BPP_16;
}

void Convert16To8(TICCImgInfo &Img) {
  if (Img.BPP != BPP_16 || !Walkable(Img)) return;
  Replace(Img, GetAlignedBpl(Img.Width, Img.Channels), KernelsFor(Img).C16To8, Img.Width * Img.Channels);
  Img.BPP = BPP_8;
}

void Convert14To8(TICCImgInfo &Img) {
  if (Img.BPP != BPP_14 || !Walkable(Img)) return;
  Replace(Img, GetAlignedBpl(Img.Width, Img.Channels), KernelsFor(Img).C14To8, Img.Width * Img.Channels);
  Img.BPP = BPP_8;
}

namespace {

// Random thresholds, one byte per pixel, drawn from SFMT19937 seeded with 0.
// The buffer holds n 128-bit words, n = ceil(Width / 16) doubled until it
// exceeds the generator's state size; it is refilled when a row no longer fits.
class TDitherNoise {
public:
  explicit TDitherNoise(uint32_t Width) : FWidth(Width) {
    size_t n = std::max<size_t>(1, (size_t(Width) + 15) / 16);
    while (n <= size_t(TSFMT::N)) n *= 2;
    FWords = n;
    FBuf = static_cast<TW128 *>(HeapAlignedAlloc(n * sizeof(TW128), 16));
    Fill();
  }
  ~TDitherNoise() { HeapAlignedFree(FBuf); }
  TDitherNoise(const TDitherNoise &) = delete;
  TDitherNoise &operator=(const TDitherNoise &) = delete;

  // Thresholds for the next row.
  const uint8_t *NextRow() {
    if (FPos + FWidth > FWords * 16) Fill();
    const uint8_t *r = reinterpret_cast<const uint8_t *>(FBuf) + FPos;
    FPos += FWidth;
    return r;
  }

private:
  void Fill() {
    FGen.gen_rand_array(FBuf, int(FWords));
    FPos = 0;
  }

  TSFMT FGen{0};
  uint32_t FWidth;
  size_t FWords = 0;
  size_t FPos = 0;
  TW128 *FBuf = nullptr;
};

// 8-bit result of one sample with threshold R.
uint8_t Random14(int16_t V, uint8_t R) {
  const int32_t v = std::max<int32_t>(V, 0);
  return uint8_t(std::min(255, (v >> 6) + ((R & 63) < (v & 63) ? 1 : 0)));
}

uint8_t Random16(uint16_t V, uint8_t R) {
  const int32_t q = (int32_t(V) * 255 + 255) >> 16;  // floor(v / 257)
  const int32_t m = int32_t(V) - 257 * q;           // 0 to 256
  const int32_t r = R + (R >> 7);                   // 0 to 256
  return uint8_t(std::min(255, q + (r < m ? 1 : 0)));
}

// Rows are taken in memory order (bottom row of the picture first), so the
// thresholds of a row depend only on its position in the block.
template <class T, uint8_t (*Dither)(T, uint8_t)>
void ConvertRandom(TICCImgInfo &Img) {
  const uint32_t ch = Img.Channels, bpl = GetAlignedBpl(Img.Width, ch);
  uint8_t *mem = AllocPixelBlock(bpl, Img.Height);
  try {
    TDitherNoise noise(Img.Width);
    for (uint32_t y = 0; y < Img.Height; ++y) {
      const T *s = reinterpret_cast<const T *>(ScanLine(Img, y));
      uint8_t *d = mem + size_t(y) * bpl;
      const uint8_t *r = noise.NextRow();
      for (uint32_t x = 0; x < Img.Width; ++x)
        for (uint32_t c = 0; c < ch; ++c) d[x * ch + c] = Dither(s[x * ch + c], r[x]);
    }
  } catch (...) {
    PageFree(mem);
    throw;
  }
  PageFree(Img.Mem);
  Img.Mem = mem;
  Img.Bpl = bpl;
  Img.BPP = BPP_8;
}

// Quantisation of one sample for error diffusion: the 8-bit value and the error
// left over, in source units.
struct TQuant {
  uint8_t Q;
  int32_t E;
};

TQuant Quant16(int32_t V) {
  const int32_t q = (V * 255 + 255) >> 16;
  return {uint8_t(q), V - 257 * q};
}

TQuant Quant14(int32_t V) {
  if (V < 0) V = 0;
  return {uint8_t(V < 16384 ? V >> 6 : 255), V & 63};
}

// 16-bit sums saturate at 65535; 14-bit sums are plain 16-bit additions.
void Add16(uint16_t &S, int32_t E) { S = uint16_t(std::min<int32_t>(65535, S + E)); }
void Add14(int16_t &S, int32_t E) { S = int16_t(S + E); }

// Floyd-Steinberg over each channel, picture rows top to bottom, every row left
// to right; the errors go into the source samples still to be visited.
template <class T, TQuant (*Quant)(int32_t), void (*AddErr)(T &, int32_t)>
void ConvertDiffusion(TICCImgInfo &Img) {
  const uint32_t w = Img.Width, h = Img.Height, ch = Img.Channels, bpl = GetAlignedBpl(w, ch);
  uint8_t *mem = AllocPixelBlock(bpl, h);
  for (uint32_t py = 0; py < h; ++py) {
    const uint32_t memRow = h - 1 - py;
    T *cur = reinterpret_cast<T *>(ScanLine(Img, memRow));
    T *below = py + 1 < h ? reinterpret_cast<T *>(ScanLine(Img, memRow - 1)) : nullptr;
    uint8_t *d = mem + size_t(memRow) * bpl;
    for (uint32_t x = 0; x < w; ++x) {
      const bool last = x + 1 == w;
      for (uint32_t c = 0; c < ch; ++c) {
        const size_t i = size_t(x) * ch + c;
        const TQuant q = Quant(cur[i]);
        d[i] = q.Q;
        const int32_t e = q.E;
        if (!last) AddErr(cur[i + ch], (7 * e) >> 4);
        if (below) {
          if (x > 0) AddErr(below[i - ch], (3 * e) >> 4);
          AddErr(below[i], (5 * e) >> 4);
          if (!last) AddErr(below[i + ch], e >> 4);
        }
      }
    }
  }
  PageFree(Img.Mem);
  Img.Mem = mem;
  Img.Bpl = bpl;
  Img.BPP = BPP_8;
}

}  // namespace

void Convert16To8Random(TICCImgInfo &Img) {
  if (Img.BPP == BPP_16 && Walkable(Img)) ConvertRandom<uint16_t, Random16>(Img);
}

void Convert14To8Random(TICCImgInfo &Img) {
  if (Img.BPP == BPP_14 && Walkable(Img)) ConvertRandom<int16_t, Random14>(Img);
}

void Convert16To8Diffusion(TICCImgInfo &Img) {
  if (Img.BPP == BPP_16 && Walkable(Img)) ConvertDiffusion<uint16_t, Quant16, Add16>(Img);
}

void Convert14To8Diffusion(TICCImgInfo &Img) {
  if (Img.BPP == BPP_14 && Walkable(Img)) ConvertDiffusion<int16_t, Quant14, Add14>(Img);
}

void ConvertTo8Bit(TICCImgInfo &Img, bool UseDither, int32_t Dither) {
  const bool is16 = Img.BPP == BPP_16;
  if (!is16 && Img.BPP != BPP_14) return;
  if (UseDither && Dither == DITHER_RANDOM)
    is16 ? Convert16To8Random(Img) : Convert14To8Random(Img);
  else if (UseDither && Dither != DITHER_NONE)
    is16 ? Convert16To8Diffusion(Img) : Convert14To8Diffusion(Img);
  else
    is16 ? Convert16To8(Img) : Convert14To8(Img);
}

void ConvertTo8Bit(TICCImgInfo &Img, bool UseDither) { ConvertTo8Bit(Img, UseDither, GetDitherOption()); }

// ---- layout ----

void SwapRedBlue16(TICCImgInfo &Img) {
  if (SampleBytes(Img.BPP) != 2 || (Img.Channels != 3 && Img.Channels != 4) || !Walkable(Img)) return;
  const TPixelKernels &k = KernelsFor(Img);
  InPlace(Img, Img.Channels == 3 ? k.SwapRB16_3 : k.SwapRB16_4, Img.Width);
}

void SwapRedBlue32(TICCImgInfo &Img) {
  if (Img.BPP != BPP_8 || Img.Channels != 4 || !Walkable(Img)) return;
  InPlace(Img, KernelsFor(Img).SwapRB32, Img.Width);
}

void ExpandGrayAlpha(TICCImgInfo &Img) {
  if (Img.Channels != 2 || !Walkable(Img)) return;
  const TPixelKernels &k = KernelsFor(Img);
  const bool wide = SampleBytes(Img.BPP) == 2;
  Replace(Img, wide ? GetAlignedBpl16(Img.Width, 4) : GetAlignedBpl(Img.Width, 4), wide ? k.ExpandGA16 : k.ExpandGA8,
          Img.Width);
  Img.Channels = 4;
  Img.PixelFormat = PIXFMT_BGRA;
}

void NarrowToGrayAlpha(TICCImgInfo &Img) {
  if (Img.Channels != 4 || !Walkable(Img)) return;
  const TPixelKernels &k = KernelsFor(Img);
  const bool wide = SampleBytes(Img.BPP) == 2;
  Replace(Img, wide ? GetAlignedBpl16(Img.Width, 2) : GetAlignedBpl(Img.Width, 2), wide ? k.NarrowGA16 : k.NarrowGA8,
          Img.Width);
  Img.Channels = 2;
  Img.PixelFormat = PIXFMT_GRAYALPHA;
}

void ExtractAlpha14(const TICCImgInfo &Img, TICCImgInfo &Alpha) {
  std::memset(&Alpha, 0, sizeof(Alpha));
  if ((Img.Channels != 2 && Img.Channels != 4) || (Img.BPP != BPP_8 && Img.BPP != BPP_14) || !Walkable(Img)) return;
  const TPixelKernels &k = KernelsFor(Img);
  TRowKernel kern = Img.BPP == BPP_8 ? (Img.Channels == 2 ? k.Alpha8_2 : k.Alpha8_4)
                                     : (Img.Channels == 2 ? k.Alpha14_2 : k.Alpha14_4);
  MakeDerived(Img, Alpha, GetAlignedBpl16(Img.Width, 1), BPP_14, PIXFMT_GRAY);
  for (uint32_t y = 0; y < Img.Height; ++y) kern(ScanLine(Img, y), ScanLine(Alpha, y), Img.Width, 0);
}

void RestoreAlpha14(TICCImgInfo &Img, TICCImgInfo &Alpha) {
  const bool fits = (Img.Channels == 2 || Img.Channels == 4) && Img.BPP == BPP_14 && Alpha.Mem &&
                    Alpha.Channels == 1 && Alpha.BPP == BPP_14 && Alpha.Width == Img.Width &&
                    Alpha.Height == Img.Height && Alpha.Bpl >= size_t(Alpha.Width) * 2;
  if (fits && Walkable(Img)) {
    const TPixelKernels &k = Roomy(Img) && Roomy(Alpha) ? ActivePixelKernels() : PlainPixelKernels();
    const TRowKernel kern = Img.Channels == 2 ? k.Restore14_2 : k.Restore14_4;
    for (uint32_t y = 0; y < Img.Height; ++y) kern(ScanLine(Alpha, y), ScanLine(Img, y), Img.Width, 0);
  }
  FreeICCImgInfo(Alpha, false);
}

void FlattenAlpha(TICCImgInfo &Img, uint32_t BackgroundColor, const TBackgroundColorFunc &ToImageProfile) {
  const bool colour = Img.PixelFormat == PIXFMT_BGRA && Img.Channels == 4;
  const bool gray = Img.PixelFormat == PIXFMT_GRAYALPHA && Img.Channels == 2;
  if (!(colour || gray) || !Walkable(Img)) return;
  if (Img.BPP == BPP_16) Convert16To14(Img);
  // The configured colour is in the working space; the file's own is already
  // in the image's profile.
  if (!Img.hasBGColor && ToImageProfile) BackgroundColor = ToImageProfile(Img, BackgroundColor);
  const uint32_t bg = SwapRedBlue(Img.hasBGColor ? Img.BGColor : BackgroundColor);  // B,G,R bytes
  if (Img.Channels == 4 && Img.IsGrayAlpha) NarrowToGrayAlpha(Img);
  const bool wide = Img.BPP == BPP_14;
  const TPixelKernels &k = KernelsFor(Img);
  if (Img.Channels == 4) {
    Replace(Img, wide ? GetAlignedBpl16(Img.Width, 3) : GetAlignedBpl(Img.Width, 3),
            wide ? k.Flatten14_4 : k.Flatten8_4, Img.Width, bg);
    Img.Channels = 3;
    Img.PixelFormat = PIXFMT_BGR;
  } else {
    // The gray level is the colour's red (low COLORREF) byte.
    Replace(Img, wide ? GetAlignedBpl16(Img.Width, 1) : GetAlignedBpl(Img.Width, 1),
            wide ? k.Flatten14_2 : k.Flatten8_2, Img.Width, (bg >> 16) & 0xFF);
    Img.Channels = 1;
    Img.PixelFormat = PIXFMT_GRAY;
  }
  Img.IsGrayAlpha = LongFalse;
}

// ---- colour representations ----

void MakeLumaImage(const TICCImgInfo &Img, TICCImgInfo &Luma) {
  std::memset(&Luma, 0, sizeof(Luma));
  if ((Img.Channels != 3 && Img.Channels != 4) || (Img.BPP != BPP_8 && Img.BPP != BPP_14) || !Walkable(Img)) return;
  const TPixelKernels &k = KernelsFor(Img);
  const TRowKernel kern = Img.BPP == BPP_8 ? (Img.Channels == 3 ? k.Luma8_3 : k.Luma8_4)
                                           : (Img.Channels == 3 ? k.Luma14_3 : k.Luma14_4);
  MakeDerived(Img, Luma, GetAlignedBpl(Img.Width, 1), BPP_8, 0);
  for (uint32_t y = 0; y < Img.Height; ++y) kern(ScanLine(Img, y), ScanLine(Luma, y), Img.Width, 0);
}

void ConvertToYCC14(TICCImgInfo &Img) { ConvertToYCC14(Img, nullptr); }

void ConvertToYCC14(TICCImgInfo &Img, TMultiThread *MT) {
  if ((Img.Channels != 3 && Img.Channels != 4) || (Img.BPP != BPP_8 && Img.BPP != BPP_14) || !Walkable(Img)) return;
  const TPixelKernels &k = KernelsFor(Img);
  const uint32_t w = Img.Width;
  if (Img.BPP == BPP_8) {
    const TRowKernel kern = Img.Channels == 3 ? k.ToYCC8_3 : k.ToYCC8_4;
    const uint32_t bpl = GetAlignedBpl16(w, Img.Channels);
    uint8_t *mem = AllocPixelBlockReused(bpl, Img.Height);  // every row is written
    ForRowBands(MT, Img.Height, [&](uint32_t First, uint32_t Last) {
      for (uint32_t y = First; y < Last; ++y) kern(ScanLine(Img, y), mem + size_t(y) * bpl, w, 0);
    });
    PageFree(Img.Mem);
    Img.Mem = mem;
    Img.Bpl = bpl;
    Img.BPP = BPP_14;
  } else {
    const TRowKernel kern = Img.Channels == 3 ? k.ToYCC14_3 : k.ToYCC14_4;
    ForRowBands(MT, Img.Height, [&](uint32_t First, uint32_t Last) {
      for (uint32_t y = First; y < Last; ++y) kern(ScanLine(Img, y), ScanLine(Img, y), w, 0);
    });
  }
}

void ConvertFromYCC14(TICCImgInfo &Img) { ConvertFromYCC14(Img, nullptr); }

void ConvertFromYCC14(TICCImgInfo &Img, TMultiThread *MT) {
  if ((Img.Channels != 3 && Img.Channels != 4) || Img.BPP != BPP_14 || !Walkable(Img)) return;
  const TPixelKernels &k = KernelsFor(Img);
  const TRowKernel kern = Img.Channels == 3 ? k.FromYCC14_3 : k.FromYCC14_4;
  const uint32_t w = Img.Width;
  ForRowBands(MT, Img.Height, [&](uint32_t First, uint32_t Last) {
    for (uint32_t y = First; y < Last; ++y) kern(ScanLine(Img, y), ScanLine(Img, y), w, 0);
  });
}

namespace {

void CheckLumaRecords(const TICCImgInfo &Img, const TICCImgInfo &Luma, uint32_t Last) {
  if (Img.Channels != 3 || (Img.BPP != BPP_8 && Img.BPP != BPP_14) || !Walkable(Img) || Luma.Channels != 1 ||
      Luma.BPP != BPP_14 || !Walkable(Luma) || Luma.Width != Img.Width || Luma.Height != Img.Height ||
      Last > Img.Height)
    throw ETessivoError("輝度の行の形式が合いません");
}

}  // namespace

void LumaRows(const TICCImgInfo &Img, TICCImgInfo &Luma, uint32_t First, uint32_t Last) {
  CheckLumaRecords(Img, Luma, Last);
  const TPixelKernels &k = Roomy(Img) && Roomy(Luma) ? ActivePixelKernels() : PlainPixelKernels();
  const TRowKernel kern = Img.BPP == BPP_8 ? k.Y14Of8_3 : k.Y14Of14_3;
  for (uint32_t y = First; y < Last; ++y) kern(ScanLine(Img, y), ScanLine(Luma, y), Img.Width, 0);
}

void RowsWithLuma(const TICCImgInfo &Img, const TICCImgInfo &Luma, uint32_t First, uint32_t Last, TICCImgInfo &Dst) {
  CheckLumaRecords(Img, Luma, Last);
  if (Dst.Channels != 3 || Dst.BPP != BPP_14 || !Walkable(Dst) || Dst.Width != Img.Width || Dst.Height != Img.Height)
    throw ETessivoError("輝度の行の形式が合いません");
  const TPixelKernels &k = Roomy(Img) && Roomy(Luma) && Roomy(Dst) ? ActivePixelKernels() : PlainPixelKernels();
  const TLumaRowKernel kern = Img.BPP == BPP_8 ? k.WithY8_3 : k.WithY14_3;
  for (uint32_t y = First; y < Last; ++y)
    kern(ScanLine(Img, y), reinterpret_cast<const int16_t *>(ScanLine(Luma, y)), ScanLine(Dst, y), Img.Width);
}

void ConvertBGR14ToYCC8(TICCImgInfo &Img) {
  if (Img.Channels != 3 || Img.BPP != BPP_14 || !Walkable(Img)) return;
  Replace(Img, GetAlignedBpl(Img.Width, 3), KernelsFor(Img).BGR14ToYCC8, Img.Width);
  Img.BPP = BPP_8;
}

void Channel0To14(TICCImgInfo &Img) {
  if ((Img.Channels != 1 && Img.Channels != 3) || SampleBytes(Img.BPP) != 2 || !Walkable(Img)) return;
  const TPixelKernels &k = KernelsFor(Img);
  InPlace(Img, Img.Channels == 1 ? k.Ch0To14_1 : k.Ch0To14_3, Img.Width);
}

void Channel0From14(TICCImgInfo &Img) {
  if ((Img.Channels != 1 && Img.Channels != 3) || SampleBytes(Img.BPP) != 2 || !Walkable(Img)) return;
  const TPixelKernels &k = KernelsFor(Img);
  InPlace(Img, Img.Channels == 1 ? k.Ch0From14_1 : k.Ch0From14_3, Img.Width);
}

// ---- lookup tables ----
// Table lookups gather one entry per sample; the rows are split across the
// pool, each band running the plain loop.

namespace {

void NeedTable(std::span<const int16_t> LUT, size_t Size) {
  if (LUT.size() < Size) throw ETessivoError("ルックアップテーブルが短すぎます");
}

// A 14-bit sample as an index into a 16321-entry table.
size_t Index14(int32_t V) { return size_t(std::clamp(V, 0, FULL_SCALE_14)); }

template <class F>
void ForEachRow16(TICCImgInfo &Img, TMultiThread *MT, F Fn) {
  ForRowBands(MT, Img.Height, [&](uint32_t First, uint32_t Last) {
    for (uint32_t y = First; y < Last; ++y) Fn(reinterpret_cast<int16_t *>(ScanLine(Img, y)));
  });
}

// Fills a new 14-bit block from the 8-bit rows with Fn(src, dst), then takes it.
template <class F>
void Widen8To14(TICCImgInfo &Img, TMultiThread *MT, F Fn) {
  const uint32_t bpl = GetAlignedBpl16(Img.Width, Img.Channels);
  uint8_t *mem = AllocPixelBlockReused(bpl, Img.Height);  // every row is written
  ForRowBands(MT, Img.Height, [&](uint32_t First, uint32_t Last) {
    for (uint32_t y = First; y < Last; ++y)
      Fn(ScanLine(Img, y), reinterpret_cast<int16_t *>(mem + size_t(y) * bpl));
  });
  PageFree(Img.Mem);
  Img.Mem = mem;
  Img.Bpl = bpl;
  Img.BPP = BPP_14;
}

}  // namespace

void ApplyLUT8To14(TICCImgInfo &Img, std::span<const int16_t> LUT) { ApplyLUT8To14(Img, LUT, nullptr); }

void ApplyLUT8To14(TICCImgInfo &Img, std::span<const int16_t> LUT, TMultiThread *MT) {
  const uint32_t ch = Img.Channels;
  if (Img.BPP != BPP_8 || (ch != 1 && ch != 3 && ch != 4) || !Walkable(Img)) return;
  NeedTable(LUT, LUT8_SIZE);
  const uint32_t w = Img.Width;
  const int16_t *t = LUT.data();
  Widen8To14(Img, MT, [&](const uint8_t *s, int16_t *d) {
    if (ch == 1) {
      for (uint32_t x = 0; x < w; ++x) d[x] = t[768 + s[x]];
    } else if (ch == 3) {
      for (uint32_t x = 0; x < w; ++x, s += 3, d += 3) d[0] = t[s[0]], d[1] = t[256 + s[1]], d[2] = t[512 + s[2]];
    } else {
      for (uint32_t x = 0; x < w; ++x, s += 4, d += 4)
        d[0] = t[s[0]], d[1] = t[256 + s[1]], d[2] = t[512 + s[2]], d[3] = int16_t(s[3] * 64);
    }
  });
}

void ApplyGrayLUT8To14(TICCImgInfo &Img, std::span<const int16_t> LUT) { ApplyGrayLUT8To14(Img, LUT, nullptr); }

void ApplyGrayLUT8To14(TICCImgInfo &Img, std::span<const int16_t> LUT, TMultiThread *MT) {
  if (Img.BPP != BPP_8 || Img.Channels != 1 || !Walkable(Img)) return;
  NeedTable(LUT, 256);
  const uint32_t w = Img.Width;
  const int16_t *t = LUT.data();
  Widen8To14(Img, MT, [&](const uint8_t *s, int16_t *d) {
    for (uint32_t x = 0; x < w; ++x) d[x] = t[s[x]];
  });
}

void ApplyLUT14(TICCImgInfo &Img, std::span<const int16_t> LUT) { ApplyLUT14(Img, LUT, nullptr); }

void ApplyLUT14(TICCImgInfo &Img, std::span<const int16_t> LUT, TMultiThread *MT) {
  const uint32_t ch = Img.Channels, w = Img.Width;
  if (Img.BPP != BPP_14 || (ch != 1 && ch != 3 && ch != 4) || !Walkable(Img)) return;
  NeedTable(LUT, LUT14_SIZE);
  constexpr size_t G = LUT14_ENTRIES, R = 2 * LUT14_ENTRIES, Gray = 3 * LUT14_ENTRIES;
  ForEachRow16(Img, MT, [&](int16_t *s) {
    if (ch == 1) {
      for (uint32_t x = 0; x < w; ++x) s[x] = LUT[Gray + Index14(s[x])];
    } else {
      for (uint32_t x = 0; x < w; ++x) {
        int16_t *p = s + ch * x;
        p[0] = LUT[Index14(p[0])], p[1] = LUT[G + Index14(p[1])], p[2] = LUT[R + Index14(p[2])];
      }
    }
  });
}

void ApplyLUT14Channel0(TICCImgInfo &Img, std::span<const int16_t> LUT) { ApplyLUT14Channel0(Img, LUT, nullptr); }

void ApplyLUT14Channel0(TICCImgInfo &Img, std::span<const int16_t> LUT, TMultiThread *MT) {
  const uint32_t ch = Img.Channels, w = Img.Width;
  if (Img.BPP != BPP_14 || (ch != 1 && ch != 3 && ch != 4) || !Walkable(Img)) return;
  NeedTable(LUT, LUT14_ENTRIES);
  ForEachRow16(Img, MT, [&](int16_t *s) {
    for (uint32_t x = 0; x < w; ++x) s[ch * x] = LUT[Index14(s[ch * x])];
  });
}

void ApplyYCCLUT14(TICCImgInfo &Img, std::span<const int16_t> LUT) { ApplyYCCLUT14(Img, LUT, nullptr); }

void ApplyYCCLUT14(TICCImgInfo &Img, std::span<const int16_t> LUT, TMultiThread *MT) {
  const uint32_t ch = Img.Channels, w = Img.Width;
  if (Img.BPP != BPP_14 || (ch != 1 && ch != 3 && ch != 4) || !Walkable(Img)) return;
  if (ch == 1) {
    NeedTable(LUT, LUT14_ENTRIES);
    ForEachRow16(Img, MT, [&](int16_t *s) {
      for (uint32_t x = 0; x < w; ++x) s[x] = LUT[Index14(s[x])];
    });
    return;
  }
  NeedTable(LUT, YCC_LUT14_SIZE);
  // Chroma -8160..8160 indexes the second table at 16321 + 8160 = 24481.
  constexpr int32_t C0 = int32_t(LUT14_ENTRIES) + 8160;
  auto chroma = [&](int16_t c) { return int16_t(LUT[size_t(C0 + std::clamp<int32_t>(c, -8160, 8160))] - 8160); };
  ForEachRow16(Img, MT, [&](int16_t *s) {
    for (uint32_t x = 0; x < w; ++x) {
      int16_t *p = s + ch * x;
      p[0] = LUT[Index14(p[0])], p[1] = chroma(p[1]), p[2] = chroma(p[2]);
    }
  });
}

void ApplyYCCStages(TICCImgInfo &Img, const TYCCStages &S, TMultiThread *MT) {
  const uint32_t ch = Img.Channels, w = Img.Width;
  if ((ch != 3 && ch != 4) || (Img.BPP != BPP_8 && Img.BPP != BPP_14) || !Walkable(Img)) return;
  NeedTable(S.Luma, LUT14_ENTRIES);
  if (!S.Chroma.empty()) NeedTable(S.Chroma, LUT14_ENTRIES);
  if (!S.RGB.empty()) NeedTable(S.RGB, LUT14_SIZE);
  const bool from8 = Img.BPP == BPP_8;
  // The kernels touch nothing past a row, so every stride takes the best ones.
  const TPixelKernels &k = ActivePixelKernels();
  const TYCCStagesKernel kern =
      from8 ? (ch == 3 ? k.YCCStages8_3 : k.YCCStages8_4) : (ch == 3 ? k.YCCStages14_3 : k.YCCStages14_4);
  // A chroma table that maps every entry to itself is not looked up at all.
  bool chromaIdentity = true;
  for (size_t j = 0; j < S.Chroma.size() && j < LUT14_ENTRIES && chromaIdentity; ++j) chromaIdentity = S.Chroma[j] == int16_t(j);
  // Luma and chroma copied with one spare entry each, which the vector
  // kernels may read (the caller's tables may end at their last entry).
  std::vector<int16_t> padded(2 * (LUT14_ENTRIES + 1));
  std::copy_n(S.Luma.begin(), LUT14_ENTRIES, padded.begin());
  if (!chromaIdentity) std::copy_n(S.Chroma.begin(), LUT14_ENTRIES, padded.begin() + LUT14_ENTRIES + 1);
  const TYCCStageTables tables{padded.data(), chromaIdentity ? nullptr : padded.data() + LUT14_ENTRIES + 1,
                               S.RGB.empty() ? nullptr : S.RGB.data()};
  // 8-bit input goes to a new 14-bit block; 14-bit input is rewritten in place, at its own stride.
  const uint32_t bpl = from8 ? GetAlignedBpl16(w, ch) : Img.Bpl;
  uint8_t *mem = from8 ? AllocPixelBlockReused(bpl, Img.Height) : Img.Mem;  // every row is written
  ForRowBands(MT, Img.Height, [&](uint32_t First, uint32_t Last) {
    for (uint32_t y = First; y < Last; ++y) kern(ScanLine(Img, y), mem + size_t(y) * bpl, w, tables);
  });
  if (from8) {
    PageFree(Img.Mem);
    Img.Mem = mem;
    Img.Bpl = bpl;
    Img.BPP = BPP_14;
  }
}
