// Pieces shared by the three code paths of the resampling library (plain,
// SSE2, AVX2): constants, error raising and the entry tables. Everything with
// code in it that the paths use lives in ResizePathCommon.h, which each path
// includes inside its own namespace.
#pragma once

#include "resize/ResizeFilterInfo.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

// Weight pairs are read as one 32-bit word each (low half first).
using aint32 = int32_t __attribute__((may_alias));

constexpr int32_t FULL14 = 16320;
constexpr int32_t REGAMMA_LEN = 24576;
constexpr int32_t REGAMMA_FINE = 8192;

// Failures of a pass. Defined in ResizeLib.cpp, which is built for every
// processor: raising the exception in a path's own file would emit the
// exception classes' inline members there too, and the linker may keep the
// AVX2 file's copy for the whole library.
[[noreturn]] void ThrowResizeError(const char *Message);
[[noreturn]] void ThrowResizeOutOfMemory();

// Entry tables of the three code paths.
namespace resize_plain { const TResizeFilterInfo *FilterInfo(int32_t Kind); }
namespace resize_sse2 { const TResizeFilterInfo *FilterInfo(int32_t Kind); }
namespace resize_avx2 { const TResizeFilterInfo *FilterInfo(int32_t Kind); }
