// The resizer front end: picks the weight setter per axis and the filter for
// the image's layout and data path, keeps the filter while the geometry stays
// the same, runs the passes on the caller's pool, and optionally clamps the
// result to the source's local range (TLimiter). The output is 14-bit.
#pragma once

#include "core/ImgInfo.h"
#include "core/MultiThread.h"
#include "resample/Weight.h"

#include <cstdint>
#include <optional>

class TCustomResizeFilter;

// Calculation modes (SIMDMode).
enum : uint32_t {
  SIMD_MODE_FLOAT = 2,
  SIMD_MODE_INTEGER = 3,
};

struct TLimiterInfo {
  int32_t Pixels;  // window length
  int32_t Offset;  // byte offset of the window's first element
};
using PLimiterInfo = TLimiterInfo *;

// Overshoot limiter: kernels with negative lobes ring at edges; every output
// sample is clamped into the range of the source samples around its
// footprint. Limits are taken from the source before resampling, so the
// source may be released before the clamp runs.
class TLimiter {
public:
  TLimiter() = default;
  ~TLimiter();
  TLimiter(const TLimiter &) = delete;
  TLimiter &operator=(const TLimiter &) = delete;

  // Computes the per-sample limits of a DestWidth x DestHeight output of Src
  // (8-, 14- or 16-bit, 1, 3 or 4 channels); buffers are rebuilt only when
  // the geometry, channel count or depth changes. Pool may be null.
  void CalcLimit(const TICCImgInfo &Src, uint32_t DestWidth, uint32_t DestHeight, TMultiThread *Pool);
  // Clamps a 14-bit image of the size given to CalcLimit.
  void ApplyLimit(TICCImgInfo &Dest, TMultiThread *Pool) const;

  int32_t SrcWidth = -1;
  int32_t SrcHeight = -1;
  int32_t DestWidth = -1;
  int32_t DestHeight = -1;
  int32_t Channels = -1;
  int32_t BPP = -1;
  TLimiterInfo *HLimiterInfo = nullptr;  // one per destination column
  TLimiterInfo *VLimiterInfo = nullptr;  // one per destination row
  // Per pool thread: maxima and minima of the source rows of one vertical
  // window (the limiter combines rows first; the result is the same range).
  uint8_t *Tmp = nullptr;
  uint8_t *Limit = nullptr;  // per destination row: the final maxima, then minima
  int32_t BPL = 0;           // stride of Tmp and Limit rows

private:
  int32_t FTmpThreads = 0;  // threads Tmp has room for
  void Prepare(int32_t ASrcWidth, int32_t ASrcHeight, int32_t ADestWidth, int32_t ADestHeight, int32_t AChannels,
               int32_t ABPP);
  void FreeBuffers();
};

class TResizer {
public:
  // Takes over the references of both setters (no AddRef); the same setter
  // may serve both directions, in which case the caller AddRefs it once.
  TResizer(uint32_t ADecimationMode, TWeightSetter *ADecimationSetter, LongBool AIsLimitedDecimation,
           uint32_t AInterpolationMode, TWeightSetter *AInterpolationSetter, LongBool AIsLimitedInterpolation,
           uint32_t ASIMDMode = SIMD_MODE_INTEGER, bool ALinearColorSpace = false,
           int32_t AMaxThreadNum = 1);
  ~TResizer();
  TResizer(const TResizer &) = delete;
  TResizer &operator=(const TResizer &) = delete;

  // Store the mode, release the old setter and take Setter's reference; the
  // filter forgets its tables so that the next resize rebuilds them.
  void SetDecimationMode(uint32_t Mode, TWeightSetter *Setter, LongBool IsLimited);
  void SetInterpolationMode(uint32_t Mode, TWeightSetter *Setter, LongBool IsLimited);
  // Calculation mode and linear light; the filter is chosen again at the next resize.
  void SetSIMDMode(uint32_t Value, bool Degamma);
  void SetMaxThreadNum(int32_t Value);
  // A copy for another thread: the same setters (shared), modes and thread count.
  TResizer *CreateMTResizer() const;

