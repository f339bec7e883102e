// Weight-table construction: kernels, edge folding, normalisation, the
// integer and single-precision row layouts and the sharing of equal rows.
#include "resample/Weight.h"

#include "core/Errors.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <unordered_map>
#include <vector>

namespace {

constexpr long double PI_L = 3.141592653589793238462643383279502884L;

// Floor of A / B for B > 0; 128-bit so that products of two lengths and
// small factors never overflow.
int64_t FloorDiv(__int128 A, __int128 B) {
  __int128 q = A / B;
  if ((A % B != 0) && (A < 0)) --q;
  return int64_t(q);
}

void CheckLengths(int32_t SrcLength, int32_t DestLength) {
  if (SrcLength < 1 || DestLength < 1) throw ETessivoError("リサイズの画素数が不正です");
}

int32_t ByteOffset(int32_t Step, int64_t Units) {
  const int64_t off = int64_t(Step) * Units;
  if (off > std::numeric_limits<int32_t>::max() || off < std::numeric_limits<int32_t>::min())
    throw ETessivoError("画像が大きすぎてリサイズできません");
  return int32_t(off);
}

int16_t ToFixed(double Weight) {
  // Truncation toward zero per weight; the clamp only guards the int16 range.
  const double v = std::clamp(Weight * WEIGHT_ONE, -32768.0, 32767.0);
  return int16_t(v);
}

// Collects the rows of one table into one block, keeping each distinct row
// once. Rows are runs of 32-bit words: the count word and then the weights.
class TRowStore {
public:
  TRowStore(int32_t DestLength, uint64_t MaxRowWords) : FDestLength(DestLength) {
    const uint64_t words = uint64_t(DestLength) * MaxRowWords;
    if (MaxRowWords > (uint64_t(1) << 40) || words > (uint64_t(1) << 40)) throw EOutOfMemory();
    FBuf = static_cast<uint32_t *>(AlignedAlloc(size_t(words * 4), 8));
    try {
      FInfo = static_cast<TWeightTableInfo *>(AlignedAlloc(size_t(DestLength) * sizeof(TWeightTableInfo), 8));
    } catch (...) {
      AlignedFree(FBuf);
      throw;
    }
  }
  ~TRowStore() {
    AlignedFree(FBuf);
    AlignedFree(FInfo);
  }
  TRowStore(const TRowStore &) = delete;
  TRowStore &operator=(const TRowStore &) = delete;

  // Space for the next row, starting with its count word.
  uint32_t *NextRow() { return FBuf + FUsed; }

  // Takes the row just written at NextRow() (Words words including the count)
  // for destination pixel d, or points d at an equal row kept earlier.
  void Keep(int32_t d, int32_t SrcOffset, uint64_t Words) {
    const uint32_t *row = FBuf + FUsed;
    const uint64_t h = Hash(row, Words);
    uint64_t at = FUsed;
    bool found = false;
    auto range = FIndex.equal_range(h);
    for (auto it = range.first; it != range.second; ++it) {
      const uint32_t *old = FBuf + it->second;
      if (old[0] == row[0] && std::memcmp(old, row, size_t(Words) * 4) == 0) {
        at = it->second;
        found = true;
        break;
      }
    }
    if (!found) {
      FIndex.emplace(h, FUsed);
      FUsed += Words;
    }
    FInfo[d].SrcOffset = SrcOffset;
    FInfo[d].pWeightTable = FBuf + at + 1;
  }

  void HandOver(TWeightTable &WT) {
    WT.WeightTableBuf = FBuf;
    WT.WeightTableInfo = FInfo;
    FBuf = nullptr;
    FInfo = nullptr;
  }

private:
  static uint64_t Hash(const uint32_t *Row, uint64_t Words) {
    uint64_t h = 1469598103934665603ull;
    for (uint64_t i = 0; i < Words; ++i) h = (h ^ Row[i]) * 1099511628211ull;
    return h;
  }

