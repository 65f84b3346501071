#pragma once
// What a test reads of the daemon's process from /proc: resident memory, threads, descriptors.
#include <sys/types.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace qv::test {

// A "Name: value" field of /proc/<pid>/status as a number; -1 when missing.
inline long ProcStatusField(pid_t pid, const std::string& name) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(name + ":", 0) == 0) return std::stol(line.substr(name.size() + 1));
  }
  return -1;
}

inline long ResidentKb(pid_t pid) {
  return ProcStatusField(pid, "VmRSS");
}
inline long ThreadCount(pid_t pid) {
  return ProcStatusField(pid, "Threads");
}
inline long OpenDescriptors(pid_t pid) {
  std::error_code error;
  long n = 0;
  for (std::filesystem::directory_iterator it("/proc/" + std::to_string(pid) + "/fd", error), end;
       !error && it != end; it.increment(error)) {
    ++n;
  }
  return error ? -1 : n;
}

// The sanitizers inflate memory and time; bounds of a test are scaled by this. ThreadSanitizer
// slows every memory access and lock of both the daemon and the test's own clients.
inline constexpr int kSanitizerFactor =
#if defined(__SANITIZE_THREAD__)
    10;
#elif defined(__SANITIZE_ADDRESS__)
    4;
#else
    1;
#endif
inline constexpr bool kSanitized = kSanitizerFactor > 1;

}  // namespace qv::test
