// The sharpening stage of the unsharp mask: local 3 x 3 limits built row by
// row on each pool thread, the plain reference kernels and the choice of the
// code path.
#include "core/Errors.h"
#include "resample/UnsharpMaskKernels.h"

#include <algorithm>
#include <cstring>

// ---- Plain kernels -------------------------------------------------------------

namespace usm_plain {

namespace {
int32_t Sat16(int32_t v) { return std::clamp(v, -32768, 32767); }
}  // namespace

int16_t SharpenSample(int32_t o, int32_t Blur, int32_t Max, int32_t Min, const TUnsharpMaskCoefficients &K) {
  const int32_t d = Sat16(Blur - o);
  // Overshoot bounds: the 3 x 3 range widened by the set share of the change.
  const int32_t upper = std::min(FULL_SCALE_14, std::max(Max, Sat16(o + Sat16((d * K.Upper) >> 12))));
  const int32_t lower = std::max(0, std::min(Min, Sat16(o + Sat16((d * K.Lower) >> 12))));
  // Soft threshold on the magnitude (one's complement for negative d, as the
  // vector code does): nothing below half the threshold, a linear ramp up to
  // it, the full difference above.
  const int32_t sign = d < 0 ? -1 : 0;
  int32_t a = d ^ sign;
  if (a < (K.Threshold64 >> 1))
    a = 0;
  else if (a < K.Threshold64)
    a = 2 * a - K.Threshold64;
  const int32_t dd = a ^ sign;
  const int32_t amount = Sat16((dd * (sign ? K.StrengthH : K.StrengthS)) >> 12);
  int32_t r = Sat16(o + amount);
  r = std::min(r, upper);
  r = std::max(r, lower);
  return int16_t(r);
}

template <class T, int Scale>
void HLimitGroups(const T *Src, int32_t N, int32_t Channels, int32_t G0, int32_t G1, int16_t *Out) {
  for (int32_t g = G0; g < G1; ++g) {
    int16_t *o = Out + size_t(g) * 16;
    for (int l = 0; l < 8; ++l) {
      const int32_t i = g * 8 + l;
      if (i >= N) {
        o[l] = o[8 + l] = 0;
        continue;
      }
      const int32_t c = Src[i];
      const int32_t left = i >= Channels ? Src[i - Channels] : c;
      const int32_t right = i + Channels < N ? Src[i + Channels] : c;
      o[l] = int16_t(std::max({left, c, right}) * Scale);
      o[8 + l] = int16_t(std::min({left, c, right}) * Scale);
    }
  }
}

void HLimitGroups8(const uint8_t *Src, int32_t N, int32_t Channels, int32_t G0, int32_t G1, int16_t *Out) {
  HLimitGroups<uint8_t, 64>(Src, N, Channels, G0, G1, Out);
}
void HLimitGroups14(const int16_t *Src, int32_t N, int32_t Channels, int32_t G0, int32_t G1, int16_t *Out) {
  HLimitGroups<int16_t, 1>(Src, N, Channels, G0, G1, Out);
}

namespace {

void HLimit8(const uint8_t *Src, int32_t Width, int32_t Channels, int16_t *Out) {
  const int32_t n = Width * Channels;
  HLimitGroups8(Src, n, Channels, 0, LimitGroups(n), Out);
}
void HLimit14(const int16_t *Src, int32_t Width, int32_t Channels, int16_t *Out) {
  const int32_t n = Width * Channels;
  HLimitGroups14(Src, n, Channels, 0, LimitGroups(n), Out);
}

void VLimit(const int16_t *A, const int16_t *B, const int16_t *C, int32_t Groups, int16_t *Out) {
  for (int32_t g = 0; g < Groups; ++g) {
    const size_t b = size_t(g) * 16;
    for (int l = 0; l < 8; ++l) {
      Out[b + l] = std::max({A[b + l], B[b + l], C[b + l]});
      Out[b + 8 + l] = std::min({A[b + 8 + l], B[b + 8 + l], C[b + 8 + l]});
    }
  }
}

void Sharpen8(uint8_t *Src, const int16_t *Blur, const int16_t *Limit, int32_t N, const TUnsharpMaskCoefficients &K) {
  for (int32_t i = 0; i < N; ++i) {
    const int16_t *l = Limit + size_t(i / 8) * 16 + i % 8;
    const int16_t r = SharpenSample(Src[i] * 64, Blur[i], l[0], l[8], K);
    Src[i] = uint8_t(std::min<int32_t>(uint16_t(r) >> 6, 255));
  }
}

void Sharpen14(int16_t *Src, const int16_t *Blur, const int16_t *Limit, int32_t N, const TUnsharpMaskCoefficients &K) {
  for (int32_t i = 0; i < N; ++i) {
    const int16_t *l = Limit + size_t(i / 8) * 16 + i % 8;
    Src[i] = SharpenSample(Src[i], Blur[i], l[0], l[8], K);
  }
}

}  // namespace

const TUSMKernels Kernels = {HLimit8, HLimit14, VLimit, Sharpen8, Sharpen14};

}  // namespace usm_plain

const TUSMKernels *USMKernels(int32_t Isa) {
  static const bool hasAVX2 = __builtin_cpu_supports("avx2");
  switch (Isa) {
    case RISA_PLAIN: return &usm_plain::Kernels;
    case RISA_SSE2: return &usm_sse2::Kernels;
    case RISA_AVX2: return hasAVX2 ? &usm_avx2::Kernels : nullptr;
    default: return hasAVX2 ? &usm_avx2::Kernels : &usm_sse2::Kernels;
  }
}

// ---- Filter stage ----------------------------------------------------------------

