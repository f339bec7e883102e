// The resizer front end and the overshoot limiter.
#include "resample/Resize.h"

#include "core/Errors.h"
#include "resample/Filter.h"
#include "color/ICCUtil.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <type_traits>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <mutex>

// ---------------------------------------------------------------------------
// Overshoot limiter

namespace {

// Source samples and how they reach the 14-bit scale of the limits. Window
// ranges are taken on the stored samples (Level), which is exact because
// the scaling is monotonic; 8-bit rows stay 8-bit until then, so the vector
// passes cover twice the samples.
struct TSample8 {
  using T = uint8_t;
  using Level = uint8_t;
  static Level Load(T v) { return v; }
  static int16_t Scale(Level v) { return int16_t(v * 64); }
};
struct TSample14 {
  using T = int16_t;
  using Level = int16_t;
  static Level Load(T v) { return v; }
  static int16_t Scale(Level v) { return v; }
};
struct TSample16 {
  using T = uint16_t;
  using Level = int16_t;
  static Level Load(T v) { return int16_t(uint32_t(v) * FULL_SCALE_14 / 65535); }
  static int16_t Scale(Level v) { return v; }
};

int32_t CheckedOffset(int64_t Value) {
  if (Value > std::numeric_limits<int32_t>::max()) throw ETessivoError("画像が大きすぎてリサイズできません");
  return int32_t(Value);
}

// Windows of one axis: destination index i is limited by source indices
// max(w, 0) .. min(w + b - 1, S - 1).
void SetWindows(TLimiterInfo *Info, int64_t S, int64_t D, int64_t Unit) {
  const int64_t b = std::max<int64_t>(3, (2 * S + D - 1) / D);
  for (int64_t i = 0; i < D; ++i) {
    int64_t w;
    if (D < S) {
      const int64_t num = (2 * i - 1) * S + D;  // floor((i - 0.5) S / D + 0.5)
      w = num >= 0 ? num / (2 * D) : -((-num + 2 * D - 1) / (2 * D));
    } else {
      w = (2 * i + 1) * S / (2 * D) - 1;
    }
    const int64_t first = std::max<int64_t>(w, 0), last = std::min(w + b - 1, S - 1);
    Info[i].Pixels = int32_t(last - first + 1);
    Info[i].Offset = CheckedOffset(first * Unit);
  }
}

struct TLimitJob {
  const TLimiter *L;
  const TICCImgInfo *Img;
  TICCImgInfo *Out;
  size_t TmpBytes;  // each thread's part of Tmp
};

// Hi[j] = max(A[j], B[j]) and Lo[j] = min(C[j], D[j]) for j < n: the one
// loop all limiter steps are made of (outputs may alias inputs).
template <class V>
void MaxMin(const V *A, const V *B, const V *C, const V *D, V *Hi, V *Lo, size_t n) {
  size_t j = 0;
#if defined(__SSE2__)
  constexpr size_t lanes = 16 / sizeof(V);
  for (; j + lanes <= n; j += lanes) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(A + j));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(B + j));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(C + j));
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i *>(D + j));
    if constexpr (sizeof(V) == 1) {
      _mm_storeu_si128(reinterpret_cast<__m128i *>(Hi + j), _mm_max_epu8(a, b));
      _mm_storeu_si128(reinterpret_cast<__m128i *>(Lo + j), _mm_min_epu8(c, d));
    } else {
      _mm_storeu_si128(reinterpret_cast<__m128i *>(Hi + j), _mm_max_epi16(a, b));
      _mm_storeu_si128(reinterpret_cast<__m128i *>(Lo + j), _mm_min_epi16(c, d));
    }
  }
#endif
  for (; j < n; ++j) {
    const V a = A[j], b = B[j], c = C[j], d = D[j];  // all read before either write
    Hi[j] = std::max(a, b);
    Lo[j] = std::min(c, d);
  }
}

// The largest k with 2^k <= n, for n >= 1.
int FloorLog2(uint32_t n) { return 31 - __builtin_clz(n); }

