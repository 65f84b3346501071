// The Qt event loop serves watches, timers and posted calls on the GUI thread, also from
// other threads and inside a nested (modal) loop.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <thread>

#include "desktop/qt_event_loop.h"

namespace qv::desktop {
namespace {

// Ends a Run that would otherwise hang a broken test.
void Guard(QtEventLoop& loop, bool& timedOut) {
  QTimer::singleShot(5000, [&] {
    timedOut = true;
    loop.Quit();
  });
}

TEST(QtEventLoop, PostAndQuitFromAnotherThread) {
  QtEventLoop loop;
  bool timedOut = false;
  Guard(loop, timedOut);
  std::atomic<bool> ranOnLoopThread{false};
  std::thread other([&] {
    EXPECT_FALSE(loop.InLoopThread());
    loop.Post([&] {
      ranOnLoopThread = loop.InLoopThread();
      std::thread([&] { loop.Quit(); }).detach();
    });
  });
  loop.Run();
  other.join();
  EXPECT_FALSE(timedOut);
  EXPECT_TRUE(ranOnLoopThread);

  // Quit before Run: Run returns at once.
  loop.Quit();
  loop.Run();
}

TEST(QtEventLoop, TimerEnabledFromAnotherThreadTicksOnTheLoop) {
  QtEventLoop loop;
  bool timedOut = false;
  Guard(loop, timedOut);
  int ticks = 0;
  QtEventLoop::TimerId id = 0;
  id = loop.AddTimer(10, false, [&] {
    ++ticks;
    EXPECT_TRUE(loop.InLoopThread());
    loop.SetTimerEnabled(id, false);
    loop.Quit();
  });
  EXPECT_FALSE(loop.TimerEnabled(id));
  std::thread other([&] {
    loop.SetTimerEnabled(id, true);
    // The state is visible at once, before the loop applies it.
    EXPECT_TRUE(loop.TimerEnabled(id));
  });
  other.join();
  loop.Run();
  EXPECT_FALSE(timedOut);
  EXPECT_EQ(ticks, 1);
  EXPECT_FALSE(loop.TimerEnabled(id));

  // Disabled from another thread: no more ticks.
  ticks = 0;
  loop.SetTimerEnabled(id, true);
  std::thread([&] { loop.SetTimerEnabled(id, false); }).join();
  QTimer::singleShot(100, [&] { loop.Quit(); });
  loop.Run();
  EXPECT_EQ(ticks, 0);
  loop.RemoveTimer(id);
}

TEST(QtEventLoop, WatchReadsAPipeAndMayUnwatchItself) {
  QtEventLoop loop;
  bool timedOut = false;
  Guard(loop, timedOut);
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  std::string received;
  QtEventLoop::WatchId id = 0;
  id = loop.Watch(fds[0], QtEventLoop::kReadable, [&](uint32_t events) {
    EXPECT_EQ(events, QtEventLoop::kReadable);
    char buffer[16];
    const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
    if (n > 0) received.append(buffer, static_cast<size_t>(n));
    if (received.size() >= 5) {
      loop.Unwatch(id);
      loop.Quit();
    }
  });
  std::thread writer([&] { EXPECT_EQ(::write(fds[1], "hello", 5), 5); });
  loop.Run();
  writer.join();
  EXPECT_FALSE(timedOut);
  EXPECT_EQ(received, "hello");

  // Writable interest switched on and off.
  int writableEvents = 0;
  const QtEventLoop::WatchId w = loop.Watch(fds[1], 0, [&](uint32_t events) {
    if (events == QtEventLoop::kWritable) ++writableEvents;
    loop.SetWatchEvents(w, 0);
    loop.Quit();
  });
  QTimer::singleShot(50, [&] { loop.SetWatchEvents(w, QtEventLoop::kWritable); });
  loop.Run();
  EXPECT_EQ(writableEvents, 1);
  loop.Unwatch(w);
  ::close(fds[0]);
  ::close(fds[1]);
}

TEST(QtEventLoop, ANestedLoopKeepsServingTimers) {
  QtEventLoop loop;
  bool timedOut = false;
  Guard(loop, timedOut);
  int ticks = 0;
  int ticksInNested = -1;
  loop.AddTimer(10, true, [&] { ++ticks; });
  loop.Post([&] {
    // What a modal dialog's exec does.
    QEventLoop nested;
    const int before = ticks;
    QTimer::singleShot(200, &nested, &QEventLoop::quit);
    nested.exec();
    ticksInNested = ticks - before;
    loop.Quit();
  });
  loop.Run();
  EXPECT_FALSE(timedOut);
  EXPECT_GE(ticksInNested, 3);
}

}  // namespace
}  // namespace qv::desktop
