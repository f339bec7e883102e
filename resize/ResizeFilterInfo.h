// Records shared by the resampling library (bin/libresize.so) and the filter
// objects of the main program: the parameter record that every pass receives,
// the block records and the record of pass functions the library hands out.
#pragma once

#include "core/MultiThread.h"
#include "resize/WeightTable.h"

#include <cstdint>

// One column block or row block of the output.
struct TBlockInfo {
  int32_t SrcOffset;         // first source unit the block reads, in units of the divisor
  int32_t BlockOffset;       // byte offset of that unit
  int32_t Count;             // source units the block reads (0 for row blocks of a height-only resize)
  TWeightTableInfo *Table;   // entry of the block's first output column or row
};
using PBlockInfo = TBlockInfo *;

// What one resampling job needs apart from the pixel formats, which the
// pass functions know.
struct TResizeParam {
  const uint8_t *Src;
  uint8_t *Dest;
  int32_t SrcWidth;
  int32_t SrcHeight;
  int32_t DestWidth;
  int32_t DestHeight;
  int32_t SrcBpl;
  int32_t DestBpl;
  TWeightTable HWeightTable;  // empty when the width does not change
  TWeightTable VWeightTable;  // empty when the height does not change
  int32_t HStep;
  int32_t VStep;
  uint8_t *Work;              // WorkSize bytes per pool thread, 128-byte aligned
  int32_t WorkSize;
  uint8_t *Work2;             // Work2Size bytes per pool thread, 128-byte aligned
  int32_t Work2Size;
  int32_t MaxBlock;
  int32_t XBlocks;
  int32_t YBlocks;
  TBlockInfo *XBlockInfo;
  TBlockInfo *YBlockInfo;
  float *DegammaTable;        // linear variants only
  int16_t *RegammaTable;      // linear variants only
  int32_t AtomicCounter;      // 0 before every pass; the passes hand out blocks with it
};
using PResizeParam = TResizeParam *;

using TGetWorkSizeFunc = int32_t (*)(int32_t SrcWidth);
using TGetWork2SizeFunc = int32_t (*)(int32_t SrcHeight, int32_t DestHeight, int32_t Radius);

// Pass functions and block geometry of one data path. Every pass has the pool's
// job signature and takes a TResizeParam as its parameter.
struct TResizeFilterInfo {
  TGetWorkSizeFunc GetWorkSize;
  TGetWork2SizeFunc GetWork2Size;
  TMultiThreadProc HFilter;     // 8-bit sources
  TMultiThreadProc VFilter;
  TMultiThreadProc HVFilter;
  TMultiThreadProc HFilter16;   // 14-bit sources
  TMultiThreadProc VFilter16;
  TMultiThreadProc HVFilter16;
  int32_t HBlockSize;           // output columns per block
  int32_t VBlockSize;           // output rows per block
  int32_t TmpBPL;               // stride of the intermediate rows between the passes
};
using PResizeFilterInfo = const TResizeFilterInfo *;

// The library's entries: one per data path, taking the AVX flag.
using TGetFilterInfoFunc = const TResizeFilterInfo *(*)(int32_t UseAVX);
using TIsSupportedAVXFunc = int32_t (*)();

// Data paths in the order of the library's entries.
enum TResizeFilterKind : int32_t {
  RFK_GRAYi = 0,
  RFK_RGBi,
  RFK_CMYKi,
  RFK_GRAYf,
  RFK_RGBf,
  RFK_RGBAf,
  RFK_LGRAYf,
  RFK_LRGBf,
  RFK_LRGBAf,
  RFK_COUNT
};

// Code paths inside the library: the plain one is the reference that the
// vector paths must reproduce.
enum TResizeIsa : int32_t { RISA_PLAIN = 0, RISA_SSE2 = 1, RISA_AVX2 = 2 };

// Extra entry "GetFilterInfoForIsa": one data path with a chosen code path
// (tests and benchmarks). Returns null for an unknown kind or a code path
// the processor lacks.
using TGetFilterInfoForIsaFunc = const TResizeFilterInfo *(*)(int32_t Kind, int32_t Isa);
