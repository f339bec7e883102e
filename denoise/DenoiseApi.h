// Records shared by the noise-removal library (bin/libdenoise.so) and the
// denoise effect of the main program: the parameter block every procedure
// receives, and the order of the procedures in the two tables that
// GetDenoiseFuncs fills. The program owns the planes, the scratch blocks and
// the order of the steps; the library owns what each step computes.
//
// Planes hold float samples on the 14-bit scale (16320 = white; chroma
// centred on 0), PlaneStride floats per row, PaddedHeight rows. A level-i
// plane is the top-left (PaddedWidth >> i) x (PaddedHeight >> i) corner of
// plane 0: each decomposition leaves the next level's low band there and its
// own detail bands in the other three quarters.
#pragma once

#include <cstdint>

using TDenoiseProc = void (*)(int32_t ThreadIndex, int32_t ThreadCount, void *Param);

// Index of each procedure in the table of 14 (the SSE2 set).
enum : int32_t {
  DNP_LOAD_GRAY8 = 0,       // 8-bit gray image -> plane 0
  DNP_LOAD_GRAY14 = 1,      // 14-bit gray image -> plane 0
  DNP_LOAD_YCC = 2,         // YCC14 image: Y -> plane 0, Cb and Cr -> plane 2 (int16 pairs)
  DNP_LEVEL_STATS = 3,      // noise statistics of the level's plane (tiles)
  DNP_LEVEL_FILTER = 4,     // the level's plane 0 -> plane 1, filtered (tiles)
  DNP_DECOMPOSE_ROWS = 5,   // rows of the level into low and high halves
  DNP_DECOMPOSE_COLS = 6,   // columns likewise: the next level's plane is ready
  DNP_RECONSTRUCT_COLS = 7, // inverse of DECOMPOSE_COLS
  DNP_RECONSTRUCT_ROWS = 8, // inverse of DECOMPOSE_ROWS
  DNP_STORE_GRAY8 = 9,      // plane 0 -> 8-bit gray image, 0 to 255
  DNP_STORE_GRAY14 = 10,    // plane 0 -> 14-bit gray image, 0 to 16320
  DNP_STORE_YCC = 11,       // plane 0 -> Y (0 to 16320), plane 1 -> Cb, Cr (-8160 to 8160)
  DNP_CHROMA_STATS = 12,    // noise statistics of Cb and Cr (tiles)
  DNP_CHROMA_FILTER = 13,   // plane 2 -> plane 1, Cb and Cr filtered with Y as guide (tiles)
  DNP_SSE2_COUNT = 14,
};

// Index of each procedure in the table of 6 (the AVX set); each replaces the
// SSE2 procedure of the same name.
enum : int32_t {
  DNA_LEVEL_FILTER = 0,
  DNA_DECOMPOSE_ROWS = 1,
  DNA_DECOMPOSE_COLS = 2,
  DNA_RECONSTRUCT_COLS = 3,
  DNA_RECONSTRUCT_ROWS = 4,
  DNA_CHROMA_FILTER = 5,
  DNA_AVX_COUNT = 6,
};

// The SSE2 index that each AVX procedure stands in for.
constexpr int32_t DenoiseAVXReplaces[DNA_AVX_COUNT] = {DNP_LEVEL_FILTER,     DNP_DECOMPOSE_ROWS,
                                                       DNP_DECOMPOSE_COLS,   DNP_RECONSTRUCT_COLS,
                                                       DNP_RECONSTRUCT_ROWS, DNP_CHROMA_FILTER};

// Tiles of the filters and statistics, in samples.
constexpr int32_t DenoiseTileWidth = 160;
constexpr int32_t DenoiseTileHeight = 40;
constexpr int32_t DenoiseLevels = 5;
constexpr int32_t DenoiseMaxRadius = 4;
// Scratch bytes per pool thread at least (the tile filters' working set).
constexpr int32_t DenoiseMinScratch = 147328;
// Bins of each noise histogram (one per pool thread and channel).
constexpr int32_t DenoiseHistogramBins = 2048;

struct TDenoiseBlock {
  // The image, rows in memory order; 1 channel (gray) or 3 (YCC14).
  uint8_t *Image;
  int32_t Width, Height, Bpl, Channels, BPP;
  // Planes (see above).
  float *Plane[3];
  int32_t PlaneStride;  // floats per row
  int32_t PaddedWidth, PaddedHeight;
  // Per pool thread ScratchSize bytes at Scratch + index * ScratchSize, 64-byte aligned.
  uint8_t *Scratch;
  int32_t ScratchSize;
  // The level the stats, filter and (de)composition steps work on.
  int32_t Level;
  // Filter of the current pass (luma levels, or chroma): the (2R + 1)^2
  // spatial weights row by row, R, the threshold and its range coefficient.
  const float *SpatialWeights;
  int32_t Radius;
  float Threshold;
  float Coefficient;
  // Noise histograms: [2 channels][ThreadCount][DenoiseHistogramBins].
  uint32_t *Histogram;
  int32_t HistogramThreads;
  // Hands out tiles; the program sets it to 0 before every tiled step.
  int32_t TileCounter;
};
using PDenoiseBlock = TDenoiseBlock *;

// The entry: fills Sse2[DNP_SSE2_COUNT] and Avx[DNA_AVX_COUNT]; the AVX
// table is left null when the processor lacks AVX2.
using TGetDenoiseFuncs = void (*)(TDenoiseProc *Sse2, TDenoiseProc *Avx);
// The plain C++ procedures (the reference of both sets), in SSE2 order.
using TGetDenoisePlainFuncs = void (*)(TDenoiseProc *Plain);
