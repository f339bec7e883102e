// The batch controller: lets the naming thread name every checked entry,
// starts the per-file workers, hands them entries one at a time under its
// lock, counts progress, pauses, resumes and stops them, runs the post-run
// command after a clean run and reports the elapsed time. It is GUI-free: a
// window or the terminal watches it through TProgressView, and its threads
// talk to it through queued notifications handled on the thread that runs
// ShowModal (the main thread).
#pragma once

#include "batch/ConvertOption.h"
#include "batch/ImageInfo.h"
#include "core/MultiThread.h"
#include "lossless/WembSettings.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TEffectList;
class TEngineSet;
class TMTResizeThread;
class TMakeOutputFileNameThread;
class TExternalToolThread;
class TQuzen;

// Notifications of a run (WM_APP + 0x100 to 0x104); the word parameter is
// the sending thread's identifier. 0x8102 and 0x8103 come from the naming
// thread (MakeOutputFileName.h).
constexpr uint32_t WM_WORKER_DONE = 0x8100;     // a worker ran out of entries
constexpr uint32_t WM_WORKER_STOPPED = 0x8101;  // a worker ended on a stop request
constexpr uint32_t WM_TOOL_DONE = 0x8104;       // the external commands are done

// Modal results.
constexpr int32_t MR_OK = 1;      // the run completed
constexpr int32_t MR_CANCEL = 2;  // stopped, or nothing to convert

// The progress bar's range: three units per 256 x 256 block.
constexpr int32_t PROGRESS_BAR_MAX = 768;
// Visible progress updates are at least this far apart.
constexpr uint32_t PROGRESS_INTERVAL_MS = 500;

// What a view shows of a running batch.
struct TProgressSnapshot {
  std::string Label;          // the file being started
  int32_t Position = 0;       // 0 .. PROGRESS_BAR_MAX
  int32_t FilesDone = 0;      // entries finished (converted or failed)
  int32_t FilesFailed = 0;    // of those, entries that logged an error
  int32_t FilesWarned = 0;    // of those, entries converted with a warning
  int32_t FilesTotal = 0;     // names of the run
  double PixelsDone = 0;      // source pixels of the entries converted
  uint64_t ElapsedMs = 0;
  int32_t Workers = 0;
  bool Paused = false;
  bool Stopping = false;
};

// How an entry ended: converted, converted with a warning (a damaged Exif
// block left out, the decoder's complaint about the data), or not converted.
enum class TEntryOutcome { Converted, Warned, Failed };

// One finished entry, for views that report file by file.
struct TFileReport {
  std::string Source;   // the source path (the archive's for a member)
  std::string Output;   // the output path
  TEntryOutcome Outcome = TEntryOutcome::Converted;
  std::string Message;  // the entry's error-log lines, joined by "; "
  double Seconds = 0;   // the worker's time on the entry
};

class TProgressView {
public:
  virtual ~TProgressView() = default;
  virtual void NamingStarted() {}                                   // the marquee runs
  virtual void ConvertStarted(int32_t /*OutputFileCount*/, int32_t /*Workers*/) {}
  virtual void ShowProgress(const TProgressSnapshot & /*State*/) {}  // at most every 500 ms
  // Every progress call, unthrottled: a worker starts the file Text (empty
  // when it reports the units of its last file on leaving).
  virtual void EntryStarted(const std::string & /*Text*/) {}
  virtual void ShowLabel(const std::string & /*Text*/) {}           // e.g. "外部ツールの実行中"
  virtual void Warning(const std::string & /*Text*/) {}
  virtual void PauseChanged(bool /*Paused*/) {}
  // Called on the main thread about every 100 ms while the run is shown.
  virtual void Idle(const TProgressSnapshot & /*State*/) {}
  virtual void Closed(int32_t /*ModalResult*/, const std::string & /*ResultText*/) {}
  // An entry is finished; called on the worker's own thread.
  virtual void FileFinished(const TFileReport & /*Report*/) {}
};

// What a view may ask of the run it shows, from its own thread.
class TRunControl {
public:
  virtual ~TRunControl() = default;
  virtual void Stop() = 0;
  virtual void TogglePause() = 0;
};

// "%.2fs" of the seconds from 1000 ms on, else "%dms".
std::string ElapsedTimeText(uint64_t Milliseconds);
// Milliseconds of a steady clock.
uint64_t MillisecondClock();

class TProgressForm : public TRunControl {
public:
  // The run starts here: it takes its copy of the settings records, which
  // the workers read from then on, and tells the chain the resize options of
  // the run. The list and the chain are only read while the run lasts. View
  // may be null.
  TProgressForm(TImageInfoList &List, TEffectList &Effects, TProgressView *View = nullptr);
  ~TProgressForm();
  TProgressForm(const TProgressForm &) = delete;
  TProgressForm &operator=(const TProgressForm &) = delete;

