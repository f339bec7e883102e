// Gaussian weight tables that map an axis onto itself, the same-size filter
// objects over the library's horizontal-and-vertical pass, and the blur and
// unsharp-mask engines.
#include "resample/WeightedMean.h"

#include "color/ICCUtil.h"
#include "core/Errors.h"
#include "core/PixelConvert.h"
#include "resample/UnsharpMaskKernels.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

// ---- Gaussian weights --------------------------------------------------------

TGaussianBlurWeight::TGaussianBlurWeight(double Radius) { SetParam(Radius); }

void TGaussianBlurWeight::SetParam(double Radius) {
  if (Radius == FRadius) return;
  if (!(Radius <= GAUSSIAN_MAX_RADIUS)) throw ETessivoError("ぼかしの半径が大きすぎます");
  FRadius = Radius;
  if (!(Radius > 0.0)) {
    FIRadius = 0;
    WeightTable.assign(1, 1.0);
    return;
  }
  FIRadius = int32_t(std::ceil(Radius));
  WeightTable.resize(size_t(FIRadius) + 1);
  const double norm = 1.0 / std::sqrt(2.0 * 3.14159265358979323846);
  for (int32_t i = 0; i <= FIRadius; ++i) {
    const double x = 2.0 * i / Radius;  // sigma = Radius / 2
    WeightTable[size_t(i)] = std::exp(-x * x / 2.0) * norm;
  }
}

namespace {

int32_t CheckedOffset(int64_t Value) {
  if (Value > std::numeric_limits<int32_t>::max()) throw ETessivoError("画像が大きすぎてぼかせません");
  return int32_t(Value);
}

struct TAlignedBlock {
  void *P = nullptr;
  TAlignedBlock() = default;
  explicit TAlignedBlock(void *Q) : P(Q) {}
  ~TAlignedBlock() { AlignedFree(P); }
  void *Release() { return std::exchange(P, nullptr); }
};

struct TPageBlock {
  uint8_t *P = nullptr;
  ~TPageBlock() { PageFree(P); }
  uint8_t *Release() { return std::exchange(P, nullptr); }
};

}  // namespace

void TGaussianBlurWeight::SetWeight(TWeightTable &WT, int32_t Len, bool IsFloat, int32_t Step) const {
  if (Len < 1 || Step < 1) throw ETessivoError("ぼかしの画素数が不正です");
  const int32_t R = FIRadius;
  const int64_t taps = 2 * int64_t(R) + 1;
  // Each row: an 8-byte slot whose second word is the count, then the
  // weights from an 8-byte boundary.
  const size_t weightBytes = IsFloat ? size_t(taps) * 4 : size_t(taps + 1) * 2;
  const size_t slot = 8 + ((weightBytes + 7) & ~size_t(7));
  const int64_t rows = std::min<int64_t>(Len, taps + 1);
  TAlignedBlock buf(AlignedAlloc(slot * size_t(rows), 8));
  TAlignedBlock info(AlignedAlloc(sizeof(TWeightTableInfo) * (size_t(Len) + 1), 8));
  auto *tab = static_cast<TWeightTableInfo *>(info.P);
  uint8_t *next = static_cast<uint8_t *>(buf.P);

  std::vector<double> values(static_cast<size_t>(taps));
  std::vector<int32_t> fixed(static_cast<size_t>(taps));
  // Builds the row of pixel i and returns its weights.
  auto build = [&](int32_t i) -> void * {
    const int32_t first = std::max(i - R, 0);
    const int32_t last = std::min(i + R, Len - 1);
    const int32_t length = last - first + 1;
    std::fill(values.begin(), values.begin() + length, 0.0);
    double sum = 0.0;
    for (int32_t j = i - R; j <= i + R; ++j) {
      const double w = WeightTable[size_t(std::abs(j - i))];
      values[size_t(std::clamp(j, 0, Len - 1) - first)] += w;
      sum += w;
    }
    int32_t *count = reinterpret_cast<int32_t *>(next + 4);
    void *weights = next + 8;
    if (IsFloat) {
      *count = length;
      float *f = static_cast<float *>(weights);
      for (int32_t k = 0; k < length; ++k) f[k] = float(values[size_t(k)] / sum);
    } else {
      // Truncated weights leave the row short of 1.0; the remainder goes to
      // the row's own pixel, so that a flat area keeps its value exactly.
      int32_t total = 0;
      for (int32_t k = 0; k < length; ++k) {
        fixed[size_t(k)] = int32_t(values[size_t(k)] / sum * WEIGHT_ONE);
        total += fixed[size_t(k)];
      }
      fixed[size_t(i - first)] += WEIGHT_ONE - total;
      const int32_t lead = first & 1;
      const int32_t padded = lead + length;
      *count = (padded + 1) / 2;
      int16_t *w = static_cast<int16_t *>(weights);
      int32_t at = 0;
      if (lead) w[at++] = 0;
      for (int32_t k = 0; k < length; ++k) w[at++] = int16_t(fixed[size_t(k)]);
      if (padded & 1) w[at++] = 0;
    }
    next += slot;
    return weights;
  };
  auto offset = [&](int32_t i) {
    const int64_t first = std::max(i - R, 0);
    return CheckedOffset(int64_t(Step) * (IsFloat ? first : first / 2));
  };

  // Pixels R .. Len - 1 - R read no tap beyond the axis: their weights are
  // all the same, so they share the rows of pixels R and R + 1 (the pair
  // layout differs with the parity of the first pixel).
  const int32_t interiorFirst = R, interiorLast = Len - 1 - R;
  void *shared[2] = {nullptr, nullptr};
  for (int32_t i = 0; i < Len; ++i) {
    void *w;
    if (i >= interiorFirst && i <= interiorLast) {
      const int parity = IsFloat ? 0 : (i - R) & 1;
      if (!shared[parity]) shared[parity] = build(i);
      w = shared[parity];
    } else {
      w = build(i);
    }
    tab[i] = TWeightTableInfo{offset(i), w};
  }
  tab[Len] = tab[Len - 1];
  WT.WeightTableBuf = buf.Release();
  WT.WeightTableInfo = static_cast<TWeightTableInfo *>(info.Release());
}