  int32_t FDestLength;
  uint32_t *FBuf = nullptr;
  TWeightTableInfo *FInfo = nullptr;
  uint64_t FUsed = 0;
  std::unordered_multimap<uint64_t, uint64_t> FIndex;
};

// Writes one row of normalised weights for the source run First .. First +
// Length - 1 and hands it to the store.
template <bool IsFloat>
void EmitRow(TRowStore &Store, int32_t d, int32_t Step, int64_t First, int64_t Length, const double *Values) {
  uint32_t *row = Store.NextRow();
  if constexpr (IsFloat) {
    row[0] = uint32_t(Length);
    auto *w = reinterpret_cast<float *>(row + 1);
    for (int64_t k = 0; k < Length; ++k) w[k] = float(Values[k]);
    Store.Keep(d, ByteOffset(Step, First), uint64_t(Length) + 1);
  } else {
    // Pairs start at an even source index: an odd run gets a leading 0, and
    // a run of odd padded length a trailing 0.
    const int64_t lead = First & 1;
    const int64_t total = lead + Length;
    const int64_t pairs = (total + 1) / 2;
    row[0] = uint32_t(pairs);
    auto *w = reinterpret_cast<int16_t *>(row + 1);
    int64_t i = 0;
    if (lead) w[i++] = 0;
    for (int64_t k = 0; k < Length; ++k) w[i++] = ToFixed(Values[k]);
    if (total & 1) w[i++] = 0;
    Store.Keep(d, ByteOffset(Step, First / 2), uint64_t(pairs) + 1);
  }
}

// Largest row in words (count word included) for runs of up to Taps pixels.
template <bool IsFloat>
uint64_t MaxRowWords(int64_t Taps) {
  return IsFloat ? uint64_t(Taps) + 1 : uint64_t(Taps + 2) / 2 + 1;
}

}  // namespace

void FreeWeightTable(TWeightTable &WT) {
  AlignedFree(WT.WeightTableBuf);
  AlignedFree(WT.WeightTableInfo);
  WT.WeightTableBuf = nullptr;
  WT.WeightTableInfo = nullptr;
}

void TWeightSetter::SetWeight(TWeightTable &WT, int32_t SrcLength, bool IsFloat, int32_t Step,
                              int32_t DestLength) const {
  if (IsFloat)
    SetWeightFloat(WT, SrcLength, Step, DestLength);
  else
    SetWeightInt(WT, SrcLength, Step, DestLength);
}

// ---------------------------------------------------------------------------
// Window functions

void TWndFuncWeight::SetWeightInt(TWeightTable &WT, int32_t SrcLength, int32_t Step, int32_t DestLength) const {
  Build<false>(WT, SrcLength, Step, DestLength);
}

void TWndFuncWeight::SetWeightFloat(TWeightTable &WT, int32_t SrcLength, int32_t Step, int32_t DestLength) const {
  Build<true>(WT, SrcLength, Step, DestLength);
}

