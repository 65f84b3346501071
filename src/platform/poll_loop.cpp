#include "platform/poll_loop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <stdexcept>
#include <system_error>

namespace qv::platform {

PollLoop::PollLoop() {
  wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wakeFd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

PollLoop::~PollLoop() {
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

void PollLoop::Wake() {
  const uint64_t one = 1;
  // A full counter already means "wake up"; nothing else can go wrong with a valid eventfd.
  [[maybe_unused]] ssize_t r = ::write(wakeFd_, &one, sizeof one);
}

void PollLoop::DrainWake() {
  uint64_t value = 0;
  while (::read(wakeFd_, &value, sizeof value) > 0) {
  }
}

EventLoop::WatchId PollLoop::Watch(int fd, uint32_t events, std::function<void(uint32_t)> handler) {
  const WatchId id = nextWatch_++;
  watches_[id] =
      WatchEntry{fd, events, std::make_shared<std::function<void(uint32_t)>>(std::move(handler))};
  return id;
}

void PollLoop::SetWatchEvents(WatchId id, uint32_t events) {
  auto it = watches_.find(id);
  if (it != watches_.end()) it->second.events = events;
}

void PollLoop::Unwatch(WatchId id) {
  watches_.erase(id);
}

EventLoop::TimerId PollLoop::AddTimer(int intervalMs, bool enabled, std::function<void()> tick) {
  std::lock_guard lock(timerMutex_);
  const TimerId id = nextTimer_++;
  timers_[id] =
      TimerEntry{intervalMs, enabled, Clock::now() + std::chrono::milliseconds(intervalMs),
                 std::make_shared<std::function<void()>>(std::move(tick))};
  Wake();
  return id;
}

void PollLoop::SetTimerEnabled(TimerId id, bool enabled) {
  {
    std::lock_guard lock(timerMutex_);
    auto it = timers_.find(id);
    if (it == timers_.end()) return;
    if (enabled && !it->second.enabled) {
      it->second.due = Clock::now() + std::chrono::milliseconds(it->second.intervalMs);
    }
    it->second.enabled = enabled;
  }
  Wake();
}

bool PollLoop::TimerEnabled(TimerId id) const {
  std::lock_guard lock(timerMutex_);
  auto it = timers_.find(id);
  return it != timers_.end() && it->second.enabled;
}

void PollLoop::SetTimerInterval(TimerId id, int intervalMs) {
  {
    std::lock_guard lock(timerMutex_);
    auto it = timers_.find(id);
    if (it == timers_.end()) return;
    it->second.intervalMs = intervalMs;
    it->second.due = Clock::now() + std::chrono::milliseconds(intervalMs);
  }
  Wake();
}

void PollLoop::RemoveTimer(TimerId id) {
  std::lock_guard lock(timerMutex_);
  timers_.erase(id);
}

void PollLoop::Post(std::function<void()> fn) {
  {
    std::lock_guard lock(postMutex_);
    posted_.push_back(std::move(fn));
  }
  Wake();
}

void PollLoop::Quit() {
  quit_ = true;
  Wake();
}

void PollLoop::QuitFromSignal() {
  signalQuit_ = true;
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t r = ::write(wakeFd_, &one, sizeof one);
}

bool PollLoop::InLoopThread() const {
  return !running_ || std::this_thread::get_id() == loopThread_;
}

int PollLoop::NextTimeoutMs() {
  std::lock_guard lock(timerMutex_);
  const auto now = Clock::now();
  int64_t best = -1;
  for (const auto& [id, t] : timers_) {
    if (!t.enabled) continue;
    const int64_t ms =
        std::max<int64_t>(0, std::chrono::ceil<std::chrono::milliseconds>(t.due - now).count());
    if (best < 0 || ms < best) best = ms;
  }
  return best < 0 ? -1 : static_cast<int>(std::min<int64_t>(best, INT_MAX));
}

void PollLoop::RunDueTimers() {
  std::vector<std::pair<TimerId, std::shared_ptr<std::function<void()>>>> due;
  {
    std::lock_guard lock(timerMutex_);
    const auto now = Clock::now();
    for (auto& [id, t] : timers_) {
      if (!t.enabled || t.due > now) continue;
      // Next tick one interval after this one; a late loop does not pile up ticks.
      t.due += std::chrono::milliseconds(t.intervalMs);
      if (t.due <= now) t.due = now + std::chrono::milliseconds(t.intervalMs);
      due.emplace_back(id, t.tick);
    }
  }
  for (auto& [id, tick] : due) {
    {
      // A tick earlier in this round may have disabled or removed this timer.
      std::lock_guard lock(timerMutex_);
      auto it = timers_.find(id);
      if (it == timers_.end() || !it->second.enabled) continue;
    }
    (*tick)();
    if (quit_ || signalQuit_) return;
  }
}

void PollLoop::RunPosted() {
  std::vector<std::function<void()>> batch;
  {
    std::lock_guard lock(postMutex_);
    batch.swap(posted_);
  }
  for (auto& fn : batch) fn();
}

void PollLoop::Run() {
  loopThread_ = std::this_thread::get_id();
  running_ = true;
  std::vector<pollfd> fds;
  std::vector<WatchId> ids;
  while (!quit_ && !signalQuit_) {
    fds.clear();
    ids.clear();
    fds.push_back(pollfd{wakeFd_, POLLIN, 0});
    ids.push_back(0);
    for (const auto& [id, w] : watches_) {
      short ev = 0;
      if (w.events & kReadable) ev |= POLLIN;
      if (w.events & kWritable) ev |= POLLOUT;
      if (ev == 0) continue;
      fds.push_back(pollfd{w.fd, ev, 0});
      ids.push_back(id);
    }
    const int timeout = NextTimeoutMs();
    const int n = ::poll(fds.data(), fds.size(), timeout);
    if (n < 0 && errno != EINTR) throw std::system_error(errno, std::generic_category(), "poll");
    if (fds[0].revents & POLLIN) DrainWake();
    for (size_t i = 1; n > 0 && i < fds.size() && !quit_ && !signalQuit_; ++i) {
      if (fds[i].revents == 0) continue;
      auto it = watches_.find(ids[i]);
      if (it == watches_.end() || it->second.fd != fds[i].fd) continue;  // unwatched meanwhile
      uint32_t events = 0;
      if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) events |= kReadable;
      if (fds[i].revents & (POLLOUT | POLLERR)) events |= kWritable;
      events &=
          it->second.events | ((fds[i].revents & (POLLHUP | POLLERR)) ? uint32_t{kReadable} : 0u);
      if (events == 0) continue;
      auto handler = it->second.handler;  // keeps the handler alive if it unwatches itself
      (*handler)(events);
    }
    if (quit_ || signalQuit_) break;
    RunDueTimers();
    RunPosted();
  }
  running_ = false;
  quit_ = false;
}

}  // namespace qv::platform
