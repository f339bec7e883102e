// SSSE3 block transpose for 3-byte pixels. A 3-byte pixel never sits on a
// lane boundary, so four pixels at a time are widened to 32-bit lanes with a
// byte shuffle, transposed four by four as 32-bit pixels, and narrowed back
// with another shuffle before they are stored. Built with -mssse3 and only
// reached after a run-time processor check.
#include "effects/GeometryKernels.h"
#include "effects/GeometrySSE2.h"

#include <tmmintrin.h>

namespace geometry_ssse3 {
namespace {

// Four 3-byte pixels to four 32-bit lanes (the fourth byte zero), and back
// (twelve bytes, then four zero bytes).
alignas(16) constexpr uint8_t kWiden[16] = {0, 1, 2, 0x80, 3, 4, 5, 0x80, 6, 7, 8, 0x80, 9, 10, 11, 0x80};
alignas(16) constexpr uint8_t kNarrow[16] = {0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 0x80, 0x80, 0x80, 0x80};

// Pixels 4Q..4Q+3 of a 16-pixel row, widened. The last group is loaded from
// four bytes earlier so that no load reaches past the block.
template <int Q>
V Widen(const uint8_t *Row, V Mask) {
  if constexpr (Q < 3) return _mm_shuffle_epi8(Load(Row + 12 * Q), Mask);
  else return _mm_shuffle_epi8(_mm_srli_si128(Load(Row + 32), 4), Mask);
}

// Sixteen widened pixels of one destination row, narrowed into 48 bytes.
void StoreRow(uint8_t *D, V P0, V P1, V P2, V P3, V Mask) {
  P0 = _mm_shuffle_epi8(P0, Mask);
  P1 = _mm_shuffle_epi8(P1, Mask);
  P2 = _mm_shuffle_epi8(P2, Mask);
  P3 = _mm_shuffle_epi8(P3, Mask);
  Store(D, _mm_or_si128(P0, _mm_slli_si128(P1, 12)));
  Store(D + 16, _mm_or_si128(_mm_srli_si128(P1, 4), _mm_slli_si128(P2, 8)));
  Store(D + 32, _mm_or_si128(_mm_srli_si128(P2, 8), _mm_slli_si128(P3, 4)));
}

// Destination rows 4Q..4Q+3 of the block: column group Q of every source row.
template <int Q>
void Quarter(const uint8_t *Src, ptrdiff_t SrcStride, uint8_t *Dst, ptrdiff_t DstStride) {
  const V widen = _mm_load_si128(reinterpret_cast<const V *>(kWiden));
  V t[4][4];  // [source row group][destination row]
  for (int g = 0; g < 4; ++g) {
    const uint8_t *s = Src + 4 * g * SrcStride;
    V a = Widen<Q>(s, widen), b = Widen<Q>(s + SrcStride, widen);
    V c = Widen<Q>(s + 2 * SrcStride, widen), d = Widen<Q>(s + 3 * SrcStride, widen);
    Transpose4x4(a, b, c, d);
    t[g][0] = a, t[g][1] = b, t[g][2] = c, t[g][3] = d;
  }
  const V narrow = _mm_load_si128(reinterpret_cast<const V *>(kNarrow));
  for (int x = 0; x < 4; ++x)
    StoreRow(Dst + (4 * Q + x) * DstStride, t[0][x], t[1][x], t[2][x], t[3][x], narrow);
}

}  // namespace

void Transpose3(const uint8_t *Src, ptrdiff_t SrcStride, uint8_t *Dst, ptrdiff_t DstStride) {
  Quarter<0>(Src, SrcStride, Dst, DstStride);
  Quarter<1>(Src, SrcStride, Dst, DstStride);
  Quarter<2>(Src, SrcStride, Dst, DstStride);
  Quarter<3>(Src, SrcStride, Dst, DstStride);
}

}  // namespace geometry_ssse3
