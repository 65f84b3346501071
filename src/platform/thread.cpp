#include "platform/thread.h"

#include <sys/resource.h>
#include <unistd.h>

#include <system_error>

#include "platform/thread_pool.h"

namespace qv::platform {

std::shared_ptr<WorkerThread> WorkerThread::Start(Body body, bool suspended) {
  std::shared_ptr<WorkerThread> self(new WorkerThread());
  self->suspended_ = suspended;
  // The thread holds only a raw pointer: the owner keeps the object alive and joins it.
  self->thread_ = std::thread(
      [raw = self.get(), body = std::move(body)]() mutable { raw->Main(std::move(body)); });
  return self;
}

std::shared_ptr<WorkerThread> WorkerThread::Start(ThreadPool& pool, Body body, bool suspended) {
  std::shared_ptr<WorkerThread> self(new WorkerThread());
  self->suspended_ = suspended;
  self->pooled_ = true;
  // As with an own thread, the owner keeps the object alive and joins (waits for) it.
  try {
    pool.Run([raw = self.get(), body = std::move(body)]() mutable { raw->Main(std::move(body)); });
  } catch (...) {
    self->finished_ = true;  // nothing runs: the object is released without waiting
    throw;
  }
  return self;
}

WorkerThread::~WorkerThread() {
  Terminate();
  if (thread_.joinable() && thread_.get_id() == std::this_thread::get_id()) {
    thread_.detach();  // the last owner let go from inside the thread itself
  } else {
    Join();
  }
}

void WorkerThread::Main(Body body) {
  if (pooled_) {
    std::lock_guard lock(mutex_);
    runner_ = std::this_thread::get_id();
  }
  uint32_t code = 1;
  if (Checkpoint()) {
    try {
      code = body(*this);
    } catch (...) {
      code = 1;
    }
  }
  body = nullptr;  // what the body holds goes before the thread counts as finished
  // Once finished_ is set and the lock is left, the owner may release the object.
  std::lock_guard lock(mutex_);
  exitCode_ = stop_ ? terminateCode_ : code;
  if (exitCode_ == kStillActive) exitCode_ = 0;
  finished_ = true;
  cv_.notify_all();
}

void WorkerThread::Suspend() {
  std::lock_guard lock(mutex_);
  if (!finished_) suspended_ = true;
}

void WorkerThread::Resume() {
  std::lock_guard lock(mutex_);
  suspended_ = false;
  cv_.notify_all();
}

bool WorkerThread::Suspended() const {
  std::lock_guard lock(mutex_);
  return suspended_;
}

void WorkerThread::Terminate(uint32_t exitCode) {
  std::function<void()> hook;
  {
    std::lock_guard lock(mutex_);
    if (finished_ || stop_) return;
    stop_ = true;
    terminateCode_ = exitCode;
    hook = interruptHook_;
    cv_.notify_all();
  }
  if (hook) hook();
}

void WorkerThread::SetInterruptHook(std::function<void()> hook) {
  std::lock_guard lock(mutex_);
  interruptHook_ = std::move(hook);
}

uint32_t WorkerThread::ExitCode() const {
  std::lock_guard lock(mutex_);
  return exitCode_;
}

void WorkerThread::Join() {
  if (pooled_) {
    std::unique_lock lock(mutex_);
    if (runner_ == std::this_thread::get_id()) return;  // never from the body itself
    cv_.wait(lock, [this] { return finished_; });
    return;
  }
  std::lock_guard lock(joinMutex_);
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

bool WorkerThread::JoinFor(std::chrono::milliseconds limit) {
  {
    std::unique_lock lock(mutex_);
    if (!cv_.wait_for(lock, limit, [this] { return finished_; })) return false;
  }
  Join();
  return true;
}

bool WorkerThread::Checkpoint() {
  std::unique_lock lock(mutex_);
  cv_.wait(lock, [this] { return !suspended_ || stop_; });
  return !stop_;
}

bool WorkerThread::StopRequested() const {
  std::lock_guard lock(mutex_);
  return stop_;
}

bool WorkerThread::SleepFor(std::chrono::milliseconds duration) {
  std::unique_lock lock(mutex_);
  cv_.wait_for(lock, duration, [this] { return stop_; });
  lock.unlock();
  return Checkpoint();
}

bool LowerCallingThreadPriority() {
  // On Linux the nice value belongs to the thread named by its id.
  return ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19) == 0;
}

}  // namespace qv::platform
