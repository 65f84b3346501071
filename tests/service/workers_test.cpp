// Terminating and reaping a user's worker table.
#include <gtest/gtest.h>

#include <atomic>

#include "core/console_front_end.h"
#include "platform/poll_loop.h"
#include "service/workers.h"
#include "support/test_server.h"

namespace qv::service {
namespace {

using namespace std::chrono_literals;

class WorkersTest : public ::testing::Test {
 protected:
  // count entries; the first `finished` have ended, the others run until terminated.
  void Fill(size_t count, size_t finished) {
    for (size_t i = 0; i < count; ++i) {
      std::shared_ptr<platform::WorkerThread> thread;
      if (i < finished) {
        thread = platform::WorkerThread::Start([](platform::WorkerThread&) { return 0u; });
        ASSERT_TRUE(thread->JoinFor(5s));
      } else {
        thread = platform::WorkerThread::Start([](platform::WorkerThread& self) {
          while (self.SleepFor(5ms)) {
          }
          return 7u;
        });
      }
      user_.Workers.push_back(WorkerEntry{thread, static_cast<int32_t>(i + 1), kWorkerKindSend});
    }
  }

  test::TempDir dir_;
  platform::PollLoop loop_;
  ConsoleFrontEnd front_;
  Server server_{dir_.Path(), loop_, front_};
  TMyNameUser user_;
};

TEST_F(WorkersTest, ReapingDropsTheFinishedHeadOnlyBeyondFiftyEntries) {
  Fill(60, 12);
  ReapWorkers(server_, user_, false);
  ASSERT_EQ(user_.Workers.size(), 48u);
  EXPECT_EQ(user_.Workers.front().Sequence, 13);
  EXPECT_TRUE(user_.Workers.front().Handle->Running());

  TerminateWorkers(server_, user_, kWorkerKindSend);  // asks them to stop, does not wait
  for (const auto& entry : user_.Workers) {
    ASSERT_TRUE(entry.Handle);
    EXPECT_TRUE(entry.Handle->JoinFor(5s));
    EXPECT_EQ(entry.Handle->ExitCode(), 0u);  // terminated with exit code 0
  }
  ReapWorkers(server_, user_, false);  // nothing runs any more: the table empties
  EXPECT_TRUE(user_.Workers.empty());
}

TEST_F(WorkersTest, FiftyEntriesAreNotMovedAndForceEmptiesTheTable) {
  Fill(50, 12);
  ReapWorkers(server_, user_, false);
  ASSERT_EQ(user_.Workers.size(), 50u);
  for (size_t i = 0; i < 12; ++i) EXPECT_FALSE(user_.Workers[i].Handle) << i;  // handles closed
  EXPECT_TRUE(user_.Workers[12].Handle);

  // Other kinds are left alone by termination.
  user_.Workers[20].Kind = 2;
  TerminateWorkers(server_, user_, kWorkerKindSend);
  EXPECT_TRUE(user_.Workers[20].Handle->Running());
  ReapWorkers(server_, user_, true);  // forced: empty, the running thread stopped, not joined
  EXPECT_TRUE(user_.Workers.empty());
  EXPECT_EQ(user_.WorkerCount.load(), 0);
  // The reaper holds it until it has left; the housekeeping tick's sweep then releases it.
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (server_.reaper.Sweep() > 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(5ms);
  }
  EXPECT_EQ(server_.reaper.Held(), 0u);
}

TEST_F(WorkersTest, AWorkerSlowToLeaveIsNeverWaitedForItGoesToTheReaper) {
  // A worker stuck in a system call for a while: it sees its stop flag only afterwards.
  std::atomic<bool> inside{false};
  auto slow = platform::WorkerThread::Start([&inside](platform::WorkerThread&) {
    inside = true;
    std::this_thread::sleep_for(600ms);
    return 0u;
  });
  for (int i = 0; i < 500 && !inside; ++i) std::this_thread::sleep_for(1ms);
  ASSERT_TRUE(inside);
  user_.Workers.push_back(WorkerEntry{slow, 1, kWorkerKindSend});
  user_.WorkerCount = 1;
  slow.reset();
  const auto start = std::chrono::steady_clock::now();
  TerminateWorkers(server_, user_, kWorkerKindSend);
  ReapWorkers(server_, user_, true);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 300ms);
  EXPECT_TRUE(user_.Workers.empty());
  EXPECT_EQ(server_.reaper.Sweep(), 1u);  // still running: held
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (server_.reaper.Sweep() > 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_EQ(server_.reaper.Held(), 0u);
}

TEST_F(WorkersTest, ReleaseResumesOnlyTheWorkerWhoseTurnIsNext) {
  auto make = [] {
    return platform::WorkerThread::Start(
        [](platform::WorkerThread& self) {
          while (self.SleepFor(5ms)) {
          }
          return 0u;
        },
        true);
  };
  user_.Workers.push_back(WorkerEntry{make(), 4, kWorkerKindSend});
  user_.Workers.push_back(WorkerEntry{make(), 5, kWorkerKindSend});
  user_.SendStarted = 3;
  ReleaseNextWorker(server_, user_);
  EXPECT_FALSE(user_.Workers[0].Handle->Suspended());
  EXPECT_TRUE(user_.Workers[1].Handle->Suspended());
  TerminateWorkers(server_, user_, kWorkerKindSend);
  ReapWorkers(server_, user_, true);
}

}  // namespace
}  // namespace qv::service