namespace {

// Per pool thread: the horizontal limits of the rows just above and below the
// thread's rows (taken before any thread writes), a ring of three horizontal
// limit rows and the finished limit row.
enum { SLOT_ABOVE = 0, SLOT_BELOW = 1, SLOT_RING = 2, SLOT_LIMIT = 5, SLOTS = 6 };

struct TUSMJob {
  TCustomUnsharpMaskFilter *Filter;
  TICCImgInfo *Img;
  const uint8_t *Blur;
  uint32_t BlurBpl;
  uint8_t *Buf;
  const TUSMKernels *K;
  TUnsharpMaskCoefficients Coef;
  const TUSMRowSink *Sink;
};

int16_t *Slot(const TUSMJob &J, int32_t Thread, int Index) {
  const size_t lb = size_t(J.Filter->LimitBPL());
  return reinterpret_cast<int16_t *>(J.Buf + (size_t(Thread) * SLOTS + size_t(Index)) * lb);
}

// Phase 1: the neighbour rows of each thread's share, before any row changes.
void EdgeRowsJob(int32_t ThreadIndex, int32_t ThreadCount, void *Param) {
  const TUSMJob &J = *static_cast<const TUSMJob *>(Param);
  const TRowRange r = SplitRange(J.Img->Height, ThreadIndex, ThreadCount);
  if (r.empty()) return;
  if (r.First > 0) J.Filter->HLimit(ScanLine(*J.Img, r.First - 1), Slot(J, ThreadIndex, SLOT_ABOVE));
  if (r.Last < J.Img->Height) J.Filter->HLimit(ScanLine(*J.Img, r.Last), Slot(J, ThreadIndex, SLOT_BELOW));
}

// Phase 2: limits and sharpening, row by row; each source row's horizontal
// limits are taken before the row above it is written back.
void SharpenJob(int32_t ThreadIndex, int32_t ThreadCount, void *Param) {
  const TUSMJob &J = *static_cast<const TUSMJob *>(Param);
  const TICCImgInfo &img = *J.Img;
  const TRowRange r = SplitRange(img.Height, ThreadIndex, ThreadCount);
  if (r.empty()) return;
  const int32_t n = int32_t(img.Width * img.Channels);
  const bool is8 = img.BPP == BPP_8;
  int16_t *limit = Slot(J, ThreadIndex, SLOT_LIMIT);
  auto ring = [&](uint32_t Row) { return Slot(J, ThreadIndex, SLOT_RING + int((Row - r.First) % 3)); };
  const int16_t *prev = r.First > 0 ? Slot(J, ThreadIndex, SLOT_ABOVE) : nullptr;
  int16_t *first = ring(r.First);
  J.Filter->HLimit(ScanLine(img, r.First), first);
  const int16_t *cur = first;
  for (uint32_t y = r.First; y < r.Last; ++y) {
    const int16_t *next = nullptr;
    if (y + 1 < r.Last) {
      int16_t *h = ring(y + 1);
      J.Filter->HLimit(ScanLine(img, y + 1), h);
      next = h;
    } else if (y + 1 < img.Height) {
      next = Slot(J, ThreadIndex, SLOT_BELOW);
    }
    J.Filter->GetLimit(prev ? prev : cur, cur, next ? next : cur, limit);
    uint8_t *row = ScanLine(img, y);
    const int16_t *blur = reinterpret_cast<const int16_t *>(J.Blur + size_t(y) * J.BlurBpl);
    if (is8)
      J.K->Sharpen8(row, blur, limit, n, J.Coef);
    else
      J.K->Sharpen14(reinterpret_cast<int16_t *>(row), blur, limit, n, J.Coef);
    if (*J.Sink) (*J.Sink)(y);
    prev = cur;
    cur = next;
  }
}

struct TAlignedBlock {
  void *P = nullptr;
  ~TAlignedBlock() { AlignedFree(P); }
};

}  // namespace

void TCustomUnsharpMaskFilter::HLimit(const uint8_t *SrcRow, int16_t *Out) const {
  const TUSMKernels *k = USMKernels(FIsa);
  if (FBPP == BPP_8)
    k->HLimit8(SrcRow, int32_t(Param.SrcWidth), int32_t(FChannels), Out);
  else
    k->HLimit14(reinterpret_cast<const int16_t *>(SrcRow), int32_t(Param.SrcWidth), int32_t(FChannels), Out);
}

void TCustomUnsharpMaskFilter::GetLimit(const int16_t *Above, const int16_t *Row, const int16_t *Below,
                                        int16_t *Out) const {
  USMKernels(FIsa)->VLimit(Above, Row, Below, LimitGroups(FSamples), Out);
}

void TCustomUnsharpMaskFilter::UnsharpMask(TICCImgInfo &Img, const uint8_t *Blur, const TUnsharpMaskCoefficients &K,
                                           TMultiThread *Pool, const TUSMRowSink &Sink) {
  if (!Blur || !Img.Mem || FLimitBPL <= 0 || Img.Width != uint32_t(Param.SrcWidth) ||
      Img.Height != uint32_t(Param.SrcHeight) || Img.Channels != FChannels || Img.BPP != FBPP)
    throw ETessivoError("アンシャープマスクのパラメータが設定されていません");
  const int32_t threads = Pool ? Pool->MaxThread() : 1;
  TAlignedBlock buf;
  buf.P = AlignedAlloc(size_t(threads) * SLOTS * size_t(FLimitBPL), 128);
  TUSMJob job{this, &Img, Blur, FDestBpl, static_cast<uint8_t *>(buf.P), USMKernels(FIsa), K, &Sink};
  if (Pool) {
    Pool->exec_multi_thread_func(EdgeRowsJob, &job);
    Pool->exec_multi_thread_func(SharpenJob, &job);
  } else {
    SharpenJob(0, 1, &job);
  }
}
