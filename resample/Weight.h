// Weight tables for separable resampling: one row of weights per destination
// pixel of an axis, built by a weight setter for one (source length,
// destination length) pair and consumed by the filter passes.
#pragma once

#include "core/ImgInfo.h"
#include "resize/WeightTable.h"

#include <atomic>
#include <cstdint>
#include <string>

// Releases both blocks of a table (either may be null) and clears it.
void FreeWeightTable(TWeightTable &WT);

// Builds weight tables. Setters are shared between a resizer and its copies
// through the reference count; building a table does not change the setter,
// so copies on different threads may use one setter at once.
class TWeightSetter {
public:
  TWeightSetter() = default;
  TWeightSetter(const TWeightSetter &) = delete;
  TWeightSetter &operator=(const TWeightSetter &) = delete;

  // Integer rows: pairs of int16 weights, 16384 = 1.0, starting at an even
  // source index; SrcOffset = Step * (first index / 2).
  virtual void SetWeightInt(TWeightTable &WT, int32_t SrcLength, int32_t Step, int32_t DestLength) const = 0;
  // Single-precision rows: one float per tap; SrcOffset = Step * first index.
  virtual void SetWeightFloat(TWeightTable &WT, int32_t SrcLength, int32_t Step, int32_t DestLength) const = 0;

  // WT must be empty (its previous blocks released). Raises ETessivoError for
  // lengths below 1 and EOutOfMemory when the table does not fit.
  void SetWeight(TWeightTable &WT, int32_t SrcLength, bool IsFloat, int32_t Step, int32_t DestLength) const;

  // A new setter starts at 0 and belongs to its creator; every further holder
  // calls AddRef. Release frees the setter (made with new) when the count
  // drops below 0.
  void AddRef() { RefCount.fetch_add(1); }
  void Release() {
    if (RefCount.fetch_sub(1) - 1 < 0) delete this;
  }

  virtual ~TWeightSetter() = default;

  std::atomic<int32_t> RefCount{0};
};
using PWeightSetter = TWeightSetter *;

// Kernels given as a function of distance with a finite support: the kernel
// is stretched over the destination grid when reducing and used as is when
// enlarging; taps beyond the image fold onto the edge pixels.
class TWndFuncWeight : public TWeightSetter {
public:
  explicit TWndFuncWeight(int32_t ARadius) : Radius(ARadius) {}
  void SetWeightInt(TWeightTable &WT, int32_t SrcLength, int32_t Step, int32_t DestLength) const override;
  void SetWeightFloat(TWeightTable &WT, int32_t SrcLength, int32_t Step, int32_t DestLength) const override;
  virtual double WeightFunc(double x) const = 0;

  int32_t Radius;  // support half-width in pixels

private:
  template <bool IsFloat>
  void Build(TWeightTable &WT, int32_t SrcLength, int32_t Step, int32_t DestLength) const;
};

class TLanczos : public TWndFuncWeight {
public:
  explicit TLanczos(int32_t n);  // radius n, kept within 1 to 32
  double WeightFunc(double x) const override;
};

class TBilinear : public TWndFuncWeight {
public:
  TBilinear() : TWndFuncWeight(1) {}
  double WeightFunc(double x) const override;
};

// Cubic filters of the (b, c) family; b = c = 1/3 is the usual compromise.
class TMitchellNetravali : public TWndFuncWeight {
public:
  TMitchellNetravali(double Ab, double Ac) : TWndFuncWeight(2), b(Ab), c(Ac) {}
  double WeightFunc(double x) const override;
  double b;
  double c;
};

class TBlackmanSinc : public TWndFuncWeight {
public:
  explicit TBlackmanSinc(int32_t n);  // radius n (at least 1)
  double WeightFunc(double x) const override;
};

class TSpline16 : public TWndFuncWeight {
public:
  TSpline16() : TWndFuncWeight(2) {}
  double WeightFunc(double x) const override;
};

class TSpline36 : public TWndFuncWeight {
public:
  TSpline36() : TWndFuncWeight(3) {}
  double WeightFunc(double x) const override;
};