// ---- Same-size filters -------------------------------------------------------

TWeightedMeanFilter::TWeightedMeanFilter(int32_t Kind, int32_t Isa) : FKind(Kind), FIsa(Isa) {
  FFilterInfo = BoundFilterInfo(Kind, Isa);
  FHBlockSize = uint32_t(FFilterInfo->HBlockSize);
  FVBlockSize = uint32_t(FFilterInfo->VBlockSize);
  FTmpBpl = uint32_t(FFilterInfo->TmpBPL);
  FChannels = uint32_t(FilterVariants[Kind].Channels);
}

TWeightedMeanFilter::~TWeightedMeanFilter() { ResetParam(); }

void TWeightedMeanFilter::ResetParam() {
  FreeWeightTable(Param.HWeightTable);
  FreeWeightTable(Param.VWeightTable);
  AlignedFree(Param.Work);
  AlignedFree(Param.Work2);
  AlignedFree(Param.XBlockInfo);
  AlignedFree(Param.YBlockInfo);
  Param = TResizeParam{};
}

void TWeightedMeanFilter::SetFilterParam(const TICCImgInfo &Src, int32_t KernelRadius) {
  const TFilterVariant &v = FilterVariants[FKind];
  if (Src.Channels != uint32_t(v.Channels)) throw ETessivoError("フィルタと画像のチャンネル数が合いません");
  if (Src.BPP != BPP_8 && Src.BPP != BPP_14) throw ETessivoError("ぼかせるのは 8 ビットと 14 ビットの画像だけです");
  if (!Src.Mem || Src.Width < 1 || Src.Height < 1 || Src.Width > INT32_MAX / 4 || Src.Height > INT32_MAX / 4 ||
      Src.Bpl > INT32_MAX || Src.Bpl < uint64_t(Src.Width) * Src.Channels * (Src.BPP == BPP_8 ? 1 : 2))
    throw ETessivoError("ぼかす画像が不正です");
  ResetParam();
  const int32_t w = int32_t(Src.Width), h = int32_t(Src.Height);
  Param.SrcWidth = Param.DestWidth = w;
  Param.SrcHeight = Param.DestHeight = h;
  FChannels = Src.Channels;
  FSrcBpl = Src.Bpl;
  FDestBpl = GetAlignedBpl16(Src.Width, Src.Channels);
  FBPP = Src.BPP;
  Param.SrcBpl = int32_t(FSrcBpl);
  Param.DestBpl = int32_t(FDestBpl);
  Param.HStep = v.HStep;
  Param.VStep = CheckedOffset(int64_t(v.VStepRows) * FSrcBpl);
  FXdiv = v.Xdiv;
  FYdiv = v.Ydiv;

  Param.XBlocks = int32_t((uint32_t(w) + FHBlockSize - 1) / FHBlockSize);
  Param.YBlocks = int32_t((uint32_t(h) + FVBlockSize - 1) / FVBlockSize);
  Param.MaxBlock = Param.XBlocks * Param.YBlocks;
  Param.WorkSize = FFilterInfo->GetWorkSize(w);
  Param.Work = static_cast<uint8_t *>(AlignedAlloc(size_t(Param.WorkSize) * FMaxThread, 128));
  Param.Work2Size = FFilterInfo->GetWork2Size(h, h, std::max(KernelRadius, 8));
  Param.Work2 = static_cast<uint8_t *>(AlignedAlloc(size_t(Param.Work2Size) * FMaxThread, 128));
  Param.XBlockInfo = static_cast<TBlockInfo *>(AlignedAlloc(sizeof(TBlockInfo) * size_t(Param.XBlocks), 16));
  Param.YBlockInfo = static_cast<TBlockInfo *>(AlignedAlloc(sizeof(TBlockInfo) * size_t(Param.YBlocks), 16));
}

