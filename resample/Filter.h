// Filter objects of the separable resize: one class per data path. A filter
// holds the geometry, both weight tables, the blocks and the per-thread work
// buffers of one resize, and hands the parameter record to the pass functions
// of the resampling library (bin/libresize.so), loaded once per process.
#pragma once

#include "core/ImgInfo.h"
#include "core/MultiThread.h"
#include "resize/ResizeFilterInfo.h"
#include "resample/Weight.h"

#include <cstdint>
#include <string>
#include <vector>

// ---- Library binding ---------------------------------------------------------

// One loaded resampling library. Records are made once per library file and
// never freed, like the library itself: filters and pool jobs hold pointers
// into it for as long as the process runs.
struct TResizeLibrary {
  void *Handle = nullptr;
  std::string Path;
  bool HasAVX = false;  // the library has AVX2 code for this processor
  TGetFilterInfoFunc GetFilterInfo[RFK_COUNT] = {};
  TGetFilterInfoForIsaFunc GetFilterInfoForIsa = nullptr;  // optional entry
};

// Names of the library's entries, in TResizeFilterKind order.
extern const char *const ResizeFilterEntryNames[RFK_COUNT];

// Binds libresize.so from BinFolder (empty: ProgramBinFolder() of
// core/ProgramFolder.h) and looks up
// every entry by name. Each library file is loaded once per process and
// never unloaded; binding a file again only makes it current. Raises
// ETessivoError with a text starting "LoadLibrary Error" when the library or
// an entry is missing; the current binding is then unchanged.
void LoadResizeLibrary(const std::string &BinFolder = std::string());
// Forgets the current binding (BoundFilterInfo refuses from then on); the
// library stays loaded, so filters already made keep working.
void FreeResizeLibrary();
// The current binding, or null.
const TResizeLibrary *ResizeLibrary();

// The code path argument of the filters (Isa below): RISA_PLAIN, RISA_SSE2
// or RISA_AVX2 force one (tests, benchmarks); RISA_BEST takes the fastest the
// processor has.
constexpr int32_t RISA_BEST = -1;
// The code path a consumer passes to the filters it makes, from the system
// option UseAVX as it reads at the time: AVX is a choice per filter, not a
// property of the loaded library.
constexpr int32_t ResizeIsaFor(bool UseAVX) { return UseAVX ? RISA_BEST : RISA_SSE2; }

// The bound record of a data path for a code path. Raises ETessivoError when
// the library is not loaded or lacks the code path.
const TResizeFilterInfo *BoundFilterInfo(int32_t Kind, int32_t Isa = RISA_BEST);

// ---- Filters -------------------------------------------------------------------

class TFilter {
public:
  TFilter() = default;
  virtual ~TFilter() = default;
  TFilter(const TFilter &) = delete;
  TFilter &operator=(const TFilter &) = delete;

  virtual void ResetParam() = 0;
  virtual void HVFilter() = 0;
  virtual void HFilter() = 0;
  virtual void VFilter() = 0;

  // Drops all tables and buffers; they are rebuilt for Value threads.
  void SetMaxThread(uint32_t Value);

  uint32_t FSrcBpl = 0;
  uint32_t FDestBpl = 0;
  uint32_t FTmpBpl = 0;
  uint32_t FChannels = 0;
  uint32_t FHBlockSize = 0;
  uint32_t FVBlockSize = 0;
  LongBool FIsRGBA = LongFalse;
  uint32_t FMaxThread = 1;
};

// Builds both linear-light tables of a source: 3 x 16321 degamma floats (256
// per channel used for 8-bit sources) and 3 x 24576 regamma entries. The
// resizer passes the colour code's profile-based builder
// (MakeResizeGammaTables); MakeSRGBGammaTables uses the sRGB curves.
using TGammaTableMaker = void (*)(const TICCImgInfo &Src, float *Degamma, int16_t *Regamma);
void MakeSRGBGammaTables(const TICCImgInfo &Src, float *Degamma, int16_t *Regamma);

constexpr size_t DEGAMMA_TABLE_SIZE = 3 * 16321;
constexpr size_t REGAMMA_TABLE_SIZE = 3 * 24576;

class TCustomResizeFilter : public TFilter {
public:
  ~TCustomResizeFilter() override;

  // Releases both weight tables, the work buffers and the blocks, and clears Param.
  void ResetParam() override;
  // Geometry, strides, blocks and per-thread work buffers for resizing Src to
  // DestWidth x DestHeight; the variant adds its steps and divisors.
  virtual void SetResizeParam(const TICCImgInfo &Src, int32_t DestWidth, int32_t DestHeight);
  // Column and row blocks, once the weight tables exist.
  void SetBlockInfo();
  // Linear-light tables from the source's profile (linear variants); rebuilt on every call.
  void SetGammaTable(const TICCImgInfo &Src, TGammaTableMaker Maker);
  // Runs the pass the geometry calls for: horizontal, vertical or both, the
  // 14-bit entry for sources that are not 8-bit. Dest holds FDestBpl x
  // AllocRows(DestHeight) bytes. Pool may be null (the pass runs here as job
  // 0 of 1); a pool with more threads than FMaxThread is refused.
  void Execute(const uint8_t *Src, uint8_t *Dest, TMultiThread *Pool);