  // Runs the whole batch on the calling thread and answers MR_OK or MR_CANCEL.
  int32_t ShowModal();

  // Pause ("中断"), resume ("再開") and stop ("中止"); from any thread.
  void TogglePause() override;
  void Stop() override;

  // --- used by the workers ---
  // The next entry with an output name whose source exists, its Number set
  // to its index; null past the end of the list.
  TImageInfo *TakeNextEntry();
  // Runs Proc on the main thread and waits for it.
  void Synchronize(const std::function<void()> &Proc);
  void PostMessage(uint32_t Msg, uint64_t ThreadID);
  // Progress method (main thread): counts Units; the view is refreshed when
  // more than 500 ms passed since the last visible update.
  void ReportProgress(uint32_t Units, const std::string &Text);
  // A worker finished Entry (any thread) with Outcome, Messages its log
  // lines, Seconds its time.
  void EntryFinished(const TImageInfo &Entry, TEntryOutcome Outcome, const std::vector<std::string> &Messages,
                     double Seconds);
  // Whether the entry at Index belongs to this run's shard: the list is
  // named as a whole, and only every ShardCount-th entry from ShardIndex on
  // is converted, so that ShardCount runs together convert the list once.
  bool InShard(int32_t Index) const { return ShardCount <= 1 || Index % ShardCount == ShardIndex; }

  bool Suspended() const { return Suspend.load(); }
  bool StopRequested() const { return FStopRequested.load(); }
  int32_t WorkerCount() const { return MaxThreadNum; }
  TImageInfoList &ImageList() { return FList; }
  TEffectList &Effects() { return FEffects; }
  TProgressSnapshot Snapshot() const;
  // The settings of this run, as they were when it started.
  const TRunSettings &Settings() const { return FSettings; }

  std::vector<std::unique_ptr<TMTResizeThread>> Thread;
  int32_t ShardIndex = 0;  // set before ShowModal
  int32_t ShardCount = 1;
  std::string FileNameFormat;
  bool NotOverwrite = true;
  bool RenameOnly = false;
  std::mutex CriticalSection;
  double AllSize = 0;
  double CompletedSize = 0;
  int32_t CurrentImageIndex = -1;
  int32_t MaxThreadNum = 1;
  int32_t ActiveThreadCount = 0;
  bool Canceled = false;
  uint64_t StartTime = 0;
  int32_t OutputFileCount = 0;
  std::unique_ptr<TMakeOutputFileNameThread> MakeOutputFileNameThread;
  // The engines as they were when the run started; each worker gets copies
  // of its own with its own pool.
  std::unique_ptr<TEngineSet> RunEngines;
  std::unique_ptr<TExternalToolThread> ExternalToolThread;
  // Lossless mode: the run's published parameter block and tool runner,
  // made before the workers start and released after the last one ended.
  std::unique_ptr<TQuzen> Quzen;
  LongBool ConvertStarted = LongFalse;
  uint64_t LastProgress = 0;
  std::atomic<bool> Suspend{false};  // paused
  std::string ResultText;

private:
  struct TMessage {
    uint32_t Msg = 0;
    uint64_t ThreadID = 0;
    std::function<void()> Proc;  // a synchronised call instead of a notification
    bool *Done = nullptr;
  };
  void HandleMessage(const TMessage &M);
  void NamesDone();
  void WorkerDone(uint64_t ThreadID, bool Stopped);
  void StartExternalTool();
  void Close(int32_t Result);
  void DoStop();
  void DoTogglePause();

  const TRunSettings FSettings;
  const TWembSettings FWembSettings;
  TImageInfoList &FList;
  TEffectList &FEffects;
  TProgressView *FView;
  std::mutex FQueueLock;
  std::condition_variable FQueueCond;
  std::deque<TMessage> FQueue;
  std::atomic<bool> FStopRequested{false};
  std::atomic<int32_t> FFilesDone{0};
  std::atomic<int32_t> FFilesFailed{0};
  std::atomic<int32_t> FFilesWarned{0};
  std::atomic<int64_t> FPixelsDone{0};
  std::string FLabel;
  bool FClosed = false;
  bool FStopping = false;
  int32_t FModalResult = MR_CANCEL;
};

// The post-run command on its own thread; reports WM_TOOL_DONE.
class TExternalToolThread {
public:
  explicit TExternalToolThread(TProgressForm &Parent);
  ~TExternalToolThread();
  void Resume();
  uint64_t ThreadID() const { return FThreadID; }

private:
  TProgressForm &Parent;
  uint64_t FThreadID = 0;
  std::thread FThread;
};

// A thread's identifier as the notifications carry it.
uint64_t CurrentThreadID();
