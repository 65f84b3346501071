#include "platform/thread_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

#include "platform/thread.h"

namespace qv::platform {
namespace {

using namespace std::chrono_literals;

// Polls pred every millisecond for at most limit.
template <class Pred>
bool Eventually(Pred pred, std::chrono::milliseconds limit = 5s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

TEST(ThreadPoolTest, AParkedThreadTakesTheNextJobAndIdleThreadsEnd) {
  ThreadPool pool(300ms, 4);
  std::mutex m;
  std::set<std::thread::id> ids;
  std::atomic<int> done{0};
  for (int i = 0; i < 5; ++i) {
    pool.Run([&] {
      std::lock_guard lock(m);
      ids.insert(std::this_thread::get_id());
      ++done;
    });
    // Each job waits for the previous thread to park: one thread serves them all.
    ASSERT_TRUE(Eventually([&] { return done == i + 1 && pool.ParkedThreads() == 1; }));
  }
  EXPECT_EQ(ids.size(), 1u);
  EXPECT_EQ(pool.Threads(), 1u);
  // Past the idle limit the parked thread ends.
  ASSERT_TRUE(Eventually([&] { return pool.Threads() == 0; }, 3s));
  EXPECT_EQ(pool.ParkedThreads(), 0u);
  pool.Run([&] { ++done; });  // and a new one is made for the next job
  ASSERT_TRUE(Eventually([&] { return done == 6; }));
}

TEST(ThreadPoolTest, BusyThreadsRunJobsSideBySideAndOnlyMaxParkedStay) {
  ThreadPool pool(10s, 2);
  std::mutex m;
  std::condition_variable cv;
  int started = 0;
  bool release = false;
  for (int i = 0; i < 4; ++i) {
    pool.Run([&] {
      std::unique_lock lock(m);
      ++started;
      cv.notify_all();
      cv.wait_for(lock, 5s, [&] { return release; });
    });
  }
  {
    // All four run at once, so none waits for another to finish.
    std::unique_lock lock(m);
    ASSERT_TRUE(cv.wait_for(lock, 5s, [&] { return started == 4; }));
    release = true;
    cv.notify_all();
  }
  EXPECT_TRUE(Eventually([&] { return pool.ParkedThreads() == 2 && pool.Threads() == 2; }));
}

TEST(ThreadPoolTest, DestructionWaitsForARunningJob) {
  std::atomic<bool> finished{false};
  {
    ThreadPool pool;
    pool.Run([&] {
      std::this_thread::sleep_for(50ms);
      finished = true;
    });
  }
  EXPECT_TRUE(finished);
}

TEST(WorkerThreadOnPoolTest, SuspendResumeExitCodeAndTerminateBehaveAsOnAnOwnThread) {
  ThreadPool pool;
  std::atomic<bool> ran{false};
  auto first = WorkerThread::Start(
      pool,
      [&](WorkerThread&) {
        ran = true;
        return 7u;
      },
      true);
  std::this_thread::sleep_for(20ms);
  EXPECT_FALSE(ran);
  EXPECT_TRUE(first->Running());
  first->Resume();
  ASSERT_TRUE(first->JoinFor(2s));
  EXPECT_TRUE(ran);
  EXPECT_EQ(first->ExitCode(), 7u);

  // The next worker runs on the thread the first one left, and stops when terminated.
  ASSERT_TRUE(Eventually([&] { return pool.ParkedThreads() == 1; }));
  std::atomic<bool> waiting{false};
  std::atomic<bool> hookRan{false};
  auto second = WorkerThread::Start(pool, [&](WorkerThread& self) {
    waiting = true;
    while (self.SleepFor(10ms)) {
    }
    return 1u;
  });
  second->SetInterruptHook([&] { hookRan = true; });
  ASSERT_TRUE(Eventually([&] { return waiting.load(); }));
  EXPECT_EQ(pool.Threads(), 1u);
  // Still waiting after 30 ms: catches a task that does not wait for its turn at all, not one
  // that waits only briefly.
  EXPECT_FALSE(second->JoinFor(30ms));
  second->Terminate(3);
  ASSERT_TRUE(second->JoinFor(2s));
  EXPECT_TRUE(hookRan);
  EXPECT_EQ(second->ExitCode(), 3u);
}

TEST(WorkerThreadOnPoolTest, ReleasingTheLastHandleStopsTheBodyAndWaitsForIt) {
  ThreadPool pool;
  std::atomic<bool> started{false};
  std::atomic<bool> left{false};
  auto worker = WorkerThread::Start(pool, [&](WorkerThread& self) {
    started = true;
    while (self.SleepFor(10ms)) {
    }
    left = true;
    return 0u;
  });
  ASSERT_TRUE(Eventually([&] { return started.load(); }));
  worker.reset();
  EXPECT_TRUE(left);
}

}  // namespace
}  // namespace qv::platform
