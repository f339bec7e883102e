// marge_jpeg: the input file with the MCUs that a block map marks taken from
// a re-encoded copy. The work is on the quantised coefficients, so every MCU
// left unmarked keeps its coefficients exactly, and the file its segments.
#include "wemb/WembInternal.h"

#include <array>
#include <cstdlib>
#include <cstring>

namespace wemb {
namespace {

JDIMENSION CeilDiv(JDIMENSION A, JDIMENSION B) { return (A + B - 1) / B; }

// Zigzag position k to natural (row-major) position: the order in which the
// entropy coder reads a block.
constexpr std::array<uint8_t, DCTSIZE2> ZigzagToNatural = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

int BitLength(int V) {
  V = std::abs(V);
  int n = 0;
  while (V) ++n, V >>= 1;
  return n;
}

// The map cell in pixels: one MCU, or one block when the scan holds a single
// component (such a scan's MCU is one block).
void MapCell(const jpeg_decompress_struct &S, int &W, int &H) {
  const bool single = S.num_components == 1;
  W = DCTSIZE * S.max_h_samp_factor / (single ? S.comp_info[0].h_samp_factor : 1);
  H = DCTSIZE * S.max_v_samp_factor / (single ? S.comp_info[0].v_samp_factor : 1);
}

void CheckSameLayout(const jpeg_decompress_struct &A, const jpeg_decompress_struct &B) {
  if (A.image_width != B.image_width || A.image_height != B.image_height || A.num_components != B.num_components)
    throw TWembError("the modified picture does not have the input's size and components");
  for (int c = 0; c < A.num_components; ++c) {
    const jpeg_component_info &a = A.comp_info[c], &b = B.comp_info[c];
    if (a.h_samp_factor != b.h_samp_factor || a.v_samp_factor != b.v_samp_factor)
      throw TWembError("the modified picture does not have the input's sampling");
    const JQUANT_TBL *qa = A.quant_tbl_ptrs[a.quant_tbl_no], *qb = B.quant_tbl_ptrs[b.quant_tbl_no];
    if (!qa || !qb || std::memcmp(qa->quantval, qb->quantval, sizeof qa->quantval) != 0)
      throw TWembError("the modified picture does not have the input's quantisation tables");
  }
}

// Which symbols each Huffman table of the input can code.
struct TSymbolSet {
  std::array<bool, 256> Has{};
  explicit TSymbolSet(const JHUFF_TBL *T) {
    if (!T) return;
    int count = 0;
    for (int l = 1; l <= 16; ++l) count += T->bits[l];
    for (int i = 0; i < count && i < 256; ++i) Has[T->huffval[i]] = true;
  }
};

// Whether the input's own Huffman tables can code the merged blocks as the
// encoder will write them: one sequential scan of all components (one block
// per MCU for a single component), no restart markers, and the padding
// blocks of edge MCUs coded as "no change of DC, no AC".
bool OwnTablesFit(const jpeg_decompress_struct &S, jvirt_barray_ptr *Arrays) {
  if (S.progressive_mode) return false;
  auto *common = reinterpret_cast<j_common_ptr>(const_cast<jpeg_decompress_struct *>(&S));
  const bool single = S.num_components == 1;
  for (int c = 0; c < S.num_components; ++c) {
    const jpeg_component_info &ci = S.comp_info[c];
    const TSymbolSet dc(S.dc_huff_tbl_ptrs[ci.dc_tbl_no]), ac(S.ac_huff_tbl_ptrs[ci.ac_tbl_no]);
    const int h = single ? 1 : ci.h_samp_factor, v = single ? 1 : ci.v_samp_factor;
    const JDIMENSION mcusX = CeilDiv(ci.width_in_blocks, JDIMENSION(h));
    const JDIMENSION mcusY = CeilDiv(ci.height_in_blocks, JDIMENSION(v));
    if (!single && (mcusX * h != ci.width_in_blocks || mcusY * v != ci.height_in_blocks) && !(dc.Has[0] && ac.Has[0]))
      return false;
    // Blocks in the order the scan codes them, for the DC prediction.
    int pred = 0;
    for (JDIMENSION my = 0; my < mcusY; ++my) {
      JBLOCKARRAY rows = (*common->mem->access_virt_barray)(common, Arrays[c], my * v, JDIMENSION(v), FALSE);
      for (JDIMENSION mx = 0; mx < mcusX; ++mx)
        for (int by = 0; by < v; ++by)
          for (int bx = 0; bx < h; ++bx) {
            const JDIMENSION x = mx * h + bx, y = my * v + by;
            if (x >= ci.width_in_blocks || y >= ci.height_in_blocks) continue;  // padding, checked above
            const JCOEF *b = rows[by][x];
            if (!dc.Has[BitLength(b[0] - pred)]) return false;
            pred = b[0];
            int run = 0;
            for (int k = 1; k < DCTSIZE2; ++k) {
              const int coef = b[ZigzagToNatural[k]];
              if (coef == 0) {
                ++run;
                continue;
              }
              for (; run > 15; run -= 16)
                if (!ac.Has[0xF0]) return false;
              if (!ac.Has[(run << 4) + BitLength(coef)]) return false;
              run = 0;
            }
            if (run > 0 && !ac.Has[0x00]) return false;
          }
    }
  }
  return true;
}

void CopyHuffTable(j_compress_ptr D, JHUFF_TBL *&To, const JHUFF_TBL *From) {
  if (!From) return;
  if (!To) To = jpeg_alloc_huff_table(reinterpret_cast<j_common_ptr>(D));
  std::memcpy(To->bits, From->bits, sizeof To->bits);
  std::memcpy(To->huffval, From->huffval, sizeof To->huffval);
  To->sent_table = FALSE;
}

void MargeJpeg(const uint8_t *Bytes, uint32_t Count, const uint8_t *Modified, uint32_t ModifiedCount, void *Out,
               const uint8_t *BlockMap) {
  if (!BlockMap) throw TWembError("no block map was given");
  TDecoder src(Bytes, Count), mod(Modified, ModifiedCount);
  SaveAllMarkers(src.Info);
  src.ReadHeader();
  mod.ReadHeader();
  jpeg_decompress_struct &s = src.Info;
  CheckSameLayout(s, mod.Info);
  jvirt_barray_ptr *into = jpeg_read_coefficients(&s);
  src.CheckWarnings();
  jvirt_barray_ptr *from = jpeg_read_coefficients(&mod.Info);
  mod.CheckWarnings();

  int cellW, cellH;
  MapCell(s, cellW, cellH);
  const JDIMENSION mapW = CeilDiv(s.image_width, JDIMENSION(cellW)), mapH = CeilDiv(s.image_height, JDIMENSION(cellH));
  const bool single = s.num_components == 1;
  auto *sc = reinterpret_cast<j_common_ptr>(&s);
  auto *mc = reinterpret_cast<j_common_ptr>(&mod.Info);
  for (int c = 0; c < s.num_components; ++c) {
    const jpeg_component_info &ci = s.comp_info[c];
    const int h = single ? 1 : ci.h_samp_factor, v = single ? 1 : ci.v_samp_factor;
    for (JDIMENSION my = 0; my < mapH; ++my) {
      const uint8_t *marks = BlockMap + size_t(my) * mapW;
      bool any = false;
      for (JDIMENSION mx = 0; mx < mapW && !any; ++mx) any = marks[mx] != 0;
      if (!any) continue;
      // The arrays hold whole MCUs, so every row and column of a cell exists.
      JBLOCKARRAY dst = (*sc->mem->access_virt_barray)(sc, into[c], my * v, JDIMENSION(v), TRUE);
      JBLOCKARRAY org = (*mc->mem->access_virt_barray)(mc, from[c], my * v, JDIMENSION(v), FALSE);
      for (JDIMENSION mx = 0; mx < mapW; ++mx)
        if (marks[mx])
          for (int by = 0; by < v; ++by)
            std::memcpy(dst[by][mx * h], org[by][mx * h], sizeof(JBLOCK) * size_t(h));
    }
  }

  // Encoded whole before anything reaches the stream, so that a failure
  // leaves the caller's stream as it was.
  std::vector<uint8_t> bytes;
  {
    TEncoder dst(nullptr, &bytes);
    jpeg_compress_struct &d = dst.Info;
    jpeg_copy_critical_parameters(&s, &d);
    if (OwnTablesFit(s, into)) {
      for (int i = 0; i < NUM_HUFF_TBLS; ++i) {
        CopyHuffTable(&d, d.dc_huff_tbl_ptrs[i], s.dc_huff_tbl_ptrs[i]);
        CopyHuffTable(&d, d.ac_huff_tbl_ptrs[i], s.ac_huff_tbl_ptrs[i]);
      }
      for (int c = 0; c < s.num_components; ++c) {
        d.comp_info[c].dc_tbl_no = s.comp_info[c].dc_tbl_no;
        d.comp_info[c].ac_tbl_no = s.comp_info[c].ac_tbl_no;
      }
    } else {
      d.optimize_coding = TRUE;
      if (s.progressive_mode) jpeg_simple_progression(&d);
    }
    jpeg_write_coefficients(&d, into);
    CopySavedMarkers(s, d);
    jpeg_finish_compress(&d);
  }
  jpeg_finish_decompress(&mod.Info);
  jpeg_finish_decompress(&s);
  src.CheckWarnings();
  WriteToStream(Out, bytes);
}

}  // namespace
}  // namespace wemb

extern "C" int marge_jpeg(const uint8_t *Bytes, uint32_t Count, const uint8_t *Modified, uint32_t ModifiedCount,
                          void *Out, const uint8_t *BlockMap) {
  return wemb::Guarded([&] { wemb::MargeJpeg(Bytes, Count, Modified, ModifiedCount, Out, BlockMap); });
}
