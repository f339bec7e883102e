// The combining controller.
#include "batch/ProgressFrm2.h"

#include "batch/ConvertOption.h"
#include "batch/FileNameTemplate.h"

#include <algorithm>
#include <chrono>

TProgressForm2::TProgressForm2(TImageInfoList &List, TProgressView *View)
    : FSettings(CurrentRunSettings()), FOption(CombineOption), FList(List), FView(View) {
  FileNameFormat = FSettings.File.FileNameFormat;
  NotOverwrite = FSettings.File.NotOverwrite;
  FSlots = FSettings.System.ParallelProcessing ? std::max(1, FSettings.System.MaxThread) : 1;
}

TProgressForm2::~TProgressForm2() {
  if (CombineThread) CombineThread->Terminate();
  CombineThread.reset();
}

int32_t TProgressForm2::ShowModal() {
  StartTime = MillisecondClock();
  FMaximum = FList.Count();
  if (FSettings.File.ResetType == 0) NextSerialNumber = FSettings.File.StartNumber;
  ClearFolderCountCache();
  if (FView) FView->ConvertStarted(FMaximum, FSlots);
  CombineThread = std::make_unique<TCombineThread>(*this, [this](uint32_t Msg, uint64_t ID) { PostMessage(Msg, ID); });
  if (FStopRequested) CombineThread->Terminate();
  CombineThread->Resume();
  uint64_t LastIdle = MillisecondClock();
  while (!FClosed) {
    std::pair<uint32_t, uint64_t> M{0, 0};
    bool Have = false;
    {
      std::unique_lock Lock(FQueueLock);
      FQueueCond.wait_for(Lock, std::chrono::milliseconds(100), [this] { return !FQueue.empty(); });
      if (!FQueue.empty()) {
        M = FQueue.front();
        FQueue.pop_front();
        Have = true;
      }
    }
    if (Have) {
      switch (M.first) {
        case WM_COMBINE_IMAGE: {
          ++FPosition;
          const uint64_t Now = MillisecondClock();
          if (FView && Now - LastProgress > PROGRESS_INTERVAL_MS) {
            LastProgress = Now;
            FView->ShowProgress(Snapshot());
          }
          break;
        }
        case WM_COMBINE_DONE:
        case WM_COMBINE_STOPPED:
          if (CombineThread && CombineThread->ThreadID() == M.second) {
            CombineThread->WaitFor();
            FWritten = CombineThread->Written();
            FNextNumber = CombineThread->NextNumber();
            FFailed = CombineThread->ImagesFailed();
            FPixels = double(CombineThread->PixelsLoaded());
            CombineThread.reset();
            // The serial numbers continue after the last page's.
            NextSerialNumber = FNextNumber;
            if (FSettings.File.ResetType == 2) FileOption.StartNumber = FNextNumber;
            ResultText = ElapsedTimeText(MillisecondClock() - StartTime);
            if (M.first == WM_COMBINE_STOPPED) Canceled = LongTrue;
            Close(M.first == WM_COMBINE_STOPPED ? MR_CANCEL : MR_OK);
          }
          break;
        default:
          break;
      }
    }
    const uint64_t Now = MillisecondClock();
    if (!FClosed && FView && (!Have || Now - LastIdle >= 100)) {
      LastIdle = Now;
      FView->Idle(Snapshot());
    }
  }
  if (FView) {
    FView->ShowProgress(Snapshot());
    FView->Closed(FModalResult, ResultText);
  }
  return FModalResult;
}

void TProgressForm2::PostMessage(uint32_t Msg, uint64_t ThreadID) {
  {
    std::lock_guard Lock(FQueueLock);
    FQueue.emplace_back(Msg, ThreadID);
  }
  FQueueCond.notify_all();
}

void TProgressForm2::Stop() {
  FStopRequested = true;
  FStopping = true;
  if (CombineThread) CombineThread->Terminate();
}

void TProgressForm2::PageStarted(const std::string &FirstName) {
  std::lock_guard Lock(FLabelLock);
  FLabel = FirstName;
}

void TProgressForm2::PageWritten(const TImageInfo &First, const std::string &FileName, double Seconds) {
  ++FPagesWritten;
  if (!FView) return;
  TFileReport R;
  R.Source = First.FIsArchive ? First.FArchivePath : First.FPath;
  R.Output = FileName;
  R.Seconds = Seconds;
  FView->FileFinished(R);
}

void TProgressForm2::Close(int32_t Result) {
  FModalResult = Result;
  FClosed = true;
}

TProgressSnapshot TProgressForm2::Snapshot() const {
  TProgressSnapshot S;
  {
    std::lock_guard Lock(FLabelLock);
    S.Label = FLabel;
  }
  if (FMaximum > 0) S.Position = std::clamp(int32_t(int64_t(FPosition) * PROGRESS_BAR_MAX / FMaximum), 0, PROGRESS_BAR_MAX);
  S.FilesDone = FPosition;
  S.FilesFailed = CombineThread ? CombineThread->ImagesFailed() : FFailed;
  S.PixelsDone = CombineThread ? double(CombineThread->PixelsLoaded()) : FPixels;
  S.FilesTotal = FMaximum;
  S.ElapsedMs = MillisecondClock() - StartTime;
  S.Workers = FClosed ? 0 : FSlots;
  S.Stopping = FStopping;
  return S;
}
