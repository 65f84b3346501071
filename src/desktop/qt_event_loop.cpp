#include "desktop/qt_event_loop.h"

#include <QThread>

namespace qv::desktop {

QtEventLoop::QtEventLoop() = default;

QtEventLoop::~QtEventLoop() {
  for (auto& [id, watch] : watches_) {
    delete watch.read.data();
    delete watch.write.data();
  }
  std::lock_guard lock(timerMutex_);
  for (auto& [id, timer] : timers_) delete timer.timer.data();
}

void QtEventLoop::Dispose(QObject* object) {
  // The object may be the one whose signal is being handled right now.
  if (object == nullptr) return;
  object->disconnect();
  if (auto* notifier = qobject_cast<QSocketNotifier*>(object)) notifier->setEnabled(false);
  if (auto* timer = qobject_cast<QTimer*>(object)) timer->stop();
  object->deleteLater();
}

platform::EventLoop::WatchId QtEventLoop::Watch(int fd, uint32_t events,
                                                std::function<void(uint32_t)> handler) {
  const WatchId id = nextWatch_++;
  WatchEntry entry;
  entry.events = events;
  entry.handler = std::make_shared<std::function<void(uint32_t)>>(std::move(handler));
  entry.read = new QSocketNotifier(fd, QSocketNotifier::Read, &context_);
  entry.write = new QSocketNotifier(fd, QSocketNotifier::Write, &context_);
  QObject::connect(entry.read, &QSocketNotifier::activated, &context_,
                   [this, id] { OnReady(id, kReadable); });
  QObject::connect(entry.write, &QSocketNotifier::activated, &context_,
                   [this, id] { OnReady(id, kWritable); });
  entry.read->setEnabled((events & kReadable) != 0);
  entry.write->setEnabled((events & kWritable) != 0);
  watches_.emplace(id, std::move(entry));
  return id;
}

void QtEventLoop::SetWatchEvents(WatchId id, uint32_t events) {
  const auto it = watches_.find(id);
  if (it == watches_.end()) return;
  it->second.events = events;
  if (it->second.read) it->second.read->setEnabled((events & kReadable) != 0);
  if (it->second.write) it->second.write->setEnabled((events & kWritable) != 0);
}

void QtEventLoop::Unwatch(WatchId id) {
  const auto it = watches_.find(id);
  if (it == watches_.end()) return;
  Dispose(it->second.read);
  Dispose(it->second.write);
  watches_.erase(it);
}

void QtEventLoop::OnReady(WatchId id, uint32_t event) {
  const auto it = watches_.find(id);
  if (it == watches_.end() || (it->second.events & event) == 0) return;
  // The handler may unwatch itself: keep it alive for the call.
  const auto handler = it->second.handler;
  (*handler)(event);
}

platform::EventLoop::TimerId QtEventLoop::AddTimer(int intervalMs, bool enabled,
                                                   std::function<void()> tick) {
  auto* timer = new QTimer(&context_);
  timer->setInterval(intervalMs);
  TimerId id = 0;
  {
    std::lock_guard lock(timerMutex_);
    id = nextTimer_++;
    TimerEntry entry;
    entry.timer = timer;
    entry.tick = std::make_shared<std::function<void()>>(std::move(tick));
    entry.enabled = enabled;
    entry.intervalMs = intervalMs;
    timers_.emplace(id, std::move(entry));
  }
  QObject::connect(timer, &QTimer::timeout, &context_, [this, id] { OnTimeout(id); });
  if (enabled) timer->start();
  return id;
}

void QtEventLoop::SetTimerEnabled(TimerId id, bool enabled) {
  {
    std::lock_guard lock(timerMutex_);
    const auto it = timers_.find(id);
    if (it == timers_.end()) return;
    it->second.enabled = enabled;
  }
  if (InLoopThread()) {
    ApplyTimer(id);
  } else {
    QMetaObject::invokeMethod(
        &context_, [this, id] { ApplyTimer(id); }, Qt::QueuedConnection);
  }
}

bool QtEventLoop::TimerEnabled(TimerId id) const {
  std::lock_guard lock(timerMutex_);
  const auto it = timers_.find(id);
  return it != timers_.end() && it->second.enabled;
}

void QtEventLoop::SetTimerInterval(TimerId id, int intervalMs) {
  {
    std::lock_guard lock(timerMutex_);
    const auto it = timers_.find(id);
    if (it == timers_.end()) return;
    it->second.intervalMs = intervalMs;
  }
  if (InLoopThread()) {
    ApplyTimer(id);
  } else {
    QMetaObject::invokeMethod(
        &context_, [this, id] { ApplyTimer(id); }, Qt::QueuedConnection);
  }
}

void QtEventLoop::ApplyTimer(TimerId id) {
  QTimer* timer = nullptr;
  bool enabled = false;
  int interval = 0;
  {
    std::lock_guard lock(timerMutex_);
    const auto it = timers_.find(id);
    if (it == timers_.end() || !it->second.timer) return;
    timer = it->second.timer;
    enabled = it->second.enabled;
    interval = it->second.intervalMs;
  }
  timer->setInterval(interval);
  if (enabled) {
    timer->start();  // (re)starts the interval
  } else {
    timer->stop();
  }
}

void QtEventLoop::RemoveTimer(TimerId id) {
  QTimer* timer = nullptr;
  {
    std::lock_guard lock(timerMutex_);
    const auto it = timers_.find(id);
    if (it == timers_.end()) return;
    timer = it->second.timer;
    timers_.erase(it);
  }
  Dispose(timer);
}

void QtEventLoop::OnTimeout(TimerId id) {
  std::shared_ptr<std::function<void()>> tick;
  {
    std::lock_guard lock(timerMutex_);
    const auto it = timers_.find(id);
    // Disabled from another thread after this timeout was due: skip it.
    if (it == timers_.end() || !it->second.enabled) return;
    tick = it->second.tick;
  }
  (*tick)();
}

void QtEventLoop::Post(std::function<void()> fn) {
  QMetaObject::invokeMethod(&context_, std::move(fn), Qt::QueuedConnection);
}

void QtEventLoop::Run() {
  if (!quit_.exchange(false)) {
    QEventLoop loop;
    running_ = &loop;
    if (!quit_) loop.exec();
    running_ = nullptr;
  }
  quit_ = false;
}

void QtEventLoop::Quit() {
  quit_ = true;
  QMetaObject::invokeMethod(
      &context_,
      [this] {
        if (running_ != nullptr) running_->quit();
      },
      Qt::QueuedConnection);
}

bool QtEventLoop::InLoopThread() const {
  return QThread::currentThread() == context_.thread();
}

}  // namespace qv::desktop
