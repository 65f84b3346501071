#include "state/thread_reaper.h"

#include <utility>

namespace qv::service {

ThreadReaper::~ThreadReaper() {
  std::vector<std::shared_ptr<platform::WorkerThread>> threads;
  {
    std::lock_guard lock(mutex_);
    threads.swap(threads_);
  }
  for (auto& thread : threads) thread->Terminate(0);
  threads.clear();  // each release waits for its thread to leave
}

void ThreadReaper::Add(std::shared_ptr<platform::WorkerThread> thread) {
  if (!thread) return;
  std::lock_guard lock(mutex_);
  threads_.push_back(std::move(thread));
}

size_t ThreadReaper::Sweep() {
  std::vector<std::shared_ptr<platform::WorkerThread>> finished;
  size_t held;
  {
    std::lock_guard lock(mutex_);
    for (auto it = threads_.begin(); it != threads_.end();) {
      if (!(*it)->Running()) {
        finished.push_back(std::move(*it));
        it = threads_.erase(it);
      } else {
        ++it;
      }
    }
    held = threads_.size();
  }
  return held;  // finished ones are released here, outside the lock, without waiting
}

size_t ThreadReaper::Held() const {
  std::lock_guard lock(mutex_);
  return threads_.size();
}

}  // namespace qv::service