  // Resizes Src into a new record Dest (cleared first; receives Mem, Width,
  // Height, Channels, Bpl and BPP 14 only). Src is unchanged. Pool may be
  // null. IsRGBA marks the fourth channel as alpha. Same size: Dest untouched.
  void ResizeImage(const TICCImgInfo &Src, TICCImgInfo &Dest, TMultiThread *Pool, bool UseLimiter, bool IsRGBA,
                   uint32_t NewHeight, uint32_t NewWidth);
  // In place: Img's pixels are replaced (BPP 14), every other field is kept.
  void ResizeImage(TICCImgInfo &Img, uint32_t NewWidth, TMultiThread *Pool, bool UseLimiter, bool IsRGBA,
                   uint32_t NewHeight);

  TCustomResizeFilter *RF = nullptr;
  TWeightSetter *DecimationWeightSetter;
  TWeightSetter *InterpolationWeightSetter;
  TLimiter *Limiter = nullptr;
  uint32_t DecimationMode;
  uint32_t InterpolationMode;
  uint32_t SIMDMode;
  bool LinearColorSpace;
  int32_t MaxThreadNum;
  LongBool IsLimitedDecimation;
  LongBool IsLimitedInterpolation;
  // Code path of the filters this resizer creates (-1: the one chosen when
  // the resampling library was loaded); for tests and benchmarks.
  int32_t FilterIsa = -1;

  // How many times the filter's tables were built; for checking that
  // repeated resizes of one geometry reuse them.
  uint64_t RebuildCount() const { return FRebuildCount; }

private:
  // Runs the resize into a new pixel block and returns it with its stride.
  uint8_t *Resize(const TICCImgInfo &Src, TMultiThread *Pool, bool UseLimiter, bool IsRGBA, uint32_t NewWidth,
                  uint32_t NewHeight, uint32_t &DestBpl);
  void ChooseFilter(uint32_t Channels, bool IsRGBA);
  void FreeFilter();

  uint64_t FRebuildCount = 0;
  bool FIntegerTables = false;  // the current filter takes integer weight tables
  bool FLimitPending = false;   // the last Resize computed limits to apply
};

// Whether the limiter applies to a resize of these lengths, from the
// setters' flags: both axes shrinking asks the reduction kernel, a width that
// does not shrink with a growing height the enlargement kernel, any other
// combination either.
bool LimiterApplies(uint32_t SrcWidth, uint32_t SrcHeight, uint32_t DestWidth, uint32_t DestHeight,
                    LongBool IsLimitedDecimation, LongBool IsLimitedInterpolation);

// The bytes a resize of Src to NewWidth x NewHeight holds at its peak with
// Threads threads: the source, the 14-bit working copy of a 16-bit source,
// each thread's rows of the passes, the 14-bit result and, with the
// limiter, its bounds (a minimum and a maximum per result sample).
uint64_t ResizeMemoryBytes(const TICCImgInfo &Src, uint32_t NewWidth, uint32_t NewHeight, bool UseLimiter,
                           uint32_t Threads);

// The parameter a mode takes from the resize options: the radius for Lanczos
// and Blackman-sinc, the sharpness for bicubic, the blur for Gaussian.
int32_t ModeParam(uint32_t Mode, int32_t Radius, int32_t Sharp, int32_t Blur);

// The program-wide resizers: the main one (configured from the resize
// options), one for shrinking text drawn at 4x size, one for thumbnails.
extern TResizer *MainResizer;
extern TResizer *AntialiasingResizer;
extern TResizer *ThumbnailResizer;

// Creates the three with the default kernels (main: Lanczos3 reduction,
// Spline36 enlargement, integer path) and MaxThread threads; frees them.
void CreateProgramResizers(int32_t MaxThread);
void FreeProgramResizers();

// Applies the resize options to the main resizer: a new setter for each mode,
// then the calculation mode and linear light when a calculation mode is given.
void ConfigureMainResizer(uint32_t DecimationMode, int32_t DecimationParam, uint32_t InterpolationMode,
                          int32_t InterpolationParam, std::optional<uint32_t> CalcMode, bool Degamma);
