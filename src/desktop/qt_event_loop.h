#pragma once
// The event loop of the desktop program on Qt's own loop: descriptor watches are socket
// notifiers, timers are QTimers and posted functions are queued calls. Everything runs on the
// GUI thread, so a modal dialog's nested loop keeps serving the same watches and timers.
#include <QEventLoop>
#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "platform/event_loop.h"

namespace qv::desktop {

class QtEventLoop final : public platform::EventLoop {
 public:
  // Create on the GUI thread once the QApplication exists.
  QtEventLoop();
  ~QtEventLoop() override;
  QtEventLoop(const QtEventLoop&) = delete;
  QtEventLoop& operator=(const QtEventLoop&) = delete;

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

 private:
  struct WatchEntry {
    uint32_t events = 0;
    std::shared_ptr<std::function<void(uint32_t)>> handler;
    QPointer<QSocketNotifier> read;
    QPointer<QSocketNotifier> write;
  };
  struct TimerEntry {
    QPointer<QTimer> timer;
    std::shared_ptr<std::function<void()>> tick;
    bool enabled = false;
    int intervalMs = 0;
  };

  void OnReady(WatchId id, uint32_t event);
  void OnTimeout(TimerId id);
  // Brings the QTimer in line with the requested state (loop thread only).
  void ApplyTimer(TimerId id);
  static void Dispose(QObject* object);

  // Queued calls go through this object, which lives on the GUI thread.
  QObject context_;
  std::map<WatchId, WatchEntry> watches_;
  WatchId nextWatch_ = 1;
  // Requested timer states may change from any thread.
  mutable std::mutex timerMutex_;
  std::map<TimerId, TimerEntry> timers_;
  TimerId nextTimer_ = 1;
  QEventLoop* running_ = nullptr;
  std::atomic<bool> quit_{false};
};

}  // namespace qv::desktop
