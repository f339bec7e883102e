// Loading the previewed entry, the preview's engines, fitting and placement.
#include "app/window/preview/PreviewSource.h"

#include "app/window/preview/PreviewForm.h"
#include "batch/BatchObjects.h"
#include "batch/ConvertOption.h"
#include "batch/FileNameTemplate.h"
#include "batch/ImageInfo.h"
#include "color/ICCUtil.h"
#include "core/Errors.h"
#include "core/MultiThread.h"
#include "core/PixelConvert.h"
#include "effects/Effect.h"
#include "io/LoadPicture.h"
#include "io/OutputType.h"
#include "resample/Resize.h"
#include "resample/Weight.h"

#include <algorithm>
#include <cstring>

namespace {

std::unique_ptr<TResizer> MakePreviewResizer(int32_t ResizeMode, int32_t Threads) {
  const uint32_t Mode = ResizeMode == 0 ? RESIZE_AREA_AVERAGE : RESIZE_LANCZOS;
  const int32_t Radius = ResizeMode == 1 ? 2 : 3;
  const TCreatedWeightSetter Down = CreateWeightSetter(Mode, Radius);
  const TCreatedWeightSetter Up = CreateWeightSetter(RESIZE_NEAREST_NEIGHBOR, 0);
  return std::make_unique<TResizer>(Mode, Down.Setter, Down.IsLimited, RESIZE_NEAREST_NEIGHBOR, Up.Setter,
                                    Up.IsLimited, SIMD_MODE_INTEGER, false, Threads);
}

}  // namespace

TPreviewEngines::TPreviewEngines(int32_t PoolSize, int32_t ResizeMode) {
  const int32_t Threads = std::max(1, PoolSize);
  Set = TEngineSet::FromPrototypes()->CreateFor(Threads);
  MT = std::move(Set->MT);
  Set->MT.reset();
  RS = MakePreviewResizer(ResizeMode < 0 ? PreviewOption.ResizeMode : ResizeMode, Threads);
  FMonitor = std::make_unique<TTransForm>();
  FMonitor->SetMultiThread(MT.get());
  FLab = std::make_unique<TTransForm>();
}

TPreviewEngines::~TPreviewEngines() = default;

void TPreviewEngines::ToMonitor(TICCImgInfo &Img) {
  if (Img.BPP != 8) ConvertTo8Bit(Img, false);
  TMonitorKey Key{Img.Channels, Img.PixelFormat, Img.ProfileType, uint32_t(Img.IsGrayAlpha != 0), {}};
  if (Img.ICCProfile && Img.ProfileLen) Key.Profile.assign(Img.ICCProfile, Img.ICCProfile + Img.ProfileLen);
  if (FMonitorKey != Key) {
    FMonitorMade = FMonitor->InitTo(Img, TARGET_MONITOR, -1, true);
    FMonitorKey = std::move(Key);
  }
  if (FMonitorMade) FMonitor->DoTransform(Img);
}

const TTransForm *TPreviewEngines::ToLab8(const TICCImgInfo &Img) {
  return FLab->InitToLab8(Img) ? FLab.get() : nullptr;
}

void LoadPreviewSource(const TPreviewContext &Ctx, TImageInfo &Entry, TICCImgInfo &Img, uint32_t EffectID,
                       int32_t Index, TPreviewEngines &Engines) {
  if (Entry.PictureFormat == 0 && !EnsureProbed(Entry, TProbeErrors::Raise)) throw ETessivoError(LOAD_FAILED_MSG);
  if (Ctx.ApplyResizeSettings) Ctx.ApplyResizeSettings();
  const TRunSettings Settings = CurrentRunSettings();
  TScale Scale;
  Ctx.Effects->CanDownScalingLoad(Entry, Scale);
  const std::string Out = Ctx.OutputNameOf ? Ctx.OutputNameOf(Index)
                                           : ExpandFileNameTemplate(FileOption.FileNameFormat, Entry, Index, Scale,
                                                                    Settings);
  TEffectParams Params;
  Engines.Set->Bind(Params);
  Params.MT = Engines.MT.get();
  Params.Preview = true;
  Params.Settings = &Settings;
  Params.OutFileName = Out;
  Params.Number = Index;
  TImageProbe Probe = Entry;
  // The text effect's preview shows the shooting date, else the file's.
  Params.Time = Probe.DateTimeOriginal != 0 ? Probe.DateTimeOriginal : Probe.DateTimeLastWrite;
  const int32_t Factor = LoadPicture(Probe, Img, Scale, false, false, Params.ColorTransform, false, OutputTypeOf(Out),
                                     Settings.Formats, Settings.ColorManagement);
  if (!Img.Mem) throw ETessivoError(LOAD_FAILED_MSG);
  Ctx.Effects->LoadExternalImage();
  Ctx.Effects->GetBeforeImage(EffectID, Img, Params, Factor, Probe);
  // The main resizer goes back to area averaging, as between runs.
  if (Ctx.ApplyResizeSettings) ApplyResizeKernels(RESIZE_AREA_AVERAGE, 0, 0);
}

