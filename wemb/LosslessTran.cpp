// losslesstran: crop, the eight orientation transforms, grayscale, optimised
// Huffman tables and progressive coding, all on the quantised DCT
// coefficients, so that no pixel is decoded or re-quantised.
#include "wemb/WembInternal.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace wemb {
namespace {

// Orientation codes that swap the axes, and those that read the source's x or
// y axis backwards (and so need whole MCUs on that axis).
constexpr bool Transposes(int T) { return T >= 5; }
constexpr bool ReversesX(int T) { return T == 2 || T == 3 || T == 7 || T == 8; }
constexpr bool ReversesY(int T) { return T == 3 || T == 4 || T == 6 || T == 7; }

// How one 8 x 8 block's coefficients move: Out[i] = Sign[i] * In[From[i]], in
// natural order (row v of vertical frequencies, column u of horizontal ones).
// Mirroring an axis negates the odd frequencies of that axis; transposing the
// pixels transposes the coefficients.
struct TCoefMap {
  std::array<uint8_t, DCTSIZE2> From{};
  std::array<int8_t, DCTSIZE2> Sign{};
};

constexpr TCoefMap MakeCoefMap(int T) {
  TCoefMap m;
  for (int v = 0; v < DCTSIZE; ++v)
    for (int u = 0; u < DCTSIZE; ++u) {
      const int i = v * DCTSIZE + u;
      m.From[i] = uint8_t(Transposes(T) ? u * DCTSIZE + v : i);
      // After an optional transpose the output's own axes are mirrored:
      // codes 2, 3, 6, 7 mirror the output left-right, 3, 4, 7, 8 top-bottom.
      const bool flipU = T == 2 || T == 3 || T == 6 || T == 7;
      const bool flipV = T == 3 || T == 4 || T == 7 || T == 8;
      const int odd = (flipU ? u & 1 : 0) + (flipV ? v & 1 : 0);
      m.Sign[i] = int8_t(odd & 1 ? -1 : 1);
    }
  return m;
}

// The source block, within a region of RegionW x RegionH blocks, that output
// block (X, Y) comes from.
constexpr void SourceBlock(int T, JDIMENSION X, JDIMENSION Y, JDIMENSION RegionW, JDIMENSION RegionH, JDIMENSION &SX,
                        JDIMENSION &SY) {
  switch (T) {
    case 2: SX = RegionW - 1 - X; SY = Y; break;
    case 3: SX = RegionW - 1 - X; SY = RegionH - 1 - Y; break;
    case 4: SX = X; SY = RegionH - 1 - Y; break;
    case 5: SX = Y; SY = X; break;
    case 6: SX = Y; SY = RegionH - 1 - X; break;
    case 7: SX = RegionW - 1 - Y; SY = RegionH - 1 - X; break;
    case 8: SX = RegionW - 1 - Y; SY = X; break;
    default: SX = X; SY = Y; break;
  }
}

JDIMENSION CeilDiv(JDIMENSION A, JDIMENSION B) { return (A + B - 1) / B; }

// Row pointers of a realised coefficient array. libjpeg-turbo keeps every
// virtual array in memory, so the rows stay where they are while we work.
std::vector<JBLOCKROW> RowsOf(j_common_ptr Info, jvirt_barray_ptr Array, JDIMENSION Rows, boolean Writable) {
  std::vector<JBLOCKROW> rows(Rows);
  for (JDIMENSION r = 0; r < Rows; ++r) rows[r] = Info->mem->access_virt_barray(Info, Array, r, 1, Writable)[0];
  return rows;
}

// Where the output blocks of one component come from: a region of RegionW x
// RegionH source blocks starting at block (OffX, OffY), giving Width x Height
// output blocks.
struct TBlockRegion {
  JDIMENSION OffX = 0, OffY = 0, RegionW = 0, RegionH = 0, Width = 0, Height = 0;
};

// One block through transform T; the map is fixed at compile time, so the
// loop becomes 64 plain moves and negations.
template <int T> inline void TransformBlock(const JCOEF *From, JCOEF *To) {
  static constexpr TCoefMap Map = MakeCoefMap(T);
#pragma GCC unroll 64
  for (int i = 0; i < DCTSIZE2; ++i) To[i] = JCOEF(Map.Sign[i] * From[Map.From[i]]);
}

// Side of the square tiles of output blocks that a transposing transform
// walks, so that it reads a few neighbouring source blocks of one row for
// each output column instead of one block per source row.
constexpr JDIMENSION TileBlocks = 8;

template <int T> void MoveBlocksOf(const JBLOCKROW *In, const JBLOCKROW *Out, const TBlockRegion &R) {
  const JDIMENSION tile = Transposes(T) ? TileBlocks : R.Height;
  for (JDIMENSION y0 = 0; y0 < R.Height; y0 += tile) {
    const JDIMENSION y1 = std::min(R.Height, y0 + tile);
    for (JDIMENSION x = 0; x < R.Width; ++x)
      for (JDIMENSION y = y0; y < y1; ++y) {
        JDIMENSION sx, sy;
        SourceBlock(T, x, y, R.RegionW, R.RegionH, sx, sy);
        const JCOEF *from = In[sy + R.OffY][sx + R.OffX];
        JCOEF *to = Out[y][x];
        if constexpr (T == 1) std::memcpy(to, from, sizeof(JBLOCK));
        else TransformBlock<T>(from, to);
      }
  }
}

void MoveBlocks(int T, const JBLOCKROW *In, const JBLOCKROW *Out, const TBlockRegion &R) {
  switch (T) {
    case 1: MoveBlocksOf<1>(In, Out, R); break;
    case 2: MoveBlocksOf<2>(In, Out, R); break;
    case 3: MoveBlocksOf<3>(In, Out, R); break;
    case 4: MoveBlocksOf<4>(In, Out, R); break;
    case 5: MoveBlocksOf<5>(In, Out, R); break;
    case 6: MoveBlocksOf<6>(In, Out, R); break;
    case 7: MoveBlocksOf<7>(In, Out, R); break;
    case 8: MoveBlocksOf<8>(In, Out, R); break;
    default: throw TWembError("transform code " + std::to_string(T) + " is not an orientation (1..8)");
  }
}

void TransposeQuantTable(JQUANT_TBL &Table) {
  for (int v = 0; v < DCTSIZE; ++v)
    for (int u = v + 1; u < DCTSIZE; ++u) std::swap(Table.quantval[v * DCTSIZE + u], Table.quantval[u * DCTSIZE + v]);
}

struct TOutComponent {
  int H = 1, V = 1;                 // sampling factors in the output
  JDIMENSION Width = 0, Height = 0;  // in blocks
  jvirt_barray_ptr Array = nullptr;
};

void LosslessTran(const uint8_t *Bytes, uint32_t Count, int CropW, int CropH, int CropX, int CropY, int T, void *Out,
                  int Flags) {
  if (T < 1 || T > 8) throw TWembError("transform code " + std::to_string(T) + " is not an orientation (1..8)");
  TDecoder src(Bytes, Count);
  SaveAllMarkers(src.Info);
  src.ReadHeader();
  jpeg_decompress_struct &s = src.Info;

  const bool gray = (Flags & WEMB_GRAYSCALE) && s.num_components == 3 && s.jpeg_color_space == JCS_YCbCr;
  const int ncomp = gray ? 1 : s.num_components;
  // The transform unit: one MCU, or one block of the first component when only it is kept.
  const int unitW = ncomp == 1 ? DCTSIZE * s.max_h_samp_factor / s.comp_info[0].h_samp_factor
                               : DCTSIZE * s.max_h_samp_factor;
  const int unitH = ncomp == 1 ? DCTSIZE * s.max_v_samp_factor / s.comp_info[0].v_samp_factor
                               : DCTSIZE * s.max_v_samp_factor;

  // Region of the source kept: the crop moved down to the unit grid, then the
  // edges that a mirror would carry inside trimmed to whole units.
  const int imgW = int(s.image_width), imgH = int(s.image_height);
  int x0 = 0, y0 = 0, regW = imgW, regH = imgH;
  if (CropW > 0 && CropH > 0) {
    if (CropX < 0 || CropY < 0 || CropX >= imgW || CropY >= imgH)
      throw TWembError("the crop rectangle lies outside the picture");
    x0 = CropX / unitW * unitW;
    y0 = CropY / unitH * unitH;
    regW = std::min(CropW + (CropX - x0), imgW - x0);
    regH = std::min(CropH + (CropY - y0), imgH - y0);
  }
  if (ReversesX(T)) {
    if (regW < unitW) throw TWembError("the picture is narrower than one MCU and cannot be turned losslessly");
    regW -= regW % unitW;
  }
  if (ReversesY(T)) {
    if (regH < unitH) throw TWembError("the picture is lower than one MCU and cannot be turned losslessly");
    regH -= regH % unitH;
  }
  const bool tr = Transposes(T);
  const JDIMENSION outW = JDIMENSION(tr ? regH : regW), outH = JDIMENSION(tr ? regW : regH);

  // Without a crop or a turn the source's own arrays are written as they
  // are (grayscale keeps the first one), which saves a copy of every block.
  const bool inPlace = T == 1 && x0 == 0 && y0 == 0 && regW == imgW && regH == imgH;
  // Output components and their coefficient arrays, requested before the
  // source is read so that one realisation allocates everything.
  const int maxH = gray ? 1 : tr ? s.max_v_samp_factor : s.max_h_samp_factor;
  const int maxV = gray ? 1 : tr ? s.max_h_samp_factor : s.max_v_samp_factor;
  std::vector<TOutComponent> outc(ncomp);
  for (int c = 0; c < ncomp; ++c) {
    const jpeg_component_info &sc = s.comp_info[c];
    TOutComponent &o = outc[c];
    o.H = gray ? 1 : tr ? sc.v_samp_factor : sc.h_samp_factor;
    o.V = gray ? 1 : tr ? sc.h_samp_factor : sc.v_samp_factor;
    o.Width = CeilDiv(outW * o.H, DCTSIZE * maxH);
    o.Height = CeilDiv(outH * o.V, DCTSIZE * maxV);
    if (inPlace) continue;
    // Not cleared first: every block the encoder reads is written below (it
    // codes the padding blocks of edge MCUs without reading them).
    o.Array = s.mem->request_virt_barray(reinterpret_cast<j_common_ptr>(&s), JPOOL_IMAGE, FALSE,
                                         CeilDiv(o.Width, o.H) * o.H, CeilDiv(o.Height, o.V) * o.V, JDIMENSION(o.V));
  }

  jvirt_barray_ptr *srcArrays = jpeg_read_coefficients(&s);
  src.CheckWarnings();

  // Move the blocks.
  auto *common = reinterpret_cast<j_common_ptr>(&s);
  for (int c = 0; c < ncomp && !inPlace; ++c) {
    const jpeg_component_info &sc = s.comp_info[c];
    const TOutComponent &o = outc[c];
    // Block size of this component in source pixels.
    const int bw = DCTSIZE * s.max_h_samp_factor / sc.h_samp_factor;
    const int bh = DCTSIZE * s.max_v_samp_factor / sc.v_samp_factor;
    TBlockRegion r;
    r.OffX = JDIMENSION(x0 / bw);
    r.OffY = JDIMENSION(y0 / bh);
    r.RegionW = CeilDiv(JDIMENSION(regW), JDIMENSION(bw));
    r.RegionH = CeilDiv(JDIMENSION(regH), JDIMENSION(bh));
    r.Width = o.Width;
    r.Height = o.Height;
    const JDIMENSION srcRows = CeilDiv(sc.height_in_blocks, JDIMENSION(sc.v_samp_factor)) * sc.v_samp_factor;
    const std::vector<JBLOCKROW> in = RowsOf(common, srcArrays[c], srcRows, FALSE);
    // Every row of the array is claimed for writing, padding rows of the
    // last MCU row included: an array that is not cleared may only be read
    // where it was written.
    const std::vector<JBLOCKROW> out = RowsOf(common, o.Array, CeilDiv(o.Height, JDIMENSION(o.V)) * o.V, TRUE);
    MoveBlocks(T, in.data(), out.data(), r);
  }

  TEncoder dst(Out);
  jpeg_compress_struct &d = dst.Info;
  jpeg_copy_critical_parameters(&s, &d);
  if (gray) {
    jpeg_set_colorspace(&d, JCS_GRAYSCALE);
    d.comp_info[0].quant_tbl_no = s.comp_info[0].quant_tbl_no;
  }
  d.image_width = outW;
  d.image_height = outH;
  for (int c = 0; c < ncomp; ++c) {
    d.comp_info[c].h_samp_factor = outc[c].H;
    d.comp_info[c].v_samp_factor = outc[c].V;
  }
  if (tr)
    for (JQUANT_TBL *q : d.quant_tbl_ptrs)
      if (q) TransposeQuantTable(*q);
  d.optimize_coding = (Flags & (WEMB_OPTIMIZE | WEMB_PROGRESSIVE)) ? TRUE : FALSE;
  if (Flags & WEMB_PROGRESSIVE) jpeg_simple_progression(&d);

  std::vector<jvirt_barray_ptr> arrays(ncomp);
  for (int c = 0; c < ncomp; ++c) arrays[c] = inPlace ? srcArrays[c] : outc[c].Array;
  jpeg_write_coefficients(&d, arrays.data());
  CopySavedMarkers(s, d);
  jpeg_finish_compress(&d);
  jpeg_finish_decompress(&s);
  src.CheckWarnings();
}

}  // namespace
}  // namespace wemb

extern "C" int losslesstran(const uint8_t *Bytes, uint32_t Count, int32_t CropWidth, int32_t CropHeight,
                            int32_t CropX, int32_t CropY, int32_t Transform, void *Out, int32_t Flags) {
  return wemb::Guarded(
      [&] { wemb::LosslessTran(Bytes, Count, CropWidth, CropHeight, CropX, CropY, Transform, Out, Flags); });
}
