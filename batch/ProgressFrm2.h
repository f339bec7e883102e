// The combining window TProgressForm2 ("処理中") without its window: it
// starts the page thread, counts the images loaded, forwards a stop request
// ("中止", Escape, closing) to the thread, and ends with modal result 1 for a
// completed run and 2 for a stopped one. A window or the terminal watches
// it through TProgressView; the thread's notifications are handled on the
// thread that runs ShowModal.
#pragma once

#include "batch/CombineOption.h"
#include "batch/CombineThread.h"
#include "batch/ImageInfo.h"
#include "batch/ProgressFrm.h"
#include "effects/RunSettings.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class TProgressForm2 : public TRunControl {
public:
  // Takes the run's copies of the settings and the combining record, and
  // copies FileNameFormat and NotOverwrite from the file options. View may
  // be null.
  TProgressForm2(TImageInfoList &List, TProgressView *View = nullptr);
  ~TProgressForm2();
  TProgressForm2(const TProgressForm2 &) = delete;
  TProgressForm2 &operator=(const TProgressForm2 &) = delete;

  // Runs every page on the page thread and answers MR_OK or MR_CANCEL.
  int32_t ShowModal();

  // "中止": the page in progress is finished and written, no other is
  // started. On the thread that runs ShowModal (the view's idle calls).
  void Stop() override;
  // A combining run has no pause.
  void TogglePause() override {}

  // --- used by the page thread ---
  void PostMessage(uint32_t Msg, uint64_t ThreadID);
  void PageStarted(const std::string &FirstName);
  // A page is written (on the page thread): views that report file by file
  // hear of it as a file whose source is the page's first image.
  void PageWritten(const TImageInfo &First, const std::string &FileName, double Seconds);

  TImageInfoList &ImageList() { return FList; }
  const TRunSettings &Settings() const { return FSettings; }
  const TCombineOption &Option() const { return FOption; }
  TProgressSnapshot Snapshot() const;
  // The pages written, in order (after ShowModal).
  const std::vector<TOutputFileInfo> &Written() const { return FWritten; }
  // The serial number after the last one a page took (after ShowModal).
  int32_t NextNumber() const { return FNextNumber; }

  std::string FileNameFormat;
  bool NotOverwrite = true;
  std::unique_ptr<TCombineThread> CombineThread;
  LongBool Canceled = LongFalse;
  std::string ResultText;

private:
  void Close(int32_t Result);

  const TRunSettings FSettings;
  const TCombineOption FOption;
  TImageInfoList &FList;
  TProgressView *FView;
  std::mutex FQueueLock;
  std::condition_variable FQueueCond;
  std::deque<std::pair<uint32_t, uint64_t>> FQueue;
  std::atomic<bool> FStopRequested{false};
  int32_t FMaximum = 0;   // the bar's maximum: the list's entries
  int32_t FPosition = 0;  // images loaded or failed
  std::atomic<int32_t> FPagesWritten{0};
  mutable std::mutex FLabelLock;
  std::string FLabel;
  uint64_t StartTime = 0;
  uint64_t LastProgress = 0;
  int32_t FSlots = 1;
  std::vector<TOutputFileInfo> FWritten;
  int32_t FNextNumber = 1;
  int32_t FFailed = 0;        // images that failed, once the thread is gone
  double FPixels = 0;
  bool FClosed = false;
  bool FStopping = false;
  int32_t FModalResult = MR_CANCEL;
};
