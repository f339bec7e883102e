// The preview threads of an effect dialog. One class serves both kinds: the
// full thread works on the whole of Master (and, in the whole view, fits
// the result into the window at the end); the spot thread works on the
// visible rectangle only. Each waits on an auto-reset event for the newest
// request, applies the request's effect step on its own engines and posts
// the result to the dialog, which drops it when a newer request came
// meanwhile.
#pragma once

#include "app/window/preview/PreviewBaseForm.h"
#include "core/MultiThread.h"
#include "effects/RunSettings.h"

#include <QRect>
#include <QSize>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

// Everything a computation reads, taken on the GUI thread when requested.
struct TPreviewRequest {
  uint64_t Generation = 0;
  TPreviewStep Step;
  bool AllView = false;  // whole view: fit to Fitted at the end
  QSize Fitted;
  bool Histogram = false;
  int32_t HistogramMode = 1;
  bool LabMode = false;
  int32_t Dither = 0;
  QRect Spot;  // the spot thread's rectangle of Master, rows bottom-up
  // The settings the step reads (Lab mode, the formats), copied when asked.
  std::shared_ptr<const TRunSettings> Settings;
};

class TPreviewThread {
public:
  // Engines of its own with PoolSize threads, made here on the GUI thread.
  TPreviewThread(TPreviewBaseForm &Parent, bool Spot, int32_t PoolSize);
  // Asks the thread to stop, wakes it and waits for it.
  ~TPreviewThread();
  TPreviewThread(const TPreviewThread &) = delete;
  TPreviewThread &operator=(const TPreviewThread &) = delete;

  // Replaces any request not yet taken and marks a running one stale.
  void Request(TPreviewRequest R);

private:
  void Run();
  void Compute(TPreviewRequest &R);
  bool IsStale(const TPreviewRequest &R) const;

  TPreviewBaseForm &FParent;
  const bool FSpot;
  std::unique_ptr<TPreviewEngines> FEngines;
  TAutoResetEvent FUpdateEvent;
  std::mutex FLock;
  std::optional<TPreviewRequest> FPending;
  std::atomic<bool> FStale{false};
  std::atomic<bool> FTerminated{false};
  std::thread FThread;
};
