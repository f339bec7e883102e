// Weight-table layout shared by the weight setters that build the tables
// (resample/Weight.h) and the passes of the resampling library that read
// them: one row of weights per destination pixel of an axis.
#pragma once

#include <cstdint>

// Fixed-point scale of integer weights: 14 fractional bits leave room for
// a 16 x 16 -> 32-bit multiply-add of 14-bit samples without overflow.
constexpr int32_t WEIGHT_ONE = 16384;

// One destination pixel: where its source run starts (bytes, in the pass's
// source layout) and its row of weights. The row's 32-bit count (weight pairs
// for integer rows, taps for single-precision rows) sits just before
// pWeightTable.
struct TWeightTableInfo {
  int32_t SrcOffset;
  void *pWeightTable;
};
using PWeightTableInfo = TWeightTableInfo *;

// All rows of one axis. Both blocks come from AlignedAlloc and are released
// with AlignedFree by the filter that owns the table.
struct TWeightTable {
  void *WeightTableBuf;
  TWeightTableInfo *WeightTableInfo;
};
using PWeightTable = TWeightTable *;

// Count word of a row: pairs of int16 weights (integer) or float taps.
inline int32_t WeightRowCount(const void *pWeightTable) {
  return static_cast<const int32_t *>(pWeightTable)[-1];
}
inline const int16_t *IntWeights(const TWeightTableInfo &Info) {
  return static_cast<const int16_t *>(Info.pWeightTable);
}
inline const float *FloatWeights(const TWeightTableInfo &Info) {
  return static_cast<const float *>(Info.pWeightTable);
}