// Horizontal step of one row of vertical ranges (Hi0, Lo0: SrcWidth x C
// samples) into the DestWidth x C limits Hi and Lo. Level k of a sparse
// table holds the maximum (minimum) of the 2^k pixels starting at each
// pixel, so the range of any window is that of two overlapping power-of-two
// runs: a few vector passes over the row instead of one loop per window.
template <class S, int C>
class THorizontalRow {
public:
  using Level = typename S::Level;
  explicit THorizontalRow(const TLimiter &L) : FL(L), FN(size_t(L.SrcWidth) * C) {
    uint32_t widest = 1;
    for (int32_t x = 0; x < L.DestWidth; ++x) widest = std::max(widest, uint32_t(L.HLimiterInfo[x].Pixels));
    FLevels = FloorLog2(widest) + 1;
    FHi.resize(size_t(FLevels) * FN);
    FLo.resize(size_t(FLevels) * FN);
  }

  void Run(const Level *Hi0, const Level *Lo0, int16_t *Hi, int16_t *Lo) {
    for (int k = 1; k < FLevels; ++k) {
      const size_t shift = (size_t(1) << (k - 1)) * C, count = FN - ((size_t(1) << k) - 1) * C;
      const Level *hiPrev = k == 1 ? Hi0 : FHi.data() + (k - 1) * FN;
      const Level *loPrev = k == 1 ? Lo0 : FLo.data() + (k - 1) * FN;
      MaxMin(hiPrev, hiPrev + shift, loPrev, loPrev + shift, FHi.data() + k * FN, FLo.data() + k * FN, count);
    }
    for (int32_t x = 0; x < FL.DestWidth; ++x) {
      const TLimiterInfo &w = FL.HLimiterInfo[x];
      const int k = FloorLog2(uint32_t(w.Pixels));
      const size_t a = size_t(w.Offset) / sizeof(typename S::T), b = a + (size_t(w.Pixels) - (size_t(1) << k)) * C;
      const Level *H = k == 0 ? Hi0 : FHi.data() + k * FN, *Lw = k == 0 ? Lo0 : FLo.data() + k * FN;
      for (int c = 0; c < C; ++c) {
        Hi[x * C + c] = S::Scale(std::max(H[a + c], H[b + c]));
        Lo[x * C + c] = S::Scale(std::min(Lw[a + c], Lw[b + c]));
      }
    }
  }

private:
  const TLimiter &FL;
  size_t FN;
  int FLevels;
  std::vector<Level> FHi, FLo;
};

// Limits of one thread's destination rows. The range over a rectangle does
// not depend on the order of the axes, so the rows of each vertical window
// are combined first, over the source width, and the horizontal windows
// then run once per destination row rather than once per source row.
template <class S, int C>
void LimitRows(const TLimitJob &Job, int32_t Index, int32_t Count) {
  using T = typename S::T;
  using Level = typename S::Level;
  const TLimiter &L = *Job.L;
  const TRowRange r = SplitRange(uint32_t(L.DestHeight), Index, Count);
  if (r.empty()) return;
  THorizontalRow<S, C> horizontal(L);
  const size_t sn = size_t(L.SrcWidth) * C, half = size_t(uint32_t(L.BPL)) / 4;
  auto *colHi = reinterpret_cast<Level *>(L.Tmp + size_t(Index) * Job.TmpBytes);
  Level *colLo = colHi + sn, *wide = colLo + sn;  // wide: a 16-bit row on the working scale
  auto row = [&](int64_t y) -> const Level * {
    const T *p = reinterpret_cast<const T *>(ScanLine(*Job.Img, uint32_t(y)));
    if constexpr (std::is_same_v<T, Level>) {
      return p;
    } else {
      for (size_t j = 0; j < sn; ++j) wide[j] = S::Load(p[j]);
      return wide;
    }
  };
  for (uint32_t d = r.First; d < r.Last; ++d) {
    const TLimiterInfo &w = L.VLimiterInfo[d];
    const int64_t first = w.Offset / L.BPL, last = first + w.Pixels - 1;
    const Level *hi0 = row(first), *lo0 = hi0;
    if (w.Pixels > 1) {
      const Level *r0 = hi0;
      if (r0 == wide) {
        std::memcpy(colHi, wide, sn * sizeof(Level));
        r0 = colHi;
      }
      const Level *r1 = row(first + 1);
      MaxMin(r0, r1, r0, r1, colHi, colLo, sn);
      for (int64_t y = first + 2; y <= last; ++y) {
        const Level *ry = row(y);
        MaxMin(colHi, ry, colLo, ry, colHi, colLo, sn);
      }
      hi0 = colHi;
      lo0 = colLo;
    }
    auto *hi = reinterpret_cast<int16_t *>(L.Limit + size_t(d) * uint32_t(L.BPL));
    horizontal.Run(hi0, lo0, hi, hi + half);
  }
}

