#pragma once
// A worker thread with what the server asks of its threads: start (optionally suspended),
// suspend and resume, "still running" (exit code 259) versus finished, and terminate.
// Termination is cooperative: it sets the stop flag, wakes the thread's waits, runs the
// interrupt hook (for example shutting down the socket a blocked send is on) and the thread
// leaves at its next wait or checkpoint. Nothing is ever killed; a finished thread is joined.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace qv::platform {

class ThreadPool;

class WorkerThread : public std::enable_shared_from_this<WorkerThread> {
 public:
  static constexpr uint32_t kStillActive = 259;
  using Body = std::function<uint32_t(WorkerThread& self)>;

  // Throws std::system_error when the system cannot create the thread.
  static std::shared_ptr<WorkerThread> Start(Body body, bool suspended = false);
  // The same on a thread of the pool (a parked one when there is one). The pool must outlive
  // the returned object. Join then waits for the body to end, not for the thread.
  static std::shared_ptr<WorkerThread> Start(ThreadPool& pool, Body body, bool suspended = false);
  ~WorkerThread();
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  void Suspend();  // takes effect at the thread's next checkpoint or wait
  void Resume();
  bool Suspended() const;

  // Cooperative termination; the exit code becomes `exitCode` once the thread has left.
  void Terminate(uint32_t exitCode = 0);
  // Called (on the terminating thread) by Terminate, to unblock a system call of the worker.
  void SetInterruptHook(std::function<void()> hook);

  uint32_t ExitCode() const;  // kStillActive while the body runs
  bool Running() const { return ExitCode() == kStillActive; }
  // Waits for the thread to finish (never from the thread itself).
  void Join();
  bool JoinFor(std::chrono::milliseconds limit);

  // For the body: block while suspended; false once termination was requested.
  bool Checkpoint();
  bool StopRequested() const;
  // Interruptible sleep; false once termination was requested.
  bool SleepFor(std::chrono::milliseconds duration);
  // Waits on cv (with lock held by the caller) until pred, termination, or the limit.
  // Returns pred() at the end; the caller tests StopRequested() as well.
  template <class Pred>
  bool WaitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
               std::chrono::milliseconds limit, Pred pred) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!pred() && !StopRequested()) {
      if (cv.wait_until(lock, std::min(deadline, std::chrono::steady_clock::now() +
                                                     std::chrono::milliseconds(50))) ==
              std::cv_status::timeout &&
          std::chrono::steady_clock::now() >= deadline) {
        break;
      }
    }
    return pred();
  }

 private:
  WorkerThread() = default;
  void Main(Body body);

  mutable std::mutex mutex_;
  std::condition_variable cv_;
  bool suspended_ = false;
  bool stop_ = false;
  bool finished_ = false;
  uint32_t exitCode_ = kStillActive;
  uint32_t terminateCode_ = 0;
  std::function<void()> interruptHook_;
  std::thread::id runner_;  // the thread running the body (pool threads only)
  bool pooled_ = false;
  std::thread thread_;
  std::mutex joinMutex_;
};

// Gives the calling thread the lowest CPU priority (nice 19), so that it runs on what the
// server's other threads leave. False when the system refused.
bool LowerCallingThreadPriority();

}  // namespace qv::platform
