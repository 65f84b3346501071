#pragma once
// Threads that were asked to stop but may not have left yet. The event thread hands them over
// instead of waiting for them; the housekeeping tick sweeps out those that have finished, and
// whatever is left is waited for when the server goes.
#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/thread.h"

namespace qv::service {

class ThreadReaper {
 public:
  ThreadReaper() = default;
  ~ThreadReaper();
  ThreadReaper(const ThreadReaper&) = delete;
  ThreadReaper& operator=(const ThreadReaper&) = delete;

  void Add(std::shared_ptr<platform::WorkerThread> thread);
  // Releases the finished threads; returns how many are still held.
  size_t Sweep();
  size_t Held() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<platform::WorkerThread>> threads_;
};

}  // namespace qv::service