namespace {
TBlockInfo MakeBlock(TWeightTableInfo *Tab, int32_t First, int32_t Last, int64_t Step, int64_t Div) {
  const TWeightTableInfo &f = Tab[First];
  const TWeightTableInfo &g = Tab[Last];
  const int64_t src = f.SrcOffset / Step / Div;
  const int64_t count = (g.SrcOffset / Step + WeightRowCount(g.pWeightTable) - 1) / Div - src + 1;
  return TBlockInfo{int32_t(src), int32_t(src * Div * Step), int32_t(count), &Tab[First]};
}
}  // namespace

void TWeightedMeanFilter::SetBlockInfo() {
  if (!Param.XBlockInfo || !Param.YBlockInfo || !Param.HWeightTable.WeightTableInfo ||
      !Param.VWeightTable.WeightTableInfo)
    throw ETessivoError("ぼかしのパラメータが設定されていません");
  for (int32_t i = 0; i < Param.XBlocks; ++i) {
    const int32_t a = i * int32_t(FHBlockSize);
    const int32_t last = std::min(a + int32_t(FHBlockSize), Param.DestWidth) - 1;
    Param.XBlockInfo[i] = MakeBlock(Param.HWeightTable.WeightTableInfo, a, last, Param.HStep, FXdiv);
  }
  for (int32_t j = 0; j < Param.YBlocks; ++j) {
    const int32_t a = j * int32_t(FVBlockSize);
    const int32_t last = std::min(a + int32_t(FVBlockSize), Param.DestHeight) - 1;
    Param.YBlockInfo[j] = MakeBlock(Param.VWeightTable.WeightTableInfo, a, last, FTmpBpl, FYdiv);
  }
}

void TWeightedMeanFilter::Execute(const uint8_t *Src, uint8_t *Dest, TMultiThread *Pool) {
  if (!Src || !Dest || !Param.Work || !Param.HWeightTable.WeightTableInfo || !Param.VWeightTable.WeightTableInfo)
    throw ETessivoError("ぼかしのパラメータが設定されていません");
  if (Pool && uint32_t(Pool->MaxThread()) > FMaxThread)
    throw ETessivoError("ぼかしの作業領域がスレッド数に足りません");
  const TMultiThreadProc pass = FBPP == BPP_8 ? FFilterInfo->HVFilter : FFilterInfo->HVFilter16;
  Param.AtomicCounter = 0;
  Param.Src = Src;
  Param.Dest = Dest;
  if (Pool)
    Pool->exec_multi_thread_func(pass, &Param);
  else
    pass(0, 1, &Param);
}

// ---- Unsharp-mask filters and coefficients -------------------------------------

TUnsharpMaskCoefficients MakeUnsharpMaskCoefficients(int32_t Highlight, int32_t Shadow, int32_t Threshold,
                                                     int32_t Max, int32_t Min) {
  const int32_t h = std::clamp(Highlight, 0, 500), s = std::clamp(Shadow, 0, 500);
  const int32_t mx = std::clamp(Max, 0, 100), mn = std::clamp(Min, 0, 100);
  TUnsharpMaskCoefficients k;
  // C++ division truncates toward zero, as the coefficients require.
  k.StrengthS = int16_t(-s * 4096 / 100);
  k.StrengthH = int16_t(-h * 4096 / 100);
  k.Threshold64 = int16_t(std::clamp(Threshold, 0, 255) * 64);
  k.Upper = int16_t(-(h * mx) * 4096 / 10000);
  k.Lower = int16_t(-(s * mn) * 4096 / 10000);
  return k;
}

TCustomUnsharpMaskFilter::TCustomUnsharpMaskFilter(int32_t Kind, int32_t Isa) : TWeightedMeanFilter(Kind, Isa) {
  if (!USMKernels(Isa)) throw ETessivoError("この処理系ではアンシャープマスクを利用できません");
  FNeedGammaTable = FilterVariants[Kind].NeedGammaTable ? LongTrue : LongFalse;
  if (FNeedGammaTable) {
    FDegammaTable.assign(DEGAMMA_TABLE_SIZE, 0.0f);
    FRegammaTable.assign(REGAMMA_TABLE_SIZE, 0);
  }
}

