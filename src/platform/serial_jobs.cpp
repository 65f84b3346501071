#include "platform/serial_jobs.h"

#include <utility>

namespace qv::platform {

SerialJobs::~SerialJobs() {
  std::unique_lock lock(mutex_);
  closing_ = true;
  jobs_.clear();
  idle_.wait(lock, [this] { return !running_; });
}

void SerialJobs::Run(std::function<void()> job) {
  std::lock_guard lock(mutex_);
  if (closing_) return;
  jobs_.push_back(std::move(job));
  if (running_) return;
  try {
    pool_.Run([this] { Drain(); });
  } catch (...) {
    jobs_.pop_back();
    throw;
  }
  running_ = true;
}

size_t SerialJobs::Waiting() const {
  std::lock_guard lock(mutex_);
  return jobs_.size();
}

void SerialJobs::Finish() {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [this] { return !running_ && jobs_.empty(); });
}

void SerialJobs::Drain() {
  std::unique_lock lock(mutex_);
  while (!jobs_.empty()) {
    std::function<void()> job = std::move(jobs_.front());
    jobs_.pop_front();
    lock.unlock();
    try {
      job();
    } catch (...) {
      // A job reports its own failures; one that throws does not stop those behind it.
    }
    job = nullptr;  // what it holds is released outside the lock
    lock.lock();
  }
  running_ = false;
  idle_.notify_all();
}

}  // namespace qv::platform
