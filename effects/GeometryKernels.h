// Block transposes behind the 8-bit quarter turns. Each instruction set fills
// one table of them; a null entry leaves that pixel size to the plain tile
// loop in Geometry.cpp, which is also what the vector blocks are tested
// against. The quarter turns pick a table per call.
#pragma once

#include <cstddef>
#include <cstdint>

// Edge of the blocks the kernels transpose, in pixels.
constexpr uint32_t TRANSPOSE_BLOCK = 16;

// Transposes one TRANSPOSE_BLOCK x TRANSPOSE_BLOCK block: pixel j of
// destination row x becomes pixel x of source row j. Strides are signed, so
// the same kernel walks the source rows up or down and writes the destination
// rows down or up, which is all a clockwise or counter-clockwise turn adds to
// the transposition. Kernels read and write inside the block only.
using TBlockTranspose = void (*)(const uint8_t *Src, ptrdiff_t SrcStride, uint8_t *Dst, ptrdiff_t DstStride);

// Copies Rows rows of Bytes bytes (a multiple of 16, rows on 16-byte
// boundaries at both ends) with stores that bypass the cache, and waits until
// they are written.
using TRowsStream = void (*)(const uint8_t *Src, size_t SrcStride, uint8_t *Dst, size_t DstStride, uint32_t Rows,
                             size_t Bytes);

// Destinations of this many bytes and more are streamed: they would only push
// out of the cache what the next step needs, and their rows are not read
// again before the turn ends.
constexpr size_t TRANSPOSE_STREAM_BYTES = size_t(4) << 20;

// By bytes per pixel; StreamRows null means plain stores.
struct TTransposeKernels {
  TBlockTranspose Px1, Px3, Px4;
  TRowsStream StreamRows;
};

#if defined(__x86_64__) || defined(__i386__)
namespace geometry_sse2 {
void Transpose1(const uint8_t *Src, ptrdiff_t SrcStride, uint8_t *Dst, ptrdiff_t DstStride);
void Transpose4(const uint8_t *Src, ptrdiff_t SrcStride, uint8_t *Dst, ptrdiff_t DstStride);
void StreamRows(const uint8_t *Src, size_t SrcStride, uint8_t *Dst, size_t DstStride, uint32_t Rows, size_t Bytes);
}  // namespace geometry_sse2
// Compiled with -mssse3: only for processors that have it.
namespace geometry_ssse3 {
void Transpose3(const uint8_t *Src, ptrdiff_t SrcStride, uint8_t *Dst, ptrdiff_t DstStride);
}  // namespace geometry_ssse3
#endif

enum class TRotatePath { Best, Plain, SSE2, SSSE3 };

// The table a quarter turn uses on this thread: the best one the processor
// runs unless a TRotatePathScope on this thread asks for another; a path the
// processor lacks falls back to the best one.
const TTransposeKernels &ActiveTransposeKernels();
// Whether the path exists in this build and on this processor.
bool RotatePathAvailable(TRotatePath Path);

// Forces one kernel table on the current thread (tests and benchmarks).
class TRotatePathScope {
public:
  explicit TRotatePathScope(TRotatePath Path);
  ~TRotatePathScope();
  TRotatePathScope(const TRotatePathScope &) = delete;
  TRotatePathScope &operator=(const TRotatePathScope &) = delete;

private:
  TRotatePath FSaved;
};
