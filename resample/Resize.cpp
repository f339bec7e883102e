// The resizer front end and the overshoot limiter.
#include "Resize.h"

#include "Errors.h"

#include <algorithm>
#include <cstring>
#include <limits>

// ---------------------------------------------------------------------------
// Overshoot limiter

namespace {

// Limits live on the 14-bit scale whatever the source depth.
struct TSample8 {
  using T = uint8_t;
  static int16_t Get(T v) { return int16_t(v * 64); }
};
struct TSample14 {
  using T = int16_t;
  static int16_t Get(T v) { return v; }
};
struct TSample16 {
  using T = uint16_t;
  static int16_t Get(T v) { return int16_t((uint32_t(v) * FULL_SCALE_14 + 32767) / 65535); }
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
};

template <class S, int C>
void HorizontalRows(const TLimiter &L, const TICCImgInfo &Src, uint32_t First, uint32_t Last) {
  using T = typename S::T;
  const int32_t half = L.BPL / 4;  // int16 elements from the maxima to the minima
  for (uint32_t y = First; y < Last; ++y) {
    const uint8_t *row = ScanLine(Src, y);
    auto *hi = reinterpret_cast<int16_t *>(L.Tmp + size_t(y) * uint32_t(L.BPL));
    int16_t *lo = hi + half;
    for (int32_t x = 0; x < L.DestWidth; ++x) {
      const TLimiterInfo &w = L.HLimiterInfo[x];
      const T *p = reinterpret_cast<const T *>(row + w.Offset);
      for (int c = 0; c < C; ++c) {
        int16_t mx = S::Get(p[c]), mn = mx;
        for (int32_t k = 1; k < w.Pixels; ++k) {
          const int16_t v = S::Get(p[k * C + c]);
          mx = std::max(mx, v);
          mn = std::min(mn, v);
        }
        hi[x * C + c] = mx;
        lo[x * C + c] = mn;
      }
    }
  }
}

template <class S>
void HorizontalJob(int32_t Index, int32_t Count, void *Param) {
  const auto &job = *static_cast<TLimitJob *>(Param);
  const TRowRange r = SplitRange(uint32_t(job.L->SrcHeight), Index, Count);
  switch (job.L->Channels) {
    case 1:
      HorizontalRows<S, 1>(*job.L, *job.Img, r.First, r.Last);
      break;
    case 3:
      HorizontalRows<S, 3>(*job.L, *job.Img, r.First, r.Last);
      break;
    default:
      HorizontalRows<S, 4>(*job.L, *job.Img, r.First, r.Last);
      break;
  }
}

void VerticalJob(int32_t Index, int32_t Count, void *Param) {
  const TLimiter &L = *static_cast<TLimitJob *>(Param)->L;
  const TRowRange r = SplitRange(uint32_t(L.DestHeight), Index, Count);
  const size_t n = size_t(L.DestWidth) * uint32_t(L.Channels), half = size_t(L.BPL) / 4;
  for (uint32_t d = r.First; d < r.Last; ++d) {
    const TLimiterInfo &w = L.VLimiterInfo[d];
    auto *hi = reinterpret_cast<int16_t *>(L.Limit + size_t(d) * uint32_t(L.BPL));
    int16_t *lo = hi + half;
    const auto *src = reinterpret_cast<const int16_t *>(L.Tmp + w.Offset);
    std::memcpy(hi, src, n * 2);
    std::memcpy(lo, src + half, n * 2);
    for (int32_t k = 1; k < w.Pixels; ++k) {
      const int16_t *s = src + size_t(k) * (uint32_t(L.BPL) / 2);
      for (size_t j = 0; j < n; ++j) {
        hi[j] = std::max(hi[j], s[j]);
        lo[j] = std::min(lo[j], s[j + half]);
      }
    }
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
    for (size_t j = 0; j < n; ++j) s[j] = std::max(std::min(s[j], hi[j]), lo[j]);
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
  Tmp = static_cast<uint8_t *>(AlignedAlloc(size_t(BPL) * uint32_t(ASrcHeight), 128));
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
  TLimitJob job{this, &Src, nullptr};
  RunJob(Pool,
         Src.BPP == BPP_8    ? HorizontalJob<TSample8>
         : Src.BPP == BPP_14 ? HorizontalJob<TSample14>
                             : HorizontalJob<TSample16>,
         &job);
  RunJob(Pool, VerticalJob, &job);
}

void TLimiter::ApplyLimit(TICCImgInfo &Dest, TMultiThread *Pool) const {
  if (!Limit || int32_t(Dest.Width) != DestWidth || int32_t(Dest.Height) != DestHeight ||
      int32_t(Dest.Channels) != Channels || Dest.BPP != BPP_14)
    throw ETessivoError("制限処理の画像サイズが一致しません");
  TLimitJob job{this, nullptr, &Dest};
  RunJob(Pool, ClampJob, &job);
}

bool LimiterApplies(uint32_t SrcWidth, uint32_t SrcHeight, uint32_t DestWidth, uint32_t DestHeight,
                    LongBool IsLimitedDecimation, LongBool IsLimitedInterpolation) {
  if (DestWidth < SrcWidth && DestHeight < SrcHeight) return IsLimitedDecimation != 0;
  if (DestWidth >= SrcWidth && DestHeight > SrcHeight) return IsLimitedInterpolation != 0;
  return IsLimitedDecimation != 0 || IsLimitedInterpolation != 0;
}

int32_t ModeParam(uint32_t Mode, int32_t Radius, int32_t Sharp, int32_t Blur) {
  switch (Mode) {
    case RESIZE_LANCZOS:
    case RESIZE_BLACKMAN_SINC:
      return Radius;
    case RESIZE_BICUBIC:
      return Sharp;
    case RESIZE_GAUSSIAN:
      return Blur;
  }
  return 0;
}
