// Quarter turns by tiled transposition, half turns, mirrors and flips.
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

#include <algorithm>
#include <cstring>
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

// Runs Fn(First, Last) over [0, Count) split across the pool's threads.
template <class F>
void ForRanges(TMultiThread *Pool, uint32_t Count, const F &Fn) {
  if (!Pool || Pool->MaxThread() <= 1 || Count < 2) {
    Fn(0u, Count);
    return;
  }
  struct TJob {
    const F *Fn;
    uint32_t Count;
  } job{&Fn, Count};
  Pool->exec_multi_thread_func(
      [](int32_t Index, int32_t Threads, void *Param) {
        const auto *j = static_cast<const TJob *>(Param);
        const TRowRange r = SplitRange(j->Count, Index, Threads);
        if (!r.empty()) (*j->Fn)(r.First, r.Last);
      },
      &job);
}

// Destination rows [RowFirst, RowLast) of a quarter turn, tile by tile.
template <size_t P>
void TransposeRows(const TICCImgInfo &Src, uint8_t *Dst, uint32_t DstBpl, bool Clockwise, uint32_t RowFirst,
                   uint32_t RowLast) {
  const uint32_t W = Src.Width, H = Src.Height;
  const ptrdiff_t step = Clockwise ? ptrdiff_t(Src.Bpl) : -ptrdiff_t(Src.Bpl);
  for (uint32_t r0 = RowFirst; r0 < RowLast; r0 += Tile) {
    const uint32_t r1 = std::min(r0 + Tile, RowLast);
    for (uint32_t c0 = 0; c0 < H; c0 += Tile) {
      const uint32_t c1 = std::min(c0 + Tile, H);
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

template <size_t P>
void Rotate90Tiled(TICCImgInfo &Img, bool Clockwise, TMultiThread *Pool) {
  const uint32_t newW = Img.Height, newH = Img.Width;
  const uint32_t bpl = StrideFor(Img, newW);
  uint8_t *mem = AllocPixelBlockReused(bpl, newH);  // every row is written
  // Whole tile rows per thread, so that no two threads share a tile.
  const uint32_t bands = (newH + Tile - 1) / Tile;
  ForRanges(Pool, bands, [&](uint32_t First, uint32_t Last) {
    TransposeRows<P>(Img, mem, bpl, Clockwise, First * Tile, std::min(Last * Tile, newH));
  });
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

}  // namespace

void Rotate90CW(TICCImgInfo &Img, TMultiThread *Pool) {
  ForPixelSize(PixelBytes(Img), [&]<size_t P>() { Rotate90Tiled<P>(Img, true, Pool); });
}

void Rotate90CCW(TICCImgInfo &Img, TMultiThread *Pool) {
  ForPixelSize(PixelBytes(Img), [&]<size_t P>() { Rotate90Tiled<P>(Img, false, Pool); });
}

void Rotate180(TICCImgInfo &Img, TMultiThread *Pool) {
  ForPixelSize(PixelBytes(Img), [&]<size_t P>() {
    // Each row pairs with its opposite; the lower half (and a middle row) names the pairs.
    ForRanges(Pool, (Img.Height + 1) / 2, [&](uint32_t First, uint32_t Last) { Rotate180Rows<P>(Img, First, Last); });
  });
}

void MirrorLeftRight(TICCImgInfo &Img, TMultiThread *Pool) {
  ForPixelSize(PixelBytes(Img), [&]<size_t P>() {
    ForRanges(Pool, Img.Height, [&](uint32_t First, uint32_t Last) { MirrorRows<P>(Img, First, Last); });
  });
}

void FlipTopBottom(TICCImgInfo &Img, TMultiThread *Pool) {
  const size_t bytes = size_t(PixelBytes(Img)) * Img.Width;
  const uint32_t H = Img.Height;
  ForRanges(Pool, H / 2, [&](uint32_t First, uint32_t Last) {
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
