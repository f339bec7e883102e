// Quarter turns by tiled or blocked transposition, half turns, mirrors and flips,
// and the choice of the block kernels.
//
// Rows are stored bottom-up (memory row 0 is the bottom of the picture). In
// memory coordinates a clockwise quarter turn of the picture reads
//   new row r, column c  <-  old row c, column W-1-r
// and a counter-clockwise one
//   new row r, column c  <-  old row H-1-c, column r,
// so both are a transposition that walks the old rows up or down.
#include "effects/Geometry.h"

#include "core/Errors.h"
#include "core/MultiThread.h"
#include "core/RowBands.h"
#include "effects/GeometryKernels.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

namespace {

// Edge of the square tiles: 64 rows of 64 pixels of up to 8 bytes is 32 KiB
// read and 32 KiB written, so a tile's source lines stay in L1/L2 while its
// destination rows are written in full.
constexpr uint32_t Tile = 64;

template <size_t P>
struct TPx {
  uint8_t b[P];
};

uint32_t PixelBytes(const TICCImgInfo &Img) {
  if (!Img.Mem || Img.Width == 0 || Img.Height == 0) throw ETessivoError("画像がありません");
  const uint32_t bytes = Img.Channels * (Img.BPP == BPP_8 ? 1u : 2u);
  if (Img.Channels < 1 || bytes > 8) throw ETessivoError("この画素形式は回転できません");
  return bytes;
}

uint32_t StrideFor(const TICCImgInfo &Img, uint32_t Width) {
  return Img.BPP == BPP_8 ? GetAlignedBpl(Width, Img.Channels) : GetAlignedBpl16(Width, Img.Channels);
}

// Destination rows [RowFirst, RowLast) and columns [ColFirst, ColLast) of a
// quarter turn, tile by tile, one pixel at a time.
template <size_t P>
void TransposeRows(const TICCImgInfo &Src, uint8_t *Dst, uint32_t DstBpl, bool Clockwise, uint32_t RowFirst,
                   uint32_t RowLast, uint32_t ColFirst, uint32_t ColLast) {
  const uint32_t W = Src.Width, H = Src.Height;
  const ptrdiff_t step = Clockwise ? ptrdiff_t(Src.Bpl) : -ptrdiff_t(Src.Bpl);
  for (uint32_t r0 = RowFirst; r0 < RowLast; r0 += Tile) {
    const uint32_t r1 = std::min(r0 + Tile, RowLast);
    for (uint32_t c0 = ColFirst; c0 < ColLast; c0 += Tile) {
      const uint32_t c1 = std::min(c0 + Tile, ColLast);
      for (uint32_t r = r0; r < r1; ++r) {
        const uint32_t srcRow = Clockwise ? c0 : H - 1 - c0;
        const uint32_t srcCol = Clockwise ? W - 1 - r : r;
        const uint8_t *s = Src.Mem + size_t(srcRow) * Src.Bpl + size_t(srcCol) * P;
        auto *d = reinterpret_cast<TPx<P> *>(Dst + size_t(r) * DstBpl);
        for (uint32_t c = c0; c < c1; ++c, s += step) std::memcpy(&d[c], s, P);
      }
    }
  }
}

// Destination columns gathered per step of the block path: 64 pixels of 1, 3
// or 4 bytes are whole cache lines, which lets the rows be streamed out.
constexpr uint32_t Chunk = 64;
// Destination rows per band of the block path. Each step reads a run of
// Band * P bytes from each of Chunk source rows, long enough for the
// hardware prefetcher, and keeps Band rows of one chunk (at most 128 KiB) in
// a scratch block near the core.
constexpr uint32_t Band = 512;

// One block of a quarter turn: destination rows R..R+B-1, columns C..C+B-1,
// written to Out (the destination's row R at column C, or the scratch
// block's) with row stride OutStride. Clockwise the block's source columns
// run right to left, so its rows are written from the bottom of the block up.
template <size_t P>
void TurnBlock(const TICCImgInfo &Src, bool Clockwise, uint32_t R, uint32_t C, uint8_t *Out, ptrdiff_t OutStride,
               TBlockTranspose Block) {
  constexpr uint32_t B = TRANSPOSE_BLOCK;
  const uint32_t srcRow = Clockwise ? C : Src.Height - 1 - C;
  const uint32_t srcCol = Clockwise ? Src.Width - R - B : R;
  const ptrdiff_t srcStep = Clockwise ? ptrdiff_t(Src.Bpl) : -ptrdiff_t(Src.Bpl);
  Block(Src.Mem + size_t(srcRow) * Src.Bpl + size_t(srcCol) * P, srcStep,
        Clockwise ? Out + (B - 1) * OutStride : Out, Clockwise ? -OutStride : OutStride);
}

// Destination rows [RowFirst, RowLast) by blocks of the kernel, band by band.
// A band walks the source rows from first to last a chunk at a time: the
// chunk's blocks go to the scratch block, whose rows are then copied (or
// streamed past the cache when Stream is set) into the destination rows, so
// that every destination row is written left to right in whole cache lines.
// Columns past the last whole chunk take the blocks straight to the
// destination, and what is left at the right and at the bottom of a band
// goes one pixel at a time.
template <size_t P>
void TransposeBlocks(const TICCImgInfo &Src, uint8_t *Dst, uint32_t DstBpl, bool Clockwise, uint32_t RowFirst,
                     uint32_t RowLast, const TTransposeKernels &K, TBlockTranspose Block, bool Stream,
                     uint8_t *Scratch) {
  constexpr uint32_t B = TRANSPOSE_BLOCK;
  constexpr size_t ScratchBpl = Chunk * P;
  const uint32_t H = Src.Height;
  const uint32_t chunkCols = H / Chunk * Chunk, blockCols = H / B * B;
  for (uint32_t b0 = RowFirst; b0 < RowLast; b0 += Band) {
    const uint32_t b1 = std::min(b0 + Band, RowLast);
    const uint32_t rows = (b1 - b0) / B * B;
    for (uint32_t c0 = 0; c0 < chunkCols; c0 += Chunk) {
      // The band's run of each source row of the next chunk.
      if (c0 + 2 * Chunk <= chunkCols)
        for (uint32_t j = c0 + Chunk; j < c0 + 2 * Chunk; ++j) {
          const uint8_t *run = Src.Mem + size_t(Clockwise ? j : H - 1 - j) * Src.Bpl +
                               size_t(Clockwise ? Src.Width - b0 - rows : b0) * P;
          for (size_t o = 0; o < rows * P; o += 64) __builtin_prefetch(run + o);
        }
      for (uint32_t k = 0; k < Chunk; k += B)
        for (uint32_t r0 = b0; r0 < b0 + rows; r0 += B)
          TurnBlock<P>(Src, Clockwise, r0, c0 + k, Scratch + (r0 - b0) * ScratchBpl + k * P, ScratchBpl, Block);
      uint8_t *out = Dst + size_t(b0) * DstBpl + size_t(c0) * P;
      if (Stream) K.StreamRows(Scratch, ScratchBpl, out, DstBpl, rows, ScratchBpl);
      else
        for (uint32_t i = 0; i < rows; ++i) std::memcpy(out + i * size_t(DstBpl), Scratch + i * ScratchBpl, ScratchBpl);
    }
    for (uint32_t c0 = chunkCols; c0 < blockCols; c0 += B)
      for (uint32_t r0 = b0; r0 < b0 + rows; r0 += B)
        TurnBlock<P>(Src, Clockwise, r0, c0, Dst + size_t(r0) * DstBpl + size_t(c0) * P, DstBpl, Block);
    TransposeRows<P>(Src, Dst, DstBpl, Clockwise, b0, b0 + rows, blockCols, H);
    TransposeRows<P>(Src, Dst, DstBpl, Clockwise, b0 + rows, b1, 0, H);
  }
}

template <size_t P>
TBlockTranspose BlockKernel(const TTransposeKernels &K) {
  if constexpr (P == 1) return K.Px1;
  else if constexpr (P == 3) return K.Px3;
  else if constexpr (P == 4) return K.Px4;
  else return nullptr;
}

template <size_t P>
void Rotate90Tiled(TICCImgInfo &Img, bool Clockwise, TMultiThread *Pool) {
  const uint32_t newW = Img.Height, newH = Img.Width;
  const uint32_t bpl = StrideFor(Img, newW);
  uint8_t *mem = AllocPixelBlockReused(bpl, newH);  // every row is written
  const TTransposeKernels &kernels = ActiveTransposeKernels();
  const TBlockTranspose block = Img.BPP == BPP_8 ? BlockKernel<P>(kernels) : nullptr;
  if (block) {
    // Streaming stores need rows on 16-byte boundaries, which the new block has.
    const bool stream = kernels.StreamRows && size_t(bpl) * newH >= TRANSPOSE_STREAM_BYTES &&
                        (reinterpret_cast<uintptr_t>(mem) | bpl) % 16 == 0;
    // Whole block rows per thread, so that no two threads share a block.
    constexpr uint32_t B = TRANSPOSE_BLOCK;
    const uint32_t blockRows = (newH + B - 1) / B;
    ForRowBands(Pool, blockRows, [&](uint32_t First, uint32_t Last) {
      const std::unique_ptr<uint8_t, void (*)(void *)> scratch(
          static_cast<uint8_t *>(HeapAlignedAlloc(size_t(Band) * Chunk * P, 64)), HeapAlignedFree);
      TransposeBlocks<P>(Img, mem, bpl, Clockwise, First * B, std::min(Last * B, newH), kernels, block, stream,
                         scratch.get());
    });
  } else {
    // Whole tile rows per thread, so that no two threads share a tile.
    const uint32_t bands = (newH + Tile - 1) / Tile;
    ForRowBands(Pool, bands, [&](uint32_t First, uint32_t Last) {
      TransposeRows<P>(Img, mem, bpl, Clockwise, First * Tile, std::min(Last * Tile, newH), 0, newW);
    });
  }
  PageFree(Img.Mem);
  Img.Mem = mem;
  Img.Bpl = bpl;
  Img.Width = newW;
  Img.Height = newH;
}

template <size_t P>
void Rotate180Rows(TICCImgInfo &Img, uint32_t First, uint32_t Last) {
  const uint32_t W = Img.Width, H = Img.Height;
  for (uint32_t r = First; r < Last; ++r) {
    auto *a = reinterpret_cast<TPx<P> *>(ScanLine(Img, r));
    auto *b = reinterpret_cast<TPx<P> *>(ScanLine(Img, H - 1 - r));
    if (a == b) {
      std::reverse(a, a + W);
      continue;
    }
    for (uint32_t x = 0; x < W; ++x) std::swap(a[x], b[W - 1 - x]);
  }
}

template <size_t P>
void MirrorRows(TICCImgInfo &Img, uint32_t First, uint32_t Last) {
  for (uint32_t r = First; r < Last; ++r) {
    auto *a = reinterpret_cast<TPx<P> *>(ScanLine(Img, r));
    std::reverse(a, a + Img.Width);
  }
}

// Calls Fn.template operator()<P>() for the image's pixel size.
template <class F>
void ForPixelSize(uint32_t Bytes, F &&Fn) {
  switch (Bytes) {
    case 1: Fn.template operator()<1>(); break;
    case 2: Fn.template operator()<2>(); break;
    case 3: Fn.template operator()<3>(); break;
    case 4: Fn.template operator()<4>(); break;
    case 6: Fn.template operator()<6>(); break;
    case 8: Fn.template operator()<8>(); break;
    default: throw ETessivoError("この画素形式は回転できません");
  }
}

thread_local TRotatePath g_ForcedPath = TRotatePath::Best;

constexpr TTransposeKernels kPlainKernels{nullptr, nullptr, nullptr, nullptr};
#if defined(__x86_64__) || defined(__i386__)
constexpr TTransposeKernels kSSE2Kernels{geometry_sse2::Transpose1, nullptr, geometry_sse2::Transpose4,
                                         geometry_sse2::StreamRows};
constexpr TTransposeKernels kSSSE3Kernels{geometry_sse2::Transpose1, geometry_ssse3::Transpose3,
                                          geometry_sse2::Transpose4, geometry_sse2::StreamRows};

bool HasSSSE3() {
  static const bool has = __builtin_cpu_supports("ssse3");
  return has;
}
#endif

}  // namespace