template <bool IsFloat>
void TWndFuncWeight::Build(TWeightTable &WT, int32_t SrcLength, int32_t Step, int32_t DestLength) const {
  CheckLengths(SrcLength, DestLength);
  const int64_t N = SrcLength, M = DestLength, R = std::max<int64_t>(Radius, 1);
  const bool reduce = M < N;
  // When reducing, the kernel spans R destination pixels on each side.
  const int64_t n = reduce ? (N * R * 2 + M - 1) / M : 2 * R;
  if (n > (int64_t(1) << 30)) throw EOutOfMemory();

  TRowStore store(DestLength, MaxRowWords<IsFloat>(n));
  std::vector<double> values(size_t(n) + 2);
  // Tap positions are exact rationals over 2N (reducing, destination-pixel
  // units) or 2M (enlarging, source-pixel units): equal geometry gives
  // bit-identical rows, which the row sharing relies on.
  const double denom = reduce ? 2.0 * double(N) : 2.0 * double(M);
  // The taps of a row sit at (2i + 1)M - (2d + 1)N over denom: rows whose
  // first tap has the same numerator see the same kernel values, and with
  // lengths in a simple ratio only a few rows differ. While every numerator
  // is an integer a double holds exactly, the kernel values of each distinct
  // first numerator are computed once and reused (the same calls on the same
  // arguments, so the rows do not change).
  const __int128 limit = __int128(1) << 53;
  const bool exact = __int128(2 * (N + n) + 3) * M < limit && __int128(2 * M + 1) * N < limit;
  constexpr size_t KERNEL_CACHE_VALUES = size_t(1) << 20;
  std::unordered_map<int64_t, size_t> known;
  std::vector<double> kernel;
  std::vector<double> scratch;
  for (int64_t d = 0; d < M; ++d) {
    const int64_t i0 = reduce ? FloorDiv(__int128(2 * d - 2 * R + 1) * N + M, 2 * M)
                              : FloorDiv(__int128(2 * d + 1) * N - __int128(2 * R - 1) * M, 2 * M);
    const int64_t first = std::clamp<int64_t>(i0, 0, N - 1);
    const int64_t last = std::clamp<int64_t>(i0 + n - 1, 0, N - 1);
    const int64_t length = last - first + 1;
    std::fill(values.begin(), values.begin() + length, 0.0);
    double sum = 0;
    const double centre = double(2 * d + 1) * double(N);
    const auto compute = [&](double *Out) {
      for (int64_t k = 0; k < n; ++k) {
        const int64_t i = i0 + k;
        Out[k] = WeightFunc((double(2 * i + 1) * double(M) - centre) / denom);
      }
    };
    const double *raw = nullptr;
    if (exact) {
      const int64_t key = (2 * i0 + 1) * M - (2 * d + 1) * N;
      const auto it = known.find(key);
      if (it != known.end()) {
        raw = kernel.data() + it->second;
      } else if (kernel.size() + size_t(n) <= KERNEL_CACHE_VALUES) {
        const size_t at = kernel.size();
        kernel.resize(at + size_t(n));
        compute(kernel.data() + at);
        known.emplace(key, at);
        raw = kernel.data() + at;
      }
    }
    if (!raw) {
      scratch.resize(size_t(n));
      compute(scratch.data());
      raw = scratch.data();
    }
    for (int64_t k = 0; k < n; ++k) {
      const int64_t i = i0 + k;
      const double v = raw[k];
      values[size_t(std::clamp<int64_t>(i, 0, N - 1) - first)] += v;  // fold taps beyond the edges
      sum += v;
    }
    if (sum == 0 || !std::isfinite(sum)) {
      // A degenerate kernel gives no usable weights: take the pixel under the centre.
      std::fill(values.begin(), values.begin() + length, 0.0);
      const int64_t e = std::clamp<int64_t>(FloorDiv(__int128(2 * d + 1) * N, 2 * M), first, last);
      values[size_t(e - first)] = 1;
      sum = 1;
    }
    for (int64_t k = 0; k < length; ++k) values[size_t(k)] /= sum;
    EmitRow<IsFloat>(store, int32_t(d), Step, first, length, values.data());
  }
  store.HandOver(WT);
}

TLanczos::TLanczos(int32_t n) : TWndFuncWeight(n < 1 ? 1 : std::min(n, 32)) {}

double TLanczos::WeightFunc(double x) const {
  const long double a = std::fabs(x), n = Radius;
  if (a <= 1e-12L) return 1;
  if (a >= n) return 0;
  return double(std::sin(PI_L * a) * std::sin(PI_L * a / n) / (PI_L * PI_L * a * a / n));
}

double TBilinear::WeightFunc(double x) const { return std::max(0.0, 1 - std::fabs(x)); }