// A Gaussian of sigma Blur / 20, lowered so that it reaches 0 at the radius.
class TGaussian : public TWndFuncWeight {
public:
  explicit TGaussian(uint32_t Blur);  // Blur 0 is taken as 1
  double WeightFunc(double x) const override;
  double a;
  double expw;
};

// Box reduction: each destination pixel averages the source interval it
// covers, partial pixels at both ends weighted by their share.
class TAreaAverage : public TWeightSetter {
public:
  void SetWeightInt(TWeightTable &WT, int32_t SrcLength, int32_t Step, int32_t DestLength) const override;
  void SetWeightFloat(TWeightTable &WT, int32_t SrcLength, int32_t Step, int32_t DestLength) const override;

private:
  template <bool IsFloat>
  void Build(TWeightTable &WT, int32_t SrcLength, int32_t Step, int32_t DestLength) const;
};

// Each destination pixel copies the source pixel under its centre.
class TNearestNeighbor : public TWeightSetter {
public:
  void SetWeightInt(TWeightTable &WT, int32_t SrcLength, int32_t Step, int32_t DestLength) const override;
  void SetWeightFloat(TWeightTable &WT, int32_t SrcLength, int32_t Step, int32_t DestLength) const override;
};

// Resize method codes of the resize options (DecimationMode, InterpolationMode).
enum : uint32_t {
  RESIZE_AREA_AVERAGE = 1,
  RESIZE_LANCZOS = 2,
  RESIZE_BILINEAR = 3,
  RESIZE_BICUBIC = 4,
  RESIZE_BLACKMAN_SINC = 5,
  RESIZE_SPLINE16 = 6,
  RESIZE_SPLINE36 = 7,
  RESIZE_GAUSSIAN = 8,
  RESIZE_NEAREST_NEIGHBOR = 9,
};

// The resize option a method takes its parameter from.
enum class TResizeModeParam { None, Radius, Sharp, Blur };

// One resize method. ResizeModeTable is the only place that names the
// methods: option lists, generated names and tool command lines read it.
struct TResizeModeInfo {
  uint32_t Code;
  const char *ListName;    // name in the option lists
  const char *Descriptor;  // printf format naming the method in generated text
  bool DecimationOnly;
  TResizeModeParam Param;      // radius, sharpness, blur or none
  const char *ToolName;    // lower-case name on the command lines of the tools
};
extern const TResizeModeInfo ResizeModeTable[9];

// The table entry of a code, or null for an unknown code.
const TResizeModeInfo *FindResizeMode(uint32_t Mode);

// Parameters of the bicubic sharpness s: c = (s + 4) / 12, b = max(0, 1 - 2c).
void BicubicParamsFromSharp(int32_t Sharp, double &b, double &c);

struct TCreatedWeightSetter {
  TWeightSetter *Setter;  // reference count 0: the caller owns it
  LongBool IsLimited;     // kernel overshoots; the limiter applies
};
// The setter of a mode code with its parameter (radius for Lanczos and
// Blackman-sinc, sharpness for bicubic, blur for Gaussian; ignored by the
// others). Raises ETessivoError for an unknown code.
TCreatedWeightSetter CreateWeightSetter(uint32_t Mode, int32_t Param);

// Descriptor of one mode with its parameter, e.g. "Lanczos3", "Spline36".
std::string ResizeModeDescriptor(uint32_t Mode, int32_t Param);

// Descriptor of a whole resize as used in generated names: the enlargement
// mode when the horizontal factor is above 1 (or equal with the vertical one
// above 1), else the reduction mode; "None" when neither axis changes; then
// "_float" or "_int", then "_degamma" for linear light.
std::string ResizeDescriptor(uint32_t DecimationMode, int32_t DecimationParam, uint32_t InterpolationMode,
                             int32_t InterpolationParam, uint32_t SrcWidth, uint32_t SrcHeight,
                             uint32_t DestWidth, uint32_t DestHeight, bool IsFloat, bool Degamma);
