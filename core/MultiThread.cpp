// Worker pool: threads sleep on auto-reset events between jobs.
#include "core/MultiThread.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#if !defined(NDEBUG) || defined(TESSIVO_SANITIZE)
#define TESSIVO_POOL_CHECK 1
#else
#define TESSIVO_POOL_CHECK 0
#endif

bool PoolEntryChecked() { return TESSIVO_POOL_CHECK != 0; }

namespace {

#if TESSIVO_POOL_CHECK
// Claims the pool for the calling thread for one job; two consumers driving
// one pool would overwrite each other's jobs, so that is a programming error.
class TRunnerClaim {
public:
  TRunnerClaim(std::atomic<std::thread::id> &Runner, int32_t Threads) : FRunner(Runner) {
    std::thread::id none{};
    if (!FRunner.compare_exchange_strong(none, std::this_thread::get_id())) {
      std::fprintf(stderr,
                   "TMultiThread: a pool of %d threads was entered by a second thread while it runs a job; "
                   "each consumer needs its own pool\n",
                   int(Threads));
      std::abort();
    }
  }
  ~TRunnerClaim() { FRunner.store(std::thread::id{}); }
  TRunnerClaim(const TRunnerClaim &) = delete;
  TRunnerClaim &operator=(const TRunnerClaim &) = delete;

private:
  std::atomic<std::thread::id> &FRunner;
};
#endif

}  // namespace

void TAutoResetEvent::Set() {
  {
    std::lock_guard lock(FMutex);
    FSignalled = true;
  }
  FCond.notify_one();
}

void TAutoResetEvent::Wait() {
  std::unique_lock lock(FMutex);
  FCond.wait(lock, [this] { return FSignalled; });
  FSignalled = false;
}

TWorkerThread::TWorkerThread(TThreadInfo *Info) : ThreadInfo(Info), FThread([this] { Execute(); }) {}

TWorkerThread::~TWorkerThread() {
  if (FThread.joinable()) FThread.join();
}

void TWorkerThread::Execute() {
  TThreadInfo &info = *ThreadInfo;
  while (info.active) {
    info.runEvent->Wait();
    if (!info.active) break;
    try {
      info.job.proc(info.threadID, info.threadCount, info.job.param);
    } catch (...) {
      info.error = std::current_exception();
    }
    info.endEvent->Set();
  }
  info.endEvent->Set();
}

TMultiThread::TMultiThread(int32_t MaxThread) : FMaxThread(std::max(1, MaxThread)), Info(FMaxThread) {
  for (int32_t i = 0; i < FMaxThread; ++i) {
    TThreadInfo &info = Info[i];
    info.active = LongTrue;
    info.threadID = i;
    info.threadCount = FMaxThread;
    info.runEvent = std::make_unique<TAutoResetEvent>();
    info.endEvent = std::make_unique<TAutoResetEvent>();
  }
  // Threads start only once every entry is complete; each keeps a pointer to its own.
  for (auto &info : Info) info.Thread = std::make_unique<TWorkerThread>(&info);
}

TMultiThread::~TMultiThread() {
  for (auto &info : Info) {
    info.active = LongFalse;
    info.runEvent->Set();
  }
  for (auto &info : Info) {
    info.endEvent->Wait();
    info.Thread.reset();
  }
}

void TMultiThread::exec_multi_thread_func(TMultiThreadProc Proc, void *Param) {
#if TESSIVO_POOL_CHECK
  const TRunnerClaim claim(FRunner, FMaxThread);
#endif
  for (auto &info : Info) {
    info.job.proc = Proc;
    info.job.param = Param;
    info.error = nullptr;
    info.runEvent->Set();
  }
  for (auto &info : Info) info.endEvent->Wait();
  for (auto &info : Info)
    if (info.error) {
      std::exception_ptr e = info.error;
      for (auto &other : Info) other.error = nullptr;
      std::rethrow_exception(e);
    }
}

int32_t LogicalProcessorCount() {
  const unsigned n = std::thread::hardware_concurrency();
  return n ? int32_t(n) : 1;
}

int32_t WorkerPoolSize(int32_t ProcessorCount, int32_t Workers) {
  const int32_t p = std::max(1, ProcessorCount);
  const int32_t w = std::max(1, Workers);
  const int32_t b = p * std::min(p, 4) / w;
  return std::max(1, std::min(p, b));
}
