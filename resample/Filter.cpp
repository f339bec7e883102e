// Filter objects and the binding of the resampling library.
#include "resample/Filter.h"

#include "core/Errors.h"
#include "core/ProgramFolder.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstring>
#include <forward_list>
#include <mutex>

const char *const ResizeFilterEntryNames[RFK_COUNT] = {
    "GetFilterInfo_GRAYi", "GetFilterInfo_RGBi",   "GetFilterInfo_CMYKi",
    "GetFilterInfo_GRAYf", "GetFilterInfo_RGBf",   "GetFilterInfo_RGBAf",
    "GetFilterInfo_LGRAYf", "GetFilterInfo_LRGBf", "GetFilterInfo_LRGBAf",
};

//                                  kind        ch  rgba   gamma  HStep Xdiv Ydiv VRows int
const TFilterVariant FilterVariants[RFK_COUNT] = {
    {RFK_GRAYi, 1, false, false, 16, 2, 2, 2, true},
    {RFK_RGBi, 3, false, false, 48, 1, 2, 2, true},
    {RFK_CMYKi, 4, false, false, 32, 1, 1, 2, true},
    {RFK_GRAYf, 1, false, false, 16, 4, 4, 1, false},
    {RFK_RGBf, 3, false, false, 48, 1, 4, 1, false},
    {RFK_RGBAf, 4, true, false, 32, 1, 2, 1, false},
    {RFK_LGRAYf, 1, false, true, 16, 2, 4, 1, false},
    {RFK_LRGBf, 3, false, true, 48, 1, 4, 1, false},
    {RFK_LRGBAf, 4, true, true, 32, 1, 2, 1, false},
};

namespace {

std::mutex LibraryLock;
// Every library record made, never freed (see TResizeLibrary).
std::forward_list<TResizeLibrary> &LibraryRecords = *new std::forward_list<TResizeLibrary>;
std::atomic<const TResizeLibrary *> CurrentLibrary{nullptr};

std::string LoadLibraryError(const std::string &Detail) { return "LoadLibrary Error: " + Detail; }

// Opens the library at Path and looks up its entries; a library that lacks
// one is closed again before anything from it has been handed out.
TResizeLibrary OpenResizeLibrary(const std::string &Path) {
  void *h = dlopen(Path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) {
    const char *e = dlerror();
    throw ETessivoError(LoadLibraryError(e ? e : Path));
  }
  TResizeLibrary lib;
  lib.Handle = h;
  lib.Path = Path;
  for (int k = 0; k < RFK_COUNT; ++k) {
    lib.GetFilterInfo[k] = reinterpret_cast<TGetFilterInfoFunc>(dlsym(h, ResizeFilterEntryNames[k]));
    if (!lib.GetFilterInfo[k]) {
      dlclose(h);
      throw ETessivoError(LoadLibraryError(Path + ": " + ResizeFilterEntryNames[k] + " not found"));
    }
  }
  // The AVX query is optional: a library without it has no AVX code.
  if (auto avx = reinterpret_cast<TIsSupportedAVXFunc>(dlsym(h, "is_supported_avx"))) lib.HasAVX = avx() == 1;
  lib.GetFilterInfoForIsa = reinterpret_cast<TGetFilterInfoForIsaFunc>(dlsym(h, "GetFilterInfoForIsa"));
  return lib;
}

}  // namespace

void LoadResizeLibrary(const std::string &BinFolder) {
  const std::string path = (BinFolder.empty() ? ProgramBinFolder() : BinFolder) + "/libresize.so";
  std::lock_guard guard(LibraryLock);
  for (const TResizeLibrary &lib : LibraryRecords)
    if (lib.Path == path) {
      CurrentLibrary.store(&lib);
      return;
    }
  LibraryRecords.push_front(OpenResizeLibrary(path));
  CurrentLibrary.store(&LibraryRecords.front());
}

void FreeResizeLibrary() { CurrentLibrary.store(nullptr); }

const TResizeLibrary *ResizeLibrary() { return CurrentLibrary.load(); }

