#pragma once
// Figures of this process as the kernel keeps them (/proc/self), for the metrics page.
#include <cstdint>
#include <optional>

namespace qv::platform {

struct ProcessFigures {
  double StartTimeSeconds = 0;  // since the Unix epoch
  double CpuSeconds = 0;        // user and system
  int64_t ResidentBytes = 0;
  int64_t VirtualBytes = 0;
  int64_t OpenFds = 0;
  int64_t MaxFds = 0;  // the soft limit
};

// Empty when /proc cannot be read.
std::optional<ProcessFigures> ReadProcessFigures();

}  // namespace qv::platform
