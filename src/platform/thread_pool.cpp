#include "platform/thread_pool.h"

#include <system_error>

namespace qv::platform {

ThreadPool::ThreadPool(std::chrono::milliseconds idleLimit, size_t maxParked)
    : idleLimit_(idleLimit), maxParked_(maxParked) {}

ThreadPool::~ThreadPool() {
  std::unordered_map<std::thread::id, std::thread> threads;
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
    wake_.notify_all();
  }
  // Threads still running a job finish it first; none takes a new one once closing.
  for (;;) {
    std::unique_lock lock(mutex_);
    if (threads_.empty()) break;
    auto node = threads_.extract(threads_.begin());
    lock.unlock();
    if (node.mapped().joinable()) node.mapped().join();
  }
  JoinExited();
}

void ThreadPool::Run(std::function<void()> job) {
  JoinExited();
  {
    std::lock_guard lock(mutex_);
    if (parked_ > queued_.size()) {
      queued_.push_back(std::move(job));
      wake_.notify_one();
      return;
    }
  }
  // The lock is held until the new thread is in the table: a short job could otherwise try to
  // leave the table before it is in it, and never be joined.
  std::lock_guard lock(mutex_);
  std::thread thread([this, job = std::move(job)]() mutable { ThreadMain(std::move(job)); });
  const std::thread::id id = thread.get_id();
  threads_.emplace(id, std::move(thread));
}

void ThreadPool::ThreadMain(std::function<void()> job) {
  for (;;) {
    try {
      job();
    } catch (...) {  // NOLINT(bugprone-empty-catch): jobs report their own errors; the thread
                     // must survive one that did not
    }
    job = nullptr;  // what the job holds is released before the thread parks
    std::unique_lock lock(mutex_);
    if (closing_ || parked_ >= maxParked_) break;
    ++parked_;
    const bool woken =
        wake_.wait_for(lock, idleLimit_, [this] { return closing_ || !queued_.empty(); });
    --parked_;
    if (!woken || queued_.empty()) break;  // idle too long, or closing with nothing to do
    job = std::move(queued_.front());
    queued_.pop_front();
  }
  // Moves from the table to the exited list; the next Run (or the destructor) joins it. When
  // the destructor has taken it from the table already, the destructor joins it.
  std::lock_guard lock(mutex_);
  auto node = threads_.extract(std::this_thread::get_id());
  if (!node.empty()) exited_.push_back(std::move(node.mapped()));
}

void ThreadPool::JoinExited() {
  std::vector<std::thread> exited;
  {
    std::lock_guard lock(mutex_);
    exited.swap(exited_);
  }
  for (std::thread& thread : exited) {
    if (thread.joinable()) thread.join();
  }
}

size_t ThreadPool::ParkedThreads() const {
  std::lock_guard lock(mutex_);
  return parked_;
}

size_t ThreadPool::Threads() const {
  std::lock_guard lock(mutex_);
  return threads_.size();
}

}  // namespace qv::platform
