// The full and spot preview threads.
#include "app/window/preview/PreviewThread.h"

#include "app/window/preview/PreviewSource.h"
#include "batch/BatchObjects.h"
#include "batch/ConvertOption.h"
#include "core/PixelConvert.h"
#include "effects/Effect.h"
#include "resample/Resize.h"

#include <QMetaObject>

#include <exception>
#include <memory>

TPreviewThread::TPreviewThread(TPreviewBaseForm &Parent, bool Spot, int32_t PoolSize)
    : FParent(Parent), FSpot(Spot), FEngines(std::make_unique<TPreviewEngines>(PoolSize, Parent.Context().Option->ResizeMode)) {
  FThread = std::thread([this] { Run(); });
}

TPreviewThread::~TPreviewThread() {
  FTerminated = true;
  FStale = true;
  FUpdateEvent.Set();
  FThread.join();
}

void TPreviewThread::Request(TPreviewRequest R) {
  {
    std::lock_guard Lock(FLock);
    FPending = std::move(R);
    FStale = true;
  }
  FUpdateEvent.Set();
}

bool TPreviewThread::IsStale(const TPreviewRequest &R) const {
  return FTerminated.load() || R.Generation != FParent.FRequestGeneration.load();
}

void TPreviewThread::Run() {
  for (;;) {
    FUpdateEvent.Wait();
    if (FTerminated) return;
    std::optional<TPreviewRequest> R;
    {
      std::lock_guard Lock(FLock);
      R.swap(FPending);
      FStale = false;
    }
    if (!R) continue;
    try {
      Compute(*R);
    } catch (const std::exception &) {
      // A step that fails shows nothing new; the dialog's own checks report
      // bad values when it is closed with OK.
    }
  }
}

void TPreviewThread::Compute(TPreviewRequest &R) {
  // Master changes only while both threads are stopped, so it is read here
  // without a lock.
  const TICCImgInfo *Master = FParent.Master();
  if (!Master) return;
  auto Img = std::make_shared<TICCImgOwner>();
  CopyPreviewImage(*Master, **Img, FSpot ? R.Spot : QRect());
  TEffectParams Params;
  FEngines->Set->Bind(Params);
  Params.MT = FEngines->MT.get();
  Params.Preview = true;
  Params.Settings = R.Settings.get();
  TPreviewStepEnv Env{Params, FEngines->MT.get(), Params.ColorTransform, FEngines->RS.get(), FStale, FSpot,
                      FSpot ? R.Spot : QRect()};
  R.Step(**Img, Env);
  if (IsStale(R)) return;
  if (FSpot) {
    ConvertTo8Bit(**Img, false, DITHER_NONE);
    FEngines->ToMonitor(**Img);
    const QRect Spot = R.Spot;
    const uint64_t Generation = R.Generation;
    TPreviewBaseForm *Parent = &FParent;
    QMetaObject::invokeMethod(
        Parent, [Parent, Img, Spot, Generation] { Parent->DeliverSpot(*Img, Spot, Generation); },
        Qt::QueuedConnection);
    return;
  }
  ConvertTo8Bit(**Img, true, R.Dither);
  std::shared_ptr<THistogramCounts> Counts;
  if (R.Histogram) {
    Counts = std::make_shared<THistogramCounts>();
    const bool WantL = R.HistogramMode == 4 || (R.HistogramMode == 3 && R.LabMode);
    CalcHistogram(**Img, *Counts, R.HistogramMode, WantL ? FEngines->ToLab8(**Img) : nullptr, FEngines->MT.get(),
                  R.LabMode);
  }
  if (IsStale(R)) return;
  // In the whole view the picture is fitted first, so only the fitted
  // pixels go through the monitor transform.
  if (R.AllView && R.Fitted.isValid() &&
      (uint32_t(R.Fitted.width()) != (*Img)->Width || uint32_t(R.Fitted.height()) != (*Img)->Height)) {
    const bool IsRGBA = (*Img)->Channels == 4 && (*Img)->PixelFormat == PIXFMT_BGRA;
    FEngines->RS->ResizeImage(**Img, uint32_t(R.Fitted.width()), FEngines->MT.get(), false, IsRGBA,
                              uint32_t(R.Fitted.height()));
    ConvertTo8Bit(**Img, false, DITHER_NONE);
  }
  if (IsStale(R)) return;
  FEngines->ToMonitor(**Img);
  if (IsStale(R)) return;
  const bool AllView = R.AllView;
  const uint64_t Generation = R.Generation;
  TPreviewBaseForm *Parent = &FParent;
  QMetaObject::invokeMethod(
      Parent,
      [Parent, Img, AllView, Generation, Counts] { Parent->DeliverFull(*Img, AllView, Generation, Counts.get()); },
      Qt::QueuedConnection);
}
