// The plain interpolation rows: the reference of the vector ones. Sums go
// in the same order as there (a row's four taps left to right, then the four
// rows top to bottom), so both give the same bits.
#include "tools/dedistortion/LensRemap.h"

#include <algorithm>

namespace {

template <class T, int32_t C>
const T *Pixel(const TRemapSource &S, int32_t X, int32_t Y) {
  X = std::clamp(X, 0, S.Width - 1), Y = std::clamp(Y, 0, S.Height - 1);
  return reinterpret_cast<const T *>(S.Top + ptrdiff_t(Y) * S.Stride) + size_t(X) * C;
}

template <class T, int32_t C, int32_t Max>
void Row(const TRemapSource &Src, const float *SX, const float *SY, const uint8_t *Valid, int32_t Count,
         uint8_t *OutBytes) {
  T *out = reinterpret_cast<T *>(OutBytes);
  constexpr int32_t Samples = C == 1 ? 1 : C;  // interpolated samples; the rest are copies or full scale
  for (int32_t i = 0; i < Count; ++i, out += 4) {
    if (!Valid[i]) {
      std::fill(out, out + 4, T(0));
      continue;
    }
    const TTapSpan tx = TapSpan(SX[i]), ty = TapSpan(SY[i]);
    float acc[4] = {0, 0, 0, 0};
    for (int32_t j = 0; j < 4; ++j) {
      for (int32_t c = 0; c < Samples; ++c) {
        float row = float(Pixel<T, C>(Src, tx.First, ty.First + j)[c]) * tx.W[0];
        for (int32_t k = 1; k < 4; ++k) row = row + float(Pixel<T, C>(Src, tx.First + k, ty.First + j)[c]) * tx.W[k];
        acc[c] = j == 0 ? row * ty.W[0] : acc[c] + row * ty.W[j];
      }
    }
    for (int32_t c = 0; c < Samples; ++c)
      out[c] = T(std::clamp<long>(std::lrint(std::clamp(acc[c], -1.f, float(Max) + 1.f)), 0, Max));
    if constexpr (C == 1) out[1] = out[2] = out[0];
    if constexpr (C != 4) out[3] = T(Max);
  }
}

}  // namespace

const TRemapKernels &PlainRemapKernels() {
  static const TRemapKernels k{{nullptr, Row<uint8_t, 1, 255>, nullptr, Row<uint8_t, 3, 255>, Row<uint8_t, 4, 255>},
                               {nullptr, Row<uint16_t, 1, 65535>, nullptr, Row<uint16_t, 3, 65535>,
                                Row<uint16_t, 4, 65535>}};
  return k;
}

const TRemapKernels &BestRemapKernels() {
#if defined(__x86_64__) || defined(__i386__)
  return SSE2RemapKernels();
#else
  return PlainRemapKernels();
#endif
}
