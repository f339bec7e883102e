// Entries of the resampling library: one per data path, each returning the
// record of pass functions for the SSE2 code or, when asked and available,
// the AVX2 code.
#include "resize/ResizeCommon.h"

#include "core/Errors.h"

namespace {

bool CpuHasAVX2() {
  static const bool has = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  return has;
}

const TResizeFilterInfo *Select(int32_t Kind, int32_t UseAVX) {
  return UseAVX && CpuHasAVX2() ? resize_avx2::FilterInfo(Kind) : resize_sse2::FilterInfo(Kind);
}

}  // namespace

void ThrowResizeError(const char *Message) { throw ETessivoError(Message); }
void ThrowResizeOutOfMemory() { throw EOutOfMemory(); }

#define RESIZE_EXPORT extern "C" __attribute__((visibility("default")))

RESIZE_EXPORT int32_t is_supported_avx() { return CpuHasAVX2() ? 1 : 0; }

RESIZE_EXPORT const TResizeFilterInfo *GetFilterInfo_GRAYi(int32_t UseAVX) { return Select(RFK_GRAYi, UseAVX); }
RESIZE_EXPORT const TResizeFilterInfo *GetFilterInfo_RGBi(int32_t UseAVX) { return Select(RFK_RGBi, UseAVX); }
RESIZE_EXPORT const TResizeFilterInfo *GetFilterInfo_CMYKi(int32_t UseAVX) { return Select(RFK_CMYKi, UseAVX); }
RESIZE_EXPORT const TResizeFilterInfo *GetFilterInfo_GRAYf(int32_t UseAVX) { return Select(RFK_GRAYf, UseAVX); }
RESIZE_EXPORT const TResizeFilterInfo *GetFilterInfo_RGBf(int32_t UseAVX) { return Select(RFK_RGBf, UseAVX); }
RESIZE_EXPORT const TResizeFilterInfo *GetFilterInfo_RGBAf(int32_t UseAVX) { return Select(RFK_RGBAf, UseAVX); }
RESIZE_EXPORT const TResizeFilterInfo *GetFilterInfo_LGRAYf(int32_t UseAVX) { return Select(RFK_LGRAYf, UseAVX); }
RESIZE_EXPORT const TResizeFilterInfo *GetFilterInfo_LRGBf(int32_t UseAVX) { return Select(RFK_LRGBf, UseAVX); }
RESIZE_EXPORT const TResizeFilterInfo *GetFilterInfo_LRGBAf(int32_t UseAVX) { return Select(RFK_LRGBAf, UseAVX); }

RESIZE_EXPORT const TResizeFilterInfo *GetFilterInfoForIsa(int32_t Kind, int32_t Isa) {
  switch (Isa) {
    case RISA_PLAIN:
      return resize_plain::FilterInfo(Kind);
    case RISA_SSE2:
      return resize_sse2::FilterInfo(Kind);
    case RISA_AVX2:
      return CpuHasAVX2() ? resize_avx2::FilterInfo(Kind) : nullptr;
    default:
      return nullptr;
  }
}