double TMitchellNetravali::WeightFunc(double x) const {
  const double a = std::fabs(x);
  if (a <= 1)
    return ((12 - 9 * b - 6 * c) * a * a * a + (-18 + 12 * b + 6 * c) * a * a + (6 - 2 * b)) / 6;
  if (a < 2)
    return ((-b - 6 * c) * a * a * a + (6 * b + 30 * c) * a * a + (-12 * b - 48 * c) * a + (8 * b + 24 * c)) / 6;
  return 0;
}

// A radius below 1 would leave a row without taps.
TBlackmanSinc::TBlackmanSinc(int32_t n) : TWndFuncWeight(n < 1 ? 1 : n) {}

double TBlackmanSinc::WeightFunc(double x) const {
  const long double a = std::fabs(x), n = Radius;
  if (a >= n) return 0;
  if (a <= 1e-12L) return 1;
  return double(std::sin(PI_L * a) / (PI_L * a) *
                (0.42L + 0.5L * std::cos(PI_L * a / n) + 0.08L * std::cos(2 * PI_L * a / n)));
}

double TSpline16::WeightFunc(double x) const {
  const double a = std::fabs(x);
  if (a < 1) return ((a - 9.0 / 5) * a - 1.0 / 5) * a + 1;
  if (a < 2) {
    const double t = a - 1;
    return ((-1.0 / 3 * t + 4.0 / 5) * t - 7.0 / 15) * t;
  }
  return 0;
}

double TSpline36::WeightFunc(double x) const {
  const double a = std::fabs(x);
  if (a < 1) return ((13.0 / 11 * a - 453.0 / 209) * a - 3.0 / 209) * a + 1;
  if (a < 2) {
    const double t = a - 1;
    return ((-6.0 / 11 * t + 270.0 / 209) * t - 156.0 / 209) * t;
  }
  if (a < 3) {
    const double t = a - 2;
    return ((1.0 / 11 * t - 45.0 / 209) * t + 26.0 / 209) * t;
  }
  return 0;
}

// Blur 0 would make sigma 0 and every weight NaN; it is taken as 1.
TGaussian::TGaussian(uint32_t Blur)
    : TWndFuncWeight(int32_t(std::max<uint64_t>((uint64_t(std::max(Blur, 1u)) + 5) / 6, 1))) {
  const double blur = std::max(Blur, 1u);
  a = double(Radius) * Radius / (blur * blur * 0.02);
  expw = std::exp(-4 * a);
}

double TGaussian::WeightFunc(double x) const {
  const double d = std::fabs(x);
  if (d >= Radius) return 0;
  const double r = 2 * d / Radius;
  return std::exp(-(r * r) * a) - expw;
}

// ---------------------------------------------------------------------------
// Area average

void TAreaAverage::SetWeightInt(TWeightTable &WT, int32_t SrcLength, int32_t Step, int32_t DestLength) const {
  Build<false>(WT, SrcLength, Step, DestLength);
}

void TAreaAverage::SetWeightFloat(TWeightTable &WT, int32_t SrcLength, int32_t Step, int32_t DestLength) const {
  Build<true>(WT, SrcLength, Step, DestLength);
}

template <bool IsFloat>
void TAreaAverage::Build(TWeightTable &WT, int32_t SrcLength, int32_t Step, int32_t DestLength) const {
  CheckLengths(SrcLength, DestLength);
  // Positions in units of 1/M source pixel: destination pixel d covers
  // [N d, N (d + 1)), source pixel i covers [M i, M (i + 1)); a pixel's weight
  // is its overlap divided by the destination width N.
  const int64_t N = SrcLength, M = DestLength;
  const int64_t maxTaps = (N + M - 1) / M + 1;
  TRowStore store(DestLength, MaxRowWords<IsFloat>(maxTaps));
  std::vector<double> values(size_t(maxTaps) + 2);
  auto weight = [&](int64_t Overlap) {
    if constexpr (IsFloat)
      return double(Overlap) / double(N);
    else
      return double(Overlap * WEIGHT_ONE / N) / WEIGHT_ONE;  // exact in double, truncated as integer
  };
  for (int64_t d = 0; d < M; ++d) {
    const int64_t e = N * d / M;
    const int64_t last = (N * (d + 1) - 1) / M;
    const int64_t k = last - e;
    if (k == 0) {
      // The destination pixel lies inside one source pixel (only when not
      // reducing): that pixel gets the whole weight.
      values[0] = weight(N);
    } else {
      values[0] = weight(M - (N * d) % M);
      for (int64_t j = 1; j < k; ++j) values[size_t(j)] = weight(M);
      values[size_t(k)] = weight((N * (d + 1) - 1) % M + 1);
    }
    EmitRow<IsFloat>(store, int32_t(d), Step, e, k + 1, values.data());
  }
  store.HandOver(WT);
}

