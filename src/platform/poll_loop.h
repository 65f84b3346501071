#pragma once
// EventLoop on poll(2), with an eventfd to wake the loop for posts, timer changes and Quit.
// QuitFromSignal may be called from a signal handler.
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/event_loop.h"

namespace qv::platform {

class PollLoop final : public EventLoop {
 public:
  PollLoop();
  ~PollLoop() override;
  PollLoop(const PollLoop&) = delete;
  PollLoop& operator=(const PollLoop&) = delete;

  WatchId Watch(int fd, uint32_t events, std::function<void(uint32_t)> handler) override;
  void SetWatchEvents(WatchId id, uint32_t events) override;
  void Unwatch(WatchId id) override;

  TimerId AddTimer(int intervalMs, bool enabled, std::function<void()> tick) override;
  void SetTimerEnabled(TimerId id, bool enabled) override;
  bool TimerEnabled(TimerId id) const override;
  void SetTimerInterval(TimerId id, int intervalMs) override;
  void RemoveTimer(TimerId id) override;

  void Post(std::function<void()> fn) override;
  void Run() override;
  void Quit() override;
  bool InLoopThread() const override;

  // Async-signal-safe: only writes to the eventfd.
  void QuitFromSignal();

 private:
  using Clock = std::chrono::steady_clock;
  struct WatchEntry {
    int fd;
    uint32_t events;
    std::shared_ptr<std::function<void(uint32_t)>> handler;
  };
  struct TimerEntry {
    int intervalMs;
    bool enabled;
    Clock::time_point due;
    std::shared_ptr<std::function<void()>> tick;
  };

  void Wake();
  void DrainWake();
  int NextTimeoutMs();
  void RunDueTimers();
  void RunPosted();

  int wakeFd_ = -1;
  std::atomic<bool> quit_{false};
  std::atomic<bool> signalQuit_{false};
  std::thread::id loopThread_;
  std::atomic<bool> running_{false};

  // watches_ and timers_ change on the loop thread, except timer enable/interval which any
  // thread may set: timers_ is guarded by timerMutex_.
  std::map<WatchId, WatchEntry> watches_;
  WatchId nextWatch_ = 1;
  mutable std::mutex timerMutex_;
  std::map<TimerId, TimerEntry> timers_;
  TimerId nextTimer_ = 1;
  std::mutex postMutex_;
  std::vector<std::function<void()>> posted_;
};

}  // namespace qv::platform