const TTransposeKernels &ActiveTransposeKernels() {
#if defined(__x86_64__) || defined(__i386__)
  switch (g_ForcedPath) {
    case TRotatePath::Plain: return kPlainKernels;
    case TRotatePath::SSE2: return kSSE2Kernels;
    default: return HasSSSE3() ? kSSSE3Kernels : kSSE2Kernels;
  }
#else
  return kPlainKernels;
#endif
}

bool RotatePathAvailable(TRotatePath Path) {
#if defined(__x86_64__) || defined(__i386__)
  return Path != TRotatePath::SSSE3 || HasSSSE3();
#else
  return Path == TRotatePath::Best || Path == TRotatePath::Plain;
#endif
}

TRotatePathScope::TRotatePathScope(TRotatePath Path) : FSaved(g_ForcedPath) { g_ForcedPath = Path; }
TRotatePathScope::~TRotatePathScope() { g_ForcedPath = FSaved; }

void Rotate90CW(TICCImgInfo &Img, TMultiThread *Pool) {
  ForPixelSize(PixelBytes(Img), [&]<size_t P>() { Rotate90Tiled<P>(Img, true, Pool); });
}

void Rotate90CCW(TICCImgInfo &Img, TMultiThread *Pool) {
  ForPixelSize(PixelBytes(Img), [&]<size_t P>() { Rotate90Tiled<P>(Img, false, Pool); });
}