const TResizeFilterInfo *BoundFilterInfo(int32_t Kind, int32_t Isa) {
  if (Kind < 0 || Kind >= RFK_COUNT) throw ETessivoError("不明なリサイズフィルタです");
  const TResizeLibrary *lib = ResizeLibrary();
  if (!lib) throw ETessivoError(LoadLibraryError("libresize.so is not loaded"));
  const TResizeFilterInfo *info = nullptr;
  if (Isa < 0)
    info = lib->GetFilterInfo[Kind](lib->HasAVX ? LongTrue : LongFalse);
  else if (lib->GetFilterInfoForIsa)
    info = lib->GetFilterInfoForIsa(Kind, Isa);
  else if (Isa == RISA_SSE2)
    info = lib->GetFilterInfo[Kind](LongFalse);  // a library without the extra entry
  if (!info) throw ETessivoError("リサイズフィルタを利用できません");
  return info;
}

// ---- Gamma tables -------------------------------------------------------------

namespace {
double SRGBToLinear(double x) { return x <= 0.04045 ? x / 12.92 : std::pow((x + 0.055) / 1.055, 2.4); }
double LinearToSRGB(double x) {
  x = std::clamp(x, 0.0, 1.0);
  return x <= 0.0031308 ? x * 12.92 : 1.055 * std::pow(x, 1.0 / 2.4) - 0.055;
}
}  // namespace

void MakeSRGBGammaTables(const TICCImgInfo &Src, float *Degamma, int16_t *Regamma) {
  const int32_t n = Src.BPP == BPP_8 ? 255 : FULL_SCALE_14;
  for (int k = 0; k < 3; ++k)
    for (int32_t v = 0; v <= n; ++v)
      Degamma[k * (n + 1) + v] = float(SRGBToLinear(double(v) / n) * FULL_SCALE_14);
  int16_t *t = Regamma;
  auto enc = [](double lin) { return int16_t(std::lround(LinearToSRGB(lin) * FULL_SCALE_14)); };
  for (int32_t i = 0; i <= 8192; ++i) t[i] = enc(double(i) / (64.0 * FULL_SCALE_14));
  for (int32_t v = 1; v < 128; ++v) t[8192 + v] = enc(double(v) / FULL_SCALE_14);
  for (int32_t v = 128; v <= FULL_SCALE_14; ++v) t[8192 + v] = enc(double(v) / FULL_SCALE_14);
  for (int32_t i = 8192 + FULL_SCALE_14 + 1; i < 24576; ++i) t[i] = t[8192 + FULL_SCALE_14];
  std::memcpy(Regamma + 24576, t, 24576 * sizeof(int16_t));
  std::memcpy(Regamma + 2 * 24576, t, 24576 * sizeof(int16_t));
}

// ---- Filters ---------------------------------------------------------------------

void TFilter::SetMaxThread(uint32_t Value) {
  ResetParam();
  FMaxThread = std::max<uint32_t>(Value, 1);
}

TCustomResizeFilter::TCustomResizeFilter(const TResizeFilterInfo *Info, bool IsRGBA, bool NeedGammaTable) {
  if (!Info) throw ETessivoError("リサイズフィルタを利用できません");
  FFilterInfo = Info;
  FHBlockSize = uint32_t(Info->HBlockSize);
  FVBlockSize = uint32_t(Info->VBlockSize);
  FTmpBpl = uint32_t(Info->TmpBPL);
  FIsRGBA = IsRGBA ? LongTrue : LongFalse;
  FNeedGammaTable = NeedGammaTable ? LongTrue : LongFalse;
  if (NeedGammaTable) {
    FDegammaTable.assign(DEGAMMA_TABLE_SIZE, 0.0f);
    FRegammaTable.assign(REGAMMA_TABLE_SIZE, 0);
  }
}

TCustomResizeFilter::~TCustomResizeFilter() { ResetParam(); }

void TCustomResizeFilter::ResetParam() {
  FreeWeightTable(Param.HWeightTable);
  FreeWeightTable(Param.VWeightTable);
  AlignedFree(Param.Work);
  AlignedFree(Param.Work2);
  AlignedFree(Param.XBlockInfo);
  AlignedFree(Param.YBlockInfo);
  Param = TResizeParam{};
}