void CopyPreviewImage(const TICCImgInfo &Src, TICCImgInfo &Dst, const QRect &Rect) {
  if (Rect.isEmpty()) {
    // Every row is copied over, so the block need not be cleared first: a
    // kept block of the last preview saves clearing tens of megabytes.
    TICCImgInfo Shape = Src;
    Shape.Mem = nullptr;
    CopyICCImgInfo(Shape, Dst, false);
    PageFree(Dst.Mem);
    Dst.Mem = AllocPixelBlockReused(Src.Bpl, Src.Height);
    if (Src.Mem) std::memcpy(Dst.Mem, Src.Mem, size_t(Src.Bpl) * Src.Height);
  } else {
    const QRect R = Rect.intersected(QRect(0, 0, int(Src.Width), int(Src.Height)));
    TICCImgInfo Shape = Src;
    Shape.Mem = nullptr;
    Shape.Width = uint32_t(std::max(1, R.width()));
    Shape.Height = uint32_t(std::max(1, R.height()));
    Shape.Bpl = Src.BPP == 8 ? GetAlignedBpl(Shape.Width, Src.Channels) : GetAlignedBpl16(Shape.Width, Src.Channels);
    CopyICCImgInfo(Shape, Dst, false);
    const size_t Bytes = size_t(Src.BPP == 8 ? 1 : 2) * Src.Channels;
    if (!R.isEmpty())
      for (int y = 0; y < R.height(); ++y)
        std::memcpy(Dst.Mem + size_t(y) * Dst.Bpl, Src.Mem + size_t(R.top() + y) * Src.Bpl + size_t(R.left()) * Bytes,
                    size_t(R.width()) * Bytes);
  }
  Dst.ProfileType = Src.ProfileType;
  if ((Src.ProfileType == PROFILE_EMBEDDED || Src.ProfileType == PROFILE_FROM_EXIF) && Src.ICCProfile &&
      Src.ProfileLen) {
    Dst.ICCProfile = static_cast<uint8_t *>(PageAlloc(Src.ProfileLen));
    std::memcpy(Dst.ICCProfile, Src.ICCProfile, Src.ProfileLen);
    Dst.ProfileLen = Src.ProfileLen;
  } else if (Src.ProfileType == PROFILE_EMBEDDED || Src.ProfileType == PROFILE_FROM_EXIF) {
    Dst.ProfileType = PROFILE_NONE;
  } else {
    // Built-in profiles are named by the type alone.
    Dst.ICCProfile = nullptr;
  }
}

void FitPreviewImage(const TICCImgInfo &Img, TICCImgInfo &Fitted, QSize Client, TPreviewEngines &Engines) {
  const QSize S = FitPreviewSize(int32_t(Img.Width), int32_t(Img.Height), Client.width(), Client.height());
  if (S.width() == int(Img.Width) && S.height() == int(Img.Height)) {
    CopyPreviewImage(Img, Fitted);
  } else {
    CopyPreviewImage(Img, Fitted);
    const bool IsRGBA = Img.Channels == 4 && Img.PixelFormat == PIXFMT_BGRA;
    Engines.RS->ResizeImage(Fitted, uint32_t(S.width()), Engines.MT.get(), false, IsRGBA, uint32_t(S.height()));
  }
  ConvertTo8Bit(Fitted, false, DITHER_NONE);
}

TPreviewPlacement PlacePreviewWindows(const QRect &Work, const TPreviewOption &Option, QSize Dialog, QSize Histogram,
                                      bool WithPreview) {
  TPreviewPlacement P;
  auto Centred = [&](QSize S) {
    return QRect(Work.left() + (Work.width() - S.width()) / 2, Work.top() + (Work.height() - S.height()) / 2,
                 S.width(), S.height());
  };
  auto Inside = [&](const QRect &R) { return Work.contains(R); };
  if (WithPreview) {
    const QSize Size(std::max(200, Option.Width), std::max(150, Option.Height));
    // The stored place, with room for the dialog at its right.
    QRect R(Option.Left, Option.Top, Size.width(), Size.height());
    const QRect Widened(R.topLeft(), QSize(R.width() + Dialog.width(), R.height()));
    if (Option.Left < 0 || Option.Top < 0 || !Inside(Widened)) {
      const QRect C = Centred(QSize(std::min(Widened.width(), Work.width()), Size.height()));
      R.moveTopLeft(C.topLeft());
      if (!Inside(R)) R = Centred(Size);
    }
    P.Preview = R;
    QRect D(QPoint(R.right() + 1, R.top()), Dialog);
    if (!Inside(D)) D.moveTopLeft(QPoint(R.right() + 1 - Dialog.width(), R.top()));
    if (!Inside(D)) D = Centred(Dialog);
    P.Dialog = D;
  } else {
    P.Dialog = Centred(Dialog);
  }
  const QRect &D = P.Dialog;
  QRect H(QPoint(D.left(), D.bottom() + 1), Histogram);
  if (!Inside(H)) H.moveTopLeft(QPoint(D.left(), D.top() - Histogram.height()));
  if (!Inside(H)) H.moveTopLeft(QPoint(D.right() + 1, D.top()));
  if (!Inside(H)) H = Centred(Histogram);
  P.Histogram = H;
  return P;
}
