// SSE2 block transposes for 1-byte and 4-byte pixels, and the streaming row
// copy of the quarter turns. Both transposes use the perfect shuffle:
// interleaving row i with row i + n/2 element by element, log2(n) times over,
// turns n rows of n elements into their transposition.
#include "effects/GeometryKernels.h"
#include "effects/GeometrySSE2.h"

#include <emmintrin.h>

namespace geometry_sse2 {

void Transpose1(const uint8_t *Src, ptrdiff_t SrcStride, uint8_t *Dst, ptrdiff_t DstStride) {
  V a[16], b[16];
  for (int j = 0; j < 16; ++j) a[j] = Load(Src + j * SrcStride);
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 8; ++i) {
      b[2 * i] = _mm_unpacklo_epi8(a[i], a[i + 8]);
      b[2 * i + 1] = _mm_unpackhi_epi8(a[i], a[i + 8]);
    }
    for (int i = 0; i < 8; ++i) {
      a[2 * i] = _mm_unpacklo_epi8(b[i], b[i + 8]);
      a[2 * i + 1] = _mm_unpackhi_epi8(b[i], b[i + 8]);
    }
  }
  for (int x = 0; x < 16; ++x) Store(Dst + x * DstStride, a[x]);
}

void Transpose4(const uint8_t *Src, ptrdiff_t SrcStride, uint8_t *Dst, ptrdiff_t DstStride) {
  // Four-by-four sub-blocks; each group of four destination rows is written
  // left to right.
  for (int x = 0; x < 16; x += 4)
    for (int j = 0; j < 16; j += 4) {
      const uint8_t *s = Src + j * SrcStride + x * 4;
      V r0 = Load(s), r1 = Load(s + SrcStride), r2 = Load(s + 2 * SrcStride), r3 = Load(s + 3 * SrcStride);
      Transpose4x4(r0, r1, r2, r3);
      uint8_t *d = Dst + x * DstStride + j * 4;
      Store(d, r0);
      Store(d + DstStride, r1);
      Store(d + 2 * DstStride, r2);
      Store(d + 3 * DstStride, r3);
    }
}

void StreamRows(const uint8_t *Src, size_t SrcStride, uint8_t *Dst, size_t DstStride, uint32_t Rows, size_t Bytes) {
  for (uint32_t i = 0; i < Rows; ++i, Src += SrcStride, Dst += DstStride)
    for (size_t o = 0; o < Bytes; o += 16)
      _mm_stream_si128(reinterpret_cast<V *>(Dst + o), _mm_load_si128(reinterpret_cast<const V *>(Src + o)));
  // Streamed stores are not ordered with later ones; the fence makes them
  // visible before the threads report the turn done.
  _mm_sfence();
}

}  // namespace geometry_sse2
