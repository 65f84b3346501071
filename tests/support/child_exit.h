#pragma once
// Waiting a bounded time for a child process to end, for tests that start programs.
#include <sys/types.h>
#include <sys/wait.h>

#include <chrono>
#include <optional>
#include <thread>

namespace qv::test {

// Waits up to limit for pid to end. status keeps the raw wait status once it has ended (so a
// second call returns it at once); empty while the child still runs.
inline std::optional<int> WaitChildExit(pid_t pid, std::optional<int>& status,
                                        std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!status) {
    int raw = 0;
    if (::waitpid(pid, &raw, WNOHANG) == pid) {
      status = raw;
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return status;
}

}  // namespace qv::test
