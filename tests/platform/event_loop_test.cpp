#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/poll_loop.h"

namespace qv::platform {
namespace {

using namespace std::chrono_literals;

TEST(PollLoopTest, TimersTickOnlyWhileEnabledAndCanBeEnabledFromAnotherThread) {
  PollLoop loop;
  int fast = 0;
  int gated = 0;
  EventLoop::TimerId gatedId = 0;
  const auto fastId = loop.AddTimer(5, true, [&] {
    if (++fast == 40) loop.Quit();
  });
  gatedId = loop.AddTimer(5, false, [&] {
    ++gated;
    loop.SetTimerEnabled(gatedId, false);  // one tick per enable, like the connect timer
  });
  std::thread enabler([&] {
    std::this_thread::sleep_for(30ms);
    loop.SetTimerEnabled(gatedId, true);
  });
  const auto start = std::chrono::steady_clock::now();
  loop.Run();
  enabler.join();
  EXPECT_EQ(fast, 40);
  EXPECT_EQ(gated, 1);
  EXPECT_FALSE(loop.TimerEnabled(gatedId));
  EXPECT_TRUE(loop.TimerEnabled(fastId));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

TEST(PollLoopTest, PostedFunctionsRunOnTheLoopThreadInOrder) {
  PollLoop loop;
  std::vector<int> order;
  std::thread::id loopThread;
  std::thread poster([&] {
    for (int i = 0; i < 100; ++i) loop.Post([&, i] { order.push_back(i); });
    loop.Post([&] {
      loopThread = std::this_thread::get_id();
      loop.Quit();
    });
  });
  loop.Run();
  poster.join();
  ASSERT_EQ(order.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(order[static_cast<size_t>(i)], i);
  EXPECT_EQ(loopThread, std::this_thread::get_id());
}

TEST(PollLoopTest, WatchesReportReadableDescriptorsAndCanBeRemovedFromTheirHandler) {
  PollLoop loop;
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  std::string received;
  EventLoop::WatchId id = 0;
  id = loop.Watch(fds[0], EventLoop::kReadable, [&](uint32_t events) {
    EXPECT_TRUE(events & EventLoop::kReadable);
    char c;
    while (::read(fds[0], &c, 1) == 1) {
      received += c;
      if (c == '!') {
        loop.Unwatch(id);
        loop.Quit();
        return;
      }
    }
  });
  ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
  std::thread writer([&] {
    for (const char* p = "ab!"; *p; ++p) {
      std::this_thread::sleep_for(5ms);
      ASSERT_EQ(::write(fds[1], p, 1), 1);
    }
  });
  loop.AddTimer(3000, true, [&] { loop.Quit(); });  // safety limit
  loop.Run();
  writer.join();
  ::close(fds[0]);
  ::close(fds[1]);
  EXPECT_EQ(received, "ab!");
}

TEST(PollLoopTest, SignalQuitEndsTheLoop) {
  PollLoop loop;
  bool signalQuitIgnored = false;
  loop.AddTimer(10, true, [&] { loop.QuitFromSignal(); });
  // When the signal quit does not work, the ordinary quit ends the loop so that the test fails
  // instead of hanging.
  loop.AddTimer(3000, true, [&] {
    signalQuitIgnored = true;
    loop.Quit();
  });
  loop.Run();
  EXPECT_FALSE(signalQuitIgnored) << "loop did not quit on the signal";
}

}  // namespace
}  // namespace qv::platform