void TCustomResizeFilter::CheckSource(const TICCImgInfo &Src, uint32_t Channels) {
  if (Src.Channels != Channels) throw ETessivoError("リサイズフィルタと画像のチャンネル数が合いません");
  if (Src.BPP != BPP_8 && Src.BPP != BPP_14) throw ETessivoError("リサイズできるのは 8 ビットと 14 ビットの画像だけです");
  const uint64_t rowBytes = uint64_t(Src.Width) * Channels * (Src.BPP == BPP_8 ? 1 : 2);
  if (!Src.Mem || Src.Bpl < rowBytes) throw ETessivoError("リサイズする画像が不正です");
}

void TCustomResizeFilter::SetResizeParam(const TICCImgInfo &Src, int32_t DestWidth, int32_t DestHeight) {
  if (Src.Width < 1 || Src.Height < 1 || DestWidth < 1 || DestHeight < 1 || Src.Width > INT32_MAX ||
      Src.Height > INT32_MAX || Src.Bpl > INT32_MAX)
    throw ETessivoError("リサイズの画素数が不正です");
  ResetParam();
  Param.SrcWidth = int32_t(Src.Width);
  Param.SrcHeight = int32_t(Src.Height);
  Param.DestWidth = DestWidth;
  Param.DestHeight = DestHeight;
  FChannels = Src.Channels;
  FSrcBpl = Src.Bpl;
  FDestBpl = GetAlignedBpl16(uint32_t(DestWidth), Src.Channels);
  FBPP = Src.BPP;
  Param.SrcBpl = int32_t(FSrcBpl);
  Param.DestBpl = int32_t(FDestBpl);

  Param.XBlocks = int32_t((uint32_t(DestWidth) + FHBlockSize - 1) / FHBlockSize);
  Param.YBlocks = int32_t((uint32_t(DestHeight) + FVBlockSize - 1) / FVBlockSize);
  Param.MaxBlock = Param.XBlocks * Param.YBlocks;

  Param.WorkSize = FFilterInfo->GetWorkSize(Param.SrcWidth);
  Param.Work = static_cast<uint8_t *>(AlignedAlloc(size_t(Param.WorkSize) * FMaxThread, 128));
  Param.Work2Size = FFilterInfo->GetWork2Size(Param.SrcHeight, DestHeight, 8);
  Param.Work2 = static_cast<uint8_t *>(AlignedAlloc(size_t(Param.Work2Size) * FMaxThread, 128));
  Param.XBlockInfo = static_cast<TBlockInfo *>(AlignedAlloc(sizeof(TBlockInfo) * size_t(Param.XBlocks), 16));
  Param.YBlockInfo = static_cast<TBlockInfo *>(AlignedAlloc(sizeof(TBlockInfo) * size_t(Param.YBlocks), 16));
  if (FNeedGammaTable) {
    Param.DegammaTable = FDegammaTable.data();
    Param.RegammaTable = FRegammaTable.data();
  }
}

namespace {
// Block of output indices [First, Last] over a table built with Step, in
// source units of Div.
TBlockInfo MakeBlock(TWeightTableInfo *Tab, int32_t First, int32_t Last, int64_t Step, int64_t Div) {
  const TWeightTableInfo &f = Tab[First];
  const TWeightTableInfo &g = Tab[Last];
  const int64_t src = f.SrcOffset / Step / Div;
  const int64_t count = (g.SrcOffset / Step + WeightRowCount(g.pWeightTable) - 1) / Div - src + 1;
  return TBlockInfo{int32_t(src), int32_t(src * Div * Step), int32_t(count), &Tab[First]};
}
}  // namespace