// ---------------------------------------------------------------------------
// Nearest neighbour

namespace {

int64_t NearestSource(int64_t d, int64_t N, int64_t M) { return FloorDiv(__int128(2 * d + 1) * N, 2 * M); }

}  // namespace

void TNearestNeighbor::SetWeightInt(TWeightTable &WT, int32_t SrcLength, int32_t Step, int32_t DestLength) const {
  CheckLengths(SrcLength, DestLength);
  // Two shared rows: the pixel is the first or the second of its pair.
  auto *buf = static_cast<uint32_t *>(AlignedAlloc(6 * 4, 8));
  TWeightTableInfo *info;
  try {
    info = static_cast<TWeightTableInfo *>(AlignedAlloc(size_t(DestLength) * sizeof(TWeightTableInfo), 8));
  } catch (...) {
    AlignedFree(buf);
    throw;
  }
  int16_t pairs[2][2] = {{int16_t(WEIGHT_ONE), 0}, {0, int16_t(WEIGHT_ONE)}};
  buf[0] = 1;
  std::memcpy(buf + 1, pairs[0], 4);
  buf[2] = 1;
  std::memcpy(buf + 3, pairs[1], 4);
  try {
    for (int64_t d = 0; d < DestLength; ++d) {
      const int64_t e = NearestSource(d, SrcLength, DestLength);
      info[d].SrcOffset = ByteOffset(Step, e / 2);
      info[d].pWeightTable = buf + (e & 1 ? 3 : 1);
    }
  } catch (...) {
    AlignedFree(buf);
    AlignedFree(info);
    throw;
  }
  WT.WeightTableBuf = buf;
  WT.WeightTableInfo = info;
}

void TNearestNeighbor::SetWeightFloat(TWeightTable &WT, int32_t SrcLength, int32_t Step, int32_t DestLength) const {
  CheckLengths(SrcLength, DestLength);
  auto *buf = static_cast<uint32_t *>(AlignedAlloc(2 * 4, 8));
  TWeightTableInfo *info;
  try {
    info = static_cast<TWeightTableInfo *>(AlignedAlloc(size_t(DestLength) * sizeof(TWeightTableInfo), 8));
  } catch (...) {
    AlignedFree(buf);
    throw;
  }
  const float one = 1.0f;
  buf[0] = 1;
  std::memcpy(buf + 1, &one, 4);
  try {
    for (int64_t d = 0; d < DestLength; ++d) {
      info[d].SrcOffset = ByteOffset(Step, NearestSource(d, SrcLength, DestLength));
      info[d].pWeightTable = buf + 1;
    }
  } catch (...) {
    AlignedFree(buf);
    AlignedFree(info);
    throw;
  }
  WT.WeightTableBuf = buf;
  WT.WeightTableInfo = info;
}

// ---------------------------------------------------------------------------
// Mode codes