template <class S>
void LimitJob(int32_t Index, int32_t Count, void *Param) {
  const auto &job = *static_cast<TLimitJob *>(Param);
  switch (job.L->Channels) {
    case 1:
      LimitRows<S, 1>(job, Index, Count);
      break;
    case 3:
      LimitRows<S, 3>(job, Index, Count);
      break;
    default:
      LimitRows<S, 4>(job, Index, Count);
      break;
  }
}

void ClampJob(int32_t Index, int32_t Count, void *Param) {
  const auto &job = *static_cast<TLimitJob *>(Param);
  const TLimiter &L = *job.L;
  const TRowRange r = SplitRange(uint32_t(L.DestHeight), Index, Count);
  const size_t n = size_t(L.DestWidth) * uint32_t(L.Channels), half = size_t(L.BPL) / 4;
  for (uint32_t d = r.First; d < r.Last; ++d) {
    auto *s = reinterpret_cast<int16_t *>(ScanLine(*job.Out, d));
    const auto *hi = reinterpret_cast<const int16_t *>(L.Limit + size_t(d) * uint32_t(L.BPL));
    const int16_t *lo = hi + half;
    size_t j = 0;
#if defined(__SSE2__)
    for (; j + 8 <= n; j += 8) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + j));
      const __m128i h = _mm_loadu_si128(reinterpret_cast<const __m128i *>(hi + j));
      const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i *>(lo + j));
      _mm_storeu_si128(reinterpret_cast<__m128i *>(s + j), _mm_max_epi16(_mm_min_epi16(v, h), l));
    }
#endif
    for (; j < n; ++j) s[j] = std::max(std::min(s[j], hi[j]), lo[j]);
  }
}

void RunJob(TMultiThread *Pool, TMultiThreadProc Proc, void *Param) {
  if (Pool)
    Pool->exec_multi_thread_func(Proc, Param);
  else
    Proc(0, 1, Param);
}

}  // namespace

TLimiter::~TLimiter() { FreeBuffers(); }

void TLimiter::FreeBuffers() {
  delete[] HLimiterInfo;
  delete[] VLimiterInfo;
  AlignedFree(Tmp);
  AlignedFree(Limit);
  HLimiterInfo = VLimiterInfo = nullptr;
  Tmp = Limit = nullptr;
  FTmpThreads = 0;
  SrcWidth = SrcHeight = DestWidth = DestHeight = Channels = BPP = -1;
}

void TLimiter::Prepare(int32_t ASrcWidth, int32_t ASrcHeight, int32_t ADestWidth, int32_t ADestHeight,
                       int32_t AChannels, int32_t ABPP) {
  if (ASrcWidth == SrcWidth && ASrcHeight == SrcHeight && ADestWidth == DestWidth && ADestHeight == DestHeight &&
      AChannels == Channels && ABPP == BPP)
    return;
  FreeBuffers();
  const int64_t rowBytes = ((int64_t(ADestWidth) + 7) / 8 * AChannels * 16 + AChannels * 2 + 127) / 128 * 128;
  BPL = CheckedOffset(2 * rowBytes);
  const int64_t pixelBytes = int64_t(AChannels) * (ABPP == BPP_8 ? 1 : 2);
  HLimiterInfo = new TLimiterInfo[size_t(ADestWidth)];
  VLimiterInfo = new TLimiterInfo[size_t(ADestHeight)];
  SetWindows(HLimiterInfo, ASrcWidth, ADestWidth, pixelBytes);
  SetWindows(VLimiterInfo, ASrcHeight, ADestHeight, BPL);
  Limit = static_cast<uint8_t *>(AlignedAlloc(size_t(BPL) * uint32_t(ADestHeight), 128));
  // Only now is the geometry valid: a failed allocation leaves it unset.
  SrcWidth = ASrcWidth;
  SrcHeight = ASrcHeight;
  DestWidth = ADestWidth;
  DestHeight = ADestHeight;
  Channels = AChannels;
  BPP = ABPP;
}

