#include "feed/task_queue.h"

#include "platform/thread.h"

namespace qv::feed {

LowPriorityTaskQueue::LowPriorityTaskQueue(size_t threads) {
  for (size_t i = 0; i < threads; ++i) threads_.emplace_back([this] { Run(); });
}

LowPriorityTaskQueue::~LowPriorityTaskQueue() {
  shutdown();
}

void LowPriorityTaskQueue::enqueue(std::function<void()> fn) {
  {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(fn));
  }
  ready_.notify_one();
}

void LowPriorityTaskQueue::shutdown() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  ready_.notify_all();
  for (std::thread& t : threads_) {
    if (t.joinable()) t.join();
  }
}

void LowPriorityTaskQueue::Run() {
  platform::LowerCallingThreadPriority();
  for (;;) {
    std::function<void()> task;
    {
      std::unique_lock lock(mutex_);
      ready_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
      if (tasks_.empty()) return;  // stopping, nothing left
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    try {
      task();
    } catch (...) {
      // httplib handles its own errors; nothing may end a worker thread.
    }
  }
}

}  // namespace qv::feed