const TResizeModeInfo ResizeModeTable[9] = {
    {RESIZE_AREA_AVERAGE, "平均画素法", "Average", true, TResizeModeParam::None, "area"},
    {RESIZE_LANCZOS, "Lanczos", "Lanczos%d", false, TResizeModeParam::Radius, "lanczos"},
    {RESIZE_BILINEAR, "Bilinear", "Bilinear", false, TResizeModeParam::None, "bilinear"},
    {RESIZE_BICUBIC, "Bicubic", "Bicubic%d", false, TResizeModeParam::Sharp, "bicubic"},
    {RESIZE_BLACKMAN_SINC, "BlackmanSinc", "BlackmanSinc%d", false, TResizeModeParam::Radius, "blackman"},
    {RESIZE_SPLINE16, "Spline16", "Spline16", false, TResizeModeParam::None, "spline16"},
    {RESIZE_SPLINE36, "Spline36", "Spline36", false, TResizeModeParam::None, "spline36"},
    {RESIZE_GAUSSIAN, "Gaussian", "Gaussian%d", false, TResizeModeParam::Blur, "gaussian"},
    {RESIZE_NEAREST_NEIGHBOR, "NearestNeighbor", "NearestNeighbor", false, TResizeModeParam::None, "nearest"},
};

const TResizeModeInfo *FindResizeMode(uint32_t Mode) {
  for (const auto &m : ResizeModeTable)
    if (m.Code == Mode) return &m;
  return nullptr;
}

void BicubicParamsFromSharp(int32_t Sharp, double &b, double &c) {
  c = (Sharp + 4) / 12.0;
  b = std::max(0.0, 1 - 2 * c);
}

TCreatedWeightSetter CreateWeightSetter(uint32_t Mode, int32_t Param) {
  switch (Mode) {
    case RESIZE_AREA_AVERAGE:
      return {new TAreaAverage, LongFalse};
    case RESIZE_LANCZOS:
      return {new TLanczos(Param), Param > 1 ? LongTrue : LongFalse};
    case RESIZE_BILINEAR:
      return {new TBilinear, LongFalse};
    case RESIZE_BICUBIC: {
      double b, c;
      BicubicParamsFromSharp(Param, b, c);
      return {new TMitchellNetravali(b, c), b == 0 ? LongTrue : LongFalse};
    }
    case RESIZE_BLACKMAN_SINC:
      return {new TBlackmanSinc(Param), Param > 1 ? LongTrue : LongFalse};
    case RESIZE_SPLINE16:
      return {new TSpline16, LongTrue};
    case RESIZE_SPLINE36:
      return {new TSpline36, LongTrue};
    case RESIZE_GAUSSIAN:
      return {new TGaussian(uint32_t(std::max(Param, 1))), LongFalse};
    case RESIZE_NEAREST_NEIGHBOR:
      return {new TNearestNeighbor, LongFalse};
  }
  throw ETessivoError("不明なリサイズ方法です: " + std::to_string(Mode));
}

std::string ResizeModeDescriptor(uint32_t Mode, int32_t Param) {
  const TResizeModeInfo *m = FindResizeMode(Mode);
  if (!m) return std::string();
  char buf[64];
  std::snprintf(buf, sizeof(buf), m->Descriptor, m->Param != TResizeModeParam::None ? Param : 0);
  return buf;
}

std::string ResizeDescriptor(uint32_t DecimationMode, int32_t DecimationParam, uint32_t InterpolationMode,
                             int32_t InterpolationParam, uint32_t SrcWidth, uint32_t SrcHeight,
                             uint32_t DestWidth, uint32_t DestHeight, bool IsFloat, bool Degamma) {
  std::string s;
  if (SrcWidth == DestWidth && SrcHeight == DestHeight)
    s = "None";
  else if (DestWidth > SrcWidth || (DestWidth == SrcWidth && DestHeight > SrcHeight))
    s = ResizeModeDescriptor(InterpolationMode, InterpolationParam);
  else
    s = ResizeModeDescriptor(DecimationMode, DecimationParam);
  s += IsFloat ? "_float" : "_int";
  if (Degamma) s += "_degamma";
  return s;
}
