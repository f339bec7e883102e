// Row kernels behind the pixel-format conversions. Each instruction set fills
// one table of them; the plain C++ table is the reference that the vector ones
// are tested against, and the conversions pick a table per call.
#pragma once

#include <cstdint>

// Src and Dst are rows (the same row for in-place work); Width counts pixels,
// or samples for the channel-agnostic depth kernels. Param carries the
// background for the flatten kernels (B,G,R sample order, 8-bit values).
using TRowKernel = void (*)(const uint8_t *Src, uint8_t *Dst, uint32_t Width, uint32_t Param);
// Rebuilds a row of 8- or 14-bit BGR pixels around new luminance: Src's Cb and
// Cr with Y (14-bit samples) back to 14-bit BGR in Dst, which may be Src for
// 14-bit rows. Y is read past Width as far as the rows are.
using TLumaRowKernel = void (*)(const uint8_t *Src, const int16_t *Y, uint8_t *Dst, uint32_t Width);

// The tables of the one-pass luminance stage (ApplyYCCStages): Luma has
// 16321 entries, Chroma (for Cb and Cr, indexed by C + 8160) as many or is
// null, RGB the B, G, R and gray set of 4 x 16321 entries or is null. The
// vector kernels fetch two entries where they need one, so Luma and Chroma
// must be readable one entry past their end (the gray table follows R).
struct TYCCStageTables {
  const int16_t *Luma, *Chroma, *RGB;
};
// Src holds Width pixels of 8- or 14-bit BGR(A), Dst receives them as 14-bit
// BGR(A) after the stages; Dst may be Src for 14-bit rows. These kernels
// touch no byte past the row, so any stride takes them.
using TYCCStagesKernel = void (*)(const uint8_t *Src, uint8_t *Dst, uint32_t Width, const TYCCStageTables &Tables);

struct TPixelKernels {
  // Per sample.
  TRowKernel C16To14, C14To16, C16To8, C14To8;
  // Layout.
  TRowKernel SwapRB16_3, SwapRB16_4, SwapRB32;
  TRowKernel ExpandGA8, ExpandGA16, NarrowGA8, NarrowGA16;
  TRowKernel Alpha8_2, Alpha8_4, Alpha14_2, Alpha14_4;  // Dst: 1-channel 14-bit
  TRowKernel Restore14_2, Restore14_4;                  // Src: 1-channel 14-bit
  TRowKernel Flatten8_2, Flatten8_4, Flatten14_2, Flatten14_4;
  // Colour representations.
  TRowKernel Luma8_3, Luma8_4, Luma14_3, Luma14_4;
  TRowKernel ToYCC8_3, ToYCC8_4, ToYCC14_3, ToYCC14_4;
  TRowKernel FromYCC14_3, FromYCC14_4;
  TRowKernel BGR14ToYCC8;
  TRowKernel Ch0To14_1, Ch0To14_3, Ch0From14_1, Ch0From14_3;
  // To YCbCr, the luma (and chroma) table, back to BGR and the RGB table, per pixel.
  TYCCStagesKernel YCCStages8_3, YCCStages8_4, YCCStages14_3, YCCStages14_4;
  // Luminance-only work on 3-channel BGR: the Y of ConvertToYCC14 as a row of
  // 14-bit samples, and the row rebuilt around a new Y.
  TRowKernel Y14Of8_3, Y14Of14_3;
  TLumaRowKernel WithY8_3, WithY14_3;
};

// Vector kernels may read and write up to this many bytes past the last pixel
// of a row; images whose stride leaves less room run on the plain kernels.
constexpr uint32_t KERNEL_OVERRUN = 64;

const TPixelKernels &PlainPixelKernels();
#if defined(__x86_64__) || defined(__i386__)
const TPixelKernels &SSE2PixelKernels();
// The SSE2 table with AVX2 kernels where they pay; only for processors with AVX2.
const TPixelKernels &AVX2PixelKernels();
#endif

enum class TPixelPath { Best, Plain, SSE2, AVX2 };

// The table a conversion uses on this thread: the best one the processor
// runs (AVX2, else SSE2, else plain) unless a TPixelPathScope on this thread
// asks for another; a path the processor lacks falls back to the best one.
const TPixelKernels &ActivePixelKernels();
// Whether the path exists in this build and on this processor.
bool PixelPathAvailable(TPixelPath Path);

// Forces one kernel table on the current thread (tests and benchmarks).
class TPixelPathScope {
public:
  explicit TPixelPathScope(TPixelPath Path);
  ~TPixelPathScope();
  TPixelPathScope(const TPixelPathScope &) = delete;
  TPixelPathScope &operator=(const TPixelPathScope &) = delete;

private:
  TPixelPath FSaved;
};