  void HVFilter() override {}
  void HFilter() override {}
  void VFilter() override {}

  uint32_t FBPP = 0;
  std::vector<float> FDegammaTable;    // DEGAMMA_TABLE_SIZE entries for the linear variants
  std::vector<int16_t> FRegammaTable;  // REGAMMA_TABLE_SIZE entries for the linear variants
  LongBool FNeedGammaTable = LongFalse;
  int32_t FXdiv = 1;
  int32_t FYdiv = 1;
  const TResizeFilterInfo *FFilterInfo = nullptr;
  TResizeParam Param{};

protected:
  // Info: the library's record of this data path (from BoundFilterInfo).
  TCustomResizeFilter(const TResizeFilterInfo *Info, bool IsRGBA, bool NeedGammaTable);
  // The passes read 8-bit or 14-bit samples of the variant's channel count;
  // anything else (16-bit samples must be taken to 14 bits first) is refused.
  static void CheckSource(const TICCImgInfo &Src, uint32_t Channels);
};

// Steps and divisors of one data path (the weight tables' SrcOffset units).
struct TFilterVariant {
  int32_t Kind;
  int32_t Channels;
  bool IsRGBA;
  bool NeedGammaTable;
  int32_t HStep;
  int32_t Xdiv;
  int32_t Ydiv;
  int32_t VStepRows;  // VStep = VStepRows x SrcBpl
  bool IsInteger;     // consumes integer weight tables
};
extern const TFilterVariant FilterVariants[RFK_COUNT];

template <int Kind>
class TResizeFilterOf : public TCustomResizeFilter {
public:
  // Isa: see BoundFilterInfo.
  explicit TResizeFilterOf(int32_t Isa = RISA_BEST)
      : TCustomResizeFilter(BoundFilterInfo(Kind, Isa), FilterVariants[Kind].IsRGBA,
                            FilterVariants[Kind].NeedGammaTable) {}
  void SetResizeParam(const TICCImgInfo &Src, int32_t DestWidth, int32_t DestHeight) override {
    const TFilterVariant &v = FilterVariants[Kind];
    CheckSource(Src, uint32_t(v.Channels));
    TCustomResizeFilter::SetResizeParam(Src, DestWidth, DestHeight);
    Param.HStep = v.HStep;
    Param.VStep = v.VStepRows * int32_t(FSrcBpl);
    FXdiv = v.Xdiv;
    FYdiv = v.Ydiv;
  }
};

class TGrayFilter_i16 : public TResizeFilterOf<RFK_GRAYi> { using TResizeFilterOf::TResizeFilterOf; };
class TRGBFilter_i16 : public TResizeFilterOf<RFK_RGBi> { using TResizeFilterOf::TResizeFilterOf; };
class TCMYKFilter_i16 : public TResizeFilterOf<RFK_CMYKi> { using TResizeFilterOf::TResizeFilterOf; };
class TGrayFilter_f32 : public TResizeFilterOf<RFK_GRAYf> { using TResizeFilterOf::TResizeFilterOf; };
class TRGBFilter_f32 : public TResizeFilterOf<RFK_RGBf> { using TResizeFilterOf::TResizeFilterOf; };
class TRGBAFilter_f32 : public TResizeFilterOf<RFK_RGBAf> { using TResizeFilterOf::TResizeFilterOf; };
class TLinearGrayFilter_f32 : public TResizeFilterOf<RFK_LGRAYf> { using TResizeFilterOf::TResizeFilterOf; };
class TLinearRGBFilter_f32 : public TResizeFilterOf<RFK_LRGBf> { using TResizeFilterOf::TResizeFilterOf; };
class TLinearRGBAFilter_f32 : public TResizeFilterOf<RFK_LRGBAf> { using TResizeFilterOf::TResizeFilterOf; };

// The variant for an image layout and calculation mode, following the
// resizer's rule: linear light always takes the float filters, colour with
// alpha always the float RGBA filters, four channels without alpha the
// integer CMYK filter. Channels other than 1, 3 and 4 raise ETessivoError.
int32_t ChooseFilterKind(uint32_t Channels, bool IsRGBA, bool IntegerMode, bool Linear);
TCustomResizeFilter *CreateResizeFilter(int32_t Kind, int32_t Isa = RISA_BEST);
