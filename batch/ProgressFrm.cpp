// The batch controller and the post-run command thread.
#include "batch/ProgressFrm.h"

#include "batch/BatchObjects.h"
#include "batch/ConvertOption.h"
#include "effects/DecreaseColorEffect.h"
#include "effects/Effect.h"
#include "batch/ErrorLogFrm.h"
#include "batch/ExternalTool.h"
#include "core/ImgInfo.h"
#include "batch/MTResizeThread.h"
#include "batch/MakeOutputFileName.h"
#include "core/ProgramFolder.h"
#include "lossless/Quzen.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <sys/stat.h>

namespace {

// Notifications the controller sends itself so that a stop or pause asked
// for on any thread is carried out on the main thread.
constexpr uint32_t MSG_STOP = 0x8110;
constexpr uint32_t MSG_TOGGLE_PAUSE = 0x8111;

bool SourceExists(const TImageInfo &E) {
  struct stat st;
  const std::string &Path = E.FIsArchive ? E.FArchivePath : E.FPath;
  return ::stat(Path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

uint64_t CurrentThreadID() { return std::hash<std::thread::id>()(std::this_thread::get_id()); }

uint64_t MillisecondClock() {
  using namespace std::chrono;
  return uint64_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

std::string ElapsedTimeText(uint64_t Milliseconds) {
  char Buf[64];
  if (Milliseconds >= 1000) {
    std::snprintf(Buf, sizeof Buf, "%.2fs", double(Milliseconds) / 1000.0);
  } else {
    std::snprintf(Buf, sizeof Buf, "%dms", int(Milliseconds));
  }
  return Buf;
}

namespace {

// The run's settings with what the colour reduction asks of the loader: a
// tool that takes no alpha has it flattened on load.
TRunSettings WithReductionRules(TRunSettings S, const TEffectList &Effects) {
  if (const auto *Reduction = dynamic_cast<const TDecreaseColorEffect *>(Effects.DecreaseColorEffect()))
    S.Formats.ReductionFlattensAlpha = Reduction->FlattensAlpha();
  return S;
}

}  // namespace

TProgressForm::TProgressForm(TImageInfoList &List, TEffectList &Effects, TProgressView *View)
    : FSettings(WithReductionRules(CurrentRunSettings(), Effects)), FWembSettings(WembSettings), FList(List), FEffects(Effects), FView(View) {
  FileNameFormat = FSettings.File.FileNameFormat;
  NotOverwrite = FSettings.File.NotOverwrite;
  RenameOnly = FSettings.File.RenameOnly;
  MaxThreadNum = FSettings.System.ParallelProcessing ? std::max(1, FSettings.System.MaxThread) : 1;
  FEffects.FResizeNoExpand = FSettings.Resize.NoExpand;
  CurrentImageIndex = -1;
}

TProgressForm::~TProgressForm() {
  // Threads are never killed: whatever still runs is asked to stop and waited for.
  if (MakeOutputFileNameThread) MakeOutputFileNameThread->Terminate();
  for (auto &W : Thread)
    if (W) {
      W->Terminate();
      W->RunEvent.Set();
    }
  Thread.clear();
  MakeOutputFileNameThread.reset();
  ExternalToolThread.reset();
  ClearFolderCountCache();
}

int32_t TProgressForm::ShowModal() {
  if (FSettings.ConvertMode == CONVERT_MODE_JPEGTRAN && !RenameOnly) {
    // The block is published once, before any tool can start; one that
    // cannot be published refuses the whole run.
    try {
      Quzen = std::make_unique<TQuzen>(ProgramBinFolder() + "/WEMBC");
      Quzen->InitWembParam(FWembSettings, FEffects);
    } catch (const std::exception &E) {
      Quzen.reset();
      ErrorLogForm().PutErrorMsg(E.what());
      FModalResult = MR_CANCEL;
      if (FView) FView->Closed(FModalResult, ResultText);
      return FModalResult;
    }
  }
  // The colour reduction with FLAXC: every worker gets its own copy.
  if (const auto *Reduction = dynamic_cast<const TDecreaseColorEffect *>(FEffects.DecreaseColorEffect());
      Reduction && Reduction->Use() && FSettings.ConvertMode == CONVERT_MODE_NORMAL && !RenameOnly) {
    try {
      if (Reduction->FMode == DECREASE_COLOR_FLAXC)
        Reduction->InitFLAXC(std::max(FSettings.System.ProcessorCount, MaxThreadNum));
    } catch (const std::exception &E) {
      ErrorLogForm().PutErrorMsg(E.what());
    }
  }
  RunEngines = TEngineSet::FromPrototypes();
  FEffects.LoadExternalImage();
  StartTime = MillisecondClock();
  if (FView) FView->NamingStarted();
  ClearFolderCountCache();
  TEffectList *Effects = &FEffects;
  MakeOutputFileNameThread = std::make_unique<TMakeOutputFileNameThread>(
      FList, FileNameFormat, FSettings, [this](uint32_t Msg, uint64_t ID) { PostMessage(Msg, ID); },
      [Effects](const TImageInfo &Info) {
        TScale S;
        Effects->CanDownScalingLoad(Info, S);
        return S;
      },
      &Suspend);
  MakeOutputFileNameThread->Resume();

  // The view hears from the run at least every 100 ms, however busy the queue is.
  uint64_t LastIdle = MillisecondClock();
  while (!FClosed) {
    TMessage M;
    bool Have = false;
    {
      std::unique_lock Lock(FQueueLock);
      FQueueCond.wait_for(Lock, std::chrono::milliseconds(100), [this] { return !FQueue.empty(); });
      if (!FQueue.empty()) {
        M = std::move(FQueue.front());
        FQueue.pop_front();
        Have = true;
      }
    }
    if (Have) HandleMessage(M);
    const uint64_t Now = MillisecondClock();
    if (!FClosed && FView && (!Have || Now - LastIdle >= 100)) {
      LastIdle = Now;
      FView->Idle(Snapshot());
    }
  }
  ClearFolderCountCache();
  if (FView) FView->Closed(FModalResult, ResultText);
  return FModalResult;
}

void TProgressForm::PostMessage(uint32_t Msg, uint64_t ThreadID) {
  {
    std::lock_guard Lock(FQueueLock);
    FQueue.push_back(TMessage{Msg, ThreadID, nullptr, nullptr});
  }
  FQueueCond.notify_all();
}

void TProgressForm::Synchronize(const std::function<void()> &Proc) {
  bool Done = false;
  {
    std::lock_guard Lock(FQueueLock);
    FQueue.push_back(TMessage{0, CurrentThreadID(), Proc, &Done});
  }
  FQueueCond.notify_all();
  std::unique_lock Lock(FQueueLock);
  FQueueCond.wait(Lock, [&Done] { return Done; });
}

void TProgressForm::HandleMessage(const TMessage &M) {
  if (M.Proc) {
    try {
      M.Proc();
    } catch (const std::exception &E) {
      ErrorLogForm().PutErrorMsg(E.what());
    } catch (...) {
      ErrorLogForm().PutErrorMsg("不明なエラー");
    }
    {
      std::lock_guard Lock(FQueueLock);
      *M.Done = true;
    }
    FQueueCond.notify_all();
    return;
  }
  switch (M.Msg) {
    case WM_NAMES_DONE:
    case WM_NAMES_STOPPED:
      if (MakeOutputFileNameThread && MakeOutputFileNameThread->ThreadID() == M.ThreadID) {
        MakeOutputFileNameThread->WaitFor();
        StoreNextSerialNumber(MakeOutputFileNameThread->Totals(), FSettings.File);
        if (M.Msg == WM_NAMES_STOPPED) {
          MakeOutputFileNameThread.reset();
          Canceled = true;
          Close(MR_CANCEL);
        } else {
          NamesDone();
        }
      }
      break;
    case WM_WORKER_DONE:
    case WM_WORKER_STOPPED:
      WorkerDone(M.ThreadID, M.Msg == WM_WORKER_STOPPED);
      break;
    case WM_TOOL_DONE:
      if (ExternalToolThread && ExternalToolThread->ThreadID() == M.ThreadID) {
        ExternalToolThread.reset();
        ResultText = ElapsedTimeText(MillisecondClock() - StartTime);
        Close(MR_OK);
      }
      break;
    case MSG_STOP:
      DoStop();
      break;
    case MSG_TOGGLE_PAUSE:
      DoTogglePause();
      break;
    default:
      break;
  }
}

void TProgressForm::NamesDone() {
  const TOutputNameTotals Totals = MakeOutputFileNameThread->Totals();
  MakeOutputFileNameThread.reset();
  OutputFileCount = Totals.OutputFileCount;
  AllSize = double(Totals.AllSize);
  if (ShardCount > 1 && OutputFileCount > 0) {
    // The names are the whole run's; this run counts only its own share.
    OutputFileCount = 0;
    AllSize = 0;
    for (int32_t i = 0; i < FList.Count(); ++i) {
      const TImageInfo *E = FList[i];
      if (!InShard(i) || !E || E->OutPutFileName.empty()) continue;
      ++OutputFileCount;
      AllSize += double((int64_t(E->Width) + 255) / 256) * double((int64_t(E->Height) + 255) / 256);
    }
    if (OutputFileCount == 0) {
      Close(MR_CANCEL);
      return;
    }
  }
  if (OutputFileCount == 0) {
    Close(MR_CANCEL);
    return;
  }
  if (OutputFileCount < 0) {
    if (FView) FView->Warning(InvalidFileNameMessage);
    Close(MR_CANCEL);
    return;
  }
  if (FStopRequested) {  // a stop that came in while the names were finishing
    Canceled = true;
    Close(MR_CANCEL);
    return;
  }
  MaxThreadNum = std::max(1, std::min(MaxThreadNum, OutputFileCount));
  ActiveThreadCount = MaxThreadNum;
  ConvertStarted = LongTrue;
  CompletedSize = 0;
  if (FView) FView->ConvertStarted(OutputFileCount, MaxThreadNum);
  Thread.clear();
  const int32_t PoolSize = BatchWorkerPoolSize(FSettings.System, MaxThreadNum);
  for (int32_t i = 0; i < MaxThreadNum; ++i) {
    Thread.push_back(std::make_unique<TMTResizeThread>(*this, i));
    Thread.back()->Engines = RunEngines->CreateFor(PoolSize);
  }
  for (auto &W : Thread) W->Resume();
}

void TProgressForm::WorkerDone(uint64_t ThreadID, bool Stopped) {
  auto It = std::find_if(Thread.begin(), Thread.end(),
                         [ThreadID](const auto &W) { return W && W->ThreadID() == ThreadID; });
  if (It == Thread.end()) return;
  (*It)->WaitFor();
  It->reset();
  --ActiveThreadCount;
  if (Stopped) Canceled = true;
  if (ActiveThreadCount > 0) return;
  Thread.clear();
  ReleasePageCache();  // image blocks kept for the workers' next files
  if (FView) FView->ShowProgress(Snapshot());
  if (Canceled) {
    Close(MR_CANCEL);
  } else if (FSettings.System.UseExternalTool && !FSettings.System.Command.empty() &&
             ErrorLogForm().GetErrorCount() == 0) {
    StartExternalTool();
  } else {
    ResultText = ElapsedTimeText(MillisecondClock() - StartTime);
    Close(MR_OK);
  }
}

void TProgressForm::StartExternalTool() {
  FLabel = "外部ツールの実行中";
  if (FView) FView->ShowLabel(FLabel);
  ExternalToolThread = std::make_unique<TExternalToolThread>(*this);
  ExternalToolThread->Resume();
}

void TProgressForm::Close(int32_t Result) {
  FModalResult = Result;
  FClosed = true;
}

void TProgressForm::Stop() {
  {
    // Under the hand-out lock: an entry is either handed out before the stop
    // (and finished) or not at all.
    std::lock_guard Lock(CriticalSection);
    FStopRequested = true;
  }
  PostMessage(MSG_STOP, CurrentThreadID());
}

void TProgressForm::TogglePause() { PostMessage(MSG_TOGGLE_PAUSE, CurrentThreadID()); }

void TProgressForm::DoStop() {
  if (MakeOutputFileNameThread && !ConvertStarted) {
    MakeOutputFileNameThread->Terminate();
    MakeOutputFileNameThread->RunEvent.Set();
    return;
  }
  if (ConvertStarted && ActiveThreadCount > 0) {
    FStopping = true;
    for (auto &W : Thread)
      if (W) {
        W->Terminate();
        W->RunEvent.Set();
      }
  }
  // The external commands are not interrupted; the run ends when they do.
}

void TProgressForm::DoTogglePause() {
  const bool Paused = !Suspend.load();
  Suspend = Paused;
  if (!Paused) {
    if (ConvertStarted) {
      for (auto &W : Thread)
        if (W) W->RunEvent.Set();
    } else if (MakeOutputFileNameThread) {
      MakeOutputFileNameThread->RunEvent.Set();
    }
  }
  if (FView) FView->PauseChanged(Paused);
}

TImageInfo *TProgressForm::TakeNextEntry() {
  std::lock_guard Lock(CriticalSection);
  if (FStopRequested) return nullptr;
  const int32_t Count = FList.Count();
  while (CurrentImageIndex < Count) {
    ++CurrentImageIndex;
    if (CurrentImageIndex >= Count) break;
    TImageInfo *E = FList[CurrentImageIndex];
    if (!InShard(CurrentImageIndex) || !E || E->OutPutFileName.empty() || !SourceExists(*E)) continue;
    E->Number = CurrentImageIndex;
    return E;
  }
  return nullptr;
}

void TProgressForm::ReportProgress(uint32_t Units, const std::string &Text) {
  CompletedSize += Units;
  if (FView) FView->EntryStarted(Text);
  const uint64_t Now = MillisecondClock();
  if (Now - LastProgress < PROGRESS_INTERVAL_MS + 1) return;
  FLabel = Text;
  LastProgress = Now;
  if (FView) FView->ShowProgress(Snapshot());
}

void TProgressForm::EntryFinished(const TImageInfo &Entry, TEntryOutcome Outcome,
                                  const std::vector<std::string> &Messages, double Seconds) {
  const bool Ok = Outcome != TEntryOutcome::Failed;
  if (Outcome == TEntryOutcome::Warned) ++FFilesWarned;
  if (Ok) FPixelsDone += int64_t(double(std::max(0, Entry.Width)) * double(std::max(0, Entry.Height)));
  else ++FFilesFailed;
  ++FFilesDone;
  if (!FView) return;
  TFileReport R;
  R.Source = Entry.FIsArchive ? Entry.FArchivePath : Entry.FPath;
  R.Output = Entry.OutPutFileName;
  R.Outcome = Outcome;
  for (const std::string &M : Messages) R.Message += (R.Message.empty() ? "" : "; ") + M;
  R.Seconds = Seconds;
  FView->FileFinished(R);
}

TProgressSnapshot TProgressForm::Snapshot() const {
  TProgressSnapshot S;
  S.Label = FLabel;
  if (AllSize > 0)
    S.Position = std::clamp(int32_t(std::floor(CompletedSize * 256.0 / AllSize)), 0, PROGRESS_BAR_MAX);
  S.FilesDone = FFilesDone.load();
  S.FilesFailed = FFilesFailed.load();
  S.FilesWarned = FFilesWarned.load();
  S.FilesTotal = std::max(0, OutputFileCount);
  S.PixelsDone = double(FPixelsDone.load());
  S.ElapsedMs = MillisecondClock() - StartTime;
  S.Workers = ConvertStarted ? MaxThreadNum : 0;
  S.Paused = Suspend.load();
  S.Stopping = FStopping;
  return S;
}

TExternalToolThread::TExternalToolThread(TProgressForm &AParent) : Parent(AParent) {}

TExternalToolThread::~TExternalToolThread() {
  if (FThread.joinable()) FThread.join();
}

void TExternalToolThread::Resume() {
  std::vector<TExternalToolEntry> Entries;
  TImageInfoList &List = Parent.ImageList();
  for (int32_t i = 0; i < List.Count(); ++i) {
    const TImageInfo *E = List[i];
    if (!E->Checked || E->OutPutFileName.empty() || !Parent.InShard(i)) continue;
    Entries.push_back({E->FIsArchive ? E->FArchivePath : E->FPath, E->FIsArchive != 0, E->OutPutFileName});
  }
  FThread = std::thread([this, Entries = std::move(Entries)] {
    const TRunSettings &S = Parent.Settings();
    RunExternalTool(S.System.Command, S.File.OutputDirectory, S.System.DeleteFile != 0, S.System.DeleteFileName,
                    Entries, S.System.ProcessPriority);
    Parent.PostMessage(WM_TOOL_DONE, CurrentThreadID());
  });
  // The report is handled on this (the main) thread, so the identifier is in
  // place before it is looked at.
  FThreadID = std::hash<std::thread::id>()(FThread.get_id());
}