void TLimiter::CalcLimit(const TICCImgInfo &Src, uint32_t ADestWidth, uint32_t ADestHeight, TMultiThread *Pool) {
  if (Src.Channels != 1 && Src.Channels != 3 && Src.Channels != 4)
    throw ETessivoError("この画像形式は制限処理できません");
  if (Src.BPP != BPP_8 && Src.BPP != BPP_14 && Src.BPP != BPP_16)
    throw ETessivoError("この画素深度は制限処理できません");
  if (!Src.Mem || Src.Width < 1 || Src.Height < 1 || ADestWidth < 1 || ADestHeight < 1 ||
      Src.Width > uint32_t(std::numeric_limits<int32_t>::max()) ||
      Src.Height > uint32_t(std::numeric_limits<int32_t>::max()) ||
      ADestWidth > uint32_t(std::numeric_limits<int32_t>::max()) ||
      ADestHeight > uint32_t(std::numeric_limits<int32_t>::max()))
    throw ETessivoError("リサイズの画素数が不正です");
  Prepare(int32_t(Src.Width), int32_t(Src.Height), int32_t(ADestWidth), int32_t(ADestHeight),
          int32_t(Src.Channels), int32_t(Src.BPP));
  // Per thread: maxima and minima over the rows of one vertical window, and
  // one source row taken to the working scale, SrcWidth x Channels samples each.
  const size_t tmpBytes = (size_t(Src.Width) * Src.Channels * 2 * 3 + 127) / 128 * 128;
  const int32_t threads = Pool ? Pool->MaxThread() : 1;
  if (FTmpThreads < threads) {
    AlignedFree(Tmp);
    Tmp = nullptr;
    FTmpThreads = 0;
    Tmp = static_cast<uint8_t *>(AlignedAlloc(tmpBytes * uint32_t(threads), 128));
    FTmpThreads = threads;
  }
  TLimitJob job{this, &Src, nullptr, tmpBytes};
  RunJob(Pool,
         Src.BPP == BPP_8    ? LimitJob<TSample8>
         : Src.BPP == BPP_14 ? LimitJob<TSample14>
                             : LimitJob<TSample16>,
         &job);
}

void TLimiter::ApplyLimit(TICCImgInfo &Dest, TMultiThread *Pool) const {
  if (!Limit || int32_t(Dest.Width) != DestWidth || int32_t(Dest.Height) != DestHeight ||
      int32_t(Dest.Channels) != Channels || Dest.BPP != BPP_14)
    throw ETessivoError("制限処理の画像サイズが一致しません");
  TLimitJob job{this, nullptr, &Dest, 0};
  RunJob(Pool, ClampJob, &job);
}

bool LimiterApplies(uint32_t SrcWidth, uint32_t SrcHeight, uint32_t DestWidth, uint32_t DestHeight,
                    LongBool IsLimitedDecimation, LongBool IsLimitedInterpolation) {
  if (DestWidth < SrcWidth && DestHeight < SrcHeight) return IsLimitedDecimation != 0;
  if (DestWidth >= SrcWidth && DestHeight > SrcHeight) return IsLimitedInterpolation != 0;
  return IsLimitedDecimation != 0 || IsLimitedInterpolation != 0;
}

