// Target sizes of the size rules and the resize step.
#include "effects/ResizeFilter.h"
#include "effects/SizeValues.h"

#include "effects/RunSettings.h"
#include "core/Errors.h"
#include "core/MemoryBudget.h"
#include "core/MultiThread.h"
#include "core/PixelConvert.h"
#include "resample/Resize.h"

#include <climits>
#include <cmath>
#include <utility>

namespace {

// x + 0.5 truncated toward zero; an absurd rule value cannot overflow.
int32_t Round(double x) { return RoundSize(x); }

// Larger sides than this would overflow the strides of the resampling
// passes; a rule that asks for one fails the file instead.
constexpr int32_t MaxSide = 1 << 26;

// Cases of the size rules; see CalcNewSize.
enum TCase { CaseA, CaseB, CaseC, CaseD, CaseE, CaseF, CaseG, CaseH, CaseI, CaseJ, CaseK, CaseNone };

TCase CaseOf(int32_t Rule, bool Portrait) {
  switch (Rule) {
    case 0: return CaseA;
    case 1: return Portrait ? CaseC : CaseB;
    case 2: return Portrait ? CaseB : CaseC;
    case 3: return CaseB;
    case 4: return CaseC;
    case 5: return Portrait ? CaseE : CaseD;
    case 6: return CaseD;
    case 7: return Portrait ? CaseG : CaseF;
    case 8: return CaseF;
    case 10: return CaseH;
    case 11: return CaseJ;
    case 12: return Portrait ? CaseI : CaseH;
    case 13: return Portrait ? CaseK : CaseJ;
  }
  return CaseNone;
}

}  // namespace

void CalcNewSize(int32_t Rule, double v, double u, bool NoExpand, int32_t DownScale, int32_t &Width,
                 int32_t &Height) {
  const int32_t w = Width, h = Height;
  if (w <= 0 || h <= 0) return;
  const double ds = DownScale < 1 ? 1 : DownScale;
  int32_t W = w, H = h, a;
  const TCase c = CaseOf(Rule, h > w);
  switch (c) {
    case CaseA:
      W = Round(w * v * ds / 100);
      H = Round(h * v * ds / 100);
      break;
    case CaseB:
      W = Round(v);
      H = Round(double(int64_t(h) * W) / w);
      break;
    case CaseC:
      H = Round(v);
      W = Round(double(int64_t(w) * H) / h);
      break;
    case CaseD:
      W = Round(w * v * ds / 100);
      H = Round(h * u * ds / 100);
      break;
    case CaseE:
      W = Round(w * u * ds / 100);
      H = Round(h * v * ds / 100);
      break;
    case CaseF:
      W = Round(v);
      H = Round(u);
      break;
    case CaseG:
      W = Round(u);
      H = Round(v);
      break;
    // v on the width and u on the height (I and K: the other way round), the
    // aspect kept: H and I fit inside that box, J and K cover it.
    case CaseH:
    case CaseJ:
      a = Round(v * h / w);
      if (c == CaseH ? a > u : a < u) {
        W = Round(w * u / h);
        H = Round(u);
      } else {
        W = Round(v);
        H = a;
      }
      break;
    case CaseI:
    case CaseK:
      a = Round(v * w / h);
      if (c == CaseI ? a > u : a < u) {
        W = Round(u);
        H = Round(h * u / w);
      } else {
        W = a;
        H = Round(v);
      }
      break;
    case CaseNone:
      return;
  }
  if (W < 1) W = 1;
  if (H < 1) H = 1;
  if (NoExpand && (W > w || H > h)) return;
  Width = W;
  Height = H;
}

TResizeFilter::TResizeFilter() : TEffect(EFFECT_RESIZE) {}

void TResizeFilter::GetNewSize(int32_t &Width, int32_t &Height, int32_t DownScale) const {
  if (!FOwner) return;
  CalcNewSize(FOwner->FResizeType, FOwner->FResizeValue, FOwner->FResizeValue2, FOwner->FResizeNoExpand, DownScale,
              Width, Height);
}

void TResizeFilter::DoEffect(TICCImgInfo &Img, TEffectParams &Params) const {
  if (!Params.Resizer || !Params.Settings) throw ETessivoError("リサイズ処理が初期化されていません");
  if (Img.Width > uint32_t(MaxSide) || Img.Height > uint32_t(MaxSide))
    throw ETessivoError("画像サイズが大きすぎます");
  int32_t w = int32_t(Img.Width), h = int32_t(Img.Height);
  // With a quarter turn still to come the size rules see the picture as it will stand.
  if (Params.TurnAfterResize) std::swap(w, h);
  GetNewSize(w, h, Params.DownScale);
  if (Params.TurnAfterResize) std::swap(w, h);
  if (w > MaxSide || h > MaxSide)
    throw ETessivoError("リサイズ後の画像サイズが大きすぎます: " + std::to_string(w) + " x " + std::to_string(h));
  if (uint32_t(w) == Img.Width && uint32_t(h) == Img.Height) {
    // Nothing to resample: the samples stay as they are, 16-bit ones at full precision.
    Params.DownScale = 1;
    return;
  }
  if (Img.BPP == BPP_16) Convert16To14(Img);
  CheckMemoryBudget(ResizeMemoryBytes(Img, uint32_t(w), uint32_t(h), Params.Settings->Resize.Limiter,
                                      Params.MT ? uint32_t(Params.MT->MaxThread()) : 1u),
                    Params.MemoryBudget, "リサイズ後の画像サイズが大きすぎます",
                    "resizing " + std::to_string(Img.Width) + " x " + std::to_string(Img.Height) + " to " +
                        std::to_string(w) + " x " + std::to_string(h) + " pixels");
  Params.Resizer->ResizeImage(Img, uint32_t(w), Params.MT, Params.Settings->Resize.Limiter, Img.PixelFormat == PIXFMT_BGRA,
                              uint32_t(h));
  Params.DownScale = 1;
}

bool TResizeFilter::IsChange(const TImageProbe &Info) const {
  if (!FUse) return false;
  // Without a probed size nothing can be promised: the image is decoded and run.
  if (Info.Width <= 0 || Info.Height <= 0) return true;
  int32_t w = Info.Width, h = Info.Height;
  GetNewSize(w, h, 1);
  return w != Info.Width || h != Info.Height;
}
