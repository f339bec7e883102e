// The fork-join worker pool: every thread of a pool runs the same job once,
// with its own index and the thread count, and the caller waits for all.
// Jobs divide the work themselves (see SplitRange).
#pragma once

#include "core/ImgInfo.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using TMultiThreadProc = void (*)(int32_t ThreadIndex, int32_t ThreadCount, void *Param);

// An auto-reset event: Set releases one waiter (or the next one to wait) and
// the event returns to non-signalled when a wait consumes it.
class TAutoResetEvent {
public:
  void Set();
  void Wait();

private:
  std::mutex FMutex;
  std::condition_variable FCond;
  bool FSignalled = false;
};

struct TThreadJob {
  TMultiThreadProc proc = nullptr;
  void *param = nullptr;
};

class TWorkerThread;

struct TThreadInfo {
  std::atomic<LongBool> active{LongTrue};  // read by the thread between jobs, cleared by the destructor
  int32_t threadID = 0;
  int32_t threadCount = 0;
  TThreadJob job;
  std::unique_ptr<TAutoResetEvent> runEvent;
  std::unique_ptr<TAutoResetEvent> endEvent;
  std::unique_ptr<TWorkerThread> Thread;
  std::exception_ptr error;  // what the last job threw, taken by the caller
};

class TWorkerThread {
public:
  explicit TWorkerThread(TThreadInfo *Info);
  ~TWorkerThread();  // waits for the thread to end
  TWorkerThread(const TWorkerThread &) = delete;
  TWorkerThread &operator=(const TWorkerThread &) = delete;

  TThreadInfo *ThreadInfo;

private:
  void Execute();
  std::thread FThread;
};

class TMultiThread {
public:
  explicit TMultiThread(int32_t MaxThread);
  ~TMultiThread();
  TMultiThread(const TMultiThread &) = delete;
  TMultiThread &operator=(const TMultiThread &) = delete;

  // Runs Proc(i, N, Param) on every pool thread and returns when all are done.
  // A job that throws does not hang the pool: the first exception (by thread
  // index) is rethrown here after every thread has finished.
  // One caller at a time: a pool belongs to one consumer. In checked builds
  // (PoolEntryChecked) a second thread entering while a job runs aborts the
  // program with a message instead of silently mixing the two jobs.
  void exec_multi_thread_func(TMultiThreadProc Proc, void *Param);

  int32_t MaxThread() const { return FMaxThread; }

private:
  int32_t FMaxThread;
  std::vector<TThreadInfo> Info;
  // The thread running a job on the pool (none between jobs); kept in every
  // build so the layout does not depend on whether the check is compiled in.
  std::atomic<std::thread::id> FRunner{};
};

// Whether this build catches a pool entered from a second thread (debug and
// sanitizer builds; release builds skip the check to stay fast).
bool PoolEntryChecked();

// The static row split used by most jobs: job i of n handles [First, Last).
struct TRowRange {
  uint32_t First;
  uint32_t Last;
  bool empty() const { return First >= Last; }
};
inline TRowRange SplitRange(uint32_t Count, int32_t Index, int32_t Threads) {
  return {uint32_t(uint64_t(Count) * uint32_t(Index) / uint32_t(Threads)),
          uint32_t(uint64_t(Count) * uint32_t(Index + 1) / uint32_t(Threads))};
}

// Logical processors reported by the operating system (at least 1).
int32_t LogicalProcessorCount();

// Pool size of one batch worker when W workers share P processors.
int32_t WorkerPoolSize(int32_t ProcessorCount, int32_t Workers);
