#pragma once
// The one event thread: descriptor watches, interval timers and posted functions all run on it,
// one at a time. PollLoop runs the daemon and the tests; the desktop program implements the
// same interface on Qt's loop.
#include <cstdint>
#include <functional>

namespace qv::platform {

class EventLoop {
 public:
  using TimerId = int;
  using WatchId = int;
  enum : uint32_t { kReadable = 1, kWritable = 2 };

  virtual ~EventLoop() = default;

  // Calls handler(events) on the loop thread while fd is ready for any of `events`.
  virtual WatchId Watch(int fd, uint32_t events, std::function<void(uint32_t)> handler) = 0;
  virtual void SetWatchEvents(WatchId id, uint32_t events) = 0;
  virtual void Unwatch(WatchId id) = 0;

  // Interval timers. SetTimerEnabled and TimerEnabled are safe from any thread; enabling
  // restarts the interval.
  virtual TimerId AddTimer(int intervalMs, bool enabled, std::function<void()> tick) = 0;
  virtual void SetTimerEnabled(TimerId id, bool enabled) = 0;
  virtual bool TimerEnabled(TimerId id) const = 0;
  virtual void SetTimerInterval(TimerId id, int intervalMs) = 0;
  virtual void RemoveTimer(TimerId id) = 0;

  // Runs fn on the loop thread soon. Safe from any thread.
  virtual void Post(std::function<void()> fn) = 0;

  // Runs until Quit. Quit is safe from any thread.
  virtual void Run() = 0;
  virtual void Quit() = 0;
  virtual bool InLoopThread() const = 0;
};

}  // namespace qv::platform
