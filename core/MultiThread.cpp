// Worker pool: threads sleep on auto-reset events between jobs.
#include "core/MultiThread.h"

#include <algorithm>

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