int32_t ModeParam(uint32_t Mode, int32_t Radius, int32_t Sharp, int32_t Blur) {
  const TResizeModeInfo *m = FindResizeMode(Mode);
  switch (m ? m->Param : TResizeModeParam::None) {
    case TResizeModeParam::Radius:
      return Radius;
    case TResizeModeParam::Sharp:
      return Sharp;
    case TResizeModeParam::Blur:
      return Blur;
    case TResizeModeParam::None:
      break;
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Resizer

TResizer::TResizer(uint32_t ADecimationMode, TWeightSetter *ADecimationSetter, LongBool AIsLimitedDecimation,
                   uint32_t AInterpolationMode, TWeightSetter *AInterpolationSetter,
                   LongBool AIsLimitedInterpolation, uint32_t ASIMDMode, bool ALinearColorSpace,
                   int32_t AMaxThreadNum)
    : DecimationWeightSetter(ADecimationSetter),
      InterpolationWeightSetter(AInterpolationSetter),
      DecimationMode(ADecimationMode),
      InterpolationMode(AInterpolationMode),
      SIMDMode(ASIMDMode),
      LinearColorSpace(ALinearColorSpace),
      MaxThreadNum(AMaxThreadNum),
      IsLimitedDecimation(AIsLimitedDecimation),
      IsLimitedInterpolation(AIsLimitedInterpolation) {}

TResizer::~TResizer() {
  FreeFilter();
  delete Limiter;
  if (DecimationWeightSetter) DecimationWeightSetter->Release();
  if (InterpolationWeightSetter) InterpolationWeightSetter->Release();
}

void TResizer::FreeFilter() {
  delete RF;
  RF = nullptr;
}

void TResizer::SetDecimationMode(uint32_t Mode, TWeightSetter *Setter, LongBool IsLimited) {
  DecimationMode = Mode;
  if (DecimationWeightSetter) DecimationWeightSetter->Release();
  DecimationWeightSetter = Setter;
  if (RF) RF->ResetParam();
  IsLimitedDecimation = IsLimited;
}

void TResizer::SetInterpolationMode(uint32_t Mode, TWeightSetter *Setter, LongBool IsLimited) {
  InterpolationMode = Mode;
  if (InterpolationWeightSetter) InterpolationWeightSetter->Release();
  InterpolationWeightSetter = Setter;
  if (RF) RF->ResetParam();
  IsLimitedInterpolation = IsLimited;
}

void TResizer::SetSIMDMode(uint32_t Value, bool Degamma) {
  SIMDMode = Value;
  LinearColorSpace = Degamma;
  FreeFilter();
}

void TResizer::SetMaxThreadNum(int32_t Value) {
  MaxThreadNum = Value;
  if (RF) RF->SetMaxThread(uint32_t(std::max(Value, 1)));
}

TResizer *TResizer::CreateMTResizer() const {
  if (DecimationWeightSetter) DecimationWeightSetter->AddRef();
  if (InterpolationWeightSetter) InterpolationWeightSetter->AddRef();
  auto *r = new TResizer(DecimationMode, DecimationWeightSetter, IsLimitedDecimation, InterpolationMode,
                         InterpolationWeightSetter, IsLimitedInterpolation, SIMDMode, LinearColorSpace, MaxThreadNum);
  r->FilterIsa = FilterIsa;
  return r;
}

void TResizer::ChooseFilter(uint32_t Channels, bool IsRGBA) {
  FreeFilter();
  // Linear light always takes the float filters; colour with alpha always the
  // float RGBA filters (alpha weighting needs more range than the integer
  // passes' 16-bit products have); four channels without alpha the integer
  // CMYK filter.
  const int32_t kind = ChooseFilterKind(Channels, IsRGBA, SIMDMode == SIMD_MODE_INTEGER, LinearColorSpace);
  RF = CreateResizeFilter(kind, FilterIsa);
  FIntegerTables = FilterVariants[kind].IsInteger;
}

uint8_t *TResizer::Resize(const TICCImgInfo &Src, TMultiThread *Pool, bool UseLimiter, bool IsRGBA,
                          uint32_t NewWidth, uint32_t NewHeight, uint32_t &DestBpl) {
  if (Src.Channels != 1 && Src.Channels != 3 && Src.Channels != 4)
    throw ETessivoError("この画像形式はリサイズできません");
  if (Src.BPP != BPP_8 && Src.BPP != BPP_14 && Src.BPP != BPP_16)
    throw ETessivoError("この画素深度はリサイズできません");
  constexpr uint32_t maxLen = uint32_t(std::numeric_limits<int32_t>::max());
  if (!Src.Mem || Src.Width < 1 || Src.Height < 1 || NewWidth < 1 || NewHeight < 1 || Src.Width > maxLen ||
      Src.Height > maxLen || NewWidth > maxLen || NewHeight > maxLen || Src.Bpl > maxLen)
    throw ETessivoError("リサイズの画素数が不正です");
  if (!DecimationWeightSetter || !InterpolationWeightSetter) throw ETessivoError("リサイズ方法が設定されていません");
  // The alpha flag means something only for four channels.
  IsRGBA = IsRGBA && Src.Channels == 4;
  if (Src.BPP == BPP_16) {
    // The passes read wide samples as signed 14-bit values: 16-bit samples
    // above 32767 would turn negative, so they go to the working depth first.
    // The working copy shares the source's profile, which stays with the source.
    TICCImgOwner work(false);
    TICCImgInfo &s14 = *work;
    s14.Width = Src.Width;
    s14.Height = Src.Height;
    s14.Channels = Src.Channels;
    s14.Bpl = Src.Bpl;
    s14.BPP = BPP_14;
    s14.ProfileType = Src.ProfileType;
    s14.ICCProfile = Src.ICCProfile;
    s14.ProfileLen = Src.ProfileLen;
    s14.PixelFormat = Src.PixelFormat;
    s14.Mem = AllocPixelBlock(Src.Bpl, Src.Height);
    const size_t n = size_t(Src.Width) * Src.Channels;
    for (uint32_t y = 0; y < Src.Height; ++y) {
      const auto *a = reinterpret_cast<const uint16_t *>(ScanLine(Src, y));
      auto *b = reinterpret_cast<int16_t *>(ScanLine(s14, y));
      for (size_t i = 0; i < n; ++i) b[i] = int16_t(uint32_t(a[i]) * FULL_SCALE_14 / 65535);
    }
    return Resize(s14, Pool, UseLimiter, IsRGBA, NewWidth, NewHeight, DestBpl);
  }

  if (!RF || (RF->FIsRGBA != 0) != IsRGBA || RF->FChannels != Src.Channels) ChooseFilter(Src.Channels, IsRGBA);

  const uint32_t threads = Pool ? uint32_t(Pool->MaxThread()) : 1;
  TResizeParam &P = RF->Param;
  const bool widthChanges = NewWidth != Src.Width, heightChanges = NewHeight != Src.Height;
  if (uint32_t(P.SrcWidth) != Src.Width || uint32_t(P.SrcHeight) != Src.Height ||
      uint32_t(P.DestWidth) != NewWidth || uint32_t(P.DestHeight) != NewHeight || RF->FChannels != Src.Channels ||
      RF->FSrcBpl != Src.Bpl || RF->FBPP != Src.BPP || (Pool && RF->FMaxThread != threads) ||
      RF->FMaxThread < 1) {
    try {
      RF->SetMaxThread(threads);
      RF->SetResizeParam(Src, NewWidth, NewHeight);
      const bool isFloat = !FIntegerTables;
      if (widthChanges) {
        TWeightSetter *s = NewWidth < Src.Width ? DecimationWeightSetter : InterpolationWeightSetter;
        s->SetWeight(P.HWeightTable, int32_t(Src.Width), isFloat, P.HStep, int32_t(NewWidth));
      }
      if (heightChanges) {
        TWeightSetter *s = NewHeight < Src.Height ? DecimationWeightSetter : InterpolationWeightSetter;
        const int32_t step = widthChanges ? int32_t(RF->FTmpBpl) : P.VStep;
        s->SetWeight(P.VWeightTable, int32_t(Src.Height), isFloat, step, int32_t(NewHeight));
      }
      RF->SetBlockInfo();
      ++FRebuildCount;
    } catch (...) {
      // A half-built filter must not be mistaken for a ready one next time.
      RF->ResetParam();
      throw;
    }
  }

  const bool limit =
      UseLimiter && LimiterApplies(Src.Width, Src.Height, NewWidth, NewHeight, IsLimitedDecimation,
                                   IsLimitedInterpolation);
  if (limit) {
    if (!Limiter) Limiter = new TLimiter;
    Limiter->CalcLimit(Src, NewWidth, NewHeight, Pool);
  }
  if (RF->FNeedGammaTable) {
    // Linear-light tables follow the tone curves of the source's profile.
    RF->SetGammaTable(Src, MakeResizeGammaTables);
  }

  DestBpl = RF->FDestBpl;
  // The passes write every row of the destination.
  uint8_t *dest = AllocPixelBlockReused(DestBpl, NewHeight);
  try {
    RF->Execute(Src.Mem, dest, Pool);
  } catch (...) {
    PageFree(dest);
    throw;
  }
  FLimitPending = limit;
  return dest;
}

uint64_t ResizeMemoryBytes(const TICCImgInfo &Src, uint32_t NewWidth, uint32_t NewHeight, bool UseLimiter,
                           uint32_t Threads) {
  const uint64_t Source = uint64_t(Src.Bpl) * Src.Height;
  const uint64_t WorkingCopy = Src.BPP == BPP_16 ? Source : 0;
  const uint64_t Rows = uint64_t(Src.Width) * Src.Channels * 2 * 3 * std::max(1u, Threads);
  const uint64_t Result = uint64_t(GetAlignedBpl16(NewWidth, Src.Channels)) * NewHeight;
  return Source + WorkingCopy + Rows + Result + (UseLimiter ? 2 * Result : 0);
}

void TResizer::ResizeImage(const TICCImgInfo &Src, TICCImgInfo &Dest, TMultiThread *Pool, bool UseLimiter,
                           bool IsRGBA, uint32_t NewHeight, uint32_t NewWidth) {
  if (&Src == &Dest) {  // one record for both: the in-place form, without leaking the source block
    ResizeImage(Dest, NewWidth, Pool, UseLimiter, IsRGBA, NewHeight);
    return;
  }
  if (NewWidth == Src.Width && NewHeight == Src.Height) return;
  uint32_t bpl = 0;
  uint8_t *mem = Resize(Src, Pool, UseLimiter, IsRGBA, NewWidth, NewHeight, bpl);
  const uint32_t channels = Src.Channels;
  std::memset(&Dest, 0, sizeof(Dest));
  Dest.Mem = mem;
  Dest.Width = NewWidth;
  Dest.Height = NewHeight;
  Dest.Channels = channels;
  Dest.Bpl = bpl;
  Dest.BPP = BPP_14;
  if (FLimitPending) Limiter->ApplyLimit(Dest, Pool);
  FLimitPending = false;
}

void TResizer::ResizeImage(TICCImgInfo &Img, uint32_t NewWidth, TMultiThread *Pool, bool UseLimiter, bool IsRGBA,
                           uint32_t NewHeight) {
  if (NewWidth == Img.Width && NewHeight == Img.Height) return;
  uint32_t bpl = 0;
  uint8_t *mem = Resize(Img, Pool, UseLimiter, IsRGBA, NewWidth, NewHeight, bpl);
  PageFree(Img.Mem);
  Img.Mem = mem;
  Img.Width = NewWidth;
  Img.Height = NewHeight;
  Img.Bpl = bpl;
  Img.BPP = BPP_14;
  if (FLimitPending) Limiter->ApplyLimit(Img, Pool);
  FLimitPending = false;
}

// ---------------------------------------------------------------------------
// The program-wide resizers

TResizer *MainResizer = nullptr;
TResizer *AntialiasingResizer = nullptr;
TResizer *ThumbnailResizer = nullptr;

namespace {

// One setter for both directions: the resizer holds two references.
TResizer *BothWays(uint32_t Mode, TWeightSetter *Setter, int32_t MaxThread) {
  Setter->AddRef();
  return new TResizer(Mode, Setter, LongFalse, Mode, Setter, LongFalse, SIMD_MODE_INTEGER, false, MaxThread);
}

}  // namespace

void CreateProgramResizers(int32_t MaxThread) {
  FreeProgramResizers();
  const TCreatedWeightSetter dec = CreateWeightSetter(RESIZE_LANCZOS, 3);
  const TCreatedWeightSetter inter = CreateWeightSetter(RESIZE_SPLINE36, 0);
  MainResizer = new TResizer(RESIZE_LANCZOS, dec.Setter, dec.IsLimited, RESIZE_SPLINE36, inter.Setter,
                             inter.IsLimited, SIMD_MODE_INTEGER, false, MaxThread);
  AntialiasingResizer = BothWays(RESIZE_BICUBIC, new TMitchellNetravali(1.0 / 3, 1.0 / 3), MaxThread);
  ThumbnailResizer = BothWays(RESIZE_SPLINE16, new TSpline16, MaxThread);
}

void FreeProgramResizers() {
  delete MainResizer;
  delete AntialiasingResizer;
  delete ThumbnailResizer;
  MainResizer = AntialiasingResizer = ThumbnailResizer = nullptr;
}

void ConfigureMainResizer(uint32_t DecimationMode, int32_t DecimationParam, uint32_t InterpolationMode,
                          int32_t InterpolationParam, std::optional<uint32_t> CalcMode, bool Degamma) {
  if (!MainResizer) throw ETessivoError("リサイズ処理が初期化されていません");
  // Both setters are made before either is installed, so a bad code changes nothing.
  const TCreatedWeightSetter dec = CreateWeightSetter(DecimationMode, DecimationParam);
  TCreatedWeightSetter inter{};
  try {
    inter = CreateWeightSetter(InterpolationMode, InterpolationParam);
  } catch (...) {
    dec.Setter->Release();
    throw;
  }
  MainResizer->SetDecimationMode(DecimationMode, dec.Setter, dec.IsLimited);
  MainResizer->SetInterpolationMode(InterpolationMode, inter.Setter, inter.IsLimited);
  if (CalcMode) MainResizer->SetSIMDMode(*CalcMode, Degamma);
}
