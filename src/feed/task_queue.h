#pragma once
// The HTTP listener's worker threads: a fixed number, each at the lowest CPU priority, so that
// building a calendar only ever uses CPU time the TCP service leaves over.
#include <httplib.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace qv::feed {

class LowPriorityTaskQueue final : public httplib::TaskQueue {
 public:
  explicit LowPriorityTaskQueue(size_t threads);
  ~LowPriorityTaskQueue() override;

  void enqueue(std::function<void()> fn) override;
  // Runs what is queued, then ends the threads.
  void shutdown() override;

 private:
  void Run();

  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> tasks_;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace qv::feed