void TCustomUnsharpMaskFilter::SetFilterParam(const TICCImgInfo &Src, int32_t KernelRadius) {
  TWeightedMeanFilter::SetFilterParam(Src, KernelRadius);
  if (FNeedGammaTable) {
    Param.DegammaTable = FDegammaTable.data();
    Param.RegammaTable = FRegammaTable.data();
  }
  FSamples = int32_t(Src.Width * Src.Channels);
  FUSMXLoopCount = (FSamples + 15) / 16;
  FUSMYLoopCount = int32_t(Src.Height);
  // Maxima and minima of every group of 8 samples, with room for the
  // kernels' whole groups of 16.
  const int64_t c = Src.Channels;
  const int64_t bpl = 2 * ((c * ((int64_t(Src.Width) + 7) / 8) * 16 + c * 2 + 127) & ~int64_t(127));
  FLimitBPL = CheckedOffset(std::max<int64_t>(bpl, int64_t(FUSMXLoopCount) * 64));
}

void TCustomUnsharpMaskFilter::SetGammaTable(const TICCImgInfo &Src, TGammaTableMaker Maker) {
  if (!FNeedGammaTable) return;
  Maker(Src, FDegammaTable.data(), FRegammaTable.data());
  Param.DegammaTable = FDegammaTable.data();
  Param.RegammaTable = FRegammaTable.data();
}

// ---- Blur engine -------------------------------------------------------------------

TGaussianBlur::TGaussianBlur() = default;
TGaussianBlur::~TGaussianBlur() = default;

void TGaussianBlur::SetGauusianBlurParam(double Radius) {
  if (GBWeight)
    GBWeight->SetParam(Radius + 0.5);
  else
    GBWeight = std::make_unique<TGaussianBlurWeight>(Radius + 0.5);
  GB.reset();
  FWidth = FHeight = FBpl = FBPP = FThreads = 0;
}

void TGaussianBlur::SetMaxThread(int32_t Value) {
  FMaxThread = std::max(Value, 1);
  if (GB) GB->SetMaxThread(uint32_t(FMaxThread));
  FThreads = 0;
}

TGaussianBlur *TGaussianBlur::CreateMTGauusinBlur() const {
  auto *copy = new TGaussianBlur;
  if (GBWeight) copy->GBWeight = std::make_unique<TGaussianBlurWeight>(GBWeight->FRadius);
  copy->FMaxThread = FMaxThread;
  return copy;
}

namespace {
void ScaleOpacity(TICCImgInfo &Img, int32_t F) {
  for (uint32_t y = 0; y < Img.Height; ++y) {
    int16_t *p = reinterpret_cast<int16_t *>(ScanLine(Img, y));
    for (uint32_t x = 0; x < Img.Width; ++x) p[x] = int16_t(std::clamp((p[x] * F + 128) >> 8, 0, FULL_SCALE_14));
  }
}
}  // namespace

void TGaussianBlur::DoGauusianBlur(TICCImgInfo &Info, int32_t Opacity, TMultiThread *Pool) {
  if (Info.Channels != 1) return;
  if (!GBWeight) SetGauusianBlurParam(2.0);
  const uint32_t threads = uint32_t(Pool ? Pool->MaxThread() : 1);
  if (!GB) GB = std::make_unique<TGaussianBlurFilter_i16>();
  if (Info.Width != FWidth || Info.Height != FHeight || Info.Bpl != FBpl || Info.BPP != FBPP ||
      threads != FThreads || !GB->Param.Work) {
    FWidth = 0;  // a failed rebuild must not look complete
    SetMaxThread(int32_t(threads));
    GB->SetFilterParam(Info, GBWeight->FIRadius + 1);
    GBWeight->SetWeight(GB->Param.HWeightTable, int32_t(Info.Width), false, GB->HStep());
    GBWeight->SetWeight(GB->Param.VWeightTable, int32_t(Info.Height), false, int32_t(GB->FTmpBpl));
    GB->SetBlockInfo();
    FWidth = Info.Width;
    FHeight = Info.Height;
    FBpl = Info.Bpl;
    FBPP = Info.BPP;
    FThreads = threads;
  }
  TPageBlock dest;
  dest.P = AllocPixelBlock(GB->FDestBpl, Info.Height);
  GB->Execute(Info.Mem, dest.P, Pool);
  PageFree(Info.Mem);
  Info.Mem = dest.Release();
  Info.BPP = BPP_14;
  Info.Bpl = GB->FDestBpl;
  ScaleOpacity(Info, std::clamp(Opacity, 0, 32767));
  ConvertTo8Bit(Info, false);
}

