#pragma once
// Jobs run one after the other, in the order given, on threads of a pool: at most one of them
// runs at any time and no thread is kept for the queue while it is empty.
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "platform/thread_pool.h"

namespace qv::platform {

class SerialJobs {
 public:
  explicit SerialJobs(ThreadPool& pool) : pool_(pool) {}
  // Waits for the running job; jobs not started yet are dropped.
  ~SerialJobs();
  SerialJobs(const SerialJobs&) = delete;
  SerialJobs& operator=(const SerialJobs&) = delete;

  // Queues job. Throws std::system_error when a thread is needed and cannot be had (the job
  // is then not queued).
  void Run(std::function<void()> job);
  size_t Waiting() const;
  // Waits until every job queued so far, and every job those queue, has run.
  void Finish();

 private:
  void Drain();

  ThreadPool& pool_;
  mutable std::mutex mutex_;
  std::condition_variable idle_;
  std::deque<std::function<void()>> jobs_;
  bool running_ = false;
  bool closing_ = false;
};

}  // namespace qv::platform
