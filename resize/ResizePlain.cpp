// The reference code path: plain C++ for every kernel. The vector paths must
// give the same integer results bit for bit; their float results may differ
// only by rounding.
#include "resize/ResizeCommon.h"

namespace resize_plain {

#include "resize/ResizePathCommon.h"

struct Isa {
  // Gathering is left entirely to the shared loops.
  template <class Tr, bool S16>
  static int32_t GatherIntAll(const uint8_t *const *, const uint8_t *const *, int32_t, int32_t U0, int32_t,
                              uint32_t *) {
    return U0;
  }
  template <class Tr, bool S16>
  static int32_t GatherFloatAll(const uint8_t *const *, const uint8_t *const *, int32_t, int32_t U0, int32_t, float *) {
    return U0;
  }
  template <class Tr>
  static constexpr bool GatherPrefetches = false;

  // Rows 2Q and 2Q + 1 of the horizontal results into intermediate line Q.
  template <class Tr>
  static void StorePairs(const int16_t *Res, int32_t Cols, int Q, uint32_t *Line) {
    for (int32_t x = 0; x < Cols; ++x) {
      const int16_t *p = Res + x * 16;
      for (int c = 0; c < Tr::C; ++c)
        Line[x * Tr::C + c] =
            uint32_t(uint16_t(p[2 * Q * Tr::Cp + c])) | (uint32_t(uint16_t(p[(2 * Q + 1) * Tr::Cp + c])) << 16);
    }
  }

  static void HInt(const uint32_t *W, const TWeightTableInfo *Tab, const int32_t *Idx, int32_t N, int Shift,
                   int16_t *Res) {
    const uint32_t rnd = 1u << (Shift - 1);
    for (int32_t x = 0; x < N; ++x) {
      const int32_t idx = Idx[x];
      const int16_t *w = static_cast<const int16_t *>(Tab[x].pWeightTable);
      const int32_t cnt = WeightRowCount(w);
      uint32_t acc[16] = {};
      for (int32_t k = 0; k < cnt; ++k) {
        const uint32_t *p = W + size_t(idx + k) * 16;
        for (int l = 0; l < 16; ++l) {
          // 16 x 16 -> 32-bit multiply-add, wrapping like the vector instruction.
          const int64_t s = int64_t(int16_t(p[l] & 0xFFFF)) * w[2 * k] + int64_t(int16_t(p[l] >> 16)) * w[2 * k + 1];
          acc[l] += uint32_t(s);
        }
      }
      for (int l = 0; l < 16; ++l) Res[x * 16 + l] = Sat16(int32_t(acc[l] + rnd) >> Shift);
    }
  }

  static void HFloat(const float *W, const TWeightTableInfo *Tab, const int32_t *Idx, int32_t N, float *Res) {
    for (int32_t x = 0; x < N; ++x) {
      const int32_t idx = Idx[x];
      const float *w = static_cast<const float *>(Tab[x].pWeightTable);
      const int32_t cnt = WeightRowCount(w);
      float acc[16] = {};
      for (int32_t k = 0; k < cnt; ++k) {
        const float *p = W + size_t(idx + k) * 16;
        for (int l = 0; l < 16; ++l) acc[l] += p[l] * w[k];
      }
      for (int l = 0; l < 16; ++l) Res[x * 16 + l] = acc[l];
    }
  }

  static void VInt(const uint32_t *Base, size_t Stride, const aint32 *Wt, int32_t Cnt, int32_t N, int Shift,
                   int16_t *Out) {
    const int16_t *w = reinterpret_cast<const int16_t *>(Wt);
    const uint32_t rnd = 1u << (Shift - 1);
    for (int32_t i = 0; i < N; ++i) {
      uint32_t acc = 0;
      const uint32_t *p = Base + i;
      for (int32_t k = 0; k < Cnt; ++k, p += Stride)
        acc += uint32_t(int64_t(int16_t(*p & 0xFFFF)) * w[2 * k] + int64_t(int16_t(*p >> 16)) * w[2 * k + 1]);
      Out[i] = Sat16(int32_t(acc + rnd) >> Shift);
    }
  }

  static void VFloat(const float *Base, size_t Stride, const float *W, int32_t Cnt, int32_t N, float *Out) {
    for (int32_t i = 0; i < N; ++i) {
      float acc = 0.0f;
      const float *p = Base + i;
      for (int32_t k = 0; k < Cnt; ++k, p += Stride) acc += *p * W[k];
      Out[i] = acc;
    }
  }

  static void RoundSat(const float *In, int32_t N, int16_t *Out) {
    for (int32_t i = 0; i < N; ++i) Out[i] = RoundSat16(In[i]);
  }
};

#include "resize/ResizePasses.inc"

}  // namespace resize_plain