void TCustomResizeFilter::SetBlockInfo() {
  const bool widthChanges = Param.SrcWidth != Param.DestWidth;
  const bool heightChanges = Param.SrcHeight != Param.DestHeight;
  if (!Param.XBlockInfo || !Param.YBlockInfo) throw ETessivoError("リサイズのパラメータが設定されていません");
  if ((widthChanges && !Param.HWeightTable.WeightTableInfo) || (heightChanges && !Param.VWeightTable.WeightTableInfo))
    throw ETessivoError("リサイズの重みテーブルがありません");
  if (!widthChanges) {
    if (!heightChanges) return;
    for (int32_t j = 0; j < Param.YBlocks; ++j) {
      TWeightTableInfo &t = Param.VWeightTable.WeightTableInfo[j * int32_t(FVBlockSize)];
      const int64_t src = int64_t(t.SrcOffset) / Param.VStep / FYdiv;
      Param.YBlockInfo[j] = TBlockInfo{int32_t(src), int32_t(src * FYdiv * Param.VStep), 0, &t};
    }
    return;
  }
  for (int32_t i = 0; i < Param.XBlocks; ++i) {
    const int32_t a = i * int32_t(FHBlockSize);
    const int32_t last = std::min(a + int32_t(FHBlockSize), Param.DestWidth) - 1;
    Param.XBlockInfo[i] = MakeBlock(Param.HWeightTable.WeightTableInfo, a, last, Param.HStep, FXdiv);
  }
  if (heightChanges) {
    for (int32_t j = 0; j < Param.YBlocks; ++j) {
      const int32_t a = j * int32_t(FVBlockSize);
      const int32_t last = std::min(a + int32_t(FVBlockSize), Param.DestHeight) - 1;
      Param.YBlockInfo[j] = MakeBlock(Param.VWeightTable.WeightTableInfo, a, last, FTmpBpl, FYdiv);
    }
  }
}

void TCustomResizeFilter::SetGammaTable(const TICCImgInfo &Src, TGammaTableMaker Maker) {
  if (!FNeedGammaTable) return;
  Maker(Src, FDegammaTable.data(), FRegammaTable.data());
  Param.DegammaTable = FDegammaTable.data();
  Param.RegammaTable = FRegammaTable.data();
}

void TCustomResizeFilter::Execute(const uint8_t *Src, uint8_t *Dest, TMultiThread *Pool) {
  const bool w = Param.SrcWidth != Param.DestWidth;
  const bool h = Param.SrcHeight != Param.DestHeight;
  if (!Src || !Dest || !Param.Work || (!w && !h)) throw ETessivoError("リサイズのパラメータが設定されていません");
  if (Pool && uint32_t(Pool->MaxThread()) > FMaxThread)
    throw ETessivoError("リサイズの作業領域がスレッド数に足りません");
  const bool is8 = FBPP == BPP_8;
  TMultiThreadProc pass;
  if (w && h)
    pass = is8 ? FFilterInfo->HVFilter : FFilterInfo->HVFilter16;
  else if (w)
    pass = is8 ? FFilterInfo->HFilter : FFilterInfo->HFilter16;
  else
    pass = is8 ? FFilterInfo->VFilter : FFilterInfo->VFilter16;
  Param.AtomicCounter = 0;
  Param.Src = Src;
  Param.Dest = Dest;
  if (Pool)
    Pool->exec_multi_thread_func(pass, &Param);
  else
    pass(0, 1, &Param);
}

int32_t ChooseFilterKind(uint32_t Channels, bool IsRGBA, bool IntegerMode, bool Linear) {
  switch (Channels) {
    case 1:
      return Linear ? RFK_LGRAYf : IntegerMode ? RFK_GRAYi : RFK_GRAYf;
    case 3:
      return Linear ? RFK_LRGBf : IntegerMode ? RFK_RGBi : RFK_RGBf;
    case 4:
      if (IsRGBA) return Linear ? RFK_LRGBAf : RFK_RGBAf;
      return RFK_CMYKi;
    default:
      throw ETessivoError("この画素形式はリサイズできません");
  }
}

TCustomResizeFilter *CreateResizeFilter(int32_t Kind, int32_t Isa) {
  switch (Kind) {
    case RFK_GRAYi: return new TGrayFilter_i16(Isa);
    case RFK_RGBi: return new TRGBFilter_i16(Isa);
    case RFK_CMYKi: return new TCMYKFilter_i16(Isa);
    case RFK_GRAYf: return new TGrayFilter_f32(Isa);
    case RFK_RGBf: return new TRGBFilter_f32(Isa);
    case RFK_RGBAf: return new TRGBAFilter_f32(Isa);
    case RFK_LGRAYf: return new TLinearGrayFilter_f32(Isa);
    case RFK_LRGBf: return new TLinearRGBFilter_f32(Isa);
    case RFK_LRGBAf: return new TLinearRGBAFilter_f32(Isa);
    default: throw ETessivoError("不明なリサイズフィルタです");
  }
}
