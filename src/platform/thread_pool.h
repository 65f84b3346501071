#pragma once
// Threads kept parked after their job, so that the next job starts on a thread that is woken
// rather than created. A woken thread runs within microseconds; a new one waits for its first
// turn of the scheduler, which on a busy machine takes milliseconds. Threads parked longer than
// the idle limit end, and at most maxParked are kept.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace qv::platform {

class ThreadPool {
 public:
  explicit ThreadPool(std::chrono::milliseconds idleLimit = std::chrono::seconds(10),
                      size_t maxParked = 32);
  // Ends the parked threads and waits for the busy ones to finish their jobs.
  ~ThreadPool();
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  // Runs job on a parked thread, or on a new one when none is parked. Throws std::system_error
  // when a thread is needed and the system cannot create it (the job is then not run).
  void Run(std::function<void()> job);

  size_t ParkedThreads() const;
  size_t Threads() const;  // parked and busy

 private:
  void ThreadMain(std::function<void()> job);
  void JoinExited();

  const std::chrono::milliseconds idleLimit_;
  const size_t maxParked_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> queued_;  // jobs given to parked threads, not yet taken
  size_t parked_ = 0;
  bool closing_ = false;
  std::unordered_map<std::thread::id, std::thread> threads_;
  std::vector<std::thread> exited_;  // threads that left ThreadMain, to be joined
};

}  // namespace qv::platform
