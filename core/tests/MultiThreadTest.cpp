#include "core/MultiThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

struct CallLog {
  std::vector<std::atomic<int>> calls;
  std::atomic<int> seenCount{0};
  explicit CallLog(int n) : calls(n) {}
};

void CountCall(int32_t index, int32_t count, void *param) {
  auto *log = static_cast<CallLog *>(param);
  log->calls[index].fetch_add(1);
  if (count == int32_t(log->calls.size())) log->seenCount.fetch_add(1);
}

struct RowJob {
  uint32_t rows;
  std::vector<int> owner;  // which job wrote each row
};

void MarkRows(int32_t index, int32_t count, void *param) {
  auto *job = static_cast<RowJob *>(param);
  const TRowRange r = SplitRange(job->rows, index, count);
  for (uint32_t y = r.First; y < r.Last; ++y) job->owner[y] = index;
}

TEST(MultiThread, EveryThreadRunsEachJobExactlyOnce) {
  for (int n : {1, 2, 3, 8}) {
    TMultiThread pool(n);
    EXPECT_EQ(pool.MaxThread(), n);
    for (int round = 1; round <= 50; ++round) {
      CallLog log(n);
      pool.exec_multi_thread_func(CountCall, &log);
      for (int i = 0; i < n; ++i) ASSERT_EQ(log.calls[i].load(), 1) << "thread " << i << " round " << round;
      EXPECT_EQ(log.seenCount.load(), n);
    }
  }
}

TEST(MultiThread, RowSplitCoversEveryRowOnceEvenWithFewerRowsThanThreads) {
  TMultiThread pool(5);
  for (uint32_t rows : {0u, 1u, 3u, 5u, 17u, 1000u}) {
    RowJob job{rows, std::vector<int>(rows, -1)};
    pool.exec_multi_thread_func(MarkRows, &job);
    for (uint32_t y = 0; y < rows; ++y) {
      const TRowRange r = SplitRange(rows, job.owner[y], 5);
      EXPECT_TRUE(y >= r.First && y < r.Last) << rows << " rows, row " << y;
    }
  }
  // The split is monotone and uses 64-bit products.
  const TRowRange last = SplitRange(4000000000u, 2, 3);
  EXPECT_EQ(last.Last, 4000000000u);
}

void ThrowOnOdd(int32_t index, int32_t, void *param) {
  static_cast<std::atomic<int> *>(param)->fetch_add(1);
  if (index % 2) throw std::runtime_error("job " + std::to_string(index));
}

TEST(MultiThread, FailingJobIsRethrownAfterAllThreadsFinish) {
  TMultiThread pool(4);
  std::atomic<int> ran{0};
  try {
    pool.exec_multi_thread_func(ThrowOnOdd, &ran);
    FAIL() << "no exception";
  } catch (const std::runtime_error &e) {
    EXPECT_STREQ(e.what(), "job 1");  // the lowest index wins
  }
  EXPECT_EQ(ran.load(), 4);
  // The pool is still usable and the old error does not come back.
  CallLog log(4);
  pool.exec_multi_thread_func(CountCall, &log);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(log.calls[i].load(), 1);
}

TEST(MultiThread, DestroyWithoutJobEndsCleanly) {
  for (int i = 0; i < 20; ++i) TMultiThread pool(3);
  TMultiThread zero(0);  // a non-positive count still gives a working pool of one
  CallLog log(1);
  zero.exec_multi_thread_func(CountCall, &log);
  EXPECT_EQ(log.calls[0].load(), 1);
}

// A job that holds its pool until the test lets it go.
struct Gate {
  std::mutex m;
  std::condition_variable cv;
  bool started = false;
  bool released = false;
  void WaitStarted() {
    std::unique_lock lock(m);
    cv.wait(lock, [this] { return started; });
  }
  void Release() {
    {
      std::lock_guard lock(m);
      released = true;
    }
    cv.notify_all();
  }
};

void HoldAtGate(int32_t, int32_t, void *param) {
  auto *gate = static_cast<Gate *>(param);
  std::unique_lock lock(gate->m);
  gate->started = true;
  gate->cv.notify_all();
  gate->cv.wait(lock, [gate] { return gate->released; });
}

void Throw(int32_t, int32_t, void *) { throw std::runtime_error("job failed"); }

TEST(MultiThread, PoolHandedFromOneThreadToAnotherRunsJobsForEach) {
  TMultiThread pool(2);
  CallLog first(2), second(2);
  std::thread([&] { pool.exec_multi_thread_func(CountCall, &first); }).join();
  // A job that failed still gives the pool back.
  std::thread([&] { EXPECT_THROW(pool.exec_multi_thread_func(Throw, nullptr), std::runtime_error); }).join();
  std::thread([&] { pool.exec_multi_thread_func(CountCall, &second); }).join();
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(first.calls[i].load(), 1);
    EXPECT_EQ(second.calls[i].load(), 1);
  }
}

TEST(MultiThreadDeathTest, EnteringAPoolThatRunsAnotherThreadsJobAborts) {
  if (!PoolEntryChecked()) GTEST_SKIP() << "release build: the pool entry check is compiled out";
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  TMultiThread pool(1);
  Gate gate;
  std::thread owner([&] { pool.exec_multi_thread_func(HoldAtGate, &gate); });
  gate.WaitStarted();
  CallLog intruder(1);
  EXPECT_DEATH(pool.exec_multi_thread_func(CountCall, &intruder), "entered by a second thread");
  gate.Release();
  owner.join();
  EXPECT_EQ(intruder.calls[0].load(), 0);
  pool.exec_multi_thread_func(CountCall, &intruder);  // free again once the owner's job ended
  EXPECT_EQ(intruder.calls[0].load(), 1);
}

TEST(MultiThread, WorkerPoolSizes) {
  struct Case {
    int p, w, expect;
  } cases[] = {{8, 4, 8}, {8, 1, 8}, {2, 2, 2}, {2, 1, 2}, {16, 8, 8}, {4, 16, 1}, {1, 1, 1}};
  for (const auto &c : cases) EXPECT_EQ(WorkerPoolSize(c.p, c.w), c.expect) << c.p << "/" << c.w;
}

}  // namespace