// ---- Unsharp-mask engine ---------------------------------------------------------

TUnsharpMask::TUnsharpMask() : USMWeight(std::make_unique<TGaussianBlurWeight>(1.5)) {}
TUnsharpMask::~TUnsharpMask() = default;

void TUnsharpMask::SetUnSharpMaskParam(int32_t Highlight, int32_t Shadow, bool Degamma, double Radius, int32_t Min,
                                       int32_t Max, int32_t Threshold) {
  FDegamma = Degamma;
  if (USMWeight)
    USMWeight->SetParam(Radius + 0.5);
  else
    USMWeight = std::make_unique<TGaussianBlurWeight>(Radius + 0.5);
  Coefficients = MakeUnsharpMaskCoefficients(Highlight, Shadow, Threshold, Max, Min);
  USM.reset();
  FWidth = 0;
}

void TUnsharpMask::SetMaxThreadNum(int32_t Value) {
  FMaxThread = std::max(Value, 1);
  if (USM) USM->SetMaxThread(uint32_t(FMaxThread));
  FThreads = 0;
}

TUnsharpMask *TUnsharpMask::CreateMTUnSharpMask() const {
  auto *copy = new TUnsharpMask;
  copy->FDegamma = FDegamma;
  copy->Coefficients = Coefficients;
  copy->USMWeight = std::make_unique<TGaussianBlurWeight>(USMWeight ? USMWeight->FRadius : 1.5);
  copy->FMaxThread = FMaxThread;
  copy->Isa = Isa;
  return copy;
}

void TUnsharpMask::DoUnSharpMask(TICCImgInfo &Info, bool IsRGBA, TMultiThread *Pool) {
  if (!IsRGBA) DoUnSharpMask(Info, Pool, TUSMRowSink());
}

bool TUnsharpMask::DoUnSharpMask(TICCImgInfo &Info, TMultiThread *Pool, const TUSMRowSink &Sink) {
  if ((Info.Channels != 1 && Info.Channels != 3) || Info.Width < 3 || Info.Height < 3) return false;
  if (Info.BPP != BPP_8 && Info.BPP != BPP_14)
    throw ETessivoError("アンシャープマスクをかけられるのは 8 ビットと 14 ビットの画像だけです");
  const uint32_t threads = uint32_t(Pool ? Pool->MaxThread() : 1);
  if (!USM || USM->FChannels != Info.Channels) {
    USM.reset();
    FWidth = 0;
    if (Info.Channels == 1)
      USM.reset(FDegamma ? static_cast<TCustomUnsharpMaskFilter *>(new TGrayLinearUSMFilter_f32(Isa))
                         : new TGrayUSMFilter_i16(Isa));
    else
      USM.reset(FDegamma ? static_cast<TCustomUnsharpMaskFilter *>(new TRGBLinearUSMFilter_f32(Isa))
                         : new TRGBUSMFilter_i16(Isa));
  }
  if (Info.Width != FWidth || Info.Height != FHeight || Info.Channels != FChannels || Info.Bpl != FBpl ||
      Info.BPP != FBPP || threads != FThreads || !USM->Param.Work) {
    FWidth = 0;
    USM->SetMaxThread(threads);
    USM->SetFilterParam(Info, USMWeight->FIRadius + 1);
    const bool isFloat = USM->IsFloat();
    USMWeight->SetWeight(USM->Param.HWeightTable, int32_t(Info.Width), isFloat, USM->HStep());
    USMWeight->SetWeight(USM->Param.VWeightTable, int32_t(Info.Height), isFloat, int32_t(USM->FTmpBpl));
    USM->SetBlockInfo();
    FWidth = Info.Width;
    FHeight = Info.Height;
    FChannels = Info.Channels;
    FBpl = Info.Bpl;
    FBPP = Info.BPP;
    FThreads = threads;
  }
  USM->SetGammaTable(Info, MakeResizeGammaTables);
  // The blur pass writes every sample the sharpening reads, so a kept block
  // spares the kernel clearing fresh pages for every image.
  TPageBlock blur;
  blur.P = static_cast<uint8_t *>(PageAllocReused(size_t(USM->FDestBpl) * AllocRows(Info.Height) + 8));
  USM->Execute(Info.Mem, blur.P, Pool);
  USM->UnsharpMask(Info, blur.P, Coefficients, Pool, Sink);
  return true;
}
