#include "platform/thread.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/single_instance.h"
#include "platform/text_codec.h"

namespace qv::platform {
namespace {

using namespace std::chrono_literals;

TEST(WorkerThreadTest, SuspendedStartRunsOnlyAfterResumeAndReportsItsExitCode) {
  std::atomic<bool> ran{false};
  auto t = WorkerThread::Start(
      [&](WorkerThread&) {
        ran = true;
        return 7u;
      },
      true);
  std::this_thread::sleep_for(20ms);
  EXPECT_FALSE(ran);
  EXPECT_EQ(t->ExitCode(), WorkerThread::kStillActive);
  EXPECT_TRUE(t->Running());
  t->Resume();
  ASSERT_TRUE(t->JoinFor(2s));
  EXPECT_TRUE(ran);
  EXPECT_EQ(t->ExitCode(), 7u);
}

TEST(WorkerThreadTest, TerminateWakesAWaitRunsTheHookAndEndsWithTheGivenCode) {
  std::mutex m;
  std::condition_variable cv;
  std::atomic<bool> hookRan{false};
  std::atomic<bool> sawStop{false};
  std::atomic<bool> waiting{false};
  auto t = WorkerThread::Start([&](WorkerThread& self) {
    std::unique_lock lock(m);
    waiting = true;
    self.WaitFor(cv, lock, 10s, [] { return false; });
    sawStop = self.StopRequested();
    return 5u;
  });
  t->SetInterruptHook([&] { hookRan = true; });
  for (int i = 0; i < 2000 && !waiting; ++i) std::this_thread::sleep_for(1ms);
  ASSERT_TRUE(waiting);
  t->Terminate(0);
  ASSERT_TRUE(t->JoinFor(2s));
  EXPECT_TRUE(hookRan);
  EXPECT_TRUE(sawStop);
  EXPECT_EQ(t->ExitCode(), 0u);
}

TEST(WorkerThreadTest, SuspendTakesEffectAtTheNextCheckpoint) {
  std::atomic<int> steps{0};
  std::atomic<bool> go{false};
  auto t = WorkerThread::Start([&](WorkerThread& self) {
    while (!go) std::this_thread::sleep_for(1ms);
    for (int i = 0; i < 3; ++i) {
      if (!self.Checkpoint()) return 1u;
      ++steps;
    }
    return 0u;
  });
  t->Suspend();
  go = true;
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(steps, 0);
  t->Resume();
  ASSERT_TRUE(t->JoinFor(2s));
  EXPECT_EQ(steps, 3);
}

TEST(SingleInstanceTest, SecondClaimFailsUntilTheFirstIsReleased) {
  const std::string name = "qv-test-instance-" + std::to_string(::getpid());
  {
    SingleInstance first(name);
    ASSERT_TRUE(first.Acquired());
    SingleInstance second(name);
    EXPECT_FALSE(second.Acquired());
  }
  SingleInstance again(name);
  EXPECT_TRUE(again.Acquired());
}

TEST(TextCodecTest, Cp1251RoundTripAndUnconvertibleCharacters) {
  const std::string utf8 = "Старт!";
  const std::string cp = Utf8ToCp1251(utf8);
  EXPECT_EQ(cp.size(), 6u);
  EXPECT_EQ(static_cast<unsigned char>(cp[0]), 0xD1);  // С
  EXPECT_EQ(Cp1251ToUtf8(cp), utf8);
  EXPECT_EQ(Utf8ToCp1251("a\xE2\x82\xAC"
                         "b"),
            "a\x88"
            "b");  // the euro sign exists in 1251
  EXPECT_EQ(Utf8ToCp1251("x\xF0\x9F\x98\x80y").front(), 'x');
  EXPECT_EQ(Utf8ToCp1251("\xFF\xFE"), "??");
}

}  // namespace
}  // namespace qv::platform