void Rotate180(TICCImgInfo &Img, TMultiThread *Pool) {
  ForPixelSize(PixelBytes(Img), [&]<size_t P>() {
    // Each row pairs with its opposite; the lower half (and a middle row) names the pairs.
    ForRowBands(Pool, (Img.Height + 1) / 2, [&](uint32_t First, uint32_t Last) { Rotate180Rows<P>(Img, First, Last); });
  });
}

void MirrorLeftRight(TICCImgInfo &Img, TMultiThread *Pool) {
  ForPixelSize(PixelBytes(Img), [&]<size_t P>() {
    ForRowBands(Pool, Img.Height, [&](uint32_t First, uint32_t Last) { MirrorRows<P>(Img, First, Last); });
  });
}

void FlipTopBottom(TICCImgInfo &Img, TMultiThread *Pool) {
  const size_t bytes = size_t(PixelBytes(Img)) * Img.Width;
  const uint32_t H = Img.Height;
  ForRowBands(Pool, H / 2, [&](uint32_t First, uint32_t Last) {
    for (uint32_t r = First; r < Last; ++r) std::swap_ranges(ScanLine(Img, r), ScanLine(Img, r) + bytes, ScanLine(Img, H - 1 - r));
  });
}

void ApplyGeometryOp(TICCImgInfo &Img, TGeometryOp Op, TMultiThread *Pool) {
  switch (Op) {
    case TGeometryOp::Rotate90CW: Rotate90CW(Img, Pool); break;
    case TGeometryOp::Rotate180: Rotate180(Img, Pool); break;
    case TGeometryOp::Rotate90CCW: Rotate90CCW(Img, Pool); break;
    case TGeometryOp::MirrorLeftRight: MirrorLeftRight(Img, Pool); break;
    case TGeometryOp::FlipTopBottom: FlipTopBottom(Img, Pool); break;
  }
}

void Rotate90Plain(TICCImgInfo &Img, bool Clockwise) {
  const uint32_t P = PixelBytes(Img);
  const uint32_t W = Img.Width, H = Img.Height;
  TICCImgInfo dst = Img;
  dst.Width = H;
  dst.Height = W;
  dst.Bpl = StrideFor(Img, H);
  dst.Mem = AllocPixelBlock(dst.Bpl, W);
  // Picture coordinates: the new (x, y) shows the old pixel the turn brings there.
  for (uint32_t y = 0; y < W; ++y)
    for (uint32_t x = 0; x < H; ++x) {
      const uint32_t sx = Clockwise ? y : W - 1 - y;
      const uint32_t sy = Clockwise ? H - 1 - x : x;
      std::memcpy(PictureRow(dst, y) + size_t(x) * P, PictureRow(Img, sy) + size_t(sx) * P, P);
    }
  PageFree(Img.Mem);
  Img.Mem = dst.Mem;
  Img.Bpl = dst.Bpl;
  Img.Width = dst.Width;
  Img.Height = dst.Height;
}
