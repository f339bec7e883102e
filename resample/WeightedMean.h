// Same-size Gaussian filtering on the passes of the resampling library: the
// blur engine for one-channel masks (text shadows and glows) and the unsharp
// mask with separate strengths for brightening and darkening, a soft
// threshold and overshoot bounds around the local 3 x 3 range.
#pragma once

#include "resample/Filter.h"
#include "core/ImgInfo.h"
#include "core/MultiThread.h"
#include "resize/ResizeFilterInfo.h"
#include "resample/Weight.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// ---- Gaussian weights --------------------------------------------------------

// A Gaussian of standard deviation FRadius / 2, cut at FIRadius = ceil(FRadius)
// pixels on each side; tables map an axis onto itself.
class TGaussianBlurWeight {
public:
  // Radii that are not positive give the identity (one tap); radii beyond
  // GAUSSIAN_MAX_RADIUS raise ETessivoError.
  explicit TGaussianBlurWeight(double Radius);
  void SetParam(double Radius);

  // Same-size table for an axis of Len pixels: integer rows (16384 = 1.0, in
  // pairs from an even pixel) or single-precision rows. Taps beyond the axis
  // fold onto the edge pixels, and every row sums to 1; integer rows give
  // the truncation remainder to the row's own pixel so that a flat area
  // blurs to itself exactly. Rows that need no folding share two stored rows
  // (one per parity of the first pixel; one for float). The info array has
  // Len + 1 entries, the last repeating the last pixel's.
  void SetWeight(TWeightTable &WT, int32_t Len, bool IsFloat, int32_t Step) const;

  double FRadius = -1.0;
  std::vector<double> WeightTable;  // w(0) .. w(FIRadius)
  int32_t FIRadius = 0;
};

constexpr double GAUSSIAN_MAX_RADIUS = 1000.0;

// ---- Filters -------------------------------------------------------------------

// A filter whose source and destination have the same size: both axes carry
// a table, and the horizontal-and-vertical pass of the library does the work.
class TWeightedMeanFilter : public TFilter {
public:
  ~TWeightedMeanFilter() override;

  void ResetParam() override;
  void HVFilter() override {}
  void HFilter() override {}
  void VFilter() override {}
  // Geometry, strides, blocks and per-thread work buffers for filtering Src
  // (8- or 14-bit, the variant's channel count) onto itself; KernelRadius
  // sizes the vertical strip of the pass.
  virtual void SetFilterParam(const TICCImgInfo &Src, int32_t KernelRadius = 8);
  // Column and row blocks, once both tables exist.
  void SetBlockInfo();
  // Runs the horizontal-and-vertical pass into Dest (FDestBpl x AllocRows rows).
  void Execute(const uint8_t *Src, uint8_t *Dest, TMultiThread *Pool);

  bool IsFloat() const { return !FilterVariants[FKind].IsInteger; }
  int32_t HStep() const { return FilterVariants[FKind].HStep; }

  uint32_t FBPP = 0;
  int32_t FXdiv = 1;
  int32_t FYdiv = 1;
  const TResizeFilterInfo *FFilterInfo = nullptr;
  TResizeParam Param{};

protected:
  // Kind: the library data path; Isa < 0 for the start-up choice.
  TWeightedMeanFilter(int32_t Kind, int32_t Isa);
  int32_t FKind;
  int32_t FIsa;  // code path of the passes and kernels (< 0: start-up choice)
};

// Gray integer blur of the blur engine.
class TGaussianBlurFilter_i16 : public TWeightedMeanFilter {
public:
  explicit TGaussianBlurFilter_i16(int32_t Isa = -1) : TWeightedMeanFilter(RFK_GRAYi, Isa) {}
};

// The coefficients of the sharpening kernels, on the 14-bit scale with
// 4096 = 1.0; each unsharp-mask engine holds its own. The strengths are
// negative so that a sample moves away from its blurred surroundings.
struct TUnsharpMaskCoefficients {
  int16_t StrengthS = 0;    // -Shadow x 4096 / 100: applied where the sample is darker than the blur
  int16_t StrengthH = 0;    // -Highlight x 4096 / 100: where it is brighter
  int16_t Threshold64 = 0;  // threshold x 64
  int16_t Upper = 0;        // -(Highlight x Max) x 4096 / 10000
  int16_t Lower = 0;        // -(Shadow x Min) x 4096 / 10000
};

// The coefficients of the settings (percentages; the threshold in 8-bit
// steps). Values are kept to the dialog ranges (strengths 0 to 500, Max and
// Min 0 to 100, threshold 0 to 255) so that every coefficient fits the 16-bit
// lanes of the kernels.
TUnsharpMaskCoefficients MakeUnsharpMaskCoefficients(int32_t Highlight, int32_t Shadow, int32_t Threshold,
                                                     int32_t Max, int32_t Min);

// Takes each finished row of a sharpening on the pool thread that made it,
// at once, while the row is in cache: the engine reads the row no more, so
// the taker may go on with it (convert it back, store it elsewhere) and
// even change it. Rows arrive once each, in no fixed order across threads.
using TUSMRowSink = std::function<void(uint32_t Row)>;

