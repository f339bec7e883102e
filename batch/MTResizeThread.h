// The per-file conversion worker: takes the next named entry from the batch
// controller, converts it from end to end (rename, JPEG pass-through, or
// load, effect chain, save, file times, source deletion) and reports
// progress, until no entry is left or it is asked to stop. One file's
// failure goes to the error log and never stops the worker.
#pragma once

#include "batch/BatchObjects.h"
#include "effects/Effect.h"
#include "core/MultiThread.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

class TProgressForm;
struct TImageInfo;

class TMTResizeThread {
public:
  // Created suspended: Resume starts it.
  TMTResizeThread(TProgressForm &AParent, int32_t AThreadNum);
  ~TMTResizeThread();  // waits for the thread
  TMTResizeThread(const TMTResizeThread &) = delete;
  TMTResizeThread &operator=(const TMTResizeThread &) = delete;

  void Resume();
  // Stop request: the entry in progress is finished, no other is started.
  void Terminate() { FTerminated = true; }
  bool Terminated() const { return FTerminated.load(); }
  void WaitFor();
  uint64_t ThreadID() const { return FThreadID; }

  uint32_t ProgressSize = 0;  // units reported with the next progress call
  std::string LabelText;      // the file being started
  TProgressForm &Parent;
  int32_t ThreadNum;
  TEffectParams EffectParams{};
  // The worker's own pool and engines, handed over by the controller before
  // Resume and freed when the worker ends.
  std::unique_ptr<TEngineSet> Engines;
  TAutoResetEvent RunEvent;   // resumes the worker after a pause

private:
  void Execute();
  bool Run();  // the loop; answers whether it ended on a stop request
  void CreateWorkerObjects();
  void FreeWorkerObjects();
  // Each answers false when the entry logged an error.
  // Converts one entry; a conversion that succeeded with the decoder's
  // complaints about the data leaves them in Warning (logged as a warning).
  bool ConvertEntry(TImageInfo &Entry, bool EffectsInUse, std::string &Warning);
  bool RenameEntry(TImageInfo &Entry);
  // Warning receives what the log should say about a copy that was made (a damaged source).
  // Lossless mode: runs WEMBC for a JPEG entry (an archive member through a temporary copy).
  bool LosslessEntry(TImageInfo &Entry);
  bool PassThrough(TImageInfo &Entry, std::string &Warning);

  std::atomic<bool> FTerminated{false};
  uint64_t FThreadID = 0;
  std::thread FThread;
};

// Messages the worker logs after the file name and ": ".
inline constexpr const char *RENAME_FAILED_MSG = "リネームに失敗しました";
inline constexpr const char *COPY_FAILED_MSG = "コピーに失敗しました";
// A JPEG copied without recompression whose image data stops before its end marker.
inline constexpr const char *DAMAGED_SOURCE_COPIED_MSG =
    "the source itself is damaged (its image data ends without an end-of-image marker); copied as it is";

// Whether the source of Entry may be deleted after its output was written:
// the output exists and is not empty, its path differs from the source's
// (compared in lower case) and it is not the source file under another name.
bool MayDeleteSource(const std::string &Source, const std::string &Output);