class TCustomUnsharpMaskFilter : public TWeightedMeanFilter {
public:
  void SetFilterParam(const TICCImgInfo &Src, int32_t KernelRadius = 8) override;
  // Linear-light tables from the source's profile (linear variants).
  void SetGammaTable(const TICCImgInfo &Src, TGammaTableMaker Maker);
  // Horizontal step of the local limits of one source row (8- or 14-bit):
  // per group of 8 samples the 8 maxima, then the 8 minima, over x - 1 .. x + 1
  // of the sample's channel, clipped at the row's ends, on the 14-bit scale.
  void HLimit(const uint8_t *SrcRow, int16_t *Out) const;
  // Vertical step: the 3 x 3 limits of a row from the horizontal limits of the
  // rows above, itself and below (the same row twice at the image's edges).
  void GetLimit(const int16_t *Above, const int16_t *Row, const int16_t *Below, int16_t *Out) const;
  // Sharpens Img in place against its blur (14-bit, FDestBpl stride) with the
  // coefficients K, on the pool (null: here).
  void UnsharpMask(TICCImgInfo &Img, const uint8_t *Blur, const TUnsharpMaskCoefficients &K, TMultiThread *Pool,
                   const TUSMRowSink &Sink = {});

  int32_t LimitBPL() const { return FLimitBPL; }

  std::vector<float> FDegammaTable;
  std::vector<int16_t> FRegammaTable;
  LongBool FNeedGammaTable = LongFalse;
  int32_t FUSMXLoopCount = 0;  // groups of 16 samples per row
  int32_t FUSMYLoopCount = 0;  // rows

protected:
  TCustomUnsharpMaskFilter(int32_t Kind, int32_t Isa);
  int32_t FLimitBPL = 0;
  int32_t FSamples = 0;  // samples per row
};

class TGrayUSMFilter_i16 : public TCustomUnsharpMaskFilter {
public:
  explicit TGrayUSMFilter_i16(int32_t Isa = -1) : TCustomUnsharpMaskFilter(RFK_GRAYi, Isa) {}
};
class TGrayLinearUSMFilter_f32 : public TCustomUnsharpMaskFilter {
public:
  explicit TGrayLinearUSMFilter_f32(int32_t Isa = -1) : TCustomUnsharpMaskFilter(RFK_LGRAYf, Isa) {}
};
class TRGBUSMFilter_i16 : public TCustomUnsharpMaskFilter {
public:
  explicit TRGBUSMFilter_i16(int32_t Isa = -1) : TCustomUnsharpMaskFilter(RFK_RGBi, Isa) {}
};
class TRGBLinearUSMFilter_f32 : public TCustomUnsharpMaskFilter {
public:
  explicit TRGBLinearUSMFilter_f32(int32_t Isa = -1) : TCustomUnsharpMaskFilter(RFK_LRGBf, Isa) {}
};

// ---- Engines -------------------------------------------------------------------

// Blurs one-channel masks and scales them by an opacity. Not for two threads
// at once; each worker has its own copy.
class TGaussianBlur {
public:
  TGaussianBlur();
  ~TGaussianBlur();
  TGaussianBlur(const TGaussianBlur &) = delete;
  TGaussianBlur &operator=(const TGaussianBlur &) = delete;

  // The Gaussian's radius becomes Radius + 0.5; the filter is recreated.
  void SetGauusianBlurParam(double Radius);
  void SetMaxThread(int32_t Value);
  // A new engine with its own filter and weights of the same radius.
  TGaussianBlur *CreateMTGauusinBlur() const;
  // Blurs a 1-channel 8- or 14-bit image in place, scales it by Opacity / 256
  // (kept to 0 .. 32767) and leaves it as an 8-bit mask. Images of other
  // channel counts are left unchanged. Pool may be null.
  void DoGauusianBlur(TICCImgInfo &Info, int32_t Opacity, TMultiThread *Pool);

  std::unique_ptr<TGaussianBlurFilter_i16> GB;
  std::unique_ptr<TGaussianBlurWeight> GBWeight;
  int32_t FMaxThread = 1;

private:
  // Geometry the filter's tables were built for.
  uint32_t FWidth = 0, FHeight = 0, FBpl = 0, FBPP = 0, FThreads = 0;
};

// Unsharp mask. Not for two threads at once; each consumer has its own copy,
// and each copy carries its own coefficients.
class TUnsharpMask {
public:
  TUnsharpMask();
  ~TUnsharpMask();
  TUnsharpMask(const TUnsharpMask &) = delete;
  TUnsharpMask &operator=(const TUnsharpMask &) = delete;

  // Strengths in percent, Radius of the blur (the Gaussian's radius becomes
  // Radius + 0.5), Min and Max in percent of the strengths, Threshold in
  // 8-bit steps. Sets this engine's coefficients and frees the filter.
  void SetUnSharpMaskParam(int32_t Highlight, int32_t Shadow, bool Degamma, double Radius, int32_t Min,
                           int32_t Max, int32_t Threshold);
  void SetMaxThreadNum(int32_t Value);
  TUnsharpMask *CreateMTUnSharpMask() const;
  // Sharpens a 1- or 3-channel 8- or 14-bit image in place (the depth stays).
  // Nothing happens for IsRGBA, other channel counts or images below 3 x 3.
  // Pool may be null.
  void DoUnSharpMask(TICCImgInfo &Info, bool IsRGBA, TMultiThread *Pool);
  // The same sharpening with every finished row handed to Sink; false (and
  // no row handed over) where DoUnSharpMask leaves the image as it is.
  bool DoUnSharpMask(TICCImgInfo &Info, TMultiThread *Pool, const TUSMRowSink &Sink);

  std::unique_ptr<TCustomUnsharpMaskFilter> USM;
  std::unique_ptr<TGaussianBlurWeight> USMWeight;
  TUnsharpMaskCoefficients Coefficients = MakeUnsharpMaskCoefficients(0, 0, 0, 0, 0);
  bool FDegamma = false;
  int32_t FMaxThread = 1;
  // Code path of the filters made from here on (tests; < 0: start-up choice).
  int32_t Isa = -1;

private:
  uint32_t FWidth = 0, FHeight = 0, FChannels = 0, FBpl = 0, FBPP = 0, FThreads = 0;
};
